// The polygon mesh build: triangulation, welding, subsets per surface,
// automatic bone weights and damaged layers.
#include "mesh_test_support.h"

#include "log_test_support.h"

#include <chrono>
#include <cmath>
#include <ctime>

using namespace meshtest;

namespace {

TEST(MeshBuild, ZigZagTriangulation)
{
    const std::vector<std::vector<u32>> expected = {
        {}, {}, {}, {0, 1, 2}, {0, 1, 3, 1, 2, 3}, {0, 1, 4, 1, 3, 4, 1, 2, 3}};
    for (u32 n = 0; n < expected.size(); ++n) {
        std::vector<u32> out;
        PolyMesh::triangulateZigZag(n, out);
        EXPECT_EQ(out, expected[n]) << n;
    }
}

TEST(MeshBuild, BoxCornersAndSphere)
{
    PartigonMesh m(nullptr);
    m.setBoundingBox({-1, -2, -3}, {3, 2, 1});
    const D3DVECTOR& c3 = m.boxCorners[3]; // min x, max y, max z
    EXPECT_TRUE(c3.x == -1 && c3.y == 2 && c3.z == 1);
    EXPECT_EQ(m.center.z, -1.0f);
    EXPECT_FLOAT_EQ(m.radius, 2.0f * std::sqrt(3.0f));
    EXPECT_FLOAT_EQ(m.distanceToBoundingSphere({11, 0, -1}), 10 - m.radius);
    EXPECT_EQ(m.distanceToBoundingSphere(m.center), 0.0f);
}

// Corners of one point weld only when keys and normals agree; subsets come
// in surface order and index from their own first vertex.
TEST(MeshBuild, WeldsAndSubsets)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    const std::vector<D3DVECTOR> square = {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}};
    struct Case {
        const char* name;
        float smoothing;
        std::vector<D3DVECTOR> points;
        std::vector<Poly> polys;
        int vertices;
        u32 indices;
    } cases[] = {
        {"coplanar triangles", 0, square, {{{0, 1, 2}}, {{0, 2, 3}}}, 4, 6},
        {"sharp cube", 60, cubePoints(), cubeFaces(), 24, 36},
        {"smoothed cube", 100, cubePoints(), cubeFaces(), 8, 36},
    };
    for (const Case& c : cases) {
        MeshRig r;
        r.addSurface(c.smoothing);
        auto m = r.mesh(c.points, c.polys);
        ASSERT_TRUE(m->prepare()) << c.name;
        ASSERT_EQ(m->subsets.size(), 1u) << c.name;
        EXPECT_EQ(m->subsets[0]->vertexCount, c.vertices) << c.name;
        EXPECT_EQ(m->subsets[0]->indexCount, c.indices) << c.name;
        // A smoothed corner's normal is the average of its faces'.
        const float k = 1.0f / std::sqrt(3.0f);
        for (int v = 0; c.vertices == 8 && v < 8; ++v) {
            const float* f = vertexFloats(*m->subsets[0], v);
            EXPECT_NEAR(f[3], f[0] > 0 ? k : -k, 1e-5f);
        }
    }
    Surface* first = rig.addSurface();
    rig.addSurface(); // no polygons: no subset
    Surface* third = rig.addSurface();
    auto m = rig.mesh(square, {{{0, 1, 2}, 2}, {{0, 2, 3}, 0}});
    ASSERT_TRUE(m->prepare());
    ASSERT_EQ(m->subsets.size(), 2u);
    EXPECT_EQ(m->subsets[0]->surface, first);
    EXPECT_EQ(m->subsets[1]->surface, third);
    EXPECT_EQ(m->subsets[1]->indices, (std::vector<u32>{0, 1, 2}));
}

// Four polygons of 65,535 corners around one point: the smoothing groups the
// point's corners by face, so the build costs the corners, not their square.
TEST(MeshBuild, ManyCornersOnOnePointSmoothInLinearTime)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addSurface(100);
    const std::vector<D3DVECTOR> points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}};
    std::vector<Poly> polys;
    for (u32 k = 0; k < 4; ++k) {
        Poly p;
        for (u32 c = 0; c < 65535; ++c)
            p.points.push_back(c % 3 == 0 ? 0 : c % 3 == 1 ? 1 + k : 1 + (k + 1) % 4);
        polys.push_back(std::move(p));
    }
    const auto start = std::chrono::steady_clock::now();
    auto m = rig.mesh(points, polys);
    EXPECT_TRUE(m->prepare());
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

