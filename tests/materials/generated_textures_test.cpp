#include "materials/generated_textures.h"

#include "display/device_window.h"
#include "display/display_manager.h"
#include "display/format_table.h"
#include "foundation/diagnostics.h"
#include "foundation/envelope.h"
#include "foundation/matrix.h"
#include "materials/engine.h"
#include "materials/envelope_owner.h"

#include "platform/device_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <tuple>
#include <vector>

namespace {

// An engine over one or two headless devices. The devices are attached after
// construction: the device windows of the manager would release them.
struct TestEngine {
    DeviceFixture first;
    std::unique_ptr<DeviceFixture> second;
    AdapterInfo adapter;
    DisplayManager manager;
    std::unique_ptr<Engine> engine;
    int savedLevel = diagnosticsLevel;

    explicit TestEngine(int deviceCount = 1, std::vector<D3DFORMAT> textureFormats = {D3DFMT_A8R8G8B8},
                        D3DFORMAT renderTargetFormat = D3DFMT_A8R8G8B8)
    {
        diagnosticsLevel = 0;
        if (deviceCount > 1)
            second = std::make_unique<DeviceFixture>();
        for (D3DFORMAT f : textureFormats)
            adapter.textureFormats.push_back(findFormatDesc(f));
        if (renderTargetFormat != D3DFMT_UNKNOWN)
            adapter.renderTargetTextureFormats.push_back(findFormatDesc(renderTargetFormat));
        manager.deviceCount = deviceCount;
        manager.devices = new DeviceWindow[deviceCount];
        for (int i = 0; i < deviceCount; ++i) {
            manager.devices[i].adapterInfo = &adapter;
            manager.devices[i].depthFormat = findFormatDesc(D3DFMT_D24S8);
        }
        engine = std::make_unique<Engine>(&manager);
        engine->devices[0] = first.device.get();
        if (second)
            engine->devices[1] = second->device.get();
        engine->currentDevice = engine->devices[0];
        if (first.device)
            first->GetDeviceCaps(&engine->caps);
    }
    ~TestEngine() { diagnosticsLevel = savedLevel; }
    bool ready() const { return first.created == D3D_OK && (!second || second->created == D3D_OK); }
    Engine* get() const { return engine.get(); }
};

#define REQUIRE_ENGINE(e)                                                                                    \
    do {                                                                                                     \
        if (!(e).ready())                                                                                    \
            GTEST_SKIP() << "no Direct3D device can be created here";                                       \
    } while (0)

struct Level {
    UINT width = 0;
    UINT height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    std::vector<u32> texels;
    u32 at(UINT x, UINT y) const { return texels[size_t(y) * width + x]; }
};

// Level 0 of a lockable texture, top row first.
Level readLevel0(IDirect3DTexture9* texture)
{
    Level level;
    D3DSURFACE_DESC desc{};
    if (!texture || FAILED(texture->GetLevelDesc(0, &desc)))
        return level;
    level.width = desc.Width;
    level.height = desc.Height;
    level.format = desc.Format;
    D3DLOCKED_RECT locked{};
    if (desc.Format != D3DFMT_A8R8G8B8 || FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY)))
        return level;
    level.texels.resize(size_t(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y)
        std::memcpy(&level.texels[size_t(y) * desc.Width],
                    static_cast<const u8*>(locked.pBits) + size_t(y) * size_t(locked.Pitch), desc.Width * 4);
    texture->UnlockRect(0);
    return level;
}

u32 argb(float r, float g, float b, float a)
{
    const float c[4] = {r, g, b, a};
    return colorToARGB(c);
}

u32 grey(u32 g)
{
    return 0xFF000000u | g * 0x010101u;
}

IDirect3DTexture9* fakeTexture(uintptr_t n)
{
    return reinterpret_cast<IDirect3DTexture9*>(n * 16);
}

// ---------------------------------------------------------------------------
// Sequences

// A frame that only reports its texture and counts its loads.
class FakeFrame : public Texture {
public:
    FakeFrame(uintptr_t id, std::vector<uintptr_t>* loads)
        : Texture(nullptr, 1)
        , id(id)
        , loads(loads)
    {
        currentTextures[0] = fakeTexture(id);
    }
    Texture* clone() const override { return nullptr; }
    void load() override
    {
        if (loads)
            loads->push_back(id);
    }
    uintptr_t id;
    std::vector<uintptr_t>* loads;
};

std::unique_ptr<SequenceTexture> sequence(i32 first, i32 last, i32 offset, float rate, size_t frameCount,
                                          std::vector<uintptr_t>* loads = nullptr)
{
    auto s = std::make_unique<SequenceTexture>(nullptr);
    s->firstFrame = first;
    s->lastFrame = last;
    s->frameOffset = offset;
    s->frameRate = rate;
    for (size_t i = 0; i < frameCount; ++i)
        s->frames.push_back(std::make_unique<FakeFrame>(i + 1, loads));
    return s;
}

