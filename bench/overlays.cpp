// One view's overlays at 1024 x 768 drawn as the demo frame draws them (a
// colour fade, the logo, the frame-rate label and digits, the URL, five
// statistics lines printed and the text drawn) against plain GL making the
// same pixels: one upload of the changed text rows and eight blended quads.
// Each frame ends with a one-pixel read-back. The two paths run on threads
// of their own and take turns; the last line is ratio=R (ours over GL,
// medians).
#define GL_GLEXT_PROTOTYPES
#include <EGL/egl.h>
#include <GL/glcorearb.h>

#include "demo/demo.h"
#include "demo/overlays.h"
#include "demo/text.h"
#include "display/display_manager.h"
#include "display/display_settings.h"
#include "materials/engine.h"
#include "materials/image.h"
#include "materials/texture.h"
#include "platform/d3d9/adapter_profiles.h"
#include "platform/d3d9/egl_headless.h"
#include "scene/scene_interaction.h"

#include <d3d9.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kRounds = 10;
constexpr int kFramesPerRound = 10;
constexpr float kFade = 0.4f; // fade-in intensity held through the run
const float kFadeColour[3] = {0.2f, 0.4f, 0.6f};
constexpr int kFps = 123;

// The pictures: logo (colour with alpha), label, digits and URL (alpha
// only), a font of 96 glyphs.
struct Pictures {
    std::vector<u32> logo, mask, font;
    Pictures() : logo(64 * 32), mask(64 * 32), font(96 * 7 * 11)
    {
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x) {
                logo[y * 64 + x] = 0xFF000000u | u32(x * 4) << 16 | u32(y * 8) << 8 | 0x80u;
                mask[y * 64 + x] = ((x / 8 + y / 8) & 1) ? 0xFF000000u : 0xFFFFFFFFu;
            }
        for (size_t i = 0; i < font.size(); ++i)
            font[i] = ((i * 7) % 5) ? 0xFFE0E0E0u : 0xFF202020u;
    }
};

Image* imageOf(const std::vector<u32>& texels, int width, int height)
{
    auto* image = new Image;
    image->width = width;
    image->height = height;
    image->pixels = new u32[texels.size()];
    std::copy(texels.begin(), texels.end(), image->pixels);
    return image;
}

using Clock = std::chrono::steady_clock;

struct Samples {
    std::vector<double> us;
    void time(const std::function<void()>& frame, int frames)
    {
        for (int i = 0; i < frames; ++i) {
            const Clock::time_point start = Clock::now();
            frame();
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    double median() const
    {
        std::vector<double> sorted = us;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0.0 : sorted[sorted.size() / 2];
    }
};

// Runs jobs one at a time on a thread of its own, the caller waiting: each
// path keeps its GL context current there.
class Worker {
public:
    Worker() : thread([this] { loop(); }) {}
    ~Worker()
    {
        run({});
        thread.join();
    }
    void run(std::function<void()> job)
    {
        std::unique_lock<std::mutex> lock(mutex);
        this->job = std::move(job);
        pending = true;
        changed.notify_all();
        changed.wait(lock, [this] { return !pending; });
    }

private:
    void loop()
    {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [this] { return pending; });
            std::function<void()> current = std::move(job);
            if (current) {
                lock.unlock();
                current();
                lock.lock();
            }
            pending = false;
            changed.notify_all();
            if (!current)
                return;
        }
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> job;
    bool pending = false;
    std::thread thread;
};

// The five statistics lines of a frame.
void statisticsLines(int frame, char lines[5][96])
{
    std::snprintf(lines[0], 96, " Corvane - Quillon 3D Engine ");
    std::snprintf(lines[1], 96, " time: %f     fixed function ", frame * 0.04);
    std::snprintf(lines[2], 96, " fps: %f     dipCalls: %lu          ", 60.0 + frame % 7, 100ul + frame % 13);
    std::snprintf(lines[3], 96, " ppf: %lu     ", 20000ul + frame % 17);
    std::snprintf(lines[4], 96, " ________________________________________ ");
}
constexpr int kLineY[5] = {1, 15, 26, 37, 4};

// ---------------------------------------------------------------------------
// Ours: the engine over a display manager, the demo's overlay calls.

struct Ours {
    DisplayManager manager;
    std::unique_ptr<Engine> engine;
    std::unique_ptr<Demo> demo;
    IDirect3DSurface9* probe = nullptr;
    int frame = 0;

