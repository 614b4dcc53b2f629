// Shader pairs over effect files read from a packed archive: variants cached
// by the switch values, constants uploaded by name, samplers by register,
// the "Parse Error" box and what damaged effect text does.
#include "materials/effect_shader_pairs.h"
#include "materials/engine.h"
#include "materials/shader_pair.h"
#include "materials/shader_parameters.h"
#include "materials/sourcefile.h"

#include "display/display_manager.h"
#include "foundation/diagnostics.h"
#include "foundation/file_stream.h"
#include "foundation/sar_archive.h"
#include "platform/d3d9/adapter_profiles.h"
#include "platform/d3d9/device_test_api.h"
#include "tools/sarpack/sar_writer.h"

#include "effect_test_support.h"
#include "log_test_support.h"
#include "output_test_support.h"

#include <d3dx9.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using testsupport::LevelGuard;

// The "Parse Error" boxes shown since the last clear.
std::vector<platform::MessageBoxRecord> parseErrorBoxes()
{
    std::vector<platform::MessageBoxRecord> boxes;
    for (const platform::MessageBoxRecord& box : platform::recordedMessageBoxes())
        if (box.caption == "Parse Error")
            boxes.push_back(box);
    return boxes;
}

// Counts the include files opened through it.
class CountingSourcefile : public Sourcefile {
public:
    using Sourcefile::Sourcefile;
    std::vector<std::string> opened;
    int closes = 0;

    STDMETHODIMP Open(D3DXINCLUDE_TYPE type, LPCSTR name, LPCVOID parent, LPCVOID* data, UINT* bytes) override
    {
        opened.push_back(name ? name : "");
        return Sourcefile::Open(type, name, parent, data, bytes);
    }
    STDMETHODIMP Close(LPCVOID data) override
    {
        ++closes;
        return Sourcefile::Close(data);
    }
};

// A pair that counts its compiles: the vertex function name is asked once
// per compile. The function may follow a switch, so that some switch
// values name a function the effect lacks.
class CountingPair : public ShaderPair {
public:
    using ShaderPair::ShaderPair;
    int compiles = 0;
    bool nameByShadows = false;

    String vertexShaderName() override
    {
        ++compiles;
        if (nameByShadows)
            return String::format("vshader%d", *engine->switches->numShadows);
        return ShaderPair::vertexShaderName();
    }
};

// ---------------------------------------------------------------------------
// Headless devices behind an engine.

// The default profile's outputs, small enough to read back whole.
class Outputs : public testsupport::Outputs {
public:
    explicit Outputs(const std::function<void(DisplaySettings&)>& configure = {})
        : testsupport::Outputs({platform::defaultAdapterProfile()}, [&configure](DisplaySettings& s) {
            s.windowWidth = kWidth;
            s.windowHeight = kHeight;
            if (configure)
                configure(s);
        })
    {
    }

    static constexpr int kWidth = 16;
    static constexpr int kHeight = 8;
};

class ShaderPairTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        diagnosticsLevel = 2;
        platform::clearRecordedMessageBoxes();
    }
    void TearDown() override { platform::clearRecordedMessageBoxes(); }

    LevelGuard level;
};

// ---------------------------------------------------------------------------
// Effects.

// Switches and uniforms as the engine names them. The vertex colour carries
// a scalar, an element of a float3 array, a float4x3 and an element of a
// float4x3 array; the pixel shader scales it by a float4 and by a global
// that only has its default. Two switches are literals that change the
// pixel colour.
const char* const kEffect = R"(// test effect
int numShadows;
int pointLightFalloffType[8];
float4x4 matWorldViewProj;
float4x3 matWorldView;
float4x3 matBone[24];
float3 distantLightColor[8];
float time;
float4 srfColor;
float4 tint = {1, 1, 1, 1};

struct VsOut {
    float4 pos : POSITION;
    float4 colour : COLOR0;
};

VsOut vshader(float3 p : POSITION)
{
    VsOut o;
    o.pos = mul(float4(p, 1), matWorldViewProj);
    float3 wv = mul(float4(1, 0, 0, 1), matWorldView);
    float3 bone = mul(float4(0, 1, 0, 1), matBone[1]);
    o.colour = float4(time, distantLightColor[2].y, wv.z, bone.x);
    return o;
}

float4 pshader(float4 c : COLOR0) : COLOR0
{
    if (numShadows == 1)
        return float4(1, 0, 0, 1);
    if (pointLightFalloffType[3] == 2)
        return float4(0, 1, 0, 1);
    return c * srfColor * tint;
}
)";

// Only the position transform and a flat colour.
const char* const kFlatEffect = R"(
float4x4 matWorldViewProj;
float4 srfColor;
float4 vshader(float3 p : POSITION) : POSITION { return mul(float4(p, 1), matWorldViewProj); }
float4 pshader() : COLOR0 { return srfColor; }
)";

D3DMATRIX identity()
{
    D3DMATRIX m = {};
    for (int i = 0; i < 4; ++i)
        m.m[i][i] = 1.0f;
    return m;
}

