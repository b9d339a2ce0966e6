// The context menu as Explorer sees it, through the harness that plays
// Explorer, with the real service behind it; labels are checked from this
// (another) process through COM.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServiceTestSupport.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using namespace testing;

const std::string kDefaultTree =
    "item 0 separator\n"
    "item 1 \"&Pelko Labels\" id=100 bitmap=no submenu\n"
    "  item 0 \" Red\" id=101 bitmap=no\n"
    "  item 1 \" Orange\" id=102 bitmap=no\n"
    "  item 2 \" Yellow\" id=103 bitmap=no\n"
    "  item 3 \" Green\" id=104 bitmap=no\n"
    "  item 4 \" Blue\" id=105 bitmap=no\n"
    "  item 5 \" Gray\" id=106 bitmap=no\n"
    "  item 6 \" Clear label\" id=107 bitmap=no\n"
    "  item 7 separator\n"
    "  item 8 \" Manage labels\" id=109 bitmap=no\n"
    "  item 9 \" About PelkoLabels\" id=110 bitmap=no\n"
    "item 2 separator\n";

class ContextMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InstallServiceAndExtension());
    ASSERT_TRUE(CreateDirectoryW(L"D:\\x", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    for (const wchar_t* file : {L"D:\\x\\a.txt", L"D:\\x\\b.txt"}) ASSERT_TRUE(WriteWholeFile(file, "x"));
  }

  // The label the service holds, asked from this process.
  ULONG Label(const std::wstring& path) {
    ComApartment apartment;
    com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
    return labels ? LabelOf(labels.get(), path) : 0xDEAD;
  }
};

TEST_F(ContextMenu, TheDefaultMenuAndItsHelpTexts) {
  const std::string output = RunHarness(L"menu --helptext 1 --helptext 7 --helptext 42 D:\\x\\a.txt D:\\x\\b.txt");
  EXPECT_TRUE(Contains(output, "handler {02B442CA-D795-4FEF-B930-EE891FADB93B}\n")) << output;
  EXPECT_TRUE(Contains(output, "result 0x0000000C\n" + kDefaultTree)) << output;
  EXPECT_TRUE(Contains(output, "helptext 1 0x00000000 \" Red\"\n")) << output;
  EXPECT_TRUE(Contains(output, "helptext 7 0x00000000 \" Clear label\"\n")) << output;
  EXPECT_TRUE(Contains(output, "helptext 42 0x00000000 \"\"\n")) << output;
}

TEST_F(ContextMenu, EntriesOnlyForNormalAndExplorerMenus) {
  const struct {
    const wchar_t* flags;
    bool addsEntries;
  } cases[] = {{L"0", true}, {L"4", true}, {L"12", true}, {L"1", false}, {L"2", false}, {L"8", false}};
  for (const auto& c : cases) {
    const std::string output = RunHarness(std::wstring(L"menu --flags ") + c.flags + L" D:\\x\\a.txt");
    SCOPED_TRACE(std::string(c.flags, c.flags + wcslen(c.flags)));
    EXPECT_EQ(Contains(output, "result 0x0000000C\n" + kDefaultTree), c.addsEntries) << output;
    if (!c.addsEntries) {
      EXPECT_TRUE(Contains(output, "result 0x00000000\n")) << output;
      EXPECT_FALSE(Contains(output, "item ")) << output;
    }
  }
}

TEST_F(ContextMenu, SelectionsThatMayNotBeLabelledGetNoMenu) {
  ASSERT_TRUE(WriteWholeFile(L"D:\\x\\home.lnk", "x"));
  for (const wchar_t* selection : {L"C:\\ab", L"D:\\x\\a.txt D:\\x\\home.lnk", L"D:\\x\\a.txt C:\\windows\\win.ini"}) {
    const std::string output = RunHarness(std::wstring(L"menu ") + selection);
    EXPECT_TRUE(Contains(output, "result 0x00000000\n")) << output;
    EXPECT_FALSE(Contains(output, "item ")) << output;
  }
}

TEST_F(ContextMenu, ChoosingALabelPutsItOnEveryItemAndAsksExplorerToRedrawThem) {
  std::string output = RunHarness(L"menu --invoke 3 D:\\x\\a.txt D:\\x\\b.txt");
  EXPECT_TRUE(Contains(output, "invoke 3 0x00000000\n")) << output;
  EXPECT_TRUE(Contains(output, "notify 0x00002000 D:\\x\\a.txt\n")) << output;
  EXPECT_TRUE(Contains(output, "notify 0x00002000 D:\\x\\b.txt\n")) << output;
  EXPECT_EQ(Label(L"D:\\x\\a.txt"), 3u);
  EXPECT_EQ(Label(L"D:\\x\\b.txt"), 3u);

  output = RunHarness(L"menu --invoke 7 D:\\x\\a.txt");
  EXPECT_TRUE(Contains(output, "invoke 7 0x00000000\n")) << output;
  EXPECT_EQ(Label(L"D:\\x\\a.txt"), 0u);
  output = RunHarness(L"menu --invoke 0 D:\\x\\b.txt");
  EXPECT_TRUE(Contains(output, "invoke 0 0x00000000\n")) << output;
  EXPECT_EQ(Label(L"D:\\x\\b.txt"), 0u);
}

