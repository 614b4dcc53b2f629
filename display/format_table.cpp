#include "display/format_table.h"

#include "foundation/diagnostics.h"

#include <algorithm>

namespace {

constexpr u32 ch(u32 kind, u32 shift, u32 bits)
{
    return channelWord(kind, shift, bits);
}

// Four-character codes as their little-endian 32-bit values.
constexpr u32 fourCC(const char (&code)[5])
{
    return u32(u8(code[0])) | u32(u8(code[1])) << 8 | u32(u8(code[2])) << 16 | u32(u8(code[3])) << 24;
}

constexpr D3DFORMAT fmt(u32 value)
{
    return static_cast<D3DFORMAT>(value);
}

} // namespace

const FormatDesc formatTable[] = {
    {fmt(20), "R8G8B8", {0, ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 24, 0x0}, // 0
    {fmt(21), "A8R8G8B8", {ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 32, 0x1}, // 1
    {fmt(22), "X8R8G8B8", {0, ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 32, 0x1}, // 2
    {fmt(23), "R5G6B5", {0, ch(0, 0, 5), ch(0, 0, 6), ch(0, 0, 5)}, 16, 0x1}, // 3
    {fmt(24), "X1R5G5B5", {0, ch(0, 0, 5), ch(0, 0, 5), ch(0, 0, 5)}, 16, 0x1}, // 4
    {fmt(25), "A1R5G5B5", {ch(0, 0, 1), ch(0, 0, 5), ch(0, 0, 5), ch(0, 0, 5)}, 16, 0x1}, // 5
    {fmt(26), "A4R4G4B4", {ch(0, 0, 4), ch(0, 0, 4), ch(0, 0, 4), ch(0, 0, 4)}, 16, 0x0}, // 6
    {fmt(27), "R3G3B2", {0, ch(0, 0, 3), ch(0, 0, 3), ch(0, 0, 2)}, 8, 0x0}, // 7
    {fmt(28), "A8", {ch(0, 0, 8), 0, 0, 0}, 8, 0x0}, // 8
    {fmt(29), "A8R3G3B2", {ch(0, 0, 8), ch(0, 0, 3), ch(0, 0, 3), ch(0, 0, 2)}, 16, 0x0}, // 9
    {fmt(30), "X4R4G4B4", {0, ch(0, 0, 4), ch(0, 0, 4), ch(0, 0, 4)}, 16, 0x0}, // 10
    {fmt(31), "A2B10G10R10", {ch(0, 0, 2), ch(0, 0, 10), ch(0, 0, 10), ch(0, 0, 10)}, 32, 0x10}, // 11
    {fmt(32), "A8B8G8R8", {ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 32, 0x10}, // 12
    {fmt(33), "X8B8G8R8", {0, ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 32, 0x10}, // 13
    {fmt(34), "G16R16", {0, ch(0, 0, 16), ch(0, 0, 16), 0}, 32, 0x10}, // 14
    {fmt(35), "A2R10G10B10", {ch(0, 0, 2), ch(0, 0, 10), ch(0, 0, 10), ch(0, 0, 10)}, 32, 0x1}, // 15
    {fmt(36), "A16B16G16R16", {ch(0, 0, 16), ch(0, 0, 16), ch(0, 0, 16), ch(0, 0, 16)}, 64, 0x10}, // 16
    {fmt(40), "A8P8", {ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 16, 0xa0}, // 17
    {fmt(41), "P8", {0, ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 8, 0xa0}, // 18
    {fmt(50), "L8", {0, ch(0, 0, 8), 0, 0}, 8, 0x0}, // 19
    {fmt(51), "A8L8", {ch(0, 0, 8), ch(0, 0, 8), 0, 0}, 16, 0x0}, // 20
    {fmt(52), "A4L4", {ch(0, 0, 4), ch(0, 0, 4), 0, 0}, 8, 0x0}, // 21
    {fmt(60), "V8U8", {0, 0, ch(1, 0, 8), ch(1, 0, 8)}, 16, 0x0}, // 22
    {fmt(61), "L6V5U5", {0, ch(0, 0, 6), ch(1, 0, 5), ch(1, 0, 5)}, 16, 0x0}, // 23
    {fmt(62), "X8L8V8U8", {0, ch(0, 0, 8), ch(1, 0, 8), ch(1, 0, 8)}, 32, 0x0}, // 24
    {fmt(63), "Q8W8V8U8", {ch(1, 0, 8), ch(1, 0, 8), ch(1, 0, 8), ch(1, 0, 8)}, 32, 0x0}, // 25
    {fmt(64), "V16U16", {0, 0, ch(1, 0, 16), ch(1, 0, 16)}, 32, 0x0}, // 26
    {fmt(67), "A2W10V10U10", {ch(0, 0, 2), ch(1, 0, 10), ch(1, 0, 10), ch(1, 0, 10)}, 32, 0x0}, // 27
    {fmt(fourCC("UYVY")), "UYVY", {0, ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 16, 0x220}, // 28
    {fmt(fourCC("RGBG")), "R8G8_B8G8", {0, ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 16, 0x420}, // 29
    {fmt(fourCC("YUY2")), "YUY2", {0, ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 16, 0x220}, // 30
    {fmt(fourCC("GRGB")), "G8R8_G8B8", {0, ch(0, 0, 8), ch(0, 0, 8), ch(0, 0, 8)}, 16, 0x420}, // 31
    {fmt(fourCC("DXT1")), "DXT1", {ch(0, 0, 1), ch(0, 0, 5), ch(0, 0, 6), ch(0, 0, 5)}, 4, 0x20}, // 32
    {fmt(fourCC("DXT2")), "DXT2", {ch(0, 0, 4), ch(0, 0, 5), ch(0, 0, 6), ch(0, 0, 5)}, 8, 0x820}, // 33
    {fmt(fourCC("DXT3")), "DXT3", {ch(0, 0, 4), ch(0, 0, 5), ch(0, 0, 6), ch(0, 0, 5)}, 8, 0x20}, // 34
    {fmt(fourCC("DXT4")), "DXT4", {ch(0, 0, 8), ch(0, 0, 5), ch(0, 0, 6), ch(0, 0, 5)}, 8, 0x860}, // 35
    {fmt(fourCC("DXT5")), "DXT5", {ch(0, 0, 8), ch(0, 0, 5), ch(0, 0, 6), ch(0, 0, 5)}, 8, 0x60}, // 36
    {fmt(70), "D16_LOCKABLE", {0, ch(0, 0, 16), 0, 0}, 16, 0x2}, // 37
    {fmt(71), "D32", {0, ch(0, 0, 32), 0, 0}, 32, 0x6}, // 38
    {fmt(73), "D15S1", {ch(0, 0, 1), ch(0, 0, 15), 0, 0}, 16, 0x6}, // 39
    {fmt(75), "D24S8", {ch(0, 0, 8), ch(0, 0, 24), 0, 0}, 32, 0x6}, // 40
    {fmt(77), "D24X8", {0, ch(0, 0, 24), 0, 0}, 32, 0x6}, // 41
    {fmt(79), "D24X4S4", {ch(0, 0, 4), ch(0, 0, 24), 0, 0}, 32, 0x6}, // 42
    {fmt(80), "D16", {0, ch(0, 0, 16), 0, 0}, 16, 0x6}, // 43
    {fmt(82), "D32F_LOCKABLE", {0, ch(2, 0, 32), 0, 0}, 32, 0x2}, // 44
    {fmt(83), "D24FS8", {ch(0, 0, 8), ch(2, 0, 24), 0, 0}, 32, 0x6}, // 45
    {fmt(81), "L16", {0, ch(0, 0, 16), 0, 0}, 16, 0x0}, // 46
    {fmt(110), "Q16W16V16U16", {ch(1, 0, 16), ch(1, 0, 16), ch(1, 0, 16), ch(1, 0, 16)}, 64, 0x0}, // 47
    {fmt(fourCC("MET1")), "MULTI2_ARGB8", {ch(0, 2, 8), ch(0, 2, 8), 0, 0}, 64, 0xc}, // 48
    {fmt(fourCC("NVE0")), "MET_4_4_4_4_NV", {ch(0, 2, 8), ch(0, 2, 8), ch(0, 2, 8), ch(0, 2, 8)}, 128, 0xc}, // 49
    {fmt(fourCC("NVE1")), "MET_4_4_4_2_NV", {ch(0, 2, 8), ch(0, 2, 8), ch(0, 2, 8), ch(2, 1, 16)}, 128, 0xc}, // 50
    {fmt(fourCC("NVE2")), "MET_4_4_4_1_NV", {ch(0, 2, 8), ch(0, 2, 8), ch(0, 2, 8), ch(2, 0, 32)}, 128, 0xc}, // 51
    {fmt(fourCC("NVE3")), "MET_4_4_2_2_NV", {ch(0, 2, 8), ch(0, 2, 8), ch(2, 1, 16), ch(2, 1, 16)}, 128, 0xc}, // 52
    {fmt(fourCC("NVE4")), "MET_4_4_2_1_NV", {ch(0, 2, 8), ch(0, 2, 8), ch(2, 1, 16), ch(2, 0, 32)}, 128, 0xc}, // 53
    {fmt(fourCC("NVE5")), "MET_4_4_1_1_NV", {ch(0, 2, 8), ch(0, 2, 8), ch(2, 0, 32), ch(2, 0, 32)}, 128, 0xc}, // 54
    {fmt(fourCC("NVE6")), "MET_4_2_2_2_NV", {ch(0, 2, 8), ch(2, 1, 16), ch(2, 1, 16), ch(2, 1, 16)}, 128, 0xc}, // 55
    {fmt(fourCC("NVE7")), "MET_4_2_2_1_NV", {ch(0, 2, 8), ch(2, 1, 16), ch(2, 1, 16), ch(2, 0, 32)}, 128, 0xc}, // 56
    {fmt(fourCC("NVE8")), "MET_4_2_1_1_NV", {ch(0, 2, 8), ch(2, 1, 16), ch(2, 0, 32), ch(2, 0, 32)}, 128, 0xc}, // 57
    {fmt(fourCC("NVE9")), "MET_4_1_1_1_NV", {ch(0, 2, 8), ch(2, 0, 32), ch(2, 0, 32), ch(2, 0, 32)}, 128, 0xc}, // 58
    {fmt(fourCC("NVEa")), "MET_2_2_2_2_NV", {ch(2, 1, 16), ch(2, 1, 16), ch(2, 1, 16), ch(2, 1, 16)}, 128, 0xc}, // 59
    {fmt(fourCC("NVEb")), "MET_2_2_2_1_NV", {ch(2, 1, 16), ch(2, 1, 16), ch(2, 1, 16), ch(2, 0, 32)}, 128, 0xc}, // 60
    {fmt(fourCC("NVEc")), "MET_2_2_1_1_NV", {ch(2, 1, 16), ch(2, 1, 16), ch(2, 0, 32), ch(2, 0, 32)}, 128, 0xc}, // 61
    {fmt(fourCC("NVEd")), "MET_2_1_1_1_NV", {ch(2, 1, 16), ch(2, 0, 32), ch(2, 0, 32), ch(2, 0, 32)}, 128, 0xc}, // 62
    {fmt(fourCC("NVEe")), "MET_1_1_1_1_NV", {ch(2, 0, 32), ch(2, 0, 32), ch(2, 0, 32), ch(2, 0, 32)}, 128, 0xc}, // 63
    {fmt(111), "R16F", {0, ch(2, 0, 16), 0, 0}, 16, 0x10}, // 64
    {fmt(112), "G16R16F", {0, ch(2, 0, 16), ch(2, 0, 16), 0}, 32, 0x10}, // 65
    {fmt(113), "A16B16G16R16F", {ch(2, 0, 16), ch(2, 0, 16), ch(2, 0, 16), ch(2, 0, 16)}, 64, 0x10}, // 66
    {fmt(114), "R32F", {0, ch(2, 0, 32), 0, 0}, 32, 0x10}, // 67
    {fmt(115), "G32R32F", {0, ch(2, 0, 32), ch(2, 0, 32), 0}, 64, 0x10}, // 68
    {fmt(116), "A32B32G32R32F", {ch(2, 0, 32), ch(2, 0, 32), ch(2, 0, 32), ch(2, 0, 32)}, 128, 0x10}, // 69
    {fmt(117), "CxV8U8", {0, ch(1, 0, 8), ch(1, 0, 8), ch(1, 0, 8)}, 16, 0x120}, // 70
};

const u32 formatTableCount = sizeof(formatTable) / sizeof(formatTable[0]);
static_assert(sizeof(formatTable) / sizeof(formatTable[0]) == 71, "the format table has 71 rows");

const D3DFORMAT displayFormats[kDisplayFormatCount] = {fmt(21), fmt(22), fmt(23), fmt(24), fmt(25), fmt(35)};

const char* const displayFormatNames[kDisplayFormatCount] = {
    formatTable[1].name, formatTable[2].name, formatTable[3].name,
    formatTable[4].name, formatTable[5].name, formatTable[15].name,
};

const FormatDesc* findFormatDesc(D3DFORMAT format)
{
    for (u32 i = 0; i < formatTableCount; ++i)
        if (formatTable[i].format == format)
            return &formatTable[i];
    return nullptr;
}

int displayFormatIndex(D3DFORMAT format)
{
    for (int i = 0; i < kDisplayFormatCount; ++i)
        if (displayFormats[i] == format)
            return i;
    return -1;
}

void FormatRequest::avoidFlag(u32 flag)
{
    allowed |= flag;
    m_preferredFlags.push_back(static_cast<i32>(~flag));
}

i64 FormatRequest::score(const FormatDesc& row) const
{
    if ((row.flags & required) != required || (row.flags & ~allowed) != 0)
        return -1;

    for (int c = 0; c < 4; ++c) {
        const u32 word = row.channels[c];
        if (channelKind(word) < channelKind(min[c]) || channelKind(word) > channelKind(max[c]))
            return -1;
        if (channelShift(word) < channelShift(min[c]) || channelShift(word) > channelShift(max[c]))
            return -1;
        if (channelBits(word) < channelBits(min[c]) || channelBits(word) > channelBits(max[c]))
            return -1;
    }

    i64 v = 0;
    for (int c = 0; c < 4; ++c) {
        const u32 bits = std::min(channelBits(row.channels[c]), channelBits(pref[c]));
        // Row shifts are at most 2, so the shifted size stays small whatever
        // the request asks.
        const u32 shift = std::min(channelShift(row.channels[c]), channelShift(pref[c]));
        v += i64(bits) << shift;
    }

    int floatMatches = 0;
    int signedMatches = 0;
    for (int c = 0; c < 4; ++c) {
        const u32 rowKind = channelKind(row.channels[c]);
        const u32 prefKind = channelKind(pref[c]);
        floatMatches += (rowKind == kChannelFloat) == (prefKind == kChannelFloat);
        signedMatches += (rowKind == kChannelSigned) == (prefKind == kChannelSigned);
    }
    v = v * 8 + floatMatches;
    v = v * 8 + signedMatches;
    v = (v + 1) * 32 - (row.bitsPerPixel >> 2);

    ENGINE_ASSERT(m_preferredFlags.size() <= kMaxPreferences && "duplicated preference flags?");
    const size_t counted = std::min(m_preferredFlags.size(), kMaxPreferences);
    for (size_t i = 0; i < counted; ++i) {
        const i32 entry = m_preferredFlags[i];
        bool met;
        if (entry >= 0)
            met = (row.flags & u32(entry)) == u32(entry);
        else
            met = (row.flags & ~u32(entry)) != ~u32(entry);
        v = v * 2 + (met ? 1 : 0);
    }
    return v;
}

const FormatDesc* FormatRequest::findBest(const FormatList& candidates) const
{
    const FormatDesc* best = nullptr;
    i64 bestScore = -1;
    for (const FormatDesc* row : candidates) {
        if (!row)
            continue;
        const i64 s = score(*row);
        if (s > bestScore) {
            bestScore = s;
            best = row;
        }
    }
    return best;
}

FormatRequest depthRequest(u32 stencilBits, u32 depthBits)
{
    FormatRequest request;
    request.min[1] = channelWord(kChannelUnsigned, 0, 15);
    if (stencilBits)
        request.pref[0] = channelWord(kChannelUnsigned, 0, stencilBits);
    request.pref[1] = channelWord(kChannelFloat, 0, depthBits);
    for (u32& word : request.max)
        word = channelWord(kChannelFloat, 2, 32);
    request.required = kFormatDepth;
    request.allowed = kFormatDisplay | kFormatDepth | kFormatNotLockable;
    request.m_preferredFlags.push_back(kFormatNotLockable);
    return request;
}

FormatRequest depthStencilRequest()
{
    return depthRequest(8, 24);
}
