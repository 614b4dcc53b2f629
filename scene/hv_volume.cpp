#include "scene/hv_object.h"

#include "foundation/matrix.h"
#include "materials/engine.h"
#include "materials/shader_parameters.h"
#include "scene/node.h"
#include "scene/particle_fx.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct SliceVertex {
    float x, y, z;
    float u, v, w;
};
static_assert(sizeof(SliceVertex) == 24);

constexpr i32 kPlaneSize = 64;

// Smoke: a soft ball of faint grey, thinned by a fixed lumpy pattern so the
// turning volume shows wisps; premultiplied. Every living particle draws
// all the slices over one another, so each texel holds only a little.
D3DCOLOR ballTexel(float dx, float dy, float dz)
{
    constexpr float kDensity = 1.0f;
    constexpr float kGrey = 0.8f;
    const float r = std::sqrt(dx * dx + dy * dy + dz * dz);
    const float fall = std::max(0.0f, 1.0f - r * 2.0f);
    const float lumps = 0.6f + 0.4f * std::sin(dx * 19.0f + 1.3f) * std::sin(dy * 23.0f + 0.7f) *
                                   std::sin(dz * 17.0f + 2.1f);
    const float a = kDensity * fall * fall * lumps;
    const float rgba[4] = {kGrey * a, kGrey * a, kGrey * a, a};
    return colorToARGB(rgba);
}

// The ball's texels, the same for every volume object: worked out once.
// Volume texels z-major, then y, then x; the plane's y-major.
const std::vector<D3DCOLOR>& ballVolumeTexels()
{
    static const std::vector<D3DCOLOR> texels = [] {
        constexpr i32 n = HVVolume::kVolumeSize;
        const float step = 1.0f / float(n);
        std::vector<D3DCOLOR> t(size_t(n) * n * n);
        for (i32 z = 0; z < n; ++z)
            for (i32 y = 0; y < n; ++y)
                for (i32 x = 0; x < n; ++x)
                    t[(size_t(z) * n + y) * n + x] =
                        ballTexel((x + 0.5f) * step - 0.5f, (y + 0.5f) * step - 0.5f, (z + 0.5f) * step - 0.5f);
        return t;
    }();
    return texels;
}

const std::vector<D3DCOLOR>& ballPlaneTexels()
{
    static const std::vector<D3DCOLOR> texels = [] {
        std::vector<D3DCOLOR> t(size_t(kPlaneSize) * kPlaneSize);
        for (i32 y = 0; y < kPlaneSize; ++y)
            for (i32 x = 0; x < kPlaneSize; ++x)
                t[size_t(y) * kPlaneSize + x] =
                    ballTexel((x + 0.5f) / kPlaneSize - 0.5f, (y + 0.5f) / kPlaneSize - 0.5f, 0.0f);
        return t;
    }();
    return texels;
}

} // namespace

HVVolume::HVVolume(Engine* engine) : HVObject(engine)
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!device)
        return;
    // kMaxSlices quads facing +z, evenly spaced through the unit cube; the
    // texture coordinates run through the volume from 0 to 1.
    if (SUCCEEDED(device->CreateVertexBuffer(kMaxSlices * 4 * sizeof(SliceVertex), D3DUSAGE_WRITEONLY, kFVF,
                                             D3DPOOL_MANAGED, &vertexBuffer, nullptr)) &&
        vertexBuffer) {
        void* locked = nullptr;
        if (SUCCEEDED(vertexBuffer->Lock(0, 0, &locked, 0)) && locked) {
            SliceVertex* v = static_cast<SliceVertex*>(locked);
            for (i32 j = 0; j < kMaxSlices; ++j) {
                const float w = (float(j) + 0.5f) / float(kMaxSlices);
                const float z = w - 0.5f;
                *v++ = {-0.5f, 0.5f, z, 0.0f, 0.0f, w};
                *v++ = {0.5f, 0.5f, z, 1.0f, 0.0f, w};
                *v++ = {-0.5f, -0.5f, z, 0.0f, 1.0f, w};
                *v++ = {0.5f, -0.5f, z, 1.0f, 1.0f, w};
            }
            vertexBuffer->Unlock();
        }
    }
    // The index buffer waits for the first draw, which knows how many
    // particles and slices there are: at full size (10000 particles of 32
    // slices) it is 3.8 MB, and most volumes draw a small part of that.

    if (SUCCEEDED(device->CreateVolumeTexture(kVolumeSize, kVolumeSize, kVolumeSize, 1, 0, D3DFMT_A8R8G8B8,
                                              D3DPOOL_MANAGED, &volumeTexture, nullptr)) &&
        volumeTexture) {
        D3DLOCKED_BOX box{};
        if (SUCCEEDED(volumeTexture->LockBox(0, &box, nullptr, 0)) && box.pBits) {
            const D3DCOLOR* ball = ballVolumeTexels().data();
            for (i32 z = 0; z < kVolumeSize; ++z)
                for (i32 y = 0; y < kVolumeSize; ++y)
                    std::memcpy(static_cast<u8*>(box.pBits) + size_t(z) * box.SlicePitch + size_t(y) * box.RowPitch,
                                ball + (size_t(z) * kVolumeSize + y) * kVolumeSize, kVolumeSize * sizeof(D3DCOLOR));
            volumeTexture->UnlockBox(0);
        }
    }
    if (SUCCEEDED(device->CreateTexture(kPlaneSize, kPlaneSize, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &planeTexture,
                                        nullptr)) &&
        planeTexture) {
        D3DLOCKED_RECT rect{};
        if (SUCCEEDED(planeTexture->LockRect(0, &rect, nullptr, 0)) && rect.pBits) {
            const D3DCOLOR* ball = ballPlaneTexels().data();
            for (i32 y = 0; y < kPlaneSize; ++y)
                std::memcpy(static_cast<u8*>(rect.pBits) + size_t(y) * rect.Pitch, ball + size_t(y) * kPlaneSize,
                            kPlaneSize * sizeof(D3DCOLOR));
            planeTexture->UnlockRect(0);
        }
    }
}

