// The module as a host meets it: libBrellin.so loaded with dlopen and reached only
// through its exported entry points. Nothing of the component is linked in; the
// store object is made by the module's class factory and driven through its
// interfaces, with the fake host behind it and the files checked from outside.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FakeHost.h"
#include "TestSupport.h"
#include "brellin/VxCalStore.h"

using namespace fakehost;
using namespace testing_support;

namespace moduletest {

typedef HRESULT(STDMETHODCALLTYPE* PFN_DLLGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDMETHODCALLTYPE* PFN_DLLNOARGS)();

// The loaded module; loaded once and kept, as COM keeps an in-process server.
struct CModule {
    template <typename T>
    T Find(const char* pszName) const
    {
        return hModule != nullptr ? reinterpret_cast<T>(::dlsym(hModule, pszName)) : nullptr;
    }
    void* const hModule = ::dlopen(CALSTORE_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    const PFN_DLLNOARGS pfnCanUnloadNow = Find<PFN_DLLNOARGS>("DllCanUnloadNow");
    const PFN_DLLGETCLASSOBJECT pfnGetClassObject = Find<PFN_DLLGETCLASSOBJECT>("DllGetClassObject");
    const PFN_DLLNOARGS pfnRegisterServer = Find<PFN_DLLNOARGS>("DllRegisterServer");
    const PFN_DLLNOARGS pfnUnregisterServer = Find<PFN_DLLNOARGS>("DllUnregisterServer");
};

const CModule& Module()
{
    static const CModule s_module;
    return s_module;
}

// Used by the dispatch tests as well.
HRESULT ModuleCanUnloadNow()
{
    return Module().pfnCanUnloadNow != nullptr ? Module().pfnCanUnloadNow() : E_UNEXPECTED;
}

HRESULT CreateStoreObject(IUnknown* pUnkOuter, REFIID riid, void** ppv)
{
    IClassFactory* pFactory = nullptr;
    HRESULT hr =
        Module().pfnGetClassObject == nullptr
            ? E_UNEXPECTED
            : Module().pfnGetClassObject(CLSID_VxCalStoreData, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
    if (SUCCEEDED(hr)) {
        hr = pFactory->CreateInstance(pUnkOuter, riid, ppv);
        pFactory->Release();
    }
    return hr;
}

}  // namespace moduletest

using namespace moduletest;

namespace {

void* const s_pGarbage = reinterpret_cast<void*>(uintptr_t(0xDEADBEEF));

// Makes a call whose out-pointer starts as garbage: a refused call must leave it null.
template <typename TCall>
HRESULT Refusal(TCall call)
{
    void* pv = s_pGarbage;
    const HRESULT hr = call(&pv);
    EXPECT_EQ(nullptr, pv) << "the out-pointer of a refused call";
    return hr;
}

// The defined global and weak names of a shared object's dynamic symbol table.
std::set<std::string> ExportedSymbols(const std::string& strPath)
{
    std::set<std::string> names;
    std::string strImage;
    // Copied out rather than cast in place: nothing promises alignment.
    const auto at = [&](size_t nOffset, auto& out) {
        const bool bInside = nOffset + sizeof(out) <= strImage.size();
        if (bInside) {
            std::memcpy(&out, strImage.data() + nOffset, sizeof(out));
        }
        return bInside;
    };
    Elf64_Ehdr ehdr{};
    if (!ReadFile(strPath, strImage) || !at(0, ehdr) || std::memcmp(ehdr.e_ident, ELFMAG, SELFMAG) != 0 ||
        ehdr.e_ident[EI_CLASS] != ELFCLASS64) {
        ADD_FAILURE() << strPath << " is no readable 64-bit ELF file";
        return names;
    }
    for (size_t i = 0; i < ehdr.e_shnum; ++i) {
        Elf64_Shdr shdr{};
        Elf64_Shdr strtab{};
        if (!at(ehdr.e_shoff + i * sizeof(Elf64_Shdr), shdr) || shdr.sh_type != SHT_DYNSYM ||
            !at(ehdr.e_shoff + shdr.sh_link * sizeof(Elf64_Shdr), strtab)) {
            continue;
        }
        for (size_t nSym = 0; nSym < shdr.sh_size / sizeof(Elf64_Sym); ++nSym) {
            Elf64_Sym sym{};
            at(shdr.sh_offset + nSym * sizeof(Elf64_Sym), sym);
            const unsigned nBind = ELF64_ST_BIND(sym.st_info);
            if (sym.st_shndx != SHN_UNDEF && sym.st_name != 0 && (nBind == STB_GLOBAL || nBind == STB_WEAK)) {
                names.insert(strImage.c_str() + strtab.sh_offset + sym.st_name);
            }
        }
    }
    return names;
}

IClassFactory* GetFactory()
{
    IClassFactory* pFactory = nullptr;
    EXPECT_EQ(S_OK,
              Module().pfnGetClassObject(CLSID_VxCalStoreData, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    return pFactory;
}

template <typename T>
T* Query(IUnknown* p, REFIID riid)
{
    void* pv = s_pGarbage;
    EXPECT_EQ(S_OK, p->QueryInterface(riid, &pv));
    return static_cast<T*>(pv);
}

// A BSTR, freed at the end of the full expression that makes it.
std::unique_ptr<OLECHAR, void (*)(BSTR)> Bstr(const char* pszUtf8)
{
    return {SysAllocString(Wide(pszUtf8).c_str()), &SysFreeString};
}

// A controlling object for aggregation: the inner object's interfaces must send
// their IUnknown calls here. Never freed by Release; the test owns it.
class COuterObject final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        ++m_nQueries;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return m_pInner == nullptr ? E_NOINTERFACE : m_pInner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_cRef; }

    ULONG m_cRef = 1;
    int m_nQueries = 0;
    IUnknown* m_pInner = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------
// Exports and the class factory

TEST(ModuleExportsTest, OnlyTheFourEntryPointsAreVisible)
{
    ASSERT_NE(nullptr, Module().hModule) << ::dlerror();
    EXPECT_TRUE(Module().pfnCanUnloadNow != nullptr && Module().pfnGetClassObject != nullptr &&
                Module().pfnRegisterServer != nullptr && Module().pfnUnregisterServer != nullptr);
    EXPECT_EQ(
        (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"}),
        ExportedSymbols(CALSTORE_MODULE_FILE));
    // Names that the module defines but keeps to itself.
    for (const char* pszName : {"_ZN15CVxCalStoreData14CreateInstanceEP8IUnknownRK4GUIDPPv",
                                "_ZN16CVxCalStoreMedia4OpenEjPKDsi", "_ZN14CBrellinModule8InstanceEv", "DllMain"}) {
        EXPECT_EQ(nullptr, ::dlsym(Module().hModule, pszName)) << pszName;
    }
}

TEST(ModuleFactoryTest, ClassObjectIsCachedAndOnlyForTheOneClass)
{
    ASSERT_NE(nullptr, Module().pfnGetClassObject);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Refusal([](void** ppv) {
                  return Module().pfnGetClassObject(IID_IVxCalStoreData, IID_IClassFactory, ppv);
              }));
    EXPECT_EQ(E_POINTER, Module().pfnGetClassObject(CLSID_VxCalStoreData, IID_IClassFactory, nullptr));

    IClassFactory* pFactory = GetFactory();
    ASSERT_NE(nullptr, pFactory);
    EXPECT_EQ(pFactory, GetFactory());
    IUnknown* pUnknown = nullptr;
    EXPECT_EQ(S_OK,
              Module().pfnGetClassObject(CLSID_VxCalStoreData, IID_IUnknown, reinterpret_cast<void**>(&pUnknown)));
    EXPECT_EQ(static_cast<IUnknown*>(pFactory), pUnknown);
    EXPECT_EQ(E_NOINTERFACE, Refusal([&](void** ppv) { return pFactory->QueryInterface(IID_IDispatch, ppv); }));
    for (int i = 0; i < 3; ++i) {
        pFactory->Release();
    }
    // The factory's own references never hold the module.
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
    EXPECT_EQ(pFactory, GetFactory());
    pFactory->Release();
}

TEST(ModuleFactoryTest, CreateInstanceRefusesWhatItCannotMake)
{
    IClassFactory* pFactory = GetFactory();
    ASSERT_NE(nullptr, pFactory);
    COuterObject outer;
    EXPECT_EQ(E_POINTER, pFactory->CreateInstance(nullptr, IID_IVxCalStoreData, nullptr));
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              Refusal([&](void** ppv) { return pFactory->CreateInstance(&outer, IID_IVxCalStoreData, ppv); }));
    EXPECT_EQ(E_NOINTERFACE,
              Refusal([&](void** ppv) { return pFactory->CreateInstance(nullptr, IID_IClassFactory, ppv); }));
    EXPECT_EQ(1u, outer.m_cRef);
    EXPECT_EQ(0, outer.m_nQueries);
    // The object made for a refused interface is gone again.
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
    pFactory->Release();
}

TEST(ModuleFactoryTest, AggregatedObjectDelegatesToItsOuterObject)
{
    COuterObject outer;
    IUnknown* pInner = nullptr;
    ASSERT_EQ(S_OK, CreateStoreObject(&outer, IID_IUnknown, reinterpret_cast<void**>(&pInner)));
    outer.m_pInner = pInner;
    EXPECT_EQ(1u, outer.m_cRef) << "making the inner object holds no reference on the outer one";
    EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());

