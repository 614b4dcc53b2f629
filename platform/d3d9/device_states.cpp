// State setters and getters of the device: they check, store and mark what
// the next draw must send to GL; none of them calls GL.
#include "platform/d3d9/device.h"

#include <cmath>
#include <cstring>

namespace platform::d3d9 {

namespace {

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a.m[i][k] * b.m[k][j];
            r.m[i][j] = sum;
        }
    }
    return r;
}

// The light LightEnable makes for an index that was never set: white,
// directional, pointing down +z.
D3DLIGHT9 defaultLight()
{
    D3DLIGHT9 l{};
    l.Type = D3DLIGHT_DIRECTIONAL;
    l.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
    l.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
    return l;
}

bool validLight(const D3DLIGHT9& l)
{
    if (l.Type != D3DLIGHT_POINT && l.Type != D3DLIGHT_SPOT && l.Type != D3DLIGHT_DIRECTIONAL)
        return false;
    if (l.Type == D3DLIGHT_DIRECTIONAL)
        return true;
    if (!(l.Range >= 0.0f) || l.Attenuation0 < 0.0f || l.Attenuation1 < 0.0f || l.Attenuation2 < 0.0f)
        return false;
    // Direct3D refuses cones with Theta beyond Phi or Phi beyond pi.
    if (l.Type == D3DLIGHT_SPOT && !(l.Theta >= 0.0f && l.Theta <= l.Phi && l.Phi <= float(M_PI)))
        return false;
    return true;
}

} // namespace

void Device::markRenderStateDirty(DWORD state)
{
    switch (state) {
    case D3DRS_ZENABLE:
    case D3DRS_ZWRITEENABLE:
    case D3DRS_ZFUNC:
        m_dirty |= DirtyDepth;
        break;
    case D3DRS_ALPHABLENDENABLE:
    case D3DRS_SRCBLEND:
    case D3DRS_DESTBLEND:
    case D3DRS_BLENDOP:
    case D3DRS_SEPARATEALPHABLENDENABLE:
    case D3DRS_SRCBLENDALPHA:
    case D3DRS_DESTBLENDALPHA:
    case D3DRS_BLENDOPALPHA:
    case D3DRS_BLENDFACTOR:
        m_dirty |= DirtyBlend;
        break;
    case D3DRS_STENCILENABLE:
    case D3DRS_STENCILFAIL:
    case D3DRS_STENCILZFAIL:
    case D3DRS_STENCILPASS:
    case D3DRS_STENCILFUNC:
    case D3DRS_STENCILREF:
    case D3DRS_STENCILMASK:
    case D3DRS_STENCILWRITEMASK:
    case D3DRS_TWOSIDEDSTENCILMODE:
    case D3DRS_CCW_STENCILFAIL:
    case D3DRS_CCW_STENCILZFAIL:
    case D3DRS_CCW_STENCILPASS:
    case D3DRS_CCW_STENCILFUNC:
        m_dirty |= DirtyStencil;
        break;
    case D3DRS_CULLMODE:
    case D3DRS_FILLMODE:
    case D3DRS_DEPTHBIAS:
    case D3DRS_SLOPESCALEDEPTHBIAS:
        m_dirty |= DirtyRaster;
        break;
    case D3DRS_COLORWRITEENABLE:
    case D3DRS_COLORWRITEENABLE1:
    case D3DRS_COLORWRITEENABLE2:
    case D3DRS_COLORWRITEENABLE3:
        m_dirty |= DirtyColorMask;
        break;
    case D3DRS_SCISSORTESTENABLE:
        m_dirty |= DirtyScissor;
        break;
    case D3DRS_CLIPPLANEENABLE:
        m_dirty |= DirtyClip;
        break;
    default:
        break; // read by the fixed-function pipeline from the table itself
    }
}

STDMETHODIMP Device::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value)
{
    DeviceLock lock(this);
    logCall("SetRenderState", {double(State), double(Value)});
    if (!isRenderState(DWORD(State)))
        return D3DERR_INVALIDCALL;
    DWORD& slot = m_ff.renderStates[State];
    if (slot != Value) {
        slot = Value;
        markRenderStateDirty(DWORD(State));
    }
    return D3D_OK;
}

STDMETHODIMP Device::GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue)
{
    DeviceLock lock(this);
    if (!pValue || !isRenderState(DWORD(State)))
        return D3DERR_INVALIDCALL;
    *pValue = m_ff.renderStates[State];
    return D3D_OK;
}

