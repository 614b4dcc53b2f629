// Texture coordinates for baking a layer's lighting: every pair of
// triangles gets its own square cell of the texture, handed out row by row.
#pragma once

#include "foundation/types.h"
#include "materials/mesh_vertex.h"

namespace bake {

// The cells per side for a corner count: sqrt(count / 3) rounded, at least
// 2 so that a row always holds a cell.
i32 gridSize(i32 cornerCount);
// The (u, v) of corner k (three per triangle, two triangles per cell).
void cornerCoordinates(i32 k, i32 n, float& u, float& v);
// Stores each corner's (u, v) in texture set slots[k] (the set after its
// surface's layers) and keys it by k, so no two corners weld. Corners whose
// slot is out of range are left alone. The count must be whole triangles.
void assignCoordinates(MeshVertex* corners, i32 count, const i32* slots);

} // namespace bake
