// OLE Automation strings and booleans.
//
// A BSTR is a char16_t* to the first unit of a UTF-16 text; the 32-bit length in bytes sits just
// before it, and a zero unit follows the text. A null BSTR is distinct from an empty one.
#pragma once

#include "windef.h"
#include "winerror.h"

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;
using LPBSTR = BSTR*;
using VARIANT_BOOL = std::int16_t;

#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

#define OLESTR(s) u##s

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
