#include "ExtensionConfig.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeProfileReader.h"

namespace pelko {
namespace {

using testing::FakeProfileReader;

std::vector<MenuEntry> EntriesInOrder(const MenuModel& model) {
  std::vector<MenuEntry> entries;
  for (const auto& [menuId, entry] : model.entries) {
    EXPECT_EQ(menuId, entry.menuId);
    entries.push_back(entry);
  }
  return entries;
}

TEST(MenuModel, DefaultsWithoutAFile) {
  FakeProfileReader noFile;
  const MenuModel model = LoadMenuModel(noFile);

  // {MenuID, IconFile, MenuText, MenuDesc, MenuType}
  const std::vector<MenuEntry> expected{
      {0, u"", u"&Pelko Labels", u"", 1},
      {1, u"", u" Red", u" Red", 2},
      {2, u"", u" Orange", u" Orange", 2},
      {3, u"", u" Yellow", u" Yellow", 2},
      {4, u"", u" Green", u" Green", 2},
      {5, u"", u" Blue", u" Blue", 2},
      {6, u"", u" Gray", u" Gray", 2},
      {7, u"", u" Clear label", u" Clear label", 2},
      {8, u"", u"", u"", 3},
      {9, u"", u" Manage labels", u" Manage labels", 2},
      {10, u"", u" About PelkoLabels", u" About PelkoLabels", 2},
  };
  EXPECT_EQ(model.top, expected[0]);
  EXPECT_EQ(EntriesInOrder(model), expected);
  EXPECT_TRUE(model.entries.at(8).IsSeparator());
}

TEST(MenuModel, FileValuesReplaceOnlyTheKeysGiven) {
  FakeProfileReader file{
      {u"MenuItem1", u"MenuText", u"&Colours"},
      {u"MenuItem1", u"IconFile", u"C:\\icons\\top.ico"},
      {u"MenuItem6", u"MenuID", u"5x"},  // leading digits count
      {u"MenuItem6", u"MenuText", u" Sky"},
      {u"MenuItem6", u"MenuDesc", u"Sky blue"},
      {u"MenuItem6", u"IconFile", u"C:\\icons\\sky.ico"},
      {u"MenuItem6", u"MenuType", u"1"},
      {u"MenuItem11", u"MenuDesc", u""},
  };
  const MenuModel model = LoadMenuModel(file);

  EXPECT_EQ(model.top, (MenuEntry{0, u"C:\\icons\\top.ico", u"&Colours", u"", 1}));
  EXPECT_EQ(model.entries.at(5), (MenuEntry{5, u"C:\\icons\\sky.ico", u" Sky", u"Sky blue", 1}));
  // A key present but empty is empty, not the default.
  EXPECT_EQ(model.entries.at(10), (MenuEntry{10, u"", u" About PelkoLabels", u"", 2}));
  EXPECT_EQ(model.entries.at(4).menuText, u" Green");
}

TEST(MenuModel, LowerSectionKeepsASharedMenuId) {
  FakeProfileReader file{
      {u"MenuItem2", u"MenuID", u"Red"},  // no digits: reads 0, the top entry's MenuID
      {u"MenuItem7", u"MenuID", u"2"},    // MenuItem3 (Orange) already has 2
      {u"MenuItem11", u"MenuID", u"9"},   // MenuItem10 (Manage labels) already has 9
  };
  const MenuModel model = LoadMenuModel(file);

  EXPECT_EQ(model.entries.at(0), model.top);
  EXPECT_EQ(model.entries.at(0).menuText, u"&Pelko Labels");
  EXPECT_EQ(model.entries.at(2).menuText, u" Orange");
  EXPECT_EQ(model.entries.at(9).menuText, u" Manage labels");
  std::vector<std::u16string> texts;
  for (const auto& [menuId, entry] : model.entries) texts.push_back(entry.menuText);
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"&Pelko Labels", u" Orange", u" Yellow", u" Green", u" Blue",
                                                u" Clear label", u"", u" Manage labels"}));
}

TEST(MenuModel, TopIsMenuItem1WhateverItsMenuId) {
  FakeProfileReader file{
      {u"MenuItem1", u"MenuID", u"5"},
      {u"MenuItem2", u"MenuID", u"0"},
  };
  const MenuModel model = LoadMenuModel(file);

  EXPECT_EQ(model.top.menuText, u"&Pelko Labels");
  EXPECT_EQ(model.top.menuId, 5);
  EXPECT_EQ(model.entries.at(0).menuText, u" Red");
  // MenuItem1 is the lower section, so it keeps MenuID 5 from Blue.
  EXPECT_EQ(model.entries.at(5), model.top);
}

TEST(LabelNames, DefaultsHaveNoLeadingBlank) {
  FakeProfileReader noFile;
  const std::u16string_view names[] = {u"Red", u"Orange", u"Yellow", u"Green", u"Blue", u"Gray"};
  for (LabelValue label = kFirstLabel; label <= kLastLabel; ++label) {
    SCOPED_TRACE(label);
    EXPECT_EQ(DefaultLabelName(label), names[label - 1]);
    EXPECT_EQ(ReadLabelName(noFile, label), names[label - 1]);
    EXPECT_EQ(ReadOverlayIcon(noFile, label), u"");
  }
}

std::u16string Number(int n) {
  std::u16string digits;
  for (char c : std::to_string(n)) digits += static_cast<char16_t>(c);
  return digits;
}

// Every section carries its own number, so a label reading a neighbour's
// section shows up.
FakeProfileReader EverySectionNumbered() {
  FakeProfileReader file;
  for (int n = 0; n <= kMenuSectionCount + 1; ++n) {
    file.Set(u"MenuItem" + Number(n), u"MenuText", u"text" + Number(n));
    file.Set(u"MenuItem" + Number(n), u"OverlayIcon", u"icon" + Number(n) + u".ico");
  }
  return file;
}

TEST(LabelNames, ReadFromTheLabelsOwnSection) {
  FakeProfileReader file = EverySectionNumbered();
  for (LabelValue label = kFirstLabel; label <= kLastLabel; ++label) {
    SCOPED_TRACE(label);
    const std::u16string section = Number(static_cast<int>(label) + 1);
    EXPECT_EQ(ReadLabelName(file, label), u"text" + section);
    EXPECT_EQ(ReadOverlayIcon(file, label), u"icon" + section + u".ico");
  }
}

TEST(LabelNames, NoneForValuesOutsideTheSix) {
  FakeProfileReader file = EverySectionNumbered();
  for (LabelValue label : {kNoLabel, LabelValue{7}, LabelValue{10}, LabelValue{0xFFFFFFFF}}) {
    SCOPED_TRACE(label);
    EXPECT_EQ(DefaultLabelName(label), u"");
    EXPECT_EQ(ReadLabelName(file, label), u"");
    EXPECT_EQ(ReadOverlayIcon(file, label), u"");
  }
}

}  // namespace
}  // namespace pelko
