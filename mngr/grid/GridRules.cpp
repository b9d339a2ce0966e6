#include "GridRules.h"

#include "PathCompare.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace pelko::grid {
namespace {

template <typename T>
int Sign(T x, T y) noexcept {
  return x < y ? -1 : (y < x ? 1 : 0);
}

// The C locale's white space; wcstol skips the same units.
bool IsSpace(char16_t unit) noexcept { return unit == u' ' || (unit >= u'\t' && unit <= u'\r'); }

bool IsVisible(const std::vector<bool>& visible, int column) noexcept {
  const auto index = static_cast<std::size_t>(column);
  return index >= visible.size() || visible[index];
}

int RestoreOf(const std::vector<int>& restorePositions, int column) noexcept {
  const auto index = static_cast<std::size_t>(column);
  return index < restorePositions.size() ? restorePositions[index] : -1;
}

// The order with every hidden column back at its restore position. Hidden
// columns without one keep the front; the others go in by rising position,
// so each lands exactly where it was taken out. The column `asVisible`, if
// any, counts as visible and `asHidden` as hidden, whatever their flags say.
std::vector<int> FullOrder(const std::vector<int>& order, const std::vector<bool>& visible,
                           const std::vector<int>& restorePositions, int asVisible, int asHidden) {
  const auto hidden = [&](int column) {
    if (column == asVisible) return false;
    if (column == asHidden) return true;
    return !IsVisible(visible, column);
  };
  std::vector<int> full;
  full.reserve(order.size());
  for (int column : order)
    if (hidden(column) && RestoreOf(restorePositions, column) < 0) full.push_back(column);
  const std::size_t pinned = full.size();
  for (int column : order)
    if (!hidden(column)) full.push_back(column);

  struct Slot {
    int restore;
    std::size_t displayPosition;
    int column;
  };
  std::vector<Slot> slots;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const int restore = RestoreOf(restorePositions, order[i]);
    if (hidden(order[i]) && restore >= 0) slots.push_back({restore, i, order[i]});
  }
  std::sort(slots.begin(), slots.end(), [](const Slot& x, const Slot& y) {
    return std::pair(x.restore, x.displayPosition) < std::pair(y.restore, y.displayPosition);
  });
  for (const Slot& slot : slots) {
    const std::size_t at = std::clamp(static_cast<std::size_t>(slot.restore), pinned, full.size());
    full.insert(full.begin() + static_cast<std::ptrdiff_t>(at), slot.column);
  }
  return full;
}

bool IsHighSurrogate(char16_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::int32_t CellInteger(std::u16string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                      : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    magnitude = std::min(magnitude * 10 + (text[i] - u'0'), limit);
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

int CompareCellTexts(std::u16string_view a, std::u16string_view b, bool numeric) noexcept {
  if (numeric) return Sign(CellInteger(a), CellInteger(b));
  // char_traits<char16_t> compares units as the unsigned type they are.
  return Sign(a.compare(b), 0);
}

void SortRowOrder(std::vector<int>& rows, const RowText& textOf, bool numeric, bool ascending) {
  struct Keyed {
    int row;
    std::u16string text;
    std::int32_t value;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(rows.size());
  for (int row : rows) {
    std::u16string text = textOf(row);
    const std::int32_t value = numeric ? CellInteger(text) : 0;
    keyed.push_back({row, std::move(text), value});
  }
  std::stable_sort(keyed.begin(), keyed.end(), [&](const Keyed& x, const Keyed& y) {
    const int order = numeric ? Sign(x.value, y.value) : CompareCellTexts(x.text, y.text, false);
    return ascending ? order < 0 : order > 0;
  });
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = keyed[i].row;
}

int IncrementalSearch::OnCharacter(char16_t ch, std::uint64_t nowMs, int focusColumn, int focusedRow,
                                   int rowCount, const RowText& cellText) {
  if (ch < 0x20 || ch == 0x7F) return -1;

  // A clock that went back is no proof of quick typing: restart.
  const bool paused = nowMs < m_lastKeyMs || nowMs - m_lastKeyMs >= kPauseMs;
  if (paused || focusColumn != m_column || focusedRow != m_row) m_text.clear();
  if (!(m_text.size() == 1 && m_text[0] == ch)) m_text.push_back(ch);
  m_lastKeyMs = nowMs;
  m_column = focusColumn;

  int found = -1;
  if (rowCount > 0) {
    const std::int64_t first = (focusedRow >= 0 && focusedRow < rowCount) ? focusedRow + 1 : 0;
    for (std::int64_t k = 0; k < rowCount && found < 0; ++k) {
      const auto row = static_cast<int>((first + k) % rowCount);
      if (PrefixAgrees(cellText(row), m_text, m_text.size())) found = row;
    }
  }
  // A miss leaves the focus where it is, so the search stands there and the
  // next quick key extends the same text.
  m_row = found >= 0 ? found : focusedRow;
  return found;
}

std::optional<std::u16string> BuildClipboardText(const ClipboardSource& source) {
  if (source.selectedRows.empty()) return std::nullopt;

  std::vector<int> columns;
  for (int column : source.displayOrder)
    if (IsVisible(source.visible, column)) columns.push_back(column);

  const bool focusShown = source.focusCell >= 0 &&
                          std::find(columns.begin(), columns.end(), source.focusCell) != columns.end();
  if (source.selectedRows.size() == 1 && focusShown) {
    const int row = source.selectionMark >= 0 ? source.selectionMark : source.selectedRows.front();
    return source.cellText(row, source.focusCell);
  }

  std::u16string text;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) text += u'\t';
    const auto column = static_cast<std::size_t>(columns[i]);
    if (column < source.headings.size()) text += source.headings[column];
  }
  for (int row : source.selectedRows) {
    text += u"\r\n";
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (i > 0) text += u'\t';
      text += source.cellText(row, columns[i]);
    }
  }
  return text;
}

