#include "FakeHost.h"

#include <algorithm>
#include <initializer_list>
#include <type_traits>
#include <utility>

#include "TestSupport.h"

namespace fakehost {

namespace {

bool In(int n, std::initializer_list<int> slots)
{
    return std::find(slots.begin(), slots.end(), n) != slots.end();
}

// The 32-bit properties of an event; each put follows its get.
const std::initializer_list<int> s_evtLongGets = {
    EVT_GET_CALID,       EVT_GET_EVTID,       EVT_GET_EVTTYPE,      EVT_GET_BGNTM,      EVT_GET_ENDTM,
    EVT_GET_TMSTAMP,     EVT_GET_DAY,         EVT_GET_LOOPTYPE,     EVT_GET_SYNCHRONIZED, EVT_GET_REVISEDSTATE,
    EVT_GET_REMINDMINUTE, EVT_GET_SPONSORID,  EVT_GET_CALTYPE,      EVT_GET_ENDTYPE,    EVT_GET_LOOPCALID,
    EVT_GET_LOOPEVENTID, EVT_GET_EVENTRIGHT,  EVT_GET_CALOWNERUIN,  EVT_GET_EVENTSTATUS};

}  // namespace

// The functions behind the slots; the slot number is a template argument, so each
// table entry knows which slot it is.
struct CFakeThunks {
    static void* Hand(CFake* pObject)  // a new reference, for the caller
    {
        return pObject != nullptr ? (++pObject->m_cRef, &pObject->m_com) : nullptr;
    }
    // Records the call; then, unless the slot is set to fail, runs answer.
    template <typename TAnswer>
    static HRESULT Call(FakeComObject* p, int nSlot, TAnswer answer)
    {
        CFake& self = *p->pOwner;
        self.m_calls.push_back(CFakeCall{nSlot, {}, {}, nullptr, false});
        if (const HRESULT hr = self.m_failures[nSlot]; FAILED(hr)) {
            return hr;
        }
        answer(self, self.m_calls.back());
        return S_OK;
    }

    static HRESULT STDMETHODCALLTYPE QueryInterface(FakeComObject* p, REFIID riid, void** ppv)
    {
        CFake& self = *p->pOwner;
        if (ppv == nullptr) {
            return E_POINTER;
        }
        const auto it = std::find_if(self.m_redirects.begin(), self.m_redirects.end(),
                                     [&](const std::pair<IID, CFake*>& r) { return r.first == riid; });
        const bool bOwn = std::find(self.m_iids.begin(), self.m_iids.end(), riid) != self.m_iids.end();
        *ppv = Hand(it != self.m_redirects.end() ? it->second : bOwn ? &self : nullptr);
        return *ppv != nullptr ? S_OK : E_NOINTERFACE;
    }
    static ULONG STDMETHODCALLTYPE AddRef(FakeComObject* p) { return ++p->pOwner->m_cRef; }
    static ULONG STDMETHODCALLTYPE Release(FakeComObject* p)
    {
        if (p->pOwner->m_cRef == 0) {
            p->pOwner->m_calls.push_back(CFakeCall{2, {}, {}, nullptr, true});
            return 0;
        }
        return --p->pOwner->m_cRef;
    }
    // Takes no arguments: on this ABI the caller's arguments are simply ignored.
    template <int S>
    static HRESULT STDMETHODCALLTYPE Unexpected(FakeComObject* p)
    {
        p->pOwner->m_calls.push_back(CFakeCall{S, {}, {}, nullptr, true});
        return E_NOTIMPL;
    }

