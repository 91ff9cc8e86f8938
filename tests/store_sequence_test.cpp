// The store object's life through the host's start and stop sequence: the account
// number, the start-up batch and the tick that ends it, the stop with and without
// emptying the store, and the commits that stopping or destroying the object owe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FakeHost.h"
#include "TestSupport.h"
#include "compat/winuser.h"
#include "host/CalendarUtil.h"
#include "store/VxCalStoreData.h"

using namespace fakehost;
using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Runs this thread's message loop, as the host does between calls.
void PumpMessages(std::chrono::milliseconds duration)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

const std::chrono::milliseconds s_tickAndABit(1200);

class StoreSequenceTest : public ::testing::Test {
protected:
    StoreSequenceTest() { CCalendarLogger::SetLogHook(&StoreSequenceTest::CollectLog, this); }
    ~StoreSequenceTest() override { CCalendarLogger::SetLogHook(nullptr, nullptr); }

    void SetUp() override { Create(); }

    void TearDown() override
    {
        Destroy();
        EXPECT_TRUE(m_host.Settled());
        for (const auto& pItem : m_items) {
            EXPECT_TRUE(Settled(*pItem));
        }
    }

    void Create()
    {
        ASSERT_EQ(S_OK,
                  CVxCalStoreData::CreateInstance(nullptr, IID_IVxCalStoreData, reinterpret_cast<void**>(&m_pData)));
        ASSERT_EQ(S_OK, m_pData->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&m_pSeq)));
    }

    void Destroy()
    {
        if (m_pSeq != nullptr) {
            m_pSeq->Release();
            m_pSeq = nullptr;
        }
        if (m_pData != nullptr) {
            EXPECT_EQ(0u, m_pData->Release());
            m_pData = nullptr;
        }
    }

    static void CollectLog(void* pContext, ENUM_LOG_SERVERITY, LPCWSTR, LPCWSTR pszText)
    {
        static_cast<StoreSequenceTest*>(pContext)->m_logs.push_back(Narrow(pszText));
    }

    int OnTimerLines() const
    {
        int n = 0;
        for (const std::string& strLine : m_logs) {
            n += strLine == "OnTimer ------" ? 1 : 0;
        }
        return n;
    }

    CVxCalStoreData* Store() { return static_cast<CVxCalStoreData*>(m_pData); }
    size_t Handlers() { return Store()->Timer().Tick().HandlerCount(); }

    HRESULT AddCalendar(LONG lCalID)
    {
        m_items.emplace_back(new CFake(EFakeKind::CalendarItem));
        m_items.back()->SetLong(11, lCalID);
        return m_pData->AddCalendar(m_items.back()->Unknown());
    }
    HRESULT AddEvent(LONG lCalID, LONG lEvtID)
    {
        m_items.emplace_back(new CFake(EFakeKind::EventItem));
        m_items.back()->SetLong(7, lCalID);
        m_items.back()->SetLong(9, lEvtID);
        return m_pData->AddCalEvent(m_items.back()->Unknown());
    }

    std::string Counts(const std::string& strAccountDir = "123")
    {
        return RunSqliteShell(m_dir.Join(strAccountDir + "/CalData.db"),
                              "select count(*) from Calendar; select count(*) from Event;");
    }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    CFakeHost m_host{123};
    std::vector<std::unique_ptr<CFake>> m_items;
    std::vector<std::string> m_logs;
    IVxCalStoreData* m_pData = nullptr;
    IExtendKernalSequence* m_pSeq = nullptr;
};

// ---------------------------------------------------------------------------
// Start

TEST_F(StoreSequenceTest, StartWithoutAKernelFailsAndChangesNothing)
{
    EXPECT_EQ(E_FAIL, m_pSeq->StartSequence(nullptr));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty());
    EXPECT_EQ(0u, Handlers());
    EXPECT_EQ(E_POINTER, m_pSeq->StopSequence()) << "nothing to stop without a kernel";
    EXPECT_EQ(S_OK, m_pSeq->RunSequence());
    EXPECT_EQ(S_OK, m_pSeq->EndStartupBatch()) << "with no database open";
}

