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

#include "FakeHost.h"
#include "TestSupport.h"
#include "store/VxCalStoreData.h"

using namespace fakehost;
using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

using Longs = std::map<int, std::vector<LONG>>;
using Texts = std::vector<std::pair<int, std::string>>;

const std::vector<int> s_evtReads = {7,  9,  11, 13, 15, 17, 19, 21, 25, 23, 27, 33, 35, 40, 48, 68, 62,
                                     50, 52, 57, 59, 70, 54, 46, 44, 29, 31, 42, 43, 75, 65, 64, 52};
const std::vector<int> s_evtWrites = {8,  10, 12, 14, 16, 18, 20, 22, 26, 24, 28, 34, 36, 41,
                                      49, 69, 63, 51, 53, 58, 60, 55, 71, 47, 45, 30, 32, 66};

// What the items answer: every read slot a distinct value, many of them past the
// width or the sign of their field. Slot 52 is read twice and answers in turn.
const Longs s_calLongs = {{11, {7}}, {9, {0x1FE}}, {15, {-16}}, {13, {4}}, {39, {55, 66}}};
const Texts s_calTexts = {{17, "Team"}, {21, "Weekly"}, {32, "c1"}, {33, "ci"}, {19, "e1"}};
const Longs s_evtLongs = {{7, {1}},      {9, {2}},      {11, {200}},   {13, {1000}},      {15, {LONG(0x80000000u)}},
                          {17, {3000}},  {19, {0xF5}},  {21, {40000}}, {25, {12}},        {23, {3}},
                          {27, {0x1FE}}, {33, {0x1FF}}, {35, {-4}},    {40, {0x1FDE8}},   {48, {77}},
                          {68, {555}},   {62, {-3}},    {50, {0xF0}},  {52, {3, 0xFFFE}}, {57, {11}},
                          {59, {12}},    {70, {5}},     {54, {-6}},    {46, {5}}};
const Texts s_evtTexts = {{44, "Room 1"}, {29, "Standup"}, {31, "Daily"}, {42, "cid"},
                          {43, "cinfo"},  {75, "OL-1"},    {65, "bad"},   {64, "shown"}};

void Fill(CFake& item, const Longs& longs, const Texts& texts)
{
    for (const auto& [nSlot, values] : longs) {
        item.SetLongs(nSlot, values);
    }
    for (const auto& [nSlot, strText] : texts) {
        item.SetText(nSlot, strText);
    }
}

// Each call as "slot:arguments", the integers first, then the texts.
std::vector<std::string> Log(const CFake& item)
{
    std::vector<std::string> log;
    for (const CFakeCall& call : item.Calls()) {
        std::string strCall = std::to_string(call.nSlot) + ":";
        for (LONG lValue : call.values) {
            strCall += std::to_string(lValue) + ",";
        }
        for (const WString& strText : call.texts) {
            strCall += Narrow(strText) + ",";
        }
        log.push_back(strCall.substr(0, strCall.size() - 1));
    }
    return log;
}

// Record fields, each followed by the value it should hold.
void ExpectFields(std::initializer_list<long long> fieldsAndValues)
{
    const std::vector<long long> all(fieldsAndValues);
    EXPECT_EQ(0u, all.size() % 2) << "each field needs its value";
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

template <size_t N>
void SetField(WCHAR (&szField)[N], const std::string& strUtf8)
{
    WStrCopyN(szField, N, Wide(strUtf8).c_str());
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

// The harness itself: a call through any slot reaches the thunk of that slot.
TEST(StoreFakeHost, SlotsAnswerThroughTheInterfaceTypes)
{
    CFake item(EFakeKind::EventItem);
    item.SetLongs(52, {3, 7});
    LONG lFirst = 0, lSecond = 0;
    UINT cInfo = 0;
    EXPECT_EQ(S_OK, item.As<IEventItem>()->get_CalType(&lFirst));
    EXPECT_EQ(S_OK, item.As<IEventItem>()->get_CalType(&lSecond));
    EXPECT_EQ(std::make_pair(LONG(3), LONG(7)), std::make_pair(lFirst, lSecond));
    EXPECT_EQ(E_NOTIMPL, item.As<IEventItem>()->Reserved61());
    EXPECT_EQ(E_NOTIMPL, item.As<IDispatch>()->GetTypeInfoCount(&cInfo));
    EXPECT_THAT(item.UnexpectedSlots(), ElementsAre(61, 3));
    EXPECT_FALSE(Settled(item));

    CFake kernel(EFakeKind::Kernel);
    ICalendarAccount* pAccount = nullptr;
    IUnknown* pUnk = nullptr;
    EXPECT_EQ(S_OK, kernel.As<ICalendarKernel>()->get_Account(&pAccount));
    EXPECT_EQ(nullptr, pAccount);
    EXPECT_EQ(E_NOINTERFACE, kernel.Unknown()->QueryInterface(IID_IEventItem, reinterpret_cast<void**>(&pUnk)));
    EXPECT_EQ(S_OK, kernel.Unknown()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pUnk)));
    EXPECT_EQ(1u, pUnk->Release());
    EXPECT_THAT(kernel.Slots(), ElementsAre(13));
    EXPECT_TRUE(Settled(kernel));
}

