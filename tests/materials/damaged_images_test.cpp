// Every reader over cut and scrambled copies of small valid files: each
// either fails through its error path (null and one "Error" box) or
// returns a picture of a size the file allows; nothing may crash, overrun
// or hang (the sanitizer build checks the first two).
#include "image_test_support.h"
#include "materials/image_readers.h"
#include "scoped_state.h"

#include <functional>

using namespace imagetest;

namespace {

struct Sample {
    const char* what;
    std::string bytes;
    std::function<Image*(Stream&, const char*)> read;
    i32 width;
    i32 height;
};

std::vector<Sample> samples()
{
    auto bmp = [](Stream& s, const char* n) { return loadBMP(s, n, false); };
    auto tga = [](Stream& s, const char* n) { return loadTGA(s, n); };
    auto pcx = [](Stream& s, const char* n) { return loadPCX(s, n, true); };
    auto jpg = [](Stream& s, const char* n) { return loadJPEG(s, n, false); };
    TgaSpec raw;
    raw.imageType = 2;
    raw.bits = 24;
    raw.width = 5;
    raw.height = 3;
    raw.id = "id";
    raw.pixels = tgaPattern(5, 3, 3);
    TgaSpec coded = raw;
    coded.imageType = 10;
    coded.bits = 16;
    coded.descriptor = 1;
    coded.pixels = tgaPattern(5, 3, 2);
    JpegSpec progressive = jpegPattern(16, 16, 3);
    progressive.progressive = true;
    return {
        {"bmp", makeBmp(bmpPattern(5, 3, 6)), bmp, 5, 3},
        {"tga raw", makeTga(raw), tga, 5, 3},
        {"tga coded", makeTga(coded), tga, 5, 3},
        {"pcx", makePcx(pcxPattern(6, 4)), pcx, 6, 4},
        {"jpeg", makeJpeg(jpegPattern(16, 16, 3)), jpg, 16, 16},
        {"jpeg progressive", makeJpeg(progressive), jpg, 16, 16},
        {"jpeg grey", makeJpeg(jpegPattern(16, 8, 1)), jpg, 16, 8},
    };
}

// Reads the bytes; checks that a failure was reported and that a picture
// has a size the data allows. Returns whether a picture came back.
bool readOnce(const Sample& s, const std::string& bytes, bool expectBox)
{
    platform::clearRecordedMessageBoxes();
    MemoryStream file("damaged", bytes);
    ImageRef image(s.read(file, "damaged"));
    EXPECT_EQ(file.opens, file.closes);
    if (!image) {
        if (expectBox) {
            EXPECT_EQ(platform::recordedMessageBoxes().size(), 1u) << s.what;
        }
        return false;
    }
    EXPECT_TRUE(platform::recordedMessageBoxes().empty()) << s.what;
    // Sizes may change when a flip hits the header, but never beyond the
    // limits of the format and the data.
    EXPECT_GT(image->width, 0);
    EXPECT_GT(image->height, 0);
    if (std::string(s.what).rfind("jpeg", 0) != 0) {
        EXPECT_LE((u64)image->width * (u64)image->height, (u64)bytes.size() * 64) << s.what;
    } else {
        EXPECT_LE((u64)image->width * (u64)image->height * 4, imageMaxBytes);
    }
    return true;
}

TEST(DamagedImages, EveryTruncationFailsCleanly)
{
    DiagnosticsScope diagnostics(1);
    for (const Sample& s : samples()) {
        ASSERT_TRUE(readOnce(s, s.bytes, true)) << s.what;
        size_t firstGood = s.bytes.size();
        for (size_t length = 0; length < s.bytes.size(); ++length) {
            if (readOnce(s, s.bytes.substr(0, length), true) && firstGood == s.bytes.size())
                firstGood = length;
        }
        const std::string what = s.what;
        if (what == "bmp") {
            EXPECT_EQ(firstGood, s.bytes.size() - 3) << "only the last row's padding may be missing";
        } else if (what.rfind("tga", 0) == 0) {
            EXPECT_EQ(firstGood, s.bytes.size()) << what;
        } else if (what == "pcx") {
            EXPECT_GE(firstGood, 128u + 769u) << "header and palette must be there";
        } else {
            EXPECT_GT(firstGood, 100u) << "a JPEG needs its headers";
        }
    }
}

TEST(DamagedImages, ABaselineJpegCutInTheScanKeepsItsSize)
{
    DiagnosticsScope diagnostics(1);
    for (int components : {3, 1}) {
        const std::string bytes = makeJpeg(jpegPattern(96, 80, components));
        MemoryStream file("cut.jpg", bytes.substr(0, bytes.size() * 3 / 4));
        ImageRef image(loadJPEG(file, "cut.jpg", false));
        ASSERT_TRUE(image) << components;
        EXPECT_EQ(image->width, 96);
        EXPECT_EQ(image->height, 80);
    }
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
}

TEST(DamagedImages, RandomByteChangesNeverCrash)
{
    DiagnosticsScope diagnostics(0);
    // A changed JPEG frame header can claim a huge picture that libjpeg
    // would fill in; keep those small.
    testsupport::Restore<u64> limit(imageMaxBytes, 1u << 24);
    Lcg rng{20240601};
    for (const Sample& s : samples()) {
        int pictures = 0;
        for (int round = 0; round < 1500; ++round) {
            std::string bytes = s.bytes;
            const u32 changes = 1 + rng.below(4);
            for (u32 i = 0; i < changes; ++i) {
                // Half of the changes land in the first 64 bytes, where the
                // headers are.
                const size_t at = rng.below(2) ? rng.below((u32)std::min<size_t>(64, bytes.size()))
                                               : rng.below((u32)bytes.size());
                bytes[at] = rng.below(3) == 0 ? (char)(bytes[at] ^ (1 << rng.below(8))) : (char)rng.below(256);
            }
            pictures += readOnce(s, bytes, false);
        }
        EXPECT_GT(pictures, 0) << s.what;
    }
}

} // namespace
