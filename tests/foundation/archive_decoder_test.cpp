#include "foundation/archive_reference.h"
#include "foundation/byte_buffer.h"
#include "foundation/frequency_model.h"
#include "foundation/inverse_bwt.h"
#include "foundation/mtf_decoder.h"
#include "foundation/range_decoder.h"
#include "tools/sarpack/bwt_encoder.h"
#include "tools/sarpack/mtf_encoder.h"
#include "tools/sarpack/range_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<u8>;

Bytes bytesOf(const char* text)
{
    return Bytes(text, text + std::strlen(text));
}

String stringOf(const Bytes& b)
{
    String s;
    s.resize((u32)b.size());
    if (!b.empty())
        std::memcpy(s.data, b.data(), b.size());
    return s;
}

Bytes bytesOf(const String& s)
{
    return s.data ? Bytes(s.data, s.data + s.size) : Bytes();
}

// ---- References: foundation/archive_reference.h ---------------------------

using namespace archive_reference;

// ---- The archive writer's stages, to make streams to decode ---------------

Bytes rangeEncode(const Bytes& symbols)
{
    Bytes out;
    RangeEncoder::pack(symbols.data(), symbols.size(), out);
    return out;
}

Bytes mtfEncode(const Bytes& in)
{
    Bytes out(in.size());
    MtfEncoder::encode(in.data(), in.size(), out.data());
    return out;
}

Bytes bwtEncode(const Bytes& s, i32& P)
{
    Bytes L(s.size());
    u32 primary = 0;
    EXPECT_TRUE(::bwtEncode(s.data(), s.size(), L.data(), primary));
    P = (i32)primary;
    return L;
}

struct Decoded {
    Bytes out;
    bool ok;
    u32 consumed;
};

Decoded rangeDecode(const Bytes& coded, u32 maxSize = 0xFFFFFFFFu)
{
    ByteBuffer src;
    src.bytes = stringOf(coded);
    ByteBuffer sink;
    RangeDecoder d;
    const bool ok = d.decode(src, sink, maxSize);
    EXPECT_EQ(sink.pos, 0u);
    EXPECT_EQ(d.source, nullptr);
    return {bytesOf(sink.bytes), ok, src.pos};
}

Bytes mtfDecode(const Bytes& in)
{
    MtfDecoder d;
    String out;
    d.decode(stringOf(in), out);
    return bytesOf(out);
}

std::optional<Bytes> inverse(const Bytes& L, i32 P)
{
    String out("junk");
    if (!inverseBwt(stringOf(L), P, out)) {
        EXPECT_EQ(out.size, 0u);
        return std::nullopt;
    }
    return bytesOf(out);
}

// Text-like data: words of a small vocabulary, some runs, some noise.
Bytes sampleData(u32 n, u32 seed)
{
    std::mt19937 rng(seed);
    static const char* words[] = {"the ", "archive ", "entry ", "scene ", "light ", "\n", "0 ", "camera "};
    Bytes out;
    while (out.size() < n) {
        const u32 kind = rng() % 16;
        if (kind < 12) {
            const char* w = words[rng() % 8];
            out.insert(out.end(), w, w + std::strlen(w));
        } else if (kind < 14) {
            out.insert(out.end(), rng() % 40, (u8)(rng() % 256));
        } else {
            out.push_back((u8)(rng() % 256));
        }
    }
    out.resize(n);
    return out;
}

Bytes randomBytes(u32 n, u32 seed, u32 alphabet = 256)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (u8& b : out)
        b = (u8)(rng() % alphabet);
    return out;
}

} // namespace

// ---- Vectors --------------------------------------------------------------

TEST(ArchiveDecoder, BananaDecodesThroughAllThreeStages)
{
    const Bytes coded = {0x00, 0x61, 0x0d, 0x16, 0xa1, 0x39, 0xf2, 0xec, 0x2c, 0x94};
    const Decoded mtf = rangeDecode(coded);
    ASSERT_TRUE(mtf.ok);
    EXPECT_EQ(mtf.out, (Bytes{97, 110, 0, 99, 2, 0}));
    const Bytes L = mtfDecode(mtf.out);
    EXPECT_EQ(L, bytesOf("annbaa"));
    EXPECT_EQ(inverse(L, 4), bytesOf("banana"));
}

