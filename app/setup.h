// The settings cascade that the setup dialogs share: the adapter decides
// the display formats, the format the mode, the mode the back-buffer and
// texture formats, and those the multisampling and depth candidates. Each
// step is a virtual slot, so a dialog can fill its lists as the cascade
// passes. Also the command line and registry side of the full setup path.
#pragma once

#include "foundation/types.h"

#include <d3d9.h>
#include <windows.h>

class Dialog;
class DisplayManager;
struct AdapterInfo;

class Setup {
public:
    DisplayManager* manager = nullptr;
    i32 modeIndex = 0; // into the chosen adapter's mode list
    u8 nosetup = 0;    // full setup path: run without showing the dialog

    explicit Setup(DisplayManager* manager);
    virtual ~Setup();
    Setup(const Setup&) = delete;
    Setup& operator=(const Setup&) = delete;

    // Settles the settings without a dialog; dialogs replace this slot.
    virtual bool run(HINSTANCE instance, HWND parent);
    virtual bool initialize();
    virtual void apply();
    virtual void refreshFromAdapter();
    virtual void refreshFromFormat();
    virtual void refreshFromMode();
    virtual void refreshSampling();
    virtual void selectClosestMode(D3DFORMAT format);
    virtual void fillDisplayFormats();
    virtual void fillTextureFormats(D3DDEVTYPE deviceType, D3DFORMAT baseFormat, BOOL windowed);
    virtual void fillMultisampleTypes(D3DDEVTYPE deviceType, D3DFORMAT format, BOOL windowed);
    virtual void fillDepthFormats(D3DDEVTYPE deviceType, D3DFORMAT baseFormat, D3DFORMAT backBufferFormat);

    // Full setup path.
    bool parseCommandLine(int count, char** arguments);
    LSTATUS loadFromRegistry();
    LSTATUS saveToRegistry();

    // The process's arguments for the full setup path. The entry point (or
    // a test) may hand them over; otherwise ensureProcessArguments reads
    // them from the kernel.
    static void setProcessArguments(int count, char** arguments);
    static void ensureProcessArguments();
    static int processArgumentCount; // -1 until known
    static char** processArguments;

protected:
    // The chosen adapter's record, or null.
    AdapterInfo* adapterInfo() const;
    D3DDEVTYPE deviceType() const;
    // The adapter's desktop format in a window, else the settled display format.
    D3DFORMAT baseFormat() const;
    // Runs a dialog part for a run slot: true for results 0 and -1.
    bool runDialog(Dialog& dialog, HINSTANCE instance, HWND parent);
};
