// What the dialog manager, the controls, the dialog driver and the desktop
// host share. Not for the engine.
#pragma once

#include "platform/win32/dialog.h"
#include "platform/win32/window_object.h"

#include <string>
#include <vector>

namespace platform::detail {

// State of one control window (its text is the window record's text).
struct ControlData : WindowExtension {
    ControlKind kind = ControlKind::Label;
    std::vector<std::string> items; // combo entries, in list order
    std::vector<LPARAM> itemData;   // CB_SETITEMDATA, one per entry
    int selection = -1;             // combo selection, CB_ERR for none
    int check = BST_UNCHECKED;
    WORD image = 0; // Bitmap / Icon resource id
};

// State of one dialog window.
struct DialogData : WindowExtension {
    std::string name; // "120", "SETUP": as the transcript and messages name it
    const DialogTemplate* source = nullptr;
    bool ended = false;
    INT_PTR result = 0;
};

ControlData* controlData(HWND control);
DialogData* dialogData(HWND dialog);

// Window procedure of every control class.
LRESULT CALLBACK controlWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
const char* controlClassName(ControlKind kind);
DWORD controlStyle(ControlKind kind);

// The user's gestures, with the notifications Windows sends for them.
void clickControl(HWND control);                   // BM_CLICK
void pickComboItem(HWND control, int index);       // CBN_SELCHANGE, CBN_SELENDOK
void typeText(HWND control, const std::string& text); // EN_CHANGE
// Sends WM_COMMAND (id, code) from the control to its dialog.
void notifyParent(HWND control, WORD code);

// "dialog 120 \"Pel 2004 - The Hollowmere\"".
std::string describeDialog(HWND dialog);

// --- the script and the transcript (dialog_script.cpp) ---
// Takes the next action off the script; false when it is empty. Reads
// QUILLON_DIALOG the first time the script is used.
bool popDialogAction(std::string& action);
// The next action's verb ("" when the script is empty), without taking it.
std::string peekDialogVerb();
// Forgets the rest of the script (after an error).
void dropDialogScript();
void noteDialogEvent(const std::string& event);
void notifyDialogObserver(HWND dialog);
void noteDesktopPresented();

// One checked action of the script.
struct DialogAction {
    std::string verb; // press, check, uncheck, select, text, close
    HWND control = nullptr;
    int id = 0;
    int item = 0;     // select
    std::string text; // text
};

// Reads and checks an action against the dialog. On an error it prints the
// line, notes it, ends the dialog with -1 and drops the script; returns
// false then.
bool parseDialogAction(HWND dialog, const std::string& text, DialogAction& action);
// Notes the action, plays the gesture and calls the observer.
void performDialogAction(HWND dialog, const DialogAction& action);
// Both of the above.
bool playDialogAction(HWND dialog, const std::string& text);

// Plays the script on a dialog until it ends (the headless user).
void driveDialog(HWND dialog);

} // namespace platform::detail
