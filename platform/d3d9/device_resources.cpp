// Resource creation, render targets and the copies between surfaces.
#include "platform/d3d9/adapter_profiles.h"
#include "platform/d3d9/device.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::d3d9 {

namespace {

constexpr DWORD kTextureUsages = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_DYNAMIC |
                                 D3DUSAGE_AUTOGENMIPMAP | D3DUSAGE_DMAP | D3DUSAGE_WRITEONLY |
                                 D3DUSAGE_SOFTWAREPROCESSING;

bool validPool(D3DPOOL pool)
{
    return pool == D3DPOOL_DEFAULT || pool == D3DPOOL_MANAGED || pool == D3DPOOL_SYSTEMMEM ||
           pool == D3DPOOL_SCRATCH;
}

RECT fullRect(const Surface& s)
{
    return RECT{0, 0, LONG(s.desc().Width), LONG(s.desc().Height)};
}

bool insideSurface(const RECT& r, const Surface& s)
{
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && UINT(r.right) <= s.desc().Width &&
           UINT(r.bottom) <= s.desc().Height;
}

} // namespace

// The format and usage checks every texture kind shares; levels is updated
// (0 = the full chain).
static HRESULT checkTexture(Device& device, D3DRESOURCETYPE type, UINT width, UINT height, UINT depth, UINT& levels,
                            DWORD usage, D3DFORMAT format, D3DPOOL pool, const FormatInfo*& info)
{
    if (width == 0 || height == 0 || depth == 0 || !validPool(pool) || (usage & ~kTextureUsages))
        return D3DERR_INVALIDCALL;
    const D3DCAPS9& caps = device.caps();
    const UINT maxSize = type == D3DRTYPE_VOLUMETEXTURE ? caps.MaxVolumeExtent : caps.MaxTextureWidth;
    if (width > maxSize || height > maxSize || depth > maxSize)
        return D3DERR_INVALIDCALL;
    if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && pool != D3DPOOL_DEFAULT)
        return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED)
        return D3DERR_INVALIDCALL;
    info = formatInfo(format);
    // The adapter's answers decide (depth formats are not textures here).
    const DWORD role = usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_DYNAMIC);
    if (!info || info->depth || !device.adapterAccepts(role, type, format))
        return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_RENDERTARGET) && !info->renderable)
        return D3DERR_INVALIDCALL;
    if (info->compressed) {
        if (!device.glContext()->hasExtension("GL_EXT_texture_compression_s3tc") || (width & 3) || (height & 3))
            return D3DERR_INVALIDCALL;
    }
    const UINT full = fullMipCount(width, height, depth);
    if (levels == 0)
        levels = full;
    if (levels > full)
        return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_AUTOGENMIPMAP) && levels != full && levels != 1)
        return D3DERR_INVALIDCALL;
    if (usage & D3DUSAGE_AUTOGENMIPMAP)
        levels = full;
    return D3D_OK;
}

STDMETHODIMP Device::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                   IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle)
{
    DeviceLock lock(this);
    logCall("CreateTexture",
            {double(Width), double(Height), double(Levels), double(Usage), double(Format), double(Pool)});
    if (!ppTexture)
        return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    if (pSharedHandle)
        return D3DERR_INVALIDCALL; // shared resources are not offered
    const FormatInfo* info = nullptr;
    const HRESULT hr =
        checkTexture(*this, D3DRTYPE_TEXTURE, Width, Height, 1, Levels, Usage, Format, Pool, info);
    if (FAILED(hr))
        return hr;
    *ppTexture = new Texture2D(this, Width, Height, Levels, Usage, *info, Pool);
    return D3D_OK;
}

