#include "scene/lens_flare.h"

#include "foundation/matrix.h"
#include "materials/engine.h"
#include "materials/generated_textures.h"
#include "materials/shader_parameters.h"
#include "materials/texture.h"
#include "scene/light.h"
#include "scene/node.h"
#include "scene/scene.h"
#include "scene/scene_group.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

struct FlareVertex {
    float x, y, z, u, v;
};
static_assert(sizeof(FlareVertex) == 20);

const D3DMATRIX kIdentity = {{{1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f,
                               0.0f, 1.0f}}};

D3DMATRIX translation(const float p[3])
{
    D3DMATRIX m = kIdentity;
    m._41 = p[0], m._42 = p[1], m._43 = p[2];
    return m;
}

const D3DMATRIX& inverseWorldOf(Node* node, double t)
{
    return node->inverseValid ? node->inverseWorld : *node->getInvMatrix(t);
}

const D3DMATRIX& projectionOf(Node* node, double t)
{
    if (!node->projectionValid)
        node->buildProjection(t);
    return node->projection;
}

// Texture slot of each flare texture kind: slot 5 takes the plain flare.
constexpr i32 kSlotKinds[6] = {-1, 1, 2, 3, 4, 0};

// The metascene's texture of that name, or null. Looked up here rather than
// through the metascene's own look-up: the scene library links below the
// metascene's.
Texture* metaTexture(SceneGroup* meta, const char* name)
{
    for (Texture* texture : meta->textures)
        if (texture && std::strcmp(texture->name.c_str(), name) == 0)
            return texture;
    return nullptr;
}

const char* const kFlareNames[5] = {"(flare)", "(flare BRIGHTCTR)", "(flare EVENCTR)", "(flare DIMCTR)",
                                    "(flare RING)"};

} // namespace

const LensFlare::Element LensFlare::kElements[16] = {
    {2, 1.52f, 0.4f, 0xFF030303},    {2, 1.5f, 0.92f, 0xFF0A0500},    {4, 1.3f, 0.11f, 0xFF141414},
    {2, 0.505f, 0.055f, 0xFF03080F}, {2, 0.45f, 0.16f, 0xFF00030D},   {2, 0.41f, 0.085f, 0xFF030A0F},
    {2, 0.2f, 0.055f, 0xFF291400},   {1, 0.01f, 0.03f, 0xFF999999},   {1, -0.27f, 0.045f, 0xFF80B2CC},
    {2, -0.415f, 0.11f, 0xFF401200}, {3, -0.455f, 0.19f, 0xFF211403}, {2, -0.457f, 0.055f, 0xFF170F00},
    {2, -0.655f, 0.085f, 0xFF0A1F1C}, {1, -0.675f, 0.13f, 0xFF0A0A66}, {4, -1.005f, 0.27f, 0xFF171F00},
    {5, -1.31f, 0.53f, 0xFF0F0A00},
};

LensFlare::LensFlare(Engine* engine, Light* light) : engine(engine), light(light), matrix(kIdentity) {}

LensFlare::~LensFlare() { release(); }

void LensFlare::release()
{
    if (vertexBuffer)
        vertexBuffer->Release();
    vertexBuffer = nullptr;
}

LensFlare* Light::createFlare()
{
    LensFlare* flare = new LensFlare(engine, this);
    Scene* owner = scene ? scene->asScene() : nullptr;
    SceneGroup* meta = owner ? owner->metaScene : nullptr;
    for (i32 slot = 1; slot <= 5; ++slot) {
        const i32 kind = kSlotKinds[slot];
        Texture* texture = meta ? metaTexture(meta, kFlareNames[kind]) : nullptr;
        if (!texture) {
            texture = new SpecialTexture(engine);
            // The metascene owns what it holds; without one the texture
            // would have no owner, so the slot stays empty.
            if (!meta) {
                delete texture;
                continue;
            }
            meta->textures.push_back(texture);
            createFlareTextures(texture, kind);
            texture->name = kFlareNames[kind];
            texture->preload();
        }
        flare->textures[slot] = texture;
    }
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (device && SUCCEEDED(device->CreateVertexBuffer(5 * sizeof(FlareVertex), D3DUSAGE_WRITEONLY, LensFlare::kFVF,
                                                       D3DPOOL_MANAGED, &flare->vertexBuffer, nullptr)) &&
        flare->vertexBuffer) {
        void* locked = nullptr;
        if (SUCCEEDED(flare->vertexBuffer->Lock(0, 0, &locked, 0)) && locked) {
            const FlareVertex vertices[5] = {{-0.1f, -0.1f, 0.0f, 0.0f, 0.0f},
                                             {-0.1f, 0.1f, 0.0f, 0.0f, 1.0f},
                                             {0.1f, 0.1f, 0.0f, 1.0f, 1.0f},
                                             {0.1f, -0.1f, 0.0f, 1.0f, 0.0f},
                                             {0.0f, 0.0f, 0.0f, 0.0f, 0.0f}};
            std::memcpy(locked, vertices, sizeof vertices);
            flare->vertexBuffer->Unlock();
        }
    }
    return flare;
}

