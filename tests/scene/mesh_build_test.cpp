// The polygon mesh build: triangulation, welding, subsets per surface,
// automatic bone weights and what it does with damaged layers.
#include "mesh_test_support.h"

#include <cmath>

using namespace meshtest;

namespace {

std::vector<u32> zigZag(u32 n)
{
    std::vector<u32> out;
    PolyMesh::triangulateZigZag(n, out);
    return out;
}

TEST(MeshBuild, ZigZagTriangulation)
{
    EXPECT_EQ(zigZag(2), (std::vector<u32>{}));
    EXPECT_EQ(zigZag(3), (std::vector<u32>{0, 1, 2}));
    EXPECT_EQ(zigZag(4), (std::vector<u32>{0, 1, 3, 1, 2, 3}));
    EXPECT_EQ(zigZag(5), (std::vector<u32>{0, 1, 4, 1, 3, 4, 1, 2, 3}));
}

TEST(MeshBuild, BoxCornersSphereAndDistance)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    PartigonMesh m(rig.get());
    m.setBoundingBox({-1, -2, -3}, {3, 2, 1});
    EXPECT_EQ(m.bboxused, 1);
    const D3DVECTOR& c3 = m.boxCorners[3]; // min x, max y, max z
    EXPECT_EQ(c3.x, -1.0f);
    EXPECT_EQ(c3.y, 2.0f);
    EXPECT_EQ(c3.z, 1.0f);
    EXPECT_EQ(m.boxCorners[4].x, 3.0f);
    EXPECT_EQ(m.center.x, 1.0f);
    EXPECT_FLOAT_EQ(m.radius, 2.0f * std::sqrt(3.0f));
    EXPECT_FLOAT_EQ(m.distanceToBoundingSphere({1 + 10, 0, -1}), 10 - m.radius);
    EXPECT_EQ(m.distanceToBoundingSphere(m.center), 0.0f); // no direction to go

    D3DMATRIX shift = {};
    for (int i = 0; i < 4; ++i)
        shift.m[i][i] = 1.0f;
    shift._41 = 5.0f;
    shift._44 = 2.0f; // the w column is kept, not divided
    float out[8][4];
    m.transformBoxCorners(shift, out);
    EXPECT_EQ(out[7][0], 3.0f + 5.0f);
    EXPECT_EQ(out[7][3], 2.0f);
}

// Vertices and indices per case: the weld joins corners of one point only
// when keys and normals agree.
TEST(MeshBuild, WeldCounts)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    struct Case {
        const char* name;
        float smoothing;
        std::vector<D3DVECTOR> points;
        std::vector<Poly> polys;
        u32 vertices, indices;
    } cases[] = {
        {"two coplanar triangles", 0.0f, {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}, {{{0, 1, 2}}, {{0, 2, 3}}}, 4, 6},
        {"cube, sharp", 60.0f, cubePoints(), cubeFaces(), 24, 36},
        {"cube, smoothed", 100.0f, cubePoints(), cubeFaces(), 8, 36},
    };
    for (const Case& c : cases) {
        MeshRig& r = rig;
        r.surfaces.clear();
        r.tags.clear();
        r.setTags();
        r.addSurface(c.smoothing);
        auto m = r.mesh(c.points, c.polys);
        ASSERT_TRUE(m->prepare()) << c.name;
        ASSERT_EQ(m->subsets.size(), 1u) << c.name;
        EXPECT_EQ(u32(m->subsets[0]->vertexCount), c.vertices) << c.name;
        EXPECT_EQ(m->subsets[0]->indexCount, c.indices) << c.name;
        EXPECT_EQ(m->cornerCount, i32(c.polys.size() == 2 ? 6 : 24)) << c.name;
    }
}

// A smoothed cube corner's normal points out along the diagonal.
TEST(MeshBuild, SmoothedNormalIsTheAverage)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addSurface(100.0f);
    auto m = rig.mesh(cubePoints(), cubeFaces());
    ASSERT_TRUE(m->prepare());
    const Subset& s = *m->subsets[0];
    const float k = 1.0f / std::sqrt(3.0f);
    for (int v = 0; v < s.vertexCount; ++v) {
        const float* f = vertexFloats(s, v);
        for (int a = 0; a < 3; ++a)
            EXPECT_NEAR(f[3 + a], f[a] > 0 ? k : -k, 1e-5f) << v;
    }
}

