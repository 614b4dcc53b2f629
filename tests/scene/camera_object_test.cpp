// Cameras (lens, stereo eyes, letterbox, listener) and objects (what they
// send to the device, bone upload, sound channel).
#include "scene_test_support.h"

#include "scene/bone.h"
#include "scene/camera.h"
#include "scene/mesh.h"
#include "scene/object.h"

#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include <cmath>
#include <cstring>
#include <random>

namespace {

using namespace scenetest;

// A mesh that only has a box and counts its draws.
class BoxMesh : public Mesh {
public:
    int renders = 0;
    explicit BoxMesh(Engine* engine) : Mesh(engine, nullptr)
    {
        setBoundingBox({-1.0f, -2.0f, -3.0f}, {1.0f, 2.0f, 3.0f});
    }
    bool prepare() override { return true; }
    void updateBounds() override {}
    void render(double, Object*, Node*, i32) override { ++renders; }
    const D3DVECTOR* points() const override { return nullptr; }
};

TEST(Camera, LensStereoAndLetterbox)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    Engine& e = *f.engine.get();
    e.fovX = 45.2397f;
    e.fovY = 34.7080f;
    const struct {
        const char* name;
        float lensReference;
        i32 eye;
        float m11, m22, m31, viewShift;
    } cases[] = {
        {"mono default", 100.0f, -1, 2.4000018f, 3.2000048f, 0.0f, 0.0f},
        {"lens reference 320", 320.0f, -1, 0.75f, 1.0000015f, 0.0f, 0.0f},
        {"left eye", 100.0f, 0, 2.4000018f, 3.2000048f, -0.072f, 0.03f},
        {"right eye", 100.0f, 1, 2.4000018f, 3.2000048f, 0.072f, -0.03f},
        {"eye 2", 100.0f, 2, 2.4000018f, 3.2000048f, 1.0f, 0.0f},
        {"eye 3", 100.0f, 3, 2.4000018f, 3.2000048f, -1.0f, 0.0f},
    };
    for (const auto& c : cases) {
        Camera camera(f.scene, 0);
        e.lensReference = c.lensReference;
        e.stereoEye = c.eye;
        camera.buildProjection(0.0);
        EXPECT_NEAR(camera.projection._11, c.m11, 1e-5f) << c.name;
        EXPECT_NEAR(camera.projection._22, c.m22, 1e-5f) << c.name;
        EXPECT_NEAR(camera.projection._31, c.m31, 1e-5f) << c.name;
        EXPECT_NEAR(camera.getInvMatrix(0.0)->_41, c.viewShift, 1e-6f) << c.name;
    }
    e.stereoEye = -1;

    // fovX = fovY = 90 makes the picture ratio exactly 100.
    e.fovX = e.fovY = 90.0f;
    e.fixedFunction = 1;
    const struct {
        const char* name;
        float limit;
        i32 width, height;
        D3DVIEWPORT9 expected;
    } boxes[] = {
        {"bars left and right, 12.5 to even", 50.0f, 50, 40, {12, 0, 25, 40, 0.0f, 1.0f}},
        {"bars left and right, 13.5 to even", 50.0f, 54, 40, {14, 0, 27, 40, 0.0f, 1.0f}},
        {"bars above and below", 200.0f, 64, 48, {0, 12, 64, 24, 0.0f, 1.0f}},
        {"ratio equal to the limit", 100.0f, 64, 48, {0, 0, 64, 48, 0.0f, 1.0f}},
    };
    for (const auto& b : boxes) {
        Camera camera(f.scene, 0);
        e.projectionLimit = b.limit;
        e.width = b.width;
        e.height = b.height;
        const D3DVIEWPORT9 v = *camera.getViewport();
        EXPECT_EQ(v.X, b.expected.X) << b.name;
        EXPECT_EQ(v.Y, b.expected.Y) << b.name;
        EXPECT_EQ(v.Width, b.expected.Width) << b.name;
        EXPECT_EQ(v.Height, b.expected.Height) << b.name;
    }
}

