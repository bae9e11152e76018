// The component runtime (ole32): GUIDs, task memory, activation.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "unknwn.h"
#include "oleauto.h"

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define COINIT_SPEED_OVER_MEMORY 0x8

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

struct COSERVERINFO {
  DWORD dwReserved1;
  LPWSTR pwszName;
  void* pAuthInfo;
  DWORD dwReserved2;
};

// The exports of an in-process server.
using LPFNGETCLASSOBJECT = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using LPFNCANUNLOADNOW = HRESULT(STDAPICALLTYPE*)();

extern "C" QB_PLATFORM_API const CLSID CLSID_NULL;

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

// Apartments: one per thread; see docs/platform.md for what the model changes on Linux.
QB_PLATFORM_API HRESULT WINAPI CoInitialize(LPVOID reserved);
QB_PLATFORM_API HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD flags);
QB_PLATFORM_API void WINAPI CoUninitialize();

// Activation of in-process servers registered under HKEY_CLASSES_ROOT\CLSID.
QB_PLATFORM_API HRESULT WINAPI CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
QB_PLATFORM_API HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);
QB_PLATFORM_API HRESULT WINAPI CoGetClassObject(REFCLSID clsid, DWORD context, COSERVERINFO* server, REFIID riid,
                                                LPVOID* object);
QB_PLATFORM_API HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid,
                                                LPVOID* object);
QB_PLATFORM_API void WINAPI CoFreeUnusedLibraries();

}  // extern "C"
