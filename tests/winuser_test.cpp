// The windowing subset: classes, window lifetime, timers and per-thread queues, as
// the store's hidden-window timer relies on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "compat/win32.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const WCHAR kProbeClass[] = u"CalStoreTest.Probe";

long long MsSince(Clock::time_point t0)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - t0).count();
}

// What a window's procedure saw. It rides in as the creation parameter, the way
// real windows pass their owning object.
struct CProbe {
    std::vector<UINT> messages;
    WPARAM lastWParam = 0;
    std::vector<LPVOID> createParams;  // from WM_NCCREATE and WM_CREATE
    HWND hWnd = nullptr;
    LRESULT lNcCreate = TRUE;
    LRESULT lCreate = 0;

    long Count(UINT uMsg) const { return static_cast<long>(std::count(messages.begin(), messages.end(), uMsg)); }
};

LRESULT CALLBACK ProbeProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    const auto* pcs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    if (uMsg == WM_NCCREATE) {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pcs->lpCreateParams));
    }
    auto* pProbe = reinterpret_cast<CProbe*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pProbe == nullptr) {
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
    pProbe->messages.push_back(uMsg);
    pProbe->lastWParam = wParam;
    if (uMsg == WM_NCCREATE || uMsg == WM_CREATE) {
        pProbe->hWnd = hWnd;
        pProbe->createParams.push_back(pcs->lpCreateParams);
        return uMsg == WM_NCCREATE ? pProbe->lNcCreate : pProbe->lCreate;
    }
    return uMsg == WM_APP ? 1234 : DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

HWND CreateProbeWindow(CProbe& probe, LPCWSTR pszClass = kProbeClass)
{
    return CreateWindowExW(0, pszClass, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, &probe);
}

// Takes up to eight messages off this thread's queue, in the order they come.
std::vector<MSG> Take(HWND hWnd = nullptr, UINT uMin = 0, UINT uMax = 0)
{
    std::vector<MSG> taken;
    MSG msg;
    while (taken.size() < 8 && PeekMessageW(&msg, hWnd, uMin, uMax, PM_REMOVE)) {
        taken.push_back(msg);
    }
    return taken;
}

class WinuserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &ProbeProc;
        wc.lpszClassName = kProbeClass;
        static const ATOM s_atom = RegisterClassW(&wc);
        ASSERT_NE(s_atom, 0);
    }
    void SetUp() override { Take(); }  // nothing left over from earlier tests
    void TearDown() override
    {
        for (HWND hWnd : m_windows) {
            if (IsWindow(hWnd)) {
                SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);  // its probe is gone by now
                DestroyWindow(hWnd);
            }
        }
        Take();
    }
    HWND Create(CProbe& probe)
    {
        m_windows.push_back(CreateProbeWindow(probe));
        return m_windows.back();
    }

    std::vector<HWND> m_windows;
};

class WinuserWindow : public WinuserTest {};
class WinuserTimer : public WinuserTest {};
class WinuserQueue : public WinuserTest {};
class WinuserThreads : public WinuserTest {};

}  // namespace

