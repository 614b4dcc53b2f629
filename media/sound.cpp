#include "media/sound.h"

#include "media/sound_channel.h"

#include <cstddef>

Sound::~Sound()
{
    for (SoundChannel* c : channels)
        delete c;
}

int Sound::addChannel(SoundChannel* c)
{
    for (std::size_t i = 0; i < channels.size(); ++i)
        if (!channels[i]) {
            channels[i] = c;
            return static_cast<int>(i + 1);
        }
    channels.push_back(c);
    return static_cast<int>(channels.size());
}

void Sound::releaseChannel(int handle)
{
    if (SoundChannel* c = channel(handle)) {
        channels[static_cast<std::size_t>(handle - 1)] = nullptr;
        delete c;
    }
}

SoundChannel* Sound::channel(int handle) const
{
    if (handle < 1 || handle > static_cast<int>(channels.size()))
        return nullptr;
    return channels[static_cast<std::size_t>(handle - 1)];
}

int Sound::createChannel(Stream&, const char*)
{
    return addChannel(new SoundChannel);
}

bool Sound::play(int handle, bool loop)
{
    SoundChannel* c = channel(handle);
    return c && c->play(loop);
}

bool Sound::stop(int handle)
{
    SoundChannel* c = channel(handle);
    return c && c->stop();
}

bool Sound::setVolume(int handle, float volume)
{
    SoundChannel* c = channel(handle);
    return c && c->setVolume(volume);
}

bool Sound::setPosition(int handle, double seconds)
{
    SoundChannel* c = channel(handle);
    return c && c->setPosition(seconds);
}

bool Sound::isPlaying(int handle)
{
    SoundChannel* c = channel(handle);
    return c && c->isPlaying();
}

double Sound::getTime(int handle)
{
    SoundChannel* c = channel(handle);
    return c ? c->getTime() : 0.0;
}

void Sound::setListenerFactors(float, float, float) {}

void Sound::setListener(float, float, float, float, float, float, float, float, float, float, float, float) {}

void Sound::setListenerPosition(float, float, float) {}

void Sound::setChannel3D(int handle, float px, float py, float pz, float ox, float oy, float oz,
                         float vx, float vy, float vz)
{
    if (SoundChannel* c = channel(handle))
        c->set3D(px, py, pz, ox, oy, oz, vx, vy, vz);
}

void Sound::setChannelCone(int handle, float insideAngle, float outsideAngle, int outsideVolume)
{
    if (SoundChannel* c = channel(handle))
        c->setCone(insideAngle, outsideAngle, outsideVolume);
}

void Sound::setChannelDistances(int handle, float minDistance, float maxDistance)
{
    if (SoundChannel* c = channel(handle))
        c->setDistances(minDistance, maxDistance);
}

void Sound::update()
{
    for (SoundChannel* c : channels)
        if (c)
            c->update();
}
