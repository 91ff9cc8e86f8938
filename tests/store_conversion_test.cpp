// The binary contract of the four conversions between host items and records:
// which slots are called, in which order, with which values, and what a record
// holds when a slot fails half-way.
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
using ::testing::ElementsAreArray;

namespace {

const std::vector<int> s_calWrites = {8, 12, 10, 16, 14, 38, 18, 22, 37, 20};
const std::vector<int> s_calReads = {11, 9, 15, 13, 39, 17, 21, 32, 33, 19};
const std::vector<int> s_evtReads = {7,  9,  11, 13, 15, 17, 19, 21, 25, 23, 27, 33, 35, 40, 48, 68, 62,
                                     50, 52, 57, 59, 70, 54, 46, 44, 29, 31, 42, 43, 75, 65, 64, 52};
const std::vector<int> s_evtWrites = {8,  10, 12, 14, 16, 18, 20, 22, 26, 24, 28, 34, 36, 41,
                                      49, 69, 63, 51, 53, 58, 60, 55, 71, 47, 45, 30, 32, 66};

template <size_t N>
void SetField(WCHAR (&szField)[N], const std::string& strUtf8)
{
    WStrCopyN(szField, N, Wide(strUtf8).c_str());
}

std::vector<int> Prefix(const std::vector<int>& slots, size_t n)
{
    return {slots.begin(), slots.begin() + n};
}

std::unique_ptr<tagCalendarRecord> SampleCalendar()
{
    std::unique_ptr<tagCalendarRecord> pRec(new tagCalendarRecord());
    pRec->dwUIN = 123;
    pRec->dwCalID = 7;
    pRec->cCalType = 1;
    pRec->dwShrLevel = 3;
    pRec->dwTimeStamp = 0xFFFFFFF0;
    SetField(pRec->szSubject, "Team");
    SetField(pRec->szDetail, "Weekly");
    SetField(pRec->szContactID, "c1");
    SetField(pRec->szContactInfo, "ci");
    pRec->dwSponsorID = 55;
    pRec->dwFromCalID = 66;
    SetField(pRec->szExt1, "e1");
    return pRec;
}

// An event item answering every read slot with a distinct value.
void FillEventItem(CFake& item)
{
    item.SetLong(7, 1);
    item.SetLong(9, 2);
    item.SetLong(11, 200);
    item.SetLong(13, 1000);
    item.SetLong(15, 2000);
    item.SetLong(17, 3000);
    item.SetLong(19, 0xF5);
    item.SetLong(21, 40000);
    item.SetLong(25, 12);
    item.SetLong(23, 3);
    item.SetLong(27, 0x102);
    item.SetLong(33, 0x1FF);
    item.SetLong(35, 4);
    item.SetLong(40, 70000);
    item.SetLong(48, 77);
    item.SetLong(68, 555);
    item.SetLong(62, -3);
    item.SetLong(50, 0xF0);
    item.SetLongs(52, {3, 7});
    item.SetLong(57, 11);
    item.SetLong(59, 12);
    item.SetLong(70, 5);
    item.SetLong(54, 6);
    item.SetLong(46, 5);
    item.SetText(44, "Room 1");
    item.SetText(29, "Standup");
    item.SetText(31, "Daily");
    item.SetText(42, "cid");
    item.SetText(43, "cinfo");
    item.SetText(75, "OL-1");
    item.SetText(65, "bad");
    item.SetText(64, "shown");
}

// The harness itself: a call through any slot reaches the thunk of that slot.
TEST(StoreFakeHost, SlotsAnswerThroughTheInterfaceTypes)
{
    CFake item(EFakeKind::EventItem);
    item.SetLongs(52, {3, 7});
    LONG lValue = 0;
    EXPECT_EQ(S_OK, item.As<IEventItem>()->get_CalType(&lValue));
    EXPECT_EQ(3, lValue);
    EXPECT_EQ(S_OK, item.As<IEventItem>()->get_CalType(&lValue));
    EXPECT_EQ(7, lValue);
    EXPECT_EQ(E_NOTIMPL, item.As<IEventItem>()->Reserved61());
    UINT cInfo = 0;
    EXPECT_EQ(E_NOTIMPL, item.As<IDispatch>()->GetTypeInfoCount(&cInfo));
    EXPECT_THAT(item.UnexpectedSlots(), ElementsAre(61, 3));
    EXPECT_FALSE(Settled(item));

    CFake kernel(EFakeKind::Kernel);
    ICalendarAccount* pAccount = nullptr;
    EXPECT_EQ(S_OK, kernel.As<ICalendarKernel>()->get_Account(&pAccount));
    EXPECT_EQ(nullptr, pAccount);
    IUnknown* pUnk = nullptr;
    EXPECT_EQ(E_NOINTERFACE, kernel.Unknown()->QueryInterface(IID_IEventItem, reinterpret_cast<void**>(&pUnk)));
    EXPECT_EQ(S_OK, kernel.Unknown()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pUnk)));
    EXPECT_EQ(2u, kernel.RefCount());
    EXPECT_EQ(1u, pUnk->Release());
    EXPECT_THAT(kernel.Slots(), ElementsAre(13));
    EXPECT_TRUE(Settled(kernel));
}

