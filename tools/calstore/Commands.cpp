#include "Commands.h"

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <set>

#include "IcsFile.h"
#include "Output.h"
#include "TimeText.h"
#include "host/CalendarUtil.h"

namespace {

// Text limits of the store, in UTF-16 units.
const size_t s_cchSubjectMax = 767;
const size_t s_cchDetailMax = 3071;
const size_t s_cchLocationMax = 767;
const size_t s_cchExternalIdMax = 767;

const int64_t s_llDay = 24 * 60 * 60;

// Releases a host object made here once the call that took it is over.
template <typename T>
class CHeld {
public:
    explicit CHeld(T* p) : m_p(p) { m_p->AddRef(); }
    ~CHeld() { m_p->Release(); }
    CHeld(const CHeld&) = delete;
    CHeld& operator=(const CHeld&) = delete;
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }

private:
    T* m_p;
};

void Check(HRESULT hr, const std::string& strWhat)
{
    CStoreSession::Check(hr, strWhat);
}

std::vector<CCalendarData> ListCalendars(CStoreSession& session)
{
    CHeld<CCalendarCollector> collector(new CCalendarCollector());
    Check(session.Data()->GetAllCalendar(static_cast<ICalendarVisitor*>(collector.Get())), "listing the calendars");
    std::vector<CCalendarData> calendars = collector->calendars;
    std::sort(calendars.begin(), calendars.end(),
              [](const CCalendarData& a, const CCalendarData& b) { return ULONG(a.lCalID) < ULONG(b.lCalID); });
    return calendars;
}

bool CalendarExists(CStoreSession& session, ULONG dwCalID)
{
    const std::vector<CCalendarData> calendars = ListCalendars(session);
    return std::any_of(calendars.begin(), calendars.end(),
                       [&](const CCalendarData& cal) { return ULONG(cal.lCalID) == dwCalID; });
}

void RequireCalendar(CStoreSession& session, ULONG dwCalID)
{
    if (!CalendarExists(session, dwCalID)) {
        throw CCommandError{"there is no calendar " + std::to_string(dwCalID) +
                            " (see 'calstore calendars', or add it with 'calstore add-calendar')"};
    }
}

void SortByTime(std::vector<CEventData>& events)
{
    std::stable_sort(events.begin(), events.end(), [](const CEventData& a, const CEventData& b) {
        return a.lBgnTm != b.lBgnTm ? a.lBgnTm < b.lBgnTm : ULONG(a.lEvtID) < ULONG(b.lEvtID);
    });
}

std::vector<CEventData> ListEvents(CStoreSession& session, ULONG dwCalID)
{
    CHeld<CEventCollector> collector(new CEventCollector());
    Check(session.Data()->GetAllCalEvent(dwCalID, static_cast<IEventVisitor*>(collector.Get())),
          "listing the events of calendar " + std::to_string(dwCalID));
    std::vector<CEventData> events = collector->events;
    SortByTime(events);
    return events;
}

bool FindEvent(CStoreSession& session, ULONG dwCalID, ULONG dwEvtID, CEventData& found)
{
    for (const CEventData& evt : ListEvents(session, dwCalID)) {
        if (ULONG(evt.lEvtID) == dwEvtID) {
            found = evt;
            return true;
        }
    }
    return false;
}

// A text for the store: refused (or, with pnCut, cut and counted) when longer
// than the field; never cut inside a character.
WString StoreText(const std::string& strText, size_t cchMax, const char* pszWhat, size_t* pnCut = nullptr)
{
    WString str = Utf16(strText);
    if (str.size() > cchMax) {
        if (pnCut == nullptr) {
            throw CCommandError{std::string(pszWhat) + " is longer than the " + std::to_string(cchMax) +
                                " characters the store keeps"};
        }
        str.resize(WStrBoundedLength(str.c_str(), str.size(), cchMax));
        ++*pnCut;
    }
    return str;
}

std::string EventLine(const CEventData& evt)
{
    std::string strLine = "  " + std::to_string(ULONG(evt.lEvtID)) + "  " + FormatLocalTime(evt.lBgnTm) + " - " +
                          FormatLocalTime(evt.lEndTm) + "  " + Utf8(evt.strSubject);
    if (!evt.strLocation.empty()) {
        strLine += " @ " + Utf8(evt.strLocation);
    }
    return strLine;
}

