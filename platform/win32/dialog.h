// Modal dialogs built from the templates in resources/ (dialog_template.h).
// A dialog and each of its controls are windows; the dialog procedure gets
// WM_INITDIALOG, WM_COMMAND and WM_SYSCOMMAND as on Windows.
//
// Who plays the user:
// - On a desktop (DISPLAY or WAYLAND_DISPLAY set, neither QUILLON_DIALOG nor
//   QUILLON_HEADLESS set, and GTK initialises) the dialog is shown as GTK
//   widgets and runs until EndDialog.
// - Otherwise the dialog driver answers. It plays the actions of a script,
//   taken from QUILLON_DIALOG (read once, at the first dialog) or given by
//   setDialogScript. Actions are separated by ';':
//     select <combo id> <index>   pick an entry (CBN_SELCHANGE, CBN_SELENDOK)
//     check <id> / uncheck <id>   click a box or radio button unless it
//                                 already is in that state
//     text <edit id> <text>       replace an edit's text (EN_CHANGE)
//     press <button id>           click a button (BN_CLICKED)
//     close                       the title bar's close button (SC_CLOSE)
//     save <path> / cancel        answer a save-file chooser (commdlg.h)
//   A text cannot hold ';'. The script is one queue for the whole run: a dialog opened after (or
//   from) another one goes on with the next action. When it runs out, the
//   driver presses the dialog's default button; if that does not end the
//   dialog it closes it, and if even that does not, it ends the dialog
//   with -1 and says so. An action naming a control that does not exist
//   (or that is disabled, or of the wrong kind) prints a line on standard
//   error naming the dialog, the action and the id, ends the dialog with -1
//   and drops the rest of the script.
//
// Default handling when the dialog procedure returns FALSE follows
// Windows: WM_SYSCOMMAND SC_CLOSE becomes WM_CLOSE, WM_CLOSE becomes
// WM_COMMAND IDCANCEL (unless an IDCANCEL control exists and is disabled),
// Escape on the desktop sends WM_COMMAND IDCANCEL too, and WM_COMMAND with
// IDOK or IDCANCEL is *not* an implicit EndDialog: a procedure that
// ignores them keeps its dialog open.
#pragma once

#include "platform/win32/dialog_controls.h"
#include "platform/win32/dialog_template.h"
#include "platform/win32/message_box.h"
#include "platform/win32/win_types.h"
#include "platform/win32/window.h"

#include <functional>
#include <string>
#include <vector>

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

// Dialog window extra slots (GetWindowLongPtrA / SetWindowLongPtrA).
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC 8
#define DWLP_USER 16
#define DLGWINDOWEXTRA 24

// Dialog styles
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define DS_CENTER 0x0800L

#define WC_DIALOG "#32770"

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                               LPARAM initParam);
#define DialogBoxA(instance, templateName, owner, procedure) \
    DialogBoxParamA(instance, templateName, owner, procedure, 0)
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
LRESULT WINAPI DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

HWND WINAPI GetDlgItem(HWND dialog, int id);
LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
UINT WINAPI GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
BOOL WINAPI SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size);
BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check);
UINT WINAPI IsDlgButtonChecked(HWND dialog, int id);
BOOL WINAPI CheckRadioButton(HWND dialog, int firstId, int lastId, int checkId);

namespace platform {

// Replaces the driver's script (null or "" empties it). Also stops
// QUILLON_DIALOG from being read later.
void setDialogScript(const char* script);
// Appends actions to the script; safe from any thread. On the desktop the
// open dialog plays them as if the user did (tests, remote control).
void queueDialogActions(const char* script);
// The actions not played yet.
std::vector<std::string> pendingDialogActions();

// What happened, in order: "open 120", "select 1092 1", "press 100",
// "press 100 (default)", "close", "end 120 0", "save vid.avi",
// "error: ...". Dialogs are named by number or by name.
std::vector<std::string> dialogTranscript();
void clearDialogTranscript();

// Called with the dialog after WM_INITDIALOG and after each action (the
// driver's, or the user's on the desktop), on the dialog's thread. Empty
// to remove.
void setDialogObserver(std::function<void(HWND dialog)> observer);

// Dialogs whose first frame reached the desktop so far.
int desktopDialogsPresented();

// The dialog in front (the innermost modal one), or null.
HWND activeDialog();

// One control's state, for tests and the desktop view.
struct DialogControlInfo {
    int id = 0;
    ControlKind kind = ControlKind::Label;
    std::string text;
    bool enabled = true;
    bool visible = true;
    int check = 0;
    std::vector<std::string> items;
    int selection = -1;
};
// Controls of a dialog in creation order; empty for a window that is not a
// dialog.
std::vector<DialogControlInfo> dialogControls(HWND dialog);

} // namespace platform
