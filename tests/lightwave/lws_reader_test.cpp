#include "lws_test_support.h"

#include "../log_test_support.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "media/sound.h"
#include "scene/anti_portal.h"
#include "scene/bone.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/poly_mesh.h"
#include "scene/scene_test_support.h"
#include "scoped_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

using namespace lwstest;

namespace {

TEST(LwsTokens, SplitMatchesCount)
{
    struct Case {
        std::string text;
        std::vector<std::string> tokens;
    } cases[] = {
        {"a \"b c\" \"\" d", {"a", "b c", "", "d"}},
        {"\"a\"\"b\"", {"a", "b"}},
        {"\"a\"b", {"a", "b"}},
        {"ab\"c d\"", {"ab\"c", "d\""}},
        {"x\r\ny\tz", {"x", "y", "z"}},
        {"last", {"last"}},
        {"\"open to the end", {"open to the end"}},
        {std::string("a\0b\x80\xff c", 8), {"a", "b\x80\xff", "c"}},
        {"   ", {}},
    };
    for (Case& c : cases) {
        std::string text = c.text + std::string(2, '\0');
        size_t n = splitLwsTokens(text.data(), c.text.size(), nullptr, 0);
        std::vector<const char*> out(n + 1);
        ASSERT_EQ(splitLwsTokens(text.data(), c.text.size(), out.data(), n), n);
        ASSERT_EQ(n, c.tokens.size()) << c.text;
        for (size_t i = 0; i < n; i++)
            EXPECT_EQ(out[i], c.tokens[i]) << c.text;
    }
}

TEST(LwsReader, RefusedFilesLeaveTheSceneEmpty)
{
    const std::vector<std::string> noBox, notLws{"Assertion failed: not an LWS file!"},
        version{"Assertion failed: unbekanntes LWS file!!!"};
    struct Case {
        std::string text;
        const std::vector<std::string>& boxes; // at level 3
    } cases[] = {
        {"LWSC\n2\nAddLight\n", version}, {"LWSC", version}, {"", noBox}, {" \n ", notLws},
        {"LWXX 3 AddLight", notLws},       {"LWSC 30000000000000000003", version},
    };
    for (const Case& c : cases) {
        for (int level : {2, 3}) {
            texturetest::Diagnostics d(level);
            Scene scene(nullptr);
            EXPECT_FALSE(loadText(scene, c.text)) << c.text;
            EXPECT_TRUE(scene.lights.empty() && scene.objects.empty());
            EXPECT_STREQ(scene.name, "t.lws");
            EXPECT_EQ(texturetest::boxTexts(), level == 3 ? c.boxes : noBox) << c.text;
        }
    }
    // The package's scenes of formats 5 and 2, alone and in a metascript.
    texturetest::Diagnostics d(3);
    size_t refused = 0;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(kPackageDir, missing)) {
        std::string name = entry.path().filename().string();
        if (!name.ends_with(".lws") || name == "move_x_oldformat_6.lws")
            continue;
        MemoryStream files;
        files.files["s.lws"] = readFile(entry.path().string());
        files.files["s.mts"] = "s.lws\n";
        EXPECT_EQ(MetaScene::loadMetascript("s.mts", nullptr, &files, nullptr), nullptr) << name;
        refused++;
    }
    EXPECT_EQ(texturetest::boxTexts(),
              std::vector<std::string>(refused ? 1 : 0, "Assertion failed: unbekanntes LWS file!!!"));

    Scene scene(nullptr);
    MemoryStream none;
    auto from = testsupport::logPosition();
    EXPECT_FALSE(loadLWS("missing.lws", &scene, &none, nullptr, 0, 0));
    EXPECT_EQ(testsupport::logLinesFrom(from), std::vector<std::string>{"File not found!"});
}