// Triangles around apex point 0, above rim points on the unit circle:
// triangle t joins rim point t % rim to the one (1 + t / rim) further on, so
// with as many faces as rim points it is a closed fan (a sphere's pole), and
// with more every face still has its own normal.
std::unique_ptr<PolyMesh> fan(MeshRig& rig, u32 faces, u32 rim)
{
    std::vector<D3DVECTOR> points = {{0, 0.2f, 0}};
    for (u32 i = 0; i < rim; ++i) {
        const float a = 6.2831853f * float(i) / float(rim);
        points.push_back({std::cos(a), 0, std::sin(a)});
    }
    std::vector<Poly> polys;
    for (u32 t = 0; t < faces; ++t)
        polys.push_back({{0, 1 + (t % rim + 1 + t / rim) % rim, 1 + t % rim}});
    return rig.mesh(points, polys);
}

double processorSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Every corner at a pole of 257 faces smooths to the same normal, so the
// apex welds into one vertex beside the 257 rim vertices.
TEST(MeshBuild, PoleFanSmoothsIntoOneApex)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addSurface(60);
    auto m = fan(rig, 257, 257);
    ASSERT_TRUE(m->prepare());
    EXPECT_EQ(m->subsets[0]->vertexCount, 258);
}

// One point shared by tens of thousands of differing faces: smoothing stops
// at the mesh's budget (and says so), welding costs the corners.
TEST(MeshBuild, HostileFansPrepareInBoundedTime)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addSurface(60);
    struct Case {
        u32 faces, rim;
        double seconds; // walking the point's vertices: 2 s and 35 s
    } cases[] = {{65535, 65535, 1.5}, {80000, 1000, 3.0}};
    for (const Case& c : cases) {
        auto m = fan(rig, c.faces, c.rim);
        const auto log = testsupport::logPosition();
        const double start = processorSeconds();
        EXPECT_TRUE(m->prepare()) << c.faces;
        EXPECT_LT(processorSeconds() - start, c.seconds) << c.faces;
        const auto lines = testsupport::logLinesFrom(log);
        EXPECT_TRUE(lines.size() == 1 && lines[0].find("smoothing budget") != std::string::npos) << c.faces;
    }
}

// Point 0 is shared by three coplanar triangles; the UV map overrides it in
// polygons 1 and 2 with one seam value, so it becomes two vertices.
TEST(MeshBuild, PerPolygonUVsSplitAPointOnce)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    auto* map = new UVMap;
    map->u = {0.5f, 0.0f, 0.25f, 0.75f, 1.0f};
    map->v = {0.5f, 0.0f, 0.0f, 0.0f, 0.0f};
    map->addDiscontinuous(0, 1, 0.9f, 0.1f);
    map->addDiscontinuous(0, 2, 0.9f, 0.1f);
    addLayer(rig.addSurface(), channelCOLR, map);
    auto m = rig.mesh({{0, 0, 0}, {-1, 1, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}},
                      {{{0, 1, 2}}, {{0, 2, 3}}, {{0, 3, 4}}});
    ASSERT_TRUE(m->prepare());
    const Subset& s = *m->subsets[0];
    EXPECT_EQ(s.vertexCount, 6);
    std::vector<std::pair<float, float>> atOrigin;
    for (int v = 0; v < s.vertexCount; ++v)
        if (vertexFloats(s, v)[0] == 0 && vertexFloats(s, v)[1] == 0)
            atOrigin.emplace_back(vertexFloats(s, v)[6], vertexFloats(s, v)[7]);
    EXPECT_EQ(atOrigin, (std::vector<std::pair<float, float>>{{0.5f, 0.5f}, {0.9f, 0.1f}}));
}

// Polygons naming points or surfaces the mesh lacks, or with fewer than
// three corners, are dropped before anything reads them.
TEST(MeshBuild, DamagedPolygonsAreDropped)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addSurface();
    const std::vector<D3DVECTOR> points = {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    const Poly bad[] = {{{0, 1, 7}}, {{0, 0xFFFFFFFFu, 2}}, {{0, 1, 2}, 3}, {{0, 1, 2}, -1}, {{0, 1}}, {{}}};
    for (const Poly& p : bad) {
        auto m = rig.mesh(points, {p, {{0, 1, 2}}});
        ASSERT_TRUE(m->prepare());
        EXPECT_EQ(m->polygonCount, 1);
        EXPECT_EQ(m->polygons[0].polygonNumber, 1);
        EXPECT_EQ(m->cornerCount, 3);
        ASSERT_EQ(m->subsets.size(), 1u);
        EXPECT_EQ(m->subsets[0]->primitiveCount, 1);
    }
    auto empty = rig.mesh(points, {{{0, 1}}, {{0, 1, 9}}});
    EXPECT_TRUE(empty->prepare());
    EXPECT_TRUE(empty->subsets.empty());
}

