// Late binding on the store object's two dual interfaces, through the module as a
// script host would use them: names to DISPIDs, then Invoke with arguments in
// whatever VARIANT types a script sends. What the methods do is tested through
// their vtables; here, what Invoke adds: its checks, its coercions and out-values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "StoreFixture.h"
#include "ModuleLoader.h"
#include "TestSupport.h"

using namespace fakehost;
using namespace moduletest;
using namespace testing_support;

namespace {

// Argument variants. Each owns what it holds; Call clears them.
template <typename T>
VARIANT Held(VARTYPE vt, T* p)  // an interface, with a reference of its own
{
    if (p != nullptr) {
        p->AddRef();
    }
    return MakeVariant(vt, p);
}
const auto Empty = [] { return MakeVariant(VT_EMPTY, 0); };
const auto I4 = [](LONG l) { return MakeVariant(VT_I4, l); };
const auto UI4 = [](ULONG ul) { return MakeVariant(VT_UI4, ul); };
const auto I2 = [](SHORT i) { return MakeVariant(VT_I2, i); };
const auto UI1 = [](BYTE b) { return MakeVariant(VT_UI1, b); };
const auto R8 = [](double d) { return MakeVariant(VT_R8, d); };
const auto Bool = [](VARIANT_BOOL b) { return MakeVariant(VT_BOOL, b); };
const auto ByRef = [](VARTYPE vt, void* p) { return MakeVariant(VARTYPE(vt | VT_BYREF), p); };
const auto Str = [](const char* pszUtf8) { return MakeVariant(VT_BSTR, SysAllocString(Wide(pszUtf8).c_str())); };
const auto Unk = [](IUnknown* p) { return Held(VT_UNKNOWN, p); };
const auto Disp = [](IDispatch* p) { return Held(VT_DISPATCH, p); };
const LONG s_lGarbage = 0x5A5A5A5A;  // a result variant that Invoke must initialise
const UINT s_uNoArgErr = 0xDEAD;

DISPID IdOf(IDispatch* p, const char* pszName)
{
    WString strName = Wide(pszName);
    LPOLESTR pszNames[] = {&strName[0]};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(S_OK, p->GetIDsOfNames(IID_NULL, pszNames, 1, LOCALE_USER_DEFAULT, &id)) << pszName;
    return id;
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

// What a call by name gave: its result, what became of the result variant (which
// starts as garbage), and the argument it named as bad; the arguments are given
// in parameter order and laid out as Invoke expects, the last parameter first.
struct COutcome {
    HRESULT hr;
    std::string strResult;
    UINT uArgErr;
};
COutcome Call(IDispatch* p, const char* pszName, std::vector<VARIANT> args)
{
    std::vector<VARIANT> rg(args.rbegin(), args.rend());
    DISPPARAMS params{rg.empty() ? nullptr : rg.data(), nullptr, UINT(rg.size()), 0};
    VARIANT result = I4(s_lGarbage);
    COutcome outcome{S_OK, "", s_uNoArgErr};
    outcome.hr = p->Invoke(IdOf(p, pszName), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                           nullptr, &outcome.uArgErr);
    outcome.strResult = Show(result);
    VariantClear(&result);
    for (VARIANT& v : rg) {
        VariantClear(&v);
    }
    return outcome;
}

class DispatchTest : public CStoreTest {
protected:
    DispatchTest() : CStoreTest(&CreateStoreObject) {}
    void SetUp() override
    {
        CStoreTest::SetUp();
        Start();
    }
    void TearDown() override
    {
        EXPECT_EQ(S_OK, m_pSeq->StopSequence());
        CStoreTest::TearDown();
        EXPECT_EQ(S_OK, ModuleCanUnloadNow());
    }

    IDispatch* Data() { return m_pData; }
    IDispatch* Config() { return m_pConfig; }
    HRESULT Run(IDispatch* p, const char* pszName, std::vector<VARIANT> args) { return Call(p, pszName, args).hr; }

    SHORT m_iFlag = 7;
};

}  // namespace

TEST_F(DispatchTest, NamesResolveToTheirDispidsWithoutRegardToCase)
{
    const std::vector<std::vector<const char*>> names = {
        {"Initialize", "SetDataSource", "GetAllCalendar", "GetAllCalEvent", "AddCalendar", "DelCalendar",
         "UpdateCalendar", "AddCalEvent", "UpdateCalEvent", "DelCalEvent", "GetAllEvent", "QueryCalendar",
         "QueryEvent", "GetAllCalendarEx", "GetAllCalEventEx", "GetPeriodEvent", "GetOneCalendar", "GetOneCalEvent",
         "SetBatchMode", "DelAllEventofCalendar", "GetPeriodEventEx", "ISOUTLOOKIDEXIST"},
        {"InitializeConfig", "AddString", "GetString", "AddDWord", "getdword", "DeleteConfigItem"}};
    for (IDispatch* p : {Data(), Config()}) {
        const std::vector<const char*>& own = names[p == Data() ? 0 : 1];
        for (size_t i = 0; i < own.size(); ++i) {
            EXPECT_EQ(DISPID(i + 1), IdOf(p, own[i]));
        }
        // Each interface knows only its own names.
        WString strOther = Wide(names[p == Data() ? 1 : 0][1]);
        LPOLESTR pszOther = &strOther[0];
        DISPID id = 0x1234;
        EXPECT_EQ(DISP_E_UNKNOWNNAME, p->GetIDsOfNames(IID_NULL, &pszOther, 1, LOCALE_USER_DEFAULT, &id));
        EXPECT_EQ(DISPID_UNKNOWN, id);
        UINT cInfo = 99;
        ITypeInfo* pInfo = reinterpret_cast<ITypeInfo*>(uintptr_t(0xDEADBEEF));
        EXPECT_EQ(S_OK, p->GetTypeInfoCount(&cInfo));
        const HRESULT hrInfo = p->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pInfo);
#ifdef _WIN32  // by design: Windows has the interface's type information, from the DLL's type library
        ASSERT_TRUE(cInfo == 1 && hrInfo == S_OK && pInfo != nullptr) << cInfo << " " << hrInfo;
        pInfo->Release();
#else  // no type information off Windows: scripts go by name
        EXPECT_TRUE(cInfo == 0 && hrInfo == TYPE_E_CANTLOADLIBRARY && pInfo == nullptr) << cInfo << " " << hrInfo;
#endif
    }
}

