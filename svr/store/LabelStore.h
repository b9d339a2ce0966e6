#pragma once
// CLabelStore: the service's table of labelled paths and the pool of labels
// of removed items, which lets a label follow an item that the file system
// reports as removed here and added there. Paths are kept exactly as given
// and compared with ASCII-only case folding (PathCompare.h).
//
// The table takes no lock of its own: every caller goes through the locked
// entry points (StoreEntryPoints.h).

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FileSystem.h"
#include "LabelDatabase.h"
#include "LabelIndex.h"
#include "Labels.h"
#include "PathCompare.h"

namespace pelko {

struct LabelEntry {
  std::u16string path;
  LabelValue label = kNoLabel;
  bool operator==(const LabelEntry&) const = default;
};

// The last component of path ("D:\a\Report.doc" gives "Report.doc",
// "D:\a\Project\" gives "Project\"); empty for a root or a bare name.
std::u16string_view GetLastComponent(std::u16string_view path);

// The key of path relative to the folder that holds removedPath: the removed
// item's own name followed by the rest of path; empty when path is neither
// removedPath nor inside it.
std::u16string GetRelativePath(std::u16string_view removedPath, std::u16string_view path);

enum class LoadStatus {
  Loaded,      // the file was read whole
  NoFile,      // nothing saved yet; the table is as it was
  Partial,     // damage after some records: those before it are loaded, the file is copied to setAsidePath
  SetAside,    // unreadable; moved to setAsidePath, the table starts empty
  Unreadable,  // unreadable and could not be moved aside; no save will replace it until it can be
  NotLocked,   // the store could not be locked (entry point idle result)
};

struct LoadResult {
  LoadStatus status = LoadStatus::NotLocked;
  std::u16string setAsidePath;  // where an unreadable file went, or the copy of a partial one
                                // (empty when the copy must wait for the next save)
  std::u16string detail;        // what was wrong with the file
  bool Usable() const { return status != LoadStatus::NotLocked; }
};

class CLabelStore;

// One save: the table as it was when TakeSnapshot was called, written while
// others go on using the table. Taking it costs nothing; Write then reads
// the table in slices of about a megabyte, each under the store's lock, and
// writes each slice without the lock. An entry changed meanwhile is written
// as it was at the snapshot, from the table's note of what the change
// replaced. One save at a time, and no Load while one is open: the entry
// points' save lock sees to both.
class SaveSnapshot {
 public:
  // Runs step with the store's lock held; false when it could not be taken.
  using Locked = std::function<bool(const std::function<void()>& step)>;

  SaveSnapshot() = default;
  SaveSnapshot(SaveSnapshot&&) = default;
  SaveSnapshot& operator=(SaveSnapshot&&) = default;

  // Sets aside what must be set aside, then replaces the file, taking the
  // lock only for each slice it reads.
  void Write(const Locked& locked) noexcept;

  // How much of the file a slice fills at most before it is written.
  static constexpr std::size_t kSliceBytes = 1 << 20;

 private:
  friend class CLabelStore;
  void Fail(std::u16string reason) { m_error = std::move(reason); }

  const CLabelStore* m_store = nullptr;
  ILabelDatabase* m_database = nullptr;
  std::int32_t m_version = LABELS_VERSION;
  std::int32_t m_count = 0;  // the records the file will hold
  std::uint64_t m_changeCount = 0;
  bool m_moveAsideFirst = false;  // the unreadable file is still in place
  bool m_copyAsideFirst = false;  // the partially loaded file is not copied yet
  // How far the slices got: the last path read, and whether that was all.
  std::optional<std::u16string> m_readUpTo;
  bool m_allRead = false;
  // What Write did.
  bool m_movedAside = false;
  bool m_copiedAside = false;
  bool m_written = false;
  std::u16string m_error;
};

class CLabelStore {
 public:
  CLabelStore(IFileSystem* fileSystem = nullptr, ILabelDatabase* database = nullptr)
      : m_fileSystem(fileSystem), m_database(database) {}

  void SetFileSystem(IFileSystem* fileSystem) { m_fileSystem = fileSystem; }
  void SetDatabase(ILabelDatabase* database) { m_database = database; }

  LabelValue GetLabel(std::u16string_view path) const;
  bool SetLabel(std::u16string_view path, LabelValue label);
  void ClearLabel(std::u16string_view path);

  // Every entry whose label is labelKind (0: every entry), in path order;
  // nothing at all when the table is empty.
  std::optional<std::vector<LabelEntry>> GetLabelCollection(LabelValue labelKind) const;

