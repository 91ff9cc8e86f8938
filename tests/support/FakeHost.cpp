#include "FakeHost.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "TestSupport.h"

namespace fakehost {

namespace {

// How a slot behaves; each kind has one thunk template.
enum ESlot : unsigned char {
    QI,
    ADDREF,
    RELEASE,
    UNEXPECTED,  // IDispatch and ReservedN slots
    GET_LONG,
    PUT_LONG,
    GET_BYTE,
    PUT_BYTE,
    GET_BOOL,
    PUT_BOOL,
    GET_TEXT,
    PUT_TEXT,
    GET_TWO_LONGS,
    PUT_TWO_LONGS,
    PUT_TWO_TEXTS,
    PUT_FOUR_TEXTS,
    GET_OBJECT,
    GET_BYTE_BY_NAME,
    CREATE_ITEM,
    VISIT,
};

constexpr bool In(int n, std::initializer_list<int> slots)
{
    for (int s : slots) {
        if (s == n) {
            return true;
        }
    }
    return false;
}

// Slots 0 to 2 are IUnknown's; from 3 on, each interface's own map. Anything not
// named is reserved (or IDispatch's) and must never be called.
constexpr ESlot Base(int n)
{
    return n == 0 ? QI : n == 1 ? ADDREF : RELEASE;
}

constexpr ESlot PlainSlot(int n)
{
    return Base(n);
}

constexpr ESlot KernelSlot(int n)
{
    return n < 3 ? Base(n) : In(n, {10, 11, 13}) ? GET_OBJECT : UNEXPECTED;
}

constexpr ESlot AccountSlot(int n)
{
    return n < 3 ? Base(n) : In(n, {10, 12}) ? GET_LONG : n == 19 ? GET_OBJECT : UNEXPECTED;
}

constexpr ESlot SettingsSlot(int n)
{
    return n < 3 ? Base(n) : n == 8 ? GET_BYTE_BY_NAME : UNEXPECTED;
}

constexpr ESlot FactorySlot(int n)
{
    return n < 3 ? Base(n) : n == 13 ? CREATE_ITEM : UNEXPECTED;
}

constexpr ESlot VisitorSlot(int n)
{
    return n < 3 ? Base(n) : VISIT;
}

constexpr ESlot CalendarItemSlot(int n)
{
    return n < 3                         ? Base(n)
           : In(n, {9, 11, 13, 15})      ? GET_LONG
           : In(n, {8, 10, 12, 14, 16})  ? PUT_LONG
           : In(n, {17, 19, 21, 32, 33}) ? GET_TEXT
           : In(n, {18, 20, 22})         ? PUT_TEXT
           : n == 37                     ? PUT_TWO_TEXTS
           : n == 38                     ? PUT_TWO_LONGS
           : n == 39                     ? GET_TWO_LONGS
                                         : UNEXPECTED;
}

constexpr ESlot EventItemSlot(int n)
{
    return n < 3                                                                                ? Base(n)
           : In(n, {7, 9, 11, 13, 15, 17, 21, 27, 33, 35, 40, 48, 52, 54, 57, 59, 62, 68, 70})  ? GET_LONG
           : In(n, {8, 10, 12, 14, 16, 18, 22, 28, 34, 36, 41, 49, 53, 55, 58, 60, 63, 69, 71}) ? PUT_LONG
           : In(n, {19, 23, 25, 50})                                                            ? GET_BYTE
           : In(n, {20, 24, 26, 51})                                                            ? PUT_BYTE
           : n == 46                                                                            ? GET_BOOL
           : n == 47                                                                            ? PUT_BOOL
           : In(n, {29, 31, 42, 43, 44, 64, 65, 75})                                            ? GET_TEXT
           : In(n, {30, 32, 45})                                                                ? PUT_TEXT
           : n == 66                                                                            ? PUT_FOUR_TEXTS
                                                                                                : UNEXPECTED;
}

WString TextOf(BSTR bs)
{
    return bs != nullptr ? WString(bs, SysStringLen(bs)) : WString();
}

}  // namespace

// One function per slot kind; the slot number is a template argument, so each
// table entry knows which slot it is.
struct CFakeThunks {
    static CFake& Self(FakeComObject* p) { return *p->pOwner; }

