// Calendar and event rows through a real database file: every field at the edges
// of its width, texts at their bounds, the queries, the deletes and the lookup.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "media/VxCalStoreMedia.h"

using namespace testing_support;

namespace {

const DWORD s_dwAccount = 42;

template <size_t N>
void SetText(WCHAR (&szField)[N], const WString& str)
{
    ASSERT_LT(str.size(), N);
    std::memcpy(szField, str.c_str(), (str.size() + 1) * sizeof(WCHAR));
}

std::unique_ptr<tagEventRecord> NewEvent(DWORD dwCalID, DWORD dwEvtID, DWORD dwBgnTm = 0, DWORD dwEndTm = 0)
{
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    pRec->dwCalID = dwCalID;
    pRec->dwEvtID = dwEvtID;
    pRec->dwBgnTm = dwBgnTm;
    pRec->dwEndTm = dwEndTm;
    return pRec;
}

std::unique_ptr<tagCalendarRecord> NewCalendar(DWORD dwCalID, DWORD dwUIN = s_dwAccount)
{
    std::unique_ptr<tagCalendarRecord> pRec(new tagCalendarRecord());
    pRec->dwCalID = dwCalID;
    pRec->dwUIN = dwUIN;
    return pRec;
}

// A text of cch units made of a repeated pattern.
WString Repeated(const WString& strPattern, size_t cch)
{
    WString str;
    while (str.size() < cch) {
        str += strPattern;
    }
    str.resize(cch);
    return str;
}

class MediaRecordsTest : public ::testing::Test {
protected:
    MediaRecordsTest() : m_root(m_dir.Path()), m_strDbPath(m_dir.Join("42/CalData.db"))
    {
        MakeDirs(m_dir.Join("42"));
        m_pMedia.reset(new CVxCalStoreMedia());
        EXPECT_EQ(S_OK, m_pMedia->Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    }

    std::string Sql(const std::string& strScript) { return RunSqliteShell(m_strDbPath, strScript); }

    // The events of a calendar as "EvtID,..." in row order.
    std::string EventIDs(DWORD dwCalID)
    {
        tagEventRecord* pArray = nullptr;
        int nCount = -1;
        EXPECT_EQ(S_OK, m_pMedia->GetAllCalEvent(dwCalID, &pArray, &nCount));
        return Join(pArray, nCount);
    }

    // An exception row (EvtType 1) of the repeating event dwLoopCalID/dwLoopEventID.
    void SaveException(DWORD dwCalID, DWORD dwEvtID, DWORD dwLoopCalID, DWORD dwLoopEventID)
    {
        auto pException = NewEvent(dwCalID, dwEvtID);
        pException->cEvtType = 1;
        pException->dwLoopCalID = dwLoopCalID;
        pException->dwLoopEventID = dwLoopEventID;
        ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pException.get(), 0));
    }

    static std::string Join(tagEventRecord* pArray, int nCount)
    {
        std::string str;
        for (int i = 0; i < nCount; ++i) {
            str += (i > 0 ? "," : "") + std::to_string(pArray[i].dwEvtID);
        }
        FreeRecordArray(pArray);
        return str;
    }

    CTempDir m_dir;
    CScopedRoot m_root;
    std::string m_strDbPath;
    std::unique_ptr<CVxCalStoreMedia> m_pMedia;
};

