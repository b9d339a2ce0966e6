// The grid list control on a real list view, in a window of this process
// on the test desktop: driven by the messages a user's clicks and keys
// send, read back through list-view messages, the clipboard and pixels.

#include "ListGrid.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "TestDiagnostics.h"

namespace pelko {
namespace {

using testing::CapturePixels;
using testing::Pixels;
using testing::RgbOf;
using testing::SaveScreenshot;

constexpr COLORREF kViolet = RGB(117, 63, 190);
constexpr int kColor = 1, kPath = 2;

void PumpMessages(DWORD forMs = 50) {
  const ULONGLONG until = testing::TickNowMs() + forMs;
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(5);
  } while (testing::TickNowMs() < until);
}

// Holds Ctrl (or another key) down in this thread's keyboard state.
class HeldKey {
 public:
  explicit HeldKey(BYTE key) : m_key(key) { Set(0x80); }
  ~HeldKey() { Set(0); }

 private:
  void Set(BYTE state) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[m_key] = state;
    SetKeyboardState(keys);
  }
  BYTE m_key;
};

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return L"<clipboard busy>";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

struct Row {
  const wchar_t* color;
  std::wstring path;
};

class ListGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestDesktopName();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = L"ListGridTestHost";
    RegisterClassW(&windowClass);
    m_host = CreateWindowExW(0, L"ListGridTestHost", L"Grid", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20, 20, 720, 360,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(m_host, nullptr) << "CreateWindowExW: error " << GetLastError();
    RECT client{};
    GetClientRect(m_host, &client);
    m_list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | WS_TABSTOP, 0, 0,
                             client.right, client.bottom, m_host, reinterpret_cast<HMENU>(1000), GetModuleHandleW(nullptr),
                             nullptr);
    ASSERT_NE(m_list, nullptr);
    ASSERT_TRUE(m_grid.Attach(m_list));
    auto rows = std::make_unique<CClassicRowTrait>();
    rows->altTextColor = kViolet;
    m_grid.SetRowTrait(std::move(rows));
    ASSERT_EQ(m_grid.AddHiddenFirstColumn(), 0);
    ASSERT_EQ(m_grid.InsertColumn(kColor, L"Color", LVCFMT_LEFT, 100), kColor);
    ASSERT_EQ(m_grid.InsertColumn(kPath, L"Path", LVCFMT_LEFT, 500), kPath);
    ShowWindow(m_host, SW_SHOW);
    SetForegroundWindow(m_host);
    SetFocus(m_list);
    PumpMessages();
  }

  void TearDown() override {
    if (m_host) DestroyWindow(m_host);
    PumpMessages(20);
  }

  void AddRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      const int index = static_cast<int>(SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0));
      const std::wstring label = std::to_wstring(index + 1);
      LVITEMW item{};
      item.mask = LVIF_TEXT | LVIF_PARAM;
      item.iItem = index;
      item.pszText = const_cast<wchar_t*>(label.c_str());
      item.lParam = 100 + index;  // the row's own data, which must travel with it
      ASSERT_EQ(SendMessageW(m_list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)), index);
      SetCell(index, kColor, row.color);
      SetCell(index, kPath, row.path);
    }
    PumpMessages();
  }

  void SetCell(int row, int column, const std::wstring& text) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(m_list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  }

  std::vector<std::wstring> Column(int column) {
    std::vector<std::wstring> texts;
    for (int row = 0; row < m_grid.ItemCount(); ++row) texts.push_back(m_grid.ItemText(row, column));
    return texts;
  }

  LPARAM Data(int row) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    SendMessageW(m_list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
  }

  void Select(std::vector<int> rows) {
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    for (int row : rows) {
      state.state = LVIS_SELECTED;
      state.stateMask = LVIS_SELECTED;
      SendMessageW(m_list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    }
    if (!rows.empty()) {
      state.state = state.stateMask = LVIS_FOCUSED;
      SendMessageW(m_list, LVM_SETITEMSTATE, rows.front(), reinterpret_cast<LPARAM>(&state));
      SendMessageW(m_list, LVM_SETSELECTIONMARK, 0, rows.front());
    }
    PumpMessages();
  }

  // A left click on a header item, as the mouse gives it.
  void ClickHeader(int column) {
    RECT item{};
    SendMessageW(m_grid.Header(), HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&item));
    const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageW(m_grid.Header(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(m_grid.Header(), WM_LBUTTONUP, 0, at);
    PumpMessages();
  }

  void ClickCell(int row, int column) {
    RECT cell{};
    cell.top = column;
    cell.left = LVIR_BOUNDS;
    SendMessageW(m_list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
    const LPARAM at = MAKELPARAM(cell.left + 8, (cell.top + cell.bottom) / 2);
    PostMessageW(m_list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(m_list, WM_LBUTTONUP, 0, at);
    PumpMessages(100);
  }

  void Key(UINT key) {
    SendMessageW(m_list, WM_KEYDOWN, key, 1);
    SendMessageW(m_list, WM_KEYUP, key, 1 | (3u << 30));
    PumpMessages(10);
  }

  void Type(wchar_t ch) {
    SendMessageW(m_list, WM_CHAR, ch, 1);
    PumpMessages(10);
  }

  int HeaderFormat(int column) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    SendMessageW(m_grid.Header(), HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
    return item.fmt;
  }

  RECT RowRect(int row) {
    RECT rect{};
    rect.left = LVIR_BOUNDS;
    SendMessageW(m_list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
    return rect;
  }

  // A rectangle of the list's client area in the captured window's coordinates.
  RECT InCapture(RECT clientRect) {
    POINT origin{0, 0};
    ClientToScreen(m_list, &origin);
    RECT window{};
    GetWindowRect(m_list, &window);
    OffsetRect(&clientRect, origin.x - window.left, origin.y - window.top);
    return clientRect;
  }

  HWND m_host = nullptr;
  HWND m_list = nullptr;
  CListGrid m_grid;
};

TEST_F(ListGridTest, EmptyListShowsItsTextCentredAndTheHiddenColumnStaysHidden) {
  EXPECT_EQ(m_grid.EmptyText(), L"There are no items to show in this view.");
  EXPECT_EQ(SendMessageW(m_list, LVM_GETCOLUMNWIDTH, 0, 0), 0);
  EXPECT_FALSE(m_grid.IsColumnShown(0));
  EXPECT_FALSE(m_grid.SetColumnShown(0, true)) << "the hidden first column can never be shown";
  RedrawWindow(m_list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
  PumpMessages();

  const std::optional<Pixels> pixels = CapturePixels(m_list);
  ASSERT_TRUE(pixels);
  RECT client{}, header{};
  GetClientRect(m_list, &client);
  GetWindowRect(m_grid.Header(), &header);
  client.top += header.bottom - header.top;
  const RECT area = InCapture(client);
  const DWORD text = RgbOf(GetSysColor(COLOR_WINDOWTEXT));
  // The text's bounding box sits in the middle of the rows' area.
  int left = pixels->width, right = -1, top = pixels->height, bottom = -1;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      if (pixels->At(x, y) == text) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  ASSERT_GE(right, 0) << "no text drawn in the empty list";
  // Centred (Wine's DrawText lands a few pixels off exact; a left-aligned text would be far off).
  EXPECT_NEAR((left + right) / 2, (area.left + area.right) / 2, (area.right - area.left) / 20);
  EXPECT_NEAR((top + bottom) / 2, (area.top + area.bottom) / 2, 8);
  EXPECT_LT(bottom - top, 30) << "one line";
  SaveScreenshot(m_host, "grid-empty");

  AddRows({{L"Red", L"C:\\a.txt"}});
  RedrawWindow(m_list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
  PumpMessages();
  const std::optional<Pixels> filled = CapturePixels(m_list);
  ASSERT_TRUE(filled);
  const RECT middle = InCapture({client.left, (client.top + client.bottom) / 2 - 10, client.right, (client.top + client.bottom) / 2 + 10});
  EXPECT_EQ(filled->Count(text, middle), 0) << "the empty text is gone once a row exists";
}

TEST_F(ListGridTest, HeaderClicksSortWholeTextsAscendingThenDescendingAndMarkTheColumn) {
  // Long paths that share their first 300 characters must still sort by the rest.
  const std::wstring shared = L"C:\\" + std::wstring(300, L'x') + L"\\";
  AddRows({{L"Red", shared + L"b"}, {L"Green", L"C:\\a"}, {L"Blue", L"C:\\B"}, {L"Gray", shared + L"a"}});
  const LPARAM dataOfLongB = Data(0);

  ClickHeader(kPath);
  EXPECT_EQ(m_grid.SortColumn(), kPath);
  EXPECT_TRUE(m_grid.SortAscending());
  EXPECT_EQ(Column(kPath), (std::vector<std::wstring>{L"C:\\B", L"C:\\a", shared + L"a", shared + L"b"}));
  EXPECT_EQ(Column(kColor), (std::vector<std::wstring>{L"Blue", L"Green", L"Gray", L"Red"})) << "cells move with their rows";
  EXPECT_EQ(Data(3), dataOfLongB) << "item data moves with its row";

  ClickHeader(kPath);
  EXPECT_FALSE(m_grid.SortAscending());
  EXPECT_EQ(Column(kPath), (std::vector<std::wstring>{shared + L"b", shared + L"a", L"C:\\a", L"C:\\B"}));
  EXPECT_EQ(Data(0), dataOfLongB);

  ClickHeader(kColor);
  EXPECT_EQ(m_grid.SortColumn(), kColor);
  EXPECT_TRUE(m_grid.SortAscending());
  EXPECT_EQ(Column(kColor), (std::vector<std::wstring>{L"Blue", L"Gray", L"Green", L"Red"}));
  // Classic look (no visual styles under Wine): a bitmap on the sorted column only.
  EXPECT_TRUE(HeaderFormat(kColor) & HDF_BITMAP);
  EXPECT_FALSE(HeaderFormat(kPath) & (HDF_BITMAP | HDF_SORTUP | HDF_SORTDOWN));

  ClickHeader(0);
  EXPECT_EQ(m_grid.SortColumn(), kColor) << "the hidden column does not sort";
}

// EnumThreadWindows: the tooltip window of the list in context.first.
BOOL CALLBACK FindGridTooltip(HWND window, LPARAM context) {
  auto& found = *reinterpret_cast<std::pair<HWND, HWND>*>(context);
  if (testing::WindowClassOf(window) == TOOLTIPS_CLASSW && GetWindow(window, GW_OWNER) == GetAncestor(found.first, GA_ROOT) &&
      window != reinterpret_cast<HWND>(SendMessageW(found.first, LVM_GETTOOLTIPS, 0, 0)))
    found.second = window;
  return TRUE;
}

// The black triangle in a header item: its widest row above (descending)
// or below (ascending) its narrowest.
struct Arrow {
  int pixels = 0;
  int widthAtTop = 0;
  int widthAtBottom = 0;
};

Arrow ArrowIn(const Pixels& pixels, const RECT& item) {
  Arrow arrow;
  int firstRow = -1, lastRow = -1;
  std::vector<int> widths(static_cast<std::size_t>(pixels.height), 0);
  for (int y = item.top; y < item.bottom && y < pixels.height; ++y)
    for (int x = item.left; x < item.right && x < pixels.width; ++x)
      if (pixels.At(x, y) == 0) {
        ++arrow.pixels;
        ++widths[static_cast<std::size_t>(y)];
        if (firstRow < 0) firstRow = y;
        lastRow = y;
      }
  if (firstRow >= 0) {
    arrow.widthAtTop = widths[static_cast<std::size_t>(firstRow)];
    arrow.widthAtBottom = widths[static_cast<std::size_t>(lastRow)];
  }
  return arrow;
}

TEST_F(ListGridTest, SortArrowPointsTheWayOfTheSortInBothLooks) {
  AddRows({{L"Red", L"C:\\b"}, {L"Green", L"C:\\a"}});
  auto itemArea = [&](int column) {
    RECT item{};
    SendMessageW(m_grid.Header(), HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&item));
    // Only the part right of the heading text holds the arrow.
    item.left += 40;
    return item;
  };

  ClickHeader(kPath);
  RedrawWindow(m_grid.Header(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  PumpMessages();
  std::optional<Pixels> header = CapturePixels(m_grid.Header());
  ASSERT_TRUE(header);
  const Arrow up = ArrowIn(*header, itemArea(kPath));
  EXPECT_GT(up.pixels, 5) << "an arrow beside \"Path\"";
  EXPECT_LT(up.widthAtTop, up.widthAtBottom) << "ascending points up";
  EXPECT_EQ(ArrowIn(*header, itemArea(kColor)).pixels, 0);
  SaveScreenshot(m_host, "grid-sorted-ascending");

  ClickHeader(kPath);
  RedrawWindow(m_grid.Header(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  PumpMessages();
  header = CapturePixels(m_grid.Header());
  ASSERT_TRUE(header);
  const Arrow down = ArrowIn(*header, itemArea(kPath));
  EXPECT_GT(down.pixels, 5);
  EXPECT_GT(down.widthAtTop, down.widthAtBottom) << "descending points down";

  // With visual styles the header draws its own arrows from format flags.
  m_grid.UseVisualStyleForArrows(true);
  ClickHeader(kColor);
  EXPECT_EQ(HeaderFormat(kColor) & (HDF_SORTUP | HDF_SORTDOWN | HDF_BITMAP), HDF_SORTUP);
  EXPECT_EQ(HeaderFormat(kPath) & (HDF_SORTUP | HDF_SORTDOWN | HDF_BITMAP), 0);
  ClickHeader(kColor);
  EXPECT_EQ(HeaderFormat(kColor) & (HDF_SORTUP | HDF_SORTDOWN | HDF_BITMAP), HDF_SORTDOWN);
}

TEST_F(ListGridTest, OddRowsAreVioletUnlessSelected) {
  AddRows({{L"Red", L"C:\\Red item"}, {L"Orange", L"C:\\Orange item"}, {L"Yellow", L"C:\\Yellow item"},
           {L"Green", L"C:\\Green item"}});
  RedrawWindow(m_list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  PumpMessages();
  std::optional<Pixels> pixels = CapturePixels(m_list);
  ASSERT_TRUE(pixels);
  const DWORD violet = RgbOf(kViolet);
  EXPECT_EQ(pixels->Count(violet, InCapture(RowRect(0))), 0);
  EXPECT_GT(pixels->Count(violet, InCapture(RowRect(1))), 20);
  EXPECT_EQ(pixels->Count(violet, InCapture(RowRect(2))), 0);
  EXPECT_GT(pixels->Count(violet, InCapture(RowRect(3))), 20);
  SaveScreenshot(m_host, "grid-rows");

  Select({1});
  RedrawWindow(m_list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  PumpMessages();
  pixels = CapturePixels(m_list);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(pixels->Count(violet, InCapture(RowRect(1))), 0) << "a selected row shows the selection colours";
  EXPECT_GT(pixels->Count(violet, InCapture(RowRect(3))), 20);
}

TEST_F(ListGridTest, CtrlCCopiesVisibleColumnsOrTheFocusCell) {
  AddRows({{L"Red", L"C:\\a.txt"}, {L"", L"C:\\b.txt"}, {L"Green", L"D:\\Work\\Plan"}});
  Select({0, 1, 2});
  {
    HeldKey control(VK_CONTROL);
    Key('C');
  }
  // The hidden first column (the label numbers) is not copied; the empty cell keeps its field.
  EXPECT_EQ(ClipboardText(), L"Color\tPath\r\nRed\tC:\\a.txt\r\n\tC:\\b.txt\r\nGreen\tD:\\Work\\Plan");

  ClickCell(2, kPath);
  ASSERT_EQ(m_grid.FocusCell(), kPath);
  ASSERT_EQ(SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0), 1);
  {
    HeldKey control(VK_CONTROL);
    Key('C');
  }
  EXPECT_EQ(ClipboardText(), L"D:\\Work\\Plan") << "one selected row with a focus cell: that cell";

  Select({});
  OpenClipboard(nullptr);
  EmptyClipboard();
  CloseClipboard();
  {
    HeldKey control(VK_CONTROL);
    Key('C');
  }
  EXPECT_EQ(ClipboardText(), L"") << "nothing selected, nothing copied";

  {
    HeldKey control(VK_CONTROL);
    Key('A');
  }
  EXPECT_EQ(SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0), 3) << "Ctrl+A selects every row";
}

TEST_F(ListGridTest, ArrowKeysMoveTheFocusCellOverVisibleColumns) {
  Key(VK_RIGHT);
  EXPECT_EQ(m_grid.FocusCell(), -1) << "an empty list has no focus cell";
  AddRows({{L"Red", L"C:\\a"}, {L"Green", L"C:\\b"}});
  Select({0});
  const std::vector<std::pair<UINT, int>> steps = {
      {VK_RIGHT, kColor}, {VK_RIGHT, kPath}, {VK_RIGHT, kPath}, {VK_LEFT, kColor}, {VK_LEFT, -1}, {VK_LEFT, -1}};
  for (const auto& [key, expected] : steps) {
    Key(key);
    EXPECT_EQ(m_grid.FocusCell(), expected) << (key == VK_RIGHT ? "right" : "left");
  }
  ASSERT_TRUE(m_grid.SetColumnShown(kColor, false));
  Key(VK_RIGHT);
  EXPECT_EQ(m_grid.FocusCell(), kPath) << "a hidden column is passed over";
  Key(VK_LEFT);
  EXPECT_EQ(m_grid.FocusCell(), -1);
}

TEST_F(ListGridTest, TypingInAFocusCellColumnFindsTheNextMatchingRow) {
  AddRows({{L"Red", L"1"}, {L"Rose", L"2"}, {L"Green", L"3"}, {L"Blue", L"4"}});
  Select({0});
  Key(VK_RIGHT);
  ASSERT_EQ(m_grid.FocusCell(), kColor);
  auto focused = [&] { return static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)); };

  Type(L'g');
  EXPECT_EQ(focused(), 2);
  EXPECT_EQ(SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0), 1) << "the match is the only selected row";
  Type(L'r');  // "gr" still "Green"
  EXPECT_EQ(focused(), 2);
  Sleep(2100);  // a pause starts a new search
  Type(L'R');
  EXPECT_EQ(focused(), 0) << "from the row after the focused one, wrapping to the top";
  Type(L'R');
  EXPECT_EQ(focused(), 1) << "the same key again steps to the next match";
  Type(L'o');
  EXPECT_EQ(focused(), 1) << "\"ro\" is Rose";
}

TEST_F(ListGridTest, EachCellIsItsOwnToolWithTextCutTo79Characters) {
  const std::wstring longPath = L"C:\\" + std::wstring(120, L'p');
  AddRows({{L"Red", longPath}, {L"", L"C:\\short"}});
  // The grid's tooltip window: owned by the list's top-level window (the
  // system makes the owner of a pop-up a top-level window), not the list view's own.
  std::pair<HWND, HWND> search{m_list, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), &FindGridTooltip, reinterpret_cast<LPARAM>(&search));
  const HWND tooltip = search.second;
  ASSERT_NE(tooltip, nullptr);

  auto hover = [&](int row, int column) {
    RECT cell{};
    cell.top = column;
    cell.left = LVIR_BOUNDS;
    SendMessageW(m_list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
    SendMessageW(m_list, WM_MOUSEMOVE, 0, MAKELPARAM(cell.left + 10, (cell.top + cell.bottom) / 2));
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    if (SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0) != 1 || !SendMessageW(tooltip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&tool)))
      return -1;
    return static_cast<int>(tool.uId);
  };
  auto tipText = [&](int toolId) {
    NMTTDISPINFOW info{};
    info.hdr.hwndFrom = tooltip;
    info.hdr.idFrom = static_cast<UINT_PTR>(toolId);
    info.hdr.code = TTN_GETDISPINFOW;
    SendMessageW(m_list, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    return std::wstring(info.lpszText ? info.lpszText : L"");
  };

  EXPECT_EQ(hover(0, kPath), 0 * 1000 + kPath);
  EXPECT_EQ(tipText(0 * 1000 + kPath), longPath.substr(0, 79));
  EXPECT_EQ(hover(1, kPath), 1 * 1000 + kPath);
  EXPECT_EQ(tipText(1 * 1000 + kPath), L"C:\\short");
  EXPECT_EQ(hover(1, kColor), -1) << "an empty cell has no tooltip";
}

// The header menu runs a modal loop; this timer callback runs inside it,
// reads the menu and chooses an entry by keys, as a user would.
struct MenuVisit {
  std::vector<std::pair<std::wstring, bool>> entries;  // heading, checked
  int downPresses = 0;
};
MenuVisit* g_menuVisit = nullptr;

void CALLBACK VisitMenu(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND menuWindow = FindWindowW(L"#32768", nullptr);
  if (!menuWindow) return;
  const auto menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
  for (int index = 0; menu && index < GetMenuItemCount(menu); ++index) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, static_cast<UINT>(index), text, 128, MF_BYPOSITION);
    g_menuVisit->entries.emplace_back(text, (GetMenuState(menu, static_cast<UINT>(index), MF_BYPOSITION) & MF_CHECKED) != 0);
  }
  for (int press = 0; press < g_menuVisit->downPresses; ++press) PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menuWindow, WM_KEYDOWN, g_menuVisit->downPresses ? VK_RETURN : VK_ESCAPE, 0);
}

TEST_F(ListGridTest, HeaderMenuHidesAColumnAndShowingItRestoresWidthAndPlace) {
  AddRows({{L"Red", L"C:\\a"}});
  SendMessageW(m_list, LVM_SETCOLUMNWIDTH, kPath, 333);
  auto openHeaderMenu = [&](int downPresses) {
    MenuVisit visit;
    visit.downPresses = downPresses;
    g_menuVisit = &visit;
    SetTimer(nullptr, 0, 300, &VisitMenu);
    RECT header{};
    GetWindowRect(m_grid.Header(), &header);
    SendMessageW(m_list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_grid.Header()),
                 MAKELPARAM(header.left + 150, (header.top + header.bottom) / 2));
    g_menuVisit = nullptr;
    PumpMessages();
    return visit.entries;
  };
  using Entries = std::vector<std::pair<std::wstring, bool>>;

  EXPECT_EQ(openHeaderMenu(2), (Entries{{L"Color", true}, {L"Path", true}})) << "never the hidden first column";
  EXPECT_FALSE(m_grid.IsColumnShown(kPath));
  EXPECT_EQ(SendMessageW(m_list, LVM_GETCOLUMNWIDTH, kPath, 0), 0);
  EXPECT_EQ(m_grid.DisplayOrder().front(), kPath) << "a hidden column stands in front";

  EXPECT_EQ(openHeaderMenu(2), (Entries{{L"Color", true}, {L"Path", false}}));
  EXPECT_TRUE(m_grid.IsColumnShown(kPath));
  EXPECT_EQ(SendMessageW(m_list, LVM_GETCOLUMNWIDTH, kPath, 0), 333);
  EXPECT_EQ(m_grid.DisplayOrder(), (std::vector<int>{0, kColor, kPath}));

  EXPECT_EQ(openHeaderMenu(0), (Entries{{L"Color", true}, {L"Path", true}})) << "Esc changes nothing";
  EXPECT_TRUE(m_grid.IsColumnShown(kPath));

  // A context menu over the rows shows nothing.
  RECT row = RowRect(0);
  POINT inRow{row.left + 50, (row.top + row.bottom) / 2};
  ClientToScreen(m_list, &inRow);
  testing::CloseMenuAfter(300);
  SendMessageW(m_list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_list), MAKELPARAM(inRow.x, inRow.y));
  HWND popup = FindWindowW(L"#32768", nullptr);
  EXPECT_TRUE(!popup || !IsWindowVisible(popup));
}

