// The entry point: profiler counters, window class, start dialog, devices,
// engine and demo, the frame loop and the teardown; and the window
// procedure every output window shares.
#include "app/win_main.h"

#include "app/quillon_setup.h"
#include "demo/demo.h"
#include "display/display_manager.h"
#include "display/display_settings.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/profiler.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "media/input.h"
#include "scene/scene_interaction.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <objbase.h>

DisplayManager* displayManager = nullptr;
Input* input = nullptr;
Demo* demo = nullptr;
HCURSOR cursor = nullptr;
u8 appActive = 1;
i32 lastFrameCount = 0;
std::function<void()> frameLoopProbe;
bool (*startSetup)(DisplayManager* manager, HINSTANCE instance) = nullptr;

namespace {

constexpr const char* kClassName = "Quillon";
constexpr UINT_PTR kFpsTimer = 1;
constexpr int kFailedRunStatus = 1;

constexpr const char* kCounterNames[12] = {
    "CompleteRenderTime", "GetCubeMapSurface",    "Clear",   "setStates",  "SetSources",  "DrawIndexedPrimitive",
    "Present",            "svp switch",           "getMatrix", "getInvMatrix", "renderShadowMap", "VorbisChannel::Fill",
};

void registerWindowClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(118));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_CROSS);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kClassName;
    RegisterClassExA(&windowClass);
}

HWND firstWindow()
{
    return displayManager && displayManager->devices && displayManager->deviceCount > 0
               ? displayManager->devices[0].window
               : nullptr;
}

void pumpAndDispatch(MSG& message, bool& done)
{
    if (GetMessageA(&message, nullptr, 0, 0) == 0) {
        done = true;
        return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void onActivate(WPARAM wParam)
{
    if (LOWORD(wParam) != WA_INACTIVE && input && demo && displayManager) {
        input->acquire();
        Engine* engine = demo->engine;
        IDirect3DDevice9* device = engine && engine->deviceCount > 0 ? engine->devices[0] : nullptr;
        const HRESULT state = device ? device->TestCooperativeLevel() : D3DERR_DEVICELOST;
        if (state == D3DERR_DEVICELOST) {
            appActive = 0;
        } else if (state == D3DERR_DEVICENOTRESET) {
            // A reset fails while the engine holds the implicit surfaces,
            // and those it held are stale after a reset that succeeds.
            engine->releaseSurfaces();
            if (displayManager->resetDevices() == D3D_OK) {
                engine->restoreSurfaces();
                if (demo->activeMeta)
                    resetRenderStates(demo->engine);
                appActive = 1;
            } else {
                engine->restoreSurfaces();
            }
        } else if (state == D3D_OK) {
            appActive = 1;
        }
        SetCursor(cursor);
    }
    if (HIWORD(wParam) != 0)
        appActive = 0;
}

} // namespace

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        ValidateRect(window, nullptr);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_ACTIVATE:
        onActivate(wParam);
        return 0;
    case WM_TIMER:
        if (wParam == kFpsTimer && demo && demo->engine) {
            const i32 n = i32(demo->engine->framesRendered * 10u);
            const i32 delta = i32(u32(n) - u32(lastFrameCount));
            lastFrameCount = n;
            smoothedFps = 0.15 * delta + 0.85 * smoothedFps;
        }
        return 0;
    default:
        if (input)
            return input->handleMessage(window, message, wParam, lParam);
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    for (const char* name : kCounterNames)
        Profiler::addCounter(name);
    registerWindowClass(instance);
    CoInitialize(nullptr);
    InitCommonControls();

    displayManager = new DisplayManager();
    if (!displayManager->enumerateAdapters()) {
        delete displayManager;
        displayManager = nullptr;
        return -1;
    }
    {
        bool started;
        if (startSetup) {
            started = startSetup(displayManager, instance);
        } else {
            QuillonSetup* setup = new QuillonSetup(displayManager);
            started = setup->run(instance, nullptr);
            delete setup;
        }
        if (!started) {
            delete displayManager;
            displayManager = nullptr;
            return -1;
        }
    }
    if (!displayManager->createDevices(kClassName, instance)) {
        delete displayManager;
        displayManager = nullptr;
        return -1;
    }

    Engine* engine = new Engine(displayManager);
    attachSceneInteraction(engine);
    demo = new Demo(engine);
    for (i32 i = 0; i < displayManager->deviceCount; ++i) {
        ShowWindow(displayManager->devices[i].window, SW_SHOW);
        UpdateWindow(displayManager->devices[i].window);
    }
    const DisplaySettings& settings = *displayManager->settings;
    cursor = settings.windowed ? LoadCursorA(nullptr, IDC_CROSS) : nullptr;
    SetCursor(cursor);
    SetFocus(firstWindow());
    if (settings.useDirectInput)
        input = new DIInput();
    else
        input = new GDIInput();
    input->init(firstWindow());

    bool ok = demo->init(displayManager);
    if (ok) {
        TIMECAPS caps = {};
        caps.wPeriodMin = 1;
        timeGetDevCaps(&caps, sizeof caps);
        timeBeginPeriod(caps.wPeriodMin);
        SetTimer(firstWindow(), kFpsTimer, 100, nullptr);

        bool done = false;
        MSG message = {};
        while (!demo->quit && !done) {
            if (frameLoopProbe)
                frameLoopProbe();
            if (appActive) {
                if (!demo->frame())
                    ok = false;
                input->update();
                while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) == 1)
                    pumpAndDispatch(message, done);
                demo->updateUserCamera(input);
            } else {
                pumpAndDispatch(message, done);
            }
        }
        KillTimer(firstWindow(), kFpsTimer);
        timeEndPeriod(caps.wPeriodMin);
    }

    for (i32 i = 0; i < displayManager->deviceCount; ++i)
        ShowWindow(displayManager->devices[i].window, SW_HIDE);
    if (!ok) {
        logStream << "Loading error!" << std::endl;
        MessageBoxA(nullptr, "Loading error!", "Error", MB_ICONHAND);
    }
    demo->shutdown();

    delete engine;
    delete input;
    input = nullptr;
    delete displayManager;
    displayManager = nullptr;
    delete demo;
    demo = nullptr;

    writeAssertionSummary(logStream);
    Profiler::report();
    closeLog();
    // A demo that failed to load or to play must not end as a success: the
    // play script and anything running it go by the status.
    return ok ? 0 : kFailedRunStatus;
}
