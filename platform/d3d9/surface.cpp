#include "platform/d3d9/surface.h"

#include "platform/d3d9/device.h"
#include "platform/d3d9/texture.h"

#include <algorithm>
#include <cstring>

namespace platform::d3d9 {

namespace {

bool validRect(const RECT& r, UINT width, UINT height)
{
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && UINT(r.right) <= width &&
           UINT(r.bottom) <= height;
}

RECT unite(const RECT& a, const RECT& b)
{
    if (a.right <= a.left || a.bottom <= a.top)
        return b;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

// Formats whose stored alpha means nothing: read back opaque.
void forceOpaque(const FormatInfo& f, unsigned char* memory, UINT pitch, UINT width, UINT height)
{
    for (UINT y = 0; y < height; ++y) {
        unsigned char* row = memory + size_t(y) * pitch;
        for (UINT x = 0; x < width; ++x) {
            switch (f.format) {
            case D3DFMT_X8R8G8B8:
            case D3DFMT_X8B8G8R8:
                row[4 * x + 3] = 0xFF;
                break;
            case D3DFMT_X1R5G5B5:
                row[2 * x + 1] |= 0x80;
                break;
            case D3DFMT_X4R4G4B4:
                row[2 * x + 1] |= 0xF0;
                break;
            default:
                return;
            }
        }
    }
}

} // namespace

void copyRows(const FormatInfo& format, const unsigned char* src, UINT srcPitch, unsigned char* dst, UINT dstPitch,
              UINT width, UINT height)
{
    const UINT rowBytes = format.compressed ? ((width + 3) / 4) * format.bytes : width * format.bytes;
    const UINT rows = formatRows(format, height);
    for (UINT y = 0; y < rows; ++y)
        std::memcpy(dst + size_t(y) * dstPitch, src + size_t(y) * srcPitch, rowBytes);
}

bool uploadTexels(GLuint texture, GLenum target, const FormatInfo& format, GLint level, GLint layer, GLint x,
                  GLint y, GLsizei width, GLsizei height, GLsizei depth, const void* data, UINT pitch,
                  UINT slicePitch)
{
    if (format.compressed) {
        // Whole block rows; the pitch of a compressed level is its natural one.
        const GLsizei size = GLsizei(formatSize(format, UINT(width), UINT(height)));
        if (target == GL_TEXTURE_2D)
            glCompressedTextureSubImage2D(texture, level, x, y, width, height, format.internalFormat, size, data);
        else
            glCompressedTextureSubImage3D(texture, level, x, y, layer, width, height, 1, format.internalFormat,
                                          size, data);
        return checkGlErrors("compressed texture upload");
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(pitch / format.bytes));
    glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, slicePitch ? GLint(slicePitch / pitch) : 0);
    if (target == GL_TEXTURE_2D)
        glTextureSubImage2D(texture, level, x, y, width, height, format.uploadFormat, format.uploadType, data);
    else if (target == GL_TEXTURE_3D)
        glTextureSubImage3D(texture, level, x, y, layer, width, height, depth, format.uploadFormat,
                            format.uploadType, data);
    else
        glTextureSubImage3D(texture, level, x, y, layer, width, height, 1, format.uploadFormat, format.uploadType,
                            data);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, 0);
    return checkGlErrors("texture upload");
}

Surface* asSurface(IDirect3DSurface9* surface)
{
    return surface ? dynamic_cast<Surface*>(surface) : nullptr;
}

Surface::Surface(Device* device, SurfaceRole role, const D3DSURFACE_DESC& desc, const FormatInfo& format,
                 bool lockable)
    : Resource<IDirect3DSurface9>(device, D3DRTYPE_SURFACE)
    , m_role(role)
    , m_desc(desc)
    , m_format(&format)
    , m_lockable(lockable)
{
    m_pitch = formatPitch(format, desc.Width);
    if (role == SurfaceRole::Offscreen)
        m_memory.assign(size_t(m_pitch) * formatRows(format, desc.Height), 0);
    if (usesGl() && device->onDeviceThread()) {
        ContextScope scope(device->glContext());
        if (scope.ok())
            createStorage();
    }
}

