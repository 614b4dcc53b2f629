#include "lightwave/lwo2_writer.h"

#include "foundation/diagnostics.h"
#include "foundation/envelope.h"
#include "lightwave/lw_object.h"
#include "materials/surface.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"
#include "scene/poly_mesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

void Lwo2Writer::putBytes(const void* bytes, u32 n)
{
    const size_t end = size_t(position) + n;
    if (end > buffer.size())
        buffer.resize(end);
    if (n)
        std::memcpy(buffer.data() + position, bytes, n);
    position = u32(end);
}

void Lwo2Writer::putU1(u32 value)
{
    const u8 b = u8(value);
    putBytes(&b, 1);
}

void Lwo2Writer::putU2(u32 value)
{
    const u8 b[2] = {u8(value >> 8), u8(value)};
    putBytes(b, 2);
}

void Lwo2Writer::putU4(u32 value)
{
    const u8 b[4] = {u8(value >> 24), u8(value >> 16), u8(value >> 8), u8(value)};
    putBytes(b, 4);
}

void Lwo2Writer::putF4(float value)
{
    u32 bits;
    std::memcpy(&bits, &value, 4);
    putU4(bits);
}

void Lwo2Writer::putS0(const char* text)
{
    const u32 n = u32(std::strlen(text)) + 1;
    putBytes(text, n);
    if (n & 1)
        putU1(0);
}

u32 Lwo2Writer::putVX(u32 index)
{
    if (index < 0xFF00) {
        putU2(index);
        return 2;
    }
    putU4(index | 0xFF000000u);
    return 4;
}

u32 Lwo2Writer::beginChunk(const char* id, const char* type)
{
    putID4(id);
    const u32 at = position;
    putU4(0);
    if (type)
        putID4(type);
    return at;
}

void Lwo2Writer::endChunk(u32 lengthPosition)
{
    const u32 end = position;
    position = lengthPosition;
    putU4(end - lengthPosition - 4);
    position = end;
    // An odd body is followed by a pad byte that its length leaves out.
    if ((end - lengthPosition) & 1)
        putU1(0);
}

u32 Lwo2Writer::beginSubChunk(const char* id, const char* extra)
{
    putID4(id);
    const u32 at = position;
    putU2(0);
    if (extra)
        putID4(extra);
    return at;
}

void Lwo2Writer::endSubChunk(u32 lengthPosition)
{
    const u32 end = position;
    position = lengthPosition;
    putU2(end - lengthPosition - 2);
    position = end;
    if ((end - lengthPosition) & 1)
        putU1(0);
}

const char* Lwo2Writer::tagOf(const Surface& surface)
{
    // The reader keys surfaces "file@tag"; the file holds only the tag.
    const char* name = surface.name.c_str();
    const char* at = std::strchr(name, '@');
    return at ? at + 1 : name;
}

void Lwo2Writer::putEnvelopeRef(const DynamicValue* source)
{
    Envelope* envelope = source ? const_cast<DynamicValue*>(source)->asEnvelope() : nullptr;
    putVX(envelope ? envelope->writerIndex : 0);
}

void Lwo2Writer::writeLayer(u32 number, const Mesh& mesh)
{
    const PolyMesh* poly = const_cast<Mesh&>(mesh).asPolyMesh();
    u32 at = beginChunk("LAYR");
    putU2(number);
    putU2(0);
    for (int i = 0; i < 3; ++i)
        putF4(0.0f);
    putS0("Layer");
    endChunk(at);

    at = beginChunk("PNTS");
    for (i32 i = 0; i < poly->pointCount; ++i) {
        putF4(poly->pointArray[i].x);
        putF4(poly->pointArray[i].y);
        putF4(poly->pointArray[i].z);
    }
    endChunk(at);

    at = beginChunk("BBOX");
    for (float f : {-1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f})
        putF4(f);
    endChunk(at);

    at = beginChunk("POLS", "FACE");
    for (i32 p = 0; p < poly->polygonCount; ++p) {
        const PolyMesh::Polygon& polygon = poly->polygons[p];
        putU2(polygon.vertexCount);
        for (u32 v = 0; v < polygon.vertexCount; ++v)
            putVX(polygon.pointIndices[v]);
    }
    endChunk(at);

    at = beginChunk("PTAG", "SURF");
    for (i32 p = 0; p < poly->polygonCount; ++p) {
        putVX(u32(p));
        putU2(u32(poly->polygons[p].surfaceIndex));
    }
    endChunk(at);
}

