// The module as a host meets it: loaded by its file name and reached only through
// its exported entry points. Nothing of the component is linked in; the store
// object is made by the module's class factory and driven through its interfaces,
// with the fake host behind it and the files checked from outside.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FakeHost.h"
#include "ModuleLoader.h"
#include "TestSupport.h"

using namespace fakehost;
using namespace moduletest;
using namespace testing_support;

namespace {

// Makes a call whose out-pointer starts as garbage: a refused call must leave it null.
template <typename TCall>
HRESULT Refusal(TCall call)
{
    void* pv = reinterpret_cast<void*>(uintptr_t(0xDEADBEEF));
    const HRESULT hr = call(&pv);
    EXPECT_EQ(nullptr, pv) << "the out-pointer of a refused call";
    return hr;
}

template <typename T>
T* Query(IUnknown* p, REFIID riid)
{
    void* pv = nullptr;
    EXPECT_EQ(S_OK, p->QueryInterface(riid, &pv));
    return static_cast<T*>(pv);
}

IClassFactory* GetFactory()
{
    IClassFactory* pFactory = nullptr;
    EXPECT_EQ(S_OK,
              Module().pfnGetClassObject(CLSID_VxCalStoreData, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    return pFactory;
}

#ifndef _WIN32  // on Windows tools/windows/check-dll.sh reads the DLL's export table
// The defined global names of a shared object's dynamic symbol table, as nm reads them.
std::set<std::string> ExportedSymbols(const std::string& strPath)
{
    std::set<std::string> names;
    FILE* pPipe = ::popen(("nm -D --defined-only --extern-only " + strPath).c_str(), "r");
    char szLine[512];
    while (pPipe != nullptr && std::fgets(szLine, sizeof(szLine), pPipe) != nullptr) {
        const std::string strLine(szLine, std::strcspn(szLine, "\n"));
        names.insert(strLine.substr(strLine.rfind(' ') + 1));
    }
    EXPECT_TRUE(pPipe != nullptr && ::pclose(pPipe) == 0) << "nm " << strPath;
    return names;
}
#endif

// A controlling object for aggregation: the inner object's interfaces must send
// their IUnknown calls here. Never freed by Release; the test owns it.
class COuterObject final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        ++m_nQueries;
        *ppv = riid == IID_IUnknown ? static_cast<IUnknown*>(this) : nullptr;
        if (*ppv != nullptr) {
            AddRef();
            return S_OK;
        }
        return m_pInner == nullptr ? E_NOINTERFACE : m_pInner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_cRef; }

    ULONG m_cRef = 1;
    int m_nQueries = 0;
    IUnknown* m_pInner = nullptr;
};

}  // namespace

TEST(ModuleExportsTest, OnlyTheFourEntryPointsAreVisible)
{
    ASSERT_TRUE(Module().pfnCanUnloadNow != nullptr && Module().pfnGetClassObject != nullptr &&
                Module().pfnRegisterServer != nullptr && Module().pfnUnregisterServer != nullptr);
#ifdef _WIN32
    GTEST_SKIP() << "the build checks the DLL's export table (tools/windows/check-dll.sh)";
#else
    EXPECT_EQ(
        (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"}),
        ExportedSymbols(CALSTORE_MODULE_FILE));
#endif
}

TEST(ModuleFactoryTest, TheClassObjectIsCachedAndRefusesWhatItCannotMake)
{
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Refusal([](void** ppv) {
                  return Module().pfnGetClassObject(IID_IVxCalStoreData, IID_IClassFactory, ppv);
              }));
    EXPECT_EQ(E_POINTER, Module().pfnGetClassObject(CLSID_VxCalStoreData, IID_IClassFactory, nullptr));
    IClassFactory* pFactory = GetFactory();
    IUnknown* pUnknown = nullptr;
    ASSERT_EQ(S_OK, Module().pfnGetClassObject(CLSID_VxCalStoreData, IID_IUnknown, reinterpret_cast<void**>(&pUnknown)));
    EXPECT_EQ(static_cast<IUnknown*>(pFactory), pUnknown);
    EXPECT_EQ(E_NOINTERFACE, Refusal([&](void** ppv) { return pFactory->QueryInterface(IID_IDispatch, ppv); }));

    COuterObject outer;
    EXPECT_EQ(E_POINTER, pFactory->CreateInstance(nullptr, IID_IVxCalStoreData, nullptr));
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              Refusal([&](void** ppv) { return pFactory->CreateInstance(&outer, IID_IVxCalStoreData, ppv); }));
    EXPECT_EQ(E_NOINTERFACE,
              Refusal([&](void** ppv) { return pFactory->CreateInstance(nullptr, IID_IClassFactory, ppv); }));
    EXPECT_EQ(1u, outer.m_cRef);
    EXPECT_EQ(0, outer.m_nQueries);
    pUnknown->Release();
    pFactory->Release();
    // The factory's own references never hold the module, and the object made for
    // a refused interface is gone again.
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
}

