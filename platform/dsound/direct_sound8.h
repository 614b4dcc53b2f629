// The DirectSound 8 device: makes buffers over its own mixer and plays the
// mix through an audio output, or only when a test advances it.
#pragma once

#include "platform/com/com_object.h"
#include "platform/dsound/dsound_interfaces.h"
#include "platform/dsound/mixer.h"
#include "platform/dsound/sdl_audio_output.h"

#include <memory>

namespace platform::dsound {

class Listener;

class DirectSound8 final : public ComObject<DirectSound8, IDirectSound8, IID_IDirectSound8> {
public:
    // Output null: a manual device.
    DirectSound8(std::shared_ptr<Mixer> mixer, std::unique_ptr<AudioOutput> output);
    ~DirectSound8();

    STDMETHODIMP CreateSoundBuffer(LPCDSBUFFERDESC desc, IDirectSoundBuffer** buffer, LPUNKNOWN outer) override;
    STDMETHODIMP SetCooperativeLevel(HWND window, DWORD level) override;

    const std::shared_ptr<Mixer> mixer;
    const std::unique_ptr<AudioOutput> output;

private:
    Listener* listener;
    DWORD cooperativeLevel = 0;
};

} // namespace platform::dsound
