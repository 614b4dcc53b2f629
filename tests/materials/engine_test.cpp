#include "materials/engine.h"

#include "display/device_window.h"
#include "display/display_manager.h"
#include "foundation/diagnostics.h"
#include "materials/shader_parameters.h"

#include "platform/d3d9/adapter_profiles.h"

#include "log_test_support.h"
#include "output_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using testsupport::LevelGuard;
using testsupport::Outputs;

// Outputs written by hand, without windows or devices: the engine's choices
// from the adapter's lists and the back buffers' depth format.
struct HandBuiltOutputs {
    AdapterInfo adapter;
    DisplayManager manager;

    HandBuiltOutputs(std::vector<D3DFORMAT> renderTargetTextures, D3DFORMAT backBufferDepth, int count = 1)
    {
        for (D3DFORMAT f : renderTargetTextures) {
            const FormatDesc* row = findFormatDesc(f);
            EXPECT_NE(row, nullptr);
            adapter.renderTargetTextureFormats.push_back(row);
        }
        manager.deviceCount = count;
        manager.devices = new DeviceWindow[count];
        for (int i = 0; i < count; ++i) {
            manager.devices[i].adapterInfo = &adapter;
            manager.devices[i].depthFormat = findFormatDesc(backBufferDepth);
        }
    }
};

D3DMATRIX filled(float base)
{
    D3DMATRIX m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m.m[r][c] = base + static_cast<float>(4 * r + c);
    return m;
}

TEST(EngineTest, FreshEngineState)
{
    HandBuiltOutputs outputs({D3DFMT_A8R8G8B8}, D3DFMT_D24S8);
    Engine engine(&outputs.manager);

    ASSERT_NE(engine.switches, nullptr);
    ASSERT_NE(engine.uniforms, nullptr);
    EXPECT_EQ(engine.switches->engine, &engine);
    EXPECT_EQ(engine.uniforms->engine, &engine);
    EXPECT_EQ(engine.currentIndex, 0);
    EXPECT_EQ(engine.adapter, &outputs.adapter);

    // The field of view of the reference lens: 2 atan(1/2.4) = 2 x 0.394791
    // rad = 45.2397 degrees; 2 atan(1/3.2) = 2 x 0.302885 rad = 34.7080.
    EXPECT_NEAR(engine.fovX, 45.2397f, 1e-4f);
    EXPECT_NEAR(engine.fovY, 34.7080f, 1e-4f);
    EXPECT_EQ(engine.lensCurrent, engine.lensReference);
    // Nothing drawn yet, no eye chosen, no stereo change pending.
    EXPECT_EQ(engine.primitivesDrawn + engine.drawCalls + engine.framesRendered, 0u);
    EXPECT_EQ(engine.stereoEye, -1);
    EXPECT_EQ(engine.stereoSeparationPrevious, engine.stereoSeparation);
    EXPECT_EQ(engine.zeroParallaxPrevious, engine.zeroParallax);
    // The device's own defaults: all four channels, counter-clockwise culled.
    EXPECT_EQ(engine.colorWriteMask, 0x0Fu);
    EXPECT_EQ(engine.defaultCullMode, static_cast<u32>(D3DCULL_CCW));

    // Default settings: fixed-function mode, with no plain and no bake pair
    // but a mirror pair.
    EXPECT_EQ(engine.fixedFunction, 1);
    EXPECT_EQ(engine.noDynamicDepth, 0);
    EXPECT_EQ(engine.plainPair, nullptr);
    EXPECT_EQ(engine.bakePair, nullptr);
    EXPECT_NE(engine.mirrorPair, nullptr);
}

TEST(EngineTest, SettingsCopiedAtConstruction)
{
    HandBuiltOutputs outputs({D3DFMT_A8R8G8B8}, D3DFMT_D24S8);
    DisplaySettings& settings = *outputs.manager.settings;
    settings.fixedFunction = 0;
    settings.noDynamicDepth = 1;
    settings.windowed = 0;
    settings.width = 800;
    settings.height = 600;
    {
        Engine engine(&outputs.manager);
        EXPECT_EQ(engine.fixedFunction, 0);
        EXPECT_EQ(engine.noDynamicDepth, 1);
        // Fullscreen: the settings' mode size, not the window's.
        EXPECT_EQ(engine.width, 800);
        EXPECT_EQ(engine.height, 600);
    }
    settings.windowed = 1;
    settings.windowWidth = 320;
    settings.windowHeight = 200;
    Engine engine(&outputs.manager);
    // No window to ask: the size the window would have had.
    EXPECT_EQ(engine.width, 320);
    EXPECT_EQ(engine.height, 200);
}

