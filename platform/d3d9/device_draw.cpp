// Clear and the draws: the state tables are turned into GL state here,
// through the cache of what the context already has.
#include "platform/d3d9/device.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::d3d9 {

namespace {

GLenum compareFunc(DWORD f)
{
    switch (f) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
    }
}

GLenum blendFactor(DWORD b)
{
    switch (b) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
    case D3DBLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
    case D3DBLEND_SRCCOLOR2: return GL_SRC1_COLOR;
    case D3DBLEND_INVSRCCOLOR2: return GL_ONE_MINUS_SRC1_COLOR;
    default: return GL_ONE;
    }
}

// BOTHSRCALPHA and BOTHINVSRCALPHA set both factors from the source one.
void blendPair(DWORD src, DWORD dst, GLenum& glSrc, GLenum& glDst)
{
    if (src == D3DBLEND_BOTHSRCALPHA) {
        glSrc = GL_SRC_ALPHA;
        glDst = GL_ONE_MINUS_SRC_ALPHA;
    } else if (src == D3DBLEND_BOTHINVSRCALPHA) {
        glSrc = GL_ONE_MINUS_SRC_ALPHA;
        glDst = GL_SRC_ALPHA;
    } else {
        glSrc = blendFactor(src);
        glDst = blendFactor(dst);
    }
}

GLenum blendOp(DWORD op)
{
    switch (op) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

GLenum stencilOp(DWORD op)
{
    switch (op) {
    case D3DSTENCILOP_ZERO: return GL_ZERO;
    case D3DSTENCILOP_REPLACE: return GL_REPLACE;
    case D3DSTENCILOP_INCRSAT: return GL_INCR;
    case D3DSTENCILOP_DECRSAT: return GL_DECR;
    case D3DSTENCILOP_INVERT: return GL_INVERT;
    case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
    case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
    default: return GL_KEEP;
    }
}

GLenum minFilter(DWORD min, DWORD mip)
{
    const bool linear = min == D3DTEXF_LINEAR || min == D3DTEXF_ANISOTROPIC;
    switch (mip) {
    case D3DTEXF_POINT: return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    case D3DTEXF_LINEAR:
    case D3DTEXF_ANISOTROPIC: return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    default: return linear ? GL_LINEAR : GL_NEAREST;
    }
}

GLenum addressMode(DWORD mode)
{
    switch (mode) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE: return GL_MIRROR_CLAMP_TO_EDGE;
    default: return GL_REPEAT;
    }
}

GLenum primitiveMode(D3DPRIMITIVETYPE type)
{
    switch (type) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLELIST: return GL_TRIANGLES;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return GL_NONE;
    }
}

// Vertices (or indices) a primitive count takes; 0 for an unknown type.
UINT vertexCount(D3DPRIMITIVETYPE type, UINT primitives)
{
    switch (type) {
    case D3DPT_POINTLIST: return primitives;
    case D3DPT_LINELIST: return primitives * 2;
    case D3DPT_LINESTRIP: return primitives + 1;
    case D3DPT_TRIANGLELIST: return primitives * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return primitives + 2;
    default: return 0;
    }
}

constexpr GLenum kTextureMaxAnisotropy = 0x84FE;

} // namespace

// ---------------------------------------------------------------------------
// Targets

bool Device::prepareTargets()
{
    if (m_dirty & DirtyTargets) {
        m_dirty &= ~DirtyTargets;
        GLenum buffers[kRenderTargets];
        for (DWORD i = 0; i < kRenderTargets; ++i) {
            Surface* s = m_renderTargets[i];
            const GLenum attachment = GL_COLOR_ATTACHMENT0 + i;
            if (s && s->ensureGl()) {
                s->attachTo(m_drawFramebuffer, attachment);
                buffers[i] = attachment;
            } else {
                glNamedFramebufferTexture(m_drawFramebuffer, attachment, 0, 0);
                glNamedFramebufferRenderbuffer(m_drawFramebuffer, attachment, GL_RENDERBUFFER, 0);
                buffers[i] = GL_NONE;
            }
        }
        glNamedFramebufferDrawBuffers(m_drawFramebuffer, GLsizei(kRenderTargets), buffers);
        glNamedFramebufferRenderbuffer(m_drawFramebuffer, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
        if (m_depthStencil && m_depthStencil->ensureGl())
            m_depthStencil->attachTo(m_drawFramebuffer, m_depthStencil->format().stencil ? GL_DEPTH_STENCIL_ATTACHMENT
                                                                                         : GL_DEPTH_ATTACHMENT);
        const GLenum status = glCheckNamedFramebufferStatus(m_drawFramebuffer, GL_DRAW_FRAMEBUFFER);
        if (status != GL_FRAMEBUFFER_COMPLETE) {
            logLine("render targets cannot be drawn to together (framebuffer status 0x%04X)", unsigned(status));
            m_dirty |= DirtyTargets;
            return false;
        }
    }
    if (!m_gl.valid || m_gl.drawFramebuffer != m_drawFramebuffer) {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_drawFramebuffer);
        m_gl.drawFramebuffer = m_drawFramebuffer;
    }
    return true;
}

void Device::noteTargetsWritten()
{
    for (Surface* s : m_renderTargets) {
        if (s)
            s->noteGpuWritten();
    }
    if (m_depthStencil)
        m_depthStencil->noteGpuWritten();
}

