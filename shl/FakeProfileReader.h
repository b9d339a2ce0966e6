#pragma once
// A PelkoLabelShlCfg.ini held as a table, read back the way
// GetPrivateProfileIntW and GetPrivateProfileStringW read the real file.

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <map>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "ExtensionConfig.h"

namespace pelko {

// Readable failure messages for whole entries.
inline void PrintTo(const MenuEntry& e, std::ostream* os) {
  *os << "{MenuID " << e.menuId << ", MenuType " << e.menuType << ", MenuText " << ::testing::PrintToString(e.menuText)
      << ", MenuDesc " << ::testing::PrintToString(e.menuDesc) << ", IconFile " << ::testing::PrintToString(e.iconFile)
      << "}";
}

}  // namespace pelko

namespace pelko::testing {

struct ProfileValue {
  std::u16string section;
  std::u16string key;
  std::u16string value;
};

class FakeProfileReader final : public IProfileReader {
 public:
  FakeProfileReader() = default;
  FakeProfileReader(std::initializer_list<ProfileValue> values) {
    for (const ProfileValue& v : values) Set(v.section, v.key, v.value);
  }

  void Set(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    values_[Name(section, key)] = std::u16string(value);
  }

  std::int32_t ReadInt(std::u16string_view section, std::u16string_view key, std::int32_t defaultValue) override {
    const auto found = values_.find(Name(section, key));
    if (found == values_.end()) return defaultValue;
    // Leading digits only: "12abc" is 12, "abc" is 0.
    std::u16string_view text = found->second;
    const bool negative = !text.empty() && text.front() == u'-';
    if (negative) text.remove_prefix(1);
    std::int64_t number = 0;
    for (char16_t unit : text) {
      if (unit < u'0' || unit > u'9') break;
      number = number * 10 + (unit - u'0');
      if (number > INT32_MAX) break;
    }
    return static_cast<std::int32_t>(negative ? -number : number);
  }

  std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultValue) override {
    const auto found = values_.find(Name(section, key));
    const std::u16string_view text = found == values_.end() ? defaultValue : std::u16string_view(found->second);
    // The 260-unit buffer keeps 259 units and the terminator.
    return std::u16string(text.substr(0, 259));
  }

 private:
  // Section and key names are not case-sensitive in a profile file.
  static std::u16string Name(std::u16string_view section, std::u16string_view key) {
    std::u16string name;
    for (char16_t unit : section) name += Fold(unit);
    name += u'\n';
    for (char16_t unit : key) name += Fold(unit);
    return name;
  }
  static char16_t Fold(char16_t unit) { return unit >= u'A' && unit <= u'Z' ? unit + (u'a' - u'A') : unit; }

  std::map<std::u16string, std::u16string> values_;
};

}  // namespace pelko::testing
