#include "SchemeRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelko {
namespace {

TEST(SchemeFolders, AllButDotsAndSvnAreSchemes) {
  for (const char16_t* name : {u"Classic", u"Shapes", u".svn2", u"SVN", u".SVN", u"...", u".hidden"}) {
    EXPECT_TRUE(IsSchemeFolderName(name));
  }
  for (const char16_t* name : {u".", u"..", u".svn"}) {
    EXPECT_FALSE(IsSchemeFolderName(name));
  }
}

TEST(SchemeFolders, ListedByNameWhateverTheFileSystemsOrder) {
  std::vector<std::u16string> names = {u"shapes", u"Classic", u"Bright", u"classic2", u"Shapes2", u"b"};
  SortSchemeNames(names);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"b", u"Bright", u"Classic", u"classic2", u"shapes", u"Shapes2"}));
}

TEST(SchemeNumbers, ReadAsTheProfileConversionDoes) {
  struct Case {
    std::u16string text;
    int value;
  } const cases[] = {
      {u"6", 6},           {u"  4", 4},       {u"\t+3", 3},  {u"-2", -2},     {u"5 labels", 5},
      {u"", 0},            {u"six", 0},       {u"+", 0},     {u"--1", 0},     {u"4.5", 4},
      {u"007", 7},         {u"2147483647", 2147483647},      {u"99999999999999", 2147483647},
      {u"-99999999999999", -2147483647 - 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProfileNumber(c.text), c.value) << std::string(c.text.begin(), c.text.end());
  }
}

TEST(SchemeNumbers, NoMoreThanSixLabelsApply) {
  EXPECT_EQ(AppliedLabelCount(6), 6);
  EXPECT_EQ(AppliedLabelCount(4), 4);
  EXPECT_EQ(AppliedLabelCount(0), 0);
  EXPECT_EQ(AppliedLabelCount(-3), 0);
  EXPECT_EQ(AppliedLabelCount(7), 6);  // MenuItem8 is "Clear label"
  EXPECT_EQ(AppliedLabelCount(2147483647), 6);
}

}  // namespace
}  // namespace pelko
