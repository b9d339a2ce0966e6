// The extension's lookups answered a folder at a time, against the real
// service: one call per folder, answers that follow renames and removals on
// the watched drive, and changes by another program that show once the
// answer expires (at once for the refresh worker's uncached question).
// Labels are set from this process through an object of its own, as
// another program would.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LabelClient.h"
#include "ServiceTestSupport.h"
#include "UniqueHandle.h"
#include "Utf16.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using namespace testing;

constexpr DWORD kFollowTimeoutMs = 5000;

// The service may hold a folder it has just been told of open for a moment
// (it lists it), and the folder cannot be renamed meanwhile.
bool MoveWhenFree(const wchar_t* from, const wchar_t* to) {
  const DWORD started = GetTickCount();
  while (!MoveFileW(from, to)) {
    const DWORD error = GetLastError();
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    if (!held || GetTickCount() - started > kFollowTimeoutMs) {
      std::printf("MoveFileW %s to %s: error %lu\n", Utf8(from).c_str(), Utf8(to).c_str(), error);
      return false;
    }
    Sleep(50);
  }
  return true;
}

class FolderAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    labels = StartTheServiceWatchingTheDrives();
    ASSERT_TRUE(labels);
    // The lookup thread's first call makes its object; it may take longer
    // than a lookup waits.
    const DWORD started = GetTickCount();
    while (g_labelClient.LookupLabelUncached(u"C:\\warm-up.txt") == LABEL_UNAVAILABLE) {
      ASSERT_LT(GetTickCount() - started, 10000u) << "the service never answered";
      Sleep(100);
    }
  }
  void TearDown() override { g_labelClient.StopWorker(5000); }

  void Label(const std::wstring& path, ULONG value) { ASSERT_EQ(SetLabelOf(labels.get(), path, value), S_OK); }
  static LabelValue Lookup(const std::wstring& path) { return g_labelClient.LookupLabel(ToU16(path)); }

  struct Expected {
    const wchar_t* path;
    LabelValue label;
  };
  static void ExpectLookups(const std::vector<Expected>& expected) {
    for (const Expected& item : expected) EXPECT_EQ(Lookup(item.path), item.label) << Utf8(item.path);
  }

  ComApartment apartment;
  com_ptr<ILabelUtil> labels;
};

TEST_F(FolderAnswers, OneCallAnswersEveryItemOfAFolder) {
  std::vector<std::wstring> paths;
  for (int i = 0; i < 10; ++i) paths.push_back(L"D:\\Many\\f" + std::to_wstring(i) + L".txt");
  std::vector<Expected> items;
  for (int i = 0; i < 10; ++i) {
    const LabelValue label = i % 2 == 0 ? static_cast<LabelValue>(i % 6 + 1) : kNoLabel;
    if (label != kNoLabel) Label(paths[i], label);
    items.push_back({paths[i].c_str(), label});
  }
  Label(L"D:\\Many\\Sub\\deep.txt", 4);
  Label(L"D:\\Many", 2);

  const std::uint64_t callsBefore = g_labelClient.ServiceCalls();
  const std::uint64_t queriesBefore = g_labelClient.FolderQueries();
  ExpectLookups(items);
  ExpectLookups({{L"d:\\MANY\\F2.TXT", 3}, {L"D:\\Many\\Sub", kNoLabel}, {L"D:\\Many\\never.txt", kNoLabel}});
  EXPECT_EQ(g_labelClient.ServiceCalls() - callsBefore, 1u) << "one folder, one call";

  // Another folder, another call each: the subfolder and the folder that
  // holds D:\Many.
  ExpectLookups({{L"D:\\Many\\Sub\\deep.txt", 4}, {L"D:\\Many", 2}});
  EXPECT_EQ(g_labelClient.ServiceCalls() - callsBefore, 3u);
  EXPECT_EQ(g_labelClient.FolderQueries() - queriesBefore, 3u);
}

