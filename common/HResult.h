#pragma once
// Error paths as straight lines, and the one way an exception becomes an
// HRESULT at a COM boundary.

#include <windows.h>

#include <new>

#define RETURN_IF_FAILED(expr)              \
  do {                                      \
    const HRESULT hr_ = (expr);             \
    if (FAILED(hr_)) return hr_;            \
  } while (0)

#define RETURN_HR_IF(hr, condition) \
  do {                              \
    if (condition) return (hr);     \
  } while (0)

// For Win32 calls that return FALSE and set the last error.
#define RETURN_IF_WIN32_BOOL_FALSE(expr)                  \
  do {                                                    \
    if (!(expr)) return ::pelko::HResultFromLastError();  \
  } while (0)

#define RETURN_IF_WIN32_ERROR(expr)                              \
  do {                                                           \
    const LONG error_ = static_cast<LONG>(expr);                 \
    if (error_ != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error_); \
  } while (0)

namespace pelko {

inline HRESULT HResultFromLastError() {
  const DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// Runs body (returning HRESULT) so that no exception leaves it.
template <typename Body>
HRESULT CatchAll(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace pelko
