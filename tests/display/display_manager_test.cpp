#include "display/display_manager.h"

#include "display/display_test_support.h"

#include <gtest/gtest.h>

namespace {

using displaytest::Answers;
using displaytest::mode;
using displaytest::profile;
using displaytest::Profiles;

const std::string kNoDirectXStart = "This application requires Microsoft DirectX 9.0 or higher,\n"
                                    "which is freely available at ";
const std::string kNoTnLText = "Your video adapter does not support transformation and lighting\n"
                               "in hardware, which is a minimum requirement for this application.";

class DisplayManagerTest : public ::testing::Test {
protected:
    void SetUp() override { platform::clearRecordedMessageBoxes(); }
    void TearDown() override { platform::clearRecordedMessageBoxes(); }
};

TEST_F(DisplayManagerTest, EnumerationLogsAdaptersAndDriverVersions)
{
    platform::AdapterProfile first = profile("Alpha GPU", {mode(640, 480), mode(800, 600, 75)});
    platform::AdapterProfile second = profile("Beta GPU", {mode(1024, 768), mode(640, 480, 60, D3DFMT_R5G6B5)}, Answers(), false);
    second.driverVersion = platform::makeDriverVersion(1, 2, 65535, 4);
    second.desktopMode = mode(1024, 768, 70);
    Profiles profiles({first, second});

    const int liveBefore = platform::liveDirect3D9Objects();
    {
        const std::streampos from = displaytest::logPosition();
        DisplayManager manager;
        ASSERT_TRUE(manager.enumerateAdapters());
        EXPECT_TRUE(platform::recordedMessageBoxes().empty());

        const std::vector<std::string> lines = displaytest::logLinesFrom(from);
        const std::vector<std::string> expected = {
            "Number of Adapters: 2",
            "Adapter 0: Alpha GPU",
            "  Driver Version: 6.14.10.6555",
            "Adapter 1: Beta GPU",
            "  Driver Version: 1.2.65535.4",
        };
        EXPECT_EQ(lines, expected);

        ASSERT_EQ(manager.adapterCount, 2);
        EXPECT_EQ(manager.deviceCount, 0);
        EXPECT_EQ(manager.devices, nullptr);
        const AdapterInfo& a = manager.adapters[0];
        ASSERT_EQ(a.modeCount, 2u);
        EXPECT_EQ(a.modes[1].Width, 800u);
        EXPECT_EQ(a.modes[1].RefreshRate, 75u);
        EXPECT_EQ(platform::monitorAdapter(a.monitor), 0);
        EXPECT_TRUE(a.caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
        // Only the X8R8G8B8 modes are enumerated.
        const AdapterInfo& b = manager.adapters[1];
        ASSERT_EQ(b.modeCount, 1u);
        EXPECT_EQ(b.modes[0].Format, D3DFMT_X8R8G8B8);
        EXPECT_EQ(b.desktopMode.RefreshRate, 70u);
        EXPECT_EQ(manager.adapterAt(2), nullptr);
        EXPECT_EQ(manager.adapterAt(-1), nullptr);
    }
    EXPECT_EQ(platform::liveDirect3D9Objects(), liveBefore);
}

TEST_F(DisplayManagerTest, MissingDirect3DShowsTheFirstBox)
{
    Profiles profiles({profile("Alpha GPU", {mode(640, 480)})});
    platform::setDirect3DCreate9Fails(true);
    DisplayManager manager;
    EXPECT_FALSE(manager.enumerateAdapters());
    ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
    const platform::MessageBoxRecord& box = platform::recordedMessageBoxes()[0];
    EXPECT_EQ(box.text.substr(0, kNoDirectXStart.size()), kNoDirectXStart);
    EXPECT_GT(box.text.size(), kNoDirectXStart.size());
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.type, UINT(MB_ICONHAND));
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(manager.d3d, nullptr);
}

TEST_F(DisplayManagerTest, NoHardwareTnLAdapterShowsTheSecondBox)
{
    // Adapters exist, none does transform and lighting in hardware.
    {
        Profiles profiles({profile("Old A", {mode(640, 480)}, Answers(), false),
                           profile("Old B", {mode(800, 600)}, Answers(), false)});
        const std::streampos from = displaytest::logPosition();
        DisplayManager manager;
        EXPECT_FALSE(manager.enumerateAdapters());
        ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
        EXPECT_EQ(platform::recordedMessageBoxes()[0].text, kNoTnLText);
        EXPECT_EQ(platform::recordedMessageBoxes()[0].caption, "Error");
        EXPECT_EQ(platform::recordedMessageBoxes()[0].type, UINT(MB_ICONHAND));
        // The adapters were still read and logged.
        EXPECT_EQ(displaytest::logLinesFrom(from).size(), 5u);
        EXPECT_EQ(manager.adapterCount, 2);
    }
    platform::clearRecordedMessageBoxes();
    // No adapter at all.
    {
        Profiles profiles({});
        DisplayManager manager;
        EXPECT_FALSE(manager.enumerateAdapters());
        ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
        EXPECT_EQ(platform::recordedMessageBoxes()[0].text, kNoTnLText);
        EXPECT_EQ(manager.adapterCount, 0);
    }
    platform::clearRecordedMessageBoxes();
    // One capable adapter among others is enough.
    {
        Profiles profiles({profile("Old", {mode(640, 480)}, Answers(), false), profile("New", {mode(640, 480)})});
        DisplayManager manager;
        EXPECT_TRUE(manager.enumerateAdapters());
        EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    }
}

TEST(SettleRule, EveryCase)
{
    const D3DFORMAT A8R8G8B8 = D3DFMT_A8R8G8B8, X8R8G8B8 = D3DFMT_X8R8G8B8, R5G6B5 = D3DFMT_R5G6B5,
                    X1R5G5B5 = D3DFMT_X1R5G5B5, A2R10G10B10 = D3DFMT_A2R10G10B10;
    // 0 takes the first qualifying format.
    EXPECT_EQ(DisplayManager::settleFormat(D3DFMT_UNKNOWN, {1, 2, 5}), X8R8G8B8);
    // A qualifying setting stays.
    EXPECT_EQ(DisplayManager::settleFormat(R5G6B5, {1, 2, 5}), R5G6B5);
    // Rejected: the nearest qualifying one before it ...
    EXPECT_EQ(DisplayManager::settleFormat(R5G6B5, {0, 1}), X8R8G8B8);
    EXPECT_EQ(DisplayManager::settleFormat(A2R10G10B10, {0, 3}), X1R5G5B5);
    // ... or, with none before it, the first after it.
    EXPECT_EQ(DisplayManager::settleFormat(A8R8G8B8, {2, 3}), R5G6B5);
    EXPECT_EQ(DisplayManager::settleFormat(X8R8G8B8, {5}), A2R10G10B10);
    // Not one of the six: the last qualifying format.
    EXPECT_EQ(DisplayManager::settleFormat(D3DFMT_R8G8B8, {0, 1, 3}), X1R5G5B5);
    EXPECT_EQ(DisplayManager::settleFormat(D3DFMT_D16, {0}), A8R8G8B8);
    // Nothing qualifies.
    EXPECT_EQ(DisplayManager::settleFormat(X8R8G8B8, {}), D3DFMT_UNKNOWN);
    EXPECT_EQ(DisplayManager::settleFormat(D3DFMT_UNKNOWN, {}), D3DFMT_UNKNOWN);
    EXPECT_EQ(DisplayManager::settleFormat(D3DFMT_R8G8B8, {}), D3DFMT_UNKNOWN);
}

class CollectTest : public ::testing::Test {
protected:
    void build(Answers answers, std::vector<D3DDISPLAYMODE> modes = {mode(640, 480), mode(1024, 768)},
               std::vector<D3DMULTISAMPLE_TYPE> types = {D3DMULTISAMPLE_2_SAMPLES, D3DMULTISAMPLE_4_SAMPLES},
               DWORD nonMaskable = 0)
    {
        platform::AdapterProfile p = profile("Test GPU", std::move(modes), answers);
        p.multiSampleTypes = std::move(types);
        p.nonMaskableQualityLevels = nonMaskable;
        profiles = std::make_unique<Profiles>(std::vector<platform::AdapterProfile>{p});
        manager = std::make_unique<DisplayManager>();
        ASSERT_TRUE(manager->enumerateAdapters());
    }
    void TearDown() override
    {
        manager.reset();
        profiles.reset();
    }
    DisplaySettings& settings() { return *manager->settings; }
    AdapterInfo& adapter() { return manager->adapters[0]; }

