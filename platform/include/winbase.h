// kernel32: modules, resources, interlocked operations, critical sections, last error.
#pragma once

#include "windef.h"

extern "C" {

QB_PLATFORM_API DWORD WINAPI GetLastError();
QB_PLATFORM_API void WINAPI SetLastError(DWORD error);

// Library loading by Windows name. "cryptdlg.dll" becomes the shared object "cryptdlg.so"; the
// search order and the names that resolve to the platform library itself are documented in
// docs/platform.md. A missing file or export gives null, as on Windows.
QB_PLATFORM_API HMODULE WINAPI LoadLibraryA(LPCSTR name);
// With LOAD_LIBRARY_AS_DATAFILE the file is only read, never run: the handle serves resource
// lookups (FindResource*, LoadResource) and FreeLibrary, and nothing else.
QB_PLATFORM_API HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags);
QB_PLATFORM_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
QB_PLATFORM_API BOOL WINAPI FreeLibrary(HMODULE module);
QB_PLATFORM_API HMODULE WINAPI GetModuleHandleA(LPCSTR name);
QB_PLATFORM_API DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
QB_PLATFORM_API DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size);
QB_PLATFORM_API BOOL WINAPI DisableThreadLibraryCalls(HMODULE module);

// Resources carried by a module (see docs/platform.md for how a shared object carries them).
QB_PLATFORM_API HRSRC WINAPI FindResourceExA(HMODULE module, LPCSTR type, LPCSTR name, WORD language);
QB_PLATFORM_API HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
QB_PLATFORM_API HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
QB_PLATFORM_API LPVOID WINAPI LockResource(HGLOBAL data);
QB_PLATFORM_API DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);

QB_PLATFORM_API LONG WINAPI InterlockedIncrement(LONG volatile* value);
QB_PLATFORM_API LONG WINAPI InterlockedDecrement(LONG volatile* value);
QB_PLATFORM_API LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value);
QB_PLATFORM_API LONG WINAPI InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);

// Layout-compatible in size with the 64-bit Windows structure (40 bytes); the body is private.
struct CRITICAL_SECTION {
  void* DebugInfo;
  LONG LockCount;
  LONG RecursionCount;
  HANDLE OwningThread;
  HANDLE LockSemaphore;
  ULONG_PTR SpinCount;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

QB_PLATFORM_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
QB_PLATFORM_API BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spin);
QB_PLATFORM_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
QB_PLATFORM_API BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
QB_PLATFORM_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
QB_PLATFORM_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);

QB_PLATFORM_API DWORD WINAPI GetCurrentThreadId();

}  // extern "C"

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define DONT_RESOLVE_DLL_REFERENCES 0x00000001
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x00000020
#define LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE 0x00000040

#define RT_CURSOR MAKEINTRESOURCEA(1)
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_ICON MAKEINTRESOURCEA(3)
#define RT_MENU MAKEINTRESOURCEA(4)
#define RT_DIALOG MAKEINTRESOURCEA(5)
#define RT_STRING MAKEINTRESOURCEA(6)
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define RT_VERSION MAKEINTRESOURCEA(16)

#define LoadLibrary LoadLibraryA
#define LoadLibraryEx LoadLibraryExA
#define GetModuleFileName GetModuleFileNameA
#define FindResource FindResourceA
