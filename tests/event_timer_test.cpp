// The tick event, the hidden-window timer that fires it, and (off Windows) the
// message queue of the compatibility layer that both run on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "compat/win32.h"
#include "store/RVxTimer.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using TEvent = CRVxTimer::TickEvent;
using Log = std::vector<int>;

// A handler target that logs its tag on every call (OnB is never connected). OnA then
// runs the target's action, which may change the event's connections from inside a
// firing, as the store's OnTimer does.
struct CTarget {
    void OnA()
    {
        m_log.push_back(m_nTag);
        if (m_action) {
            m_action(this);
        }
    }
    void OnB() {}

    Log& m_log;
    int m_nTag;
    std::function<void(CTarget*)> m_action = nullptr;
};

Log FireAndTake(TEvent& evt, Log& log)
{
    log.clear();
    evt.Fire();
    return log;
}

// Counts ticks and remembers where and when the first one ran.
struct CTickCounter {
    void OnTick()
    {
        if (nTicks++ == 0) {
            firstTick = Clock::now();
            tickThread = std::this_thread::get_id();
        }
    }
    std::atomic<int> nTicks{0};
    Clock::time_point firstTick;
    std::thread::id tickThread;
};

void PumpFor(milliseconds duration)
{
    const Clock::time_point end = Clock::now() + duration;
    MSG msg;
    do {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        std::this_thread::sleep_for(milliseconds(2));
    } while (Clock::now() < end);
}

// Re-arms the window's own timer with a short interval so that tests need not wait
// whole seconds for a tick.
void Quicken(const CRVxTimer& timer)
{
    ASSERT_NE(SetTimer(timer.Window(), CRVxTimer::TIMER_ID, 20, nullptr), 0u);
}

}  // namespace

// Handlers run in connection order, duplicates included; Disconnect needs both the
// object and the member function. The store's tests cover connecting and
// disconnecting its own handler. Changes from inside a firing: a handler that
// disconnects itself runs once per entry; one disconnected earlier in the same
// firing is skipped; one connected waits for the next firing, even when its entry
// takes the place of one not called yet (with glibc it usually lands on the block
// just freed).
TEST(EventFire, CallsHandlersInOrderAndChangesDuringAFiringHitTheRightOnes)
{
    Log log;
    TEvent evt;
    bool bDisconnected = false;
    CTarget a{log, 1}, b{log, 2}, c{log, 3}, d{log, 4};
    CTarget once{log, 5, [&](CTarget* pSelf) { evt.Disconnect(pSelf, &CTarget::OnA); }};
    CTarget swapper{log, 9, [&](CTarget*) {
                        bDisconnected = evt.Disconnect(&b, &CTarget::OnA);
                        if (bDisconnected) {
                            evt.Connect(&d, &CTarget::OnA);
                        }
                    }};
    for (CTarget* pTarget : {&once, &once, &a, &swapper, &b, &c}) {
        evt.Connect(pTarget, &CTarget::OnA);
    }
    EXPECT_FALSE(evt.Disconnect(&a, &CTarget::OnB));
    EXPECT_FALSE(evt.Disconnect(&d, &CTarget::OnA));
    EXPECT_EQ(FireAndTake(evt, log), (Log{5, 5, 1, 9, 3}));
    EXPECT_TRUE(bDisconnected);
    EXPECT_EQ(FireAndTake(evt, log), (Log{1, 9, 3, 4}));
    EXPECT_EQ(evt.HandlerCount(), 4u);
}

TEST(TimerTick, FiresAboutOnceASecondWhilePumped)
{
    CTickCounter counter;
    const Clock::time_point t0 = Clock::now();
    CRVxTimer timer;
    timer.Tick().Connect(&counter, &CTickCounter::OnTick);
    PumpFor(milliseconds(1250));
    EXPECT_EQ(counter.nTicks, 1);
    EXPECT_GE(std::chrono::duration_cast<milliseconds>(counter.firstTick - t0).count(), 990);
}

// The window is message-only, so it exists without a desktop (headless) too, and the
// timer is the window's, never the thread's (that would tick on into the host's loop
// after the store is gone). Other messages and timer ids do not tick; its own timer
// ticks only when pumped, once however many intervals passed; neither the timer nor
// a tick already queued outlives it.
TEST(TimerTick, OnlyItsOwnTimerTicksOnlyWhenPumpedAndOnlyWhileItLives)
{
    PumpFor(milliseconds(0));
    CTickCounter counter;
    auto pTimer = std::make_unique<CRVxTimer>();
    HWND hWnd = pTimer->Window();
    ASSERT_TRUE(IsWindow(hWnd));
#ifdef _WIN32
    EXPECT_NE(GetAncestor(hWnd, GA_PARENT), GetDesktopWindow());
    EXPECT_FALSE(IsWindowVisible(hWnd));
#endif
    pTimer->Tick().Connect(&counter, &CTickCounter::OnTick);
    MSG msg;
    ASSERT_TRUE(PostMessageW(hWnd, WM_TIMER, 770, 0));
    ASSERT_TRUE(PeekMessageW(&msg, hWnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageW(&msg), 0);
    EXPECT_EQ(counter.nTicks, 0);

    Quicken(*pTimer);
    std::this_thread::sleep_for(milliseconds(120));
    EXPECT_EQ(counter.nTicks, 0);
    EXPECT_FALSE(PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_NOREMOVE)) << "a timer of the thread";
    PumpFor(milliseconds(0));
    EXPECT_EQ(counter.nTicks, 1) << "one pending tick, not one per missed interval";

    PostMessageW(hWnd, WM_TIMER, CRVxTimer::TIMER_ID, 0);
    pTimer.reset();
    EXPECT_FALSE(IsWindow(hWnd));
    std::this_thread::sleep_for(milliseconds(40));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
    PumpFor(milliseconds(20));
    EXPECT_EQ(counter.nTicks, 1);
}

