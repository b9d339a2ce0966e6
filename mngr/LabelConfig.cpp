#include "LabelConfig.h"

#include <windows.h>
#include <shlwapi.h>

#include <string_view>
#include <vector>

#include "DataFolder.h"
#include "SmallFile.h"

namespace pelko {
namespace {

constexpr DWORD kValueBufferChars = 1024;
constexpr char kUtf16LeMark[] = "\xFF\xFE";
constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

std::wstring MenuSectionOf(LabelValue label) { return L"MenuItem" + std::to_wstring(LabelMenuSection(label)); }

// A configuration file is a few kilobytes; anything huge is not ours to convert.
constexpr std::size_t kConfigFileLimit = 16 * 1024 * 1024;

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
  if (!ReadSmallFile(configFile, kConfigFileLimit, bytes)) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    return WriteFileAside(configFile, Utf16FileBytes(L""), ExistingFile::Replace);
  }
  const std::string_view content(bytes);
  if (content.starts_with(std::string_view(kUtf16LeMark, 2))) return true;
  const std::wstring text = content.starts_with(kUtf8Mark) ? Decode(content.substr(3), CP_UTF8) : Decode(content, CP_ACP);
  return WriteFileAside(configFile, Utf16FileBytes(text), ExistingFile::Replace);
}

}  // namespace pelko
