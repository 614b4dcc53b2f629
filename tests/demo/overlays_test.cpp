// The overlays at 1024 x 768: fades, logos and digits, the loading screen.
#include "demo/demo.h"
#include "demo/overlays.h"

#include "lightwave/meta_scene.h"
#include "scene/scene.h"

#include "demo_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace demotest;

constexpr u32 kBlue = 0x000080;

class OverlaysTest : public ::testing::Test {
protected:
    Rig rig{1024, 768};
    std::unique_ptr<Demo> demo;
    void SetUp() override
    {
        REQUIRE_DEVICES(rig);
        demo = std::make_unique<Demo>(rig.engine.get());
    }
    void TearDown() override { smoothedFps = 0.0; }
    void clear() { rig.device()->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000 | kBlue, 1.0f, 0); }
    // One view's fade at time t over a blue frame; the pixel in the middle.
    u32 fadeAt(double t)
    {
        clear();
        demo->time = t;
        updateFade(demo.get());
        return BackBuffer(rig.device())(512, 384);
    }
};

TEST_F(OverlaysTest, FullScreenQuadCoversEveryEdge)
{
    clear();
    const float red[4] = {1.0f, 0.0f, 0.0f, 0.0f};
    drawFullScreenQuad(rig.engine.get(), 1.0f, red, nullptr); // the intensity is the alpha
    const BackBuffer b(rig.device());
    for (auto [x, y] : {std::pair{0, 0}, {1023, 0}, {0, 767}, {1023, 767}})
        EXPECT_EQ(b(x, y), 0xFF0000u) << x << "," << y;
}

