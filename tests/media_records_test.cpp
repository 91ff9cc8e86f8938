// Calendar and event rows through a real database file: fields at the edges of
// their width, texts at their bounds, queries, deletes, the lookup; bound values
// store byte for byte what the formatted statements stored, and lists keep the
// order of the rows in the table, with or without the indexes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "media/LegacyStatements.h"
#include "media/RecordFields.h"
#include "media/SqlText.h"
#include "media/VxCalStoreMedia.h"

using namespace testing_support;
using namespace legacy_sql;

namespace {

const DWORD s_dwAccount = 42;

template <size_t N>
void SetText(WCHAR (&szField)[N], const WString& str)
{
    WStrCopyN(szField, N, str.c_str());
}

// A text of cch units made of a repeated pattern.
WString Repeated(const WString& strPattern, size_t cch)
{
    WString str;
    while (str.size() < cch) {
        str += strPattern;
    }
    return str.substr(0, cch);
}

// Zero-filled, as the store object makes them.
std::unique_ptr<tagEventRecord> NewEvent(DWORD dwCalID, DWORD dwEvtID, DWORD dwBgnTm = 0, DWORD dwEndTm = 0)
{
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    pRec->dwCalID = dwCalID;
    pRec->dwEvtID = dwEvtID;
    pRec->dwBgnTm = dwBgnTm;
    pRec->dwEndTm = dwEndTm;
    return pRec;
}

// Every number at an edge of its width and sign (variant 0 the lowest, 1 the
// highest), every text filled to its bound with apostrophes and surrogate pairs.
std::unique_ptr<tagEventRecord> EdgeEvent(DWORD dwCalID, DWORD dwEvtID, int nVariant)
{
    std::unique_ptr<tagEventRecord> pRec = NewEvent(dwCalID, dwEvtID);
    tagEventRecord& r = *pRec;
    const DWORD dw = nVariant == 0 ? 0x80000000u : 0xFFFFFFFFu;
    const signed char c = static_cast<signed char>(nVariant == 0 ? -128 : 127);
    r.dwBgnTm = r.dwEndTm = r.dwTimeStamp = r.dwSponsorID = r.dwCalOwnerUin = r.dwYear = dw;
    r.dwLoopCalID = r.dwLoopEventID = dw;
    r.cEvtType = r.cTipType = r.cMinute = r.cHour = r.cWeek = r.cMonth = r.cLoopType = r.cSynchronized = c;
    r.cRevisedState = r.cEndType = r.cEventRight = r.cEventStatus = r.cValid = c;
    r.wRemindMinute = r.wWeekNum = r.wMonthNum = r.wCalType = r.wSwitchTimes = WORD(nVariant == 0 ? 0 : 65535);
    r.wDay = 200;
    SetText(r.szLocation, Repeated(WTEXT("O'Hare "), EVT_LOCATION_MAX));
    SetText(r.szSubject, Repeated(WTEXT("\U00020000"), EVT_SUBJECT_MAX - 1));  // whole pairs only
    SetText(r.szDetail, Repeated(WTEXT("'"), EVT_DETAIL_MAX));
    SetText(r.szContactID, Repeated(WTEXT("a"), EVT_CONTACTID_MAX));
    SetText(r.szContactInfo, Repeated(WTEXT("é'"), EVT_CONTACTINFO_MAX));
    SetText(r.szContactIDDisplay, Repeated(WTEXT("日本"), EVT_CONTACTIDDISPLAY_MAX));
    SetText(r.szContactIDInvalid, Repeated(WTEXT("x' or 1=1 --"), EVT_CONTACTIDINVALID_MAX));
    SetText(r.szExt3, nVariant == 0 ? WTEXT("ext'3") : WTEXT("other"));
    return pRec;
}

std::unique_ptr<tagCalendarRecord> EdgeCalendar(DWORD dwCalID, int nVariant)
{
    std::unique_ptr<tagCalendarRecord> pRec(new tagCalendarRecord());
    tagCalendarRecord& r = *pRec;
    r.dwCalID = dwCalID;
    r.dwUIN = r.dwShrLevel = r.dwTimeStamp = r.dwSponsorID = r.dwFromCalID = nVariant == 0 ? 0x80000000u : 0xFFFFFFFFu;
    r.cCalType = static_cast<signed char>(nVariant == 0 ? -128 : 127);
    SetText(r.szSubject, WTEXT("Bob's ") + Repeated(WTEXT("\U0001F600x"), CAL_SUBJECT_MAX - 6));
    SetText(r.szDetail, Repeated(WTEXT("'"), CAL_DETAIL_MAX));
    SetText(r.szContactID, Repeated(WTEXT("id;"), CAL_CONTACTID_MAX));
    SetText(r.szContactInfo, Repeated(WTEXT("ü"), CAL_CONTACTINFO_MAX));
    SetText(r.szExt1, Repeated(WTEXT("e'"), CAL_EXT1_MAX));
    return pRec;
}

// The writes as the store formatted them, argument for argument.
#define Q(text) EscapeQuotes(text).c_str()
void FormattedInsertEvent(CppSQLite3DB& db, const tagEventRecord& r)
{
    db.execDML(WStrFormatString(s_szInsertEvent, WTEXT("Event"), int(r.dwCalID), int(r.dwEvtID), int(r.cEvtType),
                                int(r.dwBgnTm), int(r.dwEndTm), int(r.dwTimeStamp), int(r.cTipType), int(r.cMinute),
                                int(r.cHour), int(r.wDay), int(r.cWeek), int(r.cMonth), int(r.cLoopType),
                                Q(r.szSubject), Q(r.szDetail), int(r.cSynchronized), int(r.cRevisedState),
                                int(r.wRemindMinute), Q(r.szContactID), Q(r.szContactInfo), Q(r.szLocation),
                                int(r.dwSponsorID), int(r.wWeekNum), int(r.wMonthNum), int(r.dwYear), int(r.wCalType),
                                int(r.cEndType), int(r.wSwitchTimes), int(r.dwLoopCalID), int(r.dwLoopEventID),
                                int(r.dwCalOwnerUin), int(r.cEventRight), Q(r.szContactIDDisplay),
                                Q(r.szContactIDInvalid), int(r.cEventStatus), int(r.cValid), WTEXT(""), WTEXT(""),
                                Q(r.szExt3), 0, 0, 0)
                   .c_str());
}

void FormattedUpdateEvent(CppSQLite3DB& db, const tagEventRecord& r)
{
    db.execDML(WStrFormatString(s_szUpdateEvent, WTEXT("Event"), int(r.cEvtType), int(r.dwBgnTm), int(r.dwEndTm),
                                int(r.dwTimeStamp), int(r.cTipType), int(r.cMinute), int(r.cHour), int(r.wDay),
                                int(r.cWeek), int(r.cMonth), int(r.cLoopType), Q(r.szSubject), Q(r.szDetail),
                                int(r.cSynchronized), int(r.cRevisedState), int(r.wRemindMinute), Q(r.szContactID),
                                Q(r.szContactInfo), Q(r.szLocation), int(r.dwSponsorID), int(r.wWeekNum),
                                int(r.wMonthNum), int(r.dwYear), int(r.wCalType), int(r.cEndType), int(r.wSwitchTimes),
                                int(r.dwLoopCalID), int(r.dwLoopEventID), int(r.dwCalOwnerUin), int(r.cEventRight),
                                Q(r.szContactIDDisplay), Q(r.szContactIDInvalid), int(r.cEventStatus), int(r.cValid),
                                int(r.dwCalID), int(r.dwEvtID))
                   .c_str());
}

void FormattedSaveCalendar(CppSQLite3DB& db, const tagCalendarRecord& r, bool bInsert)
{
    db.execDML((bInsert ? WStrFormatString(s_szInsertCalendar, WTEXT("Calendar"), int(r.dwUIN), int(r.dwCalID),
                                           int(r.cCalType), int(r.dwShrLevel), int(r.dwTimeStamp), Q(r.szSubject),
                                           Q(r.szDetail), Q(r.szContactID), Q(r.szContactInfo), int(r.dwSponsorID),
                                           int(r.dwFromCalID), Q(r.szExt1), WTEXT(""), WTEXT(""), 0, 0, 0)
                        : WStrFormatString(s_szUpdateCalendar, WTEXT("Calendar"), int(r.cCalType), int(r.dwShrLevel),
                                           int(r.dwTimeStamp), Q(r.szSubject), Q(r.szDetail), Q(r.szContactID),
                                           Q(r.szContactInfo), int(r.dwSponsorID), int(r.dwFromCalID), Q(r.szExt1),
                                           int(r.dwCalID)))
                   .c_str());
}
#undef Q

class MediaRecordsTest : public ::testing::Test {
protected:
    MediaRecordsTest() { Open(m_media, s_dwAccount); }

