#pragma once
// PelkoLabelShlCfg.ini as the extension reads it: the context-menu layout
// (sections MenuItem1..MenuItem11), the label names and the overlay icons,
// each with a built-in default. Values are read into 260-unit buffers, so at
// most their first 259 characters count.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "Labels.h"

namespace pelko {

inline constexpr std::size_t kProfileValueChars = 259;
inline constexpr int kMenuSectionCount = 11;
inline constexpr std::int32_t kSeparatorMenuType = 3;

// The private-profile functions, behind an interface: the Win32 side reads
// the file, tests read a table.
class IProfileReader {
 public:
  virtual ~IProfileReader() = default;
  // GetPrivateProfileIntW: text without leading digits reads as 0.
  virtual std::int32_t ReadInt(std::u16string_view section, std::u16string_view key, std::int32_t defaultValue) = 0;
  // GetPrivateProfileStringW into a 260-unit buffer.
  virtual std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                                    std::u16string_view defaultValue) = 0;
};

// "MenuItem" followed by n.
std::u16string MenuItemSection(int n);

struct MenuEntry {
  std::int32_t menuId = 0;
  std::u16string iconFile;
  std::u16string menuText;
  std::u16string menuDesc;
  std::int32_t menuType = 0;
  bool IsSeparator() const { return menuType == kSeparatorMenuType; }
  bool operator==(const MenuEntry&) const = default;
};

// The menu as configured: the top entry (always MenuItem1) and the entries
// by MenuID; of two sections with one MenuID, the lower-numbered one wins.
struct MenuModel {
  MenuEntry top;
  std::map<std::int32_t, MenuEntry> entries;
};

MenuModel LoadMenuModel(IProfileReader& profile);

// The default names of the six labels, for the details column and the manager.
std::u16string_view DefaultLabelName(LabelValue label);

// The label's name in the details column: MenuText of its section.
std::u16string ReadLabelName(IProfileReader& profile, LabelValue label);

// OverlayIcon of the label's section ("" when none is configured).
std::u16string ReadOverlayIcon(IProfileReader& profile, LabelValue label);

}  // namespace pelko
