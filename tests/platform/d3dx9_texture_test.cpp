// The D3DX texture helpers on the headless device: box mip-maps, surface
// loads with format conversion, rectangles and filters, and .dds files made
// byte by byte, including damaged ones.
#include "dds_builder.h"
#include "device_test_support.h"

#include "platform/d3d9/adapter_profiles.h"
#include "platform/d3dx9/texel_codec.h"
#include "scoped_state.h"

#include <d3dx9.h>

#include <cmath>
#include <functional>

using namespace ddstest;
using platform::d3dx9::TexelFormat;

namespace {

uint32_t channel(uint32_t texel, int shift)
{
    return (texel >> shift) & 0xFF;
}

// v (8 bits) to n bits, to nearest with halves up.
uint32_t toBits(uint32_t v, uint32_t bits)
{
    const uint32_t max = (1u << bits) - 1;
    return (v * max * 2 + 255) / 510;
}

std::vector<uint8_t> levelBytes(IDirect3DTexture9* t, UINT level, UINT bytesPerTexel)
{
    D3DSURFACE_DESC d{};
    t->GetLevelDesc(level, &d);
    D3DLOCKED_RECT lr{};
    std::vector<uint8_t> out;
    if (FAILED(t->LockRect(level, &lr, nullptr, D3DLOCK_READONLY)))
        return out;
    for (UINT y = 0; y < d.Height; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch;
        out.insert(out.end(), row, row + size_t(d.Width) * bytesPerTexel);
    }
    t->UnlockRect(level);
    return out;
}

std::vector<uint32_t> level32(IDirect3DTexture9* t, UINT level)
{
    const std::vector<uint8_t> b = levelBytes(t, level, 4);
    std::vector<uint32_t> out(b.size() / 4);
    if (!out.empty())
        std::memcpy(out.data(), b.data(), b.size());
    return out;
}

void fill32(IDirect3DTexture9* t, UINT level, const std::vector<uint32_t>& texels)
{
    D3DSURFACE_DESC d{};
    t->GetLevelDesc(level, &d);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(t->LockRect(level, &lr, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < d.Height; ++y)
        std::memcpy(static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch, &texels[size_t(y) * d.Width],
                    d.Width * 4);
    t->UnlockRect(level);
}

std::vector<uint32_t> pattern(size_t n, uint32_t seed)
{
    std::vector<uint32_t> v(n);
    uint32_t s = seed;
    for (auto& t : v) {
        s = s * 1664525u + 1013904223u;
        t = s ^ (s >> 13);
    }
    return v;
}

// The level below, each texel the rounded average (halves up) of the 2 x 2
// (or 2 x 1, 1 x 2) texels above it.
std::vector<uint32_t> boxDown(const std::vector<uint32_t>& above, UINT w, UINT h)
{
    const UINT dw = w > 1 ? w / 2 : 1, dh = h > 1 ? h / 2 : 1;
    std::vector<uint32_t> out(size_t(dw) * dh);
    for (UINT y = 0; y < dh; ++y)
        for (UINT x = 0; x < dw; ++x) {
            uint32_t texel = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                uint32_t sum = 0, n = 0;
                for (UINT sy = y * (h / dh); sy < (y + 1) * (h / dh); ++sy)
                    for (UINT sx = x * (w / dw); sx < (x + 1) * (w / dw); ++sx, ++n)
                        sum += channel(above[size_t(sy) * w + sx], shift);
                texel |= ((sum + n / 2) / n) << shift;
            }
            out[size_t(y) * dw + x] = texel;
        }
    return out;
}

ComRef<IDirect3DTexture9> texture(IDirect3DDevice9* device, UINT w, UINT h, UINT levels, D3DFORMAT format,
                                  D3DPOOL pool = D3DPOOL_MANAGED)
{
    ComRef<IDirect3DTexture9> t;
    EXPECT_EQ(device->CreateTexture(w, h, levels, 0, format, pool, t.out(), nullptr), D3D_OK);
    return t;
}

ComRef<IDirect3DSurface9> level(IDirect3DTexture9* t, UINT l)
{
    ComRef<IDirect3DSurface9> s;
    EXPECT_EQ(t->GetSurfaceLevel(l, s.out()), D3D_OK);
    return s;
}

// Level 0 of one texture into level 0 of another, whole.
HRESULT copyLevel0(IDirect3DTexture9* to, IDirect3DTexture9* from, DWORD filter = D3DX_DEFAULT)
{
    return D3DXLoadSurfaceFromSurface(level(to, 0).get(), nullptr, nullptr, level(from, 0).get(), nullptr, nullptr,
                                      filter, 0);
}

// A texture from a file in memory; the arguments the tests vary, the rest
// at their defaults.
HRESULT load(IDirect3DDevice9* device, const void* data, UINT bytes, ComRef<IDirect3DTexture9>& out,
             UINT levels = 0, D3DFORMAT format = D3DFMT_UNKNOWN, UINT size = D3DX_DEFAULT,
             D3DXIMAGE_INFO* info = nullptr)
{
    return D3DXCreateTextureFromFileInMemoryEx(device, data, bytes, size, size, levels, 0, format, D3DPOOL_MANAGED,
                                               D3DX_DEFAULT, D3DX_DEFAULT, 0, info, nullptr, out.out());
}

HRESULT load(IDirect3DDevice9* device, const std::string& file, ComRef<IDirect3DTexture9>& out, UINT levels = 0,
             D3DFORMAT format = D3DFMT_UNKNOWN, UINT size = D3DX_DEFAULT, D3DXIMAGE_INFO* info = nullptr)
{
    return load(device, file.data(), UINT(file.size()), out, levels, format, size, info);
}

// Every test but the codec's runs on a fresh headless device.
class D3dxDeviceTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (f.created != D3D_OK)
            GTEST_SKIP() << "no Direct3D device can be created here";
    }
    DeviceFixture f;
};
using D3dxFilterTexture = D3dxDeviceTest;
using D3dxLoadSurface = D3dxDeviceTest;
using D3dxDdsFile = D3dxDeviceTest;

