// The texture base on real headless devices: creation with its scratch
// retry and the failure path, the upload (mip-maps, normal maps, format
// conversion), one texture per device in stereo, and the slots.
#include "texture_test_support.h"

#include <d3dx9.h>

using namespace texturetest;

namespace {

u32 byteOf(u32 texel, int shift)
{
    return (texel >> shift) & 0xFF;
}

// Rounded (halves up) 2 x 2 averages: the level below.
std::vector<u32> boxDown(const std::vector<u32>& above, int w, int h)
{
    const int dw = w > 1 ? w / 2 : 1, dh = h > 1 ? h / 2 : 1;
    const int fx = w / dw, fy = h / dh;
    std::vector<u32> out(size_t(dw) * dh);
    for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x) {
            u32 texel = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                u32 sum = 0;
                for (int sy = 0; sy < fy; ++sy)
                    for (int sx = 0; sx < fx; ++sx)
                        sum += byteOf(above[size_t(y * fy + sy) * w + x * fx + sx], shift);
                const u32 n = u32(fx * fy);
                texel |= ((sum + n / 2) / n) << shift;
            }
            out[size_t(y) * dw + x] = texel;
        }
    return out;
}

u32 noise(int x, int y)
{
    u32 s = u32(x * 73856093) ^ u32(y * 19349663) ^ 0x5bd1e995u;
    s ^= s >> 13;
    s *= 0x85ebca6bu;
    return s ^ (s >> 16);
}

TEST(TextureCreate, StoresItsParametersAndBuildsTheMipChain)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    BuiltTexture t(engine.get(), 0);
    EXPECT_EQ(t.slotCount, 1);
    EXPECT_EQ(t.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(t.baseTexture(), nullptr);
    EXPECT_EQ(t.current(0.0), nullptr);
    EXPECT_FLOAT_EQ(t.bumpScale, 1.0f);
    EXPECT_FLOAT_EQ(t.gamma.value, 1.0f);

    ASSERT_TRUE(t.create2D(8, 4, Texture::kMipChain, "(test)"));
    EXPECT_STREQ(t.name.c_str(), "(test)");
    EXPECT_EQ(t.width, 8);
    EXPECT_EQ(t.height, 4);
    EXPECT_EQ(t.depth, 1);
    EXPECT_EQ(t.pool, D3DPOOL_MANAGED);
    EXPECT_EQ(t.levelCount, 4);
    EXPECT_EQ(t.current(0.0), t.baseTexture());
    fillLevel0(t, noise);
    t.finishCreation();

    std::vector<u32> expected = readLevel(t.baseTexture(), 0);
    int w = 8, h = 4;
    for (UINT level = 1; level < 4; ++level) {
        expected = boxDown(expected, w, h);
        w = w > 1 ? w / 2 : 1;
        h = h > 1 ? h / 2 : 1;
        EXPECT_EQ(readLevel(t.baseTexture(), level), expected) << "level " << level;
    }

    // A name, once there, stays; an empty one is never taken.
    BuiltTexture named(engine.get(), 0);
    ASSERT_TRUE(named.create2D(4, 4, 0, ""));
    EXPECT_STREQ(named.name.c_str(), "");
    ASSERT_TRUE(named.create2D(4, 4, 0, "first"));
    ASSERT_TRUE(named.create2D(4, 4, 0, "second"));
    EXPECT_STREQ(named.name.c_str(), "first");
    EXPECT_EQ(named.levelCount, 1);
}

