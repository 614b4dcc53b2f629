// Dialog templates as C++ data. The stand-in's resource compiler is the C++
// compiler: a template is a table of controls registered as an RT_DIALOG
// resource, and DialogBoxParamA builds the dialog's windows from it.
#pragma once

#include "platform/win32/win_types.h"

#ifndef RT_BITMAP
#define RT_BITMAP MAKEINTRESOURCEA(2)
#endif
#ifndef RT_ICON
#define RT_ICON MAKEINTRESOURCEA(3)
#endif
#ifndef RT_DIALOG
#define RT_DIALOG MAKEINTRESOURCEA(5)
#endif
#ifndef RT_GROUP_ICON
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)
#endif

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

namespace platform {

enum class ControlKind : unsigned char {
    PushButton,
    DefaultPushButton,
    CheckBox,    // BS_AUTOCHECKBOX
    RadioButton, // BS_AUTORADIOBUTTON
    GroupBox,
    Label,
    Edit,
    ComboBox, // CBS_DROPDOWNLIST
    Bitmap,   // SS_BITMAP: shows an RT_BITMAP resource
    Icon,     // SS_ICON: shows an RT_ICON resource
};

// Control flags in a template.
enum : unsigned {
    kControlGroup = 1,    // WS_GROUP: starts a group (radio buttons, tab stops)
    kControlDisabled = 2, // WS_DISABLED
};

struct DialogControlTemplate {
    int id; // IDC_STATIC for controls nobody addresses
    ControlKind kind;
    const char* text;
    // Pixels in the dialog's client area.
    short x, y, width, height;
    unsigned flags;
    WORD image; // Bitmap/Icon: the resource id
};

inline constexpr DWORD kDialogTemplateMagic = 0x474C4451; // "QDLG"

struct DialogTemplate {
    DWORD magic; // kDialogTemplateMagic: anything else under RT_DIALOG is refused
    const char* caption;
    short width, height; // client size in pixels
    const DialogControlTemplate* controls;
    size_t controlCount;
};

// The template behind resource bytes, or null when they are not one of ours
// (a foreign or truncated RT_DIALOG blob must not be read as a table).
const DialogTemplate* dialogTemplateFrom(const void* data, size_t size);

// Registers the built-in templates (120, 123, "SETUP", the text prompt) and
// their pictures (bitmap 133, icon 118). Idempotent; the dialog manager calls
// it before looking a template up, which also keeps the resource table
// linked in from the static library.
void registerBuiltinDialogResources();

// Name of the template behind promptText.
inline constexpr const char* kTextPromptTemplate = "QUILLON_TEXT_PROMPT";
inline constexpr int kTextPromptLabel = 1000;
inline constexpr int kTextPromptEdit = 1001;

} // namespace platform
