#include "foundation/inverse_bwt.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

// A u32 work array. Large ones are walked at random, one dependent load per
// output byte, so they go on huge pages where the system offers them: the
// walk then misses the TLB far less often.
class WorkArray {
public:
    explicit WorkArray(u32 n)
    {
        const size_t bytes = (size_t)n * sizeof(u32);
        constexpr size_t kHuge = (size_t)2 << 20;
#ifdef __linux__
        if (bytes >= 2 * kHuge) {
            const size_t rounded = (bytes + kHuge - 1) & ~(kHuge - 1);
            block = std::aligned_alloc(kHuge, rounded);
            if (block)
                madvise(block, rounded, MADV_HUGEPAGE);
        }
#endif
        if (!block)
            block = std::malloc(bytes ? bytes : 1);
        if (!block)
            throw std::bad_alloc();
    }
    WorkArray(const WorkArray&) = delete;
    WorkArray& operator=(const WorkArray&) = delete;
    ~WorkArray() { std::free(block); }

    u32* data() const { return static_cast<u32*>(block); }

private:
    void* block = nullptr;
};

// T[i] = start[L[i]]++ in order of i, plus 1 where that falls below the
// primary index, handed to emit(i, T[i]). A run of one byte value would
// serialise on its counter, so the input is done as four quarters side by
// side, each quarter's counters starting where the earlier quarters end.
template <class Emit>
void buildTargets(const u8* L, u32 n, i64 P, Emit emit)
{
    constexpr u32 kWays = 4;
    const u32 len = n / kWays;
    u32 next[kWays][256] = {};
    for (u32 q = 0; q < kWays; ++q) {
        const u32 from = q * len;
        const u32 to = q + 1 == kWays ? n : from + len;
        for (u32 i = from; i < to; ++i)
            ++next[q][L[i]];
    }
    u32 sum = 0;
    for (u32 c = 0; c < 256; ++c) {
        for (u32 q = 0; q < kWays; ++q) {
            const u32 count = next[q][c];
            next[q][c] = sum;
            sum += count;
        }
    }
    auto one = [&](u32 q, u32 i) {
        u32 t = next[q][L[i]]++;
        t += (i64)t < P;
        emit(i, t);
    };
    for (u32 i = 0; i < len; ++i) {
        one(0, i);
        one(1, len + i);
        one(2, 2 * len + i);
        one(3, 3 * len + i);
    }
    for (u32 i = kWays * len; i < n; ++i)
        one(kWays - 1, i);
}

// Where the walk reads: target and byte packed in one word (one random
// access per step), or in two arrays for inputs of 2^24 bytes or more.
struct PackedSource {
    const u32* A;
    u32 step(u32 p, u8& b) const
    {
        const u32 v = A[p];
        b = (u8)v;
        return v >> 8;
    }
    void prefetch(u32 p) const { __builtin_prefetch(A + p); }
};

struct SplitSource {
    const u32* T;
    const u8* L;
    u32 step(u32 p, u8& b) const
    {
        b = L[p];
        return T[p];
    }
    void prefetch(u32 p) const
    {
        __builtin_prefetch(T + p);
        __builtin_prefetch(L + p);
    }
};

// The walk: p = 0, then output[i] = L[p], p = T[p] from the last byte to
// the first. T already carries the +1 for targets below the primary index.
// A primary index of n or more can lead p to n; Checked walks stop there.
template <bool Checked, class Source>
bool walkSerial(const Source& src, u32 n, u8* out)
{
    u32 p = 0;
    for (u32 i = n; i-- > 0;) {
        if (Checked && p >= n)
            return false;
        u8 b;
        p = src.step(p, b);
        out[i] = b;
    }
    return true;
}

// The serial walk waits for one cache miss per byte once the work array
// outgrows the cache. This walk cuts the chain at marker rows (every S-th
// row, counted from the primary index) and walks the pieces between markers
// on many lanes at once, so that their misses overlap; the pieces are then
// joined in walk order, which gives exactly the serial walk's bytes for any
// input. Only one row has two rows leading to it (the primary index, where
// the last step of a valid transform jumps back to) and it is a marker, so
// no row is walked twice and the scratch space always suffices; were it
// ever to run out, the caller would walk serially instead.
constexpr u32 kLanes = 32;
constexpr u32 kChunk = 4096;

struct Piece {
    u32 begin; // offset in the scratch bytes; the bytes are in output order
    u32 length;
    u32 end;   // the row after the last one walked
    i32 next;  // the piece continuing this one in another chunk, or -1
};

enum class Walk { Done, OutOfRange, GaveUp };

