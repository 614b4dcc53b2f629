// Direct3D 9 fills a pixel whose centre lies exactly on a top or left edge
// and leaves it on a bottom or right edge; a screen quad mapping texels 1:1
// samples each texel exactly whether its corners are on pixel centres or
// on pixel edges (-0.5). The same screen positions go through pre-
// transformed vertices, an orthographic projection and a translated vertex
// shader.
#include "d3dx9_test_support.h"
#include "device_test_support.h"

#include <cmath>
#include <functional>

namespace {

constexpr int kSize = 16;
constexpr int kTexels = 4;
constexpr uint32_t kClear = 0xFF000000;

const char* const kEffect = R"(
float4 screenToClip;
sampler2D s0;
struct VsOut { float4 pos : POSITION; float2 uv : TEXCOORD0; };
VsOut vshader(float4 p : POSITION, float2 uv : TEXCOORD0)
{
    VsOut o;
    o.pos = float4(p.xy * screenToClip.xy + screenToClip.zw, p.z, 1);
    o.uv = uv;
    return o;
}
float4 pshader(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(s0, uv); }
)";

// Neighbours differ in every channel, so any blend of two shows.
uint32_t texel(int i, int j)
{
    return 0xFF000000u | uint32_t(0x30 + 0x40 * i) << 16 | uint32_t(0x30 + 0x40 * j) << 8 | ((i + j) & 1 ? 0xF0 : 0x10);
}

struct Vertex {
    float x, y, z, w, u, v;
};

enum class Route { Pretransformed, WorldSpace, VertexShader };
const Route kRoutes[] = {Route::Pretransformed, Route::WorldSpace, Route::VertexShader};

struct Scene {
    DeviceFixture f{kSize, kSize};
    ComRef<IDirect3DVertexShader9> vs;
    ComRef<IDirect3DPixelShader9> ps;
    ComRef<IDirect3DVertexDeclaration9> declaration;
    ComRef<IDirect3DTexture9> texture;
    bool ready = false;

    Scene()
    {
        ComRef<ID3DXEffectCompiler> compiler(d3dx9test::createCompiler(kEffect));
        ComRef<ID3DXBuffer> vsCode, psCode;
        const D3DVERTEXELEMENT9 elements[] = {
            {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
            {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0}, D3DDECL_END()};
        D3DLOCKED_RECT lr{};
        if (f.created != D3D_OK || !compiler ||
            FAILED(compiler->CompileShader("vshader", "vs_2_0", 0, vsCode.out(), nullptr, nullptr)) ||
            FAILED(compiler->CompileShader("pshader", "ps_2_0", 0, psCode.out(), nullptr, nullptr)) ||
            FAILED(f->CreateVertexShader(static_cast<const DWORD*>(vsCode->GetBufferPointer()), vs.out())) ||
            FAILED(f->CreatePixelShader(static_cast<const DWORD*>(psCode->GetBufferPointer()), ps.out())) ||
            FAILED(f->CreateVertexDeclaration(elements, declaration.out())) ||
            FAILED(f->CreateTexture(kTexels, kTexels, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out(),
                                    nullptr)) ||
            FAILED(texture->LockRect(0, &lr, nullptr, 0)))
            return;
        for (int j = 0; j < kTexels; ++j) {
            for (int i = 0; i < kTexels; ++i) {
                const uint32_t t = texel(i, j);
                std::memcpy(static_cast<char*>(lr.pBits) + j * lr.Pitch + 4 * i, &t, 4);
            }
        }
        texture->UnlockRect(0);
        ready = true;
    }

    std::vector<uint32_t> draw(Route route, D3DTEXTUREFILTERTYPE filter, const std::vector<Vertex>& v)
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
        d->SetVertexShader(route == Route::VertexShader ? vs.get() : nullptr);
        d->SetPixelShader(route == Route::VertexShader ? ps.get() : nullptr);
        // Screen (x, y) to clip space, as Direct3D 9 maps clip -1 onto the
        // centre of pixel 0.
        const float a = 2.0f / kSize;
        const D3DMATRIX identity = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};
        const D3DMATRIX ortho = {{{a, 0, 0, 0, 0, -a, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1}}};
        const float screenToClip[4] = {a, -a, -1.0f, 1.0f};
        d->SetTransform(D3DTS_WORLD, &identity);
        d->SetTransform(D3DTS_VIEW, &identity);
        d->SetTransform(D3DTS_PROJECTION, &ortho);
        d->SetVertexShaderConstantF(0, screenToClip, 1);
        if (route == Route::VertexShader)
            d->SetVertexDeclaration(declaration.get());
        else
            d->SetFVF((route == Route::Pretransformed ? D3DFVF_XYZRHW : D3DFVF_XYZW) | D3DFVF_TEX1);
        d->Clear(0, nullptr, D3DCLEAR_TARGET, kClear, 1.0f, 0);
        d->BeginScene();
        EXPECT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(v.size() / 3), v.data(), sizeof(Vertex)), D3D_OK);
        d->EndScene();
        return readBackBuffer(d);
    }
};

