#include "image_test_support.h"
#include "materials/image_readers.h"

using namespace imagetest;

namespace {

ImageRef readTga(const std::string& bytes)
{
    MemoryStream file("pic.tga", bytes);
    return ImageRef(loadTGA(file, "pic.tga"));
}

std::string imageBytes(const Image& image)
{
    return std::string(reinterpret_cast<const char*>(image.bytes()),
                       (size_t)image.width * image.height * image.bytesPerPixel);
}

TgaSpec pattern(u8 type, u8 bits, u16 width, u16 height)
{
    TgaSpec t;
    t.imageType = type;
    t.bits = bits;
    t.width = width;
    t.height = height;
    t.pixels = tgaPattern(width, height, bits / 8u);
    return t;
}

TEST(TgaReader, KeepsTheFileBytesAndRowOrder)
{
    DiagnosticsScope diagnostics(1);
    for (u8 type : {2, 10})
        for (u8 bits : {24, 32})
            for (u8 descriptor : {0x00, 0x20, 0x08}) { // origin bits are not followed
                TgaSpec t = pattern(type, bits, 13, 6);
                t.descriptor = descriptor;
                ImageRef image = readTga(makeTga(t));
                ASSERT_TRUE(image) << (int)type << " " << (int)bits;
                EXPECT_EQ(image->width, 13);
                EXPECT_EQ(image->height, 6);
                EXPECT_EQ(image->bytesPerPixel, bits / 8);
                EXPECT_EQ(imageBytes(*image.image), t.pixels);
            }
    EXPECT_TRUE(boxTexts().empty());
}

TEST(TgaReader, RunLengthPacketsMayCrossRowsOrStayInThem)
{
    TgaSpec t = pattern(10, 24, 5, 4);
    t.pixels = std::string(5 * 4 * 3, '\x42'); // one colour: runs across rows
    for (bool perRow : {false, true}) {
        const std::string bytes = makeTga(t, perRow);
        EXPECT_EQ(bytes.size(), 18u + (perRow ? 4u * 4u : 4u));
        ImageRef image = readTga(bytes);
        ASSERT_TRUE(image);
        EXPECT_EQ(imageBytes(*image.image), t.pixels);
    }
}

TEST(TgaReader, SkipsTheIdFieldAndColourMap)
{
    TgaSpec t = pattern(2, 32, 3, 2);
    t.id = "a picture";
    t.colourMapType = 1;
    t.colourMapLength = 5;
    t.colourMapBits = 15;
    ImageRef image = readTga(makeTga(t));
    ASSERT_TRUE(image);
    EXPECT_EQ(imageBytes(*image.image), t.pixels);
}

TEST(TgaReader, WidensSixteenBitPixelsByBitReplication)
{
    // Pixels: white with the attribute bit, pure red, pure green, pure blue,
    // a mid grey (each channel 10000b), black.
    const u16 words[] = {0xFFFF, 0x7C00, 0x03E0, 0x001F, 0x4210, 0x0000};
    std::string pixels;
    for (u16 w : words) {
        pixels += (char)(w & 0xFF);
        pixels += (char)(w >> 8);
    }
    const std::string bgr("\xFF\xFF\xFF"
                          "\x00\x00\xFF"
                          "\x00\xFF\x00"
                          "\xFF\x00\x00"
                          "\x84\x84\x84"
                          "\x00\x00\x00",
                          18);
    for (u8 type : {2, 10}) {
        TgaSpec t;
        t.imageType = type;
        t.bits = 16;
        t.width = 3;
        t.height = 2;
        t.pixels = pixels;
        // No alpha bits: three bytes per pixel.
        ImageRef rgbImage = readTga(makeTga(t));
        ASSERT_TRUE(rgbImage);
        EXPECT_EQ(rgbImage->bytesPerPixel, 3);
        EXPECT_EQ(imageBytes(*rgbImage.image), bgr);
        // One alpha bit: four bytes, the attribute bit as alpha.
        t.descriptor = 1;
        ImageRef argb = readTga(makeTga(t));
        ASSERT_TRUE(argb);
        ASSERT_EQ(argb->bytesPerPixel, 4);
        const u8* p = argb->bytes();
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + i * 4), 3), bgr.substr((size_t)i * 3, 3));
            EXPECT_EQ(p[i * 4 + 3], i == 0 ? 255 : 0) << i;
        }
    }
}

