// An engine, a metascene with one scene, and object files in memory for the
// object reader's tests.
#pragma once

#include "foundation/memory_stream.h"
#include "lightwave/lw_object.h"
#include "lightwave/lwo2_builder.h"
#include "lightwave/meta_scene.h"
#include "materials/surface.h"
#include "scene/poly_mesh.h"
#include "scene/scene_test_support.h"

#include <string>

namespace lwo2test {

using texturetest::boxTexts;
using texturetest::Diagnostics;

struct Loader : scenetest::SceneFixture {
    MemoryStream files;

    LWObject* load(const std::string& name, const std::string& bytes)
    {
        files.files[name] = bytes;
        return MetaScene::loadLwo(name.c_str(), scene, &files);
    }
    LWObject* load(const Bytes& chunks) { return load("obj.lwo", chunks.form()); }
    Surface* surface(const char* key) const { return meta->findSurface(key); }
};

inline PolyMesh* polyMesh(const LWObject* object, size_t layer)
{
    if (!object || layer >= object->layers.size() || !object->layers[layer])
        return nullptr;
    return object->layers[layer]->asPolyMesh();
}

} // namespace lwo2test
