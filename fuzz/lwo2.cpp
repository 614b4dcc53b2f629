// Fuzz target for the object-file reader. The input is the file "fuzz.lwo"
// (no other name exists, so clips find no images). Reaches: the form check,
// every chunk and sub-chunk reader with damaged lengths and indices, the
// layer, tag, clip and envelope tables, the object built at the end, and
// each layer's mesh build (smoothing, texture coordinates, the weld) on an
// engine without devices. Checks: every mesh's polygons name points of their
// mesh after the clean-up and every surface index lies in the tag table; a
// second request for the file returns the object already loaded; every
// subset's indices name its own vertices.
#include "display/display_manager.h"
#include "foundation/diagnostics.h"
#include "foundation/memory_stream.h"
#include "lightwave/lw_object.h"
#include "lightwave/lwo2_reader.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "scene/poly_mesh.h"
#include "scene/scene.h"
#include "scene/subset.h"

#include <cstdint>
#include <cstdlib>

namespace {

// No device: the build packs every subset and creates no buffers.
Engine* deviceless()
{
    static DisplayManager manager;
    static Engine engine(&manager);
    return &engine;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    diagnosticsLevel = 0;
    MemoryStream files("fuzz.lwo", std::string((const char*)data, size));
    MetaScene meta(nullptr, "fuzz.mts");
    auto* scene = new Scene(&meta);
    meta.scenes.push_back(scene);
    LWObject* object = MetaScene::loadLwo("fuzz.lwo", scene, &files);
    if (!object)
        return 0;
    if (MetaScene::loadLwo("fuzz.lwo", scene, &files) != object)
        std::abort();
    for (Mesh* mesh : object->layers) {
        PolyMesh* poly = mesh ? mesh->asPolyMesh() : nullptr;
        if (!poly)
            continue;
        poly->removeDegeneratePolygons();
        poly->computeBounds();
        for (i32 i = 0; i < poly->polygonCount; ++i) {
            const PolyMesh::Polygon& p = poly->polygons[i];
            if (p.surfaceIndex < 0 || p.surfaceIndex >= object->tagCount)
                std::abort();
            for (u32 k = 0; k < p.vertexCount; ++k)
                if (p.pointIndices[k] >= (u32)poly->pointCount)
                    std::abort();
        }
        poly->engine = deviceless();
        if (!poly->prepare())
            continue;
        for (Subset* subset : poly->subsets)
            for (u32 index : subset->indices)
                if (index >= (u32)subset->vertexCount)
                    std::abort();
    }
    return 0;
}
