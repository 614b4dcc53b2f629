#include "com_scope.h"
#include "texture_test_support.h"

#include "materials/texel_budget.h"
#include "materials/video_texture.h"
#include "materials/vmr9_allocator.h"

#include "foundation/memory_stream.h"
#include "platform/dshow/dshow_test_api.h"

#include <dshow.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <sys/inotify.h>
#include <unistd.h>

using namespace texturetest;
namespace fs = std::filesystem;

namespace {

// The manual clock for one test.
struct ManualClock {
    ManualClock() { platform::setManualClock(true); }
    ~ManualClock() { platform::setManualClock(false); }
};

// The colour of texel (0, 0) of the texture the video shows now, 0 for none.
u32 shown(VideoTexture& video)
{
    IDirect3DTexture9* t = video.current(0.0);
    if (!t)
        return 0;
    const std::vector<u32> texels = readLevel(t);
    return texels.empty() ? 0 : texels[0] | 0xFF000000u;
}

// Polls until pred holds or five seconds pass (loaded CI machines).
template <class Pred>
bool eventually(Pred pred)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0 ? "ok" : "failed";
}

std::vector<unsigned char> readFileBytes(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& name, const std::vector<unsigned char>& bytes)
{
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Frame n of the generated clips: red 20n, green 100, blue 255 - 10n.
u32 clipColour(int n)
{
    return 0xFF000000u | u32(20 * n) << 16 | 100u << 8 | u32(255 - 10 * n);
}

} // namespace

// The allocator against the stand-in renderer's notify interface.
TEST(VMR9AllocatorTest, InitializeGetAndPresent)
{
    ComScope com;
    TestEngine e;
    REQUIRE_ENGINE(e);
    IBaseFilter* renderer = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&renderer)),
              S_OK);
    IVMRSurfaceAllocatorNotify9* notify = nullptr;
    ASSERT_EQ(renderer->QueryInterface(IID_IVMRSurfaceAllocatorNotify9, reinterpret_cast<void**>(&notify)), S_OK);
    ASSERT_EQ(notify->SetD3DDevice(e->currentDevice, nullptr), S_OK);
    VideoTexture video(e.get());
    auto* allocator = new VMR9Allocator(e.get(), &video);

    VMR9AllocationInfo info{VMR9AllocFlag_OffscreenSurface, 4, 2, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, 5, {4, 2}, {4, 2}};
    DWORD count = 5;
    EXPECT_EQ(allocator->InitializeDevice(0, &info, nullptr), E_POINTER);
    EXPECT_EQ(allocator->InitializeDevice(0, &info, &count), E_FAIL); // no notify yet
    allocator->AdviseNotify(notify);
    ASSERT_EQ(allocator->InitializeDevice(0, &info, &count), S_OK);
    EXPECT_EQ(info.dwFlags, DWORD(VMR9AllocFlag_OffscreenSurface | VMR9AllocFlag_TextureSurface));
    ASSERT_EQ(allocator->surfaces.size(), 5u); // the renderer hands out no others
    for (IDirect3DSurface9* s : allocator->surfaces)
        EXPECT_NE(s, nullptr);

    struct GetCase {
        DWORD index;
        bool nullOut;
        HRESULT expected;
        int ringIndex;
    } gets[] = {{4, false, S_OK, 4}, {5, false, E_FAIL, 0}, {7, true, E_POINTER, 2}, {3, false, S_OK, 3}};
    for (const GetCase& c : gets) {
        IDirect3DSurface9* s = nullptr;
        EXPECT_EQ(allocator->GetSurface(0, c.index, 0, c.nullOut ? nullptr : &s), c.expected) << c.index;
        EXPECT_EQ(VideoTexture::ringIndex, c.ringIndex) << c.index;
        EXPECT_EQ(s, c.expected == S_OK ? allocator->surfaces[c.index] : nullptr);
        if (s)
            s->Release();
    }

    // Presenting: null info or surface; the container path; the copy into
    // the allocator's own presentation texture.
    VMR9PresentationInfo none{};
    EXPECT_EQ(allocator->PresentImage(0, nullptr), E_POINTER);
    EXPECT_EQ(allocator->PresentImage(0, &none), E_POINTER);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(allocator->GetSurface(0, 1, 0, &surface), S_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(surface->LockRect(&locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            reinterpret_cast<u32*>(static_cast<u8*>(locked.pBits) + y * locked.Pitch)[x] = 0xFF123456u;
    surface->UnlockRect();
    VMR9PresentationInfo present{};
    present.lpSurf = surface;
    ASSERT_EQ(allocator->PresentImage(0, &present), S_OK);
    IDirect3DTexture9* container = nullptr;
    surface->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container));
    EXPECT_EQ(VideoTexture::ring[1], container);
    const ULONG refsAfter = container->AddRef() - 1;
    container->Release();
    container->Release();
    EXPECT_EQ(container->AddRef() - 1, refsAfter - 1); // no count kept per frame
    container->Release();

    ASSERT_EQ(e->currentDevice->CreateTexture(4, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &allocator->presentTexture,
                                              nullptr),
              D3D_OK);
    allocator->GetSurface(0, 2, 0, &surface); // the earlier one is still held
    IDirect3DSurface9* second = surface;
    ASSERT_EQ(allocator->PresentImage(0, &present), S_OK);
    EXPECT_EQ(VideoTexture::ring[2], allocator->presentTexture);
    EXPECT_EQ(readLevel(allocator->presentTexture)[7] | 0xFF000000u, 0xFF123456u);
    second->Release();
    present.lpSurf->Release();

    // A video larger than the engine plays gets no surfaces.
    VMR9AllocationInfo large = info;
    large.dwWidth = 4096;
    large.dwHeight = 1025;
    EXPECT_EQ(allocator->InitializeDevice(0, &large, &count), E_OUTOFMEMORY);

    allocator->Release();
    notify->Release();
    renderer->Release();
    for (IDirect3DTexture9* entry : VideoTexture::ring)
        EXPECT_EQ(entry, nullptr); // the allocator's textures left the ring with it
}

