#include "MainFrame.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AboutDialog.h"
#include "ProductLinks.h"
#include "Resource.h"
#include "ShellSeam.h"
#include "WindowPlacement.h"
#include "WindowProcedure.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace pelko {
namespace {

constexpr UINT kCommands[] = {ID_OPEN_ITEM,     ID_CLEAR_LABEL,   ID_CUSTOMIZE_LABEL, ID_USER_FEEDBACK,
                              ID_HELP_DOCUMENT, ID_ABOUT,         ID_REFRESH_LIST};
constexpr int kStatusPaneId = 1;
constexpr SIZE kDefaultSize{880, 620};  // pixels at 96 DPI

std::wstring LoadString(HINSTANCE instance, UINT id) {
  const wchar_t* text = nullptr;
  const int length = LoadStringW(instance, id, reinterpret_cast<wchar_t*>(&text), 0);
  return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

// "PelkoLabels.htm" in the program's own folder.
std::wstring HelpDocumentPath() {
  wchar_t path[1000] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, 1000);
  std::wstring folder(path, length < 1000 ? length : 0);
  const std::size_t slash = folder.rfind(L'\\');
  folder.resize(slash == std::wstring::npos ? 0 : slash);
  return folder + L"\\PelkoLabels.htm";
}

}  // namespace

bool CMainFrame::Create(HINSTANCE instance) {
  m_instance = instance;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &ObjectWindowProc<CMainFrame>;
  windowClass.hInstance = instance;
  windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass)) return false;
  m_accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));

  // The first run's size: scaled for the DPI, but never beyond most of the work area.
  const UINT dpi = WindowDpi(nullptr);
  RECT work{0, 0, 1024, 768};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = std::min<int>(ScaleForDpi(kDefaultSize.cx, dpi), (work.right - work.left) * 9 / 10);
  const int height = std::min<int>(ScaleForDpi(kDefaultSize.cy, dpi), (work.bottom - work.top) * 9 / 10);
  CreateWindowExW(0, kWindowClass, kTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, width, height,
                  nullptr, nullptr, instance, this);
  return m_window != nullptr;
}

void CMainFrame::Show() {
  OnIdle();  // the buttons' states before the first paint
  int show = SW_SHOW;
  RestoreWindowPlacement(m_window, show);
  ShowWindow(m_window, show);
  UpdateWindow(m_window);
  SetFocus(m_view.List());
}

bool CMainFrame::OnCreate() {
  m_dpi = WindowDpi(m_window);
  if (!m_ribbon.Create(m_window, m_instance, m_dpi)) return false;
  BuildRibbon();

  m_status = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, m_window,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusPaneId)), m_instance, nullptr);
  if (!m_status) return false;
  m_statusFont = CreateMessageFont(m_dpi);
  SendMessageW(m_status, WM_SETFONT, reinterpret_cast<WPARAM>(m_statusFont.get()), FALSE);
  int right = -1;
  SendMessageW(m_status, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&right));
  SendMessageW(m_status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(LoadString(m_instance, IDS_STATUS_HINT).c_str()));

  if (!m_view.Create(m_window, m_instance)) return false;
  Layout();
  StartUpdateCheck(m_updateCheck, std::make_shared<UpdateCheckState>(m_window));
  return true;
}

void CMainFrame::BuildRibbon() {
  m_ribbon.SetCategory(LoadString(m_instance, IDS_RIBBON_HOME));
  m_ribbon.SetImages(IDI_RIBBON_FIRST, 7);
  const int basic = m_ribbon.AddPanel(L"Basic");
  m_ribbon.AddButton(basic, ID_OPEN_ITEM, L"&Open", 0, L"Open", L"Open selected file or folder");
  m_ribbon.AddButton(basic, ID_CLEAR_LABEL, L"&Clear Label", 2, L"Clear", L"Clear label for selected item");
  m_ribbon.AddButton(basic, ID_CUSTOMIZE_LABEL, L"C&ustomize Label", 6, L"Customize Label", L"");
  m_ribbon.AddSeparator(basic);
  m_ribbon.AddButton(basic, ID_USER_FEEDBACK, L"User &Feedback", 3, L"Feedback",
                     std::wstring(L"Send email to tech support (") + kSupportAddress + L")");
  m_ribbon.AddButton(basic, ID_HELP_DOCUMENT, L"&Help", 4, L"Help", L"Open help document");
  m_ribbon.AddSeparator(basic);
  m_ribbon.AddButton(basic, ID_ABOUT, L"&About", 5, L"About", L"Display program information, version number and copyright");
  const int refresh = m_ribbon.AddPanel(L"Click this button to refresh the list");
  m_ribbon.AddButton(refresh, ID_REFRESH_LIST, L"&Refresh List", 1, L"Refresh", L"Refresh list with the latest labels");
  SetWindowTextW(m_window, kTitle);
}

