#include "LabelStore.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "LabelFileCodec_testing.h"
#include "LabelStore_testing.h"

namespace pelko {
namespace {

using Bytes = std::vector<std::uint8_t>;

// labels.lst in memory, with a switch for each way the disk can refuse.
class FakeDatabase : public ILabelDatabase {
 public:
  std::optional<Bytes> file;  // nothing: there is no labels.lst
  Bytes& File() { return file.value(); }
  std::vector<Bytes> setAside;  // what each successful SetAside left beside the file
  int copies = 0;
  int moves = 0;

  bool readFails = false;
  bool replaceFails = false;
  bool copyFails = false;
  bool moveFails = false;

  // Runs once while Replace writes: before the first chunk arrives
  // (chunksBeforeChange 0), or after that many chunks.
  std::function<void()> whileWriting;
  int chunksBeforeChange = 0;
  int chunksOfLastReplace = 0;

  ReadOutcome Read(std::vector<std::uint8_t>& contents) override {
    if (readFails) {
      Fail(u"held by another program");
      return ReadOutcome::Unreadable;
    }
    if (!file) return ReadOutcome::Missing;
    contents = *file;
    return ReadOutcome::Read;
  }

  bool Replace(const std::function<bool(const ByteSink&)>& produce) override {
    Bytes written;
    chunksOfLastReplace = 0;
    const auto changeAtItsMoment = [&] {
      if (!whileWriting || chunksOfLastReplace != chunksBeforeChange) return;
      const auto change = std::exchange(whileWriting, nullptr);
      change();
    };
    changeAtItsMoment();
    const bool produced = produce([&](std::span<const std::uint8_t> chunk) {
      written.insert(written.end(), chunk.begin(), chunk.end());
      ++chunksOfLastReplace;
      changeAtItsMoment();
      return true;
    });
    if (!produced || replaceFails) return Fail(u"disk full");
    file = std::move(written);
    return true;
  }

  std::optional<std::u16string> SetAside(bool keepOriginal) override {
    if (keepOriginal ? copyFails : moveFails) {
      Fail(u"access denied");
      return std::nullopt;
    }
    if (!file) {
      Fail(u"no file to set aside");
      return std::nullopt;
    }
    setAside.push_back(*file);
    if (keepOriginal) {
      ++copies;
    } else {
      ++moves;
      file.reset();
    }
    return u"labels.lst.bad-" + std::u16string(1, static_cast<char16_t>(u'0' + setAside.size()));
  }

  std::u16string LastError() const override { return m_error; }

 private:
  bool Fail(std::u16string error) {
    m_error = std::move(error);
    return false;
  }
  std::u16string m_error;
};

// --- Path helpers ---

TEST(LabelPaths, LastComponent) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"D:\\a\\Report.doc", u"Report.doc"},
      {u"D:\\a\\Project\\", u"Project\\"},
      {u"C:\\", u""},
      {u"abc", u""},
      {u"\\", u""},
      {u"C:\\a", u"a"},
      {u"\\\\server\\share", u"share"},
  };
  for (const auto& [path, last] : cases) EXPECT_EQ(GetLastComponent(path), last) << Printable(path);
}