Surface::Surface(Device* device, TextureStorage* container, UINT level, UINT face, const D3DSURFACE_DESC& desc,
                 const FormatInfo& format)
    : Resource<IDirect3DSurface9>(device, D3DRTYPE_SURFACE)
    , m_role(SurfaceRole::TextureLevel)
    , m_desc(desc)
    , m_format(&format)
    , m_container(container)
    , m_level(level)
    , m_face(face)
{
    m_pitch = formatPitch(format, desc.Width);
}

Surface::~Surface()
{
    if (m_texture || m_renderbuffer) {
        ContextScope scope(device()->glContext());
        if (scope.ok())
            destroyStorage();
    }
}

void Surface::destroyStorage()
{
    if (m_texture)
        glDeleteTextures(1, &m_texture);
    if (m_renderbuffer)
        glDeleteRenderbuffers(1, &m_renderbuffer);
    m_texture = 0;
    m_renderbuffer = 0;
}

UINT Surface::samples() const
{
    return m_desc.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES ? UINT(m_desc.MultiSampleType) : 0;
}

bool Surface::createStorage()
{
    if (m_role == SurfaceRole::TextureLevel || m_role == SurfaceRole::Offscreen)
        return true;
    const GLsizei w = GLsizei(m_desc.Width), h = GLsizei(m_desc.Height);
    if (m_role == SurfaceRole::DepthStencil || samples()) {
        glCreateRenderbuffers(1, &m_renderbuffer);
        if (samples())
            glNamedRenderbufferStorageMultisample(m_renderbuffer, GLsizei(samples()), m_format->internalFormat, w, h);
        else
            glNamedRenderbufferStorage(m_renderbuffer, m_format->internalFormat, w, h);
        // Defined contents from the start: far depth, zero stencil, black.
        GLuint framebuffer = 0;
        glCreateFramebuffers(1, &framebuffer);
        if (m_format->depth) {
            glNamedFramebufferRenderbuffer(framebuffer, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, m_renderbuffer);
            glClearNamedFramebufferfi(framebuffer, GL_DEPTH_STENCIL, 0, 1.0f, 0);
        } else {
            glNamedFramebufferRenderbuffer(framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_renderbuffer);
            glNamedFramebufferDrawBuffer(framebuffer, GL_COLOR_ATTACHMENT0);
            const float black[4] = {0.0f, 0.0f, 0.0f, m_format->alpha ? 0.0f : 1.0f};
            glClearNamedFramebufferfv(framebuffer, GL_COLOR, 0, black);
        }
        glDeleteFramebuffers(1, &framebuffer);
    } else {
        glCreateTextures(GL_TEXTURE_2D, 1, &m_texture);
        glTextureStorage2D(m_texture, 1, m_format->internalFormat, w, h);
        glTextureParameteriv(m_texture, GL_TEXTURE_SWIZZLE_RGBA, m_format->swizzle);
        glTextureParameteri(m_texture, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTextureParameteri(m_texture, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        // New targets start black (opaque where the format has no alpha).
        const float black[4] = {0.0f, 0.0f, 0.0f, m_format->alpha ? 0.0f : 1.0f};
        glClearTexImage(m_texture, 0, GL_RGBA, GL_FLOAT, black);
    }
    if (!checkGlErrors("surface storage")) {
        destroyStorage();
        return false;
    }
    if (!m_memory.empty()) {
        m_gpuStale = true;
        m_dirty = RECT{0, 0, LONG(m_desc.Width), LONG(m_desc.Height)};
    } else {
        m_cpuStale = true; // the cleared GL image is the contents
    }
    return true;
}

void Surface::recreate(UINT width, UINT height, D3DFORMAT format, const FormatInfo& info, D3DMULTISAMPLE_TYPE samples,
                       bool lockable)
{
    destroyStorage();
    m_desc.Width = width;
    m_desc.Height = height;
    m_desc.Format = format;
    m_desc.MultiSampleType = samples;
    m_format = &info;
    m_lockable = lockable;
    m_pitch = formatPitch(info, width);
    m_memory.clear();
    m_cpuStale = m_gpuStale = false;
    m_dirty = RECT{};
    createStorage();
}

GLuint Surface::glName() const
{
    return m_container ? m_container->existingGlTexture() : m_texture;
}

GLenum Surface::glTarget() const
{
    return m_container ? m_container->glTarget() : GL_TEXTURE_2D;
}

bool Surface::ensureGl()
{
    if (!usesGl())
        return false;
    if (m_container) {
        if (!m_container->glTexture())
            return false;
    } else if (!m_texture && !m_renderbuffer && !createStorage()) {
        return false;
    }
    if (m_gpuStale) {
        const RECT dirty = m_dirty;
        m_gpuStale = false;
        m_dirty = RECT{};
        return upload(dirty);
    }
    return true;
}

bool Surface::upload(const RECT& rect)
{
    const GLuint name = glName();
    if (!name || m_memory.empty())
        return name != 0;
    RECT r = rect;
    if (m_format->compressed) {
        // Whole block rows of the full width.
        r.left = 0;
        r.right = LONG(m_desc.Width);
        r.top &= ~3;
        r.bottom = std::min<LONG>((r.bottom + 3) & ~3, LONG(m_desc.Height));
    }
    const unsigned char* start =
        m_memory.data() + size_t(formatRows(*m_format, UINT(r.top))) * m_pitch +
        (m_format->compressed ? 0 : size_t(r.left) * m_format->bytes);
    const GLint layer = glTarget() == GL_TEXTURE_CUBE_MAP ? GLint(m_face) : -1;
    device()->noteTexelsUploaded((unsigned long long)(r.right - r.left) * UINT(r.bottom - r.top));
    return uploadTexels(name, glTarget(), *m_format, GLint(m_level), layer, r.left, r.top, r.right - r.left,
                        r.bottom - r.top, 1, start, m_pitch, 0);
}

bool Surface::readBack(const RECT& r)
{
    const GLuint name = glName();
    if (!name) {
        if (m_renderbuffer)
            logLine("a multisampled or depth surface cannot be read back");
        return false;
    }
    if (m_format->compressed || m_format->depth) {
        logLine("compressed and depth surfaces are not read back");
        return false;
    }
    m_memory.resize(size_t(m_pitch) * formatRows(*m_format, m_desc.Height));
    const size_t offset = size_t(r.top) * m_pitch + size_t(r.left) * m_format->bytes;
    const UINT width = UINT(r.right - r.left), height = UINT(r.bottom - r.top);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, GLint(m_pitch / m_format->bytes));
    const GLint zoffset = glTarget() == GL_TEXTURE_CUBE_MAP ? GLint(m_face) : 0;
    glGetTextureSubImage(name, GLint(m_level), r.left, r.top, zoffset, GLsizei(width), GLsizei(height), 1,
                         m_format->uploadFormat, m_format->uploadType, GLsizei(m_memory.size() - offset),
                         m_memory.data() + offset);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    if (!checkGlErrors("surface read-back"))
        return false;
    forceOpaque(*m_format, m_memory.data() + offset, m_pitch, width, height);
    return true;
}

bool Surface::readBackOnDeviceThread(const RECT& r)
{
    if (!device()->onDeviceThread()) {
        logLine("a surface drawn by the GPU cannot be read on another thread");
        return false;
    }
    ContextScope scope(device()->glContext());
    return scope.ok() && readBack(r);
}

bool Surface::ensureCpu()
{
    if (!m_cpuStale) {
        if (m_memory.empty())
            m_memory.assign(size_t(m_pitch) * formatRows(*m_format, m_desc.Height), 0);
        return true;
    }
    if (!readBackOnDeviceThread(RECT{0, 0, LONG(m_desc.Width), LONG(m_desc.Height)}))
        return false;
    m_cpuStale = false;
    return true;
}

void Surface::noteCpuWritten(const RECT& rect)
{
    if (!usesGl())
        return;
    m_gpuStale = true;
    m_dirty = unite(m_dirty, rect);
    if (m_container)
        m_container->notePending();
    if (device()->onDeviceThread() && glName()) {
        ContextScope scope(device()->glContext());
        if (scope.ok())
            ensureGl();
    }
}

void Surface::attachTo(GLuint framebuffer, GLenum attachment)
{
    if (m_renderbuffer) {
        glNamedFramebufferRenderbuffer(framebuffer, attachment, GL_RENDERBUFFER, m_renderbuffer);
        if (attachment == GL_DEPTH_STENCIL_ATTACHMENT && !m_format->stencil) {
            // D24X8 keeps a stencil plane in GL; leave it out of the target.
            glNamedFramebufferRenderbuffer(framebuffer, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_renderbuffer);
            glNamedFramebufferRenderbuffer(framebuffer, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
        }
        return;
    }
    const GLuint name = glName();
    if (glTarget() == GL_TEXTURE_CUBE_MAP)
        glNamedFramebufferTextureLayer(framebuffer, attachment, name, GLint(m_level), GLint(m_face));
    else
        glNamedFramebufferTexture(framebuffer, attachment, name, GLint(m_level));
}

STDMETHODIMP Surface::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DSurface9>(this, riid, ppvObject, {&IID_IDirect3DResource9, &IID_IDirect3DSurface9});
}

STDMETHODIMP_(ULONG) Surface::AddRef()
{
    if (m_container)
        return m_container->baseInterface()->AddRef();
    return Resource<IDirect3DSurface9>::AddRef();
}

STDMETHODIMP_(ULONG) Surface::Release()
{
    if (m_container)
        return m_container->baseInterface()->Release();
    return Resource<IDirect3DSurface9>::Release();
}

STDMETHODIMP_(void) Surface::PreLoad()
{
    if (m_container)
        m_container->baseInterface()->PreLoad();
}

STDMETHODIMP Surface::GetContainer(REFIID riid, void** ppContainer)
{
    if (!ppContainer)
        return D3DERR_INVALIDCALL;
    *ppContainer = nullptr;
    if (m_container)
        return m_container->queryInterface(riid, ppContainer);
    // A surface of its own is contained by its device.
    IDirect3DDevice9* d = publicDevice(device());
    const HRESULT hr = d->QueryInterface(riid, ppContainer);
    d->Release();
    return hr;
}

STDMETHODIMP Surface::GetDesc(D3DSURFACE_DESC* pDesc)
{
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    *pDesc = m_desc;
    return D3D_OK;
}

STDMETHODIMP Surface::LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags)
{
    DeviceLock lock(device());
    if (!pLockedRect)
        return D3DERR_INVALIDCALL;
    pLockedRect->pBits = nullptr;
    pLockedRect->Pitch = 0;
    if (m_locked || !m_lockable || m_format->depth || samples() || device()->takeFailNextLock())
        return D3DERR_INVALIDCALL;
    RECT r{0, 0, LONG(m_desc.Width), LONG(m_desc.Height)};
    if (pRect) {
        if (!validRect(*pRect, m_desc.Width, m_desc.Height))
            return D3DERR_INVALIDCALL;
        r = *pRect;
        if (m_format->compressed && ((r.left | r.top) & 3))
            return D3DERR_INVALIDCALL;
    }
    const bool wholeDiscard = (Flags & D3DLOCK_DISCARD) && !pRect;
    if (wholeDiscard && !(Flags & D3DLOCK_READONLY)) {
        m_cpuStale = false; // the old contents need not be kept
        if (m_memory.empty())
            m_memory.assign(size_t(m_pitch) * formatRows(*m_format, m_desc.Height), 0);
    } else if (pRect && (Flags & D3DLOCK_READONLY) && m_cpuStale && !m_format->compressed) {
        // Only the rectangle comes back (a probe of a few pixels must not
        // cost the whole target); the rest of the copy stays stale.
        if (!readBackOnDeviceThread(r))
            return D3DERR_INVALIDCALL;
    } else if (!ensureCpu()) {
        return D3DERR_INVALIDCALL;
    }
    const size_t offset = size_t(formatRows(*m_format, UINT(r.top))) * m_pitch +
                          (m_format->compressed ? size_t(r.left / 4) * m_format->bytes : size_t(r.left) * m_format->bytes);
    pLockedRect->pBits = m_memory.data() + offset;
    pLockedRect->Pitch = INT(m_pitch);
    m_locked = true;
    m_lockRect = r;
    m_lockFlags = Flags;
    return D3D_OK;
}

STDMETHODIMP Surface::UnlockRect()
{
    DeviceLock lock(device());
    if (!m_locked)
        return D3DERR_INVALIDCALL;
    m_locked = false;
    if (!(m_lockFlags & D3DLOCK_READONLY))
        noteCpuWritten(m_lockRect);
    return D3D_OK;
}

STDMETHODIMP Surface::GetDC(HDC* phdc)
{
    if (phdc)
        *phdc = nullptr;
    return D3DERR_INVALIDCALL; // GDI drawing is not offered
}

STDMETHODIMP Surface::ReleaseDC(HDC)
{
    return D3DERR_INVALIDCALL;
}

} // namespace platform::d3d9
