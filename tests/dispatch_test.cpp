// Late binding on the store object's two dual interfaces, through the module as a
// script host would use them: names to DISPIDs, then Invoke. Every method is also
// called directly, and both ways must agree, whatever VARIANT types the arguments
// arrive in. Invoke's own checks are reached one by one, in their order.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeHost.h"
#include "TestSupport.h"
#include "brellin/VxCalStore.h"

namespace moduletest {
// Defined in module_test.cpp.
HRESULT ModuleCanUnloadNow();
HRESULT CreateStoreObject(IUnknown* pUnkOuter, REFIID riid, void** ppv);
}  // namespace moduletest

using namespace fakehost;
using namespace moduletest;
using namespace testing_support;

namespace {

const char* const s_apszDataNames[] = {
    "Initialize",     "SetDataSource",    "GetAllCalendar",   "GetAllCalEvent",        "AddCalendar",
    "DelCalendar",    "UpdateCalendar",   "AddCalEvent",      "UpdateCalEvent",        "DelCalEvent",
    "GetAllEvent",    "QueryCalendar",    "QueryEvent",       "GetAllCalendarEx",      "GetAllCalEventEx",
    "GetPeriodEvent", "GetOneCalendar",   "GetOneCalEvent",   "SetBatchMode",          "DelAllEventofCalendar",
    "GetPeriodEventEx", "IsOutlookIDExist",
};
const char* const s_apszConfigNames[] = {"InitializeConfig", "AddString", "GetString",
                                         "AddDWord",         "GetDWord",  "DeleteConfigItem"};

// Argument variants. Each owns what it holds; the call helpers clear them.
VARIANT Empty()
{
    VARIANT v;
    VariantInit(&v);
    return v;
}
template <typename T>
VARIANT Value(VARTYPE vt, T value)
{
    VARIANT v = Empty();
    v.vt = vt;
    std::memcpy(&v.llVal, &value, sizeof(T));
    return v;
}
VARIANT I4(LONG l) { return Value(VT_I4, l); }
VARIANT UI4(ULONG ul) { return Value(VT_UI4, ul); }
VARIANT I2(SHORT i) { return Value(VT_I2, i); }
VARIANT UI1(BYTE b) { return Value(VT_UI1, b); }
VARIANT R8(double d) { return Value(VT_R8, d); }
VARIANT Bool(VARIANT_BOOL b) { return Value(VT_BOOL, b); }
VARIANT ByRef(VARTYPE vt, void* p) { return Value(VARTYPE(vt | VT_BYREF), p); }
VARIANT Str(const char* pszUtf8) { return Value(VT_BSTR, SysAllocString(Wide(pszUtf8).c_str())); }
VARIANT Unk(IUnknown* p)
{
    if (p != nullptr) {
        p->AddRef();
    }
    return Value(VT_UNKNOWN, p);
}
VARIANT Disp(IDispatch* p)
{
    if (p != nullptr) {
        p->AddRef();
    }
    return Value(VT_DISPATCH, p);
}

const UINT s_uNoArgErr = 0xDEAD;

// Calls by DISPID with the arguments given in parameter order; the helper lays
// them out as Invoke expects, the last parameter first.
HRESULT InvokeArgs(IDispatch* p, DISPID id, std::vector<VARIANT> args, VARIANT* pResult = nullptr,
                   UINT* puArgErr = nullptr)
{
    std::vector<VARIANT> rg(args.rbegin(), args.rend());
    DISPPARAMS params{rg.empty() ? nullptr : rg.data(), nullptr, UINT(rg.size()), 0};
    const HRESULT hr =
        p->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, pResult, nullptr, puArgErr);
    for (VARIANT& v : rg) {
        VariantClear(&v);
    }
    return hr;
}

DISPID IdOf(IDispatch* p, const char* pszName)
{
    WString strName = Wide(pszName);
    LPOLESTR pszNames[] = {&strName[0]};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(S_OK, p->GetIDsOfNames(IID_NULL, pszNames, 1, LOCALE_USER_DEFAULT, &id)) << pszName;
    return id;
}

HRESULT Call(IDispatch* p, const char* pszName, std::vector<VARIANT> args, VARIANT* pResult = nullptr,
             UINT* puArgErr = nullptr)
{
    return InvokeArgs(p, IdOf(p, pszName), std::move(args), pResult, puArgErr);
}

class CTestBstr {
public:
    explicit CTestBstr(const char* pszUtf8) : m_bs(SysAllocString(Wide(pszUtf8).c_str())) {}
    ~CTestBstr() { SysFreeString(m_bs); }
    CTestBstr(const CTestBstr&) = delete;
    CTestBstr& operator=(const CTestBstr&) = delete;
    operator BSTR() const { return m_bs; }

private:
    BSTR m_bs;
};