TEST(EngineTest, RenderTargetFormatChoice)
{
    struct Case {
        std::vector<D3DFORMAT> list;
        D3DFORMAT expected;
    };
    const Case cases[] = {
        {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_A16B16G16R16F}, D3DFMT_A8R8G8B8},
        // Equal scores: the row without the extended-colour flag wins even
        // though it comes second.
        {{D3DFMT_A8B8G8R8, D3DFMT_A8R8G8B8}, D3DFMT_A8R8G8B8},
        {{D3DFMT_A8B8G8R8}, D3DFMT_A8B8G8R8},
        {{D3DFMT_R5G6B5, D3DFMT_A4R4G4B4}, D3DFMT_R5G6B5},
        // Depth rows are never colour targets.
        {{D3DFMT_D24S8, D3DFMT_X8R8G8B8}, D3DFMT_X8R8G8B8},
    };
    for (const Case& c : cases) {
        HandBuiltOutputs outputs(c.list, D3DFMT_D24S8);
        Engine engine(&outputs.manager);
        EXPECT_EQ(engine.renderTargetFormat, c.expected) << findFormatDesc(c.expected)->name;
    }
}

TEST(EngineTest, NoRenderTargetFormatShowsTheAssertionOnce)
{
    LevelGuard level;
    // Four bits per channel are below the minimum of five; L8 lacks green
    // and blue.
    HandBuiltOutputs outputs({D3DFMT_A4R4G4B4, D3DFMT_L8}, D3DFMT_D24S8);

    diagnosticsLevel = 2;
    platform::clearRecordedMessageBoxes();
    {
        Engine engine(&outputs.manager);
        EXPECT_EQ(engine.renderTargetFormat, D3DFMT_UNKNOWN);
    }
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());

    diagnosticsLevel = 3;
    Engine engine(&outputs.manager);
    EXPECT_EQ(engine.renderTargetFormat, D3DFMT_UNKNOWN);
    ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
    EXPECT_EQ(platform::recordedMessageBoxes()[0].text, "device does not support render to texture?");
    EXPECT_EQ(platform::recordedMessageBoxes()[0].caption, "Assertion failed");
    platform::clearRecordedMessageBoxes();
}

TEST(EngineTest, DepthTextureFormatChoice)
{
    LevelGuard level;
    diagnosticsLevel = 3;
    platform::clearRecordedMessageBoxes();
    struct Case {
        std::vector<D3DFORMAT> list;
        D3DFORMAT expected;
    };
    const Case cases[] = {
        {{D3DFMT_A8R8G8B8}, D3DFMT_UNKNOWN},
        // Deeper wins.
        {{D3DFMT_A8R8G8B8, D3DFMT_D16, D3DFMT_D24X8}, D3DFMT_D24X8},
        // 32-bit float depth is what the request prefers, lockable or not.
        {{D3DFMT_D16, D3DFMT_D32F_LOCKABLE}, D3DFMT_D32F_LOCKABLE},
        // Equal depth: the first row of the list.
        {{D3DFMT_D24S8, D3DFMT_D24X8}, D3DFMT_D24S8},
    };
    for (const Case& c : cases) {
        std::vector<D3DFORMAT> list = c.list;
        list.push_back(D3DFMT_X8R8G8B8);
        HandBuiltOutputs outputs(list, D3DFMT_D24S8);
        Engine engine(&outputs.manager);
        EXPECT_EQ(engine.depthTextureFormat, c.expected);
    }
    // A missing depth texture format is no error.
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
}

