// IUnknown and GUIDs of the COM stand-in.
#pragma once

#include "platform/com/unknwn.h"
