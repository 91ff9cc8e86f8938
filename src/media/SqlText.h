// Moving values between records and SQL text.
#pragma once

#include "compat/win32.h"
#include "sqlite/CppSQLite3.h"

// The text with every apostrophe doubled, for use between single quotes in a
// statement, and every unpaired surrogate replaced by U+FFFD. Null gives the empty
// text.
WString EscapeQuotes(LPCWSTR pszText);

// The same over at most cchMax units, with the apostrophes doubled only when
// bDoubleQuotes is set: a bound value keeps its apostrophes as they are.
WString EscapeQuotes(LPCWSTR pszText, size_t cchMax, bool bDoubleQuotes);

// True when the text (at most cchMax units) holds an unpaired surrogate and must go
// through EscapeQuotes before SQLite sees it; *pcch gets its length.
bool TextNeedsRepair(LPCWSTR pszText, size_t cchMax, int* pcch);

// Copies a column's text into a record field of cchField units (terminator
// included), cut at the bound without splitting a surrogate pair; an SQL NULL gives
// the empty text.
void CopyColumnText(WCHAR* pszField, size_t cchField, const WCHAR* pszColumn);

template <size_t N>
void CopyColumnText(WCHAR (&szField)[N], const WCHAR* pszColumn)
{
    CopyColumnText(szField, N, pszColumn);
}

// The decimal-prefix value of a column (0 for an SQL NULL or a text without a
// number); callers keep the low bits that fit their field.
inline int32_t ColumnInt(CppSQLite3Query& query, int nField)
{
    return WStrToInt32(query.fieldValue(nField));
}
