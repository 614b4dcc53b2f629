// The sound device: owns the channels and addresses them by 1-based handles.
// This base class is the silent device: its channels only keep time with the
// tick count, so the music clock runs with sound switched off. DirectSound
// derives from it and plays through the DirectSound 8 stand-in.
#pragma once

#include <vector>

class Stream;
class SoundChannel;

class Sound {
public:
    Sound() = default;
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // Deletes every channel.
    virtual ~Sound();

    // The handle of a new channel for `name` opened on a clone of `source`;
    // -1 when there is no sound for it. The silent device reads neither.
    virtual int createChannel(Stream& source, const char* name);
    // Deletes the channel (its thread, its copy of the file); the handle is
    // invalid after, and a later channel may take it again.
    void releaseChannel(int handle);
    virtual bool play(int handle, bool loop);
    virtual bool stop(int handle);
    virtual bool setVolume(int handle, float volume);
    virtual bool setPosition(int handle, double seconds);
    virtual bool isPlaying(int handle);
    // 0.0 for a bad handle.
    virtual double getTime(int handle);
    virtual void setListenerFactors(float distanceFactor, float dopplerFactor, float rolloffFactor);
    virtual void setListener(float px, float py, float pz, float fx, float fy, float fz,
                             float tx, float ty, float tz, float vx, float vy, float vz);
    virtual void setListenerPosition(float x, float y, float z);
    // Position, cone orientation and velocity.
    virtual void setChannel3D(int handle, float px, float py, float pz, float ox, float oy, float oz,
                              float vx, float vy, float vz);
    // Angles in radians; the outside volume in hundredths of a decibel.
    virtual void setChannelCone(int handle, float insideAngle, float outsideAngle, int outsideVolume);
    virtual void setChannelDistances(int handle, float minDistance, float maxDistance);
    // Once per frame: every channel's update in creation order.
    virtual void update();

    int channelCount() const { return static_cast<int>(channels.size()); }
    // Null for a handle outside 1..count.
    SoundChannel* channel(int handle) const;

protected:
    // Puts the channel in the first released place, else appends it, and
    // returns its handle.
    int addChannel(SoundChannel* channel);

    std::vector<SoundChannel*> channels; // owned, in creation order; null where released
};
