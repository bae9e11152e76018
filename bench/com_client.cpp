#include "bench/com_client.h"

#include <stdexcept>

namespace quillbox::bench {

BSTR Utf8ToBstr(std::string_view utf8) {
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (units == 0 && !utf8.empty()) throw std::runtime_error("document is not UTF-8");
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (text == nullptr) throw std::bad_alloc();
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text, units);
  return text;
}

std::string BstrToUtf8String(BSTR text) {
  const int units = static_cast<int>(SysStringLen(text));
  if (units == 0) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, units, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

DISPID DispatchObject::Id(const char16_t* name) const {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  if (object_->GetIDsOfNames(IID_NULL, names, 1, 0, &id) != S_OK) throw std::runtime_error("no such member");
  return id;
}

void DispatchObject::Put(DISPID id, VARIANT& value) const {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  UINT argErr = 0;
  const HRESULT hr = object_->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, &argErr);
  VariantClear(&value);
  if (hr != S_OK) throw std::runtime_error("property put failed");
}

void DispatchObject::PutText(const char16_t* name, std::string_view utf8) const {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = Utf8ToBstr(utf8);
  Put(Id(name), value);
}

void DispatchObject::PutShort(const char16_t* name, SHORT number) const {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I2;
  value.iVal = number;
  Put(Id(name), value);
}

HRESULT DispatchObject::Call(DISPID id, VARIANT* result, VARIANT* args, UINT count) const {
  DISPPARAMS params{args, nullptr, count, 0};
  UINT argErr = 0;
  return object_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result, nullptr, &argErr);
}

std::string DispatchObject::Text(const char16_t* name) const {
  VARIANT result;
  VariantInit(&result);
  if (Call(Id(name), &result) != S_OK || result.vt != VT_BSTR) throw std::runtime_error("property get failed");
  std::string text = BstrToUtf8String(result.bstrVal);
  VariantClear(&result);
  return text;
}

RegisteredComponent::RegisteredComponent() {
  if (FAILED(CoInitializeEx(nullptr, 0))) throw std::runtime_error("CoInitializeEx failed");
  module_ = LoadLibraryA(QUILLBOX_BIN_DIR "/libquillbox.so");
  if (module_ == nullptr) throw std::runtime_error("cannot load libquillbox.so");
  auto registerServer = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module_, "DllRegisterServer"));
  if (registerServer == nullptr || registerServer() != S_OK) throw std::runtime_error("DllRegisterServer failed");
}

RegisteredComponent::~RegisteredComponent() {
  if (module_ != nullptr) FreeLibrary(module_);
  CoUninitialize();
}

IDispatch* RegisteredComponent::Create() const {
  CLSID clsid{};
  if (CLSIDFromProgID(u"Quillbox.Signature", &clsid) != S_OK) throw std::runtime_error("Quillbox.Signature is not registered");
  IDispatch* object = nullptr;
  if (CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object)) != S_OK)
    throw std::runtime_error("CoCreateInstance failed");
  return object;
}

}  // namespace quillbox::bench
