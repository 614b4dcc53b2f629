#include "platform/dsound/direct_sound8.h"

#include "platform/com/com.h"
#include "platform/dsound/dsound_test_api.h"
#include "platform/dsound/listener.h"
#include "platform/dsound/sound_buffer.h"

#include <atomic>
#include <chrono>
#include <new>

namespace platform::dsound {

namespace {

std::atomic<bool> manualOutput{false};
std::atomic<bool> deviceCreationFails{false};
std::atomic<bool> bufferCreationFails{false};

bool isOurFormat(const WAVEFORMATEX& f)
{
    const WAVEFORMATEX& ours = SoundBuffer::format();
    return f.wFormatTag == ours.wFormatTag && f.nChannels == ours.nChannels
           && f.nSamplesPerSec == ours.nSamplesPerSec && f.nAvgBytesPerSec == ours.nAvgBytesPerSec
           && f.nBlockAlign == ours.nBlockAlign && f.wBitsPerSample == ours.wBitsPerSample;
}

DirectSound8* deviceOf(IDirectSound8* device)
{
    return dynamic_cast<DirectSound8*>(device);
}

SoundBuffer* bufferOf(IDirectSoundBuffer* buffer)
{
    return dynamic_cast<SoundBuffer*>(buffer);
}

} // namespace

DirectSound8::DirectSound8(std::shared_ptr<Mixer> mixer, std::unique_ptr<AudioOutput> output)
    : mixer(std::move(mixer)), output(std::move(output)), listener(new Listener)
{
}

DirectSound8::~DirectSound8()
{
    // The output is closed by its member's destructor, after which no
    // callback reaches the mixer; buffers still alive keep the mixer.
    listener->Release();
}

STDMETHODIMP DirectSound8::CreateSoundBuffer(LPCDSBUFFERDESC desc, IDirectSoundBuffer** buffer, LPUNKNOWN outer)
{
    if (!buffer)
        return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!desc || desc->dwSize != sizeof(DSBUFFERDESC))
        return DSERR_INVALIDPARAM;
    if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) {
        if (desc->dwBufferBytes != 0 || desc->lpwfxFormat)
            return DSERR_INVALIDPARAM;
        *buffer = new PrimaryBuffer(listener, desc->dwFlags);
        return DS_OK;
    }
    if (!desc->lpwfxFormat || desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX)
        return DSERR_INVALIDPARAM;
    if (!isOurFormat(*desc->lpwfxFormat))
        return DSERR_BADFORMAT;
    if (bufferCreationFails)
        return DSERR_OUTOFMEMORY;
    SoundBuffer* made = new (std::nothrow) SoundBuffer(mixer, desc->dwBufferBytes, desc->dwFlags);
    if (!made)
        return DSERR_OUTOFMEMORY;
    *buffer = made;
    return DS_OK;
}

STDMETHODIMP DirectSound8::SetCooperativeLevel(HWND, DWORD level)
{
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY)
        return DSERR_INVALIDPARAM;
    cooperativeLevel = level;
    return DS_OK;
}

void setManualOutput(bool manual)
{
    manualOutput = manual;
}

void failDeviceCreation(bool fail)
{
    deviceCreationFails = fail;
}

void failBufferCreation(bool fail)
{
    bufferCreationFails = fail;
}

std::vector<int16_t> advanceOutput(IDirectSound8* device, uint32_t frames)
{
    DirectSound8* ds = deviceOf(device);
    if (!ds || !ds->mixer->manual)
        return {};
    std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
    ds->mixer->mix(out.data(), frames);
    return out;
}

uint64_t mixedFrames(IDirectSound8* device)
{
    DirectSound8* ds = deviceOf(device);
    if (!ds)
        return 0;
    std::lock_guard<std::mutex> lock(ds->mixer->mutex);
    return ds->mixer->framesMixed;
}

uint32_t outputBlockFrames(IDirectSound8* device)
{
    DirectSound8* ds = deviceOf(device);
    return ds && ds->output ? ds->output->blockFrames() : 0;
}

uint64_t unlockedBytes(IDirectSoundBuffer* buffer)
{
    SoundBuffer* b = bufferOf(buffer);
    if (!b)
        return 0;
    std::lock_guard<std::mutex> lock(b->mixer->mutex);
    return b->voice.unlocked;
}

bool waitForUnlockedBytes(IDirectSoundBuffer* buffer, uint64_t bytes, uint32_t timeoutMs)
{
    SoundBuffer* b = bufferOf(buffer);
    if (!b)
        return false;
    std::unique_lock<std::mutex> lock(b->mixer->mutex);
    b->voice.awaited = bytes;
    const bool reached = b->mixer->unlockedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                                            [&] { return b->voice.unlocked >= bytes; });
    b->voice.awaited = UINT64_MAX;
    return reached;
}

void loseBuffer(IDirectSoundBuffer* buffer, int locks)
{
    if (SoundBuffer* b = bufferOf(buffer)) {
        std::lock_guard<std::mutex> lock(b->mixer->mutex);
        b->voice.lostLocks = locks;
    }
}

} // namespace platform::dsound

using namespace platform::dsound;

HRESULT WINAPI DirectSoundCreate8(LPCGUID device, LPDIRECTSOUND8* ds, LPUNKNOWN outer)
{
    if (!ds)
        return DSERR_INVALIDPARAM;
    *ds = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (device && *device != GUID_NULL)
        return DSERR_NODRIVER;
    if (deviceCreationFails)
        return DSERR_NODRIVER;
    auto mixer = std::make_shared<Mixer>(manualOutput.load());
    std::unique_ptr<AudioOutput> output;
    if (!mixer->manual) {
        output = AudioOutput::open(*mixer);
        if (!output)
            return DSERR_NODRIVER;
    }
    *ds = new DirectSound8(std::move(mixer), std::move(output));
    return DS_OK;
}
