#include "ServiceModule.h"

#include <sddl.h>

#include <vector>

#include "ClassFactory.h"
#include "CommandLine.h"
#include "HResult.h"
#include "LabelUtil.h"
#include "Notices.h"
#include "PelkoLabelSvr.h"
#include "Registration.h"
#include "SaveScheduler.h"
#include "StoreEntryPoints.h"
#include "TickClock.h"
#include "Utf16.h"
#include "resource.h"

namespace pelko {
namespace {

CPelkoLabelSvrModule* s_module = nullptr;

const ClassEntry kServedClasses[] = {{&CLSID_LabelUtil, &CreateLabelUtil}};

constexpr DWORD kApplierStopWaitMs = 5000;
constexpr DWORD kSaverStopWaitMs = 1000;
constexpr DWORD kMonitorStopWaitMs = 1000;
constexpr DWORD kSaverTickMs = 500;
constexpr DWORD kStopWaitHintMs = kApplierStopWaitMs + kSaverStopWaitMs + 2000;

// Only local callers: the local system account, administrators and
// authenticated users may call (COM_RIGHTS_EXECUTE |
// COM_RIGHTS_EXECUTE_LOCAL), nobody remotely.
constexpr wchar_t kComAccess[] = L"O:BAG:BAD:(A;;0x3;;;SY)(A;;0x3;;;BA)(A;;0x3;;;AU)";

// CoInitializeSecurity takes only the absolute form of a descriptor.
class AbsoluteSecurityDescriptor {
 public:
  bool FromString(const wchar_t* sddl) {
    unique_hlocal relative;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, relative.put(), nullptr)) {
      return false;
    }
    DWORD sizes[5] = {};
    MakeAbsoluteSD(relative.get(), nullptr, &sizes[0], nullptr, &sizes[1], nullptr, &sizes[2], nullptr, &sizes[3],
                   nullptr, &sizes[4]);
    for (int i = 0; i < 5; ++i) m_parts[i].resize(sizes[i] ? sizes[i] : 1);
    return MakeAbsoluteSD(relative.get(), m_parts[0].data(), &sizes[0], reinterpret_cast<PACL>(m_parts[1].data()),
                          &sizes[1], reinterpret_cast<PACL>(m_parts[2].data()), &sizes[2], m_parts[3].data(),
                          &sizes[3], m_parts[4].data(), &sizes[4]) != FALSE;
  }
  PSECURITY_DESCRIPTOR get() { return m_parts[0].data(); }

 private:
  std::vector<BYTE> m_parts[5];  // descriptor, DACL, SACL, owner, group
};

std::wstring LoadResourceString(UINT id) {
  wchar_t text[256] = {};
  LoadStringW(GetModuleHandleW(nullptr), id, text, 256);
  return text;
}

std::wstring Hex(HRESULT hr) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

CPelkoLabelSvrModule::CPelkoLabelSvrModule() {
  s_module = this;
  m_serviceName = LoadResourceString(IDS_SERVICENAME);
  m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  m_status.dwCurrentState = SERVICE_STOPPED;
  m_status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  m_mainThreadId = GetCurrentThreadId();
  m_comInitialized = SUCCEEDED(CoInitialize(nullptr));
  ModuleLock::SetLastUnlockCallback(&CPelkoLabelSvrModule::OnLastUnlock);
}

CPelkoLabelSvrModule::~CPelkoLabelSvrModule() {
  ModuleLock::SetLastUnlockCallback(nullptr);
  if (m_comInitialized) CoUninitialize();
  s_module = nullptr;
}

void CPelkoLabelSvrModule::Event(std::wstring_view text) const { ReportServiceEvent(m_serviceName, text); }

void CPelkoLabelSvrModule::Message(std::wstring_view text) const { ShowServiceMessage(m_serviceName, text); }

