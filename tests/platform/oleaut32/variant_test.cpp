// VariantInit, VariantClear, VariantCopy and the coercions of VariantChangeType.
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "support/bstr_helpers.h"

namespace {

using quillbox::test::Take;

// A variant cleared when it goes out of scope.
struct Var : VARIANT {
  Var() { VariantInit(this); }
  ~Var() { VariantClear(this); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
};

void SetString(VARIANT& v, const std::u16string& text) {
  VariantClear(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

HRESULT Convert(const VARIANT& from, VARTYPE to, Var& out, USHORT flags = 0) {
  return VariantChangeType(&out, &from, flags, to);
}

std::u16string TextOf(const VARIANT& v) { return std::u16string(v.bstrVal, SysStringLen(v.bstrVal)); }

TEST(Variant, InitAndClearLeaveEmpty) {
  VARIANT v;
  std::memset(&v, 0xAB, sizeof v);
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  SetString(v, u"owned");
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(Variant, ClearRefusesAnUnknownType) {
  VARIANT v;
  VariantInit(&v);
  v.vt = 0x7F;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
}

TEST(Variant, CopyDuplicatesStringsWithTheirWholeLength) {
  Var source, copy;
  SetString(source, std::u16string(u"a\0b", 3));
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  ASSERT_EQ(copy.vt, VT_BSTR);
  EXPECT_NE(copy.bstrVal, source.bstrVal);
  EXPECT_EQ(TextOf(copy), std::u16string(u"a\0b", 3));
}

TEST(Variant, CopyIndDereferences) {
  LONG value = 42;
  Var ref, out;
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &value;
  ASSERT_EQ(VariantCopyInd(&out, &ref), S_OK);
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(out.lVal, 42);
}

TEST(VariantChangeType, IntegersToText) {
  Var v, out;
  v.vt = VT_I4;
  v.lVal = -123;
  ASSERT_EQ(Convert(v, VT_BSTR, out), S_OK);
  EXPECT_EQ(TextOf(out), u"-123");
  v.vt = VT_UI4;
  v.ulVal = 4000000000u;
  ASSERT_EQ(Convert(v, VT_BSTR, out), S_OK);
  EXPECT_EQ(TextOf(out), u"4000000000");
}

TEST(VariantChangeType, BooleansToTextAreNumbersUnlessAskedForWords) {
  Var v, out;
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  ASSERT_EQ(Convert(v, VT_BSTR, out), S_OK);
  EXPECT_EQ(TextOf(out), u"-1");
  ASSERT_EQ(Convert(v, VT_BSTR, out, VARIANT_ALPHABOOL), S_OK);
  EXPECT_EQ(TextOf(out), u"True");
  v.boolVal = VARIANT_FALSE;
  ASSERT_EQ(Convert(v, VT_BSTR, out, VARIANT_ALPHABOOL), S_OK);
  EXPECT_EQ(TextOf(out), u"False");
}

TEST(VariantChangeType, DoublesToTextUseFifteenDigits) {
  Var v, out;
  v.vt = VT_R8;
  v.dblVal = 1.5;
  ASSERT_EQ(Convert(v, VT_BSTR, out), S_OK);
  EXPECT_EQ(TextOf(out), u"1.5");
  v.dblVal = 1e20;
  ASSERT_EQ(Convert(v, VT_BSTR, out), S_OK);
  EXPECT_EQ(TextOf(out), u"1E+20");
  v.dblVal = 0.1 + 0.2;
  ASSERT_EQ(Convert(v, VT_BSTR, out), S_OK);
  EXPECT_EQ(TextOf(out), u"0.3");
}

TEST(VariantChangeType, TextToNumbers) {
  Var v, out;
  SetString(v, u"  42 ");
  ASSERT_EQ(Convert(v, VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 42);
  SetString(v, u"-7");
  ASSERT_EQ(Convert(v, VT_I2, out), S_OK);
  EXPECT_EQ(out.iVal, -7);
  SetString(v, u"&HFF");
  ASSERT_EQ(Convert(v, VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 255);
  SetString(v, u"2.5e1");
  ASSERT_EQ(Convert(v, VT_R8, out), S_OK);
  EXPECT_DOUBLE_EQ(out.dblVal, 25.0);
}

TEST(VariantChangeType, FractionsRoundHalfToEven) {
  Var v, out;
  SetString(v, u"2.5");
  ASSERT_EQ(Convert(v, VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 2);
  SetString(v, u"3.5");
  ASSERT_EQ(Convert(v, VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 4);
  VariantClear(&v);
  v.vt = VT_R8;
  v.dblVal = -0.5;
  ASSERT_EQ(Convert(v, VT_I2, out), S_OK);
  EXPECT_EQ(out.iVal, 0);
}

TEST(VariantChangeType, TextThatIsNoNumberIsATypeMismatch) {
  Var v, out;
  for (const char16_t* text : {u"abc", u"", u"  ", u"12abc", u"1e", u"--1", u"&H", u"&HZZ"}) {
    SetString(v, text);
    EXPECT_EQ(Convert(v, VT_I4, out), DISP_E_TYPEMISMATCH) << std::string(text, text + std::char_traits<char16_t>::length(text));
    EXPECT_EQ(out.vt, VT_EMPTY);
  }
}

TEST(VariantChangeType, OutOfRangeIsOverflow) {
  Var v, out;
  v.vt = VT_I4;
  v.lVal = 32768;
  EXPECT_EQ(Convert(v, VT_I2, out), DISP_E_OVERFLOW);
  v.lVal = -32769;
  EXPECT_EQ(Convert(v, VT_I2, out), DISP_E_OVERFLOW);
  v.lVal = -1;
  EXPECT_EQ(Convert(v, VT_UI4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(v, VT_UINT, out), DISP_E_OVERFLOW);
  v.vt = VT_UI4;
  v.ulVal = 0x80000000u;
  EXPECT_EQ(Convert(v, VT_I4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(v, VT_INT, out), DISP_E_OVERFLOW);
  v.vt = VT_R8;
  v.dblVal = 4294967295.6;
  EXPECT_EQ(Convert(v, VT_UI4, out), DISP_E_OVERFLOW);
  v.dblVal = NAN;
  EXPECT_EQ(Convert(v, VT_I4, out), DISP_E_OVERFLOW);
  SetString(v, u"99999999999999999999999");
  EXPECT_EQ(Convert(v, VT_I4, out), DISP_E_OVERFLOW);
}

TEST(VariantChangeType, RangeEdgesConvert) {
  Var v, out;
  v.vt = VT_I4;
  v.lVal = -32768;
  ASSERT_EQ(Convert(v, VT_I2, out), S_OK);
  EXPECT_EQ(out.iVal, -32768);
  v.vt = VT_R8;
  v.dblVal = 4294967295.0;
  ASSERT_EQ(Convert(v, VT_UINT, out), S_OK);
  EXPECT_EQ(out.uintVal, 4294967295u);
  EXPECT_EQ(out.vt, VT_UINT);
}

TEST(VariantChangeType, BooleansFromNumbersAndWords) {
  Var v, out;
  v.vt = VT_I2;
  v.iVal = 5;
  ASSERT_EQ(Convert(v, VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  v.iVal = 0;
  ASSERT_EQ(Convert(v, VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  SetString(v, u"TRUE");
  ASSERT_EQ(Convert(v, VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  SetString(v, u"false");
  ASSERT_EQ(Convert(v, VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  SetString(v, u"0.0");
  ASSERT_EQ(Convert(v, VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  SetString(v, u"maybe");
  EXPECT_EQ(Convert(v, VT_BOOL, out), DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, BooleansToNumbers) {
  Var v, out;
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  ASSERT_EQ(Convert(v, VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, -1);
  ASSERT_EQ(Convert(v, VT_UI4, out), S_OK);
  EXPECT_EQ(out.ulVal, 0xFFFFFFFFu);
}

TEST(VariantChangeType, EmptyBecomesZeroFalseOrEmptyText) {
  Var v, out;
  ASSERT_EQ(Convert(v, VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 0);
  ASSERT_EQ(Convert(v, VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  ASSERT_EQ(Convert(v, VT_BSTR, out), S_OK);
  ASSERT_NE(out.bstrVal, nullptr);
  EXPECT_EQ(SysStringLen(out.bstrVal), 0u);
}

TEST(VariantChangeType, NullConvertsToNothingElse) {
  Var v, out;
  v.vt = VT_NULL;
  EXPECT_EQ(Convert(v, VT_I4, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(v, VT_BSTR, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(v, VT_NULL, out), S_OK);
}

TEST(VariantChangeType, ByReferenceSourcesAreRead) {
  SHORT small = 300;
  BSTR text = SysAllocString(u"17");
  VARIANT inner;
  VariantInit(&inner);
  inner.vt = VT_I4;
  inner.lVal = 9;
  Var v, out;
  v.vt = VT_BYREF | VT_I2;
  v.piVal = &small;
  ASSERT_EQ(Convert(v, VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 300);
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = &text;
  ASSERT_EQ(Convert(v, VT_UI4, out), S_OK);
  EXPECT_EQ(out.ulVal, 17u);
  v.vt = VT_BYREF | VT_VARIANT;
  v.pvarVal = &inner;
  ASSERT_EQ(Convert(v, VT_BSTR, out), S_OK);
  EXPECT_EQ(TextOf(out), u"9");
  v.vt = VT_EMPTY;  // the references belong to this test, not to the variant
  SysFreeString(text);
}

TEST(VariantChangeType, AStringStaysAStringWholeInACopyOfItsOwn) {
  Var v, out;
  SetString(v, std::u16string(u"a\0b", 3));
  ASSERT_EQ(Convert(v, VT_BSTR, out), S_OK);
  EXPECT_EQ(TextOf(out), std::u16string(u"a\0b", 3));
  EXPECT_NE(out.bstrVal, v.bstrVal);
  BSTR text = v.bstrVal;
  Var ref;
  ref.vt = VT_BYREF | VT_BSTR;
  ref.pbstrVal = &text;
  ASSERT_EQ(Convert(ref, VT_BSTR, out), S_OK);
  EXPECT_EQ(TextOf(out), std::u16string(u"a\0b", 3));
  EXPECT_NE(out.bstrVal, text);
  ref.vt = VT_EMPTY;
  // A null string converts to the empty string, by value or by reference.
  BSTR none = nullptr;
  Var null, nullRef;
  null.vt = VT_BSTR;
  null.bstrVal = nullptr;
  nullRef.vt = VT_BYREF | VT_BSTR;
  nullRef.pbstrVal = &none;
  for (const Var* source : {&null, &nullRef}) {
    ASSERT_EQ(Convert(*source, VT_BSTR, out), S_OK);
    ASSERT_NE(out.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(out.bstrVal), 0u);
  }
  nullRef.vt = VT_EMPTY;
  // In place, the old string goes only once the new one exists.
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(v), std::u16string(u"a\0b", 3));
}

TEST(VariantChangeType, InPlaceConversionReleasesTheOldValue) {
  Var v;
  SetString(v, u"12");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I2), S_OK);
  EXPECT_EQ(v.vt, VT_I2);
  EXPECT_EQ(v.iVal, 12);
}

TEST(VariantChangeType, FailedConversionLeavesTheDestinationAlone) {
  Var v, out;
  SetString(out, u"keep");
  SetString(v, u"x");
  EXPECT_EQ(Convert(v, VT_I4, out), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(TextOf(out), u"keep");
}

TEST(VariantChangeType, UnknownTypesAreRefused) {
  Var v, out;
  v.vt = VT_I4;
  EXPECT_EQ(Convert(v, 0x7F, out), DISP_E_BADVARTYPE);
  EXPECT_EQ(Convert(v, VT_BYREF | VT_I4, out), DISP_E_TYPEMISMATCH);
}

}  // namespace
