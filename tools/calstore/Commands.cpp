#include "Commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "Output.h"
#include "TimeText.h"

namespace {

const int64_t s_llDay = 24 * 60 * 60;

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

std::vector<ULONG> CalendarIds(CStoreSession& session)
{
    std::vector<ULONG> ids;
    for (const CCalendarData& cal : ListCalendars(session)) {
        ids.push_back(ULONG(cal.lCalID));
    }
    return ids;
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
    std::printf("%s\n", Plural(calendars.size(), "calendar", "calendars").c_str());
    for (const CCalendarData& cal : calendars) {
        std::printf("  %lu  %s%s%s\n", static_cast<unsigned long>(ULONG(cal.lCalID)), Utf8(cal.strSubject).c_str(),
                    cal.strDetail.empty() ? "" : "  - ", Utf8(cal.strDetail).c_str());
    }
}

void RunAddCalendar(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    const WString strSubject = StoreText(cmd.arguments[1], s_cchSubjectMax, "the subject");
    const WString strDetail =
        StoreText(cmd.Has("--detail") ? cmd.Option("--detail") : "", s_cchDetailMax, "the detail");
    if (CalendarExists(session, dwCalID)) {
        throw CCommandError{"calendar " + std::to_string(dwCalID) + " already exists"};
    }
    AddCalendar(session, dwCalID, strSubject, strDetail);
    PrintDone(cmd.bJson, "Added calendar " + std::to_string(dwCalID) + " \"" + cmd.arguments[1] + "\"");
}

void RunDeleteCalendar(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    RequireCalendar(session, dwCalID);
    // Its events go with it: the store keeps them otherwise.
    CStoreSession::Check(session.Data()->DelAllEventofCalendar(dwCalID),
                         "deleting the events of calendar " + cmd.arguments[0]);
    CStoreSession::Check(session.Data()->DelCalendar(dwCalID), "deleting calendar " + cmd.arguments[0]);
    PrintDone(cmd.bJson, "Deleted calendar " + std::to_string(dwCalID) + " and its events");
}

void RunEvents(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    RequireCalendar(session, dwCalID);
    PrintEvents(cmd.bJson, ListEvents(session, dwCalID), "Calendar " + std::to_string(dwCalID));
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
        evt.strContactIDInvalid = HandAddedKey(cmd.Option("--external-id"));
    }
    RequireCalendar(session, dwCalID);
    CEventData existing;
    if (FindEvent(session, dwCalID, dwEvtID, existing)) {
        throw CCommandError{"calendar " + std::to_string(dwCalID) + " already has an event " + std::to_string(dwEvtID) +
                            " (change it with 'calstore update-event')"};
    }
    SaveEvent(session, evt, false, "adding the event");
    PrintDone(cmd.bJson, "Added event " + std::to_string(dwEvtID) + " to calendar " + std::to_string(dwCalID));
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
    SaveEvent(session, evt, true, "updating the event");
    PrintDone(cmd.bJson, "Updated event " + std::to_string(dwEvtID) + " of calendar " + std::to_string(dwCalID));
}

void RunDeleteEvent(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    const ULONG dwEvtID = ParseId(cmd.arguments[1], "event number");
    // The store's delete succeeds for a missing event too; looking first keeps the refusal.
    CEventData evt;
    if (!FindEvent(session, dwCalID, dwEvtID, evt)) {
        throw CCommandError{"calendar " + std::to_string(dwCalID) + " has no event " + std::to_string(dwEvtID)};
    }
    CStoreSession::Check(session.Data()->DelCalEvent(dwCalID, dwEvtID), "deleting the event");
    PrintDone(cmd.bJson, "Deleted event " + std::to_string(dwEvtID) + " of calendar " + std::to_string(dwCalID));
}

void RunClearCalendar(const CCommandLine& cmd, CStoreSession& session)
{
    const ULONG dwCalID = ParseId(cmd.arguments[0], "calendar number");
    RequireCalendar(session, dwCalID);
    CStoreSession::Check(session.Data()->DelAllEventofCalendar(dwCalID), "clearing calendar " + cmd.arguments[0]);
    PrintDone(cmd.bJson, "Deleted every event of calendar " + std::to_string(dwCalID));
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
        calendars.push_back(CalendarOption(cmd, 0));
        RequireCalendar(session, calendars.front());
    } else {
        calendars = CalendarIds(session);
    }
    PrintEvents(cmd.bJson, EventsBetween(session, llBegin, llEnd, calendars),
                "From " + FormatLocalTime(llBegin) + " to " + FormatLocalTime(llEnd));
}

