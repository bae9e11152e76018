// The edge of a Signature member. A script's call reaches it through the vtable, from C or from
// another module's code, so no C++ exception may leave it; and no member answers a failure
// status. An exception escaping a member's body (memory running out in the middle of a
// conversion, say) therefore ends as that member's own way of failing.
#pragma once

#include "common/error.h"
#include "component/error_report.h"

#include <windows.h>

namespace quillbox {

// For Sign, Transform and ShowCertsDlg: `failure` is recorded as the call's error, and the
// method's result stays what the method set before running `body` (false, an empty text).
template <typename Body>
HRESULT MethodBoundary(Error failure, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    SetError(failure);
  }
  return S_OK;
}

// For a property setter that copies: the property is left as a copy that could not be made
// leaves it (null).
template <typename Body>
HRESULT SetterBoundary(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
  return S_OK;
}

}  // namespace quillbox
