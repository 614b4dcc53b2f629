// IDirect3DDevice9 on OpenGL 4.5 core. The device keeps Direct3D's state
// tables (render, stage and sampler states, transforms, lights, material,
// clip planes, bindings) and turns them into GL state lazily at each draw,
// through a cache of what its context already has, so that unchanged states
// cost no GL calls.
//
// Files: device.cpp (creation, lifetime, frame, present, reset, loss),
// device_states.cpp (state setters and getters), device_resources.cpp
// (resource creation, targets, copies), device_draw.cpp (draws and the GL
// state they need), shader_objects.cpp (shaders and their programs).
#pragma once

#include "platform/d3d9/buffers.h"
#include "platform/d3d9/device_test_api.h"
#include "platform/d3d9/fixed_function.h"
#include "platform/d3d9/gl_context.h"
#include "platform/d3d9/shader_objects.h"
#include "platform/d3d9/state_defaults.h"
#include "platform/d3d9/surface.h"
#include "platform/d3d9/texture.h"
#include "platform/d3d9/vertex_declaration.h"

#include <atomic>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {
class Direct3D9;
struct AdapterProfile;
} // namespace platform

namespace platform::d3d9 {

class Device;

// Serialises a device's methods when it was made with
// D3DCREATE_MULTITHREADED; free otherwise.
class DeviceLock {
public:
    explicit DeviceLock(Device* device);
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

private:
    std::recursive_mutex* m_mutex;
};

// What the GL context of a device currently has, so that a draw changes
// only what differs.
struct GlStateCache {
    bool valid = false; // false: every group is set on the next use
    bool depthTest = false;
    GLenum depthFunc = GL_LESS;
    bool depthWrite = true;
    bool blend = false;
    GLenum blendSrc = GL_ONE, blendDst = GL_ZERO, blendSrcAlpha = GL_ONE, blendDstAlpha = GL_ZERO;
    GLenum blendOp = GL_FUNC_ADD, blendOpAlpha = GL_FUNC_ADD;
    DWORD blendFactor = 0;
    bool stencilTest = false;
    GLenum stencilFunc[2] = {GL_ALWAYS, GL_ALWAYS};
    GLint stencilRef = 0;
    GLuint stencilMask = ~0u;
    GLenum stencilOps[2][3] = {{GL_KEEP, GL_KEEP, GL_KEEP}, {GL_KEEP, GL_KEEP, GL_KEEP}};
    GLuint stencilWriteMask = ~0u;
    DWORD colorMask[4] = {0xF, 0xF, 0xF, 0xF};
    bool cull = false;
    GLenum cullFace = GL_BACK;
    GLenum polygonMode = GL_FILL;
    bool scissor = false;
    GLint scissorRect[4] = {0, 0, 0, 0};
    GLint viewport[4] = {0, 0, 0, 0};
    float depthRange[2] = {0.0f, 1.0f};
    bool polygonOffset = false;
    float offsetFactor = 0.0f, offsetUnits = 0.0f;
    DWORD clipMask = 0;
    GLuint program = 0;
    GLuint drawFramebuffer = 0;
};

class Device final : public IDirect3DDevice9 {
public:
    // IDirect3D9::CreateDevice: validates the present parameters, makes
    // the context, the back buffer and the automatic depth-stencil surface.
    static HRESULT create(Direct3D9* direct3d, const AdapterProfile& adapter, UINT adapterOrdinal,
                          D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviourFlags,
                          D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device);