TEST(LwsReader, SceneKeywords)
{
    Scene scene(nullptr);
    ASSERT_TRUE(loadText(scene, lws("FirstFrame 5 LastFrame 90 FramesPerSecond 25 FogType 1 "
                                    "BackdropFog 1 FogColor 0.1 0.2 0.3 BackdropColor 0.5 0.6 0.7 "
                                    "AmbientIntensity (envelope) { Envelope 1 Key 0.75 0 0 0 0 0 0 0 0 "
                                    "Behaviors 1 1 } GridNumber 7 GridSize 2.5")));
    EXPECT_EQ(scene.firstFrame, 5.0);
    EXPECT_EQ(scene.lastFrame, 90.0);
    EXPECT_EQ(scene.framesPerSecond, 25.0);
    EXPECT_EQ(scene.fogType, D3DFOG_LINEAR);
    EXPECT_FLOAT_EQ(scene.fogColor[0], 0.1f); // the backdrop came after BackdropFog
    EXPECT_FLOAT_EQ(scene.clearColor[2], 0.7f);
    EXPECT_FLOAT_EQ(scene.ambientIntensity.value, 0.75f);
    EXPECT_EQ(scene.ambientIntensity.source, nullptr);
    EXPECT_EQ(scene.gridNumber, 7);
    EXPECT_EQ(scene.currentCamera, nullptr);

    Scene later(nullptr);
    ASSERT_TRUE(loadText(later, lws("FogType 7 BackdropColor 0.5 0.6 0.7 BackdropFog 1")));
    EXPECT_EQ(later.fogType, D3DFOG_NONE);
    EXPECT_FLOAT_EQ(later.fogColor[1], 0.6f);
}

TEST(LwsReader, FogTypes)
{
    const std::pair<const char*, i32> cases[] = {{"2", D3DFOG_EXP}, {"3", D3DFOG_EXP2}, {"4", D3DFOG_NONE}};
    for (auto [type, mode] : cases) {
        Scene scene(nullptr);
        ASSERT_TRUE(loadText(scene, lws(std::string("FogType ") + type)));
        EXPECT_EQ(scene.fogType, mode) << type;
    }
}