// Model (x, y) in 0..1 onto the left half of the target, y downwards.
D3DMATRIX leftHalf()
{
    D3DMATRIX m = identity();
    m.m[1][1] = -2.0f;
    m.m[3][0] = -1.0f;
    m.m[3][1] = 1.0f;
    return m;
}

struct Position {
    float x, y, z;
};

// Clears the target black, draws the unit quad through the pair and reads
// the back buffer (top row first). Empty when activate failed.
std::vector<u32> drawQuad(Engine& engine, ShaderPair& pair)
{
    IDirect3DDevice9* d = engine.currentDevice;
    static const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        D3DDECL_END(),
    };
    IDirect3DVertexDeclaration9* declaration = nullptr;
    EXPECT_EQ(d->CreateVertexDeclaration(elements, &declaration), D3D_OK);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    d->SetVertexDeclaration(declaration);
    std::vector<u32> pixels;
    if (pair.activate()) {
        const Position quad[4] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
        d->BeginScene();
        EXPECT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Position)), D3D_OK);
        d->EndScene();
        IDirect3DSurface9* back = nullptr;
        IDirect3DSurface9* copy = nullptr;
        D3DLOCKED_RECT lr{};
        if (SUCCEEDED(d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back)) &&
            SUCCEEDED(d->CreateOffscreenPlainSurface(Outputs::kWidth, Outputs::kHeight, D3DFMT_A8R8G8B8,
                                                     D3DPOOL_SYSTEMMEM, &copy, nullptr)) &&
            SUCCEEDED(d->GetRenderTargetData(back, copy)) && SUCCEEDED(copy->LockRect(&lr, nullptr, D3DLOCK_READONLY))) {
            pixels.resize(Outputs::kWidth * Outputs::kHeight);
            for (int y = 0; y < Outputs::kHeight; ++y)
                std::memcpy(&pixels[y * Outputs::kWidth], static_cast<const char*>(lr.pBits) + y * lr.Pitch,
                            Outputs::kWidth * 4);
            copy->UnlockRect();
        }
        if (copy)
            copy->Release();
        if (back)
            back->Release();
    }
    d->SetVertexDeclaration(nullptr);
    declaration->Release();
    return pixels;
}

bool near(u32 a, u32 b)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 1)
            return false;
    return true;
}

// The quad covers the left half; the right half keeps the clear colour.
void expectLeftHalf(const std::vector<u32>& pixels, u32 colour)
{
    ASSERT_EQ(pixels.size(), size_t(Outputs::kWidth * Outputs::kHeight));
    for (int y = 0; y < Outputs::kHeight; ++y)
        for (int x = 0; x < Outputs::kWidth; ++x) {
            const u32 want = x < Outputs::kWidth / 2 ? colour : 0xFF000000;
            EXPECT_PRED2(near, pixels[y * Outputs::kWidth + x], want)
                << x << "," << y << " " << std::hex << pixels[y * Outputs::kWidth + x];
        }
}

u32 argb(double a, double r, double g, double b)
{
    auto c = [](double v) { return u32(v * 255.0 + 0.5); };
    return c(a) << 24 | c(r) << 16 | c(g) << 8 | c(b);
}

// ---------------------------------------------------------------------------

TEST_F(ShaderPairTest, ConstructionAndPlainNames)
{
    DisplayManager manager;
    Engine engine(&manager);
    ShaderPair pair(&engine);
    EXPECT_EQ(pair.engine, &engine);
    EXPECT_STREQ(pair.name.c_str(), "<shader>");
    EXPECT_TRUE(pair.variants.empty());
    EXPECT_EQ(pair.compiler, nullptr);
    EXPECT_EQ(pair.currentVertexShader, nullptr);
    EXPECT_STREQ(pair.vertexShaderName().c_str(), "vshader");
    EXPECT_STREQ(pair.pixelShaderName().c_str(), "pshader");
    // Nothing loaded: nothing to compile, and no box for it.
    EXPECT_FALSE(pair.activate());
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
}

TEST_F(ShaderPairTest, ConstantsByNameReachTheShader)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    EffectArchive files({{"test.fx", kEffect}});
    ShaderPair pair(&engine);
    ASSERT_TRUE(pair.loadFile(*files.sourcefile(), "test.fx"));
    EXPECT_STREQ(pair.name.c_str(), "test.fx");

    ShaderUniforms& u = *engine.uniforms;
    // World: z moved by 0.75, which matWorldView's third column carries.
    D3DMATRIX world = identity();
    world.m[3][2] = 0.75f;
    u.setWorld(world);
    u.setView(identity());
    u.setProjection(leftHalf());
    D3DMATRIX bone = {};
    bone.m[1][0] = 0.5f;
    bone.m[3][0] = 0.125f;
    bone.m[0][1] = 0.9f; // would show if rows and columns were swapped
    u.setBoneMatrix(1, bone);
    *u.time = 0.5f;
    u.distantLightColor[7] = 0.25f; // element 2, y
    u.distantLightColor[6] = 0.9f;
    u.distantLightColor[8] = 0.9f;
    const float white[4] = {1, 1, 1, 1};
    std::memcpy(u.srfColor, white, sizeof white);

    expectLeftHalf(drawQuad(engine, pair), argb(0.625, 0.5, 0.25, 0.75));
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());

    // Uploaded again on every activation: a new vector, a new transform.
    u.srfColor[2] = 0.5f;
    world.m[3][2] = 0.25f;
    u.setWorld(world);
    expectLeftHalf(drawQuad(engine, pair), argb(0.625, 0.5, 0.25, 0.125));
    EXPECT_EQ(pair.variants.size(), 1u);
}

