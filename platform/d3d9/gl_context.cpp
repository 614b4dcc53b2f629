#include "platform/d3d9/gl_context.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform::d3d9 {

namespace {

thread_local GlContext* t_current = nullptr;

// Live contexts by kind: a new context shares with any live one of its kind
// (EGL and SDL/GLX contexts cannot share with each other).
struct ShareRegistry {
    std::mutex mutex;
    std::vector<GlContext*> sdlContexts;
    std::vector<GlContext*> eglContexts;
};

ShareRegistry& registry()
{
    static ShareRegistry* r = new ShareRegistry;
    return *r;
}

const char* glErrorName(GLenum e)
{
    switch (e) {
    case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
    case GL_INVALID_FRAMEBUFFER_OPERATION: return "GL_INVALID_FRAMEBUFFER_OPERATION";
    case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
    case GL_STACK_OVERFLOW: return "GL_STACK_OVERFLOW";
    case GL_STACK_UNDERFLOW: return "GL_STACK_UNDERFLOW";
    default: return "unknown GL error";
    }
}

} // namespace

void logLine(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::fprintf(stderr, "d3d9: %s\n", buffer);
}

bool checkGlErrors(const char* where)
{
    bool clean = true;
    for (int i = 0; i < 16; ++i) {
        const GLenum e = glGetError();
        if (e == GL_NO_ERROR)
            break;
        logLine("%s: %s (0x%04X)", where, glErrorName(e), unsigned(e));
        clean = false;
    }
    return clean;
}

std::string infoLog(GLuint object, bool program)
{
    GLint length = 0;
    if (program)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(size_t(std::max(length, 1)), '\0');
    if (program)
        glGetProgramInfoLog(object, length, nullptr, log.data());
    else
        glGetShaderInfoLog(object, length, nullptr, log.data());
    return log.c_str();
}

GLuint compileShader(GLenum type, const std::string& source, std::string& log)
{
    GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok)
        return shader;
    log = infoLog(shader, false);
    glDeleteShader(shader);
    return 0;
}

float subpixelStep()
{
    static const float step = [] {
        GLint bits = 0;
        glGetIntegerv(GL_SUBPIXEL_BITS, &bits);
        // Implementations snap to at least 1/16 pixel; 8 bits when the
        // answer is missing or implausible.
        if (bits < 4 || bits > 16)
            bits = 8;
        return std::ldexp(1.0f, -bits);
    }();
    return step;
}

std::unique_ptr<GlContext> GlContext::create(SDL_Window* window)
{
    std::unique_ptr<GlContext> context(new GlContext);
    context->m_owner = std::this_thread::get_id();
    GlContext* previous = t_current;
    ShareRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);

    if (window) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        GlContext* shareWith = r.sdlContexts.empty() ? nullptr : r.sdlContexts.front();
        if (shareWith) {
            // SDL shares with the context current at creation.
            SDL_GL_MakeCurrent(shareWith->m_window, shareWith->m_sdlContext);
            SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 1);
        }
        context->m_sdlContext = SDL_GL_CreateContext(window);
        SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
        if (!context->m_sdlContext) {
            logLine("no OpenGL 4.5 core context on the window (%s)", SDL_GetError());
            t_current = nullptr;
            if (previous)
                previous->makeCurrent();
            return nullptr;
        }
        context->m_window = window;
        t_current = context.get();
        r.sdlContexts.push_back(context.get());
    } else {
        context->m_egl =
            EglHeadlessContext::create(r.eglContexts.empty() ? nullptr : r.eglContexts.front()->m_egl->handle());
        if (!context->m_egl)
            return nullptr;
        r.eglContexts.push_back(context.get());
        if (!context->makeCurrent()) {
            r.eglContexts.pop_back();
            return nullptr;
        }
    }

    if (!context->initialiseFunctions()) {
        auto& list = window ? r.sdlContexts : r.eglContexts;
        list.erase(std::remove(list.begin(), list.end(), context.get()), list.end());
        return nullptr;
    }
    // Leave the caller's context current, as it was.
    if (previous && previous != context.get())
        previous->makeCurrent();
    return context;
}

bool GlContext::initialiseFunctions()
{
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major * 10 + minor < 45) {
        logLine("OpenGL %d.%d is too old (4.5 core needed)", major, minor);
        return false;
    }
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    m_extensions = " ";
    for (GLint i = 0; i < count; ++i) {
        const GLubyte* name = glGetStringi(GL_EXTENSIONS, GLuint(i));
        if (name) {
            m_extensions += reinterpret_cast<const char*>(name);
            m_extensions += ' ';
        }
    }
    // Direct3D's conventions: top row first, depth from 0 to 1.
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glEnable(GL_TEXTURE_CUBE_MAP_SEAMLESS);
    glEnable(GL_PROGRAM_POINT_SIZE);
    return checkGlErrors("context set-up");
}

GlContext::~GlContext()
{
    ShareRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (t_current == this)
        t_current = nullptr;
    if (m_sdlContext) {
        r.sdlContexts.erase(std::remove(r.sdlContexts.begin(), r.sdlContexts.end(), this), r.sdlContexts.end());
        if (SDL_GL_GetCurrentContext() == m_sdlContext)
            SDL_GL_MakeCurrent(nullptr, nullptr);
        SDL_GL_DeleteContext(m_sdlContext);
    }
    if (m_egl) {
        r.eglContexts.erase(std::remove(r.eglContexts.begin(), r.eglContexts.end(), this), r.eglContexts.end());
        m_egl.reset();
    }
}

bool GlContext::makeCurrent()
{
    if (t_current == this)
        return true;
    bool ok;
    if (m_sdlContext) {
        ok = SDL_GL_MakeCurrent(m_window, m_sdlContext) == 0;
        if (!ok)
            logLine("cannot make the window's context current (%s)", SDL_GetError());
    } else {
        ok = m_egl->makeCurrent();
    }
    t_current = ok ? this : nullptr;
    return ok;
}

bool GlContext::isCurrent() const
{
    return t_current == this;
}

GlContext* GlContext::current()
{
    return t_current;
}

void GlContext::swap()
{
    if (m_sdlContext && makeCurrent())
        SDL_GL_SwapWindow(m_window);
}

void GlContext::setSwapInterval(int interval)
{
    if (m_sdlContext && makeCurrent())
        SDL_GL_SetSwapInterval(interval); // refusals (Xvfb) only mean no throttling
}

bool GlContext::hasExtension(const char* name) const
{
    return m_extensions.find(std::string(" ") + name + " ") != std::string::npos;
}

ContextScope::ContextScope(GlContext* context)
    : m_previous(GlContext::current())
    , m_context(context)
{
    m_ok = context && context->makeCurrent();
}

ContextScope::~ContextScope()
{
    if (m_previous && m_previous != m_context)
        m_previous->makeCurrent();
}

} // namespace platform::d3d9
