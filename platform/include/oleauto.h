// OLE Automation strings and booleans.
//
// A BSTR is a char16_t* to the first unit of a UTF-16 text; the 32-bit length in bytes sits just
// before it, and a zero unit follows the text. A null BSTR is distinct from an empty one.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "wtypes.h"
#include "oaidl.h"

extern "C" {

QB_PLATFORM_API BSTR WINAPI SysAllocString(const OLECHAR* text);
// With a null source, allocates `length` units whose contents are unspecified (zero-terminated).
QB_PLATFORM_API BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length);
QB_PLATFORM_API BSTR WINAPI SysAllocStringByteLen(LPCSTR bytes, UINT length);
QB_PLATFORM_API INT WINAPI SysReAllocString(BSTR* target, const OLECHAR* text);
QB_PLATFORM_API INT WINAPI SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
QB_PLATFORM_API UINT WINAPI SysStringLen(BSTR text);
QB_PLATFORM_API UINT WINAPI SysStringByteLen(BSTR text);
QB_PLATFORM_API void WINAPI SysFreeString(BSTR text);

}  // extern "C"

// --- Variants --------------------------------------------------------------------------------

// Flags of VariantChangeType.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_NEUTRAL 0x0000

extern "C" {

QB_PLATFORM_API void WINAPI VariantInit(VARIANTARG* variant);
QB_PLATFORM_API HRESULT WINAPI VariantClear(VARIANTARG* variant);
QB_PLATFORM_API HRESULT WINAPI VariantCopy(VARIANTARG* dest, const VARIANTARG* source);
QB_PLATFORM_API HRESULT WINAPI VariantCopyInd(VARIANT* dest, const VARIANTARG* source);
// The coercions of OLE Automation between the scalar types and strings; see docs/typelib.md.
QB_PLATFORM_API HRESULT WINAPI VariantChangeType(VARIANTARG* dest, const VARIANTARG* source, USHORT flags,
                                                 VARTYPE type);
QB_PLATFORM_API HRESULT WINAPI VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* source, LCID lcid,
                                                   USHORT flags, VARTYPE type);

}  // extern "C"

// --- Type libraries --------------------------------------------------------------------------

enum REGKIND { REGKIND_DEFAULT = 0, REGKIND_REGISTER = 1, REGKIND_NONE = 2 };

#define STDOLE2_MAJORVERNUM 0x2
#define STDOLE2_MINORVERNUM 0x0
#define STDOLE2_LCID 0x0000

extern "C" {

// Loads a type library from a .tlb file, or from the TYPELIB resource 1 of a module file. A file
// that is not a well-formed type library is refused with a TYPE_E_* code.
QB_PLATFORM_API HRESULT WINAPI LoadTypeLib(LPCOLESTR file, ITypeLib** typeLib);
QB_PLATFORM_API HRESULT WINAPI LoadTypeLibEx(LPCOLESTR file, REGKIND kind, ITypeLib** typeLib);

// Registration of type libraries lives with the registry.
QB_PLATFORM_API HRESULT WINAPI LoadRegTypeLib(REFGUID libId, WORD major, WORD minor, LCID lcid, ITypeLib** typeLib);
QB_PLATFORM_API HRESULT WINAPI RegisterTypeLib(ITypeLib* typeLib, LPCOLESTR fullPath, LPCOLESTR helpDir);
QB_PLATFORM_API HRESULT WINAPI UnRegisterTypeLib(REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
QB_PLATFORM_API HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID libId, USHORT major, USHORT minor, LCID lcid, BSTR* path);

// IDispatch served from type information, for objects whose dispatch layer is their type library.
QB_PLATFORM_API HRESULT WINAPI DispGetIDsOfNames(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* ids);
QB_PLATFORM_API HRESULT WINAPI DispInvoke(void* instance, ITypeInfo* typeInfo, DISPID member, WORD flags,
                                          DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                          UINT* argError);

}  // extern "C"
