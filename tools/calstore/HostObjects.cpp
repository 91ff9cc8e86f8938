#include "HostObjects.h"

// ---------------------------------------------------------------------------
// Property helpers

HRESULT CCalendarItem::GetText(const WString& str, BSTR* p)
{
    if (p == nullptr) {
        return E_POINTER;
    }
    *p = SysAllocStringLen(str.data(), static_cast<UINT>(str.size()));
    return *p != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CCalendarItem::SetText(WString& str, BSTR bs)
{
    str.assign(bs != nullptr ? bs : WTEXT(""), SysStringLen(bs));
    return S_OK;
}

// ---------------------------------------------------------------------------
// Items

HRESULT CCalendarItem::SetContact(BSTR bsContactID, BSTR bsContactInfo)
{
    SetText(data.strContactID, bsContactID);
    return SetText(data.strContactInfo, bsContactInfo);
}

HRESULT CCalendarItem::SetOwner(LONG lOwnerUIN, LONG lFromCalID)
{
    data.lOwner = lOwnerUIN;
    data.lFromCalID = lFromCalID;
    return S_OK;
}

HRESULT CCalendarItem::GetSponsor(LONG* plSponsorID, LONG* plFromCalID)
{
    if (plSponsorID == nullptr || plFromCalID == nullptr) {
        return E_POINTER;
    }
    *plSponsorID = data.lSponsorID;
    *plFromCalID = data.lFromCalID;
    return S_OK;
}

HRESULT CEventItem::get_Valid(VARIANT_BOOL* p)
{
    return GetProperty(data.bValid, p);
}

HRESULT CEventItem::put_Valid(VARIANT_BOOL b)
{
    return SetProperty(data.bValid, b);
}

HRESULT CEventItem::SetContacts(BSTR bsContactID, BSTR bsContactInfo, BSTR bsContactIDInvalid, BSTR bsContactIDDisplay)
{
    CCalendarItem::SetText(data.strContactID, bsContactID);
    CCalendarItem::SetText(data.strContactInfo, bsContactInfo);
    CCalendarItem::SetText(data.strContactIDInvalid, bsContactIDInvalid);
    return CCalendarItem::SetText(data.strContactIDDisplay, bsContactIDDisplay);
}

// ---------------------------------------------------------------------------
// Settings and visitors

HRESULT CAccountSettings::GetByteValue(BSTR bsName, BYTE* pcValue)
{
    if (pcValue == nullptr) {
        return E_POINTER;
    }
    std::string strName;
    WStrToUtf8(bsName != nullptr ? bsName : WTEXT(""), strName);
    const auto it = m_values.find(strName);
    if (it == m_values.end()) {
        return E_INVALIDARG;
    }
    *pcValue = it->second;
    return S_OK;
}

HRESULT CEventFinder::Visit(IEventItem* pItem, LONG* pbStop)
{
    auto* pOurs = dynamic_cast<CEventItem*>(pItem);
    if (pOurs == nullptr) {
        return E_INVALIDARG;
    }
    if (ULONG(pOurs->data.lEvtID) == m_dwEvtID) {
        found = pOurs->data;
        bFound = true;
        if (pbStop != nullptr) {
            *pbStop = 1;
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// Account and kernel

CCalendarAccount::CCalendarAccount(ULONG dwUIN, ULONG dwAltUIN)
    : m_dwUIN(dwUIN), m_dwAltUIN(dwAltUIN), m_pSettings(new CAccountSettings())
{
    m_pSettings->AddRef();
    m_pSettings->SetValue("cStoreMode", 0);
}

CCalendarAccount::~CCalendarAccount()
{
    m_pSettings->Release();
}

HRESULT CCalendarAccount::get_UIN(ULONG* pdwUIN)
{
    return GetProperty(m_dwUIN, pdwUIN);
}

HRESULT CCalendarAccount::get_AltUIN(ULONG* pdwAltUIN)
{
    return GetProperty(m_dwAltUIN, pdwAltUIN);
}

HRESULT CCalendarAccount::get_Settings(IUnknown** ppSettings)
{
    return HandOut<IUnknown>(static_cast<IAccountSettings*>(m_pSettings), ppSettings);
}

void* CCalendarAccount::OtherInterface(REFIID riid)
{
    return riid == IID_ICalendarVisitor ? static_cast<ICalendarVisitor*>(this) : nullptr;
}

HRESULT CCalendarAccount::Visit(ICalendarItem* pItem, LONG* /*pbStop*/)
{
    return CollectData<CCalendarItem>(pItem, m_startupCalendars);
}

CCalendarKernel::CCalendarKernel(ULONG dwUIN, ULONG dwAltUIN)
    : m_pAccount(new CCalendarAccount(dwUIN, dwAltUIN)),
      m_pCalendarFactory(new CCalendarItemFactory()),
      m_pEventFactory(new CEventItemFactory())
{
    m_pAccount->AddRef();
    m_pCalendarFactory->AddRef();
    m_pEventFactory->AddRef();
}

CCalendarKernel::~CCalendarKernel()
{
    m_pAccount->Release();
    m_pCalendarFactory->Release();
    m_pEventFactory->Release();
}

HRESULT CCalendarKernel::get_CalendarFactory(ICalendarItemFactory** ppFactory)
{
    return HandOut<ICalendarItemFactory>(m_pCalendarFactory, ppFactory);
}

HRESULT CCalendarKernel::get_EventFactory(IEventItemFactory** ppFactory)
{
    return HandOut<IEventItemFactory>(m_pEventFactory, ppFactory);
}

HRESULT CCalendarKernel::get_Account(ICalendarAccount** ppAccount)
{
    return HandOut<ICalendarAccount>(m_pAccount, ppAccount);
}