    // --- IUnknown
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    // --- device, frame and swap chain (device.cpp)
    STDMETHOD(TestCooperativeLevel)() override;
    STDMETHOD_(UINT, GetAvailableTextureMem)() override;
    STDMETHOD(EvictManagedResources)() override;
    STDMETHOD(GetDirect3D)(IDirect3D9** ppD3D9) override;
    STDMETHOD(GetDeviceCaps)(D3DCAPS9* pCaps) override;
    STDMETHOD(GetDisplayMode)(UINT iSwapChain, D3DDISPLAYMODE* pMode) override;
    STDMETHOD(GetCreationParameters)(D3DDEVICE_CREATION_PARAMETERS* pParameters) override;
    STDMETHOD(SetCursorProperties)(UINT XHotSpot, UINT YHotSpot, IDirect3DSurface9* pCursorBitmap) override;
    STDMETHOD_(void, SetCursorPosition)(int X, int Y, DWORD Flags) override;
    STDMETHOD_(BOOL, ShowCursor)(BOOL bShow) override;
    STDMETHOD(CreateAdditionalSwapChain)(D3DPRESENT_PARAMETERS* pPresentationParameters,
                                         IDirect3DSwapChain9** pSwapChain) override;
    STDMETHOD(GetSwapChain)(UINT iSwapChain, IDirect3DSwapChain9** pSwapChain) override;
    STDMETHOD_(UINT, GetNumberOfSwapChains)() override;
    STDMETHOD(Reset)(D3DPRESENT_PARAMETERS* pPresentationParameters) override;
    STDMETHOD(Present)(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                       const RGNDATA* pDirtyRegion) override;
    STDMETHOD(GetBackBuffer)(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                             IDirect3DSurface9** ppBackBuffer) override;
    STDMETHOD(GetRasterStatus)(UINT iSwapChain, D3DRASTER_STATUS* pRasterStatus) override;
    STDMETHOD(SetDialogBoxMode)(BOOL bEnableDialogs) override;
    STDMETHOD_(void, SetGammaRamp)(UINT iSwapChain, DWORD Flags, const D3DGAMMARAMP* pRamp) override;
    STDMETHOD_(void, GetGammaRamp)(UINT iSwapChain, D3DGAMMARAMP* pRamp) override;
    STDMETHOD(BeginScene)() override;
    STDMETHOD(EndScene)() override;
    STDMETHOD(Clear)(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                     DWORD Stencil) override;
    STDMETHOD(GetFrontBufferData)(UINT iSwapChain, IDirect3DSurface9* pDestSurface) override;

    // --- resources, targets and copies (device_resources.cpp)
    STDMETHOD(CreateTexture)(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                             IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) override;
    STDMETHOD(CreateVolumeTexture)(UINT Width, UINT Height, UINT Depth, UINT Levels, DWORD Usage,
                                   D3DFORMAT Format, D3DPOOL Pool, IDirect3DVolumeTexture9** ppVolumeTexture,
                                   HANDLE* pSharedHandle) override;
    STDMETHOD(CreateCubeTexture)(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                 IDirect3DCubeTexture9** ppCubeTexture, HANDLE* pSharedHandle) override;
    STDMETHOD(CreateVertexBuffer)(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                  IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) override;
    STDMETHOD(CreateIndexBuffer)(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                 IDirect3DIndexBuffer9** ppIndexBuffer, HANDLE* pSharedHandle) override;
    STDMETHOD(CreateRenderTarget)(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample,
                                  DWORD MultisampleQuality, BOOL Lockable, IDirect3DSurface9** ppSurface,
                                  HANDLE* pSharedHandle) override;
    STDMETHOD(CreateDepthStencilSurface)(UINT Width, UINT Height, D3DFORMAT Format,
                                         D3DMULTISAMPLE_TYPE MultiSample, DWORD MultisampleQuality, BOOL Discard,
                                         IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) override;
    STDMETHOD(UpdateSurface)(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                             IDirect3DSurface9* pDestinationSurface, const POINT* pDestPoint) override;
    STDMETHOD(UpdateTexture)(IDirect3DBaseTexture9* pSourceTexture,
                             IDirect3DBaseTexture9* pDestinationTexture) override;
    STDMETHOD(GetRenderTargetData)(IDirect3DSurface9* pRenderTarget, IDirect3DSurface9* pDestSurface) override;
    STDMETHOD(StretchRect)(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                           IDirect3DSurface9* pDestSurface, const RECT* pDestRect,
                           D3DTEXTUREFILTERTYPE Filter) override;
    STDMETHOD(ColorFill)(IDirect3DSurface9* pSurface, const RECT* pRect, D3DCOLOR color) override;
    STDMETHOD(CreateOffscreenPlainSurface)(UINT Width, UINT Height, D3DFORMAT Format, D3DPOOL Pool,
                                           IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) override;
    STDMETHOD(SetRenderTarget)(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) override;
    STDMETHOD(GetRenderTarget)(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) override;
    STDMETHOD(SetDepthStencilSurface)(IDirect3DSurface9* pNewZStencil) override;
    STDMETHOD(GetDepthStencilSurface)(IDirect3DSurface9** ppZStencilSurface) override;
    STDMETHOD(CreateVertexDeclaration)(const D3DVERTEXELEMENT9* pVertexElements,
                                       IDirect3DVertexDeclaration9** ppDecl) override;
    STDMETHOD(CreateQuery)(D3DQUERYTYPE Type, IDirect3DQuery9** ppQuery) override;
    STDMETHOD(CreateStateBlock)(D3DSTATEBLOCKTYPE Type, IDirect3DStateBlock9** ppSB) override;
    STDMETHOD(BeginStateBlock)() override;
    STDMETHOD(EndStateBlock)(IDirect3DStateBlock9** ppSB) override;

