// Texture coordinates per projection kind and axis, checked against values
// worked out by hand from the projection formulas; the seam rule, the
// animated-layer case, zero sizes, and the layer transform and its cache.
#include "materials/texture_projection.h"

#include "foundation/envelope.h"
#include "foundation/matrix.h"
#include "materials/surface.h"
#include "materials/texture_layer.h"
#include "materials/vertex_maps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr float kPi = 3.14159265358979f;
const float kRoot2 = std::sqrt(2.0f);

// Never looked through: only "has a texture" matters here.
Texture* fakeTexture()
{
    static char storage;
    return reinterpret_cast<Texture*>(&storage);
}

struct LayerSetup {
    i32 projection = TextureLayer::projectionPlanar;
    i32 axis = TextureLayer::axisX;
    float center[3] = {0.0f, 0.0f, 0.0f};
    float rotation[3] = {0.0f, 0.0f, 0.0f};
    float size[3] = {1.0f, 1.0f, 1.0f};
    float wrapWidth = 1.0f;
    float wrapHeight = 1.0f;
};

std::unique_ptr<TextureLayer> makeLayer(const LayerSetup& setup)
{
    auto layer = std::make_unique<TextureLayer>();
    layer->channel = channelCOLR;
    layer->texture = fakeTexture();
    layer->projection = setup.projection;
    layer->axis = setup.axis;
    for (int i = 0; i < 3; ++i) {
        layer->center[i].value = setup.center[i];
        layer->rotation[i].value = setup.rotation[i];
        layer->size[i].value = setup.size[i];
    }
    layer->wrapAmountWidth = setup.wrapWidth;
    layer->wrapAmountHeight = setup.wrapHeight;
    return layer;
}

// Corners at the given positions, every texture set filled with a marker so
// that untouched sets show.
std::vector<MeshVertex> corners(std::initializer_list<D3DVECTOR> positions)
{
    std::vector<MeshVertex> out;
    for (const D3DVECTOR& p : positions) {
        MeshVertex v;
        v.position = p;
        for (int s = 0; s < MeshVertex::maxTexCoordSets; ++s) {
            v.texCoords[s][0] = v.texCoords[s][1] = v.texCoords[s][2] = 7.0f;
            v.texKeys[s] = 77;
        }
        out.push_back(v);
    }
    return out;
}

const D3DVECTOR kUp = {0.0f, 1.0f, 0.0f};

void generate(Surface& s, std::vector<MeshVertex>& c, const D3DVECTOR& normal = kUp, bool seam = true,
              const u32* points = nullptr, i32 polygon = 0, i32 layerNumber = 0)
{
    s.generateTexCoords(c.data(), (int)c.size(), points, polygon, layerNumber, normal, seam);
}

void expectSet(const MeshVertex& v, int set, float u, float vv, float w, i32 key)
{
    EXPECT_NEAR(v.texCoords[set][0], u, 1e-5f);
    EXPECT_NEAR(v.texCoords[set][1], vv, 1e-5f);
    EXPECT_NEAR(v.texCoords[set][2], w, 1e-5f);
    EXPECT_EQ(v.texKeys[set], key);
}

TEST(TextureProjectionTest, PlanarOnEachAxis)
{
    // Centre (1, 2, 3), size (2, 4, 8), no rotation: q = (p - c) / s + 0.5.
    //   (0, 0, 0)  -> (-1/2 + .5, -2/4 + .5, -3/8 + .5) = (0, 0, 0.125)
    //   (5, 1, -1) -> ( 4/2 + .5, -1/4 + .5, -4/8 + .5) = (2.5, 0.25, 0)
    const float q[2][3] = {{0.0f, 0.0f, 0.125f}, {2.5f, 0.25f, 0.0f}};
    for (int axis = 0; axis < 3; ++axis) {
        LayerSetup setup;
        setup.axis = axis;
        setup.center[0] = 1.0f, setup.center[1] = 2.0f, setup.center[2] = 3.0f;
        setup.size[0] = 2.0f, setup.size[1] = 4.0f, setup.size[2] = 8.0f;
        Surface s(nullptr, "a@b");
        s.addLayer(makeLayer(setup));
        auto c = corners({{0.0f, 0.0f, 0.0f}, {5.0f, 1.0f, -1.0f}});
        generate(s, c);
        for (int k = 0; k < 2; ++k) {
            SCOPED_TRACE(testing::Message() << "axis " << axis << " corner " << k);
            // X: (q.z, q.y); Y: (q.x, q.z); Z: (q.x, q.y); the key is the axis.
            if (axis == 0)
                expectSet(c[k], 0, q[k][2], q[k][1], 0.0f, 0);
            else if (axis == 1)
                expectSet(c[k], 0, q[k][0], q[k][2], 0.0f, 1);
            else
                expectSet(c[k], 0, q[k][0], q[k][1], 0.0f, 2);
            // Only the layer's own set is written.
            EXPECT_EQ(c[k].texCoords[1][0], 7.0f);
            EXPECT_EQ(c[k].texKeys[1], 77);
        }
    }
}

