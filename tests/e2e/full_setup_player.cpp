// The player with the full setup dialog in place of the start dialog, so
// that unattended runs can choose a fixed full-screen mode and record the
// frames. QUILLON_E2E_FAIL_CHECK=N makes a check of its own fail on each of
// the first N frames: a run can show that its checks are evaluated, and have
// a box to answer, without the demo failing one.
#include "app/old_style_setup_dialog.h"
#include "app/win_main.h"
#include "foundation/diagnostics.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    Setup::setProcessArguments(argc, argv);
    startSetup = [](DisplayManager* manager, HINSTANCE instance) {
        OldStyleSetupDialog setup(manager);
        return setup.run(instance, nullptr);
    };
    if (const char* failures = std::getenv("QUILLON_E2E_FAIL_CHECK")) {
        long left = std::atol(failures);
        frameLoopProbe = [left]() mutable {
            if (left > 0) {
                --left;
                ENGINE_ASSERT_FAILED("probe of the end-to-end run");
            }
        };
    }
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
}
