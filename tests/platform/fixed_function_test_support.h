// A headless GL 4.5 context on a thread of its own and a small renderer
// that feeds the fixed-function programs the way the device does: shared
// attribute locations, texture unit = stage, D3D clip conventions. Used by
// the fixed-function tests to check the generated GLSL without a device.
#pragma once

#include "platform/d3d9/egl_headless.h"
#include "platform/d3d9/fixed_function.h"

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <GL/glcorearb.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace fftest {

using namespace platform::d3d9;

// Runs body with a fresh GL 4.5 core context current on a worker thread
// (so that whatever the test thread has current stays untouched). False
// when no such context can be made here.
inline bool runWithGl(const std::function<void()>& body)
{
    bool ran = false;
    std::thread worker([&] {
        {
            std::unique_ptr<EglHeadlessContext> context = EglHeadlessContext::create();
            if (context && context->makeCurrent()) {
                ran = true;
                body();
                context->release();
            }
        }
        eglReleaseThread();
    });
    worker.join();
    return ran;
}

#define FF_RUN_WITH_GL(...)                                    \
    do {                                                       \
        if (!::fftest::runWithGl(__VA_ARGS__))                 \
            GTEST_SKIP() << "no OpenGL 4.5 context available"; \
    } while (0)

// Every vertex component the pipeline can read; a FixedVertexLayout says
// which ones are fed.
struct TestVertex {
    float position[4] = {0, 0, 0, 1};
    float normal[3] = {0, 0, 0};
    D3DCOLOR diffuse = 0;
    D3DCOLOR specular = 0;
    float tex[8][4] = {};
};

struct Rgba {
    int r, g, b, a;
};

inline Rgba unpack(D3DCOLOR c)
{
    return {int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF), int(c >> 24)};
}

// A colour target (RGBA8) with depth, bound as the framebuffer, viewport
// and clip conventions as the device sets them.
class Target {
public:
    Target(int width, int height)
        : m_width(width)
        , m_height(height)
    {
        glCreateFramebuffers(1, &m_fbo);
        glCreateTextures(GL_TEXTURE_2D, 1, &m_color);
        glTextureStorage2D(m_color, 1, GL_RGBA8, width, height);
        glCreateRenderbuffers(1, &m_depth);
        glNamedRenderbufferStorage(m_depth, GL_DEPTH24_STENCIL8, width, height);
        glNamedFramebufferTexture(m_fbo, GL_COLOR_ATTACHMENT0, m_color, 0);
        glNamedFramebufferRenderbuffer(m_fbo, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, m_depth);
        glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
        glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
        glViewport(0, 0, width, height);
        glDepthRange(0.0, 1.0);
        glEnable(GL_PROGRAM_POINT_SIZE);
        glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
        glGenVertexArrays(1, &m_vao);
        glBindVertexArray(m_vao);
        glCreateBuffers(1, &m_vbo);
    }
    ~Target()
    {
        glDeleteBuffers(1, &m_vbo);
        glDeleteVertexArrays(1, &m_vao);
        glDeleteFramebuffers(1, &m_fbo);
        glDeleteTextures(1, &m_color);
        glDeleteRenderbuffers(1, &m_depth);
    }

    int width() const { return m_width; }
    int height() const { return m_height; }

