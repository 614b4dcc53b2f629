// 3D letters from the layers of an object file made in memory.
#include "demo/text2.h"

#include "lightwave/lwo2_test_support.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"

#include <gtest/gtest.h>

namespace {

using namespace lwo2test;

// A font of the letters A and B (layers 0 and 1) on one surface; no C.
std::string fontFile()
{
    Bytes b = quadObject("Font");
    b.chunk("LAYR", layr(1));
    b.chunk("PNTS", pnts({0, 0, 0, 1, 0, 0, 1, 1, 0}));
    b.chunk("POLS", pols("FACE", {{0, 1, 2}}));
    b.chunk("PTAG", Bytes().id("SURF").vx(0).u2(0));
    b.chunk("SURF", surf("Font", Bytes()));
    return b.form();
}

TEST(Text2, LettersStandInLineAndShareOneFade)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    f.files.files["font.lwo"] = fontFile();
    struct Case {
        const char* text;
        std::vector<float> xs; // the letters' position x, in order
        float cameraX, cameraY; // the middle of the letters' unit quads
    };
    const Case cases[] = {
        {"AB C", {-4.0f, -3.5f}, -3.25f, 0.5f}, // C is not in the font: skipped
        {"A  B", {-4.0f, -2.5f}, -2.75f, 0.5f},
        {"ab c", {}, 0.0f, 0.0f},
        {"", {}, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Text2 letters(c.text, &f.files, f.meta.get());
        Scene* s = letters.scene;
        ASSERT_EQ(s->cameras.size(), 1u);
        EXPECT_EQ(s->cameras[0]->channels[2].value, -10.0f);
        EXPECT_FLOAT_EQ(s->cameras[0]->channels[0].value, c.cameraX);
        EXPECT_FLOAT_EQ(s->cameras[0]->channels[1].value, c.cameraY);
        EXPECT_EQ(s->lights.size(), 1u);
        std::vector<float> xs;
        for (Object* o : s->objects)
            xs.push_back(o->channels[0].value);
        EXPECT_EQ(xs, c.xs);
    }
    Surface* font = f.meta->findSurface("font.lwo@Font");
    ASSERT_NE(font, nullptr);
    ASSERT_NE(font->transparency.source, nullptr);
    for (auto [t, value] : {std::pair{-5.0, 1.0f}, {0.0, 1.0f}, {0.5, 0.5f}, {1.0, 0.0f}, {10.0, 0.0f},
                            {10.5, 0.5f}, {11.0, 1.0f}, {20.0, 1.0f}})
        EXPECT_FLOAT_EQ(font->transparency.source->evaluate(t), value) << t;
}

TEST(Text2, NoFontFileAndHandOver)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    {
        Text2 letters("ABC", &f.files, f.meta.get()); // no "font.lwo"
        EXPECT_TRUE(letters.scene->objects.empty());
        Text2 noArchive("ABC", nullptr, f.meta.get());
        EXPECT_TRUE(noArchive.scene->objects.empty());
        // Handed to the metascene, the scene is deleted only there.
        f.meta->scenes.push_back(letters.releaseScene());
        EXPECT_EQ(letters.scene, nullptr);
    }
    EXPECT_EQ(f.meta->scenes.size(), 2u);
    EXPECT_EQ(letterIndex('A'), 0);
    EXPECT_EQ(letterIndex('Z'), 25);
    EXPECT_EQ(letterIndex('a'), -1);
    EXPECT_EQ(letterIndex('['), -1);
}

} // namespace