TEST_F(ListGridTest, HiddenColumnsCannotBeResized) {
  AddRows({{L"Red", L"C:\\a"}});
  NMHEADERW track{};
  track.hdr.hwndFrom = m_grid.Header();
  track.hdr.code = HDN_BEGINTRACKW;
  track.iItem = 0;
  EXPECT_EQ(SendMessageW(m_list, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&track)), TRUE) << "column 0 refuses a drag";
  track.iItem = kPath;
  EXPECT_EQ(SendMessageW(m_list, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&track)), FALSE);

  HDITEMW width{};
  width.mask = HDI_WIDTH;
  width.cxy = 80;
  SendMessageW(m_grid.Header(), HDM_SETITEMW, 0, reinterpret_cast<LPARAM>(&width));
  EXPECT_EQ(SendMessageW(m_list, LVM_GETCOLUMNWIDTH, 0, 0), 0) << "a width change of the hidden column is ignored";
}

// An owner-data list: rows from a source the test keeps, in a window that
// is never shown, so that only the grid reads the source (no painting).
class OwnerDataGridTest : public ::testing::Test {
 protected:
  class Source final : public CItemSource {
   public:
    std::wstring ItemText(std::size_t item, int column) const override {
      ++reads;
      if (column == 0) return std::to_wstring(item);
      return column == kColor ? items[item].color : items[item].path;
    }
    int ItemImage(std::size_t, int column) const override { return column == kColor ? 3 : -1; }
    std::vector<Row> items;
    mutable int reads = 0;
  };

