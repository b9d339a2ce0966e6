#include "IgnoredPath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Tracker_testing.h"

namespace pelko {
namespace {

using Paths = std::vector<std::u16string>;

TEST(IgnoredPathHelpers, IsPathUnder) {
  struct {
    std::u16string outer, inner;
    bool under;
  } const cases[] = {
      {u"C:\\Windows", u"C:\\Windows", true},
      {u"C:\\Windows", u"c:\\WINDOWS\\system32", true},
      {u"C:\\", u"C:\\Windows", true},
      {u"C:\\Win", u"C:\\Windows", false},
      {u"C:\\Windows\\System32", u"C:\\Windows\\System32Old", false},
      {u"C:\\Windows\\System32", u"C:\\Windows", false},  // outer longer
      {u"C:\\Windows", u"D:\\Windows\\x", false},
      {u"C:\\\u00C4", u"C:\\\u00E4\\x", false},  // only ASCII letters fold
      {u"", u"C:\\x", false},
      {u"C:\\x", u"", false},
      {u"", u"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsPathUnder(c.outer, c.inner), c.under) << Printable(c.outer) << " / " << Printable(c.inner);
  }
}

TEST(IgnoredPathHelpers, ShellPathHelpersOnDrivePaths) {
  struct {
    std::u16string path, withoutFileSpec, withoutBackslash;
    bool root;
  } const cases[] = {
      {u"C:\\a\\b.txt", u"C:\\a", u"C:\\a\\b.txt", false},
      {u"C:\\a.txt", u"C:\\", u"C:\\a.txt", false},
      {u"C:\\", u"C:\\", u"C:\\", true},
      {u"C:\\a\\", u"C:\\a", u"C:\\a", false},
      {u"C:\\Documents and Settings\\All Users\\Application Data", u"C:\\Documents and Settings\\All Users",
       u"C:\\Documents and Settings\\All Users\\Application Data", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Printable(c.path));
    EXPECT_EQ(RemoveFileSpec(c.path), c.withoutFileSpec);
    EXPECT_EQ(RemoveBackslash(c.path), c.withoutBackslash);
    EXPECT_EQ(IsRoot(c.path), c.root);
  }
}

TEST(HiddenAncestor, AsksEveryFolderBetweenTheRootAndTheItem) {
  FakePathEnvironment env;
  env.AddFolder(u"C:\\a\\b");
  EXPECT_FALSE(HasHiddenAncestor(env, u"C:\\a\\b\\c.txt"));
  EXPECT_EQ(env.asked, (Paths{u"C:\\a\\", u"C:\\a\\b"}));

  env.asked.clear();
  EXPECT_FALSE(HasHiddenAncestor(env, u"C:\\c.txt"));
  EXPECT_TRUE(env.asked.empty());
}

TEST(HiddenAncestor, HiddenOrGoneFolderAnywhereAboveTheItem) {
  struct {
    const char* name;
    std::u16string hidden;  // empty: none
    std::u16string path;
    bool expected;
  } const cases[] = {
      {"nothing hidden", u"", u"C:\\a\\b\\c.txt", false},
      {"first folder hidden", u"C:\\a", u"C:\\a\\b\\c.txt", true},
      {"parent hidden", u"C:\\a\\b", u"C:\\a\\b\\c.txt", true},
      {"the item itself hidden", u"C:\\a\\b", u"C:\\a\\b", false},
      {"parent gone", u"", u"C:\\a\\gone\\c.txt", true},
      {"file in the root", u"", u"C:\\c.txt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePathEnvironment env;
    env.AddFolder(u"C:\\a\\b");
    if (!c.hidden.empty()) env.AddHiddenFolder(c.hidden);
    EXPECT_EQ(HasHiddenAncestor(env, c.path), c.expected);
  }
}

// The folders of a machine, Vista-style or XP-style.
void AddCommonFolders(FakePathEnvironment& env) {
  env.AddFolder(u"C:\\Windows\\System32\\drivers");
  env.AddFolder(u"C:\\Windows\\System32Old");
  env.AddFolder(u"C:\\Users\\me\\Documents");
  env.AddHiddenFolder(u"C:\\Users\\me\\AppData");
  env.AddFolder(u"C:\\Users\\me\\AppData\\Local");
  env.AddHiddenFolder(u"C:\\Data\\Hidden");
  env.AddHiddenFolder(u"D:\\Users\\me\\AppData");
  env.AddFolder(u"D:\\Users\\me\\AppData\\Local");
  env.AddFolder(u"C:\\Documents and Settings\\me\\My Documents");
  env.AddHiddenFolder(u"C:\\Documents and Settings\\me\\Local Settings");
  env.AddFolder(u"C:\\Documents and Settings\\me\\Local Settings\\Temp");
}

struct IgnoredCase {
  const char* name;
  std::u16string path;
  bool ignored;
};

TEST(IgnoredPath, VistaStyleAppDataMakesTheDriveRootTheBase) {
  const IgnoredCase cases[] = {
      {"created in the system folder", u"C:\\Windows\\System32\\new.dll", true},
      {"deeper in the system folder", u"C:\\Windows\\System32\\drivers\\x.sys", true},
      {"the system folder's own entry", u"C:\\Windows\\System32", false},
      {"a sibling sharing its prefix", u"C:\\Windows\\System32Old\\x.dll", false},
      {"system folder in another case", u"C:\\WINDOWS\\system32\\x.dll", true},
      {"inside a hidden folder", u"C:\\Users\\me\\AppData\\Local\\x.tmp", true},
      {"the hidden folder's own entry", u"C:\\Users\\me\\AppData", false},
      {"hidden folder on another drive", u"D:\\Users\\me\\AppData\\Local\\x.tmp", false},
      {"a plain document", u"C:\\Users\\me\\Documents\\plan.doc", false},
      {"a file directly in the root", u"C:\\readme.txt", false},
      {"removed item whose folder is gone", u"C:\\Users\\me\\Gone\\x.txt", true},
      {"a hidden folder anywhere on the drive", u"C:\\Data\\Hidden\\x.txt", true},
  };
  for (const IgnoredCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakePathEnvironment env;
    AddCommonFolders(env);
    EXPECT_EQ(IsIgnoredPath(env, c.path), c.ignored);
  }
}

TEST(IgnoredPath, XpStyleAppDataIgnoresHiddenFoldersBelowDocumentsAndSettingsOnly) {
  const IgnoredCase cases[] = {
      {"inside a hidden folder of a profile", u"C:\\Documents and Settings\\me\\Local Settings\\Temp\\x.tmp", true},
      {"a plain document of a profile", u"C:\\Documents and Settings\\me\\My Documents\\x.doc", false},
      {"hidden folder outside Documents and Settings", u"C:\\Data\\Hidden\\x.txt", false},
      {"removed item whose folder is gone, outside", u"C:\\Data\\Gone\\x.txt", false},
      {"removed item whose folder is gone, inside", u"C:\\Documents and Settings\\me\\Gone\\x.txt", true},
      {"system folder", u"C:\\WINDOWS\\system32\\x.dll", true},
  };
  for (const IgnoredCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakePathEnvironment env;
    env.commonAppData = u"C:\\Documents and Settings\\All Users\\Application Data";
    env.systemFolder = u"C:\\WINDOWS\\system32";
    AddCommonFolders(env);
    EXPECT_EQ(IsIgnoredPath(env, c.path), c.ignored);
  }
}

TEST(IgnoredPath, UnknownFoldersTurnTheirRuleOff) {
  FakePathEnvironment env;
  AddCommonFolders(env);
  env.commonAppData.reset();
  EXPECT_FALSE(IsIgnoredPath(env, u"C:\\Users\\me\\AppData\\Local\\x.tmp"));
  EXPECT_TRUE(IsIgnoredPath(env, u"C:\\Windows\\System32\\x.dll"));

  env.commonAppData = u"C:\\ProgramData";
  env.systemFolder.reset();
  EXPECT_FALSE(IsIgnoredPath(env, u"C:\\Windows\\System32\\x.dll"));
  EXPECT_TRUE(IsIgnoredPath(env, u"C:\\Users\\me\\AppData\\Local\\x.tmp"));
}

}  // namespace
}  // namespace pelko
