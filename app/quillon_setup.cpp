#include "app/quillon_setup.h"

#include "app/quillon_adv_setup_dialog.h"

QuillonSetup::QuillonSetup(DisplayManager* manager) : Setup(manager), Dialog(kTemplate)
{
}

bool QuillonSetup::run(HINSTANCE instance, HWND parent)
{
    const int result = Dialog::run(instance, parent);
    if (result == 0)
        return true;
    if (result != 1)
        return false;
    QuillonAdvSetupDialog advanced(manager);
    advanced.modeIndex = 0;
    return advanced.Dialog::run(instance, parent) == 0;
}

BOOL QuillonSetup::onInitDialog()
{
    refreshFromAdapter();
    return TRUE;
}

BOOL QuillonSetup::onCommand(int id, int)
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
    case kAdvanced:
        apply();
        end(1);
        return TRUE;
    default:
        return FALSE;
    }
}
