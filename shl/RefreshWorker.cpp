#include "RefreshWorker.h"

#include <ole2.h>
#include <shlobj.h>

#include <algorithm>

#include "LabelClient.h"
#include "PathCompare.h"
#include "TickClock.h"
#include "Utf16.h"

namespace pelko {

CRefreshWorker g_refreshWorker;

bool CRefreshWorker::Running() const { return m_thread.Running(); }

void CRefreshWorker::Start() {
  std::lock_guard lock(m_lock);
  if (m_thread.Running()) return;
  if (!m_workEvent) m_workEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!m_workEvent) return;
  m_thread.Start([this](const CWorkerThread::StopToken& stop) {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    Run(stop);
  });
  // Checks left from a worker that was stopped are handled now, not at the next wake-up.
  if (!m_queue.empty()) SetEvent(m_workEvent.get());
}

void CRefreshWorker::PushCheck(std::u16string_view path, LabelValue labelSeen) {
  try {
    {
      std::lock_guard lock(m_lock);
      const bool wasEmpty = m_queue.empty();
      auto queued = std::find_if(m_queue.begin(), m_queue.end(),
                                 [&](const Check& check) { return PathsEqual(check.path, path); });
      if (queued != m_queue.end()) {
        // The newer answer replaces the older: one change, one redraw.
        m_queue.erase(queued);
      } else if (m_queue.size() >= kQueueLimit) {
        return;
      }
      m_queue.push_back({std::u16string(path), labelSeen, 0, GetTickCount()});
      if (wasEmpty && m_workEvent) SetEvent(m_workEvent.get());
    }
    if (!Running()) Start();
  } catch (...) {
    // Out of memory: the check is dropped, as a full queue drops it.
  }
}

void CRefreshWorker::Requeue(Check check) {
  std::lock_guard lock(m_lock);
  const bool newerQueued = std::any_of(m_queue.begin(), m_queue.end(),
                                       [&](const Check& queued) { return PathsEqual(queued.path, check.path); });
  if (newerQueued || m_queue.size() >= kQueueLimit) return;
  // At the old end: new answers are handled before it.
  m_queue.push_front(std::move(check));
}

bool CRefreshWorker::TakeNewestDueCheck(Check& check, DWORD& nextDueInMs) {
  std::lock_guard lock(m_lock);
  nextDueInMs = kWakeUpMs;
  for (auto it = m_queue.rbegin(); it != m_queue.rend(); ++it) {
    if (SystemTickReached(it->notBeforeTick)) {
      check = std::move(*it);
      m_queue.erase(std::next(it).base());
      return true;
    }
    nextDueInMs = std::min(nextDueInMs, SystemTicksUntil(it->notBeforeTick));
  }
  return false;
}

bool CRefreshWorker::Stop(DWORD waitMs) { return m_thread.Stop(waitMs); }

void CRefreshWorker::PauseForTesting(bool paused) {
  std::lock_guard lock(m_lock);
  m_paused = paused;
  if (!paused && m_workEvent) SetEvent(m_workEvent.get());
}

std::size_t CRefreshWorker::QueuedForTesting() const {
  std::lock_guard lock(m_lock);
  return m_queue.size();
}

void CRefreshWorker::Run(const CWorkerThread::StopToken& stop) {
  struct ComApartment {
    const bool ready = SUCCEEDED(CoInitialize(nullptr));
    ~ComApartment() {
      if (ready) CoUninitialize();
    }
  } apartment;
  HANDLE events[] = {stop.Event(), m_workEvent.get()};
  DWORD waitMs = kWakeUpMs;
  for (;;) {
    const DWORD woken = WaitForMultipleObjects(2, events, FALSE, waitMs);
    // Only work or the wake-up time goes on; the stop (or a failed wait) ends it.
    if (woken != WAIT_OBJECT_0 + 1 && woken != WAIT_TIMEOUT) break;
    {
      std::lock_guard lock(m_lock);
      if (m_paused) {
        waitMs = kWakeUpMs;
        continue;
      }
    }
    // Explorer is still drawing: give it a moment before asking again.
    if (stop.WaitFor(kFirstPauseMs)) break;
    Check check;
    waitMs = kWakeUpMs;
    // The checks of this round share the answer for their folder, fetched
    // now, after the pause.
    const DWORD roundStartTick = GetTickCount();
    while (TakeNewestDueCheck(check, waitMs)) {
      const LabelValue now = g_labelClient.LookupLabelUncached(check.path, roundStartTick);
      if (now == LABEL_UNAVAILABLE) {
        // Not answered yet (the service starts, or was slow): again later.
        if (++check.attempts <= kUnansweredRetries) {
          check.notBeforeTick = GetTickCount() + (kFirstRetryMs << (check.attempts - 1));
          Requeue(std::move(check));
        }
      } else if (now != check.labelSeen) {
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, ToWide(check.path).c_str(), nullptr);
      }
      if (stop.WaitFor(kNextPauseMs)) return;
    }
    // waitMs now holds the time until the next check that waits for a retry.
  }
}

}  // namespace pelko
