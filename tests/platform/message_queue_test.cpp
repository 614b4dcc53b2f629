#include "window_test_support.h"

#include "platform/win32/termination.h"

#include <atomic>
#include <csignal>
#include <thread>

namespace {

const UINT A = WM_USER + 1;
const UINT B = WM_USER + 2;
const UINT C = WM_USER + 3;

using MessageQueueTest = WindowingTest;

TEST_F(MessageQueueTest, PostedMessagesArriveInOrderThroughPeekAndGet)
{
    HWND w = makeWindow();
    ASSERT_TRUE(PostMessageA(w, A, 1, 10));
    ASSERT_TRUE(PostMessageA(w, B, 2, 20));
    ASSERT_TRUE(PostMessageA(nullptr, C, 3, 30)); // a thread message

    MSG msg;
    // Peeking without removing shows the same head every time.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, A);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, A);

    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.hwnd, w);
    EXPECT_EQ(msg.message, A);
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(msg.lParam, 10);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, B);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, C);
    EXPECT_EQ(msg.hwnd, nullptr);
    // The window is hidden: nothing to paint, nothing left.
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(MessageQueueTest, QuitComesOnlyWhenNoPostedMessageWaits)
{
    HWND w = makeWindow();
    PostMessageA(w, A, 0, 0);
    PostMessageA(w, B, 0, 0);
    PostQuitMessage(7);
    PostMessageA(w, C, 0, 0); // posted after the quit request, still retrieved before it

    MSG msg;
    std::vector<UINT> order;
    BOOL result;
    while ((result = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        ASSERT_EQ(result, 1);
        order.push_back(msg.message);
    }
    EXPECT_EQ(order, (std::vector<UINT>{A, B, C}));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

// SIGINT and SIGTERM end the loop of a thread with a window as WM_QUIT.
TEST_F(MessageQueueTest, TerminationSignalsQuitTheWindowsThread)
{
    HWND w = makeWindow();
    SetTimer(w, 1, 5000, nullptr); // a way out when no quit comes
    for (int number : {SIGINT, SIGTERM}) {
        ASSERT_EQ(std::raise(number), 0);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) != 0 && msg.message != WM_TIMER) {
        }
        EXPECT_EQ(msg.message, (UINT)WM_QUIT) << number;
        EXPECT_EQ(msg.wParam, 0u);
    }
    platform::detail::forgetTerminationRequest(); // effect compiles after this test still run
}

TEST_F(MessageQueueTest, PeekWithoutRemoveLeavesQuitPendingAndQuitIgnoresFilters)
{
    HWND w = makeWindow();
    PostQuitMessage(3);
    PostQuitMessage(4); // coalesces; the last code counts
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    // Neither the window nor the range filter hides it.
    ASSERT_TRUE(PeekMessageA(&msg, w, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 4u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

// The frame loop's drain: peek without removing, get, translate and
// dispatch, and keep going after WM_QUIT until the queue is empty.
TEST_F(MessageQueueTest, DrainLoopRunsQueuedMessagesAfterQuit)
{
    struct Proc {
        static LRESULT CALLBACK quitting(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
        {
            if (message == A) {
                PostQuitMessage(0);
                PostMessageA(window, B, 0, 0);
            }
            return recordingProc(window, message, wParam, lParam);
        }
    };
    HWND w = makeWindow();
    SetWindowLongPtrA(w, GWLP_WNDPROC, (LONG_PTR)&Proc::quitting);
    SetFocus(w);
    PostMessageA(w, A, 0, 0);
    PostMessageA(w, C, 0, 0);
    platform::injectKey('K', true);
    seenMessages().clear();

    bool done = false;
    MSG msg;
    int passes = 0;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        ASSERT_LT(++passes, 100);
        if (!GetMessageA(&msg, nullptr, 0, 0)) {
            done = true;
        } else {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    EXPECT_TRUE(done);
    std::vector<UINT> dispatched;
    for (const SeenMessage& m : seenMessages())
        dispatched.push_back(m.message);
    // Posted messages (also the one posted by A's handler) come before the
    // quit; the key and its character after it.
    EXPECT_EQ(dispatched, (std::vector<UINT>{A, C, B, WM_KEYDOWN, WM_CHAR}));
}

TEST_F(MessageQueueTest, FiltersSelectByWindowAndRange)
{
    HWND first = makeWindow("first");
    HWND second = makeWindow("second");
    PostMessageA(first, A, 1, 0);
    PostMessageA(second, A, 2, 0);
    PostMessageA(first, WM_USER + 50, 3, 0);
    PostMessageA(nullptr, B, 4, 0);

    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, second, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 40, WM_USER + 60, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    ASSERT_TRUE(PeekMessageA(&msg, (HWND)-1, 0, 0, PM_REMOVE)); // thread messages only
    EXPECT_EQ(msg.wParam, 4u);
    EXPECT_FALSE(PeekMessageA(&msg, second, 0, 0, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
}

TEST_F(MessageQueueTest, BadArgumentsAreErrorsNotCrashes)
{
    HWND w = makeWindow();
    DestroyWindow(w);
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, w, 0, 0), -1);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
    EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PostMessageA(w, A, 0, 0));
    EXPECT_EQ(SendMessageA(w, A, 0, 0), 0);
    MSG stale{w, A, 0, 0, 0, {0, 0}};
    EXPECT_EQ(DispatchMessageA(&stale), 0);
    EXPECT_EQ(DispatchMessageA(nullptr), 0);
}

TEST_F(MessageQueueTest, DestroyingAWindowDropsItsMessages)
{
    HWND doomed = makeWindow("doomed");
    HWND other = makeWindow("other");
    PostMessageA(doomed, A, 0, 0);
    PostMessageA(other, B, 0, 0);
    DestroyWindow(doomed);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, B);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, PostedMessagesComeBeforeInputAndPaint)
{
    HWND w = makeWindow();
    ShowWindow(w, SW_SHOW); // needs a paint from now on
    platform::injectKey('Q', true);
    PostMessageA(w, A, 0, 0);

    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, A);
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, (UINT)WM_KEYDOWN);
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, (UINT)WM_PAINT);
    EXPECT_EQ(msg.hwnd, w);
}