TEST(LwsReader, ItemsAndReferences)
{
    testsupport::LevelGuard level;
    diagnosticsLevel = 0;
    Scene scene(nullptr);
    Progress progress;
    // Items before any item, a light in small letters (counted, never
    // filled), an AddCamera without motion, loops of parents and targets,
    // a forward reference to an object that becomes an anti-portal.
    ASSERT_TRUE(loadText(scene,
                         lws("LightName early ParentItem 10000000 CameraName early "
                             "AddNullObject first ParentItem 10000002 TargetItem 10000001 "
                             "ShadowOptions 3 PivotRotation 90 0 0 ExcludeLight 21000000 ExcludeLight 20000002 ExcludeLight 22000000 "
                             "AddNullObject second ParentItem 10000000 TargetItem 10000001 "
                             "LoadObjectLayer 1 C:\\portals/AntiPortal.lwo ParentItem 10000002 "
                             "LoadObjectLayer 2 Objects/big rock.lwo HController 1 "
                             "AddLight LightName Sun LightType 2 LightConeAngle 30 ShadowFuzziness 0 "
                             "ShadowMapSize 0 AffectDiffuse 0 AffectOpenGL 0 "
                             "AddLight LightName Spot ShadowFuzziness 13.2877 ShadowMapSize 1000000000 AffectOpenGL 1 "
                             "LightColor (envelope) { Envelope 1 Key 0.25 0 0 0 0 0 0 0 0 Behaviors 1 1 } "
                             "(envelope) { Envelope 1 Key 0.5 0 0 0 0 0 0 0 0 Behaviors 1 1 } "
                             "(envelope) { Envelope 1 Key 0.75 0 0 0 0 0 0 0 0 Behaviors 1 1 } "
                             "AddLight LightName Third ShadowMapSize -5 addlight "
                             "AddCamera CameraName NoMotion ZoomFactor 9 "
                             "AddCamera CameraName Cam ZoomFactor 2 TargetItem 10000000 ParentItem 30000000"),
                         nullptr, &progress, 0.2f, 0.1f));
    ASSERT_EQ(scene.objects.size(), 4u);
    ASSERT_EQ(scene.lights.size(), 4u);
    EXPECT_TRUE(scene.cameras.empty());
    EXPECT_EQ(scene.currentCamera, nullptr);

    Object* first = scene.objects[0];
    Object* second = scene.objects[1];
    Object* portal = scene.objects[2];
    EXPECT_STREQ(first->name.c_str(), "first");
    EXPECT_EQ(first->shadowOptions, 3);
    EXPECT_FLOAT_EQ(first->pivotRotation[1], 1.5707964f);
    EXPECT_EQ(first->excludedLights, std::vector<i32>{2});
    EXPECT_EQ(first->parent, portal); // re-pointed to the anti-portal
    EXPECT_EQ(first->target, second);
    EXPECT_EQ(second->parent, nullptr); // would close a loop through first
    EXPECT_EQ(second->target, nullptr); // itself
    EXPECT_EQ(portal->parent, nullptr); // portal -> first -> portal
    ASSERT_EQ(scene.antiPortals.size(), 1u);
    EXPECT_EQ(scene.antiPortals[0], portal);
    EXPECT_TRUE(portal->hidden);
    EXPECT_STREQ(portal->name.c_str(), "\\\\portals/AntiPortal.lwo");
    EXPECT_STREQ(scene.objects[3]->name.c_str(), "Objects/big rock.lwo");
    EXPECT_EQ(scene.objects[3]->headingController, 1);
    EXPECT_EQ(scene.objects[3]->mesh, nullptr);

    Light* sun = scene.lights[0];
    Light* spot = scene.lights[1];
    EXPECT_STREQ(sun->name.c_str(), "Sun");
    EXPECT_NEAR(sun->coneAngle.value, 0.5235988f, 1e-6);
    EXPECT_FLOAT_EQ(sun->depthBias, -1.0f);
    EXPECT_NEAR(spot->depthBias, -0.0001f, 1e-7);
    EXPECT_EQ(sun->shadowMapSize, 1024);
    EXPECT_EQ(spot->shadowMapSize, 4096);
    EXPECT_EQ(scene.lights[2]->shadowMapSize, 1024);
    EXPECT_TRUE(sun->noDiffuse);
    EXPECT_EQ((std::vector<int>{sun->affectOpenGLOff, spot->affectOpenGLOff}), (std::vector<int>{1, 0})); // 0: a bake light
    EXPECT_FLOAT_EQ(spot->blue.value, 0.75f);
    EXPECT_FLOAT_EQ(spot->red.value, 0.25f);
    EXPECT_STREQ(scene.lights[3]->name.c_str(), ""); // counted placeholder

    ASSERT_EQ(progress.fractions.size(), 4u);
    EXPECT_NEAR(progress.fractions[1], 0.225f, 1e-6);
    EXPECT_NEAR(progress.fractions[3], 0.275f, 1e-6);
}

