// The store object's life through the host's start and stop sequence: the account
// number, the start-up batch and the tick that ends it, the stop with and without
// emptying the store, and the commits that stopping or destroying the object owe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
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
    for (const auto end = std::chrono::steady_clock::now() + duration; std::chrono::steady_clock::now() < end;) {
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

const std::chrono::milliseconds s_tickAndABit(1200);

// The rows of the two tables in the account's database under the root.
std::string Counts(const CTempDir& root, const std::string& strAccount = "123")
{
    return RunSqliteShell(root.Join(strAccount + "/CalData.db"),
                          "select count(*) from Calendar; select count(*) from Event;");
}

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

    int OnTimerLines() const { return int(std::count(m_logs.begin(), m_logs.end(), "OnTimer ------")); }
    CVxCalStoreData* Store() { return static_cast<CVxCalStoreData*>(m_pData); }
    size_t Handlers() { return Store()->Timer().Tick().HandlerCount(); }

    // A new item answering these {slot, value} pairs.
    IUnknown* Item(EFakeKind eKind, std::initializer_list<std::pair<int, LONG>> longs)
    {
        CFake& item = *m_items.emplace_back(new CFake(eKind));
        for (const auto& [nSlot, lValue] : longs) {
            item.SetLong(nSlot, lValue);
        }
        return item.Unknown();
    }
    HRESULT AddCalendar(LONG lCalID) { return m_pData->AddCalendar(Item(EFakeKind::CalendarItem, {{11, lCalID}})); }
    HRESULT AddEvent(LONG lCalID, LONG lEvtID)
    {
        return m_pData->AddCalEvent(Item(EFakeKind::EventItem, {{7, lCalID}, {9, lEvtID}}));
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
    // A fresh account for each question and one for the visitor, none kept; then
    // the calendar factory for the start-up enumeration.
    const std::tuple<ULONG, ULONG, std::string, std::vector<int>, std::vector<int>> cases[] = {
        {123, 0, "123", {13, 13, 13, 13, 10}, {10, 12, 10}},
        {123, 456, "456", {13, 13, 13, 10}, {10, 12}},
        {0, 789, "789", {13, 13, 13, 10}, {10, 12}},
        {4294967295u, 0, "-1", {13, 13, 13, 13, 10}, {10, 12, 10}},
    };
    Destroy();
    for (const auto& [dwUIN, dwAltUIN, strDir, kernelSlots, accountSlots] : cases) {
        SCOPED_TRACE(strDir);
        CTempDir dir;  // a root and an object for each case; the host answers its numbers
        CScopedRoot root(dir.Path());
        m_host.account.SetLong(10, LONG(dwUIN));
        m_host.account.SetLong(12, LONG(dwAltUIN));
        m_host.ClearLogs();
        ASSERT_EQ(S_OK, CVxCalStoreData::CreateInstance(nullptr, IID_IExtendKernalSequence,
                                                        reinterpret_cast<void**>(&m_pSeq)));
        ASSERT_EQ(S_OK, m_pSeq->QueryInterface(IID_IVxCalStoreData, reinterpret_cast<void**>(&m_pData)));
        EXPECT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
        EXPECT_EQ(dwAltUIN != 0 ? dwAltUIN : dwUIN, Store()->AccountNumber());
        EXPECT_THAT(ListDir(dir.Path()), ElementsAre(strDir));
        EXPECT_TRUE(FileExists(dir.Join(strDir + "/CalData.db")));
        EXPECT_EQ(kernelSlots, m_host.kernel.Slots());
        EXPECT_EQ(accountSlots, m_host.account.Slots());
        EXPECT_EQ(1u, m_host.account.RefCount());
        EXPECT_EQ(2u, m_host.kernel.RefCount());
        EXPECT_EQ(S_OK, m_pSeq->StopSequence());
        Destroy();
        EXPECT_TRUE(m_host.Settled());
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
    EXPECT_EQ("0\n0\n", Counts(m_dir));
}

TEST_F(StoreSequenceTest, AHostFailureLeavesTheStartWithItsResultOrWithEFail)
{
    // Before the enumeration: the host's result, and nothing connected.
    m_host.kernel.Fail(13, E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, m_pSeq->StartSequence(m_host.Kernel()));
    EXPECT_EQ(0u, Handlers());
    EXPECT_EQ(2u, m_host.kernel.RefCount()) << "the kernel is kept until the object goes";

    // In the enumeration stage: E_FAIL, and what came before stays done: the batch
    // is open and its handler connected.
    m_host.kernel.Fail(13, S_OK);
    m_host.kernel.Fail(10, E_UNEXPECTED);
    EXPECT_EQ(E_FAIL, m_pSeq->StartSequence(m_host.Kernel()));
    EXPECT_EQ(1u, Handlers());
    ASSERT_EQ(S_OK, AddCalendar(1));
    EXPECT_EQ(S_OK, m_pSeq->EndStartupBatch());
    EXPECT_EQ("1\n0\n", Counts(m_dir));
}

// ---------------------------------------------------------------------------
// The start-up batch and the tick

TEST_F(StoreSequenceTest, TheStartupBatchEndsByEndStartupBatchOrOnceByTheFirstTick)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    EXPECT_EQ("0\n0\n", Counts(m_dir)) << "the batch is not visible to another connection";
    EXPECT_EQ(1u, Handlers());
    EXPECT_EQ(S_OK, m_pSeq->EndStartupBatch());
    EXPECT_EQ("0\n1\n", Counts(m_dir));
    EXPECT_EQ(0u, Handlers());
    EXPECT_EQ(S_OK, m_pSeq->EndStartupBatch()) << "with no handler left";

    // A new start-up batch, left to the tick; the handler gone above never runs.
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddEvent(1, 2));
    EXPECT_EQ("0\n1\n", Counts(m_dir));
    EXPECT_EQ(1u, Handlers());
    EXPECT_EQ(0, OnTimerLines());
    PumpMessages(s_tickAndABit);
    EXPECT_EQ("1\n2\n", Counts(m_dir));
    EXPECT_EQ(1, OnTimerLines());
    EXPECT_EQ(0u, Handlers());

    // Batch mode is over: the next write is visible at once.
    ASSERT_EQ(S_OK, AddEvent(1, 3));
    EXPECT_EQ("1\n3\n", Counts(m_dir));
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
    EXPECT_EQ("0\n2\n", Counts(m_dir));
}

