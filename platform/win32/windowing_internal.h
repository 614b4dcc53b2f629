// What the windows, the message queue, the input translation and the SDL
// backend share inside the stand-in. Not for the engine.
#pragma once

#include "platform/win32/win_types.h"
#include "platform/win32/sdl_window.h"
#include "platform/win32/termination.h"
#include "platform/win32/window_object.h"

#include <cstdint>
#include <thread>

struct tagMSG;

namespace platform::detail {

// --- handle table (window_object.cpp) ---
// Removes the record from the table and frees it.
void eraseWindowObject(HWND window);
// The top-level ancestor (the window itself when it has no WS_CHILD parent).
HWND rootWindow(HWND window);
// True when the window and all its WS_CHILD ancestors are visible.
bool reallyVisible(const WindowObject& window);
// Screen position of the client area's top-left corner.
POINT clientOrigin(const WindowObject& window);

// --- message queue (message_queue.cpp) ---
// Appends an input (hardware) message to the queue of the window's thread.
// Consecutive mouse moves to the same window coalesce, as on Win32.
void postInputMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Drops posted and input messages for the window and kills its timers.
void forgetWindowMessages(HWND window);
// A window's update region became non-empty: wakes its thread.
void noteWindowNeedsPaint(HWND window);
// Wakes every thread blocked in GetMessageA or WaitMessage (clock change,
// injected events).
void wakeAllQueues();
// The queue's owner thread for messages to this window (its creator).
std::thread::id windowThread(HWND window);
// Re-bases timer due times after the clock source changed.
void rebaseTimers();
// PostQuitMessage on behalf of another thread (nothing when it has no queue).
void postQuitToThread(std::thread::id thread, int exitCode);

// --- cursors (cursors.cpp) ---
// Forgets the current cursor and the display count (tests).
void resetCursorState();

// --- input translation (input_events.cpp) ---
// Turns pending injected events for windows of the calling thread into
// messages. Returns true when it did anything.
bool processInjectedEvents();
// Keeps GetKeyState in step with key messages as they are retrieved.
void noteRetrievedMessage(const tagMSG& message);
// The character TranslateMessage posts for a key-down message, or 0.
UINT translateKeyToChar(const tagMSG& message);
// Forgets keys, buttons and the cursor position (tests).
void resetInputState();
// Called when the cursor moved (SDL motion, SetCursorPos).
void setCursorPosition(POINT screen);
POINT cursorPosition();
// Current MK_* flags of the buttons and Shift/Control.
WPARAM mouseKeyFlags();

struct KeyInfo {
    UINT virtualKey;
    BYTE scanCode;
    bool extended;
};
// The physical key of a virtual key (US layout), for injected events.
KeyInfo keyInfoForVirtualKey(UINT virtualKey, bool extended);
// The key of a USB HID keyboard usage (SDL scan codes are those); false for
// keys the layout does not know.
bool keyInfoForUsage(int usage, bool numLock, KeyInfo& info);

// Translation of one keyboard or mouse event into messages; shared by the
// SDL pump and the injection seam.
void deliverKey(HWND target, const KeyInfo& key, bool down, bool repeat);
// relative: the device's own motion when it knows it (relative mouse mode).
void deliverMouseMove(HWND window, POINT client, const POINT* relative = nullptr);
void deliverMouseButton(HWND window, int button, bool down, bool doubleClick);
void deliverMouseWheel(HWND window, int delta);
void deliverMinimised(HWND window, bool minimised);
void deliverResize(HWND window, LONG clientWidth, LONG clientHeight);
void deliverClose(HWND window);

// --- windows (window.cpp) ---
// Makes window the active window: WM_ACTIVATE (WA_INACTIVE) to the window
// active before, if another, then WM_ACTIVATE (WA_ACTIVE, minimised) to this
// one, whose default handling gives it the focus.
void activateWindow(HWND window, bool minimised);
// WM_ACTIVATE (WA_INACTIVE, minimised) to window; it stops being the active
// window and loses the focus.
void deactivateWindow(HWND window, bool minimised);
HWND activeWindow();
// The style of the window's class (CS_*), 0 for windows without a class.
UINT classStyle(const WindowObject& window);

// --- SDL backend (sdl_video.cpp) ---
// True on the thread that initialised SDL video (the one that pumps it).
bool isSdlThread();
SDL_Window* createSdlWindow(const WindowObject& window);
void destroySdlWindow(SDL_Window* window);
void showSdlWindow(SDL_Window* window, bool show);
void setSdlWindowTitle(SDL_Window* window, const char* title);
void placeSdlWindow(const WindowObject& window);
void minimiseSdlWindow(SDL_Window* window, bool minimise);
void warpSdlMouse(const WindowObject& window, POINT client);
void setSdlCursorVisible(bool visible);
// Relative mouse mode: the cursor is held in place and motion is the
// device's own (an exclusive DirectInput mouse).
void setSdlRelativeMouse(bool relative);
void setSdlCursorShape(int systemCursorId);
bool sdlDesktopSize(int& width, int& height);
// Translates waiting SDL events into messages (SDL thread only). Returns
// true when it did anything.
bool pumpSdlEvents();
// Blocks until an SDL event arrives or the timeout passes (SDL thread only).
void waitSdlEvent(int timeoutMs);
// Wakes waitSdlEvent from any thread.
void wakeSdl();

} // namespace platform::detail
