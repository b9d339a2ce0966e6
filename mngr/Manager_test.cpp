// The real PelkoLabelMngr.exe, installed in a prefix of its own and started
// on the test desktop: its windows are found by class and title and read
// through messages; what it would open goes to its ".shell" observer file.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "ManagerTestSupport.h"
#include "ServiceTestSupport.h"
#include "TestDiagnostics.h"
#include "WineTestSupport.h"

namespace pelko::testing {
namespace {

std::wstring WithoutAccessKeys(std::wstring text) {
  std::erase(text, L'&');
  return text;
}

std::wstring StatusText(HWND status) {
  RemoteBuffer buffer(status, 1024);
  const auto length = static_cast<std::size_t>(LOWORD(SendMessageW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(buffer.Address()))));
  std::wstring text(std::min<std::size_t>(length, 500), L'\0');
  buffer.Read(text.data(), text.size() * sizeof(wchar_t));
  return text;
}

std::wstring TabText(HWND tabs, int index) {
  RemoteBuffer buffer(tabs, sizeof(TCITEMW) + 256 * sizeof(wchar_t));
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(buffer.Address()) + sizeof(TCITEMW));
  item.cchTextMax = 256;
  buffer.Write(&item, sizeof(item));
  if (!SendMessageW(tabs, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(buffer.Address()))) return {};
  wchar_t text[256] = {};
  buffer.Read(text, sizeof(text) - sizeof(wchar_t), sizeof(TCITEMW));
  return text;
}

// A popup menu of processId on the test desktop, if one shows.
bool MenuShownBy(DWORD processId) {
  for (HWND window : TopLevelWindowsOf(processId))
    if (WindowClassOf(window) == L"#32768") return true;
  return false;
}

int PixelsOfColor(HWND window, COLORREF color) {
  const std::optional<Pixels> pixels = CapturePixels(window);
  return pixels ? pixels->Count(RgbOf(color), {0, 0, pixels->width, pixels->height}) : 0;
}

// The ribbon's panel background, as drawn.
int RibbonPixels(HWND frame) {
  return PixelsOfColor(FindWindowExW(frame, nullptr, L"Norvane.PelkoLabels.Ribbon", nullptr), RGB(248, 249, 250));
}

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestDesktopName();
    ASSERT_TRUE(InstallManager());
  }

  static StartedProgram Start(const std::wstring& arguments = {}) { return StartManager(arguments); }
};

TEST_F(ManagerTest, MainWindowShowsRibbonEmptyGridAndStatusHint) {
  StartedProgram manager;
  const HWND frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  const ManagerWindows parts = FindParts(frame);
  ASSERT_NE(parts.ribbon, nullptr);
  ASSERT_EQ(parts.toolbars.size(), 2u) << "two panels";
  ASSERT_NE(parts.tabs, nullptr);
  ASSERT_NE(parts.status, nullptr);
  ASSERT_NE(parts.list, nullptr);

  EXPECT_EQ(SendMessageW(parts.tabs, TCM_GETITEMCOUNT, 0, 0), 1);
  EXPECT_EQ(TabText(parts.tabs, 0), L"&Home");
  std::vector<std::wstring> captions;
  for (HWND caption : parts.captions) captions.push_back(WindowTextOf(caption));
  EXPECT_EQ(captions, (std::vector<std::wstring>{L"Basic", L"Click this button to refresh the list"}));

  struct Expected {
    int panel;
    UINT command;
    const wchar_t* text;
  };
  const Expected buttons[] = {{0, kIdOpen, L"Open"},       {0, kIdClear, L"Clear Label"}, {0, kIdCustomize, L"Customize Label"},
                              {0, kIdFeedback, L"User Feedback"}, {0, kIdHelp, L"Help"}, {0, kIdAbout, L"About"},
                              {1, kIdRefresh, L"Refresh List"}};
  for (const Expected& button : buttons) {
    const HWND toolbar = parts.toolbars[static_cast<std::size_t>(button.panel)];
    EXPECT_GE(SendMessageW(toolbar, TB_COMMANDTOINDEX, button.command, 0), 0) << button.text;
    EXPECT_EQ(WithoutAccessKeys(ToolbarButtonText(toolbar, static_cast<int>(button.command))), button.text);
  }
  // Seven buttons and two separators in the first panel, one button in the second.
  EXPECT_EQ(SendMessageW(parts.toolbars[0], TB_BUTTONCOUNT, 0, 0), 8);
  EXPECT_EQ(SendMessageW(parts.toolbars[1], TB_BUTTONCOUNT, 0, 0), 1);
  // With nothing selected there is nothing to open or clear.
  EXPECT_FALSE(SendMessageW(parts.toolbars[0], TB_ISBUTTONENABLED, kIdOpen, 0));
  EXPECT_FALSE(SendMessageW(parts.toolbars[0], TB_ISBUTTONENABLED, kIdClear, 0));
  EXPECT_TRUE(SendMessageW(parts.toolbars[0], TB_ISBUTTONENABLED, kIdAbout, 0));
  EXPECT_TRUE(SendMessageW(parts.toolbars[1], TB_ISBUTTONENABLED, kIdRefresh, 0));

  EXPECT_EQ(StatusText(parts.status), L"Suggest to constantly refresh the above list to get the latest data.");

  const auto header = reinterpret_cast<HWND>(SendMessageW(parts.list, LVM_GETHEADER, 0, 0));
  EXPECT_EQ(SendMessageW(parts.list, LVM_GETITEMCOUNT, 0, 0), 0);
  ASSERT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(HeaderItemText(header, 0), L"");
  EXPECT_EQ(HeaderItemText(header, 1), L"Color");
  EXPECT_EQ(HeaderItemText(header, 2), L"Path");
  EXPECT_EQ(SendMessageW(parts.list, LVM_GETCOLUMNWIDTH, 0, 0), 0) << "the first column is hidden";

  EXPECT_TRUE(WaitUntil(5000, [&] { return RibbonPixels(frame) > 10000; })) << "the ribbon is drawn in its panel colour";
  EXPECT_FALSE(SaveScreenshot(frame, "manager-main-100").empty());
  EXPECT_EQ(WindowTextOf(frame), kTitle);
  EXPECT_EQ(Close(frame, manager), 0u);
}

