// The mesh kinds the player never makes: level data, streaks, the crowd,
// bake coordinates, ear clipping and the outline view.
#include "mesh_test_support.h"

#include "../foundation/memory_stream.h"
#include "foundation/matrix.h"
#include "foundation/sar_archive.h"
#include "materials/image.h"
#include "materials/image_cache.h"
#include "scene/bake_coordinates.h"
#include "scene/ear_clipping.h"
#include "scene/imposter_mesh.h"
#include "scene/outline_view.h"
#include "scene/point_mesh.h"
#include "scene/progressive_mesh.h"
#include "tools/mkcontent/content.h"
#include "tools/sarpack/sar_writer.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

using namespace meshtest;

namespace {

std::string u16s(std::initializer_list<u16> values)
{
    std::string s;
    for (u16 v : values)
        s.append(reinterpret_cast<const char*>(&v), 2);
    return s;
}

D3DMATRIX identity()
{
    D3DMATRIX m = {};
    for (int i = 0; i < 4; ++i)
        m.m[i][i] = 1.0f;
    return m;
}

TEST(ProgressiveMesh, ReadsLevelDataAndKeepsWhatACutStreamHolds)
{
    struct Case {
        std::string bytes;
        i32 minimum, collapse, permutation;
    } cases[] = {
        {u16s({30, 2, 7, 8, 1, 5}), 30, 2, 1},
        {u16s({30, 3, 7}), 30, 1, 0}, // cut inside the collapse map
        {std::string("\x01", 1), 0, 0, 0},
    };
    for (const Case& c : cases) {
        MeshRig rig;
        MemoryStream stream("pm", c.bytes);
        ASSERT_TRUE(stream.open("pm"));
        PMesh mesh(rig.get(), nullptr, 0, nullptr, nullptr, 0, &stream);
        EXPECT_EQ(mesh.minimumLevel, c.minimum);
        EXPECT_EQ(mesh.collapseMapLength, c.collapse);
        EXPECT_EQ(i32(mesh.collapseMap.size()), c.collapse);
        EXPECT_EQ(mesh.permutationLength, c.permutation);
    }
}

TEST(ProgressiveMesh, LevelAndScreenExtent)
{
    MeshRig rig;
    PMesh mesh(rig.get(), nullptr, 0, nullptr, nullptr, 0, nullptr);
    EXPECT_EQ(mesh.levelFor(1.0f), 0); // no maximum level: always 0
    mesh.maximumLevel = 100;
    EXPECT_EQ(mesh.levelFor(0.6f), 50);
    EXPECT_EQ(mesh.levelFor(0.1f), 28); // the floor of 28
    EXPECT_EQ(mesh.levelFor(5.0f), 100);

    mesh.setBoundingBox({-1, -1, 2}, {1, 3, 4});
    float out[8][4];
    D3DMATRIX m = identity();
    m.m[2][3] = 1.0f; // w = z
    m.m[3][3] = 0.0f;
    mesh.transformBoxCorners(m, out);
    EXPECT_FLOAT_EQ(mesh.nearestW, 2.0f);
    // x/w spans -0.5..0.5, y/w -0.5..1.5: half the larger side.
    EXPECT_FLOAT_EQ(mesh.largestScreenExtent, 1.0f);
    mesh.invalidate();
    EXPECT_EQ(mesh.largestScreenExtent, 0.0f);
}

TEST(ProgressiveMesh, MismatchesAreReportedButTheMeshIsPrepared)
{
    MeshRig rig;
    rig.addSurface();
    texturetest::Diagnostics diagnostics(1);
    auto base = rig.mesh(cubePoints(), cubeFaces());
    MemoryStream stream("pm", u16s({0, 1, 0, 1, 0}));
    ASSERT_TRUE(stream.open("pm"));
    PMesh mesh(rig.get(), &rig.object, base->polygonCount, base->polygons, base->pointArray, base->pointCount,
               &stream);
    base->polygons = nullptr;
    base->pointArray = nullptr;
    base->polygonCount = base->pointCount = 0;
    mesh.name = "cube";
    EXPECT_TRUE(mesh.prepare());
    EXPECT_TRUE(mesh.prepared);
    EXPECT_EQ(texturetest::boxTexts(),
              (std::vector<std::string>{"Error: wrong collapse map for cube", "Error: wrong permutation for cube"}));
}

// Two quads on a cylinder map, the first crossing the map's edge: the point
// they share must not weld, or the second quad stretches over the whole map.
TEST(ProgressiveMesh, BothLevelMeshKindsKeepACylinderSeamApart)
{
    const std::function<std::unique_ptr<PolyMesh>(MeshRig&, PolyMesh&)> kinds[] = {
        [](MeshRig& rig, PolyMesh& b) -> std::unique_ptr<PolyMesh> {
            return std::make_unique<PMesh>(rig.get(), &rig.object, b.polygonCount, b.polygons, b.pointArray,
                                           b.pointCount, nullptr);
        },
        [](MeshRig& rig, PolyMesh& b) -> std::unique_ptr<PolyMesh> {
            return std::make_unique<SemiRegMesh>(rig.get(), &rig.object, b.polygonCount, b.polygons, b.pointArray,
                                                 b.pointCount);
        },
    };
    for (const auto& make : kinds) {
        MeshRig rig;
        REQUIRE_ENGINE(rig.engine);
        auto layer = std::make_unique<TextureLayer>();
        layer->channel = channelCOLR;
        layer->texture = fakeTexture();
        layer->projection = TextureLayer::projectionCylindrical;
        layer->axis = TextureLayer::axisY;
        ASSERT_TRUE(rig.addSurface()->addLayer(std::move(layer)));
        auto base = rig.mesh({{0.5f, 0, -1}, {-0.5f, 0, -1}, {-0.5f, 1, -1}, {0.5f, 1, -1}, {-1, 0, -1}, {-1, 1, -1}},
                             {{{0, 1, 2, 3}}, {{1, 4, 5, 2}}});
        std::unique_ptr<PolyMesh> mesh = make(rig, *base);
        base->polygons = nullptr;
        base->pointArray = nullptr;
        base->polygonCount = base->pointCount = 0;
        ASSERT_TRUE(mesh->prepare());
        const Subset& s = *mesh->subsets[0];
        float widest = 0.0f;
        for (size_t t = 0; t + 2 < s.indices.size(); t += 3) {
            const float u[3] = {vertexFloats(s, int(s.indices[t]))[6], vertexFloats(s, int(s.indices[t + 1]))[6],
                                vertexFloats(s, int(s.indices[t + 2]))[6]};
            widest = std::max(widest, *std::max_element(u, u + 3) - *std::min_element(u, u + 3));
        }
        EXPECT_LT(widest, 0.5f);
    }
}

TEST(PointMesh, BoundsStreaksAndOneDraw)
{
    MeshRig rig;
    std::vector<D3DVECTOR> pts = {{-1, 0, 2}, {3, 5, -1}};
    PointMesh mesh(rig.get(), nullptr, pts.data(), 2);
    ASSERT_TRUE(mesh.prepare());
    EXPECT_EQ(mesh.boxCorners[0].x, -1.0f);
    EXPECT_EQ(mesh.boxCorners[7].y, 5.0f);

    PointMesh::ScreenVertex v[2];
    D3DMATRIX m = identity();
    mesh.streak(0, m, 200.0f, 100.0f, v);
    mesh.streak(0, m, 200.0f, 100.0f, v);
    // No y flip; the tail starts one pixel right of the last position.
    EXPECT_FLOAT_EQ(v[0].x, 0.0f);
    EXPECT_FLOAT_EQ(v[0].y, 50.0f);
    EXPECT_FLOAT_EQ(v[1].x, 1.0f);
    EXPECT_FLOAT_EQ(v[1].y, 50.0f);

    platform::d3d9::setCallLogging(rig.device(), true);
    mesh.render(0.0, nullptr, nullptr, 0);
    int draws = 0;
    for (const auto& c : platform::d3d9::takeCallLog(rig.device()))
        if (c.name == "DrawIndexedPrimitive" && c.args == std::vector<double>{D3DPT_LINELIST, 0, 0, 4, 0, 2})
            ++draws;
    platform::d3d9::setCallLogging(rig.device(), false);
    EXPECT_EQ(draws, 1);

    std::vector<D3DVECTOR> many(size_t(PointMesh::maxPoints) + 1);
    PointMesh tooMany(rig.get(), nullptr, many.data(), i32(many.size()));
    EXPECT_FALSE(tooMany.prepare());
}

// A 512 x 512 map, free where the mask says so.
Image* walkMap(bool (*free)(int x, int y))
{
    auto* image = new Image;
    image->width = image->height = 512;
    image->pixels = new u32[512 * 512];
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            image->pixels[y * 512 + x] = free(x, y) ? 0xFF000000u : 0xFFFFFFFFu;
    return image;
}

TEST(Crowd, WalkersAreBornOnFreeCellsInTheirRanges)
{
    MeshRig rig;
    ImposterMesh crowd(rig.get());
    crowd.typeCount = 4;
    Image* map = walkMap([](int x, int) { return x < 256; });
    crowd.setWalkMap(map);
    map->release();
    Random random(7);
    ASSERT_TRUE(crowd.populate(random));
    ASSERT_EQ(crowd.imposters.size(), size_t(ImposterMesh::walkerCount));
    for (size_t i = 0; i < crowd.imposters.size(); ++i) {
        const Imposter& w = *crowd.imposters[i];
        ASSERT_TRUE(crowd.isFree(w.position.x, w.position.z));
        ASSERT_TRUE(w.type >= 0 && w.type < 4);
        for (int c = 0; c < 3; ++c)
            ASSERT_TRUE(w.tint[c] >= 0.625f && w.tint[c] < 0.96f);
        const float speed = std::hypot(w.direction.x, w.direction.z);
        ASSERT_TRUE(speed >= 0.249f && speed <= 0.92f);
        ASSERT_EQ(w.firstVertex, u16(i * 6));
    }
    // A step into a taken cell turns instead of moving.
    Imposter& w = *crowd.imposters[0];
    w.position = {-0.01f, 0.0f, 0.0f};
    w.direction = {0.5f, 0.0f, 0.0f};
    ImposterMesh::walk(w, 10.0f, random, crowd);
    EXPECT_EQ(w.position.x, -0.01f);
    EXPECT_NEAR(std::hypot(w.direction.x, w.direction.z), 0.5f, 1e-5f);
    w.direction = {-0.5f, 0.0f, 0.0f};
    ImposterMesh::walk(w, 1.0f, random, crowd);
    EXPECT_FLOAT_EQ(w.position.x, -0.01f - 0.0825f);
}

TEST(Crowd, FullOrMissingMapGivesNoWalkers)
{
    MeshRig rig;
    ImposterMesh crowd(rig.get());
    Random random(1);
    EXPECT_FALSE(crowd.populate(random));
    Image* map = walkMap([](int, int) { return false; });
    crowd.setWalkMap(map);
    map->release();
    EXPECT_FALSE(crowd.populate(random));
    EXPECT_TRUE(crowd.imposters.empty());
}

// The generated crowd content packed into a test archive, as the builder
// reads it.
TEST(Crowd, BuildsFromTheTestArchive)
{
    SarWriter writer;
    for (const mkcontent::ContentFile& file : mkcontent::extrasFiles()) {
        const std::string bytes = file.build();
        ASSERT_TRUE(writer.add(file.name, reinterpret_cast<const u8*>(bytes.data()), bytes.size()));
    }
    const std::vector<u8> archive = writer.build();
    MemoryStream files("test.sar", std::string(archive.begin(), archive.end()));
    SarArchive sar(files);
    ASSERT_TRUE(sar.mount("test.sar"));

    MeshRig rig;
    ImposterMesh crowd(rig.get());
    ASSERT_TRUE(crowd.build(sar, "crowd/"));
    ASSERT_EQ(crowd.backTextures.size(), 4u);
    ASSERT_NE(crowd.walkMap, nullptr);
    EXPECT_EQ(crowd.walkMap->width, 512);
    EXPECT_FALSE(crowd.isFree(0.0f, 0.0f)); // the block in the middle
    EXPECT_TRUE(crowd.isFree(5.0f, 5.0f));
    Random random(5);
    ASSERT_TRUE(crowd.populate(random));
    EXPECT_NE(crowd.imposters[0]->right, nullptr);
    EXPECT_NE(crowd.imposters[0]->right->current(0.0), nullptr);

    ASSERT_TRUE(sar.open("pmesh/levels.pm"));
    PMesh mesh(rig.get(), nullptr, 0, nullptr, nullptr, 0, &sar);
    EXPECT_EQ(mesh.minimumLevel, 30);
    EXPECT_EQ(mesh.collapseMapLength, 4);
    EXPECT_EQ(mesh.permutationLength, 2);
    clearImageCache();
}

TEST(Crowd, ViewByAngleAndMirroredBillboard)
{
    const D3DVECTOR camera = {0.0f, 0.0f, 1.0f};
    struct Case {
        D3DVECTOR dir;
        ImposterMesh::View view;
    } cases[] = {
        {{0.0f, 0.0f, 1.0f}, ImposterMesh::kBack},
        {{0.6f, 0.0f, 1.0f}, ImposterMesh::kBack},  // about 31 degrees
        {{1.0f, 0.0f, 0.0f}, ImposterMesh::kRight}, // 90
        {{1.0f, 0.0f, -0.9f}, ImposterMesh::kRight},
        {{0.2f, 0.0f, -1.0f}, ImposterMesh::kFront},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ImposterMesh::viewFor(c.dir, camera), c.view) << c.dir.x << "," << c.dir.z;

    Imposter w;
    w.position = {1.0f, 2.0f, 3.0f};
    ImposterMesh::BillboardVertex v[6];
    for (float dx : {1.0f, -1.0f}) {
        w.direction = {dx, 0.0f, 0.0f};
        ImposterMesh::billboard(w, identity(), v);
        EXPECT_FLOAT_EQ(v[0].x, 0.875f);
        EXPECT_FLOAT_EQ(v[1].x, 1.125f);
        EXPECT_FLOAT_EQ(v[0].y, 2.034f);
        EXPECT_FLOAT_EQ(v[2].y, 1.784f);
        EXPECT_EQ(v[0].u, dx < 0 ? 1.0f : 0.0f);
    }
}

TEST(Crowd, DrawRestoresTheTransforms)
{
    MeshRig rig;
    ImposterMesh crowd(rig.get());
    Image* map = walkMap([](int, int) { return true; });
    crowd.setWalkMap(map);
    map->release();
    rig.device()->CreateVertexBuffer(ImposterMesh::walkerCount * 6 * 20, D3DUSAGE_WRITEONLY, ImposterMesh::fvf,
                                     D3DPOOL_MANAGED, &crowd.vertexBuffer, nullptr);
    Random random(3);
    ASSERT_TRUE(crowd.populate(random));
    D3DMATRIX view = identity();
    view.m[3][2] = 5.0f;
    rig.device()->SetTransform(D3DTS_VIEW, &view);
    platform::d3d9::setCallLogging(rig.device(), true);
    crowd.draw(0.1f, random);
    int draws = 0;
    for (const auto& c : platform::d3d9::takeCallLog(rig.device()))
        draws += c.name == "DrawPrimitive";
    platform::d3d9::setCallLogging(rig.device(), false);
    EXPECT_EQ(draws, ImposterMesh::walkerCount);
    D3DMATRIX after;
    rig.device()->GetTransform(D3DTS_VIEW, &after);
    EXPECT_EQ(after.m[3][2], 5.0f);
}

TEST(BakeCoordinates, CellsPerRowAndKeys)
{
    EXPECT_EQ(bake::gridSize(0), 2);
    EXPECT_EQ(bake::gridSize(3), 2);
    EXPECT_EQ(bake::gridSize(27), 3);
    struct Case {
        i32 k, n;
        float u, v;
    } cases[] = {
        {0, 3, 0.0f, 0.0f},       {1, 3, 1.0f / 3, 0.0f},   {2, 3, 0.0f, 1.0f / 3},
        {3, 3, 1.0f / 3, 1.0f / 3}, {6, 3, 1.0f / 3, 0.0f}, // second cell of the row
        {12, 3, 0.0f, 1.0f / 3},  // a row holds n - 1 cells
    };
    for (const Case& c : cases) {
        float u, v;
        bake::cornerCoordinates(c.k, c.n, u, v);
        EXPECT_FLOAT_EQ(u, c.u) << c.k;
        EXPECT_FLOAT_EQ(v, c.v) << c.k;
    }
    MeshVertex corners[6];
    const i32 slots[6] = {1, 1, 1, 0, 0, 9};
    bake::assignCoordinates(corners, 6, slots);
    EXPECT_EQ(corners[2].texKeys[1], 2);
    EXPECT_EQ(corners[4].texKeys[0], 4);
    EXPECT_FLOAT_EQ(corners[1].texCoords[1][0], 0.5f);

    texturetest::Diagnostics diagnostics(3);
    bake::assignCoordinates(corners, 4, slots);
    EXPECT_EQ(texturetest::boxTexts().size(), 1u);
}

float polygonArea(const std::vector<earclip::Point2>& p)
{
    double a = 0.0;
    for (size_t i = 0; i < p.size(); ++i) {
        const auto& q = p[i];
        const auto& r = p[(i + 1) % p.size()];
        a += double(q.x) * r.y - double(r.x) * q.y;
    }
    return float(std::fabs(a) / 2.0);
}

TEST(EarClipping, TrianglesCoverThePolygonOnEveryAxis)
{
    // An L shape (concave) and a square, in the plane z = 0.
    const std::vector<std::vector<earclip::Point2>> shapes = {
        {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}},
        {{0, 0}, {1, 0}, {1, 1}, {0, 1}},
    };
    for (const auto& shape : shapes)
        for (int axis = 0; axis < 3; ++axis)
            for (float sign : {1.0f, -1.0f}) {
                std::vector<D3DVECTOR> pts;
                std::vector<u32> corners;
                for (size_t i = 0; i < shape.size(); ++i) {
                    // Laid out so that dropping `axis` gives (a, b); clockwise
                    // outlines for the negative sign.
                    const auto& s = shape[sign > 0 ? i : shape.size() - 1 - i];
                    pts.push_back(axis == 0 ? D3DVECTOR{0, s.x, s.y}
                                            : axis == 1 ? D3DVECTOR{s.y, 0, s.x} : D3DVECTOR{s.x, s.y, 0});
                    corners.push_back(u32(i));
                }
                D3DVECTOR normal = {axis == 0 ? 1.0f : 0.0f, axis == 1 ? 1.0f : 0.0f, axis == 2 ? 1.0f : 0.0f};
                ASSERT_EQ(earclip::dominantAxis(normal), axis);
                std::vector<u32> tris;
                EXPECT_TRUE(earclip::triangulate(pts.data(), corners, axis, sign, tris));
                ASSERT_EQ(tris.size(), (shape.size() - 2) * 3);
                float sum = 0.0f;
                for (size_t t = 0; t < tris.size(); t += 3)
                    sum += earclip::triangleArea(earclip::project(pts[tris[t]], axis),
                                                 earclip::project(pts[tris[t + 1]], axis),
                                                 earclip::project(pts[tris[t + 2]], axis));
                EXPECT_NEAR(sum, polygonArea(shape), 1e-5f) << axis << " " << sign;
            }
    EXPECT_EQ(earclip::dominantAxis({1, 1, 1}), 0);
    EXPECT_EQ(earclip::dominantAxis({0, 1, -1}), 1);
}

