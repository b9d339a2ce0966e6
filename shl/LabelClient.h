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
//
// Explorer asks about every item of the folder it shows: the first question
// about an item fetches the labels of its whole folder in one call
// (ILabelFolderQuery), and the other items of the folder are answered from
// that. A service without that interface is asked item by item.

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
  static constexpr std::size_t kFolderAnswerLimit = 32;

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
  // refresh worker's way to catch a change made within the lifetime. An
  // answer for the path's folder fetched at or after freshSinceTick counts
  // as asked, so that one round of checks asks once per folder.
  LabelValue LookupLabelUncached(std::u16string_view path, DWORD freshSinceTick);
  LabelValue LookupLabelUncached(std::u16string_view path) { return LookupLabelUncached(path, GetTickCount() + 1); }

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

  // Test counters: service objects made, and calls made on them (item and
  // folder questions, changes).
  std::uint64_t ServiceObjectsCreated() const { return m_objectsCreated; }
  std::uint64_t ServiceCalls() const { return m_serviceCalls; }
  std::uint64_t FolderQueries() const { return m_folderQueries; }
  // True while the lookup thread runs.
  bool WorkerRunning() const;

  // For the benchmark: the answer cache and the reuse of the service object
  // switched off, as a lookup per call with an object per call would be.
  void SetCachingAndReuseForTesting(bool enabled);
  // For the benchmark and tests: ask item by item, as with a service that
  // has no folder query.
  void SetFolderQueryForTesting(bool enabled);

 private:
  struct Request;
  struct ServiceConnection;
  bool Submit(const std::shared_ptr<Request>& request, DWORD waitMs);
  void RunLookupThread(const CWorkerThread::StopToken& stop);
  void Serve(Request& request, ServiceConnection& connection);
  bool InBackoff() const;

  // The per-item question, past the cache.
  LabelValue LookupItem(std::u16string_view path);
  struct FolderAnswer;
  enum class FolderOutcome { Answered, NotOffered, Unavailable };
  FolderOutcome LookupFolder(std::u16string_view folder, std::shared_ptr<const FolderAnswer>& answer);

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

  // The newest answer for path fetched at or after sinceTick: its own, or
  // its folder's.
  std::optional<LabelValue> Recall(std::u16string_view path, DWORD sinceTick);
  std::optional<LabelValue> Recall(std::u16string_view path) { return Recall(path, GetTickCount() - kCacheLifetimeMs + 1); }
  void Remember(std::u16string_view path, LabelValue label);
  void Forget(std::u16string_view path);

  struct CachedLabel {
    LabelValue label;
    DWORD tick;
  };
  // The labelled items of one folder, by name in the service's order;
  // shared, never changed once made.
  struct FolderAnswer {
    std::vector<std::pair<std::u16string, LabelValue>> labelled;
    DWORD tick = 0;  // when it was asked for
    LabelValue LabelOf(std::u16string_view name) const;
  };
  void RememberFolder(std::u16string folder, std::shared_ptr<const FolderAnswer> answer);
  std::mutex m_cacheLock;
  std::map<std::u16string, CachedLabel, PathLess> m_cache;
  std::map<std::u16string, std::shared_ptr<const FolderAnswer>, PathLess> m_folderAnswers;
  std::atomic<bool> m_cachingAndReuse{true};
  std::atomic<bool> m_folderQueryEnabled{true};
  // The service's object has no ILabelFolderQuery (an older service); asked
  // again with every new object.
  std::atomic<bool> m_folderQueryMissing{false};
  std::atomic<std::uint64_t> m_folderQueries{0};

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

// The folder that holds path ("C:\dir" for "C:\dir\a.txt", "C:\" for
// "C:\a.txt") and the item's name in it; nothing for a root, a bare name or
// a path ending with a backslash.
struct FolderAndName {
  std::u16string_view folder;
  std::u16string_view name;
};
std::optional<FolderAndName> SplitFolderAndName(std::u16string_view path);

}  // namespace pelko
