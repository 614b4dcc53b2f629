// What one metascene's textures and the pictures decoded for them may take
// in texels, counted as they are made. A texture build or a picture the
// budget cannot pay for is refused with a log line, and its texture shows
// nothing; what is freed is given back. Used on the main thread only.
#pragma once

#include "foundation/engine_limits.h"
#include "foundation/types.h"

class TexelBudget {
public:
    explicit TexelBudget(u64 limit = limits::metaSceneTexels) : limit(limit) {}

    // Takes count texels for the item described by what (a texture or
    // picture name); false, logged, when they would pass the limit.
    bool take(u64 count, const char* what);
    void giveBack(u64 count);

    u64 limit;
    u64 spent = 0;
    u32 refused = 0; // items refused so far; only the first few are logged
};