TEST_F(MessageQueueTest, PaintStaysUntilTheWindowIsValidated)
{
    HWND w = makeWindow();
    ShowWindow(w, SW_SHOW);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)); // not removed
    EXPECT_EQ(msg.message, (UINT)WM_PAINT);
    ValidateRect(w, nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE));
    InvalidateRect(w, nullptr, FALSE);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    // The default procedure validates.
    DispatchMessageA(&msg);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE));
    // Hidden windows are not painted.
    InvalidateRect(w, nullptr, FALSE);
    ShowWindow(w, SW_HIDE);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE));
}

TEST_F(MessageQueueTest, GetMessageWaitsForAPostFromAnotherThread)
{
    HWND w = makeWindow();
    std::thread poster([w] { PostMessageA(w, B, 42, 0); });
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, B);
    EXPECT_EQ(msg.wParam, 42u);
    poster.join();
}

TEST_F(MessageQueueTest, SendMessageFromAnotherThreadRunsOnTheOwnerThread)
{
    struct Proc {
        static std::thread::id& ranOn()
        {
            static std::thread::id id;
            return id;
        }
        static LRESULT CALLBACK answering(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
        {
            if (message == A) {
                ranOn() = std::this_thread::get_id();
                return (LRESULT)(wParam * 2);
            }
            return DefWindowProcA(window, message, wParam, lParam);
        }
    };
    HWND w = makeWindow();
    SetWindowLongPtrA(w, GWLP_WNDPROC, (LONG_PTR)&Proc::answering);
    std::atomic<LRESULT> answer{0};
    std::thread sender([&] {
        answer = SendMessageA(w, A, 21, 0);
        PostMessageA(w, C, 0, 0);
    });
    MSG msg;
    // Sent messages are delivered inside GetMessageA without being returned.
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, C);
    sender.join();
    EXPECT_EQ(answer.load(), 42);
    EXPECT_EQ(Proc::ranOn(), std::this_thread::get_id());
}

TEST_F(MessageQueueTest, AFullQueueRefusesMorePosts)
{
    HWND w = makeWindow();
    int accepted = 0;
    while (accepted < 20000 && PostMessageA(w, A, accepted, 0))
        ++accepted;
    EXPECT_EQ(accepted, 10000);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_EQ(platform::queuedMessageCount(), 10000u);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_TRUE(PostMessageA(w, A, 0, 0));
}

TEST_F(MessageQueueTest, WaitMessageReturnsForSomethingNew)
{
    HWND w = makeWindow();
    PostMessageA(w, A, 0, 0);
    EXPECT_TRUE(WaitMessage());
    // A message already looked at does not count as new; one from another
    // thread does.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    std::thread poster([w] { PostMessageA(w, B, 0, 0); });
    EXPECT_TRUE(WaitMessage());
    poster.join();
    EXPECT_EQ(platform::queuedMessageCount(), 2u);
}

TEST_F(MessageQueueTest, DispatchReturnsTheProcedureResult)
{
    struct Proc {
        static LRESULT CALLBACK seven(HWND, UINT message, WPARAM, LPARAM) { return message == A ? 7 : 0; }
    };
    HWND w = makeWindow();
    SetWindowLongPtrA(w, GWLP_WNDPROC, (LONG_PTR)&Proc::seven);
    PostMessageA(w, A, 0, 0);
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(DispatchMessageA(&msg), 7);
    EXPECT_EQ(GetMessageTime(), (LONG)msg.time);
}

} // namespace
