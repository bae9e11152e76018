// VariantInit, VariantClear, VariantCopy and the coercions of VariantChangeType.
//
// A conversion first reads the source into a small neutral value (an exact integer, a double, a
// boolean, a string, or empty), then writes that value as the target type with the range checks
// OLE Automation makes: a number too large for the target is DISP_E_OVERFLOW, a text that is not
// a number DISP_E_TYPEMISMATCH. Fractions round half to even, as Automation's integer
// conversions do.
#include "common/boundary.h"
#include "shared/case_folding.h"

#include <oleauto.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <variant>

namespace {

struct EmptyValue {};
struct NullValue {};
struct BoolValue {
  VARIANT_BOOL value;
};
struct StringValue {
  std::u16string text;
};
using NumericValue = std::variant<std::int64_t, double>;
using Scalar = std::variant<EmptyValue, NullValue, BoolValue, NumericValue, StringValue>;

bool IsKnownType(VARTYPE vt) {
  switch (vt & VT_TYPEMASK) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_VARIANT: case VT_UNKNOWN:
    case VT_DECIMAL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT:
    case VT_UINT: case VT_RECORD:
      return true;
    default:
      return false;
  }
}

// Rounds half to even and checks the range [low, high]; NaN and infinities overflow.
bool RoundedInRange(double value, double low, double high, double& out) {
  if (!std::isfinite(value)) return false;
  out = std::nearbyint(value);  // the default rounding mode rounds half to even
  return out >= low && out <= high;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }


std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// "&H1F" and "&O17" integers, as Automation reads them (16 or 32 bits, two's complement).
bool ParseRadixInteger(std::u16string_view text, NumericValue& out) {
  if (text.size() < 3 || text[0] != u'&') return false;
  const char16_t marker = text[1];
  unsigned base;
  if (marker == u'H' || marker == u'h') {
    base = 16;
  } else if (marker == u'O' || marker == u'o') {
    base = 8;
  } else {
    return false;
  }
  std::uint64_t value = 0;
  for (char16_t c : text.substr(2)) {
    unsigned digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (base == 16 && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (base == 16 && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      return false;
    }
    if (digit >= base) return false;
    value = value * base + digit;
    if (value > 0xFFFFFFFFull) return false;
  }
  // Four hex digits or fewer name a 16-bit value; more, a 32-bit one.
  if (value <= 0xFFFF) {
    out = static_cast<std::int64_t>(static_cast<std::int16_t>(value));
  } else {
    out = static_cast<std::int64_t>(static_cast<std::int32_t>(value));
  }
  return true;
}

bool ParseNumber(std::u16string_view input, NumericValue& out) {
  std::u16string_view text = Trim(input);
  if (ParseRadixInteger(text, out)) return true;
  std::string ascii;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ascii += static_cast<char>(text[i++]);
  std::size_t digits = 0;
  bool fractional = false;
  while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
    ascii += static_cast<char>(text[i++]);
    ++digits;
  }
  if (i < text.size() && text[i] == u'.') {
    fractional = true;
    ascii += '.';
    ++i;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
      ascii += static_cast<char>(text[i++]);
      ++digits;
    }
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    fractional = true;
    ascii += 'e';
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ascii += static_cast<char>(text[i++]);
    std::size_t exponentDigits = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
      ascii += static_cast<char>(text[i++]);
      ++exponentDigits;
    }
    if (exponentDigits == 0) return false;
  }
  if (i != text.size()) return false;
  if (!fractional) {
    errno = 0;
    char* end = nullptr;
    const long long integer = std::strtoll(ascii.c_str(), &end, 10);
    if (errno == 0 && end != nullptr && *end == '\0') {
      out = static_cast<std::int64_t>(integer);
      return true;
    }
  }
  out = std::strtod(ascii.c_str(), nullptr);  // huge values become infinity and overflow later
  return true;
}