TEST_F(ShaderPairTest, MatricesLandInTheRegistersColumnByColumn)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    EffectArchive files({{"test.fx", kEffect}});
    ShaderPair pair(&engine);
    ASSERT_TRUE(pair.loadFile(*files.sourcefile(), "test.fx"));

    ShaderUniforms& u = *engine.uniforms;
    // An affine world with a different value in every element that matters.
    D3DMATRIX world = identity();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c)
            world.m[r][c] = float(1 + 4 * r + c);
    u.setWorld(world);
    u.setView(identity());
    u.setProjection(identity());
    ASSERT_TRUE(pair.activate());

    ID3DXConstantTable* table = pair.currentVertexShader->constants;
    auto firstRegister = [table](const char* name) {
        D3DXCONSTANT_DESC desc{};
        UINT count = 1;
        EXPECT_EQ(table->GetConstantDesc(name, &desc, &count), D3D_OK) << name;
        return desc.RegisterIndex;
    };
    IDirect3DDevice9* d = engine.currentDevice;
    // float4x4: register k holds column k of world x view x projection.
    float regs[4][4];
    ASSERT_EQ(d->GetVertexShaderConstantF(firstRegister("matWorldViewProj"), &regs[0][0], 4), D3D_OK);
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(regs[k][i], world.m[i][k]) << k << "," << i;
    // float4x3: three registers, the first three columns of world x view.
    ASSERT_EQ(d->GetVertexShaderConstantF(firstRegister("matWorldView"), &regs[0][0], 3), D3D_OK);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(regs[k][i], world.m[i][k]) << k << "," << i;
}

TEST_F(ShaderPairTest, SwitchLiteralsSelectTheVariant)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    EffectArchive files({{"test.fx", kEffect}});
    CountingPair pair(&engine);
    ASSERT_TRUE(pair.loadFile(*files.sourcefile(), "test.fx"));
    engine.uniforms->setProjection(leftHalf());
    const float white[4] = {1, 1, 1, 1};
    std::memcpy(engine.uniforms->srfColor, white, sizeof white);
    *engine.uniforms->time = 1.0f;
    engine.uniforms->matBone[12 + 3] = 1.0f; // bone 1 row 3 column 0: alpha 1

    expectLeftHalf(drawQuad(engine, pair), argb(1, 1, 0, 0.0));
    *engine.switches->numShadows = 1;
    expectLeftHalf(drawQuad(engine, pair), 0xFFFF0000);
    *engine.switches->numShadows = 0;
    engine.switches->pointLightFalloffType[3] = 2;
    expectLeftHalf(drawQuad(engine, pair), 0xFF00FF00);
    EXPECT_EQ(pair.compiles, 3);
    EXPECT_EQ(pair.variants.size(), 3u);

    // Back to the first combination: no compile, its shaders bound again.
    engine.switches->pointLightFalloffType[3] = 0;
    expectLeftHalf(drawQuad(engine, pair), argb(1, 1, 0, 0.0));
    EXPECT_EQ(pair.compiles, 3);
}

TEST_F(ShaderPairTest, IdenticalSwitchesCompileOnce)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    EffectArchive files({{"flat.fx", kFlatEffect}});
    CountingPair pair(&engine);
    ASSERT_TRUE(pair.loadFile(*files.sourcefile(), "flat.fx"));

    ASSERT_TRUE(pair.activate());
    VertexShader* vs = pair.currentVertexShader;
    PixelShader* ps = pair.currentPixelShader;
    ASSERT_NE(vs, nullptr);
    ASSERT_NE(ps, nullptr);
    ASSERT_TRUE(pair.activate());
    EXPECT_EQ(pair.compiles, 1);
    EXPECT_EQ(pair.currentVertexShader, vs);
    EXPECT_EQ(pair.currentPixelShader, ps);

    // The key is every switch value: the last element of the last array
    // counts as much as the first switch.
    engine.switches->metaTexBUMPgInput[3] = 7;
    ASSERT_TRUE(pair.activate());
    EXPECT_EQ(pair.compiles, 2);
    EXPECT_NE(pair.currentVertexShader, vs);
    engine.switches->metaTexBUMPgInput[3] = 0;
    ASSERT_TRUE(pair.activate());
    EXPECT_EQ(pair.compiles, 2);
    EXPECT_EQ(pair.currentVertexShader, vs);

    // Bound on the current device.
    IDirect3DVertexShader9* bound = nullptr;
    ASSERT_EQ(engine.currentDevice->GetVertexShader(&bound), D3D_OK);
    EXPECT_EQ(bound, vs->shaders[0]);
    bound->Release();
    std::vector<i32> key;
    engine.switches->key(key);
    EXPECT_EQ(key.size(), 150u);
    ASSERT_EQ(pair.variants.count(key), 1u);
    EXPECT_EQ(pair.variants[key].vertexShader, vs);
}

