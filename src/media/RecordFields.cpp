#include "media/RecordFields.h"

namespace {

// A slot of one call: its kind and place, and the item's method in the member of
// the slot that holds methods of its kind.
template <typename TItem, typename TPfn>
CItemSlot<TItem> Slot(EItemValue eValue, int nOrder, TPfn CItemSlot<TItem>::*pmMethod, TPfn pfn)
{
    CItemSlot<TItem> slot;
    slot.eValue = eValue;
    slot.nOrder = nOrder;
    slot.*pmMethod = pfn;
    return slot;
}

template <typename TItem>
CItemSlot<TItem> None()
{
    return CItemSlot<TItem>();
}

template <typename TItem>
CItemSlot<TItem> GetLong(int nOrder, HRESULT (STDMETHODCALLTYPE TItem::*pfn)(LONG*), int nAgainOrder = 0)
{
    CItemSlot<TItem> slot = Slot(IV_LONG, nOrder, &CItemSlot<TItem>::pfnGetLong, pfn);
    slot.nAgainOrder = nAgainOrder;
    return slot;
}

template <typename TItem>
CItemSlot<TItem> PutLong(int nOrder, HRESULT (STDMETHODCALLTYPE TItem::*pfn)(LONG), EItemValue eValue = IV_LONG)
{
    return Slot(eValue, nOrder, &CItemSlot<TItem>::pfnPutLong, pfn);
}

CItemSlot<IEventItem> GetByte(int nOrder, HRESULT (STDMETHODCALLTYPE IEventItem::*pfn)(BYTE*))
{
    return Slot(IV_BYTE, nOrder, &CItemSlot<IEventItem>::pfnGetByte, pfn);
}

CItemSlot<IEventItem> PutByte(int nOrder, HRESULT (STDMETHODCALLTYPE IEventItem::*pfn)(BYTE))
{
    return Slot(IV_BYTE, nOrder, &CItemSlot<IEventItem>::pfnPutByte, pfn);
}

template <typename TItem>
CItemSlot<TItem> GetText(int nOrder, HRESULT (STDMETHODCALLTYPE TItem::*pfn)(BSTR*))
{
    return Slot(IV_TEXT, nOrder, &CItemSlot<TItem>::pfnGetText, pfn);
}

template <typename TItem>
CItemSlot<TItem> PutText(int nOrder, HRESULT (STDMETHODCALLTYPE TItem::*pfn)(BSTR))
{
    return Slot(IV_TEXT, nOrder, &CItemSlot<TItem>::pfnPutText, pfn);
}

template <typename TItem>
CItemSlot<TItem> Group(EItemGroup eGroup, int nOrder, int nPart)
{
    CItemSlot<TItem> slot;
    slot.eValue = IV_GROUP;
    slot.eGroup = eGroup;
    slot.nOrder = nOrder;
    slot.nPart = nPart;
    return slot;
}

template <typename TItem>
CItemSlot<TItem> Special(int nOrder, EItemValue eValue)
{
    CItemSlot<TItem> slot;
    slot.eValue = eValue;
    slot.nOrder = nOrder;
    return slot;
}

CItemSlot<IEventItem> GetValid(int nOrder)
{
    return Slot(IV_BOOL, nOrder, &CItemSlot<IEventItem>::pfnGetBool, &IEventItem::get_Valid);
}

CItemSlot<IEventItem> PutValid(int nOrder)
{
    return Slot(IV_BOOL, nOrder, &CItemSlot<IEventItem>::pfnPutBool, &IEventItem::put_Valid);
}

#define EVT_NUM(member) offsetof(tagEventRecord, member), 0
#define EVT_TEXT(member) offsetof(tagEventRecord, member), sizeof(tagEventRecord::member) / sizeof(WCHAR)
#define CAL_NUM(member) offsetof(tagCalendarRecord, member), 0
#define CAL_TEXT(member) offsetof(tagCalendarRecord, member), sizeof(tagCalendarRecord::member) / sizeof(WCHAR)
#define NO_MEMBER 0, 0

typedef IEventItem E;
typedef ICalendarItem C;

}  // namespace