    // Every property and method of the items, the account and its settings: records
    // its inputs (integers as LONG), then, unless it is set to fail, writes its outs.
    template <int S, typename... TArgs>
    static HRESULT STDMETHODCALLTYPE Slot(FakeComObject* p, TArgs... args)
    {
        CFake& self = *p->pOwner;
        CFakeCall& call = self.m_calls.emplace_back(CFakeCall{S, {}, {}, nullptr, false});
        (Keep(call, args), ...);
        const HRESULT hr = self.m_failures[S];
        size_t nOut = 0;
        constexpr size_t cOuts = (0 + ... + size_t(std::is_pointer_v<TArgs> && !std::is_same_v<TArgs, BSTR>));
        if (SUCCEEDED(hr)) {
            (Answer(self, S, cOuts > 1 ? &nOut : nullptr, args), ...);
        }
        return hr;
    }
    template <typename T>
    static void Keep(CFakeCall& call, T value)
    {
        if constexpr (std::is_same_v<T, BSTR>) {
            call.texts.push_back(value != nullptr ? WString(value, SysStringLen(value)) : WString());
        } else if constexpr (!std::is_pointer_v<T>) {
            call.values.push_back(static_cast<LONG>(value));
        }
    }
    // One integer out takes the next value set, the last repeating; several take the first ones.
    template <typename T>
    static void Answer(CFake& self, int nSlot, size_t* pnOut, T pOut)
    {
        if constexpr (std::is_same_v<T, BSTR*>) {
            const auto it = self.m_texts.find(nSlot);
            *pOut = it != self.m_texts.end() ? SysAllocStringLen(it->second.data(), UINT(it->second.size())) : nullptr;
        } else if constexpr (std::is_same_v<T, void**>) {
            *pOut = Hand(self.m_objects[nSlot]);
        } else if constexpr (std::is_pointer_v<T> && !std::is_same_v<T, BSTR>) {
            const std::vector<LONG>& values = self.m_longs[nSlot];
            const size_t i = pnOut != nullptr ? (*pnOut)++ : std::min(self.m_reads[nSlot]++, values.size() - 1);
            *pOut = static_cast<std::remove_pointer_t<T>>(i < values.size() ? values[i] : 0);
        }
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE CreateItem(FakeComObject* p, void** ppItem)
    {
        return Call(p, S, [=](CFake& self, CFakeCall&) {
            // The new item's one reference goes to the caller.
            const bool bCalendar = self.m_eKind == EFakeKind::CalendarFactory;
            CFake* pItem = new CFake(bCalendar ? EFakeKind::CalendarItem : EFakeKind::EventItem);
            *ppItem = &self.m_created.emplace_back(pItem)->m_com;
        });
    }
    template <int S>
    static HRESULT STDMETHODCALLTYPE Visit(FakeComObject* p, FakeComObject* pItem, LONG* pbStop)
    {
        // The log may grow during the callback, so nothing holds on to the call.
        CFake* pVisited = pItem != nullptr ? pItem->pOwner : nullptr;
        return Call(p, S, [=](CFake& self, CFakeCall& call) {
            call.pObject = pVisited;
            if (++self.m_nVisits == self.m_nStopAtVisit) {
                *pbStop = 1;
            }
            if (self.m_onVisit && pVisited != nullptr) {
                self.m_onVisit(*pVisited);
            }
        });
    }

    // Slots 0 to 2 are IUnknown's; from 3 on, each interface's own map. Anything not
    // named is reserved (or IDispatch's) and must never be called.
    template <EFakeKind K, int S>
    static PFN_SLOT Entry()
    {
        using E = EFakeKind;
        const PFN_SLOT unexpected = PFN_SLOT(&Unexpected<S>);
        if constexpr (S < 3) {
            return S == 0 ? PFN_SLOT(&QueryInterface) : S == 1 ? PFN_SLOT(&AddRef) : PFN_SLOT(&Release);
        } else if constexpr (K == E::Kernel) {
            return In(S, {KERNEL_CALENDAR_FACTORY, KERNEL_EVENT_FACTORY, KERNEL_ACCOUNT}) ? PFN_SLOT(&Slot<S, void**>)
                                                                                          : unexpected;
        } else if constexpr (K == E::Account) {
            return In(S, {ACCOUNT_UIN, ACCOUNT_ALTUIN}) ? PFN_SLOT(&Slot<S, LONG*>)
                   : S == ACCOUNT_SETTINGS              ? PFN_SLOT(&Slot<S, void**>)
                                                        : unexpected;
        } else if constexpr (K == E::Settings) {
            return S == SETTINGS_GET_BYTE ? PFN_SLOT(&Slot<S, BSTR, BYTE*>) : unexpected;
        } else if constexpr (K == E::CalendarFactory || K == E::EventFactory) {
            return S == FACTORY_CREATE_ITEM ? PFN_SLOT(&CreateItem<S>) : unexpected;
        } else if constexpr (K == E::CalendarVisitor || K == E::EventVisitor) {
            return PFN_SLOT(&Visit<S>);
        } else if constexpr (K == E::CalendarItem) {
            return In(S, {CAL_GET_CALTYPE, CAL_GET_CALID, CAL_GET_SHRLEVEL, CAL_GET_TMSTAMP}) ? PFN_SLOT(&Slot<S, LONG*>)
                   : In(S, {CAL_PUT_UIN, CAL_PUT_CALTYPE, CAL_PUT_CALID, CAL_PUT_SHRLEVEL, CAL_PUT_TMSTAMP})
                       ? PFN_SLOT(&Slot<S, LONG>)
                   : In(S, {CAL_GET_SUBJECT, CAL_GET_EXT1, CAL_GET_DETAIL, CAL_GET_CONTACTID, CAL_GET_CONTACTINFO})
                       ? PFN_SLOT(&Slot<S, BSTR*>)
                   : In(S, {CAL_PUT_SUBJECT, CAL_PUT_EXT1, CAL_PUT_DETAIL}) ? PFN_SLOT(&Slot<S, BSTR>)
                   : S == CAL_SET_CONTACT                                   ? PFN_SLOT(&Slot<S, BSTR, BSTR>)
                   : S == CAL_SET_OWNER                                     ? PFN_SLOT(&Slot<S, LONG, LONG>)
                   : S == CAL_GET_SPONSOR                                   ? PFN_SLOT(&Slot<S, LONG*, LONG*>)
                                                                            : unexpected;
        } else {
            static_assert(K == E::EventItem);
            return In(S, {EVT_GET_TIPTYPE, EVT_GET_WEEK, EVT_GET_MONTH, EVT_GET_WEEKNUM}) ? PFN_SLOT(&Slot<S, BYTE*>)
                   : In(S, {EVT_PUT_TIPTYPE, EVT_PUT_WEEK, EVT_PUT_MONTH, EVT_PUT_WEEKNUM}) ? PFN_SLOT(&Slot<S, BYTE>)
                   : S == EVT_GET_VALID ? PFN_SLOT(&Slot<S, VARIANT_BOOL*>)
                   : S == EVT_PUT_VALID ? PFN_SLOT(&Slot<S, VARIANT_BOOL>)
                   : In(S, {EVT_GET_SUBJECT, EVT_GET_DETAIL, EVT_GET_CONTACTID, EVT_GET_CONTACTINFO, EVT_GET_LOCATION,
                            EVT_GET_CONTACTIDDISPLAY, EVT_GET_CONTACTIDINVALID, EVT_GET_EXT3})
                       ? PFN_SLOT(&Slot<S, BSTR*>)
                   : In(S, {EVT_PUT_SUBJECT, EVT_PUT_DETAIL, EVT_PUT_LOCATION}) ? PFN_SLOT(&Slot<S, BSTR>)
                   : S == EVT_SET_CONTACTS    ? PFN_SLOT(&Slot<S, BSTR, BSTR, BSTR, BSTR>)
                   : In(S, s_evtLongGets)     ? PFN_SLOT(&Slot<S, LONG*>)
                   : In(S - 1, s_evtLongGets) ? PFN_SLOT(&Slot<S, LONG>)
                                              : unexpected;
        }
    }
};

namespace {

// Per kind, in the order of EFakeKind: its slots, its own interface, and whether
// that derives from IDispatch. Windows' IIDs are not constants, so they stand apart.
constexpr size_t s_acSlots[] = {3, 14, 20, 9, 14, 14, 4, 4, 40, 76};
const std::pair<IID, bool> s_kinds[] = {
    {IID_IUnknown, false},         {IID_ICalendarKernel, true},      {IID_ICalendarAccount, true},
    {IID_IAccountSettings, true},  {IID_ICalendarItemFactory, true}, {IID_IEventItemFactory, true},
    {IID_ICalendarVisitor, false}, {IID_IEventVisitor, false},       {IID_ICalendarItem, true},
    {IID_IEventItem, true}};

template <EFakeKind K, size_t... I>
const PFN_SLOT* Table(std::index_sequence<I...>)
{
    static const PFN_SLOT s_table[] = {CFakeThunks::Entry<K, int(I)>()...};
    return s_table;
}

template <size_t... K>
const PFN_SLOT* TableOf(EFakeKind eKind, std::index_sequence<K...>)
{
    static const PFN_SLOT* const s_tables[] = {Table<EFakeKind(K)>(std::make_index_sequence<s_acSlots[K]>())...};
    return s_tables[size_t(eKind)];
}

}  // namespace

CFake::CFake(EFakeKind eKind)
    : m_eKind(eKind), m_com{TableOf(eKind, std::make_index_sequence<std::size(s_acSlots)>()), this}
{
    const auto& [iid, bDispatch] = s_kinds[size_t(eKind)];
    m_iids = bDispatch ? std::vector<IID>{IID_IUnknown, IID_IDispatch, iid} : std::vector<IID>{IID_IUnknown, iid};
}

void CFake::SetText(int nSlot, const std::string& strUtf8)
{
    m_texts[nSlot] = testing_support::Wide(strUtf8);
}

LONG CFake::Arg(int nSlot, size_t i) const
{
    auto it = std::find_if(m_calls.rbegin(), m_calls.rend(), [=](const CFakeCall& c) { return c.nSlot == nSlot; });
    EXPECT_TRUE(it != m_calls.rend() && i < it->values.size()) << "slot " << nSlot << " was not called";
    return it != m_calls.rend() && i < it->values.size() ? it->values[i] : -0x5A5A5A5A;
}

::testing::AssertionResult Settled(const CFake& fake, ULONG cRef)
{
    const bool bUnexpected = std::any_of(fake.Calls().begin(), fake.Calls().end(),
                                         [](const CFakeCall& call) { return call.bUnexpected; });
    if (fake.RefCount() != cRef || bUnexpected) {
        return ::testing::AssertionFailure() << "reference count " << fake.RefCount() << " (expected " << cRef << ")"
                                             << (bUnexpected ? ", an unexpected call" : "");
    }
    for (const auto& pItem : fake.Created()) {
        if (::testing::AssertionResult result = Settled(*pItem, 0); !result) {
            return ::testing::AssertionFailure() << "a made item: " << result.message();
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<LONG> Ids(const CFake& fake)
{
    std::vector<const CFake*> items;
    for (const CFakeCall& call : fake.Calls()) {
        if (call.nSlot == VISITOR_VISIT && call.pObject != nullptr) {
            items.push_back(call.pObject);
        }
    }
    for (const auto& pMade : fake.Created()) {
        items.push_back(pMade.get());
    }
    std::vector<LONG> ids;
    for (const CFake* pItem : items) {
        ids.push_back(pItem->Arg(pItem->Kind() == EFakeKind::CalendarItem ? int(CAL_PUT_CALID) : int(EVT_PUT_EVTID)));
    }
    return ids;
}

CFakeHost::CFakeHost(ULONG dwUIN, ULONG dwAltUIN, BYTE cStoreMode)
{
    kernel.SetObject(KERNEL_CALENDAR_FACTORY, &calendarFactory);
    kernel.SetObject(KERNEL_EVENT_FACTORY, &eventFactory);
    kernel.SetObject(KERNEL_ACCOUNT, &account);
    account.SetLong(ACCOUNT_UIN, LONG(dwUIN));
    account.SetLong(ACCOUNT_ALTUIN, LONG(dwAltUIN));
    account.SetObject(ACCOUNT_SETTINGS, &settings);
    settings.SetLong(SETTINGS_GET_BYTE, cStoreMode);
}

void CFakeHost::ClearLogs()
{
    for (CFake* pFake : {&kernel, &account, &settings, &calendarFactory, &eventFactory}) {
        pFake->ClearLog();
    }
}

::testing::AssertionResult CFakeHost::Settled() const
{
    for (const CFake* pFake : {&kernel, &account, &settings, &calendarFactory, &eventFactory}) {
        if (::testing::AssertionResult result = fakehost::Settled(*pFake); !result) {
            return ::testing::AssertionFailure() << "host fake " << int(pFake->Kind()) << ": " << result.message();
        }
    }
    return ::testing::AssertionSuccess();
}

CFake& CFakeSet::Calendar(LONG lCalID, const std::string& strSubject)
{
    CFake& item = New(EFakeKind::CalendarItem);
    item.SetLong(CAL_GET_CALID, lCalID);
    item.SetLong(CAL_GET_CALTYPE, 2);
    item.SetLong(CAL_GET_TMSTAMP, 3000);
    item.SetLong(CAL_GET_SHRLEVEL, 4);
    item.SetLongs(CAL_GET_SPONSOR, {55, 66});
    item.SetText(CAL_GET_SUBJECT, strSubject.empty() ? "cal " + std::to_string(lCalID) : strSubject);
    return item;
}

CFake& CFakeSet::Event(LONG lCalID, LONG lEvtID, LONG lBgnTm, LONG lEndTm, const std::string& strExt3)
{
    CFake& item = New(EFakeKind::EventItem);
    item.SetLong(EVT_GET_CALID, lCalID);
    item.SetLong(EVT_GET_EVTID, lEvtID);
    item.SetLong(EVT_GET_BGNTM, lBgnTm);
    item.SetLong(EVT_GET_ENDTM, lEndTm);
    item.SetText(EVT_GET_SUBJECT, "event " + std::to_string(lEvtID));
    item.SetText(EVT_GET_EXT3, strExt3);
    item.SetLong(EVT_GET_VALID, VARIANT_TRUE);
    return item;
}

::testing::AssertionResult CFakeSet::Settled() const
{
    for (const auto& pFake : m_fakes) {
        if (::testing::AssertionResult result = fakehost::Settled(*pFake); !result) {
            return result;
        }
    }
    return ::testing::AssertionSuccess();
}

CBstrPtr Bstr(const char* pszUtf8)
{
    return {SysAllocString(testing_support::Wide(pszUtf8).c_str()), &SysFreeString};
}

}  // namespace fakehost
