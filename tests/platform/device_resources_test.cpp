// Textures, surfaces, buffers and declarations: creation rules, locks and
// pitches, what each format looks like when sampled, copies and lifetimes.
#include "../cost_test_support.h"
#include "device_test_support.h"

#include "platform/d3d9/adapter_profiles.h"
#include "scoped_state.h"

#include <cmath>
#include <thread>

namespace {

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu, kBlack = 0xFF000000u;

UINT bytesOf(D3DFORMAT f)
{
    switch (f) {
    case D3DFMT_L8:
    case D3DFMT_A8: return 1;
    case D3DFMT_R5G6B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_A8L8:
    case D3DFMT_R16F: return 2;
    case D3DFMT_A16B16G16R16F: return 8;
    case D3DFMT_A32B32G32R32F: return 16;
    default: return 4;
    }
}

class LockRoundTrip : public ::testing::TestWithParam<D3DFORMAT> {};

TEST_P(LockRoundTrip, BytesComeBackWithDirect3DsPitch)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    const D3DFORMAT format = GetParam();
    const UINT width = 3, height = 2, bpp = bytesOf(format);
    ComRef<IDirect3DTexture9> t;
    ASSERT_EQ(f->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED, t.out(), nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    EXPECT_EQ(UINT(lr.Pitch), (width * bpp + 3) & ~3u);
    for (UINT y = 0; y < height; ++y) {
        for (UINT i = 0; i < width * bpp; ++i)
            static_cast<unsigned char*>(lr.pBits)[y * lr.Pitch + i] = static_cast<unsigned char>(y * 31 + i * 7 + 1);
    }
    // A second lock of a locked level is refused.
    D3DLOCKED_RECT again{};
    EXPECT_EQ(t->LockRect(0, &again, nullptr, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(t->UnlockRect(0), D3D_OK);
    EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL);
    // Drawn with once, so that the level went to GL.
    f->SetTexture(0, t.get());
    f->SetRenderState(D3DRS_LIGHTING, FALSE);
    TlVertex v[4];
    tlQuad(v, -0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFFu);
    f->SetFVF(kTlFvf);
    ASSERT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TlVertex)), D3D_OK);
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (UINT y = 0; y < height; ++y) {
        for (UINT i = 0; i < width * bpp; ++i)
            EXPECT_EQ(static_cast<unsigned char*>(lr.pBits)[y * lr.Pitch + i],
                      static_cast<unsigned char>(y * 31 + i * 7 + 1))
                << y << "," << i;
    }
    t->UnlockRect(0);
}

INSTANTIATE_TEST_SUITE_P(Formats, LockRoundTrip,
                         ::testing::Values(D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_A1R5G5B5,
                                           D3DFMT_A4R4G4B4, D3DFMT_L8, D3DFMT_A8, D3DFMT_A8L8, D3DFMT_R16F,
                                           D3DFMT_A16B16G16R16F, D3DFMT_R32F, D3DFMT_A32B32G32R32F));

struct Sampled {
    D3DFORMAT format;
    std::vector<unsigned char> texel; // one texel in memory order
    uint32_t expected;                // ARGB as drawn
};

class FormatSampling : public ::testing::TestWithParam<Sampled> {};

