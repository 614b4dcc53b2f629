#include "display/device_window.h"
#include "display/display_manager.h"

#include "display/display_test_support.h"

#include "platform/d3d9/device_test_api.h"
#include "platform/win32/sdl_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using displaytest::Answers;
using displaytest::mode;
using displaytest::profile;
using displaytest::Profiles;

const char kClassName[] = "Quillon";
const char kTitle[] = "Quillon 3D Realtime Technology by Corvane";
const std::string kStereoText = "For fullscreen stereo two adapters are required.";
const std::string kAdapterTnLText = "The selected video adapter (see advanced options)\n"
                                    "does not support transformation and lighting in\n"
                                    "hardware, which is a required by this application.";
const std::string kCreationText = "Error Creating Direct3d device...\nGuess something went wrong...";

// A test adapter with the caps of a real device (sizes, stages), so that
// the device can be made on it.
platform::AdapterProfile adapter(const char* name, bool hardwareTnL = true, const Answers& answers = Answers())
{
    platform::AdapterProfile p = profile(name, {mode(640, 480), mode(1024, 768)}, answers, hardwareTnL);
    p.caps = platform::defaultDeviceCaps();
    if (!hardwareTnL)
        p.caps.DevCaps &= ~DWORD(D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    p.referenceCaps = platform::defaultDeviceCaps();
    p.referenceCaps.DeviceType = D3DDEVTYPE_REF;
    return p;
}

void expectErrorBox(const std::string& text)
{
    const auto& boxes = platform::recordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONHAND));
    EXPECT_EQ(boxes[0].owner, nullptr);
}

class DeviceWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Headless: windows are records and devices draw on EGL contexts.
        platform::setWindowBackend(platform::WindowBackend::RecordsOnly);
        platform::resetWindowState();
        platform::clearRecordedMessageBoxes();
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClassName;
        RegisterClassExA(&wc);
    }
    void TearDown() override
    {
        manager.reset();
        platform::resetWindowState();
        platform::clearRecordedMessageBoxes();
    }

    // A manager over the installed profiles with the formats settled the
    // way the start dialog settles them for the selected adapter.
    DisplayManager& makeManager(bool windowed, bool stereo = false, int adapterSetting = 0)
    {
        manager = std::make_unique<DisplayManager>();
        DisplaySettings& s = *manager->settings;
        s.windowed = windowed;
        s.stereo = stereo;
        s.adapter = adapterSetting;
        EXPECT_TRUE(manager->enumerateAdapters());
        manager->collectDisplayFormats(s.adapter);
        manager->collectTextureFormats(s.adapter, D3DDEVTYPE_HAL, s.adapterFormat, windowed);
        manager->collectMultisampleTypes(s.adapter, D3DDEVTYPE_HAL, s.backBufferFormat, windowed);
        manager->collectDepthFormats(s.adapter, D3DDEVTYPE_HAL, s.adapterFormat, s.backBufferFormat);
        return *manager;
    }

    bool create() { return manager->createDevices(kClassName, GetModuleHandleA(nullptr)); }

    static D3DDEVICE_CREATION_PARAMETERS creation(const DeviceWindow& output)
    {
        D3DDEVICE_CREATION_PARAMETERS p = {};
        EXPECT_EQ(output.device->GetCreationParameters(&p), D3D_OK);
        return p;
    }

    std::unique_ptr<DisplayManager> manager;
};

