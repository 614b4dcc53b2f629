// The fixed-function pipeline through the Direct3D 9 device: states set
// with the device's calls, vertices drawn with DrawPrimitiveUP, pixels read
// back with GetRenderTargetData, compared with Direct3D 9's formulas.
#include "../cost_test_support.h"
#include "device_test_support.h"
#include "fixed_function_reference.h"
#include "fixed_function_test_support.h"

#include <string>
#include <vector>

using ffref::C4;
using ffref::V3;
using fftest::unpack;

namespace {

constexpr UINT kWidth = 16;
constexpr UINT kHeight = 16;
constexpr double kPi = 3.14159265358979323846;

DWORD fbits(float f)
{
    return fftest::floatBits(f);
}

D3DCOLORVALUE cv(float r, float g, float b, float a = 1.0f)
{
    return {r, g, b, a};
}

D3DMATRIX identity()
{
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

void expectNear(D3DCOLOR actual, C4 expected, const std::string& what, int tolerance = 2)
{
    const fftest::Rgba a = unpack(actual);
    EXPECT_NEAR(a.r, ffref::byte(expected.r), tolerance) << what;
    EXPECT_NEAR(a.g, ffref::byte(expected.g), tolerance) << what;
    EXPECT_NEAR(a.b, ffref::byte(expected.b), tolerance) << what;
    EXPECT_NEAR(a.a, ffref::byte(expected.a), tolerance) << what;
}

struct PosNormal {
    float x, y, z;
    float nx, ny, nz;
};
struct PosDiffuse {
    float x, y, z;
    D3DCOLOR diffuse;
};
struct PosColoursTex {
    float x, y, z;
    D3DCOLOR diffuse, specular;
    float u, v;
};
struct PosNormalDiffuseSpecular {
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR diffuse, specular;
};
struct ScreenDiffuse {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
};

// A 16 x 16 device with camera-space (x, y) on screen (x, y), z 0..100 on
// depth 0..1, no culling and no depth test.
class FixedFunctionDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (fixture.created != D3D_OK)
            GTEST_SKIP() << "no device";
        device = fixture.device.get();
        const D3DMATRIX id = identity(), ortho = fftest::screenOrtho(kWidth, kHeight);
        device->SetTransform(D3DTS_WORLD, &id);
        device->SetTransform(D3DTS_VIEW, &id);
        device->SetTransform(D3DTS_PROJECTION, &ortho);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_ZENABLE, FALSE);
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
    }

    template <class Vertex>
    void drawPoints(DWORD fvf, const std::vector<Vertex>& v)
    {
        ASSERT_EQ(device->SetFVF(fvf), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, UINT(v.size()), v.data(), sizeof(Vertex)), D3D_OK);
    }

    // The back buffer, row 0 on top.
    std::vector<D3DCOLOR> readBack()
    {
        std::vector<D3DCOLOR> pixels = readBackBuffer(device);
        EXPECT_EQ(pixels.size(), size_t(kWidth * kHeight));
        pixels.resize(kWidth * kHeight, 0xDEADBEEF);
        return pixels;
    }

    IDirect3DTexture9* texture(UINT width, UINT height, const std::vector<D3DCOLOR>& texels)
    {
        IDirect3DTexture9* t = nullptr;
        EXPECT_EQ(device->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
        if (!t)
            return nullptr;
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(t->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < height; ++y)
            std::memcpy(static_cast<char*>(locked.pBits) + y * locked.Pitch, &texels[y * width], width * 4);
        t->UnlockRect(0);
        return t;
    }

    void setPointSampling(DWORD stage)
    {
        device->SetSamplerState(stage, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        device->SetSamplerState(stage, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        device->SetSamplerState(stage, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
        device->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    }

    DeviceFixture fixture{int(kWidth), int(kHeight)};
    IDirect3DDevice9* device = nullptr;
};

D3DCOLOR at(const std::vector<D3DCOLOR>& pixels, int x, int y)
{
    return pixels[size_t(y) * kWidth + size_t(x)];
}

C4 litPixel(const D3DLIGHT9* lights, int count, const D3DMATERIAL9& m, D3DCOLOR ambient, V3 P, V3 N,
            bool specular, bool localViewer)
{
    ffref::Material mat{ffref::c4(m.Diffuse), ffref::c4(m.Ambient), ffref::c4(m.Specular), ffref::c4(m.Emissive),
                        m.Power};
    const ffref::LitVertex lit = ffref::light(lights, count, mat, ffref::c4(ambient), P, N, specular, localViewer);
    return ffref::sat(C4{lit.diffuse.r + lit.specular.r, lit.diffuse.g + lit.specular.g,
                         lit.diffuse.b + lit.specular.b, lit.diffuse.a});
}

D3DMATERIAL9 testMaterial()
{
    D3DMATERIAL9 m{};
    m.Diffuse = cv(0.8f, 0.6f, 0.4f, 0.5f);
    m.Ambient = cv(0.2f, 0.3f, 0.4f);
    m.Specular = cv(0.5f, 0.5f, 0.5f);
    m.Emissive = cv(0.05f, 0.0f, 0.1f);
    m.Power = 8.0f;
    return m;
}

TEST_F(FixedFunctionDevice, DirectionalPointAndSpotLights)
{
    const D3DMATERIAL9 material = testMaterial();
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0x00202020);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetRenderState(D3DRS_LOCALVIEWER, TRUE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);

    D3DLIGHT9 lights[3]{};
    // Row 1: directional.
    lights[0].Type = D3DLIGHT_DIRECTIONAL;
    lights[0].Direction = {0.2f, -0.1f, 1.0f};
    lights[0].Diffuse = cv(1.0f, 0.9f, 0.5f);
    lights[0].Specular = cv(0.8f, 0.8f, 0.8f);
    lights[0].Ambient = cv(0.1f, 0.1f, 0.1f);
    // Row 5: point light with range and attenuation.
    lights[1].Type = D3DLIGHT_POINT;
    lights[1].Position = {8.0f, 5.0f, 2.0f};
    lights[1].Diffuse = cv(1.0f, 0.9f, 0.8f);
    lights[1].Specular = cv(0.5f, 0.5f, 0.5f);
    lights[1].Ambient = cv(0.3f, 0.3f, 0.3f);
    lights[1].Attenuation0 = 0.5f;
    lights[1].Attenuation1 = 0.1f;
    lights[1].Attenuation2 = 0.02f;
    lights[1].Range = 6.0f;
    // Row 9: spot light, 20 degree inner and 40 degree outer cone.
    lights[2].Type = D3DLIGHT_SPOT;
    lights[2].Position = {8.0f, 9.0f, -10.0f};
    lights[2].Direction = {0.0f, 0.0f, 1.0f};
    lights[2].Diffuse = cv(1.0f, 1.0f, 1.0f);
    lights[2].Attenuation0 = 1.0f;
    lights[2].Range = 100.0f;
    lights[2].Theta = float(20.0 * kPi / 180.0);
    lights[2].Phi = float(40.0 * kPi / 180.0);
    lights[2].Falloff = 2.0f;

    const int rows[3] = {1, 5, 9};
    const double depths[3] = {5, 4, 0};
    for (int l = 0; l < 3; ++l) {
        ASSERT_EQ(device->SetLight(DWORD(l * 3 + 1), &lights[l]), D3D_OK); // any index
        for (int other = 0; other < 3; ++other)
            device->LightEnable(DWORD(other * 3 + 1), other == l);
        std::vector<PosNormal> v;
        for (int x = 0; x < int(kWidth); ++x)
            v.push_back({float(x), float(rows[l]), float(depths[l]), 0.05f * (x - 8), 0.0f, -1.0f});
        drawPoints(D3DFVF_XYZ | D3DFVF_NORMAL, v);
    }
    const std::vector<D3DCOLOR> pixels = readBack();
    for (int l = 0; l < 3; ++l) {
        for (int x = 0; x < int(kWidth); ++x) {
            const V3 N{0.05 * (x - 8), 0, -1}; // not normalised: NORMALIZENORMALS is off
            const C4 e = litPixel(&lights[l], 1, material, 0x00202020, {double(x), double(rows[l]), depths[l]}, N,
                                  true, true);
            expectNear(at(pixels, x, rows[l]), e, "light " + std::to_string(l) + " x " + std::to_string(x));
        }
    }
}

// Each light call is a look-up, not a walk of every light seen (20,000 took
// seconds); an enabled light set again lights with its new values.
TEST_F(FixedFunctionDevice, ManyLightsCostALookUpEach)
{
    const D3DMATERIAL9 material = testMaterial();
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    D3DLIGHT9 dark{};
    dark.Type = D3DLIGHT_DIRECTIONAL;
    dark.Direction = {0.0f, 0.0f, 1.0f};
    constexpr DWORD n = 20000;
    const double start = testsupport::processorSeconds();
    for (DWORD i = 0; i < n; ++i) {
        device->SetLight(i, &dark);
        device->LightEnable(i, TRUE);
    }
    for (DWORD i = 0; i < n; ++i)
        device->LightEnable(i, FALSE);
    EXPECT_LT(testsupport::processorSeconds() - start, 1.0);

    D3DLIGHT9 coloured = dark;
    coloured.Diffuse = cv(0.9f, 0.5f, 0.1f);
    device->LightEnable(n - 1, TRUE);
    device->SetLight(n - 1, &coloured);
    drawPoints(D3DFVF_XYZ | D3DFVF_NORMAL, std::vector<PosNormal>{{3.0f, 3.0f, 5.0f, 0.0f, 0.0f, -1.0f}});
    expectNear(at(readBack(), 3, 3), litPixel(&coloured, 1, material, 0, {3, 3, 5}, {0, 0, -1}, false, false),
               "light set again");
}

TEST_F(FixedFunctionDevice, MaterialSourcesSpecularEnableAndNormalize)
{
    D3DMATERIAL9 material = testMaterial();
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0x00303030);
    device->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Direction = {-0.3f, 0.2f, 1.0f};
    light.Diffuse = cv(0.6f, 0.7f, 0.8f);
    light.Specular = cv(0.5f, 0.6f, 0.7f);
    light.Ambient = cv(0.2f, 0.1f, 0.3f);
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);

    const D3DCOLOR diffuse = 0xC0336699, specular = 0x80CC3300;
    struct Case {
        DWORD diffuseSrc, ambientSrc, specularSrc, emissiveSrc;
        BOOL specularEnable, normalize, colorVertex;
    } cases[] = {
        {D3DMCS_COLOR1, D3DMCS_MATERIAL, D3DMCS_COLOR2, D3DMCS_MATERIAL, TRUE, FALSE, TRUE}, // defaults
        {D3DMCS_MATERIAL, D3DMCS_MATERIAL, D3DMCS_MATERIAL, D3DMCS_COLOR1, TRUE, FALSE, TRUE},
        {D3DMCS_COLOR2, D3DMCS_COLOR1, D3DMCS_COLOR1, D3DMCS_COLOR2, TRUE, TRUE, TRUE},
        {D3DMCS_COLOR1, D3DMCS_COLOR1, D3DMCS_COLOR2, D3DMCS_COLOR1, TRUE, TRUE, FALSE},
        {D3DMCS_COLOR1, D3DMCS_MATERIAL, D3DMCS_COLOR2, D3DMCS_MATERIAL, FALSE, FALSE, TRUE},
        {D3DMCS_COLOR1, D3DMCS_MATERIAL, D3DMCS_COLOR2, D3DMCS_MATERIAL, FALSE, TRUE, TRUE},
    };
    // World scales by 2: unnormalised normals come out at half length.
    D3DMATRIX world = identity();
    world._11 = world._22 = world._33 = 2.0f;
    device->SetTransform(D3DTS_WORLD, &world);
    int x = 1;
    for (const Case& c : cases) {
        device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, c.diffuseSrc);
        device->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, c.ambientSrc);
        device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, c.specularSrc);
        device->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, c.emissiveSrc);
        device->SetRenderState(D3DRS_SPECULARENABLE, c.specularEnable);
        device->SetRenderState(D3DRS_NORMALIZENORMALS, c.normalize);
        device->SetRenderState(D3DRS_COLORVERTEX, c.colorVertex);
        drawPoints(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR,
                   std::vector<PosNormalDiffuseSpecular>{
                       {float(x) / 2, 1.5f, 2.5f, 0.2f, 0.1f, -1.0f, diffuse, specular}});
        x += 2;
    }
    const std::vector<D3DCOLOR> pixels = readBack();
    x = 1;
    for (const Case& c : cases) {
        auto pick = [&](DWORD src, const D3DCOLORVALUE& m) {
            if (c.colorVertex && src == D3DMCS_COLOR1)
                return ffref::c4(diffuse);
            if (c.colorVertex && src == D3DMCS_COLOR2)
                return ffref::c4(specular);
            return ffref::c4(m);
        };
        const ffref::Material m{pick(c.diffuseSrc, material.Diffuse), pick(c.ambientSrc, material.Ambient),
                                pick(c.specularSrc, material.Specular), pick(c.emissiveSrc, material.Emissive),
                                material.Power};
        V3 N = V3{0.2, 0.1, -1} * 0.5;
        if (c.normalize)
            N = ffref::normalize(N);
        const ffref::LitVertex lit =
            ffref::light(&light, 1, m, ffref::c4(D3DCOLOR(0x00303030)), {double(x), 3, 5}, N, c.specularEnable, false);
        const C4 e = ffref::sat(
            C4{lit.diffuse.r + lit.specular.r, lit.diffuse.g + lit.specular.g, lit.diffuse.b + lit.specular.b,
               lit.diffuse.a});
        expectNear(at(pixels, x, 3), e, "case at x " + std::to_string(x));
        x += 2;
    }
}