void RunFindExternal(const CCommandLine& cmd, CStoreSession& session)
{
    const WString strID = StoreText(cmd.arguments[0], s_cchExternalIdMax, "the external id");
    if (strID.empty()) {
        throw CUsageError{"the external id is empty"};
    }
    const bool bExists = ExternalIdExists(session, strID);
    if (cmd.bJson) {
        std::printf("%s\n", CJsonObject().Add("external_id", cmd.arguments[0]).Add("exists", bExists).Text().c_str());
    } else {
        std::printf("%s: %s\n", cmd.arguments[0].c_str(), bExists ? "stored" : "not stored");
    }
}

// A failed settings call: the component's reason when it gave one (the file could
// not be read or written), else what the failure means for a settings name.
[[noreturn]] void SettingFailed(CStoreSession& session, const std::string& strWhat, const std::string& strMeaning)
{
    const std::string strReason = TakeErrorReason();
    if (strReason.empty()) {
        throw CCommandError{strMeaning};
    }
    const std::string strPath = session.SettingsPath();
    throw CCommandError{strWhat + " failed: " + strReason +
                        (strReason.find(strPath) == std::string::npos ? " (" + strPath + ")" : "")};
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
    const std::string strMissing = "there is no setting " + strName;
    const std::string strRefused =
        "the store refused the setting " + strName +
        " (names may not be empty, hold line breaks, \"=\" or \"[\", or start with \"#\" or \";\")";
    if (strAction != "get" && strAction != "get-number" && strAction != "set" && strAction != "set-number" &&
        strAction != "delete") {
        throw CUsageError{"unknown config action '" + strAction + "' (get, set, get-number, set-number, delete)"};
    }
    IVxCalStoreConfig* pConfig = session.Config();
    SetErrorInfo(0, nullptr);
    if (strAction == "get" || strAction == "get-number") {
        std::string strValue;
        if (strAction == "get") {
            BSTR bsValue = nullptr;
            if (FAILED(pConfig->GetString(bsNameSpace.Get(), bsItem.Get(), &bsValue))) {
                SettingFailed(session, "reading the setting " + strName, strMissing);
            }
            strValue = Utf8(WString(bsValue, SysStringLen(bsValue)));
            SysFreeString(bsValue);
        } else {
            ULONG dwValue = 0;
            if (FAILED(pConfig->GetDWord(bsNameSpace.Get(), bsItem.Get(), &dwValue))) {
                SettingFailed(session, "reading the setting " + strName, strMissing);
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
            SettingFailed(session, "writing the setting " + strName, strRefused);
        }
        PrintDone(cmd.bJson, "Set " + strName);
    } else if (strAction == "set-number") {
        const ULONG dwValue = ParseId(cmd.arguments[3], "number");
        if (FAILED(pConfig->AddDWord(bsNameSpace.Get(), bsItem.Get(), dwValue, 0))) {
            SettingFailed(session, "writing the setting " + strName, strRefused);
        }
        PrintDone(cmd.bJson, "Set " + strName);
    } else {
        if (FAILED(pConfig->DeleteConfigItem(bsNameSpace.Get(), bsItem.Get()))) {
            SettingFailed(session, "deleting the setting " + strName, strMissing);
        }
        PrintDone(cmd.bJson, "Deleted " + strName);
    }
}

void RunStop(const CCommandLine& cmd, CStoreSession& session)
{
    // The session itself stops the store; with --clear it was told to empty it.
    session.Start();
    PrintDone(cmd.bJson, cmd.Has("--clear") ? "Stopped the store and emptied it" : "Stopped the store");
}

void RunDemo(const CCommandLine& cmd, CStoreSession& session)
{
    const std::string strDir = AccountDirectory(cmd.dwAccount);
    std::printf("Calendar store demo, account %lu\n\n", static_cast<unsigned long>(cmd.dwAccount));

    for (const auto& calendar : {std::make_pair(1ul, "Work"), std::make_pair(2ul, "Home")}) {
        if (!CalendarExists(session, calendar.first)) {
            AddCalendar(session, calendar.first, Utf16(calendar.second), WString());
        }
    }
    std::printf("Calendars:\n");
    for (const CCalendarData& cal : ListCalendars(session)) {
        std::printf("  %ld  %s\n", static_cast<long>(cal.lCalID), Utf8(cal.strSubject).c_str());
    }

    const std::string strSample = SampleFile();
    const size_t nStored = ImportForDemo(session, strSample);
    std::printf("\nImported %s into calendar 1: %zu events (repeating events expanded for one year)\n",
                strSample.c_str(), nStored);

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
    std::printf("\nExternal id %s: %s\n", pszExternal,
                ExternalIdExists(session, Utf16(pszExternal)) ? "stored" : "not stored");

    CBstrHolder bsNameSpace(WTEXT("demo"));
    CBstrHolder bsItem(WTEXT("greeting"));
    CBstrHolder bsValue(WTEXT("Hello from calstore"));
    CStoreSession::Check(session.Config()->AddString(bsNameSpace.Get(), bsItem.Get(), bsValue.Get(), 0),
                         "storing a setting");
    BSTR bsRead = nullptr;
    CStoreSession::Check(session.Config()->GetString(bsNameSpace.Get(), bsItem.Get(), &bsRead), "reading a setting");
    std::printf("Setting demo/greeting: \"%s\"\n", Utf8(WString(bsRead, SysStringLen(bsRead))).c_str());
    SysFreeString(bsRead);

    std::printf("\nFiles:\n  %sCalData.db\n  %sCalendarConfig.ini\n", strDir.c_str(), strDir.c_str());
    std::printf("Try: calstore --root %s events 1\n",
                strDir.substr(0, strDir.size() - std::to_string(cmd.dwAccount).size() - 2).c_str());
}

}  // namespace

