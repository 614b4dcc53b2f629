#include "media/input.h"

#include <memory>

namespace {

constexpr DWORD bufferRecords = 1023;

bool setUp(IDirectInput8A* directInput, REFGUID kind, const DIDATAFORMAT& format, HWND window,
           IDirectInputDevice8A*& device)
{
    if (FAILED(directInput->CreateDevice(kind, &device, nullptr)))
        return false;
    if (FAILED(device->SetDataFormat(&format)))
        return false;
    if (FAILED(device->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_FOREGROUND)))
        return false;
    DIPROPDWORD property = {};
    property.diph.dwSize = sizeof(DIPROPDWORD);
    property.diph.dwHeaderSize = sizeof(DIPROPHEADER);
    property.diph.dwObj = 0;
    property.diph.dwHow = DIPH_DEVICE;
    property.dwData = bufferRecords;
    return SUCCEEDED(device->SetProperty(DIPROP_BUFFERSIZE, &property.diph));
}

bool pressed(DWORD data)
{
    return (data & 0x80) != 0;
}

} // namespace

DIInput::~DIInput()
{
    for (IDirectInputDevice8A* device : {mouse, keyboard}) {
        if (device) {
            device->Unacquire();
            device->Release();
        }
    }
    if (directInput)
        directInput->Release();
}

bool DIInput::init(HWND window)
{
    void* created = nullptr;
    if (FAILED(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A, &created,
                                  nullptr)))
        return false;
    directInput = static_cast<IDirectInput8A*>(created);
    if (!setUp(directInput, GUID_SysMouse, c_dfDIMouse, window, mouse) ||
        !setUp(directInput, GUID_SysKeyboard, c_dfDIKeyboard, window, keyboard))
        return false;
    return SUCCEEDED(mouse->Acquire()) && SUCCEEDED(keyboard->Acquire());
}

void DIInput::acquire()
{
    if (mouse)
        mouse->Acquire();
    if (keyboard)
        keyboard->Acquire();
}

bool DIInput::readDevice(IDirectInputDevice8A* device, DIDEVICEOBJECTDATA* records, DWORD& count)
{
    count = bufferRecords;
    if (device->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), records, &count, 0) == DI_OK)
        return true;
    // The device answers something else than DIERR_INPUTLOST once it has
    // given up (another window has the focus), so this ends.
    while (device->Acquire() == DIERR_INPUTLOST) {
    }
    return false;
}

bool DIInput::update()
{
    dx = 0;
    dy = 0;
    wheel = 0;
    if (!mouse || !keyboard)
        return false;
    if (!records)
        records = std::make_unique<DIDEVICEOBJECTDATA[]>(bufferRecords);
    DWORD count = 0;
    if (!readDevice(mouse, records.get(), count))
        return false;
    for (DWORD i = 0; i < count; ++i) {
        const DIDEVICEOBJECTDATA& record = records[i];
        switch (record.dwOfs) {
        case DIMOFS_X: dx += i32(record.dwData); break;
        case DIMOFS_Y: dy += i32(record.dwData); break;
        case DIMOFS_Z: wheel += i32(record.dwData); break;
        case DIMOFS_BUTTON0:
        case DIMOFS_BUTTON1:
        case DIMOFS_BUTTON2: buttons[record.dwOfs - DIMOFS_BUTTON0] = pressed(record.dwData); break;
        default: break;
        }
    }
    if (!readDevice(keyboard, records.get(), count))
        return false;
    for (DWORD i = 0; i < count; ++i) {
        const DIDEVICEOBJECTDATA& record = records[i];
        // The key table has 256 entries; a device could report more.
        if (record.dwOfs >= 256)
            continue;
        keys[record.dwOfs] = pressed(record.dwData);
        lastKey = i32(record.dwOfs);
    }
    return true;
}
