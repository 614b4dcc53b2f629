// The SDL2 backend of windows: SDL windows for top-level windows and the
// translation of SDL events into the message path.
#include "platform/win32/sdl_window.h"

#include "platform/win32/message_queue.h"
#include "platform/win32/window.h"
#include "platform/win32/windowing_internal.h"

#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

using namespace platform;

namespace {

const char* const windowDataKey = "quillon.hwnd";

struct SdlState {
    std::mutex mutex;
    WindowBackend backend = WindowBackend::Automatic;
    bool initTried = false;
    std::thread::id thread;
    Uint32 wakeEvent = (Uint32)-1;
    std::map<int, SDL_Cursor*> cursors;
    // The mouse move SDL reports for our own warp is not device motion.
    HWND warpWindow = nullptr;
    POINT warpTarget{};
};

SdlState& sdl()
{
    static SdlState* instance = new SdlState;
    return *instance;
}

std::atomic<bool> sdlReady{false};

bool environmentWantsSdl()
{
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("SDL_VIDEODRIVER") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

HWND windowOfId(Uint32 id)
{
    SDL_Window* window = SDL_GetWindowFromID(id);
    return window ? windowFromSdlWindow(window) : nullptr;
}

int buttonIndex(Uint8 button)
{
    switch (button) {
    case SDL_BUTTON_LEFT: return 0;
    case SDL_BUTTON_RIGHT: return 1;
    case SDL_BUTTON_MIDDLE: return 2;
    case SDL_BUTTON_X1: return 3;
    case SDL_BUTTON_X2: return 4;
    default: return -1;
    }
}

void handleWindowEvent(const SDL_WindowEvent& event)
{
    HWND window = windowOfId(event.windowID);
    WindowObject* record = findWindowObject(window);
    if (!record)
        return;
    switch (event.event) {
    case SDL_WINDOWEVENT_EXPOSED:
        InvalidateRect(window, nullptr, FALSE);
        break;
    case SDL_WINDOWEVENT_MOVED: {
        RECT frame = frameInsets(record->style, record->exStyle);
        LONG left = event.data1 - frame.left, top = event.data2 - frame.top;
        if (left == record->windowRect.left && top == record->windowRect.top)
            break;
        record->windowRect.right += left - record->windowRect.left;
        record->windowRect.bottom += top - record->windowRect.top;
        record->windowRect.left = left;
        record->windowRect.top = top;
        SendMessageA(window, WM_MOVE, 0, MAKELPARAM(event.data1, event.data2));
        break;
    }
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        detail::deliverResize(window, event.data1, event.data2);
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
        detail::deliverMinimised(window, true);
        break;
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_MAXIMIZED:
        detail::deliverMinimised(window, false);
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        if (detail::activeWindow() != window)
            detail::activateWindow(window, record->minimised);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        if (detail::activeWindow() == window)
            detail::deactivateWindow(window, record->minimised);
        break;
    case SDL_WINDOWEVENT_CLOSE:
        detail::deliverClose(window);
        break;
    default:
        break;
    }
}

void handleEvent(const SDL_Event& event)
{
    switch (event.type) {
    case SDL_WINDOWEVENT:
        handleWindowEvent(event.window);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        detail::KeyInfo key;
        bool numLock = (SDL_GetModState() & KMOD_NUM) != 0;
        if (!detail::keyInfoForUsage(event.key.keysym.scancode, numLock, key))
            break;
        detail::deliverKey(windowOfId(event.key.windowID), key, event.type == SDL_KEYDOWN, event.key.repeat != 0);
        break;
    }
    case SDL_MOUSEMOTION: {
        HWND window = windowOfId(event.motion.windowID);
        if (!window)
            break;
        {
            SdlState& s = sdl();
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.warpWindow == window && s.warpTarget.x == event.motion.x && s.warpTarget.y == event.motion.y) {
                s.warpWindow = nullptr; // SetCursorPos already posted this move
                break;
            }
        }
        POINT relative{event.motion.xrel, event.motion.yrel};
        detail::deliverMouseMove(window, POINT{event.motion.x, event.motion.y}, &relative);
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        HWND window = windowOfId(event.button.windowID);
        int button = buttonIndex(event.button.button);
        WindowObject* record = findWindowObject(window);
        if (!record || button < 0)
            break;
        POINT origin = detail::clientOrigin(*record);
        detail::setCursorPosition(POINT{origin.x + event.button.x, origin.y + event.button.y});
        bool down = event.type == SDL_MOUSEBUTTONDOWN;
        bool doubleClick = down && event.button.clicks == 2 && (detail::classStyle(*record) & CS_DBLCLKS);
        detail::deliverMouseButton(window, button, down, doubleClick);
        break;
    }
    case SDL_MOUSEWHEEL: {
        HWND window = windowOfId(event.wheel.windowID);
        int notches = event.wheel.y;
        if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED)
            notches = -notches;
        if (window && notches)
            detail::deliverMouseWheel(window, notches * WHEEL_DELTA);
        break;
    }
    default:
        break;
    }
}

} // namespace

