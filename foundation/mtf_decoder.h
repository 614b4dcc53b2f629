// The move-to-front stage of a packed archive entry. An index of 0 or 1
// is treated specially: after one of them the next symbol moves only to
// position 1, so that a run of one symbol does not push the previous one
// back.
#pragma once

#include "foundation/byte_string.h"

#include <cstring>

class MtfDecoder {
public:
    i32 flag = 0;   // 1 when the previous index was 0 or 1
    u8 table[256]; // symbols in their current order; bytes keep moves cheap

    // output gets the input's length; input and output may be one string.
    void decode(const String& input, String& output);

    // The table in its starting order, flag 0.
    void reset();

    // One index through a table (t, with flag f): the symbol it stands for.
    // Shared with the range decoder, which can run this stage on the fly.
    static u8 step(u8* t, u32& f, u32 x)
    {
        if (x == 0) {
            f = 1;
            return t[0];
        }
        const u8 y = t[x];
        if (x == 1) {
            t[1] = t[0];
            t[0] = y;
            f = 1;
            return y;
        }
        const u32 moved = x - f;
        if (moved < 8) {
            // Shift t[f .. x - 1] up by one inside one 8-byte word (the
            // table has 256 bytes, so t + f + 8 stays inside).
            u64 word;
            std::memcpy(&word, t + f, 8);
            const u64 keep = ~0ull << (8 * moved) << 8; // the bytes above x
            word = (word & keep) | ((word << 8) & ~keep & ~0xFFull) | y;
            std::memcpy(t + f, &word, 8);
        } else {
            std::memmove(t + f + 1, t + f, moved);
            t[f] = y;
        }
        f = 0;
        return y;
    }
};
