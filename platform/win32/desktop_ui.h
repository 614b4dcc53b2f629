// The desktop side of dialogs, message boxes and the file chooser. The
// toolkit lives in a module of its own (libquillon_gtk.so) that is loaded
// and initialised the first time a desktop is actually used, so that a run
// without a display never loads it. This header is the whole interface
// between the two: the module sees no other part of the stand-in.
#pragma once

#include "platform/win32/dialog_template.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace platform::desktop {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba; // top-down, 4 bytes a pixel
};

// What one control shows.
struct ControlState {
    int id = 0;
    ControlKind kind = ControlKind::Label;
    std::string text;
    int x = 0, y = 0, width = 0, height = 0;
    bool exists = true; // false once the control was destroyed
    bool enabled = true;
    bool visible = true;
    bool groupStart = false; // WS_GROUP: a new radio group begins here
    int check = 0;           // BST_* of check boxes and radio buttons
    std::vector<std::string> items;
    int selection = -1;
    Image image; // Bitmap and Icon controls
};

// An action queued for the open dialog (a test, a remote control), played
// through the widgets so that it takes the user's path.
struct UserAction {
    enum Kind { Press, Toggle, Select, Type, Close } kind = Press;
    size_t index = 0; // the control
    int item = 0;     // Select
    std::string text; // Type
};

// The dialog as the view sees it; implemented by the dialog manager. Every
// call happens on the thread that runs the dialog.
class DialogHost {
public:
    virtual ~DialogHost() = default;
    virtual std::string caption() = 0;
    virtual int clientWidth() = 0;
    virtual int clientHeight() = 0;
    virtual bool visible() = 0;
    virtual size_t controlCount() = 0;
    virtual ControlState control(size_t index) = 0;

    // The user's input, by control index.
    virtual void click(size_t index) = 0;
    virtual void pick(size_t index, int item) = 0;
    virtual void edit(size_t index, const std::string& text) = 0;
    virtual void closeRequested() = 0; // the title bar's close button
    virtual void escapePressed() = 0;  // IDCANCEL, as a dialog's keyboard handling sends it
    // The next queued action that needs a widget; actions that would not
    // change a widget are played directly. False when there is none (or
    // the action was refused and the dialog ended).
    virtual bool nextAction(UserAction& action) = 0;
    virtual bool ended() = 0;
    // The window's first frame reached the display.
    virtual void presented() = 0;
};

struct SaveFileRequest {
    std::string title;
    std::vector<std::pair<std::string, std::string>> filters; // name, patterns ("*.avi;*.mp4")
    std::string initialName;
    std::string initialFolder;
};

class Backend {
public:
    virtual ~Backend() = default;
    // Connects to the display; false when there is none to connect to.
    virtual bool initialise() = 0;
    // Shows the dialog and runs a nested main loop until host.ended().
    virtual void runDialog(DialogHost& host) = 0;
    // MB_* type bits in, the ID* of the button pressed out.
    virtual int messageBox(const std::string& text, const std::string& caption, unsigned type) = 0;
    // The chosen path (UTF-8); false when the user cancelled.
    virtual bool saveFile(const SaveFileRequest& request, std::string& path) = 0;
    // From any thread: the box, chooser or dialog on show closes as its
    // close button would close it.
    virtual void interrupt() = 0;
};

// The module's one exported symbol.
using BackendEntry = Backend* (*)();
inline constexpr const char* kBackendEntryName = "quillon_desktop_backend";

// True when DISPLAY or WAYLAND_DISPLAY names a display.
bool displayPresent();

// True when dialogs should be shown on the desktop: a display, neither
// QUILLON_DIALOG nor QUILLON_HEADLESS set, and the toolkit initialises.
// Otherwise the dialog driver answers.
bool dialogsOnDesktop();

// True when MessageBoxA should also show a box on the desktop (the same
// conditions).
bool messageBoxesOnDesktop();

// The initialised backend, or null (no display, no module, or the toolkit
// could not connect). Callers hold desktopLock() while they use it.
Backend* backend();

// The toolkit is single-threaded: one desktop interaction at a time.
std::recursive_mutex& desktopLock();

// From any thread, without desktopLock(): closes what the desktop shows,
// when a backend was initialised.
void interruptDesktop();

} // namespace platform::desktop
