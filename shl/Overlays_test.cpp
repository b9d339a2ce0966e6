// Overlays, the details column and the refresh worker as Explorer meets
// them, through the harness, with the real service; labels are set from
// this (another) process.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ServiceTestSupport.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using namespace testing;

class Overlays : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InstallServiceAndExtension());
    ASSERT_TRUE(CreateDirectoryW(L"D:\\Work", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    for (const wchar_t* file : {L"D:\\Work\\plan.doc", L"D:\\Work\\notes.txt", L"D:\\Work\\nine.txt", L"D:\\Work\\home.lnk"}) {
      ASSERT_TRUE(WriteWholeFile(file, "x"));
    }
    ASSERT_TRUE(WriteWholeFile(L"C:\\yellow.ico", "any file will do for the identifier"));
    ASSERT_TRUE(WriteExtensionConfig("[MenuItem4]\r\nOverlayIcon=C:\\yellow.ico\r\n[MenuItem3]\r\nMenuText=Amber\r\n"));
  }

  void Label(const std::wstring& path, ULONG label) {
    ComApartment apartment;
    com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
    ASSERT_TRUE(labels);
    ASSERT_EQ(SetLabelOf(labels.get(), path, label), S_OK);
  }
};

TEST_F(Overlays, EachIdentifierClaimsOnlyItsOwnLabel) {
  Label(L"D:\\Work\\plan.doc", 3);
  Label(L"D:\\Work\\nine.txt", 9);
  Label(L"D:\\Work\\home.lnk", 3);
  Label(L"C:\\ab", 3);
  const std::string output =
      RunHarness(L"overlays --all --warm D:\\Work\\plan.doc D:\\Work\\plan.doc D:\\Work\\notes.txt D:\\Work\\nine.txt D:\\Work\\home.lnk C:\\ab");
  for (int n = 1; n <= 6; ++n) {
    const std::string name = "01PelkoLabelShlOverlay" + std::to_string(n);
    EXPECT_TRUE(Contains(output, "ask D:\\Work\\plan.doc " + name + (n == 3 ? " 0x00000000\n" : " 0x00000001\n"))) << output;
    for (const char* unclaimed : {"D:\\Work\\notes.txt ", "D:\\Work\\nine.txt ", "D:\\Work\\home.lnk ", "C:\\ab "}) {
      EXPECT_TRUE(Contains(output, std::string("ask ") + unclaimed + name + " 0x00000001\n")) << output;
    }
  }
  // Explorer stops at the first identifier that claims an item.
  const std::string firstClaims = RunHarness(L"overlays --warm D:\\Work\\plan.doc D:\\Work\\plan.doc D:\\Work\\notes.txt");
  EXPECT_TRUE(Contains(firstClaims, "member D:\\Work\\plan.doc 01PelkoLabelShlOverlay3\n")) << firstClaims;
  EXPECT_TRUE(Contains(firstClaims, "member D:\\Work\\notes.txt none\n")) << firstClaims;
}

TEST_F(Overlays, AnIdentifierWithoutItsIconFileReportsNoOverlay) {
  const std::string output = RunHarness(L"overlays");
  EXPECT_TRUE(Contains(output, "identifier 01PelkoLabelShlOverlay3 info 0x00000000 \"C:\\yellow.ico\" index=0 flags=0x00000001 priority=0\n"))
      << output;
  for (int n : {1, 2, 4, 5, 6}) {
    EXPECT_TRUE(Contains(output, "identifier 01PelkoLabelShlOverlay" + std::to_string(n) +
                                     " info 0x00000001 \"untouched\" index=-1 flags=0xFFFFFFFF priority=0\n"))
        << output;
  }
}