TEST(TgaReader, FailureCodesAndMessages)
{
    const char* unsupported = "TGA loader: Unsupported file format";
    const char* readError = "TGA loader: Error reading file";
    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
    };
    auto with = [](u8 type, auto change) {
        TgaSpec t = pattern(type, 32, 4, 3);
        change(t);
        return makeTga(t);
    };
    const std::string whole = makeTga(pattern(2, 24, 4, 3));
    const std::string coded = makeTga(pattern(10, 24, 4, 3));
    const std::vector<Case> cases = {
        {"colour mapped", with(2, [](TgaSpec& t) { t.imageType = 1; }), unsupported},
        {"grey", with(2, [](TgaSpec& t) { t.imageType = 3; }), unsupported},
        {"8 bit", with(2, [](TgaSpec& t) { t.bits = 8; }), unsupported},
        {"zero width", with(2, [](TgaSpec& t) { t.width = 0; }), unsupported},
        {"zero height", with(10, [](TgaSpec& t) { t.height = 0; }), unsupported},
        {"too wide", with(2, [](TgaSpec& t) { t.width = 4097; }), unsupported},
        {"short header", whole.substr(0, 17), readError},
        {"short pixels", whole.substr(0, whole.size() - 1), readError},
        {"short packets", coded.substr(0, coded.size() - 1), readError},
        {"id past the end", with(2, [](TgaSpec& t) { t.id = "abcdef"; }).substr(0, 20), readError},
    };
    for (const Case& c : cases) {
        DiagnosticsScope diagnostics(1);
        EXPECT_FALSE(readTga(c.bytes)) << c.what;
        EXPECT_EQ(onlyErrorBox(), c.message) << c.what;
    }
    DiagnosticsScope diagnostics(1);
    MemoryStream empty;
    EXPECT_EQ(loadTGA(empty, "absent.tga"), nullptr);
    EXPECT_EQ(onlyErrorBox(), "TGA loader: Error opening file");
}

TEST(TgaReader, PacketsStopAtTheLastPixel)
{
    // A run of 128 and a literal of 128 pixels into a 2 x 2 picture: only
    // four pixels are written.
    TgaSpec t = pattern(10, 32, 2, 2);
    std::string bytes = tgaHeader(t) + "\xFF" + "ABCD";
    ImageRef run = readTga(bytes);
    ASSERT_TRUE(run);
    EXPECT_EQ(imageBytes(*run.image), "ABCDABCDABCDABCD");
    std::string literal = tgaHeader(t) + "\x01" + "abcdefgh" + "\x7F";
    for (int i = 0; i < 128; ++i)
        literal += "WXYZ";
    ImageRef lit = readTga(literal);
    ASSERT_TRUE(lit);
    EXPECT_EQ(imageBytes(*lit.image), "abcdefghWXYZWXYZ");
}

TEST(TgaReader, PacketsThatRunPastTheDataFail)
{
    DiagnosticsScope diagnostics(1);
    TgaSpec t = pattern(10, 24, 4, 4);
    // A literal packet of 10 pixels with only 2 present.
    EXPECT_FALSE(readTga(tgaHeader(t) + "\x09" + "abcdef"));
    // A run packet missing its pixel.
    EXPECT_FALSE(readTga(tgaHeader(t) + "\x8F" + "ab"));
    EXPECT_EQ(boxTexts(), std::vector<std::string>(2, "TGA loader: Error reading file"));
}

} // namespace
