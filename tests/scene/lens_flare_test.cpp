// Lens flares: projection, the probe read-back and the drawn elements on a
// headless 64 x 48 device.
#include "fx_test_support.h"

#include "materials/engine.h"
#include "materials/shader_parameters.h"
#include "materials/texture.h"
#include "scene/lens_flare.h"
#include "scene/light.h"

#include <cmath>
#include <functional>
#include <cstring>

using namespace scenetest;
using namespace fxtest;
using platform::d3d9::DeviceCall;

namespace {

struct FlareRig : SceneFixture {
    std::unique_ptr<TestCamera> camera;

    explicit FlareRig(UINT viewWidth = 64, UINT viewHeight = 48)
    {
        if (scene)
            camera = std::make_unique<TestCamera>(scene, viewWidth, viewHeight);
    }
    Light* addLight(i32 type, float x, float y, float z, i32 options = 0x19)
    {
        Light* light = new Light(scene, i32(scene->lights.size()));
        scene->lights.push_back(light);
        light->lightType = type;
        light->channels[kPositionX].value = x;
        light->channels[kPositionY].value = y;
        light->channels[kPositionZ].value = z;
        light->red.value = light->green.value = light->blue.value = 1.0f;
        light->flareIntensity.value = 1.0f;
        light->flareOptions = options;
        light->flare = light->createFlare();
        return light;
    }
    std::vector<DeviceCall> render()
    {
        // The pass has set the camera's projection.
        engine->uniforms->setProjection(camera->projection);
        platform::d3d9::setCallLogging(device(), true);
        device()->BeginScene();
        scene->renderFlares(camera.get(), 0.0);
        device()->EndScene();
        auto log = platform::d3d9::takeCallLog(device());
        platform::d3d9::setCallLogging(device(), false);
        return log;
    }
};

size_t fans(const std::vector<DeviceCall>& log)
{
    size_t n = 0;
    for (const auto& call : callsNamed(log, "DrawPrimitive"))
        n += call.args[0] == double(D3DPT_TRIANGLEFAN);
    return n;
}

TEST(LensFlare, ProbeHitsAroundAPixel)
{
    // A 4 x 3 surface, rows of 5 words (the fifth is padding that holds marks
    // too, so a read past a row's end would count it).
    const u32 M = 0xCD000000u;
    std::vector<u32> all(15, M);
    struct Case {
        const char* name;
        i32 x, y, hits;
    };
    const Case cases[] = {
        {"inside", 1, 1, 9},      {"left edge", 0, 1, 6},      {"right edge", 3, 1, 6},
        {"past the right", 4, 1, 3}, {"far right", 1000, 1, 0}, {"top row", 1, 0, 6},
        {"bottom corner", 3, 2, 4}, {"below", 1, 3, 3},        {"far left", -50, 1, 0},
    };
    for (const Case& c : cases) {
        const RECT block = LensFlare::probeBlock(4, 3, c.x, c.y);
        const i32 hits = block.right == 0 ? 0
                                          : LensFlare::countProbeHits(&all[size_t(block.top) * 5 + size_t(block.left)],
                                                                      5, block);
        EXPECT_EQ(hits, c.hits) << c.name;
    }
    std::vector<u32> some(15, 0xFF000000u);
    some[5 + 2] = some[10 + 2] = M | 0xFF;
    EXPECT_EQ(LensFlare::countProbeHits(some.data(), 5, LensFlare::probeBlock(4, 3, 1, 1)), 2) << "top byte only";
}

TEST(LensFlare, CoverageScalesTheFlare)
{
    struct Case {
        const char* name;
        float z;     // depth cleared everywhere
        RECT open;   // then cleared to 1 here (empty: nothing)
        bool drawn;
        float share;
    };
    // The light's pixel is (32, 24): its block spans x 31..33, y 23..25.
    const Case cases[] = {
        {"all 9 visible", 1.0f, {0, 0, 0, 0}, true, 1.0f},
        {"all 9 covered", 0.0f, {0, 0, 0, 0}, false, 0.0f},
        {"4 of 9 visible", 0.0f, {32, 24, 34, 26}, true, 4.0f / 9.0f},
    };
    for (const Case& c : cases) {
        FlareRig rig;
        REQUIRE_ENGINE(rig.engine);
        Light* light = rig.addLight(1, 0, 0, 10);
        clearTarget(rig.device(), c.z);
        if (c.open.right > c.open.left) {
            const D3DRECT r{c.open.left, c.open.top, c.open.right, c.open.bottom};
            rig.device()->Clear(1, &r, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        }
        const auto log = rig.render();
        EXPECT_EQ(light->flare->screenX, 32.0f);
        EXPECT_EQ(light->flare->screenY, 24.0f);
        EXPECT_EQ(fans(log), c.drawn ? 18u : 0u) << c.name;
        if (c.drawn) {
            EXPECT_NEAR(light->flare->size, 5.0f * c.share, 1e-5) << c.name;
        }
    }
}

TEST(LensFlare, ProjectionFadeAndFacing)
{
    struct Case {
        const char* name;
        i32 type;
        float x, y, heading, intensity;
        bool shown;
        float fade;
    };
    const float pi = 3.14159265f;
    // The light at depth 10: the view's border lies at x = y = 10, the fade starts at 9.
    const Case cases[] = {
        {"centre", 1, 0, 0, 0, 1, true, 1.0f},
        {"right tenth", 1, 9.5f, 0, 0, 1, true, 0.5f},
        {"left tenth", 1, -9.75f, 0, 0, 1, true, 0.25f},
        {"corner", 1, 9.5f, -9.5f, 0, 1, true, 0.25f},
        {"outside", 1, 10.5f, 0, 0, 1, false, 0},
        {"point facing away", 1, 0, 0, 0, 1, true, 1.0f},
        {"spot facing away", 2, 0, 0, 0, 1, false, 0},
        {"distant facing away", 0, 0, 0, 0, 1, false, 0},
        {"spot facing the viewer", 2, 0, 0, pi, 1, true, 1.0f},
        {"switched off", 1, 0, 0, 0, 0.0000001f, false, 0},
    };
    for (const Case& c : cases) {
        FlareRig rig;
        REQUIRE_ENGINE(rig.engine);
        Light* light = rig.addLight(c.type, c.x, c.y, 10);
        light->channels[kHeading].value = c.heading;
        light->flareIntensity.value = c.intensity;
        EXPECT_EQ(light->flare->project(rig.camera.get(), 0.0), c.shown) << c.name;
        if (c.shown) {
            EXPECT_NEAR(light->flare->edgeFade, c.fade, 1e-5) << c.name;
        }
    }
}

TEST(LensFlare, InvisibleFlaresTouchNoState)
{
    FlareRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addLight(1, 0, 0, 10)->flareIntensity.value = 0.0000001f;
    rig.addLight(2, 0, 0, 10); // facing away
    const auto log = rig.render();
    EXPECT_TRUE(callsNamed(log, "SetRenderState").empty());
    EXPECT_TRUE(callsNamed(log, "DrawPrimitive").empty());
}

TEST(LensFlare, ElementsByOptionBits)
{
    std::vector<double> table;
    for (const auto& row : LensFlare::kElements)
        table.push_back(double(row.color));
    struct Case {
        i32 options;
        std::vector<double> factors; // after the probe's two
    };
    const double glow = double(0xFFFFFFFFu), grey = double(0xFF757575u);
    std::vector<double> all = {glow, grey};
    all.insert(all.end(), table.begin(), table.end());
    const Case cases[] = {{8, {glow}}, {1, {grey}}, {0x10, table}, {0x19, all}, {0, {}}};
    for (const Case& c : cases) {
        FlareRig rig;
        REQUIRE_ENGINE(rig.engine);
        rig.addLight(1, 2, 1, 10, c.options);
        clearTarget(rig.device());
        const auto log = rig.render();
        std::vector<double> factors = renderStateValues(log, D3DRS_TEXTUREFACTOR);
        ASSERT_GE(factors.size(), 2u);
        EXPECT_EQ(factors[1], double(LensFlare::kProbeMark));
        EXPECT_EQ(std::vector<double>(factors.begin() + 2, factors.end()), c.factors) << c.options;
        EXPECT_EQ(fans(log), c.factors.size()) << c.options;
        if (c.options != 0x10)
            continue;
        // The last row: scale 0.53 x size 5, along the line at -1.31.
        std::vector<DeviceCall> views;
        for (const auto& call : callsNamed(log, "SetTransform"))
            if (call.args[0] == double(D3DTS_VIEW))
                views.push_back(call);
        D3DMATRIX m;
        std::memcpy(&m, views.back().data.data(), sizeof m);
        EXPECT_NEAR(m._11, 0.53f * 5.0f, 1e-5);
        EXPECT_NEAR(m._41, -1.31f * 2.0f, 1e-5);
        EXPECT_NEAR(m._42, -1.31f * 1.0f, 1e-5);
        EXPECT_NEAR(m._43, 10.0f, 1e-5);
    }
}

TEST(LensFlare, StatesAroundTheFlares)
{
    FlareRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig.addLight(1, 0, 0, 10);
    clearTarget(rig.device());
    rig.device()->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    const auto log = rig.render();
    EXPECT_EQ(renderStateValues(log, D3DRS_COLORWRITEENABLE),
              (std::vector<double>{8, double(rig.engine->colorWriteMask)}));
    const std::pair<D3DRENDERSTATETYPE, DWORD> last[] = {
        {D3DRS_LIGHTING, TRUE},          {D3DRS_ZENABLE, TRUE},
        {D3DRS_ALPHABLENDENABLE, FALSE}, {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
        {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA}, {D3DRS_ZWRITEENABLE, TRUE},
        {D3DRS_CULLMODE, D3DCULL_NONE},
    };
    for (auto [state, value] : last)
        EXPECT_EQ(renderStateValues(log, state).back(), double(value)) << state;
}

TEST(LensFlare, ProbeAndGlowDrawWithoutTheSubsetsPixelShader)
{
    FlareRig rig;
    REQUIRE_ENGINE(rig.engine);
    LensFlare& flare = *rig.addLight(1, 0, 0, 10)->flare;
    clearTarget(rig.device());
    rig.render();
    ASSERT_TRUE(flare.visible);
    const std::function<void()> draws[] = {[&] { flare.drawProbePoint(rig.camera.get(), 0.0); },
                                           [&] { flare.draw(0.0); }};
    for (const auto& draw : draws) {
        platform::d3d9::setCallLogging(rig.device(), true);
        draw();
        const auto log = platform::d3d9::takeCallLog(rig.device());
        platform::d3d9::setCallLogging(rig.device(), false);
        EXPECT_TRUE(drawsUnshaded(log, "SetPixelShader"));
    }
}

TEST(LensFlare, LightsShareTheMetasceneTextures)
{
    FlareRig rig;
    REQUIRE_ENGINE(rig.engine);
    Light* a = rig.addLight(1, 0, 0, 10);
    Light* b = rig.addLight(1, 1, 0, 10);
    ASSERT_EQ(rig.meta->textures.size(), 5u);
    const char* names[6] = {"", "(flare BRIGHTCTR)", "(flare EVENCTR)", "(flare DIMCTR)", "(flare RING)", "(flare)"};
    for (int slot = 1; slot <= 5; ++slot) {
        ASSERT_NE(a->flare->textures[slot], nullptr);
        EXPECT_EQ(a->flare->textures[slot], b->flare->textures[slot]);
        EXPECT_STREQ(a->flare->textures[slot]->name.c_str(), names[slot]);
    }
    // The metascene frees the textures; the flares only their buffers.
}

TEST(LensFlare, ProbeBeyondTheBackBuffer)
{
    // A shadow pass's viewport is wider than the 64 x 48 back buffer.
    FlareRig rig(1024, 1024);
    REQUIRE_ENGINE(rig.engine);
    Light* light = rig.addLight(1, 9.0f, -9.0f, 10);
    clearTarget(rig.device());
    const auto log = rig.render();
    EXPECT_GT(light->flare->screenX, 64.0f);
    EXPECT_EQ(light->flare->visible, 0);
    EXPECT_EQ(fans(log), 0u);
}

TEST(LensFlare, FailedVertexBufferDrawsNothing)
{
    FlareRig rig;
    REQUIRE_ENGINE(rig.engine);
    platform::d3d9::failBufferCreation(rig.device());
    Light* light = rig.addLight(1, 0, 0, 10);
    platform::d3d9::failBufferCreation(rig.device(), false);
    EXPECT_EQ(light->flare->vertexBuffer, nullptr);
    clearTarget(rig.device());
    EXPECT_TRUE(callsNamed(rig.render(), "DrawPrimitive").empty());
}

TEST(LensFlare, UnreadableBackBufferCountsAsVisible)
{
    testsupport::Outputs outputs({platform::defaultAdapterProfile()},
                                 [](DisplaySettings& s) { s.multiSampleType = D3DMULTISAMPLE_4_SAMPLES; });
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    MetaScene meta(&engine, "test.mts");
    Scene* scene = new Scene(&meta);
    meta.scenes.push_back(scene);
    TestCamera camera(scene);
    Light* light = new Light(scene, 0);
    scene->lights.push_back(light);
    light->lightType = 1;
    light->channels[kPositionZ].value = 10;
    light->flareIntensity.value = 1.0f;
    light->flareOptions = 8;
    light->flare = light->createFlare();
    IDirect3DDevice9* d = engine.currentDevice;
    engine.uniforms->setProjection(camera.projection);
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.0f, 0); // the probe would find nothing
    d->BeginScene();
    LensFlare::renderFlares(scene->lights, &camera, 0.0);
    d->EndScene();
    EXPECT_EQ(light->flare->visible, 1);
    EXPECT_EQ(light->flare->visibleFraction, 1.0f);
}

} // namespace
