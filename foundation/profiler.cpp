#include "foundation/profiler.h"

#include "foundation/byte_string.h"
#include "foundation/log.h"

#include <intrin.h>

#include <atomic>
#include <new>

namespace {

u64 readTimeStamp()
{
    return __rdtsc();
}

} // namespace

Profiler::TimeStampSource Profiler::timeStampSource = readTimeStamp;

std::vector<ProfileCounter>& Profiler::counters()
{
    static std::vector<ProfileCounter> table;
    return table;
}

void Profiler::clear()
{
    counters().clear();
}

int Profiler::addCounter(const char* name)
{
    try {
        counters().push_back({name, 0, 0, 0, 0, 0});
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return (int)counters().size() - 1;
}

void Profiler::start(int id)
{
    std::vector<ProfileCounter>& table = counters();
    if (id < 0 || (size_t)id >= table.size())
        return; // a failed registration's -1, or a stray id
    std::atomic_ref<u64>(table[id].start).store(timeStampSource(), std::memory_order_relaxed);
}

void Profiler::stop(int id)
{
    std::vector<ProfileCounter>& table = counters();
    if (id < 0 || (size_t)id >= table.size())
        return;
    ProfileCounter& c = table[id];
    // Atomic updates: the streaming threads of the sound channels measure
    // the same counter concurrently with each other.
    const u64 delta = timeStampSource() - std::atomic_ref<u64>(c.start).load(std::memory_order_relaxed);
    std::atomic_ref<u64>(c.clocks).fetch_add(delta, std::memory_order_relaxed);
    std::atomic_ref<u64> minRef(c.min);
    std::atomic_ref<u64> maxRef(c.max);
    std::atomic_ref<u32> execsRef(c.execs);
    if (execsRef.load(std::memory_order_relaxed) == 0) {
        minRef.store(delta, std::memory_order_relaxed);
    } else {
        u64 m = minRef.load(std::memory_order_relaxed);
        while (delta < m && !minRef.compare_exchange_weak(m, delta, std::memory_order_relaxed)) {
        }
    }
    u64 m = maxRef.load(std::memory_order_relaxed);
    while (delta > m && !maxRef.compare_exchange_weak(m, delta, std::memory_order_relaxed)) {
    }
    execsRef.fetch_add(1, std::memory_order_relaxed);
}

void Profiler::report()
{
    logStream << "----------- Profiling report --------------" << std::endl;
    logStream << "                     name     execs        clocks    average      min        max" << std::endl;
    for (const ProfileCounter& c : counters()) {
        const u64 average = c.execs ? c.clocks / c.execs : 0;
        logStream << formatTemp("%-25s: %8u %13lld %10lld %8lld %10lld", c.name, c.execs, (long long)c.clocks,
                                (long long)average, (long long)c.min, (long long)c.max)
                  << std::endl;
    }
}
