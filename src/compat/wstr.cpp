#include "compat/wstr.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "Utf.h"

namespace {

// Collects formatted output: stores what fits in the buffer and counts the rest.
class CBoundedWriter {
public:
    CBoundedWriter(WCHAR* pszBuffer, size_t cchBuffer) : m_pszBuffer(pszBuffer), m_cchBuffer(cchBuffer) {}

    void Put(WCHAR ch)
    {
        if (m_cchTotal + 1 < m_cchBuffer) {
            m_pszBuffer[m_cchTotal] = ch;
        }
        ++m_cchTotal;
    }

    void PutRepeated(WCHAR ch, size_t cchCount)
    {
        for (size_t i = 0; i < cchCount; ++i) {
            Put(ch);
        }
    }

    int Finish()
    {
        if (m_cchBuffer > 0) {
            m_pszBuffer[m_cchTotal < m_cchBuffer ? m_cchTotal : m_cchBuffer - 1] = 0;
        }
        return m_cchTotal > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(m_cchTotal);
    }

private:
    WCHAR* m_pszBuffer;
    size_t m_cchBuffer;
    size_t m_cchTotal = 0;
};

// Writes one converted field with its width and padding.
void PutField(CBoundedWriter& writer, const WCHAR* pszSign, const WCHAR* pszBody, size_t cchBody, size_t cchWidth,
              bool bLeftAlign, bool bZeroPad)
{
    const size_t cchSign = WStrLen(pszSign);
    const size_t cchPad = cchWidth > cchSign + cchBody ? cchWidth - cchSign - cchBody : 0;
    if (!bLeftAlign && !bZeroPad) {
        writer.PutRepeated(u' ', cchPad);
    }
    for (size_t i = 0; i < cchSign; ++i) {
        writer.Put(pszSign[i]);
    }
    if (!bLeftAlign && bZeroPad) {
        writer.PutRepeated(u'0', cchPad);
    }
    for (size_t i = 0; i < cchBody; ++i) {
        writer.Put(pszBody[i]);
    }
    if (bLeftAlign) {
        writer.PutRepeated(u' ', cchPad);
    }
}

// Digits of an unsigned value, most significant first, into a small buffer.
size_t FormatDigits(uint64_t uValue, unsigned uBase, bool bUpper, WCHAR (&szDigits)[24])
{
    const char* pszSet = bUpper ? "0123456789ABCDEF" : "0123456789abcdef";
    WCHAR szReversed[24];
    size_t cch = 0;
    do {
        szReversed[cch++] = static_cast<WCHAR>(pszSet[uValue % uBase]);
        uValue /= uBase;
    } while (uValue != 0);
    for (size_t i = 0; i < cch; ++i) {
        szDigits[i] = szReversed[cch - 1 - i];
    }
    return cch;
}

}  // namespace

size_t WStrLen(const WCHAR* psz)
{
    if (psz == nullptr) {
        return 0;
    }
    size_t cch = 0;
    while (psz[cch] != 0) {
        ++cch;
    }
    return cch;
}

size_t WStrBoundedLength(const WCHAR* psz, size_t cchLength, size_t cchMax)
{
    if (cchLength <= cchMax) {
        return cchLength;
    }
    // Cutting after a high surrogate would split its pair: drop the high half too.
    if (cchMax > 0 && IsHighSurrogate(psz[cchMax - 1]) && IsLowSurrogate(psz[cchMax])) {
        return cchMax - 1;
    }
    return cchMax;
}

size_t WStrCopyN(WCHAR* pszDest, size_t cchDest, const WCHAR* pszSrc)
{
    if (pszDest == nullptr || cchDest == 0) {
        return 0;
    }
    size_t cchSrc = 0;
    if (pszSrc != nullptr) {
        // Look at no more than one unit beyond what fits, so a long source is not scanned.
        while (cchSrc < cchDest && pszSrc[cchSrc] != 0) {
            ++cchSrc;
        }
    }
    const size_t cchCopy = WStrBoundedLength(pszSrc, cchSrc, cchDest - 1);
    for (size_t i = 0; i < cchCopy; ++i) {
        pszDest[i] = pszSrc[i];
    }
    pszDest[cchCopy] = 0;
    return cchCopy;
}

int WStrCmp(const WCHAR* pszA, const WCHAR* pszB)
{
    static const WCHAR s_szEmpty[1] = {0};
    const WCHAR* a = pszA != nullptr ? pszA : s_szEmpty;
    const WCHAR* b = pszB != nullptr ? pszB : s_szEmpty;
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<int>(*a) - static_cast<int>(*b);
}

