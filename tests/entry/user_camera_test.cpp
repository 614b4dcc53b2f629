// The player's keys and the user camera with a scripted input object over a
// headless engine: single presses, time control, camera choice, the user
// camera's switch and its moves.
#include "demo/demo.h"

#include "demo/script_events.h"
#include "demo/user_camera.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "media/frame_grabber.h"
#include "media/input.h"
#include "scene/anti_portal.h"
#include "scene/camera.h"
#include "scene/object.h"
#include "scene/poly_mesh.h"
#include "scene/scene.h"
#include "scene/scene_interaction.h"

#include "entry_test_support.h"
#include "output_test_support.h"

#include <gtest/gtest.h>

#include <dinput.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>

namespace {

using namespace entrytest;

class UserCamera : public AppTest {
protected:
    void SetUp() override
    {
        outputs = std::make_unique<testsupport::Outputs>(std::vector{platform::defaultAdapterProfile()},
                                                         [](DisplaySettings& s) { s.noSound = 1; });
        if (!outputs->created)
            GTEST_SKIP() << "no Direct3D device can be created here";
        engine = std::make_unique<Engine>(&outputs->manager);
        attachSceneInteraction(engine.get());
        demo = std::make_unique<Demo>(engine.get());
        demo->keysetIndex = -1;
        lastKeysetIndex = -1;
        mirrorStencil = 1;
        screenshotNumber = 0;
    }
    void TearDown() override
    {
        if (demo) {
            demo->activeMeta = nullptr;
            if (engine->interaction) {
                engine->interaction->currentCamera = nullptr;
                engine->interaction->selected = nullptr;
            }
        }
        meta.reset();
        demo.reset();
        engine.reset();
        outputs.reset();
    }

    // A metascene whose first scene has n cameras (active, fog end 8).
    Scene* withScene(int cameras)
    {
        meta = std::make_unique<MetaScene>(engine.get(), "m");
        auto* scene = new Scene(meta.get());
        for (int i = 0; i < cameras; ++i)
            scene->cameras.push_back(new Camera(scene, i));
        scene->currentCamera = cameras ? scene->cameras[0] : nullptr;
        scene->active = 1;
        scene->fogEnd = 8.0f;
        meta->scenes.push_back(scene);
        demo->activeMeta = meta.get();
        return scene;
    }

    void press(std::initializer_list<int> keys, i32 lastKey = 255) { in.press(*demo, keys, lastKey); }

