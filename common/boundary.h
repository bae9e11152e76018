// The edge of a function exported with a C signature (a Windows API call, a COM method): no C++
// exception may cross it, since the caller is C or another module's code. Each such function that
// uses the standard library runs its body inside one of these, which turns an escaping exception
// into the failure the function's contract gives.
#pragma once

#include <windows.h>

#include <new>
#include <utility>

namespace quillbox {

// For a function that answers an HRESULT: E_OUTOFMEMORY when memory ran out, E_UNEXPECTED for any
// other exception (a fault of this library, never an answer a caller could act on).
template <typename Body>
HRESULT HresultBoundary(Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// For a function that answers a Win32 status (the registry's LSTATUS): ERROR_NOT_ENOUGH_MEMORY
// when memory ran out, ERROR_INTERNAL_ERROR for any other exception.
template <typename Body>
LONG StatusBoundary(Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INTERNAL_ERROR;
  }
}

// For a function that answers `failure` (FALSE, null) and tells why through GetLastError: the last
// error becomes `outOfMemory` when memory ran out (ERROR_NOT_ENOUGH_MEMORY, unless the function's
// family reports HRESULTs as its last errors, as crypt32's searches do), ERROR_INTERNAL_ERROR for
// any other exception.
template <typename Result, typename Body>
Result LastErrorBoundary(Result failure, Body&& body, DWORD outOfMemory = ERROR_NOT_ENOUGH_MEMORY) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    SetLastError(outOfMemory);
  } catch (...) {
    SetLastError(ERROR_INTERNAL_ERROR);
  }
  return failure;
}

}  // namespace quillbox
