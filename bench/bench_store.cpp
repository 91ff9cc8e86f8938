// The store at real-calendar scale, in one run: saving events in batch mode
// through the store media, through the COM interface (AddCalEvent with host items
// in the start-up batch) and straight through SQLite; the keyed statements, the
// lookup by external identifier and the period query against SQLite on the same
// file; the memory an enumeration of every event takes, in a child process; and
// calstore's import of a generated iCalendar file beside a short Python script.
//
//   bench_store [--quick]        --quick: 1,000 and 10,000 events only, no import
//
// BENCH_KEEP_ROOT=1 keeps the temporary root and its files; BENCH_PYTHON names the
// interpreter of the import script; BENCH_IMPORT_TIMEOUT bounds each import (s).
//
// Rates are of the best of a few runs (one at 100,000), wall-clock; the shared
// machine makes single runs noisy. The logger is off for the whole run.
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "HostObjects.h"
#include "media/CalendarRecords.h"
#include "media/RecordFields.h"
#include "media/RecordStatements.h"
#include "media/StoreNames.h"
#include "media/VxCalStoreMedia.h"
#include "store/VxCalStoreData.h"

namespace fs = std::filesystem;

namespace {

// One event in compact form; FillRecord turns it into a store record.
struct CEventSpec {
    DWORD dwCalID = 0;
    DWORD dwEvtID = 0;
    signed char cEvtType = 0;
    DWORD dwBgnTm = 0;
    DWORD dwEndTm = 0;
    DWORD dwTimeStamp = 0;
    signed char cTipType = 0;
    signed char cMinute = 0;
    WORD wDay = 0;
    signed char cHour = 0;
    signed char cWeek = 0;
    signed char cMonth = 0;
    signed char cLoopType = 0;
    signed char cSynchronized = 0;
    signed char cRevisedState = 0;
    WORD wRemindMinute = 0;
    DWORD dwSponsorID = 0;
    DWORD dwCalOwnerUin = 0;
    WORD wWeekNum = 0;
    WORD wMonthNum = 0;
    DWORD dwYear = 0;
    WORD wCalType = 0;
    signed char cEndType = 0;
    WORD wSwitchTimes = 0;
    signed char cEventRight = 0;
    DWORD dwLoopCalID = 0;
    DWORD dwLoopEventID = 0;
    signed char cEventStatus = 0;
    signed char cValid = 0;
    WString strLocation;
    WString strSubject;
    WString strDetail;
    WString strContactID;
    WString strContactInfo;
    WString strContactIDDisplay;
    WString strContactIDInvalid;
    WString strExt3;
};

const WCHAR* const s_rgszSubjects[] = {
    WTEXT("Weekly team sync"),
    WTEXT("1:1 with Sarah"),
    WTEXT("Dentist's appointment"),
    WTEXT("Quarterly planning: budget & headcount"),
    WTEXT("Lunch with the Johnsons"),
    WTEXT("Flight to Berlin (LH 2417)"),
    WTEXT("Kids' swimming lessons"),
    WTEXT("项目评审会议"),
    WTEXT("Sprint retrospective"),
    WTEXT("Call the landlord about the boiler"),
    WTEXT("Mom's birthday dinner"),
    WTEXT("Code review: calendar sync"),
};

const WCHAR* const s_rgszSentences[] = {
    WTEXT("Agenda: review last week's action items, then go through the open bugs one by one. "),
    WTEXT("Please bring the printed handouts; the projector in that room isn't reliable. "),
    WTEXT("Dial-in: +1 555 0142, access code 7781 093#. "),
    WTEXT("We will continue where we left off on Tuesday. "),
    WTEXT("Book a table for six people, by the window if possible. "),
    WTEXT("Notes from the previous meeting are in the shared folder under /planning/2024. "),
    WTEXT("Parking is behind the building; the front entrance closes at 6 pm. "),
    WTEXT("会议纪要请在会后发送给所有参会人员。"),
    WTEXT("If you can't make it, let Tom know by Friday so that he can move it. "),
    WTEXT("Bring your laptop charger and the two test phones. "),
};

const WCHAR* const s_rgszLocations[] = {
    WTEXT("Room 4B"),
    WTEXT("Main conference room, 3rd floor"),
    WTEXT("O'Malley's Pub, 12 Harbour Street"),
    WTEXT("Online meeting"),
    WTEXT("Dr. Patel's practice, Elm Road 5"),
    WTEXT(""),
    WTEXT("北京市海淀区中关村大街27号"),
    WTEXT("Gate B22, Terminal 1"),
};

const WCHAR* const s_rgszContactNames[] = {
    WTEXT("Sarah O'Neil"), WTEXT("Tom Becker"), WTEXT("李娜"), WTEXT("Ana Souza"), WTEXT("Jean-Luc D'Arcy"),
};

const DWORD s_dwOwnerUin = 20240611;
const DWORD s_rgdwCalendars[] = {1001, 1002, 1003, 1004};

template <size_t N>
size_t CountOf(const WCHAR* const (&)[N])
{
    return N;
}

// Events spread over four years from 2024-01-01, in four calendars, with texts of a
// few dozen to a few hundred characters; about a third carry an apostrophe.
std::vector<CEventSpec> MakeEvents(int nCount)
{
    std::mt19937 rng(20240611u);
    auto pick = [&rng](size_t nBound) { return static_cast<size_t>(rng() % nBound); };

    std::vector<CEventSpec> events(static_cast<size_t>(nCount));
    const long long llFirstDay = 1704067200;  // 2024-01-01 00:00 UTC
    for (int i = 0; i < nCount; ++i) {
        CEventSpec& ev = events[static_cast<size_t>(i)];
        ev.dwCalID = s_rgdwCalendars[pick(4)];
        ev.dwEvtID = static_cast<DWORD>(100000 + i);
        ev.cEvtType = pick(20) == 0 ? 1 : 0;

        const long long llBegin =
            llFirstDay + static_cast<long long>(pick(1461)) * 86400 + (7 + pick(13)) * 3600 + pick(4) * 15 * 60;
        const time_t tBegin = static_cast<time_t>(llBegin);
        struct tm tmBegin {};
        gmtime_r(&tBegin, &tmBegin);
        ev.dwBgnTm = static_cast<DWORD>(llBegin);
        ev.dwEndTm = static_cast<DWORD>(llBegin + static_cast<long long>(1 + pick(6)) * 30 * 60);
        ev.dwTimeStamp = static_cast<DWORD>(llFirstDay + i * 37);
        ev.cTipType = static_cast<signed char>(pick(3));
        ev.cMinute = static_cast<signed char>(tmBegin.tm_min);
        ev.wDay = static_cast<WORD>(tmBegin.tm_mday);
        ev.cHour = static_cast<signed char>(tmBegin.tm_hour);
        ev.cWeek = static_cast<signed char>(tmBegin.tm_wday);
        ev.cMonth = static_cast<signed char>(tmBegin.tm_mon + 1);
        ev.cLoopType = pick(8) == 0 ? static_cast<signed char>(1 + pick(4)) : 0;
        ev.cSynchronized = static_cast<signed char>(pick(2));
        ev.cRevisedState = 0;
        ev.wRemindMinute = static_cast<WORD>(pick(4) * 15);
        ev.dwSponsorID = s_dwOwnerUin;
        ev.dwCalOwnerUin = s_dwOwnerUin;
        ev.wWeekNum = static_cast<WORD>(tmBegin.tm_yday / 7 + 1);
        ev.wMonthNum = static_cast<WORD>(tmBegin.tm_mon + 1);
        ev.dwYear = static_cast<DWORD>(tmBegin.tm_year + 1900);
        ev.wCalType = 0;
        ev.cEndType = ev.cLoopType != 0 ? 1 : 0;
        ev.wSwitchTimes = ev.cLoopType != 0 ? static_cast<WORD>(5 + pick(20)) : 0;
        ev.cEventRight = 1;
        ev.cEventStatus = 0;
        ev.cValid = 1;

        ev.strSubject = s_rgszSubjects[pick(CountOf(s_rgszSubjects))];
        if (pick(3) == 0) {
            ev.strSubject += WStrFormatString(WTEXT(" (%d)"), 1 + static_cast<int>(pick(50)));
        }
        const size_t cSentences = 1 + pick(3);
        for (size_t n = 0; n < cSentences; ++n) {
            ev.strDetail += s_rgszSentences[pick(CountOf(s_rgszSentences))];
        }
        ev.strLocation = s_rgszLocations[pick(CountOf(s_rgszLocations))];

        const size_t cContacts = pick(4);
        for (size_t n = 0; n < cContacts; ++n) {
            const WCHAR* pszSep = n == 0 ? WTEXT("") : WTEXT(";");
            const size_t nContact = pick(CountOf(s_rgszContactNames));
            ev.strContactID += WStrFormatString(WTEXT("%s%d"), pszSep, 30001 + static_cast<int>(nContact));
            ev.strContactInfo += WStrFormatString(WTEXT("%s%s"), pszSep, s_rgszContactNames[nContact]);
        }
        ev.strContactIDDisplay = ev.strContactInfo;
        ev.strContactIDInvalid = pick(10) == 0 ? WString(WTEXT("30999")) : WString();
        // An external item identifier, unique per event.
        ev.strExt3 = WStrFormatString(WTEXT("AAMkADNmZTk2YWE0LTQ2ZjctNGJmNy1iZDgwLTc0%08X%08XAAA="),
                                      static_cast<unsigned>(ev.dwEvtID), static_cast<unsigned>(rng()));
    }
    return events;
}


template <size_t N>
void CopyText(WCHAR (&szField)[N], const WString& strText)
{
    WStrCopyN(szField, N, strText.c_str());
}

// Overwrites every field that the event uses; the record was zero-filled once.
void FillRecord(const CEventSpec& ev, tagEventRecord& rec)
{
    rec.dwCalID = ev.dwCalID;
    rec.dwEvtID = ev.dwEvtID;
    rec.cEvtType = ev.cEvtType;
    rec.dwBgnTm = ev.dwBgnTm;
    rec.dwEndTm = ev.dwEndTm;
    rec.dwTimeStamp = ev.dwTimeStamp;
    rec.cTipType = ev.cTipType;
    rec.cMinute = ev.cMinute;
    rec.wDay = ev.wDay;
    rec.cHour = ev.cHour;
    rec.cWeek = ev.cWeek;
    rec.cMonth = ev.cMonth;
    rec.cLoopType = ev.cLoopType;
    rec.cSynchronized = ev.cSynchronized;
    rec.cRevisedState = ev.cRevisedState;
    rec.wRemindMinute = ev.wRemindMinute;
    rec.dwSponsorID = ev.dwSponsorID;
    rec.dwCalOwnerUin = ev.dwCalOwnerUin;
    rec.wWeekNum = ev.wWeekNum;
    rec.wMonthNum = ev.wMonthNum;
    rec.dwYear = ev.dwYear;
    rec.wCalType = ev.wCalType;
    rec.cEndType = ev.cEndType;
    rec.wSwitchTimes = ev.wSwitchTimes;
    rec.cEventRight = ev.cEventRight;
    rec.dwLoopCalID = ev.dwLoopCalID;
    rec.dwLoopEventID = ev.dwLoopEventID;
    rec.cEventStatus = ev.cEventStatus;
    rec.cValid = ev.cValid;
    CopyText(rec.szLocation, ev.strLocation);
    CopyText(rec.szSubject, ev.strSubject);
    CopyText(rec.szDetail, ev.strDetail);
    CopyText(rec.szContactID, ev.strContactID);
    CopyText(rec.szContactInfo, ev.strContactInfo);
    CopyText(rec.szContactIDDisplay, ev.strContactIDDisplay);
    CopyText(rec.szContactIDInvalid, ev.strContactIDInvalid);
    CopyText(rec.szExt3, ev.strExt3);
}


// The same event as a host item holds it.
void FillItem(const CEventSpec& ev, CEventItem& item)
{
    CEventData& data = item.data;
    data.lCalID = LONG(ev.dwCalID);
    data.lEvtID = LONG(ev.dwEvtID);
    data.lEvtType = ev.cEvtType;
    data.lBgnTm = LONG(ev.dwBgnTm);
    data.lEndTm = LONG(ev.dwEndTm);
    data.lTmStamp = LONG(ev.dwTimeStamp);
    data.cTipType = static_cast<BYTE>(ev.cTipType);
    data.lDay = ev.wDay;
    data.cWeek = static_cast<BYTE>(ev.cWeek);
    data.cMonth = static_cast<BYTE>(ev.cMonth);
    data.lLoopType = ev.cLoopType;
    data.lSynchronized = ev.cSynchronized;
    data.lRevisedState = ev.cRevisedState;
    data.lRemindMinute = ev.wRemindMinute;
    data.bValid = ev.cValid != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    data.lSponsorID = LONG(ev.dwSponsorID);
    data.cWeekNum = static_cast<BYTE>(ev.wWeekNum);
    data.lCalType = ev.wCalType;
    data.lEndType = ev.cEndType;
    data.lLoopCalID = LONG(ev.dwLoopCalID);
    data.lLoopEventID = LONG(ev.dwLoopEventID);
    data.lEventRight = ev.cEventRight;
    data.lCalOwnerUin = LONG(ev.dwCalOwnerUin);
    data.lEventStatus = ev.cEventStatus;
    data.strSubject = ev.strSubject;
    data.strDetail = ev.strDetail;
    data.strContactID = ev.strContactID;
    data.strContactInfo = ev.strContactInfo;
    data.strLocation = ev.strLocation;
    data.strContactIDDisplay = ev.strContactIDDisplay;
    data.strContactIDInvalid = ev.strContactIDInvalid;
    data.strExt3 = ev.strExt3;
}

// Counts the events it is shown; the sum of their numbers keeps each read honest.
class CEventCounter final : public CHostObject<IEventVisitor> {
public:
    HRESULT STDMETHODCALLTYPE Visit(IEventItem* pItem, LONG* pbStop) override
    {
        ++m_nVisits;
        m_llCheck += static_cast<CEventItem*>(pItem)->data.lEvtID;
        *pbStop = 0;
        return S_OK;
    }
    long long m_nVisits = 0;
    long long m_llCheck = 0;

protected:
    const IID& InterfaceId() const override { return IID_IEventVisitor; }
    bool IsDispatch() const override { return false; }
};

// ---------------------------------------------------------------------------
// Plumbing

fs::path g_root;
std::vector<CEventSpec> g_events;

double SecondsSince(std::chrono::steady_clock::time_point tStart)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
}

