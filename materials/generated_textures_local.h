// Shared by the generated texture kinds: the create, fill, upload sequence
// on level 0 of the first device's texture.
#pragma once

#include "foundation/types.h"
#include "materials/texture.h"

#include <d3d9.h>

namespace generated {

// Level 0 while it is locked: 32-bit ARGB texels, rows pitch bytes apart.
struct Level0 {
    u8* bits;
    i32 pitch;
    i32 width;
    i32 height;

    u32& at(i32 x, i32 y) const { return reinterpret_cast<u32*>(bits + size_t(y) * size_t(pitch))[x]; }
};

// Creates the texture as width x height A8R8G8B8 with those flags (the name
// only when it has none), lets fill write level 0, then uploads. Nothing is
// filled or uploaded when the texture cannot be created; a level that cannot
// be locked drops the texture rather than upload undefined texels. False in
// both cases.
template <typename Fill>
bool fillAndUpload(Texture& texture, i32 width, i32 height, u32 flags, const char* name, Fill&& fill)
{
    // A texture built before may have been converted to another format;
    // the texels are always written as 32-bit words.
    texture.format = D3DFMT_A8R8G8B8;
    if (!texture.create2D(width, height, flags, name))
        return false;
    IDirect3DTexture9* base = texture.baseTextures[0];
    D3DLOCKED_RECT locked{};
    if (FAILED(base->LockRect(0, &locked, nullptr, 0)) || !locked.pBits) {
        texture.releaseDeviceTextures();
        return false;
    }
    fill(Level0{static_cast<u8*>(locked.pBits), i32(locked.Pitch), width, height});
    base->UnlockRect(0);
    texture.finishCreation();
    return true;
}

// Opaque grey: red = green = blue = g, alpha 255.
constexpr u32 grey(u32 g)
{
    return 0xFF000000u | g << 16 | g << 8 | g;
}

} // namespace generated
