#include "Output.h"

#include <cstdio>

#include "TimeText.h"

std::string Utf8(const WString& str)
{
    std::string strOut;
    if (!WStrToUtf8(str.c_str(), str.size(), strOut)) {
        const int cb =
            WideCharToMultiByte(CP_UTF8, 0, str.c_str(), static_cast<int>(str.size()), nullptr, 0, nullptr, nullptr);
        strOut.assign(cb > 0 ? static_cast<size_t>(cb) : 0, '\0');
        if (cb > 0) {
            WideCharToMultiByte(CP_UTF8, 0, str.c_str(), static_cast<int>(str.size()), &strOut[0], cb, nullptr,
                                nullptr);
        }
    }
    return strOut;
}

WString Utf16(const std::string& str)
{
    WString strOut;
    if (!WStrFromUtf8(str.c_str(), str.size(), strOut)) {
        throw CTextError{str};
    }
    return strOut;
}

std::string Plural(size_t n, const char* pszOne, const char* pszMany)
{
    return std::to_string(n) + " " + (n == 1 ? pszOne : pszMany);
}

std::string JsonString(const std::string& str)
{
    std::string strOut = "\"";
    for (const char ch : str) {
        switch (ch) {
        case '"': strOut += "\\\""; break;
        case '\\': strOut += "\\\\"; break;
        case '\n': strOut += "\\n"; break;
        case '\r': strOut += "\\r"; break;
        case '\t': strOut += "\\t"; break;
        default:
            if (static_cast<unsigned char>(ch) < 0x20) {
                char szEscape[8];
                std::snprintf(szEscape, sizeof(szEscape), "\\u%04x", static_cast<unsigned>(ch));
                strOut += szEscape;
            } else {
                strOut += ch;
            }
        }
    }
    return strOut + "\"";
}

std::string JsonArray(const std::vector<std::string>& items)
{
    std::string strOut = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        strOut += (i > 0 ? ",\n  " : "\n  ") + items[i];
    }
    return strOut + (items.empty() ? "]" : "\n]");
}

CJsonObject& CJsonObject::Add(const std::string& strName, const std::string& strValue)
{
    return AddRaw(strName, JsonString(strValue));
}

CJsonObject& CJsonObject::Add(const std::string& strName, int64_t llValue)
{
    return AddRaw(strName, std::to_string(llValue));
}

CJsonObject& CJsonObject::Add(const std::string& strName, bool bValue)
{
    return AddRaw(strName, bValue ? "true" : "false");
}

CJsonObject& CJsonObject::AddRaw(const std::string& strName, const std::string& strJson)
{
    m_fields.emplace_back(strName, strJson);
    return *this;
}

std::string CJsonObject::Text() const
{
    std::string strOut = "{";
    for (size_t i = 0; i < m_fields.size(); ++i) {
        strOut += (i > 0 ? ", " : "") + JsonString(m_fields[i].first) + ": " + m_fields[i].second;
    }
    return strOut + "}";
}

namespace {

std::string EventLine(const CEventData& evt)
{
    std::string strLine = "  " + std::to_string(ULONG(evt.lEvtID)) + "  " + FormatLocalTime(evt.lBgnTm) + " - " +
                          FormatLocalTime(evt.lEndTm) + "  " + Utf8(evt.strSubject);
    if (!evt.strLocation.empty()) {
        strLine += " @ " + Utf8(evt.strLocation);
    }
    return strLine;
}

std::string EventJson(const CEventData& evt)
{
    return CJsonObject()
        .Add("calendar", int64_t(ULONG(evt.lCalID)))
        .Add("id", int64_t(ULONG(evt.lEvtID)))
        .Add("begin", FormatIsoLocalTime(evt.lBgnTm))
        .Add("end", FormatIsoLocalTime(evt.lEndTm))
        .Add("begin_unix", int64_t(evt.lBgnTm))
        .Add("end_unix", int64_t(evt.lEndTm))
        .Add("subject", Utf8(evt.strSubject))
        .Add("location", Utf8(evt.strLocation))
        .Add("detail", Utf8(evt.strDetail))
        .Text();
}

}  // namespace

void PrintEvents(bool bJson, const std::vector<CEventData>& events, const std::string& strTitle)
{
    if (bJson) {
        std::vector<std::string> items;
        for (const CEventData& evt : events) {
            items.push_back(EventJson(evt));
        }
        std::printf("%s\n", JsonArray(items).c_str());
        return;
    }
    std::printf("%s: %s\n", strTitle.c_str(), Plural(events.size(), "event", "events").c_str());
    const CEventData* pPrevious = nullptr;
    for (const CEventData& evt : events) {
        if (pPrevious == nullptr || pPrevious->lCalID != evt.lCalID) {
            std::printf(" calendar %lu\n", static_cast<unsigned long>(ULONG(evt.lCalID)));
        }
        std::printf("%s\n", EventLine(evt).c_str());
        pPrevious = &evt;
    }
}

void PrintDone(bool bJson, const std::string& strMessage)
{
    if (bJson) {
        std::printf("%s\n", CJsonObject().Add("ok", true).Add("message", strMessage).Text().c_str());
    } else {
        std::printf("%s\n", strMessage.c_str());
    }
}
