#pragma once
// The main window's only view: a borderless form (dialog 101) holding the
// label list, control 1000, in a CListGrid. It shows every labelled item
// that still exists, with its label's icon and name, and carries out Open,
// Clear Label, Refresh List and Customize Label.
//
// The list is owner data: its rows are the service's answer, held here.
// A fill (CLabelListFill) asks the service and checks the paths on worker
// threads; a timer of the form takes the checked items in the service's
// order and shows them, so the window never waits for a disk or a share.

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ImageListHandle.h"
#include "LabelService.h"
#include "Labels.h"
#include "ListGrid.h"

namespace pelko {

// Label value to display name, read from the configuration for 1 to 6.
extern std::map<LabelValue, std::wstring> g_labelNames;

class CTagwellView {
 public:
  static constexpr int kListControlId = 1000;
  static constexpr COLORREF kAlternateTextColor = RGB(117, 63, 190);
  static constexpr int kColorColumn = 1;
  static constexpr int kPathColumn = 2;
  // Set on the list while a fill runs (tests and the benchmark wait for its end).
  static constexpr wchar_t kFillingProperty[] = L"Norvane.PelkoLabels.Filling";

  CTagwellView();
  ~CTagwellView();
  CTagwellView(const CTagwellView&) = delete;
  CTagwellView& operator=(const CTagwellView&) = delete;

  bool Create(HWND frame, HINSTANCE instance);
  HWND Window() const noexcept { return m_form; }
  HWND List() const noexcept { return m_list.Window(); }
  CListGrid& Grid() noexcept { return m_list; }

  // The commands this view carries out, and whether they can run now.
  bool HandlesCommand(UINT command) const;
  bool IsCommandEnabled(UINT command) const;
  void OnCommand(UINT command);

  // The list's columns and sort, remembered per user between runs.
  void SaveListLayout() const;

 private:
  static INT_PTR CALLBACK FormProc(HWND, UINT, WPARAM, LPARAM);
  void OnInitialUpdate();
  void LoadLabelNames(const std::wstring& configPath);
  bool LoadLabelIcons();
  // Starts a fill in place of any that runs; the rows shown stay until the
  // new ones come.
  void FillLabelList();
  void OnFillTimer();
  void EndFill();
  void OpenSelectedItems();
  void ClearSelectedLabels();
  void CustomizeLabels();
  void RestoreListLayout();
  // A message the user must see before the program ends.
  void EndWithMessage(const wchar_t* text);
  int SelectedCount() const;

  class LabelRows;

  HINSTANCE m_instance = nullptr;
  HWND m_form = nullptr;
  CListGrid m_list;
  unique_himagelist m_imageList;
  std::wstring m_configPath;
  bool m_fitPathColumn = true;  // until the first real size, when no saved layout set it
  std::unique_ptr<LabelRows> m_rows;
  std::shared_ptr<const std::vector<LabelledItem>> m_items;  // the answer the rows show
  std::unique_ptr<CLabelListFill> m_fill;
  bool m_fillShown = false;  // the running fill's rows have taken the place of the earlier ones
  std::wstring m_emptyText;
};

}  // namespace pelko
