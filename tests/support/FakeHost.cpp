#include "FakeHost.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "TestSupport.h"

namespace fakehost {

namespace {

bool In(int n, std::initializer_list<int> slots)
{
    return std::find(slots.begin(), slots.end(), n) != slots.end();
}

// The 32-bit properties of an event.
const std::initializer_list<int> s_evtLongGets = {
    EVT_GET_CALID,     EVT_GET_EVTID,       EVT_GET_EVTTYPE,      EVT_GET_BGNTM,        EVT_GET_ENDTM,
    EVT_GET_TMSTAMP,   EVT_GET_DAY,         EVT_GET_LOOPTYPE,     EVT_GET_SYNCHRONIZED, EVT_GET_REVISEDSTATE,
    EVT_GET_REMINDMINUTE, EVT_GET_SPONSORID, EVT_GET_CALTYPE,     EVT_GET_ENDTYPE,      EVT_GET_LOOPCALID,
    EVT_GET_LOOPEVENTID, EVT_GET_EVENTRIGHT, EVT_GET_CALOWNERUIN, EVT_GET_EVENTSTATUS};

WString TextOf(BSTR bs)
{
    return bs != nullptr ? WString(bs, SysStringLen(bs)) : WString();
}

}  // namespace

// One function per slot kind; the slot number is a template argument, so each
// table entry knows which slot it is.
struct CFakeThunks {
    // Records the call, with what before adds to it; then, unless the slot is set
    // to fail, runs answer and gives S_OK.
    template <typename TBefore, typename TAnswer>
    static HRESULT Call(FakeComObject* p, int nSlot, TBefore before, TAnswer answer)
    {
        CFake& self = *p->pOwner;
        before(self.Record(nSlot));
        if (const HRESULT hr = self.FailureOf(nSlot); FAILED(hr)) {
            return hr;
        }
        answer(self);
        return S_OK;
    }
    static void Nothing(CFakeCall&) {}

    // A new reference to object, for the caller.
    static void* Hand(CFake& object)
    {
        ++object.m_cRef;
        return &object.m_com;
    }

    static HRESULT STDMETHODCALLTYPE QueryInterface(FakeComObject* p, REFIID riid, void** ppv)
    {
        CFake& self = *p->pOwner;
        ++self.m_nQueries;
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (const HRESULT hr = self.FailureOf(0); FAILED(hr)) {
            return hr;
        }
        const auto it = std::find_if(self.m_redirects.begin(), self.m_redirects.end(),
                                     [&](const std::pair<IID, CFake*>& r) { return r.first == riid; });
        const bool bOwn = std::find(self.m_iids.begin(), self.m_iids.end(), riid) != self.m_iids.end();
        CFake* pTarget = it != self.m_redirects.end() ? it->second : bOwn ? &self : nullptr;
        *ppv = pTarget != nullptr ? Hand(*pTarget) : nullptr;
        return pTarget != nullptr ? S_OK : E_NOINTERFACE;
    }

    static ULONG STDMETHODCALLTYPE AddRef(FakeComObject* p) { return ++p->pOwner->m_cRef; }

    static ULONG STDMETHODCALLTYPE Release(FakeComObject* p)
    {
        CFake& self = *p->pOwner;
        if (self.m_cRef == 0) {
            self.Record(2).bUnexpected = true;
            return 0;
        }
        return --self.m_cRef;
    }

    // Takes no arguments: on this ABI the caller's arguments are simply ignored.
    template <int S>
    static HRESULT STDMETHODCALLTYPE Unexpected(FakeComObject* p)
    {
        p->pOwner->Record(S).bUnexpected = true;
        return E_NOTIMPL;
    }

    template <int S, typename T>
    static HRESULT STDMETHODCALLTYPE Get(FakeComObject* p, T* pValue)
    {
        return Call(p, S, Nothing, [=](CFake& self) { *pValue = static_cast<T>(self.NextLong(S)); });
    }

