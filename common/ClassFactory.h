#pragma once
// A class factory driven by a table of (class ID, creation function) rows,
// shared by the service's class object and the extension's
// DllGetClassObject.

#include <windows.h>
#include <unknwn.h>

#include "ComObject.h"

namespace pelko {

using CreateInstanceFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** result);

struct ClassEntry {
  const CLSID* clsid;
  CreateInstanceFunction create;
};

class CClassFactory : public IClassFactory {
 public:
  explicit CClassFactory(const ClassEntry& entry) : m_entry(entry) {}

  static const QITAB* InterfaceTable() {
    static const QITAB table[] = {QITABENT(CClassFactory, IClassFactory), {}};
    return table;
  }

  IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** result) override {
    return m_entry.create(outer, iid, result);
  }
  IFACEMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ModuleLock::Lock();
    } else {
      ModuleLock::Unlock();
    }
    return S_OK;
  }

 private:
  const ClassEntry m_entry;
};

// A class factory object for the row with the given class ID, or
// CLASS_E_CLASSNOTAVAILABLE when the table has none.
template <std::size_t N>
HRESULT CreateClassFactory(const ClassEntry (&table)[N], REFCLSID clsid, REFIID iid, void** result) noexcept {
  if (!result) return E_POINTER;
  *result = nullptr;
  for (const ClassEntry& entry : table) {
    if (!IsEqualCLSID(*entry.clsid, clsid)) continue;
    auto* factory = ComObject<CClassFactory, /*CountsInModule=*/false>::Create(entry);
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, result);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace pelko