TEST(TextureCreate, ASizeTheDeviceCannotTakeLeavesNoTexture)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    BuiltTexture huge(engine.get(), 0);
    EXPECT_FALSE(huge.create2D(1 << 20, 4, Texture::kMipChain, "(huge)"));
    // Both pools were tried.
    EXPECT_EQ(huge.flags & Texture::kScratchConvert, Texture::kScratchConvert);
    EXPECT_EQ(huge.pool, D3DPOOL_SCRATCH);
    EXPECT_EQ(huge.baseTextures[0], nullptr);
    EXPECT_EQ(huge.currentTextures[0], nullptr);
    EXPECT_EQ(huge.levelCount, 0);
    // The rest of the path treats it as no texture.
    huge.finishCreation();
    huge.copyToDevices();
    huge.heightToNormalMap();
    huge.preload();
    EXPECT_EQ(huge.current(0.0), nullptr);
    EXPECT_EQ(huge.surfaceLevel0(), nullptr);

    // A format the device does not offer takes the same path.
    BuiltTexture bump(engine.get(), 0);
    bump.format = D3DFMT_V8U8;
    EXPECT_FALSE(bump.create2D(8, 8, 0, "(bump)"));
    EXPECT_EQ(bump.baseTexture(), nullptr);
    bump.finishCreation();

    // A texture that had one and fails the next time drops the old one.
    BuiltTexture again(engine.get(), 0);
    ASSERT_TRUE(again.create2D(4, 4, 0, ""));
    EXPECT_FALSE(again.create2D(4, 1 << 20, 0, ""));
    EXPECT_EQ(again.baseTexture(), nullptr);
}

// Texels given as heights h (grey h, h, h): height 16 x 3h / 3 = 16 h.
u32 grey(u32 g)
{
    return 0xFF000000u | g << 16 | g << 8 | g;
}

TEST(TextureUpload, HeightsBecomeNormals)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    BuiltTexture t(engine.get(), Texture::kNormalMap);
    ASSERT_TRUE(t.create2D(4, 4, Texture::kNormalMap, "(normals)"));
    // One bump of height 48 at (1, 1), another at (0, 3) to see the wrap.
    fillLevel0(t, [](int x, int y) { return (x == 1 && y == 1) || (x == 0 && y == 3) ? grey(3) : grey(0); });
    t.finishCreation();
    EXPECT_EQ(t.format, D3DFMT_A8R8G8B8);
    const std::vector<u32> n = readLevel(t.baseTexture());
    auto at = [&](int x, int y) { return n[size_t(y) * 4 + x]; };
    // On the bump and on flat ground: straight up (127, 127, 255), alpha 0.
    EXPECT_EQ(at(1, 1), 0x007F7FFFu);
    EXPECT_EQ(at(2, 2), 0x007F7FFFu);
    // Next to it the normal leans away: (0.0929, 0, 0.9957) -> 139, 127, 254.
    EXPECT_EQ(at(2, 1), 0x008B7FFEu);
    EXPECT_EQ(at(0, 1), 0x00737FFEu);
    EXPECT_EQ(at(1, 2), 0x007F8BFEu);
    EXPECT_EQ(at(1, 0), 0x007F73FEu);
    // Neighbours wrap around: (0, 3) is left of (3, 3) and above (0, 0).
    EXPECT_EQ(at(3, 3), 0x00737FFEu);
    EXPECT_EQ(at(0, 0), 0x007F8BFEu);
}

TEST(TextureUpload, SteepHeightsKeepTheirNormals)
{
    // Differences of 4080 give squared lengths far beyond 32 bits.
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    BuiltTexture t(engine.get(), Texture::kNormalMap | Texture::kMipChain);
    ASSERT_TRUE(t.create2D(4, 4, Texture::kNormalMap | Texture::kMipChain, ""));
    fillLevel0(t, [](int x, int y) { return x == 1 && y == 1 ? grey(255) : grey(0); });
    t.finishCreation();
    const std::vector<u32> n = readLevel(t.baseTexture());
    EXPECT_EQ(n[1 * 4 + 2], 0x00D67FDCu);
    EXPECT_EQ(n[1 * 4 + 1], 0x007F7FFFu);
    // Every level is converted from its own (filtered) heights: the 1 x 1
    // level has no slope at all.
    EXPECT_EQ(readLevel(t.baseTexture(), 2), std::vector<u32>{0x007F7FFFu});
}

