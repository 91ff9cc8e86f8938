#include "compat/winuser.h"

#ifndef _WIN32

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "compat/wstr.h"

namespace {

using Clock = std::chrono::steady_clock;

struct CWindowClass {
    WNDPROC pfnWndProc;
    HINSTANCE hInstance;
    ATOM atom;
};

struct CWindow {
    DWORD dwThreadId;
    WNDPROC pfnWndProc;
    LONG_PTR lUserData;
    bool bDestroying;
};

struct CTimer {
    HWND hWnd;
    UINT_PTR uID;
    UINT uElapse;
    TIMERPROC pfnTimer;
    Clock::time_point due;
};

// The message queue of one thread: posted messages, the quit request, and the
// thread's timers.
struct CThreadQueue {
    std::deque<MSG> posted;
    std::vector<CTimer> timers;
    bool bQuit = false;
    int nExitCode = 0;
    std::condition_variable wake;
};

// One lock guards every table; window procedures and timer callbacks always run
// with it released.
struct CWindowing {
    std::mutex mutex;
    std::map<WString, CWindowClass> classes;  // keyed by the name in lower case
    std::map<HWND, CWindow> windows;
    std::map<DWORD, std::shared_ptr<CThreadQueue>> queues;
    uintptr_t uNextWindow = 0x10000;
    ATOM nextAtom = 0xC000;
    UINT_PTR uNextThreadTimer = 1;
};

CWindowing& Windowing()
{
    static CWindowing* s_pWindowing = new CWindowing();  // lives as long as any thread may use it
    return *s_pWindowing;
}

std::atomic<DWORD> s_nextThreadId{1};

// A thread's identifier; its queue goes away when the thread ends.
struct CThreadIdentity {
    DWORD dwThreadId = s_nextThreadId.fetch_add(1);
    ~CThreadIdentity()
    {
        CWindowing& w = Windowing();
        std::lock_guard<std::mutex> lock(w.mutex);
        w.queues.erase(dwThreadId);
    }
};
thread_local CThreadIdentity t_identity;

// Class names compare without regard to case, as on Windows (ASCII letters).
WString ClassKey(LPCWSTR pszName)
{
    WString str(pszName != nullptr ? pszName : WTEXT(""));
    for (WCHAR& ch : str) {
        if (ch >= WTEXT('A') && ch <= WTEXT('Z')) {
            ch = static_cast<WCHAR>(ch - WTEXT('A') + WTEXT('a'));
        }
    }
    return str;
}

bool IsAtom(LPCWSTR pszName)
{
    return reinterpret_cast<ULONG_PTR>(pszName) < 0x10000;
}

CWindowClass* FindClass(CWindowing& w, LPCWSTR pszName)
{
    if (pszName == nullptr) {
        return nullptr;
    }
    if (IsAtom(pszName)) {
        const ATOM atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(pszName));
        for (auto& entry : w.classes) {
            if (entry.second.atom == atom) {
                return &entry.second;
            }
        }
        return nullptr;
    }
    const auto it = w.classes.find(ClassKey(pszName));
    return it != w.classes.end() ? &it->second : nullptr;
}