// ---------------------------------------------------------------------------

TEST_F(D3dxFilterTexture, LevelsAreBoxAveragesOfTheLevelAbove)
{
    // Wide and tall chains end in 2 x 1 and 1 x 2 steps.
    for (auto [w, h] : {std::pair<UINT, UINT>{8, 4}, {2, 8}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        ComRef<IDirect3DTexture9> t = texture(f.device.get(), w, h, 0, D3DFMT_A8R8G8B8);
        const UINT levels = t->GetLevelCount();
        ASSERT_EQ(levels, 4u);
        std::vector<uint32_t> expected = pattern(size_t(w) * h, w * 31 + h);
        fill32(t.get(), 0, expected);
        ASSERT_EQ(D3DXFilterTexture(t.get(), nullptr, 0, D3DX_DEFAULT), D3D_OK);
        UINT lw = w, lh = h;
        for (UINT l = 1; l < levels; ++l) {
            expected = boxDown(expected, lw, lh);
            lw = lw > 1 ? lw / 2 : 1;
            lh = lh > 1 ? lh / 2 : 1;
            EXPECT_EQ(level32(t.get(), l), expected) << "level " << l;
        }
    }
}

TEST_F(D3dxFilterTexture, StartsBelowTheSourceLevelAndRefusesBadArguments)
{
    ComRef<IDirect3DTexture9> t = texture(f.device.get(), 4, 4, 0, D3DFMT_A8R8G8B8);
    fill32(t.get(), 0, std::vector<uint32_t>(16, 0xFF000000u));
    fill32(t.get(), 1, {0xFF102030u, 0xFF405060u, 0xFF708090u, 0xFFA0B0C0u});
    ASSERT_EQ(D3DXFilterTexture(t.get(), nullptr, 1, D3DX_FILTER_BOX), D3D_OK);
    EXPECT_EQ(level32(t.get(), 1), (std::vector<uint32_t>{0xFF102030u, 0xFF405060u, 0xFF708090u, 0xFFA0B0C0u}));
    // (0x10 + 0x40 + 0x70 + 0xA0) / 4 = 0x58, and so on.
    EXPECT_EQ(level32(t.get(), 2), (std::vector<uint32_t>{0xFF586878u}));

    EXPECT_EQ(D3DXFilterTexture(t.get(), nullptr, 3, D3DX_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXFilterTexture(t.get(), nullptr, 0, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXFilterTexture(nullptr, nullptr, 0, D3DX_DEFAULT), D3DERR_INVALIDCALL);
}

// ---------------------------------------------------------------------------

TEST_F(D3dxLoadSurface, ConvertsToEachFormatRoundingToNearest)
{
    const std::vector<uint32_t> src = {0x80FF4020u, 0x7F0884C4u, 0xFF000000u, 0x00FFFFFFu,
                                       0x01030507u, 0xFE7F8081u, 0x80808080u, 0x40C01234u};
    ComRef<IDirect3DTexture9> source = texture(f.device.get(), 8, 1, 1, D3DFMT_A8R8G8B8);
    fill32(source.get(), 0, src);

    struct Case {
        D3DFORMAT format;
        UINT bytes;
        std::function<uint32_t(uint32_t)> expect; // from an A8R8G8B8 texel
    };
    auto a = [](uint32_t t) { return channel(t, 24); };
    auto r = [](uint32_t t) { return channel(t, 16); };
    auto g = [](uint32_t t) { return channel(t, 8); };
    auto b = [](uint32_t t) { return channel(t, 0); };
    const Case cases[] = {
        {D3DFMT_R5G6B5, 2, [&](uint32_t t) { return toBits(r(t), 5) << 11 | toBits(g(t), 6) << 5 | toBits(b(t), 5); }},
        {D3DFMT_A1R5G5B5, 2,
         [&](uint32_t t) {
             return toBits(a(t), 1) << 15 | toBits(r(t), 5) << 10 | toBits(g(t), 5) << 5 | toBits(b(t), 5);
         }},
        {D3DFMT_A4R4G4B4, 2,
         [&](uint32_t t) {
             return toBits(a(t), 4) << 12 | toBits(r(t), 4) << 8 | toBits(g(t), 4) << 4 | toBits(b(t), 4);
         }},
        {D3DFMT_X8R8G8B8, 4, [](uint32_t t) { return t | 0xFF000000u; }},
        {D3DFMT_A8, 1, [&](uint32_t t) { return a(t); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        ComRef<IDirect3DTexture9> dest = texture(f.device.get(), 8, 1, 1, c.format);
        ASSERT_EQ(copyLevel0(dest.get(), source.get()), D3D_OK);
        const std::vector<uint8_t> bytes = levelBytes(dest.get(), 0, c.bytes);
        for (size_t i = 0; i < src.size(); ++i) {
            uint32_t got = 0;
            std::memcpy(&got, &bytes[i * c.bytes], c.bytes);
            EXPECT_EQ(got, c.expect(src[i])) << "texel " << i;
        }
    }
    // Worked by hand: 0x80FF4020 -> red 31, green 64 * 63 / 255 = 15.8 -> 16,
    // blue 32 * 31 / 255 = 3.9 -> 4; alpha 128 / 255 rounds to 1 bit set.
    {
        ComRef<IDirect3DTexture9> dest = texture(f.device.get(), 8, 1, 1, D3DFMT_R5G6B5);
        copyLevel0(dest.get(), source.get(), D3DX_FILTER_NONE);
        EXPECT_EQ(levelBytes(dest.get(), 0, 2)[0] | levelBytes(dest.get(), 0, 2)[1] << 8, 0xFA04);
    }
}

TEST_F(D3dxLoadSurface, LuminanceAndExpansionBackToEightBits)
{
    ComRef<IDirect3DTexture9> source = texture(f.device.get(), 4, 1, 1, D3DFMT_A8R8G8B8);
    fill32(source.get(), 0, {0xFF808080u, 0x40FF0000u, 0xFF00FF00u, 0xC00000FFu});
    ComRef<IDirect3DTexture9> lum = texture(f.device.get(), 4, 1, 1, D3DFMT_A8L8);
    ASSERT_EQ(copyLevel0(lum.get(), source.get(), D3DX_FILTER_POINT), D3D_OK);
    // Luminance 0.2125 R + 0.7154 G + 0.0721 B: grey stays, pure red
    // 54.19 -> 54, green 182.4 -> 182, blue 18.4 -> 18.
    EXPECT_EQ(levelBytes(lum.get(), 0, 2), (std::vector<uint8_t>{0x80, 0xFF, 54, 0x40, 182, 0xFF, 18, 0xC0}));

    // 16-bit texels widen with rounding: 5 bits 16 -> 132, 6 bits 16 -> 65.
    ComRef<IDirect3DTexture9> packed = texture(f.device.get(), 2, 1, 1, D3DFMT_R5G6B5);
    {
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(packed->LockRect(0, &lr, nullptr, 0), D3D_OK);
        const uint16_t texels[2] = {uint16_t(16 << 11 | 16 << 5 | 4), 0xFFFF};
        std::memcpy(lr.pBits, texels, sizeof texels);
        packed->UnlockRect(0);
    }
    ComRef<IDirect3DTexture9> wide = texture(f.device.get(), 2, 1, 1, D3DFMT_A8R8G8B8);
    ASSERT_EQ(copyLevel0(wide.get(), packed.get()), D3D_OK);
    EXPECT_EQ(level32(wide.get(), 0), (std::vector<uint32_t>{0xFF844121u, 0xFFFFFFFFu}));
}

TEST_F(D3dxLoadSurface, RectanglesAndFilters)
{
    ComRef<IDirect3DTexture9> source = texture(f.device.get(), 4, 4, 1, D3DFMT_A8R8G8B8);
    std::vector<uint32_t> src(16);
    for (uint32_t i = 0; i < 16; ++i)
        src[i] = 0xFF000000u | (i * 16) << 16 | (255 - i * 16) << 8 | i;
    fill32(source.get(), 0, src);
    ComRef<IDirect3DSurface9> s = level(source.get(), 0);

    ComRef<IDirect3DTexture9> dest = texture(f.device.get(), 4, 4, 1, D3DFMT_A8R8G8B8);
    ComRef<IDirect3DSurface9> d = level(dest.get(), 0);
    const std::vector<uint32_t> blank(16, 0x11111111u);

    // Box: the source's right half (2 x 4) into the 1 x 2 rectangle at (3, 1).
    fill32(dest.get(), 0, blank);
    const RECT from{2, 0, 4, 4}, to{3, 1, 4, 3};
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(d.get(), nullptr, &to, s.get(), nullptr, &from, D3DX_FILTER_BOX, 0), D3D_OK);
    std::vector<uint32_t> expected = blank;
    expected[1 * 4 + 3] = boxDown({src[2], src[3], src[6], src[7]}, 2, 2)[0];
    expected[2 * 4 + 3] = boxDown({src[10], src[11], src[14], src[15]}, 2, 2)[0];
    EXPECT_EQ(level32(dest.get(), 0), expected);

    // Point: 4 x 4 to 2 x 2 takes texels (1, 1), (3, 1), (1, 3), (3, 3).
    fill32(dest.get(), 0, blank);
    const RECT quarter{0, 0, 2, 2};
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(d.get(), nullptr, &quarter, s.get(), nullptr, nullptr, D3DX_FILTER_POINT, 0),
              D3D_OK);
    std::vector<uint32_t> got = level32(dest.get(), 0);
    ASSERT_EQ(got.size(), 16u);
    EXPECT_EQ((std::vector<uint32_t>{got[0], got[1], got[4], got[5], got[2]}),
              (std::vector<uint32_t>{src[5], src[7], src[13], src[15], 0x11111111u}));

    // Linear: two texels 0 and 200 stretched over four give 0, 50, 150, 200.
    ComRef<IDirect3DTexture9> pair = texture(f.device.get(), 2, 1, 1, D3DFMT_L8);
    {
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(pair->LockRect(0, &lr, nullptr, 0), D3D_OK);
        static_cast<uint8_t*>(lr.pBits)[0] = 0;
        static_cast<uint8_t*>(lr.pBits)[1] = 200;
        pair->UnlockRect(0);
    }
    const RECT row{0, 0, 4, 1};
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(d.get(), nullptr, &row, level(pair.get(), 0).get(), nullptr, nullptr,
                                         D3DX_FILTER_LINEAR, 0),
              D3D_OK);
    got = level32(dest.get(), 0);
    EXPECT_EQ(std::vector<uint32_t>(got.begin(), got.begin() + 4),
              (std::vector<uint32_t>{0xFF000000u, 0xFF323232u, 0xFF969696u, 0xFFC8C8C8u}));

    // None: no scaling; what the source does not cover is transparent black.
    fill32(dest.get(), 0, blank);
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(d.get(), nullptr, nullptr, s.get(), nullptr, &quarter, D3DX_FILTER_NONE, 0),
              D3D_OK);
    got = level32(dest.get(), 0);
    EXPECT_EQ((std::vector<uint32_t>{got[0], got[5], got[2], got[15]}), (std::vector<uint32_t>{src[0], src[5], 0, 0}));

    // Colour key: matching texels become transparent black.
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(d.get(), nullptr, nullptr, s.get(), nullptr, nullptr, D3DX_DEFAULT, src[6]),
              D3D_OK);
    got = level32(dest.get(), 0);
    EXPECT_EQ(got[6], 0u);
    EXPECT_EQ(got[7], src[7]);

    // Bad rectangles and filters change nothing.
    fill32(dest.get(), 0, blank);
    const RECT outside{2, 2, 5, 3}, empty{1, 1, 1, 2}, negative{-1, 0, 1, 1};
    for (const RECT* bad : {&outside, &empty, &negative}) {
        EXPECT_EQ(D3DXLoadSurfaceFromSurface(d.get(), nullptr, bad, s.get(), nullptr, nullptr, D3DX_DEFAULT, 0),
                  D3DERR_INVALIDCALL);
        EXPECT_EQ(D3DXLoadSurfaceFromSurface(d.get(), nullptr, nullptr, s.get(), nullptr, bad, D3DX_DEFAULT, 0),
                  D3DERR_INVALIDCALL);
    }
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(d.get(), nullptr, nullptr, s.get(), nullptr, nullptr, 9, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(nullptr, nullptr, nullptr, s.get(), nullptr, nullptr, D3DX_DEFAULT, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(level32(dest.get(), 0), blank);

    // Source and destination may be one surface: the left column onto the
    // right one.
    const RECT left{0, 0, 1, 4}, right{3, 0, 4, 4};
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(s.get(), nullptr, &right, s.get(), nullptr, &left, D3DX_DEFAULT, 0), D3D_OK);
    got = level32(source.get(), 0);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(got[y * 4 + 3], src[y * 4]);
}

// ---------------------------------------------------------------------------

TEST(TexelCodec, RoundingAndHalfFloats)
{
    using namespace platform::d3dx9;
    EXPECT_EQ(quantizeUnorm(0.5f, 8), 128u);
    EXPECT_EQ(quantizeUnorm(127.5f / 255.0f, 8), 128u);
    EXPECT_EQ(quantizeUnorm(127.49f / 255.0f, 8), 127u);
    EXPECT_EQ(quantizeUnorm(-1.0f, 8), 0u);
    EXPECT_EQ(quantizeUnorm(2.0f, 5), 31u);
    EXPECT_EQ(quantizeUnorm(std::nanf(""), 8), 0u);
    EXPECT_EQ(floatToHalf(1.0f), 0x3C00);
    EXPECT_EQ(floatToHalf(-2.5f), 0xC100);
    EXPECT_EQ(floatToHalf(65536.0f), 0x7C00);
    EXPECT_EQ(floatToHalf(1.0f + 1.0f / 2048.0f), 0x3C00); // ties to even
    EXPECT_EQ(floatToHalf(1.0f + 3.0f / 2048.0f), 0x3C02);
    EXPECT_EQ(halfToFloat(0x3C00), 1.0f);
    EXPECT_EQ(halfToFloat(0x0001), std::ldexp(1.0f, -24)); // smallest subnormal
    EXPECT_EQ(floatToHalf(std::ldexp(1.0f, -24)), 0x0001);
    EXPECT_EQ(halfToFloat(floatToHalf(0.333f)), halfToFloat(0x3554));
}

TEST(TexelCodec, DxtBlocksSurviveEncodingWhereTheyCan)
{
    using namespace platform::d3dx9;
    // Two colours exact in 5:6:5 and two alphas: exact after a round trip.
    uint8_t rgba[64];
    for (int t = 0; t < 16; ++t) {
        const bool first = (t * 7) % 3 == 0;
        rgba[4 * t + 0] = first ? 255 : 0;
        rgba[4 * t + 1] = first ? 0 : 255;
        rgba[4 * t + 2] = first ? 0 : 255;
        rgba[4 * t + 3] = first ? 200 : 40;
    }
    for (TexelFormat::Kind kind : {TexelFormat::Dxt1, TexelFormat::Dxt3, TexelFormat::Dxt5}) {
        uint8_t block[16], back[64];
        encodeDxtBlock(kind, rgba, block);
        decodeDxtBlock(kind, block, back);
        for (int t = 0; t < 16; ++t) {
            const uint8_t a = rgba[4 * t + 3];
            if (kind == TexelFormat::Dxt1 && a < 128) {
                // DXT1 keeps alpha as opaque or clear; clear is black.
                EXPECT_EQ(back[4 * t + 0] | back[4 * t + 1] | back[4 * t + 2] | back[4 * t + 3], 0) << t;
                continue;
            }
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(back[4 * t + i], rgba[4 * t + i]) << kind << " texel " << t;
            const uint32_t alpha = kind == TexelFormat::Dxt1   ? 255u
                                   : kind == TexelFormat::Dxt3 ? quantizeUnorm(a / 255.0f, 4) * 17 // 4 bits
                                                               : a;
            EXPECT_EQ(back[4 * t + 3], alpha) << kind << " texel " << t;
        }
    }
}

// ---------------------------------------------------------------------------
// .dds files

struct UncompressedCase {
    D3DFORMAT format;
    UINT bytes;
    uint32_t texel;    // as stored
    uint32_t expected; // as A8R8G8B8
};

TEST_F(D3dxDdsFile, EachUncompressedFormatLoadsAsItIsAndConverted)
{
    const UncompressedCase cases[] = {
        {D3DFMT_A8R8G8B8, 4, 0x80123456u, 0x80123456u},
        {D3DFMT_X8R8G8B8, 4, 0x00123456u, 0xFF123456u},
        {D3DFMT_R5G6B5, 2, 0xFA04u, 0xFFFF4121u},
        {D3DFMT_A1R5G5B5, 2, 0x8000u | 31u << 10 | 16u, 0xFFFF0084u},
        {D3DFMT_A4R4G4B4, 2, 0x7F3Cu, 0x77FF33CCu},
        {D3DFMT_L8, 1, 0x80u, 0xFF808080u},
        {D3DFMT_A8, 1, 0x80u, 0x80000000u},
        {D3DFMT_A8L8, 2, 0x40C0u, 0x40C0C0C0u},
    };
    for (const UncompressedCase& c : cases) {
        SCOPED_TRACE(c.format);
        // 4 x 2: the test texel, then texels counting up from it.
        std::string payload;
        for (uint32_t i = 0; i < 8; ++i) {
            const uint32_t v = i == 0 ? c.texel : c.texel + i * 0x01010101u;
            for (UINT k = 0; k < c.bytes; ++k)
                payload += char((v >> (8 * k)) & 0xFF);
        }
        const std::string file = makeDds(c.format, 4, 2, 1, payload);

        ComRef<IDirect3DTexture9> same;
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(load(f.device.get(), file, same, 1, D3DFMT_UNKNOWN, D3DX_DEFAULT, &info), D3D_OK);
        EXPECT_EQ(info.Format, c.format);
        EXPECT_EQ(info.Width, 4u);
        EXPECT_EQ(info.Height, 2u);
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);
        D3DSURFACE_DESC desc{};
        same->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Format, c.format);
        EXPECT_EQ(levelBytes(same.get(), 0, c.bytes), std::vector<uint8_t>(payload.begin(), payload.end()));

        ComRef<IDirect3DTexture9> argb;
        ASSERT_EQ(load(f.device.get(), file, argb, 1, D3DFMT_A8R8G8B8), D3D_OK);
        EXPECT_EQ(level32(argb.get(), 0)[0], c.expected);
    }
}