    void clear(D3DCOLOR color, float depth = 1.0f)
    {
        const Rgba c = unpack(color);
        glClearColor(c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, c.a / 255.0f);
        glClearDepth(depth);
        glDepthMask(GL_TRUE);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    // Draws with the state's program; false when the pipeline gave none.
    bool draw(FixedFunctionPipeline& pipeline, const FixedFunctionState& state,
              const std::vector<TestVertex>& vertices, GLenum mode)
    {
        FixedFunctionState drawn = state;
        drawn.fillsTriangles = mode == GL_TRIANGLES || mode == GL_TRIANGLE_STRIP || mode == GL_TRIANGLE_FAN;
        if (!pipeline.use(drawn))
            return false;
        glNamedBufferData(m_vbo, GLsizeiptr(vertices.size() * sizeof(TestVertex)), vertices.data(),
                          GL_STREAM_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
        for (GLuint i = 0; i < 16; ++i)
            glDisableVertexAttribArray(i);
        const FixedVertexLayout& l = state.layout;
        const GLsizei stride = sizeof(TestVertex);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, l.positionT ? 4 : 3, GL_FLOAT, GL_FALSE, stride,
                              reinterpret_cast<void*>(offsetof(TestVertex, position)));
        if (l.normal) {
            glEnableVertexAttribArray(3);
            glVertexAttribPointer(3, 3, GL_FLOAT, GL_FALSE, stride,
                                  reinterpret_cast<void*>(offsetof(TestVertex, normal)));
        }
        if (l.diffuse) {
            glEnableVertexAttribArray(5);
            glVertexAttribPointer(5, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                                  reinterpret_cast<void*>(offsetof(TestVertex, diffuse)));
        }
        if (l.specular) {
            glEnableVertexAttribArray(6);
            glVertexAttribPointer(6, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                                  reinterpret_cast<void*>(offsetof(TestVertex, specular)));
        }
        for (int t = 0; t < 8; ++t) {
            if (!l.texCoordSize[t])
                continue;
            glEnableVertexAttribArray(GLuint(8 + t));
            glVertexAttribPointer(GLuint(8 + t), l.texCoordSize[t], GL_FLOAT, GL_FALSE, stride,
                                  reinterpret_cast<void*>(offsetof(TestVertex, tex) + sizeof(float) * 4 * t));
        }
        const DWORD clipMask = state.renderStates[D3DRS_CLIPPLANEENABLE];
        for (int j = 0; j < 6; ++j) {
            if (clipMask & (1u << j))
                glEnable(GLenum(GL_CLIP_DISTANCE0 + j));
            else
                glDisable(GLenum(GL_CLIP_DISTANCE0 + j));
        }
        const D3DVIEWPORT9& vp = state.viewport;
        glViewport(GLint(vp.X), GLint(vp.Y), GLsizei(vp.Width), GLsizei(vp.Height));
        glDepthRange(vp.MinZ, vp.MaxZ);
        glDrawArrays(mode, 0, GLsizei(vertices.size()));
        return glGetError() == GL_NO_ERROR;
    }

    // Pixel (x, y), row 0 the top row.
    Rgba pixel(int x, int y) const
    {
        unsigned char p[4] = {};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return {p[0], p[1], p[2], p[3]};
    }
    float depth(int x, int y) const
    {
        float d = -1.0f;
        glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &d);
        return d;
    }

private:
    int m_width, m_height;
    GLuint m_fbo = 0, m_color = 0, m_depth = 0, m_vao = 0, m_vbo = 0;
};

// A texture of ARGB texels (row 0 on top), nearest filtering, clamped, bound
// to unit `unit`. Deleted by the caller (glDeleteTextures).
inline GLuint makeTexture2D(int unit, int width, int height, const std::vector<D3DCOLOR>& texels)
{
    GLuint t = 0;
    glCreateTextures(GL_TEXTURE_2D, 1, &t);
    glTextureStorage2D(t, 1, GL_RGBA8, width, height);
    glTextureSubImage2D(t, 0, 0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
    glTextureParameteri(t, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTextureParameteri(t, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTextureParameteri(t, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTextureParameteri(t, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTextureUnit(GLuint(unit), t);
    return t;
}

// A cube map with one colour per face (+X, -X, +Y, -Y, +Z, -Z).
inline GLuint makeCubeTexture(int unit, const D3DCOLOR faces[6])
{
    GLuint t = 0;
    glCreateTextures(GL_TEXTURE_CUBE_MAP, 1, &t);
    glTextureStorage2D(t, 1, GL_RGBA8, 2, 2);
    for (int f = 0; f < 6; ++f) {
        const D3DCOLOR texels[4] = {faces[f], faces[f], faces[f], faces[f]};
        glTextureSubImage3D(t, 0, 0, 0, f, 2, 2, 1, GL_BGRA, GL_UNSIGNED_BYTE, texels);
    }
    glTextureParameteri(t, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTextureParameteri(t, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTextureUnit(GLuint(unit), t);
    return t;
}

inline DWORD floatBits(float f)
{
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

// Orthographic projection that puts camera-space (x, y) on the D3D screen
// coordinate (x, y) of a width x height target (pixel centres at integers)
// and z 0..100 on depth 0..1.
inline D3DMATRIX screenOrtho(int width, int height)
{
    D3DMATRIX m{};
    m._11 = 2.0f / float(width);
    m._22 = -2.0f / float(height);
    m._33 = 0.01f;
    m._41 = -1.0f;
    m._42 = 1.0f;
    m._44 = 1.0f;
    return m;
}

} // namespace fftest
