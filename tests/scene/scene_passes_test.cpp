// The scene's frame and object pass on the device call log: clear and fog,
// camera choice, draw order, lights by rank, anti-portals, the bake pass,
// picking, and stereo back buffers.
#include "built_scene.h"

#include "foundation/file_stream.h"
#include "materials/generated_textures.h"
#include "materials/pass_state.h"
#include "materials/texture_layer.h"
#include "platform/device_test_support.h"
#include "scene/anti_portal.h"
#include "scene/lens_flare.h"
#include "scene/scene_interaction.h"
#include "scene/wire_meshes.h"

#include <array>
#include <cmath>
#include <numbers>
#include <cstdlib>
#include <cstring>
#include <limits>

using namespace scenetest;
using platform::d3d9::DeviceCall;

namespace {

template <class F>
std::vector<DeviceCall> logged(IDirect3DDevice9* device, F&& f)
{
    platform::d3d9::setCallLogging(device, true);
    f();
    auto log = platform::d3d9::takeCallLog(device);
    platform::d3d9::setCallLogging(device, false);
    return log;
}

std::vector<DeviceCall> renderLogged(BuiltScene& s, bool clearTarget = true)
{
    return logged(s.device(), [&] { s.scene->render(clearTarget, 0, 0.0); });
}

bool sameMatrix(const DeviceCall& call, const D3DMATRIX& m)
{
    return call.data.size() == sizeof m && std::memcmp(call.data.data(), &m, sizeof m) == 0;
}

// The objects drawn, in order, told apart by the world matrix each set.
std::vector<Object*> drawnObjects(const std::vector<DeviceCall>& log, const std::vector<Object*>& candidates)
{
    std::vector<Object*> out;
    for (const auto& call : callsNamed(log, "SetTransform"))
        if (call.args[0] == double(D3DTS_WORLD))
            for (Object* o : candidates)
                if (o->worldValid && sameMatrix(call, o->world) && std::find(out.begin(), out.end(), o) == out.end())
                    out.push_back(o);
    return out;
}

std::vector<D3DMATRIX> views(const std::vector<DeviceCall>& log)
{
    std::vector<D3DMATRIX> out;
    for (const auto& call : callsNamed(log, "SetTransform"))
        if (call.args[0] == double(D3DTS_VIEW) && call.data.size() == sizeof(D3DMATRIX)) {
            D3DMATRIX m;
            std::memcpy(&m, call.data.data(), sizeof m);
            out.push_back(m);
        }
    return out;
}

bool equalMatrices(const D3DMATRIX& a, const D3DMATRIX& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(ScenePasses, FrameClearAndFog)
{
    struct Case {
        const char* name;
        i32 fogType;
        bool clearTarget;
        u8 stencil;
        DWORD flags;
        DWORD color;
        double fogEnable;
    };
    const Case cases[] = {
        {"linear fog clears with the fog colour", 3, true, 0, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1},
        {"other fog modes are off", 1, true, 0, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00FF0000, 0},
        {"depth only", 0, false, 0, D3DCLEAR_ZBUFFER, 0x00FF0000, 0},
        {"depth and stencil only", 0, false, 1, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00FF0000, 0},
        {"stencil joins a full clear", 0, true, 1, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00FF0000,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BuiltScene s;
        REQUIRE_ENGINE(s);
        s.engine->depthHasFirstChannel = c.stencil;
        const float red[4] = {1, 0, 0, 0}, blue[4] = {0, 0, 1, 1};
        std::memcpy(s.scene->clearColor, red, sizeof red);
        std::memcpy(s.scene->fogColor, blue, sizeof blue);
        s.scene->fogType = c.fogType;
        s.scene->fogEnd = 40.0f;
        s.scene->render(true, 0, 0.0); // fog takes the clear colour from the next frame on
        const auto log = renderLogged(s, c.clearTarget);
        const auto clears = callsNamed(log, "Clear");
        ASSERT_FALSE(clears.empty());
        EXPECT_EQ(clears[0].args[1], double(c.flags));
        EXPECT_EQ(clears[0].args[2], double(c.color));
        const auto fog = renderStateValues(log, D3DRS_FOGENABLE);
        ASSERT_FALSE(fog.empty());
        EXPECT_EQ(fog.back(), c.fogEnable);
        EXPECT_EQ(s.camera->farPlane, c.fogEnable ? 40.0f : std::numeric_limits<float>::max());
    }
}

TEST(ScenePasses, CameraChoiceAndBadCameras)
{
    BuiltScene s;
    REQUIRE_ENGINE(s);
    // No camera at all: cleared, not drawn, and the nesting count unwinds.
    s.scene->currentCamera = nullptr;
    auto log = renderLogged(s);
    EXPECT_EQ(callsNamed(log, "Clear").size(), 1u);
    EXPECT_TRUE(views(log).empty());
    EXPECT_EQ(renderDepth, 0);

    EXPECT_FALSE(setCurrentCamera(s.scene, -1));
    EXPECT_FALSE(setCurrentCamera(s.scene, 1));
    EXPECT_EQ(s.scene->currentCamera, nullptr);
    EXPECT_TRUE(setCurrentCamera(s.scene, 0));

    // The user camera, from the interaction's own scene, follows its cursor
    // from one frame to the next.
    Engine::SceneInteraction* in = s.engine->interaction;
    ASSERT_NE(in, nullptr);
    in->currentCamera = in->camera();
    log = renderLogged(s);
    ASSERT_FALSE(views(log).empty());
    const D3DMATRIX before = views(log)[0];
    BuiltScene::place(in->cursor(), 1.0f, 2.0f, -3.0f);
    log = renderLogged(s);
    in->currentCamera = nullptr;
    ASSERT_FALSE(views(log).empty());
    EXPECT_FALSE(equalMatrices(views(log)[0], before));

    // The light view shows light 0; without lights the camera stays.
    s.engine->debugLightView = 1;
    log = renderLogged(s);
    ASSERT_FALSE(views(log).empty());
    EXPECT_TRUE(equalMatrices(views(log)[0], s.spot->inverseWorld));
    s.scene->removeLight(1);
    s.scene->removeLight(0);
    log = renderLogged(s);
    ASSERT_FALSE(views(log).empty());
    EXPECT_TRUE(equalMatrices(views(log)[0], s.camera->inverseWorld));
}

TEST(ScenePasses, OpaqueFrontToBackThenTranslucent)
{
    struct Case {
        const char* name;
        u8 translucentBox, hiddenBox, showHidden;
        std::vector<int> order; // 0 floor, 1 box, 2 mirror, 3 sphere
    };
    const Case cases[] = {
        {"opaque by farthest corner, the mirror after", 0, 0, 0, {1, 3, 0, 2}},
        {"translucent back to front after every opaque", 1, 0, 0, {3, 0, 2, 1}},
        {"hidden is not drawn", 0, 1, 0, {3, 0, 2}},
        {"hidden drawn with the debug toggle", 0, 1, 1, {1, 3, 0, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BuiltScene s;
        REQUIRE_ENGINE(s);
        s.box->mesh->sortAfterOpaque = c.translucentBox;
        s.box->hidden = c.hiddenBox;
        s.engine->debugToggle2 = c.showHidden;
        const std::vector<Object*> all = {s.floor, s.box, s.mirror, s.sphere};
        const auto drawn = drawnObjects(renderLogged(s), all);
        std::vector<Object*> want;
        for (int i : c.order)
            want.push_back(all[size_t(i)]);
        EXPECT_EQ(drawn, want);
    }
}

TEST(ScenePasses, FixedFunctionEnablesTheEightStrongestLights)
{
    BuiltScene s;
    REQUIRE_ENGINE(s);
    // Point lights of intensity 0.05 .. 0.85 and one whose rank is NaN.
    for (int i = 0; i < 9; ++i) {
        Light* l = s.scene->addLight();
        l->lightType = 1;
        l->intensity.value = i == 8 ? std::numeric_limits<float>::quiet_NaN() : 0.05f + 0.1f * float(i);
        l->createResources();
    }
    s.floor->mesh->sortAfterOpaque = 0;
    const auto log = renderLogged(s);
    // Per object the lights switched on before its world transform.
    std::vector<std::vector<int>> perObject(1);
    for (const auto& call : log) {
        if (call.name == "SetTransform" && call.args[0] == double(D3DTS_WORLD))
            perObject.emplace_back();
        else if (call.name == "LightEnable" && call.args[1] != 0)
            perObject.back().push_back(int(call.args[0]));
    }
    perObject.pop_back();
    ASSERT_EQ(perObject.size(), 4u);
    // Spot 1.0, points .75 .65 .55 (lights 9 8 7), distant .5, points .45
    // .35 .25; the NaN light 10 never.
    const std::vector<int> want = {0, 9, 8, 7, 1, 6, 5, 4};
    for (const auto& enabled : perObject)
        EXPECT_EQ(enabled, want);
}

TEST(ScenePasses, AntiPortalsHideOnlyWhatLiesWhollyBehindThem)
{
    struct Case {
        const char* name;
        bool facing, nested, withMesh, withPolygon;
        bool boxDrawn;
    };
    const Case cases[] = {
        {"facing the camera", true, false, true, true, false},
        {"seen from behind", false, false, true, true, true},
        {"nested passes draw everything", true, true, true, true, true},
        {"no mesh", true, false, false, true, true},
        {"no polygon", true, false, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BuiltScene s;
        REQUIRE_ENGINE(s);
        std::vector<D3DVECTOR> quad = {{-1.5f, -2, 0}, {-1.5f, 2, 0}, {1.5f, 2, 0}, {1.5f, -2, 0}};
        if (!c.facing)
            std::reverse(quad.begin(), quad.end());
        std::vector<std::vector<u32>> polys;
        if (c.withPolygon)
            polys.push_back({0, 1, 2, 3});
        auto* portal = new AntiPortal(s.scene, i32(s.scene->objects.size()));
        if (c.withMesh) {
            portal->mesh = s.addMesh("AntiPortal.lwo", quad, polys);
            portal->mesh->prepare();
        }
        portal->hidden = 1;
        BuiltScene::place(portal, 0.0f, 0.5f, -2.0f);
        s.scene->objects.push_back(portal);
        s.scene->antiPortals.push_back(portal);
        const std::vector<Object*> all = {s.floor, s.box, s.mirror, s.sphere};
        if (c.nested)
            renderDepth = 1;
        const auto drawn = drawnObjects(renderLogged(s), all);
        renderDepth = 0;
        EXPECT_EQ(std::count(drawn.begin(), drawn.end(), s.box), c.boxDrawn ? 1 : 0);
        // The straddling floor and the objects beside the quad always draw.
        for (Object* o : {s.floor, s.mirror, s.sphere})
            EXPECT_EQ(std::count(drawn.begin(), drawn.end(), o), 1) << o->name.c_str();
    }
}

TEST(ScenePasses, BakePassRetiresItsLightsAndKeepsEarlierBakes)
{
    struct Case {
        const char* name;
        bool thisSceneBakes, otherSceneBakes;
        bool layerCleared;
    };
    const Case cases[] = {
        {"a baking scene clears and bakes", true, false, true},
        {"nothing bakes: the layer is still cleared once", false, false, true},
        {"another scene bakes: this one leaves the layer", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BuiltScene s;
        REQUIRE_ENGINE(s);
        auto* texture = new TargetTexture(s.engine.get(), "bake", 32, 32);
        s.meta->textures.push_back(texture);
        TextureLayer layer;
        layer.texture = texture;
        s.meta->renderTargetLayers.push_back(&layer);
        auto* other = new Scene(s.meta.get());
        s.meta->scenes.push_back(other);
        if (c.otherSceneBakes)
            other->addLight()->affectOpenGLOff = 1;
        Light* bake = nullptr;
        Light* after = nullptr;
        if (c.thisSceneBakes) {
            bake = s.scene->addLight();
            bake->affectOpenGLOff = 1;
            after = s.scene->addLight();
            s.floor->excludedLights = {2, 3};
            s.camera->target = bake; // still pointed at after the pass
        }
        const auto log = logged(s.device(), [&] { s.scene->prepareRender(); });
        const auto depths = callsNamed(log, "CreateDepthStencilSurface");
        ASSERT_EQ(depths.size(), c.layerCleared ? 1u : 0u);
        if (c.layerCleared) {
            EXPECT_EQ(depths[0].args[0], 32);
            EXPECT_EQ(depths[0].args[1], 32);
            const auto clears = callsNamed(log, "Clear");
            ASSERT_FALSE(clears.empty());
            EXPECT_EQ(clears.back().args[1], double(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL));
            // Fixed function: a white map that scales nothing, and no draw
            // from the light's view.
            EXPECT_EQ(clears.back().args[2], double(0xFFFFFFFFu));
        }
        EXPECT_EQ(*s.engine->switches->bake, 0);
        EXPECT_EQ(s.engine->shadowLightIndex, 0);
        if (c.thisSceneBakes) {
            EXPECT_TRUE(views(log).empty() || !equalMatrices(views(log).back(), bake->inverseWorld));
            EXPECT_EQ(std::count(s.scene->lights.begin(), s.scene->lights.end(), bake), 0);
            ASSERT_EQ(s.scene->lights.size(), 3u);
            EXPECT_EQ(after->index, 2);
            EXPECT_EQ(s.floor->excludedLights, std::vector<i32>{2});
            s.scene->render(true, 0, 0.0); // the camera's target is still alive
        }
    }
}

TEST(ScenePasses, NestedPassesStopShadowMapsBelowDepthTenAndNeverStepParticles)
{
    BuiltScene s(false);
    REQUIRE_ENGINE(s);
    auto shadowTargets = [&](int depthBefore, double t) {
        renderDepth = depthBefore;
        const auto log = logged(s.device(), [&] { s.scene->renderFrom(s.camera, 0, t); });
        renderDepth = 0;
        size_t n = 0;
        for (const auto& call : callsNamed(log, "Clear"))
            n += call.args[2] == double(0xFDFDFDFDu) || call.args[2] == double(0xFFFFFFFFu);
        return n;
    };
    const size_t outermost = shadowTargets(0, 1.0);
    EXPECT_GT(outermost, 0u); // the spot's map
    EXPECT_EQ(shadowTargets(10, 2.0), 0u);
    EXPECT_EQ(shadowTargets(9, 3.0), outermost);
    EXPECT_EQ(s.scene->lastParticleTime, 1.0);
}

TEST(ScenePasses, PickingTakesTheSmallestEnclosingBox)
{
    struct Case {
        const char* name;
        float x, y, z;
        int picked; // 0 box, 1 outer, -1 none
    };
    const Case cases[] = {
        {"inside both", 0.0f, 0.5f, 0.0f, 0},
        {"on the inner border", 0.5f, 1.0f, -0.5f, 0},
        {"inside the outer only", 1.2f, 0.5f, 0.0f, 1},
        {"in no box", 0.0f, 50.0f, 0.0f, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BuiltScene s;
        REQUIRE_ENGINE(s);
        Object* outer = s.addObject("outer.lwo", BuiltScene::cubePoints(1.5f), BuiltScene::cubeFaces());
        BuiltScene::place(outer, 0.0f, 0.5f, 0.0f);
        Engine::SceneInteraction* in = s.engine->interaction;
        ASSERT_NE(in, nullptr);
        in->active = 1;
        in->selected = in->ghost();
        BuiltScene::place(in->cursor(), c.x, c.y, c.z);
        s.scene->render(true, 0, 0.0);
        Object* want = c.picked == 0 ? s.box : c.picked == 1 ? outer : nullptr;
        EXPECT_EQ(in->selected, want ? want : in->ghost());
        EXPECT_EQ(in->ghost()->mesh, want ? want->mesh : nullptr);
        if (!want)
            continue;
        // Another scene's render shows no ghost; freeing the scene's
        // metascene forgets the pick.
        auto* other = new Scene(s.meta.get());
        s.meta->scenes.push_back(other);
        other->currentCamera = other->addCamera();
        other->render(true, 0, 0.0);
        EXPECT_EQ(in->ghost()->mesh, nullptr);
        s.engine->interactionTarget = other;
        s.meta.reset();
        EXPECT_EQ(in->selected, nullptr);
        EXPECT_EQ(s.engine->interactionTarget, nullptr);
        in->active = 0;
    }
}

TEST(ScenePasses, GhostIsDrawnOverThePickedObject)
{
    BuiltScene s;
    REQUIRE_ENGINE(s);
    ASSERT_TRUE(s.readyToDraw());
    s.mirror->hidden = s.sphere->hidden = 1;
    // Away from its parent's (the world's) origin, and off its pivot.
    BuiltScene::place(s.box, -1.5f, 0.5f, 0.0f);
    s.box->pivotPosition[0] = 0.5f;
    auto frame = [&] {
        s.device()->BeginScene();
        s.scene->render(true, 0, 0.0);
        s.device()->EndScene();
        return readBackBuffer(s.device());
    };
    // The columns and rows where two frames differ: {left, top, right, bottom}.
    const int width = int(s.engine->width);
    auto changed = [width](const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
        std::array<int, 4> r = {width, 1 << 20, -1, -1};
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
            if ((a[i] & 0xFFFFFF) != (b[i] & 0xFFFFFF)) {
                const int x = int(i) % width, y = int(i) / width;
                r = {std::min(r[0], x), std::min(r[1], y), std::max(r[2], x), std::max(r[3], y)};
            }
        return r;
    };
    const auto withBox = frame();
    s.box->hidden = 1;
    const auto box = changed(withBox, frame());
    s.box->hidden = 0;
    Engine::SceneInteraction* in = s.engine->interaction;
    in->active = 1;
    const auto plain = frame();
    in->selected = s.box;
    const auto ghost = changed(plain, frame());
    in->active = 0;
    in->selected = nullptr;
    // The ghost's lines fall on the box, give or take a pixel at its edge.
    ASSERT_GE(ghost[2], 0);
    EXPECT_GE(ghost[0], box[0] - 1);
    EXPECT_GE(ghost[1], box[1] - 1);
    EXPECT_LE(ghost[2], box[2] + 1);
    EXPECT_LE(ghost[3], box[3] + 1);
}

TEST(ScenePasses, FlarePointsWidenTheFittedDepthRange)
{
    // Seen level from (0, 2, -6): the floor's near edge lies 1 ahead, and
    // nothing drawn lies more than 11 away.
    struct Case {
        const char* name;
        float z;
    };
    const Case cases[] = {{"far behind every object", 60.0f}, {"before the nearest object", -5.5f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BuiltScene s;
        REQUIRE_ENGINE(s);
        s.camera->channels[kPitch].value = 0.0f;
        Light* light = s.scene->addLight();
        light->lightType = 1;
        BuiltScene::place(light, 0.0f, 2.0f, c.z);
        light->flareIntensity.value = 1.0f;
        light->flare = light->createFlare();
        s.device()->BeginScene();
        s.scene->render(true, 0, 0.0);
        s.device()->EndScene();
        EXPECT_EQ(light->flare->visible, 1);
    }
}

TEST(ScenePasses, SecondPassFromOneNodeFitsTheSameRange)
{
    BuiltScene s;
    REQUIRE_ENGINE(s);
    s.scene->drawObjects(s.camera, 0, 0.0);
    const float nearest = s.camera->drawnNear, farthest = s.camera->drawnFar;
    s.scene->drawObjects(s.camera, 0, 0.0);
    EXPECT_EQ(s.camera->drawnNear, nearest);
    EXPECT_EQ(s.camera->drawnFar, farthest);
}

TEST(ScenePasses, StereoEyesLandInTheirOwnBackBuffers)
{
    BuiltScene s(false, true);
    REQUIRE_ENGINE(s);
    if (s.engine->deviceCount < 2)
        GTEST_SKIP() << "one device only";
    ASSERT_TRUE(s.readyToDraw());
    s.distant->intensity.value = 0.0f; // the spot alone lights the floor

    // Each eye on its own device, with a clear colour of its own; the
    // shadow maps were made on the first device.
    const float colours[2][4] = {{1, 0, 0, 1}, {0, 0, 1, 1}};
    auto frames = [&](i32 shadowType) {
        s.spot->shadowType = shadowType;
        std::vector<std::vector<uint32_t>> out;
        for (int eye = 0; eye < 2; ++eye) {
            s.engine->currentIndex = eye;
            s.engine->currentDevice = s.engine->devices[eye];
            s.engine->stereoEye = eye;
            std::memcpy(s.scene->clearColor, colours[eye], sizeof colours[eye]);
            s.engine->currentDevice->BeginScene();
            s.scene->render(true, 0, 0.0);
            s.engine->currentDevice->EndScene();
        }
        for (int eye = 0; eye < 2; ++eye)
            out.push_back(readBackBuffer(s.engine->devices[eye]));
        s.engine->currentIndex = 0;
        s.engine->currentDevice = s.engine->devices[0];
        s.engine->stereoEye = -1;
        return out;
    };
    const auto lit = frames(0);
    const auto shadowed = frames(2);
    for (int eye = 0; eye < 2; ++eye) {
        SCOPED_TRACE(eye);
        ASSERT_EQ(lit[eye].size(), shadowed[eye].size());
        ASSERT_FALSE(lit[eye].empty());
        // The top row is sky: this eye's clear colour, not the other's.
        EXPECT_EQ(lit[eye][0] & 0xFFFFFF, eye == 0 ? 0xFF0000u : 0x0000FFu);
        // The box's shadow darkens floor pixels in both eyes.
        int darker = 0;
        for (size_t i = 0; i < lit[eye].size(); ++i)
            darker += int((lit[eye][i] >> 8) & 0xFF) - int((shadowed[eye][i] >> 8) & 0xFF) > 40;
        EXPECT_GT(darker, 0);
    }
}

TEST(ScenePasses, ShadowFallsWhereverTheLightsDepthRangeBegins)
{
    // Inside a room the walls' box reaches behind the light, so its depth
    // range starts at the near plane: the shadow must still fall.
    struct Case {
        const char* name;
        bool room;
    };
    for (const Case& c : {Case{"light above everything", false}, Case{"light inside a room", true}}) {
        SCOPED_TRACE(c.name);
        BuiltScene s(false);
        REQUIRE_ENGINE(s);
        if (c.room) {
            std::vector<D3DVECTOR> points = BuiltScene::cubePoints(8.0f);
            for (D3DVECTOR& p : points)
                p.y += 8.0f;
            std::vector<std::vector<u32>> walls = BuiltScene::cubeFaces();
            walls.erase(walls.begin() + 2, walls.begin() + 4); // no floor or ceiling
            for (auto& w : walls)
                std::reverse(w.begin(), w.end()); // seen from inside
            s.addObject("room.lwo", points, walls)->mesh->prepare();
        }
        ASSERT_TRUE(s.readyToDraw());
        s.distant->intensity.value = 0.0f; // the spot alone lights the floor
        auto frame = [&](i32 shadowType) {
            s.spot->shadowType = shadowType;
            s.device()->BeginScene();
            s.scene->render(true, 0, 0.0);
            s.device()->EndScene();
            return readBackBuffer(s.device());
        };
        const auto lit = frame(0);
        const auto shadowed = frame(2);
        int darker = 0;
        for (size_t i = 0; i < lit.size() && i < shadowed.size(); ++i)
            darker += int((lit[i] >> 8) & 0xFF) - int((shadowed[i] >> 8) & 0xFF) > 40;
        EXPECT_GT(darker, 0);
    }
}

TEST(ScenePasses, OwnTargetViewportAndRestore)
{
    struct Case {
        const char* name;
        bool anySize;
        DWORD width, height;
    };
    const Case cases[] = {
        {"any texture size: the output's", true, 64, 48},
        {"powers of two only: 512 x 512", false, 512, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BuiltScene s;
        REQUIRE_ENGINE(s);
        if (c.anySize)
            s.engine->caps.TextureCaps |= D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
        else
            s.engine->caps.TextureCaps &= ~DWORD(D3DPTEXTURECAPS_NONPOW2CONDITIONAL);
        TargetTexture target(s.engine.get(), "rt", 512, 512);
        s.scene->targetSurface = target.surfaceLevel0();
        ASSERT_NE(s.scene->targetSurface, nullptr);
        s.device()->CreateDepthStencilSurface(512, 512, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE,
                                              &s.scene->targetDepth, nullptr);
        const auto log = renderLogged(s);
        const auto viewports = callsNamed(log, "SetViewport");
        ASSERT_FALSE(viewports.empty());
        D3DVIEWPORT9 v{};
        ASSERT_EQ(viewports[0].data.size(), sizeof v);
        std::memcpy(&v, viewports[0].data.data(), sizeof v);
        EXPECT_EQ(v.Width, c.width);
        EXPECT_EQ(v.Height, c.height);
        IDirect3DSurface9* now = nullptr;
        s.device()->GetRenderTarget(0, &now);
        EXPECT_EQ(now, s.engine->backBuffer);
        if (now)
            now->Release();
        s.scene->targetSurface->Release();
        s.scene->targetDepth->Release();
        s.scene->targetSurface = s.scene->targetDepth = nullptr;
    }
}

TEST(ScenePasses, DegenerateInputsStayFinite)
{
    // An empty pass: the camera looks away from everything.
    BuiltScene s(false);
    REQUIRE_ENGINE(s);
    s.camera->channels[kHeading].value = kPi;
    s.camera->channels[kPitch].value = 0.0f;
    s.scene->render(true, 0, 0.0);
    // Not the inverted range of nothing drawn: the shadow fit reads it.
    EXPECT_LE(s.camera->drawnNear, s.camera->drawnFar);
    EXPECT_TRUE(std::isfinite(s.camera->projection._33) && std::isfinite(s.camera->projection._43));

    // The shadow light index past the lights: nothing receives a shadow.
    s.scene->removeLight(1);
    s.scene->removeLight(0);
    s.engine->shadowLightIndex = 3;
    *s.engine->switches->numShadows = 1;
    s.scene->setupSurfaces(*s.box, 0, 0.0);
    EXPECT_EQ(*s.engine->switches->numShadows, 0);
    EXPECT_EQ(BuiltScene::surfaceOf(s.box)->spotLight(), nullptr);
    s.engine->shadowLightIndex = 0;
}

TEST(ScenePasses, AReceivingSurfaceSamplesTheDepthMapElseTheColourMap)
{
    BuiltScene s(false);
    REQUIRE_ENGINE(s);
    s.scene->render(true, 0, 0.0); // the spot light makes its targets
    s.scene->setupSurfaces(*s.box, 0, 0.0);
    const SpotLightSource* source = BuiltScene::surfaceOf(s.box)->spotLight();
    ASSERT_EQ(source, s.spot);
    ASSERT_NE(s.spot->shadowColorTexture, nullptr);
    EXPECT_NE(s.spot->spotTexture, nullptr);
    EXPECT_EQ(source->spotProjectedTexture(), s.spot->spotTexture);
    // Without a depth texture format the map keeps a colour target; with
    // one (a stand-in here, released by the light) the depth map is taken.
    IDirect3DTexture9*& depth = s.spot->shadowDepthTexture;
    if (depth) {
        depth->Release();
        depth = nullptr;
    }
    EXPECT_EQ(source->spotShadowMap(), s.spot->shadowColorTexture);
    ASSERT_TRUE(SUCCEEDED(s.device()->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &depth, nullptr)));
    EXPECT_EQ(source->spotShadowMap(), depth);
}

TEST(ScenePasses, PartigonFailsNoCheckAndLeavesTheDepthRangeAlone)
{
    // A partigon far behind the floor: it draws nothing, so the fitted range
    // (particles draw with it) must not move to it; its box keeps the
    // object pass's checks quiet.
    BuiltScene s(false);
    REQUIRE_ENGINE(s);
    texturetest::Diagnostics checks(3);
    s.scene->render(true, 0, 0.0);
    const float nearest = s.camera->drawnNear, farthest = s.camera->drawnFar;
    auto* record = new LWObject(s.meta.get(), "partigon.lwo");
    s.meta->lwObjects.push_back(record);
    record->layers.push_back(new PartigonMesh(s.engine.get(), record));
    BuiltScene::place(s.scene->addMeshObject("partigon.lwo", record->layers[0]), 0.0f, 2.0f, 30.0f);
    s.scene->render(true, 0, 0.0);
    EXPECT_EQ(s.camera->drawnNear, nearest);
    EXPECT_EQ(s.camera->drawnFar, farthest);
    EXPECT_TRUE(platform::recordedMessageBoxes().empty()) << platform::recordedMessageBoxes()[0].text;
}

TEST(ScenePasses, BakeLightsTheLightmapTexels)
{
    BuiltScene s(false);
    REQUIRE_ENGINE(s);
    const char* data = std::getenv("QUILLON_TEST_DATA");
    FileStream fx((std::string(data ? data : "tests/data") + "/../../content/fx/").c_str());
    ASSERT_TRUE(s.engine->loadEffects(&fx));
    // A second floor whose diffuse layer maps it onto a 32 x 32 target.
    PolyMesh* mesh = s.addMesh("lightmap.lwo", {{-5, 0, -5}, {-5, 0, 5}, {5, 0, 5}, {5, 0, -5}}, {{0, 1, 2, 3}});
    Surface* surface = mesh->object->tags[0];
    surface->loaded = 1;
    auto* texture = new TargetTexture(s.engine.get(), "lightmap", 32, 32);
    s.meta->textures.push_back(texture);
    auto* map = new UVMap;
    map->u = {0, 0, 1, 1};
    map->v = {1, 0, 0, 1};
    auto layer = std::make_unique<TextureLayer>();
    layer->channel = channelDIFF;
    layer->texture = texture;
    layer->projection = TextureLayer::projectionUV;
    layer->pixelBlending = 0;
    layer->setUVMap(0, map);
    ASSERT_TRUE(surface->addLayer(std::move(layer)));
    surface->bakeLayer = surface->layers.back().get();
    s.meta->renderTargetLayers.push_back(surface->bakeLayer);
    s.scene->addMeshObject("lightmap.lwo", mesh);

    Light* bake = s.scene->addLight();
    bake->lightType = 1;
    bake->affectOpenGLOff = 1;
    bake->red.value = bake->green.value = bake->blue.value = bake->intensity.value = 1.0f;
    BuiltScene::place(bake, 0.0f, 3.0f, 0.0f);
    bake->channels[kPitch].value = kPi / 2; // the pass is drawn looking down
    bake->createResources();

    s.scene->prepareRender();
    EXPECT_EQ(std::count(s.scene->lights.begin(), s.scene->lights.end(), bake), 0);
    IDirect3DSurface9* target = texture->surfaceLevel0();
    ASSERT_NE(target, nullptr);
    const auto texels = readTarget(s.device(), target);
    target->Release();
    ASSERT_EQ(texels.size(), 32u * 32u);
    // Under the light the floor faces it; towards the corners it turns away.
    const int centre = int((texels[16 * 32 + 16] >> 8) & 0xFF);
    const int corner = int((texels[1 * 32 + 1] >> 8) & 0xFF);
    EXPECT_GT(centre, 200);
    EXPECT_GT(corner, 20);
    EXPECT_LT(corner, centre);
}

TEST(ScenePasses, CylindricalProjectionOnlyOnTheShaderPathAboveTheThreshold)
{
    struct Case {
        bool fixedFunction;
        float angle;
        i32 cylindrical;
    };
    const Case cases[] = {{false, 0.0001f, 0}, {false, 90.0f, 1}, {true, 90.0f, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fixedFunction << " " << c.angle);
        BuiltScene s(c.fixedFunction);
        REQUIRE_ENGINE(s);
        s.engine->cylindricalAngle = c.angle;
        s.scene->render(true, 0, 0.0);
        EXPECT_EQ(*s.engine->switches->isCylindricalViewer, c.cylindrical);
        if (c.cylindrical) {
            EXPECT_FLOAT_EQ(*s.engine->uniforms->cylindricalScale, 1.0f / (c.angle * std::numbers::pi_v<float> / 360.0f));
        }
    }
}