// The texture of frame index i.
IDirect3DTexture9* frame(size_t i)
{
    return fakeTexture(i + 1);
}

// The frame a sequence shows at a time; -1 for none.
TEST(SequenceTextureTest, FrameByTime)
{
    struct Row {
        const char* what;
        i32 first, last, offset;
        float rate;
        size_t frames;
        double time;
        int frame;
    } const rows[] = {
        {"start of the clip", 1, 10, 0, 25.0f, 10, 0.0, 0},
        {"truncated: 2.5", 1, 10, 0, 25.0f, 10, 0.1, 2},
        {"last frame", 1, 10, 0, 25.0f, 10, 0.39, 9},
        {"wraps to the start", 1, 10, 0, 25.0f, 10, 0.4, 0},
        {"25 mod 10", 1, 10, 0, 25.0f, 10, 1.0, 5},
        {"no rate: the offset alone", 1, 10, 13, 0.0f, 10, 0.0, 3},
        {"no rate at a late time", 1, 10, 13, 0.0f, 10, 1234.5, 3},
        {"negative offset", 1, 10, -1, 25.0f, 10, 0.0, 9},
        {"negative offset, 1 - 1", 1, 10, -1, 25.0f, 10, 0.04, 0},
        {"offset below -count", 1, 10, -23, 25.0f, 10, 0.0, 7},
        {"negative time: trunc(-2.5) = -2", 1, 10, 0, 25.0f, 10, -0.1, 8},
        {"last before first", 5, 4, 0, 25.0f, 3, 0.3, -1},
        {"range with no frame array", 1, 10, 0, 25.0f, 0, 0.2, -1},
        {"short array, last frame it has", 1, 10, 0, 1.0f, 5, 4.0, 4},
        {"short array, missing frame", 1, 10, 0, 1.0f, 5, 5.0, -1},
        {"extreme frame numbers do not overflow", INT32_MIN, INT32_MAX, 0, 1.0f, 4, 3.0, 3},
        {"1e20 mod 10 = 0", 1, 10, 3, 1.0f, 10, 1e20, 3},
        // 3 x 2^70 lies far beyond 64 bits; 2^70 mod 10 = 4, so 12 + 3 -> 5.
        {"huge time", 1, 10, 3, 1.0f, 10, std::ldexp(3.0, 70), 5},
        {"huge negative time, -2 + 3", 1, 10, 3, 1.0f, 10, -std::ldexp(3.0, 70), 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        auto s = sequence(r.first, r.last, r.offset, r.rate, r.frames);
        EXPECT_EQ(s->current(r.time), r.frame < 0 ? nullptr : frame(size_t(r.frame)));
    }

    EXPECT_EQ(sequence(1, 10, 0, 25.0f, 10)->frameIndex(-0.1), 8);
    auto s = sequence(1, 10, 3, 1.0f, 10);
    EXPECT_EQ(s->flags, 3u);
    EXPECT_NE(s->current(INFINITY), nullptr);
    EXPECT_NE(s->current(NAN), nullptr);
    s->frames[2].reset();
    EXPECT_EQ(s->current(9.0), nullptr) << "a frame slot left empty";
    s->firstFrame = 10;
    s->lastFrame = 1;
    EXPECT_EQ(s->current(0.0), nullptr);
    EXPECT_EQ(s->frameIndex(0.0), -1);
}

TEST(SequenceTextureTest, LoadCloneAndOwnership)
{
    std::vector<uintptr_t> loads;
    auto s = sequence(4, 6, 1, 30.0f, 3, &loads);
    s->name = "seq";
    s->load();
    EXPECT_EQ(loads, (std::vector<uintptr_t>{1, 2, 3}));

    std::unique_ptr<Texture> copy(s->clone());
    auto* c = dynamic_cast<SequenceTexture*>(copy.get());
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->name.c_str(), "seq");
    EXPECT_EQ(std::tie(c->firstFrame, c->lastFrame, c->frameOffset, c->frameRate),
              std::make_tuple(4, 6, 1, 30.0f));
    // The clone shares no frames and has none until given its own.
    EXPECT_TRUE(c->frames.empty());
    EXPECT_EQ(c->current(0.0), nullptr);
    c->load();
    EXPECT_EQ(loads.size(), 3u);
}

// ---------------------------------------------------------------------------
// Gradients

struct GradientLayer {
    EnvelopeOwner owner;
    TextureLayer layer;

    // Keyless envelopes with constant pre- and post-behaviour, as the object
    // reader makes them.
    explicit GradientLayer(std::vector<TextureLayer::GradientKey> keys, float start = 0.0f, float end = 1.0f)
    {
        layer.blockType = blockGRAD;
        layer.channel = channelCOLR;
        layer.gradientKeys = std::move(keys);
        layer.gradientRangeStart = start;
        layer.gradientRangeEnd = end;
        for (AnimatedValue& v : layer.gradient) {
            Envelope* e = owner.create();
            e->preBehavior = Envelope::behaviorConstant;
            e->postBehavior = Envelope::behaviorConstant;
            v.source = e;
        }
    }
    Envelope& envelope(int c) { return *layer.gradient[c].source->asEnvelope(); }
};

