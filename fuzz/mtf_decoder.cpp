// The move-to-front stage over arbitrary bytes, checked against a plain
// rendering of its algorithm, decoding into a separate string and in place.
// Input: the indices.
#include "decoder_checks.h"
#include "foundation/mtf_decoder.h"

using namespace archive_reference;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Bytes expected = refMtf(Bytes(data, data + size));
    const String input = stringOf(data, size);
    MtfDecoder decoder;
    String output;
    decoder.decode(input, output);
    check(same(output, expected));
    check(decoder.flag == (size > 0 && data[size - 1] <= 1));

    String inPlace = stringOf(data, size);
    decoder.decode(inPlace, inPlace);
    check(same(inPlace, expected));
    return 0;
}