HRESULT ReadScalar(const VARIANT& source, Scalar& out) {
  const VARIANT* v = &source;
  if (v->vt == (VT_BYREF | VT_VARIANT)) {
    if (v->pvarVal == nullptr) return E_INVALIDARG;
    v = v->pvarVal;
    if (v->vt & VT_BYREF) return DISP_E_TYPEMISMATCH;  // a variant reference to a reference
  }
  const bool byRef = (v->vt & VT_BYREF) != 0;
  const VARTYPE vt = static_cast<VARTYPE>(v->vt & ~VT_BYREF);
  if (vt & (VT_ARRAY | VT_VECTOR | VT_RESERVED)) return DISP_E_TYPEMISMATCH;
  if (!IsKnownType(vt)) return DISP_E_BADVARTYPE;
  if (byRef && v->byref == nullptr) return E_INVALIDARG;
  auto get = [&](auto byValue, auto* pointer) { return byRef ? *pointer : byValue; };
  switch (vt) {
    case VT_EMPTY:
      if (byRef) return DISP_E_BADVARTYPE;
      out = EmptyValue{};
      return S_OK;
    case VT_NULL:
      if (byRef) return DISP_E_BADVARTYPE;
      out = NullValue{};
      return S_OK;
    case VT_I1: out = NumericValue{std::int64_t{get(v->cVal, v->pcVal)}}; return S_OK;
    case VT_UI1: out = NumericValue{std::int64_t{get(v->bVal, v->pbVal)}}; return S_OK;
    case VT_I2: out = NumericValue{std::int64_t{get(v->iVal, v->piVal)}}; return S_OK;
    case VT_UI2: out = NumericValue{std::int64_t{get(v->uiVal, v->puiVal)}}; return S_OK;
    case VT_I4: out = NumericValue{std::int64_t{get(v->lVal, v->plVal)}}; return S_OK;
    case VT_UI4: out = NumericValue{std::int64_t{get(v->ulVal, v->pulVal)}}; return S_OK;
    case VT_INT: out = NumericValue{std::int64_t{get(v->intVal, v->pintVal)}}; return S_OK;
    case VT_UINT: out = NumericValue{std::int64_t{get(v->uintVal, v->puintVal)}}; return S_OK;
    case VT_I8: out = NumericValue{std::int64_t{get(v->llVal, v->pllVal)}}; return S_OK;
    case VT_UI8: {
      const ULONGLONG value = get(v->ullVal, v->pullVal);
      if (value > static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max())) {
        out = NumericValue{static_cast<double>(value)};
      } else {
        out = NumericValue{static_cast<std::int64_t>(value)};
      }
      return S_OK;
    }
    case VT_R4: out = NumericValue{double{get(v->fltVal, v->pfltVal)}}; return S_OK;
    case VT_R8: out = NumericValue{get(v->dblVal, v->pdblVal)}; return S_OK;
    case VT_CY: out = NumericValue{static_cast<double>(get(v->cyVal, v->pcyVal).int64) / 10000.0}; return S_OK;
    case VT_BOOL: out = BoolValue{get(v->boolVal, v->pboolVal)}; return S_OK;
    case VT_BSTR: {
      const BSTR text = get(v->bstrVal, v->pbstrVal);
      out = StringValue{text == nullptr ? std::u16string() : std::u16string(text, SysStringLen(text))};
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;  // interfaces, errors, dates, decimals, records: not coerced here
  }
}

