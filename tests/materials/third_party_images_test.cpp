// Pictures written by ImageMagick's convert, read through the cache from
// disk. Skipped where convert is not installed.
#include "foundation/file_stream.h"
#include "image_test_support.h"

using namespace imagetest;

namespace {

constexpr i32 kWidth = 7; // odd: BMP and PCX lines are padded
constexpr i32 kHeight = 5;

u32 patternColour(i32 x, i32 y)
{
    return (u32)((x * 36 + y * 5) % 256) << 16 | (u32)((y * 60 + x * 3) % 256) << 8 | (u32)((x * y * 9 + 20) % 256);
}

class ThirdPartyImages : public ::testing::Test {
protected:
    TempDir dir;
    FileStream files{""};

    void SetUp() override
    {
        if (std::system("convert -version > /dev/null 2>&1") != 0)
            GTEST_SKIP() << "ImageMagick's convert is not installed";
        clearImageCache();
        // 35 colours: more than fit a 4-bit palette, so writers choose 8 bits.
        std::string ppm = "P6\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
        for (i32 y = 0; y < kHeight; ++y)
            for (i32 x = 0; x < kWidth; ++x) {
                const u32 c = patternColour(x, y);
                ppm += (char)(c >> 16);
                ppm += (char)(c >> 8);
                ppm += (char)c;
            }
        writeFile(dir.file("pattern.ppm"), ppm);
        // A smooth picture and a grey one for the lossy format.
        smooth = jpegPattern(24, 16, 3);
        grey = jpegPattern(24, 16, 1);
        writeFile(dir.file("smooth.ppm"), "P6\n24 16\n255\n" + std::string(smooth.samples.begin(), smooth.samples.end()));
        writeFile(dir.file("grey.pgm"), "P5\n24 16\n255\n" + std::string(grey.samples.begin(), grey.samples.end()));
    }
    void TearDown() override { clearImageCache(); }

    // Runs convert in the temporary folder; the name of the written file.
    std::string convert(const std::string& input, const std::string& options, const std::string& output)
    {
        const std::string command = "cd '" + dir.path.string() + "' && convert " + input + " " + options + " " + output +
                                    " > /dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        const size_t colon = output.find(':');
        return dir.file(colon == std::string::npos ? output : output.substr(colon + 1));
    }

    ImageRef load(const std::string& path) { return ImageRef(loadImage(files, path.c_str(), false)); }

    JpegSpec smooth;
    JpegSpec grey;
};

TEST_F(ThirdPartyImages, PaletteBmp)
{
    // convert codes 8-bit BMP files with RLE8 unless told otherwise; that
    // compression is not read.
    {
        DiagnosticsScope diagnostics(1);
        EXPECT_FALSE(load(convert("pattern.ppm", "-type Palette", "BMP3:coded.bmp")));
        EXPECT_EQ(onlyErrorBox(), "loadBMP: Unsupported, unusual BMP format");
    }
    const std::string path = convert("pattern.ppm", "-type Palette -compress None", "BMP3:pattern.bmp");
    const std::string bytes = readFile(path);
    ASSERT_GT(bytes.size(), 30u);
    ASSERT_EQ(bytes[28], 8); // 8 bits per pixel
    ImageRef image = load(path);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, kWidth);
    ASSERT_EQ(image->height, kHeight);
    for (i32 y = 0; y < kHeight; ++y)
        for (i32 x = 0; x < kWidth; ++x)
            ASSERT_EQ(image->pixel(x, y), 0xFF000000u | patternColour(x, y)) << x << "," << y;
}

TEST_F(ThirdPartyImages, PalettePcx)
{
    const std::string path = convert("pattern.ppm", "-type Palette", "pattern.pcx");
    ImageRef image = load(path);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, kWidth);
    ASSERT_EQ(image->height, kHeight);
    for (i32 y = 0; y < kHeight; ++y)
        for (i32 x = 0; x < kWidth; ++x)
            ASSERT_EQ(image->pixel(x, y), 0xFF000000u | patternColour(x, y)) << x << "," << y;
}

TEST_F(ThirdPartyImages, TrueColourTga)
{
    struct Variant {
        const char* options;
        const char* file;
        i32 bytesPerPixel;
        const char* twin; // uncompressed, written with the same origin
    };
    const Variant variants[] = {
        {"-type TrueColor -compress None", "raw.tga", 3, "raw.tga"},
        {"-type TrueColor -compress RLE", "rle.tga", 3, "raw.tga"},
        {"-type TrueColor -define tga:image-origin=TopLeft", "top.tga", 3, "top.tga"},
        {"-type TrueColorAlpha -compress RLE", "alpha.tga", 4, "raw.tga"},
    };
    for (const Variant& v : variants) {
        const std::string path = convert("pattern.ppm", v.options, v.file);
        ImageRef image = load(path);
        ASSERT_TRUE(image) << v.file;
        ASSERT_EQ(image->width, kWidth);
        ASSERT_EQ(image->height, kHeight);
        ASSERT_EQ(image->bytesPerPixel, v.bytesPerPixel) << v.file;
        // The file's own row order is kept, whatever its origin bits say:
        // the uncompressed pixels are the bytes behind the header.
        const size_t pixelBytes = (size_t)kWidth * kHeight * v.bytesPerPixel;
        if (std::string(v.file) == "raw.tga") {
            const std::string bytes = readFile(path);
            ASSERT_EQ(bytes.size(), 18 + pixelBytes + (u8)bytes[0]);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(image->bytes()), pixelBytes),
                      bytes.substr(18 + (u8)bytes[0]));
        }
        auto at = [&](i32 x, i32 row) {
            const u8* p = image->bytes() + ((size_t)row * kWidth + x) * v.bytesPerPixel;
            return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16;
        };
        // Whether the twin stores the pattern's top row first.
        const std::string twin = readFile(path.substr(0, path.rfind('/') + 1) + v.twin);
        const u8* first = reinterpret_cast<const u8*>(twin.data()) + 18 + (u8)twin.at(0);
        const bool topRowFirst = ((u32)first[0] | (u32)first[1] << 8 | (u32)first[2] << 16) == patternColour(0, 0);
        for (i32 row = 0; row < kHeight; ++row)
            for (i32 x = 0; x < kWidth; ++x) {
                ASSERT_EQ(at(x, row), patternColour(x, topRowFirst ? row : kHeight - 1 - row))
                    << v.file << " " << x << "," << row;
                if (v.bytesPerPixel == 4) {
                    ASSERT_EQ(image->bytes()[((size_t)row * kWidth + x) * 4 + 3], 255);
                }
            }
    }
}

TEST_F(ThirdPartyImages, ColourAndGreyJpeg)
{
    ImageRef colour = load(convert("smooth.ppm", "-quality 100 -sampling-factor 1x1", "smooth.jpg"));
    ASSERT_TRUE(colour);
    EXPECT_TRUE(jpegClose(*colour.image, smooth, false, 4));
    ImageRef mono = load(convert("grey.pgm", "-quality 100", "grey.jpg"));
    ASSERT_TRUE(mono);
    EXPECT_TRUE(jpegClose(*mono.image, grey, false, 4));
}

} // namespace
