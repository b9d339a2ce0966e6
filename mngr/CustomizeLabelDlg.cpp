#include "CustomizeLabelDlg.h"

#include <shlwapi.h>

#include "Dpi.h"
#include "Module.h"
#include "Resource.h"
#include "SchemeRules.h"
#include "SmallFile.h"
#include "ShellSeam.h"
#include "Utf16.h"

namespace pelko {
namespace {

constexpr int kRowIconSize = 24;  // pixels at 96 DPI, in the 20-unit picture box

std::wstring SchemeFile(const std::wstring& folder) { return folder + L"\\Scheme.ini"; }

int SchemeLabelCount(const std::wstring& folder) {
  return AppliedLabelCount(ProfileNumber(ToU16(ReadIniString(SchemeFile(folder), L"General", L"LabelCount"))));
}

std::wstring SchemeSection(LabelValue label) { return L"Label" + std::to_wstring(label); }

}  // namespace

INT_PTR CCustomizeLabelDlg::DoModal(HWND owner) {
  return DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_CUSTOMIZE_LABELS), owner, &CCustomizeLabelDlg::DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

void CCustomizeLabelDlg::OnInitDialog() {
  m_schemeCombo = GetDlgItem(m_dialog, kSchemeComboId);
  EnumerateSchemes();
  if (!m_schemeFolders.empty()) {
    m_initialScheme = ProfileNumber(ToU16(ReadIniString(m_configFile, L"General", L"CurrentScheme"))) - 1;
    // An index outside the list selects nothing; no preview either way.
    SendMessageW(m_schemeCombo, CB_SETCURSEL, static_cast<WPARAM>(m_initialScheme), 0);
  }
  ShowCurrentLabels();
  for (LabelValue label = kFirstLabel; label <= kLastLabel; ++label) {
    SendDlgItemMessageW(m_dialog, kFirstNameId + static_cast<int>(label) - 1, EM_LIMITTEXT, kNameLimit, 0);
  }
}

void CCustomizeLabelDlg::EnumerateSchemes() {
  std::wstring folder = ModuleFilePath(nullptr);
  const std::size_t slash = folder.rfind(L'\\');
  folder.resize(slash == std::wstring::npos ? 0 : slash);
  folder += L"\\icons\\Schemes";
  std::vector<std::u16string> names;
  WIN32_FIND_DATAW found{};
  const unique_hfind search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!search) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsSchemeFolderName(ToU16(found.cFileName))) {
      names.push_back(ToU16(found.cFileName));
    }
  } while (FindNextFileW(search.get(), &found));
  SortSchemeNames(names);
  for (const std::u16string& name : names) {
    const std::wstring shown = ToWide(name);
    if (SendMessageW(m_schemeCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str())) < 0) continue;
    m_schemeFolders.push_back(folder + L"\\" + shown);
  }
}

void CCustomizeLabelDlg::ShowRow(LabelValue label, const std::wstring& iconFile, const std::wstring& name) {
  const int row = static_cast<int>(label) - 1;
  const int size = ScaleForDpi(kRowIconSize, WindowDpi(m_dialog));
  // A missing file or one without icons leaves the picture empty.
  unique_hicon icon(static_cast<HICON>(LoadImageW(nullptr, iconFile.c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE)));
  SendDlgItemMessageW(m_dialog, kFirstIconId + row, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon.get()));
  m_icons[static_cast<std::size_t>(row)] = std::move(icon);
  SetDlgItemTextW(m_dialog, kFirstNameId + row, name.c_str());
}

void CCustomizeLabelDlg::ShowCurrentLabels() {
  for (LabelValue label = kFirstLabel; label <= kLastLabel; ++label) {
    const MenuItemValues values = ReadMenuItem(m_configFile, label);
    ShowRow(label, values.iconFile, values.menuText);
  }
}

