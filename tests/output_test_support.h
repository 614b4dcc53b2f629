// Outputs for tests that need real devices: windows and devices made through
// the display manager's start path over installed adapter profiles.
#pragma once

#include "display/display_manager.h"
#include "platform/d3d9/adapter_profiles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace testsupport {

inline LRESULT CALLBACK outputProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

// The window class of the outputs, registered on first use.
inline const char* outputClass()
{
    static const bool registered = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = outputProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "TestOutput";
        return RegisterClassExA(&wc) != 0;
    }();
    (void)registered;
    return "TestOutput";
}

// A display manager that went through the start path: adapters, formats,
// then windows and devices. Windowed at 64x48 unless configure says
// otherwise; the profiles stay installed for its lifetime.
class Outputs {
public:
    explicit Outputs(std::vector<platform::AdapterProfile> profiles,
                     const std::function<void(DisplaySettings&)>& configure = {})
    {
        platform::installAdapterProfiles(std::move(profiles));
        DisplaySettings& s = *manager.settings;
        s.windowed = 1;
        s.windowWidth = 64;
        s.windowHeight = 48;
        if (configure)
            configure(s);
        if (!manager.enumerateAdapters())
            return;
        const D3DDEVTYPE type = s.refRast ? D3DDEVTYPE_REF : D3DDEVTYPE_HAL;
        manager.collectDisplayFormats(s.adapter);
        manager.collectTextureFormats(s.adapter, type, s.adapterFormat, s.windowed);
        manager.collectDepthFormats(s.adapter, type, s.adapterFormat, s.backBufferFormat);
        created = manager.createDevices(outputClass(), GetModuleHandleA(nullptr));
    }
    ~Outputs() { platform::clearAdapterProfiles(); }
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;

    DisplayManager manager;
    bool created = false;
};

} // namespace testsupport

#define REQUIRE_DEVICES(outputs)                                                                            \
    do {                                                                                                    \
        if (!(outputs).created)                                                                             \
            GTEST_SKIP() << "no Direct3D device can be created here";                                       \
    } while (0)
