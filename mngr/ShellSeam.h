#pragma once
// The manager's requests to the shell (open a file, a folder, a mail or a
// web address) and its message boxes. When a file named like the program
// plus ".shell" lies beside it, a request is written there as a line
// instead of being carried out, so that tests see what would have opened;
// message boxes have ".messages" likewise, and shell change notices go to
// ".shell" too. Only an administrator can create
// files beside an installed program.

#include <windows.h>

#include <string>

namespace pelko {

// ShellExecuteW with no parameters and no folder; its result is the
// caller's to ignore or use. verb null is the default action.
HINSTANCE ShellOpen(HWND owner, const wchar_t* verb, const std::wstring& file, int show);

// MessageBoxW owned by owner; when observed, the line "[caption] text" and
// the answer IDYES for a Yes/No question, IDOK otherwise.
int ManagerMessageBox(HWND owner, const std::wstring& text, UINT style, const wchar_t* caption = L"Pelko Labels");

// Asks the shell to redraw an item whose label changed (SHChangeNotify,
// SHCNE_UPDATEITEM). Under Wine only listeners in the sending process hear
// it, so it is observed as "[updateitem] path" in the ".shell" file.
void NotifyItemUpdated(const std::wstring& path);

}  // namespace pelko
