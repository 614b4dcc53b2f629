#include "sound_test_support.h"

#include "foundation/diagnostics.h"
#include "media/pcm_channel.h"
#include "media/sound_channel.h"

#include "log_test_support.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using soundtest::ManualSound;
using soundtest::music;

// A raw PCM file of one second: a ramp, so that every sample differs.
std::string secondOfPcm()
{
    std::vector<u8> bytes(176400);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<u8>(i * 7 + 3);
    soundtest::writeFile("second.pcm", bytes);
    return "second.pcm";
}

LONG volumeOf(PCMChannel* c)
{
    LONG v = 1;
    c->buffer->GetVolume(&v);
    return v;
}

DWORD playCursorOf(PCMChannel* c)
{
    DWORD play = 0;
    c->buffer->GetCurrentPosition(&play, nullptr);
    return play;
}

TEST(SoundDeviceTest, HandlesOutsideTheListDoNothing)
{
    ManualSound direct;
    ASSERT_NE(direct.ds, nullptr);
    Sound silent;
    FileStream disk("");
    for (Sound* s : {static_cast<Sound*>(&silent), direct.sound.get()}) {
        const int h = s == &silent ? s->createChannel(disk, "anything") : direct.load(secondOfPcm());
        ASSERT_EQ(h, 1);
        for (int bad : {0, 2, -1}) {
            SCOPED_TRACE(bad);
            EXPECT_FALSE(s->play(bad, false));
            EXPECT_FALSE(s->stop(bad));
            EXPECT_FALSE(s->setVolume(bad, 0.5f));
            EXPECT_FALSE(s->setPosition(bad, 0.0));
            EXPECT_FALSE(s->isPlaying(bad));
            EXPECT_EQ(s->getTime(bad), 0.0);
            s->setChannel3D(bad, 1, 2, 3, 4, 5, 6, 7, 8, 9);
            s->setChannelCone(bad, 1.0f, 2.0f, -100);
            s->setChannelDistances(bad, 1.0f, 2.0f);
        }
    }
}

TEST(SoundDeviceTest, SilentChannelsKeepTimeWithTheTickCount)
{
    platform::setManualClock(true);
    Sound silent;
    FileStream disk("");
    const int h = silent.createChannel(disk, "music.ogg");
    platform::advanceClock(1500);
    EXPECT_TRUE(silent.play(h, true));
    platform::advanceClock(2250);
    EXPECT_DOUBLE_EQ(silent.getTime(h), 2.25);
    EXPECT_TRUE(silent.isPlaying(h));
    EXPECT_TRUE(silent.stop(h));
    EXPECT_FALSE(silent.isPlaying(h));
    platform::setManualClock(false);
}