TEST(ArchiveDecoder, AbracadabraDecodesThroughAllThreeStages)
{
    const Bytes coded = {0x00, 0x61, 0x11, 0x6e, 0x02, 0xf9, 0x98, 0xbd, 0x2a, 0x04, 0x0f, 0x5b, 0xb3, 0xf7, 0x44};
    const Decoded mtf = rangeDecode(coded);
    ASSERT_TRUE(mtf.ok);
    EXPECT_EQ(mtf.out, (Bytes{97, 114, 101, 1, 101, 3, 0, 0, 0, 101, 1}));
    const Bytes L = mtfDecode(mtf.out);
    EXPECT_EQ(L, bytesOf("ardrcaaaabb"));
    EXPECT_EQ(inverse(L, 3), bytesOf("abracadabra"));
}

TEST(ArchiveDecoder, TheWriterHereReproducesTheVectors)
{
    // The in-test writer is what the round trips below rely on.
    i32 P = 0;
    const Bytes L = bwtEncode(bytesOf("banana"), P);
    EXPECT_EQ(L, bytesOf("annbaa"));
    EXPECT_EQ(P, 4);
    EXPECT_EQ(mtfEncode(L), (Bytes{97, 110, 0, 99, 2, 0}));
    EXPECT_EQ(rangeEncode(mtfEncode(L)), (Bytes{0x00, 0x61, 0x0d, 0x16, 0xa1, 0x39, 0xf2, 0xec, 0x2c, 0x94}));
    EXPECT_EQ(bwtEncode(bytesOf("abracadabra"), P), bytesOf("ardrcaaaabb"));
    EXPECT_EQ(P, 3);
}

// ---- Range decoder --------------------------------------------------------

TEST(RangeDecoder, EndSymbolFirstGivesAnEmptySink)
{
    ByteBuffer src;
    src.bytes = stringOf({0x00, 0xff, 0x00, 0xfe, 0x00});
    ByteBuffer sink;
    sink.bytes = String("leftover");
    RangeDecoder d;
    ASSERT_TRUE(d.decode(src, sink));
    EXPECT_EQ(sink.bytes.size, 0u);
    EXPECT_EQ(sink.pos, 0u);
    EXPECT_EQ(rangeEncode({}), (Bytes{0x00, 0xff, 0x00, 0xfe, 0x00}));
}

TEST(RangeDecoder, MissingSourceThrows)
{
    RangeDecoder d;
    ByteBuffer sink;
    try {
        d.decode(nullptr, sink);
        FAIL() << "no exception";
    } catch (const RangeDecoder::Error& e) {
        EXPECT_STREQ(e.what(), "invalid source stream");
    }
    // It is a runtime_error for callers that catch those.
    EXPECT_THROW(d.decode(nullptr, sink, 10), std::runtime_error);
}

TEST(RangeDecoder, RoundTripsAcrossTheHalvingOfTheModel)
{
    // The 16127th byte's update brings the total to 16384 and halves it.
    for (u32 n : {16126u, 16127u, 16128u, 16129u, 40000u}) {
        for (u32 seed : {1u, 2u}) {
            const Bytes data = seed == 1 ? Bytes(n, 7) : randomBytes(n, seed, 3);
            const Bytes coded = rangeEncode(data);
            const Decoded d = rangeDecode(coded);
            ASSERT_TRUE(d.ok) << n;
            ASSERT_EQ(d.out, data) << n;
        }
    }
}

TEST(RangeDecoder, RoundTripsVariedData)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 60; ++round) {
        const u32 n = round < 20 ? (u32)round : rng() % 30000;
        Bytes data;
        switch (round % 4) {
        case 0: data = randomBytes(n, round); break;
        case 1: data = randomBytes(n, round, 2 + round % 7); break;
        case 2: data = mtfEncode(sampleData(n, round)); break;
        default: data = sampleData(n, round); break;
        }
        const Bytes coded = rangeEncode(data);
        const Decoded d = rangeDecode(coded);
        ASSERT_TRUE(d.ok) << round;
        ASSERT_EQ(d.out, data) << round;
        // Trailing 0xFF bytes may be left out: the source supplies them.
        Bytes trimmed = coded;
        while (!trimmed.empty() && trimmed.back() == 0xFF)
            trimmed.pop_back();
        ASSERT_EQ(rangeDecode(trimmed).out, data) << round;
    }
}

