#include "StoreEntryPoints.h"

#include <new>

#include "UniqueHandle.h"
#include "Utf16.h"
#include "Win32FileSystem.h"

namespace pelko {
namespace {

Win32FileSystem g_fileSystem;
CLabelStore g_labelStore(&g_fileSystem);
unique_handle g_storeMutex;

class StoreLock {
 public:
  StoreLock() {
    if (!g_storeMutex) return;
    const DWORD wait = WaitForSingleObject(g_storeMutex.get(), INFINITE);
    if (wait == WAIT_OBJECT_0) {
      m_held = true;
    } else if (wait == WAIT_ABANDONED) {
      // A thread ended holding it: the table may be mid-change. Answer idle
      // this once, but let go, or every later caller would wait forever.
      ReleaseMutex(g_storeMutex.get());
    }
  }
  ~StoreLock() {
    if (m_held) ReleaseMutex(g_storeMutex.get());
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  explicit operator bool() const { return m_held; }

 private:
  bool m_held = false;
};

// Runs body on the locked table. notLocked is the result when the mutex
// cannot be taken, failed when body throws (out of memory).
template <typename Result, typename Body>
Result WithStore(Result notLocked, Result failed, Body body) noexcept {
  StoreLock lock;
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

}  // namespace

bool CreateStoreMutex() {
  g_storeMutex.reset(CreateMutexW(nullptr, FALSE, nullptr));
  return g_storeMutex.is_valid();
}

void CloseStoreMutex() { g_storeMutex.reset(); }

void AttachStoreDatabase(ILabelDatabase* database) {
  StoreLock lock;  // there is none before CreateStoreMutex: start-up is single-threaded then
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
  const LoadResult outOfMemory{LoadStatus::Unreadable, {}, u"out of memory while loading"};
  return WithStore(LoadResult{}, outOfMemory, [](CLabelStore& store) { return store.Load(); });
}

bool StoreSave() {
  return WithStore(false, [](CLabelStore& store) { return store.Save(); });
}

bool StoreSaveIfChanged() {
  return WithStore(false, [](CLabelStore& store) { return !store.HasUnsavedChanges() || store.Save(); });
}

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
