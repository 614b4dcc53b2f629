// The adaptive order-0 range coder that archive entries are stored with
// (type bit 0). It drives the shared FrequencyModel exactly as the engine's
// RangeDecoder does, so every interval it picks is the one the decoder
// reconstructs; the end symbol 256 closes a stream.
#pragma once

#include "foundation/frequency_model.h"
#include "foundation/types.h"

#include <cstddef>
#include <vector>

class RangeEncoder {
public:
    explicit RangeEncoder(std::vector<u8>& sink);
    RangeEncoder(const RangeEncoder&) = delete;
    RangeEncoder& operator=(const RangeEncoder&) = delete;

    // Codes one symbol (0-256) with the model's current state; the caller
    // updates the model afterwards, as the decoder does.
    void encode(const FrequencyModel& model, u32 symbol);
    // Pushes the rest of the interval out; the encoder is spent afterwards.
    void finish();

    // Codes data followed by the end symbol with a fresh model and appends
    // the coded bytes to sink.
    static void pack(const u8* data, size_t n, std::vector<u8>& sink);

private:
    void shiftLow();

    std::vector<u8>& out;
    u32 low = 0;             // 31-bit window of the interval's lower end
    u32 range = 0x80000000u; // the decoder reaches this after its start
    u8 buffer = 0;           // the byte held back for a carry; the first one
                             // written is the byte the decoder drops
    u32 pending = 0;         // 0xFF bytes held back behind buffer
};
