// Everything the setup dialogs decide and the rest of the program reads:
// window or fullscreen, sizes, device options, the settled formats, the
// archive, script and recording names.
#pragma once

#include "foundation/types.h"

#include <d3d9.h>

// The largest window side the program sizes windows and buffers with.
constexpr i32 kMaxWindowSide = 16384;

struct DisplaySettings {
    u8 windowed = 0;
    i32 width = 1024; // fullscreen back buffer (the chosen display mode)
    i32 height = 768;
    i32 windowWidth = 952; // client size of each output window
    i32 windowHeight = 714;
    u8 refRast = 0;
    u8 softwareVP = 0;
    u8 pureDevice = 0;
    u8 stereo = 0;
    u8 noDynamicDepth = 0;
    u8 noSound = 0;
    u8 useDirectInput = 0;
    u8 fixedFunction = 1;
    D3DFORMAT adapterFormat = D3DFMT_UNKNOWN;
    D3DFORMAT backBufferFormat = D3DFMT_UNKNOWN;
    D3DMULTISAMPLE_TYPE multiSampleType = D3DMULTISAMPLE_NONE;
    u32 multiSampleQuality = 0;
    i32 adapter = 0;
    i32 breakAlloc = 0;
    char* sarName = nullptr; // heap texts, owned
    char* scriptName = nullptr;
    char* videoOutput = nullptr;
    i32 compressorIndex = -1; // -1: BMP sequence

    DisplaySettings();
    ~DisplaySettings();
    DisplaySettings(const DisplaySettings&) = delete;
    DisplaySettings& operator=(const DisplaySettings&) = delete;

    // Replaces one of the owned texts with a heap copy of text (null clears).
    static void setText(char*& field, const char* text);
};
