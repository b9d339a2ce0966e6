#pragma once
// Pixels for the window's DPI. Per-monitor DPI (Windows 10) is looked up at
// run time; older systems have one DPI for the whole screen.

#include <windows.h>

#include "UniqueHandle.h"

namespace pelko {

UINT WindowDpi(HWND window);
inline int ScaleForDpi(int value, UINT dpi) { return MulDiv(value, static_cast<int>(dpi), 96); }

// The system's message font (dialogs, menus' neighbours), sized for dpi.
unique_hfont CreateMessageFont(UINT dpi, bool bold = false);

}  // namespace pelko
