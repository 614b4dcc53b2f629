// The effect-based pairs over a surface (states, switches, uniforms, and
// textures by sampler name) and the effect files of content/fx: compiled
// under the combinations surfaces produce, and drawn where the result can be
// worked out by hand.
#include "effect_test_support.h"
#include "texture_test_support.h"

#include "materials/effect_shader_pairs.h"
#include "materials/pass_state.h"
#include "materials/shader_parameters.h"
#include "materials/surface.h"
#include "materials/texture_layer.h"
#include "platform/device_test_support.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

using namespace texturetest;

namespace {

struct PassGuard {
    explicit PassGuard(i32 mode) { shadowPassMode = mode; }
    ~PassGuard() { shadowPassMode = 0; }
};

EffectFiles contentFiles()
{
    const char* data = std::getenv("QUILLON_TEST_DATA");
    const std::string folder = std::string(data ? data : "tests/data") + "/../../content/fx/";
    EffectFiles files;
    for (const char* name : {"common.fxh", "standard.fx", "bake.fx", "nullshader.fx", "mirrorshader.fx"}) {
        std::ifstream in(folder + name, std::ios::binary);
        EXPECT_TRUE(in) << folder + name;
        std::stringstream text;
        text << in.rdbuf();
        files[name] = text.str();
    }
    return files;
}

// An engine with the four effect pairs over the content files, and the
// textures of one test.
class Rig {
public:
    Rig() : diagnostics(2)
    {
        if (!engine)
            return;
        auto include = archive->sourcefile();
        loaded = standard.loadFile(*include, "standard.fx") && bake.loadFile(*include, "bake.fx") &&
                 null.loadFile(*include, "nullshader.fx") && mirror.loadFile(*include, "mirrorshader.fx");
    }
    ~Rig() { textures.clear(); }
    explicit operator bool() const { return bool(engine); }
    IDirect3DDevice9* device() const { return engine->currentDevice; }

