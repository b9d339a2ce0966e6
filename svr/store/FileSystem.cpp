#include "FileSystem.h"

namespace pelko {

bool CollectFolderItems(IFileSystem& fileSystem, std::u16string_view folder, PathSet& items,
                        const StopRequested& stopRequested) {
  // An explicit stack instead of recursion: depth is bounded by nothing but
  // the path length.
  std::vector<std::u16string> pending{std::u16string(folder)};
  while (!pending.empty()) {
    if (stopRequested && stopRequested()) return false;
    const std::u16string current = std::move(pending.back());
    pending.pop_back();
    for (const FolderEntry& entry : fileSystem.ListFolder(current)) {
      if (entry.name.empty() || entry.name.front() == u'.') continue;
      std::u16string itemPath = current + u'\\' + entry.name;
      if (entry.isFolder && !entry.isReparsePoint) pending.push_back(itemPath);
      items.insert(std::move(itemPath));
    }
  }
  return true;
}

}  // namespace pelko
