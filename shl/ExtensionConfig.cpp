#include "ExtensionConfig.h"

#include <array>

namespace pelko {
namespace {

struct MenuDefaults {
  std::int32_t menuId;
  std::int32_t menuType;
  std::u16string_view text;  // also the help text, except for the top entry
};

// Every text default after the top entry starts with one blank.
constexpr std::array<MenuDefaults, kMenuSectionCount> kMenuDefaults{{
    {0, 1, u"&Pelko Labels"},
    {1, 2, u" Red"},
    {2, 2, u" Orange"},
    {3, 2, u" Yellow"},
    {4, 2, u" Green"},
    {5, 2, u" Blue"},
    {6, 2, u" Gray"},
    {7, 2, u" Clear label"},
    {8, kSeparatorMenuType, u""},
    {9, 2, u" Manage labels"},
    {10, 2, u" About PelkoLabels"},
}};

constexpr std::array<std::u16string_view, kLabelCount> kLabelNames{u"Red", u"Orange", u"Yellow",
                                                                   u"Green", u"Blue", u"Gray"};

}  // namespace

std::u16string MenuItemSection(int n) {
  std::u16string section = u"MenuItem";
  for (char digit : std::to_string(n)) section += static_cast<char16_t>(digit);
  return section;
}

MenuModel LoadMenuModel(IProfileReader& profile) {
  MenuModel model;
  for (int n = 1; n <= kMenuSectionCount; ++n) {
    const MenuDefaults& defaults = kMenuDefaults[n - 1];
    const std::u16string section = MenuItemSection(n);
    MenuEntry entry;
    entry.menuId = profile.ReadInt(section, u"MenuID", defaults.menuId);
    entry.menuType = profile.ReadInt(section, u"MenuType", defaults.menuType);
    entry.menuText = profile.ReadString(section, u"MenuText", defaults.text);
    entry.menuDesc = profile.ReadString(section, u"MenuDesc", n == 1 ? u"" : defaults.text);
    entry.iconFile = profile.ReadString(section, u"IconFile", u"");
    if (n == 1) model.top = entry;
    model.entries.emplace(entry.menuId, std::move(entry));  // an earlier section keeps its MenuID
  }
  return model;
}

std::u16string_view DefaultLabelName(LabelValue label) {
  return IsKnownLabel(label) ? kLabelNames[label - 1] : std::u16string_view();
}

std::u16string ReadLabelName(IProfileReader& profile, LabelValue label) {
  if (!IsKnownLabel(label)) return {};
  return profile.ReadString(MenuItemSection(LabelMenuSection(label)), u"MenuText", DefaultLabelName(label));
}

std::u16string ReadOverlayIcon(IProfileReader& profile, LabelValue label) {
  if (!IsKnownLabel(label)) return {};
  return profile.ReadString(MenuItemSection(LabelMenuSection(label)), u"OverlayIcon", u"");
}

}  // namespace pelko
