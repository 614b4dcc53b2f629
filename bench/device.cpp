// Frame times of the Direct3D 9 device against plain GL doing the same work
// in the same process, on a headless 1024 x 768 target:
//   big:   25 lit, textured spheres (about 14,000 triangles), fixed-function
//          lighting with one directional light, one MODULATE texture stage;
//   small: 1,000 draws of a few triangles each, switching alpha blending,
//          the texture and the world matrix between them.
// Each frame ends with a one-pixel read-back so the GPU work is counted.
// The device and the GL reference each run on a thread of their own and take
// turns, a few frames at a time.
// The last two lines are ratio_big=R and ratio_small=R (device time over
// GL time, medians). With a path name as argument only that path runs (for
// profiling, see main).
#define GL_GLEXT_PROTOTYPES
#include <EGL/egl.h>
#include <GL/glcorearb.h>

#include "foundation/matrix.h"
#include "foundation/types.h"
#include "platform/d3d9/egl_headless.h"
#include "platform/win32/sdl_window.h"

#include <d3d9.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kWarmupFrames = 3;
// The two paths take turns, a few frames each, so that load from the rest
// of the machine falls on both alike.
constexpr int kRounds = 10;
constexpr int kFramesPerRound = 4;

// Sphere tessellation: 20 stacks x 14 slices = 560 triangles; 25 of them
// make 14,000.
constexpr int kStacks = 20;
constexpr int kSlices = 14;
constexpr int kSpheres = 25;
constexpr int kSmallDraws = 1000;

struct Vertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

struct Mesh {
    std::vector<Vertex> vertices;
    std::vector<u16> indices;
    u32 triangles() const { return static_cast<u32>(indices.size() / 3); }
};

// Triangles wound clockwise as seen from outside, the front side under
// D3D's default culling.
Mesh makeSphere(float radius)
{
    Mesh m;
    const float pi = 3.14159265f;
    for (int s = 0; s <= kStacks; ++s) {
        const float phi = pi * s / kStacks;
        for (int l = 0; l <= kSlices; ++l) {
            const float theta = 2 * pi * l / kSlices;
            const float nx = std::sin(phi) * std::cos(theta);
            const float ny = std::cos(phi);
            const float nz = std::sin(phi) * std::sin(theta);
            m.vertices.push_back({radius * nx, radius * ny, radius * nz, nx, ny, nz, float(l) / kSlices,
                                  float(s) / kStacks});
        }
    }
    for (int s = 0; s < kStacks; ++s) {
        for (int l = 0; l < kSlices; ++l) {
            const u16 a = static_cast<u16>(s * (kSlices + 1) + l);
            const u16 b = static_cast<u16>(a + kSlices + 1);
            m.indices.insert(m.indices.end(), {a, static_cast<u16>(a + 1), b});
            m.indices.insert(m.indices.end(), {static_cast<u16>(a + 1), static_cast<u16>(b + 1), b});
        }
    }
    return m;
}

// A unit quad facing the camera (-z), split into four triangles around its
// centre.
Mesh makeSmallQuad()
{
    Mesh m;
    m.vertices = {
        {-0.5f, 0.5f, 0, 0, 0, -1, 0, 0}, {0.5f, 0.5f, 0, 0, 0, -1, 1, 0},  {0.5f, -0.5f, 0, 0, 0, -1, 1, 1},
        {-0.5f, -0.5f, 0, 0, 0, -1, 0, 1}, {0, 0, 0, 0, 0, -1, 0.5f, 0.5f},
    };
    m.indices = {0, 1, 4, 1, 2, 4, 2, 3, 4, 3, 0, 4};
    return m;
}

D3DMATRIX identity()
{
    D3DMATRIX m = {};
    m._11 = m._22 = m._33 = m._44 = 1;
    return m;
}

D3DMATRIX translation(float x, float y, float z)
{
    D3DMATRIX m = identity();
    m._41 = x;
    m._42 = y;
    m._43 = z;
    return m;
}