// A result variant that a failing call must still initialise.
VARIANT Garbage()
{
    return I4(0x5A5A5A5A);
}

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IVxCalStoreData, reinterpret_cast<void**>(&m_pData)));
        ASSERT_EQ(S_OK, m_pData->QueryInterface(IID_IVxCalStoreConfig, reinterpret_cast<void**>(&m_pConfig)));
        ASSERT_EQ(S_OK, m_pData->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&m_pSeq)));
        ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
        ASSERT_EQ(S_OK, m_pSeq->EndStartupBatch());
        m_host.ClearLogs();
    }

    void TearDown() override
    {
        if (m_pSeq != nullptr) {
            EXPECT_EQ(S_OK, m_pSeq->StopSequence());
            m_pSeq->Release();
        }
        if (m_pConfig != nullptr) {
            m_pConfig->Release();
        }
        if (m_pData != nullptr) {
            EXPECT_EQ(0u, m_pData->Release());
        }
        EXPECT_TRUE(m_host.Settled());
        for (const auto& pFake : m_fakes) {
            EXPECT_TRUE(Settled(*pFake));
        }
        EXPECT_EQ(S_OK, ModuleCanUnloadNow());
    }

    IDispatch* Data() { return m_pData; }
    IDispatch* Config() { return m_pConfig; }

    CFake& NewFake(EFakeKind eKind)
    {
        m_fakes.emplace_back(new CFake(eKind));
        return *m_fakes.back();
    }
    CFake& CalendarItem(LONG lCalID, const std::string& strSubject)
    {
        CFake& item = NewFake(EFakeKind::CalendarItem);
        item.SetLong(11, lCalID);
        item.SetText(17, strSubject);
        return item;
    }
    CFake& EventItem(LONG lCalID, LONG lEvtID, LONG lBgnTm = 100, LONG lEndTm = 200, const std::string& strExt3 = "")
    {
        CFake& item = NewFake(EFakeKind::EventItem);
        item.SetLong(7, lCalID);
        item.SetLong(9, lEvtID);
        item.SetLong(13, lBgnTm);
        item.SetLong(15, lEndTm);
        item.SetText(75, strExt3);
        return item;
    }

    std::string Sql(const std::string& strScript) { return RunSqliteShell(m_dir.Join("123/CalData.db"), strScript); }

    // The identifiers a visitor saw: put_CalID of calendars, put_EvtID of events.
    static std::vector<LONG> VisitedIds(const CFake& visitor)
    {
        std::vector<LONG> ids;
        for (CFake* pItem : visitor.Visited()) {
            ids.push_back(pItem->Arg(pItem->Kind() == EFakeKind::CalendarItem ? 12 : 10));
        }
        return ids;
    }

    // An enumeration run both ways, each with a visitor of its own: the same
    // result and the same items, in the same order.
    void ExpectSameEnumeration(EFakeKind eVisitor, const std::function<HRESULT(IUnknown*)>& direct,
                               const std::function<HRESULT(IUnknown*)>& late, HRESULT hrExpected,
                               const std::vector<LONG>& expectedIds)
    {
        CFake& directVisitor = NewFake(eVisitor);
        CFake& lateVisitor = NewFake(eVisitor);
        EXPECT_EQ(hrExpected, direct(directVisitor.Unknown()));
        EXPECT_EQ(hrExpected, late(lateVisitor.Unknown()));
        EXPECT_EQ(expectedIds, VisitedIds(directVisitor));
        EXPECT_EQ(expectedIds, VisitedIds(lateVisitor));
    }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    CFakeHost m_host{123};
    std::vector<std::unique_ptr<CFake>> m_fakes;
    IVxCalStoreData* m_pData = nullptr;
    IVxCalStoreConfig* m_pConfig = nullptr;
    IExtendKernalSequence* m_pSeq = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------
// IVxCalStoreData, both ways

