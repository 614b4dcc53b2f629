// Plug-in blocks of scene files: which field each value fills, the
// HyperVoxel objects and their texture layers, and damaged blocks.
#include "lws_test_support.h"

#include "../cost_test_support.h"
#include "../log_test_support.h"
#include "foundation/envelope.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"
#include "scene/hv_object.h"
#include "scene/object.h"
#include "scene/particle_fx.h"
#include "scene/scene_test_support.h"
#include "tools/mkcontent/lws_plugin_blocks.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace lwstest;
using namespace mkcontent;

namespace {

struct Loaded : scenetest::SceneFixture {
    explicit Loaded(const std::string& text, MemoryStream* files = nullptr)
    {
        if (scene)
            loaded = loadText(*scene, text, files);
    }
    Object* object(const char* name) { return scene->findItem(name); }
    bool loaded = false;
};

FXEmitter* emitterAt(Scene& s, size_t i)
{
    return i < s.fxEmitter.size() ? s.fxEmitter[i]->asEmitter() : nullptr;
}

TEST(LwsPlugins, ValuesFillTheirFields)
{
    LwsParticleEmitter e;
    const double g[3] = {1, 2, 3}, v[3] = {4, 5, 6}, a[3] = {8, 9, 10};
    std::copy(g, g + 3, e.generatorSize), std::copy(v, v + 3, e.velocity), std::copy(a, a + 3, e.acceleration);
    e.count = 77, e.motionFactor = 7, e.birthRate = 11, e.placement = 0, e.birthUnit = 3;
    e.lifeFrames = 60, e.spreadFrames = 30, e.radialSpeed = 12, e.birthMode = 2;
    e.extra0Base = 13, e.extra1Base = 14, e.extra0Spread = 15, e.extra1Spread = 16, e.extra2Base = 17;
    e.extra2Spread = 18, e.speedLimit = 19;
    LwsParticleForce gravity{3, 2, 5, 1, 0, {1, 2, 3}, false};
    LwsParticleForce wind{4, 6, 7, 10, 3, {4, 5, 6}, false};
    LwsParticleCollision collision{5, 8, 0.5, 0, 1, 0.25};
    Loaded l(lws("AddNullObject E\n" + lwsEmitterPlugin(e) + lwsGravityPlugin(gravity) + lwsWindPlugin(wind) +
                 lwsCollisionPlugin(collision)));
    REQUIRE_ENGINE(l.engine);
    ASSERT_TRUE(l.loaded);
    ASSERT_EQ(l.scene->fxEmitter.size(), 1u);
    ASSERT_EQ(l.scene->fxEffector.size(), 3u);
    FXEmitter& x = *emitterAt(*l.scene, 0);
    EXPECT_EQ(x.node, l.object("E"));
    const float got[] = {x.generatorSize[0], x.generatorSize[1], x.generatorSize[2], float(x.particleCount),
                         x.velocity[0].value, x.velocity[1].value, x.velocity[2].value, x.motionFactor,
                         x.acceleration[0], x.acceleration[1], x.acceleration[2], x.birthRate.value,
                         float(x.placement), float(x.birthUnit), x.lifeTime.value, x.lifeSpread.value,
                         x.radialSpeed.value, float(x.birthMode), x.extra0Base.value, x.extra1Base.value,
                         x.extra0Spread.value, x.extra1Spread.value, x.extra2Base.value, x.extra2Spread.value,
                         x.speedLimit, float(x.group)};
    const float want[] = {1, 2, 3, 77, 4, 5, 6, 7, 8, 9, 10, 11, 0, 3, 2, 1, 12, 2, 13, 14, 15, 16, 17, 18, 19, 0};
    for (size_t i = 0; i < std::size(want); ++i)
        EXPECT_FLOAT_EQ(got[i], want[i]) << "emitter value " << i;

    auto* gr = dynamic_cast<FXGravity*>(l.scene->fxEffector[0]);
    auto* wi = dynamic_cast<FXWind*>(l.scene->fxEffector[1]);
    auto* co = dynamic_cast<FXCollision*>(l.scene->fxEffector[2]);
    ASSERT_TRUE(gr && wi && co);
    EXPECT_EQ((std::vector<float>{float(gr->group), gr->range.value, gr->strength.value, float(gr->mode),
                                  float(gr->falloff), gr->direction[0], gr->direction[1], gr->direction[2]}),
              (std::vector<float>{3, 2, 5, 1, 0, 1, 2, 3}));
    EXPECT_EQ((std::vector<float>{float(wi->group), wi->range.value, wi->strength.value, float(wi->mode),
                                  float(wi->falloff), wi->direction[0].value, wi->direction[1].value,
                                  wi->direction[2].value, wi->spare[0]}),
              (std::vector<float>{4, 6, 7, 10, 3, 4, 5, 6, 0.5f}));
    EXPECT_EQ((std::vector<float>{float(co->group), co->radius.value, co->bounce.value, float(co->type),
                                  float(co->flag), co->jitter, float(co->disabled)}),
              (std::vector<float>{5, 8, 0.5f, 0, 1, 0.25f, 0}));
}

TEST(LwsPlugins, EveryBlockOfTheContentScene)
{
    testsupport::LevelGuard level;
    diagnosticsLevel = 1;
    platform::clearRecordedMessageBoxes();
    MemoryStream files;
    Loaded l(lwsPluginScene(), &files);
    REQUIRE_ENGINE(l.engine);
    ASSERT_TRUE(l.loaded);
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    // Two emitters; gravity, one wind (the disabled one dropped) and the collision.
    ASSERT_EQ(l.scene->fxEmitter.size(), 2u);
    EXPECT_EQ(l.scene->fxEffector.size(), 3u);
    FXEmitter* smoke = emitterAt(*l.scene, 1);
    ASSERT_NE(smoke->birthRate.source, nullptr);
    EXPECT_NEAR(smoke->birthRate.valueAt(1.0), 100.0f, 1e-4);
    EXPECT_EQ(emitterAt(*l.scene, 0)->birthRate.source, nullptr);

    auto* sprite = dynamic_cast<HVSprite*>(l.object("Emitter")->hvObject);
    ASSERT_NE(sprite, nullptr);
    EXPECT_NE(dynamic_cast<HVVolume*>(l.object("Smoke")->hvObject), nullptr);
    EXPECT_EQ((std::vector<float>{sprite->particleSize.value, sprite->luminosity.value, sprite->opacity.value,
                                  sprite->density.value, sprite->color[0].value, sprite->color[1].value,
                                  sprite->color[2].value, float(sprite->sliceCount), float(sprite->useAllLights)}),
              (std::vector<float>{0.05f, 1, 0.8f, 1, 1, 0.6f, 0.2f, 8, 1}));
    ASSERT_EQ(sprite->textureLayers.size(), 1u);
    const TextureLayer& layer = *sprite->textureLayers[0];
    EXPECT_EQ(layer.blockType, iffId("IMAP"));
    ASSERT_NE(layer.texture, nullptr);
    EXPECT_STREQ(layer.texture->name.c_str(), "images/spark_nodxt.tga");
    EXPECT_EQ(layer.texture->flags, 2u);
    EXPECT_EQ(layer.projection, 5);
    EXPECT_EQ((std::vector<float>{layer.wrapAmountWidth, layer.wrapAmountHeight, layer.antialiasingStrength,
                                  float(layer.pixelBlending), float(layer.enabled)}),
              (std::vector<float>{2, 3, 0.5f, 0, 1}));
}

// HyperVoxel items find their objects through an index, in one block after them
// all or in a block after each (an object added in between costs no rebuild).
TEST(LwsPlugins, ManyHyperVoxelItemsLoadInLinearTime)
{
    testsupport::LevelGuard level;
    diagnosticsLevel = 0;
    const auto block = [](int i, int type) { // type 0 makes nothing, 2 a sprite
        return "Plugin VolumetricHandler 1 HyperVoxelsFilter\n{ HyperVoxelData\n{ HVObject\nHVFlags o" +
               std::to_string(i) + " 0 0 0 " + std::to_string(type) + " 0 0 0 0\n}\n}\nEndPlugin\n";
    };
    for (const bool interleaved : {false, true}) {
        const int n = interleaved ? 20000 : 60000;
        std::string body;
        for (int i = 0; i < n; ++i) {
            body += "AddNullObject o" + std::to_string(i) + "\n";
            if (interleaved) // each names the object before it
                body += block(i - 1, 0);
        }
        body += block(n - 1, 2);
        const double start = testsupport::processorSeconds();
        Scene scene(nullptr);
        ASSERT_TRUE(loadText(scene, lws(body)));
        EXPECT_LT(testsupport::processorSeconds() - start, 2.0) << interleaved;
        ASSERT_EQ(scene.objects.size(), size_t(n));
        EXPECT_NE(scene.objects.back()->hvObject, nullptr);
        EXPECT_EQ(scene.objects.front()->hvObject, nullptr);
    }
}

TEST(LwsPlugins, WrapOptionsFollowTheDevice)
{
    struct Case {
        DWORD caps;
        int width, height, projection;
        i32 wantWidth, wantHeight;
    };
    const DWORD all = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                      D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV;
    const Case cases[] = {
        {all, 2, 3, 5, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP},
        {all, 0, 1, 5, D3DTADDRESS_BORDER, D3DTADDRESS_WRAP},
        {D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_INDEPENDENTUV, 0, 2, 5, D3DTADDRESS_CLAMP, D3DTADDRESS_WRAP},
        {D3DPTADDRESSCAPS_CLAMP, 1, 3, 5, D3DTADDRESS_CLAMP, D3DTADDRESS_CLAMP},
        {all, 3, 3, 2, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP},
        {all, 3, 3, 1, D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP},
        {all, 9, -4, 5, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP},
    };
    for (const Case& c : cases) {
        LwsHyperVoxel hv;
        hv.object = "E";
        hv.textures.push_back({"", 0, c.projection, c.width, c.height});
        scenetest::SceneFixture f;
        REQUIRE_ENGINE(f.engine);
        f.engine->caps.TextureAddressCaps = c.caps;
        ASSERT_TRUE(loadText(*f.scene, lws("AddNullObject E\n" + lwsHyperVoxelPlugin({hv}))));
        const TextureLayer& layer = *f.scene->findItem("E")->hvObject->textureLayers.at(0);
        EXPECT_EQ(layer.wrapModeWidth, c.wantWidth) << c.caps << " " << c.width;
        EXPECT_EQ(layer.wrapModeHeight, c.wantHeight) << c.caps << " " << c.height;
    }
}

TEST(LwsPlugins, HyperVoxelObjectsReplaceAndReuse)
{
    testsupport::LevelGuard level;
    diagnosticsLevel = 1;
    platform::clearRecordedMessageBoxes();
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    // An image the metascene holds already is reused and gains flag 2.
    auto* held = new ImageTexture(f.engine.get());
    held->name = "a_nodxt.tga";
    held->flags = 1;
    f.meta->textures.push_back(held);
    LwsHyperVoxel first, second, unknown, cleared;
    first.object = second.object = cleared.object = "E";
    unknown.object = "U";
    first.type = 1;
    second.textures.push_back({"a_nodxt.tga", 3, 5, 1, 1});
    unknown.type = 7;
    cleared.useAllLights = false;
    ASSERT_TRUE(loadText(*f.scene, lws("AddNullObject E\nAddNullObject U\n" +
                                       lwsHyperVoxelPlugin({first, second, unknown}))));
    HVObject* hv = f.scene->findItem("E")->hvObject;
    ASSERT_NE(dynamic_cast<HVSprite*>(hv), nullptr);
    EXPECT_EQ(hv->textureLayers.at(0)->texture, held);
    EXPECT_EQ(held->flags, 3u);
    EXPECT_EQ(hv->textureLayers.at(0)->opacityType, 3);
    EXPECT_EQ(f.meta->textures.size(), 1u);
    EXPECT_EQ(f.scene->findItem("U")->hvObject, nullptr);
    ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
    EXPECT_EQ(platform::recordedMessageBoxes()[0].text, "unknown hypervoxel type");

    scenetest::SceneFixture g;
    ASSERT_TRUE(loadText(*g.scene, lws("AddNullObject E\n" + lwsHyperVoxelPlugin({cleared}))));
    EXPECT_EQ(g.scene->findItem("E")->hvObject->useAllLights, 0);
}

TEST(LwsPlugins, UnknownPluginsLeaveTheirDataToTheMainPass)
{
    // Without "EndPlugin" the items after an unknown block still load.
    for (const char* block : {"Plugin ImageFilterHandler 1 Bloom 0.5\n", "Plugin CustomObjHandler 2 Sparks 3\n",
                              "Plugin DisplacementHandler 3 Twist\n"}) {
        Scene scene(nullptr);
        ASSERT_TRUE(loadText(scene, lws(std::string("AddNullObject A\n") + block + "AddNullObject B\n")));
        ASSERT_EQ(scene.objects.size(), 2u);
        EXPECT_STREQ(scene.objects[1]->name.c_str(), "B") << block;
    }
}

TEST(LwsPlugins, DamagedBlocksEndCleanly)
{
    testsupport::LevelGuard level;
    diagnosticsLevel = 0;
    LwsParticleEmitter e;
    const std::string emitter = lwsEmitterPlugin(e);
    auto withCount = [](const char* count) {
        LwsParticleEmitter c;
        std::string text = lwsEmitterPlugin(c);
        const size_t at = text.find(" 1000 ");
        return text.replace(at + 1, 4, count);
    };
    auto withRate = [](const char* rate) {
        LwsParticleEmitter c;
        c.birthRate = 12345;
        std::string text = lwsEmitterPlugin(c);
        return text.replace(text.find("12345"), 5, rate);
    };
    LwsHyperVoxel slices;
    slices.object = "E";
    struct Case {
        const char* name;
        std::string body;
        size_t emitters;
        i32 count; // of the first emitter, when there is one; -1: any
    };
    slices.slices = 1000;
    const std::string manySlices = lwsHyperVoxelPlugin({slices});
    slices.slices = 0;
    const Case cases[] = {
        {"before any object", emitter + "AddNullObject E\n", 0, 0},
        {"count 0", "AddNullObject E\n" + withCount("0"), 1, 0},
        {"count -1", "AddNullObject E\n" + withCount("-1"), 1, 0},
        {"count 10^9", "AddNullObject E\n" + withCount("1000000000"), 1, 10000},
        {"huge rate", "AddNullObject E\n" + withRate("1e300"), 1, 1000},
        {"rate not a number", "AddNullObject E\n" + withRate("many"), 1, 1000},
        {"1000 slices", "AddNullObject E\n" + manySlices, 0, 0},
        {"0 slices", "AddNullObject E\n" + lwsHyperVoxelPlugin({slices}), 0, 0},
        {"no EndPlugin", "AddNullObject E\n" + emitter.substr(0, emitter.find("EndPlugin")), 1, 1000},
        {"truncated", "AddNullObject E\n" + emitter.substr(0, emitter.size() / 2), 1, -1},
        {"HyperVoxels without braces", "AddNullObject E\nPlugin VolumetricHandler 1 H HyperVoxelData HVObject "
                                       "HVFlags E 0 0 0 2 0 0 0 0 HVChannels Slices",
         0, 0},
        {"mixer without braces", "AddNullObject E\nPlugin MasterHandler 1 MotionMixer Actor AddActor", 0, 0},
    };
    for (const Case& c : cases) {
        Scene scene(nullptr);
        EXPECT_TRUE(loadText(scene, lws(c.body))) << c.name;
        ASSERT_EQ(scene.fxEmitter.size(), c.emitters) << c.name;
        if (c.emitters && c.count >= 0) {
            EXPECT_EQ(scene.fxEmitter[0]->asEmitter()->particleCount, c.count) << c.name;
        }
        for (ParticleFX* fx : scene.fxEmitter)
            if (FXEmitter* x = fx->asEmitter())
                for (int step = 1; step <= 3; ++step)
                    x->emitParticles(step * 1.0e6, 1.0e6); // no overflow, no overrun
    }
    // Every prefix of the full scene.
    const std::string text = lwsPluginScene();
    for (size_t cut = 0; cut < text.size(); cut += 53) {
        Scene scene(nullptr);
        loadText(scene, text.substr(0, cut));
    }
}

} // namespace
