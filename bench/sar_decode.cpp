// Decoding speed of a packed archive entry through SarArchive::open against
// libbz2 on the same bytes (block size 9), for text-like and binary-like
// data. Both decoders run in this process, best of several repetitions.
// The last line is ratio=R: archive MB/s over libbz2 MB/s, both data kinds
// together.
#include "foundation/resource_stream.h"
#include "foundation/sar_archive.h"
#include "tools/sarpack/sar_writer.h"

#include <bzlib.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kDataBytes = 4u << 20;
constexpr int kRepetitions = 5;
constexpr u16 kResourceId = 990;

// A small deterministic generator, so every run measures the same bytes.
struct Lcg {
    u64 state;
    u32 next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (u32)(state >> 33);
    }
    u32 below(u32 n) { return next() % n; }
};

// Lines of words with a skewed vocabulary, numbers and keywords, roughly
// like scene and script text.
std::vector<u8> makeText(size_t n)
{
    static const char* const syllables[] = {"ka", "lo", "ri", "en", "th", "ve", "mor", "qu", "il",
                                            "on", "s", "te", "ar", "ne", "ob", "ject", "light", "pa"};
    Lcg rng{12345};
    std::vector<std::string> words;
    for (int i = 0; i < 3000; ++i) {
        std::string w;
        const u32 parts = 1 + rng.below(4);
        for (u32 p = 0; p < parts; ++p)
            w += syllables[rng.below(18)];
        words.push_back(w);
    }
    std::string out;
    out.reserve(n + 256);
    char number[32];
    while (out.size() < n) {
        switch (rng.below(4)) {
        case 0:
            std::snprintf(number, sizeof number, "%u:%02u.%02u ", rng.below(3), rng.below(60), rng.below(100));
            out += number;
            break;
        case 1:
            out += "  ";
            break;
        default:
            break;
        }
        const u32 count = 2 + rng.below(9);
        for (u32 k = 0; k < count; ++k) {
            // squaring skews the choice towards the first words
            const u32 r = rng.below(3000);
            out += words[(u64)r * r / 3000];
            if (rng.below(6) == 0) {
                std::snprintf(number, sizeof number, " %.6f", (double)rng.below(200000) / 1000.0 - 100.0);
                out += number;
            }
            out += k + 1 < count ? ' ' : '\n';
        }
    }
    out.resize(n);
    return std::vector<u8>(out.begin(), out.end());
}

// Records of slowly varying floats, counters and flags with noise mixed in,
// roughly like mesh and animation data.
std::vector<u8> makeBinary(size_t n)
{
    Lcg rng{67890};
    std::vector<u8> out;
    out.reserve(n + 64);
    u32 index = 0;
    auto put = [&out](const void* p, size_t k) {
        const u8* b = static_cast<const u8*>(p);
        out.insert(out.end(), b, b + k);
    };
    while (out.size() < n) {
        const float t = (float)index * 0.01f;
        const float v[3] = {std::sin(t) * 10.0f, std::cos(t * 0.7f) * 5.0f, (float)(index % 100) * 0.5f};
        put(v, sizeof v);
        put(&index, 4);
        const u16 flags = (u16)(index % 17 == 0 ? 3 : 1);
        put(&flags, 2);
        const u16 noise = (u16)rng.below(8);
        put(&noise, 2);
        if (rng.below(16) == 0) {
            for (int k = 0; k < 16; ++k)
                out.push_back((u8)rng.next());
        }
        ++index;
    }
    out.resize(n);
    return out;
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Kind {
    const char* name;
    std::vector<u8> data;
    std::vector<u8> bz2;
    size_t packedBytes = 0;
    double sarSeconds = 1e30;
    double bz2Seconds = 1e30;
};

bool decodeArchive(SarArchive& archive, const char* name, std::vector<u8>& out)
{
    if (!archive.open(name))
        return false;
    out.resize(archive.size);
    const u32 got = archive.read(out.data(), archive.size);
    archive.close();
    return got == out.size();
}

bool decodeBz2(const std::vector<u8>& packed, std::vector<u8>& out)
{
    unsigned int length = (unsigned int)out.size();
    const int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &length,
                                              const_cast<char*>(reinterpret_cast<const char*>(packed.data())),
                                              (unsigned int)packed.size(), 0, 0);
    return rc == BZ_OK && length == out.size();
}

} // namespace

