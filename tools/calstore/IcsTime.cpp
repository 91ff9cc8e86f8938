#include "IcsTime.h"

#include <cstdio>

namespace {

std::string Text(const char* psz)
{
    return psz != nullptr ? psz : "";
}

icaltimezone* Builtin(const std::string& strName)
{
    // Full libical TZIDs ("/freeassociation.sourceforge.net/Europe/Berlin", "UTC"),
    // then plain Olson names.
    if (icaltimezone* pZone = icaltimezone_get_builtin_timezone_from_tzid(strName.c_str())) {
        return pZone;
    }
    return icaltimezone_get_builtin_timezone(strName.c_str());
}

}  // namespace

CZones::~CZones()
{
    for (auto& entry : m_zones) {
        icaltimezone_free(entry.second, 1);
    }
}

void CZones::Add(icalcomponent* pComponent)
{
    icalproperty* pTzid = icalcomponent_get_first_property(pComponent, ICAL_TZID_PROPERTY);
    const std::string strTzid = pTzid != nullptr ? Text(icalproperty_get_tzid(pTzid)) : "";
    if (strTzid.empty() || m_zones.count(strTzid) != 0) {
        return;
    }
    icaltimezone* pZone = icaltimezone_new();
    // The zone owns the copy from here on and frees it with itself.
    if (pZone == nullptr || icaltimezone_set_component(pZone, icalcomponent_new_clone(pComponent)) == 0) {
        if (pZone != nullptr) {
            icaltimezone_free(pZone, 1);
        }
        return;
    }
    m_zones.emplace(strTzid, pZone);
}

icaltimezone* CZones::Find(const std::string& strTzid) const
{
    const auto it = m_zones.find(strTzid);
    if (it != m_zones.end()) {
        return it->second;
    }
    if (strTzid.empty()) {
        return nullptr;
    }
    if (icaltimezone* pZone = Builtin(strTzid)) {
        return pZone;
    }
    // Old globally unique TZIDs put a vendor's prefix before the Olson name
    // ("/vendor.example/2005_1/Europe/Berlin"): try what follows each slash.
    if (strTzid[0] == '/') {
        for (size_t nSlash = strTzid.find('/', 1); nSlash != std::string::npos;
             nSlash = strTzid.find('/', nSlash + 1)) {
            if (icaltimezone* pZone = icaltimezone_get_builtin_timezone(strTzid.c_str() + nSlash + 1)) {
                return pZone;
            }
        }
    }
    return nullptr;
}

CCivil FromIcal(const icaltimetype& tt)
{
    CCivil civil;
    civil.nYear = tt.year;
    civil.nMonth = tt.month;
    civil.nDay = tt.day;
    if (!tt.is_date) {
        civil.nHour = tt.hour;
        civil.nMinute = tt.minute;
        civil.nSecond = tt.second;
    }
    return civil;
}

icaltimetype ToIcal(const CCivil& civil, bool bDate)
{
    // Not icaltime_null_date(): its time fields are not zero, and the iterator
    // counts with them.
    icaltimetype tt = icaltime_null_time();
    tt.is_date = bDate ? 1 : 0;
    tt.year = civil.nYear;
    tt.month = civil.nMonth;
    tt.day = civil.nDay;
    if (!bDate) {
        tt.hour = civil.nHour;
        tt.minute = civil.nMinute;
        tt.second = civil.nSecond;
    }
    return tt;
}

bool ResolveTime(icalproperty* pProp, const icaltimetype& tt, const CZones& zones, CTimeValue& value,
                 std::string& strWhy)
{
    const std::string strName = Text(icalproperty_get_property_name(pProp));
    value = CTimeValue();
    value.civil = FromIcal(tt);
    value.bDate = tt.is_date != 0;
    // libical reads "2024-13-45" as a date without complaint.
    if (icaltime_is_null_time(tt) || !IsValidCivil(value.civil, value.bDate)) {
        strWhy = "invalid date or time in " + strName + ": " + Text(icalproperty_get_value_as_string(pProp));
        return false;
    }
    if (value.bDate) {
        return true;
    }
    if (icaltime_is_utc(tt)) {
        value.anchor.eKind = CAnchor::UTC;
        return true;
    }
    icalparameter* pTzid = icalproperty_get_first_parameter(pProp, ICAL_TZID_PARAMETER);
    if (pTzid == nullptr) {
        return true;
    }
    const std::string strTzid = Text(icalparameter_get_tzid(pTzid));
    icaltimezone* pZone = zones.Find(strTzid);
    if (pZone == nullptr) {
        // Guessing would shift the event by hours without anyone noticing.
        strWhy = "unknown time zone \"" + strTzid + "\" in " + strName + " (no VTIMEZONE defines it)";
        return false;
    }
    if (pZone == icaltimezone_get_utc_timezone()) {
        value.anchor.eKind = CAnchor::UTC;
    } else {
        value.anchor.eKind = CAnchor::ZONE;
        value.anchor.pZone = pZone;
    }
    return true;
}

int64_t FromWall(const CCivil& civil, const CAnchor& anchor)
{
    switch (anchor.eKind) {
    case CAnchor::UTC: return CivilToSeconds(civil);
    case CAnchor::ZONE: {
        icaltimetype local = ToIcal(civil, false);
        int bDaylight = 0;
        return CivilToSeconds(civil) - icaltimezone_get_utc_offset(anchor.pZone, &local, &bDaylight);
    }
    case CAnchor::FLOATING:
    default: return LocalToUnix(civil);
    }
}

int64_t ToUnix(const CTimeValue& value)
{
    return FromWall(value.civil, value.anchor);
}

CCivil WallAt(int64_t llUnix, const CAnchor& anchor)
{
    switch (anchor.eKind) {
    case CAnchor::UTC: return CivilFromSeconds(llUnix);
    case CAnchor::ZONE: return FromIcal(icaltime_from_timet_with_zone(static_cast<time_t>(llUnix), 0, anchor.pZone));
    case CAnchor::FLOATING:
    default: return UnixToLocal(llUnix);
    }
}

int64_t AddDuration(const CTimeValue& start, const icaldurationtype& duration)
{
    const int nSign = duration.is_neg ? -1 : 1;
    const int64_t nDays = int64_t(duration.weeks) * 7 + duration.days;
    const int64_t llFrom = FromWall(AddDays(start.civil, nSign * nDays), start.anchor);
    const int64_t llExact = int64_t(duration.hours) * 3600 + int64_t(duration.minutes) * 60 + duration.seconds;
    return llFrom + nSign * llExact;
}

std::string IcsText(const CCivil& civil, bool bDate, bool bUtc)
{
    char szText[32];
    if (bDate) {
        std::snprintf(szText, sizeof(szText), "%04d%02d%02d", civil.nYear, civil.nMonth, civil.nDay);
    } else {
        std::snprintf(szText, sizeof(szText), "%04d%02d%02dT%02d%02d%02d%s", civil.nYear, civil.nMonth, civil.nDay,
                      civil.nHour, civil.nMinute, civil.nSecond, bUtc ? "Z" : "");
    }
    return szText;
}
