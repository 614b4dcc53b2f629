// The start dialog: Start, Advanced Options or Exit. Whatever is pressed,
// the settings are settled before the dialog ends.
#pragma once

#include "app/dialog.h"
#include "app/setup.h"

class QuillonSetup : public Setup, public Dialog {
public:
    static constexpr i32 kTemplate = 120;
    enum : int { kStart = 100, kExit = 101, kAdvanced = 1085 };

    explicit QuillonSetup(DisplayManager* manager);

    // True for Start, also after Start in the advanced dialog.
    bool run(HINSTANCE instance, HWND parent) override;

    BOOL onInitDialog() override;
    BOOL onCommand(int id, int code) override;
};
