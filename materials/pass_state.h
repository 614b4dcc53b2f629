// Module-wide state of the render pass in progress, read by everything that
// draws surfaces (mesh drawing, the surface set-up, the shader pairs) and
// written only by the scene passes.
#pragma once

#include "foundation/types.h"

// Which kind of pass draws now: 0 normal drawing, 1 a depth-only shadow
// map, 2 a shadow map with depth encoded in colour. 0 outside the shadow-map
// pass.
extern i32 shadowPassMode;
