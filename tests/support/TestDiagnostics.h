#pragma once
// What a Windows test says when it waits too long or a call fails: what it
// was doing, for how long, which Wine processes were alive and, where
// Wine's debugger can give them, the stuck threads' stacks. A test must
// never run into ctest's own time-out without saying where it was.

#include <windows.h>

#include <string>

namespace pelko::testing {

// Names a wait of the test process for as long as it lasts. Waits the
// support code bounds itself report their own expiry; a wait it cannot
// bound (a COM call into another process) is bounded by the watchdog, which
// reports the innermost scope past its bound and ends the test process.
class WaitScope {
 public:
  WaitScope(std::wstring what, DWORD boundMs);
  ~WaitScope();
  WaitScope(const WaitScope&) = delete;
  WaitScope& operator=(const WaitScope&) = delete;

 private:
  unsigned m_id;
};

// A bounded wait ran out: prints what it waited for and how long, the Wine
// processes alive, and the stacks of stuckProcessId (0: of this process).
void ReportExpiredWait(const std::wstring& what, DWORD waitedMs, DWORD stuckProcessId = 0);

// A call failed: prints what it was doing and the error code (a Win32 code
// or an HRESULT) with its text.
void ReportFailedCall(const std::wstring& what, DWORD error);

// Starts the watchdog's thread, once, before the first test.
void StartWatchdog();
// Watches the test that begins now: if it still runs after budgetMs, or a
// WaitScope outlives its bound, the watchdog reports where the test was and
// ends the process with a failure exit code.
void WatchTest(const std::string& testName, DWORD budgetMs);
void TestEnded();
// Ends the test process with exitCode once its output is flushed, without
// the runtime's exit (the watchdog still runs): Wine then ends the process
// at once instead of running its C library's exit beside the ending threads.
[[noreturn]] void EndTestProcess(int exitCode);

// The test's budget: ctest's time-out (PELKO_TEST_TIMEOUT, seconds) less
// the time wine-run needs to report and clean up.
DWORD TestBudgetMs();

// Milliseconds since an arbitrary start, without the 49-day wrap.
ULONGLONG TickNowMs();

// Polls done() until it is true or boundMs have passed; the callers report
// an expiry with what they waited for.
template <typename Done>
bool WaitUntil(DWORD boundMs, Done done, DWORD pollMs = 50) {
  const ULONGLONG started = TickNowMs();
  for (;;) {
    if (done()) return true;
    if (TickNowMs() - started >= boundMs) return false;
    Sleep(pollMs);
  }
}

}  // namespace pelko::testing
