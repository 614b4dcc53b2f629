// Image textures: the size rule, point sampling and the alpha cases, the
// reports for missing pictures, clones, and textures from .dds files.
#include "texture_test_support.h"

#include "foundation/memory_stream.h"
#include "image_test_support.h"
#include "materials/image_cache.h"
#include "platform/dds_builder.h"

using namespace texturetest;

namespace {

// An ImageTexture over an image made here (the texture takes the
// reference).
std::unique_ptr<ImageTexture> imageTexture(Engine* engine, Image* image, u32 flags, const char* name = "pic.bmp")
{
    auto t = std::make_unique<ImageTexture>(engine);
    t->name = name;
    t->colorImage = image;
    t->flags = flags;
    return t;
}

u32 argbAt(int x, int y)
{
    return u32(x * 40 + 7) << 24 | u32(y * 50 + 3) << 16 | u32(x * 11 + y * 13) << 8 | u32(200 - x - y);
}

TEST(ImageTextureSize, PowersOfTwoFromAWidthOf128)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    struct Case {
        int w, h;
        u32 flags;
        int tw, th;
    } cases[] = {
        {100, 100, 3, 128, 128}, {300, 3, 3, 512, 4}, {1, 1, 3, 128, 1},
        {128, 64, 3, 128, 64},   {129, 65, 0, 256, 128},
        // No scaling where the device allows any size.
        {100, 100, 0x40, 100, 100}, {300, 3, 0x40, 300, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " flags " << c.flags);
        auto t = imageTexture(engine.get(), makeImage(c.w, c.h, argbAt), c.flags);
        t->load();
        ASSERT_NE(t->baseTexture(), nullptr);
        const D3DSURFACE_DESC desc = levelDesc(t->baseTexture());
        EXPECT_EQ(int(desc.Width), c.tw);
        EXPECT_EQ(int(desc.Height), c.th);
        EXPECT_EQ(t->width, c.tw);
        EXPECT_EQ(t->height, c.th);
    }
    // Without the device's conditional support the rule applies anyway, and
    // sizes stop at the device's maximum.
    engine->caps.TextureCaps &= ~DWORD(D3DPTEXTURECAPS_NONPOW2CONDITIONAL);
    auto noscale = imageTexture(engine.get(), makeImage(100, 100, argbAt), 0x40);
    noscale->load();
    EXPECT_EQ(noscale->width, 128);
    engine->caps.MaxTextureWidth = 256;
    engine->caps.MaxTextureHeight = 2;
    auto clamped = imageTexture(engine.get(), makeImage(300, 3, argbAt), 0);
    clamped->load();
    EXPECT_EQ(clamped->width, 256);
    EXPECT_EQ(clamped->height, 2);
    const std::vector<u32> texels = readLevel(clamped->baseTexture());
    // Rows 0 and 1 read image rows trunc(y x 3 / 2) = 0 and 1.
    EXPECT_EQ(texels[256], argbAt(0, 1));
}

TEST(ImageTextureFill, PointSamplesTheImage)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    auto t = imageTexture(engine.get(), makeImage(3, 2, argbAt), 0);
    t->load();
    const std::vector<u32> texels = readLevel(t->baseTexture());
    ASSERT_EQ(texels.size(), 128u * 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 128; ++x)
            ASSERT_EQ(texels[size_t(y) * 128 + x], argbAt(x * 3 / 128, y)) << x << "," << y;
    EXPECT_EQ(t->levelCount, 1);
    EXPECT_EQ(t->format, D3DFMT_A8R8G8B8);
}

