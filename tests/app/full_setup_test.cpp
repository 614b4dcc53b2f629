#include "app/old_style_setup_dialog.h"
#include "display/display_manager.h"
#include "media/video_compressors.h"
#include "scoped_state.h"

#include "display/display_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

using displaytest::Answers;
using displaytest::HeadlessDialogs;
using displaytest::mode;
using displaytest::profile;
using displaytest::Profiles;

namespace fs = std::filesystem;

const char kHelpText[] = "Valid commandline arguments are:\n"
                         "-setup         show setup dialog\n"
                         "-nosetup     suppress setup dialog\n"
                         "-help           show this helpscreen";

// A private registry folder, the process arguments and a manager over one
// adapter.
class FullSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/quillon-app-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        const char* old = std::getenv("XDG_CONFIG_HOME");
        hadConfigHome = old != nullptr;
        if (old)
            savedConfigHome = old;
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        platform::setRegistryFolder("");
        platform::clearRecordedMessageBoxes();

        Answers answers;
        // The second adapter cannot make a pure device.
        platform::AdapterProfile plain = profile("Plain GPU", {mode(800, 600)}, answers);
        plain.caps.DevCaps &= ~DWORD(D3DDEVCAPS_PUREDEVICE);
        profiles = std::make_unique<Profiles>(std::vector<platform::AdapterProfile>{
            profile("Main GPU", {mode(640, 480), mode(1024, 768, 60), mode(1024, 768, 85)}, answers), plain});
        manager = std::make_unique<DisplayManager>();
        ASSERT_TRUE(manager->enumerateAdapters());
    }
    void TearDown() override
    {
        dialogs.reset();
        manager.reset();
        profiles.reset();
        if (hadConfigHome)
            setenv("XDG_CONFIG_HOME", savedConfigHome.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        platform::clearRecordedMessageBoxes();
    }

    bool runFull(std::vector<std::string> arguments, const char* script)
    {
        args = std::move(arguments);
        args.insert(args.begin(), "quillon");
        argv.clear();
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        Setup::setProcessArguments(static_cast<int>(args.size()), argv.data());
        dialogs.reset();
        dialogs = std::make_unique<HeadlessDialogs>(script);
        OldStyleSetupDialog setup(manager.get());
        return setup.run(nullptr, nullptr);
    }
    bool parse(::Setup& setup, std::vector<std::string> arguments)
    {
        args = std::move(arguments);
        argv.clear();
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        return setup.parseCommandLine(static_cast<int>(args.size()), argv.data());
    }
    // The stored values, as a fresh setup object reads them.
    struct Stored {
        LSTATUS status;
        u8 windowed, noSound, nosetup, fixedFunction;
    };
    Stored stored()
    {
        DisplayManager other;
        ::Setup reader(&other);
        other.settings->windowed = 0xEE;
        other.settings->noSound = 0xEE;
        other.settings->fixedFunction = 0xEE;
        reader.nosetup = 0xEE;
        const LSTATUS status = reader.loadFromRegistry();
        return {status, other.settings->windowed, other.settings->noSound, reader.nosetup,
                other.settings->fixedFunction};
    }
    fs::path keyFile()
    {
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder))
            if (e.is_regular_file())
                return e.path();
        return {};
    }
    const HeadlessDialogs::Snapshot* setupSnapshot(size_t n = 0)
    {
        for (const HeadlessDialogs::Snapshot& s : dialogs->snapshots)
            if (s.control(1111) && n-- == 0)
                return &s;
        return nullptr;
    }
    DisplaySettings& settings() { return *manager->settings; }

    displaytest::LevelGuard level;
    // The process's arguments as found; runFull points them at args.
    testsupport::Restore<int> argumentCount{Setup::processArgumentCount};
    testsupport::Restore<char**> arguments{Setup::processArguments};
    std::string folder;
    bool hadConfigHome = false;
    std::string savedConfigHome;
    std::unique_ptr<Profiles> profiles;
    std::unique_ptr<DisplayManager> manager;
    std::unique_ptr<HeadlessDialogs> dialogs;
    std::vector<std::string> args;
    std::vector<char*> argv;
};

