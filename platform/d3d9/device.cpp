#include "platform/d3d9/device.h"

#include "platform/d3d9/adapter_profiles.h"
#include "platform/d3d9/device_test_api.h"
#include "platform/d3d9/direct3d9.h"
#include "platform/win32/sdl_window.h"
#include "platform/win32/window.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace platform::d3d9 {

namespace {

// The device whose presents become the screen files: the oldest live one.
std::mutex g_firstDeviceMutex;
Device* g_firstDevice = nullptr;
// Every live device, for forgetting deleted GL names.
std::vector<Device*> g_liveDevices;

UINT samplesOf(D3DMULTISAMPLE_TYPE type, DWORD quality, const AdapterProfile& adapter)
{
    if (type == D3DMULTISAMPLE_NONE)
        return 0;
    if (type == D3DMULTISAMPLE_NONMASKABLE) {
        // Quality levels stand for the maskable counts in order.
        if (adapter.multiSampleTypes.empty() || quality >= adapter.nonMaskableQualityLevels)
            return ~0u;
        return UINT(adapter.multiSampleTypes[std::min<size_t>(quality, adapter.multiSampleTypes.size() - 1)]);
    }
    if (std::find(adapter.multiSampleTypes.begin(), adapter.multiSampleTypes.end(), type) ==
            adapter.multiSampleTypes.end() ||
        quality != 0)
        return ~0u;
    return UINT(type);
}

bool writeBmp(const std::string& path, const unsigned char* bgra, UINT width, UINT height)
{
    const UINT rowBytes = (width * 3 + 3) & ~3u;
    const UINT imageBytes = rowBytes * height;
    unsigned char header[54] = {};
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, 54 + imageBytes);
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, uint32_t(-int32_t(height))); // negative: the top row comes first
    header[26] = 1;
    header[28] = 24;
    put32(34, imageBytes);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;
    std::vector<unsigned char> row(rowBytes, 0);
    for (UINT y = 0; y < height && ok; ++y) {
        for (UINT x = 0; x < width; ++x)
            std::memcpy(&row[3 * x], bgra + (size_t(y) * width + x) * 4, 3);
        ok = std::fwrite(row.data(), 1, rowBytes, f) == rowBytes;
    }
    return std::fclose(f) == 0 && ok;
}

} // namespace

// ---------------------------------------------------------------------------
// Children and locking

void retainDeviceForChild(Device* device)
{
    device->retainForChild();
}

void releaseDeviceForChild(Device* device)
{
    device->releaseForChild();
}

IDirect3DDevice9* publicDevice(Device* device)
{
    device->publicAddRef();
    return device;
}

Device* asDevice(IDirect3DDevice9* device)
{
    return device ? dynamic_cast<Device*>(device) : nullptr;
}

DeviceLock::DeviceLock(Device* device)
    : m_mutex(device ? device->apiMutex() : nullptr)
{
    if (m_mutex)
        m_mutex->lock();
}

DeviceLock::~DeviceLock()
{
    if (m_mutex)
        m_mutex->unlock();
}

void Device::forgetTextureName(GLuint name)
{
    std::lock_guard<std::mutex> lock(g_firstDeviceMutex);
    for (Device* d : g_liveDevices) {
        for (GLuint& bound : d->m_boundTextures) {
            if (bound == name)
                bound = ~0u; // unknown: bound again on the next draw
        }
    }
}

void Device::forgetBufferName(GLuint name)
{
    std::lock_guard<std::mutex> lock(g_firstDeviceMutex);
    for (Device* d : g_liveDevices) {
        for (GLuint& bound : d->m_boundVertexBuffers) {
            if (bound == name)
                bound = ~0u;
        }
        if (d->m_boundIndexBuffer == name)
            d->m_boundIndexBuffer = ~0u;
    }
}

void Device::releaseForChild()
{
    if (--m_children == 0 && m_released)
        delete this;
}

// ---------------------------------------------------------------------------
// Creation and lifetime

Device::Device(Direct3D9* direct3d, const AdapterProfile& adapter, UINT adapterOrdinal, D3DDEVTYPE deviceType,
               HWND focusWindow, DWORD behaviourFlags)
    : m_direct3d(direct3d)
    , m_adapter(adapter)
    , m_adapterOrdinal(adapterOrdinal)
    , m_deviceType(deviceType)
    , m_focusWindow(focusWindow)
    , m_behaviour(behaviourFlags)
    , m_multithreaded((behaviourFlags & D3DCREATE_MULTITHREADED) != 0)
    , m_thread(std::this_thread::get_id())
{
    m_direct3d->AddRef();
    m_caps = deviceType == D3DDEVTYPE_REF ? adapter.referenceCaps : adapter.caps;
    m_caps.DeviceType = deviceType;
    m_caps.AdapterOrdinal = adapterOrdinal;
    m_caps.MasterAdapterOrdinal = adapterOrdinal;
    m_caps.AdapterOrdinalInGroup = 0;
    m_caps.NumberOfAdaptersInGroup = 1;
    // The application's count is 1; the device also counts itself as a child
    // until creation is over, so that a failed creation deletes it once.
    m_children = 1;
}

