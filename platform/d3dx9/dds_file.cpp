#include "platform/d3dx9/dds_file.h"

#include "platform/d3dx9/texel_codec.h"

#include <cstring>

namespace platform::d3dx9 {

namespace {

constexpr uint32_t kHeaderBytes = 128; // magic + surface description
constexpr uint32_t kMaxSize = 16384;

// Surface description flags and caps.
constexpr uint32_t DDSD_MIPMAPCOUNT = 0x20000;
constexpr uint32_t DDSCAPS_MIPMAP = 0x400000;
constexpr uint32_t DDSCAPS2_CUBEMAP = 0x200;
constexpr uint32_t DDSCAPS2_CUBEMAP_ALLFACES = 0xFC00;
constexpr uint32_t DDSCAPS2_VOLUME = 0x200000;

// Pixel format flags.
constexpr uint32_t DDPF_ALPHAPIXELS = 0x1;
constexpr uint32_t DDPF_ALPHA = 0x2;
constexpr uint32_t DDPF_FOURCC = 0x4;
constexpr uint32_t DDPF_RGB = 0x40;
constexpr uint32_t DDPF_LUMINANCE = 0x20000;

uint32_t word(const uint8_t* p, size_t offset)
{
    return uint32_t(p[offset]) | uint32_t(p[offset + 1]) << 8 | uint32_t(p[offset + 2]) << 16 |
           uint32_t(p[offset + 3]) << 24;
}

struct MaskRow {
    D3DFORMAT format;
    uint32_t flags; // DDPF_RGB, DDPF_LUMINANCE or DDPF_ALPHA (with DDPF_ALPHAPIXELS)
    uint32_t bits;
    uint32_t r, g, b, a;
};

const MaskRow kMaskRows[] = {
    {D3DFMT_A8R8G8B8, DDPF_RGB | DDPF_ALPHAPIXELS, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000},
    {D3DFMT_X8R8G8B8, DDPF_RGB, 32, 0xFF0000, 0xFF00, 0xFF, 0},
    {D3DFMT_A8B8G8R8, DDPF_RGB | DDPF_ALPHAPIXELS, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},
    {D3DFMT_X8B8G8R8, DDPF_RGB, 32, 0xFF, 0xFF00, 0xFF0000, 0},
    {D3DFMT_R8G8B8, DDPF_RGB, 24, 0xFF0000, 0xFF00, 0xFF, 0},
    {D3DFMT_R5G6B5, DDPF_RGB, 16, 0xF800, 0x7E0, 0x1F, 0},
    {D3DFMT_A1R5G5B5, DDPF_RGB | DDPF_ALPHAPIXELS, 16, 0x7C00, 0x3E0, 0x1F, 0x8000},
    {D3DFMT_X1R5G5B5, DDPF_RGB, 16, 0x7C00, 0x3E0, 0x1F, 0},
    {D3DFMT_A4R4G4B4, DDPF_RGB | DDPF_ALPHAPIXELS, 16, 0xF00, 0xF0, 0xF, 0xF000},
    {D3DFMT_X4R4G4B4, DDPF_RGB, 16, 0xF00, 0xF0, 0xF, 0},
    {D3DFMT_L8, DDPF_LUMINANCE, 8, 0xFF, 0, 0, 0},
    {D3DFMT_A8L8, DDPF_LUMINANCE | DDPF_ALPHAPIXELS, 16, 0xFF, 0, 0, 0xFF00},
    {D3DFMT_A8, DDPF_ALPHA, 8, 0, 0, 0, 0xFF},
};

D3DFORMAT pixelFormat(const uint8_t* pf)
{
    const uint32_t flags = word(pf, 4);
    if (flags & DDPF_FOURCC) {
        const uint32_t fourCC = word(pf, 8);
        switch (fourCC) {
        case D3DFMT_DXT1:
        case D3DFMT_DXT3:
        case D3DFMT_DXT5:
            return D3DFORMAT(fourCC);
        // Writers also store a D3DFORMAT number as the code.
        case D3DFMT_A16B16G16R16:
        case D3DFMT_R16F:
        case D3DFMT_G16R16F:
        case D3DFMT_A16B16G16R16F:
        case D3DFMT_R32F:
        case D3DFMT_G32R32F:
        case D3DFMT_A32B32G32R32F:
            return D3DFORMAT(fourCC);
        default:
            return D3DFMT_UNKNOWN;
        }
    }
    const uint32_t bits = word(pf, 12);
    const uint32_t r = word(pf, 16), g = word(pf, 20), b = word(pf, 24), a = word(pf, 28);
    uint32_t kind = flags & (DDPF_RGB | DDPF_LUMINANCE | DDPF_ALPHA | DDPF_ALPHAPIXELS);
    if (kind & DDPF_ALPHA)
        kind = DDPF_ALPHA; // some writers add DDPF_ALPHAPIXELS to alpha-only files
    for (const MaskRow& row : kMaskRows) {
        if (row.flags != kind || row.bits != bits)
            continue;
        const bool colorMatch = (flags & DDPF_ALPHA) || (row.r == r && row.g == g && row.b == b) ||
                                ((flags & DDPF_LUMINANCE) && row.r == r);
        if (colorMatch && ((flags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) == 0 || row.a == a))
            return row.format;
    }
    return D3DFMT_UNKNOWN;
}

} // namespace

uint32_t DdsImage::levelWidth(uint32_t level) const
{
    const uint32_t w = level >= 32 ? 0 : width >> level;
    return w ? w : 1;
}

uint32_t DdsImage::levelHeight(uint32_t level) const
{
    const uint32_t h = level >= 32 ? 0 : height >> level;
    return h ? h : 1;
}

size_t DdsImage::pitch(uint32_t level) const
{
    const TexelFormat* f = texelFormat(format);
    return f ? texelRowBytes(*f, levelWidth(level)) : 0;
}

bool parseDds(const void* data, size_t size, DdsImage& image)
{
    image = DdsImage();
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (!p || size < kHeaderBytes || std::memcmp(p, "DDS ", 4) != 0)
        return false;
    const uint8_t* desc = p + 4;
    if (word(desc, 0) != 124 || word(desc, 72) != 32)
        return false;
    const uint32_t flags = word(desc, 4);
    const uint32_t height = word(desc, 8);
    const uint32_t width = word(desc, 12);
    const uint32_t mipCount = word(desc, 24);
    const uint32_t caps = word(desc, 104);
    const uint32_t caps2 = word(desc, 108);
    if (width == 0 || height == 0 || width > kMaxSize || height > kMaxSize)
        return false;
    if (caps2 & DDSCAPS2_VOLUME)
        return false;
    const D3DFORMAT format = pixelFormat(desc + 72);
    const TexelFormat* texel = texelFormat(format);
    if (!texel)
        return false;

    uint32_t full = 1;
    while ((width >> full) || (height >> full))
        ++full;
    uint32_t levels = 1;
    if ((flags & DDSD_MIPMAPCOUNT) || (caps & DDSCAPS_MIPMAP))
        levels = mipCount ? mipCount : 1;
    if (levels > full)
        return false;

    uint32_t faces = 1;
    if (caps2 & DDSCAPS2_CUBEMAP) {
        // Only complete cube maps.
        if ((caps2 & DDSCAPS2_CUBEMAP_ALLFACES) != DDSCAPS2_CUBEMAP_ALLFACES || width != height)
            return false;
        faces = 6;
    }

    image.format = format;
    image.width = width;
    image.height = height;
    image.levels = levels;
    image.faces = faces;
    image.cube = faces == 6;
    image.file = p;
    image.offsets.reserve(size_t(faces) * levels);
    // Sizes are at most 16384 x 16384 x 16 bytes per level: the sum stays
    // far below 2^63.
    uint64_t offset = kHeaderBytes;
    for (uint32_t f = 0; f < faces; ++f) {
        for (uint32_t l = 0; l < levels; ++l) {
            image.offsets.push_back(size_t(offset));
            offset += uint64_t(image.pitch(l)) * texelRows(*texel, image.levelHeight(l));
        }
    }
    if (offset > size) {
        image = DdsImage();
        return false;
    }
    return true;
}

} // namespace platform::d3dx9
