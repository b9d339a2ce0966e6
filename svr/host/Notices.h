#pragma once
// The service's two ways of telling a person something: the Windows event
// log and, during registration only, message boxes. Each has one seam that
// tests observe: when a file named like the program plus ".events" (or
// ".messages") exists beside it, every event (or message) is also appended
// to it as a line, and a message box is then not shown. Only an
// administrator can create files beside the installed program.

#include <string>
#include <string_view>

namespace pelko {

// One information event (category 0, id 0) with text as its only string,
// cut to 255 units, from the event source sourceName.
void ReportServiceEvent(const std::wstring& sourceName, std::wstring_view text);

// A message box with an OK button and caption as its title.
void ShowServiceMessage(const std::wstring& caption, std::wstring_view text);

}  // namespace pelko
