// Shared by the capture tests: an engine over a headless 640 x 480 output,
// frames drawn with Clear rectangles, files read back, FFmpeg's tools run.
#pragma once

#include "display/display_manager.h"
#include "materials/engine.h"
#include "media/frame_grabber.h"

#include "file_bytes.h"
#include "output_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace capturetest {

// A fullscreen (or windowed) output with the given back-buffer format and
// multisampling, and the engine over it.
class CaptureEngine : public testsupport::Outputs {
public:
    CaptureEngine(D3DFORMAT format = D3DFMT_A8R8G8B8, D3DMULTISAMPLE_TYPE samples = D3DMULTISAMPLE_NONE,
                  bool windowed = false)
        : Outputs({platform::defaultAdapterProfile()},
                  [=](DisplaySettings& s) {
                      s.windowed = windowed ? 1 : 0;
                      s.width = 640;
                      s.height = 480;
                      s.backBufferFormat = format;
                      s.multiSampleType = samples;
                  })
    {
        if (created)
            engine = std::make_unique<Engine>(&manager);
    }
    ~CaptureEngine() { engine.reset(); }

    IDirect3DDevice9* device() const { return engine->currentDevice; }
    const DisplaySettings* settings() const { return manager.settings; }

    // Frame n: a colour from n in the top half, another below, a mark in
    // the top-left corner, so that flips and offsets show.
    void draw(int n) const
    {
        IDirect3DDevice9* d = device();
        d->Clear(0, nullptr, D3DCLEAR_TARGET, colourTop(n), 1.0f, 0);
        const D3DRECT bottom{0, 240, 640, 480};
        d->Clear(1, &bottom, D3DCLEAR_TARGET, colourBottom(n), 1.0f, 0);
        const D3DRECT mark{0, 0, 8, 4};
        d->Clear(1, &mark, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
    }
    static D3DCOLOR colourTop(int n) { return D3DCOLOR(0xFF000000u | u32(n * 5 % 256) << 16 | 0x2000u | 0x40u); }
    static D3DCOLOR colourBottom(int n) { return D3DCOLOR(0xFF000000u | 0x100000u | u32(n * 3 % 256) << 8 | 0xC0u); }

    std::unique_ptr<Engine> engine;
};

#define REQUIRE_CAPTURE(e)                                                                                  \
    do {                                                                                                    \
        if (!(e).engine)                                                                                    \
            GTEST_SKIP() << "no Direct3D device can be created here";                                      \
    } while (0)

inline std::vector<unsigned char> readFile(const std::string& name)
{
    return fileBytes<std::vector<unsigned char>>(name);
}

inline unsigned le32(const std::vector<unsigned char>& b, size_t at)
{
    return unsigned(b[at]) | unsigned(b[at + 1]) << 8 | unsigned(b[at + 2]) << 16 | unsigned(b[at + 3]) << 24;
}

// Standard output of a shell command.
inline std::string run(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[512];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, p))
            out.append(buffer, n);
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// "frames width height rate" of the first video stream, counted by ffprobe.
inline std::string probe(const std::string& file)
{
    return run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
               "stream=nb_read_frames,width,height,r_frame_rate -of csv=p=0 '" + file + "'");
}

} // namespace capturetest