// 100,000 objects chained parent to parent, read in either order: the loop
// guard settles each reference at once and the leaf's matrix needs no
// stack frame per link. 100,000 anti-portals load as fast.
TEST(LwsReader, LongChainsAndManyAntiPortalsLoadInLinearTime)
{
    testsupport::LevelGuard level;
    diagnosticsLevel = 0;
    constexpr int n = 100000;
    for (const int step : {1, -1}) {
        SCOPED_TRACE(step);
        std::string body;
        char line[64];
        for (int i = 0; i < n; ++i) {
            body += "AddNullObject o\n";
            const int parent = i + step;
            if (parent >= 0 && parent < n) {
                std::snprintf(line, sizeof line, "ParentItem 1%07X\n", parent);
                body += line;
            }
        }
        const auto start = std::chrono::steady_clock::now();
        Scene scene(nullptr);
        ASSERT_TRUE(loadText(scene, lws(body)));
        ASSERT_EQ(scene.objects.size(), size_t(n));
        for (Object* o : scene.objects)
            o->channels[kPositionX].value = 1.0f;
        Object* leaf = scene.objects[step > 0 ? 0 : size_t(n) - 1];
        EXPECT_FLOAT_EQ(leaf->getMatrix(0.0)->_41, float(n));
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    }
    // Anti-portals replace their placeholders; only references to each are
    // re-pointed, not every item per portal.
    std::string portals;
    for (int i = 0; i < n; ++i)
        portals += "LoadObjectLayer 1 AntiPortal.lwo\n";
    const auto start = std::chrono::steady_clock::now();
    Scene scene(nullptr);
    ASSERT_TRUE(loadText(scene, lws(portals)));
    EXPECT_EQ(scene.antiPortals.size(), size_t(n));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

class ChannelSound : public Sound {
public:
    std::vector<std::string> calls;
    int created = 0;
    int createChannel(Stream& s, const char* name) override
    {
        if (std::strcmp(name, "missing.ogg") == 0)
            return -1;
        ++created;
        return Sound::createChannel(s, name);
    }
    int liveChannels() const
    {
        int live = 0;
        for (int h = 1; h <= channelCount(); ++h)
            live += channel(h) != nullptr;
        return live;
    }
    bool play(int h, bool loop) override
    {
        calls.push_back("play " + std::to_string(h) + (loop ? " loop" : ""));
        return true;
    }
    bool setVolume(int h, float v) override
    {
        calls.push_back("volume " + std::to_string(h) + " " + std::to_string(v));
        return true;
    }
    bool stop(int h) override
    {
        calls.push_back("stop " + std::to_string(h));
        return true;
    }
};

// The package's format-3 scene, with its object file; bones, sounds and a
// missing layer on the same object.
TEST(LwsReader, PackageSceneWithMeshBonesAndSounds)
{
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    std::string text = readFile(std::string(kPackageDir) + "move_x_oldformat_6.lws");
    if (text.empty())
        GTEST_SKIP() << "the package models are not installed";
    MemoryStream files;
    files.files["simple_cube.lwo"] = readFile(std::string(kPackageDir) + "simple_cube.lwo");
    ChannelSound sound;
    testsupport::Restore<Sound*> attached(f.engine->sound, &sound); // the engine deletes its sound
    texturetest::Diagnostics d(0);

    ASSERT_TRUE(loadText(*f.scene, text, &files));
    Scene& s = *f.scene;
    ASSERT_EQ(s.objects.size(), 1u);
    Object* cube = s.objects[0];
    EXPECT_STREQ(cube->name.c_str(), "simple_cube.lwo");
    ASSERT_TRUE(cube->mesh && cube->mesh->asPolyMesh());
    EXPECT_EQ(cube->mesh->asPolyMesh()->pointCount, 8);
    EXPECT_EQ(cube->mesh->asPolyMesh()->polygonCount, 6);
    ASSERT_EQ(s.lights.size(), 1u);
    EXPECT_STREQ(s.lights[0]->name.c_str(), "Light");
    EXPECT_EQ(s.lights[0]->lightType, 0);
    EXPECT_FLOAT_EQ(s.lights[0]->channels[0].value, -2.0f);
    EXPECT_FLOAT_EQ(s.lights[0]->channels[1].value, 2.0f);
    EXPECT_NEAR(s.lights[0]->channels[3].value, 0.7853981f, 1e-6);
    ASSERT_EQ(s.cameras.size(), 1u);
    EXPECT_STREQ(s.cameras[0]->name.c_str(), "Camera");
    EXPECT_EQ(s.currentCamera, s.cameras[0]);
    EXPECT_EQ(s.firstFrame, 1.0);
    EXPECT_EQ(s.lastFrame, 60.0);
    EXPECT_EQ(s.framesPerSecond, 30.0);
    EXPECT_FLOAT_EQ(s.ambientIntensity.value, 0.05f);
    EXPECT_EQ(s.fogType, D3DFOG_NONE);
    struct {
        double t;
        float x;
    } xs[] = {{0, 0}, {1.0 / 3, 1.4416f}, {2.0 / 3, 2.0691125f}, {1.0, 0.2542f}, {2.0, -2.3748658f}};
    for (auto& k : xs)
        EXPECT_NEAR(cube->channels[0].valueAt(k.t), k.x, 1e-3) << k.t;
    EXPECT_EQ(cube->channels[1].source, nullptr);
    EXPECT_FLOAT_EQ(cube->channels[1].value, -0.04f);

    // Bones on the cube's mesh, sounds, and a layer the file lacks.
    Scene* more = new Scene(f.meta.get());
    f.meta->scenes.push_back(more);
    auto from = testsupport::logPosition();
    ASSERT_TRUE(loadText(*more,
                         lws("LoadObjectLayer 1 simple_cube.lwo BoneFalloffType 2 "
                             "AddBone BoneName root BoneRestLength 2 ParentItem 40000000 "
                             "AddBone BoneName mid ParentItem 40000000 "
                             "AddBone BoneName tip ParentItem 40010000 PivotRotation 90 0 0 UnseenByCamera "
                             "ScaleBoneStrength 1 BoneRestDirection 90 0 0 "
                             "// sound hum.ogg // sound missing.ogg "
                             "LoadObjectLayer 5 simple_cube.lwo AddBone BoneName orphan"),
                         &files));
    Object* boned = more->objects[0];
    PolyMesh* mesh = boned->mesh ? boned->mesh->asPolyMesh() : nullptr;
    ASSERT_TRUE(mesh);
    EXPECT_EQ(mesh->boneFalloffType, 2);
    ASSERT_EQ(mesh->bones.size(), 3u);
    Bone* root = mesh->bones[0];
    Bone* mid = mesh->bones[1];
    Bone* tip = mesh->bones[2];
    EXPECT_EQ(tip->index, 2 * 65536);
    EXPECT_EQ(root->parent, nullptr); // itself
    EXPECT_EQ(mid->parentBone, root);
    EXPECT_EQ(tip->parent, mid);
    EXPECT_EQ(tip->parentBone, mid);
    EXPECT_TRUE(tip->scaleStrength);
    EXPECT_FLOAT_EQ(tip->restDirection[1], 1.5707964f);
    EXPECT_FLOAT_EQ(boned->pivotRotation[1], 0.0f);
    EXPECT_TRUE(boned->hidden);
    EXPECT_GT(boned->soundChannel, 0);
    EXPECT_EQ(sound.calls, (std::vector<std::string>{"play " + std::to_string(boned->soundChannel) + " loop",
                                                     "volume " + std::to_string(boned->soundChannel) + " 0.000000"}));
    EXPECT_EQ(more->objects[1]->mesh, nullptr);
    auto lines = testsupport::logLinesFrom(from);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "missing.ogg sound was not loaded"), lines.end());
}