std::string EventJson(const CEventData& evt)
{
    return CJsonObject()
        .Add("calendar", int64_t(ULONG(evt.lCalID)))
        .Add("id", int64_t(ULONG(evt.lEvtID)))
        .Add("begin", FormatIsoLocalTime(evt.lBgnTm))
        .Add("end", FormatIsoLocalTime(evt.lEndTm))
        .Add("begin_unix", int64_t(evt.lBgnTm))
        .Add("end_unix", int64_t(evt.lEndTm))
        .Add("subject", Utf8(evt.strSubject))
        .Add("location", Utf8(evt.strLocation))
        .Add("detail", Utf8(evt.strDetail))
        .Text();
}

void PrintEvents(const CCommandLine& cmd, const std::vector<CEventData>& events, const std::string& strTitle)
{
    if (cmd.bJson) {
        std::vector<std::string> items;
        for (const CEventData& evt : events) {
            items.push_back(EventJson(evt));
        }
        std::printf("%s\n", JsonArray(items).c_str());
        return;
    }
    std::printf("%s: %zu event%s\n", strTitle.c_str(), events.size(), events.size() == 1 ? "" : "s");
    const CEventData* pPrevious = nullptr;
    for (const CEventData& evt : events) {
        if (pPrevious == nullptr || pPrevious->lCalID != evt.lCalID) {
            const ULONG dwLastCalendar = ULONG(evt.lCalID);
            std::printf(" calendar %lu\n", static_cast<unsigned long>(dwLastCalendar));
        }
        std::printf("%s\n", EventLine(evt).c_str());
        pPrevious = &evt;
    }
}

void PrintDone(const CCommandLine& cmd, const std::string& strMessage)
{
    if (cmd.bJson) {
        std::printf("%s\n", CJsonObject().Add("ok", true).Add("message", strMessage).Text().c_str());
    } else {
        std::printf("%s\n", strMessage.c_str());
    }
}

HRESULT AddCalendarItem(CStoreSession& session, ULONG dwCalID, const WString& strSubject, const WString& strDetail)
{
    CHeld<CCalendarItem> item(new CCalendarItem());
    item->data.lCalID = LONG(dwCalID);
    item->data.lTmStamp = LONG(std::time(nullptr));
    item->data.strSubject = strSubject;
    item->data.strDetail = strDetail;
    return session.Data()->AddCalendar(static_cast<ICalendarItem*>(item.Get()));
}

// The event fields that add-event and update-event take from their options.
void ApplyEventOptions(const CCommandLine& cmd, CEventData& evt)
{
    if (cmd.Has("--begin")) {
        evt.lBgnTm = LONG(ParseStoreTime(cmd.Option("--begin"), "--begin"));
    }
    if (cmd.Has("--end")) {
        evt.lEndTm = LONG(ParseStoreTime(cmd.Option("--end"), "--end"));
    }
    if (cmd.Has("--subject")) {
        evt.strSubject = StoreText(cmd.Option("--subject"), s_cchSubjectMax, "the subject");
    }
    if (cmd.Has("--location")) {
        evt.strLocation = StoreText(cmd.Option("--location"), s_cchLocationMax, "the location");
    }
    if (cmd.Has("--detail")) {
        evt.strDetail = StoreText(cmd.Option("--detail"), s_cchDetailMax, "the detail");
    }
    if (evt.lEndTm < evt.lBgnTm) {
        throw CCommandError{"the event would end before it begins"};
    }
}

HRESULT SaveEvent(CStoreSession& session, const CEventData& data, bool bUpdate)
{
    CHeld<CEventItem> item(new CEventItem());
    item->data = data;
    IEventItem* pItem = item.Get();
    return bUpdate ? session.Data()->UpdateCalEvent(pItem) : session.Data()->AddCalEvent(pItem);
}

// A stable event number for an imported event: the same UID and occurrence give
// the same number on every import, so importing again updates instead of adding.
ULONG ImportedEventId(const std::string& strUid, int64_t llRecurrenceId)
{
    uint32_t uHash = 2166136261u;
    const std::string strKey = strUid + "#" + std::to_string(llRecurrenceId);
    for (const char ch : strKey) {
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
        std::fprintf(stderr, "\rImporting [%s%s] %zu/%zu", std::string(nFilled, '#').c_str(),
                     std::string(nWidth - nFilled, '.').c_str(), nDone, m_nTotal);
        if (nDone == m_nTotal) {
            std::fprintf(stderr, "\n");
        }
    }

private:
    size_t m_nTotal;
    bool m_bShow;
};

