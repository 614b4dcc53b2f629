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

#include <array>
#include <memory>
#include <vector>

namespace demotest {

using namespace texturetest;

// The player's process-wide values (user camera, loading screen, frame
// clock, statistics switch, draw depths), put back when the test ends,
// also when it fails half-way.
class PlayerState {
public:
    PlayerState() = default;
    ~PlayerState()
    {
        lastTick = m_tick;
        lookX = m_look[0];
        lookY = m_look[1];
        screenshotNumber = m_screenshot;
        lastKeysetIndex = m_keyset;
        loadingPicture = m_picture;
        std::copy(m_progress.begin(), m_progress.end(), progressRect);
        progressColor = m_colors[0];
        progressBackColor = m_colors[1];
        userCamSpeed = m_speeds[0];
        userCamShiftSpeed = m_speeds[1];
        lastMusicTime = m_musicTime;
        frameNumber = m_frame;
        showStatistics = m_statistics;
        smoothedFps = m_fps;
        mirrorStencil = m_depths[0];
        meshDrawDepth = m_depths[1];
        renderDepth = m_depths[2];
        shadowPassMode = m_depths[3];
    }
    PlayerState(const PlayerState&) = delete;
    PlayerState& operator=(const PlayerState&) = delete;

private:
    double m_tick = lastTick;
    float m_look[2] = {lookX, lookY};
    i32 m_screenshot = screenshotNumber;
    i32 m_keyset = lastKeysetIndex;
    ImageTexture* m_picture = loadingPicture;
    std::array<float, 4> m_progress = {progressRect[0], progressRect[1], progressRect[2], progressRect[3]};
    u32 m_colors[2] = {progressColor, progressBackColor};
    float m_speeds[2] = {userCamSpeed, userCamShiftSpeed};
    float m_musicTime = lastMusicTime;
    i32 m_frame = frameNumber;
    u8 m_statistics = showStatistics;
    double m_fps = smoothedFps;
    i32 m_depths[4] = {mirrorStencil, meshDrawDepth, renderDepth, shadowPassMode};
};

// Devices and an engine; the player's globals, the image cache and the
// shared random sequence are restored when it goes.
class Rig : public testsupport::Outputs {
    PlayerState m_kept;
    ImageCacheScope m_cache;
    testsupport::Restore<Random> m_sequence{sharedRandom()};

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
