// Keyboard and mouse input as window messages: the key state, and the test
// seam that feeds the same path the display's events take.
//
// Key messages carry the virtual key in wParam and, in lParam, the repeat
// count (bits 0-15, always 1), the scan code (16-23), the extended-key flag
// (24), the context code (29, Alt held, WM_SYSKEY* only), the previous key
// state (30) and the transition state (31). Keys go to the focus window,
// else to the active window. Alt and F10 give WM_SYSKEYDOWN/UP. Mouse
// messages carry client coordinates in lParam and MK_* flags in wParam;
// WM_MOUSEWHEEL carries the delta (WHEEL_DELTA per notch) in the high word
// of wParam and screen coordinates in lParam, and goes to the focus window.
#pragma once

#include "platform/win32/win_types.h"

#include <functional>

// Bit 15: down; bit 0: toggled (caps lock and friends), as the messages
// retrieved so far left the keys.
SHORT WINAPI GetKeyState(int virtualKey);
// Bit 15: down now, whatever the queue holds.
SHORT WINAPI GetAsyncKeyState(int virtualKey);

namespace platform {

// Each injected event is turned into messages when the thread owning its
// window next looks into its queue (PeekMessageA, GetMessageA,
// WaitMessage), exactly like an event from the display.

// A key of the US layout by virtual key. extended marks the right-hand
// Control and Alt and the navigation block; VK_SHIFT, VK_CONTROL and
// VK_MENU stand for the left keys unless extended (right Shift: VK_RSHIFT).
// A down event for a key already down is an auto-repeat.
void injectKey(UINT virtualKey, bool down, bool extended = false);
// The cursor moves to (x, y) in the window's client coordinates.
void injectMouseMove(HWND window, int x, int y);
// button: 0 left, 1 right, 2 middle, 3 and 4 the extra buttons; at the
// current cursor position.
void injectMouseButton(HWND window, int button, bool down);
// delta in wheel units: WHEEL_DELTA (120) per notch, positive away from the
// user.
void injectMouseWheel(HWND window, int delta);
// Activation (WM_ACTIVATE with WA_ACTIVE or WA_INACTIVE in the low word and
// minimised in the high word); activating one window deactivates the
// previous active window first.
void injectActivate(HWND window, bool active, bool minimised = false);
// Minimising sends WM_SIZE (SIZE_MINIMIZED) and, for the active window,
// WM_ACTIVATE (WA_INACTIVE, minimised); restoring sends WM_SIZE
// (SIZE_RESTORED) and WM_ACTIVATE (WA_ACTIVE, 0).
void injectMinimise(HWND window, bool minimised);
// The client area was resized by the user: WM_SIZE, and a repaint for
// CS_HREDRAW/CS_VREDRAW classes.
void injectResize(HWND window, int clientWidth, int clientHeight);
// The close button: WM_SYSCOMMAND with SC_CLOSE as an input message.
void injectClose(HWND window);
// Drops injected events not yet delivered.
void clearInjectedInput();

// Raw device input, before it becomes window messages (the DirectInput
// stand-in listens here). dik is the DirectInput key code; mouse motion is
// relative.
struct RawInputEvent {
    enum Kind { Key, MouseMotion, MouseButton, MouseWheel } kind;
    BYTE dik;     // Key
    bool down;    // Key, MouseButton
    int button;   // MouseButton: 0 left, 1 right, 2 middle, 3, 4
    LONG dx, dy;  // MouseMotion
    LONG wheel;   // MouseWheel, WHEEL_DELTA per notch
    DWORD time;   // GetTickCount() when it happened
};
// Observers run on the thread that turns the event into messages. Returns
// an id for removeRawInputObserver.
int addRawInputObserver(std::function<void(const RawInputEvent&)> observer);
void removeRawInputObserver(int id);

} // namespace platform
