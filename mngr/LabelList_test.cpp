// The manager's label list, its Customize Labels dialog and its update
// check, with the real PelkoLabelMngr.exe against the real label service,
// each case in a prefix of its own. What the manager would open, show or
// ask the shell to redraw goes to its observer files.

#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "GuiTestSupport.h"
#include "ManagerTestSupport.h"
#include "ServiceTestSupport.h"
#include "TestDiagnostics.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"
#include "WorkerThread.h"

namespace pelko::testing {
namespace {

using Rows = std::vector<std::vector<std::wstring>>;

constexpr COLORREF kViolet = RGB(117, 63, 190);
constexpr int kComboId = 1020, kFirstIconId = 1008, kFirstNameId = 1014;
constexpr wchar_t kSchemes[] = L"C:\\Program Files\\Norvane\\Pelko Labels\\icons\\Schemes";

std::wstring ConfigValue(const wchar_t* section, const wchar_t* key) {
  wchar_t value[1024] = {};
  GetPrivateProfileStringW(section, key, L"<none>", value, 1024, kConfigFile);
  return value;
}

bool CreateFileWithText(const std::wstring& path) { return WriteWholeFile(path, "some text"); }

// The list's rows without the hidden column: label name and path.
Rows NamesAndPaths(HWND list) {
  Rows rows = ListViewRows(list, 3);
  for (auto& row : rows) row.erase(row.begin());
  return rows;
}

RECT RemoteRowRect(HWND list, int row) {
  RemoteBuffer buffer(list, sizeof(RECT));
  RECT rect{LVIR_BOUNDS, 0, 0, 0};
  buffer.Write(&rect, sizeof(rect));
  SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(buffer.Address()));
  buffer.Read(&rect, sizeof(rect));
  return rect;
}

bool ButtonEnabled(const ManagerWindows& parts, UINT command) {
  return SendMessageW(parts.toolbars[0], TB_ISBUTTONENABLED, command, 0) != 0;
}

// Lines of the ".messages" file, empty lines (of a text with line breaks) left out.
std::vector<std::string> Messages() {
  std::vector<std::string> lines = Observed(L".messages");
  std::erase(lines, std::string());
  return lines;
}

class LabelListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestDesktopName();
    ASSERT_TRUE(InstallServiceAndExtension());
    ASSERT_TRUE(StartTheService());
    ASSERT_TRUE(InstallManager());
    m_labels = CreateLabelUtilByProgId();
    ASSERT_TRUE(m_labels);
  }

  void Label(const std::wstring& path, ULONG label) { ASSERT_EQ(SetLabelOf(m_labels.get(), path, label), S_OK) << Utf8(path); }

  // Starts the manager and finds its parts; the list is filled by then.
  ManagerWindows Open(StartedProgram& manager) {
    const HWND frame = StartMain(manager);
    return frame ? FindParts(frame) : ManagerWindows{};
  }

  ComApartment m_apartment;
  com_ptr<ILabelUtil> m_labels;
};

