// The writer's stages against fixed vectors: they must emit exactly the bytes
// the engine's decoders were checked against, not merely something that
// round-trips through them.
#include "tools/sarpack/bwt_encoder.h"
#include "tools/sarpack/mtf_encoder.h"
#include "tools/sarpack/range_encoder.h"
#include "tools/sarpack/sar_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<u8> bytesOf(const std::string& s)
{
    return std::vector<u8>(s.begin(), s.end());
}

std::vector<u8> hex(const char* text)
{
    std::vector<u8> out;
    for (const char* p = text; p[0] && p[1];) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back((u8)std::stoi(std::string(p, 2), nullptr, 16));
        p += 2;
    }
    return out;
}

std::vector<u8> mtf(const std::vector<u8>& in)
{
    std::vector<u8> out(in.size());
    MtfEncoder::encode(in.data(), in.size(), out.data());
    return out;
}

std::vector<u8> rangeCoded(const std::vector<u8>& in)
{
    std::vector<u8> out;
    RangeEncoder::pack(in.data(), in.size(), out);
    return out;
}

u32 u32At(const std::vector<u8>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((u32)b[at + 3] << 24);
}

struct Vector {
    const char* text;
    const char* lastColumn;
    u32 primaryIndex;
    std::vector<u8> mtf;
    const char* coded;
};

const Vector kVectors[] = {
    {"banana", "annbaa", 4, {97, 110, 0, 99, 2, 0}, "00 61 0d 16 a1 39 f2 ec 2c 94"},
    {"abracadabra", "ardrcaaaabb", 3, {97, 114, 101, 1, 101, 3, 0, 0, 0, 101, 1},
     "00 61 11 6e 02 f9 98 bd 2a 04 0f 5b b3 f7 44"},
};

} // namespace

TEST(SarEncoderStages, MatchTheReferenceVectors)
{
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.text);
        const std::vector<u8> text = bytesOf(v.text);
        std::vector<u8> lastColumn(text.size());
        u32 primary = 0;
        ASSERT_TRUE(bwtEncode(text.data(), text.size(), lastColumn.data(), primary));
        EXPECT_EQ(lastColumn, bytesOf(v.lastColumn));
        EXPECT_EQ(primary, v.primaryIndex);
        EXPECT_EQ(mtf(lastColumn), v.mtf);
        EXPECT_EQ(rangeCoded(v.mtf), hex(v.coded));
    }
}

TEST(SarEncoderStages, BwtOfTinyInputs)
{
    u32 primary = 99;
    EXPECT_TRUE(bwtEncode(nullptr, 0, nullptr, primary));
    EXPECT_EQ(primary, 0u);
    const u8 one = 'x';
    u8 out = 0;
    ASSERT_TRUE(bwtEncode(&one, 1, &out, primary));
    EXPECT_EQ(out, 'x');
    EXPECT_EQ(primary, 1u);
}

// The decoder moves a symbol found at 0 or 1 only to position 1 when the
// previous index was 0 or 1; the encoder must track that table exactly.
TEST(SarEncoderStages, MoveToFrontFollowsTheDecodersTable)
{
    EXPECT_EQ(mtf({1, 0}), (std::vector<u8>{1, 1}));
    EXPECT_EQ(mtf({2, 1}), (std::vector<u8>{2, 2}));
    EXPECT_EQ(mtf({0, 2, 1}), (std::vector<u8>{0, 2, 2}));
    // after index 2 that followed an index 0, symbol 2 sits at position 1
    EXPECT_EQ(mtf({0, 2, 2}), (std::vector<u8>{0, 2, 1}));
    // 7 follows an index 0, so it lands at position 1 and a second 7 swaps it forward
    EXPECT_EQ(mtf({5, 5, 7, 7, 5}), (std::vector<u8>{5, 0, 7, 1, 1}));
    EXPECT_TRUE(mtf({}).empty());
}

TEST(SarEncoderStages, EmptyStreamIsTheEndSymbolAlone)
{
    EXPECT_EQ(rangeCoded({}), hex("00 ff 00 fe 00"));
}

