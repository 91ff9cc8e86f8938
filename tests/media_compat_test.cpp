// What the store writes and how it lists, against the way it used to: rows written
// with bound values are byte for byte the rows the formatted statements wrote, a
// file with the plain indexes still serves the formatted statements, and every
// list keeps the order of the rows in the table with or without the indexes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "media/LegacyStatements.h"
#include "media/RecordFields.h"
#include "media/SqlText.h"
#include "media/VxCalStoreMedia.h"

using namespace testing_support;

namespace {

template <size_t N>
void SetText(WCHAR (&szField)[N], const WString& str)
{
    WStrCopyN(szField, N, str.c_str());
}

// Values at the edges of every width and sign, texts with apostrophes, a lone
// surrogate, a pair, and one at its bound.
std::unique_ptr<tagEventRecord> EdgeEvent(DWORD dwCalID, DWORD dwEvtID, int nVariant)
{
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    tagEventRecord& rec = *pRec;
    rec.dwCalID = dwCalID;
    rec.dwEvtID = dwEvtID;
    rec.cEvtType = static_cast<signed char>(nVariant == 0 ? -128 : 127);
    rec.dwBgnTm = nVariant == 0 ? 0xFFFFFFFFu : 0x80000000u;
    rec.dwEndTm = 0x7FFFFFFFu;
    rec.dwTimeStamp = 1700000000u + static_cast<DWORD>(nVariant);
    rec.cTipType = -1;
    rec.cMinute = 59;
    rec.wDay = static_cast<WORD>(nVariant == 0 ? 200 : 40000);
    rec.cHour = 23;
    rec.cWeek = -7;
    rec.cMonth = 12;
    rec.cLoopType = 3;
    rec.cSynchronized = -2;
    rec.cRevisedState = 1;
    rec.wRemindMinute = 65535;
    rec.dwSponsorID = 4000000000u;
    rec.dwCalOwnerUin = static_cast<DWORD>(nVariant);
    rec.wWeekNum = 53;
    rec.wMonthNum = 65535;
    rec.dwYear = 2038;
    rec.wCalType = 32768;
    rec.cEndType = 2;
    rec.wSwitchTimes = 9;
    rec.cEventRight = -128;
    rec.dwLoopCalID = dwCalID;
    rec.dwLoopEventID = 0xFFFFFFFEu;
    rec.cEventStatus = 5;
    rec.cValid = 1;
    const WCHAR szLone[] = {u'a', 0xDC00, u'b', 0};
    const WCHAR szPair[] = {0xD83D, 0xDE00, u'\'', 0};
    SetText(rec.szLocation, WTEXT("O'Malley's Pub"));
    SetText(rec.szSubject, nVariant == 0 ? WTEXT("Bob's ''notes''") : WTEXT("项目评审会议"));
    SetText(rec.szDetail, WString(3071, u'\''));
    SetText(rec.szContactID, szLone);
    SetText(rec.szContactInfo, szPair);
    SetText(rec.szContactIDDisplay, WTEXT(""));
    SetText(rec.szContactIDInvalid, WTEXT("x' or 1=1 --"));
    SetText(rec.szExt3, nVariant == 0 ? WTEXT("ext'3") : WTEXT(""));
    return pRec;
}

std::unique_ptr<tagCalendarRecord> EdgeCalendar(DWORD dwCalID, int nVariant)
{
    std::unique_ptr<tagCalendarRecord> pRec(new tagCalendarRecord());
    tagCalendarRecord& rec = *pRec;
    rec.dwUIN = 4294967295u;
    rec.dwCalID = dwCalID;
    rec.cCalType = static_cast<signed char>(nVariant == 0 ? -1 : 2);
    rec.dwShrLevel = 0x80000000u;
    rec.dwTimeStamp = static_cast<DWORD>(nVariant);
    SetText(rec.szSubject, WTEXT("Family's"));
    SetText(rec.szDetail, WString(3071, u'x'));
    const WCHAR szLone[] = {0xD800, 0};
    SetText(rec.szContactID, szLone);
    SetText(rec.szContactInfo, WTEXT("''"));
    rec.dwSponsorID = 7;
    rec.dwFromCalID = 0xFFFFFFFFu;
    SetText(rec.szExt1, WTEXT("ext'1"));
    return pRec;
}

// The writes as the store formatted them, argument for argument.
void FormattedInsertEvent(CppSQLite3DB& db, const tagEventRecord& rec)
{
    using namespace legacy_sql;
    db.execDML(WStrFormatString(
                   s_szInsertEvent, WTEXT("Event"), int(rec.dwCalID), int(rec.dwEvtID), int(rec.cEvtType),
                   int(rec.dwBgnTm), int(rec.dwEndTm), int(rec.dwTimeStamp), int(rec.cTipType), int(rec.cMinute),
                   int(rec.cHour), int(rec.wDay), int(rec.cWeek), int(rec.cMonth), int(rec.cLoopType),
                   EscapeQuotes(rec.szSubject).c_str(), EscapeQuotes(rec.szDetail).c_str(), int(rec.cSynchronized),
                   int(rec.cRevisedState), int(rec.wRemindMinute), EscapeQuotes(rec.szContactID).c_str(),
                   EscapeQuotes(rec.szContactInfo).c_str(), EscapeQuotes(rec.szLocation).c_str(),
                   int(rec.dwSponsorID), int(rec.wWeekNum), int(rec.wMonthNum), int(rec.dwYear), int(rec.wCalType),
                   int(rec.cEndType), int(rec.wSwitchTimes), int(rec.dwLoopCalID), int(rec.dwLoopEventID),
                   int(rec.dwCalOwnerUin), int(rec.cEventRight), EscapeQuotes(rec.szContactIDDisplay).c_str(),
                   EscapeQuotes(rec.szContactIDInvalid).c_str(), int(rec.cEventStatus), int(rec.cValid), WTEXT(""),
                   WTEXT(""), EscapeQuotes(rec.szExt3).c_str(), 0, 0, 0)
                   .c_str());
}

void FormattedUpdateEvent(CppSQLite3DB& db, const tagEventRecord& rec)
{
    using namespace legacy_sql;
    db.execDML(WStrFormatString(
                   s_szUpdateEvent, WTEXT("Event"), int(rec.cEvtType), int(rec.dwBgnTm), int(rec.dwEndTm),
                   int(rec.dwTimeStamp), int(rec.cTipType), int(rec.cMinute), int(rec.cHour), int(rec.wDay),
                   int(rec.cWeek), int(rec.cMonth), int(rec.cLoopType), EscapeQuotes(rec.szSubject).c_str(),
                   EscapeQuotes(rec.szDetail).c_str(), int(rec.cSynchronized), int(rec.cRevisedState),
                   int(rec.wRemindMinute), EscapeQuotes(rec.szContactID).c_str(),
                   EscapeQuotes(rec.szContactInfo).c_str(), EscapeQuotes(rec.szLocation).c_str(),
                   int(rec.dwSponsorID), int(rec.wWeekNum), int(rec.wMonthNum), int(rec.dwYear), int(rec.wCalType),
                   int(rec.cEndType), int(rec.wSwitchTimes), int(rec.dwLoopCalID), int(rec.dwLoopEventID),
                   int(rec.dwCalOwnerUin), int(rec.cEventRight), EscapeQuotes(rec.szContactIDDisplay).c_str(),
                   EscapeQuotes(rec.szContactIDInvalid).c_str(), int(rec.cEventStatus), int(rec.cValid),
                   int(rec.dwCalID), int(rec.dwEvtID))
                   .c_str());
}

void FormattedInsertCalendar(CppSQLite3DB& db, const tagCalendarRecord& rec)
{
    using namespace legacy_sql;
    db.execDML(WStrFormatString(s_szInsertCalendar, WTEXT("Calendar"), int(rec.dwUIN), int(rec.dwCalID),
                                int(rec.cCalType), int(rec.dwShrLevel), int(rec.dwTimeStamp),
                                EscapeQuotes(rec.szSubject).c_str(), EscapeQuotes(rec.szDetail).c_str(),
                                EscapeQuotes(rec.szContactID).c_str(), EscapeQuotes(rec.szContactInfo).c_str(),
                                int(rec.dwSponsorID), int(rec.dwFromCalID), EscapeQuotes(rec.szExt1).c_str(),
                                WTEXT(""), WTEXT(""), 0, 0, 0)
                   .c_str());
}

void FormattedUpdateCalendar(CppSQLite3DB& db, const tagCalendarRecord& rec)
{
    using namespace legacy_sql;
    db.execDML(WStrFormatString(s_szUpdateCalendar, WTEXT("Calendar"), int(rec.cCalType), int(rec.dwShrLevel),
                                int(rec.dwTimeStamp), EscapeQuotes(rec.szSubject).c_str(),
                                EscapeQuotes(rec.szDetail).c_str(), EscapeQuotes(rec.szContactID).c_str(),
                                EscapeQuotes(rec.szContactInfo).c_str(), int(rec.dwSponsorID), int(rec.dwFromCalID),
                                EscapeQuotes(rec.szExt1).c_str(), int(rec.dwCalID))
                   .c_str());
}

class MediaCompatTest : public ::testing::Test {
protected:
    MediaCompatTest() : m_root(m_dir.Path())
    {
        for (DWORD dwUIN : {1u, 2u}) {
            MakeDirs(m_dir.Join(std::to_string(dwUIN)));
            CVxCalStoreMedia media;
            EXPECT_EQ(S_OK, media.Open(dwUIN, WTEXT("CalData.db"), FALSE));
        }
    }

