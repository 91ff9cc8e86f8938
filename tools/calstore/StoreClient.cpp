#include "StoreClient.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "Output.h"
#include "host/CalendarUtil.h"

namespace {

const WCHAR s_szProgID[] = WTEXT("Brellin.VxCalStoreData");

typedef HRESULT(STDMETHODCALLTYPE* PFN_REGISTER)();

// The module file: CALSTORE_MODULE, else libBrellin.so beside this program.
std::string ModulePath()
{
    if (const char* pszModule = std::getenv("CALSTORE_MODULE"); pszModule != nullptr && *pszModule != 0) {
        return pszModule;
    }
    char szExe[PATH_MAX] = {};
    const ssize_t cch = ::readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    std::string strDir = cch > 0 ? std::string(szExe, static_cast<size_t>(cch)) : std::string("./calstore");
    strDir.erase(strDir.rfind('/') + 1);
    return strDir + "libBrellin.so";
}

bool FileExists(const std::string& strPath)
{
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0;
}

// The module file the registry names for our class, if any.
std::string RegisteredModule()
{
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(s_szProgID, &clsid))) {
        return std::string();
    }
    WCHAR szClsid[40];
    StringFromGUID2(clsid, szClsid, 40);
    HKEY hKey = nullptr;
    const WString strKey = WString(WTEXT("CLSID\\")) + szClsid + WTEXT("\\InprocServer32");
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, strKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
        return std::string();
    }
    WCHAR szPath[4096] = {};
    DWORD cbPath = sizeof(szPath) - sizeof(WCHAR);
    DWORD dwType = 0;
    const LONG lError = RegQueryValueExW(hKey, nullptr, nullptr, &dwType, reinterpret_cast<BYTE*>(szPath), &cbPath);
    RegCloseKey(hKey);
    std::string strPath;
    if (lError == ERROR_SUCCESS && dwType == REG_SZ) {
        WStrToUtf8(szPath, strPath);
    }
    return strPath;
}

