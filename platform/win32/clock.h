// Process clocks: GetTickCount, the performance counter, Sleep. Tests can
// switch to a manual clock that only moves when they advance it; window
// timers and timeGetTime follow the same clock.
#pragma once

#include "platform/win32/win_types.h"

#include <cstdint>

DWORD WINAPI GetTickCount();
ULONGLONG WINAPI GetTickCount64();
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency);
// Always waits in real time, also under the manual clock; 0 yields.
void WINAPI Sleep(DWORD milliseconds);

namespace platform {

// Switching either way restarts the manual clock at 0 ms and re-bases the
// due times of running window timers on the new clock.
void setManualClock(bool manual);
bool manualClock();
// Moves the manual clock forward and wakes threads waiting for timers.
// Ignored while the real clock runs.
void advanceClock(uint32_t milliseconds);

// The clock in microseconds since an arbitrary start (real or manual).
uint64_t clockMicroseconds();
inline uint64_t clockMilliseconds()
{
    return clockMicroseconds() / 1000;
}

} // namespace platform
