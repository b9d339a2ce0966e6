#include "FileLabelExt.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "HResult.h"
#include "LabelClient.h"
#include "MenuBitmaps.h"
#include "ObserverSeam.h"
#include "ShellModule.h"
#include "Utf16.h"
#include "Win32Profile.h"

namespace pelko {
namespace {

// More items than this: Explorer is also told to redraw their folder.
constexpr std::size_t kItemNotificationsBeforeFolder = 10;

// STGMEDIUM of a CF_HDROP, released when it goes.
class DropMedium {
 public:
  explicit DropMedium(IDataObject* data) {
    FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    m_valid = data && SUCCEEDED(data->GetData(&format, &m_medium));
  }
  ~DropMedium() {
    if (m_valid) ReleaseStgMedium(&m_medium);
  }
  DropMedium(const DropMedium&) = delete;
  DropMedium& operator=(const DropMedium&) = delete;
  HDROP get() const { return m_valid ? static_cast<HDROP>(m_medium.hGlobal) : nullptr; }

 private:
  STGMEDIUM m_medium{};
  bool m_valid = false;
};

void NotifyItemChanged(const std::wstring& path) {
  SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, path.c_str(), nullptr);
}

}  // namespace

const QITAB* CFileLabelExt::InterfaceTable() {
  static const QITAB table[] = {
      QITABENT(CFileLabelExt, IShellExtInit),
      QITABENTMULTI(CFileLabelExt, IContextMenu, IContextMenu3),
      QITABENTMULTI(CFileLabelExt, IContextMenu2, IContextMenu3),
      QITABENT(CFileLabelExt, IContextMenu3),
      {},
  };
  return table;
}

HRESULT CreateFileLabelExt(IUnknown* outer, REFIID iid, void** result) noexcept {
  return CreateComInstance<CFileLabelExt>(outer, iid, result);
}

IFACEMETHODIMP CFileLabelExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
  m_data = com_ptr<IDataObject>(data);
  return S_OK;
}

bool CFileLabelExt::ReadSelection(std::vector<std::u16string>& paths) const {
  DropMedium medium(m_data.get());
  if (!medium.get()) return false;
  const UINT count = DragQueryFileW(medium.get(), 0xFFFFFFFF, nullptr, 0);
  for (UINT index = 0; index < count; ++index) {
    const UINT length = DragQueryFileW(medium.get(), index, nullptr, 0);
    if (length == 0) continue;
    std::wstring path(length + 1, L'\0');
    if (DragQueryFileW(medium.get(), index, path.data(), length + 1) == 0) continue;
    path.resize(length);
    paths.push_back(ToU16(path));
  }
  return true;
}

bool CFileLabelExt::ValidateSelection() const {
  std::vector<std::u16string> paths;
  if (!ReadSelection(paths)) return false;
  for (const std::u16string& path : paths) {
    if (!MeetsLengthRule(path) || !g_labelClient.IsSupportedPath(path)) return false;
  }
  return true;
}

void CFileLabelExt::LoadMenuModel() {
  if (m_modelLoaded) return;
  Win32Profile profile(g_configPath);
  m_model = pelko::LoadMenuModel(profile);
  m_modelLoaded = true;
}

namespace {

// The entry's icon as the bitmap of its kind, made once per MenuID and
// kept (and freed) by the handler.
template <typename Create>
HBITMAP CachedMenuBitmap(std::map<std::int32_t, unique_hbitmap>& cache, std::int32_t menuId,
                         const std::u16string& iconFile, Create create) {
  if (auto cached = cache.find(menuId); cached != cache.end()) return cached->second.get();
  HBITMAP bitmap = create(ToWide(iconFile));
  if (!bitmap) return nullptr;
  return cache.emplace(menuId, unique_hbitmap(bitmap)).first->second.get();
}

}  // namespace