struct CImportReport {
    ULONG dwCalID = 0;
    size_t nStored = 0;
    size_t nOutOfRange = 0;
    size_t nTextsCut = 0;
};

CImportReport ImportFile(CStoreSession& session, const std::string& strPath, ULONG dwCalID, int64_t llHorizon)
{
    CIcsImport ics;
    std::string strError;
    // The whole file is read and checked before anything is written.
    if (!ReadIcsFile(strPath, llHorizon, ics, strError)) {
        throw CCommandError{strError};
    }
    CImportReport report;
    report.dwCalID = dwCalID;
    if (!CalendarExists(session, dwCalID)) {
        const std::string strName = ics.strCalendarName.empty() ? FileStem(strPath) : ics.strCalendarName;
        Check(AddCalendarItem(session, dwCalID, StoreText(strName, s_cchSubjectMax, "name", &report.nTextsCut),
                              WString()),
              "adding calendar " + std::to_string(dwCalID));
    }
    std::set<ULONG> usedIds;
    CProgress progress(ics.events.size());
    size_t nDone = 0;
    for (const CIcsEvent& ics_event : ics.events) {
        progress.Step(++nDone);
        if (!FitsStore(ics_event.llBegin) || !FitsStore(ics_event.llEnd)) {
            ++report.nOutOfRange;
            continue;
        }
        CEventData evt;
        evt.lCalID = LONG(dwCalID);
        ULONG dwEvtID = ImportedEventId(ics_event.strUid, ics_event.llRecurrenceId);
        // Two keys of one file that hash alike must not overwrite each other.
        while (!usedIds.insert(dwEvtID).second) {
            dwEvtID = dwEvtID == std::numeric_limits<ULONG>::max() ? 1 : dwEvtID + 1;
        }
        evt.lEvtID = LONG(dwEvtID);
        evt.lBgnTm = LONG(ics_event.llBegin);
        evt.lEndTm = LONG(ics_event.llEnd);
        evt.lTmStamp = LONG(std::time(nullptr));
        evt.strSubject = StoreText(ics_event.strSummary, s_cchSubjectMax, "summary", &report.nTextsCut);
        evt.strDetail = StoreText(ics_event.strDescription, s_cchDetailMax, "description", &report.nTextsCut);
        evt.strLocation = StoreText(ics_event.strLocation, s_cchLocationMax, "location", &report.nTextsCut);
        evt.strExt3 = StoreText(ics_event.strUid, s_cchExternalIdMax, "UID", &report.nTextsCut);
        Check(SaveEvent(session, evt, false), "storing the event \"" + ics_event.strSummary + "\"");
        ++report.nStored;
    }
    return report;
}

std::string DataDirectory(const CCommandLine& cmd)
{
    BSTR bstrRoot = nullptr;
    std::string strRoot;
    if (SUCCEEDED(GetCalendarRootDir(&bstrRoot))) {
        strRoot = Utf8(WString(bstrRoot, SysStringLen(bstrRoot)));
    }
    SysFreeString(bstrRoot);
    return strRoot + "/" + std::to_string(static_cast<int32_t>(cmd.dwAccount)) + "/";
}

std::string SampleFile()
{
    if (const char* pszSample = std::getenv("CALSTORE_SAMPLE"); pszSample != nullptr && *pszSample != 0) {
        return pszSample;
    }
    char szExe[4096] = {};
    const ssize_t cch = ::readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    std::string strDir = cch > 0 ? std::string(szExe, static_cast<size_t>(cch)) : std::string("./calstore");
    return strDir.substr(0, strDir.rfind('/') + 1) + "sample.ics";
}

// ---------------------------------------------------------------------------
// The commands

