// A one-second tick on the creating thread, from a message-only window's timer.
#pragma once

#include "compat/win32.h"
#include "store/NervaEvent.h"

class CRVxTimer {
public:
    typedef Nerva::Nerva_Event::EventHelper<0>::EventImpl<void> TickEvent;

    enum : UINT_PTR { TIMER_ID = 769 };
    enum : DWORD { DEFAULT_INTERVAL_MS = 1000 };

    // Creates the message-only window and starts its timer. If the window cannot
    // be made, that is logged, no timer is set and no tick ever comes.
    CRVxTimer();
    CRVxTimer(const CRVxTimer&) = delete;
    CRVxTimer& operator=(const CRVxTimer&) = delete;
    virtual ~CRVxTimer();

    // Fires the tick event for WM_TIMER of our timer. Reports every WM_TIMER as
    // handled and every other message as not handled.
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                      DWORD dwMsgMapID);
    virtual WNDPROC GetWindowProc();
    virtual void OnFinalMessage(HWND hWnd);

    TickEvent& Tick() { return m_evtTick; }
    HWND Window() const { return m_hWnd; }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LPCWSTR WindowClassName();

    HWND m_hWnd;
    TickEvent m_evtTick;
    DWORD m_dwInterval;
};
