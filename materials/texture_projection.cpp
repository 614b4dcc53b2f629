#include "materials/texture_projection.h"

#include "foundation/matrix.h"
#include "materials/surface.h"
#include "materials/texture_layer.h"
#include "materials/vertex_maps.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double inverseTwoPi = 0.15915494309189535;
constexpr double inversePi = 0.3183098861837907;

void setCoords(MeshVertex& corner, int set, float u, float v, float w, i32 key)
{
    corner.texCoords[set][0] = u;
    corner.texCoords[set][1] = v;
    corner.texCoords[set][2] = w;
    corner.texKeys[set] = key;
}

void projectNothing(MeshVertex* corners, int n, int set)
{
    for (int k = 0; k < n; ++k)
        setCoords(corners[k], set, 0.0f, 0.0f, 0.0f, 0);
}

// Untransformed positions: an animated layer's transform is applied at draw
// time.
void projectAnimated(MeshVertex* corners, int n, int set)
{
    for (int k = 0; k < n; ++k)
        setCoords(corners[k], set, corners[k].position.x, corners[k].position.y, corners[k].position.z, 0);
}

void projectPlanar(TextureLayer& layer, int axis, MeshVertex* corners, int n, int set)
{
    if (axis < TextureLayer::axisX || axis > TextureLayer::axisZ) {
        projectNothing(corners, n, set);
        return;
    }
    const D3DMATRIX& m = layer.cachedMatrix();
    for (int k = 0; k < n; ++k) {
        D3DVECTOR q;
        vecTransformCoord(q, corners[k].position, m);
        switch (axis) {
        case TextureLayer::axisX:
            setCoords(corners[k], set, q.z, q.y, 0.0f, axis);
            break;
        case TextureLayer::axisY:
            setCoords(corners[k], set, q.x, q.z, 0.0f, axis);
            break;
        default:
            setCoords(corners[k], set, q.x, q.y, 0.0f, axis);
            break;
        }
    }
}

// Cylindrical and spherical: the angle around the layer's axis gives u; v
// is the height along the axis over the size (cylinder) or the elevation
// angle (sphere).
void projectRound(TextureLayer& layer, bool spherical, MeshVertex* corners, int n, int set, bool seam)
{
    const int axis = layer.axis;
    if (axis < TextureLayer::axisX || axis > TextureLayer::axisZ) {
        projectNothing(corners, n, set);
        return;
    }
    const D3DMATRIX& m = layer.cachedMatrix();
    const double size = TextureLayer::usableSize(layer.size[axis].value);
    for (int k = 0; k < n; ++k) {
        D3DVECTOR q;
        vecTransformCoord(q, corners[k].position, m);
        const double x = q.x, y = q.y, z = q.z;
        double u, v;
        switch (axis) {
        case TextureLayer::axisX:
            u = std::atan2(z, y) * inverseTwoPi;
            v = spherical ? std::atan2(x, std::sqrt(z * z + y * y)) * inversePi + 0.5 : x / size + 0.5;
            break;
        case TextureLayer::axisY:
            u = std::atan2(-x, z) * inverseTwoPi;
            v = spherical ? std::atan2(y, std::sqrt(z * z + x * x)) * inversePi + 0.5 : y / size + 0.5;
            break;
        default:
            u = std::atan2(-x, y) * inverseTwoPi;
            v = spherical ? std::atan2(z, std::sqrt(y * y + x * x)) * inversePi + 0.5 : z / size + 0.5;
            break;
        }
        setCoords(corners[k], set, (float)u, (float)v, 0.0f, 0);
    }
    applyTexCoordSeam(corners, n, set, seam);
    for (int k = 0; k < n; ++k) {
        corners[k].texCoords[set][0] *= layer.wrapAmountWidth;
        if (spherical)
            corners[k].texCoords[set][1] *= layer.wrapAmountHeight;
    }
}

