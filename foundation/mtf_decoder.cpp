#include "foundation/mtf_decoder.h"

void MtfDecoder::reset()
{
    for (u32 k = 0; k < 256; ++k)
        table[k] = (u8)k;
    flag = 0;
}

void MtfDecoder::decode(const String& input, String& output)
{
    reset();
    const u32 n = input.data ? input.size : 0;
    output.resize(n);
    const u8* const in = reinterpret_cast<const u8*>(input.data);
    u8* const out = reinterpret_cast<u8*>(output.data);
    u32 f = 0;
    u32 i = 0;
    while (i < n) {
        if (in[i] == 0) {
            // Runs of zeros are most of the input: each repeats the front.
            u32 j = i + 1;
            while (j < n && in[j] == 0)
                ++j;
            const u8 y = table[0];
            for (u32 k = i; k < j; ++k)
                out[k] = y;
            i = j;
            f = 1;
            continue;
        }
        out[i] = step(table, f, in[i]);
        ++i;
    }
    flag = (i32)f;
}
