// The windowing subset: classes, window lifetime, timers and per-thread queues, as
// the store's hidden-window timer and the hosts' message loops rely on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

#include "compat/win32.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Seen = std::vector<std::tuple<HWND, UINT, WPARAM>>;  // window, message, wParam

const WCHAR kProbeClass[] = u"CalStoreTest.Probe";

long long MsSince(Clock::time_point t0)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - t0).count();
}
void Sleep(int nMs) { std::this_thread::sleep_for(milliseconds(nMs)); }

// What a window's procedure saw. It rides in as the creation parameter, the way real
// windows pass their owning object; lNcCreate and lCreate are what it answers. It
// destroys its window when it goes.
struct CProbe {
    ~CProbe()
    {
        if (IsWindow(hWnd)) {
            SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
            DestroyWindow(hWnd);
        }
    }
    std::vector<UINT> messages;
    std::vector<LPVOID> createParams;  // from WM_NCCREATE and WM_CREATE
    HWND hWnd = nullptr;
    LRESULT lNcCreate = TRUE, lCreate = 0;
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
    if (uMsg == WM_NCCREATE || uMsg == WM_CREATE) {
        pProbe->hWnd = hWnd;
        pProbe->createParams.push_back(pcs->lpCreateParams);
        return uMsg == WM_NCCREATE ? pProbe->lNcCreate : pProbe->lCreate;
    }
    return uMsg == WM_APP ? 1234 : DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

HWND CreateProbeWindow(CProbe& probe, LPCWSTR pszClass = kProbeClass, HWND hParent = nullptr)
{
    return CreateWindowExW(0, pszClass, nullptr, 0, 0, 0, 0, 0, hParent, nullptr, nullptr, &probe);
}

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
    // Nothing left over from earlier tests, or for later ones.
    void SetUp() override { Take(); }
    void TearDown() override { Take(); }
};

}  // namespace

// Class names ignore case and register once. The procedure sees the creation
// parameter in both creation messages and may refuse either; a refused window is
// gone. A parent must exist. Destroying a window notifies it and drops its timers
// and queued messages.
TEST_F(WinuserTest, ClassesAndWindowLifetime)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = &ProbeProc;
    wc.lpszClassName = u"CalStoreTest.MixedCase";
    const ATOM atom = RegisterClassW(&wc);
    ASSERT_NE(atom, 0);
    wc.lpszClassName = u"CALSTORETEST.mixedcase";
    EXPECT_EQ(RegisterClassW(&wc), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));
    CProbe probe, child, other, orphan, refuseNc, refuseCreate;
    for (LPCWSTR pszClass : {LPCWSTR(u"calstoretest.MIXEDCASE"), MAKEINTATOM(atom)}) {
        EXPECT_TRUE(DestroyWindow(CreateProbeWindow(probe, pszClass)));
    }
    EXPECT_TRUE(UnregisterClassW(u"CalStoreTest.MIXEDCASE", nullptr));
    EXPECT_EQ(CreateProbeWindow(probe, u"CalStoreTest.MixedCase"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_DOES_NOT_EXIST));

    probe.messages.clear();
    probe.createParams.clear();
    HWND hWnd = CreateProbeWindow(probe, kProbeClass, HWND_MESSAGE);
    HWND hWndOther = CreateProbeWindow(other);
    EXPECT_NE(CreateProbeWindow(child, kProbeClass, hWnd), nullptr);
    EXPECT_EQ(probe.hWnd, hWnd);
    EXPECT_EQ(probe.createParams, (std::vector<LPVOID>{&probe, &probe}));
    EXPECT_EQ(CreateProbeWindow(orphan, kProbeClass, reinterpret_cast<HWND>(0x7FF0)), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(orphan.messages.empty());

    ASSERT_EQ(SetTimer(hWnd, 1, 20, nullptr), 1u);
    ASSERT_TRUE(PostMessageW(hWnd, WM_APP, 0, 0));
    ASSERT_TRUE(PostMessageW(hWndOther, WM_APP + 1, 0, 0));
    EXPECT_TRUE(DestroyWindow(hWnd));
    EXPECT_EQ(probe.messages, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(hWnd));
    Sleep(50);
    EXPECT_EQ(Take(), (Seen{{hWndOther, WM_APP + 1, 0}}));
    EXPECT_FALSE(DestroyWindow(hWnd));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(PostMessageW(hWnd, WM_APP, 0, 0));

    refuseNc.lNcCreate = FALSE;
    refuseCreate.lCreate = -1;
    for (CProbe* pRefused : {&refuseNc, &refuseCreate}) {
        EXPECT_EQ(CreateProbeWindow(*pRefused), nullptr);
        ASSERT_NE(pRefused->hWnd, nullptr);
        EXPECT_FALSE(IsWindow(pRefused->hWnd));
    }
    EXPECT_EQ(refuseNc.Count(WM_CREATE), 0);
    EXPECT_EQ(refuseCreate.Count(WM_NCDESTROY), 1);
}

