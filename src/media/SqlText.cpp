#include "media/SqlText.h"

WString EscapeQuotes(LPCWSTR pszText)
{
    return EscapeQuotes(pszText, static_cast<size_t>(-1), true);
}

bool TextNeedsRepair(LPCWSTR pszText, size_t cchMax, int* pcch)
{
    bool bRepair = false;
    size_t cch = 0;
    if (pszText != nullptr) {
        for (; cch < cchMax && pszText[cch] != 0; ++cch) {
            if (IsSurrogatePairAt(pszText, cch, cchMax)) {
                ++cch;
            } else if (IsSurrogate(pszText[cch])) {
                bRepair = true;
            }
        }
    }
    *pcch = static_cast<int>(cch);
    return bRepair;
}

WString EscapeQuotes(LPCWSTR pszText, size_t cchMax, bool bDoubleQuotes)
{
    WString strEscaped;
    size_t cch = 0;
    while (pszText != nullptr && cch < cchMax && pszText[cch] != 0) {
        ++cch;
    }
    strEscaped.reserve(cch + 8);
    for (size_t i = 0; i < cch; ++i) {
        const WCHAR ch = pszText[i];
        if (IsSurrogatePairAt(pszText, i, cch)) {
            strEscaped += ch;
            strEscaped += pszText[++i];
        } else if (IsSurrogate(ch)) {
            // SQLite reads a lone surrogate as half of a pair and swallows the next
            // unit with it, a closing quote included: it must never reach a statement.
            strEscaped += WCHAR(0xFFFD);
        } else {
            strEscaped += ch;
            if (bDoubleQuotes && ch == WTEXT('\'')) {
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
