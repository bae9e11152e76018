// A registered component module in a temporary registry, and small dispatch helpers.
#pragma once

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/temp_registry.h"

namespace quillbox::test {

inline const std::string kModulePath = std::string(QUILLBOX_BIN_DIR) + "/libquillbox.so";

inline const CLSID kClsidSignature = {0x2A426405, 0xE493, 0x4525, {0x83, 0x5C, 0xA7, 0xB2, 0xDE, 0xFE, 0x8C, 0xC8}};
inline const IID kIidSignature = {0x7C36739C, 0xD779, 0x431A, {0x9F, 0xCD, 0x3E, 0x21, 0xDC, 0xE0, 0xCD, 0xB5}};
inline const GUID kLibid = {0x55C3208D, 0x3C4C, 0x4F72, {0xB6, 0xBD, 0xF0, 0x13, 0xDB, 0x1D, 0x17, 0xF1}};

// True while the component module is mapped into this process.
inline bool ModuleMapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find("/libquillbox.so") != std::string::npos) return true;
  return false;
}

// DllCanUnloadNow of a loaded component module answers S_OK: no Signature object and no reference
// to its class object is left. Fixtures that make objects check it after every test.
inline void ExpectModuleCanUnload(HMODULE module) {
  auto canUnload = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, "DllCanUnloadNow"));
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_OK) << "a Signature object or class-object reference outlived the test";
}

class RegisteredModule : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, 0)));
    module_ = LoadLibraryA(kModulePath.c_str());
    ASSERT_NE(module_, nullptr);
    ASSERT_EQ(Export<HRESULT (*)()>("DllRegisterServer")(), S_OK);
  }
  void TearDown() override {
    if (module_ != nullptr) {
      ExpectModuleCanUnload(module_);
      FreeLibrary(module_);
    }
    CoUninitialize();
  }

  template <typename Fn>
  Fn Export(const char* name) {
    auto fn = reinterpret_cast<Fn>(GetProcAddress(module_, name));
    EXPECT_NE(fn, nullptr) << name;
    return fn;
  }

  IDispatch* Create() {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Quillbox.Signature", &clsid), S_OK);
    IDispatch* object = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object)),
              S_OK);
    return object;
  }

  TempRegistry registry_;
  HMODULE module_ = nullptr;
};

// Late-bound calls, as a script engine makes them.
class Script {
 public:
  explicit Script(IDispatch* object) : object_(object) {}

  DISPID Id(const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(object_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << std::string(name, name + 1);
    return id;
  }

  HRESULT Call(const char16_t* name, WORD flags, VARIANT* args, UINT count, VARIANT* result) {
    DISPID id = Id(name);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{args, flags == DISPATCH_PROPERTYPUT ? &named : nullptr, count,
                      flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    UINT argErr = 0;
    return object_->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, &argErr);
  }

  void Put(const char16_t* name, VARIANT value) {
    EXPECT_EQ(Call(name, DISPATCH_PROPERTYPUT, &value, 1, nullptr), S_OK);
  }
  void PutText(const char16_t* name, const std::u16string& text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    Put(name, value);
    VariantClear(&value);
  }
  // The property or method result, converted to the variant type the script sees.
  VARIANT Get(const char16_t* name) {
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(Call(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, 0, &result), S_OK);
    return result;
  }
  std::u16string Text(const char16_t* name) {
    VARIANT v = Get(name);
    EXPECT_EQ(v.vt, VT_BSTR);
    std::u16string text = v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"<null>";
    VariantClear(&v);
    return text;
  }

 private:
  IDispatch* object_;
};

inline VARIANT MakeI4(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

}  // namespace quillbox::test
