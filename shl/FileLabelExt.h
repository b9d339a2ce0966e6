#pragma once
// CFileLabelExt: the context-menu handler Explorer makes for every right-click
// on files and folders. It adds "&Pelko Labels" with the labels, "clear",
// "manage" and "about" when every selected item may be labelled, and puts
// the chosen label on the selection.

#include <windows.h>
#include <shlobj.h>

#include <map>
#include <string>
#include <vector>

#include "ComObject.h"
#include "ComPtr.h"
#include "ExtensionConfig.h"
#include "MenuRules.h"
#include "ShellModule.h"
#include "UniqueHandle.h"

namespace pelko {

class CFileLabelExt : public IShellExtInit, public IContextMenu3 {
 public:
  static const QITAB* InterfaceTable();

  // IShellExtInit
  IFACEMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId) override;

  // IContextMenu3
  IFACEMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT lastId, UINT flags) override;
  IFACEMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
  IFACEMETHODIMP GetCommandString(UINT_PTR offset, UINT type, UINT* reserved, CHAR* name, UINT size) override;
  IFACEMETHODIMP HandleMenuMsg(UINT message, WPARAM wParam, LPARAM lParam) override;
  IFACEMETHODIMP HandleMenuMsg2(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  // The Windows version decides how icons are drawn; tests force one.
  void SetOsVersionForTesting(std::uint16_t osVersion) { m_osVersion = osVersion; }

 private:
  // The selected paths, read anew from the data object (CF_HDROP); false
  // when there is no data object or it holds no drop list.
  bool ReadSelection(std::vector<std::u16string>& paths) const;
  bool ValidateSelection() const;
  void LoadMenuModel();
  void AddMenuEntry(HMENU submenu, UINT position, UINT identifier, const MenuEntry& entry);
  HBITMAP GetMenuBitmapPARGB32(std::int32_t menuId, const std::u16string& iconFile);
  HBITMAP GetCheckmarkBitmap(std::int32_t menuId, const std::u16string& iconFile);
  void SetLabelOnSelection(LabelValue label);
  void LaunchManager(const wchar_t* commandLine);

  com_ptr<IDataObject> m_data;
  UINT m_firstCommandId = 0;
  MenuModel m_model;
  bool m_modelLoaded = false;
  MenuIconPath m_iconPath = MenuIconPath::Bitmap;
  std::uint16_t m_osVersion = g_osVersion;
  std::map<std::int32_t, unique_hbitmap> m_bitmaps;  // made once per MenuID, owned here
};

HRESULT CreateFileLabelExt(IUnknown* outer, REFIID iid, void** result) noexcept;

}  // namespace pelko