HRESULT Device::create(Direct3D9* direct3d, const AdapterProfile& adapter, UINT adapterOrdinal,
                       D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviourFlags,
                       D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device)
{
    *device = nullptr;
    const DWORD processing = behaviourFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                               D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING);
    if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        processing != D3DCREATE_MIXED_VERTEXPROCESSING)
        return D3DERR_INVALIDCALL;
    if ((behaviourFlags & D3DCREATE_PUREDEVICE) && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING)
        return D3DERR_INVALIDCALL;
    if ((processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING) &&
        !(adapter.caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT))
        return D3DERR_NOTAVAILABLE;

    Device* d = new Device(direct3d, adapter, adapterOrdinal, deviceType, focusWindow, behaviourFlags);
    auto fail = [d](HRESULT hr) {
        d->m_released = true;
        d->releaseForChild();
        return hr;
    };
    D3DPRESENT_PARAMETERS pp = *parameters;
    HRESULT hr = d->validatePresentParameters(pp);
    if (FAILED(hr))
        return fail(hr);
    d->m_pp = pp;
    d->m_softwareVertexProcessing = processing == D3DCREATE_SOFTWARE_VERTEXPROCESSING;

    // A window with an SDL window shows the frames; anything else is headless.
    HWND window = d->deviceWindow();
    SDL_Window* sdl = window ? platform::sdlWindow(window) : nullptr;
    if (sdl)
        d->m_context = GlContext::create(sdl);
    if (!d->m_context) {
        if (sdl)
            logLine("CreateDevice: drawing headless, the window will stay empty");
        d->m_context = GlContext::create(nullptr);
    }
    if (!d->m_context)
        return fail(D3DERR_NOTAVAILABLE);
    if (!d->m_context->makeCurrent())
        return fail(D3DERR_NOTAVAILABLE);

    glCreateFramebuffers(1, &d->m_drawFramebuffer);
    glCreateFramebuffers(1, &d->m_readFramebuffer);
    glCreateFramebuffers(1, &d->m_writeFramebuffer);
    glCreateVertexArrays(1, &d->m_vertexArray);
    glBindVertexArray(d->m_vertexArray);
    glCreateSamplers(GLsizei(kSamplers), d->m_samplers);
    for (GLuint unit = 0; unit < kSamplers; ++unit)
        glBindSampler(unit, d->m_samplers[unit]);
    // Flat shading takes the first vertex's colour, as Direct3D does.
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    // Direct3D's clockwise triangles are the front ones.
    glFrontFace(GL_CW);
    d->m_fixedFunction = std::make_unique<FixedFunctionPipeline>();
    if (!checkGlErrors("CreateDevice"))
        return fail(D3DERR_NOTAVAILABLE);

    hr = d->buildSwapChain();
    if (FAILED(hr))
        return fail(hr);
    d->applyWindowMode();
    d->resetStates();
    if (d->m_pp.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE)
        d->m_context->setSwapInterval(0);
    else
        d->m_context->setSwapInterval(1);
    *parameters = d->m_pp; // the chosen sizes and formats go back to the caller
    {
        std::lock_guard<std::mutex> lock(g_firstDeviceMutex);
        if (!g_firstDevice)
            g_firstDevice = d;
        g_liveDevices.push_back(d);
    }
    --d->m_children; // creation is over
    *device = d;
    return D3D_OK;
}

Device::~Device()
{
    {
        std::lock_guard<std::mutex> lock(g_firstDeviceMutex);
        if (g_firstDevice == this)
            g_firstDevice = nullptr;
        g_liveDevices.erase(std::remove(g_liveDevices.begin(), g_liveDevices.end(), this), g_liveDevices.end());
    }
    if (m_context && m_context->makeCurrent()) {
        m_programs.clear();
        m_fixedFunction.reset();
        GLuint framebuffers[] = {m_drawFramebuffer, m_readFramebuffer, m_writeFramebuffer};
        glDeleteFramebuffers(3, framebuffers);
        glDeleteVertexArrays(1, &m_vertexArray);
        glDeleteSamplers(GLsizei(kSamplers), m_samplers);
        if (m_frontTexture)
            glDeleteTextures(1, &m_frontTexture);
        GLuint buffers[] = {m_upVertexBuffer, m_upIndexBuffer};
        glDeleteBuffers(2, buffers);
        checkGlErrors("device release");
    }
    m_fixedFunction.reset();
    m_context.reset();
    m_direct3d->Release();
}