TEST_P(FormatSampling, TexelArrivesAsDirect3DDefinesIt)
{
    DeviceFixture f(2, 2);
    ASSERT_EQ(f.created, D3D_OK);
    const Sampled& s = GetParam();
    ComRef<IDirect3DTexture9> t;
    ASSERT_EQ(f->CreateTexture(1, 1, 1, 0, s.format, D3DPOOL_MANAGED, t.out(), nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    std::memcpy(lr.pBits, s.texel.data(), s.texel.size());
    t->UnlockRect(0);
    f->SetTexture(0, t.get());
    f->SetRenderState(D3DRS_LIGHTING, FALSE);
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    f->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    TlVertex v[4];
    tlQuad(v, -0.5f, -0.5f, 1.5f, 1.5f, 0xFFFFFFFFu);
    f->SetFVF(kTlFvf);
    ASSERT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TlVertex)), D3D_OK);
    const uint32_t got = readBackBuffer(f.device.get())[3];
    for (int shift = 0; shift < 32; shift += 8)
        EXPECT_NEAR(int((got >> shift) & 0xFF), int((s.expected >> shift) & 0xFF), 1)
            << std::hex << got << " vs " << s.expected;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatSampling,
    ::testing::Values(
        // A8R8G8B8: bytes B, G, R, A.
        Sampled{D3DFMT_A8R8G8B8, {0x10, 0x20, 0x30, 0x40}, 0x40302010u},
        // X8R8G8B8: the fourth byte means nothing, alpha is 1.
        Sampled{D3DFMT_X8R8G8B8, {0x10, 0x20, 0x30, 0x00}, 0xFF302010u},
        // R5G6B5 0xF81F: red 31, green 0, blue 31.
        Sampled{D3DFMT_R5G6B5, {0x1F, 0xF8}, 0xFFFF00FFu},
        // A1R5G5B5 0x7FE0: alpha 0, red 31, green 31, blue 0.
        Sampled{D3DFMT_A1R5G5B5, {0xE0, 0x7F}, 0x00FFFF00u},
        // A4R4G4B4 0x8F0F: alpha 8/15, red 15, green 0, blue 15.
        Sampled{D3DFMT_A4R4G4B4, {0x0F, 0x8F}, 0x88FF00FFu},
        Sampled{D3DFMT_L8, {0x80}, 0xFF808080u},
        Sampled{D3DFMT_A8, {0x80}, 0x80000000u},
        // A8L8: luminance byte, then alpha.
        Sampled{D3DFMT_A8L8, {0x40, 0xC0}, 0xC0404040u},
        // R16F 0.5 (0x3800): the missing channels are 1.
        Sampled{D3DFMT_R16F, {0x00, 0x38}, 0xFF80FFFFu},
        // R32F 0.25.
        Sampled{D3DFMT_R32F, {0x00, 0x00, 0x80, 0x3E}, 0xFF40FFFFu}));

TEST(DeviceTextures, MipChainsAndLevelDescriptions)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DTexture9> t;
    ASSERT_EQ(f->CreateTexture(8, 2, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out(), nullptr), D3D_OK);
    EXPECT_EQ(t->GetLevelCount(), 4u);
    D3DSURFACE_DESC d{};
    ASSERT_EQ(t->GetLevelDesc(3, &d), D3D_OK);
    EXPECT_EQ(d.Width, 1u);
    EXPECT_EQ(d.Height, 1u);
    EXPECT_EQ(d.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(t->GetLevelDesc(4, &d), D3DERR_INVALIDCALL);
    // A level surface counts on its texture.
    ComRef<IDirect3DSurface9> level;
    ASSERT_EQ(t->GetSurfaceLevel(1, level.out()), D3D_OK);
    EXPECT_EQ(t->AddRef(), 3u);
    t->Release();
    ComRef<IDirect3DTexture9> container;
    ASSERT_EQ(level->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(container.out())), D3D_OK);
    EXPECT_EQ(container.get(), t.get());
    ComRef<IDirect3DSurface9> missing;
    EXPECT_EQ(t->GetSurfaceLevel(4, missing.out()), D3DERR_INVALIDCALL);
    EXPECT_EQ(t->SetLOD(2), 0u);
    EXPECT_EQ(t->GetLOD(), 2u);
    // Too many levels, no size, refused pools and usages.
    ComRef<IDirect3DTexture9> bad;
    EXPECT_EQ(f->CreateTexture(8, 2, 5, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, bad.out(), nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->CreateTexture(0, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, bad.out(), nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, bad.out(), nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(f->CreateTexture(4, 4, 1, D3DUSAGE_DEPTHSTENCIL, D3DFMT_D24S8, D3DPOOL_DEFAULT, bad.out(), nullptr),
              D3DERR_INVALIDCALL); // no depth textures
    EXPECT_EQ(f->CreateTexture(4, 4, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, bad.out(), nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(bad.get(), nullptr);
}

TEST(DeviceTextures, PartialLocksAndGeneratedMipmaps)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DTexture9> t;
    ASSERT_EQ(f->CreateTexture(4, 4, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.out(), nullptr),
              D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_DISCARD), D3D_OK);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            reinterpret_cast<uint32_t*>(static_cast<char*>(lr.pBits) + y * lr.Pitch)[x] = kRed;
    }
    t->UnlockRect(0);
    // A rectangle lock points at its corner.
    const RECT r{1, 2, 3, 4};
    ASSERT_EQ(t->LockRect(0, &lr, &r, 0), D3D_OK);
    *static_cast<uint32_t*>(lr.pBits) = kBlue;
    t->UnlockRect(0);
    const RECT outside{2, 2, 5, 4};
    EXPECT_EQ(t->LockRect(0, &lr, &outside, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(static_cast<char*>(lr.pBits) + 2 * lr.Pitch)[1], kBlue);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(static_cast<char*>(lr.pBits) + 2 * lr.Pitch)[0], kRed);
    t->UnlockRect(0);

    t->GenerateMipSubLevels();
    ASSERT_EQ(t->LockRect(2, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    const uint32_t average = *static_cast<uint32_t*>(lr.pBits);
    t->UnlockRect(2);
    // 15 red texels and one blue one.
    EXPECT_NEAR(int((average >> 16) & 0xFF), 239, 2);
    EXPECT_NEAR(int(average & 0xFF), 16, 2);
}

TEST(DeviceTextures, CompressedBlocksWhereTheAdapterOffersThem)
{
    // An adapter that lists DXT1 textures: the blocks are locked as they
    // are stored and decoded by GL.
    platform::AdapterProfile profile = platform::defaultAdapterProfile();
    auto base = profile.deviceFormat;
    profile.deviceFormat = [base](D3DFORMAT adapter, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
        return (format == D3DFMT_DXT1 && usage == 0 && type == D3DRTYPE_TEXTURE) || base(adapter, usage, type, format);
    };
    platform::installAdapterProfiles({profile});
    testsupport::OnExit uninstall(platform::clearAdapterProfiles);
    {
        DeviceFixture f(4, 4);
        ASSERT_EQ(f.created, D3D_OK);
        ComRef<IDirect3DTexture9> t;
        const HRESULT hr = f->CreateTexture(8, 4, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, t.out(), nullptr);
        if (hr == D3D_OK) {
            D3DLOCKED_RECT lr{};
            ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
            EXPECT_EQ(lr.Pitch, 16); // two 8-byte blocks a block row
            // Block 0 solid red, block 1 solid blue (both end points alike).
            const unsigned char blocks[16] = {0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0, 0x1F, 0x00, 0x1F, 0x00, 0, 0, 0, 0};
            std::memcpy(lr.pBits, blocks, sizeof blocks);
            t->UnlockRect(0);
            f->SetTexture(0, t.get());
            f->SetRenderState(D3DRS_LIGHTING, FALSE);
            TlVertex v[4];
            tlQuad(v, -0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFFu);
            f->SetFVF(kTlFvf);
            ASSERT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TlVertex)), D3D_OK);
            const std::vector<uint32_t> p = readBackBuffer(f.device.get());
            EXPECT_EQ(p[0], kRed);
            EXPECT_EQ(p[3], kBlue);
            ComRef<IDirect3DTexture9> odd;
            EXPECT_EQ(f->CreateTexture(6, 4, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, odd.out(), nullptr),
                      D3DERR_INVALIDCALL);
        } else {
            EXPECT_EQ(hr, D3DERR_INVALIDCALL); // GL without S3TC refuses
        }
    }
}

