#include "scene/progressive_mesh.h"

#include "foundation/diagnostics.h"
#include "foundation/stream.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

bool readU16(Stream* stream, u32& out)
{
    u16 v = 0;
    if (!stream || stream->read(&v, 2) != 2)
        return false;
    out = v;
    return true;
}

// A length followed by that many entries; stops at the end of the stream.
void readTable(Stream* stream, i32& length, std::vector<u32>& table)
{
    u32 n = 0;
    if (!readU16(stream, n))
        return;
    table.reserve(n);
    for (u32 i = 0; i < n; ++i) {
        u32 v = 0;
        if (!readU16(stream, v))
            break;
        table.push_back(v);
    }
    length = i32(table.size());
}

void showMismatch(const char* format, const String& name)
{
    char text[512];
    std::snprintf(text, sizeof text, format, name.c_str());
    MessageBoxA(nullptr, text, "Error", MB_ICONEXCLAMATION);
}

} // namespace

PMesh::PMesh(Engine* engine, MeshFile* object, i32 polygonCount, Polygon* polygons, D3DVECTOR* points,
             i32 pointCount, Stream* stream)
    : PolyMesh(engine, object, polygonCount, polygons, points, pointCount)
{
    u32 v = 0;
    if (!readU16(stream, v))
        return;
    minimumLevel = i32(v);
    readTable(stream, collapseMapLength, collapseMap);
    readTable(stream, permutationLength, permutation);
}

bool PMesh::prepare()
{
    if (prepared)
        return true;
    cornerCount = 0;
    computeBounds();
    // The build reads three corners of every polygon and the polygon
    // numbers and owners set here, so bad polygons go first.
    removeDegeneratePolygons();
    // With the seam flag: without it a cylindrical or spherical map welds the
    // wrapped corner of a polygon crossing the map's edge to its neighbour's,
    // stretching the neighbour over the whole map. The level data do not
    // care: the collapse map counts corners before welding.
    buildRenderData(true);
    if (diagnosticsLevel >= 1) {
        if (cornerCount != collapseMapLength)
            showMismatch("wrong collapse map for %s", name);
        if (maximumLevel != permutationLength)
            showMismatch("wrong permutation for %s", name);
    }
    // A mismatch is only reported; the subsets are not built here.
    prepared = 1;
    return true;
}

void PMesh::invalidate()
{
    drawnThisFrame = 0;
    nearestW = FLT_MAX;
    largestScreenExtent = 0.0f;
}

void PMesh::transformBoxCorners(const D3DMATRIX& m, float out[8][4]) const
{
    Mesh::transformBoxCorners(m, out);
    float x0 = FLT_MAX, y0 = FLT_MAX, x1 = -FLT_MAX, y1 = -FLT_MAX;
    for (int i = 0; i < 8; ++i) {
        const float w = out[i][3];
        nearestW = std::min(nearestW, w);
        if (w == 0.0f)
            continue;
        x0 = std::min(x0, out[i][0] / w);
        x1 = std::max(x1, out[i][0] / w);
        y0 = std::min(y0, out[i][1] / w);
        y1 = std::max(y1, out[i][1] / w);
    }
    if (x0 <= x1 && y0 <= y1)
        largestScreenExtent = std::max(largestScreenExtent, 0.5f * std::max(x1 - x0, y1 - y0));
}

i32 PMesh::levelFor(float extent) const
{
    const float f = std::clamp(extent, 0.0f, 1.0f);
    i32 level = i32(std::lround(double(maximumLevel) * std::floor(4.0 * f) * 0.25));
    level = std::max(level, std::max(minimumLevel, 28));
    return std::min(level, maximumLevel);
}

void PMesh::render(double time, Object* object, Node* camera, i32 pass)
{
    if (!drawnThisFrame) {
        drawnThisFrame = 1;
        currentLevel = levelFor(largestScreenExtent);
    }
    PolyMesh::render(time, object, camera, pass);
}

bool SemiRegMesh::prepare()
{
    if (prepared)
        return true;
    cornerCount = 0;
    computeBounds();
    removeDegeneratePolygons();
    buildRenderData(true);
    prepared = 1;
    return true;
}
