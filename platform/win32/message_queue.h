// Each thread's message queue with Win32's retrieval rules, and window
// timers.
//
// PeekMessageA and GetMessageA look, in this order, for:
//   1. messages sent from other threads (delivered to their procedures, not
//      returned), window events of the display (WM_ACTIVATE, WM_SIZE,
//      WM_SETFOCUS, ... are sent the same way);
//   2. posted messages, oldest first;
//   3. WM_QUIT, when PostQuitMessage was called and no posted message
//      waits; it ignores the window and range filters, and PM_NOREMOVE
//      leaves it pending;
//   4. input messages (keyboard, mouse, the close button), oldest first;
//      mouse moves coalesce;
//   5. WM_PAINT for a visible window whose update region is not empty;
//      retrieving it does not remove it, validating the window does;
//   6. WM_TIMER for a due timer; retrieving it with PM_REMOVE re-arms the
//      timer for its next period (missed periods coalesce into one message).
#pragma once

#include "platform/win32/win_types.h"
#include "platform/win32/window_messages.h"

#include <cstddef>

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *PMSG, *LPMSG;

typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define PM_NOYIELD 0x0002

#define USER_TIMER_MINIMUM 0x0000000A
#define USER_TIMER_MAXIMUM 0x7FFFFFFF

BOOL WINAPI PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
// Blocks until a message is there. Returns 0 for WM_QUIT, -1 for a null
// message pointer or a window filter that is not a window, else non-zero.
BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax);
// Posts WM_CHAR (WM_SYSCHAR) for a WM_KEYDOWN (WM_SYSKEYDOWN) of a
// character key, from the US layout and the key state. Non-zero for every
// key message.
BOOL WINAPI TranslateMessage(const MSG* message);
// Calls the window procedure; a WM_TIMER whose lParam is the callback of a
// live timer calls that callback instead.
LRESULT WINAPI DispatchMessageA(const MSG* message);
void WINAPI PostQuitMessage(int exitCode);
// Null window: a thread message to the calling thread. FALSE for a handle
// that is not a window or a queue that holds 10,000 messages.
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// Calls the procedure directly on the window's own thread; from another
// thread it waits until the owner retrieves messages.
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Blocks until something arrived that was not there at the last look.
BOOL WINAPI WaitMessage();
LONG WINAPI GetMessageTime();
DWORD WINAPI GetMessagePos();

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC callback);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);

namespace platform {

// Empties the calling thread's queue for a fresh start (tests): drops
// posted and input messages and the quit flag, and kills the thread's
// timers. Update regions of live windows stay.
void resetMessageQueue();
// Posted plus input messages waiting in the calling thread's queue.
size_t queuedMessageCount();

} // namespace platform
