#include "lightwave/meta_scene.h"

#include "demo/demo.h"
#include "foundation/script_tokenizer.h"
#include "lightwave/lw_object.h"
#include "lwo2_test_support.h"
#include "materials/generated_textures.h"
#include "materials/surface.h"
#include "tools/mkcontent/content.h"
#include "tools/mkcontent/lws_emitter.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace lwo2test;
using platform::d3d9::DeviceCall;
using scenetest::callsNamed;

namespace {

// An engine whose device has four texture stages, and an empty metascene.
struct FourStages {
    texturetest::TestEngine engine{false, profile()};
    std::unique_ptr<MetaScene> meta;

    FourStages()
    {
        if (engine)
            meta = std::make_unique<MetaScene>(engine.get(), "four.mts");
    }
    ~FourStages() { meta.reset(); }
    static platform::AdapterProfile profile()
    {
        auto p = platform::defaultAdapterProfile();
        p.caps.MaxTextureBlendStages = 4;
        p.caps.MaxSimultaneousTextures = 4;
        return p;
    }
    IDirect3DDevice9* device() const { return engine->currentDevice; }
    Scene* addScene(const char* name, bool active)
    {
        auto* scene = new Scene(meta.get());
        scene->name = new char[std::strlen(name) + 1];
        std::strcpy(scene->name, name);
        scene->active = active ? 1 : 0;
        meta->scenes.push_back(scene);
        return scene;
    }
    std::vector<DeviceCall> trace(const std::function<void()>& run)
    {
        platform::d3d9::setCallLogging(device(), true);
        run();
        auto log = platform::d3d9::takeCallLog(device());
        platform::d3d9::setCallLogging(device(), false);
        return log;
    }
};

} // namespace

TEST(MetaScene, MetascriptEntries)
{
    struct Case {
        const char* text;
        std::vector<std::string> entries;
    } cases[] = {
        {"intro.lws\nhall.lws\nfx.lws\n", {"intro.lws", "hall.lws", "fx.lws"}},
        {"intro.lws second\n", {"intro.lws"}},
        {"a.lws b c.lws\n", {"a.lws", "c.lws"}},
        {"; a comment\n\"with space.lws\" x\r\nlast.lws", {"with space.lws", "last.lws"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        MemoryStream files;
        files.files["m.mts"] = c.text;
        ScriptTokenizer script(&files);
        ASSERT_TRUE(script.load("m.mts"));
        std::vector<std::string> got;
        for (const String& entry : MetaScene::metascriptEntries(script))
            got.emplace_back(entry.c_str());
        EXPECT_EQ(got, c.entries) << c.text;
    }
}

TEST(MetaScene, FailedMetascriptIsFreed)
{
    FourStages f;
    REQUIRE_ENGINE(f.engine);
    MemoryStream files;
    files.files["empty.mts"] = "; nothing\n";
    files.files["one.mts"] = "missing.lws\n";
    MetaScene* empty = MetaScene::loadMetascript("empty.mts", f.engine.get(), &files, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->scenes.empty());
    EXPECT_STREQ(empty->name.c_str(), "empty.mts");
    delete empty;

    EXPECT_EQ(MetaScene::loadMetascript("absent.mts", f.engine.get(), &files, nullptr), nullptr);
    const auto from = texturetest::logPosition();
    EXPECT_EQ(MetaScene::loadMetascript("one.mts", f.engine.get(), &files, nullptr), nullptr);
    EXPECT_EQ(texturetest::logLinesFrom(from), std::vector<std::string>{"File not found!"});
}

TEST(MetaScene, Lookups)
{
    FourStages f;
    REQUIRE_ENGINE(f.engine);
    Scene* intro = f.addScene("Intro2.lws", false);
    Scene* hall = f.addScene("hall.lws", false);
    const struct {
        const char* name;
        Scene* found;
    } scenes[] = {{"intro", intro}, {"", intro}, {"HALL", hall}, {"hall.lws", hall}, {"hall.lwsx", nullptr}, {"x", nullptr}};
    for (const auto& c : scenes)
        EXPECT_EQ(f.meta->findScene(c.name), c.found) << c.name;

    auto* texture = new TargetTexture(f.engine.get(), "pics/shared.jpg", 16, 16);
    f.meta->textures.push_back(texture);
    const u32 before = texture->flags;
    EXPECT_EQ(f.meta->findTexture("pics/shared.jpeg", 0x40), nullptr);
    EXPECT_EQ(texture->flags, before); // a miss changes nothing
    // As the archive finds a file: letter case and the kind of slash aside.
    EXPECT_EQ(f.meta->findTexture("PICS\\Shared.jpg", 0x40), texture);
    EXPECT_EQ(texture->flags, before | 0x40);

    // 60,000 names, each looked up as it is added (as clips are read): an
    // index, not a walk along the textures. The first of a name is found.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 60000; ++i) {
        const std::string name = "frame" + std::to_string(i) + ".png";
        ASSERT_EQ(f.meta->findTexture(name.c_str(), 0), nullptr);
        f.meta->textures.push_back(new TargetTexture(f.engine.get(), 0u));
        f.meta->textures.back()->name = name.c_str();
    }
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0);
    auto* twin = new TargetTexture(f.engine.get(), 0u);
    twin->name = "PICS/SHARED.JPG";
    f.meta->textures.push_back(twin);
    EXPECT_EQ(f.meta->findTexture("pics/shared.jpg", 0), texture);
    EXPECT_EQ(f.meta->findTexture("frame59999.png", 0), f.meta->textures[f.meta->textures.size() - 2]);

    // Surfaces likewise, few or many: exact names, the first of a name,
    // also after more were added since the last look-up.
    auto* paint = new Surface(f.meta.get(), "box.lwo@Paint");
    f.meta->surfaces.push_back(paint);
    for (int many : {0, 1}) {
        EXPECT_EQ(f.meta->findSurface("box.lwo@Paint"), paint) << many;
        for (int i = 0; i < 40 * many; ++i)
            f.meta->surfaces.push_back(new Surface(f.meta.get(), ("box.lwo@" + std::to_string(i)).c_str()));
        f.meta->surfaces.push_back(new Surface(f.meta.get(), "box.lwo@Paint"));
        f.meta->surfaces.push_back(new Surface(f.meta.get(), many ? "box.lwo@Rim2" : "box.lwo@Rim"));
        EXPECT_EQ(f.meta->findSurface("box.lwo@Paint"), paint) << many;
        EXPECT_EQ(f.meta->findSurface(many ? "box.lwo@Rim2" : "box.lwo@Rim"), f.meta->surfaces.back()) << many;
        EXPECT_EQ(f.meta->findSurface("box.lwo@rim"), nullptr) << many;
    }
}

