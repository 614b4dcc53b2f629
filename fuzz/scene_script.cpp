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
#include "foundation/memory_stream.h"
#include "foundation/script_tokenizer.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

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
    MemoryStream stream;
    stream.anyFile.emplace((const char*)data, size);

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
