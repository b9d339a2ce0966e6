#include "TagwellView.h"

#include <shlwapi.h>

#include <vector>

#include "CustomizeLabelDlg.h"
#include "Dpi.h"
#include "LabelConfig.h"
#include "LabelService.h"
#include "Resource.h"
#include "ShellSeam.h"
#include "Utf16.h"
#include "WindowPlacement.h"

namespace pelko {

std::map<LabelValue, std::wstring> g_labelNames;

namespace {

constexpr wchar_t kListLayoutValue[] = L"ListLayout";
constexpr wchar_t kUnknownLabelName[] = L"Unknown";
constexpr int kProgramIconImage = 0;
constexpr UINT_PTR kFillTimer = 1;
// How often a running fill's checked items are taken: rows come in batches.
constexpr UINT kFillTickMs = 30;
constexpr wchar_t kListingText[] = L"Listing the labelled items...";

std::vector<int> SelectedRows(HWND list) {
  std::vector<int> rows;
  for (int row = -1; (row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0;) {
    rows.push_back(row);
  }
  return rows;
}

std::wstring ClearFailureText(std::size_t failed) {
  return failed == 1 ? std::wstring(L"The label of 1 item could not be cleared.")
                     : L"The labels of " + std::to_wstring(failed) + L" items could not be cleared.";
}

}  // namespace

// The rows' texts and icons, read from the answer when the list asks.
class CTagwellView::LabelRows final : public CItemSource {
 public:
  explicit LabelRows(const CTagwellView& view) : m_view(view) {}

  std::wstring ItemText(std::size_t item, int column) const override {
    const LabelledItem* labelled = Item(item);
    if (!labelled) return {};
    switch (column) {
      case 0:
        return std::to_wstring(labelled->label);
      case kColorColumn: {
        const auto name = g_labelNames.find(labelled->label);
        return IsKnownLabel(labelled->label) && name != g_labelNames.end() ? name->second : kUnknownLabelName;
      }
      case kPathColumn:
        return labelled->path;
      default:
        return {};
    }
  }

  int ItemImage(std::size_t item, int column) const override {
    const LabelledItem* labelled = Item(item);
    // -1, as a cell of an item whose image was never set: no icon and no gap before the text.
    if (!labelled || column != kColorColumn) return -1;
    const bool known = IsKnownLabel(labelled->label) && g_labelNames.count(labelled->label) != 0;
    return known ? static_cast<int>(labelled->label) : kProgramIconImage;
  }

 private:
  const LabelledItem* Item(std::size_t item) const {
    return m_view.m_items && item < m_view.m_items->size() ? &(*m_view.m_items)[item] : nullptr;
  }
  const CTagwellView& m_view;
};

CTagwellView::CTagwellView() : m_rows(std::make_unique<LabelRows>(*this)) {}

// A fill's threads keep what they use; they are not waited for.
CTagwellView::~CTagwellView() = default;

bool CTagwellView::Create(HWND frame, HINSTANCE instance) {
  m_instance = instance;
  m_form = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_TAGWELL_FORM), frame, &CTagwellView::FormProc,
                              reinterpret_cast<LPARAM>(this));
  if (!m_form) return false;
  OnInitialUpdate();
  ShowWindow(m_form, SW_SHOW);
  return true;
}

void CTagwellView::OnInitialUpdate() {
  // 100,000 rows as list-view items would take seconds to insert and sort.
  const HWND list = CListGrid::RecreateAsOwnerData(GetDlgItem(m_form, kListControlId));
  if (!list || !m_list.Attach(list)) return;
  m_list.SetItemSource(m_rows.get());
  m_emptyText = m_list.EmptyText();
  m_configPath = GetConfigFilePath();
  if (m_configPath.empty()) EndWithMessage(L"Missing config file. Please re-install the product.");

  auto rows = std::make_unique<CClassicRowTrait>();
  rows->altTextColor = kAlternateTextColor;
  m_list.SetRowTrait(std::move(rows));
  const UINT dpi = WindowDpi(m_form);
  m_list.AddHiddenFirstColumn();
  m_list.InsertColumn(kColorColumn, L"Color", LVCFMT_LEFT, ScaleForDpi(100, dpi));
  m_list.InsertColumn(kPathColumn, L"Path", LVCFMT_LEFT, ScaleForDpi(500, dpi));
  m_list.FitColumnWidth(kPathColumn, true);
  RestoreListLayout();

  LoadLabelNames(m_configPath);
  if (!LoadLabelIcons()) return;
  FillLabelList();
}

