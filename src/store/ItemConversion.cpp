// Copying values between the host's calendar and event items and records, slot by
// slot in a fixed order. The first failing host call ends a conversion, which then
// reports 0; what was copied before stays.
#include "store/VxCalStoreData.h"

namespace {

template <typename TItem>
using GetLongSlot = HRESULT (STDMETHODCALLTYPE TItem::*)(LONG*);
template <typename TItem>
using PutLongSlot = HRESULT (STDMETHODCALLTYPE TItem::*)(LONG);
template <typename TItem>
using GetByteSlot = HRESULT (STDMETHODCALLTYPE TItem::*)(BYTE*);
template <typename TItem>
using PutByteSlot = HRESULT (STDMETHODCALLTYPE TItem::*)(BYTE);
template <typename TItem>
using GetTextSlot = HRESULT (STDMETHODCALLTYPE TItem::*)(BSTR*);
template <typename TItem>
using PutTextSlot = HRESULT (STDMETHODCALLTYPE TItem::*)(BSTR);

template <typename TItem>
REFIID IidOf();
template <>
REFIID IidOf<ICalendarItem>()
{
    return IID_ICalendarItem;
}
template <>
REFIID IidOf<IEventItem>()
{
    return IID_IEventItem;
}

// A 32-bit read; the out value starts at 0.
template <typename TItem>
LONG GetLong(TItem* pItem, GetLongSlot<TItem> pfnGet)
{
    LONG lValue = 0;
    CheckHost((pItem->*pfnGet)(&lValue), IidOf<TItem>(), pItem);
    return lValue;
}

template <typename TItem>
void PutLong(TItem* pItem, PutLongSlot<TItem> pfnPut, LONG lValue)
{
    CheckHost((pItem->*pfnPut)(lValue), IidOf<TItem>(), pItem);
}

template <typename TItem>
BYTE GetByte(TItem* pItem, GetByteSlot<TItem> pfnGet)
{
    BYTE cValue = 0;
    CheckHost((pItem->*pfnGet)(&cValue), IidOf<TItem>(), pItem);
    return cValue;
}

template <typename TItem>
void PutByte(TItem* pItem, PutByteSlot<TItem> pfnPut, BYTE cValue)
{
    CheckHost((pItem->*pfnPut)(cValue), IidOf<TItem>(), pItem);
}

// A text read into a record field, cut at the field's bound; no string reads as
// the empty text.
template <typename TItem, size_t N>
void GetText(TItem* pItem, GetTextSlot<TItem> pfnGet, WCHAR (&szField)[N])
{
    CBstr bsValue;
    CheckHost((pItem->*pfnGet)(bsValue.Receive()), IidOf<TItem>(), pItem);
    WStrCopyN(szField, N, bsValue.Text());
}

template <typename TItem>
void PutText(TItem* pItem, PutTextSlot<TItem> pfnPut, const WCHAR* pszValue)
{
    const CBstr bsValue(pszValue);
    CheckHost((pItem->*pfnPut)(bsValue.Get()), IidOf<TItem>(), pItem);
}

// Field widening rules: 8-bit fields are sign-extended, 16-bit fields zero-extended.
LONG SignExtended(signed char cValue)
{
    return static_cast<LONG>(cValue);
}
LONG ZeroExtended(WORD wValue)
{
    return static_cast<LONG>(wValue);
}
signed char Low8(LONG lValue)
{
    return static_cast<signed char>(lValue & 0xFF);
}
WORD Low16(LONG lValue)
{
    return static_cast<WORD>(lValue & 0xFFFF);
}

// Runs a conversion: 1 when it completed, 0 when anything failed on the way.
template <typename TBody>
int Convert(TBody&& body)
{
    try {
        body();
        return 1;
    } catch (...) {
        return 0;
    }
}

}  // namespace

int CalRecordToItem(const tagCalendarRecord* pRec, ICalendarItem* pItem)
{
    if (pRec == nullptr || pItem == nullptr) {
        return 0;
    }
    return Convert([&]() {
        PutLong(pItem, &ICalendarItem::put_UIN, LONG(pRec->dwUIN));
        PutLong(pItem, &ICalendarItem::put_CalID, LONG(pRec->dwCalID));
        PutLong(pItem, &ICalendarItem::put_CalType, SignExtended(pRec->cCalType));
        PutLong(pItem, &ICalendarItem::put_TmStamp, LONG(pRec->dwTimeStamp));
        PutLong(pItem, &ICalendarItem::put_ShrLevel, LONG(pRec->dwShrLevel));
        // Personal calendars (types 0 and 1) are owned by their user, others by their sponsor.
        const DWORD dwOwner = pRec->cCalType == 0 || pRec->cCalType == 1 ? pRec->dwUIN : pRec->dwSponsorID;
        CheckHost(pItem->SetOwner(LONG(dwOwner), LONG(pRec->dwFromCalID)), IID_ICalendarItem, pItem);
        PutText(pItem, &ICalendarItem::put_Subject, pRec->szSubject);
        PutText(pItem, &ICalendarItem::put_Detail, pRec->szDetail);
        const CBstr bsContactID(pRec->szContactID);
        const CBstr bsContactInfo(pRec->szContactInfo);
        CheckHost(pItem->SetContact(bsContactID.Get(), bsContactInfo.Get()), IID_ICalendarItem, pItem);
        PutText(pItem, &ICalendarItem::put_Ext1, pRec->szExt1);
    });
}