int CPelkoLabelSvrModule::Run(const wchar_t* commandLine) {
  if (!m_comInitialized || m_serviceName.empty()) return -1;
  switch (ParseHostCommandLine(ToU16(WideView(commandLine)))) {
    case HostCommand::RegServerPerUser:
      m_perUser = true;
      [[fallthrough]];
    case HostCommand::RegServer:
      return Register(/*asService=*/false);
    case HostCommand::UnregServerPerUser:
      m_perUser = true;
      [[fallthrough]];
    case HostCommand::UnregServer:
      return Unregister();
    case HostCommand::Service:
      return Register(/*asService=*/true);
    case HostCommand::StartServer:
      break;
  }
  return StartServer();
}

int CPelkoLabelSvrModule::StartServer() {
  unique_hkey appIds, appId;
  LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AppID", 0, KEY_READ, appIds.put());
  if (error != ERROR_SUCCESS) return error;
  error = RegOpenKeyExW(appIds.get(), GuidString(kAppId).c_str(), 0, KEY_READ, appId.put());
  if (error != ERROR_SUCCESS) return error;

  wchar_t localService[261] = {};
  DWORD size = sizeof(localService) - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(appId.get(), L"LocalService", nullptr, &type, reinterpret_cast<BYTE*>(localService), &size) ==
      ERROR_SUCCESS) {
    m_isService = true;
    SERVICE_TABLE_ENTRYW services[] = {{m_serviceName.data(), &CPelkoLabelSvrModule::ServiceMainProc},
                                       {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(services)) return static_cast<int>(GetLastError());
    return static_cast<int>(m_status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? m_status.dwServiceSpecificExitCode
                                                                                     : m_status.dwWin32ExitCode);
  }
  m_isService = false;
  return RunSequence();
}

void WINAPI CPelkoLabelSvrModule::ServiceMainProc(DWORD, LPWSTR*) { s_module->ServiceMain(); }

void CPelkoLabelSvrModule::ServiceMain() {
  m_status.dwCurrentState = SERVICE_START_PENDING;
  m_hStatus = RegisterServiceCtrlHandlerW(m_serviceName.c_str(), &CPelkoLabelSvrModule::ServiceCtrlHandlerProc);
  if (!m_hStatus) {
    Event(L"Handler not installed");
    return;
  }
  m_status.dwWin32ExitCode = 0;
  m_status.dwCheckPoint = 0;
  m_status.dwWaitHint = 0;
  SetServiceState(SERVICE_START_PENDING);

  if (const HRESULT initialized = CoInitialize(nullptr); FAILED(initialized)) {
    m_status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    m_status.dwServiceSpecificExitCode = static_cast<DWORD>(initialized);
    SetServiceState(SERVICE_STOPPED);
    return;
  }
  m_delayShutdown = false;
  const HRESULT result = RunSequence();
  // The service manager takes a Win32 code; anything else is service-specific.
  m_status.dwWin32ExitCode = result == S_OK ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  m_status.dwServiceSpecificExitCode = static_cast<DWORD>(result);
  CoUninitialize();
  // Written before the stop is reported: once the service manager hears
  // "stopped", the dispatcher returns and the process may end at once.
  Event(L"Service stopped");
  SetServiceState(SERVICE_STOPPED);
}

void CPelkoLabelSvrModule::SetServiceState(DWORD state) {
  m_status.dwCurrentState = state;
  if (state != SERVICE_STOP_PENDING) {
    m_status.dwCheckPoint = 0;
    m_status.dwWaitHint = 0;
  }
  if (m_hStatus) SetServiceStatus(m_hStatus, &m_status);
}

// While stopping, every step tells the service manager that work goes on.
void CPelkoLabelSvrModule::ReportStopProgress() {
  if (!m_isService || m_status.dwCurrentState != SERVICE_STOP_PENDING) return;
  ++m_status.dwCheckPoint;
  m_status.dwWaitHint = kStopWaitHintMs;
  if (m_hStatus) SetServiceStatus(m_hStatus, &m_status);
}

void WINAPI CPelkoLabelSvrModule::ServiceCtrlHandlerProc(DWORD control) { s_module->ServiceCtrlHandler(control); }

