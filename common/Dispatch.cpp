#include "Dispatch.h"

#include <mutex>
#include <vector>

#include "HResult.h"
#include "Module.h"

namespace pelko {
namespace {

struct CachedTypeInfo {
  IID iid;
  com_ptr<ITypeInfo> info;
};

std::mutex g_typeInfoLock;
std::vector<CachedTypeInfo>* g_typeInfos = nullptr;  // never freed: type infos may be used until the process ends

}  // namespace

HRESULT LoadModuleTypeLib(ITypeLib** result) noexcept {
  return CatchAll([&] {
    const std::wstring module = ModuleFilePath(ThisModule());
    HRESULT hr = LoadTypeLibEx(module.c_str(), REGKIND_NONE, result);
    if (SUCCEEDED(hr)) return hr;
    const std::size_t dot = module.rfind(L'.');
    if (dot == std::wstring::npos) return hr;
    return LoadTypeLibEx((module.substr(0, dot) + L".tlb").c_str(), REGKIND_NONE, result);
  });
}

HRESULT GetModuleTypeInfo(REFGUID libid, REFIID iid, ITypeInfo** result) noexcept {
  return CatchAll([&]() -> HRESULT {
    std::lock_guard lock(g_typeInfoLock);
    if (!g_typeInfos) g_typeInfos = new std::vector<CachedTypeInfo>();
    for (const CachedTypeInfo& cached : *g_typeInfos) {
      if (IsEqualIID(cached.iid, iid)) {
        *result = com_ptr<ITypeInfo>(cached.info).detach();
        return S_OK;
      }
    }
    com_ptr<ITypeLib> library;
    HRESULT hr = LoadModuleTypeLib(library.put());
    if (FAILED(hr)) return hr;
    TLIBATTR* attributes = nullptr;
    RETURN_IF_FAILED(library->GetLibAttr(&attributes));
    const bool expectedLibrary = IsEqualGUID(attributes->guid, libid);
    library->ReleaseTLibAttr(attributes);
    RETURN_HR_IF(TYPE_E_LIBNOTREGISTERED, !expectedLibrary);
    com_ptr<ITypeInfo> info;
    hr = library->GetTypeInfoOfGuid(iid, info.put());
    if (FAILED(hr)) return hr;
    g_typeInfos->push_back({iid, info});
    *result = info.detach();
    return S_OK;
  });
}

}  // namespace pelko
