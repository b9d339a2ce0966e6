// labels.lst on a real (Wine) disk: the exact bytes, the atomic replace, and
// what happens to damaged, held and linked files.

#include "Win32LabelDatabase.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "LabelStore.h"
#include "UniqueHandle.h"
#include "Utf16.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using testing::FileExists;
using testing::MakeScratchFolder;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

class DatabaseFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base = MakeScratchFolder(L"database-file-test");
    database = std::make_unique<Win32LabelDatabase>(base);
    store.SetDatabase(database.get());
  }

  void WriteDatabase(const std::string& bytes) {
    CreateDirectoryW((base + L"\\Norvane").c_str(), nullptr);
    CreateDirectoryW(database->Folder().c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(database->FilePath(), bytes));
  }

  // Every file of the database folder whose name starts with labels.lst.bad-.
  std::vector<std::wstring> SetAsideFiles() {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    unique_hfind search(FindFirstFileW((database->Folder() + L"\\labels.lst.bad-*").c_str(), &found));
    if (search) {
      do names.push_back(database->Folder() + L"\\" + found.cFileName);
      while (FindNextFileW(search.get(), &found));
    }
    return names;
  }

  std::wstring base;
  std::unique_ptr<Win32LabelDatabase> database;
  CLabelStore store;
};

TEST_F(DatabaseFileTest, SavesTheExactFormatInAFolderItCreatesAndLoadsItBack) {
  store.SetLabel(u"D:\\Work\\Plan", 4);
  store.SetLabel(u"C:\\a.txt", 1);
  ASSERT_TRUE(store.Save()) << ToWide(store.LastSaveError()).c_str();
  EXPECT_EQ(database->FilePath(), base + L"\\Norvane\\Pelko Labels\\labels.lst");
  EXPECT_EQ(ReadWholeFile(database->FilePath()), testing::WorkedExampleLabelFile());
  EXPECT_FALSE(FileExists(database->FilePath() + L".tmp"));

  CLabelStore reloaded(nullptr, database.get());
  EXPECT_EQ(reloaded.Load().status, LoadStatus::Loaded);
  EXPECT_EQ(reloaded.Labels(), store.Labels());
  EXPECT_FALSE(reloaded.HasUnsavedChanges());
}

TEST_F(DatabaseFileTest, AFailedSaveLeavesThePreviousFileWholeAndTriesAgainLater) {
  store.SetLabel(u"C:\\a.txt", 1);
  ASSERT_TRUE(store.Save());
  const std::string saved = ReadWholeFile(database->FilePath());

  using Step = Win32LabelDatabase::Step;
  for (Step step : {Step::CreateTemporary, Step::Write, Step::Flush, Step::Replace}) {
    SCOPED_TRACE(static_cast<int>(step));
    store.SetLabel(u"C:\\b.txt", 2 + static_cast<int>(step));
    database->FailAt(step);
    EXPECT_FALSE(store.Save());
    EXPECT_FALSE(store.LastSaveError().empty());
    EXPECT_EQ(ReadWholeFile(database->FilePath()), saved);
    EXPECT_FALSE(FileExists(database->FilePath() + L".tmp")) << "temporary left behind";
    EXPECT_TRUE(store.HasUnsavedChanges());
  }

  database->FailAt(std::nullopt);
  ASSERT_TRUE(store.Save());
  EXPECT_FALSE(store.HasUnsavedChanges());
  CLabelStore reloaded(nullptr, database.get());
  reloaded.Load();
  EXPECT_EQ(reloaded.GetLabel(u"C:\\B.TXT"), 5u);
}

TEST_F(DatabaseFileTest, ALeftoverTemporaryFromACrashIsReplaced) {
  WriteDatabase(testing::WorkedExampleLabelFile());
  ASSERT_TRUE(WriteWholeFile(database->FilePath() + L".tmp", "half a file"));
  ASSERT_EQ(store.Load().status, LoadStatus::Loaded);
  store.SetLabel(u"C:\\c.txt", 3);
  ASSERT_TRUE(store.Save()) << ToWide(store.LastSaveError()).c_str();
  EXPECT_FALSE(FileExists(database->FilePath() + L".tmp"));
}

TEST_F(DatabaseFileTest, AnUnreadableFileIsMovedAsideAndSurvivesLaterSaves) {
  const std::string damaged = "\xd8\x07\0\0\x01\0\0\0\0\0\0\0";  // magic 2008
  WriteDatabase(std::string(damaged.data(), 12));
  store.SetLabel(u"C:\\from-before.txt", 1);

  const LoadResult result = store.Load();
  ASSERT_EQ(result.status, LoadStatus::SetAside);
  EXPECT_TRUE(store.Labels().empty());
  const std::wstring movedTo = ToWide(result.setAsidePath);
  EXPECT_TRUE(std::regex_match(movedTo, std::wregex(LR"(.*\\labels\.lst\.bad-\d{8}-\d{6})"))) << movedTo;
  EXPECT_FALSE(FileExists(database->FilePath()));

  store.SetLabel(u"C:\\new.txt", 2);
  ASSERT_TRUE(store.Save());
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(ReadWholeFile(movedTo), std::string(damaged.data(), 12));
  EXPECT_EQ(SetAsideFiles(), std::vector<std::wstring>{movedTo});
}