void CMainFrame::Layout() {
  RECT client{};
  GetClientRect(m_window, &client);
  SendMessageW(m_status, WM_SIZE, 0, 0);
  RECT status{};
  GetWindowRect(m_status, &status);
  const int statusHeight = status.bottom - status.top;
  m_ribbon.Layout(client.right);
  const int ribbonHeight = m_ribbon.Height();
  MoveWindow(m_ribbon.Window(), 0, 0, client.right, ribbonHeight, TRUE);
  if (m_view.Window())
    MoveWindow(m_view.Window(), 0, ribbonHeight, client.right, std::max<int>(0, client.bottom - ribbonHeight - statusHeight), TRUE);
}

bool CMainFrame::IsCommandEnabled(UINT command) const {
  if (m_view.HandlesCommand(command)) return m_view.IsCommandEnabled(command);
  return command == ID_USER_FEEDBACK || command == ID_HELP_DOCUMENT || command == ID_ABOUT;
}

void CMainFrame::OnIdle() {
  for (UINT command : kCommands) m_ribbon.EnableCommand(command, IsCommandEnabled(command));
}

void CMainFrame::OnCommand(UINT command) {
  // Accelerators and buttons alike obey the enabling rules.
  if (!IsCommandEnabled(command)) return;
  switch (command) {
    case ID_USER_FEEDBACK:
      ShellOpen(nullptr, nullptr, std::wstring(L"mailto:") + kSupportAddress, SW_SHOW);
      return;
    case ID_HELP_DOCUMENT:
      ShellOpen(nullptr, nullptr, HelpDocumentPath(), SW_SHOW);
      return;
    case ID_ABOUT:
      CAboutDialog(m_instance).DoModal(m_window);
      return;
    default:
      m_view.OnCommand(command);
      return;
  }
}

void CMainFrame::OnActivateManager() {
  if (IsIconic(m_window)) {
    ShowWindow(m_window, SW_RESTORE);
  } else if (!IsWindowVisible(m_window)) {
    ShowWindow(m_window, SW_SHOW);
  }
  BringWindowToTop(m_window);
  const HWND foreground = GetForegroundWindow();
  if (foreground != m_window && !IsChild(m_window, foreground)) SetForegroundWindow(GetAncestor(m_window, GA_ROOT));
}

void CMainFrame::OnDpiChanged(UINT dpi, const RECT& suggested) {
  m_dpi = dpi;
  m_ribbon.SetDpi(dpi);
  m_statusFont = CreateMessageFont(dpi);
  SendMessageW(m_status, WM_SETFONT, reinterpret_cast<WPARAM>(m_statusFont.get()), TRUE);
  SetWindowPos(m_window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
}

bool CMainFrame::MoveFocus(bool backwards) {
  std::vector<HWND> stops = m_ribbon.FocusStops();
  stops.push_back(m_view.List());
  const HWND focus = GetFocus();
  auto at = std::find_if(stops.begin(), stops.end(), [focus](HWND stop) { return stop == focus || IsChild(stop, focus); });
  if (at == stops.end()) return false;
  const auto index = static_cast<std::size_t>(at - stops.begin());
  const std::size_t next = (index + (backwards ? stops.size() - 1 : 1)) % stops.size();
  SetFocus(stops[next]);
  return true;
}

bool CMainFrame::PreTranslateMessage(MSG& message) {
  if (!m_window) return false;
  if (message.hwnd != m_window && !IsChild(m_window, message.hwnd)) return false;
  if (m_accelerators && TranslateAcceleratorW(m_window, m_accelerators, &message)) return true;
  if (m_ribbon.PreTranslateMessage(message)) return true;
  if (message.message == WM_KEYDOWN && message.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0)
    return MoveFocus(GetKeyState(VK_SHIFT) < 0);
  return false;
}

LRESULT CMainFrame::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate() ? 0 : -1;
    case WM_SIZE:
      Layout();
      return 0;
    case WM_SETFOCUS:
      if (m_view.List()) SetFocus(m_view.List());
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    case WM_ACTIVATEMANAGER:
      OnActivateManager();
      return 0;
    case WM_NEWVERSIONFOUND:
      AskToDownloadNewVersion(m_window);
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_GETMINMAXINFO: {
      auto& limits = *reinterpret_cast<MINMAXINFO*>(lParam);
      limits.ptMinTrackSize = {ScaleForDpi(480, m_dpi), ScaleForDpi(320, m_dpi)};
      return 0;
    }
    case WM_SETTEXT:
      // The title is the ribbon's "Pelko Labels"; nothing else renames it.
      if (lParam && lstrcmpW(reinterpret_cast<const wchar_t*>(lParam), kTitle) != 0) return FALSE;
      break;
    case WM_CLOSE:
      SaveWindowPlacement(m_window);
      m_view.SaveListLayout();
      DestroyWindow(m_window);
      return 0;
    case WM_DESTROY:
      // A download still running ends early; nobody waits for it.
      m_updateCheck.RequestStop();
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(m_window, message, wParam, lParam);
}

}  // namespace pelko
