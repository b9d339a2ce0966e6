#include "PathCompare.h"

#include <algorithm>

namespace pelko {

int ComparePaths(std::u16string_view a, std::u16string_view b) noexcept {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t x = FoldAscii(a[i]);
    const char16_t y = FoldAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool PrefixAgrees(std::u16string_view a, std::u16string_view b, std::size_t n) noexcept {
  if (a.size() < n || b.size() < n) return false;
  return ComparePaths(a.substr(0, n), b.substr(0, n)) == 0;
}

bool IsAtOrBelow(std::u16string_view folder, std::u16string_view path) noexcept {
  if (!PrefixAgrees(folder, path, folder.size())) return false;
  return path.size() == folder.size() || path[folder.size()] == u'\\';
}

}  // namespace pelko