STDMETHODIMP Device::SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value)
{
    DeviceLock lock(this);
    logCall("SetTextureStageState", {double(Stage), double(Type), double(Value)});
    if (Stage >= kTextureStages || !isStageState(DWORD(Type)))
        return D3DERR_INVALIDCALL;
    m_ff.stageStates[Stage][Type] = Value;
    return D3D_OK;
}

STDMETHODIMP Device::GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue)
{
    DeviceLock lock(this);
    if (!pValue || Stage >= kTextureStages || !isStageState(DWORD(Type)))
        return D3DERR_INVALIDCALL;
    *pValue = m_ff.stageStates[Stage][Type];
    return D3D_OK;
}

STDMETHODIMP Device::SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value)
{
    DeviceLock lock(this);
    logCall("SetSamplerState", {double(Sampler), double(Type), double(Value)});
    if (Sampler >= kSamplers || !isSamplerState(DWORD(Type)))
        return D3DERR_INVALIDCALL;
    DWORD& slot = m_samplerStates[Sampler][Type];
    if (slot != Value) {
        slot = Value;
        m_samplerDirty |= 1u << Sampler;
    }
    return D3D_OK;
}

STDMETHODIMP Device::GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue)
{
    DeviceLock lock(this);
    if (!pValue || Sampler >= kSamplers || !isSamplerState(DWORD(Type)))
        return D3DERR_INVALIDCALL;
    *pValue = m_samplerStates[Sampler][Type];
    return D3D_OK;
}

namespace {

D3DMATRIX* transformSlot(FixedFunctionState& ff, D3DMATRIX (&world)[256], D3DTRANSFORMSTATETYPE state)
{
    const DWORD s = DWORD(state);
    if (s == D3DTS_VIEW)
        return &ff.view;
    if (s == D3DTS_PROJECTION)
        return &ff.projection;
    if (s >= D3DTS_TEXTURE0 && s <= D3DTS_TEXTURE7)
        return &ff.texture[s - D3DTS_TEXTURE0];
    if (s >= 256 && s < 512)
        return &world[s - 256];
    return nullptr;
}

} // namespace

STDMETHODIMP Device::SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix)
{
    DeviceLock lock(this);
    logCall("SetTransform", {double(State)}, pMatrix, pMatrix ? sizeof(D3DMATRIX) : 0);
    D3DMATRIX* slot = transformSlot(m_ff, m_worldMatrices, State);
    if (!slot || !pMatrix)
        return D3DERR_INVALIDCALL;
    *slot = *pMatrix;
    if (slot == &m_worldMatrices[0])
        m_ff.world = *pMatrix;
    return D3D_OK;
}

STDMETHODIMP Device::GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix)
{
    DeviceLock lock(this);
    D3DMATRIX* slot = transformSlot(m_ff, m_worldMatrices, State);
    if (!slot || !pMatrix)
        return D3DERR_INVALIDCALL;
    *pMatrix = *slot;
    return D3D_OK;
}

STDMETHODIMP Device::MultiplyTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix)
{
    DeviceLock lock(this);
    D3DMATRIX* slot = transformSlot(m_ff, m_worldMatrices, State);
    if (!slot || !pMatrix)
        return D3DERR_INVALIDCALL;
    *slot = multiply(*pMatrix, *slot);
    if (slot == &m_worldMatrices[0])
        m_ff.world = *slot;
    return D3D_OK;
}

STDMETHODIMP Device::SetViewport(const D3DVIEWPORT9* pViewport)
{
    DeviceLock lock(this);
    logCall("SetViewport", {}, pViewport, pViewport ? sizeof(D3DVIEWPORT9) : 0);
    if (!pViewport || !m_renderTargets[0])
        return D3DERR_INVALIDCALL;
    const D3DSURFACE_DESC& target = m_renderTargets[0]->desc();
    const D3DVIEWPORT9& v = *pViewport;
    // A viewport must lie inside the render target.
    if (v.X > target.Width || v.Y > target.Height || v.Width > target.Width - v.X ||
        v.Height > target.Height - v.Y || !std::isfinite(v.MinZ) || !std::isfinite(v.MaxZ))
        return D3DERR_INVALIDCALL;
    m_ff.viewport = v;
    m_dirty |= DirtyViewport;
    return D3D_OK;
}

