#include "LabelUtil.h"

#include <atomic>
#include <optional>
#include <vector>

#include "ComObject.h"
#include "HResult.h"
#include "StoreEntryPoints.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace pelko {
namespace {

// One flag per service process; back to false with every start.
std::atomic<VARIANT_BOOL> s_newVersionNotified{VARIANT_FALSE};

constexpr DISPID kDispidGetLabel = 1;
constexpr DISPID kDispidGetLabelCollection = 4;

// One-dimensional, lower bound 0.
unique_safearray CreateVector(VARTYPE type, std::size_t size) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(size), 0};
  return unique_safearray(SafeArrayCreate(type, 1, &bound));
}

template <typename Element>
HRESULT PutElement(SAFEARRAY* array, LONG index, Element* element) {
  return SafeArrayPutElement(array, &index, element);
}

// The two index-aligned arrays of a collection, in the types the vtable
// interface promises (BSTR and ULONG) or, for scripts, as VARIANT arrays of
// VT_BSTR and VT_I4, the only forms every script engine can index.
HRESULT BuildCollectionArrays(const std::vector<LabelEntry>& entries, bool forScript, unique_safearray& paths,
                              unique_safearray& labels) {
  paths = CreateVector(forScript ? VT_VARIANT : VT_BSTR, entries.size());
  labels = CreateVector(forScript ? VT_VARIANT : VT_UI4, entries.size());
  RETURN_HR_IF(E_OUTOFMEMORY, !paths || !labels);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto index = static_cast<LONG>(i);
    const std::wstring path = ToWide(entries[i].path);
    unique_bstr text(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
    RETURN_HR_IF(E_OUTOFMEMORY, !text);
    if (forScript) {
      VARIANT pathItem;  // copied by SafeArrayPutElement; text keeps ownership
      pathItem.vt = VT_BSTR;
      pathItem.bstrVal = text.get();
      RETURN_IF_FAILED(PutElement(paths.get(), index, &pathItem));
      VARIANT labelItem;
      labelItem.vt = VT_I4;
      labelItem.lVal = static_cast<LONG>(entries[i].label);
      RETURN_IF_FAILED(PutElement(labels.get(), index, &labelItem));
    } else {
      RETURN_IF_FAILED(PutElement(paths.get(), index, text.get()));
      ULONG label = entries[i].label;
      RETURN_IF_FAILED(PutElement(labels.get(), index, &label));
    }
  }
  return S_OK;
}

// Hands an array to a caller's VARIANT. An [out] VARIANT holds nothing the
// callee may free; a script's variable (a reference) may hold an old value.
enum class Previous { Undefined, Owned };
void StoreArray(VARIANT* target, VARTYPE elementType, unique_safearray array, Previous previous) {
  if (previous == Previous::Owned) VariantClear(target);
  target->vt = static_cast<VARTYPE>(VT_ARRAY | elementType);
  target->parray = array.release();
}

// The collection of labelKind as arrays; count 0 and no arrays for an empty
// table. Nothing is handed to the caller unless everything was built.
HRESULT CollectLabels(ULONG labelKind, bool forScript, ULONG& count, std::optional<unique_safearray>& paths,
                      std::optional<unique_safearray>& labels) {
  count = 0;
  std::optional<std::vector<LabelEntry>> entries;
  ULONG taken = 0;
  RETURN_IF_FAILED(StoreGetLabelCollection(labelKind, &taken, &entries));
  if (!entries) return S_OK;
  unique_safearray pathArray, labelArray;
  RETURN_IF_FAILED(BuildCollectionArrays(*entries, forScript, pathArray, labelArray));
  paths.emplace(std::move(pathArray));
  labels.emplace(std::move(labelArray));
  count = taken;
  return S_OK;
}

bool IsVariantReference(const VARIANT& argument) {
  return argument.vt == (VT_BYREF | VT_VARIANT) && argument.pvarVal != nullptr;
}

