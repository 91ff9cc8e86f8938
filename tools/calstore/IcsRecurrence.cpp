#include "IcsRecurrence.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

std::string Text(const char* psz)
{
    return psz != nullptr ? psz : "";
}

// One start of a series, on the series' own clock and as an instant.
struct COccurrence {
    int64_t llWall = 0;  // the reading of the series' clock (CivilToSeconds)
    int64_t llStart = 0;
    bool bOwnEnd = false;  // an RDATE period
    int64_t llEnd = 0;
};

// A RECURRENCE-ID or EXDATE as the series understands it. A date names the
// occurrences of that day; otherwise a floating series compares wall clocks, an
// all-day series the nearest day, and a series of instants the instant (a floating
// value counts on the series' clock). None of this depends on the machine's zone.
struct CMatch {
    enum EMode { DAY, WALL, INSTANT } eMode = INSTANT;
    int64_t llValue = 0;

    bool AtOrBefore(const COccurrence& occ) const { return Position(eMode, occ) >= llValue; }
    std::pair<EMode, int64_t> Key() const { return {eMode, llValue}; }

    static int64_t Position(EMode eMode, const COccurrence& occ)
    {
        return eMode == DAY ? DayOf(occ.llWall) : eMode == WALL ? occ.llWall : occ.llStart;
    }
};

using CMatchKey = std::pair<CMatch::EMode, int64_t>;

// Every way a value can name this occurrence.
std::vector<CMatchKey> KeysOf(const COccurrence& occ)
{
    std::vector<CMatchKey> keys;
    for (const CMatch::EMode eMode : {CMatch::INSTANT, CMatch::WALL, CMatch::DAY}) {
        keys.emplace_back(eMode, CMatch::Position(eMode, occ));
    }
    return keys;
}

CMatch MatchFor(const CTimeValue& value, const CTimeValue& seriesStart)
{
    CMatch match;
    const ETimeKind eSeries = seriesStart.Kind();
    if (value.bDate) {
        match.eMode = CMatch::DAY;
        match.llValue = DaysFromCivil(value.civil.nYear, value.civil.nMonth, value.civil.nDay);
    } else if (eSeries == ETimeKind::DAY) {
        match.eMode = CMatch::DAY;
        match.llValue = DayOf(CivilToSeconds(value.civil) + 43200);
    } else if (eSeries == ETimeKind::FLOATING) {
        match.eMode = CMatch::WALL;
        match.llValue = CivilToSeconds(value.civil);
    } else {
        match.eMode = CMatch::INSTANT;
        match.llValue =
            value.anchor.eKind == CAnchor::FLOATING ? FromWall(value.civil, seriesStart.anchor) : ToUnix(value);
    }
    return match;
}

// The identity of an occurrence in the series' own terms.
std::string OccurrenceKey(const COccurrence& occ, ETimeKind eSeries)
{
    switch (eSeries) {
    case ETimeKind::DAY: return IcsText(CivilFromSeconds(occ.llWall), true, false);
    case ETimeKind::FLOATING: return IcsText(CivilFromSeconds(occ.llWall), false, false);
    case ETimeKind::INSTANT:
    default: return IcsText(CivilFromSeconds(occ.llStart), false, true);
    }
}

std::string OwnKey(const CTimeValue& value)
{
    if (value.Kind() == ETimeKind::INSTANT) {
        return IcsText(CivilFromSeconds(ToUnix(value)), false, true);
    }
    return IcsText(value.civil, value.bDate, false);
}

bool IsSubDaily(icalrecurrencetype_frequency eFreq)
{
    return eFreq == ICAL_SECONDLY_RECURRENCE || eFreq == ICAL_MINUTELY_RECURRENCE || eFreq == ICAL_HOURLY_RECURRENCE;
}

int64_t StepSeconds(const icalrecurrencetype& rule)
{
    const int64_t llUnit = rule.freq == ICAL_SECONDLY_RECURRENCE   ? 1
                           : rule.freq == ICAL_MINUTELY_RECURRENCE ? 60
                                                                   : 3600;
    return llUnit * std::max<int64_t>(1, rule.interval);
}

std::string TooMany(const CVevent& master, const CIcsLimits& limits)
{
    return master.strName + " (line " + std::to_string(master.nLine) + ") repeats more than " +
           std::to_string(limits.llMaxPerSeries) + " times up to the horizon (raise the bound with --max-series)";
}

