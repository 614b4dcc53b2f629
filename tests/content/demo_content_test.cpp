// The demo content played through Demo::init and Demo::frame on a headless
// device, the audio clock moved 0.04 s a frame.
#include "demo/demo.h"

#include "foundation/diagnostics.h"
#include "foundation/memory_stream.h"
#include "foundation/sar_archive.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/image_cache.h"
#include "materials/image_readers.h"
#include "materials/video_texture.h"
#include "media/sound.h"
#include "scene/light.h"
#include "scene/particle_fx.h"
#include "scene/scene.h"
#include "tools/mkcontent/content.h"

#include "com_scope.h"
#include "demo/demo_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

using namespace demotest;

class DemoContent : public ::testing::Test {
public:
    ComScope com; // as the entry point has it, for the video's graph
    Rig rig{160, 120};
    std::unique_ptr<Demo> demo;
    int savedLevel = diagnosticsLevel;
    std::streamoff logStart = 0;

    void SetUp() override
    {
        REQUIRE_DEVICES(rig);
        diagnosticsLevel = 1;
        platform::clearRecordedMessageBoxes();
        platform::setManualClock(true);
        logStart = std::ifstream("nga.out", std::ios::binary | std::ios::ate).tellg();
        if (logStart < 0)
            logStart = 0;
        demo = std::make_unique<Demo>(rig.engine.get());
        ASSERT_TRUE(demo->init(&rig.manager));
    }
    void TearDown() override
    {
        demo.reset();
        // The cache's own references, or they outlive the process's last
        // pointer to them.
        clearImageCache();
        platform::setManualClock(false);
        diagnosticsLevel = savedLevel;
        platform::clearRecordedMessageBoxes();
        lastMusicTime = 0.0f;
    }
    // Frames until quit or the frame limit; false when a frame failed.
    bool play(int frames)
    {
        for (int i = 0; i < frames && !demo->quit; ++i) {
            if (!demo->frame())
                return false;
            platform::advanceClock(40);
        }
        return true;
    }
    std::string logSinceStart() const
    {
        std::ifstream log("nga.out", std::ios::binary);
        log.seekg(logStart);
        return std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    }
};

TEST_F(DemoContent, EveryNamedFileIsInTheArchives)
{
    // Every ".mts" line, scene.scr's files, and the overlays' pictures.
    for (const char* name : {"scene.scr", "meta1.mts", "meta2.mts", "scenes\\intro.lws", "scenes\\hall.lws",
                             "scenes\\outro.lws", "scenes\\fx.lws", "music\\demotune.ogg", "small.bmp", "font.lwo",
                             "loading.jpg", "objects\\monitor.lwo", "objects\\panel.lwo", "objects\\partigon.lwo",
                             "sounds\\hum.ogg"})
        EXPECT_TRUE(demo->archive->exists(name)) << name;
    for (const char* name : {"mirrorshader.fx", "standard.fx", "nullshader.fx", "bake.fx", "common.fxh", "logo.jpg",
                             "logo_alpha.bmp", "url.bmp", "fps.jpg", "0.jpg", "9.jpg"})
        EXPECT_TRUE(demo->effectArchive->exists(name)) << name;
}

TEST(DemoContentMaker, SameBytesOnEveryRun)
{
    for (const mkcontent::ContentFile& file : mkcontent::allContentFiles())
        EXPECT_EQ(file.build(), file.build()) << file.name;
}

// What the overlays make of the generated pictures: the loading text sits
// in the middle of the screen, and no letter of the logo lets what lies
// under the logo show through.
TEST(DemoContentMaker, LoadingTextCentredLogoLettersOpaque)
{
    const std::vector<mkcontent::ContentFile> files = mkcontent::allContentFiles();
    const auto decode = [&](const char* name) {
        const mkcontent::ContentFile* file = mkcontent::findContentFile(files, name);
        MemoryStream source(name, file ? file->build() : std::string());
        const bool jpeg = std::string(name).ends_with(".jpg");
        Image* image = jpeg ? loadJPEG(source, name, false) : loadBMP(source, name, false);
        return std::unique_ptr<Image, void (*)(Image*)>(image, [](Image* i) {
            if (i)
                i->release();
        });
    };
    const auto channel = [](u32 argb, int shift) { return int(argb >> shift & 0xFF); };
    const auto brightness = [&](u32 argb) { return (channel(argb, 16) + channel(argb, 8) + channel(argb, 0)) / 3; };

    // The loading text: the light ink of the picture's bottom quarter, above
    // the bar.
    const auto loading = decode("loading.jpg");
    ASSERT_TRUE(loading);
    int left = loading->width, right = -1;
    for (i32 y = loading->height * 3 / 4; y < loading->height; ++y)
        for (i32 x = 0; x < loading->width; ++x)
            if (channel(loading->pixel(x, y), 8) > 150) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_GE(right, left);
    EXPECT_NEAR((left + right + 1) / 2.0, loading->width / 2.0, 2.0) << left << " to " << right;

    // The logo's letters are its white pixels; the alpha picture's
    // brightness is their alpha.
    const auto logo = decode("overlay/logo.jpg");
    const auto alpha = decode("overlay/logo_alpha.bmp");
    ASSERT_TRUE(logo && alpha);
    ASSERT_EQ(logo->width, alpha->width);
    ASSERT_EQ(logo->height, alpha->height);
    int letters = 0, seeThrough = 0;
    for (i32 y = 0; y < logo->height; ++y)
        for (i32 x = 0; x < logo->width; ++x)
            if (brightness(logo->pixel(x, y)) > 200) {
                ++letters;
                seeThrough += brightness(alpha->pixel(x, y)) < 255;
            }
    EXPECT_GT(letters, 1000);
    EXPECT_EQ(seeThrough, 0);
}

