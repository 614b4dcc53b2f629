// Direct3D 9 type definitions.
#pragma once

#include "platform/d3d9/d3d9_types.h"