// ---------------------------------------------------------------------------
// Record to calendar item

TEST(StoreCalRecordToItem, WritesEverySlotInOrderWithTheRecordValues)
{
    CFake item(EFakeKind::CalendarItem);
    const auto pRec = SampleCalendar();
    EXPECT_EQ(1, CalRecordToItem(pRec.get(), item.As<ICalendarItem>()));
    EXPECT_THAT(item.Slots(), ElementsAreArray(s_calWrites));
    EXPECT_EQ(123, item.Arg(8));
    EXPECT_EQ(7, item.Arg(12));
    EXPECT_EQ(1, item.Arg(10));
    EXPECT_EQ(-16, item.Arg(16));
    EXPECT_EQ(3, item.Arg(14));
    EXPECT_EQ(123, item.Arg(38, 0));
    EXPECT_EQ(66, item.Arg(38, 1));
    EXPECT_EQ("Team", item.TextArg(18));
    EXPECT_EQ("Weekly", item.TextArg(22));
    EXPECT_EQ("c1", item.TextArg(37, 0));
    EXPECT_EQ("ci", item.TextArg(37, 1));
    EXPECT_EQ("e1", item.TextArg(20));
    EXPECT_TRUE(Settled(item));
}

TEST(StoreCalRecordToItem, OwnerIsTheUinForPersonalTypesAndTheSponsorOtherwise)
{
    const struct {
        signed char cCalType;
        LONG lOwner;
    } cases[] = {{0, 123}, {1, 123}, {2, 55}, {5, 55}, {-1, 55}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.cCalType));
        CFake item(EFakeKind::CalendarItem);
        auto pRec = SampleCalendar();
        pRec->cCalType = c.cCalType;
        EXPECT_EQ(1, CalRecordToItem(pRec.get(), item.As<ICalendarItem>()));
        EXPECT_EQ(c.lOwner, item.Arg(38, 0));
        EXPECT_EQ(LONG(c.cCalType), item.Arg(10));  // sign-extended
        EXPECT_TRUE(Settled(item));
    }
}

TEST(StoreCalRecordToItem, AFailingSlotEndsTheConversion)
{
    CFake item(EFakeKind::CalendarItem);
    item.Fail(16, E_UNEXPECTED);
    EXPECT_EQ(0, CalRecordToItem(SampleCalendar().get(), item.As<ICalendarItem>()));
    EXPECT_THAT(item.Slots(), ElementsAre(8, 12, 10, 16));
    EXPECT_TRUE(Settled(item));
}

