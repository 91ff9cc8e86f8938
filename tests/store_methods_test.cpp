// The data methods of the store object against a real database in a scratch root:
// writes from fake host items, enumerations to fake visitors, the type gates and
// what each refuses, checked through the sqlite3 tool as another process sees it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "StoreFixture.h"
#include "TestSupport.h"
#include "store/VxCalStoreData.h"

using namespace fakehost;
using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class StoreMethodsTest : public CStoreTest {
protected:
    StoreMethodsTest() : CStoreTest(&CVxCalStoreData::CreateInstance) {}

    // Adds calendars by id, then events by {calendar, event}.
    void Seed(const std::vector<LONG>& calIds, const std::vector<std::pair<LONG, LONG>>& events = {})
    {
        for (LONG lCalID : calIds) {
            ASSERT_EQ(S_OK, m_pData->AddCalendar(m_fakes.Calendar(lCalID).Unknown()));
        }
        for (const auto& [lCalID, lEvtID] : events) {
            ASSERT_EQ(S_OK, m_pData->AddCalEvent(m_fakes.Event(lCalID, lEvtID).Unknown()));
        }
    }

    CFake& m_calVisitor = m_fakes.New(EFakeKind::CalendarVisitor);
    CFake& m_evtVisitor = m_fakes.New(EFakeKind::EventVisitor);
};

// Started for account 123.
class StoreMethodsStartedTest : public StoreMethodsTest {
protected:
    void SetUp() override
    {
        StoreMethodsTest::SetUp();
        Start();
    }
};

TEST_F(StoreMethodsStartedTest, WritesFromItemsLandInTheFile)
{
    EXPECT_EQ(S_OK, m_pData->AddCalendar(m_fakes.Calendar(7, "Bob's team").Unknown()));
    EXPECT_EQ(S_OK, m_pData->AddCalEvent(m_fakes.Event(7, 1, 100, 200, "OL-1").Unknown()));
    EXPECT_EQ("123|7|2|4|3000|Bob's team|55|66\n",
              Sql("select UIN, CalID, CalType, ShrLevel, TmStamp, subject, SponsorID, FromCalID from Calendar;"));
    EXPECT_EQ("7|1|100|200|event 1|OL-1|1\n",
              Sql("select CalID, EvtID, BgnTm, EndTm, subject, ext3, Valid from Event;"));
    CFake& evt = m_fakes.Event(7, 1, 150, 250);
    evt.SetLong(EVT_GET_VALID, VARIANT_FALSE);
    EXPECT_EQ(S_OK, m_pData->UpdateCalendar(m_fakes.Calendar(7, "renamed").Unknown()));
    EXPECT_EQ(S_OK, m_pData->UpdateCalEvent(evt.Unknown()));
    EXPECT_EQ("renamed\n", Sql("select subject from Calendar;"));
    EXPECT_EQ("150|250|0\n", Sql("select BgnTm, EndTm, Valid from Event;"));  // one row each

    // Batch mode holds the writes until it is switched off.
    EXPECT_EQ(S_OK, m_pData->SetBatchMode(1));
    Seed({8}, {{7, 2}, {8, 3}});
    EXPECT_EQ("1\n1\n", Counts());
    EXPECT_EQ(S_OK, m_pData->SetBatchMode(0));
    EXPECT_EQ("2\n3\n", Counts());

    // A calendar goes without its events; DelAllEventofCalendar takes those.
    EXPECT_EQ(S_OK, m_pData->DelCalendar(7));
    EXPECT_EQ("1\n3\n", Counts());
    EXPECT_EQ(S_OK, m_pData->DelAllEventofCalendar(7));
    EXPECT_EQ("3\n", Sql("select EvtID from Event;"));
    EXPECT_EQ(S_OK, m_pData->DelCalEvent(8, 3));
    EXPECT_EQ("1\n0\n", Counts());
}

