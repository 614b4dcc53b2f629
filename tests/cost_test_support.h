// What the cost tests share: processor time (a busy machine does not move
// it) and the peak resident size of work run in a fresh process of the
// same test binary, so that other tests' memory does not count.
#pragma once

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

inline double processorSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// The peak resident size of this process so far, in megabytes.
inline long peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024; // kilobytes
}

// True in the process that passesInFreshProcess starts.
inline bool inFreshProcess()
{
    return std::getenv("QUILLON_FRESH_PROCESS") != nullptr;
}

// Runs the current test alone in a fresh process of this binary, with
// inFreshProcess() true there, so that its peak resident size is its own;
// whether it passed there.
inline bool passesInFreshProcess()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string flag = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::string marker = "QUILLON_FRESH_PROCESS=1";
    char self[] = "/proc/self/exe";
    char* argv[] = {self, flag.data(), nullptr};
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        env.push_back(*e);
    env.push_back(marker.data());
    env.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, self, nullptr, nullptr, argv, env.data()) != 0)
        return false;
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace testsupport