D3DMATRIX scaledRotationY(float scale, float angle, float x, float y, float z)
{
    D3DMATRIX m = identity();
    m._11 = scale * std::cos(angle);
    m._13 = -scale * std::sin(angle);
    m._22 = scale;
    m._31 = scale * std::sin(angle);
    m._33 = scale * std::cos(angle);
    m._41 = x;
    m._42 = y;
    m._43 = z;
    return m;
}

// Left-handed perspective with depth 0..1.
D3DMATRIX perspective(float fovY, float aspect, float zn, float zf)
{
    const float yScale = 1.0f / std::tan(fovY / 2);
    D3DMATRIX m = {};
    m._11 = yScale / aspect;
    m._22 = yScale;
    m._33 = zf / (zf - zn);
    m._34 = 1;
    m._43 = -zn * zf / (zf - zn);
    return m;
}

// What both renderers draw, with the per-draw matrices precomputed so that
// neither side pays for the arithmetic.
struct Scene {
    Mesh sphere = makeSphere(1.0f);
    Mesh quad = makeSmallQuad();
    D3DMATRIX view = translation(0, 0, 14);
    D3DMATRIX projection = perspective(0.9f, float(kWidth) / kHeight, 1.0f, 100.0f);
    std::vector<D3DMATRIX> sphereWorlds;
    std::vector<D3DMATRIX> quadWorlds;
    std::vector<u32> checkerA, checkerB; // 256 x 256 A8R8G8B8
    float lightDirection[3] = {0.3f, -0.5f, 0.8f};

    Scene()
    {
        for (int i = 0; i < kSpheres; ++i)
            sphereWorlds.push_back(scaledRotationY(1.1f, 0.3f * i, -8.0f + 4.0f * (i % 5), -6.0f + 3.0f * (i / 5), 0));
        // 40 x 25 quads over the screen, about 20 pixels each.
        for (int i = 0; i < kSmallDraws; ++i) {
            const float x = -11.5f + 0.59f * (i % 40);
            const float y = 8.3f - 0.68f * (i / 40);
            quadWorlds.push_back(scaledRotationY(0.4f, 0.0f, x, y, 0));
        }
        checkerA.resize(256 * 256);
        checkerB.resize(256 * 256);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const bool on = ((x >> 5) ^ (y >> 5)) & 1;
                checkerA[y * 256 + x] = on ? 0xFFF0E0C0u : 0xFF403020u;
                checkerB[y * 256 + x] = on ? 0x80C0FF80u : 0xC0204080u;
            }
    }
};

using Clock = std::chrono::steady_clock;

// Frame times of one path, in milliseconds.
struct Samples {
    std::vector<double> ms;

    void time(const std::function<void()>& frame, int frames)
    {
        for (int i = 0; i < frames; ++i) {
            const Clock::time_point start = Clock::now();
            frame();
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    double best() const { return ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end()); }
    double median() const
    {
        if (ms.empty())
            return 0;
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

// Runs jobs on one thread of its own, one at a time, the caller waiting for
// each: a renderer keeps its GL context current there.
class Worker {
public:
    Worker() : m_thread([this] { loop(); }) {}
    ~Worker()
    {
        run({});
        m_thread.join();
    }

    // An empty job ends the thread.
    void run(std::function<void()> job)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_job = std::move(job);
        m_pending = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_pending; });
    }

private:
    void loop()
    {
        for (;;) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_pending; });
            std::function<void()> job = std::move(m_job);
            const bool stop = !job;
            if (job) {
                lock.unlock();
                job();
                lock.lock();
            }
            m_pending = false;
            m_changed.notify_all();
            if (stop)
                return;
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_job;
    bool m_pending = false;
    std::thread m_thread;
};

// One way of drawing the scene; each lives on a thread of its own.
class Renderer {
public:
    virtual ~Renderer() = default;
    virtual bool init() = 0;
    virtual void bigFrame() = 0;
    virtual void smallFrame() = 0;
    // The whole frame, top row first, as 0xAARRGGBB (empty on failure).
    virtual std::vector<u32> snapshot() = 0;
};

// A renderer made, used and destroyed on its worker thread, so that the two
// paths are set up alike and neither disturbs the other's current context.
struct Lane {
    Worker worker;
    std::unique_ptr<Renderer> renderer;

