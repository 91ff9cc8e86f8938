// The host's side of the component: a kernel with its account, settings, item
// factories and items, and visitors that collect what an enumeration delivers.
// These are ordinary COM objects in C++; the component reaches them only through
// the interfaces of host/CalendarKernel.h.
#pragma once

#include <map>
#include <new>
#include <string>
#include <vector>

#include "host/CalendarKernel.h"

// Hands out a reference to an object the host keeps.
template <typename TInterface>
HRESULT HandOut(TInterface* pObject, TInterface** pp)
{
    if (pp == nullptr) {
        return E_POINTER;
    }
    pObject->AddRef();
    *pp = pObject;
    return S_OK;
}

#define CALSTORE_RESERVED(n)                         \
    HRESULT STDMETHODCALLTYPE Reserved##n() override \
    {                                                \
        return E_NOTIMPL;                            \
    }

// Reference counting, QueryInterface and an IDispatch that offers no late binding,
// for a host object whose main interface is TInterface.
template <typename TInterface>
class CHostObject : public TInterface {
public:
    CHostObject() = default;
    CHostObject(const CHostObject&) = delete;
    CHostObject& operator=(const CHostObject&) = delete;
    virtual ~CHostObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override
    {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        if (riid == IID_IUnknown || riid == InterfaceId() || (riid == IID_IDispatch && IsDispatch())) {
            *ppvObject = static_cast<TInterface*>(this);
        } else {
            *ppvObject = OtherInterface(riid);
        }
        if (*ppvObject == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG cRef = --m_cRef;
        if (cRef == 0) {
            delete this;
        }
        return cRef;
    }

protected:
    virtual const IID& InterfaceId() const = 0;
    virtual bool IsDispatch() const { return true; }
    // A further interface the object answers; null when none.
    virtual void* OtherInterface(REFIID /*riid*/) { return nullptr; }

private:
    ULONG m_cRef = 0;
};

// IDispatch for the host objects: they are called through their vtables only.
#define CALSTORE_NO_LATE_BINDING                                                                                    \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override                                              \
    {                                                                                                               \
        if (pctinfo != nullptr) {                                                                                   \
            *pctinfo = 0;                                                                                           \
        }                                                                                                           \
        return pctinfo != nullptr ? S_OK : E_POINTER;                                                               \
    }                                                                                                               \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override                                         \
    {                                                                                                               \
        return E_NOTIMPL;                                                                                           \
    }                                                                                                               \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override                        \
    {                                                                                                               \
        return E_NOTIMPL;                                                                                           \
    }                                                                                                               \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override \
    {                                                                                                               \
        return E_NOTIMPL;                                                                                           \
    }

// A property read: a null out pointer is refused.
template <typename T>
HRESULT GetProperty(const T& value, T* p)
{
    if (p == nullptr) {
        return E_POINTER;
    }
    *p = value;
    return S_OK;
}

template <typename T>
HRESULT SetProperty(T& field, T value)
{
    field = value;
    return S_OK;
}

// What the host knows of a calendar.
struct CCalendarData {
    LONG lUIN = 0;
    LONG lCalID = 0;
    LONG lCalType = 0;
    LONG lShrLevel = 0;
    LONG lTmStamp = 0;
    LONG lSponsorID = 0;
    LONG lFromCalID = 0;
    LONG lOwner = 0;
    WString strSubject;
    WString strDetail;
    WString strContactID;
    WString strContactInfo;
    WString strExt1;
};

// What the host knows of an event.
struct CEventData {
    LONG lCalID = 0;
    LONG lEvtID = 0;
    LONG lEvtType = 0;
    LONG lBgnTm = 0;
    LONG lEndTm = 0;
    LONG lTmStamp = 0;
    BYTE cTipType = 0;
    LONG lDay = 0;
    BYTE cWeek = 0;
    BYTE cMonth = 0;
    LONG lLoopType = 0;
    LONG lSynchronized = 0;
    LONG lRevisedState = 0;
    LONG lRemindMinute = 0;
    VARIANT_BOOL bValid = VARIANT_TRUE;
    LONG lSponsorID = 0;
    BYTE cWeekNum = 0;
    LONG lCalType = 0;
    LONG lEndType = 0;
    LONG lLoopCalID = 0;
    LONG lLoopEventID = 0;
    LONG lEventRight = 0;
    LONG lCalOwnerUin = 0;
    LONG lEventStatus = 0;
    WString strSubject;
    WString strDetail;
    WString strLocation;
    WString strContactID;
    WString strContactInfo;
    WString strContactIDDisplay;
    WString strContactIDInvalid;
    WString strExt3;
};

class CCalendarItem final : public CHostObject<ICalendarItem> {
public:
    CCalendarData data;

