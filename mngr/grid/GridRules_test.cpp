#include "GridRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <numeric>
#include <string>
#include <vector>

namespace pelko::grid {
namespace {

int SignOf(int x) { return (x > 0) - (x < 0); }

// ---- Sorting -------------------------------------------------------------

TEST(CompareCellTexts, TextOrderIsByUnsignedUnitsWithCase) {
  struct Case {
    std::u16string a, b;
    int expected;
  } cases[] = {
      {u"C:\\B", u"C:\\a", -1},           // capitals first
      {u"Z", u"a", -1},
      {u"abc", u"abd", -1},               // first difference decides
      {u"abd", u"abcz", 1},
      {u"ab", u"abc", -1},                // a prefix first
      {u"", u"a", -1},
      {u"\uFFFF", u"z", 1},               // unsigned: U+FFFF after everything
      {u"\uFFFF", u"\U0001F600", 1},      // high surrogate 0xD83D < 0xFFFF
      {u"\u00E9", u"z", 1},
      {u"same", u"same", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a.begin(), c.a.end()) + " / " + std::string(c.b.begin(), c.b.end()));
    EXPECT_EQ(SignOf(CompareCellTexts(c.a, c.b, false)), c.expected);
    EXPECT_EQ(SignOf(CompareCellTexts(c.b, c.a, false)), -c.expected);
  }
}

TEST(CompareCellTexts, LongTextsAreComparedWhole) {
  // Long paths sharing their first 255 units or more still order.
  for (std::size_t shared : {254u, 255u, 256u, 1000u}) {
    SCOPED_TRACE(shared);
    const std::u16string stem = u"C:\\" + std::u16string(shared - 3, u'x');
    EXPECT_LT(CompareCellTexts(stem + u"a", stem + u"b", false), 0);
    EXPECT_GT(CompareCellTexts(stem + u"b", stem + u"a", false), 0);
    EXPECT_LT(CompareCellTexts(stem, stem + u"a", false), 0);
  }
}

TEST(CellInteger, ReadsLikeWcstolAndSaturates) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  struct Case {
    std::u16string text;
    std::int32_t value;
  } cases[] = {
      {u"42", 42},          {u" \t\r\n42", 42},  {u"-7", -7},         {u"+5", 5},
      {u"007", 7},          {u"12abc", 12},      {u"abc", 0},         {u"", 0},
      {u"- 5", 0},          {u"--5", 0},         {u"0x1A", 0},        {u"2147483647", kMax},
      {u"2147483648", kMax}, {u"-2147483648", kMin}, {u"-2147483649", kMin},
      {u"99999999999999999999999", kMax},        {u"-99999999999999999999999", kMin},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CellInteger(c.text), c.value) << std::string(c.text.begin(), c.text.end());
  }
}

TEST(CompareCellTexts, NumericOrderIsByValue) {
  struct Case {
    std::u16string a, b;
    int expected;
  } cases[] = {
      {u"10", u"9", 1},  // text order would say "10" < "9"
      {u"-3", u"2", -1},
      {u"007", u"7", 0},  // equal values are equal
      {u"abc", u"0", 0},
      {u"99999999999", u"99999999998", 0},  // both saturated
      {u"99999999999", u"2147483646", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a.begin(), c.a.end()) + " / " + std::string(c.b.begin(), c.b.end()));
    EXPECT_EQ(SignOf(CompareCellTexts(c.a, c.b, true)), c.expected);
    EXPECT_EQ(SignOf(CompareCellTexts(c.b, c.a, true)), -c.expected);
  }
}