// A script argument as the wanted type (scripts pass numbers as I2 or I4,
// and may pass them by reference).
HRESULT CoerceArgument(const VARIANT& argument, VARTYPE type, unique_variant& value) {
  return VariantChangeType(value.get(), const_cast<VARIANT*>(&argument), 0, type);
}

}  // namespace

const QITAB* CLabelUtil::InterfaceTable() {
  static const QITAB table[] = {
      QITABENT(CLabelUtil, ILabelUtil),
      QITABENT(CLabelUtil, IDispatch),
      QITABENT(CLabelUtil, ILabelFolderQuery),
      {},
  };
  return table;
}

IFACEMETHODIMP CLabelUtil::GetLabel(BSTR path, ULONG* value) {
  RETURN_HR_IF(E_POINTER, !value);
  *value = StoreGetLabel(path);
  return S_OK;
}

IFACEMETHODIMP CLabelUtil::SetLabel(BSTR path, ULONG value) { return StoreSetLabel(path, value) ? S_OK : S_FALSE; }

IFACEMETHODIMP CLabelUtil::ClearLabel(BSTR path) {
  StoreClearLabel(path);
  return S_OK;
}

IFACEMETHODIMP CLabelUtil::GetLabelCollection(ULONG labelKind, ULONG* count, VARIANT* pathArray, VARIANT* labelArray) {
  RETURN_HR_IF(E_POINTER, !count || !pathArray || !labelArray);
  return CatchAll([&] {
    std::optional<unique_safearray> paths, labels;
    const HRESULT hr = CollectLabels(labelKind, /*forScript=*/false, *count, paths, labels);
    if (SUCCEEDED(hr) && paths) {
      StoreArray(pathArray, VT_BSTR, std::move(*paths), Previous::Undefined);
      StoreArray(labelArray, VT_UI4, std::move(*labels), Previous::Undefined);
    }
    return hr;
  });
}

IFACEMETHODIMP CLabelUtil::GetFolderLabels(BSTR folder, ULONG* count, VARIANT* nameArray, VARIANT* labelArray) {
  RETURN_HR_IF(E_POINTER, !count || !nameArray || !labelArray);
  *count = 0;
  VariantInit(nameArray);
  VariantInit(labelArray);
  return CatchAll([&]() -> HRESULT {
    std::vector<LabelEntry> children;
    const HRESULT hr = StoreGetFolderLabels(folder, &children);
    if (hr != S_OK) return hr;
    // Each stored path is the folder, a backslash unless the folder ends
    // with one, and the name.
    const std::size_t folderLength = SysStringLen(folder);
    const bool endsWithBackslash = folderLength > 0 && folder[folderLength - 1] == L'\\';
    const std::size_t nameStart = folderLength + (endsWithBackslash ? 0 : 1);
    unique_safearray names = CreateVector(VT_BSTR, children.size());
    unique_safearray labels = CreateVector(VT_UI4, children.size());
    RETURN_HR_IF(E_OUTOFMEMORY, !names || !labels);
    // Filled in place: one allocation per name, no copy through PutElement.
    BSTR* nameSlots = nullptr;
    ULONG* labelSlots = nullptr;
    RETURN_IF_FAILED(SafeArrayAccessData(names.get(), reinterpret_cast<void**>(&nameSlots)));
    HRESULT filled = SafeArrayAccessData(labels.get(), reinterpret_cast<void**>(&labelSlots));
    if (SUCCEEDED(filled)) {
      for (std::size_t i = 0; i < children.size(); ++i) {
        const std::u16string_view name = std::u16string_view(children[i].path).substr(nameStart);
        nameSlots[i] = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(name.data()), static_cast<UINT>(name.size()));
        if (!nameSlots[i]) {
          filled = E_OUTOFMEMORY;
          break;
        }
        labelSlots[i] = children[i].label;
      }
      SafeArrayUnaccessData(labels.get());
    }
    SafeArrayUnaccessData(names.get());
    RETURN_IF_FAILED(filled);
    StoreArray(nameArray, VT_BSTR, std::move(names), Previous::Undefined);
    StoreArray(labelArray, VT_UI4, std::move(labels), Previous::Undefined);
    *count = static_cast<ULONG>(children.size());
    return S_OK;
  });
}

