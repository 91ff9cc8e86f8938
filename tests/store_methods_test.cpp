// The data methods of the store object against a real database in a scratch root:
// writes from fake host items, the enumerations to fake visitors, the type gates,
// the identifier lookup, and what each refuses. The file is checked through the
// sqlite3 tool, as another process would see it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
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

class StoreMethodsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK,
                  CVxCalStoreData::CreateInstance(nullptr, IID_IVxCalStoreData, reinterpret_cast<void**>(&m_pData)));
        ASSERT_EQ(S_OK, m_pData->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&m_pSeq)));
        if (StartsTheStore()) {
            Start();
        }
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
        for (const auto& pFake : m_fakes) {
            EXPECT_TRUE(Settled(*pFake));
        }
    }

    virtual bool StartsTheStore() const { return true; }

    void Start()
    {
        ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
        ASSERT_EQ(S_OK, m_pSeq->EndStartupBatch());
        m_host.ClearLogs();
    }

    // A BSTR that lives until the end of the test.
    BSTR Bstr(const char* pszUtf8)
    {
        return m_bstrs.emplace_back(SysAllocString(Wide(pszUtf8).c_str()), &SysFreeString).get();
    }

    CFake& NewFake(EFakeKind eKind) { return *m_fakes.emplace_back(new CFake(eKind)); }

    CFake& CalendarItem(LONG lCalID, const std::string& strSubject = "")
    {
        CFake& item = NewFake(EFakeKind::CalendarItem);
        item.SetLong(11, lCalID);
        item.SetLong(9, 2);
        item.SetLong(15, 3000);
        item.SetLong(13, 4);
        item.SetLongs(39, {55, 66});
        item.SetText(17, strSubject.empty() ? "cal " + std::to_string(lCalID) : strSubject);
        return item;
    }

    CFake& EventItem(LONG lCalID, LONG lEvtID, LONG lBgnTm = 100, LONG lEndTm = 200, const std::string& strExt3 = "")
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

    // Adds calendars by id, then events by {calendar, event}.
    void Seed(const std::vector<LONG>& calIds, const std::vector<std::pair<LONG, LONG>>& events = {})
    {
        for (LONG lCalID : calIds) {
            ASSERT_EQ(S_OK, m_pData->AddCalendar(CalendarItem(lCalID).Unknown()));
        }
        for (const auto& [lCalID, lEvtID] : events) {
            ASSERT_EQ(S_OK, m_pData->AddCalEvent(EventItem(lCalID, lEvtID).Unknown()));
        }
    }

    std::string Sql(const std::string& strScript) { return RunSqliteShell(m_dir.Join("123/CalData.db"), strScript); }
    std::string Counts() { return Sql("select count(*) from Calendar; select count(*) from Event;"); }

    // The identifiers of the items a visitor saw or a factory made: slot 12 (CalID)
    // of calendars, 10 (EvtID) of events.
    static std::vector<LONG> Ids(const CFake& fake)
    {
        std::vector<CFake*> items = fake.Visited();
        for (const auto& pMade : fake.Created()) {
            items.push_back(pMade.get());
        }
        std::vector<LONG> ids;
        for (CFake* pItem : items) {
            ids.push_back(pItem->Arg(pItem->Kind() == EFakeKind::CalendarItem ? 12 : 10));
        }
        return ids;
    }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    CFakeHost m_host{123};
    std::vector<std::unique_ptr<CFake>> m_fakes;
    std::vector<std::unique_ptr<OLECHAR, decltype(&SysFreeString)>> m_bstrs;
    CFake& m_calVisitor = NewFake(EFakeKind::CalendarVisitor);
    CFake& m_evtVisitor = NewFake(EFakeKind::EventVisitor);
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
    EXPECT_EQ(S_OK, m_pData->AddCalendar(CalendarItem(7, "Bob's team").Unknown()));
    EXPECT_EQ(S_OK, m_pData->AddCalEvent(EventItem(7, 1, 100, 200, "OL-1").Unknown()));
    EXPECT_EQ("123|7|2|4|3000|Bob's team|55|66\n",
              Sql("select UIN, CalID, CalType, ShrLevel, TmStamp, subject, SponsorID, FromCalID from Calendar;"));
    EXPECT_EQ("7|1|100|200|event 1|OL-1|1\n",
              Sql("select CalID, EvtID, BgnTm, EndTm, subject, ext3, Valid from Event;"));

    CFake& evt = EventItem(7, 1, 150, 250);
    evt.SetLong(46, VARIANT_FALSE);
    EXPECT_EQ(S_OK, m_pData->UpdateCalendar(CalendarItem(7, "renamed").Unknown()));
    EXPECT_EQ(S_OK, m_pData->UpdateCalEvent(evt.Unknown()));
    EXPECT_EQ("renamed\n", Sql("select subject from Calendar;"));
    EXPECT_EQ("150|250|0\n", Sql("select BgnTm, EndTm, Valid from Event;"));  // one row each
}