TEST_F(DispatchTest, WritesAndDeletesAgreeWithDirectCalls)
{
    EXPECT_EQ(S_OK, m_pData->AddCalendar(CalendarItem(1, "one").Unknown()));
    EXPECT_EQ(S_OK, Call(Data(), "AddCalendar", {Unk(CalendarItem(2, "two").Unknown())}));
    EXPECT_EQ(S_OK, Call(Data(), "AddCalendar", {Disp(CalendarItem(3, "three").As<IDispatch>())}));
    EXPECT_EQ(S_OK, m_pData->UpdateCalendar(CalendarItem(1, "one'").Unknown()));
    IUnknown* pByRef = CalendarItem(2, "two'").Unknown();
    EXPECT_EQ(S_OK, Call(Data(), "UpdateCalendar", {ByRef(VT_UNKNOWN, &pByRef)}));
    EXPECT_EQ("1|123|one'\n2|123|two'\n3|123|three\n", Sql("select CalID, UIN, subject from Calendar order by CalID;"));

    EXPECT_EQ(S_OK, m_pData->AddCalEvent(EventItem(1, 1).Unknown()));
    EXPECT_EQ(S_OK, Call(Data(), "AddCalEvent", {Unk(EventItem(1, 2).Unknown())}));
    EXPECT_EQ(S_OK, Call(Data(), "AddCalEvent", {Disp(EventItem(2, 3).As<IDispatch>())}));
    EXPECT_EQ(S_OK, Call(Data(), "AddCalEvent", {Unk(EventItem(2, 4).Unknown())}));
    EXPECT_EQ(S_OK, m_pData->UpdateCalEvent(EventItem(1, 1, 10, 20).Unknown()));
    EXPECT_EQ(S_OK, Call(Data(), "UpdateCalEvent", {Unk(EventItem(1, 2, 30, 40).Unknown())}));
    EXPECT_EQ("1|1|10|20\n1|2|30|40\n2|3|100|200\n2|4|100|200\n",
              Sql("select CalID, EvtID, BgnTm, EndTm from Event order by EvtID;"));

    // Numbers arrive as text, as 16-bit, 8-bit and real values, or by reference.
    EXPECT_EQ(S_OK, m_pData->DelCalEvent(1, 1));
    EXPECT_EQ(S_OK, Call(Data(), "DelCalEvent", {Str(" 1 "), I2(2)}));
    EXPECT_EQ(S_OK, m_pData->DelCalendar(1));
    ULONG ulCalID = 2;
    EXPECT_EQ(S_OK, Call(Data(), "DelCalendar", {ByRef(VT_UI4, &ulCalID)}));
    EXPECT_EQ("3\n", Sql("select CalID from Calendar;"));
    EXPECT_EQ("3\n4\n", Sql("select EvtID from Event order by EvtID;"));
    EXPECT_EQ(S_OK, Call(Data(), "DelAllEventofCalendar", {R8(2.0)}));
    EXPECT_EQ(S_OK, m_pData->DelAllEventofCalendar(1));
    EXPECT_EQ("", Sql("select EvtID from Event;"));
}

TEST_F(DispatchTest, RefusedItemsAreRefusedAlikeBothWays)
{
    CFake& plain = NewFake(EFakeKind::Plain);
    const std::pair<const char*, std::function<HRESULT(IUnknown*)>> writes[] = {
        {"AddCalendar", [&](IUnknown* p) { return m_pData->AddCalendar(p); }},
        {"UpdateCalendar", [&](IUnknown* p) { return m_pData->UpdateCalendar(p); }},
        {"AddCalEvent", [&](IUnknown* p) { return m_pData->AddCalEvent(p); }},
        {"UpdateCalEvent", [&](IUnknown* p) { return m_pData->UpdateCalEvent(p); }},
    };
    for (const auto& write : writes) {
        EXPECT_EQ(E_POINTER, write.second(nullptr)) << write.first;
        EXPECT_EQ(E_POINTER, Call(Data(), write.first, {Empty()})) << write.first;
        EXPECT_EQ(E_POINTER, Call(Data(), write.first, {Unk(nullptr)})) << write.first;
        EXPECT_EQ(E_NOINTERFACE, write.second(plain.Unknown())) << write.first;
        EXPECT_EQ(E_NOINTERFACE, Call(Data(), write.first, {Unk(plain.Unknown())})) << write.first;
    }
    EXPECT_EQ("0\n0\n", Sql("select count(*) from Calendar; select count(*) from Event;"));
}

