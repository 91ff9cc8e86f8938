// Times on the command line: ISO 8601 local time or Unix seconds in, local ISO out.
#pragma once

#include <cstdint>
#include <string>

// "2026-12-06", "2026-12-06T09:30", "2026-12-06 09:30:15" (local time, or UTC with
// a trailing "Z"), or Unix seconds ("1765000000", "-60"). False for anything else.
bool ParseTime(const std::string& strText, int64_t& llSeconds);

// True when the store can hold the time: it keeps signed 32-bit seconds.
bool FitsStore(int64_t llSeconds);

// "2026-12-06 09:30" in local time.
std::string FormatLocalTime(int64_t llSeconds);

// "2026-12-06T09:30:00" in local time, for machine-readable output.
std::string FormatIsoLocalTime(int64_t llSeconds);

// Local midnight of the Monday of the week holding llSeconds.
int64_t StartOfWeek(int64_t llSeconds);
