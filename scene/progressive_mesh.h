// Polygon meshes read with extra level data: the progressive mesh picks a
// level from its screen size, the semi-regular mesh draws as a plain
// polygon mesh. Nothing in the player makes them; they complete the family.
#pragma once

#include "scene/poly_mesh.h"

#include <cfloat>
#include <vector>

class Stream;

class PMesh : public PolyMesh {
public:
    // Updated by transformBoxCorners, which the culling pass calls on a
    // const mesh.
    mutable float nearestW = FLT_MAX;
    mutable float largestScreenExtent = 0.0f;
    i32 currentLevel = -1;
    i32 minimumLevel = 0;
    i32 maximumLevel = 0; // nothing sets it, so the level chosen stays 0
    i32 collapseMapLength = 0;
    std::vector<u32> collapseMap;
    i32 permutationLength = 0;
    std::vector<u32> permutation;

    // Reads the level data after the polygon part: raw 16-bit values. A
    // stream cut short keeps what was read; the lengths count only entries
    // actually there.
    PMesh(Engine* engine, MeshFile* object, i32 polygonCount, Polygon* polygons, D3DVECTOR* points,
          i32 pointCount, Stream* stream);

    bool prepare() override;
    void invalidate() override;
    void transformBoxCorners(const D3DMATRIX& m, float out[8][4]) const override;
    void render(double time, Object* object, Node* camera, i32 pass) override;

    // The level for a screen extent f, clamped by the minimum and maximum.
    i32 levelFor(float extent) const;
};

class SemiRegMesh : public PolyMesh {
public:
    u32 word = 0;

    using PolyMesh::PolyMesh;
    bool prepare() override;
};
