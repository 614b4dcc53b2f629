// Shaders from the effect compiler drawn by the device: the transform set
// through the constant table, a sampled texture and a colour constant give
// the pixels Direct3D 9 would.
#include "d3dx9_test_support.h"
#include "device_test_support.h"

#include <cstdlib>

namespace {

const char* const kEffect = R"(
float4x4 matWorldViewProj;
float4 tint = {1, 1, 1, 1};
sampler2D COLR0 = sampler_state { MinFilter = Point; MagFilter = Point; };

struct VsOut {
    float4 pos : POSITION;
    float2 uv : TEXCOORD0;
};

VsOut vshader(float3 p : POSITION, float2 uv : TEXCOORD0)
{
    VsOut o;
    o.pos = mul(float4(p, 1), matWorldViewProj);
    o.uv = uv;
    return o;
}

float4 pshader(float2 uv : TEXCOORD0) : COLOR0
{
    return tex2D(COLR0, uv) * tint;
}
)";

struct Vertex {
    float x, y, z;
    float u, v;
};

const D3DVERTEXELEMENT9 kDeclaration[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF,
                   kBlack = 0xFF000000;

// Model (x, y) in 0..1 to the left half of the target, y downwards, edges
// half-way between pixel centres (D3D9 screen x -0.5..3.5, y -0.5..7.5):
// clip x = x - 1.125, clip y = 1.125 - 2y, as a row-vector matrix.
D3DXMATRIX leftHalf()
{
    return D3DXMATRIX(1, 0, 0, 0, 0, -2, 0, 0, 0, 0, 1, 0, -1.125f, 1.125f, 0, 1);
}

struct Scene {
    DeviceFixture f{8, 8};
    ComRef<ID3DXEffectCompiler> compiler;
    ComRef<ID3DXConstantTable> vsTable, psTable;
    ComRef<IDirect3DVertexShader9> vs;
    ComRef<IDirect3DPixelShader9> ps;
    ComRef<IDirect3DVertexDeclaration9> declaration;
    ComRef<IDirect3DTexture9> texture;
    std::string problem;

    Scene()
    {
        if (f.created != D3D_OK) {
            problem = "no device";
            return;
        }
        compiler.reset(d3dx9test::createCompiler(kEffect, &problem));
        if (!compiler)
            return;
        ComRef<ID3DXBuffer> vsCode, psCode, errors;
        if (FAILED(compiler->CompileShader("vshader", "vs_2_0", 0, vsCode.out(), errors.out(), vsTable.out())) ||
            FAILED(compiler->CompileShader("pshader", "ps_2_0", 0, psCode.out(), errors.out(), psTable.out()))) {
            problem = d3dx9test::bufferText(errors.get());
            return;
        }
        if (FAILED(f->CreateVertexShader(static_cast<const DWORD*>(vsCode->GetBufferPointer()), vs.out())) ||
            FAILED(f->CreatePixelShader(static_cast<const DWORD*>(psCode->GetBufferPointer()), ps.out())) ||
            FAILED(f->CreateVertexDeclaration(kDeclaration, declaration.out()))) {
            problem = "the device refused the shaders";
            return;
        }
        // 2 x 2 texels: red, green / blue, white.
        if (FAILED(f->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out(), nullptr))) {
            problem = "no texture";
            return;
        }
        D3DLOCKED_RECT lr{};
        texture->LockRect(0, &lr, nullptr, 0);
        const uint32_t texels[4] = {kRed, kGreen, kBlue, kWhite};
        for (int y = 0; y < 2; ++y)
            std::memcpy(static_cast<char*>(lr.pBits) + y * lr.Pitch, texels + 2 * y, 8);
        texture->UnlockRect(0);
    }

    std::vector<uint32_t> draw()
    {
        IDirect3DDevice9* d = f.device.get();
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        d->SetVertexDeclaration(declaration.get());
        d->SetVertexShader(vs.get());
        d->SetPixelShader(ps.get());
        d->SetTexture(0, texture.get());
        d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        d->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
        const Vertex quad[4] = {{0, 0, 0, 0, 0}, {1, 0, 0, 1, 0}, {0, 1, 0, 0, 1}, {1, 1, 0, 1, 1}};
        d->BeginScene();
        EXPECT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex)), D3D_OK);
        d->EndScene();
        return readBackBuffer(d);
    }
};

bool near(uint32_t a, uint32_t b)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 1)
            return false;
    return true;
}

void expectPicture(const std::vector<uint32_t>& p, uint32_t greenTinted, uint32_t whiteTinted)
{
    ASSERT_EQ(p.size(), 64u);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            uint32_t want = x >= 4 ? kBlack : y < 4 ? (x < 2 ? kRed : greenTinted) : (x < 2 ? kBlue : whiteTinted);
            EXPECT_PRED2(near, p[y * 8 + x], want) << x << "," << y << " " << std::hex << p[y * 8 + x];
        }
    }
}

} // namespace

