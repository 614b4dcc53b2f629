#include "lightwave/lwo2_reader.h"

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/stream.h"
#include "lightwave/lw_object.h"
#include "lightwave/lwo2_load.h"
#include "lightwave/meta_scene.h"
#include "materials/envelope_owner.h"
#include "materials/surface.h"
#include "scene/scene.h"
#include "scene/wire_meshes.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

// ---- primitives

u32 Lwo2Cursor::readU4()
{
    if (remaining() < 4) {
        short_ = true;
        pos_ = end_;
        return 0;
    }
    const u32 v = u32(pos_[0]) << 24 | u32(pos_[1]) << 16 | u32(pos_[2]) << 8 | pos_[3];
    pos_ += 4;
    return v;
}

u32 Lwo2Cursor::readU2()
{
    if (remaining() < 2) {
        short_ = true;
        pos_ = end_;
        return 0;
    }
    const u32 v = u32(pos_[0]) << 8 | pos_[1];
    pos_ += 2;
    return v;
}

u32 Lwo2Cursor::readU1()
{
    if (atEnd()) {
        short_ = true;
        return 0;
    }
    return *pos_++;
}

float Lwo2Cursor::readF4()
{
    const u32 bits = readU4();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

u32 Lwo2Cursor::readID4()
{
    if (remaining() < 4) {
        short_ = true;
        pos_ = end_;
        return 0;
    }
    const u32 v = u32(pos_[0]) | u32(pos_[1]) << 8 | u32(pos_[2]) << 16 | u32(pos_[3]) << 24;
    pos_ += 4;
    return v;
}

u32 Lwo2Cursor::readVX()
{
    if (!atEnd() && *pos_ == 0xFF)
        return readU4() & 0x00FFFFFFu;
    return readU2();
}

String Lwo2Cursor::readS0()
{
    const u8* start = pos_;
    const u8* nul = (const u8*)std::memchr(pos_, 0, remaining());
    if (!nul) {
        // No terminator before the range ends: take what is there.
        short_ = true;
        pos_ = end_;
        nul = end_;
    } else {
        pos_ = nul + 1;
        if ((pos_ - start) & 1)
            pos_ = pos_ < end_ ? pos_ + 1 : end_;
    }
    const size_t length = std::min<size_t>(size_t(nul - start), maxS0 - 1);
    std::string text((const char*)start, length);
    return String(text.c_str());
}

Lwo2Cursor Lwo2Cursor::take(u32 n)
{
    if (n > remaining()) {
        n = remaining();
        short_ = true;
    }
    Lwo2Cursor part(pos_, pos_ + n);
    pos_ += n;
    return part;
}

Lwo2Cursor Lwo2Cursor::takeBody(u32 n)
{
    Lwo2Cursor part = take(n);
    if ((n & 1) && !atEnd())
        ++pos_;
    return part;
}

// ---- layers and maps

LWObjectLayer::~LWObjectLayer()
{
    delete[] points;
    freePolygons();
}

void LWObjectLayer::freePolygons()
{
    if (polygons)
        for (u32 i = 0; i < faceCount; ++i)
            delete[] polygons[i].pointIndices;
    delete[] polygons;
    polygons = nullptr;
}

VertexColorMap* findVertexColorMap(const LWObjectLayer* layer, const char* name)
{
    if (layer)
        for (const auto& map : layer->colorMaps)
            if (map && std::strcmp(map->name.c_str(), name) == 0)
                return map.get();
    return nullptr;
}

UVMap* findUVMap(const LWObjectLayer* layer, const char* name)
{
    if (layer)
        for (const auto& map : layer->uvMaps)
            if (map && std::strcmp(map->name.c_str(), name) == 0)
                return map.get();
    return nullptr;
}

void reportLwo2Error(const char* format, const char* a, const char* b)
{
    if (diagnosticsLevel < 1)
        return;
    char text[2200];
    std::snprintf(text, sizeof text, format, a, b);
    MessageBoxA(nullptr, text, "Error", MB_ICONEXCLAMATION);
}

// ---- geometry chunks

namespace {

constexpr u32 idTAGS = iffId("TAGS");
constexpr u32 idLAYR = iffId("LAYR");
constexpr u32 idPNTS = iffId("PNTS");
constexpr u32 idVMAP = iffId("VMAP");
constexpr u32 idVMAD = iffId("VMAD");
constexpr u32 idPOLS = iffId("POLS");
constexpr u32 idPTAG = iffId("PTAG");
constexpr u32 idENVL = iffId("ENVL");
constexpr u32 idCLIP = iffId("CLIP");
constexpr u32 idSURF = iffId("SURF");
constexpr u32 idFACE = iffId("FACE");
constexpr u32 idPTCH = iffId("PTCH");
constexpr u32 idMBAL = iffId("MBAL");
constexpr u32 idPTCL = iffId("PTCL");
constexpr u32 idTXUV = iffId("TXUV");
constexpr u32 idRGB = iffId("RGB ");
constexpr u32 idRGBA = iffId("RGBA");
constexpr u32 idMORF = iffId("MORF");

void readTags(Lwo2Load& load, Lwo2Cursor c)
{
    while (!c.atEnd()) {
        const String tag = c.readS0();
        // The tag table holds 2048 surfaces; later names are ignored.
        if (load.tags.size() >= Lwo2Load::maxTags)
            continue;
        String key = load.fileName;
        key.append("@");
        key.append(tag.c_str());
        Surface* surface = load.meta->findSurface(key.c_str());
        if (!surface) {
            surface = new Surface(load.meta, key.c_str());
            surface->loaded = 0;
            load.meta->surfaces.push_back(surface);
        }
        load.tags.push_back(surface);
    }
}

void readPoints(LWObjectLayer& layer, Lwo2Cursor c)
{
    // The count follows the bytes there are, not the declared length.
    const u32 count = c.size() / 12;
    delete[] layer.points;
    layer.points = new D3DVECTOR[count ? count : 1];
    for (u32 i = 0; i < count; ++i) {
        layer.points[i].x = c.readF4();
        layer.points[i].y = c.readF4();
        layer.points[i].z = c.readF4();
    }
    layer.numPositions = (i32)count;
}

void readPolygons(LWObjectLayer& layer, Lwo2Cursor c)
{
    const u32 type = c.readID4();
    const u32 first = c.tell();
    // Counting pass; a polygon cut off by the chunk's end is not counted.
    u32 count = 0;
    while (!c.atEnd()) {
        const u32 corners = c.readU2();
        for (u32 k = 0; k < corners && !c.exhausted(); ++k)
            c.readVX();
        if (c.exhausted())
            break;
        ++count;
    }
    if (type == idPTCH)
        layer.patchCount = count;
    else if (type == idMBAL)
        layer.metaballCount = count;
    else if (type == idPTCL)
        layer.particleCount = count;
    if (type != idFACE)
        return;

    layer.freePolygons();
    layer.faceCount = count;
    layer.twoVertexFaces = layer.oneVertexFaces = 0;
    layer.polygons = new PolyMesh::Polygon[count ? count : 1];
    c.seek(first);
    for (u32 i = 0; i < count; ++i) {
        PolyMesh::Polygon& poly = layer.polygons[i];
        poly.vertexCount = c.readU2();
        poly.pointIndices = new u32[poly.vertexCount ? poly.vertexCount : 1];
        for (u32 k = 0; k < poly.vertexCount; ++k)
            poly.pointIndices[k] = c.readVX();
        poly.surfaceIndex = 0;
        if (poly.vertexCount == 2)
            ++layer.twoVertexFaces;
        else if (poly.vertexCount == 1)
            ++layer.oneVertexFaces;
    }
}

void readPolygonTags(const Lwo2Load& load, LWObjectLayer& layer, Lwo2Cursor c)
{
    if (c.readID4() != idSURF)
        return;
    while (!c.atEnd()) {
        const u32 polygon = c.readVX();
        const u32 tag = c.readU2();
        if (c.exhausted())
            break;
        // A tag the table does not have would index past it later.
        if (polygon < layer.faceCount && tag < load.tags.size())
            layer.polygons[polygon].surfaceIndex = (i32)tag;
    }
}

// A map is held dense, one entry per point of its layer, however few entries
// its chunk holds: the maps of one load together may take
// kMapBytesPerFileByte per byte of the file (a full map is smaller than its
// chunk) on top of kMapBytesFree; a map beyond is left out, with a line in
// the log.
constexpr size_t kMapBytesFree = size_t(16) << 20;
constexpr size_t kMapBytesPerFileByte = 4;

bool takeMapBytes(Lwo2Load& load, u32 points, size_t perPoint, const String& name)
{
    const size_t bytes = size_t(points) * perPoint;
    const size_t limit = kMapBytesFree + kMapBytesPerFileByte * load.fileBytes;
    if (bytes > limit - std::min(limit, load.mapBytes)) {
        logStream << load.fileName.c_str() << ": vertex map \"" << name.c_str()
                  << "\" left out: the maps would take more memory than the file warrants" << std::endl;
        return false;
    }
    load.mapBytes += bytes;
    return true;
}

void readVertexMap(Lwo2Load& load, LWObjectLayer& layer, Lwo2Cursor c)
{
    const u32 type = c.readID4();
    c.readU2(); // dimension: the type says how many values follow
    const String name = c.readS0();
    const u32 points = (u32)std::max(layer.numPositions, 0);
    if (type == idTXUV) {
        ENGINE_ASSERT(layer.uv < LWObjectLayer::MAXMAPS && "maximum number of TXUVs exceeded!");
        if (layer.uv >= LWObjectLayer::MAXMAPS || !takeMapBytes(load, points, 2 * sizeof(float), name))
            return;
        UVMap* map = new UVMap;
        map->name = name;
        map->u.assign(points, 0.0f);
        map->v.assign(points, 0.0f);
        layer.uvMaps.emplace_back(map);
        while (!c.atEnd()) {
            const u32 point = c.readVX();
            const float u = c.readF4();
            const float v = c.readF4();
            if (c.exhausted())
                break;
            if (point < points) {
                map->u[point] = u;
                map->v[point] = v;
            }
        }
        ++layer.uv;
    } else if (type == idRGB || type == idRGBA) {
        ENGINE_ASSERT(layer.cr < LWObjectLayer::MAXMAPS && "maximum number of RGBAs exceeded!");
        if (layer.cr >= LWObjectLayer::MAXMAPS || !takeMapBytes(load, points, 4 * sizeof(float), name))
            return;
        VertexColorMap* map = new VertexColorMap;
        map->name = name;
        map->colors.assign(size_t(points) * 4, 0.0f);
        layer.colorMaps.emplace_back(map);
        while (!c.atEnd()) {
            const u32 point = c.readVX();
            float rgba[4];
            rgba[0] = c.readF4();
            rgba[1] = c.readF4();
            rgba[2] = c.readF4();
            rgba[3] = type == idRGBA ? c.readF4() : 1.0f;
            if (c.exhausted())
                break;
            if (point < points)
                std::memcpy(&map->colors[size_t(point) * 4], rgba, sizeof rgba);
        }
        ++layer.cr;
    } else if (type == idMORF) {
        ENGINE_ASSERT(layer.mf < LWObjectLayer::MAXMAPS && "maximum number of MORFs exceeded!");
        if (layer.mf >= LWObjectLayer::MAXMAPS)
            return;
        // Nothing draws morph targets: the entries are checked, not kept.
        while (!c.atEnd()) {
            const u32 point = c.readVX();
            c.readF4();
            c.readF4();
            c.readF4();
            if (c.exhausted())
                break;
            ENGINE_ASSERT(point < points && "v <= layr->numPositions");
        }
        ++layer.mf;
    }
}

void readDiscontinuousMap(LWObjectLayer& layer, Lwo2Cursor c)
{
    if (c.readID4() != idTXUV)
        return;
    c.readU2();
    const String name = c.readS0();
    UVMap* map = findUVMap(&layer, name.c_str());
    if (!map)
        return;
    while (!c.atEnd()) {
        const u32 point = c.readVX();
        const u32 polygon = c.readVX();
        const float u = c.readF4();
        const float v = c.readF4();
        if (c.exhausted())
            break;
        // Polygon numbers are checked where they are used.
        if (point < (u32)std::max(layer.numPositions, 0))
            map->addDiscontinuous(point, polygon, u, v);
    }
}

LWObject* buildObject(Lwo2Load& load, i32 highestLayer)
{
    // Layers that draw a transparent surface sort after the opaque ones.
    for (size_t t = 0; t < load.tags.size(); ++t) {
        if (!load.tags[t]->transparent)
            continue;
        for (auto& layer : load.layers)
            for (u32 i = 0; !layer->transparent && i < layer->faceCount; ++i)
                if (layer->polygons[i].surfaceIndex == (i32)t)
                    layer->transparent = 1;
    }

    auto* object = new LWObject(load.meta, load.fileName.c_str());
    object->layers.assign(size_t(highestLayer + 1), nullptr);
    object->tagCount = (i32)load.tags.size();
    object->tags = new Surface*[load.tags.size() ? load.tags.size() : 1];
    std::copy(load.tags.begin(), load.tags.end(), object->tags);

    for (auto& layer : load.layers) {
        Mesh* mesh = nullptr;
        if (layer->faceCount > 0) {
            mesh = new PolyMesh(load.engine, object, (i32)layer->faceCount, layer->polygons, layer->points,
                                layer->numPositions);
            layer->polygons = nullptr;
            layer->points = nullptr;
            layer->faceCount = 0;
        } else {
            if (layer->particleCount == 1)
                mesh = new PartigonMesh(load.engine, object, layer->points, layer->numPositions);
            delete[] layer->points;
            layer->points = nullptr;
        }
        if (mesh) {
            mesh->layerIndex = (i32)layer->number;
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, ":%u", layer->number + 1);
            mesh->name = load.fileName;
            mesh->name.append(suffix);
            mesh->sortAfterOpaque = layer->transparent;
            // A later layer of the same number replaces the earlier mesh.
            delete object->layers[layer->number];
            object->layers[layer->number] = mesh;
        }
        layer->uvMaps.clear();
        layer->colorMaps.clear();
    }
    return object;
}

} // namespace