// The window of the handle, or null with ERROR_INVALID_WINDOW_HANDLE set. The
// caller holds the windowing lock.
CWindow* WindowOf(CWindowing& w, HWND hWnd)
{
    const auto it = w.windows.find(hWnd);
    if (it == w.windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return &it->second;
}

CThreadQueue& QueueOf(CWindowing& w, DWORD dwThreadId)
{
    std::shared_ptr<CThreadQueue>& pQueue = w.queues[dwThreadId];
    if (!pQueue) {
        pQueue = std::make_shared<CThreadQueue>();
    }
    return *pQueue;
}

bool MatchesFilter(const MSG& msg, HWND hWnd, UINT uMin, UINT uMax)
{
    if (hWnd == reinterpret_cast<HWND>(-1)) {
        if (msg.hwnd != nullptr) {
            return false;
        }
    } else if (hWnd != nullptr && msg.hwnd != hWnd) {
        return false;
    }
    return (uMin == 0 && uMax == 0) || (msg.message >= uMin && msg.message <= uMax);
}

void Stamp(MSG& msg)
{
    msg.time = GetTickCount();
    msg.pt = POINT{0, 0};
    msg.lPrivate = 0;
}

enum class EFetch { Message, Quit, Nothing };

// Takes the next message for the calling thread, in the order Windows uses:
// posted messages, then the quit request, then due timers.
EFetch FetchMessage(CThreadQueue& queue, MSG& msg, HWND hWnd, UINT uMin, UINT uMax, bool bRemove,
                    Clock::time_point* pNextDue)
{
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (MatchesFilter(*it, hWnd, uMin, uMax)) {
            msg = *it;
            if (bRemove) {
                queue.posted.erase(it);
            }
            return EFetch::Message;
        }
    }
    if (queue.bQuit) {
        msg = MSG{};
        msg.message = WM_QUIT;
        msg.wParam = static_cast<WPARAM>(queue.nExitCode);
        Stamp(msg);
        if (bRemove) {
            queue.bQuit = false;
        }
        return EFetch::Quit;
    }
    const Clock::time_point now = Clock::now();
    Clock::time_point nextDue = Clock::time_point::max();
    for (CTimer& timer : queue.timers) {
        MSG candidate{};
        candidate.hwnd = timer.hWnd;
        candidate.message = WM_TIMER;
        candidate.wParam = timer.uID;
        candidate.lParam = reinterpret_cast<LPARAM>(timer.pfnTimer);
        if (!MatchesFilter(candidate, hWnd, uMin, uMax)) {
            continue;
        }
        if (timer.due <= now) {
            msg = candidate;
            Stamp(msg);
            if (bRemove) {
                timer.due = now + std::chrono::milliseconds(timer.uElapse);
            }
            return EFetch::Message;
        }
        nextDue = std::min(nextDue, timer.due);
    }
    if (pNextDue != nullptr) {
        *pNextDue = nextDue;
    }
    return EFetch::Nothing;
}

}  // namespace