TEST(RangeDecoder, MatchesTheReferenceOnArbitraryBytes)
{
    // Damaged streams decode to damaged data, but to the same damaged data,
    // with the same bytes taken and the same state left behind.
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        const u32 n = rng() % 200;
        Bytes src = randomBytes(n, 1000 + round, round % 3 == 0 ? 256 : 1 + round % 5);
        const u32 maxSize = round % 2 ? 0xFFFFFFFFu : rng() % 3000;
        const RefDecode ref = refRangeDecode(src, maxSize == 0xFFFFFFFFu ? 200000 : maxSize);
        ByteBuffer in;
        in.bytes = stringOf(src);
        ByteBuffer sink;
        RangeDecoder d;
        const bool ok = d.decode(in, sink, maxSize == 0xFFFFFFFFu ? 200000 : maxSize);
        ASSERT_EQ(ok, ref.ended) << round;
        ASSERT_EQ(bytesOf(sink.bytes), ref.out) << round;
        ASSERT_EQ(in.pos, ref.consumed) << round;
        ASSERT_EQ(d.low, ref.low) << round;
        ASSERT_EQ(d.range, ref.range) << round;
        ASSERT_EQ(d.help, ref.help) << round;
        ASSERT_EQ(d.buffer, ref.buffer) << round;
        // A stream cannot outrun what it reads by more than the bound.
        ASSERT_LE(sink.bytes.size, RangeDecoder::maxSymbols(in.pos)) << round;
    }
}

TEST(RangeDecoder, AStreamThatNeverEndsStopsAtTheBound)
{
    // Zero bytes keep decoding byte 0 far past their end.
    const Bytes zeros(1000, 0);
    const Decoded d = rangeDecode(zeros, 5000);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.out, Bytes(5000, 0)); // what was decoded stays
    EXPECT_EQ(d.out, refRangeDecode(zeros, 5000).out);
    EXPECT_LE(d.out.size(), RangeDecoder::maxSymbols(d.consumed));
}

TEST(RangeDecoder, BoundOfExactlyTheSizeSucceeds)
{
    const Bytes data = sampleData(5000, 3);
    const Bytes coded = rangeEncode(data);
    EXPECT_TRUE(rangeDecode(coded, 5000).ok);
    const Decoded cut = rangeDecode(coded, 4999);
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.out, Bytes(data.begin(), data.begin() + 4999));
    EXPECT_FALSE(rangeDecode(coded, 0).ok);
    EXPECT_TRUE(rangeDecode(rangeEncode({}), 0).ok);
}

TEST(RangeDecoder, FillsAPresizedSinkAndCutsItToTheDecodedLength)
{
    const Bytes data = sampleData(3000, 4);
    ByteBuffer src;
    src.bytes = stringOf(rangeEncode(data));
    for (u32 presize : {0u, 1u, 100u, 3000u, 10000u}) {
        src.pos = 0;
        ByteBuffer sink;
        sink.bytes.resize(presize);
        RangeDecoder d;
        ASSERT_TRUE(d.decode(src, sink, 3000));
        EXPECT_EQ(bytesOf(sink.bytes), data) << presize;
    }
}

TEST(RangeDecoder, StartsAtTheSourcePosition)
{
    const Bytes data = bytesOf("positioned");
    Bytes src = {1, 2, 3};
    const Bytes coded = rangeEncode(data);
    src.insert(src.end(), coded.begin(), coded.end());
    ByteBuffer in;
    in.bytes = stringOf(src);
    in.pos = 3;
    ByteBuffer sink;
    RangeDecoder d;
    ASSERT_TRUE(d.decode(in, sink));
    EXPECT_EQ(bytesOf(sink.bytes), data);
}

