// ExplorerHarness: plays Explorer's part for the shell extension where no
// Explorer is at hand. It finds the context-menu handlers Explorer would
// load (HKCR\*\ShellEx\ContextMenuHandlers and HKCR\Folder\ShellEx\...),
// creates each in-process, gives it a real CF_HDROP data object for the
// paths, asks for its entries on a real menu, prints the menu tree, and
// invokes a command if asked. It listens for the shell's change
// notifications on a window of its own, made before any handler is loaded
// (Wine delivers them only inside the sending process, and the window also
// Explorer has the theme library loaded, which menu bitmaps need), and
// prints them.
//
//   ExplorerHarness menu [--flags N] [--helptext OFFSET]... [--invoke OFFSET | --verb TEXT] PATH...
//
// Output, one fact per line:
//   handler {CLSID}
//   result 0x0000000C
//   item 0 separator
//   item 1 "&Pelko Labels" id=100 bitmap=yes submenu
//     item 0 " Red" id=101 bitmap=no
//   helptext 1 " Red"
//   invoke 3 0x00000000
//   notify 0x00002000 D:\x\a.txt

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ComObject.h"
#include "ComPtr.h"
#include "UniqueHandle.h"

namespace {

using namespace pelko;

constexpr UINT kNotifyMessage = WM_APP + 1;
constexpr UINT kFirstCommandId = 100;
constexpr UINT kLastCommandId = 0x7FFF;

std::string Utf8(std::wstring_view text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

// A data object that offers the selection the way Explorer does: CF_HDROP.
class CDropDataObject : public IDataObject {
 public:
  explicit CDropDataObject(std::vector<std::wstring> paths) : m_paths(std::move(paths)) {}

  static const QITAB* InterfaceTable() {
    static const QITAB table[] = {QITABENT(CDropDataObject, IDataObject), {}};
    return table;
  }

  IFACEMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (!format || !medium) return E_POINTER;
    if (format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
    std::size_t characters = 1;
    for (const std::wstring& path : m_paths) characters += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + characters * sizeof(wchar_t));
    if (!memory) return E_OUTOFMEMORY;
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* text = reinterpret_cast<wchar_t*>(drop + 1);
    for (const std::wstring& path : m_paths) {
      std::memcpy(text, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
      text += path.size() + 1;
    }
    GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  IFACEMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  IFACEMETHODIMP QueryGetData(FORMATETC* format) override {
    return format && format->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
  }
  IFACEMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    if (out) out->ptd = nullptr;
    return E_NOTIMPL;
  }
  IFACEMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  IFACEMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  IFACEMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
  IFACEMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  IFACEMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  std::vector<std::wstring> m_paths;
};

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kNotifyMessage) {
    PIDLIST_ABSOLUTE* items = nullptr;
    LONG event = 0;
    HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &items, &event);
    if (lock) {
      wchar_t path[MAX_PATH] = {};
      if (items && items[0]) SHGetPathFromIDListW(items[0], path);
      std::printf("notify 0x%08lX %s\n", static_cast<unsigned long>(event), Utf8(path).c_str());
      SHChangeNotification_Unlock(lock);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The window that hears the shell's notifications.
HWND CreateListener() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ListenerProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"PelkoExplorerHarness";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
  if (!window) return nullptr;
  SHChangeNotifyEntry everything{nullptr, TRUE};
  SHChangeNotifyRegister(window, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery, SHCNE_ALLEVENTS,
                         kNotifyMessage, 1, &everything);
  return window;
}

void PumpMessages(DWORD forMs) {
  const DWORD started = GetTickCount();
  while (GetTickCount() - started < forMs) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(10);
  }
}

void PrintMenu(HMENU menu, int depth) {
  const int count = GetMenuItemCount(menu);
  for (int position = 0; position < count; ++position) {
    wchar_t text[512] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU | MIIM_BITMAP | MIIM_CHECKMARKS;
    item.dwTypeData = text;
    item.cch = 511;
    GetMenuItemInfoW(menu, position, TRUE, &item);
    std::printf("%*sitem %d ", depth * 2, "", position);
    if (item.fType & MFT_SEPARATOR) {
      std::printf("separator\n");
      continue;
    }
    const bool bitmap = item.hbmpItem != nullptr || item.hbmpChecked != nullptr;
    std::printf("\"%s\" id=%u bitmap=%s%s%s\n", Utf8(text).c_str(), item.wID, bitmap ? "yes" : "no",
                item.hbmpItem == HBMMENU_CALLBACK ? " owner-drawn" : "", item.hSubMenu ? " submenu" : "");
    if (item.hSubMenu) PrintMenu(item.hSubMenu, depth + 1);
  }
}