TEST_F(ShaderPairTest, AFailedCombinationIsNeverRetried)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    // vshader0 exists, vshader1 does not.
    const std::string effect = std::string(kFlatEffect) +
                               "float4 vshader0(float3 p : POSITION) : POSITION { return float4(p, 1); }\n";
    EffectArchive files({{"shadows.fx", effect}});
    CountingPair pair(&engine);
    pair.nameByShadows = true;
    ASSERT_TRUE(pair.loadFile(*files.sourcefile(), "shadows.fx"));

    *engine.switches->numShadows = 1;
    IDirect3DDevice9* d = engine.currentDevice;
    d->SetVertexShader(nullptr);
    EXPECT_FALSE(pair.activate());
    EXPECT_EQ(pair.compiles, 1);
    EXPECT_EQ(pair.currentVertexShader, nullptr);
    EXPECT_EQ(pair.currentPixelShader, nullptr);
    ASSERT_EQ(parseErrorBoxes().size(), 1u);
    EXPECT_NE(parseErrorBoxes()[0].text.find("vshader1"), std::string::npos) << parseErrorBoxes()[0].text;

    // Again: false at once, no compile, no second box, no device change.
    EXPECT_FALSE(pair.activate());
    EXPECT_EQ(pair.compiles, 1);
    EXPECT_EQ(parseErrorBoxes().size(), 1u);
    IDirect3DVertexShader9* bound = nullptr;
    EXPECT_EQ(d->GetVertexShader(&bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);

    // Another combination compiles; the failed one still is not retried.
    *engine.switches->numShadows = 0;
    EXPECT_TRUE(pair.activate());
    EXPECT_EQ(pair.compiles, 2);
    *engine.switches->numShadows = 1;
    EXPECT_FALSE(pair.activate());
    EXPECT_EQ(pair.compiles, 2);
    EXPECT_EQ(parseErrorBoxes().size(), 1u);
    EXPECT_EQ(pair.variants.size(), 2u);
}

// A combination whose pixel half fails makes no device shader, so no vertex
// half stays alive with nothing to draw with.
TEST_F(ShaderPairTest, AFailedPixelShaderMakesNoDeviceShader)
{
    class PixelFails : public ShaderPair {
    public:
        using ShaderPair::ShaderPair;
        String pixelShaderName() override { return "pshaderMissing"; }
    };
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    EffectArchive files({{"flat.fx", kFlatEffect}});
    PixelFails pair(&engine);
    ASSERT_TRUE(pair.loadFile(*files.sourcefile(), "flat.fx"));
    platform::d3d9::setCallLogging(engine.currentDevice, true);
    EXPECT_FALSE(pair.activate());
    for (const platform::d3d9::DeviceCall& call : platform::d3d9::takeCallLog(engine.currentDevice))
        EXPECT_TRUE(call.name != "CreateVertexShader" && call.name != "CreatePixelShader") << call.name;
    platform::d3d9::setCallLogging(engine.currentDevice, false);
    EXPECT_EQ(pair.currentVertexShader, nullptr);
    EXPECT_EQ(parseErrorBoxes().size(), 1u);
}

TEST_F(ShaderPairTest, ASecondFileDiscardsAllVariants)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    const std::string green = std::string(kFlatEffect) + "float4 pgreen() : COLOR0 { return float4(0, 1, 0, 1); }\n";
    EffectArchive files({{"a.fx", kFlatEffect}, {"b.fx", green}});
    CountingPair pair(&engine);
    auto include = files.sourcefile();
    ASSERT_TRUE(pair.loadFile(*include, "a.fx"));
    ASSERT_TRUE(pair.activate());
    *engine.switches->numShadows = 1;
    ASSERT_TRUE(pair.activate());
    EXPECT_EQ(pair.variants.size(), 2u);

    ASSERT_TRUE(pair.loadFile(*include, "b.fx"));
    EXPECT_STREQ(pair.name.c_str(), "b.fx");
    EXPECT_TRUE(pair.variants.empty());
    EXPECT_EQ(pair.currentVertexShader, nullptr);
    EXPECT_EQ(pair.currentPixelShader, nullptr);
    ASSERT_TRUE(pair.activate());
    EXPECT_EQ(pair.compiles, 3) << "the same switches compile anew from the new file";

    // A file that cannot be read changes nothing; one that does not parse
    // leaves the pair without a compiler and without variants.
    ASSERT_FALSE(pair.loadFile(*include, "absent.fx"));
    EXPECT_STREQ(pair.name.c_str(), "b.fx");
    EXPECT_EQ(pair.variants.size(), 1u);
    ASSERT_TRUE(pair.activate());
    EXPECT_EQ(pair.compiles, 3);
}