// The member conversions need a started store: its account and its kernel. The
// items answer as above; m_evtItem also takes the writes of EventRecordToItem.
class StoreConversionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Fill(m_calItem, s_calLongs, s_calTexts);
        Fill(m_evtItem, s_evtLongs, s_evtTexts);
        ASSERT_EQ(S_OK,
                  CVxCalStoreData::CreateInstance(nullptr, IID_IVxCalStoreData, reinterpret_cast<void**>(&m_pData)));
        IExtendKernalSequence* pSeq = nullptr;
        ASSERT_EQ(S_OK, m_pData->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&pSeq)));
        EXPECT_EQ(S_OK, pSeq->StartSequence(m_host.Kernel()));
        EXPECT_EQ(S_OK, pSeq->EndStartupBatch());
        pSeq->Release();
        m_host.ClearLogs();
    }

    void TearDown() override
    {
        if (m_pData != nullptr) {
            EXPECT_EQ(0u, m_pData->Release());
        }
        EXPECT_TRUE(m_host.Settled());
        EXPECT_TRUE(Settled(m_evtItem));
        EXPECT_TRUE(Settled(m_calItem));
    }

    CVxCalStoreData* Store() { return static_cast<CVxCalStoreData*>(m_pData); }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    CFakeHost m_host{123};
    CFake m_calItem{EFakeKind::CalendarItem};
    CFake m_evtItem{EFakeKind::EventItem};
    IVxCalStoreData* m_pData = nullptr;
    tagCalendarRecord cal{};  // the records under test, zero-filled
    tagEventRecord evt{};
};

// ---------------------------------------------------------------------------
// Calendars

TEST_F(StoreConversionTest, CalItemToRecordReadsEverySlotInOrderAndStampsTheStoreAccount)
{
    cal.dwUIN = 999;  // whatever the caller had, the record belongs to the store's account
    EXPECT_EQ(1, Store()->CalItemToRecord(&cal, m_calItem.As<ICalendarItem>()));
    EXPECT_THAT(m_calItem.Slots(), ElementsAre(11, 9, 15, 13, 39, 17, 21, 32, 33, 19));
    // CalType keeps the low 8 bits.
    ExpectFields({cal.dwUIN, 123, cal.dwCalID, 7, cal.cCalType, -2, cal.dwTimeStamp, 0xFFFFFFF0, cal.dwShrLevel, 4,
                  cal.dwSponsorID, 55, cal.dwFromCalID, 66});
    EXPECT_THAT(Narrowed({cal.szSubject, cal.szDetail, cal.szContactID, cal.szContactInfo, cal.szExt1}),
                ElementsAre("Team", "Weekly", "c1", "ci", "e1"));
    EXPECT_TRUE(m_host.account.Calls().empty()) << "the account number comes from the store, not the host";
}

TEST_F(StoreConversionTest, CalItemToRecordFailingAtSlot13KeepsCalIdTypeAndTimeStamp)
{
    m_calItem.Fail(13, E_FAIL);
    cal.dwShrLevel = 0xABCD;
    SetField(cal.szSubject, "old");
    EXPECT_EQ(0, Store()->CalItemToRecord(&cal, m_calItem.As<ICalendarItem>()));
    EXPECT_THAT(m_calItem.Slots(), ElementsAre(11, 9, 15, 13));
    ExpectFields(
        {cal.dwUIN, 123, cal.dwCalID, 7, cal.cCalType, -2, cal.dwTimeStamp, 0xFFFFFFF0, cal.dwShrLevel, 0xABCD});
    EXPECT_EQ("old", Narrow(cal.szSubject));
}

