#include "lws_test_support.h"
#include "lwo2_builder.h"

#include "../log_test_support.h"
#include "foundation/envelope.h"
#include "lightwave/lws_writer.h"
#include "lightwave/meta_scene.h"
#include "scene/bone.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/poly_mesh.h"
#include "scene/scene_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

using namespace lwstest;

namespace {

TEST(LwsWriter, SmallSceneText)
{
    Scene scene(nullptr);
    scene.firstFrame = 1;
    scene.lastFrame = 60;
    scene.previewLastFrame = 60;
    Object* object = new Object(&scene, 0);
    object->pivotPosition[1] = 0.5f;
    scene.objects = {object, nullptr};
    Envelope* e = new Envelope();
    e->addHermiteKey(0.0f, 1.0f, 0.25f, 0.5f);
    e->addTcbKey(1.0f, 2.0f, 0.1f, 0.2f, 0.3f);
    object->channels[0].source = e;
    object->channels[1].value = 1.5f;
    testsupport::LevelGuard level;
    diagnosticsLevel = 0;

    std::string text = LwsWriter::text(&scene);
    std::string head = "LWSC\n3\n\nFirstFrame 1\nLastFrame 60\nFrameStep 1\nPreviewFirstFrame 0\n"
                       "PreviewLastFrame 60\nPreviewFrameStep 1\nCurrentFrame 0\nFramesPerSecond 30\n\n"
                       "AddNullObject null\nShowObject 6 3\nObjectMotion\nNumChannels 9\nChannel 0\n"
                       "{ Envelope\n  2\n"
                       "  Key 1.000000 0.000000 1 0.000000 0.000000 0.000000 0.250000 0.500000 0.000000\n"
                       "  Key 2.000000 1.000000 0 0.100000 0.200000 0.300000 0.000000 0.000000 0.000000\n"
                       "  Behaviors 1 1\n}\nChannel 1\n"
                       "{ Envelope\n  1\n  Key 1.500000 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\nChannel 2\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    std::string objectEnd = "LockedChannels 40\nPivotPosition 0.000000 0.500000 0.000000\nShadowOptions 7\n\n"
                            "AmbientColor 1.000000 1.000000 1.000000\nAmbientIntensity 0.250000\n\n"
                            "SolidBackdrop 1\n";
    EXPECT_NE(text.find(objectEnd), std::string::npos); // the empty slot is left out
    EXPECT_NE(text.find("GridNumber 50\nGridSize 1.000000\nCameraViewBG 0\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("CurrentCamera 0\n\nGraphEditorData\n{ GraphEd_Favorites\n}\n{ GE_Expression_Lib\n}\n"));
    EXPECT_EQ(lwoObjectName("Objects/rock.lwo:layer2"), "Objects/rock.lwo");
    EXPECT_EQ(lwoObjectName("plain"), "plain");
}

// Read, written and read again: the same items, references and values.
void expectSameScenes(Scene& a, Scene& b)
{
    ASSERT_EQ(a.objects.size(), b.objects.size());
    ASSERT_EQ(a.lights.size(), b.lights.size());
    ASSERT_EQ(a.cameras.size(), b.cameras.size());
    EXPECT_EQ(a.firstFrame, b.firstFrame);
    EXPECT_EQ(a.lastFrame, b.lastFrame);
    std::vector<std::pair<Node*, Node*>> pairs;
    for (size_t i = 0; i < a.objects.size(); i++)
        pairs.push_back({a.objects[i], b.objects[i]});
    for (size_t i = 0; i < a.lights.size(); i++)
        pairs.push_back({a.lights[i], b.lights[i]});
    for (size_t i = 0; i < a.cameras.size(); i++)
        pairs.push_back({a.cameras[i], b.cameras[i]});
    auto same = [](Node* x, Node* y) {
        return (x == nullptr) == (y == nullptr) && (!x || (x->nodeType == y->nodeType && x->index == y->index));
    };
    for (auto [x, y] : pairs) {
        EXPECT_TRUE(same(x->parent, y->parent)) << x->name.c_str();
        EXPECT_TRUE(same(x->target, y->target)) << x->name.c_str();
        int channels = x->nodeType == 3 ? 6 : 9;
        for (int c = 0; c < channels; c++)
            for (double t : {-0.5, 0.0, 0.3, 0.9, 1.7, 4.0})
                EXPECT_NEAR(x->channels[c].valueAt(t), y->channels[c].valueAt(t), 1e-4)
                    << x->name.c_str() << " channel " << c << " at " << t;
    }
    for (size_t i = 0; i < a.lights.size(); i++) {
        EXPECT_NEAR(a.lights[i]->coneAngle.value, b.lights[i]->coneAngle.value, 1e-5);
        EXPECT_EQ(a.lights[i]->lightType, b.lights[i]->lightType);
        EXPECT_STREQ(a.lights[i]->name.c_str(), b.lights[i]->name.c_str());
    }
}

TEST(LwsWriter, GeneratedSceneRoundTrip)
{
    std::string text = lws(
        "FirstFrame 3 LastFrame 40 AddNullObject a ObjectMotion NumChannels 2 Channel 0 "
        "{ Envelope 3 Key 0 0 1 0 0 0 1.5 -0.5 0 Key 2 1 2 0 0 0 0.5 0.25 0 Key 1 2 5 -0.2 0.1 0.3 0.4 0 0 "
        "Behaviors 2 4 } Channel 4 { Envelope 2 Key 0 0 3 0 0 0 0 0 0 Key 1 1 0 0.5 -0.5 0.25 0 0 0 "
        "Behaviors 1 5 } "
        "AddNullObject b ParentItem 10000000 TargetItem 20000001 "
        "AddLight LightName Key LightType 2 LightConeAngle 40 LightEdgeAngle 5 "
        "AddLight LightName \"\" ParentItem 10000001 "
        "AddCamera CameraName Camera CameraMotion NumChannels 1 Channel 3 " +
        constant(0.5) + " TargetItem 10000001");
    Scene first(nullptr);
    ASSERT_TRUE(loadText(first, text));
    Scene second(nullptr);
    ASSERT_TRUE(loadText(second, LwsWriter::text(&first)));
    expectSameScenes(first, second);
}

// Bones on two objects from two files, each numbered from 0 within its
// object: written and read back, every bone keeps its parent bone.
TEST(LwsWriter, BonesOfTwoObjectsRoundTrip)
{
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    MemoryStream files;
    files.files["a.lwo"] = files.files["b.lwo"] = lwo2test::quadObject().form();
    ASSERT_TRUE(loadText(*f.scene,
                         lws("LoadObjectLayer 1 a.lwo BoneFalloffType 1 AddBone BoneName a0 "
                             "AddBone BoneName a1 ParentItem 40000000 BoneRestDirection 90 30 0 "
                             "LoadObjectLayer 1 b.lwo BoneFalloffType 1 AddBone BoneName b0 "
                             "AddBone BoneName b1 ParentItem 40000000"),
                         &files));
    // Another metascene: meshes of their own, with no bones yet.
    MetaScene meta(f.engine.get(), "again.mts");
    Scene* again = new Scene(&meta);
    meta.scenes.push_back(again);
    ASSERT_TRUE(loadText(*again, LwsWriter::text(f.scene), &files));
    ASSERT_EQ(again->objects.size(), 2u);
    for (Object* object : again->objects) {
        PolyMesh* mesh = object->mesh ? object->mesh->asPolyMesh() : nullptr;
        ASSERT_TRUE(mesh && mesh->bones.size() == 2) << object->name.c_str();
        EXPECT_EQ(mesh->bones[1]->parentBone, mesh->bones[0]) << object->name.c_str();
    }
    const float heading = again->objects[0]->mesh->asPolyMesh()->bones[1]->restDirection[1];
    EXPECT_NEAR(heading, f.scene->objects[0]->mesh->asPolyMesh()->bones[1]->restDirection[1], 1e-6f);
}

TEST(LwsWriter, PackageSceneRoundTripAndThirdPartyReader)
{
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    std::string text = readFile(std::string(kPackageDir) + "move_x_oldformat_6.lws");
    if (text.empty())
        GTEST_SKIP() << "the package models are not installed";
    MemoryStream files;
    files.files["simple_cube.lwo"] = readFile(std::string(kPackageDir) + "simple_cube.lwo");
    ASSERT_TRUE(loadText(*f.scene, text, &files));
    ASSERT_TRUE(LwsWriter::write(f.scene, "written.lws"));
    std::string written = readFile("written.lws");
    EXPECT_NE(written.find("LoadObjectLayer 1 simple_cube.lwo\n"), std::string::npos);

    Scene* again = new Scene(f.meta.get());
    f.meta->scenes.push_back(again);
    ASSERT_TRUE(loadText(*again, written, &files));
    expectSameScenes(*f.scene, *again);
    EXPECT_EQ(again->objects[0]->mesh, f.scene->objects[0]->mesh);

    // The third-party reader finds the same lights, cameras and faces.
    std::filesystem::copy_file(std::string(kPackageDir) + "simple_cube.lwo", "simple_cube.lwo",
                               std::filesystem::copy_options::overwrite_existing);
    auto counts = [](const std::string& file) {
        std::string out;
        FILE* p = popen(("assimp info " + file + " -r 2>/dev/null").c_str(), "r");
        if (!p)
            return out;
        char line[256];
        while (fgets(line, sizeof line, p))
            if (!std::strncmp(line, "Lights:", 7) || !std::strncmp(line, "Cameras:", 8) ||
                !std::strncmp(line, "Faces:", 6))
                out += line;
        pclose(p);
        return out;
    };
    std::string expected = counts(std::string(kPackageDir) + "move_x_oldformat_6.lws");
    if (expected.empty())
        GTEST_SKIP() << "the third-party reader is not installed";
    EXPECT_EQ(counts("written.lws"), expected);
}

} // namespace