    // Interfaces handed out by the inner IUnknown count on the outer object.
    IVxCalStoreData* pData = Query<IVxCalStoreData>(pInner, IID_IVxCalStoreData);
    ASSERT_NE(nullptr, pData);
    EXPECT_EQ(2u, outer.m_cRef);
    EXPECT_EQ(3u, pData->AddRef());
    EXPECT_EQ(3u, outer.m_cRef);
    EXPECT_EQ(2u, pData->Release());
    EXPECT_EQ(2u, outer.m_cRef);

    // Their QueryInterface goes to the outer object, which keeps the identity.
    IVxCalStoreConfig* pConfig = Query<IVxCalStoreConfig>(pData, IID_IVxCalStoreConfig);
    EXPECT_EQ(1, outer.m_nQueries);
    EXPECT_EQ(3u, outer.m_cRef);
    IUnknown* pIdentity = Query<IUnknown>(pConfig, IID_IUnknown);
    EXPECT_EQ(static_cast<IUnknown*>(&outer), pIdentity);
    EXPECT_EQ(2, outer.m_nQueries);
    for (IUnknown* p : std::initializer_list<IUnknown*>{pIdentity, pConfig, pData}) {
        p->Release();
    }
    EXPECT_EQ(1u, outer.m_cRef);

    // The inner object lives by its own count and goes with the inner IUnknown.
    EXPECT_EQ(0u, pInner->Release());
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
}

TEST(ModuleFactoryTest, QueryInterfaceAnswersEachInterfaceOfTheObject)
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