    std::unique_ptr<testsupport::Outputs> outputs;
    std::unique_ptr<Engine> engine;
    std::unique_ptr<Demo> demo;
    std::unique_ptr<MetaScene> meta;
    ScriptedInput in;
};

TEST_F(UserCamera, KeysWithoutASceneDoNothing)
{
    // Before any metascene, then in one without scenes; each also after a
    // negative or huge camera group.
    for (bool emptyMeta : {false, true}) {
        if (emptyMeta) {
            meta = std::make_unique<MetaScene>(engine.get(), "m");
            demo->activeMeta = meta.get();
        }
        for (i32 group : {0, -1, INT_MAX, INT_MIN}) {
            demo->cameraGroup = group;
            engine->lensReference = 320.0f;
            press({DIK_HOME});
            press({DIK_END});
            press({DIK_SPACE});
            press({DIK_SPACE});
            press({}, DIK_3);
            EXPECT_EQ(engine->lensReference, 100.0f) << group;
        }
    }
    Scene* scene = withScene(2);
    for (i32 group : {-1, INT_MAX, INT_MIN}) {
        demo->cameraGroup = group;
        press({}, DIK_3);
        EXPECT_EQ(scene->currentCamera, scene->cameras[0]) << group;
    }
}

TEST_F(UserCamera, SinglePressKeys)
{
    Scene* scene = withScene(14);
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::initializer_list<int> keys;
        i32 lastKey;
        std::function<bool()> holds;
    };
    const Case cases[] = {
        {"END twice holds 5", [&] { press({DIK_END}); }, {DIK_END}, 255,
         [&] { return scene->fogEnd == 5.0f && scene->fogStart == 5.0f - 5.0f / 3.0f; }},
        {"HOME adds 5", [&] { scene->fogEnd = 8.0f; }, {DIK_HOME}, 255,
         [&] { return scene->fogEnd == 13.0f && scene->fogStart == 13.0f - 13.0f / 3.0f; }},
        {"3 after cam 12", [&] { demo->cameraGroup = 1; engine->lensReference = 160.0f; }, {}, DIK_3,
         [&] { return scene->currentCamera == scene->cameras[13] && engine->lensReference == 100.0f; }},
        {"0 picks the group's first", [&] { demo->cameraGroup = 1; }, {}, DIK_0,
         [&] { return scene->currentCamera == scene->cameras[10]; }},
        {"beyond the cameras", [&] { demo->cameraGroup = 2; scene->currentCamera = scene->cameras[1]; }, {}, DIK_5,
         [&] { return scene->currentCamera == scene->cameras[1]; }},
        {"numpad 3", [] {}, {}, DIK_NUMPAD3, [&] { return engine->lensReference == 320.0f; }},
        {"right Alt, mouse still", [&] { in.dx = 0; }, {DIK_RMENU}, 255, [&] { return demo->speed == 0.0; }},
        {"right Alt scrubs", [&] { in.dx = -3; }, {DIK_RMENU}, 255, [&] { return demo->speed == -3.0; }},
        {"DOWN pauses", [&] { in.dx = 0; demo->speed = 2.0; }, {DIK_DOWN}, 255, [&] { return demo->speed == 0.0; }},
        {"UP resumes", [] {}, {DIK_UP}, 255, [&] { return demo->speed == 1.0; }},
        {"LEFT", [] {}, {DIK_LEFT}, 255, [&] { return demo->speed == 0.5; }},
        {"X from 1", [] { mirrorStencil = 1; }, {DIK_X}, 255, [] { return mirrorStencil == 0; }},
        {"X from 7", [] { mirrorStencil = 7; }, {DIK_X}, 255, [] { return mirrorStencil == 1; }},
        {"P and numpad *", [] { showStatistics = 0; }, {DIK_P, DIK_MULTIPLY}, 255, [] { return showStatistics == 1; }},
        {"Q, C, V, B", [] {}, {DIK_Q, DIK_C, DIK_V, DIK_B}, 255,
         [&] { return engine->wireframe && engine->debugToggle1 && engine->debugToggle2 && engine->debugToggle3; }},
        {"ESC", [] {}, {DIK_ESCAPE}, 255, [&] { return demo->quit == 1; }},
    };
    for (const Case& c : cases) {
        c.arrange();
        press(c.keys, c.lastKey);
        EXPECT_TRUE(c.holds()) << c.name;
        EXPECT_EQ(in.lastKey, 255) << c.name;
    }
}

TEST_F(UserCamera, ScreenshotKeyWritesNumberedBitmaps)
{
    withScene(1);
    demo->grabber = new FrameGrabber(&engine->currentDevice, outputs->manager.settings);
    std::filesystem::remove("screen0001.bmp");
    press({DIK_U});
    EXPECT_EQ(screenshotNumber, 1);
    EXPECT_TRUE(std::filesystem::exists("screen0001.bmp"));
    delete demo->grabber;
    demo->grabber = nullptr;
}

