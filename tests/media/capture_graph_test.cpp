#include "capture_test_support.h"
#include "com_scope.h"
#include "planted_files.h"

#include "media/grabber_filter.h"
#include "media/video_compressors.h"

#include "platform/d3d9/device_test_api.h"
#include "platform/dshow/dshow_test_api.h"

#include <dshow.h>

#include <sys/stat.h>

using namespace capturetest;
namespace fs = std::filesystem;

namespace {

// An allocator that grants a fixed count and size, whatever is asked.
class FixedAllocator final : public IMemAllocator {
public:
    FixedAllocator(long buffers, long size) : granted{buffers, size, 1, 0} {}
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override
    {
        asked = *request;
        *actual = granted;
        return S_OK;
    }
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* p) override
    {
        *p = granted;
        return S_OK;
    }
    STDMETHODIMP Commit() override { return S_OK; }
    STDMETHODIMP Decommit() override { return S_OK; }
    STDMETHODIMP GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override { return E_FAIL; }
    STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return S_OK; }

    ALLOCATOR_PROPERTIES granted;
    ALLOCATOR_PROPERTIES asked{};
};

// A grabber of a fixed small size over the back buffer.
struct SmallGrabber {
    explicit SmallGrabber(CaptureEngine& e, int width = 160, int height = 120)
        : grabber(&e.engine->currentDevice, e.settings())
    {
        grabber.width = width;
        grabber.height = height;
    }
    FrameGrabber grabber;
};

} // namespace

TEST(GrabberPinTest, MediaTypeAndBufferNegotiation)
{
    CaptureEngine e;
    REQUIRE_CAPTURE(e);
    SmallGrabber g(e, 641, 3);
    GrabberFilter* filter = new GrabberFilter(&g.grabber);
    GrabberOutputPin* pin = filter->pin;
    const long image = 641 * 3 * 4;

    struct TypeCase {
        int position;
        bool nullType;
        HRESULT expected;
    } types[] = {{0, true, E_POINTER}, {-1, false, E_INVALIDARG}, {1, false, VFW_S_NO_MORE_ITEMS}, {0, false, S_OK}};
    for (const TypeCase& c : types) {
        CMediaType mt;
        EXPECT_EQ(pin->GetMediaType(c.position, c.nullType ? nullptr : &mt), c.expected) << c.position;
    }
    CMediaType mt;
    ASSERT_EQ(pin->GetMediaType(0, &mt), S_OK);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB32);
    EXPECT_EQ(mt.formattype, FORMAT_VideoInfo);
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_EQ(mt.lSampleSize, ULONG(image));
    ASSERT_EQ(mt.cbFormat, 88u);
    VIDEOINFOHEADER expected{};
    expected.AvgTimePerFrame = 400000;
    expected.bmiHeader = {40, 641, 3, 1, 32, BI_RGB, DWORD(image), 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(mt.pbFormat, &expected, 88), 0);

    // Accepted exactly when equal to the offered type.
    EXPECT_EQ(pin->CheckMediaType(&mt), S_OK);
    CMediaType taller = mt;
    reinterpret_cast<VIDEOINFOHEADER*>(taller.pbFormat)->bmiHeader.biHeight = -3;
    CMediaType otherSubtype = mt;
    otherSubtype.subtype = MEDIASUBTYPE_Avi;
    EXPECT_NE(pin->CheckMediaType(&taller), S_OK);
    EXPECT_NE(pin->CheckMediaType(&otherSubtype), S_OK);

    struct BufferCase {
        long buffers, size;
        bool nullAllocator, nullProps;
        HRESULT expected;
    } buffers[] = {{1, image, true, false, E_POINTER},
                   {1, image, false, true, E_POINTER},
                   {0, image, false, false, E_FAIL},
                   {1, image - 1, false, false, E_FAIL},
                   {1, image, false, false, S_OK},
                   {3, image * 2, false, false, S_OK}};
    for (const BufferCase& c : buffers) {
        FixedAllocator allocator(c.buffers, c.size);
        ALLOCATOR_PROPERTIES props{};
        EXPECT_EQ(pin->DecideBufferSize(c.nullAllocator ? nullptr : &allocator, c.nullProps ? nullptr : &props),
                  c.expected)
            << c.buffers << " " << c.size;
        if (c.expected == S_OK) {
            EXPECT_EQ(allocator.asked.cBuffers, 1);
            EXPECT_EQ(allocator.asked.cbBuffer, image);
        }
    }
    IPin* none = nullptr;
    ULONG count = 0;
    EXPECT_EQ(pin->QueryInternalConnections(&none, &count), E_NOTIMPL);
    EXPECT_EQ(filter->GetPinCount(), 1);
    EXPECT_EQ(filter->GetPin(0), pin);
    EXPECT_EQ(filter->GetPin(1), nullptr);
    filter->Release();
}

