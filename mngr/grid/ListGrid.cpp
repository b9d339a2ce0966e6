#include "ListGrid.h"

#include <uxtheme.h>

#include <algorithm>
#include <numeric>

#include "Utf16.h"

namespace pelko {
namespace {

constexpr UINT_PTR kListSubclassId = 1;

// Posted to the list after a header drag: the new order is in place only
// once the drag's notification has returned.
UINT FixColumnOrderMessage() {
  static const UINT message = RegisterWindowMessageW(L"Norvane.PelkoLabels.ListGrid.FixColumnOrder");
  return message;
}

bool KeyDown(int key) { return GetKeyState(key) < 0; }

std::u16string U16(const std::wstring& text) { return ToU16(text); }

// uxtheme is looked up at run time: the program starts on systems without it.
struct ThemeApi {
  using IsThemed = BOOL(WINAPI*)();
  using OpenData = HTHEME(WINAPI*)(HWND, LPCWSTR);
  using CloseData = HRESULT(WINAPI*)(HTHEME);
  using SetTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  IsThemed isAppThemed = nullptr, isThemeActive = nullptr;
  OpenData openThemeData = nullptr;
  CloseData closeThemeData = nullptr;
  SetTheme setWindowTheme = nullptr;

  static const ThemeApi& Get() {
    static const ThemeApi api = [] {
      ThemeApi found;
      if (HMODULE uxtheme = LoadLibraryW(L"uxtheme.dll")) {  // stays loaded for the process
        found.isAppThemed = reinterpret_cast<IsThemed>(reinterpret_cast<void*>(GetProcAddress(uxtheme, "IsAppThemed")));
        found.isThemeActive = reinterpret_cast<IsThemed>(reinterpret_cast<void*>(GetProcAddress(uxtheme, "IsThemeActive")));
        found.openThemeData = reinterpret_cast<OpenData>(reinterpret_cast<void*>(GetProcAddress(uxtheme, "OpenThemeData")));
        found.closeThemeData = reinterpret_cast<CloseData>(reinterpret_cast<void*>(GetProcAddress(uxtheme, "CloseThemeData")));
        found.setWindowTheme = reinterpret_cast<SetTheme>(reinterpret_cast<void*>(GetProcAddress(uxtheme, "SetWindowTheme")));
      }
      return found;
    }();
    return api;
  }
  bool Complete() const { return isAppThemed && isThemeActive && openThemeData && closeThemeData && setWindowTheme; }
};

// Visual styles need common controls 6 (the manifest) and Windows 6.0 or later.
bool VisualStylesActive() {
  const ThemeApi& theme = ThemeApi::Get();
  if (!theme.Complete() || !theme.isAppThemed() || !theme.isThemeActive()) return false;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&version)) return false;
#pragma GCC diagnostic pop
  if (version.dwMajorVersion < 6) return false;
  // comctl32 6 is the one from the side-by-side store, not system32's 5.x.
  HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
  wchar_t path[MAX_PATH] = {};
  if (!comctl || !GetModuleFileNameW(comctl, path, MAX_PATH)) return false;
  std::wstring lower(path);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
  return lower.find(L"winsxs") != std::wstring::npos;
}

int ScaleForWindow(HWND window, int value) {
  window_dc dc(window);
  const int dpi = dc ? GetDeviceCaps(dc.get(), LOGPIXELSY) : 96;
  return MulDiv(value, dpi, 96);
}

// The classic look's sort mark: a black triangle on the button face.
unique_hbitmap MakeArrowBitmap(HWND window, bool up) {
  const int size = ScaleForWindow(window, 16);
  window_dc screen(nullptr);
  unique_hdc memory(CreateCompatibleDC(screen.get()));
  unique_hbitmap bitmap(CreateCompatibleBitmap(screen.get(), size, size));
  if (!memory || !bitmap) return {};
  {
    scoped_select selectBitmap(memory.get(), bitmap.get());
    RECT all{0, 0, size, size};
    FillRect(memory.get(), &all, GetSysColorBrush(COLOR_BTNFACE));
    auto at = [size](int x, int y) { return POINT{MulDiv(x, size, 16), MulDiv(y, size, 16)}; };
    const POINT upCorners[] = {at(7, 5), at(4, 8), at(10, 8)};
    const POINT downCorners[] = {at(10, 6), at(4, 6), at(7, 9)};
    scoped_select brush(memory.get(), GetStockObject(BLACK_BRUSH));
    scoped_select pen(memory.get(), GetStockObject(BLACK_PEN));
    Polygon(memory.get(), up ? upCorners : downCorners, 3);
  }
  return bitmap;
}

struct SortContext {
  const std::vector<int>* rank;
};

int CALLBACK CompareByRank(LPARAM first, LPARAM second, LPARAM context) {
  const auto& rank = *reinterpret_cast<const SortContext*>(context)->rank;
  return rank[static_cast<std::size_t>(first)] - rank[static_cast<std::size_t>(second)];
}

LPARAM ItemData(HWND list, int row) {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  return SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) ? item.lParam : 0;
}

void SetItemData(HWND list, int row, LPARAM data) {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = data;
  SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

}  // namespace

// ---- Traits ----------------------------------------------------------------

void CTextColumnTrait::OnCellPrePaint(CListGrid&, NMLVCUSTOMDRAW& draw) {
  if (textColor != CLR_NONE) draw.clrText = textColor;
  if (backColor != CLR_NONE) draw.clrTextBk = backColor;
}

