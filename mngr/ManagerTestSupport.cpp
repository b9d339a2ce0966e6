#include "ManagerTestSupport.h"

#include "ServiceTestSupport.h"
#include "TestDiagnostics.h"
#include "WineTestSupport.h"

namespace pelko::testing {

std::vector<std::string> Observed(const wchar_t* suffix) {
  std::vector<std::string> lines;
  const std::string text = ReadWholeFile(std::wstring(kInstalledManager) + suffix);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return lines;
}

ManagerWindows FindParts(HWND frame) {
  ManagerWindows parts;
  parts.frame = frame;
  parts.ribbon = FindWindowExW(frame, nullptr, L"Norvane.PelkoLabels.Ribbon", nullptr);
  if (parts.ribbon) {
    parts.toolbars = ChildWindowsOfClass(parts.ribbon, TOOLBARCLASSNAMEW);
    parts.captions = ChildWindowsOfClass(parts.ribbon, L"Static");
    parts.tabs = FindWindowExW(parts.ribbon, nullptr, WC_TABCONTROLW, nullptr);
  }
  parts.status = FindWindowExW(frame, nullptr, STATUSCLASSNAMEW, nullptr);
  for (HWND form = FindWindowExW(frame, nullptr, L"#32770", nullptr); form && !parts.list;
       form = FindWindowExW(frame, form, L"#32770", nullptr))
    parts.list = FindWindowExW(form, nullptr, WC_LISTVIEWW, nullptr);
  return parts;
}

StartedProgram StartManager(const std::wstring& arguments) {
  return StartOnTestDesktop(Quoted(kInstalledManager) + (arguments.empty() ? L"" : L" " + arguments));
}

HWND StartMain(StartedProgram& program) {
  program = StartManager();
  if (!program.Started()) return nullptr;
  HWND frame = WaitForTopLevelWindow(kFrameClass, kTitle, program.ProcessId(), kWindowBoundMs);
  if (!frame) ReportExpiredWait(L"the manager's main window", kWindowBoundMs, program.ProcessId());
  return frame;
}

std::optional<DWORD> Close(HWND frame, StartedProgram& program) {
  PostMessageW(frame, WM_CLOSE, 0, 0);
  return program.WaitForExit(15000);
}

}  // namespace pelko::testing