TEST_F(FullSetupTest, CommandLineShapes)
{
    ::Setup setup(manager.get());
    // Fewer than two arguments: nothing to do.
    EXPECT_TRUE(setup.parseCommandLine(0, nullptr));
    EXPECT_TRUE(parse(setup, {"quillon"}));

    EXPECT_TRUE(parse(setup, {"quillon", "-NOSETUP"}));
    EXPECT_EQ(setup.nosetup, 1);
    EXPECT_TRUE(parse(setup, {"quillon", "-nosetup", "-SeTuP"}));
    EXPECT_EQ(setup.nosetup, 0);

    // Words without a dash are skipped.
    EXPECT_TRUE(parse(setup, {"quillon", "plain", "words", "-s", "industry.sar", "more"}));
    EXPECT_STREQ(settings().sarName, "industry.sar");
    // The name after -s is taken whatever it looks like.
    EXPECT_TRUE(parse(setup, {"quillon", "-S", "-odd.sar"}));
    EXPECT_STREQ(settings().sarName, "-odd.sar");
    // -s needs a following argument.
    EXPECT_FALSE(parse(setup, {"quillon", "-s"}));
    EXPECT_STREQ(settings().sarName, "-odd.sar");
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());

    EXPECT_FALSE(parse(setup, {"quillon", "-help"}));
    ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
    EXPECT_EQ(platform::recordedMessageBoxes()[0].text, kHelpText);
    EXPECT_EQ(platform::recordedMessageBoxes()[0].caption, "Help");
    EXPECT_EQ(platform::recordedMessageBoxes()[0].type, UINT(MB_ICONINFORMATION));

    platform::clearRecordedMessageBoxes();
    setup.nosetup = 0;
    EXPECT_FALSE(parse(setup, {"quillon", "-nosetup", "-x", "-setup"}));
    EXPECT_EQ(setup.nosetup, 1); // stopped at the bad option
    ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
    EXPECT_EQ(platform::recordedMessageBoxes()[0].text, "invald commandline parameter specified!");
    EXPECT_EQ(platform::recordedMessageBoxes()[0].caption, "error");
    EXPECT_EQ(platform::recordedMessageBoxes()[0].type, UINT(MB_ICONEXCLAMATION));

    platform::clearRecordedMessageBoxes();
    EXPECT_FALSE(parse(setup, {"quillon", "-"}));
    EXPECT_EQ(platform::recordedMessageBoxes().size(), 1u);
}

TEST_F(FullSetupTest, RegistryRoundTripKeepsTheFirstNosetup)
{
    EXPECT_NE(stored().status, ERROR_SUCCESS);

    // First run: the dialog shows, the key is created, nosetup stored once.
    settings().noSound = 1;
    EXPECT_TRUE(runFull({}, "press 100"));
    EXPECT_TRUE(dialogs->transcriptHas("open SETUP"));
    Stored s = stored();
    ASSERT_EQ(s.status, ERROR_SUCCESS);
    EXPECT_EQ(s.windowed, 0);
    EXPECT_EQ(s.noSound, 1);
    EXPECT_EQ(s.nosetup, 0);
    EXPECT_EQ(s.fixedFunction, 1);

    // -nosetup skips the dialog but does not overwrite the stored 0.
    EXPECT_TRUE(runFull({"-nosetup"}, ""));
    EXPECT_FALSE(dialogs->transcriptHas("open SETUP"));
    EXPECT_EQ(stored().nosetup, 0);
    EXPECT_STREQ(settings().scriptName, "scene.scr");

    // A stored nosetup skips the dialog; -setup brings it back.
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Corvane\\Quillon 3D", 0, KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        const BYTE one = 1;
        ASSERT_EQ(RegSetValueExA(key, "nosetup", 0, REG_BINARY, &one, 1), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, "windowed", 0, REG_BINARY, &one, 1), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    settings().windowed = 0;
    EXPECT_TRUE(runFull({}, "press 100"));
    EXPECT_FALSE(dialogs->transcriptHas("open SETUP"));
    EXPECT_EQ(settings().windowed, 1); // from the registry
    EXPECT_EQ(settings().useDirectInput, 0);
    EXPECT_EQ(stored().nosetup, 1);

    EXPECT_TRUE(runFull({"-SETUP"}, "press 100"));
    EXPECT_TRUE(dialogs->transcriptHas("open SETUP"));
    EXPECT_EQ(stored().nosetup, 1);
}

