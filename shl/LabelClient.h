#pragma once
// CLabelClient: the extension's one way to the label service, and its filter
// of the paths it deals with at all.
//
// Explorer's threads must never wait on the service for long: a starting or
// hung service would freeze the desktop. So one lookup thread per process
// owns one service object and makes every service call; it keeps the object
// while calls succeed and makes a new one after a failure. Callers hand it a
// request and wait with a bound: a lookup that takes longer counts as
// "service unavailable" at once. After a failure further attempts back off
// for a moment instead of piling up. No interface pointer crosses threads.

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <vector>

#include "Labels.h"
#include "PathCompare.h"
#include "WorkerThread.h"

namespace pelko {

class CLabelClient {
 public:
  static constexpr DWORD kLookupWaitMs = 150;
  static constexpr DWORD kChangeWaitMs = 5000;
  static constexpr DWORD kBackoffMs = 1000;
  static constexpr std::size_t kMostQueuedLookups = 64;
  static constexpr DWORD kCacheLifetimeMs = 1000;
  static constexpr std::size_t kCacheLimit = 4096;

  CLabelClient() = default;
  CLabelClient(const CLabelClient&) = delete;
  CLabelClient& operator=(const CLabelClient&) = delete;

  // The path's label, or LABEL_UNAVAILABLE when the service did not answer
  // within kLookupWaitMs. Never fails otherwise, never throws.
  //
  // Explorer asks the six overlay identifiers and the column about every
  // item it shows: the answers are kept for kCacheLifetimeMs, long enough to
  // serve them all with one service call, short enough that a change made
  // elsewhere shows at the next redraw. The key is the path as the service
  // compares paths (ASCII letter case folded).
  LabelValue LookupLabel(std::u16string_view path);
  // Asks the service whatever the cache holds, and keeps the answer: the
  // refresh worker's way to catch a change made within the lifetime.
  LabelValue LookupLabelUncached(std::u16string_view path);

  // Sets (value not 0) or clears the label of every path with one service
  // object. False when the service could not be reached or did not finish
  // within kChangeWaitMs (a change already on its way may still land). On
  // success the cache holds the new labels before this returns, so the
  // redraw the caller asks for next sees them; on failure the paths are
  // dropped from the cache, so the next lookup asks the service.
  bool ApplyLabel(const std::vector<std::u16string>& paths, LabelValue value);

  // False for shortcut files and items in excluded system folders. The
  // excluded folders are looked up on first use in each process.
  bool IsSupportedPath(std::u16string_view path);
  // Looks the excluded folders up again (overlay identifier 1 asks for it).
  void RebuildExcludedFolders();

  // Ends the lookup thread, waiting at most waitMs; true once it has ended
  // (or never ran). A later request starts it again.
  bool StopWorker(DWORD waitMs);

  // Test counters: service objects made and ILabelUtil calls made.
  std::uint64_t ServiceObjectsCreated() const { return m_objectsCreated; }
  std::uint64_t ServiceCalls() const { return m_serviceCalls; }
  // True while the lookup thread runs.
  bool WorkerRunning() const;

  // For the benchmark: the answer cache and the reuse of the service object
  // switched off, as a lookup per call with an object per call would be.
  void SetCachingAndReuseForTesting(bool enabled);

 private:
  struct Request;
  bool Submit(const std::shared_ptr<Request>& request, DWORD waitMs);
  void RunLookupThread(const CWorkerThread::StopToken& stop);
  void Serve(Request& request, struct ServiceConnection& connection);
  bool InBackoff() const;

  // The lookup thread and its queue.
  mutable std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<std::shared_ptr<Request>> m_queue;
  std::shared_ptr<Request> m_inFlight;
  DWORD m_inFlightSinceTick = 0;
  bool m_threadLeftLoop = false;  // it saw the stop and is ending
  int m_stopWaiters = 0;          // StopWorker calls waiting for the thread
  std::atomic<bool> m_backingOff{false};
  std::atomic<DWORD> m_retryAfterTick{0};

  std::atomic<std::uint64_t> m_objectsCreated{0};
  std::atomic<std::uint64_t> m_serviceCalls{0};

  std::optional<LabelValue> Recall(std::u16string_view path);
  void Remember(std::u16string_view path, LabelValue label);
  void Forget(std::u16string_view path);

  struct CachedLabel {
    LabelValue label;
    DWORD tick;
  };
  std::mutex m_cacheLock;
  std::map<std::u16string, CachedLabel, PathLess> m_cache;
  std::atomic<bool> m_cachingAndReuse{true};

  // An immutable list, swapped whole: readers on any thread keep the list
  // they took while a rebuild makes the next one.
  std::mutex m_excludedLock;
  std::shared_ptr<const std::vector<std::u16string>> m_excludedFolders;

  // Last, so that it goes first: its thread uses everything above.
  CWorkerThread m_thread;
};

extern CLabelClient g_labelClient;

// Case folding for paths as Windows compares them (CharUpperW).
char16_t FoldForPathComparison(char16_t unit);

}  // namespace pelko
