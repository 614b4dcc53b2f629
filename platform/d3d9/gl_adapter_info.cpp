#include "platform/d3d9/gl_adapter_info.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstring>
#include <mutex>
#include <thread>

namespace platform {

namespace {

bool hasExtension(const char* list, const char* name)
{
    if (!list)
        return false;
    const size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n) {
        const bool startOk = p == list || p[-1] == ' ';
        const bool endOk = p[n] == '\0' || p[n] == ' ';
        if (startOk && endOk)
            return true;
    }
    return false;
}

std::string glString(GLenum name)
{
    const GLubyte* s = glGetString(name);
    return s ? reinterpret_cast<const char*>(s) : "";
}

EGLDisplay openDisplay(bool& surfaceless)
{
    surfaceless = false;
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay && hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) {
            surfaceless = true;
            return display;
        }
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
        return display;
    return EGL_NO_DISPLAY;
}

// Runs on its own thread so that whatever context the caller has current
// stays untouched. The display is left initialised: terminating it would
// also end contexts that other code made on the same display.
void probe(GlAdapterInfo& info)
{
    bool surfaceless = false;
    EGLDisplay display = openDisplay(surfaceless);
    if (display == EGL_NO_DISPLAY)
        return;
    if (!eglBindAPI(EGL_OPENGL_API))
        return;

    const EGLint configAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                    EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(display, configAttribs, &config, 1, &configCount) || configCount < 1)
        return;

    const EGLint coreAttribs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                  EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, coreAttribs);
    if (context == EGL_NO_CONTEXT)
        context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT)
        return;

    EGLSurface surface = EGL_NO_SURFACE;
    const bool noSurface =
        surfaceless || hasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
    if (!noSurface) {
        const EGLint pbufferAttribs[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        surface = eglCreatePbufferSurface(display, config, pbufferAttribs);
    }
    if (eglMakeCurrent(display, surface, surface, context)) {
        info.renderer = glString(GL_RENDERER);
        info.vendor = glString(GL_VENDOR);
        info.version = glString(GL_VERSION);
        GLint value = 0;
        glGetIntegerv(GL_MAX_SAMPLES, &value);
        info.maxSamples = value;
        value = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &value);
        info.maxTextureSize = value;
        value = 0;
        glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &value);
        info.max3DTextureSize = value;
        value = 0;
        glGetIntegerv(GL_MAX_CUBE_MAP_TEXTURE_SIZE, &value);
        info.maxCubeMapTextureSize = value;
        GLfloat anisotropy = 0.0f;
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY, &anisotropy);
        info.maxAnisotropy = anisotropy;
        while (glGetError() != GL_NO_ERROR) {
        }
        info.available = !info.renderer.empty();
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    if (surface != EGL_NO_SURFACE)
        eglDestroySurface(display, surface);
    eglDestroyContext(display, context);
    eglReleaseThread();
}

} // namespace

void* deviceEglDisplay(bool* surfaceless)
{
    static EGLDisplay display = EGL_NO_DISPLAY;
    static bool isSurfaceless = false;
    static std::once_flag once;
    std::call_once(once, [] { display = openDisplay(isSurfaceless); });
    if (surfaceless)
        *surfaceless = isSurfaceless;
    return display == EGL_NO_DISPLAY ? nullptr : display;
}

const GlAdapterInfo& glAdapterInfo()
{
    static GlAdapterInfo info;
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread worker([] { probe(info); });
        worker.join();
    });
    return info;
}

} // namespace platform
