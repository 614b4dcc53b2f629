// Streaming cost of the music channel: the 20 s test track streamed
// through a VorbisChannel and the mixer on the manual output clock (half a
// ring at a time, the streaming thread refilling behind), against
// a plain vorbisfile loop decoding the same bytes from memory. Times are
// the process's CPU time (both threads of the channel, none of their
// waiting, which on a busy machine is only scheduling noise), best of
// several repetitions each. The last line is ratio=R: channel time over
// plain decode time.
#include "foundation/file_stream.h"
#include "media/direct_sound.h"
#include "media/vorbis_channel.h"

#include "platform/dsound/dsound_test_api.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include "file_bytes.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <time.h>
#include <vector>

namespace {

constexpr int kRepetitions = 5;
constexpr u64 kTrackBytes = 3528000;
// Segments mixed per step: half the ring, so the writer (which keeps six
// segments ahead) refills half the ring on each wake-up.
constexpr u64 kSegmentsPerStep = 4;
const std::string kTrack = std::string(QUILLON_TEST_MUSIC) + "/tune.ogg";

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Memory {
    const std::vector<u8>* bytes;
    size_t pos = 0;
};

size_t readMemory(void* ptr, size_t size, size_t nmemb, void* source)
{
    auto* m = static_cast<Memory*>(source);
    const size_t n = std::min(size * nmemb, m->bytes->size() - m->pos) / (size ? size : 1);
    std::memcpy(ptr, m->bytes->data() + m->pos, n * size);
    m->pos += n * size;
    return n;
}

int seekMemory(void* source, ogg_int64_t offset, int whence)
{
    auto* m = static_cast<Memory*>(source);
    const i64 size = static_cast<i64>(m->bytes->size());
    const i64 base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<i64>(m->pos) : size;
    m->pos = static_cast<size_t>(std::clamp<i64>(base + offset, 0, size));
    return 0;
}

long tellMemory(void* source)
{
    return static_cast<long>(static_cast<Memory*>(source)->pos);
}

// Decodes the whole track; returns the bytes decoded.
u64 plainDecode(const std::vector<u8>& ogg)
{
    Memory memory{&ogg};
    OggVorbis_File vf;
    const ov_callbacks callbacks = {readMemory, seekMemory, nullptr, tellMemory};
    if (ov_open_callbacks(&memory, &vf, nullptr, 0, callbacks) != 0)
        return 0;
    char buffer[4096];
    int bitstream = 0;
    u64 total = 0;
    for (long n; (n = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &bitstream)) != 0;)
        if (n > 0)
            total += static_cast<u64>(n);
    ov_clear(&vf);
    return total;
}

// Streams the track through a channel; returns the bytes mixed.
u64 channelStream()
{
    platform::dsound::setManualOutput(true);
    std::unique_ptr<Sound> sound(DirectSound::create(nullptr));
    platform::dsound::setManualOutput(false);
    auto* ds = dynamic_cast<DirectSound*>(sound.get());
    FileStream disk("");
    const int h = sound->createChannel(disk, kTrack.c_str());
    auto* channel = dynamic_cast<VorbisChannel*>(sound->channel(h));
    if (!ds || !channel)
        return 0;
    sound->play(h, false);
    const u64 segment = channel->segmentSize;
    const u64 segments = (kTrackBytes + segment - 1) / segment;
    u64 frames = 0;
    for (u64 k = kSegmentsPerStep; k < segments + kSegmentsPerStep; k += kSegmentsPerStep) {
        const u64 target = (k * segment + 3) / 4;
        platform::dsound::advanceOutput(ds->device, static_cast<u32>(target - frames));
        frames = target;
        sound->update();
        const u64 filled = (k + channel->segmentCount - 2) * segment + 1;
        if (!platform::dsound::waitForUnlockedBytes(channel->buffer, filled, 10000))
            return 0;
    }
    return frames * 4;
}

} // namespace

int main()
{
    const std::vector<u8> ogg = fileBytes<std::vector<u8>>(kTrack);
    if (ogg.empty()) {
        std::printf("cannot read %s\n", kTrack.c_str());
        return 1;
    }
    double plain = 1e9;
    double channel = 1e9;
    for (int i = 0; i < kRepetitions; ++i) {
        double start = cpuSeconds();
        const u64 decoded = plainDecode(ogg);
        plain = std::min(plain, cpuSeconds() - start);
        start = cpuSeconds();
        const u64 streamed = channelStream();
        channel = std::min(channel, cpuSeconds() - start);
        if (decoded != kTrackBytes || streamed < kTrackBytes) {
            std::printf("decoded %llu, streamed %llu bytes\n", static_cast<unsigned long long>(decoded),
                        static_cast<unsigned long long>(streamed));
            return 1;
        }
    }
    std::printf("plain vorbisfile decode: %.2f ms\n", plain * 1000.0);
    std::printf("VorbisChannel and mixer: %.2f ms\n", channel * 1000.0);
    std::printf("ratio=%.3f\n", channel / plain);
    return 0;
}
