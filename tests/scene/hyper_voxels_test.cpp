// HyperVoxel sprites and volumes drawn on a headless device.
#include "fx_test_support.h"

#include "materials/texture_layer.h"
#include "scene/hv_object.h"
#include "scene/particle_fx.h"

#include <climits>
#include <cmath>

using namespace scenetest;
using namespace fxtest;
using platform::d3d9::DeviceCall;

namespace {

struct HVRig : SceneFixture {
    std::unique_ptr<TestCamera> holder;
    TestCamera* camera = nullptr;
    std::vector<Particle> pool = std::vector<Particle>(HVObject::kCapacity);
    HVRig()
    {
        if (scene) {
            holder = std::make_unique<TestCamera>(scene);
            camera = holder.get();
        }
    }
    void place(int i, float x, float y, float z)
    {
        pool[i] = Particle{{x, y, z}, {0, 0, 0}, 1.0f, {1, 0, 0}, 1};
    }
    std::vector<DeviceCall> draw(HVObject& hv, double t = 0.0)
    {
        platform::d3d9::setCallLogging(device(), true);
        device()->BeginScene();
        hv.render(t, pool.data(), i32(pool.size()), camera);
        device()->EndScene();
        auto log = platform::d3d9::takeCallLog(device());
        platform::d3d9::setCallLogging(device(), false);
        return log;
    }
    u32 pixel(int x, int y) { return backPixels(device())[size_t(y) * 64 + x]; }
};

// A sprite at depth 10 is 0.08 x 0.1 x 1000 = 8 pixels wide at the centre (32, 24).
void spriteSetUp(HVSprite& hv)
{
    hv.particleSize.value = 0.08f;
    hv.luminosity.value = 0.5f;
    hv.color[0].value = 1.0f, hv.color[1].value = 0.5f, hv.color[2].value = 0.25f;
}

TEST(HyperVoxels, SpriteCoversItsSquareOnceAndAddsUp)
{
    HVRig rig;
    REQUIRE_ENGINE(rig.engine);
    HVSprite hv(rig.engine.get());
    spriteSetUp(hv);
    rig.place(0, 0, 0, 10);
    clearTarget(rig.device());
    const auto log = rig.draw(hv);
    const u32 once = rig.pixel(32, 24);
    EXPECT_NE(once & 0xFF0000, 0u);
    // Colour times luminosity: red above green above blue.
    EXPECT_GT((once >> 16) & 0xFF, (once >> 8) & 0xFF);
    EXPECT_GT((once >> 8) & 0xFF, once & 0xFF);
    EXPECT_EQ(rig.pixel(27, 24), 0u) << "left of the square";
    EXPECT_EQ(rig.pixel(32, 19), 0u) << "above the square";
    EXPECT_EQ(rig.pixel(36, 28), 0u) << "beyond the corner";

    // One draw of two triangles, blending off afterwards.
    const auto draws = callsNamed(log, "DrawPrimitive");
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].args, (std::vector<double>{D3DPT_TRIANGLELIST, 0, 2}));
    EXPECT_EQ(renderStateValues(log, D3DRS_ALPHABLENDENABLE).back(), 0.0);

    // The same sprite twice adds up.
    rig.place(1, 0, 0, 10);
    clearTarget(rig.device());
    rig.draw(hv);
    const u32 twice = rig.pixel(32, 24);
    EXPECT_NEAR(double((twice >> 16) & 0xFF), std::min(255.0, 2.0 * ((once >> 16) & 0xFF)), 2.0);
}

TEST(HyperVoxels, SpriteDepthAndClipping)
{
    HVRig rig;
    REQUIRE_ENGINE(rig.engine);
    HVSprite hv(rig.engine.get());
    spriteSetUp(hv);
    rig.place(0, 0, 0, 10);
    rig.place(1, 0, 0, -10); // behind the camera: skipped
    clearTarget(rig.device(), 0.0f);
    auto log = rig.draw(hv);
    EXPECT_EQ(rig.pixel(32, 24), 0u) << "behind the cleared depth";
    ASSERT_EQ(callsNamed(log, "DrawPrimitive").size(), 1u);
    EXPECT_EQ(callsNamed(log, "DrawPrimitive")[0].args[2], 2.0);
}

