#pragma once
// What the label table asks of the disk, behind an interface: the Win32 side
// answers with the real file system, tests with a fake one.

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "PathCompare.h"

namespace pelko {

struct FolderEntry {
  std::u16string name;
  bool isFolder = false;
  bool isReparsePoint = false;  // a junction or symbolic link
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  // True when path names an existing folder.
  virtual bool IsFolder(std::u16string_view path) = 0;
  // The entries of folder except "." and ".."; empty when it cannot be listed.
  virtual std::vector<FolderEntry> ListFolder(std::u16string_view folder) = 0;
};

using PathSet = std::set<std::u16string, PathLess>;

// Asked between folders of a long walk; true ends the walk early.
using StopRequested = std::function<bool()>;

// Adds every item below folder, at all depths, to items. Names that begin
// with "." are skipped with everything inside them. A link is listed but
// never entered, so a link back to a parent cannot make the walk endless.
// False when stopRequested ended the walk before it was complete.
bool CollectFolderItems(IFileSystem& fileSystem, std::u16string_view folder, PathSet& items,
                        const StopRequested& stopRequested = {});

}  // namespace pelko
