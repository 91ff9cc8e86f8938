// Fake host objects built at the vtable level, the way a host written in C builds
// them: a struct whose first member points at a static table of functions, one per
// slot. Each slot records its call and answers from values the test set before.
//
// The component reaches these objects through the C++ interface types; a virtual
// call reads the function from the object's first word, so the tables below are
// what it runs. Fakes are never freed by Release: the test owns them, and checks
// that every reference the component took was given back.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compat/win32.h"
#include "host/CalendarKernel.h"

namespace fakehost {

class CFake;

// One table entry; each entry is cast back to its own signature by the caller.
typedef void (*PFN_SLOT)();

// What the component holds: the table pointer first, then the way back to the fake.
struct FakeComObject {
    const PFN_SLOT* lpVtbl;
    CFake* pOwner;
};

enum class EFakeKind {
    Plain,  // answers IUnknown only
    Kernel,
    Account,
    Settings,
    CalendarFactory,
    EventFactory,
    CalendarVisitor,
    EventVisitor,
    CalendarItem,
    EventItem,
};

// One call through a slot above IUnknown's three.
struct CFakeCall {
    int nSlot;
    std::vector<LONG> values;    // integer arguments in order (Visit: the stop flag as it came in)
    std::vector<WString> texts;  // BSTR arguments in order; null reads as empty
    CFake* pObject;              // Visit: the item passed
    bool bUnexpected;            // a reserved slot, an IDispatch slot, or a Release below zero
};

class CFake {
public:
    explicit CFake(EFakeKind eKind);
    ~CFake();
    CFake(const CFake&) = delete;
    CFake& operator=(const CFake&) = delete;

    EFakeKind Kind() const { return m_eKind; }

    // The object as the component sees it.
    template <typename T>
    T* As()
    {
        return reinterpret_cast<T*>(&m_com);
    }
    IUnknown* Unknown() { return As<IUnknown>(); }

    // Identity. Every kind answers IUnknown, its own IID, and IDispatch when its
    // interface derives from it.
    void Refuse(REFIID riid);
    // QueryInterface for riid hands out another fake (a tear-off, for instance the
    // account's visitor).
    void Redirect(REFIID riid, CFake* pOther);

    // Answers. Integer reads take successive values, the last one repeating (and 0
    // when none was set); a two-value read (ICalendarItem slot 39) takes the first
    // two. Unset text slots answer a null BSTR; unset object slots a null pointer.
    void SetLong(int nSlot, LONG lValue) { m_longs[nSlot] = {lValue}; }
    void SetLongs(int nSlot, std::vector<LONG> values) { m_longs[nSlot] = std::move(values); }
    void SetText(int nSlot, const std::string& strUtf8);
    void SetTextW(int nSlot, const WString& str) { m_texts[nSlot] = str; }
    void SetObject(int nSlot, CFake* pObject) { m_objects[nSlot] = pObject; }
    // The slot records its call and returns hr, writing nothing. Slot 0 fails every
    // QueryInterface.
    void Fail(int nSlot, HRESULT hr) { m_failures[nSlot] = hr; }

    // Visitors: set the stop flag on the given visit (counting from 1), and run fn
    // on each visited item before answering.
    void StopAtVisit(int nVisit) { m_nStopAtVisit = nVisit; }
    void OnVisit(std::function<void(CFake& item)> fn) { m_onVisit = std::move(fn); }
    // Factories: run fn on each item made, before it is handed out.
    void OnCreateItem(std::function<void(CFake& item)> fn) { m_onCreate = std::move(fn); }

    // What happened.
    ULONG RefCount() const { return m_cRef; }
    int QueryCount() const { return m_nQueries; }
    const std::vector<CFakeCall>& Calls() const { return m_calls; }
    std::vector<int> Slots() const;
    int CallCount(int nSlot) const;
    const CFakeCall* LastCall(int nSlot) const;
    // Argument i of the last call of nSlot; records a failure when there is none.
    LONG Arg(int nSlot, size_t i = 0) const;
    std::string TextArg(int nSlot, size_t i = 0) const;
    std::vector<int> UnexpectedSlots() const;
    void ClearLog();

    // Factories keep the items they made alive, in order of making.
    const std::vector<std::unique_ptr<CFake>>& Created() const { return m_created; }
    // Visitors: the items passed to Visit, in order.
    std::vector<CFake*> Visited() const;

private:
    friend struct CFakeThunks;

    CFakeCall& Record(int nSlot);
    HRESULT FailureOf(int nSlot) const;
    LONG NextLong(int nSlot);

    EFakeKind m_eKind;
    FakeComObject m_com;
    ULONG m_cRef = 1;  // the test's own reference
    int m_nQueries = 0;
    std::vector<IID> m_iids;
    std::vector<std::pair<IID, CFake*>> m_redirects;
    std::map<int, std::vector<LONG>> m_longs;
    std::map<int, size_t> m_reads;
    std::map<int, WString> m_texts;
    std::map<int, CFake*> m_objects;
    std::map<int, HRESULT> m_failures;
    int m_nStopAtVisit = 0;
    int m_nVisits = 0;
    std::function<void(CFake&)> m_onVisit;
    std::function<void(CFake&)> m_onCreate;
    std::vector<CFakeCall> m_calls;
    std::vector<std::unique_ptr<CFake>> m_created;
};

// The test's reference is the only one left, no unexpected slot was called, and
// every item a factory made has been released by whoever took it.
::testing::AssertionResult Settled(const CFake& fake);

// A kernel with its account, the account's settings and the two factories, wired
// as the host wires them: kernel slots 10, 11, 13 and account slot 19.
struct CFakeHost {
    explicit CFakeHost(ULONG dwUIN = 123, ULONG dwAltUIN = 0, BYTE cStoreMode = 0);

    ICalendarKernel* Kernel() { return kernel.As<ICalendarKernel>(); }
    void ClearLogs();
    ::testing::AssertionResult Settled() const;

    CFake kernel{EFakeKind::Kernel};
    CFake account{EFakeKind::Account};
    CFake settings{EFakeKind::Settings};
    CFake calendarFactory{EFakeKind::CalendarFactory};
    CFake eventFactory{EFakeKind::EventFactory};
};

}  // namespace fakehost
