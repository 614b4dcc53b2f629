#include "tools/sarpack/mtf_encoder.h"

#include <cstring>

void MtfEncoder::encode(const u8* in, size_t n, u8* out)
{
    u8 table[256];
    for (u32 k = 0; k < 256; ++k)
        table[k] = (u8)k;
    u32 flag = 0;
    for (size_t i = 0; i < n; ++i) {
        const u8 y = in[i];
        u32 x = 0;
        while (table[x] != y)
            ++x;
        if (x == 1) {
            table[1] = table[0];
            table[0] = y;
        } else if (x >= 2) {
            std::memmove(table + flag + 1, table + flag, x - flag);
            table[flag] = y;
        }
        flag = x <= 1 ? 1 : 0;
        out[i] = (u8)x;
    }
}