    // Every interface leads back to the one IUnknown.
    for (IUnknown* p : std::initializer_list<IUnknown*>{pData, pConfig, pSequence, pClassInfo}) {
        IUnknown* pIdentity = Query<IUnknown>(p, IID_IUnknown);
        EXPECT_EQ(pUnknown, pIdentity);
        pIdentity->Release();
    }
    for (const IID& iid : {IID_IClassFactory, IID_ITypeInfo, IID_IErrorInfo, IID_ICalendarKernel, IID_NULL}) {
        EXPECT_EQ(E_NOINTERFACE, Refusal([&](void** ppv) { return pConfig->QueryInterface(iid, ppv); }));
    }
    EXPECT_EQ(E_POINTER, pData->QueryInterface(IID_IUnknown, nullptr));

    // No type library off Windows.
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY,
              Refusal([&](void** ppv) { return pClassInfo->GetClassInfo(reinterpret_cast<ITypeInfo**>(ppv)); }));
    EXPECT_EQ(E_POINTER, pClassInfo->GetClassInfo(nullptr));

    for (IUnknown* p : std::initializer_list<IUnknown*>{pData, pDispatch, pConfig, pSequence, pClassInfo}) {
        p->Release();
    }
    EXPECT_EQ(0u, pUnknown->Release()) << "every interface gave its reference back";
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
}

