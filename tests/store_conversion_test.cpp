// The binary contract of the four conversions between host items and records:
// which slots are called, in which order, with which values, and what a record
// holds when a slot fails half-way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "StoreFixture.h"
#include "TestSupport.h"
#include "store/VxCalStoreData.h"

using namespace fakehost;
using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

using Longs = std::map<int, std::vector<LONG>>;
using Texts = std::vector<std::pair<int, std::string>>;
using Log = std::vector<std::pair<int, std::string>>;

const std::vector<int> s_calReads = {CAL_GET_CALID, CAL_GET_CALTYPE, CAL_GET_TMSTAMP, CAL_GET_SHRLEVEL, CAL_GET_SPONSOR,
    CAL_GET_SUBJECT, CAL_GET_DETAIL, CAL_GET_CONTACTID, CAL_GET_CONTACTINFO, CAL_GET_EXT1};
const std::vector<int> s_evtReads = {EVT_GET_CALID, EVT_GET_EVTID, EVT_GET_EVTTYPE, EVT_GET_BGNTM, EVT_GET_ENDTM,
    EVT_GET_TMSTAMP, EVT_GET_TIPTYPE, EVT_GET_DAY, EVT_GET_MONTH, EVT_GET_WEEK, EVT_GET_LOOPTYPE, EVT_GET_SYNCHRONIZED,
    EVT_GET_REVISEDSTATE, EVT_GET_REMINDMINUTE, EVT_GET_SPONSORID, EVT_GET_CALOWNERUIN, EVT_GET_EVENTRIGHT,
    EVT_GET_WEEKNUM, EVT_GET_CALTYPE, EVT_GET_LOOPCALID, EVT_GET_LOOPEVENTID, EVT_GET_EVENTSTATUS, EVT_GET_ENDTYPE,
    EVT_GET_VALID, EVT_GET_LOCATION, EVT_GET_SUBJECT, EVT_GET_DETAIL, EVT_GET_CONTACTID, EVT_GET_CONTACTINFO,
    EVT_GET_EXT3, EVT_GET_CONTACTIDINVALID, EVT_GET_CONTACTIDDISPLAY, EVT_GET_CALTYPE};
// EvtType -56 goes out sign-extended; Day, RemindMinute and CalType stay unsigned;
// Synchronized -1 goes out as 65535; TipType (-11) and WeekNum (0xFFF0) pass one
// byte; Valid 5 is VARIANT_TRUE.
const Log s_evtWrites = {{EVT_PUT_CALID, "1"}, {EVT_PUT_EVTID, "2"}, {EVT_PUT_EVTTYPE, "-56"},
    {EVT_PUT_BGNTM, "1000"}, {EVT_PUT_ENDTM, "-2147483648"}, {EVT_PUT_TMSTAMP, "3000"}, {EVT_PUT_TIPTYPE, "245"},
    {EVT_PUT_DAY, "40000"}, {EVT_PUT_MONTH, "12"}, {EVT_PUT_WEEK, "3"}, {EVT_PUT_LOOPTYPE, "-2"},
    {EVT_PUT_SYNCHRONIZED, "65535"}, {EVT_PUT_REVISEDSTATE, "-4"}, {EVT_PUT_REMINDMINUTE, "65000"},
    {EVT_PUT_SPONSORID, "77"}, {EVT_PUT_CALOWNERUIN, "555"}, {EVT_PUT_EVENTRIGHT, "-3"}, {EVT_PUT_WEEKNUM, "240"},
    {EVT_PUT_CALTYPE, "65534"}, {EVT_PUT_LOOPCALID, "11"}, {EVT_PUT_LOOPEVENTID, "12"}, {EVT_PUT_ENDTYPE, "-6"},
    {EVT_PUT_EVENTSTATUS, "5"}, {EVT_PUT_VALID, "-1"}, {EVT_PUT_LOCATION, "Room 1"}, {EVT_PUT_SUBJECT, "Standup"},
    {EVT_PUT_DETAIL, "Daily"}, {EVT_SET_CONTACTS, "cid,cinfo,bad,shown"}};

// What the items answer: every read slot a distinct value, many of them past the
// width or the sign of their field. The event's CalType is read twice and answers in turn.
const Longs s_calLongs = {{CAL_GET_CALID, {7}}, {CAL_GET_CALTYPE, {0x1FE}}, {CAL_GET_TMSTAMP, {-16}},
    {CAL_GET_SHRLEVEL, {4}}, {CAL_GET_SPONSOR, {55, 66}}};