TEST(EarClipping, PolygonsWithoutAnEarEnd)
{
    const std::vector<std::vector<D3DVECTOR>> bad = {
        {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}},            // collinear
        {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}}, // repeated
        {{0, 0, 0}, {2, 2, 0}, {2, 0, 0}, {0, 2, 0}, {1, 3, 0}}, // self-crossing
    };
    for (const auto& pts : bad) {
        std::vector<u32> corners(pts.size());
        for (size_t i = 0; i < pts.size(); ++i)
            corners[i] = u32(i);
        std::vector<u32> tris;
        earclip::triangulate(pts.data(), corners, 2, 1.0f, tris);
        EXPECT_LE(tris.size(), (pts.size() - 2) * 3);
    }
}

TEST(OutlineView, EightWhiteLinesInScreenPixels)
{
    const float corners[4][3] = {{-1, 1, 1}, {1, 1, 1}, {-1, -1, 1}, {1, -1, 1}};
    const float normals[4][2] = {{0, 1}, {1, 0}, {0, -1}, {-1, 0}};
    outline::ScreenVertex v[12];
    outline::project(corners, normals, 100.0f, 50.0f, v);
    EXPECT_FLOAT_EQ(v[0].x, 0.0f);
    EXPECT_FLOAT_EQ(v[0].y, 0.0f); // y is flipped: +1 is the top row
    EXPECT_FLOAT_EQ(v[3].y, 50.0f);
    EXPECT_FLOAT_EQ(v[4].x, 50.0f); // midpoint of the top edge
    EXPECT_FLOAT_EQ(v[5].y, -12.5f); // and its normal tick
    EXPECT_EQ(v[7].color, 0xFFFFFFFFu);

    MeshRig rig;
    platform::d3d9::setCallLogging(rig.device(), true);
    outline::draw(rig.get(), corners, normals);
    int lines = 0;
    for (const auto& c : platform::d3d9::takeCallLog(rig.device()))
        if (c.name == "DrawIndexedPrimitiveUP")
            lines = int(c.args[3]);
    platform::d3d9::setCallLogging(rig.device(), false);
    EXPECT_EQ(lines, 8);
}

} // namespace
