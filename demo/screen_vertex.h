// The vertex of every 2D overlay: a pre-transformed point with a colour and
// one texture coordinate (FVF 0x144), 28 bytes.
#pragma once

#include "foundation/types.h"

#include <d3d9.h>

struct ScreenVertex {
    float x, y; // pixels
    float z;    // 0.5
    float rhw;  // 0.5
    D3DCOLOR diffuse;
    float u, v;
};
static_assert(sizeof(ScreenVertex) == 28, "screen vertices are 28 bytes");

constexpr DWORD screenVertexFVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