TextureLayer::GradientKey key(float input, float r, float g, float b, float a, i32 interpolation)
{
    TextureLayer::GradientKey k;
    k.input = input;
    k.red = r;
    k.green = g;
    k.blue = b;
    k.alpha = a;
    k.interpolation = interpolation;
    return k;
}

float gradientInput(float start, float end, int i)
{
    return start + float(i) * (end - start) * 0.0009765625f;
}

TEST(GradientTextureTest, KeysBecomeEnvelopesAndTheRowRunsRightToLeft)
{
    TestEngine e;
    REQUIRE_ENGINE(e);
    // A step at 0.49: inputs below it take the first key's colour.
    GradientLayer g({key(0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0), key(0.49f, 0.0f, 0.25f, 1.0f, 0.5f, 2)});
    GradientTexture t(e.get(), &g.layer);
    EXPECT_EQ(t.flags, 3u);
    t.load();

    EXPECT_STREQ(t.name.c_str(), "(gradient texture)");
    ASSERT_NE(t.baseTexture(), nullptr);
    EXPECT_EQ(t.levelCount, 11); // full chain of 1024 x 1
    const Level level = readLevel0(t.baseTexture());
    ASSERT_EQ(level.width, 1024u);
    ASSERT_EQ(level.height, 1u);
    ASSERT_EQ(level.texels.size(), 1024u);
    const u32 before = argb(1.0f, 0.0f, 0.0f, 1.0f);
    const u32 after = argb(0.0f, 0.25f, 1.0f, 0.5f);
    for (int i = 0; i < 1024; ++i) {
        // 502 / 1024 is the first input past 0.49.
        const u32 expected = i < 502 ? before : after;
        ASSERT_EQ(level.at(1023 - i, 0), expected) << "input step " << i;
    }

    // The key records became keys of the four envelopes.
    for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(g.envelope(c).keys.size(), 2u);
        EXPECT_FLOAT_EQ(g.envelope(c).keys[1].time, 0.49f);
        EXPECT_EQ(g.envelope(c).keys[1].shape, u32(EnvelopeKey::shapeStepped));
        EXPECT_EQ(g.envelope(c).keys[0].shape, u32(EnvelopeKey::shapeLinear));
    }
    EXPECT_FLOAT_EQ(g.envelope(2).keys[1].value, 1.0f);
    // The values of the last input (texel 0) stay in the layer.
    EXPECT_FLOAT_EQ(g.layer.gradient[1].value, 0.25f);
    EXPECT_FLOAT_EQ(g.layer.gradient[3].value, 0.5f);

    // Built again: no keys are added twice.
    t.load();
    EXPECT_EQ(g.envelope(0).keys.size(), 2u);
    EXPECT_EQ(readLevel0(t.baseTexture()).texels, level.texels);
}

TEST(GradientTextureTest, LinearKeysOverAnOffsetRange)
{
    TestEngine e;
    REQUIRE_ENGINE(e);
    // Out of order in the file: sorted by input before they become keys.
    GradientLayer g({key(3.0f, 1.0f, 0.5f, 0.0f, 1.0f, 0), key(-1.0f, 0.0f, 0.5f, 1.0f, 1.0f, 0)}, -1.0f, 3.0f);
    GradientTexture t(e.get(), &g.layer);
    t.build();
    ASSERT_FLOAT_EQ(g.envelope(0).keys[0].time, -1.0f);
    const Level level = readLevel0(t.baseTexture());
    ASSERT_EQ(level.texels.size(), 1024u);
    for (int i = 0; i < 1024; ++i) {
        const double s = (double(gradientInput(-1.0f, 3.0f, i)) + 1.0) / 4.0; // 0 .. 1 along the keys
        const u32 texel = level.at(1023 - i, 0);
        // Interpolated channels within one step of the formula's rounding.
        EXPECT_NEAR(double((texel >> 16) & 0xFF), std::floor(s * 255.0 + 0.5), 1.0) << i;
        EXPECT_NEAR(double(texel & 0xFF), std::floor((1.0 - s) * 255.0 + 0.5), 1.0) << i;
        ASSERT_EQ(texel & 0xFF00FF00u, 0xFF008000u) << i;
    }
}

