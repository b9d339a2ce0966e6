// The context menu's icons on each of its three ways (premultiplied bitmaps,
// check-mark bitmaps, owner drawing): what they put on the menu, where they
// draw, and that a thousand menus leave no GDI object behind. Wine's
// GetGuiResources answers 0, so a leak shows as lost headroom: fewer
// bitmaps the process can still create.

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "ComObject.h"
#include "ComPtr.h"
#include "DropDataObject.h"
#include "FileLabelExt.h"
#include "ServiceTestSupport.h"
#include "ShellModule.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using namespace pelko::testing;

constexpr UINT kFirstId = 100;
constexpr UINT kLastId = 0x7FFF;
constexpr int kIconCount = 7;  // MenuItem1 (the top entry) to MenuItem7 (label 6)
constexpr int kLabelEntries = 6;

// The icons' colours; from the fifth on they have no alpha channel and a
// mask that hides their left half.
constexpr COLORREF kIconColours[kIconCount] = {RGB(200, 0, 0),   RGB(0, 0, 200),  RGB(0, 160, 0),  RGB(200, 200, 0),
                                               RGB(0, 150, 150), RGB(150, 0, 150), RGB(90, 60, 30)};
bool IconHasAlpha(int index) { return index < 4; }

std::wstring IconPath(int index) { return L"C:\\pelko-icon" + std::to_wstring(index + 1) + L".ico"; }

template <typename T>
void Append(std::string& bytes, T value) {
  bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// A .ico file with one 16 x 16, 32 bits per pixel image and its AND mask.
std::string IconFileBytes(COLORREF colour, bool alpha) {
  constexpr int kSide = 16, kMaskRowBytes = 4;
  constexpr DWORD kImageBytes = sizeof(BITMAPINFOHEADER) + kSide * kSide * 4 + kSide * kMaskRowBytes;
  std::string bytes;
  Append<WORD>(bytes, 0);
  Append<WORD>(bytes, 1);  // an icon
  Append<WORD>(bytes, 1);  // one image
  Append<BYTE>(bytes, kSide);
  Append<BYTE>(bytes, kSide);
  Append<BYTE>(bytes, 0);
  Append<BYTE>(bytes, 0);
  Append<WORD>(bytes, 1);
  Append<WORD>(bytes, 32);
  Append<DWORD>(bytes, kImageBytes);
  Append<DWORD>(bytes, 6 + 16);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = kSide;
  header.biHeight = 2 * kSide;  // the colour image and the mask
  header.biPlanes = 1;
  header.biBitCount = 32;
  Append(bytes, header);
  for (int pixel = 0; pixel < kSide * kSide; ++pixel) {
    // Under the mask black, or the pixel would invert the screen there.
    const COLORREF shown = alpha || pixel % kSide >= 8 ? colour : RGB(0, 0, 0);
    Append<BYTE>(bytes, GetBValue(shown));
    Append<BYTE>(bytes, GetGValue(shown));
    Append<BYTE>(bytes, GetRValue(shown));
    Append<BYTE>(bytes, alpha ? 0xFF : 0);
  }
  for (int row = 0; row < kSide; ++row) {
    Append<BYTE>(bytes, alpha ? 0x00 : 0xFF);  // bit set: transparent (x 0..7)
    Append<BYTE>(bytes, 0x00);
    Append<WORD>(bytes, 0);
  }
  return bytes;
}


// How many more GDI objects the process can make right now.
std::size_t GdiHeadroom() {
  std::vector<unique_hbitmap> made;
  made.reserve(70000);
  while (made.size() < 1000000) {
    unique_hbitmap bitmap(CreateBitmap(1, 1, 1, 1, nullptr));
    if (!bitmap) break;
    made.push_back(std::move(bitmap));
  }
  return made.size();  // all of them are freed on the way out
}

// A white 32-bit drawing surface.
class Canvas {
 public:
  Canvas(int width, int height) : m_width(width), m_height(height), m_dc(CreateCompatibleDC(nullptr)) {
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;  // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    m_bitmap.reset(CreateDIBSection(m_dc.get(), &format, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0));
    if (m_bits) std::memset(m_bits, 0xFF, static_cast<std::size_t>(width) * height * 4);
    m_previous = SelectObject(m_dc.get(), m_bitmap.get());
  }
  ~Canvas() { SelectObject(m_dc.get(), m_previous); }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return m_dc.get(); }
  COLORREF Pixel(int x, int y) const {
    GdiFlush();
    const RGBQUAD& pixel = m_bits[y * m_width + x];
    return RGB(pixel.rgbRed, pixel.rgbGreen, pixel.rgbBlue);
  }

 private:
  int m_width, m_height;
  unique_hdc m_dc;
  unique_hbitmap m_bitmap;
  RGBQUAD* m_bits = nullptr;
  HGDIOBJ m_previous = nullptr;
};

