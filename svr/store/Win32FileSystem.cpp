#include "Win32FileSystem.h"

#include <windows.h>

#include "LongPath.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace pelko {

bool Win32FileSystem::IsFolder(std::u16string_view path) {
  const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(ToWide(path)).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<FolderEntry> Win32FileSystem::ListFolder(std::u16string_view folder) {
  std::vector<FolderEntry> entries;
  const std::wstring pattern = ExtendedLengthPath(ToWide(folder) + L"\\*.*");
  WIN32_FIND_DATAW found;
  unique_hfind search(FindFirstFileW(pattern.c_str(), &found));
  if (!search) return entries;
  do {
    const std::wstring_view name(found.cFileName);
    if (name == L"." || name == L"..") continue;
    entries.push_back({ToU16(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                       (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
  } while (FindNextFileW(search.get(), &found));
  return entries;
}

}  // namespace pelko
