// A headless OpenGL 4.5 core context on the devices' EGL display: no surface
// where the display is surfaceless or offers surfaceless contexts, a 1 x 1
// pbuffer otherwise. The device contexts are made this way; tools and tests
// that draw GL of their own make theirs the same way.
#pragma once

#include <memory>

namespace platform::d3d9 {

class EglHeadlessContext {
public:
    // Null (logged) when no such context can be had. shareWith: an
    // EglHeadlessContext's handle() to share objects with, or null.
    static std::unique_ptr<EglHeadlessContext> create(void* shareWith = nullptr);
    // Lets go of it when current on the calling thread, then destroys it.
    ~EglHeadlessContext();
    EglHeadlessContext(const EglHeadlessContext&) = delete;
    EglHeadlessContext& operator=(const EglHeadlessContext&) = delete;

    // Current on the calling thread; false (logged) when EGL refuses.
    bool makeCurrent();
    // Nothing current on the calling thread.
    void release();
    bool isCurrent() const;
    void* handle() const { return m_context; } // EGLContext

private:
    EglHeadlessContext() = default;

    void* m_display = nullptr; // EGLDisplay
    void* m_context = nullptr; // EGLContext
    void* m_surface = nullptr; // EGLSurface, only without surfaceless contexts
};

} // namespace platform::d3d9