// Two DXT1 blocks side by side (8 x 4): four-colour red..blue, then the
// three-colour order with its transparent entry.
std::string twoDxt1Blocks()
{
    uint32_t indices = 0;
    for (int t = 0; t < 16; ++t)
        indices |= uint32_t(t % 4) << (2 * t);
    return dxt1Block(0xF800, 0x001F, indices) + dxt1Block(0x001F, 0xF800, indices);
}

TEST_F(D3dxDdsFile, Dxt1BlocksDecodeToArgbWhereTheDeviceLacksDxt)
{
    const std::string file = makeDds(D3DFMT_DXT1, 8, 4, 1, twoDxt1Blocks());
    ComRef<IDirect3DTexture9> t;
    ASSERT_EQ(load(f.device.get(), file, t, 1), D3D_OK);
    D3DSURFACE_DESC desc{};
    t->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8); // the default profile has no DXT formats
    const std::vector<uint32_t> texels = level32(t.get(), 0);
    ASSERT_EQ(texels.size(), 32u);
    // Block 0: red, blue, (2 red + blue) / 3 = (170, 0, 85), (85, 0, 170).
    const uint32_t four[4] = {0xFFFF0000u, 0xFF0000FFu, 0xFFAA0055u, 0xFF5500AAu};
    // Block 1: blue, red, their average (128, 0, 128), transparent black.
    const uint32_t three[4] = {0xFF0000FFu, 0xFFFF0000u, 0xFF800080u, 0x00000000u};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(texels[y * 8 + x], four[(y * 4 + x) % 4]) << x << "," << y;
            EXPECT_EQ(texels[y * 8 + 4 + x], three[(y * 4 + x) % 4]) << x << "," << y;
        }
}