    CALSTORE_NO_LATE_BINDING
    CALSTORE_RESERVED(7)
    HRESULT STDMETHODCALLTYPE put_UIN(LONG l) override { return SetProperty(data.lUIN, l); }
    HRESULT STDMETHODCALLTYPE get_CalType(LONG* p) override { return GetProperty(data.lCalType, p); }
    HRESULT STDMETHODCALLTYPE put_CalType(LONG l) override { return SetProperty(data.lCalType, l); }
    HRESULT STDMETHODCALLTYPE get_CalID(LONG* p) override { return GetProperty(data.lCalID, p); }
    HRESULT STDMETHODCALLTYPE put_CalID(LONG l) override { return SetProperty(data.lCalID, l); }
    HRESULT STDMETHODCALLTYPE get_ShrLevel(LONG* p) override { return GetProperty(data.lShrLevel, p); }
    HRESULT STDMETHODCALLTYPE put_ShrLevel(LONG l) override { return SetProperty(data.lShrLevel, l); }
    HRESULT STDMETHODCALLTYPE get_TmStamp(LONG* p) override { return GetProperty(data.lTmStamp, p); }
    HRESULT STDMETHODCALLTYPE put_TmStamp(LONG l) override { return SetProperty(data.lTmStamp, l); }
    HRESULT STDMETHODCALLTYPE get_Subject(BSTR* p) override { return GetText(data.strSubject, p); }
    HRESULT STDMETHODCALLTYPE put_Subject(BSTR bs) override { return SetText(data.strSubject, bs); }
    HRESULT STDMETHODCALLTYPE get_Ext1(BSTR* p) override { return GetText(data.strExt1, p); }
    HRESULT STDMETHODCALLTYPE put_Ext1(BSTR bs) override { return SetText(data.strExt1, bs); }
    HRESULT STDMETHODCALLTYPE get_Detail(BSTR* p) override { return GetText(data.strDetail, p); }
    HRESULT STDMETHODCALLTYPE put_Detail(BSTR bs) override { return SetText(data.strDetail, bs); }
    CALSTORE_RESERVED(23)
    CALSTORE_RESERVED(24)
    CALSTORE_RESERVED(25)
    CALSTORE_RESERVED(26)
    CALSTORE_RESERVED(27)
    CALSTORE_RESERVED(28)
    CALSTORE_RESERVED(29)
    CALSTORE_RESERVED(30)
    CALSTORE_RESERVED(31)
    HRESULT STDMETHODCALLTYPE get_ContactID(BSTR* p) override { return GetText(data.strContactID, p); }
    HRESULT STDMETHODCALLTYPE get_ContactInfo(BSTR* p) override { return GetText(data.strContactInfo, p); }
    CALSTORE_RESERVED(34)
    CALSTORE_RESERVED(35)
    CALSTORE_RESERVED(36)
    HRESULT STDMETHODCALLTYPE SetContact(BSTR bsContactID, BSTR bsContactInfo) override;
    HRESULT STDMETHODCALLTYPE SetOwner(LONG lOwnerUIN, LONG lFromCalID) override;
    HRESULT STDMETHODCALLTYPE GetSponsor(LONG* plSponsorID, LONG* plFromCalID) override;

