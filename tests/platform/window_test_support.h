// Shared by the window, queue, input and timer tests: windows exist as
// records only, every test starts with an empty queue and the real clock.
#pragma once

#include <windows.h>

#include "platform/win32/sdl_window.h"

#include <gtest/gtest.h>

#include <vector>

struct SeenMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Every message any window of the recording class receives, in order.
inline std::vector<SeenMessage>& seenMessages()
{
    static std::vector<SeenMessage> seen;
    return seen;
}

inline LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    seenMessages().push_back({window, message, wParam, lParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

inline const char* recordingClass()
{
    static bool registered = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = recordingProc;
        wc.cbWndExtra = 16;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "RecordingWindow";
        return RegisterClassExA(&wc) != 0;
    }();
    (void)registered;
    return "RecordingWindow";
}

inline HWND makeWindow(const char* title = "test", int x = 0, int y = 0, int width = 656, int height = 519,
                       DWORD style = WS_OVERLAPPEDWINDOW)
{
    return CreateWindowExA(0, recordingClass(), title, style, x, y, width, height, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

// Messages of one kind seen so far.
inline std::vector<SeenMessage> seenOf(UINT message)
{
    std::vector<SeenMessage> result;
    for (const SeenMessage& m : seenMessages())
        if (m.message == message)
            result.push_back(m);
    return result;
}

// Retrieves and dispatches everything waiting; returns the retrieved
// messages in order.
inline std::vector<MSG> drainQueue()
{
    std::vector<MSG> retrieved;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        retrieved.push_back(msg);
        if (msg.message == WM_QUIT)
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return retrieved;
}

class WindowingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::setWindowBackend(platform::WindowBackend::RecordsOnly);
        platform::setManualClock(false);
        platform::resetWindowState();
        seenMessages().clear();
    }
    void TearDown() override
    {
        platform::resetWindowState();
        platform::setManualClock(false);
        seenMessages().clear();
    }
};
