// Late binding on the store object's two dual interfaces, through the module as a
// script host would use them: names to DISPIDs, then Invoke. Every method is also
// called directly, and both ways must agree, whatever VARIANT types the arguments
// arrive in. Invoke's own checks are reached one by one, in their order.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
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

// Argument variants. Each owns what it holds; the call helpers clear them.
template <typename T>
VARIANT Value(VARTYPE vt, T value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    std::memcpy(&v.llVal, &value, sizeof(T));
    return v;
}
// An interface, with a reference of its own.
template <typename T>
VARIANT Held(VARTYPE vt, T* p)
{
    if (p != nullptr) {
        p->AddRef();
    }
    return Value(vt, p);
}
const auto Empty = [] { return Value(VT_EMPTY, 0); };
const auto I4 = [](LONG l) { return Value(VT_I4, l); };
const auto UI4 = [](ULONG ul) { return Value(VT_UI4, ul); };
const auto I2 = [](SHORT i) { return Value(VT_I2, i); };
const auto UI1 = [](BYTE b) { return Value(VT_UI1, b); };
const auto R8 = [](double d) { return Value(VT_R8, d); };
const auto Bool = [](VARIANT_BOOL b) { return Value(VT_BOOL, b); };
const auto ByRef = [](VARTYPE vt, void* p) { return Value(VARTYPE(vt | VT_BYREF), p); };
const auto Str = [](const char* pszUtf8) { return Value(VT_BSTR, SysAllocString(Wide(pszUtf8).c_str())); };
const auto Unk = [](IUnknown* p) { return Held(VT_UNKNOWN, p); };
const auto Disp = [](IDispatch* p) { return Held(VT_DISPATCH, p); };
// A result variant that a failing call must still initialise.
const auto Garbage = [] { return I4(0x5A5A5A5A); };

const UINT s_uNoArgErr = 0xDEAD;

DISPID IdOf(IDispatch* p, const char* pszName)
{
    WString strName = Wide(pszName);
    LPOLESTR pszNames[] = {&strName[0]};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(S_OK, p->GetIDsOfNames(IID_NULL, pszNames, 1, LOCALE_USER_DEFAULT, &id)) << pszName;
    return id;
}

// Calls by name with the arguments given in parameter order; they are laid out as
// Invoke expects, the last parameter first, and cleared afterwards.
HRESULT Call(IDispatch* p, const char* pszName, std::vector<VARIANT> args, VARIANT* pResult = nullptr,
             UINT* puArgErr = nullptr)
{
    std::vector<VARIANT> rg(args.rbegin(), args.rend());
    DISPPARAMS params{rg.empty() ? nullptr : rg.data(), nullptr, UINT(rg.size()), 0};
    const HRESULT hr = p->Invoke(IdOf(p, pszName), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, pResult,
                                 nullptr, puArgErr);
    for (VARIANT& v : rg) {
        VariantClear(&v);
    }
    return hr;
}

// A direct call's outcome, then the same method late-bound: both must be hr.
void ExpectBoth(HRESULT hr, HRESULT hrDirect, IDispatch* p, const char* pszName, std::vector<VARIANT> args)
{
    EXPECT_EQ(hr, hrDirect) << pszName << ", called directly";
    EXPECT_EQ(hr, Call(p, pszName, std::move(args))) << pszName << ", late-bound";
}

// A result variant as its type and value.
std::string Show(const VARIANT& v)
{
    switch (v.vt) {
    case VT_EMPTY: return "empty";
    case VT_I4: return "i4 " + std::to_string(v.lVal);
    case VT_UI4: return "ui4 " + std::to_string(v.ulVal);
    case VT_BSTR: return v.bstrVal != nullptr ? "bstr " + Narrow(v.bstrVal) : "null bstr";
    default: return "vt " + std::to_string(v.vt);
    }
}

// Calls by name into a garbage result variant; gives what the result became.
std::string Returned(IDispatch* p, const char* pszName, std::vector<VARIANT> args, HRESULT hrExpected = S_OK)
{
    VARIANT result = Garbage();
    EXPECT_EQ(hrExpected, Call(p, pszName, std::move(args), &result)) << pszName;
    const std::string strResult = Show(result);
    VariantClear(&result);
    return strResult;
}

