#pragma once
// How the grid's rows look: one row trait draws every row. The label list
// uses alternate text colours on odd rows.

#include <windows.h>
#include <commctrl.h>

namespace pelko {

class CListGrid;

class CRowTrait {
 public:
  virtual ~CRowTrait() = default;
  // Item pre-paint: the row's colours.
  virtual void OnRowPrePaint(CListGrid& grid, NMLVCUSTOMDRAW& draw) { (void)grid, (void)draw; }
  // Sub-item post-paint: touches after a cell was drawn.
  virtual void OnCellPostPaint(CListGrid& grid, NMLVCUSTOMDRAW& draw) { (void)grid, (void)draw; }
};

class CTextRowTrait : public CRowTrait {
 public:
  void OnRowPrePaint(CListGrid& grid, NMLVCUSTOMDRAW& draw) override;

  // The colour a row of this index gets, or CLR_NONE for the default.
  COLORREF RowTextColor(int row) const;
  COLORREF RowBackColor(int row) const;

  COLORREF textColor = CLR_NONE;
  COLORREF backColor = CLR_NONE;
  COLORREF altTextColor = CLR_NONE;  // odd rows
  COLORREF altBackColor = CLR_NONE;
};

// Without visual styles the list view paints a selected row's images on the
// window colour; this keeps the selection colour behind them.
class CClassicRowTrait : public CTextRowTrait {
 public:
  void OnCellPostPaint(CListGrid& grid, NMLVCUSTOMDRAW& draw) override;
};

// The header menu's optional entries; the plain manager adds none.
class CColumnManager {
 public:
  virtual ~CColumnManager() = default;
  // Called with the column list already in the menu; may append entries
  // with identifiers from kFirstCommand on.
  virtual void OnHeaderMenu(CListGrid& grid, HMENU menu) { (void)grid, (void)menu; }
  virtual bool OnHeaderMenuCommand(CListGrid& grid, UINT command) {
    (void)grid, (void)command;
    return false;
  }
  static constexpr UINT kFirstCommand = 0x8000;
};

}  // namespace pelko