TEST_F(StoreMethodsStartedTest, RefusedItemsLeaveTheMediaAlone)
{
    Seed({1});
    CFake& plain = m_fakes.New(EFakeKind::Plain);
    CFake& evt = m_fakes.Event(1, 1);
    CFake& cal = m_fakes.Calendar(2);
    const std::pair<HRESULT (STDMETHODCALLTYPE IVxCalStoreData::*)(IUnknown*), CFake*> writes[] = {
        {&IVxCalStoreData::AddCalendar, &evt},
        {&IVxCalStoreData::UpdateCalendar, &plain},
        {&IVxCalStoreData::AddCalEvent, &cal},
        {&IVxCalStoreData::UpdateCalEvent, &plain}};
    for (const auto& [pfnWrite, pWrong] : writes) {
        EXPECT_EQ(E_POINTER, (m_pData->*pfnWrite)(nullptr));
        EXPECT_EQ(E_NOINTERFACE, (m_pData->*pfnWrite)(pWrong->Unknown()));
    }
    // A zero record would carry account 0 and make the next start empty the store.
    EXPECT_EQ("1\n0\n", Counts());
}

TEST_F(StoreMethodsStartedTest, EachRecordIsDeliveredInANewFilledItemUntilTheStopFlag)
{
    Seed({1, 2, 3}, {{1, 10}, {1, 20}, {1, 30}});
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1, 2, 3));
    EXPECT_EQ(Ids(m_host.calendarFactory), Ids(m_calVisitor)) << "each visit a new item";
    EXPECT_EQ(S_OK, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));
    EXPECT_THAT(Ids(m_evtVisitor), ElementsAre(10, 20, 30));

    // A visitor setting the stop flag gets exactly one visit, and no more items are made.
    CFake& stopper = m_fakes.New(EFakeKind::CalendarVisitor);
    stopper.StopAtVisit(1);
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(stopper.Unknown()));
    EXPECT_EQ(4u, m_host.calendarFactory.Created().size());
}

TEST_F(StoreMethodsStartedTest, AnotherAccountsCalendarEmptiesTheStoreAfterThoseBeforeIt)
{
    Seed({1, 2});
    ASSERT_EQ("", Sql("insert into Calendar(UIN, CalID, CalType) values(999, 3, 0);"));
    Seed({4}, {{1, 1}});
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1, 2));
    EXPECT_EQ("0\n0\n", Counts());
}

TEST_F(StoreMethodsStartedTest, AVisitorMayReleaseTheStore)
{
    Seed({1, 2});
    IVxCalStoreData* pData = m_pData;
    m_calVisitor.OnVisit([&](CFake&) {
        if (m_pData != nullptr) {
            m_pSeq->Release();
            m_pConfig->Release();
            m_pData->Release();
            m_pData = nullptr;
        }
    });
    EXPECT_EQ(S_OK, pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1, 2));
}

