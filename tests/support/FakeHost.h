// Fake host objects built at the vtable level, as a host written in C builds them:
// each slot records its call and answers what the test set. Release never frees a
// fake: the test owns it, and checks every reference came back.
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

// The vtable slots of the host interfaces: the binary contract, so the numbers are
// written here rather than taken from include/host/CalendarKernel.h.
enum EHostSlot : int {
    VISITOR_VISIT = 3,
    SETTINGS_GET_BYTE = 8,
    KERNEL_CALENDAR_FACTORY = 10, KERNEL_EVENT_FACTORY = 11, KERNEL_ACCOUNT = 13,
    ACCOUNT_UIN = 10, ACCOUNT_ALTUIN = 12, ACCOUNT_SETTINGS = 19,
    FACTORY_CREATE_ITEM = 13,
};
enum ECalendarSlot : int {
    CAL_PUT_UIN = 8, CAL_GET_CALTYPE, CAL_PUT_CALTYPE, CAL_GET_CALID, CAL_PUT_CALID, CAL_GET_SHRLEVEL,
    CAL_PUT_SHRLEVEL, CAL_GET_TMSTAMP, CAL_PUT_TMSTAMP, CAL_GET_SUBJECT, CAL_PUT_SUBJECT, CAL_GET_EXT1,
    CAL_PUT_EXT1, CAL_GET_DETAIL, CAL_PUT_DETAIL,
    CAL_GET_CONTACTID = 32, CAL_GET_CONTACTINFO,
    CAL_SET_CONTACT = 37, CAL_SET_OWNER, CAL_GET_SPONSOR,
};
enum EEventSlot : int {
    EVT_GET_CALID = 7, EVT_PUT_CALID, EVT_GET_EVTID, EVT_PUT_EVTID, EVT_GET_EVTTYPE, EVT_PUT_EVTTYPE,
    EVT_GET_BGNTM, EVT_PUT_BGNTM, EVT_GET_ENDTM, EVT_PUT_ENDTM, EVT_GET_TMSTAMP, EVT_PUT_TMSTAMP,
    EVT_GET_TIPTYPE, EVT_PUT_TIPTYPE, EVT_GET_DAY, EVT_PUT_DAY, EVT_GET_WEEK, EVT_PUT_WEEK, EVT_GET_MONTH,
    EVT_PUT_MONTH, EVT_GET_LOOPTYPE, EVT_PUT_LOOPTYPE, EVT_GET_SUBJECT, EVT_PUT_SUBJECT, EVT_GET_DETAIL,
    EVT_PUT_DETAIL, EVT_GET_SYNCHRONIZED, EVT_PUT_SYNCHRONIZED, EVT_GET_REVISEDSTATE, EVT_PUT_REVISEDSTATE,
    EVT_GET_REMINDMINUTE = 40, EVT_PUT_REMINDMINUTE, EVT_GET_CONTACTID, EVT_GET_CONTACTINFO, EVT_GET_LOCATION,
    EVT_PUT_LOCATION, EVT_GET_VALID, EVT_PUT_VALID, EVT_GET_SPONSORID, EVT_PUT_SPONSORID, EVT_GET_WEEKNUM,
    EVT_PUT_WEEKNUM, EVT_GET_CALTYPE, EVT_PUT_CALTYPE, EVT_GET_ENDTYPE, EVT_PUT_ENDTYPE,
    EVT_GET_LOOPCALID = 57, EVT_PUT_LOOPCALID, EVT_GET_LOOPEVENTID, EVT_PUT_LOOPEVENTID,
    EVT_GET_EVENTRIGHT = 62, EVT_PUT_EVENTRIGHT, EVT_GET_CONTACTIDDISPLAY, EVT_GET_CONTACTIDINVALID,
    EVT_SET_CONTACTS,
    EVT_GET_CALOWNERUIN = 68, EVT_PUT_CALOWNERUIN, EVT_GET_EVENTSTATUS, EVT_PUT_EVENTSTATUS,
    EVT_GET_EXT3 = 75,
};

class CFake;

typedef void (*PFN_SLOT)();  // each entry is cast back to its own signature by the caller

// What the component holds: the table pointer first, then the way back to the fake.
struct FakeComObject {
    const PFN_SLOT* lpVtbl;
    CFake* pOwner;
};

