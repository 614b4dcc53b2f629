// The pixel-format descriptor table and the chooser that every format
// decision of the program goes through: display and back-buffer formats, the
// automatic depth buffer, render-target and depth textures. Candidate lists
// are lists of pointers into the one static table.
#pragma once

#include "foundation/types.h"

#include <d3d9.h>

#include <vector>

// Channel word: kind << 16 | shift << 8 | bits. bits is the element size,
// shift the log2 of the elements the channel packs (multi-element formats).
enum ChannelKind : u32 {
    kChannelUnsigned = 0, // unsigned normalized
    kChannelSigned = 1,
    kChannelFloat = 2,
};

constexpr u32 channelWord(u32 kind, u32 shift, u32 bits)
{
    return kind << 16 | shift << 8 | bits;
}
constexpr u32 channelKind(u32 word)
{
    return (word >> 16) & 0xFFFF;
}
constexpr u32 channelShift(u32 word)
{
    return (word >> 8) & 0xFF;
}
constexpr u32 channelBits(u32 word)
{
    return word & 0xFF;
}

// Row flags.
enum FormatFlag : u32 {
    kFormatDisplay = 0x1,          // usable as display / back-buffer format
    kFormatDepth = 0x2,            // depth-stencil format
    kFormatNotLockable = 0x4,      // no CPU access: most depth and the multi-element formats
    kFormatMultiElement = 0x8,     // several elements per channel
    kFormatExtendedColor = 0x10,   // ABGR order, 16-bit or float colour
    kFormatSpecial = 0x20,         // palette, YUV, block-compressed, CxV8U8
    kFormatInterpolatedAlpha = 0x40,
    kFormatPalette = 0x80,
    kFormatCxV8U8 = 0x100,
    kFormatYuv = 0x200,
    kFormatPackedRgbg = 0x400,
    kFormatPremultipliedAlpha = 0x800,
};

struct FormatDesc {
    D3DFORMAT format;
    const char* name; // without the D3DFMT_ prefix
    // A, R, G, B; depth rows: stencil, depth; luminance in R; bump V, U in G, B.
    u32 channels[4];
    u32 bitsPerPixel;
    u32 flags;
};

typedef std::vector<const FormatDesc*> FormatList;

extern const FormatDesc formatTable[];
extern const u32 formatTableCount; // 71

// The display formats in their fixed order (A8R8G8B8, X8R8G8B8, R5G6B5,
// X1R5G5B5, A1R5G5B5, A2R10G10B10) and their table names.
constexpr int kDisplayFormatCount = 6;
extern const D3DFORMAT displayFormats[kDisplayFormatCount];
extern const char* const displayFormatNames[kDisplayFormatCount];

// The table row of a format, or null.
const FormatDesc* findFormatDesc(D3DFORMAT format);
// Position of a format among the display formats, or -1.
int displayFormatIndex(D3DFORMAT format);

// What a caller needs and prefers in a format. Built on the stack, then
// findBest over a candidate list.
struct FormatRequest {
    static constexpr size_t kMaxPreferences = 12;

    u32 min[4] = {0, 0, 0, 0};
    u32 pref[4] = {0, 0, 0, 0};
    u32 max[4] = {0, 0, 0, 0};
    u32 required = 0; // flags a row must all have
    u32 allowed = 0;  // a row must have no flag outside this mask
    // In order of importance: e >= 0 prefers rows with all bits of e, ~f
    // prefers rows without all bits of f.
    std::vector<i32> m_preferredFlags;

    // Accepts rows with flag but prefers rows without it.
    void avoidFlag(u32 flag);
    // -1 when the row fails the request. 64-bit: a large size term with all
    // twelve preference bits does not fit in 32.
    i64 score(const FormatDesc& row) const;
    // The highest-scoring row; the first of equals wins. Null when the list
    // is empty or no row qualifies.
    const FormatDesc* findBest(const FormatList& candidates) const;
};

// A depth format of at least 15 bits that the application cannot lock,
// preferring `stencilBits` of stencil (none when 0) and `depthBits` of depth.
FormatRequest depthRequest(u32 stencilBits, u32 depthBits);

// The request for an automatic depth-stencil buffer: any depth of at least
// 15 bits, preferring 8 stencil bits and 24 depth bits, and the formats the
// application cannot lock.
FormatRequest depthStencilRequest();
