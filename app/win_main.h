// The program's entry point and the window procedure of every output
// window, with the globals that tie them together.
#pragma once

#include "foundation/types.h"

#include <windows.h>

#include <functional>

class DisplayManager;
class Input;
class Demo;

extern DisplayManager* displayManager;
extern Input* input;
extern Demo* demo;
extern HCURSOR cursor;
extern u8 appActive;      // 1 while the application may render
extern i32 lastFrameCount; // ten times the rendered-frame counter at the last timer tick

// Ids 0 to 11 of the profiler counters registered first thing.
enum ProfilerCounterId : int {
    kCompleteRenderTime = 0,
    kGetCubeMapSurface,
    kClear,
    kSetStates,
    kSetSources,
    kDrawIndexedPrimitive,
    kPresent,
    kSvpSwitch,
    kGetMatrix,
    kGetInvMatrix,
    kRenderShadowMap,
    kVorbisChannelFill,
};

// Test seam: runs at the start of every pass of the frame loop.
extern std::function<void()> frameLoopProbe;
// Test seam: when set, runs in place of the start dialog (the capture runs
// use the full setup path); true to go on with the settings.
extern bool (*startSetup)(DisplayManager* manager, HINSTANCE instance);

// 0 after a run, 1 after a failed load or frame ("Loading error!"), -1 when
// start-up ends before the devices exist.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);
LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
