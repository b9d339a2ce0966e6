#include "DriveWatcher.h"

#include <atomic>
#include <deque>
#include <list>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "NotificationDecoder.h"
#include "PathCompare.h"
#include "TickClock.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace pelko {
namespace {

// A 64 KB request buffer: 4 KB overflows in any real burst.
constexpr DWORD kBufferBytes = 64 * 1024;
constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
// Completion key of the packets that only wake the thread.
constexpr ULONG_PTR kWakeKey = 0;
constexpr DWORD kRetiredDrainMs = 1000;

void EnablePrivilege(const wchar_t* name) {
  unique_handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

}  // namespace

// One armed request on one root. Its address is the completion key; it is
// freed only once no request of it is outstanding.
struct WatchRecord {
  WatchRecord(HANDLE directory, const std::wstring& root) : dir(directory), decoder(ToU16(root)) {}
  unique_hfile dir;
  OVERLAPPED overlapped{};
  bool requestOutstanding = false;  // armed, its completion not yet taken
  std::vector<DWORD> buffer = std::vector<DWORD>(kBufferBytes / sizeof(DWORD));  // DWORD-aligned, as required
  NotificationDecoder decoder;
};

struct RootState {
  std::wstring root;
  std::unique_ptr<WatchRecord> watch;  // null while the root waits for a retry
  std::uint64_t retryAtMs = 0;
  DWORD retryDelayMs = 0;
  WineRenamedFolders wineRenames;
};

struct CDriveWatcher::Shared {
  unique_handle port;
  unique_handle changeEvent{CreateEventW(nullptr, FALSE, FALSE, nullptr)};

  std::mutex lockRoots;  // newRoots and scanDrives, written by other threads
  std::vector<std::wstring> newRoots;
  bool scanDrives = false;

  std::mutex lockQueue;
  std::deque<ChangeRecord> queue;

  // The watcher thread's own.
  std::optional<CWorkerThread::StopToken> stop;
  std::list<RootState> roots;
  std::list<std::unique_ptr<WatchRecord>> retired;  // closed at shutdown, their last packet not yet seen
  MonotonicClock clock;
  std::uint64_t nextRescanMs = 0;
  bool scanning = false;

  std::atomic<std::uint64_t> records{0}, overflows{0}, malformedBuffers{0}, rootFailures{0}, armedRoots{0};
  std::atomic<std::uint64_t> primedFolders{0}, primingMs{0};