// The view leaves out pivot and scale and includes the parent's world.
TEST(Camera, ViewMatchesGlmForRandomChannelsParentsAndTargets)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    f.engine->stereoEye = -1;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-3.0f, 3.0f);
    auto rot = [](float a, glm::vec3 axis) { return glm::rotate(glm::mat4(1.0f), a, axis); };
    for (int c = 0; c < 12; ++c) {
        PerspectiveNode parent(nullptr, 1, 0), target(nullptr, 1, 1);
        Camera camera(f.scene, 0);
        float cp[3], ch[3], pp[3], ph[3], tp[3];
        for (int i = 0; i < 3; ++i) {
            cp[i] = u(rng), ch[i] = u(rng), pp[i] = u(rng), ph[i] = u(rng), tp[i] = u(rng);
            camera.channels[kPositionX + i].value = cp[i];
            camera.channels[kHeading + i].value = ch[i];
            camera.channels[kScaleX + i].value = 2.0f; // no effect on a view
            parent.channels[kPositionX + i].value = pp[i];
            parent.channels[kHeading + i].value = ph[i];
            target.channels[kPositionX + i].value = tp[i];
        }
        camera.pivotPosition[0] = 1.0f; // nor has the pivot
        camera.parent = &parent;
        const glm::mat4 parentWorld =
            glm::translate(glm::mat4(1.0f), glm::vec3(pp[0], pp[1], pp[2])) * rot(ph[0], {0, 1, 0}) *
            rot(ph[1], {1, 0, 0}) * rot(ph[2], {0, 0, 1});
        float heading = ch[0], pitch = ch[1];
        if (c % 2) {
            camera.target = &target;
            camera.headingController = camera.pitchController = 1;
            const glm::vec3 own = glm::vec3(parentWorld * glm::vec4(cp[0] - 1.0f, cp[1], cp[2], 1.0f));
            const glm::vec3 d = glm::vec3(tp[0], tp[1], tp[2]) - own;
            heading = std::atan2(d.x, d.z);
            pitch = -std::atan2(d.y, std::sqrt(d.x * d.x + d.z * d.z));
        }
        const glm::mat4 world = parentWorld * glm::translate(glm::mat4(1.0f), glm::vec3(cp[0], cp[1], cp[2])) *
                                rot(heading, {0, 1, 0}) * rot(pitch, {1, 0, 0}) * rot(ch[2], {0, 0, 1});
        const glm::mat4 view = glm::inverse(world);
        const D3DMATRIX& m = *camera.getInvMatrix(0.0);
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                EXPECT_NEAR(m.m[i][j], view[i][j], 1e-5f * std::fmax(1.0f, std::fabs(view[i][j])))
                    << "case " << c << " element " << i << j;
    }
}

TEST(Camera, PlacesTheListener)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    RecordingSound sound;
    f.engine->sound = &sound;
    f.engine->stereoEye = -1;
    Camera camera(f.scene, 0);
    camera.channels[kPositionX].value = 1.0f;
    camera.channels[kPositionY].value = 2.0f;
    camera.channels[kPositionZ].value = 3.0f;
    camera.channels[kHeading].value = float(M_PI / 2);
    camera.getMatrix(0.0);
    f.engine->sound = nullptr;
    ASSERT_EQ(sound.calls.size(), 1u);
    const float expected[12] = {1, 2, 3, -1, 0, 0, 0, 1, 0, 0, 0, 0};
    for (int i = 0; i < 12; ++i)
        EXPECT_NEAR(sound.calls[0].args[i], expected[i], 1e-5f) << i;
}