    std::string DbPath(DWORD dwUIN) const { return m_dir.Join(std::to_string(dwUIN) + "/CalData.db"); }
    std::string Sql(DWORD dwUIN, const std::string& strScript) { return RunSqliteShell(DbPath(dwUIN), strScript); }

    CTempDir m_dir;
    CScopedRoot m_root;
};

TEST_F(MediaCompatTest, TheRecordDescriptionsNameTheColumnsInTableOrder)
{
    std::string strEvent;
    for (const CEventField& field : g_rgEventFields) {
        strEvent += Narrow(field.pszColumn) + "\n";
    }
    std::string strCalendar;
    for (const CCalendarField& field : g_rgCalendarFields) {
        strCalendar += Narrow(field.pszColumn) + "\n";
    }
    EXPECT_EQ(Sql(1, "select name from pragma_table_info('Event');"), strEvent);
    EXPECT_EQ(Sql(1, "select name from pragma_table_info('Calendar');"), strCalendar);
}

TEST_F(MediaCompatTest, BoundValuesStoreWhatTheFormattedStatementsStored)
{
    // File 1 through the media, file 2 through the formatted statements; then the
    // same rows saved again, which updates them.
    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(1, WTEXT("CalData.db"), FALSE));
    WString strPath;
    ASSERT_TRUE(WStrFromUtf8(DbPath(2).c_str(), strPath));
    CppSQLite3DB db;
    db.open(strPath.c_str());
    for (int nVariant = 0; nVariant < 2; ++nVariant) {
        for (DWORD dwEvt = 1; dwEvt <= 3; ++dwEvt) {
            auto pEvent = EdgeEvent(7, dwEvt, nVariant);
            ASSERT_EQ(S_OK, media.SaveCalEvent(pEvent.get(), 0));
            if (nVariant == 0) {
                FormattedInsertEvent(db, *pEvent);
            } else {
                FormattedUpdateEvent(db, *pEvent);
            }
        }
        auto pCalendar = EdgeCalendar(7, nVariant);
        ASSERT_EQ(S_OK, media.SaveCalendar(pCalendar.get(), 0));
        if (nVariant == 0) {
            FormattedInsertCalendar(db, *pCalendar);
        } else {
            FormattedUpdateCalendar(db, *pCalendar);
        }
    }
    auto pUpdate = EdgeEvent(7, 2, 0);
    ASSERT_EQ(S_OK, media.UpdateCalEvent(pUpdate.get()));
    FormattedUpdateEvent(db, *pUpdate);
    db.close();

