// The ribbon in a window of this process: its tooltips (a bold title over a
// description) and its keyboard (Alt, access keys, arrows across panels,
// Enter, Esc), driven by the messages the keyboard sends.

#include "MyRibbon.h"

#include <gtest/gtest.h>

#include <vector>

#include "GuiTestSupport.h"
#include "TestDiagnostics.h"

namespace pelko {
namespace {

constexpr UINT kOpen = 101, kClear = 102, kHelp = 103, kRefresh = 104;

std::vector<UINT> g_commands;
std::wstring g_lastTitle;

// Sees the titles the ribbon gives the tooltip (Wine has no TTM_GETTITLE).
LRESULT CALLBACK TitleSpy(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (message == TTM_SETTITLEW) g_lastTitle = lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"";
  return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) != 0) {  // not the edit box's notices
    g_commands.push_back(LOWORD(wParam));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void PumpMessages(DWORD forMs = 50) {
  const ULONGLONG until = testing::TickNowMs() + forMs;
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(5);
  } while (testing::TickNowMs() < until);
}

class MyRibbonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestDesktopName();
    g_commands.clear();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"RibbonTestHost";
    RegisterClassW(&windowClass);
    m_frame = CreateWindowExW(0, L"RibbonTestHost", L"Ribbon", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 10, 10, 700, 300,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(m_frame, nullptr);
    // Something outside the ribbon to come back to.
    m_other = CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 200, 200, 24, m_frame, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(m_ribbon.Create(m_frame, GetModuleHandleW(nullptr), 96));
    m_ribbon.SetCategory(L"&Home");
    const int basic = m_ribbon.AddPanel(L"Basic");
    m_ribbon.AddButton(basic, kOpen, L"&Open", 0, L"Open", L"Open selected file or folder");
    m_ribbon.AddButton(basic, kClear, L"&Clear Label", 1, L"Clear", L"Clear label for selected item");
    m_ribbon.AddSeparator(basic);
    m_ribbon.AddButton(basic, kHelp, L"&Help", 2, L"Help label", L"");
    const int second = m_ribbon.AddPanel(L"Click this button to refresh the list");
    m_ribbon.AddButton(second, kRefresh, L"&Refresh List", 3, L"Refresh", L"Refresh list with the latest labels");
    m_ribbon.Layout(680);
    MoveWindow(m_ribbon.Window(), 0, 0, 680, m_ribbon.Height(), TRUE);
    ShowWindow(m_frame, SW_SHOW);
    SetFocus(m_other);
    PumpMessages();
  }
  void TearDown() override {
    if (m_frame) DestroyWindow(m_frame);
  }

  // A message as the queue would deliver it, through the ribbon's keyboard handling first.
  bool Deliver(UINT message, WPARAM wParam, LPARAM lParam = 0) {
    MSG msg{GetFocus(), message, wParam, lParam, 0, {}};
    const bool used = m_ribbon.PreTranslateMessage(msg);
    if (!used) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    PumpMessages(20);
    return used;
  }

  // The toolbar holding the keyboard focus and its hot button's command, or 0.
  UINT HotCommand() {
    const HWND focus = GetFocus();
    const int hot = static_cast<int>(SendMessageW(focus, TB_GETHOTITEM, 0, 0));
    if (hot < 0) return 0;
    TBBUTTON button{};
    SendMessageW(focus, TB_GETBUTTON, hot, reinterpret_cast<LPARAM>(&button));
    return static_cast<UINT>(button.idCommand);
  }

  HWND m_frame = nullptr;
  HWND m_other = nullptr;
  MyRibbon m_ribbon;
};

