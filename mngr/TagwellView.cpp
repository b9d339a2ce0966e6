#include "TagwellView.h"

#include "Dpi.h"
#include "Resource.h"

namespace pelko {

bool CTagwellView::Create(HWND frame, HINSTANCE instance) {
  m_form = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_TAGWELL_FORM), frame, &CTagwellView::FormProc,
                              reinterpret_cast<LPARAM>(this));
  if (!m_form) return false;
  OnInitialUpdate();
  ShowWindow(m_form, SW_SHOW);
  return true;
}

void CTagwellView::OnInitialUpdate() {
  if (!m_list.Attach(GetDlgItem(m_form, kListControlId))) return;
  auto rows = std::make_unique<CClassicRowTrait>();
  rows->altTextColor = kAlternateTextColor;
  m_list.SetRowTrait(std::move(rows));
  const UINT dpi = WindowDpi(m_form);
  m_list.AddHiddenFirstColumn();
  m_list.InsertColumn(1, L"Color", LVCFMT_LEFT, ScaleForDpi(100, dpi));
  m_list.InsertColumn(2, L"Path", LVCFMT_LEFT, ScaleForDpi(500, dpi));
  m_list.FitColumnWidth(2, true);
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
      return HandlesCommand(command);
  }
}

void CTagwellView::OnCommand(UINT command) { (void)command; }

INT_PTR CALLBACK CTagwellView::FormProc(HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(form, DWLP_USER, lParam);
    return FALSE;
  }
  auto* self = reinterpret_cast<CTagwellView*>(GetWindowLongPtrW(form, DWLP_USER));
  if (!self) return FALSE;
  if (message == WM_SIZE && self->List()) {
    MoveWindow(self->List(), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
    return TRUE;
  }
  (void)wParam;
  return FALSE;
}

}  // namespace pelko
