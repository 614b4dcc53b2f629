// Fuzz target for the key-binding script parser. Reaches: keysets, every
// event type with its numbers, sound names, object layers and surface
// colours, each parse error shown as a message box, then a few frames of
// dispatch with keys taken from the input.
// Checks: every bound layer and surface is one of the metascene's.
#include "demo/key_bindings.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/script_tokenizer.h"
#include "foundation/stream.h"
#include "lightwave/lw_object.h"
#include "lightwave/meta_scene.h"
#include "materials/surface.h"
#include "media/input.h"
#include "scene/mesh.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The input as the one content of a stream, whatever name is opened.
class InputStream : public Stream {
public:
    InputStream(const uint8_t* data, size_t n)
        : data(data), n((u32)n)
    {
    }
    Stream* clone() override { return new InputStream(data, n); }
    bool exists(const char*) override { return true; }
    bool open(const char*) override
    {
        if (isOpen)
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

class StubMesh : public Mesh {
public:
    StubMesh() : Mesh(nullptr, nullptr) {}
    bool prepare() override { return true; }
    void updateBounds() override {}
    void render(double, Object*, Node*, i32) override {}
    const D3DVECTOR* points() const override { return nullptr; }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    closeLog(); // parse errors would otherwise grow "nga.out" without end
    diagnosticsLevel = 2;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    InputStream stream(data, size);
    MetaScene meta(nullptr, "meta");
    auto* lwo = new LWObject(&meta, "obj.lwo");
    Mesh* layer = new StubMesh;
    lwo->layers = {nullptr, layer};
    meta.lwObjects.push_back(lwo);
    Surface* surface = new Surface(nullptr, "obj.lwo@paint");
    meta.surfaces.push_back(surface);

    ScriptTokenizer script(&stream);
    if (!script.load("inputHandler.scr"))
        std::abort();
    KeyBindings bindings(nullptr, nullptr);
    bindings.parse(script, &meta);
    for (const KeyBindings::Keyset& k : bindings.keysets)
        for (const KeyBindings::Event& e : k.events) {
            for (Mesh* m : e.layers)
                if (m != layer)
                    std::abort();
            for (const KeyBindings::SurfaceColor& s : e.surfaces)
                if (s.surface != surface)
                    std::abort();
        }

    Input input;
    for (size_t i = 0; i < size && i < 64; ++i) {
        input.keys[data[i]] = u8(data[i] & 1);
        bindings.activeKeyset = i32(i % 3) - 1;
        bindings.dispatch(input, double(data[i]) / 64.0);
    }
    platform::clearRecordedMessageBoxes();
    return 0;
}