TEST_F(OverlaysTest, FadeStates)
{
    struct Step {
        double time;
        u32 pixel;     // expected middle pixel
        FadeState stateAfter;
    };
    struct Case {
        const char* name;
        FadeState state;
        double duration;
        float floor;
        std::vector<Step> steps;
    };
    const u32 half = 0x800040; // red over blue at one half
    const std::vector<Case> cases = {
        {"flash 2 s", kFadeFlashRising, 2.0, 0.0f,
         {{0.5, half, kFadeFlashRising}, {1.0, 0xFF0000, kFadeFlashRising}, {1.5, 0xFF0000, kFadeFlashFalling},
          {1.5, half, kFadeFlashFalling}, {2.01, kBlue, kFadeNone}, {3.0, kBlue, kFadeNone}}},
        {"fadein", kFadeIn, 2.0, 0.0f, {{0.0, 0xFF0000, kFadeIn}, {1.0, half, kFadeIn}, {2.5, kBlue, kFadeNone}}},
        {"fadeout holds", kFadeOut, 2.0, 0.0f,
         {{1.0, half, kFadeOut}, {2.0, 0xFF0000, kFadeOut}, {60.0, 0xFF0000, kFadeOut}}},
        {"zero-length fadein ends", kFadeIn, 0.0, 0.0f, {{0.0, kBlue, kFadeNone}}},
        {"zero-length fadeout is full", kFadeOut, 0.0, 0.0f, {{0.0, 0xFF0000, kFadeOut}, {5.0, 0xFF0000, kFadeOut}}},
        {"zero-length flash", kFadeFlashRising, 0.0, 0.0f,
         {{0.0, 0xFF0000, kFadeFlashFalling}, {0.0, kBlue, kFadeNone}}},
        {"negative length", kFadeIn, -1.0, 0.0f, {{0.0, kBlue, kFadeNone}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        demo->fadeState = c.state;
        demo->fadeStart = 0.0;
        demo->fadeDuration = c.duration;
        const float red[4] = {1.0f, 0.0f, 0.0f, 1.0f};
        std::memcpy(demo->fadeColour, red, sizeof red);
        for (const Step& s : c.steps) {
            const u32 p = fadeAt(s.time);
            EXPECT_TRUE(near(p, s.pixel)) << "t " << s.time << ": " << std::hex << p;
            EXPECT_EQ(demo->fadeState, s.stateAfter) << "t " << s.time;
        }
    }
}

TEST_F(OverlaysTest, BlurFadesThePictureToItsFloor)
{
    demo->fadeState = kFadeBlur;
    demo->fadeStart = 10.0;
    demo->fadeDuration = 2.0;
    demo->fadeFloor = 0.3f;
    demo->fadeColour[0] = 1.0f; // not used: blur draws white
    demo->fadeTexture = rig.solid(0xFF00FF00);
    EXPECT_TRUE(near(fadeAt(10.0), 0x00FF00));
    EXPECT_TRUE(near(fadeAt(11.0), 0x008040));
    EXPECT_TRUE(near(fadeAt(11.8), 0x004D5A));
    EXPECT_TRUE(near(fadeAt(100.0), 0x004D5A)); // held at 0.3
    EXPECT_EQ(demo->fadeState, kFadeBlur);
}

TEST_F(OverlaysTest, CrossFadeBlendsByItsFractionWhateverTheSurfacesLeft)
{
    // States a surface's draw leaves behind must not change the quarter blend.
    struct Leftover {
        const char* name;
        std::vector<std::pair<D3DRENDERSTATETYPE, DWORD>> render;
        std::vector<std::tuple<DWORD, D3DTEXTURESTAGESTATETYPE, DWORD>> stages;
    };
    const std::vector<Leftover> cases = {
        {"alpha from the texture factor",
         {{D3DRS_TEXTUREFACTOR, 0x99000000}},
         {{0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR}}},
        {"second stage enabled",
         {{D3DRS_TEXTUREFACTOR, 0xFFFF0000}},
         {{1, D3DTSS_COLOROP, D3DTOP_SELECTARG1}, {1, D3DTSS_COLORARG1, D3DTA_TFACTOR}}},
        {"alpha test on", {{D3DRS_ALPHATESTENABLE, TRUE}, {D3DRS_ALPHAFUNC, D3DCMP_GREATER}, {D3DRS_ALPHAREF, 127}}, {}},
        {"mirror culling", {{D3DRS_CULLMODE, D3DCULL_CW}}, {}},
        {"red fog",
         {{D3DRS_FOGENABLE, TRUE}, {D3DRS_FOGTABLEMODE, D3DFOG_LINEAR}, {D3DRS_FOGCOLOR, 0xFFFF0000},
          {D3DRS_FOGSTART, 0}, {D3DRS_FOGEND, 0x3F800000}}, // 0.0f to 1.0f
         {}},
    };
    demo->fadeState = kFadeCross;
    demo->fadeStart = 0.0;
    demo->fadeDuration = 1.0;
    demo->fadeTexture = rig.solid(0xFF00FF00);
    for (const Leftover& c : cases) {
        SCOPED_TRACE(c.name);
        IDirect3DDevice9* device = rig.device();
        for (auto [state, value] : c.render)
            device->SetRenderState(state, value);
        for (auto [stage, state, value] : c.stages)
            device->SetTextureStageState(stage, state, value);
        const u32 p = fadeAt(0.25);
        EXPECT_TRUE(near(p, 0x004060)) << std::hex << p;
    }
}

TEST_F(OverlaysTest, CrossFadeEndKeepsOnlyItsSceneWithTheTargetReleased)
{
    MetaScene meta(rig.engine.get(), "m");
    for (const char* name : {"First", "Second", "Third"}) {
        Scene* s = new Scene(&meta);
        s->name = new char[std::strlen(name) + 1];
        std::strcpy(s->name, name);
        s->active = 1;
        meta.scenes.push_back(s);
    }
    Scene* second = meta.scenes[1];
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(rig.device()->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                          &target, nullptr),
              D3D_OK);
    target->GetSurfaceLevel(0, &second->targetSurface);
    ASSERT_EQ(rig.device()->CreateDepthStencilSurface(64, 64, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE,
                                                      &second->targetDepth, nullptr),
              D3D_OK);
    demo->activeMeta = &meta;
    demo->fadeSceneName = "sec"; // a prefix, case ignored
    demo->fadeState = kFadeCross;
    demo->fadeStart = 0.0;
    demo->fadeDuration = 1.0;
    fadeAt(0.5);
    EXPECT_EQ(demo->fadeState, kFadeCross);
    EXPECT_NE(second->targetSurface, nullptr);
    fadeAt(1.5);
    EXPECT_EQ(demo->fadeState, kFadeNone);
    EXPECT_EQ(meta.scenes[0]->active, 0);
    EXPECT_EQ(second->active, 1);
    EXPECT_EQ(meta.scenes[2]->active, 0);
    EXPECT_EQ(second->targetSurface, nullptr);
    EXPECT_EQ(second->targetDepth, nullptr);
    EXPECT_EQ(target->Release(), 0u); // the surface's reference went back

    // A cross-fade whose scene is gone only ends.
    demo->fadeSceneName = "Missing";
    demo->fadeState = kFadeCross;
    fadeAt(2.0);
    EXPECT_EQ(demo->fadeState, kFadeNone);
    demo->activeMeta = nullptr;
    demo->fadeState = kFadeCross;
    fadeAt(3.0);
    EXPECT_EQ(demo->fadeState, kFadeNone);
}

TEST_F(OverlaysTest, LogosDigitsAndUrl)
{
    // The small pictures are transparency maps (black opaque, white clear)
    // whose colour is black; after the logo a picture gives only its alpha,
    // so they show in the quad's white.
    demo->logo = rig.picture(0xFF00FF00, 7);
    demo->url = rig.picture(0xFF000000);
    demo->fpsLabel = rig.picture(0xFF000000);
    for (int i = 0; i < 10; ++i)
        demo->digits[i] = rig.picture(i == 1 ? 0xFF000000 : i == 2 ? 0xFF808080 : 0xFFFFFFFF);
    demo->drawFps = 1;
    smoothedFps = 120.9; // 1, 2, 0
    clear();
    drawLogosAndFps(demo.get());
    const BackBuffer b(rig.device());
    struct Probe {
        int x, y;
        u32 pixel;
    };
    const u32 half = 0x7F7FBF; // white at one half over blue
    const Probe probes[] = {
        // logo (891, 5)-(1019, 69): its own colour
        {891, 5, 0x00FF00}, {1018, 68, 0x00FF00}, {890, 5, kBlue}, {891, 4, kBlue}, {1019, 30, kBlue}, {900, 69, kBlue},
        // URL (768, 736)-(1024, 768): white, not red
        {768, 736, 0xFFFFFF}, {1023, 767, 0xFFFFFF}, {767, 740, kBlue}, {800, 735, kBlue},
        // label (-54.4, 9)-(158.4, 73): reaches column 0
        {0, 72, 0xFFFFFF}, {158, 72, 0xFFFFFF}, {0, 73, kBlue}, {0, 8, kBlue}, {159, 72, kBlue},
        // hundreds digit (128, 5)-(204, 69) only
        {150, 5, 0xFFFFFF}, {170, 68, 0xFFFFFF},
        // tens (173.6..249.6) over hundreds, then over ones (219.2..295.2)
        {190, 40, 0xFFFFFF}, {210, 40, half}, {249, 40, half}, {260, 40, kBlue}, {295, 40, kBlue}, {296, 40, kBlue},
    };
    for (const Probe& p : probes)
        EXPECT_TRUE(near(b(p.x, p.y), p.pixel, 4)) << p.x << "," << p.y << ": " << std::hex << b(p.x, p.y);
}

TEST_F(OverlaysTest, LoadingBar)
{
    struct Case {
        float progress;
        int lastColumn; // -1: no bar
    };
    const Case cases[] = {{0.0f, -1}, {0.5f, 511}, {1.0f, 1023}, {7.0f, 1023}, {-3.0f, -1}};
    // A green back colour that must never show.
    demo->loadLoadingPicture("", nullptr, 0.0f, 0.91f, 1.0f, 0.935f, 0xFF606060u, 0xFF00FF00u);
    demo->loadingFrameSeconds = 0.0; // every call presents
    int presents = 0;
    demo->loadingProgressProbe = [&](float) { ++presents; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.progress);
        clear();
        demo->drawLoadingProgress(c.progress);
        const BackBuffer b(rig.device());
        EXPECT_EQ(b(512, 698), 0u);         // cleared to black above the bar
        EXPECT_EQ(b(512, 719), 0u);         // and below it
        EXPECT_EQ(b(0, 699), c.lastColumn < 0 ? 0u : 0x606060u); // rows 0.91 H
        EXPECT_EQ(b(0, 718), c.lastColumn < 0 ? 0u : 0x606060u); // to 0.935 H
        if (c.lastColumn >= 0) {
            EXPECT_EQ(b(c.lastColumn, 705), 0x606060u);
        }
        if (c.lastColumn >= 0 && c.lastColumn < 1023) {
            EXPECT_EQ(b(c.lastColumn + 1, 705), 0u);
        }
        EXPECT_EQ(std::count(b.pixels.begin(), b.pixels.end(), 0x00FF00u), 0);
    }
    EXPECT_EQ(presents, 5);
}

