#pragma once
// The locked entry points: the only way service code reaches the label
// table. Each one takes the store mutex for the whole operation, except a
// save, which holds it only to take its snapshot, to read each slice and to
// record its result, and writes the file without it; saves (and loads) take
// turns through a save mutex of their own. When a mutex cannot be taken
// (not created yet, or closed) an entry point does nothing and returns its
// idle result, and a failure inside (out of memory) is turned into a
// result, never an exception.

#include <windows.h>

#include <optional>
#include <vector>

#include "LabelDatabase.h"
#include "LabelStore.h"

namespace pelko {

bool CreateStoreMutex();
void CloseStoreMutex();

// Where StoreLoad and StoreSave read and write; set before StoreLoad, before
// or after CreateStoreMutex. The store does not own it.
void AttachStoreDatabase(ILabelDatabase* database);

// Paths come as zero-terminated strings from COM callers; null is the empty path.
LabelValue StoreGetLabel(const wchar_t* path);                  // idle: 0
bool StoreSetLabel(const wchar_t* path, LabelValue label);      // idle: false
void StoreClearLabel(const wchar_t* path);

// Sets *count and, when the table is not empty, *entries (in path order,
// labelKind 0 for all). Idle: S_OK, count 0, entries untouched. Out of
// memory: E_OUTOFMEMORY, count 0, entries untouched.
HRESULT StoreGetLabelCollection(LabelValue labelKind, ULONG* count, std::optional<std::vector<LabelEntry>>* entries);

// The labelled items directly inside folder, in path order. Idle: S_FALSE,
// entries empty. Out of memory: E_OUTOFMEMORY, entries empty.
HRESULT StoreGetFolderLabels(const wchar_t* folder, std::vector<LabelEntry>* entries);

// The change tracker's operations; eventMs is when the change was seen
// (see CLabelStore). stopRequested lets a long folder walk end early.
void StoreItemAdded(const wchar_t* path, std::optional<std::uint64_t> eventMs = std::nullopt,
                    const StopRequested& stopRequested = {});
void StoreItemRemoved(const wchar_t* path, std::optional<std::uint64_t> eventMs = std::nullopt);
void StoreItemRenamed(const wchar_t* oldPath, const wchar_t* newPath,
                      std::optional<std::uint64_t> eventMs = std::nullopt, const StopRequested& stopRequested = {});

LoadResult StoreLoad();  // idle: LoadStatus::NotLocked
bool StoreSave();        // idle: false
// Saves only when the table changed since it was last loaded or saved;
// true when nothing needed saving.
bool StoreSaveIfChanged();

// Grows with every change of the table; the saver watches it to save a
// moment after the last change. Idle: 0.
std::uint64_t StoreChangeCount();
bool StoreHasUnsavedChanges();  // idle: false
// Why the last save failed (empty after a successful one).
std::u16string StoreLastSaveError();

// For tests, which share the one table of the process: back to how the
// process started, with an empty table, no database attached and no mutex.
// Called while no other thread uses the store.
void ResetStoreForTesting();

}  // namespace pelko
