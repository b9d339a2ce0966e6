#pragma once
// What a column of the grid is: shown or hidden, sortable, resizable, and
// how its cells are coloured and compared. The grid owns one per column.

#include <windows.h>
#include <commctrl.h>

namespace pelko {

class CListGrid;

class CColumnTrait {
 public:
  virtual ~CColumnTrait() = default;

  // Custom draw of a cell (sub-item pre-paint); may change the colours.
  virtual void OnCellPrePaint(CListGrid& grid, NMLVCUSTOMDRAW& draw) { (void)grid, (void)draw; }
  // A cell editor for (row, column); text columns have none.
  virtual HWND CreateCellEditor(CListGrid& grid, int row, int column) {
    (void)grid, (void)row, (void)column;
    return nullptr;
  }
  virtual void EndCellEdit(CListGrid& grid) { (void)grid; }
  // Sorts the grid's rows by this column; false when the column cannot.
  virtual bool SortRows(CListGrid& grid, int column, bool ascending) {
    (void)grid, (void)column, (void)ascending;
    return false;
  }

  bool visible = true;
  int savedWidth = 0;          // the width before the column was hidden
  int restorePosition = -1;    // the display position before it was hidden
  bool alwaysHidden = false;   // never drawn, never resized, never offered in the header menu
  bool sortable = true;
  bool editable = true;
  bool resizable = true;
};

class CTextColumnTrait : public CColumnTrait {
 public:
  void OnCellPrePaint(CListGrid& grid, NMLVCUSTOMDRAW& draw) override;
  bool SortRows(CListGrid& grid, int column, bool ascending) override;

  COLORREF textColor = CLR_NONE;
  COLORREF backColor = CLR_NONE;
  bool numericSort = false;
};

}  // namespace pelko