// The deterministic source through the whole texture: nothing before the
// second frame, then frame k - 1 once k is presented, never ahead of its
// time; the table entry; every object gone afterwards.
TEST(VideoTextureTest, PlaysTheDeterministicSourceInStep)
{
    ComScope com;
    TestEngine e;
    REQUIRE_ENGINE(e);
    ManualClock clock;
    const long liveBefore = platform::dshow::liveObjectCount();
    const size_t tableBefore = platform::runningObjectCount();
    {
        VideoTexture video(e.get());
        video.setFileName("test:8,4,12");
        video.load();
        ASSERT_NE(video.graph, nullptr);
        char entry[64];
        std::snprintf(entry, sizeof entry, "!FilterGraph %08x pid %08x", unsigned(uintptr_t(video.graph.p)),
                      unsigned(GetCurrentProcessId()));
        const std::vector<std::wstring> names = platform::runningObjectNames();
        EXPECT_NE(std::find(names.begin(), names.end(), std::wstring(entry, entry + std::strlen(entry))), names.end());

        EXPECT_TRUE(eventually([&] { return video.allocator->framesPresented == 1; }));
        EXPECT_EQ(video.current(0.0), nullptr);
        for (int k = 1; k < 12; ++k) {
            SCOPED_TRACE(k);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            EXPECT_EQ(video.allocator->framesPresented, u32(k)); // frame k waits for its time
            platform::advanceClock(40);
            EXPECT_TRUE(eventually([&] { return video.allocator->framesPresented == u32(k + 1); }));
            EXPECT_EQ(shown(video), platform::dshow::testFrameColour(k - 1));
        }
    }
    EXPECT_EQ(platform::dshow::liveObjectCount(), liveBefore);
    EXPECT_EQ(platform::runningObjectCount(), tableBefore);
}

// Copies of one video (a file's XREF clips) share one decoding graph.
TEST(VideoTextureTest, CopiesShareTheDecoding)
{
    ComScope com;
    TestEngine e;
    REQUIRE_ENGINE(e);
    VideoTexture video(e.get());
    video.setFileName("test:8,4,12");
    std::vector<std::unique_ptr<Texture>> copies;
    for (int i = 0; i < 3; ++i)
        copies.emplace_back(video.clone());
    video.load();
    int graphs = video.graph.p != nullptr;
    for (auto& copy : copies) {
        copy->load();
        graphs += static_cast<VideoTexture&>(*copy).graph.p != nullptr;
    }
    EXPECT_EQ(graphs, 1);
}

// A video that cannot pay for all five surfaces from its budget does not play.
TEST(VideoTextureTest, SurfacesComeFromTheBudget)
{
    ComScope com;
    TestEngine e;
    REQUIRE_ENGINE(e);
    Diagnostics quiet(0);
    const u64 fiveSurfaces = 5 * 8 * 4;
    for (const u64 limit : {fiveSurfaces, fiveSurfaces - 1}) {
        TexelBudget budget(limit);
        VideoTexture video(e.get());
        video.budget = &budget;
        video.setFileName("test:8,4,12");
        video.load();
        EXPECT_EQ(video.graph.p != nullptr, limit == fiveSurfaces) << limit;
    }
}