STDMETHODIMP Device::CreateCubeTexture(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                       IDirect3DCubeTexture9** ppCubeTexture, HANDLE* pSharedHandle)
{
    DeviceLock lock(this);
    if (!ppCubeTexture)
        return D3DERR_INVALIDCALL;
    *ppCubeTexture = nullptr;
    if (pSharedHandle)
        return D3DERR_INVALIDCALL;
    const FormatInfo* info = nullptr;
    const HRESULT hr =
        checkTexture(*this, D3DRTYPE_CUBETEXTURE, EdgeLength, EdgeLength, 1, Levels, Usage, Format, Pool, info);
    if (FAILED(hr))
        return hr;
    *ppCubeTexture = new CubeTexture(this, EdgeLength, Levels, Usage, *info, Pool);
    return D3D_OK;
}

STDMETHODIMP Device::CreateVolumeTexture(UINT Width, UINT Height, UINT Depth, UINT Levels, DWORD Usage,
                                         D3DFORMAT Format, D3DPOOL Pool, IDirect3DVolumeTexture9** ppVolumeTexture,
                                         HANDLE* pSharedHandle)
{
    DeviceLock lock(this);
    if (!ppVolumeTexture)
        return D3DERR_INVALIDCALL;
    *ppVolumeTexture = nullptr;
    if (pSharedHandle || (Usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)))
        return D3DERR_INVALIDCALL;
    const FormatInfo* info = nullptr;
    const HRESULT hr =
        checkTexture(*this, D3DRTYPE_VOLUMETEXTURE, Width, Height, Depth, Levels, Usage, Format, Pool, info);
    if (FAILED(hr))
        return hr;
    if (info->compressed)
        return D3DERR_INVALIDCALL;
    *ppVolumeTexture = new VolumeTexture(this, Width, Height, Depth, Levels, Usage, *info, Pool);
    return D3D_OK;
}

STDMETHODIMP Device::CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                        IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle)
{
    DeviceLock lock(this);
    logCall("CreateVertexBuffer", {double(Length), double(Usage), double(FVF), double(Pool)});
    if (!ppVertexBuffer)
        return D3DERR_INVALIDCALL;
    *ppVertexBuffer = nullptr;
    if (pSharedHandle || Length == 0 || !validPool(Pool) || ((Usage & D3DUSAGE_DYNAMIC) && Pool == D3DPOOL_MANAGED))
        return D3DERR_INVALIDCALL;
    if (FVF) {
        const UINT stride = fvfStride(FVF);
        if (stride == 0 || Length < stride)
            return D3DERR_INVALIDCALL;
    }
    if (m_failBufferCreation)
        return D3DERR_OUTOFVIDEOMEMORY;
    *ppVertexBuffer = new VertexBuffer(this, Length, Usage, FVF, Pool);
    return D3D_OK;
}

STDMETHODIMP Device::CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                       IDirect3DIndexBuffer9** ppIndexBuffer, HANDLE* pSharedHandle)
{
    DeviceLock lock(this);
    logCall("CreateIndexBuffer", {double(Length), double(Usage), double(Format), double(Pool)});
    if (!ppIndexBuffer)
        return D3DERR_INVALIDCALL;
    *ppIndexBuffer = nullptr;
    if (pSharedHandle || Length == 0 || !validPool(Pool) || (Format != D3DFMT_INDEX16 && Format != D3DFMT_INDEX32) ||
        ((Usage & D3DUSAGE_DYNAMIC) && Pool == D3DPOOL_MANAGED))
        return D3DERR_INVALIDCALL;
    if (Format == D3DFMT_INDEX32 && m_caps.MaxVertexIndex <= 0xFFFF)
        return D3DERR_INVALIDCALL;
    if (m_failBufferCreation)
        return D3DERR_OUTOFVIDEOMEMORY;
    *ppIndexBuffer = new IndexBuffer(this, Length, Usage, Format, Pool);
    return D3D_OK;
}

