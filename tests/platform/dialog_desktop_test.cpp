// The start dialog on a real (virtual) X display: it must appear as GTK
// widgets, show up on a screenshot, and end when Start is pressed. Needs
// Xvfb and ImageMagick; skipped without them.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

bool onPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(':', start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string candidate = rest.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

int freeDisplayNumber()
{
    for (int n = 87; n < 200; ++n) {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        if (!fs::exists(socket) && !fs::exists(lock))
            return n;
    }
    return -1;
}

// Waits for a child with a deadline of polls; true when it exited, with
// its status.
bool waitFor(pid_t pid, int& status, int polls, int pollMs)
{
    for (int i = 0; i < polls; ++i) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return false;
}

struct Ppm {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

bool readPpm(const fs::path& path, Ppm& image)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> image.width >> image.height >> maxValue;
    in.get();
    if (!in || magic != "P6" || maxValue != 255 || image.width <= 0 || image.height <= 0)
        return false;
    image.rgb.resize(size_t(image.width) * image.height * 3);
    in.read(reinterpret_cast<char*>(image.rgb.data()), std::streamsize(image.rgb.size()));
    return bool(in);
}

// Fills the lists the way the setup code does, so that the screenshots
// show filled widgets; Start ends with 0, Exit with -1.
INT_PTR CALLBACK setupProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        const auto add = [&](int id, std::initializer_list<const char*> items) {
            for (const char* item : items)
                SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, (LPARAM)item);
            SendDlgItemMessageA(dialog, id, CB_SETCURSEL, 0, 0);
        };
        if (GetDlgItem(dialog, 1092)) {
            add(1092, {"llvmpipe (LLVM 15.0.6, 256 bits)", "Second adapter"});
            add(1090, {"640 x 480 at 60 Hz", "800 x 600 at 60 Hz", "1024 x 768 at 60 Hz"});
            CheckDlgButton(dialog, 1060, BST_CHECKED);
        }
        if (GetDlgItem(dialog, 103)) {
            add(103, {"llvmpipe (LLVM 15.0.6, 256 bits)"});
            add(108, {"1024 x 768 at 60 Hz"});
            add(119, {"60 Hz"});
            add(114, {"D3DFMT_X8R8G8B8"});
            add(277, {"D3DFMT_A8R8G8B8"});
            add(180, {"No Multisampling", "std. - 4 Samples"});
            add(121, {"D3DFMT_A8R8G8B8"});
            add(123, {"D3DFMT_A8R8G8B8"});
            add(275, {"D3DFMT_D24S8"});
            add(125, {"D3DFMT_D24S8"});
            add(127, {"architecture.sar", "industry.sar", "interior.sar"});
            add(170, {"scene.scr", "scene2.scr", "scene3.scr"});
            add(129, {"(none)", "(BMP image sequence)"});
            SetDlgItemInt(dialog, 110, 1024, FALSE);
            SetDlgItemInt(dialog, 112, 768, FALSE);
            SetDlgItemInt(dialog, 310, 0, FALSE);
            CheckDlgButton(dialog, 104, BST_CHECKED);
            EnableWindow(GetDlgItem(dialog, 108), FALSE);
        }
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == 100 || LOWORD(wParam) == 101)) {
        EndDialog(dialog, LOWORD(wParam) == 100 ? 0 : -1);
        return TRUE;
    }
    return FALSE;
}

// Exit codes of the child that shows the dialogs.
enum ChildResult { kOk = 0, kWrongResult = 2, kNeverShown = 3, kNoScreenshot = 4, kNotPlayed = 5 };

struct Shown {
    LPCSTR name;
    const char* screenshot;
    const char* actions; // what the user does once it is on screen
};

const Shown kDialogs[] = {
    {MAKEINTRESOURCEA(120), "start_dialog_120.png", "press 100"},
    {MAKEINTRESOURCEA(123), "advanced_dialog_123.png", "select 1090 2; check 1061; press 100"},
    {"SETUP", "setup_dialog.png", "check 1111; text 310 42; press 100"},
};