TEST_F(MediaRecordsTest, EveryOperationRefusesToWorkBeforeOpen)
{
    CVxCalStoreMedia media;
    auto pCal = NewCalendar(1);
    auto pEvt = NewEvent(1, 1);
    tagEventRecord* pArray = nullptr;
    int nCount = 0;
    EXPECT_EQ(E_FAIL, media.SaveCalendar(pCal.get(), 0));
    EXPECT_EQ(E_FAIL, media.SaveCalEvent(pEvt.get(), 0));
    EXPECT_EQ(E_FAIL, media.GetCalEvent(1, 1, pEvt.get()));
    EXPECT_EQ(E_FAIL, media.GetAllCalEvent(1, &pArray, &nCount));
    EXPECT_EQ(E_FAIL, media.GetPeriodEvent(1, 0, 10, &pArray, &nCount));
    EXPECT_EQ(E_FAIL, media.DelCalEvent(1, 1, 0));
    EXPECT_EQ(E_FAIL, media.DelAllCalendar());
    EXPECT_EQ(E_FAIL, media.DelAllEvent());
    EXPECT_EQ(E_FAIL, media.IsOutlookIDExist(WTEXT("x")));
    EXPECT_EQ(E_FAIL, media.SetBatchMode(TRUE));
    EXPECT_EQ(nullptr, pArray);
}

TEST_F(MediaRecordsTest, CalendarFieldsRoundTripAtTheEdgesOfTheirWidths)
{
    const WString strSubject = WTEXT("Bob's ") + Repeated(WTEXT("\U0001F600x"), CAL_SUBJECT_MAX - 6);
    for (const DWORD dwEdge : {0x80000000u, 0xFFFFFFFFu, 0u}) {
        auto pRec = NewCalendar(dwEdge, dwEdge);
        pRec->cCalType = dwEdge == 0 ? 127 : -128;
        pRec->dwShrLevel = dwEdge;
        pRec->dwTimeStamp = dwEdge;
        pRec->dwSponsorID = dwEdge;
        pRec->dwFromCalID = dwEdge;
        SetText(pRec->szSubject, strSubject);
        SetText(pRec->szDetail, Repeated(WTEXT("'"), CAL_DETAIL_MAX));
        SetText(pRec->szContactID, Repeated(WTEXT("id;"), CAL_CONTACTID_MAX));
        SetText(pRec->szContactInfo, Repeated(WTEXT("ü"), CAL_CONTACTINFO_MAX));
        SetText(pRec->szExt1, WTEXT(""));
        ASSERT_EQ(S_OK, m_pMedia->SaveCalendar(pRec.get(), 0));

        auto pRead = NewCalendar(0, 0);
        ASSERT_EQ(S_OK, m_pMedia->GetCalendar(dwEdge, pRead.get()));
        EXPECT_EQ(pRec->dwUIN, pRead->dwUIN);
        EXPECT_EQ(pRec->dwCalID, pRead->dwCalID);
        EXPECT_EQ(pRec->cCalType, pRead->cCalType);
        EXPECT_EQ(pRec->dwShrLevel, pRead->dwShrLevel);
        EXPECT_EQ(pRec->dwTimeStamp, pRead->dwTimeStamp);
        EXPECT_EQ(pRec->dwSponsorID, pRead->dwSponsorID);
        EXPECT_EQ(pRec->dwFromCalID, pRead->dwFromCalID);
        EXPECT_EQ(WString(pRec->szSubject), WString(pRead->szSubject));
        EXPECT_EQ(WString(pRec->szDetail), WString(pRead->szDetail));
        EXPECT_EQ(WString(pRec->szContactID), WString(pRead->szContactID));
        EXPECT_EQ(WString(pRec->szContactInfo), WString(pRead->szContactInfo));
        EXPECT_EQ(WString(), WString(pRead->szExt1));
    }
    // Numbers are stored as signed integers; the columns the record does not carry get
    // their fixed values.
    EXPECT_EQ("-2147483648|integer|-128||0|0|0\n-1|integer|-128||0|0|0\n0|integer|127||0|0|0\n",
              Sql("select CalID, typeof(TmStamp), CalType, ext2, ext4, ext5, nums from Calendar order by rowid;"));
}