TEST(EffectDraw, TransformSetThroughTheTableAndTintedTexture)
{
    Scene s;
    if (s.f.created != D3D_OK)
        GTEST_SKIP() << "no device here";
    ASSERT_TRUE(s.problem.empty()) << s.problem;
    ASSERT_EQ(s.vsTable->SetDefaults(s.f.device.get()), D3D_OK);
    ASSERT_EQ(s.psTable->SetDefaults(s.f.device.get()), D3D_OK);
    D3DXMATRIX m = leftHalf();
    ASSERT_EQ(s.vsTable->SetMatrix(s.f.device.get(), "matWorldViewProj", &m), D3D_OK);
    D3DXVECTOR4 tint(1, 0.5f, 1, 1);
    ASSERT_EQ(s.psTable->SetVector(s.f.device.get(), "tint", &tint), D3D_OK);
    expectPicture(s.draw(), 0xFF008000, 0xFFFF80FF);

    // The engine's way: the transposed matrix as 16 floats through SetValue,
    // and the tint's default from SetDefaults.
    float transposed[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            transposed[4 * r + c] = m.m[c][r];
    ASSERT_EQ(s.vsTable->SetValue(s.f.device.get(), "matWorldViewProj", transposed, sizeof transposed), D3D_OK);
    ASSERT_EQ(s.psTable->SetDefaults(s.f.device.get()), D3D_OK);
    expectPicture(s.draw(), kGreen, kWhite);
}

// Coordinate sets above 7 reach the shader beside the low ones: each input
// carries one colour channel, so a set read from the wrong slot shows.
TEST(EffectDraw, HighTexcoordSetsHaveTheirOwnSlots)
{
    DeviceFixture f(4, 4);
    if (f.created != D3D_OK)
        GTEST_SKIP() << "no device here";
    const char* const effect = R"(
struct VsOut {
    float4 pos : POSITION;
    float4 colour : COLOR0;
};
VsOut vshader(float3 p : POSITION, float4 low : TEXCOORD0, float4 a : TEXCOORD8, float4 b : TEXCOORD9,
              float4 c : TEXCOORD10, float4 d : TEXCOORD11)
{
    VsOut o;
    o.pos = float4(p, 1);
    o.colour = float4(a.x + low.x, b.y, c.z, d.w);
    return o;
}
float4 pshader(float4 c : COLOR0) : COLOR0 { return c; }
)";
    const d3dx9test::Compiled vsCode = d3dx9test::compile(effect, "vshader", "vs_2_0");
    const d3dx9test::Compiled psCode = d3dx9test::compile(effect, "pshader", "ps_2_0");
    ASSERT_FALSE(vsCode.code.empty()) << vsCode.errors;
    ComRef<IDirect3DVertexShader9> vs;
    ComRef<IDirect3DPixelShader9> ps;
    ASSERT_EQ(f->CreateVertexShader(vsCode.code.data(), vs.out()), D3D_OK);
    ASSERT_EQ(f->CreatePixelShader(psCode.code.data(), ps.out()), D3D_OK);
    D3DVERTEXELEMENT9 elements[7] = {{0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}};
    const BYTE sets[5] = {0, 8, 9, 10, 11};
    for (int i = 0; i < 5; ++i)
        elements[i + 1] = {0, WORD(12 + 16 * i), D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, sets[i]};
    elements[6] = D3DDECL_END();
    ComRef<IDirect3DVertexDeclaration9> declaration;
    ASSERT_EQ(f->CreateVertexDeclaration(elements, declaration.out()), D3D_OK);
    // Every set holds 0.25 in the channel the shader reads from it and 1 in
    // the others; set 0 adds 0.5 to red.
    struct Vertex {
        float p[3];
        float sets[5][4] = {{0.5f, 1, 1, 1}, {0.25f, 1, 1, 1}, {1, 0.25f, 1, 1}, {1, 1, 0.25f, 1}, {1, 1, 1, 0.25f}};
    } quad[4] = {{{-1, 1, 0.5f}}, {{1, 1, 0.5f}}, {{-1, -1, 0.5f}}, {{1, -1, 0.5f}}};
    IDirect3DDevice9* d = f.device.get();
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetVertexDeclaration(declaration.get());
    d->SetVertexShader(vs.get());
    d->SetPixelShader(ps.get());
    d->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    d->BeginScene();
    ASSERT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex)), D3D_OK);
    d->EndScene();
    const std::vector<uint32_t> p = readBackBuffer(d);
    ASSERT_EQ(p.size(), 16u);
    EXPECT_PRED2(near, p[5], 0x40BF4040u) << std::hex << p[5];
}
