#include "DataFolder.h"

#include <windows.h>
#include <shlobj.h>

namespace pelko {

std::optional<std::wstring> CommonAppDataFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer)) || buffer[0] == L'\0') {
    return std::nullopt;
  }
  std::wstring folder(buffer);
  if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return folder;
}

std::optional<std::wstring> ProductDataFolder() {
  auto base = CommonAppDataFolder();
  if (!base) return std::nullopt;
  if (base->back() != L'\\') base->push_back(L'\\');
  return *base + kProductDataSubfolder;
}

}  // namespace pelko