bool CTextColumnTrait::SortRows(CListGrid& grid, int column, bool ascending) {
  if (grid.HasItemSource()) return grid.SortItems(column, numericSort, ascending);
  const HWND list = grid.Window();
  const int count = grid.ItemCount();
  // Each cell is read once; the list view then sorts by the rank computed
  // here. Rows carry their present index as item data during the sort, and
  // get their own data back afterwards.
  std::vector<std::u16string> texts;
  std::vector<LPARAM> data;
  texts.reserve(static_cast<std::size_t>(count));
  data.reserve(static_cast<std::size_t>(count));
  for (int row = 0; row < count; ++row) {
    texts.push_back(U16(grid.ItemText(row, column)));
    data.push_back(ItemData(list, row));
  }
  std::vector<int> order(static_cast<std::size_t>(count));
  std::iota(order.begin(), order.end(), 0);
  grid::SortRowOrder(order, [&texts](int row) { return texts[static_cast<std::size_t>(row)]; }, numericSort, ascending);
  std::vector<int> rank(order.size());
  for (std::size_t position = 0; position < order.size(); ++position) rank[static_cast<std::size_t>(order[position])] = static_cast<int>(position);

  for (int row = 0; row < count; ++row) SetItemData(list, row, row);
  SortContext context{&rank};
  const bool sorted = SendMessageW(list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&context),
                                   reinterpret_cast<LPARAM>(&CompareByRank)) != FALSE;
  for (int row = 0; row < count; ++row) {
    const auto original = static_cast<std::size_t>(ItemData(list, row));
    SetItemData(list, row, original < data.size() ? data[original] : 0);
  }
  return sorted;
}

COLORREF CTextRowTrait::RowTextColor(int row) const {
  if (row % 2 == 1 && altTextColor != CLR_NONE) return altTextColor;
  return textColor;
}

COLORREF CTextRowTrait::RowBackColor(int row) const {
  if (row % 2 == 1 && altBackColor != CLR_NONE) return altBackColor;
  return backColor;
}

void CTextRowTrait::OnRowPrePaint(CListGrid& grid, NMLVCUSTOMDRAW& draw) {
  const int row = static_cast<int>(draw.nmcd.dwItemSpec);
  if (grid.IsRowSelected(row) || (draw.nmcd.uItemState & CDIS_HOT)) return;
  if (const COLORREF text = RowTextColor(row); text != CLR_NONE) draw.clrText = text;
  if (const COLORREF back = RowBackColor(row); back != CLR_NONE) draw.clrTextBk = back;
}

void CClassicRowTrait::OnCellPostPaint(CListGrid& grid, NMLVCUSTOMDRAW& draw) {
  if (grid.UsesVisualStyle()) return;
  const HWND list = grid.Window();
  const int row = static_cast<int>(draw.nmcd.dwItemSpec);
  const int column = draw.iSubItem;
  if (row == grid.FocusedRow() && column == grid.FocusCell()) return;

  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  item.iSubItem = column;
  if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) || item.iImage < 0) return;
  const auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  if (!images) return;

  HBRUSH fill = nullptr;
  unique_hbrush ownBrush;
  if (grid.IsRowSelected(row)) {
    fill = GetSysColorBrush(GetFocus() == list ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
  } else if (const COLORREF back = RowBackColor(row); back != CLR_NONE) {
    ownBrush.reset(CreateSolidBrush(back));
    fill = ownBrush.get();
  }
  if (!fill) return;

  RECT icon{};
  icon.top = column;
  icon.left = LVIR_ICON;
  if (!SendMessageW(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&icon))) return;
  FillRect(draw.nmcd.hdc, &icon, fill);
  int width = 0, height = 0;
  ImageList_GetIconSize(images, &width, &height);
  ImageList_Draw(images, item.iImage, draw.nmcd.hdc, icon.left + (icon.right - icon.left - width) / 2,
                 icon.top + (icon.bottom - icon.top - height) / 2, ILD_TRANSPARENT);
}

// ---- The control -------------------------------------------------------------

CListGrid::CListGrid()
    : m_columnManager(std::make_unique<CColumnManager>()), m_rowTrait(std::make_unique<CTextRowTrait>()) {}

CListGrid::~CListGrid() { Detach(); }

bool CListGrid::Attach(HWND list) {
  if (m_list || !IsWindow(list)) return false;
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(list, GWL_STYLE));
  if ((style & LVS_TYPEMASK) != LVS_REPORT || (style & LVS_OWNERDRAWFIXED)) return false;
  HWND parent = GetParent(list);
  if (!parent) return false;
  if (!SetWindowSubclass(list, &CListGrid::ListProc, kListSubclassId, reinterpret_cast<DWORD_PTR>(this))) return false;
  if (!SetWindowSubclass(parent, &CListGrid::ParentProc, reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this))) {
    RemoveWindowSubclass(list, &CListGrid::ListProc, kListSubclassId);
    return false;
  }
  m_list = list;
  m_parent = parent;

  SetWindowLongPtrW(list, GWL_STYLE, static_cast<LONG_PTR>(style | LVS_SHOWSELALWAYS));
  constexpr DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES |
                             LVS_EX_DOUBLEBUFFER;
  // The list view's own tips would cover ours.
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended | LVS_EX_INFOTIP | LVS_EX_LABELTIP, extended);

  if (VisualStylesActive()) {
    const ThemeApi& theme = ThemeApi::Get();
    if (HTHEME data = theme.openThemeData(list, L"ListView")) {
      theme.closeThemeData(data);
      if (SUCCEEDED(theme.setWindowTheme(list, L"Explorer", nullptr))) {
        m_usesVisualStyle = true;
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_DOUBLEBUFFER, LVS_EX_DOUBLEBUFFER);
      }
    }
  }

  m_tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, list, nullptr,
                              reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(list, GWLP_HINSTANCE)), nullptr);
  if (m_tooltip) SendMessageW(m_tooltip, TTM_SETMAXTIPWIDTH, 0, ScaleForWindow(list, 600));

  // Columns the list had before it was attached get text traits.
  while (static_cast<int>(m_columnTraits.size()) < ColumnCount())
    m_columnTraits.push_back(std::make_unique<CTextColumnTrait>());
  return true;
}

void CListGrid::Detach() {
  if (!m_list) return;
  RemoveWindowSubclass(m_list, &CListGrid::ListProc, kListSubclassId);
  RemoveWindowSubclass(m_parent, &CListGrid::ParentProc, reinterpret_cast<UINT_PTR>(this));
  if (m_tooltip) DestroyWindow(m_tooltip);
  m_tooltip = nullptr;
  m_list = m_parent = nullptr;
}

