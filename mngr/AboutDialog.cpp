#include "AboutDialog.h"

#include <commctrl.h>

#include <string>

#include "ProductLinks.h"
#include "Resource.h"
#include "ShellSeam.h"

namespace pelko {
namespace {

constexpr UINT_PTR kLinkSubclassId = 1;
constexpr SIZE kBannerSize{360, 96};  // pixels at 96 DPI

bool HighContrastOn() {
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof(contrast);
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) && (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

INT_PTR CAboutDialog::DoModal(HWND owner) {
  return DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, &CAboutDialog::DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

void CAboutDialog::OnInitDialog() {
  const UINT dpi = WindowDpi(m_dialog);
  // The banner is drawn for 100 % and 200 %; other scales stretch the nearer one.
  const bool large = dpi > 120;
  m_banner.reset(static_cast<HBITMAP>(LoadImageW(m_instance, MAKEINTRESOURCEW(large ? IDB_ABOUT_BANNER_200 : IDB_ABOUT_BANNER_100),
                                                 IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  m_bannerSize = {ScaleForDpi(kBannerSize.cx, dpi), ScaleForDpi(kBannerSize.cy, dpi)};

  RECT margin{7, 7, 7, 7};
  MapDialogRect(m_dialog, &margin);
  const HWND banner = GetDlgItem(m_dialog, IDC_ABOUT_BANNER);
  const HWND link = GetDlgItem(m_dialog, IDC_ABOUT_UPDATES);
  const HWND ok = GetDlgItem(m_dialog, IDOK);
  MoveWindow(banner, 0, 0, m_bannerSize.cx, m_bannerSize.cy, FALSE);

  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(m_dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
  font.lfUnderline = TRUE;
  m_linkFont.reset(CreateFontIndirectW(&font));

  RECT okRect{};
  GetWindowRect(ok, &okRect);
  const int okWidth = okRect.right - okRect.left, okHeight = okRect.bottom - okRect.top;
  const int rowTop = m_bannerSize.cy + margin.top;
  SIZE linkText{};
  {
    window_dc dc(link);
    scoped_select selected(dc.get(), m_linkFont.get());
    const std::wstring text = WindowText(link);
    GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &linkText);
  }
  const int linkHeight = linkText.cy + margin.top / 2;
  MoveWindow(link, margin.left - 2, rowTop + (okHeight - linkHeight) / 2, linkText.cx + 4, linkHeight, FALSE);
  MoveWindow(ok, m_bannerSize.cx - margin.right - okWidth, rowTop, okWidth, okHeight, FALSE);
  SetWindowSubclass(link, &CAboutDialog::LinkProc, kLinkSubclassId, 0);

  RECT window{0, 0, m_bannerSize.cx, rowTop + okHeight + margin.bottom};
  AdjustWindowRectEx(&window, static_cast<DWORD>(GetWindowLongPtrW(m_dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(m_dialog, GWL_EXSTYLE)));
  RECT placed{};
  GetWindowRect(m_dialog, &placed);
  const int width = window.right - window.left, height = window.bottom - window.top;
  // Keep the dialog centred where the template put it.
  SetWindowPos(m_dialog, nullptr, placed.left + ((placed.right - placed.left) - width) / 2,
               placed.top + ((placed.bottom - placed.top) - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CAboutDialog::DrawBanner(const DRAWITEMSTRUCT& item) {
  const RECT& area = item.rcItem;
  if (!m_banner) {
    FillRect(item.hDC, &area, GetSysColorBrush(COLOR_WINDOW));
    return;
  }
  BITMAP info{};
  GetObjectW(m_banner.get(), sizeof(info), &info);
  unique_hdc memory(CreateCompatibleDC(item.hDC));
  if (!memory) return;
  scoped_select selected(memory.get(), m_banner.get());
  SetStretchBltMode(item.hDC, HALFTONE);
  SetBrushOrgEx(item.hDC, 0, 0, nullptr);
  StretchBlt(item.hDC, area.left, area.top, area.right - area.left, area.bottom - area.top, memory.get(), 0, 0, info.bmWidth,
             info.bmHeight, SRCCOPY);
}

void CAboutDialog::DrawLink(const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  const std::wstring text = WindowText(item.hwndItem);
  scoped_select selected(item.hDC, m_linkFont.get());
  SetBkMode(item.hDC, TRANSPARENT);
  // The link blue of the system where it is one (high contrast keeps its own).
  const COLORREF link = HighContrastOn() ? GetSysColor(COLOR_HOTLIGHT) : RGB(0, 102, 204);
  SetTextColor(item.hDC, (item.itemState & ODS_SELECTED) ? RGB(0, 51, 153) : link);
  RECT textRect = item.rcItem;
  InflateRect(&textRect, -2, 0);
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &textRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) DrawFocusRect(item.hDC, &item.rcItem);
}

LRESULT CALLBACK CAboutDialog::LinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (message == WM_SETCURSOR) {
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return TRUE;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, &CAboutDialog::LinkProc, kLinkSubclassId);
  return DefSubclassProc(window, message, wParam, lParam);
}

INT_PTR CALLBACK CAboutDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CAboutDialog*>(lParam);
    self->m_dialog = dialog;
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    self->OnInitDialog();
    SetFocus(GetDlgItem(dialog, IDOK));
    return FALSE;  // the focus is set
  }
  auto* self = reinterpret_cast<CAboutDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlID == IDC_ABOUT_BANNER) self->DrawBanner(item);
      else if (item.CtlID == IDC_ABOUT_UPDATES) self->DrawLink(item);
      else return FALSE;
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_ABOUT_UPDATES:
          if (HIWORD(wParam) == BN_CLICKED) ShellOpen(dialog, nullptr, kProductWebSite, SW_SHOW);
          return TRUE;
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, IDOK);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace pelko
