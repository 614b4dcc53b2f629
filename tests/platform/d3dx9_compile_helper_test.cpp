// SIGTERM during a compile ends the wait at once and the run with WM_QUIT. The probe
// runs in a fresh copy of this program: a fork would lack the signal watcher's thread.
#include "file_bytes.h"
#include "scoped_state.h"
#include "window_test_support.h"

#include "platform/d3dx9/compile_helper.h"
#include "platform/d3dx9/hlsl_front_end.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace platform::d3dx9;

namespace {

// Only its processor budget would stop it, seconds later.
std::string endlessCompile(const std::string&)
{
    volatile unsigned turns = 0;
    while (true)
        turns = turns + 1;
}

} // namespace

TEST(CompileHelperProbe, TerminationDuringACompile)
{
    const char* fd = std::getenv("QUILLON_COMPILE_PROBE");
    if (!fd)
        GTEST_SKIP() << "runs only inside CompileHelper.TerminationEndsTheWaitForACompile";
    HWND window = makeWindow(); // from the first top-level window on, SIGTERM posts WM_QUIT
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue, as the frame loop has it
    const int ready = std::atoi(fd);
    ASSERT_EQ(write(ready, "w", 1), 1);
    HelperOutcome outcome = HelperOutcome::Done;
    onCompileThread([&] {
        std::string reply;
        outcome = runInHelper(&endlessCompile, "", reply);
        return true;
    });
    EXPECT_EQ(outcome, HelperOutcome::Interrupted);
    SetTimer(window, 1, 5000, nullptr); // a way out when no quit comes
    while (GetMessageA(&msg, nullptr, 0, 0) != 0 && msg.message != WM_TIMER) {
    }
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
}

TEST(CompileHelper, TerminationEndsTheWaitForACompile)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string self = "/proc/" + std::to_string(getpid()) + "/exe";
    const std::string filter = "--gtest_filter=CompileHelperProbe.*";
    char* argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>(filter.c_str()), nullptr};
    posix_spawn_file_actions_t output;
    posix_spawn_file_actions_init(&output);
    const std::string logName = testing::TempDir() + "compile_probe.log";
    posix_spawn_file_actions_addopen(&output, 1, logName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&output, 1, 2);
    pid_t pid = -1;
    int spawned = -1;
    {
        testsupport::ScopedEnv probe("QUILLON_COMPILE_PROBE", std::to_string(fds[1]).c_str());
        spawned = posix_spawn(&pid, self.c_str(), &output, nullptr, argv, environ);
    }
    posix_spawn_file_actions_destroy(&output);
    ASSERT_EQ(spawned, 0);
    close(fds[1]);
    pollfd waiting{fds[0], POLLIN, 0};
    char byte = 0;
    const bool started = poll(&waiting, 1, 30000) == 1 && read(fds[0], &byte, 1) == 1;
    close(fds[0]);
    EXPECT_TRUE(started);
    usleep(300 * 1000); // well into the compile
    const auto sent = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() - sent < std::chrono::seconds(10))
        usleep(10 * 1000);
    const auto took = std::chrono::steady_clock::now() - sent;
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << fileBytes(logName);
    EXPECT_LT(took, std::chrono::seconds(1));
}
