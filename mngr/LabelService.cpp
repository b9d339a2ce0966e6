#include "LabelService.h"

#include <ole2.h>

#include <algorithm>

#include "UniqueHandle.h"

namespace pelko {
namespace {

// The elements of a one-dimensional array of vartype, readable while this lives.
template <typename Element>
class ArrayView {
 public:
  ArrayView(const VARIANT& holder, VARTYPE vartype) {
    if (holder.vt != (VT_ARRAY | vartype) || !holder.parray || SafeArrayGetDim(holder.parray) != 1) return;
    VARTYPE stored = VT_EMPTY;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetVartype(holder.parray, &stored)) || stored != vartype ||
        FAILED(SafeArrayGetLBound(holder.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(holder.parray, 1, &upper)) ||
        FAILED(SafeArrayAccessData(holder.parray, reinterpret_cast<void**>(&m_data)))) {
      m_data = nullptr;
      return;
    }
    m_array = holder.parray;
    m_size = upper >= lower ? static_cast<std::size_t>(upper - lower) + 1 : 0;
  }
  ~ArrayView() {
    if (m_array) SafeArrayUnaccessData(m_array);
  }
  ArrayView(const ArrayView&) = delete;
  ArrayView& operator=(const ArrayView&) = delete;

  explicit operator bool() const { return m_array != nullptr; }
  std::size_t size() const { return m_size; }
  const Element& operator[](std::size_t index) const { return m_data[index]; }

 private:
  SAFEARRAY* m_array = nullptr;
  Element* m_data = nullptr;
  std::size_t m_size = 0;
};

}  // namespace

com_ptr<ILabelUtil> CreateLabelUtil() {
  CLSID clsid{};
  com_ptr<IUnknown> unknown;
  com_ptr<ILabelUtil> labels;
  if (FAILED(CLSIDFromProgID(L"PelkoLabelSvr.LabelUtil", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr,
                              CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                              IID_IUnknown, unknown.put_void())) ||
      FAILED(OleRun(unknown.get())) || FAILED(unknown.query(labels))) {
    return nullptr;
  }
  return labels;
}

std::vector<LabelledItem> GetAllLabels(ILabelUtil& labels) {
  constexpr ULONG kEveryLabel = 0;
  ULONG count = 0;
  unique_variant paths, values;
  if (FAILED(labels.GetLabelCollection(kEveryLabel, &count, paths.get(), values.get())) || count == 0) return {};

  const ArrayView<BSTR> pathArray(*paths.get(), VT_BSTR);
  const ArrayView<ULONG> labelArray(*values.get(), VT_UI4);
  if (!pathArray || !labelArray) return {};
  const std::size_t items = std::min<std::size_t>({count, pathArray.size(), labelArray.size()});
  std::vector<LabelledItem> result;
  result.reserve(items);
  for (std::size_t index = 0; index < items; ++index) {
    const BSTR path = pathArray[index];
    result.push_back({path ? std::wstring(path, SysStringLen(path)) : std::wstring(), labelArray[index]});
  }
  return result;
}

}  // namespace pelko
