#include "sound_test_support.h"

#include "foundation/sar_archive.h"
#include "tools/sarpack/sar_writer.h"
#include "scoped_state.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using soundtest::ManualSound;
using soundtest::music;
using soundtest::Streamer;

constexpr size_t kTrackBytes = 3528000; // 20 s of 44.1 kHz 16-bit stereo

// The bytes of the ring, read back through Lock.
std::vector<u8> ringOf(VorbisChannel* c)
{
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    std::vector<u8> ring;
    if (SUCCEEDED(c->buffer->Lock(0, c->size, &p1, &n1, &p2, &n2, 0))) {
        ring.assign(static_cast<u8*>(p1), static_cast<u8*>(p1) + n1);
        c->buffer->Unlock(p1, n1, p2, n2);
    }
    return ring;
}

// The track packed into a SAR archive on disk, as the demo reads its music.
struct TrackArchive {
    TrackArchive()
    {
        SarWriter writer;
        EXPECT_TRUE(writer.add("music/tune.ogg", soundtest::readFile(music("tune.ogg"))));
        const std::vector<u8> bytes = writer.build();
        soundtest::writeFile(path, bytes);
        mounted = archive.mount(path.c_str());
    }
    std::string path = "music.sar";
    FileStream disk{""};
    SarArchive archive{disk};
    bool mounted = false;
};

TEST(VorbisChannelTest, OpenPrimesTheRingUpToAChunkInTheLastSegment)
{
    ManualSound s;
    const int h = s.load(music("tune.ogg"));
    VorbisChannel* c = s.channel<VorbisChannel>(h);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->writeSegment, 7u);
    EXPECT_GT(c->writeOffset, 7u * 22050);
    EXPECT_EQ(platform::dsound::unlockedBytes(c->buffer), c->writeOffset);
    const std::vector<u8> raw = soundtest::readFile(music("tune.raw"));
    const std::vector<u8> ring = ringOf(c);
    ASSERT_EQ(ring.size(), 176400u);
    EXPECT_TRUE(std::equal(ring.begin(), ring.begin() + c->writeOffset, raw.begin()));
    EXPECT_FALSE(c->setPosition(0.0));
    // Stopped away from the start, play == write as well: one refill then
    // writes at most one ring instead of going round forever.
    const u64 before = platform::dsound::unlockedBytes(c->buffer);
    c->buffer->SetCurrentPosition(2 * 22050 + 100);
    c->Fill();
    EXPECT_LE(platform::dsound::unlockedBytes(c->buffer) - before, 176400u + VorbisChannel::kDecodeBytes);
}

TEST(VorbisChannelTest, TrackFromAnArchiveStreamsBitExact)
{
    const std::vector<u8> raw = soundtest::readFile(music("tune.raw"));
    ASSERT_EQ(raw.size(), kTrackBytes);
    for (bool loop : {false, true}) {
        SCOPED_TRACE(loop ? "loop" : "once");
        TrackArchive sar;
        ASSERT_TRUE(sar.mounted);
        ManualSound s;
        const int h = s.sound->createChannel(sar.archive, "music\\tune.ogg");
        VorbisChannel* c = s.channel<VorbisChannel>(h);
        ASSERT_NE(c, nullptr);
        ASSERT_TRUE(s.sound->play(h, loop));
        Streamer streamer{s, c};
        const std::vector<u8> out = streamer.run(168); // 21 s
        ASSERT_GE(out.size(), kTrackBytes + 100000);
        EXPECT_TRUE(std::equal(raw.begin(), raw.end(), out.begin())) << "the track differs";
        if (loop)
            EXPECT_TRUE(std::equal(out.begin() + kTrackBytes, out.end(), raw.begin())) << "no restart";
        else
            EXPECT_TRUE(std::all_of(out.begin() + kTrackBytes, out.end(), [](u8 b) { return b == 0; }));
        EXPECT_NEAR(c->getTime(), 21.0, 1e-4); // also after the end of a track played once
    }
}