// A timer's message comes only when the queue is read, once however many intervals
// passed, until the timer is killed. GetMessage blocks until a timer is due or
// another thread posts; posted messages come first, then the quit request (once),
// then timers. PeekMessage filters by window (-1: thread messages) and range.
TEST_F(WinuserTest, TimersAndQueues)
{
    CProbe probe, b;
    HWND hWnd = CreateProbeWindow(probe), hWndB = CreateProbeWindow(b);
    ASSERT_EQ(SetTimer(hWnd, 42, 30, nullptr), 42u);
    Sleep(160);
    EXPECT_EQ(probe.Count(WM_TIMER), 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(Take().empty()) << "missed intervals must not pile up";
    EXPECT_EQ(std::make_tuple(msg.hwnd, msg.message, msg.wParam), std::make_tuple(hWnd, UINT(WM_TIMER), WPARAM(42)));
    EXPECT_EQ(DispatchMessageW(&msg), 0);
    EXPECT_EQ(probe.Count(WM_TIMER), 1);
    EXPECT_TRUE(KillTimer(hWnd, 42));
    Sleep(60);
    EXPECT_TRUE(Take().empty());
    EXPECT_FALSE(KillTimer(hWnd, 42));
    ASSERT_NE(SetTimer(hWnd, 5, 60, nullptr), 0u);
    Clock::time_point t0 = Clock::now();
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_GE(MsSince(t0), 55);
    KillTimer(hWnd, 5);

    ASSERT_NE(SetTimer(hWnd, 99, 300, nullptr), 0u);  // ends the wait should the post not
    t0 = Clock::now();
    std::thread poster([hWnd]() {
        Sleep(50);
        PostMessageW(hWnd, WM_APP + 3, 11, 0);
    });
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    poster.join();
    EXPECT_EQ(msg.message, UINT(WM_APP + 3));
    EXPECT_LT(MsSince(t0), 250) << "the post must wake the waiting thread";
    KillTimer(hWnd, 99);

    ASSERT_NE(SetTimer(hWnd, 6, 15, nullptr), 0u);
    Sleep(40);
    PostMessageW(hWnd, WM_APP, 0, 0);
    PostMessageW(hWndB, WM_APP + 1, 0, 0);
    PostMessageW(nullptr, WM_APP + 2, 0, 0);  // a thread message
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
    EXPECT_EQ(msg.hwnd, hWnd);
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
}

// A window belongs to the thread that made it: only that thread dispatches to it,
// destroys it or sets its timers; each thread takes only its own messages.
TEST_F(WinuserTest, WindowsAndQueuesBelongToTheirThread)
{
    CProbe probe;
    HWND hWnd = CreateProbeWindow(probe);
    ASSERT_NE(SetTimer(hWnd, 4, 10, nullptr), 0u);
    UINT_PTR uWorkerTimer = 0;
    Seen workerSaw;
    std::thread worker([&]() {
        const MSG msg{hWnd, WM_APP + 5, 0, 0, 0, POINT{0, 0}, 0};
        EXPECT_EQ(DispatchMessageW(&msg), 0);
        EXPECT_FALSE(DestroyWindow(hWnd));
        EXPECT_EQ(SetTimer(hWnd, 9, 10, nullptr), 0u);
        EXPECT_FALSE(KillTimer(hWnd, 4));
        uWorkerTimer = SetTimer(nullptr, 0, 10, nullptr);
        Sleep(40);
        PostMessageW(hWnd, WM_APP + 4, 0, 0);
        workerSaw = Take();
        KillTimer(nullptr, uWorkerTimer);
    });
    worker.join();
    EXPECT_TRUE(IsWindow(hWnd));
    EXPECT_EQ(probe.Count(WM_APP + 5), 0);
    EXPECT_EQ(workerSaw, (Seen{{nullptr, WM_TIMER, uWorkerTimer}}));
    EXPECT_EQ(Take(), (Seen{{hWnd, WM_APP + 4, 0}, {hWnd, WM_TIMER, 4}}));
}