// clang-format off
const CEventField g_rgEventFields[EVENT_COLUMNS] = {
    // column                    type       member                       read                insert         update
    {WTEXT("CalID"),            RFT_DWORD, EVT_NUM(dwCalID),            CR_LOW_BITS,        CI_MEMBER,     CU_KEY,  GetLong<E>(1, &E::get_CalID),          PutLong<E>(1, &E::put_CalID)},
    {WTEXT("EvtID"),            RFT_DWORD, EVT_NUM(dwEvtID),            CR_LOW_BITS,        CI_MEMBER,     CU_KEY,  GetLong<E>(2, &E::get_EvtID),          PutLong<E>(2, &E::put_EvtID)},
    {WTEXT("EvtType"),          RFT_SCHAR, EVT_NUM(cEvtType),           CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(3, &E::get_EvtType),        PutLong<E>(3, &E::put_EvtType)},
    {WTEXT("BgnTm"),            RFT_DWORD, EVT_NUM(dwBgnTm),            CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(4, &E::get_BgnTm),          PutLong<E>(4, &E::put_BgnTm)},
    {WTEXT("EndTm"),            RFT_DWORD, EVT_NUM(dwEndTm),            CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(5, &E::get_EndTm),          PutLong<E>(5, &E::put_EndTm)},
    {WTEXT("TmStamp"),          RFT_DWORD, EVT_NUM(dwTimeStamp),        CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(6, &E::get_TmStamp),        PutLong<E>(6, &E::put_TmStamp)},
    {WTEXT("TipType"),          RFT_SCHAR, EVT_NUM(cTipType),           CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetByte(7, &E::get_TipType),           PutByte(7, &E::put_TipType)},
    {WTEXT("Minute"),           RFT_SCHAR, EVT_NUM(cMinute),            CR_LOW_BITS,        CI_MEMBER,     CU_SET,  None<E>(),                             None<E>()},
    {WTEXT("Hour"),             RFT_SCHAR, EVT_NUM(cHour),              CR_LOW_BITS,        CI_MEMBER,     CU_SET,  None<E>(),                             None<E>()},
    // Day keeps only its low byte when read back: a legacy rule that files depend on.
    {WTEXT("Day"),              RFT_WORD,  EVT_NUM(wDay),               CR_LOW_BYTE_SIGNED, CI_MEMBER,     CU_SET,  GetLong<E>(8, &E::get_Day),            PutLong<E>(8, &E::put_Day)},
    {WTEXT("Week"),             RFT_SCHAR, EVT_NUM(cWeek),              CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetByte(10, &E::get_Week),             PutByte(10, &E::put_Week)},
    {WTEXT("Month"),            RFT_SCHAR, EVT_NUM(cMonth),             CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetByte(9, &E::get_Month),             PutByte(9, &E::put_Month)},
    {WTEXT("LoopType"),         RFT_SCHAR, EVT_NUM(cLoopType),          CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(11, &E::get_LoopType),      PutLong<E>(11, &E::put_LoopType)},
    {WTEXT("subject"),          RFT_TEXT,  EVT_TEXT(szSubject),         CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetText<E>(26, &E::get_Subject),       PutText<E>(26, &E::put_Subject)},
    {WTEXT("detail"),           RFT_TEXT,  EVT_TEXT(szDetail),          CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetText<E>(27, &E::get_Detail),        PutText<E>(27, &E::put_Detail)},
    {WTEXT("Synchronized"),     RFT_SCHAR, EVT_NUM(cSynchronized),      CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(12, &E::get_Synchronized),  PutLong<E>(12, &E::put_Synchronized, IV_LONG_SIGNED16)},
    {WTEXT("RevisedState"),     RFT_SCHAR, EVT_NUM(cRevisedState),      CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(13, &E::get_RevisedState),  PutLong<E>(13, &E::put_RevisedState)},
    {WTEXT("RemindMinute"),     RFT_WORD,  EVT_NUM(wRemindMinute),      CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(14, &E::get_RemindMinute),  PutLong<E>(14, &E::put_RemindMinute)},
    {WTEXT("ContactID"),        RFT_TEXT,  EVT_TEXT(szContactID),       CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetText<E>(28, &E::get_ContactID),     Group<E>(IG_EVENT_SET_CONTACTS, 28, 0)},
    {WTEXT("ContactInfo"),      RFT_TEXT,  EVT_TEXT(szContactInfo),     CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetText<E>(29, &E::get_ContactInfo),   Group<E>(IG_EVENT_SET_CONTACTS, 28, 1)},
    {WTEXT("Location"),         RFT_TEXT,  EVT_TEXT(szLocation),        CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetText<E>(25, &E::get_Location),      PutText<E>(25, &E::put_Location)},
    {WTEXT("SponsorID"),        RFT_DWORD, EVT_NUM(dwSponsorID),        CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(15, &E::get_SponsorID),     PutLong<E>(15, &E::put_SponsorID)},
    {WTEXT("WeekNum"),          RFT_WORD,  EVT_NUM(wWeekNum),           CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetByte(18, &E::get_WeekNum),          PutByte(18, &E::put_WeekNum)},
    {WTEXT("MonthNum"),         RFT_WORD,  EVT_NUM(wMonthNum),          CR_LOW_BITS,        CI_MEMBER,     CU_SET,  None<E>(),                             None<E>()},
    {WTEXT("Year"),             RFT_DWORD, EVT_NUM(dwYear),             CR_LOW_BITS,        CI_MEMBER,     CU_SET,  None<E>(),                             None<E>()},
    // CalType is asked twice when an item is read; the second answer is kept.
    {WTEXT("CalType"),          RFT_WORD,  EVT_NUM(wCalType),           CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(19, &E::get_CalType, 33),   PutLong<E>(19, &E::put_CalType)},
    {WTEXT("EndType"),          RFT_SCHAR, EVT_NUM(cEndType),           CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(23, &E::get_EndType),       PutLong<E>(22, &E::put_EndType)},
    {WTEXT("SwitchTimes"),      RFT_WORD,  EVT_NUM(wSwitchTimes),       CR_LOW_BITS,        CI_MEMBER,     CU_SET,  None<E>(),                             None<E>()},
    {WTEXT("LoopCalID"),        RFT_DWORD, EVT_NUM(dwLoopCalID),        CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(20, &E::get_LoopCalID),     PutLong<E>(20, &E::put_LoopCalID)},
    {WTEXT("LoopEventID"),      RFT_DWORD, EVT_NUM(dwLoopEventID),      CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(21, &E::get_LoopEventID),   PutLong<E>(21, &E::put_LoopEventID)},
    {WTEXT("CalOwnerUin"),      RFT_DWORD, EVT_NUM(dwCalOwnerUin),      CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(16, &E::get_CalOwnerUin),   PutLong<E>(16, &E::put_CalOwnerUin, IV_OWNER_OR_ACCOUNT)},
    {WTEXT("EventRight"),       RFT_SCHAR, EVT_NUM(cEventRight),        CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(17, &E::get_EventRight),    PutLong<E>(17, &E::put_EventRight)},
    {WTEXT("ContactIDDisplay"), RFT_TEXT,  EVT_TEXT(szContactIDDisplay),CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetText<E>(32, &E::get_ContactIDDisplay), Group<E>(IG_EVENT_SET_CONTACTS, 28, 3)},
    {WTEXT("ContactIDInvalid"), RFT_TEXT,  EVT_TEXT(szContactIDInvalid),CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetText<E>(31, &E::get_ContactIDInvalid), Group<E>(IG_EVENT_SET_CONTACTS, 28, 2)},
    {WTEXT("EventStatus"),      RFT_SCHAR, EVT_NUM(cEventStatus),       CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetLong<E>(22, &E::get_EventStatus),   PutLong<E>(23, &E::put_EventStatus)},
    {WTEXT("Valid"),            RFT_SCHAR, EVT_NUM(cValid),             CR_LOW_BITS,        CI_MEMBER,     CU_SET,  GetValid(24),                          PutValid(24)},
    {WTEXT("ext1"),             RFT_NONE,  NO_MEMBER,                   CR_NOT_READ,        CI_EMPTY_TEXT, CU_KEEP, None<E>(),                             None<E>()},
    {WTEXT("ext2"),             RFT_NONE,  NO_MEMBER,                   CR_NOT_READ,        CI_EMPTY_TEXT, CU_KEEP, None<E>(),                             None<E>()},
    // The external identifier: written once, never read back into a record or an item.
    {WTEXT("ext3"),             RFT_TEXT,  EVT_TEXT(szExt3),            CR_NOT_READ,        CI_MEMBER,     CU_KEEP, GetText<E>(30, &E::get_Ext3),          None<E>()},
    {WTEXT("ext4"),             RFT_NONE,  NO_MEMBER,                   CR_NOT_READ,        CI_ZERO,       CU_KEEP, None<E>(),                             None<E>()},
    {WTEXT("ext5"),             RFT_NONE,  NO_MEMBER,                   CR_NOT_READ,        CI_ZERO,       CU_KEEP, None<E>(),                             None<E>()},
    {WTEXT("nums"),             RFT_NONE,  NO_MEMBER,                   CR_NOT_READ,        CI_ZERO,       CU_KEEP, None<E>(),                             None<E>()},
};

