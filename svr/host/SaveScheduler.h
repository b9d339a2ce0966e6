#pragma once
// When the saver thread writes the table: a couple of seconds after the last
// change, so that a burst of changes costs one write and a crash loses at
// most that much; at the latest a minute after the first unsaved change,
// however busy the table; never when nothing changed. A failed save is tried
// again after the backstop, not at every tick.

#include <cstdint>

namespace pelko {

class SaveScheduler {
 public:
  static constexpr std::uint64_t kQuietMs = 2000;
  static constexpr std::uint64_t kBackstopMs = 60000;

  explicit SaveScheduler(std::uint64_t changeCount, std::uint64_t nowMs)
      : m_seenCount(changeCount), m_lastChangeMs(nowMs), m_pendingSinceMs(nowMs) {}

  // Called at every tick with the table's change count and whether it has
  // unsaved changes; true when a save is due now.
  bool SaveDue(std::uint64_t changeCount, bool unsaved, std::uint64_t nowMs);

  // Called after a due save with its outcome.
  void SaveDone(bool succeeded, std::uint64_t nowMs);

 private:
  std::uint64_t m_seenCount;
  std::uint64_t m_lastChangeMs;
  std::uint64_t m_pendingSinceMs;
  bool m_pending = false;
  bool m_retryAfterBackstop = false;
};

}  // namespace pelko