    static HRESULT GetText(const WString& str, BSTR* p);
    static HRESULT SetText(WString& str, BSTR bs);

protected:
    const IID& InterfaceId() const override { return IID_ICalendarItem; }
};

class CEventItem final : public CHostObject<IEventItem> {
public:
    CEventData data;

    CALSTORE_NO_LATE_BINDING
    HRESULT STDMETHODCALLTYPE get_CalID(LONG* p) override { return GetProperty(data.lCalID, p); }
    HRESULT STDMETHODCALLTYPE put_CalID(LONG l) override { return SetProperty(data.lCalID, l); }
    HRESULT STDMETHODCALLTYPE get_EvtID(LONG* p) override { return GetProperty(data.lEvtID, p); }
    HRESULT STDMETHODCALLTYPE put_EvtID(LONG l) override { return SetProperty(data.lEvtID, l); }
    HRESULT STDMETHODCALLTYPE get_EvtType(LONG* p) override { return GetProperty(data.lEvtType, p); }
    HRESULT STDMETHODCALLTYPE put_EvtType(LONG l) override { return SetProperty(data.lEvtType, l); }
    HRESULT STDMETHODCALLTYPE get_BgnTm(LONG* p) override { return GetProperty(data.lBgnTm, p); }
    HRESULT STDMETHODCALLTYPE put_BgnTm(LONG l) override { return SetProperty(data.lBgnTm, l); }
    HRESULT STDMETHODCALLTYPE get_EndTm(LONG* p) override { return GetProperty(data.lEndTm, p); }
    HRESULT STDMETHODCALLTYPE put_EndTm(LONG l) override { return SetProperty(data.lEndTm, l); }
    HRESULT STDMETHODCALLTYPE get_TmStamp(LONG* p) override { return GetProperty(data.lTmStamp, p); }
    HRESULT STDMETHODCALLTYPE put_TmStamp(LONG l) override { return SetProperty(data.lTmStamp, l); }
    HRESULT STDMETHODCALLTYPE get_TipType(BYTE* p) override { return GetProperty<BYTE>(data.cTipType, p); }
    HRESULT STDMETHODCALLTYPE put_TipType(BYTE c) override { return SetProperty<BYTE>(data.cTipType, c); }
    HRESULT STDMETHODCALLTYPE get_Day(LONG* p) override { return GetProperty(data.lDay, p); }
    HRESULT STDMETHODCALLTYPE put_Day(LONG l) override { return SetProperty(data.lDay, l); }
    HRESULT STDMETHODCALLTYPE get_Week(BYTE* p) override { return GetProperty<BYTE>(data.cWeek, p); }
    HRESULT STDMETHODCALLTYPE put_Week(BYTE c) override { return SetProperty<BYTE>(data.cWeek, c); }
    HRESULT STDMETHODCALLTYPE get_Month(BYTE* p) override { return GetProperty<BYTE>(data.cMonth, p); }
    HRESULT STDMETHODCALLTYPE put_Month(BYTE c) override { return SetProperty<BYTE>(data.cMonth, c); }
    HRESULT STDMETHODCALLTYPE get_LoopType(LONG* p) override { return GetProperty(data.lLoopType, p); }
    HRESULT STDMETHODCALLTYPE put_LoopType(LONG l) override { return SetProperty(data.lLoopType, l); }
    HRESULT STDMETHODCALLTYPE get_Subject(BSTR* p) override { return CCalendarItem::GetText(data.strSubject, p); }
    HRESULT STDMETHODCALLTYPE put_Subject(BSTR bs) override { return CCalendarItem::SetText(data.strSubject, bs); }
    HRESULT STDMETHODCALLTYPE get_Detail(BSTR* p) override { return CCalendarItem::GetText(data.strDetail, p); }
    HRESULT STDMETHODCALLTYPE put_Detail(BSTR bs) override { return CCalendarItem::SetText(data.strDetail, bs); }
    HRESULT STDMETHODCALLTYPE get_Synchronized(LONG* p) override { return GetProperty(data.lSynchronized, p); }
    HRESULT STDMETHODCALLTYPE put_Synchronized(LONG l) override { return SetProperty(data.lSynchronized, l); }
    HRESULT STDMETHODCALLTYPE get_RevisedState(LONG* p) override { return GetProperty(data.lRevisedState, p); }
    HRESULT STDMETHODCALLTYPE put_RevisedState(LONG l) override { return SetProperty(data.lRevisedState, l); }
    CALSTORE_RESERVED(37)
    CALSTORE_RESERVED(38)
    CALSTORE_RESERVED(39)
    HRESULT STDMETHODCALLTYPE get_RemindMinute(LONG* p) override { return GetProperty(data.lRemindMinute, p); }
    HRESULT STDMETHODCALLTYPE put_RemindMinute(LONG l) override { return SetProperty(data.lRemindMinute, l); }
    HRESULT STDMETHODCALLTYPE get_ContactID(BSTR* p) override { return CCalendarItem::GetText(data.strContactID, p); }
    HRESULT STDMETHODCALLTYPE get_ContactInfo(BSTR* p) override
    {
        return CCalendarItem::GetText(data.strContactInfo, p);
    }
    HRESULT STDMETHODCALLTYPE get_Location(BSTR* p) override { return CCalendarItem::GetText(data.strLocation, p); }
    HRESULT STDMETHODCALLTYPE put_Location(BSTR bs) override { return CCalendarItem::SetText(data.strLocation, bs); }
    HRESULT STDMETHODCALLTYPE get_Valid(VARIANT_BOOL* p) override;
    HRESULT STDMETHODCALLTYPE put_Valid(VARIANT_BOOL b) override;
    HRESULT STDMETHODCALLTYPE get_SponsorID(LONG* p) override { return GetProperty(data.lSponsorID, p); }
    HRESULT STDMETHODCALLTYPE put_SponsorID(LONG l) override { return SetProperty(data.lSponsorID, l); }
    HRESULT STDMETHODCALLTYPE get_WeekNum(BYTE* p) override { return GetProperty<BYTE>(data.cWeekNum, p); }
    HRESULT STDMETHODCALLTYPE put_WeekNum(BYTE c) override { return SetProperty<BYTE>(data.cWeekNum, c); }
    HRESULT STDMETHODCALLTYPE get_CalType(LONG* p) override { return GetProperty(data.lCalType, p); }
    HRESULT STDMETHODCALLTYPE put_CalType(LONG l) override { return SetProperty(data.lCalType, l); }
    HRESULT STDMETHODCALLTYPE get_EndType(LONG* p) override { return GetProperty(data.lEndType, p); }
    HRESULT STDMETHODCALLTYPE put_EndType(LONG l) override { return SetProperty(data.lEndType, l); }
    CALSTORE_RESERVED(56)
    HRESULT STDMETHODCALLTYPE get_LoopCalID(LONG* p) override { return GetProperty(data.lLoopCalID, p); }
    HRESULT STDMETHODCALLTYPE put_LoopCalID(LONG l) override { return SetProperty(data.lLoopCalID, l); }
    HRESULT STDMETHODCALLTYPE get_LoopEventID(LONG* p) override { return GetProperty(data.lLoopEventID, p); }
    HRESULT STDMETHODCALLTYPE put_LoopEventID(LONG l) override { return SetProperty(data.lLoopEventID, l); }
    CALSTORE_RESERVED(61)
    HRESULT STDMETHODCALLTYPE get_EventRight(LONG* p) override { return GetProperty(data.lEventRight, p); }
    HRESULT STDMETHODCALLTYPE put_EventRight(LONG l) override { return SetProperty(data.lEventRight, l); }
    HRESULT STDMETHODCALLTYPE get_ContactIDDisplay(BSTR* p) override
    {
        return CCalendarItem::GetText(data.strContactIDDisplay, p);
    }
    HRESULT STDMETHODCALLTYPE get_ContactIDInvalid(BSTR* p) override
    {
        return CCalendarItem::GetText(data.strContactIDInvalid, p);
    }
    HRESULT STDMETHODCALLTYPE SetContacts(BSTR bsContactID, BSTR bsContactInfo, BSTR bsContactIDInvalid,
                                          BSTR bsContactIDDisplay) override;
    CALSTORE_RESERVED(67)
    HRESULT STDMETHODCALLTYPE get_CalOwnerUin(LONG* p) override { return GetProperty(data.lCalOwnerUin, p); }
    HRESULT STDMETHODCALLTYPE put_CalOwnerUin(LONG l) override { return SetProperty(data.lCalOwnerUin, l); }
    HRESULT STDMETHODCALLTYPE get_EventStatus(LONG* p) override { return GetProperty(data.lEventStatus, p); }
    HRESULT STDMETHODCALLTYPE put_EventStatus(LONG l) override { return SetProperty(data.lEventStatus, l); }
    CALSTORE_RESERVED(72)
    CALSTORE_RESERVED(73)
    CALSTORE_RESERVED(74)
    HRESULT STDMETHODCALLTYPE get_Ext3(BSTR* p) override { return CCalendarItem::GetText(data.strExt3, p); }

protected:
    const IID& InterfaceId() const override { return IID_IEventItem; }
};

// A factory of new, empty items: TItem answers TItemInterface.
template <typename TFactoryInterface, const IID& riidFactory, typename TItemInterface, typename TItem>
class CItemFactory final : public CHostObject<TFactoryInterface> {
public:
    CALSTORE_NO_LATE_BINDING
    CALSTORE_RESERVED(7)
    CALSTORE_RESERVED(8)
    CALSTORE_RESERVED(9)
    CALSTORE_RESERVED(10)
    CALSTORE_RESERVED(11)
    CALSTORE_RESERVED(12)
    HRESULT STDMETHODCALLTYPE CreateItem(TItemInterface** ppItem) override
    {
        if (ppItem == nullptr) {
            return E_POINTER;
        }
        auto* pItem = new (std::nothrow) TItem();
        if (pItem == nullptr) {
            return E_OUTOFMEMORY;
        }
        pItem->AddRef();
        *ppItem = pItem;
        return S_OK;
    }

protected:
    const IID& InterfaceId() const override { return riidFactory; }
};

typedef CItemFactory<ICalendarItemFactory, IID_ICalendarItemFactory, ICalendarItem, CCalendarItem> CCalendarItemFactory;
typedef CItemFactory<IEventItemFactory, IID_IEventItemFactory, IEventItem, CEventItem> CEventItemFactory;

// The account's settings: named byte values.
class CAccountSettings final : public CHostObject<IAccountSettings> {
public:
    void SetValue(const char* pszName, BYTE cValue) { m_values[pszName] = cValue; }