TEST_F(DemoContent, PlaysToStopdemo)
{
    // Two seconds into the particle scene: its fountain lives and shows in
    // front of its lit stage (most pixels between the overlays lit), the
    // intro's point light carries its flare.
    for (int i = 0; i < 1000 && demo->time < 22.0; ++i)
        ASSERT_TRUE(play(1));
    const BackBuffer frame(rig.device());
    int lit = 0;
    for (int y = frame.height / 4; y < frame.height * 3 / 4; ++y)
        for (int x = 0; x < frame.width; ++x)
            lit += frame(x, y) != 0;
    EXPECT_GT(lit, frame.width * frame.height / 4);
    ASSERT_NE(demo->activeMeta, nullptr);
    Scene* fx = demo->activeMeta->findScene("scenes/fx");
    Scene* intro = demo->activeMeta->findScene("scenes/intro");
    ASSERT_TRUE(fx && intro);
    // Each emitter, the smoke too: births are whole numbers a step.
    ASSERT_EQ(fx->fxEmitter.size(), 3u);
    for (ParticleFX* e : fx->fxEmitter) {
        int alive = 0;
        for (i32 i = 0; i < e->asEmitter()->particleCount; ++i)
            alive += e->asEmitter()->particles[i].alive;
        EXPECT_GT(alive, 0);
    }
    EXPECT_TRUE(std::any_of(intro->lights.begin(), intro->lights.end(),
                            [](Light* l) { return l->lensFlare && l->flare; }));
    // The hall's screen has played its clip from the archive, 10 frames a
    // second since the metascene loaded.
    auto* video = dynamic_cast<VideoTexture*>(demo->activeMeta->findTexture("videos/screen.avi", 0));
    ASSERT_NE(video, nullptr);
    EXPECT_NE(video->source, nullptr);
    ASSERT_NE(video->allocator, nullptr);
    EXPECT_GT(video->allocator->framesPresented, 100u);

    ASSERT_TRUE(play(1000));
    EXPECT_EQ(demo->quit, 1);
    EXPECT_EQ(size_t(demo->nextEvent), demo->events.size());
    EXPECT_GE(demo->time, 35.0);
    ASSERT_NE(rig.engine->sound, nullptr);
    EXPECT_GE(demo->musicHandle, 1);
    EXPECT_TRUE(platform::recordedMessageBoxes().empty()) << platform::recordedMessageBoxes()[0].text;
    const std::string log = logSinceStart();
    for (const char* bad : {"Missing", "File not found!", "sound was not loaded"})
        EXPECT_EQ(log.find(bad), std::string::npos) << bad << " in\n" << log;
}

TEST_F(DemoContent, TestScriptLoopsUntilToldToStop)
{
    MemoryStream source("test.scr", mkcontent::demoTestScript());
    demo->events.clear();
    demo->script = std::make_unique<ScriptTokenizer>(&source);
    ASSERT_TRUE(demo->script->load("test.scr"));
    ASSERT_TRUE(demo->parseSceneScript());
    demo->nextEvent = 0;

    // stopsound at 0.5 s goes back to the restart: three passes in 40 frames.
    int prepares = 0;
    demo->loadingProgressProbe = [&](float f) { prepares += f == 1.0f; };
    ASSERT_TRUE(play(40));
    EXPECT_EQ(demo->quit, 0);
    EXPECT_LT(demo->time, 0.6);
    EXPECT_GE(prepares, 4); // meta2 and one "built" per pass
    EXPECT_EQ(demo->metaScenes.size(), 2u); // a freed "built" leaves its entry to the next
    EXPECT_FLOAT_EQ(demo->fadeFloor, 0.3f);
    EXPECT_EQ(demo->fadeState, kFadeBlur);

    demo->loopAtStop = 0;
    ASSERT_TRUE(play(40));
    EXPECT_EQ(demo->quit, 1);
    EXPECT_EQ(size_t(demo->nextEvent), demo->events.size());
    EXPECT_TRUE(platform::recordedMessageBoxes().empty()) << platform::recordedMessageBoxes()[0].text;
}

} // namespace
