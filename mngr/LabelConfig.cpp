#include "LabelConfig.h"

#include <windows.h>
#include <shlwapi.h>

#include <string_view>
#include <vector>

#include "DataFolder.h"
#include "UniqueHandle.h"

namespace pelko {
namespace {

constexpr DWORD kValueBufferChars = 1024;
constexpr char kUtf16LeMark[] = "\xFF\xFE";
constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

std::wstring MenuSectionOf(LabelValue label) { return L"MenuItem" + std::to_wstring(LabelMenuSection(label)); }

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  // A configuration file is a few kilobytes; anything huge is not ours to convert.
  if (!GetFileSizeEx(file.get(), &size)) return false;
  if (size.QuadPart > 16 * 1024 * 1024) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  return bytes.empty() ||
         (ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
}

bool WriteUnicodeFile(const std::wstring& path, const std::wstring& text) {
  const std::wstring aside = path + L".tmp";
  {
    unique_hfile file(CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::string bytes(kUtf16LeMark, 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.get())) {
      const DWORD error = GetLastError();
      file.reset();
      DeleteFileW(aside.c_str());
      SetLastError(error);
      return false;
    }
  }
  if (!MoveFileExW(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(aside.c_str());
    SetLastError(error);
    return false;
  }
  return true;
}

std::wstring Decode(std::string_view bytes, UINT codePage) {
  if (bytes.empty()) return {};
  const int length = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
  return text;
}

}  // namespace

std::wstring GetConfigFilePath() {
  const std::optional<std::wstring> folder = ProductDataFolder();
  return folder ? *folder + L"\\PelkoLabelShlCfg.ini" : std::wstring();
}

std::wstring ReadIniString(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
  std::vector<wchar_t> value(kValueBufferChars, L'\0');
  GetPrivateProfileStringW(section, key, L"", value.data(), kValueBufferChars, file.c_str());
  return value.data();
}

MenuItemValues ReadMenuItem(const std::wstring& configFile, LabelValue label) {
  const std::wstring section = MenuSectionOf(label);
  return {ReadIniString(configFile, section.c_str(), L"MenuText"), ReadIniString(configFile, section.c_str(), L"MenuDesc"),
          ReadIniString(configFile, section.c_str(), L"IconFile"),
          ReadIniString(configFile, section.c_str(), L"OverlayIcon")};
}

bool WriteMenuItem(const std::wstring& configFile, LabelValue label, const MenuItemValues& values) {
  const std::wstring section = MenuSectionOf(label);
  const std::pair<const wchar_t*, const std::wstring*> keys[] = {
      {L"MenuText", &values.menuText},
      {L"MenuDesc", &values.menuDesc},
      {L"IconFile", &values.iconFile},
      {L"OverlayIcon", &values.overlayIcon},
  };
  for (const auto& [key, value] : keys) {
    if (!WritePrivateProfileStringW(section.c_str(), key, value->c_str(), configFile.c_str())) return false;
  }
  return true;
}

bool WriteCurrentScheme(const std::wstring& configFile, int schemeNumber) {
  return WritePrivateProfileStringW(L"General", L"CurrentScheme", std::to_wstring(schemeNumber).c_str(),
                                    configFile.c_str()) != FALSE;
}

bool MakeConfigFileUnicode(const std::wstring& configFile) {
  std::string bytes;
  if (!ReadWholeFile(configFile, bytes)) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    return WriteUnicodeFile(configFile, L"");
  }
  const std::string_view content(bytes);
  if (content.starts_with(std::string_view(kUtf16LeMark, 2))) return true;
  if (content.starts_with(kUtf8Mark)) return WriteUnicodeFile(configFile, Decode(content.substr(3), CP_UTF8));
  return WriteUnicodeFile(configFile, Decode(content, CP_ACP));
}

}  // namespace pelko
