// Not a test: test programs that hang, run by TestDiagnostics_test to see
// that the watchdog reports where they were and ends them as failed.

#include <windows.h>

#include <gtest/gtest.h>

#include "TestDiagnostics.h"

namespace pelko::testing {
namespace {

TEST(Probe, HangsInANamedWait) {
  WaitScope scope(L"a call that never returns", 500);
  Sleep(INFINITE);
}

TEST(Probe, RunsPastItsBudget) { Sleep(INFINITE); }

}  // namespace
}  // namespace pelko::testing
