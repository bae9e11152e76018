// ITypeInfo::Invoke against a test object: argument conversion and its errors, by-reference
// arguments, property put and get, the retval, named-argument rules and name lookup.
#include <calculator_h.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/oleaut32/typelib_helpers.h"

namespace {

using quillbox::test::ComPtr;
using quillbox::test::Text;
using quillbox::test::Variant;

class Calculator final : public ICalculator {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ICalculator) {
      *object = static_cast<ICalculator*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    info_->AddRef();
    *info = info_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return DispGetIDsOfNames(info_, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override {
    return DispInvoke(static_cast<ICalculator*>(this), info_, member, flags, params, result, exception, argError);
  }

  HRESULT STDMETHODCALLTYPE get_Text(BSTR* pVal) override {
    *pVal = SysAllocStringLen(text_.data(), static_cast<UINT>(text_.size()));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Text(BSTR newVal) override {
    text_ = Text(newVal);
    received_ = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Flag(VARIANT_BOOL* pVal) override {
    *pVal = flag_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Flag(VARIANT_BOOL newVal) override {
    flag_ = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Small(SHORT* pVal) override {
    *pVal = small_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Small(SHORT newVal) override {
    small_ = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Count(UINT* pVal) override {
    *pVal = count_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Count(UINT newVal) override {
    count_ = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* sum) override {
    *sum = a + b;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Describe(BSTR name, SHORT age, VARIANT_BOOL member, ULONG code, BSTR* text) override {
    std::string s = std::string(name == nullptr ? "" : std::string(name, name + SysStringLen(name))) + "/" +
                    std::to_string(age) + "/" + std::to_string(member) + "/" + std::to_string(code);
    std::u16string wide(s.begin(), s.end());
    *text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Swap(LONG* value, BSTR* text) override {
    *value = -*value;
    SysFreeString(*text);
    *text = SysAllocString(u"swapped");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Fail(LONG code) override { return static_cast<HRESULT>(code); }
  HRESULT STDMETHODCALLTYPE Nothing() override {
    ++nothingCalls_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scale(INT factor, double value, double* result) override {
    *result = factor * value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ReadOnly(LONG* pVal) override {
    *pVal = 99;
    return S_OK;
  }

  ITypeInfo* info_ = nullptr;
  std::u16string text_;
  BSTR received_ = nullptr;  // the string put_Text was handed, for identity only
  VARIANT_BOOL flag_ = VARIANT_FALSE;
  SHORT small_ = 0;
  UINT count_ = 0;
  int nothingCalls_ = 0;
};

class Invoke : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(quillbox::test::LoadTypeLibFromPath(CALCULATOR_TLB, lib_.out()), S_OK);
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_ICalculator, info_.out()), S_OK);
    object_.info_ = info_.get();
  }

  // Calls with the arguments in script order (they are reversed into DISPPARAMS here).
  HRESULT Call(DISPID id, WORD flags, std::vector<VARIANT*> args, VARIANT* result = nullptr,
               std::vector<DISPID> named = {}) {
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(**it);
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), named.empty() ? nullptr : named.data(),
                      static_cast<UINT>(reversed.size()), static_cast<UINT>(named.size())};
    argError_ = 0xFFFF;
    const HRESULT hr = info_->Invoke(static_cast<ICalculator*>(&object_), id, flags, &params, result, nullptr, &argError_);
    // Arguments passed by value were bitwise copies; by-reference results flow through pointers.
    return hr;
  }
  HRESULT Put(DISPID id, VARIANT& value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    return info_->Invoke(static_cast<ICalculator*>(&object_), id, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                         &argError_);
  }

  ComPtr<ITypeLib> lib_;
  ComPtr<ITypeInfo> info_;
  Calculator object_;
  UINT argError_ = 0;
};

Variant* I4(Variant& v, LONG value) {
  VariantClear(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return &v;
}
Variant* Str(Variant& v, const char16_t* text) {
  VariantClear(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return &v;
}

TEST_F(Invoke, MethodWithRetval) {
  Variant a, b, result;
  ASSERT_EQ(Call(5, DISPATCH_METHOD, {I4(a, 40), I4(b, 2)}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 42);
}

TEST_F(Invoke, ScriptsSendMethodAndGetTogether) {
  Variant a, b, result;
  ASSERT_EQ(Call(5, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {I4(a, 1), I4(b, 2)}, &result), S_OK);
  EXPECT_EQ(result.lVal, 3);
  Variant read;
  ASSERT_EQ(Call(11, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &read), S_OK);
  EXPECT_EQ(read.vt, VT_I4);
  EXPECT_EQ(read.lVal, 99);
}

TEST_F(Invoke, ArgumentsArriveInDeclarationOrderAndAreConverted) {
  Variant name, age, member, code, result;
  Str(name, u"Ann");
  Str(age, u"41");            // text to short
  member.vt = VT_I4;          // number to VARIANT_BOOL
  member.lVal = 7;
  code.vt = VT_R8;            // double to unsigned long
  code.dblVal = 3000000000.0;
  ASSERT_EQ(Call(6, DISPATCH_METHOD, {&name, &age, &member, &code}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(Text(result.bstrVal), u"Ann/41/-1/3000000000");
}

TEST_F(Invoke, IntAndDoubleParameters) {
  Variant factor, value, result;
  Str(factor, u"3");
  value.vt = VT_I2;
  value.iVal = 5;
  ASSERT_EQ(Call(10, DISPATCH_METHOD, {&factor, &value}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_R8);
  EXPECT_DOUBLE_EQ(result.dblVal, 15.0);
}

TEST_F(Invoke, PropertyPutThenGet) {
  Variant value, result;
  Str(value, u"hello");
  ASSERT_EQ(Put(1, value), S_OK);
  EXPECT_EQ(object_.text_, u"hello");
  ASSERT_EQ(Call(1, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(Text(result.bstrVal), u"hello");
}

TEST_F(Invoke, AStringArgumentReachesTheCalleeAsTheCallersOwn) {
  // An [in] string is only read by the callee: passed as it is, a text of gigabytes costs no copy.
  Variant value;
  Str(value, u"as it is");
  ASSERT_EQ(Put(1, value), S_OK);
  EXPECT_EQ(object_.received_, value.bstrVal);
  EXPECT_EQ(object_.text_, u"as it is");
  // A null string still arrives as the empty string.
  VariantClear(&value);
  value.vt = VT_BSTR;
  value.bstrVal = nullptr;
  ASSERT_EQ(Put(1, value), S_OK);
  EXPECT_NE(object_.received_, nullptr);
  EXPECT_EQ(object_.text_, u"");
}

TEST_F(Invoke, PropertyTypesRoundTrip) {
  Variant flag, small, count, r1, r2, r3;
  Str(flag, u"True");
  ASSERT_EQ(Put(2, flag), S_OK);
  ASSERT_EQ(Call(2, DISPATCH_PROPERTYGET, {}, &r1), S_OK);
  EXPECT_EQ(r1.vt, VT_BOOL);
  EXPECT_EQ(r1.boolVal, VARIANT_TRUE);
  I4(small, -300);
  ASSERT_EQ(Put(3, small), S_OK);
  ASSERT_EQ(Call(3, DISPATCH_PROPERTYGET, {}, &r2), S_OK);
  EXPECT_EQ(r2.vt, VT_I2);
  EXPECT_EQ(r2.iVal, -300);
  count.vt = VT_UI4;
  count.ulVal = 0xFFFFFFFFu;
  ASSERT_EQ(Put(4, count), S_OK);
  ASSERT_EQ(Call(4, DISPATCH_PROPERTYGET, {}, &r3), S_OK);
  EXPECT_EQ(r3.vt, VT_UINT);
  EXPECT_EQ(r3.uintVal, 0xFFFFFFFFu);
}

TEST_F(Invoke, OverflowNamesTheArgument) {
  Variant value;
  I4(value, 40000);
  EXPECT_EQ(Put(3, value), DISP_E_OVERFLOW);
  EXPECT_EQ(argError_, 0u);
  EXPECT_EQ(object_.small_, 0);
  Variant negative;
  I4(negative, -1);
  EXPECT_EQ(Put(4, negative), DISP_E_OVERFLOW);
  // In a method, the index is the argument's position in DISPPARAMS (reversed).
  Variant name, age, member, code;
  Str(name, u"x");
  I4(age, 1);
  I4(member, 0);
  I4(code, -5);
  EXPECT_EQ(Call(6, DISPATCH_METHOD, {&name, &age, &member, &code}), DISP_E_OVERFLOW);
  EXPECT_EQ(argError_, 0u);
  I4(code, 5);
  I4(age, 70000);
  EXPECT_EQ(Call(6, DISPATCH_METHOD, {&name, &age, &member, &code}), DISP_E_OVERFLOW);
  EXPECT_EQ(argError_, 2u);
}

TEST_F(Invoke, TypeMismatchNamesTheArgument) {
  Variant a, b;
  I4(a, 1);
  Str(b, u"not a number");
  EXPECT_EQ(Call(5, DISPATCH_METHOD, {&a, &b}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError_, 0u);
  Str(a, u"nor this");
  I4(b, 1);
  EXPECT_EQ(Call(5, DISPATCH_METHOD, {&a, &b}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError_, 1u);
}

TEST_F(Invoke, WrongArgumentCount) {
  Variant a, b, c;
  EXPECT_EQ(Call(5, DISPATCH_METHOD, {I4(a, 1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(5, DISPATCH_METHOD, {I4(a, 1), I4(b, 2), I4(c, 3)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(9, DISPATCH_METHOD, {I4(a, 1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(object_.nothingCalls_, 0);
  EXPECT_EQ(Call(9, DISPATCH_METHOD, {}), S_OK);
  EXPECT_EQ(object_.nothingCalls_, 1);
}

TEST_F(Invoke, ByReferenceArgumentsAreUpdatedInPlace) {
  LONG number = 5;
  BSTR text = SysAllocString(u"before");
  Variant value, label;
  value.vt = VT_BYREF | VT_I4;
  value.plVal = &number;
  label.vt = VT_BYREF | VT_BSTR;
  label.pbstrVal = &text;
  ASSERT_EQ(Call(7, DISPATCH_METHOD, {&value, &label}), S_OK);
  EXPECT_EQ(number, -5);
  EXPECT_EQ(Text(text), u"swapped");
  SysFreeString(text);
  value.vt = VT_EMPTY;
  label.vt = VT_EMPTY;
}

TEST_F(Invoke, ByReferenceThroughAVariantReference) {
  Variant inner, innerText, value, label;
  I4(inner, 8);
  Str(innerText, u"x");
  value.vt = VT_BYREF | VT_VARIANT;
  value.pvarVal = &inner;
  label.vt = VT_BYREF | VT_VARIANT;
  label.pvarVal = &innerText;
  ASSERT_EQ(Call(7, DISPATCH_METHOD, {&value, &label}), S_OK);
  EXPECT_EQ(inner.lVal, -8);
  EXPECT_EQ(Text(innerText.bstrVal), u"swapped");
  value.vt = VT_EMPTY;
  label.vt = VT_EMPTY;
}

TEST_F(Invoke, ByReferenceOfTheWrongTypeIsAMismatch) {
  SHORT number = 5;
  BSTR text = nullptr;
  Variant value, label;
  value.vt = VT_BYREF | VT_I2;
  value.piVal = &number;
  label.vt = VT_BYREF | VT_BSTR;
  label.pbstrVal = &text;
  EXPECT_EQ(Call(7, DISPATCH_METHOD, {&value, &label}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError_, 1u);
  Variant plain;
  I4(plain, 5);
  EXPECT_EQ(Call(7, DISPATCH_METHOD, {&plain, &label}), DISP_E_TYPEMISMATCH);
  value.vt = VT_EMPTY;
  label.vt = VT_EMPTY;
}

TEST_F(Invoke, ByReferenceArgumentForAByValueParameterIsRead) {
  LONG a = 20;
  Variant ref, b, result;
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &a;
  ASSERT_EQ(Call(5, DISPATCH_METHOD, {&ref, I4(b, 3)}, &result), S_OK);
  EXPECT_EQ(result.lVal, 23);
  ref.vt = VT_EMPTY;
}

TEST_F(Invoke, FailingMethodReturnsItsStatusUnchanged) {
  Variant code;
  I4(code, static_cast<LONG>(0x80041234u));
  EXPECT_EQ(Call(8, DISPATCH_METHOD, {&code}), static_cast<HRESULT>(0x80041234u));
  I4(code, 1);  // S_FALSE is a success, returned as such
  EXPECT_EQ(Call(8, DISPATCH_METHOD, {&code}), S_FALSE);
}

TEST_F(Invoke, UnknownMemberOrKind) {
  Variant result, value;
  EXPECT_EQ(Call(77, DISPATCH_METHOD, {}, &result), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(9, DISPATCH_PROPERTYGET, {}, &result), DISP_E_MEMBERNOTFOUND);  // a method, read as property
  I4(value, 1);
  EXPECT_EQ(Put(11, value), DISP_E_MEMBERNOTFOUND);  // read-only
}

TEST_F(Invoke, NamedArgumentRules) {
  Variant value;
  Str(value, u"v");
  // A put without its DISPID_PROPERTYPUT name.
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {&value}), DISP_E_PARAMNOTFOUND);
  // A put whose one name is something else.
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {&value}, nullptr, {0}), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(argError_, 0u);
  // Methods take no named arguments.
  Variant a, b;
  EXPECT_EQ(Call(5, DISPATCH_METHOD, {I4(a, 1), I4(b, 2)}, nullptr, {0}), DISP_E_NONAMEDARGS);
  EXPECT_EQ(object_.text_, u"");
}

TEST_F(Invoke, ResultMayBeOmitted) {
  Variant value;
  Str(value, u"kept");
  ASSERT_EQ(Put(1, value), S_OK);
  // The retval string is freed by the invoker when nobody takes it (checked by the leak sanitizer).
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYGET, {}, nullptr), S_OK);
}

TEST_F(Invoke, ThroughTheObjectsOwnIDispatch) {
  IDispatch* dispatch = &object_;
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"aDd")};
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 5);
  Variant args[2], result;
  I4(args[0], 4);  // the last argument first
  I4(args[1], 6);
  DISPPARAMS params{args, nullptr, 2, 0};
  ASSERT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.lVal, 10);
}

TEST_F(Invoke, GetIDsOfNamesIsCaseInsensitiveAndResolvesParameters) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"DESCRIBE"), const_cast<LPOLESTR>(u"age"),
                      const_cast<LPOLESTR>(u"Code")};
  MEMBERID ids[3] = {};
  ASSERT_EQ(info_->GetIDsOfNames(names, 3, ids), S_OK);
  EXPECT_EQ(ids[0], 6);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 3);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"Add"), const_cast<LPOLESTR>(u"zz")};
  EXPECT_EQ(info_->GetIDsOfNames(unknown, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 5);
  EXPECT_EQ(ids[1], MEMBERID_NIL);
  LPOLESTR missing[] = {const_cast<LPOLESTR>(u"Subtract")};
  EXPECT_EQ(info_->GetIDsOfNames(missing, 1, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], MEMBERID_NIL);
}

TEST_F(Invoke, BadCallsAreRefused) {
  DISPPARAMS params{nullptr, nullptr, 0, 0};
  EXPECT_EQ(info_->Invoke(nullptr, 9, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(info_->Invoke(&object_, 9, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
  DISPPARAMS missingArgs{nullptr, nullptr, 2, 0};
  EXPECT_EQ(info_->Invoke(static_cast<ICalculator*>(&object_), 5, DISPATCH_METHOD, &missingArgs, nullptr, nullptr,
                          nullptr),
            E_INVALIDARG);
}

}  // namespace
