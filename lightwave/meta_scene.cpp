#include "lightwave/meta_scene.h"

#include "lightwave/lw_object.h"
#include "materials/surface.h"
#include "materials/texture.h"
#include "scene/scene.h"

MetaScene::MetaScene(Engine* engine, const char* name) : engine(engine), name(name) {}

MetaScene::~MetaScene()
{
    // The user camera's pick may point into these scenes.
    resetInteraction(engine, this);
    for (Scene* scene : scenes)
        delete scene;
    for (LWObject* object : lwObjects)
        delete object;
    for (Surface* surface : surfaces)
        delete surface;
    for (Texture* texture : textures)
        delete texture;
}