// A BSTR, freed at the end of the full expression that makes it.
std::unique_ptr<OLECHAR, void (*)(BSTR)> Bstr(const char* pszUtf8)
{
    return {SysAllocString(Wide(pszUtf8).c_str()), &SysFreeString};
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
        // The three come in order; without the last the test has already failed.
        if (m_pSeq != nullptr) {
            EXPECT_EQ(S_OK, m_pSeq->StopSequence());
            m_pSeq->Release();
            m_pConfig->Release();
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

    // An enumeration run both ways, each with a visitor of its own: the same result
    // and the same items (put_CalID of calendars, put_EvtID of events), in order. The
    // late-bound call takes its visitor, as vtVisitor, after the arguments given.
    void ExpectSameEnumeration(EFakeKind eVisitor, const std::function<HRESULT(IUnknown*)>& direct, const char* pszName,
                               std::vector<VARIANT> args, HRESULT hrExpected, const std::vector<LONG>& expectedIds,
                               VARTYPE vtVisitor = VT_UNKNOWN)
    {
        CFake& directVisitor = NewFake(eVisitor);
        IUnknown* pLate = NewFake(eVisitor).Unknown();
        args.push_back(vtVisitor == VT_UNKNOWN ? Unk(pLate) : ByRef(VT_UNKNOWN, &pLate));
        EXPECT_EQ(hrExpected, direct(directVisitor.Unknown()));
        EXPECT_EQ(hrExpected, Call(Data(), pszName, std::move(args)));
        for (CFake* pVisitor : {&directVisitor, m_fakes.back().get()}) {
            std::vector<LONG> ids;
            for (CFake* pItem : pVisitor->Visited()) {
                ids.push_back(pItem->Arg(pItem->Kind() == EFakeKind::CalendarItem ? 12 : 10));
            }
            EXPECT_EQ(expectedIds, ids) << pszName << (pVisitor == &directVisitor ? ", direct" : ", late-bound");
        }
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
    ExpectBoth(S_OK, m_pData->AddCalendar(CalendarItem(1, "one").Unknown()), Data(), "AddCalendar",
               {Unk(CalendarItem(2, "two").Unknown())});
    EXPECT_EQ(S_OK, Call(Data(), "AddCalendar", {Disp(CalendarItem(3, "three").As<IDispatch>())}));
    IUnknown* pByRef = CalendarItem(2, "two'").Unknown();
    ExpectBoth(S_OK, m_pData->UpdateCalendar(CalendarItem(1, "one'").Unknown()), Data(), "UpdateCalendar",
               {ByRef(VT_UNKNOWN, &pByRef)});
    EXPECT_EQ("1|123|one'\n2|123|two'\n3|123|three\n", Sql("select CalID, UIN, subject from Calendar order by CalID;"));

    ExpectBoth(S_OK, m_pData->AddCalEvent(EventItem(1, 1).Unknown()), Data(), "AddCalEvent",
               {Unk(EventItem(1, 2).Unknown())});
    EXPECT_EQ(S_OK, Call(Data(), "AddCalEvent", {Disp(EventItem(2, 3).As<IDispatch>())}));
    EXPECT_EQ(S_OK, Call(Data(), "AddCalEvent", {Unk(EventItem(2, 4).Unknown())}));
    ExpectBoth(S_OK, m_pData->UpdateCalEvent(EventItem(1, 1, 10, 20).Unknown()), Data(), "UpdateCalEvent",
               {Unk(EventItem(1, 2, 30, 40).Unknown())});
    EXPECT_EQ("1|1|10|20\n1|2|30|40\n2|3|100|200\n2|4|100|200\n",
              Sql("select CalID, EvtID, BgnTm, EndTm from Event order by EvtID;"));

    // Numbers arrive as text, as 16-bit, 8-bit and real values, or by reference.
    ExpectBoth(S_OK, m_pData->DelCalEvent(1, 1), Data(), "DelCalEvent", {Str(" 1 "), I2(2)});
    ULONG ulCalID = 2;
    ExpectBoth(S_OK, m_pData->DelCalendar(1), Data(), "DelCalendar", {ByRef(VT_UI4, &ulCalID)});
    EXPECT_EQ("3\n|\n3\n4\n", Sql("select CalID from Calendar; select '|'; select EvtID from Event order by EvtID;"));
    ExpectBoth(S_OK, m_pData->DelAllEventofCalendar(1), Data(), "DelAllEventofCalendar", {R8(2.0)});
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
        SCOPED_TRACE(write.first);
        ExpectBoth(E_POINTER, write.second(nullptr), Data(), write.first, {Empty()});
        EXPECT_EQ(E_POINTER, Call(Data(), write.first, {Unk(nullptr)}));
        ExpectBoth(E_NOINTERFACE, write.second(plain.Unknown()), Data(), write.first, {Unk(plain.Unknown())});
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
    const auto bsLumo = Bstr("LumoCalendar");

    ExpectSameEnumeration(cal, [&](IUnknown* p) { return m_pData->GetAllCalendar(p); }, "GetAllCalendar", {}, S_OK,
                          {1, 2});
    ExpectSameEnumeration(cal, [&](IUnknown* p) { return m_pData->GetAllCalendarEx(bsLumo.get(), nullptr, p); },
                          "GetAllCalendarEx", {Str("LumoCalendar"), Empty()}, S_OK, {1, 2});
    ExpectSameEnumeration(cal,
                          [&](IUnknown* p) { return m_pData->GetAllCalendarEx(Bstr("ICalendar").get(), nullptr, p); },
                          "GetAllCalendarEx", {Str("ICalendar"), Str("f")}, S_OK, {});
    ExpectSameEnumeration(
        cal, [&](IUnknown* p) { return m_pData->GetAllCalendarEx(Bstr("lumocalendar").get(), nullptr, p); },
        "GetAllCalendarEx", {Str("lumocalendar"), Str("")}, E_FAIL, {});
    ExpectSameEnumeration(evt, [&](IUnknown* p) { return m_pData->GetAllCalEvent(1, p); }, "GetAllCalEvent", {Str("1")},
                          S_OK, {1, 2});
    ExpectSameEnumeration(
        evt, [&](IUnknown* p) { return m_pData->GetAllCalEventEx(bsLumo.get(), nullptr, 2, p); }, "GetAllCalEventEx",
        {Str("LumoCalendar"), Empty(), I2(2)}, S_OK, {5}, VT_UNKNOWN | VT_BYREF);
    ExpectSameEnumeration(evt, [&](IUnknown* p) { return m_pData->GetPeriodEvent(100, 200, p); }, "GetPeriodEvent",
                          {I2(100), R8(200.0)}, S_OK, {3});
    ExpectSameEnumeration(evt, [&](IUnknown* p) { return m_pData->GetPeriodEventEx(100, 400, 1, p); },
                          "GetPeriodEventEx", {I4(100), Str("400"), UI1(1)}, S_OK, {1, 2});
    // Calendar 0 by name or by number: the same events.
    ExpectSameEnumeration(evt, [&](IUnknown* p) { return m_pData->GetPeriodEvent(0, 5000, p); }, "GetPeriodEventEx",
                          {UI4(0), UI4(5000), UI4(0)}, S_OK, {3, 4});

    // No visitor at all: nothing is delivered, either way.
    EXPECT_EQ(S_OK, m_pData->GetAllCalendar(nullptr));
    EXPECT_EQ(S_OK, Call(Data(), "GetAllCalendar", {Empty()}));
}

TEST_F(DispatchTest, SwitchesAndMethodsWithoutEffectAgreeWithDirectCalls)
{
    CFake& item = NewFake(EFakeKind::CalendarItem);
    CFake& visitor = NewFake(EFakeKind::EventVisitor);
    IUnknown* const pItem = item.Unknown();
    IUnknown* const pVisitor = visitor.Unknown();
    ExpectBoth(S_OK, m_pData->GetAllEvent(pVisitor), Data(), "GetAllEvent", {Unk(pVisitor)});
    ExpectBoth(S_OK, m_pData->QueryCalendar(EN_QRY_BY_CAL_SUBJECT, pItem, pVisitor), Data(), "QueryCalendar",
               {Str("1"), Unk(pItem), Unk(pVisitor)});
    ExpectBoth(S_OK, m_pData->QueryEvent(1, EN_QRY_BY_EVT_SPONSOR, pItem, pVisitor), Data(), "QueryEvent",
               {UI4(1), I2(2), Unk(pItem), Unk(pVisitor)});
    ExpectBoth(S_OK, m_pData->GetOneCalendar(1, pItem), Data(), "GetOneCalendar",
               {Str("1"), Disp(item.As<IDispatch>())});
    ExpectBoth(S_OK, m_pData->GetOneCalEvent(1, 2, pItem), Data(), "GetOneCalEvent", {UI1(1), R8(2.0), Unk(pItem)});
    EXPECT_TRUE(item.Calls().empty());
    EXPECT_TRUE(visitor.Calls().empty());

    ExpectBoth(S_OK, m_pData->SetDataSource(Bstr("LumoCalendar").get(), Bstr("x").get()), Data(), "SetDataSource",
               {Str("LumoCalendar"), Str("x")});
    ExpectBoth(E_FAIL, m_pData->SetDataSource(Bstr("Lumo").get(), nullptr), Data(), "SetDataSource",
               {Str("Lumo"), Empty()});

    // Initialize takes the kernel as IDispatch; an IUnknown argument is asked for it.
    ExpectBoth(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()), Data(), "Initialize",
               {Str(""), Disp(m_host.kernel.As<IDispatch>())});
    EXPECT_EQ(S_OK, Call(Data(), "Initialize", {Empty(), Unk(m_host.kernel.Unknown())}));
    UINT uArgErr = s_uNoArgErr;
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              Call(Data(), "Initialize", {Str(""), Unk(NewFake(EFakeKind::Plain).Unknown())}, nullptr, &uArgErr));
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
    // An empty identifier fails and leaves the flag alone.
    const std::tuple<const char*, HRESULT, VARIANT_BOOL> checks[] = {
        {"OL-9", S_OK, VARIANT_TRUE}, {"OL-8", S_OK, VARIANT_FALSE}, {"", E_FAIL, 7}};
    for (const auto& [pszID, hr, bExpected] : checks) {
        SCOPED_TRACE(pszID);
        VARIANT_BOOL bDirect = 7;
        VARIANT_BOOL bLate = 7;
        EXPECT_EQ(hr, m_pData->IsOutlookIDExist(Bstr(pszID).get(), &bDirect));
        EXPECT_EQ(hr, Call(Data(), "IsOutlookIDExist", {*pszID != 0 ? Str(pszID) : Empty(), ByRef(VT_BOOL, &bLate)}));
        EXPECT_EQ(bExpected, bDirect);
        EXPECT_EQ(bExpected, bLate);
    }

    // A reference must be to a VT_BOOL. A value is taken, as the system's
    // type-library dispatch takes it, and nothing comes back through it.
    SHORT iFlag = 7;
    UINT uArgErr = s_uNoArgErr;
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              Call(Data(), "IsOutlookIDExist", {Str("OL-9"), ByRef(VT_I2, &iFlag)}, nullptr, &uArgErr));
    EXPECT_EQ(0u, uArgErr);
    EXPECT_EQ(7, iFlag);
    EXPECT_EQ(S_OK, Call(Data(), "IsOutlookIDExist", {Str("OL-9"), Bool(0)}));
}

