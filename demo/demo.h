// The demo player's single object. It owns the parsed demo script: the
// events' string arguments point into the tokenizer's text, so both live
// until the demo is destroyed.
#pragma once

#include "demo/script_event.h"
#include "foundation/script_tokenizer.h"
#include "scene/scene.h"

#include <functional>

#include <memory>
#include <vector>

class Engine;

// The demo object as far as the script reader needs it; the player adds
// the rest.
class Demo : public LoadingProgress {
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

    // The loading bar at fraction (0 to 1) of the metascript being loaded.
    // Draws nothing yet; the probe (a test seam) sees every fraction.
    void drawLoadingProgress(float fraction) override;
    std::function<void(float)> loadingProgressProbe;

    // Appends the events of the loaded script; false on a parse error (the
    // events before it stay) or when no script is set.
    bool parseSceneScript();
};