TEST_F(StoreConversionTest, CalItemToRecordCutsTextsAtTheirBoundsAndReadsNullAsEmpty)
{
    Fill(m_calItem, {}, {{17, std::string(800, 's')}, {32, std::string(3100, 'c')}, {33, std::string(600, 'i')}});
    m_calItem.SetText(21, std::string(3070, 'd') + "\xF0\x9F\x98\x80");  // the pair would end past the bound
    m_calItem.SetTextW(19, WString());
    SetField(cal.szExt1, "stale");
    EXPECT_EQ(1, Store()->CalItemToRecord(&cal, m_calItem.As<ICalendarItem>()));
    EXPECT_THAT(
        Narrowed({cal.szSubject, cal.szDetail, cal.szContactID, cal.szContactInfo, cal.szExt1}),
        ElementsAre(std::string(767, 's'), std::string(3070, 'd'), std::string(3071, 'c'), std::string(511, 'i'), ""));

    CFake nullTexts(EFakeKind::CalendarItem);  // every text slot answers a null BSTR
    SetField(cal.szSubject, "stale");
    EXPECT_EQ(1, Store()->CalItemToRecord(&cal, nullTexts.As<ICalendarItem>()));
    EXPECT_EQ("", Narrow(cal.szSubject));
    EXPECT_TRUE(Settled(nullTexts));
}

TEST_F(StoreConversionTest, CalRecordToItemWritesEverySlotInOrderWithTheOwnerByType)
{
    ASSERT_EQ(1, Store()->CalItemToRecord(&cal, m_calItem.As<ICalendarItem>()));  // the record of the first test
    // The owner is the UIN for the personal types 0 and 1, the sponsor otherwise;
    // the type goes out sign-extended, the time stamp as the same 32 bits.
    const std::pair<int, std::string> cases[] = {{0, "123"}, {1, "123"}, {2, "55"}, {5, "55"}, {-1, "55"}};
    for (const auto& [nCalType, strOwner] : cases) {
        SCOPED_TRACE(nCalType);
        CFake item(EFakeKind::CalendarItem);
        cal.cCalType = static_cast<signed char>(nCalType);
        EXPECT_EQ(1, CalRecordToItem(&cal, item.As<ICalendarItem>()));
        EXPECT_THAT(Log(item), ElementsAre("8:123", "12:7", "10:" + std::to_string(nCalType), "16:-16", "14:4",
                                           "38:" + strOwner + ",66", "18:Team", "22:Weekly", "37:c1,ci", "20:e1"));
        EXPECT_TRUE(Settled(item));
    }
    CFake failing(EFakeKind::CalendarItem);
    failing.Fail(16, E_UNEXPECTED);
    EXPECT_EQ(0, CalRecordToItem(&cal, failing.As<ICalendarItem>()));
    EXPECT_THAT(failing.Slots(), ElementsAre(8, 12, 10, 16));
    EXPECT_TRUE(Settled(failing));
}

TEST_F(StoreConversionTest, NullArgumentsTouchNothing)
{
    evt.dwCalID = 99;
    EXPECT_EQ(0, CalRecordToItem(nullptr, m_calItem.As<ICalendarItem>()));
    EXPECT_EQ(0, CalRecordToItem(&cal, nullptr));
    EXPECT_EQ(0, EventItemToRecord(nullptr, m_evtItem.As<IEventItem>()));
    EXPECT_EQ(0, EventItemToRecord(&evt, nullptr));
    EXPECT_EQ(0, Store()->EventRecordToItem(nullptr, m_evtItem.As<IEventItem>()));
    EXPECT_EQ(0, Store()->EventRecordToItem(&evt, nullptr));
    EXPECT_TRUE(m_calItem.Calls().empty());
    EXPECT_TRUE(m_evtItem.Calls().empty());
    EXPECT_EQ(99u, evt.dwCalID);
}

