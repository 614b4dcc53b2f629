// Shader objects from hand-made blobs: register files reaching the uniform
// blocks, sampler registers on texture units, the per-pair program cache,
// clip-space user planes, and refusals.
#include "device_test_support.h"

#include "platform/d3d9/shader_blob.h"

#include <algorithm>
#include <cmath>

namespace {

using platform::d3d9::RegisterSet;
using platform::d3d9::ShaderBlob;
using platform::d3d9::ShaderStage;

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlack = 0xFF000000u;

// Position in clip space plus register 0; colour from register 1.
const char* const kVertexSource = R"(#version 450
layout(location = 0) in vec4 inPosition;
layout(std140) uniform VsRegisters { vec4 r[4]; } vsr;
uniform vec2 dx_PosFixup;
layout(location = 0) out vec4 vColour;
void main()
{
    gl_Position = vec4(inPosition.xyz, 1.0) + vec4(vsr.r[0].xy, 0.0, 0.0);
    vColour = vsr.r[1];
    gl_Position.xy += dx_PosFixup * gl_Position.w;
}
)";

// Colour times register 0, plus the texture on s1, red when bool 0 is set.
const char* const kPixelSource = R"(#version 450
layout(location = 0) in vec4 vColour;
layout(std140) uniform PsRegisters { vec4 p[2]; int b0; } psr;
uniform sampler2D s1;
layout(location = 0) out vec4 outColour;
void main()
{
    outColour = vColour * psr.p[0] + texture(s1, vec2(0.5));
    if (psr.b0 != 0)
        outColour = vec4(1.0, 0.0, 0.0, 1.0);
}
)";

std::vector<DWORD> vertexBlob(const char* source = kVertexSource)
{
    ShaderBlob b;
    b.stage = ShaderStage::Vertex;
    b.versionToken = 0xFFFE0200;
    b.glsl = source;
    b.uniformBlockName = "VsRegisters";
    b.uniformBlockSize = 64;
    b.uploads.push_back({RegisterSet::Float4, 0, 4, 0, 16});
    b.inputs.push_back({0, 0, 0});
    return platform::d3d9::serializeShaderBlob(b);
}

std::vector<DWORD> pixelBlob()
{
    ShaderBlob b;
    b.stage = ShaderStage::Pixel;
    b.versionToken = 0xFFFF0200;
    b.glsl = kPixelSource;
    b.uniformBlockName = "PsRegisters";
    b.uniformBlockSize = 48;
    b.uploads.push_back({RegisterSet::Float4, 0, 2, 0, 16});
    b.uploads.push_back({RegisterSet::Bool, 0, 1, 32, 16});
    b.samplers.push_back({"tex", "s1", 1, platform::d3d9::SamplerType::Sampler2D});
    return platform::d3d9::serializeShaderBlob(b);
}

struct ShaderScene {
    DeviceFixture f{8, 8};
    ComRef<IDirect3DVertexShader9> vs;
    ComRef<IDirect3DPixelShader9> ps;
    ComRef<IDirect3DTexture9> black;

    ShaderScene()
    {
        const std::vector<DWORD> v = vertexBlob(), p = pixelBlob();
        if (f.created != D3D_OK || FAILED(f->CreateVertexShader(v.data(), vs.out())) ||
            FAILED(f->CreatePixelShader(p.data(), ps.out())))
            return;
        // A black texel on s1 adds nothing.
        f->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, black.out(), nullptr);
        D3DLOCKED_RECT lr{};
        black->LockRect(0, &lr, nullptr, 0);
        *static_cast<uint32_t*>(lr.pBits) = 0;
        black->UnlockRect(0);
        f->SetTexture(1, black.get());
        f->SetVertexShader(vs.get());
        f->SetPixelShader(ps.get());
        f->SetRenderState(D3DRS_ZENABLE, FALSE);
        f->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        const float white[4] = {1, 1, 1, 1};
        f->SetPixelShaderConstantF(0, white, 1);
        f->SetFVF(D3DFVF_XYZ);
    }

    // A quad over clip x0..x1, full height.
    HRESULT draw(float x0 = -1.0f, float x1 = 1.0f)
    {
        const float quad[4][3] = {{x0, 1, 0.5f}, {x1, 1, 0.5f}, {x0, -1, 0.5f}, {x1, -1, 0.5f}};
        return f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]);
    }
};

