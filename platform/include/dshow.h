// Umbrella header of the DirectShow stand-in: interfaces, the base classes
// filters derive from, and the Video Mixing Renderer 9.
#pragma once

#include "platform/win32/win_types.h"
#include "platform/com/com.h"
#include "platform/com/moniker.h"
#include "platform/com/oleauto.h"
#include "platform/dshow/dshow_types.h"
#include "platform/dshow/dshow_interfaces.h"
#include "platform/dshow/base_classes.h"
#include "platform/dshow/vmr9_types.h"
