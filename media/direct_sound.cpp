#include "media/direct_sound.h"

#include "foundation/diagnostics.h"
#include "foundation/stream.h"
#include "media/pcm_channel.h"
#include "media/sound_channel.h"
#include "media/vorbis_channel.h"

#include <windows.h>

#include <cstring>
#include <new>

namespace {

enum class ChannelKind { None, Ogg, Pcm };

ChannelKind kindOf(const char* name)
{
    const size_t length = std::strlen(name);
    if (length < 3)
        return ChannelKind::None;
    const char* ext = name + length - 3;
    if (_stricmp(ext, "ogg") == 0)
        return ChannelKind::Ogg;
    if (_stricmp(ext, "pcm") == 0)
        return ChannelKind::Pcm;
    return ChannelKind::None;
}

// The whole content of name, read through a clone of source; null when it
// cannot be opened or read.
u8* readWhole(Stream& source, const char* name, u32& size)
{
    Stream* clone = source.clone();
    if (!clone)
        return nullptr;
    u8* memory = nullptr;
    if (clone->open(name)) {
        size = clone->size;
        memory = new (std::nothrow) u8[size ? size : 1];
        if (memory && clone->read(memory, size) != size) {
            delete[] memory;
            memory = nullptr;
        }
        clone->close();
    }
    delete clone;
    return memory;
}

} // namespace

Sound* DirectSound::create(HWND window)
{
    IDirectSound8* device = nullptr;
    if (FAILED(DirectSoundCreate8(nullptr, &device, nullptr)) || !device)
        return new Sound;
    device->SetCooperativeLevel(window, DSSCL_PRIORITY);
    return new DirectSound(device);
}

DirectSound::DirectSound(IDirectSound8* device) : device(device)
{
    DSBUFFERDESC desc = {};
    desc.dwSize = sizeof(DSBUFFERDESC);
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D;
    IDirectSoundBuffer* primary = nullptr;
    if (device && SUCCEEDED(device->CreateSoundBuffer(&desc, &primary, nullptr)) && primary) {
        void* listener3d = nullptr;
        if (SUCCEEDED(primary->QueryInterface(IID_IDirectSound3DListener, &listener3d)))
            m_listener = static_cast<IDirectSound3DListener*>(listener3d);
        primary->Release();
    }
    std::memset(&listener, 0, sizeof(listener));
    listener.dwSize = sizeof(DS3DLISTENER);
}

DirectSound::~DirectSound()
{
    // The channels release their buffers first, while the device lives.
    for (SoundChannel* c : channels)
        delete c;
    channels.clear();
    if (m_listener)
        m_listener->Release();
    if (device)
        device->Release();
}

int DirectSound::createChannel(Stream& source, const char* name)
{
    if (!name)
        return -1;
    u32 size = 0;
    u8* memory = readWhole(source, name, size);
    if (!memory)
        return -1;
    switch (kindOf(name)) {
    case ChannelKind::Pcm: {
        auto* channel = new PCMChannel(device, size);
        const bool written = channel->buffer && channel->write(0, memory, size);
        delete[] memory;
        if (!written) {
            delete channel;
            return -1;
        }
        return addChannel(channel);
    }
    case ChannelKind::Ogg: {
        auto* channel = new VorbisChannel(device, 22050, 8);
        if (!channel->buffer) {
            delete[] memory;
            delete channel;
            return -1;
        }
        // The channel owns the memory from here on, also when open fails.
        if (!channel->open(0, memory, size)) {
            delete channel;
            return -1;
        }
        return addChannel(channel);
    }
    case ChannelKind::None:
        break;
    }
    delete[] memory;
    return -1;
}

void DirectSound::applyListener()
{
    ENGINE_ASSERT(m_listener && "m_listener");
    if (m_listener)
        m_listener->SetAllParameters(&listener, DS3D_DEFERRED);
}

void DirectSound::setListenerFactors(float distanceFactor, float dopplerFactor, float rolloffFactor)
{
    listener.flDistanceFactor = distanceFactor;
    listener.flDopplerFactor = dopplerFactor;
    listener.flRolloffFactor = rolloffFactor;
    applyListener();
}

void DirectSound::setListener(float px, float py, float pz, float fx, float fy, float fz,
                              float tx, float ty, float tz, float vx, float vy, float vz)
{
    listener.vPosition = {px, py, pz};
    listener.vOrientFront = {fx, fy, fz};
    listener.vOrientTop = {tx, ty, tz};
    listener.vVelocity = {vx, vy, vz};
    applyListener();
}

void DirectSound::setListenerPosition(float x, float y, float z)
{
    listener.vPosition = {x, y, z};
    applyListener();
}

void DirectSound::update()
{
    if (m_listener)
        m_listener->CommitDeferredSettings();
    Sound::update();
}
