#include "capture_test_support.h"
#include "com_scope.h"
#include "log_test_support.h"

#include "media/grabber_filter.h"
#include "media/video_compressors.h"

#include "platform/d3d9/device_test_api.h"

#include <dshow.h>

#include <gmock/gmock.h>

using namespace capturetest;
namespace fs = std::filesystem;

// File size, row padding, header and orientation of the BMP files; the name
// of a screenshot. Widths other than the back buffer's are forced.
TEST(FrameGrabberTest, BmpFilesHaveTheLayoutOfA24BitBottomUpDib)
{
    CaptureEngine e;
    REQUIRE_CAPTURE(e);
    struct Case {
        int width, height;
        unsigned fileSize, rowBytes;
    } cases[] = {{640, 480, 921654, 1920}, {641, 480, 54 + 1924 * 480, 1924}, {3, 2, 54 + 12 * 2, 12}};
    e.draw(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        FrameGrabber grabber(&e.engine->currentDevice, e.settings());
        grabber.width = c.width;
        grabber.height = c.height;
        grabber.writeBmpFrame("screen", 7);
        const std::vector<unsigned char> bmp = readFile("screen0007.bmp");
        ASSERT_EQ(bmp.size(), c.fileSize);
        EXPECT_EQ(std::string(bmp.begin(), bmp.begin() + 2), "BM");
        EXPECT_EQ(le32(bmp, 2), c.fileSize);
        EXPECT_EQ(le32(bmp, 10), 54u);
        EXPECT_EQ(le32(bmp, 18), unsigned(c.width));
        EXPECT_EQ(le32(bmp, 22), unsigned(c.height));
        EXPECT_EQ(bmp[28], 24);
        EXPECT_EQ(le32(bmp, 34), c.rowBytes * unsigned(c.height));
        // Padding bytes are zero.
        for (unsigned pad = unsigned(c.width) * 3; pad < c.rowBytes; ++pad)
            EXPECT_EQ(bmp[54 + pad], 0);
        // The file's last row is the picture's top: the white mark.
        const size_t top = 54 + size_t(c.rowBytes) * size_t(c.height - 1);
        EXPECT_EQ(bmp[top], 0xFF);
        EXPECT_EQ(bmp[top + 1], 0xFF);
        EXPECT_EQ(bmp[top + 2], 0xFF);
        fs::remove("screen0007.bmp");
    }
}

// Back-buffer mode reads before Present; multisampling or X8R8G8B8 read the
// front buffer after it. The same frame either way, and ImageMagick reads
// a 24-bit picture with the mark at the top left.
TEST(FrameGrabberTest, BackAndFrontBufferPathsGiveTheSameFile)
{
    struct Case {
        D3DFORMAT format;
        D3DMULTISAMPLE_TYPE samples;
        u8 backBufferMode;
    } cases[] = {{D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 1},
                 {D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0},
                 {D3DFMT_A8R8G8B8, D3DMULTISAMPLE_4_SAMPLES, 0}};
    std::vector<unsigned char> reference;
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.format) * 100 + int(c.samples));
        CaptureEngine e(c.format, c.samples);
        if (!e.engine || e.settings()->multiSampleType != c.samples)
            continue; // the adapter lacks this combination
        FrameGrabber grabber(&e.engine->currentDevice, e.settings());
        ASSERT_EQ(grabber.backBufferMode, c.backBufferMode);
        e.draw(3);
        if (grabber.backBufferMode)
            grabber.writeBmpFrame("same", 0);
        e.device()->Present(nullptr, nullptr, nullptr, nullptr);
        if (!grabber.backBufferMode)
            grabber.writeBmpFrame("same", 0);
        const std::vector<unsigned char> bmp = readFile("same0000.bmp");
        ASSERT_EQ(bmp.size(), 921654u);
        if (reference.empty()) {
            reference = bmp;
            EXPECT_EQ(run("identify -format '%w %h %[channels] %z' same0000.bmp"), "640 480 srgb 8");
            EXPECT_EQ(run("convert same0000.bmp -format '%[pixel:p{0,0}] %[pixel:p{0,479}]' info:"),
                      "srgb(255,255,255) srgb(16,9,192)");
        } else {
            EXPECT_TRUE(bmp == reference);
        }
        fs::remove("same0000.bmp");
    }
    EXPECT_FALSE(reference.empty());
}