TEST(TextureProjectionTest, RotationAboutTheCentre)
{
    // Heading pi/2: ch = cos(-pi/2) = 0, sh = -1, so the rows are
    // (0, 0, -1), (0, 1, 0), (1, 0, 0). (1, 0, 0) -> (0, 0, -1) + 0.5.
    {
        TextureLayer layer;
        layer.rotation[0].value = kPi / 2;
        const D3DMATRIX m = layer.getMatrix(0.0);
        D3DVECTOR q;
        vecTransformCoord(q, {1.0f, 0.0f, 0.0f}, m);
        EXPECT_NEAR(q.x, 0.5f, 1e-6f);
        EXPECT_NEAR(q.y, 0.5f, 1e-6f);
        EXPECT_NEAR(q.z, -0.5f, 1e-6f);
        vecTransformCoord(q, {0.0f, 0.0f, 1.0f}, m);
        EXPECT_NEAR(q.x, 1.5f, 1e-6f);
        EXPECT_NEAR(q.z, 0.5f, 1e-6f);
    }
    // Pitch pi/2: rows (1, 0, 0), (0, 0, -1), (0, 1, 0): (0, 1, 0) -> (0, 0, -1).
    {
        TextureLayer layer;
        layer.rotation[1].value = kPi / 2;
        const D3DMATRIX r = layer.rotationMatrix();
        D3DVECTOR q;
        vecTransformCoord(q, {0.0f, 1.0f, 0.0f}, r);
        EXPECT_NEAR(q.x, 0.0f, 1e-6f);
        EXPECT_NEAR(q.y, 0.0f, 1e-6f);
        EXPECT_NEAR(q.z, -1.0f, 1e-6f);
    }
    // Bank pi/2 about the centre (1, 0, 0): rows (0, -1, 0), (1, 0, 0),
    // (0, 0, 1), translation -c x rows = (0, 1, 0). The centre maps to 0 and
    // (1, 1, 0) to (1, 0, 0).
    {
        TextureLayer layer;
        layer.rotation[2].value = kPi / 2;
        layer.center[0].value = 1.0f;
        const D3DMATRIX r = layer.rotationMatrix();
        D3DVECTOR q;
        vecTransformCoord(q, {1.0f, 0.0f, 0.0f}, r);
        EXPECT_NEAR(q.x, 0.0f, 1e-6f);
        EXPECT_NEAR(q.y, 0.0f, 1e-6f);
        vecTransformCoord(q, {1.0f, 1.0f, 0.0f}, r);
        EXPECT_NEAR(q.x, 1.0f, 1e-6f);
        EXPECT_NEAR(q.y, 0.0f, 1e-6f);
        EXPECT_NEAR(q.z, 0.0f, 1e-6f);
    }
    // Any angles and centre: the 3x3 part is a rotation and the centre
    // always lands on the origin (the translation row is -c times it).
    {
        TextureLayer layer;
        layer.center[0].value = 0.3f, layer.center[1].value = -2.0f, layer.center[2].value = 5.5f;
        layer.rotation[0].value = 0.7f, layer.rotation[1].value = -1.1f, layer.rotation[2].value = 2.3f;
        const D3DMATRIX r = layer.rotationMatrix();
        D3DVECTOR q;
        vecTransformCoord(q, {0.3f, -2.0f, 5.5f}, r);
        EXPECT_NEAR(q.x, 0.0f, 1e-5f);
        EXPECT_NEAR(q.y, 0.0f, 1e-5f);
        EXPECT_NEAR(q.z, 0.0f, 1e-5f);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                const float dot = r.m[i][0] * r.m[j][0] + r.m[i][1] * r.m[j][1] + r.m[i][2] * r.m[j][2];
                EXPECT_NEAR(dot, i == j ? 1.0f : 0.0f, 1e-6f);
            }
        }
        EXPECT_EQ(r._14, 0.0f);
        EXPECT_EQ(r._44, 1.0f);
    }
}

