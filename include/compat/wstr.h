// UTF-16 text helpers shared by every room of the component, on both platforms.
//
// The code base keeps all text in one 16-bit character type (WCHAR) and never uses
// the C library's wide-string functions, whose wchar_t is 32 bits off Windows.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "compat/wintypes.h"

#ifdef _WIN32
#define WSTR_API
#define WTEXT(s) L##s
#else
#define WSTR_API __attribute__((visibility("default")))
#define WTEXT(s) u##s
#endif

typedef std::basic_string<WCHAR> WString;

#ifdef _WIN32
constexpr WCHAR g_chPathSeparator = L'\\';
#else
constexpr WCHAR g_chPathSeparator = u'/';
#endif

// The halves of a UTF-16 surrogate pair. A pair is a high half followed by a low
// one; any other surrogate is unpaired.
constexpr bool IsHighSurrogate(WCHAR ch)
{
    return ch >= 0xD800 && ch <= 0xDBFF;
}
constexpr bool IsLowSurrogate(WCHAR ch)
{
    return ch >= 0xDC00 && ch <= 0xDFFF;
}
constexpr bool IsSurrogate(WCHAR ch)
{
    return ch >= 0xD800 && ch <= 0xDFFF;
}
// Whether a pair starts at psz[i], both halves within the first cch units.
inline bool IsSurrogatePairAt(const WCHAR* psz, size_t i, size_t cch)
{
    return IsHighSurrogate(psz[i]) && i + 1 < cch && IsLowSurrogate(psz[i + 1]);
}

// Number of code units before the terminator; 0 for null.
WSTR_API size_t WStrLen(const WCHAR* psz);

// Copies at most cchDest - 1 code units of pszSrc (null counts as empty) and always
// terminates the destination when cchDest > 0. A surrogate pair that does not fit
// is left out whole. Returns the number of code units copied.
WSTR_API size_t WStrCopyN(WCHAR* pszDest, size_t cchDest, const WCHAR* pszSrc);

// Cuts a text to at most cchMax code units, never between the halves of a
// surrogate pair. Returns the length that keeps the text whole.
WSTR_API size_t WStrBoundedLength(const WCHAR* psz, size_t cchLength, size_t cchMax);

// Compares code unit by code unit; null compares as the empty text.
WSTR_API int WStrCmp(const WCHAR* pszA, const WCHAR* pszB);

// printf-style formatting into a bounded buffer. Conversions: %d (int), %u and %x/%X
// (unsigned int), %p (void*, all hex digits in capitals), %s (const WCHAR*, null
// prints "(null)") and %%, each with an
// optional '-' or '0' flag and a decimal width. Never writes more than cchBuffer
// units and always terminates when cchBuffer > 0. Returns the length the complete
// text needs, without the terminator, as snprintf does.
WSTR_API int WStrFormatV(WCHAR* pszBuffer, size_t cchBuffer, const WCHAR* pszFormat, va_list args);
WSTR_API int WStrFormat(WCHAR* pszBuffer, size_t cchBuffer, const WCHAR* pszFormat, ...);

// The same conversions into a string that grows to fit.
WSTR_API WString WStrFormatStringV(const WCHAR* pszFormat, va_list args);
WSTR_API WString WStrFormatString(const WCHAR* pszFormat, ...);

// Decimal-prefix value: leading blanks skipped, an optional sign, then decimal
// digits up to the first non-digit; 0 when there is no number and for null. Digits
// beyond 32 bits wrap, so the result is the low 32 bits of the number written.
WSTR_API int32_t WStrToInt32(const WCHAR* psz);

// Strict conversions between UTF-16 and UTF-8. They fail (returning false and
// leaving the output empty) on an unpaired surrogate or a malformed byte sequence.
WSTR_API bool WStrToUtf8(const WCHAR* psz, size_t cch, std::string& strOut);
WSTR_API bool WStrToUtf8(const WCHAR* psz, std::string& strOut);
WSTR_API bool WStrFromUtf8(const char* psz, size_t cb, WString& strOut);
WSTR_API bool WStrFromUtf8(const char* psz, WString& strOut);