TEST(HyperVoxels, SpriteColourWithATextureLayer)
{
    HVRig rig;
    REQUIRE_ENGINE(rig.engine);
    texturetest::BuiltTexture white(rig.engine.get(), 0);
    ASSERT_TRUE(white.create2D(4, 4, 0, "white"));
    texturetest::fillLevel0(white, [](int, int) { return 0xFFFFFFFFu; });
    struct Case {
        i32 opacityType;
        bool grey;
    };
    for (const Case c : {Case{0, true}, Case{3, false}}) {
        HVSprite hv(rig.engine.get());
        spriteSetUp(hv);
        auto* layer = new TextureLayer;
        layer->texture = &white;
        layer->opacityType = c.opacityType;
        hv.textureLayers.push_back(layer);
        rig.place(0, 0, 0, 10);
        clearTarget(rig.device());
        rig.draw(hv);
        const u32 p = rig.pixel(32, 24);
        EXPECT_NE(p & 0xFF0000, 0u);
        EXPECT_EQ(((p >> 16) & 0xFF) == (p & 0xFF), c.grey) << c.opacityType;
    }
}

TEST(HyperVoxels, SpritesDrawAfterALostDeviceIsReset)
{
    HVRig rig;
    REQUIRE_ENGINE(rig.engine);
    HVSprite hv(rig.engine.get());
    spriteSetUp(hv);
    rig.place(0, 0, 0, 10);
    platform::d3d9::forceDeviceLost(rig.device());
    platform::d3d9::forceDeviceLost(rig.device(), false);
    rig.engine->releaseSurfaces();
    ASSERT_EQ(rig.engine.manager.resetDevices(), D3D_OK);
    rig.engine->restoreSurfaces();
    clearTarget(rig.device());
    rig.draw(hv);
    EXPECT_NE(rig.pixel(32, 24) & 0xFF0000, 0u);
}

TEST(HyperVoxels, UnfittedDepthRangeIsAnInternalErrorAtLevelThree)
{
    HVRig rig;
    REQUIRE_ENGINE(rig.engine);
    HVSprite hv(rig.engine.get());
    rig.place(0, 0, 0, 10);
    for (int level : {2, 3}) {
        texturetest::Diagnostics diagnostics(level);
        rig.camera->depthFitted = 0;
        rig.draw(hv);
        const auto boxes = texturetest::boxTexts();
        if (level == 2) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_NE(boxes[0].find("- internal error -"), std::string::npos) << boxes[0];
        }
    }
}