int CVxCalStoreData::CalItemToRecord(tagCalendarRecord* pRec, ICalendarItem* pItem)
{
    if (pRec == nullptr || pItem == nullptr) {
        return 0;
    }
    return Convert([&]() {
        // Every calendar saved belongs to the current account, whatever the item says.
        pRec->dwUIN = m_dwUIN;
        pRec->dwCalID = DWORD(GetLong(pItem, &ICalendarItem::get_CalID));
        pRec->cCalType = Low8(GetLong(pItem, &ICalendarItem::get_CalType));
        pRec->dwTimeStamp = DWORD(GetLong(pItem, &ICalendarItem::get_TmStamp));
        pRec->dwShrLevel = DWORD(GetLong(pItem, &ICalendarItem::get_ShrLevel));
        LONG lSponsorID = 0;
        LONG lFromCalID = 0;
        CheckHost(pItem->GetSponsor(&lSponsorID, &lFromCalID), IID_ICalendarItem, pItem);
        pRec->dwSponsorID = DWORD(lSponsorID);
        pRec->dwFromCalID = DWORD(lFromCalID);
        GetText(pItem, &ICalendarItem::get_Subject, pRec->szSubject);
        GetText(pItem, &ICalendarItem::get_Detail, pRec->szDetail);
        GetText(pItem, &ICalendarItem::get_ContactID, pRec->szContactID);
        GetText(pItem, &ICalendarItem::get_ContactInfo, pRec->szContactInfo);
        GetText(pItem, &ICalendarItem::get_Ext1, pRec->szExt1);
    });
}

int CVxCalStoreData::EventRecordToItem(const tagEventRecord* pRec, IEventItem* pItem)
{
    if (pRec == nullptr || pItem == nullptr) {
        return 0;
    }
    return Convert([&]() {
        PutLong(pItem, &IEventItem::put_CalID, LONG(pRec->dwCalID));
        PutLong(pItem, &IEventItem::put_EvtID, LONG(pRec->dwEvtID));
        PutLong(pItem, &IEventItem::put_EvtType, SignExtended(pRec->cEvtType));
        PutLong(pItem, &IEventItem::put_BgnTm, LONG(pRec->dwBgnTm));
        PutLong(pItem, &IEventItem::put_EndTm, LONG(pRec->dwEndTm));
        PutLong(pItem, &IEventItem::put_TmStamp, LONG(pRec->dwTimeStamp));
        PutByte(pItem, &IEventItem::put_TipType, BYTE(pRec->cTipType));
        PutLong(pItem, &IEventItem::put_Day, ZeroExtended(pRec->wDay));
        PutByte(pItem, &IEventItem::put_Month, BYTE(pRec->cMonth));
        PutByte(pItem, &IEventItem::put_Week, BYTE(pRec->cWeek));
        PutLong(pItem, &IEventItem::put_LoopType, SignExtended(pRec->cLoopType));
        // Widened to 16 bits with its sign, then passed on as an unsigned 16-bit value.
        PutLong(pItem, &IEventItem::put_Synchronized, ZeroExtended(WORD(SHORT(pRec->cSynchronized))));
        PutLong(pItem, &IEventItem::put_RevisedState, SignExtended(pRec->cRevisedState));
        PutLong(pItem, &IEventItem::put_RemindMinute, ZeroExtended(pRec->wRemindMinute));
        PutLong(pItem, &IEventItem::put_SponsorID, LONG(pRec->dwSponsorID));

        // An event without an owner belongs to the signed-in account.
        const DWORD dwOwner = pRec->dwCalOwnerUin != 0 ? pRec->dwCalOwnerUin : AccountUINOrAltUIN();
        PutLong(pItem, &IEventItem::put_CalOwnerUin, LONG(dwOwner));

        PutLong(pItem, &IEventItem::put_EventRight, SignExtended(pRec->cEventRight));
        PutByte(pItem, &IEventItem::put_WeekNum, BYTE(pRec->wWeekNum & 0xFF));
        PutLong(pItem, &IEventItem::put_CalType, ZeroExtended(pRec->wCalType));
        PutLong(pItem, &IEventItem::put_LoopCalID, LONG(pRec->dwLoopCalID));
        PutLong(pItem, &IEventItem::put_LoopEventID, LONG(pRec->dwLoopEventID));
        PutLong(pItem, &IEventItem::put_EndType, SignExtended(pRec->cEndType));
        PutLong(pItem, &IEventItem::put_EventStatus, SignExtended(pRec->cEventStatus));
        CheckHost(pItem->put_Valid(pRec->cValid != 0 ? VARIANT_TRUE : VARIANT_FALSE), IID_IEventItem, pItem);

        PutText(pItem, &IEventItem::put_Location, pRec->szLocation);
        PutText(pItem, &IEventItem::put_Subject, pRec->szSubject);
        PutText(pItem, &IEventItem::put_Detail, pRec->szDetail);
        const CBstr bsContactID(pRec->szContactID);
        const CBstr bsContactInfo(pRec->szContactInfo);
        const CBstr bsContactIDInvalid(pRec->szContactIDInvalid);
        const CBstr bsContactIDDisplay(pRec->szContactIDDisplay);
        CheckHost(pItem->SetContacts(bsContactID.Get(), bsContactInfo.Get(), bsContactIDInvalid.Get(),
                                     bsContactIDDisplay.Get()),
                  IID_IEventItem, pItem);
    });
}

