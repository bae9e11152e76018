// The one owner of a BSTR, shared by the component, the command-line host and the tests.
#pragma once

#include "common/ole_string.h"

#include <oleauto.h>

#include <limits>
#include <new>
#include <string_view>
#include <utility>

namespace quillbox {

// Sole owner of one BSTR (null allowed), released with SysFreeString. A null BSTR and an empty one
// differ to a caller of the component, so the owner keeps that difference: view() and length()
// read a null one as empty, operator bool tells them apart.
class UniqueBstr {
 public:
  UniqueBstr() = default;
  // Takes over `owned`, which must have come from the SysAlloc* family (or be null).
  explicit UniqueBstr(BSTR owned) : text_(owned) {}
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  UniqueBstr(UniqueBstr&& other) noexcept : text_(other.release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueBstr() { SysFreeString(text_); }

  // A new BSTR with the whole of `text`, zero units included. Throws std::bad_alloc when the
  // allocation fails, so code behind a COM method (which must not throw) allocates with
  // SysAllocStringLen itself and reports E_OUTOFMEMORY.
  static UniqueBstr Copy(OleStringView text) {
    if (text.size() > std::numeric_limits<UINT>::max()) throw std::bad_alloc();
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr) throw std::bad_alloc();
    return UniqueBstr(copy);
  }

  BSTR get() const { return text_; }
  BSTR release() { return std::exchange(text_, nullptr); }
  void reset(BSTR owned = nullptr) { SysFreeString(std::exchange(text_, owned)); }
  // For a BSTR* out parameter: frees what is held and lets the callee store a new one.
  BSTR* out() {
    reset();
    return &text_;
  }
  explicit operator bool() const { return text_ != nullptr; }
  // The whole stored length, embedded zero units included.
  OleStringView view() const { return text_ ? OleStringView(text_, SysStringLen(text_)) : OleStringView(); }
  UINT length() const { return SysStringLen(text_); }

 private:
  BSTR text_ = nullptr;
};

}  // namespace quillbox