TEST_F(StoreSequenceTest, TheAltUinWinsWheneverItIsNotZero)
{
    const struct {
        ULONG dwUIN;
        ULONG dwAltUIN;
        const char* pszDir;
        std::vector<int> accountSlots;
    } cases[] = {
        {123, 0, "123", {10, 12, 10}},
        {123, 456, "456", {10, 12}},
        {0, 789, "789", {10, 12}},
        {4294967295u, 0, "-1", {10, 12, 10}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszDir);
        CTempDir dir;
        CScopedRoot root(dir.Path());
        CFakeHost host(c.dwUIN, c.dwAltUIN);
        IExtendKernalSequence* pSeq = nullptr;
        ASSERT_EQ(S_OK,
                  CVxCalStoreData::CreateInstance(nullptr, IID_IExtendKernalSequence, reinterpret_cast<void**>(&pSeq)));
        EXPECT_EQ(S_OK, pSeq->StartSequence(host.Kernel()));
        EXPECT_EQ(c.dwAltUIN != 0 ? c.dwAltUIN : c.dwUIN, static_cast<CVxCalStoreData*>(pSeq)->AccountNumber());
        EXPECT_THAT(ListDir(dir.Path()), ElementsAre(c.pszDir));
        EXPECT_TRUE(FileExists(dir.Join(std::string(c.pszDir) + "/CalData.db")));
        // A fresh account for each question and one for the visitor, none kept; then
        // the calendar factory for the start-up enumeration.
        std::vector<int> kernelSlots(c.accountSlots.size() + 1, 13);
        kernelSlots.push_back(10);
        EXPECT_EQ(kernelSlots, host.kernel.Slots());
        EXPECT_EQ(c.accountSlots, host.account.Slots());
        EXPECT_EQ(1u, host.account.RefCount());
        EXPECT_EQ(2u, host.kernel.RefCount());
        EXPECT_EQ(S_OK, pSeq->StopSequence());
        EXPECT_EQ(0u, pSeq->Release());
        EXPECT_TRUE(host.Settled());
    }
}

TEST_F(StoreSequenceTest, StartDeliversTheStoredCalendarsToTheAccount)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddCalendar(2));
    ASSERT_EQ(S_OK, m_pSeq->StopSequence());

    CFake accountVisitor(EFakeKind::CalendarVisitor);
    m_host.account.Redirect(IID_ICalendarVisitor, &accountVisitor);
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(2u, accountVisitor.Visited().size());
    EXPECT_EQ(1, accountVisitor.Visited()[0]->Arg(12));
    EXPECT_EQ(2, accountVisitor.Visited()[1]->Arg(12));
    Destroy();
    EXPECT_TRUE(Settled(accountVisitor));
}

TEST_F(StoreSequenceTest, ADatabaseHoldingAnotherAccountIsEmptiedAtStart)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    ASSERT_EQ(S_OK, m_pSeq->StopSequence());
    ASSERT_EQ("", RunSqliteShell(m_dir.Join("123/CalData.db"), "update Calendar set UIN = 999;"));

    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, m_pSeq->EndStartupBatch());
    EXPECT_EQ("0\n0\n", Counts());
}

TEST_F(StoreSequenceTest, AFailureInTheEnumerationStageGivesEFail)
{
    m_host.kernel.Fail(10, E_UNEXPECTED);
    EXPECT_EQ(E_FAIL, m_pSeq->StartSequence(m_host.Kernel()));
    // What came before stays done: the batch is open and its handler connected.
    EXPECT_EQ(1u, Handlers());
    ASSERT_EQ(S_OK, AddCalendar(1));
    EXPECT_EQ(S_OK, m_pSeq->EndStartupBatch());
    EXPECT_EQ("1\n0\n", Counts());
}

TEST_F(StoreSequenceTest, AHostFailureBeforeTheEnumerationLeavesWithItsResult)
{
    m_host.kernel.Fail(13, E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, m_pSeq->StartSequence(m_host.Kernel()));
    EXPECT_EQ(0u, Handlers());
    EXPECT_EQ(2u, m_host.kernel.RefCount()) << "the kernel is kept until the object goes";
}

// ---------------------------------------------------------------------------
// The start-up batch and the tick

TEST_F(StoreSequenceTest, TheFirstTickCommitsTheStartupBatchOnce)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    ASSERT_EQ(S_OK, AddEvent(1, 2));
    EXPECT_EQ("0\n0\n", Counts()) << "the batch is not visible to another connection";
    EXPECT_EQ(1u, Handlers());
    EXPECT_EQ(0, OnTimerLines());

    PumpMessages(s_tickAndABit);
    EXPECT_EQ("1\n2\n", Counts());
    EXPECT_EQ(1, OnTimerLines());
    EXPECT_EQ(0u, Handlers());

    // Batch mode is over: the next write is visible at once.
    ASSERT_EQ(S_OK, AddEvent(1, 3));
    EXPECT_EQ("1\n3\n", Counts());
}

TEST_F(StoreSequenceTest, EndStartupBatchCommitsWithoutATick)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    EXPECT_EQ("0\n0\n", Counts());
    EXPECT_EQ(S_OK, m_pSeq->EndStartupBatch());
    EXPECT_EQ("0\n1\n", Counts());
    EXPECT_EQ(0u, Handlers());

    PumpMessages(s_tickAndABit);
    EXPECT_EQ(0, OnTimerLines());
    EXPECT_EQ(S_OK, m_pSeq->EndStartupBatch()) << "with no handler left";
}