    template <class F>
    void run(F f)
    {
        worker.run([&] { f(*renderer); });
    }
    ~Lane()
    {
        worker.run([this] { renderer.reset(); });
    }
};

// ---------------------------------------------------------------------------
// Through the device.

template <class T>
void release(T*& p)
{
    if (p)
        p->Release();
    p = nullptr;
}

struct DeviceRenderer final : Renderer {
    IDirect3D9* d3d = nullptr;
    HWND window = nullptr;
    IDirect3DDevice9* device = nullptr;
    IDirect3DVertexBuffer9* sphereVb = nullptr;
    IDirect3DIndexBuffer9* sphereIb = nullptr;
    IDirect3DVertexBuffer9* quadVb = nullptr;
    IDirect3DIndexBuffer9* quadIb = nullptr;
    IDirect3DTexture9* textureA = nullptr;
    IDirect3DTexture9* textureB = nullptr;
    IDirect3DSurface9* backBuffer = nullptr;
    IDirect3DSurface9* probe = nullptr;
    const Scene& scene;
    u32 pixel = 0;

    explicit DeviceRenderer(const Scene& s) : scene(s) {}

    ~DeviceRenderer() override
    {
        release(probe);
        release(backBuffer);
        release(textureA);
        release(textureB);
        release(sphereVb);
        release(sphereIb);
        release(quadVb);
        release(quadIb);
        release(device);
        release(d3d);
        if (window)
            DestroyWindow(window);
    }

    bool upload(const Mesh& mesh, IDirect3DVertexBuffer9*& vb, IDirect3DIndexBuffer9*& ib)
    {
        const UINT vbBytes = static_cast<UINT>(mesh.vertices.size() * sizeof(Vertex));
        const UINT ibBytes = static_cast<UINT>(mesh.indices.size() * sizeof(u16));
        void* data = nullptr;
        if (FAILED(device->CreateVertexBuffer(vbBytes, D3DUSAGE_WRITEONLY, kFvf, D3DPOOL_MANAGED, &vb, nullptr)) ||
            FAILED(vb->Lock(0, 0, &data, 0)))
            return false;
        std::memcpy(data, mesh.vertices.data(), vbBytes);
        vb->Unlock();
        if (FAILED(device->CreateIndexBuffer(ibBytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib,
                                             nullptr)) ||
            FAILED(ib->Lock(0, 0, &data, 0)))
            return false;
        std::memcpy(data, mesh.indices.data(), ibBytes);
        ib->Unlock();
        return true;
    }

    bool makeTexture(const std::vector<u32>& texels, IDirect3DTexture9*& texture)
    {
        if (FAILED(device->CreateTexture(256, 256, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr)))
            return false;
        D3DLOCKED_RECT locked;
        if (FAILED(texture->LockRect(0, &locked, nullptr, 0)))
            return false;
        for (int y = 0; y < 256; ++y)
            std::memcpy(static_cast<u8*>(locked.pBits) + y * locked.Pitch, &texels[y * 256], 256 * 4);
        texture->UnlockRect(0);
        return true;
    }

