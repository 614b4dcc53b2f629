// The script's events run against a small metascene built in code.
#include "demo/demo.h"
#include "demo/script_events.h"

#include "foundation/diagnostics.h"
#include "foundation/engine_limits.h"
#include "foundation/memory_stream.h"
#include "foundation/sar_archive.h"
#include "lightwave/lw_object.h"
#include "lightwave/lwo2_builder.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/surface.h"
#include "materials/texture.h"
#include "media/sound.h"
#include "scene/camera.h"
#include "scene/object.h"
#include "scene/scene.h"
#include "scene/scene_interaction.h"

#include "../log_test_support.h"
#include "demo_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using namespace demotest;
using ::testing::Contains;
using ::testing::HasSubstr;

class ScriptEvents : public ::testing::Test {
public:
    Rig rig{64, 64};
    MemoryStream stream;
    std::unique_ptr<Demo> demo;
    MetaScene* meta = nullptr;
    Scene* intro = nullptr;
    Scene* hall = nullptr;
    Texture* pictures[2] = {};
    int savedLevel = diagnosticsLevel;

    void SetUp() override
    {
        REQUIRE_DEVICES(rig);
        demo = std::make_unique<Demo>(rig.engine.get());
        diagnosticsLevel = 1;
        platform::clearRecordedMessageBoxes();
    }
    void TearDown() override
    {
        diagnosticsLevel = savedLevel;
        platform::clearRecordedMessageBoxes();
        if (rig.engine && rig.engine->interaction)
            rig.engine->interaction->currentCamera = nullptr;
    }

    // Parses "0 createmeta Main / 0 activemeta Main" and body (times above
    // 0), runs the two and builds the metascene: scenes "Intro" (two
    // cameras) and "Hall", picture surfaces "p.lwo@Pic" and "p.lwo@Pic2"
    // with a layer each, "e.lwo@Empty" without layers.
    void load(const std::string& body, bool activate = true)
    {
        stream.files["scene.scr"] = std::string("0 createmeta Main\n") + (activate ? "0 activemeta Main\n" : "") + body;
        demo->script = std::make_unique<ScriptTokenizer>(&stream);
        ASSERT_TRUE(demo->script->load("scene.scr"));
        ASSERT_TRUE(demo->parseSceneScript());
        ASSERT_TRUE(demo->runScriptEvents(0));
        meta = demo->metaScenes.at(0);
        auto scene = [&](const char* name) {
            auto* s = new Scene(meta);
            s->name = new char[std::strlen(name) + 1];
            std::strcpy(s->name, name);
            s->addCamera();
            meta->scenes.push_back(s);
            return s;
        };
        intro = scene("Intro");
        intro->addCamera();
        hall = scene("Hall");
        const char* names[] = {"p.lwo@Pic", "p.lwo@Pic2", "e.lwo@Empty"};
        for (int i = 0; i < 3; ++i) {
            auto* surface = new Surface(meta, names[i]);
            if (i < 2)
                surface->useRenderTarget(pictures[i] = rig.solid(0xFF000000u | u32(i)));
            meta->surfaces.push_back(surface);
        }
    }
    std::string box() const
    {
        const auto& boxes = platform::recordedMessageBoxes();
        return boxes.empty() ? "" : boxes.back().text;
    }
};

