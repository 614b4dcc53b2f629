// The entry point over headless devices: start-up failures, the frame loop
// with injected messages on the manual clock, activation after a lost
// device, and the teardown.
#include "app/win_main.h"

#include "app/quillon_setup.h"
#include "demo/demo.h"
#include "demo/user_camera.h"
#include "display/display_manager.h"
#include "display/display_settings.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/profiler.h"
#include "materials/engine.h"
#include "media/input.h"
#include "platform/d3d9/adapter_profiles.h"
#include "platform/d3d9/device_test_api.h"
#include "platform/win32/clock.h"
#include "platform/win32/dialog.h"
#include "platform/win32/message_box.h"

#include "entry_test_support.h"
#include "file_bytes.h"

#include <gtest/gtest.h>

#include <dinput.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace entrytest;

using WinMainStartUp = AppTest;
using WinMainLoop = AppTest;

// One WinMain run on the manual clock; steps[i] runs at the start of loop
// pass i, and once they are used up the run is ended with WM_QUIT.
struct WinMainRun {
    std::vector<std::function<void()>> steps;
    int passes = 0;
    int result = 0;

    void go()
    {
        // The windows destroyed by an earlier run left their WM_QUIT behind.
        MSG stale;
        while (PeekMessageA(&stale, nullptr, 0, 0, PM_REMOVE))
            ;
        Profiler::clear();
        platform::clearRecordedMessageBoxes();
        platform::setDialogScript("press 100"); // Start
        platform::setManualClock(true);
        frameLoopProbe = [this] {
            const int pass = passes++;
            if (pass < int(steps.size()))
                steps[size_t(pass)]();
            else
                PostQuitMessage(0);
        };
        result = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOW);
        frameLoopProbe = nullptr;
        platform::setManualClock(false);
    }

    bool boxShown(const char* text) const
    {
        for (const auto& box : platform::recordedMessageBoxes())
            if (box.text == text && box.caption == "Error")
                return true;
        return false;
    }
};

// WM_ACTIVATE (active) to the first window, minimised in the high word.
void activate(WORD minimised)
{
    PostMessageA(displayManager->devices[0].window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, minimised), 0);
}

HWND firstWindow()
{
    return displayManager->devices[0].window;
}

IDirect3DDevice9* firstDevice()
{
    return displayManager->devices[0].device;
}

TEST_F(WinMainStartUp, FailuresBeforeTheDevicesReturnMinusOne)
{
    Diagnostics quiet(0);
    Content content("0 stopdemo\n");
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::function<void()> restore;
    };
    const std::vector<Case> cases = {
        {"no Direct3D", [] { platform::setDirect3DCreate9Fails(true); },
         [] { platform::setDirect3DCreate9Fails(false); }},
        {"no adapter", [] { platform::installAdapterProfiles({}); }, [] { platform::clearAdapterProfiles(); }},
        {"dialog exit", [] { platform::setDialogScript("press 101"); }, [] {}},
    };
    for (const Case& c : cases) {
        WinMainRun run;
        c.arrange();
        Profiler::clear();
        frameLoopProbe = [&] { ++run.passes; };
        if (std::string(c.name) != "dialog exit")
            platform::setDialogScript("press 100");
        run.result = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOW);
        frameLoopProbe = nullptr;
        c.restore();
        EXPECT_EQ(run.result, -1) << c.name;
        EXPECT_EQ(run.passes, 0) << c.name;
        EXPECT_EQ(displayManager, nullptr) << c.name;
        EXPECT_EQ(demo, nullptr) << c.name;
    }
}

TEST_F(WinMainStartUp, CountersInOrderAndAQuitDuringLoadSkipsTheLoop)
{
    Diagnostics quiet(0);
    // stopdemo at 0 ms runs in the first frame; a restart would loop, so the
    // load itself must not reach the loop when the quit flag is already set.
    Content content("0 stopdemo\n");
    WinMainRun run;
    run.go();
    EXPECT_EQ(run.result, 0);
    const std::vector<const char*> names = {
        "CompleteRenderTime", "GetCubeMapSurface", "Clear",        "setStates",       "SetSources",
        "DrawIndexedPrimitive", "Present",         "svp switch",   "getMatrix",       "getInvMatrix",
        "renderShadowMap",    "VorbisChannel::Fill"};
    ASSERT_GE(Profiler::counters().size(), names.size());
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_STREQ(Profiler::counters()[i].name, names[i]) << i;
    EXPECT_EQ(Profiler::counters()[kPresent].execs, 1u); // the one frame before stopdemo took effect
    EXPECT_FALSE(run.boxShown("Loading error!"));
    EXPECT_EQ(displayManager, nullptr);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(demo, nullptr);
}

TEST_F(WinMainStartUp, FailedLoadOrFrameShowsTheBoxAndTearsDown)
{
    Diagnostics quiet(0);
    struct Case {
        const char* name;
        const char* script; // null: no archive 130
        int passes;
    };
    const Case cases[] = {
        {"missing archive", nullptr, 0},
        {"failing event", "0 loadmetascript \"missing.txt\"\n", 1},
    };
    for (const Case& c : cases) {
        if (c.script)
            installArchive(130, {{"scene.scr", c.script}});
        installArchive(132, effectFiles());
        WinMainRun run;
        run.go();
        installArchive(130, {});
        installArchive(132, {});
        EXPECT_EQ(run.result, 1) << c.name;
        EXPECT_EQ(run.passes, c.passes) << c.name;
        EXPECT_TRUE(run.boxShown("Loading error!")) << c.name;
        EXPECT_EQ(displayManager, nullptr) << c.name;
        EXPECT_EQ(input, nullptr) << c.name;
        EXPECT_EQ(demo, nullptr) << c.name;
    }
}