STDMETHODIMP Device::Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z, DWORD Stencil)
{
    DeviceLock lock(this);
    logCall("Clear", {double(Count), double(Flags), double(Color), double(Z), double(Stencil)});
    if ((Count != 0) != (pRects != nullptr))
        return D3DERR_INVALIDCALL;
    if (Flags == 0 || (Flags & ~DWORD(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)))
        return D3DERR_INVALIDCALL;
    if ((Flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !m_depthStencil)
        return D3DERR_INVALIDCALL;
    if ((Flags & D3DCLEAR_STENCIL) && !m_depthStencil->format().stencil)
        return D3DERR_INVALIDCALL;
    if (!onDeviceThread() || !m_context->makeCurrent())
        return D3DERR_INVALIDCALL;
    if (!m_gl.valid)
        applyPipelineStates(); // bring the cache in line before changing masks
    if (!prepareTargets())
        return D3DERR_INVALIDCALL;

    // Everything is clipped to the viewport (and the scissor rectangle when
    // its test is on).
    const D3DVIEWPORT9& v = m_ff.viewport;
    RECT area{LONG(v.X), LONG(v.Y), LONG(v.X + v.Width), LONG(v.Y + v.Height)};
    if (m_ff.renderStates[D3DRS_SCISSORTESTENABLE]) {
        area.left = std::max(area.left, m_scissor.left);
        area.top = std::max(area.top, m_scissor.top);
        area.right = std::min(area.right, m_scissor.right);
        area.bottom = std::min(area.bottom, m_scissor.bottom);
    }

    // Clear writes whole pixels whatever the write masks say.
    if (Flags & D3DCLEAR_TARGET) {
        for (DWORD i = 0; i < kRenderTargets; ++i) {
            if (m_gl.colorMask[i] != 0xF) {
                glColorMaski(i, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
                m_gl.colorMask[i] = 0xF;
            }
        }
        m_dirty |= DirtyColorMask;
    }
    if ((Flags & D3DCLEAR_ZBUFFER) && !m_gl.depthWrite) {
        glDepthMask(GL_TRUE);
        m_gl.depthWrite = true;
        m_dirty |= DirtyDepth;
    }
    if ((Flags & D3DCLEAR_STENCIL) && m_gl.stencilWriteMask != 0xFFFFFFFFu) {
        glStencilMask(0xFFFFFFFFu);
        m_gl.stencilWriteMask = 0xFFFFFFFFu;
        m_dirty |= DirtyStencil;
    }
    if (!m_gl.scissor) {
        glEnable(GL_SCISSOR_TEST);
        m_gl.scissor = true;
    }
    m_dirty |= DirtyScissor;

    const float colour[4] = {float((Color >> 16) & 0xFF) / 255.0f, float((Color >> 8) & 0xFF) / 255.0f,
                             float(Color & 0xFF) / 255.0f, float(Color >> 24) / 255.0f};
    const float depth = std::clamp(Z, 0.0f, 1.0f);
    const GLint stencil = GLint(Stencil & 0xFF);
    const DWORD rectCount = Count ? Count : 1;
    for (DWORD i = 0; i < rectCount; ++i) {
        RECT r = area;
        if (pRects) {
            r.left = std::max<LONG>(r.left, pRects[i].x1);
            r.top = std::max<LONG>(r.top, pRects[i].y1);
            r.right = std::min<LONG>(r.right, pRects[i].x2);
            r.bottom = std::min<LONG>(r.bottom, pRects[i].y2);
        }
        if (r.right <= r.left || r.bottom <= r.top)
            continue;
        glScissor(r.left, r.top, r.right - r.left, r.bottom - r.top);
        m_gl.scissorRect[0] = r.left;
        m_gl.scissorRect[1] = r.top;
        m_gl.scissorRect[2] = r.right - r.left;
        m_gl.scissorRect[3] = r.bottom - r.top;
        if (Flags & D3DCLEAR_TARGET) {
            for (DWORD t = 0; t < kRenderTargets; ++t) {
                if (m_renderTargets[t])
                    glClearBufferfv(GL_COLOR, GLint(t), colour);
            }
        }
        if ((Flags & D3DCLEAR_ZBUFFER) && (Flags & D3DCLEAR_STENCIL))
            glClearBufferfi(GL_DEPTH_STENCIL, 0, depth, stencil);
        else if (Flags & D3DCLEAR_ZBUFFER)
            glClearBufferfv(GL_DEPTH, 0, &depth);
        else if (Flags & D3DCLEAR_STENCIL)
            glClearBufferiv(GL_STENCIL, 0, &stencil);
    }
    if (Flags & D3DCLEAR_TARGET) {
        for (Surface* s : m_renderTargets) {
            if (s)
                s->noteGpuWritten();
        }
    }
    if ((Flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && m_depthStencil)
        m_depthStencil->noteGpuWritten();
    return checkGlErrors("Clear") ? D3D_OK : D3DERR_INVALIDCALL;
}

// ---------------------------------------------------------------------------
// Pipeline state

void Device::setCapability(GLenum cap, bool& cached, bool want, bool all)
{
    if (all || cached != want) {
        want ? glEnable(cap) : glDisable(cap);
        cached = want;
        ++m_glStateChanges;
    }
}

// Depth test, function and writes.
void Device::applyDepthStates(bool all)
{
    const DWORD* rs = m_ff.renderStates;
    const bool test = rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    setCapability(GL_DEPTH_TEST, m_gl.depthTest, test, all);
    const GLenum func = compareFunc(rs[D3DRS_ZFUNC]);
    if (all || func != m_gl.depthFunc) {
        glDepthFunc(func);
        m_gl.depthFunc = func;
        ++m_glStateChanges;
    }
    const bool write = rs[D3DRS_ZWRITEENABLE] != FALSE;
    if (all || write != m_gl.depthWrite) {
        glDepthMask(write ? GL_TRUE : GL_FALSE);
        m_gl.depthWrite = write;
        ++m_glStateChanges;
    }
}

// Blending: factors, operations and the blend factor.
void Device::applyBlendStates(bool all)
{
    const DWORD* rs = m_ff.renderStates;
    const bool blend = rs[D3DRS_ALPHABLENDENABLE] != FALSE;
    setCapability(GL_BLEND, m_gl.blend, blend, all);
    if (blend) {
        GLenum src, dst, srcAlpha, dstAlpha;
        blendPair(rs[D3DRS_SRCBLEND], rs[D3DRS_DESTBLEND], src, dst);
        GLenum op = blendOp(rs[D3DRS_BLENDOP]), opAlpha = op;
        if (rs[D3DRS_SEPARATEALPHABLENDENABLE]) {
            blendPair(rs[D3DRS_SRCBLENDALPHA], rs[D3DRS_DESTBLENDALPHA], srcAlpha, dstAlpha);
            opAlpha = blendOp(rs[D3DRS_BLENDOPALPHA]);
        } else {
            srcAlpha = src;
            dstAlpha = dst;
        }
        if (all || src != m_gl.blendSrc || dst != m_gl.blendDst || srcAlpha != m_gl.blendSrcAlpha ||
            dstAlpha != m_gl.blendDstAlpha) {
            glBlendFuncSeparate(src, dst, srcAlpha, dstAlpha);
            m_gl.blendSrc = src;
            m_gl.blendDst = dst;
            m_gl.blendSrcAlpha = srcAlpha;
            m_gl.blendDstAlpha = dstAlpha;
            ++m_glStateChanges;
        }
        if (all || op != m_gl.blendOp || opAlpha != m_gl.blendOpAlpha) {
            glBlendEquationSeparate(op, opAlpha);
            m_gl.blendOp = op;
            m_gl.blendOpAlpha = opAlpha;
            ++m_glStateChanges;
        }
        const DWORD factor = rs[D3DRS_BLENDFACTOR];
        if (all || factor != m_gl.blendFactor) {
            glBlendColor(float((factor >> 16) & 0xFF) / 255.0f, float((factor >> 8) & 0xFF) / 255.0f,
                         float(factor & 0xFF) / 255.0f, float(factor >> 24) / 255.0f);
            m_gl.blendFactor = factor;
            ++m_glStateChanges;
        }
    }
}

// Stencil test, per-face functions and operations, write mask.
void Device::applyStencilStates(bool all)
{
    const DWORD* rs = m_ff.renderStates;
    const bool test = rs[D3DRS_STENCILENABLE] != FALSE;
    setCapability(GL_STENCIL_TEST, m_gl.stencilTest, test, all);
    if (test) {
        // Front faces are Direct3D's clockwise ones; the CCW states
        // apply to the others in two-sided mode.
        const bool twoSided = rs[D3DRS_TWOSIDEDSTENCILMODE] != FALSE;
        const GLenum funcs[2] = {compareFunc(rs[D3DRS_STENCILFUNC]),
                                 compareFunc(twoSided ? rs[D3DRS_CCW_STENCILFUNC] : rs[D3DRS_STENCILFUNC])};
        const GLint ref = GLint(rs[D3DRS_STENCILREF] & 0xFF);
        const GLuint mask = rs[D3DRS_STENCILMASK];
        if (all || funcs[0] != m_gl.stencilFunc[0] || funcs[1] != m_gl.stencilFunc[1] ||
            ref != m_gl.stencilRef || mask != m_gl.stencilMask) {
            glStencilFuncSeparate(GL_FRONT, funcs[0], ref, mask);
            glStencilFuncSeparate(GL_BACK, funcs[1], ref, mask);
            m_gl.stencilFunc[0] = funcs[0];
            m_gl.stencilFunc[1] = funcs[1];
            m_gl.stencilRef = ref;
            m_gl.stencilMask = mask;
            ++m_glStateChanges;
        }
        const DWORD front[3] = {rs[D3DRS_STENCILFAIL], rs[D3DRS_STENCILZFAIL], rs[D3DRS_STENCILPASS]};
        const DWORD back[3] = {rs[D3DRS_CCW_STENCILFAIL], rs[D3DRS_CCW_STENCILZFAIL], rs[D3DRS_CCW_STENCILPASS]};
        for (int face = 0; face < 2; ++face) {
            const DWORD* ops = face == 1 && twoSided ? back : front;
            const GLenum gl[3] = {stencilOp(ops[0]), stencilOp(ops[1]), stencilOp(ops[2])};
            if (all || std::memcmp(gl, m_gl.stencilOps[face], sizeof gl) != 0) {
                glStencilOpSeparate(face == 0 ? GL_FRONT : GL_BACK, gl[0], gl[1], gl[2]);
                std::memcpy(m_gl.stencilOps[face], gl, sizeof gl);
                ++m_glStateChanges;
            }
        }
    }
    const GLuint writeMask = rs[D3DRS_STENCILWRITEMASK];
    if (all || writeMask != m_gl.stencilWriteMask) {
        glStencilMask(writeMask);
        m_gl.stencilWriteMask = writeMask;
        ++m_glStateChanges;
    }
}

// Culling, fill mode and depth bias.
void Device::applyRasterStates(bool all)
{
    const DWORD* rs = m_ff.renderStates;
    const DWORD cull = rs[D3DRS_CULLMODE];
    setCapability(GL_CULL_FACE, m_gl.cull, cull == D3DCULL_CW || cull == D3DCULL_CCW, all);
    // glFrontFace(GL_CW) is fixed: CCW culls GL's back faces, CW its front.
    const GLenum face = cull == D3DCULL_CW ? GL_FRONT : GL_BACK;
    if (all || face != m_gl.cullFace) {
        glCullFace(face);
        m_gl.cullFace = face;
        ++m_glStateChanges;
    }
    const DWORD fill = rs[D3DRS_FILLMODE];
    const GLenum mode = fill == D3DFILL_POINT ? GL_POINT : fill == D3DFILL_WIREFRAME ? GL_LINE : GL_FILL;
    if (all || mode != m_gl.polygonMode) {
        glPolygonMode(GL_FRONT_AND_BACK, mode);
        m_gl.polygonMode = mode;
        ++m_glStateChanges;
    }
    // Direct3D's bias is in depth-buffer units of [0, 1]; GL's in steps
    // of the depth buffer's resolution.
    const float bias = bitsFloat(rs[D3DRS_DEPTHBIAS]);
    const float slope = bitsFloat(rs[D3DRS_SLOPESCALEDEPTHBIAS]);
    const bool offset = bias != 0.0f || slope != 0.0f;
    const bool wasOffset = m_gl.polygonOffset;
    bool cached = wasOffset;
    setCapability(GL_POLYGON_OFFSET_FILL, cached, offset, all);
    bool cachedLine = wasOffset, cachedPoint = wasOffset;
    setCapability(GL_POLYGON_OFFSET_LINE, cachedLine, offset, all);
    setCapability(GL_POLYGON_OFFSET_POINT, cachedPoint, offset, all);
    m_gl.polygonOffset = offset;
    if (offset) {
        const bool deep = !m_depthStencil || m_depthStencil->format().bytes >= 4;
        const float units = bias * (deep ? 16777215.0f : 65535.0f);
        if (all || units != m_gl.offsetUnits || slope != m_gl.offsetFactor) {
            glPolygonOffset(slope, units);
            m_gl.offsetUnits = units;
            m_gl.offsetFactor = slope;
            ++m_glStateChanges;
        }
    }
}

// Colour write masks of the render targets.
void Device::applyColorMasks(bool all)
{
    const DWORD* rs = m_ff.renderStates;
    const DWORD masks[kRenderTargets] = {rs[D3DRS_COLORWRITEENABLE], rs[D3DRS_COLORWRITEENABLE1],
                                         rs[D3DRS_COLORWRITEENABLE2], rs[D3DRS_COLORWRITEENABLE3]};
    for (DWORD i = 0; i < kRenderTargets; ++i) {
        const DWORD m = masks[i] & 0xF;
        if (all || m != m_gl.colorMask[i]) {
            glColorMaski(i, (m & 1) != 0, (m & 2) != 0, (m & 4) != 0, (m & 8) != 0);
            m_gl.colorMask[i] = m;
            ++m_glStateChanges;
        }
    }
}

// Scissor test and rectangle.
void Device::applyScissor(bool all)
{
    const DWORD* rs = m_ff.renderStates;
    const bool test = rs[D3DRS_SCISSORTESTENABLE] != FALSE;
    setCapability(GL_SCISSOR_TEST, m_gl.scissor, test, all);
    if (test) {
        const GLint r[4] = {m_scissor.left, m_scissor.top, std::max<GLint>(m_scissor.right - m_scissor.left, 0),
                            std::max<GLint>(m_scissor.bottom - m_scissor.top, 0)};
        if (all || std::memcmp(r, m_gl.scissorRect, sizeof r) != 0) {
            glScissor(r[0], r[1], r[2], r[3]);
            std::memcpy(m_gl.scissorRect, r, sizeof r);
            ++m_glStateChanges;
        }
    }
}

// Viewport rectangle and depth range.
void Device::applyViewport(bool all)
{
    const D3DVIEWPORT9& v = m_ff.viewport;
    const GLint r[4] = {GLint(v.X), GLint(v.Y), GLint(v.Width), GLint(v.Height)};
    if (all || std::memcmp(r, m_gl.viewport, sizeof r) != 0) {
        glViewport(r[0], r[1], r[2], r[3]);
        std::memcpy(m_gl.viewport, r, sizeof r);
        ++m_glStateChanges;
    }
    if (all || v.MinZ != m_gl.depthRange[0] || v.MaxZ != m_gl.depthRange[1]) {
        glDepthRangef(v.MinZ, v.MaxZ);
        m_gl.depthRange[0] = v.MinZ;
        m_gl.depthRange[1] = v.MaxZ;
        ++m_glStateChanges;
    }
}

// User clip planes enabled.
void Device::applyClipPlaneEnables(bool all)
{
    const DWORD* rs = m_ff.renderStates;
    const DWORD mask = rs[D3DRS_CLIPPLANEENABLE] & 0x3F;
    for (DWORD i = 0; i < kClipPlanes; ++i) {
        const bool want = (mask >> i) & 1, had = (m_gl.clipMask >> i) & 1;
        if (all || want != had) {
            want ? glEnable(GL_CLIP_DISTANCE0 + i) : glDisable(GL_CLIP_DISTANCE0 + i);
            ++m_glStateChanges;
        }
    }
    m_gl.clipMask = mask;
}

void Device::applyPipelineStates()
{
    const bool all = !m_gl.valid;
    if (all)
        m_dirty = DirtyAll;

    if (m_dirty & DirtyDepth)
        applyDepthStates(all);
    if (m_dirty & DirtyBlend)
        applyBlendStates(all);
    if (m_dirty & DirtyStencil)
        applyStencilStates(all);
    if (m_dirty & DirtyRaster)
        applyRasterStates(all);
    if (m_dirty & DirtyColorMask)
        applyColorMasks(all);
    if (m_dirty & DirtyScissor)
        applyScissor(all);
    if (m_dirty & DirtyViewport)
        applyViewport(all);
    if (m_dirty & DirtyClip)
        applyClipPlaneEnables(all);

    m_dirty &= ~unsigned(DirtyDepth | DirtyBlend | DirtyStencil | DirtyRaster | DirtyColorMask | DirtyScissor |
                         DirtyViewport | DirtyClip);
    if (all) {
        m_gl.valid = true;
        m_gl.program = 0;
        glUseProgram(0);
    }
}

bool Device::applySamplers()
{
    unsigned dirty = m_samplerDirty;
    m_samplerDirty = 0;
    while (dirty) {
        const int unit = __builtin_ctz(dirty);
        dirty &= dirty - 1;
        const DWORD* s = m_samplerStates[unit];
        const GLuint sampler = m_samplers[unit];
        glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, GLint(addressMode(s[D3DSAMP_ADDRESSU])));
        glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, GLint(addressMode(s[D3DSAMP_ADDRESSV])));
        glSamplerParameteri(sampler, GL_TEXTURE_WRAP_R, GLint(addressMode(s[D3DSAMP_ADDRESSW])));
        const DWORD magnify = s[D3DSAMP_MAGFILTER];
        glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER,
                            magnify == D3DTEXF_LINEAR || magnify == D3DTEXF_ANISOTROPIC ? GL_LINEAR : GL_NEAREST);
        glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GLint(minFilter(s[D3DSAMP_MINFILTER], s[D3DSAMP_MIPFILTER])));
        const bool anisotropic = s[D3DSAMP_MINFILTER] == D3DTEXF_ANISOTROPIC || magnify == D3DTEXF_ANISOTROPIC;
        const float anisotropy =
            anisotropic ? std::clamp(float(s[D3DSAMP_MAXANISOTROPY]), 1.0f, float(std::max<DWORD>(m_caps.MaxAnisotropy, 1)))
                        : 1.0f;
        glSamplerParameterf(sampler, kTextureMaxAnisotropy, anisotropy);
        const D3DCOLOR c = s[D3DSAMP_BORDERCOLOR];
        const float border[4] = {float((c >> 16) & 0xFF) / 255.0f, float((c >> 8) & 0xFF) / 255.0f,
                                 float(c & 0xFF) / 255.0f, float(c >> 24) / 255.0f};
        glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
        glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, bitsFloat(s[D3DSAMP_MIPMAPLODBIAS]));
        glSamplerParameterf(sampler, GL_TEXTURE_MIN_LOD, float(s[D3DSAMP_MAXMIPLEVEL]));
        ++m_glStateChanges;
    }
    return true;
}