TEST(RangeDecoder, CanRunTheMoveToFrontStageOnTheWay)
{
    for (u32 seed : {1u, 2u, 3u}) {
        const Bytes indices = seed == 3 ? randomBytes(20000, seed) : mtfEncode(sampleData(20000, seed));
        ByteBuffer src;
        src.bytes = stringOf(rangeEncode(indices));
        ByteBuffer sink;
        RangeDecoder d;
        MtfDecoder fused;
        fused.flag = 1;
        fused.table[0] = 9; // both are reset first
        ASSERT_TRUE(d.decode(src, sink, 0xFFFFFFFFu, &fused));
        MtfDecoder separate;
        String expected;
        separate.decode(stringOf(indices), expected);
        ASSERT_EQ(bytesOf(sink.bytes), bytesOf(expected)) << seed;
        EXPECT_EQ(fused.flag, separate.flag);
        EXPECT_EQ(std::memcmp(fused.table, separate.table, 256), 0);
        // A bound cuts the transformed bytes just the same.
        src.pos = 0;
        ASSERT_FALSE(d.decode(src, sink, 777, &fused));
        ASSERT_EQ(bytesOf(sink.bytes), Bytes(expected.data, expected.data + 777));
    }
}

// ---- Move-to-front --------------------------------------------------------

TEST(MtfDecoder, IndexOneAfterOneSwapsBack)
{
    EXPECT_EQ(mtfDecode({1, 1}), (Bytes{1, 0}));
}

TEST(MtfDecoder, IndexAfterABigIndexGoesToTheFront)
{
    MtfDecoder d;
    String out;
    d.decode(stringOf({2}), out);
    EXPECT_EQ(d.table[0], 2);
    EXPECT_EQ(d.table[1], 0);
    EXPECT_EQ(d.table[2], 1);
    EXPECT_EQ(d.flag, 0);
    EXPECT_EQ(mtfDecode({2, 2}), (Bytes{2, 1}));
}

TEST(MtfDecoder, IndexAfterZeroGoesToPositionOne)
{
    MtfDecoder d;
    String out;
    d.decode(stringOf({0, 2}), out);
    EXPECT_EQ(bytesOf(out), (Bytes{0, 2}));
    EXPECT_EQ(d.table[0], 0);
    EXPECT_EQ(d.table[1], 2);
    EXPECT_EQ(d.table[2], 1);
    EXPECT_EQ(mtfDecode({0, 2, 2}), (Bytes{0, 2, 1}));
}

TEST(MtfDecoder, MatchesTheReference)
{
    // Small and large moves, after 0/1 and after bigger indices, runs of 0.
    std::vector<Bytes> inputs = {{}, {255}, {1, 255}, {0, 255, 255, 1, 0, 254}, Bytes(300, 0)};
    for (u32 seed = 0; seed < 40; ++seed) {
        Bytes in = randomBytes(1 + seed * 97, seed, seed % 2 ? 256 : 20);
        for (size_t i = 0; i < in.size(); i += 7)
            in[i] = (u8)(i % 3); // mix in 0s and 1s
        inputs.push_back(in);
    }
    inputs.push_back(mtfEncode(sampleData(20000, 9)));
    for (const Bytes& in : inputs) {
        ASSERT_EQ(mtfDecode(in), refMtf(in)) << in.size();
        String same = stringOf(in); // input and output may be one string
        MtfDecoder d;
        d.decode(same, same);
        ASSERT_EQ(bytesOf(same), refMtf(in));
    }
    const Bytes text = sampleData(20000, 10);
    EXPECT_EQ(mtfDecode(mtfEncode(text)), text);
}

// ---- Inverse Burrows-Wheeler ----------------------------------------------

TEST(InverseBwt, OneByteIsItselfForAnyPrimaryIndex)
{
    for (i32 P : {-2147483647 - 1, -1, 0, 1, 2, 1000, 2147483647})
        EXPECT_EQ(inverse({'q'}, P), Bytes{'q'}) << P;
}

TEST(InverseBwt, EmptyInputGivesEmptyOutput)
{
    EXPECT_EQ(inverse({}, 0), Bytes());
    EXPECT_EQ(inverse({}, 12), Bytes());
}

TEST(InverseBwt, PrimaryIndexLeadingOutOfTheInputFails)
{
    // T = (1, 0) lifted by one: the walk goes 0 -> 2, past the two bytes.
    EXPECT_EQ(inverse(bytesOf("ba"), 2), std::nullopt);
    EXPECT_EQ(inverse(bytesOf("ba"), 5), std::nullopt);
    EXPECT_EQ(refInverseBwt(bytesOf("ba"), 2), std::nullopt);
    // A primary index equal to n is valid when the whole string sorts last.
    i32 P = 0;
    const Bytes L = bwtEncode(bytesOf("zzz"), P);
    EXPECT_EQ(P, 3);
    EXPECT_EQ(inverse(L, P), bytesOf("zzz"));
}