// The icon files, the configuration naming them, and what Explorer has
// before it loads a handler: the theme library and a window.
void PrepareProcess() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  std::string config;
  for (int i = 0; i < kIconCount; ++i) {
    ASSERT_TRUE(WriteWholeFile(IconPath(i), IconFileBytes(kIconColours[i], IconHasAlpha(i))));
    config += "[MenuItem" + std::to_string(i + 1) + "]\r\nIconFile=C:\\pelko-icon" + std::to_string(i + 1) + ".ico\r\n";
  }
  CreateDirectoryW(L"C:\\ProgramData\\Norvane", nullptr);
  CreateDirectoryW(L"C:\\ProgramData\\Norvane\\Pelko Labels", nullptr);
  ASSERT_TRUE(WriteWholeFile(L"C:\\ProgramData\\Norvane\\Pelko Labels\\PelkoLabelShlCfg.ini", config));
  ASSERT_TRUE(LoadLibraryW(L"uxtheme.dll"));
  ASSERT_TRUE(CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
  InitializeModuleGlobals(GetModuleHandleW(nullptr));
}

// How the handler is made to choose each way of showing icons.
struct IconWay {
  const char* name;
  std::uint16_t osVersion;  // 0: the version the process runs on
  UINT flags;
};
void PrintTo(const IconWay& way, std::ostream* out) { *out << way.name; }
constexpr IconWay kBitmaps{"bitmaps", 0, CMF_NORMAL};
constexpr IconWay kCheckMarks{"check-marks", 0x0500, CMF_NORMAL};
constexpr IconWay kOwnerDraw{"owner-draw", 0x0501, CMF_NORMAL};

struct ShownMenu {
  com_ptr<IContextMenu3> handler;
  unique_hmenu menu;
  HMENU submenu = nullptr;
};

ShownMenu ShowMenu(const IconWay& way) {
  ShownMenu shown;
  if (FAILED(CreateFileLabelExt(nullptr, IID_IContextMenu3, shown.handler.put_void()))) return {};
  if (way.osVersion) static_cast<CFileLabelExt*>(shown.handler.get())->SetOsVersionForTesting(way.osVersion);
  com_ptr<IShellExtInit> init;
  com_ptr<IDataObject> data = com_ptr<IDataObject>::attach(ComObject<CDropDataObject>::Create(std::vector<std::wstring>{L"D:\\x\\a.txt"}));
  if (FAILED(shown.handler.query(init)) || FAILED(init->Initialize(nullptr, data.get(), nullptr))) return {};
  shown.menu.reset(CreatePopupMenu());
  if (FAILED(shown.handler->QueryContextMenu(shown.menu.get(), 0, kFirstId, kLastId, way.flags))) return {};
  shown.submenu = GetSubMenu(shown.menu.get(), 1);
  return shown;
}

MENUITEMINFOW ItemInfo(HMENU menu, UINT position) {
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_BITMAP | MIIM_CHECKMARKS | MIIM_ID;
  GetMenuItemInfoW(menu, position, TRUE, &item);
  return item;
}

BOOL DrawEntry(IContextMenu3* handler, HDC dc, std::int32_t menuId, RECT rect) {
  DRAWITEMSTRUCT draw{};
  draw.CtlType = ODT_MENU;
  draw.itemID = kFirstId + menuId;
  draw.itemAction = ODA_DRAWENTIRE;
  draw.hDC = dc;
  draw.rcItem = rect;
  LRESULT result = 0;
  if (FAILED(handler->HandleMenuMsg2(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw), &result))) return FALSE;
  return static_cast<BOOL>(result);
}

class MenuResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(PrepareProcess()); }
};

TEST_F(MenuResourcesTest, BitmapsArePremultipliedIconsWithTheirMask) {
  ASSERT_GE(g_osVersion, 0x0600) << "the premultiplied bitmaps are for Vista and later";
  ASSERT_TRUE(g_bufferedPaint.Available());
  ShownMenu shown = ShowMenu(kBitmaps);
  ASSERT_TRUE(shown.submenu);

  // The top entry carries MenuItem1's icon, label n MenuItem(n+1)'s.
  std::vector<HBITMAP> bitmaps{ItemInfo(shown.menu.get(), 1).hbmpItem};
  for (UINT position = 0; position < kLabelEntries; ++position) bitmaps.push_back(ItemInfo(shown.submenu, position).hbmpItem);
  for (int icon = 0; icon < kIconCount; ++icon) {
    SCOPED_TRACE("icon " + std::to_string(icon + 1));
    ASSERT_NE(bitmaps[icon], nullptr);
    ASSERT_NE(bitmaps[icon], HBMMENU_CALLBACK);
    DIBSECTION section{};
    ASSERT_EQ(GetObjectW(bitmaps[icon], sizeof section, &section), static_cast<int>(sizeof section));
    ASSERT_EQ(section.dsBm.bmBitsPixel, 32);
    ASSERT_EQ(section.dsBm.bmWidth, 16);
    ASSERT_EQ(section.dsBm.bmHeight, 16);
    const auto* pixels = static_cast<const RGBQUAD*>(section.dsBm.bmBits);
    const RGBQUAD left = pixels[8 * 16 + 2], right = pixels[8 * 16 + 12];
    EXPECT_EQ(right.rgbReserved, 0xFF);
    EXPECT_EQ(RGB(right.rgbRed, right.rgbGreen, right.rgbBlue), kIconColours[icon]);
    // Masked out: fully transparent, which premultiplied means black.
    EXPECT_EQ(left.rgbReserved, IconHasAlpha(icon) ? 0xFF : 0);
    EXPECT_EQ(RGB(left.rgbRed, left.rgbGreen, left.rgbBlue), IconHasAlpha(icon) ? kIconColours[icon] : RGB(0, 0, 0));
  }
  EXPECT_EQ(ItemInfo(shown.submenu, kLabelEntries).hbmpItem, nullptr) << "\"Clear label\" has no icon";
}

TEST_F(MenuResourcesTest, CheckMarksCarryTheIcons) {
  ShownMenu shown = ShowMenu(kCheckMarks);
  ASSERT_TRUE(shown.submenu);
  const MENUITEMINFOW top = ItemInfo(shown.menu.get(), 1);
  EXPECT_NE(top.hbmpChecked, nullptr);
  EXPECT_EQ(top.hbmpUnchecked, top.hbmpChecked);
  for (UINT position = 0; position < kLabelEntries; ++position) {
    const MENUITEMINFOW item = ItemInfo(shown.submenu, position);
    EXPECT_NE(item.hbmpChecked, nullptr) << "entry " << position;
    EXPECT_EQ(item.hbmpUnchecked, item.hbmpChecked) << "entry " << position;
    EXPECT_EQ(item.hbmpItem, nullptr) << "entry " << position;
  }
}

