// The state tables: documented defaults, range checks, transforms, lights,
// material, and that unchanged states cost no GL work.
#include "device_test_support.h"

#include <cmath>

namespace {

DWORD bits(float f)
{
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

// What a fresh device does with no state set: no blending, all four
// channels written, depth on with its automatic surface and LESSEQUAL,
// counter-clockwise triangles culled.
TEST(DeviceStates, FreshDeviceDrawsWithTheDocumentedDefaults)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    // Only what routes the vertex colour through: the stage defaults read a
    // texture, and lighting does not touch pre-transformed vertices.
    flatColourStates(f.device.get());
    f->SetFVF(kTlFvf);
    ASSERT_EQ(f->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00000000, 1.0f, 0), D3D_OK);
    auto draw = [&](D3DCOLOR colour, float z, bool counterClockwise) {
        TlVertex v[4];
        tlQuad(v, -0.5f, -0.5f, 3.5f, 3.5f, colour, z);
        if (counterClockwise)
            std::swap(v[1], v[2]);
        EXPECT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TlVertex)), D3D_OK);
        return readBackBuffer(f.device.get()).at(5);
    };
    EXPECT_EQ(draw(0x80FF0000u, 0.5f, false), 0x80FF0000u) << "blended or a channel masked";
    EXPECT_EQ(draw(0xFF00FF00u, 0.7f, false), 0x80FF0000u) << "farther quad not hidden";
    EXPECT_EQ(draw(0x400000FFu, 0.5f, false), 0x400000FFu) << "equal depth refused";
    EXPECT_EQ(draw(0xFFFFFF00u, 0.1f, true), 0x400000FFu) << "counter-clockwise quad drawn";

    DeviceFixture noDepth(4, 4, false);
    ASSERT_EQ(noDepth.created, D3D_OK);
    DWORD z = 0xDEADBEEF;
    noDepth->GetRenderState(D3DRS_ZENABLE, &z);
    EXPECT_EQ(z, DWORD(D3DZB_FALSE));
}

// The documented defaults that are not zero and that no draw above shows.
TEST(DeviceStates, NonZeroRenderStateDefaults)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    const struct {
        D3DRENDERSTATETYPE state;
        DWORD value;
    } expected[] = {
        {D3DRS_FILLMODE, D3DFILL_SOLID},
        {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
        {D3DRS_LASTPIXEL, TRUE},
        {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
        {D3DRS_FOGEND, bits(1.0f)},
        {D3DRS_FOGDENSITY, bits(1.0f)},
        {D3DRS_STENCILFUNC, D3DCMP_ALWAYS},
        {D3DRS_STENCILMASK, 0xFFFFFFFF},
        {D3DRS_STENCILWRITEMASK, 0xFFFFFFFF},
        {D3DRS_TEXTUREFACTOR, 0xFFFFFFFF},
        {D3DRS_CLIPPING, TRUE},
        {D3DRS_LIGHTING, TRUE},
        {D3DRS_COLORVERTEX, TRUE},
        {D3DRS_LOCALVIEWER, TRUE},
        {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
        {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
        {D3DRS_POINTSIZE, bits(1.0f)},
        {D3DRS_BLENDFACTOR, 0xFFFFFFFF},
    };
    for (const auto& e : expected) {
        DWORD value = 0xDEADBEEF;
        ASSERT_EQ(f->GetRenderState(e.state, &value), D3D_OK) << e.state;
        EXPECT_EQ(value, e.value) << "render state " << e.state;
    }
}

TEST(DeviceStates, StageAndSamplerDefaults)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    for (DWORD stage = 0; stage < 8; ++stage) {
        DWORD v = 0;
        f->GetTextureStageState(stage, D3DTSS_COLOROP, &v);
        EXPECT_EQ(v, DWORD(stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE));
        f->GetTextureStageState(stage, D3DTSS_ALPHAOP, &v);
        EXPECT_EQ(v, DWORD(stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE));
        f->GetTextureStageState(stage, D3DTSS_COLORARG1, &v);
        EXPECT_EQ(v, DWORD(D3DTA_TEXTURE));
        f->GetTextureStageState(stage, D3DTSS_COLORARG2, &v);
        EXPECT_EQ(v, DWORD(D3DTA_CURRENT));
        f->GetTextureStageState(stage, D3DTSS_ALPHAARG1, &v);
        EXPECT_EQ(v, DWORD(D3DTA_TEXTURE));
        f->GetTextureStageState(stage, D3DTSS_ALPHAARG2, &v);
        EXPECT_EQ(v, DWORD(D3DTA_CURRENT));
        f->GetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, &v);
        EXPECT_EQ(v, stage);
        f->GetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, &v);
        EXPECT_EQ(v, DWORD(D3DTTFF_DISABLE));
    }
    for (DWORD sampler = 0; sampler < 16; ++sampler) {
        DWORD v = 0;
        f->GetSamplerState(sampler, D3DSAMP_ADDRESSU, &v);
        EXPECT_EQ(v, DWORD(D3DTADDRESS_WRAP));
        f->GetSamplerState(sampler, D3DSAMP_ADDRESSW, &v);
        EXPECT_EQ(v, DWORD(D3DTADDRESS_WRAP));
        f->GetSamplerState(sampler, D3DSAMP_MAGFILTER, &v);
        EXPECT_EQ(v, DWORD(D3DTEXF_POINT));
        f->GetSamplerState(sampler, D3DSAMP_MINFILTER, &v);
        EXPECT_EQ(v, DWORD(D3DTEXF_POINT));
        f->GetSamplerState(sampler, D3DSAMP_MIPFILTER, &v);
        EXPECT_EQ(v, DWORD(D3DTEXF_NONE));
        f->GetSamplerState(sampler, D3DSAMP_MAXANISOTROPY, &v);
        EXPECT_EQ(v, 1u);
        f->GetSamplerState(sampler, D3DSAMP_BORDERCOLOR, &v);
        EXPECT_EQ(v, 0u);
    }
}

