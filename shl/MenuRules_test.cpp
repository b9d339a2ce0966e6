#include "MenuRules.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "FakeProfileReader.h"

namespace pelko {
namespace {

using testing::FakeProfileReader;
using testing::ProfileValue;

// {offset, MenuText, separator}
using Placed = std::tuple<std::uint32_t, std::u16string, bool>;

Placed Cmd(std::uint32_t offset, std::u16string text) { return {offset, std::move(text), false}; }
Placed Sep(std::uint32_t offset) { return {offset, u"", true}; }

std::vector<Placed> PlacedEntries(const SubmenuPlan& plan) {
  std::vector<Placed> placed;
  for (const PlannedEntry& p : plan.entries) placed.emplace_back(p.offset, p.entry->menuText, p.entry->IsSeparator());
  return placed;
}

constexpr std::uint32_t kFirst = 1000;
constexpr std::uint32_t kWide = 1999;

struct PlanCase {
  const char* name;
  std::vector<ProfileValue> file;
  std::uint32_t lastId;  // identifiers kFirst..lastId are granted
  std::vector<Placed> placed;
  std::uint32_t result;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

const std::u16string kLongText = std::u16string(259, u'a') + std::u16string(41, u'b');

const PlanCase kPlanCases[] = {
    {"NoFile",
     {},
     kWide,
     {Cmd(1, u" Red"), Cmd(2, u" Orange"), Cmd(3, u" Yellow"), Cmd(4, u" Green"), Cmd(5, u" Blue"), Cmd(6, u" Gray"),
      Cmd(7, u" Clear label"), Sep(8), Cmd(9, u" Manage labels"), Cmd(10, u" About PelkoLabels")},
     12},
    {"SeparatorGivenTypeTwoIsACommand",
     {{u"MenuItem9", u"MenuType", u"2"}},
     kWide,
     {Cmd(1, u" Red"), Cmd(2, u" Orange"), Cmd(3, u" Yellow"), Cmd(4, u" Green"), Cmd(5, u" Blue"), Cmd(6, u" Gray"),
      Cmd(7, u" Clear label"), Cmd(8, u""), Cmd(9, u" Manage labels"), Cmd(10, u" About PelkoLabels")},
     12},
    {"ClearLabelTakingYellowsMenuIdIsDropped",
     {{u"MenuItem8", u"MenuID", u"3"}},
     kWide,
     {Cmd(1, u" Red"), Cmd(2, u" Orange"), Cmd(3, u" Yellow"), Cmd(4, u" Green"), Cmd(5, u" Blue"), Cmd(6, u" Gray"),
      Sep(8), Cmd(9, u" Manage labels"), Cmd(10, u" About PelkoLabels")},
     11},
    {"RedAndManageLabelsSwapMenuIds",
     {{u"MenuItem2", u"MenuID", u"9"}, {u"MenuItem10", u"MenuID", u"1"}},
     kWide,
     {Cmd(1, u" Manage labels"), Cmd(2, u" Orange"), Cmd(3, u" Yellow"), Cmd(4, u" Green"), Cmd(5, u" Blue"),
      Cmd(6, u" Gray"), Cmd(7, u" Clear label"), Sep(8), Cmd(9, u" Red"), Cmd(10, u" About PelkoLabels")},
     12},
    {"LongMenuTextKeeps259Units",
     {{u"MenuItem3", u"MenuText", kLongText}},
     kWide,
     {Cmd(1, u" Red"), Cmd(2, std::u16string(259, u'a')), Cmd(3, u" Yellow"), Cmd(4, u" Green"), Cmd(5, u" Blue"),
      Cmd(6, u" Gray"), Cmd(7, u" Clear label"), Sep(8), Cmd(9, u" Manage labels"), Cmd(10, u" About PelkoLabels")},
     12},
    {"MenuIdWithoutDigitsReadsZeroAndYieldsToTheTop",
     {{u"MenuItem5", u"MenuID", u"Green"}},
     kWide,
     {Cmd(1, u" Red"), Cmd(2, u" Orange"), Cmd(3, u" Yellow"), Cmd(5, u" Blue"), Cmd(6, u" Gray"),
      Cmd(7, u" Clear label"), Sep(8), Cmd(9, u" Manage labels"), Cmd(10, u" About PelkoLabels")},
     11},
    // Seven entries would give 9; the highest used offset asks for 10.
    {"NegativeAndOutOfRangeMenuIdsAreSkipped",
     {{u"MenuItem2", u"MenuID", u"-3"}, {u"MenuItem3", u"MenuID", u"-1"}, {u"MenuItem11", u"MenuID", u"1000"}},
     kWide,
     {Cmd(3, u" Yellow"), Cmd(4, u" Green"), Cmd(5, u" Blue"), Cmd(6, u" Gray"), Cmd(7, u" Clear label"), Sep(8),
      Cmd(9, u" Manage labels")},
     10},
    {"LastGrantedOffsetIsUsedOneBeyondIsNot",
     {{u"MenuItem10", u"MenuID", u"20"}, {u"MenuItem11", u"MenuID", u"21"}},
     kFirst + 20,
     {Cmd(1, u" Red"), Cmd(2, u" Orange"), Cmd(3, u" Yellow"), Cmd(4, u" Green"), Cmd(5, u" Blue"), Cmd(6, u" Gray"),
      Cmd(7, u" Clear label"), Sep(8), Cmd(20, u" Manage labels")},
     21},
    {"SparseMenuIds",
     {{u"MenuItem3", u"MenuID", u"50"},
      {u"MenuItem4", u"MenuID", u"0"},
      {u"MenuItem5", u"MenuID", u"0"},
      {u"MenuItem6", u"MenuID", u"0"},
      {u"MenuItem7", u"MenuID", u"0"},
      {u"MenuItem8", u"MenuID", u"0"},
      {u"MenuItem9", u"MenuID", u"0"},
      {u"MenuItem10", u"MenuID", u"0"},
      {u"MenuItem11", u"MenuID", u"0"}},
     kWide,
     {Cmd(1, u" Red"), Cmd(50, u" Orange")},
     51},
    // A separator has no identifier, so its offset asks for nothing.
    {"SeparatorAtTheHighestOffset",
     {{u"MenuItem9", u"MenuID", u"30"}},
     kWide,
     {Cmd(1, u" Red"), Cmd(2, u" Orange"), Cmd(3, u" Yellow"), Cmd(4, u" Green"), Cmd(5, u" Blue"), Cmd(6, u" Gray"),
      Cmd(7, u" Clear label"), Cmd(9, u" Manage labels"), Cmd(10, u" About PelkoLabels"), Sep(30)},
     12},
    {"GrantedRangeTooSmallForTheDefaultLayout",
     {},
     kFirst + 5,
     {Cmd(1, u" Red"), Cmd(2, u" Orange"), Cmd(3, u" Yellow"), Cmd(4, u" Green"), Cmd(5, u" Blue")},
     7},
};

class SubmenuPlanTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(SubmenuPlanTest, PlacesEntriesAndClaimsIdentifiers) {
  const PlanCase& c = GetParam();
  FakeProfileReader file;
  for (const ProfileValue& v : c.file) file.Set(v.section, v.key, v.value);
  const MenuModel model = LoadMenuModel(file);

