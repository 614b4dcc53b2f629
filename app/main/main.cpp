// The quillon executable: the process arguments go to the setup (the full
// setup path reads them), then the Windows-style entry point runs.
#include "app/setup.h"
#include "app/win_main.h"

int main(int argc, char** argv)
{
    Setup::setProcessArguments(argc, argv);
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
}
