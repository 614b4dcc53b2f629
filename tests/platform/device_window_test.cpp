// The same frame drawn headless and in a real SDL window on an X server
// (Xvfb) gives the same pixels. The windowed half runs in a child process
// (this test program again, filtered to the child test), so that SDL's
// global state stays out of the other tests. Skipped without Xvfb.
#include "device_test_support.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

const char* const kChildVariable = "QUILLON_DEVICE_WINDOW_CHILD";
constexpr int kUnavailable = 3;

// A frame that uses clears, pretransformed and transformed geometry, a
// texture, blending and the depth test.
void renderScene(IDirect3DDevice9* device)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040u, 1.0f, 0);
    ComRef<IDirect3DTexture9> t;
    device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out(), nullptr);
    D3DLOCKED_RECT lr{};
    t->LockRect(0, &lr, nullptr, 0);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            reinterpret_cast<uint32_t*>(static_cast<char*>(lr.pBits) + y * lr.Pitch)[x] =
                0xFF000000u | uint32_t(x * 60) << 16 | uint32_t(y * 60) << 8 | 0x80;
    }
    t->UnlockRect(0);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTexture(0, t.get());
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    TlVertex quad[4];
    tlQuad(quad, 1.5f, 2.5f, 12.5f, 13.5f, 0xFFFFFFFFu, 0.4f);
    device->SetFVF(kTlFvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TlVertex));
    device->SetTexture(0, nullptr);
    flatColourStates(device);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    ColourVertex tri[3] = {{-0.8f, 0.9f, 0.6f, 0x80FF0000u}, {0.9f, 0.2f, 0.3f, 0x80FF0000u}, {-0.2f, -0.9f, 0.3f, 0xC000FF00u}};
    device->SetFVF(kColourFvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(ColourVertex));
}

std::string pixelFile()
{
    return (fs::current_path() / "device_window_pixels.bin").string();
}

bool onPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    const std::string all = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos)
            end = all.size();
        if (::access((all.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

bool waitFor(pid_t pid, int& status, int milliseconds)
{
    for (int waited = 0; waited < milliseconds; waited += 20) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

pid_t spawn(std::vector<std::string> args, const std::string& log, char** environment)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int r = args[0][0] == '/' ? posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environment)
                                    : posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    return r == 0 ? pid : -1;
}

// The windowed half: only runs in the child.
TEST(DeviceWindowChild, DrawsTheFrameInAnSdlWindow)
{
    if (!std::getenv(kChildVariable))
        GTEST_SKIP() << "runs as the child of DeviceWindow.SameFrameHeadlessAndInAWindow";
    platform::setWindowBackend(platform::WindowBackend::Sdl);
    if (!platform::windowsUseSdl())
        _exit(kUnavailable);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "DeviceWindowChild";
    ASSERT_TRUE(RegisterClassExA(&wc));
    HWND window = CreateWindowExA(0, "DeviceWindowChild", "device", WS_POPUP, 0, 0, 16, 16, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(window);
    ASSERT_TRUE(platform::sdlWindow(window));
    ShowWindow(window, SW_SHOW);
    ComRef<IDirect3D9> d3d(Direct3DCreate9(D3D_SDK_VERSION));
    D3DPRESENT_PARAMETERS pp = windowedParameters(window);
    ComRef<IDirect3DDevice9> device;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, device.out()),
              D3D_OK);
    ASSERT_TRUE(platform::d3d9::deviceShowsInWindow(device.get()));
    renderScene(device.get());
    std::vector<uint32_t> pixels = readBackBuffer(device.get());
    ASSERT_EQ(pixels.size(), 256u);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    ComRef<IDirect3DSurface9> front;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(16, 16, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, front.out(), nullptr),
              D3D_OK);
    ASSERT_EQ(device->GetFrontBufferData(0, front.get()), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(front->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x)
            pixels.push_back(reinterpret_cast<const uint32_t*>(static_cast<const char*>(lr.pBits) + y * lr.Pitch)[x]);
    }
    front->UnlockRect();
    std::ofstream out(pixelFile(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size() * 4));
    out.close();
    // Out at once: the display libraries keep heap a leak check would report.
    std::fflush(nullptr);
    _exit(out.good() ? 0 : 1);
}

