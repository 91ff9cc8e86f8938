// UTF-16 <-> UTF-8 conversion shared by the text helpers and the code-page calls.
#pragma once

#include <string>

#include "compat/wstr.h"

namespace compat {

// With bStrict, an unpaired surrogate or a malformed sequence fails the whole
// conversion; without it, each bad unit becomes U+FFFD (the Windows behaviour
// without the ..._ERR_INVALID_CHARS flags).
bool Utf16ToUtf8(const WCHAR* psz, size_t cch, std::string& strOut, bool bStrict);
bool Utf8ToUtf16(const char* psz, size_t cb, WString& strOut, bool bStrict);

}  // namespace compat