typedef std::chrono::steady_clock::time_point TimePoint;
TimePoint Now()
{
    return std::chrono::steady_clock::now();
}

fs::path AccountFile(DWORD dwUIN)
{
    return g_root / std::to_string(static_cast<int>(dwUIN)) / "CalData.db";
}

void PrepareAccount(DWORD dwUIN)
{
    std::error_code ec;
    fs::remove_all(g_root / std::to_string(static_cast<int>(dwUIN)), ec);
    fs::create_directories(g_root / std::to_string(static_cast<int>(dwUIN)), ec);
}

// An SQL text read straight from a file with a connection of its own.
long long ScalarOf(const fs::path& file, const char* pszSql)
{
    sqlite3* pDB = nullptr;
    long long llValue = -1;
    if (sqlite3_open_v2(file.c_str(), &pDB, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* pStmt = nullptr;
        if (sqlite3_prepare_v2(pDB, pszSql, -1, &pStmt, nullptr) == SQLITE_OK && sqlite3_step(pStmt) == SQLITE_ROW) {
            llValue = sqlite3_column_int64(pStmt, 0);
        }
        sqlite3_finalize(pStmt);
    }
    sqlite3_close(pDB);
    return llValue;
}

// Rows found in only one of the two Event tables (both ways), or -1 on failure.
long long CountDifferingRows(const fs::path& pathA, const fs::path& pathB)
{
    sqlite3* pDB = nullptr;
    long long llDiffer = -1;
    if (sqlite3_open_v2(pathA.c_str(), &pDB, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        const std::string strAttach = "attach database '" + pathB.string() + "' as other;";
        sqlite3_stmt* pStmt = nullptr;
        if (sqlite3_exec(pDB, strAttach.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(pDB,
                               "select (select count(*) from (select * from main.Event except select * from other.Event))"
                               " + (select count(*) from (select * from other.Event except select * from main.Event));",
                               -1, &pStmt, nullptr) == SQLITE_OK &&
            sqlite3_step(pStmt) == SQLITE_ROW) {
            llDiffer = sqlite3_column_int64(pStmt, 0);
        }
        sqlite3_finalize(pStmt);
    }
    sqlite3_close(pDB);
    return llDiffer;
}

bool Exec(sqlite3* pDB, const char* pszSql)
{
    return sqlite3_exec(pDB, pszSql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// ---------------------------------------------------------------------------
// Saving N events

// Through the store media: batch on, the saves, batch off (which commits).
double MediaSave(DWORD dwUIN, int nEvents)
{
    PrepareAccount(dwUIN);
    CVxCalStoreMedia media;
    if (FAILED(media.OpenAccount(dwUIN, FALSE))) {
        return -1;
    }
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    const TimePoint tStart = Now();
    HRESULT hr = media.SetBatchMode(TRUE);
    for (int i = 0; i < nEvents && SUCCEEDED(hr); ++i) {
        FillRecord(g_events[static_cast<size_t>(i)], *pRec);
        hr = media.SaveCalEvent(pRec.get(), 0);
    }
    const HRESULT hrEnd = media.SetBatchMode(FALSE);
    const double dSeconds = SecondsSince(tStart);
    return SUCCEEDED(hr) && SUCCEEDED(hrEnd) ? dSeconds : -1;
}

struct CStore {
    IVxCalStoreData* pStore = nullptr;
    IExtendKernalSequence* pSequence = nullptr;
    CCalendarKernel* pKernel = nullptr;
    HRESULT hrStart = E_FAIL;

    explicit CStore(DWORD dwUIN) : pKernel(new CCalendarKernel(dwUIN, 0))
    {
        pKernel->AddRef();
        if (SUCCEEDED(CVxCalStoreData::CreateInstance(nullptr, IID_IVxCalStoreData, reinterpret_cast<void**>(&pStore))) &&
            SUCCEEDED(pStore->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&pSequence)))) {
            hrStart = pSequence->StartSequence(pKernel);
        }
    }
    ~CStore()
    {
        if (pSequence != nullptr) {
            pSequence->StopSequence();
            pSequence->Release();
        }
        if (pStore != nullptr) {
            pStore->Release();
        }
        pKernel->Release();
    }
};

// Through the COM interface: the start-up batch takes the host's items, and ends
// with EndStartupBatch.
double ComSave(DWORD dwUIN, int nEvents)
{
    PrepareAccount(dwUIN);
    CStore store(dwUIN);
    if (FAILED(store.hrStart)) {
        return -1;
    }
    CEventItem* pItem = new CEventItem();
    pItem->AddRef();
    const TimePoint tStart = Now();
    HRESULT hr = S_OK;
    for (int i = 0; i < nEvents && SUCCEEDED(hr); ++i) {
        FillItem(g_events[static_cast<size_t>(i)], *pItem);
        hr = store.pStore->AddCalEvent(static_cast<IEventItem*>(pItem));
    }
    const HRESULT hrEnd = store.pSequence->EndStartupBatch();
    const double dSeconds = SecondsSince(tStart);
    pItem->Release();
    return SUCCEEDED(hr) && SUCCEEDED(hrEnd) ? dSeconds : -1;
}

// Binds a record's columns to ?1..?42 with SQLite's own calls, by the record
// description's members.
void BindRaw(sqlite3_stmt* pStmt, const tagEventRecord& rec)
{
    for (int i = 0; i < EVENT_COLUMNS; ++i) {
        const CEventField& field = g_rgEventFields[i];
        if (field.eInsert == CI_EMPTY_TEXT) {
            sqlite3_bind_text16(pStmt, i + 1, WTEXT(""), 0, SQLITE_STATIC);
        } else if (field.eInsert == CI_ZERO) {
            sqlite3_bind_int(pStmt, i + 1, 0);
        } else if (field.eType == RFT_TEXT) {
            sqlite3_bind_text16(pStmt, i + 1, FieldText(rec, field), -1, SQLITE_STATIC);
        } else {
            sqlite3_bind_int(pStmt, i + 1, FieldInt(rec, field));
        }
    }
}

const char s_szCreateTables[] =
    "pragma encoding = 'UTF-16le';"
    "create table Version (CalTblVer int, EventTblVer int,Ext1 int,Ext2 int);"
    "insert into Version values(2,2,0,0);"
    "create table Calendar (UIN int, CalID int, CalType int, ShrLevel int, TmStamp int, subject text, detail text,"
    "ContactID text,ContactInfo text, SponsorID int,FromCalID int,ext1 text,ext2 text,ext3 text,ext4 int,"
    "ext5 int, nums int);"
    "create table Event(CalID int,EvtID int,EvtType int,BgnTm int,EndTm int,TmStamp int,TipType int,Minute int,"
    "Hour int,Day int,Week int,Month int,LoopType int,subject text,detail text,Synchronized int,"
    "RevisedState int ,RemindMinute int,ContactID text,ContactInfo text,Location text,SponsorID int,"
    "WeekNum int,MonthNum int,Year int,CalType int,EndType int,SwitchTimes int,LoopCalID int,"
    "LoopEventID int,CalOwnerUin int,EventRight int,ContactIDDisplay text,ContactIDInvalid text,"
    "EventStatus int, Valid int,ext1 text,ext2 text,ext3 text,ext4 int, ext5 int,nums int);";

// Straight through SQLite into the same tables (no indexes): open, one prepared
// insert, bound values, one transaction, close.
double RawInsert(const fs::path& file, int nEvents)
{
    std::error_code ec;
    fs::remove(file, ec);
    {
        sqlite3* pDB = nullptr;
        const bool bMade = sqlite3_open(file.c_str(), &pDB) == SQLITE_OK && Exec(pDB, s_szCreateTables);
        sqlite3_close(pDB);
        if (!bMade) {
            return -1;
        }
    }
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    const TimePoint tStart = Now();
    sqlite3* pDB = nullptr;
    sqlite3_stmt* pStmt = nullptr;
    bool bDone = sqlite3_open(file.c_str(), &pDB) == SQLITE_OK &&
                 sqlite3_prepare16_v2(pDB, InsertStatementOf(g_szEventTable, g_rgEventFields).c_str(), -1, &pStmt,
                                      nullptr) == SQLITE_OK &&
                 Exec(pDB, "begin immediate transaction;");
    for (int i = 0; i < nEvents && bDone; ++i) {
        FillRecord(g_events[static_cast<size_t>(i)], *pRec);
        BindRaw(pStmt, *pRec);
        bDone = sqlite3_step(pStmt) == SQLITE_DONE;
        sqlite3_reset(pStmt);
    }
    bDone = Exec(pDB, bDone ? "commit transaction;" : "rollback transaction;") && bDone;
    sqlite3_finalize(pStmt);
    bDone = sqlite3_close(pDB) == SQLITE_OK && bDone;
    const double dSeconds = SecondsSince(tStart);
    return bDone ? dSeconds : -1;
}

template <typename TRun>
double BestOf(int nRuns, TRun run)
{
    double dBest = -1;
    for (int i = 0; i < nRuns; ++i) {
        const double d = run();
        if (d < 0) {
            return -1;
        }
        dBest = dBest < 0 ? d : std::min(dBest, d);
    }
    return dBest;
}

struct CSaveResult {
    int nEvents = 0;
    double dMedia = -1;
    double dCom = -1;
    double dRaw = -1;
    const char* pszSameRows = "n/a";
};

// ---------------------------------------------------------------------------
// Single statements on the large file

const DWORD s_dwQueryUin = 70100;

struct COpTimes {
    const char* pszName;
    double dStoreMicros;
    double dRawMicros;
};

// A raw connection with one prepared statement per operation, as fast as SQLite goes.
struct CRawOps {
    sqlite3* pDB = nullptr;
    sqlite3_stmt* pSelect = nullptr;
    sqlite3_stmt* pLookup = nullptr;
    sqlite3_stmt* pUpdate = nullptr;
    sqlite3_stmt* pDelete = nullptr;
    sqlite3_stmt* pDeleteExceptions = nullptr;
    sqlite3_stmt* pPeriod = nullptr;

    explicit CRawOps(const fs::path& file)
    {
        sqlite3_open(file.c_str(), &pDB);
        sqlite3_busy_timeout(pDB, 60000);
        sqlite3_prepare_v2(pDB, "select * from Event where CalID = ?1 and EvtID = ?2 order by rowid;", -1, &pSelect, nullptr);
        sqlite3_prepare_v2(pDB, "select 1 from Event where ext3 = ?1 limit 1;", -1, &pLookup, nullptr);
        sqlite3_prepare16_v2(pDB, UpdateStatementOf(g_szEventTable, g_rgEventFields).c_str(), -1, &pUpdate, nullptr);
        sqlite3_prepare_v2(pDB, "delete from Event where CalID = ?1 and EvtID = ?2;", -1, &pDelete, nullptr);
        sqlite3_prepare_v2(pDB, "delete from Event where EvtType=1 and LoopCalID=?1 and LoopEventID=?2;", -1,
                           &pDeleteExceptions, nullptr);
        sqlite3_prepare_v2(pDB, "select * from Event where CalID = ?1 and (not ( BgnTm > ?2 or EndTm < ?3 )) order by rowid;", -1,
                           &pPeriod, nullptr);
    }
    ~CRawOps()
    {
        for (sqlite3_stmt* p : {pSelect, pLookup, pUpdate, pDelete, pDeleteExceptions, pPeriod}) {
            sqlite3_finalize(p);
        }
        sqlite3_close(pDB);
    }

    // Steps through every row and takes each column out, as a reader must.
    static inline const int s_nReadColumns = ReadColumnsOf(g_rgEventFields);
    static long long Drain(sqlite3_stmt* pStmt)
    {
        long long llRows = 0;
        while (sqlite3_step(pStmt) == SQLITE_ROW) {
            ++llRows;
            for (int i = 0; i < s_nReadColumns; ++i) {
                if (sqlite3_column_type(pStmt, i) == SQLITE_TEXT) {
                    sqlite3_column_text16(pStmt, i);
                } else {
                    sqlite3_column_int(pStmt, i);
                }
            }
        }
        sqlite3_reset(pStmt);
        return llRows;
    }
    void Select(DWORD dwCalID, DWORD dwEvtID)
    {
        sqlite3_bind_int(pSelect, 1, int(dwCalID));
        sqlite3_bind_int(pSelect, 2, int(dwEvtID));
        Drain(pSelect);
    }
    bool Lookup(const WCHAR* pszID)
    {
        sqlite3_bind_text16(pLookup, 1, pszID, -1, SQLITE_STATIC);
        const bool bFound = sqlite3_step(pLookup) == SQLITE_ROW;
        sqlite3_reset(pLookup);
        return bFound;
    }
    void Update(const tagEventRecord& rec)
    {
        BindRaw(pUpdate, rec);  // ?37 and up are not in the statement; their binds are refused
        sqlite3_step(pUpdate);
        sqlite3_reset(pUpdate);
    }
    void Delete(DWORD dwCalID, DWORD dwEvtID)
    {
        for (sqlite3_stmt* p : {pDelete, pDeleteExceptions}) {
            sqlite3_bind_int(p, 1, int(dwCalID));
            sqlite3_bind_int(p, 2, int(dwEvtID));
            sqlite3_step(p);
            sqlite3_reset(p);
        }
    }
    long long Period(DWORD dwCalID, DWORD dwBegin, DWORD dwEnd)
    {
        sqlite3_bind_int(pPeriod, 1, int(dwCalID));
        sqlite3_bind_int(pPeriod, 2, int(dwEnd));
        sqlite3_bind_int(pPeriod, 3, int(dwBegin));
        return Drain(pPeriod);
    }
};

void PrintPlans(const fs::path& file)
{
    sqlite3* pDB = nullptr;
    sqlite3_open_v2(file.c_str(), &pDB, SQLITE_OPEN_READONLY, nullptr);
    const char* const rgpszStatements[] = {
        "select * from Event where CalID = ?1 and EvtID = ?2 order by rowid;",
        "update Event set subject = ?14 where CalID = ?1 and EvtID = ?2;",
        "delete from Event where CalID = ?1 and EvtID = ?2;",
        "delete from Event where EvtType=1 and LoopCalID=?1 and LoopEventID=?2;",
        "select 1 from Event where ext3 = ?1 limit 1;",
        "select * from Event where CalID = ?1 and (not ( BgnTm > ?2 or EndTm < ?3 )) order by rowid;",
        "select *, rowid from Event where CalID = ?1 and rowid > ?4 and rowid <= ?5 order by rowid limit ?6;",
    };
    std::printf("\nQuery plans on the store's file (EXPLAIN QUERY PLAN):\n");
    for (const char* pszStatement : rgpszStatements) {
        const std::string strExplain = std::string("explain query plan ") + pszStatement;
        sqlite3_stmt* pStmt = nullptr;
        std::string strPlan;
        if (sqlite3_prepare_v2(pDB, strExplain.c_str(), -1, &pStmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(pStmt) == SQLITE_ROW) {
                strPlan += (strPlan.empty() ? "" : "; ") + std::string(reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 3)));
            }
        }
        sqlite3_finalize(pStmt);
        std::printf("  %-100.100s\n      -> %s\n", pszStatement, strPlan.c_str());
    }
    sqlite3_close(pDB);
}

template <typename TOp>
double MicrosPerOp(int nOps, TOp op)
{
    const TimePoint tStart = Now();
    for (int i = 0; i < nOps; ++i) {
        op(i);
    }
    return SecondsSince(tStart) * 1e6 / nOps;
}

// The week starting on day nDay of the events' four years.
DWORD WeekStart(int nDay)
{
    return static_cast<DWORD>(1704067200LL + static_cast<long long>(nDay) * 86400);
}

// The best of a few rounds, store and SQLite taking turns, so that the load of a
// shared machine falls on both alike.
struct CComparison {
    double dStore = -1;
    double dRaw = -1;
    void Take(double dStoreRound, double dRawRound)
    {
        dStore = dStore < 0 ? dStoreRound : std::min(dStore, dStoreRound);
        dRaw = dRaw < 0 ? dRawRound : std::min(dRaw, dRawRound);
    }
};

const int s_nRounds = 3;

// Store and SQLite one operation each in turn, timed apart.
template <typename TStore, typename TRaw>
void Interleaved(CComparison& result, int nOps, TStore storeOp, TRaw rawOp)
{
    double dStore = 0;
    double dRaw = 0;
    // Who goes first alternates too.
    for (int i = 0; i < nOps; ++i) {
        for (int nTurn = 0; nTurn < 2; ++nTurn) {
            const TimePoint t = Now();
            if ((nTurn == 0) == (i % 2 == 0)) {
                storeOp(i);
                dStore += SecondsSince(t);
            } else {
                rawOp(i);
                dRaw += SecondsSince(t);
            }
        }
    }
    result.Take(dStore * 1e6 / nOps, dRaw * 1e6 / nOps);
}

std::vector<COpTimes> TimeSingleStatements(int nEvents)
{
    const fs::path file = AccountFile(s_dwQueryUin);
    std::mt19937 rng(7);
    const int nOps = 1000;
    const int nPeriods = 20;
    const int nSingles = 200;
    std::vector<size_t> rgnPicks;
    for (int i = 0; i < nOps; ++i) {
        rgnPicks.push_back(static_cast<size_t>(rng() % static_cast<unsigned>(nEvents)));
    }
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    auto pick = [&](int i) -> const CEventSpec& { return g_events[rgnPicks[static_cast<size_t>(i) % rgnPicks.size()]]; };
    auto weekCalendar = [](int i) { return 1001 + static_cast<DWORD>(i % 4); };

    CVxCalStoreMedia media;
    media.OpenAccount(s_dwQueryUin, FALSE);
    long long llStoreRows = 0;
    long long llRawRows = 0;
    auto storePeriod = [&](int i) {
        tagEventRecord* pArray = nullptr;
        int nCount = 0;
        media.GetPeriodEvent(weekCalendar(i), WeekStart(i * 71), WeekStart(i * 71 + 7) - 1, &pArray, &nCount);
        FreeRecordArray(nCount > 0 ? pArray : nullptr);
    };
    auto storeSelect = [&](int i) { media.GetCalEvent(pick(i).dwCalID, pick(i).dwEvtID, pRec.get()); };
    auto storeLookup = [&](int i) { media.IsOutlookIDExist(pick(i).strExt3.c_str()); };

    CComparison period, select, lookup, update, remove, periodSingle, selectSingle, lookupSingle, comPeriod, comLookup;
    // Reads: the store's batch connection beside SQLite's own read transaction.
    {
        CRawOps raw(file);
        media.SetBatchMode(TRUE);
        Exec(raw.pDB, "begin transaction;");
        for (int i = 0; i < nPeriods; ++i) {
            tagEventRecord* pArray = nullptr;
            int nCount = 0;
            media.GetPeriodEvent(weekCalendar(i), WeekStart(i * 71), WeekStart(i * 71 + 7) - 1, &pArray, &nCount);
            llStoreRows += nCount;
            FreeRecordArray(nCount > 0 ? pArray : nullptr);
            llRawRows += raw.Period(weekCalendar(i), WeekStart(i * 71), WeekStart(i * 71 + 7) - 1);
        }
        for (int nRound = 0; nRound < s_nRounds; ++nRound) {
            Interleaved(period, nPeriods, storePeriod, [&](int i) {
                raw.Period(weekCalendar(i), WeekStart(i * 71), WeekStart(i * 71 + 7) - 1);
            });
            Interleaved(select, nOps, storeSelect, [&](int i) { raw.Select(pick(i).dwCalID, pick(i).dwEvtID); });
            Interleaved(lookup, nOps, storeLookup, [&](int i) { raw.Lookup(pick(i).strExt3.c_str()); });
        }
        Exec(raw.pDB, "commit transaction;");
        media.SetBatchMode(FALSE);
    }
    // Writes: a batch of the store, then a transaction of SQLite, in turns. Each
    // delete takes an event of its own.
    {
        int nNextDelete = 0;
        for (int nRound = 0; nRound < s_nRounds; ++nRound) {
            media.SetBatchMode(TRUE);
            const double dStoreUpdate = MicrosPerOp(nOps, [&](int i) {
                FillRecord(pick(i), *pRec);
                pRec->dwTimeStamp += 1;
                media.UpdateCalEvent(pRec.get());
            });
            const double dStoreDelete = MicrosPerOp(nOps / 4, [&](int) {
                const CEventSpec& ev = g_events[static_cast<size_t>(nNextDelete++)];
                media.DelCalEvent(ev.dwCalID, ev.dwEvtID, 0);
            });
            media.SetBatchMode(FALSE);
            CRawOps raw(file);
            Exec(raw.pDB, "begin immediate transaction;");
            const double dRawUpdate = MicrosPerOp(nOps, [&](int i) {
                FillRecord(pick(i), *pRec);
                pRec->dwTimeStamp += 2;
                raw.Update(*pRec);
            });
            const double dRawDelete = MicrosPerOp(nOps / 4, [&](int) {
                const CEventSpec& ev = g_events[static_cast<size_t>(nNextDelete++)];
                raw.Delete(ev.dwCalID, ev.dwEvtID);
            });
            Exec(raw.pDB, "commit transaction;");
            update.Take(dStoreUpdate, dRawUpdate);
            remove.Take(dStoreDelete, dRawDelete);
        }
    }
    // One at a time, as a host outside a batch calls them: each opens the file.
    for (int nRound = 0; nRound < s_nRounds; ++nRound) {
        Interleaved(periodSingle, nPeriods, storePeriod, [&](int i) {
            CRawOps raw(file);
            raw.Period(weekCalendar(i), WeekStart(i * 71), WeekStart(i * 71 + 7) - 1);
        });
        Interleaved(selectSingle, nSingles, storeSelect, [&](int i) {
            CRawOps raw(file);
            raw.Select(pick(i).dwCalID, pick(i).dwEvtID);
        });
        Interleaved(lookupSingle, nSingles, storeLookup, [&](int i) {
            CRawOps raw(file);
            raw.Lookup(pick(i).strExt3.c_str());
        });
    }
    media.Close();
    // Through the store object: the period query to a counting visitor, and the lookup.
    {
        CStore store(s_dwQueryUin);
        store.pSequence->EndStartupBatch();
        CEventCounter* pCounter = new CEventCounter();
        pCounter->AddRef();
        VARIANT_BOOL bExist = VARIANT_FALSE;
        for (int nRound = 0; nRound < s_nRounds; ++nRound) {
            Interleaved(
                comPeriod, nPeriods,
                [&](int i) {
                    store.pStore->GetPeriodEventEx(WeekStart(i * 71), WeekStart(i * 71 + 7) - 1, weekCalendar(i),
                                                   static_cast<IEventVisitor*>(pCounter));
                },
                [&](int i) {
                    CRawOps raw(file);
                    raw.Period(weekCalendar(i), WeekStart(i * 71), WeekStart(i * 71 + 7) - 1);
                });
            Interleaved(
                comLookup, nSingles,
                [&](int i) {
                    const CBstr bsID(pick(i).strExt3.c_str());
                    store.pStore->IsOutlookIDExist(bsID.Get(), &bExist);
                },
                [&](int i) {
                    CRawOps raw(file);
                    raw.Lookup(pick(i).strExt3.c_str());
                });
        }
        pCounter->Release();
    }
    std::printf("period queries: %lld rows through the store, %lld through SQLite, in %d one-week queries\n",
                llStoreRows, llRawRows, nPeriods);
    return {
        {"one-week period query, one calendar (batch)", period.dStore, period.dRaw},
        {"select one event by its ids (batch)", select.dStore, select.dRaw},
        {"lookup by external id (batch)", lookup.dStore, lookup.dRaw},
        {"update one event (batch)", update.dStore, update.dRaw},
        {"delete one event + its exceptions (batch)", remove.dStore, remove.dRaw},
        {"one-week period query, own connection each", periodSingle.dStore, periodSingle.dRaw},
        {"select one event, own connection each", selectSingle.dStore, selectSingle.dRaw},
        {"lookup by external id, own connection each", lookupSingle.dStore, lookupSingle.dRaw},
        {"period query via the store object (COM)", comPeriod.dStore, comPeriod.dRaw},
        {"IsOutlookIDExist via the store object (COM)", comLookup.dStore, comLookup.dRaw},
    };
}

// ---------------------------------------------------------------------------
// Memory of an enumeration, measured in a child process

long long StatusKb(const char* pszKey)
{
    std::ifstream status("/proc/self/status");
    std::string strLine;
    while (std::getline(status, strLine)) {
        if (strLine.compare(0, std::strlen(pszKey), pszKey) == 0) {
            return std::atoll(strLine.c_str() + std::strlen(pszKey));
        }
    }
    return -1;
}

// The child: the store object at rest, then every event of the four calendars
// through GetAllCalEvent and through the period query over all four years.
int EnumerateChild(DWORD dwUIN)
{
    CStore store(dwUIN);
    if (FAILED(store.hrStart)) {
        return 1;
    }
    store.pSequence->EndStartupBatch();
    const long long llRest = StatusKb("VmRSS:");
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";  // the peak starts again from here
    }
    CEventCounter* pCounter = new CEventCounter();
    pCounter->AddRef();
    const TimePoint tStart = Now();
    for (DWORD dwCalID : {1001u, 1002u, 1003u, 1004u}) {
        store.pStore->GetAllCalEvent(dwCalID, static_cast<IEventVisitor*>(pCounter));
    }
    const double dAll = SecondsSince(tStart);
    const long long llAll = pCounter->m_nVisits;
    const TimePoint tPeriod = Now();
    for (DWORD dwCalID : {1001u, 1002u, 1003u, 1004u}) {
        store.pStore->GetPeriodEventEx(WeekStart(0), WeekStart(1461), dwCalID, static_cast<IEventVisitor*>(pCounter));
    }
    const double dPeriod = SecondsSince(tPeriod);
    const long long llPeak = StatusKb("VmHWM:");
    std::printf("%lld %lld %lld %lld %.3f %.3f\n", llRest, llPeak, llAll, pCounter->m_nVisits - llAll, dAll, dPeriod);
    pCounter->Release();
    return 0;
}