TEST(DeviceTextures, CubeFacesAreRenderTargets)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DCubeTexture9> cube;
    ASSERT_EQ(f->CreateCubeTexture(4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, cube.out(), nullptr),
              D3D_OK);
    ComRef<IDirect3DSurface9> back;
    f->GetRenderTarget(0, back.out());
    const D3DCOLOR colours[6] = {kRed, kGreen, kBlue, 0xFFFFFF00u, 0xFF00FFFFu, 0xFFFF00FFu};
    for (int face = 0; face < 6; ++face) {
        ComRef<IDirect3DSurface9> s;
        ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, s.out()), D3D_OK);
        ASSERT_EQ(f->SetRenderTarget(0, s.get()), D3D_OK);
        f->Clear(0, nullptr, D3DCLEAR_TARGET, colours[face], 1.0f, 0);
    }
    f->SetRenderTarget(0, back.get());
    for (int face = 0; face < 6; ++face) {
        ComRef<IDirect3DSurface9> s;
        cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, s.out());
        EXPECT_EQ(readTarget(f.device.get(), s.get())[5], colours[face]) << face;
    }
    ComRef<IDirect3DSurface9> none;
    EXPECT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(6), 0, none.out()), D3DERR_INVALIDCALL);
}

TEST(DeviceTextures, VolumeBoxesLockWithRowAndSlicePitches)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DVolumeTexture9> volume;
    ASSERT_EQ(f->CreateVolumeTexture(4, 2, 3, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, volume.out(), nullptr), D3D_OK);
    D3DLOCKED_BOX box{};
    ASSERT_EQ(volume->LockBox(0, &box, nullptr, 0), D3D_OK);
    EXPECT_EQ(box.RowPitch, 16);
    EXPECT_EQ(box.SlicePitch, 32);
    for (int z = 0; z < 3; ++z)
        reinterpret_cast<uint32_t*>(static_cast<char*>(box.pBits) + z * box.SlicePitch)[0] = 0xFF000000u | z;
    EXPECT_EQ(volume->LockBox(0, &box, nullptr, 0), D3DERR_INVALIDCALL);
    volume->UnlockBox(0);
    const D3DBOX part{0, 0, 1, 1, 2, 3};
    ASSERT_EQ(volume->LockBox(0, &box, &part, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(*static_cast<uint32_t*>(box.pBits), 0xFF000002u);
    volume->UnlockBox(0);
    D3DVOLUME_DESC d{};
    volume->GetLevelDesc(0, &d);
    EXPECT_EQ(d.Depth, 3u);
    f->SetTexture(0, volume.get());
    ComRef<IDirect3DBaseTexture9> bound;
    f->GetTexture(0, bound.out());
    EXPECT_EQ(bound.get(), static_cast<IDirect3DBaseTexture9*>(volume.get()));
}

TEST(DeviceSurfaces, CopiesBetweenMemoryAndTargets)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DSurface9> system, target;
    ASSERT_EQ(f->CreateOffscreenPlainSurface(4, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, system.out(), nullptr), D3D_OK);
    ASSERT_EQ(f->CreateRenderTarget(4, 4, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, target.out(), nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(system->LockRect(&lr, nullptr, 0), D3D_OK);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            reinterpret_cast<uint32_t*>(static_cast<char*>(lr.pBits) + y * lr.Pitch)[x] = 0xFF000000u | (y * 4 + x);
    }
    system->UnlockRect();
    f->ColorFill(target.get(), nullptr, kBlack);
    const RECT part{0, 0, 2, 2};
    const POINT at{2, 1};
    ASSERT_EQ(f->UpdateSurface(system.get(), &part, target.get(), &at), D3D_OK);
    std::vector<uint32_t> p = readTarget(f.device.get(), target.get());
    EXPECT_EQ(p[1 * 4 + 2], 0xFF000000u);
    EXPECT_EQ(p[2 * 4 + 3], 0xFF000005u);
    EXPECT_EQ(p[0], kBlack);
    // A lockable render target locks directly too.
    ASSERT_EQ(target->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(static_cast<char*>(lr.pBits) + 2 * lr.Pitch)[3], 0xFF000005u);
    target->UnlockRect();

    ComRef<IDirect3DSurface9> wrongSize;
    f->CreateOffscreenPlainSurface(2, 2, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, wrongSize.out(), nullptr);
    EXPECT_EQ(f->GetRenderTargetData(target.get(), wrongSize.get()), D3DERR_INVALIDCALL);
    const POINT beyond{3, 3};
    EXPECT_EQ(f->UpdateSurface(system.get(), &part, target.get(), &beyond), D3DERR_INVALIDCALL);
}

TEST(DeviceSurfaces, UpdateTextureCopiesEveryLevel)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DTexture9> source, dest;
    ASSERT_EQ(f->CreateTexture(4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, source.out(), nullptr), D3D_OK);
    ASSERT_EQ(f->CreateTexture(4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, dest.out(), nullptr), D3D_OK);
    for (UINT level = 0; level < 3; ++level) {
        D3DLOCKED_RECT lr{};
        source->LockRect(level, &lr, nullptr, 0);
        *static_cast<uint32_t*>(lr.pBits) = 0xFF000000u | level;
        source->UnlockRect(level);
    }
    ASSERT_EQ(f->UpdateTexture(source.get(), dest.get()), D3D_OK);
    for (UINT level = 0; level < 3; ++level) {
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(dest->LockRect(level, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
        EXPECT_EQ(*static_cast<uint32_t*>(lr.pBits), 0xFF000000u | level);
        dest->UnlockRect(level);
    }
}

TEST(DeviceSurfaces, MultisampledTargetResolvesIntoATexture)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DSurface9> msaa;
    ASSERT_EQ(f->CreateRenderTarget(4, 4, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_4_SAMPLES, 0, FALSE, msaa.out(), nullptr),
              D3D_OK);
    ComRef<IDirect3DSurface9> lockableMsaa;
    EXPECT_EQ(f->CreateRenderTarget(4, 4, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_4_SAMPLES, 0, TRUE, lockableMsaa.out(),
                                    nullptr),
              D3DERR_INVALIDCALL);
    ComRef<IDirect3DTexture9> texture;
    ASSERT_EQ(f->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, texture.out(), nullptr),
              D3D_OK);
    ComRef<IDirect3DSurface9> level, back;
    texture->GetSurfaceLevel(0, level.out());
    f->GetRenderTarget(0, back.out());
    ASSERT_EQ(f->SetRenderTarget(0, msaa.get()), D3D_OK);
    ASSERT_EQ(f->SetDepthStencilSurface(nullptr), D3D_OK);
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0);
    // Not readable directly.
    EXPECT_TRUE(readTarget(f.device.get(), msaa.get()).empty());
    ASSERT_EQ(f->StretchRect(msaa.get(), nullptr, level.get(), nullptr, D3DTEXF_NONE), D3D_OK);
    EXPECT_EQ(readTarget(f.device.get(), level.get())[5], kBlue);
}

