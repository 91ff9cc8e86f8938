// The windowing subset as a host's message loop uses it: timers and per-thread
// queues. The store's own window and timer are tested through CRVxTimer.
#include <gtest/gtest.h>

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

// Answers WM_APP with 1234.
LRESULT CALLBACK ProbeProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return uMsg == WM_APP ? 1234 : DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// A window of this thread, destroyed when it goes.
struct CWindow {
    CWindow() : hWnd(CreateWindowExW(0, kProbeClass, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr)) {}
    ~CWindow() { DestroyWindow(hWnd); }
    const HWND hWnd;
};

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

// Nothing left over from earlier tests, or for later ones.
class WinuserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &ProbeProc;
        wc.lpszClassName = kProbeClass;
        static const ATOM s_atom = RegisterClassW(&wc);  // once, however often the suite runs
        ASSERT_NE(s_atom, 0);
    }
    void SetUp() override { Take(); }
    void TearDown() override { Take(); }
};

}  // namespace

// A post from another thread wakes GetMessage; posted messages come first, then
// the quit request (once), then timers. PeekMessage filters by window (-1: thread
// messages) and range. The timer's interval is checked through CRVxTimer.
TEST_F(WinuserTest, TimersAndQueues)
{
    CWindow window, windowB;
    const HWND hWnd = window.hWnd, hWndB = windowB.hWnd;
    MSG msg{};
    ASSERT_NE(SetTimer(hWnd, 99, 300, nullptr), 0u);  // ends the wait should the post not
    const Clock::time_point t0 = Clock::now();
    std::thread poster([hWnd]() {
        Sleep(50);
        PostMessageW(hWnd, WM_APP + 3, 11, 0);
    });
    EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    poster.join();
    EXPECT_EQ(msg.message, UINT(WM_APP + 3));
    EXPECT_LT(MsSince(t0), 250) << "the post must wake the waiting thread";
    EXPECT_TRUE(KillTimer(hWnd, 99));
    EXPECT_FALSE(KillTimer(hWnd, 99));

    ASSERT_NE(SetTimer(hWnd, 6, 15, nullptr), 0u);
    Sleep(40);
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
}
