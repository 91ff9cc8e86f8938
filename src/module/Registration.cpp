// Self-registration: the AppID, the class with its ProgIDs, and the type library,
// under HKEY_CLASSES_ROOT; unregistration removes them in the opposite order.
#include <vector>

#include "brellin/VxCalStore.h"
#include "module/BrellinModule.h"
#include "store/TypeInfo.h"

namespace {

const WCHAR s_szAppName[] = WTEXT("Brellin");
const WCHAR s_szModuleFileName[] = WTEXT("Brellin.DLL");
const WCHAR s_szFriendlyName[] = WTEXT("CVxCalStoreData Object");
const WCHAR s_szProgID[] = WTEXT("Brellin.VxCalStoreData.1");
const WCHAR s_szVersionIndependentProgID[] = WTEXT("Brellin.VxCalStoreData");
const WCHAR s_szThreadingModel[] = WTEXT("apartment");
const WCHAR s_szModuleType[] = WTEXT("InprocServer32");

WString GuidText(REFGUID guid)
{
    WCHAR sz[40] = {};
    StringFromGUID2(guid, sz, 40);
    return WString(sz);
}

// One registry write: a key, and a value in it (the key's default value when the
// name is null; no value at all when the data is null).
struct CRegEntry {
    WString strKey;
    const WCHAR* pszValueName;
    WString strData;
    bool bHasData;
};

CRegEntry Key(const WString& strKey)
{
    return CRegEntry{strKey, nullptr, WString(), false};
}
CRegEntry Value(const WString& strKey, const WCHAR* pszName, const WString& strData)
{
    return CRegEntry{strKey, pszName, strData, true};
}

HRESULT ResultOf(LONG lError)
{
    return lError == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(lError);
}

HRESULT WriteEntries(const std::vector<CRegEntry>& entries)
{
    for (const CRegEntry& entry : entries) {
        HKEY hKey = nullptr;
        LONG lError = RegCreateKeyExW(HKEY_CLASSES_ROOT, entry.strKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_WRITE, nullptr, &hKey, nullptr);
        if (lError == ERROR_SUCCESS && entry.bHasData) {
            const DWORD cbData = static_cast<DWORD>((entry.strData.size() + 1) * sizeof(WCHAR));
            lError = RegSetValueExW(hKey, entry.pszValueName, 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(entry.strData.c_str()), cbData);
        }
        if (hKey != nullptr) {
            RegCloseKey(hKey);
        }
        if (lError != ERROR_SUCCESS) {
            return ResultOf(lError);
        }
    }
    return S_OK;
}

// Removes whole key trees; a key that is already gone is no error.
HRESULT RemoveTrees(const std::vector<WString>& keys)
{
    for (const WString& strKey : keys) {
        const LONG lError = RegDeleteTreeW(HKEY_CLASSES_ROOT, strKey.c_str());
        if (lError != ERROR_SUCCESS && lError != ERROR_FILE_NOT_FOUND) {
            return ResultOf(lError);
        }
    }
    return S_OK;
}

std::vector<CRegEntry> AppIDEntries()
{
    const WString strAppID = GuidText(LIBID_Brellin);  // the AppID is the LIBID
    return {
        Value(WTEXT("AppID\\") + strAppID, nullptr, s_szAppName),
        Value(WString(WTEXT("AppID\\")) + s_szModuleFileName, WTEXT("AppID"), strAppID),
    };
}

std::vector<WString> AppIDKeys()
{
    return {WTEXT("AppID\\") + GuidText(LIBID_Brellin), WString(WTEXT("AppID\\")) + s_szModuleFileName};
}

std::vector<CRegEntry> ClassEntries(const WString& strModulePath)
{
    const WString strClsid = GuidText(CLSID_VxCalStoreData);
    const WString strClassKey = WTEXT("CLSID\\") + strClsid;
    const WString strProgID = s_szProgID;
    const WString strIndependent = s_szVersionIndependentProgID;
    return {
        Value(strProgID, nullptr, s_szFriendlyName),
        Value(strProgID + WTEXT("\\CLSID"), nullptr, strClsid),
        Value(strIndependent, nullptr, s_szFriendlyName),
        Value(strIndependent + WTEXT("\\CLSID"), nullptr, strClsid),
        Value(strIndependent + WTEXT("\\CurVer"), nullptr, strProgID),
        Value(strClassKey, nullptr, s_szFriendlyName),
        Value(strClassKey, WTEXT("AppID"), GuidText(LIBID_Brellin)),
        Value(strClassKey + WTEXT("\\ProgID"), nullptr, strProgID),
        Value(strClassKey + WTEXT("\\VersionIndependentProgID"), nullptr, strIndependent),
        Key(strClassKey + WTEXT("\\Programmable")),
        Value(strClassKey + WTEXT("\\") + s_szModuleType, nullptr, strModulePath),
        Value(strClassKey + WTEXT("\\") + s_szModuleType, WTEXT("ThreadingModel"), s_szThreadingModel),
        Value(strClassKey + WTEXT("\\TypeLib"), nullptr, GuidText(LIBID_Brellin)),
    };
}

std::vector<WString> ClassKeys()
{
    return {s_szProgID, s_szVersionIndependentProgID, WTEXT("CLSID\\") + GuidText(CLSID_VxCalStoreData)};
}

// The type library lives in the module's resources, which exist only in the
// Windows build.
HRESULT RegisterTypeLibrary(const WString& strModulePath)
{
#ifdef _WIN32
    ITypeLib* pTypeLib = nullptr;
    WString strPath = strModulePath;  // the call takes a writable string
    HRESULT hr = LoadTypeLib(strPath.c_str(), &pTypeLib);
    if (SUCCEEDED(hr)) {
        hr = RegisterTypeLib(pTypeLib, &strPath[0], nullptr);
        pTypeLib->Release();
    }
    return hr;
#else
    (void)strModulePath;
    return S_OK;
#endif
}

HRESULT UnregisterTypeLibrary()
{
#ifdef _WIN32
    // A library that is not registered (any more) is no error; one that is must go.
    BSTR bsPath = nullptr;
    if (FAILED(QueryPathOfRegTypeLib(LIBID_Brellin, 1, 0, g_lcidStoreTypeLib, &bsPath))) {
        return S_OK;
    }
    SysFreeString(bsPath);
    return UnRegisterTypeLib(LIBID_Brellin, 1, 0, g_lcidStoreTypeLib, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
#else
    return S_OK;
#endif
}

// Runs the steps in the neutral locale and puts the thread's locale back after.
class CNeutralLocale {
public:
    CNeutralLocale() : m_lcidSaved(GetThreadLocale())
    {
        SetThreadLocale(MAKELCID(MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), SORT_DEFAULT));
    }
    ~CNeutralLocale() { SetThreadLocale(m_lcidSaved); }
    CNeutralLocale(const CNeutralLocale&) = delete;
    CNeutralLocale& operator=(const CNeutralLocale&) = delete;

private:
    LCID m_lcidSaved;
};

}  // namespace

HRESULT CBrellinModule::RegisterServer()
{
    const CNeutralLocale locale;
    const WString strModulePath = ModulePath();
    if (strModulePath.empty()) {
        return E_FAIL;
    }
    HRESULT hr = WriteEntries(AppIDEntries());
    if (SUCCEEDED(hr)) {
        hr = WriteEntries(ClassEntries(strModulePath));
    }
    if (SUCCEEDED(hr)) {
        hr = RegisterTypeLibrary(strModulePath);
    }
    return hr;
}

HRESULT CBrellinModule::UnregisterServer()
{
    const CNeutralLocale locale;
    HRESULT hr = RemoveTrees(ClassKeys());
    if (SUCCEEDED(hr)) {
        hr = UnregisterTypeLibrary();
    }
    if (SUCCEEDED(hr)) {
        hr = RemoveTrees(AppIDKeys());
    }
    return hr;
}