void RunCalendars(const CCommandLine& cmd, CStoreSession& session)
{
    const std::vector<CCalendarData> calendars = ListCalendars(session);
    if (cmd.bJson) {
        std::vector<std::string> items;
        for (const CCalendarData& cal : calendars) {
            items.push_back(CJsonObject()
                                .Add("id", int64_t(ULONG(cal.lCalID)))
                                .Add("subject", Utf8(cal.strSubject))
                                .Add("detail", Utf8(cal.strDetail))
                                .Text());
        }
        std::printf("%s\n", JsonArray(items).c_str());
        return;
    }
    std::printf("%zu calendar%s\n", calendars.size(), calendars.size() == 1 ? "" : "s");
    for (const CCalendarData& cal : calendars) {
        std::printf("  %lu  %s%s%s\n", static_cast<unsigned long>(ULONG(cal.lCalID)), Utf8(cal.strSubject).c_str(),
                    cal.strDetail.empty() ? "" : "  - ", Utf8(cal.strDetail).c_str());
    }
}

void RunAddCalendar(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    if (CalendarExists(session, dwCalID)) {
        throw CCommandError{"calendar " + std::to_string(dwCalID) + " already exists"};
    }
    const WString strSubject = StoreText(cmd.arguments[1], s_cchSubjectMax, "the subject");
    const WString strDetail =
        StoreText(cmd.Has("--detail") ? cmd.Option("--detail") : "", s_cchDetailMax, "the detail");
    Check(AddCalendarItem(session, dwCalID, strSubject, strDetail), "adding calendar " + std::to_string(dwCalID));
    PrintDone(cmd, "Added calendar " + std::to_string(dwCalID) + " \"" + cmd.arguments[1] + "\"");
}

void RunDeleteCalendar(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    RequireCalendar(session, dwCalID);
    // Its events go with it: the store keeps them otherwise.
    Check(session.Data()->DelAllEventofCalendar(dwCalID), "deleting the events of calendar " + cmd.arguments[0]);
    Check(session.Data()->DelCalendar(dwCalID), "deleting calendar " + cmd.arguments[0]);
    PrintDone(cmd, "Deleted calendar " + std::to_string(dwCalID) + " and its events");
}

void RunEvents(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    RequireCalendar(session, dwCalID);
    PrintEvents(cmd, ListEvents(session, dwCalID), "Calendar " + std::to_string(dwCalID));
}

void RunAddEvent(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    const ULONG dwEvtID = ParseId(cmd.arguments[1], "event number");
    for (const char* pszRequired : {"--begin", "--end", "--subject"}) {
        if (!cmd.Has(pszRequired)) {
            throw CUsageError{std::string("add-event needs ") + pszRequired};
        }
    }
    CEventData evt;
    evt.lCalID = LONG(dwCalID);
    evt.lEvtID = LONG(dwEvtID);
    evt.lTmStamp = LONG(std::time(nullptr));
    ApplyEventOptions(cmd, evt);
    if (cmd.Has("--external-id")) {
        evt.strExt3 = StoreText(cmd.Option("--external-id"), s_cchExternalIdMax, "the external id");
    }
    RequireCalendar(session, dwCalID);
    CEventData existing;
    if (FindEvent(session, dwCalID, dwEvtID, existing)) {
        throw CCommandError{"calendar " + std::to_string(dwCalID) + " already has an event " + std::to_string(dwEvtID) +
                            " (change it with 'calstore update-event')"};
    }
    Check(SaveEvent(session, evt, false), "adding the event");
    PrintDone(cmd, "Added event " + std::to_string(dwEvtID) + " to calendar " + std::to_string(dwCalID));
}

void RunUpdateEvent(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    const ULONG dwEvtID = ParseId(cmd.arguments[1], "event number");
    if (cmd.Has("--external-id")) {
        throw CUsageError{"the external id of an event is fixed when it is added"};
    }
    CEventData evt;
    if (!FindEvent(session, dwCalID, dwEvtID, evt)) {
        throw CCommandError{"calendar " + std::to_string(dwCalID) + " has no event " + std::to_string(dwEvtID)};
    }
    ApplyEventOptions(cmd, evt);
    evt.lTmStamp = LONG(std::time(nullptr));
    Check(SaveEvent(session, evt, true), "updating the event");
    PrintDone(cmd, "Updated event " + std::to_string(dwEvtID) + " of calendar " + std::to_string(dwCalID));
}

void RunDeleteEvent(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    const ULONG dwEvtID = ParseId(cmd.arguments[1], "event number");
    CEventData evt;
    if (!FindEvent(session, dwCalID, dwEvtID, evt)) {
        throw CCommandError{"calendar " + std::to_string(dwCalID) + " has no event " + std::to_string(dwEvtID)};
    }
    Check(session.Data()->DelCalEvent(dwCalID, dwEvtID), "deleting the event");
    PrintDone(cmd, "Deleted event " + std::to_string(dwEvtID) + " of calendar " + std::to_string(dwCalID));
}

