// A store object driven through its interfaces the way a host drives it, with
// the fake host's kernel, account and items: for tests and for the small writer
// process that the process tests start.
#pragma once

#include <memory>
#include <vector>

#include "FakeHost.h"
#include "brellin/VxCalStore.h"

namespace testing_support {

class CStoreDriver {
public:
    explicit CStoreDriver(ULONG dwUIN = 123);
    // Releases the store; its destruction commits a batch still open.
    ~CStoreDriver();
    CStoreDriver(const CStoreDriver&) = delete;
    CStoreDriver& operator=(const CStoreDriver&) = delete;

    bool Created() const { return m_pData != nullptr; }

    HRESULT Start() { return m_pSeq->StartSequence(m_host.Kernel()); }  // opens the file, the start-up batch begins
    HRESULT EndStartupBatch() { return m_pSeq->EndStartupBatch(); }
    HRESULT SetBatchMode(bool bOn) { return m_pData->SetBatchMode(bOn ? TRUE : FALSE); }
    HRESULT Stop() { return m_pSeq->StopSequence(); }
    HRESULT AddCalendar(LONG lCalID)
    {
        return m_pData->AddCalendar(Item(fakehost::EFakeKind::CalendarItem, {{fakehost::CAL_GET_CALID, lCalID}}));
    }
    HRESULT AddEvent(LONG lCalID, LONG lEvtID)
    {
        return m_pData->AddCalEvent(Item(fakehost::EFakeKind::EventItem, {{fakehost::EVT_GET_CALID, lCalID}, {fakehost::EVT_GET_EVTID, lEvtID}}));
    }
    HRESULT DelAllEventofCalendar(LONG lCalID) { return m_pData->DelAllEventofCalendar(ULONG(lCalID)); }
    HRESULT DelCalendar(LONG lCalID) { return m_pData->DelCalendar(ULONG(lCalID)); }

private:
    IUnknown* Item(fakehost::EFakeKind eKind, std::initializer_list<std::pair<int, LONG>> longs);

    fakehost::CFakeHost m_host;
    std::vector<std::unique_ptr<fakehost::CFake>> m_items;
    IVxCalStoreData* m_pData = nullptr;
    IExtendKernalSequence* m_pSeq = nullptr;
};

}  // namespace testing_support