std::string SelfPath()
{
    char szPath[4096] = {};
    const ssize_t cb = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
    return cb > 0 ? std::string(szPath, static_cast<size_t>(cb)) : std::string();
}

// ---------------------------------------------------------------------------
// calstore's import against a Python script

struct CProcessCost {
    int nStatus = -1;
    double dCpuSeconds = -1;
    double dWallSeconds = -1;
    long long llMaxRssKb = -1;
    bool bTimedOut = false;
};

CProcessCost RunProcess(const std::vector<std::string>& args, double dTimeoutSeconds)
{
    CProcessCost cost;
    std::fflush(stdout);  // or the child would print this process's buffered lines again
    const TimePoint tStart = Now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& str : args) {
            argv.push_back(const_cast<char*>(str.c_str()));
        }
        argv.push_back(nullptr);
        if (freopen("/dev/null", "w", stdout) == nullptr) {
            _exit(127);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0) {
        return cost;
    }
    int nStatus = 0;
    struct rusage usage {};
    for (;;) {
        const pid_t done = wait4(pid, &nStatus, WNOHANG, &usage);
        if (done == pid) {
            break;
        }
        if (SecondsSince(tStart) > dTimeoutSeconds) {
            kill(pid, SIGKILL);
            wait4(pid, &nStatus, 0, &usage);
            cost.bTimedOut = true;
            break;
        }
        usleep(20000);
    }
    cost.dWallSeconds = SecondsSince(tStart);
    cost.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    cost.dCpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    cost.llMaxRssKb = usage.ru_maxrss;
    return cost;
}

