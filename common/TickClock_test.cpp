#include "TickClock.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace pelko {
namespace {

struct TickCase {
  std::uint32_t now;
  std::uint32_t deadline;
  bool reached;
  std::uint32_t until;
};

// Around zero, and around the wrap of the 32-bit count (XP's GetTickCount
// after 49.7 days), where a plain "now >= deadline" answers wrongly.
constexpr TickCase kTickCases[] = {
    {999, 1000, false, 1},
    {1000, 1000, true, 0},
    {1001, 1000, true, 0},
    {0xFFFFFFF0u, 0x00000010u, false, 0x20},  // deadline set just before the wrap, past it
    {0x00000005u, 0x00000010u, false, 0x0B},
    {0x00000010u, 0x00000010u, true, 0},
    {0x00000020u, 0xFFFFFFF0u, true, 0},      // reached before the wrap, asked after it
    {0x7FFFFFFFu, 0x00000000u, true, 0},      // the longest distance still behind
    {0x80000000u, 0x00000000u, false, 0x80000000u},  // further counts as ahead
};

TEST(TickClock, DeadlinesHoldAcrossTheWrapOfTheCount) {
  for (const TickCase& tick : kTickCases) {
    EXPECT_EQ(TickReached(tick.now, tick.deadline), tick.reached) << std::hex << tick.now << " vs " << tick.deadline;
    EXPECT_EQ(TicksUntil(tick.now, tick.deadline), tick.until) << std::hex << tick.now << " vs " << tick.deadline;
  }
}

TEST(TickClock, TheExtendedCountStartsAtZeroAndGrowsPastThirtyTwoBits) {
  constexpr std::uint32_t kFirst = 0xFFFFFF00u;
  TickExtender clock(kFirst);
  EXPECT_EQ(clock.Advance(kFirst), 0u);
  EXPECT_EQ(clock.Advance(0x00000100u), 0x200u) << "the wrap was not bridged";

  // Ten wraps in steps of a quarter of the count.
  std::uint32_t tick = 0x100u;
  std::uint64_t expected = 0x200u;
  for (int step = 0; step < 40; ++step) {
    tick += 0x40000000u;
    expected += 0x40000000u;
    ASSERT_EQ(clock.Advance(tick), expected) << "step " << step;
  }
  EXPECT_GT(expected, std::uint64_t{0xFFFFFFFFu});
  EXPECT_EQ(clock.Advance(tick), expected) << "no time passed, none is added";
}

}  // namespace
}  // namespace pelko