TEST(ModuleFactoryTest, CanUnloadNowFollowsObjectsAndServerLocks)
{
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
    IUnknown* pObjects[2] = {};
    for (IUnknown*& p : pObjects) {
        ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&p)));
    }
    for (IUnknown* p : pObjects) {
        EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
        p->Release();
    }
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());

    // Locks count, and hold the module without a reference on the factory.
    IClassFactory* pFactory = GetFactory();
    EXPECT_EQ(S_OK, pFactory->LockServer(TRUE));
    EXPECT_EQ(S_OK, pFactory->LockServer(TRUE));
    pFactory->Release();
    EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
    pFactory = GetFactory();
    for (HRESULT hrAfter : {S_FALSE, S_OK}) {
        EXPECT_EQ(S_OK, pFactory->LockServer(FALSE));
        EXPECT_EQ(hrAfter, ModuleCanUnloadNow());
    }
    pFactory->Release();
}

TEST(ModuleFactoryTest, QueryInterfaceKeepsOneIdentityAndAggregationDelegatesToTheOuterObject)
{
    IUnknown* pUnknown = nullptr;
    ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&pUnknown)));
    auto* pData = Query<IVxCalStoreData>(pUnknown, IID_IVxCalStoreData);
    auto* pDispatch = Query<IDispatch>(pUnknown, IID_IDispatch);
    auto* pConfig = Query<IVxCalStoreConfig>(pUnknown, IID_IVxCalStoreConfig);
    auto* pSequence = Query<IExtendKernalSequence>(pUnknown, IID_IExtendKernalSequence);
    auto* pClassInfo = Query<IProvideClassInfo>(pUnknown, IID_IProvideClassInfo);
    EXPECT_EQ(static_cast<IDispatch*>(pData), pDispatch);
    EXPECT_NE(static_cast<IDispatch*>(pConfig), pDispatch);
    for (IUnknown* p : std::initializer_list<IUnknown*>{pData, pConfig, pSequence, pClassInfo}) {
        IUnknown* pIdentity = Query<IUnknown>(p, IID_IUnknown);
        EXPECT_EQ(pUnknown, pIdentity);
        pIdentity->Release();
    }
    for (const IID& iid : {IID_IClassFactory, IID_ITypeInfo, IID_IErrorInfo, IID_ICalendarKernel, IID_NULL}) {
        EXPECT_EQ(E_NOINTERFACE, Refusal([&](void** ppv) { return pConfig->QueryInterface(iid, ppv); }));
    }
    EXPECT_EQ(E_POINTER, pData->QueryInterface(IID_IUnknown, nullptr));
#ifdef _WIN32  // the class's type information comes from the DLL's type library
    ITypeInfo* pClassType = nullptr;
    EXPECT_EQ(S_OK, pClassInfo->GetClassInfo(&pClassType));
    ASSERT_NE(nullptr, pClassType);
    pClassType->Release();
#else
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY,  // no type library off Windows
              Refusal([&](void** ppv) { return pClassInfo->GetClassInfo(reinterpret_cast<ITypeInfo**>(ppv)); }));