TEST_F(DeviceWindowTest, RecordStartsEmptyOnTheHalDevice)
{
    DeviceWindow output;
    EXPECT_EQ(output.device, nullptr);
    EXPECT_EQ(output.window, nullptr);
    EXPECT_EQ(output.adapterInfo, nullptr);
    EXPECT_EQ(output.adapterOrdinal, 0);
    EXPECT_EQ(output.deviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(output.depthFormat, nullptr);
    EXPECT_EQ(output.presentParameters.BackBufferCount, 0u);
    EXPECT_EQ(output.presentParameters.hDeviceWindow, nullptr);
}

TEST_F(DeviceWindowTest, WindowedDeviceTakesTheWindowsClientArea)
{
    Profiles profiles({adapter("Alpha GPU")});
    DisplayManager& m = makeManager(true);
    ASSERT_TRUE(create());
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    ASSERT_EQ(m.deviceCount, 1);

    const DeviceWindow& output = m.devices[0];
    ASSERT_NE(output.device, nullptr);
    ASSERT_TRUE(IsWindow(output.window));
    EXPECT_EQ(output.adapterOrdinal, 0);
    EXPECT_EQ(output.adapterInfo, &m.adapters[0]);
    EXPECT_EQ(output.deviceType, D3DDEVTYPE_HAL);

    // The window: overlapped, titled, at the origin, hidden until WinMain
    // shows it, with exactly the requested client area.
    char title[128] = "";
    GetWindowTextA(output.window, title, sizeof title);
    EXPECT_STREQ(title, kTitle);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(output.window, GWL_STYLE)) & WS_OVERLAPPEDWINDOW,
              static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
    EXPECT_FALSE(IsWindowVisible(output.window));
    RECT client = {};
    GetClientRect(output.window, &client);
    EXPECT_EQ(client.right - client.left, 952);
    EXPECT_EQ(client.bottom - client.top, 714);
    RECT frame = {};
    GetWindowRect(output.window, &frame);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);

    // The present parameters kept for Reset.
    const D3DPRESENT_PARAMETERS& pp = output.presentParameters;
    EXPECT_EQ(pp.BackBufferCount, 2u);
    EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(pp.PresentationInterval, static_cast<UINT>(D3DPRESENT_INTERVAL_DEFAULT));
    EXPECT_EQ(pp.hDeviceWindow, output.window);
    EXPECT_TRUE(pp.Windowed);
    EXPECT_EQ(pp.BackBufferFormat, m.settings->backBufferFormat);
    EXPECT_EQ(pp.MultiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_EQ(pp.Flags, static_cast<DWORD>(D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL | D3DPRESENTFLAG_LOCKABLE_BACKBUFFER));
    // D16, D24X8 and D24S8 offered: the 8 stencil and 24 depth bits win.
    ASSERT_NE(output.depthFormat, nullptr);
    EXPECT_EQ(output.depthFormat->format, D3DFMT_D24S8);
    EXPECT_TRUE(pp.EnableAutoDepthStencil);
    EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D24S8);

    // A back buffer of the client size.
    IDirect3DSurface9* backBuffer = nullptr;
    ASSERT_EQ(output.device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer), D3D_OK);
    D3DSURFACE_DESC desc = {};
    backBuffer->GetDesc(&desc);
    backBuffer->Release();
    EXPECT_EQ(desc.Width, 952u);
    EXPECT_EQ(desc.Height, 714u);

    const D3DDEVICE_CREATION_PARAMETERS p = creation(output);
    EXPECT_EQ(p.AdapterOrdinal, 0u);
    EXPECT_EQ(p.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(p.hFocusWindow, output.window);
    EXPECT_EQ(p.BehaviorFlags, static_cast<DWORD>(D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED));
}

TEST_F(DeviceWindowTest, FullscreenDeviceUsesTheChosenModeAndStillMakesAWindow)
{
    Profiles profiles({adapter("Alpha GPU")});
    DisplayManager& m = makeManager(false);
    m.settings->width = 640;
    m.settings->height = 480;
    ASSERT_TRUE(create());
    ASSERT_EQ(m.deviceCount, 1);
    const DeviceWindow& output = m.devices[0];
    ASSERT_NE(output.device, nullptr);
    EXPECT_TRUE(IsWindow(output.window));

    const D3DPRESENT_PARAMETERS& pp = output.presentParameters;
    EXPECT_FALSE(pp.Windowed);
    EXPECT_EQ(pp.BackBufferWidth, 640u);
    EXPECT_EQ(pp.BackBufferHeight, 480u);
    EXPECT_EQ(pp.FullScreen_RefreshRateInHz, 0u);
    EXPECT_EQ(pp.BackBufferFormat, m.settings->backBufferFormat);
    EXPECT_EQ(pp.hDeviceWindow, output.window);
}