TEST_F(DispatchTest, EnumerationsAgreeWithDirectCalls)
{
    for (LONG lCalID : {1, 2}) {
        ASSERT_EQ(S_OK, m_pData->AddCalendar(CalendarItem(lCalID, "cal").Unknown()));
    }
    for (CFake* pEvent : {&EventItem(1, 1, 100, 200), &EventItem(1, 2, 300, 400), &EventItem(0, 3, 150, 160),
                          &EventItem(0, 4, 1000, 2000), &EventItem(2, 5, 150, 180)}) {
        ASSERT_EQ(S_OK, m_pData->AddCalEvent(pEvent->Unknown()));
    }
    const EFakeKind cal = EFakeKind::CalendarVisitor;
    const EFakeKind evt = EFakeKind::EventVisitor;

    ExpectSameEnumeration(
        cal, [&](IUnknown* p) { return m_pData->GetAllCalendar(p); },
        [&](IUnknown* p) { return Call(Data(), "GetAllCalendar", {Unk(p)}); }, S_OK, {1, 2});
    ExpectSameEnumeration(
        cal, [&](IUnknown* p) { return m_pData->GetAllCalendarEx(CTestBstr("LumoCalendar"), nullptr, p); },
        [&](IUnknown* p) { return Call(Data(), "GetAllCalendarEx", {Str("LumoCalendar"), Empty(), Unk(p)}); }, S_OK,
        {1, 2});
    ExpectSameEnumeration(
        cal, [&](IUnknown* p) { return m_pData->GetAllCalendarEx(CTestBstr("ICalendar"), nullptr, p); },
        [&](IUnknown* p) { return Call(Data(), "GetAllCalendarEx", {Str("ICalendar"), Str("f"), Unk(p)}); }, S_OK, {});
    ExpectSameEnumeration(
        cal, [&](IUnknown* p) { return m_pData->GetAllCalendarEx(CTestBstr("lumocalendar"), nullptr, p); },
        [&](IUnknown* p) { return Call(Data(), "GetAllCalendarEx", {Str("lumocalendar"), Str(""), Unk(p)}); }, E_FAIL,
        {});
    ExpectSameEnumeration(
        evt, [&](IUnknown* p) { return m_pData->GetAllCalEvent(1, p); },
        [&](IUnknown* p) { return Call(Data(), "GetAllCalEvent", {Str("1"), Unk(p)}); }, S_OK, {1, 2});
    ExpectSameEnumeration(
        evt, [&](IUnknown* p) { return m_pData->GetAllCalEventEx(CTestBstr("LumoCalendar"), nullptr, 2, p); },
        [&](IUnknown* p) {
            IUnknown* pVisitor = p;
            return Call(Data(), "GetAllCalEventEx",
                        {Str("LumoCalendar"), Empty(), I2(2), ByRef(VT_UNKNOWN, &pVisitor)});
        },
        S_OK, {5});
    ExpectSameEnumeration(
        evt, [&](IUnknown* p) { return m_pData->GetPeriodEvent(100, 200, p); },
        [&](IUnknown* p) { return Call(Data(), "GetPeriodEvent", {I2(100), R8(200.0), Unk(p)}); }, S_OK, {3});
    ExpectSameEnumeration(
        evt, [&](IUnknown* p) { return m_pData->GetPeriodEventEx(100, 400, 1, p); },
        [&](IUnknown* p) { return Call(Data(), "GetPeriodEventEx", {I4(100), Str("400"), UI1(1), Unk(p)}); }, S_OK,
        {1, 2});
    // Calendar 0 by name or by number: the same events.
    ExpectSameEnumeration(
        evt, [&](IUnknown* p) { return m_pData->GetPeriodEvent(0, 5000, p); },
        [&](IUnknown* p) { return Call(Data(), "GetPeriodEventEx", {UI4(0), UI4(5000), UI4(0), Unk(p)}); }, S_OK,
        {3, 4});

    // No visitor at all: nothing is delivered, either way.
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(nullptr));
    EXPECT_EQ(S_OK, Call(Data(), "GetAllCalendar", {Empty()}));
}

TEST_F(DispatchTest, SwitchesAndMethodsWithoutEffectAgreeWithDirectCalls)
{
    CFake& item = NewFake(EFakeKind::CalendarItem);
    CFake& visitor = NewFake(EFakeKind::EventVisitor);
    EXPECT_EQ(S_OK, m_pData->GetAllEvent(visitor.Unknown()));
    EXPECT_EQ(S_OK, Call(Data(), "GetAllEvent", {Unk(visitor.Unknown())}));
    EXPECT_EQ(S_OK, m_pData->QueryCalendar(EN_QRY_BY_CAL_SUBJECT, item.Unknown(), visitor.Unknown()));
    EXPECT_EQ(S_OK, Call(Data(), "QueryCalendar", {Str("1"), Unk(item.Unknown()), Unk(visitor.Unknown())}));
    EXPECT_EQ(S_OK, m_pData->QueryEvent(1, EN_QRY_BY_EVT_SPONSOR, item.Unknown(), visitor.Unknown()));
    EXPECT_EQ(S_OK, Call(Data(), "QueryEvent", {UI4(1), I2(2), Unk(item.Unknown()), Unk(visitor.Unknown())}));
    EXPECT_EQ(S_OK, m_pData->GetOneCalendar(1, item.Unknown()));
    EXPECT_EQ(S_OK, Call(Data(), "GetOneCalendar", {Str("1"), Disp(item.As<IDispatch>())}));
    EXPECT_EQ(S_OK, m_pData->GetOneCalEvent(1, 2, item.Unknown()));
    EXPECT_EQ(S_OK, Call(Data(), "GetOneCalEvent", {UI1(1), R8(2.0), Unk(item.Unknown())}));
    EXPECT_TRUE(item.Calls().empty());
    EXPECT_TRUE(visitor.Calls().empty());

    EXPECT_EQ(S_OK, m_pData->SetDataSource(CTestBstr("LumoCalendar"), CTestBstr("x")));
    EXPECT_EQ(S_OK, Call(Data(), "SetDataSource", {Str("LumoCalendar"), Str("x")}));
    EXPECT_EQ(E_FAIL, m_pData->SetDataSource(CTestBstr("Lumo"), nullptr));
    EXPECT_EQ(E_FAIL, Call(Data(), "SetDataSource", {Str("Lumo"), Empty()}));

    // Initialize takes the kernel as IDispatch; an IUnknown argument is asked for it.
    EXPECT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_EQ(S_OK, Call(Data(), "Initialize", {Str(""), Disp(m_host.kernel.As<IDispatch>())}));
    EXPECT_EQ(S_OK, Call(Data(), "Initialize", {Empty(), Unk(m_host.kernel.Unknown())}));
    CFake& plain = NewFake(EFakeKind::Plain);
    UINT uArgErr = s_uNoArgErr;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Call(Data(), "Initialize", {Str(""), Unk(plain.Unknown())}, nullptr, &uArgErr));
    EXPECT_EQ(0u, uArgErr);

    // Batch mode switched late-bound holds the writes until it is switched off.
    EXPECT_EQ(S_OK, Call(Data(), "SetBatchMode", {Bool(VARIANT_TRUE)}));
    ASSERT_EQ(S_OK, m_pData->AddCalendar(CalendarItem(9, "batched").Unknown()));
    EXPECT_EQ(S_OK, Call(Data(), "SetBatchMode", {I2(0)}));
    EXPECT_EQ("9\n", Sql("select CalID from Calendar;"));
    EXPECT_EQ(S_OK, m_pData->SetBatchMode(1));
    EXPECT_EQ(S_OK, m_pData->SetBatchMode(0));
}