TEST(LabelPaths, RelativePathStartsWithTheRemovedName) {
  struct {
    std::u16string removed, path, key;
  } const cases[] = {
      {u"D:\\a\\P", u"D:\\a\\P", u"P"},
      {u"D:\\a\\P", u"D:\\a\\P\\x\\y.txt", u"P\\x\\y.txt"},
      {u"D:\\a\\P", u"D:\\a\\PX\\b.txt", u""},
      {u"D:\\a\\P", u"D:\\a\\P.bak", u""},
      {u"D:\\a\\P", u"D:\\a", u""},
      {u"D:\\a\\P", u"E:\\a\\P\\x", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(GetRelativePath(c.removed, c.path), c.key) << Printable(c.path);
}

// --- Setting and reading labels ---

TEST(LabelTable, SetLabelReplacesKeepingTheFirstLetterCase) {
  CLabelStore store;
  store.SetLabel(u"C:\\Docs\\Report.doc", 1);
  store.SetLabel(u"c:\\DOCS\\report.DOC", 42);
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\Docs\\Report.doc", 42}}));
  EXPECT_EQ(store.GetLabel(u"C:\\docs\\REPORT.doc"), 42u);
}

TEST(LabelTable, ZeroAndClearRemoveOnlyTheirEntry) {
  CLabelStore store;
  SetAll(store, {{u"C:\\a", 1}, {u"C:\\b", 2}, {u"C:\\c", 0xFFFFFFFFu}});
  store.SetLabel(u"c:\\A", kNoLabel);
  store.ClearLabel(u"C:\\B");
  store.SetLabel(u"C:\\never", kNoLabel);
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\c", 0xFFFFFFFFu}}));
  EXPECT_EQ(store.GetLabel(u"C:\\a"), kNoLabel);
}

TEST(LabelTable, OnlyAsciiLettersFold) {
  CLabelStore store;
  store.SetLabel(u"C:\\\u00C4rger.txt", 1);  // Ä
  store.SetLabel(u"c:\\\u00E4rger.TXT", 2);  // ä
  EXPECT_EQ(store.Labels().size(), 2u);
  store.ClearLabel(u"C:\\\u00E4RGER.txt");
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\\u00C4rger.txt", 1}}));
}

TEST(LabelTable, FoldedOrderIsWalkedListedAndSaved) {
  // "\" sorts before "_" and "_" before letters, once A-Z are folded.
  const Entries ordered = {{u"C:\\A\\b", 3}, {u"c:\\a_b", 2}, {u"C:\\AB", 1}};
  FakeDatabase db;
  CLabelStore store(nullptr, &db);
  SetAll(store, {ordered[2], ordered[1], ordered[0]});

  EXPECT_EQ(TableOf(store), ordered);
  EXPECT_EQ(store.GetLabelCollection(kNoLabel), ordered);
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(DecodeEntries(db.File()).records, ordered);
}

TEST(LabelTable, LabelCollection) {
  CLabelStore store;
  EXPECT_EQ(store.GetLabelCollection(kNoLabel), std::nullopt);
  EXPECT_EQ(store.GetLabelCollection(1), std::nullopt);

  SetAll(store, {{u"C:\\z", 1}, {u"C:\\b", 2}, {u"C:\\a", 1}, {u"C:\\big", 42}});
  EXPECT_EQ(store.GetLabelCollection(1), (Entries{{u"C:\\a", 1}, {u"C:\\z", 1}}));
  EXPECT_EQ(store.GetLabelCollection(42), (Entries{{u"C:\\big", 42}}));
  EXPECT_EQ(store.GetLabelCollection(5), Entries{});  // entries, none of that kind
  EXPECT_EQ(store.GetLabelCollection(kNoLabel)->size(), 4u);

  for (const auto& path : {u"C:\\z", u"C:\\b", u"C:\\a", u"C:\\big"}) store.ClearLabel(path);
  EXPECT_EQ(store.GetLabelCollection(kNoLabel), std::nullopt);
}

TEST(LabelTable, FolderLabelsAreTheDirectChildrenOnly) {
  CLabelStore store;
  SetAll(store, {{u"D:\\P", 1},            // the folder itself: not its own child
                 {u"D:\\P\\a.txt", 2},
                 {u"D:\\p\\B.txt", 3},     // another letter case of the folder
                 {u"D:\\P\\sub", 4},       // a child folder, and a labelled subtree below it
                 {u"D:\\P\\sub\\x.txt", 5},
                 {u"D:\\P\\sub\\deep\\y.txt", 5},
                 {u"D:\\P\\sub!", 6},      // "!" sorts before "\": just before the subtree
                 {u"D:\\P\\subA", 6},      // after the subtree
                 {u"D:\\P\\\\odd", 1},     // an empty name: no child
                 {u"D:\\PX\\c.txt", 1},    // a folder that only begins like it
                 {u"D:\\top.txt", 2}});
  const Entries children = {{u"D:\\P\\a.txt", 2}, {u"D:\\p\\B.txt", 3}, {u"D:\\P\\sub", 4},
                            {u"D:\\P\\sub!", 6},  {u"D:\\P\\subA", 6}};
  struct Case {
    std::u16string folder;
    Entries expected;
  } cases[] = {
      {u"D:\\P", children},
      {u"d:\\p\\", children},
      {u"D:\\P\\sub", {{u"D:\\P\\sub\\x.txt", 5}}},
      {u"D:\\", {{u"D:\\P", 1}, {u"D:\\top.txt", 2}}},
      {u"D:\\P\\a.txt", {}},
      {u"D:\\none", {}},
      {u"", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store.GetFolderLabels(c.folder), c.expected) << std::string(c.folder.begin(), c.folder.end());
  }
}

// --- Removal and the pool of removed labels ---

TEST(LabelTable, RemovedFolderGoesToThePoolWithEverythingBelowIt) {
  CLabelStore store;
  // " ", "-" and "." sort between D:\P and D:\P\..., "_" and "X" after it.
  SetAll(store, {{u"D:\\P", 1},
                 {u"D:\\P\\a.txt", 2},
                 {u"d:\\P\\Sub\\b.txt", 3},
                 {u"D:\\P 2", 4},
                 {u"D:\\P-old\\c.txt", 5},
                 {u"D:\\P.bak\\d.txt", 6},
                 {u"D:\\P_x", 7},
                 {u"D:\\PX\\b.txt", 8},
                 {u"D:\\Q\\P\\e.txt", 9}});
  store.ItemRemoved(u"D:\\P");

  EXPECT_EQ(TableOf(store), (Entries{{u"D:\\P 2", 4},
                                     {u"D:\\P-old\\c.txt", 5},
                                     {u"D:\\P.bak\\d.txt", 6},
                                     {u"D:\\P_x", 7},
                                     {u"D:\\PX\\b.txt", 8},
                                     {u"D:\\Q\\P\\e.txt", 9}}));
  EXPECT_EQ(PoolOf(store), (Entries{{u"P", 1}, {u"P\\a.txt", 2}, {u"P\\Sub\\b.txt", 3}}));
  EXPECT_TRUE(store.HasUnsavedChanges());
}

TEST(LabelTable, PooledKeyKeepsItsEarlierLabel) {
  CLabelStore store;
  SetAll(store, {{u"D:\\A\\notes.txt", 1}, {u"D:\\B\\Notes.txt", 2}});
  store.ItemRemoved(u"D:\\A\\notes.txt");
  store.ItemRemoved(u"D:\\B\\Notes.txt");
  EXPECT_TRUE(store.Labels().empty());
  EXPECT_EQ(PoolOf(store), (Entries{{u"notes.txt", 1}}));
}

TEST(LabelTable, RemovingAnUnlabelledPathChangesNothing) {
  FakeDatabase db;
  CLabelStore store(nullptr, &db);
  store.SetLabel(u"D:\\PX\\a.txt", 1);
  ASSERT_TRUE(store.Save());
  store.ItemRemoved(u"D:\\P");
  EXPECT_FALSE(store.HasUnsavedChanges());
  EXPECT_EQ(TableOf(store), (Entries{{u"D:\\PX\\a.txt", 1}}));
  EXPECT_TRUE(store.RemovedPool().empty());
}

// --- Adding: labels claimed back from the pool ---

class ItemAddedTest : public ::testing::Test {
 protected:
  // Labels the entries, then removes one item: the first half of a move.
  void RemoveFromOld(const Entries& entries, std::u16string_view removed) {
    SetAll(store, entries);
    store.ItemRemoved(removed);
  }

  FakeFileSystem fs;
  CLabelStore store{&fs};
};

TEST_F(ItemAddedTest, FileClaimsItsNameInItsOwnLetterCase) {
  RemoveFromOld({{u"D:\\Old\\Report.doc", 3}, {u"D:\\Old\\Other.doc", 4}}, u"D:\\Old\\Report.doc");
  fs.Add(u"D:\\New\\REPORT.DOC");
  store.ItemAdded(u"D:\\New\\REPORT.DOC");
  EXPECT_EQ(store.GetLabel(u"D:\\New\\Report.doc"), 3u);
  EXPECT_EQ(store.Labels().find(u"D:\\New\\Report.doc")->first, u"D:\\New\\REPORT.DOC");
  EXPECT_TRUE(store.RemovedPool().empty());
}

TEST_F(ItemAddedTest, PathThatNoLongerExistsStillClaimsAsAFile) {
  RemoveFromOld({{u"D:\\Old\\a.txt", 5}}, u"D:\\Old\\a.txt");
  store.ItemAdded(u"D:\\New\\a.txt");  // not in fs: moved on again already
  EXPECT_EQ(store.GetLabel(u"D:\\New\\a.txt"), 5u);
  EXPECT_EQ(fs.listCalls, 0);
}

TEST_F(ItemAddedTest, FileWithAnotherNameClaimsNothing) {
  RemoveFromOld({{u"D:\\Old\\\u00C4.txt", 5}}, u"D:\\Old\\\u00C4.txt");
  for (const auto& path : {u"D:\\New\\\u00E4.txt", u"D:\\New\\\u00C4.txt.bak", u"D:\\New\\x\u00C4.txt"}) {
    store.ItemAdded(path);
  }
  EXPECT_TRUE(store.Labels().empty());
  EXPECT_EQ(PoolOf(store), (Entries{{u"\u00C4.txt", 5}}));
}

TEST_F(ItemAddedTest, FolderClaimsWhatItHoldsAndLeavesTheRest) {
  RemoveFromOld({{u"D:\\Old\\Proj", 1},
                 {u"D:\\Old\\Proj\\a.txt", 2},
                 {u"D:\\Old\\Proj\\sub\\deeper\\b.txt", 3},
                 {u"D:\\Old\\Proj\\gone.txt", 4},
                 {u"D:\\Old\\Proj\\.git\\config", 5},
                 {u"D:\\Old\\Proj\\link", 6},
                 {u"D:\\Old\\Proj\\link\\inside.txt", 7}},
                u"D:\\Old\\Proj");
  fs.Add(u"D:\\New\\Proj\\a.txt");
  fs.Add(u"D:\\New\\Proj\\sub\\deeper\\b.txt");
  fs.Add(u"D:\\New\\Proj\\.git\\config");
  fs.Add(u"D:\\New\\Proj\\link", FakeFileSystem::Kind::Link);
  fs.Add(u"D:\\New\\Proj\\link\\inside.txt");

  store.ItemAdded(u"D:\\New\\Proj");

  EXPECT_EQ(TableOf(store), (Entries{{u"D:\\New\\Proj", 1},
                                     {u"D:\\New\\Proj\\a.txt", 2},
                                     {u"D:\\New\\Proj\\link", 6},
                                     {u"D:\\New\\Proj\\sub\\deeper\\b.txt", 3}}));
  // Not on disk, under a dot-named folder, or inside a link: still pooled.
  EXPECT_EQ(PoolOf(store), (Entries{{u"Proj\\.git\\config", 5},
                                    {u"Proj\\gone.txt", 4},
                                    {u"Proj\\link\\inside.txt", 7}}));
}

TEST_F(ItemAddedTest, FolderClaimsNestedItemsWithoutALabelOfItsOwn) {
  RemoveFromOld({{u"D:\\Old\\Proj\\a.txt", 2}}, u"D:\\Old\\Proj");
  fs.Add(u"D:\\New\\Proj\\a.txt");
  store.ItemAdded(u"D:\\New\\Proj");
  EXPECT_EQ(TableOf(store), (Entries{{u"D:\\New\\Proj\\a.txt", 2}}));
  EXPECT_TRUE(store.RemovedPool().empty());
}

TEST_F(ItemAddedTest, FolderIsListedOnlyWhenThePoolHoldsACandidate) {
  RemoveFromOld({{u"D:\\Old\\Px\\a.txt", 1},
                 {u"D:\\Old\\P.bak", 2},
                 {u"D:\\Old\\P-1\\b.txt", 3},
                 {u"D:\\Old\\Other\\P", 4}},
                u"D:\\Old\\Px");
  for (const auto& removed : {u"D:\\Old\\P.bak", u"D:\\Old\\P-1", u"D:\\Old\\Other"}) store.ItemRemoved(removed);
  const Entries pooled = PoolOf(store);
  ASSERT_EQ(pooled.size(), 4u);
  fs.Add(u"D:\\New\\P\\a.txt");
  fs.Add(u"D:\\Empty", FakeFileSystem::Kind::Folder);

  store.ItemAdded(u"D:\\New\\P");
  store.ItemAdded(u"D:\\Empty");
  EXPECT_EQ(fs.listCalls, 0);
  EXPECT_EQ(PoolOf(store), pooled);

  // A key that differs only in letter case is a candidate.
  RemoveFromOld({{u"D:\\Old\\p\\a.txt", 5}}, u"D:\\Old\\p");
  store.ItemAdded(u"D:\\New\\P");
  EXPECT_GT(fs.listCalls, 0);
  EXPECT_EQ(store.GetLabel(u"D:\\New\\P\\a.txt"), 5u);
}

// --- Renaming ---

TEST(LabelTableRename, FolderRenameMovesItsSubtreeOnly) {
  CLabelStore store;
  SetAll(store, {{u"C:\\P", 1},
                 {u"C:\\P\\x\\a.txt", 2},
                 {u"C:\\PX", 3},
                 {u"C:\\P.bak\\f", 4},
                 {u"C:\\Q2", 5}});
  store.ItemRenamed(u"C:\\P", u"C:\\Q");
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\P.bak\\f", 4},
                                     {u"C:\\PX", 3},
                                     {u"C:\\Q", 1},
                                     {u"C:\\Q2", 5},
                                     {u"C:\\Q\\x\\a.txt", 2}}));
}

