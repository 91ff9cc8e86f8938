// The data methods of the store object against a real database in a scratch root:
// writes from fake host items, the enumerations to fake visitors, the type gates,
// the identifier lookup, and what each refuses. The file is checked through the
// sqlite3 tool, as another process would see it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeHost.h"
#include "TestSupport.h"
#include "store/VxCalStoreData.h"

using namespace fakehost;
using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const HRESULT s_hrHostFailure = static_cast<HRESULT>(0x80040201L);

// A BSTR for the length of one call.
class CTestBstr {
public:
    explicit CTestBstr(const char* pszUtf8) : m_bs(SysAllocString(Wide(pszUtf8).c_str())) {}
    ~CTestBstr() { SysFreeString(m_bs); }
    CTestBstr(const CTestBstr&) = delete;
    CTestBstr& operator=(const CTestBstr&) = delete;
    operator BSTR() const { return m_bs; }

private:
    BSTR m_bs;
};

class StoreMethodsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK,
                  CVxCalStoreData::CreateInstance(nullptr, IID_IVxCalStoreData, reinterpret_cast<void**>(&m_pData)));
        ASSERT_EQ(S_OK, m_pData->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&m_pSeq)));
        if (StartsTheStore()) {
            ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
            ASSERT_EQ(S_OK, m_pSeq->EndStartupBatch());
        }
        m_host.ClearLogs();
    }

    void TearDown() override
    {
        if (m_pSeq != nullptr) {
            m_pSeq->Release();
        }
        if (m_pData != nullptr) {
            EXPECT_EQ(0u, m_pData->Release());
        }
        EXPECT_TRUE(m_host.Settled());
        EXPECT_TRUE(Settled(m_calVisitor));
        EXPECT_TRUE(Settled(m_evtVisitor));
        for (const auto& pItem : m_items) {
            EXPECT_TRUE(Settled(*pItem));
        }
    }

    virtual bool StartsTheStore() const { return true; }

    CFake& NewFake(EFakeKind eKind)
    {
        m_items.emplace_back(new CFake(eKind));
        return *m_items.back();
    }

    CFake& CalendarItem(LONG lCalID, const std::string& strSubject)
    {
        CFake& item = NewFake(EFakeKind::CalendarItem);
        item.SetLong(11, lCalID);
        item.SetLong(9, 2);
        item.SetLong(15, 3000);
        item.SetLong(13, 4);
        item.SetLongs(39, {55, 66});
        item.SetText(17, strSubject);
        return item;
    }

    CFake& EventItem(LONG lCalID, LONG lEvtID, LONG lBgnTm, LONG lEndTm, const std::string& strExt3 = "")
    {
        CFake& item = NewFake(EFakeKind::EventItem);
        item.SetLong(7, lCalID);
        item.SetLong(9, lEvtID);
        item.SetLong(13, lBgnTm);
        item.SetLong(15, lEndTm);
        item.SetText(29, "event " + std::to_string(lEvtID));
        item.SetText(75, strExt3);
        item.SetLong(46, VARIANT_TRUE);
        return item;
    }

    HRESULT AddCalendar(LONG lCalID, const std::string& strSubject = "cal")
    {
        return m_pData->AddCalendar(CalendarItem(lCalID, strSubject).Unknown());
    }
    HRESULT AddEvent(LONG lCalID, LONG lEvtID, LONG lBgnTm = 100, LONG lEndTm = 200, const std::string& strExt3 = "")
    {
        return m_pData->AddCalEvent(EventItem(lCalID, lEvtID, lBgnTm, lEndTm, strExt3).Unknown());
    }

    std::string Sql(const std::string& strScript) { return RunSqliteShell(m_dir.Join("123/CalData.db"), strScript); }
    std::string Counts() { return Sql("select count(*) from Calendar; select count(*) from Event;"); }

    // The identifiers the visitor saw: slot 12 (CalID) of calendars, 10 (EvtID) of events.
    static std::vector<LONG> VisitedIds(const CFake& visitor)
    {
        std::vector<LONG> ids;
        for (CFake* pItem : visitor.Visited()) {
            ids.push_back(pItem->Arg(pItem->Kind() == EFakeKind::CalendarItem ? 12 : 10));
        }
        return ids;
    }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    CFakeHost m_host{123};
    CFake m_calVisitor{EFakeKind::CalendarVisitor};
    CFake m_evtVisitor{EFakeKind::EventVisitor};
    std::vector<std::unique_ptr<CFake>> m_items;
    IVxCalStoreData* m_pData = nullptr;
    IExtendKernalSequence* m_pSeq = nullptr;
};

