#include "TimeText.h"

#include <cstdio>
#include <ctime>

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
    int nYear = 0;
    int nMonth = 0;
    int nDay = 0;
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
    int cchRead = 0;
    if (std::sscanf(strText.c_str(), "%4d-%2d-%2d%n", &nYear, &nMonth, &nDay, &cchRead) != 3 || cchRead != 10) {
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
        const int nFields =
            std::sscanf(strRest.c_str() + 1, "%2d:%2d%n:%2d%n", &nHour, &nMinute, &cchTime, &nSecond, &cchTime);
        if (nFields < 2 || static_cast<size_t>(cchTime) + 1 != strRest.size()) {
            return false;
        }
    }
    if (nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31 || nHour > 23 || nMinute > 59 || nSecond > 60 || nHour < 0 ||
        nMinute < 0 || nSecond < 0) {
        return false;
    }
    struct tm tmValue {};
    tmValue.tm_year = nYear - 1900;
    tmValue.tm_mon = nMonth - 1;
    tmValue.tm_mday = nDay;
    tmValue.tm_hour = nHour;
    tmValue.tm_min = nMinute;
    tmValue.tm_sec = nSecond;
    tmValue.tm_isdst = -1;
    const time_t t = bUtc ? ::timegm(&tmValue) : std::mktime(&tmValue);
    // mktime normalises impossible dates such as 02-31; refuse them instead.
    if (tmValue.tm_mday != nDay || tmValue.tm_mon != nMonth - 1) {
        return false;
    }
    llSeconds = static_cast<int64_t>(t);
    return true;
}

bool FitsStore(int64_t llSeconds)
{
    return llSeconds >= INT32_MIN && llSeconds <= INT32_MAX;
}

std::string FormatLocalTime(int64_t llSeconds)
{
    const time_t t = static_cast<time_t>(llSeconds);
    struct tm tmLocal {};
    ::localtime_r(&t, &tmLocal);
    char szText[32];
    std::strftime(szText, sizeof(szText), "%Y-%m-%d %H:%M", &tmLocal);
    return szText;
}

std::string FormatIsoLocalTime(int64_t llSeconds)
{
    const time_t t = static_cast<time_t>(llSeconds);
    struct tm tmLocal {};
    ::localtime_r(&t, &tmLocal);
    char szText[32];
    std::strftime(szText, sizeof(szText), "%Y-%m-%dT%H:%M:%S", &tmLocal);
    return szText;
}

int64_t StartOfWeek(int64_t llSeconds)
{
    const time_t t = static_cast<time_t>(llSeconds);
    struct tm tmLocal {};
    ::localtime_r(&t, &tmLocal);
    const int nDaysSinceMonday = (tmLocal.tm_wday + 6) % 7;
    tmLocal.tm_mday -= nDaysSinceMonday;
    tmLocal.tm_hour = tmLocal.tm_min = tmLocal.tm_sec = 0;
    tmLocal.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tmLocal));
}