bool Device::applyTextures()
{
    for (DWORD unit = 0; unit < kSamplers; ++unit) {
        TextureStorage* t = m_textures[unit];
        GLuint name = 0;
        if (t && t->prepareForDraw())
            name = t->existingGlTexture();
        if (name != m_boundTextures[unit]) {
            glBindTextureUnit(unit, name);
            m_boundTextures[unit] = name;
            ++m_glStateChanges;
        }
        if (unit < kTextureStages) {
            FixedTextureKind kind = FixedTextureKind::None;
            if (t && name) {
                kind = t->type() == D3DRTYPE_CUBETEXTURE     ? FixedTextureKind::Cube
                       : t->type() == D3DRTYPE_VOLUMETEXTURE ? FixedTextureKind::Volume
                                                             : FixedTextureKind::Texture2D;
            }
            m_ff.textureKind[unit] = kind;
        }
    }
    return true;
}

bool Device::applyVertexInput()
{
    VertexDeclaration* d = m_declaration;
    if (d != m_appliedDeclaration || (m_dirty & DirtyVertexInput)) {
        DWORD wanted = 0;
        for (const VertexAttribute& a : d->attributes()) {
            if (a.type == GL_UNSIGNED_BYTE && a.size == GL_BGRA)
                glVertexArrayAttribFormat(m_vertexArray, a.location, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, a.offset);
            else
                glVertexArrayAttribFormat(m_vertexArray, a.location, a.size, a.type, a.normalized, a.offset);
            glVertexArrayAttribBinding(m_vertexArray, a.location, a.stream);
            wanted |= 1u << a.location;
        }
        const DWORD change = wanted ^ m_enabledAttributes;
        for (GLuint location = 0; location < 16; ++location) {
            if (!((change >> location) & 1))
                continue;
            if ((wanted >> location) & 1)
                glEnableVertexArrayAttrib(m_vertexArray, location);
            else
                glDisableVertexArrayAttrib(m_vertexArray, location);
        }
        m_enabledAttributes = wanted;
        m_appliedDeclaration = d;
        m_ff.layout = d->layout();
        m_dirty &= ~unsigned(DirtyVertexInput);
        ++m_glStateChanges;
    }
    // Vertex buffers of the streams the declaration reads.
    DWORD streams = d->streamMask();
    while (streams) {
        const int s = __builtin_ctz(streams);
        streams &= streams - 1;
        GLuint buffer;
        GLintptr offset;
        GLsizei stride;
        if (s == 0 && m_upDraw) {
            buffer = m_upVertexBuffer;
            offset = m_upDrawOffset;
            stride = GLsizei(m_upDrawStride);
        } else {
            const Stream& stream = m_streams[s];
            if (!stream.buffer)
                return false;
            buffer = stream.buffer->prepareForDraw(m_frameNumber);
            offset = GLintptr(stream.offset);
            stride = GLsizei(stream.stride);
        }
        if (!buffer)
            return false;
        if (buffer != m_boundVertexBuffers[s] || offset != m_boundVertexOffsets[s] || stride != m_boundVertexStrides[s]) {
            glVertexArrayVertexBuffer(m_vertexArray, GLuint(s), buffer, offset, stride);
            m_boundVertexBuffers[s] = buffer;
            m_boundVertexOffsets[s] = offset;
            m_boundVertexStrides[s] = stride;
            ++m_glStateChanges;
        }
    }
    return true;
}

