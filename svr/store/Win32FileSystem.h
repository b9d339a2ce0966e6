#pragma once
// IFileSystem over the real disk.

#include "FileSystem.h"

namespace pelko {

class Win32FileSystem final : public IFileSystem {
 public:
  bool IsFolder(std::u16string_view path) override;
  std::vector<FolderEntry> ListFolder(std::u16string_view folder) override;
};

}  // namespace pelko
