#include "foundation/file_stream.h"
#include "image_test_support.h"

#include <chrono>

using namespace imagetest;

namespace {

// Every test starts and ends with an empty cache.
class ImageCache : public ::testing::Test {
protected:
    void SetUp() override { clearImageCache(); }
    void TearDown() override { clearImageCache(); }

    // One small picture of each format under the given names.
    MemoryStream pictures()
    {
        MemoryStream s;
        s.files["logo.bmp"] = makeBmp(bmpPattern(3, 2, 4));
        s.files["photo.JPG"] = makeJpeg(jpegPattern(8, 8, 3));
        s.files["digits.tga"] = makeTga(TgaSpec{2, 32, 2, 2, 0, "", 0, 0, 0, std::string(16, 'q')});
        s.files["font.pcx"] = makePcx(pcxPattern(4, 2));
        return s;
    }
};

TEST_F(ImageCache, ChoosesTheReaderByTheLastThreeCharacters)
{
    MemoryStream s = pictures();
    ImageRef bmp(loadImage(s, "logo.bmp", false));
    ImageRef jpg(loadImage(s, "photo.JPG", false));
    ImageRef tga(loadImage(s, "digits.tga", false));
    ImageRef pcx(loadImage(s, "font.pcx", false));
    ASSERT_TRUE(bmp && jpg && tga && pcx);
    EXPECT_EQ(bmp->width, 3);
    EXPECT_EQ(jpg->width, 8);
    EXPECT_EQ(tga->bytesPerPixel, 4);
    EXPECT_EQ(pcx->width, 4);
    EXPECT_EQ(imageCache.size(), 4u);

    // Endings the cache does not know, names too short to have one, and a
    // name the source lacks give nothing and cache nothing.
    DiagnosticsScope diagnostics(1);
    s.files["photo.jpeg"] = s.files["photo.JPG"];
    s.files["jpg"] = s.files["photo.JPG"];
    s.files["pg"] = s.files["photo.JPG"];
    s.files[""] = s.files["photo.JPG"];
    EXPECT_EQ(loadImage(s, "photo.jpeg", false), nullptr);
    EXPECT_EQ(loadImage(s, "pg", false), nullptr);
    EXPECT_EQ(loadImage(s, "", false), nullptr);
    EXPECT_EQ(loadImage(s, "absent.bmp", false), nullptr);
    EXPECT_EQ(loadImage(s, nullptr, false), nullptr);
    EXPECT_EQ(imageCache.size(), 4u);
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    // Three characters are enough.
    ImageRef bare(loadImage(s, "jpg", false));
    EXPECT_TRUE(bare);
}

TEST_F(ImageCache, SharesOneRecordAcrossLetterCase)
{
    MemoryStream s = pictures();
    Image* first = loadImage(s, "logo.bmp", false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->refCount, 2u); // the cache's and the caller's
    Image* second = loadImage(s, "LOGO.Bmp", true);
    EXPECT_EQ(second, first);
    EXPECT_EQ(first->refCount, 3u);
    EXPECT_EQ(imageCache.size(), 1u);
    EXPECT_EQ(s.opens, 0); // read once, through a clone

    // Every holder releases its own; the cache keeps the record alive, so
    // a later request gets the same one back.
    first->release();
    second->release();
    EXPECT_EQ(first->refCount, 1u);
    Image* third = loadImage(s, "logo.BMP", false);
    EXPECT_EQ(third, first);
    EXPECT_EQ(third->refCount, 2u);

    // Clearing drops the cache's reference; the holder's stays valid.
    clearImageCache();
    EXPECT_TRUE(imageCache.empty());
    EXPECT_EQ(third->refCount, 1u);
    EXPECT_EQ(third->pixel(0, 0) >> 24, 0xFFu);
    third->release();
}

// Trimming keeps the first records cached and drops the cache's reference
// on the rest (an image and a file alike), which their holders keep.
TEST_F(ImageCache, TrimKeepsTheFirstRecords)
{
    MemoryStream s = pictures();
    s.files["odd.dds"] = "DDS 12345";
    ImageRef kept(loadImage(s, "logo.bmp", false));
    ImageRef dropped(loadImage(s, "font.pcx", false));
    FileData* file = loadFileCached(s, "odd.dds");
    ASSERT_TRUE(kept && dropped && file);
    trimImageCache(5);
    EXPECT_EQ(imageCache.size(), 3u);
    trimImageCache(1);
    ASSERT_EQ(imageCache.size(), 1u);
    EXPECT_EQ(imageCache[0], static_cast<RefCountBase*>(kept.image));
    EXPECT_EQ(dropped->refCount, 1u);
    EXPECT_EQ(file->refCount, 1u);
    file->release();
    ImageRef again(loadImage(s, "font.pcx", false));
    EXPECT_NE(again.image, dropped.image);
    EXPECT_EQ(imageCache.size(), 2u);
}

TEST_F(ImageCache, AFailedFileIsReadAndReportedAgain)
{
    DiagnosticsScope diagnostics(1);
    MemoryStream s;
    s.files["broken.tga"] = std::string(10, '\0');
    EXPECT_EQ(loadImage(s, "broken.tga", false), nullptr);
    EXPECT_EQ(loadImage(s, "broken.tga", false), nullptr);
    EXPECT_EQ(boxTexts(), std::vector<std::string>(2, "TGA loader: Error reading file"));
    EXPECT_TRUE(imageCache.empty());
}

TEST_F(ImageCache, FileDataIsCachedApartFromImages)
{
    MemoryStream s = pictures();
    s.files["odd.dds"] = "DDS 12345";
    FileData* data = loadFileCached(s, "odd.dds");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->size, 9u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data->data), 9), "DDS 12345");
    // The block is rounded up to whole words, the tail zeroed.
    EXPECT_EQ(data->data[9] | data->data[10] | data->data[11], 0);
    EXPECT_EQ(data->refCount, 2u);
    FileData* again = loadFileCached(s, "ODD.DDS");
    EXPECT_EQ(again, data);
    EXPECT_EQ(data->refCount, 3u);
    again->release();
    EXPECT_EQ(data->refCount, 2u);
    data->release();

    // The same name as a file and as an image gives two records of their
    // own kinds.
    FileData* raw = loadFileCached(s, "logo.bmp");
    ImageRef image(loadImage(s, "logo.bmp", false));
    ASSERT_NE(raw, nullptr);
    ASSERT_TRUE(image);
    EXPECT_NE(static_cast<RefCountBase*>(raw), static_cast<RefCountBase*>(image.image));
    EXPECT_EQ(raw->size, s.files["logo.bmp"].size());
    raw->release();

    EXPECT_EQ(loadFileCached(s, "absent.dds"), nullptr);
    s.files["e"] = "";
    FileData* empty = loadFileCached(s, "e");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->size, 0u);
    empty->release();
}

TEST_F(ImageCache, PassesOverADerivedFileOlderThanItsPicture)
{
    TempDir dir;
    FileStream files("");
    const std::string picture = dir.file("crate.jpg");
    const std::string derived = dir.file("crate.jpg.dds");
    writeFile(picture, makeJpeg(jpegPattern(8, 8, 3)));
    writeFile(derived, "DDS derived");
    namespace fs = std::filesystem;
    const auto now = fs::last_write_time(picture);
    fs::last_write_time(derived, now - std::chrono::hours(1));
    EXPECT_EQ(loadFileCached(files, derived.c_str()), nullptr);
    EXPECT_TRUE(imageCache.empty());

    fs::last_write_time(derived, now + std::chrono::hours(1));
    FileData* fresh = loadFileCached(files, derived.c_str());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->size, 11u);
    fresh->release();

    // Without the picture on disk there is nothing to be stale against.
    const std::string lone = dir.file("lone.tga.dds");
    writeFile(lone, "DDS lone");
    FileData* loneData = loadFileCached(files, lone.c_str());
    EXPECT_NE(loneData, nullptr);
    if (loneData)
        loneData->release();
}

} // namespace
