#include "SaveScheduler.h"

#include <gtest/gtest.h>

#include <vector>

namespace pelko {
namespace {

// Replays a timeline of 500 ms ticks; each step says how many changes
// happened before the tick and whether a due save succeeds. Returns the
// times (ms) at which saves were due.
struct Tick {
  int changes = 0;
  bool saveSucceeds = true;
};

std::vector<std::uint64_t> SavesOver(const std::vector<Tick>& ticks) {
  std::uint64_t count = 0, saved = 0, now = 0;
  SaveScheduler scheduler(count, now);
  std::vector<std::uint64_t> saves;
  for (const Tick& tick : ticks) {
    now += 500;
    count += tick.changes;
    if (scheduler.SaveDue(count, count != saved, now)) {
      saves.push_back(now);
      if (tick.saveSucceeds) saved = count;
      scheduler.SaveDone(tick.saveSucceeds, now);
    }
  }
  return saves;
}

TEST(SaveScheduler, SavesABurstOnceAfterItQuietensDown) {
  std::vector<Tick> ticks(10);
  ticks[0].changes = 3;
  ticks[1].changes = 5;  // last change seen at 1000 ms
  EXPECT_EQ(SavesOver(ticks), (std::vector<std::uint64_t>{3000}));
}

TEST(SaveScheduler, NeverSavesAnUnchangedTable) { EXPECT_TRUE(SavesOver(std::vector<Tick>(200)).empty()); }

TEST(SaveScheduler, BackstopSavesATableThatNeverQuietensDown) {
  std::vector<Tick> ticks(130, Tick{1});
  const auto saves = SavesOver(ticks);
  ASSERT_EQ(saves.size(), 1u);
  EXPECT_EQ(saves[0], 60500u);  // pending since the first change at 500 ms
}

TEST(SaveScheduler, RetriesAFailedSaveAfterTheBackstopNotAtEveryTick) {
  std::vector<Tick> ticks(250);
  ticks[0].changes = 1;          // at 500 ms
  ticks[4].saveSucceeds = false;  // the save due at 2500 ms fails (file held)
  EXPECT_EQ(SavesOver(ticks), (std::vector<std::uint64_t>{2500, 62500}));
}

}  // namespace
}  // namespace pelko
