#include "TestDiagnostics.h"

#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <vector>

#include "TickClock.h"
#include "UniqueHandle.h"
#include "WorkerThread.h"

namespace pelko::testing {
namespace {

constexpr DWORD kWatchdogTickMs = 250;
// A scope the watchdog ends is given this long beyond its bound, so that a
// wait the support code bounds itself reports first.
constexpr DWORD kScopeGraceMs = 5000;
constexpr DWORD kDebuggerBoundMs = 20000;
// What wine-run needs after the test program to report and clean up.
constexpr DWORD kReportMarginMs = 20000;
constexpr DWORD kDefaultBudgetMs = 120000;

struct Scope {
  unsigned id;
  std::wstring what;
  ULONGLONG startedMs;
  DWORD boundMs;
};

struct WatchState {
  std::mutex lock;
  std::vector<Scope> scopes;  // innermost last
  unsigned nextId = 1;
  std::string testName;
  ULONGLONG testStartedMs = 0;
  DWORD budgetMs = 0;  // 0: no test running
  std::mutex clockLock;  // taken after lock, never before it
  MonotonicClock clock;
  CWorkerThread watchdog;
};

// Never destroyed, nor anything the watchdog thread uses: the thread may
// still run while the process ends and its statics go.
WatchState& State() {
  static WatchState* state = new WatchState;
  return *state;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
  return result;
}

// Where GoogleTest writes, at once: the process may be ended any moment.
void Say(const std::string& line) {
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  unique_hlocal owned(text);
  std::wstring message = text ? text : L"";
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  // Win32 codes in decimal, as the headers list them; HRESULTs in hex.
  char code[16];
  std::snprintf(code, sizeof code, error > 0xFFFF ? "0x%08lX" : "%lu", static_cast<unsigned long>(error));
  return code + (message.empty() ? std::string() : " (" + Narrow(message) + ")");
}

std::string Seconds(ULONGLONG ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

void ListProcesses() {
  unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    Say("  processes: snapshot failed, error " + ErrorText(GetLastError()));
    return;
  }
  Say("  Wine processes alive (pid, parent, threads, program):");
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    char line[400];
    std::snprintf(line, sizeof line, "    %6lu %6lu %4lu %s", entry.th32ProcessID, entry.th32ParentProcessID,
                  entry.cntThreads, Narrow(entry.szExeFile).c_str());
    Say(line);
  }
}

// Wine's debugger prints every thread's stack of every process; only the
// test's own programs are shown, not Wine's (under C:\windows).
void PrintStacks(DWORD stuckProcessId) {
  wchar_t system[MAX_PATH] = {}, folder[MAX_PATH] = {}, file[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  GetTempPathW(MAX_PATH, folder);
  if (!GetTempFileNameW(folder, L"bt", 0, file)) {
    Say("  stacks: no temporary file, error " + ErrorText(GetLastError()));
    return;
  }
  Say("  stacks of the test's programs (winedbg; the stuck one is process " + std::to_string(stuckProcessId) + "):");
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  {
    unique_hfile output(CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0, nullptr));
    std::wstring command = L"\"" + std::wstring(system) + L"\\winedbg.exe\" --command \"bt all\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION process{};
    if (!output || !CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                   &process)) {
      Say("    winedbg did not start, error " + ErrorText(GetLastError()));
      DeleteFileW(file);
      return;
    }
    unique_handle processHandle(process.hProcess), threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.get(), kDebuggerBoundMs) != WAIT_OBJECT_0) {
      TerminateProcess(processHandle.get(), 1);
      Say("    winedbg gave no answer within " + Seconds(kDebuggerBoundMs));
    }
  }
  std::string text;
  {
    unique_hfile input(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    char chunk[65536];
    DWORD read = 0;
    while (input && ReadFile(input.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) text.append(chunk, read);
  }
  DeleteFileW(file);
  bool showing = false;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Backtracing for thread", 0) == 0) {
      std::string lower = line;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      showing = lower.find("c:\\windows\\") == std::string::npos;
    }
    if (showing) Say("    " + line);
  }
}

