#include "foundation/range_decoder.h"

#include "foundation/frequency_model.h"
#include "foundation/mtf_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

// ceil(2^64 / d) for every total the model can reach (257 .. 16383). The
// high half of range * m is then exactly range / d for any 32-bit range
// (the error term stays below 2^-32 while the fraction it could carry over
// is at least 1/d), so the decoder needs no division at all.
struct Reciprocals {
    u64 m[FrequencyModel::kRescaleTotal];
    Reciprocals()
    {
        m[0] = m[1] = 0;
        for (u32 d = 2; d < FrequencyModel::kRescaleTotal; ++d)
            m[d] = ~0ull / d + 1;
    }
};

const u64* reciprocals()
{
    static const Reciprocals table;
    return table.m;
}

inline u32 divide(u32 n, u64 reciprocal)
{
    return (u32)(((unsigned __int128)n * reciprocal) >> 64);
}

// The whole decode runs in this one function so that the coder state, the
// model's arrays and the sink stay in registers. The model object keeps the
// frequencies and the tree; only its total lives in a local between the
// rare halvings, which go through the model itself. WithMtf runs the
// move-to-front stage on each byte as it comes, sparing a pass over it.
template <bool WithMtf>
bool run(RangeDecoder& self, ByteBuffer* src, ByteBuffer& sink, u32 maxSize, MtfDecoder* mtf)
{
    self.source = src;
    u8 order[256];
    u32 mtfFlag = 0;
    if (WithMtf) {
        mtf->reset();
        std::memcpy(order, mtf->table, sizeof order);
    }

    // The source is read through an index counting up to 0 from its end;
    // past the end it yields 0xFF.
    const u8* const in = reinterpret_cast<const u8*>(src->bytes.data);
    const u32 inSize = in ? src->bytes.size : 0;
    const u8* const inEnd = in + inSize;
    ptrdiff_t at = (ptrdiff_t)src->pos - (ptrdiff_t)inSize;
    auto next = [&]() -> u32 {
        const u32 b = at < 0 ? inEnd[at] : 0xFFu;
        ++at;
        return b;
    };

    // x is the coded stream byte-aligned: 2 * low + (buffer & 1). Taking a
    // byte is then x = (x << 8) | byte, and low is bits 1..32 of x (bits
    // above them are garbage nobody reads).
    (void)next(); // the first coded byte carries nothing
    u64 x = next();
    u32 rng = 0x80;
    u32 hlp = 0;

    constexpr u32 inc = 1;
    FrequencyModel model(FrequencyModel::kSymbols, inc);
    u32* const freq = model.freq;
    u32* const tree = model.tree;
    u32 total = model.total;

    // Decoded bytes go straight into the sink's capacity; its size is set
    // once at the end, and growth follows the String rule as if it had been
    // resized byte by byte.
    String& out = sink.bytes;
    u8* w = reinterpret_cast<u8*>(out.data) + std::min(sink.pos, out.size);
    u8* wLimit = reinterpret_cast<u8*>(out.data) + std::min(out.data ? out.capacity : 0u, maxSize);
    bool ended = false;

    const u64* const recip = reciprocals();
    for (;;) {
        while (rng <= 0x800000) {
            x = (x << 8) | next();
            rng <<= 8;
        }
        // t = low / help is only ever compared with cumulative frequencies:
        // cum <= t exactly when help * cum <= low, and those products stay
        // below range (at most 2^31). So the search runs on low itself and
        // what it leaves over is low - help * cumLow, the next low.
        hlp = divide(rng, recip[total]);
        const u32 lo = (u32)(x >> 1);
        // tree[256] is the sum of the 256 byte frequencies: anything at or
        // above it is the end symbol (the clamp of t to total - 1 included),
        // and below it the descent stays inside 1..255 without bounds tests.
        if (lo >= hlp * tree[256]) {
            ended = true;
            break;
        }
        if (w == wLimit) {
            const u32 wp = (u32)(w - reinterpret_cast<u8*>(out.data));
            if (wp >= maxSize)
                break;
            out.size = wp;
            out.resize(wp + 1);
            w = reinterpret_cast<u8*>(out.data) + wp;
            wLimit = reinterpret_cast<u8*>(out.data) + std::min(out.capacity, maxSize);
        }

        // The model's update walks i = s + 1, i += lowbit(i): exactly the
        // nodes ((s >> b) + 1) << b for each clear bit b of s (all within
        // 1..256). Nine independent adds, of inc or 0, replace a loop whose
        // length changes with every symbol; for byte 0 they are constants.
        // Halving, once in thousands of symbols, is left to the model.
        auto update = [&](u32 s) {
            if (total + inc >= FrequencyModel::kRescaleTotal) {
                model.total = total;
                model.update(s);
                total = model.total;
                return;
            }
            freq[s] += inc;
#pragma GCC unroll 9
            for (u32 b = 0; b < 9; ++b)
                tree[((s >> b) + 1) << b] += ((s >> b) & 1) ? 0 : inc;
            total += inc;
        };

        // Below symbol 256 the interval never reaches the top of the table,
        // so the new range is always help * freq. Byte 0, most of what the
        // move-to-front stage emits, needs no descent and leaves low as is.
        const u32 f0 = freq[0];
        if (lo < hlp * f0) {
            if (WithMtf) {
                *w++ = order[0];
                mtfFlag = 1;
            } else {
                *w++ = 0;
            }
            rng = hlp * f0;
            update(0);
            continue;
        }
        u32 s = 0;
        u32 r = lo;
#pragma GCC unroll 8
        for (u32 mask = 128; mask != 0; mask >>= 1) {
            const u32 k = s | mask;
            const u32 v = hlp * tree[k];
            const bool take = r >= v;
            s = take ? k : s;
            r = take ? r - v : r;
        }
        *w++ = WithMtf ? MtfDecoder::step(order, mtfFlag, s) : (u8)s;
        x -= (u64)(lo - r) << 1;
        rng = hlp * freq[s];
        update(s);
    }

    self.low = (u32)(x >> 1);
    self.range = rng;
    self.help = hlp;
    self.buffer = at - 1 < 0 ? inEnd[at - 1] : 0xFF; // the last byte taken
    src->pos = (u32)(at + (ptrdiff_t)inSize);
    out.resize((u32)(w - reinterpret_cast<u8*>(out.data)));
    sink.pos = 0;
    self.source = nullptr;
    if (WithMtf) {
        std::memcpy(mtf->table, order, sizeof order);
        mtf->flag = (i32)mtfFlag;
    }
    return ended;
}

} // namespace

bool RangeDecoder::decode(ByteBuffer* src, ByteBuffer& sink, u32 maxSize, MtfDecoder* mtf)
{
    if (!src)
        throw Error();
    return mtf ? run<true>(*this, src, sink, maxSize, mtf) : run<false>(*this, src, sink, maxSize, nullptr);
}