TEST(GradientTextureTest, TransparencyTakesAlphaFromRed)
{
    TestEngine e;
    REQUIRE_ENGINE(e);
    GradientLayer g({key(0.0f, 0.25f, 1.0f, 0.0f, 1.0f, 1)});
    g.layer.channel = channelTRAN;
    GradientTexture t(e.get(), &g.layer);
    t.load();
    const Level level = readLevel0(t.baseTexture());
    ASSERT_EQ(level.texels.size(), 1024u);
    for (u32 texel : level.texels)
        ASSERT_EQ(texel, 0x4040FF00u); // 0.25 -> 64 in red and alpha
    // The alpha value is still evaluated and kept.
    EXPECT_FLOAT_EQ(g.layer.gradient[3].value, 1.0f);
    EXPECT_EQ(g.envelope(0).keys[0].shape, u32(EnvelopeKey::shapeTcb));
}

TEST(GradientTextureTest, EmptyRangeAndLayersWithoutEnvelopes)
{
    TestEngine e;
    REQUIRE_ENGINE(e);
    // Start equals end: every texel shows that one input.
    GradientLayer g({key(0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0), key(1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0)}, 0.75f, 0.75f);
    GradientTexture t(e.get(), &g.layer);
    t.load();
    const Level level = readLevel0(t.baseTexture());
    ASSERT_EQ(level.texels.size(), 1024u);
    for (u32 texel : level.texels)
        ASSERT_EQ(texel, argb(0.75f, 0.75f, 0.75f, 1.0f));

    // Key records but no envelopes: evaluated all the same, values kept.
    TextureLayer bare;
    bare.channel = channelCOLR;
    bare.gradientKeys = {key(0.0f, 0.5f, 0.0f, 1.0f, 1.0f, 2)};
    bare.gradientRangeEnd = 1.0f;
    GradientTexture fromKeys(e.get(), &bare);
    fromKeys.load();
    EXPECT_EQ(readLevel0(fromKeys.baseTexture()).at(17, 0), argb(0.5f, 0.0f, 1.0f, 1.0f));
    EXPECT_FLOAT_EQ(bare.gradient[0].value, 0.5f);
    EXPECT_EQ(bare.gradient[0].source, nullptr);

    // Neither keys nor envelopes: the stored values.
    TextureLayer constant;
    constant.gradient[0].value = 1.0f;
    constant.gradient[3].value = 1.0f;
    GradientTexture flat(e.get(), &constant);
    flat.load();
    EXPECT_EQ(readLevel0(flat.baseTexture()).at(1023, 0), 0xFFFF0000u);

    // Without a layer nothing is built.
    GradientTexture none(e.get(), nullptr);
    none.load();
    EXPECT_EQ(none.baseTexture(), nullptr);
}

TEST(GradientTextureTest, RebuildAfterFormatConversionWritesFullTexels)
{
    // The only texture format is 16-bit: the first build converts to it,
    // the second must still fill a 32-bit level before converting again.
    TestEngine e(1, {D3DFMT_A1R5G5B5});
    REQUIRE_ENGINE(e);
    GradientLayer g({key(0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0)});
    GradientTexture t(e.get(), &g.layer);
    t.load();
    ASSERT_NE(t.baseTexture(), nullptr);
    EXPECT_EQ(t.format, D3DFMT_A1R5G5B5);
    t.load();
    ASSERT_NE(t.baseTexture(), nullptr);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(t.baseTexture()->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_A1R5G5B5);
    EXPECT_EQ(desc.Width, 1024u);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(t.baseTexture()->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<const u16*>(locked.pBits)[0], 0xFFFFu);
    t.baseTexture()->UnlockRect(0);
}

// ---------------------------------------------------------------------------
// Procedurals

std::unique_ptr<ProceduralTexture> procedural(Engine* engine, const char* name)
{
    TextureLayer layer;
    layer.blockType = blockPROC;
    layer.name = name;
    return std::make_unique<ProceduralTexture>(engine, layer);
}

TEST(ProceduralTextureTest, NamedProcedurals)
{
    TestEngine e;
    REQUIRE_ENGINE(e);

    auto crumple = procedural(e.get(), "Crumple");
    EXPECT_EQ(crumple->flags, 3u);
    crumple->load();
    EXPECT_STREQ(crumple->name.c_str(), "(Procedural Crumple)");
    const Level c = readLevel0(crumple->baseTexture());
    ASSERT_EQ(c.width, 128u);
    ASSERT_EQ(c.height, 128u);
    ASSERT_EQ(c.texels.size(), 128u * 128u);
    u32 state = 1; // the C runtime's rand() from its first seed
    for (u32 texel : c.texels) {
        state = state * 214013u + 2531011u;
        ASSERT_EQ(texel, grey((state >> 16) & 0x7FFF & 255));
    }
    // Every build starts the sequence afresh.
    auto again = procedural(e.get(), "Crumpled paper");
    again->load();
    EXPECT_EQ(readLevel0(again->baseTexture()).texels, c.texels);

    auto turbulence = procedural(e.get(), "Turbulence");
    turbulence->load();
    EXPECT_STREQ(turbulence->name.c_str(), "(Procedural Texture)");
    const Level t = readLevel0(turbulence->baseTexture());
    ASSERT_EQ(t.width, 256u);
    ASSERT_EQ(t.height, 256u);
    ASSERT_EQ(t.texels.size(), 256u * 256u);
    for (u32 texel : t.texels)
        ASSERT_EQ(texel, 0u); // uploaded unfilled: zeroed

    auto value = procedural(e.get(), "Value");
    value->load();
    EXPECT_STREQ(value->name.c_str(), "(Procedural Value)");
    const Level v = readLevel0(value->baseTexture());
    ASSERT_FALSE(v.texels.empty());
    for (u32 texel : v.texels)
        ASSERT_EQ(texel, grey(128));
}

