#pragma once
// CRefreshWorker: Explorer asks the overlay identifiers about an item once
// and keeps the answer. Each answer is queued as a check (path, label
// seen); a low-priority thread asks the service again a moment later and,
// when the label has changed, tells Explorer to redraw the item.
//
// One worker per process, started on first need and stopped in
// DllCanUnloadNow (never under the loader lock). A check for a path already
// queued replaces it, so one change is announced once; a check the service
// could not answer is tried again a few times with a growing pause.

#include <windows.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "Labels.h"
#include "UniqueHandle.h"
#include "WorkerThread.h"

namespace pelko {

class CRefreshWorker {
 public:
  static constexpr std::size_t kQueueLimit = 16;
  static constexpr DWORD kWakeUpMs = 36000;
  static constexpr DWORD kFirstPauseMs = 256;
  static constexpr DWORD kNextPauseMs = 10;
  static constexpr int kUnansweredRetries = 4;
  static constexpr DWORD kFirstRetryMs = 500;

  CRefreshWorker() = default;
  CRefreshWorker(const CRefreshWorker&) = delete;
  CRefreshWorker& operator=(const CRefreshWorker&) = delete;

  // Starts the thread unless it runs.
  void Start();
  // Queues a check; never blocks on more than the queue's lock.
  void PushCheck(std::u16string_view path, LabelValue labelSeen);
  // Signals the stop and waits at most waitMs; true once the thread has
  // ended (or never ran) and no push started a new one meanwhile. A later
  // Start runs it again.
  bool Stop(DWORD waitMs);
  bool Running() const;

  // For tests: hold the thread before its next check.
  void PauseForTesting(bool paused);
  std::size_t QueuedForTesting() const;

 private:
  struct Check {
    std::u16string path;
    LabelValue labelSeen;
    int attempts = 0;
    DWORD notBeforeTick = 0;
  };

  void Run(const CWorkerThread::StopToken& stop);
  bool TakeNewestDueCheck(Check& check, DWORD& nextDueInMs);
  void Requeue(Check check);

  mutable std::mutex m_lock;
  std::deque<Check> m_queue;  // oldest at the front
  unique_handle m_workEvent;
  bool m_paused = false;
  CWorkerThread m_thread;
};

extern CRefreshWorker g_refreshWorker;

}  // namespace pelko