TEST(LabelTableRename, CaseOnlyRenameRewritesEveryAffectedPath) {
  CLabelStore store;
  SetAll(store, {{u"C:\\p", 1}, {u"C:\\p\\a.txt", 2}, {u"c:\\p\\Sub\\b.txt", 3}, {u"C:\\pX", 4}});
  store.ItemRenamed(u"C:\\p", u"C:\\P");
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\P", 1}, {u"C:\\P\\a.txt", 2}, {u"C:\\P\\Sub\\b.txt", 3}, {u"C:\\pX", 4}}));
}

TEST(LabelTableRename, TwoQuickRenamesEndAtTheLastName) {
  FakeFileSystem fs;  // neither A nor B exists any more when the renames are applied
  fs.Add(u"C:\\C\\a.txt");
  CLabelStore store(&fs);
  SetAll(store, {{u"C:\\A", 1}, {u"C:\\A\\a.txt", 2}, {u"C:\\A\\s\\b.txt", 3}});
  store.ItemRenamed(u"C:\\A", u"C:\\B");
  store.ItemRenamed(u"C:\\B", u"C:\\C");
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\C", 1}, {u"C:\\C\\a.txt", 2}, {u"C:\\C\\s\\b.txt", 3}}));
}

TEST(LabelTableRename, FileRenameMovesOneLabel) {
  CLabelStore store;
  SetAll(store, {{u"C:\\a.txt", 1}, {u"C:\\a.txt.bak", 2}});
  store.ItemRenamed(u"C:\\a.txt", u"C:\\B.txt");
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\a.txt.bak", 2}, {u"C:\\B.txt", 1}}));
}

