// The audio output of a DirectSound device: an SDL2 audio device at exactly
// 44,100 Hz, signed 16-bit stereo, whose callback pulls blocks from the
// mixer. When no real output opens, SDL's silent "dummy" driver is opened
// instead, so the play cursors still advance in real time.
#pragma once

#include <memory>

namespace platform::dsound {

class Mixer;

class AudioOutput {
public:
    // Null when not even the dummy driver opens.
    static std::unique_ptr<AudioOutput> open(Mixer& mixer);
    ~AudioOutput();

    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    unsigned blockFrames() const { return frames; }

private:
    AudioOutput() = default;

    unsigned device = 0;
    unsigned frames = 0;
};

} // namespace platform::dsound