// A metascript whose second scene fails takes back the sounds the first
// scene started.
TEST(LwsReader, FailedMetascriptStopsTheSoundsItStarted)
{
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    MemoryStream files;
    files.files["one.lws"] = lws("AddNullObject n // sound hum.ogg");
    files.files["hum.ogg"] = "x";
    files.files["both.mts"] = "one.lws\nmissing.lws\n";
    ChannelSound sound;
    testsupport::Restore<Sound*> attached(f.engine->sound, &sound); // the engine deletes its sound
    texturetest::Diagnostics d(0);
    EXPECT_EQ(MetaScene::loadMetascript("both.mts", f.engine.get(), &files, nullptr), nullptr);
    ASSERT_FALSE(sound.calls.empty());
    EXPECT_EQ(sound.calls.front().rfind("play ", 0), 0u);
    EXPECT_EQ(sound.calls.back(), "stop " + sound.calls.front().substr(5, sound.calls.front().find(' ', 5) - 5));
}

// A looping channel left over would play to the end of the run; a sound
// before any object has no owner.
TEST(LwsReader, FreedMetasceneLeavesNoSound)
{
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    for (const char* text : {"AddNullObject n // sound hum.ogg", "// sound hum.ogg AddNullObject n"}) {
        MemoryStream files;
        files.files["one.lws"] = lws(text);
        files.files["hum.ogg"] = "x";
        files.files["one.mts"] = "one.lws\n";
        ChannelSound sound;
        testsupport::Restore<Sound*> attached(f.engine->sound, &sound); // the engine deletes its sound
        MetaScene* meta = MetaScene::loadMetascript("one.mts", f.engine.get(), &files, nullptr);
        ASSERT_NE(meta, nullptr) << text;
        meta->clear();
        delete meta;
        ASSERT_EQ(sound.channelCount(), 1) << text;
        EXPECT_EQ(sound.channel(1), nullptr) << text;
    }
}

