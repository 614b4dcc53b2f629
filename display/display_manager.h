// The single owner of Direct3D 9: the IDirect3D9 object, one record per
// adapter with what it can do, the output windows and devices, and the
// settings. The collect operations turn an adapter's answers into candidate
// lists and settle the settings' formats against them.
#pragma once

#include "display/device_window.h"
#include "display/display_settings.h"
#include "display/format_table.h"
#include "foundation/types.h"

#include <d3d9.h>
#include <windows.h>

#include <vector>

struct AdapterInfo {
    D3DADAPTER_IDENTIFIER9 identifier = {};
    HMONITOR monitor = nullptr;
    D3DCAPS9 caps = {}; // of the HAL device
    u32 modeCount = 0;
    D3DDISPLAYMODE* modes = nullptr; // X8R8G8B8 modes, modeCount entries
    D3DDISPLAYMODE desktopMode = {};
    // Indices 0-5 into displayFormats.
    std::vector<int> displayFormats;
    std::vector<int> backBufferFormats;
    std::vector<D3DMULTISAMPLE_TYPE> multiSampleTypes; // accepted types of 2-16
    u32 nonMaskableQualityLevels = 0;
    FormatList textureFormats;
    FormatList renderTargetTextureFormats;
    FormatList displacementTextureFormats;
    FormatList cubeTextureFormats;
    FormatList cubeRenderTargetFormats;
    FormatList volumeTextureFormats;
    FormatList depthFormats;

    AdapterInfo() = default;
    ~AdapterInfo();
    AdapterInfo(const AdapterInfo&) = delete;
    AdapterInfo& operator=(const AdapterInfo&) = delete;
};

class DisplayManager {
public:
    IDirect3D9* d3d = nullptr;
    i32 adapterCount = 0;
    i32 deviceCount = 0; // 1, or 2 with stereo
    AdapterInfo* adapters = nullptr;
    DeviceWindow* devices = nullptr;
    DisplaySettings* settings = nullptr; // owned

    DisplayManager();
    ~DisplayManager();
    DisplayManager(const DisplayManager&) = delete;
    DisplayManager& operator=(const DisplayManager&) = delete;

    // Creates Direct3D and reads every adapter; false (after a box) when
    // Direct3D is missing or no adapter does hardware transform and lighting.
    bool enumerateAdapters();

    // The record of an adapter ordinal, or null when out of range.
    AdapterInfo* adapterAt(int adapter) const;

    // Settles settings->adapterFormat.
    void collectDisplayFormats(int adapter);
    // Settles settings->backBufferFormat and fills the texture lists.
    void collectTextureFormats(int adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat, BOOL windowed);
    // Settles settings->multiSampleType and multiSampleQuality.
    void collectMultisampleTypes(int adapter, D3DDEVTYPE deviceType, D3DFORMAT format, BOOL windowed);
    void collectDepthFormats(int adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                             D3DFORMAT renderTargetFormat);

    // One window and one device per output (two in stereo). False after an
    // error box: fullscreen stereo on one adapter, an adapter without
    // hardware transform and lighting, or a device that cannot be created.
    bool createDevices(const char* className, HINSTANCE instance);
    // Fills each output's present parameters and creates its device; false
    // when a device fails twice.
    bool createDeviceObjects();
    // Resets every device with its stored present parameters. All devices are
    // reset; the result is the first failure, D3D_OK when all succeeded.
    HRESULT resetDevices();
    void hideWindows();

    // The vertex-processing behaviour for a device on an adapter with these
    // caps under the current settings, D3DCREATE_MULTITHREADED included.
    DWORD behaviourFlags(const D3DCAPS9& caps) const;

    // The settle rule for a display or back-buffer format against the
    // qualifying indices (0-5, in order): a qualifying setting stays, 0 takes
    // the first qualifying format, one of the six that does not qualify moves
    // to the nearest qualifying one before it (else the first after it), any
    // other value to the last qualifying one; nothing qualifying gives 0.
    static D3DFORMAT settleFormat(D3DFORMAT setting, const std::vector<int>& qualifying);

private:
    void releaseAdapters();
    void releaseDevices();
};
