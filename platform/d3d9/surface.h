// IDirect3DSurface9: a level (or cube face level) of a texture, or a surface
// of its own (render target, depth-stencil, offscreen plain, back buffer).
//
// Texels live in up to two places: a CPU copy (what LockRect hands out) and
// the GL image. Each side knows whether the other has newer data; GL work
// happens on the device's thread only, so a lock from another thread works
// on the CPU copy and the upload waits for the next use on the device's
// thread.
#pragma once

#include "platform/d3d9/device_child.h"
#include "platform/d3d9/gl_context.h"
#include "platform/d3d9/surface_format.h"

#include <vector>

namespace platform::d3d9 {

class TextureStorage;

enum class SurfaceRole {
    TextureLevel, // a level of a texture (container set)
    RenderTarget, // CreateRenderTarget and the back buffer
    DepthStencil,
    Offscreen,    // CreateOffscreenPlainSurface: CPU memory only
};

class Surface final : public Resource<IDirect3DSurface9> {
public:
    // A surface of its own. GL storage (for targets) is made at once when
    // called on the device's thread with its context current.
    Surface(Device* device, SurfaceRole role, const D3DSURFACE_DESC& desc, const FormatInfo& format, bool lockable);
    // A level of a texture; reference counts go to the container.
    Surface(Device* device, TextureStorage* container, UINT level, UINT face, const D3DSURFACE_DESC& desc,
            const FormatInfo& format);
    ~Surface() override;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP_(void) PreLoad() override;
    STDMETHODIMP GetContainer(REFIID riid, void** ppContainer) override;
    STDMETHODIMP GetDesc(D3DSURFACE_DESC* pDesc) override;
    STDMETHODIMP LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    STDMETHODIMP UnlockRect() override;
    STDMETHODIMP GetDC(HDC* phdc) override;
    STDMETHODIMP ReleaseDC(HDC hdc) override;

    const D3DSURFACE_DESC& desc() const { return m_desc; }
    const FormatInfo& format() const { return *m_format; }
    SurfaceRole role() const { return m_role; }
    TextureStorage* container() const { return m_container; }
    UINT level() const { return m_level; }
    UINT face() const { return m_face; }
    bool locked() const { return m_locked; }
    bool lockable() const { return m_lockable; }
    UINT samples() const;
    // True for surfaces that exist in GL (texture levels and targets).
    bool usesGl() const { return m_role != SurfaceRole::Offscreen; }

    // GL side (device thread, context current). ensureGl makes the storage
    // and uploads CPU data GL lacks; false (logged) when it cannot.
    bool ensureGl();
    void attachTo(GLuint framebuffer, GLenum attachment);
    // Something drew into the GL image: the CPU copy is out of date.
    void noteGpuWritten() { m_cpuStale = true; }

    // The CPU copy, brought up to date (a read-back when GL is newer);
    // false when that is impossible here (another thread, multisampled).
    bool ensureCpu();
    unsigned char* memory() { return m_memory.data(); }
    UINT pitch() const { return m_pitch; }
    // After CPU writes to the copy (within rect): GL gets them now when on
    // the device's thread, else before its next use.
    void noteCpuWritten(const RECT& rect);

    // Rebuilds a target's storage with a new size/format (Reset keeps the
    // back buffer and depth-stencil objects that callers may hold).
    void recreate(UINT width, UINT height, D3DFORMAT format, const FormatInfo& info, D3DMULTISAMPLE_TYPE samples,
                  bool lockable);

    // Own GL objects of a surface of its own (0 for texture levels).
    GLuint ownTexture() const { return m_texture; }
    GLuint ownRenderbuffer() const { return m_renderbuffer; }

private:
    bool createStorage();
    void destroyStorage();
    bool upload(const RECT& rect);
    // Reads r of the GL image into the CPU copy.
    bool readBack(const RECT& r);
    bool readBackOnDeviceThread(const RECT& r);
    GLuint glName() const;
    GLenum glTarget() const;

    SurfaceRole m_role;
    D3DSURFACE_DESC m_desc;
    const FormatInfo* m_format;
    TextureStorage* m_container = nullptr;
    UINT m_level = 0;
    UINT m_face = 0;
    bool m_lockable = true;

    std::vector<unsigned char> m_memory; // empty until first needed
    UINT m_pitch = 0;
    bool m_cpuStale = false; // GL has data the CPU copy lacks
    bool m_gpuStale = false; // the CPU copy has data GL lacks (within m_dirty)
    RECT m_dirty{};

    bool m_locked = false;
    RECT m_lockRect{};
    DWORD m_lockFlags = 0;

    GLuint m_texture = 0;      // targets without multisampling
    GLuint m_renderbuffer = 0; // depth-stencil and multisampled targets
};

// The Surface behind an interface pointer of ours, or null.
Surface* asSurface(IDirect3DSurface9* surface);

// Copies a rectangle of pixels between memory blocks of one format.
void copyRows(const FormatInfo& format, const unsigned char* src, UINT srcPitch, unsigned char* dst, UINT dstPitch,
              UINT width, UINT height);

// Uploads pixels (rows `pitch` bytes apart) into a GL texture image; layer
// is the cube face or volume slice (-1 for a plain 2D texture).
bool uploadTexels(GLuint texture, GLenum target, const FormatInfo& format, GLint level, GLint layer, GLint x,
                  GLint y, GLsizei width, GLsizei height, GLsizei depth, const void* data, UINT pitch,
                  UINT slicePitch);

} // namespace platform::d3d9
