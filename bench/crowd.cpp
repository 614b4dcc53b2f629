// One frame of the walking crowd: 2800 billboards walked and drawn through
// ImposterMesh::draw (one DrawPrimitive each with its texture and states),
// against the same quads and texture switches as raw GL draws on a context
// of its own, in the same process. Every frame ends with a one-pixel
// read-back so the GPU work counts. Prints walk_us=T (the walk steps of
// one frame alone), then last ratio=R (crowd frame time / GL frame time,
// medians).
#define GL_GLEXT_PROTOTYPES
#include <EGL/egl.h>
#include <GL/glcorearb.h>

#include "bench_display.h"
#include "display/display_manager.h"
#include "foundation/file_stream.h"
#include "foundation/random.h"
#include "materials/engine.h"
#include "materials/image_readers.h"
#include "materials/texture.h"
#include "platform/d3d9/adapter_profiles.h"
#include "platform/d3d9/egl_headless.h"
#include "scene/imposter_mesh.h"

#include <d3d9.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFrames = 12;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// The people pictures (16 x 32, a figure on a transparent-black ground) and
// an all-free map, written into folder.
void writeContent(const std::string& folder)
{
    FileStream files("");
    std::vector<u8> palette(768, 0), indices(16 * 32);
    for (int i = 1; i < 256; ++i)
        palette[i * 3] = u8(i), palette[i * 3 + 1] = u8(255 - i), palette[i * 3 + 2] = 128;
    const char* people[] = {"frau1", "maedel1", "junge1", "mann1"};
    const char* views[] = {"hinten", "vorne", "rechts"};
    char name[512];
    for (const char* person : people)
        for (const char* view : views)
            for (int frame = 0; frame < 10; ++frame) {
                for (int y = 0; y < 32; ++y)
                    for (int x = 0; x < 16; ++x)
                        indices[size_t(y * 16 + x)] = (x > 3 && x < 12) ? u8(1 + frame * 20 + y) : 0;
                std::snprintf(name, sizeof name, "%s%s_%s_%04d.pcx", folder.c_str(), person, view, frame);
                savePCX(files, name, 16, 32, indices.data(), palette.data());
            }
    std::vector<u8> map(512 * 512, 0);
    savePCX(files, (folder + "vonoben.pcx").c_str(), 512, 512, map.data(), palette.data());
}

const char* kVertexShader = R"(#version 450
layout(location = 0) in vec3 position;
layout(location = 1) in vec2 uv;
uniform mat4 projection;
out vec2 texCoord;
void main() { texCoord = uv; gl_Position = projection * vec4(position, 1.0); }
)";
const char* kFragmentShader = R"(#version 450
in vec2 texCoord;
uniform sampler2D picture;
uniform vec4 tint;
out vec4 color;
void main() {
    vec4 t = texture(picture, texCoord);
    if (t.a <= 127.0 / 255.0) discard;
    color = vec4(t.rgb * tint.rgb, t.a);
}
)";

// The GL frames on a thread and context of their own: the same vertex data,
// one texture bind, tint and draw per walker.
std::vector<double> glFrames(const std::vector<ImposterMesh::BillboardVertex>& vertices,
                             const std::vector<int>& textureOf, int textureCount)
{
    std::vector<double> times;
    auto context = platform::d3d9::EglHeadlessContext::create();
    if (!context || !context->makeCurrent())
        return times;
    GLuint fb, rb[2], vao, vbo, program = glCreateProgram();
    glGenRenderbuffers(2, rb);
    glBindRenderbuffer(GL_RENDERBUFFER, rb[0]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
    glBindRenderbuffer(GL_RENDERBUFFER, rb[1]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kWidth, kHeight);
    glGenFramebuffers(1, &fb);
    glBindFramebuffer(GL_FRAMEBUFFER, fb);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb[0]);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, rb[1]);
    glViewport(0, 0, kWidth, kHeight);
    for (GLenum type : {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER}) {
        const GLuint s = glCreateShader(type);
        const char* src = type == GL_VERTEX_SHADER ? kVertexShader : kFragmentShader;
        glShaderSource(s, 1, &src, nullptr);
        glCompileShader(s);
        glAttachShader(program, s);
        glDeleteShader(s);
    }
    glLinkProgram(program);
    glUseProgram(program);
    const float projection[16] = {1.5f, 0, 0, 0, 0, 2.0f, 0, 0, 0, 0, 1.0f, 1.0f, 0, 0, -0.1f, 0};
    glUniformMatrix4fv(glGetUniformLocation(program, "projection"), 1, GL_FALSE, projection);
    const GLint tint = glGetUniformLocation(program, "tint");
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glGenBuffers(1, &vbo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    const GLsizeiptr bytes = GLsizeiptr(vertices.size() * sizeof(ImposterMesh::BillboardVertex));
    glBufferData(GL_ARRAY_BUFFER, bytes, nullptr, GL_DYNAMIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 20, nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 20, reinterpret_cast<void*>(12));
    std::vector<GLuint> textures(static_cast<size_t>(textureCount));
    glGenTextures(textureCount, textures.data());
    std::vector<u32> texels(16 * 32, 0xFF80C040u);
    for (GLuint t : textures) {
        glBindTexture(GL_TEXTURE_2D, t);
        glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, 16, 32);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 16, 32, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    }
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    u32 pixel = 0;
    for (int frame = 0; frame < kFrames + 2; ++frame) {
        const auto start = std::chrono::steady_clock::now();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glBufferSubData(GL_ARRAY_BUFFER, 0, bytes, vertices.data());
        for (size_t i = 0; i < textureOf.size(); ++i) {
            glBindTexture(GL_TEXTURE_2D, textures[size_t(textureOf[i])]);
            glUniform4f(tint, 0.8f, 0.9f, 0.7f, 1.0f);
            glDrawArrays(GL_TRIANGLES, GLint(i * 6), 6);
        }
        glReadPixels(0, 0, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &pixel);
        if (frame >= 2)
            times.push_back(secondsSince(start));
    }
    glDeleteTextures(textureCount, textures.data());
    glDeleteBuffers(1, &vbo);
    glDeleteVertexArrays(1, &vao);
    glDeleteProgram(program);
    glDeleteFramebuffers(1, &fb);
    glDeleteRenderbuffers(2, rb);
    context.reset();
    eglReleaseThread();
    return times;
}

} // namespace

