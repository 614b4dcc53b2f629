#include "scene/scene.h"

#include "foundation/matrix.h"
#include "materials/engine.h"
#include "materials/shader_parameters.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"
#include "media/sound.h"
#include "scene/anti_portal.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/mesh.h"
#include "scene/mesh_file.h"
#include "scene/object.h"
#include "scene/particle_fx.h"
#include "scene/scene_group.h"
#include "scene/scene_interaction.h"
#include "scene/target_save.h"

#include <algorithm>
#include <cstring>
#include <optional>

i32 renderDepth = 0;

void Scene::render(bool clearTarget, i32 pass, double now)
{
    IDirect3DDevice9* device = engine->currentDevice;
    Engine::SceneInteraction* interaction = engine->interaction;
    const bool userCamera = interaction && interaction->currentCamera;
    std::optional<SavedTargets> saved;
    if (targetSurface && !userCamera) {
        saved.emplace(device);
        device->SetRenderTarget(0, targetSurface);
        device->SetDepthStencilSurface(targetDepth);
        const bool anySize = engine->caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
        engine->targetWidth = anySize ? engine->width : 512;
        engine->targetHeight = anySize ? engine->height : 512;
    } else {
        engine->targetWidth = engine->width;
        engine->targetHeight = engine->height;
        device->SetRenderTarget(0, engine->backBuffer);
        device->SetDepthStencilSurface(engine->depthSurface);
    }

    D3DVIEWPORT9 viewport = {0, 0, DWORD(engine->targetWidth), DWORD(engine->targetHeight), 0.0f, 1.0f};
    device->SetViewport(&viewport);

    DWORD flags = clearTarget ? clearFlags : (clearFlags & D3DCLEAR_ZBUFFER);
    if (engine->depthHasFirstChannel)
        flags |= D3DCLEAR_STENCIL;
    device->Clear(0, nullptr, flags, colorToARGB(clearColor), clearZ, 0);

    const double t = held ? timeBase : now - timeBase;

    Node* camera = currentCamera;
    if (engine->debugLightView && !lights.empty())
        camera = lights[0];
    else if (userCamera)
        camera = interaction->currentCamera;
    // A scene without a camera (a reflection-only scene started by the
    // script) is cleared and not drawn.
    if (camera)
        renderFrom(camera, pass, t);

    saved.reset(); // back to the target in use before the own one

    if (engine->shadowMapDebugView && !lights.empty()) {
        Light* first = lights[0];
        IDirect3DTexture9* map = first->spotShadowMap();
        if (map)
            showShadowMap(map);
    }
}

void Scene::renderFrom(Node* camera, i32 pass, double t)
{
    ++renderDepth;
    invalidateNodes(camera);
    Engine::SceneInteraction* interaction = engine->interaction;
    if (interaction && interaction->active)
        interaction->findEnclosingObject(this, t);
    applyFog();
    // The listener stays at one place; it does not follow the camera.
    if (engine->sound)
        engine->sound->setListenerPosition(10.0f, 0.0f, 10.0f);
    // A pass nested in one of this scene's own (a mirror reflecting the
    // scene) would draw the same maps again: same lights, same casters, same
    // time. They are still in the lights' surfaces, so it uses those.
    const bool mapsCurrent = shadowMapsDepth != 0 && shadowMapsTime == t;
    if (renderDepth <= 10 && !engine->fixedFunction && !mapsCurrent) {
        renderShadowMaps(t);
        if (shadowMapsDepth == 0) {
            shadowMapsDepth = renderDepth;
            shadowMapsTime = t;
        }
    }

    IDirect3DDevice9* device = engine->currentDevice;
    device->SetRenderState(D3DRS_FILLMODE, engine->wireframe ? D3DFILL_WIREFRAME : D3DFILL_SOLID);
    device->SetRenderState(D3DRS_ZENABLE, 1);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, engine->colorWriteMask);

    const i32 localViewer = camera->isOrthogonal() ? 0 : 1;
    if (engine->fixedFunction)
        device->SetRenderState(D3DRS_LOCALVIEWER, localViewer);
    else
        *engine->switches->isLocalViewer = localViewer;

    const D3DMATRIX& view = camera->inverseValid ? camera->inverseWorld : *camera->getInvMatrix(t);
    engine->uniforms->setView(view); // also D3DTS_VIEW; derived matrices stale

    if (engine->fixedFunction)
        setupLights(t);
    else
        device->SetRenderState(D3DRS_LIGHTING, 0);

    drawObjects(camera, pass, t);
    renderFlares(camera, t);
    if (renderDepth == 1)
        updateParticles(camera, t);
    // Whatever draws next (another frame, another camera) draws its own maps.
    if (shadowMapsDepth == renderDepth)
        shadowMapsDepth = 0;
    --renderDepth;
}