#endif
    for (IUnknown* p : std::initializer_list<IUnknown*>{pData, pDispatch, pConfig, pSequence, pClassInfo}) {
        p->Release();
    }
    EXPECT_EQ(0u, pUnknown->Release()) << "every interface gave its reference back";

    // Aggregated: interfaces handed out by the inner IUnknown count on the outer
    // object, and their QueryInterface goes to it.
    COuterObject outer;
    ASSERT_EQ(S_OK, CreateStoreObject(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.m_pInner)));
    EXPECT_EQ(1u, outer.m_cRef) << "making the inner object holds no reference on the outer one";
    pData = Query<IVxCalStoreData>(outer.m_pInner, IID_IVxCalStoreData);
    EXPECT_EQ(2u, outer.m_cRef);
    EXPECT_EQ(3u, pData->AddRef());
    EXPECT_EQ(2u, pData->Release());
    pConfig = Query<IVxCalStoreConfig>(pData, IID_IVxCalStoreConfig);
    IUnknown* pIdentity = Query<IUnknown>(pConfig, IID_IUnknown);
    EXPECT_EQ(static_cast<IUnknown*>(&outer), pIdentity);
    EXPECT_EQ(2, outer.m_nQueries);
    for (IUnknown* p : std::initializer_list<IUnknown*>{pIdentity, pConfig, pData}) {
        p->Release();
    }
    EXPECT_EQ(1u, outer.m_cRef);
    EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
    EXPECT_EQ(0u, outer.m_pInner->Release()) << "the inner object lives by its own count";
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
}

// Two sessions, as a host runs them: the second start delivers what the first stored.
TEST(ModuleSessionTest, StartWriteStopAndStartAgainThroughTheModule)
{
    CTempDir dir;
    CScopedRoot root(dir.Path());
    CFakeHost host{4711};
    CFakeSet fakes;
    CFake& accountVisitor = fakes.New(EFakeKind::CalendarVisitor);
    host.account.Redirect(IID_ICalendarVisitor, &accountVisitor);
    for (int nSession = 0; nSession < 2; ++nSession) {
        IExtendKernalSequence* pSeq = nullptr;
        ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IExtendKernalSequence, reinterpret_cast<void**>(&pSeq)));
        auto* pData = Query<IVxCalStoreData>(pSeq, IID_IVxCalStoreData);
        auto* pConfig = Query<IVxCalStoreConfig>(pSeq, IID_IVxCalStoreConfig);
        ASSERT_EQ(S_OK, pSeq->StartSequence(host.Kernel()));
        EXPECT_EQ(S_OK, pData->AddCalendar(fakes.Calendar(7 + nSession, "Team's days").Unknown()));
        EXPECT_EQ(S_OK, pData->AddCalEvent(fakes.Event(7, 1 + nSession, 1000, 1500, "OL-1").Unknown()));
        EXPECT_EQ(S_OK, pConfig->AddString(Bstr("View").get(), Bstr("Mode").get(), Bstr("week").get(), 0));
        EXPECT_EQ(S_OK, pSeq->EndStartupBatch());
        EXPECT_EQ(S_OK, pSeq->StopSequence());
        pConfig->Release();
        pData->Release();
        EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
        EXPECT_EQ(0u, pSeq->Release());
    }
    EXPECT_EQ((std::vector<LONG>{7}), Ids(accountVisitor));
    const std::string strDb = dir.Join("4711/CalData.db");
    EXPECT_EQ("4711|7|2|Team's days\n4711|8|2|Team's days\n",
              RunSqliteShell(strDb, "select UIN, CalID, CalType, subject from Calendar;"));
    EXPECT_EQ("7|1|1000|1500|event 1|OL-1\n7|2|1000|1500|event 2|OL-1\n",
              RunSqliteShell(strDb, "select CalID, EvtID, BgnTm, EndTm, subject, ext3 from Event;"));
    std::string strIni;
    EXPECT_TRUE(ReadFile(dir.Join("4711/CalendarConfig.ini"), strIni) && strIni == " [View]\r\n Mode=week\r\n");
    EXPECT_TRUE(host.Settled());
    EXPECT_TRUE(fakes.Settled());
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
}

// ---------------------------------------------------------------------------
// Registration, read back through the registry API: on Windows the real registry,
// elsewhere the stand-in's file named by CALSTORE_REGISTRY.

namespace {

// Keys under HKEY_CLASSES_ROOT, each with its values (name "@" for the default).
typedef std::map<std::string, std::map<std::string, std::string>> CRegistryText;

// The named keys and values as the registry has them; a missing key is left out.
CRegistryText ReadBack(const CRegistryText& keys)
{
    CRegistryText actual;
    for (const auto& [strKey, values] : keys) {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Wide(strKey).c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
            continue;
        }
        actual[strKey];
        for (const auto& value : values) {
            WCHAR szData[1024] = {};
            DWORD cbData = sizeof(szData) - sizeof(WCHAR);
            const bool bRead = RegQueryValueExW(hKey, value.first == "@" ? nullptr : Wide(value.first).c_str(), nullptr,
                                                nullptr, reinterpret_cast<BYTE*>(szData), &cbData) == ERROR_SUCCESS;
            actual[strKey][value.first] = bRead ? Narrow(szData) : "no value";
        }
        RegCloseKey(hKey);
    }
    return actual;
}

class ModuleRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEnvVar("CALSTORE_REGISTRY", m_dir.Join("registry.reg"));
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override
    {
        CoUninitialize();
        SetThreadLocale(m_lcidSaved);
        SetEnvVar("CALSTORE_REGISTRY", m_strSavedRegistry);
    }

#ifdef _WIN32  // the real registry holds much else
    void ExpectExactly(const CRegistryText&) const {}
#else
    // The stand-in's file holds exactly these keys. Read as another tool reads the .reg layout:
    // key lines, then "name"=value or @=value lines with quoted text (none here needs escapes).
    void ExpectExactly(const CRegistryText& expected) const
    {
        CRegistryText keys;
        std::string strText, strKey, strLine;
        ReadFile(m_dir.Join("registry.reg"), strText);
        for (std::istringstream text(strText); std::getline(text, strLine);) {
            if (strLine.size() > 20 && strLine.front() == '[') {
                keys[strKey = strLine.substr(19, strLine.size() - 20)];  // after "[HKEY_CLASSES_ROOT\"
            } else if (const size_t nEquals = strLine.find("=\""); nEquals != std::string::npos) {
                const std::string strName = strLine[0] == '@' ? "@" : strLine.substr(1, nEquals - 2);
                keys[strKey][strName] = strLine.substr(nEquals + 2, strLine.size() - nEquals - 3);
            }
        }
        EXPECT_EQ(expected, keys);
    }
#endif

    CTempDir m_dir;
    const std::string m_strSavedRegistry = std::getenv("CALSTORE_REGISTRY");  // the test main sets it
    const LCID m_lcidSaved = GetThreadLocale();
};

const char s_szClsid[] = "{32BFB315-E3F6-4440-BAF1-4389487CB5E8}";
const char s_szAppID[] = "{FB112E41-1FD9-4F87-B320-DC9CF9282194}";
const LCID s_lcidGerman = 0x0407;
const LCID s_lcidTypeLib = 0x0409;  // lcid(1033) in Brellin.idl

HRESULT CreateRegistered(REFIID riid, void** ppv)
{
    return CoCreateInstance(CLSID_VxCalStoreData, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
}

}  // namespace

// Registration writes every key, and the type library under its own locale;
// unregistration removes them all, every time, and again is no error.
TEST_F(ModuleRegistrationTest, RegisterWritesExactlyTheClassEntriesAndUnregisterLeavesTheRootKeys)
{
    EXPECT_EQ(S_OK, Module().pfnUnregisterServer()) << "nothing registered (and no file) yet: no error either";
    ExpectExactly({});
    const std::string strClassKey = std::string("CLSID\\") + s_szClsid;
    const std::string strFriendly = "CVxCalStoreData Object";
    char szModule[PATH_MAX] = {};
#ifdef _WIN32
    ASSERT_NE(0u, GetModuleFileNameA(Module().hModule, szModule, MAX_PATH));
#else
    ASSERT_NE(nullptr, ::realpath(CALSTORE_MODULE_FILE, szModule));
#endif
    const CRegistryText expected = {
        {"AppID", {}},
        {std::string("AppID\\") + s_szAppID, {{"@", "Brellin"}}},
        {"AppID\\Brellin.DLL", {{"AppID", s_szAppID}}},
        {"Brellin.VxCalStoreData.1", {{"@", strFriendly}}},
        {"Brellin.VxCalStoreData.1\\CLSID", {{"@", s_szClsid}}},
        {"Brellin.VxCalStoreData", {{"@", strFriendly}}},
        {"Brellin.VxCalStoreData\\CLSID", {{"@", s_szClsid}}},
        {"Brellin.VxCalStoreData\\CurVer", {{"@", "Brellin.VxCalStoreData.1"}}},
        {"CLSID", {}},
        {strClassKey, {{"@", strFriendly}, {"AppID", s_szAppID}}},
        {strClassKey + "\\ProgID", {{"@", "Brellin.VxCalStoreData.1"}}},
        {strClassKey + "\\VersionIndependentProgID", {{"@", "Brellin.VxCalStoreData"}}},
        {strClassKey + "\\Programmable", {}},
        {strClassKey + "\\InprocServer32", {{"@", szModule}, {"ThreadingModel", "apartment"}}},
        {strClassKey + "\\TypeLib", {{"@", s_szAppID}}},
#ifdef _WIN32  // what registering the type library adds: only the Windows build has one
        {std::string("TypeLib\\") + s_szAppID, {}},
        {"Interface\\{A4DAFD63-4696-4E2E-A78E-D9BBDC69BD40}", {}},
        {"Interface\\{80BF8A3C-562B-4904-9EE7-75A707F7D4A6}", {}},
#endif
    };
    const CRegistryText roots = {{"AppID", {}}, {"CLSID", {}}};
    SetThreadLocale(s_lcidGerman);
    for (int nRound = 0; nRound < 2; ++nRound) {
        SCOPED_TRACE(nRound);
        for (int nRegister = 0; nRegister < 2; ++nRegister) {  // registering again changes nothing
            ASSERT_EQ(S_OK, Module().pfnRegisterServer());
            EXPECT_EQ(s_lcidGerman, GetThreadLocale());
            EXPECT_EQ(expected, ReadBack(expected));
            ExpectExactly(expected);
        }
#ifdef _WIN32
        ITypeLib* pTypeLib = nullptr;
        EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_Brellin, 1, 0, s_lcidTypeLib, &pTypeLib));
        pTypeLib != nullptr ? void(pTypeLib->Release()) : void();
