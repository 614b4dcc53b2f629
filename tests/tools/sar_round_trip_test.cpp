// Archives built by the writer, read back by the engine's SarArchive: every
// entry type over data that exercises the coder's edges (empty streams, long
// runs, the model's halving, all byte values, incompressible data).
#include "foundation/resource_stream.h"
#include "foundation/sar_archive.h"
#include "tools/sarpack/sar_writer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// An archive in memory, mounted the way the demo mounts its archives: over a
// resource of the executable.
class MountedArchive {
public:
    explicit MountedArchive(std::vector<u8> archiveBytes)
        : bytes(std::move(archiveBytes))
    {
        platform::registerResource("SARFILE", kId, bytes.data(), bytes.size());
        stream = std::make_unique<ResourceStream>("SARFILE", kId, "memory.sar");
        archive = std::make_unique<SarArchive>(*stream);
        mounted = archive->mount("memory.sar");
    }
    ~MountedArchive()
    {
        archive.reset();
        stream.reset();
        platform::unregisterResource("SARFILE", MAKEINTRESOURCEA(kId));
    }

    // The entry's bytes read in pieces of `piece`, or false when it does not open.
    bool read(const char* name, std::vector<u8>& out, u32 piece = 0x10000)
    {
        out.clear();
        if (!archive->open(name))
            return false;
        const u32 size = archive->size;
        std::vector<u8> chunk(piece);
        for (;;) {
            const u32 got = archive->read(chunk.data(), piece);
            if (!got)
                break;
            out.insert(out.end(), chunk.begin(), chunk.begin() + got);
        }
        return out.size() == size;
    }

    std::vector<u8> bytes;
    std::unique_ptr<ResourceStream> stream;
    std::unique_ptr<SarArchive> archive;
    bool mounted = false;

private:
    static constexpr u16 kId = 901;
};

std::vector<u8> randomBytes(size_t n, u32 seed, u32 alphabet = 256)
{
    std::mt19937 rng(seed);
    std::vector<u8> out(n);
    for (u8& b : out)
        b = (u8)(rng() % alphabet);
    return out;
}

std::vector<u8> text(size_t n, u32 seed)
{
    static const char* const words[] = {"scene", "light", "camera", "the", "of", "envelope",
                                        "0.250000", "ObjectMotion", "{", "}", "1", "Quillon"};
    std::mt19937 rng(seed);
    std::vector<u8> out;
    while (out.size() < n) {
        const std::string w = words[rng() % 12];
        out.insert(out.end(), w.begin(), w.end());
        out.push_back(rng() % 9 == 0 ? '\n' : ' ');
    }
    out.resize(n);
    return out;
}

struct Case {
    std::string name;
    std::vector<u8> data;
};

std::vector<Case> edgeCases()
{
    std::vector<Case> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"one byte", {0x41}});
    cases.push_back({"one zero", {0x00}});
    cases.push_back({"one ff", {0xFF}});
    cases.push_back({"two bytes", {0xFF, 0x00}});
    cases.push_back({"run of 1000", std::vector<u8>(1000, 'a')});
    cases.push_back({"run of 200000 ff", std::vector<u8>(200000, 0xFF)});
    // The model halves after its 16127th update: the last byte before,
    // exactly at and just after it.
    cases.push_back({"16126 random", randomBytes(16126, 1)});
    cases.push_back({"16127 random", randomBytes(16127, 2)});
    cases.push_back({"16128 random", randomBytes(16128, 3)});
    cases.push_back({"16127 text", text(16127, 4)});
    std::vector<u8> all;
    for (int round = 0; round < 3; ++round)
        for (int b = 0; b < 256; ++b)
            all.push_back((u8)(round == 1 ? 255 - b : b));
    cases.push_back({"all byte values", all});
    cases.push_back({"random 65536", randomBytes(65536, 5)});
    cases.push_back({"random small alphabet", randomBytes(50000, 6, 3)});
    cases.push_back({"text 200000", text(200000, 7)});
    std::vector<u8> periodic(300000);
    for (size_t i = 0; i < periodic.size(); ++i)
        periodic[i] = (u8)(i % 7 == 0 ? i >> 9 : "ab\0\xff"[i % 4]);
    cases.push_back({"periodic 300000", periodic});
    return cases;
}

} // namespace