// A failing lock or surface creation leaves the file out; a failing test
// lock switches to the front buffer; a missing folder is survived; a device
// reset after a screenshot succeeds, and so do later screenshots.
TEST(FrameGrabberTest, FailuresLeaveNoFileAndDoNotBlockAReset)
{
    enum Fault { Lock, CheckLock, Surface, MissingFolder, ResetBetween };
    struct Case {
        Fault fault;
        D3DFORMAT format;
        const char* base;
        bool written;
    } cases[] = {{Lock, D3DFMT_A8R8G8B8, "shot", false},         {Lock, D3DFMT_X8R8G8B8, "shot", false},
                 {CheckLock, D3DFMT_A8R8G8B8, "shot", true},     {Surface, D3DFMT_X8R8G8B8, "shot", false},
                 {MissingFolder, D3DFMT_A8R8G8B8, "nowhere/shot", false},
                 {ResetBetween, D3DFMT_A8R8G8B8, "shot", true}, {ResetBetween, D3DFMT_X8R8G8B8, "shot", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.fault) * 100 + int(c.format));
        CaptureEngine e(c.format);
        REQUIRE_CAPTURE(e);
        FrameGrabber grabber(&e.engine->currentDevice, e.settings());
        e.draw(2);
        e.device()->Present(nullptr, nullptr, nullptr, nullptr);
        if (c.fault == Lock)
            grabber.ensureSurface();
        if (c.fault == Lock || c.fault == CheckLock)
            platform::d3d9::failNextLockRect(e.device());
        if (c.fault == Surface)
            platform::d3d9::failNextCreateOffscreenPlainSurface(e.device());
        if (c.fault == ResetBetween) {
            grabber.writeBmpFrame(c.base, 1);
            e.engine->releaseSurfaces();
            ASSERT_EQ(e.manager.resetDevices(), D3D_OK);
            e.engine->restoreSurfaces();
            e.draw(2);
            e.device()->Present(nullptr, nullptr, nullptr, nullptr);
        }
        grabber.writeBmpFrame(c.base, 2);
        const std::string name = std::string(c.base) + "0002.bmp";
        EXPECT_EQ(fs::exists(name), c.written);
        if (c.fault == CheckLock) {
            EXPECT_EQ(grabber.backBufferMode, 0);
        }
        fs::remove(name);
        fs::remove(std::string(c.base) + "0001.bmp");
    }
}

// A frame file that cannot be made is logged once for the recording, not per frame.
TEST(FrameGrabberTest, UnwrittenFramesAreLoggedOnce)
{
    CaptureEngine e(D3DFMT_A8R8G8B8);
    REQUIRE_CAPTURE(e);
    FrameGrabber grabber(&e.engine->currentDevice, e.settings());
    e.draw(2);
    const auto from = testsupport::logPosition();
    for (i32 frame = 0; frame < 3; ++frame)
        grabber.writeBmpFrame("nowhere/f", frame);
    EXPECT_THAT(testsupport::logLinesFrom(from), ::testing::Contains(::testing::HasSubstr("is not written")).Times(1));
}

// The capture size is the back buffer's, or the desktop's in a window; a
// window is recorded through the front buffer, at its place on the black
// desktop, whatever its format.
TEST(FrameGrabberTest, CaptureSizeAndSourceFollowTheDisplay)
{
    struct Case {
        bool windowed;
        D3DFORMAT format;
        int width, height;
        u8 backBufferMode;
    } cases[] = {{false, D3DFMT_A8R8G8B8, 640, 480, 1},
                 {false, D3DFMT_X8R8G8B8, 640, 480, 0},
                 {true, D3DFMT_A8R8G8B8, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windowed);
        CaptureEngine e(c.format, D3DMULTISAMPLE_NONE, c.windowed);
        REQUIRE_CAPTURE(e);
        FrameGrabber grabber(&e.engine->currentDevice, e.settings());
        EXPECT_EQ(grabber.width, c.width);
        EXPECT_EQ(grabber.height, c.height);
        EXPECT_EQ(grabber.backBufferMode, c.backBufferMode);
        if (!c.windowed)
            continue;
        e.draw(4);
        e.device()->Present(nullptr, nullptr, nullptr, nullptr);
        std::vector<u8> dib(size_t(c.width) * size_t(c.height) * 4);
        ASSERT_TRUE(grabber.copyFrame(dib.data()));
        POINT origin{0, 0};
        ClientToScreen(e.manager.devices[0].window, &origin);
        auto pixel = [&](int x, int y) {
            u32 v;
            std::memcpy(&v, &dib[(size_t(c.height - 1 - y) * size_t(c.width) + size_t(x)) * 4], 4);
            return v & 0xFFFFFFu;
        };
        EXPECT_EQ(pixel(origin.x, origin.y), 0xFFFFFFu); // the mark
        EXPECT_EQ(pixel(c.width - 1, c.height - 1), 0u);  // desktop
    }
}

// The grabber reads the engine's current-device slot at every grab, not once:
// the device that draws now (each eye's in stereo) is the one recorded.
TEST(FrameGrabberTest, FramesComeFromTheDeviceInTheSlotAtEachGrab)
{
    CaptureEngine e;
    REQUIRE_CAPTURE(e);
    IDirect3DDevice9* slot = nullptr;
    FrameGrabber grabber(&slot, e.settings());
    std::vector<u8> dib(size_t(grabber.width) * size_t(grabber.height) * 4);
    EXPECT_FALSE(grabber.copyFrame(dib.data()));
    slot = e.device();
    e.draw(4);
    ASSERT_TRUE(grabber.copyFrame(dib.data()));
    u32 topLeft;
    std::memcpy(&topLeft, &dib[size_t(grabber.height - 1) * size_t(grabber.width) * 4], 4);
    EXPECT_EQ(topLeft & 0xFFFFFFu, 0xFFFFFFu); // the mark
}