bool Device::applyProgram()
{
    VertexShader* vs = m_vertexShader;
    PixelShader* ps = m_pixelShader;
    if (vs && ps) {
        // D3DCMP_ALWAYS passes every pixel: no test to compile in. Nor any
        // fog while table fog is off: the rasteriser would work out every
        // mode's factor for each pixel only to leave the colour as it is.
        const DWORD* rs = m_ff.renderStates;
        const bool alphaTest = rs[D3DRS_ALPHATESTENABLE] != FALSE && rs[D3DRS_ALPHAFUNC] != D3DCMP_ALWAYS;
        ShaderProgram* p = programFor(vs, ps, m_ff.fillsTriangles, alphaTest, tableFogMode() != 0);
        if (!p)
            return false;
        if (p->program != m_gl.program) {
            glUseProgram(p->program);
            m_gl.program = p->program;
            ++m_glStateChanges;
        }
        uploadShaderConstants(*p);
        return true;
    }
    if ((vs || ps) && !m_loggedMixedShaders) {
        logLine("a %s shader without a %s shader is drawn with the fixed-function pipeline", vs ? "vertex" : "pixel",
                vs ? "pixel" : "vertex");
        m_loggedMixedShaders = true;
    }
    const GLuint program = m_fixedFunction->use(m_ff);
    m_gl.program = program; // use() bound it
    return program != 0;
}

