#pragma once
// The manager's process: one instance per session, the command line, COM,
// the main window and its message loop.

#include <windows.h>

#include "MainFrame.h"
#include "UniqueHandle.h"

namespace pelko {

class CTagwellApp {
 public:
  // The single-instance mutex, in the session's own namespace: each
  // logged-on user (fast user switching, remote desktop) has one manager,
  // and a manager of another account in the same session finds this one
  // (its CreateMutexW fails with access denied).
  static constexpr wchar_t kSingleInstanceMutex[] = L"QVMR_Mutex";
  // How long a second start waits for the first one's window to appear.
  static constexpr DWORD kFindRunningManagerMs = 2000;

  explicit CTagwellApp(HINSTANCE instance) : m_instance(instance) {}
  // The whole run; the process exit code.
  int Run();

 private:
  bool InitInstance();
  int MessageLoop();
  // True when this is the first manager; otherwise the running one has
  // been brought forward (if its window could be found in time).
  bool EnsureSingleInstance();

  HINSTANCE m_instance;
  unique_handle m_hSingleInstanceMutex;
  bool m_oleInitialized = false;
  bool m_comInitialized = false;
  // A start that ends early: 0 for another manager or the About box alone,
  // 1 when the program could not start.
  int m_failureExitCode = 0;
  CMainFrame m_frame;
};

}  // namespace pelko
