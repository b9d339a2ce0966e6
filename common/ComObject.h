#pragma once
// The COM object plumbing both servers share: the module lock count, an
// object root with reference counting and a QueryInterface table, and the
// aggregatable wrapper.
//
// A class implements its interfaces and lists them:
//   class CThing : public IThing {
//    public:
//     static const QITAB* InterfaceTable();   // QITABENT(CThing, IThing), {}
//   };
// and is created with ComObject<CThing>::Create (or CreateInstance, which
// also serves an outer unknown that aggregates it).

#include <windows.h>
#include <shlwapi.h>

#include <new>
#include <utility>

namespace pelko {

// Live objects plus LockServer locks of the whole module. A server is told
// when the count falls to zero (the plain COM server then plans its end).
class ModuleLock {
 public:
  using LastUnlockCallback = void (*)();
  static void Lock() noexcept { InterlockedIncrement(&s_count); }
  static void Unlock() noexcept {
    if (InterlockedDecrement(&s_count) == 0 && s_onLastUnlock) s_onLastUnlock();
  }
  static LONG Count() noexcept { return s_count; }
  static void SetLastUnlockCallback(LastUnlockCallback callback) noexcept { s_onLastUnlock = callback; }

 private:
  static inline volatile LONG s_count = 0;
  static inline LastUnlockCallback s_onLastUnlock = nullptr;
};

// A stand-alone object: its own reference count, starting at one. Class
// objects do not count in the module lock (CountsInModule false): a server
// holds its registered class objects for its whole run and would never see
// the count fall to zero.
template <typename Base, bool CountsInModule = true>
class ComObject final : public Base {
 public:
  template <typename... Args>
  explicit ComObject(Args&&... args) : Base(std::forward<Args>(args)...) {
    if constexpr (CountsInModule) ModuleLock::Lock();
  }
  ~ComObject() {
    if constexpr (CountsInModule) ModuleLock::Unlock();
  }

  IFACEMETHODIMP QueryInterface(REFIID iid, void** result) override {
    return QISearch(static_cast<Base*>(this), Base::InterfaceTable(), iid, result);
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_references); }
  IFACEMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&m_references);
    if (left == 0) delete this;  // nothing of this object is read after this
    return left;
  }

  // A new object with one reference, or nothing when memory is short.
  template <typename... Args>
  static ComObject* Create(Args&&... args) noexcept {
    try {
      return new ComObject(std::forward<Args>(args)...);
    } catch (...) {
      return nullptr;
    }
  }

 private:
  volatile LONG m_references = 1;
};

// An object a module keeps for reuse (a cached class factory): the cache's
// own reference does not hold the module, references handed out do.
template <typename Base>
class CachedComObject final : public Base {
 public:
  template <typename... Args>
  explicit CachedComObject(Args&&... args) : Base(std::forward<Args>(args)...) {}

  IFACEMETHODIMP QueryInterface(REFIID iid, void** result) override {
    return QISearch(static_cast<Base*>(this), Base::InterfaceTable(), iid, result);
  }
  IFACEMETHODIMP_(ULONG) AddRef() override {
    const LONG count = InterlockedIncrement(&m_references);
    if (count == 2) ModuleLock::Lock();
    return count;
  }
  IFACEMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&m_references);
    if (left == 1) ModuleLock::Unlock();
    if (left == 0) delete this;
    return left;
  }

  template <typename... Args>
  static CachedComObject* Create(Args&&... args) noexcept {
    try {
      return new CachedComObject(std::forward<Args>(args)...);
    } catch (...) {
      return nullptr;
    }
  }

 private:
  volatile LONG m_references = 1;  // the cache's
};

// The object when an outer unknown aggregates it: the interfaces it hands out
// forward IUnknown to the outer object; this inner unknown owns the lifetime.
template <typename Base>
class AggregatedComObject final : public IUnknown {
 public:
  explicit AggregatedComObject(IUnknown* outer) : m_contained(outer) { ModuleLock::Lock(); }
  ~AggregatedComObject() { ModuleLock::Unlock(); }

  IFACEMETHODIMP QueryInterface(REFIID iid, void** result) override {
    if (!result) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *result = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return QISearch(static_cast<Base*>(&m_contained), Base::InterfaceTable(), iid, result);
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_references); }
  IFACEMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&m_references);
    if (left == 0) delete this;
    return left;
  }

 private:
  class Contained final : public Base {
   public:
    explicit Contained(IUnknown* outer) : m_outer(outer) {}
    IFACEMETHODIMP QueryInterface(REFIID iid, void** result) override { return m_outer->QueryInterface(iid, result); }
    IFACEMETHODIMP_(ULONG) AddRef() override { return m_outer->AddRef(); }
    IFACEMETHODIMP_(ULONG) Release() override { return m_outer->Release(); }

   private:
    IUnknown* m_outer;  // not counted: the outer object owns us
  };

  volatile LONG m_references = 1;
  Contained m_contained;
};

// The object's IUnknown: the first interface of its table (a class with
// several interfaces has no single IUnknown base to convert to).
template <typename Base>
IUnknown* UnknownOf(Base* object) noexcept {
  return reinterpret_cast<IUnknown*>(reinterpret_cast<char*>(object) + Base::InterfaceTable()[0].dwOffset);
}

// The class factory's creation function for Base: a stand-alone object, or
// the inner unknown of an aggregate (which must be asked for IUnknown).
template <typename Base>
HRESULT CreateComInstance(IUnknown* outer, REFIID iid, void** result) noexcept {
  if (!result) return E_POINTER;
  *result = nullptr;
  IUnknown* created = nullptr;
  if (outer) {
    if (!IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    created = new (std::nothrow) AggregatedComObject<Base>(outer);
  } else {
    Base* object = ComObject<Base>::Create();
    created = object ? UnknownOf(object) : nullptr;
  }
  if (!created) return E_OUTOFMEMORY;
  const HRESULT hr = created->QueryInterface(iid, result);
  created->Release();
  return hr;
}

}  // namespace pelko
