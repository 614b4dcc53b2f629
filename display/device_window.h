// One output: its window and the Direct3D 9 device that draws into it, with
// the present parameters the device was made with (kept for Reset).
#pragma once

#include "foundation/types.h"

#include <d3d9.h>
#include <windows.h>

struct AdapterInfo;
struct FormatDesc;

class DeviceWindow {
public:
    D3DPRESENT_PARAMETERS presentParameters;
    IDirect3DDevice9* device;
    HWND window;
    AdapterInfo* adapterInfo;
    i32 adapterOrdinal;
    D3DDEVTYPE deviceType;
    const FormatDesc* depthFormat; // of the automatic depth-stencil buffer, null when none

    DeviceWindow();
    ~DeviceWindow();
    DeviceWindow(const DeviceWindow&) = delete;
    DeviceWindow& operator=(const DeviceWindow&) = delete;
};
