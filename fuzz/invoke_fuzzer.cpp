// IDispatch::Invoke on the Signature object with fuzzed calls: member, flags, argument counts,
// argument types and values, by-reference arguments and named arguments, as any script engine
// (or a hostile page) may send them. Arguments are always well-formed VARIANTs: a caller that
// hands over a dangling pointer is outside any contract. Every call answers with an HRESULT,
// leaks nothing and leaves the module's lock count as it found it.
#include "component/signature.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_environment.h"
#include "server/server_module.h"

#include <oaidl.h>
#include <oleauto.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace quillbox;
using quillbox::fuzz::Expect;

constexpr int kMaxArguments = 4;

// What a by-reference argument points at; it outlives the call.
struct ArgumentStorage {
  SHORT i2 = 0;
  LONG i4 = 0;
  double r8 = 0;
  BYTE ui1 = 0;
  VARIANT_BOOL boolean = VARIANT_FALSE;
  BSTR text = nullptr;
  VARIANT inner{};
};

constexpr std::array<VARTYPE, 21> kValueTypes = {
    VT_EMPTY, VT_NULL, VT_I2,    VT_I4,  VT_R4,  VT_R8,   VT_CY,  VT_DATE, VT_BSTR,  VT_DISPATCH, VT_ERROR,
    VT_BOOL,  VT_UNKNOWN, VT_I1, VT_UI1, VT_UI2, VT_UI4,  VT_I8,  VT_UI8,  VT_INT,   VT_UINT};

BSTR ConsumeString(FuzzedDataProvider& data, std::size_t maxBytes) {
  const bool isNull = data.ConsumeIntegralInRange(0, 3) == 0;
  return fuzz::ConsumeScriptString(data, maxBytes, isNull, data.ConsumeBool());
}

// A value-typed VARIANT with fuzzed contents; an object reference is the Signature itself or null.
void FillValue(FuzzedDataProvider& data, VARIANT& v, VARTYPE type, IDispatch* self) {
  VariantInit(&v);
  v.vt = type;
  switch (type) {
    case VT_I2: v.iVal = data.ConsumeIntegral<SHORT>(); break;
    case VT_I4: case VT_ERROR: v.lVal = data.ConsumeIntegral<LONG>(); break;
    case VT_R4: v.fltVal = data.ConsumeFloatingPoint<float>(); break;
    case VT_R8: case VT_DATE: v.dblVal = data.ConsumeFloatingPoint<double>(); break;
    case VT_CY: v.cyVal.int64 = data.ConsumeIntegral<LONGLONG>(); break;
    case VT_BSTR: v.bstrVal = ConsumeString(data, 64); break;
    case VT_DISPATCH:
      v.pdispVal = data.ConsumeBool() ? self : nullptr;
      if (v.pdispVal != nullptr) v.pdispVal->AddRef();
      break;
    case VT_UNKNOWN:
      v.punkVal = data.ConsumeBool() ? static_cast<IUnknown*>(self) : nullptr;
      if (v.punkVal != nullptr) v.punkVal->AddRef();
      break;
    case VT_BOOL: v.boolVal = data.ConsumeBool() ? VARIANT_TRUE : data.ConsumeIntegral<SHORT>(); break;
    case VT_I1: v.cVal = data.ConsumeIntegral<CHAR>(); break;
    case VT_UI1: v.bVal = data.ConsumeIntegral<BYTE>(); break;
    case VT_UI2: v.uiVal = data.ConsumeIntegral<USHORT>(); break;
    case VT_UI4: v.ulVal = data.ConsumeIntegral<ULONG>(); break;
    case VT_I8: v.llVal = data.ConsumeIntegral<LONGLONG>(); break;
    case VT_UI8: v.ullVal = data.ConsumeIntegral<ULONGLONG>(); break;
    case VT_INT: v.intVal = data.ConsumeIntegral<INT>(); break;
    case VT_UINT: v.uintVal = data.ConsumeIntegral<UINT>(); break;
    default: break;
  }
}

void FillArgument(FuzzedDataProvider& data, VARIANT& v, ArgumentStorage& storage, IDispatch* self) {
  VariantInit(&v);
  switch (data.ConsumeIntegralInRange(0, 7)) {
    case 0: v.vt = VT_BYREF | VT_I2; storage.i2 = data.ConsumeIntegral<SHORT>(); v.piVal = &storage.i2; break;
    case 1: v.vt = VT_BYREF | VT_I4; storage.i4 = data.ConsumeIntegral<LONG>(); v.plVal = &storage.i4; break;
    case 2: v.vt = VT_BYREF | VT_R8; storage.r8 = data.ConsumeFloatingPoint<double>(); v.pdblVal = &storage.r8; break;
    case 3: v.vt = VT_BYREF | VT_UI1; storage.ui1 = data.ConsumeIntegral<BYTE>(); v.pbVal = &storage.ui1; break;
    case 4:
      v.vt = VT_BYREF | VT_BOOL;
      storage.boolean = data.ConsumeBool() ? VARIANT_TRUE : VARIANT_FALSE;
      v.pboolVal = &storage.boolean;
      break;
    case 5: v.vt = VT_BYREF | VT_BSTR; storage.text = ConsumeString(data, 64); v.pbstrVal = &storage.text; break;
    case 6:
      FillValue(data, storage.inner, kValueTypes[data.ConsumeIntegralInRange<std::size_t>(0, kValueTypes.size() - 1)], self);
      v.vt = VT_BYREF | VT_VARIANT;
      v.pvarVal = &storage.inner;
      break;
    default: FillValue(data, v, kValueTypes[data.ConsumeIntegralInRange<std::size_t>(0, kValueTypes.size() - 1)], self);
  }
}

