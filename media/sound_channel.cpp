#include "media/sound_channel.h"

#include <windows.h>

namespace {

double tickSeconds()
{
    return static_cast<double>(static_cast<u32>(GetTickCount())) * 0.001;
}

} // namespace

bool SoundChannel::play(bool)
{
    playing = 1;
    start = tickSeconds();
    return true;
}

bool SoundChannel::stop()
{
    playing = 0;
    return true;
}

double SoundChannel::getTime()
{
    return tickSeconds() - start;
}

bool SoundChannel::setVolume(float)
{
    return true;
}

bool SoundChannel::isPlaying()
{
    return playing != 0;
}

bool SoundChannel::setPosition(double)
{
    return true;
}

void SoundChannel::set3D(float, float, float, float, float, float, float, float, float) {}

void SoundChannel::setCone(float, float, int) {}

void SoundChannel::setDistances(float, float) {}

void SoundChannel::reserved(int) {}

void SoundChannel::update() {}
