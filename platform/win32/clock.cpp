#include "platform/win32/clock.h"

#include "platform/win32/windowing_internal.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {

namespace {

std::atomic<bool> manualMode{false};
std::atomic<uint64_t> manualMicros{0};

uint64_t realMicros()
{
    // steady_clock counts from boot on Linux, like the Windows tick count.
    return (uint64_t)std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void setManualClock(bool manual)
{
    manualMicros = 0;
    manualMode = manual;
    detail::rebaseTimers();
    detail::wakeAllQueues();
}

bool manualClock()
{
    return manualMode;
}

void advanceClock(uint32_t milliseconds)
{
    if (!manualMode)
        return;
    manualMicros += (uint64_t)milliseconds * 1000;
    detail::wakeAllQueues();
}

uint64_t clockMicroseconds()
{
    return manualMode ? manualMicros.load() : realMicros();
}

} // namespace platform

DWORD WINAPI GetTickCount()
{
    return (DWORD)platform::clockMilliseconds();
}

ULONGLONG WINAPI GetTickCount64()
{
    return platform::clockMilliseconds();
}

// 10 MHz, the frequency current Windows reports.
static const LONGLONG performanceFrequency = 10000000;

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count)
{
    if (!count)
        return FALSE;
    if (platform::manualClock()) {
        count->QuadPart = (LONGLONG)platform::clockMicroseconds() * 10;
    } else {
        count->QuadPart = (LONGLONG)(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count() /
                                     100);
    }
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    if (!frequency)
        return FALSE;
    frequency->QuadPart = performanceFrequency;
    return TRUE;
}

void WINAPI Sleep(DWORD milliseconds)
{
    if (milliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