TEST_F(FixedFunctionDevice, LightsInWorldSpaceSlotsAndVertexKinds)
{
    // The view rotates 90 degrees about y and moves; world is its inverse,
    // so object space is camera space and the lights (given in world space)
    // must go through the view. Lights sit at indices 2 and 70, packed.
    D3DMATRIX view{}, world{};
    view._13 = -1.0f; // x -> -z
    view._22 = 1.0f;
    view._31 = 1.0f; // z -> x
    view._44 = 1.0f;
    view._41 = 2.0f;
    view._42 = 0.5f;
    view._43 = 3.0f;
    world._31 = -1.0f;
    world._22 = 1.0f;
    world._13 = 1.0f;
    world._44 = 1.0f;
    world._41 = 3.0f;
    world._42 = -0.5f;
    world._43 = -2.0f;
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_WORLD, &world);
    D3DMATERIAL9 material = testMaterial();
    material.Power = 20.0f;
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0x00102030);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetRenderState(D3DRS_LOCALVIEWER, TRUE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    D3DLIGHT9 lights[2]{};
    lights[0].Type = D3DLIGHT_POINT;
    lights[0].Position = {-2.0f, 2.0f, 5.0f}; // camera space (7, 2.5, 5)
    lights[0].Diffuse = cv(1.0f, 0.5f, 0.25f);
    lights[0].Specular = cv(1.0f, 1.0f, 1.0f);
    lights[0].Ambient = cv(0.2f, 0.2f, 0.2f);
    lights[0].Attenuation0 = 1.0f;
    lights[0].Range = 50.0f;
    lights[1].Type = D3DLIGHT_DIRECTIONAL;
    lights[1].Direction = {-1.0f, 0.0f, 0.0f}; // camera space +z
    lights[1].Diffuse = cv(0.0f, 0.5f, 0.0f);
    lights[1].Specular = cv(0.5f, 0.5f, 0.5f);
    device->SetLight(2, &lights[0]);
    device->SetLight(70, &lights[1]);
    device->LightEnable(2, TRUE);
    device->LightEnable(70, TRUE);
    std::vector<PosNormal> v;
    for (int x = 1; x < int(kWidth); x += 2)
        v.push_back({float(x), 4.0f, 8.0f, 0.3f, 0.2f, -1.0f});
    drawPoints(D3DFVF_XYZ | D3DFVF_NORMAL, v);
    // Without normals: every dot product with the normal is 0.
    std::vector<PosDiffuse> bare;
    for (int x = 1; x < int(kWidth); x += 2)
        bare.push_back({float(x), 6.0f, 8.0f, 0xFFFFFFFF});
    drawPoints(D3DFVF_XYZ | D3DFVF_DIFFUSE, bare);
    // Lighting computes no highlight without SPECULARENABLE: a stage reading
    // SPECULAR gets black.
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_SPECULAR);
    for (auto& p : v)
        p.y = 8.0f;
    drawPoints(D3DFVF_XYZ | D3DFVF_NORMAL, v);

    D3DLIGHT9 camera[2] = {lights[0], lights[1]};
    camera[0].Position = {7.0f, 2.5f, 5.0f};
    camera[1].Direction = {0.0f, 0.0f, 1.0f};
    const std::vector<D3DCOLOR> pixels = readBack();
    for (int x = 1; x < int(kWidth); x += 2) {
        const V3 P{double(x), 4, 8};
        expectNear(at(pixels, x, 4), litPixel(camera, 2, material, 0x00102030, P, {0.3, 0.2, -1}, true, true),
                   "lit x " + std::to_string(x));
        // The vertex's diffuse colour is the diffuse source (COLOR1).
        D3DMATERIAL9 white = material;
        white.Diffuse = cv(1, 1, 1, 1);
        expectNear(at(pixels, x, 6), litPixel(camera, 2, white, 0x00102030, {double(x), 6, 8}, {}, true, true),
                   "no normal x " + std::to_string(x));
        const fftest::Rgba black = unpack(at(pixels, x, 8));
        EXPECT_EQ(black.r + black.g + black.b, 0) << "specular off x " << x;
    }
}

