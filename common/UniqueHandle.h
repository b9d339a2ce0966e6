#pragma once
// One move-only owner for every kind of Win32 handle: a traits type names
// the invalid value and the closing function, and one line per kind below
// makes the typedef. Nobody calls a closing function by hand.

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace pelko {

template <typename Traits>
class unique_any {
 public:
  using pointer = typename Traits::pointer;

  unique_any() noexcept = default;
  explicit unique_any(pointer value) noexcept : m_value(value) {}
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_any() { reset(); }

  pointer get() const noexcept { return m_value; }
  bool is_valid() const noexcept { return m_value != Traits::invalid(); }
  explicit operator bool() const noexcept { return is_valid(); }

  pointer release() noexcept { return std::exchange(m_value, Traits::invalid()); }
  void reset(pointer value = Traits::invalid()) noexcept {
    pointer old = std::exchange(m_value, value);
    if (old != Traits::invalid()) Traits::close(old);
  }
  // For out-parameters of creating functions: frees what is held first.
  pointer* put() noexcept {
    reset();
    return &m_value;
  }

 private:
  pointer m_value = Traits::invalid();
};

namespace handle_traits {
template <typename T, auto Close>
struct null_invalid {
  using pointer = T;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { Close(value); }
};
template <typename T, auto Close>
struct minus_one_invalid {
  using pointer = T;
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(pointer value) noexcept { Close(value); }
};
inline void LocalFreeVoid(void* p) noexcept { LocalFree(p); }
inline void DeleteGdiObject(HGDIOBJ object) noexcept { DeleteObject(object); }
}  // namespace handle_traits

using unique_handle = unique_any<handle_traits::null_invalid<HANDLE, &CloseHandle>>;      // events, mutexes, threads, tokens
using unique_hfile = unique_any<handle_traits::minus_one_invalid<HANDLE, &CloseHandle>>;  // CreateFileW results
using unique_hfind = unique_any<handle_traits::minus_one_invalid<HANDLE, &FindClose>>;
using unique_hkey = unique_any<handle_traits::null_invalid<HKEY, &RegCloseKey>>;
using unique_hlocal = unique_any<handle_traits::null_invalid<void*, &handle_traits::LocalFreeVoid>>;
using unique_bstr = unique_any<handle_traits::null_invalid<BSTR, &SysFreeString>>;
using unique_hbitmap = unique_any<handle_traits::null_invalid<HBITMAP, &handle_traits::DeleteGdiObject>>;
using unique_hicon = unique_any<handle_traits::null_invalid<HICON, &DestroyIcon>>;
using unique_hbrush = unique_any<handle_traits::null_invalid<HBRUSH, &handle_traits::DeleteGdiObject>>;  // CreateSolidBrush
using unique_hfont = unique_any<handle_traits::null_invalid<HFONT, &handle_traits::DeleteGdiObject>>;
using unique_hdc = unique_any<handle_traits::null_invalid<HDC, &DeleteDC>>;        // CreateCompatibleDC
using unique_hmenu = unique_any<handle_traits::null_invalid<HMENU, &DestroyMenu>>;
using unique_hmodule = unique_any<handle_traits::null_invalid<HMODULE, &FreeLibrary>>;  // LoadLibraryW

// A window's device context, released to its window.
class window_dc {
 public:
  explicit window_dc(HWND window) noexcept : m_window(window), m_dc(GetDC(window)) {}
  ~window_dc() {
    if (m_dc) ReleaseDC(m_window, m_dc);
  }
  window_dc(const window_dc&) = delete;
  window_dc& operator=(const window_dc&) = delete;
  HDC get() const noexcept { return m_dc; }
  explicit operator bool() const noexcept { return m_dc != nullptr; }

 private:
  HWND m_window;
  HDC m_dc;
};

// An object selected into a device context until this goes.
class scoped_select {
 public:
  scoped_select(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_previous(SelectObject(dc, object)) {}
  ~scoped_select() {
    if (m_previous && m_previous != HGDI_ERROR) SelectObject(m_dc, m_previous);
  }
  scoped_select(const scoped_select&) = delete;
  scoped_select& operator=(const scoped_select&) = delete;
  explicit operator bool() const noexcept { return m_previous && m_previous != HGDI_ERROR; }

 private:
  HDC m_dc;
  HGDIOBJ m_previous;
};
using unique_sc_handle = unique_any<handle_traits::null_invalid<SC_HANDLE, &CloseServiceHandle>>;
using unique_event_source = unique_any<handle_traits::null_invalid<HANDLE, &DeregisterEventSource>>;

// A VARIANT that is cleared when it goes.
class unique_variant {
 public:
  unique_variant() noexcept { VariantInit(&m_value); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { VariantClear(&m_value); }
  VARIANT* get() noexcept { return &m_value; }
  const VARIANT* get() const noexcept { return &m_value; }
  VARIANT* operator->() noexcept { return &m_value; }
  // Hands the value to a caller's VARIANT (which must be empty or cleared).
  void release_to(VARIANT* target) noexcept {
    *target = m_value;
    VariantInit(&m_value);
  }

 private:
  VARIANT m_value;
};

// A SAFEARRAY owned until handed out.
using unique_safearray = unique_any<handle_traits::null_invalid<SAFEARRAY*, &SafeArrayDestroy>>;

}  // namespace pelko
