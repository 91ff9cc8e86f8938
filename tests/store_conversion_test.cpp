// The binary contract of the four conversions between host items and records:
// which slots are called, in which order, with which values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "StoreFixture.h"
#include "TestSupport.h"
#include "store/VxCalStoreData.h"

using namespace fakehost;
using namespace testing_support;
using ::testing::ElementsAre;

namespace {

// What an item answers, slot by slot in the order the conversion reads them: every
// slot a distinct value, many past the width or the sign of their field; a slot
// read twice answers in turn. A row with a text answers the text.
struct CRead {
    int nSlot;
    LONG lValue;
    std::string strText = "";  // a text slot when not empty
};
const std::vector<CRead> s_calReads = {{CAL_GET_CALID, 7}, {CAL_GET_CALTYPE, 0x1FE}, {CAL_GET_TMSTAMP, -16},
    {CAL_GET_SHRLEVEL, 4}, {CAL_GET_SPONSOR, 55}, {CAL_GET_SPONSOR, 66}, {CAL_GET_SUBJECT, 0, "Team"},
    {CAL_GET_DETAIL, 0, "Weekly"}, {CAL_GET_CONTACTID, 0, "c1"}, {CAL_GET_CONTACTINFO, 0, "ci"},
    {CAL_GET_EXT1, 0, "e1"}};
const std::vector<CRead> s_evtReads = {{EVT_GET_CALID, 1}, {EVT_GET_EVTID, 2}, {EVT_GET_EVTTYPE, 200}, {EVT_GET_BGNTM, 1000},
    {EVT_GET_ENDTM, LONG(0x80000000u)}, {EVT_GET_TMSTAMP, 3000}, {EVT_GET_TIPTYPE, 0xF5}, {EVT_GET_DAY, 40000},
    {EVT_GET_MONTH, 12}, {EVT_GET_WEEK, 3}, {EVT_GET_LOOPTYPE, 0x1FE}, {EVT_GET_SYNCHRONIZED, 0x1FF},
    {EVT_GET_REVISEDSTATE, -4}, {EVT_GET_REMINDMINUTE, 0x1FDE8}, {EVT_GET_SPONSORID, 77},
    {EVT_GET_CALOWNERUIN, 555}, {EVT_GET_EVENTRIGHT, -3}, {EVT_GET_WEEKNUM, 0xF0}, {EVT_GET_CALTYPE, 3},
    {EVT_GET_LOOPCALID, 11}, {EVT_GET_LOOPEVENTID, 12}, {EVT_GET_EVENTSTATUS, 5}, {EVT_GET_ENDTYPE, -6},
    {EVT_GET_VALID, 5}, {EVT_GET_LOCATION, 0, "Room 1"}, {EVT_GET_SUBJECT, 0, "Standup"},
    {EVT_GET_DETAIL, 0, "Daily"}, {EVT_GET_CONTACTID, 0, "cid"}, {EVT_GET_CONTACTINFO, 0, "cinfo"},
    {EVT_GET_EXT3, 0, "OL-1"}, {EVT_GET_CONTACTIDINVALID, 0, "bad"}, {EVT_GET_CONTACTIDDISPLAY, 0, "shown"},
    {EVT_GET_CALTYPE, 0xFFFE}};

using Log = std::vector<std::pair<int, std::string>>;
// What the record read from those items writes into a new item, in order. The
// calendar's owner (here its sponsor) is tested by type below. Bytes keep their
// low 8 bits, signed; Day, RemindMinute and CalType stay unsigned; Synchronized -1
// goes out as 65535; TipType and WeekNum pass one byte; the second CalType is kept;
// Valid 5 is VARIANT_TRUE.
const Log s_calWrites = {{CAL_PUT_UIN, "123"}, {CAL_PUT_CALID, "7"}, {CAL_PUT_CALTYPE, "-2"},
    {CAL_PUT_TMSTAMP, "-16"}, {CAL_PUT_SHRLEVEL, "4"}, {CAL_SET_OWNER, "55,66"}, {CAL_PUT_SUBJECT, "Team"},
    {CAL_PUT_DETAIL, "Weekly"}, {CAL_SET_CONTACT, "c1,ci"}, {CAL_PUT_EXT1, "e1"}};
const Log s_evtWrites = {{EVT_PUT_CALID, "1"}, {EVT_PUT_EVTID, "2"}, {EVT_PUT_EVTTYPE, "-56"},
    {EVT_PUT_BGNTM, "1000"}, {EVT_PUT_ENDTM, "-2147483648"}, {EVT_PUT_TMSTAMP, "3000"}, {EVT_PUT_TIPTYPE, "245"},
    {EVT_PUT_DAY, "40000"}, {EVT_PUT_MONTH, "12"}, {EVT_PUT_WEEK, "3"}, {EVT_PUT_LOOPTYPE, "-2"},
    {EVT_PUT_SYNCHRONIZED, "65535"}, {EVT_PUT_REVISEDSTATE, "-4"}, {EVT_PUT_REMINDMINUTE, "65000"},
    {EVT_PUT_SPONSORID, "77"}, {EVT_PUT_CALOWNERUIN, "555"}, {EVT_PUT_EVENTRIGHT, "-3"}, {EVT_PUT_WEEKNUM, "240"},
    {EVT_PUT_CALTYPE, "65534"}, {EVT_PUT_LOOPCALID, "11"}, {EVT_PUT_LOOPEVENTID, "12"}, {EVT_PUT_ENDTYPE, "-6"},
    {EVT_PUT_EVENTSTATUS, "5"}, {EVT_PUT_VALID, "-1"}, {EVT_PUT_LOCATION, "Room 1"}, {EVT_PUT_SUBJECT, "Standup"},
    {EVT_PUT_DETAIL, "Daily"}, {EVT_SET_CONTACTS, "cid,cinfo,bad,shown"}};

// Sets the answers; a slot read twice answers in turn.
void Fill(CFake& item, const std::vector<CRead>& reads)
{
    std::map<int, std::vector<LONG>> longs;
    for (const CRead& read : reads) {
        if (!read.strText.empty()) {
            item.SetText(read.nSlot, read.strText);
        } else {
            longs[read.nSlot].push_back(read.lValue);
        }
    }
    for (const auto& [nSlot, values] : longs) {
        item.SetLongs(nSlot, values);
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

std::vector<std::string> Narrowed(std::initializer_list<const WCHAR*> fields)
{
    std::vector<std::string> texts;
    for (const WCHAR* psz : fields) {
        texts.push_back(Narrow(psz));
    }
    return texts;
}

// The member conversions need a started store: its account and its kernel.
class StoreConversionTest : public CStoreTest {
protected:
    StoreConversionTest() : CStoreTest(&CVxCalStoreData::CreateInstance) {}
    void SetUp() override
    {
        CStoreTest::SetUp();
        Start();
        Fill(m_calItem, s_calReads);
        Fill(m_evtItem, s_evtReads);
    }
    CVxCalStoreData* Store() { return static_cast<CVxCalStoreData*>(m_pData); }
    int ToRecord(CFake& item) { return Store()->CalItemToRecord(&cal, item.As<ICalendarItem>()); }
    int ToItem(CFake& item) { return CalRecordToItem(&cal, item.As<ICalendarItem>()); }
    int EvtToRecord(CFake& item) { return EventItemToRecord(&evt, item.As<IEventItem>()); }
    int EvtToItem(CFake& item) { return Store()->EventRecordToItem(&evt, item.As<IEventItem>()); }

    CFake& m_calItem = m_fakes.New(EFakeKind::CalendarItem);
    CFake& m_evtItem = m_fakes.New(EFakeKind::EventItem);
    tagCalendarRecord cal{};  // the records under test, zero-filled
    tagEventRecord evt{};
};

// Item to record to a new item: every slot read and written in order, each value
// narrowed to its field and widened back; the calendar belongs to the store's account.
TEST_F(StoreConversionTest, ItemsGoThroughARecordIntoANewItemSlotBySlot)
{
    cal.dwUIN = 999;
    ASSERT_EQ(1, ToRecord(m_calItem));
    // The owner is the UIN for the personal types 0 and 1, the sponsor otherwise.
    for (const auto& [nCalType, strOwner] : Log{{0, "123"}, {1, "123"}, {-2, "55"}, {5, "55"}}) {
        CFake item(EFakeKind::CalendarItem);
        cal.cCalType = static_cast<signed char>(nCalType);
        Log expected = s_calWrites;
        expected[2].second = std::to_string(nCalType);
        expected[5].second = strOwner + ",66";
        EXPECT_EQ(1, ToItem(item));
        EXPECT_EQ(expected, LogOf(item)) << nCalType;
        EXPECT_TRUE(Settled(item));
    }

    ASSERT_EQ(1, EvtToRecord(m_evtItem));
    CFake item(EFakeKind::EventItem);
    EXPECT_EQ(1, EvtToItem(item));
    EXPECT_EQ(s_evtWrites, LogOf(item));
    EXPECT_TRUE(Settled(item));
}

TEST_F(StoreConversionTest, TextsAreCutAtTheirBoundsNeverInsideAPairAndNullReadsAsEmpty)
{
    const std::string strPairLast = std::string(3070, 'd') + "\xF0\x9F\x98\x80";  // the pair would end past the bound
    Fill(m_calItem, {{CAL_GET_SUBJECT, 0, std::string(800, 's')}, {CAL_GET_DETAIL, 0, strPairLast},
                     {CAL_GET_CONTACTID, 0, std::string(3100, 'c')}, {CAL_GET_CONTACTINFO, 0, std::string(600, 'i')}});
    m_calItem.SetText(CAL_GET_EXT1, "");
    std::fill_n(cal.szExt1, 5, WCHAR('x'));
    EXPECT_EQ(1, ToRecord(m_calItem));
    EXPECT_THAT(
        Narrowed({cal.szSubject, cal.szDetail, cal.szContactID, cal.szContactInfo, cal.szExt1}),
        ElementsAre(std::string(767, 's'), std::string(3070, 'd'), std::string(3071, 'c'), std::string(511, 'i'), ""));

    CFake item(EFakeKind::EventItem);  // the display text answers a null BSTR
    Fill(item, {{EVT_GET_LOCATION, 0, std::string(800, 'l')},
                {EVT_GET_SUBJECT, 0, std::string(766, 's') + "\xF0\x9F\x98\x80" + "t"},  // the pair would straddle the bound
                {EVT_GET_DETAIL, 0, std::string(3100, 'd')},
                {EVT_GET_CONTACTID, 0, std::string(1100, 'c')},
                {EVT_GET_CONTACTINFO, 0, std::string(1100, 'i')},
                {EVT_GET_EXT3, 0, std::string(800, 'x')},
                {EVT_GET_CONTACTIDINVALID, 0, std::string(1023, 'v')}});  // exactly at the bound
    std::fill_n(evt.szContactIDDisplay, 5, WCHAR('x'));
    EXPECT_EQ(1, EvtToRecord(item));
    EXPECT_THAT(
        Narrowed({evt.szLocation, evt.szSubject, evt.szDetail, evt.szContactID, evt.szContactInfo, evt.szExt3,
                  evt.szContactIDInvalid, evt.szContactIDDisplay}),
        ElementsAre(std::string(767, 'l'), std::string(766, 's'), std::string(3071, 'd'), std::string(1023, 'c'),
                    std::string(1023, 'i'), std::string(767, 'x'), std::string(1023, 'v'), ""));
    EXPECT_TRUE(Settled(item));
}

TEST_F(StoreConversionTest, AMissingEventOwnerIsAskedOfTheAccount)
{
    ASSERT_EQ(1, EvtToRecord(m_evtItem));
    evt.dwCalOwnerUin = 0;
    // A zero UIN falls back to the AltUIN.
    const std::tuple<LONG, LONG, LONG> owners[] = {{777, 0, 777}, {0, 888, 888}};
    for (const auto& [lUIN, lAltUIN, lOwner] : owners) {
        CFake item(EFakeKind::EventItem);
        m_host.account.SetLong(ACCOUNT_UIN, lUIN);
        m_host.account.SetLong(ACCOUNT_ALTUIN, lAltUIN);
        EXPECT_EQ(1, EvtToItem(item));
        EXPECT_EQ(lOwner, item.Arg(EVT_PUT_CALOWNERUIN));
    }

}

}  // namespace
