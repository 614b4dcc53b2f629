// The wire meshes on the call log: what they draw, under which world
// matrix, and what they leave behind.
#include "mesh_test_support.h"

#include "foundation/matrix.h"
#include "materials/shader_parameters.h"

#include <cstring>

using namespace meshtest;

namespace {

// The world matrices set, and the line vertices of the draw.
struct Drawn {
    std::vector<D3DMATRIX> worlds;
    std::vector<WireVertex> lines;
};

Drawn record(MeshRig& rig, Mesh& mesh, Node* node)
{
    platform::d3d9::setCallLogging(rig.device(), true);
    mesh.render(0.0, nullptr, node, 0);
    Drawn out;
    for (const platform::d3d9::DeviceCall& c : platform::d3d9::takeCallLog(rig.device())) {
        if (c.name == "SetTransform" && c.args[0] == double(D3DTS_WORLD))
            std::memcpy(&out.worlds.emplace_back(), c.data.data(), sizeof(D3DMATRIX));
        if (c.name == "DrawPrimitiveUP" && c.args == std::vector<double>{D3DPT_LINELIST, c.args[1], 16}) {
            out.lines.resize(size_t(c.args[1]) * 2);
            std::memcpy(out.lines.data(), c.data.data(), std::min(c.data.size(), out.lines.size() * 16));
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
    EXPECT_TRUE(cross.prepare() && cross.boxCorners[0].x == -1 && cross.boxCorners[7].z == 1);
    // A quarter turn about z, scale 3, at (4, 5, 6).
    D3DMATRIX object, placed;
    makeAffineMatrix(object, 0, 3, 0, -3, 0, 0, 0, 0, 3, 4, 5, 6);
    makeAffineMatrix(placed, 1, 0, 0, 0, 1, 0, 0, 0, 1, 4, 5, 6);
    rig->uniforms->setWorld(object);
    rig.device()->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    const Drawn d = record(rig, cross, nullptr);
    ASSERT_EQ(d.worlds.size(), 2u);
    EXPECT_TRUE(same(d.worlds[0], placed) && same(d.worlds[1], object) && same(rig->uniforms->world, object));
    ASSERT_EQ(d.lines.size(), 6u);
    const D3DCOLOR colors[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (int i = 0; i < 6; ++i) {
        const float p[3] = {d.lines[size_t(i)].x, d.lines[size_t(i)].y, d.lines[size_t(i)].z};
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(p[k], k == i / 2 ? (i % 2 ? 1.0f : -1.0f) : 0.0f) << i;
        EXPECT_EQ(d.lines[size_t(i)].color, colors[i / 2]);
    }
    DWORD blend = 0xDEAD; // the line states stay set
    rig.device()->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
    EXPECT_EQ(blend, DWORD(FALSE));
}

// Four lines from the origin, four around the ring at z = 0.1 L, four to
// the tip; length 0 puts them all at the origin.
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
        ASSERT_EQ(d.lines.size(), 24u);
        for (int line = 0; line < 12; ++line) {
            const WireVertex &from = d.lines[size_t(2 * line)], &to = d.lines[size_t(2 * line + 1)];
            EXPECT_EQ(from.color, 0xFFCCCCCCu);
            EXPECT_EQ(from.z, line < 4 ? 0.0f : 0.1f * length) << line;
            EXPECT_EQ(to.z, line < 8 ? 0.1f * length : length) << line;
            EXPECT_TRUE(line < 8 || (to.x == 0 && to.y == 0)) << line;
        }
    }
}

} // namespace