TEST_F(MenuResourcesTest, OwnerDrawnEntriesMeasureAndDrawTheirIcon) {
  ShownMenu shown = ShowMenu(kOwnerDraw);
  ASSERT_TRUE(shown.submenu);
  EXPECT_EQ(ItemInfo(shown.menu.get(), 1).hbmpItem, HBMMENU_CALLBACK);
  for (UINT position = 0; position < kLabelEntries; ++position) {
    EXPECT_EQ(ItemInfo(shown.submenu, position).hbmpItem, HBMMENU_CALLBACK) << "entry " << position;
  }

  struct MeasureCase {
    UINT width, height, wantWidth, wantHeight;
  };
  for (const MeasureCase& c : {MeasureCase{80, 13, 82, 16}, MeasureCase{80, 20, 82, 20}, MeasureCase{0, 0, 2, 16}}) {
    MEASUREITEMSTRUCT measure{};
    measure.CtlType = ODT_MENU;
    measure.itemID = kFirstId + 1;
    measure.itemWidth = c.width;
    measure.itemHeight = c.height;
    LRESULT result = 0;
    ASSERT_EQ(shown.handler->HandleMenuMsg2(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure), &result), S_OK);
    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(measure.itemWidth, c.wantWidth) << c.width << " x " << c.height;
    EXPECT_EQ(measure.itemHeight, c.wantHeight) << c.width << " x " << c.height;
  }

  // The entry (30,40)-(200,62): the icon goes 16 left of it, centred, at (14,43).
  struct DrawCase {
    std::int32_t menuId;
    BOOL drawn;
    int x, y;
    COLORREF want;
  };
  const COLORREF white = RGB(255, 255, 255);
  const DrawCase cases[] = {
      {1, TRUE, 22, 51, kIconColours[1]},   // inside an opaque icon
      {1, TRUE, 14, 43, kIconColours[1]},   // its first pixel
      {1, TRUE, 29, 58, kIconColours[1]},   // its last
      {1, TRUE, 13, 51, white},             // left of it
      {1, TRUE, 30, 51, white},             // right of it: the entry's own room
      {1, TRUE, 22, 42, white},             // above
      {1, TRUE, 22, 59, white},             // below
      {5, TRUE, 16, 51, white},             // the masked half of a mask-only icon
      {5, TRUE, 26, 51, kIconColours[5]},   // its other half
      {7, FALSE, 22, 51, white},            // "Clear label": no icon, nothing drawn
  };
  for (const DrawCase& c : cases) {
    Canvas canvas(256, 80);
    EXPECT_EQ(DrawEntry(shown.handler.get(), canvas.dc(), c.menuId, RECT{30, 40, 200, 62}), c.drawn) << "entry " << c.menuId;
    EXPECT_EQ(canvas.Pixel(c.x, c.y), c.want) << "entry " << c.menuId << " at " << c.x << "," << c.y;
  }
}

class MenuLeakTest : public MenuResourcesTest, public ::testing::WithParamInterface<IconWay> {};

TEST_P(MenuLeakTest, AThousandMenusLeaveNoGdiObjectBehind) {
  const IconWay& way = GetParam();
  Canvas canvas(256, 80);
  auto showAndClose = [&] {
    ShownMenu shown = ShowMenu(way);
    if (!shown.submenu) return false;
    if (way.osVersion == kOwnerDraw.osVersion) {
      for (std::int32_t menuId = 1; menuId <= kLabelEntries; ++menuId) {
        if (!DrawEntry(shown.handler.get(), canvas.dc(), menuId, RECT{30, 40, 200, 62})) return false;
      }
    }
    return true;
  };
  // Whatever the system makes once for the first menu is not a leak.
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(showAndClose());

  const std::size_t before = GdiHeadroom();
  constexpr int kMenus = 1000;
  for (int i = 0; i < kMenus; ++i) ASSERT_TRUE(showAndClose()) << "menu " << i;
  const std::size_t after = GdiHeadroom();
  std::printf("%s: headroom %zu GDI objects before %d menus, %zu after\n", way.name, before, kMenus, after);
  ASSERT_GT(before, 1000u) << "the headroom measure measures nothing";
  // One object leaked per menu would show as a drop of a thousand.
  EXPECT_LE(before - std::min(before, after), 20u);
}

INSTANTIATE_TEST_SUITE_P(IconWays, MenuLeakTest, ::testing::Values(kBitmaps, kCheckMarks, kOwnerDraw),
                         [](const ::testing::TestParamInfo<IconWay>& info) {
                           std::string name = info.param.name;
                           std::erase(name, '-');
                           return name;
                         });

}  // namespace
}  // namespace pelko
