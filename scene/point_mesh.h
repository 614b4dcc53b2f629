// Points drawn as screen-space streaks: each point is a line from where it
// was on screen last frame to where it is now.
#pragma once

#include "scene/mesh.h"

#include <d3d9.h>

#include <vector>

class PointMesh : public Mesh {
public:
    // A 16-bit index list holds 2n indices.
    static constexpr i32 maxPoints = 32768;

    struct ScreenVertex { // FVF 0x144: xyzrhw, diffuse, one texture set
        float x, y, z, rhw;
        u32 color;
        float u, v;
    };
    static constexpr u32 fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

    double time = 0.0;
    i32 pointCount;
    const D3DVECTOR* pointList; // given, not owned
    std::vector<ScreenVertex> previous; // per point, made by prepare
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;

    PointMesh(Engine* engine, MeshFile* object, const D3DVECTOR* points, i32 pointCount);
    ~PointMesh() override;

    // False for no points or more than maxPoints.
    bool prepare() override;
    void updateBounds() override {}
    void render(double time, Object* object, Node* camera, i32 pass) override;
    const D3DVECTOR* points() const override { return pointList; }

    // The two vertices of point i for a world-view-projection matrix and a
    // w x h target; the record of its previous position is updated.
    void streak(i32 i, const D3DMATRIX& m, float w, float h, ScreenVertex out[2]);
};