// ---------------------------------------------------------------------------
// Events

TEST_F(StoreConversionTest, EventItemToRecordReadsEverySlotInOrderAndNarrowsEachValue)
{
    // Fields no slot carries keep what the caller had.
    evt.cMinute = 30;
    evt.cHour = 9;
    evt.wMonthNum = 4;
    evt.dwYear = 2024;
    evt.wSwitchTimes = 2;
    EXPECT_EQ(1, EventItemToRecord(&evt, m_evtItem.As<IEventItem>()));
    EXPECT_THAT(m_evtItem.Slots(), ElementsAreArray(s_evtReads));
    // Bytes keep their low 8 bits, signed; WeekNum widens its byte with the sign;
    // the second read of slot 52 is kept; Valid 5 reads as 1.
    ExpectFields(
        {evt.dwCalID,       1,          evt.dwEvtID,       2,      evt.cEvtType,    -56,    evt.dwBgnTm,       1000,
         evt.dwEndTm,       0x80000000, evt.dwTimeStamp,   3000,   evt.cTipType,    -11,    evt.wDay,          40000,
         evt.cMonth,        12,         evt.cWeek,         3,      evt.cLoopType,   -2,     evt.cSynchronized, -1,
         evt.cRevisedState, -4,         evt.wRemindMinute, 65000,  evt.dwSponsorID, 77,     evt.dwCalOwnerUin, 555,
         evt.cEventRight,   -3,         evt.wWeekNum,      0xFFF0, evt.wCalType,    0xFFFE, evt.dwLoopCalID,   11,
         evt.dwLoopEventID, 12,         evt.cEventStatus,  5,      evt.cEndType,    -6,     evt.cValid,        1,
         evt.cMinute,       30,         evt.cHour,         9,      evt.wMonthNum,   4,      evt.dwYear,        2024,
         evt.wSwitchTimes,  2});
    EXPECT_THAT(Narrowed({evt.szLocation, evt.szSubject, evt.szDetail, evt.szContactID, evt.szContactInfo, evt.szExt3,
                          evt.szContactIDInvalid, evt.szContactIDDisplay}),
                ElementsAre("Room 1", "Standup", "Daily", "cid", "cinfo", "OL-1", "bad", "shown"));
}

TEST_F(StoreConversionTest, EventItemToRecordReadsAnyNonZeroValidAsOne)
{
    for (const LONG lValid : {0, 1, 5, -1, 0x100}) {
        SCOPED_TRACE(lValid);
        m_evtItem.SetLong(46, lValid);
        EXPECT_EQ(1, EventItemToRecord(&evt, m_evtItem.As<IEventItem>()));
        EXPECT_EQ(lValid != 0 ? 1 : 0, evt.cValid);
    }
}

TEST_F(StoreConversionTest, EventItemToRecordCutsTextsAtTheirBoundsAndReadsNullAsEmpty)
{
    CFake item(EFakeKind::EventItem);  // slot 64 answers a null BSTR
    Fill(item, {},
         {{44, std::string(800, 'l')},
          {29, std::string(766, 's') + "\xF0\x9F\x98\x80" + "t"},  // the pair would straddle the bound
          {31, std::string(3100, 'd')},
          {42, std::string(1100, 'c')},
          {43, std::string(1100, 'i')},
          {75, std::string(800, 'x')},
          {65, std::string(1023, 'v')}});  // exactly at the bound
    SetField(evt.szContactIDDisplay, "stale");
    EXPECT_EQ(1, EventItemToRecord(&evt, item.As<IEventItem>()));
    EXPECT_THAT(
        Narrowed({evt.szLocation, evt.szSubject, evt.szDetail, evt.szContactID, evt.szContactInfo, evt.szExt3,
                  evt.szContactIDInvalid, evt.szContactIDDisplay}),
        ElementsAre(std::string(767, 'l'), std::string(766, 's'), std::string(3071, 'd'), std::string(1023, 'c'),
                    std::string(1023, 'i'), std::string(767, 'x'), std::string(1023, 'v'), ""));
    EXPECT_TRUE(Settled(item));
}

