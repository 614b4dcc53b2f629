#include <windows.h>

#include "platform/win32/kernel_object_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <unistd.h>

namespace {

DWORD WINAPI returnParameter(LPVOID parameter)
{
    return (DWORD)(uintptr_t)parameter;
}

TEST(Threads, RunAndSignalTheirHandleWhenDone)
{
    struct Seen {
        DWORD id = 0;
        static DWORD WINAPI run(LPVOID p)
        {
            static_cast<Seen*>(p)->id = GetCurrentThreadId();
            return 17;
        }
    } seen;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &Seen::run, &seen, 0, &id);
    ASSERT_TRUE(thread);
    EXPECT_NE(id, 0u);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(seen.id, id);
    EXPECT_NE(id, GetCurrentThreadId());
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 17u);
    // A finished thread stays signalled.
    EXPECT_EQ(WaitForSingleObject(thread, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(CloseHandle(thread));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}

TEST(Threads, AreFreedOnceWaitedForAndClosed)
{
    // A leak check right after the wait and the close must find nothing.
    const int before = platform::detail::liveKernelObjects();
    for (int i = 0; i < 300; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, returnParameter, nullptr, 0, nullptr);
        ASSERT_TRUE(thread);
        ASSERT_EQ(WaitForSingleObject(thread, INFINITE), (DWORD)WAIT_OBJECT_0);
        CloseHandle(thread);
        ASSERT_EQ(platform::detail::liveKernelObjects(), before) << "round " << i;
    }
}

TEST(Threads, SuspendedThreadsWaitForResumeAndKeepTheirPriority)
{
    HANDLE thread = CreateThread(nullptr, 0, returnParameter, (LPVOID)5, CREATE_SUSPENDED, nullptr);
    ASSERT_TRUE(thread);
    EXPECT_EQ(WaitForSingleObject(thread, 0), (DWORD)WAIT_TIMEOUT);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_HIGHEST);
    EXPECT_FALSE(SetThreadPriority(thread, 7));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), (DWORD)WAIT_OBJECT_0);
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 5u);
    CloseHandle(thread);

    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_ABOVE_NORMAL);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(GetCurrentProcessId(), (DWORD)getpid());
}

TEST(Events, NamedEventsAreSharedByName)
{
    HANDLE first = CreateEventA(nullptr, FALSE, FALSE, "BufferNotify");
    ASSERT_TRUE(first);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
    HANDLE second = CreateEventA(nullptr, TRUE, TRUE, "BufferNotify"); // flags of the second call do not count
    ASSERT_TRUE(second);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_NE(first, second);

    EXPECT_EQ(WaitForSingleObject(second, 100), (DWORD)WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(first));
    EXPECT_EQ(WaitForSingleObject(second, 100), (DWORD)WAIT_OBJECT_0);
    // Auto-reset: the wait took the signal.
    EXPECT_EQ(WaitForSingleObject(first, 0), (DWORD)WAIT_TIMEOUT);

    HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, "BufferNotify");
    ASSERT_TRUE(opened);
    HANDLE unrelated = CreateEventA(nullptr, FALSE, FALSE, "Other");
    SetEvent(unrelated);
    EXPECT_EQ(WaitForSingleObject(opened, 0), (DWORD)WAIT_TIMEOUT);

    CloseHandle(first);
    CloseHandle(second);
    CloseHandle(opened);
    CloseHandle(unrelated);
    // With every handle closed the name is free: a new event, unsignalled.
    HANDLE fresh = CreateEventA(nullptr, FALSE, FALSE, "BufferNotify");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "NoSuchEvent"), nullptr);
    CloseHandle(fresh);
}

TEST(Events, OneSetEventWakesOneWaiterOfAnAutoResetEvent)
{
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "WakeOne");
    std::atomic<int> woken{0};
    auto waiter = [&] {
        HANDLE own = CreateEventA(nullptr, FALSE, FALSE, "WakeOne");
        EXPECT_EQ(WaitForSingleObject(own, INFINITE), (DWORD)WAIT_OBJECT_0);
        ++woken;
        CloseHandle(own);
    };
    std::thread a(waiter), b(waiter);
    SetEvent(event);
    while (woken.load() == 0)
        std::this_thread::yield();
    // The one signal was consumed by one waiter; the other still waits.
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(woken.load(), 1);
    SetEvent(event);
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 2);
    CloseHandle(event);
}

TEST(Events, ManualResetEventsReleaseEveryoneUntilReset)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> woken{0};
    auto waiter = [&] {
        EXPECT_EQ(WaitForSingleObject(event, INFINITE), (DWORD)WAIT_OBJECT_0);
        ++woken;
    };
    std::thread a(waiter), b(waiter), c(waiter);
    SetEvent(event);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_OBJECT_0);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_FALSE(SetEvent(nullptr));
    EXPECT_FALSE(ResetEvent((HANDLE)0x7777));
    CloseHandle(event);
}

TEST(Events, WaitForMultipleObjectsAnyAndAll)
{
    HANDLE events[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), (DWORD)WAIT_TIMEOUT);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), (DWORD)WAIT_OBJECT_0 + 1);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), (DWORD)WAIT_TIMEOUT); // the first is not set
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(events[1], 0), (DWORD)WAIT_TIMEOUT); // consumed by the wait for all
    EXPECT_EQ(WaitForMultipleObjects(0, events, FALSE, 0), WAIT_FAILED);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
}

TEST(CriticalSections, SerialiseAndNest)
{
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            EnterCriticalSection(&section);
            ++counter;
            LeaveCriticalSection(&section);
        }
    };
    std::thread a(work), b(work), c(work);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(counter, 60000);

    EnterCriticalSection(&section);
    EnterCriticalSection(&section); // the owner may enter again
    bool otherGotIn = true;
    std::thread([&] { otherGotIn = TryEnterCriticalSection(&section) != FALSE; }).join();
    EXPECT_FALSE(otherGotIn);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    std::thread([&] {
        otherGotIn = TryEnterCriticalSection(&section) != FALSE;
        if (otherGotIn)
            LeaveCriticalSection(&section);
    }).join();
    EXPECT_TRUE(otherGotIn);
    DeleteCriticalSection(&section);
}

TEST(Interlocked, ReturnValuesAndAtomicity)
{
    LONG volatile value = 0;
    EXPECT_EQ(InterlockedIncrement(&value), 1);
    EXPECT_EQ(InterlockedDecrement(&value), 0);
    EXPECT_EQ(InterlockedDecrement(&value), -1);
    EXPECT_EQ(InterlockedExchange(&value, 10), -1);
    EXPECT_EQ(InterlockedExchangeAdd(&value, 5), 10);
    EXPECT_EQ(InterlockedCompareExchange(&value, 99, 14), 15); // no match: unchanged
    EXPECT_EQ(value, 15);
    EXPECT_EQ(InterlockedCompareExchange(&value, 99, 15), 15);
    EXPECT_EQ(value, 99);

    value = 0;
    auto work = [&] {
        for (int i = 0; i < 50000; ++i)
            InterlockedIncrement(&value);
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(value, 100000);
}

} // namespace