// Angles: u = angle / (2 pi); 45 degrees gives 0.125, 90 degrees 0.25.
TEST(TextureProjectionTest, CylindricalOnEachAxis)
{
    // Size 4 along the axis: v = height / 4 + 0.5.
    struct Case {
        D3DVECTOR points[3];
    };
    const Case cases[3] = {
        // X: u = atan2(z, y): (2, 1, 1) 45 deg; (0, 0, 1) 90 deg; (-2, 1, 0) 0.
        {{{2.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 1.0f}, {-2.0f, 1.0f, 0.0f}}},
        // Y: u = atan2(-x, z): (-1, 2, 1); (-1, 0, 0); (0, -2, 1).
        {{{-1.0f, 2.0f, 1.0f}, {-1.0f, 0.0f, 0.0f}, {0.0f, -2.0f, 1.0f}}},
        // Z: u = atan2(-x, y): (-1, 1, 2); (-1, 0, 0); (0, 1, -2).
        {{{-1.0f, 1.0f, 2.0f}, {-1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, -2.0f}}},
    };
    for (int axis = 0; axis < 3; ++axis) {
        SCOPED_TRACE(testing::Message() << "axis " << axis);
        LayerSetup setup;
        setup.projection = TextureLayer::projectionCylindrical;
        setup.axis = axis;
        setup.size[axis] = 4.0f;
        setup.wrapHeight = 3.0f; // not applied to cylinders
        Surface s(nullptr, "a@b");
        s.addLayer(makeLayer(setup));
        auto c = corners({cases[axis].points[0], cases[axis].points[1], cases[axis].points[2]});
        generate(s, c);
        expectSet(c[0], 0, 0.125f, 1.0f, 0.0f, 0); // height 2: 2 / 4 + 0.5
        expectSet(c[1], 0, 0.25f, 0.5f, 0.0f, 0);
        expectSet(c[2], 0, 0.0f, 0.0f, 0.0f, 0); // height -2
    }
}

TEST(TextureProjectionTest, SphericalOnEachAxis)
{
    // v = elevation / pi + 0.5: 45 degrees up 0.75, level 0.5, 45 down 0.25.
    // The size plays no part.
    struct Case {
        D3DVECTOR points[3];
    };
    const Case cases[3] = {
        {{{kRoot2, 1.0f, 1.0f}, {0.0f, 0.0f, 1.0f}, {-1.0f, 1.0f, 0.0f}}},
        {{{-1.0f, kRoot2, 1.0f}, {-1.0f, 0.0f, 0.0f}, {0.0f, -1.0f, 1.0f}}},
        {{{-1.0f, 1.0f, kRoot2}, {-1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, -1.0f}}},
    };
    for (int axis = 0; axis < 3; ++axis) {
        SCOPED_TRACE(testing::Message() << "axis " << axis);
        LayerSetup setup;
        setup.projection = TextureLayer::projectionSpherical;
        setup.axis = axis;
        setup.size[0] = setup.size[1] = setup.size[2] = 4.0f;
        setup.wrapWidth = 2.0f;
        setup.wrapHeight = 3.0f;
        Surface s(nullptr, "a@b");
        s.addLayer(makeLayer(setup));
        auto c = corners({cases[axis].points[0], cases[axis].points[1], cases[axis].points[2]});
        generate(s, c);
        // u x 2, v x 3.
        expectSet(c[0], 0, 0.25f, 2.25f, 0.0f, 0);
        expectSet(c[1], 0, 0.5f, 1.5f, 0.0f, 0);
        expectSet(c[2], 0, 0.0f, 0.75f, 0.0f, 0);
    }
}