TEST_F(ShaderPairTest, IncludesComeFromTheSameArchiveThroughTheSameSourcefile)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    // Neither file exists outside the archive; the nested include is named
    // with the archive's backslash.
    EffectArchive files({{"main.fx", "#include \"lib/common.fxh\"\n"
                                     "float4 pshader() : COLOR0 { return halve(srfColor); }\n"},
                         {"lib/common.fxh", "#include \"lib\\matrices.fxh\"\n"
                                            "float4 srfColor;\n"
                                            "float4 halve(float4 c) { return c * 0.5; }\n"},
                         {"lib/matrices.fxh", "float4x4 matWorldViewProj;\n"
                                              "float4 vshader(float3 p : POSITION) : POSITION\n"
                                              "{ return mul(float4(p, 1), matWorldViewProj); }\n"}});
    CountingSourcefile include(files.archive->clone());
    ShaderPair pair(&engine);
    ASSERT_TRUE(pair.loadFile(include, "main.fx"));
    EXPECT_EQ(include.opened, (std::vector<std::string>{"lib/common.fxh", "lib\\matrices.fxh"}));
    // Both includes and the main text were handed back.
    EXPECT_EQ(include.closes, 3);

    engine.uniforms->setProjection(leftHalf());
    const float colour[4] = {1, 0.5f, 0, 1};
    std::memcpy(engine.uniforms->srfColor, colour, sizeof colour);
    expectLeftHalf(drawQuad(engine, pair), argb(0.5, 0.5, 0.25, 0));
}

TEST_F(ShaderPairTest, SamplerNamesInRegisterOrder)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    EffectArchive files({{"samplers.fx", R"(
sampler2D ZMAP0 : register(s3);
sampler2D COLR0 : register(s0);
sampler2D DIFF1 : register(s1);
float4 vshader(float3 p : POSITION) : POSITION { return float4(p, 1); }
float4 pshader(float2 uv : TEXCOORD0) : COLOR0
{
    return tex2D(ZMAP0, uv) + tex2D(DIFF1, uv) + tex2D(COLR0, uv);
}
)"}});
    ShaderPair pair(&engine);
    ASSERT_TRUE(pair.loadFile(*files.sourcefile(), "samplers.fx"));
    ASSERT_TRUE(pair.activate());
    const PixelShader& ps = *pair.currentPixelShader;
    ASSERT_EQ(ps.samplerCount, 4u);
    EXPECT_STREQ(ps.samplerNames[0].c_str(), "COLR0");
    EXPECT_STREQ(ps.samplerNames[1].c_str(), "DIFF1");
    EXPECT_STREQ(ps.samplerNames[2].c_str(), "");
    EXPECT_STREQ(ps.samplerNames[3].c_str(), "ZMAP0");
}

TEST_F(ShaderPairTest, EveryDeviceGetsTheVariantFromOneCompile)
{
    Outputs outputs([](DisplaySettings& s) { s.stereo = 1; });
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    ASSERT_EQ(engine.deviceCount, 2);
    EffectArchive files({{"flat.fx", kFlatEffect}});
    CountingPair pair(&engine);
    ASSERT_TRUE(pair.loadFile(*files.sourcefile(), "flat.fx"));
    ASSERT_TRUE(pair.activate());
    const VertexShader& vs = *pair.currentVertexShader;
    ASSERT_NE(vs.shaders[0], nullptr);
    ASSERT_NE(vs.shaders[1], nullptr);
    EXPECT_NE(vs.shaders[0], vs.shaders[1]);
    ASSERT_NE(pair.currentPixelShader->shaders[1], nullptr);

    // The right eye: the same variant, bound on the second device.
    engine.currentIndex = 1;
    engine.currentDevice = engine.devices[1];
    const float red[4] = {1, 0, 0, 1};
    std::memcpy(engine.uniforms->srfColor, red, sizeof red);
    engine.uniforms->setProjection(leftHalf());
    expectLeftHalf(drawQuad(engine, pair), 0xFFFF0000);
    EXPECT_EQ(pair.compiles, 1);
    IDirect3DPixelShader9* bound = nullptr;
    ASSERT_EQ(engine.devices[1]->GetPixelShader(&bound), D3D_OK);
    EXPECT_EQ(bound, pair.currentPixelShader->shaders[1]);
    bound->Release();
}

// A device that refuses either half of the code fails the whole variant:
// that eye would otherwise draw without a shader.
TEST_F(ShaderPairTest, ADeviceThatRefusesTheCodeFailsTheVariant)
{
    Outputs outputs([](DisplaySettings& s) { s.stereo = 1; });
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    ASSERT_EQ(engine.deviceCount, 2);
    EffectArchive files({{"flat.fx", kFlatEffect}});
    const struct {
        bool vertex, pixel;
    } cases[] = {{true, false}, {false, true}};
    for (const auto& c : cases) {
        ShaderPair pair(&engine);
        ASSERT_TRUE(pair.loadFile(*files.sourcefile(), "flat.fx"));
        platform::d3d9::refuseShaderCode(engine.devices[1], c.vertex, c.pixel);
        EXPECT_FALSE(pair.activate()) << (c.vertex ? "vertex" : "pixel") << " code refused";
        platform::d3d9::refuseShaderCode(engine.devices[1], false, false);
    }
}

TEST_F(ShaderPairTest, ParseErrorBox)
{
    DisplayManager manager;
    Engine engine(&manager);
    ShaderPair pair(&engine);
    pair.name = "standard.fx";

    pair.showParseError("(12,5): error X3004: undeclared identifier 'x'\n");
    pair.showParseError("lib.fxh(3,1): error X3000: syntax error\n");
    pair.showParseError("error X3501: 'vshaderSF5': entrypoint not found\n");
    const auto& boxes = platform::recordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, "\nstandard.fx(12,5): error X3004: undeclared identifier 'x'\n");
    EXPECT_EQ(boxes[1].text, "\nlib.fxh(3,1): error X3000: syntax error\n");
    EXPECT_EQ(boxes[2].text, "\nerror X3501: 'vshaderSF5': entrypoint not found\n");
    for (const platform::MessageBoxRecord& box : boxes) {
        EXPECT_EQ(box.caption, "Parse Error");
        EXPECT_EQ(box.type, UINT(MB_ICONEXCLAMATION));
        EXPECT_EQ(box.owner, nullptr);
    }

    // Text longer than any fixed buffer arrives whole.
    const std::string longText = "(1,1): " + std::string(600, 'e');
    pair.showParseError(longText.c_str());
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[3].text, "\nstandard.fx" + longText);

    platform::clearRecordedMessageBoxes();
    diagnosticsLevel = 1;
    pair.showParseError("(1,1): error\n");
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
}

