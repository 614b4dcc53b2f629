// Archives for the entry tests: the demo's two embedded archives made from
// files in memory, the effect files taken from the content folder.
#pragma once

#include "app/win_main.h"
#include "demo/demo.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "media/input.h"
#include "platform/win32/clock.h"
#include "platform/win32/dialog.h"
#include "platform/win32/message_box.h"
#include "platform/win32/resources.h"
#include "tools/sarpack/sar_writer.h"

#include "demo/demo_test_support.h"
#include "scoped_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>

namespace entrytest {

using Files = std::map<std::string, std::string>;

// Registers bytes as archive resource "SARFILE" id.
inline void installArchiveBytes(WORD id, std::vector<u8> bytes)
{
    static std::deque<std::vector<u8>> kept; // resources live as long as the process
    platform::unregisterResource("SARFILE", MAKEINTRESOURCEA(id));
    kept.push_back(std::move(bytes));
    platform::registerResource("SARFILE", id, kept.back().data(), kept.back().size());
}

// The archive of files, as the content build packs it.
inline std::vector<u8> packArchive(const Files& files)
{
    SarWriter writer;
    for (const auto& [name, bytes] : files)
        EXPECT_TRUE(writer.add(name, reinterpret_cast<const u8*>(bytes.data()), bytes.size())) << writer.error();
    return writer.build();
}

// Registers files as archive resource "SARFILE" id; no files removes it.
inline void installArchive(WORD id, const Files& files)
{
    if (files.empty())
        platform::unregisterResource("SARFILE", MAKEINTRESOURCEA(id));
    else
        installArchiveBytes(id, packArchive(files));
}

// Every effect file of the content folder.
inline Files effectFiles()
{
    const char* data = std::getenv("QUILLON_TEST_DATA");
    const std::string folder = std::string(data ? data : "tests/data") + "/../../content/fx";
    Files files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        files[entry.path().filename().string()] = text.str();
    }
    return files;
}

// The demo's content for one test: the script, the effect files.
struct Content {
    explicit Content(const std::string& script)
    {
        installArchive(130, {{"scene.scr", script}});
        installArchive(132, effectFiles());
    }
    ~Content()
    {
        installArchive(130, {});
        installArchive(132, {});
    }
};

// The keys and mouse of one pass, as the test scripts them.
class ScriptedInput : public Input {
public:
    bool update() override { return true; }

    // One user-camera pass of the demo with these keys held (single presses
    // are cleared by the pass).
    void press(Demo& demo, std::initializer_list<int> held, i32 key = 255)
    {
        for (int k : held)
            keys[k] = 1;
        lastKey = key;
        demo.updateUserCamera(this);
        for (int k : held)
            keys[k] = 0;
    }
};

// What a WinMain run or a player key changes process-wide, put back when the
// test ends, a failed one included; WinMain closes the log on its way out.
class AppTest : public ::testing::Test {
protected:
    ~AppTest() override
    {
        installArchive(130, {});
        installArchive(132, {});
        platform::setDialogScript(nullptr);
        platform::clearDialogTranscript();
        platform::clearRecordedMessageBoxes();
        if (platform::manualClock() != m_manualClock)
            platform::setManualClock(m_manualClock);
        if (m_logOpen && !logStream.is_open())
            logStream.open("nga.out", std::ios::app);
    }

private:
    demotest::PlayerState m_player;
    testsupport::Restore<u8> m_active{appActive};
    testsupport::Restore<HCURSOR> m_cursor{cursor};
    testsupport::Restore<i32> m_frameCount{lastFrameCount};
    testsupport::Restore<std::function<void()>> m_probe{frameLoopProbe};
    testsupport::Restore<decltype(startSetup)> m_setup{startSetup};
    bool m_manualClock = platform::manualClock();
    bool m_logOpen = logStream.is_open();
};

// Sets the diagnostics level for one test; each check shows its box again
// as in a new run.
struct Diagnostics {
    int saved = diagnosticsLevel;
    explicit Diagnostics(int level)
    {
        diagnosticsLevel = level;
        forgetFailedAssertions();
    }
    ~Diagnostics() { diagnosticsLevel = saved; }
};

} // namespace entrytest