TEST_F(MediaRecordsTest, SavingACalendarAgainUpdatesItButKeepsItsFirstUserNumber)
{
    auto pRec = NewCalendar(7, 100);
    SetText(pRec->szSubject, WTEXT("first"));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalendar(pRec.get(), 0));
    pRec->dwUIN = 200;
    pRec->cCalType = 2;
    SetText(pRec->szSubject, WTEXT("second"));
    SetText(pRec->szExt1, WTEXT("extra"));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalendar(pRec.get(), 0));
    EXPECT_EQ("100|7|2|second|extra\n", Sql("select UIN, CalID, CalType, subject, ext1 from Calendar;"));

    pRec->dwCalID = 8;
    EXPECT_EQ(S_OK, m_pMedia->UpdateCalendar(pRec.get()));  // no such row: nothing happens
    EXPECT_EQ("1\n", Sql("select count(*) from Calendar;"));

    auto pUntouched = NewCalendar(555, 555);
    EXPECT_EQ(S_OK, m_pMedia->GetCalendar(8, pUntouched.get()));
    EXPECT_EQ(555u, pUntouched->dwUIN);

    EXPECT_EQ(S_OK, m_pMedia->DelCalendar(99, 0));
    EXPECT_EQ(S_OK, m_pMedia->DelCalendar(7, 0));
    tagCalendarRecord* pArray = reinterpret_cast<tagCalendarRecord*>(0x1);
    int nCount = -1;
    EXPECT_EQ(S_OK, m_pMedia->GetAllCalendar(&pArray, &nCount));
    EXPECT_EQ(0, nCount);
    EXPECT_EQ(reinterpret_cast<tagCalendarRecord*>(0x1), pArray) << "an empty list leaves the array pointer alone";
}