TEST_F(ScriptEvents, KeywordEffects)
{
    struct Case {
        const char* body;
        double time; // demo time (s) while the events run
        std::function<void(ScriptEvents&)> check;
    };
    const Case cases[] = {
        {"1500 start hALL\n", 2.0,
         [](auto& t) {
             EXPECT_EQ(t.hall->active, 1);
             EXPECT_EQ(t.hall->held, 0);
             EXPECT_DOUBLE_EQ(t.hall->timeBase, 1.5); // the event's time, not the clock's
         }},
        {"1 hold In\n", 3.0,
         [](auto& t) {
             EXPECT_EQ(t.intro->held, 1);
             EXPECT_EQ(t.intro->active, 1);
             EXPECT_DOUBLE_EQ(t.intro->timeBase, 3.0);
         }},
        {"1 setpos intro 2000\n", 5.0, [](auto& t) { EXPECT_DOUBLE_EQ(t.intro->timeBase, 3.0); }},
        {"1 screenshot intro 2000\n", 5.0,
         [](auto& t) {
             EXPECT_EQ(t.intro->held, 1);
             EXPECT_DOUBLE_EQ(t.intro->timeBase, 2.0);
         }},
        // Held and resumed at 3 s: the scene goes on from 3 s, no jump.
        {"1 hold intro\n2 continue intro\n", 3.0,
         [](auto& t) {
             EXPECT_EQ(t.intro->held, 0);
             EXPECT_DOUBLE_EQ(t.intro->timeBase, 0.0);
         }},
        {"1 clear intro 7 0x80FF0000\n", 0.0,
         [](auto& t) {
             EXPECT_EQ(t.intro->clearFlags, 3u);
             EXPECT_FLOAT_EQ(t.intro->clearColor[0], 1.0f);
             EXPECT_NEAR(t.intro->clearColor[3], 0.5f, 0.01f);
         }},
        {"1 cam intro 1\n", 0.0,
         [](auto& t) {
             EXPECT_EQ(t.intro->currentCamera, t.intro->cameras[1]);
             EXPECT_EQ(t.demo->cameraGroup, 0);
         }},
        {"1 cam intro 21\n", 0.0,
         [](auto& t) {
             EXPECT_EQ(t.intro->currentCamera, nullptr);
             EXPECT_EQ(t.demo->cameraGroup, 2);
         }},
        {"1 cam intro -1\n", 0.0,
         [](auto& t) {
             EXPECT_EQ(t.intro->currentCamera, nullptr);
             EXPECT_EQ(t.demo->cameraGroup, i32(0xFFFFFFFFu / 10u));
         }},
        {"1 fadein 2 0xFF0000\n", 4.0,
         [](auto& t) {
             EXPECT_EQ(t.demo->fadeState, kFadeIn);
             EXPECT_DOUBLE_EQ(t.demo->fadeStart, 4.0);
             EXPECT_DOUBLE_EQ(t.demo->fadeDuration, 2.0);
             EXPECT_FLOAT_EQ(t.demo->fadeColour[0], 1.0f);
             EXPECT_FLOAT_EQ(t.demo->fadeColour[3], 1.0f);
             EXPECT_EQ(t.demo->fadeTexture, nullptr);
         }},
        {"1 fadeout 1.5 0\n", 0.0, [](auto& t) { EXPECT_EQ(t.demo->fadeState, kFadeOut); }},
        // The last surface whose name begins with the text.
        {"1 picflash 2 p.lwo@Pic\n", 0.0,
         [](auto& t) {
             EXPECT_EQ(t.demo->fadeState, kFadeFlashRising);
             EXPECT_EQ(t.demo->fadeTexture, t.pictures[1]);
             EXPECT_FLOAT_EQ(t.demo->fadeColour[1], 1.0f);
         }},
        {"1 xfade hall 500\n", 0.0,
         [](auto& t) {
             EXPECT_EQ(t.demo->fadeState, kFadeCross);
             EXPECT_DOUBLE_EQ(t.demo->fadeDuration, 0.5);
             EXPECT_NE(t.demo->fadeTexture, nullptr);
             EXPECT_EQ(t.demo->fadeTexture, t.hall->renderTexture);
             EXPECT_STREQ(t.demo->fadeSceneName, "hall");
         }},
        {"1 blur hall 2 0.3\n", 0.0,
         [](auto& t) {
             EXPECT_EQ(t.demo->fadeState, kFadeBlur);
             EXPECT_DOUBLE_EQ(t.demo->fadeDuration, 2.0);
             EXPECT_FLOAT_EQ(t.demo->fadeFloor, 0.3f);
         }},
        {"1 texanims 0\n1 lightfalloff 1\n1 lightflash 2\n1 imposters 1\n1 setwireframe 1\n1 drawfps 1\n"
         "1 disablelogos 1\n1 fov 2\n1 setusercamspeed 0.5\n1 setusercamshiftspeed 0.25\n",
         0.0,
         [](auto& t) {
             const Engine& e = *t.rig.engine;
             EXPECT_EQ(e.texAnims, 0);
             EXPECT_EQ(e.lightFalloff, 1);
             EXPECT_EQ(e.lightFlash, 1);
             EXPECT_EQ(e.imposters, 1);
             EXPECT_EQ(e.wireframe, 1);
             EXPECT_EQ(e.disableLogos, 1);
             EXPECT_EQ(t.demo->drawFps, 1);
             EXPECT_FLOAT_EQ(e.lensReference, 320.0f);
             EXPECT_FLOAT_EQ(userCamSpeed, 0.5f);
             EXPECT_FLOAT_EQ(userCamShiftSpeed, 0.25f);
             userCamSpeed = 0.006f;
             userCamShiftSpeed = 0.008f;
         }},
        {"1 fov 7\n", 0.0, [](auto& t) { EXPECT_FLOAT_EQ(t.rig.engine->lensReference, 100.0f); }},
        {"1 createscene Extra\n1 createtext Words ABC\n1 setusercamscene extra\n", 0.0,
         [](auto& t) {
             ASSERT_EQ(t.meta->scenes.size(), 4u);
             Scene* extra = t.meta->scenes[2];
             EXPECT_STREQ(extra->name, "Extra");
             EXPECT_EQ(extra->cameras.size(), 1u);
             EXPECT_EQ(extra->lights.size(), 1u);
             EXPECT_STREQ(t.meta->scenes[3]->name, "Words");
             EXPECT_EQ(t.rig.engine->interactionTarget, extra);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        TearDown();
        SetUp();
        load(c.body);
        demo->time = c.time;
        ASSERT_TRUE(demo->runScriptEvents(1000000));
        EXPECT_EQ(size_t(demo->nextEvent), demo->events.size());
        c.check(*this);
        EXPECT_EQ(box(), "");
    }
}

TEST_F(ScriptEvents, RenderTargetMadeOncePerScene)
{
    load("1 setrt intro p.lwo@Pic2\n2 xfade intro 100\n3 blur intro 1 0\n");
    const size_t before = meta->textures.size();
    ASSERT_TRUE(demo->runScriptEvents(3));
    EXPECT_EQ(meta->textures.size(), before + 1);
    Texture* target = intro->renderTexture;
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->name.c_str(), std::string("Intro"));
    EXPECT_NE(intro->targetSurface, nullptr);
    EXPECT_NE(intro->targetDepth, nullptr);
    EXPECT_EQ(meta->surfaces[1]->layers.front()->texture, target);
    EXPECT_EQ(demo->fadeTexture, target);

    // A finished cross-fade released the surfaces; the next set-up brings
    // them back instead of drawing to the back buffer.
    intro->targetSurface->Release();
    intro->targetSurface = nullptr;
    intro->targetDepth->Release();
    intro->targetDepth = nullptr;
    demo->nextEvent = 3;
    ASSERT_TRUE(demo->runScriptEvents(3));
    EXPECT_EQ(meta->textures.size(), before + 1);
    EXPECT_NE(intro->targetSurface, nullptr);
    EXPECT_NE(intro->targetDepth, nullptr);
}

// Each new scene name made another screen-sized target: with no room left
// in the metascene's budget, setrt, blur and xfade change nothing and log it.
TEST_F(ScriptEvents, RenderTargetsStayWithinTheMetascenesBudget)
{
    load("1 blur intro 1 0\n2 setrt hall p.lwo@Pic2\n3 blur hall 1 0\n4 xfade hall 100\n");
    ASSERT_TRUE(demo->runScriptEvents(1));
    Texture* introTarget = intro->renderTexture;
    ASSERT_NE(introTarget, nullptr);
    meta->targetBytes = limits::metaSceneTargetBytes - meta->targetBytes / 2;
    const auto from = testsupport::logPosition();
    ASSERT_TRUE(demo->runScriptEvents(4));
    EXPECT_EQ(hall->renderTexture, nullptr);
    EXPECT_EQ(meta->surfaces[1]->layers.front()->texture, pictures[1]);
    EXPECT_EQ(demo->fadeTexture, introTarget);
    EXPECT_EQ(demo->fadeState, kFadeBlur);
    EXPECT_THAT(testsupport::logLinesFrom(from),
                Contains(HasSubstr("render target of scene \"Hall\" left out")).Times(3));
}

TEST_F(ScriptEvents, FailuresStopAtTheEventWithTheirMessage)
{
    struct Case {
        const char* body;
        bool activate;
        const char* message;
    };
    const Case cases[] = {
        {"1 start nothere\n", true, "start: Name nicht vorhanden"},
        {"1 hold nothere\n", true, "hold: Name nicht vorhanden"},
        {"1 screenshot x 0\n", true, "screenshot: scenename nicht vorhanden"},
        {"1 setrt intro nosurface\n", true, "setrt: Surface nicht vorhanden"},
        {"1 picfadein 1 e.lwo@Empty\n", true, "picture fader: Surface nicht vorhanden"},
        {"1 activemeta Other\n", true, "activemeta: Name nicht vorhanden"},
        {"1 freemeta Other\n", true, "freemeta: Name nicht vorhanden"},
        {"1 loadmetascript missing.mts\n", true, "Failed loading metascript!"},
        {"1 loadobjectlayer nothere a.lwo 1\n", true, "loadobjectlayer: Name nicht vorhanden"},
        // Nothing active yet: the scene commands fail instead of reading
        // through a null metascene.
        {"1 stop intro\n", false, "stop: Name nicht vorhanden"},
        {"1 xfade intro 100\n", false, "xfade: Name nicht vorhanden"},
        {"1 picflash 1 p.lwo@Pic\n", false, "picture fader: Surface nicht vorhanden"},
        {"1 createscene S\n", false, "createscene: Name nicht vorhanden"},
        {"1 createtext T ABC\n", false, "createtext: Name nicht vorhanden"},
    };
    for (int level : {1, 0})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.body) + " level " + std::to_string(level));
            TearDown();
            SetUp();
            diagnosticsLevel = level;
            load(std::string("1 drawfps 1\n") + c.body, c.activate);
            const i32 failing = demo->nextEvent + 1;
            EXPECT_FALSE(demo->runScriptEvents(10));
            EXPECT_EQ(demo->drawFps, 1); // the events before it ran
            EXPECT_EQ(demo->nextEvent, failing);
            if (level == 0) {
                EXPECT_TRUE(platform::recordedMessageBoxes().empty());
            } else {
                ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
                EXPECT_EQ(box(), c.message);
                EXPECT_EQ(platform::recordedMessageBoxes()[0].caption, "Error");
                EXPECT_EQ(platform::recordedMessageBoxes()[0].type, UINT(MB_ICONEXCLAMATION));
            }
        }
}

