#include "media/vorbis_channel.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

size_t readCallback(void* ptr, size_t size, size_t nmemb, void* source)
{
    auto* c = static_cast<VorbisChannel*>(source);
    if (size == 0 || c->readPos >= c->fileSize)
        return 0;
    const u64 count = std::min<u64>(nmemb, (c->fileSize - c->readPos) / size);
    std::memcpy(ptr, c->fileData + c->readPos, count * size);
    c->readPos += count * size;
    return count;
}

int seekCallback(void* source, ogg_int64_t offset, int whence)
{
    auto* c = static_cast<VorbisChannel*>(source);
    const i64 size = static_cast<i64>(c->fileSize);
    i64 target = 0;
    switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = static_cast<i64>(c->readPos) + offset; break;
    case SEEK_END: target = size; break;
    default: return -1;
    }
    // The decoder's searches may aim outside the file: stay inside it.
    c->readPos = static_cast<u64>(std::clamp<i64>(target, 0, size));
    return 0;
}

int closeCallback(void*)
{
    return 0; // the memory lives as long as the channel
}

long tellCallback(void* source)
{
    return static_cast<long>(static_cast<VorbisChannel*>(source)->readPos);
}

} // namespace

VorbisChannel::VorbisChannel(IDirectSound8* device, u32 segmentSize, u32 segmentCount)
    : PCMChannel(device, segmentSize * segmentCount),
      vf(new OggVorbis_File{}),
      segmentSize(segmentSize),
      segmentCount(segmentCount),
      decodeBuffer(new u8[kDecodeBytes])
{
    event = CreateEventA(nullptr, FALSE, FALSE, "BufferNotify");
    thread = CreateThread(nullptr, 0, streamThreadProc, this, 0, &threadId);
    SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
}

VorbisChannel::~VorbisChannel()
{
    if (playing)
        stop();
    // The thread must be out of Fill before the decoder and the buffer go.
    // The event is shared by name, so the wake-up may reach another
    // channel's thread; the wait's time-out then ends ours.
    quit = true;
    SetEvent(event);
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    CloseHandle(event);
    if (opened)
        ov_clear(vf);
    delete vf;
    delete[] fileData;
    delete[] decodeBuffer;
}

DWORD WINAPI VorbisChannel::streamThreadProc(LPVOID parameter)
{
    auto* c = static_cast<VorbisChannel*>(parameter);
    while (!c->quit) {
        WaitForSingleObject(c->event, c->waitMs);
        if (c->playing && !c->quit)
            c->Fill();
    }
    return 0;
}

bool VorbisChannel::write(u32 offset, const u8* data, u32 bytes)
{
    return open(offset, data, bytes);
}

bool VorbisChannel::open(u32 offset, const u8* data, u32 size)
{
    if (offset != 0 || opened)
        return false;
    delete[] fileData;
    fileData = data;
    fileSize = size;
    readPos = 0;
    const ov_callbacks callbacks = {readCallback, seekCallback, closeCallback, tellCallback};
    if (ov_open_callbacks(this, vf, nullptr, 0, callbacks) != 0)
        return false; // vorbisfile has cleared the decoder itself
    opened = true;
    Fill();
    return true;
}

bool VorbisChannel::play(bool loopTrack)
{
    loop = loopTrack;
    if (playing || !buffer)
        return false;
    buffer->Play(0, 0, DSBPLAY_LOOPING); // the ring always loops
    playing = 1;
    SetEvent(event);
    return true;
}

bool VorbisChannel::stop()
{
    if (!playing)
        return false;
    playing = 0;
    if (buffer)
        buffer->Stop();
    return true;
}

u64 VorbisChannel::observeCursors(DWORD& play, DWORD& write)
{
    // Both threads count wraps, so a main-thread frame longer than the ring
    // loses no music time; one lock keeps the observations in order.
    std::lock_guard<std::mutex> lock(clockMutex);
    play = 0;
    write = 0;
    if (buffer)
        buffer->GetCurrentPosition(&play, &write);
    if (play < lastPlayCursor)
        ++wraps;
    lastPlayCursor = play;
    return static_cast<u64>(wraps) * segmentCount * segmentSize + play;
}

double VorbisChannel::getTime()
{
    DWORD play;
    DWORD write;
    return static_cast<double>(observeCursors(play, write)) * kSecondsPerByte;
}

bool VorbisChannel::setPosition(double)
{
    return false; // a stream cannot seek
}

void VorbisChannel::update()
{
    if (playing)
        SetEvent(event);
}

u32 VorbisChannel::silence()
{
    std::memset(decodeBuffer, 0, kDecodeBytes);
    return kDecodeBytes;
}

void VorbisChannel::Fill()
{
    if (!opened || !buffer || segmentSize == 0 || segmentCount == 0)
        return;
    DWORD play;
    DWORD write;
    observeCursors(play, write);
    const u32 playSegment = play / segmentSize;
    const u32 ringBytes = segmentSize * segmentCount;
    int idleReads = 0;
    u64 written = 0;
    // One call writes at most one ring: a buffer stopped away from its start
    // also has play == write, and the priming rule alone would then go
    // round the ring forever.
    while (!quit && written < ringBytes) {
        const u32 free = (segmentCount - writeSegment + playSegment) % segmentCount;
        // Before playback (play == write) the ring is primed until a chunk
        // begins in the last segment.
        if (free <= 2 && !(play == write && writeSegment < segmentCount - 1))
            break;
        long n = 0;
        if (!stalled)
            n = ov_read(vf, reinterpret_cast<char*>(decodeBuffer), kDecodeBytes, 0, 2, 1, &bitstream);
        if (n < 0) {
            // A hole or damage: read again, but not forever.
            if (++idleReads < kMaxIdleReads)
                continue;
            stalled = true;
            n = 0;
        }
        if (n == 0 && loop && !stalled) {
            if (++idleReads < kMaxIdleReads && ov_pcm_seek(vf, 0) == 0)
                continue;
            stalled = true;
        }
        if (n == 0)
            n = silence();
        else
            idleReads = 0;
        PCMChannel::write(writeOffset, decodeBuffer, static_cast<u32>(n));
        written += static_cast<u64>(n);
        writeSegment = writeOffset / segmentSize;
        writeOffset = static_cast<u32>((static_cast<u64>(writeOffset) + static_cast<u64>(n)) % ringBytes);
    }
}
