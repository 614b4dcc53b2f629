// Particles and lens flares on a headless 1024 x 768 device:
//   step:      10,000 living particles stepped (emitter, gravity, wind,
//              collision) without drawing, median microseconds;
//   particles: the same step drawn through an HVSprite, against the same
//              sprites drawn from a static vertex buffer;
//   flares:    a frame of those static sprites with four flaring lights
//              (probe, back-buffer read-back, elements), against the frame
//              with flares off.
// Every frame ends with a one-pixel read-back so the GPU work is counted.
// Prints step_us=T, ratio_particles=R and last ratio_flares=R (time over its
// reference's, medians).
#include "bench_display.h"
#include "display/display_manager.h"
#include "foundation/diagnostics.h"
#include "foundation/matrix.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/shader_parameters.h"
#include "materials/texture.h"
#include "platform/d3d9/adapter_profiles.h"
#include "scene/hv_object.h"
#include "scene/lens_flare.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/particle_fx.h"
#include "scene/scene.h"

#include <d3d9.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kFrames = 31;

class BenchCamera : public PerspectiveNode {
public:
    explicit BenchCamera(SceneBase* scene) : PerspectiveNode(scene, 3, 0)
    {
        viewport = {0, 0, kWidth, kHeight, 0.0f, 1.0f};
        fitDepthRange(0.0, 1.0f, 200.0f);
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double microseconds(const std::function<void()>& work)
{
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
}

// One pixel of the back buffer read back: waits for the frame's GPU work.
void finish(IDirect3DDevice9* d, IDirect3DSurface9* pixel)
{
    IDirect3DSurface9* back = nullptr;
    d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    const RECT r{0, 0, 1, 1};
    const POINT p{0, 0};
    d->UpdateSurface(back, &r, pixel, &p);
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(pixel->LockRect(&locked, nullptr, D3DLOCK_READONLY)))
        pixel->UnlockRect();
    back->Release();
}

struct SpriteVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};

// A static buffer of the squares the sprite object draws for the pool as
// it stands; null when the buffer cannot be made.
IDirect3DVertexBuffer9* makeStillSprites(IDirect3DDevice9* d, const FXEmitter& emitter, const HVSprite& sprite,
                                         const D3DMATRIX& m, i32 living)
{
    IDirect3DVertexBuffer9* still = nullptr;
    d->CreateVertexBuffer(UINT(living) * 6 * sizeof(SpriteVertex), D3DUSAGE_WRITEONLY, HVSprite::kFVF,
                          D3DPOOL_MANAGED, &still, nullptr);
    if (!still)
        return nullptr;
    void* data = nullptr;
    still->Lock(0, 0, &data, 0);
    auto* v = static_cast<SpriteVertex*>(data);
    const float size = sprite.particleSize.value;
    float rgba[4] = {sprite.density.value * sprite.luminosity.value * sprite.color[0].value,
                     sprite.density.value * sprite.luminosity.value * sprite.color[1].value,
                     sprite.density.value * sprite.luminosity.value * sprite.color[2].value,
                     sprite.density.value * sprite.opacity.value};
    const D3DCOLOR c = colorToARGB(rgba);
    for (i32 i = 0, n = 0; i < i32(emitter.particles.size()) && n < living; ++i) {
        const Particle& p = emitter.particles[i];
        if (!p.alive)
            continue;
        ++n;
        float clip[4];
        vecTransform(clip, D3DVECTOR{p.position[0], p.position[1], p.position[2]}, m);
        const float rhw = 1.0f / clip[3], z = clip[2] * rhw;
        const float x = kWidth / 2 + kWidth * clip[0] * rhw * 0.5f, y = kHeight / 2 - kHeight * clip[1] * rhw * 0.5f;
        const float h = size * rhw * 500.0f;
        *v++ = {x - h, y - h, z, rhw, c, 0, 0};
        *v++ = {x + h, y - h, z, rhw, c, 1, 0};
        *v++ = {x - h, y + h, z, rhw, c, 0, 1};
        *v++ = {x + h, y - h, z, rhw, c, 1, 0};
        *v++ = {x + h, y + h, z, rhw, c, 1, 1};
        *v++ = {x - h, y + h, z, rhw, c, 0, 1};
    }
    still->Unlock();
    return still;
}

// Four flaring lights in view.
void addFlaringLights(Scene* scene)
{
    const float places[4][2] = {{-10, -5}, {10, -5}, {-10, 5}, {10, 5}};
    for (int i = 0; i < 4; ++i) {
        Light* light = new Light(scene, i);
        scene->lights.push_back(light);
        light->lightType = 1;
        light->channels[kPositionX].value = places[i][0];
        light->channels[kPositionY].value = places[i][1];
        light->channels[kPositionZ].value = 30.0f;
        light->red.value = light->green.value = light->blue.value = 1.0f;
        light->flareIntensity.value = 0.5f;
        light->flareOptions = 0x19;
        light->flare = light->createFlare();
    }
}

} // namespace