TEST(ModuleFactoryTest, CanUnloadNowFollowsObjectsAndServerLocks)
{
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
    IUnknown* pObjects[2] = {};
    for (IUnknown*& p : pObjects) {
        ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&p)));
        EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
    }
    for (IUnknown* p : pObjects) {
        EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
        p->Release();
    }
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());

    // Locks count, and hold the module without a reference on the factory.
    IClassFactory* pFactory = GetFactory();
    ASSERT_NE(nullptr, pFactory);
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

// ---------------------------------------------------------------------------
// A whole session through the module

namespace {

class ModuleSessionTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_TRUE(m_host.Settled());
        for (CFake* pVisitor : {&m_accountVisitor, &m_eventVisitor}) {
            EXPECT_TRUE(Settled(*pVisitor));
        }
        for (const auto& pItem : m_items) {
            EXPECT_TRUE(Settled(*pItem));
        }
        EXPECT_EQ(S_OK, ModuleCanUnloadNow());
    }

    CFake& NewItem(EFakeKind eKind)
    {
        m_items.emplace_back(new CFake(eKind));
        return *m_items.back();
    }

    CFake& CalendarItem(LONG lCalID, const std::string& strSubject)
    {
        CFake& item = NewItem(EFakeKind::CalendarItem);
        item.SetLong(11, lCalID);
        item.SetLong(9, 2);
        item.SetText(17, strSubject);
        return item;
    }

    CFake& EventItem(LONG lCalID, LONG lEvtID, const std::string& strExt3)
    {
        CFake& item = NewItem(EFakeKind::EventItem);
        item.SetLong(7, lCalID);
        item.SetLong(9, lEvtID);
        item.SetLong(13, 1000 * lEvtID);
        item.SetLong(15, 1000 * lEvtID + 500);
        item.SetText(29, "event " + std::to_string(lEvtID));
        item.SetText(75, strExt3);
        return item;
    }

    std::string Sql(const std::string& strScript) { return RunSqliteShell(m_dir.Join("4711/CalData.db"), strScript); }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    CFakeHost m_host{4711};
    CFake m_accountVisitor{EFakeKind::CalendarVisitor};
    CFake m_eventVisitor{EFakeKind::EventVisitor};
    std::vector<std::unique_ptr<CFake>> m_items;
};

}  // namespace

