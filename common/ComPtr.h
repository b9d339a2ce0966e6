#pragma once
// An owning COM interface pointer.

#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace pelko {

template <typename T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  com_ptr(std::nullptr_t) noexcept {}
  // Takes a new reference.
  explicit com_ptr(T* pointer) noexcept : m_pointer(pointer) {
    if (m_pointer) m_pointer->AddRef();
  }
  com_ptr(const com_ptr& other) noexcept : com_ptr(other.m_pointer) {}
  com_ptr(com_ptr&& other) noexcept : m_pointer(std::exchange(other.m_pointer, nullptr)) {}
  com_ptr& operator=(com_ptr other) noexcept {
    std::swap(m_pointer, other.m_pointer);
    return *this;
  }
  ~com_ptr() { reset(); }

  // Takes over a reference the caller already owns.
  static com_ptr attach(T* pointer) noexcept {
    com_ptr result;
    result.m_pointer = pointer;
    return result;
  }

  T* get() const noexcept { return m_pointer; }
  T* operator->() const noexcept { return m_pointer; }
  explicit operator bool() const noexcept { return m_pointer != nullptr; }
  void reset() noexcept {
    if (T* old = std::exchange(m_pointer, nullptr)) old->Release();
  }
  T* detach() noexcept { return std::exchange(m_pointer, nullptr); }
  // For out-parameters: releases what is held first.
  T** put() noexcept {
    reset();
    return &m_pointer;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  template <typename U>
  HRESULT query(com_ptr<U>& result) const noexcept {
    return m_pointer ? m_pointer->QueryInterface(__uuidof(U), result.put_void()) : E_POINTER;
  }

 private:
  T* m_pointer = nullptr;
};

}  // namespace pelko