// Invoke's own checks: parameters at all, their count, named arguments (of which
// only one DISPID_PROPERTYPUT is taken), the member, then the method's own count.
// The first three leave the result as it was; no failure names an argument.
TEST_F(DispatchTest, InvokeChecksTheCallBeforeTheArguments)
{
    VARIANT five[5] = {Empty(), Empty(), Empty(), Empty(), Empty()};
    DISPID named[2] = {DISPID_PROPERTYPUT, 0};
    const std::string strUntouched = "i4 " + std::to_string(s_lGarbage);
    const std::tuple<IDispatch*, DISPID, UINT, DISPID*, UINT, HRESULT, std::string> checks[] = {
        {Data(), 6, 6, nullptr, 0, DISP_E_BADVARTYPE, strUntouched},  // 6 arguments: no DISPPARAMS at all
        {Config(), 999, 6, nullptr, 0, DISP_E_BADVARTYPE, strUntouched},
        {Data(), 15, 5, nullptr, 0, DISP_E_BADPARAMCOUNT, strUntouched},
        {Config(), -1, 5, nullptr, 0, DISP_E_BADPARAMCOUNT, strUntouched},
        {Data(), 999, 5, named, 1, DISP_E_BADPARAMCOUNT, strUntouched},
        {Data(), 6, 1, &named[1], 1, DISP_E_NONAMEDARGS, strUntouched},
        {Data(), 999, 1, &named[1], 1, DISP_E_NONAMEDARGS, strUntouched},
        {Data(), 10, 2, named, 2, DISP_E_NONAMEDARGS, strUntouched},
        {Config(), 1, 1, &named[1], 1, DISP_E_NONAMEDARGS, strUntouched},
        {Data(), 6, 1, named, 1, S_OK, "empty"},
        {Data(), 0, 0, nullptr, 0, DISP_E_MEMBERNOTFOUND, "empty"},
        {Data(), 23, 0, nullptr, 0, DISP_E_MEMBERNOTFOUND, "empty"},
        {Data(), DISPID_PROPERTYPUT, 0, nullptr, 0, DISP_E_MEMBERNOTFOUND, "empty"},
        {Config(), 7, 0, nullptr, 0, DISP_E_MEMBERNOTFOUND, "empty"},
        {Data(), 6, 0, nullptr, 0, DISP_E_BADPARAMCOUNT, "empty"},
        {Data(), 6, 2, nullptr, 0, DISP_E_BADPARAMCOUNT, "empty"},
        {Data(), 22, 1, nullptr, 0, DISP_E_BADPARAMCOUNT, "empty"},
        {Config(), 3, 3, nullptr, 0, DISP_E_BADPARAMCOUNT, "empty"}};
    for (const auto& [p, id, cArgs, pNamed, cNamed, hr, strResult] : checks) {
        DISPPARAMS params{five, pNamed, cArgs, cNamed};
        VARIANT result = I4(s_lGarbage);
        UINT uArgErr = s_uNoArgErr;
        EXPECT_EQ(hr, p->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, cArgs == 6 ? nullptr : &params,
                                &result, nullptr, &uArgErr))
            << "DISPID " << id;
        EXPECT_EQ(strResult, Show(result)) << "DISPID " << id;
        EXPECT_EQ(s_uNoArgErr, uArgErr);
    }
    EXPECT_EQ("", Sql("select * from Calendar;"));
}