    Texture* solid(u32 argb)
    {
        auto t = std::make_unique<BuiltTexture>(engine.get(), 0);
        EXPECT_TRUE(t->create2D(1, 1, 0, "(test)"));
        fillLevel0(*t, [argb](int, int) { return argb; });
        t->finishCreation();
        textures.push_back(std::move(t));
        return textures.back().get();
    }
    DWORD render(D3DRENDERSTATETYPE type) const { return read(&IDirect3DDevice9::GetRenderState, type); }
    DWORD sampler(DWORD s, D3DSAMPLERSTATETYPE type) const { return read(&IDirect3DDevice9::GetSamplerState, s, type); }
    template <typename Getter, typename... Args>
    DWORD read(Getter getter, Args... args) const
    {
        DWORD v = 0xDEADBEEF;
        (device()->*getter)(args..., &v);
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

    // A quad over the whole target at depth z facing the viewer, with one
    // coordinate set, through the pair as mesh drawing calls it; the target
    // read back (empty when activate failed).
    std::vector<u32> draw(ShaderPair& pair, Surface* surface, float z = 0.5f)
    {
        struct Vertex {
            float x, y, z, nx, ny, nz, u, v;
        };
        static const D3DVERTEXELEMENT9 elements[] = {
            {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
            {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
            {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
            D3DDECL_END(),
        };
        IDirect3DDevice9* d = device();
        IDirect3DVertexDeclaration9* declaration = nullptr;
        EXPECT_EQ(d->CreateVertexDeclaration(elements, &declaration), D3D_OK);
        std::vector<u32> pixels;
        pair.setStates(surface, 0.0);
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetVertexDeclaration(declaration);
        if (pair.activate()) {
            pair.setSources(surface, 0.0);
            const Vertex quad[4] = {{-1, 1, z, 0, 0, -1, 0, 0}, {1, 1, z, 0, 0, -1, 1, 0},
                                    {-1, -1, z, 0, 0, -1, 0, 1}, {1, -1, z, 0, 0, -1, 1, 1}};
            d->BeginScene();
            EXPECT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex)), D3D_OK);
            d->EndScene();
            pixels = readBackBuffer(d);
        }
        d->SetVertexDeclaration(nullptr);
        declaration->Release();
        return pixels;
    }

    Diagnostics diagnostics;
    TestEngine engine;
    std::unique_ptr<EffectArchive> archive = EffectArchive::of(contentFiles());
    StandardShaderPair standard{engine.get()};
    BakeShaderPair bake{engine.get()};
    ShaderPair null{engine.get()};
    MirrorShaderPair mirror{engine.get()};
    bool loaded = false;
    std::vector<std::unique_ptr<Texture>> textures;
};

std::string boxes()
{
    std::string all;
    for (const std::string& text : boxTexts())
        all += text + "\n";
    return all;
}

TextureLayer* addLayer(Surface& surface, u32 channel, Texture* texture)
{
    auto layer = std::make_unique<TextureLayer>();
    layer->channel = channel;
    layer->texture = texture;
    TextureLayer* raw = layer.get();
    EXPECT_TRUE(surface.addLayer(std::move(layer)));
    return raw;
}

int channel(u32 argb, int shift)
{
    return int((argb >> shift) & 0xFF);
}

// ---------------------------------------------------------------------------
// setStates

TEST(EffectPairs, BlendDepthAndAlphaTestFollowTheSurface)
{
    Rig rig;
    REQUIRE_ENGINE(rig);
    Texture* white = rig.solid(0xFFFFFFFF);
    rig.engine->defaultCullMode = D3DCULL_CW;
    const DWORD T = TRUE, F = FALSE, alpha = D3DBLEND_SRCALPHA, one = D3DBLEND_ONE, any = 0;
    struct Case {
        const char* name;
        std::function<void(Surface&)> setUp;
        i32 pass;
        DWORD zwrite, blend, src, alphaTest, cull;
        float alpha;
    } cases[] = {
        {"opaque", [](Surface&) {}, 0, T, F, any, F, D3DCULL_CW, 1.0f},
        {"transparent", [](Surface& s) { s.setTransparency(0.25f, nullptr); }, 0, F, T, alpha, F, D3DCULL_CW, 0.75f},
        {"additive", [](Surface& s) { s.setAdditiveTransparency(0.4f, nullptr); }, 0, F, T, one, F, D3DCULL_CW, 0.6f},
        {"mirror", [](Surface& s) { s.reflection.value = 0.3f; s.setReflectionOptions(0); }, 0, T, T, one, F,
         D3DCULL_CW, 0.7f},
        {"cut-out map", [&](Surface& s) { addLayer(s, channelTRAN, white); }, 0, T, T, alpha, T, D3DCULL_CW, 1.0f},
        // Shadow maps take the whole shape and never blend.
        {"cut-out in a shadow map", [&](Surface& s) { addLayer(s, channelTRAN, white); }, 2, T, F, alpha, F,
         D3DCULL_CW, 1.0f},
        {"transparent in a shadow map", [](Surface& s) { s.setTransparency(0.25f, nullptr); }, 1, F, F, any, F,
         D3DCULL_CW, 0.75f},
        {"alpha map over transparency",
         [&](Surface& s) {
             s.setTransparency(0.5f, nullptr);
             addLayer(s, channelTRAN, white)->opacityType = 3;
         },
         0, F, T, alpha, F, D3DCULL_CW, 0.5f},
        {"double sided", [](Surface& s) { s.setSidedness(3); }, 0, T, F, any, F, D3DCULL_NONE, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Surface s(nullptr, "o@s");
        c.setUp(s);
        PassGuard pass(c.pass);
        rig.device()->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        rig.standard.setStates(&s, 0.0);
        EXPECT_EQ(rig.render(D3DRS_ZWRITEENABLE), c.zwrite);
        EXPECT_EQ(rig.render(D3DRS_ALPHABLENDENABLE), c.blend);
        if (c.src != any) {
            EXPECT_EQ(rig.render(D3DRS_SRCBLEND), c.src);
            EXPECT_EQ(rig.render(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA));
        }
        EXPECT_EQ(rig.render(D3DRS_ALPHATESTENABLE), c.alphaTest);
        if (c.alphaTest) {
            EXPECT_EQ(rig.render(D3DRS_ALPHAREF), 127u);
        }
        EXPECT_EQ(rig.render(D3DRS_CULLMODE), c.cull);
        EXPECT_FLOAT_EQ(rig.engine->uniforms->srfColor[3], c.alpha);
    }
}

TEST(EffectPairs, SwitchesAndUniformsFromTheSurface)
{
    Rig rig;
    REQUIRE_ENGINE(rig);
    Texture* white = rig.solid(0xFFFFFFFF);
    ShaderSwitches& sw = *rig.engine->switches;
    ShaderUniforms& u = *rig.engine->uniforms;
    // Specularity: off without value or map; the exponent's limit; a map
    // alone turns the switch on.
    struct Spec {
        float specularity, glossiness;
        bool map;
        i32 enabled;
        float power;
    };
    for (const Spec& c : {Spec{0.0f, 0.4f, false, 0, 0.0f}, Spec{0.5f, 1.0f, false, 1, 127.9961f},
                          Spec{0.0f, 0.4f, true, 1, 0.0f}}) {
        Surface s(nullptr, "o@spec");
        s.specularity.value = c.specularity;
        s.glossiness.value = c.glossiness;
        if (c.map)
            addLayer(s, channelSPEC, white);
        rig.standard.setStates(&s, 0.0);
        EXPECT_EQ(*sw.specularEnabled, c.enabled) << c.specularity << " " << c.map;
        EXPECT_FLOAT_EQ(u.srfLighting[3], c.power) << c.specularity << " " << c.glossiness;
    }

    // Five colour layers (four reach the arrays), two diffuse, one bump.
    IDirect3DDevice9* d = rig.device();
    d->SetTextureStageState(3, D3DTSS_TEXCOORDINDEX, 0);
    Surface s(nullptr, "o@layers");
    s.boneWeightCount = 3;
    s.sphericalReflectionTexture = white;
    for (int i = 0; i < 5; ++i) {
        TextureLayer* l = addLayer(s, channelCOLR, white);
        l->opacity.value = i == 1 ? 0.5f : 1.0f;
        l->opacityType = i;
        l->invert = i == 2;
        l->gradientParameter = 10 + i;
        l->gradientRangeEnd = i == 3 ? 4.0f : 0.0f;
    }
    addLayer(s, channelDIFF, white)->opacity.value = 0.25f;
    addLayer(s, channelDIFF, white)->opacityType = 7;
    rig.standard.setStates(&s, 0.0);
    EXPECT_EQ(*sw.numTexCOLR, 5);
    EXPECT_EQ(*sw.sphericalEnvmapAvailable, 1);
    EXPECT_EQ(*sw.numBoneWeights, 3);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(sw.metaTexCOLRFullOpacity[k], k == 1 ? 0 : 1) << k;
        EXPECT_EQ(sw.metaTexCOLRBlendop[k], k) << "the fifth layer must not overwrite " << k;
        EXPECT_EQ(sw.metaTexCOLRgInput[k], 10 + k) << k;
        EXPECT_EQ(sw.metaTexCOLRInvert[k], k == 2 ? 1 : 0) << k;
        for (int c = 0; c < 3; ++c)
            EXPECT_FLOAT_EQ(u.metaTexCOLROpacity[3 * k + c], k == 1 ? 0.5f : 1.0f) << k;
    }
    EXPECT_FLOAT_EQ(u.metaTexCOLRgParam[4 * 3 + 3], 0.25f);
    EXPECT_EQ(u.metaTexCOLRgParam[3], std::numeric_limits<float>::infinity()) << "image layers end their range at 0";
    // Each channel counts its own layers from 0.
    EXPECT_FLOAT_EQ(u.metaTexDIFFOpacity[0], 0.25f);
    EXPECT_EQ(sw.metaTexDIFFBlendop[1], 7);
    // Every stage reads its own set.
    DWORD index = 0;
    d->GetTextureStageState(3, D3DTSS_TEXCOORDINDEX, &index);
    EXPECT_EQ(index, 3u);
}

// ---------------------------------------------------------------------------
// setSources

TEST(EffectPairs, SamplersBindByName)
{
    Rig rig;
    REQUIRE_ENGINE(rig);
    Diagnostics diagnostics(3);
    EffectArchive files({{"samplers.fx", R"(
sampler2D COLR0 : register(s0);
sampler2D DIFF1 : register(s1);
sampler2D ZIMG0 : register(s2);
sampler2D NAME0 : register(s3);
sampler2D ZMAP0 : register(s4);
sampler2D LUMI : register(s5);
sampler2D SPOT1 : register(s6);
float4 vshader(float3 p : POSITION) : POSITION { return float4(p, 1); }
float4 pshader() : COLOR0
{
    float2 uv = float2(0.5, 0.5);
    return tex2D(COLR0, uv) + tex2D(DIFF1, uv) + tex2D(ZIMG0, uv)
         + tex2D(NAME0, uv) + tex2D(ZMAP0, uv) + tex2D(LUMI, uv) + tex2D(SPOT1, uv);
}
)"}});
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
    // One shadow but no spot light: ZMAP0 stays unbound, and SPOT1 names no
    // shadow at all.
    *rig.engine->switches->numShadows = 1;
    for (DWORD stage = 0; stage < 7; ++stage)
        rig.device()->SetTexture(stage, stray->current(0.0));

    ASSERT_FALSE(rig.draw(pair, &s).empty());
    EXPECT_EQ(rig.bound(0), red->current(0.0));
    EXPECT_EQ(rig.bound(1), green->current(0.0)) << "DIFF1 is the second diffuse layer";
    EXPECT_EQ(rig.bound(2), blue->current(0.0));
    for (DWORD stage : {3u, 4u, 5u, 6u})
        EXPECT_EQ(rig.bound(stage), nullptr) << "stage " << stage << " must be unbound";
    const DWORD layerStates[][2] = {{D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP}, {D3DSAMP_ADDRESSV, D3DTADDRESS_MIRROR},
                                    {D3DSAMP_MIPFILTER, D3DTEXF_NONE},     {D3DSAMP_MAGFILTER, D3DTEXF_POINT},
                                    {D3DSAMP_MINFILTER, D3DTEXF_POINT}};
    for (const auto& [state, value] : layerStates)
        EXPECT_EQ(rig.sampler(1, D3DSAMPLERSTATETYPE(state)), value) << state;
    EXPECT_EQ(rig.sampler(0, D3DSAMP_MINFILTER), DWORD(D3DTEXF_ANISOTROPIC));
    EXPECT_EQ(rig.sampler(2, D3DSAMP_MIPFILTER), DWORD(D3DTEXF_LINEAR));
    EXPECT_EQ(rig.sampler(4, D3DSAMP_ADDRESSU), DWORD(D3DTADDRESS_BORDER));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Assertion failed: - internal error -"});

    // Without a pixel shader: the box, and nothing bound.
    platform::clearRecordedMessageBoxes();
    ShaderPair empty(rig.engine.get());
    empty.setSources(&s, 0.0);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error: no shader set"});
}

// ---------------------------------------------------------------------------
// The effect files

// Layers of a combination: the bump layer (when there is one), then the
// others spread over the channels, with every blend, inversion and gradient
// input somewhere.
void setLayers(ShaderSwitches& s, int layers, bool bump)
{
    i32* counts[] = {s.numTexCOLR, s.numTexDIFF, s.numTexCOLR, s.numTexLUMI, s.numTexSPEC,
                     s.numTexREFL, s.numTexTRAN, s.numTexTRNL, s.numTexDIFF};
    for (i32* c : counts)
        *c = 0;
    *s.numTexBUMP = bump ? 1 : 0;
    for (int i = bump ? 1 : 0; i < layers; ++i)
        ++*counts[i % 9];
    for (int k = 0; k < 4; ++k) {
        s.metaTexCOLRBlendop[k] = (layers + k) % 8;
        s.metaTexDIFFBlendop[k] = (layers + 3 * k) % 8;
        s.metaTexCOLRInvert[k] = (layers + k) % 2;
        s.metaTexBUMPInvert[k] = layers % 2;
        s.metaTexCOLRgInput[k] = (layers + k) % 3 - 1;
        s.metaTexLUMIgInput[k] = layers % 3 - 1;
    }
}

TEST(EffectPairs, StandardVertexShaderCountsItsInputs)
{
    Rig rig;
    REQUIRE_ENGINE(rig);
    ShaderSwitches& s = *rig.engine->switches;
    struct Case {
        i32 specular, fog, shadows, colour, bump, envmap;
        const char* name;
    } cases[] = {
        {0, 0, 0, 0, 0, 0, "vshader0"},
        {1, 1, 1, 0, 0, 0, "vshaderSF3"},  // three inputs a shadow with specular
        {0, 0, 2, 1, 0, 1, "vshader6"},    // two a shadow without; the sphere map one
        {0, 0, 0, 1, 1, 0, "vshader6"},    // a bump layer: itself and four more
        {1, 0, 2, 2, 1, 1, "vshaderS8"},   // at most eight
    };
    for (const Case& c : cases) {
        setLayers(s, 0, false);
        *s.specularEnabled = c.specular, *s.isFogEnabled = c.fog, *s.numShadows = c.shadows;
        *s.numTexCOLR = c.colour, *s.numTexBUMP = c.bump, *s.sphericalEnvmapAvailable = c.envmap;
        EXPECT_STREQ(rig.standard.vertexShaderName().c_str(), c.name);
    }
}

TEST(EffectPairs, EveryEntryPointCompilesUnderTheSurfaceCombinations)
{
    Rig rig;
    REQUIRE_ENGINE(rig);
    ASSERT_TRUE(rig.loaded) << boxes();
    ShaderSwitches& s = *rig.engine->switches;

    // Every function name a pair can ask for, under one busy combination.
    setLayers(s, 6, true);
    *s.numShadows = 1;
    *s.numBoneWeights = 2;
    *s.numActiveSpotLights = 1;
    for (ShaderPair* pair : {static_cast<ShaderPair*>(&rig.standard), static_cast<ShaderPair*>(&rig.bake)}) {
        for (std::string prefix : {"vshader", "vshaderF", "vshaderS", "vshaderSF"}) {
            if (pair == &rig.bake && prefix.find('S') != std::string::npos)
                continue;
            for (int n = 0; n <= 8; ++n) {
                const std::string name = prefix + std::to_string(n);
                ID3DXBuffer* code = nullptr;
                ID3DXConstantTable* table = nullptr;
                EXPECT_EQ(pair->compiler->CompileShader(name.c_str(), "vs_2_0", 0, &code, nullptr, &table), D3D_OK)
                    << pair->name.c_str() << " " << name;
                if (code)
                    code->Release();
                if (table)
                    table->Release();
            }
        }
    }

    // Each combination through the surface pairs as drawing selects them;
    // shadows, fog and bones pairwise (every pair of their values
    // meets once).
    const int sets[4][3] = {{0, 0, 0}, {1, 1, 3}, {0, 1, 3}, {1, 0, 0}};
    for (int layers = 0; layers <= 8; ++layers) {
        for (bool bump : {false, true}) {
            for (const auto& [shadows, fog, bones] : sets) {
                if (bump && layers == 0)
                    continue;
                SCOPED_TRACE(testing::Message() << "layers " << layers << " bump " << bump << " shadows " << shadows
                                                << " fog " << fog << " bones " << bones);
                setLayers(s, layers, bump);
                *s.numShadows = shadows;
                *s.isFogEnabled = fog;
                *s.numBoneWeights = bones;
                *s.specularEnabled = layers % 2;
                *s.sphericalEnvmapAvailable = layers == 3;
                *s.cubemapAvailable = layers == 4;
                *s.isLocalViewer = layers % 3 == 0;
                *s.isCylindricalViewer = layers == 5;
                *s.numActiveDistantLights = layers % 3;
                *s.numActivePointLights = layers % 4;
                *s.numActiveSpotLights = (layers + 1) % 3;
                for (int i = 0; i < 8; ++i) {
                    s.pointLightFalloffType[i] = (i + layers) % 3;
                    s.spotLightFalloffType[i] = (i + layers + 1) % 3;
                }
                EXPECT_TRUE(rig.standard.activate()) << rig.standard.vertexShaderName().c_str();
                // Those two read no layer but the lightmap's set.
                if (layers % 4 == 0 || layers == 3) {
                    EXPECT_TRUE(rig.bake.activate()) << rig.bake.vertexShaderName().c_str();
                    EXPECT_TRUE(rig.null.activate());
                }
            }
        }
    }
    EXPECT_TRUE(rig.mirror.activate());
    EXPECT_EQ(boxes(), "");
}

// Lambert light from a distant light and the ambient, over a colour layer
// blended half-way into the surface colour.
TEST(EffectPairs, StandardLightsAndLayersTheSurface)
{
    Rig rig;
    REQUIRE_ENGINE(rig);
    ASSERT_TRUE(rig.loaded) << boxes();
    Texture* blue = rig.solid(0xFF0000FF);
    ShaderUniforms& u = *rig.engine->uniforms;
    // At 60 degrees from the normal: N.L = 0.5.
    const float light[3] = {0.0f, std::sqrt(0.75f), -0.5f};
    for (int i = 0; i < 3; ++i) {
        u.distantLightColor[i] = 0.8f;
        u.distantLightDir[i] = light[i];
        u.ambientLightColor[i] = 0.25f;
    }
    *rig.engine->switches->numActiveDistantLights = 1;
    // colour x (luminosity 0.1 + diffuse 0.5 x (0.25 + 0.8 x 0.5)); the
    // layer turns red into (0.5, 0, 0.5).
    const double lit = 0.1 + 0.5 * (0.25 + 0.8 * 0.5);
    for (bool layer : {false, true}) {
        Surface s(nullptr, "o@lit");
        s.color[0].value = 1.0f;
        s.color[1].value = 0.0f;
        s.color[2].value = 0.0f;
        s.luminosity.value = 0.1f;
        s.diffuse.value = 0.5f;
        if (layer)
            addLayer(s, channelCOLR, blue)->opacity.value = 0.5f;
        const std::vector<u32> p = rig.draw(rig.standard, &s);
        ASSERT_FALSE(p.empty()) << boxes();
        const u32 centre = p[p.size() / 2 + 4];
        EXPECT_NEAR(channel(centre, 16), int((layer ? 0.5 : 1.0) * lit * 255 + 0.5), 2) << std::hex << centre;
        EXPECT_NEAR(channel(centre, 8), 0, 2) << std::hex << centre;
        EXPECT_NEAR(channel(centre, 0), int((layer ? 0.5 : 0.0) * lit * 255 + 0.5), 2) << std::hex << centre;
    }
}

// The shadow pass writes the light-space depth z as colour, kept as
// z / (z + 8); the map's clear decodes beyond every written depth.
TEST(EffectPairs, ShadowMapColourDecodesToTheDepth)
{
    Rig rig;
    REQUIRE_ENGINE(rig);
    ASSERT_TRUE(rig.loaded) << boxes();
    auto decode = [](u32 argb) {
        return channel(argb, 16) / 255.0 + channel(argb, 8) / 65025.0 + channel(argb, 0) / 16581375.0;
    };
    for (float z : {0.0f, 0.1234567f, 0.5f, 0.987654f}) {
        const std::vector<u32> p = rig.draw(rig.null, nullptr, z);
        ASSERT_FALSE(p.empty()) << boxes();
        const double kept = decode(p[p.size() / 2]);
        EXPECT_NEAR(8.0 * kept / (1.0 - kept), z, 2e-5) << z << " " << std::hex << p[p.size() / 2];
    }
    const std::vector<u32> far = rig.draw(rig.null, nullptr, 1.0f);
    ASSERT_FALSE(far.empty());
    EXPECT_LT(decode(far[far.size() / 2]), decode(0xFDFDFDFD));
    EXPECT_GT(decode(0xFDFDFDFD), 0.99);
}

} // namespace
