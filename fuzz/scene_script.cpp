// Fuzz target for the text-script reader and the demo script parser.
// Reaches: the tokenizer's transform (quotes, comments, separator bytes,
// line ends), loading a second script over the first, readInt, readFloat,
// readTime and lineNumber on arbitrary tokens and past the end, and
// Demo::parseSceneScript with both of its errors shown as message boxes.
// Checks: every string argument of every event is a readable text inside
// the script, and line numbers never go back or beyond the last line.
#include "demo/demo.h"
#include "demo/script_event.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/script_tokenizer.h"
#include "foundation/stream.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

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

volatile uint64_t sink;

const ScriptKeyword* keywordOf(i32 id)
{
    for (const ScriptKeyword* k = scriptKeywords; k->name; ++k)
        if (k->id == id)
            return k;
    return nullptr;
}

void checkEvents(const Demo& demo)
{
    const ScriptTokenizer& script = *demo.script;
    uint64_t sum = 0;
    i32 previous = 0;
    for (const ScriptEvent& e : demo.events) {
        const ScriptKeyword* k = keywordOf(e.id);
        if (!k || e.time < previous)
            std::abort();
        previous = e.time;
        for (u32 i = 0; i < k->argumentCount(); ++i) {
            if (k->argumentKind(i) != kScriptString) {
                sum += (u32)e.args[i].integer;
                continue;
            }
            const char* t = e.args[i].text;
            if (t < script.text || t > script.text + script.length)
                std::abort();
            sum += std::strlen(t);
        }
    }
    sink = sum;
}

void readRawTokens(ScriptTokenizer& tokens, unsigned pick)
{
    uint64_t sum = 0;
    int line = tokens.lineNumber();
    for (int extra = 0; extra < 3; pick++) {
        switch (pick % 5) {
        case 0: sum += std::strlen(tokens.nextToken()); break;
        case 1: sum += (unsigned)tokens.readInt(); break;
        case 2: sum += (uint64_t)(tokens.readFloat() != 0.0f); break;
        case 3: sum += (uint64_t)(tokens.readTime() > 0.0f); break;
        default: sum += (unsigned)tokens.readInt(); sum += std::strlen(tokens.nextToken()); break;
        }
        const int now = tokens.lineNumber();
        if (now < line || now > tokens.lineCount + 1)
            std::abort();
        line = now;
        if (tokens.atEnd())
            ++extra; // a few reads past the end as well
    }
    sink = sum;
}

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

    Demo demo(nullptr);
    demo.script = std::make_unique<ScriptTokenizer>(&stream);
    if (!demo.script->load("scene.scr"))
        std::abort();
    demo.parseSceneScript();
    checkEvents(demo);

    // The same bytes as raw tokens, loaded twice over the same tokenizer.
    ScriptTokenizer tokens(&stream);
    const unsigned pick = size ? data[size - 1] : 0;
    for (int pass = 0; pass < 2; ++pass) {
        if (!tokens.load("raw"))
            std::abort();
        readRawTokens(tokens, pick + pass);
    }

    platform::clearRecordedMessageBoxes();
    return 0;
}
