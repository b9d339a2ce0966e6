#pragma once
// The main window's only view: a borderless form (dialog 101) holding the
// label list, control 1000, in a CListGrid.

#include <windows.h>

#include "ListGrid.h"

namespace pelko {

class CTagwellView {
 public:
  static constexpr int kListControlId = 1000;
  static constexpr COLORREF kAlternateTextColor = RGB(117, 63, 190);

  bool Create(HWND frame, HINSTANCE instance);
  HWND Window() const noexcept { return m_form; }
  HWND List() const noexcept { return m_list.Window(); }
  CListGrid& Grid() noexcept { return m_list; }

  // The commands this view carries out, and whether they can run now.
  bool HandlesCommand(UINT command) const;
  bool IsCommandEnabled(UINT command) const;
  void OnCommand(UINT command);

 private:
  static INT_PTR CALLBACK FormProc(HWND, UINT, WPARAM, LPARAM);
  void OnInitialUpdate();
  int SelectedCount() const;

  HWND m_form = nullptr;
  CListGrid m_list;
};

}  // namespace pelko
