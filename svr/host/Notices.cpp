#include "Notices.h"

#include <windows.h>

#include "ObserverSeam.h"
#include "UniqueHandle.h"

namespace pelko {
namespace {
constexpr std::size_t kEventTextLimit = 255;
}

void ReportServiceEvent(const std::wstring& sourceName, std::wstring_view text) {
  const std::wstring message(text.substr(0, kEventTextLimit));
  AppendToObserverFile(nullptr, L".events", message);
  unique_event_source source(RegisterEventSourceW(nullptr, sourceName.c_str()));
  if (!source) return;
  const wchar_t* strings[] = {message.c_str()};
  ReportEventW(source.get(), EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}

void ShowServiceMessage(const std::wstring& caption, std::wstring_view text) {
  ShowMessageBox(nullptr, caption, text, MB_OK);
}

}  // namespace pelko
