#include "tools/sarpack/bwt_encoder.h"

#include <divsufsort.h>

#include <cstdint>

bool bwtEncode(const u8* in, size_t n, u8* out, u32& primaryIndex)
{
    if (n > (size_t)INT32_MAX - 1)
        return false;
    if (n == 0) {
        primaryIndex = 0;
        return true;
    }
    // divbwt sorts the suffixes of in followed by a virtual sentinel, which
    // is exactly the layout the engine's inverse expects.
    const saidx_t p = divbwt(in, out, nullptr, (saidx_t)n);
    if (p < 0)
        return false;
    primaryIndex = (u32)p;
    return true;
}
