// Simple polygon meshes for generated content: points and faces with
// corner indices, faces wound clockwise seen from outside (the object
// files' convention).
#pragma once

#include "foundation/types.h"

#include <array>
#include <vector>

namespace mkcontent {

struct Shape {
    std::vector<std::array<float, 3>> points;
    std::vector<std::vector<u32>> faces;
    // Per point texture coordinates, filled by the shapes that have a natural map.
    std::vector<std::array<float, 2>> uv;

    // Moves every point by (x, y, z).
    Shape& translate(float x, float y, float z);
    // Appends other's points and faces (indices shifted).
    Shape& append(const Shape& other);
};

// An axis-aligned box centred on the origin, six quads.
Shape box(float sx, float sy, float sz);
// A grid of (nx x nz) quads in the XZ plane at y = 0, centred, facing +y.
Shape grid(float sx, float sz, u32 nx, u32 nz);
// A UV sphere of radius r: rings x segments, triangles at the poles.
Shape sphere(float r, u32 rings, u32 segments);
// An open cylinder along +y from 0 to height: segments around, rings along.
Shape tube(float r, float height, u32 segments, u32 rings);

// Letter c ('A' to 'Z') of a 5 x 7 pixel font, every set pixel a box of
// cell x cell x depth; the letter's lower left corner at the origin, facing
// -z. Other characters give an empty shape.
Shape letter(char c, float cell, float depth);

} // namespace mkcontent
