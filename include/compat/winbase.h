// The kernel subset for POSIX builds: last error, files and directories, local
// time, tick count, and the code-page conversions, under their Windows names.
//
// Paths are UTF-16 and are handed to the file system as UTF-8. The ANSI code page
// (CP_ACP, CP_THREAD_ACP) means UTF-8 here.
#pragma once

#include "compat/wintypes.h"

#ifndef _WIN32

#define COMPAT_API __attribute__((visibility("default")))

#define CP_ACP 0
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400  // every character maps to itself in UTF-8

// Atomic counters, as the Windows intrinsics.
inline LONG InterlockedIncrement(LONG volatile* pnAddend)
{
    return __atomic_add_fetch(pnAddend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* pnAddend)
{
    return __atomic_sub_fetch(pnAddend, 1, __ATOMIC_SEQ_CST);
}

extern "C" {

COMPAT_API DWORD WINAPI GetLastError(void);

// The narrow code page: always UTF-8 here.
COMPAT_API UINT WINAPI GetACP(void);
COMPAT_API void WINAPI SetLastError(DWORD dwErrCode);

// Creates one directory level. Fails with ERROR_ALREADY_EXISTS when the path exists
// and ERROR_PATH_NOT_FOUND when its parent does not.
COMPAT_API BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);

// Copies a file, replacing the target unless bFailIfExists is set. The copy is
// flushed to disk before the call returns, so a caller may delete the source.
COMPAT_API BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists);

COMPAT_API BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);

COMPAT_API void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);

// Milliseconds since an arbitrary start, wrapping after 49.7 days.
COMPAT_API DWORD WINAPI GetTickCount(void);

COMPAT_API int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar);

COMPAT_API int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                          LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                          LPBOOL lpUsedDefaultChar);

}  // extern "C"

#endif  // _WIN32