TEST_F(D3dxDdsFile, Dxt3AndDxt5AlphaBlocks)
{
    uint32_t colorIndices = 0; // every texel colour 0: white
    const std::string color = dxt1Block(0xFFFF, 0x0000, colorIndices);

    // DXT3: texel t has alpha nibble t, so alpha t * 17.
    std::string dxt3;
    for (int i = 0; i < 8; ++i)
        dxt3 += char((2 * i) | (2 * i + 1) << 4);
    dxt3 += color;

    // DXT5, eight-value mode (200 > 100) and six-value mode (100 < 200);
    // texel t uses index t % 8.
    auto dxt5 = [&](uint8_t a0, uint8_t a1) {
        std::string s;
        s += char(a0);
        s += char(a1);
        uint64_t bits = 0;
        for (int t = 0; t < 16; ++t)
            bits |= uint64_t(t % 8) << (3 * t);
        for (int i = 0; i < 6; ++i)
            s += char((bits >> (8 * i)) & 0xFF);
        return s + color;
    };
    const uint32_t eight[8] = {200, 100, 186, 171, 157, 143, 129, 114};
    const uint32_t six[8] = {100, 200, 120, 140, 160, 180, 0, 255};

    struct Case {
        D3DFORMAT format;
        std::string block;
        std::function<uint32_t(int)> alpha;
    } cases[] = {
        {D3DFMT_DXT3, dxt3, [](int t) { return uint32_t(t * 17); }},
        {D3DFMT_DXT5, dxt5(200, 100), [&](int t) { return eight[t % 8]; }},
        {D3DFMT_DXT5, dxt5(100, 200), [&](int t) { return six[t % 8]; }},
    };
    for (const Case& c : cases) {
        const std::string file = makeDds(c.format, 4, 4, 1, c.block);
        ComRef<IDirect3DTexture9> t;
        ASSERT_EQ(load(f.device.get(), file, t, 1), D3D_OK);
        const std::vector<uint32_t> texels = level32(t.get(), 0);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(texels[i], c.alpha(i) << 24 | 0xFFFFFFu) << c.format << " texel " << i;
    }
}