TEST(DeviceShaders, RegisterFilesReachTheBlocks)
{
    ShaderScene s;
    ASSERT_TRUE(s.vs && s.ps);
    const float green[4] = {0, 1, 0, 1};
    ASSERT_EQ(s.f->SetVertexShaderConstantF(1, green, 1), D3D_OK);
    s.f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    ASSERT_EQ(s.draw(-1.0f, 0.0f), D3D_OK);
    std::vector<uint32_t> p = readBackBuffer(s.f.device.get());
    EXPECT_EQ(p[3 * 8 + 1], kGreen);
    EXPECT_EQ(p[3 * 8 + 6], kBlack);
    // Register 0 moves the quad right by half the target.
    const float shift[4] = {1.0f, 0, 0, 0};
    s.f->SetVertexShaderConstantF(0, shift, 1);
    s.f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    ASSERT_EQ(s.draw(-1.0f, 0.0f), D3D_OK);
    p = readBackBuffer(s.f.device.get());
    EXPECT_EQ(p[3 * 8 + 1], kBlack);
    EXPECT_EQ(p[3 * 8 + 6], kGreen);
    // A bool register turns the pixel shader's branch.
    const BOOL on = TRUE;
    ASSERT_EQ(s.f->SetPixelShaderConstantB(0, &on, 1), D3D_OK);
    ASSERT_EQ(s.draw(), D3D_OK);
    EXPECT_EQ(readBackBuffer(s.f.device.get())[3 * 8 + 6], kRed);
    float back[4] = {};
    s.f->GetVertexShaderConstantF(1, back, 1);
    EXPECT_EQ(back[1], 1.0f);
    EXPECT_EQ(s.f->SetVertexShaderConstantF(250, green, 10), D3DERR_INVALIDCALL);
    EXPECT_EQ(s.f->SetPixelShaderConstantF(224, green, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(s.f->SetPixelShaderConstantI(16, reinterpret_cast<const int*>(green), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(s.f->GetPixelShaderConstantB(0, nullptr, 1), D3DERR_INVALIDCALL);
}

TEST(DeviceShaders, FullClipSpaceQuadCoversEveryPixel)
{
    // Edges through the pixel centres of row 0 and column 0: Direct3D's
    // top-left rule fills them.
    ShaderScene s;
    ASSERT_TRUE(s.vs && s.ps);
    const float green[4] = {0, 1, 0, 1};
    s.f->SetVertexShaderConstantF(1, green, 1);
    s.f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    ASSERT_EQ(s.draw(), D3D_OK);
    for (uint32_t c : readBackBuffer(s.f.device.get()))
        EXPECT_EQ(c, kGreen);
}

TEST(DeviceShaders, SamplerRegisterPicksTheTextureUnit)
{
    ShaderScene s;
    ASSERT_TRUE(s.vs && s.ps);
    ComRef<IDirect3DTexture9> red;
    s.f->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, red.out(), nullptr);
    D3DLOCKED_RECT lr{};
    red->LockRect(0, &lr, nullptr, 0);
    *static_cast<uint32_t*>(lr.pBits) = kRed;
    red->UnlockRect(0);
    // On stage 0 the shader does not see it; on stage 1 it does.
    s.f->SetTexture(0, red.get());
    s.f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    ASSERT_EQ(s.draw(), D3D_OK);
    EXPECT_EQ(readBackBuffer(s.f.device.get())[0], 0u); // colour register 1 is zero
    s.f->SetTexture(1, red.get());
    ASSERT_EQ(s.draw(), D3D_OK);
    EXPECT_EQ(readBackBuffer(s.f.device.get())[0], kRed);
}

TEST(DeviceShaders, ProgramsAreCachedPerPairAndDroppedWithTheirShaders)
{
    ShaderScene s;
    ASSERT_TRUE(s.vs && s.ps);
    ASSERT_EQ(s.draw(), D3D_OK);
    ASSERT_EQ(s.draw(), D3D_OK);
    EXPECT_EQ(platform::d3d9::cachedShaderPrograms(s.f.device.get()), 1u);
    const std::vector<DWORD> p = pixelBlob();
    ComRef<IDirect3DPixelShader9> other;
    ASSERT_EQ(s.f->CreatePixelShader(p.data(), other.out()), D3D_OK);
    s.f->SetPixelShader(other.get());
    ASSERT_EQ(s.draw(), D3D_OK);
    EXPECT_EQ(platform::d3d9::cachedShaderPrograms(s.f.device.get()), 2u);
    s.f->SetPixelShader(s.ps.get());
    other.reset();
    EXPECT_EQ(platform::d3d9::cachedShaderPrograms(s.f.device.get()), 1u);
    // GetFunction hands back the code as given.
    UINT size = 0;
    ASSERT_EQ(s.vs->GetFunction(nullptr, &size), D3D_OK);
    EXPECT_EQ(size, vertexBlob().size() * 4);
    std::vector<DWORD> code(size / 4);
    ASSERT_EQ(s.vs->GetFunction(code.data(), &size), D3D_OK);
    EXPECT_EQ(code, vertexBlob());
}

TEST(DeviceShaders, ClipPlanesAreInClipSpace)
{
    ShaderScene s;
    ASSERT_TRUE(s.vs && s.ps);
    const float green[4] = {0, 1, 0, 1};
    s.f->SetVertexShaderConstantF(1, green, 1);
    const float plane[4] = {-1.0f, 0.0f, 0.0f, -0.1f}; // keep x <= -0.1
    s.f->SetClipPlane(0, plane);
    s.f->SetRenderState(D3DRS_CLIPPLANEENABLE, D3DCLIPPLANE0);
    s.f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    ASSERT_EQ(s.draw(), D3D_OK);
    const std::vector<uint32_t> p = readBackBuffer(s.f.device.get());
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(p[3 * 8 + x], kGreen) << x;
    for (int x = 4; x < 8; ++x)
        EXPECT_EQ(p[3 * 8 + x], kBlack) << x;
    // Switched off again, the same program clips nothing.
    s.f->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    ASSERT_EQ(s.draw(), D3D_OK);
    for (uint32_t c : readBackBuffer(s.f.device.get()))
        EXPECT_EQ(c, kGreen);
}

TEST(DeviceShaders, AlphaTestAppliesAfterThePixelShader)
{
    ShaderScene s;
    ASSERT_TRUE(s.vs && s.ps);
    const float colour[4] = {0, 1, 0, 127.0f / 255.0f};
    s.f->SetVertexShaderConstantF(1, colour, 1);
    s.f->SetRenderState(D3DRS_ALPHAREF, 127);
    // Off, the function does not matter; the pair is drawn (and its
    // program made) without the test first.
    s.f->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    s.f->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_NEVER);
    s.f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    ASSERT_EQ(s.draw(), D3D_OK);
    EXPECT_EQ(readBackBuffer(s.f.device.get())[9], 0x7F00FF00u);
    s.f->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    s.f->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    s.f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    ASSERT_EQ(s.draw(), D3D_OK);
    EXPECT_EQ(readBackBuffer(s.f.device.get())[9], kBlack); // 127 > 127 fails
    s.f->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    ASSERT_EQ(s.draw(), D3D_OK);
    EXPECT_EQ(readBackBuffer(s.f.device.get())[9], 0x7F00FF00u);
}

TEST(DeviceShaders, HalfAPairFallsBackToFixedFunction)
{
    ShaderScene s;
    ASSERT_TRUE(s.vs && s.ps);
    s.f->SetPixelShader(nullptr);
    flatColourStates(s.f.device.get());
    s.f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    TlVertex v[4];
    tlQuad(v, -0.5f, -0.5f, 7.5f, 7.5f, kGreen);
    s.f->SetFVF(kTlFvf);
    ASSERT_EQ(s.f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TlVertex)), D3D_OK);
    EXPECT_EQ(readBackBuffer(s.f.device.get())[9], kGreen);
    ComRef<IDirect3DVertexShader9> current;
    s.f->GetVertexShader(current.out());
    EXPECT_EQ(current.get(), s.vs.get());
}

