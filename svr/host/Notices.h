#pragma once
// The service's two ways of telling a person something: the Windows event
// log and, during registration only, message boxes. Tests observe both
// through the files of ObserverSeam.h (Wine's event log stores nothing).

#include <string>
#include <string_view>

namespace pelko {

// One information event (category 0, id 0) with text as its only string,
// cut to 255 units, from the event source sourceName.
void ReportServiceEvent(const std::wstring& sourceName, std::wstring_view text);

// A message box with an OK button and caption as its title.
void ShowServiceMessage(const std::wstring& caption, std::wstring_view text);

}  // namespace pelko
