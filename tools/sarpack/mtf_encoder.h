// Move-to-front coding of the archive's second stage (type bit 1). The
// table update is the engine decoder's own variant: a symbol found at index
// 0 or 1 only reaches the front after a second hit, so every index is the
// symbol's position in a table that changes exactly as the decoder's.
#pragma once

#include "foundation/types.h"

#include <cstddef>

class MtfEncoder {
public:
    // out receives n indices; in and out may not overlap.
    static void encode(const u8* in, size_t n, u8* out);
};