TEST_F(StoreMethodsStartedTest, TheExFormsAreGatedByTheTypeNameAndPeriodQueriesByTheirCalendar)
{
    Seed({1}, {{1, 9}});
    // The file types deliver nothing, other names fail; neither touches the host.
    const std::pair<const char*, HRESULT> types[] = {
        {"ICalendar", S_OK}, {"CSVCalendar", S_OK}, {"lumocalendar", E_FAIL}, {"", E_FAIL}, {nullptr, E_FAIL}};
    for (const auto& [pszType, hr] : types) {
        EXPECT_EQ(hr, m_pData->GetAllCalendarEx(B(pszType), B("x.ics"), m_calVisitor.Unknown()));
        EXPECT_EQ(hr, m_pData->GetAllCalEventEx(B(pszType), B("x.ics"), 1, m_evtVisitor.Unknown()));
    }
    // The declared methods without a body answer S_OK and touch nothing.
    CFake& cal = m_fakes.New(EFakeKind::CalendarItem);
    CFake& evt = m_fakes.New(EFakeKind::EventItem);
    const std::string strBefore = Sql("select * from Calendar; select * from Event;");
    for (const HRESULT hr : {m_pData->GetAllEvent(m_evtVisitor.Unknown()),
                             m_pData->QueryCalendar(EN_QRY_BY_CAL_SUBJECT, cal.Unknown(), m_calVisitor.Unknown()),
                             m_pData->QueryEvent(1, EN_QRY_BY_EVT_TIME, evt.Unknown(), m_evtVisitor.Unknown()),
                             m_pData->GetOneCalendar(1, cal.Unknown()), m_pData->GetOneCalEvent(1, 9, evt.Unknown())}) {
        EXPECT_EQ(S_OK, hr);
    }
    EXPECT_EQ(strBefore, Sql("select * from Calendar; select * from Event;"));
    for (const CFake* pFake : {&cal, &evt, &m_calVisitor, &m_evtVisitor}) {
        EXPECT_THAT(pFake->Calls(), IsEmpty());
    }

    Seed({}, {{0, 1}});
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(m_fakes.Event(0, 2, 300, 400).Unknown()));
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(m_fakes.Event(5, 3, 100, 400).Unknown()));
    // What a new visitor sees of a query; the plain form asks for calendar 0; both ends count.
    const auto seen = [&](LONG lBgnTm, LONG lEndTm, LONG lCalID, bool bEx) {
        CFake& visitor = m_fakes.New(EFakeKind::EventVisitor);
        EXPECT_EQ(S_OK, bEx ? m_pData->GetPeriodEventEx(lBgnTm, lEndTm, lCalID, visitor.Unknown())
                            : m_pData->GetPeriodEvent(lBgnTm, lEndTm, visitor.Unknown()));
        return Ids(visitor);
    };
    EXPECT_THAT(seen(150, 350, 5, true), ElementsAre(3));
    EXPECT_THAT(seen(200, 200, 0, false), ElementsAre(1));
    EXPECT_THAT(seen(201, 299, 0, false), IsEmpty());
}

TEST_F(StoreMethodsTest, InitializeOpensTheDatabaseAndTakesTheKernelFromTheDispatch)
{
    // Without a dispatch: the database of account 0, as nothing settled another, and no kernel.
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, nullptr));
    Seed({1});
    EXPECT_EQ("0|1\n", Sql("select UIN, CalID from Calendar;", "0"));
    EXPECT_EQ(E_POINTER, m_pData->GetAllCalEvent(1, m_evtVisitor.Unknown()));

    // A second Initialize swaps the reference rather than adding one; a dispatch
    // that is no kernel lets go of the one held.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
        EXPECT_EQ(2u, m_host.kernel.RefCount());
    }
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1));
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.account.As<IDispatch>()));
    EXPECT_EQ(1u, m_host.kernel.RefCount());
    EXPECT_EQ(E_POINTER, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
}

TEST_F(StoreMethodsTest, BeforeAStartOnlyTheFileTypesAnswerAndSetDataSourcePicksTheMedia)
{
    const BSTR bsFile = B("anything.csv");
    // The database type opens nothing: Initialize does that.
    EXPECT_EQ(S_OK, m_pData->SetDataSource(B("LumoCalendar"), nullptr));
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty()) << "no media and no account directory";

    Start();
    // The file types open the account's own database; the file name plays no part;
    // an unknown type changes nothing, a failed open leaves the store not ready.
    EXPECT_EQ(S_OK, m_pData->SetDataSource(B("CSVCalendar"), bsFile));
    Seed({1});
    EXPECT_EQ(E_FAIL, m_pData->SetDataSource(B("CSVCALENDAR"), bsFile));
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(E_FAIL, m_pData->SetDataSource(B("ICalendar"), nullptr));
    EXPECT_EQ(E_FAIL, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_EQ(S_OK, m_pData->SetDataSource(B("ICalendar"), bsFile));
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(m_calVisitor.Unknown()));
    EXPECT_THAT(Ids(m_calVisitor), ElementsAre(1, 1));
}

}  // namespace
