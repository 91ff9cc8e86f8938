// The windowing subset for POSIX builds: window classes, hidden windows, timers and
// the message queue, under their Windows names.
//
// Each thread has its own message queue. Windows belong to the thread that created
// them; their messages, WM_TIMER included, reach the window procedure only when
// that thread pumps its queue (GetMessageW or PeekMessageW, then
// DispatchMessageW), as on Windows.
#pragma once

#include "compat/wintypes.h"

#ifdef _WIN32
#include <windows.h>
#else

#include "compat/winbase.h"

#define CALLBACK

struct HWND__;
typedef HWND__* HWND;
typedef void* HINSTANCE;
typedef void* HMODULE;
typedef void* HMENU;
typedef void* HICON;
typedef void* HCURSOR;
typedef void* HBRUSH;
typedef WORD ATOM;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
    DWORD lPrivate;
};
typedef MSG* LPMSG;

struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
};

struct CREATESTRUCTW {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
};

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_QUIT 0x0012
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L

// The parent of a message-only window: it needs no desktop and is never shown.
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)

#define GWLP_WNDPROC (-4)
#define GWLP_USERDATA (-21)

#define USER_TIMER_MINIMUM 0x0000000A
#define USER_TIMER_MAXIMUM 0x7FFFFFFF

#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CLASS_DOES_NOT_EXIST 1411L

#define MAKEINTATOM(i) ((LPCWSTR)((ULONG_PTR)((WORD)(i))))

extern "C" {

COMPAT_API DWORD WINAPI GetCurrentThreadId(void);
COMPAT_API HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);

COMPAT_API ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass);
COMPAT_API BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance);
// The parent is null, HWND_MESSAGE (a message-only window) or an existing window;
// anything else fails with ERROR_INVALID_WINDOW_HANDLE. Windows here are never
// shown, so parents change nothing else.
COMPAT_API HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X,
                                       int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                                       HINSTANCE hInstance, LPVOID lpParam);
// Sends WM_DESTROY and WM_NCDESTROY, then removes the window with its timers and
// queued messages. Only the owning thread may destroy a window.
COMPAT_API BOOL WINAPI DestroyWindow(HWND hWnd);
COMPAT_API BOOL WINAPI IsWindow(HWND hWnd);
COMPAT_API LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
COMPAT_API LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
COMPAT_API LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex);

// A timer of the calling thread: WM_TIMER is generated when the queue is checked
// after the interval has passed, at most one at a time, after posted messages.
COMPAT_API UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
COMPAT_API BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent);

COMPAT_API BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
COMPAT_API BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
COMPAT_API BOOL WINAPI TranslateMessage(const MSG* lpMsg);
COMPAT_API LRESULT WINAPI DispatchMessageW(const MSG* lpMsg);
COMPAT_API BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
COMPAT_API void WINAPI PostQuitMessage(int nExitCode);

}  // extern "C"

#endif  // _WIN32