void Lwo2Writer::writeClips(const std::vector<Texture*>& images)
{
    for (size_t i = 0; i < images.size(); ++i) {
        const u32 at = beginChunk("CLIP");
        putU4(u32(i + 1));
        const u32 sub = beginSubChunk("STIL");
        // The reader turns "C:dir/x" into "C:/dir/x"; write the file's own form back.
        std::string path = images[i]->name.c_str();
        if (path.size() > 2 && path[1] == ':' && path[2] == '/')
            path.erase(2, 1);
        putS0(path.c_str());
        endSubChunk(sub);
        endChunk(at);
    }
}

void Lwo2Writer::writeEnvelope(const Envelope& envelope)
{
    const u32 at = beginChunk("ENVL");
    // VX like every other index of the format (a U4 here misaligns what follows).
    putVX(envelope.writerIndex);
    u32 sub = beginSubChunk("NAME");
    putS0(envelope.name.c_str());
    endSubChunk(sub);
    sub = beginSubChunk("TYPE");
    putU2(envelope.reserved);
    endSubChunk(sub);
    sub = beginSubChunk("PRE ");
    putU2(envelope.preBehavior);
    endSubChunk(sub);
    for (const EnvelopeKey& key : envelope.keys) {
        sub = beginSubChunk("KEY ");
        putF4(key.time);
        putF4(key.value);
        endSubChunk(sub);
        if (key.shape == EnvelopeKey::shapeTcb) {
            sub = beginSubChunk("SPAN", "TCB ");
            putF4(key.tension);
            putF4(key.continuity);
            putF4(key.bias);
            endSubChunk(sub);
        } else {
            ENGINE_ASSERT(0 && "TODO: add other envtypes");
        }
    }
    sub = beginSubChunk("POST");
    putU2(envelope.postBehavior);
    endSubChunk(sub);
    endChunk(at);
}

void Lwo2Writer::writeSurface(const Surface& surface, const std::vector<Texture*>& images)
{
    const u32 at = beginChunk("SURF");
    putS0(tagOf(surface));
    putS0(surface.sourceName.c_str());

    u32 sub = beginSubChunk("COLR");
    for (const AnimatedValue& c : surface.color)
        putF4(c.value);
    putEnvelopeRef(surface.color[0].source);
    endSubChunk(sub);
    const std::pair<const char*, const AnimatedValue*> values[] = {
        {"LUMI", &surface.luminosity},   {"DIFF", &surface.diffuse},    {"SPEC", &surface.specularity},
        {"TRAN", &surface.transparency}, {"GLOS", &surface.glossiness}, {"REFL", &surface.reflection},
    };
    for (const auto& [id, value] : values) {
        sub = beginSubChunk(id);
        putF4(value->value);
        putEnvelopeRef(value->source);
        endSubChunk(sub);
    }
    sub = beginSubChunk("SMAN");
    putF4(surface.smoothing ? std::acos(std::clamp(surface.smoothingCosine, -1.0f, 1.0f)) : 0.0f);
    endSubChunk(sub);
    sub = beginSubChunk("SIDE");
    putU2(surface.doubleSided ? 3 : 1);
    endSubChunk(sub);

    for (i32 i = 0; i < surface.layerCount; ++i) {
        const TextureLayer& layer = *surface.layerSlots[i];
        const u32 block = beginSubChunk("BLOK");
        // The header's ordinal string comes first; readers reject it without.
        u32 header = beginSubChunk("IMAP");
        putS0("\x80");
        sub = beginSubChunk("CHAN");
        putBytes(&layer.channel, 4); // held with the first character lowest
        endSubChunk(sub);
        sub = beginSubChunk("OPAC");
        putU2(u32(layer.opacityType));
        putF4(layer.opacity.value);
        putEnvelopeRef(layer.opacity.source);
        endSubChunk(sub);
        sub = beginSubChunk("ENAB");
        putU2(layer.enabled);
        endSubChunk(sub);
        sub = beginSubChunk("NEGA");
        putU2(layer.invert);
        endSubChunk(sub);
        endSubChunk(header);

        header = beginSubChunk("TMAP");
        const std::pair<const char*, const AnimatedValue*> vectors[] = {
            {"CNTR", layer.center}, {"SIZE", layer.size}, {"ROTA", layer.rotation}};
        for (const auto& [id, v] : vectors) {
            sub = beginSubChunk(id);
            for (int k = 0; k < 3; ++k)
                putF4(v[k].value);
            putVX(0);
            endSubChunk(sub);
        }
        sub = beginSubChunk("FALL");
        putU2(0);
        for (int k = 0; k < 3; ++k)
            putF4(0.0f);
        putVX(0);
        endSubChunk(sub);
        sub = beginSubChunk("OREF");
        putS0("(none)");
        endSubChunk(sub);
        sub = beginSubChunk("CSYS");
        putU2(0);
        endSubChunk(sub);
        endSubChunk(header);

        const auto u2Sub = [this](const char* id, u32 value) {
            const u32 s = beginSubChunk(id);
            putU2(value);
            endSubChunk(s);
        };
        if (layer.projection >= 0)
            u2Sub("PROJ", u32(layer.projection));
        u2Sub("AXIS", u32(layer.axis));
        const auto image = std::find(images.begin(), images.end(), layer.texture);
        u2Sub("IMAG", image == images.end() ? 0u : u32(image - images.begin() + 1));
        sub = beginSubChunk("WRAP");
        putU2(u32(layer.wrapModeWidth));
        putU2(u32(layer.wrapModeHeight));
        endSubChunk(sub);
        sub = beginSubChunk("WRPW");
        putF4(layer.wrapAmountWidth);
        putVX(0);
        endSubChunk(sub);
        sub = beginSubChunk("WRPH");
        putF4(layer.wrapAmountHeight);
        putVX(0);
        endSubChunk(sub);
        // Flags 1 switch antialiasing on; the strength follows only then.
        sub = beginSubChunk("AAST");
        putU2(1);
        putF4(layer.antialiasingStrength);
        endSubChunk(sub);
        u2Sub("PIXB", layer.pixelBlending);
        endSubChunk(block);
    }
    endChunk(at);
}