HWND CListGrid::RecreateAsOwnerData(HWND list) {
  const HWND parent = GetParent(list);
  if (!parent) return nullptr;
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(list, GWL_STYLE));
  if (style & LVS_OWNERDATA) return list;
  RECT place{};
  GetWindowRect(list, &place);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
  const HWND made = CreateWindowExW(static_cast<DWORD>(GetWindowLongPtrW(list, GWL_EXSTYLE)), WC_LISTVIEWW, L"",
                                    style | LVS_OWNERDATA, place.left, place.top, place.right - place.left,
                                    place.bottom - place.top, parent,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(GetDlgCtrlID(list))),
                                    reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(list, GWLP_HINSTANCE)), nullptr);
  if (!made) return nullptr;
  SendMessageW(made, WM_SETFONT, SendMessageW(list, WM_GETFONT, 0, 0), FALSE);
  SetWindowPos(made, list, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  DestroyWindow(list);
  return made;
}

HWND CListGrid::Header() const noexcept {
  return m_list ? reinterpret_cast<HWND>(SendMessageW(m_list, LVM_GETHEADER, 0, 0)) : nullptr;
}

int CListGrid::ColumnCount() const {
  const HWND header = Header();
  return header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

CColumnTrait* CListGrid::ColumnTrait(int column) const {
  if (column < 0 || column >= static_cast<int>(m_columnTraits.size())) return nullptr;
  return m_columnTraits[static_cast<std::size_t>(column)].get();
}

int CListGrid::AddHiddenFirstColumn() {
  auto trait = std::make_unique<CColumnTrait>();
  trait->alwaysHidden = true;
  trait->visible = false;
  trait->resizable = false;
  trait->sortable = false;
  return InsertColumn(0, L"", LVCFMT_LEFT, 0, std::move(trait));
}

int CListGrid::InsertColumn(int index, const std::wstring& heading, int format, int width,
                            std::unique_ptr<CColumnTrait> trait) {
  if (!m_list) return -1;
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
  column.fmt = format;
  column.cx = trait && !trait->visible ? 0 : width;
  column.pszText = const_cast<wchar_t*>(heading.c_str());
  // The insertion handler below gives the column a trait; this one, if any.
  const int inserted = static_cast<int>(SendMessageW(m_list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column)));
  if (inserted >= 0 && trait) m_columnTraits[static_cast<std::size_t>(inserted)] = std::move(trait);
  return inserted;
}

void CListGrid::SetRowTrait(std::unique_ptr<CRowTrait> trait) {
  if (trait) m_rowTrait = std::move(trait);
  if (m_list) InvalidateRect(m_list, nullptr, FALSE);
}

void CListGrid::SetColumnManager(std::unique_ptr<CColumnManager> manager) {
  if (manager) m_columnManager = std::move(manager);
}

void CListGrid::SetEmptyText(std::wstring text) {
  m_emptyText = std::move(text);
  if (m_list && ItemCount() == 0) InvalidateRect(m_list, nullptr, TRUE);
}

int CListGrid::ItemCount() const { return m_list ? static_cast<int>(SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0)) : 0; }

int CListGrid::FocusedRow() const {
  return m_list ? static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)) : -1;
}