TEST_F(ScriptEvents, LoadmetascriptEndsOnTheLoadingScreenItLeftOff)
{
    load("1 loadmetascript missing.mts\n");
    demo->loadingFrameSeconds = 1.0e9; // every state after this one is dropped
    demo->drawLoadingProgress(0.5f);
    EXPECT_FALSE(demo->runScriptEvents(10));
    EXPECT_EQ(demo->loadingPresents, 2u); // its own 0 once the load has ended
}

TEST_F(ScriptEvents, LoadobjectlayerAddsTheLayersObject)
{
    // Layer 2 of "a.lwo" is a triangle; layer 1 does not exist.
    lwo2test::Bytes b = lwo2test::quadObject();
    b.chunk("LAYR", lwo2test::layr(2));
    b.chunk("PNTS", lwo2test::pnts({0, 0, 0, 1, 0, 0, 0, 1, 0}));
    b.chunk("POLS", lwo2test::pols("FACE", {{0, 1, 2}}));
    stream.files["a.lwo"] = b.form();
    demo->archive = new SarArchive(stream);
    load("1 loadobjectlayer hall a.lwo 2\n2 loadobjectlayer hall a.lwo 1\n");
    ASSERT_TRUE(demo->runScriptEvents(10));
    const LWObject* file = meta->findLwo("a.lwo");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(hall->objects.size(), 1u);
    EXPECT_EQ(hall->objects[0]->mesh, file->layers.at(2));
    EXPECT_EQ(file->texturesBuilt, 1);
    EXPECT_EQ(box(), "1 is not a valid layer number for a.lwo!\n");
}

