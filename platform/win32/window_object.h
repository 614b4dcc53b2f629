// The window record behind every HWND (top-level windows, dialogs and their
// controls) and the handle table. CreateWindowExA, the dialog manager and the
// message queue all build on this; the Win32 calls themselves live in
// window.h and message_queue.h.
//
// Threading: the table may be queried from any thread (IsWindow,
// PostMessageA); a record's fields belong to the thread that created the
// window, as on Win32.
#pragma once

#include "platform/win32/win_types.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

struct SDL_Window;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

namespace platform {

// Per-window state that another part of the stand-in hangs on a record (a
// dialog's control table, a combo box's list). Destroyed with the record,
// after WM_NCDESTROY.
struct WindowExtension {
    virtual ~WindowExtension() = default;
};

struct WindowObject {
    HWND handle = nullptr;
    std::string className;
    WNDPROC procedure = nullptr;
    HINSTANCE instance = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string text;
    bool visible = false; // WS_VISIBLE of the window itself
    bool enabled = true;  // !WS_DISABLED
    HWND parent = nullptr;
    int controlId = 0;
    // Outer rectangle: screen coordinates for a top-level window, the
    // parent's client coordinates for a child.
    RECT windowRect{};
    // Client size; the client origin is windowRect's corner moved by the
    // frame of the style (see frameInsets).
    LONG clientWidth = 0;
    LONG clientHeight = 0;
    // GWLP_USERDATA: pointer-sized, whichever call (Long or LongPtr) set it.
    LONG_PTR userData = 0;
    // cbWndExtra bytes (and a dialog's DWLP_* slots), addressed by
    // non-negative GetWindowLongPtrA indexes.
    std::vector<unsigned char> extraBytes;
    bool needsPaint = false; // the update region is not empty
    bool minimised = false;
    bool destroying = false; // DestroyWindow has started on it
    std::vector<HWND> children; // creation order
    std::thread::id thread;     // the thread whose queue gets its messages
    SDL_Window* sdlWindow = nullptr; // top-level windows with a display only
    std::unique_ptr<WindowExtension> extension;
};

struct WindowCreateParams {
    std::string className;
    WNDPROC procedure = nullptr; // may be null: messages then go to DefWindowProcA
    HINSTANCE instance = nullptr;
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr; // a child when style has WS_CHILD, else an owner
    int controlId = 0;     // children only
    RECT windowRect{};     // outer rectangle, as in WindowObject
    size_t extraBytes = 0;
    // A top-level window gets an SDL window (SDL_WINDOW_OPENGL, hidden
    // until shown) when windows are SDL-backed. Dialogs pass false while
    // they are drawn elsewhere.
    bool sdlBacked = false;
    std::unique_ptr<WindowExtension> extension;
};

// Creates the record and its handle without sending any message: the caller
// sends WM_NCCREATE/WM_CREATE or WM_INITDIALOG as its kind of window needs.
// A WS_CHILD window is appended to its parent's children. Returns null if
// the parent is given but is not a window. DestroyWindow ends any record
// made here (WM_DESTROY to it, then its children, then WM_NCDESTROY).
HWND createWindowObject(WindowCreateParams params);

// The record of a live window, or null for a stale or foreign handle. The
// pointer stays valid until the window is destroyed.
WindowObject* findWindowObject(HWND window);

// The direct child with that control id (first in creation order), or null.
HWND findChildWindow(HWND parent, int controlId);

// Live windows in creation order (top-level and children).
std::vector<HWND> allWindows();

// The frame a style adds around the client area: left, top, right, bottom
// thicknesses (all non-negative). AdjustWindowRect adds it, GetClientRect
// takes it away.
RECT frameInsets(DWORD style, DWORD exStyle, bool menu = false);

// Calls the window's procedure (DefWindowProcA when it has none). No-op
// returning 0 for a handle that is not a window.
LRESULT callWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace platform
