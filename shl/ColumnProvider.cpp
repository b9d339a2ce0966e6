#include "ColumnProvider.h"

#include "HResult.h"
#include "LabelClient.h"
#include "PelkoLabelShl.h"
#include "ShellModule.h"
#include "Utf16.h"
#include "Win32Profile.h"

namespace pelko {

HRESULT CreateColumnProvider(IUnknown* outer, REFIID iid, void** result) noexcept {
  return CreateComInstance<CColumnProviderEx>(outer, iid, result);
}

void CColumnProviderEx::LoadColumnNames() {
  std::call_once(m_namesLoaded, [this] {
    Win32Profile profile(g_configPath);
    for (LabelValue label = kFirstLabel; label <= kLastLabel; ++label) {
      m_names[label - 1] = ToWide(ReadLabelName(profile, label));
    }
  });
}

IFACEMETHODIMP CColumnProviderEx::Initialize(LPCSHCOLUMNINIT) {
  return CatchAll([&] {
    LoadColumnNames();
    return S_OK;
  });
}

IFACEMETHODIMP CColumnProviderEx::GetColumnInfo(DWORD index, SHCOLUMNINFO* info) {
  if (index != 0) return S_FALSE;
  if (!info) return E_POINTER;
  info->scid.fmtid = CLSID_ColumnProviderEx;
  info->scid.pid = 0;
  info->vt = VT_BSTR;
  info->fmt = LVCFMT_LEFT;
  info->cChars = 24;
  // Looked up in the service: Explorer fetches slow columns off its window thread.
  info->csFlags = SHCOLSTATE_TYPE_STR | SHCOLSTATE_SLOW;
  lstrcpynW(info->wszTitle, L"Pelko Label", MAX_COLUMN_NAME_LEN);
  lstrcpynW(info->wszDescription, L"Pelko Label property of file or folder", MAX_COLUMN_DESC_LEN);
  return S_OK;
}

IFACEMETHODIMP CColumnProviderEx::GetItemData(LPCSHCOLUMNID column, LPCSHCOLUMNDATA data, VARIANT* value) {
  if (!column || !data || !value) return E_POINTER;
  if (!IsEqualGUID(column->fmtid, CLSID_ColumnProviderEx) || column->pid != 0) return S_FALSE;
  return CatchAll([&]() -> HRESULT {
    const std::u16string path = ToU16(data->wszFile);
    if (!g_labelClient.IsSupportedPath(path)) return S_FALSE;
    const LabelValue label = g_labelClient.LookupLabel(path);
    if (!IsKnownLabel(label)) return S_FALSE;
    LoadColumnNames();
    BSTR name = SysAllocString(m_names[label - 1].c_str());
    RETURN_HR_IF(E_OUTOFMEMORY, !name);
    value->vt = VT_BSTR;
    value->bstrVal = name;
    return S_OK;
  });
}

}  // namespace pelko
