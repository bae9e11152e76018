#include "host/js_variant.h"

#include "host/dispatch.h"
#include "host/text.h"

#include <cmath>
#include <cstdint>

namespace quillbox::host::js {
namespace {

// Days between the OLE date epoch (30 December 1899) and the Unix epoch.
constexpr double kUnixEpochAsOleDate = 25569.0;
constexpr double kMillisecondsPerDay = 86400000.0;

// An OLE date counts days; before the epoch the whole part is negative but the time of day still
// counts forward, so -1.25 is 29 December 1899, 06:00.
double OleDateToMilliseconds(double date) {
  double days = date;
  if (date < 0) {
    const double whole = std::ceil(date);
    days = whole + (whole - date);
  }
  return (days - kUnixEpochAsOleDate) * kMillisecondsPerDay;
}

double MillisecondsToOleDate(double milliseconds) {
  const double days = milliseconds / kMillisecondsPerDay + kUnixEpochAsOleDate;
  if (days >= 0) return days;
  const double whole = std::ceil(days);
  return whole - (days - whole);
}

void PushDate(duk_context* ctx, double milliseconds) {
  duk_get_global_string(ctx, "Date");
  duk_push_number(ctx, milliseconds);
  duk_new(ctx, 1);
}

bool IsDate(duk_context* ctx, duk_idx_t index) {
  duk_get_global_string(ctx, "Date");
  const bool date = duk_instanceof(ctx, index, -1) != 0;
  duk_pop(ctx);
  return date;
}

void PushString(duk_context* ctx, std::u16string_view text) {
  const std::string bytes = Utf16ToDuk(text);
  duk_push_lstring(ctx, bytes.data(), bytes.size());
}

}  // namespace

void PushVariant(duk_context* ctx, const VARIANT& value) {
  if ((value.vt & VT_BYREF) != 0) {
    Variant direct;
    ThrowIfFailed(VariantCopyInd(direct.get(), &value), "reading a by-reference value");
    PushVariant(ctx, *direct.get());
    return;
  }
  if ((value.vt & (VT_ARRAY | VT_VECTOR)) != 0) {
    ThrowIfFailed(DISP_E_BADVARTYPE, "arrays cannot be handed to a script");
  }
  switch (value.vt) {
    case VT_EMPTY: duk_push_undefined(ctx); return;
    case VT_NULL: duk_push_null(ctx); return;
    case VT_I1: duk_push_int(ctx, static_cast<signed char>(value.cVal)); return;
    case VT_UI1: duk_push_uint(ctx, value.bVal); return;
    case VT_I2: duk_push_int(ctx, value.iVal); return;
    case VT_UI2: duk_push_uint(ctx, value.uiVal); return;
    case VT_I4: duk_push_int(ctx, value.lVal); return;
    case VT_INT: duk_push_int(ctx, value.intVal); return;
    case VT_UI4: duk_push_uint(ctx, value.ulVal); return;
    case VT_UINT: duk_push_uint(ctx, value.uintVal); return;
    case VT_I8: duk_push_number(ctx, static_cast<double>(value.llVal)); return;
    case VT_UI8: duk_push_number(ctx, static_cast<double>(value.ullVal)); return;
    case VT_R4: duk_push_number(ctx, value.fltVal); return;
    case VT_R8: duk_push_number(ctx, value.dblVal); return;
    case VT_CY: duk_push_number(ctx, static_cast<double>(value.cyVal.int64) / 10000.0); return;
    case VT_DATE: PushDate(ctx, OleDateToMilliseconds(value.date)); return;
    case VT_BSTR: PushString(ctx, BstrView(value.bstrVal)); return;
    case VT_BOOL: duk_push_boolean(ctx, value.boolVal != VARIANT_FALSE); return;
    case VT_ERROR: duk_push_int(ctx, value.scode); return;
    case VT_DISPATCH: PushDispatch(ctx, value.pdispVal); return;
    case VT_UNKNOWN: {
      if (value.punkVal == nullptr) {
        duk_push_null(ctx);
        return;
      }
      ComPtr<IDispatch> object;
      ThrowIfFailed(value.punkVal->QueryInterface(IID_IDispatch, object.OutVoid()), "an object without IDispatch");
      PushDispatch(ctx, object.get());
      return;
    }
    case VT_DECIMAL: {
      Variant number;
      ThrowIfFailed(VariantChangeType(number.get(), &value, 0, VT_R8), "converting a decimal");
      duk_push_number(ctx, number->dblVal);
      return;
    }
    default:
      ThrowIfFailed(DISP_E_BADVARTYPE, "a value of type " + std::to_string(value.vt) + " cannot be handed to a script");
  }
}

Variant ToVariant(duk_context* ctx, duk_idx_t index) {
  index = duk_normalize_index(ctx, index);
  Variant result;
  VARIANT& value = *result.get();
  switch (duk_get_type(ctx, index)) {
    case DUK_TYPE_UNDEFINED:
    case DUK_TYPE_NONE:
      break;
    case DUK_TYPE_NULL:
      value.vt = VT_NULL;
      break;
    case DUK_TYPE_BOOLEAN:
      value.vt = VT_BOOL;
      value.boolVal = duk_get_boolean(ctx, index) ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case DUK_TYPE_NUMBER: {
      const double number = duk_get_number(ctx, index);
      const bool integral = std::isfinite(number) && std::trunc(number) == number && !(number == 0 && std::signbit(number));
      if (integral && number >= INT32_MIN && number <= INT32_MAX) {
        value.vt = VT_I4;
        value.lVal = static_cast<LONG>(number);
      } else {
        value.vt = VT_R8;
        value.dblVal = number;
      }
      break;
    }
    case DUK_TYPE_STRING: {
      duk_size_t length = 0;
      const char* bytes = duk_get_lstring(ctx, index, &length);
      auto text = UniqueBstr::Copy(DukToUtf16(std::string_view(bytes, length)));
      value.vt = VT_BSTR;
      value.bstrVal = text.release();
      break;
    }
    case DUK_TYPE_OBJECT: {
      if (IDispatch* object = DispatchOf(ctx, index); object != nullptr) {
        object->AddRef();
        value.vt = VT_DISPATCH;
        value.pdispVal = object;
      } else if (IsDate(ctx, index)) {
        duk_get_prop_string(ctx, index, "getTime");
        duk_dup(ctx, index);
        duk_call_method(ctx, 0);
        const double milliseconds = duk_get_number(ctx, -1);
        duk_pop(ctx);
        value.vt = VT_DATE;
        value.date = MillisecondsToOleDate(milliseconds);
      } else {
        ThrowIfFailed(DISP_E_TYPEMISMATCH, "a JavaScript object cannot be handed to a COM object");
      }
      break;
    }
    default:
      ThrowIfFailed(DISP_E_TYPEMISMATCH, "this value cannot be handed to a COM object");
  }
  return result;
}

}  // namespace quillbox::host::js