int HideColumn(std::vector<int>& order, const std::vector<bool>& visible,
               const std::vector<int>& restorePositions, int column) {
  const auto at = std::find(order.begin(), order.end(), column);
  if (at == order.end()) return -1;
  const std::vector<int> full = FullOrder(order, visible, restorePositions, column, -1);
  const auto restore = static_cast<int>(std::find(full.begin(), full.end(), column) - full.begin());
  std::rotate(order.begin(), at, at + 1);
  return restore;
}

void ShowColumn(std::vector<int>& order, const std::vector<bool>& visible,
                const std::vector<int>& restorePositions, int column) {
  const auto at = std::find(order.begin(), order.end(), column);
  if (at == order.end()) return;
  const std::vector<int> full = FullOrder(order, visible, restorePositions, -1, column);

  // Its place among the visible columns is all that survives a drag.
  std::size_t visibleBefore = 0;
  for (int other : full) {
    if (other == column) break;
    if (IsVisible(visible, other)) ++visibleBefore;
  }

  order.erase(at);
  // In front of the visible column that follows it; last when none does.
  std::size_t insertAt = order.size();
  std::size_t seen = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (!IsVisible(visible, order[i])) continue;
    if (seen++ == visibleBefore) {
      insertAt = i;
      break;
    }
  }
  order.insert(order.begin() + static_cast<std::ptrdiff_t>(insertAt), column);
}

void KeepHiddenColumnsInFront(std::vector<int>& order, const std::vector<bool>& visible) {
  std::stable_partition(order.begin(), order.end(), [&](int column) { return !IsVisible(visible, column); });
}

int FocusCellLeft(const std::vector<int>& order, const std::vector<bool>& visible, int focusCell) {
  if (focusCell < 0 || !IsVisible(visible, focusCell)) return -1;
  const auto at = std::find(order.begin(), order.end(), focusCell);
  if (at == order.end()) return -1;
  for (auto it = at; it != order.begin();) {
    --it;
    if (IsVisible(visible, *it)) return *it;
  }
  return -1;
}

int FocusCellRight(const std::vector<int>& order, const std::vector<bool>& visible, int focusCell) {
  auto from = order.begin();
  const auto at = focusCell >= 0 ? std::find(order.begin(), order.end(), focusCell) : order.end();
  if (at != order.end()) from = at + 1;
  for (auto it = from; it != order.end(); ++it)
    if (IsVisible(visible, *it)) return *it;
  return (at != order.end() && IsVisible(visible, focusCell)) ? focusCell : -1;
}