TEST(LabelTableRename, EmptyNewNameIsIgnored) {
  FakeDatabase db;
  CLabelStore store(nullptr, &db);
  SetAll(store, {{u"C:\\P", 1}, {u"C:\\P\\a.txt", 2}});
  ASSERT_TRUE(store.Save());
  store.ItemRenamed(u"C:\\P", u"");
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\P", 1}, {u"C:\\P\\a.txt", 2}}));
  EXPECT_FALSE(store.HasUnsavedChanges());
}

// --- Loading and saving ---

class LoadSaveTest : public ::testing::Test {
 protected:
  FakeDatabase db;
  CLabelStore store{nullptr, &db};
};

TEST_F(LoadSaveTest, MissingFileLeavesTheTableAsItWas) {
  store.SetLabel(u"C:\\a", 1);
  const LoadResult result = store.Load();
  EXPECT_EQ(result.status, LoadStatus::NoFile);
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\a", 1}}));
  EXPECT_TRUE(store.HasUnsavedChanges());
  EXPECT_EQ(db.copies + db.moves, 0);
}

TEST_F(LoadSaveTest, GoodFileReplacesTheTable) {
  store.SetLabel(u"C:\\stale", 2);
  db.file = FileBytes().Header(2).Record(u"C:\\a.txt", 1).Record(u"D:\\Work\\Plan", 4);
  EXPECT_EQ(store.Load().status, LoadStatus::Loaded);
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\a.txt", 1}, {u"D:\\Work\\Plan", 4}}));
  EXPECT_FALSE(store.HasUnsavedChanges());
  EXPECT_EQ(db.copies + db.moves, 0);
}

