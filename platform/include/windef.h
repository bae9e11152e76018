// Base types with their Windows widths. LONG and ULONG are 32-bit as on Windows (LLP64), although
// Linux's long is 64-bit; structures built from them keep the Windows field layout.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(QUILLBOX_BUILDING_PLATFORM)
#define QB_PLATFORM_API __attribute__((visibility("default")))
#else
#define QB_PLATFORM_API
#endif

// Win32 calling conventions collapse to the one System V convention on x86-64 Linux.
#if defined(__x86_64__) && defined(__linux__)
inline constexpr bool kQbSystemVx8664 = true;
#else
inline constexpr bool kQbSystemVx8664 = false;
#endif
static_assert(kQbSystemVx8664,
              "WINAPI and STDMETHODCALLTYPE are empty: only on x86-64 Linux is every Win32 convention the one "
              "System V calling convention");
#define WINAPI
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define CALLBACK
#define __stdcall
#define __cdecl

#define EXTERN_C extern "C"
#define STDAPI EXTERN_C HRESULT STDAPICALLTYPE
#define STDAPI_(type) EXTERN_C type STDAPICALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

using BOOL = std::int32_t;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using ULONG_PTR = std::uintptr_t;
using PULONG_PTR = ULONG_PTR*;
using LONG_PTR = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
// The structures here have the layout of 64-bit Windows (LLP64): 8-byte pointers, 4-byte longs.
static_assert(sizeof(void*) == 8, "the Windows structures are laid out for 64-bit pointers");
using SIZE_T = std::size_t;
using LPARAM = LONG_PTR;
using WPARAM = UINT_PTR;
using LRESULT = LONG_PTR;
using HRESULT = std::int32_t;
using LCID = DWORD;
using LANGID = WORD;
using CHAR = char;
using UCHAR = unsigned char;
using WCHAR = char16_t;
static_assert(sizeof(WCHAR) == 2, "WCHAR is a UTF-16 unit, as on Windows");
using VOID = void;
using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPBOOL = BOOL*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using PCHAR = char*;
using PSTR = char*;
using PCSTR = const char*;
using PWSTR = WCHAR*;
using PCWSTR = const WCHAR*;
using LONG32 = std::int32_t;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

struct QbHandle;  // opaque; every handle kind shares one incomplete type, as STRICT-less Windows does
using HANDLE = void*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HWND__;
using HWND = HWND__*;
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = void*;
// The return type is void so that casts to the real entry point type draw no GCC warning.
using FARPROC = void (*)();

#define MAKELANGID(p, s) ((WORD(s) << 10) | WORD(p))
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;
using LPFILETIME = FILETIME*;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16, "GUID is the 16 bytes of its Windows and registry forms");
using IID = GUID;
using CLSID = GUID;
using LPGUID = GUID*;
using LPIID = IID*;
using LPCLSID = CLSID*;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         __builtin_memcmp(a.Data4, b.Data4, 8) == 0;
}
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
