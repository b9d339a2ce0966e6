#pragma once
// What Windows tests under Wine need from the Linux side.

#include <string>

namespace pelko::testing {

// A file of the build tree, through the t: drive that maps it
// (relative is like L"svr\\host\\PelkoLabelSvr.exe").
inline std::wstring BuildTreeFile(const wchar_t* relative) { return std::wstring(L"t:\\") + relative; }

// A file of a sibling build tree (preset L"x64" beside this x86 one), by
// its \\?\unix path; empty outside Wine.
std::wstring SiblingBuildTreeFile(const wchar_t* preset, const wchar_t* relative);

// True under Wine (its ntdll exports wine_get_version).
bool RunningUnderWine();

// The Unix path Wine maps a Windows path to; empty outside Wine.
std::string UnixPathOf(const std::wstring& windowsPath);

// Makes link a symbolic link to target with Linux's ln -s. Wine's
// CreateSymbolicLinkW reports success and creates nothing. Wine 8 shows a
// link to a folder as a reparse point (attributes 0x410) and a link to a
// file as the plain file. Waits until the link is visible.
bool MakeUnixSymlink(const std::wstring& link, const std::wstring& target);

// Points the prefix's drive letter at a Unix folder, or takes the letter
// away (an unplugged disk), as a user would with the dosdevices links.
// Waits until Wine sees the change.
bool LinkWineDrive(wchar_t letter, const std::string& unixFolder);
bool UnlinkWineDrive(wchar_t letter);

// A fresh, empty folder on the test prefix's D: drive.
std::wstring MakeScratchFolder(const wchar_t* name);

// Text of a program's output.
inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
inline std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// Milliseconds of the performance counter, for benchmarks.
double PreciseNowMs();

// labels.lst holding C:\a.txt (label 1) and D:\Work\Plan (label 4): 68 bytes.
std::string WorkedExampleLabelFile();

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);
// text in UTF-8, for messages of failed expectations and for comparing with output.
std::string Utf8(const std::wstring& text);
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);

}  // namespace pelko::testing