STDMETHODIMP Device::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DDevice9>(this, riid, ppvObject, {&IID_IDirect3DDevice9});
}

STDMETHODIMP_(ULONG) Device::AddRef()
{
    const ULONG count = ++m_refs;
    if (count == 1)
        m_released = false; // handed out again by a child's GetDevice
    return count;
}

STDMETHODIMP_(ULONG) Device::Release()
{
    const ULONG count = --m_refs;
    if (count != 0)
        return count;
    // The application is done with the device: drop everything it holds.
    // Objects the application still holds keep the device object (not its
    // bindings) alive until they go.
    ++m_children;
    {
        DeviceLock lock(this);
        m_released = true;
        releaseBindings();
        if (m_backBuffer)
            m_backBuffer->Release();
        if (m_autoDepth)
            m_autoDepth->Release();
        m_backBuffer = m_autoDepth = nullptr;
        for (auto& [fvf, declaration] : m_fvfDeclarations)
            declaration->Release();
        m_fvfDeclarations.clear();
    }
    releaseForChild();
    return 0;
}

void Device::releaseBindings()
{
    for (Surface*& s : m_renderTargets) {
        if (s)
            s->Release();
        s = nullptr;
    }
    if (m_depthStencil)
        m_depthStencil->Release();
    m_depthStencil = nullptr;
    for (TextureStorage*& t : m_textures) {
        if (t)
            t->baseInterface()->Release();
        t = nullptr;
    }
    for (Stream& s : m_streams) {
        if (s.buffer)
            s.buffer->Release();
        s = Stream{};
    }
    if (m_indices)
        m_indices->Release();
    m_indices = nullptr;
    if (m_declaration)
        m_declaration->Release();
    m_declaration = nullptr;
    m_fvf = 0;
    if (m_vertexShader)
        m_vertexShader->Release();
    if (m_pixelShader)
        m_pixelShader->Release();
    m_vertexShader = nullptr;
    m_pixelShader = nullptr;
    m_appliedDeclaration = nullptr;
    m_currentProgram = nullptr;
    m_dirty = DirtyAll;
    m_programDirty = true;
}

HWND Device::deviceWindow() const
{
    return m_pp.hDeviceWindow ? m_pp.hDeviceWindow : m_focusWindow;
}

bool Device::windowMinimised() const
{
    HWND window = deviceWindow();
    return (window && IsIconic(window)) || (m_focusWindow && IsIconic(m_focusWindow));
}

HRESULT Device::validatePresentParameters(D3DPRESENT_PARAMETERS& pp) const
{
    if (pp.SwapEffect < D3DSWAPEFFECT_DISCARD || pp.SwapEffect > D3DSWAPEFFECT_COPY)
        return D3DERR_INVALIDCALL;
    if (pp.BackBufferCount > D3DPRESENT_BACK_BUFFERS_MAX)
        return D3DERR_INVALIDCALL;
    if (pp.BackBufferCount == 0)
        pp.BackBufferCount = 1;
    if (pp.SwapEffect == D3DSWAPEFFECT_COPY && pp.BackBufferCount > 1)
        return D3DERR_INVALIDCALL;
    const HWND window = pp.hDeviceWindow ? pp.hDeviceWindow : m_focusWindow;
    if (pp.Windowed) {
        if (pp.BackBufferWidth == 0 || pp.BackBufferHeight == 0) {
            RECT client{0, 0, 0, 0};
            if (window)
                GetClientRect(window, &client);
            if (pp.BackBufferWidth == 0)
                pp.BackBufferWidth = UINT(std::max<LONG>(client.right - client.left, 1));
            if (pp.BackBufferHeight == 0)
                pp.BackBufferHeight = UINT(std::max<LONG>(client.bottom - client.top, 1));
        }
        if (pp.BackBufferFormat == D3DFMT_UNKNOWN)
            pp.BackBufferFormat = m_adapter.desktopMode.Format;
        if (pp.FullScreen_RefreshRateInHz != 0)
            return D3DERR_INVALIDCALL;
    } else {
        if (!window || pp.BackBufferWidth == 0 || pp.BackBufferHeight == 0 ||
            pp.BackBufferFormat == D3DFMT_UNKNOWN)
            return D3DERR_INVALIDCALL;
    }
    if (pp.BackBufferWidth > m_caps.MaxTextureWidth || pp.BackBufferHeight > m_caps.MaxTextureHeight)
        return D3DERR_INVALIDCALL;
    const D3DFORMAT adapterFormat =
        pp.Windowed ? m_adapter.desktopMode.Format
                    : (pp.BackBufferFormat == D3DFMT_A8R8G8B8 ? D3DFMT_X8R8G8B8 : pp.BackBufferFormat);
    if (!m_adapter.deviceType || !m_adapter.deviceType(adapterFormat, pp.BackBufferFormat, pp.Windowed))
        return D3DERR_NOTAVAILABLE;
    const FormatInfo* colour = formatInfo(pp.BackBufferFormat);
    if (!colour || !colour->renderable)
        return D3DERR_NOTAVAILABLE;
    const UINT samples = samplesOf(pp.MultiSampleType, pp.MultiSampleQuality, m_adapter);
    if (samples == ~0u)
        return D3DERR_INVALIDCALL;
    if (samples && ((pp.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) || pp.SwapEffect != D3DSWAPEFFECT_DISCARD))
        return D3DERR_INVALIDCALL;
    if (pp.EnableAutoDepthStencil) {
        const FormatInfo* depth = formatInfo(pp.AutoDepthStencilFormat);
        if (!depth || !depth->depth ||
            !adapterAccepts(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, pp.AutoDepthStencilFormat))
            return D3DERR_INVALIDCALL;
    }
    return D3D_OK;
}