TEST_F(DeviceWindowTest, WindowedStereoOnOneAdapterPutsBothOutputsOnIt)
{
    Profiles profiles({adapter("Alpha GPU")});
    DisplayManager& m = makeManager(true, true);
    m.settings->windowWidth = 400;
    m.settings->windowHeight = 300;
    ASSERT_TRUE(create());
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    ASSERT_EQ(m.deviceCount, 2);

    for (int i = 0; i < 2; ++i) {
        const DeviceWindow& output = m.devices[i];
        SCOPED_TRACE(i);
        ASSERT_NE(output.device, nullptr);
        EXPECT_EQ(output.adapterOrdinal, 0);
        EXPECT_EQ(output.adapterInfo, &m.adapters[0]);
        EXPECT_EQ(output.presentParameters.hDeviceWindow, output.window);
        // Side by side: the second window starts one client width along.
        RECT frame = {};
        GetWindowRect(output.window, &frame);
        EXPECT_EQ(frame.left, 400 * i);
        EXPECT_EQ(frame.top, 0);
        RECT client = {};
        GetClientRect(output.window, &client);
        EXPECT_EQ(client.right, 400);
        EXPECT_EQ(client.bottom, 300);
        // The first window is the focus window of both devices.
        EXPECT_EQ(creation(output).hFocusWindow, m.devices[0].window);
    }
    EXPECT_NE(m.devices[0].window, m.devices[1].window);
    EXPECT_NE(m.devices[0].device, m.devices[1].device);
}

TEST_F(DeviceWindowTest, StereoFromTheLastAdapterWrapsToAdapterZero)
{
    Profiles profiles({adapter("Alpha GPU"), adapter("Beta GPU")});
    DisplayManager& m = makeManager(false, true, 1);
    m.settings->width = 640;
    m.settings->height = 480;
    ASSERT_TRUE(create());
    ASSERT_EQ(m.deviceCount, 2);
    EXPECT_EQ(m.devices[0].adapterOrdinal, 1);
    EXPECT_EQ(m.devices[1].adapterOrdinal, 0);
    EXPECT_EQ(m.devices[0].adapterInfo, &m.adapters[1]);
    EXPECT_EQ(m.devices[1].adapterInfo, &m.adapters[0]);
    EXPECT_EQ(creation(m.devices[0]).AdapterOrdinal, 1u);
    EXPECT_EQ(creation(m.devices[1]).AdapterOrdinal, 0u);
    // The dialog collected the depth formats of adapter 1 only; the output
    // on adapter 0 still gets its depth buffer.
    for (int i = 0; i < 2; ++i) {
        ASSERT_NE(m.devices[i].depthFormat, nullptr) << i;
        EXPECT_TRUE(m.devices[i].presentParameters.EnableAutoDepthStencil) << i;
    }
}

TEST_F(DeviceWindowTest, FullscreenStereoOnOneAdapterIsRefusedBeforeAnyWindow)
{
    Profiles profiles({adapter("Alpha GPU")});
    DisplayManager& m = makeManager(false, true);
    EXPECT_FALSE(create());
    expectErrorBox(kStereoText);
    EXPECT_EQ(m.devices, nullptr);
}

TEST_F(DeviceWindowTest, SelectedAdapterWithoutHardwareTnLIsRefused)
{
    // Enumeration passes on adapter 0; the setting picks adapter 1.
    Profiles profiles({adapter("Alpha GPU"), adapter("Beta GPU", false)});
    DisplayManager& m = makeManager(true, false, 1);
    EXPECT_FALSE(create());
    expectErrorBox(kAdapterTnLText);
    ASSERT_NE(m.devices, nullptr);
    EXPECT_EQ(m.devices[0].window, nullptr);
    EXPECT_EQ(m.devices[0].device, nullptr);
}

