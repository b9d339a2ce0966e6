// Labels follow their items on the watched drives while the service runs;
// labels are set and read through COM from this (another) process.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ServiceTestSupport.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using namespace testing;

constexpr DWORD kFollowTimeoutMs = 5000;

bool MakeFile(const std::wstring& path) { return WriteWholeFile(path, "x"); }

bool MakeFolders(std::initializer_list<std::wstring> folders) {
  for (const std::wstring& folder : folders) {
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return true;
}

class Tracking : public ::testing::Test {
 protected:
  void SetUp() override {
    labels = StartTheServiceWatchingTheDrives();
    ASSERT_TRUE(labels);
  }

  // Sets a label and checks that the service holds it.
  void Label(const std::wstring& path, ULONG value) {
    ASSERT_EQ(SetLabelOf(labels.get(), path, value), S_OK);
    ASSERT_EQ(LabelOf(labels.get(), path), value);
  }

  ComApartment apartment;
  com_ptr<ILabelUtil> labels;
};

TEST_F(Tracking, ARenamedFileTakesItsLabelAlong) {
  ASSERT_TRUE(MakeFolders({L"D:\\x"}));
  ASSERT_TRUE(MakeFile(L"D:\\x\\a.txt"));
  Label(L"D:\\x\\a.txt", 3);

  const DWORD renamed = GetTickCount();
  ASSERT_TRUE(MoveFileW(L"D:\\x\\a.txt", L"D:\\x\\b.txt"));
  const auto followed = WaitForLabel(labels.get(), L"D:\\x\\b.txt", 3, kFollowTimeoutMs);
  ASSERT_TRUE(followed);
  std::printf("rename to label move: %lu ms\n", GetTickCount() - renamed);
  EXPECT_LE(*followed, 1000u);
  EXPECT_EQ(LabelOf(labels.get(), L"D:\\x\\a.txt"), 0u);
}

TEST_F(Tracking, ARenamedFolderTakesEveryLabelBelowItButNotItsLookalikeSibling) {
  ASSERT_TRUE(MakeFolders({L"D:\\p", L"D:\\p\\x", L"D:\\pq"}));
  ASSERT_TRUE(MakeFile(L"D:\\p\\x\\a.txt"));
  ASSERT_TRUE(MakeFile(L"D:\\pq\\c.txt"));
  Label(L"D:\\p", 1);
  Label(L"D:\\p\\x\\a.txt", 2);
  Label(L"D:\\pq\\c.txt", 4);

  ASSERT_TRUE(MoveFileW(L"D:\\p", L"D:\\r"));
  ASSERT_TRUE(WaitForLabel(labels.get(), L"D:\\r\\x\\a.txt", 2, kFollowTimeoutMs));
  EXPECT_EQ(LabelOf(labels.get(), L"D:\\r"), 1u);
  EXPECT_EQ(LabelOf(labels.get(), L"D:\\p\\x\\a.txt"), 0u);
  EXPECT_EQ(LabelOf(labels.get(), L"D:\\pq\\c.txt"), 4u);

  // Wine reports changes below a renamed folder under its old name until the
  // folder is looked at again; the label must follow all the same.
  ASSERT_TRUE(MoveFileW(L"D:\\r\\x\\a.txt", L"D:\\r\\x\\b.txt"));
  EXPECT_TRUE(WaitForLabel(labels.get(), L"D:\\r\\x\\b.txt", 2, kFollowTimeoutMs));
}

TEST_F(Tracking, AFileMovedOffTheWatchedDrivesAndBackGetsItsLabelBack) {
  ASSERT_TRUE(MakeFolders({L"D:\\m", L"D:\\elsewhere"}));
  ASSERT_TRUE(MakeFile(L"D:\\m\\report.doc"));
  Label(L"D:\\m\\report.doc", 5);
  // t: is the build tree, a network drive: not watched.
  const std::wstring away = L"t:\\tracking-test-report.doc";
  DeleteFileW(away.c_str());
  ASSERT_TRUE(MoveFileExW(L"D:\\m\\report.doc", away.c_str(), MOVEFILE_COPY_ALLOWED));
  ASSERT_TRUE(WaitForLabel(labels.get(), L"D:\\m\\report.doc", 0, kFollowTimeoutMs));

  ASSERT_TRUE(MoveFileExW(away.c_str(), L"D:\\elsewhere\\report.doc", MOVEFILE_COPY_ALLOWED));
  EXPECT_TRUE(WaitForLabel(labels.get(), L"D:\\elsewhere\\report.doc", 5, kFollowTimeoutMs));
}

TEST_F(Tracking, ARemovedFileGivesItsLabelToOneOfTheSameNameCreatedLater) {
  ASSERT_TRUE(MakeFolders({L"D:\\k", L"D:\\z"}));
  ASSERT_TRUE(MakeFile(L"D:\\k\\notes.txt"));
  Label(L"D:\\k\\notes.txt", 6);
  ASSERT_TRUE(DeleteFileW(L"D:\\k\\notes.txt"));
  ASSERT_TRUE(WaitForLabel(labels.get(), L"D:\\k\\notes.txt", 0, kFollowTimeoutMs));
  ASSERT_TRUE(MakeFile(L"D:\\z\\notes.txt"));
  EXPECT_TRUE(WaitForLabel(labels.get(), L"D:\\z\\notes.txt", 6, kFollowTimeoutMs));
}

TEST_F(Tracking, ChangesInTheSystemFolderAreIgnored) {
  const std::wstring inside = L"C:\\windows\\system32\\pelko-tracking-test.txt";
  ASSERT_TRUE(MakeFile(inside));
  Label(inside, 2);
  ASSERT_TRUE(MoveFileW(inside.c_str(), L"C:\\windows\\system32\\pelko-tracking-test-2.txt"));
  // A change elsewhere after it shows that the tracker has caught up.
  ASSERT_TRUE(MakeFolders({L"D:\\after"}));
  ASSERT_TRUE(MakeFile(L"D:\\after\\a.txt"));
  Label(L"D:\\after\\a.txt", 1);
  ASSERT_TRUE(MoveFileW(L"D:\\after\\a.txt", L"D:\\after\\b.txt"));
  ASSERT_TRUE(WaitForLabel(labels.get(), L"D:\\after\\b.txt", 1, kFollowTimeoutMs));
  EXPECT_EQ(LabelOf(labels.get(), inside), 2u);
  EXPECT_EQ(LabelOf(labels.get(), L"C:\\windows\\system32\\pelko-tracking-test-2.txt"), 0u);
}

// The three ways editors save a document: each keeps plan.doc's label.
TEST_F(Tracking, SafeSavesKeepTheDocumentsLabel) {
  ASSERT_TRUE(MakeFolders({L"D:\\word", L"D:\\replace", L"D:\\replacefile"}));
  for (const wchar_t* document : {L"D:\\word\\plan.doc", L"D:\\replace\\plan.doc", L"D:\\replacefile\\plan.doc"}) {
    ASSERT_TRUE(MakeFile(document));
    Label(document, 4);
  }

  // Word: the original renamed away, the new file renamed onto its name, the original deleted.
  ASSERT_TRUE(MoveFileW(L"D:\\word\\plan.doc", L"D:\\word\\~wrl0001.tmp"));
  ASSERT_TRUE(MakeFile(L"D:\\word\\~wrd0002.tmp"));
  ASSERT_TRUE(MoveFileW(L"D:\\word\\~wrd0002.tmp", L"D:\\word\\plan.doc"));
  ASSERT_TRUE(DeleteFileW(L"D:\\word\\~wrl0001.tmp"));

  // A temporary file moved over the original.
  ASSERT_TRUE(MakeFile(L"D:\\replace\\plan.doc.tmp"));
  ASSERT_TRUE(MoveFileExW(L"D:\\replace\\plan.doc.tmp", L"D:\\replace\\plan.doc", MOVEFILE_REPLACE_EXISTING));

  // ReplaceFileW.
  ASSERT_TRUE(MakeFile(L"D:\\replacefile\\plan.doc.new"));
  ASSERT_TRUE(ReplaceFileW(L"D:\\replacefile\\plan.doc", L"D:\\replacefile\\plan.doc.new", nullptr, 0, nullptr, nullptr));

  // Give every record time to arrive (the pending-rename wait is 500 ms).
  Sleep(2500);
  EXPECT_EQ(LabelOf(labels.get(), L"D:\\word\\plan.doc"), 4u);
  EXPECT_EQ(LabelOf(labels.get(), L"D:\\replace\\plan.doc"), 4u);
  EXPECT_EQ(LabelOf(labels.get(), L"D:\\replacefile\\plan.doc"), 4u);
  EXPECT_EQ(LabelOf(labels.get(), L"D:\\word\\~wrl0001.tmp"), 0u);

  // Nothing else was labelled on the way.
  ULONG count = 0;
  unique_variant paths, values;
  ASSERT_EQ(labels->GetLabelCollection(0, &count, paths.get(), values.get()), S_OK);
  EXPECT_EQ(count, 3u);
}

TEST_F(Tracking, ABurstOfThousandsOfChangesLeavesEveryLabelWhereItBelongs) {
  constexpr int kFiles = 3000;
  ASSERT_TRUE(MakeFolders({L"D:\\burst"}));
  auto name = [](const wchar_t* stem, int i) { return L"D:\\burst\\" + std::wstring(stem) + std::to_wstring(i) + L".txt"; };
  for (int i = 0; i < kFiles; ++i) ASSERT_TRUE(MakeFile(name(L"f", i)));
  for (int i = 0; i < kFiles; ++i) ASSERT_EQ(SetLabelOf(labels.get(), name(L"f", i), 1 + i % 6), S_OK);

  const DWORD started = GetTickCount();
  for (int i = 0; i < kFiles; ++i) ASSERT_TRUE(MoveFileW(name(L"f", i).c_str(), name(L"g", i).c_str()));
  for (int i = 0; i < kFiles / 2; ++i) ASSERT_TRUE(MakeFile(name(L"h", i)));
  for (int i = 0; i < kFiles / 2; ++i) ASSERT_TRUE(DeleteFileW(name(L"g", i).c_str()));
  const DWORD changed = GetTickCount() - started;
  // The last change is the last deletion: once its label has left, every
  // record before it has been applied.
  ASSERT_TRUE(WaitForLabel(labels.get(), name(L"g", kFiles / 2 - 1), 0, 60000));
  const DWORD caughtUp = GetTickCount() - started;

  ULONG count = 0;
  unique_variant paths, values;
  ASSERT_EQ(labels->GetLabelCollection(0, &count, paths.get(), values.get()), S_OK);
  EXPECT_EQ(count, static_cast<ULONG>(kFiles / 2));
  int misplaced = 0;
  for (int i = 0; i < kFiles; ++i) {
    const ULONG expected = i >= kFiles / 2 ? 1 + i % 6 : 0;
    if (LabelOf(labels.get(), name(L"g", i)) != expected || LabelOf(labels.get(), name(L"f", i)) != 0) ++misplaced;
  }
  EXPECT_EQ(misplaced, 0);

  labels.reset();
  ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
  ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED));
  std::wstring summary;
  for (const std::wstring& line : ObservedLines(L".events")) {
    if (line.starts_with(L"Changes tracked:")) summary = line;
  }
  std::printf("%d renames, %d deletions, %d creations made in %lu ms (%.0f changes/s); the applier had caught up "
              "%lu ms after the last one\n%ls\n",
              kFiles, kFiles / 2, kFiles / 2, changed, 2.0 * kFiles * 1000.0 / changed, caughtUp - changed, summary.c_str());
  EXPECT_FALSE(summary.empty());
}

