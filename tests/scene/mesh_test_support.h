// Shared by the mesh tests: an engine over a headless device, surfaces in
// an object file record, and polygon meshes made from point and polygon
// lists as the object reader would hand them over.
#pragma once

#include "materials/texture_test_support.h"

#include "lightwave/lw_object.h"
#include "materials/surface.h"
#include "platform/d3d9/device_test_api.h"
#include "scene/bone.h"
#include "scene/poly_mesh.h"
#include "scene/subset.h"
#include "scene/wire_meshes.h"

#include <initializer_list>
#include <memory>
#include <vector>

namespace meshtest {

using texturetest::TestEngine;

struct Poly {
    std::vector<u32> points;
    i32 surface = 0;
};

// Never looked through: only "has a texture" matters to the build.
inline Texture* fakeTexture()
{
    static char storage;
    return reinterpret_cast<Texture*>(&storage);
}

class MeshRig {
public:
    explicit MeshRig(bool stereo = false) : engine(stereo) {}
    explicit operator bool() const { return bool(engine); }
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
        s->loaded = 1;
        tags.push_back(s);
        setTags();
        return s;
    }

    // A layer of the given channel projected through a UV map of object
    // layer 0.
    static TextureLayer* addUVLayer(Surface* s, UVMap* map, u32 channel = channelCOLR, Texture* texture = nullptr)
    {
        auto layer = std::make_unique<TextureLayer>();
        layer->channel = channel;
        layer->texture = texture ? texture : fakeTexture();
        layer->projection = TextureLayer::projectionUV;
        layer->pixelBlending = 0;
        layer->setUVMap(0, map);
        TextureLayer* raw = layer.get();
        EXPECT_TRUE(s->addLayer(std::move(layer)));
        return raw;
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

    // The object record owns its copy of the tag table.
    void setTags()
    {
        delete[] object.tags;
        object.tags = new Surface*[tags.size() + 1];
        std::copy(tags.begin(), tags.end(), object.tags);
        object.tagCount = i32(tags.size());
    }

    TestEngine engine;
    std::vector<std::unique_ptr<Surface>> surfaces;
    std::vector<Surface*> tags;
    LWObject object{nullptr, "test.lwo"};
};

// The packed vertices of a subset, as floats.
inline const float* vertexFloats(const Subset& s, int vertex)
{
    return reinterpret_cast<const float*>(s.vertexData.data() + size_t(vertex) * s.layout.stride);
}

// A unit cube's eight points and six outward quads, each face wound
// clockwise as seen from outside.
inline std::vector<D3DVECTOR> cubePoints()
{
    std::vector<D3DVECTOR> p;
    for (int i = 0; i < 8; ++i)
        p.push_back({(i & 4) ? 0.5f : -0.5f, (i & 2) ? 0.5f : -0.5f, (i & 1) ? 0.5f : -0.5f});
    return p;
}

inline std::vector<Poly> cubeFaces(i32 surface = 0)
{
    return {{{0, 2, 6, 4}, surface}, {{1, 5, 7, 3}, surface}, {{0, 4, 5, 1}, surface},
            {{2, 3, 7, 6}, surface}, {{0, 1, 3, 2}, surface}, {{4, 6, 7, 5}, surface}};
}

} // namespace meshtest
