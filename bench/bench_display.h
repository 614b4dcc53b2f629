// The headless windowed display the drawing benchmarks open through the
// engine's display manager.
#pragma once

#include "display/display_manager.h"
#include "platform/d3d9/adapter_profiles.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

inline LRESULT CALLBACK benchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

// A manager with its devices created on a width x height window; null, with
// the reason printed, when there is no adapter or no device.
inline std::unique_ptr<DisplayManager> openBenchDisplay(int width, int height)
{
    setenv("QUILLON_HEADLESS", "1", 0);
    platform::installAdapterProfiles({platform::defaultAdapterProfile()});
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = benchWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "BenchOutput";
    RegisterClassExA(&wc);

    auto manager = std::make_unique<DisplayManager>();
    DisplaySettings& s = *manager->settings;
    s.windowed = 1;
    s.windowWidth = width;
    s.windowHeight = height;
    if (!manager->enumerateAdapters()) {
        std::printf("no adapter\n");
        return nullptr;
    }
    manager->collectDisplayFormats(s.adapter);
    manager->collectTextureFormats(s.adapter, D3DDEVTYPE_HAL, s.adapterFormat, s.windowed);
    manager->collectDepthFormats(s.adapter, D3DDEVTYPE_HAL, s.adapterFormat, s.backBufferFormat);
    if (!manager->createDevices("BenchOutput", GetModuleHandleA(nullptr))) {
        std::printf("no device\n");
        return nullptr;
    }
    return manager;
}