STDMETHODIMP Device::CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample,
                                        DWORD MultisampleQuality, BOOL Lockable, IDirect3DSurface9** ppSurface,
                                        HANDLE* pSharedHandle)
{
    DeviceLock lock(this);
    if (!ppSurface)
        return D3DERR_INVALIDCALL;
    *ppSurface = nullptr;
    const FormatInfo* info = formatInfo(Format);
    if (pSharedHandle || Width == 0 || Height == 0 || Width > m_caps.MaxTextureWidth ||
        Height > m_caps.MaxTextureHeight || !info || !info->renderable ||
        !adapterAccepts(D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE, Format))
        return D3DERR_INVALIDCALL;
    if (MultiSample != D3DMULTISAMPLE_NONE) {
        const auto& types = m_adapter.multiSampleTypes;
        if (Lockable || MultisampleQuality != 0 || MultiSample == D3DMULTISAMPLE_NONMASKABLE ||
            std::find(types.begin(), types.end(), MultiSample) == types.end())
            return D3DERR_INVALIDCALL;
    }
    D3DSURFACE_DESC desc{Format, D3DRTYPE_SURFACE, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, MultiSample, 0, Width, Height};
    auto* s = new Surface(this, SurfaceRole::RenderTarget, desc, *info, Lockable != FALSE);
    *ppSurface = s;
    return D3D_OK;
}

STDMETHODIMP Device::CreateDepthStencilSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                               D3DMULTISAMPLE_TYPE MultiSample, DWORD MultisampleQuality, BOOL Discard,
                                               IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle)
{
    DeviceLock lock(this);
    logCall("CreateDepthStencilSurface", {double(Width), double(Height), double(Format), double(MultiSample),
                                         double(MultisampleQuality), double(Discard)});
    if (!ppSurface)
        return D3DERR_INVALIDCALL;
    *ppSurface = nullptr;
    const FormatInfo* info = formatInfo(Format);
    if (pSharedHandle || Width == 0 || Height == 0 || Width > m_caps.MaxTextureWidth ||
        Height > m_caps.MaxTextureHeight || !info || !info->depth ||
        !adapterAccepts(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, Format))
        return D3DERR_INVALIDCALL;
    if (MultiSample != D3DMULTISAMPLE_NONE) {
        const auto& types = m_adapter.multiSampleTypes;
        if (MultisampleQuality != 0 || MultiSample == D3DMULTISAMPLE_NONMASKABLE ||
            std::find(types.begin(), types.end(), MultiSample) == types.end())
            return D3DERR_INVALIDCALL;
    }
    D3DSURFACE_DESC desc{Format, D3DRTYPE_SURFACE, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, MultiSample, 0, Width, Height};
    *ppSurface = new Surface(this, SurfaceRole::DepthStencil, desc, *info, false);
    return D3D_OK;
}

STDMETHODIMP Device::CreateOffscreenPlainSurface(UINT Width, UINT Height, D3DFORMAT Format, D3DPOOL Pool,
                                                 IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle)
{
    DeviceLock lock(this);
    if (!ppSurface)
        return D3DERR_INVALIDCALL;
    *ppSurface = nullptr;
    const FormatInfo* info = formatInfo(Format);
    if (pSharedHandle || Width == 0 || Height == 0 || !info || info->depth || Pool == D3DPOOL_MANAGED ||
        !validPool(Pool) || takeFailNextOffscreenSurface())
        return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc{Format, D3DRTYPE_SURFACE, 0, Pool, D3DMULTISAMPLE_NONE, 0, Width, Height};
    *ppSurface = new Surface(this, SurfaceRole::Offscreen, desc, *info, true);
    return D3D_OK;
}

STDMETHODIMP Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements,
                                             IDirect3DVertexDeclaration9** ppDecl)
{
    DeviceLock lock(this);
    if (!ppDecl)
        return D3DERR_INVALIDCALL;
    *ppDecl = nullptr;
    std::vector<D3DVERTEXELEMENT9> elements;
    if (!readDeclaration(pVertexElements, elements))
        return D3DERR_INVALIDCALL;
    *ppDecl = new VertexDeclaration(this, std::move(elements), 0);
    return D3D_OK;
}

