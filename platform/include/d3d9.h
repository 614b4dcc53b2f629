// Umbrella header of the Direct3D 9 stand-in.
#pragma once

#include "platform/win32/win_types.h"
#include "platform/com/unknwn.h"
#include "platform/d3d9/d3d9_types.h"
#include "platform/d3d9/d3d9_defs.h"
#include "platform/d3d9/d3d9_caps.h"
#include "platform/d3d9/d3d9_states.h"
#include "platform/d3d9/d3d9_interfaces.h"