  void SetUp() override {
    testing::TestDesktopName();
    m_host = CreateWindowExW(0, WC_STATICW, L"Grid", WS_OVERLAPPEDWINDOW, 20, 20, 720, 360, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(m_host, nullptr);
    const HWND plain = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 700, 300, m_host,
                                       reinterpret_cast<HMENU>(1000), GetModuleHandleW(nullptr), nullptr);
    m_list = CListGrid::RecreateAsOwnerData(plain);
    ASSERT_NE(m_list, nullptr);
    EXPECT_FALSE(IsWindow(plain));
    EXPECT_EQ(GetDlgCtrlID(m_list), 1000);
    ASSERT_TRUE(GetWindowLongPtrW(m_list, GWL_STYLE) & LVS_OWNERDATA);
    ASSERT_TRUE(m_grid.Attach(m_list));
    m_grid.AddHiddenFirstColumn();
    m_grid.InsertColumn(kColor, L"Color", LVCFMT_LEFT, 100);
    m_grid.InsertColumn(kPath, L"Path", LVCFMT_LEFT, 500);
    m_source.items = {{L"Red", L"C:\\d"}, {L"Blue", L"C:\\B"}, {L"Gray", L"C:\\a"}, {L"Green", L"C:\\c"}};
    m_grid.SetItemSource(&m_source);
  }
  void TearDown() override {
    if (m_host) DestroyWindow(m_host);
  }

