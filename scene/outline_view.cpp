#include "scene/outline_view.h"

#include "materials/engine.h"

#include <d3d9.h>

namespace outline {

const u16 lineIndices[16] = {0, 1, 1, 3, 3, 2, 2, 0, 4, 5, 6, 7, 8, 9, 10, 11};

namespace {

ScreenVertex toScreen(float x, float y, float w, float width, float height)
{
    const float inv = w != 0.0f ? 1.0f / w : 0.0f;
    return {width * x * inv / 2.0f + width / 2.0f, height / 2.0f - height * y * inv / 2.0f, 0.0f, 1.0f,
            0xFFFFFFFFu};
}

} // namespace

void project(const float c[4][3], const float n[4][2], float width, float height, ScreenVertex out[12])
{
    static constexpr int edges[4][2] = {{0, 1}, {1, 3}, {3, 2}, {2, 0}};
    for (int i = 0; i < 4; ++i)
        out[i] = toScreen(c[i][0], c[i][1], c[i][2], width, height);
    for (int e = 0; e < 4; ++e) {
        const float* a = c[edges[e][0]];
        const float* b = c[edges[e][1]];
        const float mx = 0.5f * (a[0] + b[0]), my = 0.5f * (a[1] + b[1]), mw = 0.5f * (a[2] + b[2]);
        out[4 + 2 * e] = toScreen(mx, my, mw, width, height);
        out[5 + 2 * e] = toScreen(mx + 0.5f * n[e][0], my + 0.5f * n[e][1], mw, width, height);
    }
}

void draw(Engine* engine, const float corners[4][3], const float normals[4][2])
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!device)
        return;
    ScreenVertex v[12];
    project(corners, normals, float(engine->width), float(engine->height), v);
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetTexture(0, nullptr);
    device->DrawIndexedPrimitiveUP(D3DPT_LINELIST, 0, 12, 8, lineIndices, D3DFMT_INDEX16, v, sizeof(ScreenVertex));
}

} // namespace outline