int main()
{
    std::unique_ptr<DisplayManager> manager = openBenchDisplay(kWidth, kHeight);
    if (!manager)
        return 1;

    char dir[] = "/tmp/bench_crowd_XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string folder = std::string(dir) + "/";
    writeContent(folder);

    std::vector<double> crowdTimes;
    double walkSeconds = 0.0;
    std::vector<ImposterMesh::BillboardVertex> vertices;
    std::vector<int> textureOf;
    {
        Engine engine(manager.get());
        IDirect3DDevice9* device = engine.currentDevice;
        ImposterMesh crowd(&engine);
        FileStream files("");
        if (!crowd.build(files, folder.c_str()) || !device) {
            std::printf("crowd content not loaded\n");
            return 1;
        }
        Random random(1);
        crowd.populate(random);
        D3DMATRIX view = {}, projection = {};
        view._11 = view._22 = view._33 = view._44 = 1.0f;
        view._42 = -0.3f;
        view._43 = 12.0f;
        projection._11 = 1.5f, projection._22 = 2.0f, projection._33 = 1.0f, projection._34 = 1.0f;
        projection._43 = -0.1f;
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        IDirect3DSurface9 *backBuffer = nullptr, *probe = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
        device->CreateRenderTarget(1, 1, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &probe, nullptr);
        for (int frame = 0; frame < kFrames + 2; ++frame) {
            const auto start = std::chrono::steady_clock::now();
            device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040, 1.0f, 0);
            device->BeginScene();
            crowd.draw(1.0f / 30.0f, random);
            device->EndScene();
            RECT one = {0, 0, 1, 1};
            D3DLOCKED_RECT locked;
            if (backBuffer && probe && SUCCEEDED(device->StretchRect(backBuffer, &one, probe, nullptr, D3DTEXF_NONE)) &&
                SUCCEEDED(probe->LockRect(&locked, nullptr, D3DLOCK_READONLY)))
                probe->UnlockRect();
            if (frame >= 2)
                crowdTimes.push_back(secondsSince(start));
        }
        const auto walkStart = std::chrono::steady_clock::now();
        for (Imposter* w : crowd.imposters)
            ImposterMesh::walk(*w, 1.0f / 30.0f, random, crowd);
        walkSeconds = secondsSince(walkStart);

        vertices.resize(crowd.imposters.size() * 6);
        for (size_t i = 0; i < crowd.imposters.size(); ++i) {
            ImposterMesh::billboard(*crowd.imposters[i], view, vertices.data() + i * 6);
            textureOf.push_back(int(crowd.imposters[i]->type * 10 + int(i % 10)));
        }
        if (probe)
            probe->Release();
        if (backBuffer)
            backBuffer->Release();
    }
    std::vector<double> glTimes;
    std::thread([&] { glTimes = glFrames(vertices, textureOf, 40); }).join();
    manager.reset();
    platform::clearAdapterProfiles();
    std::system((std::string("rm -rf ") + dir).c_str());

    const double crowd = median(crowdTimes), gl = median(glTimes);
    std::printf("crowd %.2f ms, gl %.2f ms per frame\n", crowd * 1e3, gl * 1e3);
    std::printf("walk_us=%.1f\n", walkSeconds * 1e6);
    std::printf("ratio=%.2f\n", gl > 0.0 ? crowd / gl : 0.0);
    return 0;
}