// A store that has been created and nothing else.
class StoreMethodsFreshTest : public StoreMethodsTest {
protected:
    bool StartsTheStore() const override { return false; }
};

// ---------------------------------------------------------------------------
// Writes

TEST_F(StoreMethodsTest, WritesFromItemsLandInTheFile)
{
    EXPECT_EQ(S_OK, AddCalendar(7, "Bob's team"));
    EXPECT_EQ(S_OK, AddEvent(7, 1, 100, 200, "OL-1"));
    EXPECT_EQ("123|7|2|4|3000|Bob's team|55|66\n",
              Sql("select UIN, CalID, CalType, ShrLevel, TmStamp, subject, SponsorID, FromCalID from Calendar;"));
    EXPECT_EQ("7|1|100|200|event 1|OL-1|1\n",
              Sql("select CalID, EvtID, BgnTm, EndTm, subject, ext3, Valid from Event;"));

    CFake& cal = CalendarItem(7, "renamed");
    EXPECT_EQ(S_OK, m_pData->UpdateCalendar(cal.Unknown()));
    CFake& evt = EventItem(7, 1, 150, 250);
    evt.SetLong(46, VARIANT_FALSE);
    EXPECT_EQ(S_OK, m_pData->UpdateCalEvent(evt.Unknown()));
    EXPECT_EQ("renamed\n", Sql("select subject from Calendar;"));
    EXPECT_EQ("150|250|0\n", Sql("select BgnTm, EndTm, Valid from Event;"));
    EXPECT_EQ("1\n1\n", Counts());
}

TEST_F(StoreMethodsTest, RefusedItemsLeaveTheMediaAlone)
{
    ASSERT_EQ(S_OK, AddCalendar(1));
    EXPECT_EQ(E_POINTER, m_pData->AddCalendar(nullptr));
    EXPECT_EQ(E_POINTER, m_pData->UpdateCalendar(nullptr));
    EXPECT_EQ(E_POINTER, m_pData->AddCalEvent(nullptr));
    EXPECT_EQ(E_POINTER, m_pData->UpdateCalEvent(nullptr));

    CFake& plain = NewFake(EFakeKind::Plain);
    CFake& evt = EventItem(1, 1, 100, 200);
    CFake& cal = CalendarItem(2, "wrong kind");
    EXPECT_EQ(E_NOINTERFACE, m_pData->AddCalendar(evt.Unknown()));
    EXPECT_EQ(E_NOINTERFACE, m_pData->UpdateCalendar(plain.Unknown()));
    EXPECT_EQ(E_NOINTERFACE, m_pData->AddCalEvent(cal.Unknown()));
    EXPECT_EQ(E_NOINTERFACE, m_pData->UpdateCalEvent(plain.Unknown()));
    EXPECT_THAT(evt.Calls(), IsEmpty());
    EXPECT_THAT(cal.Calls(), IsEmpty());
    EXPECT_EQ("1\n0\n", Counts());
    EXPECT_EQ("", Sql("select CalID from Calendar where UIN = 0;"));

    // A zero record would carry account 0 and make the next start empty the store.
    ASSERT_EQ(S_OK, m_pSeq->StopSequence());
    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, m_pSeq->EndStartupBatch());
    EXPECT_EQ("1\n0\n", Counts());
}

TEST_F(StoreMethodsTest, DelCalendarKeepsItsEventsAndDelAllEventofCalendarRemovesThem)
{
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddCalendar(2));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    ASSERT_EQ(S_OK, AddEvent(1, 2));
    ASSERT_EQ(S_OK, AddEvent(2, 3));
    EXPECT_EQ(S_OK, m_pData->DelCalendar(1));
    EXPECT_EQ("2\n", Sql("select CalID from Calendar;"));
    EXPECT_EQ("1\n2\n3\n", Sql("select EvtID from Event order by EvtID;"));
    EXPECT_EQ(S_OK, m_pData->DelAllEventofCalendar(1));
    EXPECT_EQ("3\n", Sql("select EvtID from Event;"));
    EXPECT_EQ(S_OK, m_pData->DelCalEvent(2, 3));
    EXPECT_EQ("1\n0\n", Counts());
}