void CPelkoLabelSvrModule::ServiceCtrlHandler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_SHUTDOWN:
      // The system gives a service little time at shutdown: the labels
      // changed since the last save are written before anything else. A
      // long folder walk of the applier holding the store ends first.
      m_applierThread.RequestStop();
      StoreSaveIfChanged();
      [[fallthrough]];
    case SERVICE_CONTROL_STOP:
      m_status.dwCheckPoint = 0;
      SetServiceState(SERVICE_STOP_PENDING);
      ReportStopProgress();
      PostThreadMessageW(m_mainThreadId, WM_QUIT, 0, 0);
      break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
      break;
    default:
      Event(L"Bad service request");
      break;
  }
}

HRESULT CPelkoLabelSvrModule::RunSequence() {
  const HRESULT started = BeforeMessageLoop();
  if (FAILED(started)) {
    // No message loop without a class object; but the store is loaded and
    // the threads run, and they must end, and the labels be saved, before
    // the module goes.
    AfterMessageLoop();
    return started;
  }
  if (started == S_OK) {
    if (m_isService) {
      Event(L"Service started");
      SetServiceState(SERVICE_RUNNING);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return AfterMessageLoop();
}

HRESULT CPelkoLabelSvrModule::SetComSecurity() {
  AbsoluteSecurityDescriptor access;
  RETURN_HR_IF(HResultFromLastError(), !access.FromString(kComAccess));
  return CoInitializeSecurity(access.get(), -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IDENTIFY,
                              nullptr, EOAC_NONE, nullptr);
}

HRESULT CPelkoLabelSvrModule::BeforeMessageLoop() {
  if (m_isService) m_mainThreadId = GetCurrentThreadId();
  // Also for the plain server: nobody from another machine may read labels.
  if (const HRESULT security = SetComSecurity(); FAILED(security)) {
    Event(L"COM security could not be set: " + Hex(security));
  }

  HRESULT registered = CreateClassFactory(kServedClasses, CLSID_LabelUtil, IID_IClassFactory,
                                          m_classFactory.put_void());
  if (SUCCEEDED(registered)) {
    registered = CoRegisterClassObject(CLSID_LabelUtil, m_classFactory.get(), CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &m_classCookie);
  }
  if (registered == S_OK && m_delayShutdown) {
    if (!StartShutdownMonitor()) registered = E_FAIL;
  } else if (registered != S_OK) {
    m_delayShutdown = false;
  }

  if (!CreateStoreMutex()) return S_FALSE;
  LoadStore();

  m_watcher.AddFixedDrives();
  m_applierThread.Start([this](const CWorkerThread::StopToken& stop) {
    RunChangeApplier(m_watcher, stop, &m_applierStatistics);
  });
  m_saverThread.Start([this](const CWorkerThread::StopToken& stop) { AutoSaveThreadProc(stop); });
  return registered;
}

void CPelkoLabelSvrModule::LoadStore() {
  m_database = Win32LabelDatabase::ForProductDataFolder();
  if (!m_database) {
    Event(L"The application-data folder is unknown: labels can be neither loaded nor saved.");
    return;
  }
  if (m_isService && !m_database->CreateFolder()) {
    Event(L"The data folder could not be made: " + ToWide(m_database->LastError()));
  }
  AttachStoreDatabase(m_database.get());
  const LoadResult loaded = StoreLoad();
  const std::wstring file = m_database->FilePath();
  const std::wstring why = ToWide(loaded.detail);
  switch (loaded.status) {
    case LoadStatus::SetAside:
      Event(L"The label database could not be read (" + why + L") and was moved to " + ToWide(loaded.setAsidePath) +
            L". The service starts with no labels.");
      break;
    case LoadStatus::Partial:
      Event(L"The label database is damaged (" + why + L"): the labels before the damage were loaded" +
            (loaded.setAsidePath.empty() ? std::wstring(L"; the file will be copied aside before the next save.")
                                         : L" and the whole file was copied to " + ToWide(loaded.setAsidePath) + L"."));
      break;
    case LoadStatus::Unreadable:
      Event(L"The label database " + file + L" could not be read (" + why +
            L") and could not be moved aside; it is kept as it is and labels are not saved until it can be.");
      break;
    case LoadStatus::Loaded:
    case LoadStatus::NoFile:
    case LoadStatus::NotLocked:
      break;
  }
}

HRESULT CPelkoLabelSvrModule::AfterMessageLoop() {
  HRESULT result = S_OK;
  if (m_classCookie) {
    result = CoRevokeClassObject(m_classCookie);
    m_classCookie = 0;
  }
  m_classFactory.reset();
  ReportStopProgress();
  // Calls already on their way to the plain server when it decided to end
  // get a moment to finish.
  if (!m_isService) Sleep(kShutdownPauseMs);

  // A thread that has not ended may still take the store mutex.
  bool storeUsersEnded = StopApplierThread();
  ReportTrackingSummary();
  ReportStopProgress();
  if (!m_saverThread.Stop(kSaverStopWaitMs)) storeUsersEnded = false;
  m_monitorThread.Stop(kMonitorStopWaitMs);
  ReportStopProgress();

  const bool saved = StoreSaveIfChanged();
  if (!saved) {
    Event(L"The labels could not be saved: " + ToWide(StoreLastSaveError()));
  }
  ReportStopProgress();
  // Left to the end of the process while a thread may still use it.
  if (storeUsersEnded) CloseStoreMutex();
  return saved ? result : S_FALSE;
}

// The applier finishes the record in hand, stops the watcher (which waits
// for its own thread) and ends. True when it has ended.
bool CPelkoLabelSvrModule::StopApplierThread() {
  // Without an applier nobody else stops the watcher.
  if (!m_applierThread.Running()) m_watcher.Stop();
  return m_applierThread.Stop(kApplierStopWaitMs);
}

void CPelkoLabelSvrModule::ReportTrackingSummary() {
  const CDriveWatcher::Statistics watched = m_watcher.GetStatistics();
  std::wstring summary = L"Changes tracked: " + std::to_wstring(m_applierStatistics.applied) + L" applied, " +
                         std::to_wstring(m_applierStatistics.skipped) + L" skipped, " +
                         std::to_wstring(watched.overflows) + L" notification overflows, " +
                         std::to_wstring(watched.rootFailures) + L" drive root failures";
  if (watched.priming.folders) {
    summary += L"; Wine watch priming: " + std::to_wstring(watched.priming.folders) + L" folders in " +
               std::to_wstring(watched.priming.milliseconds) + L" ms";
  }
  Event(summary);
}

void CPelkoLabelSvrModule::AutoSaveThreadProc(const CWorkerThread::StopToken& stop) {
  MonotonicClock clock;
  SaveScheduler scheduler(StoreChangeCount(), clock.NowMs());
  while (!stop.WaitFor(kSaverTickMs)) {
    const std::uint64_t now = clock.NowMs();
    if (scheduler.SaveDue(StoreChangeCount(), StoreHasUnsavedChanges(), now)) {
      scheduler.SaveDone(StoreSaveIfChanged(), now);
    }
  }
}

bool CPelkoLabelSvrModule::StartShutdownMonitor() {
  m_monitorEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!m_monitorEvent) return false;
  return m_monitorThread.Start([this](const CWorkerThread::StopToken& stop) { ShutdownMonitorThreadProc(stop); });
}

void CPelkoLabelSvrModule::OnLastUnlock() {
  CPelkoLabelSvrModule* module = s_module;
  if (!module || module->m_isService || !module->m_delayShutdown || !module->m_monitorEvent) return;
  InterlockedExchange(&module->m_activity, 1);
  SetEvent(module->m_monitorEvent.get());
}

void CPelkoLabelSvrModule::ShutdownMonitorThreadProc(const CWorkerThread::StopToken& stop) {
  const HANDLE events[] = {stop.Event(), m_monitorEvent.get()};
  constexpr DWORD kActivity = WAIT_OBJECT_0 + 1;
  for (;;) {
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != kActivity) return;
    DWORD wait;
    do {
      InterlockedExchange(&m_activity, 0);
      wait = WaitForMultipleObjects(2, events, FALSE, kShutdownTimeoutMs);
    } while (wait == kActivity);
    if (wait != WAIT_TIMEOUT) return;
    if (!m_activity && ModuleLock::Count() == 0) {
      PostThreadMessageW(m_mainThreadId, WM_QUIT, 0, 0);
      return;
    }
  }
}

}  // namespace pelko
