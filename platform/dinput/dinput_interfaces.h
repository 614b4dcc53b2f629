// The DirectInput 8 interfaces, with the methods this platform provides in
// their documented order, and the entry point DirectInput8Create.
#pragma once

#include "platform/dinput/dinput_defs.h"

class IDirectInputDevice8A : public IUnknown {
public:
    STDMETHOD(SetDataFormat)(LPCDIDATAFORMAT format) PURE;
    STDMETHOD(SetCooperativeLevel)(HWND window, DWORD flags) PURE;
    STDMETHOD(GetProperty)(REFGUID property, LPDIPROPHEADER header) PURE;
    STDMETHOD(SetProperty)(REFGUID property, LPCDIPROPHEADER header) PURE;
    STDMETHOD(Acquire)() PURE;
    STDMETHOD(Unacquire)() PURE;
    STDMETHOD(GetDeviceData)(DWORD recordSize, LPDIDEVICEOBJECTDATA records, LPDWORD inOut, DWORD flags) PURE;
};
typedef IDirectInputDevice8A* LPDIRECTINPUTDEVICE8A;
typedef IDirectInputDevice8A IDirectInputDevice8;
typedef IDirectInputDevice8A* LPDIRECTINPUTDEVICE8;
#define IID_IDirectInputDevice8 IID_IDirectInputDevice8A

class IDirectInput8A : public IUnknown {
public:
    STDMETHOD(CreateDevice)(REFGUID device, LPDIRECTINPUTDEVICE8A* created, LPUNKNOWN outer) PURE;
};
typedef IDirectInput8A* LPDIRECTINPUT8A;
typedef IDirectInput8A IDirectInput8;
typedef IDirectInput8A* LPDIRECTINPUT8;
#define IID_IDirectInput8 IID_IDirectInput8A

HRESULT WINAPI DirectInput8Create(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* out, LPUNKNOWN outer);
