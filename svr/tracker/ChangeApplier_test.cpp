#include "ChangeApplier.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "DebugTrace.h"
#include "Tracker_testing.h"

namespace pelko {
namespace {

using Lines = std::vector<std::u16string>;

// Each store call as one line, so a table can say what reached the store.
class RecordingStore : public ILabelStoreChanges {
 public:
  Lines calls;
  void ItemAdded(std::u16string_view path, std::uint64_t eventMs) override {
    calls.push_back(u"added " + std::u16string(path) + At(eventMs));
  }
  void ItemRemoved(std::u16string_view path, std::uint64_t eventMs) override {
    calls.push_back(u"removed " + std::u16string(path) + At(eventMs));
  }
  void ItemRenamed(std::u16string_view oldPath, std::u16string_view newPath, std::uint64_t eventMs) override {
    calls.push_back(u"renamed " + std::u16string(oldPath) + u" to " + std::u16string(newPath) + At(eventMs));
  }

 private:
  static std::u16string At(std::uint64_t ms) {
    std::u16string text = u" @";
    for (char c : std::to_string(ms)) text += static_cast<char16_t>(c);
    return text;
  }
};

class ChangeApplierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s_trace = &trace;
    m_previousSink = SetDebugTraceSink([](std::u16string_view line) { s_trace->emplace_back(line); });
    env.AddFolder(u"C:\\Users\\me\\Documents");
    env.AddFolder(u"C:\\Windows\\System32");
  }
  void TearDown() override {
    SetDebugTraceSink(m_previousSink);
    s_trace = nullptr;
  }

  FakePathEnvironment env;
  RecordingStore store;
  Lines trace;

 private:
  static inline Lines* s_trace = nullptr;
  DebugTraceSink m_previousSink = nullptr;
};

const std::u16string kDoc = u"C:\\Users\\me\\Documents\\plan.doc";
const std::u16string kOther = u"C:\\Users\\me\\Documents\\old.doc";

TEST_F(ChangeApplierTest, EachActionReachesTheStoreAsItsOperation) {
  struct {
    const char* name;
    ChangeRecord record;
    Lines calls;
    std::optional<std::u16string> traceLine;  // nothing: not looked at
  } const cases[] = {
      {"added", {kItemAdded, kDoc, {}, 11}, {u"added " + kDoc + u" @11"}, u"Add: " + kDoc + u"\n"},
      {"removed", {kItemRemoved, kDoc, {}, 12}, {u"removed " + kDoc + u" @12"}, u"Remove: " + kDoc + u"\n"},
      {"modified", {kItemModified, kDoc, {}, 13}, {}, u"Modify: " + kDoc + u"\n"},
      {"renamed (old-name action)",
       {kItemRenamedOldName, kOther, kDoc, 14},
       {u"renamed " + kOther + u" to " + kDoc + u" @14"},
       u"Rename: " + kOther + u" --> " + kDoc + u"\n"},
      {"renamed (new-name action)",
       {kItemRenamedNewName, kOther, kDoc, 15},
       {u"renamed " + kOther + u" to " + kDoc + u" @15"},
       u"Rename: " + kOther + u" --> " + kDoc + u"\n"},
      {"rename without a new name", {kItemRenamedOldName, kOther, {}, 16}, {}, std::nullopt},
      {"new-name action without a new name", {kItemRenamedNewName, kOther, {}, 17}, {}, std::nullopt},
      {"action 0", {0, kDoc, kOther, 18}, {}, std::nullopt},
      {"action 6", {6, kDoc, kOther, 19}, {}, std::nullopt},
      {"action 2^32-1", {0xFFFFFFFF, kDoc, kOther, 20}, {}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store.calls.clear();
    trace.clear();
    EXPECT_EQ(ApplyChange(c.record, env, store), !c.calls.empty());
    EXPECT_EQ(store.calls, c.calls);
    if (c.traceLine) {
      EXPECT_EQ(trace, Lines{*c.traceLine});
    }
  }
}

TEST_F(ChangeApplierTest, IgnoredPathNeverReachesTheStore) {
  const std::u16string inSystem = u"C:\\Windows\\System32\\new.dll";
  for (std::uint32_t action : {kItemAdded, kItemRemoved, kItemModified, kItemRenamedOldName, kItemRenamedNewName}) {
    SCOPED_TRACE(action);
    EXPECT_FALSE(ApplyChange({action, inSystem, kDoc, 1}, env, store));
  }
  EXPECT_TRUE(store.calls.empty());

  // The same record outside the system folder does reach it.
  EXPECT_TRUE(ApplyChange({kItemAdded, u"C:\\Windows\\new.dll", {}, 1}, env, store));
  EXPECT_EQ(store.calls, Lines{u"added C:\\Windows\\new.dll @1"});
}

}  // namespace
}  // namespace pelko
