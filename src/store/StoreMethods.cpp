// The data methods of IVxCalStoreData: writes from host items, deletes, batch
// switching, enumerations to the caller's visitors, and the identifier lookup.
#include <memory>

#include "store/VxCalStoreData.h"

namespace {

// A list operation's array, released with the call that matches its allocation.
template <typename TRecord>
struct CRecordArrayDeleter {
    void operator()(TRecord* pArray) const { FreeRecordArray(pArray); }
};
// Events read from the media at a time by an enumeration (about 19 KB each).
const int s_nEventsPerChunk = 64;

template <typename TRecord>
using CRecordArrayPtr = std::unique_ptr<TRecord, CRecordArrayDeleter<TRecord>>;

// The frame of the write methods: the item's interface, a zero-filled record
// filled from it, and the media's write. A missing item, or one that is not an
// item of the kind, is refused before the media is touched: its zero record would
// be saved under account 0 and empty the store at the next start.
template <typename TItem, typename TRecord, typename TConvert, typename TWrite>
HRESULT WriteFromItem(IUnknown* pSelf, IUnknown* pUnkItem, REFIID riid, TConvert convert, TWrite write)
{
    if (pUnkItem == nullptr) {
        return E_POINTER;
    }
    return ReportComErrors([&]() {
        // The item's properties are host code, which may release this object.
        const CComRef<IUnknown> spSelf(pSelf);
        CComRef<TItem> spItem;
        if (FAILED(spItem.QueryFrom(pUnkItem, riid)) || !spItem) {
            return E_NOINTERFACE;
        }
        std::unique_ptr<TRecord> pRec(new TRecord());
        // A property that fails leaves the rest of the record as it was: zero.
        convert(pRec.get(), spItem.Get());
        return write(pRec.get());
    });
}

}  // namespace

HRESULT CVxCalStoreData::ReportStoreFailure(HRESULT hr, REFIID riid)
{
    if (FAILED(hr)) {
        WString strCause = m_pStoreMedia != nullptr ? m_pStoreMedia->GetLastFailure() : WString();
        if (strCause.empty()) {
            strCause = m_bReady ? WStrFormatString(WTEXT("the store could not complete the call (0x%08X)"), hr)
                                : WString(WTEXT("the store is not started: no account database is open"));
        }
        SetStoreErrorInfo(riid, strCause);
    }
    return hr;
}

HRESULT CVxCalStoreData::InterfaceSupportsErrorInfo(REFIID riid)
{
    return riid == IID_IVxCalStoreData || riid == IID_IVxCalStoreConfig ? S_OK : S_FALSE;
}

// ---------------------------------------------------------------------------
// Writes

HRESULT CVxCalStoreData::AddCalendar(IUnknown* pCalItem)
{
    return WriteFromItem<ICalendarItem, tagCalendarRecord>(
        Self(), pCalItem, IID_ICalendarItem,
        [this](tagCalendarRecord* pRec, ICalendarItem* pItem) { CalItemToRecord(pRec, pItem); },
        [this](const tagCalendarRecord* pRec) { return ReportStoreFailure(GetStoreMedia()->SaveCalendar(pRec, 0)); });
}

HRESULT CVxCalStoreData::UpdateCalendar(IUnknown* pCalItem)
{
    return WriteFromItem<ICalendarItem, tagCalendarRecord>(
        Self(), pCalItem, IID_ICalendarItem,
        [this](tagCalendarRecord* pRec, ICalendarItem* pItem) { CalItemToRecord(pRec, pItem); },
        [this](const tagCalendarRecord* pRec) { return ReportStoreFailure(GetStoreMedia()->UpdateCalendar(pRec)); });
}

HRESULT CVxCalStoreData::AddCalEvent(IUnknown* pCalEvent)
{
    return WriteFromItem<IEventItem, tagEventRecord>(
        Self(), pCalEvent, IID_IEventItem,
        [](tagEventRecord* pRec, IEventItem* pItem) { EventItemToRecord(pRec, pItem); },
        [this](const tagEventRecord* pRec) { return ReportStoreFailure(GetStoreMedia()->SaveCalEvent(pRec, 0)); });
}

HRESULT CVxCalStoreData::UpdateCalEvent(IUnknown* pCalEvent)
{
    return WriteFromItem<IEventItem, tagEventRecord>(
        Self(), pCalEvent, IID_IEventItem,
        [](tagEventRecord* pRec, IEventItem* pItem) { EventItemToRecord(pRec, pItem); },
        [this](const tagEventRecord* pRec) { return ReportStoreFailure(GetStoreMedia()->UpdateCalEvent(pRec)); });
}

// ---------------------------------------------------------------------------
// Pass-through methods

