// Umbrella header of the DirectInput 8 stand-in.
#pragma once

#include "platform/win32/win_types.h"
#include "platform/com/unknwn.h"
#include "platform/dinput/dinput_defs.h"
#include "platform/dinput/dinput_interfaces.h"