TEST_F(StoreMethodsTest, RefusedItemsLeaveTheMediaAlone)
{
    Seed({1});
    EXPECT_EQ(E_POINTER, m_pData->AddCalendar(nullptr));
    EXPECT_EQ(E_POINTER, m_pData->UpdateCalendar(nullptr));
    EXPECT_EQ(E_POINTER, m_pData->AddCalEvent(nullptr));
    EXPECT_EQ(E_POINTER, m_pData->UpdateCalEvent(nullptr));

    CFake& plain = NewFake(EFakeKind::Plain);
    CFake& evt = EventItem(1, 1);
    CFake& cal = CalendarItem(2);
    EXPECT_EQ(E_NOINTERFACE, m_pData->AddCalendar(evt.Unknown()));
    EXPECT_EQ(E_NOINTERFACE, m_pData->UpdateCalendar(plain.Unknown()));
    EXPECT_EQ(E_NOINTERFACE, m_pData->AddCalEvent(cal.Unknown()));
    EXPECT_EQ(E_NOINTERFACE, m_pData->UpdateCalEvent(plain.Unknown()));
    EXPECT_THAT(evt.Calls(), IsEmpty());
    EXPECT_THAT(cal.Calls(), IsEmpty());
    EXPECT_EQ("1\n0\n", Counts());

    // A zero record would carry account 0 and make the next start empty the store.
    ASSERT_EQ(S_OK, m_pSeq->StopSequence());
    Start();
    EXPECT_EQ("1\n0\n", Counts());
}

TEST_F(StoreMethodsTest, DelCalendarKeepsItsEventsAndDelAllEventofCalendarRemovesThem)
{
    Seed({1, 2}, {{1, 1}, {1, 2}, {2, 3}});
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
    Seed({}, {{1, 1}, {1, 2}, {1, 3}});
    EXPECT_EQ("0\n0\n", Counts());
    EXPECT_EQ(S_OK, m_pData->SetBatchMode(0));
    EXPECT_EQ("0\n3\n", Counts());
}

TEST_F(StoreMethodsTest, DeclaredMethodsThatDoNothingTouchNothing)
{
    CFake& cal = CalendarItem(1);
    CFake& evt = EventItem(1, 1);
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

TEST_F(StoreMethodsTest, EachRecordIsDeliveredInANewFilledItem)
{
    // An empty database gives no visit.
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    EXPECT_THAT(m_calVisitor.Calls(), IsEmpty());
    EXPECT_THAT(m_evtVisitor.Calls(), IsEmpty());
    EXPECT_THAT(m_host.kernel.Slots(), ElementsAre(10, 11));
    EXPECT_THAT(m_host.calendarFactory.Created(), IsEmpty());

    Seed({1, 2, 3}, {{1, 10}, {1, 20}, {1, 30}});
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1, 2, 3));
    ASSERT_EQ(3u, m_host.calendarFactory.Created().size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(m_host.calendarFactory.Created()[i].get(), m_calVisitor.Visited()[i]);
        EXPECT_EQ("cal " + std::to_string(i + 1), m_calVisitor.Visited()[i]->TextArg(18));
        EXPECT_EQ(0, m_calVisitor.Calls()[i].values[0]) << "the stop flag starts at 0";
    }
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    EXPECT_THAT(Ids(m_evtVisitor), ElementsAre(10, 20, 30));
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(2, m_evtVisitor.Unknown()));
    EXPECT_EQ(3u, m_evtVisitor.Visited().size());
}

TEST_F(StoreMethodsTest, WithoutAVisitorItemsAreStillMadeAndFilledAndAStopFlagEndsTheVisits)
{
    Seed({1, 2, 3}, {{1, 1}, {1, 2}, {1, 3}});
    CFake& notAVisitor = NewFake(EFakeKind::Plain);
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(nullptr));
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, notAVisitor.Unknown()));
    EXPECT_THAT(Ids(m_host.calendarFactory), ElementsAre(1, 2, 3));
    EXPECT_THAT(Ids(m_host.eventFactory), ElementsAre(1, 2, 3));
    EXPECT_EQ(1, notAVisitor.QueryCount());

    // A visitor setting the stop flag gets exactly one visit, and no more items are made.
    m_calVisitor.StopAtVisit(1);
    m_evtVisitor.StopAtVisit(1);
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(S_OK, m_pData->GetPeriodEvent(0, 1000, m_evtVisitor.Unknown()));  // calendar 0: nothing to stop
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    EXPECT_EQ(1, m_calVisitor.CallCount(3));
    EXPECT_EQ(1, m_evtVisitor.CallCount(3));
    EXPECT_EQ(4u, m_host.calendarFactory.Created().size());
    EXPECT_EQ("3\n3\n", Counts());
}