#endif
        for (const char* pszProgID : {"Brellin.VxCalStoreData.1", "Brellin.VxCalStoreData"}) {
            CLSID clsid{};
            EXPECT_EQ(S_OK, CLSIDFromProgID(Wide(pszProgID).c_str(), &clsid)) << pszProgID;
            EXPECT_TRUE(clsid == CLSID_VxCalStoreData) << pszProgID;
        }
        // The registered class comes from this same module: its object holds our lock count.
        IVxCalStoreData* pData = nullptr;
        ASSERT_EQ(S_OK, CreateRegistered(IID_IVxCalStoreData, reinterpret_cast<void**>(&pData)));
        EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
        EXPECT_EQ(0u, pData->Release());
        EXPECT_EQ(E_NOINTERFACE, Refusal([](void** ppv) { return CreateRegistered(IID_ITypeInfo, ppv); }));
        EXPECT_EQ(S_OK, ModuleCanUnloadNow());

        ASSERT_EQ(S_OK, Module().pfnUnregisterServer());
        EXPECT_EQ(s_lcidGerman, GetThreadLocale());
        EXPECT_EQ(roots, ReadBack(expected)) << "only the root keys stay";
        ExpectExactly(roots);
#ifdef _WIN32
        EXPECT_TRUE(FAILED(LoadRegTypeLib(LIBID_Brellin, 1, 0, s_lcidTypeLib, &pTypeLib)));
#endif
        CLSID clsid{};
        EXPECT_TRUE(FAILED(CLSIDFromProgID(WTEXT("Brellin.VxCalStoreData"), &clsid)));
        EXPECT_EQ(REGDB_E_CLASSNOTREG, Refusal([](void** ppv) { return CreateRegistered(IID_IVxCalStoreData, ppv); }));
    }
    EXPECT_EQ(S_OK, Module().pfnUnregisterServer());
    EXPECT_EQ(roots, ReadBack(expected));
    ExpectExactly(roots);
}

#ifndef _WIN32  // a broken file is the stand-in's own failure
TEST_F(ModuleRegistrationTest, RegistrationIntoABrokenRegistryFailsAndKeepsIt)
{
    const std::string strBroken = "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID]\nnot a value\n";
    std::string strText;
    ASSERT_TRUE(WriteFile(m_dir.Join("registry.reg"), strBroken));
    SetThreadLocale(s_lcidGerman);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BADDB), Module().pfnRegisterServer());
    EXPECT_EQ(s_lcidGerman, GetThreadLocale());
    EXPECT_TRUE(ReadFile(m_dir.Join("registry.reg"), strText) && strText == strBroken);
}
#endif
