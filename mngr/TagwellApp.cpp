#include "TagwellApp.h"

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "AboutDialog.h"
#include "ShellSeam.h"
#include "StartRules.h"
#include "Utf16.h"

namespace pelko {
namespace {

std::vector<std::u16string> ArgumentsAfterProgramName() {
  std::vector<std::u16string> arguments;
  int count = 0;
  unique_hlocal list(CommandLineToArgvW(GetCommandLineW(), &count));
  auto* const words = static_cast<wchar_t**>(list.get());
  for (int index = 1; words && index < count; ++index) arguments.push_back(ToU16(words[index]));
  return arguments;
}

// The running manager's frame, found by its class and title.
HWND WaitForRunningManager(DWORD boundMs) {
  const DWORD started = GetTickCount();
  for (;;) {
    if (HWND frame = FindWindowW(CMainFrame::kWindowClass, CMainFrame::kTitle)) return frame;
    if (GetTickCount() - started >= boundMs) return nullptr;
    Sleep(50);
  }
}

}  // namespace

bool CTagwellApp::EnsureSingleInstance() {
  m_hSingleInstanceMutex.reset(CreateMutexW(nullptr, FALSE, kSingleInstanceMutex));
  const DWORD error = GetLastError();
  if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) return true;

  // The first manager may still be starting: its window comes within moments.
  if (HWND running = WaitForRunningManager(kFindRunningManagerMs)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(running, &owner);
    AllowSetForegroundWindow(owner);  // this process was just started by the user and may pass it on
    DWORD_PTR result = 0;
    // Bounded: a hung manager must not hang this start as well.
    SendMessageTimeoutW(running, WM_ACTIVATEMANAGER, 0, 0, SMTO_ABORTIFHUNG, 10000, &result);
  }
  return false;
}

bool CTagwellApp::InitInstance() {
  if (!EnsureSingleInstance()) return false;

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS |
                   ICC_PROGRESS_CLASS | ICC_HOTKEY_CLASS | ICC_ANIMATE_CLASS;
  InitCommonControlsEx(&controls);

  if (FAILED(OleInitialize(nullptr))) {
    ManagerMessageBox(nullptr, L"OLE initialization failed.  Make sure that the OLE libraries are the correct version.",
                      MB_OK | MB_ICONERROR);
    m_failureExitCode = 1;
    return false;
  }
  m_oleInitialized = true;
  m_comInitialized = SUCCEEDED(CoInitialize(nullptr));

  if (StartModeFromArguments(ArgumentsAfterProgramName()) == StartMode::AboutOnly) {
    CAboutDialog(m_instance).DoModal(nullptr);
    return false;
  }
  if (!m_frame.Create(m_instance)) {
    m_failureExitCode = 1;
    return false;
  }
  m_frame.Show();
  return true;
}

int CTagwellApp::MessageLoop() {
  MSG message{};
  for (;;) {
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) m_frame.OnIdle();
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    if (m_frame.PreTranslateMessage(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

int CTagwellApp::Run() {
  const int exitCode = InitInstance() ? MessageLoop() : m_failureExitCode;
  if (m_comInitialized) CoUninitialize();
  if (m_oleInitialized) OleUninitialize();
  m_hSingleInstanceMutex.reset();
  return exitCode;
}

}  // namespace pelko