void ReleaseArgument(VARIANT& v, ArgumentStorage& storage) {
  if ((v.vt & VT_BYREF) == 0) Expect(VariantClear(&v) == S_OK, "an argument could not be cleared");
  SysFreeString(storage.text);
  VariantClear(&storage.inner);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::UsePrivateRegistry();
  unsetenv("QUILLBOX_DLL_PATH");  // no picker and no browser library: those calls fail at once
  fuzz::UseMissingStore();         // Sign fails at the store, without signing

  AttachModule(nullptr);  // what the library entry point does when the module is loaded
  const std::u16string path(std::filesystem::path(QUILLBOX_TYPELIB_FILE).u16string());
  ITypeLib* library = nullptr;
  Expect(LoadTypeLib(path.c_str(), &library) == S_OK, "cannot load the type library");
  Expect(RegisterTypeLib(library, path.c_str(), nullptr) == S_OK, "cannot register the type library");
  library->Release();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  auto* object = new Signature();
  object->AddRef();
  IDispatch* self = object;

  // Properties set beforehand, so that gets have values to return.
  const int setup = data.ConsumeIntegralInRange(0, 2);
  for (int i = 0; i < setup; ++i) {
    fuzz::Text value(ConsumeString(data, 32));
    object->put_UserName(value.get());
  }

  const DISPID member = data.ConsumeBool() ? data.ConsumeIntegralInRange<DISPID>(-8, 40) : data.ConsumeIntegral<DISPID>();
  const WORD flags = data.ConsumeBool() ? static_cast<WORD>(1u << data.ConsumeIntegralInRange(0, 3)) : data.ConsumeIntegral<WORD>();
  const UINT count = data.ConsumeIntegralInRange<UINT>(0, kMaxArguments);
  const UINT named = data.ConsumeIntegralInRange<UINT>(0, count);
  std::array<VARIANT, kMaxArguments> arguments{};
  std::array<ArgumentStorage, kMaxArguments> storage{};
  std::array<DISPID, kMaxArguments> namedIds{};
  for (UINT i = 0; i < count; ++i) FillArgument(data, arguments[i], storage[i], self);
  for (UINT i = 0; i < named; ++i)
    namedIds[i] = data.ConsumeBool() ? DISPID_PROPERTYPUT : data.ConsumeIntegralInRange<DISPID>(-4, 4);
  const bool nullParams = data.ConsumeIntegralInRange(0, 15) == 0;
  DISPPARAMS params{arguments.data(), named > 0 ? namedIds.data() : nullptr, count, named};
  const bool wantResult = data.ConsumeBool();
  const bool wantException = data.ConsumeBool();
  const bool wantArgError = data.ConsumeBool();
  const IID& riid = data.ConsumeIntegralInRange(0, 31) == 0 ? IID_IUnknown : IID_NULL;
  const LCID lcid = data.ConsumeBool() ? 0 : data.ConsumeIntegral<LCID>();

  VARIANT result;
  VariantInit(&result);
  EXCEPINFO exception{};
  UINT argError = 0xFFFFFFFFu;
  const HRESULT hr = self->Invoke(member, riid, lcid, flags, nullParams ? nullptr : &params,
                                  wantResult ? &result : nullptr, wantException ? &exception : nullptr,
                                  wantArgError ? &argError : nullptr);
  if (fuzz::Verbose()) {
    std::fprintf(stderr, "Invoke(member %d, flags %#x, %u arguments, %u named, params %s) = %#x, argument error %u\n",
                 static_cast<int>(member), flags, count, named, nullParams ? "null" : "given", static_cast<unsigned>(hr), argError);
    for (UINT i = 0; i < count; ++i) std::fprintf(stderr, "  argument %u: vt %#x\n", i, arguments[i].vt);
    for (UINT i = 0; i < named; ++i) std::fprintf(stderr, "  name %u: %d\n", i, static_cast<int>(namedIds[i]));
  }
  // Not every failure names an argument (a put without its DISPID_PROPERTYPUT name has none to
  // name), but an index that is given must point into rgvarg.
  if (wantArgError && argError != 0xFFFFFFFFu) {
    Expect(FAILED(hr), "a call that succeeded named a failing argument");
    Expect(argError < count, "the failing argument's index is out of range");
  }
  Expect(VariantClear(&result) == S_OK, "the result could not be cleared");
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  for (UINT i = 0; i < count; ++i) ReleaseArgument(arguments[i], storage[i]);

  Expect(object->Release() == 0, "the object is still referenced after the call");
  Expect(ServerModule.lockCount == 0, "the module is still locked after the object is gone");
  return 0;
}