// Clips made with ffmpeg: lossless frames texel-exact and in order, from disk
// or a stream alone (one too large for a single read, whose size query must
// not move the stream); an H.264 MP4 with the right count and size.
TEST(VideoTextureTest, PlaysFilesDecodedByFfmpeg)
{
    ComScope com;
    TestEngine e;
    REQUIRE_ENGINE(e);
    fs::create_directories("clips");
    ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i color=c=black:s=16x8:r=25:d=0.4 -vf "
                    "\"format=gbrp,geq=r='20*N':g='100':b='255-10*N'\" -c:v ffv1 -pix_fmt bgr0 clips/lossless.avi"),
              "ok");
    ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=s=32x16:r=25:d=0.4 -c:v libx264 -pix_fmt yuv420p "
                    "clip.mp4"),
              "ok");
    // Texel (0, 0) as in the small clip, noise elsewhere: about 50 KB.
    ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i color=c=black:s=80x48:r=25:d=0.4 -vf \"format=gbrp,"
                    "geq=r='if(X+Y,random(1)*255,20*N)':g='if(X+Y,random(2)*255,100)':"
                    "b='if(X+Y,random(3)*255,255-10*N)'\" -c:v ffv1 -pix_fmt bgr0 clips/large.avi"),
              "ok");
    const std::vector<unsigned char> largeBytes = readFileBytes("clips/large.avi");
    ASSERT_GT(largeBytes.size(), 40000u);
    // Held only in a stream, as an archive entry is, and a copy of that texture.
    const std::vector<unsigned char> bytes = readFileBytes("clips/lossless.avi");
    MemoryStream archive("videos/held.avi", std::string(bytes.begin(), bytes.end()));
    archive.files["videos/large.avi"] = std::string(largeBytes.begin(), largeBytes.end());
    auto disk = std::make_unique<VideoTexture>(e.get());
    disk->setFileName("CLIPS\\Lossless.avi"); // a Windows-style name
    auto held = std::make_unique<VideoTexture>(e.get());
    held->setFileName("videos/held.avi", &archive);
    std::unique_ptr<Texture> copy(held->clone());
    auto large = std::make_unique<VideoTexture>(e.get());
    large->setFileName("videos/large.avi", &archive);
    std::unique_ptr<Texture> plays[] = {std::move(disk), std::move(held), std::move(copy), std::move(large)};
    ManualClock clock;
    for (auto& texture : plays) {
        auto& video = static_cast<VideoTexture&>(*texture);
        SCOPED_TRACE(video.fileName.c_str());
        video.load();
        ASSERT_NE(video.allocator, nullptr);
        EXPECT_TRUE(eventually([&] { return video.allocator->framesPresented == 1; }));
        for (int k = 1; k < 10; ++k) {
            platform::advanceClock(40);
            EXPECT_TRUE(eventually([&] { return video.allocator->framesPresented == u32(k + 1); })) << k;
            EXPECT_EQ(shown(video), clipColour(k - 1)) << k;
        }
        texture.reset(); // one plays at a time
    }
    {
        VideoTexture video(e.get());
        video.setFileName("clip.mp4");
        video.load();
        ASSERT_NE(video.allocator, nullptr);
        platform::advanceClock(1000);
        EXPECT_TRUE(eventually([&] { return video.allocator->framesPresented == 10; }));
        D3DSURFACE_DESC desc{};
        video.allocator->surfaces[0]->GetDesc(&desc);
        EXPECT_EQ(desc.Width, 32u);
        EXPECT_EQ(desc.Height, 16u);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(video.allocator->framesPresented, 10u);
    }
    fs::remove_all("clips");
    fs::remove("clip.mp4");
}

// Playlists and concat lists name other files: refused, from disk or from
// a stream, with a log line, and the file they name is never opened.
TEST(VideoTextureTest, RefusesListsThatNameOtherFiles)
{
    ComScope com;
    TestEngine e;
    REQUIRE_ENGINE(e);
    ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=s=16x8:r=25:d=0.4 -c:v mjpeg target.avi"), "ok");
    const std::string target = fs::absolute("target.avi").string();
    const int watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, target.c_str(), IN_OPEN), 0);
    const std::pair<std::string, std::string> lists[] = {
        {"list.ffconcat", "ffconcat version 1.0\nfile target.avi\n"},
        {"list.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\n" + target + "\n#EXT-X-ENDLIST\n"},
    };
    for (const auto& [name, text] : lists)
        for (bool fromStream : {false, true}) {
            SCOPED_TRACE(name + (fromStream ? " from a stream" : " from disk"));
            writeFileBytes(name, std::vector<unsigned char>(text.begin(), text.end()));
            MemoryStream archive(name.c_str(), text);
            const auto log = logPosition();
            VideoTexture video(e.get());
            video.setFileName(name.c_str(), fromStream ? &archive : nullptr);
            video.load();
            EXPECT_EQ(video.graph, nullptr);
            EXPECT_FALSE(logLinesFrom(log).empty());
            fs::remove(name);
        }
    char events[1024];
    EXPECT_LT(read(watch, events, sizeof events), 1);
    close(watch);
    fs::remove("target.avi");
}

