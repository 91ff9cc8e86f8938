// Batch mode of the store media, checked through the sqlite3 tool: what another
// process, or the next start, sees.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TestSupport.h"
#include "media/VxCalStoreMedia.h"

using namespace testing_support;

namespace {

class MediaBatchTest : public ::testing::Test {
protected:
    MediaBatchTest() { MakeDirs(m_dir.Join("123")); }

    void OpenMedia() { ASSERT_EQ(S_OK, m_pMedia->Open(123, WTEXT("CalData.db"), FALSE)); }

    HRESULT Save(DWORD dwCalID, DWORD dwEvtID, const std::string& strSubject)
    {
        std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
        pRec->dwCalID = dwCalID;
        pRec->dwEvtID = dwEvtID;
        WStrCopyN(pRec->szSubject, EVT_SUBJECT_MAX + 1, Wide(strSubject).c_str());
        return m_pMedia->SaveCalEvent(pRec.get(), 0);
    }

    std::string Sql(const std::string& strScript) { return RunSqliteShell(m_strDbPath, strScript); }

    std::string StoredSubjects() { return Sql("select subject from Event order by CalID, EvtID;"); }
    // Whether another connection can take the write lock now (the tool does not wait).
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

    // ABORT undoes the one statement, ROLLBACK ends the whole transaction.
    void AddFailingTriggers()
    {
        OpenMedia();
        Sql("create trigger RefuseBoom before insert on Event when new.subject = 'boom' "
            "begin select raise(abort, 'boom refused'); end;"
            "create trigger UndoAll before insert on Event when new.subject = 'undo' "
            "begin select raise(rollback, 'batch undone'); end;");
    }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    const std::string m_strDbPath = m_dir.Join("123/CalData.db");
    std::unique_ptr<CVxCalStoreMedia> m_pMedia{new CVxCalStoreMedia()};  // goes (and commits) before the dir
};

TEST_F(MediaBatchTest, BatchWritesAppearTogetherAtTheCommitOrTheDestruction)
{
    OpenMedia();
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(S_OK, Save(1, 1, "one"));
    // Any non-zero flag is the same state: no second begin, no new connection.
    EXPECT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    EXPECT_EQ(S_OK, m_pMedia->SetBatchMode(-1));
    ASSERT_EQ(S_OK, Save(1, 2, "two"));
    ASSERT_EQ(S_OK, Save(2, 1, "three"));
    ASSERT_EQ(S_OK, m_pMedia->DelCalEvent(2, 1, 0));

    EXPECT_EQ("0\n", Sql("select count(*) from Event;"));
    EXPECT_FALSE(OtherConnectionCanWrite()) << "the batch must hold the write lock until its commit";

    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    EXPECT_EQ("one\ntwo\n", StoredSubjects());
    ExpectReleased("the commit");

    // Destroying the media commits too.
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(S_OK, Save(3, 1, "three"));
    m_pMedia.reset();
    EXPECT_EQ("one\ntwo\nthree\n", StoredSubjects());
    ExpectReleased("destruction");
}

TEST_F(MediaBatchTest, AFailedStatementKeepsTheEarlierWritesOfTheBatch)
{
    AddFailingTriggers();
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(S_OK, Save(1, 1, "before one"));
    ASSERT_EQ(S_OK, Save(1, 2, "before two"));

    EXPECT_EQ(E_FAIL, Save(1, 3, "boom"));
    tagEventRecord* pArray = nullptr;
    int nCount = -1;  // an unknown column fails in SQLite, not in our checks
    EXPECT_EQ(E_FAIL, m_pMedia->QueryCalEvent(1, WTEXT("NoSuchColumn"), WTEXT("1"), &pArray, &nCount));
    EXPECT_TRUE(IsOpenInProcess(m_strDbPath)) << "a failure must not drop the batch's connection";
    ASSERT_EQ(S_OK, Save(1, 4, "after"));
    EXPECT_FALSE(OtherConnectionCanWrite()) << "writes after the failure no longer run in the batch";
    EXPECT_EQ("", StoredSubjects()) << "the failure committed or lost the batch";

    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(FALSE));
    EXPECT_EQ("before one\nbefore two\nafter\n", StoredSubjects());
    ExpectReleased("the commit");
}

TEST_F(MediaBatchTest, ABatchRolledBackBySqliteFailsUntilItEnds)
{
    AddFailingTriggers();
    ASSERT_EQ(S_OK, m_pMedia->SetBatchMode(TRUE));
    ASSERT_EQ(S_OK, Save(1, 1, "taken by the rollback"));

    EXPECT_EQ(E_FAIL, Save(1, 2, "undo"));
    // The first write said S_OK and is gone: nothing more may claim success.
    EXPECT_EQ(E_FAIL, Save(1, 3, "after"));
    EXPECT_EQ(E_FAIL, m_pMedia->SetBatchMode(TRUE));

    EXPECT_EQ(E_FAIL, m_pMedia->SetBatchMode(FALSE)) << "the end of a lost batch reports the loss";
    EXPECT_FALSE(m_pMedia->IsBatchMode());
    EXPECT_EQ("", StoredSubjects());
    ExpectReleased("the end of the batch");

    // Once ended, the store works again.
    ASSERT_EQ(S_OK, Save(1, 4, "next"));
    EXPECT_EQ("next\n", StoredSubjects());
}

}  // namespace
