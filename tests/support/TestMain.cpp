// main of every Windows test program: GoogleTest with a watchdog over each
// test case, so that a hang ends in a report of where it was rather than
// in ctest's time-out.

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>

#include "TestDiagnostics.h"
#include "UniqueHandle.h"

namespace {

// Threads of this process that have begun to run and not yet ended, counted
// by the program's TLS callback, which every thread runs before its start
// routine and again when it ends.
std::atomic<long> g_runningThreads{1};  // the main thread

void NTAPI CountRunningThreads(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH) ++g_runningThreads;
  if (reason == DLL_THREAD_DETACH) --g_runningThreads;
}

// The 32-bit Wine crashes now and then (SIGSEGV in its own thread set-up)
// when a process ends while one of its threads is still being made: a short
// test would end while the threads made at its start are. Waits (bounded)
// until every thread of the process runs.
void WaitForThreadsToRun() {
  const auto listedThreads = [] {
    long count = 0;
    pelko::unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
      if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    return count;
  };
  constexpr DWORD kBoundMs = 10000;
  if (!pelko::testing::WaitUntil(kBoundMs, [&] { return g_runningThreads == listedThreads(); }, 1)) {
    std::printf("test start: a thread of this process did not run within %lu ms\n", kBoundMs);
  }
}

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

extern "C" __attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK g_countRunningThreads =
    CountRunningThreads;

int main(int argc, char** argv) {
  if (const std::optional<int> code = RunOnTestDesktop()) return *code;
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new WatchEachTest);
  // The threads every test program has, made and running before the first
  // test: the watchdog's, and GoogleTest's watcher of the main thread, which
  // it makes when the main thread first reports a result.
  pelko::testing::StartWatchdog();
  {
    ::testing::TestPartResultArray ignored;
    ::testing::ScopedFakeTestPartResultReporter firstReport(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &ignored);
  }
  WaitForThreadsToRun();
  pelko::testing::EndTestProcess(RUN_ALL_TESTS());
}