TEST_F(DispatchTest, ArgumentsAreCoercedToTheirParameterTypesAndLeftAsTheCallerGaveThem)
{
    // Items come as VT_UNKNOWN, VT_DISPATCH or by reference.
    EXPECT_EQ(S_OK, Run(Data(), "AddCalendar", {Unk(m_fakes.Calendar(1).Unknown())}));
    EXPECT_EQ(S_OK, Run(Data(), "AddCalendar", {Disp(m_fakes.Calendar(2).As<IDispatch>())}));
    IUnknown* pByRef = m_fakes.Calendar(2, "two'").Unknown();
    EXPECT_EQ(S_OK, Run(Data(), "UpdateCalendar", {ByRef(VT_UNKNOWN, &pByRef)}));
    for (LONG lEvtID : {1, 2, 3}) {
        EXPECT_EQ(S_OK, Run(Data(), "AddCalEvent", {Unk(m_fakes.Event(lEvtID < 3 ? 1 : 2, lEvtID).Unknown())}));
    }
    EXPECT_EQ("1|123|cal 1\n2|123|two'\n", Sql("select CalID, UIN, subject from Calendar order by CalID;"));
    // Numbers arrive as text, as 16-bit, 8-bit and real values, or by reference.
    ULONG ulCalID = 1;
    EXPECT_EQ(S_OK, Run(Data(), "DelCalEvent", {Str(" 1 "), I2(2)}));
    EXPECT_EQ(S_OK, Run(Data(), "DelCalendar", {ByRef(VT_UI4, &ulCalID)}));
    EXPECT_EQ("2\n|\n1\n3\n", Sql("select CalID from Calendar; select '|'; select EvtID from Event order by EvtID;"));
    EXPECT_EQ(S_OK, Run(Data(), "DelAllEventofCalendar", {R8(2.0)}));
    EXPECT_EQ(S_OK, Run(Data(), "DelAllEventofCalendar", {UI1(1)}));
    EXPECT_EQ("", Sql("select EvtID from Event;"));

    // The caller's variants are left as they were, and the converted copies released.
    CFake& item = m_fakes.Calendar(4);
    VARIANT args[2] = {Disp(item.As<IDispatch>()), Str("4")};
    const BSTR bsBefore = args[1].bstrVal;
    for (const auto& [pszName, pArg] : {std::make_pair("AddCalendar", &args[0]), std::make_pair("DelCalendar", &args[1])}) {
        DISPPARAMS params{pArg, nullptr, 1, 0};
        EXPECT_EQ(S_OK, Data()->Invoke(IdOf(Data(), pszName), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                       nullptr, nullptr, nullptr));
    }
    EXPECT_EQ(VT_DISPATCH, args[0].vt);
    EXPECT_EQ(2u, item.RefCount()) << "the converted copy was released";
    EXPECT_EQ(bsBefore, args[1].bstrVal);
    EXPECT_EQ("4", Narrow(args[1].bstrVal));
    VariantClear(&args[0]);
    VariantClear(&args[1]);
    EXPECT_EQ("2\n", Sql("select CalID from Calendar;"));

    // Batch mode switched by a boolean, and off by a 16-bit 0.
    EXPECT_EQ(S_OK, Run(Data(), "SetBatchMode", {Bool(VARIANT_TRUE)}));
    ASSERT_EQ(S_OK, m_pData->AddCalendar(m_fakes.Calendar(9).Unknown()));
    EXPECT_EQ("2\n", Sql("select CalID from Calendar;"));
    EXPECT_EQ(S_OK, Run(Data(), "SetBatchMode", {I2(0)}));
    EXPECT_EQ("2\n9\n", Sql("select CalID from Calendar order by CalID;"));
}