TEST(SortRowOrder, StableBothWaysAndReadsEachRowOnce) {
  const std::vector<std::u16string> text{u"b", u"B", u"a", u"b", u"A"};
  const std::vector<std::u16string> numbers{u"10", u"9", u"-1", u"x", u"9"};
  struct Case {
    const std::vector<std::u16string>* texts;
    std::vector<int> rows;
    bool numeric, ascending;
    std::vector<int> expected;
  } cases[] = {
      // Equal texts keep their present order (3 before 0), not index order.
      {&text, {3, 0, 4, 1, 2}, false, true, {4, 1, 2, 3, 0}},
      {&text, {3, 0, 4, 1, 2}, false, false, {3, 0, 2, 1, 4}},
      {&numbers, {0, 1, 2, 3, 4}, true, true, {2, 3, 1, 4, 0}},
      {&numbers, {0, 1, 2, 3, 4}, true, false, {0, 1, 4, 3, 2}},
      {&text, {}, false, true, {}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "numeric " << c.numeric << " ascending " << c.ascending);
    std::map<int, int> reads;
    SortRowOrder(
        c.rows,
        [&](int row) {
          ++reads[row];
          return (*c.texts)[static_cast<std::size_t>(row)];
        },
        c.numeric, c.ascending);
    EXPECT_EQ(c.rows, c.expected);
    EXPECT_EQ(reads.size(), c.expected.size());
    for (const auto& [row, count] : reads) EXPECT_EQ(count, 1) << "row " << row;
  }
}

TEST(SortRowOrder, ManyEqualTextsKeepTheirOrder) {
  // Row k holds one of three texts by k % 3; the rows come in reverse.
  const std::u16string texts[] = {u"b", u"a", u"c"};
  const int rank[] = {1, 0, 2};  // of each text, ascending
  constexpr int kRows = 60;
  std::vector<int> ascendingGroups[3], descendingGroups[3];
  std::vector<int> present;
  for (int k = kRows - 1; k >= 0; --k) present.push_back(k);
  for (int k : present) {
    ascendingGroups[rank[k % 3]].push_back(k);
    descendingGroups[2 - rank[k % 3]].push_back(k);
  }
  for (bool ascending : {true, false}) {
    SCOPED_TRACE(ascending);
    std::vector<int> expected;
    for (const auto& group : ascending ? ascendingGroups : descendingGroups)
      expected.insert(expected.end(), group.begin(), group.end());
    std::vector<int> rows = present;
    SortRowOrder(rows, [&](int row) { return texts[row % 3]; }, false, ascending);
    EXPECT_EQ(rows, expected);
  }
}

// ---- Incremental search --------------------------------------------------

class IncrementalSearchTest : public ::testing::Test {
 protected:
  // Types ch at nowMs; a found row becomes the focused row, as in the control.
  int Type(char16_t ch, std::uint64_t nowMs, int column = 1) {
    const auto& texts = cells.at(static_cast<std::size_t>(column));
    const int row = search.OnCharacter(ch, nowMs, column, focused, static_cast<int>(texts.size()),
                                       [&](int r) { return texts.at(static_cast<std::size_t>(r)); });
    if (row >= 0) focused = row;
    return row;
  }

  std::vector<std::vector<std::u16string>> cells{
      {},
      {u"apple", u"Banana", u"avocado", u"axe", u"abc", u"beta", u"Apricot"},
      {u"x0", u"bx", u"q2", u"x3", u"b4", u"x5", u"x6"},
  };
  int focused = -1;
  IncrementalSearch search;
};

TEST_F(IncrementalSearchTest, RepeatedKeyStepsThroughMatchesAndWraps) {
  std::vector<int> found;
  for (std::uint64_t t = 1000; t < 1000 + 7 * 300; t += 300) found.push_back(Type(u'a', t));
  EXPECT_EQ(found, (std::vector<int>{0, 2, 3, 4, 6, 0, 2}));

  // From a row the user focused, the search starts after it.
  focused = 3;
  EXPECT_EQ(Type(u'a', 9000), 4);
  EXPECT_EQ(Type(u'a', 9100), 6);
  EXPECT_EQ(Type(u'a', 9200), 0);
}

TEST_F(IncrementalSearchTest, FocusedRowItselfIsSearchedLast) {
  focused = 2;
  EXPECT_EQ(Type(u'q', 1000, 2), 2);
  EXPECT_EQ(Type(u'q', 1100, 2), 2);
}