  const SubmenuPlan plan = PlanSubmenu(model, kFirst, c.lastId);

  EXPECT_EQ(PlacedEntries(plan), c.placed);
  EXPECT_EQ(plan.result, c.result);
}

INSTANTIATE_TEST_SUITE_P(Configurations, SubmenuPlanTest, ::testing::ValuesIn(kPlanCases),
                         [](const ::testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

TEST(CommandForOffset, EachOffsetsAction) {
  const struct {
    std::uint32_t offset;
    MenuCommand command;
    LabelValue label;
  } cases[] = {
      {0, MenuCommand::ClearLabel, kNoLabel},    {1, MenuCommand::SetLabel, kLabelRed},
      {2, MenuCommand::SetLabel, kLabelOrange},  {3, MenuCommand::SetLabel, kLabelYellow},
      {4, MenuCommand::SetLabel, kLabelGreen},   {5, MenuCommand::SetLabel, kLabelBlue},
      {6, MenuCommand::SetLabel, kLabelGray},    {7, MenuCommand::ClearLabel, kNoLabel},
      {8, MenuCommand::None, kNoLabel},          {9, MenuCommand::ManageLabels, kNoLabel},
      {10, MenuCommand::ShowAbout, kNoLabel},    {11, MenuCommand::None, kNoLabel},
      {50, MenuCommand::None, kNoLabel},         {0xFFFFFFFF, MenuCommand::None, kNoLabel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    const CommandAction action = CommandForOffset(c.offset);
    EXPECT_EQ(action.command, c.command);
    EXPECT_EQ(action.label, c.label);
  }
}

TEST(CommandForOffset, FollowsTheOffsetNotTheEntryShownThere) {
  FakeProfileReader file{{u"MenuItem2", u"MenuID", u"9"}, {u"MenuItem10", u"MenuID", u"1"}};
  const MenuModel model = LoadMenuModel(file);
  const SubmenuPlan plan = PlanSubmenu(model, kFirst, kWide);

  ASSERT_EQ(plan.entries.front().entry->menuText, u" Manage labels");
  const CommandAction action = CommandForOffset(plan.entries.front().offset);
  EXPECT_EQ(action.command, MenuCommand::SetLabel);
  EXPECT_EQ(action.label, kLabelRed);
}

TEST(ContextMenu, AddsEntriesOnlyToOrdinaryMenus) {
  const struct {
    std::uint32_t flags;
    bool adds;
  } cases[] = {
      {0x0, true},  {0x4, true},  {0xC, true},  {0x10, true},  {0x14, true}, {0x11C, true},
      {0x1, false}, {0x2, false}, {0x8, false}, {0x3, false},  {0x6, false}, {0x5, false},
      {0x18, false}, {0x12, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(ContextMenuAddsEntries(c.flags), c.adds);
  }
}

TEST(IconPathFor, ByWindowsVersion) {
  const struct {
    std::uint16_t osVersion;
    std::uint32_t flags;
    MenuIconPath path;
  } cases[] = {
      {0x0A00, 0, MenuIconPath::Bitmap},     {0x0601, 0, MenuIconPath::Bitmap},
      {0x0600, 0, MenuIconPath::Bitmap},     {0x0600, 0x10, MenuIconPath::Bitmap},
      {0x05FF, 0, MenuIconPath::OwnerDraw},  {0x0502, 0, MenuIconPath::OwnerDraw},
      {0x0501, 0, MenuIconPath::OwnerDraw},  {0x0500, 0x4, MenuIconPath::OwnerDraw},
      {0x0500, 0, MenuIconPath::CheckMark},  {0x04FF, 0x4, MenuIconPath::CheckMark},
      {0x0400, 0, MenuIconPath::CheckMark},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.osVersion << " flags " << c.flags);
    EXPECT_EQ(IconPathFor(c.osVersion, c.flags), c.path);
  }
}

TEST(CommandStringReplyFor, ByRequestType) {
  const struct {
    std::uint32_t type;
    CommandStringReply reply;
  } cases[] = {
      {0, CommandStringReply::Invalid},      // GCS_VERBA
      {2, CommandStringReply::Invalid},      // GCS_VALIDATEA
      {1, CommandStringReply::AnsiText},     // GCS_HELPTEXTA
      {4, CommandStringReply::UnicodeText},  // GCS_VERBW
      {5, CommandStringReply::UnicodeText},  // GCS_HELPTEXTW
      {6, CommandStringReply::Validate},     // GCS_VALIDATEW
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(CommandStringReplyFor(c.type), c.reply);
  }
}

char16_t AsciiFold(char16_t unit) { return unit >= u'a' && unit <= u'z' ? unit - (u'a' - u'A') : unit; }

TEST(IsSupportedPath, WindowsFolderIsExcludedWithOrWithoutTrailingBackslash) {
  const struct {
    std::u16string_view path;
    bool supported;
  } cases[] = {
      {u"C:\\Windows\\notepad.exe", false},
      {u"c:\\windows\\notepad.exe", false},
      {u"C:\\WINDOWS\\System32\\drivers\\etc\\hosts", false},
      {u"C:\\Windows", false},
      {u"c:\\windows\\", false},
      {u"C:\\Windows.old\\a.txt", true},
      {u"C:\\WindowsApps\\x.txt", true},
      {u"C:\\Win", true},
      {u"D:\\Windows\\a.txt", true},
  };
  for (const std::u16string folder : {u"C:\\Windows", u"C:\\Windows\\"}) {
    const std::vector<std::u16string> excluded{u"C:\\Program Files", folder};
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::PrintToString(folder) + " " + ::testing::PrintToString(std::u16string(c.path)));
      EXPECT_EQ(IsSupportedPath(c.path, excluded, AsciiFold), c.supported);
    }
  }
}

TEST(IsSupportedPath, ShortcutsAreNeverSupported) {
  const struct {
    std::u16string_view path;
    bool supported;
  } cases[] = {
      {u"D:\\Docs\\Report.LNK", false}, {u"D:\\Docs\\Report.lnk", false}, {u"a.lnk", false},
      {u".lnk", false},                 {u"D:\\Docs\\lnk", true},          {u"D:\\Docs\\Report.lnk.txt", true},
      {u"D:\\Docs\\a.ln", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::u16string(c.path)));
    EXPECT_EQ(IsSupportedPath(c.path, {}, AsciiFold), c.supported);
  }
}

TEST(IsSupportedPath, EmptyExcludedEntryExcludesNothing) {
  EXPECT_TRUE(IsSupportedPath(u"C:\\Windows\\notepad.exe", {u""}, AsciiFold));
  EXPECT_TRUE(IsSupportedPath(u"D:\\a.txt", {u""}, AsciiFold));
  // Nor does it hide the entries after it.
  EXPECT_FALSE(IsSupportedPath(u"C:\\Windows\\notepad.exe", {u"", u"C:\\Windows"}, AsciiFold));
}

TEST(MeetsLengthRule, SixUnitsAtLeast) {
  EXPECT_FALSE(MeetsLengthRule(u""));
  EXPECT_FALSE(MeetsLengthRule(u"C:\\"));
  EXPECT_FALSE(MeetsLengthRule(u"C:\\ab"));
  EXPECT_TRUE(MeetsLengthRule(u"C:\\abc"));
}

}  // namespace
}  // namespace pelko