TEST(WinuserClass, NamesIgnoreCaseAndRegisterOnce)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = &ProbeProc;
    wc.lpszClassName = u"CalStoreTest.MixedCase";
    const ATOM atom = RegisterClassW(&wc);
    ASSERT_NE(atom, 0);
    wc.lpszClassName = u"CALSTORETEST.mixedcase";
    EXPECT_EQ(RegisterClassW(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

    CProbe byName;
    CProbe byAtom;
    HWND hWndName = CreateProbeWindow(byName, u"calstoretest.MIXEDCASE");
    HWND hWndAtom = CreateProbeWindow(byAtom, MAKEINTATOM(atom));
    EXPECT_NE(hWndName, nullptr);
    EXPECT_NE(hWndAtom, nullptr);
    EXPECT_TRUE(DestroyWindow(hWndName));
    EXPECT_TRUE(DestroyWindow(hWndAtom));

    EXPECT_TRUE(UnregisterClassW(u"CalStoreTest.MIXEDCASE", nullptr));
    CProbe none;
    EXPECT_EQ(CreateProbeWindow(none, u"CalStoreTest.MixedCase"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
}

TEST_F(WinuserWindow, CreationMessagesCarryTheCreateParameter)
{
    CProbe probe;
    HWND hWnd = Create(probe);
    ASSERT_NE(hWnd, nullptr);
    EXPECT_TRUE(IsWindow(hWnd));
    EXPECT_EQ(probe.hWnd, hWnd);
    EXPECT_EQ(probe.messages, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
    EXPECT_EQ(probe.createParams, (std::vector<LPVOID>{&probe, &probe}));

    const LONG_PTR lProbe = reinterpret_cast<LONG_PTR>(&probe);
    EXPECT_EQ(SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0x5A5A), lProbe);
    EXPECT_EQ(GetWindowLongPtrW(hWnd, GWLP_USERDATA), 0x5A5A);
    EXPECT_EQ(SetWindowLongPtrW(hWnd, GWLP_USERDATA, lProbe), 0x5A5A);
}

TEST_F(WinuserWindow, RefusedCreationLeavesNoWindow)
{
    CProbe refuseNc;
    refuseNc.lNcCreate = FALSE;
    EXPECT_EQ(Create(refuseNc), nullptr);
    EXPECT_EQ(refuseNc.Count(WM_CREATE), 0);
    ASSERT_NE(refuseNc.hWnd, nullptr);
    EXPECT_FALSE(IsWindow(refuseNc.hWnd));

    CProbe refuseCreate;
    refuseCreate.lCreate = -1;
    EXPECT_EQ(Create(refuseCreate), nullptr);
    ASSERT_NE(refuseCreate.hWnd, nullptr);
    EXPECT_FALSE(IsWindow(refuseCreate.hWnd));
    EXPECT_EQ(refuseCreate.Count(WM_NCDESTROY), 1);
}

TEST_F(WinuserWindow, DestroyNotifiesAndDropsTimersAndQueuedMessages)
{
    CProbe probe;
    CProbe other;
    HWND hWnd = Create(probe);
    HWND hWndOther = Create(other);
    ASSERT_EQ(SetTimer(hWnd, 1, 20, nullptr), 1u);
    ASSERT_TRUE(PostMessageW(hWnd, WM_APP, 0, 0));
    ASSERT_TRUE(PostMessageW(hWndOther, WM_APP + 1, 0, 0));

    EXPECT_TRUE(DestroyWindow(hWnd));
    EXPECT_EQ(probe.messages, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(hWnd));
    std::this_thread::sleep_for(milliseconds(50));
    const std::vector<MSG> left = Take();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].hwnd, hWndOther);

    EXPECT_FALSE(DestroyWindow(hWnd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(PostMessageW(hWnd, WM_APP, 0, 0));
}

TEST_F(WinuserTimer, ArrivesOnlyWhenPumpedAndNeverPilesUp)
{
    CProbe probe;
    HWND hWnd = Create(probe);
    ASSERT_EQ(SetTimer(hWnd, 42, 30, nullptr), 42u);
    std::this_thread::sleep_for(milliseconds(160));  // several intervals without pumping
    EXPECT_EQ(probe.Count(WM_TIMER), 0);

    const std::vector<MSG> due = Take();
    ASSERT_EQ(due.size(), 1u) << "missed intervals must not pile up";
    EXPECT_EQ(due[0].hwnd, hWnd);
    EXPECT_EQ(due[0].message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(due[0].wParam, 42u);
    EXPECT_EQ(DispatchMessageW(&due[0]), 0);
    ASSERT_EQ(probe.Count(WM_TIMER), 1);
    EXPECT_EQ(probe.lastWParam, 42u);

    // It keeps ticking while pumped, until killed.
    MSG msg{};
    const Clock::time_point t0 = Clock::now();
    while (!PeekMessageW(&msg, hWnd, WM_TIMER, WM_TIMER, PM_REMOVE) && MsSince(t0) < 250) {
        std::this_thread::sleep_for(milliseconds(2));
    }
    EXPECT_EQ(msg.wParam, 42u);
    EXPECT_TRUE(KillTimer(hWnd, 42));
    std::this_thread::sleep_for(milliseconds(60));
    EXPECT_TRUE(Take().empty());
    EXPECT_FALSE(KillTimer(hWnd, 42));
}

TEST_F(WinuserQueue, GetMessageWaitsForATimerOrAPostFromAnotherThread)
{
    CProbe probe;
    HWND hWnd = Create(probe);
    ASSERT_NE(SetTimer(hWnd, 5, 60, nullptr), 0u);
    Clock::time_point t0 = Clock::now();
    MSG msg;
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_GE(MsSince(t0), 55);
    KillTimer(hWnd, 5);

    ASSERT_NE(SetTimer(hWnd, 99, 300, nullptr), 0u);  // ends the wait should the post not
    t0 = Clock::now();
    std::thread poster([hWnd]() {
        std::this_thread::sleep_for(milliseconds(50));
        PostMessageW(hWnd, WM_APP + 3, 11, 0);
    });
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    poster.join();
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 3));
    EXPECT_GE(MsSince(t0), 45);
    EXPECT_LT(MsSince(t0), 250) << "the post must wake the waiting thread";
}

TEST_F(WinuserQueue, PostedMessagesComeFirstThenQuitThenTimers)
{
    CProbe probe;
    HWND hWnd = Create(probe);
    ASSERT_NE(SetTimer(hWnd, 6, 15, nullptr), 0u);
    std::this_thread::sleep_for(milliseconds(40));
    PostMessageW(hWnd, WM_APP, 0, 0);
    PostQuitMessage(7);
    PostMessageW(hWnd, WM_APP + 1, 0, 0);
    MSG msg;
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP));
    EXPECT_EQ(DispatchMessageW(&msg), 1234);
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 1));
    EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    const std::vector<MSG> rest = Take();  // the quit request is taken once
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].message, static_cast<UINT>(WM_TIMER));
}

