// The range decoder over arbitrary bytes, checked against a plain rendering
// of its algorithm, alone and with the move-to-front stage fused in, then
// the inverse transform over what they decoded, as an archive entry goes.
// Input: i32 primary index, u32 bound on the decoded length, then the coded
// bytes. The bound is capped at a few times the input's length: a stream
// may declare a megabyte, and decoding that for every input would leave the
// fuzzer a few dozen inputs a second. The transforms over arbitrary bytes
// have targets of their own.
#include "decoder_checks.h"
#include "foundation/inverse_bwt.h"
#include "foundation/mtf_decoder.h"
#include "foundation/range_decoder.h"

#include <algorithm>

using namespace archive_reference;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8)
        return 0;
    i32 primary;
    u32 bound;
    std::memcpy(&primary, data, 4);
    std::memcpy(&bound, data + 4, 4);
    const u8* coded = data + 8;
    const u32 n = (u32)(size - 8);
    bound = std::min<u32>(bound & ((1u << 20) - 1), 8 * n + 64);

    ByteBuffer source;
    source.bytes = stringOf(coded, n);
    ByteBuffer sink;
    RangeDecoder decoder;
    const bool ended = decoder.decode(source, sink, bound);
    const RefDecode expected = refRangeDecode(Bytes(coded, coded + n), bound);
    check(ended == expected.ended);
    check(same(sink.bytes, expected.out));
    check(source.pos == expected.consumed);
    check(decoder.low == expected.low && decoder.range == expected.range && decoder.help == expected.help &&
          decoder.buffer == expected.buffer);
    check(sink.bytes.size <= RangeDecoder::maxSymbols(source.pos));

    ByteBuffer again;
    again.bytes = stringOf(coded, n);
    ByteBuffer moved;
    MtfDecoder stage;
    check(decoder.decode(again, moved, bound, &stage) == ended);
    const Bytes movedExpected = refMtf(expected.out);
    check(same(moved.bytes, movedExpected));
    check(again.pos == source.pos);

    String restored;
    const bool ok = inverseBwt(moved.bytes, primary, restored);
    const std::optional<Bytes> restoredExpected = refInverseBwt(movedExpected, primary);
    check(ok == restoredExpected.has_value());
    check(!ok || same(restored, *restoredExpected));
    return 0;
}
