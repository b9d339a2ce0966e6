#include "PathCompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace pelko {
namespace {

TEST(PathCompare, FoldsAsciiOnlyAndOrdersByUnsignedUnits) {
  struct Case {
    std::u16string a, b;
    int expected;
  } cases[] = {
      {u"C:\\A.txt", u"c:\\a.TXT", 0},
      {u"C:\\a\\b", u"C:\\a_b", -1},      // "\" (0x5C) < "_" (0x5F)
      {u"C:\\a_b", u"C:\\ab", -1},        // "_" < "a"
      {u"C:\\Z", u"C:\\[", 1},            // "Z" folds to "z" (0x7A) > "[" (0x5B)
      {u"C:\\\u00C4", u"C:\\\u00E4", -1}, // Ä and ä are different paths
      {u"C:\\a", u"C:\\ab", -1},          // a prefix is the smaller
      {u"C:\\\uFFFF", u"C:\\a", 1},       // unsigned: 0xFFFF is the largest unit
      {u"", u"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ComparePaths(c.a, c.b), c.expected) << std::string(c.a.begin(), c.a.end());
    EXPECT_EQ(ComparePaths(c.b, c.a), -c.expected);
  }
}

TEST(PathCompare, SortedOrderMatchesTheStoredOrder) {
  std::vector<std::u16string> paths{u"C:\\ab", u"C:\\a_b", u"C:\\A\\b"};
  std::sort(paths.begin(), paths.end(), PathLess{});
  EXPECT_EQ(paths, (std::vector<std::u16string>{u"C:\\A\\b", u"C:\\a_b", u"C:\\ab"}));
}

TEST(PathCompare, PrefixAndAtOrBelow) {
  EXPECT_TRUE(PrefixAgrees(u"C:\\P", u"c:\\pX", 4));
  EXPECT_FALSE(PrefixAgrees(u"C:\\P", u"C:\\", 4));  // shorter than n never agrees
  EXPECT_TRUE(IsAtOrBelow(u"C:\\P", u"c:\\p"));
  EXPECT_TRUE(IsAtOrBelow(u"C:\\P", u"C:\\P\\x\\a.txt"));
  EXPECT_FALSE(IsAtOrBelow(u"C:\\P", u"C:\\PX"));
  EXPECT_FALSE(IsAtOrBelow(u"C:\\P", u"C:\\"));
}

}  // namespace
}  // namespace pelko
