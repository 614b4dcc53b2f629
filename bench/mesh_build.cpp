// Building a polygon mesh against indexing the same corners with
// meshoptimizer, in the same process. The mesh is a bent grid of
// 512 x 512 quads (one surface, one UV layer, smoothing 60 degrees) built
// with Mesh::prepare on a headless device: clean-up, triangulation,
// smoothing, texture coordinates, welding, packing and the buffers. The
// reference indexes the same triangulated corners (position, smoothed
// normal, UV; 32 bytes each) with meshopt_generateVertexRemap and the two
// remaps. Best of a few runs each; the last line is ratio=R (prepare time
// over the reference's).
#include "bench_display.h"
#include "display/display_manager.h"
#include "lightwave/lw_object.h"
#include "materials/engine.h"
#include "materials/surface.h"
#include "materials/texture_layer.h"
#include "platform/d3d9/adapter_profiles.h"
#include "scene/poly_mesh.h"
#include "scene/subset.h"

#include <meshoptimizer.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kQuads = 512;
constexpr int kSide = kQuads + 1;
constexpr int kRepetitions = 3;

double seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

D3DVECTOR gridPoint(int i, int j)
{
    const float x = float(i) / kQuads, y = float(j) / kQuads;
    return {x, y, 0.25f * std::sin(3.0f * x) * std::cos(2.0f * y)};
}

u32 pointIndex(int i, int j)
{
    return u32(j * kSide + i);
}

// Quad (i, j), clockwise seen from -z.
void quadPoints(int i, int j, u32 out[4])
{
    out[0] = pointIndex(i, j);
    out[1] = pointIndex(i, j + 1);
    out[2] = pointIndex(i + 1, j + 1);
    out[3] = pointIndex(i + 1, j);
}

// Never looked through: the layer only needs a texture to be used.
Texture* fakeTexture()
{
    static char storage;
    return reinterpret_cast<Texture*>(&storage);
}

std::unique_ptr<PolyMesh> makeGrid(Engine* engine, LWObject* object)
{
    auto* points = new D3DVECTOR[size_t(kSide) * kSide];
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i)
            points[pointIndex(i, j)] = gridPoint(i, j);
    auto* polygons = new PolyMesh::Polygon[size_t(kQuads) * kQuads];
    for (int j = 0; j < kQuads; ++j)
        for (int i = 0; i < kQuads; ++i) {
            PolyMesh::Polygon& p = polygons[j * kQuads + i];
            p.vertexCount = 4;
            p.pointIndices = new u32[4];
            quadPoints(i, j, p.pointIndices);
        }
    auto mesh = std::make_unique<PolyMesh>(engine, object, kQuads * kQuads, polygons, points, kSide * kSide);
    mesh->layerIndex = 0;
    return mesh;
}

struct Corner {
    float position[3];
    float normal[3];
    float uv[2];
};

// The triangulated corners with normals averaged over the faces around each
// point (every neighbour lies within 60 degrees on this grid).
std::vector<Corner> referenceCorners()
{
    auto faceNormal = [](int i, int j) {
        u32 q[4];
        quadPoints(i, j, q);
        const D3DVECTOR p0 = gridPoint(i, j), p1 = gridPoint(i, j + 1), p2 = gridPoint(i + 1, j + 1);
        return PolyMesh::triangleNormal(p0, p1, p2);
    };
    std::vector<D3DVECTOR> normals(size_t(kSide) * kSide, D3DVECTOR{0, 0, 0});
    for (int j = 0; j < kQuads; ++j)
        for (int i = 0; i < kQuads; ++i) {
            const D3DVECTOR n = faceNormal(i, j);
            u32 q[4];
            quadPoints(i, j, q);
            for (u32 p : q) {
                normals[p].x += n.x;
                normals[p].y += n.y;
                normals[p].z += n.z;
            }
        }
    std::vector<Corner> corners;
    corners.reserve(size_t(kQuads) * kQuads * 6);
    const int local[6] = {0, 1, 3, 1, 2, 3};
    for (int j = 0; j < kQuads; ++j)
        for (int i = 0; i < kQuads; ++i) {
            u32 q[4];
            quadPoints(i, j, q);
            for (int k : local) {
                const u32 p = q[k];
                const int pi = int(p % kSide), pj = int(p / kSide);
                const D3DVECTOR pos = gridPoint(pi, pj);
                D3DVECTOR n = normals[p];
                const float l = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
                corners.push_back({{pos.x, pos.y, pos.z},
                                   {n.x / l, n.y / l, n.z / l},
                                   {float(pi) / kQuads, float(pj) / kQuads}});
            }
        }
    return corners;
}

} // namespace

int main()
{
    std::unique_ptr<DisplayManager> manager = openBenchDisplay(64, 48);
    if (!manager)
        return 1;
    auto engine = std::make_unique<Engine>(manager.get());
    engine->fixedFunction = 0; // the shader-path layout: position, normal, one set

    Surface surface(nullptr, "grid@surface");
    surface.setSmoothingAngle(60.0f * 3.14159265f / 180.0f);
    auto* map = new UVMap;
    map->u.resize(size_t(kSide) * kSide);
    map->v.resize(size_t(kSide) * kSide);
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i) {
            map->u[pointIndex(i, j)] = float(i) / kQuads;
            map->v[pointIndex(i, j)] = float(j) / kQuads;
        }
    auto layer = std::make_unique<TextureLayer>();
    layer->channel = channelCOLR;
    layer->texture = fakeTexture();
    layer->projection = TextureLayer::projectionUV;
    layer->setUVMap(0, map);
    surface.addLayer(std::move(layer));
    LWObject object(nullptr, "grid.lwo");
    object.tagCount = 1;
    object.tags = new Surface*[1]{&surface};

    double prepareBest = 1e30;
    size_t vertices = 0;
    for (int rep = 0; rep < kRepetitions; ++rep) {
        std::unique_ptr<PolyMesh> mesh = makeGrid(engine.get(), &object);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = mesh->prepare();
        prepareBest = std::min(prepareBest, seconds(start));
        if (!ok || mesh->subsets.size() != 1) {
            std::printf("the mesh did not build\n");
            return 1;
        }
        vertices = size_t(mesh->subsets[0]->vertexCount);
    }

    const std::vector<Corner> corners = referenceCorners();
    double referenceBest = 1e30;
    size_t referenceVertices = 0;
    std::vector<unsigned> remap(corners.size()), indices(corners.size());
    std::vector<Corner> unique(corners.size());
    for (int rep = 0; rep < kRepetitions; ++rep) {
        const auto start = std::chrono::steady_clock::now();
        referenceVertices =
            meshopt_generateVertexRemap(remap.data(), nullptr, corners.size(), corners.data(), corners.size(),
                                        sizeof(Corner));
        meshopt_remapVertexBuffer(unique.data(), corners.data(), corners.size(), sizeof(Corner), remap.data());
        meshopt_remapIndexBuffer(indices.data(), nullptr, corners.size(), remap.data());
        referenceBest = std::min(referenceBest, seconds(start));
    }

    std::printf("grid: %d x %d quads, %zu corners\n", kQuads, kQuads, corners.size());
    std::printf("prepare: %.1f ms, %zu vertices\n", prepareBest * 1e3, vertices);
    std::printf("meshoptimizer: %.1f ms, %zu vertices\n", referenceBest * 1e3, referenceVertices);
    engine.reset();
    manager.reset();
    platform::clearAdapterProfiles();
    std::printf("ratio=%.2f\n", prepareBest / referenceBest);
    return 0;
}
