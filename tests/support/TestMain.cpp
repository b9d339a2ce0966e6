// main of every Windows test program: GoogleTest with a watchdog over each
// test case, so that a hang ends in a report of where it was rather than
// in ctest's time-out.

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "TestDiagnostics.h"
#include "UniqueHandle.h"

namespace {

std::wstring DesktopNameOf(HDESK desktop) {
  wchar_t name[128] = {};
  GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof(name), nullptr);
  return name;
}

// Tests of windows (wine-run --gui names their desktop in PELKO_GUI_DESKTOP)
// run as a child started on that desktop, with this program's output and
// exit code: a Wine process takes its display driver from the desktop it
// starts on, and the session's default desktop has none when its first
// program ran without a display.
std::optional<int> RunOnTestDesktop() {
  wchar_t wanted[128] = {};
  if (!GetEnvironmentVariableW(L"PELKO_GUI_DESKTOP", wanted, 128)) return std::nullopt;
  if (DesktopNameOf(GetThreadDesktop(GetCurrentThreadId())) == wanted) return std::nullopt;  // the child

  // Wine makes a named desktop a virtual desktop of the size kept here:
  // room for a main window at 200 %, within the launcher's X screen.
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    static constexpr wchar_t kSize[] = L"2000x1400";
    RegSetValueExW(key, wanted, 0, REG_SZ, reinterpret_cast<const BYTE*>(kSize), sizeof(kSize));
    RegCloseKey(key);
  }
  HDESK desktop = CreateDesktopW(wanted, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  if (!desktop) {
    pelko::testing::ReportFailedCall(std::wstring(L"CreateDesktopW ") + wanted, GetLastError());
    return 1;
  }
  // The child ends with this process, should the launcher end it.
  pelko::unique_handle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job) SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));

  std::wstring commandLine = GetCommandLineW();
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = wanted;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                      &child)) {
    pelko::testing::ReportFailedCall(L"CreateProcessW on the test desktop", GetLastError());
    return 1;
  }
  pelko::unique_handle process(child.hProcess), thread(child.hThread);
  if (job) AssignProcessToJobObject(job.get(), process.get());
  ResumeThread(thread.get());
  // Bounded by the launcher, which ends this process (and so the job) on time-out.
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  CloseDesktop(desktop);
  return static_cast<int>(code);
}

class WatchEachTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& test) override {
    pelko::testing::WatchTest(std::string(test.test_suite_name()) + "." + test.name(), pelko::testing::TestBudgetMs());
  }
  void OnTestEnd(const ::testing::TestInfo&) override { pelko::testing::TestEnded(); }
};

}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> code = RunOnTestDesktop()) return *code;
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new WatchEachTest);
  const int result = RUN_ALL_TESTS();
  // Not left running while the process ends and the runtime's statics go.
  pelko::testing::StopWatching();
  return result;
}
