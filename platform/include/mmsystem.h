// Umbrella header of the multimedia calls: timers and the wave format.
#pragma once

#include "platform/win32/multimedia_timer.h"
#include "platform/win32/wave_format.h"