TEST(HyperVoxels, VolumeIndicesDrawAndTextureRotation)
{
    HVRig rig;
    REQUIRE_ENGINE(rig.engine);
    HVVolume hv(rig.engine.get());
    rig.place(0, 0, 0, 10);
    rig.place(2, 1, 0, 10); // record 1 dead: the second living particle is k = 1
    struct Case {
        i32 slices, drawnSlices;
    };
    for (const Case c : {Case{3, 3}, Case{1000, 32}, Case{-5, 0}}) {
        hv.sliceCount = c.slices;
        const auto log = rig.draw(hv, 1.0);
        const auto draws = callsNamed(log, "DrawIndexedPrimitive");
        if (c.drawnSlices == 0) {
            EXPECT_TRUE(draws.empty());
            continue;
        }
        ASSERT_EQ(draws.size(), 1u) << c.slices;
        EXPECT_EQ(draws[0].args[3], 4.0 * c.drawnSlices);
        EXPECT_EQ(draws[0].args[5], 2.0 * c.drawnSlices * 2);
        EXPECT_EQ(renderStateValues(log, D3DRS_ALPHABLENDENABLE).back(), 0.0);
        // A surface's shaders may still be bound when no sprite drew before.
        EXPECT_TRUE(drawsUnshaded(log, "SetVertexShader"));
        EXPECT_TRUE(drawsUnshaded(log, "SetPixelShader"));
    }
    // The index pattern of slice 2 of the second living particle, with 3 slices.
    hv.sliceCount = 3;
    const auto log = rig.draw(hv, 1.0);
    void* data = nullptr;
    ASSERT_NE(hv.indexBuffer, nullptr);
    ASSERT_EQ(hv.indexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    const u16* idx = static_cast<const u16*>(data) + (1 * 3 + 2) * 6;
    EXPECT_EQ(std::vector<u16>(idx, idx + 6), (std::vector<u16>{8, 9, 10, 10, 9, 11}));
    hv.indexBuffer->Unlock();

    // At t = 1 the volume turns by 14 degrees about its centre.
    for (const auto& call : callsNamed(log, "SetTransform")) {
        if (call.args[0] != double(D3DTS_TEXTURE0))
            continue;
        D3DMATRIX m;
        ASSERT_EQ(call.data.size(), sizeof m);
        std::memcpy(&m, call.data.data(), sizeof m);
        EXPECT_NEAR(m._11, std::cos(14.0 * 0.017453292519943295), 1e-6);
        EXPECT_NEAR(0.5f * (m._11 + m._21 + m._31) + m._41, 0.5f, 1e-6);
        EXPECT_NEAR(0.5f * (m._13 + m._23 + m._33) + m._43, 0.5f, 1e-6);
    }
}

// The index buffer holds what the draws need (not 3.8 MB per volume) and grows with them.
TEST(HyperVoxels, VolumeIndexBufferFollowsWhatIsDrawn)
{
    HVRig rig;
    REQUIRE_ENGINE(rig.engine);
    HVVolume hv(rig.engine.get());
    struct Case {
        int living, slices;
        UINT sizeBelow;
    };
    for (const Case c : {Case{2, 3, 4096}, Case{1000, 32, UINT_MAX}, Case{5, 4, UINT_MAX}}) {
        for (int i = 0; i < HVObject::kCapacity; ++i)
            rig.pool[i].alive = 0;
        for (int i = 0; i < c.living; ++i)
            rig.place(i, 0, 0, 10);
        hv.sliceCount = c.slices;
        const auto draws = callsNamed(rig.draw(hv), "DrawIndexedPrimitive");
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(draws[0].args[5], 2.0 * c.slices * c.living);
        D3DINDEXBUFFER_DESC desc{};
        ASSERT_NE(hv.indexBuffer, nullptr);
        hv.indexBuffer->GetDesc(&desc);
        EXPECT_GE(desc.Size, c.living * c.slices * 6 * sizeof(u16)) << c.living;
        EXPECT_LT(desc.Size, c.sizeBelow) << c.living;
    }
}

TEST(HyperVoxels, VolumeSlicesFaceTheCamera)
{
    HVRig rig;
    REQUIRE_ENGINE(rig.engine);
    HVVolume hv(rig.engine.get());
    hv.sliceCount = 1;
    rig.place(0, 3, 4, 10); // the camera lies along (-3, -4, -10) from it
    const auto log = rig.draw(hv);
    for (const auto& call : callsNamed(log, "SetTransform")) {
        if (call.args[0] != double(D3DTS_WORLD))
            continue;
        D3DMATRIX m;
        std::memcpy(&m, call.data.data(), sizeof m);
        const float len = std::sqrt(9.0f + 16.0f + 100.0f);
        EXPECT_NEAR(m._31, -3 / len, 1e-5);
        EXPECT_NEAR(m._32, -4 / len, 1e-5);
        EXPECT_NEAR(m._33, -10 / len, 1e-5);
        EXPECT_EQ(m._41, 0.0f);
    }
}

TEST(HyperVoxels, FailedBuffersDrawNothing)
{
    HVRig rig;
    REQUIRE_ENGINE(rig.engine);
    platform::d3d9::failBufferCreation(rig.device());
    HVSprite sprite(rig.engine.get());
    HVVolume volume(rig.engine.get());
    platform::d3d9::failBufferCreation(rig.device(), false);
    volume.sliceCount = 4;
    rig.place(0, 0, 0, 10);
    EXPECT_TRUE(callsNamed(rig.draw(sprite), "DrawPrimitive").empty());
    EXPECT_TRUE(callsNamed(rig.draw(volume), "DrawIndexedPrimitive").empty());
}

} // namespace