TEST(DeviceStates, OutOfRangeCallsChangeNothing)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    DWORD v = 0;
    EXPECT_EQ(f->SetRenderState(D3DRENDERSTATETYPE(10), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetRenderState(D3DRENDERSTATETYPE(300), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->GetRenderState(D3DRS_ZENABLE, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_ADD), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetTextureStageState(0, D3DTEXTURESTAGESTATETYPE(12), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetSamplerState(16, D3DSAMP_MINFILTER, D3DTEXF_LINEAR), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetSamplerState(D3DDMAPSAMPLER, D3DSAMP_MINFILTER, D3DTEXF_LINEAR), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetSamplerState(0, D3DSAMPLERSTATETYPE(14), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetTexture(D3DDMAPSAMPLER, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetTexture(D3DVERTEXTEXTURESAMPLER0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetTransform(D3DTRANSFORMSTATETYPE(24), nullptr), D3DERR_INVALIDCALL);
    D3DMATRIX m{};
    EXPECT_EQ(f->SetTransform(D3DTRANSFORMSTATETYPE(1), &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetClipPlane(6, reinterpret_cast<const float*>(&m)), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetViewport(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetMaterial(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetStreamSource(16, nullptr, 0, 0), D3DERR_INVALIDCALL);
    f->GetSamplerState(0, D3DSAMP_MINFILTER, &v);
    EXPECT_EQ(v, DWORD(D3DTEXF_POINT));
    f->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, DWORD(D3DTOP_MODULATE));
    // States persist and read back.
    ASSERT_EQ(f->SetRenderState(D3DRS_ALPHAREF, 127), D3D_OK);
    f->GetRenderState(D3DRS_ALPHAREF, &v);
    EXPECT_EQ(v, 127u);
}

TEST(DeviceStates, TransformsMultiplyInDirect3DsOrder)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    D3DMATRIX m{};
    ASSERT_EQ(f->GetTransform(D3DTS_TEXTURE3, &m), D3D_OK);
    EXPECT_EQ(m._11, 1.0f);
    EXPECT_EQ(m._44, 1.0f);
    EXPECT_EQ(m._12, 0.0f);
    D3DMATRIX scale{};
    scale._11 = 2.0f;
    scale._22 = scale._33 = scale._44 = 1.0f;
    D3DMATRIX translate{};
    translate._11 = translate._22 = translate._33 = translate._44 = 1.0f;
    translate._41 = 3.0f;
    f->SetTransform(D3DTS_VIEW, &translate);
    // pMatrix x current: scale first, then the translation.
    ASSERT_EQ(f->MultiplyTransform(D3DTS_VIEW, &scale), D3D_OK);
    f->GetTransform(D3DTS_VIEW, &m);
    EXPECT_EQ(m._11, 2.0f);
    EXPECT_EQ(m._41, 3.0f);
    f->SetTransform(D3DTS_WORLDMATRIX(5), &scale);
    f->GetTransform(D3DTS_WORLDMATRIX(5), &m);
    EXPECT_EQ(m._11, 2.0f);
    f->GetTransform(D3DTS_WORLD, &m);
    EXPECT_EQ(m._11, 1.0f);
}

TEST(DeviceStates, LightsAndMaterial)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    D3DLIGHT9 light{};
    BOOL enabled = TRUE;
    EXPECT_EQ(f->GetLight(3, &light), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->GetLightEnable(3, &enabled), D3DERR_INVALIDCALL);
    // Enabling an unset light makes the default one: white, directional, +z.
    ASSERT_EQ(f->LightEnable(3, TRUE), D3D_OK);
    ASSERT_EQ(f->GetLight(3, &light), D3D_OK);
    EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(light.Diffuse.r, 1.0f);
    EXPECT_EQ(light.Direction.z, 1.0f);
    f->GetLightEnable(3, &enabled);
    EXPECT_TRUE(enabled);
    // A cone wider inside than outside is refused.
    D3DLIGHT9 spot{};
    spot.Type = D3DLIGHT_SPOT;
    spot.Range = 10.0f;
    spot.Attenuation0 = 1.0f;
    spot.Theta = 1.0f;
    spot.Phi = 0.5f;
    EXPECT_EQ(f->SetLight(0, &spot), D3DERR_INVALIDCALL);
    spot.Phi = 4.0f; // beyond pi
    EXPECT_EQ(f->SetLight(0, &spot), D3DERR_INVALIDCALL);
    spot.Phi = 1.5f;
    EXPECT_EQ(f->SetLight(0, &spot), D3D_OK);
    f->GetLightEnable(0, &enabled);
    EXPECT_FALSE(enabled);

    D3DMATERIAL9 mat{};
    mat.Diffuse = {0.5f, 0.25f, 1.0f, 1.0f};
    mat.Power = 8.0f;
    ASSERT_EQ(f->SetMaterial(&mat), D3D_OK);
    D3DMATERIAL9 back{};
    f->GetMaterial(&back);
    EXPECT_EQ(back.Diffuse.g, 0.25f);
    EXPECT_EQ(back.Power, 8.0f);
}

TEST(DeviceStates, UnchangedStatesCostNoGlWork)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    TlVertex v[4];
    tlQuad(v, -0.5f, -0.5f, 3.5f, 3.5f, 0xFFFF0000u);
    ComRef<IDirect3DVertexBuffer9> vb;
    ASSERT_EQ(f->CreateVertexBuffer(sizeof v, 0, kTlFvf, D3DPOOL_MANAGED, vb.out(), nullptr), D3D_OK);
    void* data = nullptr;
    vb->Lock(0, 0, &data, 0);
    std::memcpy(data, v, sizeof v);
    vb->Unlock();
    f->SetStreamSource(0, vb.get(), 0, sizeof(TlVertex));
    f->SetFVF(kTlFvf);
    f->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    f->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    ASSERT_EQ(f->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    ASSERT_EQ(f->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    const unsigned long long before = platform::d3d9::glStateChangeCount(f.device.get());
    // Setting the same values again, then drawing: nothing to send.
    f->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    f->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    f->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    ASSERT_EQ(f->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EXPECT_EQ(platform::d3d9::glStateChangeCount(f.device.get()), before);
    // One real change: one group of calls.
    f->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    ASSERT_EQ(f->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EXPECT_EQ(platform::d3d9::glStateChangeCount(f.device.get()), before + 1);
}

} // namespace

namespace {

// The call log: off by default, records arguments and pointed-at data while
// on, logs refused calls too, and a take empties it.
TEST(DeviceStates, CallLogRecordsCallsWhileOn)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    f->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    platform::d3d9::setCallLogging(f.device.get(), true);
    D3DMATRIX m{};
    m._41 = 7.0f;
    f->SetTransform(D3DTS_WORLD, &m);
    f->SetRenderState(D3DRENDERSTATETYPE(9999), 1); // refused, still logged
    const WORD indices[2] = {0, 1};
    const ColourVertex vertices[2] = {{0, 0, 0, 0xFF0000FF}, {1, 1, 1, 0xFF00FF00}};
    f->SetFVF(kColourFvf);
    f->DrawIndexedPrimitiveUP(D3DPT_LINELIST, 0, 2, 1, indices, D3DFMT_INDEX16, vertices, sizeof(ColourVertex));
    auto log = platform::d3d9::takeCallLog(f.device.get());
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].name, "SetTransform");
    ASSERT_EQ(log[0].data.size(), sizeof(D3DMATRIX));
    D3DMATRIX logged;
    std::memcpy(&logged, log[0].data.data(), sizeof logged);
    EXPECT_EQ(logged._41, 7.0f);
    EXPECT_EQ(log[1].args, (std::vector<double>{9999, 1}));
    EXPECT_EQ(log[3].name, "DrawIndexedPrimitiveUP");
    EXPECT_EQ(log[3].args, (std::vector<double>{D3DPT_LINELIST, 0, 2, 1, D3DFMT_INDEX16, sizeof(ColourVertex)}));
    EXPECT_EQ(log[3].indices.size(), sizeof indices);
    EXPECT_EQ(log[3].data.size(), sizeof vertices);
    EXPECT_TRUE(platform::d3d9::takeCallLog(f.device.get()).empty());
    platform::d3d9::setCallLogging(f.device.get(), false);
    f->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    EXPECT_TRUE(platform::d3d9::takeCallLog(f.device.get()).empty());
}

} // namespace
