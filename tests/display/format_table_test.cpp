#include "display/format_table.h"
#include "foundation/diagnostics.h"

#include "log_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const FormatDesc* row(D3DFORMAT format)
{
    const FormatDesc* r = findFormatDesc(format);
    EXPECT_NE(r, nullptr) << format;
    return r;
}

const FormatDesc* rowNamed(const char* name)
{
    for (u32 i = 0; i < formatTableCount; ++i)
        if (std::strcmp(formatTable[i].name, name) == 0)
            return &formatTable[i];
    ADD_FAILURE() << name;
    return nullptr;
}

using testsupport::LevelGuard;

TEST(FormatTable, RowsDisplayListAndCodes)
{
    ASSERT_EQ(formatTableCount, 71u);
    EXPECT_STREQ(formatTable[0].name, "R8G8B8");
    EXPECT_STREQ(formatTable[70].name, "CxV8U8");

    const D3DFORMAT expected[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,
                                  D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5, D3DFMT_A2R10G10B10};
    const char* names[] = {"A8R8G8B8", "X8R8G8B8", "R5G6B5", "X1R5G5B5", "A1R5G5B5", "A2R10G10B10"};
    for (int i = 0; i < kDisplayFormatCount; ++i) {
        EXPECT_EQ(displayFormats[i], expected[i]);
        EXPECT_STREQ(displayFormatNames[i], names[i]);
        EXPECT_EQ(displayFormatIndex(expected[i]), i);
        EXPECT_EQ(row(expected[i])->flags, u32(kFormatDisplay));
    }
    EXPECT_EQ(displayFormatIndex(D3DFMT_R8G8B8), -1);

    // Four-character codes are their little-endian values.
    EXPECT_EQ(u32(rowNamed("DXT1")->format), u32(MAKEFOURCC('D', 'X', 'T', '1')));
    EXPECT_EQ(u32(rowNamed("R8G8_B8G8")->format), u32(MAKEFOURCC('R', 'G', 'B', 'G')));
    EXPECT_EQ(u32(rowNamed("MULTI2_ARGB8")->format), u32(MAKEFOURCC('M', 'E', 'T', '1')));
    EXPECT_EQ(u32(rowNamed("MET_2_2_2_2_NV")->format), u32(MAKEFOURCC('N', 'V', 'E', 'a')));
    EXPECT_EQ(rowNamed("L16")->format, D3DFMT_L16);
    EXPECT_EQ(rowNamed("Q16W16V16U16")->format, D3DFMT_Q16W16V16U16);

    // Channel words as kind << 16 | shift << 8 | bits.
    EXPECT_EQ(rowNamed("D24FS8")->channels[1], 0x20018u);
    EXPECT_EQ(rowNamed("MET_4_2_2_1_NV")->channels[1], 0x20110u);
    EXPECT_EQ(rowNamed("V8U8")->channels[3], 0x10008u);
}

TEST(FormatTable, FlagGroupsCoverTheirRows)
{
    for (u32 i = 0; i < formatTableCount; ++i) {
        const FormatDesc& r = formatTable[i];
        EXPECT_EQ((r.flags & kFormatDepth) != 0, i >= 37 && i <= 45) << r.name;
        const bool lockableDepth = i == 37 || i == 44;
        const bool multiElement = i >= 48 && i <= 63;
        EXPECT_EQ((r.flags & kFormatNotLockable) != 0, (i >= 37 && i <= 45 && !lockableDepth) || multiElement)
            << r.name;
        EXPECT_EQ((r.flags & kFormatMultiElement) != 0, i >= 48 && i <= 63) << r.name;
        EXPECT_EQ((r.flags & kFormatDisplay) != 0, displayFormatIndex(r.format) >= 0) << r.name;
        EXPECT_EQ(findFormatDesc(r.format), &r) << "formats are unique: " << r.name;
    }
    EXPECT_EQ(rowNamed("DXT4")->flags, 0x860u);
    EXPECT_EQ(rowNamed("A8P8")->flags, 0xa0u);
    EXPECT_EQ(rowNamed("CxV8U8")->flags, 0x120u);
}

TEST(FormatRequest, DepthRequestPrefersStencilAndFloatDepth)
{
    const FormatRequest request = depthStencilRequest();
    const FormatDesc* d16 = row(D3DFMT_D16);
    const FormatDesc* d24x8 = row(D3DFMT_D24X8);
    const FormatDesc* d24s8 = row(D3DFMT_D24S8);

    EXPECT_EQ(request.findBest({d16, d24x8, d24s8}), d24s8);
    EXPECT_EQ(request.findBest({d24s8, d16, d24x8}), d24s8);
    EXPECT_EQ(request.findBest({d16, d24x8}), d24x8);
    // Float depth matches the preferred kind.
    EXPECT_EQ(request.findBest({d24s8, row(D3DFMT_D24FS8)}), row(D3DFMT_D24FS8));

    // size 8 + 24, 3 float matches, 4 signed matches, 32 bits, preference met.
    EXPECT_EQ(request.score(*d24s8), ((((32 * 8 + 3) * 8 + 4) + 1) * 32 - 8) * 2 + 1);
}