TEST_F(UserCamera, SpaceSwitchesAndTakesTheSceneCameraPlace)
{
    Scene* scene = withScene(1);
    Camera* sceneCamera = scene->cameras[0];
    sceneCamera->channels[kPositionX].value = 4.0f;
    sceneCamera->channels[kHeading].value = 0.5f;
    sceneCamera->zoom.value = 2.0f;
    Engine::SceneInteraction* interaction = engine->interaction;
    userCamSpeed = 1.0f;

    press({DIK_SPACE});
    ASSERT_EQ(interaction->currentCamera, interaction->camera());
    EXPECT_EQ(interaction->selected, nullptr);
    EXPECT_FLOAT_EQ(userCamSpeed, 0.006f);
    EXPECT_FLOAT_EQ(interaction->cursor()->channels[kPositionX].value, 4.0f);
    EXPECT_FLOAT_EQ(interaction->cursor()->channels[kHeading].value, 0.5f);
    EXPECT_FLOAT_EQ(interaction->camera()->zoom.value, 2.0f);

    press({DIK_SPACE, DIK_LCONTROL}); // mode change only: examine
    EXPECT_EQ(interaction->currentCamera, interaction->camera());
    EXPECT_NE(interaction->selected, nullptr);
    press({DIK_SPACE, DIK_LCONTROL}); // the matching mode: off
    EXPECT_EQ(interaction->currentCamera, nullptr);

    // Without a scene camera the user camera keeps its last placement.
    scene->currentCamera = nullptr;
    interaction->cursor()->channels[kPositionX].value = 9.0f;
    press({DIK_SPACE});
    EXPECT_EQ(interaction->currentCamera, interaction->camera());
    EXPECT_EQ(interaction->cursor()->channels[kPositionX].value, 9.0f);
    // Nor with a target scene ("setusercamscene") that has none.
    press({DIK_SPACE});
    engine->interactionTarget = scene;
    press({DIK_SPACE});
    engine->interactionTarget = nullptr;
    EXPECT_EQ(interaction->currentCamera, interaction->camera());
    EXPECT_EQ(interaction->cursor()->channels[kPositionX].value, 9.0f);
}

// An engine that never got the scene side's interaction (as the lower
// libraries' tests build it): the user camera's keys and moves do nothing,
// and the scene still renders from its own camera.
TEST_F(UserCamera, WithoutTheInteractionKeysAndMovesDoNothing)
{
    Scene* scene = withScene(1);
    engine->deleteInteraction(engine->interaction);
    engine->interaction = nullptr;
    in.dx = 3;
    in.dy = 2;
    press({DIK_SPACE});
    press({DIK_SPACE, DIK_LCONTROL});
    press({DIK_W, DIK_A});
    engine->changeSpeed(1.0f, 0.0);
    engine->turnCamera(0.3f, 0.0f, 0.0f, 0.0);
    engine->moveCamera(1.0f, 0.0f, 0.0f, 0.0);
    resetInteraction(engine.get(), meta.get());
    meta->update(true, 0, 0.0);
    EXPECT_EQ(scene->currentCamera, scene->cameras[0]);
    EXPECT_EQ(engine->interaction, nullptr);
}

