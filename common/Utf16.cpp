#include "Utf16.h"

namespace pelko {

std::u16string ToU16(std::wstring_view text) {
  if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
  } else {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
      auto cp = static_cast<char32_t>(wc);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      } else {
        out.push_back(static_cast<char16_t>(cp));
      }
    }
    return out;
  }
}

std::wstring ToWide(std::u16string_view text) {
  if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
  } else {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      char32_t unit = text[i];
      // A lone surrogate is kept as it stands, so that no path is altered.
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      }
      out.push_back(static_cast<wchar_t>(unit));
    }
    return out;
  }
}

}  // namespace pelko