std::string IcsTime(DWORD dwTime)
{
    const time_t t = static_cast<time_t>(dwTime);
    struct tm tmUtc {};
    gmtime_r(&t, &tmUtc);
    char sz[32];
    std::strftime(sz, sizeof(sz), "%Y%m%dT%H%M%SZ", &tmUtc);
    return sz;
}

// A text value of the file: ASCII only here, with the characters iCalendar escapes.
std::string IcsText(const WString& str)
{
    std::string strOut;
    for (WCHAR ch : str) {
        if (ch == u',' || ch == u';' || ch == u'\\') {
            strOut += '\\';
            strOut += static_cast<char>(ch);
        } else if (ch >= 0x20 && ch < 0x7F) {
            strOut += static_cast<char>(ch);
        }
    }
    return strOut;
}

// Content lines longer than 75 octets are folded.
void WriteLine(std::ofstream& out, const std::string& strLine)
{
    size_t nPos = 0;
    while (strLine.size() - nPos > 75) {
        out << strLine.substr(nPos, nPos == 0 ? 75 : 74) << "\r\n ";
        nPos += nPos == 0 ? 75 : 74;
    }
    out << strLine.substr(nPos) << "\r\n";
}

bool WriteIcs(const fs::path& file, int nEvents)
{
    std::ofstream out(file, std::ios::binary);
    WriteLine(out, "BEGIN:VCALENDAR");
    WriteLine(out, "VERSION:2.0");
    WriteLine(out, "PRODID:-//Brellin//bench//EN");
    for (int i = 0; i < nEvents; ++i) {
        const CEventSpec& ev = g_events[static_cast<size_t>(i)];
        WriteLine(out, "BEGIN:VEVENT");
        WriteLine(out, "UID:" + IcsText(ev.strExt3) + "@bench.example.org");
        WriteLine(out, "DTSTAMP:20240101T000000Z");
        WriteLine(out, "DTSTART:" + IcsTime(ev.dwBgnTm));
        WriteLine(out, "DTEND:" + IcsTime(ev.dwEndTm));
        WriteLine(out, "SUMMARY:" + IcsText(ev.strSubject));
        WriteLine(out, "DESCRIPTION:" + IcsText(ev.strDetail));
        WriteLine(out, "LOCATION:" + IcsText(ev.strLocation));
        WriteLine(out, "END:VEVENT");
    }
    WriteLine(out, "END:VCALENDAR");
    return static_cast<bool>(out);
}