int WStrFormatV(WCHAR* pszBuffer, size_t cchBuffer, const WCHAR* pszFormat, va_list args)
{
    CBoundedWriter writer(pszBuffer, cchBuffer);
    if (pszFormat == nullptr) {
        return writer.Finish();
    }
    static const WCHAR s_szNull[] = WTEXT("(null)");
    static const WCHAR s_szMinus[] = WTEXT("-");
    static const WCHAR s_szNoSign[] = WTEXT("");

    for (const WCHAR* p = pszFormat; *p != 0; ++p) {
        if (*p != u'%') {
            writer.Put(*p);
            continue;
        }
        const WCHAR* pszSpec = p++;
        bool bLeftAlign = false;
        bool bZeroPad = false;
        for (;; ++p) {
            if (*p == u'-') {
                bLeftAlign = true;
            } else if (*p == u'0') {
                bZeroPad = true;
            } else {
                break;
            }
        }
        size_t cchWidth = 0;
        while (*p >= u'0' && *p <= u'9') {
            // Widths past a few thousand make no sense; cap them rather than overflow.
            if (cchWidth < 100000) {
                cchWidth = cchWidth * 10 + static_cast<size_t>(*p - u'0');
            }
            ++p;
        }
        WCHAR szDigits[24];
        switch (*p) {
        case u'd': {
            const int nValue = va_arg(args, int);
            const uint32_t uMagnitude = nValue < 0 ? 0u - static_cast<uint32_t>(nValue) : static_cast<uint32_t>(nValue);
            const size_t cch = FormatDigits(uMagnitude, 10, false, szDigits);
            PutField(writer, nValue < 0 ? s_szMinus : s_szNoSign, szDigits, cch, cchWidth, bLeftAlign, bZeroPad);
            break;
        }
        case u'u':
        case u'x':
        case u'X': {
            const unsigned uValue = va_arg(args, unsigned);
            const size_t cch = FormatDigits(uValue, *p == u'u' ? 10 : 16, *p == u'X', szDigits);
            PutField(writer, s_szNoSign, szDigits, cch, cchWidth, bLeftAlign, bZeroPad);
            break;
        }
        case u'p': {
            // As on Windows: every hex digit of the pointer, in capitals.
            const auto uValue = reinterpret_cast<uintptr_t>(va_arg(args, void*));
            const size_t cch = FormatDigits(uValue, 16, true, szDigits);
            PutField(writer, s_szNoSign, szDigits, cch, std::max(cchWidth, 2 * sizeof(void*)), bLeftAlign, true);
            break;
        }
        case u's': {
            const WCHAR* psz = va_arg(args, const WCHAR*);
            if (psz == nullptr) {
                psz = s_szNull;
            }
            PutField(writer, s_szNoSign, psz, WStrLen(psz), cchWidth, bLeftAlign, false);
            break;
        }
        case u'%': writer.Put(u'%'); break;
        default:
            // Unknown conversion: copy it as it stands and take no argument.
            for (const WCHAR* q = pszSpec; q <= p && *q != 0; ++q) {
                writer.Put(*q);
            }
            if (*p == 0) {
                return writer.Finish();
            }
            break;
        }
    }
    return writer.Finish();
}

int WStrFormat(WCHAR* pszBuffer, size_t cchBuffer, const WCHAR* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const int nResult = WStrFormatV(pszBuffer, cchBuffer, pszFormat, args);
    va_end(args);
    return nResult;
}

WString WStrFormatStringV(const WCHAR* pszFormat, va_list args)
{
    WCHAR szSmall[256];
    va_list argsCopy;
    va_copy(argsCopy, args);
    const int cchNeeded = WStrFormatV(szSmall, sizeof(szSmall) / sizeof(szSmall[0]), pszFormat, argsCopy);
    va_end(argsCopy);
    if (cchNeeded < 0) {
        return WString();
    }
    if (static_cast<size_t>(cchNeeded) < sizeof(szSmall) / sizeof(szSmall[0])) {
        return WString(szSmall, static_cast<size_t>(cchNeeded));
    }
    std::vector<WCHAR> buffer(static_cast<size_t>(cchNeeded) + 1);
    WStrFormatV(buffer.data(), buffer.size(), pszFormat, args);
    return WString(buffer.data(), static_cast<size_t>(cchNeeded));
}

WString WStrFormatString(const WCHAR* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    WString str = WStrFormatStringV(pszFormat, args);
    va_end(args);
    return str;
}