    bool init() override
    {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QuillonBench";
        RegisterClassExA(&wc);
        RECT rect = {0, 0, kWidth, kHeight};
        AdjustWindowRect(&rect, WS_OVERLAPPEDWINDOW, FALSE);
        window = CreateWindowExA(0, "QuillonBench", "bench", WS_OVERLAPPEDWINDOW, 0, 0, rect.right - rect.left,
                                 rect.bottom - rect.top, nullptr, nullptr, wc.hInstance, nullptr);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        if (!window || !d3d)
            return false;

        D3DPRESENT_PARAMETERS pp = {};
        pp.BackBufferWidth = kWidth;
        pp.BackBufferHeight = kHeight;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D24S8;
        pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
        pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        HRESULT hr = d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device);
        if (FAILED(hr)) {
            std::fprintf(stderr, "CreateDevice failed: 0x%08x\n", static_cast<unsigned>(hr));
            return false;
        }
        if (!upload(scene.sphere, sphereVb, sphereIb) || !upload(scene.quad, quadVb, quadIb) ||
            !makeTexture(scene.checkerA, textureA) || !makeTexture(scene.checkerB, textureB))
            return false;
        if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) ||
            FAILED(device->CreateRenderTarget(1, 1, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &probe, nullptr)))
            return false;

        device->SetTransform(D3DTS_VIEW, &scene.view);
        device->SetTransform(D3DTS_PROJECTION, &scene.projection);
        D3DLIGHT9 light = {};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {1.0f, 0.95f, 0.9f, 1.0f};
        light.Direction = {scene.lightDirection[0], scene.lightDirection[1], scene.lightDirection[2]};
        device->SetLight(0, &light);
        device->LightEnable(0, TRUE);
        D3DMATERIAL9 material = {};
        material.Diffuse = {0.9f, 0.9f, 0.9f, 0.75f};
        material.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
        device->SetMaterial(&material);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        device->SetRenderState(D3DRS_AMBIENT, 0xFF303030);
        // The worlds are scaled; the reference normalizes its normals too.
        device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
        device->SetFVF(kFvf);
        return true;
    }

    // One pixel of the frame copied to a 1 x 1 lockable target and read:
    // the same one-pixel read-back as the GL reference, which waits for the
    // frame's GPU work.
    void finish()
    {
        const RECT one = {0, 0, 1, 1};
        device->StretchRect(backBuffer, &one, probe, nullptr, D3DTEXF_NONE);
        D3DLOCKED_RECT locked;
        if (SUCCEEDED(probe->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
            pixel = *static_cast<const u32*>(locked.pBits);
            probe->UnlockRect();
        }
    }

    std::vector<u32> snapshot() override
    {
        std::vector<u32> image;
        D3DLOCKED_RECT locked;
        if (FAILED(backBuffer->LockRect(&locked, nullptr, D3DLOCK_READONLY)))
            return image;
        image.resize(kWidth * kHeight);
        for (int y = 0; y < kHeight; ++y)
            std::memcpy(&image[y * kWidth], static_cast<const u8*>(locked.pBits) + y * locked.Pitch, kWidth * 4);
        backBuffer->UnlockRect();
        return image;
    }

    void bigFrame() override
    {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202040, 1.0f, 0);
        device->BeginScene();
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        device->SetTexture(0, textureA);
        device->SetStreamSource(0, sphereVb, 0, sizeof(Vertex));
        device->SetIndices(sphereIb);
        const UINT vertexCount = static_cast<UINT>(scene.sphere.vertices.size());
        for (const D3DMATRIX& world : scene.sphereWorlds) {
            device->SetTransform(D3DTS_WORLD, &world);
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, 0, scene.sphere.triangles());
        }
        device->EndScene();
        finish();
    }

    void smallFrame() override
    {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202040, 1.0f, 0);
        device->BeginScene();
        device->SetStreamSource(0, quadVb, 0, sizeof(Vertex));
        device->SetIndices(quadIb);
        const UINT vertexCount = static_cast<UINT>(scene.quad.vertices.size());
        for (int i = 0; i < kSmallDraws; ++i) {
            device->SetRenderState(D3DRS_ALPHABLENDENABLE, (i & 1) ? TRUE : FALSE);
            device->SetTexture(0, (i & 2) ? textureB : textureA);
            device->SetTransform(D3DTS_WORLD, &scene.quadWorlds[i]);
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, 0, scene.quad.triangles());
        }
        device->EndScene();
        finish();
    }
};

// ---------------------------------------------------------------------------
// Plain GL: the same meshes, textures and lighting with a minimal program,
// the matrices as uniforms per draw.

const char* const kVertexShader = R"(#version 450 core
layout(location = 0) in vec3 position;
layout(location = 3) in vec3 normal;
layout(location = 8) in vec2 texCoord;
uniform mat4 world;
uniform mat4 worldViewProjection;
uniform vec3 lightDirection;
uniform vec4 lightDiffuse;
uniform vec4 materialDiffuse;
uniform vec4 ambient;
out vec4 color;
out vec2 uv;
void main()
{
    gl_Position = worldViewProjection * vec4(position, 1.0);
    // Direct3D's pixel centres, so both paths sample the same texels.
    gl_Position.xy += vec2(1.0 / 1024.0, -1.0 / 768.0) * gl_Position.w;
    vec3 n = normalize(mat3(world) * normal);
    float d = max(dot(n, -lightDirection), 0.0);
    color = vec4(clamp(ambient.rgb + materialDiffuse.rgb * lightDiffuse.rgb * d, 0.0, 1.0), materialDiffuse.a);
    uv = texCoord;
}
)";

