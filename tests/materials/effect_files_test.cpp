// The effect files of content/fx, compiled by the pairs that use them under
// the switch combinations surfaces produce, and drawn where the result can
// be worked out by hand.
#include "effect_test_support.h"
#include "texture_test_support.h"

#include "materials/effect_shader_pairs.h"
#include "materials/shader_parameters.h"
#include "materials/surface.h"
#include "materials/texture_layer.h"
#include "platform/device_test_support.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace texturetest;

namespace {

const char* const kFiles[] = {"common.fxh", "standard.fx", "bake.fx", "nullshader.fx", "mirrorshader.fx"};

EffectFiles contentFiles()
{
    const char* data = std::getenv("QUILLON_TEST_DATA");
    const std::string folder = std::string(data ? data : "tests/data") + "/../../content/fx/";
    EffectFiles files;
    for (const char* name : kFiles) {
        std::ifstream in(folder + name, std::ios::binary);
        EXPECT_TRUE(in) << folder + name;
        std::stringstream text;
        text << in.rdbuf();
        files[name] = text.str();
    }
    return files;
}

struct Effects {
    explicit Effects(Engine* engine)
        : standard(engine), bake(engine), null(engine), mirror(engine)
    {
        auto include = archive->sourcefile();
        loaded = standard.loadFile(*include, "standard.fx") && bake.loadFile(*include, "bake.fx") &&
                 null.loadFile(*include, "nullshader.fx") && mirror.loadFile(*include, "mirrorshader.fx");
    }
    std::unique_ptr<EffectArchive> archive = EffectArchive::of(contentFiles());
    StandardShaderPair standard;
    BakeShaderPair bake;
    ShaderPair null;
    MirrorShaderPair mirror;
    bool loaded = false;
};

std::string boxes()
{
    std::string all;
    for (const std::string& text : boxTexts())
        all += text + "\n";
    return all;
}

// Layers of a combination: the bump layer (when there is one) and then the
// others spread over the channels in the order the effects give them sets.
void setLayers(ShaderSwitches& s, int layers, bool bump)
{
    i32* counts[] = {s.numTexCOLR, s.numTexDIFF, s.numTexCOLR, s.numTexLUMI, s.numTexSPEC,
                     s.numTexREFL, s.numTexTRAN, s.numTexTRNL, s.numTexDIFF};
    for (i32* c : counts)
        *c = 0;
    *s.numTexBUMP = bump ? 1 : 0;
    for (int i = bump ? 1 : 0; i < layers; ++i)
        ++*counts[i % 9];
    // Every blend, inversion and gradient input somewhere.
    for (int k = 0; k < 4; ++k) {
        s.metaTexCOLRBlendop[k] = (layers + k) % 8;
        s.metaTexDIFFBlendop[k] = (layers + 3 * k) % 8;
        s.metaTexCOLRInvert[k] = (layers + k) % 2;
        s.metaTexBUMPInvert[k] = layers % 2;
        s.metaTexCOLRgInput[k] = (layers + k) % 3 - 1;
        s.metaTexLUMIgInput[k] = layers % 3 - 1;
    }
}

TEST(EffectFiles, EveryEntryPointCompilesUnderTheSurfaceCombinations)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    Diagnostics diagnostics(2);
    Effects fx(engine.get());
    ASSERT_TRUE(fx.loaded) << boxes();
    ShaderSwitches& s = *engine->switches;

    // Every function name a pair can ask for, under one busy combination.
    setLayers(s, 6, true);
    *s.numShadows = 1;
    *s.numBoneWeights = 2;
    *s.numActiveSpotLights = 1;
    for (ShaderPair* pair : {static_cast<ShaderPair*>(&fx.standard), static_cast<ShaderPair*>(&fx.bake)}) {
        for (const char* prefix : {"vshader", "vshaderS", "vshaderF", "vshaderSF"}) {
            if (pair == &fx.bake && std::string(prefix).find('S') != std::string::npos)
                continue;
            for (int n = 0; n <= 8; ++n) {
                const std::string name = prefix + std::to_string(n);
                ID3DXBuffer* code = nullptr;
                ID3DXBuffer* errors = nullptr;
                ID3DXConstantTable* table = nullptr;
                EXPECT_EQ(pair->compiler->CompileShader(name.c_str(), engine->vsProfile.c_str(), 0, &code, &errors,
                                                        &table),
                          D3D_OK)
                    << pair->name.c_str() << " " << name;
                for (IUnknown* u : {static_cast<IUnknown*>(code), static_cast<IUnknown*>(errors),
                                    static_cast<IUnknown*>(table)})
                    if (u)
                        u->Release();
            }
        }
    }

    // The combinations, each through all three surface pairs as drawing
    // would select them.
    for (int layers = 0; layers <= 8; ++layers) {
        for (bool bump : {false, true}) {
            if (bump && layers == 0)
                continue;
            // Shadows, fog and bones pairwise: every pair of their values
            // meets once.
            const int sets[4][3] = {{0, 0, 0}, {1, 1, 3}, {0, 1, 3}, {1, 0, 0}};
            for (const auto& set : sets) {
                const int shadows = set[0], fog = set[1], bones = set[2];
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
                EXPECT_TRUE(fx.standard.activate()) << fx.standard.vertexShaderName().c_str();
                EXPECT_TRUE(fx.bake.activate()) << fx.bake.vertexShaderName().c_str();
                EXPECT_TRUE(fx.null.activate());
            }
        }
    }
    EXPECT_TRUE(fx.mirror.activate());
    EXPECT_EQ(boxes(), "");
}

// ---------------------------------------------------------------------------
// Drawn


struct Position {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};