TEST_F(D3dxDdsFile, SmallDxtLevelsAndBlocksKeptWhereTheDeviceHasDxt)
{
    // A 2 x 2 DXT1 file is one partial block.
    const std::string small = makeDds(D3DFMT_DXT1, 2, 2, 1, dxt1Block(0xF800, 0x001F, 0x55555555u));
    ComRef<IDirect3DTexture9> t;
    ASSERT_EQ(load(f.device.get(), small, t, 1, D3DFMT_UNKNOWN, D3DX_DEFAULT_NONPOW2), D3D_OK);
    EXPECT_EQ(level32(t.get(), 0), std::vector<uint32_t>(4, 0xFF0000FFu));

    // An adapter that offers DXT1: the blocks arrive unchanged, and an
    // A8R8G8B8 level converted into DXT1 encodes (exactly, for two colours
    // that 5:6:5 holds).
    platform::AdapterProfile profile = platform::defaultAdapterProfile();
    auto base = profile.deviceFormat;
    profile.deviceFormat = [base](D3DFORMAT adapter, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
        return (format == D3DFMT_DXT1 && usage == 0 && type == D3DRTYPE_TEXTURE) || base(adapter, usage, type, format);
    };
    platform::installAdapterProfiles({profile});
    testsupport::OnExit uninstall(platform::clearAdapterProfiles);
    {
        DeviceFixture g;
        ASSERT_EQ(g.created, D3D_OK);
        const std::string file = makeDds(D3DFMT_DXT1, 8, 4, 1, twoDxt1Blocks());
        ComRef<IDirect3DTexture9> dxt;
        ASSERT_EQ(load(g.device.get(), file, dxt, 1), D3D_OK);
        D3DSURFACE_DESC desc{};
        dxt->GetLevelDesc(0, &desc);
        if (desc.Format == D3DFMT_DXT1) {
            D3DLOCKED_RECT lr{};
            ASSERT_EQ(dxt->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
            EXPECT_EQ(std::memcmp(lr.pBits, file.data() + 128, 16), 0);
            dxt->UnlockRect(0);

            ComRef<IDirect3DTexture9> argb = texture(g.device.get(), 8, 4, 1, D3DFMT_A8R8G8B8);
            std::vector<uint32_t> texels(32);
            for (int i = 0; i < 32; ++i)
                texels[i] = (i * 5) % 3 ? 0xFFFF0000u : 0xFF00FF00u;
            fill32(argb.get(), 0, texels);
            ASSERT_EQ(copyLevel0(dxt.get(), argb.get()), D3D_OK);
            ComRef<IDirect3DTexture9> back = texture(g.device.get(), 8, 4, 1, D3DFMT_A8R8G8B8);
            ASSERT_EQ(copyLevel0(back.get(), dxt.get()), D3D_OK);
            EXPECT_EQ(level32(back.get(), 0), texels);
        } else {
            EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8); // GL without S3TC
        }
    }
}

