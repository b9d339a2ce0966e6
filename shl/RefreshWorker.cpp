#include "RefreshWorker.h"

#include <ole2.h>
#include <shlobj.h>

#include <algorithm>

#include "LabelClient.h"
#include "PathCompare.h"
#include "Utf16.h"

namespace pelko {

CRefreshWorker g_refreshWorker;

namespace {

bool TickReached(DWORD tick) { return static_cast<LONG>(GetTickCount() - tick) >= 0; }

}  // namespace

CRefreshWorker::~CRefreshWorker() {
  // Nothing is waited for here (module unload runs under the loader lock);
  // DllCanUnloadNow has stopped the thread before.
  for (HANDLE handle : {m_thread, m_stopEvent, m_workEvent}) {
    if (handle) CloseHandle(handle);
  }
}

bool CRefreshWorker::Running() const {
  std::lock_guard lock(m_lock);
  return m_thread && WaitForSingleObject(m_thread, 0) == WAIT_TIMEOUT;
}

void CRefreshWorker::Start() {
  std::lock_guard lock(m_lock);
  if (m_thread) {
    if (WaitForSingleObject(m_thread, 0) == WAIT_TIMEOUT) return;
    CloseHandle(m_thread);
    m_thread = nullptr;
  }
  if (!m_workEvent) m_workEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!m_stopEvent) m_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!m_workEvent || !m_stopEvent) return;
  ResetEvent(m_stopEvent);
  InterlockedExchange(&m_running, 1);
  m_thread = CreateThread(nullptr, 0, &CRefreshWorker::WorkerThreadProc, this, 0, nullptr);
  if (m_thread) SetThreadPriority(m_thread, THREAD_PRIORITY_LOWEST);
  // Checks left from a worker that was stopped are handled now, not at the next wake-up.
  if (!m_queue.empty()) SetEvent(m_workEvent);
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
      if (wasEmpty && m_workEvent) SetEvent(m_workEvent);
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
    if (TickReached(it->notBeforeTick)) {
      check = std::move(*it);
      m_queue.erase(std::next(it).base());
      return true;
    }
    nextDueInMs = std::min<DWORD>(nextDueInMs, it->notBeforeTick - GetTickCount());
  }
  return false;
}

bool CRefreshWorker::Stop(DWORD waitMs) {
  HANDLE thread = nullptr;
  {
    std::lock_guard lock(m_lock);
    if (!m_thread) return true;
    InterlockedExchange(&m_running, 0);
    SetEvent(m_stopEvent);
    thread = m_thread;
  }
  if (WaitForSingleObject(thread, waitMs) != WAIT_OBJECT_0) return false;
  std::lock_guard lock(m_lock);
  // A push may have started a new worker meanwhile: that one runs.
  if (m_thread != thread) return false;
  CloseHandle(m_thread);
  m_thread = nullptr;
  return true;
}

void CRefreshWorker::PauseForTesting(bool paused) {
  std::lock_guard lock(m_lock);
  m_paused = paused;
  if (!paused && m_workEvent) SetEvent(m_workEvent);
}

std::size_t CRefreshWorker::QueuedForTesting() const {
  std::lock_guard lock(m_lock);
  return m_queue.size();
}

DWORD WINAPI CRefreshWorker::WorkerThreadProc(void* worker) {
  static_cast<CRefreshWorker*>(worker)->Run();
  return 0;
}

void CRefreshWorker::Run() {
  struct ComApartment {
    const bool ready = SUCCEEDED(CoInitialize(nullptr));
    ~ComApartment() {
      if (ready) CoUninitialize();
    }
  } apartment;
  HANDLE events[] = {m_stopEvent, m_workEvent};
  DWORD waitMs = kWakeUpMs;
  for (;;) {
    const DWORD woken = WaitForMultipleObjects(2, events, FALSE, waitMs);
    if (!m_running || woken == WAIT_OBJECT_0 || woken == WAIT_ABANDONED_0 || woken == WAIT_ABANDONED_0 + 1) break;
    {
      std::lock_guard lock(m_lock);
      if (m_paused) {
        waitMs = kWakeUpMs;
        continue;
      }
    }
    // Explorer is still drawing: give it a moment before asking again.
    if (WaitForSingleObject(m_stopEvent, kFirstPauseMs) == WAIT_OBJECT_0) break;
    Check check;
    waitMs = kWakeUpMs;
    while (TakeNewestDueCheck(check, waitMs)) {
      const LabelValue now = g_labelClient.LookupLabelUncached(check.path);
      if (now == LABEL_UNAVAILABLE) {
        // Not answered yet (the service starts, or was slow): again later.
        if (++check.attempts <= kUnansweredRetries) {
          check.notBeforeTick = GetTickCount() + (kFirstRetryMs << (check.attempts - 1));
          Requeue(std::move(check));
        }
      } else if (now != check.labelSeen) {
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, ToWide(check.path).c_str(), nullptr);
      }
      if (!m_running || WaitForSingleObject(m_stopEvent, kNextPauseMs) == WAIT_OBJECT_0) return;
    }
    // waitMs now holds the time until the next check that waits for a retry.
  }
}

}  // namespace pelko