TEST_F(StoreConversionTest, EventItemToRecordFailingKeepsTheValuesReadBefore)
{
    m_evtItem.Fail(21, E_ACCESSDENIED);
    evt.wDay = 9;
    evt.cMonth = 8;
    EXPECT_EQ(0, EventItemToRecord(&evt, m_evtItem.As<IEventItem>()));
    EXPECT_THAT(m_evtItem.Slots(), ElementsAreArray(s_evtReads.data(), 8));
    ExpectFields({evt.dwCalID, 1, evt.dwTimeStamp, 3000, evt.cTipType, -11, evt.wDay, 9, evt.cMonth, 8, evt.cValid, 0});
}

TEST_F(StoreConversionTest, EventRecordToItemWritesEverySlotInOrderWithWidenedValues)
{
    const auto pRec = SampleEvent(555);
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), m_evtItem.As<IEventItem>()));
    // EvtType -56 goes out sign-extended; Day, RemindMinute and CalType stay
    // unsigned; Synchronized -1 goes out as 65535; TipType (-11) and WeekNum
    // (0xFFF0) pass one byte; Valid 5 is VARIANT_TRUE.
    EXPECT_THAT(Log(m_evtItem),
                ElementsAre("8:1", "10:2", "12:-56", "14:1000", "16:-2147483648", "18:3000", "20:245", "22:40000",
                            "26:12", "24:3", "28:-2", "34:65535", "36:-4", "41:65000", "49:77", "69:555", "63:-3",
                            "51:240", "53:65534", "58:11", "60:12", "55:-6", "71:5", "47:-1", "45:Room 1", "30:Standup",
                            "32:Daily", "66:cid,cinfo,bad,shown"));
    EXPECT_TRUE(m_host.kernel.Calls().empty()) << "an owner in the record needs no host call";

    CFake invalid(EFakeKind::EventItem);
    pRec->cValid = 0;
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), invalid.As<IEventItem>()));
    EXPECT_EQ(VARIANT_FALSE, invalid.Arg(47));
    EXPECT_TRUE(Settled(invalid));
}

TEST_F(StoreConversionTest, EventRecordToItemAsksTheAccountForAMissingOwner)
{
    const auto pRec = SampleEvent(0);
    m_host.account.SetLong(10, 777);
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), m_evtItem.As<IEventItem>()));
    EXPECT_EQ(777, m_evtItem.Arg(69));
    EXPECT_THAT(m_host.kernel.Slots(), ElementsAre(13));
    EXPECT_THAT(m_host.account.Slots(), ElementsAre(10));

    // A zero UIN falls back to the AltUIN, with a fresh account object for each question.
    m_host.ClearLogs();
    m_host.account.SetLong(10, 0);
    m_host.account.SetLong(12, 888);
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), m_evtItem.As<IEventItem>()));
    EXPECT_EQ(888, m_evtItem.Arg(69));
    EXPECT_THAT(m_host.kernel.Slots(), ElementsAre(13, 13));
    EXPECT_THAT(m_host.account.Slots(), ElementsAre(10, 12));
}

TEST_F(StoreConversionTest, EventRecordToItemEndsAtAFailingSlotOrAnOwnerNotFound)
{
    m_evtItem.Fail(22, E_INVALIDARG);
    EXPECT_EQ(0, Store()->EventRecordToItem(SampleEvent(555).get(), m_evtItem.As<IEventItem>()));
    EXPECT_THAT(m_evtItem.Slots(), ElementsAreArray(s_evtWrites.data(), 8));

    CFake stopped(EFakeKind::EventItem);
    m_host.account.Fail(10, E_ACCESSDENIED);
    EXPECT_EQ(0, Store()->EventRecordToItem(SampleEvent(0).get(), stopped.As<IEventItem>()));
    EXPECT_THAT(stopped.Slots(), ElementsAreArray(s_evtWrites.data(), 15));

    // Initialize without a dispatch pointer drops the kernel.
    stopped.ClearLog();
    m_host.account.Fail(10, S_OK);
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, nullptr));
    EXPECT_EQ(0, Store()->EventRecordToItem(SampleEvent(0).get(), stopped.As<IEventItem>()));
    EXPECT_THAT(stopped.Slots(), ElementsAreArray(s_evtWrites.data(), 15));
    EXPECT_TRUE(Settled(stopped));
}

}  // namespace
