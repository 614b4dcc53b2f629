// Scene-file reading speed: loadLWS over a generated scene held in memory
// (1,000 null objects with nine-channel motions of 20 TCB keys, 100 lights,
// 10 cameras), against the bare work of splitting the same bytes at
// whitespace and converting every token with strtod. Best of several
// repetitions each. The last line is ratio=R: loadLWS time over the
// reference time.
#include "foundation/memory_stream.h"
#include "lightwave/lws_reader.h"
#include "scene/scene.h"
#include "tools/mkcontent/lws_emitter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kRepetitions = 5;

double seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Splits a copy at whitespace and converts every token; returns a checksum.
double reference(const std::string& text)
{
    std::string copy = text;
    char* p = copy.data();
    char* end = p + copy.size();
    double sum = 0.0;
    while (p < end) {
        while (p < end && (unsigned char)*p <= 0x20)
            p++;
        char* start = p;
        while (p < end && (unsigned char)*p > 0x20)
            p++;
        if (p < end)
            *p++ = 0;
        if (start < end)
            sum += std::strtod(start, nullptr);
    }
    return sum;
}

} // namespace

int main()
{
    const std::string text = mkcontent::lwsBenchScene(1000, 20, 100, 10);
    const double megabytes = (double)text.size() / 1e6;
    MemoryStream stream("bench.lws", text);
    double load = 1e9, plain = 1e9;
    volatile double sink = 0.0;
    for (int i = 0; i < kRepetitions; i++) {
        double start = seconds();
        {
            Scene scene(nullptr);
            if (!loadLWS("bench.lws", &scene, &stream, nullptr, 0.0f, 0.0f) || scene.objects.size() != 1000 ||
                scene.lights.size() != 100 || scene.cameras.size() != 10) {
                std::printf("the generated scene did not load\n");
                return 1;
            }
        }
        load = std::min(load, seconds() - start);
        start = seconds();
        sink = sink + reference(text);
        plain = std::min(plain, seconds() - start);
    }
    std::printf("scene text: %.1f MB\n", megabytes);
    std::printf("loadLWS: %.1f MB/s\n", megabytes / load);
    std::printf("split and strtod: %.1f MB/s\n", megabytes / plain);
    std::printf("ratio=%.3f\n", load / plain);
    return 0;
}