bool LensFlare::project(Node* camera, double t)
{
    visible = 0;
    size = light->flareIntensity.valueAt(t) * light->flareNominalDistance * 5.0f;
    if (!(size >= 0.000001f))
        return false;
    angle = light->flareRotationAngle.valueAt(t);
    const D3DMATRIX& view = inverseWorldOf(camera, t);
    const D3DMATRIX& lightWorld = *light->worldMatrixAt(t);
    D3DVECTOR p;
    vecTransformCoord(p, D3DVECTOR{lightWorld._41, lightWorld._42, lightWorld._43}, view);
    viewPos[0] = p.x, viewPos[1] = p.y, viewPos[2] = p.z;
    float clip[4];
    vecTransform(clip, p, projectionOf(camera, t));
    if (camera->isPointOutside(clip))
        return false;
    if (light->lightType == 0 || light->lightType == 2) {
        const D3DMATRIX& cw = *camera->worldMatrixAt(t);
        D3DVECTOR cz{cw._31, cw._32, cw._33}, lz{lightWorld._31, lightWorld._32, lightWorld._33};
        vecNormalize(cz);
        vecNormalize(lz);
        size = -(cz.x * lz.x + cz.y * lz.y + cz.z * lz.z) * size;
        if (size < 0.0f)
            return false;
    }
    const float w = clip[3], m = 0.1f * w, e = w - m;
    edgeFade = 1.0f;
    for (int axis = 0; axis < 2; ++axis) {
        const float c = clip[axis];
        if (c < -e)
            edgeFade *= 1.0f - (-c - e) / m;
        else if (c > e)
            edgeFade *= 1.0f - (c - e) / m;
    }
    visible = 1;
    visibleFraction = 1.0f;
    return true;
}

void LensFlare::drawProbePoint(Node* camera, double t)
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    float clip[4];
    vecTransform(clip, D3DVECTOR{viewPos[0], viewPos[1], viewPos[2]}, projectionOf(camera, t));
    const D3DVIEWPORT9& viewport = *camera->getViewport();
    const float w = clip[3];
    screenX = std::floor((clip[0] / w + 1.0f) * 0.5f * float(viewport.Width) + 0.5f);
    screenY = std::floor((0.5f - 0.5f * clip[1] / w) * float(viewport.Height) + 0.5f);
    ndcZ = clip[2] / w;
    invW = 1.0f / w;
    if (!device || !vertexBuffer)
        return;
    device->SetStreamSource(0, vertexBuffer, 0, sizeof(FlareVertex));
    // The last subset's shaders may still be bound.
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetFVF(kFVF);
    const D3DMATRIX& lightWorld = *light->worldMatrixAt(t);
    D3DVECTOR p;
    vecTransformCoord(p, D3DVECTOR{lightWorld._41, lightWorld._42, lightWorld._43}, inverseWorldOf(camera, t));
    viewPos[0] = p.x, viewPos[1] = p.y, viewPos[2] = p.z;
    engine->uniforms->setView(translation(viewPos));
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, 0);
    device->DrawPrimitive(D3DPT_POINTLIST, 4, 1);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, kProbeMark);
    device->DrawPrimitive(D3DPT_POINTLIST, 4, 1);
}

void LensFlare::draw(double t)
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!device || !vertexBuffer)
        return;
    float color[4];
    light->colorAt(t, color);
    color[3] *= edgeFade;
    size *= visibleFraction;
    const float s = size;
    device->SetStreamSource(0, vertexBuffer, 0, sizeof(FlareVertex));
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetFVF(kFVF);
    matrix = translation(viewPos);
    DWORD savedCull = D3DCULL_CCW;
    device->GetRenderState(D3DRS_CULLMODE, &savedCull);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    auto texture = [&](i32 slot) {
        device->SetTexture(0, textures[slot] ? textures[slot]->current(0.0) : nullptr);
    };
    // The glow and the grey quad share the rotated quad and slot 1.
    if (light->flareOptions & (8 | 1)) {
        const float c = std::cos(angle) * s, sn = std::sin(angle) * s;
        matrix._11 = c, matrix._12 = -sn, matrix._13 = 0.0f;
        matrix._21 = sn, matrix._22 = c, matrix._23 = 0.0f;
        matrix._31 = 0.0f, matrix._32 = 0.0f, matrix._33 = s;
        engine->uniforms->setView(matrix);
        texture(1);
    }
    if (light->flareOptions & 8) {
        device->SetRenderState(D3DRS_TEXTUREFACTOR, colorToARGB(color));
        device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    }
    if (light->flareOptions & 1) {
        const float grey[4] = {0.46f, 0.46f, 0.46f, color[3]};
        device->SetRenderState(D3DRS_TEXTUREFACTOR, colorToARGB(grey));
        device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    }
    if (light->flareOptions & 0x10) {
        for (const Element& row : kElements) {
            texture(row.slot);
            matrix = kIdentity;
            matrix._11 = matrix._22 = matrix._33 = row.size * s;
            matrix._41 = row.position * viewPos[0];
            matrix._42 = row.position * viewPos[1];
            matrix._43 = viewPos[2];
            engine->uniforms->setView(matrix);
            device->SetRenderState(D3DRS_TEXTUREFACTOR, row.color);
            device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
        }
    }
    device->SetRenderState(D3DRS_CULLMODE, savedCull);
}

