#include "LabelStore.h"

#include "DebugTrace.h"

#include <algorithm>
#include <array>
#include <new>

namespace pelko {
namespace {

// Calls visit(iterator) for exact (the entry equal to folder, if any) and
// every entry below folder. Under the folded order these are the exact match
// plus one contiguous range (folder followed by "\"), so only they are
// visited, not the table.
template <typename Map, typename Visit>
void ForEachAtOrBelow(Map& map, std::optional<typename Map::iterator> exact, std::u16string_view folder, Visit visit) {
  std::vector<typename Map::iterator> matches;
  if (exact) matches.push_back(*exact);
  std::u16string below(folder);
  below += u'\\';
  for (auto it = map.lower_bound(below); it != map.end() && PrefixAgrees(below, it->first, below.size()); ++it) {
    matches.push_back(it);
  }
  for (auto it : matches) visit(it);
}

const char16_t* DecodeStatusText(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::BadMagic: return u"not a label database (wrong magic number)";
    case DecodeStatus::BadVersion: return u"unknown label database version";
    case DecodeStatus::NegativeCount: return u"negative record count";
    case DecodeStatus::Partial: return u"damaged record";
    case DecodeStatus::Complete: break;
  }
  return u"";
}

std::optional<LabelMap::iterator> FindIn(LabelMap& map, std::u16string_view key) {
  const auto found = map.find(key);
  return found == map.end() ? std::nullopt : std::optional(found);
}

}  // namespace

std::u16string_view GetLastComponent(std::u16string_view path) {
  std::size_t slash = path.rfind(u'\\');
  if (slash == std::u16string_view::npos) return {};
  if (slash + 1 == path.size()) {
    if (slash == 0) return {};
    slash = path.rfind(u'\\', slash - 1);
    if (slash == std::u16string_view::npos) return {};
  }
  return path.substr(slash + 1);
}

std::u16string GetRelativePath(std::u16string_view removedPath, std::u16string_view path) {
  std::u16string key;
  if (PrefixAgrees(removedPath, path, removedPath.size())) {
    const std::u16string_view name = GetLastComponent(removedPath);
    if (path.size() == removedPath.size()) {
      key = name;
    } else if (path[removedPath.size()] == u'\\') {
      key = path.substr(removedPath.size() - name.size());
    }
  }
  DebugTrace(u"GetRelativePath: {P}: %s, {C}: %s {R}: %s\n", {removedPath, path, key});
  return key;
}

std::optional<LabelMap::iterator> CLabelStore::FindEntry(std::u16string_view path) const {
  return m_index.Find(path, FoldedPathHash(path));
}

void CLabelStore::NoteBeforeChange(LabelMap::iterator entry) {
  if (m_snapshotOpen && !m_atSnapshot.contains(entry->first)) m_atSnapshot.emplace(entry->first, entry->second);
}

void CLabelStore::NoteBeforeInsert(std::u16string_view path) {
  if (m_snapshotOpen && !m_atSnapshot.contains(path)) m_atSnapshot.emplace(path, std::nullopt);
}

LabelMap::iterator CLabelStore::InsertEntry(std::u16string_view path, LabelValue label, std::uint64_t hash) {
  NoteBeforeInsert(path);
  // Room first: once the map holds the entry, nothing may fail before the index does too.
  m_index.Reserve(m_index.Size() + 1);
  const auto entry = m_labels.emplace(path, label).first;
  m_index.Insert(entry, hash);
  return entry;
}

void CLabelStore::EraseEntry(LabelMap::iterator entry) {
  NoteBeforeChange(entry);
  m_index.Erase(entry, FoldedPathHash(entry->first));
  m_labels.erase(entry);
}

void CLabelStore::ChangeLabel(LabelMap::iterator entry, LabelValue label) {
  NoteBeforeChange(entry);
  entry->second = label;  // the entry keeps the letter case it was inserted with
}

LabelValue CLabelStore::GetLabel(std::u16string_view path) const {
  const auto entry = FindEntry(path);
  return entry ? (*entry)->second : kNoLabel;
}

bool CLabelStore::SetLabel(std::u16string_view path, LabelValue label) {
  const std::uint64_t hash = FoldedPathHash(path);
  const auto entry = m_index.Find(path, hash);
  if (label == kNoLabel) {
    if (entry) {
      EraseEntry(*entry);
      MarkChanged();
    }
  } else if (entry) {
    if ((*entry)->second != label) {
      ChangeLabel(*entry, label);
      MarkChanged();
    }
  } else {
    InsertEntry(path, label, hash);
    MarkChanged();
  }
  return true;
}

