// The user camera on the drawn frame: the demo plays one scene of the made
// content through Demo::init and Demo::frame, and the back buffer is read
// before and after SPACE.
#include "demo/demo.h"

#include "demo/user_camera.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/image_cache.h"
#include "media/input.h"
#include "scene/scene_interaction.h"
#include "tools/mkcontent/content.h"

#include "demo/demo_test_support.h"
#include "entry_test_support.h"

#include <gtest/gtest.h>

#include <dinput.h>

#include <algorithm>
#include <memory>

namespace {

using namespace entrytest;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// The mode name's quad: its 128 x 16 texture at (5, 5).
bool inNameBox(int x, int y)
{
    return x >= 5 && x < 133 && y >= 5 && y < 21;
}

// The name's red (1.0, 0.1, 0.1) over the dark scene, also where the linear
// filter halves a glyph's edge.
bool isRed(u32 rgb)
{
    const int r = int(rgb >> 16), g = int(rgb >> 8 & 0xFF), b = int(rgb & 0xFF);
    return r - std::max(g, b) > 0x50;
}

// The made content: scenes, objects, pictures and the font in the main
// archive; every effect file and the overlay pictures in the other.
void installMadeContent(const std::string& script)
{
    static const std::pair<Files, Files> made = [] {
        Files main, effects = effectFiles();
        for (const auto& list : {mkcontent::demoFiles(), mkcontent::lwo2Files(), mkcontent::lwsFiles()})
            for (const mkcontent::ContentFile& file : list)
                main[file.name] = file.build();
        for (const mkcontent::ContentFile& file : mkcontent::overlayFiles())
            effects[file.name.substr(file.name.find('/') + 1)] = file.build();
        return std::pair{main, effects};
    }();
    Files main = made.first;
    main["scene.scr"] = script;
    installArchive(130, main);
    installArchive(132, made.second);
}

class UserCameraFrame : public AppTest {
protected:
    // A fresh demo whose first frame started scene from camera n.
    bool start(const std::string& scene, int camera, bool fixedFunction)
    {
        TearDown();
        installMadeContent("0 loadmetascript meta1.mts\n0 activemeta meta1\n0 start " + scene + "\n0 cam " + scene +
                           " " + std::to_string(camera) + "\n");
        outputs = std::make_unique<testsupport::Outputs>(std::vector{platform::defaultAdapterProfile()},
                                                         [=](DisplaySettings& s) {
                                                             s.windowWidth = kWidth;
                                                             s.windowHeight = kHeight;
                                                             s.noSound = 1;
                                                             s.fixedFunction = fixedFunction;
                                                         });
        if (!outputs->created)
            return false;
        engine = std::make_unique<Engine>(&outputs->manager);
        attachSceneInteraction(engine.get());
        demo = std::make_unique<Demo>(engine.get());
        EXPECT_TRUE(demo->init(&outputs->manager));
        EXPECT_TRUE(demo->frame());
        EXPECT_NE(demo->activeMeta, nullptr);
        return true;
    }
    void TearDown() override
    {
        if (engine)
            engine->interaction->currentCamera = nullptr;
        demo.reset();
        engine.reset();
        outputs.reset();
        clearImageCache();
        installArchive(130, {});
        installArchive(132, {});
    }

    std::vector<u32> frameAt(double time)
    {
        demo->time = time;
        EXPECT_TRUE(demo->frame());
        return demotest::BackBuffer(engine->currentDevice).pixels;
    }
    void press(std::initializer_list<int> keys) { in.press(*demo, keys); }

    std::unique_ptr<testsupport::Outputs> outputs;
    std::unique_ptr<Engine> engine;
    std::unique_ptr<Demo> demo;
    ScriptedInput in;
};

TEST_F(UserCameraFrame, ModeNamesInRedInTheirBox)
{
    if (!start("scenes/intro", 0, true))
        GTEST_SKIP() << "no Direct3D device can be created here";
    struct Step {
        const char* name;
        std::initializer_list<int> keys;
        bool red;
    };
    const Step steps[] = {
        {"scene camera", {}, false},
        {"SPACE: free flight", {DIK_SPACE}, true},
        {"ctrl+SPACE: examine", {DIK_SPACE, DIK_LCONTROL}, true},
        {"ctrl+SPACE again: off", {DIK_SPACE, DIK_LCONTROL}, false},
    };
    std::vector<std::vector<bool>> masks;
    for (const Step& s : steps) {
        press(s.keys);
        const std::vector<u32> frame = frameAt(2.3);
        ASSERT_EQ(frame.size(), size_t(kWidth) * kHeight);
        // Around the box too: the quad must not reach past it.
        std::vector<bool> mask;
        int inside = 0, outside = 0, left = 160, top = 40;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 160; ++x) {
                const bool red = isRed(frame[size_t(y) * kWidth + x]);
                mask.push_back(red);
                (inNameBox(x, y) ? inside : outside) += red;
                if (red) {
                    left = std::min(left, x);
                    top = std::min(top, y);
                }
            }
        EXPECT_EQ(inside > 0, s.red) << s.name << ": " << inside;
        EXPECT_EQ(outside, 0) << s.name;
        if (s.red) {
            // The first letter's top-left ink: texel (3, 4) of the name.
            EXPECT_NEAR(left, 8, 1) << s.name;
            EXPECT_NEAR(top, 9, 1) << s.name;
        }
        masks.push_back(mask);
    }
    EXPECT_NE(masks[1], masks[2]); // "Free-Flight Mode", "Examine&Edit Mode"
}

TEST_F(UserCameraFrame, AfterSpaceTheSceneCameraFrameStays)
{
    struct Case {
        const char* scene;
        int camera;
        double time;
        bool fixedFunction;
        const char* why;
    };
    const Case cases[] = {
        {"scenes/intro", 1, 1.7, true, "aimed at the spinning crate; fog, a flare"},
        {"scenes/hall", 1, 1.0, false, "zoom 6.0 at 1 s; the mirror, shadows, shaders"},
        {"scenes/hall", 2, 0.5, true, "looking straight down"},
        {"scenes/fx", 0, 0.5, false, "particle sprites"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scene) + " " + c.why);
        if (!start(c.scene, c.camera, c.fixedFunction))
            GTEST_SKIP() << "no Direct3D device can be created here";
        const std::vector<u32> before = frameAt(c.time);
        press({DIK_SPACE});
        ASSERT_NE(engine->interaction->currentCamera, nullptr);
        const std::vector<u32> after = frameAt(c.time);
        ASSERT_EQ(before.size(), after.size());
        // The user camera's eye comes from the scene camera's world matrix
        // (its view inverted) and its view is the general inverse of the
        // cursor's matrix, where the scene camera transposes its rotation:
        // an aimed camera agrees to a float step, which may move an edge
        // pixel here and there.
        int moved = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            int most = 0;
            for (int shift = 0; shift < 24; shift += 8)
                most = std::max(most, std::abs(int(before[i] >> shift & 0xFF) - int(after[i] >> shift & 0xFF)));
            moved += most > 1 && !inNameBox(int(i) % kWidth, int(i) / kWidth);
        }
        EXPECT_LE(moved, kWidth * kHeight / 1000);
    }
}

} // namespace