TEST(TimerThread, TicksOnlyWhenTheOwningThreadPumps)
{
    CTickCounter counter;
    std::promise<HWND> made;
    std::promise<void> go;
    std::thread owner([&]() {
        CRVxTimer timer;
        timer.Tick().Connect(&counter, &CTickCounter::OnTick);
        Quicken(timer);
        made.set_value(timer.Window());
        go.get_future().wait();
        PumpFor(milliseconds(80));
    });
    const std::thread::id ownerId = owner.get_id();
    HWND hWnd = made.get_future().get();
    PumpFor(milliseconds(80));  // this thread's pumping must not deliver the owner's ticks
    EXPECT_EQ(counter.nTicks, 0);
    go.set_value();
    owner.join();
    EXPECT_GE(counter.nTicks, 1);
    EXPECT_EQ(counter.tickThread, ownerId);
    EXPECT_FALSE(IsWindow(hWnd));
}

#ifndef _WIN32
namespace {

using Seen = std::vector<std::tuple<HWND, UINT, WPARAM>>;  // window, message, wParam

// Takes up to eight messages off this thread's queue, in the order they come.
Seen Take(HWND hWnd = nullptr, UINT uMin = 0, UINT uMax = 0)
{
    Seen seen;
    MSG msg;
    while (seen.size() < 8 && PeekMessageW(&msg, hWnd, uMin, uMax, PM_REMOVE)) {
        seen.emplace_back(msg.hwnd, msg.message, msg.wParam);
    }
    return seen;
}

// A window of this thread that answers WM_APP with 1234.
LRESULT CALLBACK ProbeProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return uMsg == WM_APP ? 1234 : DefWindowProcW(hWnd, uMsg, wParam, lParam);
}
HWND NewProbe()
{
    static const ATOM s_atom = [] {  // once, however often the test runs
        WNDCLASSW wc{};
        wc.lpfnWndProc = &ProbeProc;
        wc.lpszClassName = u"CalStoreTest.Probe";
        return RegisterClassW(&wc);
    }();
    EXPECT_NE(s_atom, 0);
    return CreateWindowExW(0, u"CalStoreTest.Probe", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

// A post from another thread wakes GetMessage; posted messages come first, then
// the quit request (once), then timers. PeekMessage filters by window (-1: thread
// messages) and range. Windows brings its own queue.
TEST(MessageQueue, PostsWakeTheLoopAndComeBeforeQuitAndTimers)
{
    Take();  // nothing left over from other tests
    const HWND hWnd = NewProbe(), hWndB = NewProbe();
    MSG msg{};
    ASSERT_NE(SetTimer(hWnd, 99, 300, nullptr), 0u);  // ends the wait should the post not
    const Clock::time_point t0 = Clock::now();
    std::thread poster([hWnd]() {
        std::this_thread::sleep_for(milliseconds(50));
        PostMessageW(hWnd, WM_APP + 3, 11, 0);
    });
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    poster.join();
    EXPECT_EQ(msg.message, UINT(WM_APP + 3));
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(Clock::now() - t0).count(), 250)
        << "the post must wake the waiting thread";
    EXPECT_TRUE(KillTimer(hWnd, 99));
    EXPECT_FALSE(KillTimer(hWnd, 99));

    ASSERT_NE(SetTimer(hWnd, 6, 15, nullptr), 0u);
    std::this_thread::sleep_for(milliseconds(40));
    PostMessageW(hWnd, WM_APP, 0, 0);
    PostMessageW(hWndB, WM_APP + 1, 0, 0);
    PostMessageW(nullptr, WM_APP + 2, 0, 0);  // a thread message
    EXPECT_EQ(Take(reinterpret_cast<HWND>(-1)), (Seen{{nullptr, WM_APP + 2, 0}}));
    EXPECT_EQ(Take(nullptr, WM_APP + 1, WM_APP + 10), (Seen{{hWndB, WM_APP + 1, 0}}));
    PostQuitMessage(7);
    PostMessageW(hWnd, WM_APP + 1, 0, 0);
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, UINT(WM_APP));
    EXPECT_EQ(DispatchMessageW(&msg), 1234);
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, UINT(WM_APP + 1));
    EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(std::make_tuple(msg.message, msg.wParam), std::make_tuple(UINT(WM_QUIT), WPARAM(7)));
    EXPECT_EQ(Take(), (Seen{{hWnd, WM_TIMER, 6}}));  // the quit request is taken once
    DestroyWindow(hWnd);
    DestroyWindow(hWndB);
}
#endif
