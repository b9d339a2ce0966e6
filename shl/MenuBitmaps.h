#pragma once
// Menu icons as bitmaps: the premultiplied-alpha bitmap that menus of
// Windows Vista and later draw beside an entry, and the check-mark bitmap
// of Windows 2000. Each returns a new bitmap the caller owns, or null when
// the icon file cannot be loaded (the entry then has no icon). Every GDI
// object made on the way is released on every path.

#include <windows.h>

#include <string>

namespace pelko {

HBITMAP CreateMenuBitmapPARGB32(const std::wstring& iconFile);
HBITMAP CreateCheckmarkBitmap(const std::wstring& iconFile);

// Draws the 16 x 16 icon of iconFile for an owner-drawn menu entry, left of
// the entry's text; false when the file cannot be loaded.
bool DrawMenuItemIcon(const DRAWITEMSTRUCT& item, const std::wstring& iconFile);

}  // namespace pelko
