// iCalendar import and export for the command-line host, on top of libical: libical
// parses, unescapes, escapes and folds; this file turns its components into the
// host's events (times in Unix seconds) and back.
#include "IcsFile.h"

#include <fcntl.h>
#include <libical/ical.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <set>

namespace {

// A rule with no end and a short period (FREQ=SECONDLY, or a daily rule from 1900)
// would otherwise fill memory before it reaches the horizon. A series simply stops
// growing here; what it produced so far is kept, since the earliest occurrences are
// the ones that matter.
constexpr size_t kMaxOccurrencesPerSeries = 100000;

constexpr int64_t kSecondsPerDay = 86400;

struct CComponentFree {
    void operator()(icalcomponent* p) const { icalcomponent_free(p); }
};
using CComponentPtr = std::unique_ptr<icalcomponent, CComponentFree>;

std::string SystemError(int nErr)
{
    return std::strerror(nErr);
}

std::string Text(const char* psz)
{
    return psz != nullptr ? psz : "";
}

// --- Times -----------------------------------------------------------------------

// What a time's wall-clock fields are relative to.
struct CAnchor {
    enum EKind { LOCAL, UTC, ZONE } eKind = LOCAL;
    icaltimezone* pZone = nullptr;  // for ZONE
};

struct CTimeValue {
    icaltimetype tt{};
    CAnchor anchor;
};

int64_t LocalToUnix(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond)
{
    std::tm t{};
    t.tm_year = nYear - 1900;
    t.tm_mon = nMonth - 1;
    t.tm_mday = nDay;
    t.tm_hour = nHour;
    t.tm_min = nMinute;
    t.tm_sec = nSecond;
    t.tm_isdst = -1;  // let the zone rules decide
    return static_cast<int64_t>(std::mktime(&t));
}

int64_t UtcToUnix(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond)
{
    std::tm t{};
    t.tm_year = nYear - 1900;
    t.tm_mon = nMonth - 1;
    t.tm_mday = nDay;
    t.tm_hour = nHour;
    t.tm_min = nMinute;
    t.tm_sec = nSecond;
    return static_cast<int64_t>(::timegm(&t));
}

// Dates are days of the local calendar, whatever zone they come with.
int64_t ToUnix(const icaltimetype& tt, const CAnchor& anchor)
{
    if (tt.is_date) {
        return LocalToUnix(tt.year, tt.month, tt.day, 0, 0, 0);
    }
    switch (anchor.eKind) {
    case CAnchor::UTC: return UtcToUnix(tt.year, tt.month, tt.day, tt.hour, tt.minute, tt.second);
    case CAnchor::ZONE: {
        icaltimetype local = tt;
        local.zone = nullptr;
        int bDaylight = 0;
        const int nOffset = icaltimezone_get_utc_offset(anchor.pZone, &local, &bDaylight);
        return UtcToUnix(tt.year, tt.month, tt.day, tt.hour, tt.minute, tt.second) - nOffset;
    }
    case CAnchor::LOCAL:
    default: return LocalToUnix(tt.year, tt.month, tt.day, tt.hour, tt.minute, tt.second);
    }
}

// The calendar day (yyyymmdd) on which llTime falls, on the anchor's clock.
int DayOf(int64_t llTime, const CAnchor& anchor)
{
    const time_t t = static_cast<time_t>(llTime);
    if (anchor.eKind == CAnchor::ZONE) {
        const icaltimetype tt = icaltime_from_timet_with_zone(t, 0, anchor.pZone);
        return tt.year * 10000 + tt.month * 100 + tt.day;
    }
    std::tm parts{};
    if (anchor.eKind == CAnchor::UTC) {
        ::gmtime_r(&t, &parts);
    } else {
        ::localtime_r(&t, &parts);
    }
    return (parts.tm_year + 1900) * 10000 + (parts.tm_mon + 1) * 100 + parts.tm_mday;
}

// Local midnight nDays after the local day of llTime.
int64_t LocalDaysLater(int64_t llTime, int64_t nDays)
{
    const time_t t = static_cast<time_t>(llTime);
    std::tm parts{};
    ::localtime_r(&t, &parts);
    return LocalToUnix(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday + static_cast<int>(nDays), 0, 0, 0);
}

// libical reads "2024-13-45" as a date without complaint, so the fields are checked here.
bool IsValidTime(const icaltimetype& tt)
{
    if (icaltime_is_null_time(tt) || tt.year < 1 || tt.year > 9999 || tt.month < 1 || tt.month > 12 || tt.day < 1 ||
        tt.day > icaltime_days_in_month(tt.month, tt.year)) {
        return false;
    }
    return tt.is_date ||
           (tt.hour >= 0 && tt.hour <= 23 && tt.minute >= 0 && tt.minute <= 59 && tt.second >= 0 && tt.second <= 60);
}

// The VTIMEZONEs of one VCALENDAR by TZID, with libical's own zone database behind
// them for files that name a well-known zone without defining it.
class CZones {
public:
    explicit CZones(icalcomponent* pCalendar)
    {
        for (icalcomponent* p = icalcomponent_get_first_component(pCalendar, ICAL_VTIMEZONE_COMPONENT); p != nullptr;
             p = icalcomponent_get_next_component(pCalendar, ICAL_VTIMEZONE_COMPONENT)) {
            icalproperty* pTzid = icalcomponent_get_first_property(p, ICAL_TZID_PROPERTY);
            const std::string strTzid = pTzid != nullptr ? Text(icalproperty_get_tzid(pTzid)) : "";
            if (strTzid.empty() || m_zones.count(strTzid) != 0) {
                continue;  // the first definition wins
            }
            icaltimezone* pZone = icaltimezone_new();
            // The zone owns the copy from here on and frees it with itself.
            if (pZone == nullptr || icaltimezone_set_component(pZone, icalcomponent_new_clone(p)) == 0) {
                if (pZone != nullptr) {
                    icaltimezone_free(pZone, 1);
                }
                continue;
            }
            m_zones.emplace(strTzid, pZone);
        }
    }