TEST_F(ShaderPairTest, ParseErrorsOfTheEffectAndOfItsIncludes)
{
    DisplayManager manager;
    Engine engine(&manager);
    EffectArchive files({{"broken.fx", "float4 c;\nfloat4 pshader() : COLOR0 { return c * undefinedName; }\n"},
                         {"uses.fx", "float a;\n#include \"bad.fxh\"\n"},
                         {"bad.fxh", "float4 f(float4 x)\n{\n    return x +* 2;\n}\n"}});
    auto include = files.sourcefile();
    ShaderPair pair(&engine);

    EXPECT_FALSE(pair.loadFile(*include, "broken.fx"));
    EXPECT_STREQ(pair.name.c_str(), "broken.fx");
    ASSERT_EQ(parseErrorBoxes().size(), 1u);
    EXPECT_EQ(parseErrorBoxes()[0].text.rfind("\nbroken.fx(2,", 0), 0u) << parseErrorBoxes()[0].text;
    EXPECT_EQ(pair.compiler, nullptr);

    platform::clearRecordedMessageBoxes();
    EXPECT_FALSE(pair.loadFile(*include, "uses.fx"));
    ASSERT_EQ(parseErrorBoxes().size(), 1u);
    EXPECT_EQ(parseErrorBoxes()[0].text.rfind("\nbad.fxh(3,", 0), 0u) << parseErrorBoxes()[0].text;

    // Below level 2 the same failures are silent.
    platform::clearRecordedMessageBoxes();
    diagnosticsLevel = 1;
    EXPECT_FALSE(pair.loadFile(*include, "broken.fx"));
    EXPECT_FALSE(pair.loadFile(*include, "uses.fx"));
    EXPECT_TRUE(parseErrorBoxes().empty());
}

TEST_F(ShaderPairTest, DamagedEffectTextTakesTheFailurePath)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);

    std::string binary(4096, '\0');
    std::mt19937 random(7);
    for (char& c : binary)
        c = char(random() % 256);
    // Megabytes of declarations, then a line that does not parse.
    std::string huge;
    for (int i = 0; huge.size() < (3u << 20); ++i)
        huge += "float4 value" + std::to_string(i) + " = {1, 2, 3, 4};\n";
    huge += "float4 pshader() : COLOR0 { return value1 +* value2; }\n";

    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"syntax.fx", "float4 pshader() : COLOR0 { return float4(1, 1, 1 1); }\n"},
        {"missing.fx", "#include \"nowhere.fxh\"\nfloat4 pshader() : COLOR0 { return 1; }\n"},
        {"self.fx", "#include \"self.fx\"\nfloat4 pshader() : COLOR0 { return 1; }\n"},
        {"empty.fx", ""},
        {"binary.fx", binary},
        {"huge.fx", huge},
        {"unterminated.fx", "float4 pshader() : COLOR0 { /* return 1; \n"},
        {"nofunctions.fx", "float4 srfColor;\nint numShadows;\n"},
    };
    EffectFiles contents;
    for (const Case& c : cases)
        contents[c.name] = c.text;
    auto files = EffectArchive::of(contents);
    auto include = files->sourcefile();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::clearRecordedMessageBoxes();
        ShaderPair pair(&engine);
        const bool loaded = pair.loadFile(*include, c.name);
        const bool activated = loaded && pair.activate();
        EXPECT_FALSE(activated);
        EXPECT_EQ(pair.currentVertexShader, nullptr);
        // The compiler said why, once.
        EXPECT_EQ(parseErrorBoxes().size(), 1u);
        if (loaded) {
            // Retried draws stay quiet.
            EXPECT_FALSE(pair.activate());
            EXPECT_EQ(parseErrorBoxes().size(), 1u);
        }
    }
}

