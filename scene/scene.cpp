#include "scene/scene.h"

#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/particle_fx.h"
#include "scene/scene_group.h"

SceneBase::~SceneBase()
{
    for (Camera* camera : cameras)
        delete camera;
    for (Object* object : objects)
        delete object;
    for (Light* light : lights)
        delete light;
}

Scene::Scene(SceneGroup* metaScene) : SceneBase(metaScene ? metaScene->engine : nullptr), metaScene(metaScene) {}

Scene::~Scene()
{
    for (ParticleFX* fx : fxEmitter)
        delete fx;
    for (ParticleFX* fx : fxEffector)
        delete fx;
    delete[] name;
    // The script's render target: the surface and depth are the scene's own.
    if (targetSurface)
        targetSurface->Release();
    if (targetDepth)
        targetDepth->Release();
    delete ambientIntensity.source;
    delete globalLightIntensity.source;
    delete globalFlareIntensity.source;
    for (Light* light : retiredLights)
        delete light;
}