TEST(EngineTest, BackBufferDepthFormatFlags)
{
    struct Case {
        D3DFORMAT depth;
        u8 lockable;
        u8 firstChannel;
    };
    const Case cases[] = {
        {D3DFMT_D24S8, 0, 1},
        {D3DFMT_D16_LOCKABLE, 1, 0},
        {D3DFMT_D15S1, 0, 1},
        {D3DFMT_D32F_LOCKABLE, 1, 0},
        // No depth buffer at all: both clear instead of reading a missing row.
        {D3DFMT_UNKNOWN, 0, 0},
    };
    for (const Case& c : cases) {
        HandBuiltOutputs outputs({D3DFMT_A8R8G8B8}, c.depth);
        Engine engine(&outputs.manager);
        EXPECT_EQ(engine.depthIsLockable, c.lockable) << c.depth;
        EXPECT_EQ(engine.depthHasFirstChannel, c.firstChannel) << c.depth;
    }
}

TEST(EngineTest, StandsWithoutAnyOutput)
{
    LevelGuard level;
    diagnosticsLevel = 0;
    DisplayManager manager;
    Engine engine(&manager);
    EXPECT_EQ(engine.deviceCount, 0);
    EXPECT_EQ(engine.devices, nullptr);
    EXPECT_EQ(engine.currentDevice, nullptr);
    EXPECT_EQ(engine.adapter, nullptr);
    EXPECT_EQ(engine.renderTargetFormat, D3DFMT_UNKNOWN);
    EXPECT_EQ(engine.backBuffer, nullptr);
    EXPECT_STREQ(engine.vsProfile.c_str(), "vs_2_sw");
    EXPECT_STREQ(engine.psProfile.c_str(), "ps_2_sw");
    // Transforms are kept even with no device to pass them to.
    engine.uniforms->setWorld(filled(1.0f));
    EXPECT_EQ(engine.uniforms->world.m[3][3], 16.0f);
    engine.restoreSurfaces();
    engine.releaseSurfaces();
}

// ---------------------------------------------------------------------------
// Real headless devices.

// The default profile with other shader versions and, optionally, depth
// formats that can also be textures.
platform::AdapterProfile testProfile(DWORD vertexShader, DWORD pixelShader, std::set<D3DFORMAT> depthTextures = {})
{
    platform::AdapterProfile p = platform::defaultAdapterProfile();
    p.caps.VertexShaderVersion = vertexShader;
    p.caps.PixelShaderVersion = pixelShader;
    p.referenceCaps = p.caps;
    p.referenceCaps.DeviceType = D3DDEVTYPE_REF;
    if (!depthTextures.empty()) {
        auto base = p.deviceFormat;
        p.deviceFormat = [base, depthTextures](D3DFORMAT adapterFormat, DWORD usage, D3DRESOURCETYPE type,
                                               D3DFORMAT format) {
            if (type == D3DRTYPE_TEXTURE && (usage & D3DUSAGE_DEPTHSTENCIL))
                return depthTextures.count(format) > 0;
            return base(adapterFormat, usage, type, format);
        };
    }
    return p;
}

class EngineDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        diagnosticsLevel = 0;
        platform::clearRecordedMessageBoxes();
    }
    void TearDown() override { platform::clearRecordedMessageBoxes(); }

    LevelGuard level;
};

TEST_F(EngineDeviceTest, DefaultProfile)
{
    Outputs outputs({platform::defaultAdapterProfile()});
    REQUIRE_DEVICES(outputs);
    DisplayManager& manager = outputs.manager;
    Engine engine(&manager);

    ASSERT_EQ(engine.deviceCount, 1);
    EXPECT_EQ(engine.devices[0], manager.devices[0].device);
    EXPECT_EQ(engine.currentDevice, manager.devices[0].device);
    EXPECT_EQ(engine.adapter, manager.devices[0].adapterInfo);

    // A shader model 3 device still compiles for 2.0.
    EXPECT_EQ(engine.caps.VertexShaderVersion & 0xFFFF, 0x300u);
    EXPECT_STREQ(engine.vsProfile.c_str(), "vs_2_0");
    EXPECT_STREQ(engine.psProfile.c_str(), "ps_2_0");
    EXPECT_EQ(engine.hardwareTnL, 1);
    EXPECT_EQ(engine.hardwareVertexShaders, 1);
    EXPECT_EQ(engine.hardwarePixelShaders, 1);
    EXPECT_EQ(engine.capsSoftwareVP.VertexShaderVersion, engine.caps.VertexShaderVersion);

    EXPECT_EQ(engine.renderTargetFormat, D3DFMT_A8R8G8B8);
    // The default adapter has depth-stencil surfaces only, no depth textures.
    EXPECT_EQ(engine.depthTextureFormat, D3DFMT_UNKNOWN);
    ASSERT_NE(manager.devices[0].depthFormat, nullptr);
    EXPECT_EQ(manager.devices[0].depthFormat->format, D3DFMT_D24S8);
    EXPECT_EQ(engine.depthIsLockable, 0);
    EXPECT_EQ(engine.depthHasFirstChannel, 1);

    // Windowed: the client area of the first output.
    EXPECT_EQ(engine.width, 64);
    EXPECT_EQ(engine.height, 48);

    IDirect3DSurface9* target = nullptr;
    IDirect3DSurface9* depth = nullptr;
    ASSERT_EQ(engine.currentDevice->GetRenderTarget(0, &target), D3D_OK);
    ASSERT_EQ(engine.currentDevice->GetDepthStencilSurface(&depth), D3D_OK);
    EXPECT_EQ(engine.backBuffer, target);
    EXPECT_EQ(engine.depthSurface, depth);
    target->Release();
    depth->Release();
}

