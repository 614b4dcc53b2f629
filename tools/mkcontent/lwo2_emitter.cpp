#include "tools/mkcontent/lwo2_emitter.h"

#include "tools/mkcontent/content.h"

#include <cmath>

namespace mkcontent {

Lwo2Emitter::Lwo2Emitter() { form_ = out.beginChunk("FORM", "LWO2"); }

void Lwo2Emitter::tags(const std::vector<std::string>& names)
{
    const u32 at = out.beginChunk("TAGS");
    for (const std::string& name : names)
        out.putS0(name.c_str());
    out.endChunk(at);
}

void Lwo2Emitter::layer(u32 number, const char* name)
{
    const u32 at = out.beginChunk("LAYR");
    out.putU2(number);
    out.putU2(0);
    for (int i = 0; i < 3; ++i)
        out.putF4(0.0f);
    out.putS0(name);
    out.endChunk(at);
}

void Lwo2Emitter::points(const Shape& shape)
{
    const u32 at = out.beginChunk("PNTS");
    for (const auto& p : shape.points)
        for (float f : p)
            out.putF4(f);
    out.endChunk(at);
}

void Lwo2Emitter::polygons(const std::vector<std::vector<u32>>& faces, const char* type)
{
    const u32 at = out.beginChunk("POLS", type);
    for (const auto& face : faces) {
        out.putU2(u32(face.size()));
        for (u32 i : face)
            out.putVX(i);
    }
    out.endChunk(at);
}

void Lwo2Emitter::polygonTags(const std::vector<u32>& tags)
{
    const u32 at = out.beginChunk("PTAG", "SURF");
    for (size_t i = 0; i < tags.size(); ++i) {
        out.putVX(u32(i));
        out.putU2(tags[i]);
    }
    out.endChunk(at);
}

void Lwo2Emitter::shape(const Shape& s, u32 tag, const char* uvName)
{
    points(s);
    if (uvName && s.uv.size() == s.points.size()) {
        std::vector<u32> indices;
        std::vector<float> values;
        for (size_t i = 0; i < s.uv.size(); ++i) {
            indices.push_back(u32(i));
            values.insert(values.end(), s.uv[i].begin(), s.uv[i].end());
        }
        vertexMap("TXUV", uvName, indices, values);
    }
    polygons(s.faces);
    polygonTags(u32(s.faces.size()), tag);
}

void Lwo2Emitter::vertexMap(const char* type, const char* name, const std::vector<u32>& indices,
                            const std::vector<float>& values)
{
    const u32 dimension = indices.empty() ? 0 : u32(values.size() / indices.size());
    const u32 at = out.beginChunk("VMAP", type);
    out.putU2(dimension);
    out.putS0(name);
    for (size_t i = 0; i < indices.size(); ++i) {
        out.putVX(indices[i]);
        for (u32 k = 0; k < dimension; ++k)
            out.putF4(values[i * dimension + k]);
    }
    out.endChunk(at);
}

void Lwo2Emitter::discontinuousUV(const char* name, const std::vector<Discontinuous>& entries)
{
    const u32 at = out.beginChunk("VMAD", "TXUV");
    out.putU2(2);
    out.putS0(name);
    for (const Discontinuous& e : entries) {
        out.putVX(e.point);
        out.putVX(e.polygon);
        out.putF4(e.u);
        out.putF4(e.v);
    }
    out.endChunk(at);
}

void Lwo2Emitter::envelope(u32 index, const char* name, u32 pre, u32 post, const std::vector<Key>& keys)
{
    const u32 at = out.beginChunk("ENVL");
    out.putVX(index);
    u32 sub = out.beginSubChunk("TYPE");
    out.putU2(0x0300); // user format 3: a plain scalar
    out.endSubChunk(sub);
    sub = out.beginSubChunk("PRE ");
    out.putU2(pre);
    out.endSubChunk(sub);
    for (const Key& key : keys) {
        sub = out.beginSubChunk("KEY ");
        out.putF4(key.time);
        out.putF4(key.value);
        out.endSubChunk(sub);
        sub = out.beginSubChunk("SPAN", key.span);
        for (float f : key.params)
            out.putF4(f);
        out.endSubChunk(sub);
    }
    sub = out.beginSubChunk("POST");
    out.putU2(post);
    out.endSubChunk(sub);
    s0Sub("NAME", name);
    out.endChunk(at);
}

void Lwo2Emitter::clipStill(u32 index, const char* path)
{
    const u32 at = out.beginChunk("CLIP");
    out.putU4(index);
    s0Sub("STIL", path);
    out.endChunk(at);
}

void Lwo2Emitter::clipSequence(u32 index, u32 digits, u32 offset, u32 start, u32 end, const char* prefix,
                               const char* suffix, float rate)
{
    const u32 at = out.beginChunk("CLIP");
    out.putU4(index);
    const u32 sub = out.beginSubChunk("ISEQ");
    out.putU1(digits);
    out.putU1(0);
    out.putU2(offset);
    out.putU2(0);
    out.putU2(start);
    out.putU2(end);
    out.putS0(prefix);
    out.putS0(suffix);
    out.endSubChunk(sub);
    if (rate > 0.0f) {
        const u32 time = out.beginSubChunk("TIME");
        out.putF4(0.0f);
        out.putF4(float(end - start + 1) / rate);
        out.putF4(rate);
        out.endSubChunk(time);
    }
    out.endChunk(at);
}

void Lwo2Emitter::clipAnimation(u32 index, const char* file)
{
    const u32 at = out.beginChunk("CLIP");
    out.putU4(index);
    const u32 sub = out.beginSubChunk("ANIM");
    out.putS0(file);
    out.putS0("");
    out.putU4(0);
    out.endSubChunk(sub);
    out.endChunk(at);
}

void Lwo2Emitter::clipReference(u32 index, i32 other, const char* name)
{
    const u32 at = out.beginChunk("CLIP");
    out.putU4(index);
    const u32 sub = out.beginSubChunk("XREF");
    out.putU4(u32(other));
    out.putS0(name);
    out.endSubChunk(sub);
    out.endChunk(at);
}

void Lwo2Emitter::beginSurface(const char* name)
{
    surface_ = out.beginChunk("SURF");
    out.putS0(name);
    out.putS0("");
}

void Lwo2Emitter::color(float r, float g, float b, u32 envelope)
{
    vectorSub("COLR", {r, g, b}, envelope);
}

void Lwo2Emitter::value(const char* id, float v, u32 envelope)
{
    const u32 sub = out.beginSubChunk(id);
    out.putF4(v);
    out.putVX(envelope);
    out.endSubChunk(sub);
}

void Lwo2Emitter::u2(const char* id, u32 v)
{
    const u32 sub = out.beginSubChunk(id);
    out.putU2(v);
    out.endSubChunk(sub);
}

void Lwo2Emitter::smoothingAngle(float radians) { f4Sub("SMAN", radians); }

void Lwo2Emitter::vertexColors(const char* type, const char* map)
{
    const u32 sub = out.beginSubChunk("VCOL");
    out.putF4(1.0f);
    out.putVX(0);
    out.putID4(type);
    out.putS0(map);
    out.endSubChunk(sub);
}

void Lwo2Emitter::beginBlock(const char* header, const char* channel, u32 enabled, u32 negative, float opacity)
{
    block_ = out.beginSubChunk("BLOK");
    const u32 head = out.beginSubChunk(header);
    out.putS0("\x80");
    u32 sub = out.beginSubChunk("CHAN");
    out.putID4(channel);
    out.endSubChunk(sub);
    u2("ENAB", enabled);
    u2("NEGA", negative);
    sub = out.beginSubChunk("OPAC");
    out.putU2(0);
    out.putF4(opacity);
    out.putVX(0);
    out.endSubChunk(sub);
    out.endSubChunk(head);
}

void Lwo2Emitter::textureMap(const std::array<float, 3>& center, const std::array<float, 3>& size,
                             const std::array<float, 3>& rotation, u32 rotationEnvelope)
{
    const u32 at = out.beginSubChunk("TMAP");
    vectorSub("CNTR", center, 0);
    vectorSub("SIZE", size, 0);
    if (rotationEnvelope) {
        const u32 sub = out.beginSubChunk("ROTA");
        for (float f : rotation)
            out.putF4(f);
        out.putU2(1);
        out.putU2(rotationEnvelope);
        out.putU2(0);
        out.putU2(0);
        out.endSubChunk(sub);
    } else {
        vectorSub("ROTA", rotation, 0);
    }
    s0Sub("OREF", "(none)");
    out.endSubChunk(at);
}

void Lwo2Emitter::wrap(u32 width, u32 height)
{
    const u32 sub = out.beginSubChunk("WRAP");
    out.putU2(width);
    out.putU2(height);
    out.endSubChunk(sub);
}

void Lwo2Emitter::wrapAmounts(float width, float height)
{
    value("WRPW", width);
    value("WRPH", height);
}

void Lwo2Emitter::uvMapName(const char* name) { s0Sub("VMAP", name); }

void Lwo2Emitter::antialiasing(u32 flags, float strength)
{
    const u32 sub = out.beginSubChunk("AAST");
    out.putU2(flags);
    if (flags)
        out.putF4(strength);
    out.endSubChunk(sub);
}

void Lwo2Emitter::amplitude(float v) { value("TAMP", v); }

void Lwo2Emitter::gradient(const char* parameter, float start, float end,
                           const std::vector<std::array<float, 5>>& keys, const std::vector<u32>& interpolations)
{
    s0Sub("PNAM", parameter);
    f4Sub("GRST", start);
    f4Sub("GREN", end);
    u32 sub = out.beginSubChunk("FKEY");
    for (const auto& key : keys)
        for (float f : key)
            out.putF4(f);
    out.endSubChunk(sub);
    sub = out.beginSubChunk("IKEY");
    for (u32 i : interpolations)
        out.putU2(i);
    out.endSubChunk(sub);
}

void Lwo2Emitter::endBlock() { out.endSubChunk(block_); }

void Lwo2Emitter::endSurface() { out.endChunk(surface_); }

std::string Lwo2Emitter::finish()
{
    out.endChunk(form_);
    return std::string(out.buffer.begin(), out.buffer.end());
}

void Lwo2Emitter::s0Sub(const char* id, const char* text)
{
    const u32 sub = out.beginSubChunk(id);
    out.putS0(text);
    out.endSubChunk(sub);
}

void Lwo2Emitter::f4Sub(const char* id, float v)
{
    const u32 sub = out.beginSubChunk(id);
    out.putF4(v);
    out.endSubChunk(sub);
}

void Lwo2Emitter::vectorSub(const char* id, const std::array<float, 3>& v, u32 envelope)
{
    const u32 sub = out.beginSubChunk(id);
    for (float f : v)
        out.putF4(f);
    out.putVX(envelope);
    out.endSubChunk(sub);
}

} // namespace mkcontent