void Scene::invalidateNodes(Node* camera)
{
    for (Camera* c : cameras)
        c->invalidate();
    for (Object* o : objects)
        o->invalidate();
    for (Light* l : lights)
        l->invalidate();
    if (!camera)
        return;
    if (camera->nodeType == 0)
        camera->invalidate();
    if (camera->scene && camera->scene != this) {
        SceneBase* other = camera->scene;
        for (Camera* c : other->cameras)
            c->invalidate();
        for (Object* o : other->objects)
            o->invalidate();
        for (Light* l : other->lights)
            l->invalidate();
    }
}

void Scene::applyFog()
{
    IDirect3DDevice9* device = engine->currentDevice;
    // Only linear fog is drawn; the other modes switch fog off.
    if (fogType == D3DFOG_LINEAR) {
        *engine->switches->isFogEnabled = 1;
        device->SetRenderState(D3DRS_FOGTABLEMODE, DWORD(fogType));
        device->SetRenderState(D3DRS_FOGCOLOR, colorToARGB(fogColor));
        DWORD bits;
        std::memcpy(&bits, &fogStart, 4);
        device->SetRenderState(D3DRS_FOGSTART, bits);
        std::memcpy(&bits, &fogEnd, 4);
        device->SetRenderState(D3DRS_FOGEND, bits);
        std::memcpy(clearColor, fogColor, sizeof clearColor);
    } else {
        *engine->switches->isFogEnabled = 0;
    }
    device->SetRenderState(D3DRS_FOGENABLE, *engine->switches->isFogEnabled != 0);
}

void Scene::setupLights(double t)
{
    IDirect3DDevice9* device = engine->currentDevice;
    device->SetRenderState(D3DRS_LIGHTING, 1);
    const float i = ambientIntensity.valueAt(t);
    const float ambient[4] = {ambientColor[0] * i, ambientColor[1] * i, ambientColor[2] * i, 1.0f};
    device->SetRenderState(D3DRS_AMBIENT, colorToARGB(ambient));
    for (Light* light : lights) {
        if (!light->setUp)
            continue;
        light->updateD3DLight(t);
        device->SetLight(DWORD(light->index), light);
    }
}

void Scene::finishLoading(LoadingProgress* progressDisplay, float progressStart, float progressShare)
{
    for (Light* light : lights)
        light->createResources();
    const size_t count = objects.size();
    for (size_t i = 0; i < count; ++i) {
        if (progressDisplay)
            progressDisplay->drawLoadingProgress(progressStart + progressShare * float(i) / float(count));
        if (objects[i]->mesh)
            objects[i]->mesh->prepare();
    }
    prepareRender();
}

bool Scene::hasBakeLights() const
{
    auto bake = [](const Light* l) { return l->affectOpenGLOff != 0; };
    return std::any_of(lights.begin(), lights.end(), bake) ||
           std::any_of(retiredLights.begin(), retiredLights.end(), bake);
}