TEST_F(ScriptEvents, FreemetaLeavesNothingPointingIntoIt)
{
    load("1 createmeta Second\n2 blur intro 1 0.3\n3 setusercamscene intro\n4 freemeta Main\n"
         "5 activemeta Second\n6 activemeta Main\n");
    ASSERT_TRUE(demo->runScriptEvents(4));
    EXPECT_EQ(demo->activeMeta, nullptr);
    EXPECT_EQ(demo->metaScenes.size(), 2u);
    EXPECT_EQ(demo->metaScenes[0], nullptr);
    EXPECT_EQ(rig.engine->interactionTarget, nullptr);
    EXPECT_EQ(demo->fadeTexture, nullptr);
    EXPECT_EQ(demo->fadeState, kFadeNone);

    EXPECT_FALSE(demo->runScriptEvents(6)); // the freed name is gone, the other still found
    EXPECT_EQ(demo->activeMeta, demo->metaScenes[1]);
    EXPECT_EQ(box(), "activemeta: Name nicht vorhanden");
}

TEST_F(ScriptEvents, SecondActivationDoesNotPrepareAgain)
{
    load("1 createmeta B\n2 activemeta B\n3 activemeta Main\n");
    int prepares = 0;
    demo->loadingProgressProbe = [&](float f) { prepares += f == 1.0f; };
    ASSERT_TRUE(demo->runScriptEvents(3));
    EXPECT_EQ(prepares, 1); // B only; Main was prepared at 0
    EXPECT_EQ(demo->activeMeta, meta);
}