std::string argbLevels(const std::vector<std::pair<UINT, uint32_t>>& levels)
{
    std::string s;
    for (auto [count, value] : levels)
        for (UINT i = 0; i < count; ++i)
            append32(s, value);
    return s;
}

TEST_F(D3dxDdsFile, MipLevelsFromTheFileOrFiltered)
{
    // Level 1 of the file is not the average of level 0: it must be taken
    // as it is.
    std::string level0;
    for (int i = 0; i < 16; ++i)
        append32(level0, i % 2 ? 0xFF000000u : 0xFFFFFFFFu);
    const std::string withMips =
        makeDds(D3DFMT_A8R8G8B8, 4, 4, 3, level0 + argbLevels({{4, 0xFF123456u}, {1, 0xFF654321u}}));
    ComRef<IDirect3DTexture9> t;
    ASSERT_EQ(load(f.device.get(), withMips, t), D3D_OK);
    ASSERT_EQ(t->GetLevelCount(), 3u);
    EXPECT_EQ(level32(t.get(), 1), std::vector<uint32_t>(4, 0xFF123456u));
    EXPECT_EQ(level32(t.get(), 2), std::vector<uint32_t>(1, 0xFF654321u));

    // One level in the file, a full chain asked for: filtered (white and
    // black halves average to 128).
    const std::string single = makeDds(D3DFMT_A8R8G8B8, 4, 4, 0, level0);
    ComRef<IDirect3DTexture9> chain;
    ASSERT_EQ(load(f.device.get(), single, chain), D3D_OK);
    ASSERT_EQ(chain->GetLevelCount(), 3u);
    EXPECT_EQ(level32(chain.get(), 1), std::vector<uint32_t>(4, 0xFF808080u));
    EXPECT_EQ(level32(chain.get(), 2), std::vector<uint32_t>(1, 0xFF808080u));

    // D3DX_FROM_FILE keeps the file's count; one level asked for, one made.
    ComRef<IDirect3DTexture9> one;
    ASSERT_EQ(load(f.device.get(), withMips, one, 1), D3D_OK);
    EXPECT_EQ(one->GetLevelCount(), 1u);
}

