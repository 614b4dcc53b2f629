// bench_demo: the whole embedded demo headless at 1024 x 768, the music
// clock advanced 0.04 s a frame so every run draws the same frames; once
// on the fixed-function path and once with shaders, then the first run
// again with the device's draws skipped. Prints the real-time fps of each
// scene (the frames by the active scenes' names, each stretch's first
// frame, which loads and starts it, left out), lowest=L (the slowest scene
// of both paths), fps=F (the whole fixed-function run) and last ratio=R
// (skipped-draw time / full time): what the frame costs outside the
// rasteriser. Each scene also gets cpu=C: the process's CPU milliseconds
// a frame, every rasteriser thread included, which a loaded machine
// disturbs far less than the frame rate. PATH "fixed" or "shader" plays
// only that path and prints only its scenes.
//   bench_demo [MAX_FRAMES [PATH]]
#include "demo/demo.h"
#include "display/display_manager.h"
#include "display/display_settings.h"
#include "foundation/diagnostics.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "media/sound.h"
#include "platform/d3d9/adapter_profiles.h"
#include "platform/d3d9/device_test_api.h"
#include "scene/scene.h"
#include "scene/scene_interaction.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr double kFrameSeconds = 0.04;

// The music clock, moved by the benchmark only.
class ClockSound : public Sound {
public:
    double now = 0.0;
    double getTime(int) override { return now; }
};

struct Stretch {
    int frames = 0;
    double seconds = 0.0;
    double cpuSeconds = 0.0;
};

// CPU time of the whole process: the rasteriser's threads count too.
double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Result {
    bool ok = false;
    int frames = 0;
    double seconds = 0.0;
    std::map<std::string, Stretch> scenes; // by the active scenes' names
};

// The names of the active scenes of the active metascene, "+" between.
std::string activeScenes(const Demo& demo)
{
    std::string names;
    if (demo.activeMeta)
        for (const Scene* scene : demo.activeMeta->scenes)
            if (scene && scene->active && scene->name)
                names += (names.empty() ? "" : "+") + std::string(scene->name);
    return names.empty() ? "(none)" : names;
}

Result play(bool skipDraws, bool fixedFunction, int maxFrames)
{
    Result result;
    DisplayManager manager;
    DisplaySettings& s = *manager.settings;
    s.fixedFunction = fixedFunction ? 1 : 0;
    s.windowed = 1;
    s.windowWidth = kWidth;
    s.windowHeight = kHeight;
    s.noSound = 1;
    if (!manager.enumerateAdapters())
        return result;
    manager.collectDisplayFormats(s.adapter);
    manager.collectTextureFormats(s.adapter, D3DDEVTYPE_HAL, s.adapterFormat, s.windowed);
    manager.collectDepthFormats(s.adapter, D3DDEVTYPE_HAL, s.adapterFormat, s.backBufferFormat);
    if (!manager.createDevices("QuillonBenchDemo", GetModuleHandleA(nullptr)))
        return result;
    auto engine = std::make_unique<Engine>(&manager);
    attachSceneInteraction(engine.get());
    auto demo = std::make_unique<Demo>(engine.get());
    if (!demo->init(&manager))
        return result;
    auto* clock = new ClockSound;
    delete engine->sound;
    engine->sound = clock;
    for (i32 i = 0; i < manager.deviceCount; ++i)
        platform::d3d9::skipDraws(manager.devices[i].device, skipDraws);

    lastMusicTime = 0.0f;
    const auto start = std::chrono::steady_clock::now();
    result.ok = true;
    std::string last;
    auto before = start;
    double cpuBefore = processCpuSeconds();
    while (!demo->quit && result.frames < maxFrames) {
        clock->now += kFrameSeconds;
        if (!demo->frame()) {
            result.ok = false;
            break;
        }
        ++result.frames;
        const auto now = std::chrono::steady_clock::now();
        const double cpuNow = processCpuSeconds();
        const std::string key = activeScenes(*demo);
        if (key == last) {
            Stretch& stretch = result.scenes[key];
            stretch.frames += 1;
            stretch.seconds += std::chrono::duration<double>(now - before).count();
            stretch.cpuSeconds += cpuNow - cpuBefore;
        }
        last = key;
        before = now;
        cpuBefore = cpuNow;
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    demo->shutdown();
    engine.reset();
    demo.reset();
    return result;
}

void printScenes(const char* mode, const Result& result, double& lowest)
{
    for (const auto& [names, stretch] : result.scenes) {
        if (stretch.seconds <= 0.0)
            continue;
        const double fps = stretch.frames / stretch.seconds;
        std::printf("%s %s: %d frames, fps=%.2f cpu=%.1f\n", mode, names.c_str(), stretch.frames, fps,
                    1000.0 * stretch.cpuSeconds / stretch.frames);
        lowest = std::min(lowest, fps);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int maxFrames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1 << 30;
    const std::string only = argc > 2 ? argv[2] : "";
    if (!only.empty() && only != "fixed" && only != "shader") {
        std::fprintf(stderr, "bench_demo: PATH is fixed or shader\n");
        return 2;
    }
    diagnosticsLevel = 0;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QuillonBenchDemo";
    RegisterClassExA(&wc);

    if (!only.empty()) {
        const Result one = play(false, only == "fixed", maxFrames);
        if (!one.ok || one.frames == 0) {
            std::fprintf(stderr, "bench_demo: the demo did not play\n");
            return 1;
        }
        double lowest = 1.0e9;
        printScenes(only.c_str(), one, lowest);
        std::printf("lowest=%.2f\n", lowest);
        return 0;
    }
    const Result full = play(false, true, maxFrames);
    const Result shaders = play(false, false, maxFrames);
    if (!full.ok || full.frames == 0 || full.seconds <= 0.0 || !shaders.ok) {
        std::fprintf(stderr, "bench_demo: the demo did not play\n");
        return 1;
    }
    double lowest = 1.0e9;
    printScenes("fixed", full, lowest);
    printScenes("shader", shaders, lowest);
    std::printf("lowest=%.2f\n", lowest);
    std::printf("frames=%d seconds=%.3f\n", full.frames, full.seconds);
    std::printf("fps=%.2f\n", full.frames / full.seconds);
    const Result skipped = play(true, true, full.frames);
    if (!skipped.ok || skipped.frames != full.frames) {
        std::fprintf(stderr, "bench_demo: the run with skipped draws differs\n");
        return 1;
    }
    std::printf("skipped fps=%.2f\n", skipped.frames / skipped.seconds);
    std::printf("ratio=%.3f\n", skipped.seconds / full.seconds);
    return 0;
}