    ~CZones()
    {
        for (auto& entry : m_zones) {
            icaltimezone_free(entry.second, 1);
        }
    }

    CZones(const CZones&) = delete;
    CZones& operator=(const CZones&) = delete;

    icaltimezone* Find(const std::string& strTzid) const
    {
        const auto it = m_zones.find(strTzid);
        if (it != m_zones.end()) {
            return it->second;
        }
        if (strTzid.empty()) {
            return nullptr;
        }
        // Full libical TZIDs ("/freeassociation.sourceforge.net/Europe/Berlin", "UTC")
        // first, then plain Olson names.
        if (icaltimezone* pZone = icaltimezone_get_builtin_timezone_from_tzid(strTzid.c_str())) {
            return pZone;
        }
        return icaltimezone_get_builtin_timezone(strTzid.c_str());
    }

private:
    std::map<std::string, icaltimezone*> m_zones;
};

// Anchors the time value tt of pProp: UTC when it says so, its TZID's zone, or local.
bool ResolveTime(icalproperty* pProp, const icaltimetype& tt, const CZones& zones, CTimeValue& value,
                 std::string& strWhy)
{
    const std::string strName = Text(icalproperty_get_property_name(pProp));
    if (!IsValidTime(tt)) {
        strWhy = "invalid date or time in " + strName + ": " + Text(icalproperty_get_value_as_string(pProp));
        return false;
    }
    value.tt = tt;
    value.anchor = CAnchor();
    if (tt.is_date) {
        return true;
    }
    if (icaltime_is_utc(tt)) {
        value.anchor.eKind = CAnchor::UTC;
        return true;
    }
    icalparameter* pTzid = icalproperty_get_first_parameter(pProp, ICAL_TZID_PARAMETER);
    if (pTzid == nullptr) {
        return true;  // floating: the reader's own clock
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

// Start plus a duration: weeks and days on the wall clock of the start (a day is not
// always 86400 seconds), hours to seconds as exact time.
int64_t AddDuration(const CTimeValue& start, int64_t llStart, const icaldurationtype& duration)
{
    const int nSign = duration.is_neg ? -1 : 1;
    const int nDays = static_cast<int>(duration.weeks * 7 + duration.days);
    int64_t llEnd = llStart;
    if (nDays != 0) {
        icaltimetype tt = start.tt;
        icaltime_adjust(&tt, nSign * nDays, 0, 0, 0);
        llEnd = ToUnix(tt, start.anchor);
    }
    const int64_t llExact = int64_t(duration.hours) * 3600 + int64_t(duration.minutes) * 60 + duration.seconds;
    return llEnd + nSign * llExact;
}

// --- Reading ---------------------------------------------------------------------

// One VEVENT of the file, read but not yet expanded.
struct CVevent {
    icalcomponent* pComp = nullptr;
    const CZones* pZones = nullptr;
    std::string strName;  // how messages name it
    std::string strUid;
    std::string strSummary;
    std::string strDescription;
    std::string strLocation;
    CTimeValue start;
    bool bAllDay = false;
    int64_t llBegin = 0;
    int64_t llEnd = 0;
    bool bOverride = false;  // has a RECURRENCE-ID
    int64_t llRecurrenceId = 0;
    bool bCancelled = false;
    bool bRepeats = false;  // has an RRULE or RDATE
    int nSequence = 0;
};

std::string NameOf(icalcomponent* pComp, size_t nIndex)
{
    const std::string strUid = Text(icalcomponent_get_uid(pComp));
    if (!strUid.empty()) {
        return "event \"" + strUid + "\"";
    }
    const std::string strSummary = Text(icalcomponent_get_summary(pComp));
    if (!strSummary.empty()) {
        return "event \"" + strSummary + "\"";
    }
    return "event " + std::to_string(nIndex + 1) + " of the file";
}

// libical marks what it could not parse with X-LIC-ERROR properties and drops the
// value. Some of these are harmless: empty values (Google writes "DESCRIPTION:" for
// every event without one), names it does not know (other vendors' extensions, which
// readers are to ignore) and odd parameters (the value itself was kept).
bool IsHarmless(icalproperty* pError)
{
    icalparameter* pType = icalproperty_get_first_parameter(pError, ICAL_XLICERRORTYPE_PARAMETER);
    if (pType == nullptr) {
        return false;
    }
    switch (icalparameter_get_xlicerrortype(pType)) {
    case ICAL_XLICERRORTYPE_PROPERTYPARSEERROR:
    case ICAL_XLICERRORTYPE_PARAMETERNAMEPARSEERROR:
    case ICAL_XLICERRORTYPE_PARAMETERVALUEPARSEERROR: return true;
    case ICAL_XLICERRORTYPE_VALUEPARSEERROR: return Text(icalproperty_get_xlicerror(pError)).rfind("No value", 0) == 0;
    default: return false;
    }
}

bool ReadVevent(icalcomponent* pComp, const CZones& zones, size_t nIndex, CVevent& ev, std::string& strError)
{
    ev.pComp = pComp;
    ev.pZones = &zones;
    ev.strName = NameOf(pComp, nIndex);
    for (icalproperty* p = icalcomponent_get_first_property(pComp, ICAL_XLICERROR_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(pComp, ICAL_XLICERROR_PROPERTY)) {
        if (!IsHarmless(p)) {
            strError = ev.strName + ": " + Text(icalproperty_get_xlicerror(p));
            return false;
        }
    }

    std::string strWhy;
    icalproperty* pStart = icalcomponent_get_first_property(pComp, ICAL_DTSTART_PROPERTY);
    if (pStart == nullptr) {
        strError = ev.strName + " has no DTSTART";
        return false;
    }
    if (!ResolveTime(pStart, icalproperty_get_dtstart(pStart), zones, ev.start, strWhy)) {
        strError = ev.strName + ": " + strWhy;
        return false;
    }
    ev.bAllDay = ev.start.tt.is_date != 0;
    ev.llBegin = ToUnix(ev.start.tt, ev.start.anchor);

    if (icalproperty* pEnd = icalcomponent_get_first_property(pComp, ICAL_DTEND_PROPERTY)) {
        CTimeValue end;
        if (!ResolveTime(pEnd, icalproperty_get_dtend(pEnd), zones, end, strWhy)) {
            strError = ev.strName + ": " + strWhy;
            return false;
        }
        ev.llEnd = ToUnix(end.tt, end.anchor);
    } else if (icalproperty* pDuration = icalcomponent_get_first_property(pComp, ICAL_DURATION_PROPERTY)) {
        const icaldurationtype duration = icalproperty_get_duration(pDuration);
        if (icaldurationtype_is_bad_duration(duration)) {
            strError = ev.strName + ": invalid DURATION " + Text(icalproperty_get_value_as_string(pDuration));
            return false;
        }
        ev.llEnd = AddDuration(ev.start, ev.llBegin, duration);
    } else {
        ev.llEnd = ev.bAllDay ? LocalDaysLater(ev.llBegin, 1) : ev.llBegin;
    }
    // An end before the start is taken as no end; an all-day event lasts a day at least.
    if (ev.llEnd < ev.llBegin || (ev.bAllDay && ev.llEnd == ev.llBegin)) {
        ev.llEnd = ev.bAllDay ? LocalDaysLater(ev.llBegin, 1) : ev.llBegin;
    }

    if (icalproperty* pRid = icalcomponent_get_first_property(pComp, ICAL_RECURRENCEID_PROPERTY)) {
        CTimeValue rid;
        if (!ResolveTime(pRid, icalproperty_get_recurrenceid(pRid), zones, rid, strWhy)) {
            strError = ev.strName + ": " + strWhy;
            return false;
        }
        ev.bOverride = true;
        ev.llRecurrenceId = ToUnix(rid.tt, rid.anchor);
    }

    ev.strUid = Text(icalcomponent_get_uid(pComp));
    ev.strSummary = Text(icalcomponent_get_summary(pComp));
    ev.strDescription = Text(icalcomponent_get_description(pComp));
    ev.strLocation = Text(icalcomponent_get_location(pComp));
    ev.bCancelled = icalcomponent_get_status(pComp) == ICAL_STATUS_CANCELLED;
    ev.bRepeats = icalcomponent_get_first_property(pComp, ICAL_RRULE_PROPERTY) != nullptr ||
                  icalcomponent_get_first_property(pComp, ICAL_RDATE_PROPERTY) != nullptr;
    if (icalcomponent_get_first_property(pComp, ICAL_SEQUENCE_PROPERTY) != nullptr) {
        ev.nSequence = icalcomponent_get_sequence(pComp);
    }
    return true;
}

CIcsEvent ToEvent(const CVevent& ev)
{
    CIcsEvent out;
    out.strUid = ev.strUid;
    out.llBegin = ev.llBegin;
    out.llEnd = ev.llEnd;
    out.bAllDay = ev.bAllDay;
    out.strSummary = ev.strSummary;
    out.strDescription = ev.strDescription;
    out.strLocation = ev.strLocation;
    out.llRecurrenceId = ev.bOverride ? ev.llRecurrenceId : 0;
    return out;
}

// One start of a series; RDATE periods bring their own end.
struct COccurrence {
    int64_t llStart = 0;
    bool bOwnEnd = false;
    int64_t llEnd = 0;
};

// The starts of a series up to the horizon, in time order, without its EXDATEs.
bool ExpandSeries(const CVevent& master, int64_t llHorizon, std::vector<COccurrence>& occurrences,
                  std::string& strError)
{
    icalcomponent* pComp = master.pComp;
    const CZones& zones = *master.pZones;
    std::string strWhy;

    // DTSTART always counts as the first occurrence, whether or not the rule matches it.
    if (master.llBegin <= llHorizon) {
        occurrences.push_back(COccurrence{master.llBegin, false, 0});
    }

    for (icalproperty* p = icalcomponent_get_first_property(pComp, ICAL_RRULE_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(pComp, ICAL_RRULE_PROPERTY)) {
        icalrecurrencetype rule = icalproperty_get_rrule(p);
        // A UTC UNTIL on a floating or all-day series (a common slip) is meant on the
        // local clock; libical would compare it with the local times as if they were UTC.
        if (master.start.anchor.eKind == CAnchor::LOCAL && !icaltime_is_null_time(rule.until) &&
            icaltime_is_utc(rule.until)) {
            const time_t until = static_cast<time_t>(UtcToUnix(rule.until.year, rule.until.month, rule.until.day,
                                                               rule.until.hour, rule.until.minute, rule.until.second));
            std::tm parts{};
            ::localtime_r(&until, &parts);
            rule.until = icaltime_null_time();
            rule.until.year = parts.tm_year + 1900;
            rule.until.month = parts.tm_mon + 1;
            rule.until.day = parts.tm_mday;
            rule.until.hour = parts.tm_hour;
            rule.until.minute = parts.tm_min;
            rule.until.second = parts.tm_sec;
        }
        icaltimetype first = master.start.tt;
        if (!first.is_date) {
            // With its zone the iterator compares the starts to a UTC UNTIL correctly.
            if (master.start.anchor.eKind == CAnchor::ZONE) {
                first = icaltime_set_timezone(&first, master.start.anchor.pZone);
            } else if (master.start.anchor.eKind == CAnchor::UTC) {
                first = icaltime_set_timezone(&first, icaltimezone_get_utc_timezone());
            }
        }
        icalrecur_iterator* pIter = icalrecur_iterator_new(rule, first);
        if (pIter == nullptr) {
            strError = master.strName + ": cannot expand RRULE " + Text(icalproperty_get_value_as_string(p));
            return false;
        }
        std::vector<int64_t> starts;
        bool bHasFirst = false;
        while (occurrences.size() + starts.size() < kMaxOccurrencesPerSeries) {
            const icaltimetype tt = icalrecur_iterator_next(pIter);
            if (icaltime_is_null_time(tt)) {
                break;
            }
            const int64_t llStart = ToUnix(tt, master.start.anchor);
            if (llStart > llHorizon) {
                break;
            }
            if (llStart == master.llBegin) {
                bHasFirst = true;
            } else {
                starts.push_back(llStart);
            }
        }
        icalrecur_iterator_free(pIter);
        // When the rule itself does not produce DTSTART, DTSTART still takes one of
        // the COUNT places.
        if (!bHasFirst && rule.count > 0 && starts.size() >= static_cast<size_t>(rule.count)) {
            starts.resize(static_cast<size_t>(rule.count - 1));
        }
        for (int64_t llStart : starts) {
            occurrences.push_back(COccurrence{llStart, false, 0});
        }
    }

    for (icalproperty* p = icalcomponent_get_first_property(pComp, ICAL_RDATE_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(pComp, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
        const bool bPeriod = icaltime_is_null_time(rdate.time);
        CTimeValue value;
        if (!ResolveTime(p, bPeriod ? rdate.period.start : rdate.time, zones, value, strWhy)) {
            strError = master.strName + ": " + strWhy;
            return false;
        }
        COccurrence occurrence;
        occurrence.llStart = ToUnix(value.tt, value.anchor);
        if (bPeriod) {
            occurrence.bOwnEnd = true;
            if (!icaltime_is_null_time(rdate.period.end)) {
                CTimeValue end;
                if (!ResolveTime(p, rdate.period.end, zones, end, strWhy)) {
                    strError = master.strName + ": " + strWhy;
                    return false;
                }
                occurrence.llEnd = ToUnix(end.tt, end.anchor);
            } else {
                occurrence.llEnd = AddDuration(value, occurrence.llStart, rdate.period.duration);
            }
            occurrence.llEnd = std::max(occurrence.llEnd, occurrence.llStart);
        }
        if (occurrence.llStart <= llHorizon && occurrences.size() < kMaxOccurrencesPerSeries) {
            occurrences.push_back(occurrence);
        }
    }

    // EXDATEs match a start exactly; a date on a series with times removes that whole day.
    std::set<int64_t> excluded;
    std::set<int> excludedDays;
    for (icalproperty* p = icalcomponent_get_first_property(pComp, ICAL_EXDATE_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(pComp, ICAL_EXDATE_PROPERTY)) {
        CTimeValue value;
        if (!ResolveTime(p, icalproperty_get_exdate(p), zones, value, strWhy)) {
            strError = master.strName + ": " + strWhy;
            return false;
        }
        if (value.tt.is_date && !master.bAllDay) {
            excludedDays.insert(value.tt.year * 10000 + value.tt.month * 100 + value.tt.day);
        } else {
            excluded.insert(ToUnix(value.tt, value.anchor));
        }
    }

    std::stable_sort(occurrences.begin(), occurrences.end(),
                     [](const COccurrence& a, const COccurrence& b) { return a.llStart < b.llStart; });
    occurrences.erase(std::unique(occurrences.begin(), occurrences.end(),
                                  [](const COccurrence& a, const COccurrence& b) { return a.llStart == b.llStart; }),
                      occurrences.end());
    occurrences.erase(std::remove_if(occurrences.begin(), occurrences.end(),
                                     [&](const COccurrence& o) {
                                         return excluded.count(o.llStart) != 0 ||
                                                (!excludedDays.empty() &&
                                                 excludedDays.count(DayOf(o.llStart, master.start.anchor)) != 0);
                                     }),
                      occurrences.end());
    return true;
}

// A master event with its occurrences and the overrides that replace some of them.
bool EmitSeries(const CVevent& master, const std::vector<const CVevent*>& overrides, int64_t llHorizon,
                std::vector<CIcsEvent>& events, std::string& strError)
{
    std::vector<COccurrence> occurrences;
    if (master.bRepeats) {
        if (!ExpandSeries(master, llHorizon, occurrences, strError)) {
            return false;
        }
    } else {
        occurrences.push_back(COccurrence{master.llBegin, true, master.llEnd});
    }

    // Of two overrides for the same start, the higher SEQUENCE (or the later one) wins.
    std::map<int64_t, const CVevent*> byStart;
    for (const CVevent* pOverride : overrides) {
        const CVevent*& pSlot = byStart[pOverride->llRecurrenceId];
        if (pSlot == nullptr || pOverride->nSequence >= pSlot->nSequence) {
            pSlot = pOverride;
        }
    }

    // Occurrences keep the master's length: whole local days for all-day events, so
    // that a day across a clock change still ends at midnight.
    const int64_t llLength = master.llEnd - master.llBegin;
    const int64_t nDays = std::max<int64_t>(1, (llLength + kSecondsPerDay / 2) / kSecondsPerDay);

    std::vector<CIcsEvent> series;
    for (const COccurrence& occurrence : occurrences) {
        const auto it = byStart.find(occurrence.llStart);
        if (it != byStart.end()) {
            const CVevent& replacement = *it->second;
            byStart.erase(it);
            if (!replacement.bCancelled && (!master.bRepeats || replacement.llBegin <= llHorizon)) {
                series.push_back(ToEvent(replacement));
            }
            continue;
        }
        CIcsEvent event = ToEvent(master);
        event.llBegin = occurrence.llStart;
        if (occurrence.bOwnEnd) {
            event.llEnd = occurrence.llEnd;
        } else if (master.bAllDay) {
            event.llEnd = LocalDaysLater(occurrence.llStart, nDays);
        } else {
            event.llEnd = occurrence.llStart + llLength;
        }
        event.llRecurrenceId = master.bRepeats ? occurrence.llStart : 0;
        series.push_back(event);
    }
    // Overrides of starts the series does not have (moved in from beyond the
    // horizon, or of a changed rule) still show, rather than vanish.
    for (const CVevent* pOverride : overrides) {
        const auto it = byStart.find(pOverride->llRecurrenceId);
        if (it == byStart.end() || it->second != pOverride) {
            continue;
        }
        if (!pOverride->bCancelled && (!master.bRepeats || pOverride->llBegin <= llHorizon)) {
            series.push_back(ToEvent(*pOverride));
        }
    }

    std::stable_sort(series.begin(), series.end(),
                     [](const CIcsEvent& a, const CIcsEvent& b) { return a.llBegin < b.llBegin; });
    events.insert(events.end(), series.begin(), series.end());
    return true;
}

bool ReadWholeFile(const std::string& strPath, std::string& strContent, std::string& strError)
{
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        strError = "cannot open " + strPath + ": " + SystemError(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        strError = "cannot read " + strPath + ": " + SystemError(EISDIR);
        return false;
    }
    strContent.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t cb = ::read(fd, buffer, sizeof(buffer));
        if (cb < 0 && errno == EINTR) {
            continue;
        }
        if (cb < 0) {
            const int nErr = errno;
            ::close(fd);
            strError = "cannot read " + strPath + ": " + SystemError(nErr);
            return false;
        }
        if (cb == 0) {
            break;
        }
        strContent.append(buffer, static_cast<size_t>(cb));
    }
    ::close(fd);
    return true;
}

bool HasBeginLine(const std::string& strContent)
{
    for (size_t nPos = 0; nPos < strContent.size();) {
        if (strContent.compare(nPos, 6, "BEGIN:") == 0) {
            return true;
        }
        const size_t nEol = strContent.find('\n', nPos);
        if (nEol == std::string::npos) {
            break;
        }
        nPos = nEol + 1;
    }
    return false;
}

// --- Writing ---------------------------------------------------------------------

icaltimetype LocalDate(int64_t llTime)
{
    const time_t t = static_cast<time_t>(llTime);
    std::tm parts{};
    ::localtime_r(&t, &parts);
    icaltimetype tt = icaltime_null_date();
    tt.year = parts.tm_year + 1900;
    tt.month = parts.tm_mon + 1;
    tt.day = parts.tm_mday;
    return tt;
}

icaltimetype UtcTime(int64_t llTime)
{
    return icaltime_from_timet_with_zone(static_cast<time_t>(llTime), 0, icaltimezone_get_utc_timezone());
}

icalcomponent* NewVevent(const CIcsEvent& event, const icaltimetype& stamp)
{
    icalcomponent* pEvent = icalcomponent_new_vevent();
    // No UID line for an empty UID: libical refuses its own "UID:" on reading.
    if (!event.strUid.empty()) {
        icalcomponent_add_property(pEvent, icalproperty_new_uid(event.strUid.c_str()));
    }
    icalcomponent_add_property(pEvent, icalproperty_new_dtstamp(stamp));
    if (event.bAllDay) {
        const icaltimetype start = LocalDate(event.llBegin);
        // DTEND is exclusive: an end inside a day takes in that whole day.
        icaltimetype end = LocalDate(event.llEnd);
        if (LocalToUnix(end.year, end.month, end.day, 0, 0, 0) < event.llEnd) {
            icaltime_adjust(&end, 1, 0, 0, 0);
        }
        if (icaltime_compare_date_only(end, start) <= 0) {
            end = start;
            icaltime_adjust(&end, 1, 0, 0, 0);
        }
        icalcomponent_add_property(pEvent, icalproperty_new_dtstart(start));
        icalcomponent_add_property(pEvent, icalproperty_new_dtend(end));
        if (event.llRecurrenceId != 0) {
            icalcomponent_add_property(pEvent, icalproperty_new_recurrenceid(LocalDate(event.llRecurrenceId)));
        }
    } else {
        icalcomponent_add_property(pEvent, icalproperty_new_dtstart(UtcTime(event.llBegin)));
        icalcomponent_add_property(pEvent, icalproperty_new_dtend(UtcTime(std::max(event.llEnd, event.llBegin))));
        if (event.llRecurrenceId != 0) {
            icalcomponent_add_property(pEvent, icalproperty_new_recurrenceid(UtcTime(event.llRecurrenceId)));
        }
    }
    if (!event.strSummary.empty()) {
        icalcomponent_add_property(pEvent, icalproperty_new_summary(event.strSummary.c_str()));
    }
    if (!event.strDescription.empty()) {
        icalcomponent_add_property(pEvent, icalproperty_new_description(event.strDescription.c_str()));
    }
    if (!event.strLocation.empty()) {
        icalcomponent_add_property(pEvent, icalproperty_new_location(event.strLocation.c_str()));
    }
    return pEvent;
}

bool WriteAll(int fd, const std::string& strData)
{
    size_t nDone = 0;
    while (nDone < strData.size()) {
        const ssize_t cb = ::write(fd, strData.data() + nDone, strData.size() - nDone);
        if (cb < 0 && errno == EINTR) {
            continue;
        }
        if (cb <= 0) {
            return false;
        }
        nDone += static_cast<size_t>(cb);
    }
    return true;
}

// Writes into a new file beside the target and renames it over the target, so
// that readers see the old file or the complete new one, never half of it.
bool ReplaceFile(const std::string& strPath, const std::string& strData, std::string& strError)
{
    static std::atomic<unsigned> s_nCounter{0};
    std::string strTemp;
    int fd = -1;
    for (int nTry = 0; nTry < 100 && fd < 0; ++nTry) {
        strTemp = strPath + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(s_nCounter++);
        fd = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        strError = "cannot write " + strPath + ": " + SystemError(errno);
        return false;
    }
    const bool bWritten = WriteAll(fd, strData) && ::fsync(fd) == 0;
    int nErr = errno;
    const bool bClosed = ::close(fd) == 0;
    if (bWritten && !bClosed) {
        nErr = errno;
    }
    if (!bWritten || !bClosed) {
        ::unlink(strTemp.c_str());
        strError = "cannot write " + strPath + ": " + SystemError(nErr);
        return false;
    }
    if (::rename(strTemp.c_str(), strPath.c_str()) != 0) {
        nErr = errno;
        ::unlink(strTemp.c_str());
        strError = "cannot write " + strPath + ": " + SystemError(nErr);
        return false;
    }
    return true;
}

}  // namespace

bool ReadIcsFile(const std::string& strPath, int64_t llHorizon, CIcsImport& result, std::string& strError)
{
    // The caller's result changes only on success.
    CIcsImport imported;
    strError.clear();
    std::string strContent;
    if (!ReadWholeFile(strPath, strContent, strError)) {
        return false;
    }
    if (strContent.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        strContent.erase(0, 3);
    }
    if (strContent.find('\0') != std::string::npos) {
        strError = strPath + ": not an iCalendar file (binary data, or not UTF-8)";
        return false;
    }

    CComponentPtr pRoot(icalparser_parse_string(strContent.c_str()));
    if (pRoot == nullptr) {
        strError = strPath + (HasBeginLine(strContent) ? ": cannot parse the iCalendar data (cut short?)"
                                                       : ": not an iCalendar file");
        return false;
    }
    // Several VCALENDARs in one file come back inside an XROOT.
    std::vector<icalcomponent*> calendars;
    const icalcomponent_kind eRootKind = icalcomponent_isa(pRoot.get());
    if (eRootKind == ICAL_VCALENDAR_COMPONENT) {
        calendars.push_back(pRoot.get());
    } else if (eRootKind == ICAL_XROOT_COMPONENT) {
        for (icalcomponent* p = icalcomponent_get_first_component(pRoot.get(), ICAL_VCALENDAR_COMPONENT); p != nullptr;
             p = icalcomponent_get_next_component(pRoot.get(), ICAL_VCALENDAR_COMPONENT)) {
            calendars.push_back(p);
        }
    }
    if (calendars.empty()) {
        strError =
            strPath + ": no VCALENDAR in the file (it holds a " + Text(icalcomponent_kind_to_string(eRootKind)) + ")";
        return false;
    }

    std::vector<std::unique_ptr<CZones>> zones;
    std::vector<CVevent> vevents;
    for (icalcomponent* pCalendar : calendars) {
        for (icalproperty* p = icalcomponent_get_first_property(pCalendar, ICAL_X_PROPERTY);
             p != nullptr && imported.strCalendarName.empty();
             p = icalcomponent_get_next_property(pCalendar, ICAL_X_PROPERTY)) {
            if (Text(icalproperty_get_x_name(p)) == "X-WR-CALNAME") {
                imported.strCalendarName = Text(icalproperty_get_x(p));
            }
        }
        // Junk between the components, as between the properties of an event.
        for (icalproperty* p = icalcomponent_get_first_property(pCalendar, ICAL_XLICERROR_PROPERTY); p != nullptr;
             p = icalcomponent_get_next_property(pCalendar, ICAL_XLICERROR_PROPERTY)) {
            if (!IsHarmless(p)) {
                strError = strPath + ": " + Text(icalproperty_get_xlicerror(p));
                return false;
            }
        }
        zones.push_back(std::make_unique<CZones>(pCalendar));
        for (icalcomponent* p = icalcomponent_get_first_component(pCalendar, ICAL_VEVENT_COMPONENT); p != nullptr;
             p = icalcomponent_get_next_component(pCalendar, ICAL_VEVENT_COMPONENT)) {
            CVevent ev;
            if (!ReadVevent(p, *zones.back(), vevents.size(), ev, strError)) {
                strError = strPath + ": " + strError;
                return false;
            }
            vevents.push_back(std::move(ev));
        }
    }

    // Overrides go with the first master of their UID; those without one stand alone.
    std::map<std::string, size_t> masters;
    for (size_t i = 0; i < vevents.size(); ++i) {
        if (!vevents[i].bOverride && !vevents[i].strUid.empty()) {
            masters.emplace(vevents[i].strUid, i);
        }
    }
    std::map<size_t, std::vector<const CVevent*>> overridesOf;
    for (const CVevent& ev : vevents) {
        if (ev.bOverride && !ev.strUid.empty()) {
            const auto it = masters.find(ev.strUid);
            if (it != masters.end()) {
                overridesOf[it->second].push_back(&ev);
            }
        }
    }

    for (size_t i = 0; i < vevents.size(); ++i) {
        const CVevent& ev = vevents[i];
        if (ev.bOverride) {
            if (ev.strUid.empty() || masters.count(ev.strUid) == 0) {
                if (!ev.bCancelled) {
                    imported.events.push_back(ToEvent(ev));
                }
            }
            continue;
        }
        const auto it = overridesOf.find(i);
        if (!ev.bRepeats && it == overridesOf.end()) {
            imported.events.push_back(ToEvent(ev));
            continue;
        }
        static const std::vector<const CVevent*> s_none;
        if (!EmitSeries(ev, it != overridesOf.end() ? it->second : s_none, llHorizon, imported.events, strError)) {
            strError = strPath + ": " + strError;
            return false;
        }
    }
    result = std::move(imported);
    return true;
}

bool WriteIcsFile(const std::string& strPath, const std::string& strCalendarName, const std::vector<CIcsEvent>& events,
                  std::string& strError)
{
    strError.clear();
    CComponentPtr pCalendar(icalcomponent_new_vcalendar());
    if (pCalendar == nullptr) {
        strError = "cannot write " + strPath + ": out of memory";
        return false;
    }
    icalcomponent_add_property(pCalendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(pCalendar.get(), icalproperty_new_prodid("-//Brellin//calstore//EN"));
    if (!strCalendarName.empty()) {
        icalproperty* pName = icalproperty_new_x(strCalendarName.c_str());
        icalproperty_set_x_name(pName, "X-WR-CALNAME");
        icalcomponent_add_property(pCalendar.get(), pName);
    }
    const icaltimetype stamp = UtcTime(static_cast<int64_t>(std::time(nullptr)));
    for (const CIcsEvent& event : events) {
        icalcomponent_add_component(pCalendar.get(), NewVevent(event, stamp));
    }

    char* pszText = icalcomponent_as_ical_string_r(pCalendar.get());
    if (pszText == nullptr) {
        strError = "cannot write " + strPath + ": libical could not format the calendar";
        return false;
    }
    const std::string strText = pszText;
    icalmemory_free_buffer(pszText);
    return ReplaceFile(strPath, strText, strError);
}
