// Processor time stamp: the rdtsc instruction on x86-64, a monotonic clock
// in nanoseconds elsewhere.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#else
#include <chrono>
inline uint64_t __rdtsc()
{
    return (uint64_t)std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
#endif