TEST(SarRoundTrip, EveryTypeOverEdgeCases)
{
    for (u8 type = 0; type < 4; ++type) {
        for (const Case& c : edgeCases()) {
            SCOPED_TRACE(c.name + ", type " + std::to_string(type));
            SarWriter writer;
            ASSERT_TRUE(writer.add("entry.bin", c.data, type)) << writer.error();
            MountedArchive m(writer.build());
            ASSERT_TRUE(m.mounted);
            std::vector<u8> back;
            ASSERT_TRUE(m.read("entry.bin", back));
            ASSERT_EQ(back.size(), c.data.size());
            ASSERT_TRUE(back == c.data);
        }
    }
}

TEST(SarRoundTrip, ManyRandomSizesAndAlphabets)
{
    std::mt19937 rng(11);
    SarWriter writer;
    std::vector<std::vector<u8>> data;
    for (int i = 0; i < 120; ++i) {
        const size_t n = i < 40 ? (size_t)i : rng() % 20000;
        data.push_back(randomBytes(n, 100 + i, 1 + rng() % 256));
        ASSERT_TRUE(writer.add("f" + std::to_string(i), data.back()));
    }
    MountedArchive m(writer.build());
    ASSERT_TRUE(m.mounted);
    for (int i = 0; i < 120; ++i) {
        std::vector<u8> back;
        ASSERT_TRUE(m.read(("f" + std::to_string(i)).c_str(), back)) << i;
        ASSERT_TRUE(back == data[i]) << "entry " << i << " of " << data[i].size() << " bytes";
    }
}

TEST(SarRoundTrip, LongTextAndBinary)
{
    // Larger than a single suffix-sort block of anything small, and long
    // enough for the model to halve many times.
    const std::vector<u8> words = text(1 << 20, 21);
    std::vector<u8> binary(1 << 20);
    std::mt19937 rng(22);
    for (size_t i = 0; i < binary.size(); i += 4) {
        const u32 v = (i / 4) % 97 == 0 ? rng() : (u32)(i * 3);
        for (int k = 0; k < 4; ++k)
            binary[i + k] = (u8)(v >> (8 * k));
    }
    SarWriter writer;
    ASSERT_TRUE(writer.add("words.txt", words));
    ASSERT_TRUE(writer.add("data.bin", binary));
    MountedArchive m(writer.build());
    ASSERT_TRUE(m.mounted);
    std::vector<u8> back;
    ASSERT_TRUE(m.read("data.bin", back));
    EXPECT_TRUE(back == binary);
    ASSERT_TRUE(m.read("words.txt", back));
    EXPECT_TRUE(back == words);
}

TEST(SarRoundTrip, SeveralEntriesInAnyOrder)
{
    const std::vector<Case> cases = edgeCases();
    SarWriter writer;
    for (size_t i = 0; i < cases.size(); ++i)
        ASSERT_TRUE(writer.add("dir/" + std::to_string(i) + ".dat", cases[i].data, (u8)(i % 4)));
    MountedArchive m(writer.build());
    ASSERT_TRUE(m.mounted);
    EXPECT_EQ(m.archive->count, (int)cases.size());
    for (size_t k = 0; k < 2 * cases.size(); ++k) {
        const size_t i = cases.size() - 1 - k % cases.size();
        SCOPED_TRACE(cases[i].name);
        std::vector<u8> back;
        // odd pieces: the reader must hand the bytes out in order
        ASSERT_TRUE(m.read(("DIR\\" + std::to_string(i) + ".DAT").c_str(), back, 7 + (u32)k));
        ASSERT_TRUE(back == cases[i].data);
    }
}

TEST(SarRoundTrip, NamesAreStoredWithBackslashes)
{
    SarWriter writer;
    ASSERT_TRUE(writer.add("images/logo.jpg", std::vector<u8>{1, 2, 3}));
    MountedArchive m(writer.build());
    ASSERT_TRUE(m.mounted);
    ASSERT_EQ(m.archive->count, 1);
    EXPECT_STREQ(m.archive->entries[0].name, "images\\logo.jpg");
    std::vector<u8> back;
    EXPECT_TRUE(m.read("Images/Logo.JPG", back));
    EXPECT_EQ(back, (std::vector<u8>{1, 2, 3}));
}