    bool init(const Pictures& p)
    {
        DisplaySettings& s = *manager.settings;
        s.windowed = 1;
        s.windowWidth = kWidth;
        s.windowHeight = kHeight;
        s.noSound = 1;
        platform::installAdapterProfiles({platform::defaultAdapterProfile()});
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QuillonBenchOverlays";
        RegisterClassExA(&wc);
        if (!manager.enumerateAdapters())
            return false;
        manager.collectDisplayFormats(s.adapter);
        manager.collectTextureFormats(s.adapter, D3DDEVTYPE_HAL, s.adapterFormat, s.windowed);
        manager.collectDepthFormats(s.adapter, D3DDEVTYPE_HAL, s.adapterFormat, s.backBufferFormat);
        if (!manager.createDevices("QuillonBenchOverlays", GetModuleHandleA(nullptr)))
            return false;
        engine = std::make_unique<Engine>(&manager);
        attachSceneInteraction(engine.get());
        demo = std::make_unique<Demo>(engine.get());
        auto picture = [&](const std::vector<u32>& texels, int w, int h, u32 flags, Texture* alpha) {
            auto* t = new ImageTexture(engine.get());
            t->colorImage = imageOf(texels, w, h);
            t->flags = flags;
            t->alphaTexture = alpha;
            t->load();
            return t;
        };
        auto* mask = new ImageTexture(engine.get());
        mask->colorImage = imageOf(p.mask, 64, 32);
        demo->logo = picture(p.logo, 64, 32, 7, mask);
        demo->url = picture(p.mask, 64, 32, 11, nullptr);
        demo->fpsLabel = picture(p.mask, 64, 32, 11, nullptr);
        for (ImageTexture*& d : demo->digits)
            d = picture(p.mask, 64, 32, 11, nullptr);
        demo->text = new Text(engine.get(), nullptr);
        demo->text->font = imageOf(p.font, 96 * 7, 11);
        demo->drawFps = 1;
        smoothedFps = kFps;
        demo->fadeState = kFadeIn;
        demo->fadeDuration = 1e9;
        demo->fadeStart = -(1.0 - kFade) * 1e9;
        std::copy(kFadeColour, kFadeColour + 3, demo->fadeColour);
        return SUCCEEDED(engine->currentDevice->CreateRenderTarget(1, 1, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0,
                                                                    TRUE, &probe, nullptr));
    }
    ~Ours()
    {
        if (probe)
            probe->Release();
        demo.reset();
        engine.reset();
    }
    void draw()
    {
        IDirect3DDevice9* device = engine->currentDevice;
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        char lines[5][96];
        statisticsLines(frame++, lines);
        for (int i = 0; i < 5; ++i)
            demo->text->print(1, kLineY[i], lines[i]);
        updateFade(demo.get());
        drawLogosAndFps(demo.get());
        demo->text->draw();
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        RECT one = {0, 0, 1, 1};
        device->StretchRect(back, &one, probe, nullptr, D3DTEXF_NONE);
        back->Release();
        D3DLOCKED_RECT locked;
        if (SUCCEEDED(probe->LockRect(&locked, nullptr, D3DLOCK_READONLY)))
            probe->UnlockRect();
    }
    std::vector<u32> snapshot()
    {
        std::vector<u32> out(size_t(kWidth) * kHeight);
        IDirect3DSurface9* back = nullptr;
        engine->currentDevice->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        D3DLOCKED_RECT locked;
        if (SUCCEEDED(back->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
            for (int y = 0; y < kHeight; ++y)
                std::copy_n(reinterpret_cast<const u32*>(static_cast<const u8*>(locked.pBits) + y * locked.Pitch),
                            kWidth, &out[size_t(y) * kWidth]);
            back->UnlockRect();
        }
        back->Release();
        return out;
    }
};

// ---------------------------------------------------------------------------
// Plain GL: the same quads with one small program.

const char* const kVertexShader = R"(#version 450 core
uniform vec4 rect; // left, top, right, bottom in pixels
out vec2 uv;
void main()
{
    vec2 corner = vec2(gl_VertexID == 1 || gl_VertexID == 2 ? 1.0 : 0.0, gl_VertexID >= 2 ? 1.0 : 0.0);
    uv = corner;
    // Direct3D's pixel centres sit on whole pixel numbers.
    vec2 p = mix(rect.xy, rect.zw, corner) + 0.5;
    gl_Position = vec4(p.x / 512.0 - 1.0, 1.0 - p.y / 384.0, 0.5, 1.0);
}
)";
const char* const kFragmentShader = R"(#version 450 core
in vec2 uv;
uniform sampler2D picture;
uniform vec4 colour;
uniform int mode; // 0 colour, 1 picture, 2 colour with the picture's alpha
layout(location = 0) out vec4 fragColor;
void main()
{
    vec4 t = texture(picture, uv);
    fragColor = mode == 0 ? colour : mode == 1 ? t : vec4(colour.rgb, t.a);
}
)";

