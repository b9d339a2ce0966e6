#pragma once
// The change applier's decision for one record: drop it when it lies in an
// ignored place, else pass it to the label store as an addition, a removal
// or a rename. Portable; the thread around it is ApplierThread.h.

#include <cstdint>
#include <string_view>

#include "ChangeRecord.h"
#include "IgnoredPath.h"

namespace pelko {

// The store operations the applier uses (the locked entry points in the
// service, a recording fake in tests).
class ILabelStoreChanges {
 public:
  virtual ~ILabelStoreChanges() = default;
  virtual void ItemAdded(std::u16string_view path, std::uint64_t eventMs) = 0;
  virtual void ItemRemoved(std::u16string_view path, std::uint64_t eventMs) = 0;
  virtual void ItemRenamed(std::u16string_view oldPath, std::u16string_view newPath, std::uint64_t eventMs) = 0;
};

// True when the record reached the store.
bool ApplyChange(const ChangeRecord& record, IPathEnvironment& environment, ILabelStoreChanges& store);

}  // namespace pelko