// Names that do not play leave no texture and a log line; damaged or
// oddly stamped sources play what they can without hanging.
TEST(VideoTextureTest, BadInputLeavesNoTextureOrPlaysWhatItCan)
{
    ComScope com;
    TestEngine e;
    REQUIRE_ENGINE(e);
    ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i sine=d=0.2 sound.wav"), "ok");
    ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=s=16x8:r=25:d=0.8 -c:v mjpeg whole.avi"), "ok");
    std::vector<unsigned char> whole = readFileBytes("whole.avi");
    writeFileBytes("cut.avi", std::vector<unsigned char>(whole.begin(), whole.begin() + whole.size() / 2));
    writeFileBytes("text.avi", std::vector<unsigned char>{'n', 'o', 't', ' ', 'a', ' ', 'v', 'i', 'd', 'e', 'o'});
    const std::string tooWide = "test:" + std::to_string(e->caps.MaxTextureWidth + 1) + ",4,3";
    // The same damage held in a stream ("held/..."); other names are not in it.
    MemoryStream archive("held/cut.avi", std::string(whole.begin(), whole.begin() + whole.size() / 2));
    archive.files["held/text.avi"] = "not a video";
    archive.files["held/empty.avi"] = "";
    struct Case {
        std::string name;
        bool plays;
    } cases[] = {{"", false},           {"missing.avi", false},   {"text.avi", false},
                 {"sound.wav", false},  {tooWide, false},         {"cut.avi", true},
                 {"test:4,4,6,gap", true}, {"test:4,4,6,back", true}, {"held/cut.avi", true},
                 {"held/text.avi", false}, {"held/empty.avi", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto log = logPosition();
        VideoTexture video(e.get());
        video.setFileName(c.name.c_str(), &archive);
        video.load();
        if (!c.plays) {
            EXPECT_EQ(video.graph, nullptr);
            EXPECT_EQ(video.current(0.0), nullptr);
            EXPECT_FALSE(logLinesFrom(log).empty());
            continue;
        }
        ASSERT_NE(video.allocator, nullptr);
        EXPECT_TRUE(eventually([&] { return video.allocator->framesPresented >= 3; }));
    }
    // Stopped while frames are being handed over, again and again.
    for (int i = 0; i < 20; ++i) {
        VideoTexture video(e.get());
        video.setFileName("whole.avi");
        video.load();
        std::this_thread::sleep_for(std::chrono::microseconds(500 * i));
    }
    // Two at once share the ring (only one shows right) but both run.
    {
        VideoTexture first(e.get()), second(e.get());
        first.setFileName("test:4,4,5");
        second.setFileName("test:8,8,5");
        first.load();
        second.load();
        ASSERT_NE(first.allocator, nullptr);
        ASSERT_NE(second.allocator, nullptr);
        EXPECT_TRUE(eventually([&] { return first.allocator->framesPresented == 5 && second.allocator->framesPresented == 5; }));
    }
    // Overwritten while it plays.
    {
        VideoTexture video(e.get());
        video.setFileName("whole.avi");
        video.load();
        std::vector<unsigned char> junk(whole.size(), 0x5A);
        writeFileBytes("whole.avi", junk);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (const char* f : {"sound.wav", "whole.avi", "cut.avi", "text.avi"})
        fs::remove(f);
}

// Misuse of ComPtr raises the assertion box and does no harm.
TEST(ComPtrTest, MisuseAssertsAndFailsSafely)
{
    Diagnostics level(3);
    ComPtr<IDirect3DTexture9> empty;
    EXPECT_EQ(empty.copyTo(nullptr), E_POINTER);
    IDirect3DTexture9* out = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(empty.copyTo(&out), S_OK);
    EXPECT_EQ(out, nullptr);
    (void)empty.operator->();
    // Conditions without a quoted message.
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Assertion failed: - internal error -",
                                                    "Assertion failed: - internal error -"}));
}
