// How labels survive the ways editors save a document: the changes arrive
// one by one from the tracker, with the time each was seen.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "LabelFileCodec_testing.h"
#include "LabelStore.h"
#include "LabelStore_testing.h"

namespace pelko {
namespace {

constexpr std::uint64_t kStartMs = 1'000'000;

struct Event {
  enum Kind { Add, Remove, Rename } kind;
  std::u16string path;
  std::u16string newPath;
  std::optional<std::uint64_t> afterMs;  // since kStartMs; nothing: the change comes without a time
};

Event Added(std::u16string path, std::optional<std::uint64_t> afterMs) { return {Event::Add, path, {}, afterMs}; }
Event Removed(std::u16string path, std::optional<std::uint64_t> afterMs) { return {Event::Remove, path, {}, afterMs}; }
Event Renamed(std::u16string from, std::u16string to, std::optional<std::uint64_t> afterMs) {
  return {Event::Rename, from, to, afterMs};
}

void Apply(CLabelStore& store, const Event& event) {
  const auto at = event.afterMs ? std::optional<std::uint64_t>(kStartMs + *event.afterMs) : std::nullopt;
  switch (event.kind) {
    case Event::Add: store.ItemAdded(event.path, at); break;
    case Event::Remove: store.ItemRemoved(event.path, at); break;
    case Event::Rename: store.ItemRenamed(event.path, event.newPath, at); break;
  }
}

const std::u16string kDoc = u"D:\\Work\\plan.doc";
const std::u16string kWrl = u"D:\\Work\\~wrl0001.tmp";
const std::u16string kWrd = u"D:\\Work\\~wrd0002.tmp";
const std::u16string kTmp = u"D:\\Work\\plan.doc.tmp";
const std::u16string kOtherDoc = u"D:\\Old\\plan.doc";
constexpr std::nullopt_t kNoTime = std::nullopt;

struct SaveCase {
  const char* name;
  Entries labels;
  std::vector<Event> events;
  Entries table;
  Entries pool;
};

const SaveCase kSaveCases[] = {
    // Word: the document goes to a temporary name, the new version comes
    // in under the document's name, the old version is deleted.
    {"Word",
     {{kDoc, 7}},
     {Renamed(kDoc, kWrl, 0), Renamed(kWrd, kDoc, 5), Removed(kWrl, 10)},
     {{kDoc, 7}},
     {}},
    {"Word, old version deleted before the new one comes in",
     {{kDoc, 7}},
     {Renamed(kDoc, kWrl, 0), Removed(kWrl, 5), Renamed(kWrd, kDoc, 10)},
     {{kDoc, 7}},
     {}},
    {"Word, old version renamed once more",
     {{kDoc, 7}},
     {Renamed(kDoc, kWrl, 0), Renamed(kWrl, u"D:\\Work\\~wrl0003.tmp", 3), Renamed(kWrd, kDoc, 5),
      Removed(u"D:\\Work\\~wrl0003.tmp", 10)},
     {{kDoc, 7}},
     {}},
    {"Word, new version in another letter case",
     {{kDoc, 7}},
     {Renamed(kDoc, kWrl, 0), Renamed(kWrd, u"D:\\WORK\\Plan.DOC", 5), Removed(kWrl, 10)},
     {{u"D:\\WORK\\Plan.DOC", 7}},
     {}},
    {"Word, a file of the same name in another folder gets nothing",
     {{kDoc, 7}},
     {Renamed(kDoc, kWrl, 0), Added(u"D:\\Other\\plan.doc", 3), Renamed(kWrd, kDoc, 5), Removed(kWrl, 10)},
     {{kDoc, 7}},
     {}},
    {"Word, new version at the end of the window",
     {{kDoc, 7}},
     {Renamed(kDoc, kWrl, 0), Renamed(kWrd, kDoc, CLabelStore::kReappearWindowMs), Removed(kWrl, 2001)},
     {{kDoc, 7}},
     {}},
    {"Word, new version after the window",
     {{kDoc, 7}},
     {Renamed(kDoc, kWrl, 0), Renamed(kWrd, kDoc, 2001), Removed(kWrl, 2002)},
     {},
     {{u"~wrl0001.tmp", 7}}},
    // A rename waits for its new name, so an older change can be applied
    // after a newer one: the window still counts from its own time.
    {"Word, held-back rename applied after a newer change, new version after its window",
     {{kDoc, 7}, {u"D:\\Work\\a.txt", 2}},
     {Renamed(u"D:\\Work\\a.txt", u"D:\\Work\\b.txt", 2500), Renamed(kDoc, kWrl, 0), Renamed(kWrd, kDoc, 3000),
      Removed(kWrl, 3001)},
     {{u"D:\\Work\\b.txt", 2}},
     {{u"~wrl0001.tmp", 7}}},
    {"Word, without times",
     {{kDoc, 7}},
     {Renamed(kDoc, kWrl, kNoTime), Renamed(kWrd, kDoc, kNoTime), Removed(kWrl, kNoTime)},
     {},
     {{u"~wrl0001.tmp", 7}}},

    // Temp-and-replace: the new version is written beside the document,
    // the document is deleted, the new version renamed onto its name.
    {"temp-and-replace",
     {{kDoc, 7}},
     {Added(kTmp, 0), Removed(kDoc, 5), Renamed(kTmp, kDoc, 10)},
     {{kDoc, 7}},
     {}},
    {"temp-and-replace, another folder's plan.doc already pooled",
     {{kDoc, 7}, {kOtherDoc, 3}},
     {Removed(kOtherDoc, kNoTime), Added(kTmp, 0), Removed(kDoc, 5), Renamed(kTmp, kDoc, 10)},
     {{kDoc, 7}},
     {{u"plan.doc", 3}}},
    {"temp-and-replace, another folder's plan.doc pooled, after the window",
     {{kDoc, 7}, {kOtherDoc, 3}},
     {Removed(kOtherDoc, kNoTime), Added(kTmp, 0), Removed(kDoc, 5), Renamed(kTmp, kDoc, 2006)},
     {{kDoc, 3}},
     {}},
    {"temp-and-replace, another folder's plan.doc pooled, without times",
     {{kDoc, 7}, {kOtherDoc, 3}},
     {Removed(kOtherDoc, kNoTime), Added(kTmp, kNoTime), Removed(kDoc, kNoTime), Renamed(kTmp, kDoc, kNoTime)},
     {{kDoc, 3}},
     {}},
    // Wine reports the replacing rename without the removal.
    {"temp-and-replace, rename only",
     {{kDoc, 7}},
     {Added(kTmp, 0), Renamed(kTmp, kDoc, 10)},
     {{kDoc, 7}},
     {}},
};

TEST(SafeSave, LabelOfTheSavedDocumentSurvives) {
  for (const SaveCase& c : kSaveCases) {
    SCOPED_TRACE(c.name);
    FakeFileSystem fs;
    CLabelStore store(&fs);
    SetAll(store, c.labels);
    for (const Event& event : c.events) Apply(store, event);
    EXPECT_EQ(TableOf(store), c.table);
    EXPECT_EQ(PoolOf(store), c.pool);
  }
}

TEST(SafeSave, RenameRekeysTheSubtreeAndClaimsOnlyForAnUnlabelledNewPath) {
  struct {
    const char* name;
    Entries labels;
    std::optional<std::uint64_t> at;
    Entries table;
    Entries pool;
  } const cases[] = {
      {"unlabelled folder",
       {{u"D:\\Tmp\\Proj\\b.txt", 4}},
       kStartMs,
       {{u"D:\\New\\Proj", 1}, {u"D:\\New\\Proj\\a.txt", 2}, {u"D:\\New\\Proj\\b.txt", 4}},
       {}},
      {"unlabelled folder, without a time",
       {{u"D:\\Tmp\\Proj\\b.txt", 4}},
       std::nullopt,
       {{u"D:\\New\\Proj", 1}, {u"D:\\New\\Proj\\a.txt", 2}, {u"D:\\New\\Proj\\b.txt", 4}},
       {}},
      {"labelled folder",
       {{u"D:\\Tmp\\Proj", 5}, {u"D:\\Tmp\\Proj\\b.txt", 4}},
       kStartMs,
       {{u"D:\\New\\Proj", 5}, {u"D:\\New\\Proj\\b.txt", 4}},
       {{u"Proj", 1}, {u"Proj\\a.txt", 2}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFileSystem fs;
    fs.Add(u"D:\\New\\Proj\\a.txt");
    fs.Add(u"D:\\New\\Proj\\b.txt");
    CLabelStore store(&fs);
    SetAll(store, {{u"D:\\Old\\Proj", 1}, {u"D:\\Old\\Proj\\a.txt", 2}});
    store.ItemRemoved(u"D:\\Old\\Proj");
    SetAll(store, c.labels);

    store.ItemRenamed(u"D:\\Tmp\\Proj", u"D:\\New\\Proj", c.at);
    EXPECT_EQ(TableOf(store), c.table);
    EXPECT_EQ(PoolOf(store), c.pool);
  }
}

TEST(SafeSave, StopDuringTheFolderWalkClaimsNothing) {
  // Four folders to walk: Proj, s1, s2, s3.
  for (int stopAfter : {0, 1, 2, 3, -1}) {
    SCOPED_TRACE(stopAfter);
    FakeFileSystem fs;
    for (const auto& path : {u"D:\\New\\Proj\\s1\\x.txt", u"D:\\New\\Proj\\s2\\y.txt", u"D:\\New\\Proj\\s3\\z.txt"}) {
      fs.Add(path);
    }
    CLabelStore store(&fs);
    SetAll(store, {{u"D:\\Old\\Proj", 1}, {u"D:\\Old\\Proj\\s1\\x.txt", 2}, {u"D:\\Old\\Proj\\s3\\z.txt", 3}});
    store.ItemRemoved(u"D:\\Old\\Proj");
    const Entries pooled = PoolOf(store);

    store.ItemAdded(u"D:\\New\\Proj", kStartMs, [&] { return stopAfter >= 0 && fs.listCalls >= stopAfter; });
    if (stopAfter >= 0) {
      EXPECT_TRUE(store.Labels().empty());
      EXPECT_EQ(PoolOf(store), pooled);
      EXPECT_EQ(fs.listCalls, stopAfter);
    } else {
      // Never stopped: the same walk claims everything.
      EXPECT_EQ(TableOf(store),
                (Entries{{u"D:\\New\\Proj", 1}, {u"D:\\New\\Proj\\s1\\x.txt", 2}, {u"D:\\New\\Proj\\s3\\z.txt", 3}}));
      EXPECT_TRUE(store.RemovedPool().empty());
      EXPECT_EQ(fs.listCalls, 4);
    }
  }
}

}  // namespace
}  // namespace pelko
