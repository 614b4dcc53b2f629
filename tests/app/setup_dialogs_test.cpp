#include "app/quillon_adv_setup_dialog.h"
#include "app/quillon_setup.h"
#include "display/display_manager.h"

#include "display/display_test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using displaytest::Answers;
using displaytest::HeadlessDialogs;
using displaytest::mode;
using displaytest::profile;
using displaytest::Profiles;

class StartDialogTest : public ::testing::Test {
protected:
    void start(std::vector<platform::AdapterProfile> adapters)
    {
        profiles = std::make_unique<Profiles>(std::move(adapters));
        manager = std::make_unique<DisplayManager>();
        ASSERT_TRUE(manager->enumerateAdapters());
    }
    bool runStart(const char* script)
    {
        dialogs.reset(); // its destructor clears the script
        dialogs = std::make_unique<HeadlessDialogs>(script);
        QuillonSetup setup(manager.get());
        return setup.run(nullptr, nullptr);
    }
    void TearDown() override
    {
        dialogs.reset();
        manager.reset();
        profiles.reset();
    }
    DisplaySettings& settings() { return *manager->settings; }

    displaytest::LevelGuard level;
    std::unique_ptr<Profiles> profiles;
    std::unique_ptr<DisplayManager> manager;
    std::unique_ptr<HeadlessDialogs> dialogs;
};

std::vector<platform::AdapterProfile> oneAdapter()
{
    return {profile("Main GPU", {mode(640, 480), mode(1024, 768, 60), mode(1024, 768, 85), mode(1280, 1024)})};
}

