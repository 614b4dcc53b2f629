// Ogg bytes streamed as music: createChannel on a ".ogg" name (the decoder
// opens and primes the ring), then a bounded number of refills with the
// play cursor moved around the ring, looping or not.
#include "foundation/diagnostics.h"
#include "foundation/resource_stream.h"
#include "media/direct_sound.h"
#include "media/vorbis_channel.h"

#include "platform/dsound/dsound_test_api.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    diagnosticsLevel = 0;
    platform::registerResource("OGGFILE", (WORD)78, data, size);
    ResourceStream stream("OGGFILE", 78, "fuzz.ogg");
    platform::dsound::setManualOutput(true);
    std::unique_ptr<Sound> sound(DirectSound::create(nullptr));
    const int handle = sound->createChannel(stream, "fuzz.ogg");
    auto* channel = dynamic_cast<VorbisChannel*>(sound->channel(handle));
    if (!channel)
        return 0;
    // Not playing, so the streaming thread stays idle and Fill runs here.
    channel->loop = (size & 1) != 0;
    for (u32 i = 0; i < 8; ++i) {
        channel->buffer->SetCurrentPosition((i * 3 + 2) % channel->segmentCount * channel->segmentSize & ~3u);
        channel->Fill();
    }
    return 0;
}
