// Plain renderings of the archive decoder's stages, the fuzz targets'
// oracles: each is the algorithm step by step, with nothing fused or
// unrolled. They are left out of the coverage the fuzzer steers by: their
// comparisons say nothing about the code under test, and tracing them would
// cost as much again as that code.
#pragma once

#include "foundation/byte_buffer.h"
#include "foundation/frequency_model.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace reference {

#define REFERENCE_CODE __attribute__((no_sanitize("coverage")))

using Bytes = std::vector<u8>;

inline void check(bool ok)
{
    if (!ok)
        std::abort();
}

inline bool same(const String& s, const Bytes& b)
{
    const u32 n = s.data ? s.size : 0;
    return n == b.size() && (n == 0 || std::memcmp(s.data, b.data(), n) == 0);
}

inline String stringOf(const u8* p, size_t n)
{
    String s;
    s.resize((u32)n);
    if (n)
        std::memcpy(s.data, p, n);
    return s;
}

// False when the end symbol would come only after more than maxSize bytes.
REFERENCE_CODE inline bool rangeDecode(const u8* src, u32 n, u32 maxSize, Bytes& out)
{
    u32 pos = 0;
    auto next = [&]() -> u8 {
        const u8 b = pos < n ? src[pos] : 0xFF;
        ++pos;
        return b;
    };
    u8 buffer = next();
    buffer = next();
    u32 low = buffer >> 1, range = 0x80;
    FrequencyModel m;
    for (;;) {
        const u32 total = m.total;
        while (range <= 0x800000) {
            low = (low << 8) | ((buffer & 1u) << 7);
            buffer = next();
            low |= buffer >> 1;
            range <<= 8;
        }
        const u32 help = range / total;
        u32 t = low / help;
        if (t >= total)
            t = total - 1;
        const u32 s = m.find(t);
        if (s == 256)
            return true;
        if (out.size() == maxSize)
            return false;
        out.push_back((u8)s);
        const u32 c = m.cumLow(s), f = m.freq[s];
        low -= help * c;
        range = c + f < total ? help * f : range - help * c;
        m.update(s);
    }
}

REFERENCE_CODE inline Bytes mtf(const u8* in, size_t n)
{
    u32 table[256];
    for (u32 k = 0; k < 256; ++k)
        table[k] = k;
    u32 flag = 0;
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        const u32 x = in[i];
        u32 y;
        if (x == 0) {
            y = table[0];
        } else if (x == 1) {
            std::swap(table[0], table[1]);
            y = table[0];
        } else {
            y = table[x];
            for (u32 k = x; k > flag; --k)
                table[k] = table[k - 1];
            table[flag] = y;
        }
        flag = x <= 1;
        out[i] = (u8)y;
    }
    return out;
}

// False when the walk leaves the input.
REFERENCE_CODE inline bool inverseBwt(const u8* L, u32 n, i32 P, Bytes& out)
{
    u32 start[256] = {};
    for (u32 i = 0; i < n; ++i)
        ++start[L[i]];
    for (u32 c = 0, sum = 0; c < 256; ++c) {
        const u32 k = start[c];
        start[c] = sum;
        sum += k;
    }
    std::vector<u32> T(n);
    for (u32 i = 0; i < n; ++i)
        T[i] = start[L[i]]++;
    out.assign(n, 0);
    i32 p = 0;
    for (u32 i = n; i-- > 0;) {
        if ((u32)p >= n)
            return false;
        out[i] = L[p];
        p = (i32)T[p];
        if (p < P)
            p += 1;
    }
    return true;
}

} // namespace reference
