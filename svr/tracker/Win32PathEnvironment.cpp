#include "Win32PathEnvironment.h"

#include <windows.h>
#include <shlobj.h>

#include "LongPath.h"
#include "Utf16.h"

namespace pelko {
namespace {

std::optional<std::u16string> ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::nullopt;
  return ToU16(path);
}

}  // namespace

Win32PathEnvironment::Win32PathEnvironment()
    : m_commonAppData(ShellFolder(CSIDL_COMMON_APPDATA)), m_system(ShellFolder(CSIDL_SYSTEM)) {}

std::uint32_t Win32PathEnvironment::FileAttributes(std::u16string_view path) {
  return GetFileAttributesW(ExtendedLengthPath(ToWide(path)).c_str());
}

}  // namespace pelko