int EventItemToRecord(tagEventRecord* pRec, IEventItem* pItem)
{
    if (pRec == nullptr || pItem == nullptr) {
        return 0;
    }
    return Convert([&]() {
        pRec->dwCalID = DWORD(GetLong(pItem, &IEventItem::get_CalID));
        pRec->dwEvtID = DWORD(GetLong(pItem, &IEventItem::get_EvtID));
        pRec->cEvtType = Low8(GetLong(pItem, &IEventItem::get_EvtType));
        pRec->dwBgnTm = DWORD(GetLong(pItem, &IEventItem::get_BgnTm));
        pRec->dwEndTm = DWORD(GetLong(pItem, &IEventItem::get_EndTm));
        pRec->dwTimeStamp = DWORD(GetLong(pItem, &IEventItem::get_TmStamp));
        pRec->cTipType = static_cast<signed char>(GetByte(pItem, &IEventItem::get_TipType));
        pRec->wDay = Low16(GetLong(pItem, &IEventItem::get_Day));
        pRec->cMonth = static_cast<signed char>(GetByte(pItem, &IEventItem::get_Month));
        pRec->cWeek = static_cast<signed char>(GetByte(pItem, &IEventItem::get_Week));
        pRec->cLoopType = Low8(GetLong(pItem, &IEventItem::get_LoopType));
        pRec->cSynchronized = Low8(GetLong(pItem, &IEventItem::get_Synchronized));
        pRec->cRevisedState = Low8(GetLong(pItem, &IEventItem::get_RevisedState));
        pRec->wRemindMinute = Low16(GetLong(pItem, &IEventItem::get_RemindMinute));
        pRec->dwSponsorID = DWORD(GetLong(pItem, &IEventItem::get_SponsorID));
        pRec->dwCalOwnerUin = DWORD(GetLong(pItem, &IEventItem::get_CalOwnerUin));
        pRec->cEventRight = Low8(GetLong(pItem, &IEventItem::get_EventRight));
        pRec->wWeekNum = WORD(SHORT(static_cast<signed char>(GetByte(pItem, &IEventItem::get_WeekNum))));
        pRec->wCalType = Low16(GetLong(pItem, &IEventItem::get_CalType));
        pRec->dwLoopCalID = DWORD(GetLong(pItem, &IEventItem::get_LoopCalID));
        pRec->dwLoopEventID = DWORD(GetLong(pItem, &IEventItem::get_LoopEventID));
        pRec->cEventStatus = Low8(GetLong(pItem, &IEventItem::get_EventStatus));
        pRec->cEndType = Low8(GetLong(pItem, &IEventItem::get_EndType));

        pRec->cValid = 1;
        VARIANT_BOOL bValid = VARIANT_FALSE;
        CheckHost(pItem->get_Valid(&bValid), IID_IEventItem, pItem);
        if (bValid == VARIANT_FALSE) {
            pRec->cValid = 0;
        }

        GetText(pItem, &IEventItem::get_Location, pRec->szLocation);
        GetText(pItem, &IEventItem::get_Subject, pRec->szSubject);
        GetText(pItem, &IEventItem::get_Detail, pRec->szDetail);
        GetText(pItem, &IEventItem::get_ContactID, pRec->szContactID);
        GetText(pItem, &IEventItem::get_ContactInfo, pRec->szContactInfo);
        GetText(pItem, &IEventItem::get_Ext3, pRec->szExt3);
        GetText(pItem, &IEventItem::get_ContactIDInvalid, pRec->szContactIDInvalid);
        GetText(pItem, &IEventItem::get_ContactIDDisplay, pRec->szContactIDDisplay);

        // CalType is read a second time; this value is the one kept.
        pRec->wCalType = Low16(GetLong(pItem, &IEventItem::get_CalType));
    });
}
