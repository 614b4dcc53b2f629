// An Ogg Vorbis file held whole in memory, decoded progressively into a
// one-second ring buffer by a thread of its own. The play cursor, counted
// across the ring's wraps, is the channel's time: the demo's clock.
#pragma once

#include "media/pcm_channel.h"

#include <windows.h>

#include <atomic>
#include <mutex>

struct OggVorbis_File;

class VorbisChannel : public PCMChannel {
public:
    OggVorbis_File* vf;
    const u8* fileData = nullptr; // owned once open has taken it
    u64 fileSize = 0;
    u64 readPos = 0;
    u32 segmentSize;
    u32 segmentCount;
    std::atomic<bool> loop{false};
    u8* decodeBuffer;
    u32 waitMs = 100;
    HANDLE event;
    HANDLE thread;
    DWORD threadId = 0;
    u32 wraps = 0;          // guarded by clockMutex
    u32 lastPlayCursor = 0; // guarded by clockMutex
    int bitstream = 0;
    u32 writeOffset = 0;
    u32 writeSegment = 1;

    static constexpr u32 kDecodeBytes = 4096;
    // Consecutive reads without a sample after which the stream counts as
    // ended: a damaged stream, or a looping one that yields nothing.
    static constexpr int kMaxIdleReads = 64;

    VorbisChannel(IDirectSound8* device, u32 segmentSize = 22050, u32 segmentCount = 8);
    ~VorbisChannel() override;

    bool play(bool loop) override;
    bool stop() override;
    double getTime() override;
    bool setPosition(double seconds) override;
    void update() override;
    // The data operation of the channel kind: open.
    bool write(u32 offset, const u8* data, u32 bytes) override;

    // Takes over data (allocated with new[]) when offset is 0, opens the
    // decoder on it and primes the ring. False when offset is not 0 or the
    // bytes are not an Ogg Vorbis stream.
    bool open(u32 offset, const u8* data, u32 size);
    // Decodes into the ring up to two segments behind the play cursor.
    void Fill();

private:
    static DWORD WINAPI streamThreadProc(LPVOID channel);
    // Reads the cursors once and counts a wrap of the play cursor; returns
    // the bytes played in all.
    u64 observeCursors(DWORD& play, DWORD& write);
    // A chunk of silence when the stream has ended.
    u32 silence();

    std::mutex clockMutex;
    std::atomic<bool> quit{false};
    bool opened = false;
    bool stalled = false; // the stream gave nothing for too long: silence from now on
};