TEST_F(D3dxDdsFile, SizesOtherThanPowersOfTwo)
{
    const std::string file = makeDds(D3DFMT_A8R8G8B8, 6, 3, 1, argbLevels({{18, 0xFF336699u}}));
    ComRef<IDirect3DTexture9> rounded, exact;
    ASSERT_EQ(load(f.device.get(), file, rounded, 1), D3D_OK);
    D3DSURFACE_DESC desc{};
    rounded->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 8u);
    EXPECT_EQ(desc.Height, 4u);
    EXPECT_EQ(level32(rounded.get(), 0), std::vector<uint32_t>(32, 0xFF336699u));
    ASSERT_EQ(load(f.device.get(), file, exact, 1, D3DFMT_UNKNOWN, D3DX_DEFAULT_NONPOW2), D3D_OK);
    exact->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 6u);
    EXPECT_EQ(desc.Height, 3u);
}

TEST_F(D3dxDdsFile, CubeMaps)
{
    std::string faces;
    for (uint32_t face = 0; face < 6; ++face)
        faces += argbLevels({{4, 0xFF000000u | face * 0x111111u}, {1, 0xFF000000u | face}});
    const std::string file = makeDds(D3DFMT_A8R8G8B8, 2, 2, 2, faces, 0x200 | 0xFC00);
    ComRef<IDirect3DCubeTexture9> cube;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXCreateCubeTextureFromFileInMemoryEx(f.device.get(), file.data(), UINT(file.size()), D3DX_DEFAULT,
                                                      0, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                                      D3DX_DEFAULT, 0, &info, nullptr, cube.out()),
              D3D_OK);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_CUBETEXTURE);
    ASSERT_EQ(cube->GetLevelCount(), 2u);
    for (uint32_t face = 0; face < 6; ++face)
        for (UINT l = 0; l < 2; ++l) {
            D3DLOCKED_RECT lr{};
            ASSERT_EQ(cube->LockRect(D3DCUBEMAP_FACES(face), l, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
            uint32_t first;
            std::memcpy(&first, lr.pBits, 4);
            EXPECT_EQ(first, 0xFF000000u | (l == 0 ? face * 0x111111u : face)) << face << " level " << l;
            cube->UnlockRect(D3DCUBEMAP_FACES(face), l);
        }
    // The 2D loader takes the first face.
    ComRef<IDirect3DTexture9> flat;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemory(f.device.get(), file.data(), UINT(file.size()), flat.out()), D3D_OK);
    EXPECT_EQ(level32(flat.get(), 0), std::vector<uint32_t>(4, 0xFF000000u));
    // A plain file is no cube map.
    const std::string plain = makeDds(D3DFMT_A8R8G8B8, 2, 2, 1, argbLevels({{4, 0}}));
    EXPECT_EQ(D3DXCreateCubeTextureFromFileInMemoryEx(f.device.get(), plain.data(), UINT(plain.size()), D3DX_DEFAULT,
                                                      0, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                                      D3DX_DEFAULT, 0, nullptr, nullptr, cube.out()),
              D3DXERR_INVALIDDATA);
    EXPECT_FALSE(cube);
}

