// Shared by the mesh tests: an engine over a headless device, surfaces in
// an object file record, and polygon meshes made from point and polygon
// lists as the object reader hands them over.
#pragma once

#include "materials/texture_test_support.h"

#include "lightwave/lw_object.h"
#include "materials/surface.h"
#include "platform/d3d9/device_test_api.h"
#include "scene/bone.h"
#include "scene/poly_mesh.h"
#include "scene/subset.h"
#include "scene/wire_meshes.h"

#include <memory>
#include <vector>

namespace meshtest {

struct Poly {
    std::vector<u32> points;
    i32 surface = 0;
};

// Never looked through: the build only asks whether a layer has a texture.
inline Texture* fakeTexture()
{
    static char storage;
    return reinterpret_cast<Texture*>(&storage);
}

// A layer projected through a UV map of object layer 0.
inline void addLayer(Surface* s, u32 channel, UVMap* map = nullptr, Texture* texture = fakeTexture())
{
    auto layer = std::make_unique<TextureLayer>();
    layer->channel = channel;
    layer->texture = texture;
    layer->projection = TextureLayer::projectionUV;
    layer->pixelBlending = 0;
    layer->setUVMap(0, map);
    EXPECT_TRUE(s->addLayer(std::move(layer)));
}

class MeshRig {
public:
    explicit MeshRig(bool stereo = false) : engine(stereo) {}
    Engine* get() const { return engine.get(); }
    Engine* operator->() const { return engine.get(); }
    IDirect3DDevice9* device() const { return engine->currentDevice; }

    // A surface of the object file; smoothing in degrees (0: the default).
    Surface* addSurface(float smoothingDegrees = 0.0f)
    {
        surfaces.push_back(std::make_unique<Surface>(nullptr, "test@s"));
        Surface* s = surfaces.back().get();
        if (smoothingDegrees > 0.0f)
            s->setSmoothingAngle(smoothingDegrees * 3.14159265f / 180.0f);
        delete[] object.tags; // the record owns its tag table
        object.tags = new Surface*[surfaces.size()];
        for (size_t i = 0; i < surfaces.size(); ++i)
            object.tags[i] = surfaces[i].get();
        object.tagCount = i32(surfaces.size());
        return s;
    }

    std::unique_ptr<PolyMesh> mesh(const std::vector<D3DVECTOR>& points, const std::vector<Poly>& polys)
    {
        auto* pointArray = new D3DVECTOR[points.size()];
        std::copy(points.begin(), points.end(), pointArray);
        auto* polygons = new PolyMesh::Polygon[polys.size()];
        for (size_t i = 0; i < polys.size(); ++i) {
            polygons[i].vertexCount = u32(polys[i].points.size());
            polygons[i].pointIndices = new u32[polys[i].points.size()];
            std::copy(polys[i].points.begin(), polys[i].points.end(), polygons[i].pointIndices);
            polygons[i].surfaceIndex = polys[i].surface;
        }
        auto m = std::make_unique<PolyMesh>(engine.get(), &object, i32(polys.size()), polygons, pointArray,
                                            i32(points.size()));
        m->layerIndex = 0;
        return m;
    }

    texturetest::TestEngine engine;
    std::vector<std::unique_ptr<Surface>> surfaces;
    LWObject object{nullptr, "test.lwo"};
};

// Packed vertex i of a subset, as floats.
inline const float* vertexFloats(const Subset& s, int i)
{
    return reinterpret_cast<const float*>(s.vertexData.data() + size_t(i) * s.layout.stride);
}

// A unit cube: point i has x from bit 2, y from bit 1, z from bit 0; six
// outward quads, clockwise seen from outside.
inline std::vector<D3DVECTOR> cubePoints()
{
    std::vector<D3DVECTOR> p;
    for (int i = 0; i < 8; ++i)
        p.push_back({(i & 4) ? 0.5f : -0.5f, (i & 2) ? 0.5f : -0.5f, (i & 1) ? 0.5f : -0.5f});
    return p;
}

inline std::vector<Poly> cubeFaces()
{
    return {{{0, 2, 6, 4}}, {{1, 5, 7, 3}}, {{0, 4, 5, 1}}, {{2, 3, 7, 6}}, {{0, 1, 3, 2}}, {{4, 6, 7, 5}}};
}

} // namespace meshtest
