#include "platform/d3d9/egl_headless.h"

#include "platform/d3d9/gl_adapter_info.h"
#include "platform/d3d9/gl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>

namespace platform::d3d9 {

namespace {

bool listHas(const char* list, const char* name)
{
    if (!list)
        return false;
    const size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n) {
        if ((p == list || p[-1] == ' ') && (p[n] == '\0' || p[n] == ' '))
            return true;
    }
    return false;
}

} // namespace

std::unique_ptr<EglHeadlessContext> EglHeadlessContext::create(void* shareWith)
{
    bool surfaceless = false;
    EGLDisplay display = deviceEglDisplay(&surfaceless);
    if (!display) {
        logLine("no EGL display for a headless context");
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        logLine("EGL cannot bind OpenGL");
        return nullptr;
    }
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    EGLConfig config = EGL_NO_CONFIG_KHR;
    const bool noConfig =
        listHas(extensions, "EGL_KHR_no_config_context") || listHas(extensions, "EGL_MESA_configless_context");
    if (!noConfig || !surfaceless) {
        const EGLint configAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                        EGL_NONE};
        EGLint count = 0;
        if (!eglChooseConfig(display, configAttribs, &config, 1, &count) || count < 1) {
            logLine("no EGL config for OpenGL");
            return nullptr;
        }
    }
    const EGLint attribs[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                              EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, shareWith ? EGLContext(shareWith) : EGL_NO_CONTEXT, attribs);
    if (context == EGL_NO_CONTEXT) {
        logLine("no OpenGL 4.5 core context (EGL error 0x%X)", unsigned(eglGetError()));
        return nullptr;
    }
    std::unique_ptr<EglHeadlessContext> c(new EglHeadlessContext);
    c->m_display = display;
    c->m_context = context;
    if (!surfaceless && !listHas(extensions, "EGL_KHR_surfaceless_context")) {
        const EGLint pbufferAttribs[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        c->m_surface = eglCreatePbufferSurface(display, config, pbufferAttribs);
    }
    return c;
}

EglHeadlessContext::~EglHeadlessContext()
{
    if (isCurrent())
        release();
    if (m_surface)
        eglDestroySurface(m_display, m_surface);
    eglDestroyContext(m_display, m_context);
}

bool EglHeadlessContext::makeCurrent()
{
    eglBindAPI(EGL_OPENGL_API);
    if (eglMakeCurrent(m_display, m_surface, m_surface, m_context) == EGL_TRUE)
        return true;
    logLine("cannot make the headless context current (EGL error 0x%X)", unsigned(eglGetError()));
    return false;
}

void EglHeadlessContext::release()
{
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

bool EglHeadlessContext::isCurrent() const
{
    return eglGetCurrentContext() == m_context;
}

} // namespace platform::d3d9