STDMETHODIMP Device::CreateQuery(D3DQUERYTYPE, IDirect3DQuery9** ppQuery)
{
    if (ppQuery)
        *ppQuery = nullptr;
    return D3DERR_NOTAVAILABLE; // no query type is offered
}

STDMETHODIMP Device::CreateStateBlock(D3DSTATEBLOCKTYPE, IDirect3DStateBlock9** ppSB)
{
    if (ppSB)
        *ppSB = nullptr;
    logLine("state blocks are not offered");
    return D3DERR_NOTAVAILABLE;
}

STDMETHODIMP Device::BeginStateBlock()
{
    logLine("state blocks are not offered");
    return D3DERR_NOTAVAILABLE;
}

STDMETHODIMP Device::EndStateBlock(IDirect3DStateBlock9** ppSB)
{
    if (ppSB)
        *ppSB = nullptr;
    return D3DERR_INVALIDCALL;
}

// ---------------------------------------------------------------------------
// Targets

// Off-screen targets live in the share group and serve every device, like
// textures; another device's back buffer or automatic depth buffer would
// draw into that device's window.
bool Device::refusedForeign(const Surface* s) const
{
    return s->device() != this && s->device() && s->device()->ownsSwapSurface(s);
}

STDMETHODIMP Device::SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget)
{
    DeviceLock lock(this);
    logCall("SetRenderTarget", {double(RenderTargetIndex), ptrArg(pRenderTarget)});
    Surface* s = asSurface(pRenderTarget);
    if (RenderTargetIndex >= kRenderTargets || RenderTargetIndex >= m_caps.NumSimultaneousRTs ||
        (pRenderTarget && !s) || (RenderTargetIndex == 0 && !s))
        return D3DERR_INVALIDCALL;
    if (s && !(s->desc().Usage & D3DUSAGE_RENDERTARGET))
        return D3DERR_INVALIDCALL;
    if (s && refusedForeign(s))
        return D3DERR_INVALIDCALL;
    Surface*& slot = m_renderTargets[RenderTargetIndex];
    if (s != slot)
        holdRef(slot, s);
    if (RenderTargetIndex == 0) {
        // A new target brings a viewport and scissor rectangle of its size.
        m_ff.viewport = D3DVIEWPORT9{0, 0, s->desc().Width, s->desc().Height, 0.0f, 1.0f};
        m_scissor = fullRect(*s);
    }
    m_dirty |= DirtyTargets | DirtyViewport | DirtyScissor | DirtyColorMask;
    return D3D_OK;
}

STDMETHODIMP Device::GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget)
{
    DeviceLock lock(this);
    if (!ppRenderTarget || RenderTargetIndex >= kRenderTargets)
        return D3DERR_INVALIDCALL;
    *ppRenderTarget = m_renderTargets[RenderTargetIndex];
    if (!*ppRenderTarget)
        return D3DERR_NOTFOUND;
    (*ppRenderTarget)->AddRef();
    return D3D_OK;
}

STDMETHODIMP Device::SetDepthStencilSurface(IDirect3DSurface9* pNewZStencil)
{
    DeviceLock lock(this);
    logCall("SetDepthStencilSurface", {ptrArg(pNewZStencil)});
    Surface* s = asSurface(pNewZStencil);
    if ((pNewZStencil && !s) || (s && !(s->desc().Usage & D3DUSAGE_DEPTHSTENCIL)) || (s && refusedForeign(s)))
        return D3DERR_INVALIDCALL;
    if (s != m_depthStencil)
        holdRef(m_depthStencil, s);
    m_dirty |= DirtyTargets | DirtyDepth | DirtyStencil | DirtyRaster;
    return D3D_OK;
}

