#include "lightwave/meta_scene.h"

#include "lightwave/lw_object.h"
#include "lightwave/lwo2_reader.h"
#include "materials/envelope_owner.h"
#include "materials/surface.h"
#include "materials/texture.h"
#include "scene/scene.h"

#include <cstring>

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
    envelopeOwners.clear();
}

Surface* MetaScene::findSurface(const char* text) const
{
    for (Surface* surface : surfaces)
        if (surface && std::strcmp(surface->name.c_str(), text) == 0)
            return surface;
    return nullptr;
}

LWObject* MetaScene::findLwo(const char* text) const
{
    for (LWObject* object : lwObjects)
        if (object && std::strcmp(object->fileName.c_str(), text) == 0)
            return object;
    return nullptr;
}

Texture* MetaScene::findTexture(const char* text, u32 flags) const
{
    for (Texture* texture : textures)
        if (texture && std::strcmp(texture->name.c_str(), text) == 0) {
            texture->flags |= flags;
            return texture;
        }
    return nullptr;
}

LWObject* MetaScene::loadLwo(const char* fileName, Scene* scene, Stream* fileSource)
{
    if (!scene || !scene->metaScene || !fileName)
        return nullptr;
    MetaScene* meta = scene->metaScene;
    if (LWObject* object = meta->findLwo(fileName))
        return object;
    LWObject* object = openLWO2(fileSource, fileName, scene);
    if (object)
        meta->lwObjects.push_back(object);
    return object;
}