TEST_F(IncrementalSearchTest, QuickKeysBuildTheText) {
  EXPECT_EQ(Type(u'a', 1000), 0);
  EXPECT_EQ(Type(u'b', 1300), 4);  // "ab": abc, neither Banana nor avocado/axe
  EXPECT_EQ(Type(u'c', 1600), 4);  // "abc" is still abc
  EXPECT_EQ(Type(u'd', 1900), -1);
}

TEST_F(IncrementalSearchTest, PauseOfTwoSecondsRestarts) {
  struct Case {
    std::uint64_t gap;
    int expected;  // "ab" finds abc; "b" alone finds Banana after apple
  } cases[] = {{1, 4}, {1999, 4}, {2000, 1}, {60000, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gap);
    search = IncrementalSearch{};
    focused = -1;
    ASSERT_EQ(Type(u'a', 5000), 0);
    EXPECT_EQ(Type(u'b', 5000 + c.gap), c.expected);
  }
}

TEST_F(IncrementalSearchTest, OtherColumnRestarts) {
  ASSERT_EQ(Type(u'a', 1000, 1), 0);
  EXPECT_EQ(Type(u'b', 1100, 2), 1);  // "b" in column 2; "ab" is nowhere there
}

TEST_F(IncrementalSearchTest, UserMovingTheFocusRestarts) {
  ASSERT_EQ(Type(u'a', 1000), 0);
  focused = 5;
  EXPECT_EQ(Type(u'b', 1100), 1);  // "b" from row 6 on; "ab" would be abc
}

TEST_F(IncrementalSearchTest, MissKeepsTheTextUntilAPause) {
  ASSERT_EQ(Type(u'a', 1000), 0);
  EXPECT_EQ(Type(u'q', 1100), -1);
  EXPECT_EQ(focused, 0);
  EXPECT_EQ(Type(u'b', 1200), -1);  // "aqb"; a restart would find Banana
  EXPECT_EQ(Type(u'b', 3200), 1);   // after the pause: "b", after row 0

  // Also when the very first key misses on a row the user chose.
  search = IncrementalSearch{};
  focused = 3;
  EXPECT_EQ(Type(u'q', 5000), -1);
  EXPECT_EQ(Type(u'b', 5100), -1);  // "qb"
  EXPECT_EQ(focused, 3);
}

TEST_F(IncrementalSearchTest, ControlCharactersAreNotTyped) {
  ASSERT_EQ(Type(u'a', 1000), 0);
  EXPECT_EQ(Type(u'\x03', 1100), -1);  // Ctrl+C
  EXPECT_EQ(Type(u'\b', 1200), -1);
  EXPECT_EQ(Type(u'\x7F', 1300), -1);
  EXPECT_EQ(Type(u'v', 1400), 2);  // "av"
}

TEST_F(IncrementalSearchTest, FoldsAsciiLettersOnly) {
  cells[1] = {u"\u00C4pfel", u"\u00E4pfel", u"@home", u"`tick", u"[x", u"{y", u"Zeta", u"zeta"};
  struct Case {
    char16_t typed;
    int expected;
  } cases[] = {
      {u'z', 6}, {u'Z', 6},            // ASCII letters fold
      {u'\u00E4', 1}, {u'\u00C4', 0},  // Ä and ä do not
      {u'`', 3}, {u'{', 5},            // neighbours of the letters do not
      {u'@', 2}, {u'[', 4},
  };
  std::uint64_t now = 1000;
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.typed));
    focused = -1;
    now += 10000;
    EXPECT_EQ(Type(c.typed, now), c.expected);
  }
}

TEST_F(IncrementalSearchTest, EmptyListFindsNothing) {
  cells[1].clear();
  EXPECT_EQ(Type(u'a', 1000), -1);
}

// ---- Clipboard -----------------------------------------------------------

