// The store object's life through the host's start and stop sequence: the account
// number, the start-up batch and the tick that ends it, the stop with and without
// emptying the store, and the commits that stopping or destroying the object owe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "StoreFixture.h"
#include "TestSupport.h"
#include "compat/winuser.h"
#include "store/VxCalStoreData.h"

using namespace fakehost;
using namespace testing_support;
using ::testing::ElementsAre;

namespace {

// Runs this thread's message loop, as the host does between calls.
void PumpMessages(std::chrono::milliseconds duration)
{
    for (const auto end = std::chrono::steady_clock::now() + duration; std::chrono::steady_clock::now() < end;) {
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class StoreSequenceTest : public CStoreTest {
protected:
    StoreSequenceTest() : CStoreTest(&CVxCalStoreData::CreateInstance) {}
    CVxCalStoreData* Store() { return static_cast<CVxCalStoreData*>(m_pData); }
    size_t Handlers() { return Store()->Timer().Tick().HandlerCount(); }
    HRESULT AddCalendar(LONG lCalID) { return m_pData->AddCalendar(m_fakes.Calendar(lCalID).Unknown()); }
    HRESULT AddEvent(LONG lCalID, LONG lEvtID) { return m_pData->AddCalEvent(m_fakes.Event(lCalID, lEvtID).Unknown()); }
};

TEST_F(StoreSequenceTest, TheAltUinWinsWheneverItIsNotZero)
{
    EXPECT_EQ(E_FAIL, m_pSeq->StartSequence(nullptr));
    EXPECT_EQ(E_POINTER, m_pSeq->StopSequence()) << "nothing to stop without a kernel";
    const std::tuple<ULONG, ULONG, const char*> cases[] = {
        {123, 0, "123"}, {123, 456, "456"}, {0, 789, "789"}, {4294967295u, 0, "-1"}};
    for (const auto& [dwUIN, dwAltUIN, pszDir] : cases) {
        m_host.account.SetLong(ACCOUNT_UIN, LONG(dwUIN));
        m_host.account.SetLong(ACCOUNT_ALTUIN, LONG(dwAltUIN));
        EXPECT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
        EXPECT_EQ(S_OK, m_pSeq->EndStartupBatch());
        EXPECT_TRUE(FileExists(m_dir.Join(std::string(pszDir) + "/CalData.db"))) << pszDir;
    }
}

TEST_F(StoreSequenceTest, StartDeliversTheStoredCalendarsAndEmptiesADatabaseOfAnotherAccount)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddCalendar(2));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    ASSERT_EQ(S_OK, m_pSeq->StopSequence());

    CFake& accountVisitor = m_fakes.New(EFakeKind::CalendarVisitor);
    m_host.account.Redirect(IID_ICalendarVisitor, &accountVisitor);
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    EXPECT_THAT(Ids(accountVisitor), ElementsAre(1, 2));
    ASSERT_EQ(S_OK, m_pSeq->StopSequence());

    ASSERT_EQ("", Sql("update Calendar set UIN = 999;"));
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, m_pSeq->EndStartupBatch());
    EXPECT_EQ("0\n0\n", Counts());
}

TEST_F(StoreSequenceTest, TheStartupBatchEndsByEndStartupBatchOrByTheFirstTickAfterASecond)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    EXPECT_EQ("0\n0\n", Counts()) << "the batch is not visible to another connection";
    EXPECT_EQ(S_OK, m_pSeq->EndStartupBatch());
    EXPECT_EQ("0\n1\n", Counts());
    EXPECT_EQ(0u, Handlers());

    // A new object's timer, from its creation. Two starts before a tick: two
    // handlers, both run once by the one tick.
    Destroy();
    Create();
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 2));
    EXPECT_EQ(2u, Handlers());
    PumpMessages(std::chrono::milliseconds(500));
    EXPECT_EQ("1\n1\n", Counts()) << "the second start committed the first batch; no tick before its second";
    PumpMessages(std::chrono::milliseconds(900));
    EXPECT_EQ("1\n2\n", Counts());
    EXPECT_EQ(0u, Handlers());

    // Batch mode is over: the next write is visible at once.
    ASSERT_EQ(S_OK, AddEvent(1, 3));
    EXPECT_EQ("1\n3\n", Counts());
}

TEST_F(StoreSequenceTest, StopEmptiesTheStoreOnlyForStoreModeOneAndLetsGoOfTheKernel)
{
    // In this order, each for an account of its own: a case keeps the host the last left.
    const std::tuple<BYTE, bool, bool, const char*> cases[] = {
        {1, true, true, "0\n0\n"}, {0, true, true, "1\n1\n"}, {2, true, true, "1\n1\n"},
        {1, false, true, "1\n1\n"},   // no IAccountSettings
        {1, false, false, "1\n1\n"}};  // no settings at all
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [cStoreMode, bAnswersSettings, bHasSettings, pszCounts] = cases[i];
        m_host.account.SetLong(ACCOUNT_UIN, LONG(i + 1));
        m_host.settings.SetLong(SETTINGS_GET_BYTE, cStoreMode);
        if (!bAnswersSettings) {
            m_host.settings.Redirect(IID_IAccountSettings, nullptr);
        }
        if (!bHasSettings) {
            m_host.account.SetObject(ACCOUNT_SETTINGS, nullptr);
        }
        Start();
        ASSERT_EQ(S_OK, AddCalendar(1));
        ASSERT_EQ(S_OK, AddEvent(1, 1));
        EXPECT_EQ(S_OK, m_pSeq->StopSequence());
        EXPECT_EQ(pszCounts, Counts(std::to_string(i + 1))) << i;
        if (bAnswersSettings) {
            EXPECT_EQ("cStoreMode", Narrow(m_host.settings.Calls().back().texts.at(0)));
        }
        EXPECT_TRUE(m_host.Settled()) << i;
        EXPECT_EQ(E_POINTER, m_pSeq->StopSequence());
    }
}

TEST_F(StoreSequenceTest, StoppingOpeningAgainOrDestroyingInBatchModeCommitsTheBatch)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    EXPECT_EQ(S_OK, m_pSeq->StopSequence());
    EXPECT_EQ("1\n1\n", Counts());
    EXPECT_EQ(E_FAIL, AddCalendar(2)) << "a stopped store is not ready";

    // Opening again: by Initialize in the start-up batch, by SetDataSource in one of SetBatchMode.
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 2));
    EXPECT_EQ("1\n1\n", Counts()) << "held in the batch";
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_EQ("1\n2\n", Counts());
    ASSERT_EQ(S_OK, m_pData->SetBatchMode(1));
    ASSERT_EQ(S_OK, AddEvent(1, 3));
    EXPECT_EQ(S_OK, m_pData->SetDataSource(B("CSVCalendar"), B("import.csv")));
    EXPECT_EQ("1\n3\n", Counts());

    // Destroying the object in a start-up batch.
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 4));
    ASSERT_EQ(S_OK, AddEvent(1, 5));
    EXPECT_EQ("1\n3\n", Counts()) << "held in the batch";
    Destroy();
    EXPECT_EQ("1\n5\n", Counts());
}

}  // namespace
