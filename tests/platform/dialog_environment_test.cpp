// What the environment decides: the script in QUILLON_DIALOG, and the
// fall-back to the driver when the display cannot be opened. Both run in a
// fresh process (the script is read once per process; a failed toolkit
// stays loaded).
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using ::testing::HasSubstr;

namespace {

INT_PTR CALLBACK startProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && (LOWORD(wParam) == 100 || LOWORD(wParam) == 101 || LOWORD(wParam) == 1085)) {
        EndDialog(dialog, LOWORD(wParam) == 100 ? 0 : LOWORD(wParam) == 101 ? -1 : 1);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

// Runs this test program again with one test selected and the given
// environment; returns its exit status and output. Once: the probes read
// the environment once per process, whatever GTEST_REPEAT the run has.
int runSelf(const std::string& filter, const std::string& environment, std::string& output)
{
    const std::string log = (std::filesystem::current_path() / (filter + ".log")).string();
    const std::string command = environment + " /proc/" + std::to_string(getpid()) +
                                "/exe --gtest_repeat=1 --gtest_filter='" + filter + "' > '" + log + "' 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream in(log);
    output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool probing()
{
    return std::getenv("QUILLON_ENV_PROBE") != nullptr;
}

TEST(DialogEnvironmentProbe, ScriptFromTheEnvironment)
{
    if (!probing())
        GTEST_SKIP() << "runs only inside DialogEnvironmentTest";
    // QUILLON_DIALOG="press 1085 ; press 101": the first dialog goes to the
    // advanced options, the second exits, the third starts by default.
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(120), nullptr, &startProcedure, 0), 1);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(120), nullptr, &startProcedure, 0), -1);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(120), nullptr, &startProcedure, 0), 0);
}

TEST(DialogEnvironmentProbe, UnreachableDisplay)
{
    if (!probing())
        GTEST_SKIP() << "runs only inside DialogEnvironmentTest";
    // A display is named but cannot be opened: the driver answers, message
    // boxes only print.
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(120), nullptr, &startProcedure, 0), 0);
    EXPECT_EQ(MessageBoxA(nullptr, "still here", "Probe", MB_OKCANCEL | MB_ICONEXCLAMATION), IDOK);
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0); // the toolkit stays loaded; skip its leak report
}

TEST(DialogEnvironmentTest, QuillonDialogHoldsTheScript)
{
    std::string output;
    const int code = runSelf("DialogEnvironmentProbe.ScriptFromTheEnvironment",
                             "QUILLON_ENV_PROBE=1 QUILLON_HEADLESS=1 QUILLON_DIALOG='press 1085 ; press 101'", output);
    EXPECT_EQ(code, 0) << output;
    EXPECT_THAT(output, HasSubstr("[  PASSED  ] 1 test"));
}

TEST(DialogEnvironmentTest, AnUnreachableDisplayFallsBackToTheDriver)
{
    int display = 190;
    while (display < 250 && std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display)))
        ++display;
    std::string output;
    const int code = runSelf("DialogEnvironmentProbe.UnreachableDisplay",
                             "env -u QUILLON_HEADLESS -u QUILLON_DIALOG -u WAYLAND_DISPLAY QUILLON_ENV_PROBE=1 "
                             "GDK_BACKEND=x11 DISPLAY=:" + std::to_string(display),
                             output);
    EXPECT_EQ(code, 0) << output;
    EXPECT_THAT(output, HasSubstr("the dialog driver answers instead"));
    EXPECT_THAT(output, HasSubstr("[Probe] still here"));
}

} // namespace