bool Device::adapterAccepts(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) const
{
    return m_adapter.deviceFormat && m_adapter.deviceFormat(m_adapter.desktopMode.Format, usage, type, format);
}

HRESULT Device::buildSwapChain()
{
    const UINT samples = samplesOf(m_pp.MultiSampleType, m_pp.MultiSampleQuality, m_adapter);
    const D3DMULTISAMPLE_TYPE msType = samples ? D3DMULTISAMPLE_TYPE(samples) : D3DMULTISAMPLE_NONE;
    const bool lockable = (m_pp.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0;
    const FormatInfo& colour = *formatInfo(m_pp.BackBufferFormat);
    if (m_backBuffer) {
        m_backBuffer->recreate(m_pp.BackBufferWidth, m_pp.BackBufferHeight, m_pp.BackBufferFormat, colour, msType,
                               lockable);
    } else {
        D3DSURFACE_DESC desc{m_pp.BackBufferFormat, D3DRTYPE_SURFACE, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT,
                             msType, 0, m_pp.BackBufferWidth, m_pp.BackBufferHeight};
        m_backBuffer = new Surface(this, SurfaceRole::RenderTarget, desc, colour, lockable);
    }
    if (!m_backBuffer->ensureGl())
        return D3DERR_OUTOFVIDEOMEMORY;

    if (m_pp.EnableAutoDepthStencil) {
        const FormatInfo& depth = *formatInfo(m_pp.AutoDepthStencilFormat);
        if (m_autoDepth) {
            m_autoDepth->recreate(m_pp.BackBufferWidth, m_pp.BackBufferHeight, m_pp.AutoDepthStencilFormat, depth,
                                  msType, false);
        } else {
            D3DSURFACE_DESC desc{m_pp.AutoDepthStencilFormat, D3DRTYPE_SURFACE, D3DUSAGE_DEPTHSTENCIL,
                                 D3DPOOL_DEFAULT, msType, 0, m_pp.BackBufferWidth, m_pp.BackBufferHeight};
            m_autoDepth = new Surface(this, SurfaceRole::DepthStencil, desc, depth, false);
        }
        if (!m_autoDepth->ensureGl())
            return D3DERR_OUTOFVIDEOMEMORY;
    } else if (m_autoDepth) {
        m_autoDepth->Release();
        m_autoDepth = nullptr;
    }

    if (m_frontTexture)
        glDeleteTextures(1, &m_frontTexture);
    glCreateTextures(GL_TEXTURE_2D, 1, &m_frontTexture);
    glTextureStorage2D(m_frontTexture, 1, GL_RGBA8, GLsizei(m_pp.BackBufferWidth), GLsizei(m_pp.BackBufferHeight));
    const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    glClearTexImage(m_frontTexture, 0, GL_RGBA, GL_FLOAT, black);
    m_frontWidth = m_pp.BackBufferWidth;
    m_frontHeight = m_pp.BackBufferHeight;
    return checkGlErrors("swap chain") ? D3D_OK : D3DERR_OUTOFVIDEOMEMORY;
}

void Device::resetStates()
{
    releaseBindings();
    defaultRenderStates(m_ff.renderStates, m_pp.EnableAutoDepthStencil != FALSE);
    defaultStageStates(m_ff.stageStates);
    for (auto& s : m_samplerStates)
        defaultSamplerStates(s);
    D3DMATRIX identity{};
    identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
    for (D3DMATRIX& m : m_worldMatrices)
        m = identity;
    m_ff.world = m_ff.view = m_ff.projection = identity;
    for (D3DMATRIX& m : m_ff.texture)
        m = identity;
    m_ff.material = D3DMATERIAL9{};
    m_lights.clear();
    updateLightSlots();
    std::memset(m_clipPlanes, 0, sizeof m_clipPlanes);
    std::memset(m_ff.clipPlanes, 0, sizeof m_ff.clipPlanes);
    std::memset(m_vsFloat, 0, sizeof m_vsFloat);
    std::memset(m_vsInt, 0, sizeof m_vsInt);
    std::memset(m_vsBool, 0, sizeof m_vsBool);
    std::memset(m_psFloat, 0, sizeof m_psFloat);
    std::memset(m_psInt, 0, sizeof m_psInt);
    std::memset(m_psBool, 0, sizeof m_psBool);
    m_backBuffer->AddRef();
    m_renderTargets[0] = m_backBuffer;
    if (m_autoDepth) {
        m_autoDepth->AddRef();
        m_depthStencil = m_autoDepth;
    }
    m_ff.viewport = D3DVIEWPORT9{0, 0, m_pp.BackBufferWidth, m_pp.BackBufferHeight, 0.0f, 1.0f};
    m_scissor = RECT{0, 0, LONG(m_pp.BackBufferWidth), LONG(m_pp.BackBufferHeight)};
    m_inScene = false;
    m_samplerDirty = 0xFFFF;
    invalidateGlState();
}

// ---------------------------------------------------------------------------
// Device information

STDMETHODIMP Device::TestCooperativeLevel()
{
    DeviceLock lock(this);
    if (m_forcedLoss || windowMinimised()) {
        m_lost = true;
        return D3DERR_DEVICELOST;
    }
    return m_lost ? D3DERR_DEVICENOTRESET : D3D_OK;
}

void Device::setForcedLoss(bool lost)
{
    DeviceLock lock(this);
    m_forcedLoss = lost;
    if (lost)
        m_lost = true;
}

STDMETHODIMP_(UINT) Device::GetAvailableTextureMem()
{
    return 512u << 20; // rounded to whole megabytes, as Direct3D reports it
}

STDMETHODIMP Device::EvictManagedResources()
{
    return D3D_OK; // managed resources keep their CPU copies anyway
}

STDMETHODIMP Device::GetDirect3D(IDirect3D9** ppD3D9)
{
    if (!ppD3D9)
        return D3DERR_INVALIDCALL;
    m_direct3d->AddRef();
    *ppD3D9 = m_direct3d;
    return D3D_OK;
}

STDMETHODIMP Device::GetDeviceCaps(D3DCAPS9* pCaps)
{
    if (!pCaps)
        return D3DERR_INVALIDCALL;
    *pCaps = m_caps;
    return D3D_OK;
}

STDMETHODIMP Device::GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode)
{
    if (!pMode || iSwapChain != 0)
        return D3DERR_INVALIDCALL;
    if (m_pp.Windowed) {
        *pMode = m_adapter.desktopMode;
    } else {
        const UINT rate = m_pp.FullScreen_RefreshRateInHz ? m_pp.FullScreen_RefreshRateInHz
                                                          : m_adapter.desktopMode.RefreshRate;
        const D3DFORMAT format = m_pp.BackBufferFormat == D3DFMT_A8R8G8B8 ? D3DFMT_X8R8G8B8 : m_pp.BackBufferFormat;
        *pMode = D3DDISPLAYMODE{m_pp.BackBufferWidth, m_pp.BackBufferHeight, rate, format};
    }
    return D3D_OK;
}