TEST_F(StoreMethodsTest, SetBatchModeHoldsWritesUntilSwitchedOff)
{
    EXPECT_EQ(S_OK, m_pData->SetBatchMode(1));
    for (LONG lEvtID = 1; lEvtID <= 3; ++lEvtID) {
        ASSERT_EQ(S_OK, AddEvent(1, lEvtID));
    }
    EXPECT_EQ("0\n", Sql("select count(*) from Event;"));
    EXPECT_EQ(S_OK, m_pData->SetBatchMode(0));
    EXPECT_EQ("3\n", Sql("select count(*) from Event;"));
}

TEST_F(StoreMethodsTest, DeclaredMethodsThatDoNothingTouchNothing)
{
    CFake& cal = CalendarItem(1, "untouched");
    CFake& evt = EventItem(1, 1, 100, 200);
    EXPECT_EQ(S_OK, m_pData->GetAllEvent(m_evtVisitor.Unknown()));
    EXPECT_EQ(S_OK, m_pData->QueryCalendar(EN_QRY_BY_CAL_SUBJECT, cal.Unknown(), m_calVisitor.Unknown()));
    EXPECT_EQ(S_OK, m_pData->QueryEvent(1, EN_QRY_BY_EVT_SPONSOR, evt.Unknown(), m_evtVisitor.Unknown()));
    EXPECT_EQ(S_OK, m_pData->GetOneCalendar(1, cal.Unknown()));
    EXPECT_EQ(S_OK, m_pData->GetOneCalEvent(1, 1, evt.Unknown()));
    for (const CFake* pFake : {&cal, &evt, &m_calVisitor, &m_evtVisitor, &m_host.kernel}) {
        EXPECT_THAT(pFake->Calls(), IsEmpty());
        EXPECT_EQ(0, pFake->QueryCount());
    }
}

// ---------------------------------------------------------------------------
// Enumerations

TEST_F(StoreMethodsTest, AnEmptyDatabaseGivesNoVisit)
{
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    EXPECT_THAT(m_calVisitor.Calls(), IsEmpty());
    EXPECT_THAT(m_evtVisitor.Calls(), IsEmpty());
    EXPECT_THAT(m_host.kernel.Slots(), ElementsAre(10, 11));
    EXPECT_THAT(m_host.calendarFactory.Created(), IsEmpty());
}

TEST_F(StoreMethodsTest, EachRecordIsDeliveredInANewFilledItem)
{
    for (LONG lCalID = 1; lCalID <= 3; ++lCalID) {
        ASSERT_EQ(S_OK, AddCalendar(lCalID, "cal " + std::to_string(lCalID)));
        ASSERT_EQ(S_OK, AddEvent(1, lCalID * 10));
    }
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(VisitedIds(m_calVisitor), ElementsAre(1, 2, 3));
    ASSERT_EQ(3u, m_host.calendarFactory.Created().size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(m_host.calendarFactory.Created()[i].get(), m_calVisitor.Visited()[i]);
        EXPECT_EQ("cal " + std::to_string(i + 1), m_calVisitor.Visited()[i]->TextArg(18));
        EXPECT_EQ(0, m_calVisitor.Calls()[i].values[0]) << "the stop flag starts at 0";
    }
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    EXPECT_THAT(VisitedIds(m_evtVisitor), ElementsAre(10, 20, 30));
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(2, m_evtVisitor.Unknown()));
    EXPECT_EQ(3u, m_evtVisitor.Visited().size());
}

TEST_F(StoreMethodsTest, AVisitorSettingTheStopFlagGetsExactlyOneVisit)
{
    for (LONG lID = 1; lID <= 3; ++lID) {
        ASSERT_EQ(S_OK, AddCalendar(lID));
        ASSERT_EQ(S_OK, AddEvent(1, lID));
    }
    m_calVisitor.StopAtVisit(1);
    m_evtVisitor.StopAtVisit(1);
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(S_OK, m_pData->GetPeriodEvent(0, 1000, m_evtVisitor.Unknown()));  // calendar 0: nothing to stop
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    EXPECT_EQ(1, m_calVisitor.CallCount(3));
    EXPECT_EQ(1, m_evtVisitor.CallCount(3));
    EXPECT_EQ(1u, m_host.calendarFactory.Created().size());
    EXPECT_EQ("3\n3\n", Counts());
}

