// The scene operations that read object files. They are Scene's, but they
// live beside the object reader: the scene library sits below it.
#include "lightwave/lw_object.h"
#include "lightwave/meta_scene.h"
#include "scene/mesh.h"
#include "scene/object.h"
#include "scene/scene.h"

Object* Scene::addObjectLayer(Stream* fileSource, const char* file, i32 layer)
{
    return addMeshObject(file, LWObject::layer(file, layer, this, fileSource));
}

i32 Scene::addObjectLayers(Stream* fileSource, const char* file)
{
    const LWObject* record = MetaScene::loadLwo(file, this, fileSource);
    i32 added = 0;
    if (record)
        for (Mesh* mesh : record->layers)
            added += mesh && addMeshObject(file, mesh) ? 1 : 0;
    return added;
}

bool Scene::replaceObjectLayer(i32 i, Stream* fileSource, const char* file, i32 layer)
{
    if (i < 0 || size_t(i) >= objects.size())
        return false;
    Mesh* mesh = LWObject::layer(file, layer, this, fileSource);
    if (!mesh)
        return false;
    objects[size_t(i)]->mesh = adoptMesh(mesh);
    return true;
}