TEST_F(DispatchTest, AFailedCoercionNamesTheArgumentCheckedFirstAndCallsNothing)
{
    CFake& visitor = m_fakes.New(EFakeKind::EventVisitor);
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(m_fakes.Event(1, 1).Unknown()));
    struct CBadCall {
        IDispatch* pDispatch;
        const char* pszName;
        std::vector<VARIANT> args;
        UINT uArgErr;  // arguments are converted last parameter first
    } calls[] = {
        {Data(), "DelCalEvent", {Str("abc"), Str("xyz")}, 0},
        {Data(), "DelCalEvent", {Str("abc"), I4(1)}, 1},
#ifndef _WIN32  // out of the range of an unsigned long; Wine's VariantChangeType lets -1 through
        {Data(), "DelCalEvent", {I4(-1), I4(1)}, 1},
        {Config(), "AddDWord", {Str("s"), Str("k"), I4(-1), UI1(0)}, 1},
#endif
        {Data(), "DelCalendar", {R8(4294967296.0)}, 0},
        {Data(), "DelCalendar", {MakeVariant(VT_NULL, 0)}, 0},
        {Data(), "AddCalEvent", {I4(1)}, 0},
        {Data(), "GetAllCalEvent", {Str("one"), Unk(visitor.Unknown())}, 1},
        {Data(), "GetPeriodEventEx", {Str("x"), I4(1), I4(1), Unk(visitor.Unknown())}, 3},
        {Data(), "SetDataSource", {Unk(visitor.Unknown()), Str("f")}, 1},
        {Data(), "SetBatchMode", {R8(2147483648.0)}, 0},  // past a long
        {Data(), "Initialize", {Str(""), Unk(m_fakes.New(EFakeKind::Plain).Unknown())}, 0},  // no IDispatch
        {Data(), "IsOutlookIDExist", {Str("OL-9"), ByRef(VT_I2, &m_iFlag)}, 0},  // a reference to no VT_BOOL
        {Config(), "AddString", {Str("s"), Str("k"), Str("v"), I4(256)}, 0},  // past a byte
        {Config(), "GetString", {Str("s"), MakeVariant(VT_NULL, 0)}, 0},
    };
    for (CBadCall& call : calls) {
        const COutcome outcome = Call(call.pDispatch, call.pszName, std::move(call.args));
        EXPECT_EQ(DISP_E_TYPEMISMATCH, outcome.hr) << call.pszName;
        EXPECT_EQ(call.uArgErr, outcome.uArgErr) << call.pszName;
        EXPECT_EQ("empty", outcome.strResult) << call.pszName;
    }
    EXPECT_TRUE(visitor.Calls().empty());
    EXPECT_EQ(7, m_iFlag);
    EXPECT_EQ("1|1\n", Sql("select CalID, EvtID from Event;"));
    EXPECT_FALSE(FileExists(m_dir.Join("123/CalendarConfig.ini")));
}