TEST(DeviceSurfaces, LocksFromAnotherThreadReachTheNextDraw)
{
    // A multithreaded device: a decoder thread fills a texture, the device
    // thread draws it.
    DeviceFixture f(4, 4, true, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DTexture9> t;
    ASSERT_EQ(f->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out(), nullptr), D3D_OK);
    f->SetTexture(0, t.get());
    f->SetRenderState(D3DRS_LIGHTING, FALSE);
    TlVertex v[4];
    tlQuad(v, -0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFFu);
    f->SetFVF(kTlFvf);
    ASSERT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TlVertex)), D3D_OK);
    HRESULT locked = E_FAIL, unlocked = E_FAIL;
    std::thread decoder([&] {
        D3DLOCKED_RECT lr{};
        locked = t->LockRect(0, &lr, nullptr, 0);
        if (SUCCEEDED(locked))
            *static_cast<uint32_t*>(lr.pBits) = kGreen;
        unlocked = t->UnlockRect(0);
    });
    decoder.join();
    EXPECT_EQ(locked, D3D_OK);
    EXPECT_EQ(unlocked, D3D_OK);
    ASSERT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TlVertex)), D3D_OK);
    EXPECT_EQ(readBackBuffer(f.device.get())[5], kGreen);
}

TEST(DeviceLifetime, ResourcesKeepTheirDeviceAlive)
{
    ComRef<IDirect3DTexture9> t;
    {
        DeviceFixture f(4, 4);
        ASSERT_EQ(f.created, D3D_OK);
        ASSERT_EQ(f->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out(), nullptr), D3D_OK);
        f->SetTexture(0, t.get());
        EXPECT_EQ(t->AddRef(), 3u); // ours, the binding's, this one
        t->Release();
    }
    // The device is gone for the application, but the texture still works.
    ASSERT_TRUE(t);
    EXPECT_EQ(t->AddRef(), 2u);
    t->Release();
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    *static_cast<uint32_t*>(lr.pBits) = kGreen;
    EXPECT_EQ(t->UnlockRect(0), D3D_OK);
    ComRef<IDirect3DDevice9> device;
    ASSERT_EQ(t->GetDevice(device.out()), D3D_OK);
    EXPECT_NE(device.get(), nullptr);
}