// ---------------------------------------------------------------------------
// IVxCalStoreConfig, both ways

TEST_F(DispatchTest, ConfigMethodsAgreeWithDirectCallsAndReturnOutValues)
{
    const auto bsNs = Bstr("ns");
    ExpectBoth(S_OK, m_pConfig->AddString(bsNs.get(), Bstr("a").get(), Bstr("alpha").get(), 0), Config(), "AddString",
               {Str("ns"), Str("b"), Str("beta"), I4(3)});
    EXPECT_EQ(S_OK, Call(Config(), "AddString", {Str("ns"), Str("c"), I4(-5), Str("7")}));
    ExpectBoth(S_OK, m_pConfig->AddDWord(bsNs.get(), Bstr("m").get(), 42, 0), Config(), "AddDWord",
               {Str("ns"), Str("n"), Str("4294967295"), UI1(0)});
    std::string strIni;
    ASSERT_TRUE(ReadFile(m_dir.Join("123/CalendarConfig.ini"), strIni));
    EXPECT_NE(std::string::npos, strIni.find("n=-1"));

    // Out-values come back through the result; a missing item fails both ways and
    // leaves the result empty.
    BSTR bsValue = nullptr;
    EXPECT_EQ(S_OK, m_pConfig->GetString(bsNs.get(), Bstr("b").get(), &bsValue));
    EXPECT_EQ("beta", Narrow(bsValue));
    SysFreeString(bsValue);
    EXPECT_EQ("bstr alpha", Returned(Config(), "GetString", {Str("ns"), Str("a")}));
    BSTR bsByRef = bsNs.get();
    EXPECT_EQ("bstr -5", Returned(Config(), "getstring", {ByRef(VT_BSTR, &bsByRef), Str("c")}));
    bsValue = reinterpret_cast<BSTR>(uintptr_t(0xDEADBEEF));
    EXPECT_EQ(E_FAIL, m_pConfig->GetString(bsNs.get(), Bstr("zz").get(), &bsValue));
    EXPECT_EQ(nullptr, bsValue);
    EXPECT_EQ("empty", Returned(Config(), "GetString", {Str("ns"), Str("zz")}, E_FAIL));
    ULONG ulValue = 0;
    EXPECT_EQ(S_OK, m_pConfig->GetDWord(bsNs.get(), Bstr("n").get(), &ulValue));
    EXPECT_EQ(4294967295u, ulValue);
    EXPECT_EQ("ui4 4294967295", Returned(Config(), "GetDWord", {Str("ns"), Str("n")}));
    EXPECT_EQ("ui4 42", Returned(Config(), "GetDWord", {Str("ns"), Str("m")}));
    EXPECT_EQ("empty", Returned(Config(), "GetDWord", {Str("ns"), Str("zz")}, E_FAIL));
    // Out-values with no result variant to take them are freed, not leaked.
    EXPECT_EQ(S_OK, Call(Config(), "GetString", {Str("ns"), Str("a")}, nullptr));
    EXPECT_EQ(S_OK, Call(Config(), "GetDWord", {Str("ns"), Str("n")}, nullptr));

    ExpectBoth(S_OK, m_pConfig->DeleteConfigItem(bsNs.get(), Bstr("a").get()), Config(), "DeleteConfigItem",
               {Str("ns"), Str("b")});
    ExpectBoth(E_FAIL, m_pConfig->DeleteConfigItem(bsNs.get(), Bstr("b").get()), Config(), "DeleteConfigItem",
               {Str("ns"), Str("a")});

    // The account is settled by the start, so the explicit set-up is refused.
    ExpectBoth(E_FAIL, m_pConfig->InitializeConfig(5), Config(), "InitializeConfig", {Str("5")});
}