TEST_F(ModuleSessionTest, StartWriteReadAndStopThroughTheModule)
{
    // The account hands out its calendar visitor for the start-up enumeration.
    m_host.account.Redirect(IID_ICalendarVisitor, &m_accountVisitor);

    IExtendKernalSequence* pSeq = nullptr;
    ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IExtendKernalSequence, reinterpret_cast<void**>(&pSeq)));
    auto* pData = Query<IVxCalStoreData>(pSeq, IID_IVxCalStoreData);
    auto* pConfig = Query<IVxCalStoreConfig>(pSeq, IID_IVxCalStoreConfig);

    ASSERT_EQ(S_OK, pSeq->StartSequence(m_host.Kernel()));
    EXPECT_TRUE(m_accountVisitor.Visited().empty());
    EXPECT_EQ(S_OK, pData->AddCalendar(CalendarItem(7, "Team's days").Unknown()));
    EXPECT_EQ(S_OK, pData->AddCalendar(CalendarItem(8, "Holidays").Unknown()));
    EXPECT_EQ(S_OK, pData->AddCalEvent(EventItem(7, 1, "OL-1").Unknown()));
    EXPECT_EQ(S_OK, pData->AddCalEvent(EventItem(7, 2, "").Unknown()));
    EXPECT_EQ(S_OK, pData->AddCalEvent(EventItem(8, 3, "").Unknown()));

    VARIANT_BOOL bExist = 7;
    EXPECT_EQ(S_OK, pData->IsOutlookIDExist(Bstr("OL-1").get(), &bExist));
    EXPECT_EQ(VARIANT_TRUE, bExist);
    EXPECT_EQ(S_OK, pData->GetAllCalEvent(7, m_eventVisitor.Unknown()));
    std::vector<LONG> evtIds;
    for (CFake* pItem : m_eventVisitor.Visited()) {
        evtIds.push_back(pItem->Arg(10));  // put_EvtID
    }
    EXPECT_EQ((std::vector<LONG>{1, 2}), evtIds);

    EXPECT_EQ(S_OK, pConfig->AddString(Bstr("View").get(), Bstr("Mode").get(), Bstr("week").get(), 0));
    BSTR bsValue = nullptr;
    EXPECT_EQ(S_OK, pConfig->GetString(Bstr("View").get(), Bstr("Mode").get(), &bsValue));
    EXPECT_EQ("week", Narrow(bsValue));
    SysFreeString(bsValue);

    EXPECT_EQ(S_OK, pSeq->EndStartupBatch());
    EXPECT_EQ("4711|7|2|Team's days\n4711|8|2|Holidays\n",
              Sql("select UIN, CalID, CalType, subject from Calendar order by CalID;"));
    EXPECT_EQ("7|1|1000|1500|event 1|OL-1\n7|2|2000|2500|event 2|\n8|3|3000|3500|event 3|\n",
              Sql("select CalID, EvtID, BgnTm, EndTm, subject, ext3 from Event order by EvtID;"));
    std::string strIni;
    ASSERT_TRUE(ReadFile(m_dir.Join("4711/CalendarConfig.ini"), strIni));
    EXPECT_NE(std::string::npos, strIni.find("[View]"));
    EXPECT_NE(std::string::npos, strIni.find("Mode=week"));

    EXPECT_EQ(S_OK, pSeq->StopSequence());
    pConfig->Release();
    pData->Release();
    EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
    EXPECT_EQ(0u, pSeq->Release());

    // The next session's start delivers the stored calendars to the account.
    ASSERT_EQ(S_OK, CreateStoreObject(nullptr, IID_IExtendKernalSequence, reinterpret_cast<void**>(&pSeq)));
    ASSERT_EQ(S_OK, pSeq->StartSequence(m_host.Kernel()));
    std::vector<LONG> calIds;
    for (CFake* pItem : m_accountVisitor.Visited()) {
        calIds.push_back(pItem->Arg(12));  // put_CalID
    }
    EXPECT_EQ((std::vector<LONG>{7, 8}), calIds);
    EXPECT_EQ(S_OK, pSeq->EndStartupBatch());
    EXPECT_EQ(S_OK, pSeq->StopSequence());
    EXPECT_EQ(0u, pSeq->Release());
    EXPECT_EQ("2\n3\n", Sql("select count(*) from Calendar; select count(*) from Event;"));
}

// ---------------------------------------------------------------------------
// Registration

