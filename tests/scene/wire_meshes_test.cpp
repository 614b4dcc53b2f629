// The wire meshes on the call log: what they draw, under which world
// matrix, and what they leave behind.
#include "mesh_test_support.h"

#include "foundation/matrix.h"
#include "materials/shader_parameters.h"

#include <cstring>

using namespace meshtest;
using platform::d3d9::DeviceCall;

namespace {

struct Drawn {
    std::vector<D3DMATRIX> worlds; // every SetTransform(WORLD), in order
    std::vector<WireVertex> vertices;
    std::vector<double> drawArgs;
};

Drawn record(MeshRig& rig, const std::function<void()>& draw)
{
    platform::d3d9::setCallLogging(rig.device(), true);
    draw();
    Drawn out;
    for (const DeviceCall& c : platform::d3d9::takeCallLog(rig.device())) {
        if (c.name == "SetTransform" && c.args[0] == double(D3DTS_WORLD)) {
            D3DMATRIX m;
            std::memcpy(&m, c.data.data(), sizeof m);
            out.worlds.push_back(m);
        } else if (c.name == "DrawPrimitiveUP") {
            out.drawArgs = c.args;
            out.vertices.resize(c.data.size() / sizeof(WireVertex));
            std::memcpy(out.vertices.data(), c.data.data(), out.vertices.size() * sizeof(WireVertex));
        }
    }
    platform::d3d9::setCallLogging(rig.device(), false);
    return out;
}

bool sameMatrix(const D3DMATRIX& a, const D3DMATRIX& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

DWORD renderState(MeshRig& rig, D3DRENDERSTATETYPE state)
{
    DWORD v = 0xDEADBEEF;
    rig.device()->GetRenderState(state, &v);
    return v;
}

TEST(WireMeshes, CrossKeepsUnitAxesAtTheObjectPosition)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    CrossWiresMesh cross(rig.get());
    EXPECT_TRUE(cross.prepare());
    EXPECT_EQ(cross.boxCorners[0].x, -1.0f);
    EXPECT_EQ(cross.boxCorners[7].z, 1.0f);
    // Rotated a quarter turn about z, scaled by 3, moved to (4, 5, 6).
    D3DMATRIX object;
    makeAffineMatrix(object, 0, 3, 0, -3, 0, 0, 0, 0, 3, 4, 5, 6);
    rig->uniforms->setWorld(object);
    rig.device()->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);

    Drawn d = record(rig, [&] { cross.render(0.0, nullptr, nullptr, 0); });
    ASSERT_EQ(d.worlds.size(), 2u);
    D3DMATRIX placed;
    makeAffineMatrix(placed, 1, 0, 0, 0, 1, 0, 0, 0, 1, 4, 5, 6);
    EXPECT_TRUE(sameMatrix(d.worlds[0], placed));
    EXPECT_TRUE(sameMatrix(d.worlds[1], object));
    EXPECT_TRUE(sameMatrix(rig->uniforms->world, object));
    EXPECT_EQ(d.drawArgs, (std::vector<double>{D3DPT_LINELIST, 3, 16}));
    ASSERT_EQ(d.vertices.size(), 6u);
    const D3DCOLOR colors[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (int axis = 0; axis < 3; ++axis)
        for (int end = 0; end < 2; ++end) {
            const WireVertex& v = d.vertices[size_t(2 * axis + end)];
            const float p[3] = {v.x, v.y, v.z};
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(p[k], k == axis ? (end ? 1.0f : -1.0f) : 0.0f);
            EXPECT_EQ(v.color, colors[axis]);
        }
    // The line states stay set after the draw.
    EXPECT_EQ(renderState(rig, D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
    EXPECT_EQ(renderState(rig, D3DRS_ZWRITEENABLE), DWORD(TRUE));
}

TEST(WireMeshes, BoneLinesEndAtItsTip)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    for (float length : {2.0f, 0.0f}) {
        Bone bone(nullptr, 0, 0);
        bone.restLength = length;
        makeAffineMatrix(bone.world, 1, 0, 0, 0, 0, 1, 0, -1, 0, 7, 8, 9);
        bone.worldValid = 1;
        BoneWiresMesh wires(rig.get());
        EXPECT_TRUE(wires.prepare());
        Drawn d = record(rig, [&] { wires.render(0.0, nullptr, &bone, 0); });
        ASSERT_FALSE(d.worlds.empty());
        EXPECT_TRUE(sameMatrix(d.worlds[0], bone.world));
        EXPECT_EQ(d.drawArgs, (std::vector<double>{D3DPT_LINELIST, 12, 16}));
        ASSERT_EQ(d.vertices.size(), 24u);
        const float a = 0.1f * length;
        for (int line = 0; line < 12; ++line) {
            const WireVertex& from = d.vertices[size_t(2 * line)];
            const WireVertex& to = d.vertices[size_t(2 * line + 1)];
            EXPECT_EQ(from.color, 0xFFCCCCCCu);
            if (line < 4) // from the origin
                EXPECT_TRUE(from.x == 0 && from.y == 0 && from.z == 0) << line;
            else // to the ring, then to the tip
                EXPECT_EQ(from.z, a) << line;
            if (line >= 8)
                EXPECT_TRUE(to.x == 0 && to.y == 0 && to.z == length) << line;
            else
                EXPECT_EQ(to.z, a) << line;
        }
    }
}

} // namespace