  // As the list view reports them to anyone, through its own messages.
  std::vector<std::wstring> Paths() {
    std::vector<std::wstring> paths;
    const auto count = static_cast<int>(SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
      wchar_t text[64] = {};
      LVITEMW item{};
      item.iSubItem = kPath;
      item.pszText = text;
      item.cchTextMax = 64;
      SendMessageW(m_list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
      paths.push_back(text);
    }
    return paths;
  }
  std::vector<int> SelectedRows() {
    std::vector<int> rows;
    for (int row = -1; (row = static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0;)
      rows.push_back(row);
    return rows;
  }
  void SetState(int row, UINT state) {
    LVITEMW item{};
    item.state = item.stateMask = state;
    SendMessageW(m_list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
  }

  HWND m_host = nullptr;
  HWND m_list = nullptr;
  Source m_source;
  CListGrid m_grid;
};

TEST_F(OwnerDataGridTest, SortsItsOwnRowsReadingEachCellOnceAndSelectionFollowsTheItems) {
  m_grid.AppendItems({0, 1});
  m_grid.AppendItems({2, 3});
  ASSERT_EQ(Paths(), (std::vector<std::wstring>{L"C:\\d", L"C:\\B", L"C:\\a", L"C:\\c"})) << "in the order appended";
  LVITEMW image{};
  image.mask = LVIF_IMAGE;
  image.iItem = 1;
  image.iSubItem = kColor;
  ASSERT_TRUE(SendMessageW(m_list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&image)));
  EXPECT_EQ(image.iImage, 3);

  SetState(1, LVIS_SELECTED | LVIS_FOCUSED);  // C:\B
  SetState(3, LVIS_SELECTED);                 // C:\c
  struct Case {
    bool ascending;
    std::vector<std::wstring> paths;
    std::vector<int> selected;
    int focused;
  } const cases[] = {
      {true, {L"C:\\B", L"C:\\a", L"C:\\c", L"C:\\d"}, {0, 2}, 0},
      {false, {L"C:\\d", L"C:\\c", L"C:\\a", L"C:\\B"}, {1, 3}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ascending ? "ascending" : "descending");
    m_source.reads = 0;
    m_grid.SetSort(kPath, c.ascending);
    EXPECT_EQ(m_source.reads, 4) << "each cell read once per sort";
    EXPECT_EQ(Paths(), c.paths);
    EXPECT_EQ(SelectedRows(), c.selected);
    EXPECT_EQ(m_grid.FocusedRow(), c.focused);
  }
  // Rows that come later join unsorted until the next sort.
  m_source.items.push_back({L"Blue", L"C:\\A"});
  m_grid.AppendItems({4});
  EXPECT_EQ(Paths().back(), L"C:\\A");
  m_grid.SortAgain();
  EXPECT_EQ(Paths().back(), L"C:\\A") << "descending, \"A\" before \"B\" by unit";
  EXPECT_EQ(Paths().front(), L"C:\\d");
}

TEST_F(OwnerDataGridTest, DeleteRowClearItemsAndCopyWorkOnTheSourcesRows) {
  m_grid.AppendItems({0, 1, 2, 3});
  m_grid.DeleteRow(1);
  EXPECT_EQ(Paths(), (std::vector<std::wstring>{L"C:\\d", L"C:\\a", L"C:\\c"}));
  EXPECT_EQ(m_grid.ItemOfRow(1), 2u);
  SetState(0, LVIS_SELECTED);
  SetState(2, LVIS_SELECTED);
  ASSERT_TRUE(m_grid.CopySelectionToClipboard());
  EXPECT_EQ(ClipboardText(), L"Color\tPath\r\nRed\tC:\\d\r\nGreen\tC:\\c");
  m_grid.ClearItems();
  EXPECT_EQ(SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_EQ(m_grid.ItemText(0, kPath), L"");
}

}  // namespace
}  // namespace pelko
