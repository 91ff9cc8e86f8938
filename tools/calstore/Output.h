// Output of the command-line host: plain lines for people, JSON for programs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "HostObjects.h"
#include "compat/win32.h"

// Text that is not valid UTF-8.
struct CTextError {
    std::string strText;
};

// UTF-16 to UTF-8 for printing; an unpaired surrogate becomes U+FFFD.
std::string Utf8(const WString& str);

// UTF-8 to UTF-16; raises CTextError for text that is not valid UTF-8.
WString Utf16(const std::string& str);

// A BSTR made from a text, freed with the holder.
class CBstrHolder {
public:
    explicit CBstrHolder(const WString& str) : m_bstr(SysAllocStringLen(str.data(), static_cast<UINT>(str.size()))) {}
    ~CBstrHolder() { SysFreeString(m_bstr); }
    CBstrHolder(const CBstrHolder&) = delete;
    CBstrHolder& operator=(const CBstrHolder&) = delete;
    BSTR Get() const { return m_bstr; }

private:
    BSTR m_bstr;
};

// One JSON object, built field by field in order.
class CJsonObject {
public:
    CJsonObject& Add(const std::string& strName, const std::string& strValue);
    CJsonObject& Add(const std::string& strName, int64_t llValue);
    CJsonObject& Add(const std::string& strName, bool bValue);
    CJsonObject& AddRaw(const std::string& strName, const std::string& strJson);
    std::string Text() const;

private:
    std::vector<std::pair<std::string, std::string>> m_fields;
};

// "1 event", "2 events".
std::string Plural(size_t n, const char* pszOne, const char* pszMany);

std::string JsonString(const std::string& str);
std::string JsonArray(const std::vector<std::string>& items);

// A listing of events: a count and one line each, under the heading of each
// calendar; or, with bJson, a JSON array.
void PrintEvents(bool bJson, const std::vector<CEventData>& events, const std::string& strTitle);

// The one line a command that changes something prints when it is done.
void PrintDone(bool bJson, const std::string& strMessage);
