#include "Dpi.h"

namespace pelko {
namespace {

UINT SystemDpi() {
  window_dc screen(nullptr);
  return screen ? static_cast<UINT>(GetDeviceCaps(screen.get(), LOGPIXELSY)) : 96;
}

}  // namespace

UINT WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow && window) {
    if (const UINT dpi = getDpiForWindow(window)) return dpi;
  }
  return SystemDpi();
}

unique_hfont CreateMessageFont(UINT dpi, bool bold) {
  NONCLIENTMETRICSW metrics{};
  // Built for XP, the structure is the size every system knows.
  metrics.cbSize = sizeof(metrics);
  LOGFONTW font{};
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
    font = metrics.lfMessageFont;
    // The system metrics are for the system DPI.
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  } else {
    font.lfHeight = -MulDiv(9, static_cast<int>(dpi), 72);
    lstrcpynW(font.lfFaceName, L"Tahoma", LF_FACESIZE);
  }
  if (bold) font.lfWeight = FW_BOLD;
  return unique_hfont(CreateFontIndirectW(&font));
}

}  // namespace pelko