TEST_F(LabelListTest, ShowsEveryExistingLabelledItemInTheServicesOrder) {
  ASSERT_TRUE(CreateFileWithText(L"C:\\A.txt") && CreateFileWithText(L"C:\\b.txt") && CreateFileWithText(L"C:\\odd.txt"));
  Label(L"C:\\A.txt", 1);
  Label(L"C:\\b.txt", 2);
  Label(L"C:\\gone.txt", 3);  // deleted while the service was not looking
  Label(L"C:\\odd.txt", 9);   // not one of the six

  StartedProgram manager;
  const ManagerWindows parts = Open(manager);
  ASSERT_NE(parts.list, nullptr);
  EXPECT_EQ(NamesAndPaths(parts.list), (Rows{{L"Red", L"C:\\A.txt"}, {L"Orange", L"C:\\b.txt"}, {L"Unknown", L"C:\\odd.txt"}}));
  EXPECT_EQ(ListViewText(parts.list, 0, 0), L"1") << "the hidden column holds the label value";
  // The Color cell's image is the label's icon; the program icon for others.
  EXPECT_EQ(ListViewImage(parts.list, 0, 1), 1);
  EXPECT_EQ(ListViewImage(parts.list, 1, 1), 2);
  EXPECT_EQ(ListViewImage(parts.list, 2, 1), 0);

  // The second row is written in violet, the first and third are not.
  std::optional<Pixels> pixels;
  ASSERT_TRUE(WaitUntil(5000, [&] {
    pixels = CapturePixels(parts.list);
    return pixels && pixels->Count(RgbOf(kViolet), RemoteRowRect(parts.list, 1)) > 20;
  }));
  EXPECT_EQ(pixels->Count(RgbOf(kViolet), RemoteRowRect(parts.list, 0)), 0);
  EXPECT_EQ(pixels->Count(RgbOf(kViolet), RemoteRowRect(parts.list, 2)), 0);
  EXPECT_FALSE(SaveScreenshot(parts.frame, "manager-list-classic").empty());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(LabelListTest, NoLabelsShowsAnEmptyListAndNoMessage) {
  StartedProgram manager;
  const ManagerWindows parts = Open(manager);
  ASSERT_NE(parts.list, nullptr);
  EXPECT_EQ(SendMessageW(parts.list, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_FALSE(ButtonEnabled(parts, kIdOpen));
  EXPECT_FALSE(ButtonEnabled(parts, kIdClear));
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(LabelListTest, OpenExploresFoldersOpensFilesAndWantsOneRow) {
  ASSERT_TRUE(CreateDirectoryW(L"C:\\Plans", nullptr));
  ASSERT_TRUE(CreateFileWithText(L"C:\\Plans\\plan.doc"));
  Label(L"C:\\Plans", 4);
  Label(L"C:\\Plans\\plan.doc", 5);

  StartedProgram manager;
  const ManagerWindows parts = Open(manager);
  ASSERT_EQ(NamesAndPaths(parts.list), (Rows{{L"Green", L"C:\\Plans"}, {L"Blue", L"C:\\Plans\\plan.doc"}}));
  for (const int row : {0, 1}) {
    ASSERT_TRUE(SelectListViewRows(parts.list, {row}));
    ASSERT_TRUE(WaitUntil(5000, [&] { return ButtonEnabled(parts, kIdOpen); }));
    SendMessageW(parts.frame, WM_COMMAND, kIdOpen, 0);
  }
  // Two rows: Open is off, and the command does nothing (as from Ctrl+O).
  ASSERT_TRUE(SelectListViewRows(parts.list, {0, 1}));
  EXPECT_TRUE(WaitUntil(5000, [&] { return !ButtonEnabled(parts, kIdOpen) && ButtonEnabled(parts, kIdClear); }));
  SendMessageW(parts.frame, WM_COMMAND, kIdOpen, 0);
  EXPECT_EQ(Observed(L".shell"), (std::vector<std::string>{"[explore] C:\\Plans", "[open] C:\\Plans\\plan.doc"}));

  // An item deleted since the list was filled is not opened.
  ASSERT_TRUE(DeleteFileW(L"C:\\Plans\\plan.doc"));
  ASSERT_TRUE(SelectListViewRows(parts.list, {1}));
  ASSERT_TRUE(WaitUntil(5000, [&] { return ButtonEnabled(parts, kIdOpen); }));
  SendMessageW(parts.frame, WM_COMMAND, kIdOpen, 0);
  EXPECT_EQ(Observed(L".shell").size(), 2u);
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(LabelListTest, ClearTakesOffTheLabelsRemovesTheRowsAndRedrawsTheItems) {
  for (const wchar_t* path : {L"C:\\one.txt", L"C:\\two.txt", L"C:\\three.txt"}) {
    ASSERT_TRUE(CreateFileWithText(path));
    Label(path, 6);
  }
  StartedProgram manager;
  const ManagerWindows parts = Open(manager);
  ASSERT_EQ(NamesAndPaths(parts.list), (Rows{{L"Gray", L"C:\\one.txt"}, {L"Gray", L"C:\\three.txt"}, {L"Gray", L"C:\\two.txt"}}));
  ASSERT_TRUE(SelectListViewRows(parts.list, {0, 2}));
  ASSERT_TRUE(WaitUntil(5000, [&] { return ButtonEnabled(parts, kIdClear); }));
  SendMessageW(parts.frame, WM_COMMAND, kIdClear, 0);

  EXPECT_EQ(NamesAndPaths(parts.list), (Rows{{L"Gray", L"C:\\three.txt"}}));
  EXPECT_EQ(LabelOf(m_labels.get(), L"C:\\one.txt"), 0u);
  EXPECT_EQ(LabelOf(m_labels.get(), L"C:\\two.txt"), 0u);
  EXPECT_EQ(LabelOf(m_labels.get(), L"C:\\three.txt"), 6u);
  // Explorer is asked to redraw each cleared item, as the extension does.
  const std::vector<std::string> notices = Observed(L".shell");
  EXPECT_EQ(std::multiset<std::string>(notices.begin(), notices.end()),
            (std::multiset<std::string>{"[updateitem] C:\\one.txt", "[updateitem] C:\\two.txt"}));
  EXPECT_TRUE(Messages().empty());

  SendMessageW(parts.frame, WM_COMMAND, kIdRefresh, 0);
  EXPECT_EQ(NamesAndPaths(parts.list), (Rows{{L"Gray", L"C:\\three.txt"}}));
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(LabelListTest, ClearThatCannotReachTheServiceKeepsTheRowsAndSaysSo) {
  for (const wchar_t* path : {L"C:\\one.txt", L"C:\\two.txt"}) {
    ASSERT_TRUE(CreateFileWithText(path));
    Label(path, 1);
  }
  StartedProgram manager;
  const ManagerWindows parts = Open(manager);
  ASSERT_EQ(SendMessageW(parts.list, LVM_GETITEMCOUNT, 0, 0), 2);
  // The service is no longer registered: no label can be cleared now.
  ASSERT_EQ(SHDeleteKeyW(HKEY_CLASSES_ROOT, L"PelkoLabelSvr.LabelUtil"), ERROR_SUCCESS);
  ASSERT_TRUE(SelectListViewRows(parts.list, {0, 1}));
  ASSERT_TRUE(WaitUntil(5000, [&] { return ButtonEnabled(parts, kIdClear); }));
  SendMessageW(parts.frame, WM_COMMAND, kIdClear, 0);
  EXPECT_EQ(SendMessageW(parts.list, LVM_GETITEMCOUNT, 0, 0), 2) << "the rows of labels that stayed stay";
  EXPECT_EQ(Messages(), (std::vector<std::string>{"[Pelko Labels] The labels of 2 items could not be cleared."}));
  EXPECT_EQ(LabelOf(m_labels.get(), L"C:\\one.txt"), 1u);
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(LabelListTest, AMissingNameShowsErrorAndAMissingIconEndsTheProgram) {
  ASSERT_TRUE(CreateFileWithText(L"C:\\A.txt"));
  Label(L"C:\\A.txt", 3);
  ASSERT_TRUE(WritePrivateProfileStringW(L"MenuItem4", L"MenuText", nullptr, kConfigFile));
  {
    StartedProgram manager;
    const ManagerWindows parts = Open(manager);
    ASSERT_NE(parts.list, nullptr);
    EXPECT_EQ(NamesAndPaths(parts.list), (Rows{{L"<error>", L"C:\\A.txt"}}));
    EXPECT_EQ(Close(parts.frame, manager), 0u);
  }

  ASSERT_TRUE(WritePrivateProfileStringW(L"MenuItem5", L"IconFile", L"C:\\no such folder\\Green.ico", kConfigFile));
  StartedProgram manager = StartManager();
  ASSERT_TRUE(manager.Started());
  EXPECT_EQ(manager.WaitForExit(kWindowBoundMs), 1u) << "the program ends";
  EXPECT_EQ(Messages(), (std::vector<std::string>{"[Pelko Labels] Cannot load custom icons. Please re-install the product."}));
}

// Fills whose path checks are slowed or hang through the manager's
// ".path-check" seam: the window answers while they run, rows come in the
// service's order, and a check that never answers stops neither the other
// rows, nor a refresh, nor closing.
class ListFillTest : public LabelListTest {
 protected:
  // Every labelled item, in the service's order (by path), with whether it exists.
  struct Item {
    std::wstring path;
    ULONG label;
    bool exists;
  };
  void LabelAll(const std::vector<Item>& items) {
    for (const Item& item : items) {
      if (item.exists) ASSERT_TRUE(CreateFileWithText(item.path)) << Utf8(item.path);
      Label(item.path, item.label);
    }
  }
  static Rows Expected(const std::vector<Item>& items, std::size_t count) {
    static const wchar_t* const names[] = {L"", L"Red", L"Orange", L"Yellow", L"Green", L"Blue", L"Gray"};
    Rows rows;
    for (std::size_t index = 0; index < count; ++index) {
      if (items[index].exists) rows.push_back({names[items[index].label], items[index].path});
    }
    return rows;
  }
  static bool IsPrefixOf(const Rows& part, const Rows& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
  }
  // Starts the manager without waiting for its fill.
  ManagerWindows OpenFilling(StartedProgram& manager) {
    manager = StartManager();
    const HWND frame = WaitForTopLevelWindow(kFrameClass, kTitle, manager.ProcessId(), kWindowBoundMs);
    return frame ? FindParts(frame) : ManagerWindows{};
  }
  static bool Filling(const ManagerWindows& parts) { return GetPropW(parts.list, kListFillingProperty) != nullptr; }
  // The window answers a sent message within a quarter of a second.
  static bool Answers(HWND window) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 250, &ignored) != 0;
  }
  // The rows as two readings in a row agree: a reading is a message per
  // cell, and a batch that replaces the rows in between would mix two lists.
  static Rows SettledRows(HWND list) {
    Rows last = NamesAndPaths(list);
    for (int reading = 0; reading < 10; ++reading) {
      Rows now = NamesAndPaths(list);
      if (now == last) break;
      last = std::move(now);
    }
    return last;
  }
  // Reads the rows while the fill runs: each reading must be the start of
  // the final list (no stale rows, no other order) and the window must
  // answer every time. The distinct row counts seen.
  std::set<std::size_t> WatchFill(const ManagerWindows& parts, const Rows& final) {
    std::set<std::size_t> counts;
    while (Filling(parts) && counts.size() < 1000) {
      EXPECT_TRUE(Answers(parts.frame)) << "the window did not answer during the fill";
      EXPECT_TRUE(SendMessageW(parts.toolbars[1], TB_ISBUTTONENABLED, kIdRefresh, 0)) << "the ribbon answers";
      const Rows now = SettledRows(parts.list);
      EXPECT_TRUE(IsPrefixOf(now, final)) << now.size() << " rows, not the start of the final list";
      counts.insert(now.size());
      Sleep(50);
    }
    return counts;
  }
};

TEST_F(ListFillTest, SlowChecksLetTheWindowAnswerAndRowsComeInTheServicesOrder) {
  std::vector<Item> items;
  for (int index = 0; index < 24; ++index) {
    wchar_t path[64];
    swprintf(path, 64, L"C:\\fill\\item%02d.txt", index);
    items.push_back({path, static_cast<ULONG>(1 + index % 6), index % 5 != 3});
  }
  ASSERT_TRUE(CreateDirectoryW(L"C:\\fill", nullptr));
  LabelAll(items);
  ASSERT_TRUE(WritePathCheckSeam("150"));  // two checkers: about two seconds in all

  StartedProgram manager;
  const ManagerWindows parts = OpenFilling(manager);
  ASSERT_NE(parts.list, nullptr);
  const Rows final = Expected(items, items.size());
  const std::set<std::size_t> counts = WatchFill(parts, final);
  EXPECT_TRUE(std::any_of(counts.begin(), counts.end(), [&](std::size_t n) { return n > 0 && n < final.size(); }))
      << "rows came only all at once";
  ASSERT_TRUE(WaitForFilledList(parts.list));
  EXPECT_EQ(NamesAndPaths(parts.list), final);
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(ListFillTest, ARefreshDuringAFillReplacesItWithoutStaleRows) {
  std::vector<Item> items;
  for (int index = 0; index < 20; ++index) {
    wchar_t path[64];
    swprintf(path, 64, L"C:\\fill\\item%02d.txt", index);
    items.push_back({path, 2, true});
  }
  ASSERT_TRUE(CreateDirectoryW(L"C:\\fill", nullptr));
  LabelAll(items);
  ASSERT_TRUE(WritePathCheckSeam("200"));

  StartedProgram manager;
  const ManagerWindows parts = OpenFilling(manager);
  ASSERT_NE(parts.list, nullptr);
  ASSERT_TRUE(WaitUntil(kWindowBoundMs, [&] { return SendMessageW(parts.list, LVM_GETITEMCOUNT, 0, 0) > 0; }));
  ASSERT_TRUE(Filling(parts)) << "the fill ended before the refresh";
  // The last items lose their labels: the running fill's answer still has them.
  for (std::size_t index = 14; index < items.size(); ++index) {
    ASSERT_EQ(m_labels->ClearLabel(unique_bstr(SysAllocString(items[index].path.c_str())).get()), S_OK);
  }
  items.resize(14);
  ASSERT_TRUE(WritePathCheckSeam("20"));
  DWORD_PTR ignored = 0;
  ASSERT_TRUE(SendMessageTimeoutW(parts.frame, WM_COMMAND, kIdRefresh, 0, SMTO_ABORTIFHUNG, 1000, &ignored));
  const Rows final = Expected(items, items.size());
  WatchFill(parts, final);
  ASSERT_TRUE(WaitForFilledList(parts.list));
  EXPECT_EQ(NamesAndPaths(parts.list), final);
  Sleep(500);  // time for a stale batch of the replaced fill to come
  EXPECT_EQ(NamesAndPaths(parts.list), final);
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(ListFillTest, AHungCheckStopsNeitherTheOtherRowsNorARefreshNorClosing) {
  // In the service's order: C:, then two on D: (the second's check hangs,
  // as on a share that went away), then one on T:.
  ASSERT_TRUE(CreateFileWithText(L"C:\\before.txt") && CreateFileWithText(L"D:\\stuck.txt") &&
              CreateFileWithText(L"D:\\same-drive.txt"));
  const std::wstring after = BuildTreeFile(L"mngr\\PelkoLabelMngr.exe");
  Label(L"C:\\before.txt", 1);
  Label(L"D:\\same-drive.txt", 2);
  Label(L"D:\\stuck.txt", 3);
  Label(after, 4);
  ASSERT_TRUE(WritePathCheckSeam("0;D:\\stuck.txt"));
  const Rows final{{L"Red", L"C:\\before.txt"}, {L"Orange", L"D:\\same-drive.txt"}, {L"Green", after}};

  StartedProgram manager;
  const ManagerWindows parts = OpenFilling(manager);
  ASSERT_NE(parts.list, nullptr);
  WatchFill(parts, final);
  ASSERT_TRUE(WaitForFilledList(parts.list));
  EXPECT_EQ(NamesAndPaths(parts.list), final);

  // Again, with the first hung check still stuck in its thread.
  DWORD_PTR ignored = 0;
  ASSERT_TRUE(SendMessageTimeoutW(parts.frame, WM_COMMAND, kIdRefresh, 0, SMTO_ABORTIFHUNG, 1000, &ignored));
  WatchFill(parts, final);
  ASSERT_TRUE(WaitForFilledList(parts.list));
  EXPECT_EQ(NamesAndPaths(parts.list), final);

  // Closing in the middle of a third fill, its check hanging.
  ASSERT_TRUE(SendMessageTimeoutW(parts.frame, WM_COMMAND, kIdRefresh, 0, SMTO_ABORTIFHUNG, 1000, &ignored));
  ASSERT_TRUE(WaitUntil(2000, [&] { return Filling(parts); }));
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

// The Customize Labels dialog of a running manager, opened from its command.
class CustomizeTest : public LabelListTest {
 protected:
  HWND OpenDialog(const ManagerWindows& parts, const StartedProgram& manager) {
    PostMessageW(parts.frame, WM_COMMAND, kIdCustomize, 0);
    return WaitForTopLevelWindow(L"#32770", L"Customize Labels", manager.ProcessId(), kWindowBoundMs);
  }
  static std::vector<std::wstring> SchemeNames(HWND dialog) {
    std::vector<std::wstring> names;
    const HWND combo = GetDlgItem(dialog, kComboId);
    const auto count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) names.push_back(ComboText(combo, index));
    return names;
  }
  // The system copies CB_GETLBTEXT's text across processes itself.
  static std::wstring ComboText(HWND combo, int index) {
    std::wstring text(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return text;
  }
  static std::vector<std::wstring> Names(HWND dialog) {
    std::vector<std::wstring> names;
    for (int row = 0; row < 6; ++row) names.push_back(WindowTextOf(GetDlgItem(dialog, kFirstNameId + row)));
    return names;
  }
  static void Choose(HWND dialog, int index) {
    SendDlgItemMessageW(dialog, kComboId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kComboId, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, kComboId)));
  }
  static void TypeName(HWND dialog, int row, const std::wstring& name) {
    SendMessageW(GetDlgItem(dialog, kFirstNameId + row), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
  static int IconsShown(HWND dialog) {
    int shown = 0;
    for (int row = 0; row < 6; ++row) shown += SendDlgItemMessageW(dialog, kFirstIconId + row, STM_GETICON, 0, 0) != 0;
    return shown;
  }
  static bool Closes(HWND dialog, int button) {
    PostMessageW(dialog, WM_COMMAND, button, 0);
    return WaitUntil(5000, [&] { return !IsWindow(dialog); });
  }
};

TEST_F(CustomizeTest, ChoosingAnotherSchemeAndANameSavesThemForTheListAndTheMenu) {
  // One item per label, so that the list's picture shows the whole scheme.
  const auto itemOf = [](int label) { return L"C:\\label" + std::to_wstring(label) + L".txt"; };
  for (int label = 1; label <= 6; ++label) {
    ASSERT_TRUE(CreateFileWithText(itemOf(label)));
    Label(itemOf(label), static_cast<ULONG>(label));
  }
  StartedProgram manager;
  const ManagerWindows parts = Open(manager);
  ASSERT_NE(parts.list, nullptr);
  const HWND dialog = OpenDialog(parts, manager);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(SchemeNames(dialog), (std::vector<std::wstring>{L"Classic", L"Shapes"}));
  EXPECT_EQ(SendDlgItemMessageW(dialog, kComboId, CB_GETCURSEL, 0, 0), 0) << "CurrentScheme=1";
  EXPECT_EQ(Names(dialog), (std::vector<std::wstring>{L"Red", L"Orange", L"Yellow", L"Green", L"Blue", L"Gray"}));
  EXPECT_EQ(IconsShown(dialog), 6);
  for (int row = 0; row < 6; ++row) EXPECT_EQ(SendDlgItemMessageW(dialog, kFirstNameId + row, EM_GETLIMITTEXT, 0, 0), 64);
  EXPECT_FALSE(SaveScreenshot(dialog, "customize-labels").empty());

  // Choosing a scheme shows its labels at once, over what was typed.
  TypeName(dialog, 2, L"typed before");
  Choose(dialog, 1);
  EXPECT_EQ(WindowTextOf(GetDlgItem(dialog, kFirstNameId + 2)), L"Yellow");
  EXPECT_EQ(IconsShown(dialog), 6);
  // A name outside any ANSI code page.
  const std::wstring name = L"\u0395\u03C0\u03B5\u03AF\u03B3\u03BF\u03BD \u4E2D\u6587 \U0001F600";
  TypeName(dialog, 2, name);
  ASSERT_TRUE(Closes(dialog, IDOK));

  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "[Pelko Labels] You have changed the settings of label icons that will take effect after "
                            "you reboot the system!"}));
  EXPECT_EQ(ReadWholeFile(kConfigFile).substr(0, 2), "\xFF\xFE") << "the file is UTF-16";
  EXPECT_EQ(ConfigValue(L"General", L"CurrentScheme"), L"2");
  EXPECT_EQ(ConfigValue(L"MenuItem4", L"MenuText"), name);
  EXPECT_EQ(ConfigValue(L"MenuItem4", L"IconFile"), std::wstring(kSchemes) + L"\\Shapes\\Yellow.ico");
  EXPECT_EQ(ConfigValue(L"MenuItem4", L"OverlayIcon"), std::wstring(kSchemes) + L"\\Shapes\\YellowOverlay.ico");
  EXPECT_EQ(ConfigValue(L"MenuItem2", L"MenuText"), L"Red");
  EXPECT_EQ(ConfigValue(L"MenuItem8", L"MenuText"), L"Clear label") << "other entries are not touched";

  // The list shows the name once the dialog has gone; the extension's menu
  // at the next right click.
  const Rows expected{{L"Red", itemOf(1)},   {L"Orange", itemOf(2)}, {name, itemOf(3)},
                      {L"Green", itemOf(4)}, {L"Blue", itemOf(5)},   {L"Gray", itemOf(6)}};
  EXPECT_TRUE(WaitUntil(5000, [&] { return NamesAndPaths(parts.list) == expected; })) << "the list shows the new name";
  EXPECT_FALSE(SaveScreenshot(parts.frame, "manager-list-shapes").empty());
  const std::string menu = RunHarness(L"menu " + itemOf(3));
  EXPECT_TRUE(Contains(menu, "\"" + Utf8(name) + "\" id=") && Contains(menu, "bitmap=yes")) << menu;
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(CustomizeTest, CancelWritesNothingAndSavingTheSameSchemeSaysNothing) {
  const std::string before = ReadWholeFile(kConfigFile);
  StartedProgram manager;
  const ManagerWindows parts = Open(manager);
  HWND dialog = OpenDialog(parts, manager);
  ASSERT_NE(dialog, nullptr);
  TypeName(dialog, 0, L"Urgent");
  Choose(dialog, 1);
  ASSERT_TRUE(Closes(dialog, IDCANCEL));
  EXPECT_EQ(ReadWholeFile(kConfigFile), before);

  dialog = OpenDialog(parts, manager);
  ASSERT_NE(dialog, nullptr);
  TypeName(dialog, 0, L"Urgent");
  ASSERT_TRUE(Closes(dialog, IDOK));
  EXPECT_TRUE(Messages().empty()) << "the scheme did not change";
  EXPECT_EQ(ConfigValue(L"General", L"CurrentScheme"), L"1");
  EXPECT_EQ(ConfigValue(L"MenuItem2", L"MenuText"), L"Urgent");
  EXPECT_EQ(ConfigValue(L"MenuItem2", L"IconFile"), std::wstring(kSchemes) + L"\\Classic\\Red.ico");
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(CustomizeTest, SaveTurnsAnAnsiFileIntoUnicodeKeepingWhatItHeld) {
  // The installed file, as an older version wrote it: ANSI, with a menu
  // entry of the user's own that uses the code page.
  const std::string unicode = ReadWholeFile(kConfigFile);
  ASSERT_EQ(unicode.substr(0, 2), "\xFF\xFE");
  std::wstring text(reinterpret_cast<const wchar_t*>(unicode.data() + 2), (unicode.size() - 2) / sizeof(wchar_t));
  const std::wstring ownEntry = L"L\u00F6schen";
  const std::size_t clearText = text.find(L"MenuText=Clear label");
  ASSERT_NE(clearText, std::wstring::npos);
  text.replace(clearText, 20, L"MenuText=" + ownEntry);
  std::string ansi(text.size() * 2, '\0');
  ansi.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                           ansi.data(), static_cast<int>(ansi.size()), nullptr, nullptr)));
  ASSERT_TRUE(WriteExtensionConfig(ansi));
  ASSERT_EQ(ConfigValue(L"MenuItem8", L"MenuText"), ownEntry) << "the code page holds it";

  StartedProgram manager;
  const ManagerWindows parts = Open(manager);
  const HWND dialog = OpenDialog(parts, manager);
  ASSERT_NE(dialog, nullptr);
  const std::wstring name = L"\u0395\u03C0\u03B5\u03AF\u03B3\u03BF\u03BD";
  TypeName(dialog, 0, name);
  ASSERT_TRUE(Closes(dialog, IDOK));

  EXPECT_EQ(ReadWholeFile(kConfigFile).substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(ConfigValue(L"MenuItem2", L"MenuText"), name) << "stored as typed, not as question marks";
  EXPECT_EQ(ConfigValue(L"MenuItem8", L"MenuText"), ownEntry);
  EXPECT_EQ(ConfigValue(L"MenuItem3", L"MenuText"), L"Orange");
  EXPECT_EQ(ConfigValue(L"MenuItem10", L"MenuDesc"), L"Open the Pelko Labels manager");
  EXPECT_EQ(ConfigValue(L"General", L"CurrentScheme"), L"1");
  EXPECT_FALSE(FileExists(std::wstring(kConfigFile) + L".tmp"));
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(CustomizeTest, WithoutACurrentSchemeSaveWaitsForAChoice) {
  ASSERT_TRUE(WritePrivateProfileStringW(L"General", L"CurrentScheme", nullptr, kConfigFile));
  StartedProgram manager;
  const ManagerWindows parts = Open(manager);
  const HWND dialog = OpenDialog(parts, manager);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(SendDlgItemMessageW(dialog, kComboId, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(Names(dialog)[0], L"Red") << "the configured labels, not a scheme's";
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  EXPECT_FALSE(WaitUntil(1500, [&] { return !IsWindow(dialog); })) << "Save without a scheme does nothing";
  EXPECT_EQ(ConfigValue(L"General", L"CurrentScheme"), L"<none>");
  Choose(dialog, 0);
  ASSERT_TRUE(Closes(dialog, IDOK));
  EXPECT_EQ(ConfigValue(L"General", L"CurrentScheme"), L"1");
  EXPECT_EQ(Messages().size(), 1u) << "no scheme was named before: the reboot message";
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

TEST_F(CustomizeTest, ASchemeAppliesItsLabelsButNeverMoreThanSix) {
  // Two schemes of this test: four labels, and nine (three too many).
  for (const auto& [folder, count] : {std::pair{L"Four", 4}, std::pair{L"Nine", 9}}) {
    const std::wstring path = std::wstring(kSchemes) + L"\\" + folder;
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    std::string ini = "[General]\r\nLabelCount=" + std::to_string(count) + "\r\n";
    for (int label = 1; label <= count; ++label) {
      ini += "[Label" + std::to_string(label) + "]\r\nMenuText=" + Utf8(folder) + std::to_string(label) +
             "\r\nMenuDesc=d\r\nIconFile=i.ico\r\nOverlayIcon=o.ico\r\n";
    }
    ASSERT_TRUE(WriteWholeFile(path + L"\\Scheme.ini", ini));
    ASSERT_TRUE(CopyFileW((std::wstring(kSchemes) + L"\\Classic\\Red.ico").c_str(), (path + L"\\i.ico").c_str(), FALSE));
  }
  StartedProgram manager;
  const ManagerWindows parts = Open(manager);
  HWND dialog = OpenDialog(parts, manager);
  ASSERT_NE(dialog, nullptr);
  ASSERT_EQ(SchemeNames(dialog), (std::vector<std::wstring>{L"Classic", L"Four", L"Nine", L"Shapes"}));
  Choose(dialog, 1);
  EXPECT_EQ(Names(dialog), (std::vector<std::wstring>{L"Four1", L"Four2", L"Four3", L"Four4", L"Blue", L"Gray"}));
  ASSERT_TRUE(Closes(dialog, IDOK));
  EXPECT_EQ(ConfigValue(L"MenuItem5", L"IconFile"), std::wstring(kSchemes) + L"\\Four\\i.ico");
  EXPECT_EQ(ConfigValue(L"MenuItem6", L"MenuText"), L"Blue");
  EXPECT_EQ(ConfigValue(L"MenuItem6", L"IconFile"), std::wstring(kSchemes) + L"\\Classic\\Blue.ico");

  dialog = OpenDialog(parts, manager);
  ASSERT_NE(dialog, nullptr);
  Choose(dialog, 2);
  ASSERT_TRUE(Closes(dialog, IDOK));
  EXPECT_EQ(ConfigValue(L"MenuItem7", L"MenuText"), L"Nine6");
  for (const wchar_t* section : {L"MenuItem8", L"MenuItem9", L"MenuItem10"}) {
    EXPECT_NE(ConfigValue(section, L"IconFile"), std::wstring(kSchemes) + L"\\Nine\\i.ico") << section;
  }
  EXPECT_EQ(ConfigValue(L"MenuItem8", L"MenuText"), L"Clear label");
  EXPECT_EQ(Close(parts.frame, manager), 0u);
}

// A web server on the loopback that answers every request with one body.
class LoopbackServer {
 public:
  LoopbackServer() {
    WSADATA data{};
    m_ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    m_ready = m_ready && m_socket != INVALID_SOCKET &&
              bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
              listen(m_socket, 4) == 0 && getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    m_port = ntohs(address.sin_port);
    if (m_ready) m_ready = m_thread.Start([this](const CWorkerThread::StopToken& stop) { Serve(stop); });
  }
  ~LoopbackServer() {
    m_thread.Stop(5000);
    if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    WSACleanup();
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool Ready() const { return m_ready; }
  std::wstring Url() const { return L"http://127.0.0.1:" + std::to_wstring(m_port) + L"/PelkoLabelsVersion.txt"; }
  void Answer(std::string body) {
    std::lock_guard lock(m_lock);
    m_body = std::move(body);
  }
  int Requests() const { return m_requests; }

 private:
  void Serve(const CWorkerThread::StopToken& stop) {
    while (!stop.Requested()) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(m_socket, &readable);
      timeval tick{0, 100000};
      if (select(0, &readable, nullptr, nullptr, &tick) <= 0) continue;
      const SOCKET client = accept(m_socket, nullptr, nullptr);
      if (client == INVALID_SOCKET) continue;
      std::string request;
      char chunk[1024];
      for (int got; request.find("\r\n\r\n") == std::string::npos && (got = recv(client, chunk, sizeof chunk, 0)) > 0;) {
        request.append(chunk, static_cast<std::size_t>(got));
      }
      std::string body;
      {
        std::lock_guard lock(m_lock);
        body = m_body;
      }
      const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nCache-Control: no-cache\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      for (std::size_t sent = 0; sent < answer.size();) {
        const int now = send(client, answer.data() + sent, static_cast<int>(std::min<std::size_t>(answer.size() - sent, 65536)), 0);
        if (now <= 0) break;
        sent += static_cast<std::size_t>(now);
      }
      shutdown(client, SD_SEND);
      closesocket(client);
      ++m_requests;
    }
  }

  bool m_ready = false;
  SOCKET m_socket = INVALID_SOCKET;
  unsigned short m_port = 0;
  std::mutex m_lock;
  std::string m_body;
  std::atomic<int> m_requests{0};
  CWorkerThread m_thread;
};

// The temporary files the manager's check leaves in the user's temp folder.
std::set<std::wstring> TemporaryFiles() {
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, folder);
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const unique_hfind search(FindFirstFileW((std::wstring(folder) + L"tmp*.tmp").c_str(), &found));
  if (!search) return names;
  do names.insert(found.cFileName);
  while (FindNextFileW(search.get(), &found));
  return names;
}

class UpdateCheckTest : public LabelListTest {
 protected:
  // Starts the manager against the server and waits until its check ended
  // (the request was answered and its temporary file is gone); true when it
  // asked the question.
  bool CheckAsks(StartedProgram& manager, HWND& frame) {
    const int requestsBefore = m_server.Requests();
    const std::size_t messagesBefore = Messages().size();
    frame = StartMain(manager);
    if (!frame) return false;
    const bool ended = WaitUntil(20000, [&] { return m_server.Requests() > requestsBefore; }) &&
                       WaitUntil(20000, [&] { return TemporaryFiles() == m_temporaryBefore; });
    EXPECT_TRUE(ended) << "the check did not end, or left its temporary file";
    // A question is posted before the file goes: it is there by now, or never.
    WaitUntil(1000, [&] { return Messages().size() > messagesBefore; });
    return Messages().size() > messagesBefore;
  }
  void SetUp() override {
    LabelListTest::SetUp();
    ASSERT_TRUE(m_server.Ready());
    ASSERT_TRUE(WriteWholeFile(std::wstring(kInstalledManager) + L".version-url", Utf8(m_server.Url())));
    m_temporaryBefore = TemporaryFiles();
  }

  LoopbackServer m_server;
  std::set<std::wstring> m_temporaryBefore;
};

TEST_F(UpdateCheckTest, OnlyANewerVersionAsksAndOnlyOncePerServiceRun) {
  struct Case {
    const char* name;
    std::string body;
    bool asks;
  } const cases[] = {
      {"older", "1.0.0.1", false},
      {"the same", "1.0.0.2", false},
      {"the same with a line break", "1.0.0.2\r\n", false},
      {"shorter, older", "1.0", false},
      {"empty", "", false},
      {"garbage", "<html>Not found</html>", false},
      {"10 MB", std::string(10 * 1024 * 1024, '9'), false},
      {"newer by a number, not a letter", "1.0.0.10", true},
      {"newer", "1.0.0.3\r\n", true},
      {"shorter, newer", "2.0", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(m_labels->put_IsNewVersionNotified(VARIANT_FALSE), S_OK);
    m_server.Answer(c.body);
    StartedProgram manager;
    HWND frame = nullptr;
    EXPECT_EQ(CheckAsks(manager, frame), c.asks);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(Close(frame, manager), 0u);
  }
  EXPECT_EQ(Messages().size(), 3u * 2u) << "each question has two lines of text";
  EXPECT_EQ(Observed(L".shell"), std::vector<std::string>(3, "[] https://www.norvane.com/pelko-labels/"))
      << "the observed answer is Yes: the web site opens";

  // The service remembers that it told: the next start asks nothing.
  VARIANT_BOOL told = VARIANT_FALSE;
  ASSERT_EQ(m_labels->get_IsNewVersionNotified(&told), S_OK);
  EXPECT_EQ(told, VARIANT_TRUE);
  StartedProgram manager;
  HWND frame = nullptr;
  EXPECT_FALSE(CheckAsks(manager, frame));
  EXPECT_EQ(Close(frame, manager), 0u);
}

TEST_F(UpdateCheckTest, NoServerMeansNoQuestionAndNoTemporaryFile) {
  ASSERT_TRUE(WriteWholeFile(std::wstring(kInstalledManager) + L".version-url", "http://127.0.0.1:1/PelkoLabelsVersion.txt"));
  StartedProgram manager;
  const HWND frame = StartMain(manager);
  ASSERT_NE(frame, nullptr);
  WaitUntil(3000, [&] { return TemporaryFiles() != m_temporaryBefore; });  // the check may be over already
  EXPECT_TRUE(WaitUntil(20000, [&] { return TemporaryFiles() == m_temporaryBefore; }));
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Close(frame, manager), 0u);
}

}  // namespace
}  // namespace pelko::testing