TEST(InverseBwt, RoundTripsValidTransforms)
{
    // Sizes on both sides of where the walk goes parallel.
    std::vector<Bytes> inputs = {bytesOf("b"), bytesOf("ab"), bytesOf("abab"), Bytes(1000, 'a')};
    for (u32 n : {2u, 17u, 1000u, 70000u, 200000u}) {
        inputs.push_back(sampleData(n, n));
        inputs.push_back(randomBytes(n, n + 1));
        inputs.push_back(randomBytes(n, n + 2, 2));
    }
    inputs.push_back(Bytes(70000, 0)); // primary index n: every target lifted
    Bytes periodic(70000);
    for (size_t i = 0; i < periodic.size(); ++i)
        periodic[i] = "abcab"[i % 5];
    inputs.push_back(periodic);
    for (const Bytes& s : inputs) {
        i32 P = 0;
        const Bytes L = bwtEncode(s, P);
        const std::optional<Bytes> out = inverse(L, P);
        ASSERT_TRUE(out.has_value()) << s.size();
        ASSERT_EQ(*out, s) << s.size();
    }
}

TEST(InverseBwt, MatchesTheReferenceOnArbitraryInput)
{
    // Arbitrary bytes and primary indices walk odd cycles and may run out of
    // the input; the result, failure included, is the reference's.
    std::mt19937 rng(21);
    for (int round = 0; round < 80; ++round) {
        const u32 n = round < 40 ? 1 + rng() % 300 : 65536 + rng() % 150000;
        const Bytes L = randomBytes(n, 500 + round, round % 3 ? 256 : 3);
        const i32 choices[] = {0, -1, 1, (i32)(rng() % n), (i32)n - 1, (i32)n, (i32)n + 7, (i32)(rng() % n)};
        const i32 P = choices[round % 8];
        ASSERT_EQ(inverse(L, P), refInverseBwt(L, P)) << round << " n " << n << " P " << P;
    }
}

TEST(InverseBwt, LargeInputsUseSeparateArrays)
{
    // From 2^24 bytes on, target and byte no longer share a word.
    const u32 n = (1u << 24) + 6;
    // a..ab: T[i] = i, lifted everywhere by P = n, so the walk runs 0, 1,
    // ... and would step out only after the last byte.
    Bytes L(n, 'a');
    L[n - 1] = 'b';
    std::optional<Bytes> out = inverse(L, (i32)n);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ((*out)[0], 'b');
    EXPECT_EQ(std::count(out->begin(), out->end(), 'a'), (long)n - 1);
    // (ab)^k transforms to b^k a^k with primary index k.
    const u32 k = n / 2;
    std::fill(L.begin(), L.begin() + k, 'b');
    std::fill(L.begin() + k, L.end(), 'a');
    out = inverse(L, (i32)k);
    ASSERT_TRUE(out.has_value());
    for (u32 i = 0; i < n; ++i)
        ASSERT_EQ((*out)[i], i % 2 ? 'b' : 'a') << i;
}

TEST(InverseBwt, InputAndOutputMayBeOneString)
{
    i32 P = 0;
    const Bytes s = sampleData(70000, 8);
    String buffer = stringOf(bwtEncode(s, P));
    ASSERT_TRUE(inverseBwt(buffer, P, buffer));
    EXPECT_EQ(bytesOf(buffer), s);
}

TEST(ArchiveDecoder, AllStagesRoundTrip)
{
    for (u32 n : {0u, 1u, 5u, 4000u, 90000u}) {
        const Bytes s = sampleData(n, 40 + n);
        i32 P = 0;
        const Bytes L = n ? bwtEncode(s, P) : Bytes();
        const Decoded coded = rangeDecode(rangeEncode(mtfEncode(L)), n);
        ASSERT_TRUE(coded.ok);
        ASSERT_EQ(inverse(mtfDecode(coded.out), P), s) << n;
    }
}
