// The object-file reader: an IFF "FORM" of type "LWO2" becomes an LWObject
// with one mesh per layer, and the file's surfaces, envelopes and clips
// become Surfaces, Envelopes and Textures of the scene's metascene.
//
// The file is read into memory once and parsed with bounded cursors: every
// chunk and sub-chunk reader sees only its own bytes (never past the file's
// end), and the loops go on at the declared end of each chunk, so a reader
// that expects more or fewer bytes than a damaged file holds cannot lose
// its place.
#pragma once

#include "foundation/byte_string.h"
#include "foundation/types.h"
#include "materials/vertex_maps.h"
#include "scene/poly_mesh.h"

#include <d3d9types.h>

#include <vector>

class LWObject;
class Scene;
class Stream;

// Big-endian primitives over a byte range. Reading past the range yields
// zeros and leaves the cursor at its end (exhausted() tells).
class Lwo2Cursor {
public:
    // An S0 string keeps at most this many bytes, terminator and pad included.
    static constexpr u32 maxS0 = 1000;

    Lwo2Cursor(const u8* begin, const u8* end) : begin_(begin), pos_(begin), end_(end) {}

    u32 readU4();
    u32 readU2();
    u32 readU1();
    i32 readI4() { return (i32)readU4(); }
    float readF4();
    // Four characters as they stand: the first in the lowest byte (iffId).
    u32 readID4();
    // Two bytes, or four when the first is 0xFF (then the low 24 bits).
    u32 readVX();
    // A NUL-terminated string padded to even length. A longer one is cut
    // at maxS0 - 1 characters and the rest of it skipped.
    String readS0();

    // A cursor over the next n bytes (fewer when the range ends sooner);
    // this one moves past them.
    Lwo2Cursor take(u32 n);
    // take(n) for a chunk or sub-chunk body: an odd length is followed by a
    // pad byte, which is skipped when the range still holds one.
    Lwo2Cursor takeBody(u32 n);
    void skipAll() { pos_ = end_; }
    void seek(u32 offset) { pos_ = offset < size() ? begin_ + offset : end_; }
    u32 tell() const { return u32(pos_ - begin_); }
    u32 size() const { return u32(end_ - begin_); }
    u32 remaining() const { return u32(end_ - pos_); }
    bool atEnd() const { return pos_ >= end_; }
    bool exhausted() const { return short_; }

private:
    const u8* begin_;
    const u8* pos_;
    const u8* end_;
    bool short_ = false; // a read ran past the end
};

// One LAYR of the file while it is read.
struct LWObjectLayer {
    static constexpr u32 MAXMAPS = 2048;

    u32 number = 0;
    // Polygons of the last POLS chunk of each type.
    u32 faceCount = 0;
    u32 patchCount = 0;
    u32 metaballCount = 0;
    u32 particleCount = 0;
    u32 twoVertexFaces = 0;
    u32 oneVertexFaces = 0;
    i32 numPositions = 0;
    D3DVECTOR* points = nullptr;              // new[]; handed to the mesh
    PolyMesh::Polygon* polygons = nullptr;    // new[] of faceCount; handed to the mesh
    u32 uv = 0;
    u32 cr = 0;
    u32 mf = 0;
    // The layer's own references, dropped at the end of the load.
    std::vector<MapRef<UVMap>> uvMaps;
    std::vector<MapRef<VertexColorMap>> colorMaps;
    u8 transparent = 0;

    LWObjectLayer() = default;
    ~LWObjectLayer();
    LWObjectLayer(const LWObjectLayer&) = delete;
    LWObjectLayer& operator=(const LWObjectLayer&) = delete;

    void freePolygons();
};

// The layer's colour map and UV map of a name; null when it has none.
VertexColorMap* findVertexColorMap(const LWObjectLayer* layer, const char* name);
UVMap* findUVMap(const LWObjectLayer* layer, const char* name);

// Opens name through a clone of fileSource, checks the form type and reads
// the object for scene's metascene. Null when the file is missing, is not
// an object file ("%s is not an LWO2 file!\n") or names an unknown surface.
LWObject* openLWO2(Stream* fileSource, const char* name, Scene* scene);
// Reads from the stream's position (just past the form type) to its end.
LWObject* loadLWO2(Scene* scene, Stream* stream, const char* name);
