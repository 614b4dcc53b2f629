// A debugging view: a projected quad with its four edge normals, drawn as
// eight white lines in screen pixels.
#pragma once

#include "foundation/types.h"

class Engine;

namespace outline {

struct ScreenVertex { // FVF 0x44: xyzrhw, diffuse
    float x, y, z, rhw;
    u32 color;
};

// corners: four clip-space (x, y, w); normals: four 2-D edge normals for
// the edges 0-1, 1-3, 3-2, 2-0. Fills the twelve vertices the lines use.
void project(const float corners[4][3], const float normals[4][2], float width, float height,
             ScreenVertex out[12]);
// The eight lines' vertex pairs.
extern const u16 lineIndices[16];
void draw(Engine* engine, const float corners[4][3], const float normals[4][2]);

} // namespace outline
