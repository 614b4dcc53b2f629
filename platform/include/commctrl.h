// Common controls of the Win32 stand-in. The dialog controls the engine
// uses are built in (dialog_controls.h); InitCommonControls has nothing to
// register.
#pragma once

#include <windows.h>

#include "platform/win32/dialog_controls.h"