TEST_F(MediaRecordsTest, EventFieldsRoundTripAtTheEdgesOfTheirWidths)
{
    struct Edge {
        DWORD dw;
        signed char c;
        WORD w;
    };
    for (const Edge& edge : {Edge{0x80000000u, -128, 0}, Edge{0xFFFFFFFFu, 127, 65535}}) {
        auto pRec = NewEvent(edge.dw, edge.dw, edge.dw, edge.dw);
        pRec->dwTimeStamp = pRec->dwSponsorID = pRec->dwCalOwnerUin = pRec->dwYear = edge.dw;
        pRec->dwLoopCalID = pRec->dwLoopEventID = edge.dw;
        pRec->cEvtType = pRec->cTipType = pRec->cMinute = pRec->cHour = pRec->cWeek = pRec->cMonth = edge.c;
        pRec->cLoopType = pRec->cSynchronized = pRec->cRevisedState = pRec->cEndType = edge.c;
        pRec->cEventRight = pRec->cEventStatus = pRec->cValid = edge.c;
        pRec->wRemindMinute = pRec->wWeekNum = pRec->wMonthNum = pRec->wCalType = pRec->wSwitchTimes = edge.w;
        pRec->wDay = 127;
        SetText(pRec->szLocation, Repeated(WTEXT("O'Hare "), EVT_LOCATION_MAX));
        SetText(pRec->szSubject, Repeated(WTEXT("\U00020000"), EVT_SUBJECT_MAX - 1));
        SetText(pRec->szDetail, Repeated(WTEXT("'"), EVT_DETAIL_MAX));
        SetText(pRec->szContactID, Repeated(WTEXT("a"), EVT_CONTACTID_MAX));
        SetText(pRec->szContactInfo, Repeated(WTEXT("é'"), EVT_CONTACTINFO_MAX));
        SetText(pRec->szContactIDDisplay, Repeated(WTEXT("日本"), EVT_CONTACTIDDISPLAY_MAX));
        SetText(pRec->szContactIDInvalid, WTEXT(""));
        SetText(pRec->szExt3, WTEXT("ext'id"));
        ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pRec.get(), 0));

        auto pRead = NewEvent(0, 0);
        SetText(pRead->szExt3, WTEXT("kept"));
        ASSERT_EQ(S_OK, m_pMedia->GetCalEvent(edge.dw, edge.dw, pRead.get()));
        EXPECT_EQ(pRec->dwCalID, pRead->dwCalID);
        EXPECT_EQ(pRec->dwEvtID, pRead->dwEvtID);
        EXPECT_EQ(pRec->dwBgnTm, pRead->dwBgnTm);
        EXPECT_EQ(pRec->dwEndTm, pRead->dwEndTm);
        EXPECT_EQ(pRec->dwTimeStamp, pRead->dwTimeStamp);
        EXPECT_EQ(pRec->dwSponsorID, pRead->dwSponsorID);
        EXPECT_EQ(pRec->dwCalOwnerUin, pRead->dwCalOwnerUin);
        EXPECT_EQ(pRec->dwYear, pRead->dwYear);
        EXPECT_EQ(pRec->dwLoopCalID, pRead->dwLoopCalID);
        EXPECT_EQ(pRec->dwLoopEventID, pRead->dwLoopEventID);
        for (const signed char c : {pRead->cEvtType, pRead->cTipType, pRead->cMinute, pRead->cHour, pRead->cWeek,
                                    pRead->cMonth, pRead->cLoopType, pRead->cSynchronized, pRead->cRevisedState,
                                    pRead->cEndType, pRead->cEventRight, pRead->cEventStatus, pRead->cValid}) {
            EXPECT_EQ(edge.c, c);
        }
        for (const WORD w : {pRead->wRemindMinute, pRead->wWeekNum, pRead->wMonthNum, pRead->wCalType,
                             pRead->wSwitchTimes}) {
            EXPECT_EQ(edge.w, w);
        }
        EXPECT_EQ(127, pRead->wDay);
        EXPECT_EQ(WString(pRec->szLocation), WString(pRead->szLocation));
        EXPECT_EQ(WString(pRec->szSubject), WString(pRead->szSubject));
        EXPECT_EQ(WString(pRec->szDetail), WString(pRead->szDetail));
        EXPECT_EQ(WString(pRec->szContactID), WString(pRead->szContactID));
        EXPECT_EQ(WString(pRec->szContactInfo), WString(pRead->szContactInfo));
        EXPECT_EQ(WString(pRec->szContactIDDisplay), WString(pRead->szContactIDDisplay));
        EXPECT_EQ(WString(), WString(pRead->szContactIDInvalid));
        EXPECT_EQ(WString(WTEXT("kept")), WString(pRead->szExt3)) << "reads never touch the external identifier";
    }
    EXPECT_EQ("-2147483648|-128|0|ext'id|||0|0|0\n-1|127|65535|ext'id|||0|0|0\n",
              Sql("select BgnTm, EvtType, RemindMinute, ext3, ext1, ext2, ext4, ext5, nums from Event order by rowid;"));
}

TEST_F(MediaRecordsTest, DayKeepsOnlyItsLowByteAsASignedNumber)
{
    const WORD awDays[] = {31, 127, 128, 200, 255, 40000};
    const WORD awExpected[] = {31, 127, 65408, 65480, 65535, 64};
    for (size_t i = 0; i < sizeof(awDays) / sizeof(awDays[0]); ++i) {
        auto pRec = NewEvent(1, static_cast<DWORD>(i));
        pRec->wDay = awDays[i];
        ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pRec.get(), 0));
        auto pRead = NewEvent(0, 0);
        ASSERT_EQ(S_OK, m_pMedia->GetCalEvent(1, static_cast<DWORD>(i), pRead.get()));
        EXPECT_EQ(awExpected[i], pRead->wDay) << "Day " << awDays[i];
    }
}

TEST_F(MediaRecordsTest, SavingAnEventAgainOverwritesAllButItsExternalIdentifier)
{
    auto pRec = NewEvent(3, 4, 10, 20);
    SetText(pRec->szSubject, WTEXT("first"));
    SetText(pRec->szExt3, WTEXT("outlook-1"));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pRec.get(), 0));
    pRec->dwBgnTm = 11;
    SetText(pRec->szSubject, WTEXT("second"));
    SetText(pRec->szExt3, WTEXT("outlook-2"));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pRec.get(), 0));
    EXPECT_EQ("3|4|11|second|outlook-1\n", Sql("select CalID, EvtID, BgnTm, subject, ext3 from Event;"));

    pRec->dwEvtID = 5;
    EXPECT_EQ(S_OK, m_pMedia->UpdateCalEvent(pRec.get()));
    EXPECT_EQ("1\n", Sql("select count(*) from Event;"));
}