TEST(StoreItemConversion, NullArgumentsTouchNothing)
{
    CFake calItem(EFakeKind::CalendarItem);
    CFake evtItem(EFakeKind::EventItem);
    std::unique_ptr<tagEventRecord> pEvt(new tagEventRecord());
    pEvt->dwCalID = 99;
    EXPECT_EQ(0, CalRecordToItem(nullptr, calItem.As<ICalendarItem>()));
    EXPECT_EQ(0, CalRecordToItem(SampleCalendar().get(), nullptr));
    EXPECT_EQ(0, EventItemToRecord(nullptr, evtItem.As<IEventItem>()));
    EXPECT_EQ(0, EventItemToRecord(pEvt.get(), nullptr));
    EXPECT_TRUE(calItem.Calls().empty());
    EXPECT_TRUE(evtItem.Calls().empty());
    EXPECT_EQ(99u, pEvt->dwCalID);
}

// ---------------------------------------------------------------------------
// Event item to record

TEST(StoreEventItemToRecord, ReadsEverySlotInOrderAndNarrowsEachValue)
{
    CFake item(EFakeKind::EventItem);
    FillEventItem(item);
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    // Fields no slot carries keep what the caller had.
    pRec->cMinute = 30;
    pRec->cHour = 9;
    pRec->wMonthNum = 4;
    pRec->dwYear = 2024;
    pRec->wSwitchTimes = 2;

    EXPECT_EQ(1, EventItemToRecord(pRec.get(), item.As<IEventItem>()));
    EXPECT_THAT(item.Slots(), ElementsAreArray(s_evtReads));
    EXPECT_EQ(1u, pRec->dwCalID);
    EXPECT_EQ(2u, pRec->dwEvtID);
    EXPECT_EQ(-56, pRec->cEvtType);
    EXPECT_EQ(1000u, pRec->dwBgnTm);
    EXPECT_EQ(2000u, pRec->dwEndTm);
    EXPECT_EQ(3000u, pRec->dwTimeStamp);
    EXPECT_EQ(-11, pRec->cTipType);
    EXPECT_EQ(40000, pRec->wDay);
    EXPECT_EQ(12, pRec->cMonth);
    EXPECT_EQ(3, pRec->cWeek);
    EXPECT_EQ(2, pRec->cLoopType);
    EXPECT_EQ(-1, pRec->cSynchronized);
    EXPECT_EQ(4, pRec->cRevisedState);
    EXPECT_EQ(70000 & 0xFFFF, pRec->wRemindMinute);
    EXPECT_EQ(77u, pRec->dwSponsorID);
    EXPECT_EQ(555u, pRec->dwCalOwnerUin);
    EXPECT_EQ(-3, pRec->cEventRight);
    EXPECT_EQ(0xFFF0, pRec->wWeekNum);  // the byte is widened with its sign
    EXPECT_EQ(7, pRec->wCalType);       // the second read of slot 52 is kept
    EXPECT_EQ(11u, pRec->dwLoopCalID);
    EXPECT_EQ(12u, pRec->dwLoopEventID);
    EXPECT_EQ(5, pRec->cEventStatus);
    EXPECT_EQ(6, pRec->cEndType);
    EXPECT_EQ(1, pRec->cValid);
    EXPECT_EQ("Room 1", Narrow(pRec->szLocation));
    EXPECT_EQ("Standup", Narrow(pRec->szSubject));
    EXPECT_EQ("Daily", Narrow(pRec->szDetail));
    EXPECT_EQ("cid", Narrow(pRec->szContactID));
    EXPECT_EQ("cinfo", Narrow(pRec->szContactInfo));
    EXPECT_EQ("OL-1", Narrow(pRec->szExt3));
    EXPECT_EQ("bad", Narrow(pRec->szContactIDInvalid));
    EXPECT_EQ("shown", Narrow(pRec->szContactIDDisplay));
    EXPECT_EQ(30, pRec->cMinute);
    EXPECT_EQ(9, pRec->cHour);
    EXPECT_EQ(4, pRec->wMonthNum);
    EXPECT_EQ(2024u, pRec->dwYear);
    EXPECT_EQ(2, pRec->wSwitchTimes);
    EXPECT_TRUE(Settled(item));
}

