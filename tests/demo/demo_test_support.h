// Shared by the demo tests: an engine over headless devices of a chosen size
// (two in stereo), solid test textures and back-buffer read-back.
#pragma once

#include "materials/texture_test_support.h"
#include "demo/demo.h"
#include "demo/overlays.h"
#include "demo/script_events.h"
#include "demo/user_camera.h"
#include "materials/pass_state.h"
#include "scene/poly_mesh.h"
#include "scene/scene.h"
#include "scene/scene_interaction.h"
#include "scoped_state.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace demotest {

using namespace texturetest;

// The player's process-wide values, the image cache and the shared random
// sequence, put back when the test ends, a failed one included.
class PlayerState {
    using OnExit = testsupport::OnExit;
    template <typename T>
    using Restore = testsupport::Restore<T>;
    Restore<double> m_tick{lastTick}, m_fps{smoothedFps};
    Restore<float> m_lookX{lookX}, m_lookY{lookY}, m_speed{userCamSpeed}, m_shiftSpeed{userCamShiftSpeed},
        m_musicTime{lastMusicTime};
    Restore<i32> m_screenshot{screenshotNumber}, m_keyset{lastKeysetIndex}, m_frame{frameNumber},
        m_mirror{mirrorStencil}, m_meshDepth{meshDrawDepth}, m_renderDepth{renderDepth}, m_shadowPass{shadowPassMode};
    Restore<u32> m_color{progressColor}, m_backColor{progressBackColor};
    Restore<u8> m_statistics{showStatistics};
    Restore<ImageTexture*> m_picture{loadingPicture};
    OnExit m_progress{[saved = std::to_array(progressRect)] { std::copy(saved.begin(), saved.end(), progressRect); }};
    ImageCacheScope m_cache;
    Restore<Random> m_sequence{sharedRandom()};
};

// Devices and an engine; the player's state is restored when it goes.
class Rig : public testsupport::Outputs {
    PlayerState m_kept;

public:
    Rig(int width, int height, bool stereo = false)
        : Outputs({platform::defaultAdapterProfile()}, [=](DisplaySettings& s) {
              s.windowWidth = width;
              s.windowHeight = height;
              s.stereo = stereo ? 1 : 0;
              s.noSound = 1;
          })
    {
        if (created) {
            engine = std::make_unique<Engine>(&manager);
            attachSceneInteraction(engine.get());
        }
    }
    ~Rig()
    {
        textures.clear();
        engine.reset();
    }
    IDirect3DDevice9* device() const { return engine->currentDevice; }

    // A width x height texture of one ARGB value, owned by the rig.
    Texture* solid(u32 argb, int width = 4, int height = 4)
    {
        auto t = std::make_unique<BuiltTexture>(engine.get(), 0);
        EXPECT_TRUE(t->create2D(width, height, 0, "(test)"));
        fillLevel0(*t, [argb](int, int) { return argb; });
        t->finishCreation();
        textures.push_back(std::move(t));
        return textures.back().get();
    }

    // A picture of one ARGB value with the given texture flags; the caller
    // (a demo field) owns it.
    ImageTexture* picture(u32 argb, u32 flags = 11)
    {
        auto* t = new ImageTexture(engine.get());
        t->colorImage = makeImage(4, 4, [argb](int, int) { return argb; });
        t->flags = flags;
        t->load();
        return t;
    }

    std::unique_ptr<Engine> engine;
    std::vector<std::unique_ptr<Texture>> textures;
};

// The current back buffer of device, RGB only, top row first.
class BackBuffer {
public:
    explicit BackBuffer(IDirect3DDevice9* device)
    {
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        D3DSURFACE_DESC desc{};
        back->GetDesc(&desc);
        width = int(desc.Width);
        height = int(desc.Height);
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(back->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
            pixels.resize(size_t(width) * height);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    pixels[size_t(y) * width + x] =
                        reinterpret_cast<const u32*>(static_cast<const u8*>(locked.pBits) + y * locked.Pitch)[x] &
                        0xFFFFFFu;
            back->UnlockRect();
        }
        back->Release();
    }
    u32 operator()(int x, int y) const { return pixels.at(size_t(y) * width + x); }

    int width = 0;
    int height = 0;
    std::vector<u32> pixels;
};

// Within a few steps on every channel (blending rounds).
inline bool near(u32 a, u32 b, int tolerance = 3)
{
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
        if (d > tolerance || d < -tolerance)
            return false;
    }
    return true;
}

} // namespace demotest
