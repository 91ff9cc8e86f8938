// import and export: iCalendar files in and out of the store.
//
// An imported event carries its iCalendar identity in the event's ContactIDInvalid
// text, which the component passes through without meaning: "ics:KIND:RID:UID",
// KIND being "time" (an instant), "floating" or "date" (all-day), RID the
// occurrence in the series' own terms (empty for a lone event). Importing finds an
// event by that key, never by its number alone, so that it updates only its own
// events; export gives every event back its UID, RECURRENCE-ID and kind of time.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <set>

#include "Commands.h"
#include "IcsFile.h"
#include "Output.h"
#include "TimeText.h"

namespace {

const char s_szKeyPrefix[] = "ics:";

const char* KindName(ETimeKind eKind)
{
    switch (eKind) {
    case ETimeKind::DAY: return "date";
    case ETimeKind::FLOATING: return "floating";
    case ETimeKind::INSTANT:
    default: return "time";
    }
}

std::string KeyOf(const CIcsEvent& event)
{
    return s_szKeyPrefix + std::string(KindName(event.eKind)) + ":" + event.strRecurrenceId + ":" + event.strUid;
}

// Reads a key back into the event's UID, kind and RECURRENCE-ID; false for an event
// that carries none.
bool ParseKey(const std::string& strKey, CIcsEvent& event)
{
    if (strKey.rfind(s_szKeyPrefix, 0) != 0) {
        return false;
    }
    const size_t nKind = sizeof(s_szKeyPrefix) - 1;
    const size_t nRid = strKey.find(':', nKind);
    const size_t nUid = nRid == std::string::npos ? nRid : strKey.find(':', nRid + 1);
    if (nUid == std::string::npos) {
        return false;
    }
    const std::string strKind = strKey.substr(nKind, nRid - nKind);
    event.eKind = strKind == "date" ? ETimeKind::DAY : strKind == "floating" ? ETimeKind::FLOATING : ETimeKind::INSTANT;
    event.strRecurrenceId = strKey.substr(nRid + 1, nUid - nRid - 1);
    event.strUid = strKey.substr(nUid + 1);
    return true;
}

// The number an event is first tried at: the same UID and occurrence give the same
// number on every import.
ULONG PreferredNumber(const CIcsEvent& event)
{
    uint32_t uHash = 2166136261u;
    for (const char ch : event.strUid + "#" + event.strRecurrenceId) {
        uHash = (uHash ^ static_cast<unsigned char>(ch)) * 16777619u;
    }
    return uHash == 0 ? 1 : uHash;
}

std::string FileStem(const std::string& strPath)
{
    std::string strName = strPath.substr(strPath.find_last_of('/') + 1);
    const size_t nDot = strName.rfind('.');
    return nDot == std::string::npos || nDot == 0 ? strName : strName.substr(0, nDot);
}

int64_t PositiveOption(const CCommandLine& cmd, const char* pszOption, int64_t llDefault)
{
    if (!cmd.Has(pszOption)) {
        return llDefault;
    }
    const ULONG dwValue = ParseId(cmd.Option(pszOption), pszOption);
    if (dwValue == 0) {
        throw CUsageError{std::string(pszOption) + " must be at least 1"};
    }
    return dwValue;
}

CIcsOptions ImportOptions(const CCommandLine& cmd)
{
    CIcsOptions options;
    const int64_t llDays = cmd.Has("--horizon") ? ParseId(cmd.Option("--horizon"), "number of days") : 365;
    // Nothing after the store's last second could be stored anyway.
    options.llHorizon = std::min<int64_t>(int64_t(std::time(nullptr)) + llDays * 86400, INT32_MAX);
    options.bStrict = cmd.Has("--strict");
    options.strCharset = cmd.Has("--charset") ? cmd.Option("--charset") : "";
    CIcsLimits& limits = options.limits;
    limits.llMaxFileBytes = PositiveOption(cmd, "--max-file-mb", limits.llMaxFileBytes >> 20) << 20;
    limits.llMaxLineBytes = PositiveOption(cmd, "--max-line-kb", limits.llMaxLineBytes >> 10) << 10;
    limits.llMaxPerSeries = PositiveOption(cmd, "--max-series", limits.llMaxPerSeries);
    limits.llMaxOccurrences = PositiveOption(cmd, "--max-occurrences", limits.llMaxOccurrences);
    limits.llMaxZoneRules = PositiveOption(cmd, "--max-zone-rules", limits.llMaxZoneRules);
    return options;
}

// A progress bar on stderr, when stderr is a terminal.
class CProgress {
public:
    explicit CProgress(size_t nTotal) : m_nTotal(nTotal), m_bShow(::isatty(2) != 0 && nTotal > 0) {}
    void Step(size_t nDone)
    {
        if (!m_bShow || (nDone % 64 != 0 && nDone != m_nTotal)) {
            return;
        }
        const size_t nWidth = 30;
        const size_t nFilled = nWidth * nDone / m_nTotal;
        std::fprintf(stderr, "\rImporting [%s%s] %zu/%zu%s", std::string(nFilled, '#').c_str(),
                     std::string(nWidth - nFilled, '.').c_str(), nDone, m_nTotal, nDone == m_nTotal ? "\n" : "");
    }

private:
    size_t m_nTotal;
    bool m_bShow;
};

struct CImportReport {
    size_t nStored = 0;     // in the store now, written or already as the file has them
    size_t nUnchanged = 0;  // of those, already as the file has them
    size_t nOutOfRange = 0;
    size_t nTextsCut = 0;
};

bool SameContent(const CEventData& a, const CEventData& b)
{
    return a.lBgnTm == b.lBgnTm && a.lEndTm == b.lEndTm && a.strSubject == b.strSubject && a.strDetail == b.strDetail &&
           a.strLocation == b.strLocation;
}

// Writes what was read into the calendar. The file was read before the store was
// started, so that the account's write lock is held only for these writes.
CImportReport StoreImport(CStoreSession& session, const CIcsImport& ics, const std::string& strPath, ULONG dwCalID)
{
    CImportReport report;
    if (!CalendarExists(session, dwCalID)) {
        const std::string strName = ics.strCalendarName.empty() ? FileStem(strPath) : ics.strCalendarName;
        AddCalendar(session, dwCalID, StoreText(strName, s_cchSubjectMax, "name", &report.nTextsCut), WString());
    }
    std::map<WString, CEventData> byKey;
    std::set<ULONG> taken;
    for (const CEventData& evt : ListEvents(session, dwCalID)) {
        taken.insert(ULONG(evt.lEvtID));
        if (!evt.strContactIDInvalid.empty()) {
            byKey.emplace(evt.strContactIDInvalid, evt);
        }
    }
    CProgress progress(ics.events.size());
    size_t nDone = 0;
    for (const CIcsEvent& event : ics.events) {
        progress.Step(++nDone);
        if (!FitsStore(event.llBegin) || !FitsStore(event.llEnd)) {
            ++report.nOutOfRange;
            continue;
        }
        CEventData evt;
        evt.lCalID = LONG(dwCalID);
        evt.lBgnTm = LONG(event.llBegin);
        evt.lEndTm = LONG(event.llEnd);
        evt.lTmStamp = LONG(std::time(nullptr));
        evt.strSubject = StoreText(event.pTexts->strSummary, s_cchSubjectMax, "summary", &report.nTextsCut);
        evt.strDetail = StoreText(event.pTexts->strDescription, s_cchDetailMax, "description", &report.nTextsCut);
        evt.strLocation = StoreText(event.pTexts->strLocation, s_cchLocationMax, "location", &report.nTextsCut);
        evt.strExt3 = StoreText(event.strUid, s_cchExternalIdMax, "UID", &report.nTextsCut);
        evt.strContactIDInvalid = Utf16(KeyOf(event));
        ++report.nStored;
        const auto itOwn = byKey.find(evt.strContactIDInvalid);
        if (itOwn != byKey.end()) {
            evt.lEvtID = itOwn->second.lEvtID;
            if (SameContent(itOwn->second, evt)) {
                ++report.nUnchanged;
                continue;
            }
        } else {
            // Another event (another UID, or added by hand) may hold the number: take
            // the next free one instead, the same one on every import.
            ULONG dwEvtID = PreferredNumber(event);
            while (!taken.insert(dwEvtID).second) {
                dwEvtID = dwEvtID == std::numeric_limits<ULONG>::max() ? 1 : dwEvtID + 1;
            }
            evt.lEvtID = LONG(dwEvtID);
        }
        byKey[evt.strContactIDInvalid] = evt;
        SaveEvent(session, evt, false, "storing the event \"" + event.pTexts->strSummary + "\"");
    }
    return report;
}

CIcsImport ReadFile(const std::string& strPath, const CIcsOptions& options)
{
    CIcsImport ics;
    std::string strError;
    if (!ReadIcsFile(strPath, options, ics, strError)) {
        throw CCommandError{strError};
    }
    return ics;
}

// "RDATE in event "x@y", line 123 (why)".
std::string SkipText(const CIcsSkip& skip)
{
    return skip.strWhat + ", line " + std::to_string(skip.nLine) + " (" + skip.strWhy + ")";
}

// The skipped ones, for at most ten of them.
std::string SkipList(const std::vector<CIcsSkip>& skipped, bool bWholeEvents)
{
    std::string strList;
    size_t nListed = 0;
    size_t nMore = 0;
    for (const CIcsSkip& skip : skipped) {
        if (skip.bWholeEvent != bWholeEvents) {
            continue;
        }
        if (nListed == 10) {
            ++nMore;
            continue;
        }
        strList += (nListed++ == 0 ? "" : "; ") + SkipText(skip);
    }
    return nMore == 0 ? strList : strList + "; and " + std::to_string(nMore) + " more";
}

void PrintReport(const CCommandLine& cmd, const CIcsImport& ics, const CImportReport& report, ULONG dwCalID)
{
    const size_t nEventsSkipped = size_t(
        std::count_if(ics.skipped.begin(), ics.skipped.end(), [](const CIcsSkip& skip) { return skip.bWholeEvent; }));
    const size_t nPropertiesSkipped = ics.skipped.size() - nEventsSkipped;
    if (cmd.bJson) {
        std::string strSkipped = "[";
        for (const CIcsSkip& skip : ics.skipped) {
            strSkipped += (strSkipped.size() > 1 ? ", " : "") + JsonString(SkipText(skip));
        }
        std::printf("%s\n", CJsonObject()
                                .Add("file", cmd.arguments[0])
                                .Add("calendar", int64_t(dwCalID))
                                .Add("stored", int64_t(report.nStored))
                                .Add("skipped_out_of_range", int64_t(report.nOutOfRange))
                                .Add("texts_cut", int64_t(report.nTextsCut))
                                .Add("unchanged", int64_t(report.nUnchanged))
                                .Add("ends_before_start", int64_t(ics.nEndsBeforeStart))
                                .Add("older_copies", int64_t(ics.nDuplicates))
                                .Add("skipped_events", int64_t(nEventsSkipped))
                                .Add("skipped_properties", int64_t(nPropertiesSkipped))
                                .AddRaw("skipped", strSkipped + "]")
                                .Text()
                                .c_str());
        return;
    }
    std::printf("Imported %s into calendar %lu\n", Plural(report.nStored, "event", "events").c_str(),
                static_cast<unsigned long>(dwCalID));
    if (report.nOutOfRange > 0) {
        std::printf("Skipped %s with times the store cannot hold (before 1901-12-13 or after 2038-01-19)\n",
                    Plural(report.nOutOfRange, "event", "events").c_str());
    }
    if (report.nTextsCut > 0) {
        std::printf("Cut %s to the length the store keeps\n", Plural(report.nTextsCut, "text", "texts").c_str());
    }
    if (ics.nEndsBeforeStart > 0) {
        std::printf("Skipped %s that end before they begin\n", Plural(ics.nEndsBeforeStart, "event", "events").c_str());
    }
    if (ics.nDuplicates > 0) {
        std::printf("Left out %s that the file also holds in a newer copy\n",
                    Plural(ics.nDuplicates, "event", "events").c_str());
    }
    if (nEventsSkipped > 0) {
        std::printf("%s skipped: %s\n", Plural(nEventsSkipped, "event", "events").c_str(),
                    SkipList(ics.skipped, true).c_str());
    }
    if (nPropertiesSkipped > 0) {
        std::printf("%s skipped: %s\n", Plural(nPropertiesSkipped, "property", "properties").c_str(),
                    SkipList(ics.skipped, false).c_str());
    }
}

}  // namespace

