// Skinning on the shader path: a tube over two bones, the child bent a
// quarter turn, drawn from above.
#include "built_scene.h"

#include "foundation/matrix.h"
#include "platform/device_test_support.h"
#include "scene/bone.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace scenetest;

namespace {

// A square tube of half width h along +Z from 0 to 2, in rings of four
// points every quarter unit; side quads only.
void tube(float h, std::vector<D3DVECTOR>& points, std::vector<std::vector<u32>>& polys)
{
    const float corner[4][2] = {{-h, -h}, {h, -h}, {h, h}, {-h, h}};
    for (int ring = 0; ring <= 8; ++ring)
        for (const auto& c : corner)
            points.push_back({c[0], c[1], 0.25f * float(ring)});
    for (u32 ring = 0; ring < 8; ++ring)
        for (u32 side = 0; side < 4; ++side) {
            const u32 next = (side + 1) % 4;
            std::vector<u32> f = {ring * 4 + side, ring * 4 + next, ring * 4 + 4 + next, ring * 4 + 4 + side};
            // Clockwise seen from outside.
            const D3DVECTOR n = PolyMesh::triangleNormal(points[f[0]], points[f[1]], points[f[2]]);
            const D3DVECTOR& p = points[f[0]];
            if (n.x * p.x + n.y * p.y < 0.0f)
                std::reverse(f.begin(), f.end());
            polys.push_back(f);
        }
}

Bone* bone(Scene* scene, i32 number, Bone* parent, float z)
{
    auto* b = new Bone(scene, number, 0);
    b->parentBone = parent;
    b->restPosition[2] = z;
    b->restLength = 1.0f;
    b->channels[kPositionZ].value = z;
    return b;
}

} // namespace

TEST(SkinningPixels, BentChildBoneCarriesTheTip)
{
    BuiltScene s(false);
    REQUIRE_ENGINE(s);
    for (i32 i = 3; i >= 0; --i)
        s.scene->removeObject(i);
    std::vector<D3DVECTOR> points;
    std::vector<std::vector<u32>> polys;
    tube(0.15f, points, polys);
    PolyMesh* mesh = s.addMesh("tube.lwo", points, polys);
    Bone* root = bone(s.scene, 0, nullptr, 0.0f);
    Bone* child = bone(s.scene, 1, root, 1.0f);
    child->channels[kHeading].value = kPi / 2; // +Z turns to +X
    mesh->bones = {root, child};
    mesh->boneFalloffType = 3;
    s.scene->addMeshObject("tube.lwo", mesh);
    mesh->prepared = 0;
    ASSERT_TRUE(mesh->prepare());
    ASSERT_TRUE(s.readyToDraw());
    const float magenta[4] = {1, 0, 1, 1};
    std::memcpy(s.scene->clearColor, magenta, sizeof magenta);
    // Straight down onto the bend.
    BuiltScene::place(s.camera, 0.5f, 6.0f, 1.0f);
    s.camera->channels[kPitch].value = kPi / 2;

    s.device()->BeginScene();
    s.scene->render(true, 0, 0.0);
    s.device()->EndScene();
    const std::vector<uint32_t> pixels = readBackBuffer(s.device());
    const int width = 64, height = 48;
    ASSERT_EQ(pixels.size(), size_t(width * height));
    D3DMATRIX vp;
    matMul(vp, s.engine->uniforms->view, s.engine->uniforms->projection);
    auto covered = [&](float x, float y, float z) {
        float c[4];
        vecTransform(c, {x, y, z}, vp);
        const int px = int((c[0] / c[3] + 1.0f) * 0.5f * float(width));
        const int py = int((1.0f - c[1] / c[3]) * 0.5f * float(height));
        if (px < 0 || py < 0 || px >= width || py >= height)
            return false;
        return (pixels[size_t(py * width + px)] & 0xFFFFFF) != 0xFF00FF;
    };
    struct Case {
        const char* where;
        float x, z;
        bool drawn;
    };
    const Case cases[] = {
        {"the root bone's part stays", 0.0f, 0.4f, true},
        {"the tip where the child bone puts it", 0.8f, 1.0f, true},
        {"halfway along the bent part", 0.45f, 1.0f, true},
        {"not where the unbent tip was", 0.0f, 1.8f, false},
        {"nor mirrored to the other side", -0.8f, 1.0f, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(covered(c.x, 0.15f, c.z), c.drawn) << c.where;
}