TEST(DispatchConfigTest, InitializeConfigAgreesOnFreshObjects)
{
    CTempDir dir;
    CScopedRoot root(dir.Path());
    IVxCalStoreConfig* pDirect = nullptr;
    IVxCalStoreConfig* pLate = nullptr;
    ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IVxCalStoreConfig, reinterpret_cast<void**>(&pDirect)));
    ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IVxCalStoreConfig, reinterpret_cast<void**>(&pLate)));
    ExpectBoth(S_OK, pDirect->InitializeConfig(77), pLate, "InitializeConfig", {Str("78")});
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
    // Resolves the names in one call; the DISPIDs start out as 0x1234.
    const auto resolve = [](IDispatch* p, std::vector<std::string> names) {
        std::vector<WString> wide;
        std::vector<LPOLESTR> pointers;
        wide.reserve(names.size());  // no reallocation moves the texts pointed at
        for (const std::string& str : names) {
            wide.push_back(Wide(str));
            pointers.push_back(&wide.back()[0]);
        }
        std::vector<DISPID> ids(names.size(), 0x1234);
        const HRESULT hr =
            p->GetIDsOfNames(IID_NULL, pointers.data(), UINT(pointers.size()), LOCALE_USER_DEFAULT, ids.data());
        return std::make_pair(hr, ids);
    };
    const auto resolved = [](std::vector<DISPID> ids) { return std::make_pair(S_OK, ids); };
    EXPECT_EQ(resolved({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22}),
              resolve(Data(), {"Initialize",       "SetDataSource",    "GetAllCalendar",   "GetAllCalEvent",
                               "AddCalendar",      "DelCalendar",      "UpdateCalendar",   "AddCalEvent",
                               "UpdateCalEvent",   "DelCalEvent",      "GetAllEvent",      "QueryCalendar",
                               "QueryEvent",       "GetAllCalendarEx", "GetAllCalEventEx", "GetPeriodEvent",
                               "GetOneCalendar",   "GetOneCalEvent",   "SetBatchMode",     "DelAllEventofCalendar",
                               "GetPeriodEventEx", "IsOutlookIDExist"}));
    EXPECT_EQ(resolved({1, 2, 3, 4, 5, 6}), resolve(Config(), {"InitializeConfig", "AddString", "GetString", "AddDWord",
                                                               "GetDWord", "DeleteConfigItem"}));
    EXPECT_EQ(resolved({3, 22, 20}), resolve(Data(), {"getallcalendar", "ISOUTLOOKIDEXIST", "dElAlLeVeNtOfCaLeNdAr"}));
    EXPECT_EQ(resolved({5}), resolve(Config(), {"getdword"}));

    // The first unknown name fails the call; each interface knows only its own names.
    const auto unknown = resolve(Data(), {"AddCalendar", "NoSuchMethod", "DelCalendar"});
    EXPECT_EQ(DISP_E_UNKNOWNNAME, unknown.first);
    EXPECT_EQ(5, unknown.second[0]);
    EXPECT_EQ(DISPID_UNKNOWN, unknown.second[1]);
    for (const auto& [p, pszName] : {std::make_pair(Data(), "AddString"), std::make_pair(Config(), "AddCalendar"),
                                     std::make_pair(Data(), "GetAllCalendarX"), std::make_pair(Data(), "")}) {
        EXPECT_EQ(DISP_E_UNKNOWNNAME, resolve(p, {pszName}).first) << pszName;
    }

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
    VARIANT five[5] = {Empty(), Empty(), Empty(), Empty(), Empty()};
    DISPID named[2] = {DISPID_PROPERTYPUT, 0};
    DISPID ordinary = 0;
    UINT uArgErr = s_uNoArgErr;
    // Invokes into a garbage result; gives what the result became.
    const auto invoke = [&](IDispatch* p, DISPID id, DISPPARAMS* pParams, HRESULT hrExpected) {
        VARIANT result = Garbage();
        EXPECT_EQ(hrExpected,
                  p->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, pParams, &result, nullptr, &uArgErr))
            << "DISPID " << id;
        return Show(result);
    };
    const auto params = [&](UINT cArgs, DISPID* pNamed = nullptr, UINT cNamed = 0) {
        return DISPPARAMS{five, pNamed, cArgs, cNamed};
    };
    const std::string strUntouched = Show(Garbage());

    // Checks made before the result is touched: parameters at all, their count, names.
    EXPECT_EQ(strUntouched, invoke(Data(), 6, nullptr, DISP_E_BADVARTYPE));
    EXPECT_EQ(strUntouched, invoke(Config(), 999, nullptr, DISP_E_BADVARTYPE));
    for (DISPID id : {15, 999, -1}) {
        for (IDispatch* p : {Data(), Config()}) {
            DISPPARAMS tooMany = params(5);
            EXPECT_EQ(strUntouched, invoke(p, id, &tooMany, DISP_E_BADPARAMCOUNT));
        }
    }
    DISPPARAMS tooManyNamed = params(5, named, 1);
    EXPECT_EQ(strUntouched, invoke(Data(), 999, &tooManyNamed, DISP_E_BADPARAMCOUNT));
    DISPPARAMS oneNamed = params(1, &ordinary, 1);
    DISPPARAMS twoNamed = params(2, named, 2);
    EXPECT_EQ(strUntouched, invoke(Data(), 6, &oneNamed, DISP_E_NONAMEDARGS));
    EXPECT_EQ(strUntouched, invoke(Data(), 999, &oneNamed, DISP_E_NONAMEDARGS));
    EXPECT_EQ(strUntouched, invoke(Data(), 10, &twoNamed, DISP_E_NONAMEDARGS));
    EXPECT_EQ(strUntouched, invoke(Config(), 1, &oneNamed, DISP_E_NONAMEDARGS));

    // A single DISPID_PROPERTYPUT is accepted.
    VARIANT calID = UI4(99);
    DISPPARAMS put{&calID, named, 1, 1};
    EXPECT_EQ("empty", invoke(Data(), 6, &put, S_OK));

    // From here on the result is initialised first: unknown members, then the
    // method's own parameter count.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    for (DISPID id : {0, 23, -1, DISPID_PROPERTYPUT}) {
        EXPECT_EQ("empty", invoke(Data(), id, &none, DISP_E_MEMBERNOTFOUND));
    }
    EXPECT_EQ("empty", invoke(Config(), 7, &none, DISP_E_MEMBERNOTFOUND));
    const std::tuple<IDispatch*, DISPID, UINT> wrongCounts[] = {{Data(), 6, 0},  {Data(), 6, 2},   {Data(), 10, 1},
                                                                {Data(), 22, 1}, {Config(), 3, 3}, {Config(), 2, 3}};
    for (const auto& [p, id, cArgs] : wrongCounts) {
        DISPPARAMS wrong = params(cArgs);
        EXPECT_EQ("empty", invoke(p, id, &wrong, DISP_E_BADPARAMCOUNT));
    }
    EXPECT_EQ(s_uNoArgErr, uArgErr);
    EXPECT_EQ("", Sql("select * from Calendar;"));
}