struct Gl {
    std::unique_ptr<platform::d3d9::EglHeadlessContext> context;
    GLuint framebuffer = 0, colorBuffer = 0, program = 0, vao = 0;
    GLuint logo = 0, mask = 0, text = 0;
    GLint rectAt = -1, colourAt = -1, modeAt = -1;
    std::vector<u32> textTexels;
    std::vector<u32> font;
    int frame = 0;
    u32 pixel = 0;

    static GLuint texture(const u32* texels, int w, int h)
    {
        GLuint t = 0;
        glGenTextures(1, &t);
        glBindTexture(GL_TEXTURE_2D, t);
        glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, w, h);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, texels);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        return t;
    }
    static GLuint shader(GLenum type, const char* source)
    {
        const GLuint s = glCreateShader(type);
        glShaderSource(s, 1, &source, nullptr);
        glCompileShader(s);
        return s;
    }
    bool init(const Pictures& p)
    {
        context = platform::d3d9::EglHeadlessContext::create();
        if (!context || !context->makeCurrent())
            return false;
        glGenRenderbuffers(1, &colorBuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, colorBuffer);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer);
        glViewport(0, 0, kWidth, kHeight);
        program = glCreateProgram();
        glAttachShader(program, shader(GL_VERTEX_SHADER, kVertexShader));
        glAttachShader(program, shader(GL_FRAGMENT_SHADER, kFragmentShader));
        glLinkProgram(program);
        glUseProgram(program);
        rectAt = glGetUniformLocation(program, "rect");
        colourAt = glGetUniformLocation(program, "colour");
        modeAt = glGetUniformLocation(program, "mode");
        glGenVertexArrays(1, &vao);
        glBindVertexArray(vao);
        // The logo with its mask's grey as alpha; the small pictures as
        // transparency maps (alpha 255 - grey).
        std::vector<u32> logoTexels(p.logo.size()), maskTexels(p.mask.size());
        for (size_t i = 0; i < p.logo.size(); ++i) {
            const u32 grey = p.mask[i] & 0xFF;
            logoTexels[i] = (p.logo[i] & 0xFFFFFF) | grey << 24;
            maskTexels[i] = (255 - grey) << 24;
        }
        logo = texture(logoTexels.data(), 64, 32);
        mask = texture(maskTexels.data(), 64, 32);
        textTexels.assign(size_t(kWidth) * (kHeight / 2), 0);
        text = texture(textTexels.data(), kWidth, kHeight / 2);
        font = p.font;
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE && glGetError() == GL_NO_ERROR;
    }
    ~Gl()
    {
        if (context) {
            glDeleteTextures(1, &logo);
            glDeleteTextures(1, &mask);
            glDeleteTextures(1, &text);
            glDeleteProgram(program);
            glDeleteVertexArrays(1, &vao);
            glDeleteFramebuffers(1, &framebuffer);
            glDeleteRenderbuffers(1, &colorBuffer);
            context.reset();
        }
        eglReleaseThread();
    }
    void quad(float l, float t, float r, float b, int mode, GLuint picture, const float* colour)
    {
        glUniform4f(rectAt, l, t, r, b);
        glUniform1i(modeAt, mode);
        if (colour)
            glUniform4f(colourAt, colour[0], colour[1], colour[2], colour[3]);
        glBindTexture(GL_TEXTURE_2D, picture);
        glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
    }
    void draw()
    {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        char lines[5][96];
        statisticsLines(frame++, lines);
        for (int i = 0; i < 5; ++i)
            for (int k = 0; lines[i][k]; ++k) {
                const int c = (unsigned char)lines[i][k] - 32;
                for (int row = 0; row < 11; ++row)
                    for (int col = 0; col < 7; ++col)
                        textTexels[size_t(kLineY[i] + row) * kWidth + 1 + 7 * k + col] =
                            font[size_t(row) * 96 * 7 + 7 * c + col] | 0xFF000000u;
            }
        glBindTexture(GL_TEXTURE_2D, text);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kWidth, 48, GL_BGRA, GL_UNSIGNED_BYTE, textTexels.data());
        const float fade[4] = {kFadeColour[0], kFadeColour[1], kFadeColour[2], kFade};
        const float white[4] = {1, 1, 1, 1};
        quad(-1, -1, kWidth, kHeight, 0, 0, fade);
        const int w = kWidth, h = kHeight;
        quad(float(w - w / 8 - 5), 5, float(w - 5), float(h / 12 + 5), 1, logo, nullptr);
        const float f = 0.6f * float(w / 5 - w / 8);
        quad(float(w / 8) - 4 * f, 9, float(w / 5) - f, float(h / 12 + 9), 2, mask, white);
        for (int k = 0; k < 3; ++k)
            quad(float(w / 8) + k * f, 5, float(w / 5) + k * f, float(h / 12 + 5), 2, mask, white);
        quad(float(w - w / 4), float(h - h / 24), float(w), float(h), 2, mask, white);
        quad(0, 0, float(w), float(h / 2), 1, text, nullptr);
        glReadPixels(0, 0, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &pixel);
    }
    std::vector<u32> snapshot()
    {
        std::vector<u32> out(size_t(kWidth) * kHeight);
        std::vector<u32> flipped(out.size());
        glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, flipped.data());
        for (int y = 0; y < kHeight; ++y)
            std::copy_n(&flipped[size_t(kHeight - 1 - y) * kWidth], kWidth, &out[size_t(y) * kWidth]);
        return out;
    }
};

} // namespace

