// The lens flare of a light: a rotated glow and up to 16 elements strung
// along the line from the light through the centre of the view, faded by the
// share of the light's point that the depth buffer lets through. That share
// comes from a probe point drawn into the back buffer's alpha and read back.
#pragma once

#include "foundation/types.h"

#include <d3d9.h>

#include <vector>

class Engine;
class Light;
class Node;
class Texture;

class LensFlare {
public:
    struct Element {
        i32 slot;       // texture slot 1..5
        float position; // 1 at the light, 0 at the view centre
        float size;
        D3DCOLOR color;
    };
    static const Element kElements[16];
    static constexpr D3DCOLOR kProbeMark = 0xCDFF0000;
    static constexpr DWORD kFVF = D3DFVF_XYZ | D3DFVF_TEX1;

    Engine* engine;
    u8 visible = 0;
    float viewPos[3] = {0.0f, 0.0f, 0.0f};
    float visibleFraction = 1.0f;
    float screenX = 0.0f, screenY = 0.0f;
    float ndcZ = 0.0f, invW = 0.0f;
    Light* light;
    // Slots 1..5 (index 0 unused); the metascene owns them.
    Texture* textures[6] = {};
    float size = 0.0f;
    float angle = 0.0f;
    float edgeFade = 1.0f;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    D3DMATRIX matrix;

    LensFlare(Engine* engine, Light* light);
    LensFlare(const LensFlare&) = delete;
    LensFlare& operator=(const LensFlare&) = delete;
    // Releases the vertex buffer only: the textures are the metascene's.
    virtual ~LensFlare();

    bool project(Node* camera, double t);
    void drawProbePoint(Node* camera, double t);
    void draw(double t);
    void release();

    // What Scene::renderFlares does for the lights of a scene: project,
    // probe, read back and draw every flare.
    static void renderFlares(const std::vector<Light*>& lights, Node* camera, double t);
    // The 3 x 3 block around the flare's pixel within a width x height
    // surface (all zero when none of it is inside): words outside count as
    // hidden.
    static RECT probeBlock(i32 width, i32 height, i32 x, i32 y);
    // The words of a locked block (pixels at its top left) that hold the
    // probe mark: the share of the flare, in ninths.
    static i32 countProbeHits(const u32* pixels, i32 rowLength, const RECT& block);
};
