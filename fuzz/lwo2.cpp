// Fuzz target for the object-file reader. The input is the file "fuzz.lwo"
// (no other name exists, so clips find no images). Reaches: the form check,
// every chunk and sub-chunk reader with damaged lengths and indices, the
// layer, tag, clip and envelope tables, and the object built at the end.
// Checks: every mesh's polygons name points of their mesh after the
// clean-up and every surface index lies in the tag table; a second request
// for the file returns the object already loaded.
#include "foundation/diagnostics.h"
#include "foundation/stream.h"
#include "lightwave/lw_object.h"
#include "lightwave/lwo2_reader.h"
#include "lightwave/meta_scene.h"
#include "scene/poly_mesh.h"
#include "scene/scene.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class InputStream : public Stream {
public:
    InputStream(const uint8_t* data, size_t n) : data(data), n((u32)n) {}
    Stream* clone() override { return new InputStream(data, n); }
    bool exists(const char* name) override { return std::strcmp(name, "fuzz.lwo") == 0; }
    bool open(const char* name) override
    {
        if (isOpen || !exists(name))
            return false;
        isOpen = true;
        size = n;
        pos = 0;
        return true;
    }
    bool create(const char*) override { return false; }
    bool close() override
    {
        const bool was = isOpen;
        isOpen = false;
        size = 0;
        return was;
    }
    u32 read(void* buf, u32 count) override
    {
        if (!isOpen)
            return 0;
        if (count > n - pos)
            count = n - pos;
        if (count)
            std::memcpy(buf, data + pos, count);
        pos += count;
        return count;
    }
    u32 write(const void*, u32) override { return 0; }
    bool seek(u32 p) override
    {
        if (!isOpen || p > n)
            return false;
        pos = p;
        return true;
    }
    bool skip(i32 delta) override { return seek((u32)((i64)pos + delta)); }
    u32 tell() override { return pos; }

private:
    const uint8_t* data;
    u32 n;
    u32 pos = 0;
    bool isOpen = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    diagnosticsLevel = 0;
    InputStream files(data, size);
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
    }
    return 0;
}