void CTagwellView::EndWithMessage(const wchar_t* text) {
  ManagerMessageBox(GetAncestor(m_form, GA_ROOT), text, MB_OK);
  // Read by the message loop once the set-up is over: the program ends.
  PostQuitMessage(1);
}

void CTagwellView::LoadLabelNames(const std::wstring& configPath) {
  g_labelNames.clear();
  for (LabelValue label = kFirstLabel; label <= kLastLabel; ++label) {
    const std::wstring section = L"MenuItem" + std::to_wstring(LabelMenuSection(label));
    wchar_t name[260] = {};
    GetPrivateProfileStringW(section.c_str(), L"MenuText", L"<error>", name, 260, configPath.c_str());
    g_labelNames[label] = name;
  }
}

bool CTagwellView::LoadLabelIcons() {
  const int size = ScaleForDpi(16, WindowDpi(m_form));
  m_imageList.reset(ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 1, 0));
  bool loaded = m_imageList.is_valid();
  if (loaded) {
    unique_hicon programIcon(static_cast<HICON>(
        LoadImageW(m_instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
    ImageList_AddIcon(m_imageList.get(), programIcon.get());
  }
  for (LabelValue label = kFirstLabel; loaded && label <= kLastLabel; ++label) {
    const std::wstring iconFile = ReadMenuItem(m_configPath, label).iconFile;
    unique_hicon icon;
    if (!iconFile.empty() && PathFileExistsW(iconFile.c_str())) {
      icon.reset(static_cast<HICON>(LoadImageW(nullptr, iconFile.c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE)));
    }
    loaded = icon && ImageList_AddIcon(m_imageList.get(), icon.get()) >= 0;
  }
  if (!loaded) {
    m_imageList.reset();
    SendMessageW(List(), LVM_SETIMAGELIST, LVSIL_SMALL, 0);
    EndWithMessage(L"Cannot load custom icons. Please re-install the product.");
    return false;
  }
  // The list does not own it (no LVS_SHAREIMAGELISTS needed): this view does.
  SendMessageW(List(), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_imageList.get()));
  return true;
}

void CTagwellView::FillLabelList() {
  if (!List()) return;
  m_fill = std::make_unique<CLabelListFill>(&GetAllLabelsInOwnApartment,
                                            [check = PathCheck::FromSeam()](const std::wstring& path) {
                                              return check.Exists(path);
                                            });
  m_fillShown = false;
  if (!m_fill->Start()) {
    m_fill.reset();
    return;
  }
  SetPropW(List(), kFillingProperty, reinterpret_cast<HANDLE>(1));
  if (m_list.ItemCount() == 0) m_list.SetEmptyText(kListingText);
  SetTimer(m_form, kFillTimer, kFillTickMs, nullptr);
}

void CTagwellView::OnFillTimer() {
  if (!m_fill) return EndFill();
  const CLabelListFill::Progress progress = m_fill->Collect(GetTickCount());
  if (!progress.answered) return;
  if (!m_fillShown && (!progress.existing.empty() || progress.finished)) {
    m_list.ClearItems();
    m_items = m_fill->Answer();
    m_fillShown = true;
  }
  m_list.AppendItems(progress.existing);
  if (progress.finished) {
    EndFill();
    m_list.SortAgain();
  }
}

void CTagwellView::EndFill() {
  KillTimer(m_form, kFillTimer);
  m_fill.reset();
  if (!List()) return;
  m_list.SetEmptyText(m_emptyText);
  RemovePropW(List(), kFillingProperty);
}

void CTagwellView::OpenSelectedItems() {
  for (const int row : SelectedRows(List())) {
    const std::wstring path = m_list.ItemText(row, kPathColumn);
    if (!PathFileExistsW(path.c_str())) continue;
    ShellOpen(nullptr, PathIsDirectoryW(path.c_str()) ? L"explore" : L"open", path, SW_SHOWNORMAL);
  }
}

void CTagwellView::ClearSelectedLabels() {
  const std::vector<int> selected = SelectedRows(List());
  std::size_t failed = 0;
  if (const com_ptr<ILabelUtil> labels = CreateLabelUtil()) {
    // From the last row up, so that the rows still to do keep their numbers.
    for (auto row = selected.rbegin(); row != selected.rend(); ++row) {
      const std::wstring path = m_list.ItemText(*row, kPathColumn);
      unique_bstr text(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
      if (!text || labels->ClearLabel(text.get()) != S_OK) {
        ++failed;
        continue;
      }
      m_list.DeleteRow(*row);
      NotifyItemUpdated(path);
    }
    // A fill under way may have had its answer before these were cleared.
    if (m_fill && failed < selected.size()) FillLabelList();
  } else {
    failed = selected.size();
  }
  if (failed > 0) ManagerMessageBox(GetAncestor(m_form, GA_ROOT), ClearFailureText(failed), MB_OK | MB_ICONWARNING);
}

void CTagwellView::CustomizeLabels() {
  CCustomizeLabelDlg dialog(m_instance, m_configPath);
  if (dialog.DoModal(GetAncestor(m_form, GA_ROOT)) != IDOK) return;
  if (!LoadLabelIcons()) return;
  LoadLabelNames(m_configPath);
  FillLabelList();
}

int CTagwellView::SelectedCount() const {
  return List() ? static_cast<int>(SendMessageW(List(), LVM_GETSELECTEDCOUNT, 0, 0)) : 0;
}

bool CTagwellView::HandlesCommand(UINT command) const {
  return command == ID_OPEN_ITEM || command == ID_CLEAR_LABEL || command == ID_REFRESH_LIST || command == ID_CUSTOMIZE_LABEL;
}

bool CTagwellView::IsCommandEnabled(UINT command) const {
  switch (command) {
    case ID_OPEN_ITEM:
      return SelectedCount() == 1;
    case ID_CLEAR_LABEL:
      return SelectedCount() > 0;
    default:
      return HandlesCommand(command) && List();
  }
}

void CTagwellView::OnCommand(UINT command) {
  if (!IsCommandEnabled(command)) return;
  switch (command) {
    case ID_OPEN_ITEM:
      OpenSelectedItems();
      break;
    case ID_CLEAR_LABEL:
      ClearSelectedLabels();
      break;
    case ID_REFRESH_LIST:
      FillLabelList();
      break;
    case ID_CUSTOMIZE_LABEL:
      CustomizeLabels();
      break;
    default:
      break;
  }
}

void CTagwellView::RestoreListLayout() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kManagerSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
  const unique_hkey owned(key);
  wchar_t text[512] = {};
  DWORD bytes = sizeof(text) - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, kListLayoutValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return;
  }
  if (const auto layout = grid::ParseColumnLayout(ToU16(text), static_cast<std::size_t>(m_list.ColumnCount()))) {
    m_list.ApplyLayout(*layout);
    m_fitPathColumn = false;
  }
}