TEST_F(LoadSaveTest, WorkedExampleSavesToSixtyEightBytesAndLoadsInItsCase) {
  SetAll(store, {{u"D:\\Work\\Plan", 4}, {u"C:\\a.txt", 1}});
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(db.File(), EncodeEntries({{u"C:\\a.txt", 1}, {u"D:\\Work\\Plan", 4}}));
  EXPECT_EQ(db.File().size(), 68u);

  CLabelStore reloaded(nullptr, &db);
  EXPECT_EQ(reloaded.Load().status, LoadStatus::Loaded);
  EXPECT_EQ(TableOf(reloaded), TableOf(store));
}

TEST_F(LoadSaveTest, EmptyTableSavesTheHeaderOnly) {
  store.SetLabel(u"C:\\a", 1);
  store.ClearLabel(u"C:\\a");
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(db.File(), EncodeEntries({}));
  EXPECT_EQ(db.File().size(), 12u);
}

TEST_F(LoadSaveTest, DuplicateRecordsBecomeOneEntryWithTheLastLabel) {
  db.file = FileBytes().Header(2).Record(u"C:\\X", 1).Record(u"c:\\x", 2);
  EXPECT_EQ(store.Load().status, LoadStatus::Loaded);
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\X", 2}}));
}

const Bytes kDamaged = FileBytes().Header(3).Record(u"C:\\a", 1).Record(u"C:\\b", 2).Int32(7).Units(u"xyz");

