#include "MyRibbon.h"

#include <algorithm>

#include "WindowProcedure.h"

namespace pelko {
namespace {

constexpr wchar_t kRibbonClass[] = L"Norvane.PelkoLabels.Ribbon";
constexpr COLORREF kPanelColor = RGB(248, 249, 250);
constexpr COLORREF kLineColor = RGB(218, 220, 224);
constexpr COLORREF kCaptionColor = RGB(90, 94, 102);
constexpr UINT_PTR kToolbarSubclassId = 1;

// Sizes in pixels at 96 DPI.
constexpr int kPanelGap = 6;
constexpr int kPanelPadding = 4;
constexpr int kImageSize = 32;

void FillColor(HDC dc, const RECT& rect, COLORREF color) {
  unique_hbrush brush(CreateSolidBrush(color));
  if (brush) FillRect(dc, &rect, brush.get());
}

SIZE TextExtent(HWND window, HFONT font, const std::wstring& text) {
  window_dc dc(window);
  SIZE size{};
  if (!dc) return size;
  scoped_select selected(dc.get(), font);
  RECT bounds{};
  DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &bounds, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  size.cx = bounds.right - bounds.left;
  size.cy = bounds.bottom - bounds.top;
  return size;
}

}  // namespace

MyRibbon::~MyRibbon() = default;

bool MyRibbon::Create(HWND frame, HINSTANCE instance, UINT dpi) {
  m_frame = frame;
  m_instance = instance;
  m_dpi = dpi;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &ObjectWindowProc<MyRibbon>;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kRibbonClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  m_window = CreateWindowExW(WS_EX_CONTROLPARENT, kRibbonClass, L"Ribbon", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0,
                             0, frame, nullptr, instance, this);
  if (!m_window) return false;
  m_panelBrush.reset(CreateSolidBrush(kPanelColor));
  m_tabs = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TCS_FOCUSNEVER, 0, 0, 0, 0,
                           m_window, nullptr, instance, nullptr);
  if (!m_tabs) return false;
  ApplyDpiResources();
  return true;
}

