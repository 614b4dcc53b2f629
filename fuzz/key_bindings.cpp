// Fuzz target for the key-binding script parser. Reaches: keysets, every
// event type with its numbers, sound names made into silent channels (one
// per file, up to the bound), object layers and surface colours, each parse
// error shown as a message box, then a few frames of dispatch with keys
// taken from the input.
// Checks: every bound layer and surface is one of the metascene's.
#include "demo/key_bindings.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/memory_stream.h"
#include "foundation/script_tokenizer.h"
#include "foundation/stream.h"
#include "lightwave/lw_object.h"
#include "lightwave/meta_scene.h"
#include "materials/surface.h"
#include "media/input.h"
#include "media/sound.h"
#include "scene/mesh.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

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
    MemoryStream stream;
    stream.anyFile.emplace((const char*)data, size);
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
    Sound sound; // silent: its channels read nothing
    KeyBindings bindings(&sound, &stream);
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