STDMETHODIMP Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters)
{
    if (!pParameters)
        return D3DERR_INVALIDCALL;
    *pParameters = D3DDEVICE_CREATION_PARAMETERS{m_adapterOrdinal, m_deviceType, m_focusWindow, m_behaviour};
    return D3D_OK;
}

STDMETHODIMP Device::SetCursorProperties(UINT, UINT, IDirect3DSurface9* pCursorBitmap)
{
    return pCursorBitmap ? D3D_OK : D3DERR_INVALIDCALL; // the system cursor is used
}

STDMETHODIMP_(void) Device::SetCursorPosition(int, int, DWORD)
{
}

STDMETHODIMP_(BOOL) Device::ShowCursor(BOOL)
{
    return FALSE;
}

STDMETHODIMP Device::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS*, IDirect3DSwapChain9** pSwapChain)
{
    if (pSwapChain)
        *pSwapChain = nullptr;
    return D3DERR_NOTAVAILABLE;
}

STDMETHODIMP Device::GetSwapChain(UINT, IDirect3DSwapChain9** pSwapChain)
{
    if (pSwapChain)
        *pSwapChain = nullptr;
    return D3DERR_NOTAVAILABLE; // the implicit swap chain is reached through the device
}

STDMETHODIMP_(UINT) Device::GetNumberOfSwapChains()
{
    return 1;
}