TEST_F(FolderAnswers, AnswersFollowRenamesAndRemovalsOnTheDrive) {
  for (const wchar_t* folder : {L"D:\\Work", L"D:\\Work\\Sub"}) {
    ASSERT_TRUE(CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  for (const wchar_t* file : {L"D:\\Work\\plan.doc", L"D:\\Work\\old.txt", L"D:\\Work\\Sub\\a.txt"}) {
    ASSERT_TRUE(WriteWholeFile(file, "x"));
  }
  Label(L"D:\\Work\\plan.doc", 3);
  Label(L"D:\\Work\\old.txt", 2);
  Label(L"D:\\Work\\Sub\\a.txt", 5);
  ExpectLookups({{L"D:\\Work\\plan.doc", 3}, {L"D:\\Work\\old.txt", 2}, {L"D:\\Work\\Sub\\a.txt", 5}});

  ASSERT_TRUE(MoveWhenFree(L"D:\\Work\\plan.doc", L"D:\\Work\\plan-v2.doc"));
  ASSERT_TRUE(DeleteFileW(L"D:\\Work\\old.txt"));
  ASSERT_TRUE(MoveWhenFree(L"D:\\Work\\Sub", L"D:\\Work\\Sub2"));
  ASSERT_TRUE(WaitForLabel(labels.get(), L"D:\\Work\\plan-v2.doc", 3, kFollowTimeoutMs));
  ASSERT_TRUE(WaitForLabel(labels.get(), L"D:\\Work\\old.txt", kNoLabel, kFollowTimeoutMs));
  ASSERT_TRUE(WaitForLabel(labels.get(), L"D:\\Work\\Sub2\\a.txt", 5, kFollowTimeoutMs));

  Sleep(CLabelClient::kCacheLifetimeMs + 100);
  ExpectLookups({{L"D:\\Work\\plan-v2.doc", 3},
                 {L"D:\\Work\\plan.doc", kNoLabel},
                 {L"D:\\Work\\old.txt", kNoLabel},
                 {L"D:\\Work\\Sub2\\a.txt", 5},
                 {L"D:\\Work\\Sub\\a.txt", kNoLabel}});
}

TEST_F(FolderAnswers, AChangeByAnotherProgramShowsOnceTheAnswerIsAskedAgain) {
  Label(L"D:\\Work\\notes.txt", 1);
  ExpectLookups({{L"D:\\Work\\notes.txt", 1}, {L"D:\\Work\\new.txt", kNoLabel}});

  Label(L"D:\\Work\\notes.txt", 6);
  Label(L"D:\\Work\\new.txt", 2);
  // Within the answer's lifetime Explorer's questions cost no call.
  const std::uint64_t callsBefore = g_labelClient.ServiceCalls();
  EXPECT_EQ(Lookup(L"D:\\Work\\notes.txt"), 1u);
  EXPECT_EQ(g_labelClient.ServiceCalls(), callsBefore);

  // The refresh worker's question fetches the folder again, and the answer
  // serves its neighbour too.
  EXPECT_EQ(g_labelClient.LookupLabelUncached(u"D:\\Work\\notes.txt"), 6u);
  EXPECT_EQ(Lookup(L"D:\\Work\\new.txt"), 2u);
  EXPECT_EQ(g_labelClient.ServiceCalls() - callsBefore, 1u);

  // A label set through the extension outranks the folder answer it is newer than.
  ASSERT_TRUE(g_labelClient.ApplyLabel({u"D:\\Work\\new.txt"}, 4));
  EXPECT_EQ(Lookup(L"D:\\Work\\new.txt"), 4u);

  ASSERT_EQ(labels->ClearLabel(unique_bstr(SysAllocString(L"D:\\Work\\notes.txt")).get()), S_OK);
  Sleep(CLabelClient::kCacheLifetimeMs + 100);
  ExpectLookups({{L"D:\\Work\\notes.txt", kNoLabel}, {L"D:\\Work\\new.txt", 4}});
}

}  // namespace
}  // namespace pelko
