// Umbrella header of the DirectSound 8 stand-in.
#pragma once

#include <mmsystem.h>

#include "platform/dsound/dsound_interfaces.h"
