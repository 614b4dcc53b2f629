// A scene's objects made from every layer of an object file, and an
// object given another layer's mesh.
#include "lightwave/lwo2_test_support.h"
#include "scene/object.h"

#include <gtest/gtest.h>

namespace {

using namespace lwo2test;

TEST(SceneLayers, EveryLayerAndAReplacedMesh)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics shown(1);
    // Layers 0 and 2 have a mesh, layer 1 none.
    Bytes b = quadObject();
    b.chunk("LAYR", layr(2));
    b.chunk("PNTS", pnts({0, 0, 0, 1, 0, 0, 0, 1, 0}));
    b.chunk("POLS", pols("FACE", {{0, 1, 2}}));
    f.files.files["two.lwo"] = b.form();

    EXPECT_EQ(f.scene->addObjectLayers(&f.files, "two.lwo"), 2);
    const LWObject* file = f.meta->findLwo("two.lwo");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(f.scene->objects.size(), 2u);
    EXPECT_EQ(f.scene->objects[1]->mesh, file->layers[2]);
    EXPECT_EQ(f.scene->objects[1]->index, 1);

    // Object 0 takes layer 2; a missing layer or object changes nothing.
    EXPECT_TRUE(f.scene->replaceObjectLayer(0, &f.files, "two.lwo", 2));
    EXPECT_EQ(f.scene->objects[0]->mesh, file->layers[2]);
    EXPECT_FALSE(f.scene->replaceObjectLayer(1, &f.files, "two.lwo", 1));
    EXPECT_EQ(f.scene->objects[1]->mesh, file->layers[2]);
    EXPECT_FALSE(f.scene->replaceObjectLayer(2, &f.files, "two.lwo", 0));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error: 1 is not a valid layer number for two.lwo!\n"});
    EXPECT_EQ(f.scene->addObjectLayers(&f.files, "none.lwo"), 0);
    EXPECT_EQ(f.scene->objects.size(), 2u);
}

} // namespace
