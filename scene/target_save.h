// Render target 0 and the depth-stencil surface of the current device, held
// across an off-screen pass and put back (and released) at its end. Either
// may be missing (a device without depth surface); missing ones are not set
// back.
#pragma once

#include <d3d9.h>

class SavedTargets {
public:
    explicit SavedTargets(IDirect3DDevice9* device) : device(device)
    {
        if (!device)
            return;
        if (FAILED(device->GetRenderTarget(0, &target)))
            target = nullptr;
        if (FAILED(device->GetDepthStencilSurface(&depth)))
            depth = nullptr;
    }
    ~SavedTargets()
    {
        if (target) {
            device->SetRenderTarget(0, target);
            target->Release();
        }
        if (depth) {
            device->SetDepthStencilSurface(depth);
            depth->Release();
        }
    }
    SavedTargets(const SavedTargets&) = delete;
    SavedTargets& operator=(const SavedTargets&) = delete;

private:
    IDirect3DDevice9* device;
    IDirect3DSurface9* target = nullptr;
    IDirect3DSurface9* depth = nullptr;
};
