// Events. A named event is shared by name within the process: a second
// CreateEventA with the same name returns a new handle to the same event
// (GetLastError() == ERROR_ALREADY_EXISTS; the flags of the second call
// are ignored). The name is free again when its last handle is closed.
#pragma once

#include "platform/win32/kernel_object.h"
#include "platform/win32/win_types.h"

#define EVENT_ALL_ACCESS 0x1F0003
#define EVENT_MODIFY_STATE 0x0002
#define SYNCHRONIZE 0x00100000L

// An auto-reset event releases one waiter per SetEvent and then resets; a
// manual-reset event stays signalled until ResetEvent.
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
HANDLE WINAPI OpenEventA(DWORD access, BOOL inherit, LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);