int32_t WStrToInt32(const WCHAR* psz)
{
    if (psz == nullptr) {
        return 0;
    }
    while (*psz == u' ' || (*psz >= u'\t' && *psz <= u'\r')) {
        ++psz;
    }
    bool bNegative = false;
    if (*psz == u'-' || *psz == u'+') {
        bNegative = *psz == u'-';
        ++psz;
    }
    uint32_t uValue = 0;  // unsigned arithmetic wraps: the low 32 bits are kept
    while (*psz >= u'0' && *psz <= u'9') {
        uValue = uValue * 10u + static_cast<uint32_t>(*psz - u'0');
        ++psz;
    }
    if (bNegative) {
        uValue = 0u - uValue;
    }
    return static_cast<int32_t>(uValue);
}

bool WStrToUtf8(const WCHAR* psz, size_t cch, std::string& strOut)
{
    return compat::Utf16ToUtf8(psz, cch, strOut, true);
}

bool WStrToUtf8(const WCHAR* psz, std::string& strOut)
{
    return WStrToUtf8(psz, WStrLen(psz), strOut);
}

bool WStrFromUtf8(const char* psz, size_t cb, WString& strOut)
{
    return compat::Utf8ToUtf16(psz, cb, strOut, true);
}

bool WStrFromUtf8(const char* psz, WString& strOut)
{
    return WStrFromUtf8(psz, psz != nullptr ? std::char_traits<char>::length(psz) : 0, strOut);
}

namespace compat {

bool Utf16ToUtf8(const WCHAR* psz, size_t cch, std::string& strOut, bool bStrict)
{
    strOut.clear();
    strOut.reserve(cch);
    for (size_t i = 0; i < cch; ++i) {
        uint32_t uCode = psz[i];
        if (IsSurrogatePairAt(psz, i, cch)) {
            uCode = 0x10000u + ((uCode - 0xD800u) << 10) + (static_cast<uint32_t>(psz[i + 1]) - 0xDC00u);
            ++i;
        } else if (IsSurrogate(psz[i])) {
            if (bStrict) {
                strOut.clear();
                return false;
            }
            uCode = 0xFFFD;
        }
        if (uCode < 0x80) {
            strOut += static_cast<char>(uCode);
        } else if (uCode < 0x800) {
            strOut += static_cast<char>(0xC0 | (uCode >> 6));
            strOut += static_cast<char>(0x80 | (uCode & 0x3F));
        } else if (uCode < 0x10000) {
            strOut += static_cast<char>(0xE0 | (uCode >> 12));
            strOut += static_cast<char>(0x80 | ((uCode >> 6) & 0x3F));
            strOut += static_cast<char>(0x80 | (uCode & 0x3F));
        } else {
            strOut += static_cast<char>(0xF0 | (uCode >> 18));
            strOut += static_cast<char>(0x80 | ((uCode >> 12) & 0x3F));
            strOut += static_cast<char>(0x80 | ((uCode >> 6) & 0x3F));
            strOut += static_cast<char>(0x80 | (uCode & 0x3F));
        }
    }
    return true;
}

bool Utf8ToUtf16(const char* psz, size_t cb, WString& strOut, bool bStrict)
{
    strOut.clear();
    strOut.reserve(cb);
    const auto* p = reinterpret_cast<const unsigned char*>(psz);
    size_t i = 0;
    while (i < cb) {
        const unsigned char b0 = p[i];
        uint32_t uCode = 0;
        size_t cbSeq = 0;
        uint32_t uMin = 0;
        if (b0 < 0x80) {
            uCode = b0;
            cbSeq = 1;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            uCode = b0 & 0x1Fu;
            cbSeq = 2;
            uMin = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            uCode = b0 & 0x0Fu;
            cbSeq = 3;
            uMin = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            uCode = b0 & 0x07u;
            cbSeq = 4;
            uMin = 0x10000;
        }
        bool bValid = cbSeq != 0 && i + cbSeq <= cb;
        for (size_t k = 1; bValid && k < cbSeq; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                bValid = false;
            } else {
                uCode = (uCode << 6) | (p[i + k] & 0x3Fu);
            }
        }
        if (bValid && (uCode < uMin || uCode > 0x10FFFF || (uCode >= 0xD800 && uCode <= 0xDFFF))) {
            bValid = false;
        }
        if (!bValid) {
            if (bStrict) {
                strOut.clear();
                return false;
            }
            strOut += static_cast<WCHAR>(0xFFFD);
            ++i;  // resynchronise on the next byte
            continue;
        }
        if (uCode >= 0x10000) {
            uCode -= 0x10000;
            strOut += static_cast<WCHAR>(0xD800 + (uCode >> 10));
            strOut += static_cast<WCHAR>(0xDC00 + (uCode & 0x3FF));
        } else {
            strOut += static_cast<WCHAR>(uCode);
        }
        i += cbSeq;
    }
    return true;
}

}  // namespace compat
