// Sound buffers. A secondary buffer is a ring of 16-bit stereo PCM at
// 44,100 Hz that the device's mixer plays; the primary buffer only hands
// out the device's 3-D listener.
#pragma once

#include "platform/com/com_object.h"
#include "platform/dsound/dsound_interfaces.h"
#include "platform/dsound/mixer.h"

#include <memory>

namespace platform::dsound {

class Listener;

class SoundBuffer final : public ComObject<SoundBuffer, IDirectSoundBuffer8, IID_IDirectSoundBuffer,
                                           IID_IDirectSoundBuffer8> {
public:
    SoundBuffer(std::shared_ptr<Mixer> mixer, uint32_t bytes, DWORD flags);
    ~SoundBuffer();

    STDMETHODIMP GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) override;
    STDMETHODIMP GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten) override;
    STDMETHODIMP GetVolume(LPLONG volume) override;
    STDMETHODIMP GetStatus(LPDWORD status) override;
    STDMETHODIMP Lock(DWORD offset, DWORD bytes, LPVOID* part1, LPDWORD bytes1, LPVOID* part2,
                      LPDWORD bytes2, DWORD flags) override;
    STDMETHODIMP Play(DWORD reserved, DWORD priority, DWORD flags) override;
    STDMETHODIMP SetCurrentPosition(DWORD position) override;
    STDMETHODIMP SetVolume(LONG volume) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Unlock(LPVOID part1, DWORD bytes1, LPVOID part2, DWORD bytes2) override;
    STDMETHODIMP Restore() override;

    // The one wave format every secondary buffer plays.
    static const WAVEFORMATEX& format();

    const std::shared_ptr<Mixer> mixer;
    Voice voice;
    const DWORD flags;
};

class PrimaryBuffer final : public ComObject<PrimaryBuffer, IDirectSoundBuffer, IID_IDirectSoundBuffer> {
public:
    // listener: the device's, answered when the buffer has 3-D control.
    PrimaryBuffer(Listener* listener, DWORD flags);
    ~PrimaryBuffer();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;

    // The mixer's output cannot be written or driven directly.
    STDMETHODIMP GetCurrentPosition(LPDWORD, LPDWORD) override { return DSERR_INVALIDCALL; }
    STDMETHODIMP GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten) override;
    STDMETHODIMP GetVolume(LPLONG) override { return DSERR_INVALIDCALL; }
    STDMETHODIMP GetStatus(LPDWORD status) override;
    STDMETHODIMP Lock(DWORD, DWORD, LPVOID*, LPDWORD, LPVOID*, LPDWORD, DWORD) override { return DSERR_PRIOLEVELNEEDED; }
    STDMETHODIMP Play(DWORD, DWORD, DWORD) override { return DS_OK; }
    STDMETHODIMP SetCurrentPosition(DWORD) override { return DSERR_INVALIDCALL; }
    STDMETHODIMP SetVolume(LONG) override { return DSERR_CONTROLUNAVAIL; }
    STDMETHODIMP Stop() override { return DS_OK; }
    STDMETHODIMP Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return DSERR_INVALIDCALL; }
    STDMETHODIMP Restore() override { return DS_OK; }

private:
    Listener* listener; // referenced; null without 3-D control
};

} // namespace platform::dsound
