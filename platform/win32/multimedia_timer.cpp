#include "platform/win32/multimedia_timer.h"

#include "platform/win32/clock.h"

#include <atomic>

namespace {

const UINT minimumPeriod = 1;
const UINT maximumPeriod = 1000000;
std::atomic<int> periods{0};

} // namespace

DWORD WINAPI timeGetTime()
{
    return (DWORD)platform::clockMilliseconds();
}

MMRESULT WINAPI timeGetDevCaps(LPTIMECAPS caps, UINT size)
{
    if (!caps || size < sizeof(TIMECAPS))
        return TIMERR_STRUCT;
    caps->wPeriodMin = minimumPeriod;
    caps->wPeriodMax = maximumPeriod;
    return TIMERR_NOERROR;
}

MMRESULT WINAPI timeBeginPeriod(UINT period)
{
    if (period < minimumPeriod || period > maximumPeriod)
        return TIMERR_NOCANDO;
    ++periods;
    return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT period)
{
    if (period < minimumPeriod || period > maximumPeriod || periods.load() == 0)
        return TIMERR_NOCANDO;
    --periods;
    return TIMERR_NOERROR;
}

namespace platform {

int activeTimerPeriods()
{
    return periods.load();
}

} // namespace platform
