#pragma once
// The Customize Labels dialog (resource 321): choose one of the icon
// schemes shipped under icons\Schemes beside the program and rename the six
// labels. Save copies the scheme's label settings, with the typed names,
// into PelkoLabelShlCfg.ini, where the extension and the list read them.

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "LabelConfig.h"
#include "UniqueHandle.h"

namespace pelko {

class CCustomizeLabelDlg {
 public:
  static constexpr int kSchemeComboId = 1020;
  static constexpr int kFirstIconId = 1008;   // row i: 1007 + i
  static constexpr int kFirstNameId = 1014;   // row i: 1013 + i
  static constexpr int kNameLimit = 64;

  CCustomizeLabelDlg(HINSTANCE instance, std::wstring configFile)
      : m_instance(instance), m_configFile(std::move(configFile)) {}
  // IDOK after Save wrote the file, IDCANCEL when nothing was written.
  INT_PTR DoModal(HWND owner);

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  void OnInitDialog();
  void EnumerateSchemes();
  void ShowCurrentLabels();
  void PreviewScheme(const std::wstring& folder);
  void ShowRow(LabelValue label, const std::wstring& iconFile, const std::wstring& name);
  bool Save();
  bool ApplyScheme(const std::wstring& folder);
  bool SaveLabelTexts();
  std::wstring NameTyped(LabelValue label) const;

  HINSTANCE m_instance;
  std::wstring m_configFile;
  HWND m_dialog = nullptr;
  HWND m_schemeCombo = nullptr;
  std::vector<std::wstring> m_schemeFolders;
  int m_initialScheme = -1;
  std::array<unique_hicon, 6> m_icons;
};

}  // namespace pelko
