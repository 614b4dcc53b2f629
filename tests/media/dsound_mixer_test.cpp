#include "platform/dsound/dsound_test_api.h"
#include "platform/dsound/mixer.h"

#include <dsound.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

namespace ds = platform::dsound;

WAVEFORMATEX pcmFormat()
{
    return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
}

// A manual device and its secondary buffers, filled with one sample value.
struct Mixing {
    IDirectSound8* device = nullptr;
    std::vector<IDirectSoundBuffer*> buffers;

    Mixing()
    {
        ds::setManualOutput(true);
        EXPECT_EQ(DirectSoundCreate8(nullptr, &device, nullptr), DS_OK);
        ds::setManualOutput(false);
    }
    ~Mixing()
    {
        for (IDirectSoundBuffer* b : buffers)
            b->Release();
        if (device)
            device->Release();
    }
    HRESULT create(DWORD bytes, IDirectSoundBuffer** out, WAVEFORMATEX format = pcmFormat(), DWORD flags = DSBCAPS_CTRLVOLUME)
    {
        DSBUFFERDESC desc = {sizeof(DSBUFFERDESC), flags, bytes, 0, &format, GUID_NULL};
        const HRESULT hr = device->CreateSoundBuffer(&desc, out, nullptr);
        if (SUCCEEDED(hr))
            buffers.push_back(*out);
        return hr;
    }
    IDirectSoundBuffer* filled(DWORD bytes, int16_t sample)
    {
        IDirectSoundBuffer* b = nullptr;
        EXPECT_EQ(create(bytes, &b), DS_OK);
        void* p1;
        void* p2;
        DWORD n1;
        DWORD n2;
        EXPECT_EQ(b->Lock(0, bytes, &p1, &n1, &p2, &n2, 0), DS_OK);
        std::vector<int16_t> samples(bytes / 2, sample);
        std::memcpy(p1, samples.data(), n1);
        b->Unlock(p1, n1, p2, n2);
        return b;
    }
};

TEST(DirectSoundMixerTest, LockRegions)
{
    Mixing m;
    IDirectSoundBuffer* b = m.filled(100, 0);
    const struct {
        DWORD offset, bytes, flags;
        HRESULT hr;
        DWORD first, second;
    } cases[] = {
        {0, 16, 0, DS_OK, 16, 0},           {92, 16, 0, DS_OK, 8, 8},
        {50, 0, DSBLOCK_ENTIREBUFFER, DS_OK, 50, 50}, {100, 4, 0, DSERR_INVALIDPARAM, 0, 0},
        {0, 0, 0, DSERR_INVALIDPARAM, 0, 0}, {0, 101, 0, DSERR_INVALIDPARAM, 0, 0},
    };
    for (const auto& c : cases) {
        void* p1 = nullptr;
        void* p2 = nullptr;
        DWORD n1 = 0;
        DWORD n2 = 0;
        EXPECT_EQ(b->Lock(c.offset, c.bytes, &p1, &n1, &p2, &n2, c.flags), c.hr) << c.offset;
        EXPECT_EQ(n1, c.first) << c.offset;
        EXPECT_EQ(n2, c.second) << c.offset;
        EXPECT_EQ(p2 != nullptr, c.second > 0) << c.offset;
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
        }
    }
    // A wrapping region needs somewhere to put its second part.
    void* p1 = nullptr;
    DWORD n1 = 0;
    EXPECT_EQ(b->Lock(92, 16, &p1, &n1, nullptr, nullptr, 0), DSERR_INVALIDPARAM);
}

TEST(DirectSoundMixerTest, CursorsAndStatus)
{
    Mixing m;
    IDirectSoundBuffer* b = m.filled(4000, 1);
    DWORD play = 1;
    DWORD write = 2;
    DWORD status = 9;
    b->GetCurrentPosition(&play, &write);
    EXPECT_EQ(play, write);
    b->Play(0, 0, DSBPLAY_LOOPING);
    b->GetStatus(&status);
    EXPECT_EQ(status, DWORD(DSBSTATUS_PLAYING | DSBSTATUS_LOOPING));
    ds::advanceOutput(m.device, 1100);
    b->GetCurrentPosition(&play, &write);
    EXPECT_EQ(play, 400u); // 4400 bytes into a ring of 4000
    EXPECT_NE(write, play);
    b->Stop();
    b->GetCurrentPosition(&play, &write);
    EXPECT_EQ(play, 400u);
    EXPECT_EQ(write, 400u);
    ds::loseBuffer(b, 1);
    b->GetStatus(&status);
    EXPECT_EQ(status, DWORD(DSBSTATUS_BUFFERLOST));
    ds::loseBuffer(b, 0);
}