void CLabelStore::ClearLabel(std::u16string_view path) { SetLabel(path, kNoLabel); }

std::optional<std::vector<LabelEntry>> CLabelStore::GetLabelCollection(LabelValue labelKind) const {
  if (m_labels.empty()) return std::nullopt;
  std::vector<LabelEntry> taken;
  if (labelKind == kNoLabel) taken.reserve(m_labels.size());
  for (const auto& [path, label] : m_labels) {
    if (labelKind == kNoLabel || label == labelKind) taken.push_back({path, label});
  }
  return taken;
}

std::vector<LabelEntry> CLabelStore::GetFolderLabels(std::u16string_view folder) const {
  std::vector<LabelEntry> children;
  if (folder.empty()) return children;
  std::u16string prefix(folder);
  if (prefix.back() != u'\\') prefix += u'\\';
  auto it = m_labels.lower_bound(prefix);
  while (it != m_labels.end() && PrefixAgrees(prefix, it->first, prefix.size())) {
    const std::u16string_view rest = std::u16string_view(it->first).substr(prefix.size());
    const std::size_t slash = rest.find(u'\\');
    if (slash == std::u16string_view::npos) {
      if (!rest.empty()) children.push_back({it->first, it->second});
      ++it;
      continue;
    }
    // Below a child: everything under "prefix\child\" sorts before
    // "prefix\child]", as "\" (0x5C) is followed by "]" (0x5D).
    std::u16string past(std::u16string_view(it->first).substr(0, prefix.size() + slash));
    past += u']';
    it = m_labels.lower_bound(past);
  }
  return children;
}

void CLabelStore::ItemRemoved(std::u16string_view path, std::optional<std::uint64_t> eventMs) {
  // An empty path names no item (and would match every path starting "\").
  if (path.empty()) return;
  const LabelValue removedLabel = GetLabel(path);
  std::u16string pooledKey;
  ForEachAtOrBelow(m_labels, FindEntry(path), path, [&](LabelMap::iterator entry) {
    std::u16string key = GetRelativePath(path, entry->first);
    if (key.empty()) return;
    // A key already pooled keeps its earlier label.
    const bool pooled = m_removedPool.emplace(key, entry->second).second;
    if (pooled && PathsEqual(entry->first, path)) pooledKey = std::move(key);
    EraseEntry(entry);
    MarkChanged();
  });
  if (!eventMs) return;
  PoolVacatedHolders(path);
  if (removedLabel != kNoLabel) RememberVacated({std::u16string(path), removedLabel, {}, pooledKey, *eventMs});
}

void CLabelStore::ItemAdded(std::u16string_view path, std::optional<std::uint64_t> eventMs,
                            const StopRequested& stopRequested) {
  if (path.empty()) return;
  // A label given back to this very path outranks any pooled one of the same name.
  const bool restored = eventMs && RestoreVacated(path, *eventMs);
  ClaimFromPool(path, /*skipOwnName=*/restored, stopRequested);
}

void CLabelStore::ClaimFromPool(std::u16string_view path, bool skipOwnName, const StopRequested& stopRequested) {
  const std::u16string_view name = GetLastComponent(path);
  const std::u16string_view parent = path.substr(0, path.size() - name.size());

  if (m_fileSystem && m_fileSystem->IsFolder(path)) {
    std::vector<LabelMap::iterator> candidates;
    ForEachAtOrBelow(m_removedPool, FindIn(m_removedPool, name), name, [&](LabelMap::iterator entry) {
      if (!skipOwnName || !PathsEqual(entry->first, name)) candidates.push_back(entry);
    });
    // Listing a large folder holds up every other user of the store: do it
    // only when some pooled label could be claimed.
    if (candidates.empty()) return;
    PathSet items;
    // Stopped early (the service is stopping): claim nothing rather than
    // judge by half a listing.
    if (!CollectFolderItems(*m_fileSystem, path, items, stopRequested)) return;
    items.emplace(path);
    for (auto entry : candidates) {
      std::u16string claimant(parent);
      claimant += entry->first;
      if (items.contains(claimant)) {
        SetLabel(claimant, entry->second);
        m_removedPool.erase(entry);
      }
    }
    return;
  }

  if (skipOwnName) return;
  if (auto entry = m_removedPool.find(name); entry != m_removedPool.end()) {
    SetLabel(path, entry->second);
    m_removedPool.erase(entry);
  }
}

