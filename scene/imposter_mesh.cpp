#include "scene/imposter_mesh.h"

#include "foundation/matrix.h"
#include "materials/engine.h"
#include "materials/image.h"
#include "materials/image_cache.h"
#include "materials/texture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr const char* kPeople[] = {"frau1", "maedel1", "junge1", "mann1"};
constexpr float kHalfSide = 11.0f;

i32 mapCell(float c, i32 size)
{
    const double v = std::nearbyint((double(c) + kHalfSide) * 511.0 / (2.0 * kHalfSide));
    return i32(std::clamp(v, 0.0, double(std::min(size, 512) - 1)));
}

float randUnit(Random& r) { return float(r.next()) / 32768.0f; }

} // namespace

ImposterMesh::ImposterMesh(Engine* engine) : EngineResource(engine) {}

ImposterMesh::~ImposterMesh()
{
    clearWalkers();
    for (auto* list : {&backTextures, &frontTextures, &rightTextures})
        for (auto& frames : *list)
            for (ImageTexture* t : frames)
                delete t;
    if (walkMap)
        walkMap->release();
    if (vertexBuffer)
        vertexBuffer->Release();
}

void ImposterMesh::clearWalkers()
{
    for (Imposter* w : imposters)
        delete w;
    imposters.clear();
}

bool ImposterMesh::build(Stream& source, const char* folder)
{
    static constexpr const char* kViews[] = {"hinten", "vorne", "rechts"};
    std::vector<std::vector<ImageTexture*>>* lists[] = {&backTextures, &frontTextures, &rightTextures};
    char name[512];
    typeCount = i32(std::size(kPeople));
    for (const char* person : kPeople) {
        for (int v = 0; v < 3; ++v)
            lists[v]->emplace_back();
        for (int frame = 0; frame < framesPerView; ++frame)
            for (int v = 0; v < 3; ++v) {
                std::snprintf(name, sizeof name, "%s%s_%s_%04d.pcx", folder, person, kViews[v], frame);
                auto* texture = new ImageTexture(engine);
                texture->flags = 7;
                if (texture->open(name, source))
                    texture->load();
                lists[v]->back().push_back(texture);
            }
    }
    std::snprintf(name, sizeof name, "%svonoben.pcx", folder);
    if (Image* map = loadImage(source, name, false)) {
        setWalkMap(map);
        map->release();
    }
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (device && !vertexBuffer)
        device->CreateVertexBuffer(walkerCount * 6 * sizeof(BillboardVertex), D3DUSAGE_WRITEONLY, fvf,
                                   D3DPOOL_MANAGED, &vertexBuffer, nullptr);
    return walkMap != nullptr;
}

void ImposterMesh::setWalkMap(Image* map)
{
    if (map)
        map->addRef();
    if (walkMap)
        walkMap->release();
    walkMap = map;
}

bool ImposterMesh::isFree(float x, float z) const
{
    if (!walkMap || !walkMap->pixels || walkMap->width <= 0 || walkMap->height <= 0 || walkMap->bytesPerPixel)
        return false;
    return (walkMap->pixel(mapCell(x, walkMap->width), mapCell(z, walkMap->height)) & 0xFFFFFu) == 0;
}

bool ImposterMesh::populate(Random& random)
{
    clearWalkers();
    const i32 types = std::max(typeCount, 1);
    for (i32 i = 0; i < walkerCount; ++i) {
        auto* w = new Imposter;
        imposters.push_back(w);
        D3DVECTOR d = {randUnit(random) - 0.5f, 0.0f, randUnit(random) - 0.5f};
        vecNormalize(d);
        // A full or missing map would keep the drawing going for ever.
        bool placed = false;
        for (i32 tries = 0; tries < maxPlacementTries && !placed; ++tries) {
            w->position.x = (float(random.next()) / 16384.0f - 1.0f) * kHalfSide;
            w->position.z = (float(random.next()) / 16384.0f - 1.0f) * kHalfSide;
            placed = isFree(w->position.x, w->position.z);
        }
        if (!placed) {
            clearWalkers();
            return false;
        }
        const double type = std::nearbyint(double(random.next()) * types / 32768.0 + 0.5);
        w->type = i32(std::clamp(type, 0.0, double(types - 1)));
        for (int c = 0; c < 3; ++c)
            w->tint[c] = float(random.next() & 255) / 768.0f + 0.75f - 0.125f;
        w->tint[3] = 1.0f;
        const float speed = float(random.next()) * 2.0324707e-05f + 0.25f;
        w->direction = {d.x * speed, 0.0f, d.z * speed};
        w->speed = 10.0f * std::hypot(w->direction.x, w->direction.z);
        w->firstVertex = u16(i * 6);
        // Spread the frames over the crowd so neighbours do not step in time.
        const size_t t = size_t(w->type), frame = size_t(i % framesPerView);
        if (t < backTextures.size() && frame < backTextures[t].size()) {
            w->back = backTextures[t][frame];
            w->front = frontTextures[t][frame];
            w->right = rightTextures[t][frame];
        }
    }
    return true;
}