TEST(StoreEventItemToRecord, AnyNonZeroValidReadsAsOne)
{
    const struct {
        LONG lItem;
        signed char cRecord;
    } cases[] = {{0, 0}, {1, 1}, {5, 1}, {-1, 1}, {0x100, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lItem);
        CFake item(EFakeKind::EventItem);
        item.SetLong(46, c.lItem);
        std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
        EXPECT_EQ(1, EventItemToRecord(pRec.get(), item.As<IEventItem>()));
        EXPECT_EQ(c.cRecord, pRec->cValid);
        EXPECT_TRUE(Settled(item));
    }
}

TEST(StoreEventItemToRecord, TextsAreCutAtTheirBoundsAndNullReadsEmpty)
{
    CFake item(EFakeKind::EventItem);
    item.SetText(44, std::string(800, 'l'));
    item.SetText(29, std::string(766, 's') + "\xF0\x9F\x98\x80" + "t");  // the pair would straddle the bound
    item.SetText(31, std::string(3100, 'd'));
    item.SetText(42, std::string(1100, 'c'));
    item.SetText(43, std::string(1100, 'i'));
    item.SetText(75, std::string(800, 'x'));
    item.SetText(65, std::string(1023, 'v'));  // exactly at the bound
    // Slot 64 answers a null BSTR.
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    SetField(pRec->szContactIDDisplay, "stale");

    EXPECT_EQ(1, EventItemToRecord(pRec.get(), item.As<IEventItem>()));
    EXPECT_EQ(std::string(767, 'l'), Narrow(pRec->szLocation));
    EXPECT_EQ(std::string(766, 's'), Narrow(pRec->szSubject));
    EXPECT_EQ(std::string(3071, 'd'), Narrow(pRec->szDetail));
    EXPECT_EQ(std::string(1023, 'c'), Narrow(pRec->szContactID));
    EXPECT_EQ(std::string(1023, 'i'), Narrow(pRec->szContactInfo));
    EXPECT_EQ(std::string(767, 'x'), Narrow(pRec->szExt3));
    EXPECT_EQ(std::string(1023, 'v'), Narrow(pRec->szContactIDInvalid));
    EXPECT_EQ("", Narrow(pRec->szContactIDDisplay));
    EXPECT_TRUE(Settled(item));
}

TEST(StoreEventItemToRecord, AFailingSlotKeepsTheValuesReadBeforeIt)
{
    CFake item(EFakeKind::EventItem);
    FillEventItem(item);
    item.Fail(21, E_ACCESSDENIED);
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    pRec->wDay = 9;
    pRec->cMonth = 8;
    EXPECT_EQ(0, EventItemToRecord(pRec.get(), item.As<IEventItem>()));
    EXPECT_THAT(item.Slots(), ElementsAreArray(Prefix(s_evtReads, 8)));
    EXPECT_EQ(1u, pRec->dwCalID);
    EXPECT_EQ(3000u, pRec->dwTimeStamp);
    EXPECT_EQ(-11, pRec->cTipType);
    EXPECT_EQ(9, pRec->wDay);
    EXPECT_EQ(8, pRec->cMonth);
    EXPECT_EQ(0, pRec->cValid);
    EXPECT_TRUE(Settled(item));
}

// ---------------------------------------------------------------------------
// The two member conversions need a started store: its account and its kernel.

class StoreConversionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
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
        EXPECT_TRUE(Settled(m_item));
    }

    CVxCalStoreData* Store() { return static_cast<CVxCalStoreData*>(m_pData); }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    CFakeHost m_host{123};
    CFake m_item{EFakeKind::EventItem};
    IVxCalStoreData* m_pData = nullptr;
};

