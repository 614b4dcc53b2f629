// Object files written chunk by chunk on the writer's primitives, with
// exactly the fields our reader takes from each chunk. Chunks come out in
// call order; the caller keeps the order the reader needs (TAGS before
// SURF, a layer's LAYR before its geometry, ENVL and CLIP before the
// surfaces that use them).
#pragma once

#include "lightwave/lwo2_writer.h"
#include "tools/mkcontent/mesh_shapes.h"

#include <string>
#include <utility>

namespace mkcontent {

class Lwo2Emitter {
public:
    Lwo2Writer out;

    Lwo2Emitter();

    void tags(const std::vector<std::string>& names);
    void layer(u32 number, const char* name = "Layer");
    void points(const Shape& shape);
    // POLS of type FACE (or another type: PTCH, MBAL, PTCL).
    void polygons(const std::vector<std::vector<u32>>& faces, const char* type = "FACE");
    // PTAG SURF: polygon i gets tags[i].
    void polygonTags(const std::vector<u32>& tags);
    // One tag for count polygons.
    void polygonTags(u32 count, u32 tag) { polygonTags(std::vector<u32>(count, tag)); }
    // Points, faces, a TXUV map of the shape's uv when it has one, and tags.
    void shape(const Shape& s, u32 tag, const char* uvName = "UV");

    // VMAP of dimension values.size() / indices.size() per point.
    void vertexMap(const char* type, const char* name, const std::vector<u32>& indices,
                   const std::vector<float>& values);
    // VMAD TXUV: entries of point, polygon, u, v.
    struct Discontinuous {
        u32 point;
        u32 polygon;
        float u;
        float v;
    };
    void discontinuousUV(const char* name, const std::vector<Discontinuous>& entries);

    // ENVL: keys of time, value and a span ("TCB ", "HERM", "BEZI", "BEZ2",
    // "LINE", "STEP") with its parameters.
    struct Key {
        float time;
        float value;
        const char* span;
        std::vector<float> params;
    };
    void envelope(u32 index, const char* name, u32 pre, u32 post, const std::vector<Key>& keys);

    // CLIP chunks.
    // CLIP chunks; a rate above 0 adds a TIME sub-chunk.
    void clipStill(u32 index, const char* path);
    void clipSequence(u32 index, u32 digits, u32 offset, u32 start, u32 end, const char* prefix,
                      const char* suffix, float rate = 0.0f);
    void clipAnimation(u32 index, const char* file);
    void clipReference(u32 index, i32 other, const char* name);

    // SURF: begin, sub-chunks, end.
    void beginSurface(const char* name);
    void color(float r, float g, float b, u32 envelope = 0);
    // DIFF, LUMI, SPEC, GLOS, REFL, TRAN, ADTR, RIND, BUMP, CLRF: F4 and envelope.
    void value(const char* id, float v, u32 envelope = 0);
    // SIDE, LINE, RFOP, RIMG, TIMG, TROP and the block's PROJ, AXIS, IMAG, PIXB.
    void u2(const char* id, u32 v);
    void smoothingAngle(float radians);
    void vertexColors(const char* type, const char* map);
    // BLOK with its header (IMAP, PROC or GRAD) holding CHAN, ENAB, NEGA, OPAC.
    void beginBlock(const char* header, const char* channel, u32 enabled = 1, u32 negative = 0,
                    float opacity = 1.0f);
    // TMAP; a rotation envelope animates the heading (the reader's own
    // layout: flag 1 and three U2 envelope numbers after the vector).
    void textureMap(const std::array<float, 3>& center, const std::array<float, 3>& size,
                    const std::array<float, 3>& rotation, u32 rotationEnvelope = 0);
    void wrap(u32 width, u32 height);
    void wrapAmounts(float width, float height);
    void uvMapName(const char* name);
    void antialiasing(u32 flags, float strength);
    void amplitude(float v);
    void gradient(const char* parameter, float start, float end,
                  const std::vector<std::array<float, 5>>& keys, const std::vector<u32>& interpolations);
    void endBlock();
    void endSurface();

    // The finished file.
    std::string finish();

private:
    u32 form_;
    u32 surface_ = 0;
    u32 block_ = 0;
    void s0Sub(const char* id, const char* text);
    void f4Sub(const char* id, float v);
    void vectorSub(const char* id, const std::array<float, 3>& v, u32 envelope);
};

} // namespace mkcontent
