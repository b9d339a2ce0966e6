// The locked entry points with the real mutex, file system and database.

#include "StoreEntryPoints.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "LabelFileCodec_testing.h"
#include "UniqueHandle.h"
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

// labels.lst in memory. The first Replace stops at its first chunk, the
// save under way, until the test lets it go on; the others pass.
class HeldDatabase : public ILabelDatabase {
 public:
  static constexpr DWORD kWaitMs = 20000;

  ReadOutcome Read(std::vector<std::uint8_t>&) override { return ReadOutcome::Missing; }

  bool Replace(const std::function<bool(const ByteSink&)>& produce) override {
    if (InterlockedIncrement(&m_inside) > 1) m_overlapped = true;
    InterlockedIncrement(&m_entered);
    std::vector<std::uint8_t> written;
    const bool produced = produce([&](std::span<const std::uint8_t> chunk) {
      written.insert(written.end(), chunk.begin(), chunk.end());
      if (InterlockedExchange(&m_holdNext, 0)) {
        SetEvent(m_writing.get());
        WaitForSingleObject(m_goOn.get(), kWaitMs);
      }
      return true;
    });
    if (produced) m_file = std::move(written);
    InterlockedDecrement(&m_inside);
    return produced;
  }

  std::optional<std::u16string> SetAside(bool) override { return std::nullopt; }
  std::u16string LastError() const override { return u"refused"; }

  // True once the held save is writing.
  bool WaitUntilWriting() const { return WaitForSingleObject(m_writing.get(), kWaitMs) == WAIT_OBJECT_0; }
  void GoOn() const { SetEvent(m_goOn.get()); }
  LONG Entered() const { return m_entered; }
  bool Overlapped() const { return m_overlapped; }
  std::vector<LabelEntry> Saved() const { return DecodeEntries(m_file).records; }

 private:
  unique_handle m_writing{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  unique_handle m_goOn{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  volatile LONG m_holdNext = 1;
  volatile LONG m_inside = 0;
  volatile LONG m_entered = 0;
  bool m_overlapped = false;
  std::vector<std::uint8_t> m_file;
};

// Runs body on a thread of its own, joined when the run goes out of scope.
class ThreadRun {
 public:
  explicit ThreadRun(std::function<void()> body)
      : m_thread([this, body = std::move(body)] {
          body();
          SetEvent(m_ended.get());
        }) {}
  ~ThreadRun() { m_thread.join(); }
  bool EndsWithin(DWORD boundMs) const { return WaitForSingleObject(m_ended.get(), boundMs) == WAIT_OBJECT_0; }

 private:
  unique_handle m_ended{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread m_thread;
};

class StoreSaving : public StoreEntryPoints {
 protected:
  void SetUp() override {
    StoreEntryPoints::SetUp();
    ASSERT_TRUE(CreateStoreMutex());
    AttachStoreDatabase(&database);
    ASSERT_TRUE(StoreSetLabel(L"C:\\a.txt", 1));
  }
  // A save held at its first chunk, on a thread of its own.
  void StartHeldSave() {
    saver.emplace([this] { heldSaveSucceeded = StoreSave(); });
    ASSERT_TRUE(database.WaitUntilWriting()) << "the save never began writing";
  }
  void EndHeldSave() {
    database.GoOn();
    saver.reset();
  }
  void TearDown() override {
    EndHeldSave();
    StoreEntryPoints::TearDown();
  }

  HeldDatabase database;
  std::optional<ThreadRun> saver;
  bool heldSaveSucceeded = false;
};

TEST_F(StoreSaving, TheTableIsServedWhileASaveWritesAndItsChangesStayUnsaved) {
  ASSERT_NO_FATAL_FAILURE(StartHeldSave());
  LabelValue got = 0;
  bool set = false;
  {
    // Calls that would wait for the whole save if it held the store mutex.
    ThreadRun user([&] {
      got = StoreGetLabel(L"c:\\A.TXT");
      set = StoreSetLabel(L"C:\\b.txt", 2);
    });
    EXPECT_TRUE(user.EndsWithin(10000)) << "the store stayed locked while the save wrote";
    EndHeldSave();
  }

  EXPECT_TRUE(heldSaveSucceeded);
  EXPECT_EQ(got, 1u);
  EXPECT_TRUE(set);
  EXPECT_EQ(database.Saved(), (std::vector<LabelEntry>{{u"C:\\a.txt", 1}}))
      << "the save wrote a change made after its snapshot";
  EXPECT_TRUE(StoreHasUnsavedChanges()) << "the change made during the write counted as saved";
  EXPECT_TRUE(StoreSaveIfChanged());
  EXPECT_EQ(database.Saved(), (std::vector<LabelEntry>{{u"C:\\a.txt", 1}, {u"C:\\b.txt", 2}}));
  EXPECT_FALSE(StoreHasUnsavedChanges());
}

// The saver thread's save and the final one at shutdown: the second waits,
// then writes what changed during the first.
TEST_F(StoreSaving, ASecondSaveWaitsForTheFirstAndWritesWhatItMissed) {
  ASSERT_NO_FATAL_FAILURE(StartHeldSave());
  ASSERT_TRUE(StoreSetLabel(L"C:\\c.txt", 3));
  bool secondSucceeded = false;
  {
    ThreadRun second([&] { secondSucceeded = StoreSaveIfChanged(); });
    // Time for the second save to go wrong, if it would.
    Sleep(300);
    EXPECT_EQ(database.Entered(), 1) << "the second save began writing beside the first";
    EndHeldSave();
    EXPECT_TRUE(second.EndsWithin(HeldDatabase::kWaitMs)) << "the second save never ended";
  }

  EXPECT_FALSE(database.Overlapped());
  EXPECT_EQ(database.Entered(), 2);
  EXPECT_TRUE(heldSaveSucceeded);
  EXPECT_TRUE(secondSucceeded);
  EXPECT_EQ(database.Saved(), (std::vector<LabelEntry>{{u"C:\\a.txt", 1}, {u"C:\\c.txt", 3}}));
  EXPECT_FALSE(StoreHasUnsavedChanges());
}

}  // namespace
}  // namespace pelko
