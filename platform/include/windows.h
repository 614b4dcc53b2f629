// Umbrella header of the Win32 stand-in.
#pragma once

#include "platform/win32/win_types.h"
#include "platform/win32/crt.h"
#include "platform/win32/message_box.h"
#include "platform/win32/resources.h"