void RunClearCalendar(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    RequireCalendar(session, dwCalID);
    Check(session.Data()->DelAllEventofCalendar(dwCalID), "clearing calendar " + cmd.arguments[0]);
    PrintDone(cmd, "Deleted every event of calendar " + std::to_string(dwCalID));
}

std::vector<CEventData> EventsBetween(CStoreSession& session, int64_t llBegin, int64_t llEnd,
                                      const std::vector<ULONG>& calendars)
{
    std::vector<CEventData> events;
    for (const ULONG dwCalID : calendars) {
        CHeld<CEventCollector> collector(new CEventCollector());
        Check(session.Data()->GetPeriodEventEx(ULONG(LONG(llBegin)), ULONG(LONG(llEnd)), dwCalID,
                                               static_cast<IEventVisitor*>(collector.Get())),
              "querying the period");
        events.insert(events.end(), collector->events.begin(), collector->events.end());
    }
    SortByTime(events);
    return events;
}

std::vector<ULONG> CalendarIds(CStoreSession& session)
{
    std::vector<ULONG> ids;
    for (const CCalendarData& cal : ListCalendars(session)) {
        ids.push_back(ULONG(cal.lCalID));
    }
    return ids;
}

void RunBetween(const CCommandLine& cmd, CStoreSession& session)
{
    const int64_t llBegin = ParseStoreTime(cmd.arguments[0], "the period start");
    const int64_t llEnd = ParseStoreTime(cmd.arguments[1], "the period end");
    if (llEnd < llBegin) {
        throw CUsageError{"the period ends before it begins"};
    }
    std::vector<ULONG> calendars;
    if (cmd.Has("--calendar")) {
        calendars.push_back(ParseId(cmd.Option("--calendar"), "calendar number"));
        RequireCalendar(session, calendars.front());
    } else {
        calendars = CalendarIds(session);
    }
    PrintEvents(cmd, EventsBetween(session, llBegin, llEnd, calendars),
                "From " + FormatLocalTime(llBegin) + " to " + FormatLocalTime(llEnd));
}

void RunFindExternal(const CCommandLine& cmd, CStoreSession& session)
{
    const WString strID = StoreText(cmd.arguments[0], s_cchExternalIdMax, "the external id");
    if (strID.empty()) {
        throw CUsageError{"the external id is empty"};
    }
    CBstrHolder bsID(strID);
    VARIANT_BOOL bExists = VARIANT_FALSE;
    Check(session.Data()->IsOutlookIDExist(bsID.Get(), &bExists), "looking up the external id");
    if (cmd.bJson) {
        std::printf(
            "%s\n",
            CJsonObject().Add("external_id", cmd.arguments[0]).Add("exists", bExists != VARIANT_FALSE).Text().c_str());
    } else {
        std::printf("%s: %s\n", cmd.arguments[0].c_str(), bExists != VARIANT_FALSE ? "stored" : "not stored");
    }
}

void RunImport(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = cmd.Has("--calendar") ? ParseId(cmd.Option("--calendar"), "calendar number") : 1;
    int64_t llHorizonDays = 365;
    if (cmd.Has("--horizon")) {
        llHorizonDays = ParseId(cmd.Option("--horizon"), "number of days");
    }
    const int64_t llHorizon = int64_t(std::time(nullptr)) + llHorizonDays * s_llDay;
    const CImportReport report = ImportFile(session, cmd.arguments[0], dwCalID, llHorizon);
    if (cmd.bJson) {
        std::printf("%s\n", CJsonObject()
                                .Add("file", cmd.arguments[0])
                                .Add("calendar", int64_t(dwCalID))
                                .Add("stored", int64_t(report.nStored))
                                .Add("skipped_out_of_range", int64_t(report.nOutOfRange))
                                .Add("texts_cut", int64_t(report.nTextsCut))
                                .Text()
                                .c_str());
        return;
    }
    std::printf("Imported %zu event%s into calendar %lu\n", report.nStored, report.nStored == 1 ? "" : "s",
                static_cast<unsigned long>(dwCalID));
    if (report.nOutOfRange > 0) {
        std::printf("Skipped %zu event%s with times the store cannot hold (before 1901-12-13 or after 2038-01-19)\n",
                    report.nOutOfRange, report.nOutOfRange == 1 ? "" : "s");
    }
    if (report.nTextsCut > 0) {
        std::printf("Cut %zu text%s to the length the store keeps\n", report.nTextsCut,
                    report.nTextsCut == 1 ? "" : "s");
    }
}