TEST_F(UserCamera, MovesAgainstHandComputedValues)
{
    Engine::SceneInteraction* interaction = engine->interaction;
    Node* cursorObject = interaction->cursor();
    Camera* camera = interaction->camera();
    interaction->selected = nullptr;

    camera->channels[kPositionZ].value = -2.0f;
    engine->changeSpeed(0.5f, 0.0);
    EXPECT_FLOAT_EQ(camera->channels[kPositionZ].value, -1.5f);
    engine->changeSpeed(5.0f, 0.0); // never in front of what it looks at
    EXPECT_FLOAT_EQ(camera->channels[kPositionZ].value, 0.0f);
    struct Ramp : DynamicValue {
        float evaluate(double t) const override { return float(-t); }
    } ramp;
    camera->channels[kPositionZ].source = &ramp; // from its value at t
    engine->changeSpeed(0.5f, 3.0);
    camera->channels[kPositionZ].source = nullptr;
    EXPECT_FLOAT_EQ(camera->channels[kPositionZ].value, -2.5f);

    engine->turnCamera(0.3f, 0.5f, 0.1f, 0.0);
    EXPECT_FLOAT_EQ(cursorObject->channels[kHeading].value, 0.3f);
    EXPECT_FLOAT_EQ(cursorObject->channels[kPitch].value, 0.5f);
    EXPECT_FLOAT_EQ(cursorObject->channels[kBank].value, 0.1f);
    cursorObject->channels[kPitch].value = -1.5f; // elevation 1.5
    engine->turnCamera(0.0f, -1.0f, 0.0f, 0.0);
    EXPECT_FLOAT_EQ(cursorObject->channels[kPitch].value, -1.5707963705062866f);
    cursorObject->channels[kPitch].value = 1.5f; // and downwards
    engine->turnCamera(0.0f, 1.0f, 0.0f, 0.0);
    EXPECT_FLOAT_EQ(cursorObject->channels[kPitch].value, 1.5707963705062866f);

    for (AnimatedValue& c : cursorObject->channels)
        c.value = 0.0f;
    for (int i = kScaleX; i <= kScaleZ; ++i)
        cursorObject->channels[i].value = 3.0f; // scaled rows still move by unit axes
    cursorObject->invalidate();
    engine->moveCamera(1.0f, 2.0f, 3.0f, 0.0);
    EXPECT_FLOAT_EQ(cursorObject->channels[kPositionX].value, 1.0f);
    EXPECT_FLOAT_EQ(cursorObject->channels[kPositionY].value, 2.0f);
    EXPECT_FLOAT_EQ(cursorObject->channels[kPositionZ].value, 3.0f);

    cursorObject->channels[kHeading].value = float(M_PI / 2);
    cursorObject->invalidate();
    engine->moveCamera(0.0f, 0.0f, 2.0f, 0.0); // forward is now along x
    EXPECT_NEAR(std::fabs(cursorObject->channels[kPositionX].value - 1.0f), 2.0f, 1e-5);
    EXPECT_NEAR(cursorObject->channels[kPositionZ].value, 3.0f, 1e-5);
}

TEST_F(UserCamera, AnExaminedObjectTurnsAndMovesTheGhost)
{
    Engine::SceneInteraction* interaction = engine->interaction;
    Scene* scene = withScene(0);
    Object scaled(scene, 0), picked(scene, 1);
    for (int i = kScaleX; i <= kScaleZ; ++i)
        scaled.channels[i].value = 2.0f;
    Object* ghost = interaction->ghost();
    Object* cursorObject = interaction->cursor();
    struct Case {
        const char* name;
        Object* selected;
        Node* parent;
        Node* turned;
        Node* kept;
        float ghostX; // after the cursor moved by 1 along x
    };
    const Case cases[] = {
        {"picked", &picked, nullptr, ghost, cursorObject, 1.0f},
        {"picked under a parent scaled 2", &picked, &scaled, ghost, cursorObject, 0.5f},
        {"pick request", ghost, nullptr, cursorObject, ghost, 0.0f},
    };
    for (const Case& c : cases) {
        for (Object* node : {ghost, cursorObject}) {
            for (int i = kPositionX; i <= kBank; ++i)
                node->channels[i].value = 0.0f;
            node->invalidate();
        }
        picked.parent = c.parent;
        interaction->selected = c.selected;
        engine->turnCamera(0.3f, 0.0f, 0.0f, 0.0);
        EXPECT_FLOAT_EQ(c.turned->channels[kHeading].value, 0.3f) << c.name;
        EXPECT_EQ(c.kept->channels[kHeading].value, 0.0f) << c.name;
        c.turned->channels[kHeading].value = 0.0f;
        c.turned->invalidate();
        engine->moveCamera(1.0f, 0.0f, 0.0f, 0.0);
        EXPECT_FLOAT_EQ(cursorObject->channels[kPositionX].value, 1.0f) << c.name;
        EXPECT_FLOAT_EQ(ghost->channels[kPositionX].value, c.ghostX) << c.name;
    }
    interaction->selected = nullptr;
    picked.parent = nullptr;
}

} // namespace
