// The library's five exports and its load.

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "ComObject.h"
#include "ComPtr.h"
#include "HResult.h"
#include "Module.h"
#include "ShellModule.h"
#include "ShellRegistration.h"

using namespace pelko;

namespace {

// Waiting here is on Explorer's thread: short, and asked again later.
constexpr DWORD kWorkerStopWaitMs = 200;

bool g_perUserRegistration = false;

// Class factories, made once per process on first request and kept.
std::mutex g_factoryLock;
std::vector<std::pair<const ServedClass*, com_ptr<IClassFactory>>>* g_factories = nullptr;

HRESULT CachedClassFactory(const ServedClass& served, com_ptr<IClassFactory>& factory) {
  std::lock_guard lock(g_factoryLock);
  if (!g_factories) g_factories = new std::vector<std::pair<const ServedClass*, com_ptr<IClassFactory>>>();
  for (auto& [cachedClass, cachedFactory] : *g_factories) {
    if (cachedClass == &served) {
      factory = cachedFactory;
      return S_OK;
    }
  }
  auto* created = CachedComObject<CClassFactory>::Create(ClassEntry{served.clsid, served.create});
  RETURN_HR_IF(E_OUTOFMEMORY, !created);
  factory = com_ptr<IClassFactory>::attach(created);
  g_factories->emplace_back(&served, factory);
  return S_OK;
}

// The library's own path, or why it cannot be had.
HRESULT LibraryPath(std::wstring& path) {
  path = ModuleFilePath(g_instance);
  return path.empty() ? HResultFromLastError() : S_OK;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    InitializeModuleGlobals(instance);
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return CanUnloadModule(kWorkerStopWaitMs); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** result) {
  if (!result) return E_POINTER;
  *result = nullptr;
  const ServedClass* served = FindServedClass(clsid);
  if (!served) return CLASS_E_CLASSNOTAVAILABLE;
  return CatchAll([&]() -> HRESULT {
    com_ptr<IClassFactory> factory;
    RETURN_IF_FAILED(CachedClassFactory(*served, factory));
    return factory->QueryInterface(iid, result);
  });
}

STDAPI DllRegisterServer() {
  return CatchAll([] {
    std::wstring path;
    RETURN_IF_FAILED(LibraryPath(path));
    return RegisterShellExtension(path, g_perUserRegistration);
  });
}

STDAPI DllUnregisterServer() {
  return CatchAll([] {
    std::wstring path;
    RETURN_IF_FAILED(LibraryPath(path));
    return UnregisterShellExtension(path, g_perUserRegistration);
  });
}

STDAPI DllInstall(BOOL install, PCWSTR commandLine) {
  if (commandLine && lstrcmpiW(commandLine, L"user") == 0) g_perUserRegistration = true;
  if (!install) return DllUnregisterServer();
  const HRESULT registered = DllRegisterServer();
  if (FAILED(registered)) DllUnregisterServer();
  return registered;
}
