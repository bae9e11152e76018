// Shared helpers of the type-library tests: owning pointers for COM interfaces and variants.
#pragma once

#include <oleauto.h>

#include <string>
#include <utility>

namespace quillbox::test {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** out() {
    reset();
    return &p_;
  }
  void reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

struct Variant : VARIANT {
  Variant() { VariantInit(this); }
  ~Variant() { VariantClear(this); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
};

inline std::u16string Text(BSTR text) { return text == nullptr ? std::u16string() : std::u16string(text, SysStringLen(text)); }

inline HRESULT LoadTypeLibFromPath(const std::string& path, ITypeLib** lib) {
  std::u16string wide(path.begin(), path.end());
  return LoadTypeLib(wide.c_str(), lib);
}

}  // namespace quillbox::test