RECT LensFlare::probeBlock(i32 width, i32 height, i32 x, i32 y)
{
    // Words beyond the surface's edges are missing, not read: a probe at the
    // right edge or a light's viewport wider than the back buffer must not
    // reach past the surface.
    RECT r{std::max(x - 1, 0), std::max(y - 1, 0), std::min(x + 2, width), std::min(y + 2, height)};
    if (r.left >= r.right || r.top >= r.bottom)
        r = RECT{0, 0, 0, 0};
    return r;
}

i32 LensFlare::countProbeHits(const u32* pixels, i32 rowLength, const RECT& block)
{
    i32 count = 0;
    for (i32 row = 0; row < block.bottom - block.top; ++row)
        for (i32 column = 0; column < block.right - block.left; ++column)
            count += (pixels[size_t(row) * size_t(rowLength) + size_t(column)] >> 24) == 0xCD;
    return count;
}

void LensFlare::renderFlares(const std::vector<Light*>& lights, Node* camera, double t)
{
    Engine* engine = camera ? camera->engine : nullptr;
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!device)
        return;
    std::vector<LensFlare*> shown;
    for (Light* light : lights)
        if (light && light->flare && light->flare->project(camera, t))
            shown.push_back(light->flare);
    if (shown.empty())
        return;

    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    engine->uniforms->setTextureMatrix(0, kIdentity);
    engine->uniforms->setWorld(kIdentity);
    const float pointSize = 5.0f;
    DWORD pointSizeBits;
    std::memcpy(&pointSizeBits, &pointSize, sizeof pointSizeBits);
    device->SetRenderState(D3DRS_POINTSIZE, pointSizeBits);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_ALPHA);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTexture(0, nullptr);
    for (LensFlare* flare : shown)
        flare->drawProbePoint(camera, t);

    device->SetRenderState(D3DRS_COLORWRITEENABLE, engine->colorWriteMask);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);

    // The read-back: a surface that cannot be read as 32-bit words (a failed
    // lock, a 16-bit format) counts every flare as fully visible.
    // Each flare locks only its block, so the read-back costs a few pixels
    // per flare rather than the whole surface.
    bool counted = false;
    IDirect3DSurface9* back = nullptr;
    if (SUCCEEDED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back)) && back) {
        D3DSURFACE_DESC desc{};
        if (SUCCEEDED(back->GetDesc(&desc)) &&
            (desc.Format == D3DFMT_A8R8G8B8 || desc.Format == D3DFMT_X8R8G8B8)) {
            const i32 width = std::min<i32>(engine->width, i32(desc.Width));
            const i32 height = std::min<i32>(engine->height, i32(desc.Height));
            std::vector<i32> hits(shown.size(), 0);
            counted = true;
            for (size_t i = 0; i < shown.size() && counted; ++i) {
                const RECT block = probeBlock(width, height, i32(shown[i]->screenX), i32(shown[i]->screenY));
                if (block.right == 0)
                    continue;
                D3DLOCKED_RECT locked{};
                counted = SUCCEEDED(back->LockRect(&locked, &block, D3DLOCK_READONLY));
                if (!counted)
                    break;
                counted = locked.pBits && locked.Pitch >= 4 * (block.right - block.left);
                if (counted)
                    hits[i] = countProbeHits(static_cast<const u32*>(locked.pBits), locked.Pitch / 4, block);
                back->UnlockRect();
            }
            for (size_t i = 0; i < shown.size() && counted; ++i) {
                if (hits[i] == 0)
                    shown[i]->visible = 0;
                else
                    shown[i]->visibleFraction = float(hits[i]) / 9.0f;
            }
        }
        back->Release();
    }
    if (!counted)
        for (LensFlare* flare : shown)
            flare->visibleFraction = 1.0f;
    for (LensFlare* flare : shown)
        if (flare->visible)
            flare->draw(t);

    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
}