    // --- states (device_states.cpp)
    STDMETHOD(SetTransform)(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    STDMETHOD(GetTransform)(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override;
    STDMETHOD(MultiplyTransform)(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    STDMETHOD(SetViewport)(const D3DVIEWPORT9* pViewport) override;
    STDMETHOD(GetViewport)(D3DVIEWPORT9* pViewport) override;
    STDMETHOD(SetMaterial)(const D3DMATERIAL9* pMaterial) override;
    STDMETHOD(GetMaterial)(D3DMATERIAL9* pMaterial) override;
    STDMETHOD(SetLight)(DWORD Index, const D3DLIGHT9* pLight) override;
    STDMETHOD(GetLight)(DWORD Index, D3DLIGHT9* pLight) override;
    STDMETHOD(LightEnable)(DWORD Index, BOOL Enable) override;
    STDMETHOD(GetLightEnable)(DWORD Index, BOOL* pEnable) override;
    STDMETHOD(SetClipPlane)(DWORD Index, const float* pPlane) override;
    STDMETHOD(GetClipPlane)(DWORD Index, float* pPlane) override;
    STDMETHOD(SetRenderState)(D3DRENDERSTATETYPE State, DWORD Value) override;
    STDMETHOD(GetRenderState)(D3DRENDERSTATETYPE State, DWORD* pValue) override;
    STDMETHOD(SetClipStatus)(const D3DCLIPSTATUS9* pClipStatus) override;
    STDMETHOD(GetClipStatus)(D3DCLIPSTATUS9* pClipStatus) override;
    STDMETHOD(GetTexture)(DWORD Stage, IDirect3DBaseTexture9** ppTexture) override;
    STDMETHOD(SetTexture)(DWORD Stage, IDirect3DBaseTexture9* pTexture) override;
    STDMETHOD(GetTextureStageState)(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) override;
    STDMETHOD(SetTextureStageState)(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override;
    STDMETHOD(GetSamplerState)(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) override;
    STDMETHOD(SetSamplerState)(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override;
    STDMETHOD(ValidateDevice)(DWORD* pNumPasses) override;
    STDMETHOD(SetPaletteEntries)(UINT PaletteNumber, const PALETTEENTRY* pEntries) override;
    STDMETHOD(GetPaletteEntries)(UINT PaletteNumber, PALETTEENTRY* pEntries) override;
    STDMETHOD(SetCurrentTexturePalette)(UINT PaletteNumber) override;
    STDMETHOD(GetCurrentTexturePalette)(UINT* PaletteNumber) override;
    STDMETHOD(SetScissorRect)(const RECT* pRect) override;
    STDMETHOD(GetScissorRect)(RECT* pRect) override;
    STDMETHOD(SetSoftwareVertexProcessing)(BOOL bSoftware) override;
    STDMETHOD_(BOOL, GetSoftwareVertexProcessing)() override;
    STDMETHOD(SetNPatchMode)(float nSegments) override;
    STDMETHOD_(float, GetNPatchMode)() override;
    STDMETHOD(SetVertexDeclaration)(IDirect3DVertexDeclaration9* pDecl) override;
    STDMETHOD(GetVertexDeclaration)(IDirect3DVertexDeclaration9** ppDecl) override;
    STDMETHOD(SetFVF)(DWORD FVF) override;
    STDMETHOD(GetFVF)(DWORD* pFVF) override;
    STDMETHOD(SetStreamSource)(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                               UINT Stride) override;
    STDMETHOD(GetStreamSource)(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* pOffsetInBytes,
                               UINT* pStride) override;
    STDMETHOD(SetStreamSourceFreq)(UINT StreamNumber, UINT Setting) override;
    STDMETHOD(GetStreamSourceFreq)(UINT StreamNumber, UINT* pSetting) override;
    STDMETHOD(SetIndices)(IDirect3DIndexBuffer9* pIndexData) override;
    STDMETHOD(GetIndices)(IDirect3DIndexBuffer9** ppIndexData) override;

    // --- shaders (shader_objects.cpp)
    STDMETHOD(CreateVertexShader)(const DWORD* pFunction, IDirect3DVertexShader9** ppShader) override;
    STDMETHOD(SetVertexShader)(IDirect3DVertexShader9* pShader) override;
    STDMETHOD(GetVertexShader)(IDirect3DVertexShader9** ppShader) override;
    STDMETHOD(SetVertexShaderConstantF)(UINT StartRegister, const float* pConstantData, UINT Vector4fCount) override;
    STDMETHOD(GetVertexShaderConstantF)(UINT StartRegister, float* pConstantData, UINT Vector4fCount) override;
    STDMETHOD(SetVertexShaderConstantI)(UINT StartRegister, const int* pConstantData, UINT Vector4iCount) override;
    STDMETHOD(GetVertexShaderConstantI)(UINT StartRegister, int* pConstantData, UINT Vector4iCount) override;
    STDMETHOD(SetVertexShaderConstantB)(UINT StartRegister, const BOOL* pConstantData, UINT BoolCount) override;
    STDMETHOD(GetVertexShaderConstantB)(UINT StartRegister, BOOL* pConstantData, UINT BoolCount) override;
    STDMETHOD(CreatePixelShader)(const DWORD* pFunction, IDirect3DPixelShader9** ppShader) override;
    STDMETHOD(SetPixelShader)(IDirect3DPixelShader9* pShader) override;
    STDMETHOD(GetPixelShader)(IDirect3DPixelShader9** ppShader) override;
    STDMETHOD(SetPixelShaderConstantF)(UINT StartRegister, const float* pConstantData, UINT Vector4fCount) override;
    STDMETHOD(GetPixelShaderConstantF)(UINT StartRegister, float* pConstantData, UINT Vector4fCount) override;
    STDMETHOD(SetPixelShaderConstantI)(UINT StartRegister, const int* pConstantData, UINT Vector4iCount) override;
    STDMETHOD(GetPixelShaderConstantI)(UINT StartRegister, int* pConstantData, UINT Vector4iCount) override;
    STDMETHOD(SetPixelShaderConstantB)(UINT StartRegister, const BOOL* pConstantData, UINT BoolCount) override;
    STDMETHOD(GetPixelShaderConstantB)(UINT StartRegister, BOOL* pConstantData, UINT BoolCount) override;

    // --- draws (device_draw.cpp)
    STDMETHOD(DrawPrimitive)(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override;
    STDMETHOD(DrawIndexedPrimitive)(D3DPRIMITIVETYPE PrimitiveType, INT BaseVertexIndex, UINT MinVertexIndex,
                                    UINT NumVertices, UINT startIndex, UINT primCount) override;
    STDMETHOD(DrawPrimitiveUP)(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                               const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) override;
    STDMETHOD(DrawIndexedPrimitiveUP)(D3DPRIMITIVETYPE PrimitiveType, UINT MinVertexIndex, UINT NumVertices,
                                      UINT PrimitiveCount, const void* pIndexData, D3DFORMAT IndexDataFormat,
                                      const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) override;
    STDMETHOD(ProcessVertices)(UINT SrcStartIndex, UINT DestIndex, UINT VertexCount,
                               IDirect3DVertexBuffer9* pDestBuffer, IDirect3DVertexDeclaration9* pVertexDecl,
                               DWORD Flags) override;
    STDMETHOD(DrawRectPatch)(UINT Handle, const float* pNumSegs, const D3DRECTPATCH_INFO* pRectPatchInfo) override;
    STDMETHOD(DrawTriPatch)(UINT Handle, const float* pNumSegs, const D3DTRIPATCH_INFO* pTriPatchInfo) override;
    STDMETHOD(DeletePatch)(UINT Handle) override;

    // --- for the device's own objects
    GlContext* glContext() const { return m_context.get(); }
    bool onDeviceThread() const { return std::this_thread::get_id() == m_thread; }
    std::recursive_mutex* apiMutex() { return m_multithreaded ? &m_mutex : nullptr; }
    void retainForChild() { ++m_children; }
    void releaseForChild();
    ULONG publicAddRef() { return AddRef(); }
    // A shader is going away: drop the programs made with it.
    void forgetShader(const void* shader);
    const D3DCAPS9& caps() const { return m_caps; }
    // The back buffer or the automatic depth-stencil surface of this
    // device: what only this device may draw into.
    bool ownsSwapSurface(const Surface* s) const { return s && (s == m_backBuffer || s == m_autoDepth); }
    // Format check against the adapter's answers (CheckDeviceFormat).
    bool adapterAccepts(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) const;

    // GL names being deleted: every device forgets having them bound (a
    // new object may get the same name).
    static void forgetTextureName(GLuint name);
    static void forgetBufferName(GLuint name);
    // Frames presented so far: what was drawn since the last Present.
    unsigned frameNumber() const { return m_frameNumber; }

    // --- test seams (device_test_api.h)
    void setForcedLoss(bool lost);
    void setFailNextReset() { m_failNextReset = true; }
    void setFailBufferCreation(bool fail) { m_failBufferCreation = fail; }
    void setRefusedShaderCode(bool vertex, bool pixel)
    {
        m_refuseVertexCode = vertex;
        m_refusePixelCode = pixel;
    }
    void setSkipDraws(bool skip) { m_skipDraws = skip; }
    void setFailNextLock() { m_failNextLock = true; }
    void setFailNextOffscreenSurface() { m_failNextOffscreen = true; }
    // True once after the matching switch was set.
    bool takeFailNextLock() { return m_failNextLock.exchange(false); }
    bool takeFailNextOffscreenSurface() { return m_failNextOffscreen.exchange(false); }
    size_t testProgramCount() const { return m_programs.size(); }
    const GlStateCache& testGlState() const { return m_gl; }
    unsigned long long testGlStateChanges() const { return m_glStateChanges; }
    void noteTexelsUploaded(unsigned long long texels) { m_texelsUploaded += texels; }
    unsigned long long testTexelsUploaded() const { return m_texelsUploaded; }
    void setCallLogging(bool on)
    {
        m_logCalls = on;
        m_callLog.clear();
    }
    std::vector<DeviceCall> takeCallLog() { return std::exchange(m_callLog, {}); }

private:
    Device(Direct3D9* direct3d, const AdapterProfile& adapter, UINT adapterOrdinal, D3DDEVTYPE deviceType,
           HWND focusWindow, DWORD behaviourFlags);
    ~Device();

    // device_resources.cpp: another device's back buffer or automatic depth
    // buffer, which SetRenderTarget and SetDepthStencilSurface refuse.
    bool refusedForeign(const Surface* s) const;

    // Call log: one test per call while it is off.
    void logCall(const char* name, std::initializer_list<double> args, const void* data = nullptr,
                 size_t bytes = 0, const void* indices = nullptr, size_t indexBytes = 0)
    {
        if (m_logCalls)
            appendCall(name, args, data, bytes, indices, indexBytes);
    }
    void appendCall(const char* name, std::initializer_list<double> args, const void* data, size_t bytes,
                    const void* indices, size_t indexBytes);
    static double ptrArg(const void* p) { return p ? 1.0 : 0.0; }

    // device.cpp
    HRESULT validatePresentParameters(D3DPRESENT_PARAMETERS& pp) const;
    HRESULT buildSwapChain();
    void resetStates();
    void releaseBindings();
    HRESULT presentToWindow();
    void applyWindowMode();
    void writeScreenFile();
    HWND deviceWindow() const;
    bool windowMinimised() const;

    // device_states.cpp
    void markRenderStateDirty(DWORD state);
    void updateLightSlots();

    // device_resources.cpp
    void bindFramebuffer(GLuint framebuffer, Surface* color, Surface* depth);
    bool blitSurface(Surface& source, const RECT& sourceRect, Surface& dest, const RECT& destRect, GLenum filter);
    bool cpuStretch(Surface& source, const RECT& sourceRect, Surface& dest, const RECT& destRect, bool linear);

    // device_draw.cpp
    enum DirtyBits : unsigned {
        DirtyDepth = 1u << 0,
        DirtyBlend = 1u << 1,
        DirtyStencil = 1u << 2,
        DirtyRaster = 1u << 3,
        DirtyColorMask = 1u << 4,
        DirtyScissor = 1u << 5,
        DirtyViewport = 1u << 6,
        DirtyClip = 1u << 7,
        DirtyTargets = 1u << 8,
        DirtyVertexInput = 1u << 9,
        DirtyStreams = 1u << 10,
        DirtyTextures = 1u << 11,
        DirtyAll = 0xFFFFFFFFu,
    };
    bool prepareDraw(D3DPRIMITIVETYPE type);
    bool prepareTargets();
    void applyPipelineStates();
    // One per dirty group of applyPipelineStates; all: set every GL state
    // whatever the cache says.
    void applyDepthStates(bool all);
    void applyBlendStates(bool all);
    void applyStencilStates(bool all);
    void applyRasterStates(bool all);
    void applyColorMasks(bool all);
    void applyScissor(bool all);
    void applyViewport(bool all);
    void applyClipPlaneEnables(bool all);
    // glEnable/glDisable through the cached flag.
    void setCapability(GLenum cap, bool& cached, bool want, bool all);
    bool applyVertexInput();
    bool applyTextures();
    bool applySamplers();
    bool applyProgram();
    void invalidateGlState() { m_gl.valid = false; m_dirty = DirtyAll; }
    HRESULT drawCommon(D3DPRIMITIVETYPE type, UINT count, bool indexed, INT baseVertex, UINT startVertex,
                       GLuint indexBuffer, UINT indexSize, GLintptr indexOffset);
    // Every stream the declaration reads is bound and holds vertex lastVertex.
    bool streamsHoldVertex(unsigned long long lastVertex) const;
    VertexDeclaration* fvfDeclaration(DWORD fvf);
    void noteTargetsWritten();
    void finishUpDraw();

    // shader_objects.cpp
    // The pair's program for filled triangles (offsetInputs) or for points
    // and lines, with or without the alpha test after the pixel shader.
    ShaderProgram* programFor(VertexShader* vs, PixelShader* ps, bool offsetInputs, bool alphaTest, bool tableFog);
    void uploadShaderConstants(ShaderProgram& program);
    // Table fog after a pixel shader, from the fog render states.
    // The D3DFOGMODE of the table fog applied after a pixel shader; 0 none.
    int tableFogMode() const;
    void uploadTableFog(ShaderProgram& program);

    // Identity and creation
    std::atomic<ULONG> m_refs{1};
    std::atomic<ULONG> m_children{0};
    bool m_released = false; // the application's count reached 0
    Direct3D9* m_direct3d;
    const AdapterProfile& m_adapter;
    UINT m_adapterOrdinal;
    D3DDEVTYPE m_deviceType;
    HWND m_focusWindow;
    DWORD m_behaviour;
    bool m_multithreaded;
    std::recursive_mutex m_mutex;
    std::thread::id m_thread;
    D3DCAPS9 m_caps{};
    D3DPRESENT_PARAMETERS m_pp{};
    std::unique_ptr<GlContext> m_context;
    std::unique_ptr<FixedFunctionPipeline> m_fixedFunction;

    // Swap chain and frame
    Surface* m_backBuffer = nullptr;   // the device holds one reference
    Surface* m_autoDepth = nullptr;    // likewise, when EnableAutoDepthStencil
    GLuint m_frontTexture = 0;         // the last presented image
    UINT m_frontWidth = 0, m_frontHeight = 0;
    bool m_inScene = false;
    bool m_lost = false;
    bool m_forcedLoss = false;
    bool m_failNextReset = false;
    bool m_failBufferCreation = false;
    bool m_refuseVertexCode = false;
    bool m_refusePixelCode = false;
    bool m_skipDraws = false;
    std::atomic<bool> m_failNextLock{false};
    std::atomic<bool> m_failNextOffscreen{false};
    unsigned m_frameNumber = 0;
    BOOL m_softwareVertexProcessing = FALSE;
    float m_nPatchSegments = 0.0f;

    // Direct3D state
    FixedFunctionState m_ff;  // render and stage states, transforms, material, viewport, layout
    DWORD m_samplerStates[kSamplers][kSamplerStateSlots] = {};
    D3DMATRIX m_worldMatrices[256]{}; // D3DTS_WORLDMATRIX(0..255); [0] mirrors m_ff.world
    struct LightRecord {
        D3DLIGHT9 light;
        bool enabled;
    };
    std::map<DWORD, LightRecord> m_lights;
    // The enabled ones, in index order: the slots take the first eight, so
    // a scene of many lights costs each call a look-up, not a walk of all.
    std::set<DWORD> m_enabledLights;
    float m_clipPlanes[kClipPlanes][4] = {};
    RECT m_scissor{};
    Surface* m_renderTargets[kRenderTargets] = {};
    Surface* m_depthStencil = nullptr;
    TextureStorage* m_textures[kSamplers] = {};
    struct Stream {
        VertexBuffer* buffer = nullptr;
        UINT offset = 0;
        UINT stride = 0;
        UINT frequency = 1;
    };
    Stream m_streams[kStreams];
    IndexBuffer* m_indices = nullptr;
    VertexDeclaration* m_declaration = nullptr;
    DWORD m_fvf = 0;
    std::unordered_map<DWORD, VertexDeclaration*> m_fvfDeclarations; // held references
    VertexShader* m_vertexShader = nullptr;
    PixelShader* m_pixelShader = nullptr;
    float m_vsFloat[kVertexFloatRegisters][4] = {};
    int m_vsInt[kIntRegisters][4] = {};
    BOOL m_vsBool[kBoolRegisters] = {};
    float m_psFloat[kPixelFloatRegisters][4] = {};
    int m_psInt[kIntRegisters][4] = {};
    BOOL m_psBool[kBoolRegisters] = {};

    // GL side
    unsigned m_dirty = DirtyAll;
    unsigned m_samplerDirty = 0xFFFF;
    GlStateCache m_gl;
    unsigned long long m_glStateChanges = 0;
    unsigned long long m_texelsUploaded = 0; // surface texels sent to GL
    GLuint m_drawFramebuffer = 0;
    GLuint m_readFramebuffer = 0;
    GLuint m_writeFramebuffer = 0;
    GLuint m_vertexArray = 0;
    GLuint m_samplers[kSamplers] = {};
    GLuint m_boundTextures[kSamplers] = {};
    DWORD m_enabledAttributes = 0;
    GLuint m_boundVertexBuffers[kStreams] = {};
    GLintptr m_boundVertexOffsets[kStreams] = {};
    GLsizei m_boundVertexStrides[kStreams] = {};
    GLuint m_boundIndexBuffer = 0;
    const VertexDeclaration* m_appliedDeclaration = nullptr;
    GLuint m_upVertexBuffer = 0;
    GLsizeiptr m_upVertexSize = 0;
    GLintptr m_upVertexOffset = 0;
    GLuint m_upIndexBuffer = 0;
    GLsizeiptr m_upIndexSize = 0;
    GLintptr m_upIndexOffset = 0;
    bool m_upDraw = false; // stream 0 comes from the streaming buffer
    GLintptr m_upDrawOffset = 0;
    UINT m_upDrawStride = 0;
    std::map<std::tuple<const void*, const void*, bool, bool, bool>, std::unique_ptr<ShaderProgram>> m_programs;
    ShaderProgram* m_currentProgram = nullptr;
    bool m_programDirty = true;
    bool m_loggedMixedShaders = false;

    // Test call log
    bool m_logCalls = false;
    std::vector<DeviceCall> m_callLog;

    friend class DeviceLock;
};

Device* asDevice(IDirect3DDevice9* device);

} // namespace platform::d3d9