TEST_F(LoadSaveTest, PartialFileIsCopiedAsideAtLoad) {
  db.file = kDamaged;
  const LoadResult result = store.Load();
  EXPECT_EQ(result.status, LoadStatus::Partial);
  EXPECT_EQ(TableOf(store), (Entries{{u"C:\\a", 1}, {u"C:\\b", 2}}));
  EXPECT_EQ(result.setAsidePath, u"labels.lst.bad-1");
  EXPECT_EQ(db.copies, 1);
  EXPECT_EQ(db.moves, 0);
  EXPECT_EQ(db.setAside, std::vector<Bytes>{kDamaged});
  EXPECT_EQ(db.File(), kDamaged);
  EXPECT_FALSE(store.HasUnsavedChanges());

  ASSERT_TRUE(store.Save());
  EXPECT_EQ(db.copies, 1);  // copied once is enough
}

TEST_F(LoadSaveTest, PartialFileIsCopiedBeforeTheFirstSaveWhenLoadCouldNot) {
  db.file = kDamaged;
  db.copyFails = true;
  const LoadResult result = store.Load();
  EXPECT_EQ(result.status, LoadStatus::Partial);
  EXPECT_TRUE(result.setAsidePath.empty());
  EXPECT_EQ(db.copies, 0);

  store.SetLabel(u"C:\\c", 3);
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(db.File(), kDamaged);
  EXPECT_TRUE(store.HasUnsavedChanges());
  EXPECT_FALSE(store.LastSaveError().empty());

  db.copyFails = false;
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(db.setAside, std::vector<Bytes>{kDamaged});
  EXPECT_EQ(DecodeEntries(db.File()).records, (Entries{{u"C:\\a", 1}, {u"C:\\b", 2}, {u"C:\\c", 3}}));
  EXPECT_FALSE(store.HasUnsavedChanges());

  ASSERT_TRUE(store.Save());
  EXPECT_EQ(db.copies, 1);
}

struct UnreadableCase {
  const char* name;
  Bytes file;
  bool readFails = false;
};

const UnreadableCase kUnreadableCases[] = {
    {"wrong magic", FileBytes().Header(1, 1, 2010).Record(u"C:\\a", 1)},
    {"version 2", FileBytes().Header(1, 2).Record(u"C:\\a", 1)},
    {"negative count", FileBytes().Header(-5).Record(u"C:\\a", 1)},
    {"empty file", {}},
    {"read fails", FileBytes().Header(1).Record(u"C:\\a", 1), true},
};

