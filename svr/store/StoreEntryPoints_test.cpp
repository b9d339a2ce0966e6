// The locked entry points with the real mutex, file system and database.

#include "StoreEntryPoints.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Win32LabelDatabase.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using testing::MakeScratchFolder;

// Every case starts and ends with the process's table as it was at start:
// empty, no database, no mutex.
class StoreEntryPoints : public ::testing::Test {
 protected:
  void SetUp() override { ResetStoreForTesting(); }
  void TearDown() override { ResetStoreForTesting(); }
};

TEST_F(StoreEntryPoints, AnswerIdleBeforeTheMutexExists) {
  EXPECT_EQ(StoreGetLabel(L"C:\\a.txt"), 0u);
  EXPECT_FALSE(StoreSetLabel(L"C:\\a.txt", 1));
  EXPECT_FALSE(StoreSave());
  EXPECT_EQ(StoreLoad().status, LoadStatus::NotLocked);

  ULONG count = 99;
  std::optional<std::vector<LabelEntry>> entries = std::vector<LabelEntry>{{u"untouched", 7}};
  EXPECT_EQ(StoreGetLabelCollection(0, &count, &entries), S_OK);
  EXPECT_EQ(count, 0u);
  ASSERT_TRUE(entries.has_value());
  EXPECT_EQ(entries->front().path, u"untouched");
  std::vector<LabelEntry> children{{u"stale", 1}};
  EXPECT_EQ(StoreGetFolderLabels(L"C:\\", &children), S_FALSE) << "an idle answer must not pass for an empty folder";
  EXPECT_TRUE(children.empty());

  ASSERT_TRUE(CreateStoreMutex());
  EXPECT_EQ(StoreGetLabel(L"C:\\a.txt"), 0u) << "the idle calls changed the table";
  CloseStoreMutex();
  EXPECT_FALSE(StoreSetLabel(L"C:\\a.txt", 1)) << "a closed mutex must idle too";
}

TEST_F(StoreEntryPoints, ServeLabelsAndTreatANullPathAsEmpty) {
  ASSERT_TRUE(CreateStoreMutex());
  ULONG count = 99;
  std::optional<std::vector<LabelEntry>> entries;
  EXPECT_EQ(StoreGetLabelCollection(0, &count, &entries), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(entries.has_value()) << "an empty table writes no arrays";

  EXPECT_TRUE(StoreSetLabel(L"C:\\b.txt", 2));
  EXPECT_TRUE(StoreSetLabel(L"C:\\A.txt", 1));
  EXPECT_TRUE(StoreSetLabel(nullptr, 3));
  EXPECT_EQ(StoreGetLabel(L""), 3u);
  EXPECT_EQ(StoreGetLabel(L"c:\\a.TXT"), 1u);
  StoreClearLabel(nullptr);
  EXPECT_EQ(StoreGetLabel(L""), 0u);

  EXPECT_EQ(StoreGetLabelCollection(0, &count, &entries), S_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(*entries, (std::vector<LabelEntry>{{u"C:\\A.txt", 1}, {u"C:\\b.txt", 2}}));
  std::vector<LabelEntry> children;
  EXPECT_EQ(StoreGetFolderLabels(L"c:\\", &children), S_OK);
  EXPECT_EQ(children, *entries);

  entries.reset();
  EXPECT_EQ(StoreGetLabelCollection(5, &count, &entries), S_OK);
  EXPECT_EQ(count, 0u);
  ASSERT_TRUE(entries.has_value());
  EXPECT_TRUE(entries->empty());
  CloseStoreMutex();
}

TEST_F(StoreEntryPoints, SaveIfChangedWritesOnlyAfterAChange) {
  const std::wstring base = MakeScratchFolder(L"entry-points-save");
  Win32LabelDatabase database(base);
  ASSERT_TRUE(CreateStoreMutex());
  AttachStoreDatabase(&database);
  EXPECT_EQ(StoreLoad().status, LoadStatus::NoFile);

  EXPECT_TRUE(StoreSaveIfChanged());
  EXPECT_FALSE(testing::FileExists(database.FilePath())) << "nothing changed, nothing to write";
  StoreSetLabel(L"C:\\a.txt", 1);
  EXPECT_TRUE(StoreSaveIfChanged());
  ASSERT_TRUE(testing::FileExists(database.FilePath()));
  ASSERT_TRUE(DeleteFileW(database.FilePath().c_str()));
  StoreSetLabel(L"C:\\a.txt", 1);  // same label: no change
  EXPECT_TRUE(StoreSaveIfChanged());
  EXPECT_FALSE(testing::FileExists(database.FilePath()));
  CloseStoreMutex();
}

// Real folders on D:, with a link that leads back to its own parent.
TEST_F(StoreEntryPoints, AnAddedFolderClaimsPooledLabelsWithoutFollowingLinks) {
  const std::wstring root = MakeScratchFolder(L"entry-points-claim");
  for (const wchar_t* folder : {L"\\from", L"\\from\\P", L"\\from\\P\\sub", L"\\to", L"\\to\\P", L"\\to\\P\\sub"}) {
    CreateDirectoryW((root + folder).c_str(), nullptr);
  }
  ASSERT_TRUE(testing::WriteWholeFile(root + L"\\to\\P\\sub\\a.txt", "x"));
  ASSERT_TRUE(testing::MakeUnixSymlink(root + L"\\to\\P\\loop", root + L"\\to\\P"));

  ASSERT_TRUE(CreateStoreMutex());
  StoreSetLabel((root + L"\\from\\P").c_str(), 1);
  StoreSetLabel((root + L"\\from\\P\\sub\\a.txt").c_str(), 2);
  StoreSetLabel((root + L"\\from\\P\\loop").c_str(), 3);
  StoreSetLabel((root + L"\\from\\P\\loop\\sub\\a.txt").c_str(), 4);
  StoreItemRemoved((root + L"\\from\\P").c_str());
  EXPECT_EQ(StoreGetLabel((root + L"\\from\\P").c_str()), 0u);

  StoreItemAdded((root + L"\\to\\P").c_str());
  EXPECT_EQ(StoreGetLabel((root + L"\\to\\P").c_str()), 1u);
  EXPECT_EQ(StoreGetLabel((root + L"\\to\\P\\sub\\a.txt").c_str()), 2u);
  EXPECT_EQ(StoreGetLabel((root + L"\\to\\P\\loop").c_str()), 3u) << "the link itself is an item";
  EXPECT_EQ(StoreGetLabel((root + L"\\to\\P\\loop\\sub\\a.txt").c_str()), 0u) << "nothing is found through a link";
  CloseStoreMutex();
}

// Without the mutex these threads would corrupt the table's tree.
TEST_F(StoreEntryPoints, SerialiseConcurrentUsers) {
  ASSERT_TRUE(CreateStoreMutex());
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failed] {
      for (int i = 0; i < 2000; ++i) {
        const std::wstring path = L"C:\\t" + std::to_wstring(t) + L"\\f" + std::to_wstring(i);
        if (!StoreSetLabel(path.c_str(), 1 + i % 6) || StoreGetLabel(path.c_str()) != ULONG(1 + i % 6)) failed = true;
        if (i % 3 == 0) StoreItemRenamed(path.c_str(), (path + L"r").c_str());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(failed);
  ULONG count = 0;
  std::optional<std::vector<LabelEntry>> entries;
  EXPECT_EQ(StoreGetLabelCollection(0, &count, &entries), S_OK);
  EXPECT_EQ(count, 8000u);
  CloseStoreMutex();
}

}  // namespace
}  // namespace pelko
