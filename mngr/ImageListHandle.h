#pragma once
// An owned image list.

#include <windows.h>
#include <commctrl.h>

#include "UniqueHandle.h"

namespace pelko {

using unique_himagelist = unique_any<handle_traits::null_invalid<HIMAGELIST, &ImageList_Destroy>>;

}  // namespace pelko
