// Repeating events: a VEVENT with RRULE or RDATE becomes its occurrences up to a
// horizon, without those its EXDATEs remove, with those other VEVENTs of its UID
// replace (RECURRENCE-ID, also for a whole future with RANGE=THISANDFUTURE).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IcsFile.h"
#include "IcsTime.h"

// An RDATE: a start, or a period with its own end.
struct CRdate {
    CTimeValue start;
    bool bPeriod = false;
    int64_t llEnd = 0;  // for a period
};

// One VEVENT as read, its times resolved.
struct CVevent {
    std::string strName;  // how messages name it: event "uid"
    int nLine = 0;
    size_t nIndex = 0;  // place in the file, for ties
    std::string strUid;
    std::shared_ptr<const CIcsTexts> pTexts;
    CTimeValue start;
    int64_t llBegin = 0;
    int64_t llEnd = 0;
    bool bCancelled = false;
    std::vector<icalrecurrencetype> rules;
    std::vector<CRdate> rdates;
    std::vector<CTimeValue> exdates;
    bool bOverride = false;  // has a RECURRENCE-ID
    CTimeValue recurrenceId;
    bool bThisAndFuture = false;
    int nSequence = 0;
    int64_t llModified = 0;  // LAST-MODIFIED, else DTSTAMP

    bool Repeats() const { return !rules.empty() || !rdates.empty(); }
    // Of two copies of one event (or one occurrence), the one the file means.
    bool SupersedesCopy(const CVevent& other) const;
};

// The event as it stands: no series, or a RECURRENCE-ID without its series.
CIcsEvent LoneEvent(const CVevent& ev);

// The occurrences of master up to the horizon, with the overrides of its UID
// applied, appended to events. nTotal counts occurrences over all series. False
// with a message when a bound is broken.
bool EmitSeries(const CVevent& master, const std::vector<const CVevent*>& overrides, const CIcsOptions& options,
                size_t& nTotal, std::vector<CIcsEvent>& events, std::string& strError);
