// Helper processes for the effect compiler's front end. glslang and the
// SPIR-V optimiser run there, on a budget of processor time, memory and wall
// time per request: a crash, a runaway or a front end that never returns
// costs the effect, not the program, and the caller's wait ends at once when
// the program is asked to end (SIGINT, SIGTERM). A helper is forked on first
// need and kept for the requests that follow, as a fork of the whole program
// costs more than most compiles.
#pragma once

#include <string>

namespace platform::d3dx9 {

enum class HelperOutcome {
    Done,         // reply holds what the work returned
    Failed,       // the helper died or answered nonsense
    OverBudget,   // it ran out of processor time or wall time
    Interrupted,  // the program is ending; no work was done or it was stopped
};

// What runs in the helper: the reply to one request. Called in the forked
// process, whose only thread is the one that forked it.
using HelperWork = std::string (*)(const std::string& request);

// Runs work on request in a helper and waits for the reply. When no helper
// can be made, the work runs here. Any thread may call; as many helpers run
// at once as callers wait, and two are kept between requests.
HelperOutcome runInHelper(HelperWork work, const std::string& request, std::string& reply);

// The message of an outcome other than Done, in D3DX's shape.
const char* helperOutcomeMessage(HelperOutcome outcome);

} // namespace platform::d3dx9
