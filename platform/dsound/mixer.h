// The software mixer behind a DirectSound device: every playing secondary
// buffer (a voice) summed with saturation into 16-bit stereo at 44,100 Hz.
// One lock guards the voices, because the streaming thread, the main thread
// and the output's thread all reach the same buffer.
#pragma once

#include "platform/win32/win_types.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace platform::dsound {

constexpr uint32_t kSampleRate = 44100;
constexpr uint32_t kFrameBytes = 4; // 16-bit stereo
// How far the write cursor runs ahead of what was mixed while playing (10 ms).
constexpr uint32_t kWriteLeadBytes = kSampleRate / 100 * kFrameBytes;

// One secondary buffer. Every field is guarded by the mixer's lock; data is
// written outside it between Lock and Unlock, as with the real API.
struct Voice {
    explicit Voice(uint32_t bytes);

    std::vector<uint8_t> data;
    uint32_t size;             // buffer bytes
    uint32_t playableBytes;    // whole frames only; a trailing partial frame never plays
    uint32_t position = 0;     // next byte to mix
    uint32_t blockStart = 0;   // position when the last output block began
    uint32_t blockBytes = 0;   // bytes this voice consumed in that block
    bool playing = false;
    bool looping = false;
    LONG volume = 0;           // hundredths of a decibel, -10000..0
    int32_t gain = 1 << 16;    // 16.16 factor for volume
    int lostLocks = 0;         // Lock calls still to answer DSERR_BUFFERLOST
    uint64_t unlocked = 0;     // bytes handed back through Unlock
    uint64_t awaited = UINT64_MAX; // a test waits until unlocked reaches this
};

class Mixer {
public:
    // A manual mixer runs only when advanced; its cursors stand exactly at
    // what was mixed. Otherwise the play cursor moves on between output
    // blocks with the real clock.
    explicit Mixer(bool manual);

    void add(Voice* voice);
    void remove(Voice* voice);

    // Mixes the next frames into out (interleaved stereo). Takes the lock.
    void mix(int16_t* out, uint32_t frames);

    // With the lock held: the cursors of a voice.
    uint32_t playCursor(const Voice& voice) const;
    uint32_t writeCursor(const Voice& voice) const;
    // With the lock held: moves a voice to a position (a whole frame) and
    // forgets what it consumed in the last block.
    void placeVoice(Voice& voice, uint32_t position);

    static int32_t gainOf(LONG volume);

    std::mutex mutex;
    std::condition_variable unlockedChanged; // with mutex
    const bool manual;
    uint64_t framesMixed = 0;      // guarded by mutex
    uint32_t lastBlockFrames = 0;  // guarded by mutex

private:
    // Frames of the last block that have been heard by now.
    uint32_t heardFrames() const;

    std::vector<Voice*> voices;
    std::chrono::steady_clock::time_point lastBlockTime;
};

} // namespace platform::dsound
