// The component as a script reaches it: the module registered into the registry QUILLBOX_REGISTRY
// names, one Signature made by CoCreateInstance, and late-bound calls through IDispatch.
#pragma once

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <string>
#include <string_view>

namespace quillbox::bench {

BSTR Utf8ToBstr(std::string_view utf8);
std::string BstrToUtf8String(BSTR text);

class DispatchObject {
 public:
  explicit DispatchObject(IDispatch* object) : object_(object) {}
  ~DispatchObject() { object_->Release(); }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  IDispatch* get() const { return object_; }
  DISPID Id(const char16_t* name) const;
  // Takes over `value` (cleared afterwards).
  void Put(DISPID id, VARIANT& value) const;
  void PutText(const char16_t* name, std::string_view utf8) const;
  void PutShort(const char16_t* name, SHORT value) const;
  // A method call or property get with no arguments; the caller clears the result.
  HRESULT Call(DISPID id, VARIANT* result, VARIANT* args = nullptr, UINT count = 0) const;
  std::string Text(const char16_t* name) const;

 private:
  IDispatch* object_;
};

class RegisteredComponent {
 public:
  RegisteredComponent();
  ~RegisteredComponent();
  RegisteredComponent(const RegisteredComponent&) = delete;
  RegisteredComponent& operator=(const RegisteredComponent&) = delete;

  // A new Signature object through the registration, as a script's new ActiveXObject makes it.
  IDispatch* Create() const;

 private:
  HMODULE module_ = nullptr;
};

}  // namespace quillbox::bench
