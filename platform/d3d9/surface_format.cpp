#include "platform/d3d9/surface_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::d3d9 {

namespace {

// Block-compressed formats come from GL_EXT_texture_compression_s3tc.
constexpr GLenum kCompressedDxt1 = 0x83F1;
constexpr GLenum kCompressedDxt3 = 0x83F2;
constexpr GLenum kCompressedDxt5 = 0x83F3;

#define SW_RGBA {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}
#define SW_RGB1 {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}
// Direct3D fills the channels a float format lacks with 1.
#define SW_R111 {GL_RED, GL_ONE, GL_ONE, GL_ONE}
#define SW_RG11 {GL_RED, GL_GREEN, GL_ONE, GL_ONE}

const FormatInfo kFormats[] = {
    // format, bytes, compressed, depth, stencil, renderable, alpha, internal, upload format, type, swizzle
    {D3DFMT_A8R8G8B8, 4, false, false, false, true, true, GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, SW_RGBA},
    {D3DFMT_X8R8G8B8, 4, false, false, false, true, false, GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, SW_RGB1},
    {D3DFMT_A8B8G8R8, 4, false, false, false, true, true, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, SW_RGBA},
    {D3DFMT_X8B8G8R8, 4, false, false, false, true, false, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, SW_RGB1},
    {D3DFMT_R5G6B5, 2, false, false, false, true, false, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, SW_RGB1},
    {D3DFMT_X1R5G5B5, 2, false, false, false, true, false, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV,
     SW_RGB1},
    {D3DFMT_A1R5G5B5, 2, false, false, false, true, true, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV,
     SW_RGBA},
    {D3DFMT_A4R4G4B4, 2, false, false, false, true, true, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV,
     SW_RGBA},
    {D3DFMT_X4R4G4B4, 2, false, false, false, true, false, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV,
     SW_RGB1},
    {D3DFMT_A2R10G10B10, 4, false, false, false, true, true, GL_RGB10_A2, GL_BGRA, GL_UNSIGNED_INT_2_10_10_10_REV,
     SW_RGBA},
    {D3DFMT_A2B10G10R10, 4, false, false, false, true, true, GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV,
     SW_RGBA},
    {D3DFMT_G16R16, 4, false, false, false, true, false, GL_RG16, GL_RG, GL_UNSIGNED_SHORT, SW_RG11},
    {D3DFMT_A16B16G16R16, 8, false, false, false, true, true, GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, SW_RGBA},
    {D3DFMT_A8, 1, false, false, false, false, true, GL_R8, GL_RED, GL_UNSIGNED_BYTE, {GL_ZERO, GL_ZERO, GL_ZERO, GL_RED}},
    {D3DFMT_L8, 1, false, false, false, false, false, GL_R8, GL_RED, GL_UNSIGNED_BYTE, {GL_RED, GL_RED, GL_RED, GL_ONE}},
    {D3DFMT_A8L8, 2, false, false, false, false, true, GL_RG8, GL_RG, GL_UNSIGNED_BYTE,
     {GL_RED, GL_RED, GL_RED, GL_GREEN}},
    {D3DFMT_L16, 2, false, false, false, false, false, GL_R16, GL_RED, GL_UNSIGNED_SHORT,
     {GL_RED, GL_RED, GL_RED, GL_ONE}},
    {D3DFMT_R16F, 2, false, false, false, true, false, GL_R16F, GL_RED, GL_HALF_FLOAT, SW_R111},
    {D3DFMT_G16R16F, 4, false, false, false, true, false, GL_RG16F, GL_RG, GL_HALF_FLOAT, SW_RG11},
    {D3DFMT_A16B16G16R16F, 8, false, false, false, true, true, GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, SW_RGBA},
    {D3DFMT_R32F, 4, false, false, false, true, false, GL_R32F, GL_RED, GL_FLOAT, SW_R111},
    {D3DFMT_G32R32F, 8, false, false, false, true, false, GL_RG32F, GL_RG, GL_FLOAT, SW_RG11},
    {D3DFMT_A32B32G32R32F, 16, false, false, false, true, true, GL_RGBA32F, GL_RGBA, GL_FLOAT, SW_RGBA},
    {D3DFMT_DXT1, 8, true, false, false, false, true, kCompressedDxt1, 0, 0, SW_RGBA},
    {D3DFMT_DXT2, 16, true, false, false, false, true, kCompressedDxt3, 0, 0, SW_RGBA},
    {D3DFMT_DXT3, 16, true, false, false, false, true, kCompressedDxt3, 0, 0, SW_RGBA},
    {D3DFMT_DXT4, 16, true, false, false, false, true, kCompressedDxt5, 0, 0, SW_RGBA},
    {D3DFMT_DXT5, 16, true, false, false, false, true, kCompressedDxt5, 0, 0, SW_RGBA},
    {D3DFMT_D24S8, 4, false, true, true, false, false, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL,
     GL_UNSIGNED_INT_24_8, SW_RGBA},
    {D3DFMT_D24X8, 4, false, true, false, false, false, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL,
     GL_UNSIGNED_INT_24_8, SW_RGBA},
    {D3DFMT_D24X4S4, 4, false, true, true, false, false, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL,
     GL_UNSIGNED_INT_24_8, SW_RGBA},
    {D3DFMT_D24FS8, 4, false, true, true, false, false, GL_DEPTH32F_STENCIL8, GL_DEPTH_STENCIL,
     GL_FLOAT_32_UNSIGNED_INT_24_8_REV, SW_RGBA},
    {D3DFMT_D16, 2, false, true, false, false, false, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT,
     GL_UNSIGNED_SHORT, SW_RGBA},
    {D3DFMT_D16_LOCKABLE, 2, false, true, false, false, false, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT,
     GL_UNSIGNED_SHORT, SW_RGBA},
    {D3DFMT_D32, 4, false, true, false, false, false, GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT,
     SW_RGBA},
    {D3DFMT_D32F_LOCKABLE, 4, false, true, false, false, false, GL_DEPTH_COMPONENT32F, GL_DEPTH_COMPONENT,
     GL_FLOAT, SW_RGBA},
};

float halfToFloat(unsigned short h)
{
    const unsigned sign = (h >> 15) & 1, exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
    float v;
    if (exponent == 0)
        v = std::ldexp(float(mantissa), -24);
    else if (exponent == 31)
        v = mantissa ? NAN : INFINITY;
    else
        v = std::ldexp(float(mantissa | 0x400), int(exponent) - 25);
    return sign ? -v : v;
}

unsigned short floatToHalf(float f)
{
    unsigned bits;
    std::memcpy(&bits, &f, 4);
    const unsigned sign = (bits >> 16) & 0x8000;
    if (std::isnan(f))
        return 0x7E00;
    float a = std::fabs(f);
    if (a >= 65520.0f)
        return static_cast<unsigned short>(sign | 0x7C00);
    if (a < std::ldexp(1.0f, -24) / 2)
        return static_cast<unsigned short>(sign);
    int e;
    std::frexp(a, &e); // a = m * 2^e, m in [0.5, 1)
    int exponent = e - 1 + 15;
    if (exponent <= 0) {
        const unsigned m = unsigned(std::lround(std::ldexp(a, 24)));
        return static_cast<unsigned short>(sign | m);
    }
    unsigned m = unsigned(std::lround(std::ldexp(a, 10 - (e - 1)))); // 1024..2048
    if (m >= 2048) {
        m >>= 1;
        ++exponent;
    }
    if (exponent >= 31)
        return static_cast<unsigned short>(sign | 0x7C00);
    return static_cast<unsigned short>(sign | unsigned(exponent) << 10 | (m & 0x3FF));
}

unsigned quantise(float v, unsigned maxValue)
{
    v = std::clamp(v, 0.0f, 1.0f);
    return unsigned(std::lround(v * float(maxValue)));
}

template <typename T>
T load(const unsigned char* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void store(unsigned char* p, T v)
{
    std::memcpy(p, &v, sizeof v);
}

} // namespace

const FormatInfo* formatInfo(D3DFORMAT format)
{
    for (const FormatInfo& f : kFormats) {
        if (f.format == format)
            return &f;
    }
    return nullptr;
}

UINT formatPitch(const FormatInfo& info, UINT width)
{
    const UINT bytes = info.compressed ? ((width + 3) / 4) * info.bytes : width * info.bytes;
    return (bytes + 3) & ~3u;
}

UINT formatRows(const FormatInfo& info, UINT height)
{
    return info.compressed ? (height + 3) / 4 : height;
}

UINT fullMipCount(UINT width, UINT height, UINT depth)
{
    UINT largest = std::max({width, height, depth, 1u});
    UINT levels = 1;
    while (largest > 1) {
        largest >>= 1;
        ++levels;
    }
    return levels;
}

bool decodePixel(const FormatInfo& info, const unsigned char* p, float c[4])
{
    auto unit = [](unsigned v, unsigned maxValue) { return float(v) / float(maxValue); };
    switch (info.format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: {
        const DWORD v = load<DWORD>(p);
        c[0] = unit((v >> 16) & 0xFF, 255);
        c[1] = unit((v >> 8) & 0xFF, 255);
        c[2] = unit(v & 0xFF, 255);
        c[3] = info.alpha ? unit(v >> 24, 255) : 1.0f;
        return true;
    }
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
        for (int i = 0; i < 3; ++i)
            c[i] = unit(p[i], 255);
        c[3] = info.alpha ? unit(p[3], 255) : 1.0f;
        return true;
    case D3DFMT_R5G6B5: {
        const unsigned v = load<unsigned short>(p);
        c[0] = unit(v >> 11, 31);
        c[1] = unit((v >> 5) & 63, 63);
        c[2] = unit(v & 31, 31);
        c[3] = 1.0f;
        return true;
    }
    case D3DFMT_A1R5G5B5:
    case D3DFMT_X1R5G5B5: {
        const unsigned v = load<unsigned short>(p);
        c[0] = unit((v >> 10) & 31, 31);
        c[1] = unit((v >> 5) & 31, 31);
        c[2] = unit(v & 31, 31);
        c[3] = info.alpha ? float(v >> 15) : 1.0f;
        return true;
    }
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4: {
        const unsigned v = load<unsigned short>(p);
        c[0] = unit((v >> 8) & 15, 15);
        c[1] = unit((v >> 4) & 15, 15);
        c[2] = unit(v & 15, 15);
        c[3] = info.alpha ? unit(v >> 12, 15) : 1.0f;
        return true;
    }
    case D3DFMT_A8:
        c[0] = c[1] = c[2] = 0.0f;
        c[3] = unit(p[0], 255);
        return true;
    case D3DFMT_L8:
        c[0] = c[1] = c[2] = unit(p[0], 255);
        c[3] = 1.0f;
        return true;
    case D3DFMT_A8L8:
        c[0] = c[1] = c[2] = unit(p[0], 255);
        c[3] = unit(p[1], 255);
        return true;
    case D3DFMT_R16F:
        c[0] = halfToFloat(load<unsigned short>(p));
        c[1] = c[2] = c[3] = 1.0f;
        return true;
    case D3DFMT_A16B16G16R16F:
        for (int i = 0; i < 4; ++i)
            c[i] = halfToFloat(load<unsigned short>(p + 2 * i));
        return true;
    case D3DFMT_R32F:
        c[0] = load<float>(p);
        c[1] = c[2] = c[3] = 1.0f;
        return true;
    case D3DFMT_A32B32G32R32F:
        for (int i = 0; i < 4; ++i)
            c[i] = load<float>(p + 4 * i);
        return true;
    default:
        return false;
    }
}

bool encodePixel(const FormatInfo& info, const float c[4], unsigned char* p)
{
    switch (info.format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: {
        const DWORD a = info.alpha ? quantise(c[3], 255) : 255;
        store<DWORD>(p, a << 24 | quantise(c[0], 255) << 16 | quantise(c[1], 255) << 8 | quantise(c[2], 255));
        return true;
    }
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
        for (int i = 0; i < 3; ++i)
            p[i] = static_cast<unsigned char>(quantise(c[i], 255));
        p[3] = static_cast<unsigned char>(info.alpha ? quantise(c[3], 255) : 255);
        return true;
    case D3DFMT_R5G6B5:
        store<unsigned short>(
            p, static_cast<unsigned short>(quantise(c[0], 31) << 11 | quantise(c[1], 63) << 5 | quantise(c[2], 31)));
        return true;
    case D3DFMT_A1R5G5B5:
    case D3DFMT_X1R5G5B5: {
        const unsigned a = info.alpha ? (c[3] >= 0.5f ? 1u : 0u) : 1u;
        store<unsigned short>(p, static_cast<unsigned short>(a << 15 | quantise(c[0], 31) << 10 |
                                                             quantise(c[1], 31) << 5 | quantise(c[2], 31)));
        return true;
    }
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4: {
        const unsigned a = info.alpha ? quantise(c[3], 15) : 15;
        store<unsigned short>(p, static_cast<unsigned short>(a << 12 | quantise(c[0], 15) << 8 |
                                                             quantise(c[1], 15) << 4 | quantise(c[2], 15)));
        return true;
    }
    case D3DFMT_A8:
        p[0] = static_cast<unsigned char>(quantise(c[3], 255));
        return true;
    case D3DFMT_L8:
        // Luminance from a colour: the usual video weights.
        p[0] = static_cast<unsigned char>(quantise(0.299f * c[0] + 0.587f * c[1] + 0.114f * c[2], 255));
        return true;
    case D3DFMT_A8L8:
        p[0] = static_cast<unsigned char>(quantise(0.299f * c[0] + 0.587f * c[1] + 0.114f * c[2], 255));
        p[1] = static_cast<unsigned char>(quantise(c[3], 255));
        return true;
    case D3DFMT_R16F:
        store<unsigned short>(p, floatToHalf(c[0]));
        return true;
    case D3DFMT_A16B16G16R16F:
        for (int i = 0; i < 4; ++i)
            store<unsigned short>(p + 2 * i, floatToHalf(c[i]));
        return true;
    case D3DFMT_R32F:
        store<float>(p, c[0]);
        return true;
    case D3DFMT_A32B32G32R32F:
        for (int i = 0; i < 4; ++i)
            store<float>(p + 4 * i, c[i]);
        return true;
    default:
        return false;
    }
}

} // namespace platform::d3d9