TEST(ProceduralTextureTest, SelectionUsesFiveCharactersAndTheLayerCopy)
{
    TestEngine e;
    REQUIRE_ENGINE(e);
    for (const char* name : {"Turbo", "Cru", "", "value", "Dots"}) {
        auto p = procedural(e.get(), name);
        p->load();
        EXPECT_EQ(p->baseTexture(), nullptr) << name;
    }
    auto turbu = procedural(e.get(), "TurbuXYZ");
    turbu->load();
    EXPECT_NE(turbu->baseTexture(), nullptr);

    // The texture keeps its own copy of the layer.
    TextureLayer layer;
    layer.name = "Value";
    ProceduralTexture p(e.get(), layer);
    layer.name = "Nothing";
    std::unique_ptr<Texture> copy(p.clone());
    copy->load();
    EXPECT_NE(copy->baseTexture(), nullptr);
    EXPECT_STREQ(static_cast<ProceduralTexture*>(copy.get())->layer.name.c_str(), "Value");
}

// ---------------------------------------------------------------------------
// Special textures

TEST(SpecialTextureTest, SpotCone)
{
    TestEngine e;
    REQUIRE_ENGINE(e);
    SpecialTexture t(e.get(), 3);
    EXPECT_EQ(t.baseTexture(), nullptr); // kind 3 waits for its builder
    const float intensity = 0.1f, edge = 0.2f, cone = 0.5f;
    createSpotTexture(&t, intensity, edge, cone);
    EXPECT_STREQ(t.name.c_str(), "(Spot)");
    EXPECT_EQ(t.flags, 6u);
    EXPECT_EQ(t.levelCount, 10);
    const Level level = readLevel0(t.baseTexture());
    ASSERT_EQ(level.width, 512u);
    ASSERT_EQ(level.texels.size(), 512u * 512u);
    // Along row 255 (ny = -0.5/255.5), with tan(0.5) = 0.5463: the angle
    // from the axis is atan(|n| x 0.5463). The peak is 8 x 0.1 = 0.8 -> 204.
    EXPECT_EQ(level.at(300, 255), grey(204)); // angle 0.0949: inside the cone less its edge
    // Angle 0.3382: 0.1618 short of the cone, within the edge of 0.2:
    // 0.8 x 0.1618 / 0.2 = 0.6471 -> 165.02.
    EXPECT_EQ(level.at(420, 255), grey(165));
    // Angle 0.4300: 0.8 x 0.0700 / 0.2 = 0.2799 -> 71.39.
    EXPECT_EQ(level.at(470, 255), grey(71));
    // Just past the cone, and the corners: black, alpha too.
    EXPECT_EQ(level.at(511, 255), 0u);
    EXPECT_EQ(level.at(0, 0), 0u);
    EXPECT_EQ(level.at(511, 511), 0u);
}

TEST(SpecialTextureTest, ParticleSpriteAndTexCoordMap)
{
    TestEngine e;
    REQUIRE_ENGINE(e);
    SpecialTexture particle(e.get(), SpecialTexture::kindParticle);
    EXPECT_STREQ(particle.name.c_str(), "(particle)");
    EXPECT_EQ(particle.flags, 6u);
    const Level p = readLevel0(particle.baseTexture());
    ASSERT_EQ(p.width, 128u);
    ASSERT_EQ(p.texels.size(), 128u * 128u);
    // 0.675 at the centre falling to 0 at 64 texels, in every channel:
    // 0.675 x 255 = 172.1; 16 out 0.5063 -> 129.1; 32 out 0.3375 -> 86.1.
    EXPECT_EQ(p.at(64, 64), 172u * 0x01010101u);
    EXPECT_EQ(p.at(64, 80), 129u * 0x01010101u);
    EXPECT_EQ(p.at(96, 64), 86u * 0x01010101u);
    EXPECT_EQ(p.at(32, 64), 86u * 0x01010101u);
    EXPECT_EQ(p.at(64, 0), 0u);  // 64 out
    EXPECT_EQ(p.at(127, 127), 0u);

    SpecialTexture map(e.get(), SpecialTexture::kindTexCoordMap);
    EXPECT_STREQ(map.name.c_str(), "(texcoord 1D map)");
    EXPECT_EQ(map.flags, 4u);
    EXPECT_EQ(map.levelCount, 1);
    const Level m = readLevel0(map.baseTexture());
    ASSERT_EQ(m.width, 256u);
    ASSERT_EQ(m.height, 1u);
    for (u32 i = 0; i < 256; ++i)
        ASSERT_EQ(m.at(i, 0), i * 0x01010101u);

    // A name given before the build stays.
    SpecialTexture named(e.get());
    named.name = "sprite";
    createParticleTexture(&named);
    EXPECT_STREQ(named.name.c_str(), "sprite");
    // The special kinds have nothing to load.
    named.load();
    EXPECT_NE(named.baseTexture(), nullptr);
}