TEST(SoundDeviceTest, ChannelKindFromTheNameEnding)
{
    ManualSound s;
    const std::vector<u8> ogg = soundtest::readFile(music("mono.ogg"));
    const struct {
        const char* name;
        bool made;
    } cases[] = {
        {"upper.OGG", true}, {"plain.ogg", true}, {"raw.PcM", true}, {"track.ogg2", false},
        {"sound.wav", false}, {"og", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        soundtest::writeFile(c.name, std::string(c.name).find("PcM") != std::string::npos
                                         ? std::vector<u8>(4000, 1) : ogg);
        const int h = s.load(c.name);
        EXPECT_EQ(h > 0, c.made);
    }
    EXPECT_EQ(s.load("no_such_file.ogg"), -1);
    EXPECT_NE(s.channel<VorbisChannel>(1), nullptr);
    EXPECT_NE(s.channel<PCMChannel>(3), nullptr);
    EXPECT_EQ(s.channel<VorbisChannel>(3), nullptr);
}

TEST(SoundDeviceTest, VolumeAndPositionOnAPcmChannel)
{
    ManualSound s;
    const int h = s.load(secondOfPcm());
    PCMChannel* c = s.channel<PCMChannel>(h);
    ASSERT_NE(c, nullptr);
    const struct {
        float volume;
        LONG expected;
    } volumes[] = {{1.0f, 0}, {0.5f, -5000}, {0.0f, -10000}, {1.7f, 0}, {-0.3f, -10000}};
    for (const auto& v : volumes) {
        EXPECT_TRUE(s.sound->setVolume(h, v.volume));
        EXPECT_EQ(volumeOf(c), v.expected) << v.volume;
    }
    const struct {
        double seconds;
        bool accepted;
        DWORD cursor;
    } positions[] = {{0.5, true, 88200}, {1.0, false, 88200}, {0.0, true, 0},
                     {-0.25, false, 0}, {1e12, false, 0}, {-1e12, false, 0}, {NAN, false, 0}};
    for (const auto& p : positions) {
        EXPECT_EQ(s.sound->setPosition(h, p.seconds), p.accepted) << p.seconds;
        EXPECT_EQ(playCursorOf(c), p.cursor) << p.seconds;
        EXPECT_NEAR(s.sound->getTime(h), p.cursor / 176400.0, 1e-5) << p.seconds;
    }
}

TEST(SoundDeviceTest, IsPlayingOnlyForAOneShotUntilItsLastSample)
{
    ManualSound s;
    const int h = s.load(secondOfPcm());
    EXPECT_FALSE(s.sound->isPlaying(h));
    EXPECT_TRUE(s.sound->play(h, true));
    EXPECT_FALSE(s.sound->isPlaying(h)); // a looping buffer reports LOOPING too
    s.advance(50000);
    EXPECT_FALSE(s.sound->isPlaying(h));
    EXPECT_TRUE(s.sound->stop(h));
    EXPECT_TRUE(s.sound->setPosition(h, 0.0));
    EXPECT_TRUE(s.sound->play(h, false));
    EXPECT_TRUE(s.sound->isPlaying(h));
    s.advance(44099);
    EXPECT_TRUE(s.sound->isPlaying(h));
    s.advance(1);
    EXPECT_FALSE(s.sound->isPlaying(h));
}

TEST(SoundDeviceTest, ChannelThreeDRecordsAreKeptAndReportedAtLevelThree)
{
    testsupport::LevelGuard level;
    ManualSound s;
    const int h = s.load(secondOfPcm());
    PCMChannel* c = s.channel<PCMChannel>(h);
    for (int lvl : {2, 3}) {
        diagnosticsLevel = lvl;
        platform::clearRecordedMessageBoxes();
        s.sound->setChannelCone(h, std::numbers::pi_v<float>, std::numbers::pi_v<float> / 2, -1000);
        s.sound->setChannel3D(h, 1, 2, 3, 4, 5, 6, 7, 8, 9);
        s.sound->setChannelDistances(h, 2.5f, 40.0f);
        // One check: its box shows once, however often it fails.
        const auto& boxes = platform::recordedMessageBoxes();
        ASSERT_EQ(boxes.size(), lvl == 3 ? 1u : 0u);
        for (const auto& box : boxes)
            EXPECT_EQ(box.text, "m_3dbuffer");
    }
    EXPECT_EQ(c->record.dwInsideConeAngle, 180u);
    EXPECT_EQ(c->record.dwOutsideConeAngle, 90u);
    EXPECT_EQ(c->record.lConeOutsideVolume, -1000);
    EXPECT_EQ(c->record.vPosition.z, 3.0f);
    EXPECT_EQ(c->record.vConeOrientation.x, 4.0f);
    EXPECT_EQ(c->record.vVelocity.y, 8.0f);
    EXPECT_EQ(c->record.flMinDistance, 2.5f);
    EXPECT_EQ(c->record.flMaxDistance, 40.0f);
    platform::clearRecordedMessageBoxes();
}

TEST(SoundDeviceTest, ListenerSettingsTakeEffectAtUpdate)
{
    ManualSound s;
    ASSERT_NE(s.ds->m_listener, nullptr);
    DS3DLISTENER seen = {};
    seen.dwSize = sizeof(seen);
    auto read = [&] {
        EXPECT_EQ(s.ds->m_listener->GetAllParameters(&seen), DS_OK);
        return seen;
    };
    s.sound->setListener(1, 2, 3, 0, 0, 1, 0, 1, 0, 4, 5, 6);
    s.sound->setListenerFactors(2.0f, 3.0f, 4.0f);
    EXPECT_EQ(read().vPosition.x, 0.0f);
    s.sound->update();
    EXPECT_EQ(read().vPosition.y, 2.0f);
    EXPECT_EQ(seen.vVelocity.z, 6.0f);
    EXPECT_EQ(seen.vOrientTop.y, 1.0f);
    EXPECT_EQ(seen.flDistanceFactor, 2.0f);
    EXPECT_EQ(seen.flDopplerFactor, 3.0f);
    EXPECT_EQ(seen.flRolloffFactor, 4.0f);
    s.sound->setListenerPosition(10, 0, 10);
    EXPECT_EQ(read().vPosition.x, 1.0f);
    s.sound->update();
    EXPECT_EQ(read().vPosition.x, 10.0f);
    EXPECT_EQ(seen.vVelocity.z, 6.0f); // the rest of the record stays

    // Without a listener the record is kept and the assertion reported.
    testsupport::LevelGuard level;
    diagnosticsLevel = 3;
    platform::clearRecordedMessageBoxes();
    DirectSound bare(nullptr);
    bare.setListenerPosition(7, 8, 9);
    bare.update();
    EXPECT_EQ(bare.listener.vPosition.y, 8.0f);
    ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
    EXPECT_NE(platform::recordedMessageBoxes()[0].text.find("m_listener"), std::string::npos);
    platform::clearRecordedMessageBoxes();
}

TEST(SoundDeviceTest, FailuresGiveASilentDeviceOrNoChannel)
{
    platform::dsound::failDeviceCreation(true);
    std::unique_ptr<Sound> fallback(DirectSound::create(nullptr));
    platform::dsound::failDeviceCreation(false);
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(dynamic_cast<DirectSound*>(fallback.get()), nullptr);

    ManualSound s;
    const std::string pcm = secondOfPcm();
    platform::dsound::failBufferCreation(true);
    EXPECT_EQ(s.load(pcm), -1);
    EXPECT_EQ(s.load(music("tune.ogg")), -1);
    platform::dsound::failBufferCreation(false);
    // Files too short for a buffer, and bytes that are not Ogg Vorbis.
    soundtest::writeFile("empty.pcm", {});
    soundtest::writeFile("tiny.pcm", {1, 2, 3});
    soundtest::writeFile("text.ogg", {'n', 'o', 't', ' ', 'o', 'g', 'g'});
    for (const char* name : {"empty.pcm", "tiny.pcm", "text.ogg"})
        EXPECT_EQ(s.load(name), -1) << name;
    EXPECT_EQ(s.sound->channelCount(), 0);
}

TEST(SoundDeviceTest, LostBufferIsRestoredOnce)
{
    ManualSound s;
    PCMChannel* c = s.channel<PCMChannel>(s.load(secondOfPcm()));
    ASSERT_NE(c, nullptr);
    const u8 data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const struct {
        int losses;
        bool written;
    } cases[] = {{0, true}, {1, true}, {2, false}};
    for (const auto& k : cases) {
        platform::dsound::loseBuffer(c->buffer, k.losses);
        EXPECT_EQ(c->write(176396, data, 8), k.written) << k.losses;
        platform::dsound::loseBuffer(c->buffer, k.losses);
        EXPECT_EQ(c->clearRegion(176396, 8), k.written) << k.losses;
    }
    platform::dsound::loseBuffer(c->buffer, 0);
}

TEST(SoundDeviceTest, RawPcmPlaysBitExactAtFullVolume)
{
    ManualSound s;
    const std::vector<u8> pcm = soundtest::readFile(music("click.pcm"));
    ASSERT_EQ(pcm.size(), 44100u);
    const int h = s.load(music("click.pcm"));
    ASSERT_TRUE(s.sound->play(h, false));
    const std::vector<u8> out = soundtest::asBytes(s.advance(11025 + 100));
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), out.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + 44100, out.end(), [](u8 b) { return b == 0; }));
}

TEST(SoundDeviceTest, OddSizedPcmPlaysItsWholeFrames)
{
    ManualSound s;
    soundtest::writeFile("odd.pcm", {1, 0, 2, 0, 3, 0, 4, 0, 9});
    const int h = s.load("odd.pcm");
    ASSERT_GT(h, 0);
    EXPECT_TRUE(s.sound->play(h, false));
    const std::vector<int16_t> out = s.advance(4);
    EXPECT_EQ(out, (std::vector<int16_t>{1, 2, 3, 4, 0, 0, 0, 0}));
    EXPECT_FALSE(s.sound->isPlaying(h));
}

} // namespace