TEST_F(WinuserQueue, PeekFiltersByWindowAndRange)
{
    CProbe a;
    CProbe b;
    HWND hWndA = Create(a);
    HWND hWndB = Create(b);
    PostMessageW(hWndA, WM_APP, 0, 0);
    PostMessageW(hWndB, WM_APP + 1, 0, 0);
    PostMessageW(nullptr, WM_APP + 2, 0, 0);  // a thread message
    ASSERT_NE(SetTimer(hWndA, 3, 10, nullptr), 0u);
    std::this_thread::sleep_for(milliseconds(30));

    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, hWndB, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 1));
    EXPECT_EQ(Take(hWndB).size(), 1u);
    const std::vector<MSG> thread = Take(reinterpret_cast<HWND>(-1));
    ASSERT_EQ(thread.size(), 1u);
    EXPECT_EQ(thread[0].message, static_cast<UINT>(WM_APP + 2));

    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
    EXPECT_EQ(msg.hwnd, hWndA);
    const std::vector<MSG> posted = Take(nullptr, WM_APP, WM_APP + 10);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_APP));
    const std::vector<MSG> rest = Take(hWndA);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].message, static_cast<UINT>(WM_TIMER));
}

TEST_F(WinuserThreads, OnlyTheOwnerDispatchesOrDestroys)
{
    CProbe probe;
    HWND hWnd = Create(probe);
    ASSERT_NE(SetTimer(hWnd, 8, 10, nullptr), 0u);
    std::thread other([hWnd]() {
        const MSG msg{hWnd, WM_APP + 5, 0, 0, 0, POINT{0, 0}, 0};
        EXPECT_EQ(DispatchMessageW(&msg), 0);
        EXPECT_FALSE(DestroyWindow(hWnd));
        EXPECT_EQ(SetTimer(hWnd, 9, 10, nullptr), 0u);
        EXPECT_FALSE(KillTimer(hWnd, 8));
    });
    other.join();
    EXPECT_TRUE(IsWindow(hWnd));
    EXPECT_EQ(probe.Count(WM_APP + 5), 0);
    EXPECT_EQ(probe.Count(WM_DESTROY), 0);
    std::this_thread::sleep_for(milliseconds(30));
    const std::vector<MSG> due = Take();
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].wParam, 8u) << "the owner's timer survives";
}

TEST_F(WinuserThreads, EachThreadSeesOnlyItsOwnQueue)
{
    CProbe probe;
    HWND hWnd = Create(probe);
    ASSERT_NE(SetTimer(hWnd, 4, 10, nullptr), 0u);
    UINT_PTR uWorkerTimer = 0;
    std::vector<MSG> workerSaw;
    std::thread worker([&]() {
        uWorkerTimer = SetTimer(nullptr, 0, 10, nullptr);
        std::this_thread::sleep_for(milliseconds(40));
        PostMessageW(hWnd, WM_APP + 4, 0, 0);
        workerSaw = Take();
        KillTimer(nullptr, uWorkerTimer);
    });
    worker.join();
    ASSERT_NE(uWorkerTimer, 0u);
    ASSERT_EQ(workerSaw.size(), 1u);
    EXPECT_EQ(workerSaw[0].hwnd, nullptr);
    EXPECT_EQ(workerSaw[0].wParam, uWorkerTimer);

    const std::vector<MSG> mainSaw = Take();
    ASSERT_EQ(mainSaw.size(), 2u);
    EXPECT_EQ(mainSaw[0].message, static_cast<UINT>(WM_APP + 4));
    EXPECT_EQ(mainSaw[1].hwnd, hWnd);
    EXPECT_EQ(mainSaw[1].wParam, 4u);
}
