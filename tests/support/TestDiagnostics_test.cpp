// The watchdog of every Windows test program: a hung test says where it
// was and ends as failed, before ctest's own time-out would end it unheard.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ServiceTestSupport.h"
#include "WineTestSupport.h"

namespace pelko::testing {
namespace {

// Runs one case of the probe with the given time-out, as ctest would.
CapturedRun RunProbe(const wchar_t* testCase, const wchar_t* timeoutSeconds) {
  SetEnvironmentVariableW(L"PELKO_TEST_TIMEOUT", timeoutSeconds);
  CapturedRun run =
      RunCapturingOutput(BuildTreeFile(L"tests\\watchdog_probe.exe") + L" --gtest_filter=" + testCase, 90000);
  SetEnvironmentVariableW(L"PELKO_TEST_TIMEOUT", nullptr);
  return run;
}

TEST(Watchdog, AWaitPastItsBoundIsNamedWithProcessesAndStacks) {
  const CapturedRun run = RunProbe(L"Probe.HangsInANamedWait", L"120");
  EXPECT_EQ(run.exitCode, 3u) << run.output;
  EXPECT_TRUE(Contains(run.output, "watchdog: Probe.HangsInANamedWait: a call that never returns did not end within "
                                   "its bound of 0.5 s"))
      << run.output;
  EXPECT_TRUE(Contains(run.output, "was waiting for: a call that never returns, for ")) << run.output;
  EXPECT_TRUE(Contains(run.output, "Wine processes alive")) << run.output;
  EXPECT_TRUE(Contains(run.output, "watchdog_probe.exe")) << run.output;
  EXPECT_TRUE(Contains(run.output, "Backtracing for thread")) << run.output;
  EXPECT_TRUE(Contains(run.output, "watchdog: ending the test process as failed")) << run.output;
}

TEST(Watchdog, ATestPastItsBudgetEndsBeforeTheTimeOut) {
  // A 4 s time-out leaves the test half of it.
  const CapturedRun run = RunProbe(L"Probe.RunsPastItsBudget", L"4");
  EXPECT_EQ(run.exitCode, 3u) << run.output;
  EXPECT_TRUE(Contains(run.output, "watchdog: Probe.RunsPastItsBudget has run ")) << run.output;
  EXPECT_TRUE(Contains(run.output, "longer than its budget of 2.0 s")) << run.output;
  EXPECT_TRUE(Contains(run.output, "in no wait the support code names")) << run.output;
}

}  // namespace
}  // namespace pelko::testing
