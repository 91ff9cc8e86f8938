// Reading and writing iCalendar files (RFC 5545) for the command-line host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One event as the host stores it: times are Unix seconds (UTC), texts UTF-8.
struct CIcsEvent {
    std::string strUid;   // UID; for an occurrence of a repeating event, that of the series
    int64_t llBegin = 0;  // DTSTART
    int64_t llEnd =
        0;  // DTEND, or DTSTART + DURATION; without either the start again (a day later for an all-day event)
    bool bAllDay = false;        // DTSTART was a date (local midnight to midnight)
    std::string strSummary;      // SUMMARY
    std::string strDescription;  // DESCRIPTION
    std::string strLocation;     // LOCATION
    int64_t llRecurrenceId = 0;  // for an occurrence: its original start; 0 otherwise
};

struct CIcsImport {
    std::string strCalendarName;  // X-WR-CALNAME, when the file names itself
    std::vector<CIcsEvent> events;
};

// Reads every VEVENT of the file. A repeating event (RRULE, RDATE) is expanded into
// its occurrences up to llHorizon (Unix seconds), without the dates its EXDATEs
// remove and with the occurrences that other VEVENTs of the same UID replace
// (RECURRENCE-ID). Times with a time zone (TZID with its VTIMEZONE, or UTC) are
// converted to UTC; floating times and dates are taken as local time. False, with
// a message naming the problem, for an unreadable or malformed file.
bool ReadIcsFile(const std::string& strPath, int64_t llHorizon, CIcsImport& result, std::string& strError);

// Writes the events as one VCALENDAR, times in UTC (all-day events as dates).
bool WriteIcsFile(const std::string& strPath, const std::string& strCalendarName, const std::vector<CIcsEvent>& events,
                  std::string& strError);
