// The player with the full setup dialog in place of the start dialog, so
// that unattended runs can choose a fixed full-screen mode and record the
// frames.
#include "app/old_style_setup_dialog.h"
#include "app/win_main.h"

int main(int argc, char** argv)
{
    Setup::setProcessArguments(argc, argv);
    startSetup = [](DisplayManager* manager, HINSTANCE instance) {
        OldStyleSetupDialog setup(manager);
        return setup.run(instance, nullptr);
    };
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
}