    void Open(CVxCalStoreMedia& media, DWORD dwUIN)
    {
        MakeDirs(m_dir.Join(std::to_string(dwUIN)));
        ASSERT_EQ(S_OK, media.Open(dwUIN, WTEXT("CalData.db"), FALSE));
    }
    std::string DbPath(DWORD dwUIN = s_dwAccount) const { return m_dir.Join(std::to_string(dwUIN) + "/CalData.db"); }
    std::string Sql(const std::string& strScript, DWORD dwUIN = s_dwAccount)
    {
        return RunSqliteShell(DbPath(dwUIN), strScript);
    }
    void Save(std::unique_ptr<tagEventRecord> pRec) { ASSERT_EQ(S_OK, m_media.SaveCalEvent(pRec.get(), 0)); }
    // An exception row (EvtType 1) of the repeating event dwLoopCalID/dwLoopEventID.
    void SaveException(DWORD dwCalID, DWORD dwEvtID, DWORD dwLoopCalID, DWORD dwLoopEventID, int nType = 1)
    {
        std::unique_ptr<tagEventRecord> pRec = NewEvent(dwCalID, dwEvtID);
        pRec->cEvtType = static_cast<signed char>(nType);
        pRec->dwLoopCalID = dwLoopCalID;
        pRec->dwLoopEventID = dwLoopEventID;
        Save(std::move(pRec));
    }
    // What a list operation returned, as "EvtID,..." in row order; the array is freed.
    static std::string Ids(HRESULT hr, tagEventRecord* pArray, int nCount)
    {
        std::string str = hr == S_OK ? "" : "failed";
        for (int i = 0; i < nCount; ++i) {
            str += (i > 0 ? "," : "") + std::to_string(pArray[i].dwEvtID);
        }
        FreeRecordArray(pArray);
        return str;
    }
    std::string EventIDs(DWORD dwCalID)
    {
        tagEventRecord* pArray = nullptr;
        int nCount = 0;
        const HRESULT hr = m_media.GetAllCalEvent(dwCalID, &pArray, &nCount);
        return Ids(hr, pArray, nCount);
    }
    std::string PeriodIDs(DWORD dwCalID, DWORD dwBegin, DWORD dwEnd)
    {
        tagEventRecord* pArray = nullptr;
        int nCount = 0;
        const HRESULT hr = m_media.GetPeriodEvent(dwCalID, dwBegin, dwEnd, &pArray, &nCount);
        return Ids(hr, pArray, nCount);
    }
    // The same through the chunked read, two rows at a time (bPeriod: of the period).
    std::string ChunkIDs(DWORD dwCalID, bool bPeriod = false, DWORD dwBegin = 0, DWORD dwEnd = 0)
    {
        tagEventRecord rgChunk[2];
        CEventChunkCursor cursor;
        cursor.bPeriod = bPeriod;
        cursor.dwCalID = dwCalID;
        cursor.dwBeginTime = dwBegin;
        cursor.dwEndTime = dwEnd;
        std::string str;
        for (int nCount = 0; !cursor.bDone;) {
            EXPECT_EQ(S_OK, m_media.ReadEventChunk(cursor, rgChunk, 2, &nCount));
            for (int i = 0; i < nCount; ++i) {
                str += (str.empty() ? "" : ",") + std::to_string(rgChunk[i].dwEvtID);
            }
        }
        return str;
    }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    CVxCalStoreMedia m_media;
};

TEST_F(MediaRecordsTest, EveryFieldRoundTripsAtTheEdgesOfItsWidthAndEveryTextAtItsBound)
{
    for (int nVariant = 0; nVariant < 2; ++nVariant) {
        const DWORD dwID = nVariant == 0 ? 0x80000000u : 0xFFFFFFFFu;
        std::unique_ptr<tagCalendarRecord> pCal = EdgeCalendar(dwID, nVariant), pCalRead(new tagCalendarRecord());
        std::unique_ptr<tagEventRecord> pEvt = EdgeEvent(dwID, dwID, nVariant), pEvtRead = NewEvent(0, 0);
        ASSERT_EQ(S_OK, m_media.SaveCalendar(pCal.get(), 0));
        ASSERT_EQ(S_OK, m_media.SaveCalEvent(pEvt.get(), 0));
        SetText(pEvtRead->szExt3, WTEXT("kept"));
        ASSERT_EQ(S_OK, m_media.GetCalendar(dwID, pCalRead.get()));
        ASSERT_EQ(S_OK, m_media.GetCalEvent(dwID, dwID, pEvtRead.get()));
        EXPECT_EQ(WString(WTEXT("kept")), pEvtRead->szExt3) << "reads never touch the external identifier";
        EXPECT_EQ(65480, pEvtRead->wDay) << "Day keeps only its low byte, as a signed number";
        SetText(pEvtRead->szExt3, pEvt->szExt3);
        pEvtRead->wDay = pEvt->wDay;
        // Both sides were zero-filled whole, so equal bytes mean equal fields.
        EXPECT_EQ(0, std::memcmp(pCal.get(), pCalRead.get(), sizeof(tagCalendarRecord))) << nVariant;
        EXPECT_EQ(0, std::memcmp(pEvt.get(), pEvtRead.get(), sizeof(tagEventRecord))) << nVariant;
    }
    // Signed numbers and the columns the records do not carry: the .dump comparison.
    // A text that fills its whole array, with no terminator, is cut at its bound.
    std::unique_ptr<tagEventRecord> pFull = NewEvent(7, 7);
    std::fill(std::begin(pFull->szSubject), std::end(pFull->szSubject), WCHAR('x'));
    Save(std::move(pFull));
    EXPECT_EQ("767\n", Sql("select length(subject) from Event where CalID = 7;"));
    // The lookup matches stored identifiers only, apostrophes included.
    EXPECT_EQ(S_OK, m_media.IsOutlookIDExist(WTEXT("ext'3")));
    EXPECT_EQ(S_FALSE, m_media.IsOutlookIDExist(WTEXT("ext")));
    EXPECT_EQ(S_FALSE, m_media.IsOutlookIDExist(WTEXT("' or '1'='1")));
}

TEST_F(MediaRecordsTest, ReadsCutOverlongTextsAndTakeNullAsZeroOrEmpty)
{
    // Rows written by other software: a subject longer than its field that ends in
    // a character outside the Basic Multilingual Plane, and NULLs everywhere else.
    Sql("insert into Event(CalID, EvtID, subject) values(9, 1, printf('%.766c', 'a') || char(128512) || 'tail');");
    tagEventRecord* pArray = nullptr;
    int nCount = 0;
    ASSERT_EQ(S_OK, m_media.GetAllCalEvent(9, &pArray, &nCount));
    ASSERT_EQ(1, nCount);
    EXPECT_EQ(766u, WStrLen(pArray[0].szSubject)) << "the pair that does not fit is left out whole";
    EXPECT_EQ(0u, WStrLen(pArray[0].szDetail));
    FreeRecordArray(pArray);
}

TEST_F(MediaRecordsTest, ThePeriodQueryReturnsTheEventsThatTouchThePeriod)
{
    const DWORD aSpans[][4] = {{1, 1, 50, 100},  {1, 2, 200, 300}, {1, 3, 201, 300}, {1, 4, 10, 99},
                               {1, 5, 120, 130}, {1, 6, 0, 1000},  {2, 7, 150, 160}, {0, 8, 150, 160},
                               {1, 9, 0xFFFFFFF0u /* -16 */, 150}};
    for (const auto& span : aSpans) {
        Save(NewEvent(span[0], span[1], span[2], span[3]));
    }
    // Ending at the start and beginning at the end both touch the period.
    EXPECT_EQ("1,2,5,6,9", PeriodIDs(1, 100, 200));
    EXPECT_EQ("1,2,5,6,9", ChunkIDs(1, true, 100, 200));
    EXPECT_EQ("8", PeriodIDs(0, 100, 200));
    // Bounds at or above 2^31 compare as negative numbers.
    EXPECT_EQ("9", PeriodIDs(1, 0xFFFFFF00u, 0xFFFFFFFFu));
    EXPECT_EQ("", PeriodIDs(3, 0, 1000));
}

TEST_F(MediaRecordsTest, FieldQueriesApplyTheirConditionsAsGiven)
{
    for (DWORD dwEvt = 1; dwEvt <= 4; ++dwEvt) {
        std::unique_ptr<tagEventRecord> pRec = NewEvent(1, dwEvt);
        pRec->cLoopType = static_cast<signed char>(dwEvt % 2);
        SetText(pRec->szSubject, dwEvt <= 2 ? WTEXT("abc") : WTEXT("xyz"));
        Save(std::move(pRec));
    }
    tagEventRecord* pArray = nullptr;
    int nCount = 0;
    HRESULT hr = m_media.QueryCalEvent(1, WTEXT("subject"), WTEXT("'abc'"), &pArray, &nCount);
    EXPECT_EQ("1,2", Ids(hr, pArray, nCount));
    hr = m_media.QueryCalEventEx(1, WTEXT("subject"), WTEXT("'xyz'"), WTEXT("LoopType"), WTEXT("1"), &pArray, &nCount);
    EXPECT_EQ("3", Ids(hr, pArray, nCount));
    // A statement longer than the statement buffer is formatted whole.
    const WString strLong = WTEXT("'") + WString(5000, u'y') + WTEXT("'");
    EXPECT_EQ(S_OK, m_media.QueryCalEvent(1, WTEXT("subject"), strLong.c_str(), &pArray, &nCount));
    EXPECT_EQ(0, nCount);
}

TEST_F(MediaRecordsTest, DeletingARepeatingEventRemovesItsExceptionsEverywhere)
{
    Save(NewEvent(1, 10));
    Save(NewEvent(1, 11));
    SaveException(2, 20, 1, 10);
    SaveException(2, 21, 1, 10);
    SaveException(2, 22, 1, 10, 0);  // points to the event but is no exception
    SaveException(3, 30, 1, 11);

    ASSERT_EQ(S_OK, m_media.DelCalEvent(1, 10, 0));
    EXPECT_EQ("11", EventIDs(1));
    EXPECT_EQ("22", EventIDs(2));
    // Clearing a calendar leaves the exceptions in other calendars; they go on their own.
    ASSERT_EQ(S_OK, m_media.DelAllEventofCalendar(1));
    EXPECT_EQ("30", EventIDs(3));
    ASSERT_EQ(S_OK, m_media.DelLoopException(1, 11));
    EXPECT_EQ("", EventIDs(3));

    ASSERT_EQ(S_OK, m_media.SaveCalendar(EdgeCalendar(3, 0).get(), 0));
    ASSERT_EQ(S_OK, m_media.DelAllEvent());
    ASSERT_EQ(S_OK, m_media.DelAllCalendar());
    EXPECT_EQ("0|0|1\n", Sql("select (select count(*) from Event), (select count(*) from Calendar),"
                             " (select count(*) from Version);"));

    // A delete that fails half-way changes nothing.
    Save(NewEvent(1, 10));
    SaveException(2, 20, 1, 10);
    Sql("create trigger refuse before delete on Event when old.EvtType = 1 begin select raise(abort, 'kept'); end;");
    EXPECT_EQ(E_FAIL, m_media.DelCalEvent(1, 10, 0));
    EXPECT_EQ("10", EventIDs(1)) << "the event must not go without its exceptions";
    EXPECT_EQ("20", EventIDs(2));
}

TEST_F(MediaRecordsTest, AFileDeletedBetweenOperationsIsCreatedAgain)
{
    Save(NewEvent(1, 1));
    ASSERT_TRUE(std::filesystem::remove(std::filesystem::u8path(DbPath())));
    Save(NewEvent(1, 2));
    EXPECT_EQ("2|2|0|0\n1\n", Sql("select * from Version; select count(*) from Event;"));
}

// ---------------------------------------------------------------------------
// Against the formatted statements and the table texts

TEST_F(MediaRecordsTest, BoundValuesStoreWhatTheFormattedStatementsStored)
{
    // This account through the media, account 2 through the formatted statements;
    // the same rows saved again update them (keeping UIN and ext3), and an update
    // of a missing row does nothing.
    CVxCalStoreMedia other;
    Open(other, 2);
    CppSQLite3DB db;
    db.open(Wide(DbPath(2)).c_str());
    for (int nVariant = 0; nVariant < 2; ++nVariant) {
        for (DWORD dwEvt = 1; dwEvt <= 3; ++dwEvt) {
            std::unique_ptr<tagEventRecord> pEvent = EdgeEvent(7, dwEvt, nVariant);
            pEvent->wDay = WORD(nVariant == 0 ? 200 : 40000);  // stored whole
            // Lone surrogates: SQLite would pair one with whatever follows it, a closing
            // quote included, so they are stored as U+FFFD.
            pEvent->szLocation[0] = 0xD800;
            pEvent->szContactID[3] = 0xDC00;
            ASSERT_EQ(S_OK, m_media.SaveCalEvent(pEvent.get(), 0));
            nVariant == 0 ? FormattedInsertEvent(db, *pEvent) : FormattedUpdateEvent(db, *pEvent);
        }
        std::unique_ptr<tagCalendarRecord> pCalendar = EdgeCalendar(7, nVariant);
        ASSERT_EQ(S_OK, m_media.SaveCalendar(pCalendar.get(), 0));
        FormattedSaveCalendar(db, *pCalendar, nVariant == 0);
    }
    std::unique_ptr<tagEventRecord> pUpdate = EdgeEvent(7, 2, 0);
    ASSERT_EQ(S_OK, m_media.UpdateCalEvent(pUpdate.get()));
    FormattedUpdateEvent(db, *pUpdate);
    pUpdate->dwEvtID = 9;
    ASSERT_EQ(S_OK, m_media.UpdateCalEvent(pUpdate.get()));
    std::unique_ptr<tagCalendarRecord> pMissing = EdgeCalendar(8, 0);
    ASSERT_EQ(S_OK, m_media.UpdateCalendar(pMissing.get()));
    db.close();

    // .dump quotes each value by its storage class, and prints texts as stored.
    const std::string strDump = Sql(".dump Event Calendar", 2);
    EXPECT_NE(std::string::npos, strDump.find("'ext''3'"));
    EXPECT_NE(std::string::npos, strDump.find("'\xEF\xBF\xBD''Hare O''Hare"));
    EXPECT_EQ(strDump, Sql(".dump Event Calendar"));
}

TEST_F(MediaRecordsTest, ListsKeepTheOrderOfTheRowsWithAndWithoutTheIndexes)
{
    // Rows whose order is neither the order of their ids nor of their times.
    for (DWORD dwEvt : {50, 3, 77, 12, 1, 99, 40, 8}) {
        std::unique_ptr<tagEventRecord> pEvent = EdgeEvent(4, dwEvt, 0);
        pEvent->dwBgnTm = 1000 - dwEvt;
        pEvent->dwEndTm = 1000 + dwEvt;
        Save(std::move(pEvent));
        Save(EdgeEvent(5, dwEvt, 1));
    }
    const auto listAll = [&]() { return EventIDs(4) + "|" + PeriodIDs(4, 950, 960) + "|" + ChunkIDs(4); };
    const std::string strInRowOrder = "50,3,77,12,1,99,40,8|50,77,99,40|50,3,77,12,1,99,40,8";
    EXPECT_EQ(strInRowOrder, listAll());
    // With statistics the planner takes the indexes wherever it can; without them, the table.
    Sql("analyze;");
    EXPECT_EQ(strInRowOrder, listAll());
    Sql("drop index EventEvtIDCalID; drop index EventExt3; drop index EventLoopEventID; drop table sqlite_stat1;");
    EXPECT_EQ(strInRowOrder, listAll());
}

}  // namespace
