// The first stage of a packed archive entry: an adaptive order-0 range
// decoder over the 256 byte values and an end symbol. Past the end of the
// coded bytes the source yields 0xFF; a damaged stream yields damaged data.
#pragma once

#include "foundation/byte_buffer.h"

class MtfDecoder;

#include <stdexcept>

class RangeDecoder {
public:
    struct Error : std::runtime_error {
        Error() : std::runtime_error("invalid source stream") {}
    };

    // A stream cannot yield more symbols than this per byte it makes the
    // decoder read: every symbol narrows the range by at least 1/64 (each
    // of the 256 other symbols keeps a frequency of 1 while the total stays
    // below 16384), so one byte pays for at most 353 symbols.
    static constexpr u32 kMaxSymbolsPerByte = 512;

    u32 low = 0;
    u32 range = 0;
    u32 help = 0;   // the last quotient range / total
    u8 buffer = 0;  // the last byte taken from the source
    ByteBuffer* source = nullptr;

    // Decodes from source at its read position into sink at its write
    // position until the end symbol. On success the sink's size is exactly
    // its write position and that position is back at 0. Returns false,
    // leaving the sink sized to the maxSize bytes decoded so far (write
    // position back at 0), when the end symbol would come only after more
    // than maxSize bytes. The source's read position ends behind the last
    // byte taken, padding included. Throws Error when source is null.
    // With mtf, the decoded bytes pass through its move-to-front stage on
    // their way into the sink: the sink gets what mtf->decode would make of
    // them, and mtf ends in the state that call would leave.
    bool decode(ByteBuffer* source, ByteBuffer& sink, u32 maxSize = 0xFFFFFFFFu, MtfDecoder* mtf = nullptr);
    bool decode(ByteBuffer& source, ByteBuffer& sink, u32 maxSize = 0xFFFFFFFFu, MtfDecoder* mtf = nullptr)
    {
        return decode(&source, sink, maxSize, mtf);
    }

    // The most symbols a stream can yield while the decoder reads at most
    // codedBytes bytes, saturated to 32 bits.
    static u32 maxSymbols(u64 codedBytes)
    {
        const u64 n = codedBytes * kMaxSymbolsPerByte;
        return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : (u32)n;
    }
};