void RunExport(const CCommandLine& cmd, CStoreSession& session)
{
    std::vector<ULONG> calendars;
    std::string strName = "calstore";
    if (cmd.Has("--calendar")) {
        const ULONG dwCalID = ParseId(cmd.Option("--calendar"), "calendar number");
        for (const CCalendarData& cal : ListCalendars(session)) {
            if (ULONG(cal.lCalID) == dwCalID) {
                strName = Utf8(cal.strSubject);
            }
        }
        RequireCalendar(session, dwCalID);
        calendars.push_back(dwCalID);
    } else {
        calendars = CalendarIds(session);
    }
    std::vector<CIcsEvent> events;
    for (const ULONG dwCalID : calendars) {
        for (const CEventData& evt : ListEvents(session, dwCalID)) {
            CIcsEvent ics;
            ics.strUid = "calstore-" + std::to_string(dwCalID) + "-" + std::to_string(ULONG(evt.lEvtID)) + "@brellin";
            ics.llBegin = evt.lBgnTm;
            ics.llEnd = evt.lEndTm;
            ics.strSummary = Utf8(evt.strSubject);
            ics.strDescription = Utf8(evt.strDetail);
            ics.strLocation = Utf8(evt.strLocation);
            events.push_back(ics);
        }
    }
    std::string strError;
    if (!WriteIcsFile(cmd.arguments[0], strName, events, strError)) {
        throw CCommandError{strError};
    }
    PrintDone(cmd, "Exported " + std::to_string(events.size()) + " events to " + cmd.arguments[0]);
}

void RunConfig(const CCommandLine& cmd, CStoreSession& session)
{
    const std::string& strAction = cmd.arguments[0];
    if (cmd.arguments.size() < 3) {
        throw CUsageError{"config " + strAction + " needs a namespace and an item"};
    }
    const bool bSet = strAction == "set" || strAction == "set-number";
    if (bSet != (cmd.arguments.size() == 4)) {
        throw CUsageError{bSet ? "config " + strAction + " needs a value" : "config " + strAction + " takes no value"};
    }
    CBstrHolder bsNameSpace(Utf16(cmd.arguments[1]));
    CBstrHolder bsItem(Utf16(cmd.arguments[2]));
    const std::string strName = cmd.arguments[1] + "/" + cmd.arguments[2];
    IVxCalStoreConfig* pConfig = session.Config();
    if (strAction == "get" || strAction == "get-number") {
        std::string strValue;
        if (strAction == "get") {
            BSTR bsValue = nullptr;
            if (FAILED(pConfig->GetString(bsNameSpace.Get(), bsItem.Get(), &bsValue))) {
                throw CCommandError{"there is no setting " + strName};
            }
            strValue = Utf8(WString(bsValue, SysStringLen(bsValue)));
            SysFreeString(bsValue);
        } else {
            ULONG dwValue = 0;
            if (FAILED(pConfig->GetDWord(bsNameSpace.Get(), bsItem.Get(), &dwValue))) {
                throw CCommandError{"there is no setting " + strName};
            }
            strValue = std::to_string(dwValue);
        }
        if (cmd.bJson) {
            std::printf("%s\n", CJsonObject()
                                    .Add("namespace", cmd.arguments[1])
                                    .Add("item", cmd.arguments[2])
                                    .Add("value", strValue)
                                    .Text()
                                    .c_str());
        } else {
            std::printf("%s\n", strValue.c_str());
        }
    } else if (strAction == "set") {
        const std::string& strValue = cmd.arguments[3];
        // The settings file reads an empty value as missing and drops trailing blanks.
        if (strValue.empty()) {
            throw CUsageError{"an empty value could not be read back; remove a setting with 'config delete'"};
        }
        if (strValue.back() == ' ' || strValue.back() == '\t') {
            throw CUsageError{"a value may not end in a blank: the settings file would not keep it"};
        }
        CBstrHolder bsValue(Utf16(strValue));
        if (FAILED(pConfig->AddString(bsNameSpace.Get(), bsItem.Get(), bsValue.Get(), 0))) {
            throw CCommandError{
                "the store refused the setting " + strName +
                " (names may not be empty, hold line breaks, \"=\" or \"[\", or start with \"#\" or \";\")"};
        }
        PrintDone(cmd, "Set " + strName);
    } else if (strAction == "set-number") {
        const ULONG dwValue = ParseId(cmd.arguments[3], "number");
        if (FAILED(pConfig->AddDWord(bsNameSpace.Get(), bsItem.Get(), dwValue, 0))) {
            throw CCommandError{
                "the store refused the setting " + strName +
                " (names may not be empty, hold line breaks, \"=\" or \"[\", or start with \"#\" or \";\")"};
        }
        PrintDone(cmd, "Set " + strName);
    } else if (strAction == "delete") {
        if (FAILED(pConfig->DeleteConfigItem(bsNameSpace.Get(), bsItem.Get()))) {
            throw CCommandError{"there is no setting " + strName};
        }
        PrintDone(cmd, "Deleted " + strName);
    } else {
        throw CUsageError{"unknown config action '" + strAction + "' (get, set, get-number, set-number, delete)"};
    }
}

