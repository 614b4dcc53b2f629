#include "platform/win32/bmp_image.h"
#include "platform/win32/dialog_template.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

std::vector<unsigned char> resourceBytes(WORD id, LPCSTR type)
{
    platform::registerBuiltinDialogResources();
    HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(id), type);
    if (!r)
        return {};
    const auto* p = static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, r)));
    return std::vector<unsigned char>(p, p + SizeofResource(nullptr, r));
}

TEST(DialogResourcesTest, StartPictureIsAColourfulBanner)
{
    const std::vector<unsigned char> bytes = resourceBytes(133, RT_BITMAP);
    platform::RgbaImage image;
    ASSERT_TRUE(platform::decodeBmp(bytes.data(), bytes.size(), image));
    EXPECT_EQ(image.width, 256);
    EXPECT_EQ(image.height, 64);
    std::set<unsigned> colours;
    bool light = false;
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        colours.insert(unsigned(image.rgba[i]) << 16 | unsigned(image.rgba[i + 1]) << 8 | image.rgba[i + 2]);
        light |= image.rgba[i] > 240 && image.rgba[i + 1] > 230; // the title
        EXPECT_EQ(image.rgba[i + 3], 255);
    }
    EXPECT_GT(colours.size(), 100u);
    EXPECT_TRUE(light);
}

TEST(DialogResourcesTest, SoundIconHasTransparency)
{
    const std::vector<unsigned char> bytes = resourceBytes(118, RT_ICON);
    platform::RgbaImage image;
    ASSERT_TRUE(platform::decodeBmp(bytes.data(), bytes.size(), image));
    EXPECT_EQ(image.width, 32);
    EXPECT_EQ(image.height, 32);
    int clear = 0, solid = 0;
    for (size_t i = 3; i < image.rgba.size(); i += 4)
        (image.rgba[i] == 0 ? clear : solid)++;
    EXPECT_GT(clear, 0);
    EXPECT_GT(solid, 100);
}

TEST(DialogResourcesTest, DamagedBitmapsAreRefused)
{
    const std::vector<unsigned char> good = resourceBytes(133, RT_BITMAP);
    ASSERT_FALSE(good.empty());
    platform::RgbaImage image;
    // Every truncation fails without reading past the end (the sanitizer
    // build checks that).
    for (size_t n = 0; n < good.size(); n += (n < 128 ? 1 : 97)) {
        std::vector<unsigned char> cut(good.begin(), good.begin() + long(n));
        EXPECT_FALSE(platform::decodeBmp(cut.data(), cut.size(), image)) << n;
    }
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<unsigned char> b = good;
        for (int i = 0; i < 4; ++i)
            b[at + i] = (unsigned char)(value >> (8 * i));
        return b;
    };
    for (const auto& bad : {patched(18, 0x7FFFFFFF), patched(22, 0x80000000), patched(10, 0xFFFFFFF0),
                            patched(14, 0xFFFFFFFF), patched(30, 1)}) {
        EXPECT_FALSE(platform::decodeBmp(bad.data(), bad.size(), image));
    }
    EXPECT_FALSE(platform::decodeBmp(nullptr, 100, image));
}

TEST(DialogResourcesTest, TemplatesAreRegisteredAndValidated)
{
    platform::registerBuiltinDialogResources();
    for (LPCSTR name : std::initializer_list<LPCSTR>{MAKEINTRESOURCEA(120), MAKEINTRESOURCEA(123), "SETUP", "#120"}) {
        HRSRC r = FindResourceA(nullptr, name, RT_DIALOG);
        ASSERT_NE(r, nullptr);
        EXPECT_NE(platform::dialogTemplateFrom(LockResource(LoadResource(nullptr, r)), SizeofResource(nullptr, r)),
                  nullptr);
    }
    const platform::DialogTemplate fake{0x12345678, "x", 1, 1, nullptr, 0};
    EXPECT_EQ(platform::dialogTemplateFrom(&fake, sizeof fake), nullptr);
    EXPECT_EQ(platform::dialogTemplateFrom(&fake, 3), nullptr);
}

} // namespace
