#pragma once
// The file of the program or library this code is linked into.

#include <windows.h>

#include <string>

namespace pelko {

// The module (EXE or DLL) that holds this function's code.
HMODULE ThisModule() noexcept;

// Its full path; empty when it cannot be had.
std::wstring ModuleFilePath(HMODULE module);

}  // namespace pelko