class StoreCalItemConversionTest : public StoreConversionTest {
protected:
    StoreCalItemConversionTest()
    {
        m_cal.SetLong(11, 7);
        m_cal.SetLong(9, 0x1FE);
        m_cal.SetLong(15, 3000);
        m_cal.SetLong(13, 4);
        m_cal.SetLongs(39, {55, 66});
        m_cal.SetText(17, "Team");
        m_cal.SetText(21, "Weekly");
        m_cal.SetText(32, "c1");
        m_cal.SetText(33, "ci");
        m_cal.SetText(19, "e1");
    }
    void TearDown() override
    {
        StoreConversionTest::TearDown();
        EXPECT_TRUE(Settled(m_cal));
    }

    CFake m_cal{EFakeKind::CalendarItem};
};

TEST_F(StoreCalItemConversionTest, ReadsEverySlotInOrderAndStampsTheStoreAccount)
{
    std::unique_ptr<tagCalendarRecord> pRec(new tagCalendarRecord());
    pRec->dwUIN = 999;  // whatever the caller had, the record belongs to the store's account
    EXPECT_EQ(1, Store()->CalItemToRecord(pRec.get(), m_cal.As<ICalendarItem>()));
    EXPECT_THAT(m_cal.Slots(), ElementsAreArray(s_calReads));
    EXPECT_EQ(123u, pRec->dwUIN);
    EXPECT_EQ(7u, pRec->dwCalID);
    EXPECT_EQ(-2, pRec->cCalType);  // the low 8 bits
    EXPECT_EQ(3000u, pRec->dwTimeStamp);
    EXPECT_EQ(4u, pRec->dwShrLevel);
    EXPECT_EQ(55u, pRec->dwSponsorID);
    EXPECT_EQ(66u, pRec->dwFromCalID);
    EXPECT_EQ("Team", Narrow(pRec->szSubject));
    EXPECT_EQ("Weekly", Narrow(pRec->szDetail));
    EXPECT_EQ("c1", Narrow(pRec->szContactID));
    EXPECT_EQ("ci", Narrow(pRec->szContactInfo));
    EXPECT_EQ("e1", Narrow(pRec->szExt1));
    EXPECT_TRUE(m_host.account.Calls().empty()) << "the account number comes from the store, not the host";
}

TEST_F(StoreCalItemConversionTest, AFailureOfSlot13KeepsCalIdTypeAndTimeStamp)
{
    m_cal.Fail(13, E_FAIL);
    std::unique_ptr<tagCalendarRecord> pRec(new tagCalendarRecord());
    pRec->dwShrLevel = 0xABCD;
    SetField(pRec->szSubject, "old");
    EXPECT_EQ(0, Store()->CalItemToRecord(pRec.get(), m_cal.As<ICalendarItem>()));
    EXPECT_THAT(m_cal.Slots(), ElementsAre(11, 9, 15, 13));
    EXPECT_EQ(123u, pRec->dwUIN);
    EXPECT_EQ(7u, pRec->dwCalID);
    EXPECT_EQ(-2, pRec->cCalType);
    EXPECT_EQ(3000u, pRec->dwTimeStamp);
    EXPECT_EQ(0xABCDu, pRec->dwShrLevel);
    EXPECT_EQ("old", Narrow(pRec->szSubject));
}