TEST_F(EngineDeviceTest, ShaderProfiles)
{
    struct Case {
        DWORD vs;
        DWORD ps;
        u8 softwareVP;
        u8 refRast;
        const char* vsProfile;
        const char* psProfile;
        u8 hardwareTnL;
    };
    const Case cases[] = {
        {D3DVS_VERSION(3, 0), D3DPS_VERSION(3, 0), 0, 0, "vs_2_0", "ps_2_0", 1},
        {D3DVS_VERSION(1, 1), D3DPS_VERSION(1, 4), 0, 0, "vs_1_1", "ps_1_4", 1},
        {D3DVS_VERSION(1, 0), D3DPS_VERSION(1, 1), 0, 0, "vs_2_sw", "ps_1_1", 1},
        {D3DVS_VERSION(2, 0), D3DPS_VERSION(1, 0), 0, 0, "vs_2_0", "ps_2_sw", 1},
        // Forced software vertex processing: no hardware vertex path at all.
        {D3DVS_VERSION(3, 0), D3DPS_VERSION(2, 0), 1, 0, "vs_2_sw", "ps_2_0", 0},
        // The reference device compiles both in software.
        {D3DVS_VERSION(2, 0), D3DPS_VERSION(2, 0), 0, 1, "vs_2_sw", "ps_2_sw", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.vsProfile) + " " + c.psProfile);
        Outputs outputs({testProfile(c.vs, c.ps)}, [&](DisplaySettings& s) {
            s.softwareVP = c.softwareVP;
            s.refRast = c.refRast;
        });
        REQUIRE_DEVICES(outputs);
        Engine engine(&outputs.manager);
        EXPECT_STREQ(engine.vsProfile.c_str(), c.vsProfile);
        EXPECT_STREQ(engine.psProfile.c_str(), c.psProfile);
        EXPECT_EQ(engine.hardwareTnL, c.hardwareTnL);
        EXPECT_EQ(engine.hardwareVertexShaders, (c.vs & 0xFFFF) >= 0x101 && !c.softwareVP);
        EXPECT_EQ(engine.hardwarePixelShaders, (c.ps & 0xFFFF) >= 0x101);
    }
}

TEST_F(EngineDeviceTest, DepthTexturesOfAnAdapterThatHasThem)
{
    Outputs outputs({testProfile(D3DVS_VERSION(2, 0), D3DPS_VERSION(2, 0), {D3DFMT_D16, D3DFMT_D24X8})});
    REQUIRE_DEVICES(outputs);
    Engine engine(&outputs.manager);
    EXPECT_EQ(engine.depthTextureFormat, D3DFMT_D24X8);
    EXPECT_EQ(engine.renderTargetFormat, D3DFMT_A8R8G8B8);
}