TEST(VorbisChannelTest, TimeCountsWrapsOfTheRing)
{
    ManualSound s;
    const int h = s.load(music("tune.ogg"));
    VorbisChannel* c = s.channel<VorbisChannel>(h);
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(s.sound->play(h, false));
    Streamer streamer{s, c};
    for (int i = 0; i < 28; ++i) {
        streamer.run(1);
        EXPECT_NEAR(s.sound->getTime(h), (i + 1) * 0.125, 1e-4);
    }
    DWORD play = 0;
    c->buffer->GetCurrentPosition(&play, nullptr);
    EXPECT_EQ(play, 88200u);
    EXPECT_NEAR(s.sound->getTime(h), 3.5, 1e-4);
}

TEST(VorbisChannelTest, PlayStopAndPlayAgain)
{
    const std::vector<u8> raw = soundtest::readFile(music("tune.raw"));
    ManualSound s;
    const int h = s.load(music("tune.ogg"));
    VorbisChannel* c = s.channel<VorbisChannel>(h);
    ASSERT_NE(c, nullptr);
    EXPECT_FALSE(s.sound->stop(h));
    EXPECT_TRUE(s.sound->play(h, false));
    EXPECT_FALSE(s.sound->play(h, true)); // already playing, but the flag is taken
    EXPECT_TRUE(c->loop);
    EXPECT_FALSE(s.sound->isPlaying(h)); // the ring always loops
    std::vector<u8> out = soundtest::asBytes(s.advance(1000));
    EXPECT_TRUE(s.sound->stop(h));
    const std::vector<u8> paused = soundtest::asBytes(s.advance(5000));
    EXPECT_TRUE(std::all_of(paused.begin(), paused.end(), [](u8 b) { return b == 0; }));
    EXPECT_NEAR(s.sound->getTime(h), 1000 / 44100.0, 1e-6);
    EXPECT_TRUE(s.sound->play(h, false));
    const std::vector<u8> more = soundtest::asBytes(s.advance(2000));
    out.insert(out.end(), more.begin(), more.end());
    EXPECT_TRUE(std::equal(out.begin(), out.end(), raw.begin()));
}

// Copies of the track cut or damaged in the ways a broken file can be.
std::vector<u8> variant(const std::vector<u8>& ogg, const char* kind)
{
    auto pageStart = [&](int index) {
        size_t at = 0;
        for (int found = -1; at + 4 <= ogg.size(); ++at)
            if (std::memcmp(&ogg[at], "OggS", 4) == 0 && ++found == index)
                return at;
        return ogg.size();
    };
    std::vector<u8> v = ogg;
    if (!std::strcmp(kind, "empty"))
        v.clear();
    else if (!std::strcmp(kind, "headers only"))
        v.resize(pageStart(2)); // the identification page, then comment and setup
    else if (!std::strcmp(kind, "cut mid-page"))
        v.resize(pageStart(5) + 300);
    else if (!std::strcmp(kind, "damaged pages"))
        for (size_t i = v.size() / 4; i < v.size() / 4 + 3000; i += 7)
            v[i] ^= 0x5A;
    return v;
}

TEST(VorbisChannelTest, BrokenStreamsPlaySilenceWithoutHanging)
{
    const std::vector<u8> tune = soundtest::readFile(music("tune.ogg"));
    const struct {
        const char* kind;
        const char* file;
        bool opens;
    } cases[] = {
        {"empty", "tune.ogg", false},         {"headers only", "tune.ogg", true},
        {"cut mid-page", "tune.ogg", true},   {"damaged pages", "tune.ogg", true},
        {"mono", "mono.ogg", true},           {"48 kHz", "rate48.ogg", true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.kind);
        const std::vector<u8> source = !std::strcmp(k.file, "tune.ogg") ? tune : soundtest::readFile(music(k.file));
        soundtest::writeFile("broken.ogg", variant(source, k.kind));
        for (bool loop : {false, true}) {
            ManualSound s;
            const int h = s.load("broken.ogg");
            ASSERT_EQ(h > 0, k.opens);
            if (h < 0)
                continue;
            ASSERT_TRUE(s.sound->play(h, loop));
            Streamer streamer{s, s.channel<VorbisChannel>(h)};
            streamer.run(12);
            EXPECT_NEAR(s.sound->getTime(h), 1.5, 1e-5);
        }
    }
}

