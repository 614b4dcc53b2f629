// Lights: the fixed-function record and the shader constants per falloff,
// flicker, reach, shadow-map resources, and the lit pixels of a point light.
#include "scene_test_support.h"

#include "platform/device_test_support.h"

#include "platform/d3d9/device_test_api.h"
#include "scene/light.h"
#include "scene/mesh.h"
#include "scene/object.h"

#include <cmath>
#include <cstring>
#include <set>

namespace {

using namespace scenetest;

class SphereMesh : public Mesh {
public:
    explicit SphereMesh(Engine* engine) : Mesh(engine, nullptr) { setBoundingBox({-1, -1, -1}, {1, 1, 1}); }
    bool prepare() override { return true; }
    void updateBounds() override {}
    void render(double, Object*, Node*, i32) override {}
    const D3DVECTOR* points() const override { return nullptr; }
};

// Every uniform and switch value, to see that a call wrote nothing.
std::vector<u8> parameterBytes(Engine& e)
{
    std::vector<u8> bytes;
    for (ShaderParameters* block : {static_cast<ShaderParameters*>(e.uniforms), static_cast<ShaderParameters*>(e.switches)})
        for (const ShaderParam& p : block->params) {
            const u8* s = static_cast<const u8*>(p.storage);
            bytes.insert(bytes.end(), s, s + p.byteSize());
        }
    return bytes;
}

TEST(Light, FalloffTypesInBothPaths)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    Engine& e = *f.engine.get();
    f.scene->globalLightIntensity.value = 0.5f;
    const struct {
        const char* name;
        i32 falloff;
        bool boost;
        float range, diffuseRed, att[3];
        i32 shaderType;
        float shaderAtt[3];
    } cases[] = {
        {"none", 0, false, 1.0e19f, 1.0f, {1, 0, 0}, 0, {1, 0, 0}},
        {"linear", 1, false, 9.165151f, 1.0f, {1, 0, 0.25f}, 1, {1, -0.25f, 0}},
        {"linear, boosted", 1, true, 4.320494f, 2.0f, {1, 0, 0.25f}, 1, {1, -0.25f, 0}},
        {"inverse distance", 2, false, 84.0f, 1.0f, {0, 0.25f, 0}, 2, {0, 0.25f, 0}},
        {"inverse square", 3, false, 18.330303f, 1.0f, {0, 0, 0.0625f}, 2, {0, 0, 0.0625f}},
    };
    for (const auto& c : cases) {
        Light light(f.scene, 0);
        light.lightType = 1;
        light.red.value = 1.0f, light.green.value = 0.5f, light.blue.value = 0.25f;
        light.intensity.value = 2.0f;
        light.range.value = 4.0f;
        light.coneAngle.value = 0.5f;
        light.edgeAngle.value = 0.1f;
        light.falloffType = c.falloff;
        e.lightFalloff = c.boost;
        light.updateD3DLight(0.0);
        EXPECT_NEAR(light.Range, c.range, c.range * 1e-5f) << c.name;
        EXPECT_FLOAT_EQ(light.Diffuse.r, c.diffuseRed) << c.name;
        EXPECT_FLOAT_EQ(light.Attenuation0, c.att[0]) << c.name;
        EXPECT_FLOAT_EQ(light.Attenuation1, c.att[1]) << c.name;
        EXPECT_FLOAT_EQ(light.Attenuation2, c.att[2]) << c.name;
        EXPECT_NEAR(light.Theta, 0.8f, 1e-6f);
        EXPECT_NEAR(light.Phi, 1.0f, 1e-6f);

        light.setShaderConstants(3, 0.0);
        EXPECT_EQ(e.switches->pointLightFalloffType[3], c.shaderType) << c.name;
        for (int k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ(e.uniforms->pointLightAttenuation[9 + k], c.shaderAtt[k]) << c.name;
        EXPECT_FLOAT_EQ(e.uniforms->pointLightColor[9], 1.0f) << c.name; // never boosted
        const auto before = parameterBytes(e);
        light.setShaderConstants(8, 0.0);
        EXPECT_EQ(parameterBytes(e), before) << c.name;
    }
    e.lightFalloff = 0;
}

TEST(Light, SpotAndDistantConstants)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    ShaderUniforms& u = *f.engine->uniforms;
    D3DMATRIX view{};
    view._11 = view._22 = view._33 = view._44 = 1.0f;
    view._43 = 10.0f;
    u.view = view;
    Light spot(f.scene, 0);
    spot.lightType = 2;
    spot.intensity.value = 1.0f;
    spot.coneAngle.value = 0.5f;
    spot.edgeAngle.value = 0.1f;
    spot.channels[kPositionZ].value = 1.0f;
    spot.setShaderConstants(0, 0.0);
    EXPECT_FLOAT_EQ(u.spotLightPos[2], 11.0f);
    EXPECT_FLOAT_EQ(u.spotLightDir[2], -1.0f); // against the light's z axis
    EXPECT_NEAR(u.spotLightCosTheta[0], std::cos(0.4f), 1e-6f);
    EXPECT_NEAR(u.spotLightCosThetaMinusCosPhi[0], std::cos(0.4f) - std::cos(0.5f), 1e-6f);
    Light distant(f.scene, 1);
    distant.intensity.value = 1.0f;
    distant.setShaderConstants(0, 0.0);
    EXPECT_FLOAT_EQ(u.distantLightDir[2], -1.0f);
}