  void Wake() { PostQueuedCompletionStatus(port.get(), 0, kWakeKey, nullptr); }
  bool Stopping() const { return stop->Requested(); }
  void Run(const CWorkerThread::StopToken& stopToken);
  void TakeNewRoots(std::uint64_t nowMs);
  void RescanDrives(std::uint64_t nowMs);
  void ServiceTimers(std::uint64_t nowMs);
  DWORD NextTimeout(std::uint64_t nowMs) const;
  void OpenRoot(RootState& root, std::uint64_t nowMs);
  bool Arm(WatchRecord& watch);
  void RootFailed(RootState& root, std::uint64_t nowMs);
  void Completed(WatchRecord& watch, RootState& root, DWORD bytes, std::uint64_t nowMs);
  void Queue(std::vector<ChangeRecord>& changes);
  void ApplyWineQuirks(RootState& root, std::vector<ChangeRecord>& changes);
  void Prime(const std::wstring& folder);
  RootState* OwnerOf(const WatchRecord* watch);
  bool Retire(const WatchRecord* watch);
  void Shutdown();
};

CDriveWatcher::CDriveWatcher() : m_shared(std::make_shared<Shared>()) {
  for (const wchar_t* privilege : {L"SeBackupPrivilege", L"SeRestorePrivilege", L"SeChangeNotifyPrivilege"}) {
    EnablePrivilege(privilege);
  }
}

CDriveWatcher::~CDriveWatcher() { Stop(); }

bool CDriveWatcher::EnsureThread() {
  std::lock_guard lock(m_threadLock);
  if (m_stopped) return false;
  if (m_thread.Running()) return true;
  m_shared->port.reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  if (!m_shared->port || !m_shared->changeEvent) return false;
  // The thread owns a reference: its state outlives this object if need be.
  return m_thread.Start([shared = m_shared](const CWorkerThread::StopToken& stop) { shared->Run(stop); });
}

bool CDriveWatcher::AddRoot(const std::wstring& root) {
  {
    std::lock_guard lock(m_shared->lockRoots);
    m_shared->newRoots.push_back(root);
  }
  if (!EnsureThread()) return false;
  m_shared->Wake();
  return true;
}

void CDriveWatcher::AddFixedDrives() {
  {
    std::lock_guard lock(m_shared->lockRoots);
    m_shared->scanDrives = true;
  }
  if (EnsureThread()) m_shared->Wake();
}

bool CDriveWatcher::PopChange(ChangeRecord& record) {
  std::lock_guard lock(m_shared->lockQueue);
  if (m_shared->queue.empty()) return false;
  record = std::move(m_shared->queue.front());
  m_shared->queue.pop_front();
  return true;
}

void CDriveWatcher::WaitForChange(DWORD timeoutMs) {
  {
    std::lock_guard lock(m_shared->lockQueue);
    if (!m_shared->queue.empty()) return;
  }
  WaitForSingleObject(m_shared->changeEvent.get(), timeoutMs);
}

void CDriveWatcher::Stop() {
  // Held throughout: a second caller (the destructor) waits until the first
  // is done with the thread.
  std::lock_guard lock(m_threadLock);
  if (std::exchange(m_stopped, true)) return;
  m_thread.RequestStop();
  m_shared->Wake();
  // The thread keeps its state alive itself: not waiting longer is safe.
  m_thread.Stop(kStopWaitMs);
}

bool CDriveWatcher::ThreadRunning() const { return m_thread.Running(); }

CDriveWatcher::Statistics CDriveWatcher::GetStatistics() const {
  Statistics statistics;
  statistics.records = m_shared->records;
  statistics.overflows = m_shared->overflows;
  statistics.malformedBuffers = m_shared->malformedBuffers;
  statistics.rootFailures = m_shared->rootFailures;
  statistics.armedRoots = m_shared->armedRoots;
  statistics.priming.folders = m_shared->primedFolders;
  statistics.priming.milliseconds = m_shared->primingMs;
  return statistics;
}

void CDriveWatcher::Shared::Run(const CWorkerThread::StopToken& stopToken) {
  stop.emplace(stopToken);
  while (!Stopping()) {
    const std::uint64_t now = clock.NowMs();
    TakeNewRoots(now);
    ServiceTimers(now);

    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    const BOOL dequeued = GetQueuedCompletionStatus(port.get(), &bytes, &key, &overlapped, NextTimeout(now));
    if (overlapped) {
      // This request is over, whatever comes next.
      for (RootState& root : roots) {
        if (root.watch.get() == reinterpret_cast<WatchRecord*>(key)) root.watch->requestOutstanding = false;
      }
    }
    if (Stopping()) break;
    if (!overlapped) {
      // A time-out or a wake-up packet: the next pass sorts it out. A port
      // that fails outright must not make the thread spin.
      if (!dequeued && GetLastError() != WAIT_TIMEOUT) Sleep(200);
      continue;
    }
    auto* watch = reinterpret_cast<WatchRecord*>(key);
    RootState* root = OwnerOf(watch);
    if (!root) continue;
    if (!dequeued) {
      RootFailed(*root, clock.NowMs());  // the request ended in error
      continue;
    }
    Completed(*watch, *root, bytes, clock.NowMs());
  }
  Shutdown();
}

void CDriveWatcher::Shared::TakeNewRoots(std::uint64_t nowMs) {
  std::vector<std::wstring> added;
  bool scan = false;
  {
    std::lock_guard lock(lockRoots);
    added.swap(newRoots);
    scan = scanDrives;
  }
  for (std::wstring& root : added) {
    bool known = false;
    for (const RootState& existing : roots) known = known || PathsEqual(ToU16(existing.root), ToU16(root));
    if (known) continue;
    roots.push_back({std::move(root), nullptr, nowMs, 0, {}});
    OpenRoot(roots.back(), nowMs);
  }
  if (scan && !scanning) {
    scanning = true;
    RescanDrives(nowMs);
  }
}

void CDriveWatcher::Shared::RescanDrives(std::uint64_t nowMs) {
  nextRescanMs = nowMs + kDriveRescanMs;
  const DWORD drives = GetLogicalDrives();
  // A: and B: are floppy letters whatever they hold.
  for (int letter = 2; letter < 26; ++letter) {
    if (!(drives & (1u << letter))) continue;
    const std::wstring root{static_cast<wchar_t>(L'A' + letter), L':', L'\\'};
    if (GetDriveTypeW(root.c_str()) != DRIVE_FIXED || IsWineUnixRootDrive(root)) continue;
    bool known = false;
    for (const RootState& existing : roots) known = known || PathsEqual(ToU16(existing.root), ToU16(root));
    if (known) continue;
    roots.push_back({root, nullptr, nowMs, 0, {}});
    OpenRoot(roots.back(), nowMs);
  }
}

void CDriveWatcher::Shared::ServiceTimers(std::uint64_t nowMs) {
  std::vector<ChangeRecord> expired;
  for (RootState& root : roots) {
    if (!root.watch && nowMs >= root.retryAtMs) OpenRoot(root, nowMs);
    // An old name whose new name did not follow in time was renamed out of
    // sight: it counts as removed.
    if (root.watch && root.watch->decoder.HasPendingOldName() &&
        nowMs >= root.watch->decoder.PendingSinceMs() + kPendingOldNameMs) {
      root.watch->decoder.ExpirePendingOldName(expired);
    }
  }
  Queue(expired);
  if (scanning && nowMs >= nextRescanMs) RescanDrives(nowMs);
}

DWORD CDriveWatcher::Shared::NextTimeout(std::uint64_t nowMs) const {
  std::uint64_t next = scanning ? nextRescanMs : UINT64_MAX;
  for (const RootState& root : roots) {
    if (!root.watch) next = std::min(next, root.retryAtMs);
    if (root.watch && root.watch->decoder.HasPendingOldName()) {
      next = std::min(next, root.watch->decoder.PendingSinceMs() + kPendingOldNameMs);
    }
  }
  if (next == UINT64_MAX) return INFINITE;
  return next <= nowMs ? 0 : static_cast<DWORD>(std::min<std::uint64_t>(next - nowMs, kLongestRetryMs));
}

void CDriveWatcher::Shared::OpenRoot(RootState& root, std::uint64_t nowMs) {
  HANDLE directory = CreateFileW(root.root.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (directory == INVALID_HANDLE_VALUE) {
    RootFailed(root, nowMs);
    return;
  }
  auto watch = std::make_unique<WatchRecord>(directory, root.root);
  if (!CreateIoCompletionPort(directory, port.get(), reinterpret_cast<ULONG_PTR>(watch.get()), 0) || !Arm(*watch)) {
    RootFailed(root, nowMs);
    return;  // watch goes with its handle; no request is outstanding
  }
  root.watch = std::move(watch);
  root.retryDelayMs = 0;
  // Under Wine the folders that were there before the watch report nothing
  // until walked once: the root counts as watched after that.
  if (RunningUnderWine()) Prime(root.root);
  ++armedRoots;
}

bool CDriveWatcher::Shared::Arm(WatchRecord& watch) {
  watch.overlapped = OVERLAPPED{};
  watch.requestOutstanding = ReadDirectoryChangesW(watch.dir.get(), watch.buffer.data(), kBufferBytes, TRUE,
                                                   kNotifyFilter, nullptr, &watch.overlapped, nullptr) != FALSE;
  return watch.requestOutstanding;
}

// Called when no request of the root is outstanding (it failed to open, to
// arm, or its request ended in error), so its record can go at once.
void CDriveWatcher::Shared::RootFailed(RootState& root, std::uint64_t nowMs) {
  ++rootFailures;
  if (root.watch) {
    --armedRoots;
    root.watch.reset();
  }
  root.retryDelayMs = root.retryDelayMs == 0 ? kFirstRetryMs : std::min(root.retryDelayMs * 2, kLongestRetryMs);
  root.retryAtMs = nowMs + root.retryDelayMs;
}

void CDriveWatcher::Shared::Completed(WatchRecord& watch, RootState& root, DWORD bytes, std::uint64_t nowMs) {
  std::vector<ChangeRecord> changes;
  if (bytes == 0) {
    // The system's buffer overflowed: what changed is unknown. Nothing is
    // guessed (no label may go because of it); the watch goes on.
    ++overflows;
    watch.decoder.Overflowed();
  } else {
    const std::size_t malformedBefore = watch.decoder.MalformedBuffers();
    watch.decoder.Decode(std::span(reinterpret_cast<const std::uint8_t*>(watch.buffer.data()), bytes), nowMs, changes);
    malformedBuffers += watch.decoder.MalformedBuffers() - malformedBefore;
  }
  if (!Arm(watch)) {
    Queue(changes);
    RootFailed(root, nowMs);
    return;
  }
  if (RunningUnderWine()) ApplyWineQuirks(root, changes);
  Queue(changes);
}

void CDriveWatcher::Shared::ApplyWineQuirks(RootState& root, std::vector<ChangeRecord>& changes) {
  auto isFolder = [](const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  };
  for (ChangeRecord& change : changes) {
    change.path = root.wineRenames.Correct(std::move(change.path));
    if (!change.secondPath.empty()) change.secondPath = root.wineRenames.Correct(std::move(change.secondPath));
    if (change.action == kItemRenamedOldName && isFolder(change.secondPath)) {
      root.wineRenames.FolderRenamed(change.path, change.secondPath);
    } else if (change.action == kItemAdded && isFolder(change.path)) {
      Prime(ToWide(change.path));
    }
  }
}

void CDriveWatcher::Shared::Queue(std::vector<ChangeRecord>& changes) {
  if (changes.empty()) return;
  {
    std::lock_guard lock(lockQueue);
    for (ChangeRecord& change : changes) queue.push_back(std::move(change));
  }
  records += changes.size();
  changes.clear();
  SetEvent(changeEvent.get());
}

void CDriveWatcher::Shared::Prime(const std::wstring& folder) {
  PrimingCost cost;
  PrimeWineWatch(folder, cost, [this] { return Stopping(); });
  primedFolders += cost.folders;
  primingMs += cost.milliseconds;
}

RootState* CDriveWatcher::Shared::OwnerOf(const WatchRecord* watch) {
  for (RootState& root : roots) {
    if (root.watch.get() == watch) return &root;
  }
  return nullptr;
}

bool CDriveWatcher::Shared::Retire(const WatchRecord* watch) {
  for (auto it = retired.begin(); it != retired.end(); ++it) {
    if (it->get() == watch) {
      retired.erase(it);
      return true;
    }
  }
  return false;
}

void CDriveWatcher::Shared::Shutdown() {
  std::vector<ChangeRecord> expired;
  for (RootState& root : roots) {
    if (!root.watch) continue;
    root.watch->decoder.ExpirePendingOldName(expired);
    root.watch->dir.reset();  // ends the outstanding request, which still posts its packet
    if (root.watch->requestOutstanding) retired.push_back(std::move(root.watch));
    root.watch.reset();
  }
  Queue(expired);
  armedRoots = 0;
  // Each closed request still posts one packet, which may write to its
  // record: free a record only after its packet. Records whose packet never
  // comes are left alone rather than freed under the system's feet.
  const DWORD started = GetTickCount();
  while (!retired.empty()) {
    const DWORD waited = GetTickCount() - started;
    if (waited >= kRetiredDrainMs) break;
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    GetQueuedCompletionStatus(port.get(), &bytes, &key, &overlapped, kRetiredDrainMs - waited);
    if (overlapped) Retire(reinterpret_cast<WatchRecord*>(key));
  }
  for (auto& leftover : retired) leftover.release();
}

}  // namespace pelko
