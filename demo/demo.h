// The demo player's single object. It owns the parsed demo script: the
// events' string arguments point into the tokenizer's text, so both live
// until the demo is destroyed.
#pragma once

#include "demo/script_event.h"
#include "foundation/script_tokenizer.h"

#include <memory>
#include <vector>

class Engine;

// The demo object as far as the script reader needs it; the player adds
// the rest.
class Demo {
public:
    explicit Demo(Engine* engine)
        : engine(engine)
    {
    }
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    Engine* engine;
    std::vector<ScriptEvent> events;
    std::unique_ptr<ScriptTokenizer> script; // "scene.scr", loaded

    // Appends the events of the loaded script; false on a parse error (the
    // events before it stay) or when no script is set.
    bool parseSceneScript();
};