TEST_F(StoreCalItemConversionTest, TextsAreCutAtTheirBoundsAndNullReadsEmpty)
{
    m_cal.SetText(17, std::string(800, 's'));
    m_cal.SetText(21, std::string(3070, 'd') + "\xF0\x9F\x98\x80");  // the pair would end past the bound
    m_cal.SetText(32, std::string(3100, 'c'));
    m_cal.SetText(33, std::string(600, 'i'));
    m_cal.SetTextW(19, WString());
    std::unique_ptr<tagCalendarRecord> pRec(new tagCalendarRecord());
    SetField(pRec->szExt1, "stale");
    EXPECT_EQ(1, Store()->CalItemToRecord(pRec.get(), m_cal.As<ICalendarItem>()));
    EXPECT_EQ(std::string(767, 's'), Narrow(pRec->szSubject));
    EXPECT_EQ(std::string(3070, 'd'), Narrow(pRec->szDetail));
    EXPECT_EQ(std::string(3071, 'c'), Narrow(pRec->szContactID));
    EXPECT_EQ(std::string(511, 'i'), Narrow(pRec->szContactInfo));
    EXPECT_EQ("", Narrow(pRec->szExt1));

    CFake nullTexts(EFakeKind::CalendarItem);  // every text slot answers a null BSTR
    SetField(pRec->szSubject, "stale");
    EXPECT_EQ(1, Store()->CalItemToRecord(pRec.get(), nullTexts.As<ICalendarItem>()));
    EXPECT_EQ("", Narrow(pRec->szSubject));
    EXPECT_TRUE(Settled(nullTexts));
}

// An event record with every field set and values at the edges of their widths.
std::unique_ptr<tagEventRecord> SampleEvent(DWORD dwCalOwnerUin)
{
    std::unique_ptr<tagEventRecord> pRec(new tagEventRecord());
    pRec->dwCalID = 1;
    pRec->dwEvtID = 2;
    pRec->cEvtType = static_cast<signed char>(200);
    pRec->dwBgnTm = 1000;
    pRec->dwEndTm = 0x80000000;
    pRec->dwTimeStamp = 3000;
    pRec->cTipType = -11;
    pRec->wDay = 40000;
    pRec->cMonth = 12;
    pRec->cWeek = 3;
    pRec->cLoopType = -2;
    pRec->cSynchronized = -1;
    pRec->cRevisedState = -4;
    pRec->wRemindMinute = 65000;
    pRec->dwSponsorID = 77;
    pRec->dwCalOwnerUin = dwCalOwnerUin;
    pRec->cEventRight = -3;
    pRec->wWeekNum = 0x12F4;
    pRec->wCalType = 0xFFFE;
    pRec->dwLoopCalID = 11;
    pRec->dwLoopEventID = 12;
    pRec->cEndType = -6;
    pRec->cEventStatus = 5;
    pRec->cValid = 5;
    SetField(pRec->szLocation, "Room 1");
    SetField(pRec->szSubject, "Standup");
    SetField(pRec->szDetail, "Daily");
    SetField(pRec->szContactID, "cid");
    SetField(pRec->szContactInfo, "cinfo");
    SetField(pRec->szContactIDInvalid, "bad");
    SetField(pRec->szContactIDDisplay, "shown");
    SetField(pRec->szExt3, "OL-1");
    return pRec;
}

TEST_F(StoreConversionTest, EventRecordToItemWritesEverySlotInOrderWithWidenedValues)
{
    const auto pRec = SampleEvent(555);
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), m_item.As<IEventItem>()));
    EXPECT_THAT(m_item.Slots(), ElementsAreArray(s_evtWrites));
    // EvtType 200 is -56 as a signed byte; Day stays unsigned; Synchronized -1 goes
    // out as 65535; TipType and WeekNum pass one byte; Valid 5 is VARIANT_TRUE.
    const std::pair<int, LONG> expected[] = {
        {8, 1},     {10, 2},     {12, -56},   {14, 1000},        {16, LONG(0x80000000u)},
        {18, 3000}, {20, 0xF5},  {22, 40000}, {26, 12},          {24, 3},
        {28, -2},   {34, 65535}, {36, -4},    {41, 65000},       {49, 77},
        {69, 555},  {63, -3},    {51, 0xF4},  {53, 65534},       {58, 11},
        {60, 12},   {55, -6},    {71, 5},     {47, VARIANT_TRUE}};
    for (const auto& slotValue : expected) {
        EXPECT_EQ(slotValue.second, m_item.Arg(slotValue.first)) << "slot " << slotValue.first;
    }
    EXPECT_EQ("Room 1", m_item.TextArg(45));
    EXPECT_EQ("Standup", m_item.TextArg(30));
    EXPECT_EQ("Daily", m_item.TextArg(32));
    EXPECT_EQ("cid", m_item.TextArg(66, 0));
    EXPECT_EQ("cinfo", m_item.TextArg(66, 1));
    EXPECT_EQ("bad", m_item.TextArg(66, 2));
    EXPECT_EQ("shown", m_item.TextArg(66, 3));
    EXPECT_TRUE(m_host.kernel.Calls().empty()) << "an owner in the record needs no host call";

    CFake invalid(EFakeKind::EventItem);
    const auto pZero = SampleEvent(555);
    pZero->cValid = 0;
    EXPECT_EQ(1, Store()->EventRecordToItem(pZero.get(), invalid.As<IEventItem>()));
    EXPECT_EQ(VARIANT_FALSE, invalid.Arg(47));
    EXPECT_TRUE(Settled(invalid));
}