const Texts s_calTexts = {{CAL_GET_SUBJECT, "Team"}, {CAL_GET_DETAIL, "Weekly"}, {CAL_GET_CONTACTID, "c1"},
    {CAL_GET_CONTACTINFO, "ci"}, {CAL_GET_EXT1, "e1"}};
const Longs s_evtLongs = {{EVT_GET_CALID, {1}}, {EVT_GET_EVTID, {2}}, {EVT_GET_EVTTYPE, {200}},
    {EVT_GET_BGNTM, {1000}}, {EVT_GET_ENDTM, {LONG(0x80000000u)}}, {EVT_GET_TMSTAMP, {3000}}, {EVT_GET_TIPTYPE, {0xF5}},
    {EVT_GET_DAY, {40000}}, {EVT_GET_MONTH, {12}}, {EVT_GET_WEEK, {3}}, {EVT_GET_LOOPTYPE, {0x1FE}},
    {EVT_GET_SYNCHRONIZED, {0x1FF}}, {EVT_GET_REVISEDSTATE, {-4}}, {EVT_GET_REMINDMINUTE, {0x1FDE8}},
    {EVT_GET_SPONSORID, {77}}, {EVT_GET_CALOWNERUIN, {555}}, {EVT_GET_EVENTRIGHT, {-3}}, {EVT_GET_WEEKNUM, {0xF0}},
    {EVT_GET_CALTYPE, {3, 0xFFFE}}, {EVT_GET_LOOPCALID, {11}}, {EVT_GET_LOOPEVENTID, {12}},
    {EVT_GET_EVENTSTATUS, {5}}, {EVT_GET_ENDTYPE, {-6}}, {EVT_GET_VALID, {5}}};
const Texts s_evtTexts = {{EVT_GET_LOCATION, "Room 1"}, {EVT_GET_SUBJECT, "Standup"}, {EVT_GET_DETAIL, "Daily"},
    {EVT_GET_CONTACTID, "cid"}, {EVT_GET_CONTACTINFO, "cinfo"}, {EVT_GET_EXT3, "OL-1"},
    {EVT_GET_CONTACTIDINVALID, "bad"}, {EVT_GET_CONTACTIDDISPLAY, "shown"}};

void Fill(CFake& item, const Longs& longs, const Texts& texts)
{
    for (const auto& [nSlot, values] : longs) {
        item.SetLongs(nSlot, values);
    }
    for (const auto& [nSlot, strText] : texts) {
        item.SetText(nSlot, strText);
    }
}

// Each call as its slot and its arguments, the integers first, then the texts.
Log LogOf(const CFake& item)
{
    Log log;
    for (const CFakeCall& call : item.Calls()) {
        std::string strArgs;
        for (LONG lValue : call.values) {
            strArgs += std::to_string(lValue) + ",";
        }
        for (const WString& strText : call.texts) {
            strArgs += Narrow(strText) + ",";
        }
        log.emplace_back(call.nSlot, strArgs.substr(0, strArgs.size() - 1));
    }
    return log;
}

std::vector<int> SlotsOf(const Log& log, size_t nCount)
{
    std::vector<int> slots;
    for (size_t i = 0; i < nCount; ++i) {
        slots.push_back(log[i].first);
    }
    return slots;
}

// Record fields, each followed by the value it should hold.
void ExpectFields(std::initializer_list<long long> fieldsAndValues)
{
    const std::vector<long long> all(fieldsAndValues);
    for (size_t i = 0; i + 1 < all.size(); i += 2) {
        EXPECT_EQ(all[i + 1], all[i]) << "field " << i / 2;
    }
}

std::vector<std::string> Narrowed(std::initializer_list<const WCHAR*> fields)
{
    std::vector<std::string> texts;
    for (const WCHAR* psz : fields) {
        texts.push_back(Narrow(psz));
    }
    return texts;
}

// The record read from an event item answering as above, its Valid made 5.
std::unique_ptr<tagEventRecord> SampleEvent(DWORD dwCalOwnerUin)
{
    CFake item(EFakeKind::EventItem);
    Fill(item, s_evtLongs, s_evtTexts);
    auto pRec = std::make_unique<tagEventRecord>();
    EXPECT_EQ(1, EventItemToRecord(pRec.get(), item.As<IEventItem>()));
    pRec->dwCalOwnerUin = dwCalOwnerUin;
    pRec->cValid = 5;
    return pRec;
}