TEST_F(DatabaseFileTest, APartiallyReadableFileIsCopiedBeforeItIsReplaced) {
  const std::string damaged = testing::WorkedExampleLabelFile() + std::string("\x07\0\0\0", 4);  // odd length
  std::string file = damaged;
  file[8] = 3;  // three records announced
  WriteDatabase(file);

  const LoadResult result = store.Load();
  ASSERT_EQ(result.status, LoadStatus::Partial);
  EXPECT_EQ(store.Labels().size(), 2u);
  ASSERT_FALSE(result.setAsidePath.empty());
  EXPECT_EQ(ReadWholeFile(ToWide(result.setAsidePath)), file);

  ASSERT_TRUE(store.Save());
  EXPECT_EQ(ReadWholeFile(database->FilePath()), testing::WorkedExampleLabelFile());
  EXPECT_EQ(ReadWholeFile(ToWide(result.setAsidePath)), file);
}

TEST_F(DatabaseFileTest, AFileHeldByAnotherProgramForAMomentIsRetried) {
  WriteDatabase(testing::WorkedExampleLabelFile());
  unique_hfile held(CreateFileW(database->FilePath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  std::thread release([&] {
    Sleep(300);
    held.reset();
  });
  const LoadResult result = store.Load();
  release.join();
  EXPECT_EQ(result.status, LoadStatus::Loaded);
  EXPECT_EQ(store.Labels().size(), 2u);
}

TEST_F(DatabaseFileTest, AFileHeldThroughoutIsNeverOverwrittenAndIsSetAsideOnceFree) {
  WriteDatabase(testing::WorkedExampleLabelFile());
  database->SetHeldFileRetries(3, 20);
  unique_hfile held(CreateFileW(database->FilePath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);

  EXPECT_EQ(store.Load().status, LoadStatus::Unreadable);
  store.SetLabel(u"C:\\new.txt", 2);
  EXPECT_FALSE(store.Save());

  held.reset();
  EXPECT_EQ(ReadWholeFile(database->FilePath()), testing::WorkedExampleLabelFile());
  ASSERT_TRUE(store.Save()) << ToWide(store.LastSaveError()).c_str();
  const auto setAside = SetAsideFiles();
  ASSERT_EQ(setAside.size(), 1u);
  EXPECT_EQ(ReadWholeFile(setAside[0]), testing::WorkedExampleLabelFile());
}

TEST_F(DatabaseFileTest, NothingIsReadOrWrittenThroughALinkedFolder) {
  const std::wstring elsewhere = MakeScratchFolder(L"database-file-test-elsewhere");
  ASSERT_TRUE(testing::MakeUnixSymlink(base + L"\\Norvane", elsewhere));
  store.SetLabel(u"C:\\a.txt", 1);
  EXPECT_FALSE(store.Save());
  EXPECT_NE(ToWide(store.LastSaveError()).find(L"linked"), std::wstring::npos);
  EXPECT_FALSE(FileExists(elsewhere + L"\\Pelko Labels\\labels.lst"));

  CreateDirectoryW((elsewhere + L"\\Pelko Labels").c_str(), nullptr);
  ASSERT_TRUE(WriteWholeFile(elsewhere + L"\\Pelko Labels\\labels.lst", testing::WorkedExampleLabelFile()));
  EXPECT_EQ(store.Load().status, LoadStatus::Unreadable);
  EXPECT_TRUE(store.Labels().empty());
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(ReadWholeFile(elsewhere + L"\\Pelko Labels\\labels.lst"), testing::WorkedExampleLabelFile());

  // A save replaces a linked labels.lst, never writes through it. (Reading
  // is refused too on Windows, but Wine 8 shows a link to a file as the
  // file itself, so that half cannot be seen here.)
  const std::wstring target = elsewhere + L"\\target.lst";
  ASSERT_TRUE(WriteWholeFile(target, testing::WorkedExampleLabelFile()));
  Win32LabelDatabase other(MakeScratchFolder(L"database-file-test-other"));
  CLabelStore linkedFileStore(nullptr, &other);
  ASSERT_TRUE(linkedFileStore.Save());  // creates the folders
  ASSERT_TRUE(DeleteFileW(other.FilePath().c_str()));
  ASSERT_TRUE(testing::MakeUnixSymlink(other.FilePath(), target));
  linkedFileStore.SetLabel(u"C:\\b.txt", 2);
  ASSERT_TRUE(linkedFileStore.Save()) << ToWide(linkedFileStore.LastSaveError()).c_str();
  EXPECT_EQ(ReadWholeFile(target), testing::WorkedExampleLabelFile()) << "the link's target was written";
}

}  // namespace
}  // namespace pelko
