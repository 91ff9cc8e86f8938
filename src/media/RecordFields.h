// The one description of the Calendar and Event rows: every column in table
// order, the record member that holds it, its width and sign, its text bound,
// what an insert and an update write, and the host item's property for it in
// each direction with the place of that call in the conversion. Reading rows,
// binding statements, both item conversions and the tests are driven from here,
// so that a field cannot change in one place and be forgotten in another.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/CalendarKernel.h"
#include "media/CalendarRecords.h"

// How a record member holds its column, which is also how it is written: 32 bits
// as a signed number, 8 bits sign-extended, 16 bits zero-extended.
enum ERecordFieldType : unsigned char {
    RFT_NONE,   // a column the record does not carry
    RFT_DWORD,
    RFT_SCHAR,
    RFT_WORD,
    RFT_TEXT,   // UTF-16 text, cut at its bound
};

// How a stored value comes back into the record.
enum EColumnRead : unsigned char {
    CR_LOW_BITS,          // the low bits that fit the member
    CR_LOW_BYTE_SIGNED,   // only the low byte, as a signed 8-bit number widened to 16 bits
    CR_NOT_READ,          // reads leave the member as it was
};

// What an insert writes into the column.
enum EColumnInsert : unsigned char {
    CI_MEMBER,
    CI_EMPTY_TEXT,
    CI_ZERO,
};

// What an update does with the column.
enum EColumnUpdate : unsigned char {
    CU_SET,
    CU_KEY,    // selects the row
    CU_KEEP,   // written once, by the insert
};

// The kind of a host item property and how its value meets the member.
enum EItemValue : unsigned char {
    IV_NONE,            // not carried in this direction
    IV_LONG,            // 32 bits; the member keeps its low bits, and is widened by its type
    IV_LONG_SIGNED16,   // put: sign-extended to 16 bits, then zero-extended
    IV_BYTE,            // one byte; into a 16-bit member it is sign-extended, out of one its low byte
    IV_BOOL,            // 16-bit boolean: a non-zero member puts -1; get sets 1, and 0 for VARIANT_FALSE
    IV_TEXT,            // a BSTR, cut at the member's bound; no string reads as the empty text
    IV_GROUP,           // argument nPart of a call that carries several members
    IV_OWNER_OR_ACCOUNT,// put: a member of 0 puts the signed-in account's number instead
    IV_ACCOUNT,         // get: the store's account number; the item is not asked
    IV_WITH_OWNER,      // put: the second argument of SetOwner, whose first is the calendar's owner
};

// The calls that carry several members at once, their arguments in nPart order:
// IEventItem::SetContacts(ContactID, ContactInfo, ContactIDInvalid, ContactIDDisplay),
// ICalendarItem::SetContact(ContactID, ContactInfo), ICalendarItem::GetSponsor(SponsorID, FromCalID).
enum EItemGroup : unsigned char { IG_NONE, IG_EVENT_SET_CONTACTS, IG_CALENDAR_SET_CONTACT, IG_CALENDAR_GET_SPONSOR };

template <typename TItem>
struct CItemSlot {
    EItemValue eValue = IV_NONE;
    EItemGroup eGroup = IG_NONE;
    int nOrder = 0;        // place of the call in its conversion, from 1; 0: none
    int nAgainOrder = 0;   // a second call of the same property, whose value is kept
    int nPart = 0;         // IV_GROUP: the argument's position
    HRESULT (STDMETHODCALLTYPE TItem::*pfnGetLong)(LONG*) = nullptr;
    HRESULT (STDMETHODCALLTYPE TItem::*pfnPutLong)(LONG) = nullptr;
    HRESULT (STDMETHODCALLTYPE TItem::*pfnGetByte)(BYTE*) = nullptr;
    HRESULT (STDMETHODCALLTYPE TItem::*pfnPutByte)(BYTE) = nullptr;
    HRESULT (STDMETHODCALLTYPE TItem::*pfnGetBool)(VARIANT_BOOL*) = nullptr;
    HRESULT (STDMETHODCALLTYPE TItem::*pfnPutBool)(VARIANT_BOOL) = nullptr;
    HRESULT (STDMETHODCALLTYPE TItem::*pfnGetText)(BSTR*) = nullptr;
    HRESULT (STDMETHODCALLTYPE TItem::*pfnPutText)(BSTR) = nullptr;
};

template <typename TRecord, typename TItem>
struct CRecordField {
    const WCHAR* pszColumn;   // its position in the table is its place in the array
    ERecordFieldType eType;
    size_t cbOffset;          // of the member in the record
    size_t cchText;           // RFT_TEXT: units of the member's array, terminator included
    EColumnRead eRead;
    EColumnInsert eInsert;
    EColumnUpdate eUpdate;
    CItemSlot<TItem> get;     // item to record
    CItemSlot<TItem> put;     // record to item
};

typedef CRecordField<tagEventRecord, IEventItem> CEventField;
typedef CRecordField<tagCalendarRecord, ICalendarItem> CCalendarField;

enum { EVENT_COLUMNS = 42, CALENDAR_COLUMNS = 17 };

extern const CEventField g_rgEventFields[EVENT_COLUMNS];
extern const CCalendarField g_rgCalendarFields[CALENDAR_COLUMNS];

// A calendar's owner as SetOwner takes it: its user for the personal types 0 and 1,
// its sponsor for the others.
DWORD CalendarOwnerOf(const tagCalendarRecord& rec);

// The member of a field, as its value widened to 32 bits by the field's type.
template <typename TRecord, typename TItem>
int32_t FieldInt(const TRecord& rec, const CRecordField<TRecord, TItem>& field)
{
    const unsigned char* pMember = reinterpret_cast<const unsigned char*>(&rec) + field.cbOffset;
    switch (field.eType) {
    case RFT_DWORD: return static_cast<int32_t>(*reinterpret_cast<const DWORD*>(pMember));
    case RFT_SCHAR: return static_cast<int32_t>(*reinterpret_cast<const signed char*>(pMember));
    case RFT_WORD: return static_cast<int32_t>(*reinterpret_cast<const WORD*>(pMember));
    default: return 0;
    }
}

// Stores the low bits of lValue that fit the member.
template <typename TRecord, typename TItem>
void SetFieldInt(TRecord& rec, const CRecordField<TRecord, TItem>& field, int32_t lValue)
{
    unsigned char* pMember = reinterpret_cast<unsigned char*>(&rec) + field.cbOffset;
    switch (field.eType) {
    case RFT_DWORD: *reinterpret_cast<DWORD*>(pMember) = static_cast<DWORD>(lValue); break;
    case RFT_SCHAR: *reinterpret_cast<signed char*>(pMember) = static_cast<signed char>(lValue & 0xFF); break;
    case RFT_WORD: *reinterpret_cast<WORD*>(pMember) = static_cast<WORD>(lValue & 0xFFFF); break;
    default: break;
    }
}

template <typename TRecord, typename TItem>
const WCHAR* FieldText(const TRecord& rec, const CRecordField<TRecord, TItem>& field)
{
    return reinterpret_cast<const WCHAR*>(reinterpret_cast<const unsigned char*>(&rec) + field.cbOffset);
}

template <typename TRecord, typename TItem>
WCHAR* FieldText(TRecord& rec, const CRecordField<TRecord, TItem>& field)
{
    return reinterpret_cast<WCHAR*>(reinterpret_cast<unsigned char*>(&rec) + field.cbOffset);
}