const CCalendarField g_rgCalendarFields[CALENDAR_COLUMNS] = {
    // Every calendar saved belongs to the current account, whatever its item says.
    {WTEXT("UIN"),         RFT_DWORD, CAL_NUM(dwUIN),          CR_LOW_BITS, CI_MEMBER,     CU_KEEP, Special<C>(1, IV_ACCOUNT),        PutLong<C>(1, &C::put_UIN)},
    {WTEXT("CalID"),       RFT_DWORD, CAL_NUM(dwCalID),        CR_LOW_BITS, CI_MEMBER,     CU_KEY,  GetLong<C>(2, &C::get_CalID),     PutLong<C>(2, &C::put_CalID)},
    {WTEXT("CalType"),     RFT_SCHAR, CAL_NUM(cCalType),       CR_LOW_BITS, CI_MEMBER,     CU_SET,  GetLong<C>(3, &C::get_CalType),   PutLong<C>(3, &C::put_CalType)},
    {WTEXT("ShrLevel"),    RFT_DWORD, CAL_NUM(dwShrLevel),     CR_LOW_BITS, CI_MEMBER,     CU_SET,  GetLong<C>(5, &C::get_ShrLevel),  PutLong<C>(5, &C::put_ShrLevel)},
    {WTEXT("TmStamp"),     RFT_DWORD, CAL_NUM(dwTimeStamp),    CR_LOW_BITS, CI_MEMBER,     CU_SET,  GetLong<C>(4, &C::get_TmStamp),   PutLong<C>(4, &C::put_TmStamp)},
    {WTEXT("subject"),     RFT_TEXT,  CAL_TEXT(szSubject),     CR_LOW_BITS, CI_MEMBER,     CU_SET,  GetText<C>(7, &C::get_Subject),   PutText<C>(7, &C::put_Subject)},
    {WTEXT("detail"),      RFT_TEXT,  CAL_TEXT(szDetail),      CR_LOW_BITS, CI_MEMBER,     CU_SET,  GetText<C>(8, &C::get_Detail),    PutText<C>(8, &C::put_Detail)},
    {WTEXT("ContactID"),   RFT_TEXT,  CAL_TEXT(szContactID),   CR_LOW_BITS, CI_MEMBER,     CU_SET,  GetText<C>(9, &C::get_ContactID), Group<C>(IG_CALENDAR_SET_CONTACT, 9, 0)},
    {WTEXT("ContactInfo"), RFT_TEXT,  CAL_TEXT(szContactInfo), CR_LOW_BITS, CI_MEMBER,     CU_SET,  GetText<C>(10, &C::get_ContactInfo), Group<C>(IG_CALENDAR_SET_CONTACT, 9, 1)},
    {WTEXT("SponsorID"),   RFT_DWORD, CAL_NUM(dwSponsorID),    CR_LOW_BITS, CI_MEMBER,     CU_SET,  Group<C>(IG_CALENDAR_GET_SPONSOR, 6, 0),                   None<C>()},
    // The owner that SetOwner takes with it comes from CalendarOwnerOf.
    {WTEXT("FromCalID"),   RFT_DWORD, CAL_NUM(dwFromCalID),    CR_LOW_BITS, CI_MEMBER,     CU_SET,  Group<C>(IG_CALENDAR_GET_SPONSOR, 6, 1),                   Special<C>(6, IV_WITH_OWNER)},
    {WTEXT("ext1"),        RFT_TEXT,  CAL_TEXT(szExt1),        CR_LOW_BITS, CI_MEMBER,     CU_SET,  GetText<C>(11, &C::get_Ext1),     PutText<C>(10, &C::put_Ext1)},
    {WTEXT("ext2"),        RFT_NONE,  NO_MEMBER,               CR_NOT_READ, CI_EMPTY_TEXT, CU_KEEP, None<C>(),                        None<C>()},
    {WTEXT("ext3"),        RFT_NONE,  NO_MEMBER,               CR_NOT_READ, CI_EMPTY_TEXT, CU_KEEP, None<C>(),                        None<C>()},
    {WTEXT("ext4"),        RFT_NONE,  NO_MEMBER,               CR_NOT_READ, CI_ZERO,       CU_KEEP, None<C>(),                        None<C>()},
    {WTEXT("ext5"),        RFT_NONE,  NO_MEMBER,               CR_NOT_READ, CI_ZERO,       CU_KEEP, None<C>(),                        None<C>()},
    {WTEXT("nums"),        RFT_NONE,  NO_MEMBER,               CR_NOT_READ, CI_ZERO,       CU_KEEP, None<C>(),                        None<C>()},
};
// clang-format on

DWORD CalendarOwnerOf(const tagCalendarRecord& rec)
{
    return rec.cCalType == 0 || rec.cCalType == 1 ? rec.dwUIN : rec.dwSponsorID;
}