TEST_F(FullSetupTest, CapitalNosetupUsesRegistryValues)
{
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Corvane\\Quillon 3D", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const BYTE one = 1, zero = 0;
        RegSetValueExA(key, "windowed", 0, REG_BINARY, &one, 1);
        RegSetValueExA(key, "nosound", 0, REG_BINARY, &one, 1);
        RegSetValueExA(key, "ffp", 0, REG_BINARY, &zero, 1);
        RegCloseKey(key);
    }
    EXPECT_TRUE(runFull({"-NOSETUP"}, ""));
    EXPECT_FALSE(dialogs->transcriptHas("open SETUP"));
    EXPECT_EQ(settings().windowed, 1);
    EXPECT_EQ(settings().noSound, 1);
    EXPECT_EQ(settings().fixedFunction, 0);
    EXPECT_EQ(diagnosticsLevel, 3);
    // The first save writes the parsed nosetup.
    EXPECT_EQ(stored().nosetup, 1);
}

TEST_F(FullSetupTest, DamagedRegistryFileActsAsAbsent)
{
    EXPECT_TRUE(runFull({"-nosetup"}, ""));
    const fs::path file = keyFile();
    ASSERT_FALSE(file.empty());
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "\x01\xff garbage \x00\x7f" << std::string(100, '\xfe');
    }
    settings().windowed = 0;
    EXPECT_NE(stored().status, ERROR_SUCCESS);
    // The run goes on as on a first start and rewrites the key.
    EXPECT_TRUE(runFull({}, "press 100"));
    EXPECT_TRUE(dialogs->transcriptHas("open SETUP"));
    EXPECT_EQ(stored().status, ERROR_SUCCESS);
    EXPECT_EQ(stored().nosetup, 0);
}

TEST_F(FullSetupTest, BadCommandLineEndsBeforeTheDialog)
{
    EXPECT_FALSE(runFull({"-help"}, "press 100"));
    EXPECT_FALSE(dialogs->transcriptHas("open SETUP"));
    EXPECT_NE(stored().status, ERROR_SUCCESS); // nothing saved
    EXPECT_FALSE(runFull({"-s"}, "press 100"));
}