void MyRibbon::SetCategory(const std::wstring& name) {
  m_category = name;
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = m_category.data();
  if (SendMessageW(m_tabs, TCM_GETITEMCOUNT, 0, 0) == 0) {
    SendMessageW(m_tabs, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  } else {
    SendMessageW(m_tabs, TCM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

void MyRibbon::SetImages(int firstImageId, int count) {
  m_firstImageId = firstImageId;
  m_imageCount = count;
  ApplyDpiResources();
}

int MyRibbon::AddPanel(const std::wstring& caption) {
  Panel panel;
  panel.toolbar = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | TBSTYLE_TRANSPARENT |
                                      CCS_NORESIZE | CCS_NODIVIDER | CCS_NOPARENTALIGN,
                                  0, 0, 0, 0, m_window, nullptr, m_instance, nullptr);
  panel.caption = CreateWindowExW(0, WC_STATICW, caption.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX, 0, 0, 0, 0,
                                  m_window, nullptr, m_instance, nullptr);
  if (!panel.toolbar || !panel.caption) return -1;
  SendMessageW(panel.toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ApplyDpiResources(panel);
  SetWindowSubclass(panel.toolbar, &MyRibbon::ToolbarProc, kToolbarSubclassId, reinterpret_cast<DWORD_PTR>(this));
  m_panels.push_back(std::move(panel));
  return static_cast<int>(m_panels.size()) - 1;
}

void MyRibbon::AddButton(int panel, UINT command, const std::wstring& text, int image, const std::wstring& tipTitle,
                         const std::wstring& tipDescription) {
  Panel& target = m_panels.at(static_cast<std::size_t>(panel));
  TBBUTTON button{};
  button.iBitmap = image;
  button.idCommand = static_cast<int>(command);
  button.fsState = TBSTATE_ENABLED;
  button.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE;
  button.iString = reinterpret_cast<INT_PTR>(text.c_str());
  SendMessageW(target.toolbar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
  SendMessageW(target.toolbar, TB_AUTOSIZE, 0, 0);
  target.buttons.push_back({command, tipTitle, tipDescription});
}

void MyRibbon::AddSeparator(int panel) {
  TBBUTTON separator{};
  separator.fsStyle = BTNS_SEP;
  separator.iBitmap = ScaleForDpi(8, m_dpi);
  SendMessageW(m_panels.at(static_cast<std::size_t>(panel)).toolbar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&separator));
}

void MyRibbon::SetDpi(UINT dpi) {
  if (dpi == m_dpi) return;
  m_dpi = dpi;
  ApplyDpiResources();
}

void MyRibbon::ApplyDpiResources() {
  m_font = CreateMessageFont(m_dpi);
  if (m_tabs) SendMessageW(m_tabs, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);

  // The pictures are drawn at 16 to 64 pixels; the icon nearest the size wins.
  const int size = ScaleForDpi(kImageSize, m_dpi);
  unique_himagelist images(ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, m_imageCount, 0));
  for (int index = 0; images && index < m_imageCount; ++index) {
    unique_hicon icon(static_cast<HICON>(
        LoadImageW(m_instance, MAKEINTRESOURCEW(m_firstImageId + index), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
    if (!icon || ImageList_AddIcon(images.get(), icon.get()) < 0) {
      // A blank keeps the strip's indices right without the picture.
      unique_hbitmap blank(CreateBitmap(size, size, 1, 32, nullptr));
      ImageList_Add(images.get(), blank.get(), nullptr);
    }
  }
  // The toolbars take the new list before the old one goes.
  unique_himagelist previous = std::move(m_images);
  m_images = std::move(images);
  for (const Panel& panel : m_panels) ApplyDpiResources(panel);
  if (m_window) {
    RECT client{};
    GetClientRect(m_window, &client);
    Layout(client.right);
  }
}

void MyRibbon::ApplyDpiResources(const Panel& panel) {
  SendMessageW(panel.toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_images.get()));
  SendMessageW(panel.toolbar, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
  SendMessageW(panel.caption, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
  SendMessageW(panel.toolbar, TB_AUTOSIZE, 0, 0);
}

void MyRibbon::Layout(int width) {
  if (!m_window) return;
  const int gap = ScaleForDpi(kPanelGap, m_dpi);
  const int padding = ScaleForDpi(kPanelPadding, m_dpi);

  // The tab strip shows its tabs only; the panels stand for its page.
  RECT tabArea{0, 0, width, 200};
  SendMessageW(m_tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&tabArea));
  const int tabHeight = std::max<int>(tabArea.top, ScaleForDpi(20, m_dpi));
  MoveWindow(m_tabs, 0, 0, width, tabHeight + ScaleForDpi(2, m_dpi), TRUE);

  const int captionHeight = TextExtent(m_window, m_font.get(), L"Ag").cy;
  int buttonsHeight = 0;
  for (const Panel& panel : m_panels) {
    SIZE size{};
    SendMessageW(panel.toolbar, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
    buttonsHeight = std::max<int>(buttonsHeight, size.cy);
  }
  const int panelTop = tabHeight + ScaleForDpi(1, m_dpi);
  const int captionTop = panelTop + padding + buttonsHeight + padding / 2;
  m_height = captionTop + captionHeight + padding + ScaleForDpi(1, m_dpi);

  int x = gap;
  for (Panel& panel : m_panels) {
    SIZE buttons{};
    SendMessageW(panel.toolbar, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&buttons));
    wchar_t caption[256] = {};
    GetWindowTextW(panel.caption, caption, 256);
    const int captionWidth = TextExtent(m_window, m_font.get(), caption).cx + 2 * padding;
    const int panelWidth = std::max<int>(buttons.cx, captionWidth);
    MoveWindow(panel.toolbar, x + (panelWidth - buttons.cx) / 2, panelTop + padding, buttons.cx, buttonsHeight, TRUE);
    MoveWindow(panel.caption, x, captionTop, panelWidth, captionHeight, TRUE);
    panel.area = {x, panelTop, x + panelWidth, m_height - ScaleForDpi(1, m_dpi)};
    x += panelWidth + 2 * gap;
  }
  InvalidateRect(m_window, nullptr, TRUE);
}

void MyRibbon::PaintBackground(HDC dc) {
  RECT client{};
  GetClientRect(m_window, &client);
  FillColor(dc, client, kPanelColor);
  const int line = std::max(1, ScaleForDpi(1, m_dpi));
  FillColor(dc, {client.left, client.bottom - line, client.right, client.bottom}, kLineColor);
  // A thin line closes each panel on its right.
  const int gap = ScaleForDpi(kPanelGap, m_dpi);
  for (const Panel& panel : m_panels) {
    const int x = panel.area.right + gap;
    FillColor(dc, {x, panel.area.top + ScaleForDpi(4, m_dpi), x + line, panel.area.bottom - ScaleForDpi(4, m_dpi)}, kLineColor);
  }
}

const MyRibbon::Button* MyRibbon::FindButton(UINT command) const {
  for (const Panel& panel : m_panels)
    for (const Button& button : panel.buttons)
      if (button.command == command) return &button;
  return nullptr;
}

void MyRibbon::EnableCommand(UINT command, bool enabled) {
  for (const Panel& panel : m_panels) {
    if (SendMessageW(panel.toolbar, TB_COMMANDTOINDEX, command, 0) < 0) continue;
    if (((SendMessageW(panel.toolbar, TB_ISBUTTONENABLED, command, 0) != 0)) != enabled)
      SendMessageW(panel.toolbar, TB_ENABLEBUTTON, command, MAKELPARAM(enabled ? TRUE : FALSE, 0));
  }
}

bool MyRibbon::IsCommandEnabled(UINT command) const {
  for (const Panel& panel : m_panels)
    if (SendMessageW(panel.toolbar, TB_COMMANDTOINDEX, command, 0) >= 0)
      return SendMessageW(panel.toolbar, TB_ISBUTTONENABLED, command, 0) != 0;
  return false;
}

std::vector<HWND> MyRibbon::FocusStops() const {
  std::vector<HWND> stops;
  for (const Panel& panel : m_panels) stops.push_back(panel.toolbar);
  return stops;
}

std::vector<std::pair<HWND, int>> MyRibbon::EnabledButtons() const {
  std::vector<std::pair<HWND, int>> buttons;
  for (const Panel& panel : m_panels) {
    const int count = static_cast<int>(SendMessageW(panel.toolbar, TB_BUTTONCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
      TBBUTTON button{};
      SendMessageW(panel.toolbar, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button));
      if (!(button.fsStyle & BTNS_SEP) && (button.fsState & TBSTATE_ENABLED)) buttons.emplace_back(panel.toolbar, index);
    }
  }
  return buttons;
}

void MyRibbon::SetHotButton(HWND toolbar, int index) {
  for (const Panel& panel : m_panels)
    if (panel.toolbar != toolbar) SendMessageW(panel.toolbar, TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
  if (GetFocus() != toolbar) SetFocus(toolbar);
  SendMessageW(toolbar, TB_SETHOTITEM, index, 0);
}

void MyRibbon::OnToolbarFocused(HWND toolbar) {
  if (SendMessageW(toolbar, TB_GETHOTITEM, 0, 0) >= 0) return;
  for (const auto& [owner, index] : EnabledButtons()) {
    if (owner == toolbar) {
      SetHotButton(toolbar, index);
      return;
    }
  }
}

void MyRibbon::EnterKeyboardMode() {
  const HWND focus = GetFocus();
  bool inRibbon = false;
  for (const Panel& panel : m_panels) inRibbon = inRibbon || focus == panel.toolbar;
  if (inRibbon) {
    LeaveKeyboardMode(true);
    return;
  }
  m_focusBeforeRibbon = focus;
  const auto buttons = EnabledButtons();
  if (!buttons.empty()) SetHotButton(buttons.front().first, buttons.front().second);
}

void MyRibbon::LeaveKeyboardMode(bool restoreFocus) {
  for (const Panel& panel : m_panels) SendMessageW(panel.toolbar, TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
  if (restoreFocus && m_focusBeforeRibbon && IsWindow(m_focusBeforeRibbon)) SetFocus(m_focusBeforeRibbon);
  m_focusBeforeRibbon = nullptr;
  SendMessageW(m_frame, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEACCEL), 0);
}

bool MyRibbon::PressAccessKey(wchar_t key) {
  for (const Panel& panel : m_panels) {
    UINT command = 0;
    if (!SendMessageW(panel.toolbar, TB_MAPACCELERATORW, key, reinterpret_cast<LPARAM>(&command))) continue;
    if (!IsCommandEnabled(command)) return true;  // known key, nothing to do now
    LeaveKeyboardMode(true);
    PostMessageW(m_frame, WM_COMMAND, MAKEWPARAM(command, 0), reinterpret_cast<LPARAM>(panel.toolbar));
    return true;
  }
  return false;
}

bool MyRibbon::OnToolbarKey(HWND toolbar, UINT key) {
  const auto buttons = EnabledButtons();
  const int hot = static_cast<int>(SendMessageW(toolbar, TB_GETHOTITEM, 0, 0));
  auto current = std::find(buttons.begin(), buttons.end(), std::make_pair(toolbar, hot));
  switch (key) {
    case VK_LEFT:
    case VK_RIGHT: {
      if (buttons.empty()) return true;
      std::size_t at = current == buttons.end() ? 0 : static_cast<std::size_t>(current - buttons.begin());
      if (current != buttons.end()) at = (at + (key == VK_RIGHT ? 1 : buttons.size() - 1)) % buttons.size();
      SetHotButton(buttons[at].first, buttons[at].second);
      return true;
    }
    case VK_RETURN:
    case VK_SPACE:
      if (current != buttons.end()) {
        TBBUTTON button{};
        SendMessageW(toolbar, TB_GETBUTTON, hot, reinterpret_cast<LPARAM>(&button));
        LeaveKeyboardMode(true);
        PostMessageW(m_frame, WM_COMMAND, MAKEWPARAM(button.idCommand, 0), reinterpret_cast<LPARAM>(toolbar));
      }
      return true;
    case VK_ESCAPE:
      LeaveKeyboardMode(true);
      return true;
    default:
      return false;
  }
}

bool MyRibbon::PreTranslateMessage(const MSG& message) {
  switch (message.message) {
    case WM_SYSKEYDOWN:
      if (message.wParam == VK_MENU) {
        if (!(message.lParam & (1 << 30))) {
          m_altAlone = true;
          SendMessageW(m_frame, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
        }
        return false;
      }
      m_altAlone = false;
      return false;
    case WM_SYSKEYUP:
      if (message.wParam == VK_MENU && m_altAlone) {
        m_altAlone = false;
        EnterKeyboardMode();
        return true;  // not the system menu's Alt
      }
      return false;
    case WM_KEYDOWN:
      m_altAlone = false;
      for (const Panel& panel : m_panels)
        if (message.hwnd == panel.toolbar) return OnToolbarKey(panel.toolbar, static_cast<UINT>(message.wParam));
      return false;
    case WM_SYSCHAR:
      return PressAccessKey(static_cast<wchar_t>(message.wParam));
    case WM_CHAR:
      // In the ribbon a letter alone is its access key, as in a menu bar.
      for (const Panel& panel : m_panels)
        if (message.hwnd == panel.toolbar) return PressAccessKey(static_cast<wchar_t>(message.wParam)) || true;
      return false;
    default:
      return false;
  }
}

LRESULT MyRibbon::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      // Transparent toolbars ask for this with their own origin set.
      PaintBackground(reinterpret_cast<HDC>(wParam));
      return TRUE;
    case WM_PRINTCLIENT:
      PaintBackground(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_CTLCOLORSTATIC: {
      const auto dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kCaptionColor);
      SetBkColor(dc, kPanelColor);
      return reinterpret_cast<LRESULT>(m_panelBrush.get());
    }
    case WM_CONTEXTMENU:
      return 0;  // no customisation menu
    case WM_NOTIFY: {
      auto& header = *reinterpret_cast<NMHDR*>(lParam);
      if (header.code == NM_RCLICK) return TRUE;
      if (header.code == TTN_GETDISPINFOW) {
        auto& info = reinterpret_cast<NMTTDISPINFOW&>(header);
        const Button* button = FindButton(static_cast<UINT>(header.idFrom));
        if (!button) return 0;
        // A title in bold over a description line; a tip without a
        // description is its title alone, in plain text.
        const bool titled = !button->tipDescription.empty();
        SendMessageW(header.hwndFrom, TTM_SETTITLEW, TTI_NONE,
                     reinterpret_cast<LPARAM>(titled ? button->tipTitle.c_str() : L""));
        SendMessageW(header.hwndFrom, TTM_SETMAXTIPWIDTH, 0, ScaleForDpi(320, m_dpi));
        info.lpszText = const_cast<wchar_t*>(titled ? button->tipDescription.c_str() : button->tipTitle.c_str());
        info.hinst = nullptr;
        return 0;
      }
      return 0;
    }
    case WM_COMMAND:
      // Button clicks go to the frame, which routes every command.
      return SendMessageW(m_frame, WM_COMMAND, wParam, lParam);
    default:
      return DefWindowProcW(m_window, message, wParam, lParam);
  }
}

LRESULT CALLBACK MyRibbon::ToolbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self) {
  switch (message) {
    case WM_SETFOCUS:
      reinterpret_cast<MyRibbon*>(self)->OnToolbarFocused(window);
      break;
    case WM_KILLFOCUS:
      SendMessageW(window, TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
      break;
    case WM_CONTEXTMENU:
    case WM_RBUTTONUP:
      return 0;
    case WM_NCDESTROY:
      RemoveWindowSubclass(window, &MyRibbon::ToolbarProc, kToolbarSubclassId);
      break;
    default:
      break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace pelko
