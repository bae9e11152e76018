// Late-bound calls: the arguments of a dispatch call are checked against the function's
// description, converted to its parameter types, and the function is called through its vtable
// slot with libffi, since the parameter list is known only at run time.
#include "typelib_objects.h"

#include "common/boundary.h"

#include <ffi.h>

#include <vector>

namespace qb::platform::typelib {
namespace {

// The libffi type of a parameter passed by value; null for one that cannot be.
ffi_type* FfiTypeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I1: return &ffi_type_sint8;
    case VT_UI1: return &ffi_type_uint8;
    case VT_I2: case VT_BOOL: return &ffi_type_sint16;
    case VT_UI2: return &ffi_type_uint16;
    case VT_I4: case VT_INT: case VT_ERROR: case VT_HRESULT: return &ffi_type_sint32;
    case VT_UI4: case VT_UINT: return &ffi_type_uint32;
    case VT_I8: case VT_CY: return &ffi_type_sint64;
    case VT_UI8: return &ffi_type_uint64;
    case VT_R4: return &ffi_type_float;
    case VT_R8: case VT_DATE: return &ffi_type_double;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: case VT_PTR: case VT_LPSTR: case VT_LPWSTR:
      return &ffi_type_pointer;
    default: return nullptr;  // VARIANT and DECIMAL by value, user-defined types
  }
}

// The variants this call creates, cleared whatever way the call ends.
class Temporaries {
 public:
  explicit Temporaries(std::size_t count) : values_(count) {
    for (VARIANT& v : values_) VariantInit(&v);
  }
  ~Temporaries() {
    for (VARIANT& v : values_) VariantClear(&v);
  }
  Temporaries(const Temporaries&) = delete;
  Temporaries& operator=(const Temporaries&) = delete;
  VARIANT& operator[](std::size_t i) { return values_[i]; }

 private:
  std::vector<VARIANT> values_;
};

// The storage a by-reference argument offers for a pointer parameter to `pointee`, or null when
// the argument does not fit it.
void* ReferenceFor(VARIANT& arg, VARTYPE pointee) {
  if (pointee == VT_VARIANT) {
    if (arg.vt == (VT_BYREF | VT_VARIANT)) return arg.pvarVal;
    return (arg.vt & VT_BYREF) ? nullptr : &arg;  // a plain variant is passed by its address
  }
  if (arg.vt == (VT_BYREF | pointee)) return arg.byref;
  if (arg.vt == (VT_BYREF | VT_VARIANT) && arg.pvarVal != nullptr && arg.pvarVal->vt == pointee)
    return &arg.pvarVal->llVal;  // the value inside a referenced variant
  return nullptr;
}

