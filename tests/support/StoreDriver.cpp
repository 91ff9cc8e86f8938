#include "StoreDriver.h"

#include "store/VxCalStoreData.h"

namespace testing_support {

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

IUnknown* CStoreDriver::Item(fakehost::EFakeKind eKind, std::initializer_list<std::pair<int, LONG>> longs)
{
    fakehost::CFake& item = *m_items.emplace_back(new fakehost::CFake(eKind));
    for (const auto& [nSlot, lValue] : longs) {
        item.SetLong(nSlot, lValue);
    }
    return item.Unknown();
}

}  // namespace testing_support