    // .dump quotes each value by its storage class, and prints texts as stored.
    const std::string strDump = Sql(2, ".dump Event Calendar");
    EXPECT_NE(std::string::npos, strDump.find("'Bob''s ''''notes'''''"));
    EXPECT_EQ(strDump, Sql(1, ".dump Event Calendar"));
}

TEST_F(MediaCompatTest, AFileWithTheIndexesServesTheFormattedStatements)
{
    {
        CVxCalStoreMedia media;
        ASSERT_EQ(S_OK, media.Open(1, WTEXT("CalData.db"), FALSE));
        for (DWORD dwEvt = 1; dwEvt <= 20; ++dwEvt) {
            ASSERT_EQ(S_OK, media.SaveCalEvent(EdgeEvent(3, dwEvt, 0).get(), 0));
        }
    }
    ASSERT_EQ("3\n", Sql(1, "select count(*) from sqlite_master where type='index';"));
    // The checks and statements of the store before the indexes, on that file.
    WString strPath;
    ASSERT_TRUE(WStrFromUtf8(DbPath(1).c_str(), strPath));
    CppSQLite3DB db;
    db.open(strPath.c_str());
    EXPECT_TRUE(db.tableExists(WTEXT("Version")));
    EXPECT_TRUE(db.tableExists(WTEXT("Calendar")));
    EXPECT_TRUE(db.tableExists(WTEXT("Event")));
    EXPECT_EQ(2, db.execScalar(WTEXT("select * from Version")));
    using namespace legacy_sql;
    auto pEvent = EdgeEvent(3, 21, 1);
    FormattedInsertEvent(db, *pEvent);
    pEvent->dwBgnTm = 5;
    FormattedUpdateEvent(db, *pEvent);
    CppSQLite3Query query = db.execQuery(WStrFormatString(s_szSelectEvent, WTEXT("Event"), 3, 21).c_str());
    ASSERT_FALSE(query.eof());
    EXPECT_EQ(5, query.fieldInt(3));
    query.finalize();
    db.execDML(WStrFormatString(s_szDeleteEvent, WTEXT("Event"), 3, 4).c_str());
    db.execDML(WStrFormatString(s_szDeleteExceptions, WTEXT("Event"), 3, 4).c_str());
    db.execDML(WStrFormatString(s_szDeleteCalendarEvents, WTEXT("Event"), 9).c_str());
    db.close();
    EXPECT_EQ("ok\n20\n", Sql(1, "pragma integrity_check; select count(*) from Event;"));
    // And the indexes found the rows those statements wrote.
    EXPECT_EQ("1\n", Sql(1, "select count(*) from Event indexed by EventEvtIDCalID where EvtID = 21 and CalID = 3;"));
}

