#include "TimeText.h"

#include <cstdio>

#include "CivilTime.h"

namespace {

bool AllDigits(const std::string& str, size_t nFrom)
{
    if (nFrom >= str.size()) {
        return false;
    }
    for (size_t i = nFrom; i < str.size(); ++i) {
        if (str[i] < '0' || str[i] > '9') {
            return false;
        }
    }
    return true;
}

std::string Format(int64_t llSeconds, const char* pszFormat)
{
    const CCivil t = UnixToLocal(llSeconds);
    char szText[40];
    std::snprintf(szText, sizeof(szText), pszFormat, t.nYear, t.nMonth, t.nDay, t.nHour, t.nMinute, t.nSecond);
    return szText;
}

}  // namespace

bool ParseTime(const std::string& strText, int64_t& llSeconds)
{
    if (AllDigits(strText, strText.size() > 0 && strText[0] == '-' ? 1 : 0)) {
        if (strText.size() > 18) {
            return false;
        }
        llSeconds = std::stoll(strText);
        return true;
    }
    CCivil civil;
    int cchRead = 0;
    if (std::sscanf(strText.c_str(), "%4d-%2d-%2d%n", &civil.nYear, &civil.nMonth, &civil.nDay, &cchRead) != 3 ||
        cchRead != 10) {
        return false;
    }
    std::string strRest = strText.substr(10);
    bool bUtc = false;
    if (!strRest.empty() && strRest.back() == 'Z') {
        bUtc = true;
        strRest.pop_back();
    }
    if (!strRest.empty()) {
        if (strRest[0] != 'T' && strRest[0] != ' ') {
            return false;
        }
        int cchTime = 0;
        const int nFields = std::sscanf(strRest.c_str() + 1, "%2d:%2d%n:%2d%n", &civil.nHour, &civil.nMinute, &cchTime,
                                        &civil.nSecond, &cchTime);
        if (nFields < 2 || static_cast<size_t>(cchTime) + 1 != strRest.size()) {
            return false;
        }
    }
    if (!IsValidCivil(civil, false)) {
        return false;
    }
    llSeconds = bUtc ? CivilToSeconds(civil) : LocalToUnix(civil);
    return true;
}

bool FitsStore(int64_t llSeconds)
{
    return llSeconds >= INT32_MIN && llSeconds <= INT32_MAX;
}

std::string FormatLocalTime(int64_t llSeconds)
{
    return Format(llSeconds, "%04d-%02d-%02d %02d:%02d");
}

std::string FormatIsoLocalTime(int64_t llSeconds)
{
    return Format(llSeconds, "%04d-%02d-%02dT%02d:%02d:%02d");
}

int64_t StartOfWeek(int64_t llSeconds)
{
    const CCivil today = UnixToLocal(llSeconds);
    const int64_t llDay = DaysFromCivil(today.nYear, today.nMonth, today.nDay);
    const int64_t nDaysSinceMonday = ((llDay + 3) % 7 + 7) % 7;  // 1970-01-01 was a Thursday
    return LocalToUnix(CivilFromDays(llDay - nDaysSinceMonday));
}