namespace platform {

void setWindowBackend(WindowBackend backend)
{
    SdlState& s = sdl();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.backend = backend;
}

bool windowsUseSdl()
{
    SdlState& s = sdl();
    std::lock_guard<std::mutex> lock(s.mutex);
    bool wanted = s.backend == WindowBackend::Sdl || (s.backend == WindowBackend::Automatic && environmentWantsSdl());
    if (!wanted)
        return false;
    if (!s.initTried) {
        s.initTried = true;
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1"); // termination.cpp answers them
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            std::fprintf(stderr, "SDL video unavailable (%s); windows are not shown\n", SDL_GetError());
            return false;
        }
        s.thread = std::this_thread::get_id();
        s.wakeEvent = SDL_RegisterEvents(1);
        SDL_StopTextInput(); // characters come from TranslateMessage
        sdlReady = true;
    }
    return sdlReady;
}

SDL_Window* sdlWindow(HWND window)
{
    WindowObject* record = findWindowObject(window);
    return record ? record->sdlWindow : nullptr;
}

HWND windowFromSdlWindow(SDL_Window* window)
{
    if (!window || !sdlReady)
        return nullptr;
    HWND handle = static_cast<HWND>(SDL_GetWindowData(window, windowDataKey));
    return IsWindow(handle) ? handle : nullptr;
}

