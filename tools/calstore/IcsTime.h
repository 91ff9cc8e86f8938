// iCalendar time: the VTIMEZONEs of a file, what a DATE or DATE-TIME value means
// (UTC, a named zone, floating, a date), and its conversions to Unix seconds and to
// the wall clock of a zone.
#pragma once

#include <libical/ical.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "CivilTime.h"
#include "IcsFile.h"

// What a time's wall-clock fields are relative to.
struct CAnchor {
    enum EKind { FLOATING, UTC, ZONE } eKind = FLOATING;
    icaltimezone* pZone = nullptr;  // for ZONE
};

// One DATE or DATE-TIME value with its meaning.
struct CTimeValue {
    CCivil civil;
    bool bDate = false;
    CAnchor anchor;  // FLOATING for a date

    ETimeKind Kind() const
    {
        return bDate ? ETimeKind::DAY : anchor.eKind == CAnchor::FLOATING ? ETimeKind::FLOATING : ETimeKind::INSTANT;
    }
};

// The VTIMEZONEs of a file by TZID, with libical's zone database behind them for
// files that name a well-known zone without defining it.
class CZones {
public:
    CZones() = default;
    ~CZones();
    CZones(const CZones&) = delete;
    CZones& operator=(const CZones&) = delete;

    // The first definition of a TZID wins; pComponent stays the caller's.
    void Add(icalcomponent* pComponent);
    // Null for a TZID nobody defines.
    icaltimezone* Find(const std::string& strTzid) const;

private:
    std::map<std::string, icaltimezone*> m_zones;
};

// The value tt of property pProp with its meaning: UTC when it says so, its TZID's
// zone, else floating. False with the reason for an impossible date or an unknown zone.
bool ResolveTime(icalproperty* pProp, const icaltimetype& tt, const CZones& zones, CTimeValue& value,
                 std::string& strWhy);

// The instant a value stands for; dates and floating times on the machine's clock.
int64_t ToUnix(const CTimeValue& value);

// The wall clock of an anchor at an instant: UTC, the zone's, or the machine's.
CCivil WallAt(int64_t llUnix, const CAnchor& anchor);

// The instant a wall-clock reading of an anchor shows.
int64_t FromWall(const CCivil& civil, const CAnchor& anchor);

// Start plus a duration: weeks and days on the wall clock of the start (a day is
// not always 86400 seconds), hours to seconds as exact time.
int64_t AddDuration(const CTimeValue& start, const icaldurationtype& duration);

// iCalendar's own text of a reading: "20250704", "20250704T090000", with "Z" for UTC.
std::string IcsText(const CCivil& civil, bool bDate, bool bUtc);

icaltimetype ToIcal(const CCivil& civil, bool bDate);
CCivil FromIcal(const icaltimetype& tt);