TEST_F(StoreConversionTest, EventRecordToItemAsksTheAccountForAMissingOwner)
{
    m_host.account.SetLong(10, 777);
    const auto pRec = SampleEvent(0);
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), m_item.As<IEventItem>()));
    EXPECT_EQ(777, m_item.Arg(69));
    EXPECT_EQ(0u, pRec->dwCalOwnerUin);
    EXPECT_THAT(m_host.kernel.Slots(), ElementsAre(13));
    EXPECT_THAT(m_host.account.Slots(), ElementsAre(10));
}

TEST_F(StoreConversionTest, EventRecordToItemFallsBackToTheAltUinWhenTheUinIsZero)
{
    m_host.account.SetLong(10, 0);
    m_host.account.SetLong(12, 888);
    const auto pRec = SampleEvent(0);
    EXPECT_EQ(1, Store()->EventRecordToItem(pRec.get(), m_item.As<IEventItem>()));
    EXPECT_EQ(888, m_item.Arg(69));
    EXPECT_EQ(0u, pRec->dwCalOwnerUin);
    // A fresh account object for each question.
    EXPECT_THAT(m_host.kernel.Slots(), ElementsAre(13, 13));
    EXPECT_THAT(m_host.account.Slots(), ElementsAre(10, 12));
}

TEST_F(StoreConversionTest, EventRecordToItemStopsAtTheOwnerWhenTheAccountFails)
{
    m_host.account.Fail(10, E_ACCESSDENIED);
    EXPECT_EQ(0, Store()->EventRecordToItem(SampleEvent(0).get(), m_item.As<IEventItem>()));
    EXPECT_THAT(m_item.Slots(), ElementsAreArray(Prefix(s_evtWrites, 15)));
}

TEST_F(StoreConversionTest, EventRecordToItemWithoutAKernelStopsAtTheOwner)
{
    // Initialize without a dispatch pointer drops the kernel.
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, nullptr));
    EXPECT_EQ(0, Store()->EventRecordToItem(SampleEvent(0).get(), m_item.As<IEventItem>()));
    EXPECT_THAT(m_item.Slots(), ElementsAreArray(Prefix(s_evtWrites, 15)));
}

TEST_F(StoreConversionTest, EventRecordToItemEndsAtAFailingSlot)
{
    m_item.Fail(22, E_INVALIDARG);
    EXPECT_EQ(0, Store()->EventRecordToItem(SampleEvent(555).get(), m_item.As<IEventItem>()));
    EXPECT_THAT(m_item.Slots(), ElementsAreArray(Prefix(s_evtWrites, 8)));
    EXPECT_EQ(0, Store()->EventRecordToItem(nullptr, m_item.As<IEventItem>()));
    EXPECT_EQ(0, Store()->EventRecordToItem(SampleEvent(555).get(), nullptr));
    EXPECT_EQ(8u, m_item.Calls().size());
}

}  // namespace