// Every listed compressor records 50 frames at the capture size and 25 fps;
// the lossless one gives back the rendered frames bit for bit, top row
// first.
TEST(CaptureGraphTest, EveryCompressorRecordsTheFrames)
{
    ComScope com;
    CaptureEngine e;
    REQUIRE_CAPTURE(e);
    const std::vector<std::string> names = listVideoCompressors();
    ASSERT_GE(names.size(), 2u);
    for (size_t index = 0; index < names.size(); ++index) {
        SCOPED_TRACE(names[index]);
        SmallGrabber g(e);
        const std::string file = "clip" + std::to_string(index) + ".avi";
        ASSERT_EQ(g.grabber.startAvi(file.c_str(), i32(index)), S_OK);
        std::vector<unsigned char> rendered; // top row first, BGRA
        for (int frame = 0; frame < 50; ++frame) {
            e.draw(frame);
            g.grabber.grabAviFrame(frame);
            if (names[index] == "FFV1 lossless") {
                std::vector<unsigned char> dib(160 * 120 * 4);
                ASSERT_TRUE(g.grabber.copyFrame(dib.data()));
                for (int y = 119; y >= 0; --y)
                    rendered.insert(rendered.end(), dib.begin() + y * 640, dib.begin() + (y + 1) * 640);
            }
        }
        g.grabber.stopGraph();
        EXPECT_EQ(probe(file), "160,120,25/1,50");
        if (!rendered.empty()) {
            run("ffmpeg -v error -y -i " + file + " -f rawvideo -pix_fmt bgr0 decoded.raw");
            std::vector<unsigned char> decoded = readFile("decoded.raw");
            ASSERT_EQ(decoded.size(), rendered.size());
            // The encoder keeps colour only: compare without the fourth byte.
            size_t differing = 0;
            for (size_t i = 0; i < decoded.size(); ++i)
                differing += i % 4 != 3 && decoded[i] != rendered[i];
            EXPECT_EQ(differing, 0u);
            fs::remove("decoded.raw");
        }
        fs::remove(file);
    }
}

// Sample times are 64-bit: frame 5399 ends a 216 s recording. A frame
// numbered back in time still lands in the file, after the others.
TEST(CaptureGraphTest, LongRecordingKeepsItsTimes)
{
    ComScope com;
    CaptureEngine e;
    REQUIRE_CAPTURE(e);
    SmallGrabber g(e, 16, 16);
    ASSERT_EQ(g.grabber.startAvi("long.avi", 0), S_OK);
    e.draw(1);
    for (int frame : {0, 5399, 100})
        g.grabber.grabAviFrame(frame);
    g.grabber.stopGraph();
    EXPECT_EQ(run("ffprobe -v error -show_entries format=duration -of csv=p=0 long.avi").substr(0, 4), "216.");
    EXPECT_EQ(probe("long.avi"), "16,16,25/1,3");
    fs::remove("long.avi");
}

// Each bad start (a planted link or FIFO among them) fails and leaves capture
// off; a failing lock drops that frame only.
TEST(CaptureGraphTest, BadStartsLeaveCaptureOff)
{
    ComScope com;
    CaptureEngine e;
    REQUIRE_CAPTURE(e);
    fs::create_directories("locked");
    chmod("locked", 0500);
    const bool readOnlyHolds = access("locked", W_OK) != 0; // not as root
    platform::dshow::addTestCompressor("h263", "H.263");
    const i32 listed = i32(listVideoCompressors().size());
    const std::string target = testsupport::plantLink("link.avi");
    testsupport::PlantedFifo fifo("fifo.avi");
    struct Case {
        const char* file;
        i32 index;
        int width;
    } cases[] = {{"missing/out.avi", 0, 160}, {"locked/out.avi", 0, 160}, {"out.avi", listed, 160},
                 {"out.avi", -1, 160},       {"out.avi", listed - 1, 161}, {"link.avi", 0, 160},
                 {"fifo.avi", 0, 160}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.index));
        if (std::string(c.file).rfind("locked", 0) == 0 && !readOnlyHolds)
            continue;
        SmallGrabber g(e, c.width, 120);
        EXPECT_TRUE(FAILED(g.grabber.startAvi(c.file, c.index)));
        EXPECT_EQ(g.grabber.graph, nullptr);
        g.grabber.grabAviFrame(0); // ignored
    }
    EXPECT_FALSE(fifo.rescued());
    EXPECT_EQ(fileBytes(target), "keep");
    fs::remove("link.avi");
    fs::remove(target);
    platform::dshow::clearTestCompressors();
    chmod("locked", 0700);
    fs::remove_all("locked");
    fs::remove("out.avi");

    SmallGrabber g(e);
    ASSERT_EQ(g.grabber.startAvi("drop.avi", 0), S_OK);
    for (int frame = 0; frame < 5; ++frame) {
        g.grabber.ensureSurface();
        if (frame == 2)
            platform::d3d9::failNextLockRect(e.device());
        g.grabber.grabAviFrame(frame);
    }
    g.grabber.stopGraph();
    EXPECT_EQ(probe("drop.avi").substr(0, 15), "160,120,25/1,4");
    fs::remove("drop.avi");
}

// A moniker without "FriendlyName" is listed as "(unknown compressor)"
// after the FFmpeg encoders.
TEST(CaptureGraphTest, UnnamedCompressorIsListed)
{
    const std::vector<std::string> before = listVideoCompressors();
    platform::dshow::addTestCompressor("mjpeg", nullptr);
    const std::vector<std::string> after = listVideoCompressors();
    platform::dshow::clearTestCompressors();
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after.back(), "(unknown compressor)");
    EXPECT_EQ(platform::dshow::liveObjectCount(), 0);
}