std::optional<std::u16string> CellTooltipText(std::u16string_view cellText) {
  if (cellText.empty()) return std::nullopt;
  std::size_t length = std::min(cellText.size(), kTooltipMaxUnits);
  if (length < cellText.size() && IsHighSurrogate(cellText[length - 1]) && IsLowSurrogate(cellText[length]))
    --length;
  return std::u16string(cellText.substr(0, length));
}

namespace {

std::u16string NumberText(int value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

template <typename T>
std::u16string JoinNumbers(const std::vector<T>& values) {
  std::u16string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) text += u',';
    text += NumberText(static_cast<int>(values[i]));
  }
  return text;
}

// "12,-3,40" into numbers; none for anything else (empty parts, signs
// other than a leading minus, more than six digits).
std::optional<std::vector<int>> SplitNumbers(std::u16string_view text) {
  std::vector<int> numbers;
  if (text.empty()) return numbers;
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(u',', start);
    std::u16string_view part = text.substr(start, comma == std::u16string_view::npos ? std::u16string_view::npos : comma - start);
    const bool negative = !part.empty() && part.front() == u'-';
    if (negative) part.remove_prefix(1);
    if (part.empty() || part.size() > 6) return std::nullopt;
    int value = 0;
    for (const char16_t unit : part) {
      if (unit < u'0' || unit > u'9') return std::nullopt;
      value = value * 10 + (unit - u'0');
    }
    numbers.push_back(negative ? -value : value);
    if (comma == std::u16string_view::npos) return numbers;
    start = comma + 1;
  }
}

}  // namespace

std::u16string FormatColumnLayout(const ColumnLayout& layout) {
  return u"widths=" + JoinNumbers(layout.widths) + u";visible=" + JoinNumbers(layout.visible) + u";order=" +
         JoinNumbers(layout.order) + u";sort=" + NumberText(layout.sortColumn) + u"," +
         NumberText(layout.sortAscending ? 1 : 0);
}

std::optional<ColumnLayout> ParseColumnLayout(std::u16string_view text, std::size_t columnCount) {
  constexpr int kMaxWidth = 10000;
  std::optional<std::vector<int>> widths, visible, order, sort;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find(u';', start);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view field = text.substr(start, end - start);
    const std::size_t equals = field.find(u'=');
    if (equals == std::u16string_view::npos) return std::nullopt;
    const std::u16string_view name = field.substr(0, equals);
    std::optional<std::vector<int>>* target = name == u"widths"    ? &widths
                                              : name == u"visible" ? &visible
                                              : name == u"order"   ? &order
                                              : name == u"sort"    ? &sort
                                                                   : nullptr;
    if (!target || target->has_value()) return std::nullopt;
    *target = SplitNumbers(field.substr(equals + 1));
    if (!target->has_value()) return std::nullopt;
    start = end + 1;
  }
  if (!widths || !visible || !order || !sort) return std::nullopt;
  if (widths->size() != columnCount || visible->size() != columnCount || order->size() != columnCount ||
      sort->size() != 2) {
    return std::nullopt;
  }
  ColumnLayout layout;
  std::vector<bool> placed(columnCount, false);
  for (const int column : *order) {
    if (column < 0 || static_cast<std::size_t>(column) >= columnCount || placed[static_cast<std::size_t>(column)]) {
      return std::nullopt;
    }
    placed[static_cast<std::size_t>(column)] = true;
  }
  for (std::size_t column = 0; column < columnCount; ++column) {
    if ((*widths)[column] < 0 || (*widths)[column] > kMaxWidth) return std::nullopt;
    if ((*visible)[column] != 0 && (*visible)[column] != 1) return std::nullopt;
    layout.visible.push_back((*visible)[column] == 1);
  }
  const int sortColumn = (*sort)[0];
  if (sortColumn < -1 || sortColumn >= static_cast<int>(columnCount) || ((*sort)[1] != 0 && (*sort)[1] != 1)) {
    return std::nullopt;
  }
  layout.widths = *widths;
  layout.order = *order;
  layout.sortColumn = sortColumn;
  layout.sortAscending = (*sort)[1] == 1;
  return layout;
}

}  // namespace pelko::grid
