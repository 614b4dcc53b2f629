// What the demo relies on in the content maker's object files.
#include "lwo2_test_support.h"
#include "materials/texture_layer.h"
#include "tools/mkcontent/content.h"

#include <gtest/gtest.h>

#include <string>

using namespace lwo2test;

TEST(ContentObjects, FontLayersAreTheLetters)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    const auto files = mkcontent::allContentFiles();
    const mkcontent::ContentFile* font = mkcontent::findContentFile(files, "font.lwo");
    ASSERT_NE(font, nullptr);
    const LWObject* object = f.load("font.lwo", font->build());
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(object->layers.size(), 26u);
    // Pixels per letter: A 18, I 11, Z 15; six faces each.
    const struct {
        char letter;
        i32 faces;
    } cases[] = {{'A', 18 * 6}, {'I', 11 * 6}, {'Z', 15 * 6}};
    for (const auto& c : cases) {
        const PolyMesh* mesh = polyMesh(object, size_t(c.letter - 'A'));
        ASSERT_NE(mesh, nullptr) << c.letter;
        EXPECT_EQ(mesh->polygonCount, c.faces) << c.letter;
    }
    const Surface* surface = f.surface("font.lwo@Font");
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->luminosity.value, 1.0f);
}

TEST(ContentObjects, BakeTargetAndReflections)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    const auto files = mkcontent::allContentFiles();
    const LWObject* mirrorObject = nullptr;
    for (const char* name : {"objects/room.lwo", "objects/mirror.lwo", "objects/chrome.lwo"}) {
        const LWObject* object = f.load(name, mkcontent::findContentFile(files, name)->build());
        ASSERT_NE(object, nullptr) << name;
        if (std::string(name) == "objects/mirror.lwo")
            mirrorObject = object;
    }
    // The room's UV diffuse layers without an image are the light maps.
    EXPECT_EQ(f.meta->renderTargetLayers.size(), 2u);
    for (const char* key : {"objects/room.lwo@Floor", "objects/room.lwo@Wall"}) {
        const Surface* s = f.surface(key);
        ASSERT_NE(s, nullptr) << key;
        ASSERT_EQ(s->layerCount, 2) << key; // the colour map first, then the light map
        EXPECT_EQ(s->layerSlots[1]->channel, channelDIFF);
        EXPECT_EQ(s->bakeLayer, s->layerSlots[1]);
    }
    EXPECT_EQ(f.surface("objects/mirror.lwo@Mirror")->reflectionOptions, 0);
    // A flat mirror reflects towards its local -Y: its face must point there.
    const PolyMesh* mirror = polyMesh(mirrorObject, 0);
    ASSERT_TRUE(mirror && mirror->polygonCount == 1);
    const PolyMesh::Polygon& quad = mirror->polygons[0];
    const D3DVECTOR n = PolyMesh::triangleNormal(mirror->pointArray[quad.pointIndices[0]],
                                                 mirror->pointArray[quad.pointIndices[1]],
                                                 mirror->pointArray[quad.pointIndices[quad.vertexCount - 1]]);
    EXPECT_LT(n.y, -0.99f);
    const Surface* chrome = f.surface("objects/chrome.lwo@Chrome");
    ASSERT_NE(chrome->sphericalReflectionTexture, nullptr); // through the XREF clip
    EXPECT_STREQ(chrome->sphericalReflectionTexture->name.c_str(), "(reflection)");
}