TEST_F(ManagerTest, RightClickOnTheRibbonShowsNothingAndTheTitleStays) {
  StartedProgram manager;
  const HWND frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  const ManagerWindows parts = FindParts(frame);
  ASSERT_EQ(parts.toolbars.size(), 2u);
  for (HWND target : {parts.ribbon, parts.toolbars[0], parts.toolbars[1], parts.tabs}) {
    RECT area{};
    GetClientRect(target, &area);
    const LPARAM at = MAKELPARAM(area.right / 2, area.bottom / 2);
    PostMessageW(target, WM_RBUTTONDOWN, MK_RBUTTON, at);
    PostMessageW(target, WM_RBUTTONUP, 0, at);
    POINT screen{area.right / 2, area.bottom / 2};
    ClientToScreen(target, &screen);
    PostMessageW(target, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(target), MAKELPARAM(screen.x, screen.y));
  }
  // Give a menu time to appear, were there one.
  EXPECT_FALSE(WaitUntil(1500, [&] { return MenuShownBy(manager.ProcessId()); }));
  // Commands and a size change do not rename the window.
  SendMessageW(frame, WM_COMMAND, kIdRefresh, 0);
  SetWindowPos(frame, nullptr, 0, 0, 700, 500, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(WindowTextOf(frame), kTitle);
  EXPECT_EQ(Close(frame, manager), 0u);
}

TEST_F(ManagerTest, SecondStartBringsTheFirstForwardAndEnds) {
  StartedProgram first;
  const HWND frame = StartMain(first);
  ASSERT_NE(frame, nullptr);
  PostMessageW(frame, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil(5000, [&] { return IsIconic(frame) != FALSE; }));

  for (const wchar_t* arguments : {L"", L"About About"}) {
    SCOPED_TRACE(arguments);
    // The shell extension's "About About": the running manager comes forward, no About box.
    StartedProgram second = Start(arguments);
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.WaitForExit(15000), 0u);
    EXPECT_TRUE(WaitUntil(5000, [&] { return !IsIconic(frame); })) << "the first manager is restored";
    EXPECT_TRUE(IsWindowVisible(frame));
    EXPECT_EQ(TopLevelWindowsOf(second.ProcessId()).size(), 0u);
    EXPECT_EQ(WaitForTopLevelWindow(L"#32770", L"About", 0, 500), nullptr);
    PostMessageW(frame, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitUntil(5000, [&] { return IsIconic(frame) != FALSE; }));
  }
  EXPECT_EQ(Close(frame, first), 0u);
}