TEST_F(DispatchTest, IsOutlookIDExistWritesThroughTheFlagByReference)
{
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(EventItem(1, 1, 100, 200, "OL-9").Unknown()));
    for (const char* pszID : {"OL-9", "OL-8"}) {
        VARIANT_BOOL bDirect = 7;
        VARIANT_BOOL bLate = 7;
        EXPECT_EQ(S_OK, m_pData->IsOutlookIDExist(CTestBstr(pszID), &bDirect));
        EXPECT_EQ(S_OK, Call(Data(), "IsOutlookIDExist", {Str(pszID), ByRef(VT_BOOL, &bLate)}));
        EXPECT_EQ(std::string(pszID) == "OL-9" ? VARIANT_TRUE : VARIANT_FALSE, bDirect) << pszID;
        EXPECT_EQ(bDirect, bLate) << pszID;
    }
    // An empty identifier fails and leaves the flag alone.
    VARIANT_BOOL bDirect = 7;
    VARIANT_BOOL bLate = 7;
    EXPECT_EQ(E_FAIL, m_pData->IsOutlookIDExist(CTestBstr(""), &bDirect));
    EXPECT_EQ(E_FAIL, Call(Data(), "IsOutlookIDExist", {Empty(), ByRef(VT_BOOL, &bLate)}));
    EXPECT_EQ(7, bDirect);
    EXPECT_EQ(7, bLate);

    // The flag must come by reference, as VT_BOOL.
    UINT uArgErr = s_uNoArgErr;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Call(Data(), "IsOutlookIDExist", {Str("OL-9"), Bool(0)}, nullptr, &uArgErr));
    EXPECT_EQ(0u, uArgErr);
    SHORT iFlag = 7;
    uArgErr = s_uNoArgErr;
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              Call(Data(), "IsOutlookIDExist", {Str("OL-9"), ByRef(VT_I2, &iFlag)}, nullptr, &uArgErr));
    EXPECT_EQ(0u, uArgErr);
    EXPECT_EQ(7, iFlag);
}

// ---------------------------------------------------------------------------
// IVxCalStoreConfig, both ways