int main()
{
    Kind kinds[2] = {{"text", makeText(kDataBytes), {}}, {"binary", makeBinary(kDataBytes), {}}};

    SarWriter writer;
    for (Kind& k : kinds) {
        if (!writer.add(k.name, k.data)) {
            std::fprintf(stderr, "packing %s failed: %s\n", k.name, writer.error().c_str());
            return 1;
        }
        k.bz2.resize(k.data.size() + k.data.size() / 100 + 600);
        unsigned int length = (unsigned int)k.bz2.size();
        if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(k.bz2.data()), &length,
                                     reinterpret_cast<char*>(k.data.data()), (unsigned int)k.data.size(), 9, 0,
                                     0) != BZ_OK) {
            std::fprintf(stderr, "bzip2 of %s failed\n", k.name);
            return 1;
        }
        k.bz2.resize(length);
    }
    const std::vector<u8> archiveBytes = writer.build();

    platform::registerResource("SARFILE", kResourceId, archiveBytes.data(), archiveBytes.size());
    int status = 0;
    {
        ResourceStream resource("SARFILE", kResourceId, "bench.sar");
        SarArchive archive(resource);
        if (!archive.mount("bench.sar")) {
            std::fprintf(stderr, "the packed archive does not mount\n");
            status = 1;
        }
        std::vector<u8> out;
        for (int i = 0; i < 2 && !status; ++i) {
            Kind& k = kinds[i];
            k.packedBytes = archive.entries[i].packedSize + 4; // with the primary index
            out.assign(k.data.size(), 0);
            if (!decodeArchive(archive, k.name, out) || out != k.data) {
                std::fprintf(stderr, "%s: the archive decodes to different bytes\n", k.name);
                status = 1;
                break;
            }
            std::fill(out.begin(), out.end(), 0);
            if (!decodeBz2(k.bz2, out) || out != k.data) {
                std::fprintf(stderr, "%s: libbz2 decodes to different bytes\n", k.name);
                status = 1;
                break;
            }
            // Alternate the two decoders so that both see the same machine state.
            for (int rep = 0; rep < kRepetitions; ++rep) {
                auto start = std::chrono::steady_clock::now();
                decodeArchive(archive, k.name, out);
                k.sarSeconds = std::min(k.sarSeconds, seconds(start));
                start = std::chrono::steady_clock::now();
                decodeBz2(k.bz2, out);
                k.bz2Seconds = std::min(k.bz2Seconds, seconds(start));
            }
        }
    }
    platform::unregisterResource("SARFILE", MAKEINTRESOURCEA(kResourceId));
    if (status)
        return status;

    double bytes = 0, sarTotal = 0, bz2Total = 0;
    for (const Kind& k : kinds) {
        const double mb = (double)k.data.size() / 1e6;
        std::printf("%-6s %zu bytes: archive entry %zu bytes, bzip2 %zu bytes; decode %.1f MB/s, libbz2 %.1f MB/s, "
                    "ratio %.3f\n",
                    k.name, k.data.size(), k.packedBytes, k.bz2.size(), mb / k.sarSeconds, mb / k.bz2Seconds,
                    k.bz2Seconds / k.sarSeconds);
        bytes += (double)k.data.size();
        sarTotal += k.sarSeconds;
        bz2Total += k.bz2Seconds;
    }
    std::printf("both   %.0f bytes: decode %.1f MB/s, libbz2 %.1f MB/s\n", bytes, bytes / 1e6 / sarTotal,
                bytes / 1e6 / bz2Total);
    std::printf("ratio=%.3f\n", bz2Total / sarTotal);
    return 0;
}
