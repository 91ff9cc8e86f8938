// The host application's utility library: its logger and its root data directory.
//
// The component imports exactly these two calls. This build ships a stand-in of
// the library (src/host) so that the component can run outside the application.
#pragma once

#include "compat/win32.h"

#ifdef _WIN32
#define CALHOST_API
#else
#define CALHOST_API __attribute__((visibility("default")))
#endif

enum ENUM_LOG_SERVERITY {
    EN_LOG_SERVERITY_ERROR = 1,
    EN_LOG_SERVERITY_WARNING = 16,
    EN_LOG_SERVERITY_INFO = 256,
    EN_LOG_SERVERITY_DEBUG = 4096,
};

// Receives each finished log line instead of the log file; pszText is the formatted
// text without its trailing line end.
typedef void (*PFN_CALENDAR_LOG_HOOK)(void* pContext, ENUM_LOG_SERVERITY eSeverity, LPCWSTR pszModule, LPCWSTR pszText);

class CALHOST_API CCalendarLogger {
public:
    // Formats one line printf-style (see WStrFormat) and writes it with a time stamp
    // to "Calendar.log" in the root directory, or to stderr when the environment
    // variable CALSTORE_LOG is "stderr"; "off" writes nothing.
    static void Calendar_Log(ENUM_LOG_SERVERITY eSeverity, LPCWSTR pszModule, LPCWSTR pszFormat, ...);

    // Sends every following line to pfnHook instead; null restores normal output.
    static void SetLogHook(PFN_CALENDAR_LOG_HOOK pfnHook, void* pContext);
};

// The root directory for all accounts' data, without a trailing separator: the
// directory named by CALSTORE_ROOT, else the per-user data directory
// ($XDG_DATA_HOME/Brellin or ~/.local/share/Brellin; %LOCALAPPDATA%\Brellin on
// Windows). The directory is created when missing. On success *pbstrRoot receives
// a BSTR that the caller frees; on failure the result is negative and there is
// nothing to free.
CALHOST_API HRESULT GetCalendarRootDir(BSTR* pbstrRoot);
