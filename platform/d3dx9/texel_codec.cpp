#include "platform/d3dx9/texel_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::d3dx9 {

namespace {

constexpr TexelChannel none{0, 0};
constexpr TexelChannel ch(uint8_t offset, uint8_t bits)
{
    return TexelChannel{offset, bits};
}

#define OPAQUE_DEFAULTS {1.0f, 1.0f, 1.0f, 1.0f}

const TexelFormat kFormats[] = {
    {D3DFMT_A8R8G8B8, TexelFormat::Unorm, 4, false, ch(16, 8), ch(8, 8), ch(0, 8), ch(24, 8), none, OPAQUE_DEFAULTS},
    {D3DFMT_X8R8G8B8, TexelFormat::Unorm, 4, false, ch(16, 8), ch(8, 8), ch(0, 8), none, ch(24, 8), OPAQUE_DEFAULTS},
    {D3DFMT_R8G8B8, TexelFormat::Unorm, 3, false, ch(16, 8), ch(8, 8), ch(0, 8), none, none, OPAQUE_DEFAULTS},
    {D3DFMT_R5G6B5, TexelFormat::Unorm, 2, false, ch(11, 5), ch(5, 6), ch(0, 5), none, none, OPAQUE_DEFAULTS},
    {D3DFMT_X1R5G5B5, TexelFormat::Unorm, 2, false, ch(10, 5), ch(5, 5), ch(0, 5), none, ch(15, 1), OPAQUE_DEFAULTS},
    {D3DFMT_A1R5G5B5, TexelFormat::Unorm, 2, false, ch(10, 5), ch(5, 5), ch(0, 5), ch(15, 1), none, OPAQUE_DEFAULTS},
    {D3DFMT_A4R4G4B4, TexelFormat::Unorm, 2, false, ch(8, 4), ch(4, 4), ch(0, 4), ch(12, 4), none, OPAQUE_DEFAULTS},
    {D3DFMT_R3G3B2, TexelFormat::Unorm, 1, false, ch(5, 3), ch(2, 3), ch(0, 2), none, none, OPAQUE_DEFAULTS},
    {D3DFMT_A8, TexelFormat::Unorm, 1, false, none, none, none, ch(0, 8), none, {0.0f, 0.0f, 0.0f, 1.0f}},
    {D3DFMT_A8R3G3B2, TexelFormat::Unorm, 2, false, ch(5, 3), ch(2, 3), ch(0, 2), ch(8, 8), none, OPAQUE_DEFAULTS},
    {D3DFMT_X4R4G4B4, TexelFormat::Unorm, 2, false, ch(8, 4), ch(4, 4), ch(0, 4), none, ch(12, 4), OPAQUE_DEFAULTS},
    {D3DFMT_A2B10G10R10, TexelFormat::Unorm, 4, false, ch(0, 10), ch(10, 10), ch(20, 10), ch(30, 2), none,
     OPAQUE_DEFAULTS},
    {D3DFMT_A8B8G8R8, TexelFormat::Unorm, 4, false, ch(0, 8), ch(8, 8), ch(16, 8), ch(24, 8), none, OPAQUE_DEFAULTS},
    {D3DFMT_X8B8G8R8, TexelFormat::Unorm, 4, false, ch(0, 8), ch(8, 8), ch(16, 8), none, ch(24, 8), OPAQUE_DEFAULTS},
    {D3DFMT_G16R16, TexelFormat::Unorm, 4, false, ch(0, 16), ch(16, 16), none, none, none, OPAQUE_DEFAULTS},
    {D3DFMT_A2R10G10B10, TexelFormat::Unorm, 4, false, ch(20, 10), ch(10, 10), ch(0, 10), ch(30, 2), none,
     OPAQUE_DEFAULTS},
    {D3DFMT_A16B16G16R16, TexelFormat::Unorm, 8, false, ch(0, 16), ch(16, 16), ch(32, 16), ch(48, 16), none,
     OPAQUE_DEFAULTS},
    {D3DFMT_L8, TexelFormat::Unorm, 1, true, ch(0, 8), none, none, none, none, OPAQUE_DEFAULTS},
    {D3DFMT_A8L8, TexelFormat::Unorm, 2, true, ch(0, 8), none, none, ch(8, 8), none, OPAQUE_DEFAULTS},
    {D3DFMT_A4L4, TexelFormat::Unorm, 1, true, ch(0, 4), none, none, ch(4, 4), none, OPAQUE_DEFAULTS},
    {D3DFMT_L16, TexelFormat::Unorm, 2, true, ch(0, 16), none, none, none, none, OPAQUE_DEFAULTS},
    {D3DFMT_R16F, TexelFormat::Float, 2, false, ch(0, 16), none, none, none, none, OPAQUE_DEFAULTS},
    {D3DFMT_G16R16F, TexelFormat::Float, 4, false, ch(0, 16), ch(16, 16), none, none, none, OPAQUE_DEFAULTS},
    {D3DFMT_A16B16G16R16F, TexelFormat::Float, 8, false, ch(0, 16), ch(16, 16), ch(32, 16), ch(48, 16), none,
     OPAQUE_DEFAULTS},
    {D3DFMT_R32F, TexelFormat::Float, 4, false, ch(0, 32), none, none, none, none, OPAQUE_DEFAULTS},
    {D3DFMT_G32R32F, TexelFormat::Float, 8, false, ch(0, 32), ch(32, 32), none, none, none, OPAQUE_DEFAULTS},
    {D3DFMT_A32B32G32R32F, TexelFormat::Float, 16, false, ch(0, 32), ch(32, 32), ch(64, 32), ch(96, 32), none,
     OPAQUE_DEFAULTS},
    {D3DFMT_DXT1, TexelFormat::Dxt1, 8, false, none, none, none, none, none, OPAQUE_DEFAULTS},
    {D3DFMT_DXT3, TexelFormat::Dxt3, 16, false, none, none, none, none, none, OPAQUE_DEFAULTS},
    {D3DFMT_DXT5, TexelFormat::Dxt5, 16, false, none, none, none, none, none, OPAQUE_DEFAULTS},
};

#undef OPAQUE_DEFAULTS

// Luminance from colour (Rec. 709 weights).
constexpr double kLumR = 0.2125;
constexpr double kLumG = 0.7154;
constexpr double kLumB = 0.0721;

uint64_t loadWord(const uint8_t* p, unsigned bytes)
{
    uint64_t w = 0;
    for (unsigned i = 0; i < bytes; ++i)
        w |= uint64_t(p[i]) << (8 * i);
    return w;
}

void storeWord(uint8_t* p, unsigned bytes, uint64_t w)
{
    for (unsigned i = 0; i < bytes; ++i)
        p[i] = uint8_t(w >> (8 * i));
}

uint64_t channelMask(unsigned bits)
{
    return bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
}

float readFloatChannel(const uint8_t* texel, TexelChannel c)
{
    const uint8_t* p = texel + c.offset / 8;
    if (c.bits == 16)
        return halfToFloat(uint16_t(p[0] | p[1] << 8));
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

void writeFloatChannel(uint8_t* texel, TexelChannel c, float value)
{
    uint8_t* p = texel + c.offset / 8;
    if (c.bits == 16) {
        const uint16_t h = floatToHalf(value);
        p[0] = uint8_t(h);
        p[1] = uint8_t(h >> 8);
        return;
    }
    std::memcpy(p, &value, 4);
}

void decodeTexel(const TexelFormat& f, const uint8_t* texel, float out[4])
{
    const TexelChannel* channels[4] = {&f.r, &f.g, &f.b, &f.a};
    if (f.kind == TexelFormat::Float) {
        for (int i = 0; i < 4; ++i)
            out[i] = channels[i]->bits ? readFloatChannel(texel, *channels[i]) : f.missing[i];
        return;
    }
    const uint64_t w = loadWord(texel, f.bytes);
    for (int i = 0; i < 4; ++i) {
        const TexelChannel& c = *channels[i];
        if (!c.bits) {
            out[i] = f.missing[i];
            continue;
        }
        const uint64_t mask = channelMask(c.bits);
        out[i] = float(double((w >> c.offset) & mask) / double(mask));
    }
    if (f.luminance)
        out[1] = out[2] = out[0];
}

void encodeTexel(const TexelFormat& f, const float in[4], uint8_t* texel)
{
    float v[4] = {in[0], in[1], in[2], in[3]};
    if (f.luminance)
        v[0] = float(kLumR * in[0] + kLumG * in[1] + kLumB * in[2]);
    const TexelChannel* channels[4] = {&f.r, &f.g, &f.b, &f.a};
    if (f.kind == TexelFormat::Float) {
        for (int i = 0; i < 4; ++i)
            if (channels[i]->bits)
                writeFloatChannel(texel, *channels[i], v[i]);
        return;
    }
    uint64_t w = 0;
    for (int i = 0; i < 4; ++i) {
        const TexelChannel& c = *channels[i];
        if (c.bits)
            w |= uint64_t(quantizeUnorm(v[i], c.bits)) << c.offset;
    }
    if (f.x.bits)
        w |= channelMask(f.x.bits) << f.x.offset;
    storeWord(texel, f.bytes, w);
}

// --- DXT ---------------------------------------------------------------

void expand565(uint16_t c, uint8_t out[3])
{
    const unsigned r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    out[0] = uint8_t(r << 3 | r >> 2);
    out[1] = uint8_t(g << 2 | g >> 4);
    out[2] = uint8_t(b << 3 | b >> 2);
}

uint16_t pack565(const uint8_t rgb[3])
{
    return uint16_t(quantizeUnorm(rgb[0] / 255.0f, 5) << 11 | quantizeUnorm(rgb[1] / 255.0f, 6) << 5 |
                    quantizeUnorm(rgb[2] / 255.0f, 5));
}

// The four colours of a block (RGBA). Three-colour mode (DXT1 with
// color0 <= color1) has the average in entry 2 and transparent black in 3.
void colorPalette(uint16_t c0, uint16_t c1, bool fourColors, uint8_t pal[4][4])
{
    expand565(c0, pal[0]);
    expand565(c1, pal[1]);
    pal[0][3] = pal[1][3] = 255;
    for (int i = 0; i < 3; ++i) {
        const unsigned a = pal[0][i], b = pal[1][i];
        if (fourColors) {
            pal[2][i] = uint8_t((2 * a + b + 1) / 3);
            pal[3][i] = uint8_t((a + 2 * b + 1) / 3);
        } else {
            pal[2][i] = uint8_t((a + b + 1) / 2);
            pal[3][i] = 0;
        }
    }
    pal[2][3] = 255;
    pal[3][3] = fourColors ? 255 : 0;
}

void alphaPalette(unsigned a0, unsigned a1, uint8_t pal[8])
{
    pal[0] = uint8_t(a0);
    pal[1] = uint8_t(a1);
    if (a0 > a1) {
        for (unsigned i = 2; i < 8; ++i)
            pal[i] = uint8_t(((8 - i) * a0 + (i - 1) * a1 + 3) / 7);
    } else {
        for (unsigned i = 2; i < 6; ++i)
            pal[i] = uint8_t(((6 - i) * a0 + (i - 1) * a1 + 2) / 5);
        pal[6] = 0;
        pal[7] = 255;
    }
}

void decodeColorPart(const uint8_t* p, bool dxt1, uint8_t rgba[64])
{
    const uint16_t c0 = uint16_t(p[0] | p[1] << 8);
    const uint16_t c1 = uint16_t(p[2] | p[3] << 8);
    const uint32_t indices = uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
    uint8_t pal[4][4];
    colorPalette(c0, c1, !dxt1 || c0 > c1, pal);
    for (int t = 0; t < 16; ++t) {
        const unsigned idx = (indices >> (2 * t)) & 3;
        std::memcpy(rgba + 4 * t, pal[idx], 4);
    }
}

void encodeColorPart(const uint8_t rgba[64], bool dxt1, uint8_t* p)
{
    bool transparent[16];
    bool anyTransparent = false;
    for (int t = 0; t < 16; ++t) {
        transparent[t] = dxt1 && rgba[4 * t + 3] < 128;
        anyTransparent |= transparent[t];
    }
    // End points: the two opaque texels farthest apart, so that a block of
    // two colours is kept exactly.
    int first = -1, second = -1, widest = -1;
    for (int i = 0; i < 16; ++i) {
        if (transparent[i])
            continue;
        for (int j = i; j < 16; ++j) {
            if (transparent[j])
                continue;
            int d = 0;
            for (int k = 0; k < 3; ++k) {
                const int e = int(rgba[4 * i + k]) - int(rgba[4 * j + k]);
                d += e * e;
            }
            if (d > widest) {
                widest = d;
                first = i;
                second = j;
            }
        }
    }
    const bool anyOpaque = first >= 0;
    const uint8_t* hi = anyOpaque ? rgba + 4 * first : rgba;
    const uint8_t* lo = anyOpaque ? rgba + 4 * second : rgba;
    uint16_t c0 = anyOpaque ? pack565(hi) : 0;
    uint16_t c1 = anyOpaque ? pack565(lo) : 0;
    bool fourColors;
    if (anyTransparent) {
        if (c0 > c1)
            std::swap(c0, c1);
        fourColors = false;
    } else {
        if (c0 < c1)
            std::swap(c0, c1);
        fourColors = c0 > c1; // equal end points: every texel takes entry 0
    }
    uint8_t pal[4][4];
    colorPalette(c0, c1, fourColors || !dxt1, pal);
    const int choices = (fourColors || !dxt1) ? 4 : 3;
    uint32_t indices = 0;
    for (int t = 0; t < 16; ++t) {
        unsigned best = 0;
        if (transparent[t]) {
            best = 3;
        } else if (c0 != c1) {
            int bestDistance = 1 << 30;
            for (int k = 0; k < choices; ++k) {
                int d = 0;
                for (int i = 0; i < 3; ++i) {
                    const int e = int(rgba[4 * t + i]) - int(pal[k][i]);
                    d += e * e;
                }
                if (d < bestDistance) {
                    bestDistance = d;
                    best = unsigned(k);
                }
            }
        }
        indices |= uint32_t(best) << (2 * t);
    }
    p[0] = uint8_t(c0);
    p[1] = uint8_t(c0 >> 8);
    p[2] = uint8_t(c1);
    p[3] = uint8_t(c1 >> 8);
    storeWord(p + 4, 4, indices);
}

} // namespace

const TexelFormat* texelFormat(D3DFORMAT format)
{
    for (const TexelFormat& f : kFormats)
        if (f.format == format)
            return &f;
    return nullptr;
}

size_t texelRowBytes(const TexelFormat& format, uint32_t width)
{
    if (format.compressed())
        return size_t((width + 3) / 4) * format.bytes;
    return size_t(width) * format.bytes;
}

uint32_t texelRows(const TexelFormat& format, uint32_t height)
{
    return format.compressed() ? (height + 3) / 4 : height;
}

void TexelImage::resize(uint32_t w, uint32_t h)
{
    width = w;
    height = h;
    rgba.assign(size_t(w) * h * 4, 0.0f);
}

uint32_t quantizeUnorm(float value, uint32_t bits)
{
    const uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    if (!(value > 0.0f)) // also NaN
        return 0;
    if (value >= 1.0f)
        return max;
    // Halves round up. The small bias absorbs float error in values that
    // are exact halves (averages of two or four texels), far below the
    // distance of any other value from a half.
    return uint32_t(std::floor(double(value) * max + 0.5 + 2e-4));
}

void decodeDxtBlock(TexelFormat::Kind kind, const uint8_t* block, uint8_t rgba[64])
{
    if (kind == TexelFormat::Dxt1) {
        decodeColorPart(block, true, rgba);
        return;
    }
    decodeColorPart(block + 8, false, rgba);
    if (kind == TexelFormat::Dxt3) {
        for (int t = 0; t < 16; ++t) {
            const unsigned nibble = (block[t / 2] >> (4 * (t & 1))) & 15;
            rgba[4 * t + 3] = uint8_t(nibble * 17);
        }
        return;
    }
    uint8_t pal[8];
    alphaPalette(block[0], block[1], pal);
    const uint64_t bits = loadWord(block + 2, 6);
    for (int t = 0; t < 16; ++t)
        rgba[4 * t + 3] = pal[(bits >> (3 * t)) & 7];
}

void encodeDxtBlock(TexelFormat::Kind kind, const uint8_t rgba[64], uint8_t* block)
{
    if (kind == TexelFormat::Dxt1) {
        encodeColorPart(rgba, true, block);
        return;
    }
    encodeColorPart(rgba, false, block + 8);
    if (kind == TexelFormat::Dxt3) {
        std::memset(block, 0, 8);
        for (int t = 0; t < 16; ++t)
            block[t / 2] |= uint8_t(quantizeUnorm(rgba[4 * t + 3] / 255.0f, 4) << (4 * (t & 1)));
        return;
    }
    unsigned lo = 255, hi = 0;
    for (int t = 0; t < 16; ++t) {
        lo = std::min<unsigned>(lo, rgba[4 * t + 3]);
        hi = std::max<unsigned>(hi, rgba[4 * t + 3]);
    }
    uint8_t pal[8];
    alphaPalette(hi, lo, pal);
    uint64_t bits = 0;
    if (hi != lo) {
        for (int t = 0; t < 16; ++t) {
            unsigned best = 0;
            int bestDistance = 1 << 30;
            for (unsigned k = 0; k < 8; ++k) {
                const int d = std::abs(int(rgba[4 * t + 3]) - int(pal[k]));
                if (d < bestDistance) {
                    bestDistance = d;
                    best = k;
                }
            }
            bits |= uint64_t(best) << (3 * t);
        }
    }
    block[0] = uint8_t(hi);
    block[1] = uint8_t(lo);
    storeWord(block + 2, 6, bits);
}

void decodeTexels(const TexelFormat& format, const uint8_t* bits, size_t pitch, uint32_t left, uint32_t top,
                  TexelImage& out)
{
    if (!format.compressed()) {
        for (uint32_t y = 0; y < out.height; ++y) {
            const uint8_t* row = bits + size_t(top + y) * pitch + size_t(left) * format.bytes;
            for (uint32_t x = 0; x < out.width; ++x)
                decodeTexel(format, row + size_t(x) * format.bytes, out.at(x, y));
        }
        return;
    }
    if (out.width == 0 || out.height == 0)
        return;
    uint8_t block[64];
    const uint32_t right = left + out.width, bottom = top + out.height;
    for (uint32_t by = top / 4; by <= (bottom - 1) / 4; ++by) {
        for (uint32_t bx = left / 4; bx <= (right - 1) / 4; ++bx) {
            decodeDxtBlock(format.kind, bits + size_t(by) * pitch + size_t(bx) * format.bytes, block);
            for (uint32_t t = 0; t < 16; ++t) {
                const uint32_t x = bx * 4 + t % 4, y = by * 4 + t / 4;
                if (x < left || x >= right || y < top || y >= bottom)
                    continue;
                float* o = out.at(x - left, y - top);
                for (int i = 0; i < 4; ++i)
                    o[i] = block[4 * t + i] / 255.0f;
            }
        }
    }
}

void encodeTexels(const TexelFormat& format, const TexelImage& src, uint8_t* bits, size_t pitch, uint32_t left,
                  uint32_t top, uint32_t imageWidth, uint32_t imageHeight)
{
    if (!format.compressed()) {
        for (uint32_t y = 0; y < src.height; ++y) {
            uint8_t* row = bits + size_t(top + y) * pitch + size_t(left) * format.bytes;
            for (uint32_t x = 0; x < src.width; ++x)
                encodeTexel(format, src.at(x, y), row + size_t(x) * format.bytes);
        }
        return;
    }
    if (src.width == 0 || src.height == 0)
        return;
    uint8_t block[64];
    const uint32_t right = left + src.width, bottom = top + src.height;
    for (uint32_t by = top / 4; by <= (bottom - 1) / 4; ++by) {
        for (uint32_t bx = left / 4; bx <= (right - 1) / 4; ++bx) {
            uint8_t* p = bits + size_t(by) * pitch + size_t(bx) * format.bytes;
            const bool whole = bx * 4 >= left && by * 4 >= top && bx * 4 + 4 <= right && by * 4 + 4 <= bottom;
            if (!whole)
                decodeDxtBlock(format.kind, p, block);
            for (uint32_t t = 0; t < 16; ++t) {
                const uint32_t x = bx * 4 + t % 4, y = by * 4 + t / 4;
                if (x < left || x >= right || y < top || y >= bottom)
                    continue;
                const float* s = src.at(x - left, y - top);
                for (int i = 0; i < 4; ++i)
                    block[4 * t + i] = uint8_t(quantizeUnorm(s[i], 8));
            }
            // Texels past the image edge (levels smaller than a block)
            // repeat the nearest texel inside, so they do not pull the end
            // points away.
            const uint32_t validW = std::min<uint32_t>(4, imageWidth > bx * 4 ? imageWidth - bx * 4 : 1);
            const uint32_t validH = std::min<uint32_t>(4, imageHeight > by * 4 ? imageHeight - by * 4 : 1);
            for (uint32_t t = 0; t < 16; ++t) {
                const uint32_t tx = t % 4, ty = t / 4;
                if (tx < validW && ty < validH)
                    continue;
                const uint32_t s = std::min(ty, validH - 1) * 4 + std::min(tx, validW - 1);
                std::memcpy(block + 4 * t, block + 4 * s, 4);
            }
            encodeDxtBlock(format.kind, block, p);
        }
    }
}

void halveTexelBytes(const uint8_t* src, size_t srcPitch, uint32_t sw, uint32_t sh, uint8_t* dst, size_t dstPitch,
                     uint32_t dw, uint32_t dh)
{
    const uint32_t sx = sw / dw, sy = sh / dh;
    const uint32_t n = sx * sy, half = n / 2, shift = n == 4 ? 2 : n == 2 ? 1 : 0;
    const size_t dx = sx == 2 ? 4 : 0, dy = sy == 2 ? srcPitch : 0;
    for (uint32_t y = 0; y < dh; ++y) {
        const uint8_t* a = src + size_t(y) * sy * srcPitch;
        uint8_t* d = dst + size_t(y) * dstPitch;
        for (uint32_t x = 0; x < dw; ++x, a += 4 * sx, d += 4) {
            for (int c = 0; c < 4; ++c) {
                uint32_t sum = a[c];
                if (dx)
                    sum += a[dx + c];
                if (dy) {
                    sum += a[dy + c];
                    if (dx)
                        sum += a[dy + dx + c];
                }
                d[c] = uint8_t((sum + half) >> shift);
            }
        }
    }
}

float halfToFloat(uint16_t h)
{
    const uint32_t sign = uint32_t(h & 0x8000) << 16;
    uint32_t exponent = (h >> 10) & 0x1F;
    uint32_t mantissa = h & 0x3FF;
    uint32_t bits;
    if (exponent == 0) {
        if (mantissa == 0) {
            bits = sign;
        } else {
            // Subnormal: normalise.
            exponent = 127 - 15 + 1;
            while (!(mantissa & 0x400)) {
                mantissa <<= 1;
                --exponent;
            }
            mantissa &= 0x3FF;
            bits = sign | exponent << 23 | mantissa << 13;
        }
    } else if (exponent == 31) {
        bits = sign | 0x7F800000u | mantissa << 13;
    } else {
        bits = sign | (exponent + 127 - 15) << 23 | mantissa << 13;
    }
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

uint16_t floatToHalf(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    const uint16_t sign = uint16_t((bits >> 16) & 0x8000);
    const int exponent = int((bits >> 23) & 0xFF);
    uint32_t mantissa = bits & 0x7FFFFF;
    if (exponent == 255) // infinity, NaN
        return uint16_t(sign | 0x7C00 | (mantissa ? 0x200 : 0));
    int e = exponent - 127 + 15;
    if (e >= 31)
        return uint16_t(sign | 0x7C00);
    if (e <= 0) {
        if (e < -10)
            return sign;
        // Subnormal half, rounded to nearest even.
        mantissa |= 0x800000;
        const int shift = 14 - e;
        uint32_t half = mantissa >> shift;
        const uint32_t rest = mantissa & ((1u << shift) - 1);
        const uint32_t midpoint = 1u << (shift - 1);
        if (rest > midpoint || (rest == midpoint && (half & 1)))
            ++half;
        return uint16_t(sign | half);
    }
    uint32_t half = uint32_t(e) << 10 | mantissa >> 13;
    const uint32_t rest = mantissa & 0x1FFF;
    if (rest > 0x1000 || (rest == 0x1000 && (half & 1)))
        ++half; // may carry into the exponent, which is still right
    return uint16_t(sign | half);
}

} // namespace platform::d3dx9
