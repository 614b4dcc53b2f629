// Texels of the formats the D3DX texture helpers convert between, to and
// from RGBA floats in 0..1 (float formats keep their range). DXT blocks are
// decoded and encoded here as well.
#pragma once

#include <d3d9.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::d3dx9 {

struct TexelChannel {
    uint8_t offset; // bit position in the texel
    uint8_t bits;   // 0: the format lacks the channel
};

struct TexelFormat {
    enum Kind : uint8_t { Unorm, Float, Dxt1, Dxt3, Dxt5 };

    D3DFORMAT format;
    Kind kind;
    uint8_t bytes;     // per texel, or per 4 x 4 block
    bool luminance;    // red holds the luminance; green and blue are unused
    TexelChannel r, g, b, a;
    TexelChannel x;    // padding written as ones (X formats)
    float missing[4];  // what a lacking channel reads as (r, g, b, a)

    bool compressed() const { return kind >= Dxt1; }
};

// Null for formats that cannot be converted (palette, bump, depth, YUV).
const TexelFormat* texelFormat(D3DFORMAT format);

// Bytes of a tight row (of texels, or of blocks), and the number of rows
// (block rows for DXT formats) of an image.
size_t texelRowBytes(const TexelFormat& format, uint32_t width);
uint32_t texelRows(const TexelFormat& format, uint32_t height);

// An RGBA float image.
struct TexelImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<float> rgba; // width * height * 4

    void resize(uint32_t w, uint32_t h);
    float* at(uint32_t x, uint32_t y) { return &rgba[(size_t(y) * width + x) * 4]; }
    const float* at(uint32_t x, uint32_t y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

// Reads the rectangle [left, left + out.width) x [top, top + out.height) of
// an image whose rows lie pitch bytes apart (block rows for DXT). The caller
// sizes out and keeps the rectangle inside the image.
void decodeTexels(const TexelFormat& format, const uint8_t* bits, size_t pitch, uint32_t left, uint32_t top,
                  TexelImage& out);
// Writes src into the rectangle at (left, top) of an image of imageWidth x
// imageHeight texels. DXT blocks the rectangle covers only in part keep
// their other texels (decoded and encoded again).
void encodeTexels(const TexelFormat& format, const TexelImage& src, uint8_t* bits, size_t pitch, uint32_t left,
                  uint32_t top, uint32_t imageWidth, uint32_t imageHeight);

// One channel value in 0..1 to an n-bit unsigned integer, to nearest.
uint32_t quantizeUnorm(float value, uint32_t bits);

// 4 x 4 blocks <-> 16 texels of 8-bit R, G, B, A (row by row).
void decodeDxtBlock(TexelFormat::Kind kind, const uint8_t* block, uint8_t rgba[64]);
void encodeDxtBlock(TexelFormat::Kind kind, const uint8_t rgba[64], uint8_t* block);

// One mip chain step of 8-bit four-channel texels (dw x dh from sw x sh,
// each side the same or half): every channel the mean of its 2 or 4 source
// bytes, halves rounded up.
void halveTexelBytes(const uint8_t* src, size_t srcPitch, uint32_t sw, uint32_t sh, uint8_t* dst, size_t dstPitch,
                     uint32_t dw, uint32_t dh);

float halfToFloat(uint16_t half);
uint16_t floatToHalf(float value);

} // namespace platform::d3dx9