TEST_F(StoreMethodsTest, WithoutAVisitorItemsAreStillMadeAndFilled)
{
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddCalendar(2));
    ASSERT_EQ(S_OK, AddEvent(1, 5));
    CFake& notAVisitor = NewFake(EFakeKind::Plain);
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(nullptr));
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, notAVisitor.Unknown()));
    ASSERT_EQ(2u, m_host.calendarFactory.Created().size());
    EXPECT_EQ(1, m_host.calendarFactory.Created()[0]->Arg(12));
    EXPECT_EQ(2, m_host.calendarFactory.Created()[1]->Arg(12));
    ASSERT_EQ(1u, m_host.eventFactory.Created().size());
    EXPECT_EQ(5, m_host.eventFactory.Created()[0]->Arg(10));
    EXPECT_EQ(1, notAVisitor.QueryCount());
    EXPECT_EQ("2\n1\n", Counts());
}

TEST_F(StoreMethodsTest, AnotherAccountsCalendarEmptiesTheStoreAfterThoseBeforeIt)
{
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddCalendar(2));
    ASSERT_EQ("", Sql("insert into Calendar(UIN, CalID, CalType) values(999, 3, 0);"));
    ASSERT_EQ(S_OK, AddCalendar(4));
    ASSERT_EQ(S_OK, AddEvent(1, 1));

    // The Ex form does not check the account.
    CTestBstr bsLumo("LumoCalendar");
    EXPECT_EQ(S_OK, m_pData->GetAllCalendarEx(bsLumo, nullptr, m_calVisitor.Unknown()));
    EXPECT_THAT(VisitedIds(m_calVisitor), ElementsAre(1, 2, 3, 4));
    EXPECT_EQ("4\n1\n", Counts());

    m_calVisitor.ClearLog();
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(VisitedIds(m_calVisitor), ElementsAre(1, 2));
    EXPECT_EQ("0\n0\n", Counts());
}

TEST_F(StoreMethodsTest, AVisitorMayCallBackIntoTheStore)
{
    for (LONG lEvtID = 1; lEvtID <= 3; ++lEvtID) {
        ASSERT_EQ(S_OK, AddEvent(1, lEvtID));
    }
    bool bCalledBack = false;
    m_evtVisitor.OnVisit([&](CFake&) {
        if (!bCalledBack) {
            bCalledBack = true;
            EXPECT_EQ(S_OK, AddEvent(1, 4));
            EXPECT_EQ(S_OK, m_pData->DelCalEvent(1, 3));
        }
    });
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    // The records were read before the first visit.
    EXPECT_THAT(VisitedIds(m_evtVisitor), ElementsAre(1, 2, 3));
    EXPECT_EQ("1\n2\n4\n", Sql("select EvtID from Event order by EvtID;"));
}

TEST_F(StoreMethodsTest, AVisitorMayReleaseTheStoreItIsCalledFrom)
{
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddCalendar(2));
    m_calVisitor.OnVisit([&](CFake&) {
        if (m_pData != nullptr) {
            m_pSeq->Release();
            m_pSeq = nullptr;
            m_pData->Release();
            m_pData = nullptr;
        }
    });
    IVxCalStoreData* pData = m_pData;
    EXPECT_EQ(S_OK, pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(VisitedIds(m_calVisitor), ElementsAre(1, 2));
    EXPECT_EQ(2u, m_host.calendarFactory.Created().size());
}