// The member conversions need a started store: its account and its kernel.
class StoreConversionTest : public CStoreTest {
protected:
    StoreConversionTest() : CStoreTest(&CVxCalStoreData::CreateInstance) {}
    void SetUp() override
    {
        Fill(m_calItem, s_calLongs, s_calTexts);
        Fill(m_evtItem, s_evtLongs, s_evtTexts);
        CStoreTest::SetUp();
        Start();
    }
    CVxCalStoreData* Store() { return static_cast<CVxCalStoreData*>(m_pData); }

    CFake& m_calItem = m_fakes.New(EFakeKind::CalendarItem);
    CFake& m_evtItem = m_fakes.New(EFakeKind::EventItem);
    tagCalendarRecord cal{};  // the records under test, zero-filled
    tagEventRecord evt{};
};

TEST_F(StoreConversionTest, CalItemToRecordReadsEverySlotInOrderAndStampsTheStoreAccount)
{
    cal.dwUIN = 999;  // whatever the caller had, the record belongs to the store's account
    EXPECT_EQ(1, Store()->CalItemToRecord(&cal, m_calItem.As<ICalendarItem>()));
    EXPECT_EQ(s_calReads, m_calItem.Slots());
    // CalType keeps the low 8 bits.
    ExpectFields({cal.dwUIN, 123, cal.dwCalID, 7, cal.cCalType, -2, cal.dwTimeStamp, 0xFFFFFFF0, cal.dwShrLevel, 4,
                  cal.dwSponsorID, 55, cal.dwFromCalID, 66});
    EXPECT_THAT(Narrowed({cal.szSubject, cal.szDetail, cal.szContactID, cal.szContactInfo, cal.szExt1}),
                ElementsAre("Team", "Weekly", "c1", "ci", "e1"));
    EXPECT_TRUE(m_host.account.Calls().empty()) << "the account number comes from the store, not the host";

    // A failing slot ends the read; what was read before it stays.
    tagCalendarRecord partial{};
    partial.dwShrLevel = 0xABCD;
    m_calItem.ClearLog();
    m_calItem.Fail(CAL_GET_SHRLEVEL, E_FAIL);
    EXPECT_EQ(0, Store()->CalItemToRecord(&partial, m_calItem.As<ICalendarItem>()));
    EXPECT_THAT(m_calItem.Slots(), ElementsAreArray(s_calReads.data(), 4));
    ExpectFields({partial.dwCalID, 7, partial.cCalType, -2, partial.dwTimeStamp, 0xFFFFFFF0, partial.dwShrLevel, 0xABCD});
    EXPECT_EQ("", Narrow(partial.szSubject));
}

TEST_F(StoreConversionTest, CalRecordToItemWritesEverySlotInOrderWithTheOwnerByType)
{
    ASSERT_EQ(1, Store()->CalItemToRecord(&cal, m_calItem.As<ICalendarItem>()));
    // The owner is the UIN for the personal types 0 and 1, the sponsor otherwise;
    // the type goes out sign-extended, the time stamp as the same 32 bits.
    for (const auto& [nCalType, strOwner] : Log{{0, "123"}, {1, "123"}, {2, "55"}, {5, "55"}, {-1, "55"}}) {
        SCOPED_TRACE(nCalType);
        CFake item(EFakeKind::CalendarItem);
        cal.cCalType = static_cast<signed char>(nCalType);
        EXPECT_EQ(1, CalRecordToItem(&cal, item.As<ICalendarItem>()));
        EXPECT_EQ((Log{{CAL_PUT_UIN, "123"}, {CAL_PUT_CALID, "7"}, {CAL_PUT_CALTYPE, std::to_string(nCalType)},
                       {CAL_PUT_TMSTAMP, "-16"}, {CAL_PUT_SHRLEVEL, "4"}, {CAL_SET_OWNER, strOwner + ",66"},
                       {CAL_PUT_SUBJECT, "Team"}, {CAL_PUT_DETAIL, "Weekly"}, {CAL_SET_CONTACT, "c1,ci"},
                       {CAL_PUT_EXT1, "e1"}}),
                  LogOf(item));
        EXPECT_TRUE(Settled(item));
    }
    CFake failing(EFakeKind::CalendarItem);
    failing.Fail(CAL_PUT_TMSTAMP, E_UNEXPECTED);
    EXPECT_EQ(0, CalRecordToItem(&cal, failing.As<ICalendarItem>()));
    EXPECT_THAT(failing.Slots(), ElementsAre(CAL_PUT_UIN, CAL_PUT_CALID, CAL_PUT_CALTYPE, CAL_PUT_TMSTAMP));
    EXPECT_TRUE(Settled(failing));

    // Null arguments touch nothing.
    EXPECT_EQ(0, CalRecordToItem(nullptr, m_calItem.As<ICalendarItem>()));
    EXPECT_EQ(0, CalRecordToItem(&cal, nullptr));
    EXPECT_EQ(0, EventItemToRecord(nullptr, m_evtItem.As<IEventItem>()));
    EXPECT_EQ(0, EventItemToRecord(&evt, nullptr));
    EXPECT_EQ(0, Store()->EventRecordToItem(nullptr, m_evtItem.As<IEventItem>()));
    EXPECT_EQ(0, Store()->EventRecordToItem(&evt, nullptr));
    EXPECT_TRUE(m_evtItem.Calls().empty());
    EXPECT_EQ(0u, evt.dwCalID);
}

