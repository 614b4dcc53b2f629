// The statistics text and the mode-name texture on a headless device.
#include "demo/text.h"

#include "materials/texture_test_support.h"
#include "platform/d3d9/device_test_api.h"

#include <gtest/gtest.h>

namespace {

using namespace texturetest;

// A font of four cells (codes 32 to 35): cell c has every pixel of grey
// 0x10 * (c + 1), and its top-left pixel is white.
Image* makeFont()
{
    return makeImage(4 * 7, 11, [](int x, int y) {
        const u32 g = 0x10u * u32(x / 7 + 1);
        return (x % 7 == 0 && y == 0) ? 0x00FFFFFFu : (g << 16) | (g << 8) | g;
    });
}

class TextTest : public ::testing::Test {
protected:
    testsupport::Outputs outputs{{platform::defaultAdapterProfile()}, [](DisplaySettings& s) {
                                     s.windowWidth = 320;
                                     s.windowHeight = 200;
                                 }};
    std::unique_ptr<Engine> engine;
    void SetUp() override
    {
        REQUIRE_DEVICES(outputs);
        engine = std::make_unique<Engine>(&outputs.manager);
    }
};

TEST_F(TextTest, PrintIsOpaqueCumulativeAndClipped)
{
    Text text(engine.get(), nullptr);
    ASSERT_NE(text.texture, nullptr);
    EXPECT_EQ(levelDesc(text.texture).Width, 320u);
    EXPECT_EQ(levelDesc(text.texture).Height, 100u);
    text.print(0, 0, "hello"); // no font: nothing
    text.font = makeFont();
    text.print(10, 20, "!");
    text.print(17, 20, "\"");
    text.print(0, 0, "");
    // Characters the font lacks, a byte above 0x7F, and lines past every
    // edge of the 320 x 100 texture.
    text.print(0, 40, "\x1f\xe9$#");
    text.print(315, 95, "!!!!");
    text.print(-3, -5, "!");
    std::vector<u32> t = readLevel(text.texture);
    auto at = [&](int x, int y) { return t[size_t(y) * 320 + x]; };
    EXPECT_EQ(at(10, 20), 0xFFFFFFFFu);
    EXPECT_EQ(at(11, 20), 0xFF202020u);
    EXPECT_EQ(at(17, 20), 0xFFFFFFFFu); // the first stays: cumulative
    EXPECT_EQ(at(18, 21), 0xFF303030u);
    EXPECT_EQ(at(0, 40), 0u);            // skipped code 31 leaves its cell empty
    EXPECT_EQ(at(14, 40), 0u);           // '$' is past the font
    EXPECT_EQ(at(21, 40), 0xFFFFFFFFu);  // '#' keeps its place in the line
    EXPECT_EQ(at(22, 41), 0xFF404040u);
    EXPECT_EQ(at(319, 99), 0xFF202020u);
    EXPECT_EQ(at(3, 5), 0xFF202020u);
    text.clear();
    t = readLevel(text.texture);
    EXPECT_EQ(std::count(t.begin(), t.end(), 0u), long(t.size()));
}

// A line printed every frame sends the device only its own box (clipped to
// the texture), not the whole texture.
TEST_F(TextTest, PrintUploadsOnlyTheLinesBox)
{
    Text text(engine.get(), nullptr);
    text.font = makeFont();
    text.texture->PreLoad();
    const struct {
        i32 x, y;
        const char* line;
        unsigned long long texels;
    } cases[] = {
        {10, 20, "!!!", 21 * 11},
        {315, 95, "!!!!", 5 * 5},
        {-3, -5, "!", 4 * 6},
    };
    for (const auto& c : cases) {
        const unsigned long long before = platform::d3d9::uploadedTexelCount(engine->currentDevice);
        text.print(c.x, c.y, c.line);
        EXPECT_EQ(platform::d3d9::uploadedTexelCount(engine->currentDevice) - before, c.texels) << c.line;
    }
}

TEST_F(TextTest, DrawShowsTheTextAndSetColorTruncates)
{
    Text text(engine.get(), nullptr);
    text.font = makeFont();
    text.setColor(255.75f);
    EXPECT_EQ(text.quad[2].diffuse, 0x000000FFu);
    text.setColor(-1.0f);
    EXPECT_EQ(text.quad[0].diffuse, 0u);
    text.setColor(4294967295.0f);
    EXPECT_EQ(text.quad[0].diffuse, 0xFFFFFFFFu);
    text.print(8, 8, "!");
    IDirect3DDevice9* device = engine->currentDevice;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000080, 1.0f, 0);
    text.draw();
    DWORD z = 0;
    device->GetRenderState(D3DRS_ZENABLE, &z);
    EXPECT_EQ(z, 1u);
    IDirect3DSurface9* back = nullptr;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(back->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    auto pixel = [&](int x, int y) {
        return *reinterpret_cast<const u32*>(static_cast<const u8*>(locked.pBits) + y * locked.Pitch + x * 4) &
               0xFFFFFFu;
    };
    EXPECT_EQ(pixel(8, 8), 0xFFFFFFu);
    EXPECT_EQ(pixel(9, 9), 0x202020u);
    EXPECT_EQ(pixel(30, 30), 0x000080u); // transparent texels leave the frame
    back->UnlockRect();
    back->Release();
}

TEST_F(TextTest, FontTexture)
{
    Diagnostics level(1);
    BuiltTexture target(engine.get(), 0);
    const auto from = logPosition();
    createFontTexture(&target, "!", nullptr);
    EXPECT_EQ(target.baseTextures[0], nullptr);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error: Missing font bitmap !!!\n"});
    EXPECT_EQ(logLinesFrom(from), std::vector<std::string>{"Missing font bitmap !!!"});

    Image* font = makeFont();
    createFontTexture(&target, "!\"#$!\"#$!\"#$!\"#$!\"#$", font); // 20 characters: 18 drawn
    const std::vector<u32> t = readLevel(target.baseTextures[0]);
    ASSERT_EQ(t.size(), 128u * 16u);
    auto at = [&](int x, int y) { return t[size_t(y) * 128 + x]; };
    EXPECT_EQ(at(2, 2), 0x00000000u);          // white: alpha 255 - 255
    EXPECT_EQ(at(3, 3), 0xDF000000u);          // grey 0x20
    EXPECT_EQ(at(2 + 7 * 17 + 1, 3), 0xCF000000u); // the 18th, '"' (grey 0x30)
    EXPECT_EQ(at(1, 3), 0u);
    EXPECT_EQ(at(2 + 7 * 18 + 1, 3), 0u); // no 19th character
    font->release();
}

} // namespace
