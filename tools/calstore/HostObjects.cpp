#include "HostObjects.h"

// ---------------------------------------------------------------------------
// Property helpers

HRESULT CCalendarItem::Get(LONG lValue, LONG* p)
{
    if (p == nullptr) {
        return E_POINTER;
    }
    *p = lValue;
    return S_OK;
}

HRESULT CCalendarItem::Set(LONG& lField, LONG lValue)
{
    lField = lValue;
    return S_OK;
}

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

HRESULT CEventItem::GetByte(BYTE cValue, BYTE* p)
{
    if (p == nullptr) {
        return E_POINTER;
    }
    *p = cValue;
    return S_OK;
}

HRESULT CEventItem::SetByte(BYTE& cField, BYTE cValue)
{
    cField = cValue;
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
    if (p == nullptr) {
        return E_POINTER;
    }
    *p = data.bValid;
    return S_OK;
}

HRESULT CEventItem::put_Valid(VARIANT_BOOL b)
{
    data.bValid = b;
    return S_OK;
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

HRESULT CCalendarCollector::Visit(ICalendarItem* pItem, LONG* /*pbStop*/)
{
    // The items come from this host's own factory.
    auto* pOurs = dynamic_cast<CCalendarItem*>(pItem);
    if (pOurs == nullptr) {
        return E_INVALIDARG;
    }
    calendars.push_back(pOurs->data);
    return S_OK;
}

HRESULT CEventCollector::Visit(IEventItem* pItem, LONG* /*pbStop*/)
{
    auto* pOurs = dynamic_cast<CEventItem*>(pItem);
    if (pOurs == nullptr) {
        return E_INVALIDARG;
    }
    events.push_back(pOurs->data);
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
    if (pdwUIN == nullptr) {
        return E_POINTER;
    }
    *pdwUIN = m_dwUIN;
    return S_OK;
}

HRESULT CCalendarAccount::get_AltUIN(ULONG* pdwAltUIN)
{
    if (pdwAltUIN == nullptr) {
        return E_POINTER;
    }
    *pdwAltUIN = m_dwAltUIN;
    return S_OK;
}

HRESULT CCalendarAccount::get_Settings(IUnknown** ppSettings)
{
    if (ppSettings == nullptr) {
        return E_POINTER;
    }
    m_pSettings->AddRef();
    *ppSettings = static_cast<IAccountSettings*>(m_pSettings);
    return S_OK;
}

void* CCalendarAccount::OtherInterface(REFIID riid)
{
    return riid == IID_ICalendarVisitor ? static_cast<ICalendarVisitor*>(this) : nullptr;
}

HRESULT CCalendarAccount::Visit(ICalendarItem* pItem, LONG* /*pbStop*/)
{
    auto* pOurs = dynamic_cast<CCalendarItem*>(pItem);
    if (pOurs == nullptr) {
        return E_INVALIDARG;
    }
    m_startupCalendars.push_back(pOurs->data);
    return S_OK;
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
    if (ppFactory == nullptr) {
        return E_POINTER;
    }
    m_pCalendarFactory->AddRef();
    *ppFactory = m_pCalendarFactory;
    return S_OK;
}

HRESULT CCalendarKernel::get_EventFactory(IEventItemFactory** ppFactory)
{
    if (ppFactory == nullptr) {
        return E_POINTER;
    }
    m_pEventFactory->AddRef();
    *ppFactory = m_pEventFactory;
    return S_OK;
}

HRESULT CCalendarKernel::get_Account(ICalendarAccount** ppAccount)
{
    if (ppAccount == nullptr) {
        return E_POINTER;
    }
    m_pAccount->AddRef();
    *ppAccount = m_pAccount;
    return S_OK;
}
