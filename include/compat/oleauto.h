// BSTR allocation for POSIX builds.
//
// A BSTR has the Windows memory layout: a 32-bit byte count stands directly before
// the first character, and the text is followed by a 16-bit terminator. The
// allocator lives in the shared compatibility library, so a host and the component
// can free each other's strings.
#pragma once

#include "compat/wintypes.h"

#ifdef _WIN32
#include <oleauto.h>
#else

#include "compat/winbase.h"
#include "compat/wstr.h"

extern "C" {

// Copies a terminated string; null gives null.
COMPAT_API BSTR WINAPI SysAllocString(const OLECHAR* psz);

// Allocates ui characters and copies them from strIn when it is not null (the text
// may hold embedded zeros); the new string is always terminated.
COMPAT_API BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);

// Null is allowed and does nothing.
COMPAT_API void WINAPI SysFreeString(BSTR bstrString);

// Length in characters from the stored byte count; 0 for null.
COMPAT_API UINT WINAPI SysStringLen(BSTR pbstr);

// Length in bytes from the stored byte count; 0 for null.
COMPAT_API UINT WINAPI SysStringByteLen(BSTR bstr);

}  // extern "C"

#endif  // _WIN32
