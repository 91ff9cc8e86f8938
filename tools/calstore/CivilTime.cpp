#include "CivilTime.h"

#include <ctime>

int DaysInMonth(int nYear, int nMonth)
{
    static const int s_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (nMonth < 1 || nMonth > 12) {
        return 0;
    }
    const bool bLeap = (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
    return nMonth == 2 && bLeap ? 29 : s_days[nMonth - 1];
}

bool IsValidCivil(const CCivil& civil, bool bDateOnly)
{
    if (civil.nYear < 1 || civil.nYear > 9999 || civil.nDay < 1 ||
        civil.nDay > DaysInMonth(civil.nYear, civil.nMonth)) {
        return false;
    }
    return bDateOnly || (civil.nHour >= 0 && civil.nHour <= 23 && civil.nMinute >= 0 && civil.nMinute <= 59 &&
                         civil.nSecond >= 0 && civil.nSecond <= 60);
}

// Counting in eras of 400 years from 1 March, so that the leap day ends a year.
int64_t DaysFromCivil(int nYear, int nMonth, int nDay)
{
    const int64_t y = int64_t(nYear) - (nMonth <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CCivil CivilFromDays(int64_t llDays)
{
    const int64_t z = llDays + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    CCivil civil;
    civil.nDay = int(doy - (153 * mp + 2) / 5 + 1);
    civil.nMonth = int(mp < 10 ? mp + 3 : mp - 9);
    civil.nYear = int(yoe + era * 400 + (civil.nMonth <= 2 ? 1 : 0));
    return civil;
}

int64_t CivilToSeconds(const CCivil& civil)
{
    return DaysFromCivil(civil.nYear, civil.nMonth, civil.nDay) * 86400 + civil.nHour * 3600 + civil.nMinute * 60 +
           civil.nSecond;
}

int64_t DayOf(int64_t llCivilSeconds)
{
    return llCivilSeconds >= 0 ? llCivilSeconds / 86400 : -((-llCivilSeconds + 86399) / 86400);
}

CCivil CivilFromSeconds(int64_t llSeconds)
{
    const int64_t llDay = DayOf(llSeconds);
    const int64_t llRest = llSeconds - llDay * 86400;
    CCivil civil = CivilFromDays(llDay);
    civil.nHour = int(llRest / 3600);
    civil.nMinute = int(llRest / 60 % 60);
    civil.nSecond = int(llRest % 60);
    return civil;
}

CCivil AddDays(const CCivil& civil, int64_t nDays)
{
    CCivil later = CivilFromDays(DaysFromCivil(civil.nYear, civil.nMonth, civil.nDay) + nDays);
    later.nHour = civil.nHour;
    later.nMinute = civil.nMinute;
    later.nSecond = civil.nSecond;
    return later;
}

int64_t LocalToUnix(const CCivil& civil)
{
    std::tm t{};
    t.tm_year = civil.nYear - 1900;
    t.tm_mon = civil.nMonth - 1;
    t.tm_mday = civil.nDay;
    t.tm_hour = civil.nHour;
    t.tm_min = civil.nMinute;
    t.tm_sec = civil.nSecond;
    t.tm_isdst = -1;  // the zone's rules decide
    return static_cast<int64_t>(std::mktime(&t));
}

CCivil UnixToLocal(int64_t llUnix)
{
    const time_t t = static_cast<time_t>(llUnix);
    std::tm parts{};
    ::localtime_r(&t, &parts);
    CCivil civil;
    civil.nYear = parts.tm_year + 1900;
    civil.nMonth = parts.tm_mon + 1;
    civil.nDay = parts.tm_mday;
    civil.nHour = parts.tm_hour;
    civil.nMinute = parts.tm_min;
    civil.nSecond = parts.tm_sec;
    return civil;
}
