// Umbrella header of the COM stand-in.
#pragma once

#include "platform/win32/win_types.h"
#include "platform/com/unknwn.h"
#include "platform/com/com.h"
#include "platform/com/objidl.h"
