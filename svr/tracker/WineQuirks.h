#pragma once
// What the tracker needs where it runs under Wine, all in this one place;
// none of it runs on Windows. Wine's recursive directory watch:
// - reports nothing inside a folder no process has opened since the watch
//   was armed, and loses quickly created nested folders: opening every
//   folder once (a listing walk) after arming and after an addition fixes
//   both;
// - keeps reporting a renamed folder's contents under the folder's old
//   name, even after the new one has been walked: WineRenamedFolders puts
//   the new name back into such paths.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace pelko {

// True under Wine (its ntdll exports wine_get_version).
bool RunningUnderWine();

// True when Wine maps the drive root to the Unix root "/" (a prefix's z:):
// watching it would watch the whole machine.
bool IsWineUnixRootDrive(const std::wstring& root);

struct PrimingCost {
  std::uint64_t folders = 0;
  std::uint64_t milliseconds = 0;
};

// Lists every folder below folder once, without entering links, and at
// most maxFolders of them, until stopRequested answers true. Adds what it
// did to cost.
void PrimeWineWatch(const std::wstring& folder, PrimingCost& cost, const std::function<bool()>& stopRequested = {},
                    std::uint64_t maxFolders = 100000);

// The folder renames of one watched root, to correct the stale paths Wine
// reports below them.
class WineRenamedFolders {
 public:
  void FolderRenamed(const std::u16string& oldPath, const std::u16string& newPath);
  // path with the new name of a renamed folder in place of the old one,
  // when path lies below a renamed folder's old name and its own folder no
  // longer exists there (so that a new folder of the old name is left alone).
  std::u16string Correct(std::u16string path) const;

 private:
  struct Rename {
    std::u16string oldPath, newPath;
  };
  std::deque<Rename> m_renames;  // newest last
};

}  // namespace pelko
