// The registry (advapi32). Keys live in a per-user SQLite database; see docs/platform.md for where
// it is and how HKEY_CLASSES_ROOT relates to the other roots.
#pragma once

#include "windef.h"
#include "winerror.h"

using LSTATUS = LONG;
using REGSAM = DWORD;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// The predefined roots, sign-extended from their 32-bit values as on 64-bit Windows.
#define QB_PREDEFINED_HKEY(v) (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(v)))))
#define HKEY_CLASSES_ROOT QB_PREDEFINED_HKEY(0x80000000)
#define HKEY_CURRENT_USER QB_PREDEFINED_HKEY(0x80000001)
#define HKEY_LOCAL_MACHINE QB_PREDEFINED_HKEY(0x80000002)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001

#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define DELETE 0x00010000
#define READ_CONTROL 0x00020000
#define KEY_READ 0x00020019
#define KEY_WRITE 0x00020006
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0x000F003F

extern "C" {

QB_PLATFORM_API LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                                               PHKEY result, LPDWORD disposition);
QB_PLATFORM_API LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                                               PHKEY result, LPDWORD disposition);
QB_PLATFORM_API LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
QB_PLATFORM_API LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
QB_PLATFORM_API LSTATUS WINAPI RegCloseKey(HKEY key);

QB_PLATFORM_API LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                              DWORD size);
QB_PLATFORM_API LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                              DWORD size);
QB_PLATFORM_API LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                                LPDWORD size);
QB_PLATFORM_API LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                                LPDWORD size);
QB_PLATFORM_API LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR name);

QB_PLATFORM_API LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD reserved,
                                             LPWSTR keyClass, LPDWORD classChars, PFILETIME lastWrite);
QB_PLATFORM_API LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars,
                                             LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
QB_PLATFORM_API LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classChars, LPDWORD reserved,
                                                LPDWORD subKeys, LPDWORD maxSubKeyChars, LPDWORD maxClassChars,
                                                LPDWORD values, LPDWORD maxValueNameChars, LPDWORD maxValueBytes,
                                                LPDWORD securityDescriptorBytes, PFILETIME lastWrite);

// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED otherwise, as on Windows).
QB_PLATFORM_API LSTATUS WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// Deletes a key with everything below it; a null subKey empties `key` but keeps it.
QB_PLATFORM_API LSTATUS WINAPI RegDeleteTreeW(HKEY key, LPCWSTR subKey);

}  // extern "C"

#define RegCreateKeyEx RegCreateKeyExA
#define RegOpenKeyEx RegOpenKeyExA
#define RegSetValueEx RegSetValueExA
#define RegQueryValueEx RegQueryValueExA
