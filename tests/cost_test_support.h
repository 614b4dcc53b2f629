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

// Set in the process that childPeakMegabytes starts.
inline bool inCostChild()
{
    return std::getenv("QUILLON_COST_CHILD") != nullptr;
}

// Runs the test named filter ("Suite.Name") in a fresh process of this
// binary with inCostChild() true; the peak resident size of that process in
// megabytes, or -1 when it could not run or its test failed.
inline long childPeakMegabytes(const std::string& filter)
{
    const std::string flag = "--gtest_filter=" + filter;
    char* argv[] = {const_cast<char*>("/proc/self/exe"), const_cast<char*>(flag.c_str()), nullptr};
    std::string marker = "QUILLON_COST_CHILD=1";
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        env.push_back(*e);
    env.push_back(marker.data());
    env.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, env.data()) != 0)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss / 1024; // kilobytes
}

} // namespace testsupport
