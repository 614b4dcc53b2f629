// The sound device that plays through DirectSound 8: raw ".pcm" files in
// PCMChannels and ".ogg" files streamed through VorbisChannels, with one
// 3-D listener whose settings take effect at each update.
#pragma once

#include "media/sound.h"

#include <dsound.h>

class DirectSound : public Sound {
public:
    IDirectSound8* device;
    IDirectSound3DListener* m_listener = nullptr; // from the primary buffer; may be missing
    DS3DLISTENER listener = {};                    // the record applied to it

    // A DirectSound device for the window, or a silent Sound when
    // DirectSound cannot start.
    static Sound* create(HWND window);

    // Takes over the device reference.
    explicit DirectSound(IDirectSound8* device);
    ~DirectSound() override;

    int createChannel(Stream& source, const char* name) override;
    void setListenerFactors(float distanceFactor, float dopplerFactor, float rolloffFactor) override;
    void setListener(float px, float py, float pz, float fx, float fy, float fz,
                     float tx, float ty, float tz, float vx, float vy, float vz) override;
    void setListenerPosition(float x, float y, float z) override;
    void update() override;

private:
    void applyListener();
};