void ImposterMesh::walk(Imposter& w, float t, Random& random, const ImposterMesh& map)
{
    const float turn = (float(random.next()) - 16384.0f) * float(std::numbers::pi / 4.0);
    const float x = w.position.x + t * w.direction.x * 0.165f;
    const float z = w.position.z + t * w.direction.z * 0.165f;
    if (map.isFree(x, z)) {
        w.position.x = x;
        w.position.z = z;
    } else {
        const float c = std::cos(turn), s = std::sin(turn);
        w.direction = {w.direction.x * c - w.direction.z * s, 0.0f, w.direction.x * s + w.direction.z * c};
    }
    w.speed = 10.0f * std::hypot(w.direction.x, w.direction.z);
}

ImposterMesh::View ImposterMesh::viewFor(const D3DVECTOR& d, const D3DVECTOR& camera)
{
    const float ld = std::hypot(d.x, d.z), lc = std::hypot(camera.x, camera.z);
    const float dot = ld > 0.0f && lc > 0.0f ? (d.x * camera.x + d.z * camera.z) / (ld * lc) : 1.0f;
    const float a = std::acos(std::clamp(dot, -1.0f, 1.0f));
    constexpr float quarter = float(std::numbers::pi / 4.0);
    if (a < quarter)
        return kBack;
    return a <= 3.0f * quarter ? kRight : kFront;
}

void ImposterMesh::billboard(const Imposter& w, const D3DMATRIX& view, BillboardVertex out[6])
{
    D3DVECTOR p;
    vecTransformCoord(p, w.position, view);
    D3DVECTOR d;
    vecTransformNormalTo(d, w.direction, view);
    // Facing left of the camera: the side picture is mirrored.
    const bool left = d.x < 0.0f;
    const float u0 = left ? 1.0f : 0.0f, u1 = 1.0f - u0;
    const float x0 = p.x - 0.125f, x1 = p.x + 0.125f, y0 = p.y - 0.216f, y1 = p.y + 0.034f;
    out[0] = {x0, y1, p.z, u0, 0.0f};
    out[1] = {x1, y1, p.z, u1, 0.0f};
    out[2] = {x0, y0, p.z, u0, 1.0f};
    out[3] = {x1, y0, p.z, u1, 1.0f};
    out[4] = {x0, y0, p.z, u0, 1.0f};
    out[5] = {x1, y1, p.z, u1, 0.0f};
}

void ImposterMesh::draw(float t, Random& random)
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!device || !vertexBuffer || imposters.empty())
        return;
    D3DMATRIX world, view;
    device->GetTransform(D3DTS_WORLD, &world);
    device->GetTransform(D3DTS_VIEW, &view);
    void* data = nullptr;
    if (FAILED(vertexBuffer->Lock(0, 0, &data, 0)) || !data)
        return;
    auto* vertices = static_cast<BillboardVertex*>(data);
    for (size_t i = 0; i < imposters.size(); ++i)
        billboard(*imposters[i], view, vertices + 6 * i);
    vertexBuffer->Unlock();

    // The billboards are already in camera space.
    D3DMATRIX identity = {};
    for (int i = 0; i < 4; ++i)
        identity.m[i][i] = 1.0f;
    device->SetPixelShader(nullptr);
    device->SetStreamSource(0, vertexBuffer, 0, sizeof(BillboardVertex));
    device->SetFVF(fvf);
    device->SetVertexShader(nullptr);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetTransform(D3DTS_WORLD, &identity);
    device->SetTransform(D3DTS_VIEW, &identity);
    // The walkers share every state but their texture and tint, so those
    // are set once for all of them.
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_ALPHAREF, 0x7F);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    const D3DVECTOR cameraDir = {view.m[0][2], view.m[1][2], view.m[2][2]};
    for (Imposter* w : imposters) {
        const View v = viewFor(w->direction, cameraDir);
        ImageTexture* texture = v == kBack ? w->back : v == kRight ? w->right : w->front;
        walk(*w, t, random, *this);
        device->SetTexture(0, texture ? texture->current(0.0) : nullptr);
        device->SetRenderState(D3DRS_TEXTUREFACTOR, colorToARGB(w->tint));
        device->DrawPrimitive(D3DPT_TRIANGLELIST, w->firstVertex, 2);
    }
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTransform(D3DTS_VIEW, &view);
}