void Scene::prepareRender()
{
    IDirect3DDevice9* device = engine->currentDevice;
    device->BeginScene();
    std::optional<SavedTargets> saved(std::in_place, device);
    invalidateNodes(nullptr);
    if (!engine->fixedFunction)
        renderShadowMaps(0.0);
    invalidateNodes(nullptr);
    device->SetRenderState(D3DRS_LIGHTING, 0);
    device->SetRenderState(D3DRS_ZENABLE, 1);
    device->SetRenderState(D3DRS_ZWRITEENABLE, 1);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    *engine->switches->bake = 1;

    // Each scene of a metascene runs this pass over all its target layers.
    // A scene without bake lights would only clear what an earlier scene
    // baked, so it touches the layers only when no scene bakes at all
    // (they must not stay uninitialised).
    bool anyBaker = hasBakeLights();
    if (metaScene)
        for (Scene* other : metaScene->scenes)
            anyBaker = anyBaker || (other && other->hasBakeLights());
    const bool touchLayers = hasBakeLights() || !anyBaker;

    if (metaScene && touchLayers) {
        for (TextureLayer* layer : metaScene->renderTargetLayers) {
            if (!layer || !layer->texture)
                continue;
            IDirect3DSurface9* surface = layer->texture->surfaceLevel0();
            if (!surface)
                continue;
            engine->bakeTarget = layer;
            const UINT size = UINT(std::max(layer->texture->width, 1));
            IDirect3DSurface9* depth = nullptr;
            device->CreateDepthStencilSurface(size, size, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE, &depth, nullptr);
            if (!depth) {
                surface->Release();
                continue;
            }
            device->SetRenderTarget(0, surface);
            device->SetDepthStencilSurface(depth);
            // Without shaders no triangle can be drawn where its light-map
            // coordinates put it: the maps stay white (they scale nothing)
            // and the scene's own lights light the surfaces.
            const bool bake = !engine->fixedFunction;
            device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, bake ? 0 : 0xFFFFFFFF,
                          1.0f, 0);
            for (Light* light : lights) {
                if (!bake || !light->affectOpenGLOff)
                    continue;
                for (Light* other : lights)
                    if (other != light)
                        other->off = 1;
                engine->shadowLightIndex = light->index;
                const D3DMATRIX& view = light->inverseValid ? light->inverseWorld : *light->getInvMatrix(0.0);
                engine->uniforms->setView(view); // also D3DTS_VIEW; derived matrices stale
                drawObjects(light, 0, 0.0);
                renderFlares(light, 0.0);
                for (Light* other : lights)
                    if (other != light)
                        other->off = 0;
            }
            engine->shadowLightIndex = 0;
            depth->Release();
            surface->Release();
        }
    }

    // The bake lights leave the scene from the back, so no removal skips
    // one; removeLight keeps them alive for nodes that still point at them.
    for (size_t i = lights.size(); i-- > 0;)
        if (lights[i]->affectOpenGLOff)
            removeLight(i32(i));
    *engine->switches->bake = 0;
    saved.reset();
    device->EndScene();
}

void Scene::deactivate()
{
    for (Light* light : lights)
        engine->currentDevice->LightEnable(DWORD(light->index), FALSE);
    active = 0;
}

void Scene::updateParticles(Node* camera, double t)
{
    // The first step after loading only moves and draws.
    const double dt = lastParticleTime < 0.0 ? 0.0 : t - lastParticleTime;
    stepParticles(fxEmitter, fxEffector, camera, t, dt);
    lastParticleTime = t;
}

bool setCurrentCamera(Scene* scene, i32 i)
{
    if (!scene || i < 0 || size_t(i) >= scene->cameras.size())
        return false;
    scene->currentCamera = scene->cameras[size_t(i)];
    return true;
}

Camera* Scene::addCamera()
{
    auto* camera = new Camera(this, i32(cameras.size()));
    cameras.push_back(camera);
    return camera;
}

Light* Scene::addLight()
{
    auto* light = new Light(this, i32(lights.size()));
    lights.push_back(light);
    return light;
}

Mesh* adoptMesh(Mesh* mesh)
{
    if (mesh->object)
        mesh->object->loadTextures(true);
    mesh->prepare();
    return mesh;
}

Object* Scene::addMeshObject(const char* file, Mesh* mesh)
{
    if (!mesh)
        return nullptr;
    auto* object = new Object(this, i32(objects.size()));
    object->name = file ? file : "";
    object->mesh = adoptMesh(mesh);
    objects.push_back(object);
    return object;
}

namespace {

// Light numbers taken before a removal: drop i, shift the later ones.
void renumberExclusions(Node* node, i32 removed)
{
    auto& list = node->excludedLights;
    list.erase(std::remove(list.begin(), list.end(), removed), list.end());
    for (i32& n : list)
        if (n > removed)
            --n;
}

} // namespace

void Scene::removeLight(i32 i)
{
    if (i < 0 || size_t(i) >= lights.size())
        return;
    Light* light = lights[size_t(i)];
    lights.erase(lights.begin() + i);
    for (size_t k = size_t(i); k < lights.size(); ++k)
        lights[k]->index = i32(k);
    for (Camera* c : cameras)
        renumberExclusions(c, i);
    for (Object* o : objects)
        renumberExclusions(o, i);
    for (Light* l : lights)
        renumberExclusions(l, i);
    // Parents, targets and bones may still point at the light: it is
    // retired, not deleted, and goes with the scene.
    retiredLights.push_back(light);
}

void Scene::removeObject(i32 i)
{
    if (i < 0 || size_t(i) >= objects.size())
        return;
    Object* object = objects[size_t(i)];
    objects.erase(objects.begin() + i);
    for (size_t k = size_t(i); k < objects.size(); ++k)
        objects[k]->index = i32(k);
    std::erase_if(antiPortals, [object](AntiPortal* a) { return static_cast<Object*>(a) == object; });
    delete object;
}

void Scene::setAmbientColor(const float c[4])
{
    std::memcpy(ambientColor, c, sizeof ambientColor);
}
