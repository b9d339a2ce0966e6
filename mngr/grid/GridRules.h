#pragma once
// The grid list control's decisions that need no window: how cells sort,
// what typing finds, what Ctrl+C copies, where hidden columns go and where
// the focus cell moves. The Win32 control reads its state into these plain
// values and applies the answers, so the rules are tested natively.
//
// Columns are list-view column indices; a display order is the header's
// order array (position -> column index). Per-column vectors (visible,
// restore positions, headings) are indexed by column index; a column beyond
// their end counts as visible, without restore position or heading.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelko::grid {

// Texts are read through callbacks that return copies: the control fetches
// them into a temporary buffer, so a view would not outlive the call.
using RowText = std::function<std::u16string(int row)>;
using CellText = std::function<std::u16string(int row, int column)>;

// ---- Sorting -------------------------------------------------------------

// The value a numeric column sorts by, read the way wcstol reads it on
// Windows: leading white space, an optional sign, decimal digits; no digits
// give 0 and values beyond the 32-bit range stop at its ends.
std::int32_t CellInteger(std::u16string_view text) noexcept;

// <0, 0 or >0. Text: whole texts, unit by unit as unsigned 16-bit numbers
// (case matters, "Z" < "a"), a prefix first. Numeric: by CellInteger, so
// texts of equal value compare equal.
int CompareCellTexts(std::u16string_view a, std::u16string_view b, bool numeric) noexcept;

// Sorts rows (row indices, in their present order) by their cells' texts.
// Each row's text is read once. Stable in both directions: rows that compare
// equal keep their present order.
void SortRowOrder(std::vector<int>& rows, const RowText& textOf, bool numeric, bool ascending);

// ---- Incremental search --------------------------------------------------

// Typing in a focus-cell column finds the next row whose cell begins with
// the typed text. The control uses it only while the focus cell is set and
// not column 0; otherwise the list view's own search applies.
class IncrementalSearch {
 public:
  static constexpr std::uint64_t kPauseMs = 2000;  // a pause this long restarts

  // Returns the row to select and focus, or -1 when none matches. nowMs is
  // a monotonic millisecond tick. Control characters (below U+0020 and
  // U+007F, which WM_CHAR also delivers for Ctrl+C, Backspace, Enter...) are
  // not typed text: they return -1 and change nothing.
  int OnCharacter(char16_t ch, std::uint64_t nowMs, int focusColumn, int focusedRow, int rowCount,
                  const RowText& cellText);

 private:
  std::u16string m_text;
  std::uint64_t m_lastKeyMs = 0;
  int m_column = -1;
  int m_row = -1;
};

// ---- Clipboard -----------------------------------------------------------

struct ClipboardSource {
  std::vector<int> displayOrder;
  std::vector<bool> visible;
  std::vector<std::u16string> headings;
  std::vector<int> selectedRows;  // in list order
  int focusCell = -1;             // column, or -1 for the whole row
  int selectionMark = -1;
  CellText cellText;
};

// What Ctrl+C puts on the clipboard, or nothing. One selected row with a
// visible focus cell: that cell's text (in the selection-mark row, or the
// selected row when there is no mark). Otherwise a heading line and one line
// per selected row, tab-separated fields of the visible columns in display
// order, lines joined by "\r\n" without a final one. Every line has one
// field per visible column, so columns line up when pasted.
std::optional<std::u16string> BuildClipboardText(const ClipboardSource& source);

// ---- Column order --------------------------------------------------------

// Hidden columns stand at the front of the display order with width 0, out
// of the user's reach. A hidden column's restore position is its place in
// the full order: the order the user would see with every hidden column
// back at its place. That keeps every restore position valid however many
// columns are hidden and shown, in any order; a display position would be
// shifted by each column hidden later. A hidden column with restore
// position -1 (the always-hidden column 0) simply stays in front. Both
// calls ignore the moved column's own visible flag, so the control may flip
// it before or after; a shown column's stale restore position is ignored.

// Returns column's restore position and moves it to the front of order.
// With no other column hidden (other than ones staying in front) this is its
// display position. Returns -1 and changes nothing when order lacks column.
int HideColumn(std::vector<int>& order, const std::vector<bool>& visible,
               const std::vector<int>& restorePositions, int column);

// Moves column from the hidden front to its restore position (taken from
// restorePositions[column]) among the visible columns; too large a
// position puts it last, -1 right after the hidden columns in front.
void ShowColumn(std::vector<int>& order, const std::vector<bool>& visible,
                const std::vector<int>& restorePositions, int column);

// After a header drag: hidden columns back in front, each group in its order.
void KeepHiddenColumnsInFront(std::vector<int>& order, const std::vector<bool>& visible);

// Left/Right arrow over the visible columns in display order; -1 is the
// whole row. Left from the first visible column, from a hidden column or
// from -1 gives -1. Right from -1 (or a hidden column) gives the first
// visible column, at the last one stays; -1 when no column is visible.
int FocusCellLeft(const std::vector<int>& order, const std::vector<bool>& visible, int focusCell);
int FocusCellRight(const std::vector<int>& order, const std::vector<bool>& visible, int focusCell);

// ---- Tooltips ------------------------------------------------------------

// A tooltip shows at most this many UTF-16 units of its cell.
inline constexpr std::size_t kTooltipMaxUnits = 79;

// The tooltip of a cell, or none for an empty cell. Long texts are cut,
// one unit shorter when the cut would split a surrogate pair.
std::optional<std::u16string> CellTooltipText(std::u16string_view cellText);

// Each cell is its own tool. Columns stay below 1000 and rows up to
// 2147482, which keeps the identifier in an int.
inline constexpr int kToolIdRowFactor = 1000;

struct CellPosition {
  int row;
  int column;
};

constexpr int CellToolId(int row, int column) noexcept { return row * kToolIdRowFactor + column; }
constexpr CellPosition CellOfToolId(int toolId) noexcept {
  return {toolId / kToolIdRowFactor, toolId % kToolIdRowFactor};
}

// ---- Remembered layout ---------------------------------------------------

// What the list keeps between runs: per column its width (a hidden
// column's width to show it with again) and whether it is shown, the
// display order, and the sort.
struct ColumnLayout {
  std::vector<int> widths;
  std::vector<bool> visible;
  std::vector<int> order;
  int sortColumn = -1;  // none
  bool sortAscending = true;
  bool operator==(const ColumnLayout&) const = default;
};

// "widths=0,100,500;visible=0,1,1;order=0,1,2;sort=2,1", or the same with
// "sort=-1,1" for an unsorted list.
std::u16string FormatColumnLayout(const ColumnLayout& layout);

// The layout saved by FormatColumnLayout for a list of columnCount columns,
// or none when the text is damaged or was saved for other columns: counts
// that differ, an order that is not each column once, widths below 0 or
// above 10000 pixels, a sort column out of range.
std::optional<ColumnLayout> ParseColumnLayout(std::u16string_view text, std::size_t columnCount);

}  // namespace pelko::grid