// Every vertex kind (with and without normal, diffuse, specular and a
// texture set), lit and unlit, drawn in several orders in one device: what a
// draw gets depends on its own states only, never on the draws before it.
TEST_F(FixedFunctionDevice, VertexKindsInAnyOrder)
{
    const DWORD kinds[] = {D3DFVF_XYZ,
                           D3DFVF_XYZ | D3DFVF_NORMAL,
                           D3DFVF_XYZ | D3DFVF_DIFFUSE,
                           D3DFVF_XYZ | D3DFVF_SPECULAR,
                           D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR,
                           D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1,
                           D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1};
    constexpr int kKinds = int(sizeof kinds / sizeof kinds[0]);
    const D3DMATERIAL9 material = testMaterial();
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_AMBIENT, 0x00203040);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    D3DLIGHT9 lights[2]{};
    lights[0].Type = D3DLIGHT_DIRECTIONAL;
    lights[0].Direction = {0.0f, 0.0f, 1.0f};
    lights[0].Diffuse = cv(0.3f, 0.6f, 0.2f);
    lights[0].Specular = cv(0.4f, 0.4f, 0.4f);
    lights[0].Ambient = cv(0.1f, 0.0f, 0.2f);
    lights[1].Type = D3DLIGHT_POINT;
    lights[1].Position = {4.0f, 2.0f, 2.0f};
    lights[1].Diffuse = cv(0.5f, 0.25f, 0.75f);
    lights[1].Specular = cv(0.5f, 0.5f, 0.25f);
    lights[1].Attenuation0 = 1.0f;
    lights[1].Range = 100.0f;
    for (DWORD i = 0; i < 2; ++i) {
        device->SetLight(i, &lights[i]);
        device->LightEnable(i, TRUE);
    }
    // Sampled at a constant coordinate; the sampled stage only exists for
    // the kinds with a texture set.
    const D3DCOLOR texel = 0xC080E0A0;
    IDirect3DTexture9* t = texture(1, 1, {texel});
    ASSERT_NE(t, nullptr);
    setPointSampling(0);

    auto normalAt = [](int x) { return V3{0.1 * x - 0.7, 0.3, -1.0}; };
    auto diffuseAt = [](int x) { return D3DCOLOR(0xFF000000u | (0x11u * x) << 16 | 0xC000u | (0xFFu - 0x10u * x)); };
    auto specularAt = [](int x) { return D3DCOLOR(0x80000000u | (0x08u * x) << 8 | 0x30u); };
    // Row 2 * kind + lit.
    auto draw = [&](int kind, bool lit) {
        const DWORD fvf = kinds[kind];
        const int row = 2 * kind + (lit ? 1 : 0);
        std::vector<DWORD> v;
        for (int x = 0; x < int(kWidth); ++x) {
            for (float f : {float(x), float(row), 8.0f})
                v.push_back(fftest::floatBits(f));
            if (fvf & D3DFVF_NORMAL) {
                const V3 n = normalAt(x);
                for (double f : {n.x, n.y, n.z})
                    v.push_back(fftest::floatBits(float(f)));
            }
            if (fvf & D3DFVF_DIFFUSE)
                v.push_back(diffuseAt(x));
            if (fvf & D3DFVF_SPECULAR)
                v.push_back(specularAt(x));
            if (fvf & D3DFVF_TEX1) {
                v.push_back(fftest::floatBits(0.0f));
                v.push_back(fftest::floatBits(0.5f));
            }
        }
        device->SetTexture(0, (fvf & D3DFVF_TEX1) ? t : nullptr);
        device->SetRenderState(D3DRS_LIGHTING, lit);
        ASSERT_EQ(device->SetFVF(fvf), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, kWidth, v.data(), UINT(v.size() * 4 / kWidth)), D3D_OK);
    };
    auto expected = [&](int kind, bool lit, int x) {
        const DWORD fvf = kinds[kind];
        const C4 vertexDiffuse = (fvf & D3DFVF_DIFFUSE) ? ffref::c4(diffuseAt(x)) : C4{1, 1, 1, 1};
        const C4 vertexSpecular = (fvf & D3DFVF_SPECULAR) ? ffref::c4(specularAt(x)) : C4{0, 0, 0, 0};
        C4 diffuse = vertexDiffuse, specular = vertexSpecular;
        if (lit) {
            // Diffuse from COLOR1 and specular from COLOR2 where the vertex has them.
            ffref::Material m{(fvf & D3DFVF_DIFFUSE) ? vertexDiffuse : ffref::c4(material.Diffuse),
                              ffref::c4(material.Ambient),
                              (fvf & D3DFVF_SPECULAR) ? vertexSpecular : ffref::c4(material.Specular),
                              ffref::c4(material.Emissive), material.Power};
            const V3 N = (fvf & D3DFVF_NORMAL) ? normalAt(x) : V3{};
            const ffref::LitVertex l = ffref::light(lights, 2, m, ffref::c4(D3DCOLOR(0x00203040)),
                                                    {double(x), double(2 * kind + 1), 8}, N, true, true);
            diffuse = l.diffuse;
            specular = l.specular;
        }
        const C4 tex = (fvf & D3DFVF_TEX1) ? ffref::c4(texel) : C4{1, 1, 1, 1};
        return ffref::sat(C4{diffuse.r * tex.r + specular.r, diffuse.g * tex.g + specular.g,
                             diffuse.b * tex.b + specular.b, tex.a}); // ALPHAOP SELECTARG1(TEXTURE)
    };

    std::vector<int> order;
    for (int i = 0; i < 2 * kKinds; ++i)
        order.push_back(i);
    const std::vector<std::vector<int>> orders = {
        order, std::vector<int>(order.rbegin(), order.rend()), {5, 12, 0, 9, 3, 7, 11, 1, 13, 4, 8, 2, 10, 6}};
    for (size_t o = 0; o < orders.size(); ++o) {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
        for (const int i : orders[o])
            draw(i / 2, i % 2 != 0);
        const std::vector<D3DCOLOR> pixels = readBack();
        for (int kind = 0; kind < kKinds; ++kind) {
            for (const bool lit : {false, true}) {
                for (int x = 0; x < int(kWidth); ++x)
                    expectNear(at(pixels, x, 2 * kind + (lit ? 1 : 0)), expected(kind, lit, x),
                               "order " + std::to_string(o) + " fvf " + std::to_string(kinds[kind]) +
                                   (lit ? " lit" : " unlit") + " x " + std::to_string(x));
            }
        }
    }
    device->SetTexture(0, nullptr);
    t->Release();
}