enum class EFakeKind { Plain, Kernel, Account, Settings, CalendarFactory, EventFactory, CalendarVisitor, EventVisitor,
                       CalendarItem, EventItem };  // Plain answers IUnknown only

// One call through a slot above IUnknown's three.
struct CFakeCall {
    int nSlot;
    std::vector<LONG> values;    // integer arguments in order
    std::vector<WString> texts;  // BSTR arguments in order; null reads as empty
    CFake* pObject;              // Visit: the item passed
    bool bUnexpected;            // a reserved slot, an IDispatch slot, or a Release below zero
};

class CFake {
public:
    explicit CFake(EFakeKind eKind);
    CFake(const CFake&) = delete;
    CFake& operator=(const CFake&) = delete;

    EFakeKind Kind() const { return m_eKind; }
    template <typename T>
    T* As()
    {
        return reinterpret_cast<T*>(&m_com);
    }
    IUnknown* Unknown() { return As<IUnknown>(); }

    // A fake answers IUnknown, its own IID and IDispatch if that is a base; Redirect
    // hands out another fake for riid (null: refused).
    void Redirect(REFIID riid, CFake* pOther) { m_redirects.emplace_back(riid, pOther); }
    // Integer reads take successive values, the last one repeating (0 when none was
    // set); CAL_GET_SPONSOR takes the first two. Unset texts and objects answer null.
    void SetLong(int nSlot, LONG lValue) { m_longs[nSlot] = {lValue}; }
    void SetLongs(int nSlot, std::vector<LONG> values) { m_longs[nSlot] = std::move(values); }
    void SetText(int nSlot, const std::string& strUtf8);
    void SetObject(int nSlot, CFake* pObject) { m_objects[nSlot] = pObject; }
    // The slot records its call and returns hr, writing nothing.
    void Fail(int nSlot, HRESULT hr) { m_failures[nSlot] = hr; }
    // Visitors: set the stop flag on the given visit (from 1); run fn on each visited item.
    void StopAtVisit(int nVisit) { m_nStopAtVisit = nVisit; }
    void OnVisit(std::function<void(CFake& item)> fn) { m_onVisit = std::move(fn); }

    ULONG RefCount() const { return m_cRef; }
    const std::vector<CFakeCall>& Calls() const { return m_calls; }
    // Integer argument i of the last call of nSlot; a failure when there is none.
    LONG Arg(int nSlot, size_t i = 0) const;
    void ClearLog() { m_calls.clear(); }
    // Factories keep the items they made, in order.
    const std::vector<std::unique_ptr<CFake>>& Created() const { return m_created; }

private:
    friend struct CFakeThunks;

    EFakeKind m_eKind;
    FakeComObject m_com;
    ULONG m_cRef = 1;  // the test's own reference
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
    std::vector<CFakeCall> m_calls;
    std::vector<std::unique_ptr<CFake>> m_created;
};

// Only cRef references are left, no unexpected call, and every item made released.
::testing::AssertionResult Settled(const CFake& fake, ULONG cRef = 1);

// The CalIDs or EvtIDs put into the items a visitor saw and a factory made.
std::vector<LONG> Ids(const CFake& fake);

// A kernel with its account, the account's settings and the two factories.
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

// The fakes a test makes, kept to its end.
class CFakeSet {
public:
    CFake& New(EFakeKind eKind) { return *m_fakes.emplace_back(new CFake(eKind)); }
    // CalType 2, TmStamp 3000, ShrLevel 4, sponsor 55 from 66, subject "cal <id>".
    CFake& Calendar(LONG lCalID, const std::string& strSubject = "");
    // Subject "event <id>", Valid.
    CFake& Event(LONG lCalID, LONG lEvtID, LONG lBgnTm = 100, LONG lEndTm = 200, const std::string& strExt3 = "");
    ::testing::AssertionResult Settled() const;

private:
    std::vector<std::unique_ptr<CFake>> m_fakes;
};

// A BSTR freed at the end of the full expression that makes it, or of its holder.
typedef std::unique_ptr<OLECHAR, void (*)(BSTR)> CBstrPtr;
CBstrPtr Bstr(const char* pszUtf8);

}  // namespace fakehost