bool CListGrid::IsRowSelected(int row) const {
  return m_list && (SendMessageW(m_list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

std::wstring CListGrid::ItemText(int row, int column) const {
  if (m_source) {
    return row >= 0 && static_cast<std::size_t>(row) < m_items.size() ? m_source->ItemText(m_items[static_cast<std::size_t>(row)], column)
                                                                         : std::wstring();
  }
  std::wstring text(256, L'\0');
  for (;;) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text.data();
    item.cchTextMax = static_cast<int>(text.size());
    const auto copied = static_cast<std::size_t>(SendMessageW(m_list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    // A full buffer may mean a longer text: read again with more room.
    if (copied + 1 < text.size() || text.size() >= 65536) {
      text.resize(std::min(copied, text.size()));
      return text;
    }
    text.resize(text.size() * 4);
  }
}

std::wstring CListGrid::ColumnHeading(int column) const {
  wchar_t heading[260] = {};
  LVCOLUMNW item{};
  item.mask = LVCF_TEXT;
  item.pszText = heading;
  item.cchTextMax = 260;
  SendMessageW(m_list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&item));
  return heading;
}

std::vector<int> CListGrid::DisplayOrder() const {
  std::vector<int> order(static_cast<std::size_t>(ColumnCount()));
  if (!order.empty()) SendMessageW(m_list, LVM_GETCOLUMNORDERARRAY, order.size(), reinterpret_cast<LPARAM>(order.data()));
  return order;
}

std::vector<bool> CListGrid::VisibleColumns() const {
  std::vector<bool> visible;
  for (const auto& trait : m_columnTraits) visible.push_back(trait->visible);
  return visible;
}

void CListGrid::FitColumnWidth(int column, bool includeHeading) {
  const int mode = includeHeading ? LVSCW_AUTOSIZE_USEHEADER : LVSCW_AUTOSIZE;
  const int count = ColumnCount();
  for (int each = column < 0 ? 0 : column; each < (column < 0 ? count : column + 1); ++each) {
    const CColumnTrait* trait = ColumnTrait(each);
    if (trait && trait->visible) SendMessageW(m_list, LVM_SETCOLUMNWIDTH, each, mode);
  }
}

bool CListGrid::SortByColumn(int column, bool ascending) {
  if (!m_list || ((GetWindowLongPtrW(m_list, GWL_STYLE) & LVS_OWNERDATA) && !m_source)) return false;
  CColumnTrait* trait = ColumnTrait(column);
  if (!trait) return false;
  if (ItemCount() == 0) return true;
  return trait->SortRows(*this, column, ascending);
}

void CListGrid::SetItemSource(const CItemSource* source) {
  m_items.clear();
  if (m_list) SendMessageW(m_list, LVM_DELETEALLITEMS, 0, 0);
  m_source = source;
}

void CListGrid::AppendItems(const std::vector<std::size_t>& items) {
  if (!m_list || !m_source || items.empty()) return;
  const auto before = static_cast<int>(m_items.size());
  m_items.insert(m_items.end(), items.begin(), items.end());
  // The rest of the list and its scroll place stay; rows that come into
  // view are drawn (and, after an empty list, its text goes).
  SendMessageW(m_list, LVM_SETITEMCOUNT, m_items.size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  const auto lastShown = static_cast<int>(SendMessageW(m_list, LVM_GETTOPINDEX, 0, 0) +
                                          SendMessageW(m_list, LVM_GETCOUNTPERPAGE, 0, 0));
  if (before <= lastShown) InvalidateRect(m_list, nullptr, before == 0);
}

void CListGrid::ClearItems() {
  m_items.clear();
  if (m_list) SendMessageW(m_list, LVM_DELETEALLITEMS, 0, 0);
}

std::size_t CListGrid::ItemOfRow(int row) const {
  return row >= 0 && static_cast<std::size_t>(row) < m_items.size() ? m_items[static_cast<std::size_t>(row)]
                                                                     : static_cast<std::size_t>(-1);
}

void CListGrid::DeleteRow(int row) {
  if (!m_list || row < 0 || row >= ItemCount()) return;
  // The rows after it move up before the list view draws them again.
  if (m_source && static_cast<std::size_t>(row) < m_items.size())
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(row));
  SendMessageW(m_list, LVM_DELETEITEM, row, 0);
}

bool CListGrid::SortItems(int column, bool numeric, bool ascending) {
  if (!m_source) return false;
  std::vector<int> order(m_items.size());
  std::iota(order.begin(), order.end(), 0);
  grid::SortRowOrder(
      order, [this, column](int row) { return U16(m_source->ItemText(m_items[static_cast<std::size_t>(row)], column)); },
      numeric, ascending);
  ShowInOrder(order);
  return true;
}

void CListGrid::ShowInOrder(const std::vector<int>& order) {
  const std::size_t count = m_items.size();
  std::vector<std::size_t> items(count);
  std::vector<int> newRowOf(count);
  for (std::size_t row = 0; row < count; ++row) {
    const auto was = static_cast<std::size_t>(order[row]);
    items[row] = m_items[was];
    newRowOf[was] = static_cast<int>(row);
  }
  // The list view keeps states by row: they move with their items, as
  // LVM_SORTITEMS moves them.
  const auto selectedCount = static_cast<std::size_t>(SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0));
  std::vector<int> selected;
  if (selectedCount < count) {
    for (int row = -1; (row = static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0;)
      selected.push_back(row);
  }
  const int focused = FocusedRow();
  const auto mark = static_cast<int>(SendMessageW(m_list, LVM_GETSELECTIONMARK, 0, 0));
  m_items = std::move(items);
  if (selectedCount > 0 || focused >= 0) {
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    state.state = state.stateMask = LVIS_SELECTED;
    if (selectedCount > 0 && selectedCount == count) {
      SendMessageW(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    }
    for (const int row : selected)
      SendMessageW(m_list, LVM_SETITEMSTATE, newRowOf[static_cast<std::size_t>(row)], reinterpret_cast<LPARAM>(&state));
    if (focused >= 0 && static_cast<std::size_t>(focused) < count) {
      state.state = state.stateMask = LVIS_FOCUSED;
      SendMessageW(m_list, LVM_SETITEMSTATE, newRowOf[static_cast<std::size_t>(focused)], reinterpret_cast<LPARAM>(&state));
    }
    if (mark >= 0 && static_cast<std::size_t>(mark) < count)
      SendMessageW(m_list, LVM_SETSELECTIONMARK, 0, newRowOf[static_cast<std::size_t>(mark)]);
  }
  InvalidateRect(m_list, nullptr, FALSE);
}

void CListGrid::OnGetItemInfo(NMLVDISPINFOW& info) const {
  LVITEMW& item = info.item;
  if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= m_items.size()) return;
  const std::size_t source = m_items[static_cast<std::size_t>(item.iItem)];
  if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
    const std::wstring text = m_source->ItemText(source, item.iSubItem);
    lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
  }
  if (item.mask & LVIF_IMAGE) item.iImage = m_source->ItemImage(source, item.iSubItem);
  if (item.mask & LVIF_PARAM) item.lParam = static_cast<LPARAM>(source);
  if (item.mask & LVIF_INDENT) item.iIndent = 0;
}

// The list view's own type-ahead (no focus cell): column 0's texts.
int CListGrid::FindItem(const LVFINDINFOW& find, int start) const {
  if (!(find.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.psz) return -1;
  const std::wstring_view wanted(find.psz);
  const bool partial = (find.flags & LVFI_PARTIAL) != 0;
  const int count = static_cast<int>(m_items.size());
  const int first = start >= 0 && start < count ? start : 0;
  for (int step = 0; step < count; ++step) {
    if (first + step >= count && !(find.flags & LVFI_WRAP)) break;
    const int row = (first + step) % count;
    const std::wstring text = ItemText(row, 0);
    if (text.size() < wanted.size() || (!partial && text.size() != wanted.size())) continue;
    if (CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.data(), static_cast<int>(wanted.size()), wanted.data(),
                       static_cast<int>(wanted.size())) == CSTR_EQUAL) {
      return row;
    }
  }
  return -1;
}

void CListGrid::SetSort(int column, bool ascending) {
  const CColumnTrait* trait = ColumnTrait(column);
  if (column >= 0 && (!trait || !trait->sortable)) return;
  m_sortColumn = column;
  m_sortAscending = ascending;
  if (column >= 0) SortByColumn(column, ascending);
  MarkSortedHeader();
}

void CListGrid::SortAgain() {
  if (m_sortColumn >= 0) SortByColumn(m_sortColumn, m_sortAscending);
}

grid::ColumnLayout CListGrid::Layout() const {
  grid::ColumnLayout layout;
  const int count = ColumnCount();
  for (int column = 0; column < count; ++column) {
    const CColumnTrait* trait = ColumnTrait(column);
    const bool shown = trait && trait->visible;
    layout.visible.push_back(shown);
    layout.widths.push_back(shown ? static_cast<int>(SendMessageW(m_list, LVM_GETCOLUMNWIDTH, column, 0))
                                  : (trait ? trait->savedWidth : 0));
  }
  layout.order = DisplayOrder();
  layout.sortColumn = m_sortColumn;
  layout.sortAscending = m_sortAscending;
  return layout;
}

void CListGrid::ApplyLayout(const grid::ColumnLayout& layout) {
  const int count = ColumnCount();
  if (!m_list || layout.widths.size() != static_cast<std::size_t>(count) ||
      layout.order.size() != static_cast<std::size_t>(count)) {
    return;
  }
  std::vector<int> order = layout.order;
  SendMessageW(m_list, LVM_SETCOLUMNORDERARRAY, order.size(), reinterpret_cast<LPARAM>(order.data()));
  for (int column = 0; column < count; ++column) {
    const CColumnTrait* trait = ColumnTrait(column);
    if (!trait || trait->alwaysHidden) continue;
    const auto index = static_cast<std::size_t>(column);
    if (!trait->visible) SetColumnShown(column, true);
    SendMessageW(m_list, LVM_SETCOLUMNWIDTH, column, layout.widths[index]);
    if (!layout.visible[index]) SetColumnShown(column, false);
  }
  KeepHiddenColumnsInFront();
  SetSort(layout.sortColumn, layout.sortAscending);
}

void CListGrid::OnColumnClick(int column) {
  SetFocus(m_list);
  CColumnTrait* trait = ColumnTrait(column);
  if (!trait || !trait->sortable) return;
  if (column == m_sortColumn) {
    m_sortAscending = !m_sortAscending;
  } else {
    m_sortColumn = column;
    m_sortAscending = true;
  }
  if (SortByColumn(m_sortColumn, m_sortAscending)) MarkSortedHeader();
}

void CListGrid::MarkSortedHeader() {
  const HWND header = Header();
  if (!header) return;
  if (!m_usesVisualStyle && !m_arrowUp) {
    m_arrowUp = MakeArrowBitmap(m_list, true);
    m_arrowDown = MakeArrowBitmap(m_list, false);
  }
  const int count = ColumnCount();
  for (int column = 0; column < count; ++column) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    if (!SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item))) continue;
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN | HDF_BITMAP | HDF_BITMAP_ON_RIGHT);
    if (column == m_sortColumn) {
      if (m_usesVisualStyle) {
        item.fmt |= m_sortAscending ? HDF_SORTUP : HDF_SORTDOWN;
      } else {
        item.mask |= HDI_BITMAP;
        item.hbm = m_sortAscending ? m_arrowUp.get() : m_arrowDown.get();
        item.fmt |= HDF_BITMAP | HDF_BITMAP_ON_RIGHT;
      }
    }
    SendMessageW(header, HDM_SETITEMW, column, reinterpret_cast<LPARAM>(&item));
  }
}

