#include "scene/bake_coordinates.h"

#include "foundation/diagnostics.h"

#include <algorithm>
#include <cmath>

namespace bake {

i32 gridSize(i32 cornerCount)
{
    const i32 n = i32(std::lround(std::sqrt(double(std::max(cornerCount, 0)) / 3.0)));
    // One cell a row would leave n - 1 = 0 cells per row.
    return std::max(n, 2);
}

void cornerCoordinates(i32 k, i32 n, float& u, float& v)
{
    static constexpr int corner[2][3][2] = {{{0, 0}, {1, 0}, {0, 1}}, {{1, 1}, {0, 1}, {1, 0}}};
    const i32 triangle = k / 3, cell = triangle / 2;
    const i32 perRow = n - 1;
    const i32 col = cell % perRow, row = cell / perRow;
    const int* c = corner[triangle % 2][k % 3];
    const float size = 1.0f / float(n);
    u = float(col) / float(n) + float(c[0]) * size;
    v = float(row) / float(n) + float(c[1]) * size;
}

void assignCoordinates(MeshVertex* corners, i32 count, const i32* slots)
{
    ENGINE_ASSERT((count % 3) ==0);
    if (!corners || !slots)
        return;
    const i32 n = gridSize(count);
    for (i32 k = 0; k < count; ++k) {
        const i32 slot = slots[k];
        if (slot < 0 || slot >= MeshVertex::maxTexCoordSets)
            continue;
        float u = 0.0f, v = 0.0f;
        cornerCoordinates(k, n, u, v);
        corners[k].texCoords[slot][0] = u;
        corners[k].texCoords[slot][1] = v;
        corners[k].texKeys[slot] = k;
    }
}

} // namespace bake