TEST(Light, FlickerOnlyForPointLightsUnderLightFlash)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    Engine& e = *f.engine.get();
    std::set<u32> table(std::begin(Light::kFlickerColors), std::end(Light::kFlickerColors));
    const struct {
        const char* name;
        i32 type;
        bool flash;
        bool flickers;
    } cases[] = {
        {"point, flash", 1, true, true},
        {"point, no flash", 1, false, false},
        {"spot, flash", 2, true, false},
        {"distant, flash", 0, true, false},
    };
    for (const auto& c : cases) {
        Light light(f.scene, 0);
        light.lightType = c.type;
        light.red.value = 0.2f;
        e.lightFlash = c.flash;
        float previous[4] = {-1, -1, -1, -1};
        int changes = 0;
        for (int step = 0; step <= 400; ++step) {
            const double t = step * 0.05;
            float col[4];
            light.colorAt(t, col);
            if (c.flickers) {
                const u32 rgb = (u32(col[0] * 255.0f + 0.5f) << 16) | (u32(col[1] * 255.0f + 0.5f) << 8) |
                                u32(col[2] * 255.0f + 0.5f);
                EXPECT_TRUE(table.count(rgb)) << c.name << " t=" << t;
            } else {
                EXPECT_FLOAT_EQ(col[0], 0.2f) << c.name;
            }
            if (std::memcmp(col, previous, sizeof col) != 0)
                ++changes;
            std::memcpy(previous, col, sizeof col);
        }
        // 20 seconds hold at most one change per period (plus the first).
        EXPECT_LE(changes, int(20.0 / light.flickerPeriod) + 2) << c.name;
        if (c.flickers) {
            EXPECT_GT(changes, 3) << c.name;
        }
    }
    e.lightFlash = 0;
}

TEST(Light, ReachAndRanking)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    SphereMesh mesh(f.engine.get());
    const struct {
        const char* name;
        float lightX, range, intensity;
        bool off, excluded;
        bool reaches;
        float ranked;
    } cases[] = {
        {"near", 3.0f, 1.0f, 1.0f, false, false, true, 0.78867514f}, // 1 / (3 - sqrt 3),
        {"beyond ten ranges", 30.0f, 1.0f, 1.0f, false, false, false, -1.0f},
        {"inside the sphere", 0.5f, 1.0f, 1.0f, false, false, true, 1.0e6f},
        {"too dim", 3.0f, 1.0f, 0.0000001f, false, false, false, -1.0f},
        {"off", 3.0f, 1.0f, 1.0f, true, false, false, -1.0f},
        {"excluded", 3.0f, 1.0f, 1.0f, false, true, false, -1.0f},
    };
    for (const auto& c : cases) {
        Object object(f.scene, 0);
        object.mesh = &mesh;
        Light light(f.scene, 4);
        light.lightType = 1;
        light.falloffType = 2;
        light.range.value = c.range;
        light.intensity.value = c.intensity;
        light.off = c.off;
        if (c.excluded)
            object.excludedLights = {7, 4};
        light.channels[kPositionX].value = c.lightX;
        light.updateD3DLight(0.0);
        light.selectFor(object, 0.0);
        EXPECT_EQ(bool(light.affectsObject), c.reaches) << c.name;
        const float ranked = light.intensityAt(object, 0.0);
        EXPECT_TRUE(std::isfinite(ranked)) << c.name;
        if (c.ranked > 0.0f) {
            EXPECT_NEAR(ranked, c.ranked, c.ranked * 1e-3f) << c.name;
        }
    }
}

TEST(Light, ShadowTargetsOnlyOnTheShaderPathWithShadowMaps)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    Engine& e = *f.engine.get();
    const u8 savedFixed = e.fixedFunction;
    const struct {
        const char* name;
        u8 fixedFunction;
        i32 shadowType;
        bool targets;
    } cases[] = {
        {"shader path, shadow map", 0, 2, true},
        {"fixed function", 1, 2, false},
        {"no shadow map", 0, 1, false},
    };
    for (const auto& c : cases) {
        Light light(f.scene, 0);
        light.lightType = 2;
        light.shadowType = c.shadowType;
        light.shadowMapSize = 64;
        e.fixedFunction = c.fixedFunction;
        platform::d3d9::setCallLogging(f.device(), true);
        light.createResources();
        const auto log = platform::d3d9::takeCallLog(f.device());
        platform::d3d9::setCallLogging(f.device(), false);
        EXPECT_EQ(light.Type, D3DLIGHT_SPOT);
        EXPECT_TRUE(light.setUp);
        bool madeTarget = false;
        for (const auto& call : callsNamed(log, "CreateTexture"))
            if (call.args[3] == D3DUSAGE_RENDERTARGET && call.args[0] == 64)
                madeTarget = true;
        EXPECT_EQ(madeTarget, c.targets) << c.name;
        EXPECT_EQ(light.shadowColorSurface != nullptr, c.targets) << c.name;
        EXPECT_EQ(light.shadowDepthSurface != nullptr, c.targets) << c.name;
        if (c.targets) {
            EXPECT_FLOAT_EQ(light.shadowTexMatrix._41, 0.5f + 0.5f / 64.0f);
        }
    }
    e.fixedFunction = savedFixed;
}