TEST_F(StoreMethodsTest, AnotherAccountsCalendarEmptiesTheStoreAfterThoseBeforeIt)
{
    Seed({1, 2});
    ASSERT_EQ("", Sql("insert into Calendar(UIN, CalID, CalType) values(999, 3, 0);"));
    Seed({4}, {{1, 1}});

    // The Ex form does not check the account.
    EXPECT_EQ(S_OK, m_pData->GetAllCalendarEx(Bstr("LumoCalendar"), nullptr, m_calVisitor.Unknown()));
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1, 2, 3, 4));
    EXPECT_EQ("4\n1\n", Counts());

    m_calVisitor.ClearLog();
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1, 2));
    EXPECT_EQ("0\n0\n", Counts());
}

TEST_F(StoreMethodsTest, AVisitorMayCallBackIntoTheStoreOrReleaseIt)
{
    Seed({1, 2}, {{1, 1}, {1, 2}, {1, 3}});
    m_evtVisitor.OnVisit([&](CFake&) {
        if (m_evtVisitor.CallCount(3) == 1) {
            Seed({}, {{1, 4}});
            EXPECT_EQ(S_OK, m_pData->DelCalEvent(1, 3));
        }
    });
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    // The records were read before the first visit.
    EXPECT_THAT(Ids(m_evtVisitor), ElementsAre(1, 2, 3));
    EXPECT_EQ("1\n2\n4\n", Sql("select EvtID from Event order by EvtID;"));

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
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1, 2));
    EXPECT_EQ(2u, m_host.calendarFactory.Created().size());
}

TEST_F(StoreMethodsTest, ARecordThatCannotFillItsItemIsSkippedAndHostFailuresEndTheEnumeration)
{
    Seed({1, 2, 3}, {{1, 1}});
    m_host.calendarFactory.OnCreateItem([&](CFake& item) {
        if (m_host.calendarFactory.Created().size() == 2) {
            item.Fail(18, E_FAIL);
        }
    });
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1, 3));
    EXPECT_EQ(3u, m_host.calendarFactory.Created().size());

    // A failure leaves with its result.
    m_calVisitor.ClearLog();
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
    EXPECT_EQ("3\n1\n", Counts());
}

TEST_F(StoreMethodsTest, TheExFormsAreGatedByTheTypeName)
{
    Seed({1}, {{1, 1}});
    const BSTR bsFile = Bstr("x.ics");
    EXPECT_EQ(S_OK, m_pData->GetAllCalendarEx(Bstr("ICalendar"), bsFile, m_calVisitor.Unknown()));
    EXPECT_EQ(S_OK, m_pData->GetAllCalEventEx(Bstr("CSVCalendar"), bsFile, 1, m_evtVisitor.Unknown()));
    for (BSTR bsType : {Bstr("lumocalendar"), Bstr(""), BSTR(nullptr)}) {
        EXPECT_EQ(E_FAIL, m_pData->GetAllCalendarEx(bsType, bsFile, m_calVisitor.Unknown()));
        EXPECT_EQ(E_FAIL, m_pData->GetAllCalEventEx(bsType, bsFile, 1, m_evtVisitor.Unknown()));
    }
    EXPECT_THAT(m_host.kernel.Calls(), IsEmpty());
    EXPECT_EQ(0, m_calVisitor.QueryCount());
    EXPECT_EQ(0, m_evtVisitor.QueryCount());

    EXPECT_EQ(S_OK, m_pData->GetAllCalEventEx(Bstr("LumoCalendar"), nullptr, 1, m_evtVisitor.Unknown()));
    EXPECT_THAT(Ids(m_evtVisitor), ElementsAre(1));
}

TEST_F(StoreMethodsTest, PeriodQueriesAskForTheirCalendar)
{
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(EventItem(0, 1, 100, 200).Unknown()));
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(EventItem(0, 2, 300, 400).Unknown()));
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(EventItem(5, 3, 100, 400).Unknown()));
    // What a new visitor sees of a query; the plain form asks for calendar 0.
    const auto seen = [&](LONG lBgnTm, LONG lEndTm, LONG lCalID, bool bEx) {
        CFake& visitor = NewFake(EFakeKind::EventVisitor);
        EXPECT_EQ(S_OK, bEx ? m_pData->GetPeriodEventEx(lBgnTm, lEndTm, lCalID, visitor.Unknown())
                            : m_pData->GetPeriodEvent(lBgnTm, lEndTm, visitor.Unknown()));
        return Ids(visitor);
    };
    EXPECT_THAT(seen(150, 350, 0, false), ElementsAre(1, 2));
    EXPECT_THAT(seen(150, 350, 0, true), ElementsAre(1, 2));
    EXPECT_THAT(seen(150, 350, 5, true), ElementsAre(3));
    EXPECT_THAT(seen(200, 200, 0, false), ElementsAre(1));  // both ends count
    EXPECT_THAT(seen(201, 299, 0, false), IsEmpty());
}