// Each channel costs a file's copy and a thread: an object's later sound
// replaces its earlier one, and a file starts a bounded number.
TEST(LwsReader, SoundCommentsReplaceTheirObjectsSoundAndAreBounded)
{
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    std::string manyObjects, oneObject = "AddNullObject n";
    for (int i = 0; i < 1000; ++i) {
        manyObjects += "AddNullObject n // sound hum.ogg\n";
        oneObject += " // sound hum.ogg";
    }
    const struct {
        std::string body;
        int created, live;
        size_t logLines;
    } cases[] = {{"AddNullObject n // sound hum.ogg // sound hum.ogg", 2, 1, 0},
                 {manyObjects, 64, 64, 1},
                 {oneObject, 64, 1, 1}};
    for (const auto& c : cases) {
        MemoryStream files;
        files.files["hum.ogg"] = "x";
        ChannelSound sound;
        const auto logFrom = testsupport::logPosition();
        {
            testsupport::Restore<Sound*> attached(f.engine->sound, &sound);
            Scene scene(f.meta.get());
            ASSERT_TRUE(loadText(scene, lws(c.body), &files));
            EXPECT_EQ(sound.created, c.created);
            EXPECT_EQ(sound.liveChannels(), c.live);
        }
        EXPECT_EQ(testsupport::logLinesFrom(logFrom),
                  std::vector<std::string>(
                      c.logLines, "t.lws: more than 64 sound comments, hum.ogg and the later ones were not loaded"));
    }
}

TEST(LwsReader, DamagedTextEndsCleanly)
{
    testsupport::LevelGuard level;
    diagnosticsLevel = 0;
    std::string text = readFile(std::string(kPackageDir) + "move_x_oldformat_6.lws");
    if (text.empty())
        text = lws("AddNullObject n ObjectMotion NumChannels 9 Channel 0 " + constant(1) + " AddLight LightName L");
    for (size_t cut = 0; cut < text.size(); cut += 37) {
        Scene scene(nullptr);
        loadText(scene, text.substr(0, cut));
        EXPECT_EQ(scene.tokens, nullptr);
    }
    for (const char* bad : {"ObjectMotion NumChannels 2147483647", "AddNullObject a ObjectMotion NumChannels 9",
                            "AddNullObject a ObjectMotion NumChannels 1 Channel 0 { Envelope -2147483648",
                            "AddBone ParentItem 40010000 BoneName x", "Plugin never ends",
                            "LoadObjectLayer 1", "// sound"}) {
        Scene scene(nullptr);
        EXPECT_TRUE(loadText(scene, lws(bad))) << bad;
    }
}

} // namespace

namespace {

TEST(LwsReader, ItemIdRanges)
{
    struct Case {
        const char* id;
        int kind; // 0 none, 1 object 0, 2 light 0, 3 camera 0
    } cases[] = {
        {"10000000", 1}, {"10000002", 0}, {"1FFFFFFF", 0}, {"20000000", 2}, {"20000001", 0},
        {"30000000", 3}, {"40000000", 0}, {"50000000", 0}, {"0", 0},        {"FFFFFFFFF", 0},
    };
    for (const Case& c : cases) {
        Scene scene(nullptr);
        ASSERT_TRUE(loadText(scene, lws(std::string("AddNullObject a AddLight AddCamera CameraMotion NumChannels 0 "
                                                    "AddNullObject b TargetItem ") + c.id)));
        Node* expected[] = {nullptr, scene.objects[0], scene.lights[0], scene.cameras[0]};
        EXPECT_EQ(scene.objects[1]->target, expected[c.kind]) << c.id;
        EXPECT_EQ(scene.findItem("b"), scene.objects[1]);
        EXPECT_EQ(scene.findItem("B"), nullptr);
    }
}

} // namespace
