#include "MenuBitmaps.h"

#include <memory>

#include "ShellModule.h"
#include "UniqueHandle.h"

namespace pelko {
namespace {

constexpr int kBufferFormatDib = 1;  // BPBF_DIB
constexpr DWORD kPaintErase = 1;     // BPPF_ERASE

unique_hicon LoadIconFile(const std::wstring& iconFile, int size) {
  if (iconFile.empty()) return {};
  return unique_hicon(static_cast<HICON>(LoadImageW(nullptr, iconFile.c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE)));
}

// A bottom-up 32-bit device-independent format of the given size.
BITMAPINFO Format32(SIZE size) {
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  format.bmiHeader.biWidth = size.cx;
  format.bmiHeader.biHeight = size.cy;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  return format;
}

// Icons without an alpha channel come with a mask: make the masked-out
// pixels transparent and the others opaque.
void ApplyIconMask(HDC dc, HICON icon, RGBQUAD* pixels, int rowPixels, SIZE size) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return;
  unique_hbitmap color(info.hbmColor), mask(info.hbmMask);
  BITMAPINFO maskFormat = Format32(size);
  auto maskPixels = std::make_unique<RGBQUAD[]>(static_cast<std::size_t>(size.cx) * size.cy);
  if (GetDIBits(dc, mask.get(), 0, size.cy, maskPixels.get(), &maskFormat, DIB_RGB_COLORS) != size.cy) return;
  for (int y = 0; y < size.cy; ++y) {
    for (int x = 0; x < size.cx; ++x) {
      RGBQUAD& pixel = pixels[y * rowPixels + x];
      const RGBQUAD& masked = maskPixels[y * size.cx + x];
      if (masked.rgbRed || masked.rgbGreen || masked.rgbBlue) {
        pixel = RGBQUAD{};
      } else {
        pixel.rgbReserved = 0xFF;
      }
    }
  }
}

bool HasAlpha(const RGBQUAD* pixels, int rowPixels, SIZE size) {
  for (int y = 0; y < size.cy; ++y) {
    for (int x = 0; x < size.cx; ++x) {
      if (pixels[y * rowPixels + x].rgbReserved) return true;
    }
  }
  return false;
}

}  // namespace

HBITMAP CreateMenuBitmapPARGB32(const std::wstring& iconFile) {
  unique_hicon icon = LoadIconFile(iconFile, 16);
  if (!icon || !g_bufferedPaint.Available()) return nullptr;
  const SIZE size{GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)};
  const RECT rect{0, 0, size.cx, size.cy};

  unique_hdc dc(CreateCompatibleDC(nullptr));
  if (!dc) return nullptr;
  BITMAPINFO format = Format32(size);
  void* sectionBits = nullptr;
  unique_hbitmap bitmap(CreateDIBSection(dc.get(), &format, DIB_RGB_COLORS, &sectionBits, nullptr, 0));
  if (!bitmap) return nullptr;
  {
    scoped_select selected(dc.get(), bitmap.get());
    if (!selected) return nullptr;
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    BufferedPaintFunctions::PaintParams params{sizeof params, kPaintErase, nullptr, &blend};
    HDC paintDc = nullptr;
    HANDLE buffer = g_bufferedPaint.begin(dc.get(), &rect, kBufferFormatDib, &params, &paintDc);
    if (!buffer) return nullptr;
    if (DrawIconEx(paintDc, 0, 0, icon.get(), size.cx, size.cy, 0, nullptr, DI_NORMAL)) {
      RGBQUAD* pixels = nullptr;
      int rowPixels = 0;
      if (SUCCEEDED(g_bufferedPaint.getBits(buffer, &pixels, &rowPixels)) && pixels &&
          !HasAlpha(pixels, rowPixels, size)) {
        ApplyIconMask(paintDc, icon.get(), pixels, rowPixels, size);
      }
    }
    g_bufferedPaint.end(buffer, TRUE);
  }
  return bitmap.release();
}

HBITMAP CreateCheckmarkBitmap(const std::wstring& iconFile) {
  unique_hicon icon = LoadIconFile(iconFile, 12);
  if (!icon) return nullptr;
  const int width = GetSystemMetrics(SM_CXMENUCHECK);
  const int height = GetSystemMetrics(SM_CYMENUCHECK);
  window_dc screen(GetDesktopWindow());
  if (!screen) return nullptr;
  unique_hdc dc(CreateCompatibleDC(screen.get()));
  unique_hbitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
  if (!dc || !bitmap) return nullptr;
  {
    scoped_select selected(dc.get(), bitmap.get());
    if (!selected) return nullptr;
    const RECT whole{0, 0, width, height};
    SetBkColor(dc.get(), RGB(255, 255, 255));
    ExtTextOutW(dc.get(), 0, 0, ETO_OPAQUE, &whole, nullptr, 0, nullptr);
    if (!DrawIconEx(dc.get(), 0, 0, icon.get(), width, height, 0, nullptr, DI_NORMAL)) return nullptr;
  }
  return bitmap.release();
}

bool DrawMenuItemIcon(const DRAWITEMSTRUCT& item, const std::wstring& iconFile) {
  unique_hicon icon = LoadIconFile(iconFile, 16);
  if (!icon) return false;
  const int x = item.rcItem.left - 16;
  const int y = item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - 16) / 2;
  return DrawIconEx(item.hDC, x, y, icon.get(), 16, 16, 0, nullptr, DI_NORMAL) != FALSE;
}

}  // namespace pelko