// ---------------------------------------------------------------------------
// Buffers and declarations

TEST(DeviceBuffers, CreationRules)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DVertexBuffer9> vb;
    ComRef<IDirect3DIndexBuffer9> ib;
    EXPECT_EQ(f->CreateVertexBuffer(0, 0, 0, D3DPOOL_MANAGED, vb.out(), nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->CreateVertexBuffer(8, 0, kTlFvf, D3DPOOL_MANAGED, vb.out(), nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->CreateVertexBuffer(64, D3DUSAGE_DYNAMIC, 0, D3DPOOL_MANAGED, vb.out(), nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->CreateIndexBuffer(12, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, ib.out(), nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(f->CreateVertexBuffer(56, D3DUSAGE_WRITEONLY, kTlFvf, D3DPOOL_MANAGED, vb.out(), nullptr), D3D_OK);
    D3DVERTEXBUFFER_DESC vd{};
    vb->GetDesc(&vd);
    EXPECT_EQ(vd.Size, 56u);
    EXPECT_EQ(vd.FVF, kTlFvf);
    ASSERT_EQ(f->CreateIndexBuffer(12, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED, ib.out(), nullptr), D3D_OK);
    D3DINDEXBUFFER_DESC id{};
    ib->GetDesc(&id);
    EXPECT_EQ(id.Format, D3DFMT_INDEX32);
    // Locks: offset and size, 0 meaning the rest.
    void* whole = nullptr;
    void* part = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &whole, 0), D3D_OK);
    ASSERT_EQ(vb->Lock(28, 28, &part, D3DLOCK_NOOVERWRITE), D3D_OK);
    EXPECT_EQ(static_cast<char*>(part) - static_cast<char*>(whole), 28);
    vb->Unlock();
    vb->Unlock();
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
}

// 256 MB of unwritten buffers take a few pages (the zeros were once written).
TEST(DeviceBuffers, UnwrittenBuffersTakeNoMemory)
{
    if (!testsupport::inFreshProcess()) {
        EXPECT_TRUE(testsupport::passesInFreshProcess());
        return;
    }
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    const long before = testsupport::peakMegabytes();
    std::vector<ComRef<IDirect3DIndexBuffer9>> buffers(32);
    for (auto& b : buffers)
        ASSERT_EQ(f->CreateIndexBuffer(8u << 20, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                       D3DPOOL_DEFAULT, b.out(), nullptr),
                  D3D_OK);
    EXPECT_LT(testsupport::peakMegabytes() - before, 64);
}

TEST(DeviceDeclarations, FvfDecodesToElements)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    const DWORD fvf = D3DFVF_XYZB2 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE |
                      D3DFVF_SPECULAR | D3DFVF_TEX3 | D3DFVF_TEXCOORDSIZE1(0) | D3DFVF_TEXCOORDSIZE3(2);
    ASSERT_EQ(f->SetFVF(fvf), D3D_OK);
    DWORD got = 0;
    f->GetFVF(&got);
    EXPECT_EQ(got, fvf);
    ComRef<IDirect3DVertexDeclaration9> decl;
    ASSERT_EQ(f->GetVertexDeclaration(decl.out()), D3D_OK);
    ASSERT_TRUE(decl);
    D3DVERTEXELEMENT9 e[MAXD3DDECLLENGTH + 1];
    UINT n = 0;
    ASSERT_EQ(decl->GetDeclaration(nullptr, &n), D3D_OK);
    ASSERT_EQ(n, 11u);
    ASSERT_EQ(decl->GetDeclaration(e, &n), D3D_OK);
    struct Expected {
        WORD offset;
        BYTE type, usage, index;
    } expected[] = {
        {0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0},       {12, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_BLENDWEIGHT, 0},
        {16, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0},  {20, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0},
        {32, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0},         {36, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0},
        {40, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1},       {44, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_TEXCOORD, 0},
        {48, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1},      {56, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD, 2},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(e[i].Offset, expected[i].offset) << i;
        EXPECT_EQ(e[i].Type, expected[i].type) << i;
        EXPECT_EQ(e[i].Usage, expected[i].usage) << i;
        EXPECT_EQ(e[i].UsageIndex, expected[i].index) << i;
    }
    EXPECT_EQ(e[10].Stream, 0xFF);
    EXPECT_EQ(f->SetFVF(D3DFVF_XYZ | D3DFVF_TEX0 | 0x900), D3DERR_INVALIDCALL); // nine coordinate sets
    f->GetFVF(&got);
    EXPECT_EQ(got, fvf);
}

TEST(DeviceDeclarations, MalformedDeclarationsAreRefused)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DVertexDeclaration9> decl;
    EXPECT_EQ(f->CreateVertexDeclaration(nullptr, decl.out()), D3DERR_INVALIDCALL);
    const D3DVERTEXELEMENT9 twice[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                       {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    EXPECT_EQ(f->CreateVertexDeclaration(twice, decl.out()), D3DERR_INVALIDCALL);
    const D3DVERTEXELEMENT9 badType[] = {{0, 0, 40, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    EXPECT_EQ(f->CreateVertexDeclaration(badType, decl.out()), D3DERR_INVALIDCALL);
    const D3DVERTEXELEMENT9 good[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                      {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                      {0, 24, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0}, D3DDECL_END()};
    ASSERT_EQ(f->CreateVertexDeclaration(good, decl.out()), D3D_OK);
    ASSERT_EQ(f->SetVertexDeclaration(decl.get()), D3D_OK);
    DWORD fvf = 1;
    f->GetFVF(&fvf);
    EXPECT_EQ(fvf, 0u);
    UINT n = 0;
    decl->GetDeclaration(nullptr, &n);
    EXPECT_EQ(n, 4u);
}

} // namespace