TEST(SarWriter, ReproducesTheReferenceArchive)
{
    SarWriter writer;
    ASSERT_TRUE(writer.add("scene.scr", bytesOf("0 stopdemo\n")));
    const std::vector<u8> expected = hex("53415243 02000000 01000000 09 7363656e652e736372 03 "
                                         "00000000 0f000000 0b000000 "
                                         "000a64ee3cd184f136e7515b01e77a 03000000");
    ASSERT_EQ(expected.size(), 54u);
    EXPECT_EQ(writer.build(), expected);
}

TEST(SarWriter, EmptyArchiveIsTheHeaderAlone)
{
    EXPECT_EQ(SarWriter().build(), hex("53415243 02000000 00000000"));
}

TEST(SarWriter, LaysEntriesBackToBackInTheOrderGiven)
{
    SarWriter writer;
    const std::vector<u8> raw = bytesOf("stored as is");
    ASSERT_TRUE(writer.add("b/raw.txt", raw, 0));
    ASSERT_TRUE(writer.add("a.bin", raw, 1));
    ASSERT_TRUE(writer.add("c", raw, 2));
    ASSERT_TRUE(writer.add("d", raw, 3));
    const std::vector<u8> a = writer.build();

    ASSERT_EQ(u32At(a, 8), 4u);
    size_t at = 12;
    u32 expectedOffset = 0;
    const u32 dataStart = 12 + (14 + 9) + (14 + 5) + (14 + 1) + (14 + 1);
    const char* names[] = {"b\\raw.txt", "a.bin", "c", "d"};
    for (u8 type = 0; type < 4; ++type) {
        SCOPED_TRACE(names[type]);
        const u8 len = a[at];
        ASSERT_EQ(std::string((const char*)&a[at + 1], len), names[type]);
        at += 1 + len;
        EXPECT_EQ(a[at], type);
        const u32 offset = u32At(a, at + 1);
        const u32 packed = u32At(a, at + 5);
        EXPECT_EQ(u32At(a, at + 9), raw.size());
        EXPECT_EQ(offset, expectedOffset);
        if (type == 0) {
            EXPECT_EQ(std::vector<u8>(a.begin() + dataStart + offset, a.begin() + dataStart + offset + packed), raw);
        }
        if (type == 2) {
            EXPECT_EQ(packed, raw.size()); // the move-to-front stage keeps the length
        }
        expectedOffset += packed + ((type & 2) ? 4 : 0);
        at += 13;
    }
    EXPECT_EQ(at, dataStart);
    // the file ends with the last entry's primary index
    EXPECT_EQ(a.size(), dataStart + expectedOffset);
}

TEST(SarWriter, OutputDependsOnlyOnTheInput)
{
    std::vector<u8> data(70000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (u8)((i * 2654435761u) >> 13);
    SarWriter first, second;
    ASSERT_TRUE(first.add("x", data));
    ASSERT_TRUE(second.add("x", data));
    EXPECT_EQ(first.build(), second.build());
}

TEST(SarWriter, RefusesNamesTheReaderCannotHold)
{
    SarWriter writer;
    const std::vector<u8> data = bytesOf("x");
    EXPECT_TRUE(writer.add(std::string(253, 'a'), data));
    EXPECT_FALSE(writer.add(std::string(254, 'b'), data));
    EXPECT_NE(writer.error().find("253"), std::string::npos);
    EXPECT_FALSE(writer.add("", data));
    EXPECT_FALSE(writer.add("caf\xc3\xa9.txt", data));
    EXPECT_NE(writer.error().find("ASCII"), std::string::npos);
    EXPECT_FALSE(writer.add(std::string("tab\there"), data));
    EXPECT_EQ(writer.count(), 1u);
    EXPECT_EQ(writer.build()[12], 253); // the first name's length byte
}

TEST(SarWriter, RefusesNamesTheReaderWouldShadow)
{
    SarWriter writer;
    const std::vector<u8> data = bytesOf("x");
    ASSERT_TRUE(writer.add("Images/Logo.jpg", data));
    EXPECT_FALSE(writer.add("images\\logo.JPG", data));
    EXPECT_NE(writer.error().find("duplicate"), std::string::npos);
    EXPECT_TRUE(writer.add("images/logo.jpg2", data));
}

TEST(SarWriter, RefusesUnknownTypes)
{
    SarWriter writer;
    EXPECT_FALSE(writer.add("x", bytesOf("x"), 4));
    EXPECT_EQ(writer.count(), 0u);
}
