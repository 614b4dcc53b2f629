// Ogg bytes streamed as music: a VorbisChannel opens the decoder on them and
// primes its ring, then a bounded number of refills runs with the play
// cursor moved around the ring, looping or not.
// The ring is a fifth of the music's (segments of 4,410 bytes, still larger
// than a decode chunk, so chunks cross segment borders as they do there):
// the same filling over a fifth of the decoding and buffer, so many more
// inputs a second. The device is made once; each input's channel makes and
// releases its own buffer on it.
#include "foundation/diagnostics.h"
#include "media/direct_sound.h"
#include "media/vorbis_channel.h"

#include "platform/dsound/dsound_test_api.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr u32 kSegmentBytes = 4410;
constexpr u32 kSegments = 8;
static_assert(kSegmentBytes > VorbisChannel::kDecodeBytes);

DirectSound* device()
{
    static std::unique_ptr<Sound> sound = [] {
        platform::dsound::setManualOutput(true); // no audio output: nothing mixes
        return std::unique_ptr<Sound>(DirectSound::create(nullptr));
    }();
    return dynamic_cast<DirectSound*>(sound.get());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    diagnosticsLevel = 0;
    DirectSound* sound = device();
    if (!sound || size > UINT32_MAX)
        return 0;
    VorbisChannel channel(sound->device, kSegmentBytes, kSegments);
    if (!channel.buffer)
        return 0;
    // The channel takes the copy over, also when open fails.
    u8* copy = new u8[size ? size : 1];
    if (size)
        std::memcpy(copy, data, size);
    if (!channel.open(0, copy, u32(size)))
        return 0;
    // Not playing, so the streaming thread stays idle and Fill runs here.
    channel.loop = (size & 1) != 0;
    for (u32 i = 0; i < 8; ++i) {
        channel.buffer->SetCurrentPosition((i * 3 + 2) % channel.segmentCount * channel.segmentSize & ~3u);
        channel.Fill();
    }
    return 0;
}
