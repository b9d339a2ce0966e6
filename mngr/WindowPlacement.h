#pragma once
// The main window's place and size, remembered per user between runs.

#include <windows.h>

namespace pelko {

// The manager's per-user settings: HKCU\<this>.
inline constexpr wchar_t kManagerSettingsKey[] = L"Software\\Norvane\\Pelko Labels\\Manager";

// Applies the saved placement to a window not yet shown; false (and nothing
// changed) when none is saved, it is damaged, or it lies off every monitor.
// showCommand receives how to show it (normal or maximised).
bool RestoreWindowPlacement(HWND window, int& showCommand);
void SaveWindowPlacement(HWND window);

}  // namespace pelko