TEST(LoadSave, UnreadableFileIsMovedAsideAndTheTableStartsEmpty) {
  for (const UnreadableCase& c : kUnreadableCases) {
    SCOPED_TRACE(c.name);
    FakeDatabase db;
    CLabelStore store(nullptr, &db);
    store.SetLabel(u"C:\\stale", 2);
    db.file = c.file;
    db.readFails = c.readFails;

    const LoadResult result = store.Load();
    EXPECT_EQ(result.status, LoadStatus::SetAside);
    EXPECT_EQ(result.setAsidePath, u"labels.lst.bad-1");
    EXPECT_TRUE(store.Labels().empty());
    EXPECT_EQ(db.moves, 1);
    EXPECT_EQ(db.setAside, std::vector<Bytes>{c.file});
    EXPECT_FALSE(db.file.has_value());

    store.SetLabel(u"C:\\new", 3);
    EXPECT_TRUE(store.Save());
    EXPECT_EQ(DecodeEntries(db.File()).records, (Entries{{u"C:\\new", 3}}));
  }
}

TEST(LoadSave, FileThatCannotBeMovedIsNeverOverwritten) {
  for (const UnreadableCase& c : kUnreadableCases) {
    SCOPED_TRACE(c.name);
    FakeDatabase db;
    CLabelStore store(nullptr, &db);
    db.file = c.file;
    db.readFails = c.readFails;
    db.moveFails = true;

    EXPECT_EQ(store.Load().status, LoadStatus::Unreadable);
    EXPECT_TRUE(store.Labels().empty());
    db.readFails = false;

    store.SetLabel(u"C:\\new", 3);
    EXPECT_FALSE(store.Save());
    EXPECT_FALSE(store.Save());
    EXPECT_EQ(db.File(), c.file);
    EXPECT_TRUE(store.HasUnsavedChanges());

    db.moveFails = false;
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(db.setAside, std::vector<Bytes>{c.file});
    EXPECT_EQ(DecodeEntries(db.File()).records, (Entries{{u"C:\\new", 3}}));
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(db.moves, 1);
  }
}

TEST_F(LoadSaveTest, FailedReplaceKeepsTheChangesUnsaved) {
  store.SetLabel(u"C:\\a", 1);
  ASSERT_TRUE(store.Save());
  const Bytes saved = db.File();

  store.SetLabel(u"C:\\b", 2);
  db.replaceFails = true;
  EXPECT_FALSE(store.Save());
  EXPECT_TRUE(store.HasUnsavedChanges());
  EXPECT_EQ(store.LastSaveError(), u"disk full");
  EXPECT_EQ(db.File(), saved);

  db.replaceFails = false;
  EXPECT_TRUE(store.Save());
  EXPECT_FALSE(store.HasUnsavedChanges());
  EXPECT_TRUE(store.LastSaveError().empty());
  EXPECT_EQ(DecodeEntries(db.File()).records, (Entries{{u"C:\\a", 1}, {u"C:\\b", 2}}));
}

// --- Saving while the table changes ---

// Enough paths for three slices of a save, so that a change can come while
// some are written and others are not yet read.
class SaveWhileChangingTest : public ::testing::Test {
 protected:
  // n in a fixed number of digits, so that the paths sort as the numbers do.
  static std::u16string Digits(int n, std::size_t digits) {
    std::u16string text(digits, u'0');
    for (std::size_t at = digits; at-- > 0 && n > 0; n /= 10) text[at] = static_cast<char16_t>(u'0' + n % 10);
    return text;
  }
  static std::u16string Folder(int n) { return u"D:\\Save\\dir" + Digits(n, 3); }
  static std::u16string File(int folder, int file) {
    return Folder(folder) + u"\\file" + Digits(file, 2) + kLongName + u".txt";
  }
  // Long names make few records fill a slice.
  static inline const std::u16string kLongName = u"-" + std::u16string(400, u'n');
  static constexpr int kFolders = 40;
  static constexpr int kFiles = 100;
  static constexpr int kEarly = 1;  // in the first slice
  static constexpr int kLate = 38;  // in the last