void CLabelStore::ItemRenamed(std::u16string_view oldPath, std::u16string_view newPath,
                              std::optional<std::uint64_t> eventMs, const StopRequested& stopRequested) {
  // A rename to nothing would give the labels to the empty path; a rename
  // of nothing would take every path starting with "\".
  if (oldPath.empty() || newPath.empty()) return;
  const LabelValue movedLabel = GetLabel(oldPath);
  // Whether newPath is a folder is not asked: by the time a rename record
  // is applied the item may have been renamed again or deleted, and a
  // folder's labels would be stranded. Re-keying the whole subtree gives a
  // file exactly RenameFile's result.
  RenameFolder(oldPath, newPath);
  if (eventMs) {
    FollowVacatedHolders(oldPath, newPath);
    if (movedLabel != kNoLabel) RememberVacated({std::u16string(oldPath), movedLabel, std::u16string(newPath), {}, *eventMs});
  }
  // The new name is an item appearing there: it may take a label back as an
  // added item does (a temporary file renamed onto a saved document).
  if (GetLabel(newPath) == kNoLabel) ItemAdded(newPath, eventMs, stopRequested);
}

void CLabelStore::RememberVacated(VacatedPath vacated) {
  constexpr std::size_t kMostRemembered = 4096;
  if (m_vacated.size() == kMostRemembered) m_vacated.pop_front();
  m_vacated.push_back(std::move(vacated));
}

// A label that moved away with a rename may move on again (a temporary
// file renamed once more): keep track of where it is.
void CLabelStore::FollowVacatedHolders(std::u16string_view oldPath, std::u16string_view newPath) {
  for (VacatedPath& vacated : m_vacated) {
    if (!vacated.holder.empty() && IsAtOrBelow(oldPath, vacated.holder)) {
      vacated.holder = std::u16string(newPath) + vacated.holder.substr(oldPath.size());
    }
  }
}

// The holder itself was removed: its label is now in the pool under its name.
void CLabelStore::PoolVacatedHolders(std::u16string_view removedPath) {
  for (VacatedPath& vacated : m_vacated) {
    if (!vacated.holder.empty() && IsAtOrBelow(removedPath, vacated.holder)) {
      vacated.poolKey = GetRelativePath(removedPath, vacated.holder);
      vacated.holder.clear();
    }
  }
}

bool CLabelStore::RestoreVacated(std::u16string_view path, std::uint64_t nowMs) {
  while (!m_vacated.empty() && nowMs > m_vacated.front().timeMs + kReappearWindowMs) m_vacated.pop_front();
  if (GetLabel(path) != kNoLabel) return false;
  for (auto it = m_vacated.rbegin(); it != m_vacated.rend(); ++it) {
    // Entries arrive nearly, not strictly, in time order (a rename waits for
    // its new name): the window is checked for each one.
    if (!PathsEqual(it->path, path) || nowMs > it->timeMs + kReappearWindowMs) continue;
    const VacatedPath vacated = *it;
    m_vacated.erase(std::next(it).base());
    // The label moves back: it leaves the temporary name it went to, or the
    // pool entry the removal made, if it is still there.
    if (auto holder = FindEntry(vacated.holder);
        !vacated.holder.empty() && holder && (*holder)->second == vacated.label) {
      EraseEntry(*holder);
    }
    if (auto pooled = m_removedPool.find(vacated.poolKey); !vacated.poolKey.empty() && pooled != m_removedPool.end() &&
                                                           pooled->second == vacated.label) {
      m_removedPool.erase(pooled);
    }
    SetLabel(path, vacated.label);
    return true;
  }
  return false;
}

void CLabelStore::RenameFile(std::u16string_view oldPath, std::u16string_view newPath) {
  const auto entry = FindEntry(oldPath);
  if (!entry) return;
  const LabelValue label = (*entry)->second;
  EraseEntry(*entry);
  MarkChanged();
  SetLabel(newPath, label);
}

void CLabelStore::RenameFolder(std::u16string_view oldPath, std::u16string_view newPath) {
  std::vector<LabelEntry> moved;
  ForEachAtOrBelow(m_labels, FindEntry(oldPath), oldPath, [&](LabelMap::iterator entry) {
    std::u16string renamed(newPath);
    renamed += std::u16string_view(entry->first).substr(oldPath.size());
    moved.push_back({std::move(renamed), entry->second});
    EraseEntry(entry);
    MarkChanged();
  });
  // Every old entry is gone before a new one is written, so a rename that
  // changes only the letter case rewrites it everywhere.
  for (const LabelEntry& entry : moved) SetLabel(entry.path, entry.label);
}

