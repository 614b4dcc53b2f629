// The OpenGL 4.5 core contexts behind the Direct3D devices: an SDL context
// on the device window's SDL window, or an EGL surfaceless one without a
// display. All contexts of one kind are made in one share group, so that
// textures, buffers and programs made on one device can be used by another.
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "platform/d3d9/egl_headless.h"

#include <memory>
#include <string>
#include <thread>

struct SDL_Window;

namespace platform::d3d9 {

// One line on standard error, prefixed "d3d9: " (the stand-in cannot reach
// the engine's log).
void logLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Logs every pending GL error with the place it was noticed; true when there
// was none.
bool checkGlErrors(const char* where);

// The info log of a shader, or of a program when program is true.
std::string infoLog(GLuint object, bool program);

// A compiled shader of the type, or 0 with the compiler's log in log.
GLuint compileShader(GLenum type, const std::string& source, std::string& log);

// The rasteriser's sub-pixel step in pixels, from GL_SUBPIXEL_BITS of the
// context current at the first call (one GL implementation per process).
//
// Both pipelines move positions half a pixel right and down, which puts
// Direct3D's pixel centres (integers) on GL's, less this step vertically.
// Drawing into a framebuffer object with its origin at the top, GL breaks
// ties on horizontal edges the other way round from Direct3D's top-left
// rule: a top edge on pixel centres is left out, a bottom one filled. Snapped vertices lie on the step's grid,
// so moving every edge up one step fills the centres on top edges, leaves
// those on bottom edges, and moves no horizontal or vertical edge across
// any other centre (a sloped edge moves by the step). Fragment shaders read
// their inputs one step above the centre, where the moved primitive has the
// values the unmoved one has at the centre: colours and texture coordinates
// stay where Direct3D puts them.
float subpixelStep();

class GlContext {
public:
    // A context on the SDL window (which must have been made with
    // SDL_WINDOW_OPENGL), or a headless one when window is null. Null with a
    // log line when neither can be had.
    static std::unique_ptr<GlContext> create(SDL_Window* window);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    // Makes the context current on the calling thread; cheap when it already
    // is. False (logged) when the context cannot be made current here.
    bool makeCurrent();
    bool isCurrent() const;
    // The context current on the calling thread (one of ours), or null.
    static GlContext* current();

    SDL_Window* window() const { return m_window; }
    // Shows the window's default framebuffer (SDL contexts only).
    void swap();
    void setSwapInterval(int interval);
    bool hasExtension(const char* name) const;
    // The thread that made the context; GL work is done there.
    std::thread::id ownerThread() const { return m_owner; }

private:
    GlContext() = default;
    bool initialiseFunctions();

    SDL_Window* m_window = nullptr;
    void* m_sdlContext = nullptr;  // SDL_GLContext
    std::unique_ptr<EglHeadlessContext> m_egl;
    std::thread::id m_owner;
    std::string m_extensions;
};

// Makes a context current for a scope and puts back whatever was current.
class ContextScope {
public:
    explicit ContextScope(GlContext* context);
    ~ContextScope();
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;
    bool ok() const { return m_ok; }

private:
    GlContext* m_previous;
    GlContext* m_context;
    bool m_ok = false;
};

} // namespace platform::d3d9