TEST(DeviceShaders, BadCodeIsRefusedAndBadGlslDrawsNothing)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DVertexShader9> vs;
    ComRef<IDirect3DPixelShader9> ps;
    const DWORD garbage[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(f->CreateVertexShader(garbage, vs.out()), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->CreateVertexShader(nullptr, vs.out()), D3DERR_INVALIDCALL);
    const std::vector<DWORD> pixel = pixelBlob();
    EXPECT_EQ(f->CreateVertexShader(pixel.data(), vs.out()), D3DERR_INVALIDCALL); // a pixel shader
    std::vector<DWORD> truncated = vertexBlob();
    truncated.resize(truncated.size() / 2);
    truncated[4] = DWORD(truncated.size() * 4); // header agrees, body is short
    EXPECT_EQ(f->CreateVertexShader(truncated.data(), vs.out()), D3DERR_INVALIDCALL);
    EXPECT_EQ(vs.get(), nullptr);

    const std::vector<DWORD> broken = vertexBlob("#version 450\nvoid main() { this is not glsl }\n");
    ASSERT_EQ(f->CreateVertexShader(broken.data(), vs.out()), D3D_OK);
    ASSERT_EQ(f->CreatePixelShader(pixel.data(), ps.out()), D3D_OK);
    f->SetVertexShader(vs.get());
    f->SetPixelShader(ps.get());
    f->SetFVF(D3DFVF_XYZ);
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    const float quad[4][3] = {{-1, 1, 0.5f}, {1, 1, 0.5f}, {-1, -1, 0.5f}, {1, -1, 0.5f}};
    EXPECT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]), D3DERR_INVALIDCALL);
    EXPECT_EQ(readBackBuffer(f.device.get())[0], kBlack);
}

} // namespace