void RunStop(const CCommandLine& cmd, CStoreSession& /*session*/)
{
    // The session itself stops the store; with --clear it was told to empty it.
    PrintDone(cmd, cmd.Has("--clear") ? "Stopped the store and emptied it" : "Stopped the store");
}

void RunDemo(const CCommandLine& cmd, CStoreSession& session)
{
    const std::string strDir = DataDirectory(cmd);
    std::printf("Calendar store demo, account %lu\n\n", static_cast<unsigned long>(cmd.dwAccount));

    for (const auto& calendar : {std::make_pair(1ul, "Work"), std::make_pair(2ul, "Home")}) {
        if (!CalendarExists(session, calendar.first)) {
            Check(AddCalendarItem(session, calendar.first, Utf16(calendar.second), WString()), "adding a calendar");
        }
    }
    std::printf("Calendars:\n");
    for (const CCalendarData& cal : ListCalendars(session)) {
        std::printf("  %ld  %s\n", static_cast<long>(cal.lCalID), Utf8(cal.strSubject).c_str());
    }

    const std::string strSample = SampleFile();
    const CImportReport report = ImportFile(session, strSample, 1, int64_t(std::time(nullptr)) + 365 * s_llDay);
    std::printf("\nImported %s into calendar 1: %zu events (repeating events expanded for one year)\n",
                strSample.c_str(), report.nStored);

    const int64_t llWeek = StartOfWeek(std::time(nullptr));
    const std::vector<CEventData> thisWeek =
        EventsBetween(session, llWeek, llWeek + 7 * s_llDay - 1, CalendarIds(session));
    std::printf("\nThis week (%s to %s), by period query:\n", FormatLocalTime(llWeek).substr(0, 10).c_str(),
                FormatLocalTime(llWeek + 6 * s_llDay).substr(0, 10).c_str());
    for (const CEventData& evt : thisWeek) {
        std::printf("  %s - %s  %s%s%s\n", FormatLocalTime(evt.lBgnTm).c_str(),
                    FormatLocalTime(evt.lEndTm).substr(11).c_str(), Utf8(evt.strSubject).c_str(),
                    evt.strLocation.empty() ? "" : " @ ", Utf8(evt.strLocation).c_str());
    }

    const char* pszExternal = "weekly-planning@example.org";
    CBstrHolder bsExternal(Utf16(pszExternal));
    VARIANT_BOOL bExists = VARIANT_FALSE;
    Check(session.Data()->IsOutlookIDExist(bsExternal.Get(), &bExists), "looking up an external id");
    std::printf("\nExternal id %s: %s\n", pszExternal, bExists != VARIANT_FALSE ? "stored" : "not stored");

    CBstrHolder bsNameSpace(WTEXT("demo"));
    CBstrHolder bsItem(WTEXT("greeting"));
    CBstrHolder bsValue(WTEXT("Hello from calstore"));
    Check(session.Config()->AddString(bsNameSpace.Get(), bsItem.Get(), bsValue.Get(), 0), "storing a setting");
    BSTR bsRead = nullptr;
    Check(session.Config()->GetString(bsNameSpace.Get(), bsItem.Get(), &bsRead), "reading a setting");
    std::printf("Setting demo/greeting: \"%s\"\n", Utf8(WString(bsRead, SysStringLen(bsRead))).c_str());
    SysFreeString(bsRead);

    std::printf("\nFiles:\n  %sCalData.db\n  %sCalendarConfig.ini\n", strDir.c_str(), strDir.c_str());
    std::printf("Try: calstore --root %s events 1\n",
                strDir.substr(0, strDir.size() - std::to_string(cmd.dwAccount).size() - 2).c_str());
}

}  // namespace