TEST_F(MediaRecordsTest, ADetailOfOnlyApostrophesIsStoredWhole)
{
    // Doubled, its statement is far longer than the statement buffer.
    auto pRec = NewEvent(1, 1);
    SetText(pRec->szDetail, Repeated(WTEXT("'"), EVT_DETAIL_MAX));
    SetText(pRec->szContactID, Repeated(WTEXT("'"), EVT_CONTACTID_MAX));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pRec.get(), 0));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pRec.get(), 0));  // the update path too
    auto pRead = NewEvent(0, 0);
    ASSERT_EQ(S_OK, m_pMedia->GetCalEvent(1, 1, pRead.get()));
    EXPECT_EQ(WString(pRec->szDetail), WString(pRead->szDetail));
    EXPECT_EQ("3071\n", Sql("select length(detail) from Event;"));
}

TEST_F(MediaRecordsTest, ReadsCutOverlongTextsAndTakeNullAsZeroOrEmpty)
{
    // Rows written by other software: a subject longer than its field that ends in
    // a character outside the Basic Multilingual Plane, and NULLs everywhere else.
    Sql("insert into Event(CalID, EvtID, subject) values(9, 1, printf('%.766c', 'a') || char(128512) || 'tail');"
        "insert into Calendar(UIN, CalID, subject) values(null, 9, null);");
    tagEventRecord* pArray = nullptr;
    int nCount = 0;
    ASSERT_EQ(S_OK, m_pMedia->GetAllCalEvent(9, &pArray, &nCount));
    ASSERT_EQ(1, nCount);
    EXPECT_EQ(766u, WStrLen(pArray[0].szSubject)) << "the pair that does not fit is left out whole";
    EXPECT_EQ(0, pArray[0].cEvtType);
    EXPECT_EQ(0u, WStrLen(pArray[0].szDetail));
    FreeRecordArray(pArray);

    auto pCal = NewCalendar(1, 1);
    SetText(pCal->szSubject, WTEXT("old"));
    ASSERT_EQ(S_OK, m_pMedia->GetCalendar(9, pCal.get()));
    EXPECT_EQ(0u, pCal->dwUIN);
    EXPECT_EQ(0u, WStrLen(pCal->szSubject));
}

TEST_F(MediaRecordsTest, ThePeriodQueryReturnsTheEventsThatTouchThePeriod)
{
    struct Span {
        DWORD dwCalID, dwEvtID, dwBgn, dwEnd;
    };
    const Span aSpans[] = {{1, 1, 50, 100},  {1, 2, 200, 300},          {1, 3, 201, 300}, {1, 4, 10, 99},
                           {1, 5, 120, 130}, {1, 6, 0, 1000},           {2, 7, 150, 160}, {0, 8, 150, 160},
                           {1, 9, 0xFFFFFFF0u /* -16 */, 150}};
    for (const Span& span : aSpans) {
        ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(NewEvent(span.dwCalID, span.dwEvtID, span.dwBgn, span.dwEnd).get(), 0));
    }
    tagEventRecord* pArray = nullptr;
    int nCount = 0;
    ASSERT_EQ(S_OK, m_pMedia->GetPeriodEvent(1, 100, 200, &pArray, &nCount));
    EXPECT_EQ("1,2,5,6,9", Join(pArray, nCount));
    ASSERT_EQ(S_OK, m_pMedia->GetPeriodEvent(0, 100, 200, &pArray, &nCount));
    EXPECT_EQ("8", Join(pArray, nCount));

    // Bounds at or above 2^31 compare as negative numbers.
    ASSERT_EQ(S_OK, m_pMedia->GetPeriodEvent(1, 0xFFFFFF00u, 0xFFFFFFFFu, &pArray, &nCount));
    EXPECT_EQ("9", Join(pArray, nCount));

    pArray = nullptr;
    ASSERT_EQ(S_OK, m_pMedia->GetPeriodEvent(3, 0, 1000, &pArray, &nCount));
    EXPECT_EQ(0, nCount);
    EXPECT_EQ(nullptr, pArray);
}

