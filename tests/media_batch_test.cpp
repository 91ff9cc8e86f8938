// Batch mode of the store media: one connection and one transaction across a burst
// of writes. Every case checks the file through a second connection (the sqlite3
// tool), because what matters is what another process, or the next start, sees.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "host/CalendarUtil.h"
#include "media/VxCalStoreMedia.h"

using namespace testing_support;

namespace {

const DWORD s_dwAccount = 123;

struct CLogLine {
    int nSeverity;
    std::string strModule;
    std::string strText;
};

std::unique_ptr<tagEventRecord> MakeEvent(DWORD dwCalID, DWORD dwEvtID, const std::string& strSubject,
                                          DWORD dwTimeStamp = 0)
{
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());  // zero-filled, as the store object does
    pRec->dwCalID = dwCalID;
    pRec->dwEvtID = dwEvtID;
    pRec->dwTimeStamp = dwTimeStamp;
    WStrCopyN(pRec->szSubject, EVT_SUBJECT_MAX + 1, Wide(strSubject).c_str());
    return pRec;
}

bool IsSaveTimingLine(const std::string& strText)
{
    static const std::regex s_timing("SaveCalEvent ------存储插入事件时间 =  -----  [0-9]+ -----");
    return std::regex_match(strText, s_timing);
}

class MediaBatchTest : public ::testing::Test {
protected:
    MediaBatchTest()
        : m_root(m_dir.Path()), m_strDbPath(m_dir.Join("123/CalData.db")), m_pMedia(new CVxCalStoreMedia())
    {
        MakeDirs(m_dir.Join("123"));
        CCalendarLogger::SetLogHook(&MediaBatchTest::CollectLog, this);
        CVxCalStoreMedia::SetTraceHook(&MediaBatchTest::CollectTrace, this);
    }
    ~MediaBatchTest() override
    {
        CCalendarLogger::SetLogHook(nullptr, nullptr);
        CVxCalStoreMedia::SetTraceHook(nullptr, nullptr);
    }

    static void CollectLog(void* pContext, ENUM_LOG_SERVERITY eSeverity, LPCWSTR pszModule, LPCWSTR pszText)
    {
        static_cast<MediaBatchTest*>(pContext)->m_logs.push_back({int(eSeverity), Narrow(pszModule), Narrow(pszText)});
    }
    static void CollectTrace(void* pContext, LPCWSTR pszText)
    {
        static_cast<MediaBatchTest*>(pContext)->m_traces.push_back(Narrow(pszText));
    }

    void OpenMedia() { ASSERT_EQ(S_OK, m_pMedia->Open(s_dwAccount, WTEXT("CalData.db"), FALSE)); }

    HRESULT Save(DWORD dwCalID, DWORD dwEvtID, const std::string& strSubject, DWORD dwTimeStamp = 0)
    {
        return m_pMedia->SaveCalEvent(MakeEvent(dwCalID, dwEvtID, strSubject, dwTimeStamp).get(), 0);
    }

    // A statement with an unknown column fails in SQLite, not in our checks.
    HRESULT FailingQuery()
    {
        tagEventRecord* pArray = nullptr;
        int nCount = -1;
        return m_pMedia->QueryCalEvent(1, WTEXT("NoSuchColumn"), WTEXT("1"), &pArray, &nCount);
    }

    std::string Sql(const std::string& strScript) { return RunSqliteShell(m_strDbPath, strScript); }

    // What another connection sees as committed.
    std::string StoredSubjects() { return Sql("select subject from Event order by CalID, EvtID;"); }

    // Whether another connection can take the write lock right now (the tool does
    // not wait for locks).
    bool OtherConnectionCanWrite()
    {
        int nStatus = -1;
        const std::string strOut = RunSqliteShell(m_strDbPath, "begin exclusive; commit;", &nStatus);
        return nStatus == 0 && strOut.empty();
    }

    void ExpectReleased(const char* pszAfter)
    {
        EXPECT_FALSE(IsOpenInProcess(m_strDbPath)) << "connection left open after " << pszAfter;
        EXPECT_TRUE(OtherConnectionCanWrite()) << "file still locked after " << pszAfter;
    }

    void ExpectLog(size_t nIndex, const std::string& strText)
    {
        ASSERT_LT(nIndex, m_logs.size());
        EXPECT_EQ(256, m_logs[nIndex].nSeverity);
        EXPECT_EQ("CalStore", m_logs[nIndex].strModule);
        EXPECT_EQ(strText, m_logs[nIndex].strText);
    }