TEST_F(FixedFunctionDevice, VertexAndTableFog)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGCOLOR, 0x002060E0);
    device->SetRenderState(D3DRS_FOGDENSITY, fbits(0.03f));
    const D3DCOLOR color = 0xC0F08020;
    // Rows 0-2: vertex fog LINEAR, EXP, EXP2 over camera depth 0..75.
    // Rows 4-6: table fog over device depth (the projection is affine).
    for (int table = 0; table < 2; ++table) {
        for (DWORD mode = D3DFOG_EXP; mode <= D3DFOG_LINEAR; ++mode) {
            device->SetRenderState(D3DRS_FOGVERTEXMODE, table ? DWORD(D3DFOG_NONE) : mode);
            device->SetRenderState(D3DRS_FOGTABLEMODE, table ? mode : DWORD(D3DFOG_NONE));
            device->SetRenderState(D3DRS_FOGSTART, fbits(table ? 0.1f : 10.0f));
            device->SetRenderState(D3DRS_FOGEND, fbits(table ? 0.6f : 60.0f));
            device->SetRenderState(D3DRS_FOGDENSITY, fbits(table ? 3.0f : 0.03f));
            std::vector<PosDiffuse> v;
            for (int x = 0; x < int(kWidth); ++x)
                v.push_back({float(x), float(table * 4 + int(mode) - 1), 5.0f * x, color});
            drawPoints(D3DFVF_XYZ | D3DFVF_DIFFUSE, v);
        }
    }
    // Row 8: vertex fog over the range; rows 10-12: table fog over the eye
    // distance w with a perspective projection (x and y scaled by 0.8,
    // w = z), the engine's scene fog.
    device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
    device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGSTART, fbits(10.0f));
    device->SetRenderState(D3DRS_FOGEND, fbits(60.0f));
    std::vector<PosDiffuse> ranged;
    for (int x = 0; x < int(kWidth); ++x)
        ranged.push_back({float(x), 8.0f, 3.0f * x, color});
    drawPoints(D3DFVF_XYZ | D3DFVF_DIFFUSE, ranged);
    device->SetRenderState(D3DRS_RANGEFOGENABLE, FALSE);
    D3DMATRIX perspective{};
    perspective._11 = perspective._22 = 0.8f;
    perspective._33 = float(100.0 / 99.0);
    perspective._34 = 1.0f;
    perspective._43 = float(-100.0 / 99.0);
    device->SetTransform(D3DTS_PROJECTION, &perspective);
    device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
    device->SetRenderState(D3DRS_FOGSTART, fbits(5.0f));
    device->SetRenderState(D3DRS_FOGEND, fbits(45.0f));
    device->SetRenderState(D3DRS_FOGDENSITY, fbits(0.04f));
    auto eyeDepth = [](int x) { return 2.0 + 3.5 * x; };
    for (DWORD mode = D3DFOG_EXP; mode <= D3DFOG_LINEAR; ++mode) {
        device->SetRenderState(D3DRS_FOGTABLEMODE, mode);
        std::vector<PosDiffuse> v;
        const int row = 9 + int(mode);
        for (int x = 0; x < int(kWidth); ++x) {
            // The camera-space point that lands on pixel (x, row).
            const double z = eyeDepth(x);
            const double ndcX = 2.0 * x / kWidth - 1.0, ndcY = 1.0 - 2.0 * row / kHeight;
            v.push_back({float(ndcX * z / 0.8), float(ndcY * z / 0.8), float(z), color});
        }
        drawPoints(D3DFVF_XYZ | D3DFVF_DIFFUSE, v);
    }
    const std::vector<D3DCOLOR> pixels = readBack();
    const C4 fogColor = ffref::c4(D3DCOLOR(0x002060E0));
    for (int x = 0; x < int(kWidth); ++x) {
        const double range = std::sqrt(double(x * x) + 64.0 + 9.0 * x * x);
        expectNear(at(pixels, x, 8), ffref::fogBlend(ffref::c4(color), fogColor, ffref::fog(D3DFOG_LINEAR, range, 10, 60, 0)),
                   "range fog x " + std::to_string(x));
        for (int mode = D3DFOG_EXP; mode <= D3DFOG_LINEAR; ++mode)
            expectNear(at(pixels, x, 9 + mode),
                       ffref::fogBlend(ffref::c4(color), fogColor, ffref::fog(mode, eyeDepth(x), 5, 45, 0.04)),
                       "eye-relative table fog mode " + std::to_string(mode) + " x " + std::to_string(x));
    }
    for (int table = 0; table < 2; ++table) {
        for (int mode = D3DFOG_EXP; mode <= D3DFOG_LINEAR; ++mode) {
            for (int x = 0; x < int(kWidth); ++x) {
                const double d = table ? 0.05 * x : 5.0 * x;
                const double f = table ? ffref::fog(mode, d, 0.1, 0.6, 3.0) : ffref::fog(mode, d, 10, 60, 0.03);
                expectNear(at(pixels, x, table * 4 + mode - 1),
                           ffref::fogBlend(ffref::c4(color), ffref::c4(D3DCOLOR(0x002060E0)), f),
                           std::string(table ? "table" : "vertex") + " mode " + std::to_string(mode) + " x " +
                               std::to_string(x));
            }
        }
    }
}

