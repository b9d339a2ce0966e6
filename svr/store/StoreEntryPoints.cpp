#include "StoreEntryPoints.h"

#include <functional>
#include <new>

#include "UniqueHandle.h"
#include "Utf16.h"
#include "Win32FileSystem.h"

namespace pelko {
namespace {

Win32FileSystem g_fileSystem;
CLabelStore g_labelStore(&g_fileSystem);
unique_handle g_storeMutex;
// Held by a save from its snapshot to its end, and by a load: two saves
// never interleave, and the database is used by one thread at a time. Taken
// before the store mutex, never while holding it.
unique_handle g_saveMutex;

class MutexLock {
 public:
  explicit MutexLock(const unique_handle& mutex) : m_mutex(mutex) {
    if (!m_mutex) return;
    const DWORD wait = WaitForSingleObject(m_mutex.get(), INFINITE);
    if (wait == WAIT_OBJECT_0) {
      m_held = true;
    } else if (wait == WAIT_ABANDONED) {
      // A thread ended holding it: the table may be mid-change. Answer idle
      // this once, but let go, or every later caller would wait forever.
      ReleaseMutex(m_mutex.get());
    }
  }
  ~MutexLock() {
    if (m_held) ReleaseMutex(m_mutex.get());
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;
  explicit operator bool() const { return m_held; }

 private:
  const unique_handle& m_mutex;
  bool m_held = false;
};

// Runs body on the locked table. notLocked is the result when the mutex
// cannot be taken, failed when body throws (out of memory).
template <typename Result, typename Body>
Result WithStore(Result notLocked, Result failed, Body body) noexcept {
  MutexLock lock(g_storeMutex);
  if (!lock) return notLocked;
  try {
    return body(g_labelStore);
  } catch (...) {
    return failed;
  }
}

template <typename Result, typename Body>
Result WithStore(Result idle, Body body) noexcept {
  return WithStore(idle, idle, body);
}

// For the entry points without a result.
template <typename Body>
void WithStore(Body body) noexcept {
  WithStore(false, [&](CLabelStore& store) {
    body(store);
    return true;
  });
}

std::u16string PathOf(const wchar_t* path) { return ToU16(WideView(path)); }

// The store mutex is held to take the snapshot, for each slice the write
// reads, and to record the result; the file is written without it.
bool SaveWithoutHoldingTheStore(bool onlyIfChanged) noexcept {
  MutexLock saving(g_saveMutex);
  if (!saving) return false;
  std::optional<SaveSnapshot> snapshot;
  const bool taken = WithStore(false, [&](CLabelStore& store) {
    if (!onlyIfChanged || store.HasUnsavedChanges()) snapshot = store.TakeSnapshot();
    return true;
  });
  if (!taken) return false;
  if (!snapshot) return true;  // nothing changed
  snapshot->Write([](const std::function<void()>& step) {
    MutexLock lock(g_storeMutex);
    if (lock) step();
    return bool(lock);
  });
  return WithStore(false, [&](CLabelStore& store) { return store.FinishSave(*snapshot); });
}

}  // namespace

bool CreateStoreMutex() {
  g_storeMutex.reset(CreateMutexW(nullptr, FALSE, nullptr));
  g_saveMutex.reset(CreateMutexW(nullptr, FALSE, nullptr));
  return g_storeMutex.is_valid() && g_saveMutex.is_valid();
}

void CloseStoreMutex() {
  g_storeMutex.reset();
  g_saveMutex.reset();
}

void AttachStoreDatabase(ILabelDatabase* database) {
  // There are none before CreateStoreMutex: start-up is single-threaded then.
  MutexLock saving(g_saveMutex);
  MutexLock lock(g_storeMutex);
  g_labelStore.SetDatabase(database);
}

LabelValue StoreGetLabel(const wchar_t* path) {
  return WithStore(kNoLabel, [&](CLabelStore& store) { return store.GetLabel(PathOf(path)); });
}

bool StoreSetLabel(const wchar_t* path, LabelValue label) {
  return WithStore(false, [&](CLabelStore& store) { return store.SetLabel(PathOf(path), label); });
}

void StoreClearLabel(const wchar_t* path) {
  WithStore([&](CLabelStore& store) { store.ClearLabel(PathOf(path)); });
}

HRESULT StoreGetLabelCollection(LabelValue labelKind, ULONG* count, std::optional<std::vector<LabelEntry>>* entries) {
  // Written first so that no path leaves a caller trusting an old count.
  *count = 0;
  return WithStore(S_OK, E_OUTOFMEMORY, [&](CLabelStore& store) {
    auto taken = store.GetLabelCollection(labelKind);
    // Nothing is handed out until everything is built.
    if (taken) {
      *entries = std::move(taken);
      *count = static_cast<ULONG>((*entries)->size());
    }
    return S_OK;
  });
}

HRESULT StoreGetFolderLabels(const wchar_t* folder, std::vector<LabelEntry>* entries) {
  entries->clear();
  return WithStore(S_FALSE, E_OUTOFMEMORY, [&](CLabelStore& store) {
    *entries = store.GetFolderLabels(PathOf(folder));
    return S_OK;
  });
}

void StoreItemAdded(const wchar_t* path, std::optional<std::uint64_t> eventMs, const StopRequested& stopRequested) {
  WithStore([&](CLabelStore& store) { store.ItemAdded(PathOf(path), eventMs, stopRequested); });
}

void StoreItemRemoved(const wchar_t* path, std::optional<std::uint64_t> eventMs) {
  WithStore([&](CLabelStore& store) { store.ItemRemoved(PathOf(path), eventMs); });
}

void StoreItemRenamed(const wchar_t* oldPath, const wchar_t* newPath, std::optional<std::uint64_t> eventMs,
                      const StopRequested& stopRequested) {
  WithStore([&](CLabelStore& store) { store.ItemRenamed(PathOf(oldPath), PathOf(newPath), eventMs, stopRequested); });
}

LoadResult StoreLoad() {
  MutexLock saving(g_saveMutex);
  if (!saving) return LoadResult{};
  const LoadResult outOfMemory{LoadStatus::Unreadable, {}, u"out of memory while loading"};
  return WithStore(LoadResult{}, outOfMemory, [](CLabelStore& store) { return store.Load(); });
}

bool StoreSave() { return SaveWithoutHoldingTheStore(/*onlyIfChanged=*/false); }

bool StoreSaveIfChanged() { return SaveWithoutHoldingTheStore(/*onlyIfChanged=*/true); }

std::uint64_t StoreChangeCount() {
  return WithStore(std::uint64_t{0}, [](CLabelStore& store) { return store.ChangeCount(); });
}

bool StoreHasUnsavedChanges() {
  return WithStore(false, [](CLabelStore& store) { return store.HasUnsavedChanges(); });
}

std::u16string StoreLastSaveError() {
  return WithStore(std::u16string(), [](CLabelStore& store) { return store.LastSaveError(); });
}

void ResetStoreForTesting() {
  CloseStoreMutex();
  g_labelStore = CLabelStore(&g_fileSystem);
}

}  // namespace pelko