// A quad over the whole target at depth z, facing the viewer, with one
// coordinate set, through the pair as mesh drawing calls it.
std::vector<u32> drawQuad(Engine& engine, ShaderPair& pair, Surface* surface, float z)
{
    IDirect3DDevice9* d = engine.currentDevice;
    static const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
        {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END(),
    };
    IDirect3DVertexDeclaration9* declaration = nullptr;
    EXPECT_EQ(d->CreateVertexDeclaration(elements, &declaration), D3D_OK);
    std::vector<u32> pixels;
    pair.setStates(surface, 0.0);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetVertexDeclaration(declaration);
    if (pair.activate()) {
        pair.setSources(surface, 0.0);
        const Position quad[4] = {{-1, 1, z, 0, 0, -1, 0, 0},
                                  {1, 1, z, 0, 0, -1, 1, 0},
                                  {-1, -1, z, 0, 0, -1, 0, 1},
                                  {1, -1, z, 0, 0, -1, 1, 1}};
        d->BeginScene();
        EXPECT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Position)), D3D_OK);
        d->EndScene();
        IDirect3DSurface9* target = nullptr;
        d->GetRenderTarget(0, &target);
        pixels = readTarget(d, target);
        target->Release();
    }
    d->SetVertexDeclaration(nullptr);
    declaration->Release();
    return pixels;
}

Texture* solidTexture(Engine* engine, std::vector<std::unique_ptr<Texture>>& keep, u32 argb)
{
    auto t = std::make_unique<BuiltTexture>(engine, 0);
    if (!t->create2D(1, 1, 0, "(test)"))
        return nullptr;
    fillLevel0(*t, [argb](int, int) { return argb; });
    t->finishCreation();
    keep.push_back(std::move(t));
    return keep.back().get();
}

int channel(u32 argb, int shift)
{
    return int((argb >> shift) & 0xFF);
}

// Lambert light from a distant light and the ambient, over a colour layer
// blended half-way into the surface colour.
TEST(EffectFiles, StandardLightsAndLayersTheSurface)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    Diagnostics diagnostics(2);
    Effects fx(engine.get());
    ASSERT_TRUE(fx.loaded) << boxes();
    std::vector<std::unique_ptr<Texture>> textures;
    Texture* blue = solidTexture(engine.get(), textures, 0xFF0000FF);
    ASSERT_NE(blue, nullptr);

    ShaderUniforms& u = *engine->uniforms;
    // Light along the view axis at 60 degrees from the normal: N.L = 0.5.
    u.distantLightColor[0] = u.distantLightColor[1] = u.distantLightColor[2] = 0.8f;
    u.distantLightDir[0] = 0.0f;
    u.distantLightDir[1] = std::sqrt(0.75f);
    u.distantLightDir[2] = -0.5f;
    u.ambientLightColor[0] = u.ambientLightColor[1] = u.ambientLightColor[2] = 0.25f;
    *engine->switches->numActiveDistantLights = 1;

    struct Case {
        const char* name;
        bool layer;
        double red, blue;
    };
    // colour x (luminosity 0.1 + diffuse 0.5 x (0.25 + 0.8 x 0.5)); the
    // layer makes the colour (0.5, 0, 0.5).
    const double light = 0.1 + 0.5 * (0.25 + 0.8 * 0.5);
    for (const Case& c : {Case{"plain", false, 1.0 * light, 0.0}, Case{"half blue", true, 0.5 * light, 0.5 * light}}) {
        SCOPED_TRACE(c.name);
        Surface s(nullptr, "o@lit");
        s.color[0].value = 1.0f;
        s.color[1].value = 0.0f;
        s.color[2].value = 0.0f;
        s.luminosity.value = 0.1f;
        s.diffuse.value = 0.5f;
        if (c.layer) {
            auto layer = std::make_unique<TextureLayer>();
            layer->channel = channelCOLR;
            layer->texture = blue;
            layer->opacity.value = 0.5f;
            ASSERT_TRUE(s.addLayer(std::move(layer)));
        }
        const std::vector<u32> p = drawQuad(*engine.get(), fx.standard, &s, 0.5f);
        ASSERT_FALSE(p.empty()) << boxes();
        const u32 centre = p[p.size() / 2 + 4];
        EXPECT_NEAR(channel(centre, 16), int(c.red * 255 + 0.5), 2) << std::hex << centre;
        EXPECT_NEAR(channel(centre, 8), 0, 2) << std::hex << centre;
        EXPECT_NEAR(channel(centre, 0), int(c.blue * 255 + 0.5), 2) << std::hex << centre;
    }
}

// The shadow pass writes depth as colour; what it writes decodes to the
// depth, and the map's clear decodes beyond every written depth.
TEST(EffectFiles, ShadowMapColourDecodesToTheDepth)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    Diagnostics diagnostics(2);
    Effects fx(engine.get());
    ASSERT_TRUE(fx.loaded) << boxes();
    auto decode = [](u32 argb) {
        return channel(argb, 16) / 255.0 + channel(argb, 8) / 65025.0 + channel(argb, 0) / 16581375.0;
    };
    for (float z : {0.0f, 0.1234567f, 0.5f, 0.987654f}) {
        const std::vector<u32> p = drawQuad(*engine.get(), fx.null, nullptr, z);
        ASSERT_FALSE(p.empty()) << boxes();
        EXPECT_NEAR(decode(p[p.size() / 2]), z, 2e-5) << z << " " << std::hex << p[p.size() / 2];
    }
    const std::vector<u32> far = drawQuad(*engine.get(), fx.null, nullptr, 1.0f);
    ASSERT_FALSE(far.empty());
    EXPECT_LT(decode(far[far.size() / 2]), decode(0xFDFDFDFD));
    EXPECT_GT(decode(0xFDFDFDFD), 0.99);
}

} // namespace