TEST_F(DispatchTest, FailedConversionNamesTheArgumentCheckedFirst)
{
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(EventItem(1, 1).Unknown()));
    CFake& visitor = NewFake(EFakeKind::EventVisitor);
    const auto pVisitor = visitor.Unknown();
    struct CBadCall {
        IDispatch* pDispatch;
        const char* pszName;
        std::vector<VARIANT> args;  // handed over to the call, which clears them
        UINT uArgErr;
    };
    CBadCall calls[] = {
        // Arguments are converted last parameter first.
        {Data(), "DelCalEvent", {Str("abc"), Str("xyz")}, 0},
        {Data(), "DelCalEvent", {Str("abc"), I4(1)}, 1},
        {Data(), "DelCalEvent", {I4(-1), I4(1)}, 1},
        {Data(), "DelCalendar", {R8(4294967296.0)}, 0},
        {Data(), "DelCalendar", {Value(VT_NULL, 0)}, 0},
        {Data(), "AddCalEvent", {I4(1)}, 0},
        {Data(), "GetAllCalEvent", {Str("one"), Unk(pVisitor)}, 1},
        {Data(), "GetPeriodEventEx", {Str("x"), I4(1), I4(1), Unk(pVisitor)}, 3},
        {Data(), "SetDataSource", {Unk(pVisitor), Str("f")}, 1},
        {Config(), "AddString", {Str("s"), Str("k"), Str("v"), I4(256)}, 0},
        {Config(), "AddDWord", {Str("s"), Str("k"), I4(-1), UI1(0)}, 1},
        {Config(), "GetString", {Str("s"), Value(VT_NULL, 0)}, 0},
    };
    for (CBadCall& call : calls) {
        SCOPED_TRACE(call.pszName);
        VARIANT result = Garbage();
        UINT uArgErr = s_uNoArgErr;
        EXPECT_EQ(DISP_E_TYPEMISMATCH, Call(call.pDispatch, call.pszName, std::move(call.args), &result, &uArgErr));
        EXPECT_EQ(call.uArgErr, uArgErr);
        EXPECT_EQ(VT_EMPTY, result.vt);
    }
    EXPECT_TRUE(visitor.Calls().empty());
    EXPECT_EQ("1|1\n", Sql("select CalID, EvtID from Event;"));
}

TEST_F(DispatchTest, InvokeLeavesTheCallersArgumentsAsTheyWere)
{
    const auto invoke = [&](const char* pszName, VARIANT& arg) {
        DISPPARAMS params{&arg, nullptr, 1, 0};
        return Data()->Invoke(IdOf(Data(), pszName), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                              nullptr, nullptr);
    };
    CFake& item = CalendarItem(4, "four");
    VARIANT object = Disp(item.As<IDispatch>());
    EXPECT_EQ(S_OK, invoke("AddCalendar", object));
    EXPECT_EQ(VT_DISPATCH, object.vt);
    EXPECT_EQ(item.As<IDispatch>(), object.pdispVal);
    EXPECT_EQ(2u, item.RefCount()) << "the converted copy was released";
    VariantClear(&object);

    VARIANT text = Str("4");
    const BSTR bsBefore = text.bstrVal;
    EXPECT_EQ(S_OK, invoke("DelCalendar", text));
    EXPECT_EQ(VT_BSTR, text.vt);
    EXPECT_EQ(bsBefore, text.bstrVal);
    EXPECT_EQ("4", Narrow(text.bstrVal));
    VariantClear(&text);
    EXPECT_EQ("", Sql("select CalID from Calendar;"));
}
