// What the effect-based pairs take from a surface: render states, switches
// and uniforms in setStates, and the texture of every sampler by its name in
// setSources, drawn on a headless device.
#include "effect_test_support.h"
#include "texture_test_support.h"

#include "materials/effect_shader_pairs.h"
#include "materials/pass_state.h"
#include "materials/shader_parameters.h"
#include "materials/surface.h"
#include "materials/texture_layer.h"
#include "platform/device_test_support.h"

#include <cmath>
#include <limits>

using namespace texturetest;

namespace {

struct PassGuard {
    explicit PassGuard(i32 mode) { shadowPassMode = mode; }
    ~PassGuard() { shadowPassMode = 0; }
};

class Rig {
public:
    Rig()
    {
        if (engine)
            pair = std::make_unique<StandardShaderPair>(engine.get());
    }
    ~Rig()
    {
        pair.reset();
        textures.clear();
    }
    explicit operator bool() const { return pair != nullptr; }
    IDirect3DDevice9* device() const { return engine->currentDevice; }

    Texture* solid(u32 argb)
    {
        auto t = std::make_unique<BuiltTexture>(engine.get(), 0);
        if (!t->create2D(1, 1, 0, "(test)"))
            return nullptr;
        fillLevel0(*t, [argb](int, int) { return argb; });
        t->finishCreation();
        textures.push_back(std::move(t));
        return textures.back().get();
    }
    DWORD render(D3DRENDERSTATETYPE type) const
    {
        DWORD v = 0xDEADBEEF;
        device()->GetRenderState(type, &v);
        return v;
    }
    DWORD sampler(DWORD s, D3DSAMPLERSTATETYPE type) const
    {
        DWORD v = 0xDEADBEEF;
        device()->GetSamplerState(s, type, &v);
        return v;
    }
    IDirect3DBaseTexture9* bound(DWORD s) const
    {
        IDirect3DBaseTexture9* t = nullptr;
        device()->GetTexture(s, &t);
        if (t)
            t->Release();
        return t;
    }