  // The labelled items directly inside folder (not deeper), in path order,
  // with their stored paths. "C:\dir" and "C:\dir\" ask the same; an
  // empty folder holds nothing. Walks only the children, stepping over each
  // labelled subtree, however large the table.
  std::vector<LabelEntry> GetFolderLabels(std::u16string_view folder) const;

  // The change tracker's operations. eventMs is when the change was seen
  // (any monotonic millisecond clock); with it, a path whose labelled item
  // was renamed away or removed gets its label back when an item appears at
  // the same path within kReappearWindowMs, as editors' safe saves do.
  void ItemAdded(std::u16string_view path, std::optional<std::uint64_t> eventMs = std::nullopt,
                 const StopRequested& stopRequested = {});
  void ItemRemoved(std::u16string_view path, std::optional<std::uint64_t> eventMs = std::nullopt);
  void ItemRenamed(std::u16string_view oldPath, std::u16string_view newPath,
                   std::optional<std::uint64_t> eventMs = std::nullopt, const StopRequested& stopRequested = {});
  static constexpr std::uint64_t kReappearWindowMs = 2000;
  void RenameFile(std::u16string_view oldPath, std::u16string_view newPath);
  void RenameFolder(std::u16string_view oldPath, std::u16string_view newPath);
  void Clear();

  LoadResult Load();
  // TakeSnapshot, Write and FinishSave in one.
  bool Save();
  // A save in three steps: TakeSnapshot and FinishSave under the store's
  // lock, SaveSnapshot::Write between them without it.
  SaveSnapshot TakeSnapshot();
  // Records what the write did; the change count saved is the snapshot's,
  // so changes made during the write stay unsaved. True when it was written.
  bool FinishSave(SaveSnapshot& snapshot);
  // Why the last Save failed.
  const std::u16string& LastSaveError() const { return m_lastSaveError; }
  // True when the table differs from what was last loaded or saved.
  bool HasUnsavedChanges() const { return m_changeCount != m_savedChangeCount; }
  // Grows with every change of the table.
  std::uint64_t ChangeCount() const { return m_changeCount; }

  const LabelMap& Labels() const { return m_labels; }
  const LabelMap& RemovedPool() const { return m_removedPool; }
  std::int32_t Version() const { return m_version; }

 private:
  friend class SaveSnapshot;
  void MarkChanged() { ++m_changeCount; }
  bool SaveFailed(std::u16string reason);

  // m_labels and m_index change together, only here; each change first
  // notes what it replaces while a save is open.
  std::optional<LabelMap::iterator> FindEntry(std::u16string_view path) const;
  LabelMap::iterator InsertEntry(std::u16string_view path, LabelValue label, std::uint64_t hash);
  void EraseEntry(LabelMap::iterator entry);
  void ChangeLabel(LabelMap::iterator entry, LabelValue label);
  void LoadRecords(LabelFileReader& reader);
  void NoteBeforeChange(LabelMap::iterator entry);
  void NoteBeforeInsert(std::u16string_view path);

  // Under the lock: encodes the snapshot's next records, as many as fit the
  // encoder's chunk.
  void ReadSlice(SaveSnapshot& snapshot, LabelFileEncoder& encoder) const;

  // A labelled path that was just renamed away or removed: where its label
  // went (a path, or a pool key this removal created) and when.
  struct VacatedPath {
    std::u16string path;
    LabelValue label = kNoLabel;
    std::u16string holder;
    std::u16string poolKey;
    std::uint64_t timeMs = 0;
  };
  void RememberVacated(VacatedPath vacated);
  void FollowVacatedHolders(std::u16string_view oldPath, std::u16string_view newPath);
  void PoolVacatedHolders(std::u16string_view removedPath);
  bool RestoreVacated(std::u16string_view path, std::uint64_t nowMs);
  void ClaimFromPool(std::u16string_view path, bool skipOwnName, const StopRequested& stopRequested);

  LabelMap m_labels;
  LabelIndex m_index;
  std::int32_t m_version = LABELS_VERSION;
  bool m_snapshotOpen = false;  // a save is reading the table
  // Each path changed since the open snapshot was taken, in its spelling
  // then, with its label then (nothing: it was not in the table).
  std::map<std::u16string, std::optional<LabelValue>, PathLess> m_atSnapshot;
  LabelMap m_removedPool;

  IFileSystem* m_fileSystem;
  ILabelDatabase* m_database;
  std::uint64_t m_changeCount = 0;
  std::uint64_t m_savedChangeCount = 0;
  bool m_keepCopyBeforeSave = false;  // a partially loaded file must be copied before it is replaced
  bool m_saveBlocked = false;         // an unreadable file is still in place
  std::u16string m_lastSaveError;
  std::deque<VacatedPath> m_vacated;  // oldest first, at most a few seconds old
};

}  // namespace pelko