bool Device::prepareDraw(D3DPRIMITIVETYPE type)
{
    m_ff.fillsTriangles = type >= D3DPT_TRIANGLELIST && m_ff.renderStates[D3DRS_FILLMODE] == D3DFILL_SOLID;
    if (!onDeviceThread() || !m_context->makeCurrent())
        return false;
    if (!m_declaration)
        return false;
    if (!m_gl.valid || (m_dirty & ~unsigned(DirtyTargets | DirtyVertexInput | DirtyStreams | DirtyTextures)))
        applyPipelineStates();
    if (!prepareTargets())
        return false;
    if (!applyVertexInput())
        return false;
    applyTextures();
    if (m_samplerDirty)
        applySamplers();
    return applyProgram();
}

// ---------------------------------------------------------------------------
// Draws

HRESULT Device::drawCommon(D3DPRIMITIVETYPE type, UINT count, bool indexed, INT baseVertex, UINT startVertex,
                           GLuint indexBuffer, UINT indexSize, GLintptr indexOffset)
{
    // Skipped draws still did their state, program and upload work above:
    // what remains measures everything but the rasterising.
    if (m_skipDraws)
        return D3D_OK;
    const GLenum mode = primitiveMode(type);
    if (indexed) {
        if (indexBuffer != m_boundIndexBuffer) {
            glVertexArrayElementBuffer(m_vertexArray, indexBuffer);
            m_boundIndexBuffer = indexBuffer;
        }
        glDrawElementsBaseVertex(mode, GLsizei(count), indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                                 reinterpret_cast<const void*>(indexOffset), GLint(baseVertex));
    } else {
        glDrawArrays(mode, GLint(startVertex), GLsizei(count));
    }
    noteTargetsWritten();
    return checkGlErrors("draw") ? D3D_OK : D3DERR_INVALIDCALL;
}

