// The component runtime (ole32): GUIDs, task memory, activation.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "unknwn.h"
#include "oleauto.h"

extern "C" {

QB_PLATFORM_API HRESULT WINAPI CoCreateGuid(GUID* guid);
QB_PLATFORM_API HRESULT WINAPI StringFromIID(REFIID iid, LPOLESTR* text);
QB_PLATFORM_API HRESULT WINAPI StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
QB_PLATFORM_API int WINAPI StringFromGUID2(REFGUID guid, LPOLESTR text, int size);
QB_PLATFORM_API HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
QB_PLATFORM_API HRESULT WINAPI IIDFromString(LPCOLESTR text, LPIID iid);
QB_PLATFORM_API LPVOID WINAPI CoTaskMemAlloc(SIZE_T size);
QB_PLATFORM_API LPVOID WINAPI CoTaskMemRealloc(LPVOID block, SIZE_T size);
QB_PLATFORM_API void WINAPI CoTaskMemFree(LPVOID block);

}  // extern "C"
