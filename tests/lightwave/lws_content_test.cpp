#include "lws_test_support.h"

#include "lightwave/meta_scene.h"
#include "materials/image_cache.h"
#include "scene/anti_portal.h"
#include "scene/bone.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/particle_fx.h"
#include "scene/poly_mesh.h"
#include "scene/scene_test_support.h"
#include "tools/mkcontent/content.h"
#include "tools/mkcontent/lws_emitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

using namespace lwstest;

namespace {

MemoryStream allContent()
{
    MemoryStream files;
    for (const mkcontent::ContentFile& file : mkcontent::allContentFiles())
        if (!file.name.ends_with(".lws") || file.name.starts_with("scenes/"))
            files.files[file.name] = file.build();
    return files;
}

// The generated scenes load whole: every object with its mesh, the bones,
// lights and cameras they were written with.
TEST(LwsContent, GeneratedScenesLoad)
{
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    texturetest::Diagnostics d(1);
    MemoryStream files = allContent();
    struct Case {
        const char* name;
        size_t objects, lights, cameras, portals, bones;
    } cases[] = {
        {"scenes/intro.lws", 5, 2, 2, 0, 0},
        {"scenes/hall.lws", 14, 3, 3, 1, 2},
        {"scenes/outro.lws", 1, 1, 1, 0, 0},
        {"scenes/fx.lws", 5, 2, 1, 0, 0},
    };
    for (const Case& c : cases) {
        Scene* scene = new Scene(f.meta.get());
        f.meta->scenes.push_back(scene);
        ASSERT_TRUE(loadLWS(c.name, scene, &files, nullptr, 0, 0)) << c.name;
        EXPECT_EQ(scene->objects.size(), c.objects) << c.name;
        EXPECT_EQ(scene->lights.size(), c.lights) << c.name;
        EXPECT_EQ(scene->cameras.size(), c.cameras) << c.name;
        EXPECT_EQ(scene->antiPortals.size(), c.portals) << c.name;
        size_t bones = 0;
        for (Object* o : scene->objects) {
            if (o->mesh && o->mesh->asPolyMesh())
                bones += o->mesh->asPolyMesh()->bones.size();
            if (o->name.c_str()[0] != 'o') // null objects keep their names
                continue;
            EXPECT_NE(o->mesh, nullptr) << o->name.c_str();
        }
        EXPECT_EQ(bones, c.bones) << c.name;
    }
    EXPECT_TRUE(texturetest::boxTexts().empty());
    Scene* intro = f.meta->scenes[1];
    EXPECT_EQ(intro->fogType, D3DFOG_LINEAR);
    EXPECT_EQ(intro->objects[1]->parent, intro->objects[0]);
    EXPECT_EQ(intro->cameras[1]->target, intro->objects[1]);
    EXPECT_NE(intro->lights[1]->intensity.source, nullptr);
    // The hall's mirror turns its local -Y towards the first camera.
    Scene* hall = f.meta->scenes[2];
    const D3DMATRIX& m = *hall->objects[2]->worldMatrixAt(0);
    const D3DMATRIX& c = *hall->cameras[0]->worldMatrixAt(0);
    EXPECT_LT(m._21 * (c._41 - m._41) + m._22 * (c._42 - m._42) + m._23 * (c._43 - m._43), 0.0f);
    // The content's pictures are cached now; the cache's references go
    // here, or they outlive the last pointer to them at exit.
    clearImageCache();
}

// The particle scene in steps of 1/25 s: the first spark and the first
// smoke particle each travel a good way from where they were born before
// they die, not just round their emitter.
TEST(LwsContent, ParticlesLeaveTheirEmitters)
{
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    texturetest::Diagnostics d(0);
    MemoryStream files = allContent();
    Scene* scene = new Scene(f.meta.get());
    f.meta->scenes.push_back(scene);
    ASSERT_TRUE(loadLWS("scenes/fx.lws", scene, &files, nullptr, 0, 0));
    struct Followed {
        std::string emitter;
        float born[3];
        float farthest = -1.0f;
    };
    std::vector<Followed> followed = {{"Emitter", {}}, {"Plume", {}}};
    for (int frame = 0; frame <= 75; ++frame) {
        scene->updateParticles(nullptr, frame * 0.04);
        for (ParticleFX* fx : scene->fxEmitter) {
            FXEmitter* e = fx->asEmitter();
            for (Followed& one : followed) {
                if (e->particles.size() < 2 || one.emitter != e->node->name.c_str() || !e->particles[1].alive)
                    continue;
                const float* p = e->particles[1].position;
                if (one.farthest < 0.0f)
                    std::copy(p, p + 3, one.born);
                one.farthest = std::max(one.farthest, std::hypot(p[0] - one.born[0], p[1] - one.born[1],
                                                                 p[2] - one.born[2]));
            }
        }
    }
    for (const Followed& one : followed)
        EXPECT_GT(one.farthest, 1.0f) << one.emitter;
    clearImageCache();
}

// Metascripts over generated scenes: entries, comments and quotes, and
// each scene's share of the loading bar.
TEST(LwsContent, MetascriptOverScenes)
{
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    texturetest::Diagnostics d(0);
    MemoryStream files = allContent();
    files.files["demo.mts"] = "; the demo\nscenes/outro.lws ignored scenes/hall.lws\n\"scenes/intro.lws\"\n";
    Progress progress;
    std::unique_ptr<MetaScene> meta(MetaScene::loadMetascript("demo.mts", f.engine.get(), &files, &progress));
    ASSERT_TRUE(meta);
    ASSERT_EQ(meta->scenes.size(), 3u);
    EXPECT_STREQ(meta->scenes[1]->name, "scenes/hall.lws");
    // outro's one object, hall's 14 from 0.1333, intro's 5 from 0.2667.
    ASSERT_EQ(progress.fractions.size(), 20u);
    EXPECT_FLOAT_EQ(progress.fractions[0], 0.0f);
    EXPECT_NEAR(progress.fractions[1], 0.13333f, 1e-4);
    EXPECT_NEAR(progress.fractions[15], 0.26667f, 1e-4);
    EXPECT_LT(progress.fractions.back(), 0.4f);

    files.files["bad.mts"] = "scenes/outro.lws\nmissing.lws\n";
    EXPECT_EQ(MetaScene::loadMetascript("bad.mts", f.engine.get(), &files, nullptr), nullptr);
    clearImageCache();
}

} // namespace