TEST(TextureProjectionTest, CylinderCentreAndRotationMoveTheAxis)
{
    // Centre (10, 0, 0): the point (9, 0, 0) lies at angle atan2(1, 0) about
    // the Y axis through the centre: u = 0.25, v = 0 / 1 + 0.5.
    LayerSetup setup;
    setup.projection = TextureLayer::projectionCylindrical;
    setup.axis = TextureLayer::axisY;
    setup.center[0] = 10.0f;
    Surface s(nullptr, "a@b");
    s.addLayer(makeLayer(setup));
    auto c = corners({{9.0f, 0.0f, 0.0f}});
    generate(s, c);
    expectSet(c[0], 0, 0.25f, 0.5f, 0.0f, 0);

    // Pitch pi/2: rows (1, 0, 0), (0, 0, -1), (0, 1, 0), so q.y = p.z and
    // (0, 0, 3) has height 3 along the cylinder; size 2: v = 3 / 2 + 0.5.
    LayerSetup tilted;
    tilted.projection = TextureLayer::projectionCylindrical;
    tilted.axis = TextureLayer::axisY;
    tilted.rotation[1] = kPi / 2;
    tilted.size[1] = 2.0f;
    Surface t(nullptr, "a@b");
    t.addLayer(makeLayer(tilted));
    auto d = corners({{0.0f, 0.0f, 3.0f}});
    generate(t, d);
    EXPECT_NEAR(d[0].texCoords[0][1], 2.0f, 1e-5f);
}