    std::unique_ptr<Profiles> profiles;
    std::unique_ptr<DisplayManager> manager;
};

TEST_F(CollectTest, DisplayFormatsComeFromTheModeList)
{
    build(Answers());
    settings().adapterFormat = D3DFMT_R5G6B5;
    manager->collectDisplayFormats(0);
    EXPECT_EQ(adapter().displayFormats, std::vector<int>{1});
    EXPECT_EQ(settings().adapterFormat, D3DFMT_X8R8G8B8);

    // An adapter index out of range settles to nothing instead of reading.
    manager->collectDisplayFormats(3);
    EXPECT_EQ(settings().adapterFormat, D3DFMT_UNKNOWN);
}

TEST_F(CollectTest, DisplayFormatWithoutModesIsNone)
{
    build(Answers(), {});
    ASSERT_EQ(adapter().modeCount, 0u);
    EXPECT_EQ(adapter().modes, nullptr);
    manager->collectDisplayFormats(0);
    EXPECT_TRUE(adapter().displayFormats.empty());
    EXPECT_EQ(settings().adapterFormat, D3DFMT_UNKNOWN);
}

TEST_F(CollectTest, RejectedBackBufferMovesToTheNearestEarlierFormat)
{
    Answers answers;
    answers.backBuffers = {D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5};
    build(answers);
    settings().backBufferFormat = D3DFMT_R5G6B5;
    manager->collectTextureFormats(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, FALSE);
    EXPECT_EQ(adapter().backBufferFormats, (std::vector<int>{1, 3}));
    EXPECT_EQ(settings().backBufferFormat, D3DFMT_X8R8G8B8);

    // Nothing accepted: the setting becomes 0 and the lists still fill.
    answers.backBuffers.clear();
    TearDown();
    build(answers);
    settings().backBufferFormat = D3DFMT_X8R8G8B8;
    manager->collectTextureFormats(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE);
    EXPECT_EQ(settings().backBufferFormat, D3DFMT_UNKNOWN);
    EXPECT_FALSE(adapter().textureFormats.empty());
}

TEST_F(CollectTest, TextureListsFollowTableOrderAndUsage)
{
    build(Answers());
    manager->collectTextureFormats(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, FALSE);
    auto names = [](const FormatList& list) {
        std::vector<std::string> out;
        for (const FormatDesc* row : list)
            out.push_back(row->name);
        return out;
    };
    EXPECT_EQ(names(adapter().textureFormats),
              (std::vector<std::string>{"A8R8G8B8", "X8R8G8B8", "R5G6B5", "A1R5G5B5", "L8"}));
    // Depth rows are asked with the depth-stencil usage, colour rows as render targets.
    EXPECT_EQ(names(adapter().renderTargetTextureFormats),
              (std::vector<std::string>{"A8R8G8B8", "X8R8G8B8", "R5G6B5", "D24S8", "D24X8", "D16", "A16B16G16R16F"}));
    EXPECT_EQ(names(adapter().cubeRenderTargetFormats), names(adapter().renderTargetTextureFormats));
    EXPECT_EQ(names(adapter().cubeTextureFormats), names(adapter().textureFormats));
    EXPECT_EQ(names(adapter().volumeTextureFormats), names(adapter().textureFormats));
    EXPECT_TRUE(adapter().displacementTextureFormats.empty());

    // A second pass replaces the lists instead of appending.
    manager->collectTextureFormats(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, FALSE);
    EXPECT_EQ(adapter().textureFormats.size(), 5u);
}

TEST_F(CollectTest, DepthFormatsNeedFormatAndMatch)
{
    Answers answers;
    answers.depthStencils = {D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D32};
    answers.unmatchedDepth = {D3DFMT_D32};
    build(answers);
    manager->collectDepthFormats(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8);
    std::vector<D3DFORMAT> formats;
    for (const FormatDesc* row : adapter().depthFormats)
        formats.push_back(row->format);
    EXPECT_EQ(formats, (std::vector<D3DFORMAT>{D3DFMT_D24S8, D3DFMT_D24X8, D3DFMT_D16}));
    EXPECT_EQ(depthStencilRequest().findBest(adapter().depthFormats)->format, D3DFMT_D24S8);
}

TEST_F(CollectTest, MultisampleSettling)
{
    build(Answers());
    auto settle = [&](int type, u32 quality = 0) {
        settings().multiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(type);
        settings().multiSampleQuality = quality;
        manager->collectMultisampleTypes(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, FALSE);
        return std::make_pair(int(settings().multiSampleType), settings().multiSampleQuality);
    };
    EXPECT_EQ(settle(5, 3), std::make_pair(4, 0u));
    EXPECT_EQ(adapter().multiSampleTypes,
              (std::vector<D3DMULTISAMPLE_TYPE>{D3DMULTISAMPLE_2_SAMPLES, D3DMULTISAMPLE_4_SAMPLES}));
    EXPECT_EQ(adapter().nonMaskableQualityLevels, 0u);
    EXPECT_EQ(settle(0, 2), std::make_pair(0, 0u));
    EXPECT_EQ(settle(16), std::make_pair(4, 0u));
    EXPECT_EQ(settle(3), std::make_pair(2, 0u));
    EXPECT_EQ(settle(2), std::make_pair(2, 0u));
    // Non-maskable without quality levels: the highest maskable type.
    EXPECT_EQ(settle(1, 5), std::make_pair(4, 0u));
    EXPECT_EQ(settle(40, 1), std::make_pair(4, 0u));
}

TEST_F(CollectTest, MultisampleNoneSupportedAndNonMaskable)
{
    build(Answers(), {mode(640, 480)}, {D3DMULTISAMPLE_4_SAMPLES}, 3);
    auto settle = [&](int type, u32 quality = 0) {
        settings().multiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(type);
        settings().multiSampleQuality = quality;
        manager->collectMultisampleTypes(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, FALSE);
        return std::make_pair(int(settings().multiSampleType), settings().multiSampleQuality);
    };
    // Nothing at or below the request.
    EXPECT_EQ(settle(2), std::make_pair(0, 0u));
    EXPECT_EQ(adapter().nonMaskableQualityLevels, 3u);
    // Quality kept below the level count, else the last level.
    EXPECT_EQ(settle(1, 1), std::make_pair(1, 1u));
    EXPECT_EQ(settle(1, 7), std::make_pair(1, 2u));

    // A format the device cannot draw into has no multisampling at all.
    settings().multiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    manager->collectMultisampleTypes(0, D3DDEVTYPE_HAL, D3DFMT_A2R10G10B10, FALSE);
    EXPECT_EQ(settings().multiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_TRUE(adapter().multiSampleTypes.empty());
}

} // namespace
