// One draw batch of a polygon mesh: the triangles of one surface with their
// packed vertices, and a vertex and an index buffer per engine device. It is
// where mesh geometry meets a shader pair: render runs the pair's calls in
// their fixed order and falls back to a plain material when the pair has no
// shaders for the surface.
#pragma once

#include "foundation/types.h"
#include "materials/engine_resource.h"
#include "scene/vertex_layout.h"

#include <d3d9.h>

#include <vector>

class ShaderPair;
class Surface;
struct MeshVertex;

class Subset : public EngineResource {
public:
    // Power of the fallback material: a moderate highlight (0 would make
    // the specular term 1 everywhere).
    static constexpr float fallbackPower = 20.0f;

    i32 primitiveCount = 0;
    D3DPRIMITIVETYPE primitiveType = D3DPRIMITIVETYPE(0); // 0 until triangles are added
    VertexLayout layout;
    Surface* surface; // not owned
    u32 vertexUsage = 0;
    i32 vertexCount = 0;
    std::vector<u8> vertexData; // packed, stride bytes each
    std::vector<IDirect3DVertexBuffer9*> vertexBuffers; // per device, null until built
    u32 indexBytes = 0;
    u32 indexUsage = 0;
    D3DFORMAT indexFormat = D3DFMT_INDEX16;
    u32 indexCount = 0;
    std::vector<u32> indices;
    std::vector<IDirect3DIndexBuffer9*> indexBuffers; // per device, null until built

    Subset(Engine* engine, Surface* surface);
    ~Subset() override;
    Subset(const Subset&) = delete;
    Subset& operator=(const Subset&) = delete;

    // Draws on the engine's current device through the pair (or the
    // fallback) and counts the draw.
    virtual void render(ShaderPair* pair, double time);
    virtual bool build() = 0;
    virtual bool addVertices(const MeshVertex* vertices, int count) = 0;
    // Whole triangles only.
    virtual bool addTriangles(const u32* triangleIndices, int count) = 0;
    // A subset whose data can change after the build; none is.
    virtual bool isDynamic() const = 0;

private:
    void setFallbackStates(IDirect3DDevice9* device);
};

// The subset kind the mesh build makes: filled once, built once, then only
// drawn.
class StaticSubset : public Subset {
public:
    u8 built = 0;

    StaticSubset(Engine* engine, Surface* surface) : Subset(engine, surface) {}

    bool build() override;
    bool addVertices(const MeshVertex* vertices, int count) override;
    bool addTriangles(const u32* triangleIndices, int count) override;
    bool isDynamic() const override { return false; }

    // Writes one vertex in the layout's format at out.
    void packVertex(const MeshVertex& vertex, u8* out) const;
    // Per-vertex tangent frames from the triangles and the last texture set.
    void computeTangentSpace();

private:
    bool createVertexBuffers();
    bool createIndexBuffers();
};
