#include "media/pcm_channel.h"

#include "foundation/diagnostics.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;

} // namespace

const WAVEFORMATEX& PCMChannel::waveFormat()
{
    static const WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    return format;
}

PCMChannel::PCMChannel(IDirectSound8* device, u32 bytes) : size(bytes)
{
    record.dwSize = sizeof(DS3DBUFFER);
    DSBUFFERDESC desc = {};
    desc.dwSize = sizeof(DSBUFFERDESC);
    desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLFX
                   | DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_CTRLVOLUME;
    desc.dwBufferBytes = bytes;
    desc.lpwfxFormat = const_cast<WAVEFORMATEX*>(&waveFormat());
    IDirectSoundBuffer* plain = nullptr;
    if (!device || FAILED(device->CreateSoundBuffer(&desc, &plain, nullptr)) || !plain)
        return;
    void* b8 = nullptr;
    if (SUCCEEDED(plain->QueryInterface(IID_IDirectSoundBuffer8, &b8)))
        buffer = static_cast<IDirectSoundBuffer8*>(b8);
    plain->Release();
    if (buffer)
        buffer->SetCurrentPosition(0);
}

PCMChannel::~PCMChannel()
{
    if (buffer) {
        buffer->Stop();
        buffer->Release();
    }
    if (m_3dbuffer)
        m_3dbuffer->Release();
}

bool PCMChannel::play(bool loop)
{
    if (!buffer)
        return false;
    buffer->Play(0, 0, loop ? DSBPLAY_LOOPING : 0);
    return true;
}

bool PCMChannel::stop()
{
    if (!buffer)
        return false;
    buffer->Stop();
    return true;
}

double PCMChannel::getTime()
{
    DWORD play = 0;
    if (buffer)
        buffer->GetCurrentPosition(&play, nullptr);
    return static_cast<double>(play) * kSecondsPerByte;
}

bool PCMChannel::setVolume(float volume)
{
    if (!buffer)
        return false;
    // Outside 0..1 the volume would leave the buffer's range.
    const float v = std::clamp(volume, 0.0f, 1.0f);
    buffer->SetVolume(static_cast<LONG>(-(1.0f - v) * 10000.0f));
    return true;
}

bool PCMChannel::isPlaying()
{
    DWORD status = 0;
    if (!buffer || FAILED(buffer->GetStatus(&status)))
        return false;
    // A looping buffer also reports DSBSTATUS_LOOPING and so counts as not playing.
    return status == DSBSTATUS_PLAYING;
}

bool PCMChannel::setPosition(double seconds)
{
    // Checked in double: a negative or huge time must not reach the int.
    const double bytes = seconds * 176400.0;
    if (!buffer || !(bytes >= 0.0) || bytes >= static_cast<double>(size))
        return false;
    buffer->SetCurrentPosition(static_cast<DWORD>(static_cast<int>(bytes)));
    return true;
}

void PCMChannel::apply3D()
{
    ENGINE_ASSERT(m_3dbuffer && "m_3dbuffer");
    if (m_3dbuffer)
        m_3dbuffer->SetAllParameters(&record, DS3D_DEFERRED);
}

void PCMChannel::set3D(float px, float py, float pz, float ox, float oy, float oz, float vx, float vy, float vz)
{
    record.vPosition = {px, py, pz};
    record.vConeOrientation = {ox, oy, oz};
    record.vVelocity = {vx, vy, vz};
    apply3D();
}

void PCMChannel::setCone(float insideAngle, float outsideAngle, int outsideVolume)
{
    record.dwInsideConeAngle = static_cast<DWORD>(static_cast<int>(insideAngle * kDegreesPerRadian));
    record.dwOutsideConeAngle = static_cast<DWORD>(static_cast<int>(outsideAngle * kDegreesPerRadian));
    record.lConeOutsideVolume = outsideVolume;
    apply3D();
}

void PCMChannel::setDistances(float minDistance, float maxDistance)
{
    record.flMinDistance = minDistance;
    record.flMaxDistance = maxDistance;
    apply3D();
}

bool PCMChannel::lockRegion(u32 offset, u32 bytes, void** part1, DWORD* bytes1, void** part2, DWORD* bytes2)
{
    if (!buffer)
        return false;
    HRESULT hr = buffer->Lock(offset, bytes, part1, bytes1, part2, bytes2, 0);
    if (hr == DSERR_BUFFERLOST) {
        buffer->Restore();
        hr = buffer->Lock(offset, bytes, part1, bytes1, part2, bytes2, 0);
    }
    return SUCCEEDED(hr);
}

bool PCMChannel::write(u32 offset, const u8* data, u32 bytes)
{
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0;
    DWORD bytes2 = 0;
    if (!data || !lockRegion(offset, bytes, &part1, &bytes1, &part2, &bytes2))
        return false;
    std::memcpy(part1, data, bytes1);
    if (part2)
        std::memcpy(part2, data + bytes1, bytes2);
    return SUCCEEDED(buffer->Unlock(part1, bytes1, part2, bytes2));
}

bool PCMChannel::clearRegion(u32 offset, u32 bytes)
{
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0;
    DWORD bytes2 = 0;
    if (!lockRegion(offset, bytes, &part1, &bytes1, &part2, &bytes2))
        return false;
    std::memset(part1, 0, bytes1);
    if (part2)
        std::memset(part2, 0, bytes2);
    return SUCCEEDED(buffer->Unlock(part1, bytes1, part2, bytes2));
}
