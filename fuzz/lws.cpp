// Fuzz target for the scene-file reader.
// Reaches: the tokeniser (quotes, control and high bytes), the header
// checks, the counting and main passes with every scene and item keyword,
// name joining, motion and envelope blocks with any counts, item ids,
// anti-portal replacement, plug-in blocks and sound comments.
// Checks: the token state is cleared afterwards, parent chains end (the
// reader refuses references that close a loop), and every channel
// evaluates.
#include "foundation/diagnostics.h"
#include "foundation/memory_stream.h"
#include "lightwave/lws_reader.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/scene.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

volatile float sink;

void check(std::vector<Node*>& nodes)
{
    for (Node* n : nodes) {
        size_t steps = 0;
        for (Node* p = n; p; p = p->parent)
            if (++steps > nodes.size() + 1)
                std::abort();
        for (AnimatedValue& v : n->channels)
            for (double t : {-3.0, 0.0, 0.7, 1e6})
                sink = v.valueAt(t);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    diagnosticsLevel = 0;
    MemoryStream stream;
    stream.anyFile.emplace((const char*)data, size);
    Scene scene(nullptr);
    loadLWS("fuzz.lws", &scene, &stream, nullptr, 0.0f, 1.0f);
    if (scene.tokens != nullptr || scene.tokenCount != 0)
        std::abort();
    std::vector<Node*> nodes(scene.objects.begin(), scene.objects.end());
    nodes.insert(nodes.end(), scene.lights.begin(), scene.lights.end());
    nodes.insert(nodes.end(), scene.cameras.begin(), scene.cameras.end());
    check(nodes);
    return 0;
}