void projectUV(const TextureLayer& layer, MeshVertex* corners, int n, int set, const u32* pointIndices,
               i32 polygonIndex, i32 layerNumber)
{
    const UVMap* map = layer.uvMap(layerNumber);
    if (!map || !pointIndices) {
        projectNothing(corners, n, set);
        return;
    }
    constexpr i32 sharedVertexKey = 0;
    const size_t points = std::min(map->u.size(), map->v.size());
    for (int k = 0; k < n; ++k) {
        const u32 p = pointIndices[k];
        // A point the map does not cover (a damaged file) reads as 0.
        if (p < points)
            setCoords(corners[k], set, map->u[p], map->v[p], 0.0f, sharedVertexKey);
        else
            setCoords(corners[k], set, 0.0f, 0.0f, 0.0f, sharedVertexKey);
    }
    if (polygonIndex < 0)
        return;
    const size_t entries = std::min({map->vmadPoints.size(), map->vmadPolygons.size(), map->vmadU.size(),
                                     map->vmadV.size()});
    for (size_t j = 0; j < entries; ++j) {
        if (map->vmadPolygons[j] != (u32)polygonIndex)
            continue;
        for (int k = 0; k < n; ++k) {
            if (pointIndices[k] != map->vmadPoints[j])
                continue;
            // One more than the shared vertex's key: the corner keeps a
            // vertex of its own.
            setCoords(corners[k], set, map->vmadU[j], map->vmadV[j], 0.0f, sharedVertexKey + 1);
        }
    }
}

void projectPosition(TextureLayer& layer, MeshVertex* corners, int n, int set)
{
    const D3DMATRIX& m = layer.cachedMatrix();
    for (int k = 0; k < n; ++k) {
        D3DVECTOR q;
        vecTransformCoord(q, corners[k].position, m);
        setCoords(corners[k], set, q.x, q.y, q.z, 0);
    }
}

} // namespace

int cubicProjectionAxis(const D3DVECTOR& normal)
{
    const float ax = std::fabs(normal.x);
    const float ay = std::fabs(normal.y);
    const float az = std::fabs(normal.z);
    if (ax >= ay && ax >= az)
        return TextureLayer::axisX;
    if (ay >= az)
        return TextureLayer::axisY;
    return TextureLayer::axisZ;
}

void applyTexCoordSeam(MeshVertex* corners, int n, int set, bool seam)
{
    for (int k = 0; k < n; ++k) {
        const float previous = corners[(k + n - 1) % n].texCoords[set][0];
        float& u = corners[k].texCoords[set][0];
        const float d = u - previous;
        if (d < -0.5f) {
            u += 1.0f;
            if (seam)
                ++corners[k].texKeys[set];
        } else if (d > 0.5f) {
            u -= 1.0f;
            if (seam)
                --corners[k].texKeys[set];
        }
    }
}

void Surface::generateTexCoords(MeshVertex* corners, int cornerCount, const u32* pointIndices, i32 polygonIndex,
                                i32 layerNumber, const D3DVECTOR& faceNormal, bool seam)
{
    if (!corners || cornerCount <= 0)
        return;
    const int slots = std::min<int>(layerCount, maxLayers);
    for (int i = 0; i < slots; ++i) {
        TextureLayer* layer = layerSlots[i];
        if (!layer)
            continue;
        if (layer->transformAnimated()) {
            projectAnimated(corners, cornerCount, i);
            continue;
        }
        switch (layer->projection) {
        case TextureLayer::projectionPlanar:
            projectPlanar(*layer, layer->axis, corners, cornerCount, i);
            break;
        case TextureLayer::projectionCylindrical:
            projectRound(*layer, false, corners, cornerCount, i, seam);
            break;
        case TextureLayer::projectionSpherical:
            projectRound(*layer, true, corners, cornerCount, i, seam);
            break;
        case TextureLayer::projectionCubic:
            projectPlanar(*layer, cubicProjectionAxis(faceNormal), corners, cornerCount, i);
            break;
        case TextureLayer::projectionUV:
            projectUV(*layer, corners, cornerCount, i, pointIndices, polygonIndex, layerNumber);
            break;
        case TextureLayer::projectionPosition:
            projectPosition(*layer, corners, cornerCount, i);
            break;
        default: // front projection, none
            projectNothing(corners, cornerCount, i);
            break;
        }
    }
}
