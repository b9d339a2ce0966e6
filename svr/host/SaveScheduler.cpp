#include "SaveScheduler.h"

namespace pelko {

bool SaveScheduler::SaveDue(std::uint64_t changeCount, bool unsaved, std::uint64_t nowMs) {
  if (changeCount != m_seenCount) {
    m_seenCount = changeCount;
    m_lastChangeMs = nowMs;
    if (!m_pending) m_pendingSinceMs = nowMs;
    m_pending = true;
  }
  if (!unsaved) {
    m_pending = false;
    m_retryAfterBackstop = false;
    return false;
  }
  if (!m_pending) {  // unsaved without a change seen: an earlier save failed
    m_pending = true;
    m_pendingSinceMs = nowMs;
  }
  const bool backstopReached = nowMs - m_pendingSinceMs >= kBackstopMs;
  if (m_retryAfterBackstop) return backstopReached;
  return backstopReached || nowMs - m_lastChangeMs >= kQuietMs;
}

void SaveScheduler::SaveDone(bool succeeded, std::uint64_t nowMs) {
  m_pendingSinceMs = nowMs;
  m_retryAfterBackstop = !succeeded;
  if (succeeded) m_pending = false;
}

}  // namespace pelko