namespace {

// Keys of the registry file, each with its values (name "@" for the default).
typedef std::map<std::string, std::map<std::string, std::string>> CRegistryText;

// Reads the .reg layout as another tool would: key lines, then name=value lines
// with quoted text (none of the texts written here needs escapes).
bool ParseRegistryText(const std::string& strText, CRegistryText& keys)
{
    std::string strKey;
    std::string strLine;
    for (size_t nStart = 0; nStart < strText.size(); nStart += strLine.size() + 1) {
        strLine = strText.substr(nStart, strText.find('\n', nStart) - nStart);
        if (strLine.empty() || strLine.compare(0, 8, "Windows ") == 0) {
            continue;
        }
        if (strLine.front() == '[' && strLine.back() == ']') {
            keys[strKey = strLine.substr(1, strLine.size() - 2)];
            continue;
        }
        const size_t nEquals = strLine[0] == '@' ? 1 : strLine.find("\"=") + 1;
        if (strKey.empty() || nEquals == 0 || nEquals + 2 >= strLine.size() || strLine[nEquals + 1] != '"' ||
            strLine.back() != '"') {
            return false;
        }
        const std::string strName = strLine[0] == '@' ? "@" : strLine.substr(1, nEquals - 2);
        keys[strKey][strName] = strLine.substr(nEquals + 2, strLine.size() - nEquals - 3);
    }
    return true;
}

class ModuleRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, Module().pfnRegisterServer);
        ::setenv("CALSTORE_REGISTRY", RegistryPath().c_str(), 1);
    }

    void TearDown() override
    {
        SetThreadLocale(m_lcidSaved);
        ::setenv("CALSTORE_REGISTRY", m_strSavedRegistry.c_str(), 1);
    }

    std::string RegistryPath() const { return m_dir.Join("registry.reg"); }

    std::string RegistryText() const
    {
        std::string strText;
        ReadFile(RegistryPath(), strText);
        return strText;
    }
    CRegistryText Registry() const
    {
        CRegistryText keys;
        EXPECT_TRUE(ParseRegistryText(RegistryText(), keys)) << RegistryText();
        return keys;
    }

    CTempDir m_dir;
    const std::string m_strSavedRegistry =
        std::getenv("CALSTORE_REGISTRY") != nullptr ? std::getenv("CALSTORE_REGISTRY") : "";
    const LCID m_lcidSaved = GetThreadLocale();
};

const char s_szClsid[] = "{32BFB315-E3F6-4440-BAF1-4389487CB5E8}";
const char s_szAppID[] = "{FB112E41-1FD9-4F87-B320-DC9CF9282194}";
const LCID s_lcidGerman = 0x0407;

}  // namespace

TEST_F(ModuleRegistrationTest, RegisterWritesExactlyTheClassEntries)
{
    SetThreadLocale(s_lcidGerman);
    ASSERT_EQ(S_OK, Module().pfnRegisterServer());
    EXPECT_EQ(s_lcidGerman, GetThreadLocale());

    const std::string strRoot = "HKEY_CLASSES_ROOT\\";
    const std::string strClassKey = strRoot + "CLSID\\" + s_szClsid;
    const std::string strFriendly = "CVxCalStoreData Object";
    char szModule[PATH_MAX];
    ASSERT_NE(nullptr, ::realpath(CALSTORE_MODULE_FILE, szModule));
    const CRegistryText expected = {
        {strRoot + "AppID", {}},
        {strRoot + "AppID\\" + s_szAppID, {{"@", "Brellin"}}},
        {strRoot + "AppID\\Brellin.DLL", {{"AppID", s_szAppID}}},
        {strRoot + "Brellin.VxCalStoreData.1", {{"@", strFriendly}}},
        {strRoot + "Brellin.VxCalStoreData.1\\CLSID", {{"@", s_szClsid}}},
        {strRoot + "Brellin.VxCalStoreData", {{"@", strFriendly}}},
        {strRoot + "Brellin.VxCalStoreData\\CLSID", {{"@", s_szClsid}}},
        {strRoot + "Brellin.VxCalStoreData\\CurVer", {{"@", "Brellin.VxCalStoreData.1"}}},
        {strRoot + "CLSID", {}},
        {strClassKey, {{"@", strFriendly}, {"AppID", s_szAppID}}},
        {strClassKey + "\\ProgID", {{"@", "Brellin.VxCalStoreData.1"}}},
        {strClassKey + "\\VersionIndependentProgID", {{"@", "Brellin.VxCalStoreData"}}},
        {strClassKey + "\\Programmable", {}},
        {strClassKey + "\\InprocServer32", {{"@", szModule}, {"ThreadingModel", "apartment"}}},
        {strClassKey + "\\TypeLib", {{"@", s_szAppID}}},
    };
    EXPECT_EQ(expected, Registry());

    for (const char* pszProgID : {"Brellin.VxCalStoreData.1", "Brellin.VxCalStoreData"}) {
        CLSID clsid{};
        EXPECT_EQ(S_OK, CLSIDFromProgID(Wide(pszProgID).c_str(), &clsid)) << pszProgID;
        EXPECT_TRUE(clsid == CLSID_VxCalStoreData) << pszProgID;
    }

    // Registering again changes nothing.
    const std::string strFirst = RegistryText();
    EXPECT_EQ(S_OK, Module().pfnRegisterServer());
    EXPECT_EQ(strFirst, RegistryText());
}