const char* const kFragmentShader = R"(#version 450 core
in vec4 color;
in vec2 uv;
uniform sampler2D diffuseMap;
layout(location = 0) out vec4 fragColor;
void main()
{
    fragColor = texture(diffuseMap, uv) * color;
}
)";

struct GlRenderer final : Renderer {
    std::unique_ptr<platform::d3d9::EglHeadlessContext> context;
    GLuint framebuffer = 0, colorBuffer = 0, depthBuffer = 0;
    GLuint program = 0;
    GLuint vao[2] = {};
    GLuint buffers[4] = {};
    GLuint textures[2] = {};
    GLint worldLocation = -1, wvpLocation = -1;
    const Scene& scene;
    std::vector<D3DMATRIX> sphereWvp, quadWvp;
    u32 pixel = 0;

    explicit GlRenderer(const Scene& s) : scene(s) {}

    ~GlRenderer() override
    {
        if (context) {
            glDeleteProgram(program);
            glDeleteVertexArrays(2, vao);
            glDeleteBuffers(4, buffers);
            glDeleteTextures(2, textures);
            glDeleteFramebuffers(1, &framebuffer);
            glDeleteRenderbuffers(1, &colorBuffer);
            glDeleteRenderbuffers(1, &depthBuffer);
            context.reset();
        }
        eglReleaseThread();
    }

    static GLuint compile(GLenum type, const char* source)
    {
        const GLuint shader = glCreateShader(type);
        glShaderSource(shader, 1, &source, nullptr);
        glCompileShader(shader);
        GLint ok = 0;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
        if (!ok) {
            char log[1024] = "";
            glGetShaderInfoLog(shader, sizeof log, nullptr, log);
            std::fprintf(stderr, "GL shader: %s\n", log);
        }
        return shader;
    }

    bool makeContext()
    {
        context = platform::d3d9::EglHeadlessContext::create();
        return context && context->makeCurrent();
    }

