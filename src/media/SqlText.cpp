#include "media/SqlText.h"

namespace {

bool IsHighSurrogate(WCHAR ch)
{
    return ch >= 0xD800 && ch <= 0xDBFF;
}
bool IsLowSurrogate(WCHAR ch)
{
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

}  // namespace

WString EscapeQuotes(LPCWSTR pszText)
{
    WString strEscaped;
    const size_t cch = WStrLen(pszText);
    strEscaped.reserve(cch + 8);
    for (size_t i = 0; i < cch; ++i) {
        const WCHAR ch = pszText[i];
        if (IsHighSurrogate(ch) && i + 1 < cch && IsLowSurrogate(pszText[i + 1])) {
            strEscaped += ch;
            strEscaped += pszText[++i];
        } else if (IsHighSurrogate(ch) || IsLowSurrogate(ch)) {
            // SQLite reads a lone surrogate as half of a pair and swallows the next
            // unit with it, a closing quote included: it must never reach a statement.
            strEscaped += WCHAR(0xFFFD);
        } else {
            strEscaped += ch;
            if (ch == WTEXT('\'')) {
                strEscaped += WTEXT('\'');
            }
        }
    }
    return strEscaped;
}

void CopyColumnText(WCHAR* pszField, size_t cchField, const WCHAR* pszColumn)
{
    WStrCopyN(pszField, cchField, pszColumn);
}