TEST_F(DispatchTest, ObjectsArriveByValueByReferenceOrNotAtAll)
{
    for (LONG lCalID : {1, 2}) {
        ASSERT_EQ(S_OK, m_pData->AddCalendar(m_fakes.Calendar(lCalID).Unknown()));
    }
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(m_fakes.Event(0, 3, 150, 160).Unknown()));
    ASSERT_EQ(S_OK, m_pData->AddCalEvent(m_fakes.Event(2, 5, 150, 180, "OL-9").Unknown()));
    CFake& calendars = m_fakes.New(EFakeKind::CalendarVisitor);
    CFake& events = m_fakes.New(EFakeKind::EventVisitor);
    IUnknown* pEvents = events.Unknown();
    EXPECT_EQ(S_OK, Run(Data(), "GetAllCalendar", {Unk(calendars.Unknown())}));
    EXPECT_EQ(S_OK, Run(Data(), "GetAllCalEventEx", {Str("LumoCalendar"), Empty(), I2(2), ByRef(VT_UNKNOWN, &pEvents)}));
    EXPECT_EQ(S_OK, Run(Data(), "GetPeriodEvent", {I2(100), R8(200.0), Unk(pEvents)}));
    EXPECT_EQ(S_OK, Run(Data(), "GetAllCalendar", {Empty()}));
    EXPECT_EQ((std::vector<LONG>{1, 2}), Ids(calendars));
    EXPECT_EQ((std::vector<LONG>{5, 3}), Ids(events));

    // A missing item arrives as a null pointer.
    EXPECT_EQ(E_POINTER, Run(Data(), "AddCalendar", {Empty()}));
    EXPECT_EQ(E_POINTER, Run(Data(), "AddCalEvent", {Unk(nullptr)}));

    // Initialize takes the kernel as IDispatch; an IUnknown argument is asked for it.
    EXPECT_EQ(S_OK, Run(Data(), "Initialize", {Str(""), Disp(m_host.kernel.As<IDispatch>())}));
    EXPECT_EQ(S_OK, Run(Data(), "Initialize", {Empty(), Unk(m_host.kernel.Unknown())}));

    // The flag of IsOutlookIDExist comes back by reference; an empty identifier leaves it.
    for (const auto& [pszID, hr, bExpected] : {std::make_tuple("OL-9", S_OK, VARIANT_TRUE),
                                               std::make_tuple("OL-8", S_OK, VARIANT_FALSE),
                                               std::make_tuple("", E_FAIL, VARIANT_BOOL(7))}) {
        VARIANT_BOOL bExist = 7;
        EXPECT_EQ(hr, Run(Data(), "IsOutlookIDExist", {Str(pszID), ByRef(VT_BOOL, &bExist)})) << pszID;
        EXPECT_EQ(bExpected, bExist) << pszID;
    }
    EXPECT_EQ(S_OK, Run(Data(), "IsOutlookIDExist", {Str("OL-9"), Bool(0)})) << "a value is taken, as the system's does";
}

TEST_F(DispatchTest, OutValuesComeBackThroughTheResult)
{
    EXPECT_EQ(S_OK, Run(Config(), "AddString", {Str("ns"), Str("a"), Str("alpha"), I4(3)}));
    EXPECT_EQ(S_OK, Run(Config(), "AddString", {Str("ns"), Str("c"), I4(-5), Str("7")}));
    EXPECT_EQ(S_OK, Run(Config(), "AddDWord", {Str("ns"), Str("n"), Str("4294967295"), UI1(0)}));
    BSTR bsByRef = SysAllocString(WTEXT("ns"));
    const std::tuple<const char*, std::vector<VARIANT>, HRESULT, std::string> reads[] = {
        {"GetString", {Str("ns"), Str("a")}, S_OK, "bstr alpha"},
        {"getstring", {ByRef(VT_BSTR, &bsByRef), Str("c")}, S_OK, "bstr -5"},
        {"GetString", {Str("ns"), Str("zz")}, E_FAIL, "empty"},
        {"GetDWord", {Str("ns"), Str("n")}, S_OK, "ui4 4294967295"},
        {"GetDWord", {Str("ns"), Str("zz")}, E_FAIL, "empty"}};
    for (const auto& [pszName, args, hr, strResult] : reads) {
        const COutcome outcome = Call(Config(), pszName, args);
        EXPECT_EQ(hr, outcome.hr) << pszName;
        EXPECT_EQ(strResult, outcome.strResult) << pszName;
    }
    SysFreeString(bsByRef);
    // Out-values with no result variant to take them are freed, not leaked.
    for (const char* pszName : {"GetString", "GetDWord"}) {
        VARIANT args[2] = {Str("n"), Str("ns")};
        DISPPARAMS params{args, nullptr, 2, 0};
        EXPECT_EQ(S_OK, Config()->Invoke(IdOf(Config(), pszName), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                         &params, nullptr, nullptr, nullptr));
        VariantClear(&args[0]);
        VariantClear(&args[1]);
    }
    EXPECT_EQ(S_OK, Run(Config(), "DeleteConfigItem", {Str("ns"), Str("a")}));
    EXPECT_EQ(E_FAIL, Run(Config(), "DeleteConfigItem", {Str("ns"), Str("a")}));
}
