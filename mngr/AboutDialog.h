#pragma once
// The About box: the banner with the product name and version, a link to
// the maker's web site ("Check product updates") and OK.

#include <windows.h>

#include "Dpi.h"
#include "UniqueHandle.h"

namespace pelko {

class CAboutDialog {
 public:
  explicit CAboutDialog(HINSTANCE instance) : m_instance(instance) {}
  // Shows the dialog and returns when it is closed (IDOK), or -1.
  INT_PTR DoModal(HWND owner);

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK LinkProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  void OnInitDialog();
  void DrawBanner(const DRAWITEMSTRUCT& item);
  void DrawLink(const DRAWITEMSTRUCT& item);

  HINSTANCE m_instance;
  HWND m_dialog = nullptr;
  unique_hbitmap m_banner;
  SIZE m_bannerSize{};
  unique_hfont m_linkFont;
};

}  // namespace pelko