TEST_F(DeviceWindowTest, StereoSecondOutputOnAnAdapterWithoutHardwareTnLIsRefused)
{
    Profiles profiles({adapter("Alpha GPU"), adapter("Beta GPU", false)});
    makeManager(false, true, 0);
    EXPECT_FALSE(create());
    expectErrorBox(kAdapterTnLText);
}

TEST_F(DeviceWindowTest, OutOfRangeAdapterSettingWrapsOntoAnAdapter)
{
    Profiles profiles({adapter("Alpha GPU"), adapter("Beta GPU")});
    DisplayManager& m = makeManager(true);
    m.settings->adapter = -1;
    ASSERT_TRUE(create());
    EXPECT_EQ(m.devices[0].adapterOrdinal, 1);
    m.settings->adapter = 5;
    ASSERT_TRUE(create());
    EXPECT_EQ(m.devices[0].adapterOrdinal, 1);
    EXPECT_EQ(m.deviceCount, 1);
}

// CreateDevice asks the adapter's device-type predicate once per call; an
// armed predicate refuses that many calls, so the tries can be counted.
struct FailingAdapter {
    std::shared_ptr<int> refusals = std::make_shared<int>(0);
    std::shared_ptr<int> calls = std::make_shared<int>(0);
    platform::AdapterProfile profile = adapter("Alpha GPU");

    FailingAdapter()
    {
        auto accepts = profile.deviceType;
        profile.deviceType = [accepts, refusals = refusals, calls = calls](D3DFORMAT a, D3DFORMAT b, BOOL w) {
            ++*calls;
            if (*refusals > 0) {
                --*refusals;
                return false;
            }
            return accepts(a, b, w);
        };
    }
    void arm(int n)
    {
        *refusals = n;
        *calls = 0;
    }
};

TEST_F(DeviceWindowTest, DeviceThatFailsTwiceShowsTheCreationBox)
{
    FailingAdapter failing;
    Profiles profiles({failing.profile});
    DisplayManager& m = makeManager(true);
    failing.arm(2);
    EXPECT_FALSE(create());
    expectErrorBox(kCreationText);
    EXPECT_EQ(*failing.calls, 2); // tried once more, then given up
    ASSERT_NE(m.devices, nullptr);
    EXPECT_EQ(m.devices[0].device, nullptr);
    // The window was made; the manager's destructor takes it down.
    EXPECT_TRUE(IsWindow(m.devices[0].window));
}

TEST_F(DeviceWindowTest, DeviceThatFailsOnceIsCreatedOnTheSecondTry)
{
    FailingAdapter failing;
    Profiles profiles({failing.profile});
    DisplayManager& m = makeManager(true);
    failing.arm(1);
    ASSERT_TRUE(create());
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    EXPECT_EQ(*failing.calls, 2);
    EXPECT_NE(m.devices[0].device, nullptr);
}

// CreateDevice fails on both tries: the adapter has no reference device.
TEST_F(DeviceWindowTest, DeviceThatCannotBeCreatedShowsTheCreationBox)
{
    platform::AdapterProfile p = adapter("Alpha GPU");
    p.referenceDevice = false;
    Profiles profiles({p});
    DisplayManager& m = makeManager(true);
    m.settings->refRast = 1;
    EXPECT_FALSE(create());
    expectErrorBox(kCreationText);
    ASSERT_NE(m.devices, nullptr);
    EXPECT_EQ(m.devices[0].deviceType, D3DDEVTYPE_REF);
    EXPECT_EQ(m.devices[0].device, nullptr);
}

