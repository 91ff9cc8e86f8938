#include "BenchHost.h"

namespace benchhost {

namespace {

class CAccount : public CDispatchObject<ICalendarAccount> {
public:
    explicit CAccount(ULONG dwUIN) : CDispatchObject<ICalendarAccount>(IID_ICalendarAccount), m_dwUIN(dwUIN) {}
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_UIN(ULONG* p) override
    {
        *p = m_dwUIN;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AltUIN(ULONG* p) override
    {
        *p = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved13() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved16() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Settings(IUnknown** pp) override
    {
        *pp = nullptr;
        return S_OK;
    }

private:
    ULONG m_dwUIN;
};

// The store makes no calendars here; a calendar factory is only asked for.
class CCalendarFactory : public CDispatchObject<ICalendarItemFactory> {
public:
    CCalendarFactory() : CDispatchObject<ICalendarItemFactory>(IID_ICalendarItemFactory) {}
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateItem(ICalendarItem** pp) override
    {
        *pp = nullptr;
        return E_NOTIMPL;
    }
};

class CEventFactory : public CDispatchObject<IEventItemFactory> {
public:
    CEventFactory() : CDispatchObject<IEventItemFactory>(IID_IEventItemFactory) {}
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateItem(IEventItem** pp) override
    {
        *pp = new CEventItem();
        return S_OK;
    }
};

}  // namespace

CEventItem::~CEventItem()
{
    for (BSTR bs : m_rgbsTexts) {
        SysFreeString(bs);
    }
}

void CEventItem::SetText(int nSlot, const WCHAR* psz)
{
    SysFreeString(m_rgbsTexts[nSlot]);
    m_rgbsTexts[nSlot] = SysAllocString(psz);
}

const WCHAR* CEventItem::Text(int nSlot) const
{
    return m_rgbsTexts[nSlot] != nullptr ? m_rgbsTexts[nSlot] : WTEXT("");
}

HRESULT CEventItem::ReadText(int nSlot, BSTR* p)
{
    *p = SysAllocString(Text(nSlot));
    return S_OK;
}

HRESULT CEventItem::WriteText(int nSlot, BSTR bs)
{
    SetText(nSlot, bs);
    return S_OK;
}

CKernel::CKernel(ULONG dwUIN) : CDispatchObject<ICalendarKernel>(IID_ICalendarKernel), m_dwUIN(dwUIN) {}

HRESULT CKernel::get_CalendarFactory(ICalendarItemFactory** ppFactory)
{
    *ppFactory = new CCalendarFactory();
    return S_OK;
}

HRESULT CKernel::get_EventFactory(IEventItemFactory** ppFactory)
{
    *ppFactory = new CEventFactory();
    return S_OK;
}

HRESULT CKernel::get_Account(ICalendarAccount** ppAccount)
{
    *ppAccount = new CAccount(m_dwUIN);
    return S_OK;
}

}  // namespace benchhost