TEST_F(MediaCompatTest, AFileBusyWhenOpenedIsUsedWithoutItsIndexesUntilTheNextOpen)
{
    Sql(1, "drop index EventEvtIDCalID; drop index EventExt3; drop index EventLoopEventID;");
    WString strPath;
    ASSERT_TRUE(WStrFromUtf8(DbPath(1).c_str(), strPath));
    CppSQLite3DB writer;
    writer.open(strPath.c_str());
    writer.execDML(WTEXT("begin immediate transaction;"));
    {
        CVxCalStoreMedia media;
        ASSERT_EQ(S_OK, media.Open(1, WTEXT("CalData.db"), FALSE));
        EXPECT_EQ(0, writer.execScalar(WTEXT("select count(*) from sqlite_master where type='index';")));
        writer.execDML(WTEXT("commit transaction;"));
        ASSERT_EQ(S_OK, media.SaveCalEvent(EdgeEvent(1, 1, 0).get(), 0));
        ASSERT_EQ(S_OK, media.IsOutlookIDExist(WTEXT("ext'3")));
        ASSERT_EQ(S_OK, media.Open(1, WTEXT("CalData.db"), FALSE));
    }
    writer.close();
    EXPECT_EQ("3\n1\n", Sql(1, "select count(*) from sqlite_master where type='index'; select count(*) from Event;"));
}

