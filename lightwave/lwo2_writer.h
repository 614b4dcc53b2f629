// Serialises object layers, their surfaces, the images the surfaces' layers
// use and the envelopes that animate surface values into an LWO2 byte
// image. The file is built in a growing buffer with big-endian primitives
// and back-patched chunk lengths; the finished bytes go to the caller.
// The primitives are public: content tools build their own chunks with them.
#pragma once

#include "foundation/types.h"

#include <vector>

class DynamicValue;
class Envelope;
class LWObject;
class Mesh;
class Surface;
class Texture;

class Lwo2Writer {
public:
    std::vector<u8> buffer; // size() is the end of what was written
    u32 position = 0;
    const char* fileName = "test.lwo"; // recorded only; nothing is written to disk

    Lwo2Writer() { buffer.reserve(50000); }

    void putBytes(const void* bytes, u32 n);
    void putU1(u32 value);
    void putU2(u32 value);
    void putU4(u32 value);
    void putF4(float value);
    // A four-character id as it is spelled.
    void putID4(const char* id) { putBytes(id, 4); }
    // Text, terminator and a pad byte when that count is odd.
    void putS0(const char* text);
    // Returns the bytes written: 2 below 0xFF00, else 4 (0xFF000000 | index).
    u32 putVX(u32 index);

    // Id, a zero length to patch and the type when given; returns where the
    // length field is.
    u32 beginChunk(const char* id, const char* type = nullptr);
    void endChunk(u32 lengthPosition);
    u32 beginSubChunk(const char* id, const char* extra = nullptr);
    void endSubChunk(u32 lengthPosition);

    // The whole file: layer n of it is meshes[n] when that is a PolyMesh
    // (others are skipped); polygon surface indices refer to surfaces.
    std::vector<u8> write(const std::vector<Mesh*>& meshes, const std::vector<Surface*>& surfaces);
    // A loaded object file: its layers and its tag table.
    std::vector<u8> write(const LWObject& object);

    // The tag part of a "file@tag" surface key (the whole name without '@').
    static const char* tagOf(const Surface& surface);

private:
    void writeLayer(u32 number, const Mesh& mesh);
    void writeClips(const std::vector<Texture*>& images);
    void writeEnvelope(const Envelope& envelope);
    void writeSurface(const Surface& surface, const std::vector<Texture*>& images);
    void putEnvelopeRef(const DynamicValue* source);
};