TEST_F(DispatchTest, ConfigMethodsAgreeWithDirectCallsAndReturnOutValues)
{
    EXPECT_EQ(S_OK, m_pConfig->AddString(CTestBstr("ns"), CTestBstr("a"), CTestBstr("alpha"), 0));
    EXPECT_EQ(S_OK, Call(Config(), "AddString", {Str("ns"), Str("b"), Str("beta"), I4(3)}));
    EXPECT_EQ(S_OK, Call(Config(), "AddString", {Str("ns"), Str("c"), I4(-5), Str("7")}));

    BSTR bsValue = nullptr;
    EXPECT_EQ(S_OK, m_pConfig->GetString(CTestBstr("ns"), CTestBstr("b"), &bsValue));
    EXPECT_EQ("beta", Narrow(bsValue));
    SysFreeString(bsValue);
    VARIANT result = Garbage();
    EXPECT_EQ(S_OK, Call(Config(), "GetString", {Str("ns"), Str("a")}, &result));
    ASSERT_EQ(VT_BSTR, result.vt);
    EXPECT_EQ("alpha", Narrow(result.bstrVal));
    VariantClear(&result);
    BSTR bsNs = SysAllocString(WTEXT("ns"));
    result = Garbage();
    EXPECT_EQ(S_OK, Call(Config(), "getstring", {ByRef(VT_BSTR, &bsNs), Str("c")}, &result));
    EXPECT_EQ("-5", Narrow(result.bstrVal));
    VariantClear(&result);
    SysFreeString(bsNs);

    // A missing item fails both ways; the result stays empty.
    bsValue = reinterpret_cast<BSTR>(uintptr_t(0xDEADBEEF));
    EXPECT_EQ(E_FAIL, m_pConfig->GetString(CTestBstr("ns"), CTestBstr("zz"), &bsValue));
    EXPECT_EQ(nullptr, bsValue);
    result = Garbage();
    EXPECT_EQ(E_FAIL, Call(Config(), "GetString", {Str("ns"), Str("zz")}, &result));
    EXPECT_EQ(VT_EMPTY, result.vt);

    EXPECT_EQ(S_OK, Call(Config(), "AddDWord", {Str("ns"), Str("n"), Str("4294967295"), UI1(0)}));
    EXPECT_EQ(S_OK, m_pConfig->AddDWord(CTestBstr("ns"), CTestBstr("m"), 42, 0));
    std::string strIni;
    ASSERT_TRUE(ReadFile(m_dir.Join("123/CalendarConfig.ini"), strIni));
    EXPECT_NE(std::string::npos, strIni.find("n=-1"));
    ULONG ulValue = 0;
    EXPECT_EQ(S_OK, m_pConfig->GetDWord(CTestBstr("ns"), CTestBstr("n"), &ulValue));
    EXPECT_EQ(4294967295u, ulValue);
    result = Garbage();
    EXPECT_EQ(S_OK, Call(Config(), "GetDWord", {Str("ns"), Str("n")}, &result));
    EXPECT_EQ(VT_UI4, result.vt);
    EXPECT_EQ(4294967295u, result.ulVal);
    result = Garbage();
    EXPECT_EQ(S_OK, Call(Config(), "GetDWord", {Str("ns"), Str("m")}, &result));
    EXPECT_EQ(42u, result.ulVal);
    result = Garbage();
    EXPECT_EQ(E_FAIL, Call(Config(), "GetDWord", {Str("ns"), Str("zz")}, &result));
    EXPECT_EQ(VT_EMPTY, result.vt);

    // Out-values with no result variant to take them are freed, not leaked.
    EXPECT_EQ(S_OK, Call(Config(), "GetString", {Str("ns"), Str("a")}, nullptr));
    EXPECT_EQ(S_OK, Call(Config(), "GetDWord", {Str("ns"), Str("n")}, nullptr));

    EXPECT_EQ(S_OK, m_pConfig->DeleteConfigItem(CTestBstr("ns"), CTestBstr("a")));
    EXPECT_EQ(S_OK, Call(Config(), "DeleteConfigItem", {Str("ns"), Str("b")}));
    EXPECT_EQ(E_FAIL, m_pConfig->DeleteConfigItem(CTestBstr("ns"), CTestBstr("b")));
    EXPECT_EQ(E_FAIL, Call(Config(), "DeleteConfigItem", {Str("ns"), Str("a")}));

    // The account is settled by the start, so the explicit set-up is refused.
    EXPECT_EQ(E_FAIL, m_pConfig->InitializeConfig(5));
    EXPECT_EQ(E_FAIL, Call(Config(), "InitializeConfig", {Str("5")}));
}

TEST(DispatchConfigTest, InitializeConfigAgreesOnFreshObjects)
{
    CTempDir dir;
    CScopedRoot root(dir.Path());
    IVxCalStoreConfig* pDirect = nullptr;
    IVxCalStoreConfig* pLate = nullptr;
    ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IVxCalStoreConfig, reinterpret_cast<void**>(&pDirect)));
    ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IVxCalStoreConfig, reinterpret_cast<void**>(&pLate)));
    EXPECT_EQ(S_OK, pDirect->InitializeConfig(77));
    EXPECT_EQ(S_OK, Call(pLate, "InitializeConfig", {Str("78")}));
    EXPECT_EQ(S_OK, Call(pLate, "InitializeConfig", {R8(79.0)})) << "a second set-up changes nothing";
    EXPECT_EQ(S_OK, Call(pLate, "AddString", {Str("s"), Str("k"), Str("v"), Empty()}));
    EXPECT_TRUE(FileExists(dir.Join("77/CalendarConfig.ini")));
    std::string strIni;
    ASSERT_TRUE(ReadFile(dir.Join("78/CalendarConfig.ini"), strIni));
    EXPECT_NE(std::string::npos, strIni.find("k=v"));
    EXPECT_FALSE(FileExists(dir.Join("79")));
    EXPECT_EQ(0u, pDirect->Release());
    EXPECT_EQ(0u, pLate->Release());
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
}

// ---------------------------------------------------------------------------
// Names, type information and Invoke's checks

