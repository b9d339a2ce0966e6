#include "Win32Profile.h"

#include <windows.h>

#include "Utf16.h"

namespace pelko {

std::int32_t Win32Profile::ReadInt(std::u16string_view section, std::u16string_view key, std::int32_t defaultValue) {
  if (m_path.empty()) return defaultValue;
  return static_cast<std::int32_t>(
      GetPrivateProfileIntW(ToWide(section).c_str(), ToWide(key).c_str(), defaultValue, m_path.c_str()));
}

std::u16string Win32Profile::ReadString(std::u16string_view section, std::u16string_view key,
                                        std::u16string_view defaultValue) {
  if (m_path.empty()) return std::u16string(defaultValue.substr(0, kProfileValueChars));
  wchar_t value[kProfileValueChars + 1] = {};
  GetPrivateProfileStringW(ToWide(section).c_str(), ToWide(key).c_str(), ToWide(defaultValue).c_str(), value,
                           kProfileValueChars + 1, m_path.c_str());
  return ToU16(value);
}

}  // namespace pelko
