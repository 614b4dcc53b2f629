// The build-time corner record of a mesh: what the mesh build fills per
// polygon corner, what the surface's texture-coordinate generator writes
// into, and what the subsets pack into vertex buffers. Corners weld into one
// vertex only when their per-layer keys are equal, so the generator keeps
// seam corners apart through the keys.
#pragma once

#include "foundation/types.h"

#include <d3d9types.h>

struct MeshVertex {
    static constexpr int maxTexCoordSets = 8; // one per layer slot of a surface

    D3DVECTOR position = {0.0f, 0.0f, 0.0f};
    D3DVECTOR normal = {0.0f, 0.0f, 0.0f};
    u32 color = 0;
    float texCoords[maxTexCoordSets][3] = {}; // u, v, w per layer slot
    i32 texKeys[maxTexCoordSets] = {};        // compared exactly when welding
    i32 polygonNumber = 0;
    // The first corner that shares this corner's point, later the first
    // unique vertex made for that point.
    i32 weldGroup = 0;
    u8 boneIndices[4] = {};
    float boneWeights[4] = {};
};
