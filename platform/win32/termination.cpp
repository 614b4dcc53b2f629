// SIGINT and SIGTERM end a windowed program the way its own windows end it:
// every thread with a top-level window gets WM_QUIT (the thread that made
// the first one, when none is left), and a box or dialog open on the
// desktop closes as its close button would. The
// program's loop then ends and its teardown runs. The handler only writes a
// byte into a pipe; a thread of its own does the rest, since none of this
// may run inside a signal handler.
#include "platform/win32/desktop_ui.h"
#include "platform/win32/window.h"
#include "platform/win32/windowing_internal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

int wakePipe[2] = {-1, -1};
std::thread::id firstThread;
std::atomic<bool> requested{false};

void onSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
    errno = saved;
}

void watch()
{
    for (;;) {
        unsigned char byte;
        const ssize_t n = ::read(wakePipe[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        requested = true;
        std::set<std::thread::id> threads;
        for (HWND window : allWindows()) {
            const WindowObject* record = findWindowObject(window);
            if (record && !(record->style & WS_CHILD))
                threads.insert(record->thread);
        }
        if (threads.empty())
            threads.insert(firstThread);
        for (std::thread::id thread : threads)
            detail::postQuitToThread(thread, 0);
        desktop::interruptDesktop();
    }
}

} // namespace

namespace detail {

void watchTerminationSignals()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (::pipe2(wakePipe, O_CLOEXEC) != 0)
            return;
        firstThread = std::this_thread::get_id();
        std::thread(watch).detach();
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    });
}

bool terminationRequested()
{
    return requested;
}

void forgetTerminationRequest()
{
    requested = false;
}

} // namespace detail

} // namespace platform
