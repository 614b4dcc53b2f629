#include "foundation/frequency_model.h"

FrequencyModel::FrequencyModel(u32 symbols, u32 inc)
    : n(symbols), increment(inc), topMask(1), total(0)
{
    while (topMask * 2 <= n)
        topMask *= 2;
    freq = new u32[2 * n];
    tree = freq + n - 1; // tree[n] is the last element of the block
    for (u32 s = 0; s < n; ++s)
        freq[s] = increment;
    rebuild();
}

FrequencyModel::~FrequencyModel()
{
    delete[] freq;
}

void FrequencyModel::rebuild()
{
    total = 0;
    for (u32 step = 1; step <= n; step *= 2) {
        for (u32 i = step; i <= n; i += 2 * step) {
            tree[i] = freq[i - 1];
            total += freq[i - 1];
            for (u32 k = step / 2; k != 0; k /= 2)
                tree[i] += tree[i - k];
        }
    }
}

void FrequencyModel::halve()
{
    for (u32 s = 0; s < n; ++s)
        freq[s] = (freq[s] + 1) >> 1;
    rebuild();
}