// The backups beside the database: "<14 digits>CalData.db".
std::vector<std::string> Backups(const std::string& strDir)
{
    std::vector<std::string> names;
    DIR* pDir = ::opendir(strDir.c_str());
    if (pDir == nullptr) {
        return names;
    }
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string strName = pEntry->d_name;
        if (strName.size() == 24 && strName.compare(14, 10, "CalData.db") == 0 &&
            strName.find_first_not_of("0123456789") == 14) {
            names.push_back(strName);
        }
    }
    ::closedir(pDir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

HRESULT RegisterModule(bool bRegister, std::string& strModulePath)
{
    strModulePath = ModulePath();
    void* hModule = ::dlopen(strModulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (hModule == nullptr) {
        return CO_E_DLLNOTFOUND;
    }
    auto pfn =
        reinterpret_cast<PFN_REGISTER>(::dlsym(hModule, bRegister ? "DllRegisterServer" : "DllUnregisterServer"));
    const HRESULT hr = pfn != nullptr ? pfn() : CO_E_ERRORINDLL;
    ::dlclose(hModule);
    return hr;
}

std::string TakeErrorReason()
{
    IErrorInfo* pInfo = nullptr;
    if (GetErrorInfo(0, &pInfo) != S_OK || pInfo == nullptr) {
        return std::string();
    }
    BSTR bsDescription = nullptr;
    std::string strReason;
    if (SUCCEEDED(pInfo->GetDescription(&bsDescription)) && bsDescription != nullptr) {
        strReason = Utf8(WString(bsDescription, SysStringLen(bsDescription)));
    }
    SysFreeString(bsDescription);
    pInfo->Release();
    return strReason;
}

std::string AccountDirectory(ULONG dwAccount)
{
    BSTR bstrRoot = nullptr;
    std::string strRoot;
    if (SUCCEEDED(GetCalendarRootDir(&bstrRoot))) {
        strRoot = Utf8(WString(bstrRoot, SysStringLen(bstrRoot)));
    }
    SysFreeString(bstrRoot);
    return strRoot + "/" + std::to_string(static_cast<int32_t>(dwAccount)) + "/";
}

void CStoreSession::Check(HRESULT hr, const std::string& strWhat)
{
    if (FAILED(hr)) {
        throw CStoreError{strWhat, hr, TakeErrorReason()};
    }
}

CStoreSession::CStoreSession(ULONG dwAccount, bool bClearOnStop, bool bWrites)
    : m_pKernel(new CCalendarKernel(dwAccount, 0)), m_bWrites(bWrites), m_strDir(AccountDirectory(dwAccount))
{
    m_pKernel->AddRef();
    m_pKernel->Account()->Settings()->SetValue("cStoreMode", bClearOnStop ? 1 : 0);
}

CStoreSession::~CStoreSession()
{
    if (m_pSequence != nullptr) {
        m_pSequence->Release();
    }
    if (m_pConfig != nullptr) {
        m_pConfig->Release();
    }
    if (m_pData != nullptr) {
        m_pData->Release();
    }
    m_pKernel->Release();
}

void CStoreSession::Start()
{
    if (m_bStarted) {
        return;
    }
    // A class that is not registered, or registered to a module that is gone, is
    // registered from the module beside this program.
    const std::string strRegistered = RegisteredModule();
    if (strRegistered.empty() || !FileExists(strRegistered)) {
        std::string strModule;
        Check(RegisterModule(true, strModule), "registering " + strModule);
    }
    CLSID clsid{};
    Check(CLSIDFromProgID(s_szProgID, &clsid), "looking up Brellin.VxCalStoreData in the registry");
    Check(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IVxCalStoreData, reinterpret_cast<void**>(&m_pData)),
        "creating the calendar store");
    Check(m_pData->QueryInterface(IID_IVxCalStoreConfig, reinterpret_cast<void**>(&m_pConfig)),
          "asking the store for its settings");
    Check(m_pData->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&m_pSequence)),
          "asking the store for its start sequence");
    // A backup that appears while the store starts is one it made of a damaged or
    // old file: seen here, whatever the component's log says.
    const std::vector<std::string> before = Backups(m_strDir);
    SetErrorInfo(0, nullptr);
    const HRESULT hrStart = m_pSequence->StartSequence(m_pKernel);
    const std::string strStartReason = TakeErrorReason();
    for (const std::string& strName : Backups(m_strDir)) {
        if (!std::binary_search(before.begin(), before.end(), strName)) {
            m_newBackups.push_back(m_strDir + strName);
        }
    }
    m_bStarted = true;
    if (FAILED(hrStart)) {
        throw CStoreError{"starting the store", hrStart, strStartReason};
    }
    // The start-up batch may not have begun (another program held the write lock
    // too long); asking for it again says whether it is in force.
    if (m_bWrites) {
        SetErrorInfo(0, nullptr);
        const HRESULT hr = m_pData->SetBatchMode(TRUE);
        if (FAILED(hr)) {
            const std::string strReason = TakeErrorReason();
            throw CStoreError{
                "beginning the store's batch", hr,
                strReason.empty() ? "the database is busy: another program holds its write lock" : strReason};
        }
    }
}

IVxCalStoreData* CStoreSession::Data()
{
    Start();
    return m_pData;
}

IVxCalStoreConfig* CStoreSession::Config()
{
    Start();
    return m_pConfig;
}

void CStoreSession::Finish()
{
    if (!m_bStarted) {
        return;
    }
    m_bStarted = false;
    // Ending batch mode commits; its result tells whether the changes are stored.
    SetErrorInfo(0, nullptr);
    Check(m_pData->SetBatchMode(0), "committing the changes");
    Check(m_pSequence->EndStartupBatch(), "ending the start-up batch");
    Check(m_pSequence->StopSequence(), "stopping the store");
}

void CStoreSession::AbandonAndExit(int nExitCode)
{
    std::fflush(stdout);
    std::fflush(stderr);
    // No destructor runs, so the store never commits: SQLite rolls the open
    // transaction back the next time the database is opened.
    std::_Exit(nExitCode);
}

// ---------------------------------------------------------------------------
// Typed calls

std::vector<CCalendarData> ListCalendars(CStoreSession& session)
{
    CHeld<CCalendarCollector> collector(new CCalendarCollector());
    SetErrorInfo(0, nullptr);
    CStoreSession::Check(session.Data()->GetAllCalendar(static_cast<ICalendarVisitor*>(collector.Get())),
                         "listing the calendars");
    std::vector<CCalendarData> calendars = collector->items;
    std::sort(calendars.begin(), calendars.end(),
              [](const CCalendarData& a, const CCalendarData& b) { return ULONG(a.lCalID) < ULONG(b.lCalID); });
    return calendars;
}

