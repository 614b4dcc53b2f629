// What the GL implementation behind the adapters reports, asked once per
// process on a short-lived surfaceless context.
#pragma once

#include <string>

namespace platform {

struct GlAdapterInfo {
    bool available = false; // false: no GL context could be made
    std::string renderer;
    std::string vendor;
    std::string version;
    int maxSamples = 0;
    int maxTextureSize = 0;
    int max3DTextureSize = 0;
    int maxCubeMapTextureSize = 0;
    float maxAnisotropy = 0.0f;
};

const GlAdapterInfo& glAdapterInfo();

// The EGL display the devices make their headless contexts on (surfaceless
// where Mesa offers it), initialised once per process and never terminated;
// null when EGL has no display. surfaceless tells whether contexts on it
// need no surface.
void* deviceEglDisplay(bool* surfaceless);

} // namespace platform