    TestEngine engine;
    std::unique_ptr<StandardShaderPair> pair;
    std::vector<std::unique_ptr<Texture>> textures;
};

#define REQUIRE_RIG(rig)                                                                                    \
    do {                                                                                                    \
        if (!(rig))                                                                                         \
            GTEST_SKIP() << "no Direct3D device can be created here";                                      \
    } while (0)

TextureLayer* addLayer(Surface& surface, u32 channel, Texture* texture)
{
    auto layer = std::make_unique<TextureLayer>();
    layer->channel = channel;
    layer->texture = texture;
    TextureLayer* raw = layer.get();
    EXPECT_TRUE(surface.addLayer(std::move(layer)));
    return raw;
}

// ---------------------------------------------------------------------------

TEST(EffectPairStates, BlendDepthAndAlphaTestFollowTheSurface)
{
    Rig rig;
    REQUIRE_RIG(rig);
    Texture* white = rig.solid(0xFFFFFFFF);
    rig.engine->defaultCullMode = D3DCULL_CW;

    struct Case {
        const char* name;
        std::function<void(Surface&)> setUp;
        i32 pass;
        DWORD zwrite, blend, src, dest, alphaTest, cull;
        float alpha;
    };
    const DWORD T = TRUE, F = FALSE, any = 0xFFFF;
    const Case cases[] = {
        {"opaque", [](Surface&) {}, 0, T, F, any, any, F, D3DCULL_CW, 1.0f},
        {"transparent", [](Surface& s) { s.setTransparency(0.25f, nullptr); }, 0, F, T, D3DBLEND_SRCALPHA,
         D3DBLEND_INVSRCALPHA, F, D3DCULL_CW, 0.75f},
        {"additive", [](Surface& s) { s.setAdditiveTransparency(0.4f, nullptr); }, 0, F, T, D3DBLEND_ONE,
         D3DBLEND_INVSRCALPHA, F, D3DCULL_CW, 0.6f},
        {"mirror reflection", [](Surface& s) { s.reflection.value = 0.3f; s.setReflectionOptions(0); }, 0, T, T,
         D3DBLEND_ONE, D3DBLEND_INVSRCALPHA, F, D3DCULL_CW, 0.7f},
        {"cut-out map", [white](Surface& s) { addLayer(s, channelTRAN, white); }, 0, T, T, D3DBLEND_SRCALPHA,
         D3DBLEND_INVSRCALPHA, T, D3DCULL_CW, 1.0f},
        // Shadow maps take the whole shape and never blend.
        {"cut-out map in a shadow pass", [white](Surface& s) { addLayer(s, channelTRAN, white); }, 2, T, F,
         D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, F, D3DCULL_CW, 1.0f},
        {"transparent in a shadow pass", [](Surface& s) { s.setTransparency(0.25f, nullptr); }, 1, F, F, any, any,
         F, D3DCULL_CW, 0.75f},
        {"alpha map over transparency",
         [white](Surface& s) {
             s.setTransparency(0.5f, nullptr);
             addLayer(s, channelTRAN, white)->opacityType = 3;
         },
         0, F, T, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, F, D3DCULL_CW, 0.5f},
        {"double sided", [](Surface& s) { s.setSidedness(3); }, 0, T, F, any, any, F, D3DCULL_NONE, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Surface s(nullptr, "o@s");
        c.setUp(s);
        PassGuard pass(c.pass);
        rig.device()->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        rig.pair->setStates(&s, 0.0);
        EXPECT_EQ(rig.render(D3DRS_ZWRITEENABLE), c.zwrite);
        EXPECT_EQ(rig.render(D3DRS_ALPHABLENDENABLE), c.blend);
        if (c.src != any) {
            EXPECT_EQ(rig.render(D3DRS_SRCBLEND), c.src);
            EXPECT_EQ(rig.render(D3DRS_DESTBLEND), c.dest);
        }
        EXPECT_EQ(rig.render(D3DRS_ALPHATESTENABLE), c.alphaTest);
        if (c.alphaTest) {
            EXPECT_EQ(rig.render(D3DRS_ALPHAFUNC), DWORD(D3DCMP_GREATER));
            EXPECT_EQ(rig.render(D3DRS_ALPHAREF), 127u);
        }
        EXPECT_EQ(rig.render(D3DRS_CULLMODE), c.cull);
        EXPECT_EQ(rig.render(D3DRS_SPECULARENABLE), DWORD(FALSE));
        EXPECT_FLOAT_EQ(rig.engine->uniforms->srfColor[3], c.alpha);
    }
}

TEST(EffectPairStates, SwitchesAndUniformsFromTheSurface)
{
    Rig rig;
    REQUIRE_RIG(rig);
    Texture* white = rig.solid(0xFFFFFFFF);
    ShaderSwitches& sw = *rig.engine->switches;
    ShaderUniforms& u = *rig.engine->uniforms;
    IDirect3DDevice9* d = rig.device();
    d->SetTextureStageState(3, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(3, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);

    // Specularity: off without value or map; the exponent's limit; a map
    // alone turns the switch on.
    struct Spec {
        float specularity, glossiness;
        bool map;
        i32 enabled;
        float power;
    };
    for (const Spec& c : {Spec{0.0f, 0.4f, false, 0, 0.0f}, Spec{0.5f, 1.0f, false, 1, 127.9961f},
                          Spec{0.5f, 0.25f, false, 1, std::pow(2.0f, 4.5f)},
                          Spec{0.0f, 0.4f, true, 1, 0.0f}}) {
        Surface s(nullptr, "o@spec");
        s.specularity.value = c.specularity;
        s.glossiness.value = c.glossiness;
        if (c.map)
            addLayer(s, channelSPEC, white);
        rig.pair->setStates(&s, 0.0);
        EXPECT_EQ(*sw.specularEnabled, c.enabled) << c.specularity << " " << c.map;
        EXPECT_FLOAT_EQ(u.srfLighting[3], c.power) << c.specularity << " " << c.glossiness;
    }

    // Six colour layers (four reach the arrays), two diffuse, one bump.
    Surface s(nullptr, "o@layers");
    s.color[0].value = 0.1f;
    s.color[1].value = 0.2f;
    s.color[2].value = 0.3f;
    s.luminosity.value = 0.125f;
    s.diffuse.value = 0.75f;
    s.reflection.value = 0.5f;
    s.setAdditiveTransparency(0.0f, nullptr);
    s.boneWeightCount = 3;
    s.sphericalReflectionTexture = white;
    for (int i = 0; i < 5; ++i) {
        TextureLayer* l = addLayer(s, channelCOLR, white);
        if (!l)
            continue;
        l->opacity.value = i == 1 ? 0.5f : 1.0f;
        l->opacityType = i;
        l->invert = i == 2;
        l->gradientParameter = 10 + i;
        l->gradientRangeEnd = i == 3 ? 4.0f : 0.0f;
    }
    addLayer(s, channelDIFF, white)->opacity.value = 0.25f;
    addLayer(s, channelDIFF, white)->opacityType = 7;
    addLayer(s, channelBUMP, white);
    rig.pair->setStates(&s, 2.5);

    EXPECT_EQ(*sw.numTexCOLR, 5);
    EXPECT_EQ(*sw.numTexDIFF, 2);
    EXPECT_EQ(*sw.numTexBUMP, 1);
    EXPECT_EQ(*sw.numTexSPEC, 0);
    EXPECT_EQ(*sw.sphericalEnvmapAvailable, 1);
    EXPECT_EQ(*sw.cubemapAvailable, 0);
    EXPECT_EQ(*sw.numBoneWeights, 3);
    EXPECT_FLOAT_EQ(*u.time, 2.5f);
    const float colour[4] = {0.1f, 0.2f, 0.3f, 1.0f};
    const float lighting[4] = {0.125f, 0.75f, 0.0f, 0.0f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(u.srfColor[i], colour[i]) << i;
        EXPECT_FLOAT_EQ(u.srfLighting[i], lighting[i]) << i;
    }
    EXPECT_FLOAT_EQ(u.srfReflectivity[2], 0.5f);

    const i32 fullOpacity[4] = {1, 0, 1, 1};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(sw.metaTexCOLRFullOpacity[k], fullOpacity[k]) << k;
        EXPECT_EQ(sw.metaTexCOLRBlendop[k], k) << "the fifth layer must not overwrite " << k;
        EXPECT_EQ(sw.metaTexCOLRgInput[k], 10 + k) << k;
        EXPECT_EQ(sw.metaTexCOLRInvert[k], k == 2 ? 1 : 0) << k;
        for (int c = 0; c < 3; ++c)
            EXPECT_FLOAT_EQ(u.metaTexCOLROpacity[3 * k + c], k == 1 ? 0.5f : 1.0f) << k;
    }
    EXPECT_FLOAT_EQ(u.metaTexCOLRgParam[4 * 3 + 3], 0.25f);
    EXPECT_EQ(u.metaTexCOLRgParam[3], std::numeric_limits<float>::infinity()) << "image layers have range end 0";
    // Each channel counts its own layers from 0.
    EXPECT_FLOAT_EQ(u.metaTexDIFFOpacity[0], 0.25f);
    EXPECT_EQ(sw.metaTexDIFFFullOpacity[0], 0);
    EXPECT_EQ(sw.metaTexDIFFBlendop[1], 7);
    EXPECT_EQ(sw.metaTexBUMPFullOpacity[0], 1);

    // Every stage reads its own set, untransformed.
    EXPECT_GE(rig.engine->caps.MaxSimultaneousTextures, 4u);
    DWORD v = 0;
    d->GetTextureStageState(3, D3DTSS_TEXCOORDINDEX, &v);
    EXPECT_EQ(v, 3u);
    d->GetTextureStageState(3, D3DTSS_TEXTURETRANSFORMFLAGS, &v);
    EXPECT_EQ(v, DWORD(D3DTTFF_DISABLE));
}

// ---------------------------------------------------------------------------
// setSources

// Samples the named textures on a quad over the whole target; the stage of
// every sampler keeps its register.
const char* const kSamplerEffect = R"(
sampler2D COLR0 : register(s0);
sampler2D DIFF1 : register(s1);
sampler2D ZIMG0 : register(s2);
sampler2D NAME0 : register(s3);
sampler2D ZMAP0 : register(s4);
sampler2D LUMI  : register(s5);
float4 vshader(float3 p : POSITION) : POSITION { return float4(p, 1); }
float4 pshader() : COLOR0
{
    float2 uv = float2(0.5, 0.5);
    return tex2D(COLR0, uv) * 0.5 + tex2D(DIFF1, uv) * 0.25 + tex2D(ZIMG0, uv) * 0.25
         + (tex2D(NAME0, uv) + tex2D(ZMAP0, uv) + tex2D(LUMI, uv)) * 0.001;
}
)";

TEST(EffectPairSources, SamplersBindByName)
{
    Rig rig;
    REQUIRE_RIG(rig);
    Diagnostics diagnostics(3);
    EffectArchive files({{"samplers.fx", kSamplerEffect}});
    ShaderPair pair(rig.engine.get());
    ASSERT_TRUE(pair.loadFile(*files.sourcefile(), "samplers.fx"));
    Texture* red = rig.solid(0xFFFF0000);
    Texture* green = rig.solid(0xFF00FF00);
    Texture* blue = rig.solid(0xFF0000FF);
    Texture* stray = rig.solid(0xFFFFFFFF);

    Surface s(nullptr, "o@bound");
    addLayer(s, channelCOLR, red);
    addLayer(s, channelDIFF, stray);
    TextureLayer* second = addLayer(s, channelDIFF, green);
    second->wrapModeWidth = D3DTADDRESS_CLAMP;
    second->wrapModeHeight = D3DTADDRESS_MIRROR;
    second->antialiasingStrength = 0.0f;
    second->pixelBlending = 0;
    s.sphericalReflectionTexture = blue;
    *rig.engine->switches->numShadows = 1; // no spot light: ZMAP0 stays unbound

    IDirect3DDevice9* d = rig.device();
    for (DWORD stage = 0; stage < 6; ++stage)
        d->SetTexture(stage, stray->current(0.0));
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    pair.setStates(&s, 0.0);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetFVF(D3DFVF_XYZ);
    ASSERT_TRUE(pair.activate());
    pair.setSources(&s, 0.0);

    EXPECT_EQ(rig.bound(0), red->current(0.0));
    EXPECT_EQ(rig.bound(1), green->current(0.0)) << "DIFF1 is the second diffuse layer";
    EXPECT_EQ(rig.bound(2), blue->current(0.0));
    for (DWORD stage : {3u, 4u, 5u})
        EXPECT_EQ(rig.bound(stage), nullptr) << "stage " << stage << " must be unbound";
    // The layer's sampling, and the fixed one of the reflection map.
    EXPECT_EQ(rig.sampler(1, D3DSAMP_ADDRESSU), DWORD(D3DTADDRESS_CLAMP));
    EXPECT_EQ(rig.sampler(1, D3DSAMP_ADDRESSV), DWORD(D3DTADDRESS_MIRROR));
    EXPECT_EQ(rig.sampler(1, D3DSAMP_MIPFILTER), DWORD(D3DTEXF_NONE));
    EXPECT_EQ(rig.sampler(1, D3DSAMP_MAGFILTER), DWORD(D3DTEXF_POINT));
    EXPECT_EQ(rig.sampler(1, D3DSAMP_MINFILTER), DWORD(D3DTEXF_POINT));
    EXPECT_EQ(rig.sampler(0, D3DSAMP_MINFILTER), DWORD(D3DTEXF_ANISOTROPIC));
    EXPECT_EQ(rig.sampler(2, D3DSAMP_ADDRESSU), DWORD(D3DTADDRESS_WRAP));
    EXPECT_EQ(rig.sampler(2, D3DSAMP_MIPFILTER), DWORD(D3DTEXF_LINEAR));
    EXPECT_EQ(rig.sampler(4, D3DSAMP_ADDRESSU), DWORD(D3DTADDRESS_BORDER));
    EXPECT_EQ(rig.sampler(4, D3DSAMP_BORDERCOLOR), 0u);
    // The missing shadow map is reported, once.
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Assertion failed: - internal error -"});

    struct V {
        float x, y, z;
    };
    const V quad[4] = {{-1, 1, 0.5f}, {1, 1, 0.5f}, {-1, -1, 0.5f}, {1, -1, 0.5f}};
    d->BeginScene();
    ASSERT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V)), D3D_OK);
    d->EndScene();
    const std::vector<u32> pixels = readBackBuffer(d);
    ASSERT_FALSE(pixels.empty());
    // red x 0.5 + green x 0.25 + blue x 0.25; unbound stages read black.
    const u32 p = pixels[pixels.size() / 2];
    EXPECT_NEAR(int((p >> 16) & 0xFF), 128, 2) << std::hex << p;
    EXPECT_NEAR(int((p >> 8) & 0xFF), 64, 2) << std::hex << p;
    EXPECT_NEAR(int(p & 0xFF), 64, 2) << std::hex << p;
}

TEST(EffectPairSources, NoPixelShaderShowsTheBox)
{
    Rig rig;
    REQUIRE_RIG(rig);
    Surface s(nullptr, "o@none");
    for (int level : {0, 1}) {
        Diagnostics diagnostics(level);
        rig.pair->setSources(&s, 0.0);
        const std::vector<std::string> want = level ? std::vector<std::string>{"Error: no shader set"}
                                                    : std::vector<std::string>{};
        EXPECT_EQ(boxTexts(), want) << level;
    }
}

} // namespace
