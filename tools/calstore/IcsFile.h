// iCalendar files (RFC 5545) for the command-line host: what a file holds once read
// and expanded, and what is written back. Reading is IcsReader.cpp (with IcsTime
// and IcsRecurrence), writing IcsWriter.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How an event's times are meant.
enum class ETimeKind {
    INSTANT,   // UTC or a named zone: the same moment everywhere
    FLOATING,  // a wall-clock time, whatever the reader's zone
    DAY,       // whole days (an all-day event)
};

// The texts of one VEVENT, shared by all its occurrences.
struct CIcsTexts {
    std::string strSummary;
    std::string strDescription;
    std::string strLocation;
};

// One event as the host stores it: times in Unix seconds (floating times and dates
// on the machine's clock), texts UTF-8.
struct CIcsEvent {
    std::string strUid;
    int64_t llBegin = 0;
    int64_t llEnd = 0;  // DTEND, or DTSTART + DURATION; without either the start (a day later for a date)
    ETimeKind eKind = ETimeKind::INSTANT;
    // For an occurrence of a series, or a lone RECURRENCE-ID, the occurrence it is
    // in the series' own terms: "20250704" (date), "20250704T090000" (floating),
    // "20250704T070000Z" (an instant, in UTC); empty otherwise.
    std::string strRecurrenceId;
    std::shared_ptr<const CIcsTexts> pTexts = std::make_shared<CIcsTexts>();
};

// Something of the file that could not be read and was left out.
struct CIcsSkip {
    bool bWholeEvent = false;  // else one property (or one stray line)
    std::string strWhat;       // "RDATE in event \"x@y\"", "event \"x@y\""
    int nLine = 0;
    std::string strWhy;
};

// Bounds on what one file may hold; each can be raised from the command line.
struct CIcsLimits {
    int64_t llMaxFileBytes = 64ll << 20;
    int64_t llMaxLineBytes = 1ll << 20;
    int64_t llMaxPerSeries = 100000;
    int64_t llMaxOccurrences = 1000000;
    int64_t llMaxZoneRules = 1000;  // observances and their RDATEs in one VTIMEZONE
};

struct CIcsOptions {
    int64_t llHorizon = 0;   // repeating events are expanded up to here (Unix seconds)
    bool bStrict = false;    // refuse the file instead of skipping what cannot be read
    std::string strCharset;  // the file's encoding when it is not UTF-8 ("windows-1252")
    CIcsLimits limits;
};

struct CIcsImport {
    std::string strCalendarName;  // X-WR-CALNAME, when the file names itself
    std::vector<CIcsEvent> events;
    std::vector<CIcsSkip> skipped;
    size_t nEndsBeforeStart = 0;  // events (and occurrences) that end before they begin, left out
    size_t nDuplicates = 0;       // older copies of an event that the file holds twice, left out
};

// Reads, checks and expands the whole file. False, with one line naming the file,
// the place and the problem, for a file that cannot be read or breaks a bound.
bool ReadIcsFile(const std::string& strPath, const CIcsOptions& options, CIcsImport& result, std::string& strError);

// Writes the events as one VCALENDAR: instants in UTC, floating times on the
// machine's clock, dates as dates, each occurrence with its RECURRENCE-ID.
bool WriteIcsFile(const std::string& strPath, const std::string& strCalendarName, const std::vector<CIcsEvent>& events,
                  std::string& strError);
