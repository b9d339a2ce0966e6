#include "Notices.h"

#include <windows.h>

#include "Module.h"
#include "UniqueHandle.h"

namespace pelko {
namespace {

constexpr std::size_t kEventTextLimit = 255;

// Appends text as a UTF-8 line to the program's observer file, if a test
// created one. True when it did.
bool AppendToObserverFile(const wchar_t* suffix, std::wstring_view text) {
  const std::wstring path = ModuleFilePath(nullptr) + suffix;
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

}  // namespace

void ReportServiceEvent(const std::wstring& sourceName, std::wstring_view text) {
  const std::wstring message(text.substr(0, kEventTextLimit));
  AppendToObserverFile(L".events", message);
  unique_event_source source(RegisterEventSourceW(nullptr, sourceName.c_str()));
  if (!source) return;
  const wchar_t* strings[] = {message.c_str()};
  ReportEventW(source.get(), EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}

void ShowServiceMessage(const std::wstring& caption, std::wstring_view text) {
  if (AppendToObserverFile(L".messages", text)) return;
  MessageBoxW(nullptr, std::wstring(text).c_str(), caption.c_str(), MB_OK);
}

}  // namespace pelko