bool ExpandRule(const CVevent& master, icalrecurrencetype rule, int64_t llHorizon, const CIcsLimits& limits,
                std::vector<COccurrence>& occurrences, std::string& strError)
{
    const CAnchor& anchor = master.start.anchor;
    const bool bInstant = master.start.Kind() == ETimeKind::INSTANT;
    // A UTC UNTIL on a floating or all-day series (a common slip) was written from
    // the writer's clock; counting it on the latest clock on earth keeps its last
    // occurrence whatever our zone.
    if (!bInstant && !icaltime_is_null_time(rule.until) && icaltime_is_utc(rule.until)) {
        const CCivil until = CivilFromSeconds(CivilToSeconds(FromIcal(rule.until)) + 14 * 3600);
        rule.until = ToIcal(until, master.start.bDate);
    }
    if (IsSubDaily(rule.freq)) {
        // libical steps through every second, minute or hour looking for matches, and
        // never ends when a BY part cannot match: stop it at the horizon, and refuse
        // what would take too many steps to get there.
        const int64_t llSteps = (llHorizon - master.llBegin) / StepSeconds(rule);
        if (llSteps > 20 * limits.llMaxPerSeries) {
            strError = TooMany(master, limits);
            return false;
        }
        const icaltimetype horizon =
            bInstant ? icaltime_from_timet_with_zone(static_cast<time_t>(llHorizon), 0, icaltimezone_get_utc_timezone())
                     : ToIcal(UnixToLocal(llHorizon), false);
        if (icaltime_is_null_time(rule.until) || icaltime_compare(horizon, rule.until) < 0) {
            rule.until = horizon;
        }
    }
    icaltimetype first = ToIcal(master.start.civil, master.start.bDate);
    if (anchor.eKind == CAnchor::ZONE) {
        // With its zone the iterator compares the starts to a UTC UNTIL correctly.
        first = icaltime_set_timezone(&first, anchor.pZone);
    } else if (anchor.eKind == CAnchor::UTC) {
        first = icaltime_set_timezone(&first, icaltimezone_get_utc_timezone());
    }
    icalrecur_iterator* pIter = icalrecur_iterator_new(rule, first);
    if (pIter == nullptr) {
        strError = master.strName + " (line " + std::to_string(master.nLine) + "): cannot expand its RRULE " +
                   Text(icalrecurrencetype_as_string(&rule));
        return false;
    }
    std::vector<COccurrence> starts;
    bool bHasFirst = false;
    bool bTooMany = false;
    for (;;) {
        const icaltimetype tt = icalrecur_iterator_next(pIter);
        if (icaltime_is_null_time(tt)) {
            break;
        }
        COccurrence occ;
        const CCivil wall = FromIcal(tt);
        occ.llWall = CivilToSeconds(wall);
        occ.llStart = FromWall(wall, anchor);
        if (occ.llStart > llHorizon) {
            break;
        }
        if (occ.llStart == master.llBegin) {
            bHasFirst = true;
        } else {
            starts.push_back(occ);
        }
        if (int64_t(occurrences.size() + starts.size()) > limits.llMaxPerSeries) {
            bTooMany = true;
            break;
        }
    }
    icalrecur_iterator_free(pIter);
    if (bTooMany) {
        strError = TooMany(master, limits);
        return false;
    }
    // When the rule itself does not produce DTSTART, DTSTART still takes one of the COUNT places.
    if (!bHasFirst && rule.count > 0 && starts.size() >= static_cast<size_t>(rule.count)) {
        starts.resize(static_cast<size_t>(rule.count - 1));
    }
    occurrences.insert(occurrences.end(), starts.begin(), starts.end());
    return true;
}

// The starts of a series up to the horizon, in time order, without its EXDATEs.
bool ExpandSeries(const CVevent& master, int64_t llHorizon, const CIcsLimits& limits,
                  std::vector<COccurrence>& occurrences, std::string& strError)
{
    // DTSTART always counts as the first occurrence, whether or not the rule matches it.
    if (master.llBegin <= llHorizon) {
        occurrences.push_back(COccurrence{CivilToSeconds(master.start.civil), master.llBegin, false, 0});
    }
    for (const icalrecurrencetype& rule : master.rules) {
        if (!ExpandRule(master, rule, llHorizon, limits, occurrences, strError)) {
            return false;
        }
    }
    for (const CRdate& rdate : master.rdates) {
        const int64_t llStart = ToUnix(rdate.start);
        if (llStart > llHorizon) {
            continue;
        }
        // An RDATE in another zone still sits on the series' clock.
        const int64_t llWall = master.start.Kind() == ETimeKind::INSTANT
                                   ? CivilToSeconds(WallAt(llStart, master.start.anchor))
                                   : CivilToSeconds(rdate.start.civil);
        occurrences.push_back(COccurrence{llWall, llStart, rdate.bPeriod, std::max(rdate.llEnd, llStart)});
        if (int64_t(occurrences.size()) > limits.llMaxPerSeries) {
            strError = TooMany(master, limits);
            return false;
        }
    }
    std::stable_sort(occurrences.begin(), occurrences.end(),
                     [](const COccurrence& a, const COccurrence& b) { return a.llStart < b.llStart; });
    occurrences.erase(std::unique(occurrences.begin(), occurrences.end(),
                                  [](const COccurrence& a, const COccurrence& b) { return a.llStart == b.llStart; }),
                      occurrences.end());

    std::set<CMatchKey> excluded;
    for (const CTimeValue& exdate : master.exdates) {
        excluded.insert(MatchFor(exdate, master.start).Key());
    }
    occurrences.erase(std::remove_if(occurrences.begin(), occurrences.end(),
                                     [&](const COccurrence& occ) {
                                         for (const CMatchKey& key : KeysOf(occ)) {
                                             if (excluded.count(key) != 0) {
                                                 return true;
                                             }
                                         }
                                         return false;
                                     }),
                      occurrences.end());
    return true;
}