TEST_F(ContextMenu, CommandsThatDoNothingAreRefused) {
  for (const wchar_t* command : {L"--invoke 8", L"--invoke 11", L"--verb open"}) {
    const std::string output = RunHarness(std::wstring(L"menu ") + command + L" D:\\x\\a.txt");
    EXPECT_TRUE(Contains(output, " 0x80070057\n")) << output;
    EXPECT_FALSE(Contains(output, "notify ")) << output;
  }
  EXPECT_EQ(Label(L"D:\\x\\a.txt"), 0u);
}

TEST_F(ContextMenu, MoreThanTenItemsAlsoRedrawTheirFolder) {
  std::wstring eleven, ten;
  for (int i = 0; i < 11; ++i) {
    const std::wstring file = L"D:\\x\\f" + std::to_wstring(i) + L".txt";
    ASSERT_TRUE(WriteWholeFile(file, "x"));
    eleven += L" " + file;
    if (i < 10) ten += L" " + file;
  }
  std::string output = RunHarness(L"menu --invoke 2" + eleven);
  EXPECT_EQ(CountOf(output, "notify 0x00002000 D:\\x\\f"), 11u) << output;
  EXPECT_TRUE(Contains(output, "notify 0x00002000 D:\\x\n")) << output;
  output = RunHarness(L"menu --invoke 2" + ten);
  EXPECT_EQ(CountOf(output, "notify 0x00002000 D:\\x\\f"), 10u) << output;
  EXPECT_FALSE(Contains(output, "notify 0x00002000 D:\\x\n")) << output;
}

TEST_F(ContextMenu, TheConfiguredLayoutDecidesOrderAndCommands) {
  // Swapped numbers: the command follows the number, not the text.
  ASSERT_TRUE(WriteExtensionConfig("[MenuItem2]\r\nMenuID=9\r\n[MenuItem10]\r\nMenuID=1\r\n"));
  std::string output = RunHarness(L"menu --invoke 1 D:\\x\\a.txt");
  EXPECT_TRUE(Contains(output, "  item 0 \" Manage labels\" id=101 bitmap=no\n")) << output;
  EXPECT_TRUE(Contains(output, "  item 8 \" Red\" id=109 bitmap=no\n")) << output;
  EXPECT_EQ(Label(L"D:\\x\\a.txt"), 1u);

  // A collision: the lower section keeps the number, the other is left out.
  ASSERT_TRUE(WriteExtensionConfig("[MenuItem8]\r\nMenuID=3\r\n"));
  output = RunHarness(L"menu D:\\x\\a.txt");
  EXPECT_TRUE(Contains(output, "result 0x0000000B\n")) << output;
  EXPECT_TRUE(Contains(output, "  item 2 \" Yellow\" id=103 bitmap=no\n")) << output;
  EXPECT_FALSE(Contains(output, "Clear label")) << output;
}

TEST_F(ContextMenu, WithTheServiceNotStartableTheMenuStaysAndNothingChanges) {
  {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    unique_sc_handle service(OpenServiceW(manager.get(), kServiceName, SERVICE_CHANGE_CONFIG));
    ASSERT_TRUE(service);
    ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  const DWORD started = GetTickCount();
  const std::string output = RunHarness(L"menu --invoke 3 D:\\x\\a.txt");
  const DWORD took = GetTickCount() - started;
  EXPECT_TRUE(Contains(output, "result 0x0000000C\n")) << output;
  EXPECT_TRUE(Contains(output, "invoke 3 0x00000000\n")) << output;
  EXPECT_TRUE(Contains(output, "notify 0x00002000 D:\\x\\a.txt\n")) << output;
  EXPECT_LT(took, 15000u) << "Explorer's thread was held too long";
  EXPECT_TRUE(ObservedLines(L".messages").empty());
  EXPECT_EQ(ReadWholeFile(std::wstring(kInstalledExtension) + L".messages"), "") << "something was shown";

  unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  unique_sc_handle service(OpenServiceW(manager.get(), kServiceName, SERVICE_CHANGE_CONFIG));
  ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(Label(L"D:\\x\\a.txt"), 0u);
}

TEST_F(ContextMenu, AMissingManagerIsReportedInABox) {
  const std::string output = RunHarness(L"menu --invoke 9 D:\\x\\a.txt");
  EXPECT_TRUE(Contains(output, "invoke 9 0x00000000\n")) << output;
  wchar_t* systemText = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 ERROR_FILE_NOT_FOUND, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&systemText),
                 0, nullptr);
  unique_hlocal owned(systemText);
  ASSERT_TRUE(systemText);
  std::wstring expected = L"[PelkoLabel Management Application Launch failed] " + std::wstring(systemText);
  const std::string shown = ReadWholeFile(std::wstring(kInstalledExtension) + L".messages");
  std::wstring shownWide(shown.begin(), shown.end());
  EXPECT_EQ(shownWide, expected + L"\r\n");
}

}  // namespace
}  // namespace pelko
