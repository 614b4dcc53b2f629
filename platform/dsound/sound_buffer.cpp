#include "platform/dsound/sound_buffer.h"

#include "platform/dsound/listener.h"

#include <algorithm>

namespace platform::dsound {

namespace {

HRESULT copyFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten)
{
    if (!format && !sizeWritten)
        return DSERR_INVALIDPARAM;
    if (format) {
        if (sizeAllocated < sizeof(WAVEFORMATEX))
            return DSERR_INVALIDPARAM;
        *format = SoundBuffer::format();
    }
    if (sizeWritten)
        *sizeWritten = sizeof(WAVEFORMATEX);
    return DS_OK;
}

} // namespace

const WAVEFORMATEX& SoundBuffer::format()
{
    static const WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 2, kSampleRate, kSampleRate * kFrameBytes, kFrameBytes, 16, 0};
    return pcm;
}

SoundBuffer::SoundBuffer(std::shared_ptr<Mixer> mixer, uint32_t bytes, DWORD flags)
    : mixer(std::move(mixer)), voice(bytes), flags(flags)
{
    this->mixer->add(&voice);
}

SoundBuffer::~SoundBuffer()
{
    mixer->remove(&voice);
}

STDMETHODIMP SoundBuffer::GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor)
{
    if (!playCursor && !writeCursor)
        return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(mixer->mutex);
    if (playCursor)
        *playCursor = mixer->playCursor(voice);
    if (writeCursor)
        *writeCursor = mixer->writeCursor(voice);
    return DS_OK;
}

STDMETHODIMP SoundBuffer::GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten)
{
    return copyFormat(format, sizeAllocated, sizeWritten);
}

STDMETHODIMP SoundBuffer::GetVolume(LPLONG volume)
{
    if (!volume)
        return DSERR_INVALIDPARAM;
    if (!(flags & DSBCAPS_CTRLVOLUME))
        return DSERR_CONTROLUNAVAIL;
    std::lock_guard<std::mutex> lock(mixer->mutex);
    *volume = voice.volume;
    return DS_OK;
}

STDMETHODIMP SoundBuffer::GetStatus(LPDWORD status)
{
    if (!status)
        return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(mixer->mutex);
    DWORD s = 0;
    if (voice.playing)
        s |= DSBSTATUS_PLAYING | (voice.looping ? DSBSTATUS_LOOPING : 0);
    if (voice.lostLocks > 0)
        s |= DSBSTATUS_BUFFERLOST;
    *status = s;
    return DS_OK;
}

STDMETHODIMP SoundBuffer::Lock(DWORD offset, DWORD bytes, LPVOID* part1, LPDWORD bytes1, LPVOID* part2,
                               LPDWORD bytes2, DWORD lockFlags)
{
    if (!part1 || !bytes1)
        return DSERR_INVALIDPARAM;
    *part1 = nullptr;
    *bytes1 = 0;
    if (part2)
        *part2 = nullptr;
    if (bytes2)
        *bytes2 = 0;
    std::lock_guard<std::mutex> lock(mixer->mutex);
    if (voice.lostLocks > 0) {
        --voice.lostLocks;
        return DSERR_BUFFERLOST;
    }
    if (lockFlags & DSBLOCK_FROMWRITECURSOR)
        offset = mixer->writeCursor(voice);
    if (lockFlags & DSBLOCK_ENTIREBUFFER)
        bytes = voice.size;
    if (offset >= voice.size || bytes == 0 || bytes > voice.size)
        return DSERR_INVALIDPARAM;
    const DWORD first = std::min(bytes, voice.size - offset);
    if (first < bytes && (!part2 || !bytes2))
        return DSERR_INVALIDPARAM;
    *part1 = voice.data.data() + offset;
    *bytes1 = first;
    if (first < bytes) {
        *part2 = voice.data.data();
        *bytes2 = bytes - first;
    }
    return DS_OK;
}

STDMETHODIMP SoundBuffer::Unlock(LPVOID part1, DWORD bytes1, LPVOID, DWORD bytes2)
{
    const auto* p = static_cast<const uint8_t*>(part1);
    const uint8_t* begin = voice.data.data();
    if (!p || p < begin || p >= begin + voice.size || bytes1 > voice.size
        || bytes2 > voice.size - bytes1)
        return DSERR_INVALIDPARAM;
    bool reached;
    {
        std::lock_guard<std::mutex> lock(mixer->mutex);
        voice.unlocked += static_cast<uint64_t>(bytes1) + bytes2;
        reached = voice.unlocked >= voice.awaited;
        if (reached)
            voice.awaited = UINT64_MAX; // the writes that follow before the waiter runs wake nobody
    }
    // Only a waiter whose count is reached is woken, and once, not once per chunk.
    if (reached)
        mixer->unlockedChanged.notify_all();
    return DS_OK;
}

STDMETHODIMP SoundBuffer::Play(DWORD reserved, DWORD, DWORD playFlags)
{
    if (reserved != 0)
        return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(mixer->mutex);
    if (voice.lostLocks > 0)
        return DSERR_BUFFERLOST;
    // Playing from where the buffer stands; a second Play only changes looping.
    voice.looping = (playFlags & DSBPLAY_LOOPING) != 0;
    voice.playing = true;
    return DS_OK;
}

STDMETHODIMP SoundBuffer::Stop()
{
    std::lock_guard<std::mutex> lock(mixer->mutex);
    if (voice.playing) {
        // What was mixed but not heard yet plays again on the next Play.
        mixer->placeVoice(voice, mixer->playCursor(voice));
        voice.playing = false;
    }
    return DS_OK;
}

STDMETHODIMP SoundBuffer::SetCurrentPosition(DWORD position)
{
    std::lock_guard<std::mutex> lock(mixer->mutex);
    if (position >= voice.size)
        return DSERR_INVALIDPARAM;
    mixer->placeVoice(voice, position);
    return DS_OK;
}

STDMETHODIMP SoundBuffer::SetVolume(LONG volume)
{
    if (!(flags & DSBCAPS_CTRLVOLUME))
        return DSERR_CONTROLUNAVAIL;
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX)
        return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(mixer->mutex);
    voice.volume = volume;
    voice.gain = Mixer::gainOf(volume);
    return DS_OK;
}

STDMETHODIMP SoundBuffer::Restore()
{
    return DS_OK;
}

PrimaryBuffer::PrimaryBuffer(Listener* listener, DWORD flags)
    : listener((flags & DSBCAPS_CTRL3D) ? listener : nullptr)
{
    if (this->listener)
        this->listener->AddRef();
}

PrimaryBuffer::~PrimaryBuffer()
{
    if (listener)
        listener->Release();
}

STDMETHODIMP PrimaryBuffer::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv && listener && riid == IID_IDirectSound3DListener) {
        listener->AddRef();
        *ppv = static_cast<IDirectSound3DListener*>(listener);
        return S_OK;
    }
    return ComObject::QueryInterface(riid, ppv);
}

STDMETHODIMP PrimaryBuffer::GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten)
{
    return copyFormat(format, sizeAllocated, sizeWritten);
}

STDMETHODIMP PrimaryBuffer::GetStatus(LPDWORD status)
{
    if (!status)
        return DSERR_INVALIDPARAM;
    *status = DSBSTATUS_PLAYING | DSBSTATUS_LOOPING;
    return DS_OK;
}

} // namespace platform::dsound
