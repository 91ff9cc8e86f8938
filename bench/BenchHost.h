// The smallest host a benchmark needs: a kernel with its account and two item
// factories, event items that keep what they are given, and a visitor that counts.
#pragma once

#include <atomic>
#include <string>

#include "compat/win32.h"
#include "host/CalendarKernel.h"

namespace benchhost {

// IUnknown and an IDispatch that answers nothing, for one interface.
template <typename TInterface>
class CObject : public TInterface {
public:
    explicit CObject(REFIID riid) : m_riid(riid) {}
    virtual ~CObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, m_riid) ||
            (std::is_base_of<IDispatch, TInterface>::value && IsEqualGUID(riid, IID_IDispatch))) {
            *ppv = static_cast<TInterface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
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

private:
    IID m_riid;
    std::atomic<ULONG> m_cRef{1};
};

template <typename TInterface>
class CDispatchObject : public CObject<TInterface> {
public:
    using CObject<TInterface>::CObject;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
};

// An event item: every property is kept in a slot array, by its read slot.
class CEventItem : public CDispatchObject<IEventItem> {
public:
    CEventItem() : CDispatchObject<IEventItem>(IID_IEventItem) {}
    ~CEventItem() override;

    LONG& Long(int nSlot) { return m_rglValues[nSlot]; }
    void SetText(int nSlot, const WCHAR* psz);
    const WCHAR* Text(int nSlot) const;

#define BENCH_LONG(name, get)                                                         \
    HRESULT STDMETHODCALLTYPE get_##name(LONG* p) override { return Read(get, p); }   \
    HRESULT STDMETHODCALLTYPE put_##name(LONG l) override { return Write(get, l); }
#define BENCH_BYTE(name, get)                                                                           \
    HRESULT STDMETHODCALLTYPE get_##name(BYTE* p) override                                              \
    {                                                                                                   \
        *p = static_cast<BYTE>(m_rglValues[get]);                                                       \
        return S_OK;                                                                                    \
    }                                                                                                   \
    HRESULT STDMETHODCALLTYPE put_##name(BYTE c) override { return Write(get, static_cast<LONG>(c)); }
#define BENCH_TEXT(name, get)                                                                              \
    HRESULT STDMETHODCALLTYPE get_##name(BSTR* p) override { return ReadText(get, p); }
#define BENCH_TEXT_PUT(name, get)                                                                          \
    HRESULT STDMETHODCALLTYPE put_##name(BSTR bs) override { return WriteText(get, bs); }
#define BENCH_RESERVED(n) \
    HRESULT STDMETHODCALLTYPE Reserved##n() override { return E_NOTIMPL; }

    BENCH_LONG(CalID, 7)
    BENCH_LONG(EvtID, 9)
    BENCH_LONG(EvtType, 11)
    BENCH_LONG(BgnTm, 13)
    BENCH_LONG(EndTm, 15)
    BENCH_LONG(TmStamp, 17)
    BENCH_BYTE(TipType, 19)
    BENCH_LONG(Day, 21)
    BENCH_BYTE(Week, 23)
    BENCH_BYTE(Month, 25)
    BENCH_LONG(LoopType, 27)
    BENCH_TEXT(Subject, 29)
    BENCH_TEXT_PUT(Subject, 29)
    BENCH_TEXT(Detail, 31)
    BENCH_TEXT_PUT(Detail, 31)
    BENCH_LONG(Synchronized, 33)
    BENCH_LONG(RevisedState, 35)
    BENCH_RESERVED(37)
    BENCH_RESERVED(38)
    BENCH_RESERVED(39)
    BENCH_LONG(RemindMinute, 40)
    BENCH_TEXT(ContactID, 42)
    BENCH_TEXT(ContactInfo, 43)
    BENCH_TEXT(Location, 44)
    BENCH_TEXT_PUT(Location, 44)
    HRESULT STDMETHODCALLTYPE get_Valid(VARIANT_BOOL* p) override
    {
        *p = m_rglValues[46] != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Valid(VARIANT_BOOL b) override { return Write(46, b != 0 ? 1 : 0); }
    BENCH_LONG(SponsorID, 48)
    BENCH_BYTE(WeekNum, 50)
    BENCH_LONG(CalType, 52)
    BENCH_LONG(EndType, 54)
    BENCH_RESERVED(56)
    BENCH_LONG(LoopCalID, 57)
    BENCH_LONG(LoopEventID, 59)
    BENCH_RESERVED(61)
    BENCH_LONG(EventRight, 62)
    BENCH_TEXT(ContactIDDisplay, 64)
    BENCH_TEXT(ContactIDInvalid, 65)
    HRESULT STDMETHODCALLTYPE SetContacts(BSTR bsID, BSTR bsInfo, BSTR bsInvalid, BSTR bsDisplay) override
    {
        WriteText(42, bsID);
        WriteText(43, bsInfo);
        WriteText(65, bsInvalid);
        return WriteText(64, bsDisplay);
    }
    BENCH_RESERVED(67)
    BENCH_LONG(CalOwnerUin, 68)
    BENCH_LONG(EventStatus, 70)
    BENCH_RESERVED(72)
    BENCH_RESERVED(73)
    BENCH_RESERVED(74)
    BENCH_TEXT(Ext3, 75)

#undef BENCH_LONG
#undef BENCH_BYTE
#undef BENCH_TEXT
#undef BENCH_TEXT_PUT
#undef BENCH_RESERVED

private:
    enum { SLOTS = 76 };
    HRESULT Read(int nSlot, LONG* p)
    {
        *p = m_rglValues[nSlot];
        return S_OK;
    }
    HRESULT Write(int nSlot, LONG l)
    {
        m_rglValues[nSlot] = l;
        return S_OK;
    }
    HRESULT ReadText(int nSlot, BSTR* p);
    HRESULT WriteText(int nSlot, BSTR bs);

    LONG m_rglValues[SLOTS] = {};
    BSTR m_rgbsTexts[SLOTS] = {};
};

// Counts the events it is shown.
class CEventCounter : public CObject<IEventVisitor> {
public:
    CEventCounter() : CObject<IEventVisitor>(IID_IEventVisitor) {}
    HRESULT STDMETHODCALLTYPE Visit(IEventItem* pItem, LONG* pbStop) override
    {
        ++m_nVisits;
        m_llCheck += static_cast<CEventItem*>(pItem)->Long(9);
        *pbStop = 0;
        return S_OK;
    }
    long long m_nVisits = 0;
    long long m_llCheck = 0;
};

// The kernel, its account (whose settings are none) and two factories.
class CKernel : public CDispatchObject<ICalendarKernel> {
public:
    explicit CKernel(ULONG dwUIN);
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CalendarFactory(ICalendarItemFactory** ppFactory) override;
    HRESULT STDMETHODCALLTYPE get_EventFactory(IEventItemFactory** ppFactory) override;
    HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Account(ICalendarAccount** ppAccount) override;

private:
    ULONG m_dwUIN;
};

}  // namespace benchhost