TEST_F(DeviceWindowTest, MultisampledBackBufferIsNotLockable)
{
    Profiles profiles({adapter("Alpha GPU")});
    DisplayManager& m = makeManager(true);
    m.settings->multiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    m.collectMultisampleTypes(0, D3DDEVTYPE_HAL, m.settings->backBufferFormat, TRUE);
    ASSERT_EQ(m.settings->multiSampleType, D3DMULTISAMPLE_4_SAMPLES);
    ASSERT_TRUE(create());
    const D3DPRESENT_PARAMETERS& pp = m.devices[0].presentParameters;
    EXPECT_EQ(pp.MultiSampleType, D3DMULTISAMPLE_4_SAMPLES);
    EXPECT_EQ(pp.MultiSampleQuality, 0u);
    EXPECT_EQ(pp.Flags, static_cast<DWORD>(D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL));
}

TEST_F(DeviceWindowTest, NoDepthFormatAssertsAtLevelThreeAndRunsWithoutDepth)
{
    Answers noDepth;
    noDepth.depthStencils.clear();
    Profiles profiles({adapter("Alpha GPU", true, noDepth)});
    displaytest::LevelGuard level;

    diagnosticsLevel = 2;
    DisplayManager& quiet = makeManager(true);
    ASSERT_TRUE(create());
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    EXPECT_EQ(quiet.devices[0].depthFormat, nullptr);
    EXPECT_FALSE(quiet.devices[0].presentParameters.EnableAutoDepthStencil);
    EXPECT_EQ(quiet.devices[0].presentParameters.AutoDepthStencilFormat, D3DFMT_UNKNOWN);

    diagnosticsLevel = 3;
    makeManager(true);
    ASSERT_TRUE(create());
    const auto& boxes = platform::recordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Assertion failed");
    EXPECT_NE(boxes[0].text.find("device does not support depth/stencil?"), std::string::npos);
}

TEST_F(DeviceWindowTest, BehaviourFlagRules)
{
    Profiles profiles({adapter("Alpha GPU")});
    DisplayManager& m = makeManager(true);
    const DWORD mt = D3DCREATE_MULTITHREADED;
    D3DCAPS9 caps = displaytest::caps();

    caps.VertexShaderVersion = D3DVS_VERSION(1, 1);
    EXPECT_EQ(m.behaviourFlags(caps), D3DCREATE_HARDWARE_VERTEXPROCESSING | mt);
    caps.VertexShaderVersion = D3DVS_VERSION(1, 0);
    EXPECT_EQ(m.behaviourFlags(caps), D3DCREATE_MIXED_VERTEXPROCESSING | mt);
    caps.VertexShaderVersion = 0; // no vertex shaders at all
    EXPECT_EQ(m.behaviourFlags(caps), D3DCREATE_MIXED_VERTEXPROCESSING | mt);
    const D3DCAPS9 noTnL = displaytest::caps(false);
    EXPECT_EQ(m.behaviourFlags(noTnL), D3DCREATE_SOFTWARE_VERTEXPROCESSING | mt);

    m.settings->softwareVP = 1;
    EXPECT_EQ(m.behaviourFlags(displaytest::caps()), D3DCREATE_SOFTWARE_VERTEXPROCESSING | mt);
    // The pure device is decided last and wins over software processing,
    // even on an adapter without hardware transform and lighting.
    m.settings->pureDevice = 1;
    EXPECT_EQ(m.behaviourFlags(displaytest::caps()), D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE | mt);
    EXPECT_EQ(m.behaviourFlags(noTnL), D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE | mt);
}

TEST_F(DeviceWindowTest, DevicesAreCreatedWithTheSettingsBehaviour)
{
    platform::AdapterProfile old = adapter("Alpha GPU");
    old.caps.VertexShaderVersion = D3DVS_VERSION(1, 0);
    Profiles profiles({old});

    DisplayManager& m = makeManager(true);
    ASSERT_TRUE(create());
    EXPECT_EQ(creation(m.devices[0]).BehaviorFlags,
              static_cast<DWORD>(D3DCREATE_MIXED_VERTEXPROCESSING | D3DCREATE_MULTITHREADED));

    DisplayManager& pure = makeManager(true);
    pure.settings->softwareVP = 1;
    pure.settings->pureDevice = 1;
    ASSERT_TRUE(create());
    EXPECT_EQ(creation(pure.devices[0]).BehaviorFlags,
              static_cast<DWORD>(D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE |
                                 D3DCREATE_MULTITHREADED));
}

