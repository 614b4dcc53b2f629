// Common dialogs of the Win32 stand-in: the save-file chooser.
#pragma once

#include <windows.h>

#include "platform/win32/common_dialogs.h"
