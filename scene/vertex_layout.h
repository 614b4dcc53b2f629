// The stream-0 layout of a subset's packed vertices: position, normal, the
// surface's texture sets, an optional tangent frame and optional bone
// indices and weights (shader path), or position, normal and two sets
// (fixed-function path, a set of an animated layer with its third
// component). One vertex declaration per engine device is made
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
    // Bit k: set k carries three floats, the corner positions of an animated
    // layer that the fixed-function texture transform projects at draw time
    // (two would lose z). Every other set is u and v.
    u8 positionSets = 0;
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
    // Bytes of set k in a packed vertex.
    u32 setSize(int k) const { return (positionSets >> k) & 1 ? 12 : 8; }
};
