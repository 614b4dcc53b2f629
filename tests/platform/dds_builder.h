// .dds files written byte by byte for the texture loader tests.
#pragma once

#include <d3d9.h>

#include <cstdint>
#include <string>

namespace ddstest {

inline void put32(std::string& s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = char((v >> (8 * i)) & 0xFF);
}

inline void append16(std::string& s, uint32_t v)
{
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}

inline void append32(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s += char((v >> (8 * i)) & 0xFF);
}

struct PixelFormat {
    uint32_t flags, fourCC, bits, r, g, b, a;
};

inline PixelFormat pixelFormatOf(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8: return {0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    case D3DFMT_X8R8G8B8: return {0x40, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0};
    case D3DFMT_R5G6B5: return {0x40, 0, 16, 0xF800, 0x7E0, 0x1F, 0};
    case D3DFMT_A1R5G5B5: return {0x41, 0, 16, 0x7C00, 0x3E0, 0x1F, 0x8000};
    case D3DFMT_A4R4G4B4: return {0x41, 0, 16, 0xF00, 0xF0, 0xF, 0xF000};
    case D3DFMT_L8: return {0x20000, 0, 8, 0xFF, 0, 0, 0};
    case D3DFMT_A8: return {0x2, 0, 8, 0, 0, 0, 0xFF};
    case D3DFMT_A8L8: return {0x20001, 0, 16, 0xFF, 0, 0, 0xFF00};
    default: return {0x4, uint32_t(format), 0, 0, 0, 0, 0}; // four-character code
    }
}

// Header of a width x height file with `levels` mip levels (0: no mip-map
// count at all) and the given caps2 (0x200 | 0xFC00 for a cube map), then
// the payload as it is.
inline std::string makeDds(D3DFORMAT format, uint32_t width, uint32_t height, uint32_t levels,
                           const std::string& payload, uint32_t caps2 = 0)
{
    std::string f(128, '\0');
    f.replace(0, 4, "DDS ");
    put32(f, 4, 124);
    put32(f, 8, 0x1 | 0x2 | 0x4 | 0x1000 | (levels ? 0x20000 : 0));
    put32(f, 12, height);
    put32(f, 16, width);
    put32(f, 28, levels);
    const PixelFormat pf = pixelFormatOf(format);
    put32(f, 76, 32);
    put32(f, 80, pf.flags);
    put32(f, 84, pf.fourCC);
    put32(f, 88, pf.bits);
    put32(f, 92, pf.r);
    put32(f, 96, pf.g);
    put32(f, 100, pf.b);
    put32(f, 104, pf.a);
    put32(f, 108, 0x1000 | (levels > 1 ? 0x400008 : 0) | (caps2 ? 0x8 : 0));
    put32(f, 112, caps2);
    return f + payload;
}

// A DXT1 block: two 5:6:5 end points and sixteen 2-bit indices, texel 0
// in the lowest bits.
inline std::string dxt1Block(uint16_t c0, uint16_t c1, uint32_t indices)
{
    std::string s;
    append16(s, c0);
    append16(s, c1);
    append32(s, indices);
    return s;
}

} // namespace ddstest