TEST_F(StoreConversionTest, EventItemToRecordReadsEverySlotInOrderAndNarrowsEachValue)
{
    // Fields no slot carries keep what the caller had.
    evt.cMinute = 30;
    evt.dwYear = 2024;
    evt.wSwitchTimes = 2;
    EXPECT_EQ(1, EventItemToRecord(&evt, m_evtItem.As<IEventItem>()));
    EXPECT_EQ(s_evtReads, m_evtItem.Slots());
    // Bytes keep their low 8 bits, signed; WeekNum widens its byte with the sign;
    // the second read of CalType is kept; Valid 5 reads as 1.
    ExpectFields(
        {evt.dwCalID,       1,          evt.dwEvtID,       2,      evt.cEvtType,    -56,    evt.dwBgnTm,       1000,
         evt.dwEndTm,       0x80000000, evt.dwTimeStamp,   3000,   evt.cTipType,    -11,    evt.wDay,          40000,
         evt.cMonth,        12,         evt.cWeek,         3,      evt.cLoopType,   -2,     evt.cSynchronized, -1,
         evt.cRevisedState, -4,         evt.wRemindMinute, 65000,  evt.dwSponsorID, 77,     evt.dwCalOwnerUin, 555,
         evt.cEventRight,   -3,         evt.wWeekNum,      0xFFF0, evt.wCalType,    0xFFFE, evt.dwLoopCalID,   11,
         evt.dwLoopEventID, 12,         evt.cEventStatus,  5,      evt.cEndType,    -6,     evt.cValid,        1,
         evt.cMinute,       30,         evt.dwYear,        2024,   evt.wSwitchTimes, 2});
    EXPECT_THAT(Narrowed({evt.szLocation, evt.szSubject, evt.szDetail, evt.szContactID, evt.szContactInfo, evt.szExt3,
                          evt.szContactIDInvalid, evt.szContactIDDisplay}),
                ElementsAre("Room 1", "Standup", "Daily", "cid", "cinfo", "OL-1", "bad", "shown"));
    for (const LONG lValid : {0, 1, -1, 0x100}) {
        m_evtItem.SetLong(EVT_GET_VALID, lValid);
        EXPECT_EQ(1, EventItemToRecord(&evt, m_evtItem.As<IEventItem>()));
        EXPECT_EQ(lValid != 0 ? 1 : 0, evt.cValid) << lValid;
    }

    // A failing slot ends the read; what was read before it stays.
    tagEventRecord partial{};
    partial.wDay = 9;
    partial.cMonth = 8;
    m_evtItem.ClearLog();
    m_evtItem.Fail(EVT_GET_DAY, E_ACCESSDENIED);
    EXPECT_EQ(0, EventItemToRecord(&partial, m_evtItem.As<IEventItem>()));
    EXPECT_THAT(m_evtItem.Slots(), ElementsAreArray(s_evtReads.data(), 8));
    ExpectFields({partial.dwCalID, 1, partial.dwTimeStamp, 3000, partial.cTipType, -11, partial.wDay, 9, partial.cMonth,
                  8, partial.cValid, 0});
}

