#include "ChangeApplier.h"

#include "DebugTrace.h"

namespace pelko {

bool ApplyChange(const ChangeRecord& record, IPathEnvironment& environment, ILabelStoreChanges& store) {
  if (IsIgnoredPath(environment, record.path)) return false;
  switch (record.action) {
    case kItemAdded:
      DebugTrace(u"Add: %s\n", {record.path});
      store.ItemAdded(record.path, record.timeMs);
      return true;
    case kItemRemoved:
      DebugTrace(u"Remove: %s\n", {record.path});
      store.ItemRemoved(record.path, record.timeMs);
      return true;
    case kItemModified:
      DebugTrace(u"Modify: %s\n", {record.path});
      return false;
    case kItemRenamedOldName:
    case kItemRenamedNewName:
      // Without its new name a rename would hand the labels to the empty path.
      if (record.secondPath.empty()) return false;
      DebugTrace(u"Rename: %s --> %s\n", {record.path, record.secondPath});
      store.ItemRenamed(record.path, record.secondPath, record.timeMs);
      return true;
    default:
      return false;
  }
}

}  // namespace pelko
