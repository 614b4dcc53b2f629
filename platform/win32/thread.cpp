#include "platform/win32/thread.h"

#include "platform/win32/kernel_object_internal.h"

#include <atomic>
#include <system_error>
#include <thread>

#include <unistd.h>

using namespace platform::detail;

namespace {

std::atomic<DWORD> nextThreadId{0x104};
thread_local DWORD currentThreadId = 0;
thread_local int currentPriority = THREAD_PRIORITY_NORMAL;

HANDLE const currentThreadPseudoHandle = (HANDLE)(LONG_PTR)-2;

struct ThreadObject : KernelObject {
    DWORD id = 0;
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    // Guarded by kernelLock():
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
    DWORD suspendCount = 0;
    int priority = THREAD_PRIORITY_NORMAL;

    bool signalled() const override { return finished; }
};

void runThread(std::shared_ptr<ThreadObject> thread)
{
    currentThreadId = thread->id;
    {
        std::unique_lock<std::mutex> lock(kernelLock());
        kernelChanged().wait(lock, [&] { return thread->suspendCount == 0; });
        currentPriority = thread->priority;
    }
    DWORD code = thread->start(thread->parameter);
    {
        std::lock_guard<std::mutex> lock(kernelLock());
        thread->exitCode = code;
        thread->finished = true;
        // This thread's reference goes before a waiter can see the end: once
        // the wait returns and the handle is closed, the object is gone.
        thread.reset();
    }
    kernelChanged().notify_all();
}

std::shared_ptr<ThreadObject> threadOf(HANDLE handle)
{
    return std::dynamic_pointer_cast<ThreadObject>(lookupHandle(handle));
}

} // namespace

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                           DWORD flags, LPDWORD threadId)
{
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>();
    thread->id = nextThreadId.fetch_add(4);
    thread->start = start;
    thread->parameter = parameter;
    thread->suspendCount = (flags & CREATE_SUSPENDED) ? 1 : 0;
    try {
        std::thread(runThread, thread).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId)
        *threadId = thread->id;
    return insertHandle(thread);
}

DWORD WINAPI ResumeThread(HANDLE handle)
{
    auto thread = threadOf(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return (DWORD)-1;
    }
    DWORD previous;
    {
        std::lock_guard<std::mutex> lock(kernelLock());
        previous = thread->suspendCount;
        if (thread->suspendCount > 0)
            --thread->suspendCount;
    }
    kernelChanged().notify_all();
    return previous;
}

BOOL WINAPI SetThreadPriority(HANDLE handle, int priority)
{
    bool valid = (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST) ||
                 priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL;
    if (!valid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (handle == currentThreadPseudoHandle) {
        currentPriority = priority;
        return TRUE;
    }
    auto thread = threadOf(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(kernelLock());
    thread->priority = priority;
    return TRUE;
}

int WINAPI GetThreadPriority(HANDLE handle)
{
    if (handle == currentThreadPseudoHandle)
        return currentPriority;
    auto thread = threadOf(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    std::lock_guard<std::mutex> lock(kernelLock());
    return thread->priority;
}

BOOL WINAPI GetExitCodeThread(HANDLE handle, LPDWORD exitCode)
{
    auto thread = threadOf(handle);
    if (!thread || !exitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(kernelLock());
    *exitCode = thread->exitCode;
    return TRUE;
}

HANDLE WINAPI GetCurrentThread()
{
    return currentThreadPseudoHandle;
}

DWORD WINAPI GetCurrentThreadId()
{
    if (!currentThreadId)
        currentThreadId = nextThreadId.fetch_add(4);
    return currentThreadId;
}

DWORD WINAPI GetCurrentProcessId()
{
    return (DWORD)getpid();
}
