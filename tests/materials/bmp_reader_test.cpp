#include "image_test_support.h"
#include "materials/image_readers.h"

using namespace imagetest;

namespace {

ImageRef readBmp(const std::string& bytes, bool bottomUp = false)
{
    MemoryStream file("pic.bmp", bytes);
    return ImageRef(loadBMP(file, "pic.bmp", bottomUp));
}

void expectPixels(const Image& image, const BmpSpec& b, bool bottomUp)
{
    ASSERT_EQ(image.width, b.width);
    ASSERT_EQ(image.height, b.height);
    EXPECT_EQ(image.bytesPerPixel, 0);
    for (i32 y = 0; y < b.height; ++y)
        for (i32 x = 0; x < b.width; ++x)
            ASSERT_EQ(image.pixel(x, bottomUp ? b.height - 1 - y : y), bmpExpected(b, x, y)) << x << "," << y;
}

TEST(BmpReader, ReadsRowsTopFirstOrInFileOrder)
{
    DiagnosticsScope diagnostics(1);
    const BmpSpec b = bmpPattern(8, 5, 16);
    const std::string bytes = makeBmp(b);
    {
        ImageRef image = readBmp(bytes);
        ASSERT_TRUE(image);
        expectPixels(*image.image, b, false);
        EXPECT_STREQ(image->name.c_str(), "pic.bmp");
        EXPECT_EQ(image->refCount, 1u);
    }
    ImageRef bottomUp = readBmp(bytes, true);
    ASSERT_TRUE(bottomUp);
    expectPixels(*bottomUp.image, b, true);
    EXPECT_TRUE(boxTexts().empty());
}

TEST(BmpReader, SkipsRowPaddingForEveryWidth)
{
    for (i32 width = 1; width <= 6; ++width) {
        const BmpSpec b = bmpPattern(width, 3, 7);
        ImageRef image = readBmp(makeBmp(b));
        ASSERT_TRUE(image) << width;
        expectPixels(*image.image, b, false);
    }
    // Some writers leave out the last row's padding.
    BmpSpec b = bmpPattern(3, 4, 5);
    b.lastRowPadding = false;
    ImageRef image = readBmp(makeBmp(b));
    ASSERT_TRUE(image);
    expectPixels(*image.image, b, false);
}

TEST(BmpReader, ColoursUsedZeroMeansAFullPalette)
{
    const BmpSpec b = bmpPattern(4, 4, 256);
    const std::string bytes = makeBmp(b);
    ASSERT_EQ(bytes[10] | bytes[11] << 8, 1078);
    ImageRef image = readBmp(bytes);
    ASSERT_TRUE(image);
    expectPixels(*image.image, b, false);
}

TEST(BmpReader, IndicesPastThePaletteAreOpaqueBlack)
{
    BmpSpec b = bmpPattern(4, 2, 2);
    b.indices = {0, 1, 2, 255, 1, 0, 200, 3};
    ImageRef image = readBmp(makeBmp(b));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixel(2, 0), 0xFF000000u);
    EXPECT_EQ(image->pixel(3, 0), 0xFF000000u);
    EXPECT_EQ(image->pixel(1, 0), 0xFF000000u | b.palette[1]);
}

TEST(BmpReader, RefusesOtherFilesWithTheirMessages)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::string message;
    };
    const char* unusual = "loadBMP: Unsupported, unusual BMP format";
    auto with = [](auto change) {
        BmpSpec b = bmpPattern(4, 3, 4);
        change(b);
        return makeBmp(b);
    };
    std::string notBm = makeBmp(bmpPattern(4, 3, 4));
    notBm[0] = 'P';
    notBm[1] = 'K';
    std::vector<Case> cases = {
        {"type", notBm, "loadBMP: Unknown file type: 4b50"},
        {"24 bit", with([](BmpSpec& b) { b.bitCount = 24; }), "loadBMP: Wrong BMP color depth: 24 bit"},
        {"4 bit", with([](BmpSpec& b) { b.bitCount = 4; }), "loadBMP: Wrong BMP color depth: 4 bit"},
        {"planes", with([](BmpSpec& b) { b.planes = 2; }), unusual},
        {"compressed", with([](BmpSpec& b) { b.compression = 1; }), unusual},
        {"offset", with([](BmpSpec& b) { b.pixelOffset = 54 + 4 * 4 + 2; }), unusual},
        {"too many colours", with([](BmpSpec& b) {
             b.palette.resize(300, 0x123456);
             b.coloursUsed = 300;
         }),
         unusual},
        {"negative height", with([](BmpSpec& b) { b.headerHeight = -3; }), unusual},
        {"zero width", with([](BmpSpec& b) {
             b.width = 0;
             b.indices.clear();
         }),
         unusual},
        {"header only", makeBmp(bmpPattern(4, 3, 4)).substr(0, 30), unusual},
    };
    // A size whose pixel block cannot be allocated, and one the file cannot
    // hold.
    std::string huge = makeBmp(bmpPattern(4, 3, 4));
    put32(huge, 18, 0x7FFFFFFF);
    put32(huge, 22, 0x7FFFFFFF);
    cases.push_back({"huge", huge, unusual});
    std::string tall = makeBmp(bmpPattern(4, 3, 4));
    put32(tall, 22, 4);
    cases.push_back({"rows missing", tall, unusual});

    for (const Case& c : cases) {
        DiagnosticsScope diagnostics(1);
        EXPECT_FALSE(readBmp(c.bytes)) << c.what;
        EXPECT_EQ(onlyErrorBox(), c.message) << c.what;
    }
}

} // namespace
