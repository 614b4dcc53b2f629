// Test switches of the DirectSound stand-in: a manual output clock that
// mixes only when a test advances it, read-back of the mixed samples and
// of what was written into a buffer, and faults on demand.
#pragma once

#include "platform/dsound/dsound_interfaces.h"

#include <cstdint>
#include <vector>

namespace platform::dsound {

// Devices created while this is set open no audio output: they mix only in
// advanceOutput, and their play cursors stand exactly at what was mixed.
void setManualOutput(bool manual);
// Mixes the next frames of a manual device and returns them (interleaved
// 16-bit stereo); empty for a device with real output.
std::vector<int16_t> advanceOutput(IDirectSound8* device, uint32_t frames);
// Frames mixed so far by the device (manual or real output).
uint64_t mixedFrames(IDirectSound8* device);
// The frames of one output block of a device with real output (0: manual).
uint32_t outputBlockFrames(IDirectSound8* device);

// Bytes handed back through Unlock so far.
uint64_t unlockedBytes(IDirectSoundBuffer* buffer);
// Waits until at least `bytes` have been unlocked in all; false on time-out.
bool waitForUnlockedBytes(IDirectSoundBuffer* buffer, uint64_t bytes, uint32_t timeoutMs);

// Faults: DirectSoundCreate8 fails; secondary buffer creation fails; the
// buffer's next `locks` Lock calls answer DSERR_BUFFERLOST (Restore answers
// DS_OK each time).
void failDeviceCreation(bool fail);
void failBufferCreation(bool fail);
void loseBuffer(IDirectSoundBuffer* buffer, int locks);

} // namespace platform::dsound