TEST(SpecialTextureTest, FlareNoiseFollowsItsHash)
{
    // At 0 the hash of 0: (0 - 771171059) wraps to 3523796237, masked to
    // 1376312589; 1 - 1376312589 / 2^30 = -0.2817910. At 1 the hash of 71,
    // -0.3188271; halfway between, the mean.
    EXPECT_NEAR(flareNoise(0.0), -0.2817909839, 1e-9);
    EXPECT_NEAR(flareNoise(1.0), -0.3188271271, 1e-9);
    EXPECT_NEAR(flareNoise(0.5), -0.3003090555, 1e-9);
    EXPECT_NEAR(flareNoise(3.0), 0.2290679095, 1e-9);
    EXPECT_NEAR(flareNoise(-3.3), 0.4438887807, 1e-9);
    for (double x = 0.0; x < 80.0; x += 0.37) {
        EXPECT_GE(flareNoise(x), -1.0);
        EXPECT_LE(flareNoise(x), 1.0);
    }
}

TEST(SpecialTextureTest, FlareElements)
{
    TestEngine e;
    REQUIRE_ENGINE(e);
    const char* names[5] = {"(flare)", "(flare BRIGHTCTR)", "(flare EVENCTR)", "(flare DIMCTR)", "(flare RING)"};
    std::vector<Level> levels(5);
    for (int kind = 0; kind < 5; ++kind) {
        SCOPED_TRACE(names[kind]);
        SpecialTexture t(e.get());
        createFlareTextures(&t, kind);
        EXPECT_STREQ(t.name.c_str(), names[kind]);
        EXPECT_EQ(t.flags, 6u);
        const Level level = readLevel0(t.baseTexture());
        ASSERT_EQ(level.width, 512u);
        ASSERT_EQ(level.texels.size(), 512u * 512u);
        levels[size_t(kind)] = level;
        if (kind == 4) {
            // Brightest on the ring of radius 43.2, black far from it.
            u32 best = 0;
            double bestR = 0.0;
            for (int y = 0; y < 512; ++y)
                for (int x = 0; x < 512; ++x)
                    if ((level.at(x, y) & 0xFF) > best) {
                        best = level.at(x, y) & 0xFF;
                        bestR = std::hypot(x - 256.5, y - 256.5);
                    }
            EXPECT_GE(best, 252u);
            EXPECT_NEAR(bestR, 43.2, 0.5);
            EXPECT_EQ(level.at(256, 256), 0xFF000000u);
        }
    }
    // Texels worked by hand; the centre is (256.5, 256.5).
    struct Texel {
        int kind, x, y;
        u32 expected;
    };
    const Texel texels[] = {
        // Rays: angle atan2(dx, dy) + 5 pi/4, faded by 0.2 trunc(r) + 1. At
        // (300, 256) r = 43.5: a = 0.1384, (1 - a / 9.6) x 255 = 251.3,
        // 255 - 251 = 4. Its mirror (256, 300) gets a = 0.0469 and 2: the
        // angle takes dx first.
        {0, 256, 256, grey(16)},
        {0, 300, 256, grey(4)},
        {0, 256, 300, grey(2)},
        // Bright centre: (5.86 / ln r^2 - 0.53) x 255, 255 where ln r^2 <= 0.
        // At (266, 256) r^2 = 90.5, ln 4.505: 196.5.
        {1, 256, 256, grey(255)},
        {1, 266, 256, grey(196)},
        {1, 300, 256, grey(62)},
        // Even centre: 255 - r^6 / 2^40. At (456, 256) r^2 = 39800.5: 57.34 off.
        {2, 456, 256, grey(197)},
        {2, 0, 0, grey(0)},
        // Dim centre: 255 - 16 sqrt(r). r = 0.7071: 241.5; r = 99.5: 95.4.
        {3, 256, 256, grey(241)},
        {3, 356, 256, grey(95)},
        {3, 511, 511, grey(0)},
        // Ring: radius 512 x 0.084375 = 43.2, half width 35.84; at r = 42.50,
        // 1 - 0.0194 -> 250.0; at r = 23.51, 1 - 0.5495 -> 114.9.
        {4, 299, 256, grey(250)},
        {4, 256, 299, grey(250)},
        {4, 280, 256, grey(114)},
        {4, 256, 256, 0xFF000000u},
    };
    for (const Texel& t : texels)
        EXPECT_EQ(levels[size_t(t.kind)].at(t.x, t.y), t.expected) << names[t.kind] << " " << t.x << "," << t.y;

    SpecialTexture unknown(e.get());
    createFlareTextures(&unknown, 5);
    createFlareTextures(&unknown, -1);
    EXPECT_EQ(unknown.baseTexture(), nullptr);
}