    // Puts record their arguments, integers as LONG, and give the slot's result,
    // failed or not.
    template <int S, typename... TArgs>
    static HRESULT STDMETHODCALLTYPE Put(FakeComObject* p, TArgs... args)
    {
        CFakeCall& call = p->pOwner->Record(S);
        (Keep(call, args), ...);
        return p->pOwner->FailureOf(S);
    }
    static void Keep(CFakeCall& call, BSTR bs) { call.texts.push_back(TextOf(bs)); }
    template <typename T>
    static void Keep(CFakeCall& call, T value)
    {
        call.values.push_back(static_cast<LONG>(value));
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE GetText(FakeComObject* p, BSTR* pbs)
    {
        return Call(p, S, Nothing, [=](CFake& self) {
            const auto it = self.m_texts.find(S);
            *pbs = it != self.m_texts.end() ? SysAllocStringLen(it->second.data(), UINT(it->second.size())) : nullptr;
        });
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE GetTwoLongs(FakeComObject* p, LONG* pl1, LONG* pl2)
    {
        return Call(p, S, Nothing, [=](CFake& self) {
            const std::vector<LONG>& values = self.m_longs[S];
            *pl1 = values.size() > 0 ? values[0] : 0;
            *pl2 = values.size() > 1 ? values[1] : 0;
        });
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE GetObjectOut(FakeComObject* p, void** ppObject)
    {
        return Call(p, S, Nothing, [=](CFake& self) {
            CFake* pObject = self.m_objects[S];
            *ppObject = pObject != nullptr ? Hand(*pObject) : nullptr;
        });
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE GetByteByName(FakeComObject* p, BSTR bsName, BYTE* pc)
    {
        return Call(
            p, S, [=](CFakeCall& call) { Keep(call, bsName); },
            [=](CFake& self) { *pc = static_cast<BYTE>(self.NextLong(S)); });
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE CreateItem(FakeComObject* p, void** ppItem)
    {
        return Call(p, S, Nothing, [=](CFake& self) {
            // The new item's one reference goes to the caller.
            const bool bCalendar = self.m_eKind == EFakeKind::CalendarFactory;
            self.m_created.emplace_back(new CFake(bCalendar ? EFakeKind::CalendarItem : EFakeKind::EventItem));
            CFake& item = *self.m_created.back();
            if (self.m_onCreate) {
                self.m_onCreate(item);
            }
            *ppItem = &item.m_com;
        });
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE Visit(FakeComObject* p, FakeComObject* pItem, LONG* pbStop)
    {
        // The log may grow during the callback, so nothing holds on to the call.
        CFake* pVisited = pItem != nullptr ? pItem->pOwner : nullptr;
        const auto before = [=](CFakeCall& call) {
            call.values.push_back(pbStop != nullptr ? *pbStop : -12345);
            call.pObject = pVisited;
        };
        return Call(p, S, before, [=](CFake& self) {
            ++self.m_nVisits;
            if (self.m_onVisit && pVisited != nullptr) {
                self.m_onVisit(*pVisited);
            }
            if (self.m_nVisits == self.m_nStopAtVisit) {
                *pbStop = 1;
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
            return In(S, {KERNEL_CALENDAR_FACTORY, KERNEL_EVENT_FACTORY, KERNEL_ACCOUNT}) ? PFN_SLOT(&GetObjectOut<S>)
                                                                                          : unexpected;
        } else if constexpr (K == E::Account) {
            return In(S, {ACCOUNT_UIN, ACCOUNT_ALTUIN}) ? PFN_SLOT(&Get<S, LONG>)
                   : S == ACCOUNT_SETTINGS              ? PFN_SLOT(&GetObjectOut<S>)
                                                        : unexpected;
        } else if constexpr (K == E::Settings) {
            return S == SETTINGS_GET_BYTE ? PFN_SLOT(&GetByteByName<S>) : unexpected;
        } else if constexpr (K == E::CalendarFactory || K == E::EventFactory) {
            return S == FACTORY_CREATE_ITEM ? PFN_SLOT(&CreateItem<S>) : unexpected;
        } else if constexpr (K == E::CalendarVisitor || K == E::EventVisitor) {
            return PFN_SLOT(&Visit<S>);
        } else if constexpr (K == E::CalendarItem) {
            return In(S, {CAL_GET_CALTYPE, CAL_GET_CALID, CAL_GET_SHRLEVEL, CAL_GET_TMSTAMP}) ? PFN_SLOT(&Get<S, LONG>)
                   : In(S, {CAL_PUT_UIN, CAL_PUT_CALTYPE, CAL_PUT_CALID, CAL_PUT_SHRLEVEL, CAL_PUT_TMSTAMP})
                       ? PFN_SLOT(&Put<S, LONG>)
                   : In(S, {CAL_GET_SUBJECT, CAL_GET_EXT1, CAL_GET_DETAIL, CAL_GET_CONTACTID, CAL_GET_CONTACTINFO})
                       ? PFN_SLOT(&GetText<S>)
                   : In(S, {CAL_PUT_SUBJECT, CAL_PUT_EXT1, CAL_PUT_DETAIL}) ? PFN_SLOT(&Put<S, BSTR>)
                   : S == CAL_SET_CONTACT                                   ? PFN_SLOT(&Put<S, BSTR, BSTR>)
                   : S == CAL_SET_OWNER                                     ? PFN_SLOT(&Put<S, LONG, LONG>)
                   : S == CAL_GET_SPONSOR                                   ? PFN_SLOT(&GetTwoLongs<S>)
                                                                            : unexpected;
        } else {
            static_assert(K == E::EventItem);
            return In(S, {EVT_GET_TIPTYPE, EVT_GET_WEEK, EVT_GET_MONTH, EVT_GET_WEEKNUM}) ? PFN_SLOT(&Get<S, BYTE>)
                   : In(S, {EVT_PUT_TIPTYPE, EVT_PUT_WEEK, EVT_PUT_MONTH, EVT_PUT_WEEKNUM}) ? PFN_SLOT(&Put<S, BYTE>)
                   : S == EVT_GET_VALID ? PFN_SLOT(&Get<S, VARIANT_BOOL>)
                   : S == EVT_PUT_VALID ? PFN_SLOT(&Put<S, VARIANT_BOOL>)
                   : In(S, {EVT_GET_SUBJECT, EVT_GET_DETAIL, EVT_GET_CONTACTID, EVT_GET_CONTACTINFO, EVT_GET_LOCATION,
                            EVT_GET_CONTACTIDDISPLAY, EVT_GET_CONTACTIDINVALID, EVT_GET_EXT3})
                       ? PFN_SLOT(&GetText<S>)
                   : In(S, {EVT_PUT_SUBJECT, EVT_PUT_DETAIL, EVT_PUT_LOCATION}) ? PFN_SLOT(&Put<S, BSTR>)
                   : S == EVT_SET_CONTACTS ? PFN_SLOT(&Put<S, BSTR, BSTR, BSTR, BSTR>)
                   : In(S, s_evtLongGets) ? PFN_SLOT(&Get<S, LONG>)
                   : In(S - 1, s_evtLongGets) ? PFN_SLOT(&Put<S, LONG>)  // each put follows its get
                                              : unexpected;
        }
    }
};

namespace {

// Per kind, in the order of EFakeKind: its slots, its own interface, and whether
// that derives from IDispatch (Plain's own is IUnknown). The slot counts size the
// tables at compile time; Windows' IIDs are not constants, so they stand apart.
constexpr size_t s_acSlots[] = {3, 14, 20, 9, 14, 14, 4, 4, 40, 76};
struct CKindInfo {
    IID iid;
    bool bDispatch;
};
const CKindInfo s_kinds[] = {
    {IID_IUnknown, false},         {IID_ICalendarKernel, true},      {IID_ICalendarAccount, true},
    {IID_IAccountSettings, true},  {IID_ICalendarItemFactory, true}, {IID_IEventItemFactory, true},
    {IID_ICalendarVisitor, false}, {IID_IEventVisitor, false},       {IID_ICalendarItem, true},
    {IID_IEventItem, true}};
static_assert(std::size(s_acSlots) == std::size(s_kinds), "one slot count per kind");

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
    const CKindInfo& info = s_kinds[size_t(eKind)];
    m_iids = info.bDispatch ? std::vector<IID>{IID_IUnknown, IID_IDispatch, info.iid}
                            : std::vector<IID>{IID_IUnknown, info.iid};
}

void CFake::Refuse(REFIID riid)
{
    m_iids.erase(std::remove(m_iids.begin(), m_iids.end(), riid), m_iids.end());
}

void CFake::Redirect(REFIID riid, CFake* pOther)
{
    m_redirects.emplace_back(riid, pOther);
}

void CFake::SetText(int nSlot, const std::string& strUtf8)
{
    m_texts[nSlot] = testing_support::Wide(strUtf8);
}

CFakeCall& CFake::Record(int nSlot)
{
    m_calls.push_back(CFakeCall{nSlot, {}, {}, nullptr, false});
    return m_calls.back();
}

HRESULT CFake::FailureOf(int nSlot) const
{
    const auto it = m_failures.find(nSlot);
    return it != m_failures.end() ? it->second : S_OK;
}

LONG CFake::NextLong(int nSlot)
{
    const auto it = m_longs.find(nSlot);
    if (it == m_longs.end() || it->second.empty()) {
        return 0;
    }
    const size_t nRead = m_reads[nSlot]++;
    return it->second[std::min(nRead, it->second.size() - 1)];
}

std::vector<int> CFake::Slots() const
{
    std::vector<int> slots(m_calls.size());
    std::transform(m_calls.begin(), m_calls.end(), slots.begin(), [](const CFakeCall& c) { return c.nSlot; });
    return slots;
}

int CFake::CallCount(int nSlot) const
{
    return int(std::count_if(m_calls.begin(), m_calls.end(), [nSlot](const CFakeCall& c) { return c.nSlot == nSlot; }));
}

namespace {

const CFakeCall* LastCall(const std::vector<CFakeCall>& calls, int nSlot)
{
    const auto it = std::find_if(calls.rbegin(), calls.rend(), [nSlot](const CFakeCall& c) { return c.nSlot == nSlot; });
    return it != calls.rend() ? &*it : nullptr;
}

}  // namespace

LONG CFake::Arg(int nSlot, size_t i) const
{
    const CFakeCall* pCall = LastCall(m_calls, nSlot);
    const bool bCalled = pCall != nullptr && i < pCall->values.size();
    EXPECT_TRUE(bCalled) << "slot " << nSlot << " was not called with argument " << i;
    return bCalled ? pCall->values[i] : -0x5A5A5A5A;
}

std::string CFake::TextArg(int nSlot, size_t i) const
{
    const CFakeCall* pCall = LastCall(m_calls, nSlot);
    const bool bCalled = pCall != nullptr && i < pCall->texts.size();
    EXPECT_TRUE(bCalled) << "slot " << nSlot << " was not called with text " << i;
    return bCalled ? testing_support::Narrow(pCall->texts[i]) : "<none>";
}

std::vector<int> CFake::UnexpectedSlots() const
{
    std::vector<int> slots;
    for (const CFakeCall& call : m_calls) {
        if (call.bUnexpected) {
            slots.push_back(call.nSlot);
        }
    }
    return slots;
}

void CFake::ClearLog()
{
    m_calls.clear();
    m_nQueries = 0;
}

std::vector<CFake*> CFake::Visited() const
{
    std::vector<CFake*> items;
    for (const CFakeCall& call : m_calls) {
        if (call.nSlot == VISITOR_VISIT && !call.bUnexpected) {
            items.push_back(call.pObject);
        }
    }
    return items;
}

::testing::AssertionResult Settled(const CFake& fake)
{
    if (fake.RefCount() != 1 || !fake.UnexpectedSlots().empty()) {
        return ::testing::AssertionFailure() << "reference count " << fake.RefCount() << " (expected 1), "
                                             << fake.UnexpectedSlots().size() << " unexpected call(s)";
    }
    for (size_t i = 0; i < fake.Created().size(); ++i) {
        const CFake& item = *fake.Created()[i];
        if (item.RefCount() != 0 || !item.UnexpectedSlots().empty()) {
            return ::testing::AssertionFailure()
                   << "made item " << i << " still holds " << item.RefCount() << " reference(s), "
                   << item.UnexpectedSlots().size() << " unexpected call(s)";
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<LONG> Ids(const CFake& fake)
{
    std::vector<CFake*> items = fake.Visited();
    for (const auto& pMade : fake.Created()) {
        items.push_back(pMade.get());
    }
    std::vector<LONG> ids;
    for (CFake* pItem : items) {
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
    const char* const names[] = {"kernel", "account", "settings", "calendar factory", "event factory"};
    const CFake* const fakes[] = {&kernel, &account, &settings, &calendarFactory, &eventFactory};
    for (size_t i = 0; i < std::size(fakes); ++i) {
        if (::testing::AssertionResult result = fakehost::Settled(*fakes[i]); !result) {
            return ::testing::AssertionFailure() << names[i] << ": " << result.message();
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
    for (size_t i = 0; i < m_fakes.size(); ++i) {
        if (::testing::AssertionResult result = fakehost::Settled(*m_fakes[i]); !result) {
            return ::testing::AssertionFailure() << "fake " << i << ": " << result.message();
        }
    }
    return ::testing::AssertionSuccess();
}

CBstrPtr Bstr(const char* pszUtf8)
{
    return {SysAllocString(testing_support::Wide(pszUtf8).c_str()), &SysFreeString};
}

}  // namespace fakehost