TEST_F(MyRibbonTest, TooltipsHaveATitleAndADescription) {
  const std::vector<HWND> toolbars = m_ribbon.FocusStops();
  ASSERT_EQ(toolbars.size(), 2u);
  const auto tooltip = reinterpret_cast<HWND>(SendMessageW(toolbars[0], TB_GETTOOLTIPS, 0, 0));
  ASSERT_NE(tooltip, nullptr);
  ASSERT_TRUE(SetWindowSubclass(tooltip, &TitleSpy, 1, 0));
  auto ask = [&](UINT command) {
    g_lastTitle = L"<none>";
    NMTTDISPINFOW info{};
    info.hdr.hwndFrom = tooltip;
    info.hdr.idFrom = command;
    info.hdr.code = TTN_GETDISPINFOW;
    SendMessageW(m_ribbon.Window(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    return std::pair<std::wstring, std::wstring>(g_lastTitle, info.lpszText ? info.lpszText : L"");
  };
  EXPECT_EQ(ask(kOpen), (std::pair<std::wstring, std::wstring>{L"Open", L"Open selected file or folder"}));
  EXPECT_EQ(ask(kClear), (std::pair<std::wstring, std::wstring>{L"Clear", L"Clear label for selected item"}));
  EXPECT_EQ(ask(kHelp), (std::pair<std::wstring, std::wstring>{L"", L"Help label"})) << "no description: the title alone";
  RemoveWindowSubclass(tooltip, &TitleSpy, 1);
}

TEST_F(MyRibbonTest, AltMovesIntoTheRibbonAndArrowsWalkEnabledButtonsAcrossPanels) {
  m_ribbon.EnableCommand(kClear, false);
  EXPECT_FALSE(Deliver(WM_SYSKEYDOWN, VK_MENU));
  EXPECT_TRUE(Deliver(WM_SYSKEYUP, VK_MENU)) << "Alt alone is the ribbon's, not the system menu's";
  EXPECT_EQ(HotCommand(), kOpen);
  EXPECT_TRUE(Deliver(WM_KEYDOWN, VK_RIGHT));
  EXPECT_EQ(HotCommand(), kHelp) << "the disabled button is passed over";
  EXPECT_TRUE(Deliver(WM_KEYDOWN, VK_RIGHT));
  EXPECT_EQ(HotCommand(), kRefresh) << "into the next panel";
  EXPECT_TRUE(Deliver(WM_KEYDOWN, VK_RIGHT));
  EXPECT_EQ(HotCommand(), kOpen) << "round to the first";
  EXPECT_TRUE(Deliver(WM_KEYDOWN, VK_LEFT));
  EXPECT_EQ(HotCommand(), kRefresh);
  EXPECT_TRUE(Deliver(WM_KEYDOWN, VK_RETURN));
  EXPECT_EQ(g_commands, std::vector<UINT>{kRefresh});
  EXPECT_EQ(GetFocus(), m_other) << "the focus goes back where it was";

  Deliver(WM_SYSKEYDOWN, VK_MENU);
  Deliver(WM_SYSKEYUP, VK_MENU);
  EXPECT_EQ(HotCommand(), kOpen);
  EXPECT_TRUE(Deliver(WM_KEYDOWN, VK_ESCAPE));
  EXPECT_EQ(GetFocus(), m_other);
  EXPECT_EQ(g_commands.size(), 1u) << "Esc carries out nothing";
}

TEST_F(MyRibbonTest, AccessKeysCarryOutEnabledCommandsOnly) {
  EXPECT_TRUE(Deliver(WM_SYSCHAR, L'h'));
  EXPECT_TRUE(Deliver(WM_SYSCHAR, L'R'));
  m_ribbon.EnableCommand(kClear, false);
  EXPECT_FALSE(m_ribbon.IsCommandEnabled(kClear));
  EXPECT_TRUE(Deliver(WM_SYSCHAR, L'c')) << "a known key, with nothing to do";
  EXPECT_FALSE(Deliver(WM_SYSCHAR, L'z'));
  EXPECT_EQ(g_commands, (std::vector<UINT>{kHelp, kRefresh}));

  // In the ribbon, the letter alone.
  Deliver(WM_SYSKEYDOWN, VK_MENU);
  Deliver(WM_SYSKEYUP, VK_MENU);
  EXPECT_TRUE(Deliver(WM_CHAR, L'o'));
  EXPECT_EQ(g_commands, (std::vector<UINT>{kHelp, kRefresh, kOpen}));
}

TEST_F(MyRibbonTest, RightClickShowsNoMenu) {
  const HWND toolbar = m_ribbon.FocusStops()[0];
  NMMOUSE click{};
  click.hdr.hwndFrom = toolbar;
  click.hdr.code = NM_RCLICK;
  EXPECT_EQ(SendMessageW(m_ribbon.Window(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click)), TRUE);
  testing::CloseMenuAfter(500);
  SendMessageW(toolbar, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(toolbar), MAKELPARAM(50, 50));
  SendMessageW(m_ribbon.Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_ribbon.Window()), MAKELPARAM(50, 50));
  bool menuSeen = false;
  testing::WaitUntil(700, [&] {
    PumpMessages(10);
    HWND menu = FindWindowW(L"#32768", nullptr);
    menuSeen = menuSeen || (menu && IsWindowVisible(menu));
    return false;
  });
  EXPECT_FALSE(menuSeen);
}

}  // namespace
}  // namespace pelko
