// Render targets from scene and object files stay within the engine's limits.
#include "lwo2_test_support.h"
#include "lws_test_support.h"

#include "../log_test_support.h"
#include "foundation/engine_limits.h"
#include "materials/engine.h"
#include "scene/light.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using namespace lwo2test;
using ::testing::Contains;
using ::testing::HasSubstr;

namespace {

// 16384 texels would take 2.3 GB of colour and depth: the size stops at the limit.
TEST(RenderTargetLimits, ShadowMapSizeStopsAtTheLimit)
{
    scenetest::SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    const auto from = testsupport::logPosition();
    ASSERT_TRUE(lwstest::loadText(*f.scene, lwstest::lws("AddLight LightName Big ShadowType 2 ShadowMapSize 16384")));
    EXPECT_EQ(f.scene->lights.at(0)->shadowMapSize, limits::shadowMapEdge);
    EXPECT_THAT(testsupport::logLinesFrom(from),
                Contains(HasSubstr("ShadowMapSize 16384 of light \"Big\" lowered to 4096")));
}

// With less room left in the metascene's budget than one more target takes, it is left out.
TEST(RenderTargetLimits, MetasceneTargetsStayWithinTheBudget)
{
    struct Kind {
        const char* logText;
        // Makes target n (0 or 1); whether it was made.
        std::function<bool(Loader&, int)> make;
    };
    const Kind kinds[] = {
        {"shadow map of light \"L1\" left out",
         [](Loader& f, int n) {
             auto* light = new Light(f.scene, n);
             f.scene->lights.push_back(light);
             light->name = n ? "L1" : "L0";
             light->shadowType = 2;
             light->shadowMapSize = 512;
             light->createResources();
             return light->shadowColorSurface != nullptr && light->shadowType == 2;
         }},
        {"cube reflection of surface \"o1.lwo@Mirror\" left out",
         [](Loader& f, int n) {
             Bytes b = quadObject("Mirror");
             b.chunk("SURF", surf("Mirror", Bytes().sub("RFOP", Bytes().u2(3))));
             const std::string file = "o" + std::to_string(n) + ".lwo";
             f.load(file, b.form());
             Surface* s = f.surface((file + "@Mirror").c_str());
             return s && s->cubeTexture != nullptr;
         }},
    };
    for (const Kind& kind : kinds) {
        Loader f;
        REQUIRE_ENGINE(f.engine);
        f.engine->fixedFunction = 0;
        ASSERT_TRUE(kind.make(f, 0)) << kind.logText;
        f.meta->targetBytes = limits::metaSceneTargetBytes - f.meta->targetBytes / 2;
        const auto from = testsupport::logPosition();
        EXPECT_FALSE(kind.make(f, 1)) << kind.logText;
        EXPECT_THAT(testsupport::logLinesFrom(from), Contains(HasSubstr(kind.logText)));
    }
}

} // namespace