namespace {

// Bytes a vertex of a stream reaches to (the end of its furthest element).
UINT streamExtent(const VertexDeclaration& d, UINT stream)
{
    UINT extent = 0;
    for (const D3DVERTEXELEMENT9& e : d.elements()) {
        if (e.Stream != stream)
            continue;
        UINT bytes = 4;
        switch (e.Type) {
        case D3DDECLTYPE_FLOAT2:
        case D3DDECLTYPE_SHORT4:
        case D3DDECLTYPE_SHORT4N:
        case D3DDECLTYPE_USHORT4N:
        case D3DDECLTYPE_FLOAT16_4: bytes = 8; break;
        case D3DDECLTYPE_FLOAT3: bytes = 12; break;
        case D3DDECLTYPE_FLOAT4: bytes = 16; break;
        default: break;
        }
        extent = std::max<UINT>(extent, e.Offset + bytes);
    }
    return extent;
}

} // namespace

bool Device::streamsHoldVertex(unsigned long long lastVertex) const
{
    DWORD streams = m_declaration->streamMask();
    while (streams) {
        const int s = __builtin_ctz(streams);
        streams &= streams - 1;
        const Stream& st = m_streams[s];
        if (!st.buffer)
            return false;
        const unsigned long long end =
            (unsigned long long)st.offset + lastVertex * st.stride + streamExtent(*m_declaration, UINT(s));
        if (end > st.buffer->length())
            return false;
    }
    return true;
}

