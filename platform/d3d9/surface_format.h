// What the device knows about each Direct3D format: its memory layout as
// the application sees it through LockRect, and how GL stores, uploads,
// reads back and samples it.
#pragma once

#include "platform/d3d9/d3d9_interfaces.h"
#include "platform/d3d9/gl_context.h"

namespace platform::d3d9 {

struct FormatInfo {
    D3DFORMAT format;
    // Bytes per pixel, or per 4 x 4 block for block-compressed formats.
    UINT bytes;
    bool compressed;
    bool depth;
    bool stencil;
    bool renderable;   // may be a render target
    bool alpha;        // has an alpha channel (X formats read back opaque)
    GLenum internalFormat;
    GLenum uploadFormat; // pixel transfer format and type, memory order as
    GLenum uploadType;   // Direct3D lays it out (none for compressed)
    GLint swizzle[4];    // what the sampler returns for r, g, b, a
};

// Null for formats the device cannot create.
const FormatInfo* formatInfo(D3DFORMAT format);

// Row pitch of a surface as Direct3D hands it out: whole rows (block rows
// for compressed formats) rounded up to 4 bytes.
UINT formatPitch(const FormatInfo& info, UINT width);
// Rows of memory a surface of that height has (block rows when compressed).
UINT formatRows(const FormatInfo& info, UINT height);
inline UINT formatSize(const FormatInfo& info, UINT width, UINT height)
{
    return formatPitch(info, width) * formatRows(info, height);
}

// One pixel in a colour format <-> 0..1 floats (r, g, b, a). Unsupported
// conversions (compressed, depth) give false. Used by ColorFill and the CPU
// copies of StretchRect.
bool decodePixel(const FormatInfo& info, const unsigned char* pixel, float rgba[4]);
bool encodePixel(const FormatInfo& info, const float rgba[4], unsigned char* pixel);

// Size of mip level `level` of a dimension (at least 1).
inline UINT mipExtent(UINT size, UINT level)
{
    const UINT s = level >= 32 ? 0 : size >> level;
    return s ? s : 1;
}
// Levels of a full chain down to 1 x 1 (x 1).
UINT fullMipCount(UINT width, UINT height, UINT depth = 1);

} // namespace platform::d3d9
