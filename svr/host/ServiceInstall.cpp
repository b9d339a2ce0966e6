// Registration and the service control manager: the module's members that
// run for the registration switches.

#include <windows.h>

#include "HResult.h"
#include "Module.h"
#include "PelkoLabelSvr.h"
#include "Registration.h"
#include "ServiceModule.h"

namespace pelko {
namespace {

// The program's own path, at most 259 units, as the service manager and the
// class registration take it.
std::wstring ProgramPath() {
  std::wstring path = ModuleFilePath(nullptr);
  if (path.size() >= MAX_PATH) path.clear();
  return path;
}

bool WaitUntilStopped(SC_HANDLE service) {
  SERVICE_STATUS status{};
  for (int i = 0; i < 50; ++i) {
    if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) return true;
    Sleep(200);
  }
  return false;
}

}  // namespace

RegistryTarget CPelkoLabelSvrModule::Target() const {
  return {m_perUser ? RegistryScope::UserClasses : RegistryScope::MachineClasses, 0};
}

HRESULT CPelkoLabelSvrModule::Register(bool asService) {
  RETURN_IF_FAILED(UninstallService());
  RETURN_IF_FAILED(RegisterAppIdKey(asService));
  if (asService) RETURN_IF_FAILED(InstallAutoStartService());
  return RegisterServerEntries();
}

HRESULT CPelkoLabelSvrModule::Unregister() {
  RETURN_IF_FAILED(UnregisterServerEntries());
  RETURN_IF_FAILED(UninstallService());
  return UnregisterAppIdKey();
}

// The last error is taken before the message box, which may change it.
HRESULT CPelkoLabelSvrModule::Refused(std::wstring_view message) const {
  const HRESULT reason = HResultFromLastError();
  Message(message);
  return reason;
}

bool CPelkoLabelSvrModule::IsServiceInstalled() {
  unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return false;
  unique_sc_handle service(OpenServiceW(manager.get(), m_serviceName.c_str(), SERVICE_QUERY_CONFIG));
  return service.is_valid();
}

HRESULT CPelkoLabelSvrModule::InstallService() {
  if (IsServiceInstalled()) return S_OK;
  const std::wstring path = ProgramPath();
  RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), path.empty());
  const std::wstring quoted = L"\"" + path + L"\"";

  unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Refused(L"Could not open Service Manager");
  unique_sc_handle service(CreateServiceW(manager.get(), m_serviceName.c_str(), m_serviceName.c_str(),
                                          SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                          SERVICE_ERROR_NORMAL, quoted.c_str(), nullptr, nullptr, L"RPCSS\0",
                                          nullptr, nullptr));
  if (!service) return Refused(L"Could not start service");
  return S_OK;
}

HRESULT CPelkoLabelSvrModule::InstallAutoStartService() {
  RETURN_IF_FAILED(InstallService());
  unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  RETURN_HR_IF(HResultFromLastError(), !manager);
  unique_sc_handle service(OpenServiceW(manager.get(), m_serviceName.c_str(), SERVICE_CHANGE_CONFIG));
  RETURN_HR_IF(HResultFromLastError(), !service);
  RETURN_IF_WIN32_BOOL_FALSE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START,
                                                  SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr, nullptr));
  return S_OK;
}

HRESULT CPelkoLabelSvrModule::UninstallService() {
  if (!IsServiceInstalled()) return S_OK;
  unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Refused(L"Could not open Service Manager");
  unique_sc_handle service(OpenServiceW(manager.get(), m_serviceName.c_str(), SERVICE_STOP | DELETE | SERVICE_QUERY_STATUS));
  if (!service) return Refused(L"Could not open service");
  SERVICE_STATUS status{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    // Let it save its labels before the service entry goes.
    WaitUntilStopped(service.get());
  } else {
    const DWORD error = GetLastError();
    const bool alreadyStopping =
        error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL && status.dwCurrentState == SERVICE_STOP_PENDING;
    // Not a failure: the entry can go all the same.
    if (error != ERROR_SERVICE_NOT_ACTIVE && !alreadyStopping) Message(L"Could not stop service");
  }
  if (!DeleteService(service.get())) return Refused(L"Could not delete service");
  return S_OK;
}

