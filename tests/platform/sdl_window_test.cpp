// Windows on SDL's offscreen driver, in a child process so that SDL video
// and the driver choice stay out of the other tests.
#include <windows.h>

#include "platform/win32/sdl_window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

namespace {

const int sdlUnavailable = 2;

#define CHILD_CHECK(condition)                                          \
    do {                                                                \
        if (!(condition)) {                                             \
            std::fprintf(stderr, "failed: %s\n", #condition);           \
            std::fflush(stderr);                                        \
            _exit(1); /* no leak check of the display driver's heap */ \
        }                                                               \
    } while (0)

LRESULT CALLBACK quitOnDestroy(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(5);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void runOnOffscreenDriver()
{
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    platform::setWindowBackend(platform::WindowBackend::Sdl);
    if (!platform::windowsUseSdl())
        _exit(sdlUnavailable);

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = quitOnDestroy;
    wc.lpszClassName = "Offscreen";
    CHILD_CHECK(RegisterClassExA(&wc));
    RECT rect{0, 0, 320, 240};
    AdjustWindowRect(&rect, WS_OVERLAPPEDWINDOW, FALSE);
    HWND w = CreateWindowExA(0, "Offscreen", "Offscreen", WS_OVERLAPPEDWINDOW, 0, 0, rect.right - rect.left,
                             rect.bottom - rect.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    CHILD_CHECK(w);
    SDL_Window* sdl = platform::sdlWindow(w);
    CHILD_CHECK(sdl);
    CHILD_CHECK(platform::windowFromSdlWindow(sdl) == w);
    ShowWindow(w, SW_SHOW);
    UpdateWindow(w);
    CHILD_CHECK(SetWindowTextA(w, "Renamed"));
    CHILD_CHECK(GetSystemMetrics(SM_CXSCREEN) > 0);

    // Whatever the driver reports on showing must not disturb the window.
    MSG msg;
    for (int i = 0; i < 20 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i)
        DispatchMessageA(&msg);
    RECT client;
    CHILD_CHECK(GetClientRect(w, &client));
    CHILD_CHECK(client.right == 320 && client.bottom == 240);

    platform::injectKey('A', true);
    bool sawKey = false;
    for (int i = 0; i < 20 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i)
        sawKey = sawKey || (msg.message == WM_KEYDOWN && msg.hwnd == w);
    CHILD_CHECK(sawKey);

    platform::injectClose(w);
    int result;
    int guard = 0;
    while ((result = GetMessageA(&msg, nullptr, 0, 0)) > 0 && ++guard < 100)
        DispatchMessageA(&msg);
    CHILD_CHECK(result == 0 && msg.wParam == 5);
    CHILD_CHECK(!IsWindow(w));
    CHILD_CHECK(platform::sdlWindow(w) == nullptr);
    _exit(0);
}

TEST(SdlWindows, OffscreenDriverRunsTheSameMessageFlow)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The predicate runs in this process: it only keeps the child's status.
    static int status = -1;
    auto keepStatus = [](int s) {
        status = s;
        return true;
    };
    EXPECT_EXIT(runOnOffscreenDriver(), keepStatus, "");
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by a signal";
    if (WEXITSTATUS(status) == sdlUnavailable)
        GTEST_SKIP() << "SDL's offscreen video driver is not available";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
