// Shared by the sound tests: the files made at build time, a DirectSound
// device on the manual output clock, and a driver that streams a Vorbis
// channel segment by segment without sleeping.
#pragma once

#include "foundation/file_stream.h"
#include "media/direct_sound.h"
#include "media/vorbis_channel.h"

#include "platform/dsound/dsound_test_api.h"

#include "file_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace soundtest {

inline std::string music(const char* name)
{
    return std::string(QUILLON_TEST_MUSIC) + "/" + name;
}

inline std::vector<u8> readFile(const std::string& path)
{
    return fileBytes<std::vector<u8>>(path);
}

inline void writeFile(const std::string& path, const std::vector<u8>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline std::vector<u8> asBytes(const std::vector<int16_t>& samples)
{
    const auto* p = reinterpret_cast<const u8*>(samples.data());
    return std::vector<u8>(p, p + samples.size() * 2);
}

// A DirectSound device that mixes only when advanced.
struct ManualSound {
    ManualSound()
    {
        platform::dsound::setManualOutput(true);
        sound.reset(DirectSound::create(nullptr));
        platform::dsound::setManualOutput(false);
        ds = dynamic_cast<DirectSound*>(sound.get());
    }

    // Opens a file through a disk stream.
    int load(const std::string& path)
    {
        FileStream disk("");
        return sound->createChannel(disk, path.c_str());
    }
    std::vector<int16_t> advance(u32 frames) { return platform::dsound::advanceOutput(ds->device, frames); }
    template <class T>
    T* channel(int handle)
    {
        return dynamic_cast<T*>(sound->channel(handle));
    }

    std::unique_ptr<Sound> sound;
    DirectSound* ds = nullptr;
};

// Plays a Vorbis channel one ring segment at a time: mixes up to the next
// segment boundary, wakes the streaming thread and waits until it has
// filled the ring to two segments behind the play cursor again.
struct Streamer {
    ManualSound& sound;
    VorbisChannel* channel;
    u64 segments = 0; // segment boundaries crossed
    u64 frames = 0;   // frames mixed

    std::vector<u8> run(u64 count)
    {
        std::vector<u8> out;
        const u64 segmentBytes = channel->segmentSize;
        for (u64 i = 0; i < count; ++i) {
            ++segments;
            const u64 target = (segments * segmentBytes + 3) / 4;
            const std::vector<u8> mixed = asBytes(sound.advance(static_cast<u32>(target - frames)));
            out.insert(out.end(), mixed.begin(), mixed.end());
            frames = target;
            sound.sound->update();
            // The writer stops once a chunk has begun six segments ahead.
            const u64 filled = (segments + channel->segmentCount - 2) * segmentBytes + 1;
            EXPECT_TRUE(platform::dsound::waitForUnlockedBytes(channel->buffer, filled, 10000))
                << "the ring was not refilled after segment " << segments;
        }
        return out;
    }
};

} // namespace soundtest
