#pragma once
// The report list of the manager: a list-view control with a layer of its
// own. Each column has a trait (drawing, sorting, sizing), one row trait
// draws all rows, column 0 can be a hidden column, a header click sorts,
// one cell of the focused row can hold the focus, the header's context
// menu shows and hides columns, the selection copies as tab-separated
// text, and an empty list says so.
//
// The control subclasses an existing list-view window and its parent, so
// that the parent's notifications of the list (custom draw, column clicks)
// reach it first, as a framework's reflection would; every other
// notification passes to the parent unchanged.
//
// An owner-data list (LVS_OWNERDATA) holds no items at all: its rows come
// from a CItemSource, the grid keeps their display order (sorting it
// itself) and answers the list view's questions from the source, so that
// 100,000 rows cost no list-view items and no message per row.

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "ColumnTraits.h"
#include "GridRules.h"
#include "RowTraits.h"
#include "TickClock.h"
#include "UniqueHandle.h"

namespace pelko {

// The items behind the rows of an owner-data list, kept by their owner.
class CItemSource {
 public:
  virtual ~CItemSource() = default;
  virtual std::wstring ItemText(std::size_t item, int column) const = 0;
  // An index into the list's small image list; -1 for none.
  virtual int ItemImage(std::size_t item, int column) const = 0;
};

class CListGrid {
 public:
  CListGrid();
  ~CListGrid();
  CListGrid(const CListGrid&) = delete;
  CListGrid& operator=(const CListGrid&) = delete;

  // Takes over a report-style list view that is not owner-drawn; false
  // (and nothing changed) for any other window.
  bool Attach(HWND list);
  void Detach();
  // Makes list again with LVS_OWNERDATA, which only a new window can have:
  // same identifier, styles, place, font and Z order; list is destroyed.
  // The new window, or null (and list kept) when none could be made.
  static HWND RecreateAsOwnerData(HWND list);
  HWND Window() const noexcept { return m_list; }
  HWND Header() const noexcept;

  // Column 0, with an empty heading: never shown, sized or offered.
  int AddHiddenFirstColumn();
  // Ordinary column insertion (LVM_INSERTCOLUMN does the same): a column
  // without a trait gets a CTextColumnTrait, or the given one.
  int InsertColumn(int index, const std::wstring& heading, int format, int width,
                   std::unique_ptr<CColumnTrait> trait = nullptr);
  CColumnTrait* ColumnTrait(int column) const;
  int ColumnCount() const;

  void SetRowTrait(std::unique_ptr<CRowTrait> trait);
  CRowTrait& RowTrait() const { return *m_rowTrait; }
  void SetColumnManager(std::unique_ptr<CColumnManager> manager);

  // Width to the contents (and the heading); column -1 is every column.
  void FitColumnWidth(int column, bool includeHeading);
  // False when not sorted (owner data, or the column's trait cannot).
  bool SortByColumn(int column, bool ascending);
  // Sorts as a header click would, arrow included; column -1 takes the
  // arrow away and leaves the rows as they are.
  void SetSort(int column, bool ascending);
  // Sorts again by the column the header marks, after rows came or changed.
  void SortAgain();
  // Rows of an owner-data list: the source (not owned; it must outlive the
  // rows), items of it shown after the present rows (sorted only by the
  // next SortAgain), every row taken away, and the item a row shows.
  void SetItemSource(const CItemSource* source);
  bool HasItemSource() const noexcept { return m_source != nullptr; }
  void AppendItems(const std::vector<std::size_t>& items);
  void ClearItems();
  std::size_t ItemOfRow(int row) const;
  // Removes a row, of either kind of list.
  void DeleteRow(int row);
  // Sorts the rows of an owner-data list by a column's texts, each read
  // once; selection and focus stay with their items.
  bool SortItems(int column, bool numeric, bool ascending);
  // Widths, shown columns, order and sort, to keep between runs.
  grid::ColumnLayout Layout() const;
  // Applies a layout taken from a list of the same columns.
  void ApplyLayout(const grid::ColumnLayout& layout);
  bool SetColumnShown(int column, bool shown);
  bool IsColumnShown(int column) const;
  bool CopySelectionToClipboard();

  int SortColumn() const noexcept { return m_sortColumn; }
  bool SortAscending() const noexcept { return m_sortAscending; }
  int FocusCell() const noexcept { return m_focusCell; }
  bool UsesVisualStyle() const noexcept { return m_usesVisualStyle; }
  const std::wstring& EmptyText() const noexcept { return m_emptyText; }
  void SetEmptyText(std::wstring text);

  // The header menu: built (HMENU owned by the caller) and acted upon.
  unique_hmenu BuildHeaderMenu();
  void OnHeaderMenuCommand(UINT command);

  // List-view access the traits use.
  int ItemCount() const;
  int FocusedRow() const;
  bool IsRowSelected(int row) const;
  std::wstring ItemText(int row, int column) const;
  std::wstring ColumnHeading(int column) const;
  std::vector<int> DisplayOrder() const;
  std::vector<bool> VisibleColumns() const;

  // For tests: draws sort arrows as with or without visual styles.
  void UseVisualStyleForArrows(bool themed) noexcept { m_usesVisualStyle = themed; }

 private:
  static LRESULT CALLBACK ListProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK ParentProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT OnListMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
  bool OnParentNotify(NMHDR& header, LRESULT& result);
  bool OnHeaderNotify(NMHDR& header, LRESULT& result);
  LRESULT OnCustomDraw(NMLVCUSTOMDRAW& draw);
  void OnColumnClick(int column);
  void MarkSortedHeader();
  bool OnKeyDown(UINT key);
  bool OnCharacter(wchar_t ch);
  void OnMouseDown(UINT message, LPARAM lParam);
  void MoveFocusCell(int column);
  void UpdateCellTooltip(LPARAM mousePosition);
  bool PaintEmptyList();
  bool ShowHeaderMenu(POINT screenPoint);
  void KeepHiddenColumnsInFront();
  LVHITTESTINFO HitTest(LPARAM clientPoint) const;
  void OnGetItemInfo(NMLVDISPINFOW& info) const;
  int FindItem(const LVFINDINFOW& find, int start) const;
  void ShowInOrder(const std::vector<int>& order);
  RECT CellRect(int row, int column) const;

  HWND m_list = nullptr;
  HWND m_parent = nullptr;
  HWND m_tooltip = nullptr;
  std::vector<std::unique_ptr<CColumnTrait>> m_columnTraits;
  std::unique_ptr<CColumnManager> m_columnManager;
  std::unique_ptr<CRowTrait> m_rowTrait;
  int m_focusCell = -1;
  grid::IncrementalSearch m_search;
  MonotonicClock m_clock;
  int m_sortColumn = -1;
  bool m_sortAscending = false;
  HWND m_cellEditor = nullptr;
  bool m_usesVisualStyle = false;
  std::wstring m_emptyText = L"There are no items to show in this view.";
  int m_tooltipCell = -1;          // tool id of the cell under the mouse
  std::wstring m_tooltipText;
  bool m_settingWidth = false;     // our own width change of a hidden column
  COLORREF m_rowTextColor = CLR_NONE;  // of the row being drawn
  COLORREF m_rowBackColor = CLR_NONE;
  unique_hbitmap m_arrowUp, m_arrowDown;
  const CItemSource* m_source = nullptr;
  std::vector<std::size_t> m_items;  // the source's item of each row
};

}  // namespace pelko
