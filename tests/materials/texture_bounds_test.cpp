// What pictures may cost as textures: the largest picture texture and one
// metascene's texel budget.
#include "texture_test_support.h"

#include "cost_test_support.h"
#include "foundation/engine_limits.h"
#include "foundation/memory_stream.h"
#include "image_test_support.h"
#include "materials/image_cache.h"
#include "materials/texel_budget.h"

#include <filesystem>

using namespace texturetest;

namespace {

// A greyscale JPEG of a few hundred bytes whose frame header claims
// side x side pixels; the decoder makes up the rest.
std::string claimingJpeg(int side)
{
    std::string bytes = imagetest::makeJpeg(imagetest::jpegPattern(8, 8, 1));
    const size_t sof = bytes.find("\xFF\xC0", 0, 2);
    if (sof != std::string::npos) { // height, then width, big-endian
        bytes[sof + 5] = char(side >> 8);
        bytes[sof + 6] = char(side & 0xFF);
        bytes[sof + 7] = char(side >> 8);
        bytes[sof + 8] = char(side & 0xFF);
    }
    return bytes;
}

} // namespace

// Unbounded, the build's copies and mip chain of an 8192 x 8192 claim take 2.2 GB.
TEST(TextureBounds, HugePictureClaimCostsBoundedMemory)
{
    if (!testsupport::inFreshProcess()) {
        // A folder of its own: the child's log must not truncate this one's.
        std::filesystem::create_directories("measured_child");
        const std::filesystem::path here = std::filesystem::current_path();
        std::filesystem::current_path("measured_child");
        testsupport::OnExit back([&] { std::filesystem::current_path(here); });
        EXPECT_TRUE(testsupport::passesInFreshProcess());
        return;
    }
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    Diagnostics quiet(0);
    MemoryStream files("huge.jpg", claimingJpeg(8192));
    ImageTexture texture(engine.get());
    ASSERT_TRUE(texture.open("huge.jpg", files));
    texture.load();
    texture.preload();
    ASSERT_NE(texture.baseTexture(), nullptr);
    // About 840 MB (1 GB with the sanitizers), 256 MB of them the picture.
    EXPECT_LT(testsupport::peakMegabytes(), 1400);
}

TEST(TextureBounds, LargePicturesAreBuiltAtTheLargestPictureSize)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    Diagnostics quiet(0);
    // 4097 pixels wide round up to 8192 texels: twice what a picture may be.
    auto t = std::make_unique<ImageTexture>(engine.get());
    t->name = "wide.jpg";
    t->colorImage = makeImage(4097, 4096, [](int x, int) { return x < 4096 ? 0xFF102030u : 0xFFFFFFFFu; });
    t->flags = 0;
    const std::streampos from = logPosition();
    t->load();
    EXPECT_EQ(u64(t->width) * u64(t->height), limits::pictureTexels);
    EXPECT_EQ(logLinesFrom(from), std::vector<std::string>{"Texture \"wide.jpg\" of 8192 x 4096 texels is larger than "
                                                           "a picture may be; built at 4096 x 4096"});
}

// Level-0 texels come from the metascene's budget and go back on release.
TEST(TextureBounds, BudgetRefusesBuildsAndTakesBackReleases)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    Diagnostics quiet(0);
    TexelBudget budget(3 * 128 * 128);
    std::vector<std::unique_ptr<ImageTexture>> textures;
    for (int i = 0; i < 4; ++i) {
        auto t = std::make_unique<ImageTexture>(engine.get());
        t->name = ("pic" + std::to_string(i)).c_str();
        t->colorImage = makeImage(128, 128, [i](int, int) { return 0xFF000000u | u32(i); });
        t->flags = 0;
        t->budget = &budget;
        textures.push_back(std::move(t));
    }
    const std::streampos from = logPosition();
    for (auto& t : textures)
        t->load();
    EXPECT_EQ(textures[3]->baseTexture(), nullptr);
    EXPECT_EQ(logLinesFrom(from), std::vector<std::string>{"\"pic3\" not loaded: its 16384 texels would take the "
                                                           "metascene's textures past 49152 texels"});
    textures[0].reset();
    textures[3]->load();
    EXPECT_NE(textures[3]->baseTexture(), nullptr);
}

// A decoded picture the budget cannot pay for must not stay cached for the run.
TEST(TextureBounds, PicturesPastTheBudgetAreDropped)
{
    TestEngine engine;
    REQUIRE_ENGINE(engine);
    Diagnostics quiet(0);
    MemoryStream files("big.bmp", imagetest::makeBmp(imagetest::bmpPattern(64, 64, 8)));
    TexelBudget budget(64 * 64 - 1);
    ImageTexture texture(engine.get());
    texture.budget = &budget;
    EXPECT_FALSE(texture.open("big.bmp", files));
    EXPECT_FALSE(isImageCached("big.bmp"));
}