struct FormatCase {
    const char* what;
    u32 flags;
    bool alphaTexture;
    i32 alphaMode;
    D3DFORMAT expected;
};

TEST(TextureUpload, ScratchTexturesConvertToTheFormatTheAdapterBestOffers)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    BuiltTexture alpha(engine.get(), 3);
    // Expected choices among the default adapter's texture formats.
    const FormatCase cases[] = {
        {"colour map with one alpha bit", 3 | Texture::kColorMap, false, 0, D3DFMT_A1R5G5B5},
        {"opaque colour map", 3 | Texture::kColorMap, false, 1, D3DFMT_R5G6B5},
        // Four alpha bits wanted, five of colour: 4:4:4:4 falls short.
        {"alpha picture", 3 | Texture::kColorMap, true, 0, D3DFMT_A8R8G8B8},
        {"pure transparency map", 3 | Texture::kTransparencyMap, false, 0, D3DFMT_A8},
        {"colour and transparency", 3 | Texture::kTransparencyMap | Texture::kColorMap, false, 0, D3DFMT_A8R8G8B8},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.what);
        BuiltTexture t(engine.get(), c.flags);
        t.alphaMode = c.alphaMode;
        t.alphaTexture = c.alphaTexture ? &alpha : nullptr;
        ASSERT_TRUE(t.create2D(8, 8, c.flags, ""));
        EXPECT_EQ(t.pool, D3DPOOL_SCRATCH);
        EXPECT_EQ(levelDesc(t.baseTexture()).Pool, D3DPOOL_SCRATCH);
        IDirect3DTexture9* scratch = t.baseTexture();
        scratch->AddRef();
        fillLevel0(t, [](int x, int y) { return noise(x, y); });
        t.finishCreation();
        EXPECT_EQ(t.format, c.expected) << Texture::formatName(t.format);
        EXPECT_EQ(t.pool, D3DPOOL_MANAGED);
        ASSERT_NE(t.baseTexture(), scratch);
        EXPECT_EQ(t.current(0.0), t.baseTexture());
        const D3DSURFACE_DESC desc = levelDesc(t.baseTexture());
        EXPECT_EQ(desc.Format, c.expected);
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
        EXPECT_EQ(int(t.baseTexture()->GetLevelCount()), t.levelCount);
        EXPECT_EQ(t.levelCount, 4);
        // Every level holds the scratch level converted.
        for (UINT level = 0; level < 4; ++level) {
            IDirect3DSurface9* from = nullptr;
            IDirect3DSurface9* to = nullptr;
            scratch->GetSurfaceLevel(level, &from);
            IDirect3DTexture9* reference = nullptr;
            const D3DSURFACE_DESC ld = levelDesc(t.baseTexture(), level);
            ASSERT_EQ(engine->devices[0]->CreateTexture(ld.Width, ld.Height, 1, 0, c.expected, D3DPOOL_MANAGED,
                                                        &reference, nullptr),
                      D3D_OK);
            reference->GetSurfaceLevel(0, &to);
            ASSERT_EQ(D3DXLoadSurfaceFromSurface(to, nullptr, nullptr, from, nullptr, nullptr, D3DX_DEFAULT, 0),
                      D3D_OK);
            D3DLOCKED_RECT a{}, b{};
            ASSERT_EQ(reference->LockRect(0, &a, nullptr, D3DLOCK_READONLY), D3D_OK);
            ASSERT_EQ(t.baseTexture()->LockRect(level, &b, nullptr, D3DLOCK_READONLY), D3D_OK);
            EXPECT_EQ(a.Pitch, b.Pitch);
            EXPECT_EQ(std::memcmp(a.pBits, b.pBits, size_t(a.Pitch) * ld.Height), 0) << "level " << level;
            t.baseTexture()->UnlockRect(level);
            reference->UnlockRect(0);
            to->Release();
            from->Release();
            reference->Release();
        }
        scratch->Release();
    }
}

