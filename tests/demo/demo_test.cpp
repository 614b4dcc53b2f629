// The demo object on headless devices: loading, the clock, the statistics
// lines, one present per view and the release.
#include "demo/demo.h"

#include "demo/text.h"
#include "foundation/profiler.h"
#include "lightwave/meta_scene.h"
#include "media/frame_grabber.h"
#include "media/sound.h"
#include "platform/d3d9/device_test_api.h"
#include "platform/win32/resources.h"
#include "tools/sarpack/sar_writer.h"

#include "demo_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

using namespace demotest;

using Files = std::map<std::string, std::string>;

// Registers files as archive resource "SARFILE" id; no files removes it.
void installArchive(WORD id, const Files& files)
{
    static std::deque<std::vector<u8>> kept; // resources live as long as the process
    platform::unregisterResource("SARFILE", MAKEINTRESOURCEA(id));
    if (files.empty())
        return;
    SarWriter writer;
    for (const auto& [name, bytes] : files)
        EXPECT_TRUE(writer.add(name, reinterpret_cast<const u8*>(bytes.data()), bytes.size())) << writer.error();
    kept.push_back(writer.build());
    platform::registerResource("SARFILE", id, kept.back().data(), kept.back().size());
}

Files effectFiles()
{
    const char* data = std::getenv("QUILLON_TEST_DATA");
    const std::string folder = std::string(data ? data : "tests/data") + "/../../content/fx/";
    Files files;
    for (const char* name : {"common.fxh", "mirrorshader.fx"}) {
        std::ifstream in(folder + name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        files[name] = text.str();
    }
    return files;
}

// A sound whose clock the test sets; it records the channels stopped.
class ClockSound : public Sound {
public:
    double now = 0.0;
    std::vector<int> stopped;
    double getTime(int) override { return now; }
    bool stop(int handle) override
    {
        stopped.push_back(handle);
        return true;
    }
};

// The statistics text as printed.
class PrintLog : public Text {
public:
    explicit PrintLog(Engine* engine) : Text(engine, nullptr) {}
    std::vector<std::string> lines;
    void print(i32 x, i32 y, const char* text) override
    {
        lines.push_back(std::to_string(x) + "," + std::to_string(y) + ":" + text);
    }
};

struct Globals {
    Globals() { reset(); }
    ~Globals() { reset(); }
    static void reset()
    {
        lastMusicTime = 0.0f;
        frameNumber = 0;
        showStatistics = 0;
    }
};

TEST(DemoInit, EveryFailureReturnsFalse)
{
    Rig rig(64, 48);
    REQUIRE_DEVICES(rig);
    Diagnostics quiet(0);
    const Files main = {{"scene.scr", "0 drawfps 1\n10 stopdemo\n"}};
    struct Case {
        const char* name;
        Files main;
        Files effects;
    };
    const Case cases[] = {
        {"no main archive", {}, effectFiles()},
        {"no effect archive", main, {}},
        {"effect file missing", main, {{"other.fx", "x"}}},
        {"no script", {{"small.bmp", "BM"}}, effectFiles()},
        {"script does not parse", {{"scene.scr", "0 nosuchkeyword\n"}}, effectFiles()},
        {"an archive that is no archive", main, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        installArchive(130, c.main);
        installArchive(132, c.effects);
        if (std::string(c.name) == "an archive that is no archive") {
            static const char junk[] = "SARCjunk";
            platform::registerResource("SARFILE", WORD(132), junk, sizeof junk);
        }
        Demo demo(rig.engine.get());
        EXPECT_FALSE(demo.init(&rig.manager));
    }
    installArchive(130, {});
    installArchive(132, {});
}

TEST(DemoInit, LoadsInOrderAndReleases)
{
    Rig rig(64, 48);
    REQUIRE_DEVICES(rig);
    Diagnostics quiet(0);
    installArchive(130, {{"scene.scr", "0 drawfps 1\n10 stopdemo\n"}});
    installArchive(132, effectFiles());
    {
        Demo demo(rig.engine.get());
        // The loading screen comes last, over everything else loaded.
        std::vector<bool> loadedBefore;
        demo.loadingProgressProbe = [&](float) {
            loadedBefore = {demo.text != nullptr, demo.grabber != nullptr, rig.engine->sound != nullptr,
                            demo.logo != nullptr, demo.digits[9] != nullptr, demo.modeTexture != nullptr};
        };
        ASSERT_TRUE(demo.init(&rig.manager));
        EXPECT_EQ(loadedBefore, std::vector<bool>(6, true));
        EXPECT_EQ(demo.events.size(), 2u);
        EXPECT_EQ(demo.nextEvent, 0);
        EXPECT_EQ(demo.time, 0.0);
        EXPECT_FALSE(demo.grabber->graph); // no video output named

        auto* sound = new ClockSound;
        delete rig.engine->sound;
        rig.engine->sound = sound;
        demo.musicHandle = 3;
        demo.metaScenes = {new MetaScene(rig.engine.get(), "a"), nullptr, new MetaScene(rig.engine.get(), "b")};
        demo.activeMeta = demo.metaScenes[2];
        demo.shutdown();
        EXPECT_EQ(sound->stopped, std::vector<int>{3});
        EXPECT_EQ(demo.activeMeta, nullptr);
        EXPECT_TRUE(demo.metaScenes.empty());
        EXPECT_EQ(demo.text, nullptr);
        EXPECT_EQ(demo.grabber, nullptr);
        EXPECT_EQ(demo.logo, nullptr);
    }
    installArchive(130, {});
    installArchive(132, {});
}

TEST(DemoInit, AnAviThatCannotStartIsLoggedWithoutABox)
{
    Rig rig(64, 48);
    REQUIRE_DEVICES(rig);
    installArchive(130, {{"scene.scr", "0 drawfps 1\n10 stopdemo\n"}});
    installArchive(132, effectFiles());
    DisplaySettings& settings = *rig.manager.settings;
    DisplaySettings::setText(settings.videoOutput, "never.avi");
    settings.compressorIndex = 9999; // no such compressor
    for (int level : {0, 1, 3}) {
        Diagnostics diagnostics(level);
        const auto from = testsupport::logPosition();
        Demo demo(rig.engine.get());
        ASSERT_TRUE(demo.init(&rig.manager));
        // The overlay pictures are missing here and report themselves; only the AVI line counts.
        const std::string line = "could not start AVI grabbing";
        const auto avi = [&line](const std::string& text) { return text.find(line) != std::string::npos; };
        const std::vector<std::string> boxes = boxTexts();
        EXPECT_EQ(std::count_if(boxes.begin(), boxes.end(), avi), 0) << "level " << level;
        const std::vector<std::string> log = testsupport::logLinesFrom(from);
        EXPECT_EQ(std::count(log.begin(), log.end(), line), 1) << "level " << level;
        demo.shutdown();
    }
    std::remove("never.avi");
    installArchive(130, {});
    installArchive(132, {});
}

TEST(DemoMetaScenes, AFreedMetasceneTakesItsFadeAlong)
{
    Rig rig(64, 48);
    REQUIRE_DEVICES(rig);
    Demo demo(rig.engine.get());
    MetaScene meta(rig.engine.get(), "a");
    MetaScene other(rig.engine.get(), "b");
    meta.textures.push_back(new BuiltTexture(rig.engine.get(), 0));
    demo.activeMeta = &meta;
    demo.fadeState = kFadeBlur; // a blur never ends on its own
    demo.fadeTexture = meta.textures[0];
    demo.forgetMetaScene(&other);
    EXPECT_EQ(demo.activeMeta, &meta);
    EXPECT_EQ(demo.fadeTexture, meta.textures[0]);
    demo.forgetMetaScene(&meta);
    EXPECT_EQ(demo.activeMeta, nullptr);
    EXPECT_EQ(demo.fadeTexture, nullptr);
    EXPECT_EQ(demo.fadeState, kFadeNone);
    Texture* plain = rig.solid(0xFF000000);
    demo.fadeTexture = plain; // a picture fade of another metascene stays
    demo.fadeState = kFadeOut;
    demo.forgetMetaScene(&meta);
    EXPECT_EQ(demo.fadeTexture, plain);
}

class DemoFrame : public ::testing::Test {
protected:
    Globals globals;
    ClockSound* sound = nullptr;
    void attach(Rig& rig)
    {
        sound = new ClockSound;
        delete rig.engine->sound;
        rig.engine->sound = sound;
    }
};

TEST_F(DemoFrame, ClockFollowsTheMusicTimesSpeed)
{
    Rig rig(64, 48);
    REQUIRE_DEVICES(rig);
    attach(rig);
    Demo demo(rig.engine.get());
    demo.musicHandle = 1;
    struct Step {
        double music;
        double speed;
        double time;     // after the frame
        double speedOut; // after the frame
        double musicTime;
    };
    const Step steps[] = {
        {1.0, 1.0, 1.0, 1.0, 1.0},
        {1.5, 2.0, 2.0, 2.0, 1.5},
        {2.0, -5.0, 0.0, 0.0, 2.0}, // below 0: clamped, and the speed with it
        {3.0, 0.0, 0.0, 0.0, 3.0},
        {2.0, 1.0, 0.0, 1.0, 2.0}, // the music went back: clamped, speed kept
        {-1.0, -1.0, 3.0, -1.0, 0.0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.music);
        sound->now = s.music;
        demo.speed = s.speed;
        const double before = demo.time;
        EXPECT_TRUE(demo.frame());
        EXPECT_DOUBLE_EQ(demo.time, s.time);
        EXPECT_EQ(demo.previousTime, before);
        EXPECT_EQ(demo.speed, s.speedOut);
        EXPECT_EQ(rig.engine->musicTime, s.musicTime);
    }
    EXPECT_EQ(frameNumber, 6);

    // While frames are recorded the clock is the frame count, whatever the
    // music does.
    demo.grabber = new FrameGrabber(&rig.engine->currentDevice, rig.manager.settings);
    demo.grabber->bmpBaseName = "frame";
    frameNumber = 7;
    sound->now = 100.0;
    demo.frame();
    EXPECT_EQ(demo.time, 7 * double(0.04f));
    std::remove("frame0007.bmp");
}

TEST_F(DemoFrame, StatisticsLinesAndOnePresentPerView)
{
    for (bool stereo : {false, true}) {
        SCOPED_TRACE(stereo ? "two devices" : "one device");
        Rig rig(64, 48, stereo);
        REQUIRE_DEVICES(rig);
        if (stereo && rig.engine->deviceCount != 2)
            GTEST_SKIP() << "no second device";
        attach(rig);
        Demo demo(rig.engine.get());
        auto* log = new PrintLog(rig.engine.get());
        demo.text = log;
        rig.engine->drawCalls = 12;
        rig.engine->primitivesDrawn = 3456;
        rig.engine->zNear = 0.5f;
        rig.engine->zNearCopy = 0.5f;
        rig.engine->zeroParallax = 2.0f;
        sound->now = 0.0;
        const int n = rig.engine->deviceCount;
        for (int d = 0; d < n; ++d)
            platform::d3d9::setCallLogging(rig.engine->devices[d], true);
        ASSERT_TRUE(demo.frame());
        std::vector<std::string> expected;
        if (stereo)
            expected = {"1,1: Depth (F7/F8):  25   Scene Extrusion (F11/F12):  35%   "};
        else
            expected = {"1,4: ________________________________________ ", "1,1: Corvane - Quillon 3D Engine "};
        expected.push_back("1,15: time: 0.000000     fixed function ");
        expected.push_back("1,26: fps: 0.000000     dipCalls: 12          ");
        expected.push_back("1,37: ppf: 3456     ");
        if (stereo) {
            expected.push_back("1,48: z near: 0.500000     (0.500000)     ");
            // Each eye, with the previous frame's zero-parallax distance.
            expected.push_back("10,50:zero parallax depth:  2.000000    left LEFT left LEFT left LEFT");
            expected.push_back("10,50:zero parallax depth:  2.000000    right RIGHT right RIGHT right");
        }
        EXPECT_EQ(log->lines, expected);
        for (int d = 0; d < n; ++d) {
            int presents = 0;
            for (const auto& call : platform::d3d9::takeCallLog(rig.engine->devices[d]))
                presents += call.name == "Present";
            EXPECT_EQ(presents, 1) << "device " << d;
            platform::d3d9::setCallLogging(rig.engine->devices[d], false);
        }
        EXPECT_EQ(rig.engine->stereoEye, stereo ? 1 : -1);
    }
}

} // namespace
