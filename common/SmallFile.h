#pragma once
// Small files read and written whole: configuration and version files, a
// few kilobytes. A write goes to "<path>.tmp" first and is renamed into
// place, so the file is either the old one or the new one, never half.

#include <windows.h>

#include <cstddef>
#include <string>

namespace pelko {

// The whole file, when it holds at most limit bytes; false otherwise, with
// the system's error as last error (ERROR_FILE_TOO_LARGE past the limit).
bool ReadSmallFile(const std::wstring& path, std::size_t limit, std::string& bytes);

enum class ExistingFile { Replace, Keep };
// Writes bytes aside, flushed, then renames them to path. With Keep, a file
// already there stays and the call fails with ERROR_ALREADY_EXISTS.
bool WriteFileAside(const std::wstring& path, const std::string& bytes, ExistingFile existing);

// text as UTF-16 LE with a byte-order mark, the form in which the profile
// functions keep every character.
std::string Utf16FileBytes(const std::wstring& text);

// "error N, <the system's text>", for messages to a person.
std::wstring SystemErrorText(DWORD error);

}  // namespace pelko