bool CListGrid::IsColumnShown(int column) const {
  const CColumnTrait* trait = ColumnTrait(column);
  return trait && trait->visible;
}

bool CListGrid::SetColumnShown(int column, bool shown) {
  CColumnTrait* trait = ColumnTrait(column);
  if (!trait || (shown && trait->alwaysHidden)) return false;
  if (trait->visible == shown) return true;

  std::vector<int> restorePositions;
  for (const auto& each : m_columnTraits) restorePositions.push_back(each->restorePosition);
  std::vector<int> order = DisplayOrder();
  SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
  if (!shown) {
    trait->restorePosition = grid::HideColumn(order, VisibleColumns(), restorePositions, column);
    trait->savedWidth = static_cast<int>(SendMessageW(m_list, LVM_GETCOLUMNWIDTH, column, 0));
    SendMessageW(m_list, LVM_SETCOLUMNORDERARRAY, order.size(), reinterpret_cast<LPARAM>(order.data()));
    SendMessageW(m_list, LVM_SETCOLUMNWIDTH, column, 0);
    trait->visible = false;
    if (m_focusCell == column) m_focusCell = -1;
  } else {
    grid::ShowColumn(order, VisibleColumns(), restorePositions, column);
    trait->visible = true;
    trait->restorePosition = -1;
    SendMessageW(m_list, LVM_SETCOLUMNORDERARRAY, order.size(), reinterpret_cast<LPARAM>(order.data()));
    SendMessageW(m_list, LVM_SETCOLUMNWIDTH, column, trait->savedWidth);
  }
  SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(m_list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  return true;
}

void CListGrid::KeepHiddenColumnsInFront() {
  std::vector<int> order = DisplayOrder();
  const std::vector<int> before = order;
  grid::KeepHiddenColumnsInFront(order, VisibleColumns());
  if (order != before) {
    SendMessageW(m_list, LVM_SETCOLUMNORDERARRAY, order.size(), reinterpret_cast<LPARAM>(order.data()));
    InvalidateRect(m_list, nullptr, TRUE);
  }
}

bool CListGrid::CopySelectionToClipboard() {
  grid::ClipboardSource source;
  source.displayOrder = DisplayOrder();
  source.visible = VisibleColumns();
  const int count = ColumnCount();
  for (int column = 0; column < count; ++column) source.headings.push_back(U16(ColumnHeading(column)));
  for (int row = -1; (row = static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0;)
    source.selectedRows.push_back(row);
  source.focusCell = m_focusCell;
  source.selectionMark = static_cast<int>(SendMessageW(m_list, LVM_GETSELECTIONMARK, 0, 0));
  source.cellText = [this](int row, int column) { return U16(ItemText(row, column)); };

  const std::optional<std::u16string> text = grid::BuildClipboardText(source);
  if (!text) return false;
  const std::wstring wide = ToWide(*text);

  // Another program may hold the clipboard for a moment.
  bool opened = false;
  for (int attempt = 0; attempt < 10 && !(opened = OpenClipboard(m_list)); ++attempt) Sleep(20);
  if (!opened) return false;
  bool placed = false;
  if (EmptyClipboard()) {
    const SIZE_T bytes = (wide.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
      if (void* target = GlobalLock(memory)) {
        memcpy(target, wide.c_str(), bytes);
        GlobalUnlock(memory);
        placed = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
      }
      if (!placed) GlobalFree(memory);  // the clipboard owns it only once placed
    }
  }
  CloseClipboard();
  return placed;
}

unique_hmenu CListGrid::BuildHeaderMenu() {
  unique_hmenu menu(CreatePopupMenu());
  if (!menu) return menu;
  const int count = ColumnCount();
  for (int column = 0; column < count; ++column) {
    const CColumnTrait* trait = ColumnTrait(column);
    if (!trait || trait->alwaysHidden) continue;
    AppendMenuW(menu.get(), MF_STRING | (trait->visible ? MF_CHECKED : MF_UNCHECKED), static_cast<UINT_PTR>(column + 1),
                ColumnHeading(column).c_str());
  }
  m_columnManager->OnHeaderMenu(*this, menu.get());
  return menu;
}

void CListGrid::OnHeaderMenuCommand(UINT command) {
  const int column = static_cast<int>(command) - 1;
  if (command >= 1 && column < ColumnCount()) {
    SetColumnShown(column, !IsColumnShown(column));
  } else {
    m_columnManager->OnHeaderMenuCommand(*this, command);
  }
}

bool CListGrid::ShowHeaderMenu(POINT screenPoint) {
  unique_hmenu menu = BuildHeaderMenu();
  if (!menu) return false;
  const UINT command = static_cast<UINT>(TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                                       screenPoint.x, screenPoint.y, 0, m_list, nullptr));
  if (command) OnHeaderMenuCommand(command);
  return true;
}

// ---- Input -------------------------------------------------------------------

LVHITTESTINFO CListGrid::HitTest(LPARAM clientPoint) const {
  LVHITTESTINFO hit{};
  hit.pt = {static_cast<short>(LOWORD(clientPoint)), static_cast<short>(HIWORD(clientPoint))};
  hit.iItem = -1;
  if (SendMessageW(m_list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0 || !(hit.flags & LVHT_ONITEM)) {
    hit.iItem = -1;
    hit.iSubItem = -1;
  }
  return hit;
}

RECT CListGrid::CellRect(int row, int column) const {
  RECT rect{};
  rect.top = column;
  rect.left = LVIR_BOUNDS;
  SendMessageW(m_list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
  if (column == 0) rect.right = rect.left + static_cast<int>(SendMessageW(m_list, LVM_GETCOLUMNWIDTH, 0, 0));
  return rect;
}

void CListGrid::OnMouseDown(UINT message, LPARAM lParam) {
  if (GetFocus() != m_list) SetFocus(m_list);
  if (message != WM_LBUTTONDOWN && message != WM_RBUTTONDOWN) return;
  const LVHITTESTINFO hit = HitTest(lParam);
  if (hit.iItem < 0 || !IsColumnShown(hit.iSubItem)) return;
  const int focusedRow = FocusedRow();
  const int previousCell = m_focusCell;
  m_focusCell = hit.iSubItem;
  if (message == WM_LBUTTONDOWN) {
    const bool modifiers = KeyDown(VK_CONTROL) || KeyDown(VK_SHIFT);
    const bool fullRow = (SendMessageW(m_list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT) != 0;
    if (!fullRow && hit.iItem != focusedRow) {
      LVITEMW state{};
      if (!modifiers) {
        state.stateMask = LVIS_SELECTED;
        SendMessageW(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
      }
      state.state = state.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
      SendMessageW(m_list, LVM_SETITEMSTATE, hit.iItem, reinterpret_cast<LPARAM>(&state));
    }
    if (hit.iItem == focusedRow && hit.iSubItem == previousCell && !modifiers) {
      if (CColumnTrait* trait = ColumnTrait(hit.iSubItem); trait && trait->editable)
        m_cellEditor = trait->CreateCellEditor(*this, hit.iItem, hit.iSubItem);
    }
  }
  if (focusedRow >= 0) SendMessageW(m_list, LVM_REDRAWITEMS, focusedRow, focusedRow);
  SendMessageW(m_list, LVM_REDRAWITEMS, hit.iItem, hit.iItem);
}

void CListGrid::MoveFocusCell(int column) {
  m_focusCell = column;
  const int row = FocusedRow();
  if (column >= 0) {
    // Scroll the cell into view, its left edge first.
    const RECT cell = CellRect(row >= 0 ? row : 0, column);
    RECT client{};
    GetClientRect(m_list, &client);
    int scroll = 0;
    if (cell.left < client.left) {
      scroll = cell.left - client.left;
    } else if (cell.right > client.right) {
      scroll = std::min(cell.right - client.right, cell.left - client.left);
    }
    if (scroll) SendMessageW(m_list, LVM_SCROLL, scroll, 0);
  }
  if (row >= 0) {
    SendMessageW(m_list, LVM_REDRAWITEMS, row, row);
    UpdateWindow(m_list);
  }
}

bool CListGrid::OnKeyDown(UINT key) {
  const bool control = KeyDown(VK_CONTROL);
  if (ItemCount() == 0) m_focusCell = -1;
  switch (key) {
    case VK_LEFT:
      if (ItemCount() > 0) MoveFocusCell(grid::FocusCellLeft(DisplayOrder(), VisibleColumns(), m_focusCell));
      return true;
    case VK_RIGHT:
      if (ItemCount() > 0) MoveFocusCell(grid::FocusCellRight(DisplayOrder(), VisibleColumns(), m_focusCell));
      return true;
    case 'A':
      if (control && !(GetWindowLongPtrW(m_list, GWL_STYLE) & LVS_SINGLESEL)) {
        LVITEMW state{};
        state.state = state.stateMask = LVIS_SELECTED;
        SendMessageW(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
      }
      return false;
    case 'C':
      if (control) CopySelectionToClipboard();
      return false;
    case VK_ADD:
      if (!control) return false;
      FitColumnWidth(-1, false);
      return true;
    case VK_F2:
      if (const int row = FocusedRow(); row >= 0 && m_focusCell >= 0) {
        if (CColumnTrait* trait = ColumnTrait(m_focusCell); trait && trait->editable)
          m_cellEditor = trait->CreateCellEditor(*this, row, m_focusCell);
      }
      return false;
    default:
      return false;
  }
}

bool CListGrid::OnCharacter(wchar_t ch) {
  // Enter, Backspace and the like stay the list view's.
  if (m_focusCell <= 0 || ch < 0x20 || ch == 0x7F) return false;
  const int row = m_search.OnCharacter(static_cast<char16_t>(ch), m_clock.NowMs(), m_focusCell, FocusedRow(), ItemCount(),
                                       [this](int each) { return U16(ItemText(each, m_focusCell)); });
  if (row < 0) return true;
  LVITEMW state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(m_list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
  SendMessageW(m_list, LVM_SETSELECTIONMARK, 0, row);
  SendMessageW(m_list, LVM_ENSUREVISIBLE, row, FALSE);
  return true;
}

void CListGrid::UpdateCellTooltip(LPARAM mousePosition) {
  if (!m_tooltip) return;
  const LVHITTESTINFO hit = HitTest(mousePosition);
  const bool onCell = hit.iItem >= 0 && IsColumnShown(hit.iSubItem);
  const int cell = onCell ? grid::CellToolId(hit.iItem, hit.iSubItem) : -1;
  if (cell == m_tooltipCell) return;

  TOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.hwnd = m_list;
  if (m_tooltipCell >= 0) {
    tool.uId = static_cast<UINT_PTR>(m_tooltipCell);
    SendMessageW(m_tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  m_tooltipCell = -1;
  if (!onCell || ItemText(hit.iItem, hit.iSubItem).empty()) return;
  tool.uId = static_cast<UINT_PTR>(cell);
  tool.rect = CellRect(hit.iItem, hit.iSubItem);
  tool.lpszText = LPSTR_TEXTCALLBACKW;
  if (SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool))) m_tooltipCell = cell;
}

bool CListGrid::PaintEmptyList() {
  if (ItemCount() != 0 || m_emptyText.empty()) return false;
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(m_list, &paint);
  if (!dc) return true;
  RECT client{};
  GetClientRect(m_list, &client);
  const auto background = static_cast<COLORREF>(SendMessageW(m_list, LVM_GETBKCOLOR, 0, 0));
  if (background == CLR_NONE) {
    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  } else {
    unique_hbrush brush(CreateSolidBrush(background));
    FillRect(dc, &client, brush ? brush.get() : GetSysColorBrush(COLOR_WINDOW));
  }
  if (const HWND header = Header(); header && IsWindowVisible(header)) {
    RECT headerRect{};
    GetWindowRect(header, &headerRect);
    client.top += headerRect.bottom - headerRect.top;
  }
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkMode(dc, TRANSPARENT);
  scoped_select font(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(m_list, WM_GETFONT, 0, 0)));
  DrawTextW(dc, m_emptyText.c_str(), static_cast<int>(m_emptyText.size()), &client,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  EndPaint(m_list, &paint);
  return true;
}

// ---- Drawing -------------------------------------------------------------

LRESULT CListGrid::OnCustomDraw(NMLVCUSTOMDRAW& draw) {
  const int row = static_cast<int>(draw.nmcd.dwItemSpec);
  const bool gridLines = (SendMessageW(m_list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_GRIDLINES) != 0;
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;

    case CDDS_ITEMPREPAINT:
      m_rowTrait->OnRowPrePaint(*this, draw);
      m_rowTextColor = draw.clrText;
      m_rowBackColor = draw.clrTextBk;
      // Our own focus rectangle is drawn after the row.
      if (m_focusCell >= 0 || gridLines) draw.nmcd.uItemState &= ~CDIS_FOCUS;
      return CDRF_NOTIFYSUBITEMDRAW | CDRF_NOTIFYPOSTPAINT | CDRF_NEWFONT;

    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      CColumnTrait* trait = ColumnTrait(draw.iSubItem);
      if (!trait || !trait->visible) return CDRF_SKIPDEFAULT;
      draw.clrText = m_rowTextColor;
      draw.clrTextBk = m_rowBackColor;
      if (draw.iSubItem == m_focusCell && row == FocusedRow() && IsRowSelected(row)) {
        // The focus cell of a selected row stands out by being drawn unselected.
        draw.nmcd.uItemState &= ~CDIS_SELECTED;
        draw.clrText = GetSysColor(COLOR_WINDOWTEXT);
        draw.clrTextBk = GetSysColor(COLOR_WINDOW);
      }
      trait->OnCellPrePaint(*this, draw);
      return CDRF_NEWFONT | CDRF_NOTIFYPOSTPAINT;
    }

    case CDDS_ITEMPOSTPAINT | CDDS_SUBITEM:
      m_rowTrait->OnCellPostPaint(*this, draw);
      return CDRF_DODEFAULT;

    case CDDS_ITEMPOSTPAINT:
      if (row == FocusedRow() && GetFocus() == m_list && (m_focusCell >= 0 || gridLines)) {
        RECT focus{};
        if (m_focusCell >= 0) {
          focus = CellRect(row, m_focusCell);
        } else {
          focus.left = LVIR_BOUNDS;
          SendMessageW(m_list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&focus));
        }
        // Grid lines would hide the rectangle's edge.
        if (gridLines) InflateRect(&focus, -GetSystemMetrics(SM_CXBORDER), -GetSystemMetrics(SM_CYBORDER));
        DrawFocusRect(draw.nmcd.hdc, &focus);
      }
      return CDRF_DODEFAULT;

    default:
      return CDRF_DODEFAULT;
  }
}

// ---- Message routing ---------------------------------------------------------

bool CListGrid::OnHeaderNotify(NMHDR& header, LRESULT& result) {
  auto& notice = reinterpret_cast<NMHEADERW&>(header);
  const CColumnTrait* trait = ColumnTrait(notice.iItem);
  const bool fixedWidth = trait && (!trait->visible || !trait->resizable);
  switch (header.code) {
    case HDN_BEGINTRACKW:
    case HDN_BEGINTRACKA:
      if (!fixedWidth) return false;
      result = TRUE;
      return true;
    case HDN_ITEMCHANGINGW:
    case HDN_ITEMCHANGINGA:
      if (!fixedWidth || m_settingWidth || !notice.pitem || !(notice.pitem->mask & HDI_WIDTH)) return false;
      if (!trait->visible && notice.pitem->cxy == 0) return false;  // hiding it
      result = TRUE;
      return true;
    case HDN_DIVIDERDBLCLICKW:
    case HDN_DIVIDERDBLCLICKA:
      if (!fixedWidth) FitColumnWidth(notice.iItem, false);
      result = 0;
      return true;
    case HDN_ENDDRAG:
      PostMessageW(m_list, FixColumnOrderMessage(), 0, 0);
      return false;
    default:
      return false;
  }
}

LRESULT CListGrid::OnListMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  const HWND list = m_list;
  switch (message) {
    case WM_NOTIFY: {
      auto& header = *reinterpret_cast<NMHDR*>(lParam);
      LRESULT result = 0;
      if (header.hwndFrom == Header() && OnHeaderNotify(header, result)) return result;
      if (m_tooltip && header.hwndFrom == m_tooltip && header.code == TTN_GETDISPINFOW) {
        auto& info = reinterpret_cast<NMTTDISPINFOW&>(header);
        const grid::CellPosition cell = grid::CellOfToolId(static_cast<int>(header.idFrom));
        const auto text = grid::CellTooltipText(U16(ItemText(cell.row, cell.column)));
        m_tooltipText = text ? ToWide(*text) : std::wstring();
        info.lpszText = m_tooltipText.data();
        return 0;
      }
      break;
    }
    case LVM_INSERTCOLUMNW:
    case LVM_INSERTCOLUMNA: {
      const LRESULT inserted = DefSubclassProc(list, message, wParam, lParam);
      if (inserted >= 0 && static_cast<int>(m_columnTraits.size()) < ColumnCount()) {
        const auto at = std::min(static_cast<std::size_t>(inserted), m_columnTraits.size());
        m_columnTraits.insert(m_columnTraits.begin() + static_cast<std::ptrdiff_t>(at), std::make_unique<CTextColumnTrait>());
        if (m_sortColumn >= inserted) ++m_sortColumn;
      }
      return inserted;
    }
    case LVM_DELETECOLUMN: {
      const LRESULT deleted = DefSubclassProc(list, message, wParam, lParam);
      const auto column = static_cast<std::size_t>(wParam);
      if (deleted && column < m_columnTraits.size()) {
        m_columnTraits.erase(m_columnTraits.begin() + static_cast<std::ptrdiff_t>(column));
        if (m_sortColumn == static_cast<int>(column)) m_sortColumn = -1;
        else if (m_sortColumn > static_cast<int>(column)) --m_sortColumn;
        if (m_focusCell == static_cast<int>(column)) m_focusCell = -1;
      }
      return deleted;
    }
    case LVM_INSERTITEMW:
    case LVM_INSERTITEMA:
    case LVM_DELETEITEM:
    case LVM_DELETEALLITEMS: {
      const bool wasEmpty = ItemCount() == 0;
      const LRESULT result = DefSubclassProc(list, message, wParam, lParam);
      // The empty-list text comes and goes with the last row.
      if (wasEmpty != (ItemCount() == 0)) InvalidateRect(list, nullptr, TRUE);
      if (ItemCount() == 0) m_focusCell = -1;
      if (message == LVM_DELETEITEM || message == LVM_DELETEALLITEMS) {
        // The cell under the mouse may be gone, or be another row's now.
        if (m_tooltip && m_tooltipCell >= 0) {
          TOOLINFOW tool{};
          tool.cbSize = sizeof(tool);
          tool.hwnd = list;
          tool.uId = static_cast<UINT_PTR>(m_tooltipCell);
          SendMessageW(m_tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
        m_tooltipCell = -1;
      }
      return result;
    }
    case WM_PAINT:
      if (PaintEmptyList()) return 0;
      break;
    case WM_SIZE:
      if (ItemCount() == 0) InvalidateRect(list, nullptr, TRUE);
      break;
    case WM_KEYDOWN:
      if (OnKeyDown(static_cast<UINT>(wParam))) return 0;
      break;
    case WM_CHAR:
      if (OnCharacter(static_cast<wchar_t>(wParam))) return 0;
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MOUSEWHEEL:
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN) {
        MSG relayed{list, message, wParam, lParam, 0, {}};
        if (m_tooltip) SendMessageW(m_tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
      }
      OnMouseDown(message, lParam);
      break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP: {
      if (message == WM_MOUSEMOVE) UpdateCellTooltip(lParam);
      MSG relayed{list, message, wParam, lParam, 0, {}};
      if (m_tooltip) SendMessageW(m_tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
      break;
    }
    case WM_CONTEXTMENU:
      // Over the header: the column menu. Over the rows: nothing.
      if (reinterpret_cast<HWND>(wParam) == Header() && lParam != -1)
        ShowHeaderMenu({static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      return 0;
    case WM_COPY:
      CopySelectionToClipboard();
      return 0;
    case WM_NCDESTROY: {
      Detach();
      return DefSubclassProc(list, message, wParam, lParam);
    }
    default:
      if (message == FixColumnOrderMessage()) {
        KeepHiddenColumnsInFront();
        return 0;
      }
      break;
  }
  handled = false;
  return 0;
}

bool CListGrid::OnParentNotify(NMHDR& header, LRESULT& result) {
  switch (header.code) {
    case NM_CUSTOMDRAW:
      result = OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW&>(header));
      return true;
    case LVN_COLUMNCLICK:
      OnColumnClick(reinterpret_cast<NMLISTVIEW&>(header).iSubItem);
      result = 0;
      return true;
    case LVN_GETDISPINFOW:
      if (!m_source) return false;
      OnGetItemInfo(reinterpret_cast<NMLVDISPINFOW&>(header));
      result = 0;
      return true;
    case LVN_ODFINDITEMW: {
      if (!m_source) return false;
      const auto& find = reinterpret_cast<const NMLVFINDITEMW&>(header);
      result = FindItem(find.lvfi, find.iStart);
      return true;
    }
    case LVN_BEGINLABELEDITW:
    case LVN_BEGINLABELEDITA:
      // Only a cell editor edits; the list view's own label editing never.
      if (m_cellEditor) return false;
      result = TRUE;
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK CListGrid::ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self) {
  bool handled = false;
  const LRESULT result = reinterpret_cast<CListGrid*>(self)->OnListMessage(message, wParam, lParam, handled);
  return handled ? result : DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK CListGrid::ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self) {
  auto* grid = reinterpret_cast<CListGrid*>(self);
  if (message == WM_NOTIFY) {
    auto& header = *reinterpret_cast<NMHDR*>(lParam);
    LRESULT result = 0;
    if (header.hwndFrom == grid->m_list && grid->OnParentNotify(header, result)) return result;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace pelko
