// Code pages: the ANSI code page (CP_ACP) and UTF-8 (CP_UTF8).
//
// The ANSI code page on Linux is the code set named by the user's locale (LC_ALL, then LC_CTYPE,
// then LANG); UTF-8 where none names one or the locale is C/POSIX. The choice is made once per
// process, at first use, as Windows fixes its ANSI code page at process start.
#pragma once

#include "windef.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

extern "C" {

QB_PLATFORM_API int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes,
                                               LPWSTR dest, int destChars);
QB_PLATFORM_API int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceChars,
                                               LPSTR dest, int destBytes, LPCSTR defaultChar,
                                               LPBOOL usedDefaultChar);
QB_PLATFORM_API UINT WINAPI GetACP();
QB_PLATFORM_API LPSTR WINAPI CharUpperA(LPSTR text);
QB_PLATFORM_API DWORD WINAPI CharUpperBuffA(LPSTR text, DWORD length);

}  // extern "C"