STDMETHODIMP Device::GetViewport(D3DVIEWPORT9* pViewport)
{
    DeviceLock lock(this);
    if (!pViewport)
        return D3DERR_INVALIDCALL;
    *pViewport = m_ff.viewport;
    return D3D_OK;
}

STDMETHODIMP Device::SetMaterial(const D3DMATERIAL9* pMaterial)
{
    DeviceLock lock(this);
    logCall("SetMaterial", {}, pMaterial, pMaterial ? sizeof(D3DMATERIAL9) : 0);
    if (!pMaterial)
        return D3DERR_INVALIDCALL;
    m_ff.material = *pMaterial;
    return D3D_OK;
}

STDMETHODIMP Device::GetMaterial(D3DMATERIAL9* pMaterial)
{
    DeviceLock lock(this);
    if (!pMaterial)
        return D3DERR_INVALIDCALL;
    *pMaterial = m_ff.material;
    return D3D_OK;
}

void Device::updateLightSlots()
{
    // The first eight enabled lights, in index order.
    int slot = 0;
    for (auto index = m_enabledLights.begin(); index != m_enabledLights.end() && slot < int(kActiveLights);
         ++index, ++slot) {
        m_ff.lights[slot] = m_lights.at(*index).light;
        m_ff.lightEnabled[slot] = true;
    }
    for (; slot < int(kActiveLights); ++slot) {
        m_ff.lights[slot] = D3DLIGHT9{};
        m_ff.lightEnabled[slot] = false;
    }
}

STDMETHODIMP Device::SetLight(DWORD Index, const D3DLIGHT9* pLight)
{
    DeviceLock lock(this);
    logCall("SetLight", {double(Index)}, pLight, pLight ? sizeof(D3DLIGHT9) : 0);
    if (!pLight || !validLight(*pLight))
        return D3DERR_INVALIDCALL;
    const auto [it, added] = m_lights.try_emplace(Index, LightRecord{*pLight, false});
    if (!added)
        it->second.light = *pLight;
    if (it->second.enabled)
        updateLightSlots();
    return D3D_OK;
}

STDMETHODIMP Device::GetLight(DWORD Index, D3DLIGHT9* pLight)
{
    DeviceLock lock(this);
    auto it = m_lights.find(Index);
    if (!pLight || it == m_lights.end())
        return D3DERR_INVALIDCALL;
    *pLight = it->second.light;
    return D3D_OK;
}

STDMETHODIMP Device::LightEnable(DWORD Index, BOOL Enable)
{
    DeviceLock lock(this);
    logCall("LightEnable", {double(Index), double(Enable)});
    auto it = m_lights.try_emplace(Index, LightRecord{defaultLight(), false}).first;
    it->second.enabled = Enable != FALSE;
    if (it->second.enabled)
        m_enabledLights.insert(Index);
    else if (m_enabledLights.erase(Index) == 0)
        return D3D_OK; // was off: the slots stand
    updateLightSlots();
    return D3D_OK;
}

STDMETHODIMP Device::GetLightEnable(DWORD Index, BOOL* pEnable)
{
    DeviceLock lock(this);
    auto it = m_lights.find(Index);
    if (!pEnable || it == m_lights.end())
        return D3DERR_INVALIDCALL;
    *pEnable = it->second.enabled ? TRUE : FALSE;
    return D3D_OK;
}

STDMETHODIMP Device::SetClipPlane(DWORD Index, const float* pPlane)
{
    DeviceLock lock(this);
    logCall("SetClipPlane", {double(Index)}, pPlane, pPlane ? 4 * sizeof(float) : 0);
    if (!pPlane || Index >= kClipPlanes)
        return D3DERR_INVALIDCALL;
    // World space for the fixed-function pipeline, clip space for shaders:
    // the same four numbers, read by each path in its own space.
    std::memcpy(m_clipPlanes[Index], pPlane, sizeof(float) * 4);
    std::memcpy(m_ff.clipPlanes[Index], pPlane, sizeof(float) * 4);
    return D3D_OK;
}

STDMETHODIMP Device::GetClipPlane(DWORD Index, float* pPlane)
{
    DeviceLock lock(this);
    if (!pPlane || Index >= kClipPlanes)
        return D3DERR_INVALIDCALL;
    std::memcpy(pPlane, m_clipPlanes[Index], sizeof(float) * 4);
    return D3D_OK;
}

STDMETHODIMP Device::SetClipStatus(const D3DCLIPSTATUS9* pClipStatus)
{
    return pClipStatus ? D3D_OK : D3DERR_INVALIDCALL;
}

