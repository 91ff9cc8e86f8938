// The tick event and the hidden-window timer that fires it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

// A handler target that logs its tag on every call; some of its handlers change the
// event's connections from inside a firing, as the store's OnTimer does.
struct CTarget {
    CTarget(std::vector<int>& log, int nTag, TEvent* pEvent = nullptr) : m_log(log), m_nTag(nTag), m_pEvent(pEvent) {}

    void OnA() { m_log.push_back(m_nTag); }
    void OnB() { m_log.push_back(m_nTag + 100); }
    void DisconnectSelf()
    {
        OnA();
        m_pEvent->Disconnect(this, &CTarget::DisconnectSelf);
    }
    void DisconnectOther()
    {
        OnA();
        m_bDisconnected = m_pEvent->Disconnect(m_pOther, &CTarget::OnA);
    }
    void ConnectOther()
    {
        OnA();
        m_pEvent->Connect(m_pOther, &CTarget::OnA);
    }
    void SwapSelfForOther()
    {
        OnA();
        m_pEvent->Disconnect(this, &CTarget::SwapSelfForOther);
        m_pEvent->Connect(m_pOther, &CTarget::OnA);
    }
    void SwapOtherForThird()
    {
        OnA();
        // With glibc the new entry usually lands on the block just freed.
        m_pEvent->Disconnect(m_pOther, &CTarget::OnA);
        m_pEvent->Connect(m_pThird, &CTarget::OnA);
    }

    std::vector<int>& m_log;
    int m_nTag;
    TEvent* m_pEvent;
    CTarget* m_pOther = nullptr;
    CTarget* m_pThird = nullptr;
    bool m_bDisconnected = false;
};

std::vector<int> FireAndTake(TEvent& evt, std::vector<int>& log)
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
void Quicken(const CRVxTimer& timer) { ASSERT_NE(SetTimer(timer.Window(), CRVxTimer::TIMER_ID, 20, nullptr), 0u); }

}  // namespace

TEST(EventFire, CallsHandlersInConnectionOrderDuplicatesIncluded)
{
    std::vector<int> log;
    CTarget a(log, 1);
    CTarget b(log, 2);
    TEvent evt;
    evt.Connect(&a, &CTarget::OnA);
    evt.Connect(&b, &CTarget::OnA);
    evt.Connect(&a, &CTarget::OnB);
    evt.Connect(&a, &CTarget::OnA);
    EXPECT_EQ(evt.HandlerCount(), 4u);
    EXPECT_EQ(FireAndTake(evt, log), (std::vector<int>{1, 2, 101, 1}));
    EXPECT_EQ(FireAndTake(evt, log), (std::vector<int>{1, 2, 101, 1}));
}

TEST(EventDisconnect, RemovesTheFirstMatchOrReportsNone)
{
    std::vector<int> log;
    CTarget a(log, 1);
    CTarget b(log, 2);
    TEvent evt;
    EXPECT_FALSE(evt.Disconnect(&a, &CTarget::OnA));
    evt.Connect(&a, &CTarget::OnA);
    evt.Connect(&b, &CTarget::OnA);
    evt.Connect(&a, &CTarget::OnA);
    EXPECT_TRUE(evt.Disconnect(&a, &CTarget::OnA));
    EXPECT_EQ(FireAndTake(evt, log), (std::vector<int>{2, 1}));

    EXPECT_FALSE(evt.Disconnect(&a, &CTarget::OnB)) << "another member function";
    EXPECT_TRUE(evt.Disconnect(&b, &CTarget::OnA));
    EXPECT_FALSE(evt.Disconnect(&b, &CTarget::OnA)) << "another object";
    EXPECT_EQ(evt.HandlerCount(), 1u);
    EXPECT_EQ(FireAndTake(evt, log), (std::vector<int>{1}));
}

TEST(EventFire, SelfDisconnectingHandlerRunsOncePerEntry)
{
    std::vector<int> log;
    TEvent evt;
    CTarget once(log, 1, &evt);
    CTarget b(log, 2);
    evt.Connect(&once, &CTarget::DisconnectSelf);
    evt.Connect(&once, &CTarget::DisconnectSelf);
    evt.Connect(&b, &CTarget::OnA);
    EXPECT_EQ(FireAndTake(evt, log), (std::vector<int>{1, 1, 2}));
    EXPECT_EQ(evt.HandlerCount(), 1u);
    EXPECT_EQ(FireAndTake(evt, log), (std::vector<int>{2}));
}

TEST(EventFire, HandlerDisconnectedEarlierInTheFiringIsSkipped)
{
    std::vector<int> log;
    TEvent evt;
    CTarget a(log, 1);
    CTarget killer(log, 9, &evt);
    CTarget b(log, 2);
    CTarget c(log, 3);
    killer.m_pOther = &b;
    evt.Connect(&a, &CTarget::OnA);
    evt.Connect(&killer, &CTarget::DisconnectOther);
    evt.Connect(&b, &CTarget::OnA);
    evt.Connect(&c, &CTarget::OnA);
    EXPECT_EQ(FireAndTake(evt, log), (std::vector<int>{1, 9, 3}));
    EXPECT_TRUE(killer.m_bDisconnected);
    EXPECT_EQ(FireAndTake(evt, log), (std::vector<int>{1, 9, 3}));
    EXPECT_FALSE(killer.m_bDisconnected);
}

