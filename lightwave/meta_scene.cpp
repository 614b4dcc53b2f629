#include "lightwave/meta_scene.h"

#include "lightwave/lw_object.h"
#include "materials/surface.h"
#include "materials/texture.h"
#include "scene/scene.h"

MetaScene::MetaScene(Engine* engine, const char* name) : engine(engine), name(name) {}

MetaScene::~MetaScene()
{
    for (Scene* scene : scenes)
        delete scene;
    for (LWObject* object : lwObjects)
        delete object;
    for (Surface* surface : surfaces)
        delete surface;
    for (Texture* texture : textures)
        delete texture;
}