class ClipboardTest : public ::testing::Test {
 protected:
  ClipboardTest() {
    // Column 0 is the always-hidden one, 4 hidden by the user; the user
    // dragged Size in front of Path.
    source.displayOrder = {4, 0, 3, 1, 2};
    source.visible = {false, true, true, true, false};
    source.headings = {u"", u"Path", u"Label", u"Size", u"Kind"};
    source.cellText = [this](int row, int column) {
      return cells.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column));
    };
  }

  std::optional<std::u16string> Copy(std::vector<int> selected, int focusCell, int mark) {
    source.selectedRows = std::move(selected);
    source.focusCell = focusCell;
    source.selectionMark = mark;
    return BuildClipboardText(source);
  }

  std::vector<std::vector<std::u16string>> cells{
      {u"h0", u"C:\\a", u"Red", u"", u"file"},
      {u"h1", u"C:\\b", u"", u"12", u"dir"},
      {u"h2", u"C:\\c", u"Blue", u"7", u"file"},
  };
  ClipboardSource source;
};

TEST_F(ClipboardTest, TextForEachSelectionAndFocus) {
  const std::u16string row1Table = u"Size\tPath\tLabel\r\n12\tC:\\b\t";
  struct Case {
    const char* what;
    std::vector<int> selected;
    int focusCell, mark;
    std::optional<std::u16string> expected;
  } cases[] = {
      {"nothing selected", {}, -1, -1, std::nullopt},
      {"nothing selected, focus cell", {}, 1, 1, std::nullopt},
      {"one row, focus cell", {1}, 3, 1, u"12"},
      {"one row, empty focus cell", {1}, 2, 1, u""},
      {"one row, no mark", {1}, 1, -1, u"C:\\b"},
      {"one row, the mark decides", {1}, 1, 2, u"C:\\c"},
      {"one row, whole row", {1}, -1, 1, row1Table},
      {"one row, focus on a hidden column", {1}, 4, 1, row1Table},
      {"one row, focus on column 0", {1}, 0, 1, row1Table},
      {"two rows in list order, focus ignored", {2, 0}, 1, 2,
       u"Size\tPath\tLabel\r\n7\tC:\\c\tBlue\r\n\tC:\\a\tRed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Copy(c.selected, c.focusCell, c.mark), c.expected);
  }
}

TEST_F(ClipboardTest, EveryLineHasOneFieldPerVisibleColumn) {
  cells = {{u"", u"", u"", u"", u""}, {u"", u"", u"x", u"", u""}};
  EXPECT_EQ(Copy({0, 1}, -1, 0), u"Size\tPath\tLabel\r\n\t\t\r\n\t\tx");
}

// ---- Column order --------------------------------------------------------

// The control's column state as it keeps it: the header order and, in the
// column traits, the visible flags and restore positions.
struct Columns {
  std::vector<int> order;
  std::vector<bool> visible;
  std::vector<int> restore;
  bool flagFirst = false;  // the control may flip the flag before or after

  explicit Columns(std::vector<int> start)
      : order(std::move(start)), visible(order.size(), true), restore(order.size(), -1) {
    visible[0] = false;  // the always-hidden column, at the front
  }
  void Hide(int column) {
    if (flagFirst) visible[static_cast<std::size_t>(column)] = false;
    restore[static_cast<std::size_t>(column)] = HideColumn(order, visible, restore, column);
    visible[static_cast<std::size_t>(column)] = false;
  }
  void Show(int column) {
    if (flagFirst) visible[static_cast<std::size_t>(column)] = true;
    ShowColumn(order, visible, restore, column);  // the stale restore position stays
    visible[static_cast<std::size_t>(column)] = true;
  }
};

// Hidden columns in front, visible ones in the order they had at the start.
testing::AssertionResult Arranged(const Columns& c, const std::vector<int>& start) {
  std::vector<int> shown;
  for (int column : start)
    if (c.visible[static_cast<std::size_t>(column)]) shown.push_back(column);
  const std::size_t hiddenCount = c.order.size() - shown.size();
  const std::vector<int> tail(c.order.begin() + static_cast<std::ptrdiff_t>(hiddenCount), c.order.end());
  if (tail == shown) return testing::AssertionSuccess();
  auto result = testing::AssertionFailure() << "order";
  for (int column : c.order) result << ' ' << column;
  return result;
}

TEST(ColumnOrder, HidingAndShowingInAnyOrderRestoresTheOrder) {
  const std::vector<std::vector<int>> starts{{0, 1, 2, 3, 4}, {0, 3, 1, 4, 2}};
  for (const auto& start : starts) {
    for (bool flagFirst : {false, true}) {
      // Every non-empty set of user columns, hidden in every order and shown
      // in every order.
      for (unsigned mask = 1; mask < (1u << 4); ++mask) {
        std::vector<int> chosen;
        for (int column = 1; column <= 4; ++column)
          if (mask & (1u << (column - 1))) chosen.push_back(column);
        std::vector<int> hideOrder = chosen;
        do {
          std::vector<int> showOrder = chosen;
          do {
            Columns c(start);
            c.flagFirst = flagFirst;
            for (int column : hideOrder) {
              c.Hide(column);
              ASSERT_TRUE(Arranged(c, start)) << "after hiding " << column;
            }
            for (int column : showOrder) {
              c.Show(column);
              ASSERT_TRUE(Arranged(c, start)) << "after showing " << column;
            }
            ASSERT_EQ(c.order, start);
          } while (std::next_permutation(showOrder.begin(), showOrder.end()));
        } while (std::next_permutation(hideOrder.begin(), hideOrder.end()));
      }
    }
  }
}

TEST(ColumnOrder, RestorePositionIsTheDisplayPositionWhenNothingElseIsHidden) {
  Columns c({0, 3, 1, 2});
  c.Hide(1);
  EXPECT_EQ(c.restore[1], 2);
  EXPECT_EQ(c.order, (std::vector<int>{1, 0, 3, 2}));

  std::vector<int> order{0, 1};
  EXPECT_EQ(HideColumn(order, {false, true}, {}, 7), -1);  // not a column
  EXPECT_EQ(order, (std::vector<int>{0, 1}));
}

TEST(ColumnOrder, ShowWithoutOrBeyondARestorePosition) {
  struct Case {
    int restore;
    std::vector<int> expected;
  } cases[] = {
      {-1, {0, 2, 1, 3}},  // right after the hidden column in front
      {-5, {0, 2, 1, 3}},
      {2, {0, 1, 2, 3}},
      {3, {0, 1, 3, 2}},   // the last position
      {99, {0, 1, 3, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.restore);
    std::vector<int> order{2, 0, 1, 3};
    ShowColumn(order, {false, true, false, true}, {-1, -1, c.restore, -1}, 2);
    EXPECT_EQ(order, c.expected);
  }
}

TEST(ColumnOrder, DraggedColumnsLeaveTheHiddenInFront) {
  struct Case {
    std::vector<int> order;
    std::vector<bool> visible;
    std::vector<int> expected;
  } cases[] = {
      {{1, 0, 2, 3}, {false, true, true, true}, {0, 1, 2, 3}},
      {{1, 4, 3, 0, 2}, {false, true, true, true, false}, {4, 0, 1, 3, 2}},
      {{4, 0, 3, 1, 2}, {false, true, true, true, false}, {4, 0, 3, 1, 2}},
      {{1, 0}, {false, false}, {1, 0}},
  };
  for (Case& c : cases) {
    KeepHiddenColumnsInFront(c.order, c.visible);
    EXPECT_EQ(c.order, c.expected);
  }
}

TEST(FocusCell, MovesAlongVisibleColumnsInDisplayOrder) {
  // Visible in display order: 3, 1, 4.
  const std::vector<int> order{2, 0, 3, 1, 4};
  const std::vector<bool> visible{false, true, false, true, true};
  struct Case {
    int from, left, right;
  } cases[] = {
      {-1, -1, 3},  // the whole row
      {3, -1, 1},   // first visible
      {1, 3, 4},
      {4, 1, 4},    // last visible stays on Right
      {2, -1, 3},   // hidden
      {0, -1, 3},   // always hidden
      {9, -1, 3},   // no such column
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    EXPECT_EQ(FocusCellLeft(order, visible, c.from), c.left);
    EXPECT_EQ(FocusCellRight(order, visible, c.from), c.right);
  }

  const std::vector<bool> noneVisible{false, false, false, false, false};
  EXPECT_EQ(FocusCellRight(order, noneVisible, -1), -1);
  EXPECT_EQ(FocusCellLeft(order, noneVisible, -1), -1);
}

// ---- Tooltips ------------------------------------------------------------

TEST(CellTooltip, CutsAtSeventyNineUnitsKeepingSurrogatePairs) {
  const std::u16string pair = u"\U0001F600";
  const std::u16string x77(77, u'x'), x78(78, u'x'), x79(79, u'x');
  struct Case {
    const char* what;
    std::u16string cell;
    std::optional<std::u16string> expected;
  } cases[] = {
      {"empty", u"", std::nullopt},
      {"short", u"C:\\a", u"C:\\a"},
      {"exactly the limit", x79, x79},
      {"one over", x79 + u"y", x79},
      {"pair across the cut", x78 + pair + u"z", x78},
      {"pair just inside", x77 + pair + u"z", x77 + pair},
      {"pair ends the text at the limit", x77 + pair, x77 + pair},
      {"lone high surrogate at the cut", x78 + u"\xD83D" + u"z", x78 + u"\xD83D"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CellTooltipText(c.cell), c.expected);
  }
}

TEST(CellTooltip, ToolIdRoundTrips) {
  for (const CellPosition cell : {CellPosition{0, 0}, CellPosition{0, 999}, CellPosition{1, 0},
                                  CellPosition{2147482, 647}}) {
    const CellPosition back = CellOfToolId(CellToolId(cell.row, cell.column));
    EXPECT_EQ(back.row, cell.row);
    EXPECT_EQ(back.column, cell.column);
  }
  EXPECT_EQ(CellToolId(3, 7), 3007);
}

TEST(ColumnLayout, RoundTripsThroughItsText) {
  const ColumnLayout layouts[] = {
      {{0, 100, 500}, {false, true, true}, {0, 1, 2}, 2, true},
      {{0, 120, 0}, {false, true, false}, {0, 2, 1}, -1, true},
      {{0, 80, 640}, {false, true, true}, {0, 2, 1}, 1, false},
  };
  for (const ColumnLayout& layout : layouts) {
    const std::u16string text = FormatColumnLayout(layout);
    EXPECT_EQ(ParseColumnLayout(text, 3), layout) << std::string(text.begin(), text.end());
  }
  EXPECT_EQ(FormatColumnLayout(layouts[0]), u"widths=0,100,500;visible=0,1,1;order=0,1,2;sort=2,1");
}

TEST(ColumnLayout, DamagedOrForeignTextIsIgnored) {
  for (const char16_t* text : {
           u"",
           u"garbage",
           u"widths=0,100,500;visible=0,1,1;order=0,1,2",                  // no sort
           u"widths=0,100;visible=0,1;order=0,1;sort=-1,1",               // saved for two columns
           u"widths=0,100,500;visible=0,1,1;order=0,1,1;sort=-1,1",       // a column twice
           u"widths=0,100,500;visible=0,1,1;order=0,1,3;sort=-1,1",       // no such column
           u"widths=0,-5,500;visible=0,1,1;order=0,1,2;sort=-1,1",        // negative width
           u"widths=0,100,99999;visible=0,1,1;order=0,1,2;sort=-1,1",     // absurd width
           u"widths=0,100,500;visible=0,2,1;order=0,1,2;sort=-1,1",
           u"widths=0,100,500;visible=0,1,1;order=0,1,2;sort=3,1",        // sort column out of range
           u"widths=0,100,500;visible=0,1,1;order=0,1,2;sort=1,1;sort=2,1",
           u"widths=0,100,500;visible=0,1,1;order=0,1,2;sort=1,x",
           u"widths=0,,500;visible=0,1,1;order=0,1,2;sort=1,1",
           u"widths=0,100,500;visible=0,1,1;order=0,1,2;sort=1,1;",
       }) {
    EXPECT_EQ(ParseColumnLayout(text, 3), std::nullopt) << std::string(text, text + std::char_traits<char16_t>::length(text));
  }
}

}  // namespace
}  // namespace pelko::grid