TEST(MetaScene, ScenesToRender)
{
    FourStages f;
    REQUIRE_ENGINE(f.engine);
    Scene* a = f.addScene("a.lws", true);
    Scene* b = f.addScene("b.lws", false);
    Scene* c = f.addScene("c.lws", true);
    Scene elsewhere(nullptr);
    const struct {
        bool userCamera;
        Scene* target;
        std::vector<Scene*> rendered;
    } cases[] = {
        {false, nullptr, {a, c}}, {false, b, {a, c}},       {true, nullptr, {a}},
        {true, b, {b}},           {true, &elsewhere, {a}}, // not ours: the first active scene
    };
    for (const auto& k : cases) {
        f.engine->interactionTarget = k.target;
        EXPECT_EQ(f.meta->scenesToRender(k.userCamera), k.rendered);
    }
    f.engine->interactionTarget = nullptr;
}

TEST(MetaScene, UpdateClearsWhenNothingRenders)
{
    FourStages f;
    REQUIRE_ENGINE(f.engine);
    const struct {
        bool activeScene;
        bool clearTarget;
        bool stencil;
        double flags; // of the Clear call, 0 for none
    } cases[] = {
        {false, false, false, D3DCLEAR_ZBUFFER},
        {false, true, false, D3DCLEAR_ZBUFFER | D3DCLEAR_TARGET},
        {false, true, true, D3DCLEAR_ZBUFFER | D3DCLEAR_TARGET | D3DCLEAR_STENCIL},
        {true, true, true, 0},
    };
    for (const auto& c : cases) {
        f.meta->clear();
        if (c.activeScene)
            f.addScene("on.lws", true);
        f.engine->depthHasFirstChannel = c.stencil ? 1 : 0;
        f.engine->drawCalls = 7;
        f.engine->primitivesDrawn = 9;
        const u32 frames = f.engine->framesRendered;
        const auto log = f.trace([&] { f.meta->update(c.clearTarget, 0, 1.0); });
        // After the metascene's own full-target viewport: its clear, if any.
        size_t last = log.size();
        for (size_t i = 0; i < log.size(); ++i)
            if (log[i].name == "SetViewport")
                last = i;
        ASSERT_LT(last, log.size());
        const std::vector<DeviceCall> after(log.begin() + long(last) + 1, log.end());
        const auto clears = callsNamed(after, "Clear");
        if (c.flags == 0) {
            EXPECT_TRUE(clears.empty());
        } else {
            ASSERT_EQ(clears.size(), 1u);
            EXPECT_EQ(clears[0].args[1], c.flags);
            EXPECT_EQ(clears[0].args[3], 1.0);
        }
        EXPECT_EQ(f.engine->framesRendered, frames + 1);
        EXPECT_EQ(f.engine->drawCalls + f.engine->primitivesDrawn, 0u);
    }
}

