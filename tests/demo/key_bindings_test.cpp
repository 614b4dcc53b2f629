// The key-binding script: parsing with its errors, and what a held key
// does to layer times, sounds and surface colours.
#include "demo/key_bindings.h"

#include "demo/demo.h"

#include "demo/demo_test_support.h"
#include "foundation/animated_value.h"
#include "foundation/diagnostics.h"
#include "foundation/memory_stream.h"
#include "foundation/script_tokenizer.h"
#include "lightwave/lw_object.h"
#include "lightwave/meta_scene.h"
#include "log_test_support.h"
#include "materials/surface.h"
#include "media/input.h"
#include "media/sound.h"
#include "platform/d3d9/device_test_api.h"
#include "scene/mesh.h"
#include "scene/object.h"
#include "scene/scene.h"
#include "tools/mkcontent/content.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class StubMesh : public Mesh {
public:
    StubMesh() : Mesh(nullptr, nullptr) {}
    bool prepare() override { return true; }
    void updateBounds() override {}
    void render(double, Object*, Node*, i32) override {}
    const D3DVECTOR* points() const override { return nullptr; }
};

// Only "motor.wav" exists; plays and stops are counted.
class FakeSound : public Sound {
public:
    int plays = 0, stops = 0, creates = 0;
    int createChannel(Stream&, const char* name) override
    {
        ++creates;
        return std::string(name) == "motor.wav" ? 0 : -1;
    }
    bool play(int, bool) override { return ++plays > 0; }
    bool stop(int) override { return ++stops > 0; }
};

struct Rig {
    MetaScene meta{nullptr, "meta"};
    StubMesh* layer = new StubMesh;
    Surface* paint = new Surface(nullptr, "obj.lwo@paint");
    FakeSound sound;
    MemoryStream source;
    KeyBindings bindings{&sound, &source};
    Input input;

    Rig()
    {
        auto* lwo = new LWObject(&meta, "obj.lwo");
        lwo->layers = {nullptr, layer};
        meta.lwObjects.push_back(lwo);
        meta.surfaces.push_back(paint);
    }
    bool parse(const std::string& text)
    {
        MemoryStream file("inputHandler.scr", text);
        ScriptTokenizer script(&file);
        EXPECT_TRUE(script.load("inputHandler.scr"));
        return bindings.parse(script, &meta);
    }
    void hold(char key, bool down) { input.keys[KeyBindings::keyCode(key)] = down ? 1 : 0; }
};

const char* kFixture = "Keyset: 1\n"
                       "Key: a increaseTime 0 60 motor.wav obj.lwo 1\n"
                       "Key: b decreaseTime 0 0 missing.wav obj.lwo 1\n"
                       "Key: t toggleTime 0 30 motor.wav obj.lwo 1\n"
                       "Key: c changeSurfaceColors 2 x obj.lwo@paint 1 0 0.5\n"
                       "Keyset: 2\n"
                       "Key: , increaseTime 0 0 motor.wav obj.lwo 1\n";

TEST(KeyBindings, FixtureParsesIntoKeysetsAndEvents)
{
    Rig rig;
    const auto from = testsupport::logPosition();
    ASSERT_TRUE(rig.parse(kFixture));
    ASSERT_EQ(rig.bindings.keysets.size(), 2u);
    const auto& events = rig.bindings.keysets[0].events;
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].type, KeyBindings::kIncreaseTime);
    EXPECT_DOUBLE_EQ(events[0].limit, 2.0);
    EXPECT_EQ(events[0].sound, 0);
    EXPECT_EQ(events[1].sound, -1);
    EXPECT_EQ(events[2].type, KeyBindings::kToggleTime);
    ASSERT_EQ(events[3].surfaces.size(), 1u);
    EXPECT_EQ(events[3].surfaces[0].surface, rig.paint);
    EXPECT_EQ(events[3].surfaces[0].color[2], 0.5f);
    EXPECT_EQ(rig.bindings.findKeyset('2'), &rig.bindings.keysets[1]);
    EXPECT_EQ(rig.bindings.keysets[1].events[0].key, ',');
    EXPECT_TRUE(rig.layer->keyBound);
    EXPECT_EQ(testsupport::logLinesFrom(from), std::vector<std::string>{"missing.wav sound was not loaded"});
    // One channel per sound name, also across parses.
    ASSERT_TRUE(rig.parse(kFixture));
    EXPECT_EQ(rig.sound.creates, 2);
}