STDMETHODIMP Device::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount)
{
    DeviceLock lock(this);
    logCall("DrawPrimitive", {double(PrimitiveType), double(StartVertex), double(PrimitiveCount)});
    const UINT vertices = vertexCount(PrimitiveType, PrimitiveCount);
    if (vertices == 0 || PrimitiveCount > m_caps.MaxPrimitiveCount || !m_declaration)
        return PrimitiveCount == 0 && vertices == 0 && primitiveMode(PrimitiveType) != GL_NONE && m_declaration
                   ? D3D_OK
                   : D3DERR_INVALIDCALL;
    // Every stream must hold the vertices drawn.
    if (!streamsHoldVertex((unsigned long long)StartVertex + vertices - 1))
        return D3DERR_INVALIDCALL;
    if (!prepareDraw(PrimitiveType))
        return D3DERR_INVALIDCALL;
    return drawCommon(PrimitiveType, vertices, false, 0, StartVertex, 0, 0, 0);
}

STDMETHODIMP Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, INT BaseVertexIndex, UINT MinVertexIndex,
                                          UINT NumVertices, UINT startIndex, UINT primCount)
{
    DeviceLock lock(this);
    logCall("DrawIndexedPrimitive", {double(PrimitiveType), double(BaseVertexIndex), double(MinVertexIndex),
                                     double(NumVertices), double(startIndex), double(primCount)});
    const UINT indices = vertexCount(PrimitiveType, primCount);
    if (indices == 0 || primCount > m_caps.MaxPrimitiveCount || !m_declaration || !m_indices || NumVertices == 0)
        return primCount == 0 && primitiveMode(PrimitiveType) != GL_NONE && m_declaration && m_indices
                   ? D3D_OK
                   : D3DERR_INVALIDCALL;
    const UINT indexSize = m_indices->indexSize();
    if ((unsigned long long)(startIndex) + indices > m_indices->length() / indexSize)
        return D3DERR_INVALIDCALL;
    // The vertex range the indices may reach must lie in every stream.
    const long long first = (long long)BaseVertexIndex + MinVertexIndex;
    if (first < 0)
        return D3DERR_INVALIDCALL;
    if (!streamsHoldVertex((unsigned long long)(first + NumVertices - 1)))
        return D3DERR_INVALIDCALL;
    if (!prepareDraw(PrimitiveType))
        return D3DERR_INVALIDCALL;
    const GLuint indexBuffer = m_indices->prepareForDraw(m_frameNumber);
    if (!indexBuffer)
        return D3DERR_INVALIDCALL;
    return drawCommon(PrimitiveType, indices, true, BaseVertexIndex, 0, indexBuffer, indexSize,
                      GLintptr(startIndex) * indexSize);
}

namespace {

// Appends data to a streaming buffer, starting over in fresh storage when
// it is full; returns the offset of the data.
GLintptr streamData(GLuint& buffer, GLsizeiptr& capacity, GLintptr& used, const void* data, GLsizeiptr size)
{
    const GLsizeiptr aligned = (size + 255) & ~GLsizeiptr(255);
    if (!buffer || aligned > capacity - used) {
        // Fresh storage under the same name (vertex-array bindings stay).
        if (!buffer)
            glCreateBuffers(1, &buffer);
        if (aligned > capacity)
            capacity = std::max<GLsizeiptr>(aligned * 4, 1 << 20);
        glNamedBufferData(buffer, capacity, nullptr, GL_STREAM_DRAW);
        used = 0;
    }
    const GLintptr at = used;
    glNamedBufferSubData(buffer, at, size, data);
    used += aligned;
    return at;
}

} // namespace