HRESULT CVxCalStoreData::DelCalendar(ULONG dwCalID)
{
    return ReportComErrors([&]() { return ReportStoreFailure(GetStoreMedia()->DelCalendar(dwCalID, 0)); });
}

HRESULT CVxCalStoreData::DelCalEvent(ULONG dwCalID, ULONG dwEventID)
{
    return ReportComErrors([&]() { return ReportStoreFailure(GetStoreMedia()->DelCalEvent(dwCalID, dwEventID, 0)); });
}

HRESULT CVxCalStoreData::SetBatchMode(LONG bBatchMode)
{
    return ReportComErrors([&]() { return ReportStoreFailure(GetStoreMedia()->SetBatchMode(bBatchMode)); });
}

HRESULT CVxCalStoreData::DelAllEventofCalendar(ULONG dwCalID)
{
    return ReportComErrors([&]() { return ReportStoreFailure(GetStoreMedia()->DelAllEventofCalendar(dwCalID)); });
}

HRESULT CVxCalStoreData::IsOutlookIDExist(BSTR bstrID, VARIANT_BOOL* bExist)
{
    if (bExist == nullptr) {
        return E_INVALIDARG;
    }
    return ReportComErrors([&]() {
        const HRESULT hr = GetStoreMedia()->IsOutlookIDExist(bstrID);
        if (hr == S_OK || hr == S_FALSE) {
            *bExist = hr == S_OK ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        return ReportStoreFailure(hr);
    });
}

// ---------------------------------------------------------------------------
// Declared methods that do nothing

HRESULT CVxCalStoreData::GetAllEvent(IUnknown* /*pUnkEvtVisit*/)
{
    return S_OK;
}

HRESULT CVxCalStoreData::QueryCalendar(ENUM_STORE_QRURY_CALENDAR_TYPE /*enType*/, IUnknown* /*pVxData*/,
                                       IUnknown* /*pUnkCalVisit*/)
{
    return S_OK;
}

HRESULT CVxCalStoreData::QueryEvent(ULONG /*dwCalID*/, ENUM_STORE_QRURY_EVENT_TYPE /*enType*/, IUnknown* /*pVxData*/,
                                    IUnknown* /*pUnkEvtVisit*/)
{
    return S_OK;
}

HRESULT CVxCalStoreData::GetOneCalendar(ULONG /*dwCalID*/, IUnknown* /*pUnkCalItem*/)
{
    return S_OK;
}

HRESULT CVxCalStoreData::GetOneCalEvent(ULONG /*dwCalID*/, ULONG /*dwEvtID*/, IUnknown* /*pUnkEvtItem*/)
{
    return S_OK;
}

// ---------------------------------------------------------------------------
// Enumerations

HRESULT CVxCalStoreData::GetAllCalendar(IUnknown* pUnkCal)
{
    return ReportComErrors([&]() { return EnumerateCalendars(pUnkCal, true); });
}

HRESULT CVxCalStoreData::GetAllCalendarEx(BSTR bsCalType, BSTR /*bsFileName*/, IUnknown* pUnkCal)
{
    switch (DataSourceOf(bsCalType)) {
    case EDataSource::Database: return ReportComErrors([&]() { return EnumerateCalendars(pUnkCal, false); });
    case EDataSource::File: return S_OK;  // the file-based sources deliver nothing here
    case EDataSource::Unknown:
    default: return E_FAIL;
    }
}

HRESULT CVxCalStoreData::GetAllCalEvent(ULONG dwCalID, IUnknown* pUnkEvent)
{
    return ReportComErrors([&]() { return EnumerateEvents(pUnkEvent, EEventQuery::Calendar, dwCalID, 0, 0); });
}

HRESULT CVxCalStoreData::GetAllCalEventEx(BSTR bsCalType, BSTR /*bsFileName*/, ULONG dwCalID, IUnknown* pUnkEvent)
{
    switch (DataSourceOf(bsCalType)) {
    case EDataSource::Database:
        return ReportComErrors([&]() { return EnumerateEvents(pUnkEvent, EEventQuery::Calendar, dwCalID, 0, 0); });
    case EDataSource::File: return S_OK;
    case EDataSource::Unknown:
    default: return E_FAIL;
    }
}

HRESULT CVxCalStoreData::GetPeriodEvent(ULONG dwBegindTime, ULONG dwEndTime, IUnknown* pUnkVisit)
{
    // This form has no calendar argument: it always asks for calendar 0.
    return ReportComErrors(
        [&]() { return EnumerateEvents(pUnkVisit, EEventQuery::Period, 0, dwBegindTime, dwEndTime); });
}

HRESULT CVxCalStoreData::GetPeriodEventEx(ULONG dwBegindTime, ULONG dwEndTime, ULONG dwCalID, IUnknown* pUnkVisit)
{
    return ReportComErrors(
        [&]() { return EnumerateEvents(pUnkVisit, EEventQuery::Period, dwCalID, dwBegindTime, dwEndTime); });
}

HRESULT CVxCalStoreData::EnumerateCalendars(IUnknown* pUnkVisitor, bool bCheckAccount)
{
    if (!m_bReady) {
        return ReportStoreFailure(E_FAIL);
    }
    ICalendarKernel* pKernel = RequireHost(m_spKernel.Get(), IID_ICalendarKernel);
    // A visitor may release this object; it must outlive the loop.
    const CComRef<IUnknown> spSelf(Self());

    CComRef<ICalendarItemFactory> spFactory;
    CheckHost(pKernel->get_CalendarFactory(spFactory.Receive()), IID_ICalendarKernel, pKernel);
    if (!spFactory) {
        return E_FAIL;
    }
    tagCalendarRecord* pArray = nullptr;
    int nCount = 0;
    const HRESULT hrQuery = GetStoreMedia()->GetAllCalendar(&pArray, &nCount);
    if (FAILED(hrQuery)) {
        return ReportStoreFailure(E_FAIL);
    }
    CRecordArrayPtr<tagCalendarRecord> records(nCount > 0 ? pArray : nullptr);
    CComRef<ICalendarVisitor> spVisitor;
    spVisitor.QueryFrom(pUnkVisitor, IID_ICalendarVisitor);

    for (int i = 0; i < nCount; ++i) {
        // The database must hold only this account's calendars: anything else
        // empties the store.
        if (bCheckAccount && records.get()[i].dwUIN != m_dwUIN) {
            records.reset();
            GetStoreMedia()->DelAllCalendar();
            GetStoreMedia()->DelAllEvent();
            return S_OK;
        }
        CComRef<ICalendarItem> spItem;
        CheckHost(spFactory->CreateItem(spItem.Receive()), IID_ICalendarItemFactory, spFactory.Get());
        if (CalRecordToItem(&records.get()[i], spItem.Get()) != 0 && spVisitor) {
            LONG bStop = 0;
            CheckHost(spVisitor->Visit(spItem.Get(), &bStop), IID_ICalendarVisitor, spVisitor.Get());
            if (bStop != 0) {
                break;
            }
        }
    }
    return hrQuery;
}

HRESULT CVxCalStoreData::EnumerateEvents(IUnknown* pUnkVisitor, EEventQuery eQuery, DWORD dwCalID, DWORD dwBegin,
                                         DWORD dwEnd)
{
    if (!m_bReady) {
        return ReportStoreFailure(E_FAIL);
    }
    ICalendarKernel* pKernel = RequireHost(m_spKernel.Get(), IID_ICalendarKernel);
    const CComRef<IUnknown> spSelf(Self());

    CComRef<IEventItemFactory> spFactory;
    CheckHost(pKernel->get_EventFactory(spFactory.Receive()), IID_ICalendarKernel, pKernel);
    if (!spFactory) {
        return E_FAIL;
    }
    // A few records at a time: a large calendar at full record width would not fit
    // a host's address space. Between chunks the media is free, so a visitor may
    // write to the store.
    CEventChunkCursor cursor;
    cursor.bPeriod = eQuery == EEventQuery::Period;
    cursor.dwCalID = dwCalID;
    cursor.dwBeginTime = dwBegin;
    cursor.dwEndTime = dwEnd;
    std::unique_ptr<tagEventRecord[]> rgRecords(new tagEventRecord[s_nEventsPerChunk]);
    int nCount = 0;
    const HRESULT hrQuery = GetStoreMedia()->ReadEventChunk(cursor, rgRecords.get(), s_nEventsPerChunk, &nCount);
    if (FAILED(hrQuery)) {
        return ReportStoreFailure(E_FAIL);
    }
    CComRef<IEventVisitor> spVisitor;
    spVisitor.QueryFrom(pUnkVisitor, IID_IEventVisitor);

    for (;;) {
        for (int i = 0; i < nCount; ++i) {
            CComRef<IEventItem> spItem;
            CheckHost(spFactory->CreateItem(spItem.Receive()), IID_IEventItemFactory, spFactory.Get());
            if (EventRecordToItem(&rgRecords[i], spItem.Get()) != 0 && spVisitor) {
                LONG bStop = 0;
                CheckHost(spVisitor->Visit(spItem.Get(), &bStop), IID_IEventVisitor, spVisitor.Get());
                if (bStop != 0) {
                    return hrQuery;
                }
            }
        }
        if (cursor.bDone) {
            break;
        }
        if (FAILED(GetStoreMedia()->ReadEventChunk(cursor, rgRecords.get(), s_nEventsPerChunk, &nCount))) {
            return E_FAIL;
        }
    }
    return hrQuery;
}