    CALSTORE_NO_LATE_BINDING
    CALSTORE_RESERVED(7)
    HRESULT STDMETHODCALLTYPE GetByteValue(BSTR bsName, BYTE* pcValue) override;

protected:
    const IID& InterfaceId() const override { return IID_IAccountSettings; }

private:
    std::map<std::string, BYTE> m_values;
};

// The data of an item from this host's own factory, added to the list;
// E_INVALIDARG for any other item.
template <typename TItem, typename TItemInterface, typename TData>
HRESULT CollectData(TItemInterface* pItem, std::vector<TData>& list)
{
    auto* pOurs = dynamic_cast<TItem*>(pItem);
    if (pOurs == nullptr) {
        return E_INVALIDARG;
    }
    list.push_back(pOurs->data);
    return S_OK;
}

// Collects the calendars or events that an enumeration hands over.
template <typename TVisitor, const IID& riidVisitor, typename TItemInterface, typename TItem>
class CCollector final : public CHostObject<TVisitor> {
public:
    std::vector<decltype(TItem::data)> items;
    HRESULT STDMETHODCALLTYPE Visit(TItemInterface* pItem, LONG* /*pbStop*/) override
    {
        return CollectData<TItem>(pItem, items);
    }

protected:
    const IID& InterfaceId() const override { return riidVisitor; }
    bool IsDispatch() const override { return false; }
};

typedef CCollector<ICalendarVisitor, IID_ICalendarVisitor, ICalendarItem, CCalendarItem> CCalendarCollector;
typedef CCollector<IEventVisitor, IID_IEventVisitor, IEventItem, CEventItem> CEventCollector;

// Keeps the one event with a given number and ends the enumeration there, so
// that looking up an event holds no more than the store's chunk in memory.
class CEventFinder final : public CHostObject<IEventVisitor> {
public:
    explicit CEventFinder(ULONG dwEvtID) : m_dwEvtID(dwEvtID) {}

