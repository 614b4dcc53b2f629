// The forward Burrows-Wheeler transform of the archive's second stage. The
// engine inverts it with the end of the text sorting below every byte: the
// last column leaves the end-of-text row out, and the primary index is that
// row's position (1..n for a non-empty text, 0 for the empty one).
#pragma once

#include "foundation/types.h"

#include <cstddef>

// out receives n bytes. False when n does not fit the suffix sorter or it
// runs out of memory.
bool bwtEncode(const u8* in, size_t n, u8* out, u32& primaryIndex);