TEST_F(StoreConversionTest, TextsAreCutAtTheirBoundsNeverInsideAPairAndNullReadsAsEmpty)
{
    const std::string strPairLast = std::string(3070, 'd') + "\xF0\x9F\x98\x80";  // the pair would end past the bound
    Fill(m_calItem, {}, {{CAL_GET_SUBJECT, std::string(800, 's')}, {CAL_GET_DETAIL, strPairLast},
                         {CAL_GET_CONTACTID, std::string(3100, 'c')}, {CAL_GET_CONTACTINFO, std::string(600, 'i')},
                         {CAL_GET_EXT1, ""}});
    std::fill_n(cal.szExt1, 5, WCHAR('x'));
    EXPECT_EQ(1, Store()->CalItemToRecord(&cal, m_calItem.As<ICalendarItem>()));
    EXPECT_THAT(
        Narrowed({cal.szSubject, cal.szDetail, cal.szContactID, cal.szContactInfo, cal.szExt1}),
        ElementsAre(std::string(767, 's'), std::string(3070, 'd'), std::string(3071, 'c'), std::string(511, 'i'), ""));

    CFake item(EFakeKind::EventItem);  // the display text answers a null BSTR
    Fill(item, {},
         {{EVT_GET_LOCATION, std::string(800, 'l')},
          {EVT_GET_SUBJECT, std::string(766, 's') + "\xF0\x9F\x98\x80" + "t"},  // the pair would straddle the bound
          {EVT_GET_DETAIL, std::string(3100, 'd')},
          {EVT_GET_CONTACTID, std::string(1100, 'c')},
          {EVT_GET_CONTACTINFO, std::string(1100, 'i')},
          {EVT_GET_EXT3, std::string(800, 'x')},
          {EVT_GET_CONTACTIDINVALID, std::string(1023, 'v')}});  // exactly at the bound
    std::fill_n(evt.szContactIDDisplay, 5, WCHAR('x'));
    EXPECT_EQ(1, EventItemToRecord(&evt, item.As<IEventItem>()));
    EXPECT_THAT(
        Narrowed({evt.szLocation, evt.szSubject, evt.szDetail, evt.szContactID, evt.szContactInfo, evt.szExt3,
                  evt.szContactIDInvalid, evt.szContactIDDisplay}),
        ElementsAre(std::string(767, 'l'), std::string(766, 's'), std::string(3071, 'd'), std::string(1023, 'c'),
                    std::string(1023, 'i'), std::string(767, 'x'), std::string(1023, 'v'), ""));
    EXPECT_TRUE(Settled(item));
}

TEST_F(StoreConversionTest, EventRecordToItemWritesEverySlotInOrderWithWidenedValues)
{
    const auto pRec = SampleEvent(555);
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), m_evtItem.As<IEventItem>()));
    EXPECT_EQ(s_evtWrites, LogOf(m_evtItem));
    EXPECT_TRUE(m_host.kernel.Calls().empty()) << "an owner in the record needs no host call";

    CFake invalid(EFakeKind::EventItem);
    pRec->cValid = 0;
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), invalid.As<IEventItem>()));
    EXPECT_EQ(VARIANT_FALSE, invalid.Arg(EVT_PUT_VALID));
    EXPECT_TRUE(Settled(invalid));

    // A failing slot ends the writes.
    CFake failing(EFakeKind::EventItem);
    failing.Fail(EVT_PUT_DAY, E_INVALIDARG);
    EXPECT_EQ(0, Store()->EventRecordToItem(pRec.get(), failing.As<IEventItem>()));
    EXPECT_EQ(SlotsOf(s_evtWrites, 8), failing.Slots());
    EXPECT_TRUE(Settled(failing));
}

TEST_F(StoreConversionTest, EventRecordToItemAsksTheAccountForAMissingOwner)
{
    const auto pRec = SampleEvent(0);
    m_host.account.SetLong(ACCOUNT_UIN, 777);
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), m_evtItem.As<IEventItem>()));
    EXPECT_EQ(777, m_evtItem.Arg(EVT_PUT_CALOWNERUIN));

    // A zero UIN falls back to the AltUIN.
    m_host.account.SetLong(ACCOUNT_UIN, 0);
    m_host.account.SetLong(ACCOUNT_ALTUIN, 888);
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), m_evtItem.As<IEventItem>()));
    EXPECT_EQ(888, m_evtItem.Arg(EVT_PUT_CALOWNERUIN));

    // An owner not found ends the writes before it, as does a store without a kernel.
    CFake stopped(EFakeKind::EventItem);
    m_host.account.Fail(ACCOUNT_UIN, E_ACCESSDENIED);
    EXPECT_EQ(0, Store()->EventRecordToItem(pRec.get(), stopped.As<IEventItem>()));
    EXPECT_EQ(SlotsOf(s_evtWrites, 15), stopped.Slots());
    stopped.ClearLog();
    m_host.account.Fail(ACCOUNT_UIN, S_OK);
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, nullptr));
    EXPECT_EQ(0, Store()->EventRecordToItem(pRec.get(), stopped.As<IEventItem>()));
    EXPECT_EQ(SlotsOf(s_evtWrites, 15), stopped.Slots());
    EXPECT_TRUE(Settled(stopped));
}

}  // namespace