TEST(EventFire, HandlersConnectedDuringAFiringWaitForTheNext)
{
    std::vector<int> log;
    TEvent evt;
    CTarget b(log, 2);
    CTarget connector(log, 9, &evt);
    connector.m_pOther = &b;
    evt.Connect(&connector, &CTarget::ConnectOther);
    EXPECT_EQ(FireAndTake(evt, log), (std::vector<int>{9}));
    EXPECT_EQ(FireAndTake(evt, log), (std::vector<int>{9, 2}));

    TEvent evt2;
    CTarget c(log, 3);
    CTarget swapper(log, 8, &evt2);
    swapper.m_pOther = &b;
    evt2.Connect(&swapper, &CTarget::SwapSelfForOther);
    evt2.Connect(&c, &CTarget::OnA);
    EXPECT_EQ(FireAndTake(evt2, log), (std::vector<int>{8, 3}));
    EXPECT_EQ(FireAndTake(evt2, log), (std::vector<int>{3, 2}));

    // The new entry may take the place of one that has not been called yet.
    TEvent evt3;
    CTarget d(log, 4);
    CTarget dropper(log, 7, &evt3);
    dropper.m_pOther = &b;
    dropper.m_pThird = &d;
    evt3.Connect(&dropper, &CTarget::SwapOtherForThird);
    evt3.Connect(&b, &CTarget::OnA);
    EXPECT_EQ(FireAndTake(evt3, log), (std::vector<int>{7}));
    EXPECT_EQ(FireAndTake(evt3, log), (std::vector<int>{7, 4}));
}

TEST(EventLifetime, DestroyingTheEventDeletesHandlersWithoutCallingThem)
{
    CTickCounter counter;
    auto pEvent = std::make_unique<TEvent>();
    pEvent->Connect(&counter, &CTickCounter::OnTick);
    pEvent->Connect(&counter, &CTickCounter::OnTick);
    pEvent.reset();  // the sanitizer build reports any entry or handler left behind
    EXPECT_EQ(counter.nTicks, 0);
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

TEST(TimerTick, NothingFiresWithoutPumping)
{
    PumpFor(milliseconds(0));
    CTickCounter counter;
    CRVxTimer timer;
    timer.Tick().Connect(&counter, &CTickCounter::OnTick);
    Quicken(timer);
    std::this_thread::sleep_for(milliseconds(120));
    EXPECT_EQ(counter.nTicks, 0);
    PumpFor(milliseconds(0));
    EXPECT_EQ(counter.nTicks, 1) << "one pending tick, not one per missed interval";
}

TEST(TimerTick, OnlyItsOwnTimerIdFires)
{
    PumpFor(milliseconds(0));
    CTickCounter counter;
    CRVxTimer timer;
    timer.Tick().Connect(&counter, &CTickCounter::OnTick);
    LRESULT lResult = 1;
    EXPECT_TRUE(timer.ProcessWindowMessage(timer.Window(), WM_TIMER, 770, 0, lResult, 0));
    EXPECT_EQ(lResult, 0);
    EXPECT_FALSE(timer.ProcessWindowMessage(timer.Window(), WM_APP, 0, 0, lResult, 0));
    EXPECT_EQ(counter.nTicks, 0);

    MSG msg;
    for (const UINT_PTR uID : {UINT_PTR(770), UINT_PTR(CRVxTimer::TIMER_ID)}) {
        ASSERT_TRUE(PostMessageW(timer.Window(), WM_TIMER, uID, 0));
        ASSERT_TRUE(PeekMessageW(&msg, timer.Window(), 0, 0, PM_REMOVE));
        EXPECT_EQ(DispatchMessageW(&msg), 0);
        EXPECT_EQ(counter.nTicks, uID == CRVxTimer::TIMER_ID ? 1 : 0) << "timer id " << uID;
    }
}

TEST(TimerWindow, DestructionEndsWindowAndTicks)
{
    PumpFor(milliseconds(0));
    CTickCounter counter;
    auto pTimer = std::make_unique<CRVxTimer>();
    HWND hWnd = pTimer->Window();
    ASSERT_NE(hWnd, nullptr);
    EXPECT_TRUE(IsWindow(hWnd));
    pTimer->Tick().Connect(&counter, &CTickCounter::OnTick);
    Quicken(*pTimer);
    PumpFor(milliseconds(60));
    const int nBefore = counter.nTicks;
    EXPECT_GE(nBefore, 1);

    PostMessageW(hWnd, WM_TIMER, CRVxTimer::TIMER_ID, 0);
    pTimer.reset();
    EXPECT_FALSE(IsWindow(hWnd));
    std::this_thread::sleep_for(milliseconds(40));
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
    PumpFor(milliseconds(20));
    EXPECT_EQ(counter.nTicks, nBefore);
}

TEST(TimerThread, TicksOnlyWhenTheOwningThreadPumps)
{
    PumpFor(milliseconds(0));
    CTickCounter counter;
    std::promise<HWND> made;
    std::promise<void> go;
    std::thread::id ownerId;
    std::thread owner([&]() {
        ownerId = std::this_thread::get_id();
        CRVxTimer timer;
        timer.Tick().Connect(&counter, &CTickCounter::OnTick);
        Quicken(timer);
        made.set_value(timer.Window());
        go.get_future().wait();
        PumpFor(milliseconds(80));
    });
    HWND hWnd = made.get_future().get();
    EXPECT_TRUE(IsWindow(hWnd));
    PumpFor(milliseconds(80));  // this thread's pumping must not deliver the owner's ticks
    EXPECT_EQ(counter.nTicks, 0);
    go.set_value();
    owner.join();
    EXPECT_GE(counter.nTicks, 1);
    EXPECT_EQ(counter.tickThread, ownerId);
    EXPECT_FALSE(IsWindow(hWnd));
}
