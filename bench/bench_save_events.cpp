// Saving events in batch mode: the store media against the same rows written
// straight through SQLite with one prepared statement and one transaction.
//
// Every iteration starts from a fresh database file, made outside the timed part.
// Timed for the store media: SetBatchMode(TRUE), the saves, SetBatchMode(FALSE),
// which opens the connection, begins, commits and closes. Timed for SQLite, to
// match: open, prepare, begin, the inserts, commit, close. On both sides each
// event is first copied from the prepared event list into one reused record, so
// both pay the same for their input.
//
// The program runs with its own temporary root directory (CALSTORE_ROOT) and with
// the logger switched off, then prints the rates side by side.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "media/CalendarRecords.h"
#include "media/VxCalStoreMedia.h"

namespace fs = std::filesystem;

namespace {

const int s_rgnEventCounts[] = {1000, 10000, 30000};
const int s_nMaxEvents = 30000;

// The store media's cost grows with the square of the batch (each save first looks
// its key up in the unindexed table), so its large batches run once.
int StoreIterations(int nEvents) { return nEvents <= 1000 ? 3 : 1; }
const int s_nRawIterations = 3;

const char s_szStoreName[] = "store_media";
const char s_szRawName[] = "raw_sqlite";
const char s_szRateCounter[] = "events_per_second";

// Table Event exactly as the store media creates it.
const char s_szCreateEvent[] =
    "create table Event(CalID int,EvtID int,EvtType int,BgnTm int,EndTm int,TmStamp int,TipType int,Minute int,"
    "Hour int,Day int,Week int,Month int,LoopType int,subject text,detail text,Synchronized int,"
    "RevisedState int ,RemindMinute int,ContactID text,ContactInfo text,Location text,SponsorID int,"
    "WeekNum int,MonthNum int,Year int,CalType int,EndType int,SwitchTimes int,LoopCalID int,"
    "LoopEventID int,CalOwnerUin int,EventRight int,ContactIDDisplay text,ContactIDInvalid text,"
    "EventStatus int, Valid int,ext1 text,ext2 text,ext3 text,ext4 int, ext5 int,nums int);";

// All 42 columns in table order; the parameter number is the column position + 1.
const char s_szInsertEvent[] =
    "insert into Event(CalID,EvtID,EvtType,BgnTm,EndTm,TmStamp,TipType,Minute,Hour,Day,Week,Month,LoopType,"
    "subject,detail,Synchronized,RevisedState,RemindMinute,ContactID,ContactInfo,Location,SponsorID,WeekNum,"
    "MonthNum,Year,CalType,EndType,SwitchTimes,LoopCalID,LoopEventID,CalOwnerUin,EventRight,ContactIDDisplay,"
    "ContactIDInvalid,EventStatus,Valid,ext1,ext2,ext3,ext4,ext5,nums) values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,"
    "?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?);";

// ---------------------------------------------------------------------------
// The events

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

// Events spread over two years from 2024-01-01, in four calendars, with texts of a
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
            llFirstDay + static_cast<long long>(pick(730)) * 86400 + (7 + pick(13)) * 3600 + pick(4) * 15 * 60;
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
        const size_t cSentences = 1 + pick(5);
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

const std::vector<CEventSpec>& Events()
{
    static const std::vector<CEventSpec> s_events = MakeEvents(s_nMaxEvents);
    return s_events;
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

// ---------------------------------------------------------------------------
// Files

fs::path g_root;
DWORD g_dwNextUin = 50001;

// The file of the last iteration of each run, kept for the comparison at the end.
std::map<int, fs::path> g_lastStoreFile;
std::map<int, fs::path> g_lastRawFile;

double SecondsSince(std::chrono::steady_clock::time_point tStart)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
}

// Rows in table Event of a file, through a connection of its own; -1 on failure.
long long CountEventRows(const fs::path& path)
{
    sqlite3* pDB = nullptr;
    long long llRows = -1;
    if (sqlite3_open_v2(path.c_str(), &pDB, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* pStmt = nullptr;
        if (sqlite3_prepare_v2(pDB, "select count(*) from Event;", -1, &pStmt, nullptr) == SQLITE_OK &&
            sqlite3_step(pStmt) == SQLITE_ROW) {
            llRows = sqlite3_column_int64(pStmt, 0);
        }
        sqlite3_finalize(pStmt);
    }
    sqlite3_close(pDB);
    return llRows;
}

// Rows found in only one of the two Event tables (both ways), or -1 on failure.
long long CountDifferingRows(const fs::path& pathA, const fs::path& pathB)
{
    sqlite3* pDB = nullptr;
    long long llDiffer = -1;
    if (sqlite3_open_v2(pathA.c_str(), &pDB, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* pAttach = nullptr;
        bool bAttached = false;
        if (sqlite3_prepare_v2(pDB, "attach database ?1 as other;", -1, &pAttach, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(pAttach, 1, pathB.c_str(), -1, SQLITE_TRANSIENT);
            bAttached = sqlite3_step(pAttach) == SQLITE_DONE;
        }
        sqlite3_finalize(pAttach);
        sqlite3_stmt* pStmt = nullptr;
        if (bAttached &&
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

// ---------------------------------------------------------------------------
// The benchmarks

void BM_StoreMediaSave(benchmark::State& state)
{
    const int nEvents = static_cast<int>(state.range(0));
    const std::vector<CEventSpec>& events = Events();
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());

    for (auto _ : state) {
        const DWORD dwUIN = g_dwNextUin++;
        const fs::path dir = g_root / std::to_string(static_cast<int>(dwUIN));
        std::error_code ec;
        fs::create_directories(dir, ec);
        CVxCalStoreMedia media;
        if (ec || FAILED(media.Open(dwUIN, WTEXT("CalData.db"), FALSE))) {
            state.SkipWithError("cannot create the account's database");
            break;
        }

        const auto tStart = std::chrono::steady_clock::now();
        HRESULT hr = media.SetBatchMode(TRUE);
        for (int i = 0; i < nEvents && SUCCEEDED(hr); ++i) {
            FillRecord(events[static_cast<size_t>(i)], *pRec);
            hr = media.SaveCalEvent(pRec.get(), 0);
        }
        const HRESULT hrEnd = media.SetBatchMode(FALSE);
        state.SetIterationTime(SecondsSince(tStart));

        if (FAILED(hr) || FAILED(hrEnd)) {
            state.SkipWithError("the store media refused a save or the batch");
            break;
        }
        const fs::path file = dir / "CalData.db";
        if (CountEventRows(file) != nEvents) {
            state.SkipWithError("the database does not hold every saved event");
            break;
        }
        g_lastStoreFile[nEvents] = file;
    }
    state.counters[s_szRateCounter] =
        benchmark::Counter(static_cast<double>(nEvents), benchmark::Counter::kIsIterationInvariantRate);
}

// A fresh file with table Event only, in the store's text encoding (its
// connections are opened through the UTF-16 interface).
bool CreateRawDatabase(const fs::path& file)
{
    sqlite3* pDB = nullptr;
    bool bDone = sqlite3_open(file.c_str(), &pDB) == SQLITE_OK;
    const std::string strSetup = std::string("pragma encoding = 'UTF-16le';") + s_szCreateEvent;
    bDone = bDone && sqlite3_exec(pDB, strSetup.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(pDB);
    return bDone;
}

// Binds the record's 36 values and its external identifier; ext1, ext2, ext4, ext5
// and nums are bound once per statement.
void BindRecord(sqlite3_stmt* pStmt, const tagEventRecord& rec)
{
    auto bindInt = [pStmt](int nColumn, int nValue) { sqlite3_bind_int(pStmt, nColumn + 1, nValue); };
    auto bindText = [pStmt](int nColumn, const WCHAR* psz) {
        sqlite3_bind_text16(pStmt, nColumn + 1, psz, -1, SQLITE_STATIC);
    };
    bindInt(0, int(rec.dwCalID));
    bindInt(1, int(rec.dwEvtID));
    bindInt(2, int(rec.cEvtType));
    bindInt(3, int(rec.dwBgnTm));
    bindInt(4, int(rec.dwEndTm));
    bindInt(5, int(rec.dwTimeStamp));
    bindInt(6, int(rec.cTipType));
    bindInt(7, int(rec.cMinute));
    bindInt(8, int(rec.cHour));
    bindInt(9, int(rec.wDay));
    bindInt(10, int(rec.cWeek));
    bindInt(11, int(rec.cMonth));
    bindInt(12, int(rec.cLoopType));
    bindText(13, rec.szSubject);
    bindText(14, rec.szDetail);
    bindInt(15, int(rec.cSynchronized));
    bindInt(16, int(rec.cRevisedState));
    bindInt(17, int(rec.wRemindMinute));
    bindText(18, rec.szContactID);
    bindText(19, rec.szContactInfo);
    bindText(20, rec.szLocation);
    bindInt(21, int(rec.dwSponsorID));
    bindInt(22, int(rec.wWeekNum));
    bindInt(23, int(rec.wMonthNum));
    bindInt(24, int(rec.dwYear));
    bindInt(25, int(rec.wCalType));
    bindInt(26, int(rec.cEndType));
    bindInt(27, int(rec.wSwitchTimes));
    bindInt(28, int(rec.dwLoopCalID));
    bindInt(29, int(rec.dwLoopEventID));
    bindInt(30, int(rec.dwCalOwnerUin));
    bindInt(31, int(rec.cEventRight));
    bindText(32, rec.szContactIDDisplay);
    bindText(33, rec.szContactIDInvalid);
    bindInt(34, int(rec.cEventStatus));
    bindInt(35, int(rec.cValid));
    bindText(38, rec.szExt3);
}

void BindConstantColumns(sqlite3_stmt* pStmt)
{
    static const WCHAR s_szEmpty[] = WTEXT("");
    sqlite3_bind_text16(pStmt, 37, s_szEmpty, -1, SQLITE_STATIC);  // ext1
    sqlite3_bind_text16(pStmt, 38, s_szEmpty, -1, SQLITE_STATIC);  // ext2
    sqlite3_bind_int(pStmt, 40, 0);                                // ext4
    sqlite3_bind_int(pStmt, 41, 0);                                // ext5
    sqlite3_bind_int(pStmt, 42, 0);                                // nums
}

// The whole batch on one connection; false when any step fails.
bool InsertBatch(const fs::path& file, const std::vector<CEventSpec>& events, int nEvents, tagEventRecord& rec)
{
    sqlite3* pDB = nullptr;
    if (sqlite3_open(file.c_str(), &pDB) != SQLITE_OK) {
        sqlite3_close(pDB);
        return false;
    }
    sqlite3_stmt* pStmt = nullptr;
    bool bDone = sqlite3_prepare_v2(pDB, s_szInsertEvent, -1, &pStmt, nullptr) == SQLITE_OK &&
                 sqlite3_exec(pDB, "begin transaction;", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (bDone) {
        BindConstantColumns(pStmt);
        for (int i = 0; i < nEvents && bDone; ++i) {
            FillRecord(events[static_cast<size_t>(i)], rec);
            BindRecord(pStmt, rec);
            bDone = sqlite3_step(pStmt) == SQLITE_DONE;
            sqlite3_reset(pStmt);
        }
        bDone = sqlite3_exec(pDB, bDone ? "commit transaction;" : "rollback transaction;", nullptr, nullptr,
                             nullptr) == SQLITE_OK &&
                bDone;
    }
    sqlite3_finalize(pStmt);
    bDone = sqlite3_close(pDB) == SQLITE_OK && bDone;
    return bDone;
}

void BM_RawSqliteInsert(benchmark::State& state)
{
    const int nEvents = static_cast<int>(state.range(0));
    const std::vector<CEventSpec>& events = Events();
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    int nIteration = 0;

    for (auto _ : state) {
        const fs::path file = g_root / ("raw-" + std::to_string(nEvents) + "-" + std::to_string(nIteration++) + ".db");
        if (!CreateRawDatabase(file)) {
            state.SkipWithError("cannot create the reference database");
            break;
        }

        const auto tStart = std::chrono::steady_clock::now();
        const bool bDone = InsertBatch(file, events, nEvents, *pRec);
        state.SetIterationTime(SecondsSince(tStart));

        if (!bDone) {
            state.SkipWithError("an SQLite call failed during the batch");
            break;
        }
        if (CountEventRows(file) != nEvents) {
            state.SkipWithError("the reference database does not hold every event");
            break;
        }
        g_lastRawFile[nEvents] = file;
    }
    state.counters[s_szRateCounter] =
        benchmark::Counter(static_cast<double>(nEvents), benchmark::Counter::kIsIterationInvariantRate);
}

// ---------------------------------------------------------------------------
// Reporting

struct CRateResult {
    double dRate = 0;          // events per second
    double dBatchSeconds = 0;  // mean time of one batch
};

// The console output as usual, and each run's rate kept for the summary table.
class CRateCollector : public benchmark::ConsoleReporter {
public:
    CRateCollector() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations <= 0) {
                continue;
            }
            const auto itRate = run.counters.find(s_szRateCounter);
            if (itRate == run.counters.end()) {
                continue;
            }
            CRateResult result;
            result.dRate = itRate->second.value;
            result.dBatchSeconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            const int nEvents = std::atoi(run.run_name.args.c_str());
            if (run.run_name.function_name == s_szStoreName) {
                m_store[nEvents] = result;
            } else if (run.run_name.function_name == s_szRawName) {
                m_raw[nEvents] = result;
            }
        }
    }

    void PrintSummary() const
    {
        std::printf("\nSaving events in batch mode (ratio = store/s divided by raw/s)\n");
        std::printf("%7s %12s %12s %8s %11s %10s %10s\n", "N", "store/s", "raw/s", "ratio", "store batch",
                    "raw batch", "same rows");
        for (const int nEvents : s_rgnEventCounts) {
            const auto itStore = m_store.find(nEvents);
            const auto itRaw = m_raw.find(nEvents);
            if (itStore == m_store.end() || itRaw == m_raw.end()) {
                std::printf("%7d %12s\n", nEvents, "(no result)");
                continue;
            }
            const char* pszSame = "n/a";
            const auto itStoreFile = g_lastStoreFile.find(nEvents);
            const auto itRawFile = g_lastRawFile.find(nEvents);
            if (itStoreFile != g_lastStoreFile.end() && itRawFile != g_lastRawFile.end()) {
                const long long llDiffer = CountDifferingRows(itStoreFile->second, itRawFile->second);
                pszSame = llDiffer == 0 ? "yes" : (llDiffer < 0 ? "error" : "NO");
            }
            std::printf("%7d %12.0f %12.0f %8.4f %9.3f s %8.3f s %10s\n", nEvents, itStore->second.dRate,
                        itRaw->second.dRate, itStore->second.dRate / itRaw->second.dRate,
                        itStore->second.dBatchSeconds, itRaw->second.dBatchSeconds, pszSame);
        }
    }

private:
    std::map<int, CRateResult> m_store;
    std::map<int, CRateResult> m_raw;
};

// Removes the temporary root however main ends.
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
    const auto tStart = std::chrono::steady_clock::now();

    const char* pszTmp = std::getenv("TMPDIR");
    std::string strTemplate = std::string(pszTmp != nullptr && *pszTmp != 0 ? pszTmp : "/tmp") + "/calstore-bench-XXXXXX";
    if (mkdtemp(&strTemplate[0]) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    CTempRoot tempRoot;
    tempRoot.path = strTemplate;
    g_root = tempRoot.path;
    setenv("CALSTORE_ROOT", strTemplate.c_str(), 1);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }

    Events();  // built once, outside every timed part

    for (const int nEvents : s_rgnEventCounts) {
        benchmark::RegisterBenchmark(s_szStoreName, BM_StoreMediaSave)
            ->Arg(nEvents)
            ->Iterations(StoreIterations(nEvents))
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(s_szRawName, BM_RawSqliteInsert)
            ->Arg(nEvents)
            ->Iterations(s_nRawIterations)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }

    CRateCollector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();

    if (fs::exists(g_root / "Calendar.log")) {
        std::printf("note: the logger wrote %s despite CALSTORE_LOG=off\n", (g_root / "Calendar.log").c_str());
    }
    std::printf("whole run: %.1f s (temporary root %s, removed)\n", SecondsSince(tStart), g_root.c_str());
    return 0;
}
