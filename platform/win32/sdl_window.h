// The SDL side of windows, for the parts of the stand-in that draw into
// them (the Direct3D device makes its GL context on the SDL window).
//
// With a display (DISPLAY or WAYLAND_DISPLAY set), or when SDL_VIDEODRIVER
// names a driver (e.g. "offscreen"), each top-level window made by
// CreateWindowExA is an SDL window created with SDL_WINDOW_OPENGL and kept
// hidden until ShowWindow. Otherwise windows are records only; the program
// behaves the same, nothing is shown, and sdlWindow() returns null.
#pragma once

#include "platform/win32/win_types.h"

struct SDL_Window;

namespace platform {

enum class WindowBackend {
    Automatic,   // from the environment, as above
    RecordsOnly, // never SDL (tests)
    Sdl,         // always SDL (falls back to records when SDL video fails)
};

// Takes effect for windows created afterwards.
void setWindowBackend(WindowBackend backend);
// True when new top-level windows get SDL windows; initialises SDL video on
// first use when they do (false if that fails).
bool windowsUseSdl();
// The SDL window of a top-level window, or null (records only, a child, or
// not a window).
SDL_Window* sdlWindow(HWND window);
// The window an SDL window belongs to, or null.
HWND windowFromSdlWindow(SDL_Window* window);

} // namespace platform