TEST(DeviceWindow, SameFrameHeadlessAndInAWindow)
{
    if (std::getenv(kChildVariable))
        GTEST_SKIP() << "the child draws only";
    if (!onPath("Xvfb"))
        GTEST_SKIP() << "needs Xvfb";

    // Headless first, in this process.
    std::vector<uint32_t> headless;
    {
        DeviceFixture f(16, 16);
        ASSERT_EQ(f.created, D3D_OK);
        renderScene(f.device.get());
        headless = readBackBuffer(f.device.get());
        ASSERT_EQ(headless.size(), 256u);
    }

    int display = -1;
    pid_t server = -1;
    const std::string serverLog = (fs::current_path() / "device_xvfb.log").string();
    for (int n = 140; n < 240 && server < 0; ++n) {
        if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) || fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
            continue;
        server = spawn({"Xvfb", ":" + std::to_string(n), "-screen", "0", "640x480x24", "-nolisten", "tcp"}, serverLog,
                       environ);
        ASSERT_GT(server, 0);
        int status = 0;
        bool up = false;
        for (int i = 0; i < 250 && !up; ++i) {
            if (::waitpid(server, &status, WNOHANG) == server)
                break; // taken after all: try the next number
            up = fs::exists("/tmp/.X11-unix/X" + std::to_string(n));
            if (!up)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (up)
            display = n;
        else
            server = -1;
    }
    ASSERT_GT(display, 0) << "Xvfb did not come up; see " << serverLog;

    // The child: this program, filtered to the child test, on that display.
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("SDL_VIDEODRIVER=", 0) != 0 &&
            entry.rfind("WAYLAND_DISPLAY=", 0) != 0)
            environment.push_back(entry);
    }
    environment.push_back("DISPLAY=:" + std::to_string(display));
    environment.push_back("SDL_VIDEODRIVER=x11");
    environment.push_back(std::string(kChildVariable) + "=1");
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    fs::remove(pixelFile());
    const std::string childLog = (fs::current_path() / "device_window_child.log").string();
    const pid_t child = spawn({fs::read_symlink("/proc/self/exe").string(),
                               "--gtest_filter=DeviceWindowChild.DrawsTheFrameInAnSdlWindow"},
                              childLog, envp.data());
    ASSERT_GT(child, 0);
    int childStatus = 0;
    const bool finished = waitFor(child, childStatus, 60000);
    if (!finished) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &childStatus, 0);
    }
    ::kill(server, SIGTERM);
    int serverStatus = 0;
    if (!waitFor(server, serverStatus, 5000)) {
        ::kill(server, SIGKILL);
        ::waitpid(server, &serverStatus, 0);
    }
    ASSERT_TRUE(finished) << "the windowed child hung; see " << childLog;
    ASSERT_TRUE(WIFEXITED(childStatus)) << "the windowed child died; see " << childLog;
    if (WEXITSTATUS(childStatus) == kUnavailable)
        GTEST_SKIP() << "SDL cannot open the X display";
    ASSERT_EQ(WEXITSTATUS(childStatus), 0) << "see " << childLog;

    std::ifstream in(pixelFile(), std::ios::binary);
    std::vector<uint32_t> windowed(512);
    in.read(reinterpret_cast<char*>(windowed.data()), std::streamsize(windowed.size() * 4));
    ASSERT_EQ(in.gcount(), std::streamsize(512 * 4));
    for (size_t i = 0; i < 256; ++i) {
        EXPECT_EQ(windowed[i], headless[i]) << "back buffer pixel " << i % 16 << "," << i / 16;
        // The presented image, as GetFrontBufferData returns it (opaque).
        EXPECT_EQ(windowed[256 + i], headless[i] | 0xFF000000u) << "front buffer pixel " << i % 16 << "," << i / 16;
    }
    fs::remove(pixelFile());
}

} // namespace
