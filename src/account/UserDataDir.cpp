#include "account/UserDataDir.h"

#include "host/CalendarUtil.h"

BOOL GetUserDataDir(DWORD dwUIN, WString& strPath)
{
    strPath.clear();
    BSTR bstrRoot = nullptr;
    if (SUCCEEDED(GetCalendarRootDir(&bstrRoot)) && bstrRoot != nullptr) {
        strPath.assign(bstrRoot, SysStringLen(bstrRoot));
        strPath += g_chPathSeparator;
        strPath += WStrFormatString(WTEXT("%d"), static_cast<int>(dwUIN));
        strPath += g_chPathSeparator;
    }
    SysFreeString(bstrRoot);
    return TRUE;
}