TEST_F(MediaRecordsTest, FieldQueriesApplyTheirConditionsAsGiven)
{
    for (DWORD dwEvt = 1; dwEvt <= 4; ++dwEvt) {
        auto pRec = NewEvent(1, dwEvt);
        pRec->cLoopType = static_cast<signed char>(dwEvt % 2);
        SetText(pRec->szSubject, dwEvt <= 2 ? WTEXT("abc") : WTEXT("xyz"));
        ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pRec.get(), 0));
    }
    tagEventRecord* pArray = nullptr;
    int nCount = 0;
    ASSERT_EQ(S_OK, m_pMedia->QueryCalEvent(1, WTEXT("subject"), WTEXT("'abc'"), &pArray, &nCount));
    EXPECT_EQ("1,2", Join(pArray, nCount));
    ASSERT_EQ(S_OK,
              m_pMedia->QueryCalEventEx(1, WTEXT("subject"), WTEXT("'xyz'"), WTEXT("LoopType"), WTEXT("1"), &pArray,
                                        &nCount));
    EXPECT_EQ("3", Join(pArray, nCount));
    EXPECT_EQ(E_FAIL, m_pMedia->QueryCalEvent(1, WTEXT("NoSuchColumn"), WTEXT("1"), &pArray, &nCount));
}

TEST_F(MediaRecordsTest, DeletingARepeatingEventRemovesItsExceptionsEverywhere)
{
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(NewEvent(1, 10).get(), 0));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(NewEvent(1, 11).get(), 0));
    for (DWORD dwEvt : {20u, 21u}) {
        SaveException(2, dwEvt, 1, 10);
    }
    // A row that points to the event but is no exception stays.
    auto pOther = NewEvent(2, 22);
    pOther->dwLoopCalID = 1;
    pOther->dwLoopEventID = 10;
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pOther.get(), 0));

    ASSERT_EQ(S_OK, m_pMedia->DelCalEvent(1, 10, 0));
    EXPECT_EQ("11", EventIDs(1));
    EXPECT_EQ("22", EventIDs(2));
    EXPECT_EQ(S_OK, m_pMedia->DelCalEvent(1, 99, 0));
}

TEST_F(MediaRecordsTest, ClearingACalendarLeavesExceptionsInOtherCalendars)
{
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(NewEvent(1, 10).get(), 0));
    SaveException(2, 20, 1, 10);

    ASSERT_EQ(S_OK, m_pMedia->DelAllEventofCalendar(1));
    EXPECT_EQ("", EventIDs(1));
    EXPECT_EQ("20", EventIDs(2));
    ASSERT_EQ(S_OK, m_pMedia->DelLoopException(1, 10));
    EXPECT_EQ("", EventIDs(2));

    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(NewEvent(3, 30).get(), 0));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalendar(NewCalendar(3).get(), 0));
    ASSERT_EQ(S_OK, m_pMedia->DelAllEvent());
    ASSERT_EQ(S_OK, m_pMedia->DelAllCalendar());
    EXPECT_EQ("0|0|1\n", Sql("select (select count(*) from Event), (select count(*) from Calendar),"
                             " (select count(*) from Version);"));
}