HBITMAP CFileLabelExt::GetMenuBitmapPARGB32(std::int32_t menuId, const std::u16string& iconFile) {
  return CachedMenuBitmap(m_bitmaps, menuId, iconFile, &CreateMenuBitmapPARGB32);
}

HBITMAP CFileLabelExt::GetCheckmarkBitmap(std::int32_t menuId, const std::u16string& iconFile) {
  return CachedMenuBitmap(m_bitmaps, menuId, iconFile, &CreateCheckmarkBitmap);
}

void CFileLabelExt::AddMenuEntry(HMENU submenu, UINT position, UINT identifier, const MenuEntry& entry) {
  if (entry.IsSeparator()) {
    InsertMenuW(submenu, position, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    return;
  }
  std::wstring text = ToWide(entry.menuText);
  if (m_iconPath == MenuIconPath::CheckMark) {
    InsertMenuW(submenu, position, MF_BYPOSITION | MF_STRING, identifier, text.c_str());
    if (m_osVersion == 0x0500) {
      HBITMAP bitmap = GetCheckmarkBitmap(entry.menuId, entry.iconFile);
      SetMenuItemBitmaps(submenu, position, MF_BYPOSITION, bitmap, bitmap);
    }
    return;
  }
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_ID | MIIM_STRING | MIIM_BITMAP | MIIM_FTYPE;
  item.fType = MFT_STRING;
  item.wID = identifier;
  item.dwTypeData = text.data();
  item.hbmpItem = m_iconPath == MenuIconPath::Bitmap ? GetMenuBitmapPARGB32(entry.menuId, entry.iconFile) : HBMMENU_CALLBACK;
  InsertMenuItemW(submenu, position, TRUE, &item);
}

IFACEMETHODIMP CFileLabelExt::QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT lastId, UINT flags) {
  return CatchAll([&]() -> HRESULT {
    if (!ContextMenuAddsEntries(flags) || !ValidateSelection()) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    LoadMenuModel();
    m_iconPath = IconPathFor(m_osVersion, flags);
    InsertMenuW(menu, index, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    m_firstCommandId = firstId;

    const SubmenuPlan plan = PlanSubmenu(m_model, firstId, lastId);
    unique_hmenu submenu(CreatePopupMenu());
    RETURN_HR_IF(HResultFromLastError(), !submenu);
    UINT position = 0;
    for (const PlannedEntry& planned : plan.entries) {
      AddMenuEntry(submenu.get(), position++, firstId + planned.offset, *planned.entry);
    }

    std::wstring text = ToWide(m_model.top.menuText);
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fType = MFT_STRING;
    item.wID = firstId;
    item.hSubMenu = submenu.get();
    item.dwTypeData = text.data();
    if (m_iconPath == MenuIconPath::CheckMark) {
      item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_CHECKMARKS | MIIM_DATA | MIIM_STRING;
      item.hbmpChecked = item.hbmpUnchecked = GetCheckmarkBitmap(m_model.top.menuId, m_model.top.iconFile);
    } else {
      item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_DATA | MIIM_STRING | MIIM_BITMAP | MIIM_FTYPE;
      item.hbmpItem = m_iconPath == MenuIconPath::Bitmap ? GetMenuBitmapPARGB32(m_model.top.menuId, m_model.top.iconFile)
                                                         : HBMMENU_CALLBACK;
    }
    // The menu owns the submenu once it is inserted.
    if (InsertMenuItemW(menu, index + 1, TRUE, &item)) submenu.release();
    InsertMenuW(menu, index + 2, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, plan.result);
  });
}

IFACEMETHODIMP CFileLabelExt::InvokeCommand(CMINVOKECOMMANDINFO* info) {
  if (!info || HIWORD(reinterpret_cast<ULONG_PTR>(info->lpVerb)) != 0) return E_INVALIDARG;
  const CommandAction action = CommandForOffset(LOWORD(reinterpret_cast<ULONG_PTR>(info->lpVerb)));
  return CatchAll([&]() -> HRESULT {
    switch (action.command) {
      case MenuCommand::ClearLabel:
      case MenuCommand::SetLabel:
        SetLabelOnSelection(action.label);
        return S_OK;
      case MenuCommand::ManageLabels:
        LaunchManager(reinterpret_cast<const wchar_t*>(kManageLabelsCommandLine));
        return S_OK;
      case MenuCommand::ShowAbout:
        LaunchManager(reinterpret_cast<const wchar_t*>(kAboutCommandLine));
        return S_OK;
      case MenuCommand::None:
        break;
    }
    return E_INVALIDARG;
  });
}

IFACEMETHODIMP CFileLabelExt::GetCommandString(UINT_PTR offset, UINT type, UINT*, CHAR* name, UINT size) {
  const CommandStringReply reply = CommandStringReplyFor(type);
  if (reply == CommandStringReply::Invalid) return E_INVALIDARG;
  const auto entry = m_model.entries.find(static_cast<std::int32_t>(offset));
  if (reply == CommandStringReply::Validate) return entry != m_model.entries.end() ? S_OK : S_FALSE;
  if (!name || size == 0) return E_INVALIDARG;
  const std::wstring text = entry != m_model.entries.end() ? ToWide(entry->second.menuDesc) : std::wstring();
  if (reply == CommandStringReply::UnicodeText) {
    lstrcpynW(reinterpret_cast<wchar_t*>(name), text.c_str(), static_cast<int>(size));
    return S_OK;
  }
  return CatchAll([&]() -> HRESULT {
    const int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, text.c_str(), -1, ansi.data(), bytes, nullptr, nullptr);
    lstrcpynA(name, ansi.c_str(), static_cast<int>(size));
    return S_OK;
  });
}