template <bool Checked, class Source>
Walk walkParallel(const Source& src, u32 n, u32 base, u32 shift, u8* out)
{
    const u32 mask = (1u << shift) - 1;
    const u32 markers = (n - base + mask) >> shift; // rows base, base + S, ... below n
    const u32 starts = markers + (base != 0);       // plus row 0 when it is no marker
    const size_t scratchSize = (size_t)n + (size_t)kLanes * kChunk;
    std::unique_ptr<u8[]> scratch(new u8[scratchSize]);
    u8* const tmp = scratch.get();
    size_t nextChunk = 0;
    std::vector<Piece> pieces(starts);
    pieces.reserve(starts + scratchSize / kChunk + 1);
    u32 nextStart = 0;
    auto startRow = [&](u32 id) { return id < markers ? base + (id << shift) : 0u; };
    auto isMarker = [&](u32 p) { return ((p - base) & mask) == 0; };

    // Lanes write downwards through their chunk, so each piece lies in
    // output order.
    u32 lp[kLanes];
    u8* lw[kLanes];
    u8* lfloor[kLanes];
    u8* ltop[kLanes]; // where the current piece began
    u32 lpiece[kLanes];
    u32 active = 0;
    while (active < kLanes && nextStart < starts) {
        if (nextChunk + kChunk > scratchSize)
            break;
        lfloor[active] = tmp + nextChunk;
        nextChunk += kChunk;
        lw[active] = ltop[active] = lfloor[active] + kChunk;
        lpiece[active] = nextStart;
        lp[active] = startRow(nextStart++);
        ++active;
    }

    auto close = [&](u32 k, u32 endRow, i32 next) {
        Piece& piece = pieces[lpiece[k]];
        piece.begin = (u32)(lw[k] - tmp);
        piece.length = (u32)(ltop[k] - lw[k]);
        piece.end = endRow;
        piece.next = next;
    };

    while (active != 0) {
        for (u32 k = 0; k < active;) {
            u8 b;
            const u32 p = src.step(lp[k], b);
            *--lw[k] = b;
            lp[k] = p;
            // A prefetch retires at once, unlike the load it stands for, so
            // more lanes' misses fit in flight.
            src.prefetch(p);
            const bool atEnd = isMarker(p) || (Checked && p >= n);
            if (!atEnd && lw[k] != lfloor[k]) {
                ++k;
                continue;
            }
            if (atEnd) {
                close(k, p, -1);
                if (nextStart == starts) {
                    --active;
                    lp[k] = lp[active];
                    lw[k] = lw[active];
                    lfloor[k] = lfloor[active];
                    ltop[k] = ltop[active];
                    lpiece[k] = lpiece[active];
                    continue;
                }
                lpiece[k] = nextStart;
                lp[k] = startRow(nextStart++);
                ltop[k] = lw[k];
            }
            if (lw[k] == lfloor[k]) {
                if (nextChunk + kChunk > scratchSize)
                    return Walk::GaveUp;
                lfloor[k] = tmp + nextChunk;
                nextChunk += kChunk;
                if (ltop[k] != lw[k]) {
                    const i32 continuation = (i32)pieces.size();
                    pieces.push_back(Piece{});
                    close(k, lp[k], continuation);
                    lpiece[k] = (u32)continuation;
                }
                lw[k] = ltop[k] = lfloor[k] + kChunk;
            }
            ++k;
        }
    }

    // Join the pieces from row 0 on. Every piece holds at least one byte.
    u32 remaining = n;
    u8* o = out + n;
    u32 current = base == 0 ? 0 : markers;
    for (;;) {
        const Piece& piece = pieces[current];
        const u32 take = piece.length < remaining ? piece.length : remaining;
        o -= take;
        std::memcpy(o, tmp + piece.begin + piece.length - take, take);
        remaining -= take;
        if (remaining == 0)
            return Walk::Done;
        if (piece.next >= 0) {
            current = (u32)piece.next;
            continue;
        }
        if (Checked && piece.end >= n)
            return Walk::OutOfRange;
        current = (piece.end - base) >> shift;
    }
}

// Below this size the work array stays in the cache and the serial walk is
// as fast.
constexpr u32 kParallelFrom = 1u << 16;

template <bool Checked, class Source>
bool walk(const Source& src, u32 n, i64 P, u8* out)
{
    if (n >= kParallelFrom) {
        // About 256 pieces per lane keeps the lanes busy to the end.
        u32 shift = 6;
        while (shift < 12 && (n >> (shift + 1)) >= kLanes * 256)
            ++shift;
        const u32 anchor = P > 0 && P < (i64)n ? (u32)P : 0;
        const u32 base = anchor & ((1u << shift) - 1);
        const Walk result = walkParallel<Checked>(src, n, base, shift, out);
        if (result != Walk::GaveUp)
            return result == Walk::Done;
    }
    return walkSerial<Checked>(src, n, out);
}

} // namespace

bool inverseBwt(const String& input, i32 primaryIndex, String& output)
{
    if (&input == &output) {
        const String copy(input);
        return inverseBwt(copy, primaryIndex, output);
    }
    const u32 n = input.data ? input.size : 0;
    output.resize(n);
    if (n == 0)
        return true;
    const u8* const L = reinterpret_cast<const u8*>(input.data);
    u8* const out = reinterpret_cast<u8*>(output.data);
    const i64 P = primaryIndex;
    // Below n the +1 never lifts a target to n, so the walk needs no test.
    const bool checked = P >= (i64)n;

    bool ok;
    if (n < (1u << 24)) {
        // Target and byte in one word: one random access per step.
        WorkArray work(n);
        u32* const A = work.data();
        buildTargets(L, n, P, [&](u32 i, u32 t) { A[i] = (t << 8) | L[i]; });
        const PackedSource src{A};
        ok = checked ? walk<true>(src, n, P, out) : walk<false>(src, n, P, out);
    } else {
        WorkArray work(n);
        u32* const T = work.data();
        buildTargets(L, n, P, [&](u32 i, u32 t) { T[i] = t; });
        const SplitSource src{T, L};
        ok = checked ? walk<true>(src, n, P, out) : walk<false>(src, n, P, out);
    }
    if (!ok)
        output.resize(0);
    return ok;
}