    void upload(const Mesh& mesh, int slot)
    {
        glBindVertexArray(vao[slot]);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[slot * 2]);
        glBufferData(GL_ARRAY_BUFFER, mesh.vertices.size() * sizeof(Vertex), mesh.vertices.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[slot * 2 + 1]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, mesh.indices.size() * sizeof(u16), mesh.indices.data(),
                     GL_STATIC_DRAW);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(0));
        glEnableVertexAttribArray(3);
        glVertexAttribPointer(3, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(12));
        glEnableVertexAttribArray(8);
        glVertexAttribPointer(8, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(24));
    }

    bool init() override
    {
        if (!makeContext())
            return false;
        glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);

        glGenRenderbuffers(1, &colorBuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, colorBuffer);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
        glGenRenderbuffers(1, &depthBuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kWidth, kHeight);
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depthBuffer);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
            return false;
        glViewport(0, 0, kWidth, kHeight);

        program = glCreateProgram();
        const GLuint vs = compile(GL_VERTEX_SHADER, kVertexShader);
        const GLuint fs = compile(GL_FRAGMENT_SHADER, kFragmentShader);
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        glLinkProgram(program);
        glDeleteShader(vs);
        glDeleteShader(fs);
        GLint linked = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        if (!linked)
            return false;
        glUseProgram(program);
        worldLocation = glGetUniformLocation(program, "world");
        wvpLocation = glGetUniformLocation(program, "worldViewProjection");
        // Same lighting terms as the device gets: global ambient x material
        // ambient, light diffuse x material diffuse.
        glUniform3f(glGetUniformLocation(program, "lightDirection"), scene.lightDirection[0],
                    scene.lightDirection[1], scene.lightDirection[2]);
        glUniform4f(glGetUniformLocation(program, "lightDiffuse"), 1.0f, 0.95f, 0.9f, 1.0f);
        glUniform4f(glGetUniformLocation(program, "materialDiffuse"), 0.9f, 0.9f, 0.9f, 0.75f);
        const float a = 0x30 / 255.0f;
        glUniform4f(glGetUniformLocation(program, "ambient"), a, a, a, 1.0f);
        glUniform1i(glGetUniformLocation(program, "diffuseMap"), 0);

        glGenVertexArrays(2, vao);
        glGenBuffers(4, buffers);
        upload(scene.sphere, 0);
        upload(scene.quad, 1);

        glGenTextures(2, textures);
        const std::vector<u32>* texels[2] = {&scene.checkerA, &scene.checkerB};
        for (int i = 0; i < 2; ++i) {
            glBindTexture(GL_TEXTURE_2D, textures[i]);
            glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, 256, 256);
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 256, 256, GL_BGRA, GL_UNSIGNED_BYTE, texels[i]->data());
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        }

        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CW);
        glCullFace(GL_BACK);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

        // Row-vector D3D matrices go up unchanged and are applied as M * v:
        // GL reads them column-major, which is the transpose.
        D3DMATRIX viewProjection;
        matMul(viewProjection, scene.view, scene.projection);
        for (const D3DMATRIX& w : scene.sphereWorlds) {
            D3DMATRIX wvp;
            matMul(wvp, w, viewProjection);
            sphereWvp.push_back(wvp);
        }
        for (const D3DMATRIX& w : scene.quadWorlds) {
            D3DMATRIX wvp;
            matMul(wvp, w, viewProjection);
            quadWvp.push_back(wvp);
        }
        return glGetError() == GL_NO_ERROR;
    }

    void clear()
    {
        glClearColor(0x20 / 255.0f, 0x20 / 255.0f, 0x40 / 255.0f, 1.0f);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    void finish()
    {
        glReadPixels(0, 0, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &pixel);
    }

    std::vector<u32> snapshot() override
    {
        std::vector<u32> image(kWidth * kHeight);
        glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, image.data());
        return image;
    }

    void bigFrame() override
    {
        clear();
        glDisable(GL_BLEND);
        glBindTexture(GL_TEXTURE_2D, textures[0]);
        glBindVertexArray(vao[0]);
        const GLsizei count = static_cast<GLsizei>(scene.sphere.indices.size());
        for (size_t i = 0; i < scene.sphereWorlds.size(); ++i) {
            glUniformMatrix4fv(worldLocation, 1, GL_FALSE, &scene.sphereWorlds[i]._11);
            glUniformMatrix4fv(wvpLocation, 1, GL_FALSE, &sphereWvp[i]._11);
            glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_SHORT, nullptr);
        }
        finish();
    }

    void smallFrame() override
    {
        clear();
        glBindVertexArray(vao[1]);
        const GLsizei count = static_cast<GLsizei>(scene.quad.indices.size());
        for (int i = 0; i < kSmallDraws; ++i) {
            if (i & 1)
                glEnable(GL_BLEND);
            else
                glDisable(GL_BLEND);
            glBindTexture(GL_TEXTURE_2D, textures[(i & 2) ? 1 : 0]);
            glUniformMatrix4fv(worldLocation, 1, GL_FALSE, &scene.quadWorlds[i]._11);
            glUniformMatrix4fv(wvpLocation, 1, GL_FALSE, &quadWvp[i]._11);
            glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_SHORT, nullptr);
        }
        finish();
    }
};

// Mean absolute difference over the colour channels; -1 when an image is
// missing. The two paths should draw the same picture up to rounding.
double imageDifference(const std::vector<u32>& a, const std::vector<u32>& b)
{
    if (a.empty() || a.size() != b.size())
        return -1;
    u64 sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8)
            sum += std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF));
    return double(sum) / (a.size() * 3.0);
}

// For looking at the frames: $QUILLON_BENCH_IMAGES names a folder.
void writeImage(const char* dir, const char* name, const std::vector<u32>& image)
{
    if (image.empty())
        return;
    const std::string path = std::string(dir) + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
    std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
    for (u32 p : image) {
        const u8 rgb[3] = {u8(p >> 16), u8(p >> 8), u8(p)};
        std::fwrite(rgb, 1, 3, f);
    }
    std::fclose(f);
}

} // namespace