TEST_F(ModuleRegistrationTest, RegisteredClassIsCreatedByCoCreateInstance)
{
    ASSERT_EQ(S_OK, Module().pfnRegisterServer());
    IVxCalStoreData* pData = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VxCalStoreData, nullptr, CLSCTX_INPROC_SERVER, IID_IVxCalStoreData,
                                     reinterpret_cast<void**>(&pData)));
    ASSERT_NE(nullptr, pData);
    // The same module instance: its object holds our handle's lock count too.
    EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
    EXPECT_EQ(S_OK, pData->GetAllCalendarEx(Bstr("ICalendar").get(), nullptr, nullptr));
    EXPECT_EQ(E_FAIL, pData->GetAllCalendarEx(Bstr("LumoCalendar").get(), nullptr, nullptr));  // not started
    auto* pSeq = Query<IExtendKernalSequence>(pData, IID_IExtendKernalSequence);
    EXPECT_EQ(E_POINTER, pSeq->StopSequence());
    pSeq->Release();
    EXPECT_EQ(0u, pData->Release());
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());

    EXPECT_EQ(E_NOINTERFACE, Refusal([](void** ppv) {
                  return CoCreateInstance(CLSID_VxCalStoreData, nullptr, CLSCTX_INPROC_SERVER, IID_ITypeInfo, ppv);
              }));
    EXPECT_EQ(S_OK, ModuleCanUnloadNow());
}

TEST_F(ModuleRegistrationTest, UnregisterLeavesOnlyTheRootKeys)
{
    // Nothing registered and no registry file yet: no error either.
    EXPECT_EQ(S_OK, Module().pfnUnregisterServer());
    EXPECT_TRUE(Registry().empty());
    SetThreadLocale(s_lcidGerman);
    ASSERT_EQ(S_OK, Module().pfnRegisterServer());
    ASSERT_EQ(S_OK, Module().pfnUnregisterServer());
    EXPECT_EQ(s_lcidGerman, GetThreadLocale());
    const CRegistryText expected = {{"HKEY_CLASSES_ROOT\\AppID", {}}, {"HKEY_CLASSES_ROOT\\CLSID", {}}};
    EXPECT_EQ(expected, Registry());

    CLSID clsid{};
    EXPECT_TRUE(FAILED(CLSIDFromProgID(WTEXT("Brellin.VxCalStoreData"), &clsid)));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, Refusal([](void** ppv) {
                  return CoCreateInstance(CLSID_VxCalStoreData, nullptr, CLSCTX_INPROC_SERVER, IID_IVxCalStoreData,
                                          ppv);
              }));

    // Unregistering what is not registered is no error.
    EXPECT_EQ(S_OK, Module().pfnUnregisterServer());
    EXPECT_EQ(expected, Registry());
}

TEST_F(ModuleRegistrationTest, RegistrationIntoABrokenRegistryFailsAndKeepsIt)
{
    const std::string strBroken = "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID]\nnot a value\n";
    ASSERT_TRUE(WriteFile(RegistryPath(), strBroken));
    SetThreadLocale(s_lcidGerman);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BADDB), Module().pfnRegisterServer());
    EXPECT_EQ(s_lcidGerman, GetThreadLocale());
    EXPECT_EQ(strBroken, RegistryText());
}
