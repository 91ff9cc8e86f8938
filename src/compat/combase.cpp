#include "compat/unknwn.h"

#ifndef _WIN32

#include <dlfcn.h>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "compat/winreg.h"
#include "compat/wstr.h"

namespace {

thread_local LCID t_lcidThread = MAKELCID(MAKELANGID(0x09, 0x01), SORT_DEFAULT);  // en-US until set

typedef HRESULT(STDMETHODCALLTYPE* PFN_DLLGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);

// Modules stay loaded for the life of the process, as COM keeps them until told.
std::mutex s_moduleMutex;
std::map<std::string, void*> s_modules;

int HexDigit(WCHAR ch)
{
    if (ch >= WTEXT('0') && ch <= WTEXT('9')) {
        return ch - WTEXT('0');
    }
    if (ch >= WTEXT('a') && ch <= WTEXT('f')) {
        return ch - WTEXT('a') + 10;
    }
    if (ch >= WTEXT('A') && ch <= WTEXT('F')) {
        return ch - WTEXT('A') + 10;
    }
    return -1;
}

// Reads nDigits hex digits at psz into uValue; false on anything else.
bool ReadHex(const WCHAR* psz, int nDigits, uint32_t& uValue)
{
    uValue = 0;
    for (int i = 0; i < nDigits; ++i) {
        const int nDigit = HexDigit(psz[i]);
        if (nDigit < 0) {
            return false;
        }
        uValue = (uValue << 4) | static_cast<uint32_t>(nDigit);
    }
    return true;
}

// The default value of a key as text.
bool ReadDefaultValue(const WString& strKey, WString& strValue)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, strKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
        return false;
    }
    DWORD dwType = 0;
    DWORD cbData = 0;
    bool bOk = RegQueryValueExW(hKey, nullptr, nullptr, &dwType, nullptr, &cbData) == ERROR_SUCCESS &&
               (dwType == REG_SZ || dwType == REG_EXPAND_SZ) && cbData >= sizeof(WCHAR);
    if (bOk) {
        WString strData(cbData / sizeof(WCHAR), 0);
        bOk = RegQueryValueExW(hKey, nullptr, nullptr, &dwType, reinterpret_cast<BYTE*>(&strData[0]), &cbData) ==
              ERROR_SUCCESS;
        strValue.assign(strData.c_str());
    }
    RegCloseKey(hKey);
    return bOk;
}

}  // namespace

extern "C" {

LCID WINAPI GetThreadLocale(void)
{
    return t_lcidThread;
}

BOOL WINAPI SetThreadLocale(LCID Locale)
{
    t_lcidThread = Locale;
    return TRUE;
}

HRESULT WINAPI CoInitializeEx(LPVOID /*pvReserved*/, DWORD /*dwCoInit*/)
{
    return S_OK;
}

void WINAPI CoUninitialize(void) {}

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    const WString str = WStrFormatString(WTEXT("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}"),
                                         unsigned(rguid.Data1), unsigned(rguid.Data2), unsigned(rguid.Data3),
                                         unsigned(rguid.Data4[0]), unsigned(rguid.Data4[1]), unsigned(rguid.Data4[2]),
                                         unsigned(rguid.Data4[3]), unsigned(rguid.Data4[4]), unsigned(rguid.Data4[5]),
                                         unsigned(rguid.Data4[6]), unsigned(rguid.Data4[7]));
    if (lpsz == nullptr || cchMax < static_cast<int>(str.size()) + 1) {
        return 0;
    }
    WStrCopyN(lpsz, static_cast<size_t>(cchMax), str.c_str());
    return static_cast<int>(str.size()) + 1;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid)
{
    if (lpsz == nullptr || pclsid == nullptr) {
        return E_INVALIDARG;
    }
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: 38 characters exactly.
    if (WStrLen(lpsz) != 38 || lpsz[0] != WTEXT('{') || lpsz[9] != WTEXT('-') || lpsz[14] != WTEXT('-') ||
        lpsz[19] != WTEXT('-') || lpsz[24] != WTEXT('-') || lpsz[37] != WTEXT('}')) {
        return CO_E_CLASSSTRING;
    }
    CLSID clsid{};
    uint32_t u = 0;
    bool bOk = ReadHex(lpsz + 1, 8, clsid.Data1);
    bOk = bOk && ReadHex(lpsz + 10, 4, u);
    clsid.Data2 = static_cast<uint16_t>(u);
    bOk = bOk && ReadHex(lpsz + 15, 4, u);
    clsid.Data3 = static_cast<uint16_t>(u);
    const int anOffsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; bOk && i < 8; ++i) {
        bOk = ReadHex(lpsz + anOffsets[i], 2, u);
        clsid.Data4[i] = static_cast<uint8_t>(u);
    }
    if (!bOk) {
        return CO_E_CLASSSTRING;
    }
    *pclsid = clsid;
    return S_OK;
}

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid)
{
    if (lpszProgID == nullptr || lpclsid == nullptr || *lpszProgID == 0) {
        return E_INVALIDARG;
    }
    WString strClsid;
    if (!ReadDefaultValue(WString(lpszProgID) + WTEXT("\\CLSID"), strClsid)) {
        return CO_E_CLASSSTRING;
    }
    return CLSIDFromString(strClsid.c_str(), lpclsid) == S_OK ? S_OK : CO_E_CLASSSTRING;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) {
        return REGDB_E_CLASSNOTREG;
    }
    WCHAR szClsid[40];
    StringFromGUID2(rclsid, szClsid, 40);
    WString strModule;
    if (!ReadDefaultValue(WString(WTEXT("CLSID\\")) + szClsid + WTEXT("\\InprocServer32"), strModule)) {
        return REGDB_E_CLASSNOTREG;
    }
    std::string strPath;
    if (!WStrToUtf8(strModule.c_str(), strPath)) {
        return CO_E_DLLNOTFOUND;
    }
    void* hModule = nullptr;
    {
        std::lock_guard<std::mutex> lock(s_moduleMutex);
        void*& hCached = s_modules[strPath];
        if (hCached == nullptr) {
            hCached = ::dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        hModule = hCached;
    }
    if (hModule == nullptr) {
        return CO_E_DLLNOTFOUND;
    }
    auto pfnGetClassObject = reinterpret_cast<PFN_DLLGETCLASSOBJECT>(::dlsym(hModule, "DllGetClassObject"));
    if (pfnGetClassObject == nullptr) {
        return CO_E_ERRORINDLL;
    }
    IClassFactory* pFactory = nullptr;
    HRESULT hr = pfnGetClassObject(rclsid, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr)) {
        return hr;
    }
    hr = pFactory->CreateInstance(pUnkOuter, riid, ppv);
    pFactory->Release();
    return hr;
}

}  // extern "C"

#endif  // _WIN32
