// Named counters of processor time-stamp ticks between a start and a stop,
// reported to the log when the program ends.
#pragma once

#include "foundation/types.h"

#include <vector>

struct ProfileCounter {
    const char* name; // a literal; not owned
    u32 execs;        // completed measurements
    u64 clocks;       // sum of all measured intervals
    u64 min;
    u64 max;
    u64 start;        // time stamp of the last start
};

class Profiler {
public:
    // Appends a counter; returns its id, or -1 when the table cannot grow.
    static int addCounter(const char* name);
    static void start(int id);
    static void stop(int id);
    // Writes the report to the log.
    static void report();

    static std::vector<ProfileCounter>& counters();
    static void clear();

    // The time-stamp source: the processor's rdtsc; tests install a clock
    // they drive by hand.
    using TimeStampSource = u64 (*)();
    static TimeStampSource timeStampSource;
};
