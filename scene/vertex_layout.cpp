#include "scene/vertex_layout.h"

#include "materials/engine.h"
#include "materials/surface.h"

#include <algorithm>

VertexLayout::VertexLayout(Engine* engine, const Surface* surface) : engine(engine)
{
    if (engine->fixedFunction) {
        texCoordSets = 2;
        softwareProcessing = engine->hardwareTnL ? 0 : 1;
        // The shaders read an animated layer's positions from the vertex
        // position instead, so only this layout widens its sets.
        for (int k = 0; k < texCoordSets && surface && k < surface->layerCount; ++k) {
            const TextureLayer* layer = surface->layerSlots[k];
            if (layer && layer->transformAnimated())
                positionSets |= u8(1u << k);
        }
    } else {
        texCoordSets = surface ? std::clamp<i32>(surface->layerCount, 0, Surface::maxLayers) : 0;
        // The tangent frame is derived from the last texture set, so a
        // surface needs one for it (a BUMP layer always occupies a slot).
        tangentFrame = surface && texCoordSets > 0 && surface->channelCounts[Surface::countBUMP] > 0 ? 1 : 0;
        boneWeightCount = surface ? std::clamp<i32>(surface->boneWeightCount, 0, 4) : 0;
        softwareProcessing = engine->hardwareVertexShaders ? 0 : 1;
    }
    stride = 24;
    texOffset = 24;
    for (int k = 0; k < texCoordSets; ++k) {
        texOffset = stride;
        stride += setSize(k);
    }
    tangentOffset = stride;
    if (tangentFrame)
        stride += 48;
    if (boneWeightCount > 0)
        stride += 4 + 4 * u32(boneWeightCount);

    const std::vector<D3DVERTEXELEMENT9> list = elements();
    declarations.assign(size_t(std::max(engine->deviceCount, 0)), nullptr);
    for (size_t i = 0; i < declarations.size(); ++i)
        if (IDirect3DDevice9* device = engine->devices[i])
            device->CreateVertexDeclaration(list.data(), &declarations[i]);
}

VertexLayout::~VertexLayout()
{
    for (IDirect3DVertexDeclaration9* d : declarations)
        if (d)
            d->Release();
}

std::vector<D3DVERTEXELEMENT9> VertexLayout::elements() const
{
    auto element = [](u32 offset, BYTE type, BYTE usage, int index) {
        return D3DVERTEXELEMENT9{0, WORD(offset), type, D3DDECLMETHOD_DEFAULT, usage, BYTE(index)};
    };
    std::vector<D3DVERTEXELEMENT9> list;
    list.push_back(element(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0));
    list.push_back(element(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0));
    u32 offset = 24;
    for (int k = 0; k < texCoordSets; offset += setSize(k), ++k)
        list.push_back(element(offset, setSize(k) == 12 ? D3DDECLTYPE_FLOAT3 : D3DDECLTYPE_FLOAT2,
                               D3DDECLUSAGE_TEXCOORD, k));
    if (tangentFrame)
        for (int k = 0; k < 4; ++k, offset += 12)
            list.push_back(element(offset, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD, texCoordSets + k));
    if (boneWeightCount > 0) {
        list.push_back(element(offset, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0));
        list.push_back(element(offset + 4, BYTE(D3DDECLTYPE_FLOAT1 + boneWeightCount - 1), D3DDECLUSAGE_BLENDWEIGHT, 0));
    }
    list.push_back(D3DDECL_END());
    return list;
}
