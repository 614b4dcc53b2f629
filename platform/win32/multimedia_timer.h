// The multimedia timer calls: timeGetTime follows the process clock (manual
// under tests); the period calls change nothing on Linux, whose sleeps are
// already fine-grained, but are counted so that tests can check pairing.
#pragma once

#include "platform/win32/win_types.h"

typedef UINT MMRESULT;

typedef struct timecaps_tag {
    UINT wPeriodMin;
    UINT wPeriodMax;
} TIMECAPS, *PTIMECAPS, *LPTIMECAPS;

#define TIMERR_NOERROR 0
#define TIMERR_NOCANDO 97
#define TIMERR_STRUCT 129
#define MMSYSERR_NOERROR 0

DWORD WINAPI timeGetTime();
MMRESULT WINAPI timeGetDevCaps(LPTIMECAPS caps, UINT size);
MMRESULT WINAPI timeBeginPeriod(UINT period);
MMRESULT WINAPI timeEndPeriod(UINT period);

namespace platform {

// timeBeginPeriod calls not yet matched by timeEndPeriod.
int activeTimerPeriods();

} // namespace platform