TEST_F(Tracking, StoppingEndsEveryThreadAndSaves) {
  ASSERT_TRUE(MakeFolders({L"D:\\s"}));
  ASSERT_TRUE(MakeFile(L"D:\\s\\a.txt"));
  Label(L"D:\\s\\a.txt", 3);
  ASSERT_TRUE(MoveFileW(L"D:\\s\\a.txt", L"D:\\s\\b.txt"));
  ASSERT_TRUE(WaitForLabel(labels.get(), L"D:\\s\\b.txt", 3, kFollowTimeoutMs));
  labels.reset();

  const std::vector<DWORD> servers = FindProcesses(L"PelkoLabelSvr.exe");
  ASSERT_EQ(servers.size(), 1u);
  unique_handle server(OpenProcess(SYNCHRONIZE, FALSE, servers[0]));
  ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
  // The process ends on its own once every thread has: none is left behind.
  EXPECT_EQ(WaitForSingleObject(server.get(), 10000), WAIT_OBJECT_0);
  EXPECT_NE(ReadWholeFile(kDatabaseFile).find(std::string("s\0\\\0b\0.\0t\0x\0t\0", 14)), std::string::npos);
}

// D: is missing when the service starts (an unplugged disk) and comes back
// while it runs: C: is watched meanwhile, and D: from the next look at the
// drive list on.
TEST(TrackingDrives, ADriveThatComesBackWhileTheServiceRunsIsWatched) {
  ComApartment apartment;
  ASSERT_TRUE(InstallProgram());
  ASSERT_EQ(RunInstalled(L"/Service"), 0u);
  ASSERT_TRUE(MakeFolders({L"D:\\back"}));
  ASSERT_TRUE(MakeFile(L"D:\\back\\a.txt"));
  // The launcher tells where the prefix's D: really lives.
  char dDrive[MAX_PATH] = {};
  ASSERT_TRUE(GetEnvironmentVariableA("PELKO_D_DRIVE", dDrive, MAX_PATH));
  ASSERT_TRUE(UnlinkWineDrive(L'D'));

  com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
  ASSERT_TRUE(labels);
  ASSERT_TRUE(WaitForObservedLine(L".events", L"Service started"));
  ASSERT_TRUE(MakeFolders({L"C:\\meanwhile"}));
  ASSERT_TRUE(MakeFile(L"C:\\meanwhile\\a.txt"));
  ASSERT_EQ(SetLabelOf(labels.get(), L"C:\\meanwhile\\a.txt", 1), S_OK);
  ASSERT_TRUE(MoveFileW(L"C:\\meanwhile\\a.txt", L"C:\\meanwhile\\b.txt"));
  EXPECT_TRUE(WaitForLabel(labels.get(), L"C:\\meanwhile\\b.txt", 1, kFollowTimeoutMs));

  ASSERT_TRUE(LinkWineDrive(L'D', dDrive));
  ASSERT_EQ(SetLabelOf(labels.get(), L"D:\\back\\a.txt", 2), S_OK);
  // Renamed to and fro until the drive list has been looked at again.
  bool followed = false;
  for (int attempt = 0; attempt < 12 && !followed; ++attempt) {
    const bool toB = attempt % 2 == 0;
    ASSERT_TRUE(MoveFileW(toB ? L"D:\\back\\a.txt" : L"D:\\back\\b.txt", toB ? L"D:\\back\\b.txt" : L"D:\\back\\a.txt"));
    followed = WaitForLabel(labels.get(), toB ? L"D:\\back\\b.txt" : L"D:\\back\\a.txt", 2, 2000).has_value();
    if (!followed) {
      // Not watched yet: put the label where the file is now and try again.
      SetLabelOf(labels.get(), toB ? L"D:\\back\\a.txt" : L"D:\\back\\b.txt", 0);
      SetLabelOf(labels.get(), toB ? L"D:\\back\\b.txt" : L"D:\\back\\a.txt", 2);
    }
  }
  EXPECT_TRUE(followed) << "D: was not watched after it came back";
}

}  // namespace
}  // namespace pelko