STDMETHODIMP Device::DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                                     const void* pVertexStreamZeroData, UINT VertexStreamZeroStride)
{
    DeviceLock lock(this);
    const UINT vertices = vertexCount(PrimitiveType, PrimitiveCount);
    logCall("DrawPrimitiveUP", {double(PrimitiveType), double(PrimitiveCount), double(VertexStreamZeroStride)},
            pVertexStreamZeroData, size_t(vertices) * VertexStreamZeroStride);
    if (!pVertexStreamZeroData || VertexStreamZeroStride == 0 || vertices == 0 ||
        PrimitiveCount > m_caps.MaxPrimitiveCount || !m_declaration || (m_declaration->streamMask() & ~1u))
        return D3DERR_INVALIDCALL;
    if (!onDeviceThread() || !m_context->makeCurrent())
        return D3DERR_INVALIDCALL;
    const GLsizeiptr bytes = GLsizeiptr(vertices) * VertexStreamZeroStride;
    m_upDrawOffset = streamData(m_upVertexBuffer, m_upVertexSize, m_upVertexOffset, pVertexStreamZeroData, bytes);
    m_upDrawStride = VertexStreamZeroStride;
    m_upDraw = true;
    const HRESULT hr =
        prepareDraw(PrimitiveType) ? drawCommon(PrimitiveType, vertices, false, 0, 0, 0, 0, 0) : D3DERR_INVALIDCALL;
    m_upDraw = false;
    finishUpDraw();
    return hr;
}

STDMETHODIMP Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT MinVertexIndex, UINT NumVertices,
                                            UINT PrimitiveCount, const void* pIndexData, D3DFORMAT IndexDataFormat,
                                            const void* pVertexStreamZeroData, UINT VertexStreamZeroStride)
{
    DeviceLock lock(this);
    const UINT indices = vertexCount(PrimitiveType, PrimitiveCount);
    logCall("DrawIndexedPrimitiveUP",
            {double(PrimitiveType), double(MinVertexIndex), double(NumVertices), double(PrimitiveCount),
             double(IndexDataFormat), double(VertexStreamZeroStride)},
            pVertexStreamZeroData, (size_t(MinVertexIndex) + NumVertices) * VertexStreamZeroStride, pIndexData, size_t(indices) * (IndexDataFormat == D3DFMT_INDEX32 ? 4 : 2));
    if (!pIndexData || !pVertexStreamZeroData || VertexStreamZeroStride == 0 || indices == 0 || NumVertices == 0 ||
        PrimitiveCount > m_caps.MaxPrimitiveCount || !m_declaration || (m_declaration->streamMask() & ~1u) ||
        (IndexDataFormat != D3DFMT_INDEX16 && IndexDataFormat != D3DFMT_INDEX32))
        return D3DERR_INVALIDCALL;
    if (!onDeviceThread() || !m_context->makeCurrent())
        return D3DERR_INVALIDCALL;
    // The vertices the indices may reach: 0 .. MinVertexIndex + NumVertices - 1,
    // summed in 64 bits and within the indices the device offers.
    const unsigned long long vertexEnd = (unsigned long long)MinVertexIndex + NumVertices;
    if (vertexEnd - 1 > m_caps.MaxVertexIndex)
        return D3DERR_INVALIDCALL;
    const UINT indexSize = IndexDataFormat == D3DFMT_INDEX32 ? 4 : 2;
    const GLsizeiptr vertexBytes = GLsizeiptr(vertexEnd) * VertexStreamZeroStride;
    m_upDrawOffset =
        streamData(m_upVertexBuffer, m_upVertexSize, m_upVertexOffset, pVertexStreamZeroData, vertexBytes);
    const GLintptr indexOffset =
        streamData(m_upIndexBuffer, m_upIndexSize, m_upIndexOffset, pIndexData, GLsizeiptr(indices) * indexSize);
    m_upDrawStride = VertexStreamZeroStride;
    m_upDraw = true;
    const HRESULT hr = prepareDraw(PrimitiveType)
                           ? drawCommon(PrimitiveType, indices, true, 0, 0, m_upIndexBuffer, indexSize, indexOffset)
                           : D3DERR_INVALIDCALL;
    m_upDraw = false;
    finishUpDraw();
    return hr;
}

void Device::finishUpDraw()
{
    // As Direct3D does: stream 0 and the indices are unset after a UP draw.
    if (m_streams[0].buffer)
        m_streams[0].buffer->Release();
    m_streams[0] = Stream{};
    if (m_indices)
        m_indices->Release();
    m_indices = nullptr;
}

STDMETHODIMP Device::ProcessVertices(UINT, UINT, UINT, IDirect3DVertexBuffer9*, IDirect3DVertexDeclaration9*, DWORD)
{
    logLine("ProcessVertices is not offered");
    return D3DERR_INVALIDCALL;
}

STDMETHODIMP Device::DrawRectPatch(UINT, const float*, const D3DRECTPATCH_INFO*)
{
    return D3DERR_INVALIDCALL; // no patch support (caps say so)
}

STDMETHODIMP Device::DrawTriPatch(UINT, const float*, const D3DTRIPATCH_INFO*)
{
    return D3DERR_INVALIDCALL;
}

STDMETHODIMP Device::DeletePatch(UINT)
{
    return D3DERR_INVALIDCALL;
}

} // namespace platform::d3d9