TEST(MeshBuild, SubsetsFollowTheSurfaceList)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    Surface* first = rig.addSurface();
    rig.addSurface(); // no polygons: no subset
    Surface* third = rig.addSurface();
    auto m = rig.mesh({{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}, {{{0, 1, 2}, 2}, {{0, 2, 3}, 0}});
    ASSERT_TRUE(m->prepare());
    ASSERT_EQ(m->subsets.size(), 2u);
    EXPECT_EQ(m->subsets[0]->surface, first);
    EXPECT_EQ(m->subsets[1]->surface, third);
    // Each subset's indices start at its own first vertex.
    EXPECT_EQ(m->subsets[1]->indices, (std::vector<u32>{0, 1, 2}));
}

// Point 0 is shared by three coplanar triangles; the UV map overrides it in
// polygons 1 and 2 (the same seam value), so it becomes two vertices.
TEST(MeshBuild, PerPolygonUVsSplitAPointOnce)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    Surface* s = rig.addSurface();
    auto* map = new UVMap;
    map->u = {0.5f, 0.0f, 0.25f, 0.75f, 1.0f};
    map->v = {0.5f, 0.0f, 0.0f, 0.0f, 0.0f};
    map->addDiscontinuous(0, 1, 0.9f, 0.1f);
    map->addDiscontinuous(0, 2, 0.9f, 0.1f);
    MeshRig::addUVLayer(s, map);
    auto m = rig.mesh({{0, 0, 0}, {-1, 1, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}},
                      {{{0, 1, 2}}, {{0, 2, 3}}, {{0, 3, 4}}});
    ASSERT_TRUE(m->prepare());
    const Subset& sub = *m->subsets[0];
    EXPECT_EQ(sub.vertexCount, 6); // points 1-4, and point 0 twice
    int atOrigin = 0;
    for (int v = 0; v < sub.vertexCount; ++v) {
        const float* f = vertexFloats(sub, v);
        if (f[0] == 0 && f[1] == 0) {
            ++atOrigin;
            EXPECT_TRUE((f[6] == 0.5f && f[7] == 0.5f) || (f[6] == 0.9f && f[7] == 0.1f)) << f[6] << "," << f[7];
        }
    }
    EXPECT_EQ(atOrigin, 2);
}

// Damaged layers: polygons naming points or surfaces the mesh lacks, or
// with fewer than three corners, are dropped before anything reads them.
TEST(MeshBuild, DamagedPolygonsAreDropped)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addSurface();
    const std::vector<D3DVECTOR> points = {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    struct Case {
        const char* name;
        Poly bad;
    } cases[] = {
        {"point index out of range", {{0, 1, 7}}},
        {"huge point index", {{0, 0xFFFFFFFFu, 2}}},
        {"surface index out of range", {{0, 1, 2}, 3}},
        {"negative surface index", {{0, 1, 2}, -1}},
        {"two corners", {{0, 1}}},
        {"no corners", {{}}},
    };
    for (const Case& c : cases) {
        auto m = rig.mesh(points, {c.bad, {{0, 1, 2}}});
        ASSERT_TRUE(m->prepare()) << c.name;
        EXPECT_EQ(m->polygonCount, 1) << c.name;
        EXPECT_EQ(m->polygons[0].polygonNumber, 1) << c.name;
        EXPECT_EQ(m->cornerCount, 3) << c.name;
        ASSERT_EQ(m->subsets.size(), 1u) << c.name;
        EXPECT_EQ(m->subsets[0]->primitiveCount, 1) << c.name;
    }
    // Nothing usable at all: prepared, with nothing to draw.
    auto empty = rig.mesh(points, {{{0, 1}}, {{0, 1, 9}}});
    EXPECT_TRUE(empty->prepare());
    EXPECT_TRUE(empty->subsets.empty());
}

// A bone whose rest matrix puts it at `origin`, pointing along `axis` (a
// unit vector; the z row of the matrix).
Bone* restingBone(D3DVECTOR origin, D3DVECTOR axis, float length)
{
    auto* b = new Bone(nullptr, 0, 0);
    D3DMATRIX& m = b->restMatrix;
    m = {};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    m._31 = axis.x, m._32 = axis.y, m._33 = axis.z;
    m._41 = origin.x, m._42 = origin.y, m._43 = origin.z;
    b->restValid = 1;
    b->restLength = length;
    return b;
}

struct Weights {
    u8 index[4];
    float weight[4];
};

Weights weightsAt(PolyMesh& m, D3DVECTOR p)
{
    Weights w;
    m.boneWeightsAt(p, w.index, w.weight);
    return w;
}