TEST(MetaScene, PrepareReportsProgressAndBuildsTextures)
{
    FourStages f;
    REQUIRE_ENGINE(f.engine);
    for (const char* name : {"one", "two"})
        f.meta->textures.push_back(new TargetTexture(f.engine.get(), name, 32, 32));
    f.meta->lwObjects.push_back(new LWObject(f.meta.get(), "a.lwo"));
    f.meta->lwObjects.push_back(nullptr);
    f.addScene("a.lws", false);
    Demo demo(f.engine.get());
    std::vector<float> seen;
    demo.loadingProgressProbe = [&seen](float fraction) { seen.push_back(fraction); };
    f.meta->prepare(&demo);
    EXPECT_EQ(seen, (std::vector<float>{0.4f, 0.65f, 1.0f}));
    for (Texture* texture : f.meta->textures) {
        EXPECT_NE(texture->baseTextures[0], nullptr);
        EXPECT_EQ(texture->budget, &f.meta->texelBudget); // builds are paid for by the metascene
    }
    EXPECT_EQ(f.meta->lwObjects[0]->texturesBuilt, 1);
}

TEST(MetaScene, ClearUnbindsAndFreesEverything)
{
    FourStages f;
    REQUIRE_ENGINE(f.engine);
    f.engine->interactionTarget = f.addScene("a.lws", true);
    f.meta->textures.push_back(new TargetTexture(f.engine.get(), "t", 16, 16));
    f.meta->surfaces.push_back(new Surface(f.meta.get(), "a.lwo@s"));
    f.meta->lwObjects.push_back(new LWObject(f.meta.get(), "a.lwo"));
    const auto log = f.trace([&] { f.meta->clear(); });
    const auto unbinds = callsNamed(log, "SetTexture");
    ASSERT_EQ(unbinds.size(), 4u);
    for (size_t i = 0; i < unbinds.size(); ++i)
        EXPECT_EQ(unbinds[i].args, (std::vector<double>{double(i), 0.0}));
    EXPECT_TRUE(f.meta->scenes.empty() && f.meta->textures.empty() && f.meta->surfaces.empty() &&
                f.meta->lwObjects.empty());
    EXPECT_EQ(f.meta->name.length(), 0u);
    EXPECT_EQ(f.engine->interactionTarget, nullptr); // it pointed into the freed scenes
}

TEST(MetaScene, ResetRenderStates)
{
    FourStages f;
    REQUIRE_ENGINE(f.engine);
    Demo demo(f.engine.get());
    const auto log = f.trace([&] { resetRenderStates(demo.engine); });
    std::vector<std::vector<double>> states;
    for (const auto& call : callsNamed(log, "SetRenderState"))
        states.push_back(call.args);
    const std::vector<std::vector<double>> expected = {
        {D3DRS_CULLMODE, D3DCULL_CCW},
        {D3DRS_ZENABLE, 1},
        {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
        {D3DRS_ZWRITEENABLE, 1},
        {D3DRS_CLIPPING, 1},
        {D3DRS_COLORVERTEX, 1},
        {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_COLOR1},
        {D3DRS_NORMALIZENORMALS, 1},
    };
    EXPECT_EQ(states, expected);
    const auto samplers = callsNamed(log, "SetSamplerState");
    const auto stages = callsNamed(log, "SetTextureStageState");
    ASSERT_EQ(samplers.size(), 4u * 6);
    ASSERT_EQ(stages.size(), 4u * 3);
    EXPECT_EQ(samplers.back().args, (std::vector<double>{3, D3DSAMP_ADDRESSW, D3DTADDRESS_WRAP}));
    EXPECT_EQ(samplers[1].args, (std::vector<double>{0, D3DSAMP_MINFILTER, D3DTEXF_ANISOTROPIC}));
    EXPECT_EQ(stages.back().args, (std::vector<double>{3, D3DTSS_RESULTARG, D3DTA_CURRENT}));
}

TEST(MetaScene, MetascriptScenesShareTheirObjects)
{
    FourStages f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    MemoryStream files;
    files.files["objects/crate.lwo"] =
        mkcontent::findContentFile(mkcontent::allContentFiles(), "objects/crate.lwo")->build();
    for (const char* name : {"intro.lws", "hall.lws", "fx.lws"}) {
        mkcontent::LwsEmitter scene(0, 60);
        scene.objectLayer(1, "objects/crate.lwo");
        files.files[name] = scene.text();
    }
    files.files["meta.mts"] = "intro.lws ignored\nhall.lws\nfx.lws\n";
    Demo demo(f.engine.get());
    std::vector<float> seen;
    demo.loadingProgressProbe = [&seen](float fraction) { seen.push_back(fraction); };
    std::unique_ptr<MetaScene> meta(MetaScene::loadMetascript("meta.mts", f.engine.get(), &files, &demo));
    ASSERT_NE(meta, nullptr);
    ASSERT_EQ(meta->scenes.size(), 3u);
    EXPECT_STREQ(meta->scenes[2]->name, "fx.lws");
    EXPECT_EQ(meta->lwObjects.size(), 1u); // read once for all three scenes
    // Each scene starts its share of the bar's first 0.4.
    ASSERT_EQ(seen.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(seen[size_t(i)], 0.4f * float(i) / 3.0f, 1e-6) << i;
    meta->clear();
}