int main()
{
    const Pictures pictures;
    Worker oursThread, glThread;
    std::unique_ptr<Ours> ours;
    std::unique_ptr<Gl> gl;
    bool ready = true;
    oursThread.run([&] {
        ours = std::make_unique<Ours>();
        ready = ours->init(pictures) && ready;
    });
    glThread.run([&] {
        gl = std::make_unique<Gl>();
        ready = gl->init(pictures) && ready;
    });
    if (!ready) {
        std::fprintf(stderr, "no headless device or GL context\n");
        oursThread.run([&] { ours.reset(); });
        glThread.run([&] { gl.reset(); });
        return 1;
    }
    // Compared once: the pixels both paths make (blending and filtering may
    // round a step apart).
    std::vector<u32> a, b;
    oursThread.run([&] {
        ours->draw();
        a = ours->snapshot();
    });
    glThread.run([&] {
        gl->draw();
        b = gl->snapshot();
    });
    size_t differing = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8) {
            const int d = int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF);
            if (d > 8 || d < -8) {
                ++differing;
                break;
            }
        }
    std::printf("pixels differing by more than 8 steps: %zu of %zu\n", differing, a.size());

    Samples oursTimes, glTimes;
    for (int round = 0; round < kRounds; ++round) {
        oursThread.run([&] { oursTimes.time([&] { ours->draw(); }, kFramesPerRound); });
        glThread.run([&] { glTimes.time([&] { gl->draw(); }, kFramesPerRound); });
    }
    oursThread.run([&] { ours.reset(); });
    glThread.run([&] { gl.reset(); });
    std::printf("ours: %.1f us per frame\n", oursTimes.median());
    std::printf("plain GL: %.1f us per frame\n", glTimes.median());
    std::printf("ratio=%.2f\n", oursTimes.median() / glTimes.median());
    return 0;
}
