// Shared by the texture tests: an engine over real headless devices (one,
// or two in stereo), images made in memory, and level read-back.
#pragma once

#include "display/display_manager.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/random.h"
#include "materials/engine.h"
#include "materials/image.h"
#include "materials/image_cache.h"
#include "materials/texture.h"

#include "log_test_support.h"
#include "output_test_support.h"
#include "platform/d3d9/adapter_profiles.h"
#include "scoped_state.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace texturetest {

// The process-wide image cache as the test found it: what the test loaded
// is dropped when it ends, so that a later test reading a file of the same
// name gets its own bytes, not these.
class ImageCacheScope {
public:
    ImageCacheScope() = default;
    ~ImageCacheScope() { trimImageCache(m_keep); }
    ImageCacheScope(const ImageCacheScope&) = delete;
    ImageCacheScope& operator=(const ImageCacheScope&) = delete;

private:
    size_t m_keep = imageCache.size();
};

// A display manager through the start path (adapters, formats, windows and
// devices) and the engine over it. The profile stays installed meanwhile.
class TestEngine : public testsupport::Outputs {
public:
    explicit TestEngine(bool stereo = false, platform::AdapterProfile profile = platform::defaultAdapterProfile())
        : Outputs({std::move(profile)}, [stereo](DisplaySettings& s) { s.stereo = stereo ? 1 : 0; })
    {
        if (created)
            engine = std::make_unique<Engine>(&manager);
    }
    // The engine goes before the outputs it draws on.
    ~TestEngine() { engine.reset(); }

    Engine* get() const { return engine.get(); }
    Engine* operator->() const { return engine.get(); }
    explicit operator bool() const { return engine != nullptr; }

    std::unique_ptr<Engine> engine;

private:
    ImageCacheScope m_cache; // trimmed once the destructor has let the engine go
    // The shared sequence that lights and particles draw from.
    testsupport::Restore<Random> m_sequence{sharedRandom()};
};

#define REQUIRE_ENGINE(e)                                                                                   \
    do {                                                                                                    \
        if (!(e))                                                                                           \
            GTEST_SKIP() << "no Direct3D device can be created here";                                      \
    } while (0)

// Sets the diagnostics level for one test and starts with no boxes, each
// check showing its box again as in a new run.
struct Diagnostics {
    int saved = diagnosticsLevel;
    explicit Diagnostics(int level)
    {
        diagnosticsLevel = level;
        platform::clearRecordedMessageBoxes();
        forgetFailedAssertions();
    }
    ~Diagnostics()
    {
        diagnosticsLevel = saved;
        platform::clearRecordedMessageBoxes();
    }
};

inline std::vector<std::string> boxTexts()
{
    std::vector<std::string> texts;
    for (const auto& box : platform::recordedMessageBoxes())
        texts.push_back(box.caption + ": " + box.text);
    return texts;
}

using testsupport::logLinesFrom;
using testsupport::logPosition;

// A 0xAARRGGBB image (bytesPerPixel 0), or a TGA-style one with 3 or 4
// bytes a pixel in blue, green, red[, alpha] order; texel(x, y) gives the
// ARGB value. Starts with one reference for the caller.
inline Image* makeImage(int width, int height, const std::function<u32(int, int)>& texel, int bytesPerPixel = 0)
{
    Image* image = new Image;
    const size_t pixelBytes = bytesPerPixel ? size_t(bytesPerPixel) : 4;
    const size_t bytes = size_t(width) * size_t(height) * pixelBytes;
    image->pixels = new u32[(bytes + 3) / 4]();
    image->width = width;
    image->height = height;
    image->bytesPerPixel = bytesPerPixel;
    u8* out = image->bytes();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const u32 v = texel(x, y);
            u8* p = out + (size_t(y) * width + x) * pixelBytes;
            for (size_t i = 0; i < pixelBytes; ++i)
                p[i] = u8(v >> (8 * i));
        }
    return image;
}

// The texels of a level of a 32-bit texture, top row first (empty for
// other formats).
inline std::vector<u32> readLevel(IDirect3DTexture9* texture, UINT level = 0)
{
    std::vector<u32> out;
    D3DSURFACE_DESC desc{};
    if (!texture || FAILED(texture->GetLevelDesc(level, &desc)))
        return out;
    if (desc.Format != D3DFMT_A8R8G8B8 && desc.Format != D3DFMT_X8R8G8B8) {
        ADD_FAILURE() << "not a 32-bit texture";
        return out;
    }
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY)))
        return out;
    out.resize(size_t(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y)
        std::memcpy(&out[size_t(y) * desc.Width], static_cast<const u8*>(locked.pBits) + size_t(y) * locked.Pitch,
                    desc.Width * 4);
    texture->UnlockRect(level);
    return out;
}

// Fills level 0 of the first device's texture with texel(x, y).
inline void fillLevel0(Texture& texture, const std::function<u32(int, int)>& texel)
{
    IDirect3DTexture9* t = texture.baseTextures[0];
    ASSERT_NE(t, nullptr);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(t->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < texture.height; ++y) {
        u32* row = reinterpret_cast<u32*>(static_cast<u8*>(locked.pBits) + size_t(y) * locked.Pitch);
        for (int x = 0; x < texture.width; ++x)
            row[x] = texel(x, y);
    }
    t->UnlockRect(0);
}

inline D3DSURFACE_DESC levelDesc(IDirect3DTexture9* texture, UINT level = 0)
{
    D3DSURFACE_DESC desc{};
    if (texture)
        texture->GetLevelDesc(level, &desc);
    return desc;
}

// A texture made by create2D and filled by the test, as a builder would.
class BuiltTexture : public Texture {
public:
    BuiltTexture(Engine* engine, u32 flags) : Texture(engine, flags) {}
    Texture* clone() const override { return new BuiltTexture(*this); }
    void load() override {}
};

} // namespace texturetest