TEST_F(DispatchTest, NamesResolveWithoutRegardToCase)
{
    const auto resolve = [](IDispatch* p, std::vector<std::string> names, std::vector<DISPID>& ids) {
        std::vector<WString> wide;
        for (const std::string& str : names) {
            wide.push_back(Wide(str));
        }
        std::vector<LPOLESTR> pointers;
        for (WString& str : wide) {
            pointers.push_back(&str[0]);
        }
        ids.assign(names.size(), 0x1234);
        return p->GetIDsOfNames(IID_NULL, pointers.data(), UINT(pointers.size()), LOCALE_USER_DEFAULT, ids.data());
    };
    std::vector<DISPID> ids;
    std::vector<DISPID> expected;
    for (DISPID id = 1; id <= 22; ++id) {
        expected.push_back(id);
    }
    EXPECT_EQ(S_OK, resolve(Data(), std::vector<std::string>(std::begin(s_apszDataNames), std::end(s_apszDataNames)),
                            ids));
    EXPECT_EQ(expected, ids);
    EXPECT_EQ(S_OK, resolve(Config(),
                            std::vector<std::string>(std::begin(s_apszConfigNames), std::end(s_apszConfigNames)), ids));
    EXPECT_EQ((std::vector<DISPID>{1, 2, 3, 4, 5, 6}), ids);

    EXPECT_EQ(S_OK, resolve(Data(), {"getallcalendar", "ISOUTLOOKIDEXIST", "dElAlLeVeNtOfCaLeNdAr"}, ids));
    EXPECT_EQ((std::vector<DISPID>{3, 22, 20}), ids);
    EXPECT_EQ(S_OK, resolve(Config(), {"getdword"}, ids));
    EXPECT_EQ((std::vector<DISPID>{5}), ids);

    // The first unknown name fails the call; each interface knows only its own names.
    EXPECT_EQ(DISP_E_UNKNOWNNAME, resolve(Data(), {"AddCalendar", "NoSuchMethod", "DelCalendar"}, ids));
    EXPECT_EQ(5, ids[0]);
    EXPECT_EQ(DISPID_UNKNOWN, ids[1]);
    EXPECT_EQ(DISP_E_UNKNOWNNAME, resolve(Data(), {"AddString"}, ids));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, resolve(Config(), {"AddCalendar"}, ids));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, resolve(Data(), {"GetAllCalendarX"}, ids));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, resolve(Data(), {""}, ids));

    DISPID untouched = 0x1234;
    EXPECT_EQ(S_OK, Data()->GetIDsOfNames(IID_NULL, nullptr, 0, LOCALE_USER_DEFAULT, &untouched));
    EXPECT_EQ(0x1234, untouched);
}

TEST_F(DispatchTest, NoTypeInformationOffWindows)
{
    for (IDispatch* p : {Data(), Config()}) {
        UINT cInfo = 99;
        EXPECT_EQ(S_OK, p->GetTypeInfoCount(&cInfo));
        EXPECT_EQ(0u, cInfo);
        EXPECT_EQ(E_POINTER, p->GetTypeInfoCount(nullptr));
        ITypeInfo* pInfo = reinterpret_cast<ITypeInfo*>(uintptr_t(0xDEADBEEF));
        EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, p->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pInfo));
        EXPECT_EQ(nullptr, pInfo);
        EXPECT_EQ(DISP_E_BADINDEX, p->GetTypeInfo(1, LOCALE_USER_DEFAULT, &pInfo));
        EXPECT_EQ(E_POINTER, p->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr));
    }
}

TEST_F(DispatchTest, InvokeChecksInOrder)
{
    VARIANT result = Garbage();
    UINT uArgErr = s_uNoArgErr;
    auto invoke = [&](IDispatch* p, DISPID id, DISPPARAMS* pParams) {
        return p->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, pParams, &result, nullptr, &uArgErr);
    };

    // Checks made before the result is touched.
    EXPECT_EQ(DISP_E_BADVARTYPE, invoke(Data(), 6, nullptr));
    EXPECT_EQ(DISP_E_BADVARTYPE, invoke(Config(), 999, nullptr));
    VARIANT five[5] = {Empty(), Empty(), Empty(), Empty(), Empty()};
    DISPID named[2] = {DISPID_PROPERTYPUT, 0};
    DISPPARAMS tooMany{five, nullptr, 5, 0};
    for (DISPID id : {15, 999, -1}) {
        EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(Data(), id, &tooMany)) << id;
        EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(Config(), id, &tooMany)) << id;
    }
    DISPPARAMS tooManyNamed{five, named, 5, 1};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(Data(), 999, &tooManyNamed));
    DISPID ordinary = 0;
    DISPPARAMS oneNamed{five, &ordinary, 1, 1};
    DISPPARAMS twoNamed{five, named, 2, 2};
    EXPECT_EQ(DISP_E_NONAMEDARGS, invoke(Data(), 6, &oneNamed));
    EXPECT_EQ(DISP_E_NONAMEDARGS, invoke(Data(), 999, &oneNamed));
    EXPECT_EQ(DISP_E_NONAMEDARGS, invoke(Data(), 10, &twoNamed));
    EXPECT_EQ(DISP_E_NONAMEDARGS, invoke(Config(), 1, &oneNamed));
    EXPECT_EQ(VT_I4, result.vt);
    EXPECT_EQ(0x5A5A5A5A, result.lVal);
    EXPECT_EQ(s_uNoArgErr, uArgErr);

    // A single DISPID_PROPERTYPUT is accepted.
    VARIANT calID = UI4(99);
    DISPPARAMS put{&calID, named, 1, 1};
    EXPECT_EQ(S_OK, invoke(Data(), 6, &put));
    EXPECT_EQ(VT_EMPTY, result.vt);

    // From here on the result is initialised first.
    for (DISPID id : {0, 23, -1, DISPID_PROPERTYPUT}) {
        result = Garbage();
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, invoke(Data(), id, &none)) << id;
        EXPECT_EQ(VT_EMPTY, result.vt);
    }
    result = Garbage();
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, invoke(Config(), 7, &none));
    EXPECT_EQ(VT_EMPTY, result.vt);

    // The method's own parameter count.
    const std::pair<IDispatch*, std::pair<DISPID, UINT>> wrongCounts[] = {
        {Data(), {6, 0}}, {Data(), {6, 2}}, {Data(), {10, 1}}, {Data(), {22, 1}}, {Config(), {3, 3}}, {Config(), {2, 3}},
    };
    for (const auto& call : wrongCounts) {
        result = Garbage();
        DISPPARAMS params{five, nullptr, call.second.second, 0};
        EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke(call.first, call.second.first, &params)) << call.second.first;
        EXPECT_EQ(VT_EMPTY, result.vt);
    }
    EXPECT_EQ(s_uNoArgErr, uArgErr);
    EXPECT_EQ("", Sql("select * from Calendar;"));
}

