#pragma once
// IDispatch served from the module's own type library (resource TYPELIB 1),
// so late-bound callers and scripts see exactly the interface's description.

#include <windows.h>
#include <oaidl.h>

#include "ComPtr.h"

namespace pelko {

// This module's type library: its TYPELIB 1 resource, else the .tlb file
// of the same name beside it.
HRESULT LoadModuleTypeLib(ITypeLib** result) noexcept;

// The type information of iid from this module's type library, loaded once
// per process and kept.
HRESULT GetModuleTypeInfo(REFGUID libid, REFIID iid, ITypeInfo** result) noexcept;

template <typename Interface, const IID& Iid, const GUID& Libid>
class DispatchImpl : public Interface {
 public:
  IFACEMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }

  IFACEMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** result) override {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return GetModuleTypeInfo(Libid, Iid, result);
  }

  IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    com_ptr<ITypeInfo> info;
    HRESULT hr = GetModuleTypeInfo(Libid, Iid, info.put());
    return SUCCEEDED(hr) ? DispGetIDsOfNames(info.get(), names, count, ids) : hr;
  }

  IFACEMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    com_ptr<ITypeInfo> info;
    HRESULT hr = GetModuleTypeInfo(Libid, Iid, info.put());
    if (FAILED(hr)) return hr;
    return info->Invoke(static_cast<Interface*>(this), id, flags, parameters, result, exception, argumentError);
  }
};

}  // namespace pelko
