#include "host/CalendarUtil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "HostPaths.h"
#include "compat/fileio.h"

namespace {

// The log file stays open between lines: the store logs on every event it saves.
struct CLoggerState {
    std::mutex mutex;
    PFN_CALENDAR_LOG_HOOK pfnHook = nullptr;
    void* pHookContext = nullptr;
    FILE* pFile = nullptr;
    WString strFilePath;

    ~CLoggerState()
    {
        if (pFile != nullptr) {
            std::fclose(pFile);
        }
    }
};

CLoggerState& State()
{
    static CLoggerState s_state;
    return s_state;
}

enum class ELogTarget { File, Stderr, Off };

ELogTarget ConfiguredTarget()
{
    const char* pszTarget = std::getenv("CALSTORE_LOG");
    if (pszTarget == nullptr) {
        return ELogTarget::File;
    }
    if (std::strcmp(pszTarget, "stderr") == 0) {
        return ELogTarget::Stderr;
    }
    return std::strcmp(pszTarget, "off") == 0 ? ELogTarget::Off : ELogTarget::File;
}

FILE* OpenForAppend(const WString& strPath)
{
#ifdef _WIN32
    return _wfopen(strPath.c_str(), L"ab");
#else
    std::string strNative;
    return WStrToUtf8(strPath.c_str(), strNative) ? std::fopen(strNative.c_str(), "ab") : nullptr;
#endif
}

// The log file of the current root directory, reopened when the root changes.
FILE* LogFile(CLoggerState& state)
{
    WString strRoot;
    if (!host::ResolveRootDir(strRoot)) {
        return nullptr;
    }
    const WString strPath = strRoot + g_chPathSeparator + WTEXT("Calendar.log");
    if (state.pFile != nullptr && state.strFilePath == strPath) {
        return state.pFile;
    }
    if (state.pFile != nullptr) {
        std::fclose(state.pFile);
        state.pFile = nullptr;
    }
    compat::CreateDirectoryTree(strRoot);
    state.pFile = OpenForAppend(strPath);
    state.strFilePath = strPath;
    return state.pFile;
}

}  // namespace

void CCalendarLogger::Calendar_Log(ENUM_LOG_SERVERITY eSeverity, LPCWSTR pszModule, LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    WString strText = WStrFormatStringV(pszFormat, args);
    va_end(args);
    while (!strText.empty() && (strText.back() == WTEXT('\n') || strText.back() == WTEXT('\r'))) {
        strText.pop_back();
    }

    const LPCWSTR pszModuleName = pszModule != nullptr ? pszModule : WTEXT("");
    CLoggerState& state = State();
    PFN_CALENDAR_LOG_HOOK pfnHook = nullptr;
    void* pHookContext = nullptr;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        pfnHook = state.pfnHook;
        pHookContext = state.pHookContext;
    }
    // Outside the lock, so that a hook may log in turn.
    if (pfnHook != nullptr) {
        pfnHook(pHookContext, eSeverity, pszModuleName, strText.c_str());
        return;
    }
    const ELogTarget eTarget = ConfiguredTarget();
    if (eTarget == ELogTarget::Off) {
        return;
    }
    std::lock_guard<std::mutex> lock(state.mutex);
    FILE* pOut = eTarget == ELogTarget::Stderr ? stderr : LogFile(state);
    if (pOut == nullptr) {
        return;  // a log line never changes what the caller does
    }
    SYSTEMTIME st{};
    GetLocalTime(&st);
    const WString strLine = WStrFormatString(
        WTEXT("%04u-%02u-%02u %02u:%02u:%02u.%03u %u %s: %s\n"), unsigned(st.wYear), unsigned(st.wMonth),
        unsigned(st.wDay), unsigned(st.wHour), unsigned(st.wMinute), unsigned(st.wSecond), unsigned(st.wMilliseconds),
        unsigned(eSeverity), pszModuleName, strText.c_str());
    std::string strNarrow;
    if (!WStrToUtf8(strLine.c_str(), strNarrow)) {
        // A lone surrogate in a log text must not lose the line.
        const int cb = WideCharToMultiByte(CP_UTF8, 0, strLine.c_str(), static_cast<int>(strLine.size()), nullptr, 0,
                                           nullptr, nullptr);
        strNarrow.resize(cb > 0 ? static_cast<size_t>(cb) : 0);
        if (cb > 0) {
            WideCharToMultiByte(CP_UTF8, 0, strLine.c_str(), static_cast<int>(strLine.size()), &strNarrow[0], cb,
                                nullptr, nullptr);
        }
    }
    std::fwrite(strNarrow.data(), 1, strNarrow.size(), pOut);
    std::fflush(pOut);
}

void CCalendarLogger::SetLogHook(PFN_CALENDAR_LOG_HOOK pfnHook, void* pContext)
{
    CLoggerState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.pfnHook = pfnHook;
    state.pHookContext = pContext;
}