// Names of the engine's tables that an effect lacks, or declares with other
// sizes, are no error.
TEST_F(ShaderPairTest, EffectsNeedNotDeclareEveryName)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    EffectArchive files({{"none.fx", "float4 vshader(float3 p : POSITION) : POSITION { return float4(p, 1); }\n"
                                     "float4 pshader() : COLOR0 { return float4(0, 0, 1, 1); }\n"},
                         {"sizes.fx", R"(
int pointLightFalloffType;          // eight in the table
int metaTexCOLRInvert[2];           // four in the table
float3 srfColor;                    // four in the table
float matBone[4];                   // 288 in the table
float4x4 matWorldViewProj;
float4 vshader(float3 p : POSITION) : POSITION
{
    return mul(float4(p, 1), matWorldViewProj) + matBone[3] * 0;
}
float4 pshader() : COLOR0
{
    return float4(srfColor, 1) * (pointLightFalloffType + metaTexCOLRInvert[1] + 1);
}
)"}});
    auto include = files.sourcefile();
    engine.uniforms->setProjection(leftHalf());
    const float colour[4] = {0.5f, 0.25f, 1, 0};
    std::memcpy(engine.uniforms->srfColor, colour, sizeof colour);

    ShaderPair none(&engine);
    ASSERT_TRUE(none.loadFile(*include, "none.fx"));
    EXPECT_TRUE(none.activate());

    ShaderPair sizes(&engine);
    ASSERT_TRUE(sizes.loadFile(*include, "sizes.fx"));
    expectLeftHalf(drawQuad(engine, sizes), argb(1, 0.5, 0.25, 1));
    EXPECT_TRUE(parseErrorBoxes().empty());
}

TEST_F(ShaderPairTest, SourcefileReadsWholeFiles)
{
    EffectArchive files({{"text.fx", "abc"}, {"empty.fx", ""}});
    Sourcefile include(files.archive->clone());
    void* data = nullptr;
    u32 size = 0;
    EXPECT_EQ(include.loadFile("text.fx", nullptr, &size), E_INVALIDARG);
    EXPECT_EQ(include.loadFile("text.fx", &data, nullptr), E_INVALIDARG);
    diagnosticsLevel = 0; // the archive's own box for a missing name
    EXPECT_EQ(include.loadFile("absent.fx", &data, &size), E_FAIL);
    EXPECT_EQ(data, nullptr);

    ASSERT_EQ(include.loadFile("text.fx", &data, &size), S_OK);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(data, "abc", 3), 0);
    EXPECT_EQ(include.Close(data), S_OK);
    // The stream is closed again: the next file opens.
    ASSERT_EQ(include.loadFile("empty.fx", &data, &size), S_OK);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(include.Close(data), S_OK);

    LPCVOID opened = nullptr;
    UINT bytes = 0;
    EXPECT_EQ(include.Open(D3DXINC_SYSTEM, "text.fx", "parent", &opened, &bytes), S_OK);
    EXPECT_EQ(bytes, 3u);
    EXPECT_EQ(include.Close(opened), S_OK);
    EXPECT_EQ(include.Open(D3DXINC_LOCAL, "text.fx", nullptr, nullptr, &bytes), E_INVALIDARG);

    // A content cut short of its announced size is not handed on.
    class ShortStream : public FileStream {
    public:
        ShortStream() : FileStream("") {}
        bool open(const char*) override
        {
            size = 100;
            return true;
        }
        bool close() override { return true; }
        u32 read(void* buf, u32 n) override
        {
            std::memset(buf, 'x', n / 2);
            return n / 2;
        }
    };
    Sourcefile shortFile(new ShortStream);
    EXPECT_EQ(shortFile.loadFile("any.fx", &data, &size), E_FAIL);
    EXPECT_EQ(data, nullptr);
}

// ---------------------------------------------------------------------------
// The engine's effect loading and its pairs.

TEST_F(ShaderPairTest, FixedFunctionModeLoadsOnlyTheMirrorEffect)
{
    DisplayManager manager;
    Engine engine(&manager);
    ASSERT_EQ(engine.fixedFunction, 1);
    EXPECT_EQ(engine.plainPair, nullptr);
    EXPECT_EQ(engine.bakePair, nullptr);
    ASSERT_NE(dynamic_cast<MirrorShaderPair*>(engine.mirrorPair), nullptr);

    {
        EffectArchive files({{"mirrorshader.fx", kFlatEffect}});
        ASSERT_TRUE(engine.loadEffects(files.archive.get()));
        EXPECT_STREQ(engine.mirrorPair->name.c_str(), "mirrorshader.fx");
        EXPECT_NE(engine.mirrorPair->compiler, nullptr);
        // Read through a clone: the file source itself has nothing open.
        EXPECT_EQ(files.archive->size, 0u);
    }
    diagnosticsLevel = 0;
    EffectArchive others({{"standard.fx", kFlatEffect}});
    EXPECT_FALSE(engine.loadEffects(others.archive.get()));
    EXPECT_FALSE(engine.loadEffects(nullptr));
}