void PrintCost(const char* pszWhat, const CProcessCost& cost, long long llRows)
{
    if (cost.bTimedOut) {
        std::printf("  %-44s timed out after %.0f s\n", pszWhat, cost.dWallSeconds);
        return;
    }
    std::printf("  %-44s %8.2f s CPU %8.2f s wall %8lld MB peak  exit %d, %lld rows\n", pszWhat, cost.dCpuSeconds,
                cost.dWallSeconds, cost.llMaxRssKb / 1024, cost.nStatus, llRows);
}

void RunImports(int nEvents)
{
    std::printf("\nImporting a generated file of %d single events (CPU seconds of the whole process)\n", nEvents);
    const fs::path ics = g_root / "bench.ics";
    if (!WriteIcs(ics, nEvents)) {
        std::printf("  cannot write %s\n", ics.c_str());
        return;
    }
    std::printf("  file: %.1f MB\n", static_cast<double>(fs::file_size(ics)) / 1e6);
    const double dTimeout = std::getenv("BENCH_IMPORT_TIMEOUT") != nullptr ? std::atof(std::getenv("BENCH_IMPORT_TIMEOUT")) : 1800;

#ifdef CALSTORE_BINARY
    {
        const fs::path root = g_root / "calstore";
        std::error_code ec;
        fs::create_directories(root, ec);
        setenv("CALSTORE_REGISTRY", (g_root / "registry.reg").c_str(), 1);
        RunProcess({CALSTORE_BINARY, "--root", root.string(), "--account", "1000", "add-calendar", "1", "Bench"},
                   dTimeout);
        const CProcessCost cost = RunProcess(
            {CALSTORE_BINARY, "--root", root.string(), "--account", "1000", "import", ics.string(), "--calendar", "1"},
            dTimeout);
        PrintCost("calstore import", cost, ScalarOf(root / "1000" / "CalData.db", "select count(*) from Event;"));
    }
#else
    std::printf("  calstore was not built\n");
#endif
    const fs::path pyDb = g_root / "python.db";
    // Debian's interpreter, where its python3-icalendar package lives.
    const char* pszPython = std::getenv("BENCH_PYTHON");
    const std::string strPython =
        pszPython != nullptr ? pszPython : (fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3");
    const CProcessCost cost = RunProcess({strPython, BENCH_ICS_SCRIPT, ics.string(), pyDb.string()}, dTimeout);
    if (cost.nStatus == 3) {
        std::printf("  python3 icalendar import: the icalendar package is not installed (apt-get install python3-icalendar)\n");
    } else {
        PrintCost("python3 icalendar + sqlite3 executemany", cost, ScalarOf(pyDb, "select count(*) from Event;"));
    }
}

struct CTempRoot {
    ~CTempRoot()
    {
        if (!path.empty()) {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    }
    fs::path path;
};

}  // namespace

int main(int argc, char** argv)
{
    // Before anything can log: a log line per save would distort the store's figures.
    setenv("CALSTORE_LOG", "off", 1);
    if (argc == 4 && std::strcmp(argv[1], "--enumerate-child") == 0) {
        g_root = argv[2];
        setenv("CALSTORE_ROOT", argv[2], 1);
        return EnumerateChild(static_cast<DWORD>(std::atol(argv[3])));
    }
    const bool bQuick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const TimePoint tWhole = Now();

    const char* pszTmp = std::getenv("TMPDIR");
    std::string strTemplate = std::string(pszTmp != nullptr && *pszTmp != 0 ? pszTmp : "/tmp") + "/calstore-bench-XXXXXX";
    if (mkdtemp(&strTemplate[0]) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    CTempRoot tempRoot;
    if (std::getenv("BENCH_KEEP_ROOT") == nullptr) {
        tempRoot.path = strTemplate;
    }
    g_root = strTemplate;
    setenv("CALSTORE_ROOT", strTemplate.c_str(), 1);

    const std::vector<int> rgnCounts = bQuick ? std::vector<int>{1000, 10000} : std::vector<int>{1000, 10000, 100000};
    const int nMax = rgnCounts.back();
    g_events = MakeEvents(nMax);
    std::printf("Brellin store benchmark: %d events over four years in four calendars (SQLite %s)\n", nMax,
                sqlite3_libversion());

    // Saves.
    std::vector<CSaveResult> saves;
    DWORD dwNextUin = 70001;
    for (const int nEvents : rgnCounts) {
        const int nRuns = nEvents <= 1000 ? 3 : (nEvents <= 10000 ? 2 : 1);
        CSaveResult result;
        result.nEvents = nEvents;
        DWORD dwMediaUin = 0;
        result.dMedia = BestOf(nRuns, [&]() {
            dwMediaUin = dwNextUin++;
            return MediaSave(dwMediaUin, nEvents);
        });
        result.dCom = BestOf(nRuns, [&]() { return ComSave(dwNextUin++, nEvents); });
        const fs::path rawFile = g_root / ("raw-" + std::to_string(nEvents) + ".db");
        result.dRaw = BestOf(nRuns, [&]() { return RawInsert(rawFile, nEvents); });
        if (result.dMedia > 0 && result.dRaw > 0) {
            const long long llDiffer = CountDifferingRows(AccountFile(dwMediaUin), rawFile);
            result.pszSameRows = llDiffer == 0 ? "yes" : (llDiffer < 0 ? "error" : "NO");
        }
        if (nEvents == nMax) {
            // The largest store stays for the queries and the enumeration.
            std::error_code ec;
            fs::remove_all(g_root / std::to_string(static_cast<int>(s_dwQueryUin)), ec);
            fs::rename(g_root / std::to_string(static_cast<int>(dwMediaUin)),
                       g_root / std::to_string(static_cast<int>(s_dwQueryUin)), ec);
        }
        saves.push_back(result);
        std::fflush(stdout);
    }

    std::printf("\nSaving N events in one batch (rates in events/s; ratio = rate / raw SQLite's rate; cost per event in microseconds)\n");
    std::printf("%8s %10s %10s %10s %8s %8s %9s %9s %9s %6s\n", "N", "media/s", "COM/s", "raw/s", "media", "COM",
                "media us", "COM us", "raw us", "same");
    for (const CSaveResult& r : saves) {
        auto rate = [&](double d) { return d > 0 ? r.nEvents / d : 0.0; };
        std::printf("%8d %10.0f %10.0f %10.0f %8.3f %8.3f %9.1f %9.1f %9.1f %6s\n", r.nEvents, rate(r.dMedia),
                    rate(r.dCom), rate(r.dRaw), rate(r.dMedia) / rate(r.dRaw), rate(r.dCom) / rate(r.dRaw),
                    r.dMedia * 1e6 / r.nEvents, r.dCom * 1e6 / r.nEvents, r.dRaw * 1e6 / r.nEvents, r.pszSameRows);
    }
    if (saves.size() >= 3) {
        const CSaveResult& r10 = saves[saves.size() - 2];
        const CSaveResult& r100 = saves.back();
        std::printf("per-event cost at %d / at %d: media %.2f, COM %.2f, raw %.2f\n", r100.nEvents, r10.nEvents,
                    (r100.dMedia / r100.nEvents) / (r10.dMedia / r10.nEvents),
                    (r100.dCom / r100.nEvents) / (r10.dCom / r10.nEvents),
                    (r100.dRaw / r100.nEvents) / (r10.dRaw / r10.nEvents));
    }
    std::printf("file of %d events: %.1f MB\n", nMax,
                static_cast<double>(fs::file_size(AccountFile(s_dwQueryUin))) / 1e6);
    std::fflush(stdout);

    // Memory: a fresh process, so that nothing of this one counts.
    {
        const std::string strCommand = SelfPath() + " --enumerate-child '" + g_root.string() + "' " +
                                       std::to_string(static_cast<int>(s_dwQueryUin));
        FILE* pChild = popen(strCommand.c_str(), "r");
        long long llRest = -1, llPeak = -1, llAll = -1, llPeriod = -1;
        double dAll = 0, dPeriod = 0;
        const int nRead = pChild != nullptr ? std::fscanf(pChild, "%lld %lld %lld %lld %lf %lf", &llRest, &llPeak,
                                                          &llAll, &llPeriod, &dAll, &dPeriod)
                                            : 0;
        if (pChild != nullptr) {
            pclose(pChild);
        }
        std::printf("\nEnumerating every event through the store object (child process)\n");
        if (nRead == 6) {
            std::printf("  at rest %lld KB; peak during the enumerations %lld KB: %+lld KB\n", llRest, llPeak,
                        llPeak - llRest);
            std::printf("  GetAllCalEvent of the four calendars: %lld events in %.2f s; GetPeriodEventEx over the four years: %lld events in %.2f s\n",
                        llAll, dAll, llPeriod, dPeriod);
        } else {
            std::printf("  the child failed\n");
        }
    }
    std::fflush(stdout);

    PrintPlans(AccountFile(s_dwQueryUin));
    std::printf("\nSingle statements on the store of %d events (microseconds per operation)\n", nMax);
    const std::vector<COpTimes> ops = TimeSingleStatements(nMax);
    std::printf("%-46s %10s %10s %8s\n", "operation", "store us", "raw us", "ratio");
    for (const COpTimes& op : ops) {
        std::printf("%-46s %10.1f %10.1f %8.2f\n", op.pszName, op.dStoreMicros, op.dRawMicros,
                    op.dStoreMicros / op.dRawMicros);
    }
    std::fflush(stdout);

    if (!bQuick) {
        RunImports(nMax);
    }
    std::printf("\nwhole run: %.0f s (temporary root %s, %s)\n", SecondsSince(tWhole), g_root.c_str(),
                tempRoot.path.empty() ? "kept: BENCH_KEEP_ROOT" : "removed");
    return 0;
}
