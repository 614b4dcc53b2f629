#include "platform/dsound/mixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::dsound {

Voice::Voice(uint32_t bytes)
    : data(bytes, 0), size(bytes), playableBytes(bytes & ~(kFrameBytes - 1))
{
}

Mixer::Mixer(bool manual) : manual(manual), lastBlockTime(std::chrono::steady_clock::now()) {}

void Mixer::add(Voice* voice)
{
    std::lock_guard<std::mutex> lock(mutex);
    voices.push_back(voice);
}

void Mixer::remove(Voice* voice)
{
    std::lock_guard<std::mutex> lock(mutex);
    voices.erase(std::remove(voices.begin(), voices.end(), voice), voices.end());
}

int32_t Mixer::gainOf(LONG volume)
{
    if (volume <= -10000)
        return 0;
    if (volume >= 0)
        return 1 << 16;
    return static_cast<int32_t>(std::lround(65536.0 * std::pow(10.0, volume / 2000.0)));
}

namespace {

// Frames summed at a time: the slice's sum stays in the first-level cache
// instead of a whole output block's being cleared, summed and clamped in
// three passes over memory.
constexpr uint32_t kSliceFrames = 512;
constexpr int32_t kUnityGain = 1 << 16;

// Walks up to `frames` frames of a playing voice, handing piece(samples,
// first frame, frame count) each stretch up to the buffer's end; a loop
// wraps, a one-shot stops. Returns the frames played.
template <typename Piece>
uint32_t playVoice(Voice& v, uint32_t frames, Piece piece)
{
    uint32_t done = 0;
    while (done < frames) {
        const uint32_t available = (v.playableBytes - v.position) / kFrameBytes;
        const uint32_t n = std::min(available, frames - done);
        piece(reinterpret_cast<const int16_t*>(v.data.data() + v.position), done, n);
        done += n;
        v.position += n * kFrameBytes;
        v.blockBytes += n * kFrameBytes;
        if (v.position >= v.playableBytes) {
            v.position = 0;
            if (!v.looping) {
                v.playing = false;
                break;
            }
        }
    }
    return done;
}

// Mixes up to `frames` frames of a playing voice into sum: the slice's first
// voice stores (and clears what it leaves), later ones add.
void mixVoice(Voice& v, int32_t* sum, uint32_t frames, bool first)
{
    const int32_t gain = v.gain;
    const uint32_t done = playVoice(v, frames, [&](const int16_t* src, uint32_t at, uint32_t n) {
        int32_t* d = sum + static_cast<size_t>(at) * 2;
        if (gain == kUnityGain) {
            if (first)
                for (uint32_t i = 0; i < n * 2; ++i)
                    d[i] = src[i];
            else
                for (uint32_t i = 0; i < n * 2; ++i)
                    d[i] += src[i];
        } else {
            if (first)
                for (uint32_t i = 0; i < n * 2; ++i)
                    d[i] = static_cast<int32_t>((static_cast<int64_t>(src[i]) * gain) >> 16);
            else
                for (uint32_t i = 0; i < n * 2; ++i)
                    d[i] += static_cast<int32_t>((static_cast<int64_t>(src[i]) * gain) >> 16);
        }
    });
    if (first)
        std::fill(sum + static_cast<size_t>(done) * 2, sum + static_cast<size_t>(frames) * 2, 0);
}

} // namespace

void Mixer::mix(int16_t* out, uint32_t frames)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (Voice* v : voices) {
        v->blockStart = v->position;
        v->blockBytes = 0;
        // Nothing to play: a one-shot ends at once, a loop stays silent.
        if (v->playing && v->playableBytes == 0)
            v->playing = v->looping;
    }
    int32_t sum[kSliceFrames * 2];
    for (uint32_t start = 0; start < frames; start += kSliceFrames) {
        const uint32_t count = std::min(kSliceFrames, frames - start);
        int16_t* slice = out + static_cast<size_t>(start) * 2;
        Voice* only = nullptr;
        int sounding = 0;
        for (Voice* v : voices) {
            if (v->playing && v->playableBytes > 0) {
                only = v;
                ++sounding;
            }
        }
        if (sounding == 0) {
            std::fill(slice, slice + static_cast<size_t>(count) * 2, int16_t(0));
            continue;
        }
        if (sounding == 1 && only->gain == kUnityGain) {
            // One voice at full volume: its samples are the mix.
            const uint32_t done = playVoice(*only, count, [&](const int16_t* src, uint32_t at, uint32_t n) {
                std::memcpy(slice + static_cast<size_t>(at) * 2, src, static_cast<size_t>(n) * kFrameBytes);
            });
            std::fill(slice + static_cast<size_t>(done) * 2, slice + static_cast<size_t>(count) * 2, int16_t(0));
            continue;
        }
        bool first = true;
        for (Voice* v : voices) {
            if (!v->playing || v->playableBytes == 0)
                continue;
            mixVoice(*v, sum, count, first);
            first = false;
        }
        for (uint32_t i = 0; i < count * 2; ++i)
            slice[i] = static_cast<int16_t>(std::clamp(sum[i], -32768, 32767));
    }
    framesMixed += frames;
    lastBlockFrames = frames;
    lastBlockTime = std::chrono::steady_clock::now();
}

uint32_t Mixer::heardFrames() const
{
    if (manual)
        return lastBlockFrames;
    const auto elapsed = std::chrono::steady_clock::now() - lastBlockTime;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    const uint64_t frames = static_cast<uint64_t>(std::max<int64_t>(us, 0)) * kSampleRate / 1000000;
    return static_cast<uint32_t>(std::min<uint64_t>(frames, lastBlockFrames));
}

uint32_t Mixer::playCursor(const Voice& v) const
{
    if (v.playableBytes == 0)
        return 0;
    const uint64_t heard = std::min<uint64_t>(static_cast<uint64_t>(heardFrames()) * kFrameBytes, v.blockBytes);
    return static_cast<uint32_t>((v.blockStart + heard) % v.playableBytes);
}

uint32_t Mixer::writeCursor(const Voice& v) const
{
    if (!v.playing || v.playableBytes == 0)
        return playCursor(v);
    return static_cast<uint32_t>((static_cast<uint64_t>(v.position) + kWriteLeadBytes) % v.playableBytes);
}

void Mixer::placeVoice(Voice& v, uint32_t position)
{
    v.position = v.playableBytes ? (position & ~(kFrameBytes - 1)) % v.playableBytes : 0;
    v.blockStart = v.position;
    v.blockBytes = 0;
}

} // namespace platform::dsound