TEST_F(D3dxDdsFile, TruncatedFilesFailCleanlyAtEveryLength)
{
    std::string dxtLevels;
    for (int i = 0; i < 4 + 1; ++i)
        dxtLevels += dxt1Block(0xF800, uint16_t(i), 0x1B1B1B1Bu);
    const std::string files[] = {
        makeDds(D3DFMT_A8R8G8B8, 4, 4, 3, argbLevels({{16, 1}, {4, 2}, {1, 3}})),
        makeDds(D3DFMT_DXT1, 8, 8, 2, dxtLevels),
        makeDds(D3DFMT_L8, 2, 2, 1, std::string(6 * 4, '\x40'), 0x200 | 0xFC00),
        makeDds(D3DFMT_R5G6B5, 3, 5, 1, std::string(3 * 5 * 2, '\x7F')),
    };
    for (const std::string& file : files) {
        ComRef<IDirect3DTexture9> t;
        ASSERT_EQ(load(f.device.get(), file, t), D3D_OK);
        for (size_t n = 0; n < file.size(); ++n) {
            // A copy of exactly n bytes, so that reading past it is caught.
            std::vector<char> cut(file.begin(), file.begin() + n);
            EXPECT_EQ(load(f.device.get(), n ? cut.data() : file.data(), UINT(n), t), n ? D3DXERR_INVALIDDATA : D3DERR_INVALIDCALL) << "length " << n;
            EXPECT_FALSE(t);
        }
    }
}

TEST_F(D3dxDdsFile, HeadersThatLieOrAreUnsupported)
{
    const std::string good = makeDds(D3DFMT_A8R8G8B8, 4, 4, 1, argbLevels({{16, 5}}));
    auto patched = [&](size_t at, uint32_t value) {
        std::string s = good;
        put32(s, at, value);
        return s;
    };
    const std::pair<const char*, std::string> bad[] = {
        {"a size its data cannot hold", makeDds(D3DFMT_A8R8G8B8, 4096, 4096, 1, argbLevels({{16, 5}}))},
        {"more levels than the size allows", makeDds(D3DFMT_A8R8G8B8, 4, 4, 4, argbLevels({{64, 5}}))},
        {"zero width", patched(16, 0)},
        {"huge height", patched(12, 0x40000000u)},
        {"wrong magic", patched(0, 0x20534444u ^ 1)},
        {"wrong header size", patched(4, 100)},
        {"wrong pixel format size", patched(76, 24)},
        {"volume texture", patched(112, 0x200000)},
        {"unsupported four-character code", makeDds(D3DFMT_DXT2, 4, 4, 1, std::string(16, 0))},
        {"unknown masks", patched(92, 0x7FF)},
        {"a cube map short of faces", makeDds(D3DFMT_L8, 2, 2, 1, std::string(24, 0), 0x200 | 0x400)},
    };
    for (const auto& [what, file] : bad) {
        ComRef<IDirect3DTexture9> t;
        EXPECT_EQ(load(f.device.get(), file, t), D3DXERR_INVALIDDATA) << what;
        EXPECT_FALSE(t) << what;
        D3DXIMAGE_INFO info{};
        EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(file.data(), UINT(file.size()), &info), D3DXERR_INVALIDDATA)
            << what;
    }
    // Garbage in every header byte in turn: whatever the result, no crash,
    // and a success is a usable texture.
    for (size_t at = 0; at < 128; ++at)
        for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x80)}) {
            std::string s = good;
            s[at] = char(value);
            ComRef<IDirect3DTexture9> t;
            if (load(f.device.get(), s, t) == D3D_OK) {
                EXPECT_GE(t->GetLevelCount(), 1u);
            }
        }
    // Arguments.
    ComRef<IDirect3DTexture9> t;
    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(nullptr, good.data(), UINT(good.size()), t.out()), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(f.device.get(), good.data(), UINT(good.size()), nullptr),
              D3DERR_INVALIDCALL);
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(good.data(), UINT(good.size()), &info), D3D_OK);
    EXPECT_EQ(info.Width, 4u);
    EXPECT_EQ(info.MipLevels, 1u);
    EXPECT_EQ(info.Depth, 1u);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
}

} // namespace
