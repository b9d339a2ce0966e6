// FakeLabelSvr: a stand-in label service for the extension's tests. It
// registers itself under the real ProgID and class ID (in a test prefix of
// its own) and serves ILabelUtil from memory; a file C:\fake-label-hang.txt
// holding a number of milliseconds makes every call wait that long first,
// as a hung or starting service would.
//   FakeLabelSvr.exe /RegServer      register (class, ProgID, type library)
//   FakeLabelSvr.exe -Embedding      serve (COM starts it so)

#include <windows.h>
#include <ole2.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "ClassFactory.h"
#include "ComObject.h"
#include "ComPtr.h"
#include "Module.h"
#include "PelkoLabelSvr.h"
#include "RegistryWriter.h"
#include "UniqueHandle.h"

namespace {

using namespace pelko;

void WaitAsTold() {
  unique_hfile file(CreateFileW(L"C:\\fake-label-hang.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return;
  char text[32] = {};
  DWORD read = 0;
  ReadFile(file.get(), text, sizeof text - 1, &read, nullptr);
  Sleep(static_cast<DWORD>(std::strtoul(text, nullptr, 10)));
}

std::mutex g_lock;
std::map<std::wstring, ULONG> g_labels;

class CFakeLabelUtil : public ILabelUtil {
 public:
  static const QITAB* InterfaceTable() {
    static const QITAB table[] = {QITABENT(CFakeLabelUtil, ILabelUtil), QITABENT(CFakeLabelUtil, IDispatch), {}};
    return table;
  }
  IFACEMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  IFACEMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

  IFACEMETHODIMP GetLabel(BSTR path, ULONG* value) override {
    WaitAsTold();
    std::lock_guard lock(g_lock);
    const auto found = g_labels.find(path ? path : L"");
    *value = found == g_labels.end() ? 0 : found->second;
    return S_OK;
  }
  IFACEMETHODIMP SetLabel(BSTR path, ULONG value) override {
    WaitAsTold();
    std::lock_guard lock(g_lock);
    g_labels[path ? path : L""] = value;
    return S_OK;
  }
  IFACEMETHODIMP ClearLabel(BSTR path) override {
    WaitAsTold();
    std::lock_guard lock(g_lock);
    g_labels.erase(path ? path : L"");
    return S_OK;
  }
  IFACEMETHODIMP GetLabelCollection(ULONG, ULONG* count, VARIANT*, VARIANT*) override {
    *count = 0;
    return S_OK;
  }
  IFACEMETHODIMP get_IsNewVersionNotified(VARIANT_BOOL* value) override {
    *value = VARIANT_FALSE;
    return S_OK;
  }
  IFACEMETHODIMP put_IsNewVersionNotified(VARIANT_BOOL) override { return S_OK; }
};

HRESULT CreateFake(IUnknown* outer, REFIID iid, void** result) noexcept {
  return CreateComInstance<CFakeLabelUtil>(outer, iid, result);
}

const ClassEntry kClasses[] = {{&CLSID_LabelUtil, &CreateFake}};

HRESULT Register() {
  const std::wstring program = ModuleFilePath(nullptr);
  const std::wstring clsid = GuidString(CLSID_LabelUtil);
  const std::vector<RegistryKey> keys = {
      {L"PelkoLabelSvr.LabelUtil", KeyRule::Remove, {{L"", L"LabelUtil Class"}}},
      {L"PelkoLabelSvr.LabelUtil\\CLSID", KeyRule::Remove, {{L"", clsid}}},
      {L"CLSID\\" + clsid, KeyRule::ForceRemove, {{L"", L"Fake LabelUtil"}}},
      {L"CLSID\\" + clsid + L"\\LocalServer32", KeyRule::Remove, {{L"", L"\"" + program + L"\""}}},
  };
  HRESULT hr = WriteRegistryKeys(keys, {});
  if (FAILED(hr)) return hr;
  // Marshalling ILabelUtil needs its type library.
  com_ptr<ITypeLib> library;
  hr = LoadTypeLibEx(program.c_str(), REGKIND_NONE, library.put());
  if (FAILED(hr)) return hr;
  return RegisterTypeLib(library.get(), const_cast<wchar_t*>(program.c_str()), nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  if (FAILED(CoInitialize(nullptr))) return 1;
  const std::wstring arguments = commandLine ? commandLine : L"";
  int result = 0;
  if (arguments.find(L"RegServer") != std::wstring::npos) {
    result = Register();
  } else {
    com_ptr<IClassFactory> factory;
    DWORD cookie = 0;
    if (FAILED(CreateClassFactory(kClasses, CLSID_LabelUtil, IID_IClassFactory, factory.put_void())) ||
        FAILED(CoRegisterClassObject(CLSID_LabelUtil, factory.get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie))) {
      result = 1;
    } else {
      // Serves until the test prefix ends.
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
      CoRevokeClassObject(cookie);
    }
  }
  CoUninitialize();
  return result;
}
