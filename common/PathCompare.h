#pragma once
// The one path comparison of the label service, shared with the extension's
// answer cache and the switch parser: code unit by code unit after folding
// ASCII A-Z to a-z, as unsigned 16-bit numbers. Nothing else is folded, so
// "Ä" and "ä" differ, and "\" (0x5C) sorts before every letter:
// C:\a\b < C:\a_b < C:\ab.

#include <cstddef>
#include <string_view>

namespace pelko {

constexpr char16_t FoldAscii(char16_t unit) noexcept {
  return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 0x20) : unit;
}

int ComparePaths(std::u16string_view a, std::u16string_view b) noexcept;

inline bool PathsEqual(std::u16string_view a, std::u16string_view b) noexcept {
  return a.size() == b.size() && ComparePaths(a, b) == 0;
}

// True when both strings hold at least n units and their first n agree.
bool PrefixAgrees(std::u16string_view a, std::u16string_view b, std::size_t n) noexcept;

// True when path is folder itself or lies below it (folder followed by "\").
// C:\PX is not at or below C:\P.
bool IsAtOrBelow(std::u16string_view folder, std::u16string_view path) noexcept;

struct PathLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const noexcept { return ComparePaths(a, b) < 0; }
};

}  // namespace pelko