IFACEMETHODIMP CLabelUtil::get_IsNewVersionNotified(VARIANT_BOOL* value) {
  RETURN_HR_IF(E_POINTER, !value);
  *value = s_newVersionNotified;
  return S_OK;
}

IFACEMETHODIMP CLabelUtil::put_IsNewVersionNotified(VARIANT_BOOL value) {
  s_newVersionNotified = value;  // kept as given, not mapped to TRUE/FALSE
  return S_OK;
}

void CLabelUtil::ResetNewVersionNotified() { s_newVersionNotified = VARIANT_FALSE; }

IFACEMETHODIMP CLabelUtil::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                  VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  // Arguments arrive last first: rgvarg[0] is the last parameter.
  const bool method = (flags & DISPATCH_METHOD) && parameters && parameters->cNamedArgs == 0;
  if (method && IsEqualIID(iid, IID_NULL)) {
    if (id == kDispidGetLabel && parameters->cArgs == 2 && IsVariantReference(parameters->rgvarg[0])) {
      return CatchAll([&] { return InvokeGetLabelForScript(*parameters, argumentError); });
    }
    if (id == kDispidGetLabelCollection && parameters->cArgs == 4 && IsVariantReference(parameters->rgvarg[2])) {
      return CatchAll([&] { return InvokeGetLabelCollectionForScript(*parameters, argumentError); });
    }
  }
  return DispatchImpl::Invoke(id, iid, locale, flags, parameters, result, exception, argumentError);
}

HRESULT CLabelUtil::InvokeGetLabelForScript(DISPPARAMS& parameters, UINT* argumentError) {
  unique_variant path;
  if (FAILED(CoerceArgument(parameters.rgvarg[1], VT_BSTR, path))) {
    if (argumentError) *argumentError = 1;
    return DISP_E_TYPEMISMATCH;
  }
  VARIANT* value = parameters.rgvarg[0].pvarVal;
  RETURN_IF_FAILED(VariantClear(value));
  value->vt = VT_I4;
  value->lVal = static_cast<LONG>(StoreGetLabel(path->bstrVal));
  return S_OK;
}

HRESULT CLabelUtil::InvokeGetLabelCollectionForScript(DISPPARAMS& parameters, UINT* argumentError) {
  unique_variant labelKind;
  // Argument errors are reported by their place in rgvarg (last argument first).
  if (FAILED(CoerceArgument(parameters.rgvarg[3], VT_UI4, labelKind))) {
    if (argumentError) *argumentError = 3;
    return DISP_E_TYPEMISMATCH;
  }
  for (UINT output : {0u, 1u}) {
    if (!IsVariantReference(parameters.rgvarg[output])) {
      if (argumentError) *argumentError = output;
      return DISP_E_TYPEMISMATCH;
    }
  }
  ULONG count = 0;
  std::optional<unique_safearray> paths, labels;
  const HRESULT hr = CollectLabels(labelKind->ulVal, /*forScript=*/true, count, paths, labels);
  VARIANT* countOut = parameters.rgvarg[2].pvarVal;
  VariantClear(countOut);
  countOut->vt = VT_I4;
  countOut->lVal = static_cast<LONG>(count);
  if (SUCCEEDED(hr) && paths) {
    StoreArray(parameters.rgvarg[1].pvarVal, VT_VARIANT, std::move(*paths), Previous::Owned);
    StoreArray(parameters.rgvarg[0].pvarVal, VT_VARIANT, std::move(*labels), Previous::Owned);
  }
  return hr;
}

HRESULT CreateLabelUtil(IUnknown* outer, REFIID iid, void** result) noexcept {
  return CreateComInstance<CLabelUtil>(outer, iid, result);
}

}  // namespace pelko
