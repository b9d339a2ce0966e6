#pragma once
// What a program tells a person (event-log lines, message boxes) can be
// watched by tests through a file beside the module: when a file named like
// the module plus a suffix (".events", ".messages") exists, each text is
// appended to it as a UTF-8 line, and a message box is then not shown, so
// that no test waits for a person. Only an administrator can create files
// beside an installed program.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace pelko {

// True when the module's observer file with this suffix exists and took the line.
bool AppendToObserverFile(HMODULE module, const wchar_t* suffix, std::wstring_view text);

// The first line of the file named like the module plus suffix (UTF-8), for
// settings a test gives an installed program; nothing when no such file.
std::optional<std::wstring> ReadSeamValue(HMODULE module, const wchar_t* suffix);

// MessageBoxW without owner, or a line "[caption] text" in "<module>.messages".
void ShowMessageBox(HMODULE module, std::wstring_view caption, std::wstring_view text, UINT style);

}  // namespace pelko
