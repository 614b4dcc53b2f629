#include "foundation/profiler.h"
#include "materials/engine.h"
#include "materials/pass_state.h"
#include "materials/shader_parameters.h"
#include "scene/light.h"
#include "scene/scene.h"
#include "scene/target_save.h"

namespace {

constexpr int kCounterRenderShadowMap = 10;
constexpr i32 kShadowMap = 2;

// Light-space depth encoded as colour reads 0xFD in every channel where
// nothing was drawn: as far as the encoding goes.
constexpr D3DCOLOR kFarColor = 0xFDFDFDFD;

void setOthersOff(std::vector<Light*>& lights, Light* lit, u8 off)
{
    for (Light* other : lights)
        if (other && other != lit)
            other->off = off;
}

} // namespace

void Scene::renderShadowMaps(double t)
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!device)
        return;
    Profiler::start(kCounterRenderShadowMap);
    // Inside a mirror's reflection the stencil test and the mirror's clip
    // plane are on; they would keep the map empty after its clear.
    DWORD stencil = FALSE, clipPlanes = 0;
    device->GetRenderState(D3DRS_STENCILENABLE, &stencil);
    device->GetRenderState(D3DRS_CLIPPLANEENABLE, &clipPlanes);
    bool drawn = false;
    // The light looks at the scene unmirrored: inside a reflection the
    // flipped winding would cull the casters' lit faces and the map would
    // differ from the one the outer pass drew (and then uses again).
    const u32 savedCull = engine->defaultCullMode;
    engine->defaultCullMode = D3DCULL_CCW;
    {
        SavedTargets saved(device);
        for (Light* light : lights) {
            // A light whose map could not be made would draw into the frame.
            if (!light || light->shadowType != kShadowMap || !light->shadowColorSurface ||
                !light->shadowDepthSurface)
                continue;
            setOthersOff(lights, light, 1);
            if (!drawn) {
                device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
                device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
                drawn = true;
            }
            device->SetRenderTarget(0, light->shadowColorSurface);
            device->SetDepthStencilSurface(light->shadowDepthSurface);
            if (engine->depthTextureFormat != D3DFMT_UNKNOWN) {
                const bool debugView = engine->shadowMapDebugView != 0;
                const DWORD flags = D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL | (debugView ? D3DCLEAR_TARGET : 0);
                device->Clear(0, nullptr, flags, 0xFFFFFFFF, 1.0f, 0);
                device->SetRenderState(D3DRS_LIGHTING, 0);
                device->SetRenderState(D3DRS_ZENABLE, 1);
                device->SetRenderState(D3DRS_ZWRITEENABLE, 1);
                device->SetRenderState(D3DRS_COLORWRITEENABLE, debugView ? 0xF : 0);
                shadowPassMode = 1;
            } else {
                device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, kFarColor, 1.0f,
                              0);
                device->SetRenderState(D3DRS_LIGHTING, 0);
                device->SetRenderState(D3DRS_ZENABLE, 1);
                device->SetRenderState(D3DRS_COLORWRITEENABLE, engine->colorWriteMask);
                shadowPassMode = 2;
                if (light->falloffType != 0)
                    light->range.valueAt(t);
            }
            const D3DMATRIX view = light->inverseValid ? light->inverseWorld : *light->getInvMatrix(t);
            if (engine->uniforms)
                engine->uniforms->setView(view); // and the device's view
            else
                device->SetTransform(D3DTS_VIEW, &view);
            drawObjects(light, 0, t);
            renderFlares(light, t);
            shadowPassMode = 0;
            setOthersOff(lights, light, 0);
        }
    }
    engine->defaultCullMode = savedCull;
    if (drawn) {
        device->SetRenderState(D3DRS_STENCILENABLE, stencil);
        device->SetRenderState(D3DRS_CLIPPLANEENABLE, clipPlanes);
    }
    Profiler::stop(kCounterRenderShadowMap);
}

void Scene::showShadowMap(IDirect3DTexture9* texture)
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!device)
        return;
    struct QuadVertex {
        float x, y, z, rhw;
        D3DCOLOR color;
        float u, v;
    };
    const QuadVertex quad[4] = {{0.0f, 0.0f, 0.5f, 0.5f, 0xFFFFFFFF, 0.0f, 0.0f},
                                {512.0f, 0.0f, 0.5f, 0.5f, 0xFFFFFFFF, 1.0f, 0.0f},
                                {512.0f, 512.0f, 0.5f, 0.5f, 0xFFFFFFFF, 1.0f, 1.0f},
                                {0.0f, 512.0f, 0.5f, 0.5f, 0xFFFFFFFF, 0.0f, 1.0f}};
    device->SetTexture(0, texture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    device->SetVertexShader(nullptr);
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    device->SetPixelShader(nullptr);
    device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(QuadVertex));
}