// The handlers Explorer would load for files and folders, each once.
std::vector<CLSID> ContextMenuHandlers() {
  std::vector<CLSID> handlers;
  for (const wchar_t* key : {L"*\\ShellEx\\ContextMenuHandlers", L"Folder\\ShellEx\\ContextMenuHandlers"}) {
    unique_hkey list;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, list.put()) != ERROR_SUCCESS) continue;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
      DWORD length = 256;
      if (RegEnumKeyExW(list.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      wchar_t value[64] = {};
      LONG size = sizeof value;
      CLSID clsid;
      if (RegQueryValueW(list.get(), name, value, &size) != ERROR_SUCCESS || FAILED(CLSIDFromString(value, &clsid))) {
        continue;
      }
      bool known = false;
      for (const CLSID& existing : handlers) known = known || IsEqualCLSID(existing, clsid);
      if (!known) handlers.push_back(clsid);
    }
  }
  return handlers;
}

struct Options {
  UINT flags = CMF_NORMAL;
  std::vector<UINT> helpTexts;
  int invoke = -1;
  std::string verb;
  std::vector<std::wstring> paths;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  if (argc < 2 || std::wstring(argv[1]) != L"menu") return false;
  for (int i = 2; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument == L"--flags" && i + 1 < argc) {
      options.flags = static_cast<UINT>(wcstoul(argv[++i], nullptr, 0));
    } else if (argument == L"--helptext" && i + 1 < argc) {
      options.helpTexts.push_back(static_cast<UINT>(wcstoul(argv[++i], nullptr, 0)));
    } else if (argument == L"--invoke" && i + 1 < argc) {
      options.invoke = static_cast<int>(wcstol(argv[++i], nullptr, 0));
    } else if (argument == L"--verb" && i + 1 < argc) {
      options.verb = Utf8(argv[++i]);
    } else {
      options.paths.push_back(argument);
    }
  }
  return true;
}

int RunMenu(const Options& options) {
  // Explorer always has the theme library loaded; menu bitmaps need it.
  LoadLibraryW(L"uxtheme.dll");
  HWND listener = CreateListener();
  if (!listener) std::printf("warning: no notification listener\n");
  for (const CLSID& clsid : ContextMenuHandlers()) {
    wchar_t name[64] = {};
    StringFromGUID2(clsid, name, 64);
    std::printf("handler %s\n", Utf8(name).c_str());
    com_ptr<IShellExtInit> init;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void());
    if (FAILED(hr)) {
      std::printf("create 0x%08lX\n", static_cast<unsigned long>(hr));
      continue;
    }
    com_ptr<IDataObject> data = com_ptr<IDataObject>::attach(ComObject<CDropDataObject>::Create(options.paths));
    init->Initialize(nullptr, data.get(), nullptr);
    com_ptr<IContextMenu> contextMenu;
    if (FAILED(init.query(contextMenu))) continue;
    unique_hmenu menu(CreatePopupMenu());
    hr = contextMenu->QueryContextMenu(menu.get(), 0, kFirstCommandId, kLastCommandId, options.flags);
    std::printf("result 0x%08lX\n", static_cast<unsigned long>(hr));
    PrintMenu(menu.get(), 0);
    for (UINT offset : options.helpTexts) {
      wchar_t text[260] = {};
      hr = contextMenu->GetCommandString(offset, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(text), 260);
      std::printf("helptext %u 0x%08lX \"%s\"\n", offset, static_cast<unsigned long>(hr), Utf8(text).c_str());
    }
    if (options.invoke >= 0 || !options.verb.empty()) {
      CMINVOKECOMMANDINFO info{};
      info.cbSize = sizeof info;
      info.hwnd = listener;
      info.lpVerb = options.verb.empty() ? MAKEINTRESOURCEA(options.invoke) : options.verb.c_str();
      info.nShow = SW_SHOWNORMAL;
      hr = contextMenu->InvokeCommand(&info);
      std::printf("invoke %s 0x%08lX\n", options.verb.empty() ? std::to_string(options.invoke).c_str() : options.verb.c_str(),
                  static_cast<unsigned long>(hr));
    }
    PumpMessages(500);
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: ExplorerHarness menu [--flags N] [--helptext OFFSET]... [--invoke OFFSET | --verb TEXT] PATH...\n");
    return 2;
  }
  if (FAILED(OleInitialize(nullptr))) return 1;
  const int result = RunMenu(options);
  OleUninitialize();
  return result;
}