HRESULT ToNumber(const Scalar& value, NumericValue& out) {
  if (std::holds_alternative<EmptyValue>(value)) {
    out = std::int64_t{0};
  } else if (const auto* number = std::get_if<NumericValue>(&value)) {
    out = *number;
  } else if (const auto* boolean = std::get_if<BoolValue>(&value)) {
    out = std::int64_t{boolean->value};
  } else if (const auto* text = std::get_if<StringValue>(&value)) {
    if (!ParseNumber(text->text, out)) return DISP_E_TYPEMISMATCH;
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

HRESULT ToInteger(const Scalar& value, std::int64_t low, std::uint64_t high, bool unsignedTarget,
                  std::uint64_t& bits) {
  NumericValue number;
  if (HRESULT hr = ToNumber(value, number); FAILED(hr)) return hr;
  // A boolean's true is all bits set, also in an unsigned target.
  if (const auto* boolean = std::get_if<BoolValue>(&value); boolean != nullptr && unsignedTarget) {
    bits = boolean->value != 0 ? high : 0;
    return S_OK;
  }
  if (const auto* integer = std::get_if<std::int64_t>(&number)) {
    if (*integer < low) return DISP_E_OVERFLOW;
    if (*integer > 0 && static_cast<std::uint64_t>(*integer) > high) return DISP_E_OVERFLOW;
    bits = static_cast<std::uint64_t>(*integer);
    return S_OK;
  }
  double rounded;
  if (!RoundedInRange(std::get<double>(number), static_cast<double>(low), static_cast<double>(high), rounded))
    return DISP_E_OVERFLOW;
  // Doubles near the 64-bit limits can round to 2^63 or 2^64, one past the top.
  if (rounded >= 18446744073709551616.0 || (!unsignedTarget && rounded >= 9223372036854775808.0))
    return DISP_E_OVERFLOW;
  bits = rounded < 0 ? static_cast<std::uint64_t>(static_cast<std::int64_t>(rounded))
                     : static_cast<std::uint64_t>(rounded);
  return S_OK;
}

HRESULT ToBool(const Scalar& value, VARIANT_BOOL& out) {
  if (const auto* boolean = std::get_if<BoolValue>(&value)) {
    out = boolean->value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  if (const auto* text = std::get_if<StringValue>(&value)) {
    const std::u16string_view trimmed = Trim(text->text);
    if (qb::platform::EqualsIgnoringAsciiCase(trimmed, "true")) {
      out = VARIANT_TRUE;
      return S_OK;
    }
    if (qb::platform::EqualsIgnoringAsciiCase(trimmed, "false")) {
      out = VARIANT_FALSE;
      return S_OK;
    }
  }
  NumericValue number;
  if (HRESULT hr = ToNumber(value, number); FAILED(hr)) return hr;
  const bool truth = std::holds_alternative<std::int64_t>(number) ? std::get<std::int64_t>(number) != 0
                                                                   : std::get<double>(number) != 0.0;
  out = truth ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ToText(const Scalar& value, USHORT flags, std::u16string& out) {
  std::string ascii;
  if (std::holds_alternative<EmptyValue>(value)) {
    out.clear();
    return S_OK;
  } else if (const auto* text = std::get_if<StringValue>(&value)) {
    out = text->text;
    return S_OK;
  } else if (const auto* boolean = std::get_if<BoolValue>(&value)) {
    if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
      ascii = boolean->value != 0 ? "True" : "False";
    } else {
      ascii = boolean->value != 0 ? "-1" : "0";
    }
  } else if (const auto* number = std::get_if<NumericValue>(&value)) {
    if (const auto* integer = std::get_if<std::int64_t>(number)) {
      ascii = std::to_string(*integer);
    } else {
      // Fifteen significant digits, exponent with at least two digits: 1.5, 1E+20, 1E-05.
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%.15G", std::get<double>(*number));
      ascii = buffer;
    }
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  out.assign(ascii.begin(), ascii.end());
  return S_OK;
}

HRESULT ReleaseContents(VARIANTARG* v) {
  if (v->vt & VT_BYREF) return S_OK;  // a reference owns nothing
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (v->punkVal != nullptr) v->punkVal->Release();
      return S_OK;
    default:
      if (v->vt & (VT_ARRAY | VT_VECTOR)) return DISP_E_BADVARTYPE;  // safe arrays are not supported here
      if ((v->vt & VT_TYPEMASK) != v->vt || !IsKnownType(v->vt)) return DISP_E_BADVARTYPE;
      return S_OK;
  }
}

HRESULT WriteInteger(const Scalar& value, VARTYPE type, VARIANT& out) {
  std::uint64_t bits = 0;
  HRESULT hr;
  switch (type) {
    case VT_I1: hr = ToInteger(value, INT8_MIN, INT8_MAX, false, bits); out.cVal = static_cast<CHAR>(bits); break;
    case VT_UI1: hr = ToInteger(value, 0, UINT8_MAX, true, bits); out.bVal = static_cast<BYTE>(bits); break;
    case VT_I2: hr = ToInteger(value, INT16_MIN, INT16_MAX, false, bits); out.iVal = static_cast<SHORT>(bits); break;
    case VT_UI2: hr = ToInteger(value, 0, UINT16_MAX, true, bits); out.uiVal = static_cast<USHORT>(bits); break;
    case VT_I4: hr = ToInteger(value, INT32_MIN, INT32_MAX, false, bits); out.lVal = static_cast<LONG>(bits); break;
    case VT_INT: hr = ToInteger(value, INT32_MIN, INT32_MAX, false, bits); out.intVal = static_cast<INT>(bits); break;
    case VT_UI4: hr = ToInteger(value, 0, UINT32_MAX, true, bits); out.ulVal = static_cast<ULONG>(bits); break;
    case VT_UINT: hr = ToInteger(value, 0, UINT32_MAX, true, bits); out.uintVal = static_cast<UINT>(bits); break;
    case VT_I8: hr = ToInteger(value, INT64_MIN, INT64_MAX, false, bits); out.llVal = static_cast<LONGLONG>(bits); break;
    case VT_UI8: hr = ToInteger(value, 0, UINT64_MAX, true, bits); out.ullVal = bits; break;
    default: return DISP_E_TYPEMISMATCH;
  }
  return hr;
}

HRESULT Convert(const VARIANTARG& source, USHORT flags, VARTYPE type, VARIANT& out) {
  VariantInit(&out);
  if (type & (VT_BYREF | VT_ARRAY | VT_VECTOR | VT_RESERVED)) return DISP_E_TYPEMISMATCH;
  if (!IsKnownType(type)) return DISP_E_BADVARTYPE;

  // Interfaces convert only into interfaces; no default-property evaluation happens here.
  const VARTYPE sourceType = source.vt == (VT_BYREF | VT_VARIANT) && source.pvarVal != nullptr
                                 ? source.pvarVal->vt
                                 : source.vt;
  const VARTYPE baseSource = static_cast<VARTYPE>(sourceType & ~VT_BYREF);
  if (baseSource == VT_DISPATCH || baseSource == VT_UNKNOWN || type == VT_DISPATCH || type == VT_UNKNOWN) {
    if (baseSource != VT_DISPATCH && baseSource != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
    if (type != VT_DISPATCH && type != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
    VARIANT plain;
    VariantInit(&plain);
    if (HRESULT hr = VariantCopyInd(&plain, &source); FAILED(hr)) return hr;
    IUnknown* object = plain.punkVal;
    if (object == nullptr || type == baseSource) {
      out = plain;
      out.vt = type;
      return S_OK;
    }
    void* converted = nullptr;
    const HRESULT hr = object->QueryInterface(type == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &converted);
    object->Release();
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    out.vt = type;
    out.punkVal = static_cast<IUnknown*>(converted);
    return S_OK;
  }

  // A string that stays a string is copied once, straight from the source: read into a neutral
  // value and written out again it would be held three times over at the peak.
  if (type == VT_BSTR) {
    const VARIANT* v = source.vt == (VT_BYREF | VT_VARIANT) ? source.pvarVal : &source;
    if (v != nullptr && (v->vt == VT_BSTR || (v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal != nullptr))) {
      const BSTR text = v->vt == VT_BSTR ? v->bstrVal : *v->pbstrVal;
      out.bstrVal = text != nullptr ? SysAllocStringLen(text, SysStringLen(text)) : SysAllocStringLen(u"", 0);
      if (out.bstrVal == nullptr) return E_OUTOFMEMORY;
      out.vt = VT_BSTR;
      return S_OK;
    }
  }

  Scalar value;
  if (HRESULT hr = ReadScalar(source, value); FAILED(hr)) return hr;
  if (std::holds_alternative<NullValue>(value)) {
    if (type != VT_NULL) return DISP_E_TYPEMISMATCH;
    out.vt = VT_NULL;
    return S_OK;
  }
  HRESULT hr;
  switch (type) {
    case VT_EMPTY:
      hr = std::holds_alternative<EmptyValue>(value) ? S_OK : DISP_E_TYPEMISMATCH;
      break;
    case VT_NULL:
      hr = DISP_E_TYPEMISMATCH;
      break;
    case VT_BOOL:
      hr = ToBool(value, out.boolVal);
      break;
    case VT_R8:
    case VT_R4: {
      NumericValue number;
      hr = ToNumber(value, number);
      if (FAILED(hr)) break;
      const double real = std::holds_alternative<std::int64_t>(number)
                              ? static_cast<double>(std::get<std::int64_t>(number))
                              : std::get<double>(number);
      if (type == VT_R8) {
        out.dblVal = real;
      } else if (std::isfinite(real) && std::fabs(real) > std::numeric_limits<float>::max()) {
        hr = DISP_E_OVERFLOW;
      } else {
        out.fltVal = static_cast<float>(real);
      }
      break;
    }
    case VT_BSTR: {
      std::u16string text;
      hr = ToText(value, flags, text);
      if (FAILED(hr)) break;
      out.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (out.bstrVal == nullptr) hr = E_OUTOFMEMORY;
      break;
    }
    case VT_CY: {
      NumericValue number;
      hr = ToNumber(value, number);
      if (FAILED(hr)) break;
      const double real = std::holds_alternative<std::int64_t>(number)
                              ? static_cast<double>(std::get<std::int64_t>(number))
                              : std::get<double>(number);
      double scaled;
      if (!RoundedInRange(real * 10000.0, -9.2233720368547758e18, 9.2233720368547748e18, scaled)) {
        hr = DISP_E_OVERFLOW;
        break;
      }
      out.cyVal.int64 = static_cast<LONGLONG>(scaled);
      break;
    }
    default:
      hr = WriteInteger(value, type, out);
      break;
  }
  if (FAILED(hr)) {
    VariantInit(&out);
    return hr;
  }
  out.vt = type;
  return S_OK;
}

}  // namespace

extern "C" {

void WINAPI VariantInit(VARIANTARG* variant) {
  if (variant == nullptr) return;
  std::memset(variant, 0, sizeof *variant);
  variant->vt = VT_EMPTY;
}

HRESULT WINAPI VariantClear(VARIANTARG* variant) {
  if (variant == nullptr) return E_INVALIDARG;
  if (HRESULT hr = ReleaseContents(variant); FAILED(hr)) return hr;
  VariantInit(variant);
  return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* dest, const VARIANTARG* source) {
  if (dest == nullptr || source == nullptr) return E_INVALIDARG;
  if (dest == source) return S_OK;
  VARIANT copy = *source;
  if (!(source->vt & VT_BYREF)) {
    if (source->vt & (VT_ARRAY | VT_VECTOR)) return DISP_E_BADVARTYPE;
    if (!IsKnownType(source->vt)) return DISP_E_BADVARTYPE;
    if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
      copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source->bstrVal),
                                           SysStringByteLen(source->bstrVal));
      if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((source->vt == VT_DISPATCH || source->vt == VT_UNKNOWN) && source->punkVal != nullptr) {
      source->punkVal->AddRef();
    }
  }
  if (HRESULT hr = VariantClear(dest); FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

HRESULT WINAPI VariantCopyInd(VARIANT* dest, const VARIANTARG* source) {
  if (dest == nullptr || source == nullptr) return E_INVALIDARG;
  if (!(source->vt & VT_BYREF)) return VariantCopy(dest, source);
  if (source->byref == nullptr) return E_INVALIDARG;
  const VARTYPE vt = static_cast<VARTYPE>(source->vt & ~VT_BYREF);
  if (vt == VT_VARIANT) {
    if (source->pvarVal->vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
    return VariantCopyInd(dest, source->pvarVal);
  }
  VARIANT plain;
  VariantInit(&plain);
  plain.vt = vt;
  switch (vt) {
    case VT_I1: case VT_UI1: plain.bVal = *source->pbVal; break;
    case VT_I2: case VT_UI2: case VT_BOOL: plain.iVal = *source->piVal; break;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4: plain.lVal = *source->plVal; break;
    case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: case VT_CY: plain.llVal = *source->pllVal; break;
    case VT_BSTR: plain.bstrVal = *source->pbstrVal; break;
    case VT_DISPATCH: case VT_UNKNOWN: plain.punkVal = *source->ppunkVal; break;
    case VT_DECIMAL: plain.decVal = *source->pdecVal; plain.vt = VT_DECIMAL; break;
    default: return DISP_E_BADVARTYPE;
  }
  return VariantCopy(dest, &plain);
}

HRESULT WINAPI VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* source, LCID, USHORT flags, VARTYPE type) {
  return quillbox::HresultBoundary([&]() -> HRESULT {
    if (dest == nullptr || source == nullptr) return E_INVALIDARG;
    VARIANT result;
    if (HRESULT hr = Convert(*source, flags, type, result); FAILED(hr)) return hr;
    // Converting in place: the source is released only after the new value exists.
    if (HRESULT hr = VariantClear(dest); FAILED(hr)) {
      VariantClear(&result);
      return hr;
    }
    *dest = result;
    return S_OK;
  });
}

HRESULT WINAPI VariantChangeType(VARIANTARG* dest, const VARIANTARG* source, USHORT flags, VARTYPE type) {
  return VariantChangeTypeEx(dest, source, LOCALE_USER_DEFAULT, flags, type);
}

}  // extern "C"
