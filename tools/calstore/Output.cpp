#include "Output.h"

#include <cstdio>

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