// A bone at rest at origin, along unit axis (the rest matrix's z row).
Bone* restingBone(D3DVECTOR origin, D3DVECTOR axis, float length, float strength = 1.0f)
{
    auto* b = new Bone(nullptr, 0, 0);
    D3DMATRIX& m = b->restMatrix;
    m = {};
    m._11 = m._22 = m._44 = 1.0f;
    m._31 = axis.x, m._32 = axis.y, m._33 = axis.z;
    m._41 = origin.x, m._42 = origin.y, m._43 = origin.z;
    b->restValid = 1;
    b->restLength = length;
    b->strength = strength;
    return b;
}

TEST(MeshBuild, AutomaticBoneWeights)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addSurface();
    auto m = rig.mesh({{0, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{{0, 1, 2}}});
    m->bones.push_back(restingBone({0, 0, 0}, {0, 0, 1}, 2));
    m->bones.push_back(restingBone({0, 5, 1}, {1, 0, 0}, 2));
    const float past = 1 / (1 + std::pow(29.0f, -0.25f));
    struct Case {
        D3DVECTOR p;
        u8 index[4];
        float weight[4];
    } cases[] = {
        {{0, 0, 1.5f}, {0, 0, 0, 0}, {1, 0, 0, 0}},              // on bone 0's segment
        {{0, 1, 1}, {0, 1, 0, 0}, {2.0f / 3, 1.0f / 3, 0, 0}},    // 1 and 4 away: (1/d)^0.5
        {{0, 0, 3}, {0, 1, 0, 0}, {past, 1 - past, 0, 0}},       // past the tip: 1 and sqrt(29)
    };
    for (const Case& c : cases) {
        u8 index[4];
        float weight[4];
        m->boneWeightsAt(c.p, index, weight);
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(index[i] == c.index[i] && std::fabs(weight[i] - c.weight[i]) < 1e-6f) << c.p.z << " " << i;
    }
    // The build stores them with every corner and tells the surface.
    rig->fixedFunction = 0;
    ASSERT_TRUE(m->prepare());
    EXPECT_EQ(rig.surfaces[0]->boneWeightCount, 2);
    EXPECT_EQ(m->subsets[0]->layout.stride, 24u + 4 + 8);

    // Bone data that would give NaN weights or indices past the 24 matrices.
    struct Bad {
        const char* name;
        int bones;
        i32 falloff;
        float strength;
        D3DVECTOR axis;
        float sum;
    } bad[] = {
        {"zero-length direction", 2, 0, 1, {0, 0, 0}, 1}, {"strength 0 everywhere", 2, 0, 0, {0, 0, 1}, 0},
        {"falloff overflowing", 2, 1000, 1, {0, 0, 1}, 1}, {"falloff underflowing", 2, -1000, 1, {0, 0, 1}, 1},
        {"more than 24 bones", 30, 2, 1, {0, 0, 1}, 1},
    };
    for (const Bad& c : bad) {
        auto n = rig.mesh({{0, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{{0, 1, 2}}});
        n->boneFalloffType = c.falloff;
        // Beside the point at 0.2, 0.4, ...: the first ones nearer than 1.
        for (int b = 0; b < c.bones; ++b)
            n->bones.push_back(restingBone({0.25f, 0.5f + 0.2f * float(b + 1), 0}, c.axis, 1, c.strength));
        u8 index[4];
        float weight[4], sum = 0.0f;
        n->boneWeightsAt({0.25f, 0.5f, 0.5f}, index, weight);
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(std::isfinite(weight[i]) && index[i] < 24) << c.name;
            sum += weight[i];
        }
        EXPECT_NEAR(sum, c.sum, 1e-5f) << c.name;
    }
}

// Buffers failing on one of two devices leave the mesh unprepared; the next
// prepare rebuilds without keeping the failed attempt's subsets.
TEST(MeshBuild, FailedBuffersLeaveTheMeshUnprepared)
{
    MeshRig rig(true);
    REQUIRE_ENGINE(rig.engine);
    ASSERT_EQ(rig->deviceCount, 2);
    rig.addSurface();
    rig.addSurface();
    auto m = rig.mesh(cubePoints(), {{{0, 2, 6, 4}, 0}, {{1, 5, 7, 3}, 1}});
    platform::d3d9::failBufferCreation(rig->devices[1]);
    EXPECT_FALSE(m->prepare());
    platform::d3d9::failBufferCreation(rig->devices[1], false);
    EXPECT_TRUE(m->prepare());
    EXPECT_EQ(m->subsets.size(), 2u);
    EXPECT_EQ(m->polygons[1].polygonNumber, 1);
    platform::d3d9::failBufferCreation(rig->devices[0]);
    EXPECT_TRUE(m->prepare()); // prepared: answers without building
    platform::d3d9::failBufferCreation(rig->devices[0], false);
}

} // namespace