TEST_F(ScriptEvents, StopsoundRestart)
{
    struct Case {
        const char* body;
        u8 loopAtStop;
        i32 now;
        size_t scenes;  // createscene counts the runs
        i32 nextEvent;  // counted from the first body event
        double time;
    };
    const Case cases[] = {
        // The events due at the restart time run again in the same call.
        {"100 restart\n100 createscene S\n500 stopsound\n600 stopdemo\n", 1, 550, 4, 2, 0.1},
        {"100 restart\n100 createscene S\n500 stopsound\n", 0, 550, 3, 3, 9.0},
        {"100 createscene S\n500 stopsound\n", 1, 550, 3, 2, 9.0}, // no restart seen
        // stopsound at the restart time: one restart per call, no hang.
        {"100 restart\n100 stopsound\n", 1, 100, 2, 1, 0.1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        TearDown();
        SetUp();
        load(c.body);
        const i32 first = demo->nextEvent;
        demo->loopAtStop = c.loopAtStop;
        demo->time = 9.0;
        ASSERT_TRUE(demo->runScriptEvents(c.now));
        EXPECT_EQ(meta->scenes.size(), c.scenes);
        EXPECT_EQ(demo->nextEvent - first, c.nextEvent);
        EXPECT_DOUBLE_EQ(demo->time, c.time);
        EXPECT_EQ(demo->quit, 0);
    }
    EXPECT_FLOAT_EQ(lastMusicTime, 0.1f);
    lastMusicTime = 0.0f;
}

// Loading or creating a metascene on every pass keeps one of each name.
TEST_F(ScriptEvents, LoopingPassesKeepOneMetascenePerName)
{
    const char* bodies[] = {
        "1 restart\n1 loadmetascript a.mts\n5 stopsound\n",
        "1 restart\n1 createmeta B\n5 stopsound\n",
        "1 restart\n1 loadmetascript a.mts\n2 freemeta a\n5 stopsound\n",
    };
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        TearDown();
        SetUp();
        stream.files["a.mts"] = "a.lws\n";
        stream.files["a.lws"] = "LWSC\n3\nAddNullObject n\n";
        demo->archive = new SarArchive(stream);
        load(body);
        ASSERT_TRUE(demo->runScriptEvents(5));
        const size_t afterOnePass = demo->metaScenes.size();
        for (int pass = 0; pass < 20; ++pass)
            ASSERT_TRUE(demo->runScriptEvents(5));
        EXPECT_EQ(demo->metaScenes.size(), afterOnePass);
    }
}