TEST_F(FullSetupTest, DialogShowsTheCandidates)
{
    settings().windowWidth = 800;
    settings().windowHeight = 600;
    settings().breakAlloc = 42;
    EXPECT_TRUE(runFull({"-s", "own.sar"}, "press 100"));
    const HeadlessDialogs::Snapshot* s = setupSnapshot();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->caption, "Corvane Quillon 3D Setup");
    EXPECT_EQ(s->control(103)->items, (std::vector<std::string>{"Main GPU", "Plain GPU"}));
    EXPECT_EQ(s->control(103)->selection, 0);
    EXPECT_EQ(s->control(127)->items,
              (std::vector<std::string>{"architecture.sar", "industry.sar", "interior.sar", "own.sar"}));
    EXPECT_EQ(s->control(127)->selection, 3);
    EXPECT_EQ(s->control(170)->items, (std::vector<std::string>{"scene.scr", "scene2.scr", "scene3.scr"}));
    EXPECT_EQ(s->control(170)->selection, 0);
    // The compressor category follows the two fixed entries.
    std::vector<std::string> video{"(none)", "(BMP image sequence)"};
    const std::vector<std::string> compressors = listVideoCompressors();
    video.insert(video.end(), compressors.begin(), compressors.end());
    ASSERT_GE(compressors.size(), 2u);
    EXPECT_EQ(compressors[0], "Motion JPEG");
    EXPECT_EQ(s->control(129)->items, video);
    EXPECT_EQ(s->control(129)->selection, 0);
    EXPECT_EQ(s->control(110)->text, "800");
    EXPECT_EQ(s->control(112)->text, "600");
    EXPECT_EQ(s->control(310)->text, "42");
    EXPECT_EQ(s->control(1111)->check, 1);
    EXPECT_EQ(s->control(104)->check, 0);

    EXPECT_EQ(s->control(108)->items,
              (std::vector<std::string>{"640 x 480 at 60 Hz", "1024 x 768 at 60 Hz", "1024 x 768 at 85 Hz"}));
    EXPECT_EQ(s->control(108)->selection, 2);
    EXPECT_EQ(s->control(119)->items, (std::vector<std::string>{"60 Hz", "85 Hz"}));
    EXPECT_EQ(s->control(119)->selection, 1);
    EXPECT_EQ(s->control(114)->items, std::vector<std::string>{"X8R8G8B8"});
    EXPECT_EQ(s->control(114)->selection, 0);
    EXPECT_EQ(s->control(277)->items, (std::vector<std::string>{"A8R8G8B8", "X8R8G8B8", "R5G6B5"}));
    EXPECT_EQ(s->control(277)->selection, 0);
    EXPECT_EQ(s->control(180)->items,
              (std::vector<std::string>{"No Multisampling", "std. - 2 Samples", "std. - 4 Samples"}));
    EXPECT_EQ(s->control(180)->selection, 0);
    EXPECT_EQ(s->control(125)->items, (std::vector<std::string>{"D24S8", "D24X8", "D16"}));
    EXPECT_EQ(s->control(125)->selection, 0);
    EXPECT_EQ(s->control(121)->items,
              (std::vector<std::string>{"A8R8G8B8", "X8R8G8B8", "R5G6B5", "A1R5G5B5", "L8"}));
    EXPECT_EQ(s->control(121)->selection, 0);
    EXPECT_EQ(s->control(123)->items,
              (std::vector<std::string>{"A8R8G8B8", "X8R8G8B8", "R5G6B5", "A16B16G16R16F"}));
    EXPECT_EQ(s->control(275)->items, (std::vector<std::string>{"D24S8", "D24X8", "D16"}));
    EXPECT_TRUE(s->control(1073)->enabled);

    EXPECT_STREQ(settings().sarName, "own.sar");
    EXPECT_EQ(settings().breakAlloc, 42);
}

TEST_F(FullSetupTest, StartReadsTheControls)
{
    // The lists first: in a window they are disabled, the size edits enabled.
    EXPECT_TRUE(runFull({}, "select 108 0; select 277 2; select 180 2; check 104; text 110 640; text 112 400; "
                            "check 1074; uncheck 1111; select 127 2; select 170 1; text 310 77; check 1099; "
                            "check 276; press 100"));
    const DisplaySettings& s = settings();
    EXPECT_EQ(s.windowWidth, 640);
    EXPECT_EQ(s.windowHeight, 400);
    EXPECT_EQ(s.noSound, 1);
    EXPECT_EQ(s.fixedFunction, 0);
    EXPECT_STREQ(s.sarName, "interior.sar");
    EXPECT_STREQ(s.scriptName, "scene2.scr");
    EXPECT_EQ(s.breakAlloc, 77);
    EXPECT_EQ(s.noDynamicDepth, 1);
    EXPECT_EQ(s.softwareVP, 1);
    EXPECT_EQ(s.width, 640);
    EXPECT_EQ(s.height, 480);
    EXPECT_EQ(s.multiSampleType, D3DMULTISAMPLE_4_SAMPLES);
    EXPECT_EQ(s.backBufferFormat, D3DFMT_R5G6B5);
    EXPECT_EQ(s.videoOutput, nullptr);
    EXPECT_EQ(s.windowed, 1);
    EXPECT_EQ(s.useDirectInput, 0);
}

TEST_F(FullSetupTest, OutOfRangeSizesKeepTheLastOne)
{
    for (const std::string typed : {"2147483647", "4294967295", "16385", "0", "16384"}) {
        settings().windowWidth = 952;
        EXPECT_TRUE(runFull({}, ("check 104; text 110 " + typed + "; press 100").c_str()));
        EXPECT_EQ(settings().windowWidth, typed == "16384" ? 16384 : 952) << typed;
    }
}

