// The archive decoder's stages written straight from the algorithm's
// description, step by step with nothing fused or unrolled: the oracles of
// the decoder's tests and fuzz targets. Under the fuzzer they are left out
// of the coverage it steers by: their comparisons say nothing about the
// code under test, and tracing them would cost as much again as that code.
#pragma once

#include "foundation/frequency_model.h"

#include <numeric>
#include <optional>
#include <utility>
#include <vector>

#if defined(__clang__)
#define REFERENCE_CODE __attribute__((no_sanitize("coverage")))
#else
#define REFERENCE_CODE
#endif

namespace archive_reference {

using Bytes = std::vector<u8>;

struct RefDecode {
    Bytes out;
    bool ended = false;
    u32 consumed = 0;
    u32 low = 0, range = 0, help = 0;
    u8 buffer = 0;
};

REFERENCE_CODE inline RefDecode refRangeDecode(const Bytes& src, u32 maxSize)
{
    RefDecode r;
    u32 pos = 0;
    auto next = [&]() -> u8 {
        const u8 b = pos < src.size() ? src[pos] : 0xFF;
        ++pos;
        return b;
    };
    u8 buffer = next();
    buffer = next();
    u32 low = buffer >> 1;
    u32 range = 0x80;
    u32 help = 0;
    FrequencyModel m;
    for (;;) {
        const u32 total = m.total;
        while (range <= 0x800000) {
            low = (low << 8) | ((buffer & 1u) << 7);
            buffer = next();
            low |= buffer >> 1;
            range <<= 8;
        }
        help = range / total;
        u32 t = low / help;
        if (t >= total)
            t = total - 1;
        const u32 s = m.find(t);
        if (s == 256) {
            r.ended = true;
            break;
        }
        if (r.out.size() == maxSize)
            break;
        r.out.push_back((u8)s);
        const u32 c = m.cumLow(s);
        const u32 f = m.freq[s];
        low -= help * c;
        range = c + f < total ? help * f : range - help * c;
        m.update(s);
    }
    r.consumed = pos;
    r.low = low;
    r.range = range;
    r.help = help;
    r.buffer = buffer;
    return r;
}

REFERENCE_CODE inline Bytes refMtf(const Bytes& in)
{
    u32 table[256];
    std::iota(table, table + 256, 0u);
    int flag = 0;
    Bytes out(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        const u32 x = in[i];
        u32 y;
        if (x == 0) {
            y = table[0];
        } else if (x == 1) {
            std::swap(table[0], table[1]);
            y = table[0];
        } else {
            y = table[x];
            for (u32 k = x; k > (u32)flag; --k)
                table[k] = table[k - 1];
            table[flag] = y;
        }
        flag = x <= 1 ? 1 : 0;
        out[i] = (u8)y;
    }
    return out;
}

REFERENCE_CODE inline std::optional<Bytes> refInverseBwt(const Bytes& L, i32 P)
{
    const u32 n = (u32)L.size();
    u32 start[256] = {};
    for (u8 c : L)
        ++start[c];
    for (u32 c = 0, sum = 0; c < 256; ++c) {
        const u32 k = start[c];
        start[c] = sum;
        sum += k;
    }
    std::vector<u32> T(n);
    for (u32 i = 0; i < n; ++i)
        T[i] = start[L[i]]++;
    Bytes out(n);
    i32 p = 0;
    for (u32 i = n; i-- > 0;) {
        if ((u32)p >= n)
            return std::nullopt;
        out[i] = L[p];
        p = (i32)T[p];
        if (p < P)
            p += 1;
    }
    return out;
}

} // namespace archive_reference
