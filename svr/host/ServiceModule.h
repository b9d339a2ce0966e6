#pragma once
// CPelkoLabelSvrModule: the label service process. It registers and
// unregisters the program, runs it as the Windows service "PelkoLabelSvr"
// (or, when not installed as one, as a plain COM server that ends a few
// seconds after its last client), publishes the LabelUtil class object and
// starts and stops the label store and the saver thread in a fixed order.

#include <windows.h>

#include <memory>
#include <string>

#include "ApplierThread.h"
#include "ComPtr.h"
#include "DriveWatcher.h"
#include "RegistryWriter.h"
#include "UniqueHandle.h"
#include "Win32LabelDatabase.h"
#include "WorkerThread.h"

namespace pelko {

class CPelkoLabelSvrModule {
 public:
  CPelkoLabelSvrModule();
  ~CPelkoLabelSvrModule();
  CPelkoLabelSvrModule(const CPelkoLabelSvrModule&) = delete;
  CPelkoLabelSvrModule& operator=(const CPelkoLabelSvrModule&) = delete;

  // The process's work for its command line; the result is the exit code.
  int Run(const wchar_t* commandLine);

  // The registration switches, their steps in order. A service installed
  // before goes first either way; as a service, the service is installed
  // once the AppID names it, and set to start with the system.
  HRESULT Register(bool asService);
  HRESULT Unregister();

  // The steps. Failures carry the system's reason; the service manager's
  // refusals are also shown in a message box.
  HRESULT RegisterAppIdKey(bool asService);  // the AppID entries; with asService, LocalService names the service
  HRESULT UnregisterAppIdKey();
  HRESULT RegisterServerEntries();           // the class, the ProgIDs and the type library
  HRESULT UnregisterServerEntries();
  HRESULT InstallAutoStartService();         // InstallService, then the start type set to automatic
  HRESULT InstallService();
  HRESULT UninstallService();                // stops it first, so that it saves its labels
  bool IsServiceInstalled();

  int StartServer();

  // The control handler; public so that tests can call it in-process
  // (Wine's service manager refuses the shutdown control).
  void ServiceCtrlHandler(DWORD control);

  // Start-up and shutdown around the message loop.
  HRESULT BeforeMessageLoop();
  HRESULT AfterMessageLoop();
  void SetRunningAsService(bool isService) { m_isService = isService; }

  const std::wstring& ServiceName() const { return m_serviceName; }
  CDriveWatcher& Watcher() { return m_watcher; }
  // True once every thread of the module (the applier, the watcher, the
  // saver and the shutdown monitor) has ended.
  bool WorkerThreadsEnded() const {
    return !m_applierThread.Running() && !m_saverThread.Running() && !m_monitorThread.Running() &&
           !m_watcher.ThreadRunning();
  }
  const ApplierStatistics& AppliedChanges() const { return m_applierStatistics; }
  DWORD CurrentState() const { return m_status.dwCurrentState; }

 private:
  static void WINAPI ServiceMainProc(DWORD argc, LPWSTR* argv);
  static void WINAPI ServiceCtrlHandlerProc(DWORD control);
  void AutoSaveThreadProc(const CWorkerThread::StopToken& stop);
  void ShutdownMonitorThreadProc(const CWorkerThread::StopToken& stop);
  static void OnLastUnlock();

  HRESULT RunSequence();
  void ServiceMain();
  void SetServiceState(DWORD state);
  void ReportStopProgress();
  void Event(std::wstring_view text) const;
  void Message(std::wstring_view text) const;
  HRESULT Refused(std::wstring_view message) const;
  RegistryTarget Target() const;
  HRESULT SetComSecurity();
  void LoadStore();
  bool StartShutdownMonitor();
  bool StopApplierThread();
  void ReportTrackingSummary();

  std::wstring m_serviceName;
  SERVICE_STATUS_HANDLE m_hStatus = nullptr;
  SERVICE_STATUS m_status{};
  bool m_isService = false;
  DWORD m_mainThreadId = 0;
  bool m_comInitialized = false;
  bool m_perUser = false;

  // Shutdown monitor of the plain COM server.
  static constexpr DWORD kShutdownTimeoutMs = 5000;
  static constexpr DWORD kShutdownPauseMs = 1000;
  bool m_delayShutdown = true;
  volatile LONG m_activity = 0;
  unique_handle m_monitorEvent;
  CWorkerThread m_monitorThread;

  com_ptr<IClassFactory> m_classFactory;
  DWORD m_classCookie = 0;
  std::unique_ptr<Win32LabelDatabase> m_database;

  CDriveWatcher m_watcher;
  CWorkerThread m_applierThread;
  ApplierStatistics m_applierStatistics;
  CWorkerThread m_saverThread;
};

}  // namespace pelko
