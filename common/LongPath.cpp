#include "LongPath.h"

namespace pelko {

std::wstring ExtendedLengthPath(std::wstring_view path) {
  // Short paths stay as they are: some callers show them, and Wine and old
  // systems treat the two forms alike below this length.
  constexpr std::size_t kShortLimit = 240;
  if (path.size() < kShortLimit || path.starts_with(L"\\\\?\\")) return std::wstring(path);
  const bool driveAbsolute = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
  if (driveAbsolute) return L"\\\\?\\" + std::wstring(path);
  if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + std::wstring(path.substr(2));
  return std::wstring(path);
}

}  // namespace pelko