TEST_F(DeviceWindowTest, ResetDevicesRestoresLostDevices)
{
    Profiles profiles({adapter("Alpha GPU")});
    DisplayManager& m = makeManager(true, true);
    ASSERT_TRUE(create());
    for (int i = 0; i < 2; ++i)
        platform::d3d9::forceDeviceLost(m.devices[i].device);
    // Still lost (the window is away): nothing can be reset yet.
    EXPECT_EQ(m.devices[0].device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(m.resetDevices(), D3DERR_DEVICELOST);

    for (int i = 0; i < 2; ++i)
        platform::d3d9::forceDeviceLost(m.devices[i].device, false);
    EXPECT_EQ(m.devices[0].device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(m.resetDevices(), D3D_OK);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(m.devices[i].device->TestCooperativeLevel(), D3D_OK) << i;
    // The same present parameters stay for the next loss.
    EXPECT_EQ(m.devices[0].presentParameters.BackBufferCount, 2u);
    EXPECT_EQ(m.devices[0].presentParameters.hDeviceWindow, m.devices[0].window);
}

TEST_F(DeviceWindowTest, ResetReportsTheFirstFailureAndStillResetsTheRest)
{
    Profiles profiles({adapter("Alpha GPU")});
    DisplayManager& m = makeManager(true, true);
    ASSERT_TRUE(create());
    for (int i = 0; i < 2; ++i) {
        platform::d3d9::forceDeviceLost(m.devices[i].device);
        platform::d3d9::forceDeviceLost(m.devices[i].device, false);
    }
    // The first device's reset fails, the second one's succeeds: the
    // caller must not resume on the first.
    platform::d3d9::failNextReset(m.devices[0].device);
    EXPECT_EQ(m.resetDevices(), D3DERR_DEVICELOST);
    EXPECT_EQ(m.devices[0].device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(m.devices[1].device->TestCooperativeLevel(), D3D_OK);

    // The second reset goes through on both.
    EXPECT_EQ(m.resetDevices(), D3D_OK);
    EXPECT_EQ(m.devices[0].device->TestCooperativeLevel(), D3D_OK);

    // A failure of the last device is reported as well.
    platform::d3d9::forceDeviceLost(m.devices[1].device);
    platform::d3d9::forceDeviceLost(m.devices[1].device, false);
    platform::d3d9::failNextReset(m.devices[1].device);
    EXPECT_EQ(m.resetDevices(), D3DERR_DEVICELOST);
}

TEST_F(DeviceWindowTest, HideWindowsHidesEveryOutput)
{
    Profiles profiles({adapter("Alpha GPU")});
    DisplayManager& m = makeManager(true, true);
    ASSERT_TRUE(create());
    for (int i = 0; i < 2; ++i) {
        ShowWindow(m.devices[i].window, SW_SHOW);
        ASSERT_TRUE(IsWindowVisible(m.devices[i].window));
    }
    m.hideWindows();
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(IsWindowVisible(m.devices[i].window)) << i;
        EXPECT_TRUE(IsWindow(m.devices[i].window)) << i;
    }
}

TEST_F(DeviceWindowTest, DestroyingTheManagerReleasesDevicesAndWindows)
{
    Profiles profiles({adapter("Alpha GPU")});
    const int liveBefore = platform::liveDirect3D9Objects();
    DisplayManager& m = makeManager(true, true);
    ASSERT_TRUE(create());
    HWND windows[2] = {m.devices[0].window, m.devices[1].window};
    // An extra reference shows whether the manager let go of its own.
    IDirect3DDevice9* device = m.devices[0].device;
    device->AddRef();
    manager.reset();
    EXPECT_FALSE(IsWindow(windows[0]));
    EXPECT_FALSE(IsWindow(windows[1]));
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(platform::liveDirect3D9Objects(), liveBefore);
}

} // namespace