HVVolume::~HVVolume()
{
    if (vertexBuffer)
        vertexBuffer->Release();
    if (indexBuffer)
        indexBuffer->Release();
    if (volumeTexture)
        volumeTexture->Release();
    if (planeTexture)
        planeTexture->Release();
}

bool HVVolume::reserveIndices(size_t indices)
{
    if (indexBuffer && indices <= indexCapacity)
        return true;
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!device)
        return false;
    // Doubling keeps a growing cloud from re-making it every frame.
    const size_t most = size_t(kCapacity) * kMaxSlices * 6;
    const size_t capacity = std::min(std::max(indices, 2 * indexCapacity), most);
    IDirect3DIndexBuffer9* grown = nullptr;
    if (FAILED(device->CreateIndexBuffer(UINT(capacity * sizeof(u16)), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                         D3DFMT_INDEX16, D3DPOOL_DEFAULT, &grown, nullptr)) ||
        !grown)
        return false;
    if (indexBuffer)
        indexBuffer->Release();
    indexBuffer = grown;
    indexCapacity = capacity;
    return true;
}

void HVVolume::render(double t, Particle* particles, i32 count, Node* camera)
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!device || !vertexBuffer || !camera || !particles)
        return;
    count = std::clamp(count, 0, kCapacity);
    const D3DMATRIX& view = camera->inverseValid ? camera->inverseWorld : *camera->getInvMatrix(t);
    // The slice quads hold kMaxSlices: more would index past them.
    const i32 slices = std::clamp(sliceCount, 0, kMaxSlices);
    i32 living = 0;
    for (i32 i = 0; i < count; ++i)
        living += particles[i].alive ? 1 : 0;
    if (!reserveIndices(size_t(std::max(living, 1)) * size_t(std::max(slices, 1)) * 6))
        return;

    void* locked = nullptr;
    if (FAILED(indexBuffer->Lock(0, 0, &locked, D3DLOCK_DISCARD)) || !locked)
        return;
    u16* out = static_cast<u16*>(locked);
    i32 k = 0;
    for (i32 i = 0; i < count; ++i) {
        if (!particles[i].alive)
            continue;
        for (i32 j = 0; j < slices; ++j) {
            const u16 b = u16(4 * j);
            const u16 pattern[6] = {b, u16(b + 1), u16(b + 2), u16(b + 2), u16(b + 1), u16(b + 3)};
            std::copy(pattern, pattern + 6, out + (size_t(k) * slices + j) * 6);
        }
        ++k;
    }
    indexBuffer->Unlock();

    device->SetStreamSource(0, vertexBuffer, 0, sizeof(SliceVertex));
    device->SetIndices(indexBuffer);
    // Fixed-function: a surface's shaders may still be bound from the meshes.
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetFVF(kFVF);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

    // Turn the slices towards the camera, as seen from the first record.
    const D3DMATRIX& cameraWorld = *camera->worldMatrixAt(t);
    const float dx = cameraWorld._41 - particles[0].position[0];
    const float dy = cameraWorld._42 - particles[0].position[1];
    const float dz = cameraWorld._43 - particles[0].position[2];
    const float heading = std::atan2(dx, dz);
    const float pitch = std::atan2(dy, std::sqrt(dx * dx + dz * dz));
    D3DMATRIX world;
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    makeRotationMatrix(world, -pitch, heading, 0.0f, origin);
    engine->uniforms->setWorld(world);

    const float a = float(t * 0.017453292519943295 * 14.0);
    const float c = std::cos(a), s = std::sin(a);
    // Rotation about the vertical axis through the volume's centre.
    D3DMATRIX texture;
    makeAffineMatrix(texture, c, 0.0f, -s, 0.0f, 1.0f, 0.0f, s, 0.0f, c, 0.5f - 0.5f * c - 0.5f * s, 0.0f,
                     0.5f + 0.5f * s - 0.5f * c);
    engine->uniforms->setTextureMatrix(0, texture);
    engine->uniforms->setView(view);
    engine->uniforms->setProjection(cameraProjection(camera));

    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetTexture(0, volumeTexture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSW, D3DTADDRESS_CLAMP);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
    if (living > 0 && slices > 0)
        device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, UINT(4 * slices), 0, UINT(2 * slices * living));
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
}