TEST_F(MediaRecordsTest, ADeleteThatFailsHalfWayChangesNothing)
{
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(NewEvent(1, 10).get(), 0));
    SaveException(2, 20, 1, 10);
    Sql("create trigger refuse before delete on Event when old.EvtType = 1 begin select raise(abort, 'kept'); end;");

    EXPECT_EQ(E_FAIL, m_pMedia->DelCalEvent(1, 10, 0));
    EXPECT_EQ("10", EventIDs(1)) << "the event must not go without its exceptions";
    EXPECT_EQ("20", EventIDs(2));
    EXPECT_FALSE(IsOpenInProcess(m_strDbPath));
}

TEST_F(MediaRecordsTest, TheExternalIdentifierLookupMatchesStoredIdentifiers)
{
    auto pRec = NewEvent(1, 1);
    SetText(pRec->szExt3, WTEXT("AAMk'123"));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pRec.get(), 0));
    EXPECT_EQ(S_OK, m_pMedia->IsOutlookIDExist(WTEXT("AAMk'123")));
    EXPECT_EQ(S_FALSE, m_pMedia->IsOutlookIDExist(WTEXT("AAMk")));
    EXPECT_EQ(S_FALSE, m_pMedia->IsOutlookIDExist(WTEXT("' or '1'='1")));
    EXPECT_EQ(E_FAIL, m_pMedia->IsOutlookIDExist(WTEXT("")));
    EXPECT_EQ(E_FAIL, m_pMedia->IsOutlookIDExist(nullptr));
}

TEST_F(MediaRecordsTest, AFileDeletedBetweenOperationsIsCreatedAgain)
{
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(NewEvent(1, 1).get(), 0));
    ASSERT_TRUE(std::filesystem::remove(std::filesystem::u8path(m_strDbPath)));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(NewEvent(1, 2).get(), 0));
    EXPECT_EQ("2|2|0|0\n1\n", Sql("select * from Version; select count(*) from Event;"));
}

TEST_F(MediaRecordsTest, ListsComeInOneArrayInRowOrder)
{
    for (DWORD dwEvt = 100; dwEvt > 0; --dwEvt) {
        ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(NewEvent(5, dwEvt, dwEvt, dwEvt).get(), 0));
    }
    tagEventRecord* pArray = nullptr;
    int nCount = 0;
    ASSERT_EQ(S_OK, m_pMedia->GetAllCalEvent(5, &pArray, &nCount));
    ASSERT_EQ(100, nCount);
    for (int i = 0; i < nCount; ++i) {
        EXPECT_EQ(static_cast<DWORD>(100 - i), pArray[i].dwEvtID);
        EXPECT_EQ(0, pArray[i].szExt3[0]);
    }
    FreeRecordArray(pArray);
    EXPECT_EQ(E_FAIL, m_pMedia->GetAllCalEvent(5, nullptr, &nCount));
}

}  // namespace

namespace {

TEST_F(MediaRecordsTest, ALoneSurrogateCannotCloseAQuote)
{
    // SQLite pairs a lone high surrogate with whatever follows it, a closing
    // quote included; the texts below would otherwise rewrite every row.
    for (DWORD dwEvt = 1; dwEvt <= 3; ++dwEvt) {
        auto pRec = NewEvent(1, dwEvt);
        SetText(pRec->szSubject, WTEXT("kept"));
        ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pRec.get(), 0));
    }
    auto pEvil = NewEvent(1, 2);
    const WCHAR szSubject[] = {u'e', u'v', u'i', u'l', 0xD800, 0};
    SetText(pEvil->szSubject, szSubject);
    SetText(pEvil->szDetail, WTEXT(" where 1=1 --"));
    ASSERT_EQ(S_OK, m_pMedia->UpdateCalEvent(pEvil.get()));
    ASSERT_EQ(S_OK, m_pMedia->SaveCalEvent(pEvil.get(), 0));
    EXPECT_EQ("1|kept\n2|evil\xEF\xBF\xBD\n3|kept\n", Sql("select EvtID, subject from Event order by EvtID;"));
}

}  // namespace
