// The tick event and the hidden-window timer that fires it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
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
