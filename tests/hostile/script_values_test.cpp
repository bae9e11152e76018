// What a script engine may hand over for a property or an argument besides the string or number it
// expects: undefined, null, objects (the component itself among them), arrays, dates, references
// to nothing, numbers out of range. Each put either converts as the dispatch layer documents or is
// refused with its status, and a refused put leaves the property as it was.
#include "hostile/scripted_signature.h"

#include <cmath>
#include <limits>
#include <vector>

namespace quillbox::test {
namespace {

constexpr const char16_t* kStringProperties[] = {u"XmlDoc",         u"CertSubject",    u"UserName",
                                                 u"LocalTimeStamp", u"CertIssuerName", u"CertSerial"};

// A variant that owns nothing; the tests keep what it points at alive.
VARIANT Of(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}

VARIANT Double(double value) {
  VARIANT v = Of(VT_R8);
  v.dblVal = value;
  return v;
}

class ScriptValues : public ScriptedSignature {
 protected:
  // Everything a script engine could hand over that is not a plain string or integer.
  std::vector<VARIANT> HostileValues() {
    std::vector<VARIANT> values;
    values.push_back(Of(VT_NULL));
    VARIANT object = Of(VT_DISPATCH);
    object.pdispVal = object_;  // the component itself
    values.push_back(object);
    values.push_back(Of(VT_DISPATCH));  // a null object
    VARIANT unknown = Of(VT_UNKNOWN);
    unknown.punkVal = object_;
    values.push_back(unknown);
    VARIANT error = Of(VT_ERROR);
    error.scode = DISP_E_PARAMNOTFOUND;  // a missing optional argument
    values.push_back(error);
    VARIANT date = Of(VT_DATE);
    date.date = 45000.5;
    values.push_back(date);
    VARIANT array = Of(VT_ARRAY | VT_VARIANT);
    array.parray = nullptr;
    values.push_back(array);
    VARIANT nothing = Of(VT_BYREF | VT_BSTR);
    nothing.pbstrVal = nullptr;
    values.push_back(nothing);
    VARIANT noVariant = Of(VT_BYREF | VT_VARIANT);
    noVariant.pvarVal = nullptr;
    values.push_back(noVariant);
    values.push_back(Of(0xFFF));  // no type at all
    values.push_back(Double(std::numeric_limits<double>::quiet_NaN()));
    values.push_back(Double(std::numeric_limits<double>::infinity()));
    values.push_back(Double(-1e300));
    return values;
  }
};

TEST_F(ScriptValues, StringPropertiesConvertOrStayAsTheyWere) {
  for (const char16_t* name : kStringProperties) {
    ASSERT_EQ(PutText(name, u"BEFORE"), S_OK);
    for (const VARIANT& value : HostileValues()) {
      const HRESULT hr = PutVariant(name, value);
      const std::u16string now = Text(name);
      if (FAILED(hr)) {
        EXPECT_EQ(now, u"BEFORE") << std::hex << hr << " vt " << value.vt;
        EXPECT_TRUE(hr == DISP_E_TYPEMISMATCH || hr == DISP_E_BADVARTYPE || hr == E_INVALIDARG) << std::hex << hr;
      } else {
        EXPECT_FALSE(now.empty()) << "vt " << value.vt;  // a number's text
        ASSERT_EQ(PutText(name, u"BEFORE"), S_OK);
      }
    }
    // undefined is the empty string; a number its text.
    EXPECT_EQ(PutVariant(name, Of(VT_EMPTY)), S_OK);
    EXPECT_EQ(Text(name), u"");
    EXPECT_EQ(PutVariant(name, MakeI4(-42)), S_OK);
    EXPECT_EQ(Text(name), u"-42");
  }
}

TEST_F(ScriptValues, NumericPropertiesRefuseWhatTheyCannotHold) {
  ASSERT_EQ(PutVariant(u"CertFindOption", MakeI4(1)), S_OK);
  ASSERT_EQ(PutVariant(u"Advanced", MakeI4(-1)), S_OK);
  VARIANT handle = Of(VT_UINT);
  handle.uintVal = 7;
  ASSERT_EQ(PutVariant(u"Handle", handle), S_OK);
  UniqueBstr word(SysAllocString(u"abc"));
  VARIANT text = Of(VT_BSTR);
  text.bstrVal = word.get();
  std::vector<VARIANT> values = HostileValues();
  values.push_back(text);
  values.push_back(MakeI4(70000));
  values.push_back(MakeI4(-1));
  for (const VARIANT& value : values) {
    for (const char16_t* name : {u"CertFindOption", u"Handle", u"Advanced"}) {
      const HRESULT hr = PutVariant(name, value);
      if (FAILED(hr)) {
        EXPECT_TRUE(hr == DISP_E_TYPEMISMATCH || hr == DISP_E_BADVARTYPE || hr == E_INVALIDARG || hr == DISP_E_OVERFLOW)
            << std::hex << hr;
      }
    }
    // Whatever was refused left the last accepted value.
    VARIANT option = Script(object_).Get(u"CertFindOption");
    VARIANT kept = Script(object_).Get(u"Handle");
    if (value.vt == VT_I4 && value.lVal == 70000) {
      EXPECT_EQ(option.iVal, 1);  // beyond a 16-bit integer
      EXPECT_EQ(kept.uintVal, 70000u);
    } else if (value.vt == VT_I4 && value.lVal == -1) {
      EXPECT_EQ(option.iVal, -1);
      EXPECT_EQ(kept.uintVal, 70000u);  // no negative handle
    }
  }
}

TEST_F(ScriptValues, MethodsTakeTheirArgumentsOrRefuseThem) {
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  // Transform's stylesheet: anything but a string is refused by the dispatch layer or is a text
  // that does not parse; the error report tells only of calls that ran.
  for (VARIANT value : HostileValues()) {
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = Script(object_).Call(u"Transform", DISPATCH_METHOD, &value, 1, &result);
    if (SUCCEEDED(hr)) {
      ASSERT_EQ(result.vt, VT_BSTR);
      EXPECT_EQ(SysStringLen(result.bstrVal), 0u);
      EXPECT_EQ(ErrorNo(), 37);
    } else {
      EXPECT_EQ(result.vt, VT_EMPTY);
    }
    VariantClear(&result);
  }
  EXPECT_EQ(Text(u"XmlDoc"), u"<a/>");
  // Sign takes no argument at all.
  VARIANT extra = MakeI4(1);
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(Script(object_).Call(u"Sign", DISPATCH_METHOD, &extra, 1, &result), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Text(u"XmlDoc"), u"<a/>");
}

}  // namespace
}  // namespace quillbox::test