void CTagwellView::SaveListLayout() const {
  if (!List()) return;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kManagerSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return;
  }
  const unique_hkey owned(key);
  const std::wstring text = ToWide(grid::FormatColumnLayout(m_list.Layout()));
  RegSetValueExW(key, kListLayoutValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

INT_PTR CALLBACK CTagwellView::FormProc(HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(form, DWLP_USER, lParam);
    return FALSE;
  }
  auto* self = reinterpret_cast<CTagwellView*>(GetWindowLongPtrW(form, DWLP_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_TIMER:
      if (wParam != kFillTimer) return FALSE;
      self->OnFillTimer();
      return TRUE;
    case WM_DESTROY:
      self->EndFill();
      return FALSE;
    case WM_SIZE:
      if (!self->List()) return FALSE;
      MoveWindow(self->List(), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      // The form is made at its template's size; the path column takes the
      // rest of the width the frame gives it first.
      if (self->m_fitPathColumn && LOWORD(lParam) > 0) {
        self->m_fitPathColumn = false;
        self->m_list.FitColumnWidth(kPathColumn, true);
      }
      return TRUE;
    case WM_NOTIFY: {
      // A double click or Enter on a row opens it, as in Explorer.
      const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
      if (header.hwndFrom == self->List() && header.code == LVN_ITEMACTIVATE &&
          self->IsCommandEnabled(ID_OPEN_ITEM)) {
        self->OpenSelectedItems();
        return TRUE;
      }
      return FALSE;
    }
    default:
      (void)wParam;
      return FALSE;
  }
}

}  // namespace pelko