TEST(DirectSoundMixerTest, VolumeAndSaturation)
{
    const struct {
        int16_t a, b;
        LONG volume;
        int16_t mixed;
    } cases[] = {
        {30000, 30000, 0, 32767}, {-30000, -30000, 0, -32768}, {1000, -400, 0, 600},
        {20000, 0, -10000, 0},    {20000, 0, -602, 10000},
    };
    for (const auto& c : cases) {
        Mixing m;
        IDirectSoundBuffer* a = m.filled(400, c.a);
        IDirectSoundBuffer* b = m.filled(400, c.b);
        EXPECT_EQ(a->SetVolume(c.volume), DS_OK);
        a->Play(0, 0, 0);
        b->Play(0, 0, 0);
        const std::vector<int16_t> out = ds::advanceOutput(m.device, 101);
        EXPECT_NEAR(out[0], c.mixed, 1) << c.a << " " << c.b << " " << c.volume;
        EXPECT_EQ(out[199], out[0]);
        EXPECT_EQ(out[200], 0); // one-shots stop at their end
    }
    Mixing m;
    IDirectSoundBuffer* a = m.filled(400, 1);
    EXPECT_EQ(a->SetVolume(1), DSERR_INVALIDPARAM);
    EXPECT_EQ(a->SetVolume(-10001), DSERR_INVALIDPARAM);
}

// Long output blocks into a buffer of stale samples: a one-shot that ends
// part-way through, first beside a short loop of rising samples that wraps
// several times, then alone.
TEST(DirectSoundMixerTest, LongBlocksEndWrapAndFillEveryFrame)
{
    ds::Mixer mixer(true);
    ds::Voice shot(700 * 4);
    ds::Voice loop(300 * 4);
    auto* shotSamples = reinterpret_cast<int16_t*>(shot.data.data());
    auto* loopSamples = reinterpret_cast<int16_t*>(loop.data.data());
    std::fill(shotSamples, shotSamples + 700 * 2, int16_t(1000));
    for (int16_t f = 0; f < 300; ++f)
        loopSamples[2 * f] = loopSamples[2 * f + 1] = f;
    mixer.add(&shot);
    mixer.add(&loop);
    shot.playing = loop.playing = loop.looping = true;
    std::vector<int16_t> out(1500 * 2, 12345);
    mixer.mix(out.data(), 1500);
    const struct {
        int frame;
        int16_t left;
    } together[] = {{0, 1000}, {299, 1299}, {300, 1000}, {650, 1050}, {699, 1099}, {700, 100}, {1100, 200}, {1499, 299}};
    for (const auto& c : together)
        EXPECT_EQ(out[size_t(c.frame) * 2], c.left) << c.frame;

    loop.playing = false;
    shot.playing = true;
    std::fill(out.begin(), out.end(), int16_t(12345));
    mixer.mix(out.data(), 1500);
    const struct {
        int frame;
        int16_t left;
    } alone[] = {{0, 1000}, {699, 1000}, {700, 0}, {1499, 0}};
    for (const auto& c : alone)
        EXPECT_EQ(out[size_t(c.frame) * 2], c.left) << c.frame;
    mixer.remove(&shot);
    mixer.remove(&loop);
}

TEST(DirectSoundMixerTest, BufferCreationChecks)
{
    Mixing m;
    IDirectSoundBuffer* b = nullptr;
    WAVEFORMATEX mono = pcmFormat();
    mono.nChannels = 1;
    EXPECT_EQ(m.create(400, &b, mono), DSERR_BADFORMAT);
    EXPECT_EQ(m.create(3, &b), DSERR_INVALIDPARAM);
    EXPECT_EQ(b, nullptr);
    DSBUFFERDESC primary = {sizeof(DSBUFFERDESC), DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, 0, nullptr, GUID_NULL};
    ASSERT_EQ(m.device->CreateSoundBuffer(&primary, &b, nullptr), DS_OK);
    void* listener = nullptr;
    EXPECT_EQ(b->QueryInterface(IID_IDirectSound3DListener, &listener), S_OK);
    b->Release();
    ASSERT_NE(listener, nullptr);
    static_cast<IDirectSound3DListener*>(listener)->Release();
    ASSERT_EQ(m.create(400, &b), DS_OK);
    EXPECT_EQ(b->QueryInterface(IID_IDirectSound3DBuffer, &listener), E_NOINTERFACE);
}

} // namespace