int main(int argc, char** argv)
{
    // Headless whatever the environment: the device draws into its own
    // framebuffer on an EGL context.
    platform::setWindowBackend(platform::WindowBackend::RecordsOnly);
    const Scene scene;

    Lane device, gl;
    bool deviceOk = false, glOk = false;
    device.worker.run([&] {
        device.renderer = std::make_unique<DeviceRenderer>(scene);
        deviceOk = device.renderer->init();
    });
    gl.worker.run([&] {
        gl.renderer = std::make_unique<GlRenderer>(scene);
        glOk = gl.renderer->init();
    });
    if (!deviceOk)
        std::fprintf(stderr, "bench_device: the Direct3D 9 device could not be set up\n");
    if (!glOk)
        std::fprintf(stderr, "bench_device: no GL reference context\n");
    if (!deviceOk || !glOk)
        return 1;

    // For profilers: "bench_device device-big|device-small|gl-big|gl-small
    // [frames]" draws only that path.
    if (argc > 1) {
        const std::string path = argv[1];
        const int frames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 500;
        Lane& lane = path.rfind("device", 0) == 0 ? device : gl;
        const bool big = path.size() > 4 && path.compare(path.size() - 4, 4, "-big") == 0;
        Samples one;
        if (path == "device-big" || path == "device-small" || path == "gl-big" || path == "gl-small")
            lane.run([&](Renderer& r) { one.time([&] { big ? r.bigFrame() : r.smallFrame(); }, frames); });
        std::printf("%s: %d frames, best %.3f ms, median %.3f ms\n", path.c_str(), int(one.ms.size()), one.best(),
                    one.median());
        return one.ms.empty() ? 1 : 0;
    }

    Samples times[2][2]; // [device, gl][big, small]
    std::vector<u32> images[2][2];
    Lane* lanes[2] = {&device, &gl};
    for (int scenePart = 0; scenePart < 2; ++scenePart) {
        auto frame = [scenePart](Renderer& r) { scenePart == 0 ? r.bigFrame() : r.smallFrame(); };
        Samples warmup;
        for (Lane* lane : lanes)
            lane->run([&](Renderer& r) { warmup.time([&] { frame(r); }, kWarmupFrames); });
        for (int round = 0; round < kRounds; ++round)
            for (int i = 0; i < 2; ++i)
                lanes[i]->run([&](Renderer& r) { times[i][scenePart].time([&] { frame(r); }, kFramesPerRound); });
        for (int i = 0; i < 2; ++i)
            lanes[i]->run([&](Renderer& r) { images[i][scenePart] = r.snapshot(); });
    }

    if (const char* imageDir = std::getenv("QUILLON_BENCH_IMAGES")) {
        writeImage(imageDir, "device_big.ppm", images[0][0]);
        writeImage(imageDir, "device_small.ppm", images[0][1]);
        writeImage(imageDir, "gl_big.ppm", images[1][0]);
        writeImage(imageDir, "gl_small.ppm", images[1][1]);
    }

    const u32 triangles = scene.sphere.triangles() * kSpheres;
    std::printf("target %d x %d, %d frames per path in %d alternating rounds, times in ms (best / median)\n",
                kWidth, kHeight, kRounds * kFramesPerRound, kRounds);
    std::printf("big   (%u triangles, %d draws):  device %.3f / %.3f   gl %.3f / %.3f\n", triangles, kSpheres,
                times[0][0].best(), times[0][0].median(), times[1][0].best(), times[1][0].median());
    std::printf("small (%d draws, %u triangles each): device %.3f / %.3f   gl %.3f / %.3f\n", kSmallDraws,
                scene.quad.triangles(), times[0][1].best(), times[0][1].median(), times[1][1].best(),
                times[1][1].median());
    std::printf("image difference device - gl (mean per colour channel, 0-255): big %.2f, small %.2f\n",
                imageDifference(images[0][0], images[1][0]), imageDifference(images[0][1], images[1][1]));
    std::printf("ratio_big=%.3f\n", times[0][0].median() / times[1][0].median());
    std::printf("ratio_small=%.3f\n", times[0][1].median() / times[1][1].median());
    return 0;
}