void CLabelStore::Clear() {
  if (m_labels.empty()) return;
  for (auto entry = m_labels.begin(); m_snapshotOpen && entry != m_labels.end(); ++entry) NoteBeforeChange(entry);
  m_labels.clear();
  m_index.Clear();
  MarkChanged();
}

// Saved records come in path order: each one normally goes at the end,
// where the hint puts it after one comparison; a record out of order or
// repeated still finds its place. Index inserts trail the records by a
// few, so that each slot comes from memory while the next records are read.
void CLabelStore::LoadRecords(LabelFileReader& reader) {
  struct Pending {
    LabelMap::iterator entry;
    std::uint64_t hash;
  };
  std::array<Pending, 16> pending;
  std::size_t waiting = 0;
  const auto insertWaiting = [&] {
    for (std::size_t i = 0; i < waiting; ++i) m_index.Insert(pending[i].entry, pending[i].hash);
    waiting = 0;
  };
  std::u16string_view path;
  LabelValue label = kNoLabel;
  while (reader.Next(path, label)) {
    if (label == kNoLabel) {
      insertWaiting();  // SetLabel looks in the index
      SetLabel(path, label);
      continue;
    }
    NoteBeforeInsert(path);
    // Room for the waiting ones too: once in the map, an entry must reach the index.
    m_index.Reserve(m_index.Size() + waiting + 1);
    const std::size_t before = m_labels.size();
    const auto entry = m_labels.emplace_hint(m_labels.end(), path, label);
    if (m_labels.size() != before) {
      const std::uint64_t hash = FoldedPathHash(path);
      m_index.Prefetch(hash);
      pending[waiting++] = {entry, hash};
      if (waiting == pending.size()) insertWaiting();
    } else if (entry->second != label) {
      ChangeLabel(entry, label);
    } else {
      continue;
    }
    MarkChanged();
  }
  insertWaiting();
}

LoadResult CLabelStore::Load() {
  LoadResult result;
  m_saveBlocked = false;
  m_keepCopyBeforeSave = false;
  if (!m_database) {
    result.status = LoadStatus::Unreadable;
    result.detail = u"no label database folder";
    m_saveBlocked = true;
    return result;
  }
  std::vector<std::uint8_t> contents;
  const ILabelDatabase::ReadOutcome read = m_database->Read(contents);
  if (read == ILabelDatabase::ReadOutcome::Missing) {
    result.status = LoadStatus::NoFile;
    return result;
  }

  Clear();
  std::optional<DecodeStatus> decoded;  // nothing: the file could not be read or decoded at all
  if (read == ILabelDatabase::ReadOutcome::Read) {
    try {
      LabelFileReader reader(contents, m_version);
      // Every record takes at least 8 bytes: a count larger than the file is no reason to reserve.
      m_index.Reserve(std::min<std::size_t>(static_cast<std::size_t>(reader.Count()), contents.size() / 8));
      LoadRecords(reader);
      decoded = reader.Result().status;
      result.detail = DecodeStatusText(*decoded);
    } catch (const std::bad_alloc&) {
      result.detail = u"out of memory while loading";
    }
  } else {
    result.detail = m_database->LastError();
  }
  contents = {};

  if (decoded && LoadSucceeded(*decoded)) {
    m_savedChangeCount = m_changeCount;  // the table is what the file holds
    if (*decoded == DecodeStatus::Complete) {
      result.status = LoadStatus::Loaded;
      return result;
    }
    // The records after the damage are not in the table: keep the file as
    // it is now, before any save replaces it.
    result.status = LoadStatus::Partial;
    if (auto copy = m_database->SetAside(/*keepOriginal=*/true)) {
      result.setAsidePath = std::move(*copy);
    } else {
      m_keepCopyBeforeSave = true;
    }
    return result;
  }

  // Unreadable: nothing of it is trusted, and it must never be overwritten.
  Clear();
  m_savedChangeCount = m_changeCount;
  if (auto movedTo = m_database->SetAside(/*keepOriginal=*/false)) {
    result.status = LoadStatus::SetAside;
    result.setAsidePath = std::move(*movedTo);
  } else {
    result.status = LoadStatus::Unreadable;
    result.detail += u"; ";
    result.detail += m_database->LastError();
    m_saveBlocked = true;
  }
  return result;
}