int main()
{
    diagnosticsLevel = 0;
    std::unique_ptr<DisplayManager> manager = openBenchDisplay(kWidth, kHeight);
    if (!manager)
        return 1;

    Engine engine(manager.get());
    IDirect3DDevice9* d = engine.currentDevice;
    MetaScene meta(&engine, "bench.mts");
    Scene* scene = new Scene(&meta);
    meta.scenes.push_back(scene);
    BenchCamera camera(scene);
    engine.uniforms->setProjection(camera.projection);

    Object* node = new Object(scene, 0);
    scene->objects.push_back(node);
    node->channels[kPositionZ].value = 40.0f;
    auto* sprite = new HVSprite(&engine);
    sprite->particleSize.value = 0.3f;
    sprite->luminosity.value = 0.05f;
    node->hvObject = sprite;
    auto* emitter = new FXEmitter(node);
    emitter->placement = 0;
    emitter->generatorSize[0] = emitter->generatorSize[1] = emitter->generatorSize[2] = 30.0f;
    emitter->birthRate.value = 10000.0f; // the whole pool in the first step of one second
    emitter->velocity[1].value = 0.5f;
    scene->fxEmitter.push_back(emitter);
    auto* gravity = new FXGravity(node);
    gravity->falloff = 2;
    gravity->direction[1] = -0.1f;
    auto* wind = new FXWind(node);
    wind->mode = 2;
    wind->falloff = 2;
    wind->strength.value = 0.01f;
    auto* collision = new FXCollision(node);
    collision->type = 2;
    collision->radius.value = -100.0f;
    scene->fxEffector = {gravity, wind, collision};

    IDirect3DSurface9* pixel = nullptr;
    d->CreateOffscreenPlainSurface(1, 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &pixel, nullptr);
    double t = 1.0;
    stepParticles(scene->fxEmitter, scene->fxEffector, &camera, t, 1.0);
    i32 living = 0;
    for (const Particle& p : emitter->particles)
        living += p.alive;

    // Stepping alone.
    node->hvObject = nullptr;
    std::vector<double> step;
    for (int f = 0; f < kFrames; ++f)
        step.push_back(microseconds([&] {
            t += 1.0 / 60.0;
            stepParticles(scene->fxEmitter, scene->fxEffector, &camera, t, 1.0 / 60.0);
        }));
    node->hvObject = sprite;

    // The reference sprites: a static buffer of the same squares.
    IDirect3DVertexBuffer9* still = makeStillSprites(d, *emitter, *sprite, camera.projection, living);
    if (!still) {
        std::fprintf(stderr, "no vertex buffer\n");
        return 1;
    }
    auto drawStill = [&] {
        d->SetStreamSource(0, still, 0, sizeof(SpriteVertex));
        d->SetVertexShader(nullptr);
        d->SetPixelShader(nullptr);
        d->SetFVF(HVSprite::kFVF);
        d->SetRenderState(D3DRS_ZENABLE, TRUE);
        d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        d->SetTexture(0, sprite->spriteTexture->current(0.0));
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(2 * living));
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    };
    auto frame = [&](const std::function<void()>& work) {
        return microseconds([&] {
            d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
            d->BeginScene();
            work();
            d->EndScene();
            finish(d, pixel);
        });
    };

    std::vector<double> drawn, reference;
    for (int f = 0; f < kFrames; ++f) {
        drawn.push_back(frame([&] {
            t += 1.0 / 60.0;
            stepParticles(scene->fxEmitter, scene->fxEffector, &camera, t, 1.0 / 60.0);
        }));
        reference.push_back(frame(drawStill));
    }

    addFlaringLights(scene);
    std::vector<LensFlare*> flares;
    for (Light* light : scene->lights)
        flares.push_back(light->flare);
    std::vector<double> withFlares, withoutFlares;
    for (int f = 0; f < kFrames; ++f) {
        for (size_t i = 0; i < flares.size(); ++i)
            scene->lights[i]->flare = flares[i];
        withFlares.push_back(frame([&] {
            drawStill();
            engine.uniforms->setProjection(camera.projection);
            LensFlare::renderFlares(scene->lights, &camera, 0.0);
        }));
        for (Light* light : scene->lights)
            light->flare = nullptr;
        withoutFlares.push_back(frame([&] {
            drawStill();
            engine.uniforms->setProjection(camera.projection);
            LensFlare::renderFlares(scene->lights, &camera, 0.0);
        }));
    }
    for (size_t i = 0; i < flares.size(); ++i)
        scene->lights[i]->flare = flares[i];

    std::printf("living=%d frame_us=%.0f flares_frame_us=%.0f\n", living, median(withoutFlares), median(withFlares));
    std::printf("step_us=%.1f\n", median(step));
    std::printf("ratio_particles=%.3f\n", median(drawn) / median(reference));
    std::printf("ratio_flares=%.3f\n", median(withFlares) / median(withoutFlares));
    still->Release();
    pixel->Release();
    return 0;
}
