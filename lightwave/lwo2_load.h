// What the chunk readers of one object-file load share: the per-load
// envelope, clip and tag tables and the layers read so far. Internal to the
// reader (lwo2_reader.cpp, lwo2_surfaces.cpp).
#pragma once

#include "lightwave/lwo2_reader.h"

#include <array>
#include <memory>
#include <vector>

class Engine;
class Envelope;
class EnvelopeOwner;
class MetaScene;
class Surface;
class Texture;

struct Lwo2Load {
    static constexpr u32 MAXENVS = 2048;
    static constexpr u32 MAXTEXS = 2048;
    static constexpr u32 maxTags = 2048;

    Scene* scene;
    MetaScene* meta;
    Engine* engine;
    Stream* stream; // the file's stream: clips open their images through it
    String fileName;
    size_t fileBytes = 0;
    size_t mapBytes = 0; // the vertex maps' memory so far
    EnvelopeOwner* envelopes; // the metascene keeps it, even when the load fails
    std::array<Envelope*, MAXENVS> envelopeTable{};
    std::array<Texture*, MAXTEXS> clipTable{};
    std::vector<Surface*> tags;
    std::vector<std::unique_ptr<LWObjectLayer>> layers;

    // Table entries; an index outside a table means none.
    Envelope* envelope(u32 index) const { return index < MAXENVS ? envelopeTable[index] : nullptr; }
    Texture* clip(i64 index) const { return index >= 0 && index < MAXTEXS ? clipTable[(size_t)index] : nullptr; }

    // The chunk readers of the second half. readSurface is false when the
    // surface was not created by TAGS: the load then ends with null.
    bool readSurface(Lwo2Cursor chunk);
    void readClip(Lwo2Cursor chunk);
    void readEnvelope(Lwo2Cursor chunk);
};

// The "Error" box of a failed load (diagnostics level 1 or more).
void reportLwo2Error(const char* format, const char* a, const char* b = nullptr);

// A path whose second character is ':' gets a '/' after the colon.
String withDriveSlash(const String& path);
