// Umbrella header of the multimedia timer calls.
#pragma once

#include "platform/win32/multimedia_timer.h"
