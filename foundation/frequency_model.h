// The adaptive order-0 symbol model of the archive coder: frequencies with
// a Fenwick tree over them, halved when their total reaches 16384. The
// archive decoder and the archive writer share it, so both adapt the same.
#pragma once

#include "foundation/types.h"

class FrequencyModel {
public:
    static constexpr u32 kSymbols = 257; // the byte values and the end symbol
    static constexpr u32 kEndSymbol = 256;
    static constexpr u32 kRescaleTotal = 16384;

    explicit FrequencyModel(u32 symbols = kSymbols, u32 increment = 1);
    FrequencyModel(const FrequencyModel&) = delete;
    FrequencyModel& operator=(const FrequencyModel&) = delete;
    ~FrequencyModel();

    u32 n;
    u32 increment;
    u32 topMask; // the largest power of two not above n
    u32* freq;   // freq[0 .. n-1]
    u32* tree;   // tree[1 .. n], in the same allocation as freq
    u32 total;

    void rebuild();
    // Sum of freq[0] .. freq[s - 1].
    u32 cumLow(u32 s) const
    {
        u32 c = tree[s + 1] - freq[s];
        for (u32 j = (s + 1) & s; j != 0; j &= j - 1)
            c += tree[j];
        return c;
    }
    // The symbol s with cumLow(s) <= t < cumLow(s) + freq[s].
    u32 find(u32 t) const
    {
        u32 pos = 0;
        for (u32 mask = topMask; mask != 0; mask >>= 1) {
            const u32 k = pos | mask;
            if (k <= n && t >= tree[k]) {
                pos = k;
                t -= tree[k];
            }
        }
        return pos;
    }
    void update(u32 s)
    {
        freq[s] += increment;
        for (u32 i = s + 1; i <= n; i += i & (0u - i))
            tree[i] += increment;
        total += increment;
        if (total >= kRescaleTotal)
            halve();
    }

private:
    void halve();
};