TEST(FormatRequest, PreferenceIsNotARequirement)
{
    const FormatRequest request = depthStencilRequest();
    const FormatDesc* lockable = row(D3DFMT_D16_LOCKABLE);
    EXPECT_EQ(request.findBest({lockable}), lockable);
    // Among equal sizes the non-lockable row wins on the preference.
    EXPECT_EQ(request.findBest({lockable, row(D3DFMT_D16)}), row(D3DFMT_D16));
    // Depth rows only; a colour row fails the required flag.
    EXPECT_EQ(request.score(*row(D3DFMT_X8R8G8B8)), -1);
    EXPECT_EQ(request.findBest({row(D3DFMT_X8R8G8B8), row(D3DFMT_A8R8G8B8)}), nullptr);
    EXPECT_EQ(request.findBest({}), nullptr);
}

TEST(FormatRequest, AllowedMaskAndChannelRanges)
{
    const FormatDesc* multi = rowNamed("MULTI2_ARGB8"); // flags 0xc
    FormatRequest request;
    for (u32& word : request.max)
        word = channelWord(kChannelFloat, 2, 32);
    request.allowed = kFormatNotLockable;
    EXPECT_EQ(request.score(*multi), -1);
    request.allowed |= kFormatMultiElement;
    EXPECT_GE(request.score(*multi), 0);

    // Shift above the maximum fails, as does a depth below the minimum.
    request.max[0] = channelWord(kChannelFloat, 1, 32);
    EXPECT_EQ(request.score(*multi), -1);

    FormatRequest depth = depthStencilRequest();
    depth.min[1] = channelWord(kChannelUnsigned, 0, 17);
    EXPECT_EQ(depth.score(*row(D3DFMT_D16)), -1);
    EXPECT_GE(depth.score(*row(D3DFMT_D24X8)), 0);
    // Kind is compared too: integer-only depth refuses float depth.
    depth.max[1] = channelWord(kChannelUnsigned, 0, 32);
    EXPECT_EQ(depth.score(*row(D3DFMT_D24FS8)), -1);
}

TEST(FormatRequest, SizeOutranksPreferencesAsComputed)
{
    // An image texture: one alpha bit, 5-bit colour, special formats avoided.
    FormatRequest request;
    request.pref[0] = channelWord(kChannelUnsigned, 0, 1);
    for (int c = 1; c < 4; ++c)
        request.pref[c] = channelWord(kChannelUnsigned, 0, 5);
    for (u32& word : request.max)
        word = channelWord(kChannelFloat, 2, 32);
    request.allowed = kFormatDisplay;
    request.avoidFlag(kFormatSpecial);
    EXPECT_EQ(request.allowed, u32(kFormatDisplay | kFormatSpecial));
    ASSERT_EQ(request.m_preferredFlags.size(), 1u);
    EXPECT_EQ(request.m_preferredFlags[0], ~i32(kFormatSpecial));

    // The same size term, and DXT1's 4 bits a pixel beat A1R5G5B5's 16
    // although DXT1 carries the avoided flag.
    const FormatDesc* a1r5g5b5 = row(D3DFMT_A1R5G5B5);
    const FormatDesc* dxt1 = rowNamed("DXT1");
    EXPECT_EQ(request.findBest({a1r5g5b5, dxt1}), dxt1);
    // With equal scores the earlier row wins: two rows the request scores
    // alike, in both orders.
    const FormatDesc* x1r5g5b5 = row(D3DFMT_X1R5G5B5);
    const FormatDesc* twin = row(D3DFMT_R5G6B5);
    ASSERT_EQ(request.score(*twin), request.score(*x1r5g5b5));
    EXPECT_EQ(request.findBest({x1r5g5b5, twin}), x1r5g5b5);
    EXPECT_EQ(request.findBest({twin, x1r5g5b5}), twin);
}

TEST(FormatRequest, OnlyTwelvePreferencesCount)
{
    LevelGuard guard;
    diagnosticsLevel = 0;
    const FormatDesc* lockable = row(D3DFMT_D16_LOCKABLE);
    const FormatDesc* d16 = row(D3DFMT_D16);
    FormatRequest request = depthStencilRequest();
    // Eleven entries both rows meet, then the non-lockable preference as
    // the twelfth: it still decides.
    request.m_preferredFlags.assign(11, kFormatDepth);
    request.m_preferredFlags.push_back(kFormatNotLockable);
    EXPECT_EQ(request.findBest({lockable, d16}), d16);

    // As the thirteenth it no longer counts: equal scores, the first wins.
    request.m_preferredFlags.assign(12, kFormatDepth);
    request.m_preferredFlags.push_back(kFormatNotLockable);
    platform::clearRecordedMessageBoxes();
    EXPECT_EQ(request.findBest({lockable, d16}), lockable);
    EXPECT_EQ(request.score(*lockable), request.score(*d16));
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());

    diagnosticsLevel = 3;
    request.score(*d16);
    ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
    EXPECT_EQ(platform::recordedMessageBoxes()[0].text, "duplicated preference flags?");
    EXPECT_EQ(platform::recordedMessageBoxes()[0].caption, "Assertion failed");
    platform::clearRecordedMessageBoxes();
}

} // namespace