TEST_F(FullSetupTest, ExitReadsButFails)
{
    EXPECT_FALSE(runFull({}, "check 1074; press 101"));
    EXPECT_TRUE(dialogs->transcriptHas("end SETUP -1"));
    EXPECT_EQ(settings().noSound, 1);
    // Saved even so.
    EXPECT_EQ(stored().noSound, 1);
}

TEST_F(FullSetupTest, StereoHalvesAndDoublesTheSizeEdits)
{
    EXPECT_TRUE(runFull({}, "check 1084; uncheck 1084; check 1084; press 100"));
    ASSERT_NE(setupSnapshot(3), nullptr);
    EXPECT_EQ(setupSnapshot(1)->control(110)->text, "476");
    EXPECT_EQ(setupSnapshot(1)->control(112)->text, "357");
    EXPECT_EQ(setupSnapshot(2)->control(110)->text, "952");
    EXPECT_EQ(setupSnapshot(2)->control(112)->text, "714");
    EXPECT_EQ(settings().stereo, 1);
    EXPECT_EQ(settings().windowWidth, 476);
    EXPECT_EQ(settings().windowHeight, 357);
}

TEST_F(FullSetupTest, WindowedTogglesTheModeControls)
{
    EXPECT_TRUE(runFull({}, "check 104; uncheck 104; check 104; press 100"));
    auto enabled = [&](size_t n, int id) { return setupSnapshot(n)->control(id)->enabled; };
    ASSERT_NE(setupSnapshot(3), nullptr);
    // Fullscreen at first: the lists on, the size edits off.
    EXPECT_FALSE(enabled(0, 110));
    EXPECT_FALSE(enabled(0, 112));
    EXPECT_TRUE(enabled(0, 108));
    EXPECT_TRUE(enabled(0, 119));
    EXPECT_TRUE(enabled(0, 114));
    for (int id : {110, 112})
        EXPECT_TRUE(enabled(1, id)) << id;
    for (int id : {108, 119, 114})
        EXPECT_FALSE(enabled(1, id)) << id;
    EXPECT_TRUE(enabled(2, 108));
    EXPECT_FALSE(enabled(2, 110));
    EXPECT_TRUE(enabled(3, 110));
    EXPECT_EQ(settings().windowed, 1);
    EXPECT_EQ(settings().useDirectInput, 0);
    EXPECT_EQ(diagnosticsLevel, 3);
}

TEST_F(FullSetupTest, AdapterChangeRefreshesTheLists)
{
    EXPECT_TRUE(runFull({}, "select 103 1; press 100"));
    const HeadlessDialogs::Snapshot* s = setupSnapshot(1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->control(108)->items, std::vector<std::string>{"800 x 600 at 60 Hz"});
    EXPECT_EQ(s->control(119)->items, std::vector<std::string>{"60 Hz"});
    EXPECT_FALSE(s->control(1073)->enabled);
    EXPECT_EQ(settings().adapter, 1);
    EXPECT_EQ(settings().width, 800);
}

TEST_F(FullSetupTest, ModeSelectionListsItsRates)
{
    EXPECT_TRUE(runFull({}, "select 108 0; press 100"));
    const HeadlessDialogs::Snapshot* s = setupSnapshot(1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->control(119)->items, std::vector<std::string>{"60 Hz"});
    EXPECT_EQ(settings().width, 640);
}

TEST_F(FullSetupTest, VideoOutputPrompts)
{
    EXPECT_TRUE(runFull({}, "select 129 1; press 100; text 1001 shot; press 1"));
    ASSERT_NE(settings().videoOutput, nullptr);
    EXPECT_STREQ(settings().videoOutput, "shot");
    EXPECT_EQ(settings().compressorIndex, -1);

    // A cancelled prompt records nothing.
    EXPECT_TRUE(runFull({}, "select 129 1; press 100; press 2"));
    EXPECT_EQ(settings().videoOutput, nullptr);

    // Exit does not ask.
    EXPECT_FALSE(runFull({}, "select 129 1; press 101"));
    EXPECT_EQ(settings().videoOutput, nullptr);
}

} // namespace
