#include "platform/win32/display_modes.h"

#include "platform/win32/window.h"

#include <cstring>

BOOL WINAPI EnumDisplaySettingsA(LPCSTR deviceName, DWORD modeNum, LPDEVMODEA devMode)
{
    if (!devMode || deviceName)
        return FALSE;
    if (modeNum != ENUM_CURRENT_SETTINGS && modeNum != ENUM_REGISTRY_SETTINGS && modeNum != 0)
        return FALSE;
    const WORD size = devMode->dmSize;
    const WORD extra = devMode->dmDriverExtra;
    std::memset(devMode, 0, sizeof *devMode);
    devMode->dmSize = size ? size : WORD(sizeof *devMode);
    devMode->dmDriverExtra = extra;
    std::strncpy(reinterpret_cast<char*>(devMode->dmDeviceName), "DISPLAY1", CCHDEVICENAME - 1);
    devMode->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
    devMode->dmBitsPerPel = 32;
    devMode->dmPelsWidth = DWORD(GetSystemMetrics(SM_CXSCREEN));
    devMode->dmPelsHeight = DWORD(GetSystemMetrics(SM_CYSCREEN));
    devMode->dmDisplayFrequency = 60;
    return TRUE;
}
