#pragma once
// The main window's only view: a borderless form (dialog 101) holding the
// label list, control 1000, in a CListGrid. It shows every labelled item
// that still exists, with its label's icon and name, and carries out Open,
// Clear Label, Refresh List and Customize Label.

#include <windows.h>

#include <map>
#include <string>

#include "ImageListHandle.h"
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
  void FillLabelList();
  void OpenSelectedItems();
  void ClearSelectedLabels();
  void CustomizeLabels();
  void RestoreListLayout();
  // A message the user must see before the program ends.
  void EndWithMessage(const wchar_t* text);
  int SelectedCount() const;

  HINSTANCE m_instance = nullptr;
  HWND m_form = nullptr;
  CListGrid m_list;
  unique_himagelist m_imageList;
  std::wstring m_configPath;
  bool m_fitPathColumn = true;  // until the first real size, when no saved layout set it
};

}  // namespace pelko
