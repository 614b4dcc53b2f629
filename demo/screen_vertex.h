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

// The four corners of a screen rectangle as a triangle fan, the texture
// stretched once across it.
inline void fillScreenQuad(ScreenVertex quad[4], float left, float top, float right, float bottom, D3DCOLOR colour)
{
    quad[0] = {left, top, 0.5f, 0.5f, colour, 0.0f, 0.0f};
    quad[1] = {right, top, 0.5f, 0.5f, colour, 1.0f, 0.0f};
    quad[2] = {right, bottom, 0.5f, 0.5f, colour, 1.0f, 1.0f};
    quad[3] = {left, bottom, 0.5f, 0.5f, colour, 0.0f, 1.0f};
}

// Draws a filled quad with the fixed-function pipeline, in a scene of its own.
inline void drawScreenQuadVertices(IDirect3DDevice9* device, const ScreenVertex quad[4])
{
    device->SetFVF(screenVertexFVF);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->BeginScene();
    device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(ScreenVertex));
    device->EndScene();
}