STDMETHODIMP Device::GetDepthStencilSurface(IDirect3DSurface9** ppZStencilSurface)
{
    DeviceLock lock(this);
    if (!ppZStencilSurface)
        return D3DERR_INVALIDCALL;
    *ppZStencilSurface = m_depthStencil;
    if (!m_depthStencil)
        return D3DERR_NOTFOUND;
    m_depthStencil->AddRef();
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Copies

void Device::bindFramebuffer(GLuint framebuffer, Surface* color, Surface* depth)
{
    glNamedFramebufferTexture(framebuffer, GL_COLOR_ATTACHMENT0, 0, 0);
    glNamedFramebufferRenderbuffer(framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, 0);
    glNamedFramebufferRenderbuffer(framebuffer, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
    if (color) {
        color->attachTo(framebuffer, GL_COLOR_ATTACHMENT0);
        glNamedFramebufferDrawBuffer(framebuffer, GL_COLOR_ATTACHMENT0);
        glNamedFramebufferReadBuffer(framebuffer, GL_COLOR_ATTACHMENT0);
    } else {
        glNamedFramebufferDrawBuffer(framebuffer, GL_NONE);
        glNamedFramebufferReadBuffer(framebuffer, GL_NONE);
    }
    if (depth)
        depth->attachTo(framebuffer, depth->format().stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT);
}

bool Device::blitSurface(Surface& source, const RECT& sr, Surface& dest, const RECT& dr, GLenum filter)
{
    if (!source.ensureGl() || !dest.ensureGl())
        return false;
    const bool depth = source.format().depth;
    if (depth) {
        bindFramebuffer(m_readFramebuffer, nullptr, &source);
        bindFramebuffer(m_writeFramebuffer, nullptr, &dest);
    } else {
        bindFramebuffer(m_readFramebuffer, &source, nullptr);
        bindFramebuffer(m_writeFramebuffer, &dest, nullptr);
    }
    if (m_gl.scissor) {
        glDisable(GL_SCISSOR_TEST);
        m_gl.scissor = false;
        m_dirty |= DirtyScissor;
    }
    GLbitfield mask = GL_COLOR_BUFFER_BIT;
    if (depth)
        mask = GL_DEPTH_BUFFER_BIT | (source.format().stencil && dest.format().stencil ? GL_STENCIL_BUFFER_BIT : 0);
    glBlitNamedFramebuffer(m_readFramebuffer, m_writeFramebuffer, sr.left, sr.top, sr.right, sr.bottom, dr.left,
                           dr.top, dr.right, dr.bottom, mask, depth ? GL_NEAREST : filter);
    dest.noteGpuWritten();
    return checkGlErrors("StretchRect");
}

bool Device::cpuStretch(Surface& source, const RECT& sr, Surface& dest, const RECT& dr, bool linear)
{
    if (!source.ensureCpu() || !dest.ensureCpu())
        return false;
    const FormatInfo& sf = source.format();
    const FormatInfo& df = dest.format();
    if (sf.compressed || df.compressed)
        return false;
    const LONG sw = sr.right - sr.left, sh = sr.bottom - sr.top;
    const LONG dw = dr.right - dr.left, dh = dr.bottom - dr.top;
    const bool sameSize = sw == dw && sh == dh;
    if (sameSize && sf.format == df.format) {
        copyRows(sf, source.memory() + size_t(sr.top) * source.pitch() + size_t(sr.left) * sf.bytes, source.pitch(),
                 dest.memory() + size_t(dr.top) * dest.pitch() + size_t(dr.left) * df.bytes, dest.pitch(), UINT(sw),
                 UINT(sh));
        dest.noteCpuWritten(dr);
        return true;
    }
    auto fetch = [&](LONG x, LONG y, float c[4]) {
        x = std::clamp<LONG>(x, sr.left, sr.right - 1);
        y = std::clamp<LONG>(y, sr.top, sr.bottom - 1);
        return decodePixel(sf, source.memory() + size_t(y) * source.pitch() + size_t(x) * sf.bytes, c);
    };
    for (LONG y = 0; y < dh; ++y) {
        for (LONG x = 0; x < dw; ++x) {
            // Sample at the destination pixel's centre mapped into the source.
            const float fx = (float(x) + 0.5f) * float(sw) / float(dw) - 0.5f + float(sr.left);
            const float fy = (float(y) + 0.5f) * float(sh) / float(dh) - 0.5f + float(sr.top);
            float c[4] = {0, 0, 0, 1};
            if (linear && !sameSize) {
                const LONG x0 = LONG(std::floor(fx)), y0 = LONG(std::floor(fy));
                const float ax = fx - float(x0), ay = fy - float(y0);
                float c00[4], c10[4], c01[4], c11[4];
                if (!fetch(x0, y0, c00) || !fetch(x0 + 1, y0, c10) || !fetch(x0, y0 + 1, c01) ||
                    !fetch(x0 + 1, y0 + 1, c11))
                    return false;
                for (int i = 0; i < 4; ++i)
                    c[i] = (c00[i] * (1 - ax) + c10[i] * ax) * (1 - ay) + (c01[i] * (1 - ax) + c11[i] * ax) * ay;
            } else if (!fetch(LONG(std::lround(fx)), LONG(std::lround(fy)), c)) {
                return false;
            }
            if (!encodePixel(df, c, dest.memory() + size_t(dr.top + y) * dest.pitch() + size_t(dr.left + x) * df.bytes))
                return false;
        }
    }
    dest.noteCpuWritten(dr);
    return true;
}

STDMETHODIMP Device::StretchRect(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                                 IDirect3DSurface9* pDestSurface, const RECT* pDestRect, D3DTEXTUREFILTERTYPE Filter)
{
    DeviceLock lock(this);
    Surface* src = asSurface(pSourceSurface);
    Surface* dst = asSurface(pDestSurface);
    if (!src || !dst || src == dst || src->locked() || dst->locked())
        return D3DERR_INVALIDCALL;
    if (Filter != D3DTEXF_NONE && Filter != D3DTEXF_POINT && Filter != D3DTEXF_LINEAR)
        return D3DERR_INVALIDCALL;
    const RECT sr = pSourceRect ? *pSourceRect : fullRect(*src);
    const RECT dr = pDestRect ? *pDestRect : fullRect(*dst);
    if (!insideSurface(sr, *src) || !insideSurface(dr, *dst))
        return D3DERR_INVALIDCALL;
    if (src->format().depth != dst->format().depth)
        return D3DERR_INVALIDCALL;
    if (src->format().depth) {
        // Depth copies are whole-surface, same size, no stretching.
        if (pSourceRect || pDestRect || src->desc().Width != dst->desc().Width ||
            src->desc().Height != dst->desc().Height)
            return D3DERR_INVALIDCALL;
    }
    if (!onDeviceThread() || !m_context->makeCurrent()) {
        // Another thread (a video decoder): CPU copies only.
        if (src->format().depth || !cpuStretch(*src, sr, *dst, dr, Filter == D3DTEXF_LINEAR))
            return D3DERR_INVALIDCALL;
        return D3D_OK;
    }
    if (src->usesGl() && dst->usesGl() && !dst->format().compressed && !src->format().compressed) {
        return blitSurface(*src, sr, *dst, dr, Filter == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST) ? D3D_OK
                                                                                                  : D3DERR_INVALIDCALL;
    }
    if (src->samples() || src->format().depth)
        return D3DERR_INVALIDCALL;
    return cpuStretch(*src, sr, *dst, dr, Filter == D3DTEXF_LINEAR) ? D3D_OK : D3DERR_INVALIDCALL;
}

STDMETHODIMP Device::ColorFill(IDirect3DSurface9* pSurface, const RECT* pRect, D3DCOLOR color)
{
    DeviceLock lock(this);
    Surface* s = asSurface(pSurface);
    if (!s || s->locked() || s->format().depth || s->format().compressed || s->desc().Pool != D3DPOOL_DEFAULT)
        return D3DERR_INVALIDCALL;
    const RECT r = pRect ? *pRect : fullRect(*s);
    if (!insideSurface(r, *s))
        return D3DERR_INVALIDCALL;
    const float c[4] = {float((color >> 16) & 0xFF) / 255.0f, float((color >> 8) & 0xFF) / 255.0f,
                        float(color & 0xFF) / 255.0f, float(color >> 24) / 255.0f};
    if (s->usesGl() && onDeviceThread() && m_context->makeCurrent()) {
        if (!s->ensureGl())
            return D3DERR_INVALIDCALL;
        bindFramebuffer(m_writeFramebuffer, s, nullptr);
        glEnable(GL_SCISSOR_TEST);
        glScissor(r.left, r.top, r.right - r.left, r.bottom - r.top);
        glColorMaski(0, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glClearNamedFramebufferfv(m_writeFramebuffer, GL_COLOR, 0, c);
        m_gl.scissor = true;
        m_gl.colorMask[0] = 0xF;
        m_dirty |= DirtyScissor | DirtyColorMask;
        s->noteGpuWritten();
        return checkGlErrors("ColorFill") ? D3D_OK : D3DERR_INVALIDCALL;
    }
    if (!s->ensureCpu())
        return D3DERR_INVALIDCALL;
    const FormatInfo& f = s->format();
    for (LONG y = r.top; y < r.bottom; ++y) {
        for (LONG x = r.left; x < r.right; ++x) {
            if (!encodePixel(f, c, s->memory() + size_t(y) * s->pitch() + size_t(x) * f.bytes))
                return D3DERR_INVALIDCALL;
        }
    }
    s->noteCpuWritten(r);
    return D3D_OK;
}

STDMETHODIMP Device::UpdateSurface(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                                   IDirect3DSurface9* pDestinationSurface, const POINT* pDestPoint)
{
    DeviceLock lock(this);
    Surface* src = asSurface(pSourceSurface);
    Surface* dst = asSurface(pDestinationSurface);
    if (!src || !dst || src == dst || src->locked() || dst->locked() || src->format().format != dst->format().format ||
        src->format().depth || src->samples() || dst->samples())
        return D3DERR_INVALIDCALL;
    const RECT sr = pSourceRect ? *pSourceRect : fullRect(*src);
    const POINT at = pDestPoint ? *pDestPoint : POINT{0, 0};
    const RECT dr{at.x, at.y, at.x + (sr.right - sr.left), at.y + (sr.bottom - sr.top)};
    if (!insideSurface(sr, *src) || !insideSurface(dr, *dst))
        return D3DERR_INVALIDCALL;
    const FormatInfo& f = src->format();
    if (f.compressed && ((sr.left | sr.top | dr.left | dr.top) & 3))
        return D3DERR_INVALIDCALL;
    if (!src->ensureCpu() || !dst->ensureCpu())
        return D3DERR_INVALIDCALL;
    const size_t srcOffset = size_t(formatRows(f, UINT(sr.top))) * src->pitch() +
                             size_t(f.compressed ? sr.left / 4 : sr.left) * f.bytes;
    const size_t dstOffset = size_t(formatRows(f, UINT(dr.top))) * dst->pitch() +
                             size_t(f.compressed ? dr.left / 4 : dr.left) * f.bytes;
    copyRows(f, src->memory() + srcOffset, src->pitch(), dst->memory() + dstOffset, dst->pitch(),
             UINT(sr.right - sr.left), UINT(sr.bottom - sr.top));
    dst->noteCpuWritten(dr);
    return D3D_OK;
}

STDMETHODIMP Device::UpdateTexture(IDirect3DBaseTexture9* pSourceTexture, IDirect3DBaseTexture9* pDestinationTexture)
{
    DeviceLock lock(this);
    TextureStorage* src = asTextureStorage(pSourceTexture);
    TextureStorage* dst = asTextureStorage(pDestinationTexture);
    if (!src || !dst || src == dst || src->type() != dst->type() || &src->format() != &dst->format())
        return D3DERR_INVALIDCALL;
    if (src->type() == D3DRTYPE_VOLUMETEXTURE) {
        // Level by level through the boxes.
        for (UINT level = 0; level < dst->levelCount(); ++level) {
            Volume* d = dst->volume(level);
            D3DVOLUME_DESC dd{};
            d->GetDesc(&dd);
            Volume* s = nullptr;
            for (UINT j = 0; j < src->levelCount(); ++j) {
                D3DVOLUME_DESC sd{};
                src->volume(j)->GetDesc(&sd);
                if (sd.Width == dd.Width && sd.Height == dd.Height && sd.Depth == dd.Depth)
                    s = src->volume(j);
            }
            if (!s)
                return D3DERR_INVALIDCALL;
            D3DLOCKED_BOX from{}, to{};
            if (FAILED(s->LockBox(&from, nullptr, D3DLOCK_READONLY)))
                return D3DERR_INVALIDCALL;
            if (FAILED(d->LockBox(&to, nullptr, 0))) {
                s->UnlockBox();
                return D3DERR_INVALIDCALL;
            }
            for (UINT z = 0; z < dd.Depth; ++z)
                copyRows(dst->format(), static_cast<unsigned char*>(from.pBits) + size_t(z) * from.SlicePitch,
                         UINT(from.RowPitch), static_cast<unsigned char*>(to.pBits) + size_t(z) * to.SlicePitch,
                         UINT(to.RowPitch), dd.Width, dd.Height);
            d->UnlockBox();
            s->UnlockBox();
        }
        return D3D_OK;
    }
    const UINT faces = src->type() == D3DRTYPE_CUBETEXTURE ? 6 : 1;
    // Levels are matched by size: the source may have more of them.
    if (src->width() < dst->width() || src->levelCount() < dst->levelCount())
        return D3DERR_INVALIDCALL;
    UINT skip = 0;
    while (skip < src->levelCount() && mipExtent(src->width(), skip) != dst->width())
        ++skip;
    if (skip + dst->levelCount() > src->levelCount() || mipExtent(src->height(), skip) != dst->height())
        return D3DERR_INVALIDCALL;
    for (UINT face = 0; face < faces; ++face) {
        for (UINT level = 0; level < dst->levelCount(); ++level) {
            Surface* s = src->surface(face * src->levelCount() + level + skip);
            Surface* d = dst->surface(face * dst->levelCount() + level);
            const HRESULT hr = UpdateSurface(s, nullptr, d, nullptr);
            if (FAILED(hr))
                return hr;
        }
    }
    return D3D_OK;
}

STDMETHODIMP Device::GetRenderTargetData(IDirect3DSurface9* pRenderTarget, IDirect3DSurface9* pDestSurface)
{
    DeviceLock lock(this);
    Surface* src = asSurface(pRenderTarget);
    Surface* dst = asSurface(pDestSurface);
    if (!src || !dst || src == dst || dst->locked() || !(src->desc().Usage & D3DUSAGE_RENDERTARGET) ||
        src->samples() || src->format().format != dst->format().format || src->desc().Width != dst->desc().Width ||
        src->desc().Height != dst->desc().Height || dst->usesGl())
        return D3DERR_INVALIDCALL;
    if (!src->ensureCpu() || !dst->ensureCpu())
        return D3DERR_INVALIDCALL;
    copyRows(src->format(), src->memory(), src->pitch(), dst->memory(), dst->pitch(), src->desc().Width,
             src->desc().Height);
    dst->noteCpuWritten(fullRect(*dst));
    return D3D_OK;
}

} // namespace platform::d3d9
