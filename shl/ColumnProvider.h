#pragma once
// CColumnProviderEx: the "Pelko Label" column of Explorer's details view
// (Explorer of the XP generation; later ones load no column handlers). It
// shows the name of the item's label as the configuration file gives it.

#include <windows.h>
#include <shlobj.h>

#include "ShellInterfaceIds.h"

#include <array>
#include <mutex>
#include <string>

#include "ComObject.h"
#include "Labels.h"

namespace pelko {

class CColumnProviderEx : public IColumnProvider {
 public:
  static const QITAB* InterfaceTable() {
    static const QITAB table[] = {QITABENT(CColumnProviderEx, IColumnProvider), {}};
    return table;
  }

  IFACEMETHODIMP Initialize(LPCSHCOLUMNINIT init) override;
  IFACEMETHODIMP GetColumnInfo(DWORD index, SHCOLUMNINFO* info) override;
  IFACEMETHODIMP GetItemData(LPCSHCOLUMNID column, LPCSHCOLUMNDATA data, VARIANT* value) override;

 private:
  void LoadColumnNames();

  // Initialize comes on Explorer's window thread, GetItemData on its
  // background threads (the column is slow): the names are loaded once.
  std::array<std::wstring, kLabelCount> m_names;
  std::once_flag m_namesLoaded;
};

HRESULT CreateColumnProvider(IUnknown* outer, REFIID iid, void** result) noexcept;

}  // namespace pelko
