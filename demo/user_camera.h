// State of the player's keys and the user camera between passes of the main
// loop (Demo::updateUserCamera).
#pragma once

#include "foundation/types.h"

extern double lastTick;   // GetTickCount at the previous pass, milliseconds
extern float lookX;       // smoothed mouse movement
extern float lookY;
extern i32 screenshotNumber;
extern i32 lastKeysetIndex; // the key-binding text shown last