std::vector<u8> Lwo2Writer::write(const std::vector<Mesh*>& meshes, const std::vector<Surface*>& surfaces)
{
    buffer.clear();
    position = 0;
    const u32 form = beginChunk("FORM", "LWO2");

    u32 at = beginChunk("TAGS");
    for (const Surface* surface : surfaces)
        putS0(surface ? tagOf(*surface) : "");
    endChunk(at);

    for (size_t n = 0; n < meshes.size(); ++n)
        if (meshes[n] && meshes[n]->asPolyMesh())
            writeLayer(u32(n), *meshes[n]);

    // Images in order of first use, numbered from 1.
    std::vector<Texture*> images;
    for (const Surface* surface : surfaces)
        for (i32 i = 0; surface && i < surface->layerCount; ++i) {
            Texture* texture = surface->layerSlots[i]->texture;
            if (texture && std::find(images.begin(), images.end(), texture) == images.end())
                images.push_back(texture);
        }
    writeClips(images);

    // Envelopes of surface values in visiting order, numbered from 1.
    std::vector<Envelope*> envelopes;
    const auto visit = [&envelopes](const AnimatedValue& value) {
        Envelope* envelope = value.source ? value.source->asEnvelope() : nullptr;
        if (envelope && std::find(envelopes.begin(), envelopes.end(), envelope) == envelopes.end()) {
            envelopes.push_back(envelope);
            envelope->writerIndex = u32(envelopes.size());
        }
    };
    for (const Surface* surface : surfaces) {
        if (!surface)
            continue;
        for (const AnimatedValue* v : {&surface->color[0], &surface->luminosity, &surface->diffuse,
                                       &surface->specularity, &surface->transparency, &surface->glossiness,
                                       &surface->reflection})
            visit(*v);
        for (i32 i = 0; i < surface->layerCount; ++i)
            visit(surface->layerSlots[i]->opacity);
    }
    for (const Envelope* envelope : envelopes)
        writeEnvelope(*envelope);

    for (const Surface* surface : surfaces)
        if (surface)
            writeSurface(*surface, images);

    endChunk(form);
    return std::move(buffer);
}

std::vector<u8> Lwo2Writer::write(const LWObject& object)
{
    std::vector<Surface*> surfaces(object.tags, object.tags + std::max(object.tagCount, 0));
    return write(object.layers, surfaces);
}