void CCustomizeLabelDlg::PreviewScheme(const std::wstring& folder) {
  const std::wstring scheme = SchemeFile(folder);
  const int count = SchemeLabelCount(folder);
  for (LabelValue label = kFirstLabel; static_cast<int>(label) <= count; ++label) {
    const std::wstring section = SchemeSection(label);
    ShowRow(label, folder + L"\\" + ReadIniString(scheme, section.c_str(), L"IconFile"),
            ReadIniString(scheme, section.c_str(), L"MenuText"));
  }
}

std::wstring CCustomizeLabelDlg::NameTyped(LabelValue label) const {
  const HWND edit = GetDlgItem(m_dialog, kFirstNameId + static_cast<int>(label) - 1);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool CCustomizeLabelDlg::ApplyScheme(const std::wstring& folder) {
  const std::wstring scheme = SchemeFile(folder);
  const int count = SchemeLabelCount(folder);
  for (LabelValue label = kFirstLabel; static_cast<int>(label) <= count; ++label) {
    const std::wstring section = SchemeSection(label);
    const MenuItemValues values{ReadIniString(scheme, section.c_str(), L"MenuText"),
                                ReadIniString(scheme, section.c_str(), L"MenuDesc"),
                                folder + L"\\" + ReadIniString(scheme, section.c_str(), L"IconFile"),
                                folder + L"\\" + ReadIniString(scheme, section.c_str(), L"OverlayIcon")};
    if (!WriteMenuItem(m_configFile, label, values)) return false;
  }
  return true;
}

bool CCustomizeLabelDlg::SaveLabelTexts() {
  for (LabelValue label = kFirstLabel; label <= kLastLabel; ++label) {
    MenuItemValues values = ReadMenuItem(m_configFile, label);
    values.menuText = NameTyped(label);
    if (!WriteMenuItem(m_configFile, label, values)) return false;
  }
  return true;
}

bool CCustomizeLabelDlg::Save() {
  const auto selected = static_cast<int>(SendMessageW(m_schemeCombo, CB_GETCURSEL, 0, 0));
  if (selected < 0 || static_cast<std::size_t>(selected) >= m_schemeFolders.size()) return false;
  // The profile functions keep a file's encoding: in UTF-16 any name typed
  // is stored as typed, in ANSI it would become question marks.
  const bool written = MakeConfigFileUnicode(m_configFile) && WriteCurrentScheme(m_configFile, selected + 1) &&
                       ApplyScheme(m_schemeFolders[static_cast<std::size_t>(selected)]) && SaveLabelTexts();
  if (!written) {
    const DWORD error = GetLastError();
    ManagerMessageBox(m_dialog, L"The label settings could not be saved to " + m_configFile + L": " + SystemErrorText(error),
                      MB_OK | MB_ICONERROR);
    return false;
  }
  if (selected != m_initialScheme) {
    ManagerMessageBox(m_dialog,
                      L"You have changed the settings of label icons that will take effect after you reboot the system!",
                      MB_OK);
  }
  return true;
}

INT_PTR CALLBACK CCustomizeLabelDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<CCustomizeLabelDlg*>(lParam);
    self->m_dialog = dialog;
    self->OnInitDialog();
    return TRUE;
  }
  auto* self = reinterpret_cast<CCustomizeLabelDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!self || message != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case kSchemeComboId:
      if (HIWORD(wParam) == CBN_SELCHANGE) {
        const auto selected = static_cast<int>(SendMessageW(self->m_schemeCombo, CB_GETCURSEL, 0, 0));
        if (selected >= 0 && static_cast<std::size_t>(selected) < self->m_schemeFolders.size()) {
          self->PreviewScheme(self->m_schemeFolders[static_cast<std::size_t>(selected)]);
        }
      }
      return TRUE;
    case IDOK:
      if (self->Save()) EndDialog(dialog, IDOK);
      return TRUE;
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      (void)lParam;
      return FALSE;
  }
}

}  // namespace pelko
