// One sound of a device. This base class is the silent channel: it plays
// nothing and measures its time on the tick count from its play call.
#pragma once

#include "foundation/types.h"

#include <atomic>

class SoundChannel {
public:
    std::atomic<u8> playing{0}; // also read by a streaming thread
    double start = 0.0; // seconds of the tick count at play

    SoundChannel() = default;
    SoundChannel(const SoundChannel&) = delete;
    SoundChannel& operator=(const SoundChannel&) = delete;
    virtual ~SoundChannel() = default;

    virtual bool play(bool loop);
    virtual bool stop();
    virtual double getTime();
    virtual bool setVolume(float volume);
    virtual bool isPlaying();
    virtual bool setPosition(double seconds);
    virtual void set3D(float px, float py, float pz, float ox, float oy, float oz,
                       float vx, float vy, float vz);
    virtual void setCone(float insideAngle, float outsideAngle, int outsideVolume);
    virtual void setDistances(float minDistance, float maxDistance);
    // Kept free for one more per-channel setting; does nothing.
    virtual void reserved(int value);
    virtual void update();
};