namespace detail {

bool isSdlThread()
{
    if (!sdlReady)
        return false;
    SdlState& s = sdl();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.thread == std::this_thread::get_id();
}

SDL_Window* createSdlWindow(const WindowObject& window)
{
    RECT frame = frameInsets(window.style, window.exStyle);
    int x = window.windowRect.left + frame.left;
    int y = window.windowRect.top + frame.top;
    int width = window.clientWidth > 0 ? window.clientWidth : 1;
    int height = window.clientHeight > 0 ? window.clientHeight : 1;
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (window.style & WS_THICKFRAME)
        flags |= SDL_WINDOW_RESIZABLE;
    if ((window.style & WS_CAPTION) != WS_CAPTION)
        flags |= SDL_WINDOW_BORDERLESS;
    SDL_Window* created = SDL_CreateWindow(window.text.c_str(), x, y, width, height, flags);
    if (!created) {
        std::fprintf(stderr, "SDL window without OpenGL (%s)\n", SDL_GetError());
        created = SDL_CreateWindow(window.text.c_str(), x, y, width, height, flags & ~(Uint32)SDL_WINDOW_OPENGL);
    }
    if (created)
        SDL_SetWindowData(created, windowDataKey, window.handle);
    return created;
}

void destroySdlWindow(SDL_Window* window)
{
    if (window && sdlReady)
        SDL_DestroyWindow(window);
}

void showSdlWindow(SDL_Window* window, bool show)
{
    if (!window || !sdlReady)
        return;
    if (show)
        SDL_ShowWindow(window);
    else
        SDL_HideWindow(window);
}

void setSdlWindowTitle(SDL_Window* window, const char* title)
{
    if (window && sdlReady)
        SDL_SetWindowTitle(window, title);
}

void placeSdlWindow(const WindowObject& window)
{
    if (!window.sdlWindow || !sdlReady)
        return;
    RECT frame = frameInsets(window.style, window.exStyle);
    SDL_SetWindowPosition(window.sdlWindow, window.windowRect.left + frame.left, window.windowRect.top + frame.top);
    SDL_SetWindowSize(window.sdlWindow, window.clientWidth > 0 ? window.clientWidth : 1,
                      window.clientHeight > 0 ? window.clientHeight : 1);
}

void minimiseSdlWindow(SDL_Window* window, bool minimise)
{
    if (!window || !sdlReady)
        return;
    if (minimise)
        SDL_MinimizeWindow(window);
    else
        SDL_RestoreWindow(window);
}

void warpSdlMouse(const WindowObject& window, POINT client)
{
    if (!window.sdlWindow || !sdlReady)
        return;
    {
        SdlState& s = sdl();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.warpWindow = window.handle;
        s.warpTarget = client;
    }
    SDL_WarpMouseInWindow(window.sdlWindow, client.x, client.y);
}

void setSdlRelativeMouse(bool relative)
{
    if (sdlReady)
        SDL_SetRelativeMouseMode(relative ? SDL_TRUE : SDL_FALSE);
}

void setSdlCursorVisible(bool visible)
{
    if (sdlReady)
        SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

void setSdlCursorShape(int systemCursorId)
{
    if (!sdlReady || !systemCursorId)
        return;
    SDL_SystemCursor shape;
    switch (systemCursorId) {
    case 32513: shape = SDL_SYSTEM_CURSOR_IBEAM; break;
    case 32514: shape = SDL_SYSTEM_CURSOR_WAIT; break;
    case 32515: shape = SDL_SYSTEM_CURSOR_CROSSHAIR; break;
    case 32649: shape = SDL_SYSTEM_CURSOR_HAND; break;
    default: shape = SDL_SYSTEM_CURSOR_ARROW; break;
    }
    SDL_Cursor* cursor;
    {
        SdlState& s = sdl();
        std::lock_guard<std::mutex> lock(s.mutex);
        SDL_Cursor*& slot = s.cursors[shape];
        if (!slot)
            slot = SDL_CreateSystemCursor(shape);
        cursor = slot;
    }
    if (cursor)
        SDL_SetCursor(cursor);
}

bool sdlDesktopSize(int& width, int& height)
{
    SDL_DisplayMode mode;
    if (!sdlReady || SDL_GetDesktopDisplayMode(0, &mode) != 0)
        return false;
    width = mode.w;
    height = mode.h;
    return true;
}

bool pumpSdlEvents()
{
    if (!sdlReady)
        return false;
    Uint32 wake;
    {
        SdlState& s = sdl();
        std::lock_guard<std::mutex> lock(s.mutex);
        wake = s.wakeEvent;
    }
    SDL_PumpEvents();
    bool any = false;
    SDL_Event event;
    while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
        if (event.type == wake)
            continue;
        handleEvent(event);
        any = true;
    }
    return any;
}

void waitSdlEvent(int timeoutMs)
{
    if (sdlReady)
        SDL_WaitEventTimeout(nullptr, timeoutMs);
}

void wakeSdl()
{
    if (!sdlReady)
        return;
    SDL_Event event{};
    {
        SdlState& s = sdl();
        std::lock_guard<std::mutex> lock(s.mutex);
        event.type = s.wakeEvent;
    }
    if (event.type != (Uint32)-1)
        SDL_PushEvent(&event);
}

} // namespace detail

} // namespace platform