STDMETHODIMP Device::GetClipStatus(D3DCLIPSTATUS9* pClipStatus)
{
    if (!pClipStatus)
        return D3DERR_INVALIDCALL;
    *pClipStatus = D3DCLIPSTATUS9{0, 0};
    return D3D_OK;
}

STDMETHODIMP Device::SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture)
{
    DeviceLock lock(this);
    logCall("SetTexture", {double(Stage), ptrArg(pTexture)});
    // Displacement and vertex-texture samplers are not offered.
    if (Stage >= kSamplers)
        return D3DERR_INVALIDCALL;
    TextureStorage* t = asTextureStorage(pTexture);
    if (pTexture && !t)
        return D3DERR_INVALIDCALL;
    if (t == m_textures[Stage])
        return D3D_OK;
    if (t)
        t->baseInterface()->AddRef();
    if (m_textures[Stage])
        m_textures[Stage]->baseInterface()->Release();
    m_textures[Stage] = t;
    m_dirty |= DirtyTextures;
    return D3D_OK;
}

STDMETHODIMP Device::GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture)
{
    DeviceLock lock(this);
    if (!ppTexture || Stage >= kSamplers)
        return D3DERR_INVALIDCALL;
    *ppTexture = m_textures[Stage] ? m_textures[Stage]->baseInterface() : nullptr;
    if (*ppTexture)
        (*ppTexture)->AddRef();
    return D3D_OK;
}

STDMETHODIMP Device::ValidateDevice(DWORD* pNumPasses)
{
    if (!pNumPasses)
        return D3DERR_INVALIDCALL;
    *pNumPasses = 1;
    return D3D_OK;
}

// Palettised formats are not offered, so there is nothing to keep.
STDMETHODIMP Device::SetPaletteEntries(UINT, const PALETTEENTRY* pEntries)
{
    return pEntries ? D3D_OK : D3DERR_INVALIDCALL;
}

STDMETHODIMP Device::GetPaletteEntries(UINT, PALETTEENTRY*)
{
    return D3DERR_INVALIDCALL;
}

STDMETHODIMP Device::SetCurrentTexturePalette(UINT)
{
    return D3D_OK;
}

STDMETHODIMP Device::GetCurrentTexturePalette(UINT* PaletteNumber)
{
    if (!PaletteNumber)
        return D3DERR_INVALIDCALL;
    *PaletteNumber = 0xFFFF;
    return D3D_OK;
}

STDMETHODIMP Device::SetScissorRect(const RECT* pRect)
{
    DeviceLock lock(this);
    logCall("SetScissorRect", {}, pRect, pRect ? sizeof(RECT) : 0);
    if (!pRect || pRect->left > pRect->right || pRect->top > pRect->bottom)
        return D3DERR_INVALIDCALL;
    m_scissor = *pRect;
    m_dirty |= DirtyScissor;
    return D3D_OK;
}

STDMETHODIMP Device::GetScissorRect(RECT* pRect)
{
    DeviceLock lock(this);
    if (!pRect)
        return D3DERR_INVALIDCALL;
    *pRect = m_scissor;
    return D3D_OK;
}

STDMETHODIMP Device::SetSoftwareVertexProcessing(BOOL bSoftware)
{
    DeviceLock lock(this);
    logCall("SetSoftwareVertexProcessing", {double(bSoftware)});
    // Only a mixed device can switch; the switch changes nothing else here.
    if (!(m_behaviour & D3DCREATE_MIXED_VERTEXPROCESSING))
        return D3DERR_INVALIDCALL;
    m_softwareVertexProcessing = bSoftware ? TRUE : FALSE;
    return D3D_OK;
}

STDMETHODIMP_(BOOL) Device::GetSoftwareVertexProcessing()
{
    DeviceLock lock(this);
    return m_softwareVertexProcessing;
}

STDMETHODIMP Device::SetNPatchMode(float nSegments)
{
    if (!(nSegments >= 0.0f))
        return D3DERR_INVALIDCALL;
    m_nPatchSegments = nSegments;
    return D3D_OK;
}

STDMETHODIMP_(float) Device::GetNPatchMode()
{
    return m_nPatchSegments;
}

STDMETHODIMP Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl)
{
    DeviceLock lock(this);
    logCall("SetVertexDeclaration", {ptrArg(pDecl)});
    VertexDeclaration* d = asVertexDeclaration(pDecl);
    if (pDecl && !d)
        return D3DERR_INVALIDCALL;
    holdRef(m_declaration, d);
    m_fvf = d ? d->fvf() : 0;
    m_dirty |= DirtyVertexInput;
    return D3D_OK;
}

