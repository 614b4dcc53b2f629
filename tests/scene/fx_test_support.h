// Shared by the flare and HyperVoxel tests: a camera at the origin looking
// along +z with a 90-degree view and a fitted depth range, and the pixels
// of the back buffer.
#pragma once

#include "scene_test_support.h"

#include "scene/node.h"

#include "platform/device_test_support.h"

namespace fxtest {

class TestCamera : public PerspectiveNode {
public:
    explicit TestCamera(SceneBase* scene, UINT width = 64, UINT height = 48) : PerspectiveNode(scene, 3, 0)
    {
        viewport = {0, 0, width, height, 0.0f, 1.0f};
        // x and y over z: a square 90-degree view; depth fitted to 1..100.
        fitDepthRange(0.0, 1.0f, 100.0f);
    }
};

inline void clearTarget(IDirect3DDevice9* device, float z = 1.0f, D3DCOLOR color = 0)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, color, z, 0);
}

inline std::vector<uint32_t> backPixels(IDirect3DDevice9* device)
{
    return readBackBuffer(device);
}

// True when the log draws, and every draw follows a call of `setter`
// (SetVertexShader or SetPixelShader) that unbound the shader.
inline bool drawsUnshaded(const std::vector<platform::d3d9::DeviceCall>& log, const char* setter)
{
    bool unbound = false;
    size_t draws = 0;
    for (const auto& call : log) {
        if (call.name == setter)
            unbound = call.args.at(0) == 0.0;
        else if (call.name.rfind("Draw", 0) == 0) {
            if (!unbound)
                return false;
            ++draws;
        }
    }
    return draws > 0;
}

} // namespace fxtest