WString StoreText(const std::string& strText, size_t cchMax, const char* pszWhat, size_t* pnCut)
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

ULONG CalendarOption(const CCommandLine& cmd, ULONG dwDefault)
{
    return cmd.Has("--calendar") ? ParseId(cmd.Option("--calendar"), "calendar number") : dwDefault;
}

void RequireCalendar(CStoreSession& session, ULONG dwCalID)
{
    if (!CalendarExists(session, dwCalID)) {
        throw CCommandError{"there is no calendar " + std::to_string(dwCalID) +
                            " (see 'calstore calendars', or add it with 'calstore add-calendar')"};
    }
}

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
        throw CStoreError{(bRegister ? "registering " : "unregistering ") + strModule, hr, std::string()};
    }
    PrintDone(cmd.bJson, (bRegister ? "Registered " : "Unregistered ") + strModule);
}

const std::vector<CCommandInfo>& Commands()
{
    const std::vector<std::string> eventOptions = {"--begin",    "--end",    "--subject",
                                                   "--location", "--detail", "--external-id"};
    static const std::vector<CCommandInfo> s_commands = {
        {"demo", 0, 0, {}, {}, "demo", RunDemo, true, true},
        {"calendars", 0, 0, {}, {}, "calendars", RunCalendars, true, false},
        {"add-calendar", 2, 2, {"--detail"}, {}, "add-calendar ID SUBJECT [--detail D]", RunAddCalendar, true, true},
        {"delete-calendar", 1, 1, {}, {}, "delete-calendar ID", RunDeleteCalendar, true, true},
        {"events", 1, 1, {}, {}, "events CAL", RunEvents, true, false},
        {"add-event",
         2,
         2,
         eventOptions,
         {},
         "add-event CAL EVT --begin T --end T --subject S [--location L] [--detail D] [--external-id X]",
         RunAddEvent,
         true,
         true},
        {"update-event",
         2,
         2,
         eventOptions,
         {},
         "update-event CAL EVT [--begin T] [--end T] [--subject S] [--location L] [--detail D]",
         RunUpdateEvent,
         true,
         true},
        {"delete-event", 2, 2, {}, {}, "delete-event CAL EVT", RunDeleteEvent, true, true},
        {"clear-calendar", 1, 1, {}, {}, "clear-calendar CAL", RunClearCalendar, true, true},
        {"between", 2, 2, {"--calendar"}, {}, "between BEGIN END [--calendar CAL]", RunBetween, true, false},
        {"find-external", 1, 1, {}, {}, "find-external ID", RunFindExternal, true, false},
        {"import",
         1,
         1,
         {"--calendar", "--horizon", "--charset", "--max-file-mb", "--max-line-kb", "--max-series", "--max-occurrences",
          "--max-zone-rules"},
         {"--strict"},
         "import FILE.ics [--calendar CAL] [--horizon DAYS] [--strict] [--charset NAME] [--max-file-mb N] "
         "[--max-line-kb N] [--max-series N] [--max-occurrences N] [--max-zone-rules N]",
         RunImport,
         true,
         true},
        {"export", 1, 1, {"--calendar"}, {}, "export FILE.ics [--calendar CAL]", RunExport, true, false},
        {"config", 3, 4, {}, {}, "config get|set|get-number|set-number|delete NS ITEM [VALUE]", RunConfig, true, false},
        {"register", 0, 0, {}, {}, "register", nullptr, false, false},
        {"unregister", 0, 0, {}, {}, "unregister", nullptr, false, false},
        {"stop", 0, 0, {}, {"--clear"}, "stop [--clear]", RunStop, true, true},
    };
    return s_commands;
}
