// The advanced start dialog: video adapter, resolution, sound on or off.
// Choosing another adapter re-runs the whole settings cascade for it.
#pragma once

#include "app/dialog.h"
#include "app/setup.h"

class QuillonAdvSetupDialog : public Setup, public Dialog {
public:
    static constexpr i32 kTemplate = 123;
    enum : int {
        kStart = 100,
        kExit = 101,
        kAdapter = 1092,
        kResolution = 1090,
        kSoundOn = 1060,
        kSoundOff = 1061,
    };

    explicit QuillonAdvSetupDialog(DisplayManager* manager);

    // True for results 0 and -1.
    bool run(HINSTANCE instance, HWND parent) override;
    void apply() override;
    // The mode slot: picks the closest mode, then lists the modes.
    void selectClosestMode(D3DFORMAT format) override;
    void fillModes(D3DFORMAT format);

    BOOL onInitDialog() override;
    BOOL onCommand(int id, int code) override;
};
