#pragma once
// One file-system change, from the drive watcher to the change applier.

#include <cstdint>
#include <string>

namespace pelko {

enum ChangeAction : std::uint32_t {
  kItemAdded = 1,
  kItemRemoved = 2,
  kItemModified = 3,
  kItemRenamedOldName = 4,  // a rename: path is the old name, secondPath the new one
  kItemRenamedNewName = 5,
};

struct ChangeRecord {
  std::uint32_t action = 0;
  std::u16string path;
  std::u16string secondPath;  // the new name of a rename, else empty
  std::uint64_t timeMs = 0;   // when the watcher saw it (monotonic)
  bool operator==(const ChangeRecord&) const = default;
};

}  // namespace pelko