Vertex at(float x, float y, float u = 0.125f, float v = 0.125f)
{
    return {x, y, 0.5f, 1.0f, u, v};
}

const char* routeName(Route r)
{
    return r == Route::Pretransformed ? "pre-transformed" : r == Route::WorldSpace ? "world space" : "vertex shader";
}

// The pixels where ok(x, y, pixel) fails, as " (x, y)" each.
std::string mismatches(const std::vector<uint32_t>& p, const std::function<bool(int, int, uint32_t)>& ok)
{
    std::string wrong = p.size() == size_t(kSize * kSize) ? "" : "no picture";
    for (int y = 0; y < kSize && wrong.empty(); ++y)
        for (int x = 0; x < kSize; ++x)
            if (!ok(x, y, p[y * kSize + x]))
                wrong += " (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    return wrong;
}

} // namespace

TEST(DeviceFillRule, ScreenQuadsAreTexelExact)
{
    Scene s;
    if (!s.ready)
        GTEST_SKIP() << "no device or shaders here";
    // Corners on pixel centres (2, 3) and on pixel edges (1.5, 2.5) both
    // cover pixels (2..5, 3..6); the first pixel centre inside samples
    // texel 0's centre.
    for (float corner : {0.0f, -0.5f}) {
        const float x0 = 2 + corner, y0 = 3 + corner, x1 = x0 + kTexels, y1 = y0 + kTexels;
        const float t0 = (0.5f + corner) / kTexels, t1 = t0 + 1;
        const std::vector<Vertex> quad = {at(x0, y0, t0, t0), at(x1, y0, t1, t0), at(x0, y1, t0, t1),
                                          at(x1, y0, t1, t0), at(x1, y1, t1, t1), at(x0, y1, t0, t1)};
        for (Route route : kRoutes) {
            for (D3DTEXTUREFILTERTYPE filter : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
                EXPECT_EQ(mismatches(s.draw(route, filter, quad),
                                     [](int x, int y, uint32_t c) {
                                         const int i = x - 2, j = y - 3;
                                         const bool in = i >= 0 && i < kTexels && j >= 0 && j < kTexels;
                                         return c == (in ? texel(i, j) : kClear);
                                     }),
                          "")
                    << routeName(route) << ", corner " << corner << ", filter " << filter;
            }
        }
    }
}

TEST(DeviceFillRule, TrianglesWithEdgesOnPixelCentres)
{
    Scene s;
    if (!s.ready)
        GTEST_SKIP() << "no device or shaders here";
    // Each pair tiles the square (2, 3)-(10, 11) along a diagonal; the first
    // triangle has the top and one side, the second the bottom and the
    // other. On the down-right diagonal the sub-pixel step decides which of
    // the two fills a centre, so there only "exactly one" is checked.
    struct Pair {
        const char* name;
        std::vector<Vertex> first, second;
        bool exactDiagonal;
        std::function<bool(int, int)> inFirst;
    } pairs[] = {
        {"up-right diagonal", {at(2, 3), at(10, 3), at(2, 11)}, {at(10, 3), at(10, 11), at(2, 11)}, true,
         [](int x, int y) { return (x - 2) + (y - 3) < 8; }},
        {"down-right diagonal", {at(2, 3), at(10, 3), at(10, 11)}, {at(2, 3), at(10, 11), at(2, 11)}, false,
         [](int x, int y) { return x - 2 >= y - 3; }},
    };
    for (Route route : kRoutes) {
        for (const Pair& c : pairs) {
            const std::vector<uint32_t> first = s.draw(route, D3DTEXF_POINT, c.first);
            const std::vector<uint32_t> second = s.draw(route, D3DTEXF_POINT, c.second);
            ASSERT_EQ(second.size(), first.size());
            EXPECT_EQ(mismatches(first,
                                 [&](int x, int y, uint32_t colour) {
                                     const bool a = colour != kClear, b = second[y * kSize + x] != kClear;
                                     const bool square = x >= 2 && x < 10 && y >= 3 && y < 11;
                                     if ((a || b) != square || (a && b))
                                         return false;
                                     return !square || a == c.inFirst(x, y) || (!c.exactDiagonal && x - 2 == y - 3);
                                 }),
                      "")
                << routeName(route) << ", " << c.name;
        }
    }
}
