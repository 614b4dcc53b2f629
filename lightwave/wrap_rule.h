// Texture address modes for the wrap modes of an object file's texture
// blocks (0 reset, 1 repeat, 2 mirror, 3 edge), chosen from what the device
// can address. Texture layers and the HyperVoxel blocks both use it.
#pragma once

#include "foundation/types.h"

struct WrapModes {
    i32 width;  // D3DTEXTUREADDRESS values
    i32 height;
};

// The device's TextureAddressCaps decide the stand-ins: mirror falls back to
// wrap, edge to wrap, reset to border, else to edge. Without independent
// u/v addressing the width takes the height's mode. Spherical projection
// (2) wraps both ways, cylindrical (1) wraps the width, and a texture kept
// at its size ("_noscale") clamps both.
WrapModes wrapModesFor(u32 textureAddressCaps, u32 widthMode, u32 heightMode, i32 projection = -1,
                       bool noScaleTexture = false);