TEST(TextureUpload, WithoutAnyFittingFormatTheScratchTextureStays)
{
    Diagnostics level(3);
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    const FormatList saved = engine->adapter->textureFormats;
    engine->adapter->textureFormats.clear();
    BuiltTexture t(engine.get(), 3);
    ASSERT_TRUE(t.create2D(4, 4, 3, ""));
    fillLevel0(t, [](int x, int y) { return grey(u32(x + 4 * y)); });
    t.chooseFormat();
    EXPECT_EQ(t.format, D3DFMT_UNKNOWN);
    ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
    EXPECT_NE(platform::recordedMessageBoxes()[0].text.find("device does not support appropriate texture formats!"),
              std::string::npos);

    // The upload keeps the scratch texture and says what it holds.
    t.format = D3DFMT_A8R8G8B8;
    t.finishCreation();
    ASSERT_NE(t.baseTexture(), nullptr);
    EXPECT_EQ(t.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(t.pool, D3DPOOL_SCRATCH);
    EXPECT_EQ(readLevel(t.baseTexture())[5], grey(5));
    engine->adapter->textureFormats = saved;

    // Below level 3 there is no box.
    diagnosticsLevel = 2;
    platform::clearRecordedMessageBoxes();
    engine->adapter->textureFormats.clear();
    BuiltTexture quiet(engine.get(), 3);
    quiet.chooseFormat();
    EXPECT_EQ(quiet.format, D3DFMT_UNKNOWN);
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    engine->adapter->textureFormats = saved;

    // Without flag 1 the format stays; the pool becomes managed either way.
    BuiltTexture plain(engine.get(), 2);
    plain.pool = D3DPOOL_SCRATCH;
    plain.chooseFormat();
    EXPECT_EQ(plain.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(plain.pool, D3DPOOL_MANAGED);
}

TEST(TextureStereo, EveryDeviceGetsItsOwnCopyOfEveryLevel)
{
    TestEngine engine(true);
    REQUIRE_ENGINE(engine);
    ASSERT_EQ(engine->deviceCount, 2);
    BuiltTexture t(engine.get(), 3 | Texture::kColorMap);
    EXPECT_EQ(t.slotCount, 2);
    ASSERT_TRUE(t.create2D(16, 8, t.flags, ""));
    fillLevel0(t, noise);
    t.finishCreation();
    IDirect3DTexture9* first = t.baseTextures[0];
    IDirect3DTexture9* second = t.baseTextures[1];
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(t.currentTextures[1], second);
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(second->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, engine->devices[1]);
    owner->Release();
    ASSERT_EQ(second->GetLevelCount(), first->GetLevelCount());
    const D3DSURFACE_DESC a = levelDesc(first), b = levelDesc(second);
    EXPECT_EQ(a.Format, b.Format);
    EXPECT_EQ(a.Pool, b.Pool);
    for (UINT level = 0; level < first->GetLevelCount(); ++level) {
        D3DLOCKED_RECT x{}, y{};
        const D3DSURFACE_DESC d = levelDesc(first, level);
        ASSERT_EQ(first->LockRect(level, &x, nullptr, D3DLOCK_READONLY), D3D_OK);
        ASSERT_EQ(second->LockRect(level, &y, nullptr, D3DLOCK_READONLY), D3D_OK);
        for (UINT row = 0; row < d.Height; ++row)
            EXPECT_EQ(std::memcmp(static_cast<u8*>(x.pBits) + row * x.Pitch, static_cast<u8*>(y.pBits) + row * y.Pitch,
                                  size_t(x.Pitch < y.Pitch ? x.Pitch : y.Pitch)),
                      0)
                << "level " << level << " row " << row;
        second->UnlockRect(level);
        first->UnlockRect(level);
    }

    // current() follows the engine's device index; an index without a
    // texture gives none.
    engine->currentIndex = 1;
    EXPECT_EQ(t.current(0.0), second);
    engine->currentIndex = 0;
    EXPECT_EQ(t.current(0.0), first);
    engine->currentIndex = 2;
    EXPECT_EQ(t.current(0.0), nullptr);
    engine->currentIndex = 0;
    t.preload();
}

TEST(TextureStereo, ADeviceIndexWithoutACopyYieldsNone)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    BuiltTexture t(engine.get(), 0);
    ASSERT_TRUE(t.create2D(4, 4, 0, ""));
    t.finishCreation();
    engine->currentIndex = 1;
    EXPECT_EQ(t.current(0.0), nullptr);
    engine->currentIndex = -1;
    EXPECT_EQ(t.current(0.0), nullptr);
    engine->currentIndex = 0;
    EXPECT_NE(t.current(0.0), nullptr);
}

ULONG references(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

TEST(TextureSlots, DestructionReleasesTheBaseTexturesOnly)
{
    TestEngine engine(true);
    REQUIRE_ENGINE(engine);
    IDirect3DTexture9* borrowed = nullptr;
    ASSERT_EQ(engine->devices[0]->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &borrowed, nullptr),
              D3D_OK);
    IDirect3DTexture9* kept = nullptr;
    {
        BuiltTexture t(engine.get(), 0);
        ASSERT_TRUE(t.create2D(4, 4, 0, ""));
        t.finishCreation();
        kept = t.baseTextures[1];
        kept->AddRef();
        EXPECT_EQ(references(kept), 2u);
        // A kind whose current texture is borrowed (video frames).
        t.currentTextures[0] = borrowed;
    }
    EXPECT_EQ(references(borrowed), 1u);
    EXPECT_EQ(references(kept), 1u);
    kept->Release();
    borrowed->Release();
}

TEST(TextureSlots, SurfaceOfRenderTargetsOnlyAndTheNames)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    BuiltTexture managed(engine.get(), 0);
    ASSERT_TRUE(managed.create2D(4, 4, 0, ""));
    EXPECT_EQ(managed.surfaceLevel0(), nullptr);

    BuiltTexture target(engine.get(), 0);
    target.pool = D3DPOOL_DEFAULT;
    ASSERT_EQ(engine->devices[0]->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                                &target.baseTextures[0], nullptr),
              D3D_OK);
    IDirect3DSurface9* surface = target.surfaceLevel0();
    ASSERT_NE(surface, nullptr);
    D3DSURFACE_DESC desc{};
    surface->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 8u);
    surface->Release();

    EXPECT_EQ(target.spare(), 0);
    EXPECT_EQ(target.image(), nullptr);
    EXPECT_STREQ(managed.formatName(), "A8R8G8B8");
    EXPECT_STREQ(Texture::formatName(D3DFMT_R8G8B8), "R8G8B8");
    EXPECT_STREQ(Texture::formatName(D3DFMT_CxV8U8), "CxV8U8");
    EXPECT_STREQ(Texture::formatName(D3DFMT_INDEX32), "INDEX32");
    EXPECT_STREQ(Texture::formatName(D3DFMT_D24FS8), "D24FS8");
    EXPECT_STREQ(Texture::formatName(D3DFMT_DXT5), "DXT5");
    EXPECT_STREQ(Texture::formatName(D3DFMT_G8R8_G8B8), "G8R8_G8B8");
    EXPECT_STREQ(Texture::formatName(D3DFMT_MULTI2_ARGB8), "MULTI2_ARGB8");
    EXPECT_STREQ(Texture::formatName(D3DFMT_UNKNOWN), "unknown");
    EXPECT_STREQ(Texture::formatName(D3DFMT_A2B10G10R10), "unknown");
    EXPECT_STREQ(Texture::formatName(D3DFORMAT(19)), "unknown");
    EXPECT_STREQ(Texture::formatName(D3DFORMAT(118)), "unknown");
}

} // namespace