    bool bFound = false;
    CEventData found;
    HRESULT STDMETHODCALLTYPE Visit(IEventItem* pItem, LONG* pbStop) override;

protected:
    const IID& InterfaceId() const override { return IID_IEventVisitor; }
    bool IsDispatch() const override { return false; }

private:
    ULONG m_dwEvtID;
};

// The signed-in account. It is also the visitor that takes the calendars the
// store hands over at start-up, as a real host's account fills its calendar list.
class CCalendarAccount final : public CHostObject<ICalendarAccount>, public ICalendarVisitor {
public:
    CCalendarAccount(ULONG dwUIN, ULONG dwAltUIN);

    const std::vector<CCalendarData>& StartupCalendars() const { return m_startupCalendars; }
    CAccountSettings* Settings() { return m_pSettings; }

    // One identity for both interfaces.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override
    {
        return CHostObject<ICalendarAccount>::QueryInterface(riid, ppvObject);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return CHostObject<ICalendarAccount>::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return CHostObject<ICalendarAccount>::Release(); }

    CALSTORE_NO_LATE_BINDING
    CALSTORE_RESERVED(7)
    CALSTORE_RESERVED(8)
    CALSTORE_RESERVED(9)
    HRESULT STDMETHODCALLTYPE get_UIN(ULONG* pdwUIN) override;
    CALSTORE_RESERVED(11)
    HRESULT STDMETHODCALLTYPE get_AltUIN(ULONG* pdwAltUIN) override;
    CALSTORE_RESERVED(13)
    CALSTORE_RESERVED(14)
    CALSTORE_RESERVED(15)
    CALSTORE_RESERVED(16)
    CALSTORE_RESERVED(17)
    CALSTORE_RESERVED(18)
    HRESULT STDMETHODCALLTYPE get_Settings(IUnknown** ppSettings) override;

