#include "app/quillon_adv_setup_dialog.h"

#include "display/display_manager.h"
#include "foundation/byte_string.h"

QuillonAdvSetupDialog::QuillonAdvSetupDialog(DisplayManager* manager) : Setup(manager), Dialog(kTemplate)
{
}

bool QuillonAdvSetupDialog::run(HINSTANCE instance, HWND parent)
{
    return runDialog(*this, instance, parent);
}

void QuillonAdvSetupDialog::selectClosestMode(D3DFORMAT format)
{
    fillModes(format);
}

void QuillonAdvSetupDialog::fillModes(D3DFORMAT format)
{
    Setup::selectClosestMode(format);
    comboClear(kResolution);
    const AdapterInfo* info = adapterInfo();
    if (!info)
        return;
    int listed = 0;
    for (u32 i = 0; i < info->modeCount; ++i) {
        const D3DDISPLAYMODE& mode = info->modes[i];
        if (mode.Format != format)
            continue;
        comboAdd(kResolution, formatTemp("%d x %d at %d Hz", static_cast<int>(mode.Width),
                                         static_cast<int>(mode.Height), static_cast<int>(mode.RefreshRate)));
        if (static_cast<i32>(i) == modeIndex)
            comboSelect(kResolution, listed);
        ++listed;
    }
}

void QuillonAdvSetupDialog::apply()
{
    const int selection = comboSelection(kResolution);
    if (const AdapterInfo* info = adapterInfo()) {
        int listed = 0;
        for (u32 i = 0; i < info->modeCount; ++i) {
            if (info->modes[i].Format != manager->settings->adapterFormat)
                continue;
            if (listed == selection) {
                modeIndex = static_cast<i32>(i);
                break;
            }
            ++listed;
        }
    }
    manager->settings->noSound = isChecked(kSoundOff) ? 1 : 0;
    Setup::apply();
}

BOOL QuillonAdvSetupDialog::onInitDialog()
{
    comboClear(kAdapter);
    for (int i = 0; i < manager->adapterCount; ++i) {
        const D3DADAPTER_IDENTIFIER9& id = manager->adapters[i].identifier;
        const String description = String::format("%.*s", static_cast<int>(sizeof(id.Description)), id.Description);
        comboAdd(kAdapter, description.c_str());
    }
    comboSelect(kAdapter, manager->settings->adapter);
    refreshFromAdapter();
    setChecked(manager->settings->noSound ? kSoundOff : kSoundOn, true);
    return TRUE;
}

BOOL QuillonAdvSetupDialog::onCommand(int id, int code)
{
    switch (id) {
    case kStart:
        apply();
        end(0);
        return TRUE;
    case kExit:
        apply();
        end(-1);
        return TRUE;
    case kAdapter:
        if (code == CBN_SELENDOK) {
            apply();
            manager->settings->adapter = comboSelection(kAdapter);
            refreshFromAdapter();
        }
        return FALSE;
    default:
        return FALSE;
    }
}
