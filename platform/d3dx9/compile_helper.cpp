#include "platform/d3dx9/compile_helper.h"

#include "platform/platform_limits.h"
#include "platform/win32/termination.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

// Present only in sanitised and fuzzing builds.
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace platform::d3dx9 {

namespace {

namespace limits = platform::limits;

// How often a waiting caller looks whether the program is ending.
constexpr int kPollMs = 50;
// Kept between requests: a variant's two stages compile at once.
constexpr size_t kKeptHelpers = 2;
// A reply is SPIR-V and messages; anything near this is a helper gone wrong.
constexpr uint32_t kMaxReplyBytes = uint32_t(256) << 20;

struct Helper {
    pid_t pid = -1;
    int socket = -1;
    HelperWork work = nullptr;
};

std::mutex& poolMutex()
{
    static std::mutex m;
    return m;
}

std::vector<Helper>& idleHelpers()
{
    static std::vector<Helper> idle;
    return idle;
}

// Helpers alive, idle or working (under poolMutex).
size_t helpersAlive = 0;

// --- in the helper ---

// A check or compile that runs away ends in the helper, not in the
// machine's memory. Reads its size without allocating: another thread of the
// parent may have held the allocator's lock at the fork.
void limitMemory()
{
    const rlimit core{0, 0};
    setrlimit(RLIMIT_CORE, &core);
    char text[128];
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd >= 0 ? read(fd, text, sizeof text - 1) : -1;
    if (fd >= 0)
        close(fd);
    if (n <= 0)
        return;
    text[n] = '\0';
    const rlim_t size =
        rlim_t(std::strtoull(text, nullptr, 10)) * rlim_t(sysconf(_SC_PAGESIZE)) + rlim_t(limits::helperMemoryBytes);
    rlimit space{};
    if (getrlimit(RLIMIT_AS, &space) == 0 && (space.rlim_cur == RLIM_INFINITY || space.rlim_cur > size)) {
        space.rlim_cur = size;
        setrlimit(RLIMIT_AS, &space);
    }
}

// The processor budget of the next request: the soft limit counts the
// helper's whole life, so it moves on by the budget each time. Past it the
// kernel's SIGXCPU ends the helper.
void budgetNextRequest()
{
    rusage used{};
    rlimit cpu{};
    if (getrusage(RUSAGE_SELF, &used) != 0 || getrlimit(RLIMIT_CPU, &cpu) != 0)
        return;
    const rlim_t spent = rlim_t(used.ru_utime.tv_sec + used.ru_stime.tv_sec) + 1;
    cpu.rlim_cur = spent + limits::helperCpuSeconds;
    if (cpu.rlim_max != RLIM_INFINITY && cpu.rlim_cur > cpu.rlim_max)
        cpu.rlim_cur = cpu.rlim_max;
    setrlimit(RLIMIT_CPU, &cpu);
}

// Moves all size bytes through io (a read or a send of up to n bytes);
// false once the other end has closed or failed.
template <typename Byte, typename Io>
bool transferFully(Byte* p, size_t size, Io io)
{
    while (size > 0) {
        const ssize_t n = io(p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool readFully(int fd, void* data, size_t size)
{
    return transferFully(static_cast<char*>(data), size, [fd](char* p, size_t n) { return read(fd, p, n); });
}

bool writeFully(int fd, const void* data, size_t size)
{
    return transferFully(static_cast<const char*>(data), size,
                         [fd](const char* p, size_t n) { return send(fd, p, n, MSG_NOSIGNAL); });
}

// The helper's life: one request after another until the program closes its
// end. Never returns; _exit keeps the parent's buffered streams (the log)
// from being written a second time.
[[noreturn]] void serve(int fd, HelperWork work)
{
    // A helper is a fork of the program, with any death callback the
    // program set: a helper that meets its memory bound ends as a helper,
    // not as a crash of the program's current input.
    if (__sanitizer_set_death_callback)
        __sanitizer_set_death_callback(nullptr);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGXCPU, SIGINT, SIGTERM})
        signal(sig, SIG_DFL);
    signal(SIGPIPE, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    // Nothing of the program's stays open here: its files, its display
    // connection, other helpers' sockets, its standard output.
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
    }
    if (fd > 3)
        close_range(3, unsigned(fd) - 1, 0);
    close_range(unsigned(fd) + 1, ~0u, 0);
    limitMemory();
    std::string request;
    while (true) {
        uint32_t size = 0;
        if (!readFully(fd, &size, 4))
            _exit(0);
        request.resize(size);
        if (!readFully(fd, request.data(), size))
            _exit(0);
        budgetNextRequest();
        std::string reply = work(request);
        const uint32_t replySize = uint32_t(std::min<size_t>(reply.size(), kMaxReplyBytes));
        if (!writeFully(fd, &replySize, 4) || !writeFully(fd, reply.data(), replySize))
            _exit(4);
    }
}

// --- in the program ---

bool spawn(HelperWork work, Helper& helper)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    const pid_t pid = fork();
    if (pid < 0) {
        close(pair[0]);
        close(pair[1]);
        return false;
    }
    if (pid == 0) {
        close(pair[0]);
        serve(pair[1], work);
    }
    close(pair[1]);
    helper = {pid, pair[0], work};
    std::lock_guard<std::mutex> lock(poolMutex());
    ++helpersAlive;
    return true;
}

// Ends a helper that is not idle and collects its status; without kill, it
// leaves when its socket closes.
int stop(Helper& helper, bool kill)
{
    if (kill)
        ::kill(helper.pid, SIGKILL);
    close(helper.socket);
    int status = 0;
    while (waitpid(helper.pid, &status, 0) < 0 && errno == EINTR) {
    }
    helper = {};
    std::lock_guard<std::mutex> lock(poolMutex());
    --helpersAlive;
    return status;
}

bool takeIdle(HelperWork work, Helper& helper)
{
    std::lock_guard<std::mutex> lock(poolMutex());
    std::vector<Helper>& idle = idleHelpers();
    for (size_t i = idle.size(); i-- > 0;) {
        if (idle[i].work != work)
            continue;
        helper = idle[i];
        idle.erase(idle.begin() + long(i));
        // One that died meanwhile (the memory killer, a signal to the
        // process group) is collected and replaced.
        int status = 0;
        if (waitpid(helper.pid, &status, WNOHANG) == 0)
            return true;
        close(helper.socket);
        helper = {};
        --helpersAlive;
    }
    return false;
}

void giveBack(Helper& helper)
{
    {
        std::lock_guard<std::mutex> lock(poolMutex());
        if (idleHelpers().size() < kKeptHelpers) {
            idleHelpers().push_back(helper);
            helper = {};
            return;
        }
    }
    // Its socket's end makes it leave at once.
    stop(helper, false);
}

// Sends the request and reads the reply, looking every kPollMs whether the
// program is ending or the wall-time budget is spent.
HelperOutcome exchange(Helper& helper, const std::string& request, std::string& reply)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(limits::helperWallSeconds);
    std::string out(4, '\0');
    const uint32_t size = uint32_t(request.size());
    std::memcpy(out.data(), &size, 4);
    out += request;
    size_t sent = 0;
    std::string in;
    char buffer[65536];
    while (true) {
        if (detail::terminationRequested())
            return HelperOutcome::Interrupted;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return HelperOutcome::OverBudget;
        pollfd pfd{helper.socket, short(POLLIN | (sent < out.size() ? POLLOUT : 0)), 0};
        const int ready = poll(&pfd, 1, int(std::min<long long>(left, kPollMs)));
        if (ready < 0 && errno != EINTR)
            return HelperOutcome::Failed;
        if (ready <= 0)
            continue;
        if ((pfd.revents & POLLOUT) && sent < out.size()) {
            const ssize_t n = send(helper.socket, out.data() + sent, out.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += size_t(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return HelperOutcome::Failed;
        }
        if (pfd.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = recv(helper.socket, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return HelperOutcome::Failed;
            if (n > 0)
                in.append(buffer, size_t(n));
        }
        if (in.size() >= 4) {
            uint32_t expected = 0;
            std::memcpy(&expected, in.data(), 4);
            if (expected > kMaxReplyBytes || in.size() > 4 + size_t(expected))
                return HelperOutcome::Failed;
            if (in.size() == 4 + size_t(expected)) {
                reply = in.substr(4);
                return HelperOutcome::Done;
            }
        }
    }
}

} // namespace

HelperOutcome runInHelper(HelperWork work, const std::string& request, std::string& reply)
{
    reply.clear();
    if (detail::terminationRequested())
        return HelperOutcome::Interrupted;
    Helper helper;
    if (!takeIdle(work, helper)) {
        if (!spawn(work, helper)) {
            reply = work(request);
            return HelperOutcome::Done;
        }
        // The other kept helper is made with the first, while the program
        // is small: a helper holds a copy of what the program held when it
        // was forked, once either side writes to it.
        bool another = false;
        {
            std::lock_guard<std::mutex> lock(poolMutex());
            another = helpersAlive < kKeptHelpers;
        }
        Helper spare;
        if (another && spawn(work, spare))
            giveBack(spare);
    }
    HelperOutcome outcome = exchange(helper, request, reply);
    if (outcome == HelperOutcome::Done) {
        giveBack(helper);
        return outcome;
    }
    // A helper that failed is not asked again. One that died of its
    // processor budget ran over it.
    const int status = stop(helper, true);
    if (outcome == HelperOutcome::Failed && WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
        outcome = HelperOutcome::OverBudget;
    reply.clear();
    return outcome;
}

const char* helperOutcomeMessage(HelperOutcome outcome)
{
    switch (outcome) {
    case HelperOutcome::OverBudget:
        return "error: compiling the effect took too long\n";
    case HelperOutcome::Interrupted:
        return "error: the compile was stopped: the program is ending\n";
    case HelperOutcome::Failed:
        return "error: the effect compiler failed on this effect\n";
    default:
        return "";
    }
}

} // namespace platform::d3dx9
