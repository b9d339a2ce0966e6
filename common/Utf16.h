#pragma once
// The portable core speaks std::u16string; the Win32 side speaks wchar_t.
// On Windows both are UTF-16 code units and the conversion is a copy; on
// platforms with a 32-bit wchar_t (native tests) it transcodes.

#include <string>
#include <string_view>

namespace pelko {

std::u16string ToU16(std::wstring_view text);
std::wstring ToWide(std::u16string_view text);

// A zero-terminated wide string from a COM caller, where null means empty.
inline std::wstring_view WideView(const wchar_t* text) { return text ? std::wstring_view(text) : std::wstring_view(); }

}  // namespace pelko