WString HandAddedKey(const std::string& strExternalId)
{
    CIcsEvent event;
    event.strUid = strExternalId;
    return Utf16(KeyOf(event));
}

void RunImport(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = CalendarOption(cmd, 1);
    // The whole file is read, checked and expanded before the store is started.
    const CIcsImport ics = ReadFile(cmd.arguments[0], ImportOptions(cmd));
    const CImportReport report = StoreImport(session, ics, cmd.arguments[0], dwCalID);
    PrintReport(cmd, ics, report, dwCalID);
}

size_t ImportForDemo(CStoreSession& session, const std::string& strPath)
{
    CIcsOptions options;
    options.llHorizon = int64_t(std::time(nullptr)) + 365 * 86400;
    return StoreImport(session, ReadFile(strPath, options), strPath, 1).nStored;
}

void RunExport(const CCommandLine& cmd, CStoreSession& session)
{
    std::vector<ULONG> calendars;
    std::string strName = "calstore";
    for (const CCalendarData& cal : ListCalendars(session)) {
        if (!cmd.Has("--calendar")) {
            calendars.push_back(ULONG(cal.lCalID));
        } else if (ULONG(cal.lCalID) == CalendarOption(cmd, 0)) {
            strName = Utf8(cal.strSubject);
            calendars.push_back(ULONG(cal.lCalID));
        }
    }
    if (cmd.Has("--calendar") && calendars.empty()) {
        RequireCalendar(session, CalendarOption(cmd, 0));
    }
    std::vector<CIcsEvent> events;
    for (const ULONG dwCalID : calendars) {
        for (const CEventData& evt : ListEvents(session, dwCalID)) {
            CIcsEvent ics;
            if (!ParseKey(Utf8(evt.strContactIDInvalid), ics) || ics.strUid.empty()) {
                ics = CIcsEvent();
                ics.strUid =
                    "calstore-" + std::to_string(dwCalID) + "-" + std::to_string(ULONG(evt.lEvtID)) + "@brellin";
            }
            ics.llBegin = evt.lBgnTm;
            ics.llEnd = evt.lEndTm;
            auto pTexts = std::make_shared<CIcsTexts>();
            pTexts->strSummary = Utf8(evt.strSubject);
            pTexts->strDescription = Utf8(evt.strDetail);
            pTexts->strLocation = Utf8(evt.strLocation);
            ics.pTexts = pTexts;
            events.push_back(ics);
        }
    }
    std::string strError;
    if (!WriteIcsFile(cmd.arguments[0], strName, events, strError)) {
        throw CCommandError{strError};
    }
    PrintDone(cmd.bJson, "Exported " + std::to_string(events.size()) + " events to " + cmd.arguments[0]);
}