TEST_F(ManagerTest, WindowTitledLikeTheManagerIsNotMistakenForIt) {
  // An Explorer window on the install folder has the same title; the
  // second start must find the manager by its class.
  StartedProgram manager;
  const HWND frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  WNDCLASSW impostorClass{};
  impostorClass.lpfnWndProc = DefWindowProcW;
  impostorClass.hInstance = GetModuleHandleW(nullptr);
  impostorClass.lpszClassName = L"CabinetWClass";
  RegisterClassW(&impostorClass);
  HWND impostor = CreateWindowExW(0, L"CabinetWClass", kTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(impostor, nullptr);
  PostMessageW(frame, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil(5000, [&] { return IsIconic(frame) != FALSE; }));
  StartedProgram second = Start();
  // This thread must answer the manager's search meanwhile.
  std::optional<DWORD> ended;
  WaitUntil(15000, [&] {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    ended = second.WaitForExit(0);
    return ended.has_value();
  });
  EXPECT_EQ(ended, 0u);
  EXPECT_TRUE(WaitUntil(5000, [&] { return !IsIconic(frame); }));
  DestroyWindow(impostor);
  EXPECT_EQ(Close(frame, manager), 0u);
}

TEST_F(ManagerTest, AboutCommandLinesShowOnlyTheAboutBoxAndEndAfterOk) {
  bool screenshotTaken = false;
  for (const wchar_t* arguments : {L"About", L"/about", L"-ABOUT"}) {
    SCOPED_TRACE(arguments);
    StartedProgram manager = Start(arguments);
    ASSERT_TRUE(manager.Started());
    const HWND about = WaitForTopLevelWindow(L"#32770", L"About", manager.ProcessId(), kWindowBoundMs);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(FindWindowW(kFrameClass, nullptr), nullptr) << "no main window";
    const HWND ok = GetDlgItem(about, IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(WindowTextOf(ok), L"OK");
    EXPECT_EQ(WindowTextOf(GetDlgItem(about, 1002)), L"Check product updates");
    // Once painted, the link is drawn in link blue.
    EXPECT_TRUE(WaitUntil(5000, [&] { return PixelsOfColor(GetDlgItem(about, 1002), RGB(0, 102, 204)) > 30; }));
    if (!screenshotTaken) screenshotTaken = !SaveScreenshot(about, "about-dialog-100").empty();
    PostMessageW(ok, BM_CLICK, 0, 0);
    EXPECT_EQ(manager.WaitForExit(15000), 0u);
  }

  // The shell extension's own command line: program name "About", argument "About".
  StartedProgram fromExtension = StartOnTestDesktop(L"About About", kInstalledManager);
  const HWND about = WaitForTopLevelWindow(L"#32770", L"About", fromExtension.ProcessId(), kWindowBoundMs);
  ASSERT_NE(about, nullptr);
  PostMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(fromExtension.WaitForExit(15000), 0u);
}

TEST_F(ManagerTest, OtherCommandLinesStartNormally) {
  struct Case {
    const wchar_t* commandLine;
    const wchar_t* applicationName;
  };
  const std::wstring quoted = Quoted(kInstalledManager);
  // "ManageLabels" as the only token, as the shell extension passes it.
  const std::wstring lines[] = {L"ManageLabels", quoted + L" --about", quoted + L" About now", quoted + L" Aboutx"};
  for (std::size_t index = 0; index < std::size(lines); ++index) {
    SCOPED_TRACE(lines[index]);
    StartedProgram manager = StartOnTestDesktop(lines[index], index == 0 ? kInstalledManager : nullptr);
    const HWND frame = WaitForTopLevelWindow(kFrameClass, kTitle, manager.ProcessId(), kWindowBoundMs);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(WaitForTopLevelWindow(L"#32770", L"About", manager.ProcessId(), 300), nullptr);
    EXPECT_EQ(Close(frame, manager), 0u);
  }
}

TEST_F(ManagerTest, HelpFeedbackAndTheWebSiteGoToTheShell) {
  StartedProgram manager;
  const HWND frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  const std::string folder = "C:\\Program Files\\Norvane\\Pelko Labels";
  SendMessageW(frame, WM_COMMAND, kIdHelp, 0);
  SendMessageW(frame, WM_COMMAND, kIdFeedback, 0);
  PostMessageW(frame, WM_COMMAND, kIdAbout, 0);
  const HWND about = WaitForTopLevelWindow(L"#32770", L"About", manager.ProcessId(), kWindowBoundMs);
  ASSERT_NE(about, nullptr);
  PostMessageW(GetDlgItem(about, 1002), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitUntil(5000, [] { return Observed(L".shell").size() >= 3; }));
  EXPECT_EQ(Observed(L".shell"), (std::vector<std::string>{"[] " + folder + "\\PelkoLabels.htm",
                                                            "[] mailto:support@norvane.com",
                                                            "[] https://www.norvane.com/pelko-labels/"}));
  PostMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitUntil(5000, [&] { return !IsWindow(about); }));
  EXPECT_EQ(WindowTextOf(frame), kTitle);
  EXPECT_EQ(Close(frame, manager), 0u);
}

TEST_F(ManagerTest, HelpWithoutItsDocumentReportsNothing) {
  // The real shell this time: no observer file, and no PelkoLabels.htm.
  ASSERT_TRUE(DeleteFileW((std::wstring(kInstalledManager) + L".shell").c_str()));
  ASSERT_TRUE(DeleteFileW((std::wstring(kInstallFolder) + L"\\PelkoLabels.htm").c_str()));
  StartedProgram manager;
  const HWND frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  PostMessageW(frame, WM_COMMAND, kIdHelp, 0);
  // Nothing but the main window shows up, and no message box was asked for.
  EXPECT_FALSE(WaitUntil(3000, [&] { return TopLevelWindowsOf(manager.ProcessId()).size() > 1; }));
  EXPECT_TRUE(Observed(L".messages").empty() || Observed(L".messages") == std::vector<std::string>{""});
  EXPECT_EQ(Close(frame, manager), 0u);
}

TEST_F(ManagerTest, PlacementIsRememberedUnlessItLiesOffEveryMonitor) {
  StartedProgram manager;
  HWND frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  SetWindowPos(frame, nullptr, 120, 90, 760, 540, SWP_NOZORDER);
  RECT placed{};
  GetWindowRect(frame, &placed);
  ASSERT_EQ(Close(frame, manager), 0u);

  frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  RECT again{};
  GetWindowRect(frame, &again);
  EXPECT_EQ(again.left, placed.left);
  EXPECT_EQ(again.top, placed.top);
  EXPECT_EQ(again.right - again.left, placed.right - placed.left);
  EXPECT_EQ(again.bottom - again.top, placed.bottom - placed.top);
  ASSERT_EQ(Close(frame, manager), 0u);

  // A placement saved on a monitor that is gone.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Norvane\\Pelko Labels\\Manager", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  WINDOWPLACEMENT placement{};
  DWORD size = sizeof(placement);
  ASSERT_EQ(RegQueryValueExW(key, L"WindowPlacement", nullptr, nullptr, reinterpret_cast<BYTE*>(&placement), &size), ERROR_SUCCESS);
  OffsetRect(&placement.rcNormalPosition, 6000, 4000);
  RegSetValueExW(key, L"WindowPlacement", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&placement), sizeof(placement));
  RegCloseKey(key);
  frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  RECT shown{};
  GetWindowRect(frame, &shown);
  EXPECT_LT(shown.left, 1280) << "the window is on the desktop";
  EXPECT_LT(shown.top, 900);
  ASSERT_EQ(Close(frame, manager), 0u);
}