STDMETHODIMP Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** ppDecl)
{
    DeviceLock lock(this);
    if (!ppDecl)
        return D3DERR_INVALIDCALL;
    shareRef(ppDecl, m_declaration);
    return D3D_OK;
}

VertexDeclaration* Device::fvfDeclaration(DWORD fvf)
{
    auto it = m_fvfDeclarations.find(fvf);
    if (it != m_fvfDeclarations.end())
        return it->second;
    std::vector<D3DVERTEXELEMENT9> elements;
    if (!decodeFvf(fvf, elements))
        return nullptr;
    auto* d = new VertexDeclaration(this, std::move(elements), fvf);
    m_fvfDeclarations.emplace(fvf, d);
    return d;
}

STDMETHODIMP Device::SetFVF(DWORD FVF)
{
    DeviceLock lock(this);
    logCall("SetFVF", {double(FVF)});
    if (FVF == 0) {
        // Direct3D ignores a zero code; the declaration in force stays.
        return D3D_OK;
    }
    VertexDeclaration* d = fvfDeclaration(FVF);
    if (!d)
        return D3DERR_INVALIDCALL;
    if (d != m_declaration) {
        holdRef(m_declaration, d);
        m_dirty |= DirtyVertexInput;
    }
    m_fvf = FVF;
    return D3D_OK;
}

STDMETHODIMP Device::GetFVF(DWORD* pFVF)
{
    DeviceLock lock(this);
    if (!pFVF)
        return D3DERR_INVALIDCALL;
    *pFVF = m_fvf;
    return D3D_OK;
}

STDMETHODIMP Device::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                                     UINT Stride)
{
    DeviceLock lock(this);
    logCall("SetStreamSource",
            {double(StreamNumber), ptrArg(pStreamData), double(OffsetInBytes), double(Stride)});
    VertexBuffer* vb = asVertexBuffer(pStreamData);
    if (StreamNumber >= kStreams || (pStreamData && !vb) || (OffsetInBytes & 3) || Stride > 255 * 4)
        return D3DERR_INVALIDCALL;
    Stream& s = m_streams[StreamNumber];
    if (vb != s.buffer)
        holdRef(s.buffer, vb);
    s.offset = OffsetInBytes;
    s.stride = Stride;
    m_dirty |= DirtyStreams;
    return D3D_OK;
}

STDMETHODIMP Device::GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* pOffsetInBytes,
                                     UINT* pStride)
{
    DeviceLock lock(this);
    if (StreamNumber >= kStreams || !ppStreamData || !pOffsetInBytes || !pStride)
        return D3DERR_INVALIDCALL;
    const Stream& s = m_streams[StreamNumber];
    shareRef(ppStreamData, s.buffer);
    *pOffsetInBytes = s.offset;
    *pStride = s.stride;
    return D3D_OK;
}

STDMETHODIMP Device::SetStreamSourceFreq(UINT StreamNumber, UINT Setting)
{
    DeviceLock lock(this);
    if (StreamNumber >= kStreams || Setting == 0)
        return D3DERR_INVALIDCALL;
    m_streams[StreamNumber].frequency = Setting;
    return D3D_OK;
}

STDMETHODIMP Device::GetStreamSourceFreq(UINT StreamNumber, UINT* pSetting)
{
    DeviceLock lock(this);
    if (StreamNumber >= kStreams || !pSetting)
        return D3DERR_INVALIDCALL;
    *pSetting = m_streams[StreamNumber].frequency;
    return D3D_OK;
}

STDMETHODIMP Device::SetIndices(IDirect3DIndexBuffer9* pIndexData)
{
    DeviceLock lock(this);
    logCall("SetIndices", {ptrArg(pIndexData)});
    IndexBuffer* ib = asIndexBuffer(pIndexData);
    if (pIndexData && !ib)
        return D3DERR_INVALIDCALL;
    if (ib != m_indices)
        holdRef(m_indices, ib);
    return D3D_OK;
}

STDMETHODIMP Device::GetIndices(IDirect3DIndexBuffer9** ppIndexData)
{
    DeviceLock lock(this);
    if (!ppIndexData)
        return D3DERR_INVALIDCALL;
    shareRef(ppIndexData, m_indices);
    return D3D_OK;
}

} // namespace platform::d3d9