    bool Traced(const std::string& strPart) const
    {
        for (const std::string& strLine : m_traces) {
            if (strLine.find(strPart) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    // Trigger set up with the tool before the media opens the file: ABORT undoes the
    // one statement, ROLLBACK ends the whole transaction.
    void AddFailingTriggers()
    {
        OpenMedia();
        Sql("create trigger RefuseBoom before insert on Event when new.subject = 'boom' "
            "begin select raise(abort, 'boom refused'); end;"
            "create trigger UndoAll before insert on Event when new.subject = 'undo' "
            "begin select raise(rollback, 'batch undone'); end;");
        ASSERT_EQ("RefuseBoom\nUndoAll\n", Sql("select name from sqlite_master where type = 'trigger' order by name;"));
    }

    CTempDir m_dir;
    CScopedRoot m_root;
    std::string m_strDbPath;
    std::vector<CLogLine> m_logs;
    std::vector<std::string> m_traces;
    std::unique_ptr<CVxCalStoreMedia> m_pMedia;  // after m_dir: destroyed (and committed) before the dir goes
};

// ---------------------------------------------------------------------------
// Switching batch mode on and off

class MediaBatchSwitchTest : public MediaBatchTest {};

TEST_F(MediaBatchSwitchTest, RefusesBeforeOpenWithoutLogging)
{
    EXPECT_EQ(E_FAIL, m_pMedia->SetBatchMode(TRUE));
    EXPECT_EQ(E_FAIL, m_pMedia->SetBatchMode(FALSE));
    EXPECT_TRUE(m_logs.empty());
    EXPECT_FALSE(FileExists(m_strDbPath));
}

TEST_F(MediaBatchSwitchTest, SwitchingOnLogsOnceAndKeepsOneConnectionAndTransaction)
{
    OpenMedia();
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(1u, m_logs.size());
    ExpectLog(0, "SetBatchMode ------TRUE  ");
    EXPECT_TRUE(IsOpenInProcess(m_strDbPath));

    ASSERT_EQ(S_OK, Save(1, 1, "first"));
    m_logs.clear();
    // Any non-zero flag is the same state: no log, no second begin, no new connection.
    EXPECT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    EXPECT_EQ(S_OK, m_pMedia->SetBatchMode(-1));
    EXPECT_TRUE(m_logs.empty());
    EXPECT_TRUE(m_traces.empty()) << "a second begin inside the transaction fails and is traced";
    EXPECT_EQ("", StoredSubjects()) << "the transaction holding the first write was ended";

    // The flag itself stays as it was switched on.
    ASSERT_EQ(S_OK, Save(1, 1, "first again", 5));
    ASSERT_GE(m_logs.size(), 1u);
    ExpectLog(0, "SaveCalEvent -进入了更新流程 ,CalID = 1, EventID ＝ 1 ,TimeStamp=5 ,m_bBatchMode=1 ");

    m_logs.clear();
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    ASSERT_EQ(1u, m_logs.size());
    ExpectLog(0, "SetBatchMode ------FALSE  ");
    EXPECT_EQ("first again\n", StoredSubjects());
    ExpectReleased("SetBatchMode(FALSE)");
    EXPECT_TRUE(m_traces.empty());
}

TEST_F(MediaBatchSwitchTest, SwitchingOffWhileOffDoesNothing)
{
    OpenMedia();
    EXPECT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    EXPECT_TRUE(m_logs.empty());
    EXPECT_TRUE(m_traces.empty()) << "a commit without a transaction was issued";
    ExpectReleased("SetBatchMode(FALSE) while off");

    // And once more after a full on/off round.
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    m_logs.clear();
    EXPECT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    EXPECT_TRUE(m_logs.empty());
    EXPECT_TRUE(m_traces.empty());
}

// ---------------------------------------------------------------------------
// What a second connection sees, and when the file is free

class MediaBatchVisibilityTest : public MediaBatchTest {};

TEST_F(MediaBatchVisibilityTest, BatchWritesAppearTogetherAtTheCommit)
{
    OpenMedia();
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(S_OK, Save(1, 1, "one"));
    ASSERT_EQ(S_OK, Save(1, 2, "two"));
    ASSERT_EQ(S_OK, Save(2, 1, "three"));
    const std::unique_ptr<tagEventRecord> pChanged = MakeEvent(1, 2, "two changed", 9);
    ASSERT_EQ(S_OK, m_pMedia->UpdateCalEvent(pChanged.get()));
    ASSERT_EQ(S_OK, m_pMedia->DelCalEvent(2, 1, 0));

    EXPECT_TRUE(IsOpenInProcess(m_strDbPath));
    EXPECT_EQ("0\n", Sql("select count(*) from Event;"));
    EXPECT_FALSE(OtherConnectionCanWrite()) << "the batch must hold the write lock until its commit";

    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    EXPECT_EQ("one\ntwo changed\n", StoredSubjects());
    ExpectReleased("the commit");
}

TEST_F(MediaBatchVisibilityTest, OutsideBatchModeEveryOperationReleasesTheFile)
{
    AddFailingTriggers();
    ASSERT_EQ(S_OK, Save(1, 1, "one"));
    ExpectReleased("an insert");
    EXPECT_EQ("one\n", StoredSubjects());
    ASSERT_EQ(S_OK, Save(1, 1, "one changed"));
    ExpectReleased("an update through SaveCalEvent");
    ASSERT_EQ(E_FAIL, Save(1, 2, "boom"));
    ExpectReleased("a failed save");
    ASSERT_EQ(E_FAIL, FailingQuery());
    ExpectReleased("a failed query");

    tagEventRecord* pArray = nullptr;
    int nCount = 0;
    ASSERT_EQ(S_OK, m_pMedia->GetAllCalEvent(1, &pArray, &nCount));
    ASSERT_EQ(1, nCount);
    FreeRecordArray(pArray);
    ExpectReleased("a list query");

    // The lookup is the one operation that leaves the connection open...
    EXPECT_EQ(S_FALSE, m_pMedia->IsOutlookIDExist(WTEXT("no-such-id")));
    EXPECT_TRUE(IsOpenInProcess(m_strDbPath));
    // ...until an operation of another kind closes it.
    ASSERT_EQ(S_OK, m_pMedia->DelAllEventofCalendar(7));
    ExpectReleased("DelAllEventofCalendar after the lookup");
    EXPECT_EQ(S_FALSE, m_pMedia->IsOutlookIDExist(WTEXT("no-such-id")));
    EXPECT_TRUE(IsOpenInProcess(m_strDbPath));
    ASSERT_EQ(S_OK, Save(1, 3, "three"));
    ExpectReleased("a save after the lookup");
    EXPECT_EQ("one changed\nthree\n", StoredSubjects());
}

// ---------------------------------------------------------------------------
// Failures inside a batch

class MediaBatchFailureTest : public MediaBatchTest {};

TEST_F(MediaBatchFailureTest, AFailedStatementKeepsTheEarlierWritesOfTheBatch)
{
    AddFailingTriggers();
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(S_OK, Save(1, 1, "before one"));
    ASSERT_EQ(S_OK, Save(1, 2, "before two"));

    EXPECT_EQ(E_FAIL, Save(1, 3, "boom"));
    EXPECT_EQ(E_FAIL, FailingQuery());
    EXPECT_TRUE(IsOpenInProcess(m_strDbPath)) << "a failure must not drop the batch's connection";
    EXPECT_EQ("", StoredSubjects()) << "the failure committed or lost the batch";

    ASSERT_EQ(S_OK, Save(1, 4, "after"));
    EXPECT_FALSE(OtherConnectionCanWrite()) << "writes after the failure no longer run in the batch";
    EXPECT_EQ("", StoredSubjects());
    // SQLite kept the transaction: there was nothing to begin again.
    EXPECT_FALSE(Traced("begun again"));

    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    EXPECT_EQ("before one\nbefore two\nafter\n", StoredSubjects());
    ExpectReleased("the commit");
}

TEST_F(MediaBatchFailureTest, ABatchRolledBackBySqliteFailsUntilItEnds)
{
    AddFailingTriggers();
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(S_OK, Save(1, 1, "taken by the rollback"));

    EXPECT_EQ(E_FAIL, Save(1, 2, "undo"));
    // The first write said S_OK and is gone: nothing more may claim success.
    EXPECT_EQ(E_FAIL, Save(1, 3, "after"));
    EXPECT_EQ(E_FAIL, m_pMedia->SetBatchMode(TRUE));
    EXPECT_NE(std::string::npos, Narrow(m_pMedia->GetLastFailure()).find("batch was lost"));

    EXPECT_EQ(E_FAIL, m_pMedia->SetBatchMode(FALSE)) << "the end of a lost batch reports the loss";
    EXPECT_FALSE(m_pMedia->IsBatchMode());
    EXPECT_EQ("", StoredSubjects());
    ExpectReleased("the end of the batch");

    // Once ended, the store works again.
    ASSERT_EQ(S_OK, Save(1, 4, "next"));
    EXPECT_EQ("next\n", StoredSubjects());
}

// ---------------------------------------------------------------------------
// Leaving batch mode other than by SetBatchMode

class MediaBatchLifetimeTest : public MediaBatchTest {};

TEST_F(MediaBatchLifetimeTest, DestroyingTheMediaCommitsTheBatch)
{
    OpenMedia();
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(S_OK, Save(1, 1, "one"));
    ASSERT_EQ(S_OK, Save(1, 2, "two"));
    EXPECT_EQ("", StoredSubjects());

    m_pMedia.reset();
    EXPECT_EQ("one\ntwo\n", StoredSubjects());
    ExpectReleased("destruction");
}

TEST_F(MediaBatchLifetimeTest, OpeningAgainCommitsTheBatchAndEndsBatchMode)
{
    OpenMedia();
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(S_OK, Save(1, 1, "one"));
    ASSERT_EQ(S_OK, Save(1, 2, "two"));

    ASSERT_EQ(S_OK, m_pMedia->Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    EXPECT_EQ("one\ntwo\n", StoredSubjects());
    ExpectReleased("Open");

    // Batch mode is off: switching it off again does nothing, and writes land at once.
    m_logs.clear();
    EXPECT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    EXPECT_TRUE(m_logs.empty());
    ASSERT_EQ(S_OK, Save(1, 3, "three"));
    EXPECT_EQ("one\ntwo\nthree\n", StoredSubjects());
    ExpectReleased("a save after Open");
}

// ---------------------------------------------------------------------------
// Log lines of the event writes

class MediaBatchLogTest : public MediaBatchTest {};

TEST_F(MediaBatchLogTest, SaveLogsTheUpdatePathWithTheBatchFlag)
{
    OpenMedia();
    ASSERT_EQ(S_OK, Save(5, 9, "new", 70));
    ASSERT_EQ(1u, m_logs.size()) << "an insert logs only its timing line";
    EXPECT_TRUE(IsSaveTimingLine(m_logs[0].strText)) << m_logs[0].strText;
    ExpectLog(0, m_logs[0].strText);

    m_logs.clear();
    ASSERT_EQ(S_OK, Save(5, 9, "again", 71));
    ASSERT_EQ(2u, m_logs.size());
    ExpectLog(0, "SaveCalEvent -进入了更新流程 ,CalID = 5, EventID ＝ 9 ,TimeStamp=71 ,m_bBatchMode=0 ");
    EXPECT_TRUE(IsSaveTimingLine(m_logs[1].strText)) << m_logs[1].strText;
    ExpectLog(1, m_logs[1].strText);

    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    m_logs.clear();
    ASSERT_EQ(S_OK, Save(5, 9, "in batch", 72));
    ASSERT_EQ(2u, m_logs.size());
    ExpectLog(0, "SaveCalEvent -进入了更新流程 ,CalID = 5, EventID ＝ 9 ,TimeStamp=72 ,m_bBatchMode=1 ");
    EXPECT_TRUE(IsSaveTimingLine(m_logs[1].strText)) << m_logs[1].strText;

    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    EXPECT_EQ("in batch\n", StoredSubjects());
}

TEST_F(MediaBatchLogTest, UpdateLogsItsLineWithTheBatchFlag)
{
    OpenMedia();
    ASSERT_EQ(S_OK, Save(5, 9, "new"));
    m_logs.clear();
    const std::unique_ptr<tagEventRecord> pRec = MakeEvent(5, 9, "updated", 78);
    ASSERT_EQ(S_OK, m_pMedia->UpdateCalEvent(pRec.get()));
    ASSERT_EQ(1u, m_logs.size());
    ExpectLog(0, "STORE_UpdateCalEvent, CalID = 5,dwEvtID = 9 ,dwTimeStamp = 78 ,m_bBatchMode = 0 ");

    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    m_logs.clear();
    pRec->dwTimeStamp = 79;
    ASSERT_EQ(S_OK, m_pMedia->UpdateCalEvent(pRec.get()));
    ASSERT_EQ(1u, m_logs.size());
    ExpectLog(0, "STORE_UpdateCalEvent, CalID = 5,dwEvtID = 9 ,dwTimeStamp = 79 ,m_bBatchMode = 1 ");
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    EXPECT_EQ("updated|79\n", Sql("select subject, TmStamp from Event;"));
}

TEST_F(MediaBatchLogTest, AFailedSaveLogsTheErrorAndTheDbErrorLine)
{
    AddFailingTriggers();
    EXPECT_EQ(E_FAIL, Save(1, 1, "boom"));
    ASSERT_EQ(3u, m_logs.size());
    EXPECT_TRUE(IsSaveTimingLine(m_logs[0].strText)) << m_logs[0].strText;
    // A trigger's RAISE fails the statement as a constraint violation.
    ExpectLog(1, "19: SQLITE_CONSTRAINT[19]: boom refused");
    ExpectLog(2, "SaveCalEvent DB Error  0 *");
    EXPECT_EQ("0\n", Sql("select count(*) from Event;"));

    // The same failure inside a batch is logged alike.
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    m_logs.clear();
    EXPECT_EQ(E_FAIL, Save(1, 1, "boom"));
    ASSERT_EQ(3u, m_logs.size());
    ExpectLog(1, "19: SQLITE_CONSTRAINT[19]: boom refused");
    ExpectLog(2, "SaveCalEvent DB Error  0 *");
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
}

}  // namespace
