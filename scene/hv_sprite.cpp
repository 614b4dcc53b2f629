#include "scene/hv_object.h"

#include "foundation/matrix.h"
#include "materials/engine.h"
#include "materials/generated_textures.h"
#include "materials/shader_parameters.h"
#include "materials/texture_layer.h"
#include "scene/node.h"
#include "scene/particle_fx.h"

#include <algorithm>
#include <utility>

namespace {

struct SpriteVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};
static_assert(sizeof(SpriteVertex) == 28);

constexpr UINT kVerticesPerSprite = 6;

const D3DMATRIX kIdentity = {{{1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f,
                               0.0f, 1.0f}}};

} // namespace

HVSprite::HVSprite(Engine* engine) : HVObject(engine)
{
    spriteTexture = new SpecialTexture(engine, SpecialTexture::kindParticle);
    if (IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr)
        device->CreateVertexBuffer(kCapacity * kVerticesPerSprite * sizeof(SpriteVertex),
                                   D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kFVF, D3DPOOL_DEFAULT, &vertexBuffer,
                                   nullptr);
}

HVSprite::~HVSprite()
{
    if (vertexBuffer)
        vertexBuffer->Release();
    delete spriteTexture;
}

void HVSprite::render(double t, Particle* particles, i32 count, Node* camera)
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    // Without a buffer (its creation failed) there is nothing to draw into.
    if (!device || !vertexBuffer || !camera || !particles)
        return;
    count = std::clamp(count, 0, kCapacity);
    // Staging for the pool's size, made at the first draw: an object loaded
    // and never drawn holds none.
    if (sprites.size() < size_t(count))
        sprites.resize(size_t(count));

    D3DMATRIX viewProjection;
    const D3DMATRIX& view = camera->inverseValid ? camera->inverseWorld : *camera->getInvMatrix(t);
    const D3DMATRIX& projection = cameraProjection(camera);
    matMul(viewProjection, view, projection);

    const float d = density.valueAt(t), l = luminosity.valueAt(t), o = opacity.valueAt(t);
    const TextureLayer* layer = textureLayers.empty() ? nullptr : textureLayers.front();
    float rgba[4];
    if (layer && layer->texture && layer->opacityType != 3) {
        rgba[0] = rgba[1] = rgba[2] = d * l;
    } else {
        rgba[0] = d * l * color[0].valueAt(t);
        rgba[1] = d * l * color[1].valueAt(t);
        rgba[2] = d * l * color[2].valueAt(t);
    }
    rgba[3] = d * o;
    const D3DCOLOR packed = colorToARGB(rgba);

    const float halfW = float(engine->width / 2), halfH = float(engine->height / 2);
    const float w = float(engine->width), h = float(engine->height);
    i32 drawn = 0;
    for (i32 i = 0; i < count; ++i) {
        const Particle& p = particles[i];
        if (!p.alive)
            continue;
        float clip[4];
        vecTransform(clip, D3DVECTOR{p.position[0], p.position[1], p.position[2]}, viewProjection);
        if (clip[3] <= 0.0f)
            continue;
        sprites[drawn++] = {halfW + w * (clip[0] / clip[3]) * 0.5f, halfH - h * (clip[1] / clip[3]) * 0.5f,
                            clip[2] / clip[3], 1.0f / clip[3]};
    }
    // Only the sprites written are locked: the device then uploads those
    // bytes, not the whole 10000-sprite buffer, every frame.
    void* locked = nullptr;
    const UINT bytes = UINT(drawn) * kVerticesPerSprite * sizeof(SpriteVertex);
    if (drawn > 0 && (FAILED(vertexBuffer->Lock(0, bytes, &locked, D3DLOCK_DISCARD)) || !locked))
        return;
    const float size = particleSize.valueAt(t);
    SpriteVertex* v = static_cast<SpriteVertex*>(locked);
    for (i32 i = 0; i < drawn; ++i) {
        const Sprite& s = sprites[i];
        const float half = size * s.rhw * 1000.0f * 0.5f;
        const float x0 = s.x - half, x1 = s.x + half, y0 = s.y - half, y1 = s.y + half;
        *v++ = {x0, y0, s.z, s.rhw, packed, 0.0f, 0.0f};
        *v++ = {x1, y0, s.z, s.rhw, packed, 1.0f, 0.0f};
        *v++ = {x0, y1, s.z, s.rhw, packed, 0.0f, 1.0f};
        *v++ = {x1, y0, s.z, s.rhw, packed, 1.0f, 0.0f};
        *v++ = {x1, y1, s.z, s.rhw, packed, 1.0f, 1.0f};
        *v++ = {x0, y1, s.z, s.rhw, packed, 0.0f, 1.0f};
    }
    if (locked)
        vertexBuffer->Unlock();

    device->SetStreamSource(0, vertexBuffer, 0, sizeof(SpriteVertex));
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetFVF(kFVF);
    engine->uniforms->setWorld(kIdentity);
    engine->uniforms->setView(view);
    engine->uniforms->setProjection(projection);

    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetTexture(0, spriteTexture ? spriteTexture->current(t) : nullptr);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    if (layer && layer->texture) {
        device->SetTexture(1, layer->texture->current(t));
        device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
        device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        device->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
        device->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
    } else {
        device->SetTexture(1, nullptr);
        device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    }
    if (drawn > 0)
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(2 * drawn));
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
}

void HVSprite::sortByDepth(Sprite** list, i32 first, i32 last)
{
    // Recurse into the smaller side only, so a sorted list cannot exhaust
    // the stack.
    while (list && first < last) {
        const float pivot = list[first + (last - first) / 2]->z;
        i32 i = first, j = last;
        while (i <= j) {
            while (list[i]->z > pivot)
                ++i;
            while (list[j]->z < pivot)
                --j;
            if (i <= j)
                std::swap(list[i++], list[j--]);
        }
        if (j - first < last - i) {
            sortByDepth(list, first, j);
            first = i;
        } else {
            sortByDepth(list, i, last);
            last = j;
        }
    }
}
