// The stream-0 layout of a subset's packed vertices: position, normal, the
// surface's texture sets, an optional tangent frame and optional bone
// indices and weights (shader path), or position, normal and two sets
// (fixed-function path). One vertex declaration per engine device is made
// with the layout and kept for its life.
#pragma once

#include "foundation/types.h"

#include <d3d9.h>

#include <vector>

class Engine;
class Surface;

class VertexLayout {
public:
    Engine* engine;
    u32 stride = 0;
    u8 softwareProcessing = 0; // draw with software vertex processing
    std::vector<IDirect3DVertexDeclaration9*> declarations; // per device; null where creation failed
    i32 texCoordSets = 0;
    u8 tangentFrame = 0; // four float3: A, B, A x B and a zero one
    i32 boneWeightCount = 0;
    u32 texOffset = 0;     // of the last texture set, which the tangent frame follows
    u32 tangentOffset = 0; // of the tangent frame

    VertexLayout(Engine* engine, const Surface* surface);
    ~VertexLayout();
    VertexLayout(const VertexLayout&) = delete;
    VertexLayout& operator=(const VertexLayout&) = delete;

    // The elements of the layout, ending with D3DDECL_END.
    std::vector<D3DVERTEXELEMENT9> elements() const;
};