TEST_F(ShaderPairTest, ShaderPathLoadsFourEffectsAndStopsAtTheFirstFailure)
{
    DisplayManager manager;
    manager.settings->fixedFunction = 0;
    const EffectFiles all = {{"standard.fx", kFlatEffect},
                                                    {"nullshader.fx", kFlatEffect},
                                                    {"bake.fx", kFlatEffect},
                                                    {"mirrorshader.fx", kFlatEffect}};
    {
        Engine engine(&manager);
        ASSERT_NE(dynamic_cast<StandardShaderPair*>(engine.standardPair), nullptr);
        ASSERT_NE(dynamic_cast<BakeShaderPair*>(engine.bakePair), nullptr);
        ASSERT_NE(dynamic_cast<MirrorShaderPair*>(engine.mirrorPair), nullptr);
        ASSERT_NE(engine.plainPair, nullptr);
        auto files = EffectArchive::of(all);
        ASSERT_TRUE(engine.loadEffects(files->archive.get()));
        EXPECT_STREQ(engine.standardPair->name.c_str(), "standard.fx");
        EXPECT_STREQ(engine.plainPair->name.c_str(), "nullshader.fx");
        EXPECT_STREQ(engine.bakePair->name.c_str(), "bake.fx");
        EXPECT_STREQ(engine.mirrorPair->name.c_str(), "mirrorshader.fx");
        EXPECT_TRUE(parseErrorBoxes().empty());
    }
    {
        // bake.fx does not parse: the box, false, and the mirror effect is
        // never read.
        auto broken = all;
        broken["bake.fx"] = "float4 pshader( : COLOR0;\n";
        Engine engine(&manager);
        auto files = EffectArchive::of(broken);
        EXPECT_FALSE(engine.loadEffects(files->archive.get()));
        EXPECT_EQ(parseErrorBoxes().size(), 1u);
        EXPECT_STREQ(engine.plainPair->name.c_str(), "nullshader.fx");
        EXPECT_STREQ(engine.mirrorPair->name.c_str(), "<shader>");
    }
    {
        // A missing file fails without a parse error.
        auto missing = all;
        missing.erase("standard.fx");
        platform::clearRecordedMessageBoxes();
        diagnosticsLevel = 0;
        Engine engine(&manager);
        auto files = EffectArchive::of(missing);
        EXPECT_FALSE(engine.loadEffects(files->archive.get()));
        EXPECT_STREQ(engine.plainPair->name.c_str(), "<shader>");
        EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    }
}

TEST_F(ShaderPairTest, CountedVertexFunctionNames)
{
    DisplayManager manager;
    Engine engine(&manager);
    ShaderSwitches& s = *engine.switches;
    StandardShaderPair standard(&engine);
    BakeShaderPair bake(&engine);
    MirrorShaderPair mirror(&engine);

    EXPECT_STREQ(standard.vertexShaderName().c_str(), "vshader0");
    *s.specularEnabled = 1;
    *s.isFogEnabled = 1;
    *s.numTexCOLR = 1;
    EXPECT_STREQ(standard.vertexShaderName().c_str(), "vshaderSF1");
    // A specular shadow counts three, a spherical map one.
    *s.numShadows = 1;
    *s.sphericalEnvmapAvailable = 1;
    EXPECT_STREQ(standard.vertexShaderName().c_str(), "vshaderSF5");
    *s.specularEnabled = 0;
    EXPECT_STREQ(standard.vertexShaderName().c_str(), "vshaderF4");
    // A bump layer counts five in all; never more than eight.
    *s.numTexBUMP = 1;
    EXPECT_STREQ(standard.vertexShaderName().c_str(), "vshaderF8");
    *s.numTexDIFF = 3;
    EXPECT_STREQ(standard.vertexShaderName().c_str(), "vshaderF8");

    EXPECT_STREQ(bake.vertexShaderName().c_str(), "vshaderF1");
    *s.isFogEnabled = 0;
    *s.numShadows = 12;
    EXPECT_STREQ(bake.vertexShaderName().c_str(), "vshader8");
    EXPECT_STREQ(mirror.vertexShaderName().c_str(), "vshader");
    EXPECT_STREQ(bake.pixelShaderName().c_str(), "pshader");
}

TEST_F(ShaderPairTest, BakeAndMirrorStates)
{
    Outputs outputs;
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    IDirect3DDevice9* d = engine.currentDevice;
    auto state = [d](D3DRENDERSTATETYPE s) {
        DWORD v = 0xDEAD;
        EXPECT_EQ(d->GetRenderState(s, &v), D3D_OK);
        return v;
    };
    BakeShaderPair bake(&engine);
    bake.setStates(nullptr, 0.0);
    EXPECT_EQ(state(D3DRS_ALPHATESTENABLE), DWORD(FALSE));
    EXPECT_EQ(state(D3DRS_ZWRITEENABLE), DWORD(FALSE));
    EXPECT_EQ(state(D3DRS_ZENABLE), DWORD(FALSE));
    EXPECT_EQ(state(D3DRS_ALPHABLENDENABLE), DWORD(TRUE));
    EXPECT_EQ(state(D3DRS_SRCBLEND), DWORD(D3DBLEND_ONE));
    EXPECT_EQ(state(D3DRS_DESTBLEND), DWORD(D3DBLEND_ONE));
    EXPECT_EQ(state(D3DRS_CULLMODE), DWORD(D3DCULL_NONE));

    MirrorShaderPair mirror(&engine);
    mirror.setStates(nullptr, 0.0);
    EXPECT_EQ(state(D3DRS_DESTBLEND), DWORD(D3DBLEND_ZERO));
}

} // namespace
