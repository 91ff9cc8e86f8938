#include "StoreSession.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#include <cstdio>
#include <cstdlib>

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

void CStoreSession::Check(HRESULT hr, const std::string& strWhat)
{
    if (FAILED(hr)) {
        throw CStoreError{strWhat, hr};
    }
}

CStoreSession::CStoreSession(ULONG dwAccount, bool bClearOnStop) : m_pKernel(new CCalendarKernel(dwAccount, 0))
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
    Check(m_pSequence->StartSequence(m_pKernel), "starting the store");
    m_bStarted = true;
}

void CStoreSession::Finish()
{
    if (!m_bStarted) {
        return;
    }
    m_bStarted = false;
    // Ending batch mode commits; its result tells whether the changes are stored.
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