TEST(SpecialTextureTest, VfmLookup)
{
    TestEngine e;
    REQUIRE_ENGINE(e);
    SpecialTexture t(e.get());
    createVfmTexture(&t);
    EXPECT_STREQ(t.name.c_str(), "(vfm)");
    EXPECT_EQ(t.flags, 4u);
    const Level level = readLevel0(t.baseTexture());
    ASSERT_EQ(level.width, 256u);
    ASSERT_EQ(level.height, 256u);
    ASSERT_EQ(level.texels.size(), 256u * 256u);
    EXPECT_EQ(level.at(255, 255), grey(255));
    EXPECT_EQ(level.at(0, 255), grey(0));
    EXPECT_EQ(level.at(255, 0), grey(0));
    // 0.9^40 = 0.0148: a narrow highlight.
    EXPECT_EQ(level.at(229, 255), grey(u32(std::pow(229.0 / 255.0, 40.0) * 255.0 + 0.5)));
    for (u32 texel : level.texels)
        ASSERT_EQ(texel >> 24, 0xFFu);
}

TEST(SpecialTextureTest, StereoDevicesGetCopies)
{
    TestEngine e(2);
    REQUIRE_ENGINE(e);
    SpecialTexture t(e.get(), SpecialTexture::kindParticle);
    ASSERT_NE(t.baseTextures[0], nullptr);
    ASSERT_NE(t.baseTextures[1], nullptr);
    EXPECT_NE(t.baseTextures[0], t.baseTextures[1]);
    EXPECT_EQ(readLevel0(t.baseTextures[1]).texels, readLevel0(t.baseTextures[0]).texels);
    e.engine->currentIndex = 1;
    EXPECT_EQ(t.current(0.0), t.baseTextures[1]);
}

// ---------------------------------------------------------------------------
// Render targets

void expectTarget(IDirect3DTexture9* texture, UINT width, UINT height, D3DFORMAT format)
{
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->GetLevelCount(), 1u);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, width);
    EXPECT_EQ(desc.Height, height);
    EXPECT_EQ(desc.Format, format);
    EXPECT_EQ(desc.Usage, DWORD(D3DUSAGE_RENDERTARGET));
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
}

TEST(TargetTextureTest, BakeTargetOnEveryDevice)
{
    TestEngine e(2);
    REQUIRE_ENGINE(e);
    TargetTexture t(e.get(), "floor", 1024, 1024);
    EXPECT_EQ(t.flags, 0u);
    EXPECT_EQ(t.format, e.engine->renderTargetFormat);
    expectTarget(t.baseTextures[0], 1024, 1024, D3DFMT_A8R8G8B8);
    expectTarget(t.baseTextures[1], 1024, 1024, D3DFMT_A8R8G8B8);
    EXPECT_NE(t.baseTextures[0], t.baseTextures[1]);
    EXPECT_EQ(t.currentTextures[1], t.baseTextures[1]);
    EXPECT_EQ(t.current(0.0), t.baseTextures[0]);

    IDirect3DSurface9* surface = t.surfaceLevel0();
    ASSERT_NE(surface, nullptr);
    IDirect3DSurface9* level0 = nullptr;
    ASSERT_EQ(t.baseTextures[0]->GetSurfaceLevel(0, &level0), D3D_OK);
    EXPECT_EQ(surface, level0);
    level0->Release();
    surface->Release();

    // A render target is drawable: clear it and read it back (without the
    // back buffer's smaller depth buffer, which would limit the clear).
    ComRef<IDirect3DSurface9> depth;
    ASSERT_EQ(e.engine->devices[0]->GetDepthStencilSurface(depth.out()), D3D_OK);
    ASSERT_EQ(e.engine->devices[0]->SetDepthStencilSurface(nullptr), D3D_OK);
    ASSERT_EQ(e.engine->devices[0]->SetRenderTarget(0, (surface = t.surfaceLevel0())), D3D_OK);
    ASSERT_EQ(e.engine->devices[0]->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699u, 1.0f, 0), D3D_OK);
    const std::vector<uint32_t> pixels = readTarget(e.engine->devices[0], surface);
    ASSERT_EQ(pixels.size(), 1024u * 1024u);
    EXPECT_EQ(pixels[0], 0xFF336699u);
    EXPECT_EQ(pixels[1024 * 1024 - 1], 0xFF336699u);
    ComRef<IDirect3DSurface9> back;
    ASSERT_EQ(e.engine->devices[0]->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
    e.engine->devices[0]->SetRenderTarget(0, back.get());
    e.engine->devices[0]->SetDepthStencilSurface(depth.get());
    surface->Release();

    // A clone has render targets of its own; load builds nothing new.
    std::unique_ptr<Texture> copy(t.clone());
    expectTarget(copy->baseTextures[0], 1024, 1024, D3DFMT_A8R8G8B8);
    EXPECT_NE(copy->baseTextures[0], t.baseTextures[0]);
    IDirect3DTexture9* before = copy->baseTextures[0];
    copy->load();
    EXPECT_EQ(copy->baseTextures[0], before);
}

