// kernel32: modules, resources, interlocked operations, critical sections, threads, last error.
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

// Threads. A thread handle is waited for once (WaitForSingleObject, INFINITE or 0) and closed
// once; closing the handle of a thread still running lets it run on to its end.
using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID parameter);
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
QB_PLATFORM_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                           LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                           LPDWORD threadId);
QB_PLATFORM_API DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
QB_PLATFORM_API BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
QB_PLATFORM_API BOOL WINAPI CloseHandle(HANDLE handle);
// The pseudo handle that stands for the calling thread wherever a thread handle is taken; it is
// never closed.
QB_PLATFORM_API HANDLE WINAPI GetCurrentThread();
// The calling thread's stack, lowest and one past the highest address.
QB_PLATFORM_API void WINAPI GetCurrentThreadStackLimits(PULONG_PTR lowLimit, PULONG_PTR highLimit);
// Only the calling thread's times are known: creation and exit times are zero, kernel and user
// time are the CPU time the thread has used, in 100-nanosecond units.
QB_PLATFORM_API BOOL WINAPI GetThreadTimes(HANDLE thread, LPFILETIME creationTime, LPFILETIME exitTime,
                                           LPFILETIME kernelTime, LPFILETIME userTime);
// Milliseconds since an arbitrary start, from the system's coarse monotonic clock: cheap enough to
// read often, and never going back.
QB_PLATFORM_API ULONGLONG WINAPI GetTickCount64();

}  // extern "C"

#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 0x00000103u

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
