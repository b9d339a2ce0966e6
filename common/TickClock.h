#pragma once
// Millisecond ticks from XP on. GetTickCount's 32-bit count wraps every 49.7
// days and GetTickCount64 is missing on XP: deadlines are compared by the
// sign of their distance, and a 64-bit clock adds up 32-bit deltas. The
// arithmetic is portable; the Windows part below reads the system's count.

#include <cstdint>

namespace pelko {

// True once now has reached deadline, across a wrap of the count; a
// deadline lies less than 24.8 days ahead.
constexpr bool TickReached(std::uint32_t now, std::uint32_t deadline) noexcept {
  return static_cast<std::int32_t>(now - deadline) >= 0;
}

// Milliseconds from now until deadline; 0 once it is reached.
constexpr std::uint32_t TicksUntil(std::uint32_t now, std::uint32_t deadline) noexcept {
  return TickReached(now, deadline) ? 0 : deadline - now;
}

// A 64-bit millisecond count made of 32-bit ticks, starting at 0. Not locked:
// one thread owns it, and reads it at least once a wrap (49.7 days).
class TickExtender {
 public:
  explicit constexpr TickExtender(std::uint32_t firstTick) noexcept : m_lastTick(firstTick) {}

  constexpr std::uint64_t Advance(std::uint32_t tick) noexcept {
    m_nowMs += static_cast<std::uint32_t>(tick - m_lastTick);
    m_lastTick = tick;
    return m_nowMs;
  }

 private:
  std::uint32_t m_lastTick;
  std::uint64_t m_nowMs = 0;
};

}  // namespace pelko

#ifdef _WIN32
#include <windows.h>

namespace pelko {

inline bool SystemTickReached(DWORD deadline) noexcept { return TickReached(GetTickCount(), deadline); }
inline DWORD SystemTicksUntil(DWORD deadline) noexcept { return TicksUntil(GetTickCount(), deadline); }

// GetTickCount as a 64-bit count from the clock's making, for its one thread.
class MonotonicClock {
 public:
  std::uint64_t NowMs() noexcept { return m_ticks.Advance(GetTickCount()); }

 private:
  TickExtender m_ticks{GetTickCount()};
};

}  // namespace pelko
#endif