[[noreturn]] void EndTheTest(const std::string& why) {
  Say("watchdog: " + why);
  {
    std::lock_guard lock(State().lock);
    for (const Scope& scope : State().scopes) {
      Say("  was waiting for: " + Narrow(scope.what) + ", for " + Seconds(TickNowMs() - scope.startedMs) +
          " (bound " + Seconds(scope.boundMs) + ")");
    }
    if (State().scopes.empty()) Say("  in no wait the support code names: see the test's last line above");
  }
  ListProcesses();
  PrintStacks(GetCurrentProcessId());
  Say("watchdog: ending the test process as failed");
  TerminateProcess(GetCurrentProcess(), 3);
  for (;;) Sleep(INFINITE);
}

void Watch(const CWorkerThread::StopToken& stop) {
  while (!stop.WaitFor(kWatchdogTickMs)) {
    std::string why;
    {
      WatchState& state = State();
      std::lock_guard lock(state.lock);
      const ULONGLONG now = TickNowMs();
      if (state.budgetMs && now - state.testStartedMs > state.budgetMs) {
        why = state.testName + " has run " + Seconds(now - state.testStartedMs) + ", longer than its budget of " +
              Seconds(state.budgetMs);
      } else if (!state.scopes.empty()) {
        const Scope& innermost = state.scopes.back();
        if (now - innermost.startedMs > static_cast<ULONGLONG>(innermost.boundMs) + kScopeGraceMs) {
          why = state.testName + ": " + Narrow(innermost.what) + " did not end within its bound of " +
                Seconds(innermost.boundMs);
        }
      }
    }
    if (!why.empty()) EndTheTest(why);
  }
}

}  // namespace

ULONGLONG TickNowMs() {
  // One clock for every thread of the test process.
  WatchState& state = State();
  std::lock_guard guard(state.clockLock);
  return state.clock.NowMs();
}

WaitScope::WaitScope(std::wstring what, DWORD boundMs) {
  WatchState& state = State();
  std::lock_guard lock(state.lock);
  m_id = state.nextId++;
  state.scopes.push_back({m_id, std::move(what), TickNowMs(), boundMs});
}

WaitScope::~WaitScope() {
  WatchState& state = State();
  std::lock_guard lock(state.lock);
  std::erase_if(state.scopes, [this](const Scope& scope) { return scope.id == m_id; });
}

void ReportExpiredWait(const std::wstring& what, DWORD waitedMs, DWORD stuckProcessId) {
  Say("wait expired: " + Narrow(what) + ", after " + Seconds(waitedMs));
  ListProcesses();
  if (stuckProcessId) PrintStacks(stuckProcessId);
}

void ReportFailedCall(const std::wstring& what, DWORD error) {
  Say("failed: " + Narrow(what) + ": error " + ErrorText(error));
}

void StartWatchdog() {
  WatchState& state = State();
  if (!state.watchdog.Start(&Watch)) {
    Say("watchdog: could not start, error " + ErrorText(GetLastError()));
  }
}

void WatchTest(const std::string& testName, DWORD budgetMs) {
  WatchState& state = State();
  std::lock_guard lock(state.lock);
  state.testName = testName;
  state.testStartedMs = TickNowMs();
  state.budgetMs = budgetMs;
}

[[noreturn]] void EndTestProcess(int exitCode) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  for (;;) Sleep(INFINITE);
}

void TestEnded() {
  WatchState& state = State();
  std::lock_guard lock(state.lock);
  state.budgetMs = 0;
}

DWORD TestBudgetMs() {
  const char* timeout = std::getenv("PELKO_TEST_TIMEOUT");
  const long seconds = timeout ? std::strtol(timeout, nullptr, 10) : 0;
  if (seconds <= 0) return kDefaultBudgetMs;
  const DWORD ms = static_cast<DWORD>(seconds) * 1000;
  return ms > 2 * kReportMarginMs ? ms - kReportMarginMs : ms / 2;
}

}  // namespace pelko::testing
