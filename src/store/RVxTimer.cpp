#include "store/RVxTimer.h"

#include <mutex>

#include "host/CalendarUtil.h"
#include "media/VxCalStoreMedia.h"

namespace {

// The window class is registered once per process.
WString s_strClassName;
std::once_flag s_classOnce;

}  // namespace

LPCWSTR CRVxTimer::WindowClassName()
{
    std::call_once(s_classOnce, []() {
        s_strClassName = WStrFormatString(WTEXT("ATL:%p"), static_cast<void*>(&s_strClassName));
        WNDCLASSW wc{};
        wc.lpfnWndProc = &CRVxTimer::WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = s_strClassName.c_str();
        RegisterClassW(&wc);
    });
    return s_strClassName.c_str();
}

CRVxTimer::CRVxTimer() : m_hWnd(nullptr), m_dwInterval(DEFAULT_INTERVAL_MS)
{
    // A message-only window: it needs no desktop (a service or a headless session
    // has none), is never shown and gets nothing but what is sent or posted to it.
    m_hWnd = CreateWindowExW(0, WindowClassName(), nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    if (m_hWnd == nullptr) {
        // Without a window there is no timer at all: a thread timer would tick on
        // into the host's loop after the store is gone. Batch mode then ends only
        // through EndStartupBatch or the store's end.
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule,
                                      WTEXT("CRVxTimer: no timer window (error %lu), start-up batch waits for its end"),
                                      static_cast<unsigned long>(GetLastError()));
        return;
    }
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (SetTimer(m_hWnd, TIMER_ID, m_dwInterval, nullptr) == 0) {
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule,
                                      WTEXT("CRVxTimer: timer not set (error %lu)"),
                                      static_cast<unsigned long>(GetLastError()));
    }
}

CRVxTimer::~CRVxTimer()
{
    if (m_hWnd != nullptr) {
        // Detach first: nothing may reach this object while it is going away.
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        if (IsWindow(m_hWnd)) {
            DestroyWindow(m_hWnd);
        }
        m_hWnd = nullptr;
    }
}

BOOL CRVxTimer::ProcessWindowMessage(HWND /*hWnd*/, UINT uMsg, WPARAM wParam, LPARAM /*lParam*/, LRESULT& lResult,
                                     DWORD /*dwMsgMapID*/)
{
    lResult = 0;
    if (uMsg != WM_TIMER) {
        return FALSE;
    }
    if (wParam == TIMER_ID) {
        m_evtTick.Fire();
    }
    return TRUE;
}

WNDPROC CRVxTimer::GetWindowProc()
{
    return &CRVxTimer::WindowProc;
}

void CRVxTimer::OnFinalMessage(HWND /*hWnd*/) {}

LRESULT CALLBACK CRVxTimer::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pTimer = reinterpret_cast<CRVxTimer*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pTimer != nullptr) {
        LRESULT lResult = 0;
        if (pTimer->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, 0)) {
            return lResult;
        }
        if (uMsg == WM_NCDESTROY) {
            pTimer->OnFinalMessage(hWnd);
        }
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}