IFACEMETHODIMP CFileLabelExt::HandleMenuMsg(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT ignored = 0;
  return HandleMenuMsg2(message, wParam, lParam, &ignored);
}

IFACEMETHODIMP CFileLabelExt::HandleMenuMsg2(UINT message, WPARAM, LPARAM lParam, LRESULT* result) {
  LRESULT scratch = 0;
  LRESULT& answer = result ? *result : scratch;
  answer = 0;
  if (message == WM_MEASUREITEM && lParam) {
    auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    measure->itemWidth += 2;
    if (measure->itemHeight < 16) measure->itemHeight = 16;
    answer = TRUE;
  } else if (message == WM_DRAWITEM && lParam) {
    const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (draw->CtlType == ODT_MENU) {
      const auto entry = m_model.entries.find(static_cast<std::int32_t>(draw->itemID - m_firstCommandId));
      if (entry != m_model.entries.end()) {
        try {
          if (DrawMenuItemIcon(*draw, ToWide(entry->second.iconFile))) answer = TRUE;
        } catch (...) {
        }
      }
    }
  }
  return S_OK;
}

void CFileLabelExt::SetLabelOnSelection(LabelValue label) {
  std::vector<std::u16string> paths;
  if (!ReadSelection(paths)) return;
  // One request for the whole selection: the service answers or not, and
  // Explorer is told to redraw either way.
  g_labelClient.ApplyLabel(paths, label);
  for (const std::u16string& path : paths) NotifyItemChanged(ToWide(path));
  if (paths.size() > kItemNotificationsBeforeFolder) {
    std::wstring folder = ToWide(paths.back());
    if (PathRemoveFileSpecW(folder.data())) {
      folder.resize(wcslen(folder.c_str()));
      NotifyItemChanged(folder);
    }
  }
}

void CFileLabelExt::LaunchManager(const wchar_t* commandLine) {
  std::wstring writable(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(g_managerPath.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    unique_handle processHandle(process.hProcess), threadHandle(process.hThread);
    return;
  }
  const DWORD error = GetLastError();
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  unique_hlocal owned(text);
  ShowMessageBox(g_instance, L"PelkoLabel Management Application Launch failed", text ? text : L"", MB_ICONINFORMATION);
}

}  // namespace pelko