TEST_F(OverlaysTest, LoadingScreenPresentsAtMostSixtyTimesASecond)
{
    demo->loadLoadingPicture("", nullptr, 0.0f, 0.91f, 1.0f, 0.935f, 0xFF606060u, 0xFF00FF00u);
    int calls = 0;
    demo->loadingProgressProbe = [&](float) { ++calls; };
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3000; ++i)
        demo->drawLoadingProgress(float(i) / 3000.0f);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(calls, 3000); // every fraction is still reported
    EXPECT_LE(demo->loadingPresents, u32(seconds * 60.0) + 2);
    EXPECT_GE(demo->loadingPresents, 1u);
}

TEST_F(OverlaysTest, LoadingScreenAlwaysShowsWhereALoadStopped)
{
    constexpr float loadEnds = NAN;
    struct Case {
        std::vector<float> steps;
        u32 presents;
        int lastColumn; // of the bar left on screen
    } cases[] = {
        {{0.5f, 1.0f}, 2, 1023},                       // the full bar right after another state
        {{0.0f, 0.25f, 0.5f, loadEnds}, 2, 511},       // the dropped state a load ended with
        {{0.5f, loadEnds, loadEnds, 0.75f, loadEnds}, 2, 767}, // nothing dropped: nothing again
    };
    demo->loadLoadingPicture("", nullptr, 0.0f, 0.91f, 1.0f, 0.935f, 0xFF606060u, 0xFF000000u);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.steps));
        demo = std::make_unique<Demo>(rig.engine.get());
        demo->loadingFrameSeconds = 1.0e9; // only the first call passes the limit
        clear();
        for (float f : c.steps)
            std::isnan(f) ? demo->endLoadingProgress() : demo->drawLoadingProgress(f);
        EXPECT_EQ(demo->loadingPresents, c.presents);
        const BackBuffer b(rig.device());
        EXPECT_EQ(b(c.lastColumn, 705), 0x606060u);
        if (c.lastColumn < 1023) {
            EXPECT_EQ(b(c.lastColumn + 1, 705), 0u);
        }
    }
}

TEST_F(OverlaysTest, LoadingPictureKeepsItsColoursAfterTheOverlays)
{
    // A view ends with a half-transparent fade, then the overlays, which
    // leave the diffuse colour selected and blending on.
    const float red[4] = {1.0f, 0.0f, 0.0f, 1.0f};
    drawFullScreenQuad(rig.engine.get(), 0.5f, red, nullptr);
    demo->logo = rig.picture(0xFF00FF00, 7);
    drawLogosAndFps(demo.get());
    demo->loadLoadingPicture("", nullptr, 0.0f, 0.91f, 1.0f, 0.935f, 0xFF606060u, 0xFF000000u);
    loadingPicture = rig.picture(0x80203050u, 68);
    clear();
    demo->drawLoadingProgress(0.5f);
    const BackBuffer b(rig.device());
    EXPECT_TRUE(near(b(512, 300), 0x203050u)) << std::hex << b(512, 300);
    EXPECT_EQ(b(100, 705), 0x606060u);
    demo->loadLoadingPicture("", nullptr, 0.0f, 0.0f, 0.0f, 0.0f, 0u, 0u); // frees the picture
}

} // namespace