LWObject* loadLWO2(Scene* scene, Stream* stream, const char* name)
{
    if (!scene || !scene->metaScene || !stream)
        return nullptr;
    const u32 start = stream->tell();
    const u32 left = stream->size > start ? stream->size - start : 0;
    std::vector<u8> bytes(left);
    u32 got = 0;
    while (got < left) {
        const u32 n = stream->read(bytes.data() + got, left - got);
        if (n == 0)
            break;
        got += n;
    }
    bytes.resize(got);

    Lwo2Load load;
    load.fileBytes = bytes.size();
    load.scene = scene;
    load.meta = metaSceneOf(scene->metaScene);
    load.engine = load.meta->engine;
    load.stream = stream;
    load.fileName = name ? name : "";
    load.meta->envelopeOwners.push_back(std::make_unique<EnvelopeOwner>());
    load.envelopes = load.meta->envelopeOwners.back().get();

    Lwo2Cursor file(bytes.data(), bytes.data() + bytes.size());
    LWObjectLayer* layer = nullptr;
    i32 highestLayer = -1;
    while (!file.atEnd()) {
        const u32 id = file.readID4();
        const u32 length = file.readU4();
        if (file.exhausted())
            break;
        Lwo2Cursor chunk = file.takeBody(length);
        const bool geometry = id == idPNTS || id == idVMAP || id == idVMAD || id == idPOLS || id == idPTAG;
        if (geometry && !layer) {
            ENGINE_ASSERT_FAILED("loadLWO2: missing LAYR chunk!");
            continue;
        }
        switch (id) {
        case idTAGS: readTags(load, chunk); break;
        case idLAYR: {
            auto record = std::make_unique<LWObjectLayer>();
            record->number = chunk.readU2();
            highestLayer = std::max(highestLayer, (i32)record->number);
            layer = record.get();
            load.layers.push_back(std::move(record));
            break;
        }
        case idPNTS: readPoints(*layer, chunk); break;
        case idPOLS: readPolygons(*layer, chunk); break;
        case idPTAG: readPolygonTags(load, *layer, chunk); break;
        case idVMAP: readVertexMap(load, *layer, chunk); break;
        case idVMAD: readDiscontinuousMap(*layer, chunk); break;
        case idENVL: load.readEnvelope(chunk); break;
        case idCLIP: load.readClip(chunk); break;
        case idSURF:
            if (!load.readSurface(chunk))
                return nullptr;
            break;
        default: break;
        }
    }
    return buildObject(load, highestLayer);
}

LWObject* openLWO2(Stream* fileSource, const char* name, Scene* scene)
{
    if (!fileSource || !name)
        return nullptr;
    std::unique_ptr<Stream> stream(fileSource->clone());
    if (!stream || !stream->open(name))
        return nullptr;
    u32 form[3] = {};
    const bool read = stream->read(form, 12) == 12;
    LWObject* object = nullptr;
    if (read && std::memcmp(&form[2], "LWO2", 4) == 0)
        object = loadLWO2(scene, stream.get(), name);
    else
        reportLwo2Error("%s is not an LWO2 file!\n", name);
    stream->close();
    return object;
}