TEST(ImageTextureFill, TransparencyMapsAndAlphaModes)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    auto grey = [](u32 t) { return (((t >> 16) & 0xFF) + ((t >> 8) & 0xFF) + (t & 0xFF)) / 3; };
    struct Case {
        const char* what;
        u32 flags;
        i32 mode;
        std::function<u32(u32)> expected;
    } cases[] = {
        {"transparency map", 8, 0, [&](u32 t) { return (255 - grey(t)) << 24; }},
        {"image alpha", 0, 0, [](u32 t) { return t; }},
        {"opaque", 0, 1, [](u32 t) { return t | 0xFF000000u; }},
        {"alpha only", 0, 2, [](u32 t) { return 0xFF000000u | (t >> 24) * 0x010101u; }},
        // A mode from a damaged file writes the image texel as mode 0 does.
        {"unknown mode", 0, 7, [](u32 t) { return t; }},
        {"negative mode", 0, -1, [](u32 t) { return t; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto t = imageTexture(engine.get(), makeImage(128, 2, argbAt), c.flags);
        t->alphaMode = c.mode;
        t->load();
        const std::vector<u32> texels = readLevel(t->baseTexture());
        ASSERT_EQ(texels.size(), 256u);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(texels[i], c.expected(argbAt(i % 128, i / 128))) << i;
    }
}

TEST(ImageTextureFill, AlphaPictureGivesTheAlphaEvenWhenSmaller)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    auto alphaAt = [](int x, int y) { return 0xFF000000u | u32(x * 60) << 16 | u32(y * 90) << 8 | u32(x * 30); };
    for (auto [aw, ah] : {std::pair<int, int>{128, 4}, {2, 3}, {1, 1}}) {
        SCOPED_TRACE(testing::Message() << "alpha picture " << aw << " x " << ah);
        ImageTexture alpha(engine.get());
        alpha.name = "pic_alpha.bmp";
        alpha.colorImage = makeImage(aw, ah, alphaAt);
        auto t = imageTexture(engine.get(), makeImage(128, 4, argbAt), 0);
        t->alphaTexture = &alpha;
        t->alphaMode = 2;
        t->load();
        EXPECT_EQ(t->alphaMode, 0);
        const std::vector<u32> texels = readLevel(t->baseTexture());
        ASSERT_EQ(texels.size(), 512u);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 128; ++x) {
                // Past its own size the alpha picture repeats its last row
                // and column.
                const u32 a = alphaAt(std::min(x, aw - 1), std::min(y, ah - 1));
                const u32 grey = (((a >> 16) & 0xFF) + ((a >> 8) & 0xFF) + (a & 0xFF)) / 3;
                ASSERT_EQ(texels[size_t(y) * 128 + x], (argbAt(x, y) & 0xFFFFFFu) | grey << 24) << x << "," << y;
            }
    }
}

TEST(ImageTextureFill, TwentyFourBitPicturesAreWidenedAsOpaque)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    auto t = imageTexture(engine.get(), makeImage(128, 4, argbAt, 3), 0);
    t->load();
    const std::vector<u32> texels = readLevel(t->baseTexture());
    ASSERT_EQ(texels.size(), 512u);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(texels[i], argbAt(i % 128, i / 128) | 0xFF000000u) << i;
    // 32-bit TGA pixels read as they are.
    auto tga32 = imageTexture(engine.get(), makeImage(128, 1, argbAt, 4), 0);
    tga32->load();
    EXPECT_EQ(readLevel(tga32->baseTexture())[5], argbAt(5, 0));
}

TEST(ImageTextureReports, MissingPicturesAreLoggedAndShownByLevel)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    {
        Diagnostics level(1);
        const std::streampos from = logPosition();
        auto t = imageTexture(engine.get(), nullptr, 3, "gone.jpg");
        t->load();
        EXPECT_EQ(t->baseTexture(), nullptr);
        EXPECT_EQ(t->current(0.0), nullptr);
        EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error: Missing texture \"gone.jpg\" !!!\n"});
        EXPECT_EQ(logLinesFrom(from), std::vector<std::string>{"Missing texture \"gone.jpg\" !!!"});
    }
    {
        Diagnostics level(0);
        auto t = imageTexture(engine.get(), nullptr, 3, "gone.jpg");
        t->load();
        EXPECT_TRUE(boxTexts().empty());
    }
    {
        // A missing alpha picture is reported and the build goes on.
        Diagnostics level(1);
        const std::streampos from = logPosition();
        ImageTexture alpha(engine.get());
        alpha.name = "gone_alpha.bmp";
        auto t = imageTexture(engine.get(), makeImage(128, 1, argbAt), 0);
        t->alphaTexture = &alpha;
        t->alphaMode = 1;
        t->load();
        EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error: Missing alpha texture \"gone_alpha.bmp\" !!!\n"});
        EXPECT_EQ(logLinesFrom(from), std::vector<std::string>{"Missing alpha texture \"gone_alpha.bmp\" !!!"});
        ASSERT_NE(t->baseTexture(), nullptr);
        EXPECT_EQ(readLevel(t->baseTexture())[3], argbAt(3, 0) | 0xFF000000u);
    }
    {
        // Pixels of a size the build cannot read count as missing.
        Diagnostics level(1);
        auto t = imageTexture(engine.get(), makeImage(4, 4, argbAt, 2), 0, "odd.tga");
        t->load();
        EXPECT_EQ(t->baseTexture(), nullptr);
        EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error: Missing texture \"odd.tga\" !!!\n"});
    }
}

