// Each writer stage against the engine's decoder for it, so that a mismatch
// is pinned to one stage before the whole archive is looked at.
#include "foundation/byte_buffer.h"
#include "foundation/inverse_bwt.h"
#include "foundation/mtf_decoder.h"
#include "foundation/range_decoder.h"
#include "tools/sarpack/bwt_encoder.h"
#include "tools/sarpack/mtf_encoder.h"
#include "tools/sarpack/range_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

String bufferOf(const std::vector<u8>& bytes)
{
    String s;
    s.resize((u32)bytes.size());
    if (!bytes.empty())
        std::memcpy(s.data, bytes.data(), bytes.size());
    return s;
}

std::vector<u8> bytesOf(const String& s)
{
    return s.size ? std::vector<u8>(s.data, s.data + s.size) : std::vector<u8>();
}

std::vector<u8> randomBytes(size_t n, u32 seed, u32 alphabet)
{
    std::mt19937 rng(seed);
    std::vector<u8> out(n);
    for (u8& b : out)
        b = (u8)(rng() % alphabet);
    return out;
}

// Inputs that reach the coder's rare paths: a carry into held bytes, runs of
// held 0xFF bytes, the model's halving, and the last symbol's remainder.
std::vector<std::vector<u8>> samples()
{
    std::vector<std::vector<u8>> out = {{}, {0}, {255}, {1, 0}, std::vector<u8>(16127, 255),
                                        std::vector<u8>(16128, 0), std::vector<u8>(200000, 'a')};
    std::mt19937 rng(3);
    for (int i = 0; i < 300; ++i) {
        const size_t n = i < 50 ? (size_t)i : (i % 30 == 0 ? 200000 : rng() % 40000);
        out.push_back(randomBytes(n, 1000 + i, 1 + rng() % 256));
    }
    return out;
}

} // namespace

TEST(SarStages, RangeCoderRoundTrips)
{
    for (const std::vector<u8>& data : samples()) {
        std::vector<u8> coded;
        RangeEncoder::pack(data.data(), data.size(), coded);
        ByteBuffer source{bufferOf(coded), 0};
        ByteBuffer sink;
        RangeDecoder decoder;
        // bounded by the exact size, as the archive bounds it by the entry's
        ASSERT_TRUE(decoder.decode(source, sink, (u32)data.size())) << data.size() << " bytes";
        ASSERT_TRUE(bytesOf(sink.bytes) == data) << data.size() << " bytes";
        EXPECT_EQ(sink.pos, 0u);
    }
}

// The decoder pads with 0xFF past the end: the coded stream must not rely
// on anything behind it.
TEST(SarStages, RangeCodedStreamIsSelfContained)
{
    const std::vector<u8> data = randomBytes(5000, 9, 40);
    std::vector<u8> coded;
    RangeEncoder::pack(data.data(), data.size(), coded);
    coded.insert(coded.end(), {0x00, 0x12, 0x34, 0x56, 0x78});
    ByteBuffer source{bufferOf(coded), 0};
    ByteBuffer sink;
    RangeDecoder decoder;
    ASSERT_TRUE(decoder.decode(source, sink));
    EXPECT_TRUE(bytesOf(sink.bytes) == data);
}

TEST(SarStages, MoveToFrontRoundTrips)
{
    for (const std::vector<u8>& data : samples()) {
        std::vector<u8> indices(data.size());
        MtfEncoder::encode(data.data(), data.size(), indices.data());
        String back;
        MtfDecoder().decode(bufferOf(indices), back);
        ASSERT_TRUE(bytesOf(back) == data) << data.size() << " bytes";
    }
}

TEST(SarStages, BurrowsWheelerRoundTrips)
{
    for (const std::vector<u8>& data : samples()) {
        std::vector<u8> lastColumn(data.size());
        u32 primary = 0;
        ASSERT_TRUE(bwtEncode(data.data(), data.size(), lastColumn.data(), primary));
        String back;
        ASSERT_TRUE(inverseBwt(bufferOf(lastColumn), (i32)primary, back)) << data.size() << " bytes";
        ASSERT_TRUE(bytesOf(back) == data) << data.size() << " bytes";
    }
}