TEST_F(FixedFunctionDevice, StageOperationsAndArguments)
{
    const D3DCOLOR diffuse = 0xB0C08040, specular = 0x60203090, factor = 0x40A0E010, texel = 0x9050A0F0;
    IDirect3DTexture9* t = texture(1, 1, {texel});
    ASSERT_NE(t, nullptr);
    device->SetTexture(0, t);
    device->SetTexture(1, t);
    setPointSampling(0);
    setPointSampling(1);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, factor);
    device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);

    struct StageSetup {
        DWORD colorOp, colorArg1, colorArg2, colorArg0, alphaOp, alphaArg1, alphaArg2;
    };
    struct Case {
        const char* name;
        StageSetup s0, s1;
        BOOL specularEnable;
    };
    const DWORD T = D3DTA_TEXTURE, D = D3DTA_DIFFUSE, C = D3DTA_CURRENT, F = D3DTA_TFACTOR, S = D3DTA_SPECULAR;
    const DWORD comp = D3DTA_COMPLEMENT, rep = D3DTA_ALPHAREPLICATE;
    const StageSetup off{D3DTOP_DISABLE, T, C, C, D3DTOP_DISABLE, T, C};
    const Case cases[] = {
        {"disable", off, off, FALSE},
        {"modulate", {D3DTOP_MODULATE, T, D, C, D3DTOP_MODULATE, T, D}, off, FALSE},
        {"modulate2x", {D3DTOP_MODULATE2X, T, D, C, D3DTOP_MODULATE2X, T, D}, off, FALSE},
        {"selectarg1 tfactor", {D3DTOP_SELECTARG1, F, D, C, D3DTOP_SELECTARG1, F, D}, off, FALSE},
        {"selectarg2 specular", {D3DTOP_SELECTARG2, F, S, C, D3DTOP_SELECTARG2, F, S}, off, FALSE},
        {"add", {D3DTOP_ADD, T, D, C, D3DTOP_ADD, T, S}, off, FALSE},
        {"multiplyadd arg0 current", {D3DTOP_MODULATE, T, D, C, D3DTOP_MODULATE, T, D},
         {D3DTOP_MULTIPLYADD, S, T, C, D3DTOP_DISABLE, T, C}, FALSE},
        {"complement", {D3DTOP_SELECTARG1, T | comp, D, C, D3DTOP_SELECTARG1, D | comp, D}, off, FALSE},
        {"alphareplicate", {D3DTOP_MODULATE, T | rep, C, C, D3DTOP_MODULATE, T, C}, off, FALSE},
        {"both modifiers", {D3DTOP_SELECTARG1, F | comp | rep, D, C, D3DTOP_SELECTARG1, F | comp | rep, D}, off,
         FALSE},
        {"current on stage 1", {D3DTOP_SELECTARG1, F, D, C, D3DTOP_SELECTARG1, F, D},
         {D3DTOP_MODULATE, C, T, C, D3DTOP_SELECTARG1, C, T}, FALSE},
        {"alpha disabled passes through", {D3DTOP_MODULATE, T, D, C, D3DTOP_DISABLE, T, D}, off, FALSE},
        {"specular added", {D3DTOP_MODULATE, T, D, C, D3DTOP_SELECTARG1, T, D}, off, TRUE},
    };
    int n = 0;
    for (const Case& c : cases) {
        const StageSetup* stages[2] = {&c.s0, &c.s1};
        for (DWORD i = 0; i < 2; ++i) {
            const StageSetup& s = *stages[i];
            device->SetTextureStageState(i, D3DTSS_COLOROP, s.colorOp);
            device->SetTextureStageState(i, D3DTSS_COLORARG1, s.colorArg1);
            device->SetTextureStageState(i, D3DTSS_COLORARG2, s.colorArg2);
            device->SetTextureStageState(i, D3DTSS_COLORARG0, s.colorArg0);
            device->SetTextureStageState(i, D3DTSS_ALPHAOP, s.alphaOp);
            device->SetTextureStageState(i, D3DTSS_ALPHAARG1, s.alphaArg1);
            device->SetTextureStageState(i, D3DTSS_ALPHAARG2, s.alphaArg2);
        }
        device->SetRenderState(D3DRS_SPECULARENABLE, c.specularEnable);
        drawPoints(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1,
                   std::vector<PosColoursTex>{{float(n), 2.0f, 1.0f, diffuse, specular, 0.5f, 0.5f}});
        ++n;
    }
    const std::vector<D3DCOLOR> pixels = readBack();
    n = 0;
    for (const Case& c : cases) {
        C4 current = ffref::c4(diffuse);
        const StageSetup* stages[2] = {&c.s0, &c.s1};
        for (const StageSetup* s : stages) {
            if (s->colorOp == D3DTOP_DISABLE)
                break;
            auto arg = [&](DWORD a) {
                C4 v;
                switch (a & D3DTA_SELECTMASK) {
                case D3DTA_DIFFUSE: v = ffref::c4(diffuse); break;
                case D3DTA_TEXTURE: v = ffref::c4(texel); break;
                case D3DTA_TFACTOR: v = ffref::c4(factor); break;
                case D3DTA_SPECULAR: v = ffref::c4(specular); break;
                default: v = current; break;
                }
                return ffref::modified(v, a);
            };
            const C4 a0 = arg(s->colorArg0), a1 = arg(s->colorArg1), a2 = arg(s->colorArg2);
            C4 out{ffref::channel(s->colorOp, a0.r, a1.r, a2.r, 0), ffref::channel(s->colorOp, a0.g, a1.g, a2.g, 0),
                   ffref::channel(s->colorOp, a0.b, a1.b, a2.b, 0), current.a};
            if (s->alphaOp != D3DTOP_DISABLE)
                out.a = ffref::channel(s->alphaOp, 0, arg(s->alphaArg1).a, arg(s->alphaArg2).a, 0);
            current = ffref::sat(out);
        }
        if (c.specularEnable) {
            const C4 sp = ffref::c4(specular);
            current = ffref::sat(C4{current.r + sp.r, current.g + sp.g, current.b + sp.b, current.a});
        }
        expectNear(at(pixels, n, 2), current, c.name);
        ++n;
    }
    device->SetTexture(0, nullptr);
    device->SetTexture(1, nullptr);
    t->Release();
}