TEST_F(StoreMethodsTest, IsOutlookIDExistWritesOnlyWhenItKnows)
{
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(EventItem(1, 1, 100, 200, "OL-1").Unknown()));
    VARIANT_BOOL bExist = VARIANT_BOOL(0x5A5A);
    EXPECT_EQ(E_FAIL, m_pData->IsOutlookIDExist(Bstr(""), &bExist));
    EXPECT_EQ(E_FAIL, m_pData->IsOutlookIDExist(nullptr, &bExist));
    EXPECT_EQ(VARIANT_BOOL(0x5A5A), bExist);
    EXPECT_EQ(S_OK, m_pData->IsOutlookIDExist(Bstr("OL-1"), &bExist));
    EXPECT_EQ(VARIANT_TRUE, bExist);
    EXPECT_EQ(S_OK, m_pData->IsOutlookIDExist(Bstr("OL-2"), &bExist));
    EXPECT_EQ(VARIANT_FALSE, bExist);
    EXPECT_EQ(E_INVALIDARG, m_pData->IsOutlookIDExist(Bstr("OL-1"), nullptr));
}

// ---------------------------------------------------------------------------
// Bringing the store up without the sequence

TEST_F(StoreMethodsFreshTest, InitializeOpensTheDatabaseAndTakesTheKernelFromTheDispatch)
{
    // A failed query leaves before the media is touched.
    m_host.kernel.Fail(0, E_UNEXPECTED);
    EXPECT_EQ(E_UNEXPECTED, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty());
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(m_calVisitor.Unknown()));

    // Without a dispatch: the database of account 0, as nothing settled another, and no kernel.
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, nullptr));
    EXPECT_TRUE(FileExists(m_dir.Join("0/CalData.db")));
    Seed({1});
    EXPECT_EQ("0|1\n", RunSqliteShell(m_dir.Join("0/CalData.db"), "select UIN, CalID from Calendar;"));
    EXPECT_EQ(E_POINTER, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(E_POINTER, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    EXPECT_THAT(m_calVisitor.Calls(), IsEmpty());

    m_host.kernel.Fail(0, S_OK);
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_EQ(2u, m_host.kernel.RefCount());
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1));
    EXPECT_THAT(m_host.account.Calls(), IsEmpty());

    // A second Initialize swaps the reference rather than adding one.
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_EQ(2u, m_host.kernel.RefCount());
    // A dispatch that is no kernel lets go of the one held.
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.account.As<IDispatch>()));
    EXPECT_EQ(1u, m_host.kernel.RefCount());
    EXPECT_EQ(E_POINTER, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
}

TEST_F(StoreMethodsFreshTest, BeforeAStartOnlyTheFileTypesAnswerAndSetDataSourcePicksTheMedia)
{
    const BSTR bsFile = Bstr("anything.csv");
    EXPECT_EQ(S_OK, m_pData->GetAllCalendarEx(Bstr("ICalendar"), nullptr, m_calVisitor.Unknown()));
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendarEx(Bstr("LumoCalendar"), nullptr, m_calVisitor.Unknown()));
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalEventEx(Bstr("LumoCalendar"), nullptr, 1, m_evtVisitor.Unknown()));
    // The database type opens nothing: Initialize does that.
    EXPECT_EQ(S_OK, m_pData->SetDataSource(Bstr("LumoCalendar"), nullptr));
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty()) << "no media and no account directory";
    EXPECT_EQ(0, m_calVisitor.QueryCount());

    Start();
    // The file types open the account's own database; the file name plays no part.
    EXPECT_EQ(S_OK, m_pData->SetDataSource(Bstr("CSVCalendar"), bsFile));
    Seed({1});
    EXPECT_EQ("1\n0\n", Counts());
    for (BSTR bsType : {Bstr("CSVCALENDAR"), Bstr(""), BSTR(nullptr)}) {
        EXPECT_EQ(E_FAIL, m_pData->SetDataSource(bsType, bsFile));
    }
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown())) << "an unknown type changes nothing";

    // A failed open leaves the store not ready.
    EXPECT_EQ(E_FAIL, m_pData->SetDataSource(Bstr("ICalendar"), nullptr));
    m_host.ClearLogs();
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(m_host.kernel.Calls(), IsEmpty());
    EXPECT_EQ(S_OK, m_pData->SetDataSource(Bstr("ICalendar"), bsFile));
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(2, m_calVisitor.CallCount(3));
}

}  // namespace
