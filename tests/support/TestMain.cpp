// main of every Windows test program: GoogleTest with a watchdog over each
// test case, so that a hang ends in a report of where it was rather than
// in ctest's time-out.

#include <gtest/gtest.h>

#include "TestDiagnostics.h"

namespace {

class WatchEachTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& test) override {
    pelko::testing::WatchTest(std::string(test.test_suite_name()) + "." + test.name(), pelko::testing::TestBudgetMs());
  }
  void OnTestEnd(const ::testing::TestInfo&) override { pelko::testing::TestEnded(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new WatchEachTest);
  const int result = RUN_ALL_TESTS();
  // Not left running while the process ends and the runtime's statics go.
  pelko::testing::StopWatching();
  return result;
}