TEST(TargetTextureTest, ScriptTargetsTakeTheOutputSizeWhereAllowed)
{
    TestEngine e;
    REQUIRE_ENGINE(e);
    e.engine->width = 320;
    e.engine->height = 200;
    e.engine->caps.TextureCaps |= D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
    TargetTexture any(e.get(), "scene2");
    expectTarget(any.baseTexture(), 320, 200, D3DFMT_A8R8G8B8);

    e.engine->caps.TextureCaps &= ~DWORD(D3DPTEXTURECAPS_NONPOW2CONDITIONAL);
    TargetTexture pow2(e.get(), "scene3");
    expectTarget(pow2.baseTexture(), 512, 512, D3DFMT_A8R8G8B8);

    // With flags: no device texture until its user creates one.
    TargetTexture mode(e.get(), 3u);
    EXPECT_EQ(mode.flags, 3u);
    EXPECT_EQ(mode.baseTexture(), nullptr);
    EXPECT_EQ(mode.surfaceLevel0(), nullptr);
    ASSERT_TRUE(mode.create2D(128, 16, mode.flags, ""));
    EXPECT_NE(mode.baseTexture(), nullptr);
    EXPECT_EQ(mode.surfaceLevel0(), nullptr); // not a render target
    std::unique_ptr<Texture> copy(mode.clone());
    EXPECT_EQ(copy->baseTexture(), nullptr);
}

// ---------------------------------------------------------------------------
// Textures that cannot be created

TEST(GeneratedTextureFailures, NoDeviceTextureMeansNoFillAndNoUpload)
{
    // No render-target format and no device: every kind stays empty.
    TestEngine e(1, {D3DFMT_A8R8G8B8}, D3DFMT_UNKNOWN);
    REQUIRE_ENGINE(e);
    TargetTexture target(e.get(), "t", 256, 256);
    EXPECT_EQ(target.baseTexture(), nullptr);
    EXPECT_EQ(target.surfaceLevel0(), nullptr);
    EXPECT_EQ(target.levelCount, 0);

    e.engine->devices[0] = nullptr;
    e.engine->currentDevice = nullptr;
    GradientLayer g({key(0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0)});
    GradientTexture gradient(e.get(), &g.layer);
    gradient.load();
    EXPECT_EQ(gradient.baseTexture(), nullptr);
    EXPECT_EQ(gradient.levelCount, 0);

    for (const char* name : {"Turbulence", "Crumple", "Value"}) {
        auto p = procedural(e.get(), name);
        p->load();
        EXPECT_EQ(p->baseTexture(), nullptr) << name;
    }

    SpecialTexture particle(e.get(), SpecialTexture::kindParticle);
    SpecialTexture map(e.get(), SpecialTexture::kindTexCoordMap);
    EXPECT_EQ(particle.baseTexture(), nullptr);
    EXPECT_EQ(map.baseTexture(), nullptr);
    SpecialTexture s(e.get());
    createSpotTexture(&s, 1.0f, 0.1f, 0.5f);
    for (int kind = 0; kind < 5; ++kind)
        createFlareTextures(&s, kind);
    createVfmTexture(&s);
    EXPECT_EQ(s.baseTexture(), nullptr);
    EXPECT_EQ(s.current(0.0), nullptr);

    TargetTexture noDevice(e.get(), "u", 64, 64);
    EXPECT_EQ(noDevice.baseTexture(), nullptr);

    // No texture object at all.
    createSpotTexture(nullptr, 1.0f, 0.1f, 0.5f);
    createParticleTexture(nullptr);
    createFlareTextures(nullptr, 0);
    createTexCoordMap(nullptr);
    createVfmTexture(nullptr);
}

TEST(GeneratedTextureFailures, NoEngine)
{
    SpecialTexture particle(nullptr, SpecialTexture::kindParticle);
    EXPECT_EQ(particle.baseTexture(), nullptr);
    TargetTexture target(nullptr, "t", 16, 16);
    EXPECT_EQ(target.baseTexture(), nullptr);
    TargetTexture script(nullptr, "s");
    EXPECT_EQ(script.width, 512);
    EXPECT_EQ(script.baseTexture(), nullptr);
    TextureLayer layer;
    layer.name = "Crumple";
    ProceduralTexture p(nullptr, layer);
    p.load();
    EXPECT_EQ(p.baseTexture(), nullptr);
}

} // namespace