TEST_F(StoreMethodsTest, HostFailuresLeaveTheEnumerationWithTheirResult)
{
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddCalendar(2));
    ASSERT_EQ(S_OK, AddEvent(1, 1));

    m_calVisitor.Fail(3, s_hrHostFailure);
    EXPECT_EQ(s_hrHostFailure, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(1, m_calVisitor.CallCount(3));

    m_host.eventFactory.Fail(13, E_OUTOFMEMORY);
    EXPECT_EQ(E_OUTOFMEMORY, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    m_host.kernel.Fail(11, E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, m_pData->GetPeriodEventEx(0, 1000, 1, m_evtVisitor.Unknown()));
    m_host.kernel.SetObject(10, nullptr);
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(m_evtVisitor.Calls(), IsEmpty());
    EXPECT_EQ("2\n1\n", Counts());
}

TEST_F(StoreMethodsTest, ARecordThatCannotFillItsItemIsSkipped)
{
    for (LONG lCalID = 1; lCalID <= 3; ++lCalID) {
        ASSERT_EQ(S_OK, AddCalendar(lCalID));
    }
    int nMade = 0;
    m_host.calendarFactory.OnCreateItem([&](CFake& item) {
        if (++nMade == 2) {
            item.Fail(18, E_FAIL);
        }
    });
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(VisitedIds(m_calVisitor), ElementsAre(1, 3));
    EXPECT_EQ(3u, m_host.calendarFactory.Created().size());
}

TEST_F(StoreMethodsTest, TheExFormsAreGatedByTheTypeName)
{
    ASSERT_EQ(S_OK, AddCalendar(1));
    ASSERT_EQ(S_OK, AddEvent(1, 1));
    CTestBstr bsICal("ICalendar"), bsCsv("CSVCalendar"), bsLower("lumocalendar"), bsEmpty(""), bsFile("x.ics");
    EXPECT_EQ(S_OK, m_pData->GetAllCalendarEx(bsICal, bsFile, m_calVisitor.Unknown()));
    EXPECT_EQ(S_OK, m_pData->GetAllCalEventEx(bsCsv, bsFile, 1, m_evtVisitor.Unknown()));
    for (BSTR bsType : {BSTR(bsLower), BSTR(bsEmpty), BSTR(nullptr)}) {
        EXPECT_EQ(E_FAIL, m_pData->GetAllCalendarEx(bsType, bsFile, m_calVisitor.Unknown()));
        EXPECT_EQ(E_FAIL, m_pData->GetAllCalEventEx(bsType, bsFile, 1, m_evtVisitor.Unknown()));
    }
    EXPECT_THAT(m_host.kernel.Calls(), IsEmpty());
    EXPECT_EQ(0, m_calVisitor.QueryCount());
    EXPECT_EQ(0, m_evtVisitor.QueryCount());

    CTestBstr bsLumo("LumoCalendar");
    EXPECT_EQ(S_OK, m_pData->GetAllCalEventEx(bsLumo, nullptr, 1, m_evtVisitor.Unknown()));
    EXPECT_THAT(VisitedIds(m_evtVisitor), ElementsAre(1));
}

TEST_F(StoreMethodsFreshTest, TheExFormsBeforeAnyStart)
{
    CTestBstr bsICal("ICalendar"), bsLumo("LumoCalendar");
    EXPECT_EQ(S_OK, m_pData->GetAllCalendarEx(bsICal, nullptr, m_calVisitor.Unknown()));
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendarEx(bsLumo, nullptr, m_calVisitor.Unknown()));
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalEventEx(bsLumo, nullptr, 1, m_evtVisitor.Unknown()));
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty()) << "no media and no account directory";
    EXPECT_EQ(0, m_calVisitor.QueryCount());
}

TEST_F(StoreMethodsTest, PeriodQueriesAskForTheirCalendar)
{
    ASSERT_EQ(S_OK, AddEvent(0, 1, 100, 200));
    ASSERT_EQ(S_OK, AddEvent(0, 2, 300, 400));
    ASSERT_EQ(S_OK, AddEvent(5, 3, 100, 400));
    EXPECT_EQ(S_OK, m_pData->GetPeriodEvent(150, 350, m_evtVisitor.Unknown()));
    EXPECT_THAT(VisitedIds(m_evtVisitor), ElementsAre(1, 2));

    CFake& exVisitor = NewFake(EFakeKind::EventVisitor);
    EXPECT_EQ(S_OK, m_pData->GetPeriodEventEx(150, 350, 0, exVisitor.Unknown()));
    EXPECT_EQ(VisitedIds(m_evtVisitor), VisitedIds(exVisitor));

    m_evtVisitor.ClearLog();
    EXPECT_EQ(S_OK, m_pData->GetPeriodEventEx(150, 350, 5, m_evtVisitor.Unknown()));
    EXPECT_THAT(VisitedIds(m_evtVisitor), ElementsAre(3));
    m_evtVisitor.ClearLog();
    EXPECT_EQ(S_OK, m_pData->GetPeriodEvent(200, 200, m_evtVisitor.Unknown()));  // both ends count
    EXPECT_THAT(VisitedIds(m_evtVisitor), ElementsAre(1));
    m_evtVisitor.ClearLog();
    EXPECT_EQ(S_OK, m_pData->GetPeriodEvent(201, 299, m_evtVisitor.Unknown()));
    EXPECT_THAT(m_evtVisitor.Calls(), IsEmpty());
}

