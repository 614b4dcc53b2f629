// The three decoding stages over arbitrary bytes, each checked against a
// plain rendering of its algorithm. Input: i32 primary index, u32 bound on
// the decoded length (taken modulo 2^20), then the coded bytes. The stages
// also run on the coded bytes directly, so the transforms see arbitrary
// input and not only what the range decoder makes.
#include "foundation/byte_buffer.h"
#include "foundation/frequency_model.h"
#include "foundation/inverse_bwt.h"
#include "foundation/mtf_decoder.h"
#include "foundation/range_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<u8>;

void check(bool ok)
{
    if (!ok)
        std::abort();
}

bool same(const String& s, const Bytes& b)
{
    const u32 n = s.data ? s.size : 0;
    return n == b.size() && (n == 0 || std::memcmp(s.data, b.data(), n) == 0);
}

String stringOf(const u8* p, size_t n)
{
    String s;
    s.resize((u32)n);
    if (n)
        std::memcpy(s.data, p, n);
    return s;
}

bool refRangeDecode(const u8* src, u32 n, u32 maxSize, Bytes& out)
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

Bytes refMtf(const String& in)
{
    u32 table[256];
    for (u32 k = 0; k < 256; ++k)
        table[k] = k;
    u32 flag = 0;
    const u32 n = in.data ? in.size : 0;
    Bytes out(n);
    for (u32 i = 0; i < n; ++i) {
        const u32 x = (u8)in.data[i];
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

bool refInverseBwt(const String& in, i32 P, Bytes& out)
{
    const u32 n = in.data ? in.size : 0;
    const u8* L = reinterpret_cast<const u8*>(in.data);
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

void transforms(const String& input, i32 primary)
{
    MtfDecoder mtf;
    String moved;
    mtf.decode(input, moved);
    check(same(moved, refMtf(input)));

    String restored;
    Bytes expected;
    const bool ok = inverseBwt(moved, primary, restored);
    check(ok == refInverseBwt(moved, primary, expected));
    check(!ok || same(restored, expected));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8)
        return 0;
    i32 primary;
    u32 bound;
    std::memcpy(&primary, data, 4);
    std::memcpy(&bound, data + 4, 4);
    bound &= (1u << 20) - 1;
    const u8* coded = data + 8;
    const u32 n = (u32)(size - 8);

    ByteBuffer source;
    source.bytes = stringOf(coded, n);
    ByteBuffer sink;
    RangeDecoder decoder;
    const bool ended = decoder.decode(source, sink, bound);
    Bytes expected;
    check(ended == refRangeDecode(coded, n, bound, expected));
    check(same(sink.bytes, expected));
    check(sink.bytes.size <= RangeDecoder::maxSymbols(source.pos));

    transforms(sink.bytes, primary);
    transforms(source.bytes, primary);
    return 0;
}