TEST_F(FixedFunctionDevice, TexCoordIndexAndTransforms)
{
    // A 2 x 2 texture: red, green / blue, yellow.
    const std::vector<D3DCOLOR> quad = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
    IDirect3DTexture9* t = texture(2, 2, quad);
    ASSERT_NE(t, nullptr);
    device->SetTexture(0, t);
    setPointSampling(0);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    struct TwoSets {
        float x, y, z;
        float u0, v0, u1, v1;
    };
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_TEX2;
    // Set 0 on top-left, set 1 on bottom-right.
    drawPoints(fvf, std::vector<TwoSets>{{1, 1, 1, 0.25f, 0.25f, 0.75f, 0.75f}});
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
    drawPoints(fvf, std::vector<TwoSets>{{2, 1, 1, 0.25f, 0.25f, 0.75f, 0.75f}});
    // COUNT2: (u, v, 1, 0) times the matrix; the third row translates.
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    D3DMATRIX m = identity();
    m._31 = 0.5f;
    device->SetTransform(D3DTS_TEXTURE0, &m);
    drawPoints(fvf, std::vector<TwoSets>{{3, 1, 1, 0.25f, 0.25f, 0.75f, 0.75f}});
    m = identity();
    m._41 = 0.5f; // the fourth row does nothing to a 2D coordinate
    m._42 = 0.5f;
    device->SetTransform(D3DTS_TEXTURE0, &m);
    drawPoints(fvf, std::vector<TwoSets>{{4, 1, 1, 0.25f, 0.25f, 0.75f, 0.75f}});
    // COUNT3 | PROJECTED on the camera-space position: (x/z, y/z) of a
    // point at (4, 2, 8) is (0.5, 0.25).
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
    m = identity();
    m._11 = 1.5f; // u = 1.5 x / z = 0.75
    device->SetTransform(D3DTS_TEXTURE0, &m);
    drawPoints(fvf, std::vector<TwoSets>{{4, 2, 8, 0, 0, 0, 0}});
    const std::vector<D3DCOLOR> pixels = readBack();
    EXPECT_EQ(at(pixels, 1, 1), quad[0]);
    EXPECT_EQ(at(pixels, 2, 1), quad[3]);
    EXPECT_EQ(at(pixels, 3, 1), quad[1]);
    EXPECT_EQ(at(pixels, 4, 1), quad[0]);
    EXPECT_EQ(at(pixels, 4, 2), quad[1]);
    device->SetTexture(0, nullptr);
    t->Release();
}

