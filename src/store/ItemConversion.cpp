// Copying values between the host's calendar and event items and records, call by
// call in the order the record descriptions give. The first failing host call ends
// a conversion, which then reports 0; what was copied before stays.
#include <map>
#include <memory>
#include <type_traits>
#include <vector>

#include "media/RecordFields.h"
#include "store/VxCalStoreData.h"

namespace {

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

// One call of the item; a failure is raised as the host's.
template <typename TItem, typename TArg, typename TValue>
void Call(TItem* pItem, HRESULT (STDMETHODCALLTYPE TItem::*pfn)(TArg), TValue value)
{
    CheckHost((pItem->*pfn)(value), IidOf<TItem>(), pItem);
}

// A read of one value; the out value starts at 0.
template <typename TValue, typename TItem>
TValue Get(TItem* pItem, HRESULT (STDMETHODCALLTYPE TItem::*pfnGet)(TValue*))
{
    TValue value = 0;
    Call(pItem, pfnGet, &value);
    return value;
}

// A text read into a record field, cut at the field's bound; no string reads as
// the empty text.
template <typename TItem>
void GetTextInto(TItem* pItem, HRESULT (STDMETHODCALLTYPE TItem::*pfnGet)(BSTR*), WCHAR* pszField, size_t cchField)
{
    CBstr bsValue;
    Call(pItem, pfnGet, bsValue.Receive());
    WStrCopyN(pszField, cchField, bsValue.Text());
}

// One call of a conversion and the fields it carries, by argument position.
template <typename TRecord, typename TItem>
struct CConversionStep {
    const CRecordField<TRecord, TItem>* pField = nullptr;  // a call for one field
    EItemGroup eGroup = IG_NONE;
    std::vector<const CRecordField<TRecord, TItem>*> parts;  // a call for several
};

// The calls of one direction in their order, as the description gives them.
template <typename TRecord, typename TItem, size_t N>
std::vector<CConversionStep<TRecord, TItem>> StepsOf(const CRecordField<TRecord, TItem> (&rgFields)[N], bool bGet)
{
    std::map<int, CConversionStep<TRecord, TItem>> steps;
    for (const CRecordField<TRecord, TItem>& field : rgFields) {
        const CItemSlot<TItem>& slot = bGet ? field.get : field.put;
        if (slot.eValue == IV_NONE) {
            continue;
        }
        CConversionStep<TRecord, TItem>& step = steps[slot.nOrder];
        if (slot.eValue == IV_GROUP) {
            step.eGroup = slot.eGroup;
            if (step.parts.size() <= static_cast<size_t>(slot.nPart)) {
                step.parts.resize(static_cast<size_t>(slot.nPart) + 1, nullptr);
            }
            step.parts[static_cast<size_t>(slot.nPart)] = &field;
        } else {
            step.pField = &field;
        }
        if (slot.nAgainOrder != 0) {
            steps[slot.nAgainOrder].pField = &field;
        }
    }
    std::vector<CConversionStep<TRecord, TItem>> ordered;
    for (const auto& entry : steps) {
        ordered.push_back(entry.second);
    }
    return ordered;
}

// Writes the record's values to the item, call by call.
template <typename TRecord, typename TItem, size_t N, typename TAccount>
void RecordToItem(const TRecord& rec, TItem* pItem, const CRecordField<TRecord, TItem> (&rgFields)[N], TAccount account)
{
    static const std::vector<CConversionStep<TRecord, TItem>> s_steps = StepsOf(rgFields, false);
    for (const CConversionStep<TRecord, TItem>& step : s_steps) {
        if (step.eGroup != IG_NONE) {
            std::vector<std::unique_ptr<CBstr>> texts;
            for (const CRecordField<TRecord, TItem>* pPart : step.parts) {
                texts.emplace_back(new CBstr(FieldText(rec, *pPart)));
            }
            HRESULT hr = E_UNEXPECTED;
            if constexpr (std::is_same<TItem, IEventItem>::value) {
                hr = pItem->SetContacts(texts.at(0)->Get(), texts.at(1)->Get(), texts.at(2)->Get(), texts.at(3)->Get());
            } else {
                hr = pItem->SetContact(texts.at(0)->Get(), texts.at(1)->Get());
            }
            CheckHost(hr, IidOf<TItem>(), pItem);
            continue;
        }
        const CRecordField<TRecord, TItem>& field = *step.pField;
        const CItemSlot<TItem>& slot = field.put;
        const int32_t lValue = FieldInt(rec, field);
        switch (slot.eValue) {
        case IV_LONG: Call(pItem, slot.pfnPutLong, LONG(lValue)); break;
        case IV_LONG_SIGNED16: Call(pItem, slot.pfnPutLong, LONG(WORD(SHORT(lValue)))); break;
        case IV_OWNER_OR_ACCOUNT:
            Call(pItem, slot.pfnPutLong, lValue != 0 ? LONG(lValue) : LONG(account()));
            break;
        case IV_BYTE: Call(pItem, slot.pfnPutByte, BYTE(lValue & 0xFF)); break;
        case IV_BOOL: Call(pItem, slot.pfnPutBool, lValue != 0 ? VARIANT_TRUE : VARIANT_FALSE); break;
        case IV_TEXT: Call(pItem, slot.pfnPutText, CBstr(FieldText(rec, field)).Get()); break;
        case IV_WITH_OWNER:
            if constexpr (std::is_same<TItem, ICalendarItem>::value) {
                CheckHost(pItem->SetOwner(LONG(CalendarOwnerOf(rec)), LONG(lValue)), IidOf<TItem>(), pItem);
            }
            break;
        default: break;
        }
    }
}

// Reads the item's values into the record, call by call.
template <typename TRecord, typename TItem, size_t N, typename TAccount>
void ItemToRecord(TRecord& rec, TItem* pItem, const CRecordField<TRecord, TItem> (&rgFields)[N], TAccount account)
{
    static const std::vector<CConversionStep<TRecord, TItem>> s_steps = StepsOf(rgFields, true);
    for (const CConversionStep<TRecord, TItem>& step : s_steps) {
        if (step.eGroup != IG_NONE) {
            if constexpr (std::is_same<TItem, ICalendarItem>::value) {
                LONG lFirst = 0;
                LONG lSecond = 0;
                CheckHost(pItem->GetSponsor(&lFirst, &lSecond), IidOf<TItem>(), pItem);
                SetFieldInt(rec, *step.parts.at(0), lFirst);
                SetFieldInt(rec, *step.parts.at(1), lSecond);
            }
            continue;
        }
        const CRecordField<TRecord, TItem>& field = *step.pField;
        const CItemSlot<TItem>& slot = field.get;
        switch (slot.eValue) {
        case IV_LONG: SetFieldInt(rec, field, Get(pItem, slot.pfnGetLong)); break;
        case IV_ACCOUNT: SetFieldInt(rec, field, int32_t(account())); break;
        case IV_BYTE:
            // A byte is signed; a 16-bit field takes it sign-extended.
            SetFieldInt(rec, field, int32_t(static_cast<signed char>(Get(pItem, slot.pfnGetByte))));
            break;
        case IV_BOOL:
            SetFieldInt(rec, field, 1);
            if (Get(pItem, slot.pfnGetBool) == VARIANT_FALSE) {
                SetFieldInt(rec, field, 0);
            }
            break;
        case IV_TEXT: GetTextInto(pItem, slot.pfnGetText, FieldText(rec, field), field.cchText); break;
        default: break;
        }
    }
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

DWORD NoAccount()
{
    return 0;
}

}  // namespace

int CalRecordToItem(const tagCalendarRecord* pRec, ICalendarItem* pItem)
{
    if (pRec == nullptr || pItem == nullptr) {
        return 0;
    }
    return Convert([&]() { RecordToItem(*pRec, pItem, g_rgCalendarFields, NoAccount); });
}

int CVxCalStoreData::CalItemToRecord(tagCalendarRecord* pRec, ICalendarItem* pItem)
{
    if (pRec == nullptr || pItem == nullptr) {
        return 0;
    }
    return Convert([&]() { ItemToRecord(*pRec, pItem, g_rgCalendarFields, [this]() { return m_dwUIN; }); });
}

int CVxCalStoreData::EventRecordToItem(const tagEventRecord* pRec, IEventItem* pItem)
{
    if (pRec == nullptr || pItem == nullptr) {
        return 0;
    }
    // An event without an owner goes out as the signed-in account's.
    return Convert(
        [&]() { RecordToItem(*pRec, pItem, g_rgEventFields, [this]() { return AccountUINOrAltUIN(); }); });
}

int EventItemToRecord(tagEventRecord* pRec, IEventItem* pItem)
{
    if (pRec == nullptr || pItem == nullptr) {
        return 0;
    }
    return Convert([&]() { ItemToRecord(*pRec, pItem, g_rgEventFields, NoAccount); });
}
