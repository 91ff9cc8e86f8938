// The registry subset for POSIX builds, under the Windows names.
//
// The registry is one text file in the .reg layout, named by the environment
// variable CALSTORE_REGISTRY (default: $XDG_CONFIG_HOME/Brellin/registry.reg, or
// ~/.config/Brellin/registry.reg). Every call reads it, and every change rewrites
// it whole through a temporary file, so that other processes see the change and a
// crash never leaves a half-written registry. Key and value names compare without
// regard to ASCII letter case.
#pragma once

#include "compat/wintypes.h"

#ifdef _WIN32
#include <windows.h>
#else

#include "compat/winbase.h"

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define ERROR_INVALID_HANDLE 6L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_BADDB 1009L
#define ERROR_CANTWRITE 1013L

extern "C" {

COMPAT_API LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                                       REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                       PHKEY phkResult, LPDWORD lpdwDisposition);
COMPAT_API LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
COMPAT_API LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                                      DWORD cbData);
COMPAT_API LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                        BYTE* lpData, LPDWORD lpcbData);
// Deletes the subkey's values and subkeys; with a null subkey, those of hKey itself.
COMPAT_API LONG WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);
// Deletes a subkey that has no subkeys of its own.
COMPAT_API LONG WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
COMPAT_API LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                                     LPWSTR lpClass, LPDWORD lpcchClass, void* lpftLastWriteTime);
COMPAT_API LONG WINAPI RegCloseKey(HKEY hKey);

}  // extern "C"

#endif  // _WIN32
