#include "account/UserDataDir.h"

#include <memory>

#include "host/CalendarUtil.h"

namespace {

struct CBstrFree {
    void operator()(OLECHAR* bstr) const { SysFreeString(bstr); }
};

}  // namespace

BOOL GetUserDataDir(DWORD dwUIN, WString& strPath)
{
    strPath.clear();
    BSTR bstrRoot = nullptr;
    const HRESULT hr = GetCalendarRootDir(&bstrRoot);
    const std::unique_ptr<OLECHAR, CBstrFree> root(bstrRoot);
    if (SUCCEEDED(hr) && bstrRoot != nullptr) {
        strPath.assign(bstrRoot, SysStringLen(bstrRoot));
        strPath += g_chPathSeparator;
        strPath += WStrFormatString(WTEXT("%d"), static_cast<int>(dwUIN));
        strPath += g_chPathSeparator;
    }
    return TRUE;
}
