#include "materials/surface.h"

#include <cmath>
#include <utility>

namespace {

// 2 degrees: the smallest smoothing angle a surface chunk switches on.
constexpr double minSmoothingAngle = 0.03490658503988659;

float smoothingCosineOf(double radians)
{
    return (float)(std::cos(radians) - 1e-6);
}

} // namespace

Surface::Surface(MetaScene* owner, const char* name)
    : owner(owner), name(name ? name : ""), smoothingCosine(smoothingCosineOf(minSmoothingAngle))
{
}

Surface::~Surface()
{
    releaseCubeMap();
    // Layers, strings and map references go with their members; envelopes
    // belong to the file's EnvelopeOwner.
}

void Surface::releaseCubeMap()
{
    if (cubeTexture) {
        cubeTexture->Release();
        cubeTexture = nullptr;
    }
    if (cubeDepthSurface) {
        cubeDepthSurface->Release();
        cubeDepthSurface = nullptr;
    }
    cubeEdgeLength = 0;
}

int Surface::channelIndex(u32 channel)
{
    static constexpr u32 order[channelCountSlots] = {channelCOLR, channelDIFF, channelLUMI, channelREFL,
                                                     channelBUMP, channelTRNL, channelSPEC, channelTRAN};
    for (int i = 0; i < channelCountSlots; ++i) {
        if (order[i] == channel)
            return i;
    }
    return -1;
}

i32 Surface::channelCount(u32 channel) const
{
    const int i = channelIndex(channel);
    return i < 0 ? 0 : channelCounts[i];
}

bool Surface::addLayer(std::unique_ptr<TextureLayer> layer)
{
    if (!layer || !layer->usable() || layerCount >= maxLayers) {
        if (layer && bakeLayer == layer.get())
            bakeLayer = nullptr;
        return false;
    }
    const int index = channelIndex(layer->channel);
    if (index >= 0)
        ++channelCounts[index];
    layerSlots[layerCount++] = layer.get();
    layers.push_back(std::move(layer));
    return true;
}

TextureLayer* Surface::findLayer(u32 channel, int n) const
{
    if (n < 1)
        return nullptr;
    for (const auto& layer : layers) {
        if (layer->channel == channel && layer->usable() && --n == 0)
            return layer.get();
    }
    return nullptr;
}

int Surface::countLayers(u32 channel) const
{
    int n = 0;
    while (findLayer(channel, n + 1))
        ++n;
    return n;
}

void Surface::setTransparency(float value, DynamicValue* envelope)
{
    transparency = {value, envelope};
    if (value != 0.0f || envelope)
        transparent = 1;
}

void Surface::setAdditiveTransparency(float value, DynamicValue* envelope)
{
    additiveTransparency = {value, envelope};
    if (value != 0.0f || envelope)
        transparent = 1;
}

void Surface::setReflectionOptions(i32 options)
{
    reflectionOptions = options;
    if (options == 0)
        transparent = 1;
}

void Surface::setSmoothingAngle(float radians)
{
    if (radians > minSmoothingAngle) {
        smoothing = 1;
        smoothingCosine = smoothingCosineOf(radians);
    }
}

bool Surface::createCubeMap(IDirect3DDevice9* device)
{
    releaseCubeMap();
    if (!device)
        return false;
    if (FAILED(device->CreateCubeTexture(cubeMapEdge, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                         &cubeTexture, nullptr)))
        cubeTexture = nullptr;
    if (FAILED(device->CreateDepthStencilSurface(cubeMapEdge, cubeMapEdge, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0,
                                                 TRUE, &cubeDepthSurface, nullptr)))
        cubeDepthSurface = nullptr;
    // Reflection rendering needs both; holding one alone only invites a
    // null call later.
    if (!cubeTexture || !cubeDepthSurface) {
        releaseCubeMap();
        return false;
    }
    cubeEdgeLength = cubeMapEdge;
    return true;
}

void Surface::useRenderTarget(Texture* renderTexture)
{
    if (countEntries(this) == 0) {
        auto layer = std::make_unique<TextureLayer>();
        layer->texture = renderTexture;
        addLayer(std::move(layer));
    } else {
        layers.front()->texture = renderTexture;
    }
}

int countEntries(const Surface* surface)
{
    return surface ? (int)surface->layers.size() : 0;
}

float Surface::setBlendStates(IDirect3DDevice9* device, double time, bool cutOutTest)
{
    const float t = transparency.valueAt(time);
    float alpha = 1.0f - t;
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    if (transparent) {
        device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    } else {
        device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    }

    const float additive = additiveTransparency.valueAt(time);
    if (additive != 0.0f) {
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        alpha = 1.0f - additive;
    }
    const float mirror = reflection.valueAt(time);
    if (mirror != 0.0f && reflectionOptions == 0) {
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        alpha = 1.0f - mirror;
        device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    }
    if (const TextureLayer* tran = findLayer(channelTRAN, 1)) {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        if (tran->opacityType == 3) {
            alpha = 1.0f - t;
        } else {
            alpha = 1.0f;
            // A cut-out map on an opaque surface: test instead of blending,
            // and keep writing depth.
            if (t == 0.0f) {
                device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
                if (cutOutTest) {
                    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
                    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
                    device->SetRenderState(D3DRS_ALPHAREF, 127);
                }
            }
        }
    }
    return alpha;
}
