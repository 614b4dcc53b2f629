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

Drawn record(MeshRig& rig, Mesh& mesh, Node* node)
{
    platform::d3d9::setCallLogging(rig.device(), true);
    mesh.render(0.0, nullptr, node, 0);
    Drawn out;
    for (const DeviceCall& c : platform::d3d9::takeCallLog(rig.device())) {
        if (c.name == "SetTransform" && c.args[0] == double(D3DTS_WORLD)) {
            out.worlds.emplace_back();
            std::memcpy(&out.worlds.back(), c.data.data(), sizeof(D3DMATRIX));
        } else if (c.name == "DrawPrimitiveUP") {
            out.drawArgs = c.args;
            out.vertices.resize(c.data.size() / sizeof(WireVertex));
            std::memcpy(out.vertices.data(), c.data.data(), c.data.size());
        }
    }
    platform::d3d9::setCallLogging(rig.device(), false);
    return out;
}

bool same(const D3DMATRIX& a, const D3DMATRIX& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(WireMeshes, CrossKeepsUnitAxesAtTheObjectPosition)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    CrossWiresMesh cross(rig.get());
    EXPECT_TRUE(cross.prepare());
    EXPECT_TRUE(cross.boxCorners[0].x == -1 && cross.boxCorners[7].z == 1);
    // A quarter turn about z, scale 3, at (4, 5, 6).
    D3DMATRIX object, placed;
    makeAffineMatrix(object, 0, 3, 0, -3, 0, 0, 0, 0, 3, 4, 5, 6);
    makeAffineMatrix(placed, 1, 0, 0, 0, 1, 0, 0, 0, 1, 4, 5, 6);
    rig->uniforms->setWorld(object);
    rig.device()->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);

    const Drawn d = record(rig, cross, nullptr);
    ASSERT_EQ(d.worlds.size(), 2u);
    EXPECT_TRUE(same(d.worlds[0], placed));
    EXPECT_TRUE(same(d.worlds[1], object) && same(rig->uniforms->world, object));
    EXPECT_EQ(d.drawArgs, (std::vector<double>{D3DPT_LINELIST, 3, 16}));
    ASSERT_EQ(d.vertices.size(), 6u);
    const D3DCOLOR colors[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (int i = 0; i < 6; ++i) {
        const WireVertex& v = d.vertices[size_t(i)];
        const float p[3] = {v.x, v.y, v.z};
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(p[k], k == i / 2 ? (i % 2 ? 1.0f : -1.0f) : 0.0f) << i;
        EXPECT_EQ(v.color, colors[i / 2]);
    }
    // The line states stay set.
    DWORD blend = 0xDEAD;
    rig.device()->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
    EXPECT_EQ(blend, DWORD(FALSE));
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
        const Drawn d = record(rig, wires, &bone);
        ASSERT_FALSE(d.worlds.empty());
        EXPECT_TRUE(same(d.worlds[0], bone.world));
        EXPECT_EQ(d.drawArgs, (std::vector<double>{D3DPT_LINELIST, 12, 16}));
        ASSERT_EQ(d.vertices.size(), 24u);
        // Four lines from the origin, four around the ring at z = 0.1 L,
        // four to the tip.
        for (int line = 0; line < 12; ++line) {
            const WireVertex& from = d.vertices[size_t(2 * line)];
            const WireVertex& to = d.vertices[size_t(2 * line + 1)];
            EXPECT_EQ(from.color, 0xFFCCCCCCu);
            EXPECT_EQ(from.z, line < 4 ? 0.0f : 0.1f * length) << line;
            EXPECT_EQ(to.z, line < 8 ? 0.1f * length : length) << line;
            EXPECT_TRUE(line < 8 || (to.x == 0 && to.y == 0)) << line;
        }
    }
}

} // namespace