  // The saved table that each case loads afresh.
  static const Bytes& OriginalFile() {
    static const Bytes file = [] {
      FakeDatabase db;
      CLabelStore store(nullptr, &db);
      for (int folder = 0; folder < kFolders; ++folder) {
        for (int file = 0; file < kFiles; ++file) {
          store.SetLabel(File(folder, file), 1 + static_cast<LabelValue>(file % 6));
        }
      }
      store.SetLabel(Folder(kEarly), 2);
      store.SetLabel(Folder(kLate), 3);
      return store.Save() && db.chunksOfLastReplace >= 3 ? db.File() : Bytes{};
    }();
    return file;
  }

  static ::testing::AssertionResult SameEntries(const Entries& actual, const Entries& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    auto failure = ::testing::AssertionFailure() << actual.size() << " entries, expected " << expected.size();
    if (at < actual.size()) failure << "; entry " << at << " is " << ::testing::PrintToString(actual[at]);
    if (at < expected.size()) failure << "; expected " << ::testing::PrintToString(expected[at]);
    return failure;
  }
};

TEST_F(SaveWhileChangingTest, TheSaveWritesTheSnapshotAndTheNextSaveTheChanges) {
  struct Change {
    const char* name;
    std::function<void(CLabelStore&)> apply;
  };
  const Change changes[] = {
      {"labels changed", [](CLabelStore& s) { s.SetLabel(File(kEarly, 5), 42); s.SetLabel(File(kLate, 5), 42); }},
      {"labels cleared", [](CLabelStore& s) { s.ClearLabel(File(kEarly, 7)); s.ClearLabel(File(kLate, 7)); }},
      {"paths added before, among and after the others",
       [](CLabelStore& s) {
         s.SetLabel(u"A:\\first", 1);
         s.SetLabel(File(kEarly, 0) + u".bak", 2);
         s.SetLabel(File(kLate, 0) + u".bak", 3);
         s.SetLabel(u"D:\\Save\\zzz", 4);
       }},
      {"folders removed", [](CLabelStore& s) { s.ItemRemoved(Folder(kEarly)); s.ItemRemoved(Folder(kLate)); }},
      {"folders renamed across the slices",
       [](CLabelStore& s) {
         s.RenameFolder(Folder(kLate), u"D:\\Save\\aaa");
         s.RenameFolder(Folder(kEarly), u"D:\\Save\\zzz");
       }},
      {"paths cleared and labelled again in another letter case",
       [](CLabelStore& s) {
         s.ClearLabel(File(kLate, 9));
         s.SetLabel(u"d:\\SAVE\\" + File(kLate, 9).substr(8), 5);
         s.ItemRenamed(Folder(kEarly), u"D:\\SAVE\\DIR" + Folder(kEarly).substr(11));
       }},
      {"table cleared, then labelled", [](CLabelStore& s) { s.Clear(); s.SetLabel(File(kLate, 1), 2); }},
  };
  const std::pair<const char*, int> moments[] = {{"before the first slice", 0}, {"between slices", 1}};

  ASSERT_FALSE(OriginalFile().empty()) << "the table must fill several slices";
  const Entries original = DecodeEntries(OriginalFile()).records;
  for (const Change& change : changes) {
    for (const auto& [moment, chunks] : moments) {
      SCOPED_TRACE(std::string(change.name) + ", " + moment);
      FakeDatabase db;
      db.file = OriginalFile();
      CLabelStore store(nullptr, &db);
      ASSERT_EQ(store.Load().status, LoadStatus::Loaded);

      db.whileWriting = [&] { change.apply(store); };
      db.chunksBeforeChange = chunks;
      ASSERT_TRUE(store.Save());
      EXPECT_FALSE(db.whileWriting) << "the change never ran";
      EXPECT_TRUE(SameEntries(DecodeEntries(db.File()).records, original));
      EXPECT_TRUE(store.HasUnsavedChanges()) << "the change was counted as saved";

      const Entries changed = TableOf(store);
      EXPECT_FALSE(SameEntries(changed, original));
      ASSERT_TRUE(store.Save());
      EXPECT_TRUE(SameEntries(DecodeEntries(db.File()).records, changed));
      EXPECT_FALSE(store.HasUnsavedChanges());
    }
  }
}

}  // namespace
}  // namespace pelko