HRESULT CPelkoLabelSvrModule::RegisterAppIdKey(bool asService) {
  const RegistryTarget target = Target();
  RETURN_IF_FAILED(WriteRegistryKeys(AppIdEntries(m_serviceName), target));

  const ClassesRoot root(target);
  RETURN_IF_WIN32_ERROR(root.error());
  unique_hkey appId;
  RETURN_IF_WIN32_ERROR(RegOpenKeyExW(root.get(), (L"AppID\\" + GuidString(kAppId)).c_str(), 0, KEY_WRITE, appId.put()));
  RegDeleteValueW(appId.get(), L"LocalService");
  if (!asService) return S_OK;

  const auto bytes = static_cast<DWORD>((m_serviceName.size() + 1) * sizeof(wchar_t));
  RETURN_IF_WIN32_ERROR(RegSetValueExW(appId.get(), L"LocalService", 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(m_serviceName.c_str()), bytes));
  return S_OK;
}

HRESULT CPelkoLabelSvrModule::UnregisterAppIdKey() {
  const RegistryTarget target = Target();
  const ClassesRoot root(target);
  unique_hkey appId;
  if (root.get() && RegOpenKeyExW(root.get(), (L"AppID\\" + GuidString(kAppId)).c_str(), 0, KEY_WRITE,
                                  appId.put()) == ERROR_SUCCESS) {
    RegDeleteValueW(appId.get(), L"LocalService");
  }
  return RemoveRegistryKeys(AppIdEntries(m_serviceName), target);
}

HRESULT CPelkoLabelSvrModule::RegisterServerEntries() {
  const std::wstring path = ProgramPath();
  RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), path.empty());
  const RegistryTarget target = Target();
  RETURN_IF_FAILED(WriteRegistryKeys(ClassEntries(path), target));

  // The type library: the program's own resource, else the .tlb beside it.
  std::wstring libraryPath = path;
  com_ptr<ITypeLib> library;
  if (FAILED(LoadTypeLibEx(libraryPath.c_str(), REGKIND_NONE, library.put()))) {
    libraryPath = path.substr(0, path.rfind(L'.')) + L".tlb";
    RETURN_IF_FAILED(LoadTypeLibEx(libraryPath.c_str(), REGKIND_NONE, library.put()));
  }
  const wchar_t* platform = sizeof(void*) == 8 ? L"win64" : L"win32";
  if (m_perUser) {
    // RegisterTypeLibForUser is missing on XP and registers machine-wide
    // under Wine: the per-user keys are written directly.
    return WriteRegistryKeys(TypeLibraryEntries(libraryPath, platform), target);
  }
  std::wstring folder = libraryPath.substr(0, libraryPath.rfind(L'\\'));
  RETURN_IF_FAILED(RegisterTypeLib(library.get(), libraryPath.data(), folder.data()));
  if constexpr (sizeof(void*) == 8) {
    // 32-bit programs (a 32-bit Explorer loads the x86 extension) look the
    // interface and the library up in the 32-bit view.
    RETURN_IF_FAILED(WriteRegistryKeys(TypeLibraryEntries(libraryPath, L"win32"), {RegistryScope::MachineClasses, KEY_WOW64_32KEY}));
  }
  return S_OK;
}

HRESULT CPelkoLabelSvrModule::UnregisterServerEntries() {
  const RegistryTarget target = Target();
  RETURN_IF_FAILED(RemoveRegistryKeys(ClassEntries(ProgramPath()), target));
  const wchar_t* platform = sizeof(void*) == 8 ? L"win64" : L"win32";
  if (m_perUser) return RemoveRegistryKeys(TypeLibraryEntries(ProgramPath(), platform), target);
  // Already gone is fine: unregistering twice must not fail (Wine answers
  // E_INVALIDARG for a library that is not registered).
  unique_hkey registered;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"TypeLib\\" + GuidString(LIBID_PelkoLabelSvrLib) + L"\\1.0").c_str(), 0,
                    KEY_READ, registered.put()) == ERROR_SUCCESS) {
    registered.reset();
    RETURN_IF_FAILED(
        UnRegisterTypeLib(LIBID_PelkoLabelSvrLib, 1, 0, LOCALE_NEUTRAL, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32));
  }
  if constexpr (sizeof(void*) == 8) {
    RETURN_IF_FAILED(RemoveRegistryKeys(TypeLibraryEntries(ProgramPath(), L"win32"), {RegistryScope::MachineClasses, KEY_WOW64_32KEY}));
  }
  return S_OK;
}

}  // namespace pelko