TEST_F(StoreMethodsTest, IsOutlookIDExistWritesOnlyWhenItKnows)
{
    ASSERT_EQ(S_OK, AddEvent(1, 1, 100, 200, "OL-1"));
    CTestBstr bsKnown("OL-1"), bsUnknown("OL-2"), bsEmpty("");
    VARIANT_BOOL bExist = VARIANT_BOOL(0x5A5A);
    EXPECT_EQ(S_OK, m_pData->IsOutlookIDExist(bsKnown, &bExist));
    EXPECT_EQ(VARIANT_TRUE, bExist);
    bExist = VARIANT_BOOL(0x5A5A);
    EXPECT_EQ(S_OK, m_pData->IsOutlookIDExist(bsUnknown, &bExist));
    EXPECT_EQ(VARIANT_FALSE, bExist);
    bExist = VARIANT_BOOL(0x5A5A);
    EXPECT_EQ(E_FAIL, m_pData->IsOutlookIDExist(bsEmpty, &bExist));
    EXPECT_EQ(E_FAIL, m_pData->IsOutlookIDExist(nullptr, &bExist));
    EXPECT_EQ(VARIANT_BOOL(0x5A5A), bExist);
    EXPECT_EQ(E_INVALIDARG, m_pData->IsOutlookIDExist(bsKnown, nullptr));
}

// ---------------------------------------------------------------------------
// Bringing the store up without the sequence

TEST_F(StoreMethodsFreshTest, InitializeWithoutADispatchOpensTheDatabaseButHasNoKernel)
{
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, nullptr));
    EXPECT_TRUE(FileExists(m_dir.Join("0/CalData.db")));
    EXPECT_EQ(S_OK, AddCalendar(1));
    EXPECT_EQ("0|1\n", RunSqliteShell(m_dir.Join("0/CalData.db"), "select UIN, CalID from Calendar;"));
    EXPECT_EQ(E_POINTER, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(E_POINTER, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    EXPECT_THAT(m_calVisitor.Calls(), IsEmpty());
}

TEST_F(StoreMethodsFreshTest, InitializeTakesTheKernelFromTheDispatch)
{
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_EQ(2u, m_host.kernel.RefCount());
    EXPECT_EQ(S_OK, AddCalendar(1));  // account 0, as nothing settled another
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(VisitedIds(m_calVisitor), ElementsAre(1));
    EXPECT_THAT(m_host.account.Calls(), IsEmpty());

    // A second Initialize swaps the reference rather than adding one.
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_EQ(2u, m_host.kernel.RefCount());
    // A dispatch that is no kernel lets go of the one held.
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.account.As<IDispatch>()));
    EXPECT_EQ(1u, m_host.kernel.RefCount());
    EXPECT_EQ(E_POINTER, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
}

TEST_F(StoreMethodsFreshTest, InitializeLeavesByAFailedQueryBeforeTouchingTheMedia)
{
    m_host.kernel.Fail(0, E_UNEXPECTED);
    EXPECT_EQ(E_UNEXPECTED, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty());
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
}

TEST_F(StoreMethodsFreshTest, SetDataSourceAcceptsTheThreeTypeNames)
{
    CTestBstr bsLumo("LumoCalendar"), bsCsv("CSVCalendar"), bsICal("ICalendar"), bsUpper("CSVCALENDAR"), bsEmpty(""),
        bsFile("anything.csv");
    // The database type opens nothing: Initialize does that.
    EXPECT_EQ(S_OK, m_pData->SetDataSource(bsLumo, nullptr));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty());
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(m_calVisitor.Unknown()));

    ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
    ASSERT_EQ(S_OK, m_pSeq->EndStartupBatch());
    m_host.ClearLogs();
    // The file types open the account's own database; the file name plays no part.
    EXPECT_EQ(S_OK, m_pData->SetDataSource(bsCsv, bsFile));
    EXPECT_EQ(S_OK, AddCalendar(1));
    EXPECT_EQ("1\n0\n", Counts());

    EXPECT_EQ(E_FAIL, m_pData->SetDataSource(bsUpper, bsFile));
    EXPECT_EQ(E_FAIL, m_pData->SetDataSource(bsEmpty, bsFile));
    EXPECT_EQ(E_FAIL, m_pData->SetDataSource(nullptr, bsFile));
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown())) << "an unknown type changes nothing";

    // A failed open leaves the store not ready.
    EXPECT_EQ(E_FAIL, m_pData->SetDataSource(bsICal, nullptr));
    m_host.ClearLogs();
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(m_host.kernel.Calls(), IsEmpty());
    EXPECT_EQ(S_OK, m_pData->SetDataSource(bsICal, bsFile));
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(2, m_calVisitor.CallCount(3));
}

}  // namespace
