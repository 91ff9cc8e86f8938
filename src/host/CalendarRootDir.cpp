#include "host/CalendarUtil.h"

#include <cstdlib>

#include "HostPaths.h"
#include "compat/fileio.h"

namespace host {

bool ResolveRootDir(WString& strRoot)
{
    strRoot.clear();
#ifdef _WIN32
    const wchar_t* pszRoot = _wgetenv(L"CALSTORE_ROOT");
    if (pszRoot != nullptr && *pszRoot != 0) {
        strRoot = pszRoot;
    } else if (const wchar_t* pszAppData = _wgetenv(L"LOCALAPPDATA"); pszAppData != nullptr && *pszAppData != 0) {
        strRoot = WString(pszAppData) + L"\\Brellin";
    } else {
        return false;
    }
#else
    const char* pszRoot = std::getenv("CALSTORE_ROOT");
    const char* pszDataHome = std::getenv("XDG_DATA_HOME");
    const char* pszHome = std::getenv("HOME");
    std::string strNative;
    if (pszRoot != nullptr && *pszRoot != 0) {
        strNative = pszRoot;
    } else if (pszDataHome != nullptr && pszDataHome[0] == '/') {
        // Relative values are invalid under the XDG rules and are ignored.
        strNative = std::string(pszDataHome) + "/Brellin";
    } else if (pszHome != nullptr && *pszHome != 0) {
        strNative = std::string(pszHome) + "/.local/share/Brellin";
    } else {
        return false;
    }
    if (!WStrFromUtf8(strNative.c_str(), strRoot)) {
        return false;
    }
#endif
    // The caller appends a separator itself.
    while (strRoot.size() > 1 && (strRoot.back() == g_chPathSeparator || strRoot.back() == WTEXT('/'))) {
        strRoot.pop_back();
    }
    return !strRoot.empty();
}

}  // namespace host

HRESULT GetCalendarRootDir(BSTR* pbstrRoot)
{
    if (pbstrRoot == nullptr) {
        return E_POINTER;
    }
    *pbstrRoot = nullptr;
    WString strRoot;
    if (!host::ResolveRootDir(strRoot)) {
        return E_FAIL;
    }
    compat::CreateDirectoryTree(strRoot);
    *pbstrRoot = SysAllocStringLen(strRoot.data(), static_cast<UINT>(strRoot.size()));
    return *pbstrRoot != nullptr ? S_OK : E_OUTOFMEMORY;
}