ULONG ParseId(const std::string& strText, const char* pszWhat)
{
    if (strText.empty() || strText.size() > 10 || strText.find_first_not_of("0123456789") != std::string::npos ||
        std::stoull(strText) > std::numeric_limits<ULONG>::max()) {
        throw CUsageError{std::string("bad ") + pszWhat + " '" + strText + "' (a whole number from 0 to 4294967295)"};
    }
    return static_cast<ULONG>(std::stoull(strText));
}

int64_t ParseStoreTime(const std::string& strText, const char* pszWhat)
{
    int64_t llSeconds = 0;
    if (!ParseTime(strText, llSeconds)) {
        throw CUsageError{std::string("bad time for ") + pszWhat + ": '" + strText +
                          "' (use 2026-12-06, 2026-12-06T09:30, or Unix seconds)"};
    }
    if (!FitsStore(llSeconds)) {
        throw CUsageError{std::string("the time for ") + pszWhat + " '" + strText +
                          "' is outside what the store holds (1901-12-13 to 2038-01-19)"};
    }
    return llSeconds;
}

void RunModuleCommand(const CCommandLine& cmd)
{
    std::string strModule;
    const bool bRegister = cmd.strCommand == "register";
    const HRESULT hr = RegisterModule(bRegister, strModule);
    if (FAILED(hr)) {
        throw CStoreError{(bRegister ? "registering " : "unregistering ") + strModule, hr};
    }
    PrintDone(cmd, (bRegister ? "Registered " : "Unregistered ") + strModule);
}

const std::vector<CCommandInfo>& Commands()
{
    static const std::vector<CCommandInfo> s_commands = {
        {"demo", 0, 0, {}, {}, "demo", RunDemo, true},
        {"calendars", 0, 0, {}, {}, "calendars", RunCalendars, true},
        {"add-calendar", 2, 2, {"--detail"}, {}, "add-calendar ID SUBJECT [--detail D]", RunAddCalendar, true},
        {"delete-calendar", 1, 1, {}, {}, "delete-calendar ID", RunDeleteCalendar, true},
        {"events", 1, 1, {}, {}, "events CAL", RunEvents, true},
        {"add-event",
         2,
         2,
         {"--begin", "--end", "--subject", "--location", "--detail", "--external-id"},
         {},
         "add-event CAL EVT --begin T --end T --subject S [--location L] [--detail D] [--external-id X]",
         RunAddEvent,
         true},
        {"update-event",
         2,
         2,
         {"--begin", "--end", "--subject", "--location", "--detail", "--external-id"},
         {},
         "update-event CAL EVT [--begin T] [--end T] [--subject S] [--location L] [--detail D]",
         RunUpdateEvent,
         true},
        {"delete-event", 2, 2, {}, {}, "delete-event CAL EVT", RunDeleteEvent, true},
        {"clear-calendar", 1, 1, {}, {}, "clear-calendar CAL", RunClearCalendar, true},
        {"between", 2, 2, {"--calendar"}, {}, "between BEGIN END [--calendar CAL]", RunBetween, true},
        {"find-external", 1, 1, {}, {}, "find-external ID", RunFindExternal, true},
        {"import",
         1,
         1,
         {"--calendar", "--horizon"},
         {},
         "import FILE.ics [--calendar CAL] [--horizon DAYS]",
         RunImport,
         true},
        {"export", 1, 1, {"--calendar"}, {}, "export FILE.ics [--calendar CAL]", RunExport, true},
        {"config", 3, 4, {}, {}, "config get|set|get-number|set-number|delete NS ITEM [VALUE]", RunConfig, true},
        {"register", 0, 0, {}, {}, "register", nullptr, false},
        {"unregister", 0, 0, {}, {}, "unregister", nullptr, false},
        {"stop", 0, 0, {}, {"--clear"}, "stop [--clear]", RunStop, true},
    };
    return s_commands;
}
