#include "foundation/file_stream.h"
#include "image_test_support.h"
#include "materials/image_readers.h"

using namespace imagetest;

namespace {

ImageRef readPcx(const std::string& bytes, bool bottomUp = false)
{
    MemoryStream file("pic.pcx", bytes);
    return ImageRef(loadPCX(file, "pic.pcx", bottomUp));
}

void expectPixels(const Image& image, const PcxSpec& p, bool bottomUp)
{
    ASSERT_EQ(image.width, p.width);
    ASSERT_EQ(image.height, p.height);
    EXPECT_EQ(image.bytesPerPixel, 0);
    for (i32 y = 0; y < p.height; ++y)
        for (i32 x = 0; x < p.width; ++x)
            ASSERT_EQ(image.pixel(x, bottomUp ? p.height - 1 - y : y), pcxExpected(p, x, y)) << x << "," << y;
}

TEST(PcxReader, DecodesRunsLiteralsAndThePalette)
{
    DiagnosticsScope diagnostics(1);
    const PcxSpec p = pcxPattern(10, 7);
    const std::string bytes = makePcx(p);
    ImageRef image = readPcx(bytes);
    ASSERT_TRUE(image);
    expectPixels(*image.image, p, false);
    ImageRef flipped = readPcx(bytes, true);
    ASSERT_TRUE(flipped);
    expectPixels(*flipped.image, p, true);
    EXPECT_TRUE(boxTexts().empty());
}

TEST(PcxReader, DropsLinePaddingAndFollowsTheWindowOrigin)
{
    PcxSpec p = pcxPattern(5, 4);
    p.bytesPerLine = 8;
    p.xMin = 100;
    p.yMin = 7;
    ImageRef image = readPcx(makePcx(p));
    ASSERT_TRUE(image);
    expectPixels(*image.image, p, false);
}

TEST(PcxReader, RunsCarryAcrossLinesAndStopAtTheLastPixel)
{
    PcxSpec p = pcxPattern(4, 3);
    std::fill(p.indices.begin(), p.indices.end(), 9);
    // One run of 12 covers all three lines; a second run of 63 pixels
    // follows and is ignored.
    std::string bytes = pcxHeader(p) + "\xCC\x09\xFF\x05" + "\x0C";
    bytes.append(p.palette.begin(), p.palette.end());
    ImageRef image = readPcx(bytes);
    ASSERT_TRUE(image);
    expectPixels(*image.image, p, false);
}

TEST(PcxReader, RefusesDamagedFiles)
{
    const char* unsupported = "loadPCX: Unsupported PCX format";
    const char* readError = "loadPCX: Error reading file";
    auto with = [](auto change) {
        PcxSpec p = pcxPattern(6, 4);
        change(p);
        return makePcx(p);
    };
    std::string noMarker = makePcx(pcxPattern(6, 4));
    noMarker[noMarker.size() - 769] = 0;
    std::string shortData = pcxHeader(pcxPattern(6, 4)) + "\x01\x02\xC5\x03" + "\x0C";
    shortData.append(768, '\x11');
    // The run code is the last data byte: taking the marker as its value
    // would complete the picture.
    std::string runWithoutValue = pcxHeader(pcxPattern(6, 4)) + std::string(19, '\x01') + "\xC5" + "\x0C";
    runWithoutValue.append(768, '\x11');
    std::string inverted = makePcx(pcxPattern(6, 4));
    put16(inverted, 4, 50); // xMin past xMax
    std::string tall = makePcx(pcxPattern(6, 4));
    put16(tall, 10, 3999);
    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"too short for header and palette", std::string(128 + 768, '\x0C'), readError},
        {"no palette marker", noMarker, unsupported},
        {"24 bit", with([](PcxSpec& p) { p.planes = 3; }), unsupported},
        {"4 bit", with([](PcxSpec& p) { p.bits = 4; }), unsupported},
        {"negative width", inverted, unsupported},
        {"more pixels than the data can make", tall, unsupported},
        {"data ends early", shortData, readError},
        {"run without its value", runWithoutValue, readError},
    };
    for (const Case& c : cases) {
        DiagnosticsScope diagnostics(1);
        EXPECT_FALSE(readPcx(c.bytes)) << c.what;
        EXPECT_EQ(onlyErrorBox(), c.message) << c.what;
    }
}

TEST(PcxWriter, WritesWhatTheReaderReadsBack)
{
    TempDir dir;
    FileStream files("");
    for (i32 width : {1, 2, 7, 64, 130}) {
        const i32 height = 3;
        std::vector<u8> indices;
        for (i32 i = 0; i < width * height; ++i)
            indices.push_back((u8)(i < 70 ? 0xC3 : i % 5 == 0 ? 0xFE : i % 17)); // long runs, top-bit bytes
        std::vector<u8> palette(768);
        for (u32 i = 0; i < 768; ++i)
            palette[i] = (u8)(i * 7);
        const std::string name = dir.file("out" + std::to_string(width) + ".pcx");
        ASSERT_TRUE(savePCX(files, name.c_str(), width, height, indices.data(), palette.data()));
        const std::string bytes = readFile(name);
        ASSERT_GT(bytes.size(), 128u + 769u);
        EXPECT_EQ(bytes[0], 10);
        EXPECT_EQ(bytes[1], 5);
        EXPECT_EQ(bytes[3], 8);
        EXPECT_EQ(bytes[65], 1);
        EXPECT_EQ((u8)bytes[66] | (u8)bytes[67] << 8, (width + 1) & ~1);
        EXPECT_EQ(bytes[bytes.size() - 769], 12);
        // Runs stay within a line.
        ImageRef image(loadPCX(files, name.c_str(), false));
        ASSERT_TRUE(image) << width;
        ASSERT_EQ(image->width, width);
        ASSERT_EQ(image->height, height);
        for (i32 y = 0; y < height; ++y)
            for (i32 x = 0; x < width; ++x) {
                const u8 i = indices[(size_t)y * width + x];
                ASSERT_EQ(image->pixel(x, y), rgb(palette[i * 3u], palette[i * 3u + 1], palette[i * 3u + 2]));
            }
    }
    const u8 one = 0;
    std::vector<u8> palette(768);
    EXPECT_FALSE(savePCX(files, dir.file("bad.pcx").c_str(), 0, 1, &one, palette.data()));
    EXPECT_FALSE(savePCX(files, dir.file("nested/no/folder.pcx").c_str(), 1, 1, &one, palette.data()));
}

} // namespace