TEST(ImageTextureClone, CopiesParametersAndSharesTheBuild)
{
    TestEngine engine(true);
    REQUIRE_ENGINE(engine);
    Image* image = makeImage(64, 2, argbAt);
    auto original = imageTexture(engine.get(), image, 3 | Texture::kColorMap, "crate.jpg");
    original->alphaMode = 1;
    original->frameRate = 25.0f;
    original->bumpScale = 0.5f;
    original->hue.value = 0.25f;
    original->gamma.value = 2.2f;
    original->load();
    ASSERT_NE(original->baseTextures[0], nullptr);
    ASSERT_NE(original->baseTextures[1], nullptr);
    EXPECT_EQ(image->refCount, 1u);

    std::unique_ptr<Texture> copy(original->clone());
    auto* clone = dynamic_cast<ImageTexture*>(copy.get());
    ASSERT_NE(clone, nullptr);
    EXPECT_STREQ(clone->name.c_str(), "crate.jpg");
    EXPECT_EQ(clone->flags, original->flags);
    EXPECT_EQ(clone->alphaMode, 1);
    EXPECT_FLOAT_EQ(clone->frameRate, 25.0f);
    EXPECT_FLOAT_EQ(clone->bumpScale, 0.5f);
    EXPECT_FLOAT_EQ(clone->hue.value, 0.25f);
    EXPECT_FLOAT_EQ(clone->gamma.value, 2.2f);
    EXPECT_EQ(clone->width, original->width);
    EXPECT_EQ(clone->format, original->format);
    EXPECT_EQ(clone->levelCount, original->levelCount);
    EXPECT_EQ(clone->image(), image);
    EXPECT_EQ(image->refCount, 2u);
    EXPECT_EQ(clone->baseTextures[0], nullptr);
    EXPECT_EQ(clone->baseTextures[1], nullptr);
    EXPECT_EQ(clone->current(0.0), nullptr);

    // A copy shows the original's build (20 copies once cost 20); one used otherwise builds its own.
    std::unique_ptr<Texture> otherUse(original->clone());
    otherUse->flags |= Texture::kTransparencyMap;
    otherUse->load();
    clone->load();
    ASSERT_NE(clone->baseTextures[0], nullptr);
    EXPECT_EQ(clone->baseTextures[0], original->baseTextures[0]);
    EXPECT_EQ(clone->baseTextures[1], original->baseTextures[1]);
    EXPECT_EQ(clone->width, original->width);
    EXPECT_EQ(clone->levelCount, original->levelCount);
    EXPECT_NE(otherUse->baseTextures[0], original->baseTextures[0]);
    otherUse.reset();

    original.reset();
    EXPECT_EQ(image->refCount, 1u);
    EXPECT_NE(clone->current(0.0), nullptr);
}

// ---------------------------------------------------------------------------
// Opening through the image cache, and .dds files.

class ImageTextureFiles : public ::testing::Test {
protected:
    void SetUp() override { clearImageCache(); }
    void TearDown() override { clearImageCache(); }
};

std::string argbDds(u32 w, u32 h, u32 levels, u32 seed)
{
    std::string payload;
    u32 lw = w, lh = h;
    for (u32 l = 0; l < (levels ? levels : 1); ++l) {
        for (u32 i = 0; i < lw * lh; ++i)
            ddstest::append32(payload, 0xFF000000u | (seed + i * 0x030507u));
        lw = lw > 1 ? lw / 2 : 1;
        lh = lh > 1 ? lh / 2 : 1;
    }
    return ddstest::makeDds(D3DFMT_A8R8G8B8, w, h, levels, payload);
}

