#include "lightwave/lw_object.h"

#include "foundation/diagnostics.h"
#include "lightwave/meta_scene.h"
#include "scene/mesh.h"

#include <windows.h>

#include <cstdio>

LWObject::LWObject(MetaScene* owner, const char* fileName) : MeshFile(owner), fileName(fileName) {}

LWObject::~LWObject()
{
    for (Mesh* mesh : layers)
        delete mesh;
}

Mesh* LWObject::layer(const char* fileName, i32 layerIndex, Scene* scene, Stream* fileSource)
{
    LWObject* object = MetaScene::loadLwo(fileName, scene, fileSource);
    if (object && layerIndex >= 0 && (size_t)layerIndex < object->layers.size() && object->layers[(size_t)layerIndex])
        return object->layers[(size_t)layerIndex];
    if (diagnosticsLevel >= 1) {
        char text[1200];
        std::snprintf(text, sizeof text, "%d is not a valid layer number for %s!\n", layerIndex,
                      fileName ? fileName : "");
        MessageBoxA(nullptr, text, "Error", MB_ICONEXCLAMATION);
    }
    return nullptr;
}