TEST(TextureProjectionTest, SeamRuleComparesCornerZeroWithTheUncorrectedLast)
{
    // u = 0.95, 0.05, 0.1: d = 0.95 - 0.1 = 0.85 > 0.5, so corner 0 becomes
    // -0.05 (key -1); corners 1 and 2 are within 0.5 of their predecessors.
    auto c = corners({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    const float u[3] = {0.95f, 0.05f, 0.1f};
    for (int k = 0; k < 3; ++k) {
        c[k].texCoords[2][0] = u[k];
        c[k].texKeys[2] = 0;
    }
    applyTexCoordSeam(c.data(), 3, 2, true);
    EXPECT_NEAR(c[0].texCoords[2][0], -0.05f, 1e-6f);
    EXPECT_NEAR(c[1].texCoords[2][0], 0.05f, 1e-6f);
    EXPECT_NEAR(c[2].texCoords[2][0], 0.1f, 1e-6f);
    EXPECT_EQ(c[0].texKeys[2], -1);
    EXPECT_EQ(c[1].texKeys[2], 0);
    EXPECT_EQ(c[2].texKeys[2], 0);

    // Later corners compare with the corrected predecessor: 0.1, 0.9, 0.2
    // gives 0.1, -0.1 (0.8 up), then 0.2 - (-0.1) = 0.3: kept.
    const float w[3] = {0.1f, 0.9f, 0.2f};
    for (int k = 0; k < 3; ++k) {
        c[k].texCoords[2][0] = w[k];
        c[k].texKeys[2] = 0;
    }
    applyTexCoordSeam(c.data(), 3, 2, false);
    EXPECT_NEAR(c[0].texCoords[2][0], 0.1f, 1e-6f);
    EXPECT_NEAR(c[1].texCoords[2][0], -0.1f, 1e-6f);
    EXPECT_NEAR(c[2].texCoords[2][0], 0.2f, 1e-6f);
    // Without the seam flag the keys stay.
    EXPECT_EQ(c[1].texKeys[2], 0);
}

// A point on a cylinder about Y at u = turns: atan2(-x, z) = 2 pi turns.
D3DVECTOR onCylinder(float turns, float height = 0.0f)
{
    const float a = 2.0f * kPi * turns;
    return {-std::sin(a), height, std::cos(a)};
}

TEST(TextureProjectionTest, CylindricalSeamThenWrapAmount)
{
    LayerSetup setup;
    setup.projection = TextureLayer::projectionCylindrical;
    setup.axis = TextureLayer::axisY;
    setup.wrapWidth = 2.0f;
    {
        // u = 0.45, -0.45, -0.40: corner 0 vs corner 2: 0.85 > 0.5, so
        // -0.55 (key -1). Then times 2: -1.1, -0.9, -0.8.
        Surface s(nullptr, "a@b");
        s.addLayer(makeLayer(setup));
        auto c = corners({onCylinder(0.45f), onCylinder(-0.45f), onCylinder(-0.40f)});
        generate(s, c, kUp, true);
        expectSet(c[0], 0, -1.1f, 0.5f, 0.0f, -1);
        expectSet(c[1], 0, -0.9f, 0.5f, 0.0f, 0);
        expectSet(c[2], 0, -0.8f, 0.5f, 0.0f, 0);
    }
    {
        // u = -0.45, 0.45, 0.40: -0.85 < -0.5, so corner 0 becomes 0.55
        // (key +1); times 2: 1.1, 0.9, 0.8. Without the seam flag the key
        // stays 0.
        Surface s(nullptr, "a@b");
        s.addLayer(makeLayer(setup));
        auto c = corners({onCylinder(-0.45f), onCylinder(0.45f), onCylinder(0.40f)});
        generate(s, c, kUp, true);
        expectSet(c[0], 0, 1.1f, 0.5f, 0.0f, 1);
        auto d = corners({onCylinder(-0.45f), onCylinder(0.45f), onCylinder(0.40f)});
        generate(s, d, kUp, false);
        expectSet(d[0], 0, 1.1f, 0.5f, 0.0f, 0);
    }
}

TEST(TextureProjectionTest, CubicPicksTheDominantAxisOfTheNormal)
{
    EXPECT_EQ(cubicProjectionAxis({1.0f, 1.0f, 0.0f}), 0);
    EXPECT_EQ(cubicProjectionAxis({0.0f, 1.0f, 1.0f}), 1);
    EXPECT_EQ(cubicProjectionAxis({0.0f, 0.0f, 1.0f}), 2);
    EXPECT_EQ(cubicProjectionAxis({0.0f, 0.0f, 0.0f}), 0);
    EXPECT_EQ(cubicProjectionAxis({0.1f, -0.9f, 0.3f}), 1);
    EXPECT_EQ(cubicProjectionAxis({1.0f, 0.0f, -1.0f}), 0);

    // Normal (0, 1, 1) projects along Y: (q.x, q.z) with key 1, whatever the
    // layer's own axis. Size 2: q = p / 2 + 0.5; (2, 4, -2) -> (1.5, 2.5, -0.5).
    LayerSetup setup;
    setup.projection = TextureLayer::projectionCubic;
    setup.axis = TextureLayer::axisZ;
    setup.size[0] = setup.size[1] = setup.size[2] = 2.0f;
    Surface s(nullptr, "a@b");
    s.addLayer(makeLayer(setup));
    auto c = corners({{2.0f, 4.0f, -2.0f}});
    generate(s, c, {0.0f, 1.0f, 1.0f});
    expectSet(c[0], 0, 1.5f, -0.5f, 0.0f, 1);
    generate(s, c, {0.0f, 0.0f, -1.0f});
    expectSet(c[0], 0, 1.5f, 2.5f, 0.0f, 2);
}

TEST(TextureProjectionTest, UVMapWithPerPolygonOverrides)
{
    auto* map = new UVMap;
    map->u = {0.0f, 0.1f, 0.2f};
    map->v = {1.0f, 0.9f, 0.8f};
    map->addDiscontinuous(0, 5, 0.75f, 0.25f); // point 0 in polygon 5
    map->addDiscontinuous(1, 6, 0.5f, 0.5f);   // another polygon: ignored
    map->addDiscontinuous(2, 5, 0.6f, 0.4f);   // point 2 in polygon 5

    LayerSetup setup;
    setup.projection = TextureLayer::projectionUV;
    auto layer = makeLayer(setup);
    layer->setUVMap(1, map); // object layer 1
    Surface s(nullptr, "a@b");
    s.addLayer(std::move(layer));

    const u32 points[3] = {1, 2, 0};
    auto c = corners({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    generate(s, c, kUp, true, points, 5, 1);
    expectSet(c[0], 0, 0.1f, 0.9f, 0.0f, 0);
    expectSet(c[1], 0, 0.6f, 0.4f, 0.0f, 1);
    expectSet(c[2], 0, 0.75f, 0.25f, 0.0f, 1);

    // Another polygon over the same points only takes its own overrides.
    auto d = corners({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    generate(s, d, kUp, true, points, 6, 1);
    expectSet(d[0], 0, 0.5f, 0.5f, 0.0f, 1);
    expectSet(d[1], 0, 0.2f, 0.8f, 0.0f, 0);
    expectSet(d[2], 0, 0.0f, 1.0f, 0.0f, 0);

    // An object layer the map does not belong to, beyond the list or below
    // it: 0 everywhere.
    for (i32 layerNumber : {0, 2, -1}) {
        auto e = corners({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
        generate(s, e, kUp, true, points, 5, layerNumber);
        for (int k = 0; k < 3; ++k)
            expectSet(e[k], 0, 0.0f, 0.0f, 0.0f, 0);
    }

    // A point index the map does not cover (a damaged file) reads 0.
    const u32 bad[3] = {1, 900, 0xFFFFFFFFu};
    auto f = corners({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    generate(s, f, kUp, true, bad, 7, 1);
    expectSet(f[0], 0, 0.1f, 0.9f, 0.0f, 0);
    expectSet(f[1], 0, 0.0f, 0.0f, 0.0f, 0);
    expectSet(f[2], 0, 0.0f, 0.0f, 0.0f, 0);
}

TEST(TextureProjectionTest, PositionFrontAndNone)
{
    // Position: all of q = p / 2 + 0.5 with size 2: (2, -1, 4) -> (1.5, 0, 2.5).
    LayerSetup position;
    position.projection = TextureLayer::projectionPosition;
    position.size[0] = position.size[1] = position.size[2] = 2.0f;
    LayerSetup front;
    front.projection = TextureLayer::projectionFront;
    LayerSetup none;
    none.projection = TextureLayer::projectionNone;
    LayerSetup unknown;
    unknown.projection = 42;

    Surface s(nullptr, "a@b");
    s.addLayer(makeLayer(position));
    s.addLayer(makeLayer(front));
    s.addLayer(makeLayer(none));
    s.addLayer(makeLayer(unknown));
    auto c = corners({{2.0f, -1.0f, 4.0f}});
    generate(s, c);
    expectSet(c[0], 0, 1.5f, 0.0f, 2.5f, 0);
    expectSet(c[0], 1, 0.0f, 0.0f, 0.0f, 0);
    expectSet(c[0], 2, 0.0f, 0.0f, 0.0f, 0);
    expectSet(c[0], 3, 0.0f, 0.0f, 0.0f, 0);
    // Slots beyond the layer count stay untouched.
    EXPECT_EQ(c[0].texCoords[4][0], 7.0f);
    EXPECT_EQ(c[0].texKeys[4], 77);
}

TEST(TextureProjectionTest, SurfaceWithoutLayersLeavesCornersAlone)
{
    Surface s(nullptr, "a@b");
    auto c = corners({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    generate(s, c);
    for (const MeshVertex& v : c) {
        for (int set = 0; set < MeshVertex::maxTexCoordSets; ++set) {
            EXPECT_EQ(v.texCoords[set][1], 7.0f);
            EXPECT_EQ(v.texKeys[set], 77);
        }
    }
    s.generateTexCoords(nullptr, 3, nullptr, 0, 0, kUp, true); // no corners: nothing
}

TEST(TextureProjectionTest, AnimatedLayerKeepsPositionsForDrawTime)
{
    // The centre's x moves from 0 at t = 0 to 2 at t = 1.
    Envelope moving;
    moving.addLinearKey(0.0f, 0.0f);
    moving.addLinearKey(1.0f, 2.0f);

    LayerSetup setup;
    setup.projection = TextureLayer::projectionPlanar;
    setup.axis = TextureLayer::axisZ;
    auto layer = makeLayer(setup);
    layer->center[0].source = &moving;
    TextureLayer* animated = layer.get();
    Surface s(nullptr, "a@b");
    s.addLayer(std::move(layer));

    auto c = corners({{1.0f, 2.0f, 3.0f}});
    generate(s, c);
    expectSet(c[0], 0, 1.0f, 2.0f, 3.0f, 0);
    // Nothing was cached for it.
    EXPECT_EQ(animated->matrixValid, 0);

    // At t = 0.5 the centre is (1, 0, 0): the position (1, 2, 3) gives
    // q = (1 - 1, 2, 3) + 0.5 = (0.5, 2.5, 3.5); the value is stored back.
    const D3DMATRIX m = animated->getMatrix(0.5);
    EXPECT_FLOAT_EQ(animated->center[0].value, 1.0f);
    D3DVECTOR q;
    vecTransformCoord(q, c[0].position, m);
    EXPECT_NEAR(q.x, 0.5f, 1e-6f);
    EXPECT_NEAR(q.y, 2.5f, 1e-6f);
    EXPECT_NEAR(q.z, 3.5f, 1e-6f);

    // Any one of the nine transform channels makes a layer animated.
    for (int channel = 0; channel < 9; ++channel) {
        TextureLayer l;
        AnimatedValue* values[3] = {l.center, l.rotation, l.size};
        values[channel / 3][channel % 3].source = &moving;
        EXPECT_TRUE(l.transformAnimated()) << channel;
    }
    TextureLayer plain;
    plain.opacity.source = &moving; // not a transform channel
    EXPECT_FALSE(plain.transformAnimated());
}

TEST(TextureProjectionTest, ZeroSizeCountsAsOne)
{
    // Planar with size (0, 2, 0): columns x and z stay unscaled:
    // (3, 4, 5) -> (3 + .5, 4 / 2 + .5, 5 + .5).
    TextureLayer layer;
    layer.size[0].value = 0.0f;
    layer.size[1].value = 2.0f;
    layer.size[2].value = 0.0f;
    const D3DMATRIX m = layer.getMatrix(0.0);
    D3DVECTOR q;
    vecTransformCoord(q, {3.0f, 4.0f, 5.0f}, m);
    EXPECT_FLOAT_EQ(q.x, 3.5f);
    EXPECT_FLOAT_EQ(q.y, 2.5f);
    EXPECT_FLOAT_EQ(q.z, 5.5f);
    // The stored size stays as read.
    EXPECT_EQ(layer.size[0].value, 0.0f);

    // An envelope passing through 0 at the drawing time.
    Envelope throughZero;
    throughZero.addLinearKey(0.0f, -1.0f);
    throughZero.addLinearKey(2.0f, 1.0f);
    TextureLayer animated;
    animated.size[2].source = &throughZero;
    const D3DMATRIX at1 = animated.getMatrix(1.0);
    for (int r = 0; r < 4; ++r)
        for (int col = 0; col < 4; ++col)
            EXPECT_TRUE(std::isfinite(at1.m[r][col])) << r << "," << col;

    // Cylinder along X with size 0: v = q.x / 1 + 0.5.
    LayerSetup setup;
    setup.projection = TextureLayer::projectionCylindrical;
    setup.axis = TextureLayer::axisX;
    setup.size[0] = 0.0f;
    Surface s(nullptr, "a@b");
    s.addLayer(makeLayer(setup));
    auto c = corners({{0.25f, 1.0f, 0.0f}});
    generate(s, c);
    expectSet(c[0], 0, 0.0f, 0.75f, 0.0f, 0);
}

TEST(TextureProjectionTest, LayerTransformIsComputedOnceAndKept)
{
    // Planar: getMatrix(0) with size and the 0.5 offset.
    LayerSetup setup;
    setup.axis = TextureLayer::axisZ;
    setup.size[0] = setup.size[1] = setup.size[2] = 2.0f;
    auto planar = makeLayer(setup);
    const D3DMATRIX& m = planar->cachedMatrix();
    EXPECT_EQ(planar->matrixValid, 1);
    EXPECT_FLOAT_EQ(m._11, 0.5f);
    EXPECT_FLOAT_EQ(m._41, 0.5f);
    // Later changes to the layer do not reach the kept transform.
    planar->center[0].value = 100.0f;
    planar->size[0].value = 10.0f;
    EXPECT_FLOAT_EQ(planar->cachedMatrix()._41, 0.5f);
    EXPECT_FLOAT_EQ(planar->cachedMatrix()._11, 0.5f);

    Surface s(nullptr, "a@b");
    s.addLayer(std::move(planar));
    auto c = corners({{1.0f, 1.0f, 0.0f}});
    generate(s, c);
    expectSet(c[0], 0, 1.0f, 1.0f, 0.0f, 2); // (1 / 2 + 0.5, 1 / 2 + 0.5)

    // Cylindrical and spherical keep the bare rotation about the centre.
    for (i32 projection : {TextureLayer::projectionCylindrical, TextureLayer::projectionSpherical}) {
        LayerSetup round;
        round.projection = projection;
        round.center[1] = 3.0f;
        round.size[0] = round.size[1] = round.size[2] = 2.0f;
        auto layer = makeLayer(round);
        const D3DMATRIX& r = layer->cachedMatrix();
        EXPECT_FLOAT_EQ(r._11, 1.0f);
        EXPECT_FLOAT_EQ(r._22, 1.0f);
        EXPECT_FLOAT_EQ(r._41, 0.0f);
        EXPECT_FLOAT_EQ(r._42, -3.0f);
        EXPECT_FLOAT_EQ(r._44, 1.0f);
    }
}

} // namespace