TEST_F(ManagerTest, At200PercentTheRibbonAndTheAboutBoxScale) {
  // Twice the pixels per inch, for programs started from now on.
  for (const wchar_t* keyName : {L"Control Panel\\Desktop"}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyName, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
    const DWORD dpi = 192;
    RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
    RegCloseKey(key);
  }
  StartedProgram manager;
  const HWND frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  const ManagerWindows parts = FindParts(frame);
  ASSERT_EQ(parts.toolbars.size(), 2u);
  RemoteBuffer rect(parts.toolbars[0], sizeof(RECT));
  ASSERT_TRUE(SendMessageW(parts.toolbars[0], TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(rect.Address())));
  RECT button{};
  rect.Read(&button, sizeof(button));
  EXPECT_GE(button.bottom - button.top, 64 + 20) << "64-pixel pictures with their text below";
  EXPECT_FALSE(SendMessageW(parts.toolbars[0], TB_ISBUTTONENABLED, kIdOpen, 0));
  EXPECT_TRUE(WaitUntil(5000, [&] { return RibbonPixels(frame) > 4 * 10000; }));
  EXPECT_FALSE(SaveScreenshot(frame, "manager-main-200").empty());

  PostMessageW(frame, WM_COMMAND, kIdAbout, 0);
  const HWND about = WaitForTopLevelWindow(L"#32770", L"About", manager.ProcessId(), kWindowBoundMs);
  ASSERT_NE(about, nullptr);
  RECT client{};
  GetClientRect(about, &client);
  EXPECT_EQ(client.right, 720) << "the banner at twice its size spans the dialog";
  EXPECT_FALSE(SaveScreenshot(about, "about-dialog-200").empty());
  PostMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitUntil(5000, [&] { return !IsWindow(about); }));
  EXPECT_EQ(Close(frame, manager), 0u);
}

}  // namespace
}  // namespace pelko::testing
