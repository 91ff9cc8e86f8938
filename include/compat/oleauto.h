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

#include "compat/unknwn.h"
#include "compat/winbase.h"
#include "compat/wstr.h"

#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02

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

COMPAT_API void WINAPI VariantInit(VARIANTARG* pvarg);

// Frees what the variant owns (its BSTR, its interface reference) and empties it.
COMPAT_API HRESULT WINAPI VariantClear(VARIANTARG* pvarg);

// A deep copy: a new BSTR, an added interface reference.
COMPAT_API HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);

// Converts by the automation rules for the types the component's interfaces use:
// every integer width, VT_R4/VT_R8, VT_BOOL, VT_BSTR, VT_UNKNOWN, VT_DISPATCH and
// VT_EMPTY, from a value or by reference. Numbers out of the target's range give
// DISP_E_OVERFLOW, anything else that cannot be converted DISP_E_TYPEMISMATCH.
// Reals round to the nearest integer, halves to even. Text is read and written in
// the invariant form ("12", "-3.5", "1e3"; "True"/"False" for booleans).
COMPAT_API HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                                            VARTYPE vt);

}  // extern "C"

#endif  // _WIN32