STDMETHODIMP Device::GetRasterStatus(UINT iSwapChain, D3DRASTER_STATUS* pRasterStatus)
{
    if (!pRasterStatus || iSwapChain != 0)
        return D3DERR_INVALIDCALL;
    *pRasterStatus = D3DRASTER_STATUS{FALSE, 0};
    return D3D_OK;
}

STDMETHODIMP Device::SetDialogBoxMode(BOOL)
{
    return D3D_OK;
}

STDMETHODIMP_(void) Device::SetGammaRamp(UINT, DWORD, const D3DGAMMARAMP*)
{
}

STDMETHODIMP_(void) Device::GetGammaRamp(UINT, D3DGAMMARAMP* pRamp)
{
    if (!pRamp)
        return;
    for (int i = 0; i < 256; ++i)
        pRamp->red[i] = pRamp->green[i] = pRamp->blue[i] = WORD(i * 257);
}

// ---------------------------------------------------------------------------
// Frame

STDMETHODIMP Device::BeginScene()
{
    DeviceLock lock(this);
    if (m_inScene)
        return D3DERR_INVALIDCALL;
    m_inScene = true;
    return D3D_OK;
}

STDMETHODIMP Device::EndScene()
{
    DeviceLock lock(this);
    if (!m_inScene)
        return D3DERR_INVALIDCALL;
    m_inScene = false;
    return D3D_OK;
}

STDMETHODIMP Device::GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                                   IDirect3DSurface9** ppBackBuffer)
{
    DeviceLock lock(this);
    if (!ppBackBuffer)
        return D3DERR_INVALIDCALL;
    *ppBackBuffer = nullptr;
    // One back buffer stands for all of them; Direct3D only promises that
    // buffer 0 is the one drawn next.
    if (iSwapChain != 0 || iBackBuffer >= m_pp.BackBufferCount || Type != D3DBACKBUFFER_TYPE_MONO || !m_backBuffer)
        return D3DERR_INVALIDCALL;
    m_backBuffer->AddRef();
    *ppBackBuffer = m_backBuffer;
    return D3D_OK;
}

// A full-screen device covers its window's display. The desktop keeps its
// mode (nothing to restore should the program die); Present scales the
// frame to it. The window is also placed over the display by hand, for
// X servers without a window manager to honour the full-screen request.
void Device::applyWindowMode()
{
    SDL_Window* window = m_context->window();
    if (!window)
        return;
    const Uint32 wanted = m_pp.Windowed ? 0u : Uint32(SDL_WINDOW_FULLSCREEN_DESKTOP);
    if ((SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP) == wanted)
        return;
    SDL_Rect bounds{};
    if (!m_pp.Windowed && SDL_GetDisplayBounds(std::max(SDL_GetWindowDisplayIndex(window), 0), &bounds) == 0) {
        SDL_SetWindowBordered(window, SDL_FALSE);
        SDL_SetWindowPosition(window, bounds.x, bounds.y);
        SDL_SetWindowSize(window, bounds.w, bounds.h);
    }
    if (SDL_SetWindowFullscreen(window, wanted) != 0)
        logLine("CreateDevice: the window cannot change to %s: %s", m_pp.Windowed ? "windowed" : "full screen",
                SDL_GetError());
    if (m_pp.Windowed)
        SDL_SetWindowBordered(window, SDL_TRUE);
}

