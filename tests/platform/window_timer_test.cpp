#include "window_test_support.h"

#include <mmsystem.h>

#include <thread>

namespace {

class WindowTimerTest : public WindowingTest {
protected:
    void SetUp() override
    {
        WindowingTest::SetUp();
        platform::setManualClock(true);
    }

    // WM_TIMER messages retrieved (and dispatched) while the clock moves
    // forward in steps.
    std::vector<MSG> timersOver(uint32_t total, uint32_t step)
    {
        std::vector<MSG> timers;
        for (uint32_t t = 0; t < total; t += step) {
            platform::advanceClock(step);
            for (const MSG& m : drainQueue())
                if (m.message == WM_TIMER)
                    timers.push_back(m);
        }
        return timers;
    }
};

TEST_F(WindowTimerTest, FiresEveryPeriodUntilKilled)
{
    HWND w = makeWindow();
    ASSERT_EQ(SetTimer(w, 1, 100, nullptr), 1u);
    platform::advanceClock(99);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    platform::advanceClock(1);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_TIMER);
    EXPECT_EQ(msg.hwnd, w);
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(msg.lParam, 0);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

    // About every 100 ms: ten in one second of 10 ms steps.
    EXPECT_EQ(timersOver(1000, 10).size(), 10u);
    EXPECT_EQ(seenOf(WM_TIMER).size(), 10u);

    ASSERT_TRUE(KillTimer(w, 1));
    EXPECT_TRUE(timersOver(500, 50).empty());
    EXPECT_FALSE(KillTimer(w, 1));
}

TEST_F(WindowTimerTest, MissedPeriodsCoalesceAndPeekingDoesNotRearm)
{
    HWND w = makeWindow();
    SetTimer(w, 1, 100, nullptr);
    platform::advanceClock(350);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)); // still there
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_TIMER);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)); // one message for three periods
    platform::advanceClock(49);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    platform::advanceClock(1); // the next period boundary (400)
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowTimerTest, TimersComeAfterPostedInputAndPaintMessages)
{
    HWND w = makeWindow();
    ShowWindow(w, SW_SHOW);
    SetTimer(w, 1, 100, nullptr);
    platform::advanceClock(100);
    PostMessageA(w, WM_USER, 0, 0);
    std::vector<MSG> got = drainQueue();
    std::vector<UINT> order;
    for (const MSG& m : got)
        order.push_back(m.message);
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER, WM_PAINT, WM_TIMER}));
}

TEST_F(WindowTimerTest, CallbackTimersRunThroughDispatch)
{
    struct Callback {
        static std::vector<std::pair<HWND, UINT_PTR>>& calls()
        {
            static std::vector<std::pair<HWND, UINT_PTR>> c;
            return c;
        }
        static void CALLBACK proc(HWND w, UINT message, UINT_PTR id, DWORD)
        {
            EXPECT_EQ(message, (UINT)WM_TIMER);
            calls().emplace_back(w, id);
        }
    };
    Callback::calls().clear();
    HWND w = makeWindow();
    ASSERT_TRUE(SetTimer(w, 0xDEAD, 250, &Callback::proc));
    timersOver(500, 50);
    ASSERT_EQ(Callback::calls().size(), 2u);
    EXPECT_EQ(Callback::calls()[0], (std::pair<HWND, UINT_PTR>{w, 0xDEAD}));
    EXPECT_TRUE(seenOf(WM_TIMER).empty()); // the callback, not the window procedure

    // Setting it again restarts the period.
    platform::advanceClock(200);
    SetTimer(w, 0xDEAD, 250, &Callback::proc);
    platform::advanceClock(200);
    drainQueue();
    EXPECT_EQ(Callback::calls().size(), 2u);

    // A forged lParam calls nothing.
    MSG forged{w, WM_TIMER, 0xBEEF, (LPARAM)&Callback::proc, 0, {0, 0}};
    DispatchMessageA(&forged);
    EXPECT_EQ(Callback::calls().size(), 2u);
}

TEST_F(WindowTimerTest, ThreadTimersGetTheirOwnIds)
{
    UINT_PTR first = SetTimer(nullptr, 0, 100, nullptr);
    UINT_PTR second = SetTimer(nullptr, 0, 100, nullptr);
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    EXPECT_NE(first, second);
    platform::advanceClock(100);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_TRUE(KillTimer(nullptr, first));
    EXPECT_TRUE(KillTimer(nullptr, second));
    EXPECT_EQ(SetTimer((HWND)0x4321, 1, 100, nullptr), 0u); // not a window
}

TEST_F(WindowTimerTest, GetMessageWakesWhenTheClockReachesATimer)
{
    HWND w = makeWindow();
    SetTimer(w, 1, 100, nullptr);
    std::thread clock([] { platform::advanceClock(100); });
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, (UINT)WM_TIMER);
    clock.join();
}

TEST_F(WindowTimerTest, ClocksFollowTheManualClock)
{
    DWORD tick = GetTickCount();
    DWORD time = timeGetTime();
    LARGE_INTEGER frequency, before, after;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 10000000);
    QueryPerformanceCounter(&before);
    platform::advanceClock(5);
    QueryPerformanceCounter(&after);
    EXPECT_EQ(GetTickCount() - tick, 5u);
    EXPECT_EQ(timeGetTime() - time, 5u);
    EXPECT_EQ(after.QuadPart - before.QuadPart, 50000);

    platform::setManualClock(false);
    ULONGLONG start = GetTickCount64();
    platform::advanceClock(10000000); // ignored by the real clock
    ULONGLONG end = GetTickCount64();
    EXPECT_GE(end, start);
    EXPECT_LT(end - start, 10000000u);
}

TEST_F(WindowTimerTest, MultimediaTimerPeriodsPair)
{
    TIMECAPS caps{1, 0};
    ASSERT_EQ(timeGetDevCaps(&caps, sizeof caps), (MMRESULT)TIMERR_NOERROR);
    EXPECT_EQ(caps.wPeriodMin, 1u);
    EXPECT_GE(caps.wPeriodMax, caps.wPeriodMin);
    EXPECT_EQ(timeGetDevCaps(&caps, 2), (MMRESULT)TIMERR_STRUCT);
    EXPECT_EQ(timeGetDevCaps(nullptr, sizeof caps), (MMRESULT)TIMERR_STRUCT);

    int before = platform::activeTimerPeriods();
    EXPECT_EQ(timeBeginPeriod(caps.wPeriodMin), (MMRESULT)TIMERR_NOERROR);
    EXPECT_EQ(platform::activeTimerPeriods(), before + 1);
    EXPECT_EQ(timeEndPeriod(caps.wPeriodMin), (MMRESULT)TIMERR_NOERROR);
    EXPECT_EQ(platform::activeTimerPeriods(), before);
    EXPECT_EQ(timeBeginPeriod(0), (MMRESULT)TIMERR_NOCANDO);
    if (before == 0) {
        EXPECT_EQ(timeEndPeriod(1), (MMRESULT)TIMERR_NOCANDO);
    }
}

} // namespace