TEST(VorbisChannelTest, ChannelsDestroyedWhileStreaming)
{
    for (int i = 0; i < 6; ++i) {
        ManualSound s;
        const int a = s.load(music("tune.ogg"));
        const int b = s.load(music("mono.ogg"));
        ASSERT_TRUE(s.sound->play(a, true));
        ASSERT_TRUE(s.sound->play(b, true));
        s.advance(30000 + 5000 * i);
        s.sound->update();
    }
}

// On a real output (SDL's silent driver here), the clock follows the frames
// the output has consumed, smoothly between its blocks.
TEST(VorbisChannelTest, ClockFollowsTheOutputSmoothly)
{
    testsupport::ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    std::unique_ptr<Sound> sound(DirectSound::create(nullptr));
    auto* ds = dynamic_cast<DirectSound*>(sound.get());
    ASSERT_NE(ds, nullptr);
    FileStream disk("");
    const int h = sound->createChannel(disk, music("tune.ogg").c_str());
    ASSERT_GT(h, 0);
    const u64 block = platform::dsound::outputBlockFrames(ds->device);
    ASSERT_GT(block, 0u);
    const u64 before = platform::dsound::mixedFrames(ds->device);
    ASSERT_TRUE(sound->play(h, false));
    const u64 after = platform::dsound::mixedFrames(ds->device);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    double last = 0.0;
    auto lastAt = start;
    int jumps = 0;
    int outside = 0;
    while (Clock::now() - start < std::chrono::seconds(3)) {
        sound->update();
        const u64 m0 = platform::dsound::mixedFrames(ds->device);
        const auto at = Clock::now();
        const double t = sound->getTime(h);
        const auto readEnd = Clock::now();
        const u64 m1 = platform::dsound::mixedFrames(ds->device);
        ASSERT_GE(t, last);
        const double frames = t * 44100.0;
        if (frames > static_cast<double>(m1 - before) + 2 || frames + block + 2 < static_cast<double>(m0 - after))
            ++outside;
        // From before the previous reading to after this one: a pause of the
        // test thread itself is no jump of the clock.
        const double elapsed = std::chrono::duration<double>(readEnd - lastAt).count() * 44100.0;
        if ((t - last) * 44100.0 > elapsed + block / 2.0)
            ++jumps;
        last = t;
        lastAt = at;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_GT(last, 2.5);
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(jumps, 0);
}

// Through SDL's disk driver the samples of a raw file reach the output file.
TEST(VorbisChannelTest, PcmReachesTheDiskDriver)
{
    std::remove("disk_output.raw");
    testsupport::ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    testsupport::ScopedEnv file("SDL_DISKAUDIOFILE", "disk_output.raw");
    testsupport::ScopedEnv delay("SDL_DISKAUDIODELAY", "2");
    std::unique_ptr<Sound> sound(DirectSound::create(nullptr));
    ASSERT_NE(dynamic_cast<DirectSound*>(sound.get()), nullptr);
    FileStream disk("");
    const int h = sound->createChannel(disk, music("click.pcm").c_str());
    ASSERT_TRUE(sound->play(h, false));
    for (int i = 0; i < 5000 && sound->isPlaying(h); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(sound->isPlaying(h));
    sound.reset(); // closes the file
    const std::vector<u8> pcm = soundtest::readFile(music("click.pcm"));
    const std::vector<u8> out = soundtest::readFile("disk_output.raw");
    auto firstSound = [](const std::vector<u8>& v) {
        return std::find_if(v.begin(), v.end(), [](u8 b) { return b != 0; }) - v.begin();
    };
    const size_t from = static_cast<size_t>(firstSound(pcm) & ~3);
    const size_t at = static_cast<size_t>(firstSound(out) & ~3);
    ASSERT_GE(out.size(), at + pcm.size() - from);
    EXPECT_TRUE(std::equal(pcm.begin() + from, pcm.end(), out.begin() + at));
}

} // namespace
