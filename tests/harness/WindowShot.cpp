// WindowShot: saves what a window of its desktop shows, for tools/run under
// Xvfb, where nobody looks at the screen. Started on the program's desktop
// (wine explorer /desktop=NAME WindowShot.exe ...).
//
//   WindowShot CLASS TITLE NAME [--close]
//     waits up to 30 s for the visible top-level window of that class and
//     title, lets it paint, writes <build tree>\screenshots\NAME.png and,
//     with --close, asks the window to close.

#include <windows.h>

#include <cstdio>
#include <string>

#include "GuiTestSupport.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 4 || argc > 5 || (argc == 5 && std::wstring(argv[4]) != L"--close")) {
    std::fprintf(stderr, "usage: WindowShot CLASS TITLE NAME [--close]\n");
    return 2;
  }
  const HWND window = pelko::testing::WaitForTopLevelWindow(argv[1], argv[2], 0, 30000);
  if (!window) {
    std::fprintf(stderr, "WindowShot: no window of class %ls titled %ls appeared within 30 s\n", argv[1], argv[2]);
    return 1;
  }
  Sleep(1500);  // its first paint, icons included
  const std::wstring wideName(argv[3]);
  const std::string path = pelko::testing::SaveScreenshot(window, std::string(wideName.begin(), wideName.end()));
  if (argc == 5) PostMessageW(window, WM_CLOSE, 0, 0);
  return path.empty() ? 1 : 0;
}
