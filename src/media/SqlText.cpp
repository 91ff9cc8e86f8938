#include "media/SqlText.h"

WString EscapeQuotes(LPCWSTR pszText)
{
    WString strEscaped;
    const size_t cch = WStrLen(pszText);
    strEscaped.reserve(cch + 8);
    for (size_t i = 0; i < cch; ++i) {
        strEscaped += pszText[i];
        if (pszText[i] == WTEXT('\'')) {
            strEscaped += WTEXT('\'');
        }
    }
    return strEscaped;
}

void CopyColumnText(WCHAR* pszField, size_t cchField, const WCHAR* pszColumn)
{
    WStrCopyN(pszField, cchField, pszColumn);
}