TEST_F(ScriptEvents, ContinueGoesOnFromTheHeldTime)
{
    load("1000 hold intro\n3000 continue intro\n");
    demo->time = 1.0;
    ASSERT_TRUE(demo->runScriptEvents(1000));
    demo->time = 3.0;
    ASSERT_TRUE(demo->runScriptEvents(3000));
    // Held at 1 s, resumed at 3 s: the scene's clock reads 1 s again.
    EXPECT_DOUBLE_EQ(demo->time - intro->timeBase, 1.0);
}

TEST_F(ScriptEvents, OnlyTheOnceCommandsPlayTheTuneOnce)
{
    struct Plays : Sound {
        std::vector<bool> loops;
        bool play(int, bool loop) override
        {
            loops.push_back(loop);
            return true;
        }
    } music;
    testsupport::Restore<Sound*> attached(rig.engine->sound, &music); // the engine deletes its sound
    load("1 playoggonce a.ogg\n2 playmp3once b.mp3\n3 playogg c.ogg\n4 playmp3 d.mp3\n");
    ASSERT_TRUE(demo->runScriptEvents(4));
    EXPECT_EQ(music.loops, (std::vector<bool>{false, false, true, true}));
}

TEST_F(ScriptEvents, EachNewTrackFreesTheChannelOfTheLast)
{
    std::string body;
    for (int i = 1; i <= 50; ++i)
        body += std::to_string(i * 10) + (i % 2 ? " playogg a.ogg\n" : " playmp3 b.mp3\n");
    load(body);
    Sound silent;
    testsupport::Restore<Sound*> attached(rig.engine->sound, &silent); // owners delete both
    MemoryStream empty;
    SarArchive archive(empty);
    testsupport::Restore<SarArchive*> mounted(demo->archive, &archive);
    ASSERT_TRUE(demo->runScriptEvents(1000));
    EXPECT_EQ(silent.channelCount(), 1);
    EXPECT_NE(silent.channel(1), nullptr);
}

TEST_F(ScriptEvents, UserCameraSkipsStopdemoAndImposters)
{
    load("1 imposters 1\n2 stopdemo\n3 drawfps 1\n");
    rig.engine->interaction->currentCamera = rig.engine->interaction->camera();
    ASSERT_TRUE(demo->runScriptEvents(3));
    EXPECT_EQ(demo->quit, 0);
    EXPECT_EQ(rig.engine->imposters, 0);
    EXPECT_EQ(size_t(demo->nextEvent), demo->events.size());
}

} // namespace
