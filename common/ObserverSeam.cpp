#include "ObserverSeam.h"

#include <string>

#include "Module.h"
#include "UniqueHandle.h"

namespace pelko {

bool AppendToObserverFile(HMODULE module, const wchar_t* suffix, std::wstring_view text) {
  const std::wstring path = ModuleFilePath(module) + suffix;
  unique_hfile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::wstring line(text);
  line += L"\r\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), size, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return true;
}

std::optional<std::wstring> ReadSeamValue(HMODULE module, const wchar_t* suffix) {
  const std::wstring path = ModuleFilePath(module) + suffix;
  unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  char bytes[1024];
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes, sizeof bytes, &read, nullptr)) return std::nullopt;
  std::string_view text(bytes, read);
  text = text.substr(0, text.find_first_of("\r\n"));
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring value(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), value.data(), size);
  return value;
}

void ShowMessageBox(HMODULE module, std::wstring_view caption, std::wstring_view text, UINT style) {
  if (AppendToObserverFile(module, L".messages", L"[" + std::wstring(caption) + L"] " + std::wstring(text))) return;
  MessageBoxW(nullptr, std::wstring(text).c_str(), std::wstring(caption).c_str(), style);
}

}  // namespace pelko
