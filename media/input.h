// The polled view of keyboard and mouse: movement and wheel since the last
// update, three buttons and a key table indexed by DirectInput key code,
// whichever device delivered them. DIInput reads buffered DirectInput data
// (full screen, or when the settings ask for it); GDIInput builds the same
// state from window messages. Consumers clear the key entries they act on.
#pragma once

#include "foundation/types.h"

#include <dinput.h>
#include <windows.h>

#include <memory>

class Input {
public:
    i32 dx = 0;
    i32 dy = 0;
    i32 wheel = 0; // 120 a notch from window messages; device units from DirectInput
    i32 lastX = 0;
    i32 lastY = 0;
    u8 buttons[3] = {}; // left, right, middle: 1 while held
    u8 keys[256] = {};  // by DIK_* code: 1 while held
    i32 lastKey = 255;  // code of the last key event; 255 none

    Input() = default;
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    virtual ~Input() = default;

    virtual bool init(HWND window);
    // On WM_ACTIVATE.
    virtual void acquire();
    virtual LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Once a frame.
    virtual bool update();
};

class DIInput : public Input {
public:
    IDirectInput8A* directInput = nullptr;
    IDirectInputDevice8A* mouse = nullptr;
    IDirectInputDevice8A* keyboard = nullptr;

    ~DIInput() override;
    bool init(HWND window) override;
    void acquire() override;
    // False when a device gave no data this frame (lost, overflowed): key
    // and button states then stay as they were.
    bool update() override;

private:
    std::unique_ptr<DIDEVICEOBJECTDATA[]> records; // one frame's buffer
    // Reads one device's buffer; false (after trying to get the device back)
    // when the read failed.
    bool readDevice(IDirectInputDevice8A* device, DIDEVICEOBJECTDATA* records, DWORD& count);
};

class GDIInput : public Input {
public:
    u8 vkToDik[256]; // 255: no key in the same place
    HWND window = nullptr;

    GDIInput();
    ~GDIInput() override;
    bool init(HWND window) override;
    LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
};

// Whether lastX/lastY may serve as the reference for the next mouse move:
// cleared while the cursor is being put back to the window's centre.
extern u8 countMoves;

// Every 250 ms after the mouse stopped: puts the cursor back to the centre
// of the window's client area, so that mouse-look never meets the edge of
// the screen.
void CALLBACK recentreTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
