#include "WineQuirks.h"

#include <windows.h>

#include <vector>

#include "LongPath.h"
#include "PathCompare.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace pelko {

bool RunningUnderWine() {
  static const bool underWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return underWine;
}

bool IsWineUnixRootDrive(const std::wstring& root) {
  if (!RunningUnderWine()) return false;
  using Convert = char*(__cdecl*)(const wchar_t*);
  static const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return false;
  char* unixPath = convert(root.c_str());
  if (!unixPath) return false;
  const bool isRoot = std::string(unixPath) == "/";
  HeapFree(GetProcessHeap(), 0, unixPath);
  return isRoot;
}

void PrimeWineWatch(const std::wstring& folder, PrimingCost& cost, const std::function<bool()>& stopRequested,
                    std::uint64_t maxFolders) {
  const DWORD started = GetTickCount();
  std::vector<std::wstring> pending{folder};
  std::uint64_t listed = 0;
  while (!pending.empty() && listed < maxFolders && !(stopRequested && stopRequested())) {
    std::wstring current = std::move(pending.back());
    pending.pop_back();
    if (!current.empty() && current.back() == L'\\') current.pop_back();
    WIN32_FIND_DATAW found;
    unique_hfind search(FindFirstFileW(ExtendedLengthPath(current + L"\\*").c_str(), &found));
    ++listed;
    if (!search) continue;
    do {
      const bool isFolder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
      const bool isLink = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
      const std::wstring_view name(found.cFileName);
      if (!isFolder || isLink || name == L"." || name == L"..") continue;
      pending.push_back(current + L"\\" + found.cFileName);
    } while (FindNextFileW(search.get(), &found));
  }
  cost.folders += listed;
  cost.milliseconds += GetTickCount() - started;
}

namespace {

bool FolderMissing(std::u16string_view path) {
  const std::size_t slash = path.rfind(u'\\');
  if (slash == std::u16string_view::npos) return false;
  return GetFileAttributesW(ExtendedLengthPath(ToWide(path.substr(0, slash))).c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

void WineRenamedFolders::FolderRenamed(const std::u16string& oldPath, const std::u16string& newPath) {
  constexpr std::size_t kRemembered = 256;
  // Older renames whose new name lay inside this one now lead to its new name.
  for (Rename& earlier : m_renames) {
    if (IsAtOrBelow(oldPath, earlier.newPath)) earlier.newPath = newPath + earlier.newPath.substr(oldPath.size());
  }
  if (m_renames.size() == kRemembered) m_renames.pop_front();
  m_renames.push_back({oldPath, newPath});
}

std::u16string WineRenamedFolders::Correct(std::u16string path) const {
  // Newest first; a corrected path may lie below a later rename again.
  for (std::size_t pass = 0; pass < m_renames.size(); ++pass) {
    bool corrected = false;
    for (auto rename = m_renames.rbegin(); rename != m_renames.rend(); ++rename) {
      if (path.size() > rename->oldPath.size() && IsAtOrBelow(rename->oldPath, path) && FolderMissing(path)) {
        path = rename->newPath + path.substr(rename->oldPath.size());
        corrected = true;
        break;
      }
    }
    if (!corrected) break;
  }
  return path;
}

}  // namespace pelko
