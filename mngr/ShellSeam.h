#pragma once
// The manager's requests to the shell (open a file, a folder, a mail or a
// web address) and its message boxes. When a file named like the program
// plus ".shell" lies beside it, a request is written there as a line
// instead of being carried out, so that tests see what would have opened;
// message boxes have ".messages" likewise. Only an administrator can create
// files beside an installed program.

#include <windows.h>

#include <string>

namespace pelko {

// ShellExecuteW with no parameters and no folder; its result is the
// caller's to ignore or use. verb null is the default action.
HINSTANCE ShellOpen(HWND owner, const wchar_t* verb, const std::wstring& file, int show);

// MessageBoxW owned by owner; the answer (IDOK first) when observed.
int ManagerMessageBox(HWND owner, const std::wstring& text, UINT style);

}  // namespace pelko
