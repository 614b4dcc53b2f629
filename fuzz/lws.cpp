// Fuzz target for the scene-file reader.
// Reaches: the tokeniser (quotes, control and high bytes), the header
// checks, the counting and main passes with every scene and item keyword,
// name joining, motion and envelope blocks with any counts, item ids,
// anti-portal replacement, plug-in blocks and sound comments.
// Checks: the token state is cleared afterwards, parent chains end (the
// reader refuses references that close a loop), and every channel
// evaluates.
#include "foundation/diagnostics.h"
#include "foundation/stream.h"
#include "lightwave/lws_reader.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/scene.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

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
    InputStream stream(data, size);
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