TEST_F(DispatchTest, FailedConversionNamesTheArgumentCheckedFirst)
{
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(EventItem(1, 1).Unknown()));
    struct CBadCall {
        IDispatch* pDispatch;
        const char* pszName;
        std::function<std::vector<VARIANT>()> args;
        UINT uArgErr;
    };
    CFake& visitor = NewFake(EFakeKind::EventVisitor);
    const CBadCall calls[] = {
        // Arguments are converted last parameter first.
        {Data(), "DelCalEvent", [] { return std::vector<VARIANT>{Str("abc"), Str("xyz")}; }, 0},
        {Data(), "DelCalEvent", [] { return std::vector<VARIANT>{Str("abc"), I4(1)}; }, 1},
        {Data(), "DelCalEvent", [] { return std::vector<VARIANT>{I4(-1), I4(1)}; }, 1},
        {Data(), "DelCalendar", [] { return std::vector<VARIANT>{R8(4294967296.0)}; }, 0},
        {Data(), "DelCalendar", [] { return std::vector<VARIANT>{Value(VT_NULL, 0)}; }, 0},
        {Data(), "AddCalEvent", [] { return std::vector<VARIANT>{I4(1)}; }, 0},
        {Data(), "GetAllCalEvent", [&] { return std::vector<VARIANT>{Str("one"), Unk(visitor.Unknown())}; }, 1},
        {Data(), "GetPeriodEventEx",
         [&] { return std::vector<VARIANT>{Str("x"), I4(1), I4(1), Unk(visitor.Unknown())}; }, 3},
        {Data(), "SetDataSource", [&] { return std::vector<VARIANT>{Unk(visitor.Unknown()), Str("f")}; }, 1},
        {Config(), "AddString", [] { return std::vector<VARIANT>{Str("s"), Str("k"), Str("v"), I4(256)}; }, 0},
        {Config(), "AddDWord", [] { return std::vector<VARIANT>{Str("s"), Str("k"), I4(-1), UI1(0)}; }, 1},
        {Config(), "GetString", [] { return std::vector<VARIANT>{Str("s"), Value(VT_NULL, 0)}; }, 0},
    };
    for (const CBadCall& call : calls) {
        VARIANT result = Garbage();
        UINT uArgErr = s_uNoArgErr;
        EXPECT_EQ(DISP_E_TYPEMISMATCH, Call(call.pDispatch, call.pszName, call.args(), &result, &uArgErr))
            << call.pszName;
        EXPECT_EQ(call.uArgErr, uArgErr) << call.pszName;
        EXPECT_EQ(VT_EMPTY, result.vt) << call.pszName;
    }
    EXPECT_TRUE(visitor.Calls().empty());
    EXPECT_EQ("1|1\n", Sql("select CalID, EvtID from Event;"));
}

TEST_F(DispatchTest, InvokeLeavesTheCallersArgumentsAsTheyWere)
{
    CFake& item = CalendarItem(4, "four");
    VARIANT args[1] = {Disp(item.As<IDispatch>())};
    DISPPARAMS params{args, nullptr, 1, 0};
    EXPECT_EQ(S_OK, Data()->Invoke(IdOf(Data(), "AddCalendar"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                   &params, nullptr, nullptr, nullptr));
    EXPECT_EQ(VT_DISPATCH, args[0].vt);
    EXPECT_EQ(item.As<IDispatch>(), args[0].pdispVal);
    EXPECT_EQ(2u, item.RefCount()) << "the converted copy was released";
    VariantClear(&args[0]);

    VARIANT text = Str("4");
    const BSTR bsBefore = text.bstrVal;
    DISPPARAMS byText{&text, nullptr, 1, 0};
    EXPECT_EQ(S_OK, Data()->Invoke(IdOf(Data(), "DelCalendar"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                   &byText, nullptr, nullptr, nullptr));
    EXPECT_EQ(VT_BSTR, text.vt);
    EXPECT_EQ(bsBefore, text.bstrVal);
    EXPECT_EQ("4", Narrow(text.bstrVal));
    VariantClear(&text);
    EXPECT_EQ("", Sql("select CalID from Calendar;"));
}
