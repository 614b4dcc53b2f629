// The dialogs of the program: the start dialog 120, the advanced dialog 123,
// the full setup dialog "SETUP" and the text prompt. Coordinates are pixels
// sized for a desktop toolkit's default font (rows 38 pixels apart).
#include "platform/win32/dialog_template.h"
#include "platform/win32/message_box.h"
#include "platform/win32/resources.h"
#include "resources/dialog_images.h"

#include <iterator>
#include <mutex>

namespace {

using platform::ControlKind;
using platform::DialogControlTemplate;
using platform::DialogTemplate;
using platform::kControlGroup;

constexpr ControlKind Push = ControlKind::PushButton;
constexpr ControlKind DefPush = ControlKind::DefaultPushButton;
constexpr ControlKind Check = ControlKind::CheckBox;
constexpr ControlKind Radio = ControlKind::RadioButton;
constexpr ControlKind Group = ControlKind::GroupBox;
constexpr ControlKind Label = ControlKind::Label;
constexpr ControlKind Edit = ControlKind::Edit;
constexpr ControlKind Combo = ControlKind::ComboBox;
constexpr ControlKind Bitmap = ControlKind::Bitmap;
constexpr ControlKind Icon = ControlKind::Icon;

const char kCaption[] = "Pel 2004 - The Hollowmere";

const DialogControlTemplate kStartControls[] = {
    {IDC_STATIC, Bitmap, "", 82, 12, 256, 64, 0, 133},
    {100, DefPush, "&Start", 12, 96, 120, 34, kControlGroup, 0},
    {1085, Push, "&Advanced Options", 144, 96, 144, 34, 0, 0},
    {101, Push, "E&xit", 300, 96, 108, 34, 0, 0},
};

const DialogControlTemplate kAdvancedControls[] = {
    {IDC_STATIC, Group, "Advanced Options", 8, 4, 404, 160, 0, 0},
    {IDC_STATIC, Label, "Video Adapter", 20, 32, 110, 20, 0, 0},
    {1092, Combo, "", 136, 26, 264, 32, kControlGroup, 0},
    {IDC_STATIC, Label, "Resolution", 20, 72, 110, 20, 0, 0},
    {1090, Combo, "", 136, 66, 264, 32, kControlGroup, 0},
    {IDC_STATIC, Icon, "", 20, 110, 32, 32, 0, 118},
    {IDC_STATIC, Label, "Sound", 60, 116, 70, 20, 0, 0},
    {1060, Radio, "on", 136, 112, 70, 28, kControlGroup, 0},
    {1061, Radio, "off", 216, 112, 70, 28, 0, 0},
    {100, DefPush, "&Start", 180, 176, 110, 34, kControlGroup, 0},
    {101, Push, "E&xit", 302, 176, 110, 34, 0, 0},
};

// Left column: adapter, resolution, formats, debugging; right column:
// enumerations, input/output, switches and the buttons.
const DialogControlTemplate kSetupControls[] = {
    {102, Label, "Adapter", 12, 14, 90, 20, 0, 0},
    {103, Combo, "", 104, 8, 212, 32, kControlGroup, 0},
    {104, Check, "Windowed", 12, 46, 150, 26, kControlGroup, 0},
    {106, Group, "Resolution", 8, 78, 312, 150, 0, 0},
    {107, Label, "Resolution", 20, 104, 80, 20, 0, 0},
    {108, Combo, "", 104, 98, 204, 32, kControlGroup, 0},
    {109, Label, "Width", 20, 142, 80, 20, 0, 0},
    {110, Edit, "", 104, 136, 70, 32, kControlGroup, 0},
    {111, Label, "Height", 184, 142, 50, 20, 0, 0},
    {112, Edit, "", 238, 136, 70, 32, kControlGroup, 0},
    {118, Label, "Rate", 20, 182, 80, 20, 0, 0},
    {119, Combo, "", 104, 176, 204, 32, kControlGroup, 0},
    {113, Group, "Format", 8, 236, 312, 136, 0, 0},
    {IDC_STATIC, Label, "Display", 20, 262, 100, 20, 0, 0},
    {114, Combo, "", 124, 256, 184, 32, kControlGroup, 0},
    {IDC_STATIC, Label, "Backbuffer", 20, 300, 100, 20, 0, 0},
    {277, Combo, "", 124, 294, 184, 32, kControlGroup, 0},
    {IDC_STATIC, Label, "Multisampling", 20, 338, 100, 20, 0, 0},
    {180, Combo, "", 124, 332, 184, 32, kControlGroup, 0},
    {IDC_STATIC, Group, "Debugging", 8, 380, 312, 160, 0, 0},
    {117, Check, "Reference Rasterizer", 20, 402, 280, 26, kControlGroup, 0},
    {276, Check, "Force Software Vertexprocessing", 20, 430, 290, 26, kControlGroup, 0},
    {IDC_STATIC, Label, "Break at Memory Alloc", 20, 498, 170, 20, 0, 0},
    {310, Edit, "", 196, 492, 112, 32, kControlGroup, 0},
    {1073, Check, "Pure Device", 20, 458, 280, 26, kControlGroup, 0},
    {IDC_STATIC, Group, "Enumerations", 328, 4, 304, 184, 0, 0},
    {120, Label, "Texture", 340, 32, 96, 20, 0, 0},
    {121, Combo, "", 440, 26, 182, 32, kControlGroup, 0},
    {122, Label, "Render Target", 340, 70, 96, 20, 0, 0},
    {123, Combo, "", 440, 64, 182, 32, kControlGroup, 0},
    {IDC_STATIC, Label, "Depth Target", 340, 108, 96, 20, 0, 0},
    {275, Combo, "", 440, 102, 182, 32, kControlGroup, 0},
    {124, Label, "DnS Buffer", 340, 146, 96, 20, 0, 0},
    {125, Combo, "", 440, 140, 182, 32, kControlGroup, 0},
    {128, Label, "Video Output", 340, 300, 96, 20, 0, 0},
    {129, Combo, "", 440, 294, 182, 32, kControlGroup, 0},
    {149, Label, "Scriptfile", 340, 262, 96, 20, 0, 0},
    {170, Combo, "", 440, 256, 182, 32, kControlGroup, 0},
    {100, DefPush, "&Start", 400, 504, 110, 34, kControlGroup, 0},
    {101, Push, "E&xit", 522, 504, 110, 34, 0, 0},
    {1074, Check, "No Sound", 340, 350, 140, 26, kControlGroup, 0},
    {1084, Check, "Stereo", 490, 350, 130, 26, kControlGroup, 0},
    {1099, Check, "No Dynamic Depth", 340, 380, 160, 26, kControlGroup, 0},
    {1111, Check, "FFP", 510, 380, 100, 26, kControlGroup, 0},
    {IDC_STATIC, Group, "Input/Output", 328, 196, 304, 142, 0, 0},
    {127, Combo, "", 440, 218, 182, 32, kControlGroup, 0},
    {126, Label, "Sar-Archive", 340, 224, 96, 20, 0, 0},
};

const DialogControlTemplate kPromptControls[] = {
    {platform::kTextPromptLabel, Label, "", 12, 14, 336, 20, 0, 0},
    {platform::kTextPromptEdit, Edit, "", 12, 42, 336, 32, kControlGroup, 0},
    {IDOK, DefPush, "OK", 140, 88, 100, 34, kControlGroup, 0},
    {IDCANCEL, Push, "Cancel", 248, 88, 100, 34, 0, 0},
};

template <size_t N>
constexpr DialogTemplate makeTemplate(const char* caption, short width, short height,
                                      const DialogControlTemplate (&controls)[N])
{
    return DialogTemplate{platform::kDialogTemplateMagic, caption, width, height, controls, N};
}

const DialogTemplate kStartDialog = makeTemplate(kCaption, 420, 142, kStartControls);
const DialogTemplate kAdvancedDialog = makeTemplate(kCaption, 420, 222, kAdvancedControls);
const DialogTemplate kSetupDialog = makeTemplate("Corvane Quillon 3D Setup", 640, 550, kSetupControls);
const DialogTemplate kPromptDialog = makeTemplate("", 360, 134, kPromptControls);

void registerAll()
{
    platform::registerResource(RT_DIALOG, 120, &kStartDialog, sizeof kStartDialog);
    platform::registerResource(RT_DIALOG, 123, &kAdvancedDialog, sizeof kAdvancedDialog);
    platform::registerResource(RT_DIALOG, "SETUP", &kSetupDialog, sizeof kSetupDialog);
    platform::registerResource(RT_DIALOG, platform::kTextPromptTemplate, &kPromptDialog, sizeof kPromptDialog);
    const std::vector<unsigned char>& picture = resources::startDialogBitmap();
    platform::registerResource(RT_BITMAP, 133, picture.data(), picture.size());
    const std::vector<unsigned char>& icon = resources::soundIcon();
    platform::registerResource(RT_ICON, 118, icon.data(), icon.size());
    platform::registerResource(RT_GROUP_ICON, 118, icon.data(), icon.size());
}

// Also registered before main, so that FindResourceA finds them even before
// the first dialog, whenever this object file is part of the program.
[[maybe_unused]] const bool registeredAtStart = (platform::registerBuiltinDialogResources(), true);

} // namespace

namespace platform {

const DialogTemplate* dialogTemplateFrom(const void* data, size_t size)
{
    if (!data || size != sizeof(DialogTemplate))
        return nullptr;
    const auto* t = static_cast<const DialogTemplate*>(data);
    if (t->magic != kDialogTemplateMagic || (t->controlCount && !t->controls))
        return nullptr;
    return t;
}

void registerBuiltinDialogResources()
{
    static std::once_flag once;
    std::call_once(once, registerAll);
}

} // namespace platform