bool CLabelStore::SaveFailed(std::u16string reason) {
  m_lastSaveError = std::move(reason);
  DebugTrace(u"Save failed: %s\n", {m_lastSaveError});
  return false;
}

SaveSnapshot CLabelStore::TakeSnapshot() {
  SaveSnapshot snapshot;
  snapshot.m_store = this;
  snapshot.m_database = m_database;
  snapshot.m_version = m_version;
  // The empty path is never written.
  snapshot.m_count = static_cast<std::int32_t>(m_labels.size() - (FindEntry(u"") ? 1 : 0));
  snapshot.m_changeCount = m_changeCount;
  snapshot.m_moveAsideFirst = m_saveBlocked;
  snapshot.m_copyAsideFirst = m_keepCopyBeforeSave;
  // Only one save at a time: notes for an earlier one that never finished
  // are read by nobody.
  m_atSnapshot.clear();
  m_snapshotOpen = true;
  return snapshot;
}

void CLabelStore::ReadSlice(SaveSnapshot& snapshot, LabelFileEncoder& encoder) const {
  const std::optional<std::u16string>& after = snapshot.m_readUpTo;
  auto live = after ? m_labels.upper_bound(*after) : m_labels.begin();
  auto noted = after ? m_atSnapshot.upper_bound(*after) : m_atSnapshot.begin();
  const std::u16string* last = nullptr;
  // Both in path order: the table as it is, and what changed since the
  // snapshot as it was then, which wins where both have a path.
  while (live != m_labels.end() || noted != m_atSnapshot.end()) {
    const int order = live == m_labels.end()        ? 1
                      : noted == m_atSnapshot.end() ? -1
                                                    : ComparePaths(live->first, noted->first);
    const std::u16string& path = order < 0 ? live->first : noted->first;
    const std::optional<LabelValue> label = order < 0 ? std::optional(live->second) : noted->second;
    if (label && !path.empty()) {
      if (!encoder.Fits(path.size())) break;  // the chunk is full: the rest goes in the next slice
      encoder.Record(path, *label);
    }
    last = &path;
    if (order <= 0) ++live;
    if (order >= 0) ++noted;
  }
  snapshot.m_allRead = live == m_labels.end() && noted == m_atSnapshot.end();
  if (last) snapshot.m_readUpTo = *last;
}

void SaveSnapshot::Write(const Locked& locked) noexcept {
  if (!m_database) return Fail(u"no label database folder");
  try {
    if (m_moveAsideFirst) {
      // The unreadable file is still in place: move it aside first or write nothing.
      if (!m_database->SetAside(/*keepOriginal=*/false)) return Fail(m_database->LastError());
      m_movedAside = true;
    }
    if (m_copyAsideFirst) {
      if (!m_database->SetAside(/*keepOriginal=*/true)) return Fail(m_database->LastError());
      m_copiedAside = true;
    }
    bool lockFailed = false;
    m_written = m_database->Replace([&](const ByteSink& sink) {
      // A small table needs no megabyte of fresh memory.
      const std::size_t chunkBytes =
          std::clamp<std::size_t>(static_cast<std::size_t>(m_count) * 128, 64 * 1024, kSliceBytes);
      LabelFileEncoder encoder(sink, chunkBytes);
      if (!encoder.Begin(m_version, m_count)) return false;
      while (!m_allRead) {
        if (!locked([&] { m_store->ReadSlice(*this, encoder); })) {
          lockFailed = true;
          return false;
        }
        if (!encoder.Flush()) return false;
      }
      return encoder.Finish();
    });
    if (!m_written) Fail(lockFailed ? u"the table could not be locked while saving" : m_database->LastError());
  } catch (const std::bad_alloc&) {
    m_written = false;
    Fail(u"out of memory while saving");
  }
}

bool CLabelStore::FinishSave(SaveSnapshot& snapshot) {
  m_snapshotOpen = false;
  m_atSnapshot.clear();
  if (snapshot.m_movedAside) m_saveBlocked = false;
  if (snapshot.m_copiedAside) m_keepCopyBeforeSave = false;
  if (!snapshot.m_written) return SaveFailed(snapshot.m_error);
  m_savedChangeCount = snapshot.m_changeCount;
  m_lastSaveError.clear();
  return true;
}

bool CLabelStore::Save() {
  SaveSnapshot snapshot = TakeSnapshot();
  // Nobody else uses this table meanwhile: each slice is read as it comes.
  snapshot.Write([](const std::function<void()>& step) {
    step();
    return true;
  });
  return FinishSave(snapshot);
}

}  // namespace pelko