TEST(MeshBuild, AutomaticBoneWeights)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addSurface();
    auto m = rig.mesh({{0, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{{0, 1, 2}}});
    // Bone 0 along +z from the origin, bone 1 along +x from (0, 5, 1).
    m->bones.push_back(restingBone({0, 0, 0}, {0, 0, 1}, 2));
    m->bones.push_back(restingBone({0, 5, 1}, {1, 0, 0}, 2));

    // On bone 0's segment: weight 1 for it, nothing for the rest.
    Weights on = weightsAt(*m, {0, 0, 1.5f});
    EXPECT_EQ(on.index[0], 0);
    EXPECT_EQ(on.weight[0], 1.0f);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(on.weight[i], 0.0f);
    // Beside both: distances 1 (bone 0, beside its segment) and 4 (bone 1,
    // from its origin) with falloff 0 (x = 1/2): weights 1 and 1/2, which
    // share 1; the unused slots stay at bone 0 with weight 0.
    Weights both = weightsAt(*m, {0, 1, 1});
    EXPECT_EQ(both.index[0], 0);
    EXPECT_EQ(both.index[1], 1);
    EXPECT_NEAR(both.weight[0], 2.0f / 3.0f, 1e-6f);
    EXPECT_NEAR(both.weight[1], 1.0f / 3.0f, 1e-6f);
    for (int i = 2; i < 4; ++i) {
        EXPECT_EQ(both.index[i], 0);
        EXPECT_EQ(both.weight[i], 0.0f);
    }
    // Past the tip the distance is to the tip: (0, 0, 3) is 1 from bone 0's,
    // and sqrt(29) beside bone 1.
    Weights past = weightsAt(*m, {0, 0, 3});
    EXPECT_NEAR(past.weight[0] / past.weight[1], std::pow(29.0f, 0.25f), 1e-4f);

    // The build stores them with every corner and tells the surface.
    rig->fixedFunction = 0;
    ASSERT_TRUE(m->prepare());
    EXPECT_EQ(rig.surfaces[0]->boneWeightCount, 2);
    EXPECT_EQ(m->subsets[0]->layout.stride, 24u + 4 + 8);
}

// Bone data that would give NaN or out-of-range weights and indices.
TEST(MeshBuild, BoneWeightsStayFinite)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addSurface();
    struct Case {
        const char* name;
        int bones;
        i32 falloff;
        float strength;
        D3DVECTOR axis;
        float expectedSum;
    } cases[] = {
        {"zero-length direction", 2, 0, 1.0f, {0, 0, 0}, 1.0f},
        {"strength 0 everywhere", 2, 0, 0.0f, {0, 0, 1}, 0.0f},
        {"falloff overflowing", 2, 1000, 1.0f, {0, 0, 1}, 1.0f},
        {"falloff underflowing", 2, -1000, 1.0f, {0, 0, 1}, 1.0f},
        {"more than 24 bones", 30, 2, 1.0f, {0, 0, 1}, 1.0f},
    };
    for (const Case& c : cases) {
        auto m = rig.mesh({{0, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{{0, 1, 2}}});
        m->boneFalloffType = c.falloff;
        for (int b = 0; b < c.bones; ++b) {
            // Beside the point at 0.2, 0.4, ...: the first ones nearer than 1.
            m->bones.push_back(restingBone({0.25f, 0.5f + 0.2f * float(b + 1), 0.0f}, c.axis, 1.0f));
            m->bones.back()->strength = c.strength;
        }
        Weights w = weightsAt(*m, {0.25f, 0.5f, 0.5f});
        float sum = 0.0f;
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(std::isfinite(w.weight[i])) << c.name;
            EXPECT_LT(w.index[i], 24) << c.name;
            sum += w.weight[i];
        }
        EXPECT_NEAR(sum, c.expectedSum, 1e-5f) << c.name;
    }
}

// Buffer creation failing on one of two devices leaves the mesh unprepared;
// the next prepare rebuilds without keeping the failed attempt's subsets.
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
    EXPECT_EQ(m->prepared, 0);
    platform::d3d9::failBufferCreation(rig->devices[1], false);
    EXPECT_TRUE(m->prepare());
    EXPECT_EQ(m->subsets.size(), 2u);
    EXPECT_EQ(m->polygonCount, 2);
    EXPECT_EQ(m->polygons[1].polygonNumber, 1);
    // Prepared: the next call answers without building.
    platform::d3d9::failBufferCreation(rig->devices[0]);
    EXPECT_TRUE(m->prepare());
    platform::d3d9::failBufferCreation(rig->devices[0], false);
}

} // namespace
