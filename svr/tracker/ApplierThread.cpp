#include "ApplierThread.h"

#include "StoreEntryPoints.h"
#include "Utf16.h"
#include "Win32PathEnvironment.h"

namespace pelko {
namespace {

constexpr DWORD kIdleWaitMs = 200;

// The store through its locked entry points.
class StoreChanges final : public ILabelStoreChanges {
 public:
  explicit StoreChanges(const CWorkerThread::StopToken& stop) : m_stop(stop) {}

  // Listing a large added (or renamed) folder may take long: a stop must
  // not wait for it.
  void ItemAdded(std::u16string_view path, std::uint64_t eventMs) override {
    StoreItemAdded(ToWide(path).c_str(), eventMs, StopRequestedFlag());
  }
  void ItemRemoved(std::u16string_view path, std::uint64_t eventMs) override {
    StoreItemRemoved(ToWide(path).c_str(), eventMs);
  }
  void ItemRenamed(std::u16string_view oldPath, std::u16string_view newPath, std::uint64_t eventMs) override {
    StoreItemRenamed(ToWide(oldPath).c_str(), ToWide(newPath).c_str(), eventMs, StopRequestedFlag());
  }

 private:
  StopRequested StopRequestedFlag() const {
    return [&stop = m_stop] { return stop.Requested(); };
  }

  const CWorkerThread::StopToken& m_stop;
};

}  // namespace

void RunChangeApplier(CDriveWatcher& watcher, const CWorkerThread::StopToken& stop, ApplierStatistics* statistics) {
  Win32PathEnvironment environment;
  StoreChanges store(stop);
  ChangeRecord record;
  while (!stop.Requested()) {
    if (!watcher.PopChange(record)) {
      // Woken as soon as a change is queued; the time-out only re-checks the stop.
      watcher.WaitForChange(kIdleWaitMs);
      continue;
    }
    const bool applied = ApplyChange(record, environment, store);
    if (statistics) ++(applied ? statistics->applied : statistics->skipped);
  }
  watcher.Stop();
}

}  // namespace pelko