// Each channel holds its file and a thread: spellings of one file share one,
// and distinct files make at most 64.
TEST(KeyBindings, SoundChannelsFollowTheArchivesNamesAndAreBounded)
{
    struct Case {
        std::string (*name)(int i);
        int creates;
        size_t logLines;
    };
    const Case cases[] = {
        {[](int i) { return std::string(i % 2 ? "Sounds/MOTOR.wav" : "sounds\\motor.WAV"); }, 1, 0},
        {[](int i) { return "s" + std::to_string(i) + ".wav"; }, 64, 300 - 64},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.sound.creates = 0;
        std::string text = "Keyset: 1\n";
        for (int i = 0; i < 300; ++i)
            text += "Key: a increaseTime 0 60 " + c.name(i) + " obj.lwo 1\n";
        const auto from = testsupport::logPosition();
        ASSERT_TRUE(rig.parse(text));
        EXPECT_EQ(rig.sound.creates, c.creates);
        EXPECT_THAT(testsupport::logLinesFrom(from),
                    ::testing::Contains(::testing::HasSubstr("more than 64 sounds")).Times(c.logLines));
    }
}

// The generated script over the test objects' names.
TEST(KeyBindings, ContentScriptParses)
{
    Rig rig;
    for (const char* name : {"objects/crate.lwo", "objects/room.lwo"}) {
        auto* lwo = new LWObject(&rig.meta, name);
        lwo->layers = {new StubMesh};
        rig.meta.lwObjects.push_back(lwo);
    }
    rig.meta.surfaces.push_back(new Surface(nullptr, "objects/crate.lwo@Crate"));
    const auto files = mkcontent::extrasFiles();
    const mkcontent::ContentFile* script = mkcontent::findContentFile(files, "inputHandler.scr");
    ASSERT_NE(script, nullptr);
    ASSERT_TRUE(rig.parse(script->build()));
    ASSERT_EQ(rig.bindings.keysets.size(), 2u);
    EXPECT_EQ(rig.bindings.keysets[0].events.size(), 3u);
    EXPECT_DOUBLE_EQ(rig.bindings.keysets[1].events[0].limit, 1.5);
}

TEST(KeyBindings, ErrorsNameTheLineAndStop)
{
    struct Case {
        const char* script;
        const char* message;
    } cases[] = {
        {"Keyset: 12", "inputHandler.scr(1): error: no valid key for keyset declaration"},
        {"Keyset: 1\nKey: ab increaseTime", "inputHandler.scr(2): error: no valid key"},
        {"Key: a\n\nincreaseTime 0 1 m.wav nope.lwo 1", "inputHandler.scr(3): error: no valid lwo for currentMetascene"},
        {"Key: a increaseTime 0 1 m.wav obj.lwo 7", "inputHandler.scr(1): error: no valid layer for current lwo"},
        {"Key: a increaseTime 0 1 m.wav obj.lwo 0", "inputHandler.scr(1): error: no valid layer for current lwo"},
        {"Key: a changeSurfaceColors 1 x paint 1 1 1", "inputHandler.scr(1): error: no valid surface for currentMetascene"},
        {"Key: a jump", "inputHandler.scr(1): error: no valid eventtype"},
        {"Key: a", "inputHandler.scr(1): error: no valid eventtype"}, // truncated
    };
    for (const Case& c : cases) {
        for (int level : {1, 2}) {
            testsupport::LevelGuard guard;
            diagnosticsLevel = level;
            platform::clearRecordedMessageBoxes();
            Rig rig;
            const auto from = testsupport::logPosition();
            EXPECT_FALSE(rig.parse(c.script)) << c.script;
            EXPECT_EQ(testsupport::logLinesFrom(from).back(), c.message);
            const auto& boxes = platform::recordedMessageBoxes();
            ASSERT_EQ(boxes.size(), level >= 2 ? 1u : 0u) << c.script;
            if (level >= 2) {
                EXPECT_EQ(boxes[0].caption, "Parse Error");
                EXPECT_EQ(boxes[0].text, c.message);
            }
        }
    }
    platform::clearRecordedMessageBoxes();
}

TEST(KeyBindings, HeldKeysMoveLayerTimesBySoundAndLimit)
{
    Rig rig;
    ASSERT_TRUE(rig.parse(kFixture));
    double& t = rig.layer->animationTime;
    rig.hold('a', true);
    for (int i = 0; i < 3; ++i)
        rig.bindings.dispatch(rig.input, 0.5);
    EXPECT_DOUBLE_EQ(t, 1.5);
    EXPECT_EQ(rig.sound.plays, 3);
    const int stops = rig.sound.stops; // the toggle's sound stops while its key is up
    rig.bindings.dispatch(rig.input, 0.5); // 2.0 is not below the limit
    EXPECT_DOUBLE_EQ(t, 2.0);
    EXPECT_EQ(rig.sound.stops, stops + 2);
    rig.hold('a', false);

    rig.hold('b', true);
    rig.bindings.dispatch(rig.input, 1.5); // limit 0: no floor
    EXPECT_DOUBLE_EQ(t, 0.5);
    rig.hold('b', false);

    // Toggle: runs on after the key is let go, and turns on a new press.
    rig.hold('t', true);
    rig.bindings.dispatch(rig.input, 0.25);
    EXPECT_DOUBLE_EQ(t, 0.75);
    rig.hold('t', false);
    for (int i = 0; i < 8; ++i)
        rig.bindings.dispatch(rig.input, 0.25);
    EXPECT_DOUBLE_EQ(t, 1.0); // the limit of 30 frames
    rig.hold('t', true);
    rig.bindings.dispatch(rig.input, 0.5);
    EXPECT_DOUBLE_EQ(t, 0.5);
    for (int i = 0; i < 4; ++i)
        rig.bindings.dispatch(rig.input, 0.5);
    EXPECT_DOUBLE_EQ(t, KeyBindings::toggleFloor);
}

