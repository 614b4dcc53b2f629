// The inverse Burrows-Wheeler transform over arbitrary bytes and primary
// indices, checked against a plain rendering of its algorithm. Input: i32
// primary index, u8 mode, then the last column. When the mode byte is the
// sum of all the other bytes, the column is repeated out to 2^16 bytes and
// more, where the transform walks many lanes at once: such an input costs a
// hundred small ones, and most mutations of it break the sum, so the
// fuzzer spends most of its time on small inputs. Mode bit 4 takes the
// primary index modulo the length plus one, where the walk stays inside the
// input.
#include "decoder_checks.h"
#include "foundation/inverse_bwt.h"

using namespace archive_reference;

namespace {

REFERENCE_CODE Bytes tile(const u8* column, size_t n)
{
    Bytes out((size_t(1) << 16) + n);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = column[i % n];
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    i32 primary;
    std::memcpy(&primary, data, 4);
    const u8 mode = data[4];
    Bytes column(data + 5, data + size);
    u8 sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum = u8(sum + (i == 4 ? 0 : data[i]));
    if (mode == sum && !column.empty())
        column = tile(column.data(), column.size());
    if (mode & 0x10)
        primary = i32(u32(primary) % u32(column.size() + 1));

    const std::optional<Bytes> expected = refInverseBwt(column, primary);
    const String input = stringOf(column.data(), column.size());
    String output;
    check(inverseBwt(input, primary, output) == expected.has_value());
    check(expected ? same(output, *expected) : output.size == 0);
    return 0;
}
