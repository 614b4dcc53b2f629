#include "image_test_support.h"
#include "materials/image_readers.h"
#include "materials/image_readers_local.h"
#include "materials/jpeg_stream_source.h"
#include "scoped_state.h"

using namespace imagetest;

namespace {

ImageRef readJpeg(const std::string& bytes, bool bottomUp = false, u32 readLimit = 0xFFFFFFFFu)
{
    MemoryStream file("pic.jpg", bytes);
    file.readLimit = readLimit;
    return ImageRef(loadJPEG(file, "pic.jpg", bottomUp));
}

TEST(JpegReader, ColourAndGreyBecomeOpaqueWords)
{
    DiagnosticsScope diagnostics(1);
    for (int components : {3, 1}) {
        const JpegSpec s = jpegPattern(37, 21, components);
        const std::string bytes = makeJpeg(s);
        ImageRef image = readJpeg(bytes);
        ASSERT_TRUE(image) << components;
        EXPECT_TRUE(jpegClose(*image.image, s, false, 3));
        EXPECT_STREQ(image->name.c_str(), "pic.jpg");
        ImageRef bottomUp = readJpeg(bytes, true);
        ASSERT_TRUE(bottomUp);
        EXPECT_TRUE(jpegClose(*bottomUp.image, s, true, 3));
    }
    EXPECT_TRUE(boxTexts().empty());
}

TEST(JpegReader, ProgressiveFilesAndShortReads)
{
    JpegSpec s = jpegPattern(64, 48, 3);
    s.progressive = true;
    const std::string bytes = makeJpeg(s);
    // A stream that hands out a few bytes per read still fills whole blocks
    // over several calls.
    for (u32 limit : {0xFFFFFFFFu, 7u, 1u}) {
        ImageRef image = readJpeg(bytes, false, limit);
        ASSERT_TRUE(image) << limit;
        EXPECT_TRUE(jpegClose(*image.image, s, false, 3));
    }
}

TEST(JpegReader, SkipsLongMarkersAcrossReadBlocks)
{
    // libjpeg skips an unknown application marker through the source
    // manager: 60000 bytes cross many 4096-byte blocks.
    JpegSpec s = jpegPattern(16, 16, 3);
    s.appMarker.assign(60000, '\xAB');
    const std::string bytes = makeJpeg(s);
    ASSERT_GT(bytes.size(), 60000u);
    ImageRef image = readJpeg(bytes);
    ASSERT_TRUE(image);
    EXPECT_TRUE(jpegClose(*image.image, s, false, 3));
}

TEST(JpegReader, AFileCutShortEndsWithWhatWasDecoded)
{
    DiagnosticsScope diagnostics(1);
    const std::string bytes = makeJpeg(jpegPattern(64, 64, 3));
    ImageRef whole = readJpeg(bytes);
    ImageRef image = readJpeg(bytes.substr(0, bytes.size() / 2));
    ASSERT_TRUE(whole && image);
    ASSERT_EQ(image->width, 64);
    ASSERT_EQ(image->height, 64);
    // The first rows came before the cut and decode as in the whole file;
    // the last rows did not.
    EXPECT_EQ(std::memcmp(image->pixels, whole->pixels, 64 * 8 * 4), 0);
    EXPECT_NE(std::memcmp(image->pixels + 64 * 56, whole->pixels + 64 * 56, 64 * 8 * 4), 0);
    EXPECT_TRUE(boxTexts().empty());
}

TEST(JpegReader, DamagedFilesFailWithABox)
{
    const std::string good = makeJpeg(jpegPattern(16, 16, 3));
    struct Case {
        const char* what;
        std::string bytes;
        const char* start;
    };
    const std::vector<Case> cases = {
        {"empty", "", "loadJPEG: "},
        {"not a JPEG", "BM this is not a JPEG file", "loadJPEG: Not a JPEG file"},
        {"cut within the headers", good.substr(0, 40), "loadJPEG: "},
        {"image marker only", good.substr(0, 2), "loadJPEG: "},
    };
    for (const Case& c : cases) {
        DiagnosticsScope diagnostics(1);
        EXPECT_FALSE(readJpeg(c.bytes)) << c.what;
        const std::string box = onlyErrorBox();
        EXPECT_EQ(box.rfind(c.start, 0), 0u) << c.what << ": " << box;
    }
    DiagnosticsScope quiet(0);
    EXPECT_FALSE(readJpeg(good.substr(0, 40)));
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
}

TEST(JpegReader, OnlyOneOrThreeComponents)
{
    DiagnosticsScope diagnostics(1);
    EXPECT_FALSE(readJpeg(makeJpeg(jpegPattern(8, 8, 4))));
    EXPECT_EQ(onlyErrorBox(), "Wrong non-grayscale JPEG color depth: 32 bit");
}

TEST(JpegReader, RefusesPicturesLargerThanTheLimit)
{
    // The frame header claims 65500 x 65500: far beyond what can be held,
    // refused before anything is allocated.
    std::string bytes = makeJpeg(jpegPattern(16, 16, 3));
    const size_t frame = bytes.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    put16(bytes, frame + 5, 0xDCFF); // big-endian 65500
    put16(bytes, frame + 7, 0xDCFF);
    DiagnosticsScope diagnostics(1);
    EXPECT_FALSE(readJpeg(bytes));
    EXPECT_EQ(onlyErrorBox(), "loadJPEG: Picture too large: 65500 x 65500");

    testsupport::Restore<u64> limit(imageMaxBytes, 16 * 16 * 4 - 1);
    platform::clearRecordedMessageBoxes();
    EXPECT_FALSE(readJpeg(makeJpeg(jpegPattern(16, 16, 3))));
    EXPECT_EQ(onlyErrorBox(), "loadJPEG: Picture too large: 16 x 16");
}

TEST(JpegReader, RefusesTinyFilesClaimingHugePictures)
{
    // A few hundred bytes claiming gigabytes: refused from the frame header.
    for (const bool progressive : {false, true}) {
        const u32 width = progressive ? 23170 : 46340, height = progressive ? 23170 : 11585;
        JpegSpec spec = jpegPattern(8, 8, 1);
        spec.progressive = progressive;
        std::string bytes = makeJpeg(spec);
        const size_t frame = bytes.find(progressive ? "\xFF\xC2" : "\xFF\xC0");
        ASSERT_NE(frame, std::string::npos);
        const char size[] = {char(height >> 8), char(height), char(width >> 8), char(width)};
        bytes.replace(frame + 5, 4, size, 4);
        DiagnosticsScope diagnostics(1);
        EXPECT_FALSE(readJpeg(bytes));
        EXPECT_EQ(onlyErrorBox(), String::format("loadJPEG: Picture too large: %u x %u", width, height).c_str());
    }
}

TEST(ImageLimits, PixelBytesAndSides)
{
    EXPECT_EQ(imageBlockBytes(16384, 4096, 0), 256u << 20);
    EXPECT_EQ(imageBlockBytes(16384, 4097, 0), 0u);
    EXPECT_EQ(imageBlockBytes(16385, 1, 3), 0u);
}

TEST(JpegStreamSource, EndsTheDataWithAnEndMarker)
{
    // Drive the source manager by hand: blocks of at most 4096 bytes, then
    // the two marker bytes however often more data is asked for.
    MemoryStream file("data", std::string(5000, 'x'));
    ASSERT_TRUE(file.open("data"));
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpegStreamSource(&cinfo, &file);
    jpeg_source_mgr* src = cinfo.src;
    ASSERT_TRUE(src->fill_input_buffer(&cinfo));
    EXPECT_EQ(src->bytes_in_buffer, 4096u);
    src->skip_input_data(&cinfo, 4000);
    EXPECT_EQ(src->bytes_in_buffer, 96u);
    src->skip_input_data(&cinfo, 100); // into the next block
    EXPECT_EQ(src->bytes_in_buffer, 900u);
    EXPECT_EQ(file.tell(), 5000u);
    src->skip_input_data(&cinfo, 10000); // past the end: the marker stays
    ASSERT_EQ(src->bytes_in_buffer, 2u);
    EXPECT_EQ(src->next_input_byte[0], 0xFF);
    EXPECT_EQ(src->next_input_byte[1], JPEG_EOI);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(src->fill_input_buffer(&cinfo));
        ASSERT_EQ(src->bytes_in_buffer, 2u);
        EXPECT_EQ(src->next_input_byte[1], JPEG_EOI);
    }
    jpeg_destroy_decompress(&cinfo);
}

} // namespace