    static HRESULT STDMETHODCALLTYPE QueryInterface(FakeComObject* p, REFIID riid, void** ppv)
    {
        CFake& self = Self(p);
        ++self.m_nQueries;
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (const HRESULT hr = self.FailureOf(0); FAILED(hr)) {
            return hr;
        }
        for (const auto& redirect : self.m_redirects) {
            if (redirect.first == riid) {
                ++redirect.second->m_cRef;
                *ppv = &redirect.second->m_com;
                return S_OK;
            }
        }
        if (std::find(self.m_iids.begin(), self.m_iids.end(), riid) == self.m_iids.end()) {
            return E_NOINTERFACE;
        }
        ++self.m_cRef;
        *ppv = p;
        return S_OK;
    }

    static ULONG STDMETHODCALLTYPE AddRef(FakeComObject* p) { return ++Self(p).m_cRef; }

    static ULONG STDMETHODCALLTYPE Release(FakeComObject* p)
    {
        CFake& self = Self(p);
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
        Self(p).Record(S).bUnexpected = true;
        return E_NOTIMPL;
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE GetLong(FakeComObject* p, LONG* pl)
    {
        CFake& self = Self(p);
        self.Record(S);
        if (const HRESULT hr = self.FailureOf(S); FAILED(hr)) {
            return hr;
        }
        *pl = self.NextLong(S);
        return S_OK;
    }

    template <int S, typename T>
    static HRESULT STDMETHODCALLTYPE GetSmall(FakeComObject* p, T* pValue)
    {
        CFake& self = Self(p);
        self.Record(S);
        if (const HRESULT hr = self.FailureOf(S); FAILED(hr)) {
            return hr;
        }
        *pValue = static_cast<T>(self.NextLong(S));
        return S_OK;
    }

    template <int S, typename T>
    static HRESULT STDMETHODCALLTYPE Put(FakeComObject* p, T value)
    {
        CFake& self = Self(p);
        self.Record(S).values.push_back(static_cast<LONG>(value));
        return self.FailureOf(S);
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE GetText(FakeComObject* p, BSTR* pbs)
    {
        CFake& self = Self(p);
        self.Record(S);
        if (const HRESULT hr = self.FailureOf(S); FAILED(hr)) {
            return hr;
        }
        const auto it = self.m_texts.find(S);
        *pbs = it != self.m_texts.end() ? SysAllocStringLen(it->second.data(), UINT(it->second.size())) : nullptr;
        return S_OK;
    }

    template <int S, typename... TTexts>
    static HRESULT STDMETHODCALLTYPE PutTexts(FakeComObject* p, TTexts... texts)
    {
        CFake& self = Self(p);
        CFakeCall& call = self.Record(S);
        (call.texts.push_back(TextOf(texts)), ...);
        return self.FailureOf(S);
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE GetTwoLongs(FakeComObject* p, LONG* pl1, LONG* pl2)
    {
        CFake& self = Self(p);
        self.Record(S);
        if (const HRESULT hr = self.FailureOf(S); FAILED(hr)) {
            return hr;
        }
        const std::vector<LONG>& values = self.m_longs[S];
        *pl1 = values.size() > 0 ? values[0] : 0;
        *pl2 = values.size() > 1 ? values[1] : 0;
        return S_OK;
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE PutTwoLongs(FakeComObject* p, LONG l1, LONG l2)
    {
        CFake& self = Self(p);
        CFakeCall& call = self.Record(S);
        call.values = {l1, l2};
        return self.FailureOf(S);
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE GetObjectOut(FakeComObject* p, void** ppObject)
    {
        CFake& self = Self(p);
        self.Record(S);
        if (const HRESULT hr = self.FailureOf(S); FAILED(hr)) {
            return hr;
        }
        CFake* pObject = self.m_objects[S];
        *ppObject = nullptr;
        if (pObject != nullptr) {
            ++pObject->m_cRef;
            *ppObject = &pObject->m_com;
        }
        return S_OK;
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE GetByteByName(FakeComObject* p, BSTR bsName, BYTE* pc)
    {
        CFake& self = Self(p);
        self.Record(S).texts.push_back(TextOf(bsName));
        if (const HRESULT hr = self.FailureOf(S); FAILED(hr)) {
            return hr;
        }
        *pc = static_cast<BYTE>(self.NextLong(S));
        return S_OK;
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE CreateItem(FakeComObject* p, void** ppItem)
    {
        CFake& self = Self(p);
        self.Record(S);
        if (const HRESULT hr = self.FailureOf(S); FAILED(hr)) {
            return hr;
        }
        // The new item's one reference goes to the caller.
        self.m_created.emplace_back(
            new CFake(self.m_eKind == EFakeKind::CalendarFactory ? EFakeKind::CalendarItem : EFakeKind::EventItem));
        CFake& item = *self.m_created.back();
        if (self.m_onCreate) {
            self.m_onCreate(item);
        }
        *ppItem = &item.m_com;
        return S_OK;
    }

    template <int S>
    static HRESULT STDMETHODCALLTYPE Visit(FakeComObject* p, FakeComObject* pItem, LONG* pbStop)
    {
        CFake& self = Self(p);
        CFakeCall& call = self.Record(S);
        call.values.push_back(pbStop != nullptr ? *pbStop : -12345);
        call.pObject = pItem != nullptr ? pItem->pOwner : nullptr;
        CFake* pVisited = call.pObject;  // the log may grow during the callback
        if (const HRESULT hr = self.FailureOf(S); FAILED(hr)) {
            return hr;
        }
        ++self.m_nVisits;
        if (self.m_onVisit && pVisited != nullptr) {
            self.m_onVisit(*pVisited);
        }
        if (self.m_nVisits == self.m_nStopAtVisit) {
            *pbStop = 1;
        }
        return S_OK;
    }
};

namespace {

template <ESlot K, int S>
PFN_SLOT Entry()
{
    using T = CFakeThunks;
    if constexpr (K == QI) {
        return reinterpret_cast<PFN_SLOT>(&T::QueryInterface);
    } else if constexpr (K == ADDREF) {
        return reinterpret_cast<PFN_SLOT>(&T::AddRef);
    } else if constexpr (K == RELEASE) {
        return reinterpret_cast<PFN_SLOT>(&T::Release);
    } else if constexpr (K == GET_LONG) {
        return reinterpret_cast<PFN_SLOT>(&T::GetLong<S>);
    } else if constexpr (K == PUT_LONG) {
        return reinterpret_cast<PFN_SLOT>(&T::Put<S, LONG>);
    } else if constexpr (K == GET_BYTE) {
        return reinterpret_cast<PFN_SLOT>(&T::GetSmall<S, BYTE>);
    } else if constexpr (K == PUT_BYTE) {
        return reinterpret_cast<PFN_SLOT>(&T::Put<S, BYTE>);
    } else if constexpr (K == GET_BOOL) {
        return reinterpret_cast<PFN_SLOT>(&T::GetSmall<S, VARIANT_BOOL>);
    } else if constexpr (K == PUT_BOOL) {
        return reinterpret_cast<PFN_SLOT>(&T::Put<S, VARIANT_BOOL>);
    } else if constexpr (K == GET_TEXT) {
        return reinterpret_cast<PFN_SLOT>(&T::GetText<S>);
    } else if constexpr (K == PUT_TEXT) {
        return reinterpret_cast<PFN_SLOT>(&T::PutTexts<S, BSTR>);
    } else if constexpr (K == GET_TWO_LONGS) {
        return reinterpret_cast<PFN_SLOT>(&T::GetTwoLongs<S>);
    } else if constexpr (K == PUT_TWO_LONGS) {
        return reinterpret_cast<PFN_SLOT>(&T::PutTwoLongs<S>);
    } else if constexpr (K == PUT_TWO_TEXTS) {
        return reinterpret_cast<PFN_SLOT>(&T::PutTexts<S, BSTR, BSTR>);
    } else if constexpr (K == PUT_FOUR_TEXTS) {
        return reinterpret_cast<PFN_SLOT>(&T::PutTexts<S, BSTR, BSTR, BSTR, BSTR>);
    } else if constexpr (K == GET_OBJECT) {
        return reinterpret_cast<PFN_SLOT>(&T::GetObjectOut<S>);
    } else if constexpr (K == GET_BYTE_BY_NAME) {
        return reinterpret_cast<PFN_SLOT>(&T::GetByteByName<S>);
    } else if constexpr (K == CREATE_ITEM) {
        return reinterpret_cast<PFN_SLOT>(&T::CreateItem<S>);
    } else if constexpr (K == VISIT) {
        return reinterpret_cast<PFN_SLOT>(&T::Visit<S>);
    } else {
        return reinterpret_cast<PFN_SLOT>(&T::Unexpected<S>);
    }
}

template <ESlot (*Map)(int), size_t... I>
const PFN_SLOT* BuildTable(std::index_sequence<I...>)
{
    static const PFN_SLOT s_table[] = {Entry<Map(int(I)), int(I)>()...};
    return s_table;
}

const PFN_SLOT* TableOf(EFakeKind eKind)
{
    switch (eKind) {
    case EFakeKind::Kernel: return BuildTable<KernelSlot>(std::make_index_sequence<14>());
    case EFakeKind::Account: return BuildTable<AccountSlot>(std::make_index_sequence<20>());
    case EFakeKind::Settings: return BuildTable<SettingsSlot>(std::make_index_sequence<9>());
    case EFakeKind::CalendarFactory:
    case EFakeKind::EventFactory: return BuildTable<FactorySlot>(std::make_index_sequence<14>());
    case EFakeKind::CalendarVisitor:
    case EFakeKind::EventVisitor: return BuildTable<VisitorSlot>(std::make_index_sequence<4>());
    case EFakeKind::CalendarItem: return BuildTable<CalendarItemSlot>(std::make_index_sequence<40>());
    case EFakeKind::EventItem: return BuildTable<EventItemSlot>(std::make_index_sequence<76>());
    case EFakeKind::Plain:
    default: return BuildTable<PlainSlot>(std::make_index_sequence<3>());
    }
}

std::vector<IID> IidsOf(EFakeKind eKind)
{
    switch (eKind) {
    case EFakeKind::Kernel: return {IID_IUnknown, IID_IDispatch, IID_ICalendarKernel};
    case EFakeKind::Account: return {IID_IUnknown, IID_IDispatch, IID_ICalendarAccount};
    case EFakeKind::Settings: return {IID_IUnknown, IID_IDispatch, IID_IAccountSettings};
    case EFakeKind::CalendarFactory: return {IID_IUnknown, IID_IDispatch, IID_ICalendarItemFactory};
    case EFakeKind::EventFactory: return {IID_IUnknown, IID_IDispatch, IID_IEventItemFactory};
    case EFakeKind::CalendarVisitor: return {IID_IUnknown, IID_ICalendarVisitor};
    case EFakeKind::EventVisitor: return {IID_IUnknown, IID_IEventVisitor};
    case EFakeKind::CalendarItem: return {IID_IUnknown, IID_IDispatch, IID_ICalendarItem};
    case EFakeKind::EventItem: return {IID_IUnknown, IID_IDispatch, IID_IEventItem};
    case EFakeKind::Plain:
    default: return {IID_IUnknown};
    }
}

}  // namespace

CFake::CFake(EFakeKind eKind) : m_eKind(eKind), m_com{TableOf(eKind), this}, m_iids(IidsOf(eKind)) {}

CFake::~CFake() = default;

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
    std::vector<int> slots;
    for (const CFakeCall& call : m_calls) {
        slots.push_back(call.nSlot);
    }
    return slots;
}

int CFake::CallCount(int nSlot) const
{
    return int(std::count_if(m_calls.begin(), m_calls.end(), [nSlot](const CFakeCall& c) { return c.nSlot == nSlot; }));
}

const CFakeCall* CFake::LastCall(int nSlot) const
{
    for (auto it = m_calls.rbegin(); it != m_calls.rend(); ++it) {
        if (it->nSlot == nSlot) {
            return &*it;
        }
    }
    return nullptr;
}

LONG CFake::Arg(int nSlot, size_t i) const
{
    const CFakeCall* pCall = LastCall(nSlot);
    if (pCall == nullptr || i >= pCall->values.size()) {
        ADD_FAILURE() << "slot " << nSlot << " was not called with argument " << i;
        return -0x5A5A5A5A;
    }
    return pCall->values[i];
}

std::string CFake::TextArg(int nSlot, size_t i) const
{
    const CFakeCall* pCall = LastCall(nSlot);
    if (pCall == nullptr || i >= pCall->texts.size()) {
        ADD_FAILURE() << "slot " << nSlot << " was not called with text " << i;
        return "<none>";
    }
    return testing_support::Narrow(pCall->texts[i]);
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
        if (call.nSlot == 3 && !call.bUnexpected) {
            items.push_back(call.pObject);
        }
    }
    return items;
}

::testing::AssertionResult Settled(const CFake& fake)
{
    if (fake.RefCount() != 1) {
        return ::testing::AssertionFailure() << "reference count " << fake.RefCount() << ", expected 1";
    }
    if (!fake.UnexpectedSlots().empty()) {
        return ::testing::AssertionFailure() << "unexpected slot " << fake.UnexpectedSlots().front() << " called";
    }
    for (size_t i = 0; i < fake.Created().size(); ++i) {
        const CFake& item = *fake.Created()[i];
        if (item.RefCount() != 0) {
            return ::testing::AssertionFailure()
                   << "made item " << i << " still holds " << item.RefCount() << " reference(s)";
        }
        if (!item.UnexpectedSlots().empty()) {
            return ::testing::AssertionFailure()
                   << "made item " << i << ": unexpected slot " << item.UnexpectedSlots().front() << " called";
        }
    }
    return ::testing::AssertionSuccess();
}

CFakeHost::CFakeHost(ULONG dwUIN, ULONG dwAltUIN, BYTE cStoreMode)
{
    kernel.SetObject(10, &calendarFactory);
    kernel.SetObject(11, &eventFactory);
    kernel.SetObject(13, &account);
    account.SetLong(10, LONG(dwUIN));
    account.SetLong(12, LONG(dwAltUIN));
    account.SetObject(19, &settings);
    settings.SetLong(8, cStoreMode);
}

void CFakeHost::ClearLogs()
{
    for (CFake* pFake : {&kernel, &account, &settings, &calendarFactory, &eventFactory}) {
        pFake->ClearLog();
    }
}

::testing::AssertionResult CFakeHost::Settled() const
{
    const std::pair<const char*, const CFake*> fakes[] = {{"kernel", &kernel},
                                                          {"account", &account},
                                                          {"settings", &settings},
                                                          {"calendar factory", &calendarFactory},
                                                          {"event factory", &eventFactory}};
    for (const auto& named : fakes) {
        ::testing::AssertionResult result = fakehost::Settled(*named.second);
        if (!result) {
            return ::testing::AssertionFailure() << named.first << ": " << result.message();
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace fakehost
