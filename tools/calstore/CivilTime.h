// Calendar arithmetic, written once for the whole host: civil dates and times as
// plain numbers, and the conversions to and from Unix seconds in UTC and in the
// machine's local zone.
#pragma once

#include <cstdint>

// A wall-clock reading: a date and a time of day, in no zone.
struct CCivil {
    int nYear = 1970;
    int nMonth = 1;
    int nDay = 1;
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
};

int DaysInMonth(int nYear, int nMonth);

// True when the fields name a real day (and, unless bDateOnly, a real time of day;
// second 60 is a leap second).
bool IsValidCivil(const CCivil& civil, bool bDateOnly);

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
int64_t DaysFromCivil(int nYear, int nMonth, int nDay);
CCivil CivilFromDays(int64_t llDays);

// A wall-clock reading as if it were UTC, in seconds since 1970; and back. Two
// readings compare and subtract like the clocks that show them.
int64_t CivilToSeconds(const CCivil& civil);
CCivil CivilFromSeconds(int64_t llSeconds);

// The day (days since 1970) of a reading in seconds, rounding down.
int64_t DayOf(int64_t llCivilSeconds);

// The same wall-clock reading nDays later.
CCivil AddDays(const CCivil& civil, int64_t nDays);

// Local time of the machine: the instant a reading shows here (the zone's rules
// settle a repeated or skipped hour), and the reading an instant shows.
int64_t LocalToUnix(const CCivil& civil);
CCivil UnixToLocal(int64_t llUnix);