TEST_F(FixedFunctionDevice, ReflectionVectorIntoACubeTexture)
{
    // Faces +X, -X, +Y, -Y, +Z, -Z in distinct colours.
    const D3DCOLOR faces[6] = {0xFFFF0000, 0xFF00FFFF, 0xFF00FF00, 0xFFFF00FF, 0xFF0000FF, 0xFFFFFF00};
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(device->CreateCubeTexture(2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
    for (int f = 0; f < 6; ++f) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(cube->LockRect(D3DCUBEMAP_FACES(f), 0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < 2; ++y) {
            D3DCOLOR* row = reinterpret_cast<D3DCOLOR*>(static_cast<char*>(locked.pBits) + y * locked.Pitch);
            row[0] = row[1] = faces[f];
        }
        cube->UnlockRect(D3DCUBEMAP_FACES(f), 0);
    }
    device->SetTexture(1, cube);
    setPointSampling(1);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    // The engine's cube-reflection stage: stage 0 diffuse, stage 1
    // SELECTARG2 (CURRENT, TEXTURE) with the reflection vector, COUNT3.
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
    device->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
    const D3DMATRIX id = identity();
    device->SetTransform(D3DTS_TEXTURE1, &id);
    const V3 normals[] = {{0, 0, -1}, {0.8, 0, -0.6}, {-0.8, 0, -0.6}, {0, 0.8, -0.6}, {0, -0.8, -0.6},
                          {0.6, 0.35, -0.72}};
    for (int local = 0; local < 2; ++local) {
        device->SetRenderState(D3DRS_LOCALVIEWER, local);
        std::vector<PosNormal> v;
        for (size_t i = 0; i < std::size(normals); ++i)
            v.push_back({float(2 * i + 1), float(3 + 4 * local), 6.0f, float(normals[i].x), float(normals[i].y),
                         float(normals[i].z)});
        drawPoints(D3DFVF_XYZ | D3DFVF_NORMAL, v);
    }
    const std::vector<D3DCOLOR> pixels = readBack();
    for (int local = 0; local < 2; ++local) {
        for (size_t i = 0; i < std::size(normals); ++i) {
            const V3 P{double(2 * i + 1), double(3 + 4 * local), 6};
            const V3 N = ffref::normalize(normals[i]);
            const V3 I = local ? ffref::normalize(P) : V3{0, 0, 1};
            const V3 R = I - N * (2 * ffref::dot(N, I));
            const double ax = std::fabs(R.x), ay = std::fabs(R.y), az = std::fabs(R.z);
            const int face = ax >= ay && ax >= az ? (R.x > 0 ? 0 : 1) : ay >= az ? (R.y > 0 ? 2 : 3) : (R.z > 0 ? 4 : 5);
            EXPECT_EQ(at(pixels, int(2 * i + 1), 3 + 4 * local) & 0x00FFFFFF, faces[face] & 0x00FFFFFF)
                << (local ? "local" : "infinite") << " normal " << i;
        }
    }
    device->SetTexture(1, nullptr);
    cube->Release();
}

TEST_F(FixedFunctionDevice, AlphaTest)
{
    flatColourStates(device);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_ALPHAREF, 0x7F);
    const int alphas[] = {0, 126, 127, 128, 255};
    std::vector<PosDiffuse> v;
    for (int i = 0; i < 5; ++i)
        v.push_back({float(i), 4.0f, 1.0f, (DWORD(alphas[i]) << 24) | 0x0000FF00});
    drawPoints(D3DFVF_XYZ | D3DFVF_DIFFUSE, v);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    for (auto& p : v)
        p.y = 5.0f;
    drawPoints(D3DFVF_XYZ | D3DFVF_DIFFUSE, v);
    const std::vector<D3DCOLOR> pixels = readBack();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ((at(pixels, i, 4) >> 8) & 0xFF, alphas[i] > 127 ? 0xFFu : 0u) << "alpha " << alphas[i];
        EXPECT_EQ((at(pixels, i, 5) >> 8) & 0xFF, 0xFFu) << "test off";
    }
}

