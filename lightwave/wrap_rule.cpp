#include "lightwave/wrap_rule.h"

#include <d3d9.h>

namespace {

i32 mapMode(u32 caps, u32 mode)
{
    const i32 mirror = (caps & D3DPTADDRESSCAPS_MIRROR) ? D3DTADDRESS_MIRROR : D3DTADDRESS_WRAP;
    const i32 edge = (caps & D3DPTADDRESSCAPS_CLAMP) ? D3DTADDRESS_CLAMP : D3DTADDRESS_WRAP;
    const i32 reset = (caps & D3DPTADDRESSCAPS_BORDER) ? D3DTADDRESS_BORDER : edge;
    switch (mode) {
    case 0: return reset;
    case 1: return D3DTADDRESS_WRAP;
    case 2: return mirror;
    case 3: return edge;
    // Border and mirror-once are address modes of their own; anything else
    // would reach the sampler as a value it does not know.
    case 4:
    case 5: return (i32)mode;
    default: return D3DTADDRESS_WRAP;
    }
}

} // namespace

WrapModes wrapModesFor(u32 caps, u32 widthMode, u32 heightMode, i32 projection, bool noScaleTexture)
{
    WrapModes modes;
    modes.height = mapMode(caps, heightMode);
    modes.width = (caps & D3DPTADDRESSCAPS_INDEPENDENTUV) ? mapMode(caps, widthMode) : modes.height;
    if (projection == 2)
        modes.width = modes.height = D3DTADDRESS_WRAP;
    else if (projection == 1)
        modes.width = D3DTADDRESS_WRAP;
    if (noScaleTexture)
        modes.width = modes.height = D3DTADDRESS_CLAMP;
    return modes;
}