HRESULT CheckAndCall(const Function& function, void* instance, DISPPARAMS* params, VARIANT* result, UINT* argError) {
  if (function.funckind != FUNC_PUREVIRTUAL && function.funckind != FUNC_VIRTUAL) return DISP_E_MEMBERNOTFOUND;
  if (function.callconv != CC_STDCALL && function.callconv != CC_CDECL) return DISP_E_BADCALLEE;
  if (params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  if (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr) return E_INVALIDARG;
  if (params->cNamedArgs > params->cArgs) return DISP_E_BADPARAMCOUNT;

  // Named arguments: a property put names its value DISPID_PROPERTYPUT; nothing else is bound by
  // name.
  const bool put = function.invkind == INVOKE_PROPERTYPUT || function.invkind == INVOKE_PROPERTYPUTREF;
  if (put) {
    if (params->cNamedArgs == 0) return DISP_E_PARAMNOTFOUND;
    if (params->cNamedArgs > 1) return DISP_E_NONAMEDARGS;
    if (params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      if (argError != nullptr) *argError = 0;
      return DISP_E_PARAMNOTFOUND;
    }
  } else if (params->cNamedArgs > 0) {
    return DISP_E_NONAMEDARGS;
  }

  const std::size_t count = function.params.size();
  const bool hasRetval = count > 0 && (function.params.back().flags & PARAMFLAG_FRETVAL);
  const std::size_t inputs = hasRetval ? count - 1 : count;
  if (params->cArgs != inputs) return DISP_E_BADPARAMCOUNT;

  const TYPEDESC& returns = function.desc.elemdescFunc.tdesc;
  if (returns.vt != VT_HRESULT && returns.vt != VT_VOID) return DISP_E_BADVARTYPE;

  Temporaries temporaries(count);
  std::vector<void*> pointers(count, nullptr);  // the values of pointer parameters
  std::vector<void*> values(count + 1, nullptr);
  std::vector<ffi_type*> types(count + 1, nullptr);
  values[0] = &instance;
  types[0] = &ffi_type_pointer;

  for (std::size_t i = 0; i < inputs; ++i) {
    // Arguments come in reverse: the first parameter is the last argument.
    const UINT argIndex = static_cast<UINT>(params->cArgs - 1 - i);
    VARIANT& arg = params->rgvarg[argIndex];
    const TYPEDESC& type = function.elemdescs[i].tdesc;
    auto fail = [&](HRESULT hr) {
      if (argError != nullptr) *argError = argIndex;
      return hr;
    };
    if (type.vt == VT_PTR) {
      if ((arg.vt & VT_BYREF) && arg.byref == nullptr) return fail(E_INVALIDARG);
      pointers[i] = ReferenceFor(arg, type.lptdesc->vt);
      if (pointers[i] == nullptr) return fail(DISP_E_TYPEMISMATCH);
      values[i + 1] = &pointers[i];
      types[i + 1] = &ffi_type_pointer;
      continue;
    }
    ffi_type* ffi = FfiTypeOf(type.vt);
    if (ffi == nullptr) return fail(DISP_E_BADVARTYPE);
    if (type.vt == VT_BSTR && arg.vt == VT_BSTR && arg.bstrVal != nullptr) {
      // An [in] string stays the caller's for the length of the call and the callee only reads
      // it: it is passed as it is. A copy would cost as much again as the text, which for a
      // document of a gigabyte is gigabytes. (A null string still goes through the conversion,
      // which makes it the empty string as before.)
      values[i + 1] = &arg.bstrVal;
      types[i + 1] = ffi;
      continue;
    }
    if (HRESULT hr = VariantChangeType(&temporaries[i], &arg, 0, type.vt); FAILED(hr)) return fail(hr);
    values[i + 1] = &temporaries[i].llVal;  // every scalar member starts at the union's start
    types[i + 1] = ffi;
  }

  VARTYPE retvalType = VT_EMPTY;
  if (hasRetval) {
    const TYPEDESC& type = function.elemdescs[count - 1].tdesc;
    retvalType = type.lptdesc->vt;
    if (retvalType != VT_VARIANT && FfiTypeOf(retvalType) == nullptr) return DISP_E_BADVARTYPE;
    // The callee writes the value into the union; a VARIANT result is the whole variant.
    pointers[count - 1] = retvalType == VT_VARIANT ? static_cast<void*>(&temporaries[count - 1])
                                                   : static_cast<void*>(&temporaries[count - 1].llVal);
    values[count] = &pointers[count - 1];
    types[count] = &ffi_type_pointer;
  }

  ffi_cif cif;
  // Both of the conventions accepted above are called with libffi's default ABI: on x86-64 Linux
  // stdcall and cdecl are the one System V convention, FFI_UNIX64.
  static_assert(FFI_DEFAULT_ABI == FFI_UNIX64, "stdcall and cdecl methods are called as System V x86-64 functions");
  ffi_type* returnType = returns.vt == VT_HRESULT ? &ffi_type_sint32 : &ffi_type_void;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(count + 1), returnType, types.data()) != FFI_OK)
    return DISP_E_BADCALLEE;

  void** vtable = *static_cast<void***>(instance);
  void* slot = vtable[function.oVft / static_cast<SHORT>(sizeof(void*))];
  ffi_arg status = 0;
  ffi_call(&cif, reinterpret_cast<void (*)()>(slot), &status, values.data());
  const HRESULT hr = returns.vt == VT_HRESULT ? static_cast<HRESULT>(static_cast<std::int32_t>(status)) : S_OK;
  if (FAILED(hr)) {
    // A failing callee leaves its [out] value unset, by contract; nothing to hand on.
    if (hasRetval) VariantInit(&temporaries[count - 1]);
    return hr;
  }

  if (hasRetval) {
    VARIANT& value = temporaries[count - 1];
    if (retvalType != VT_VARIANT) value.vt = retvalType;
    if (result != nullptr) {
      *result = value;  // ownership passes to the caller
      VariantInit(&value);
    }
  }
  return hr;
}

}  // namespace

HRESULT InvokeFunction(const Library&, const Function& function, void* instance, WORD, DISPPARAMS* params,
                       VARIANT* result, UINT* argError) {
  // The argument conversions allocate; the call reaches the caller through an exported Invoke.
  return quillbox::HresultBoundary([&] { return CheckAndCall(function, instance, params, result, argError); });
}

}  // namespace qb::platform::typelib
