#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/profiler.h"

#include "log_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using testsupport::LevelGuard;

u64 fakeNow = 0;
u64 fakeClock()
{
    return fakeNow;
}

class ProfilerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Profiler::clear();
        Profiler::timeStampSource = fakeClock;
    }
    void TearDown() override
    {
        Profiler::clear();
        Profiler::timeStampSource = savedSource;
    }
    void measure(int id, u64 ticks)
    {
        Profiler::start(id);
        fakeNow += ticks;
        Profiler::stop(id);
    }
    Profiler::TimeStampSource savedSource = Profiler::timeStampSource;
};

std::vector<std::string> logLinesAfter(std::streampos from)
{
    logStream.flush();
    std::ifstream in("nga.out");
    in.seekg(from);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(Diagnostics, AssertionBoxOnlyAtLevelThree)
{
    LevelGuard guard;
    platform::clearRecordedMessageBoxes();
    int evaluated = 0;
    auto check = [&] { ++evaluated; return false; };

    diagnosticsLevel = 2;
    ENGINE_ASSERT(check() && "never shown");
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    EXPECT_EQ(evaluated, 0); // the check does not even run below level 3

    diagnosticsLevel = 3;
    ENGINE_ASSERT(check() && "Singular trans mat encountered.\n");
    ENGINE_ASSERT(check());
    ENGINE_ASSERT(true && "holds");
    const auto& boxes = platform::recordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    // the message keeps its backslash and n as two visible characters
    EXPECT_EQ(boxes[0].text, "Singular trans mat encountered.\\n");
    EXPECT_EQ(boxes[0].caption, "Assertion failed");
    EXPECT_EQ(boxes[0].type, (UINT)MB_ICONEXCLAMATION);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[1].text, "- internal error -");
}

// A check failing every frame shows its box once; the log counts them all.
TEST(Diagnostics, EachCheckBoxesOnceAndIsCountedInTheLog)
{
    LevelGuard guard;
    platform::clearRecordedMessageBoxes();
    diagnosticsLevel = 3;
    const bool fails = false;
    for (int frame = 0; frame < 3; ++frame) {
        ENGINE_ASSERT(fails && "m_3dbuffer");
        if (frame == 0)
            ENGINE_ASSERT(fails && "m_listener");
    }
    std::vector<std::string> texts;
    for (const auto& box : platform::recordedMessageBoxes())
        texts.push_back(box.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"m_3dbuffer", "m_listener"}));

    logStream.seekp(0, std::ios::end);
    const std::streampos at = logStream.tellp();
    writeAssertionSummary(logStream);
    EXPECT_EQ(logLinesAfter(at), (std::vector<std::string>{"Assertion failed 3 times: m_3dbuffer",
                                                          "Assertion failed 1 time: m_listener"}));
}

TEST(Log, IsNgaOutInTheWorkingFolder)
{
    ASSERT_TRUE(logStream.is_open());
    logStream.seekp(0, std::ios::end);
    const std::streampos at = logStream.tellp();
    logStream << "adapter 0: test" << std::endl;
    const auto lines = logLinesAfter(at);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "adapter 0: test");
}

TEST(Log, NeverWritesThroughALink)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("quillon_log_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path target = dir / "precious", log = dir / "nga.out";
    std::ofstream(target) << "keep";
    fs::create_symlink(target, log);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(openLogFile(log.c_str()).is_open());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("symbolic link"), std::string::npos);
    EXPECT_EQ(fs::file_size(target), 4u);

    fs::remove(log);
    std::ofstream(log) << "an older run";
    std::ofstream reopened = openLogFile(log.c_str());
    ASSERT_TRUE(reopened.is_open());
    reopened << "new" << std::endl;
    EXPECT_EQ(fs::file_size(log), 4u); // emptied first
    fs::remove_all(dir);
}

TEST_F(ProfilerTest, SingleMeasurement)
{
    const int id = Profiler::addCounter("Frame");
    EXPECT_EQ(id, 0);
    measure(id, 500);
    const ProfileCounter& c = Profiler::counters()[id];
    EXPECT_EQ(c.execs, 1u);
    EXPECT_EQ(c.clocks, 500u);
    EXPECT_EQ(c.min, 500u);
    EXPECT_EQ(c.max, 500u);
}

TEST_F(ProfilerTest, MinAndMaxTrackIntervals)
{
    const int id = Profiler::addCounter("Clear");
    measure(id, 300);
    measure(id, 100);
    const ProfileCounter& c = Profiler::counters()[id];
    EXPECT_EQ(c.min, 100u);
    EXPECT_EQ(c.max, 300u);
    EXPECT_EQ(c.clocks, 400u);
}

TEST_F(ProfilerTest, IdsOutsideTheTableAreIgnored)
{
    Profiler::addCounter("only");
    Profiler::start(-1);
    Profiler::stop(-1);
    Profiler::start(5);
    Profiler::stop(5);
    EXPECT_EQ(Profiler::counters().size(), 1u);
    EXPECT_EQ(Profiler::counters()[0].execs, 0u);
}

TEST_F(ProfilerTest, ReportLayout)
{
    const int frame = Profiler::addCounter("Frame");
    const int present = Profiler::addCounter("Present");
    EXPECT_EQ(present, 1);
    measure(present, 3000000000000ull); // needs 64-bit columns
    measure(present, 1000);
    (void)frame;

    logStream.seekp(0, std::ios::end);
    const std::streampos at = logStream.tellp();
    Profiler::report();
    const auto lines = logLinesAfter(at);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "----------- Profiling report --------------");
    EXPECT_EQ(lines[1], "                     name     execs        clocks    average      min        max");
    EXPECT_EQ(lines[2], "Frame                    :        0             0          0        0          0");
    EXPECT_EQ(lines[3], "Present                  :        2 3000000001000 1500000000500     1000 3000000000000");
}
