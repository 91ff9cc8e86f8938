#include "store/RVxTimer.h"

#include <mutex>

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
    m_hWnd = CreateWindowExW(0, WindowClassName(), nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    if (m_hWnd != nullptr) {
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    // Not checked, as before: without a window no tick arrives.
    SetTimer(m_hWnd, TIMER_ID, m_dwInterval, nullptr);
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