TEST(Light, ShadowFrustumAndZeroConeStayFinite)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    Light light(f.scene, 0);
    light.coneAngle.value = float(M_PI / 4);
    light.buildProjection(0.0);
    EXPECT_NEAR(light.projection._11, 0.75f, 1e-6f);
    EXPECT_NEAR(light.projection._22, 1.0f, 1e-6f);
    light.coneAngle.value = 0.0f;
    light.range.value = 0.0f;
    light.falloffType = 3;
    light.buildProjection(0.0);
    light.updateD3DLight(0.0);
    EXPECT_TRUE(std::isfinite(light.projection._11) && std::isfinite(light.Attenuation2));
}

// Points lit by a falloff-3 point light through the fixed-function path,
// each with its normal towards the light: the lit value follows
// 1 / (Attenuation2 d^2) and is black beyond Range.
TEST(Light, PointLightPixelsFollowInverseSquare)
{
    SceneFixture f;
    REQUIRE_ENGINE(f.engine);
    IDirect3DDevice9* d = f.device();
    Light light(f.scene, 0);
    light.lightType = 1;
    light.falloffType = 3;
    light.red.value = light.green.value = light.blue.value = 1.0f;
    light.intensity.value = 0.5f;
    light.range.value = 2.0f; // Attenuation2 = 0.25, Range = sqrt(0.5) x 2 x 6 = 8.49
    light.channels[kPositionZ].value = -1.0f;
    light.createResources();
    light.updateD3DLight(0.0);
    ASSERT_FLOAT_EQ(light.Attenuation2, 0.25f);
    d->SetLight(0, &light);
    d->LightEnable(0, TRUE);
    D3DMATERIAL9 material{};
    material.Diffuse = {1, 1, 1, 1};
    d->SetMaterial(&material);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_AMBIENT, 0);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    D3DMATRIX view{}, proj{}, world{};
    view._11 = view._22 = view._33 = view._44 = 1.0f;
    view._43 = 5.0f;
    proj._11 = proj._22 = 1.0f / 12.0f;
    proj._33 = 0.01f;
    proj._44 = 1.0f;
    world._11 = world._22 = world._33 = world._44 = 1.0f;
    d->SetTransform(D3DTS_VIEW, &view);
    d->SetTransform(D3DTS_PROJECTION, &proj);
    d->SetTransform(D3DTS_WORLD, &world);
    ComRef<IDirect3DSurface9> back;
    ASSERT_EQ(d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
    D3DSURFACE_DESC desc;
    back->GetDesc(&desc);
    // One point on each pixel centre of the middle row, right half: x from
    // 0 to 12 world units in the plane z = 0.
    struct V {
        float x, y, z, nx, ny, nz;
    };
    std::vector<V> points;
    for (UINT i = desc.Width / 2; i < desc.Width; ++i) {
        const float x = (2.0f * float(i) / float(desc.Width) - 1.0f) * 12.0f;
        const float len = std::sqrt(x * x + 1.0f);
        points.push_back({x, 0.0f, 0.0f, -x / len, 0.0f, -1.0f / len});
    }
    d->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    d->BeginScene();
    d->DrawPrimitiveUP(D3DPT_POINTLIST, UINT(points.size()), points.data(), sizeof(V));
    d->EndScene();
    const auto pixels = readTarget(d, back.get());
    ASSERT_FALSE(pixels.empty());
    const UINT row = desc.Height / 2;
    int litPoints = 0, darkPoints = 0;
    for (size_t k = 0; k < points.size(); ++k) {
        const UINT column = desc.Width / 2 + UINT(k);
        const float dist2 = points[k].x * points[k].x + 1.0f;
        const float expected = std::sqrt(dist2) > light.Range ? 0.0f : std::fmin(1.0f, 1.0f / (0.25f * dist2) * 0.5f);
        const u32 p = pixels[row * desc.Width + column];
        EXPECT_NEAR(float((p >> 8) & 0xFF), expected * 255.0f, 2.5f) << "x=" << points[k].x;
        (expected > 0.0f ? litPoints : darkPoints)++;
    }
    EXPECT_GT(litPoints, 3);
    EXPECT_GT(darkPoints, 3);
}

} // namespace