[[noreturn]] void showDialogsOnDisplay(int display, const fs::path& folder)
{
    setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QUILLON_DIALOG");
    unsetenv("QUILLON_HEADLESS");
    platform::setDialogScript(nullptr);
    platform::clearDialogTranscript();

    int code = kOk;
    int presented = 0;
    for (const Shown& shown : kDialogs) {
        std::thread user([&] {
            bool up = false;
            for (int i = 0; i < 1500 && !up; ++i) {
                up = platform::desktopDialogsPresented() > presented;
                if (!up)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (!up) {
                code = kNeverShown;
            } else {
                // The actions but the last, then the screenshot, then the
                // last one (which ends the dialog).
                const std::string all = shown.actions;
                const size_t last = all.rfind(';');
                if (last != std::string::npos) {
                    platform::queueDialogActions(all.substr(0, last).c_str());
                    for (int i = 0; i < 500 && !platform::pendingDialogActions().empty(); ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // widgets redrawn
                }
                const std::string command = "import -display :" + std::to_string(display) + " -window root '" +
                                            (folder / shown.screenshot).string() + "' > /dev/null 2>&1";
                if (std::system(command.c_str()) != 0 && code == kOk)
                    code = kNoScreenshot;
                platform::queueDialogActions(last == std::string::npos ? all.c_str() : all.substr(last + 1).c_str());
                return;
            }
            platform::queueDialogActions("press 100");
        });
        const INT_PTR result = DialogBoxParamA(nullptr, shown.name, nullptr, &setupProcedure, 0);
        user.join();
        ++presented;
        if (code == kOk && result != 0)
            code = kWrongResult;
    }
    if (code == kOk) {
        const std::vector<std::string> t = platform::dialogTranscript();
        const std::vector<std::string> expected = {
            "open 120", "press 100", "end 120 0",
            "open 123", "select 1090 2", "check 1061", "press 100", "end 123 0",
            "open SETUP", "check 1111", "text 310 42", "press 100", "end SETUP 0"};
        if (t != expected) {
            for (const std::string& e : t)
                std::fprintf(stderr, "transcript: %s\n", e.c_str());
            code = kNotPlayed;
        }
    }
    std::fflush(nullptr);
    _exit(code);
}

TEST(DesktopDialogTest, StartDialogAppearsOnAnXDisplayAndStarts)
{
    if (!onPath("Xvfb") || !onPath("import") || !onPath("convert"))
        GTEST_SKIP() << "needs Xvfb and ImageMagick (scripts/install-deps.sh installs them)";
    const int display = freeDisplayNumber();
    ASSERT_GT(display, 0) << "no free X display number";

    const std::string name = ":" + std::to_string(display);
    const std::string log = (fs::current_path() / "xvfb.log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> args = {"Xvfb", name, "-screen", "0", "1024x768x24", "-br", "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t server = 0;
    ASSERT_EQ(posix_spawnp(&server, "Xvfb", &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
    int status = 0;
    bool up = false;
    for (int i = 0; i < 500 && !up; ++i) {
        if (::waitpid(server, &status, WNOHANG) == server)
            break;
        up = fs::exists(socket);
        if (!up)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!up) {
        ::kill(server, SIGKILL);
        ::waitpid(server, &status, 0);
        FAIL() << "Xvfb " << name << " did not come up; see " << log;
    }

    for (const Shown& shown : kDialogs)
        fs::remove(fs::current_path() / shown.screenshot);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        showDialogsOnDisplay(display, fs::current_path());

    int childStatus = 0;
    const bool finished = waitFor(child, childStatus, 3000, 20);
    if (!finished) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &childStatus, 0);
    }
    ::kill(server, SIGTERM);
    if (!waitFor(server, status, 250, 20)) {
        ::kill(server, SIGKILL);
        ::waitpid(server, &status, 0);
    }

    ASSERT_TRUE(finished) << "the dialog did not end";
    ASSERT_TRUE(WIFEXITED(childStatus)) << "the dialog process died";
    const int code = WEXITSTATUS(childStatus);
    ASSERT_NE(code, kNeverShown) << "the dialog never reached the display";
    ASSERT_NE(code, kNoScreenshot) << "import could not take the screenshot";
    ASSERT_NE(code, kNotPlayed) << "the queued actions were not played as the user's";
    ASSERT_EQ(code, kOk) << "DialogBoxParamA did not return 0";

    // Not blank: the root is black (-br), the dialogs are not.
    for (const Shown& shown : kDialogs) {
        const fs::path png = fs::current_path() / shown.screenshot;
        const fs::path ppm = fs::path(png).replace_extension(".ppm");
        ASSERT_EQ(std::system(("convert '" + png.string() + "' '" + ppm.string() + "'").c_str()), 0) << png;
        Ppm shot;
        ASSERT_TRUE(readPpm(ppm, shot)) << ppm;
        fs::remove(ppm);
        EXPECT_EQ(shot.width, 1024);
        EXPECT_EQ(shot.height, 768);
        size_t lit = 0;
        std::set<unsigned> colours;
        for (size_t i = 0; i + 2 < shot.rgb.size(); i += 3) {
            const unsigned c = unsigned(shot.rgb[i]) << 16 | unsigned(shot.rgb[i + 1]) << 8 | shot.rgb[i + 2];
            if (c != 0)
                ++lit;
            colours.insert(c);
        }
        EXPECT_GT(lit, size_t(420 * 142 / 2)) << shown.screenshot << ": less than half a dialog on screen";
        EXPECT_GT(colours.size(), 50u) << shown.screenshot << ": hardly any colours";
    }
}

} // namespace
