#include "StoreDriver.h"

#include "store/VxCalStoreData.h"

namespace testing_support {

using fakehost::EFakeKind;

CStoreDriver::CStoreDriver(ULONG dwUIN) : m_host(dwUIN)
{
    if (SUCCEEDED(CVxCalStoreData::CreateInstance(nullptr, IID_IVxCalStoreData, reinterpret_cast<void**>(&m_pData)))) {
        m_pData->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&m_pSeq));
    }
}

CStoreDriver::~CStoreDriver()
{
    if (m_pSeq != nullptr) {
        m_pSeq->Release();
    }
    if (m_pData != nullptr) {
        m_pData->Release();
    }
}

IUnknown* CStoreDriver::Item(EFakeKind eKind, std::initializer_list<std::pair<int, LONG>> longs)
{
    fakehost::CFake& item = *m_items.emplace_back(new fakehost::CFake(eKind));
    for (const auto& [nSlot, lValue] : longs) {
        item.SetLong(nSlot, lValue);
    }
    return item.Unknown();
}

HRESULT CStoreDriver::Start() { return m_pSeq->StartSequence(m_host.Kernel()); }
HRESULT CStoreDriver::EndStartupBatch() { return m_pSeq->EndStartupBatch(); }
HRESULT CStoreDriver::SetBatchMode(bool bOn) { return m_pData->SetBatchMode(bOn ? TRUE : FALSE); }
HRESULT CStoreDriver::Stop() { return m_pSeq->StopSequence(); }

HRESULT CStoreDriver::AddCalendar(LONG lCalID) { return m_pData->AddCalendar(Item(EFakeKind::CalendarItem, {{fakehost::CAL_GET_CALID, lCalID}})); }
HRESULT CStoreDriver::AddEvent(LONG lCalID, LONG lEvtID)
{
    return m_pData->AddCalEvent(Item(EFakeKind::EventItem, {{fakehost::EVT_GET_CALID, lCalID}, {fakehost::EVT_GET_EVTID, lEvtID}}));
}
HRESULT CStoreDriver::DelAllEventofCalendar(LONG lCalID) { return m_pData->DelAllEventofCalendar(ULONG(lCalID)); }
HRESULT CStoreDriver::DelCalendar(LONG lCalID) { return m_pData->DelCalendar(ULONG(lCalID)); }

}  // namespace testing_support