TEST_F(MediaCompatTest, ListsKeepTheOrderOfTheRowsWithAndWithoutTheIndexes)
{
    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(1, WTEXT("CalData.db"), FALSE));
    // Rows whose order is neither the order of their ids nor of their times.
    const DWORD rgdwEvents[] = {50, 3, 77, 12, 1, 99, 40, 8};
    for (DWORD dwEvt : rgdwEvents) {
        auto pEvent = EdgeEvent(4, dwEvt, 0);
        pEvent->dwBgnTm = 1000 - dwEvt;
        pEvent->dwEndTm = 1000 + dwEvt;
        pEvent->dwLoopEventID = 5;
        SetText(pEvent->szExt3, WTEXT("same"));
        ASSERT_EQ(S_OK, media.SaveCalEvent(pEvent.get(), 0));
        ASSERT_EQ(S_OK, media.SaveCalEvent(EdgeEvent(5, dwEvt, 1).get(), 0));
    }
    auto listAll = [&]() {
        std::string str;
        tagEventRecord* pArray = nullptr;
        int nCount = 0;
        auto collect = [&](HRESULT hr) {
            EXPECT_EQ(S_OK, hr);
            for (int i = 0; i < nCount; ++i) {
                str += std::to_string(pArray[i].dwEvtID) + ",";
            }
            str += "|";
            FreeRecordArray(pArray);
            pArray = nullptr;
            nCount = 0;
        };
        collect(media.GetAllCalEvent(4, &pArray, &nCount));
        collect(media.GetPeriodEvent(4, 950, 960, &pArray, &nCount));
        collect(media.QueryCalEvent(4, WTEXT("EvtID > 2 and LoopEventID"), WTEXT("5"), &pArray, &nCount));
        collect(media.QueryCalEventEx(4, WTEXT("ext3"), WTEXT("'same'"), WTEXT("LoopEventID"), WTEXT("5"), &pArray,
                                      &nCount));
        // The chunked read, two rows at a time.
        std::unique_ptr<tagEventRecord[]> rgChunk(new tagEventRecord[2]);
        CEventChunkCursor cursor;
        cursor.dwCalID = 4;
        while (!cursor.bDone) {
            EXPECT_EQ(S_OK, media.ReadEventChunk(cursor, rgChunk.get(), 2, &nCount));
            for (int i = 0; i < nCount; ++i) {
                str += std::to_string(rgChunk[i].dwEvtID) + ",";
            }
        }
        return str;
    };
    const std::string strInRowOrder =
        "50,3,77,12,1,99,40,8,|50,77,99,40,|50,3,77,12,99,40,8,|50,3,77,12,1,99,40,8,|50,3,77,12,1,99,40,8,";
    EXPECT_EQ(strInRowOrder, listAll());
    // With statistics the planner takes the indexes wherever it can; without them it
    // scans the table.
    Sql(1, "analyze;");
    EXPECT_EQ(strInRowOrder, listAll());
    Sql(1, "drop index EventEvtIDCalID; drop index EventExt3; drop index EventLoopEventID; drop table sqlite_stat1;");
    EXPECT_EQ(strInRowOrder, listAll());
}

}  // namespace