TEST_F(WinMainStartUp, ADamagedArchiveEndsWithAFailedStatusAndItsCauseLogged)
{
    Diagnostics quiet(0);
    // The entry from byte 12: name length, name, type at 22, offset, packed size, size;
    // the block-sort index in the last four bytes.
    const std::vector<u8> whole = packArchive({{"scene.scr", "0 stopdemo\n"}});
    ASSERT_EQ(whole[12], 9);
    auto put32 = [](std::vector<u8>& b, size_t at, u32 v) { std::memcpy(&b[at], &v, 4); }; // little-endian
    const std::pair<const char*, std::function<void(std::vector<u8>&)>> cases[] = {
        {"entry count", [&](auto& b) { put32(b, 8, 0x7FFFFFFF); }},
        {"unknown type bit", [](auto& b) { b[22] |= 4; }},
        {"offset past the end", [&](auto& b) { put32(b, 23, 0x100000); }},
        {"packed size past the end", [&](auto& b) { put32(b, 27, 0x100000); }},
        {"index past the entry", [&](auto& b) { put32(b, b.size() - 4, 1000); }},
    };
    installArchive(132, effectFiles());
    for (const auto& [name, damage] : cases) {
        std::vector<u8> bytes = whole;
        damage(bytes);
        installArchiveBytes(130, bytes);
        logStream = openLogFile("nga.out"); // the last run closed it
        WinMainRun run;
        run.go();
        EXPECT_EQ(run.result, 1) << name;
        const std::string log = fileBytes("nga.out");
        EXPECT_NE(log.find("\narchive \"SARFILE130\""), std::string::npos) << name << ":\n" << log;
    }
}

TEST_F(WinMainLoop, TimerLostDeviceAndQuit)
{
    Diagnostics quiet(0);
    // stopdemo is never due: no music moves the clock.
    Content content("0 createmeta Main\n0 activemeta Main\n1000000 stopdemo\n");
    WinMainRun run;
    u32 framesAtTick = 0;
    double fpsAfterFirstTick = -1.0;
    std::vector<u8> activeAt;
    auto note = [&] { activeAt.push_back(appActive); };
    run.steps = {
        [&] { platform::advanceClock(100); }, // the timer is due in this pass's pump
        [&] {
            framesAtTick = demo->engine->framesRendered;
            fpsAfterFirstTick = smoothedFps;
            // Lost: activation finds the device lost and the loop sleeps.
            platform::d3d9::forceDeviceLost(firstDevice(), true);
            activate(0);
        },
        [&] {
            note(); // 0 after the lost device
            platform::d3d9::forceDeviceLost(firstDevice(), false);
            platform::d3d9::failNextReset(firstDevice());
            activate(0);
        },
        [&] {
            note(); // still 0: the reset failed
            activate(0);
        },
        [&] {
            note(); // 1: reset, surfaces fetched again, the metascene's states back
            EXPECT_NE(demo->engine->backBuffer, nullptr);
            DWORD normalize = FALSE;
            firstDevice()->GetRenderState(D3DRS_NORMALIZENORMALS, &normalize);
            EXPECT_EQ(normalize, DWORD(TRUE));
            activate(1); // minimised
        },
        [&] {
            note(); // 0 while minimised
            activate(0);
        },
        [&] {
            note();
            // WM_QUIT with a key behind it: the queue and one user-camera
            // step still run in this pass.
            platform::advanceClock(5000);
            PostQuitMessage(0);
            PostMessageA(firstWindow(), WM_USER + 7, 0, 0);
        },
    };
    run.go();
    EXPECT_EQ(run.result, 0);
    // Ten times the frames rendered before the tick, smoothed once from 0.
    EXPECT_NEAR(fpsAfterFirstTick, 0.15 * 10.0 * framesAtTick, 1e-9);
    EXPECT_EQ(activeAt, (std::vector<u8>{0, 0, 1, 0, 1}));
    EXPECT_EQ(run.passes, 7);
    EXPECT_EQ(lastTick, 5100.0);
}

} // namespace

namespace {

// In stereo the frame ends on the second device; activation asks the first.
TEST_F(WinMainLoop, StereoActivationTestsTheFirstDevice)
{
    Diagnostics quiet(0);
    Content content("1000000 stopdemo\n");
    startSetup = [](DisplayManager* manager, HINSTANCE instance) {
        QuillonSetup setup(manager);
        const bool started = setup.run(instance, nullptr);
        manager->settings->stereo = 1;
        manager->settings->windowed = 1;
        return started;
    };
    WinMainRun run;
    u8 active = 1;
    run.steps = {
        [] {}, // one stereo frame
        [] {
            ASSERT_EQ(displayManager->deviceCount, 2);
            ASSERT_EQ(demo->engine->currentDevice, displayManager->devices[1].device);
            platform::d3d9::forceDeviceLost(firstDevice(), true);
            activate(0);
        },
        [&] {
            active = appActive;
            platform::d3d9::forceDeviceLost(firstDevice(), false);
            PostQuitMessage(0);
        },
    };
    run.go();
    startSetup = nullptr;
    EXPECT_EQ(active, 0);
}

} // namespace