// The overrides of one series, found by the occurrence they replace.
class COverrides {
public:
    COverrides(const CVevent& master, const std::vector<const CVevent*>& overrides,
               const std::vector<COccurrence>& occurrences)
    {
        for (const CVevent* pOverride : overrides) {
            const CMatch match = MatchFor(pOverride->recurrenceId, master.start);
            const CVevent*& pSlot = m_exact[match.Key()];
            if (pSlot == nullptr || pOverride->SupersedesCopy(*pSlot)) {
                pSlot = pOverride;
            }
            if (pOverride->bThisAndFuture) {
                // Occurrences are in time order, so those it reaches follow one another.
                const size_t nFirst =
                    size_t(std::partition_point(occurrences.begin(), occurrences.end(),
                                                [&](const COccurrence& occ) { return !match.AtOrBefore(occ); }) -
                           occurrences.begin());
                m_ranges.push_back({nFirst, match, pOverride});
            }
        }
        std::stable_sort(m_ranges.begin(), m_ranges.end(), [](const CRange& a, const CRange& b) {
            return a.nFirst != b.nFirst ? a.nFirst < b.nFirst : b.pOverride->SupersedesCopy(*a.pOverride);
        });
        for (const auto& entry : m_exact) {
            m_untaken.insert(entry.second);
        }
    }

    // The override written for exactly this occurrence; null when none (or used).
    const CVevent* TakeExact(const COccurrence& occ)
    {
        for (const CMatchKey& key : KeysOf(occ)) {
            const auto it = m_exact.find(key);
            if (it != m_exact.end() && it->second != nullptr) {
                const CVevent* pFound = it->second;
                it->second = nullptr;
                m_untaken.erase(pFound);
                return pFound;
            }
        }
        return nullptr;
    }

    // The THISANDFUTURE override in force at occurrence nIndex: the latest to begin
    // at or before it. Null when none.
    const CVevent* RangeAt(size_t nIndex, CMatch& match) const
    {
        const CVevent* pFound = nullptr;
        for (const CRange& range : m_ranges) {
            if (range.nFirst > nIndex) {
                break;
            }
            pFound = range.pOverride;
            match = range.match;
        }
        return pFound;
    }

    // The overrides no occurrence took (of two copies, the one the file means), in file order.
    std::vector<const CVevent*> Unused(const std::vector<const CVevent*>& overrides) const
    {
        std::vector<const CVevent*> unused;
        for (const CVevent* pOverride : overrides) {
            if (m_untaken.count(pOverride) != 0) {
                unused.push_back(pOverride);
            }
        }
        return unused;
    }

private:
    struct CRange {
        size_t nFirst;
        CMatch match;
        const CVevent* pOverride;
    };
    std::map<CMatchKey, const CVevent*> m_exact;
    std::set<const CVevent*> m_untaken;
    std::vector<CRange> m_ranges;
};

}  // namespace

bool CVevent::SupersedesCopy(const CVevent& other) const
{
    if (nSequence != other.nSequence) {
        return nSequence > other.nSequence;
    }
    if (llModified != other.llModified) {
        return llModified > other.llModified;
    }
    return nIndex > other.nIndex;  // the later in the file
}

CIcsEvent LoneEvent(const CVevent& ev)
{
    CIcsEvent out;
    out.strUid = ev.strUid;
    out.llBegin = ev.llBegin;
    out.llEnd = ev.llEnd;
    out.eKind = ev.start.Kind();
    out.pTexts = ev.pTexts;
    out.strRecurrenceId = ev.bOverride ? OwnKey(ev.recurrenceId) : std::string();
    return out;
}

