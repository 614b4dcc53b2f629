// Which pixels a triangle fills and what its texels come out as: Direct3D 9
// fills a pixel whose centre lies exactly on a top or left edge and leaves
// it on a bottom or right edge, and a screen quad mapping texels 1:1 samples
// each texel exactly, whether its corners are on pixel centres or on pixel
// edges (-0.5). The same screen positions go through three routes:
// pre-transformed vertices, world-space vertices through an orthographic
// projection, and a translated vertex shader.
#include "d3dx9_test_support.h"
#include "device_test_support.h"

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr int kSize = 16;
constexpr int kTexels = 4;
constexpr uint32_t kClear = 0xFF000000;

const char* const kEffect = R"(
float4 screenToClip;
sampler2D s0;

struct VsOut {
    float4 pos : POSITION;
    float2 uv : TEXCOORD0;
};

VsOut vshader(float4 p : POSITION, float2 uv : TEXCOORD0)
{
    VsOut o;
    o.pos = float4(p.xy * screenToClip.xy + screenToClip.zw, p.z, 1);
    o.uv = uv;
    return o;
}

float4 pshader(float2 uv : TEXCOORD0) : COLOR0
{
    return tex2D(s0, uv);
}
)";

// Neighbours differ in every channel, so any blend of two shows.
uint32_t texel(int i, int j)
{
    return 0xFF000000u | uint32_t(0x30 + 0x40 * i) << 16 | uint32_t(0x30 + 0x40 * j) << 8 |
           (((i + j) & 1) ? 0xF0u : 0x10u);
}

struct Vertex {
    float x, y, z, w;
    float u, v;
};

const D3DVERTEXELEMENT9 kShaderDeclaration[] = {
    {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

enum class Route { Pretransformed, WorldSpace, VertexShader };

struct Scene {
    DeviceFixture f{kSize, kSize};
    ComRef<IDirect3DVertexShader9> vs;
    ComRef<IDirect3DPixelShader9> ps;
    ComRef<IDirect3DVertexDeclaration9> declaration;
    ComRef<ID3DXConstantTable> vsTable;
    ComRef<IDirect3DTexture9> texture;
    std::string problem;

    Scene()
    {
        if (f.created != D3D_OK)
            return;
        ComRef<ID3DXEffectCompiler> compiler(d3dx9test::createCompiler(kEffect, &problem));
        if (!compiler)
            return;
        ComRef<ID3DXBuffer> vsCode, psCode, errors;
        if (FAILED(compiler->CompileShader("vshader", "vs_2_0", 0, vsCode.out(), errors.out(), vsTable.out())) ||
            FAILED(compiler->CompileShader("pshader", "ps_2_0", 0, psCode.out(), errors.out(), nullptr))) {
            problem = d3dx9test::bufferText(errors.get());
            return;
        }
        if (FAILED(f->CreateVertexShader(static_cast<const DWORD*>(vsCode->GetBufferPointer()), vs.out())) ||
            FAILED(f->CreatePixelShader(static_cast<const DWORD*>(psCode->GetBufferPointer()), ps.out())) ||
            FAILED(f->CreateVertexDeclaration(kShaderDeclaration, declaration.out())) ||
            FAILED(f->CreateTexture(kTexels, kTexels, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out(),
                                    nullptr))) {
            problem = "the device refused a resource";
            return;
        }
        D3DLOCKED_RECT lr{};
        texture->LockRect(0, &lr, nullptr, 0);
        for (int j = 0; j < kTexels; ++j)
            for (int i = 0; i < kTexels; ++i)
                static_cast<uint32_t*>(static_cast<void*>(static_cast<char*>(lr.pBits) + j * lr.Pitch))[i] =
                    texel(i, j);
        texture->UnlockRect(0);
    }

    std::vector<uint32_t> draw(Route route, D3DTEXTUREFILTERTYPE filter, const std::vector<Vertex>& triangles)
    {
        IDirect3DDevice9* d = f.device.get();
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        d->SetTexture(0, texture.get());
        d->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
        d->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d->Clear(0, nullptr, D3DCLEAR_TARGET, kClear, 1.0f, 0);
        std::vector<Vertex> v = triangles;
        d->SetVertexShader(nullptr);
        d->SetPixelShader(nullptr);
        if (route == Route::Pretransformed) {
            d->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
        } else if (route == Route::WorldSpace) {
            // Row vectors: screen (x, y) to clip as Direct3D 9's viewport
            // maps clip -1 onto the centre of pixel 0.
            const D3DMATRIX identity = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};
            const D3DMATRIX ortho = {
                {{2.0f / kSize, 0, 0, 0, 0, -2.0f / kSize, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1}}};
            d->SetTransform(D3DTS_WORLD, &identity);
            d->SetTransform(D3DTS_VIEW, &identity);
            d->SetTransform(D3DTS_PROJECTION, &ortho);
            d->SetFVF(D3DFVF_XYZW | D3DFVF_TEX1);
        } else {
            d->SetVertexDeclaration(declaration.get());
            d->SetVertexShader(vs.get());
            d->SetPixelShader(ps.get());
            const float screenToClip[4] = {2.0f / kSize, -2.0f / kSize, -1.0f, 1.0f};
            vsTable->SetFloatArray(d, "screenToClip", screenToClip, 4);
        }
        d->BeginScene();
        EXPECT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(v.size() / 3), v.data(), sizeof(Vertex)), D3D_OK);
        d->EndScene();
        return readBackBuffer(d);
    }
};