TEST(Object, RenderStatesOnTheCallLog)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    Engine& e = *f.engine.get();
    BoxMesh mesh(&e);
    const struct {
        const char* name;
        bool hidden, wireframe, unaffectedByFog;
        i32 fogSwitch;
        bool boxLines;
        double fillMode;
        std::vector<double> fogStates;
    } cases[] = {
        {"plain", false, false, false, 1, false, D3DFILL_SOLID, {}},
        {"wireframe", false, true, false, 0, false, D3DFILL_WIREFRAME, {}},
        {"hidden in wireframe", true, true, false, 0, false, D3DFILL_SOLID, {}},
        {"no fog in a fogged scene", false, false, true, 1, false, D3DFILL_SOLID, {FALSE, TRUE}},
        {"no fog in a scene without fog", false, false, true, 0, false, D3DFILL_SOLID, {}},
        {"box lines", false, false, false, 0, true, D3DFILL_SOLID, {}},
    };
    for (const auto& c : cases) {
        Object object(f.scene, 0);
        object.mesh = &mesh;
        object.hidden = c.hidden;
        object.unaffectedByFog = c.unaffectedByFog;
        object.channels[kPositionX].value = 5.0f;
        e.wireframe = c.wireframe;
        e.debugToggle1 = c.boxLines;
        *e.switches->isFogEnabled = c.fogSwitch;
        platform::d3d9::setCallLogging(f.device(), true);
        object.render(0.0, nullptr, 0);
        const auto log = platform::d3d9::takeCallLog(f.device());
        platform::d3d9::setCallLogging(f.device(), false);
        EXPECT_EQ(renderStateValues(log, D3DRS_FILLMODE), std::vector<double>{c.fillMode}) << c.name;
        EXPECT_EQ(renderStateValues(log, D3DRS_FOGENABLE), c.fogStates) << c.name;
        EXPECT_EQ(*e.switches->isFogEnabled, c.fogSwitch) << c.name;
        const auto transforms = callsNamed(log, "SetTransform");
        ASSERT_FALSE(transforms.empty()) << c.name;
        D3DMATRIX world;
        std::memcpy(&world, transforms[0].data.data(), sizeof world);
        EXPECT_EQ(transforms[0].args[0], D3DTS_WORLD);
        EXPECT_FLOAT_EQ(world._41, 5.0f) << c.name;
        const auto lines = callsNamed(log, "DrawIndexedPrimitiveUP");
        ASSERT_EQ(lines.size(), c.boxLines ? 1u : 0u) << c.name;
        if (c.boxLines) {
            EXPECT_EQ(lines[0].args, (std::vector<double>{D3DPT_LINELIST, 0, 8, 12, D3DFMT_INDEX16, 16}));
            EXPECT_EQ(callsNamed(log, "SetFVF")[0].args[0], double(D3DFVF_XYZ | D3DFVF_DIFFUSE));
            const WORD* idx = reinterpret_cast<const WORD*>(lines[0].indices.data());
            EXPECT_EQ(idx[2], 1);
            EXPECT_EQ(idx[3], 5);
            float v7[4];
            std::memcpy(v7, lines[0].data.data() + 7 * 16, 16);
            EXPECT_EQ(v7[0], 1.0f); // corner 7 is the maximum, in model space
            EXPECT_EQ(v7[2], 3.0f);
            u32 color;
            std::memcpy(&color, &v7[3], 4);
            EXPECT_EQ(color, 0xFFFF0000u);
        }
    }
    EXPECT_EQ(mesh.renders, 6);
    e.debugToggle1 = 0;
    e.wireframe = 0;
}

TEST(Object, UploadsAtMost24BoneMatrices)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    ShaderUniforms& u = *f.engine->uniforms;
    std::vector<Bone*> bones;
    for (int i = 0; i < 30; ++i) {
        bones.push_back(new Bone(f.scene, i, 0));
        bones.back()->channels[kPositionX].value = float(i); // rest at the origin: skin = translation
    }
    *u.time = 123.0f; // the entry after matBone
    Object object(f.scene, 0);
    object.uploadBones(bones, 0.0);
    for (int i = 0; i < 24; ++i)
        EXPECT_FLOAT_EQ(u.matBone[12 * i + 3], float(i)) << i; // x translation ends row 0
    EXPECT_EQ(*u.time, 123.0f);
    for (Bone* b : bones)
        delete b;
}

TEST(Object, SoundFollowsTheObject)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    const struct {
        const char* name;
        i32 handle;
        bool withSound;
        size_t calls;
    } cases[] = {
        {"handle -1", -1, true, 0},
        {"no sound device", 2, false, 0},
        {"handle 2", 2, true, 4},
    };
    for (const auto& c : cases) {
        RecordingSound sound;
        f.engine->sound = c.withSound ? &sound : nullptr;
        Object object(f.scene, 0);
        object.soundChannel = c.handle;
        object.channels[kPositionZ].value = 4.0f;
        object.channels[kScaleX].value = 0.5f;
        object.channels[kScaleY].value = 2.0f;
        object.channels[kScaleZ].value = 30.0f;
        object.updateSound(0.0);
        f.engine->sound = nullptr;
        ASSERT_EQ(sound.calls.size(), c.calls) << c.name;
        if (c.calls) {
            EXPECT_EQ(sound.calls[0].name, "setChannel3D");
            EXPECT_EQ(sound.calls[0].handle, 2);
            EXPECT_FLOAT_EQ(sound.calls[0].args[2], 4.0f);
            EXPECT_FLOAT_EQ(sound.calls[0].args[5], 30.0f); // cone along the scaled z axis
            EXPECT_EQ(sound.calls[1].args, (std::vector<float>{6.2831855f, 6.2831855f, -1000.0f}));
            EXPECT_EQ(sound.calls[2].args, (std::vector<float>{2.0f, 30.0f}));
            EXPECT_EQ(sound.calls[3].args, std::vector<float>{0.5f});
        }
    }
}

} // namespace