TEST_F(EngineDeviceTest, SurfacesAreReleasedAroundAReset)
{
    Outputs outputs({platform::defaultAdapterProfile()});
    REQUIRE_DEVICES(outputs);
    DisplayManager& manager = outputs.manager;
    IDirect3DDevice9* device = manager.devices[0].device;

    auto targetReferences = [device] {
        IDirect3DSurface9* s = nullptr;
        EXPECT_EQ(device->GetRenderTarget(0, &s), D3D_OK);
        return s ? s->Release() : 0;
    };
    auto depthReferences = [device] {
        IDirect3DSurface9* s = nullptr;
        EXPECT_EQ(device->GetDepthStencilSurface(&s), D3D_OK);
        return s ? s->Release() : 0;
    };
    const ULONG targetBase = targetReferences();
    const ULONG depthBase = depthReferences();
    {
        Engine engine(&manager);
        EXPECT_EQ(targetReferences(), targetBase + 1);
        EXPECT_EQ(depthReferences(), depthBase + 1);

        engine.releaseSurfaces();
        EXPECT_EQ(engine.backBuffer, nullptr);
        EXPECT_EQ(engine.depthSurface, nullptr);
        EXPECT_EQ(targetReferences(), targetBase);
        EXPECT_EQ(depthReferences(), depthBase);
        engine.releaseSurfaces(); // twice is harmless

        ASSERT_EQ(manager.resetDevices(), D3D_OK);
        engine.restoreSurfaces();
        IDirect3DSurface9* target = nullptr;
        ASSERT_EQ(device->GetRenderTarget(0, &target), D3D_OK);
        EXPECT_EQ(engine.backBuffer, target);
        target->Release();
        EXPECT_NE(engine.depthSurface, nullptr);
        // Fetching again does not pile up references.
        engine.restoreSurfaces();
        EXPECT_EQ(targetReferences(), targetBase + 1);
    }
    // The destructor lets go of both.
    EXPECT_EQ(targetReferences(), targetBase);
    EXPECT_EQ(depthReferences(), depthBase);
}

TEST_F(EngineDeviceTest, StereoTransformsGoToTheCurrentDevice)
{
    Outputs outputs({platform::defaultAdapterProfile()}, [](DisplaySettings& s) { s.stereo = 1; });
    REQUIRE_DEVICES(outputs);
    DisplayManager& manager = outputs.manager;
    Engine engine(&manager);
    ASSERT_EQ(engine.deviceCount, 2);
    EXPECT_EQ(engine.devices[0], manager.devices[0].device);
    EXPECT_EQ(engine.devices[1], manager.devices[1].device);
    EXPECT_NE(engine.devices[0], engine.devices[1]);
    EXPECT_EQ(engine.currentDevice, engine.devices[0]);

    ShaderUniforms& u = *engine.uniforms;
    const D3DMATRIX world = filled(1.0f);
    const D3DMATRIX view = filled(20.0f);
    const D3DMATRIX projection = filled(40.0f);
    const D3DMATRIX texture = filled(60.0f);
    u.setWorld(world);
    u.setView(view);
    u.setProjection(projection);
    u.setTextureMatrix(5, texture);
    u.setBoneMatrix(2, filled(80.0f));

    auto deviceTransform = [](IDirect3DDevice9* device, D3DTRANSFORMSTATETYPE state) {
        D3DMATRIX m = {};
        EXPECT_EQ(device->GetTransform(state, &m), D3D_OK);
        return m;
    };
    auto same = [](const D3DMATRIX& a, const D3DMATRIX& b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    EXPECT_TRUE(same(deviceTransform(engine.devices[0], D3DTS_WORLD), world));
    EXPECT_TRUE(same(deviceTransform(engine.devices[0], D3DTS_VIEW), view));
    EXPECT_TRUE(same(deviceTransform(engine.devices[0], D3DTS_PROJECTION), projection));
    EXPECT_TRUE(same(deviceTransform(engine.devices[0], D3DTS_TEXTURE5), texture));
    // Bone matrices stay in the block.
    EXPECT_FALSE(same(deviceTransform(engine.devices[0], D3DTS_WORLDMATRIX(2)), filled(80.0f)));

    // The right eye: the second device gets the next transform, the first
    // keeps what it had.
    engine.currentIndex = 1;
    engine.currentDevice = engine.devices[1];
    const D3DMATRIX rightWorld = filled(100.0f);
    u.setWorld(rightWorld);
    EXPECT_TRUE(same(deviceTransform(engine.devices[1], D3DTS_WORLD), rightWorld));
    EXPECT_TRUE(same(deviceTransform(engine.devices[0], D3DTS_WORLD), world));
}

} // namespace