HRESULT Device::presentToWindow()
{
    SDL_Window* window = m_context->window();
    if (!window)
        return D3D_OK;
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(window, &width, &height);
    if (width <= 0 || height <= 0)
        return D3D_OK;
    glNamedFramebufferTexture(m_readFramebuffer, GL_COLOR_ATTACHMENT0, m_frontTexture, 0);
    glNamedFramebufferReadBuffer(m_readFramebuffer, GL_COLOR_ATTACHMENT0);
    const bool same = UINT(width) == m_frontWidth && UINT(height) == m_frontHeight;
    // GL's window rows run bottom-up; the back buffer's run top-down.
    glBlitNamedFramebuffer(m_readFramebuffer, 0, 0, 0, GLint(m_frontWidth), GLint(m_frontHeight), 0, height, width,
                           0, GL_COLOR_BUFFER_BIT, same ? GL_NEAREST : GL_LINEAR);
    m_context->swap();
    return D3D_OK;
}

void Device::writeScreenFile()
{
    const char* folder = std::getenv("QUILLON_SCREEN_DIR");
    if (!folder || !*folder || m_context->window())
        return;
    {
        std::lock_guard<std::mutex> lock(g_firstDeviceMutex);
        if (g_firstDevice != this)
            return;
    }
    std::vector<unsigned char> pixels(size_t(m_frontWidth) * m_frontHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTextureImage(m_frontTexture, 0, GL_BGRA, GL_UNSIGNED_BYTE, GLsizei(pixels.size()), pixels.data());
    char name[32];
    std::snprintf(name, sizeof name, "/screen%06u.bmp", m_frameNumber);
    if (!writeBmp(std::string(folder) + name, pixels.data(), m_frontWidth, m_frontHeight))
        logLine("Present: cannot write %s%s", folder, name);
}

STDMETHODIMP Device::Present(const RECT*, const RECT*, HWND, const RGNDATA*)
{
    DeviceLock lock(this);
    logCall("Present", {});
    if (m_forcedLoss || windowMinimised() || m_lost) {
        m_lost = true;
        return D3DERR_DEVICELOST;
    }
    if (!m_backBuffer || !onDeviceThread() || !m_context->makeCurrent())
        return D3DERR_INVALIDCALL;
    if (!m_backBuffer->ensureGl())
        return D3DERR_INVALIDCALL;
    // The presented image stays in the front texture (GetFrontBufferData); a
    // multisampled back buffer is resolved on the way.
    if (m_gl.scissor) {
        glDisable(GL_SCISSOR_TEST);
        m_gl.scissor = false;
    }
    glNamedFramebufferDrawBuffer(m_readFramebuffer, GL_COLOR_ATTACHMENT0);
    m_backBuffer->attachTo(m_readFramebuffer, GL_COLOR_ATTACHMENT0);
    glNamedFramebufferReadBuffer(m_readFramebuffer, GL_COLOR_ATTACHMENT0);
    glNamedFramebufferTexture(m_writeFramebuffer, GL_COLOR_ATTACHMENT0, m_frontTexture, 0);
    glNamedFramebufferDrawBuffer(m_writeFramebuffer, GL_COLOR_ATTACHMENT0);
    const GLint w = GLint(m_frontWidth), h = GLint(m_frontHeight);
    glBlitNamedFramebuffer(m_readFramebuffer, m_writeFramebuffer, 0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT,
                           GL_NEAREST);
    presentToWindow();
    writeScreenFile();
    checkGlErrors("Present");
    ++m_frameNumber;
    return D3D_OK;
}

STDMETHODIMP Device::GetFrontBufferData(UINT iSwapChain, IDirect3DSurface9* pDestSurface)
{
    DeviceLock lock(this);
    Surface* dest = asSurface(pDestSurface);
    if (iSwapChain != 0 || !dest || dest->desc().Format != D3DFMT_A8R8G8B8 || dest->locked())
        return D3DERR_INVALIDCALL;
    if (!onDeviceThread() || !m_context->makeCurrent() || !dest->ensureCpu())
        return D3DERR_INVALIDCALL;
    std::vector<unsigned char> front(size_t(m_frontWidth) * m_frontHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTextureImage(m_frontTexture, 0, GL_BGRA, GL_UNSIGNED_BYTE, GLsizei(front.size()), front.data());
    // A window's image sits where the window is on a black desktop.
    POINT origin{0, 0};
    if (m_pp.Windowed && deviceWindow())
        ClientToScreen(deviceWindow(), &origin);
    const UINT dw = dest->desc().Width, dh = dest->desc().Height;
    for (UINT y = 0; y < dh; ++y) {
        unsigned char* row = dest->memory() + size_t(y) * dest->pitch();
        for (UINT x = 0; x < dw; ++x) {
            const LONG sx = LONG(x) - origin.x, sy = LONG(y) - origin.y;
            unsigned char* p = row + 4 * x;
            if (sx >= 0 && sy >= 0 && UINT(sx) < m_frontWidth && UINT(sy) < m_frontHeight) {
                std::memcpy(p, &front[(size_t(sy) * m_frontWidth + UINT(sx)) * 4], 3);
                p[3] = 0xFF;
            } else {
                p[0] = p[1] = p[2] = 0;
                p[3] = 0xFF;
            }
        }
    }
    dest->noteCpuWritten(RECT{0, 0, LONG(dw), LONG(dh)});
    return checkGlErrors("GetFrontBufferData") ? D3D_OK : D3DERR_INVALIDCALL;
}

STDMETHODIMP Device::Reset(D3DPRESENT_PARAMETERS* pPresentationParameters)
{
    DeviceLock lock(this);
    if (!pPresentationParameters)
        return D3DERR_INVALIDCALL;
    if (m_forcedLoss || windowMinimised()) {
        m_lost = true;
        return D3DERR_DEVICELOST;
    }
    if (m_failNextReset) {
        m_failNextReset = false;
        m_lost = true;
        return D3DERR_DEVICELOST;
    }
    D3DPRESENT_PARAMETERS pp = *pPresentationParameters;
    HRESULT hr = validatePresentParameters(pp);
    if (FAILED(hr))
        return hr;
    if (!onDeviceThread() || !m_context->makeCurrent())
        return D3DERR_INVALIDCALL;
    m_pp = pp;
    // Default-pool resources and held surfaces stay valid: the back buffer
    // and depth-stencil objects are rebuilt in place.
    hr = buildSwapChain();
    if (FAILED(hr)) {
        m_lost = true;
        return hr;
    }
    applyWindowMode();
    resetStates();
    m_context->setSwapInterval(m_pp.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
    m_lost = false;
    *pPresentationParameters = m_pp;
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Test seams

void Device::appendCall(const char* name, std::initializer_list<double> args, const void* data, size_t bytes,
                        const void* indices, size_t indexBytes)
{
    DeviceCall call;
    call.name = name;
    call.args.assign(args.begin(), args.end());
    if (data && bytes)
        call.data.assign(static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + bytes);
    if (indices && indexBytes)
        call.indices.assign(static_cast<const unsigned char*>(indices),
                            static_cast<const unsigned char*>(indices) + indexBytes);
    m_callLog.push_back(std::move(call));
}

void setCallLogging(IDirect3DDevice9* device, bool on)
{
    if (Device* d = asDevice(device))
        d->setCallLogging(on);
}

std::vector<DeviceCall> takeCallLog(IDirect3DDevice9* device)
{
    Device* d = asDevice(device);
    return d ? d->takeCallLog() : std::vector<DeviceCall>{};
}

void forceDeviceLost(IDirect3DDevice9* device, bool lost)
{
    if (Device* d = asDevice(device))
        d->setForcedLoss(lost);
}

void failNextReset(IDirect3DDevice9* device)
{
    if (Device* d = asDevice(device))
        d->setFailNextReset();
}

void failBufferCreation(IDirect3DDevice9* device, bool fail)
{
    if (Device* d = asDevice(device))
        d->setFailBufferCreation(fail);
}

void refuseShaderCode(IDirect3DDevice9* device, bool vertex, bool pixel)
{
    if (Device* d = asDevice(device))
        d->setRefusedShaderCode(vertex, pixel);
}

void skipDraws(IDirect3DDevice9* device, bool skip)
{
    if (Device* d = asDevice(device))
        d->setSkipDraws(skip);
}

void failNextLockRect(IDirect3DDevice9* device)
{
    if (Device* d = asDevice(device))
        d->setFailNextLock();
}

void failNextCreateOffscreenPlainSurface(IDirect3DDevice9* device)
{
    if (Device* d = asDevice(device))
        d->setFailNextOffscreenSurface();
}

size_t cachedShaderPrograms(IDirect3DDevice9* device)
{
    Device* d = asDevice(device);
    return d ? d->testProgramCount() : 0;
}

bool deviceShowsInWindow(IDirect3DDevice9* device)
{
    Device* d = asDevice(device);
    return d && d->glContext() && d->glContext()->window() != nullptr;
}

unsigned long long glStateChangeCount(IDirect3DDevice9* device)
{
    Device* d = asDevice(device);
    return d ? d->testGlStateChanges() : 0;
}

unsigned long long uploadedTexelCount(IDirect3DDevice9* device)
{
    Device* d = asDevice(device);
    return d ? d->testTexelsUploaded() : 0;
}

} // namespace platform::d3d9