TEST_F(StartDialogTest, StartSettlesEverySetting)
{
    start(oneAdapter());
    diagnosticsLevel = 2;
    const std::streampos from = displaytest::logPosition();
    EXPECT_TRUE(runStart("press 100"));
    EXPECT_TRUE(dialogs->transcriptHas("open 120"));
    EXPECT_TRUE(dialogs->transcriptHas("end 120 0"));
    EXPECT_FALSE(dialogs->transcriptHas("open 123"));
    EXPECT_EQ(displaytest::logLinesFrom(from), std::vector<std::string>{"0"});

    const DisplaySettings& s = settings();
    EXPECT_EQ(s.adapterFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(s.backBufferFormat, D3DFMT_A8R8G8B8);
    EXPECT_EQ(s.multiSampleType, D3DMULTISAMPLE_NONE);
    // The exact size wins; of the two 1024 x 768 modes the last one.
    EXPECT_EQ(s.width, 1024);
    EXPECT_EQ(s.height, 768);
    EXPECT_EQ(s.useDirectInput, 1);
    ASSERT_NE(s.scriptName, nullptr);
    EXPECT_STREQ(s.scriptName, "scene.scr");
    EXPECT_EQ(diagnosticsLevel, 0);
    EXPECT_EQ(manager->adapters[0].depthFormats.size(), 3u);
    EXPECT_EQ(dialogs->snapshots.front().caption, "Pel 2004 - The Hollowmere");
}

TEST_F(StartDialogTest, ExitStillAppliesAndFails)
{
    start(oneAdapter());
    settings().windowed = 1;
    DisplaySettings::setText(settings().scriptName, "mine.scr");
    EXPECT_FALSE(runStart("press 101"));
    EXPECT_TRUE(dialogs->transcriptHas("end 120 -1"));
    EXPECT_EQ(settings().useDirectInput, 0);
    EXPECT_STREQ(settings().scriptName, "mine.scr");
    EXPECT_EQ(diagnosticsLevel, 3);
    EXPECT_EQ(settings().backBufferFormat, D3DFMT_A8R8G8B8);

    // The title bar's close button counts as Exit.
    EXPECT_FALSE(runStart("close"));
    EXPECT_TRUE(dialogs->transcriptHas("end 120 -1"));
}

TEST_F(StartDialogTest, ClosestAreaWinsWithoutExactMode)
{
    start({profile("Two modes", {mode(800, 600), mode(1280, 1024)})});
    EXPECT_TRUE(runStart("press 100"));
    EXPECT_EQ(settings().width, 800);
    EXPECT_EQ(settings().height, 600);
}

TEST_F(StartDialogTest, AdapterWithoutModesKeepsTheSize)
{
    start({profile("No modes", {})});
    settings().width = 1111;
    settings().height = 555;
    EXPECT_TRUE(runStart("press 100"));
    EXPECT_EQ(settings().width, 1111);
    EXPECT_EQ(settings().height, 555);
    EXPECT_EQ(settings().adapterFormat, D3DFMT_UNKNOWN);
}

TEST_F(StartDialogTest, AdvancedThenStart)
{
    start(oneAdapter());
    settings().noSound = 1;
    EXPECT_TRUE(runStart("press 1085; press 100"));
    EXPECT_TRUE(dialogs->transcriptHas("end 120 1"));
    EXPECT_TRUE(dialogs->transcriptHas("open 123"));
    EXPECT_TRUE(dialogs->transcriptHas("end 123 0"));

    // The advanced dialog as it opened.
    const HeadlessDialogs::Snapshot* advanced = nullptr;
    for (const HeadlessDialogs::Snapshot& s : dialogs->snapshots)
        if (s.control(1092)) {
            advanced = &s;
            break;
        }
    ASSERT_NE(advanced, nullptr);
    EXPECT_EQ(advanced->control(1092)->items, std::vector<std::string>{"Main GPU"});
    EXPECT_EQ(advanced->control(1092)->selection, 0);
    const std::vector<std::string> modes = {"640 x 480 at 60 Hz", "1024 x 768 at 60 Hz", "1024 x 768 at 85 Hz",
                                            "1280 x 1024 at 60 Hz"};
    EXPECT_EQ(advanced->control(1090)->items, modes);
    EXPECT_EQ(advanced->control(1090)->selection, 2);
    EXPECT_EQ(advanced->control(1061)->check, 1);
    EXPECT_EQ(advanced->control(1060)->check, 0);
    EXPECT_EQ(settings().width, 1024);
}

TEST_F(StartDialogTest, AdvancedChoicesReachTheSettings)
{
    start(oneAdapter());
    EXPECT_TRUE(runStart("press 1085; select 1090 0; check 1061; press 100"));
    EXPECT_EQ(settings().width, 640);
    EXPECT_EQ(settings().height, 480);
    EXPECT_EQ(settings().noSound, 1);
}

TEST_F(StartDialogTest, AdvancedExitFails)
{
    start(oneAdapter());
    EXPECT_FALSE(runStart("press 1085; select 1090 3; press 101"));
    EXPECT_TRUE(dialogs->transcriptHas("end 123 -1"));
    // Exit applied the choice all the same.
    EXPECT_EQ(settings().width, 1280);
}

TEST_F(StartDialogTest, AdapterChangeRerunsTheCascade)
{
    Answers second;
    second.backBuffers = {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5};
    second.depthStencils = {D3DFMT_D16};
    start({profile("First GPU", {mode(640, 480), mode(1024, 768)}),
           profile("Second GPU", {mode(800, 600), mode(1280, 1024)}, second)});
    EXPECT_TRUE(runStart("press 1085; select 1092 1; press 100"));

    // The advanced dialog after the selection (a dialog that ended is not shown).
    const HeadlessDialogs::Snapshot& afterSelect = dialogs->snapshots.back();
    ASSERT_NE(afterSelect.control(1090), nullptr);
    EXPECT_EQ(afterSelect.control(1092)->selection, 1);
    EXPECT_EQ(afterSelect.control(1090)->items,
              (std::vector<std::string>{"800 x 600 at 60 Hz", "1280 x 1024 at 60 Hz"}));
    EXPECT_EQ(afterSelect.control(1090)->selection, 0);
    EXPECT_EQ(afterSelect.control(1092)->items, (std::vector<std::string>{"First GPU", "Second GPU"}));

    EXPECT_EQ(settings().adapter, 1);
    EXPECT_EQ(settings().width, 800);
    EXPECT_EQ(settings().height, 600);
    // A8R8G8B8 from the first adapter is refused by the second.
    EXPECT_EQ(settings().backBufferFormat, D3DFMT_X8R8G8B8);
    ASSERT_EQ(manager->adapters[1].depthFormats.size(), 1u);
    EXPECT_EQ(manager->adapters[1].depthFormats[0]->format, D3DFMT_D16);
}

TEST_F(StartDialogTest, DialogLessSetupAndAdvancedRunSlot)
{
    start(oneAdapter());
    ::Setup plain(manager.get());
    EXPECT_TRUE(plain.run(nullptr, nullptr));
    EXPECT_EQ(settings().width, 1024);
    EXPECT_STREQ(settings().scriptName, "scene.scr");

    // The advanced dialog's own run slot answers true for Exit too.
    dialogs = std::make_unique<HeadlessDialogs>("press 101");
    QuillonAdvSetupDialog advanced(manager.get());
    EXPECT_TRUE(advanced.run(nullptr, nullptr));
}

} // namespace
