#include "tools/sarpack/range_encoder.h"

RangeEncoder::RangeEncoder(std::vector<u8>& sink)
    : out(sink)
{
}

void RangeEncoder::shiftLow()
{
    constexpr u32 kTopByteFF = 0xFFu << 23;
    if (low < kTopByteFF) {
        // The top byte can no longer change: release the held bytes.
        out.push_back(buffer);
        out.insert(out.end(), pending, 0xFF);
        pending = 0;
        buffer = (u8)(low >> 23);
    } else if (low & 0x80000000u) {
        // A carry left the window: it lands on the held bytes.
        out.push_back((u8)(buffer + 1));
        out.insert(out.end(), pending, 0x00);
        pending = 0;
        buffer = (u8)(low >> 23);
    } else {
        // Top byte 0xFF: whether a carry still reaches it is open.
        ++pending;
    }
    range <<= 8;
    low = (low << 8) & 0x7FFFFFFFu;
}

void RangeEncoder::encode(const FrequencyModel& model, u32 symbol)
{
    while (range <= 0x800000u)
        shiftLow();
    const u32 total = model.total;
    const u32 c = model.cumLow(symbol);
    const u32 f = model.freq[symbol];
    const u32 r = range / total;
    low += r * c;
    // The last symbol of the table takes the rounding remainder, as the
    // decoder's clamp of its target to total - 1 implies.
    range = (c + f < total) ? r * f : range - r * c;
}

void RangeEncoder::finish()
{
    for (int i = 0; i < 4; ++i)
        shiftLow();
    out.push_back(buffer);
    out.insert(out.end(), pending, 0xFF);
    pending = 0;
}

void RangeEncoder::pack(const u8* data, size_t n, std::vector<u8>& sink)
{
    FrequencyModel model;
    RangeEncoder encoder(sink);
    for (size_t i = 0; i < n; ++i) {
        encoder.encode(model, data[i]);
        model.update(data[i]);
    }
    encoder.encode(model, FrequencyModel::kEndSymbol);
    encoder.finish();
}