Vertex at(float x, float y, float u, float v)
{
    return {x, y, 0.5f, 1.0f, u, v};
}

// A quad from (x0, y0) to (x1, y1) whose texture coordinates put texel
// centres on the pixel centres inside it.
std::vector<Vertex> texelQuad(float x0, float y0)
{
    const float x1 = x0 + kTexels, y1 = y0 + kTexels;
    // The first pixel centre inside, ceil(x0), samples texel 0's centre.
    const float u0 = (0.5f - (std::ceil(x0) - x0)) / kTexels;
    const float v0 = (0.5f - (std::ceil(y0) - y0)) / kTexels;
    const float u1 = u0 + 1.0f, v1 = v0 + 1.0f;
    return {at(x0, y0, u0, v0), at(x1, y0, u1, v0), at(x0, y1, u0, v1),
            at(x1, y0, u1, v0), at(x1, y1, u1, v1), at(x0, y1, u0, v1)};
}

std::string routeName(Route r)
{
    return r == Route::Pretransformed ? "pre-transformed" : r == Route::WorldSpace ? "world space" : "vertex shader";
}

} // namespace

TEST(DeviceFillRule, QuadsAreTexelExact)
{
    Scene s;
    if (s.f.created != D3D_OK)
        GTEST_SKIP() << "no device here";
    ASSERT_TRUE(s.problem.empty()) << s.problem;
    struct Case {
        const char* name;
        float x0, y0;
    } cases[] = {
        {"corners on pixel centres", 2.0f, 3.0f},
        {"corners on pixel edges", 1.5f, 2.5f},
    };
    for (Route route : {Route::Pretransformed, Route::WorldSpace, Route::VertexShader}) {
        for (D3DTEXTUREFILTERTYPE filter : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
            for (const Case& c : cases) {
                const std::vector<uint32_t> p = s.draw(route, filter, texelQuad(c.x0, c.y0));
                ASSERT_EQ(p.size(), size_t(kSize * kSize));
                int wrong = 0;
                std::string first;
                for (int y = 0; y < kSize; ++y) {
                    for (int x = 0; x < kSize; ++x) {
                        const int i = x - 2, j = y - 3;
                        const bool inside = i >= 0 && i < kTexels && j >= 0 && j < kTexels;
                        const uint32_t want = inside ? texel(i, j) : kClear;
                        if (p[y * kSize + x] != want) {
                            if (!wrong++) {
                                char text[80];
                                std::snprintf(text, sizeof text, "(%d, %d) is %08X, not %08X", x, y,
                                              p[y * kSize + x], want);
                                first = text;
                            }
                        }
                    }
                }
                EXPECT_EQ(wrong, 0) << routeName(route) << (filter == D3DTEXF_POINT ? ", point, " : ", linear, ")
                                    << c.name << ": " << first;
            }
        }
    }
}
TEST(DeviceFillRule, TrianglesWithEdgesOnPixelCentres)
{
    Scene s;
    if (s.f.created != D3D_OK)
        GTEST_SKIP() << "no device here";
    ASSERT_TRUE(s.problem.empty()) << s.problem;
    // Each pair tiles the square (2, 3)-(10, 11) along a diagonal; every
    // edge runs through pixel centres. The first triangle of a pair has the
    // top edge, the second the bottom one. On the down-right diagonal the
    // sub-pixel step decides, so only "exactly one of the two" holds there.
    struct Pair {
        const char* name;
        float x[6], y[6];
        bool exactDiagonal;
        std::function<bool(int, int)> firstFills;
    } pairs[] = {
        {"up-right diagonal", {2, 10, 2, 10, 10, 2}, {3, 3, 11, 3, 11, 11}, true,
         [](int x, int y) { return (x - 2) + (y - 3) < 8; }},
        {"down-right diagonal", {2, 10, 10, 2, 10, 2}, {3, 3, 11, 3, 11, 11}, false,
         [](int x, int y) { return x - 2 >= y - 3; }},
    };
    for (Route route : {Route::Pretransformed, Route::WorldSpace, Route::VertexShader}) {
        for (const Pair& c : pairs) {
            std::vector<uint32_t> p[2];
            for (int t = 0; t < 2; ++t) {
                std::vector<Vertex> v;
                for (int k = 3 * t; k < 3 * t + 3; ++k)
                    v.push_back(at(c.x[k], c.y[k], 0.125f, 0.125f));
                p[t] = s.draw(route, D3DTEXF_POINT, v);
                ASSERT_EQ(p[t].size(), size_t(kSize * kSize));
            }
            std::string wrong;
            for (int y = 0; y < kSize; ++y) {
                for (int x = 0; x < kSize; ++x) {
                    const bool first = p[0][y * kSize + x] != kClear, second = p[1][y * kSize + x] != kClear;
                    const bool square = x >= 2 && x < 10 && y >= 3 && y < 11;
                    const bool onDiagonal = x - 2 == y - 3;
                    const bool ok = (first || second) == square && !(first && second) &&
                                    (!square || first == c.firstFills(x, y) || (onDiagonal && !c.exactDiagonal));
                    if (!ok)
                        wrong += " (" + std::to_string(x) + ", " + std::to_string(y) + ")";
                }
            }
            EXPECT_EQ(wrong, "") << routeName(route) << ", " << c.name;
        }
    }
}