    // ICalendarVisitor
    HRESULT STDMETHODCALLTYPE Visit(ICalendarItem* pItem, LONG* pbStop) override;

protected:
    const IID& InterfaceId() const override { return IID_ICalendarAccount; }
    void* OtherInterface(REFIID riid) override;

private:
    ~CCalendarAccount() override;

    ULONG m_dwUIN;
    ULONG m_dwAltUIN;
    CAccountSettings* m_pSettings;
    std::vector<CCalendarData> m_startupCalendars;
};

class CCalendarKernel final : public CHostObject<ICalendarKernel> {
public:
    CCalendarKernel(ULONG dwUIN, ULONG dwAltUIN);

    CCalendarAccount* Account() { return m_pAccount; }

    CALSTORE_NO_LATE_BINDING
    CALSTORE_RESERVED(7)
    CALSTORE_RESERVED(8)
    CALSTORE_RESERVED(9)
    HRESULT STDMETHODCALLTYPE get_CalendarFactory(ICalendarItemFactory** ppFactory) override;
    HRESULT STDMETHODCALLTYPE get_EventFactory(IEventItemFactory** ppFactory) override;
    CALSTORE_RESERVED(12)
    HRESULT STDMETHODCALLTYPE get_Account(ICalendarAccount** ppAccount) override;

protected:
    const IID& InterfaceId() const override { return IID_ICalendarKernel; }

private:
    ~CCalendarKernel() override;

    CCalendarAccount* m_pAccount;
    CCalendarItemFactory* m_pCalendarFactory;
    CEventItemFactory* m_pEventFactory;
};
