#pragma once
// CDriveWatcher: watches the whole tree of every fixed drive for names that
// appear, disappear and change, with one directory-change request per
// drive root, one I/O completion port and one thread, and queues the
// changes for the change applier.
//
// Each root stands alone: a root that cannot be opened (a disk unplugged, a
// drive letter gone) is retried with a growing pause while the others stay
// armed, and fixed drives that appear later are found by a periodic look at
// the drive list. The thread's state is shared with the thread, so it stays
// valid until the thread has ended, even if the watcher object goes first.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ChangeRecord.h"
#include "WineQuirks.h"
#include "WorkerThread.h"

namespace pelko {

class CDriveWatcher {
 public:
  struct Statistics {
    std::uint64_t records = 0;           // change records queued
    std::uint64_t overflows = 0;         // completions that lost changes
    std::uint64_t malformedBuffers = 0;
    std::uint64_t rootFailures = 0;      // roots that could not be opened or re-armed
    std::uint64_t armedRoots = 0;        // roots watched right now
    PrimingCost priming;                 // Wine only
  };

  static constexpr DWORD kPendingOldNameMs = 500;
  static constexpr DWORD kFirstRetryMs = 1000;
  static constexpr DWORD kLongestRetryMs = 60000;
  static constexpr DWORD kDriveRescanMs = 10000;
  static constexpr DWORD kStopWaitMs = 5000;

  // Enables the backup, restore and change-notify privileges, which let the
  // service open every root whatever its access rights.
  CDriveWatcher();
  // Stops the thread if it still runs.
  ~CDriveWatcher();
  CDriveWatcher(const CDriveWatcher&) = delete;
  CDriveWatcher& operator=(const CDriveWatcher&) = delete;

  // Watches root (such as L"D:\\") from now on; starts the thread if needed.
  bool AddRoot(const std::wstring& root);
  // Watches every fixed drive C: to Z: now and every one that appears later.
  void AddFixedDrives();

  // The oldest queued change, if any.
  bool PopChange(ChangeRecord& record);
  // Waits at most timeoutMs for a change to be queued.
  void WaitForChange(DWORD timeoutMs);

  // Ends the thread and waits for it (at most kStopWaitMs); the watcher
  // takes no roots after. A rename whose new name has not come yet is
  // queued as a removal first.
  void Stop();

  Statistics GetStatistics() const;
  // True while the watcher thread runs.
  bool ThreadRunning() const;

 private:
  struct Shared;
  bool EnsureThread();

  std::shared_ptr<Shared> m_shared;
  std::mutex m_threadLock;  // Stop may come from the applier and from the destructor
  bool m_stopped = false;
  CWorkerThread m_thread;
};

}  // namespace pelko