TEST_F(Overlays, WithTheServiceNotStartableNothingIsClaimedAndNothingHangs) {
  Label(L"D:\\Work\\plan.doc", 3);
  ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
  ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED));
  {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    unique_sc_handle service(OpenServiceW(manager.get(), kServiceName, SERVICE_CHANGE_CONFIG));
    ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  const DWORD started = GetTickCount();
  const std::string output = RunHarness(L"overlays --all --wait 100 D:\\Work\\plan.doc D:\\Work\\notes.txt");
  const DWORD took = GetTickCount() - started;
  EXPECT_EQ(CountOf(output, " 0x00000000\n"), 0u) << output;
  EXPECT_EQ(CountOf(output, " 0x00000001\n"), 12u) << output;
  // Twelve questions and the start: each question is bounded, none waits for the service.
  EXPECT_LT(took, 10000u) << output;
}

TEST_F(Overlays, TheColumnShowsTheLabelsConfiguredName) {
  Label(L"D:\\Work\\plan.doc", 2);
  Label(L"D:\\Work\\nine.txt", 9);
  Label(L"D:\\", 4);
  std::string output = RunHarness(L"column --warm D:\\Work\\plan.doc D:\\Work\\plan.doc D:\\Work\\notes.txt D:\\Work\\nine.txt D:\\ D:\\Work\\home.lnk");
  EXPECT_TRUE(Contains(output, "column 0 0x00000000 \"Pelko Label\" \"Pelko Label property of file or folder\" "
                               "fmtid={8C981BE0-2A0C-40C6-B881-1C385001D7A3} pid=0 vt=8 fmt=0 chars=24 state=0x00000021\n"))
      << output;
  EXPECT_TRUE(Contains(output, "column 1 0x00000001\n")) << output;
  EXPECT_TRUE(Contains(output, "data D:\\Work\\plan.doc 0x00000000 \"Amber\"\n")) << output;
  EXPECT_TRUE(Contains(output, "data D:\\Work\\notes.txt 0x00000001\n")) << output;
  EXPECT_TRUE(Contains(output, "data D:\\Work\\nine.txt 0x00000001\n")) << output;
  EXPECT_TRUE(Contains(output, "data D:\\ 0x00000000 \"Green\"\n")) << output;
  EXPECT_TRUE(Contains(output, "data D:\\Work\\home.lnk 0x00000001\n")) << output;

  output = RunHarness(L"column --pid 1 D:\\Work\\plan.doc");
  EXPECT_TRUE(Contains(output, "data D:\\Work\\plan.doc 0x00000001\n")) << output;
}

TEST_F(Overlays, ALabelChangedAfterExplorerAskedIsRedrawnOnce) {
  Label(L"D:\\Work\\plan.doc", 3);
  const std::string output =
      RunHarness(L"overlays --wait 2500 --warm D:\\Work\\plan.doc --set D:\\Work\\notes.txt=5 D:\\Work\\plan.doc D:\\Work\\notes.txt");
  EXPECT_TRUE(Contains(output, "member D:\\Work\\notes.txt none\n")) << output;
  // Identifiers 1 and 3 both queued plan.doc, which did not change: no redraw.
  EXPECT_EQ(CountOf(output, "notify 0x00002000 D:\\Work\\plan.doc\n"), 0u) << output;
  EXPECT_EQ(CountOf(output, "notify 0x00002000 D:\\Work\\notes.txt\n"), 1u) << output;
  EXPECT_TRUE(Contains(output, "again member D:\\Work\\notes.txt 01PelkoLabelShlOverlay5\n")) << output;
}

// The service is not running when Explorer first asks: its start takes
// longer than a lookup may wait. The overlay appears once it answers.
TEST_F(Overlays, AnItemAskedAboutBeforeTheServiceAnsweredGetsItsOverlayLater) {
  Label(L"D:\\Work\\plan.doc", 3);
  ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
  ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED));
  const std::string output = RunHarness(L"overlays --wait 8000 D:\\Work\\plan.doc");
  EXPECT_TRUE(Contains(output, "member D:\\Work\\plan.doc none\n")) << output;
  EXPECT_TRUE(Contains(output, "notify 0x00002000 D:\\Work\\plan.doc\n")) << output;
  EXPECT_TRUE(Contains(output, "again member D:\\Work\\plan.doc 01PelkoLabelShlOverlay3\n")) << output;
}

}  // namespace
}  // namespace pelko