extern "C" {

DWORD WINAPI GetCurrentThreadId(void)
{
    return t_identity.dwThreadId;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    // Only the calling program's own handle is known here.
    static char s_module;
    return lpModuleName == nullptr ? static_cast<HMODULE>(&s_module) : nullptr;
}

ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass)
{
    if (lpWndClass == nullptr || lpWndClass->lpfnWndProc == nullptr || lpWndClass->lpszClassName == nullptr ||
        IsAtom(lpWndClass->lpszClassName) || *lpWndClass->lpszClassName == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    CWindowing& w = Windowing();
    std::lock_guard<std::mutex> lock(w.mutex);
    const WString strKey = ClassKey(lpWndClass->lpszClassName);
    if (w.classes.count(strKey) != 0) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    const ATOM atom = w.nextAtom++;
    w.classes[strKey] = CWindowClass{lpWndClass->lpfnWndProc, lpWndClass->hInstance, atom};
    return atom;
}

BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE /*hInstance*/)
{
    CWindowing& w = Windowing();
    std::lock_guard<std::mutex> lock(w.mutex);
    for (auto it = w.classes.begin(); it != w.classes.end(); ++it) {
        if (&it->second == FindClass(w, lpClassName)) {
            w.classes.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    CWindowing& w = Windowing();
    HWND hWnd = nullptr;
    WNDPROC pfnWndProc = nullptr;
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        if (hWndParent != nullptr && hWndParent != HWND_MESSAGE && w.windows.count(hWndParent) == 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        const CWindowClass* pClass = FindClass(w, lpClassName);
        if (pClass == nullptr) {
            SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
            return nullptr;
        }
        pfnWndProc = pClass->pfnWndProc;
        hWnd = reinterpret_cast<HWND>(w.uNextWindow);
        w.uNextWindow += 4;
        w.windows[hWnd] = CWindow{GetCurrentThreadId(), pfnWndProc, 0, false};
        QueueOf(w, GetCurrentThreadId());
    }
    CREATESTRUCTW cs{lpParam, hInstance, hMenu,         hWndParent,   nHeight,     nWidth,
                     Y,       X,         LONG(dwStyle), lpWindowName, lpClassName, dwExStyle};
    if (pfnWndProc(hWnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) == FALSE) {
        DestroyWindow(hWnd);
        return nullptr;
    }
    // The procedure may have replaced itself while handling WM_NCCREATE.
    pfnWndProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hWnd, GWLP_WNDPROC));
    if (pfnWndProc(hWnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(hWnd);
        return nullptr;
    }
    return hWnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    CWindowing& w = Windowing();
    WNDPROC pfnWndProc = nullptr;
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        const auto it = w.windows.find(hWnd);
        if (it == w.windows.end() || it->second.bDestroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (it->second.dwThreadId != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        it->second.bDestroying = true;
        pfnWndProc = it->second.pfnWndProc;
    }
    pfnWndProc(hWnd, WM_DESTROY, 0, 0);
    pfnWndProc(hWnd, WM_NCDESTROY, 0, 0);

    std::lock_guard<std::mutex> lock(w.mutex);
    CThreadQueue& queue = QueueOf(w, GetCurrentThreadId());
    queue.timers.erase(std::remove_if(queue.timers.begin(), queue.timers.end(),
                                      [hWnd](const CTimer& timer) { return timer.hWnd == hWnd; }),
                       queue.timers.end());
    queue.posted.erase(
        std::remove_if(queue.posted.begin(), queue.posted.end(), [hWnd](const MSG& msg) { return msg.hwnd == hWnd; }),
        queue.posted.end());
    w.windows.erase(hWnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    CWindowing& w = Windowing();
    std::lock_guard<std::mutex> lock(w.mutex);
    return w.windows.count(hWnd) != 0 ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcW(HWND /*hWnd*/, UINT Msg, WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    return Msg == WM_NCCREATE ? TRUE : 0;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    CWindowing& w = Windowing();
    std::lock_guard<std::mutex> lock(w.mutex);
    CWindow* pWindow = WindowOf(w, hWnd);
    if (pWindow == nullptr) {
        return 0;
    }
    LONG_PTR lPrevious = 0;
    if (nIndex == GWLP_USERDATA) {
        lPrevious = pWindow->lUserData;
        pWindow->lUserData = dwNewLong;
    } else if (nIndex == GWLP_WNDPROC && dwNewLong != 0) {
        lPrevious = reinterpret_cast<LONG_PTR>(pWindow->pfnWndProc);
        pWindow->pfnWndProc = reinterpret_cast<WNDPROC>(dwNewLong);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return lPrevious;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex)
{
    CWindowing& w = Windowing();
    std::lock_guard<std::mutex> lock(w.mutex);
    const CWindow* pWindow = WindowOf(w, hWnd);
    if (pWindow == nullptr) {
        return 0;
    }
    if (nIndex == GWLP_USERDATA) {
        return pWindow->lUserData;
    }
    if (nIndex == GWLP_WNDPROC) {
        return reinterpret_cast<LONG_PTR>(pWindow->pfnWndProc);
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    CWindowing& w = Windowing();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (hWnd != nullptr) {
        const auto it = w.windows.find(hWnd);
        if (it == w.windows.end() || it->second.dwThreadId != GetCurrentThreadId()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    const UINT uInterval = std::min<UINT>(std::max<UINT>(uElapse, USER_TIMER_MINIMUM), USER_TIMER_MAXIMUM);
    CThreadQueue& queue = QueueOf(w, GetCurrentThreadId());
    // A thread timer without a window gets an identifier of its own, unless the
    // call names one of the thread's timers, which it then replaces.
    const bool bReplacesThreadTimer =
        hWnd == nullptr && std::any_of(queue.timers.begin(), queue.timers.end(), [&](const CTimer& existing) {
            return existing.hWnd == nullptr && existing.uID == nIDEvent;
        });
    const UINT_PTR uID = hWnd != nullptr || bReplacesThreadTimer ? nIDEvent : w.uNextThreadTimer++;
    const CTimer timer{hWnd, uID, uInterval, lpTimerFunc, Clock::now() + std::chrono::milliseconds(uInterval)};
    for (CTimer& existing : queue.timers) {
        if (existing.hWnd == hWnd && existing.uID == uID) {
            existing = timer;
            return hWnd != nullptr && uID == 0 ? 1 : uID;
        }
    }
    queue.timers.push_back(timer);
    queue.wake.notify_all();
    return hWnd != nullptr && uID == 0 ? 1 : uID;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    CWindowing& w = Windowing();
    std::lock_guard<std::mutex> lock(w.mutex);
    std::vector<CTimer>& timers = QueueOf(w, GetCurrentThreadId()).timers;
    const auto it = std::find_if(timers.begin(), timers.end(),
                                 [&](const CTimer& timer) { return timer.hWnd == hWnd && timer.uID == uIDEvent; });
    if (it == timers.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    timers.erase(it);
    return TRUE;
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    CWindowing& w = Windowing();
    std::unique_lock<std::mutex> lock(w.mutex);
    // The queue object stays alive while this thread waits on it.
    std::shared_ptr<CThreadQueue> pQueue = w.queues[GetCurrentThreadId()];
    if (!pQueue) {
        pQueue = w.queues[GetCurrentThreadId()] = std::make_shared<CThreadQueue>();
    }
    for (;;) {
        Clock::time_point nextDue;
        const EFetch eFetch = FetchMessage(*pQueue, *lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true, &nextDue);
        if (eFetch == EFetch::Message) {
            return TRUE;
        }
        if (eFetch == EFetch::Quit) {
            return FALSE;
        }
        if (nextDue == Clock::time_point::max()) {
            pQueue->wake.wait(lock);
        } else {
            pQueue->wake.wait_until(lock, nextDue);
        }
    }
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CWindowing& w = Windowing();
    std::lock_guard<std::mutex> lock(w.mutex);
    CThreadQueue& queue = QueueOf(w, GetCurrentThreadId());
    const bool bRemove = (wRemoveMsg & PM_REMOVE) != 0;
    return FetchMessage(queue, *lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, bRemove, nullptr) != EFetch::Nothing ? TRUE
                                                                                                                : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* /*lpMsg*/)
{
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg)
{
    if (lpMsg == nullptr) {
        return 0;
    }
    if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
        reinterpret_cast<TIMERPROC>(lpMsg->lParam)(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
        return 0;
    }
    WNDPROC pfnWndProc = nullptr;
    {
        CWindowing& w = Windowing();
        std::lock_guard<std::mutex> lock(w.mutex);
        const auto it = w.windows.find(lpMsg->hwnd);
        // Messages reach only windows of the dispatching thread.
        if (it == w.windows.end() || it->second.dwThreadId != GetCurrentThreadId()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        pfnWndProc = it->second.pfnWndProc;
    }
    return pfnWndProc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    CWindowing& w = Windowing();
    std::lock_guard<std::mutex> lock(w.mutex);
    DWORD dwThreadId = GetCurrentThreadId();
    if (hWnd != nullptr) {
        const CWindow* pWindow = WindowOf(w, hWnd);
        if (pWindow == nullptr) {
            return FALSE;
        }
        dwThreadId = pWindow->dwThreadId;
    }
    MSG msg{hWnd, Msg, wParam, lParam, 0, POINT{0, 0}, 0};
    Stamp(msg);
    CThreadQueue& queue = QueueOf(w, dwThreadId);
    queue.posted.push_back(msg);
    queue.wake.notify_all();
    return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode)
{
    CWindowing& w = Windowing();
    std::lock_guard<std::mutex> lock(w.mutex);
    CThreadQueue& queue = QueueOf(w, GetCurrentThreadId());
    queue.bQuit = true;
    queue.nExitCode = nExitCode;
    queue.wake.notify_all();
}

}  // extern "C"

#endif  // _WIN32