TEST_F(StoreSequenceTest, TwoStartsBeforeATickConnectTwoHandlers)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 2));
    EXPECT_EQ(2u, Handlers());
    EXPECT_EQ(2u, m_host.kernel.RefCount()) << "the same kernel is held once";

    PumpMessages(s_tickAndABit);
    EXPECT_EQ(2, OnTimerLines());
    EXPECT_EQ(0u, Handlers());
    EXPECT_EQ("0\n2\n", Counts());
}

// ---------------------------------------------------------------------------
// Stop and destruction

TEST_F(StoreSequenceTest, StopEmptiesTheStoreOnlyForStoreModeOne)
{
    const struct {
        BYTE cStoreMode;
        bool bAnswersSettings;
        const char* pszCounts;
        bool bHasSettings;
    } cases[] = {{1, true, "0\n0\n", true},
                 {0, true, "1\n1\n", true},
                 {2, true, "1\n1\n", true},
                 {1, false, "1\n1\n", true},
                 {1, false, "1\n1\n", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.cStoreMode) + (c.bAnswersSettings ? "" : " without IAccountSettings") +
                     (c.bHasSettings ? "" : " without settings"));
        CTempDir dir;
        CScopedRoot root(dir.Path());
        CFakeHost host(123, 0, c.cStoreMode);
        if (!c.bAnswersSettings) {
            host.settings.Refuse(IID_IAccountSettings);
        }
        if (!c.bHasSettings) {
            host.account.SetObject(19, nullptr);
        }
        IVxCalStoreData* pData = nullptr;
        IExtendKernalSequence* pSeq = nullptr;
        ASSERT_EQ(S_OK,
                  CVxCalStoreData::CreateInstance(nullptr, IID_IVxCalStoreData, reinterpret_cast<void**>(&pData)));
        ASSERT_EQ(S_OK, pData->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&pSeq)));
        ASSERT_EQ(S_OK, pSeq->StartSequence(host.Kernel()));
        CFake cal(EFakeKind::CalendarItem), evt(EFakeKind::EventItem);
        cal.SetLong(11, 1);
        evt.SetLong(7, 1);
        ASSERT_EQ(S_OK, pData->AddCalendar(cal.Unknown()));
        ASSERT_EQ(S_OK, pData->AddCalEvent(evt.Unknown()));
        ASSERT_EQ(S_OK, pSeq->EndStartupBatch());
        host.ClearLogs();

        EXPECT_EQ(S_OK, pSeq->StopSequence());
        EXPECT_EQ(c.pszCounts, RunSqliteShell(dir.Join("123/CalData.db"),
                                              "select count(*) from Calendar; select count(*) from Event;"));
        EXPECT_THAT(host.account.Slots(), ElementsAre(19));
        if (c.bAnswersSettings) {
            EXPECT_THAT(host.settings.Slots(), ElementsAre(8));
            EXPECT_EQ("cStoreMode", host.settings.TextArg(8));
        } else {
            EXPECT_THAT(host.settings.Calls(), IsEmpty());
        }
        // The stop lets go of the kernel, not only the destruction.
        EXPECT_TRUE(host.Settled());
        EXPECT_EQ(E_POINTER, pSeq->StopSequence());
        pSeq->Release();
        EXPECT_EQ(0u, pData->Release());
        EXPECT_TRUE(host.Settled());
        EXPECT_TRUE(Settled(cal));
        EXPECT_TRUE(Settled(evt));
    }
}

TEST_F(StoreSequenceTest, StoppingInBatchModeCommitsTheBatch)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    EXPECT_EQ(S_OK, m_pSeq->StopSequence());
    EXPECT_EQ("1\n1\n", Counts());
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(nullptr)) << "a stopped store is not ready";
    EXPECT_EQ(E_FAIL, AddCalendar(2)) << "nor is its new media open";
    EXPECT_EQ("1\n1\n", Counts());
}

TEST_F(StoreSequenceTest, DestroyingTheObjectInBatchModeCommitsTheBatch)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    ASSERT_EQ(S_OK, AddEvent(1, 2));
    Destroy();
    EXPECT_EQ("0\n2\n", Counts());
    PumpMessages(std::chrono::milliseconds(50));
    EXPECT_EQ(0, OnTimerLines()) << "the handler goes with the object, uncalled";
}

TEST_F(StoreSequenceTest, OpeningAgainInBatchModeCommitsTheBatch)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_EQ("0\n1\n", Counts());
    ASSERT_EQ(S_OK, m_pData->SetBatchMode(1));
    ASSERT_EQ(S_OK, AddEvent(1, 2));
    BSTR bsType = SysAllocString(WTEXT("CSVCalendar"));
    BSTR bsFile = SysAllocString(WTEXT("import.csv"));
    EXPECT_EQ(S_OK, m_pData->SetDataSource(bsType, bsFile));
    SysFreeString(bsType);
    SysFreeString(bsFile);
    EXPECT_EQ("0\n2\n", Counts());
}

}  // namespace