TEST_F(ImageTextureFiles, OpenPrefersTheDdsFile)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    MemoryStream files;
    files.files["plain.bmp"] = imagetest::makeBmp(imagetest::bmpPattern(4, 4, 8));
    files.files["both.bmp"] = imagetest::makeBmp(imagetest::bmpPattern(4, 4, 8));
    files.files["both.bmp.dds"] = argbDds(4, 4, 1, 0x10);

    ImageTexture plain(engine.get());
    EXPECT_TRUE(plain.open("plain.bmp", files));
    EXPECT_STREQ(plain.name.c_str(), "plain.bmp");
    EXPECT_NE(plain.colorImage, nullptr);
    EXPECT_EQ(plain.ddsData, nullptr);
    EXPECT_EQ(plain.image(), plain.colorImage);

    ImageTexture both(engine.get());
    EXPECT_TRUE(both.open("both.bmp", files));
    EXPECT_NE(both.ddsData, nullptr);
    EXPECT_EQ(both.colorImage, nullptr);

    ImageTexture none(engine.get());
    EXPECT_FALSE(none.open("none.bmp", files));
    EXPECT_STREQ(none.name.c_str(), "none.bmp");
}

TEST_F(ImageTextureFiles, DdsTexturesTakeSizeAndFormatFromTheResult)
{
    TestEngine engine(true);
    REQUIRE_ENGINE(engine);
    MemoryStream files;
    files.files["wall.jpg.dds"] = argbDds(8, 4, 4, 0x20);
    files.files["flat.jpg.dds"] = argbDds(8, 4, 4, 0x20);

    // "_nodxt" clips (flags 2): A8R8G8B8 as in the file, with its levels.
    ImageTexture exact(engine.get());
    ASSERT_TRUE(exact.open("flat.jpg", files));
    exact.flags = Texture::kMipChain;
    exact.load();
    ASSERT_NE(exact.baseTexture(), nullptr);
    EXPECT_EQ(exact.width, 8);
    EXPECT_EQ(exact.height, 4);
    EXPECT_EQ(exact.depth, 1);
    EXPECT_EQ(exact.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(exact.levelCount, 4);
    EXPECT_EQ(exact.pool, D3DPOOL_MANAGED);
    const std::string& file = files.files["flat.jpg.dds"];
    std::vector<u32> level1(8); // 4 x 2, after the 8 x 4 level
    std::memcpy(level1.data(), file.data() + 128 + 32 * 4, 32);
    EXPECT_EQ(readLevel(exact.baseTexture(), 1), level1);
    // And a copy on the second device.
    ASSERT_NE(exact.baseTextures[1], nullptr);
    EXPECT_EQ(readLevel(exact.baseTextures[1], 1), level1);

    // Default clips (flags 3): converted to the chosen format.
    ImageTexture chosen(engine.get());
    ASSERT_TRUE(chosen.open("wall.jpg", files));
    chosen.flags = 3 | Texture::kColorMap;
    chosen.load();
    ASSERT_NE(chosen.baseTexture(), nullptr);
    EXPECT_EQ(chosen.format, D3DFMT_A1R5G5B5);
    EXPECT_EQ(levelDesc(chosen.baseTexture()).Format, D3DFMT_A1R5G5B5);
    EXPECT_EQ(chosen.levelCount, 4);
    EXPECT_NE(chosen.baseTextures[1], nullptr);

    // One level without the mip flag.
    ImageTexture single(engine.get());
    ASSERT_TRUE(single.open("wall.jpg", files));
    single.flags = 0;
    single.load();
    EXPECT_EQ(single.levelCount, 1);
}

TEST_F(ImageTextureFiles, DamagedDdsFilesAreReported)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    const std::string good = argbDds(8, 8, 1, 0x30);
    MemoryStream files;
    files.files["cut.tga.dds"] = good.substr(0, good.size() - 1);
    files.files["junk.tga.dds"] = "DDS nothing like a header";
    for (const char* name : {"cut.tga", "junk.tga"}) {
        Diagnostics level(1);
        const std::streampos from = logPosition();
        ImageTexture t(engine.get());
        ASSERT_TRUE(t.open(name, files));
        t.load();
        EXPECT_EQ(t.baseTexture(), nullptr);
        EXPECT_EQ(t.current(0.0), nullptr);
        EXPECT_EQ(t.levelCount, 0);
        const std::string text = std::string("Loading texture \"") + name + "\" from .dds-file failed!!!";
        EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error: " + text + "\n"});
        EXPECT_EQ(logLinesFrom(from), std::vector<std::string>{text});
    }
    Diagnostics quiet(0);
    ImageTexture t(engine.get());
    ASSERT_TRUE(t.open("cut.tga", files));
    t.load();
    EXPECT_TRUE(boxTexts().empty());
}

} // namespace