// ---------------------------------------------------------------------------
// Stop and destruction

TEST_F(StoreSequenceTest, StopEmptiesTheStoreOnlyForStoreModeOne)
{
    // In this order: a case keeps what the cases before it did to the host.
    const std::tuple<const char*, BYTE, bool, bool, const char*> cases[] = {
        {"mode 1", 1, true, true, "0\n0\n"},
        {"mode 0", 0, true, true, "1\n1\n"},
        {"mode 2", 2, true, true, "1\n1\n"},
        {"mode 1 without IAccountSettings", 1, false, true, "1\n1\n"},
        {"mode 1 without settings", 1, false, false, "1\n1\n"}};
    Destroy();
    for (const auto& [pszCase, cStoreMode, bAnswersSettings, bHasSettings, pszCounts] : cases) {
        SCOPED_TRACE(pszCase);
        CTempDir dir;  // a root and an object for each case
        CScopedRoot root(dir.Path());
        m_host.settings.SetLong(8, cStoreMode);
        if (!bAnswersSettings) {
            m_host.settings.Refuse(IID_IAccountSettings);
        }
        if (!bHasSettings) {
            m_host.account.SetObject(19, nullptr);
        }
        Create();
        ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
        ASSERT_EQ(S_OK, AddCalendar(1));
        ASSERT_EQ(S_OK, AddEvent(1, 1));
        ASSERT_EQ(S_OK, m_pSeq->EndStartupBatch());
        m_host.ClearLogs();

        EXPECT_EQ(S_OK, m_pSeq->StopSequence());
        EXPECT_EQ(pszCounts, Counts(dir));
        EXPECT_THAT(m_host.account.Slots(), ElementsAre(19));
        EXPECT_EQ(bAnswersSettings ? std::vector<int>{8} : std::vector<int>{}, m_host.settings.Slots());
        if (bAnswersSettings) {
            EXPECT_EQ("cStoreMode", m_host.settings.TextArg(8));
        }
        // The stop lets go of the kernel, not only the destruction.
        EXPECT_TRUE(m_host.Settled());
        EXPECT_EQ(E_POINTER, m_pSeq->StopSequence());
        Destroy();
        EXPECT_TRUE(m_host.Settled());
    }
}

TEST_F(StoreSequenceTest, StoppingOpeningAgainOrDestroyingInBatchModeCommitsTheBatch)
{
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    EXPECT_EQ(S_OK, m_pSeq->StopSequence());
    EXPECT_EQ("1\n1\n", Counts(m_dir));
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(nullptr)) << "a stopped store is not ready";
    EXPECT_EQ(E_FAIL, AddCalendar(2)) << "nor is its new media open";
    EXPECT_EQ("1\n1\n", Counts(m_dir));

    // Opening again: by Initialize in the start-up batch, by SetDataSource in one of SetBatchMode.
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 2));
    EXPECT_EQ("1\n1\n", Counts(m_dir)) << "held in the batch";
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_EQ("1\n2\n", Counts(m_dir));
    ASSERT_EQ(S_OK, m_pData->SetBatchMode(1));
    ASSERT_EQ(S_OK, AddEvent(1, 3));
    using Bstr = std::unique_ptr<OLECHAR, decltype(&SysFreeString)>;
    const Bstr bsType(SysAllocString(WTEXT("CSVCalendar")), &SysFreeString);
    const Bstr bsFile(SysAllocString(WTEXT("import.csv")), &SysFreeString);
    EXPECT_EQ(S_OK, m_pData->SetDataSource(bsType.get(), bsFile.get()));
    EXPECT_EQ("1\n3\n", Counts(m_dir));

    // Destroying the object in a start-up batch.
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, AddEvent(1, 4));
    ASSERT_EQ(S_OK, AddEvent(1, 5));
    EXPECT_EQ("1\n3\n", Counts(m_dir)) << "held in the batch";
    Destroy();
    EXPECT_EQ("1\n5\n", Counts(m_dir));
    PumpMessages(std::chrono::milliseconds(50));
    EXPECT_EQ(0, OnTimerLines()) << "the handler goes with the object, uncalled";
}

}  // namespace