TEST(KeyBindings, ColourFadesReachTheirColour)
{
    for (const char* duration : {"2", "0"}) {
        Rig rig;
        std::string script = std::string("Key: c changeSurfaceColors ") + duration + " x obj.lwo@paint 1 0 0.5";
        ASSERT_TRUE(rig.parse(script));
        rig.paint->color[0].value = 0.0f;
        rig.hold('c', true);
        rig.bindings.dispatch(rig.input, 1.0);
        EXPECT_FLOAT_EQ(rig.paint->color[0].value, duration[0] == '2' ? 0.5f : 1.0f);
        rig.bindings.dispatch(rig.input, 1.0);
        EXPECT_FLOAT_EQ(rig.paint->color[0].value, 1.0f) << duration;
        EXPECT_FLOAT_EQ(rig.paint->color[2].value, 0.5f);
        EXPECT_TRUE(rig.bindings.fades.empty());
    }
}

TEST(KeyBindings, KeyCharacterTables)
{
    struct Case {
        char c;
        u8 code;
        char back;
    } cases[] = {{'0', 0x0B, '0'}, {'9', 0x0A, '9'}, {'a', 0x1E, 'a'}, {'z', 0x2C, 'z'},
                 {',', 0x33, ','}, {'d', 0x20, 'd'}, {'A', 32, 'd'},  {'.', 32, 'd'}};
    for (const Case& c : cases) {
        EXPECT_EQ(KeyBindings::keyCode(c.c), c.code) << c.c;
        EXPECT_EQ(KeyBindings::keyChar(c.code), c.back) << c.c;
    }
    EXPECT_EQ(KeyBindings::keyChar(0x01), ' ');
}

// x = 10 t: the object's place tells the time it was drawn at.
struct TimeRamp : DynamicValue {
    float evaluate(double t) const override { return 10.0f * float(t); }
};

TEST(KeyBindings, BoundObjectDrawsAtItsLayerTime)
{
    demotest::Rig devices{32, 32};
    REQUIRE_DEVICES(devices);
    Rig rig;
    ASSERT_TRUE(rig.parse(kFixture));
    SceneBase scene(devices.engine.get());
    Object object(&scene, 0);
    object.mesh = rig.layer;
    object.channels[kPositionX].source = new TimeRamp;

    rig.hold('a', true);
    for (int i = 0; i < 3; ++i)
        rig.bindings.dispatch(rig.input, 0.25);
    ASSERT_DOUBLE_EQ(rig.layer->animationTime, 0.75);

    IDirect3DDevice9* device = devices.device();
    platform::d3d9::setCallLogging(device, true);
    object.invalidate();
    object.render(5.0, nullptr, 0); // the scene's time is not the object's
    const auto log = platform::d3d9::takeCallLog(device);
    platform::d3d9::setCallLogging(device, false);
    object.mesh = nullptr; // the layer belongs to the rig's object file

    std::vector<float> worldX;
    for (const auto& call : log)
        if (call.name == "SetTransform" && call.args[0] == double(D3DTS_WORLD) && call.data.size() == sizeof(D3DMATRIX)) {
            D3DMATRIX m;
            std::memcpy(&m, call.data.data(), sizeof m);
            worldX.push_back(m._41);
        }
    ASSERT_EQ(worldX.size(), 1u);
    EXPECT_FLOAT_EQ(worldX[0], 7.5f);
}

TEST(KeyBindings, LoadedForTheDemoSetsItsKeysetIndex)
{
    demotest::Rig devices{32, 32};
    REQUIRE_DEVICES(devices);
    const struct {
        const char* file; // null: no "inputHandler.scr" at all
        bool loads;
        i32 keysetIndex;
    } cases[] = {{kFixture, true, 0}, {"Key: a jump", false, -2}, {nullptr, false, -2}};
    for (const auto& c : cases) {
        Rig rig;
        Demo demo(devices.engine.get());
        demo.activeMeta = &rig.meta;
        MemoryStream source(c.file ? "inputHandler.scr" : "other.scr", c.file ? c.file : "");
        EXPECT_EQ(rig.bindings.load(demo, &source), c.loads) << (c.file ? c.file : "none");
        EXPECT_EQ(demo.keysetIndex, c.keysetIndex);
        EXPECT_NE(demo.keyScript, nullptr);
        demo.activeMeta = nullptr;
    }
    platform::clearRecordedMessageBoxes();
}

} // namespace