TEST_F(FixedFunctionDevice, UserClipPlanesInWorldSpace)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    // World moves right by 3, the view back: the plane keeps world x >= 8.
    D3DMATRIX world = identity(), view = identity();
    world._41 = 3.0f;
    view._41 = -3.0f;
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTransform(D3DTS_VIEW, &view);
    const float plane[4] = {1.0f, 0.0f, 0.0f, -8.0f};
    ASSERT_EQ(device->SetClipPlane(0, plane), D3D_OK);
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, D3DCLIPPLANE0);
    std::vector<PosDiffuse> v;
    for (int x = 0; x < int(kWidth); ++x)
        v.push_back({float(x), 6.0f, 1.0f, 0xFF00FF00});
    drawPoints(D3DFVF_XYZ | D3DFVF_DIFFUSE, v);
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    for (auto& p : v)
        p.y = 7.0f;
    drawPoints(D3DFVF_XYZ | D3DFVF_DIFFUSE, v);
    const std::vector<D3DCOLOR> pixels = readBack();
    for (int x = 0; x < int(kWidth); ++x) {
        EXPECT_EQ((at(pixels, x, 6) >> 8) & 0xFF, x + 3 >= 8 ? 0xFFu : 0u) << "clipped, x " << x;
        EXPECT_EQ((at(pixels, x, 7) >> 8) & 0xFF, 0xFFu) << "planes off, x " << x;
    }
}

TEST_F(FixedFunctionDevice, TransformedQuadsOnPixelCentres)
{
    device->SetRenderState(D3DRS_LIGHTING, TRUE); // transformed vertices are never lit
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    // The whole target from (-0.5, -0.5), then pixel (5, 3) alone.
    const ScreenDiffuse full[4] = {{-0.5f, -0.5f, 0.5f, 1.0f, 0xFF000080},
                                   {kWidth - 0.5f, -0.5f, 0.5f, 1.0f, 0xFF000080},
                                   {-0.5f, kHeight - 0.5f, 0.5f, 1.0f, 0xFF000080},
                                   {kWidth - 0.5f, kHeight - 0.5f, 0.5f, 1.0f, 0xFF000080}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, full, sizeof(ScreenDiffuse)), D3D_OK);
    const ScreenDiffuse one[4] = {{4.5f, 2.5f, 0.5f, 1.0f, 0xFF00FF00},
                                  {5.5f, 2.5f, 0.5f, 1.0f, 0xFF00FF00},
                                  {4.5f, 3.5f, 0.5f, 1.0f, 0xFF00FF00},
                                  {5.5f, 3.5f, 0.5f, 1.0f, 0xFF00FF00}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, one, sizeof(ScreenDiffuse)), D3D_OK);
    const std::vector<D3DCOLOR> pixels = readBack();
    int green = 0, blue = 0;
    for (UINT y = 0; y < kHeight; ++y) {
        for (UINT x = 0; x < kWidth; ++x) {
            const D3DCOLOR p = at(pixels, int(x), int(y));
            green += p == 0xFF00FF00;
            blue += p == 0xFF000080;
        }
    }
    EXPECT_EQ(at(pixels, 5, 3), 0xFF00FF00u);
    EXPECT_EQ(green, 1);
    EXPECT_EQ(blue, int(kWidth * kHeight) - 1);
}

} // namespace