namespace {

DWORD floatBits(float f)
{
    DWORD d;
    std::memcpy(&d, &f, sizeof d);
    return d;
}

} // namespace

// Table fog blends after the pixel shader; the quad lies at depth 0.5 with
// w = 1, fog colour red over a green shader output.
TEST(DeviceShaders, TableFogAppliesAfterThePixelShader)
{
    struct Case {
        DWORD enable, table;
        bool perspective; // depth is then w (1.0), else z (0.5)
        float start, end, density;
        int red, green; // expected channels, within 2
    };
    const float e1 = 255.0f * std::exp(-1.0f); // fog factor exp(-1) of green
    const Case cases[] = {
        {FALSE, D3DFOG_LINEAR, false, 0.0f, 1.0f, 1.0f, 0, 255},
        {TRUE, D3DFOG_NONE, false, 0.0f, 1.0f, 1.0f, 0, 255},
        {TRUE, D3DFOG_LINEAR, false, 0.0f, 1.0f, 1.0f, 128, 128},
        {TRUE, D3DFOG_LINEAR, true, 0.0f, 2.0f, 1.0f, 128, 128},
        {TRUE, D3DFOG_LINEAR, false, 0.5f, 0.5f, 1.0f, 255, 0}, // empty range at its end: fogged
        {TRUE, D3DFOG_EXP, true, 0.0f, 1.0f, 1.0f, 255 - int(e1 + 0.5f), int(e1 + 0.5f)},
    };
    ShaderScene s;
    ASSERT_TRUE(s.vs && s.ps);
    const float green[4] = {0, 1, 0, 1};
    s.f->SetVertexShaderConstantF(1, green, 1);
    s.f->SetRenderState(D3DRS_FOGCOLOR, 0xFFFF0000);
    for (const Case& c : cases) {
        D3DMATRIX projection = {};
        projection._11 = projection._22 = projection._33 = 1.0f;
        (c.perspective ? projection._34 : projection._44) = 1.0f;
        s.f->SetTransform(D3DTS_PROJECTION, &projection);
        s.f->SetRenderState(D3DRS_FOGENABLE, c.enable);
        s.f->SetRenderState(D3DRS_FOGTABLEMODE, c.table);
        s.f->SetRenderState(D3DRS_FOGSTART, floatBits(c.start));
        s.f->SetRenderState(D3DRS_FOGEND, floatBits(c.end));
        s.f->SetRenderState(D3DRS_FOGDENSITY, floatBits(c.density));
        s.f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
        ASSERT_EQ(s.draw(), D3D_OK);
        const uint32_t p = readBackBuffer(s.f.device.get())[9];
        EXPECT_NEAR(int((p >> 16) & 0xFF), c.red, 2) << c.table << " " << c.start;
        EXPECT_NEAR(int((p >> 8) & 0xFF), c.green, 2) << c.table << " " << c.start;
    }
}

namespace {

// A constant colour from the vertex shader reaches points (inputs read
// plainly) and filled triangles (read at the offset) alike: Mesa's linker
// garbles an input read both ways whose output is constant.
TEST(DeviceShaders, ConstantVertexOutputOnPointsAndTriangles)
{
    std::string source = kVertexSource;
    source.replace(source.find("vsr.r[1]"), 8, "vec4(0.0, 1.0, 0.0, 1.0)");
    ShaderScene s;
    ASSERT_TRUE(s.vs && s.ps);
    const std::vector<DWORD> blob = vertexBlob(source.c_str());
    ComRef<IDirect3DVertexShader9> constant;
    ASSERT_EQ(s.f->CreateVertexShader(blob.data(), constant.out()), D3D_OK);
    s.f->SetVertexShader(constant.get());
    const float point[3] = {-0.5f, -0.25f, 0.5f};
    for (const bool triangles : {false, true}) {
        s.f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
        ASSERT_EQ(triangles ? s.draw() : s.f->DrawPrimitiveUP(D3DPT_POINTLIST, 1, point, sizeof point), D3D_OK);
        const std::vector<uint32_t> p = readBackBuffer(s.f.device.get());
        const auto green = size_t(std::count(p.begin(), p.end(), kGreen));
        EXPECT_EQ(green, triangles ? p.size() : 1u) << (triangles ? "triangles" : "point");
        EXPECT_EQ(green + size_t(std::count(p.begin(), p.end(), kBlack)), p.size()) << triangles;
    }
}

} // namespace
