// The drive watcher on real (Wine) drives: every change of a burst, roots
// that fail and come back, and the stop. Runs in a prefix of its own: it
// changes the prefix's drive letters.

#include "DriveWatcher.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "TestDiagnostics.h"
#include "Utf16.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using testing::MakeScratchFolder;
using testing::WriteWholeFile;

// Collects records until want of them arrived or the time is up.
std::vector<ChangeRecord> Collect(CDriveWatcher& watcher, std::size_t want, DWORD timeoutMs = 10000) {
  std::vector<ChangeRecord> records;
  const DWORD started = GetTickCount();
  while (records.size() < want && GetTickCount() - started < timeoutMs) {
    ChangeRecord record;
    if (watcher.PopChange(record)) {
      records.push_back(record);
    } else {
      watcher.WaitForChange(100);
    }
  }
  return records;
}

bool WaitUntil(const auto& done) { return testing::WaitUntil(15000, done); }

TEST(DriveWatcher, ReportsEveryChangeOfABurstInOrder) {
  const std::wstring folder = MakeScratchFolder(L"burst");
  CDriveWatcher watcher;
  ASSERT_TRUE(watcher.AddRoot(L"D:\\"));
  ASSERT_TRUE(WaitUntil([&] { return watcher.GetStatistics().armedRoots == 1; }));
  Collect(watcher, SIZE_MAX, 300);  // whatever the scratch folder's making left

  constexpr int kFiles = 1000;
  for (int i = 0; i < kFiles; ++i) ASSERT_TRUE(WriteWholeFile(folder + L"\\f" + std::to_wstring(i), ""));
  for (int i = 0; i < kFiles; ++i) ASSERT_TRUE(MoveFileW((folder + L"\\f" + std::to_wstring(i)).c_str(), (folder + L"\\g" + std::to_wstring(i)).c_str()));
  for (int i = 0; i < kFiles; ++i) ASSERT_TRUE(DeleteFileW((folder + L"\\g" + std::to_wstring(i)).c_str()));

  const std::vector<ChangeRecord> records = Collect(watcher, 3 * kFiles);
  const CDriveWatcher::Statistics statistics = watcher.GetStatistics();
  std::printf("%zu records, %llu overflows\n", records.size(), static_cast<unsigned long long>(statistics.overflows));
  ASSERT_EQ(statistics.overflows, 0u);
  // Each file: added, renamed (never split), removed, in that order.
  std::vector<int> stage(kFiles, 0);
  int outOfOrder = 0;
  for (const ChangeRecord& record : records) {
    const std::wstring path = ToWide(record.path);
    const int i = std::stoi(path.substr(path.rfind(L'\\') + 2));
    const int expected = record.action == kItemAdded ? 0 : record.action == kItemRenamedOldName ? 1 : 2;
    if (stage[i] != expected) ++outOfOrder;
    if (record.action == kItemRenamedOldName) {
      EXPECT_EQ(ToWide(record.secondPath), folder + L"\\g" + std::to_wstring(i));
    }
    stage[i] = expected + 1;
  }
  EXPECT_EQ(records.size(), static_cast<std::size_t>(3 * kFiles));
  EXPECT_EQ(outOfOrder, 0);
}

TEST(DriveWatcher, ARootThatCannotBeOpenedLeavesTheOthersWatchedAndIsRetried) {
  const std::wstring scratch = MakeScratchFolder(L"roots");
  const std::wstring qFolder = MakeScratchFolder(L"roots-q");
  testing::UnlinkWineDrive(L'Q');
  CDriveWatcher watcher;
  ASSERT_TRUE(watcher.AddRoot(L"Q:\\"));
  ASSERT_TRUE(watcher.AddRoot(L"D:\\"));
  ASSERT_TRUE(WaitUntil([&] { return watcher.GetStatistics().armedRoots == 1; }));
  EXPECT_GE(watcher.GetStatistics().rootFailures, 1u);

  ASSERT_TRUE(WriteWholeFile(scratch + L"\\seen.txt", ""));
  const auto seen = Collect(watcher, 1);
  ASSERT_EQ(seen.size(), 1u) << "D: is not watched while Q: fails";
  EXPECT_EQ(ToWide(seen[0].path), scratch + L"\\seen.txt");

  // The letter comes (back): within the growing pause it is watched too.
  ASSERT_TRUE(testing::LinkWineDrive(L'Q', testing::UnixPathOf(qFolder)));
  ASSERT_TRUE(WaitUntil([&] { return watcher.GetStatistics().armedRoots == 2; }));
  Collect(watcher, SIZE_MAX, 300);
  ASSERT_TRUE(WriteWholeFile(L"Q:\\on-q.txt", ""));
  const auto onQ = Collect(watcher, 1);
  ASSERT_EQ(onQ.size(), 1u);
  EXPECT_EQ(ToWide(onQ[0].path), L"Q:\\on-q.txt");
  testing::UnlinkWineDrive(L'Q');
}

TEST(DriveWatcher, StopEndsTheThreadAndQueuesAWaitingRenameAsARemoval) {
  const std::wstring folder = MakeScratchFolder(L"stop");
  const std::wstring outside = MakeScratchFolder(L"stop-outside");
  CDriveWatcher watcher;
  ASSERT_TRUE(watcher.AddRoot(folder));
  ASSERT_TRUE(WaitUntil([&] { return watcher.GetStatistics().armedRoots == 1; }));
  ASSERT_TRUE(WriteWholeFile(folder + L"\\leaving.txt", ""));
  ASSERT_EQ(Collect(watcher, 1).size(), 1u);

  // Renamed out of the watched folder: only the old name is seen.
  ASSERT_TRUE(MoveFileW((folder + L"\\leaving.txt").c_str(), (outside + L"\\leaving.txt").c_str()));
  Sleep(100);
  watcher.Stop();
  EXPECT_FALSE(watcher.ThreadRunning());
  const auto records = Collect(watcher, 1, 500);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].action, static_cast<std::uint32_t>(kItemRemoved));
  EXPECT_EQ(ToWide(records[0].path), folder + L"\\leaving.txt");
}

}  // namespace
}  // namespace pelko
