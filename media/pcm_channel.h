// A sound held whole in one secondary buffer: raw 44.1 kHz 16-bit stereo
// samples with no header, played once or looping.
#pragma once

#include "media/sound_channel.h"

#include <dsound.h>

class PCMChannel : public SoundChannel {
public:
    // The buffers hold 44,100 Hz 16-bit stereo: 176,400 bytes a second.
    static constexpr float kSecondsPerByte = 5.668934e-6f;

    IDirectSoundBuffer8* buffer = nullptr; // null when creation failed
    IDirectSound3DBuffer* m_3dbuffer = nullptr; // never made: buffers have no 3-D control
    u32 size;
    DS3DBUFFER record = {};

    // The common format of every channel buffer.
    static const WAVEFORMATEX& waveFormat();

    PCMChannel(IDirectSound8* device, u32 bytes);
    ~PCMChannel() override;

    bool play(bool loop) override;
    bool stop() override;
    double getTime() override;
    bool setVolume(float volume) override;
    bool isPlaying() override;
    bool setPosition(double seconds) override;
    void set3D(float px, float py, float pz, float ox, float oy, float oz,
               float vx, float vy, float vz) override;
    void setCone(float insideAngle, float outsideAngle, int outsideVolume) override;
    void setDistances(float minDistance, float maxDistance) override;

    // Copies bytes into the buffer from offset, in two parts when the
    // region wraps. A lost buffer is restored and locked once more.
    virtual bool write(u32 offset, const u8* data, u32 bytes);
    // Zeroes a region the same way.
    virtual bool clearRegion(u32 offset, u32 bytes);

protected:
    // Locks a region, restoring a lost buffer once.
    bool lockRegion(u32 offset, u32 bytes, void** part1, DWORD* bytes1, void** part2, DWORD* bytes2);
    // Applies the 3-D record, which needs a 3-D buffer.
    void apply3D();
};
