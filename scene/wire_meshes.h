// Meshes without polygons of their own: the interaction cursor's axis cross,
// the wire octahedron of a skeleton bone, and the stand-in of a partigon
// layer, which takes part in scene handling and draws nothing. The wires
// are line lists of position-and-colour vertices drawn from memory.
#pragma once

#include "scene/mesh.h"

#include <d3d9.h>

// A line vertex: position and an ARGB colour (D3DFVF_XYZ | D3DFVF_DIFFUSE).
struct WireVertex {
    static constexpr DWORD fvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;
    float x, y, z;
    D3DCOLOR color;
};

// What the cross and the bone share: a unit box and the line drawing.
class WireMesh : public Mesh {
public:
    explicit WireMesh(Engine* engine) : Mesh(engine, nullptr) {}

    bool prepare() override;
    void updateBounds() override {}
    const D3DVECTOR* points() const override { return cachedPoints; }

protected:
    // Draws the lines under the given world matrix, then puts the previous
    // world matrix back. The plain line states stay set.
    void drawLines(const D3DMATRIX& world, const WireVertex* vertices, UINT lineCount);
};

// Three unit axes in red, green and blue at the object's position, neither
// rotated nor scaled with it.
class CrossWiresMesh : public WireMesh {
public:
    using WireMesh::WireMesh;
    void render(double time, Object* object, Node* camera, i32 pass) override;
};

// Twelve grey lines from the bone's origin to its tip, in the bone's world
// matrix; camera is the Bone.
class BoneWiresMesh : public WireMesh {
public:
    using WireMesh::WireMesh;
    void render(double time, Object* object, Node* bone, i32 pass) override;
};

// A partigon layer: its particles are drawn by the scene's particle step,
// not by the mesh. It still has a box round its points (the origin when it
// has none), as the scene's culling asks of every mesh, but that box stays
// out of the fitted depth range: a range fitted to particles that draw
// nothing here would clip what does draw.
class PartigonMesh : public Mesh {
public:
    PartigonMesh(Engine* engine, MeshFile* object = nullptr, const D3DVECTOR* points = nullptr, i32 count = 0);

    bool prepare() override
    {
        prepared = 1;
        return true;
    }
    void updateBounds() override {}
    void render(double, Object*, Node*, i32) override {}
    bool drawsGeometry() const override { return false; }
    const D3DVECTOR* points() const override { return cachedPoints; }
};
