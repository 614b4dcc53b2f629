#include "materials/engine.h"

#include "display/display_manager.h"
#include "foundation/diagnostics.h"
#include "foundation/file_stream.h"
#include "media/direct_sound.h"

#include "platform/dsound/dsound_test_api.h"

#include "log_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The engine owns the sound device: with it go the channels, their
// streaming threads and the shared wake-up event (LSan checks the rest).
TEST(EngineSoundTest, EngineDeletesItsSoundDevice)
{
    testsupport::LevelGuard level;
    diagnosticsLevel = 0;
    DisplayManager manager;
    {
        Engine engine(&manager);
        platform::dsound::setManualOutput(true);
        engine.sound = DirectSound::create(nullptr);
        platform::dsound::setManualOutput(false);
        FileStream disk("");
        const int music = engine.sound->createChannel(disk, QUILLON_TEST_MUSIC "/tune.ogg");
        ASSERT_GT(music, 0);
        ASSERT_GT(engine.sound->createChannel(disk, QUILLON_TEST_MUSIC "/click.pcm"), 0);
        EXPECT_TRUE(engine.sound->play(music, true));
        HANDLE shared = OpenEventA(SYNCHRONIZE, FALSE, "BufferNotify");
        EXPECT_NE(shared, nullptr);
        CloseHandle(shared);
    }
    EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, "BufferNotify"), nullptr);
}

} // namespace