bool EmitSeries(const CVevent& master, const std::vector<const CVevent*>& overrides, const CIcsOptions& options,
                size_t& nTotal, std::vector<CIcsEvent>& events, std::string& strError)
{
    std::vector<COccurrence> occurrences;
    if (master.Repeats()) {
        if (!ExpandSeries(master, options.llHorizon, options.limits, occurrences, strError)) {
            return false;
        }
    } else {
        occurrences.push_back(COccurrence{CivilToSeconds(master.start.civil), master.llBegin, true, master.llEnd});
    }
    const ETimeKind eKind = master.start.Kind();
    const CAnchor& anchor = master.start.anchor;
    // Occurrences keep the master's length: whole days for all-day events, so that a
    // day across a clock change still ends at midnight.
    const int64_t llLength = master.llEnd - master.llBegin;
    const int64_t nDays = std::max<int64_t>(1, (llLength + 43200) / 86400);
    auto endOf = [&](const COccurrence& occ, int64_t llLengthOf, int64_t nDaysOf) {
        if (occ.bOwnEnd) {
            return occ.llEnd;
        }
        return eKind == ETimeKind::DAY ? FromWall(AddDays(CivilFromSeconds(occ.llWall), nDaysOf), anchor)
                                       : occ.llStart + llLengthOf;
    };
    // The wall clock of the series at an override's start, to carry its shift forward.
    auto wallOf = [&](const CVevent& ev) {
        return eKind == ETimeKind::INSTANT ? CivilToSeconds(WallAt(ev.llBegin, anchor))
                                           : CivilToSeconds(ev.start.civil);
    };

    COverrides byOccurrence(master, overrides, occurrences);
    std::vector<CIcsEvent> series;
    for (size_t i = 0; i < occurrences.size(); ++i) {
        const COccurrence& occ = occurrences[i];
        CIcsEvent event;
        event.strUid = master.strUid;
        event.eKind = eKind;
        event.strRecurrenceId = master.Repeats() ? OccurrenceKey(occ, eKind) : std::string();
        CMatch rangeMatch;
        if (const CVevent* pExact = byOccurrence.TakeExact(occ)) {
            if (pExact->bCancelled || (master.Repeats() && pExact->llBegin > options.llHorizon)) {
                continue;
            }
            event.llBegin = pExact->llBegin;
            event.llEnd = pExact->llEnd;
            event.pTexts = pExact->pTexts;
        } else if (const CVevent* pRange = byOccurrence.RangeAt(i, rangeMatch)) {
            if (pRange->bCancelled) {
                continue;
            }
            // This and every later occurrence move as the override moved its own, and
            // take its length and texts.
            const int64_t llFrom = rangeMatch.eMode == CMatch::DAY ? rangeMatch.llValue * 86400
                                   : rangeMatch.eMode == CMatch::WALL
                                       ? rangeMatch.llValue
                                       : CivilToSeconds(WallAt(rangeMatch.llValue, anchor));
            COccurrence moved = occ;
            moved.bOwnEnd = false;
            moved.llWall = occ.llWall + wallOf(*pRange) - llFrom;
            moved.llStart = FromWall(CivilFromSeconds(moved.llWall), anchor);
            const int64_t llRangeLength = pRange->llEnd - pRange->llBegin;
            event.llBegin = moved.llStart;
            event.llEnd = endOf(moved, llRangeLength, std::max<int64_t>(1, (llRangeLength + 43200) / 86400));
            event.pTexts = pRange->pTexts;
        } else {
            event.llBegin = occ.llStart;
            event.llEnd = endOf(occ, llLength, nDays);
            event.pTexts = master.pTexts;
        }
        series.push_back(std::move(event));
    }
    // Overrides of starts the series does not have (moved in from beyond the
    // horizon, or of a changed rule) still show, rather than vanish.
    for (const CVevent* pOverride : byOccurrence.Unused(overrides)) {
        if (!pOverride->bCancelled && (!master.Repeats() || pOverride->llBegin <= options.llHorizon)) {
            series.push_back(LoneEvent(*pOverride));
        }
    }
    std::stable_sort(series.begin(), series.end(),
                     [](const CIcsEvent& a, const CIcsEvent& b) { return a.llBegin < b.llBegin; });
    nTotal += series.size();
    if (int64_t(nTotal) > options.limits.llMaxOccurrences) {
        strError = "more than " + std::to_string(options.limits.llMaxOccurrences) +
                   " events and occurrences up to the horizon (raise the bound with --max-occurrences)";
        return false;
    }
    events.insert(events.end(), std::make_move_iterator(series.begin()), std::make_move_iterator(series.end()));
    return true;
}