bool CalendarExists(CStoreSession& session, ULONG dwCalID)
{
    const std::vector<CCalendarData> calendars = ListCalendars(session);
    return std::any_of(calendars.begin(), calendars.end(),
                       [&](const CCalendarData& cal) { return ULONG(cal.lCalID) == dwCalID; });
}

namespace {

void SortByTime(std::vector<CEventData>& events)
{
    std::stable_sort(events.begin(), events.end(), [](const CEventData& a, const CEventData& b) {
        return a.lBgnTm != b.lBgnTm ? a.lBgnTm < b.lBgnTm : ULONG(a.lEvtID) < ULONG(b.lEvtID);
    });
}

}  // namespace

std::vector<CEventData> ListEvents(CStoreSession& session, ULONG dwCalID)
{
    CHeld<CEventCollector> collector(new CEventCollector());
    SetErrorInfo(0, nullptr);
    CStoreSession::Check(session.Data()->GetAllCalEvent(dwCalID, static_cast<IEventVisitor*>(collector.Get())),
                         "listing the events of calendar " + std::to_string(dwCalID));
    std::vector<CEventData> events = collector->items;
    SortByTime(events);
    return events;
}

std::vector<CEventData> EventsBetween(CStoreSession& session, int64_t llBegin, int64_t llEnd,
                                      const std::vector<ULONG>& calendars)
{
    std::vector<CEventData> events;
    for (const ULONG dwCalID : calendars) {
        CHeld<CEventCollector> collector(new CEventCollector());
        SetErrorInfo(0, nullptr);
        CStoreSession::Check(session.Data()->GetPeriodEventEx(ULONG(LONG(llBegin)), ULONG(LONG(llEnd)), dwCalID,
                                                              static_cast<IEventVisitor*>(collector.Get())),
                             "querying the period");
        events.insert(events.end(), collector->items.begin(), collector->items.end());
    }
    SortByTime(events);
    return events;
}

bool FindEvent(CStoreSession& session, ULONG dwCalID, ULONG dwEvtID, CEventData& found)
{
    CHeld<CEventFinder> finder(new CEventFinder(dwEvtID));
    SetErrorInfo(0, nullptr);
    CStoreSession::Check(session.Data()->GetAllCalEvent(dwCalID, static_cast<IEventVisitor*>(finder.Get())),
                         "listing the events of calendar " + std::to_string(dwCalID));
    if (finder->bFound) {
        found = finder->found;
    }
    return finder->bFound;
}

void AddCalendar(CStoreSession& session, ULONG dwCalID, const WString& strSubject, const WString& strDetail)
{
    CHeld<CCalendarItem> item(new CCalendarItem());
    item->data.lCalID = LONG(dwCalID);
    item->data.lTmStamp = LONG(std::time(nullptr));
    item->data.strSubject = strSubject;
    item->data.strDetail = strDetail;
    SetErrorInfo(0, nullptr);
    CStoreSession::Check(session.Data()->AddCalendar(static_cast<ICalendarItem*>(item.Get())),
                         "adding calendar " + std::to_string(dwCalID));
}

void SaveEvent(CStoreSession& session, const CEventData& data, bool bUpdate, const std::string& strWhat)
{
    CHeld<CEventItem> item(new CEventItem());
    item->data = data;
    IEventItem* pItem = item.Get();
    SetErrorInfo(0, nullptr);
    CStoreSession::Check(bUpdate ? session.Data()->UpdateCalEvent(pItem) : session.Data()->AddCalEvent(pItem), strWhat);
}

bool ExternalIdExists(CStoreSession& session, const WString& strID)
{
    CBstrHolder bsID(strID);
    VARIANT_BOOL bExists = VARIANT_FALSE;
    SetErrorInfo(0, nullptr);
    CStoreSession::Check(session.Data()->IsOutlookIDExist(bsID.Get(), &bExists), "looking up the external id");
    return bExists != VARIANT_FALSE;
}
