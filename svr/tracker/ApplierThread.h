#pragma once
// The change applier's loop: takes the watcher's records one at a time, in
// order, and applies them to the label store, until told to stop; then it
// stops the watcher.

#include <windows.h>

#include <cstdint>

#include "ChangeApplier.h"
#include "DriveWatcher.h"
#include "WorkerThread.h"

namespace pelko {

struct ApplierStatistics {
  std::uint64_t applied = 0;  // records that reached the store
  std::uint64_t skipped = 0;  // ignored places and records that change no label
};

// The applier thread's body: runs until the stop is asked (checked between
// records and during a long folder walk), then stops the watcher. The
// record in hand is finished.
void RunChangeApplier(CDriveWatcher& watcher, const CWorkerThread::StopToken& stop,
                      ApplierStatistics* statistics = nullptr);

}  // namespace pelko
